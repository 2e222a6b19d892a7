// The ActionScript 3 machine in the player: document classes, frame
// scripts and the display list, seen in the rendered picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/as3_movie.h"
#include "support/shape_builder.h"

namespace quarvel::player {
namespace {

using testing::AbcBuilder;
using testing::AbcCode;

using testing::As3Movie;

// this.<on>.<method>(ints...)
void Call(As3Movie& m, AbcCode& c, std::string_view on, std::string_view method, std::vector<int> ints) {
  c.Op("getlocal_0");
  if (!on.empty()) c.Op("getproperty", {m.Q(on)});
  for (int i : ints) c.Op("pushint", {m.a.Int(i)});
  c.Op("callpropvoid", {m.Q(method), static_cast<std::int64_t>(ints.size())});
}

gdi::Color Pixel(FlashPlayer& p, int x, int y) {
  gdi::Bitmap bmp;
  p.Paint(bmp);
  return bmp.GetPixel(x, y);
}

TEST(As3Display, FrameScriptWithStopHoldsTheTimeline) {
  // addFrameScript(1, frame2): frame2 calls stop().
  As3Movie d;
  AbcCode frame2;
  frame2.Op("getlocal_0").Op("callpropvoid", {d.Q("stop"), 0}).Op("returnvoid");
  const auto bytes = d.Build(
      [](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushbyte", {1}).Op("getlocal_0").Op("getproperty", {m.Q("frame2")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      4, {{"frame2", frame2}});
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  EXPECT_EQ(p.CurrentFrame(), 0);
  p.AdvanceTo(p.Now() + 450);
  EXPECT_EQ(p.CurrentFrame(), 1);
  EXPECT_FALSE(p.Playing());
  for (const auto& s : p.SkippedFeatures()) ADD_FAILURE() << s;
}

TEST(As3Display, StopInTheFirstFrameScriptStopsBeforeTheSecondFrame) {
  As3Movie d;
  AbcCode frame1;
  frame1.Op("getlocal_0").Op("callpropvoid", {d.Q("stop"), 0}).Op("returnvoid");
  const auto bytes = d.Build(
      [](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushbyte", {0}).Op("getlocal_0").Op("getproperty", {m.Q("frame1")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      3, {{"frame1", frame1}});
  FlashPlayer p;
  ASSERT_TRUE(p.LoadMovieBytes(bytes));
  p.AdvanceTo(p.Now() + 1000);
  EXPECT_EQ(p.CurrentFrame(), 0);
}

TEST(As3Display, DocumentClassDrawsWithGraphics) {
  As3Movie d;
  const auto bytes = d.Build([](As3Movie& m, AbcCode& c) {
    Call(m, c, "graphics", "beginFill", {0x0000FF});
    Call(m, c, "graphics", "drawRect", {10, 10, 50, 50});
    Call(m, c, "graphics", "endFill", {});
    Call(m, c, "graphics", "beginFill", {0xFF0000});
    Call(m, c, "graphics", "drawCircle", {80, 80, 10});
  });
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  EXPECT_EQ(Pixel(p, 30, 30), (gdi::Color{0, 0, 255}));
  EXPECT_EQ(Pixel(p, 80, 80), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(Pixel(p, 5, 5), (gdi::Color{255, 255, 255}));
  EXPECT_EQ(Pixel(p, 95, 60), (gdi::Color{255, 255, 255}));
}

// Two squares made with new Sprite(): red at 0..60, green at 20..80, added
// in that order; `reorder` then puts the green one below with addChildAt.
std::vector<std::uint8_t> TwoSprites(bool reorder) {
  As3Movie d;
  return d.Build([reorder](As3Movie& m, AbcCode& c) {
    for (int i = 0; i < 2; ++i) {
      c.Op("findpropstrict", {m.Display("Sprite")}).Op("constructprop", {m.Display("Sprite"), 0}).Op("setlocal", {1 + i});
      c.Op("getlocal", {1 + i}).Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(i ? 0x00FF00 : 0xFF0000)})
          .Op("callpropvoid", {m.Q("beginFill"), 1});
      c.Op("getlocal", {1 + i}).Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0})
          .Op("pushbyte", {60}).Op("pushbyte", {60}).Op("callpropvoid", {m.Q("drawRect"), 4});
      c.Op("getlocal", {1 + i}).Op("pushbyte", {static_cast<std::int64_t>(20 * i)}).Op("setproperty", {m.Q("x")});
      c.Op("getlocal", {1 + i}).Op("pushbyte", {static_cast<std::int64_t>(20 * i)}).Op("setproperty", {m.Q("y")});
      c.Op("getlocal_0").Op("getlocal", {1 + i}).Op("callpropvoid", {m.Q("addChild"), 1});
    }
    if (reorder) c.Op("getlocal_0").Op("getlocal_2").Op("pushbyte", {0}).Op("callpropvoid", {m.Q("addChildAt"), 2});
  });
}

TEST(As3Display, AddChildStacksInOrderAndAddChildAtReorders) {
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(TwoSprites(false)));
  EXPECT_EQ(Pixel(p, 40, 40), (gdi::Color{0, 255, 0}));   // the later one on top
  EXPECT_EQ(Pixel(p, 10, 10), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(Pixel(p, 70, 70), (gdi::Color{0, 255, 0}));
  ASSERT_TRUE(p.LoadMovieBytes(TwoSprites(true)));
  EXPECT_EQ(Pixel(p, 40, 40), (gdi::Color{255, 0, 0}));   // green moved below
  EXPECT_EQ(Pixel(p, 70, 70), (gdi::Color{0, 255, 0}));
}

TEST(As3Display, AScriptErrorIsLoggedAndTheMovieKeepsPlaying) {
  As3Movie d;
  const auto bytes = d.Build(
      [](As3Movie& m, AbcCode& c) {
        c.Op("pushnull").Op("getproperty", {m.Q("nothing")}).Op("pop");
      },
      3);
  FlashPlayer p;
  ASSERT_TRUE(p.LoadMovieBytes(bytes));
  p.AdvanceTo(p.Now() + 150);
  EXPECT_EQ(p.CurrentFrame(), 1);
  const auto skipped = p.SkippedFeatures();
  EXPECT_TRUE(std::any_of(skipped.begin(), skipped.end(), [](const std::string& s) { return s.find("#1009") != std::string::npos; }));
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

// Runs the movie for `ms` and returns what it traced.
std::string Traced(const std::vector<std::uint8_t>& bytes, int ms) {
  return testing::As3Traced(bytes, [ms](FlashPlayer& p) { p.AdvanceTo(p.Now() + ms); });
}

// function (e) { trace(label + e.eventPhase) }
AbcCode Tracer(As3Movie& d, std::string_view label, bool phase) {
  AbcCode c;
  c.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.a.String(label)});
  if (phase) c.Op("getlocal_1").Op("getproperty", {d.Q("eventPhase")}).Op("add");
  c.Op("callpropvoid", {d.Q("trace"), 1}).Op("returnvoid");
  return c;
}

TEST(As3Display, EventsGoThroughCaptureTargetAndBubblePhasesInOrder) {
  As3Movie d;
  const auto capture = d.Method(Tracer(d, "capture ", true), 1);
  const auto target = d.Method(Tracer(d, "target ", true), 1);
  const auto bubble = d.Method(Tracer(d, "bubble ", true), 1);
  const auto ev = d.a.PackageName("flash.events", "Event");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Display("Sprite")}).Op("constructprop", {m.Display("Sprite"), 0}).Op("setlocal_1");
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_0").Op("pushstring", {m.a.String("ping")}).Op("newfunction", {bubble}).Op("callpropvoid", {m.Q("addEventListener"), 2});
    c.Op("getlocal_1").Op("pushstring", {m.a.String("ping")}).Op("newfunction", {target}).Op("callpropvoid", {m.Q("addEventListener"), 2});
    c.Op("getlocal_0").Op("pushstring", {m.a.String("ping")}).Op("newfunction", {capture}).Op("pushtrue")
        .Op("callpropvoid", {m.Q("addEventListener"), 3});
    c.Op("getlocal_1").Op("findpropstrict", {ev}).Op("pushstring", {m.a.String("ping")}).Op("pushtrue")
        .Op("constructprop", {ev, 2}).Op("callpropvoid", {m.Q("dispatchEvent"), 1});
    // Without bubbles the parent's bubble listener does not hear it.
    c.Op("getlocal_1").Op("findpropstrict", {ev}).Op("pushstring", {m.a.String("ping")})
        .Op("constructprop", {ev, 1}).Op("callpropvoid", {m.Q("dispatchEvent"), 1});
  });
  EXPECT_EQ(Traced(bytes, 0), "capture 1|target 2|bubble 3|capture 1|target 2|");
}

