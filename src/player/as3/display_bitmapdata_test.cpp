// BitmapData's pixel operations shared with ActionScript 2 (scroll,
// colorTransform, floodFill, noise), seen through a Bitmap on the stage.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3FirstPicture;
using testing::As3Movie;
using testing::As3Traced;

// local 1 = new BitmapData(40, 40, false, fill); `ops` works on it; then
// it is shown by a Bitmap at (0, 0).
gdi::Bitmap Shown(std::uint32_t fill, const std::function<void(As3Movie&, AbcCode&)>& ops) {
  As3Movie d;
  const auto bd = d.Display("BitmapData"), bitmap = d.Display("Bitmap");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {bd}).Op("pushbyte", {40}).Op("pushbyte", {40}).Op("pushfalse")
        .Op("pushint", {m.a.Int(static_cast<std::int32_t>(fill))}).Op("constructprop", {bd, 4}).Op("setlocal_1");
    ops(m, c);
    c.Op("getlocal_0").Op("findpropstrict", {bitmap}).Op("getlocal_1").Op("constructprop", {bitmap, 1})
        .Op("callpropvoid", {m.Q("addChild"), 1});
  });
  return As3FirstPicture(bytes);
}

void New(As3Movie& m, AbcCode& c, std::string_view package, std::string_view cls, const std::vector<double>& args) {
  const auto name = m.a.PackageName(package, cls);
  c.Op("findpropstrict", {name});
  for (double v : args) c.Op("pushdouble", {m.a.Double(v)});
  c.Op("constructprop", {name, static_cast<std::int64_t>(args.size())});
}

TEST(As3BitmapPixels, ScrollColorTransformAndFloodFill) {
  const auto bmp = Shown(0xFF0000, [](As3Movie& m, AbcCode& c) {
    // Left half blue; scrolled 10 right (the vacated strip keeps its pixels);
    // the right 10 columns' red halved; the blue area filled green.
    c.Op("getlocal_1");
    New(m, c, "flash.geom", "Rectangle", {0, 0, 20, 40});
    c.Op("pushint", {m.a.Int(0x0000FF)}).Op("callpropvoid", {m.Q("fillRect"), 2});
    c.Op("getlocal_1").Op("pushbyte", {10}).Op("pushbyte", {0}).Op("callpropvoid", {m.Q("scroll"), 2});
    c.Op("getlocal_1");
    New(m, c, "flash.geom", "Rectangle", {30, 0, 10, 40});
    New(m, c, "flash.geom", "ColorTransform", {0.5, 1, 1, 1, 0, 0, 0, 0});
    c.Op("callpropvoid", {m.Q("colorTransform"), 2});
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushint", {m.a.Int(0xFF00FF00)})
        .Op("callpropvoid", {m.Q("floodFill"), 3});
  });
  EXPECT_EQ(bmp.GetPixel(5, 5), (gdi::Color{0, 255, 0}));
  EXPECT_EQ(bmp.GetPixel(25, 35), (gdi::Color{0, 255, 0}));
  const gdi::Color halved = bmp.GetPixel(35, 5);
  EXPECT_NEAR(halved.r, 128, 1);
  EXPECT_EQ(halved.g, 0);
  EXPECT_EQ(bmp.GetPixel(60, 5), (gdi::Color{255, 255, 255}));
}

