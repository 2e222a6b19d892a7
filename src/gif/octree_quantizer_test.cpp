// Runs of one colour fed at once against feeding every pixel on its own.
#include "gif/octree_quantizer.h"

#include <gtest/gtest.h>

#include <random>

namespace quarvel::gif {
namespace {

TEST(OctreeRuns, WholePictureGivesTheColoursOfPixelByPixel) {
  std::mt19937 rng(3);
  for (int round = 0; round < 12; ++round) {
    const int w = 1 + int(rng() % 90), h = 1 + int(rng() % 60);
    gdi::Bitmap picture(w, h, round % 3 == 0 ? gdi::PixelFormat::pf24bit : gdi::PixelFormat::pfDevice);
    // Runs of random length and colour, crossing rows, from a few hundred colours.
    gdi::Color c;
    int left = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (left-- <= 0) {
          c = gdi::Color{std::uint8_t(rng() % 13 * 19), std::uint8_t(rng() % 11 * 23), std::uint8_t(rng() % 7 * 37)};
          left = int(rng() % (round % 2 ? 200 : 4));
        }
        picture.SetPixel(x, y, c);
      }
    for (int max : {2, 16, 236, 256}) {
      TColorQuantizer runs(max), single(max);
      runs.ProcessImage(picture);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const gdi::Color p = picture.GetPixel(x, y);
          single.AddColor(p.r, p.g, p.b);
        }
      EXPECT_EQ(runs.LeafCount(), single.LeafCount()) << round << " " << max;
      EXPECT_EQ(runs.Colors(), single.Colors()) << round << " " << max;
    }
  }
}

}  // namespace
}  // namespace quarvel::gif