TEST(As3Display, AFrameRunsEnterFrameThenItsScriptThenExitFrame) {
  As3Movie d;
  const auto enter = d.Method(Tracer(d, "enter", false), 1);
  const auto exit = d.Method(Tracer(d, "exit", false), 1);
  AbcCode script;
  script.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.a.String("script")}).Op("callpropvoid", {d.Q("trace"), 1})
      .Op("getlocal_0").Op("callpropvoid", {d.Q("stop"), 0}).Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushstring", {m.a.String("enterFrame")}).Op("newfunction", {enter})
            .Op("callpropvoid", {m.Q("addEventListener"), 2});
        c.Op("getlocal_0").Op("pushstring", {m.a.String("exitFrame")}).Op("newfunction", {exit})
            .Op("callpropvoid", {m.Q("addEventListener"), 2});
        c.Op("getlocal_0").Op("pushbyte", {1}).Op("getlocal_0").Op("getproperty", {m.Q("frame2")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      3, {{"frame2", script}});
  // Frame 1: its exitFrame; frame 2: enterFrame, the script (stop), exitFrame;
  // then stopped, each frame still has enterFrame and exitFrame.
  EXPECT_EQ(Traced(bytes, 150), "exit|enter|script|exit|");
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

TEST(As3Display, BitmapShowsItsBitmapDataAndLaterChanges) {
  // var bd = new BitmapData(40, 40, false, 0xFF0000); addChild(new Bitmap(bd));
  // bd.fillRect(new Rectangle(0, 0, 10, 10), 0x0000FF)
  As3Movie d;
  const auto bd = d.Display("BitmapData"), bitmap = d.Display("Bitmap");
  const auto rect = d.a.PackageName("flash.geom", "Rectangle");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {bd}).Op("pushbyte", {40}).Op("pushbyte", {40}).Op("pushfalse").Op("pushint", {m.a.Int(0xFF0000)})
        .Op("constructprop", {bd, 4}).Op("setlocal_1");
    c.Op("getlocal_0").Op("findpropstrict", {bitmap}).Op("getlocal_1").Op("constructprop", {bitmap, 1})
        .Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_1").Op("findpropstrict", {rect}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {10})
        .Op("pushbyte", {10}).Op("constructprop", {rect, 4}).Op("pushint", {m.a.Int(0x0000FF)})
        .Op("callpropvoid", {m.Q("fillRect"), 2});
  });
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(bytes));
  EXPECT_EQ(Pixel(p, 30, 30), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(Pixel(p, 5, 5), (gdi::Color{0, 0, 255}));
  EXPECT_EQ(Pixel(p, 60, 60), (gdi::Color{255, 255, 255}));
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

TEST(As3Display, MaskShowsOnlyWhereTheMaskCovers) {
  // var s = new Sprite(); red 0..100; var k = new Shape(); rect 0..50; s.mask = k
  As3Movie d;
  const auto sprite = d.Display("Sprite"), shape = d.Display("Shape");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal_1");
    c.Op("findpropstrict", {shape}).Op("constructprop", {shape, 0}).Op("setlocal_2");
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)}).Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {100})
        .Op("pushbyte", {100}).Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_2").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0)}).Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_2").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {50})
        .Op("pushbyte", {50}).Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_1").Op("getlocal_2").Op("setproperty", {m.Q("mask")});
  });
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(bytes));
  EXPECT_EQ(Pixel(p, 25, 25), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(Pixel(p, 75, 75), (gdi::Color{255, 255, 255}));
}

