// The pixel engine of script bitmaps against Flash's documented results.
#include "player/render/bitmap_data.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace quarvel::player {
namespace {

std::shared_ptr<BitmapData> Make(int w, int h, bool transparent, std::uint32_t fill) {
  auto b = BitmapData::Make(w, h, transparent, fill);
  EXPECT_TRUE(b);
  return b;
}

TEST(BitmapData, SizesOutOfRangeAreRefused) {
  EXPECT_FALSE(BitmapData::Make(0, 10, true, 0));
  EXPECT_FALSE(BitmapData::Make(10, -1, true, 0));
  EXPECT_FALSE(BitmapData::Make(8192, 1, true, 0));
  EXPECT_FALSE(BitmapData::Make(4096, 4097, true, 0));
  EXPECT_TRUE(BitmapData::Make(2880, 2880, false, 0));
}

// Flash stores premultiplied pixels and reads them back through a
// reciprocal of the alpha, not always to the nearest value.
TEST(BitmapData, PremultipliedPixelsReadBackAsFlashRoundsThem) {
  auto b = Make(2, 1, true, 0xAABBCCDD);
  EXPECT_EQ(b->GetPixel32(0, 0), 0xAABBCCDCu);
  b->SetPixel32(1, 0, 0x12345678);
  EXPECT_EQ(b->GetPixel32(1, 0), 0x12395571u);
  // Grey levels as Flash Player read them back (alpha, written, read):
  // the first, 176.54, and the last, 32.5, go down.
  struct Case { std::uint32_t alpha, written, read; };
  for (const Case& c : {Case{26, 172, 176}, Case{37, 156, 158}, Case{99, 51, 51}, Case{200, 39, 39},
                        Case{251, 33, 32}, Case{1, 128, 255}, Case{2, 64, 127}}) {
    b->SetPixel32(0, 0, c.alpha << 24 | c.written * 0x010101u);
    EXPECT_EQ(b->GetPixel32(0, 0), c.alpha << 24 | c.read * 0x010101u) << "alpha " << c.alpha << ", grey " << c.written;
  }
}

TEST(BitmapData, PixelsKeepStraightColoursThroughPremultiplying) {
  auto b = Make(4, 4, true, 0x00000000);
  b->SetPixel32(1, 1, 0x80FF8040);
  EXPECT_EQ(b->GetPixel32(1, 1), 0x80FF7F40u);  // 127.5 goes down
  // Fully transparent pixels lose their colour.
  b->SetPixel32(2, 2, 0x00FF0000);
  EXPECT_EQ(b->GetPixel32(2, 2), 0u);
  EXPECT_EQ(b->GetPixel32(-1, 0), 0u);
  EXPECT_EQ(b->GetPixel32(4, 0), 0u);
  // An opaque bitmap ignores alpha.
  auto o = Make(2, 2, false, 0x00123456);
  EXPECT_EQ(o->GetPixel32(0, 0), 0xFF123456u);
  o->SetPixel32(1, 1, 0x10ABCDEF);
  EXPECT_EQ(o->GetPixel32(1, 1), 0xFFABCDEFu);
}

TEST(BitmapData, FillRectClipsToTheBitmap) {
  auto b = Make(10, 10, true, 0xFFFFFFFF);
  b->FillRect({-5, 8, 8, 10}, 0xFF00FF00);
  EXPECT_EQ(b->GetPixel32(0, 9), 0xFF00FF00u);
  EXPECT_EQ(b->GetPixel32(2, 8), 0xFF00FF00u);
  EXPECT_EQ(b->GetPixel32(3, 8), 0xFFFFFFFFu);
  EXPECT_EQ(b->GetPixel32(0, 7), 0xFFFFFFFFu);
}

TEST(BitmapData, CopyPixelsReplacesMergesAndTakesAlphaFromAnotherBitmap) {
  auto src = Make(4, 4, true, 0x80FF0000);
  auto dst = Make(4, 4, true, 0xFF0000FF);
  dst->CopyPixels(*src, {0, 0, 2, 2}, 1, 1, nullptr, 0, 0, false);
  EXPECT_EQ(dst->GetPixel32(1, 1), 0x80FF0000u);
  EXPECT_EQ(dst->GetPixel32(0, 0), 0xFF0000FFu);
  EXPECT_EQ(dst->GetPixel32(3, 3), 0xFF0000FFu);
  // Merged: half red over blue.
  auto merged = Make(4, 4, true, 0xFF0000FF);
  merged->CopyPixels(*src, {0, 0, 4, 4}, 0, 0, nullptr, 0, 0, true);
  const std::uint32_t m = merged->GetPixel32(0, 0);
  EXPECT_EQ(m >> 24, 255u);
  EXPECT_NEAR(static_cast<int>((m >> 16) & 255), 128, 1);
  EXPECT_NEAR(static_cast<int>(m & 255), 127, 1);
  // The alpha bitmap's alpha multiplies the source's.
  auto alpha = Make(4, 4, true, 0x00000000);
  alpha->FillRect({2, 0, 2, 4}, 0xFF000000);
  auto masked = Make(4, 4, true, 0x00000000);
  auto opaque = Make(4, 4, true, 0xFF00FF00);
  masked->CopyPixels(*opaque, {0, 0, 2, 2}, 0, 0, alpha.get(), 1, 0, false);
  EXPECT_EQ(masked->GetPixel32(0, 0), 0u);            // alpha pixel (1, 0): clear
  EXPECT_EQ(masked->GetPixel32(1, 0), 0xFF00FF00u);   // alpha pixel (2, 0): solid
  // A source rectangle reaching outside the source moves with it.
  auto shifted = Make(4, 4, true, 0);
  shifted->CopyPixels(*opaque, {-1, -1, 2, 2}, 0, 0, nullptr, 0, 0, false);
  EXPECT_EQ(shifted->GetPixel32(0, 0), 0u);
  EXPECT_EQ(shifted->GetPixel32(1, 1), 0xFF00FF00u);
}

TEST(BitmapData, CopyPixelsIntoAnOpaqueTargetShowsTheSourceOverBlack) {
  // 0xF0 alpha: 0x0E premultiplies to 0x0D, which the opaque target keeps
  // whether or not it merges (its own black shows through nothing).
  auto src = Make(1, 1, true, 0xF00E0E0E);
  ASSERT_EQ(src->GetPixel32(0, 0), 0xF00E0E0Eu);
  for (bool merge : {false, true}) {
    auto dst = Make(1, 1, false, 0);
    dst->CopyPixels(*src, {0, 0, 1, 1}, 0, 0, nullptr, 0, 0, merge);
    EXPECT_EQ(dst->GetPixel32(0, 0), 0xFF0D0D0Du) << merge;
  }
  // Half-transparent red over opaque white, merged: pink; replaced: dark red.
  auto half = Make(1, 1, true, 0x80FF0000);
  auto white = Make(1, 1, false, 0xFFFFFF);
  white->CopyPixels(*half, {0, 0, 1, 1}, 0, 0, nullptr, 0, 0, true);
  EXPECT_EQ(white->GetPixel32(0, 0), 0xFFFF7F7Fu);
  auto replaced = Make(1, 1, false, 0xFFFFFF);
  replaced->CopyPixels(*half, {0, 0, 1, 1}, 0, 0, nullptr, 0, 0, false);
  EXPECT_EQ(replaced->GetPixel32(0, 0), 0xFF800000u);
}

TEST(BitmapData, ScrollWithinTheBitmapKeepsUncoveredPixels) {
  auto b = Make(3, 1, false, 0);
  b->SetPixel32(0, 0, 0xFF0000);
  b->SetPixel32(1, 0, 0x00FF00);
  b->SetPixel32(2, 0, 0x0000FF);
  b->Scroll(1, 0);
  EXPECT_EQ(b->GetPixel32(0, 0), 0xFFFF0000u);  // nothing moved onto it
  EXPECT_EQ(b->GetPixel32(1, 0), 0xFFFF0000u);
  EXPECT_EQ(b->GetPixel32(2, 0), 0xFF00FF00u);
}

TEST(BitmapData, ThresholdCountsAndCopiesTheRest) {
  auto src = Make(4, 1, false, 0);
  for (int x = 0; x < 4; ++x) src->SetPixel32(x, 0, static_cast<std::uint32_t>(x * 0x40));
  auto dst = Make(4, 1, true, 0);
  const int n = dst->Threshold(*src, src->Bounds(), 0, 0, ">=", 0x80, 0xFFFF0000, 0xFF, true);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(dst->GetPixel32(0, 0), 0xFF000000u);
  EXPECT_EQ(dst->GetPixel32(1, 0), 0xFF000040u);
  EXPECT_EQ(dst->GetPixel32(2, 0), 0xFFFF0000u);
  EXPECT_EQ(dst->GetPixel32(3, 0), 0xFFFF0000u);
  // An operation Flash does not know compares as "<".
  EXPECT_EQ(dst->Threshold(*src, src->Bounds(), 0, 0, "~", 0x80, 0xFF0000FF, 0xFF, false), 2);
  EXPECT_EQ(dst->GetPixel32(1, 0), 0xFF0000FFu);
  EXPECT_EQ(dst->GetPixel32(2, 0), 0xFFFF0000u);
}

// An opaque bitmap's colour bounds compare its colour channels only, with
// the colour taken whole (unmasked); a transparent one masks both sides.
TEST(BitmapData, ColourBoundsOfAnOpaqueBitmapIgnoreAlphaAndMaskOnlyThePixel) {
  auto opaque = Make(3, 3, false, 0xAABBCCDD);
  EXPECT_TRUE(opaque->ColorBounds(0, 0xFF0000, true).Empty());  // 0 is not 0xFF0000
  EXPECT_EQ(opaque->ColorBounds(0, 0xFF0000, false).width, 3);
  EXPECT_EQ(opaque->ColorBounds(0xFF, 0xDD, true).width, 3);
  EXPECT_EQ(opaque->ColorBounds(0xFF000000, 0xAA000000, true).width, 3);  // no alpha on either side
  auto clear = Make(3, 3, true, 0xAABBCCDD);
  EXPECT_EQ(clear->ColorBounds(0, 0xFF0000, true).width, 3);  // both sides masked to 0
  EXPECT_EQ(clear->ColorBounds(0xFF000000, 0xAA000000, true).width, 3);
  EXPECT_TRUE(clear->ColorBounds(0xFF, 0xDD, true).Empty());  // stored premultiplied
}

TEST(BitmapData, CopyChannelFromOrToNoOneChannel) {
  auto src = Make(1, 1, false, 0x112233);
  auto dst = Make(1, 1, false, 0x445566);
  dst->CopyChannel(*src, src->Bounds(), 0, 0, 3, 4);  // two channels read as 0
  EXPECT_EQ(dst->GetPixel32(0, 0), 0xFF445500u);
  dst->CopyChannel(*src, src->Bounds(), 0, 0, 1, 5);  // no target channel: unchanged
  EXPECT_EQ(dst->GetPixel32(0, 0), 0xFF445500u);
  dst->CopyChannel(*src, src->Bounds(), 0, 0, 1, 2);
  EXPECT_EQ(dst->GetPixel32(0, 0), 0xFF441100u);
}

TEST(BitmapData, FloodFillStopsAtOtherColours) {
  auto b = Make(5, 5, false, 0xFFFFFF);
  for (int y = 0; y < 5; ++y) b->SetPixel32(2, y, 0);  // a wall
  b->FloodFill(0, 0, 0xFF0000);
  EXPECT_EQ(b->GetPixel32(1, 4), 0xFFFF0000u);
  EXPECT_EQ(b->GetPixel32(2, 2), 0xFF000000u);
  EXPECT_EQ(b->GetPixel32(3, 0), 0xFFFFFFFFu);
}

TEST(BitmapData, ColourTransformChannelsAndBounds) {
  auto b = Make(4, 4, true, 0xFF808080);
  ColorTransform half;
  half.redMult = 128;
  half.blueAdd = 100;
  b->ApplyColorTransform({0, 0, 2, 2}, half);
  EXPECT_EQ(b->GetPixel32(0, 0), 0xFF408080u + 100);
  EXPECT_EQ(b->GetPixel32(3, 3), 0xFF808080u);
  const PixelRect r = b->ColorBounds(0xFFFFFFFF, 0xFF808080, false);
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.width, 2);
  EXPECT_EQ(r.height, 2);
  auto c = Make(4, 4, true, 0);
  c->CopyChannel(*b, b->Bounds(), 0, 0, 1, 8);  // red into alpha
  EXPECT_EQ(c->GetPixel32(0, 0) >> 24, 0x40u);
  EXPECT_EQ(c->GetPixel32(3, 3) >> 24, 0x80u);
}

