// The fast encoder against the encoder of the design: the same bytes.
#include "gif/fast_lzw.h"

#include <gtest/gtest.h>

#include <random>

namespace quarvel::gif {
namespace {

TStream Reference(int code_width, const std::vector<std::uint8_t>& pixels) {
  TStream s;
  TLZWEncoder encoder;
  encoder.EncodeImageData(s, code_width, 1 << code_width, pixels.data(), false, 1, int(pixels.size()));
  return s;
}

TEST(FastLZW, SameBytesAsTheDesignEncoder) {
  std::mt19937 rng(7);
  TFastLZWEncoder fast;  // reused: every call must start from an empty table
  for (int code_width = 1; code_width <= 8; ++code_width) {
    const int colours = 1 << code_width;
    // Noise (table clears come quickly), runs, a repeating pattern, one pixel.
    for (int shape = 0; shape < 4; ++shape) {
      std::vector<std::uint8_t> pixels(shape == 3 ? 1 : 70000);
      int run = 0, value = 0;
      for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (shape == 0) value = int(rng() % unsigned(colours));
        if (shape == 1 && run-- <= 0) {
          value = int(rng() % unsigned(colours));
          run = int(rng() % 300);
        }
        if (shape == 2) value = int((i * 7 + i / 97) % unsigned(colours));
        pixels[i] = std::uint8_t(value);
      }
      TStream got;
      fast.Encode(got, code_width, pixels.data(), pixels.size());
      ASSERT_EQ(got, Reference(code_width, pixels)) << "width " << code_width << " shape " << shape;
    }
  }
}

TEST(FastLZW, EncodingWithinALimitGivesUpOnlyPastIt) {
  std::mt19937 rng(11);
  std::vector<std::uint8_t> pixels(20000);
  for (auto& p : pixels) p = std::uint8_t(rng() % 16);
  TFastLZWEncoder fast;
  TStream whole;
  fast.Encode(whole, 4, pixels.data(), pixels.size());
  // The codes: the stream less its minimum code size, sub-block lengths and terminator.
  const std::size_t codes = whole.size() - 2 - (whole.size() - 2 + 255) / 256;
  const TStream head{1, 2, 3};
  for (std::size_t limit : {std::size_t(1), codes / 2, codes}) {
    TStream s = head;
    EXPECT_FALSE(fast.EncodeWithin(s, 4, pixels.data(), pixels.size(), limit)) << limit;
    EXPECT_EQ(s, head) << "the stream is left as it was";
  }
  TStream s = head;
  ASSERT_TRUE(fast.EncodeWithin(s, 4, pixels.data(), pixels.size(), codes + 1));
  EXPECT_EQ(TStream(s.begin() + 3, s.end()), whole);
  // A limit given up on leaves no codes behind in the table.
  TStream again;
  fast.Encode(again, 4, pixels.data(), pixels.size());
  EXPECT_EQ(again, whole);
}

}  // namespace
}  // namespace quarvel::gif