// draw() with "subtract" and "invert", which Cairo has no operator for,
// against the per-channel rules written out here: subtract floors each
// colour at 0, invert turns the colour below over where the source covers.
TEST(As3BitmapPixels, DrawSubtractsAndInvertsPixelByPixel) {
  const std::uint32_t below = 0x80A040, patch = 0x305080;
  auto channel = [](std::uint32_t c, int shift) { return static_cast<int>((c >> shift) & 255); };
  auto subtract = [&](std::uint32_t d, std::uint32_t s) {
    return gdi::Color{static_cast<std::uint8_t>(std::max(0, channel(d, 16) - channel(s, 16))),
                      static_cast<std::uint8_t>(std::max(0, channel(d, 8) - channel(s, 8))),
                      static_cast<std::uint8_t>(std::max(0, channel(d, 0) - channel(s, 0)))};
  };
  auto invert = [](gdi::Color c) {
    return gdi::Color{static_cast<std::uint8_t>(255 - c.r), static_cast<std::uint8_t>(255 - c.g),
                      static_cast<std::uint8_t>(255 - c.b)};
  };
  const auto bmp = Shown(below, [&](As3Movie& m, AbcCode& c) {
    // local 2: a 20 x 40 opaque patch, subtracted from the left half; then
    // the bottom 10 rows of that half inverted (clipped by the rectangle).
    const auto bd = m.Display("BitmapData");
    c.Op("findpropstrict", {bd}).Op("pushbyte", {20}).Op("pushbyte", {40}).Op("pushfalse")
        .Op("pushint", {m.a.Int(static_cast<std::int32_t>(patch))}).Op("constructprop", {bd, 4}).Op("setlocal_2");
    c.Op("getlocal_1").Op("getlocal_2").Op("pushnull").Op("pushnull").Op("pushstring", {m.S("subtract")})
        .Op("callpropvoid", {m.Q("draw"), 4});
    c.Op("getlocal_1").Op("getlocal_2").Op("pushnull").Op("pushnull").Op("pushstring", {m.S("invert")});
    New(m, c, "flash.geom", "Rectangle", {0, 30, 40, 10});
    c.Op("callpropvoid", {m.Q("draw"), 5});
  });
  const gdi::Color subtracted = subtract(below, patch);
  EXPECT_EQ(bmp.GetPixel(5, 5), subtracted);
  EXPECT_EQ(bmp.GetPixel(19, 29), subtracted);
  EXPECT_EQ(bmp.GetPixel(5, 35), invert(subtracted));
  // Beyond the patch nothing changes, clip or not.
  const gdi::Color untouched{0x80, 0xA0, 0x40};
  EXPECT_EQ(bmp.GetPixel(25, 5), untouched);
  EXPECT_EQ(bmp.GetPixel(25, 35), untouched);
}

TEST(As3BitmapPixels, GreyNoiseVariesWithinItsRange) {
  const auto bmp = Shown(0x000000, [](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_1").Op("pushbyte", {7}).Op("pushbyte", {100}).Op("pushint", {m.a.Int(200)}).Op("pushbyte", {7})
        .Op("pushtrue").Op("callpropvoid", {m.Q("noise"), 5});
  });
  std::set<int> seen;
  for (int y = 0; y < 40; y += 3) {
    for (int x = 0; x < 40; x += 3) {
      const gdi::Color px = bmp.GetPixel(x, y);
      EXPECT_EQ(px.r, px.g);
      EXPECT_EQ(px.g, px.b);
      EXPECT_GE(px.r, 100);
      EXPECT_LE(px.r, 200);
      seen.insert(px.r);
    }
  }
  EXPECT_GT(seen.size(), 20u);
}

// trace(<value on the stack>)
void TraceTop(As3Movie& m, AbcCode& c) {
  c.Op("findpropstrict", {m.Q("trace")}).Op("swap").Op("callpropvoid", {m.Q("trace"), 1});
}

// local 1: a 4 x 2 picture, half transparent red, its left half opaque green.
std::vector<std::uint8_t> PixelMovie(const std::function<void(As3Movie&, AbcCode&)>& ops) {
  As3Movie d;
  const auto bd = d.Display("BitmapData");
  return d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {bd}).Op("pushbyte", {4}).Op("pushbyte", {2}).Op("pushtrue")
        .Op("pushuint", {m.a.UInt(0x80FF0000u)}).Op("constructprop", {bd, 4}).Op("setlocal_1");
    c.Op("getlocal_1");
    New(m, c, "flash.geom", "Rectangle", {0, 0, 2, 2});
    c.Op("pushuint", {m.a.UInt(0xFF00FF00u)}).Op("callpropvoid", {m.Q("fillRect"), 2});
    ops(m, c);
  });
}

