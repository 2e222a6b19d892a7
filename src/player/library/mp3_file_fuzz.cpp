// libFuzzer entry for the MP3 files scripts load (loadSound, Sound.load):
// any bytes read as the player reads such a file, its ID3 tags for
// Sound.id3 first, then its frames as a DefineSound body. The movie targets
// load no files, so only this one reaches these readers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "player/library/id3_tags.h"
#include "player/library/mp3_sound.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarvel::player;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const Id3Tags tags = ReadId3(file);
  // Scripts read the frames by their four-letter names.
  for (const Id3Frame& f : tags.frames)
    if (f.id.size() != 4) __builtin_trap();
  int rate = 0;
  (void)Mp3AsDefineSound(1, file, &rate);
  return 0;
}
