// Painting shortcuts (reusing an unchanged picture, skipping what lies off
// it, building paths in device space) against pictures painted without them:
// a player fresh from loading draws its one frame the plain way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "player/flash_player.h"
#include "player/render/renderer.h"
#include "support/swf_builder.h"
#include "support/swf_writer.h"

namespace quarvel::player {
namespace {

using gdi::Color;
using testing::FillStyle;
using testing::LineStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;

constexpr swf::Rgba kRed{255, 0, 0, 255};
constexpr swf::Rgba kBlue{0, 0, 255, 255};
constexpr swf::Rgba kWhite{255, 255, 255, 255};
constexpr Color cRed{255, 0, 0}, cWhite{255, 255, 255};

SwfBuilder Movie100() {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor(kWhite);
  return b;
}

swf::Matrix At(std::int32_t x, std::int32_t y, double scale = 1.0) {
  swf::Matrix m;
  m.scaleX = m.scaleY = scale;
  m.translateX = x;
  m.translateY = y;
  return m;
}

// A red disc of curves and a blue outline: anti-aliased at any position.
ShapeBuilder Disc() {
  ShapeBuilder s;
  s.SetFill1(s.AddFill(FillStyle::Solid(kRed))).SetLine(s.AddLine({.width = 40, .color = kBlue}));
  s.MoveTo(0, -300).CurveTo(300, -300, 300, 0).CurveTo(300, 300, 0, 300).CurveTo(-300, 300, -300, 0);
  s.CurveTo(-300, -300, 0, -300);
  return s;
}

gdi::Bitmap PaintOf(FlashPlayer& p) {
  gdi::Bitmap bmp;
  p.Paint(bmp);
  return bmp;
}

bool SamePixels(const gdi::Bitmap& a, const gdi::Bitmap& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && std::ranges::equal(a.Bits(), b.Bits());
}

// Frame k of the movie painted by a player that painted nothing before.
gdi::Bitmap FreshPaint(std::span<const std::uint8_t> movie, int frame, int w = 100, int h = 100,
                       const char* quality = "High", std::int32_t background = -1) {
  FlashPlayer p;
  p.SetSize(w, h);
  p.SetQuality(quality);
  p.SetBackgroundColor(background);
  EXPECT_TRUE(p.LoadMovieBytes(movie));
  const double rate = p.FrameRate() > 0 ? p.FrameRate() : 12.0;
  p.AdvanceTo(static_cast<std::int64_t>(frame * 1000 / rate));
  return PaintOf(p);
}

TEST(PaintReuse, EveryFramePaintedInTurnMatchesAFreshPlayer) {
  auto b = Movie100();
  b.DefineShape(1, Disc());
  // A sprite that rests on its second frame and moves on its third.
  Timeline sprite;
  sprite.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame().ShowFrame();
  sprite.PlaceObject2({.depth = 1, .move = true, .matrix = At(130, 70)}).ShowFrame();
  b.DefineSprite(2, sprite);
  b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = At(500, 500)});
  b.PlaceObject2({.depth = 2, .characterId = 2, .matrix = At(1200, 1200)}).ShowFrame();
  b.ShowFrame();  // nothing changes
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(517, 503)}).ShowFrame();  // sub-pixel move
  swf::ColorTransform half;
  half.alphaMult = 128;
  b.PlaceObject2({.depth = 1, .move = true, .colorTransform = half}).ShowFrame();
  b.PlaceObject2({.depth = 2, .move = true, .matrix = At(1200, 1200, 0.5)}).ShowFrame();
  b.RemoveObject2(1).ShowFrame();
  b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = At(1100, 1100), .clipDepth = 2}).ShowFrame();  // a mask
  const auto movie = b.Build();

  FlashPlayer p;
  p.SetSize(100, 100);
  p.SetQuality("High");
  ASSERT_TRUE(p.LoadMovieBytes(movie));
  gdi::Bitmap previous;
  for (int k = 0; k < 12; ++k) {
    p.AdvanceTo(k * 100);
    const auto bmp = PaintOf(p);
    EXPECT_TRUE(SamePixels(bmp, FreshPaint(movie, k))) << "frame " << k;
    EXPECT_TRUE(SamePixels(bmp, PaintOf(p))) << "painted twice, frame " << k;
    if (k == 1) {
      EXPECT_TRUE(SamePixels(bmp, previous)) << "a frame without changes";
    } else if (k == 2) {
      EXPECT_FALSE(SamePixels(bmp, previous)) << "a move of less than a pixel";
    }
    previous = bmp;
  }
}