TEST(BitmapData, ColourBoundsOfAMatchAtTheOriginAloneAreEmpty) {
  // Against a naive search: the bounds of the pixels that are not white,
  // but a lone match at (0, 0) counts as none, as Flash reports it.
  auto b = Make(3, 3, true, 0xFFFFFFFF);
  auto naive = [&](std::uint32_t mask, std::uint32_t color, bool find) {
    int x0 = 3, y0 = 3, x1 = -1, y1 = -1;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x)
        if (((b->GetPixel32(x, y) & mask) == color) == find)
          x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    if (x1 <= 0 && y1 <= 0) return PixelRect{};
    return PixelRect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
  };
  auto same = [&](std::uint32_t mask, std::uint32_t color, bool find) {
    const PixelRect got = b->ColorBounds(mask, color, find), want = naive(mask, color, find);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
  };
  b->SetPixel32(0, 0, 0xFF00FF00);
  EXPECT_TRUE(b->ColorBounds(0xFFFFFFFF, 0xFFFFFFFF, false).Empty());
  EXPECT_EQ(b->ColorBounds(0xFFFFFFFF, 0xFFFFFFFF, true).width, 3);
  same(0xFFFFFFFF, 0xFFFFFFFF, false);
  b->SetPixel32(1, 1, 0xFF00FF00);
  EXPECT_EQ(b->ColorBounds(0xFFFFFFFF, 0xFFFFFFFF, false).width, 2);
  same(0xFFFFFFFF, 0xFFFFFFFF, false);
  same(0x00FF0000, 0, true);
  b->SetPixel32(0, 0, 0xFFFFFFFF);
  EXPECT_EQ(b->ColorBounds(0xFFFFFFFF, 0xFFFFFFFF, false).x, 1);
  same(0xFFFFFFFF, 0xFFFFFFFF, false);
  auto one = Make(1, 1, true, 0xFF000000);
  EXPECT_TRUE(one->ColorBounds(0xFF000000, 0xFF000000, true).Empty());
}

