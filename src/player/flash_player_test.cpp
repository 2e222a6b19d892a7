// Pixel and timeline tests on movies made with the SWF builder, whose
// pixels and frame times are known exactly.
#include "player/flash_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "player/swf/movie.h"
#include "player/swf/tags.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

using gdi::Color;
using testing::Actions;
using testing::FillStyle;
using testing::GradientStop;
using testing::Movie100;
using testing::Placement;
using testing::RectShape;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;
using testing::Translation;

constexpr swf::Rgba kRed{255, 0, 0, 255};
constexpr swf::Rgba kGreen{0, 255, 0, 255};
constexpr swf::Rgba kBlue{0, 0, 255, 255};
constexpr swf::Rgba kWhite{255, 255, 255, 255};
constexpr Color cRed{255, 0, 0}, cGreen{0, 255, 0}, cBlue{0, 0, 255}, cWhite{255, 255, 255};

struct Loaded {
  FlashPlayer player;
  explicit Loaded(const SwfBuilder& b, int w = 100, int h = 100, const char* quality = "Low") {
    player.SetSize(w, h);
    player.SetQuality(quality);
    const auto bytes = b.Build();
    EXPECT_TRUE(player.LoadMovieBytes(bytes)) << player.LoadError();
  }
  gdi::Bitmap Paint() {
    gdi::Bitmap bmp;
    player.Paint(bmp);
    return bmp;
  }
};

// Frame k of a 10 fps movie shows at k * 100 ms.
void AdvanceFrames(FlashPlayer& p, int k) { p.AdvanceTo(p.Now() + k * 100); }

TEST(FlashPlayerPixels, SolidRectangleLandsOnExactPixels) {
  auto b = Movie100();
  // 10.5 .. 30.5 pixels wide would blur; whole pixels: x 10..29, y 20..29.
  b.DefineShape(1, RectShape(200, 400, 400, 200, kRed)).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  ASSERT_EQ(bmp.Width(), 100);
  ASSERT_EQ(bmp.Format(), gdi::PixelFormat::pfDevice);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 100; ++x) {
      const bool inside = x >= 10 && x < 30 && y >= 20 && y < 30;
      ASSERT_EQ(bmp.GetPixel(x, y), inside ? cRed : cWhite) << x << "," << y;
    }
  }
}

TEST(FlashPlayerPixels, AntiAliasedEdgesStayWithinTheirPixel) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(210, 400, 400, 200, kRed)).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b, 100, 100, "High");
  const auto bmp = m.Paint();
  // The left edge at 10.5 pixels: pixel 10 half covered, 11 full, 9 empty.
  EXPECT_EQ(bmp.GetPixel(9, 25), cWhite);
  const Color half = bmp.GetPixel(10, 25);
  EXPECT_EQ(half.r, 255);
  EXPECT_NEAR(half.g, 128, 20);
  EXPECT_EQ(bmp.GetPixel(11, 25), cRed);
  EXPECT_EQ(bmp.GetPixel(29, 25), cRed);  // right edge at 30.5
  EXPECT_NEAR(bmp.GetPixel(30, 25).g, 128, 20);
  EXPECT_EQ(bmp.GetPixel(31, 25), cWhite);
}

TEST(FlashPlayerPixels, ShowAllCentresTheMovieWithTheBackgroundAround) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 2000, 2000, kRed)).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b, 300, 200);
  m.player.SetBackgroundColor(0x0000FF);
  const auto bmp = m.Paint();
  // Scale 2, movie at x 50..249.
  EXPECT_EQ(bmp.GetPixel(49, 100), cBlue);
  EXPECT_EQ(bmp.GetPixel(50, 100), cRed);
  EXPECT_EQ(bmp.GetPixel(249, 199), cRed);
  EXPECT_EQ(bmp.GetPixel(250, 0), cBlue);
  EXPECT_EQ(m.player.BackgroundColor(), 0x0000FF);
  m.player.SetBackgroundColor(-1);
  EXPECT_EQ(m.player.BackgroundColor(), 0xFFFFFF);  // the movie's own again
}

TEST(FlashPlayerPixels, LinearGradientEndsHaveTheEndColours) {
  auto b = Movie100();
  ShapeBuilder s;
  // The gradient square scaled to 100 px (2000 twips) across, centred.
  swf::Matrix gm;
  gm.scaleX = gm.scaleY = 2000.0 / 32768.0;
  gm.translateX = gm.translateY = 1000;
  s.Rectangle(0, 0, 2000, 2000, s.AddFill(FillStyle::Linear({{0, kRed}, {255, kBlue}}, gm)));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  const Color left = bmp.GetPixel(0, 50), right = bmp.GetPixel(99, 50), mid = bmp.GetPixel(50, 50);
  EXPECT_GE(left.r, 250);
  EXPECT_LE(left.b, 5);
  EXPECT_GE(right.b, 250);
  EXPECT_LE(right.r, 5);
  EXPECT_NEAR(mid.r, 127, 6);
  EXPECT_NEAR(mid.b, 127, 6);
}

