#pragma once
// A second LZW encoder for the optimiser, which encodes every frame several
// ways: the code stream of TLZWEncoder (same codes, same clears, same bytes
// for non-interlaced frames) from a direct-indexed string table instead of
// the hashed one, so that a lookup is one load.

#include <cstdint>
#include <vector>

#include "gif/lzw_encoder.h"

namespace quarvel::gif {

class TFastLZWEncoder {
 public:
  TFastLZWEncoder();
  // Appends the image data of `count` indices, each below 2^code_width:
  // minimum code size, sub-blocks, terminator.
  void Encode(TStream& stream, int code_width, const std::uint8_t* pixels, std::size_t count);

 private:
  std::vector<std::uint16_t> next_;  // prefix code x 256 + pixel -> code; 0: none
  std::vector<std::uint32_t> used_;  // the slots filled since the last clear
};

}  // namespace quarvel::gif