TEST(PaintReuse, NewSettingsAndMoviesArePaintedAfresh) {
  auto a = Movie100();
  a.DefineShape(1, Disc()).PlaceObject2({.depth = 1, .characterId = 1, .matrix = At(1000, 1000)}).ShowFrame();
  // The same layout in other colours: its definitions may land on the
  // addresses the first movie's had.
  auto b = Movie100();
  ShapeBuilder s;
  s.Rectangle(-300, -300, 600, 600, s.AddFill(FillStyle::Solid(kBlue)));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1, .matrix = At(1000, 1000)}).ShowFrame();
  const auto movieA = a.Build(), movieB = b.Build();

  FlashPlayer p;
  p.SetSize(100, 100);
  p.SetQuality("High");
  ASSERT_TRUE(p.LoadMovieBytes(movieA));
  PaintOf(p);
  p.SetBackgroundColor(0x00FF00);
  EXPECT_TRUE(SamePixels(PaintOf(p), FreshPaint(movieA, 0, 100, 100, "High", 0x00FF00)));
  p.SetQuality("Low");
  EXPECT_TRUE(SamePixels(PaintOf(p), FreshPaint(movieA, 0, 100, 100, "Low", 0x00FF00)));
  p.SetSize(70, 40);
  EXPECT_TRUE(SamePixels(PaintOf(p), FreshPaint(movieA, 0, 70, 40, "Low", 0x00FF00)));
  p.SetBackgroundColor(-1);
  p.SetQuality("High");
  p.SetSize(100, 100);
  PaintOf(p);
  ASSERT_TRUE(p.LoadMovieBytes(movieB));
  const auto bmp = PaintOf(p);
  EXPECT_TRUE(SamePixels(bmp, FreshPaint(movieB, 0)));
  EXPECT_EQ(bmp.GetPixel(50, 50), (Color{0, 0, 255}));
  p.Unload();
  const auto empty = PaintOf(p);
  EXPECT_EQ(empty.GetPixel(50, 50), cWhite);
}

TEST(PaintReuse, CorpusAnimationMatchesAFreshPlayer) {
  const std::string movie =
      std::string(QUARVEL_SHARED_DIR) + "/corpus/ruffle/tests/tests/swfs/from_shumway/acid/acid-large/test.swf";
  if (!std::filesystem::exists(movie)) GTEST_SKIP() << "no corpus movie " << movie;
  FlashPlayer p;
  p.SetSize(275, 200);
  p.SetMovie(movie);
  ASSERT_EQ(p.ReadyState(), 4) << p.LoadError();
  const double rate = p.FrameRate();
  for (int k = 0; k <= 40; ++k) {
    p.AdvanceTo(static_cast<std::int64_t>(k * 1000 / rate));
    const auto bmp = PaintOf(p);
    if (k != 13 && k != 40) continue;
    FlashPlayer fresh;
    fresh.SetSize(275, 200);
    fresh.SetMovie(movie);
    fresh.AdvanceTo(static_cast<std::int64_t>(k * 1000 / rate));
    EXPECT_TRUE(SamePixels(bmp, PaintOf(fresh))) << "frame " << k;
  }
}

// Largest difference of any channel; a kept picture is composited once
// instead of fill by fill, which may round a level or two apart.
int MaxDifference(const gdi::Bitmap& a, const gdi::Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return 256;
  int most = 0;
  for (std::size_t i = 0; i < a.Bits().size(); ++i) {
    if (i % 4 != 3) most = std::max(most, std::abs(a.Bits()[i] - b.Bits()[i]));
  }
  return most;
}

// 24 half-transparent overlapping tiles with curved corners and an outline:
// costly enough to be kept as a picture.
ShapeBuilder Tiles() {
  ShapeBuilder s;
  const std::uint16_t line = s.AddLine({.width = 30, .color = {0, 0, 0, 255}});
  for (int i = 0; i < 24; ++i) {
    const std::uint16_t fill = s.AddFill(FillStyle::Solid(
        {static_cast<std::uint8_t>(i * 10), static_cast<std::uint8_t>(255 - i * 10), 128, 160}));
    const int x = (i % 6) * 110, y = (i / 6) * 110;
    s.SetFill1(fill).SetLine(i % 3 == 0 ? line : 0).MoveTo(x, y).LineTo(x + 140, y).CurveTo(x + 180, y + 70, x + 140, y + 140);
    s.LineTo(x, y + 140).LineTo(x, y);
  }
  return s;
}

TEST(ShapePictures, KeptPicturesMatchDrawingEveryFrame) {
  auto b = Movie100();
  b.DefineShape3(1, Tiles());
  Timeline mask;
  mask.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  b.DefineSprite(2, mask);
  ShapeBuilder back;
  back.Rectangle(0, 0, 2000, 2000, back.AddFill(FillStyle::Solid(kBlue)));
  b.DefineShape(3, back);
  b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = At(300, 300)});
  // The tiles as a mask over a blue square.
  b.PlaceObject2({.depth = 2, .characterId = 2, .matrix = At(1000, 900), .clipDepth = 3});
  b.PlaceObject2({.depth = 3, .characterId = 3}).ShowFrame();
  b.ShowFrame().ShowFrame();  // still: drawn, kept, copied
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(340, 260)}).ShowFrame();  // whole pixels
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(347, 261)}).ShowFrame();  // a fraction
  b.ShowFrame();
  swf::ColorTransform tint;
  tint.redMult = 64;
  b.PlaceObject2({.depth = 1, .move = true, .colorTransform = tint}).ShowFrame().ShowFrame();
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(-900, 300)}).ShowFrame().ShowFrame();  // half off
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(300, 300)}).ShowFrame().ShowFrame();  // back, whole
  const auto movie = b.Build();
  for (const char* quality : {"High", "Low"}) {
    FlashPlayer p;
    p.SetSize(100, 100);
    p.SetQuality(quality);
    ASSERT_TRUE(p.LoadMovieBytes(movie));
    for (int k = 0; k < 14; ++k) {
      p.AdvanceTo(k * 100);
      const auto bmp = PaintOf(p);
      EXPECT_LE(MaxDifference(bmp, FreshPaint(movie, k, 100, 100, quality)), 2) << quality << " frame " << k;
      // A new background redraws the frame, from the kept pictures.
      p.SetBackgroundColor(0xFFFFFE);
      const auto again = PaintOf(p);
      p.SetBackgroundColor(-1);
      EXPECT_LE(MaxDifference(again, FreshPaint(movie, k, 100, 100, quality, 0xFFFFFE)), 2)
          << quality << " frame " << k;
    }
  }
}

