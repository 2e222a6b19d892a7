// BitmapData's pixel operations shared with ActionScript 2 (scroll,
// colorTransform, floodFill, noise), seen through a Bitmap on the stage.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quarvel::player
