#include "gif/color_reduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>

#include "gif/octree_quantizer.h"

namespace quarvel::gif {
namespace {

using gdi::Bitmap;
using gdi::PixelFormat;

Bitmap Flat(int w, int h, Color c, PixelFormat f = PixelFormat::pfDevice) {
  Bitmap b(w, h, f);
  b.Fill(c);
  return b;
}

Color Grey(int v) { return Color{std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)}; }

// Black and white, and a record of every wanted colour asked for.
class RecordingLookup : public TColorLookup {
 public:
  RecordingLookup() : TColorLookup(2) {}
  int Lookup(int r, int g, int b, Color& chosen) override {
    asked.push_back({r, g, b});
    return mono.Lookup(r, g, b, chosen);
  }
  std::vector<std::array<int, 3>> asked;
  TMonochromeLookup mono;
};

// Feeds a grey picture the way the reduction does; returns the indices.
std::vector<std::vector<int>> DitherGrey(TDitherEngine& d, const std::vector<std::vector<int>>& rows) {
  std::vector<std::vector<int>> out;
  Color chosen;
  for (const auto& row : rows) {
    std::vector<int> line(row.size(), -1);
    for (int x = d.Column(); x >= 0 && x < int(row.size()); x = d.Column())
      line[std::size_t(x)] = d.Dither(row[std::size_t(x)], row[std::size_t(x)], row[std::size_t(x)], chosen);
    d.NextLine();
    out.push_back(line);
  }
  return out;
}

TEST(Lookups, GreyMonochromeAndCubeThresholds) {
  Color c;
  TGrayScaleLookup grey;
  EXPECT_EQ(grey.Lookup(255, 255, 255, c), 255);
  EXPECT_EQ(grey.Lookup(0, 0, 0, c), 0);
  EXPECT_EQ(grey.Lookup(255, 0, 0, c), 76);  // 77 * 255 >> 8
  EXPECT_EQ(c, Grey(76));

  TMonochromeLookup mono;
  EXPECT_EQ(mono.Lookup(127, 127, 127, c), 0);
  EXPECT_EQ(c, Grey(0));
  EXPECT_EQ(mono.Lookup(128, 128, 128, c), 1);
  EXPECT_EQ(c, Grey(255));

  TNetscapeColorLookup cube;
  EXPECT_EQ(cube.Lookup(255, 0, 0, c), 180);
  EXPECT_EQ(cube.Lookup(23, 24, 255, c), 0 * 36 + 0 * 6 + 5);  // (23 + 3) / 51 = 0
  EXPECT_EQ(cube.Lookup(48, 0, 0, c), 36);                      // (48 + 3) / 51 = 1
  EXPECT_EQ(c, (Color{51, 0, 0}));
}

TEST(Lookups, FastLookupCachesTheFirstAnswerOfACell) {
  // Entries 0 and 2 share a cell; the lower index owns it.
  std::vector<Color> palette = {Color{8, 8, 8}, Color{200, 0, 0}, Color{9, 9, 9}, Color{15, 15, 15}};
  TFastColorLookup lookup(palette);
  Color c;
  EXPECT_EQ(lookup.Lookup(9, 9, 9, c), 0);
  EXPECT_EQ(c, Grey(8));
  EXPECT_EQ(lookup.Lookup(200, 0, 0, c), 1);

  // (16,16,16) and (23,23,23) share a cell; nearest entries differ (3 vs none
  // nearer than 3), but whichever is asked first fills the cell.
  std::vector<Color> p2 = {Color{0, 0, 0}, Color{12, 12, 12}, Color{40, 40, 40}};
  TFastColorLookup l2(p2);
  EXPECT_EQ(l2.Lookup(23, 23, 23, c), 1);
  EXPECT_EQ(l2.Lookup(17, 17, 17, c), 1);
  TFastColorLookup l3(p2);
  EXPECT_EQ(l3.Lookup(22, 22, 22, c), 1);
  // Equal distance to entries 1 and 2 goes to the lower index.
  TFastColorLookup l4(p2);
  EXPECT_EQ(l4.Lookup(26, 26, 26, c), 1);
}

TEST(Lookups, FastLookupFindsTheFirstNearestEntryOfAnyPalette) {
  // Against a plain search, on palettes of every length (not only whole
  // vector widths) and of coarse values, where ties are common.
  std::mt19937 rng(11);
  for (int size : {1, 2, 7, 8, 9, 100, 255, 256}) {
    for (int step : {1, 64}) {
      std::vector<Color> palette(static_cast<std::size_t>(size));
      for (Color& e : palette)
        e = Color{std::uint8_t(rng() % 256 / step * step), std::uint8_t(rng() % 256 / step * step),
                  std::uint8_t(rng() % 256 / step * step)};
      for (int k = 0; k < 200; ++k) {
        const int r = int(rng() % 256), g = int(rng() % 256), b = int(rng() % 256);
        const int key = TFastColorLookup::Key(r, g, b);
        // A cell holding an entry answers with it, without a search.
        if (std::any_of(palette.begin(), palette.end(),
                        [&](const Color& e) { return TFastColorLookup::Key(e.r, e.g, e.b) == key; }))
          continue;
        int want = 0, best = 1 << 30;
        for (int i = 0; i < size; ++i) {
          const Color& e = palette[std::size_t(i)];
          const int d = std::abs(r - e.r) + std::abs(g - e.g) + std::abs(b - e.b);
          if (d < best) best = d, want = i;
        }
        TFastColorLookup lookup(palette);
        Color chosen;
        ASSERT_EQ(lookup.Lookup(r, g, b, chosen), want) << size << " entries, colour " << r << "," << g << "," << b;
        EXPECT_EQ(chosen, palette[std::size_t(want)]);
      }
    }
  }
}

TEST(FloydSteinberg, FlatGreyOnTheGreyScaleHasNoError) {
  Bitmap in = Flat(17, 9, Grey(100));
  Bitmap out = ReduceToPalette(in, rdGrayScale, dtFloydSteinberg);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 17; ++x) ASSERT_EQ(out.GetIndex(x, y), 100) << x << "," << y;
}