TEST(BitmapData, PaletteMapAndMerge) {
  auto b = Make(1, 1, false, 0x102030);
  std::array<std::optional<std::vector<std::uint32_t>>, 4> tables;
  tables[0] = std::vector<std::uint32_t>(256, 0x00000000);  // red to nothing
  tables[0]->at(0x10) = 0x00000005;                        // ... but adds to blue
  b->PaletteMap(*b, b->Bounds(), 0, 0, tables);
  EXPECT_EQ(b->GetPixel32(0, 0), 0xFF002035u);
  auto m = Make(1, 1, false, 0x000000);
  auto white = Make(1, 1, false, 0xFFFFFF);
  const int mult[4] = {256, 128, 0, 0};
  m->Merge(*white, white->Bounds(), 0, 0, mult);
  EXPECT_EQ(m->GetPixel32(0, 0), 0xFFFF7F00u);
}

TEST(BitmapData, NoiseFollowsFlashsSequence) {
  // Flash's noise: each channel asked for takes the next value of the
  // minimal standard generator, low + value % (high - low + 1), pixel by
  // pixel in rows, red, green, blue then alpha; seeds of zero and below
  // start at 1 - seed. The first pixel of noise(0) is 0xFFA7F1D9.
  auto expected = [](int seed, int low, int high, bool alpha, int x, int y, int width) {
    std::int64_t s = seed > 0 ? seed : 1 - std::int64_t{seed};
    std::uint32_t c[4] = {0, 0, 0, 255};
    for (int i = 0; i <= y * width + x; ++i)
      for (int k = 0; k < (alpha ? 4 : 3); ++k) {
        s = s * 16807 % 2147483647;
        c[k] = static_cast<std::uint32_t>(low + s % (high - low + 1));
      }
    return c[3] << 24 | c[0] << 16 | c[1] << 8 | c[2];
  };
  auto a = Make(5, 4, false, 0);
  a->Noise(0, 0, 255, 7, false);
  EXPECT_EQ(a->GetPixel32(0, 0), 0xFFA7F1D9u);
  auto b = Make(5, 4, true, 0);
  b->Noise(-12, 40, 90, 15, false);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(a->GetPixel32(x, y), expected(0, 0, 255, false, x, y, 5)) << x << "," << y;
      const std::uint32_t want = expected(-12, 40, 90, true, x, y, 5);
      EXPECT_EQ(b->GetPixel32(x, y) >> 24, want >> 24) << x << "," << y;  // alpha exact; colours premultiplied
    }
}

