// flash.filters classes beyond blur, glow, shadow, bevel and colour matrix:
// made by scripts and drawn by the renderer's filters.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/as3_movie.h"
#include "support/swf_builder.h"
#include "support/swf_writer.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3FirstPicture;
using testing::As3Movie;
using testing::As3Traced;

// A sprite filled with `rgb` over (x, y, w, h) whose filters are the one
// filter `make` pushes; returns the painted picture.
gdi::Bitmap Filtered(std::uint32_t rgb, int x, int y, int w, int h,
                     const std::function<void(As3Movie&, AbcCode&)>& make) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", rgb, x, y, w, h);
    c.Op("getlocal_1");
    make(m, c);
    c.Op("newarray", {1}).Op("setproperty", {m.Q("filters")});
  });
  return As3FirstPicture(bytes);
}

void PushNumbers(As3Movie& m, AbcCode& c, const std::vector<int>& v) {
  for (int n : v) c.Op("pushint", {m.a.Int(n)});
  c.Op("newarray", {static_cast<std::int64_t>(v.size())});
}

// A filters array holding anything but filters (undefined too) is refused
// with #2005 and leaves the filters as they were; a hole is no entry.
TEST(As3MoreFilters, AFiltersArrayOfOtherThingsIsRefused) {
  const auto run = [](const std::function<void(As3Movie&, AbcCode&)>& second) {
    As3Movie d;
    const auto blur = d.a.PackageName("flash.filters", "BlurFilter");
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 10, 10);
      c.Op("getlocal_1").Op("findpropstrict", {blur}).Op("constructprop", {blur, 0});
      second(m, c);
      c.Op("newarray", {2}).Op("setproperty", {m.Q("filters")});
      m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("filters")}).Op("getproperty", {m.Q("length")}); });
    });
    return As3Traced(bytes, [](FlashPlayer&) {});
  };
  const std::string number = run([](As3Movie&, AbcCode& c) { c.Op("pushbyte", {2}); });
  EXPECT_NE(number.find("Error #2005: Parameter 0 is of the incorrect type. Should be type Filter."), std::string::npos)
      << number;
  EXPECT_NE(run([](As3Movie&, AbcCode& c) { c.Op("pushundefined"); }).find("Error #2005"), std::string::npos);
  EXPECT_EQ(run([](As3Movie& m, AbcCode& c) {
              const auto glow = m.a.PackageName("flash.filters", "GlowFilter");
              c.Op("findpropstrict", {glow}).Op("constructprop", {glow, 0});
            }),
            "2|");
}

TEST(As3MoreFilters, ConvolutionFilterWeighsTheNeighbours) {
  // The centre weighted twice: the colour doubles.
  const auto bmp = Filtered(0x400000, 20, 20, 60, 60, [](As3Movie& m, AbcCode& c) {
    const auto cls = m.a.PackageName("flash.filters", "ConvolutionFilter");
    c.Op("findpropstrict", {cls}).Op("pushbyte", {3}).Op("pushbyte", {3});
    PushNumbers(m, c, {0, 0, 0, 0, 2, 0, 0, 0, 0});
    c.Op("constructprop", {cls, 3});
  });
  EXPECT_EQ(bmp.GetPixel(50, 50), (gdi::Color{128, 0, 0}));
  EXPECT_EQ(bmp.GetPixel(10, 10), (gdi::Color{255, 255, 255}));
}

TEST(As3MoreFilters, GradientGlowFilterColoursAroundTheObject) {
  // An outer glow from clear to opaque green around a black square.
  const auto bmp = Filtered(0x000000, 40, 40, 20, 20, [](As3Movie& m, AbcCode& c) {
    const auto cls = m.a.PackageName("flash.filters", "GradientGlowFilter");
    c.Op("findpropstrict", {cls}).Op("pushbyte", {0}).Op("pushbyte", {45});
    PushNumbers(m, c, {0x00FF00, 0x00FF00});
    PushNumbers(m, c, {0, 1});
    PushNumbers(m, c, {0, 255});
    c.Op("pushbyte", {8}).Op("pushbyte", {8}).Op("pushbyte", {2}).Op("pushbyte", {1})
        .Op("pushstring", {m.S("outer")}).Op("constructprop", {cls, 10});
  });
  const gdi::Color near = bmp.GetPixel(38, 50);
  EXPECT_LT(near.r, 200);
  EXPECT_GT(near.g, near.r + 40);
  EXPECT_EQ(bmp.GetPixel(50, 50), (gdi::Color{0, 0, 0}));  // outer: the object itself stays
  EXPECT_EQ(bmp.GetPixel(5, 5), (gdi::Color{255, 255, 255}));
}

// A glow has no offset: it lies evenly on every side of the object.
TEST(As3MoreFilters, GlowFilterLiesEvenlyAround) {
  const auto bmp = Filtered(0x000000, 40, 40, 20, 20, [](As3Movie& m, AbcCode& c) {
    const auto cls = m.a.PackageName("flash.filters", "GlowFilter");
    c.Op("findpropstrict", {cls}).Op("pushint", {m.a.Int(0xFF0000)}).Op("pushbyte", {1}).Op("pushbyte", {6})
        .Op("pushbyte", {6}).Op("constructprop", {cls, 4});
  });
  const gdi::Color left = bmp.GetPixel(38, 50), right = bmp.GetPixel(61, 50);
  const gdi::Color top = bmp.GetPixel(50, 38), bottom = bmp.GetPixel(50, 61);
  EXPECT_EQ(left, right);
  EXPECT_EQ(top, bottom);
  EXPECT_EQ(left, top);
  EXPECT_LT(left.g, 230);  // some glow there
  EXPECT_EQ(bmp.GetPixel(50, 50), (gdi::Color{0, 0, 0}));
}