SurfacePtr Picture(int w, int h) { return SurfacePtr(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)); }

TEST(ShapePictures, CacheForgetsWhatTwoFramesDidNotDrawAndCountsItsPixels) {
  ShapeCache cache;
  const int a = 0, b = 0;  // two shapes' definitions
  ShapeCache::Key key;
  key.owner = &a;
  bool seen = true;
  cache.Store(cache.Find(key, seen), Picture(10, 10), 0, 0, 10, 10);
  EXPECT_FALSE(seen);
  key.xx = 2;  // the same shape under another transform
  cache.Store(cache.Find(key, seen), Picture(20, 10), 0, 0, 20, 10);
  EXPECT_EQ(cache.Pixels(), 300u);
  cache.EndFrame();
  EXPECT_TRUE(cache.Find(key, seen).picture);  // drawn in the frame before
  EXPECT_TRUE(seen);
  cache.EndFrame();
  EXPECT_EQ(cache.Pixels(), 300u);  // the other was drawn the frame before too
  cache.Find(key, seen);
  cache.EndFrame();
  EXPECT_EQ(cache.Pixels(), 200u);  // now unused for two frames
  key.xx = 1;
  EXPECT_FALSE(cache.Find(key, seen).picture);
  EXPECT_FALSE(seen);
  // A few transforms per shape: a fifth pushes out the least recent.
  ShapeCache::Key other;
  other.owner = &b;
  for (int i = 0; i < 5; ++i) {
    other.fx = i * 0.1;
    cache.Store(cache.Find(other, seen), Picture(1, 100), 0, 0, 1, 100);
  }
  EXPECT_EQ(cache.Pixels(), 600u);
  other.fx = 0;
  EXPECT_FALSE(cache.Find(other, seen).picture);
  cache.Clear();
  EXPECT_EQ(cache.Pixels(), 0u);
}

TEST(BestQuality, BitmapsDrawnFarSmallerAverageTheirTexels) {
  // 400 x 400 texels drawn on 80 x 80 pixels: a 1-texel checkerboard on the
  // left half must turn grey, not black, white or moire; the red right half
  // must start where it should.
  std::vector<swf::Rgba> texels(400 * 400);
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 400; ++x) {
      texels[static_cast<std::size_t>(y) * 400 + x] =
          x >= 200 ? kRed : (x + y) % 2 ? swf::Rgba{0, 0, 0, 255} : kWhite;
    }
  }
  auto b = Movie100();
  b.DefineBitsLossless(5, 400, 400, texels);
  ShapeBuilder s;
  s.Rectangle(100, 100, 1600, 1600, s.AddFill(FillStyle::Bitmap(5, At(100, 100, 4), true, true)));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  FlashPlayer p;
  p.SetSize(100, 100);
  p.SetQuality("Best");
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  const auto bmp = PaintOf(p);
  for (int y = 10; y < 80; y += 7) {
    for (int x = 8; x < 42; x += 3) {
      const Color c = bmp.GetPixel(x, y);
      EXPECT_NEAR(c.r, 128, 12) << x << "," << y;
      EXPECT_NEAR(c.g, 128, 12) << x << "," << y;
    }
    EXPECT_EQ(bmp.GetPixel(60, y), cRed) << y;
  }
  int edge = 30;
  while (edge < 60 && !(bmp.GetPixel(edge, 40).r > 200 && bmp.GetPixel(edge, 40).g < 60)) ++edge;
  EXPECT_GE(edge, 44);
  EXPECT_LE(edge, 47);
}

TEST(LowQuality, SmoothedBitmapsAverageOnlyWhenDrawnReduced) {
  // A 1-texel checkerboard, smoothed: at Low quality, drawn at a fifth of its
  // size it is still averaged to grey, drawn four times enlarged its texels
  // stay sharp; an unsmoothed fill is never averaged.
  std::vector<swf::Rgba> texels(400 * 400);
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < 400; ++x) {
      texels[static_cast<std::size_t>(y) * 400 + x] = (x + y) % 2 ? swf::Rgba{0, 0, 0, 255} : kWhite;
    }
  }
  const auto paint = [&](double twipsPerTexel, bool smoothed) {
    auto b = Movie100();
    b.DefineBitsLossless(5, 400, 400, texels);
    ShapeBuilder s;
    s.Rectangle(100, 100, 1700, 1700, s.AddFill(FillStyle::Bitmap(5, At(100, 100, twipsPerTexel), true, smoothed)));
    b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    FlashPlayer p;
    p.SetSize(100, 100);
    p.SetQuality("Low");
    EXPECT_TRUE(p.LoadMovieBytes(b.Build()));
    return PaintOf(p);
  };
  const auto reduced = paint(4, true);
  for (int y = 10; y < 80; y += 9) {
    for (int x = 10; x < 80; x += 9) EXPECT_NEAR(reduced.GetPixel(x, y).r, 128, 12) << x << "," << y;
  }
  const auto enlarged = paint(80, true);
  const auto unsmoothed = paint(4, false);
  for (int y = 10; y < 80; y += 9) {
    for (int x = 10; x < 80; x += 9) {
      const int e = enlarged.GetPixel(x, y).r, u = unsmoothed.GetPixel(x, y).r;
      EXPECT_TRUE(e == 0 || e == 255) << x << "," << y << ": " << e;
      EXPECT_TRUE(u == 0 || u == 255) << x << "," << y << ": " << u;
    }
  }
}