// Stops that share a ratio each hold one entry of Flash's 256-entry ramp
// after it, in order; the last then leads on to the next stop.
TEST(FlashPlayerPixels, GradientStopsOfOneRatioEachHoldAnEntry) {
  auto b = Movie100();
  ShapeBuilder s;
  // Ten pixels per ramp entry, ratio 100 centred on x = 20.
  swf::Matrix gm;
  gm.scaleX = gm.scaleY = 51000.0 / 32768.0;
  gm.translateX = static_cast<std::int32_t>(std::lround(400 + gm.scaleX * (16384 - 100 / 255.0 * 32768)));
  gm.translateY = 1000;
  const swf::Rgba black{0, 0, 0, 255};
  s.Rectangle(0, 0, 2000, 2000,
              s.AddFill(FillStyle::Linear({{0, kRed}, {100, kGreen}, {100, kBlue}, {100, black}, {255, kWhite}}, gm)));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  EXPECT_EQ(bmp.GetPixel(20, 50), cGreen) << "entry 100";
  EXPECT_EQ(bmp.GetPixel(30, 50), cGreen) << "entry 101: the first stop holds";
  EXPECT_EQ(bmp.GetPixel(40, 50), cBlue) << "entry 102";
  const Color last = bmp.GetPixel(50, 50), later = bmp.GetPixel(95, 50);
  EXPECT_LE(last.r + last.g + last.b, 30) << "entry 103: black";
  EXPECT_GT(later.r, last.r) << "then on towards white";
}

// A vertical gradient whose square spans 256 rows of a 256-pixel movie,
// ratio 255 at the top: row y shows ramp entry 256 - y (Flash samples a
// row at its top edge), row 0 entry 255.
gdi::Bitmap PaintRampRows(std::vector<GradientStop> stops) {
  SwfBuilder b(8, {0, 5120, 0, 5120}, 10.0);
  ShapeBuilder s;
  swf::Matrix gm;
  gm.scaleX = gm.scaleY = 0;
  gm.rotateSkew0 = -5120.0 / 32768.0;
  gm.rotateSkew1 = 5120.0 / 32768.0;
  gm.translateX = gm.translateY = 2560;
  s.Rectangle(0, 0, 5120, 5120, s.AddFill(FillStyle::Linear(std::move(stops), gm)));
  b.DefineShape3(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b, 256, 256, "High");
  return m.Paint();
}
Color Entry(const gdi::Bitmap& bmp, int t) { return bmp.GetPixel(128, std::clamp(256 - t, 0, 255)); }
// Within a mix the ramp follows the position smoothly, so a stop's own
// entry may be a few levels short of its colour.
bool Near(Color a, Color b) { return std::abs(a.r - b.r) <= 4 && std::abs(a.g - b.g) <= 4 && std::abs(a.b - b.b) <= 4; }

// The ramp reaches a stop one entry at a time: the first of a run of stops
// at one ratio shows at the ratio and the entry after, each of the others
// for one entry, and the last starts the mix to the next stop at once.
TEST(FlashPlayerPixels, GradientRampStepsOneStopPerEntry) {
  const swf::Rgba black{0, 0, 0, 255}, yellow{255, 255, 0, 255};
  const auto bmp = PaintRampRows({{6, kRed}, {6, kGreen}, {6, kBlue}, {6, black}, {150, yellow}});
  for (int t : {1, 6, 7}) EXPECT_EQ(Entry(bmp, t), cRed) << "entry " << t << ": the first stop";
  EXPECT_EQ(Entry(bmp, 8), cGreen);
  EXPECT_EQ(Entry(bmp, 9), cBlue);
  const Color mixing = Entry(bmp, 10);  // black to yellow, 4 of 144 of the way
  EXPECT_NEAR(mixing.r, 7, 3);
  EXPECT_EQ(mixing.b, 0);
  EXPECT_NEAR(Entry(bmp, 78).r, 128, 4) << "halfway from 6 to 150";
  EXPECT_EQ(Entry(bmp, 200), (Color{255, 255, 0})) << "the last stop pads";
}

// A stop whose ratio is below the one before is reached the entry after
// that one, and the mix to the stop after it starts from its own ratio.
TEST(FlashPlayerPixels, GradientStopBelowTheOneBeforeIsPassedAtOnce) {
  const swf::Rgba cyan{0, 255, 255, 255}, magenta{255, 0, 255, 255};
  const auto bmp = PaintRampRows({{30, kRed}, {80, kGreen}, {50, cyan}, {100, magenta}, {200, kBlue}, {150, kWhite}});
  EXPECT_PRED2(Near, Entry(bmp, 80), cGreen);
  // Entry 82: cyan towards magenta, (82 - 50) / 50 of the way.
  const Color m = Entry(bmp, 82);
  EXPECT_NEAR(m.r, 163, 8);
  EXPECT_NEAR(m.g, 92, 8);
  EXPECT_EQ(m.b, 255);
  EXPECT_PRED2(Near, Entry(bmp, 100), (Color{255, 0, 255}));
  EXPECT_EQ(Entry(bmp, 202), cWhite) << "white, reached late, then pads";
  EXPECT_EQ(Entry(bmp, 255), cWhite);
}

