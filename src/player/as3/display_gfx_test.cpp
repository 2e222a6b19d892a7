// ActionScript 3 drawing into bitmaps and filters, seen in the rendered
// picture: BitmapData.draw with its matrix, colour transform and clip, and
// the blur filter's quality.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <tuple>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/abc_builder.h"
#include "support/as3_movie.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

using avm2::TraitKind;
using testing::AbcBuilder;
using testing::AbcCode;

// A one-frame movie, 100 x 100 pixels on white, whose document class (a
// Sprite) runs the code `body` writes after super().
struct Movie {
  AbcBuilder a;
  std::uint32_t pub = a.Namespace(avm2::NamespaceKind::kPackage, "");
  std::uint32_t Q(std::string_view n) { return a.QName(pub, n); }
  std::uint32_t Cls(std::string_view pkg, std::string_view n) { return a.PackageName(pkg, n); }
  std::uint32_t Method(const AbcCode& c) {
    const auto m = a.Method(avm2::MethodInfo{});
    a.Body({.method = m, .maxStack = 32, .localCount = 8, .maxScopeDepth = 4}, c);
    return m;
  }
  // new pkg.name(numbers...)
  AbcCode& New(AbcCode& c, std::string_view pkg, std::string_view name, std::initializer_list<double> args) {
    const auto cls = Cls(pkg, name);
    c.Op("findpropstrict", {cls});
    for (double v : args) c.Op("pushdouble", {a.Double(v)});
    return c.Op("constructprop", {cls, static_cast<std::int64_t>(args.size())});
  }
  std::vector<std::uint8_t> Build(const std::function<void(Movie&, AbcCode&)>& body) {
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope").Op("getlocal_0").Op("constructsuper", {0});
    body(*this, c);
    c.Op("returnvoid");
    avm2::InstanceInfo ii;
    ii.name = Q("Main");
    ii.superName = Cls("flash.display", "Sprite");
    ii.flags = avm2::instance_flag::kSealed;
    ii.iinit = Method(c);
    AbcCode cinit;
    cinit.Op("returnvoid");
    const auto cls = a.Class(ii, {.cinit = Method(cinit)});
    AbcCode init;
    init.Op("getlocal_0").Op("pushscope").Op("getscopeobject", {0}).Op("getlex", {Cls("flash.display", "Sprite")})
        .Op("newclass", {cls}).Op("initproperty", {Q("Main")}).Op("returnvoid");
    avm2::Trait t;
    t.name = Q("Main");
    t.kind = TraitKind::kClass;
    t.index = cls;
    a.Script({.init = Method(init), .traits = {t}});
    testing::SwfBuilder b(10, {0, 2000, 0, 2000}, 10.0);
    b.FileAttributes(0x08).SetBackgroundColor({255, 255, 255, 255});
    testing::AddDoAbc(b, a.Bytes(), "main");
    b.ExportAssets({{0, "Main"}}, true);
    b.ShowFrame();
    return b.Build();
  }
};

struct Shown {
  FlashPlayer player;
  gdi::Bitmap bmp;
  explicit Shown(const std::vector<std::uint8_t>& bytes) {
    player.SetSize(100, 100);
    EXPECT_TRUE(player.LoadMovieBytes(bytes)) << player.LoadError();
    player.Paint(bmp);
  }
  gdi::Color At(int x, int y) const { return bmp.GetPixel(x, y); }
};

constexpr gdi::Color kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

// local 1: a Sprite, not on the stage, 20 x 20 red at its origin and moved
// to x = 70 (draw() ignores its own placement); local 2: an opaque blue
// 50 x 50 BitmapData, shown on the stage at the origin.
void RedSpriteAndBlueBitmap(Movie& m, AbcCode& c) {
  m.New(c, "flash.display", "Sprite", {}).Op("setlocal_1");
  c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
      .Op("callpropvoid", {m.Q("beginFill"), 1});
  c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
      .Op("pushbyte", {20}).Op("pushbyte", {20}).Op("callpropvoid", {m.Q("drawRect"), 4});
  c.Op("getlocal_1").Op("pushbyte", {70}).Op("setproperty", {m.Q("x")});
  const auto bd = m.Cls("flash.display", "BitmapData");
  c.Op("findpropstrict", {bd}).Op("pushbyte", {50}).Op("pushbyte", {50}).Op("pushfalse")
      .Op("pushint", {m.a.Int(0x0000FF)}).Op("constructprop", {bd, 4}).Op("setlocal_2");
  c.Op("getlocal_0");
  m.New(c, "flash.display", "Bitmap", {});
  c.Op("dup").Op("getlocal_2").Op("setproperty", {m.Q("bitmapData")}).Op("callpropvoid", {m.Q("addChild"), 1});
}