TEST(Culling, LinesReachingInFromOffThePictureAreDrawn) {
  // Lines 5 pixels above the picture; 20 pixels wide they reach 5 rows in.
  auto b = Movie100();
  ShapeBuilder wide;
  wide.SetLine(wide.AddLine({.width = 400, .color = kRed})).MoveTo(0, -100).LineTo(900, -100);
  ShapeBuilder thin;  // scaled down 20 times, its width kept
  thin.SetLine(thin.AddLine({.width = 400, .color = kRed, .noHScale = true, .noVScale = true}))
      .MoveTo(0, -2000)
      .LineTo(18000, -2000);
  b.DefineShape(1, wide).DefineShape4(2, thin);
  b.PlaceObject2({.depth = 1, .characterId = 1});
  b.PlaceObject2({.depth = 2, .characterId = 2, .matrix = At(1100, 0, 0.05)}).ShowFrame();
  FlashPlayer p;
  p.SetSize(100, 100);
  p.SetQuality("Low");
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  const auto bmp = PaintOf(p);
  for (int x : {20, 70}) {
    EXPECT_EQ(bmp.GetPixel(x, 0), cRed) << x;
    EXPECT_EQ(bmp.GetPixel(x, 3), cRed) << x;
    EXPECT_EQ(bmp.GetPixel(x, 7), cWhite) << x;
  }
}

// Flash strokes with a round pen in device space whose width follows
// |a + c| across and |b + d| down: stretching a shape four times across
// widens its horizontal lines too, and a skew can thin them.
TEST(Strokes, WidthFollowsTheScaleModeAndTheMatrixColumnSums) {
  auto thickness = [](bool noH, bool noV, swf::Matrix m) {
    auto b = Movie100();
    ShapeBuilder line;  // 4 pixels wide, across at y = 50
    line.SetLine(line.AddLine({.width = 80, .color = kRed, .startCap = 1, .endCap = 1, .noHScale = noH,
                               .noVScale = noV}))
        .MoveTo(0, 1000)
        .LineTo(400, 1000);
    b.DefineShape4(1, line);
    b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = m}).ShowFrame();
    FlashPlayer p;
    p.SetSize(100, 100);
    p.SetQuality("Low");
    EXPECT_TRUE(p.LoadMovieBytes(b.Build()));
    const auto bmp = PaintOf(p);
    int n = 0;
    for (int y = 0; y < 100; ++y) n += bmp.GetPixel(20, y) == cRed;
    return n;
  };
  swf::Matrix wide;
  wide.scaleX = 4;
  EXPECT_NEAR(thickness(false, false, wide), 11.7, 1);  // 4 * sqrt((16 + 1) / 2)
  EXPECT_NEAR(thickness(false, true, wide), 16, 1);     // horizontal: |a + c|
  EXPECT_NEAR(thickness(true, false, wide), 4, 1);      // vertical: |b + d|
  EXPECT_NEAR(thickness(true, true, wide), 4, 1);       // none
  swf::Matrix skew;  // x' = x - y, moved right so that the line stays in view
  skew.rotateSkew1 = -1;
  skew.translateX = 1200;
  EXPECT_NEAR(thickness(false, false, skew), 2.8, 1);  // 4 * sqrt((0 + 1) / 2)
  EXPECT_EQ(thickness(false, true, skew), 1);          // never below a pixel
}

// Unsmoothed, a one-pixel line on a pixel edge takes the pixels right of and
// below the edge: a square outline from (10, 10) to (30, 30) covers columns and
// rows 10 and 30, not 9 and 29.
TEST(Strokes, UnsmoothedHairlinesOnPixelEdgesTakeThePixelAfterTheEdge) {
  auto b = Movie100();
  ShapeBuilder box;
  box.SetLine(box.AddLine({.width = 20, .color = kRed})).MoveTo(200, 200).LineTo(600, 200).LineTo(600, 600);
  box.LineTo(200, 600).LineTo(200, 200);
  b.DefineShape(1, box);
  b.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  FlashPlayer p;
  p.SetSize(100, 100);
  p.SetQuality("Low");
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  const auto bmp = PaintOf(p);
  for (int v : {10, 30}) {
    EXPECT_EQ(bmp.GetPixel(v, 20), cRed) << "column " << v;
    EXPECT_EQ(bmp.GetPixel(20, v), cRed) << "row " << v;
    EXPECT_EQ(bmp.GetPixel(v - 1, 20), cWhite) << "column " << v - 1;
    EXPECT_EQ(bmp.GetPixel(20, v - 1), cWhite) << "row " << v - 1;
  }
}