TEST(BitmapData, NoiseIsRepeatableAndInRange) {
  auto a = Make(16, 16, false, 0), b = Make(16, 16, false, 0);
  a->Noise(7, 100, 120, 1, false);
  b->Noise(7, 100, 120, 1, false);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const std::uint32_t v = a->GetPixel32(x, y);
      ASSERT_EQ(v, b->GetPixel32(x, y));
      EXPECT_GE((v >> 16) & 255, 100u);
      EXPECT_LE((v >> 16) & 255, 120u);
      EXPECT_EQ(v & 0xFFFF, 0u);  // green and blue not asked for
    }
  }
  auto p = Make(32, 32, false, 0);
  p->PerlinNoise(8, 8, 2, 3, false, true, 7, true, {});
  std::uint32_t lo = 255, hi = 0;
  for (int x = 0; x < 32; ++x) {
    const std::uint32_t v = p->GetPixel32(x, 5);
    EXPECT_EQ((v >> 16) & 255, v & 255);  // grey
    lo = std::min(lo, v & 255), hi = std::max(hi, v & 255);
  }
  EXPECT_LT(lo, hi);  // it varies
}

// noise() with high below low gives low everywhere; an opaque bitmap
// draws no alpha value, so asking for alpha leaves its colours as they were
// (Flash's recorded pixels for seed 1 on 2x2).
TEST(BitmapData, NoiseRangeAndOpaqueAlpha) {
  auto flat = Make(3, 2, true, 0);
  flat->Noise(1, 10, 2, 15, false);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(flat->GetPixel32(x, y), 0x0A000000u) << x << "," << y;
  for (int channels : {7, 15}) {
    auto b = Make(2, 2, false, 0);
    b->Noise(1, 0, 255, channels, false);
    EXPECT_EQ(b->GetPixel32(0, 0), 0xFFA7F1D9u) << channels;
    EXPECT_EQ(b->GetPixel32(1, 0), 0xFF2A82C8u) << channels;
    EXPECT_EQ(b->GetPixel32(0, 1), 0xFFD8FE43u) << channels;
    EXPECT_EQ(b->GetPixel32(1, 1), 0xFF4D9855u) << channels;
  }
}

