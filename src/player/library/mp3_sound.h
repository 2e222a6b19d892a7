#pragma once
// MP3 files that scripts load (ActionScript 2 loadSound, ActionScript 3
// Sound.load) become event sounds: the body of a DefineSound tag, which the
// sound output plays as it plays a movie's own.

#include <cstdint>
#include <string_view>
#include <vector>

namespace quarvel::player {

// The DefineSound body (id first) holding the file's MPEG audio frames.
// Empty when the file has no frames, or a sample rate no Flash sound has
// (11025, 22050 or 44100 Hz); `rate` then says which rate it had.
std::vector<std::uint8_t> Mp3AsDefineSound(std::uint16_t id, std::string_view file, int* rate = nullptr);

}  // namespace quarvel::player