// Fills of one shape meeting mid-pixel share that pixel between them: the
// white stage does not show through along their border (it would if each
// fill were painted over the last), whether the shape is drawn plainly or
// cut nine-slice.
// A shape bobbing between the same fractions of a pixel takes its fills,
// laid together, from the last time it stood there: the very pixels a
// fresh drawing gives, and never under another colour transform or where
// the picture's edge cut the fills.
TEST(KeptFills, ShapesComingBackToAPositionPaintTheSamePixelsAsAFreshPlayer) {
  auto b = Movie100();
  // Six neighbouring tiles, half transparent, with curved sides: too few to
  // be kept as a whole picture, so every frame lays the fills together.
  ShapeBuilder tiles;
  for (int i = 0; i < 6; ++i) {
    const std::uint16_t fill = tiles.AddFill(FillStyle::Solid(
        {static_cast<std::uint8_t>(i * 40), static_cast<std::uint8_t>(255 - i * 40), 128, 170}));
    const int x = (i % 3) * 300, y = (i / 3) * 300;
    tiles.SetFill1(fill).MoveTo(x, y).LineTo(x + 300, y).CurveTo(x + 340, y + 150, x + 300, y + 300);
    tiles.LineTo(x, y + 300).LineTo(x, y);
  }
  b.DefineShape3(1, tiles);
  b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = At(301, 307, 0.9)}).ShowFrame();
  for (int k = 0; k < 3; ++k) {
    b.PlaceObject2({.depth = 1, .move = true, .matrix = At(304, 311, 0.9)}).ShowFrame();
    b.PlaceObject2({.depth = 1, .move = true, .matrix = At(301, 307, 0.9)}).ShowFrame();
  }
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(341, 327, 0.9)}).ShowFrame();  // whole pixels away
  swf::ColorTransform tint;
  tint.greenMult = 40;
  b.PlaceObject2({.depth = 1, .move = true, .colorTransform = tint}).ShowFrame();
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(-601, 307, 0.9)}).ShowFrame();  // cut by the edge
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(-581, 307, 0.9)}).ShowFrame();
  b.PlaceObject2({.depth = 1, .move = true, .matrix = At(-601, 307, 0.9)}).ShowFrame();
  const auto movie = b.Build();
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(movie));
  for (int k = 0; k < 13; ++k) {
    p.AdvanceTo(k * 100);
    EXPECT_TRUE(SamePixels(PaintOf(p), FreshPaint(movie, k))) << "frame " << k;
  }
}

TEST(KeptFills, FoundByLayerTransformAndWholePixelMoveAndForgottenWhenUnused) {
  ShapeCache cache;
  const int shape = 0;
  ShapeCache::Key key;
  key.owner = &shape;
  key.fx = 0.25;
  cache.KeepFills(key, 0, 10, 20, Picture(8, 6), 9, 19, 17, 25);
  EXPECT_EQ(cache.FillPixels(), 48u);
  EXPECT_TRUE(cache.FindFills(key, 0, 10, 20, 9, 19, 17, 25));
  EXPECT_TRUE(cache.FindFills(key, 0, 13, 18, 12, 17, 20, 23));   // moved by whole pixels
  EXPECT_FALSE(cache.FindFills(key, 0, 13, 18, 12, 17, 20, 24));  // another box
  EXPECT_FALSE(cache.FindFills(key, 0, 13, 18, 11, 17, 19, 23));  // the box not moved with it
  EXPECT_FALSE(cache.FindFills(key, 1, 10, 20, 9, 19, 17, 25));   // another layer
  ShapeCache::Key moved = key;
  moved.fx = 0.25 + 1e-7;  // near, but another fraction
  EXPECT_FALSE(cache.FindFills(moved, 0, 10, 20, 9, 19, 17, 25));
  ShapeCache::Key tinted = key;
  tinted.cx.redMult = 128;
  EXPECT_FALSE(cache.FindFills(tinted, 0, 10, 20, 9, 19, 17, 25));
  // Kept while used within a few seconds of frames.
  for (int i = 0; i < 100; ++i) cache.EndFrame();
  EXPECT_TRUE(cache.FindFills(key, 0, 10, 20, 9, 19, 17, 25));
  for (int i = 0; i < 200; ++i) cache.EndFrame();
  EXPECT_EQ(cache.FillPixels(), 0u);
  EXPECT_FALSE(cache.FindFills(key, 0, 10, 20, 9, 19, 17, 25));
  // A layer keeps a bounded number of transforms, the least recent going.
  for (int i = 0; i < 60; ++i) {
    key.fx = i / 64.0;
    cache.KeepFills(key, 2, 0, 0, Picture(1, 1), 0, 0, 1, 1);
  }
  EXPECT_LT(cache.FillPixels(), 60u);
  key.fx = 0;
  EXPECT_FALSE(cache.FindFills(key, 2, 0, 0, 0, 0, 1, 1));
  key.fx = 59 / 64.0;
  EXPECT_TRUE(cache.FindFills(key, 2, 0, 0, 0, 0, 1, 1));
  cache.Clear();
  EXPECT_EQ(cache.FillPixels(), 0u);
}

// A FILTERLIST of one drop shadow (blur and distance in stage pixels).
std::vector<std::uint8_t> ShadowList(swf::Rgba color, double blur, double distance) {
  testing::SwfWriter w;
  w.U8(1);
  w.U8(0);
  w.Rgba(color);
  w.Fixed16(blur);
  w.Fixed16(blur);
  w.Fixed16(0.785);
  w.Fixed16(distance);
  w.Fixed8(1.0);
  w.UB(0, 1);
  w.UB(0, 1);
  w.UB(1, 1);
  w.UB(2, 5);
  w.Align();
  return w.Data();
}

