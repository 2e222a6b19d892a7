#include "gif/lzw_decoder.h"

#include <array>
#include <cstring>

#include "gif/gif_exception.h"

namespace quarvel::gif {

namespace {

[[noreturn]] void Bad() { throw GIFException(sBadImageData); }

}  // namespace

std::vector<std::uint8_t> DecodeImageData(std::span<const std::uint8_t> data, std::size_t pixels) {
  if (data.empty()) Bad();
  const int min_bits = data[0];
  if (min_bits < 2 || min_bits > 8) Bad();
  // The sub-blocks joined: the codes cross their borders.
  std::vector<std::uint8_t> codes;
  codes.reserve(data.size());
  std::size_t at = 1;
  for (;;) {
    if (at >= data.size()) Bad();
    const std::size_t n = data[at++];
    if (n == 0) break;
    if (at + n > data.size()) Bad();
    codes.insert(codes.end(), data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + n));
    at += n;
  }

  // Each code's string stands in the output already: where it was first
  // written (the string before it and the next one's first byte, side by
  // side), and its length. A code is then a copy of earlier output.
  constexpr int kCodes = 4096;
  std::array<std::size_t, kCodes> offset{};
  std::array<std::uint32_t, kCodes> length{};
  const int clear = 1 << min_bits, end = clear + 1;
  std::vector<std::uint8_t> out(pixels);
  std::uint8_t* const o = out.data();
  std::size_t written = 0, previous_at = 0;
  std::uint32_t previous_length = 0;  // 0: no string before (after a clear)
  int bits = min_bits + 1, next = clear + 2;
  std::uint32_t buffer = 0;
  int held = 0;
  std::size_t read = 0;
  for (;;) {
    while (held < bits) {
      if (read >= codes.size()) Bad();
      buffer |= std::uint32_t(codes[read++]) << held;
      held += 8;
    }
    const int code = int(buffer & ((1u << bits) - 1));
    buffer >>= bits;
    held -= bits;
    if (code == clear) {
      bits = min_bits + 1;
      next = clear + 2;
      previous_length = 0;
      continue;
    }
    if (code == end) break;
    std::uint32_t n = 1;
    if (code < clear) {
      if (written >= pixels) Bad();
      o[written] = std::uint8_t(code);
    } else {
      if (previous_length == 0 || code > next || code == end || (code == next && next >= kCodes)) Bad();
      // A code one past the table is the string before and its own first byte.
      const std::size_t from = code == next ? previous_at : offset[std::size_t(code)];
      n = code == next ? previous_length + 1 : length[std::size_t(code)];
      if (written + n > pixels) Bad();
      if (from + n <= written) {
        std::memcpy(o + written, o + from, n);
      } else {
        for (std::uint32_t k = 0; k < n; ++k) o[written + k] = o[from + k];
      }
    }
    if (previous_length > 0 && next < kCodes) {
      offset[std::size_t(next)] = previous_at;
      length[std::size_t(next)] = previous_length + 1;
      ++next;
      if (next == (1 << bits) && bits < 12) ++bits;
    }
    previous_at = written;
    previous_length = n;
    written += n;
  }
  if (written != pixels) Bad();
  return out;
}

}  // namespace quarvel::gif
