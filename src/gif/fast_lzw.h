#pragma once
// A second LZW encoder for the optimiser, which encodes every frame several
// ways: the code stream of TLZWEncoder (same codes, same clears, same bytes
// for non-interlaced frames) from a string table small enough to stay in the
// first-level cache, probed linearly, and no per-pixel virtual call.

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
  // Encode, given up as soon as the codes take `limit` bytes or more (the
  // sub-block lengths and the terminator not counted): false then, and the
  // stream is left as it was.
  bool EncodeWithin(TStream& stream, int code_width, const std::uint8_t* pixels, std::size_t count,
                    std::size_t limit);

 private:
  // (prefix x 256 + pixel) x 4096 + code; all ones: free.
  std::vector<std::uint32_t> slots_;
  std::vector<std::uint8_t> codes_;  // the code stream before it is cut into sub-blocks
};

}  // namespace quarvel::gif