TEST(As3BitmapDraw, DrawsADisplayObjectWithoutItsPlacementUnderTheMatrix) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    RedSpriteAndBlueBitmap(m, c);
    // bd.draw(sprite, new Matrix(1, 0, 0, 1, 10, 10))
    c.Op("getlocal_2").Op("getlocal_1");
    m.New(c, "flash.geom", "Matrix", {1, 0, 0, 1, 10, 10});
    c.Op("callpropvoid", {m.Q("draw"), 2});
  }));
  EXPECT_EQ(s.At(15, 15), kRed);
  EXPECT_EQ(s.At(28, 28), kRed);
  EXPECT_EQ(s.At(5, 5), kBlue);
  EXPECT_EQ(s.At(35, 35), kBlue);
  EXPECT_EQ(s.At(75, 5), kWhite);  // the sprite itself is not on the stage
  EXPECT_EQ(s.At(60, 20), kWhite);
  for (const auto& f : s.player.SkippedFeatures()) ADD_FAILURE() << f;
}

TEST(As3BitmapDraw, ColorTransformAndClipRectangleApply) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    RedSpriteAndBlueBitmap(m, c);
    // bd.draw(sprite, null, new ColorTransform(0, 1, 1, 1, 0, 255), null, new Rectangle(0, 0, 10, 50))
    c.Op("getlocal_2").Op("getlocal_1").Op("pushnull");
    m.New(c, "flash.geom", "ColorTransform", {0, 1, 1, 1, 0, 255, 0, 0});
    c.Op("pushnull");
    m.New(c, "flash.geom", "Rectangle", {0, 0, 10, 50});
    c.Op("callpropvoid", {m.Q("draw"), 5});
  }));
  EXPECT_EQ(s.At(5, 5), kGreen);   // red made green, inside the clip
  EXPECT_EQ(s.At(15, 5), kBlue);   // outside the clip: untouched
  EXPECT_EQ(s.At(5, 30), kBlue);   // below the drawing
}

// A small object drawn far into the bitmap is drawn whole: its strokes
// reach half their width beyond its fill, under the matrix's scale, and
// the bitmap's pixels around it stay as they were.
TEST(As3BitmapDraw, AnObjectsStrokesReachBeyondItsFillUnderTheMatrix) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    RedSpriteAndBlueBitmap(m, c);
    // sprite.graphics.endFill(); lineStyle(4, 0x00FF00); drawRect(0, 0, 20, 20) around the red;
    // bd.draw(sprite, new Matrix(1.5, 0, 0, 1.5, 12, 12))
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("callpropvoid", {m.Q("endFill"), 0});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {4}).Op("pushint", {m.a.Int(0x00FF00)})
        .Op("callpropvoid", {m.Q("lineStyle"), 2});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
        .Op("pushbyte", {20}).Op("pushbyte", {20}).Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_2").Op("getlocal_1");
    m.New(c, "flash.geom", "Matrix", {1.5, 0, 0, 1.5, 12, 12});
    c.Op("callpropvoid", {m.Q("draw"), 2});
  }));
  // The stroke is 6 pixels wide once scaled: 9..15 and 39..45 on each axis.
  EXPECT_EQ(s.At(9, 25), kGreen);
  EXPECT_EQ(s.At(44, 25), kGreen);
  EXPECT_EQ(s.At(25, 9), kGreen);
  EXPECT_EQ(s.At(25, 44), kGreen);
  EXPECT_EQ(s.At(25, 25), kRed);
  EXPECT_EQ(s.At(7, 25), kBlue);
  EXPECT_EQ(s.At(47, 47), kBlue);
  EXPECT_EQ(s.At(2, 2), kBlue);
}

