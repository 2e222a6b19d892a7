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

  // Each code's string: the code before it, its last byte, its first byte, its length.
  constexpr int kCodes = 4096;
  std::array<std::uint16_t, kCodes> prefix{};
  std::array<std::uint8_t, kCodes> last{}, first{};
  std::array<std::uint16_t, kCodes> length{};
  const int clear = 1 << min_bits, end = clear + 1;
  for (int c = 0; c < clear; ++c) {
    last[std::size_t(c)] = first[std::size_t(c)] = std::uint8_t(c);
    length[std::size_t(c)] = 1;
  }
  std::vector<std::uint8_t> out(pixels);
  std::size_t written = 0;
  int bits = min_bits + 1, next = clear + 2, previous = -1;
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
      previous = -1;
      continue;
    }
    if (code == end) break;
    int emit = code;
    if (previous >= 0) {
      // A code one past the table is the previous string and its own first byte.
      if (code > next || (code == next && next >= kCodes)) Bad();
      if (next < kCodes) {
        prefix[std::size_t(next)] = std::uint16_t(previous);
        first[std::size_t(next)] = first[std::size_t(previous)];
        last[std::size_t(next)] = first[std::size_t(code == next ? previous : code)];
        length[std::size_t(next)] = std::uint16_t(length[std::size_t(previous)] + 1);
        ++next;
        if (next == (1 << bits) && bits < 12) ++bits;
      }
    } else if (code >= clear) {
      Bad();
    }
    // Written from its end back: each code knows the one before it.
    const std::size_t n = length[std::size_t(emit)];
    if (written + n > pixels) Bad();
    std::uint8_t* p = out.data() + written + n;
    for (int c = emit; c >= clear; c = prefix[std::size_t(c)]) *--p = last[std::size_t(c)];
    *--p = std::uint8_t(emit >= clear ? first[std::size_t(emit)] : emit);
    written += n;
    previous = code;
  }
  if (written != pixels) Bad();
  return out;
}

}  // namespace quarvel::gif