TEST(As3DisplayRules, BoxesOnTheStageNamesFixedByTheTimelineAndMetaData) {
  // A 100 x 100 red square placed by the timeline as `kid` (scaled to 40 x 40),
  // and a script's sprite at (60, 60).
  As3Movie d;
  d.defineTags = [](testing::SwfBuilder& b) {
    testing::ShapeBuilder s;
    s.Rectangle(0, 0, 2000, 2000, s.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    swf::Matrix small;
    small.scaleX = small.scaleY = 0.4;
    b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = small, .name = "kid"});
  };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto trace = [&](const std::function<void()>& value) {
      c.Op("findpropstrict", {m.Q("trace")});
      value();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    m.NewSprite(c, 1, "mine", 0x0000FF, 60, 60, 10, 10);
    c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("setlocal_2");
    // The main timeline's box is the stage's: it meets both children.
    for (int local : {2, 1})
      trace([&] { c.Op("getlocal_0").Op("getlocal", {local}).Op("callproperty", {m.Q("hitTestObject"), 1}); });
    trace([&] { c.Op("getlocal_2").Op("getlocal_1").Op("callproperty", {m.Q("hitTestObject"), 1}); });
    for (int x : {65, 80})
      trace([&] { c.Op("getlocal_0").Op("pushbyte", {x}).Op("pushbyte", {x}).Op("callproperty", {m.Q("hitTestPoint"), 2}); });
    trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q("metaData")}); });
    c.Op("getlocal_1").Op("pushstring", {m.S("renamed")}).Op("setproperty", {m.Q("name")});
    trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q("name")}); });
    c.Op("getlocal_2").Op("pushstring", {m.S("renamed")}).Op("setproperty", {m.Q("name")});
    m.Trace(c, "not reached");
  });
  const std::string out = testing::As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.substr(0, out.find("Error")), "true|true|false|true|false|null|renamed|");
  EXPECT_NE(out.find("Error #2078"), std::string::npos) << out;
  EXPECT_EQ(out.find("not reached"), std::string::npos) << out;
}