TEST(As3BitmapDraw, BitmapDataSourceIsScaledWithoutSmoothing) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    RedSpriteAndBlueBitmap(m, c);
    // var src = new BitmapData(2, 2, false, 0xFF0000); src.setPixel(1, 1, 0x00FF00);
    // bd.draw(src, new Matrix(10, 0, 0, 10, 0, 0))
    const auto bd = m.Cls("flash.display", "BitmapData");
    c.Op("findpropstrict", {bd}).Op("pushbyte", {2}).Op("pushbyte", {2}).Op("pushfalse")
        .Op("pushint", {m.a.Int(0xFF0000)}).Op("constructprop", {bd, 4}).Op("setlocal_3");
    c.Op("getlocal_3").Op("pushbyte", {1}).Op("pushbyte", {1}).Op("pushint", {m.a.Int(0x00FF00)})
        .Op("callpropvoid", {m.Q("setPixel"), 3});
    c.Op("getlocal_2").Op("getlocal_3");
    m.New(c, "flash.geom", "Matrix", {10, 0, 0, 10, 0, 0});
    c.Op("callpropvoid", {m.Q("draw"), 2});
  }));
  EXPECT_EQ(s.At(1, 1), kRed);
  EXPECT_EQ(s.At(18, 2), kRed);
  EXPECT_EQ(s.At(11, 11), kGreen);  // the one green pixel, ten times over
  EXPECT_EQ(s.At(19, 19), kGreen);
  EXPECT_EQ(s.At(25, 25), kBlue);
}

// new BlurFilter(blurX, 1, quality) on a one-pixel white line of an opaque
// black bitmap, applied to itself: quality 0 blurs nothing; quality 1 is
// one box of three pixels (255 / 3 = 85).
TEST(As3Filters, BlurQualityIsThePassCountAndZeroBlursNothing) {
  for (int quality : {0, 1}) {
    Movie d;
    Shown s(d.Build([quality](Movie& m, AbcCode& c) {
      const auto bd = m.Cls("flash.display", "BitmapData");
      c.Op("findpropstrict", {bd}).Op("pushbyte", {40}).Op("pushbyte", {40}).Op("pushfalse")
          .Op("pushint", {m.a.Int(0)}).Op("constructprop", {bd, 4}).Op("setlocal_2");
      c.Op("getlocal_2");
      m.New(c, "flash.geom", "Rectangle", {20, 0, 1, 40});
      c.Op("pushint", {m.a.Int(0xFFFFFF)}).Op("callpropvoid", {m.Q("fillRect"), 2});
      c.Op("getlocal_2").Op("getlocal_2");
      m.New(c, "flash.geom", "Rectangle", {0, 0, 40, 40});
      m.New(c, "flash.geom", "Point", {0, 0});
      m.New(c, "flash.filters", "BlurFilter", {3, 1, static_cast<double>(quality)});
      c.Op("callpropvoid", {m.Q("applyFilter"), 4});
      c.Op("getlocal_0");
      m.New(c, "flash.display", "Bitmap", {});
      c.Op("dup").Op("getlocal_2").Op("setproperty", {m.Q("bitmapData")}).Op("callpropvoid", {m.Q("addChild"), 1});
    }));
    if (quality == 0) {
      EXPECT_EQ(s.At(20, 10), kWhite);
      EXPECT_EQ(s.At(19, 10), (gdi::Color{0, 0, 0}));
    } else {
      EXPECT_EQ(s.At(20, 10), (gdi::Color{85, 85, 85}));
      EXPECT_EQ(s.At(19, 10), (gdi::Color{85, 85, 85}));
      EXPECT_EQ(s.At(18, 10), (gdi::Color{0, 0, 0}));
    }
  }
}