// A filtered sprite kept as its filtered picture: every change that can
// show (its content, its filters, its colour, a fraction of a pixel, the
// quality) paints what a fresh player paints, byte for byte.
TEST(FilteredPictures, KeptPicturesMatchAFreshPlayerEveryFrame) {
  auto b = Movie100();
  b.DefineShape(1, Disc());
  Timeline sprite;
  sprite.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame().ShowFrame();
  sprite.PlaceObject2({.depth = 1, .move = true, .matrix = At(60, 20)}).ShowFrame();  // its content moves
  sprite.ShowFrame();
  b.DefineSprite(2, sprite);
  const auto shadow = ShadowList({0, 0, 0, 200}, 5, 4);
  b.PlaceObject3({.depth = 1, .characterId = 2, .matrix = At(700, 700), .filterList = shadow});
  b.PlaceObject3({.depth = 2, .characterId = 2, .matrix = At(1300, 1200), .filterList = shadow}).ShowFrame();
  b.ShowFrame();
  b.PlaceObject3({.depth = 1, .move = true, .matrix = At(760, 680)}).ShowFrame();  // whole pixels
  b.PlaceObject3({.depth = 1, .move = true, .matrix = At(767, 683)}).ShowFrame();  // a fraction
  b.PlaceObject3({.depth = 1, .move = true, .filterList = ShadowList({0, 0, 255, 255}, 5, 4)}).ShowFrame();
  swf::ColorTransform tint;
  tint.redMult = 64;
  b.PlaceObject3({.depth = 2, .move = true, .colorTransform = tint}).ShowFrame();
  b.PlaceObject3({.depth = 2, .move = true, .matrix = At(1900, 1200)}).ShowFrame();  // half off
  b.PlaceObject3({.depth = 1, .move = true, .matrix = At(700, 700), .filterList = shadow}).ShowFrame();  // back
  const auto movie = b.Build();
  for (const char* quality : {"High", "Low"}) {
    FlashPlayer p;
    p.SetSize(100, 100);
    p.SetQuality(quality);
    ASSERT_TRUE(p.LoadMovieBytes(movie));
    gdi::Bitmap previous;
    for (int k = 0; k < 10; ++k) {
      p.AdvanceTo(k * 100);
      const auto bmp = PaintOf(p);
      EXPECT_TRUE(SamePixels(bmp, FreshPaint(movie, k, 100, 100, quality))) << quality << " frame " << k;
      if (k == 3) {
        EXPECT_FALSE(SamePixels(bmp, previous)) << "the content moved inside the filtered sprite";
      }
      // A new background paints every object again, the filtered ones from
      // what was kept.
      p.SetBackgroundColor(0xFFFFFE);
      EXPECT_TRUE(SamePixels(PaintOf(p), FreshPaint(movie, k, 100, 100, quality, 0xFFFFFE)))
          << quality << " frame " << k << " on another background";
      p.SetBackgroundColor(-1);
      previous = bmp;
    }
  }
}

TEST(FilteredPictures, FoundByTransformBoxAndContentAndForgottenWhenUnused) {
  FilterCache cache;
  DrawnItem item;
  item.serial = 7;
  item.descendants = 1;
  DrawnItem child;
  child.level = 1;
  child.parent = 0;
  const std::vector<DrawnItem> items{item, child};
  FilterCache::Key key;
  key.fx = 0.25;
  key.w = 8, key.h = 6;
  cache.Keep(key, items, Picture(8, 6));
  EXPECT_EQ(cache.Pixels(), 48u);
  EXPECT_TRUE(cache.Find(key, items));
  // Its own matrix is the key's transform: another one finds the same picture.
  std::vector<DrawnItem> placed = items;
  placed[0].matrix.translateX = 40;
  EXPECT_TRUE(cache.Find(key, placed));
  FilterCache::Key other = key;
  other.fx = 0.25 + 1e-9;
  EXPECT_FALSE(cache.Find(other, items));
  other = key;
  other.bx = 1;  // the box cut elsewhere by the clip
  EXPECT_FALSE(cache.Find(other, items));
  std::vector<DrawnItem> changed = items;
  changed[1].matrix.translateX = 20;  // a child moved
  EXPECT_FALSE(cache.Find(key, changed));
  changed = items;
  changed[0].filters.emplace_back();
  EXPECT_FALSE(cache.Find(key, changed));
  EXPECT_FALSE(cache.Find(key, std::span(items).first(1)));
  // A new look of the same object replaces the one of an earlier frame.
  cache.EndFrame();
  cache.Keep(other, items, Picture(8, 6));
  EXPECT_EQ(cache.Entries(), 1u);
  EXPECT_FALSE(cache.Find(key, items));
  // Kept while the last two pictures used it.
  cache.EndFrame();
  EXPECT_TRUE(cache.Find(other, items));
  cache.EndFrame();
  cache.EndFrame();
  EXPECT_EQ(cache.Entries(), 1u);
  cache.EndFrame();
  EXPECT_EQ(cache.Entries(), 0u);
  EXPECT_EQ(cache.Pixels(), 0u);
  // Pictures too large are not kept.
  cache.Keep(key, items, Picture(2049, 2049));
  EXPECT_EQ(cache.Entries(), 0u);
}