// hitTestPoint takes its point in the main timeline's space: moving the main
// timeline moves the point with the square, for the box and for the shapes.
TEST(As3DisplayRules, HitTestPointTakesThePointInTheMainTimelinesSpace) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 100, 100);
    c.Op("getlocal_0").Op("pushbyte", {100}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_0").Op("pushbyte", {2}).Op("setproperty", {m.Q("scaleY")});
    for (int x : {50, 150})
      for (bool shape : {false, true}) {
        c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("pushbyte", {x}).Op("pushbyte", {90});
        c.Op(shape ? "pushtrue" : "pushfalse").Op("callproperty", {m.Q("hitTestPoint"), 3});
        c.Op("callpropvoid", {m.Q("trace"), 1});
      }
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "true|true|false|false|");
}

// A class linked to a shape symbol: the copy the timeline places draws the
// symbol, one a script makes is an empty Shape.
TEST(As3DisplayRules, AShapeSymbolsClassMadeByAScriptIsEmpty) {
  As3Movie d;
  d.defineTags = [](testing::SwfBuilder& b) {
    testing::ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    b.PlaceObject2({.depth = 1, .characterId = 1});
  };
  d.LinkedClass("Dot", {d.Display("Shape")}, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("width")});
    });
    m.TraceValue(c, "", [&] {
      c.Op("findpropstrict", {m.Q("Dot")}).Op("constructprop", {m.Q("Dot"), 0}).Op("getproperty", {m.Q("width")});
    });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "10|0|");
}

TEST(As3DisplayRules, StageColourRootSizeAndAnEmptyClipReadAsFlashGivesThem) {
  As3Movie d;
  const auto mc = d.Display("MovieClip");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto trace = [&](const std::function<void()>& value) {
      c.Op("findpropstrict", {m.Q("trace")});
      value();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    const auto stage = [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}); };
    trace([&] { stage(); c.Op("getproperty", {m.Q("color")}); });
    stage();
    c.Op("pushuint", {m.a.UInt(0x2200FF00u)}).Op("setproperty", {m.Q("color")});
    trace([&] { stage(); c.Op("getproperty", {m.Q("color")}); });
    stage();
    c.Op("pushbyte", {0}).Op("setproperty", {m.Q("frameRate")});
    trace([&] { stage(); c.Op("getproperty", {m.Q("frameRate")}); });
    m.NewSprite(c, 1, "box", 0xFF0000, 10, 10, 30, 20);
    trace([&] { stage(); c.Op("getproperty", {m.Q("width")}); });
    trace([&] { stage(); c.Op("getproperty", {m.Q("root")}); stage(); c.Op("strictequals"); });
    // A clip made of nothing: on no frame, not playing, and under no movie's root.
    c.Op("findpropstrict", {mc}).Op("constructprop", {mc, 0}).Op("setlocal_2");
    for (const char* p : {"currentFrame", "totalFrames", "isPlaying", "loaderInfo"})
      trace([&] { c.Op("getlocal_2").Op("getproperty", {m.Q(p)}); });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}),
            std::to_string(0xFFFFFFFFu) + "|" + std::to_string(0xFF00FF00u) + "|0.01|30|true|0|1|false|null|");
  // The colour set is the picture's background.
  const auto bmp = testing::As3FirstPicture(bytes);
  EXPECT_EQ(bmp.GetPixel(90, 90), (gdi::Color{0, 255, 0}));
}

// An object has a flat matrix or a matrix3D, never both: null for matrix
// takes it into three dimensions keeping its matrix (skew too), null for
// matrix3D flattens it to the identity, and a copied transform keeps its kind.
TEST(As3DisplayRules, TransformIsFlatOrThreeDimensional) {
  As3Movie d;
  const auto mx = d.a.PackageName("flash.geom", "Matrix");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto tr = [&](int local) { c.Op("getlocal", {local}).Op("getproperty", {m.Q("transform")}); };
    const auto show = [&](int local) {
      m.TraceValue(c, "", [&] {
        tr(local);
        c.Op("getproperty", {m.Q("matrix")}).Op("pushstring", {m.S(" ")}).Op("add");
        tr(local);
        c.Op("getproperty", {m.Q("matrix3D")}).Op("pushnull").Op("equals").Op("pushstring", {m.S(" ")}).Op("add").Op("add");
      });
    };
    const auto raw = [&](int local) {
      m.TraceValue(c, "", [&] { tr(local); c.Op("getproperty", {m.Q("matrix3D")}).Op("getproperty", {m.Q("rawData")}); });
    };
    m.NewSprite(c, 1, "a", 0xFF0000, 0, 0, 10, 10);
    m.NewSprite(c, 2, "b", 0x00FF00, 0, 0, 10, 10);
    tr(1);
    c.Op("findpropstrict", {mx});
    for (int v : {2, 3, 4, 5, 6, 7}) c.Op("pushbyte", {v});
    c.Op("constructprop", {mx, 6}).Op("setproperty", {m.Q("matrix")});
    show(1);
    tr(1);
    c.Op("pushnull").Op("setproperty", {m.Q("matrix")});
    show(1);
    raw(1);
    // x moves the matrix3D's translation.
    c.Op("getlocal_1").Op("pushbyte", {30}).Op("setproperty", {m.Q("x")});
    raw(1);
    // Copied whole into another object.
    tr(1);
    c.Op("setlocal_3").Op("getlocal_2").Op("getlocal_3").Op("setproperty", {m.Q("transform")});
    raw(2);
    tr(1);
    c.Op("pushnull").Op("setproperty", {m.Q("matrix3D")});
    show(1);
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}),
            "(a=2, b=3, c=4, d=5, tx=6, ty=7) true |null false |2,3,0,0,4,5,0,0,0,0,1,0,6,7,0,1|"
            "2,3,0,0,4,5,0,0,0,0,1,0,30,7,0,1|2,3,0,0,4,5,0,0,0,0,1,0,30,7,0,1|(a=1, b=0, c=0, d=1, tx=0, ty=0) true |");
}