TEST(As3BitmapPixelAccess, VectorsBytesAndHistogramReadStraightArgbRowByRow) {
  const auto bytes = PixelMovie([](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_1");
    New(m, c, "flash.geom", "Rectangle", {1, 0, 2, 1});
    c.Op("callproperty", {m.Q("getVector"), 1});
    TraceTop(m, c);
    // Bytes: big-endian ARGB, the position left after them.
    c.Op("getlocal_1");
    New(m, c, "flash.geom", "Rectangle", {1, 1, 2, 1});
    c.Op("callproperty", {m.Q("getPixels"), 1}).Op("dup").Op("getproperty", {m.Q("position")});
    TraceTop(m, c);
    c.Op("dup").Op("pushbyte", {4}).Op("setproperty", {m.Q("position")}).Op("callproperty", {m.Q("readUnsignedInt"), 0});
    TraceTop(m, c);
    // Histogram: alpha 255 four times, 128 four times; green 255 four times.
    c.Op("getlocal_1").Op("callproperty", {m.Q("histogram"), 0}).Op("setlocal_2");
    for (auto [channel, value] : {std::pair{3, 255}, {3, 128}, {1, 255}, {0, 255}}) {
      c.Op("getlocal_2").Op("pushbyte", {channel}).Op("getproperty", {m.a.MultinameL(m.a.NsSet({m.pub}))})
          .Op("pushshort", {value}).Op("getproperty", {m.a.MultinameL(m.a.NsSet({m.pub}))});
      TraceTop(m, c);
    }
    // A vector too short for its rectangle changes nothing.
    c.Op("getlocal_1");
    New(m, c, "flash.geom", "Rectangle", {0, 0, 2, 2});
    c.Op("getlocal_1");
    New(m, c, "flash.geom", "Rectangle", {0, 0, 3, 1});
    c.Op("callproperty", {m.Q("getVector"), 1}).Op("callpropvoid", {m.Q("setVector"), 2});
  });
  const auto out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.substr(0, out.find("RangeError")),
            std::to_string(0xFF00FF00u) + "," + std::to_string(0x80FF0000u) + "|8|" + std::to_string(0x80FF0000u) +
                "|4|4|4|4|");
  EXPECT_NE(out.find("RangeError: Error #2006"), std::string::npos) << out;
}

// pixelDissolve: no pixels to do gives the seed back with the corner
// written; the answer continues the order; a negative count is an error.
TEST(As3BitmapPixelAccess, PixelDissolveAnswersTheNextSeedAndRefusesNegativeCounts) {
  const auto bytes = PixelMovie([](As3Movie& m, AbcCode& c) {
    auto dissolve = [&](int seed, int count) {
      c.Op("getlocal_1").Op("getlocal_1");
      New(m, c, "flash.geom", "Rectangle", {0, 0, 4, 2});
      New(m, c, "flash.geom", "Point", {0, 0});
      c.Op("pushbyte", {seed}).Op("pushbyte", {count}).Op("pushuint", {m.a.UInt(0xFF0000FFu)})
          .Op("callproperty", {m.Q("pixelDissolve"), 6});
      TraceTop(m, c);
    };
    dissolve(5, 0);
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {0}).Op("callproperty", {m.Q("getPixel32"), 2});
    TraceTop(m, c);
    c.Op("getlocal_1").Op("pushbyte", {3}).Op("pushbyte", {1}).Op("callproperty", {m.Q("getPixel32"), 2});
    TraceTop(m, c);
    dissolve(5, 7);  // every other pixel
    c.Op("getlocal_1").Op("pushbyte", {3}).Op("pushbyte", {1}).Op("callproperty", {m.Q("getPixel32"), 2});
    TraceTop(m, c);
    dissolve(5, -1);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer&) {});
  const std::string blue = std::to_string(0xFF0000FFu);
  ASSERT_EQ(out.substr(0, 2), "5|") << out;
  EXPECT_EQ(out.substr(2, blue.size() * 2 + 2), blue + "|" + std::to_string(0x80FF0000u) + "|") << out;
  EXPECT_NE(out.find("|" + blue + "|RangeError: Error #2027"), std::string::npos) << out;
}