// applyFilter with a shadow writes everything the shadow reaches around the
// source rectangle, replacing the destination there: a knocked-out shadow of
// a white square into a white-filled bitmap leaves only the shadow, with the
// background showing through around and under the square.
TEST(As3Filters, AppliedShadowReplacesTheWholeAreaItCasts) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    const auto bd = m.Cls("flash.display", "BitmapData");
    c.Op("getlocal_0").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0x0000FF)})
        .Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_0").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
        .Op("pushbyte", {100}).Op("pushbyte", {100}).Op("callpropvoid", {m.Q("drawRect"), 4});
    // var dst = new BitmapData(40, 40): transparent, filled opaque white.
    c.Op("findpropstrict", {bd}).Op("pushbyte", {40}).Op("pushbyte", {40}).Op("constructprop", {bd, 2}).Op("setlocal_2");
    // var src = new BitmapData(10, 10, true, 0xFFFFFFFF)
    c.Op("findpropstrict", {bd}).Op("pushbyte", {10}).Op("pushbyte", {10}).Op("pushtrue")
        .Op("pushint", {m.a.Int(-1)}).Op("constructprop", {bd, 4}).Op("setlocal_3");
    c.Op("getlocal_2").Op("getlocal_3");
    m.New(c, "flash.geom", "Rectangle", {0, 0, 10, 10});
    m.New(c, "flash.geom", "Point", {15, 15});
    m.New(c, "flash.filters", "DropShadowFilter", {4, 45, 0, 1, 4, 4, 1, 1, 0, 1});
    c.Op("callpropvoid", {m.Q("applyFilter"), 4});
    c.Op("getlocal_0");
    m.New(c, "flash.display", "Bitmap", {});
    c.Op("dup").Op("getlocal_2").Op("setproperty", {m.Q("bitmapData")}).Op("callpropvoid", {m.Q("addChild"), 1});
  }));
  EXPECT_EQ(s.At(5, 5), kWhite);     // beyond the shadow's reach: untouched
  EXPECT_EQ(s.At(14, 14), kBlue);    // within the reach, no shadow: cleared
  EXPECT_EQ(s.At(20, 20), kBlue);    // the square itself, knocked out
  const gdi::Color shadow = s.At(26, 26);
  EXPECT_LT(shadow.r, 60);
  EXPECT_LT(shadow.b, 100);
  EXPECT_EQ(s.At(36, 36), kWhite);
}


// A mask covers fully where it draws anything, whatever its alpha; it masks
// by alpha only when mask and maskee are both cached as bitmaps.
TEST(As3Masks, MaskAlphaCountsOnlyWhenBothAreCachedAsBitmaps) {
  for (const bool cached : {false, true}) {
    Movie d;
    Shown s(d.Build([cached](Movie& m, AbcCode& c) {
      // var s = new Sprite(): red 0..100; var k = new Shape(): 50 % black 0..50; s.mask = k
      m.New(c, "flash.display", "Sprite", {}).Op("setlocal_1");
      m.New(c, "flash.display", "Shape", {}).Op("setlocal_2");
      c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
          .Op("callpropvoid", {m.Q("beginFill"), 1});
      c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
          .Op("pushbyte", {100}).Op("pushbyte", {100}).Op("callpropvoid", {m.Q("drawRect"), 4});
      c.Op("getlocal_2").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0)})
          .Op("pushdouble", {m.a.Double(0.5)}).Op("callpropvoid", {m.Q("beginFill"), 2});
      c.Op("getlocal_2").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
          .Op("pushbyte", {50}).Op("pushbyte", {50}).Op("callpropvoid", {m.Q("drawRect"), 4});
      c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
      c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
      if (cached) {
        c.Op("getlocal_1").Op("pushtrue").Op("setproperty", {m.Q("cacheAsBitmap")});
        c.Op("getlocal_2").Op("pushtrue").Op("setproperty", {m.Q("cacheAsBitmap")});
      }
      c.Op("getlocal_1").Op("getlocal_2").Op("setproperty", {m.Q("mask")});
    }));
    const gdi::Color in = s.At(25, 25);
    if (cached) {
      EXPECT_EQ(in.r, 255);
      EXPECT_NEAR(in.g, 128, 2);  // half red over white
    } else {
      EXPECT_EQ(in, kRed);
    }
    EXPECT_EQ(s.At(75, 75), kWhite);
  }
}