TEST(FlashPlayerPixels, RadialGradientIsCentredOnItsMatrix) {
  auto b = Movie100();
  ShapeBuilder s;
  swf::Matrix gm;
  gm.scaleX = gm.scaleY = 1000.0 / 32768.0;  // radius 25 px
  gm.translateX = 600;
  gm.translateY = 1000;
  s.Rectangle(0, 0, 2000, 2000, s.AddFill(FillStyle::Radial({{0, kGreen}, {255, kBlue}}, gm)));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  EXPECT_GE(bmp.GetPixel(30, 50).g, 245);
  EXPECT_EQ(bmp.GetPixel(90, 50), cBlue);  // padded beyond the radius
  EXPECT_EQ(bmp.GetPixel(30, 5), cBlue);
}

// A linear gradient, red at ratio 64 and blue at 192, whose square spans
// 40 px across a 100 px rectangle, so 2.5 periods show.
gdi::Bitmap PaintSpread(std::uint8_t spreadMode, std::vector<GradientStop> stops = {{64, kRed}, {192, kBlue}}) {
  auto b = Movie100();
  ShapeBuilder s;
  swf::Matrix gm;
  gm.scaleX = gm.scaleY = 800.0 / 32768.0;
  gm.translateX = 400;
  gm.translateY = 1000;
  FillStyle f = FillStyle::Linear(std::move(stops), gm);
  f.spreadMode = spreadMode;
  s.Rectangle(0, 0, 2000, 2000, s.AddFill(f));
  b.DefineShape4(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  return m.Paint();
}

// Where pixel x falls in the gradient's 0..1 after the spread mode.
double SpreadPosition(std::uint8_t mode, int x) {
  const double u = (x + 0.5) / 40.0;
  const double whole = std::floor(u), part = u - whole;
  if (mode == 2) return part;
  if (mode == 1) return static_cast<long>(whole) % 2 == 0 ? part : 1 - part;
  return std::clamp(u, 0.0, 1.0);  // pad, and the reserved mode 3
}

TEST(FlashPlayerPixels, GradientSpreadModesPadReflectAndRepeatTheRamp) {
  for (std::uint8_t mode : {0, 1, 2, 3}) {
    const auto bmp = PaintSpread(mode);
    for (int x = 0; x < 100; ++x) {
      const double u = SpreadPosition(mode, x);
      // Repeat jumps from blue to red at each period's edge: leave those pixels.
      if (mode == 2 && (u < 1.5 / 40 || u > 1 - 1.5 / 40)) continue;
      const double ratio = u * 255;
      // Before the first ratio the first colour holds, after the last the last.
      const double t = std::clamp((ratio - 64) / 128.0, 0.0, 1.0);
      const Color got = bmp.GetPixel(x, 50);
      EXPECT_NEAR(got.r, 255 * (1 - t), 6) << "mode " << int{mode} << " x " << x;
      EXPECT_NEAR(got.b, 255 * t, 6) << "mode " << int{mode} << " x " << x;
      EXPECT_EQ(got.g, 0) << "mode " << int{mode} << " x " << x;
    }
  }
}

// Interpolation mode 1 mixes the stops' linear-light values, then encodes
// the mix as sRGB again; mode 0 mixes the stored values.
TEST(FlashPlayerPixels, LinearRgbGradientsMixLightNotStoredValues) {
  auto toLinear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  auto toSrgb = [](double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055; };
  const swf::Rgba dim{40, 0, 200, 255}, bright{255, 120, 0, 255};
  for (std::uint8_t mode : {0, 1}) {
    auto b = Movie100();
    ShapeBuilder s;
    swf::Matrix gm;  // ratio 0 at x = 0 to 255 at x = 100 px
    gm.scaleX = gm.scaleY = 2000.0 / 32768.0;
    gm.translateX = gm.translateY = 1000;
    FillStyle f = FillStyle::Linear({{0, dim}, {255, bright}}, gm);
    f.interpolationMode = mode;
    s.Rectangle(0, 0, 2000, 2000, s.AddFill(f));
    b.DefineShape4(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    Loaded m(b);
    const auto bmp = m.Paint();
    for (int x = 0; x < 100; ++x) {
      const double t = (x + 0.5) / 100;
      auto expect = [&](std::uint8_t a, std::uint8_t c) {
        if (mode == 0) return a + (c - a) * t;
        return 255 * toSrgb(toLinear(a / 255.0) * (1 - t) + toLinear(c / 255.0) * t);
      };
      const Color got = bmp.GetPixel(x, 50);
      EXPECT_NEAR(got.r, expect(dim.r, bright.r), 3) << "mode " << int{mode} << " x " << x;
      EXPECT_NEAR(got.g, expect(dim.g, bright.g), 3) << "mode " << int{mode} << " x " << x;
      EXPECT_NEAR(got.b, expect(dim.b, bright.b), 3) << "mode " << int{mode} << " x " << x;
    }
  }
}

// A focal gradient's ratio along a ray from the focal point is the distance
// from it over the distance from it to the circle.
TEST(FlashPlayerPixels, FocalGradientStartsAtItsFocalPoint) {
  auto b = Movie100();
  ShapeBuilder s;
  swf::Matrix gm;  // radius 40 px, centred
  gm.scaleX = gm.scaleY = 1600.0 / 32768.0;
  gm.translateX = gm.translateY = 1000;
  // Focal point 0.5 to the right: 20 px right of the centre.
  s.Rectangle(0, 0, 2000, 2000, s.AddFill(FillStyle::Focal({{0, kRed}, {255, kBlue}}, 0.5, gm)));
  b.DefineShape4(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  auto blueAt = [](double x) {  // along the row through the centre, pixel centre x + 0.5
    const double px = x + 0.5 - 50, focal = 20;
    const double t = px >= focal ? (px - focal) / (40 - focal) : (focal - px) / (focal + 40);
    return 255 * std::clamp(t, 0.0, 1.0);
  };
  for (int x : {5, 15, 30, 45, 60, 69, 75, 85}) {
    const Color got = bmp.GetPixel(x, 50);
    EXPECT_NEAR(got.b, blueAt(x), 4) << x;
    EXPECT_NEAR(got.r, 255 - blueAt(x), 4) << x;
  }
}

TEST(FlashPlayerPixels, GradientsWithOneOrNoStops) {
  // One stop: its colour everywhere, in any spread mode.
  for (std::uint8_t mode : {0, 1, 2}) {
    const auto bmp = PaintSpread(mode, {{128, kGreen}});
    for (int x : {0, 15, 39, 40, 75, 99}) EXPECT_EQ(bmp.GetPixel(x, 50), cGreen) << int{mode} << " " << x;
  }
  // No stops: the fill draws nothing and the background shows.
  const auto none = PaintSpread(2, {});
  for (int x : {0, 20, 50, 99}) EXPECT_EQ(none.GetPixel(x, 50), cWhite) << x;
}

TEST(FlashPlayerPixels, BitmapFillMapsTexelsThroughItsMatrix) {
  auto b = Movie100();
  const std::vector<swf::Rgba> px{kRed, kGreen, kBlue, kWhite};
  b.DefineBitsLossless(5, 2, 2, px);
  ShapeBuilder s;
  swf::Matrix bm;
  bm.scaleX = bm.scaleY = 200;  // one texel = 10 px
  bm.translateX = 200;
  bm.translateY = 200;
  s.Rectangle(200, 200, 400, 400, s.AddFill(FillStyle::Bitmap(5, bm, true, false)));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  EXPECT_EQ(bmp.GetPixel(10, 10), cRed);
  EXPECT_EQ(bmp.GetPixel(19, 19), cRed);
  EXPECT_EQ(bmp.GetPixel(20, 10), cGreen);
  EXPECT_EQ(bmp.GetPixel(10, 20), cBlue);
  EXPECT_EQ(bmp.GetPixel(29, 29), cWhite);
  EXPECT_EQ(bmp.GetPixel(9, 9), cWhite);  // outside the shape
}

TEST(FlashPlayerPixels, LosslessPalettedAndAlphaBitmaps) {
  auto b = Movie100();
  const std::vector<swf::Rgba> palette{kRed, swf::Rgba{0, 0, 255, 0}};
  const std::vector<std::uint8_t> idx{0, 1, 1, 0};
  b.DefineBitsLosslessMapped(5, 2, 2, palette, idx, true);
  ShapeBuilder s;
  swf::Matrix bm;
  bm.scaleX = bm.scaleY = 1000;  // 50 px texels
  s.Rectangle(0, 0, 2000, 2000, s.AddFill(FillStyle::Bitmap(5, bm, true, false)));
  b.DefineShape3(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  EXPECT_EQ(bmp.GetPixel(25, 25), cRed);
  EXPECT_EQ(bmp.GetPixel(75, 25), cWhite);  // transparent texel shows the background
  EXPECT_EQ(bmp.GetPixel(75, 75), cRed);
}

TEST(FlashPlayerPixels, MaskCutsOnlyTheLayersUpToItsClipDepth) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 1000, 2000, kRed));     // mask: left half
  b.DefineShape(2, RectShape(0, 0, 2000, 1000, kGreen));   // masked: top half
  b.DefineShape(3, RectShape(0, 1600, 2000, 400, kBlue));  // above the clip depth
  b.PlaceObject2({.depth = 1, .characterId = 1, .clipDepth = 2});
  b.PlaceObject2({.depth = 2, .characterId = 2});
  b.PlaceObject2({.depth = 3, .characterId = 3});
  b.ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  EXPECT_EQ(bmp.GetPixel(25, 25), cGreen);  // masked layer inside the mask
  EXPECT_EQ(bmp.GetPixel(75, 25), cWhite);  // cut off
  EXPECT_EQ(bmp.GetPixel(25, 60), cWhite);  // the mask itself is not drawn
  EXPECT_EQ(bmp.GetPixel(75, 90), cBlue);   // unmasked
}

TEST(FlashPlayerPixels, ColourTransformMultipliesAndAdds) {
  auto b = Movie100();
  b.DefineShape3(1, RectShape(0, 0, 1000, 2000, kRed));
  swf::ColorTransform toGreen;
  toGreen.redMult = 0;
  toGreen.greenAdd = 255;
  swf::ColorTransform halfAlpha;
  halfAlpha.alphaMult = 128;
  b.PlaceObject2({.depth = 1, .characterId = 1, .colorTransform = toGreen});
  b.PlaceObject2({.depth = 2, .characterId = 1, .matrix = Translation(1000, 0), .colorTransform = halfAlpha});
  b.ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  EXPECT_EQ(bmp.GetPixel(25, 50), cGreen);
  const Color half = bmp.GetPixel(75, 50);
  EXPECT_EQ(half.r, 255);
  EXPECT_NEAR(half.g, 127, 2);
  EXPECT_NEAR(half.b, 127, 2);
}

TEST(FlashPlayerPixels, CurvedEdgesAndTwoFillSidesFillTheRightArea) {
  auto b = Movie100();
  ShapeBuilder s;
  const auto red = s.AddFill(FillStyle::Solid(kRed));
  const auto green = s.AddFill(FillStyle::Solid(kGreen));
  // Left square red, right square green, sharing the middle edge which has
  // red on one side and green on the other.
  s.SetFill0(0).SetFill1(red).MoveTo(0, 0).LineTo(1000, 0);
  s.SetFill0(green).SetFill1(red).LineTo(1000, 1000);
  s.SetFill0(0).SetFill1(red).LineTo(0, 1000).LineTo(0, 0);
  s.SetFill0(0).SetFill1(green).MoveTo(1000, 0).LineTo(2000, 0).LineTo(2000, 1000).LineTo(1000, 1000);
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  EXPECT_EQ(bmp.GetPixel(25, 25), cRed);
  EXPECT_EQ(bmp.GetPixel(75, 25), cGreen);
  EXPECT_EQ(bmp.GetPixel(50, 75), cWhite);
}

TEST(FlashPlayerPixels, HairlineIsAtLeastOnePixelWide) {
  auto b = Movie100();
  ShapeBuilder s;
  s.SetLine(s.AddLine({.width = 0, .color = kBlue})).MoveTo(0, 1010).LineTo(2000, 1010);
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  const auto bmp = m.Paint();
  int blue = 0;
  for (int y = 45; y < 56; ++y) blue += bmp.GetPixel(50, y) == cBlue;
  EXPECT_GE(blue, 1);
}

// A sprite of 3 frames whose red square moves 10 px per frame.
Timeline MovingSprite() {
  Timeline sprite;
  for (int f = 0; f < 3; ++f) {
    if (f == 0) sprite.PlaceObject2({.depth = 1, .characterId = 1});
    else sprite.PlaceObject2({.depth = 1, .move = true, .matrix = Translation(f * 200, 0)});
    sprite.ShowFrame();
  }
  return sprite;
}

int RedSquareColumn(const gdi::Bitmap& bmp) {
  for (int x = 0; x < bmp.Width(); ++x) {
    if (bmp.GetPixel(x, 5) == cRed) return x;
  }
  return -1;
}

TEST(FlashPlayerTimeline, SpriteLoopsIndependentlyOfTheMainTimeline) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 200, 200, kRed)).DefineSprite(2, MovingSprite());
  b.PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame();
  b.ShowFrame();  // main timeline: 2 frames
  Loaded m(b);
  const int expected[] = {0, 10, 20, 0, 10, 20, 0};
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(RedSquareColumn(m.Paint()), expected[k]) << "frame " << k;
    EXPECT_EQ(m.player.CurrentFrame(), k % 2);
    AdvanceFrames(m.player, 1);
  }
}