TEST(FloydSteinberg, FiftyPercentGreyGivesHalfBlackHalfWhiteInSerpentineOrder) {
  const int w = 64, h = 64;
  Bitmap out = ReduceToPalette(Flat(w, h, Grey(128)), rdMonochrome, dtFloydSteinberg);
  int white = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) white += out.GetIndex(x, y);
  EXPECT_NEAR(white, w * h / 2, w * h / 20);

  RecordingLookup rec;
  TFloydSteinbergDitherer d(4, rec);
  DitherGrey(d, {{128, 128, 128, 128}, {128, 128, 128, 128}});
  ASSERT_EQ(rec.asked.size(), 8u);
  // Row 0 left to right: 128 -> white (d = -127), next wanted 128 + (-889 + 8) / 16.
  EXPECT_EQ(rec.asked[0][0], 128);
  EXPECT_EQ(rec.asked[1][0], 128 + (-889 + 8) / 16);
  // Row 0 asks 128, 73, 160, 87; column 3 below gathers 1d of column 2 and
  // 5d of column 3: -95 + 5 * 87 = 340. Row 1 starts there, at the right end
  // (left to right it would start at column 0 with -416).
  EXPECT_EQ(rec.asked[2][0], 160);
  EXPECT_EQ(rec.asked[3][0], 87);
  EXPECT_EQ(rec.asked[4][0], 128 + (340 + 8) / 16);
  EXPECT_EQ(d.Direction(), 1);  // back to left-to-right after two rows
}

TEST(FloydSteinberg, SingleColumnPassesOnlyTheFiveSixteenthsShare) {
  RecordingLookup rec;
  TFloydSteinbergDitherer d(1, rec);
  auto out = DitherGrey(d, {{100}, {100}, {100}});
  // 100 -> black, d = 100; below gets 500: 100 + 508 / 16 = 131 -> white,
  // d = -124; below gets -620: 100 + (-612) / 16 = 62 -> black.
  EXPECT_EQ(rec.asked[1][0], 131);
  EXPECT_EQ(rec.asked[2][0], 62);
  EXPECT_EQ(out, (std::vector<std::vector<int>>{{0}, {1}, {0}}));
}

TEST(FloydSteinberg, WantedValueIsClampedBeforeTheLookupAndTheError) {
  RecordingLookup rec;
  TFloydSteinbergDitherer d(3, rec);
  DitherGrey(d, {{120, 255, 0}});
  // 120 -> black, carry 840: 255 + 53 clamps to 255 -> white, error 0, so the
  // third pixel gets nothing (an unclamped error would push it to 23).
  EXPECT_EQ(rec.asked[1][0], 255);
  EXPECT_EQ(rec.asked[2][0], 0);
}

TEST(FloydSteinberg, SecondRowRunsRightToLeft) {
  TGrayScaleLookup grey;
  TFloydSteinbergDitherer d(5, grey);
  Color c;
  for (int i = 0; i < 5; ++i) d.Dither(1, 1, 1, c);
  d.NextLine();
  EXPECT_EQ(d.Direction(), -1);
  EXPECT_EQ(d.Column(), 4);
  d.Dither(1, 1, 1, c);
  EXPECT_EQ(d.Column(), 3);
}