// local 1: a red Sprite 0..60 square moved to (20, 20); local 2: a Shape,
// not on the stage, 0..30 square moved to (-10, -10), the sprite's mask.
void RedSpriteMaskedByAShape(Movie& m, AbcCode& c) {
  m.New(c, "flash.display", "Sprite", {}).Op("setlocal_1");
  m.New(c, "flash.display", "Shape", {}).Op("setlocal_2");
  c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
      .Op("callpropvoid", {m.Q("beginFill"), 1});
  c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
      .Op("pushbyte", {60}).Op("pushbyte", {60}).Op("callpropvoid", {m.Q("drawRect"), 4});
  c.Op("getlocal_2").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0)})
      .Op("callpropvoid", {m.Q("beginFill"), 1});
  c.Op("getlocal_2").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
      .Op("pushbyte", {30}).Op("pushbyte", {30}).Op("callpropvoid", {m.Q("drawRect"), 4});
  for (const char* p : {"x", "y"}) c.Op("getlocal_1").Op("pushbyte", {20}).Op("setproperty", {m.Q(p)});
  for (const char* p : {"x", "y"}) c.Op("getlocal_2").Op("pushbyte", {-10}).Op("setproperty", {m.Q(p)});
  c.Op("getlocal_1").Op("getlocal_2").Op("setproperty", {m.Q("mask")});
}

// draw() leaves out the object's own placement but keeps its mask, placed
// where the mask stands on the stage.
TEST(As3BitmapDraw, TheObjectsMaskStillMasksAtItsStagePlace) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    RedSpriteMaskedByAShape(m, c);
    const auto bd = m.Cls("flash.display", "BitmapData");
    c.Op("findpropstrict", {bd}).Op("pushbyte", {100}).Op("pushbyte", {100}).Op("pushfalse")
        .Op("pushint", {m.a.Int(0x0000FF)}).Op("constructprop", {bd, 4}).Op("setlocal_3");
    c.Op("getlocal_3").Op("getlocal_1").Op("callpropvoid", {m.Q("draw"), 1});
    c.Op("getlocal_0");
    m.New(c, "flash.display", "Bitmap", {});
    c.Op("dup").Op("getlocal_3").Op("setproperty", {m.Q("bitmapData")}).Op("callpropvoid", {m.Q("addChild"), 1});
  }));
  EXPECT_EQ(s.At(5, 5), kRed);     // under the mask's -10..20
  EXPECT_EQ(s.At(25, 25), kBlue);  // the sprite's square, outside the mask
}

// A masked object's blend mode mixes with what lies below it, not with an
// empty group: a difference of green over white shows magenta.
TEST(As3Masks, AMaskedObjectBlendsWithTheBackdrop) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    RedSpriteMaskedByAShape(m, c);
    c.Op("getlocal_1");
    m.New(c, "flash.geom", "ColorTransform", {0, 0, 0, 1, 0, 255, 0, 0});
    c.Op("setlocal_3").Op("getproperty", {m.Q("transform")}).Op("getlocal_3").Op("setproperty", {m.Q("colorTransform")});
    c.Op("getlocal_1").Op("pushstring", {m.a.String("difference")}).Op("setproperty", {m.Q("blendMode")});
    for (const char* p : {"x", "y"}) c.Op("getlocal_2").Op("pushbyte", {30}).Op("setproperty", {m.Q(p)});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
  }));
  EXPECT_EQ(s.At(45, 45), (gdi::Color{255, 0, 255}));  // sprite and mask overlap
  EXPECT_EQ(s.At(25, 25), kWhite);                      // sprite only: masked away
  EXPECT_EQ(s.At(70, 70), kWhite);
}

// this.graphics.<method>(...) with the arguments `args` pushed first.
void Draw(Movie& m, AbcCode& c, std::string_view method, int argc, const std::function<void()>& args) {
  c.Op("getlocal_0").Op("getproperty", {m.Q("graphics")});
  args();
  c.Op("callpropvoid", {m.Q(method), argc});
}
// new <Vector.<type>>([values]) as an array literal converted by the script.
void PushNumbers(Movie& m, AbcCode& c, std::initializer_list<double> values) {
  for (double v : values) c.Op("pushdouble", {m.a.Double(v)});
  c.Op("newarray", {static_cast<std::int64_t>(values.size())});
}
void RedFill(Movie& m, AbcCode& c) {
  Draw(m, c, "beginFill", 1, [&] { c.Op("pushint", {m.a.Int(0xFF0000)}); });
}