TEST(As3DisplayRules, NaNRotationsAndScalesReadBackAsNaN) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto trace = [&](const std::function<void()>& value) {
      c.Op("findpropstrict", {m.Q("trace")});
      value();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    const auto set = [&](const char* p, double v) {
      c.Op("getlocal_1").Op("pushdouble", {m.a.Double(v)}).Op("setproperty", {m.Q(p)});
    };
    const auto matrix = [&](const char* field) {
      trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("matrix")})
                      .Op("getproperty", {m.Q(field)}); });
    };
    m.NewSprite(c, 1, "s", 0xFF0000, 0, 0, 10, 10);
    set("scaleX", 2);
    // A NaN rotation leaves the matrix; a later scale still works from it.
    set("rotation", std::nan(""));
    trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q("rotation")}); });
    matrix("a");
    set("scaleX", 1.5);
    matrix("a");
    // A NaN scale zeroes its column.
    set("scaleY", std::nan(""));
    trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q("scaleY")}); });
    matrix("d");
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "NaN|2|1.5|NaN|0|");
}

// The stage overrides the display object members it has no use for with
// ones that throw Error #2071; the ones left (mouseChildren) still work.
TEST(As3DisplayRules, TheStageRefusesTheDisplayObjectMembersItDoesNotImplement) {
  const auto run = [](std::string_view property, bool get) {
    As3Movie d;
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      c.Op("getlocal_0").Op("getproperty", {m.Q("stage")});
      if (get) c.Op("getproperty", {m.Q(property)}).Op("pop");
      else c.Op("pushbyte", {1}).Op("setproperty", {m.Q(property)});
      m.Trace(c, "no error");
    });
    return testing::As3Traced(bytes, [](FlashPlayer&) {});
  };
  for (const char* p : {"alpha", "x", "scaleY", "rotation", "name", "visible", "width", "filters", "mouseEnabled"}) {
    const std::string out = run(p, false);
    EXPECT_NE(out.find("Error #2071"), std::string::npos) << p << ": " << out;
    EXPECT_EQ(out.find("no error"), std::string::npos) << p;
  }
  EXPECT_NE(run("textSnapshot", true).find("Error #2071"), std::string::npos);
  {
    // Flash's Stage throws through Error.throwError, which its stack shows:
    // try { stage.height = 1 } catch (e) { trace(e.getStackTrace().split("\n").slice(1, 3).join("|")) }
    As3Movie d;
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope");
    c.Label("try");
    c.Op("getlocal_0").Op("getproperty", {d.Q("stage")}).Op("pushbyte", {1}).Op("setproperty", {d.Q("height")});
    c.Label("end").Op("returnvoid");
    c.Label("catch").Op("setlocal_1");
    d.TraceValue(c, "", [&] {
      c.Op("getlocal_1").Op("callproperty", {d.Q("getStackTrace"), 0}).Op("pushstring", {d.S("\n")})
          .Op("callproperty", {d.Q("split"), 1}).Op("pushbyte", {1}).Op("pushbyte", {3})
          .Op("callproperty", {d.Q("slice"), 2}).Op("pushstring", {d.S("|")}).Op("callproperty", {d.Q("join"), 1});
    });
    c.Op("returnvoid");
    const auto f = d.Method(c);
    d.a.File().bodies.back().exceptions = {{c.LabelOffset("try"), c.LabelOffset("end"), c.LabelOffset("catch"), 0, 0}};
    const auto bytes = d.Build([&](As3Movie&, AbcCode& main) {
      main.Op("newfunction", {f}).Op("getlocal_0").Op("call", {0}).Op("pop");
    });
    EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "\tat Error$/throwError()|\tat flash.display::Stage/set height()|");
  }
  // scrollRect's Rectangle parameter is coerced first, on the caller's side;
  // colorCorrection refuses null.
  const std::string scroll = run("scrollRect", false);
  EXPECT_NE(scroll.find("Error #1034: Type Coercion failed: cannot convert 1 to flash.geom.Rectangle."), std::string::npos)
      << scroll;
  EXPECT_EQ(scroll.find("Stage/set scrollRect"), std::string::npos) << scroll;
  As3Movie d;
  const auto nullColor = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("pushnull").Op("setproperty", {m.Q("colorCorrection")});
  });
  EXPECT_NE(testing::As3Traced(nullColor, [](FlashPlayer&) {}).find("Error #2007: Parameter colorCorrection must be non-null."),
            std::string::npos);
  EXPECT_EQ(run("mouseChildren", false), "no error|");
  // Reading what it refuses to set is fine.
  EXPECT_EQ(run("x", true), "no error|");
}