TEST(As3BitmapPixelAccess, RectangleEdgesRoundToTheNearestPixelAndColoursRoundTripAsInFlash) {
  const auto bytes = PixelMovie([](As3Movie& m, AbcCode& c) {
    // fillRect((1.6, 1.6, 1.8, 2)): edges 2..3 across, 2..4 down.
    c.Op("getlocal_1");
    New(m, c, "flash.geom", "Rectangle", {1.6, 0.4, 1.8, 1.2});
    c.Op("pushuint", {m.a.UInt(0xFF0000FFu)}).Op("callpropvoid", {m.Q("fillRect"), 2});
    for (auto [x, y] : {std::pair{1, 0}, {2, 0}, {3, 0}, {2, 1}}) {
      c.Op("getlocal_1").Op("pushbyte", {x}).Op("pushbyte", {y}).Op("callproperty", {m.Q("getPixel32"), 2});
      TraceTop(m, c);
    }
    // Half-transparent colours are kept premultiplied with Flash's rounding.
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {1}).Op("pushuint", {m.a.UInt(0x88FEBABEu)})
        .Op("callpropvoid", {m.Q("setPixel32"), 3});
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {1}).Op("callproperty", {m.Q("getPixel32"), 2});
    TraceTop(m, c);
    // A clone is a copy of the pixels.
    c.Op("getlocal_1").Op("callproperty", {m.Q("clone"), 0}).Op("pushbyte", {2}).Op("pushbyte", {0})
        .Op("callproperty", {m.Q("getPixel32"), 2});
    TraceTop(m, c);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out, std::to_string(0xFF00FF00u) + "|" + std::to_string(0xFF0000FFu) + "|" + std::to_string(0x80FF0000u) +
                     "|" + std::to_string(0xFF0000FFu) + "|" + std::to_string(0x88FDBABDu) + "|" +
                     std::to_string(0xFF0000FFu) + "|");
}

TEST(As3BitmapPixelAccess, HitTestsCountAlphaAgainstEachThreshold) {
  const auto bytes = PixelMovie([](As3Movie& m, AbcCode& c) {
    // (firstPoint, threshold, Point): the point (3,1) is alpha 128, (1,1) 255.
    for (auto [x, t] : {std::pair{3, 128}, {3, 129}, {1, 255}}) {
      c.Op("getlocal_1");
      New(m, c, "flash.geom", "Point", {0, 0});
      c.Op("pushshort", {t});
      New(m, c, "flash.geom", "Point", {static_cast<double>(x), 1});
      c.Op("callproperty", {m.Q("hitTest"), 3});
      TraceTop(m, c);
    }
    // Against itself moved 2 right: the red half meets the green one at threshold 200 only for green.
    for (int t : {200, 100}) {
      c.Op("getlocal_1");
      New(m, c, "flash.geom", "Point", {0, 0});
      c.Op("pushshort", {t}).Op("getlocal_1");
      New(m, c, "flash.geom", "Point", {2, 0});
      c.Op("pushshort", {t}).Op("callproperty", {m.Q("hitTest"), 5});
      TraceTop(m, c);
    }
    // threshold: the red pixels (alpha below 0xFF) turn blue; the count comes back.
    c.Op("getlocal_1").Op("getlocal_1").Op("getlocal_1").Op("getproperty", {m.Q("rect")});
    New(m, c, "flash.geom", "Point", {0, 0});
    c.Op("pushstring", {m.S("<")}).Op("pushuint", {m.a.UInt(0xFF000000u)}).Op("pushuint", {m.a.UInt(0xFF0000FFu)})
        .Op("pushuint", {m.a.UInt(0xFF000000u)}).Op("callproperty", {m.Q("threshold"), 7});
    TraceTop(m, c);
    c.Op("getlocal_1").Op("pushbyte", {3}).Op("pushbyte", {0}).Op("callproperty", {m.Q("getPixel32"), 2});
    TraceTop(m, c);
    // compare with a clone: equal; with another size: -3.
    c.Op("getlocal_1").Op("getlocal_1").Op("callproperty", {m.Q("clone"), 0}).Op("callproperty", {m.Q("compare"), 1});
    TraceTop(m, c);
    const auto bd = m.Display("BitmapData");
    c.Op("getlocal_1").Op("findpropstrict", {bd}).Op("pushbyte", {5}).Op("pushbyte", {2}).Op("constructprop", {bd, 2})
        .Op("callproperty", {m.Q("compare"), 1});
    TraceTop(m, c);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "true|false|true|false|true|4|" + std::to_string(0xFF0000FFu) + "|0|-3|");
}

}  // namespace
}  // namespace quarvel::player