TEST(Fills, NeighbouringFillsLetNothingThroughTheirSharedEdge) {
  auto bands = [](bool sliced) {
    auto b = Movie100();
    ShapeBuilder s;  // red rows 10 to 20.5, blue rows 20.5 to 30
    s.Rectangle(200, 200, 1600, 210, s.AddFill(FillStyle::Solid(kRed)));
    s.Rectangle(200, 410, 1600, 190, s.AddFill(FillStyle::Solid(kBlue)));
    b.DefineShape(1, s);
    if (!sliced) {
      b.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
      return FreshPaint(b.Build(), 0);
    }
    Timeline sprite;
    sprite.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    b.DefineSprite(2, sprite);
    testing::SwfWriter w;  // grid rows 15 to 25: stretched 1.25 times the border moves to row 25.75
    w.U16(2);
    w.Rect({400, 1600, 300, 500});
    const auto body = w.Take();
    b.Tag(78, body);
    swf::Matrix taller;
    taller.scaleY = 1.25;
    b.PlaceObject2({.depth = 1, .characterId = 2, .matrix = taller}).ShowFrame();
    return FreshPaint(b.Build(), 0);
  };
  for (bool sliced : {false, true}) {
    const auto bmp = bands(sliced);
    const Color edge = bmp.GetPixel(50, sliced ? 25 : 20);
    const int red = sliced ? 191 : 128;
    EXPECT_LT(edge.g, 8) << "white shows through, sliced " << sliced;
    EXPECT_NEAR(edge.r, red, 12) << sliced;
    EXPECT_NEAR(edge.b, 255 - red, 12) << sliced;
    EXPECT_EQ(bmp.GetPixel(50, 18), cRed) << sliced;
  }
}

// Fills of one shape that overlap (files from other tools have them) show
// the later one, as when painted in order, not a sum or the earlier one.
TEST(Fills, OverlappingFillsOfAShapeShowTheLaterOne) {
  auto b = Movie100();
  ShapeBuilder s;
  s.Rectangle(200, 200, 1000, 1000, s.AddFill(FillStyle::Solid(kRed)));
  s.Rectangle(410, 410, 400, 400, s.AddFill(FillStyle::Solid(kBlue)));
  b.DefineShape(1, s);
  b.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  const auto bmp = FreshPaint(b.Build(), 0);
  EXPECT_EQ(bmp.GetPixel(30, 30), (Color{0, 0, 255}));
  EXPECT_EQ(bmp.GetPixel(15, 15), cRed);
  const Color edge = bmp.GetPixel(30, 20);  // half blue over red
  EXPECT_NEAR(edge.r, 128, 12);
  EXPECT_NEAR(edge.b, 128, 12);
}

// A mask layer covers fully wherever its shapes reach: a half-transparent
// bitmap in it shows what it masks unfaded.
TEST(Masks, BitmapsInAMaskCoverWhateverTheirAlpha) {
  auto b = Movie100();
  std::vector<swf::Rgba> half(4, swf::Rgba{0, 0, 0, 128});
  b.DefineBitsLossless2(9, 2, 2, half);
  swf::Matrix grow;  // each bitmap pixel 25 stage pixels, the 50 pixel square filled
  grow.scaleX = grow.scaleY = 500;
  ShapeBuilder pic;
  pic.Rectangle(0, 0, 1000, 1000, pic.AddFill(FillStyle::Bitmap(9, grow, true, false)));
  ShapeBuilder red;
  red.Rectangle(0, 0, 2000, 2000, red.AddFill(FillStyle::Solid(kRed)));
  b.DefineShape(1, pic).DefineShape(2, red);
  b.PlaceObject2({.depth = 1, .characterId = 1, .clipDepth = 2});
  b.PlaceObject2({.depth = 2, .characterId = 2}).ShowFrame();
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  const auto bmp = PaintOf(p);
  EXPECT_EQ(bmp.GetPixel(25, 25), cRed);
  EXPECT_EQ(bmp.GetPixel(75, 75), cWhite);
}

TEST(Culling, ZeroScaleObjectsHideWithoutStoppingTheFrame) {
  auto b = Movie100();
  ShapeBuilder big;
  big.Rectangle(0, 0, 2000, 2000, big.AddFill(FillStyle::Solid(kBlue)));
  b.DefineShape(1, Disc()).DefineShape(2, big);
  swf::Matrix flat = At(1000, 1000);
  flat.scaleX = 0;
  b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = flat});
  b.PlaceObject2({.depth = 2, .characterId = 2, .matrix = At(0, 0, 0)});
  b.PlaceObject2({.depth = 3, .characterId = 1, .matrix = At(1000, 1000)}).ShowFrame();
  FlashPlayer p;
  p.SetSize(100, 100);
  p.SetQuality("High");
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  const auto bmp = PaintOf(p);
  EXPECT_EQ(bmp.GetPixel(50, 50), cRed);  // the disc above them still drawn
  EXPECT_EQ(bmp.GetPixel(5, 5), cWhite);
}

// ---- The list is the renderer's one input: lists made by hand, no stage.