TEST(FlashPlayerTimeline, ClockJumpExecutesEveryFrameInBetween) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 200, 200, kRed)).DefineSprite(2, MovingSprite());
  b.PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame();
  Loaded m(b);
  m.player.AdvanceTo(100 * 100);  // 100 frames at once
  EXPECT_EQ(RedSquareColumn(m.Paint()), (100 % 3) * 10);
}

// The host's interrupt ends a long jump between two frames; later clock
// values play on from there instead of catching up what was skipped.
int g_interruptAsked = 0;
bool InterruptAfterFourFrames() { return ++g_interruptAsked >= 4; }

TEST(FlashPlayerTimeline, InterruptEndsAClockJumpBetweenFrames) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 200, 200, kRed)).DefineSprite(2, MovingSprite());
  b.PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame();
  Loaded m(b);
  g_interruptAsked = 0;
  m.player.SetInterrupt(&InterruptAfterFourFrames);
  m.player.AdvanceTo(100 * 100);
  EXPECT_EQ(g_interruptAsked, 4);
  EXPECT_EQ(RedSquareColumn(m.Paint()), (4 % 3) * 10) << "four frames played, not a hundred";
  m.player.SetInterrupt(nullptr);
  m.player.AdvanceTo(100 * 100 + 100);
  EXPECT_EQ(RedSquareColumn(m.Paint()), (5 % 3) * 10) << "the skipped frames are not caught up";
}