// The main timeline's box carried through its own scale rounds each edge
// to the nearest twip: a width of 0.75 reads back as set.
TEST(As3DisplayRules, TheMainTimelinesWidthRoundsToTheNearestTwip) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "wide", 0xFF0000, 0, 0, 550, 10);
    c.Op("getlocal_0").Op("pushdouble", {m.a.Double(0.75)}).Op("setproperty", {m.Q("width")});
    m.TraceValue(c, "", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("width")}); });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "0.75|");
}

// getBounds gives the size as the difference of the edges in pixels, with
// that subtraction's rounding (Flash's 91.64999999999998, not 91.65).
TEST(As3DisplayRules, BoundsSizesAreTheDifferenceOfTheEdges) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Display("Shape")}).Op("constructprop", {m.Display("Shape"), 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
        .Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")});
    for (double v : {188.8, 112.6, 91.65, 21.2}) c.Op("pushdouble", {m.a.Double(v)});
    c.Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_1").Op("getlocal_1").Op("callproperty", {m.Q("getBounds"), 1}).Op("setlocal_2");
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_2").Op("getproperty", {m.Q("width")}).Op("pushstring", {m.S(" ")}).Op("add")
          .Op("getlocal_2").Op("getproperty", {m.Q("height")}).Op("add");
    });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "91.64999999999998 21.200000000000017|");
}

// getRect measures without strokes: a drawn circle's points alone, a
// timeline shape's edge bounds, and a container's children so measured.
TEST(As3DisplayRules, GetRectLeavesStrokesOut) {
  As3Movie d;
  d.defineTags = [](testing::SwfBuilder& b) {
    testing::ShapeBuilder s;
    s.Rectangle(200, 200, 400, 200, s.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})),
                s.AddLine({.width = 80, .color = {0, 0, 255, 255}}));
    b.DefineShape4(1, s);
    b.PlaceObject2({.depth = 1, .characterId = 1});
  };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Display("Sprite")}).Op("constructprop", {m.Display("Sprite"), 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0xFF0000)})
        .Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {3}).Op("pushint", {m.a.Int(0x00FF00)})
        .Op("callpropvoid", {m.Q("lineStyle"), 2});
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")}).Op("pushbyte", {20}).Op("pushbyte", {20})
        .Op("pushbyte", {8}).Op("callpropvoid", {m.Q("drawCircle"), 3});
    c.Op("getlocal_1").Op("pushbyte", {100}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    for (const char* f : {"getBounds", "getRect"}) {
      m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("pushnull").Op("callproperty", {m.Q(f), 1}); });
      m.TraceValue(c, "", [&] {
        c.Op("getlocal_0").Op("pushint", {m.a.Int(0)}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("pushnull")
            .Op("callproperty", {m.Q(f), 1});
      });
      m.TraceValue(c, "", [&] { c.Op("getlocal_0").Op("getlocal_0").Op("callproperty", {m.Q(f), 1}); });
    }
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}),
            "(x=10.5, y=10.5, w=19, h=19)|(x=8, y=8, w=24, h=14)|(x=8, y=8, w=121.5, h=21.5)|"
            "(x=12, y=12, w=16, h=16)|(x=10, y=10, w=20, h=10)|(x=10, y=10, w=118, h=18)|");
}

// x and y become twips toward zero (past the 32-bit range, its lowest);
// a size is a scale of the object's own box, so it brings back a zero
// scale; a negative size is ignored.
TEST(As3DisplayRules, PositionsCutToTwipsAndSizesScaleTheObjectsOwnBox) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto set = [&](const char* p, double v) {
      c.Op("getlocal_1").Op("pushdouble", {m.a.Double(v)}).Op("setproperty", {m.Q(p)});
    };
    const auto trace = [&](const char* p) {
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q(p)})
          .Op("callpropvoid", {m.Q("trace"), 1});
    };
    m.NewSprite(c, 1, "s", 0xFF0000, 0, 0, 10, 20);
    set("x", -1.49);
    trace("x");
    set("y", -1e10);
    trace("y");
    set("scaleX", -0.5);
    set("width", 30);
    trace("scaleX");
    set("scaleY", 0);
    set("height", 5);
    trace("scaleY");
    set("height", -40);
    trace("height");
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "-1.45|-107374182.4|3|0.25|5|");
}

