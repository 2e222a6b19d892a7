// The fast encoder against the plain TLZWEncoder: the same bytes.
#include "gif/fast_lzw.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

// The pixels giflib reads back from the image data `data` of a one-frame
// GIF of `width` x `height` with a global table of 2^code_width entries.
std::vector<std::uint8_t> GiflibDecode(const TStream& data, int code_width, int width, int height) {
  TStream file{'G', 'I', 'F', '8', '9', 'a', std::uint8_t(width), std::uint8_t(width >> 8), std::uint8_t(height),
               std::uint8_t(height >> 8), std::uint8_t(0x80 | (code_width - 1)), 0, 0};
  file.resize(file.size() + 3 * (std::size_t(1) << code_width), 0);
  file.insert(file.end(), {0x2C, 0, 0, 0, 0, std::uint8_t(width), std::uint8_t(width >> 8), std::uint8_t(height),
                           std::uint8_t(height >> 8), 0});
  file.insert(file.end(), data.begin(), data.end());
  file.push_back(0x3B);
  struct Source {
    const TStream* bytes;
    std::size_t at = 0;
  } source{&file};
  const auto read = [](GifFileType* gif, GifByteType* out, int n) {
    auto* src = static_cast<Source*>(gif->UserData);
    const std::size_t take = std::min(std::size_t(n), src->bytes->size() - src->at);
    std::memcpy(out, src->bytes->data() + src->at, take);
    src->at += take;
    return int(take);
  };
  int error = 0;
  GifFileType* gif = DGifOpen(&source, read, &error);
  if (gif == nullptr) return {};
  std::vector<std::uint8_t> pixels;
  if (DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1)
    pixels.assign(gif->SavedImages[0].RasterBits, gif->SavedImages[0].RasterBits + std::size_t(width) * height);
  DGifCloseFile(gif, &error);
  return pixels;
}

// giflib, the decoder most programs use, reads back every picture: the
// narrowest and widest codes, a table filled and cleared many times, clears
// that fall on the pixel a run ends with, and runs far past the longest
// string the table holds.
TEST(FastLZW, GiflibReadsBackTheAwkwardCases) {
  std::mt19937 rng(31);
  TFastLZWEncoder fast;
  struct Case {
    const char* name;
    int code_width, width, height;
    std::vector<std::uint8_t> pixels;
  };
  std::vector<Case> cases;
  const auto add = [&](const char* name, int code_width, int width, int height, auto pixel) {
    Case c{name, code_width, width, height, std::vector<std::uint8_t>(std::size_t(width) * height)};
    for (std::size_t i = 0; i < c.pixels.size(); ++i) c.pixels[i] = std::uint8_t(pixel(i));
    cases.push_back(std::move(c));
  };
  add("one pixel of a two-entry table", 1, 1, 1, [](std::size_t) { return 1; });
  add("1-bit noise", 1, 600, 500, [&](std::size_t) { return rng() & 1; });
  add("8-bit noise, the table full every few thousand pixels", 8, 700, 600, [&](std::size_t) { return rng() & 0xFF; });
  add("one value", 8, 1000, 900, [](std::size_t) { return 200; });
  add("long runs of 4-bit values", 4, 997, 601, [&](std::size_t i) { return (i / (1 + i % 5000)) & 15; });
  add("runs that cross clears", 8, 640, 480, [&](std::size_t i) { return (i / 4093) % 3 == 0 ? 9 : int(rng() & 0xFF); });
  add("a ramp of every value", 8, 256, 300, [](std::size_t i) { return i % 256; });
  for (const Case& c : cases) {
    TStream data;
    fast.Encode(data, c.code_width, c.pixels.data(), c.pixels.size());
    EXPECT_EQ(data[0], std::max(c.code_width, 2)) << c.name;
    EXPECT_EQ(GiflibDecode(data, c.code_width, c.width, c.height), c.pixels) << c.name;
  }
}

}  // namespace
}  // namespace quarvel::gif