TEST(As3MoreFilters, TheTimelinesFiltersReadBackAsNewObjectsUntilAScriptSetsThem) {
  // A bevel (highlight written before shadow) and a blur placed by the
  // timeline: read as filter objects with Flash's fields, a new array each
  // time; once a script sets the list, that list.
  As3Movie d;
  d.defineTags = [](testing::SwfBuilder& b) {
    testing::ShapeBuilder square;
    square.Rectangle(0, 0, 400, 400, square.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, square);
    testing::SwfWriter f;
    f.U8(2);
    f.U8(3);                       // bevel
    f.Rgba({255, 0, 0, 255});      // highlight
    f.Rgba({0, 0, 255, 128});      // shadow
    f.Fixed16(3), f.Fixed16(5);    // blur
    f.Fixed16(0), f.Fixed16(2);    // angle, distance
    f.Fixed8(1.5);
    f.UB(1, 1), f.UB(0, 1), f.UB(1, 1), f.UB(0, 1), f.UB(2, 4);  // inner, 2 passes
    f.U8(1);                       // blur
    f.Fixed16(7), f.Fixed16(9);
    f.UB(3, 5), f.UB(0, 3);
    b.PlaceObject3({.depth = 1, .characterId = 1, .name = std::string("box"), .filterList = f.Data()});
  };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("pushstring", {m.S("box")}).Op("callproperty", {m.Q("getChildByName"), 1}).Op("setlocal_1");
    auto trace = [&](int index, const char* field) {
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q("filters")});
      if (index >= 0) c.Op("pushbyte", {index}).Op("getproperty", {m.a.MultinameL(m.a.NsSet({m.pub}))});
      c.Op("getproperty", {m.Q(field)}).Op("callpropvoid", {m.Q("trace"), 1});
    };
    trace(-1, "length");
    for (const char* field : {"highlightColor", "shadowColor", "shadowAlpha", "blurY", "distance", "strength", "quality", "type"})
      trace(0, field);
    trace(1, "blurX");
    trace(1, "quality");
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q("filters")});
    c.Op("getlocal_1").Op("getproperty", {m.Q("filters")}).Op("strictequals").Op("callpropvoid", {m.Q("trace"), 1});
    c.Op("getlocal_1").Op("newarray", {0}).Op("setproperty", {m.Q("filters")});
    trace(-1, "length");
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "2|16711680|255|0.5019607843137255|5|2|1.5|2|inner|7|3|false|0|");
}

TEST(As3MoreFilters, FilterSettingsAreKeptInFlashsRanges) {
  // Blurs 0..255, quality 0..15; a colour matrix is 20 numbers, zeros past
  // what was given.
  As3Movie d;
  const auto blur = d.a.PackageName("flash.filters", "BlurFilter");
  const auto colour = d.a.PackageName("flash.filters", "ColorMatrixFilter");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {blur}).Op("pushdouble", {m.a.Double(-1.2)}).Op("pushshort", {300}).Op("pushbyte", {20})
        .Op("constructprop", {blur, 3}).Op("setlocal_1");
    for (const char* f : {"blurX", "blurY", "quality"})
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q(f)}).Op("callpropvoid", {m.Q("trace"), 1});
    c.Op("findpropstrict", {m.Q("trace")}).Op("findpropstrict", {colour}).Op("pushbyte", {2}).Op("newarray", {1})
        .Op("constructprop", {colour, 1}).Op("getproperty", {m.Q("matrix")}).Op("callpropvoid", {m.Q("trace"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "0|255|15|2,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0|");
  // Alphas kept in bytes, strengths in 256ths; a kernel of matrixX x matrixY
  // single-precision numbers.
  As3Movie e;
  const auto shadow = e.a.PackageName("flash.filters", "DropShadowFilter");
  const auto convolution = e.a.PackageName("flash.filters", "ConvolutionFilter");
  const auto stored = e.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {shadow}).Op("pushbyte", {4}).Op("pushbyte", {45}).Op("pushbyte", {0})
        .Op("pushdouble", {m.a.Double(0.5)}).Op("pushbyte", {4}).Op("pushbyte", {4}).Op("pushdouble", {m.a.Double(1.2)})
        .Op("constructprop", {shadow, 7}).Op("setlocal_1");
    for (const char* f : {"alpha", "strength"})
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q(f)}).Op("callpropvoid", {m.Q("trace"), 1});
    c.Op("findpropstrict", {m.Q("trace")}).Op("findpropstrict", {convolution}).Op("pushbyte", {2}).Op("pushbyte", {1})
        .Op("pushdouble", {m.a.Double(0.1)}).Op("newarray", {1}).Op("constructprop", {convolution, 3})
        .Op("getproperty", {m.Q("matrix")}).Op("callpropvoid", {m.Q("trace"), 1});
  });
  EXPECT_EQ(As3Traced(stored, [](FlashPlayer&) {}), "0.4980392156862745|1.19921875|0.10000000149011612,0|");
}

}  // namespace
}  // namespace quarvel::player