// A scale is kept in percent: stepping it by 1/550 twice reads back with
// the percent round trip's rounding. A width carried through a scale uses
// the 16.16 factor (-0.9925000000000002 of 550 is 545.85); a box smaller
// than a twip has no size to scale.
TEST(As3DisplayRules, ScalesReadBackThroughPercentAndBoxesRoundToTwips) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto trace = [&](const char* p) {
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q(p)})
          .Op("callpropvoid", {m.Q("trace"), 1});
    };
    m.NewSprite(c, 1, "s", 0xFF0000, 0, 0, 550, 400);
    c.Op("getlocal_1").Op("pushbyte", {-1}).Op("setproperty", {m.Q("scaleY")});
    for (int k = 0; k < 2; ++k) {
      c.Op("getlocal_1").Op("getlocal_1").Op("getproperty", {m.Q("scaleY")}).Op("pushdouble", {m.a.Double(1.0 / 550)})
          .Op("add").Op("setproperty", {m.Q("scaleY")});
    }
    trace("scaleY");
    c.Op("getlocal_1").Op("pushdouble", {m.a.Double(-0.9925000000000002)}).Op("setproperty", {m.Q("scaleX")});
    trace("width");
    c.Op("getlocal_1").Op("pushdouble", {m.a.Double(-0.8125)}).Op("setproperty", {m.Q("scaleX")});
    trace("width");
    m.NewSprite(c, 1, "tiny", 0xFF0000, 0, 0, 0, 0);
    c.Op("getlocal_1").Op("getproperty", {m.Q("graphics")});
    for (double v : {0.0, 0.0, 0.01, 0.01}) c.Op("pushdouble", {m.a.Double(v)});
    c.Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_1").Op("pushbyte", {100}).Op("setproperty", {m.Q("width")});
    trace("width");
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "-0.9963636363636365|545.85|446.9|0|");
}

// The document object is a display object like the others: moving it or
// fading it moves and fades everything it holds, and hits follow it.
TEST(As3Display, TheDocumentObjectMovesAndFadesWhatItHolds) {
  As3Movie d;
  const auto heard = d.Tracer("click ", {"target.name"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 20, 20);
    m.Listen(c, 1, "click", heard);
    c.Op("getlocal_0").Op("pushbyte", {50}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_0").Op("pushbyte", {40}).Op("setproperty", {m.Q("y")});
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_0").Op("getproperty", {m.Q("x")})
        .Op("callpropvoid", {m.Q("trace"), 1});
  });
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(bytes));
  EXPECT_EQ(Pixel(p, 55, 45), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(Pixel(p, 5, 5), (gdi::Color{255, 255, 255}));
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer& q) {
              q.MouseDown(5, 5), q.MouseUp(5, 5);
              q.MouseDown(55, 45), q.MouseUp(55, 45);
            }),
            "50|click box|");

  As3Movie faded;
  const auto half = faded.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 20, 20);
    c.Op("getlocal_0").Op("pushdouble", {m.a.Double(0.5)}).Op("setproperty", {m.Q("alpha")});
  });
  FlashPlayer q;
  q.SetSize(100, 100);
  ASSERT_TRUE(q.LoadMovieBytes(half));
  const gdi::Color c = Pixel(q, 5, 5);
  EXPECT_EQ(c.r, 255);
  EXPECT_NEAR(c.g, 128, 2);
}

// getBounds in any object's space, the transform's world matrix and the
// stage pixels an object covers.
TEST(As3Display, BoundsAndMatricesAreCarriedBetweenSpaces) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // outer at (10, 20) scaled 2; inner at x 5 in it with a 10 x 10 square.
    c.Op("findpropstrict", {m.Display("Sprite")}).Op("constructprop", {m.Display("Sprite"), 0}).Op("setlocal_1");
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    m.NewSprite(c, 2, "inner", 0xFF0000, 0, 0, 10, 10, 1);
    auto set = [&](int local, std::string_view prop, int v) {
      c.Op("getlocal", {local}).Op("pushbyte", {v}).Op("setproperty", {m.Q(prop)});
    };
    set(1, "x", 10), set(1, "y", 20), set(1, "scaleX", 2), set(1, "scaleY", 2), set(2, "x", 5);
    c.Op("getlocal_0").Op("pushbyte", {7}).Op("setproperty", {m.Q("x")});
    auto trace = [&](const std::function<void()>& push) {
      c.Op("findpropstrict", {m.Q("trace")});
      push();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    trace([&] { c.Op("getlocal_2").Op("getlocal_0").Op("callproperty", {m.Q("getBounds"), 1}); });
    trace([&] { c.Op("getlocal_2").Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("callproperty", {m.Q("getBounds"), 1}); });
    trace([&] { c.Op("getlocal_1").Op("getlocal_2").Op("callproperty", {m.Q("getBounds"), 1}); });
    trace([&] { c.Op("getlocal_2").Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("concatenatedMatrix")}); });
    trace([&] { c.Op("getlocal_2").Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("pixelBounds")}); });
    // A null space is the object's own, for getRect too.
    trace([&] { c.Op("getlocal_2").Op("pushnull").Op("callproperty", {m.Q("getBounds"), 1}); });
    trace([&] { c.Op("getlocal_1").Op("pushnull").Op("callproperty", {m.Q("getRect"), 1}); });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}),
            "(x=20, y=20, w=20, h=20)|(x=27, y=20, w=20, h=20)|(x=0, y=0, w=10, h=10)|"
            "(a=2, b=0, c=0, d=2, tx=27, ty=20)|(x=27, y=20, w=20, h=20)|(x=0, y=0, w=10, h=10)|"
            "(x=5, y=0, w=10, h=10)|");
}