TEST(Kernels, EveryKernelHalfTonesFiftyPercentGrey) {
  for (TDitherMethod m : {dtStucki, dtSierra, dtJaJuNi, dtSteveArche, dtBurkes}) {
    Bitmap out = ReduceToPalette(Flat(40, 30, Grey(128)), rdMonochrome, m);
    int white = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) white += out.GetIndex(x, y);
    EXPECT_NEAR(white, 600, 90) << "method " << m;
    // Flat black and flat white have nothing to spread.
    Bitmap black = ReduceToPalette(Flat(7, 5, Grey(0)), rdMonochrome, m);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) EXPECT_EQ(black.GetIndex(x, y), 0);
  }
}

TEST(Octree, FewColoursAreKeptExactly) {
  Bitmap in(30, 20, PixelFormat::pf24bit);
  const std::vector<Color> colours = {Color{1, 2, 3}, Color{250, 10, 10}, Color{10, 250, 10}, Color{128, 128, 129}};
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) in.SetPixel(x, y, colours[std::size_t((x + y) % 4)]);
  Bitmap out = ReduceToPalette(in, rdOctree, dtNearest);
  ASSERT_EQ(out.Palette().size(), 256u);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(out.GetPixel(x, y), in.GetPixel(x, y));
  // The unused entries repeat the last leaf and never win a pixel.
  std::set<int> used;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) used.insert(out.GetIndex(x, y));
  EXPECT_EQ(used, (std::set<int>{0, 1, 2, 3}));
  EXPECT_EQ(out.Palette()[255], out.Palette()[3]);
}

TEST(Octree, ManyColoursStayWithinTheMaximum) {
  TColorQuantizer q(256);
  for (int i = 0; i < 300; ++i) q.AddColor(i % 256, (i * 7) % 256, i / 256 * 100);
  EXPECT_LE(q.LeafCount(), 256);
  EXPECT_GT(q.LeafCount(), 200);
  EXPECT_EQ(int(q.Colors().size()), q.LeafCount());

  Bitmap one = Flat(3, 3, Color{9, 9, 9});
  EXPECT_EQ(BuildOctreePalette(one, 256, 8, false).size(), 256u);
  EXPECT_EQ(BuildOctreePalette(one, 16, 8, false).size(), 16u);
}

TEST(Octree, ReducesTheNewestNodeOfTheDeepestLevelFirst) {
  TColorQuantizer q(2);
  q.AddColor(0, 0, 0);
  q.AddColor(255, 255, 255);
  q.AddColor(0, 0, 1);
  // White's level-7 node is the newest and merges first (one child: no gain);
  // then black's node merges (0,0,0) and (0,0,1).
  EXPECT_EQ(q.LeafCount(), 2);
  EXPECT_EQ(q.Colors(), (std::vector<Color>{Color{0, 0, 0}, Color{255, 255, 255}}));

  TColorQuantizer avg(1);
  avg.AddColor(10, 20, 30);
  avg.AddColor(20, 40, 61);
  EXPECT_EQ(avg.Colors(), (std::vector<Color>{Color{15, 30, 45}}));
}

TEST(Octree, ColoursMetAgainAfterAShallowMergeCountInTheMergedLeaf) {
  // Two far clusters and two leaves: the tree merges up to the root's
  // children. Colours walked before the merges, and their neighbours, come
  // again and must land in the leaf that now holds them, every pixel counted.
  TColorQuantizer q(2);
  long long sum[2][3] = {}, count[2] = {};
  const auto add = [&](int cluster, int r, int g, int b) {
    q.AddColor(r, g, b);
    sum[cluster][0] += r, sum[cluster][1] += g, sum[cluster][2] += b;
    ++count[cluster];
  };
  for (int pass = 0; pass < 3; ++pass)
    for (int k = 0; k < 40; ++k) {
      add(0, 8 + k, 60 - k, 3 * k % 64);
      add(1, 250 - k, 200 + k, 255 - 2 * k);
    }
  std::vector<Color> want;
  for (int c = 0; c < 2; ++c)
    want.push_back(Color{std::uint8_t(sum[c][0] / count[c]), std::uint8_t(sum[c][1] / count[c]),
                         std::uint8_t(sum[c][2] / count[c])});
  EXPECT_EQ(q.LeafCount(), 2);
  EXPECT_EQ(q.Colors(), want);
}