// Two squares overlapping at 20..40, drawn by one drawPath of the same turn:
// even-odd leaves the overlap empty, non-zero fills it.
TEST(As3Graphics, DrawPathWindingDecidesTheOverlap) {
  for (const bool nonZero : {false, true}) {
    Movie d;
    Shown s(d.Build([nonZero](Movie& m, AbcCode& c) {
      RedFill(m, c);
      Draw(m, c, "drawPath", 3, [&] {
        PushNumbers(m, c, {1, 2, 2, 2, 2, 1, 2, 2, 2, 2});
        PushNumbers(m, c, {0, 0, 40, 0, 40, 40, 0, 40, 0, 0, 20, 20, 60, 20, 60, 60, 20, 60, 20, 20});
        c.Op("pushstring", {m.a.String(nonZero ? "nonZero" : "evenOdd")});
      });
    }));
    EXPECT_EQ(s.At(10, 10), kRed);
    EXPECT_EQ(s.At(50, 50), kRed);
    EXPECT_EQ(s.At(30, 30), nonZero ? kRed : kWhite);
  }
}

// beginGradientFill with a null alpha list draws every stop opaque; with a
// null ratio list it spreads the stops evenly over the default 100-pixel box.
TEST(As3Graphics, GradientFillWithNullAlphasOrRatios) {
  for (const bool alphas : {false, true}) {
    Movie d;
    Shown s(d.Build([alphas](Movie& m, AbcCode& c) {
      Draw(m, c, "beginGradientFill", 4, [&] {
        c.Op("pushstring", {m.a.String("linear")});
        PushNumbers(m, c, {0xFF0000, 0x0000FF, 0x00FF00});
        if (alphas) PushNumbers(m, c, {1, 1, 1});
        else c.Op("pushnull");
        c.Op("pushnull");
      });
      Draw(m, c, "drawRect", 4, [&] {
        for (int v : {0, 0, 100, 100}) c.Op("pushint", {m.a.Int(v)});
      });
    }));
    // Opaque: nothing of the white background mixes in (green stays 0 at the red end).
    auto near = [](gdi::Color got, gdi::Color want) {
      return std::abs(got.r - want.r) + std::abs(got.g - want.g) + std::abs(got.b - want.b) <= 12;
    };
    EXPECT_PRED2(near, s.At(0, 50), kRed) << alphas;
    EXPECT_PRED2(near, s.At(50, 50), kBlue) << alphas << ": ratio 127 of 0, 127 and 255";
    EXPECT_PRED2(near, s.At(99, 50), kGreen) << alphas;
  }
}

// Coordinates that are not numbers are 0, in paths and meshes alike (a NaN
// once reached an integer conversion of the bounds).
TEST(As3Graphics, PathAndMeshCoordinatesThatAreNotNumbersAreZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const char* method : {"drawPath", "drawTriangles"}) {
    Movie d;
    const std::string name = method;
    Shown s(d.Build([&](Movie& m, AbcCode& c) {
      RedFill(m, c);
      if (name == "drawPath") {
        Draw(m, c, "drawPath", 2, [&] {
          PushNumbers(m, c, {1, 2, 2, 2, 2});
          PushNumbers(m, c, {nan, nan, 40, 0, 40, 40, nan, 40, 0, nan});
        });
      } else {
        Draw(m, c, "drawTriangles", 1, [&] { PushNumbers(m, c, {nan, nan, 40, 0, nan, 40}); });
      }
    }));
    EXPECT_EQ(s.At(5, 5), kRed) << name;
    EXPECT_EQ(s.At(60, 60), kWhite) << name;
  }
}

