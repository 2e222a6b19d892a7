// The shared palette: exact for movies of few colours, posterized for noisy ones.
#include "gif/quant_palette.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace quarvel::gif {
namespace {

std::uint32_t Rgb(gdi::Color c) { return (std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) | c.b; }

TEST(QuantPalette, FewColoursStayExactNoisyPicturesArePosterized) {
  // 40 colours with odd channels: posterizing would change every one.
  gdi::Bitmap flat(64, 48, gdi::PixelFormat::pf32bit);
  std::set<std::uint32_t> used;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const int k = (x / 8 + y / 6 * 8) % 40;
      const gdi::Color c{std::uint8_t(2 * k + 1), std::uint8_t(255 - 4 * k), std::uint8_t(6 * k + 3)};
      flat.SetPixel(x, y, c);
      used.insert(Rgb(c));
    }
  for (bool dither : {false, true}) {
    QuantPalette exact(dither);
    exact.AddToHistogram(flat);
    exact.Finish();
    std::set<std::uint32_t> palette;
    for (gdi::Color c : exact.SharedPalette()) palette.insert(Rgb(c));
    for (std::uint32_t c : used) EXPECT_TRUE(palette.count(c)) << std::hex << c;
    const auto reduced = exact.Reduce(flat);
    const TGIFSubImage& frame = reduced->Images()[0];
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x)
        ASSERT_EQ(Rgb(frame.ActiveColorMap()[frame.Pixel(x, y)]), Rgb(flat.GetPixel(x, y))) << x << "," << y;
  }

  // Colour noise: no palette of 256 comes close, so the lowest bits go.
  gdi::Bitmap noise(64, 48, gdi::PixelFormat::pf32bit);
  std::mt19937 rng(3);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) noise.SetPixel(x, y, gdi::Color{std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())});
  QuantPalette posterized(false);
  posterized.AddToHistogram(noise);
  posterized.Finish();
  ASSERT_FALSE(posterized.SharedPalette().empty());
  for (gdi::Color c : posterized.SharedPalette())
    for (std::uint8_t v : {c.r, c.g, c.b}) EXPECT_EQ(v & 1, v >> 7) << std::hex << Rgb(c);
  // Without dithering every pixel shows its nearest shared colour.
  const auto reduced = posterized.Reduce(noise);
  const TGIFSubImage& frame = reduced->Images()[0];
  ASSERT_EQ(frame.Width(), 64);
  auto distance = [](gdi::Color a, gdi::Color b) {
    return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
  };
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const gdi::Color want = noise.GetPixel(x, y);
      int best = 1 << 30;
      for (gdi::Color c : posterized.SharedPalette()) best = std::min(best, distance(c, want));
      ASSERT_EQ(distance(frame.ActiveColorMap()[frame.Pixel(x, y)], want), best) << x << "," << y;
    }
}

}  // namespace
}  // namespace quarvel::gif
