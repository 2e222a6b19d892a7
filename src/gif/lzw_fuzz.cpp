// The optimiser's LZW encoder against the plain TLZWEncoder: the same
// bytes for any pixels, and a limit that gives up exactly past it. The input
// is a code width, a mode and pixels; in run mode the pixels come as
// (value, length) pairs, so that long runs (the run step's case) are cheap
// for the fuzzer to reach.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "gif/fast_lzw.h"
#include "gif/lzw_encoder.h"

using namespace quarvel::gif;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int code_width = 1 + data[0] % 8;
  const bool runs = (data[0] & 0x80) != 0;
  const std::uint8_t mask = std::uint8_t((1u << code_width) - 1);
  std::vector<std::uint8_t> pixels;
  if (runs) {
    for (std::size_t k = 1; k + 1 < size && pixels.size() < (1u << 22); k += 2)
      pixels.insert(pixels.end(), std::size_t(data[k + 1]) * 37 + 1, std::uint8_t(data[k] & mask));
  } else {
    for (std::size_t k = 1; k < size; ++k) pixels.push_back(std::uint8_t(data[k] & mask));
  }
  // A frame has a pixel at least; the writers never encode none.
  if (pixels.empty()) return 0;
  TStream want;
  TLZWEncoder plain;
  plain.EncodeImageData(want, code_width, 1 << code_width, pixels.data(), false, 1, int(pixels.size()));
  static TFastLZWEncoder fast;  // kept between inputs, as the optimiser keeps one per thread
  TStream got;
  fast.Encode(got, code_width, pixels.data(), pixels.size());
  if (got != want) std::abort();
  // Given up half way, the stream stays as it was and the next encoding is whole.
  TStream part{7};
  if (fast.EncodeWithin(part, code_width, pixels.data(), pixels.size(), want.size() / 2) || part != TStream{7})
    std::abort();
  got.clear();
  fast.Encode(got, code_width, pixels.data(), pixels.size());
  if (got != want) std::abort();
  return 0;
}