TEST(FlashPlayerTimeline, FramesFollowTheClockAndLoop) {
  auto b = Movie100();
  b.ShowFrame().ShowFrame().ShowFrame();
  FlashPlayer p;
  p.AdvanceTo(5000);  // t0
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  EXPECT_EQ(p.ReadyState(), 4);
  EXPECT_EQ(p.TotalFrames(), 3);
  EXPECT_DOUBLE_EQ(p.FrameRate(), 10.0);
  EXPECT_TRUE(p.Playing());
  p.AdvanceTo(5099);
  EXPECT_EQ(p.CurrentFrame(), 0);
  p.AdvanceTo(5100);
  EXPECT_EQ(p.CurrentFrame(), 1);
  p.AdvanceTo(5250);
  EXPECT_EQ(p.CurrentFrame(), 2);
  p.AdvanceTo(5300);
  EXPECT_EQ(p.CurrentFrame(), 0);  // looped
  p.Stop();
  p.AdvanceTo(9000);
  EXPECT_EQ(p.CurrentFrame(), 0);
  EXPECT_FALSE(p.Playing());
  p.Play();  // at 9000: the next frame one period later
  p.AdvanceTo(9099);
  EXPECT_EQ(p.CurrentFrame(), 0);
  p.AdvanceTo(9100);
  EXPECT_EQ(p.CurrentFrame(), 1);
  p.AdvanceTo(8000);  // backwards: nothing
  EXPECT_EQ(p.CurrentFrame(), 1);
}