// Two triangles of opposite turns; "positive" culling drops the one whose
// turn (b - a) x (c - a) is positive (clockwise on the y-down stage).
TEST(As3Graphics, DrawTrianglesFillsEachAndCullsByTurn) {
  for (const char* culling : {"none", "positive", "negative"}) {
    Movie d;
    Shown s(d.Build([culling](Movie& m, AbcCode& c) {
      RedFill(m, c);
      Draw(m, c, "drawTriangles", 4, [&] {
        // Left: (0,0) (40,0) (0,40), clockwise on screen; right: (60,0) (60,40) (100,0).
        PushNumbers(m, c, {0, 0, 40, 0, 0, 40, 60, 0, 60, 40, 100, 0});
        c.Op("pushnull").Op("pushnull").Op("pushstring", {m.a.String(culling)});
      });
    }));
    const std::string cull = culling;
    EXPECT_EQ(s.At(10, 10), cull == "positive" ? kWhite : kRed) << cull;
    EXPECT_EQ(s.At(70, 10), cull == "negative" ? kWhite : kRed) << cull;
    EXPECT_EQ(s.At(35, 35), kWhite);
  }
}

// copyFrom takes the other drawing as it is; lineBitmapStyle strokes with
// the bitmap's pixels.
TEST(As3Graphics, CopyFromAndLineBitmapStyle) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    // var sh = new Shape(): red 0..30; addChild(sh); var t = new Shape(); t.x = 50;
    // t.graphics.copyFrom(sh.graphics); addChild(t)
    m.New(c, "flash.display", "Shape", {}).Op("setlocal_1");
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
        .Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
        .Op("pushbyte", {30}).Op("pushbyte", {30}).Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    m.New(c, "flash.display", "Shape", {}).Op("setlocal_2");
    c.Op("getlocal_2").Op("pushbyte", {50}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_2").Op("getproperty", {m.Q("graphics")}).Op("getlocal_1").Op("getproperty", {m.Q("graphics")})
        .Op("callpropvoid", {m.Q("copyFrom"), 1});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    // A 10 pixel line across y = 80 stroked with a green bitmap.
    const auto bd = m.Cls("flash.display", "BitmapData");
    c.Op("findpropstrict", {bd}).Op("pushbyte", {4}).Op("pushbyte", {4}).Op("pushfalse")
        .Op("pushint", {m.a.Int(0x00FF00)}).Op("constructprop", {bd, 4}).Op("setlocal_3");
    Draw(m, c, "lineStyle", 1, [&] { c.Op("pushbyte", {10}); });
    Draw(m, c, "lineBitmapStyle", 1, [&] { c.Op("getlocal_3"); });
    Draw(m, c, "moveTo", 2, [&] { c.Op("pushbyte", {10}).Op("pushbyte", {80}); });
    Draw(m, c, "lineTo", 2, [&] { c.Op("pushbyte", {90}).Op("pushbyte", {80}); });
  }));
  EXPECT_EQ(s.At(15, 15), kRed);
  EXPECT_EQ(s.At(65, 15), kRed);  // the copy, moved with its own shape
  EXPECT_EQ(s.At(40, 15), kWhite);
  EXPECT_EQ(s.At(50, 78), kGreen);
  EXPECT_EQ(s.At(50, 90), kWhite);
  for (const auto& f : s.player.SkippedFeatures()) ADD_FAILURE() << f;
}


// uvtData maps each corner to a place on the bitmap fill: two triangles
// with the bitmap's corners stretch its four pixels over a 40 pixel square.
TEST(As3Graphics, DrawTrianglesWithUvtDataStretchesTheBitmapFill) {
  Movie d;
  Shown s(d.Build([](Movie& m, AbcCode& c) {
    // var bd = new BitmapData(2, 2, false, 0xFF0000); green, blue and yellow pixels
    const auto bd = m.Cls("flash.display", "BitmapData");
    c.Op("findpropstrict", {bd}).Op("pushbyte", {2}).Op("pushbyte", {2}).Op("pushfalse")
        .Op("pushint", {m.a.Int(0xFF0000)}).Op("constructprop", {bd, 4}).Op("setlocal_1");
    for (auto [x, y, color] : {std::tuple{1, 0, 0x00FF00}, std::tuple{0, 1, 0x0000FF}, std::tuple{1, 1, 0xFFFF00}}) {
      c.Op("getlocal_1").Op("pushbyte", {x}).Op("pushbyte", {y}).Op("pushint", {m.a.Int(color)})
          .Op("callpropvoid", {m.Q("setPixel"), 3});
    }
    Draw(m, c, "beginBitmapFill", 4, [&] { c.Op("getlocal_1").Op("pushnull").Op("pushfalse").Op("pushfalse"); });
    Draw(m, c, "drawTriangles", 3, [&] {
      PushNumbers(m, c, {0, 0, 40, 0, 0, 40, 40, 40});
      PushNumbers(m, c, {0, 1, 2, 1, 3, 2});
      PushNumbers(m, c, {0, 0, 1, 0, 0, 1, 1, 1});
    });
  }));
  EXPECT_EQ(s.At(10, 10), kRed);
  EXPECT_EQ(s.At(30, 10), kGreen);
  EXPECT_EQ(s.At(10, 30), kBlue);
  EXPECT_EQ(s.At(30, 30), (gdi::Color{255, 255, 0}));
  EXPECT_EQ(s.At(50, 50), kWhite);
}

