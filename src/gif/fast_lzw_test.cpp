// The fast encoder against the plain TLZWEncoder: the same bytes.
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

TEST(FastLZW, SameBytesAsThePlainEncoder) {
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

// Flat pictures take the step that extends a string by a whole known run.
// Its lists of run codes must follow the table through clears, long runs,
// runs broken by other pixels, and an encoding given up part way.
TEST(FastLZW, RunsGiveTheSameBytesThroughClearsAndLimits) {
  std::mt19937 rng(23);
  TFastLZWEncoder fast;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> pixels;
  };
  std::vector<Case> cases;
  {
    // Short and long runs of many values: thousands of codes, several clears.
    std::vector<std::uint8_t> p;
    while (p.size() < 600000) p.insert(p.end(), 1 + rng() % (rng() % 8 == 0 ? 3000 : 40), std::uint8_t(rng()));
    cases.push_back({"runs", p});
  }
  {
    // A still background with a noisy stripe in every row: runs of one value
    // that reach past the longest run in the table, again and again.
    std::vector<std::uint8_t> p(550 * 400, 7);
    for (int y = 0; y < 400; ++y)
      for (int x = 200; x < 230; ++x) p[std::size_t(y) * 550 + x] = std::uint8_t(rng());
    cases.push_back({"background", p});
  }
  {
    // Half noise, half runs: whichever loop the sample picks meets both.
    std::vector<std::uint8_t> p;
    for (int block = 0; block < 40; ++block)
      for (int k = 0; k < 5000; ++k) p.push_back(block % 2 ? std::uint8_t(rng()) : std::uint8_t(k / 700));
    cases.push_back({"mixed", p});
  }
  for (const Case& c : cases) {
    TStream got;
    fast.Encode(got, 8, c.pixels.data(), c.pixels.size());
    const TStream want = Reference(8, c.pixels);
    ASSERT_EQ(got, want) << c.name;
    // Given up half way, then encoded whole: nothing of the first attempt stays behind.
    TStream part;
    EXPECT_FALSE(fast.EncodeWithin(part, 8, c.pixels.data(), c.pixels.size(), want.size() / 2)) << c.name;
    TStream again;
    fast.Encode(again, 8, c.pixels.data(), c.pixels.size());
    EXPECT_EQ(again, want) << c.name;
  }
}

}  // namespace
}  // namespace quarvel::gif