TEST(FlashPlayerTimeline, GotoFrameClampsAndKeepsPlaying) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 200, 200, kRed));
  b.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  b.RemoveObject2(1).ShowFrame();
  b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = Translation(400, 0)}).ShowFrame();
  Loaded m(b);
  m.player.GotoFrame(99);
  EXPECT_EQ(m.player.CurrentFrame(), 2);
  EXPECT_EQ(RedSquareColumn(m.Paint()), 20);
  m.player.GotoFrame(1);  // backwards rebuilds the display list
  EXPECT_EQ(RedSquareColumn(m.Paint()), -1);
  m.player.GotoFrame(-5);
  EXPECT_EQ(m.player.CurrentFrame(), 0);
  EXPECT_EQ(RedSquareColumn(m.Paint()), 0);
  EXPECT_TRUE(m.player.Playing());
  AdvanceFrames(m.player, 1);
  EXPECT_EQ(m.player.CurrentFrame(), 1);
}

TEST(FlashPlayerActions, StopOnTheLastFrameStops) {
  auto b = Movie100();
  b.ShowFrame().ShowFrame().DoAction(Actions().Stop()).ShowFrame();
  Loaded m(b);
  m.player.AdvanceTo(10000);
  EXPECT_EQ(m.player.CurrentFrame(), 2);
  EXPECT_FALSE(m.player.Playing());
  m.player.Play();
  AdvanceFrames(m.player, 1);
  EXPECT_EQ(m.player.CurrentFrame(), 0);  // play again loops on
}

// A host that asks to play right after loading asks before the first frame
// has run in Flash: a stop() in that frame's own actions stands (a Flex
// application's first frame stops, then moves on by itself). Once the movie
// has ticked, or after the host's own Stop, Play resumes it.
TEST(FlashPlayerActions, PlayRightAfterLoadingKeepsTheFirstFramesStop) {
  auto b = Movie100();
  b.DoAction(Actions().Stop()).ShowFrame().ShowFrame().ShowFrame();
  Loaded m(b);
  m.player.Play();
  AdvanceFrames(m.player, 2);
  EXPECT_EQ(m.player.CurrentFrame(), 0);
  m.player.Play();  // the movie has ticked: the host resumes it
  AdvanceFrames(m.player, 1);
  EXPECT_EQ(m.player.CurrentFrame(), 1);

  Loaded again(b);
  again.player.Stop();
  again.player.Play();  // the host's own Stop is undone by its Play
  AdvanceFrames(again.player, 1);
  EXPECT_EQ(again.player.CurrentFrame(), 1);
}