// A solid rectangle (twips), as a shape definition made without a movie.
std::unique_ptr<ShapeDef> Rectangle(int x0, int y0, int x1, int y1, swf::Rgba color) {
  auto shape = std::make_unique<ShapeDef>();
  quarvel::player::FillStyle fill;
  fill.color = color;
  ShapeLayer layer;
  layer.fills.push_back(fill);
  const double l = x0, t = y0, r = x1, b = y1;
  layer.fillPaths.push_back(
      {Edge{l, t, 0, 0, r, t}, Edge{r, t, 0, 0, r, b}, Edge{r, b, 0, 0, l, b}, Edge{l, b, 0, 0, l, t}});
  shape->geometry.layers.push_back(std::move(layer));
  shape->geometry.bounds = swf::Rect{x0, x1, y0, y1};
  return shape;
}

DrawnItem Item(int level, int depth, const Character* def) {
  DrawnItem item;
  item.level = level;
  item.depth = depth;
  item.def = def;
  item.ownList = def && def->kind == Character::Kind::kSprite;
  return item;
}

// Parents and descendant counts from the levels, as the stage's lister sets them.
void Link(std::vector<DrawnItem>& items) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::size_t j = i + 1;
    while (j < items.size() && items[j].level > items[i].level) ++j;
    items[i].descendants = static_cast<std::uint32_t>(j - i - 1);
    for (std::size_t k = i + 1; k < j; ++k) {
      if (items[k].level == items[i].level + 1) items[k].parent = static_cast<int>(i);
    }
  }
}

// 40 x 40 pixels on white, 20 twips a pixel.
class ListPicture {
 public:
  explicit ListPicture(std::vector<DrawnItem> items) {
    Link(items);
    cairo_t* cr = cairo_create(surface_.get());
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_matrix_t base;
    cairo_matrix_init_scale(&base, 1.0 / 20, 1.0 / 20);
    RenderItems(cr, library_, items, base, RenderOptions{});
    cairo_destroy(cr);
    cairo_surface_flush(surface_.get());
  }
  Color At(int x, int y) const {
    const auto* row = cairo_image_surface_get_data(surface_.get()) +
                      static_cast<std::size_t>(y) * cairo_image_surface_get_stride(surface_.get());
    const std::uint32_t v = reinterpret_cast<const std::uint32_t*>(row)[x];
    return Color((v >> 16) & 255, (v >> 8) & 255, v & 255);
  }

 private:
  MovieLibrary library_;
  SurfacePtr surface_{cairo_image_surface_create(CAIRO_FORMAT_RGB24, 40, 40)};
};

constexpr swf::Rgba kYellow{255, 255, 0, 255}, kCyan{0, 255, 255, 255}, kBlack{0, 0, 0, 255};

TEST(DrawnItemList, BlendModesAndLayersDrawWithoutADisplayTree) {
  const auto back = Rectangle(0, 0, 800, 800, kYellow);
  const auto first = Rectangle(0, 0, 160, 800, kCyan), second = Rectangle(160, 0, 320, 800, kCyan);
  const auto blue = Rectangle(320, 0, 800, 800, kBlue), top = Rectangle(320, 0, 800, 400, kBlack);
  const SpriteDef sprite;
  std::vector<DrawnItem> items{Item(0, 1, back.get()), Item(0, 2, first.get()), Item(0, 3, second.get()),
                               Item(0, 4, &sprite), Item(1, 1, blue.get()), Item(1, 2, top.get())};
  items[1].blendMode = 3;  // multiply
  items[2].blendMode = 9;  // subtract
  items[3].blendMode = 2;  // a layer, for the erase inside it
  items[5].blendMode = 12;
  const ListPicture p(items);
  EXPECT_EQ(p.At(4, 20), Color(0, 255, 0));
  EXPECT_EQ(p.At(12, 20), Color(255, 0, 0));
  EXPECT_EQ(p.At(28, 10), Color(255, 255, 0));  // erased from the layer: the stage shows
  EXPECT_EQ(p.At(28, 30), Color(0, 0, 255));
}

TEST(DrawnItemList, MasksAndNestedTransformsDrawWithoutADisplayTree) {
  const auto left = Rectangle(0, 0, 400, 800, kBlack), blue = Rectangle(0, 0, 800, 400, kBlue);
  const auto red = Rectangle(0, 400, 800, 800, kRed), strip = Rectangle(0, 0, 200, 800, kBlack);
  const SpriteDef sprite;
  std::vector<DrawnItem> items{Item(-1, 0, nullptr),      Item(0, 1, left.get()),  Item(0, 2, &sprite),
                               Item(1, 1, blue.get()),    Item(0, 3, red.get()),   Item(0, 4, &sprite),
                               Item(1, 1, &sprite),       Item(2, 1, strip.get())};
  items[0].ownList = true;
  items[1].clipDepth = 2;        // masks the sprite at depth 2 only
  items[2].cxform.redAdd = 255;  // on the sprite, tinting its child
  items[4].maskSerial = 7;       // a script mask, found by serial...
  items[5].visible = false;      // ...inside a hidden clip, which still masks
  items[5].matrix.translateX = 300;
  items[6].matrix.translateX = 100;
  items[7].serial = 7;
  items[7].scriptMask = true;
  items[7].maskTarget = true;
  const ListPicture p(items);
  EXPECT_EQ(p.At(10, 10), Color(255, 0, 255));
  EXPECT_EQ(p.At(30, 10), cWhite);
  EXPECT_EQ(p.At(25, 30), cRed);  // the mask's strip, moved by both clips above it
  EXPECT_EQ(p.At(15, 30), cWhite);
  EXPECT_EQ(p.At(35, 30), cWhite);
}

}  // namespace
}  // namespace quarvel::player
