#pragma once
// A second LZW encoder for the optimiser, which encodes every frame several
// ways: the code stream of TLZWEncoder (same codes, same clears, same bytes
// for non-interlaced frames) from a hash table of eight slots per code, so
// that a probe rarely goes past its first slot, and no per-pixel virtual call. Runs
// of one index, the bulk of flat pictures, extend the string a whole known
// run at a time: the codes of v, vv, vvv... are kept in a list per index.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
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
  void ClearTable();
  // Whether half the pixels, on a sample, repeat the one before them.
  static bool MostlyRuns(const std::uint8_t* pixels, std::size_t count);
  // How many of the first `max` pixels at p are `value`.
  static std::size_t RunFrom(const std::uint8_t* p, std::size_t max, std::uint8_t value);

  // (prefix x 256 + pixel) x 4096 + code; all ones: free. Run strings are not here.
  std::vector<std::uint32_t> slots_;
  // The slots taken since the last clear, the only ones a clear wipes: a
  // busy picture clears every 4,000 codes, each time of all 32,768 slots.
  std::array<std::uint16_t, 4096> taken_;
  std::size_t taken_count_ = 0;
  std::vector<std::uint8_t> codes_;  // the code stream before it is cut into sub-blocks
  // run_codes_[v * kRunCodes + n]: the code of n pixels of v, for n from 2 up
  // to run_known_[v] (1: the table holds no run of v but v itself);
  // run_pixels_: the v whose runs are there.
  // Left unset: an entry is read only after it is written, and only the
  // pages of runs met are ever touched.
  static constexpr std::size_t kRunCodes = 4096;
  std::unique_ptr<std::uint16_t[]> run_codes_;
  std::array<std::uint16_t, 256> run_known_;
  std::vector<std::uint8_t> run_pixels_;
};

}  // namespace quarvel::gif