// perlinNoise against Flash Player's recorded pixels (3x3, seed 100):
// fractal and turbulence, stitched, grey, one channel, a negative base.
TEST(BitmapData, PerlinNoiseGivesFlashsPixelsForASeed) {
  struct Case {
    double baseX;
    int octaves;
    bool stitch, fractal;
    int channels;
    bool gray, transparent;
    std::uint32_t want[9];
  };
  const Case cases[] = {
      {3, 2, true, true, 15, false, false,
       {0xff7f7f7f, 0xff787a7a, 0xff878585, 0xff746383, 0xff907779, 0xff7a926c, 0xff8a9b7b, 0xff856c93, 0xff6e8885}},
      {3, 2, false, false, 7, true, false,
       {0xff000000, 0xff272727, 0xff585858, 0xff282828, 0xff323232, 0xff323232, 0xff191919, 0xff434343, 0xff7a7a7a}},
      {3, 2, true, false, 10, false, false,
       {0xff000000, 0xff001900, 0xff001900, 0xff001600, 0xff003c00, 0xff002300, 0xff001600, 0xff002300, 0xff003c00}},
      {3, 1, false, true, 8, true, false,
       {0xff7f7f7f, 0xff767676, 0xff6b6b6b, 0xff6d6d6d, 0xff7e7e7e, 0xff909090, 0xff7c7c7c, 0xff9f9f9f, 0xffaeaeae}},
      // A negative base draws as its size.
      {-1, 4, false, false, 15, false, false,
       {0xff000000, 0xff000000, 0xff000000, 0xff32852d, 0xff629c51, 0xff467433, 0xff226647, 0xff5a7d47, 0xff316638}},
      // Stored as made, not premultiplied: colours above alpha read back full.
      {3, 2, true, false, 10, false, true,
       {0x00000000, 0x0b00ff00, 0x0b00ff00, 0x38006400, 0x1e00ff00, 0x40008b00, 0x38006400, 0x40008b00, 0x1e00ff00}},
  };
  for (const Case& c : cases) {
    auto b = Make(3, 3, c.transparent, 0xAABBCCDD);
    b->PerlinNoise(c.baseX, 3, c.octaves, 100, c.stitch, c.fractal, c.channels, c.gray, {});
    for (int i = 0; i < 9; ++i)
      EXPECT_EQ(b->GetPixel32(i % 3, i / 3), c.want[i]) << "base " << c.baseX << " channels " << c.channels << " pixel " << i;
  }
}

