// Feeds arbitrary bytes to the WAVE reader: it must either describe the file
// or throw WaveError, never read outside the buffer.

#include <cstddef>
#include <cstdint>

#include "platform/audio/wave_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const quarvel::audio::WaveInfo info = quarvel::audio::ParseWave({data, size});
    if (info.data_offset + info.data_size > size && info.data_size != 0) __builtin_trap();
  } catch (const quarvel::audio::WaveError&) {
  }
  return 0;
}