TEST(FlashPlayerActions, SpritesPlayOnWhenTheMainTimelineStops) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 200, 200, kRed)).DefineSprite(2, MovingSprite());
  b.PlaceObject2({.depth = 1, .characterId = 2}).DoAction(Actions().Stop()).ShowFrame().ShowFrame();
  Loaded m(b);
  EXPECT_FALSE(m.player.Playing());
  AdvanceFrames(m.player, 1);
  EXPECT_EQ(m.player.CurrentFrame(), 0);
  EXPECT_EQ(RedSquareColumn(m.Paint()), 10);
  m.player.Stop();  // the host's Stop freezes everything
  AdvanceFrames(m.player, 1);
  EXPECT_EQ(RedSquareColumn(m.Paint()), 10);
}

TEST(FlashPlayerActions, GotoAndPlayJumpsByNumberAndLabel) {
  auto b = Movie100();
  b.DoAction(Actions().GotoFrame(3).Play()).ShowFrame();  // frame 0 jumps to 3
  b.ShowFrame().ShowFrame();
  b.ShowFrame();                                          // frame 3
  b.DoAction(Actions().GotoLabel("End")).ShowFrame();     // frame 4 jumps to the label
  b.ShowFrame();
  b.FrameLabel("end").DoAction(Actions().Stop()).ShowFrame();  // frame 6
  b.ShowFrame();
  Loaded m(b);
  EXPECT_EQ(m.player.CurrentFrame(), 3);
  AdvanceFrames(m.player, 1);
  EXPECT_EQ(m.player.CurrentFrame(), 6);
  EXPECT_FALSE(m.player.Playing());
}

TEST(FlashPlayerActions, SetTargetControlsANamedSprite) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 200, 200, kRed)).DefineSprite(2, MovingSprite());
  b.PlaceObject2({.depth = 1, .characterId = 2, .name = "mover"});
  b.DoAction(Actions().SetTarget("mover").GotoFrame(2).Stop().SetTarget("")).ShowFrame();
  Loaded m(b);
  EXPECT_EQ(RedSquareColumn(m.Paint()), 20);
  AdvanceFrames(m.player, 5);
  EXPECT_EQ(RedSquareColumn(m.Paint()), 20);  // the sprite stays stopped
}

TEST(FlashPlayerLoading, BadSourcesLeaveNoMovie) {
  FlashPlayer p;
  EXPECT_EQ(p.ReadyState(), 0);
  EXPECT_TRUE(p.Menu());
  EXPECT_EQ(p.QualityName(), "High");
  const auto dir = std::filesystem::temp_directory_path();
  p.SetMovie(dir.string());
  EXPECT_EQ(p.ReadyState(), 0);
  EXPECT_NE(p.LoadError().find("folder"), std::string::npos);
  p.SetMovie((dir / "quarvel-no-such-movie.swf").string());
  EXPECT_EQ(p.ReadyState(), 0);
  EXPECT_FALSE(p.LoadError().empty());
  const std::vector<std::uint8_t> junk{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
  EXPECT_FALSE(p.LoadMovieBytes(junk));
  EXPECT_EQ(p.TotalFrames(), 0);
  gdi::Bitmap bmp;
  p.SetBackgroundColor(0x123456);
  p.Paint(bmp);  // no movie: the background
  EXPECT_EQ(bmp.GetPixel(0, 0), Color::FromRgb(0x123456));

  auto b = Movie100();
  b.ShowFrame();
  const auto path = dir / "quarvel-player-test.swf";
  b.WriteFile(path);
  p.SetMovie(path.string());
  EXPECT_EQ(p.ReadyState(), 4);
  EXPECT_EQ(p.Movie(), path.string());
  EXPECT_EQ(p.MovieWidth(), 100);
  p.SetMovie("");
  EXPECT_EQ(p.ReadyState(), 0);
  std::filesystem::remove(path);
}

TEST(FlashPlayerLoading, EveryCutOffPrefixLoadsOrFailsCleanly) {
  auto b = Movie100();
  const std::vector<swf::Rgba> px{kRed, kGreen, kBlue, kWhite};
  b.DefineBitsLossless(5, 2, 2, px);
  ShapeBuilder s;
  s.Rectangle(0, 0, 1000, 1000, s.AddFill(FillStyle::Bitmap(5)));
  s.CurveTo(500, 1500, 0, 0);
  b.DefineShape(1, s).DefineSprite(2, MovingSprite());
  b.PlaceObject2({.depth = 1, .characterId = 2, .name = "x"}).DoAction(Actions().GotoLabel("a").Play()).ShowFrame();
  for (auto c : {swf::Compression::kNone, swf::Compression::kZlib}) {
    const auto full = b.Build(c);
    const std::size_t step = c == swf::Compression::kNone ? 1 : 3;
    for (std::size_t n = 0; n <= full.size(); n += step) {
      FlashPlayer p;
      p.SetSize(20, 20);
      if (p.LoadMovieBytes(std::span(full).first(n))) {
        gdi::Bitmap bmp;
        p.AdvanceTo(1000);
        p.Paint(bmp);
      }
    }
  }
}

TEST(FlashPlayerLoading, SelfPlacingSpritesAndHugeBitmapsStayBounded) {
  auto b = Movie100();
  Timeline self;
  self.PlaceObject2({.depth = 1, .characterId = 2}).PlaceObject2({.depth = 2, .characterId = 2}).ShowFrame();
  b.DefineSprite(2, self);
  // A 65535 x 65535 lossless header with almost no data.
  std::vector<std::uint8_t> huge{3, 0, 5, 0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  b.Tag(20, huge);
  b.PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame().ShowFrame();
  Loaded m(b);
  const auto skipped = m.player.SkippedFeatures();
  EXPECT_NE(std::find(skipped.begin(), skipped.end(), "undecodable DefineBitsLossless"), skipped.end());
  m.player.AdvanceTo(1000);
  EXPECT_EQ(m.Paint().GetPixel(50, 50), cWhite);
}

TEST(FlashPlayerActions, TargetPathsReachParentsAndTheRoot) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 200, 200, kRed)).DefineSprite(2, MovingSprite());
  // The inner sprite stops the main timeline through "../" and moves its
  // sibling through "_root.mover".
  Timeline inner;
  inner.DoAction(Actions().SetTarget("../").Stop().SetTarget("_root.mover").GotoFrame(1).Stop().SetTarget(""));
  inner.ShowFrame();
  b.DefineSprite(3, inner);
  b.PlaceObject2({.depth = 1, .characterId = 2, .name = "mover"});
  b.PlaceObject2({.depth = 2, .characterId = 3, .name = "boss"}).ShowFrame().ShowFrame();
  Loaded m(b);
  EXPECT_EQ(RedSquareColumn(m.Paint()), 10);
  AdvanceFrames(m.player, 3);
  EXPECT_FALSE(m.player.Playing());
  EXPECT_EQ(m.player.CurrentFrame(), 0);
  EXPECT_EQ(RedSquareColumn(m.Paint()), 10);
}