TEST(Octree, SystemColoursSitAtBothEnds) {
  std::vector<Color> sys = gdi::SystemPalette20();
  std::vector<Color> p = BuildOctreePalette(Flat(4, 4, Color{1, 2, 3}), 256, 8, true);
  ASSERT_EQ(p.size(), 256u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(p[std::size_t(i)], sys[std::size_t(i)]);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(p[std::size_t(246 + i)], sys[std::size_t(10 + i)]);
  EXPECT_EQ(p[10], (Color{1, 2, 3}));
}

TEST(Reduce, EveryMethodGivesItsPalette) {
  std::mt19937 rng(1);
  Bitmap in(23, 11, PixelFormat::pf24bit);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 23; ++x) in.SetPixel(x, y, Color{std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())});
  struct Case {
    TColorReduction method;
    std::size_t size;
  };
  std::vector<Color> custom = {Color{1, 1, 1}, Color{2, 2, 2}, Color{3, 3, 3}};
  for (Case c : {Case{rdSystem20, 20}, Case{rdHalftone, 256}, Case{rdGray4, 4}, Case{rdMonochrome, 2},
                 Case{rdGrayScale, 256}, Case{rdNetscape, 216}, Case{rdOctree, 256}, Case{rdOctreeSystem, 256},
                 Case{rdCustomPalette, 3}}) {
    for (TDitherMethod d : {dtNearest, dtFloydSteinberg}) {
      Bitmap out = ReduceToPalette(in, c.method, d, &custom);
      ASSERT_EQ(out.Format(), PixelFormat::pf8bit);
      ASSERT_EQ(out.Palette().size(), c.size) << c.method;
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 23; ++x) ASSERT_LT(out.GetIndex(x, y), c.size);
    }
  }
  EXPECT_EQ(ReduceToPalette(in, rdOctree, dtNearest, nullptr, 4).Palette().size(), 16u);
  EXPECT_EQ(ReduceToPalette(in, rdSystem20, dtNearest).Palette(), gdi::SystemPalette20());
  Bitmap same = ReduceToPalette(in, rdNone, dtNearest);
  EXPECT_EQ(same.Format(), PixelFormat::pf24bit);
  EXPECT_EQ(same.GetPixel(5, 5), in.GetPixel(5, 5));
}

TEST(Reduce, ThirtyTwoBitPicturesGiveTheIndicesOfTheirColours) {
  // The same colours at 24 and at 32 bits (fourth byte set, never a colour):
  // the same palette and indices, whichever walk each depth takes.
  std::mt19937 rng(4);
  Bitmap deep(37, 19, PixelFormat::pfDevice);
  for (auto& b : deep.Bits()) b = std::uint8_t(rng() % 6 * 50);
  for (std::size_t k = 3; k < deep.Bits().size(); k += 4) deep.Bits()[k] = std::uint8_t(rng());
  const Bitmap flat = deep.ConvertTo(PixelFormat::pf24bit);
  for (TColorReduction method : {rdOctree, rdHalftone, rdSystem20})
    for (TDitherMethod d : {dtNearest, dtFloydSteinberg}) {
      const Bitmap a = ReduceToPalette(deep, method, d), b = ReduceToPalette(flat, method, d);
      ASSERT_EQ(a.Palette(), b.Palette()) << method << " " << d;
      EXPECT_TRUE(std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin(), b.Bits().end())) << method << " " << d;
    }
}

TEST(Reduce, PhotoLikePicturesGiveTheSameIndicesAtBothDepths) {
  // Shading under grain: cells met again and new ones in every row, so
  // that the 32-bit walk takes both its eight-wide blocks and single
  // pixels, left to right and back; at 24 bits every pixel goes alone.
  std::mt19937 rng(12);
  for (const int w : {8, 13, 67, 301}) {
    Bitmap deep(w, 23, PixelFormat::pfDevice);
    for (int y = 0; y < deep.Height(); ++y)
      for (int x = 0; x < w; ++x) {
        std::uint8_t* p = deep.ScanLine(y) + 4 * x;
        const int base = 60 + (x * 3 + y * 5) % 140;
        for (int c = 0; c < 3; ++c) p[c] = std::uint8_t(std::clamp(base + c * 20 + int(rng() % 24) - 12, 0, 255));
        p[3] = std::uint8_t(rng());
      }
    const Bitmap flat = deep.ConvertTo(PixelFormat::pf24bit);
    const Bitmap a = ReduceToPalette(deep, rdOctree, dtNearest), b = ReduceToPalette(flat, rdOctree, dtNearest);
    ASSERT_EQ(a.Palette(), b.Palette()) << w;
    EXPECT_TRUE(std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin(), b.Bits().end())) << w;
  }
}

}  // namespace
}  // namespace quarvel::gif