// concatenatedMatrix with the digits Flash prints: scales in single
// precision through the stage's drawing grid. The stage's, and an object's
// off the stage, is its own matrix in units of that grid, which the quality sets.
TEST(As3Display, ConcatenatedMatricesHaveFlashsDigits) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto matrix = m.a.PackageName("flash.geom", "Matrix");
    auto setMatrix = [&](int local, std::initializer_list<double> v) {
      c.Op("getlocal", {local}).Op("getproperty", {m.Q("transform")}).Op("findpropstrict", {matrix});
      for (double x : v) c.Op("pushdouble", {m.a.Double(x)});
      c.Op("constructprop", {matrix, 6}).Op("setproperty", {m.Q("matrix")});
    };
    auto concatenated = [&](int local) {
      m.TraceValue(c, "", [&] { c.Op("getlocal", {local}).Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("concatenatedMatrix")}); });
    };
    for (int local : {1, 2, 3}) {
      c.Op("findpropstrict", {m.Display("Sprite")}).Op("constructprop", {m.Display("Sprite"), 0}).Op("setlocal", {local});
    }
    setMatrix(1, {1.3, 0.2, 0.1, 1.2, 40, 50});
    setMatrix(2, {1.3, 0.2, 0.2, 1.2, 60, 70});
    setMatrix(3, {42, 0, 0, 1, 0, 0});
    c.Op("getlocal_1").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_2").Op("getlocal_3").Op("callpropvoid", {m.Q("addChild"), 1});
    concatenated(3);  // off the stage: its own, 5 times at high quality
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    concatenated(1);
    concatenated(2);
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("pushstring", {m.S("low")}).Op("setproperty", {m.Q("quality")});
    concatenated(2);  // the same on the stage
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("setlocal", {4});
    concatenated(4);
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}),
            "(a=210, b=0, c=0, d=5, tx=0, ty=0)|"
            "(a=1.2999999523162842, b=0.20000001788139343, c=0.10000000894069672, d=1.2000000476837158, tx=40, ty=50)|"
            "(a=1.709999918937683, b=0.5000000596046448, c=0.3799999952316284, d=1.4800000190734863, tx=125, ty=146)|"
            "(a=1.709999918937683, b=0.5000000596046448, c=0.3799999952316284, d=1.4800000190734863, tx=125, ty=146)|"
            "(a=20, b=0, c=0, d=20, tx=0, ty=0)|");
}

// A display object whose constructor returns before super() is still one
// a container takes.
TEST(As3DisplayRules, AnObjectThatNeverCalledSuperCanBeAdded) {
  As3Movie d;
  d.LinkedClass("Lazy", {d.Display("Sprite")}, 0, {}, [](AbcCode& c) { c.Op("returnvoid"); });
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("findpropstrict", {m.Q("Lazy")}).Op("constructprop", {m.Q("Lazy"), 0})
        .Op("callpropvoid", {m.Q("addChild"), 1});
    m.TraceValue(c, "", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("numChildren")}); });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "1|");
}

// Child indices are int parameters: NaN is 0 and a fraction is cut before
// the range check, so addChildAt(c, NaN) puts c at the bottom and
// getChildAt(1.9) is the second child; -1 stays out of range.
TEST(As3DisplayRules, ChildIndicesAreCoercedToIntBeforeTheRangeCheck) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "first", 0xFF0000, 0, 0, 10, 10);
    m.NewSprite(c, 2, "second", 0x00FF00, 0, 0, 10, 10);
    c.Op("getlocal_0").Op("getlocal_2").Op("pushnan").Op("callpropvoid", {m.Q("addChildAt"), 2});
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("pushdouble", {m.a.Double(1.9)}).Op("callproperty", {m.Q("getChildAt"), 1})
          .Op("getproperty", {m.Q("name")});
    });
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("pushnan").Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("name")});
    });
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("getlocal_1").Op("pushdouble", {m.a.Double(1.5)}).Op("callpropvoid", {m.Q("setChildIndex"), 2});
      c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("name")});
    });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "first|second|second|");
}

}  // namespace
}  // namespace quarvel::player