// pixelDissolve: the corner always, then each other pixel once per round of
// the order; the answer continues it. Nothing to do gives the seed back.
TEST(BitmapData, PixelDissolveVisitsEveryPixelOnceAndChains) {
  const std::uint32_t red = 0xFFFF0000u;
  auto count = [&](const BitmapData& b) {
    int n = 0;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) n += b.GetPixel32(x, y) == red;
    return n;
  };
  for (const auto& [w, h] : {std::pair{10, 10}, std::pair{7, 9}, std::pair{5, 13}, std::pair{150, 2}}) {
    auto b = Make(w, h, false, 0xCCCCCC);
    int seed = 0;
    for (int round = 1; round <= w * h + 1; ++round) {
      seed = b->PixelDissolve(*b, b->Bounds(), 0, 0, seed, 1, red);
      ASSERT_EQ(count(*b), std::min(round + 1, w * h)) << w << "x" << h << " round " << round;
    }
  }
  auto b = Make(4, 4, true, 0);
  EXPECT_EQ(b->PixelDissolve(*b, b->Bounds(), 0, 0, 77, 0, red), 77);
  EXPECT_EQ(count(*b), 1);
  EXPECT_EQ(b->GetPixel32(0, 0), red);
  EXPECT_EQ(b->PixelDissolve(*b, b->Bounds(), 9, 9, 55, 5, red), 55);  // lands outside
  EXPECT_EQ(b->PixelDissolve(*b, PixelRect{1, 1, 0, 3}, 0, 0, 66, 5, red), 66);
  EXPECT_EQ(count(*b), 1);
  // A count past the pixels (a negative one read unsigned) writes them all.
  b->PixelDissolve(*b, b->Bounds(), 0, 0, 3, 0xFFFFFFFFu, red);
  EXPECT_EQ(count(*b), 16);
  // From another bitmap: its pixels, at the destination point.
  auto src = Make(2, 2, true, 0x80336699);
  auto dst = Make(3, 3, true, 0);
  dst->PixelDissolve(*src, src->Bounds(), 1, 1, 0, 10, 0);
  EXPECT_EQ(dst->GetPixel32(0, 0), 0u);
  EXPECT_EQ(dst->GetPixel32(2, 2), src->GetPixel32(1, 1));
  EXPECT_EQ(dst->GetPixel32(1, 2), src->GetPixel32(0, 1));
}

TEST(BitmapData, DisposeEmptiesAndCloneCopies) {
  auto b = Make(3, 3, true, 0xFF112233);
  auto c = b->Clone();
  ASSERT_TRUE(c);
  b->Dispose();
  EXPECT_EQ(b->Width(), 0);
  EXPECT_EQ(b->GetPixel32(0, 0), 0u);
  b->FillRect({0, 0, 3, 3}, 0xFFFFFFFF);  // no effect, no crash
  EXPECT_EQ(c->GetPixel32(2, 2), 0xFF112233u);
  EXPECT_FALSE(b->Clone());
}

}  // namespace
}  // namespace quarvel::player
