// Fuzz entry: any bytes as a WAVE file for the AVIFile reader, and as a
// bitmap format for the compressor side.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "platform/vfw/ffmpeg_p.h"
#include "platform/vfw/vfw.h"

using namespace quarvel::vfw;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/quarvel-wave-fuzz-" + std::to_string(::getpid()) + ".wav";
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
  PAVIFILE file = nullptr;
  if (AVIFileOpen(&file, path, OF_READ, nullptr) == AVIERR_OK) {
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeAUDIO, 0) == AVIERR_OK) {
      AVISTREAMINFO info;
      AVIStreamInfo(stream, &info, sizeof info);
      LONG format_size = 0;
      AVIStreamReadFormat(stream, 0, nullptr, &format_size);
      std::vector<std::uint8_t> format(static_cast<std::size_t>(format_size));
      AVIStreamReadFormat(stream, 0, format.data(), &format_size);
      std::vector<std::uint8_t> buffer(4096);
      LONG length = AVIStreamLength(stream);
      for (LONG at = 0, got = 1; at < length && got > 0; at += got) {
        LONG bytes = 0;
        got = 0;
        if (AVIStreamRead(stream, at, 64, buffer.data(), LONG(buffer.size()), &bytes, &got) != AVIERR_OK) break;
      }
      AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
  }
  detail::ParseDibFormat({data, size});
  detail::WaveCodecOf({data, size});
  return 0;
}