// The drawing arguments Flash refuses, each the first error of its movie:
// a path whose numbers run out, a mesh of a partial triangle, a winding or
// culling it does not name (GraphicsPath's own ActionScript throws through
// Error.throwError, which its stack names).
TEST(As3Graphics, DrawingArgumentsFlashRefuses) {
  auto firstError = [](const std::function<void(testing::As3Movie&, AbcCode&)>& body) {
    testing::As3Movie d;
    const auto out = testing::As3Traced(d.Build(body), [](FlashPlayer&) {});
    return out.substr(0, out.find('|'));
  };
  auto graphics = [](testing::As3Movie& m, AbcCode& c) {
    const auto shape = m.Display("Shape");
    c.Op("findpropstrict", {shape}).Op("constructprop", {shape, 0}).Op("getproperty", {m.Q("graphics")});
  };
  // Vector.<type>([v...])
  auto vector = [](testing::As3Movie& m, AbcCode& c, const char* type, std::initializer_list<double> v) {
    c.Op("getlex", {m.a.PackageName("__AS3__.vec", "Vector")}).Op("getlex", {m.Q(type)}).Op("applytype", {1});
    c.Op("pushnull");
    for (double x : v) c.Op("pushdouble", {m.a.Double(x)});
    c.Op("newarray", {static_cast<std::int64_t>(v.size())}).Op("call", {1});
  };
  auto numbers = [&](testing::As3Movie& m, AbcCode& c, std::initializer_list<double> v) { vector(m, c, "Number", v); };
  // drawPath([move, line], [1, 2, 3]): the line has one number of two.
  EXPECT_EQ(firstError([&](testing::As3Movie& m, AbcCode& c) {
              graphics(m, c);
              vector(m, c, "int", {1, 2});
              numbers(m, c, {1, 2, 3});
              c.Op("callpropvoid", {m.Q("drawPath"), 2});
            }),
            "ArgumentError: Error #2004: One of the parameters is invalid.");
  // drawTriangles of five numbers.
  EXPECT_EQ(firstError([&](testing::As3Movie& m, AbcCode& c) {
              graphics(m, c);
              numbers(m, c, {0, 0, 10, 0, 10});
              c.Op("callpropvoid", {m.Q("drawTriangles"), 1});
            }),
            "ArgumentError: Error #2004: One of the parameters is invalid.");
  // drawTriangles of a whole triangle but an unknown culling.
  EXPECT_EQ(firstError([&](testing::As3Movie& m, AbcCode& c) {
              graphics(m, c);
              numbers(m, c, {0, 0, 10, 0, 10, 10});
              c.Op("pushnull").Op("pushnull").Op("pushstring", {m.a.String("both")});
              c.Op("callpropvoid", {m.Q("drawTriangles"), 4});
            }),
            "ArgumentError: Error #2004: One of the parameters is invalid.");
  // new GraphicsPath(null, null, "nonzero"): the case matters.
  EXPECT_EQ(firstError([&](testing::As3Movie& m, AbcCode& c) {
              const auto path = m.Display("GraphicsPath");
              c.Op("findpropstrict", {path}).Op("pushnull").Op("pushnull").Op("pushstring", {m.a.String("nonzero")});
              c.Op("constructprop", {path, 3}).Op("pop");
            }),
            "ArgumentError: Error #2008: Parameter winding must be one of the accepted values.");
}

}  // namespace
}  // namespace quarvel::player