TEST(FlashPlayerLoad, AnOfferedMovieLoadsForItsPathOnce) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 2000, 2000, kRed)).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  const auto bytes = b.Build(swf::Compression::kZlib);
  // No file lies at the path: only the offer can load it.
  const std::string path = (std::filesystem::temp_directory_path() / "quarvel-offer-none" / "m.swf").string();
  FlashPlayer player;
  player.SetSize(100, 100);
  player.OfferOpenedMovie(path, swf::OpenMovie(bytes));
  player.SetMovie(path + ".other");  // another path reads its own file, and drops the offer
  EXPECT_EQ(player.ReadyState(), 0);
  player.SetMovie(path);
  EXPECT_EQ(player.ReadyState(), 0);

  player.OfferOpenedMovie(path, swf::OpenMovie(bytes));
  player.SetMovie(path);
  ASSERT_EQ(player.ReadyState(), 4) << player.LoadError();
  EXPECT_EQ(player.Movie(), path);
  gdi::Bitmap bmp;
  player.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(50, 50), cRed);
  player.SetMovie(path);  // the offer was taken
  EXPECT_EQ(player.ReadyState(), 0);
  EXPECT_NE(player.LoadError().find(path), std::string::npos);
}

TEST(FlashPlayerLoad, AbandonedAtExitTheMovieIsGoneAndThePlayerPlaysOn) {
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 2000, 2000, kRed)).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  EXPECT_EQ(m.Paint().GetPixel(50, 50), cRed);
  m.player.AbandonAtExit();
  EXPECT_EQ(m.player.ReadyState(), 0);
  auto green = Movie100();
  green.DefineShape(1, RectShape(0, 0, 2000, 2000, kGreen)).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  ASSERT_TRUE(m.player.LoadMovieBytes(green.Build())) << m.player.LoadError();
  m.player.SetSize(100, 100);
  EXPECT_EQ(m.Paint().GetPixel(50, 50), cGreen);
}

TEST(FlashPlayerPixels, APictureThatFailsToDecodeWhenDrawnShowsNothing) {
  auto b = Movie100();
  // A good 2x2 DefineBitsLossless2 header before pixels that do not inflate.
  b.Tag(swf::tag::kDefineBitsLossless2, std::vector<std::uint8_t>{5, 0, 5, 2, 0, 2, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  ShapeBuilder s;
  swf::Matrix bm;
  bm.scaleX = bm.scaleY = 1000;
  s.Rectangle(0, 0, 2000, 2000, s.AddFill(FillStyle::Bitmap(5, bm, true, false)));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  Loaded m(b);
  EXPECT_TRUE(m.player.SkippedFeatures().empty());
  const auto bmp = m.Paint();
  EXPECT_EQ(bmp.GetPixel(25, 25), cWhite);
  EXPECT_EQ(bmp.GetPixel(75, 75), cWhite);
  EXPECT_EQ(m.player.SkippedFeatures(), std::vector<std::string>{"undecodable DefineBitsLossless2"});
}

}  // namespace
}  // namespace quarvel::player
