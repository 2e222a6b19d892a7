// The order in which timelines make their objects: a placed clip's object
// exists before its children's, which its super() call makes, so a child's
// constructor sees its parent and its movie.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;
using testing::FillStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;

// Symbol 2 (Inner) holds a square; symbol 3 (Outer) holds Inner at depth 1;
// the main timeline holds Outer at depth 1.
void DefineNested(SwfBuilder& b) {
  ShapeBuilder s;
  s.Rectangle(0, 0, 400, 400, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
  b.DefineShape(1, s);
  Timeline inner;
  inner.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  b.DefineSprite(2, inner);
  Timeline outer;
  outer.PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame();
  b.DefineSprite(3, outer);
  b.PlaceObject2({.depth = 1, .characterId = 3, .name = "outer"});
}

TEST(As3TimelineConstruction, ChildrenAreMadeInTheirParentsSuperCall) {
  // class Outer { Outer() { trace("outer " + numChildren); super(); trace("outer made " + numChildren) } }
  // class Inner { Inner() { trace("inner " + (parent is Outer) + " " + (loaderInfo != null)) } }
  As3Movie d;
  d.defineTags = DefineNested;
  const auto clip = d.Display("MovieClip");
  d.LinkedClass("Inner", {clip}, 2, [&](AbcCode& c) {
    d.TraceValue(c, "inner ", [&] {
      c.Op("getlocal_0").Op("getproperty", {d.Q("parent")}).Op("getlex", {d.Q("Outer")}).Op("istypelate");
      c.Op("pushstring", {d.S(" ")}).Op("add");
      c.Op("getlocal_0").Op("getproperty", {d.Q("loaderInfo")}).Op("pushnull").Op("equals").Op("not").Op("add");
    });
  });
  d.LinkedClass(
      "Outer", {clip}, 3,
      [&](AbcCode& c) {
        d.TraceValue(c, "outer made ", [&] { c.Op("getlocal_0").Op("getproperty", {d.Q("numChildren")}); });
      },
      [&](AbcCode& c) { d.TraceValue(c, "outer ", [&] { c.Op("getlocal_0").Op("getproperty", {d.Q("numChildren")}); }); });
  const auto bytes = d.Build([](As3Movie&, AbcCode&) {});
  // The child is placed before the parent's constructor runs, and made in its super().
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "outer 1|inner true true|outer made 1|");
}

TEST(As3TimelineConstruction, TwoSymbolsLinkedToOneClassAreBothItsObjects) {
  // A second SymbolClass tag names the class again for another symbol.
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    for (std::uint16_t id : {2, 4}) {
      ShapeBuilder s;
      s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
      b.DefineShape(static_cast<std::uint16_t>(id - 1), s);
      Timeline sprite;
      sprite.PlaceObject2({.depth = 1, .characterId = static_cast<std::uint16_t>(id - 1)}).ShowFrame();
      b.DefineSprite(id, sprite);
    }
    b.PlaceObject2({.depth = 1, .characterId = 2, .name = "a"});
    b.PlaceObject2({.depth = 2, .characterId = 4, .name = "b"});
    b.ExportAssets({{4, "Child"}}, true);
  };
  d.LinkedClass("Child", {d.Display("MovieClip")}, 2, [&](AbcCode& c) {
    d.TraceValue(c, "child ", [&] { c.Op("getlocal_0").Op("getproperty", {d.Q("name")}); });
  });
  const auto bytes = d.Build([](As3Movie&, AbcCode&) {});
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "child a|child b|");
}

TEST(As3TimelineConstruction, AChildReadingItsParentFirstDoesNotRunTheParentsConstructorTwiceOrEarly) {
  // Outer removes its child after super(), as components drop a placeholder;
  // the child's constructor, reading its parent, ran while it was still
  // under the main timeline and had the movie's LoaderInfo.
  As3Movie d;
  d.defineTags = DefineNested;
  const auto clip = d.Display("MovieClip");
  d.LinkedClass("Inner", {clip}, 2, [&](AbcCode& c) {
    c.Op("getlocal_0").Op("getproperty", {d.Q("parent")}).Op("pop");
    d.TraceValue(c, "inner info ", [&] {
      c.Op("getlocal_0").Op("getproperty", {d.Q("loaderInfo")}).Op("pushnull").Op("equals").Op("not");
    });
  });
  d.LinkedClass("Outer", {clip}, 3, [&](AbcCode& c) {
    c.Op("getlocal_0").Op("pushbyte", {0}).Op("callpropvoid", {d.Q("removeChildAt"), 1});
    d.Trace(c, "outer made");
  });
  const auto bytes = d.Build([](As3Movie&, AbcCode&) {});
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "inner info true|outer made|");
}

TEST(As3TimelineConstruction, TheMainTimelinePlaysEveryFrameTheFileHoldsPastTheHeadersCount) {
  // A header counting one frame of three: all three play and loop, and
  // totalFrames reports the header's count.
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) { b.SetFrameCount(1); };
  const auto enter = d.Tracer("", {"target.currentFrame", "target.totalFrames"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) { m.Listen(c, 0, "enterFrame", enter); }, 3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); }), "2 1|3 1|1 1|");
}

TEST(As3TimelineConstruction, AMainTimelineWhoseHeaderCountsOneFrameReadsAsStopped) {
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) { b.SetFrameCount(1); };
  const auto enter = d.Tracer("", {"target.currentFrame", "target.isPlaying"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) { m.Listen(c, 0, "enterFrame", enter); }, 3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); }), "2 false|3 false|1 false|");
}

// A document class that is a Sprite still lets the main timeline play
// (a linked symbol's Sprite class holds its symbol at frame 1).
TEST(As3TimelineConstruction, TheMainTimelinePlaysUnderASpriteDocumentClass) {
  As3Movie d;
  d.docBase = d.Display("Sprite");
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 400, 400, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
  };
  d.frameTags = [](SwfBuilder& b, int) { b.PlaceObject2({.depth = 1, .characterId = 1}); };
  const auto bytes = d.Build([](As3Movie&, AbcCode&) {}, 2);
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  p.AdvanceTo(p.Now() + 100);
  gdi::Bitmap bmp;
  p.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(5, 5), (gdi::Color{255, 0, 0})) << "frame 2's square";
}

TEST(As3TimelineConstruction, APlacementAtADepthTheTimelineFillsIsIgnored) {
  // Two placements of new characters at depth 1 in one frame: the first stays alone.
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s).DefineShape(2, s);
    b.PlaceObject2({.depth = 1, .characterId = 1, .name = "first"});
    b.PlaceObject2({.depth = 1, .characterId = 2, .name = "second"});
  };
  const auto bytes = d.Build([](As3Movie& m, AbcCode& c) {
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("getproperty", {m.Q("numChildren")}).Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("name")}).Op("add");
    });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "1 first|");
}

// Shapes "a" (depth 1) and "b" (depth 2); the constructor re-adds "a" with
// addChildAt(a, `at`); the second frame's tags are `second`. Gives the
// children's names in order as each of the two frames ends.
std::string NamesAfterReAdding(int at, const std::function<void(SwfBuilder&)>& second) {
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    b.PlaceObject2({.depth = 1, .characterId = 1, .name = "a"});
    b.PlaceObject2({.depth = 2, .characterId = 1, .name = "b"});
  };
  d.frameTags = [&](SwfBuilder& b, int) { second(b); };
  AbcCode heard;
  heard.Op("getlocal_1").Op("getproperty", {d.Q("currentTarget")}).Op("setlocal_2");
  heard.Op("pushstring", {d.S("")}).Op("setlocal_3").Op("pushbyte", {0}).Op("setlocal", {4});
  heard.Loop("loop").Op("getlocal", {4}).Op("getlocal_2").Op("getproperty", {d.Q("numChildren")}).Op("lessthan");
  heard.Branch("iffalse", "done");
  heard.Op("getlocal_3").Op("getlocal_2").Op("getlocal", {4}).Op("callproperty", {d.Q("getChildAt"), 1});
  heard.Op("getproperty", {d.Q("name")}).Op("add").Op("setlocal_3").Op("inclocal_i", {4}).Branch("jump", "loop");
  heard.Label("done");
  d.TraceValue(heard, "", [&] { heard.Op("getlocal_3"); });
  heard.Op("returnvoid");
  const auto onExit = d.Method(heard, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1});
    c.Op("pushbyte", {at}).Op("callpropvoid", {m.Q("addChildAt"), 2});
    m.Listen(c, 0, "exitFrame", onExit);
  }, 2);
  const std::string out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 100); });
  return out.substr(0, out.find('|', out.find('|') + 1) + 1);
}

// A child a script re-added leaves the timeline's depths, wherever it lies
// in the list: the timeline's removal at its old depth passes it by, and
// what the timeline then places goes just below the first of the
// timeline's own with a greater depth, or on top when there is none.
TEST(As3TimelineConstruction, AChildAScriptReAddedIsNoLongerTheTimelines) {
  EXPECT_EQ(NamesAfterReAdding(0, [](SwfBuilder& b) {
              b.RemoveObject2(1);
              b.PlaceObject2({.depth = 1, .characterId = 1, .name = "c"});
            }),
            "ab|acb|");
  EXPECT_EQ(NamesAfterReAdding(1, [](SwfBuilder& b) {
              b.RemoveObject2(1);
              b.PlaceObject2({.depth = 5, .characterId = 1, .name = "c"});
            }),
            "ba|bac|");
}

TEST(As3TimelineConstruction, AGotoInTheConstructorRunsTheQueuedFrameScriptFromSwf10) {
  // addFrameScript(0, script1); gotoAndStop(1); trace("after goto"): from
  // SWF 10 the goto runs frame 1's script at once, before 9 in its turn.
  As3Movie d;
  AbcCode frame1;
  d.Trace(frame1, "script 1");
  frame1.Op("returnvoid");
  auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushbyte", {0}).Op("getlocal_0").Op("getproperty", {m.Q("frame1")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
        c.Op("getlocal_0").Op("pushbyte", {1}).Op("callpropvoid", {m.Q("gotoAndStop"), 1});
        m.Trace(c, "after goto");
      },
      2, {{"frame1", frame1}});
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "script 1|after goto|");
  bytes[3] = 9;
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "after goto|script 1|");
}

// A document class linked to an id that names no character (as some
// obfuscated movies write it) is the main timeline's, as if linked to 0.
TEST(As3TimelineConstruction, ADocumentClassLinkedToAnUnusedIdIsTheMainTimelines) {
  As3Movie d;
  auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.TraceValue(c, "ctor ", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("root")}).Op("getlocal_0").Op("strictequals"); });
  });
  // SymbolClass: one entry, id 0, "Main": make the id 7.
  const std::string entry("\x01\x00\x00\x00Main\x00", 9);
  auto at = std::search(bytes.begin(), bytes.end(), entry.begin(), entry.end());
  ASSERT_NE(at, bytes.end());
  at[2] = 7;
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "ctor true|");
}

// A PlaceObject that replaces the shape at a depth keeps the object (what
// a script set on it) and swaps only what it draws; a clip at that
// depth stays what it is.
TEST(As3TimelineConstruction, AReplacingPlacementKeepsTheObject) {
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder small, big;
    small.Rectangle(0, 0, 200, 200, small.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    big.Rectangle(0, 0, 600, 600, big.AddFill(FillStyle::Solid({0, 0, 255, 255})));
    b.DefineShape(1, small).DefineShape(2, big);
    Timeline clip;
    clip.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    b.DefineSprite(3, clip);
    b.PlaceObject2({.depth = 1, .characterId = 1});
    b.PlaceObject2({.depth = 2, .characterId = 3});
  };
  d.frameTags = [](SwfBuilder& b, int) {
    b.PlaceObject2({.depth = 1, .characterId = 2, .move = true});
    b.PlaceObject2({.depth = 2, .characterId = 1, .move = true});
  };
  AbcCode frame2;  // trace(getChildAt(0).metaData + " " + getChildAt(0).width + " " + getChildAt(1))
  d.TraceValue(frame2, "", [&] {
    frame2.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("getproperty", {d.Q("metaData")});
    frame2.Op("pushstring", {d.S(" ")}).Op("add");
    frame2.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("getproperty", {d.Q("width")}).Op("add");
    frame2.Op("pushstring", {d.S(" ")}).Op("add");
    frame2.Op("getlocal_0").Op("pushbyte", {1}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("add");
  });
  frame2.Op("returnvoid");
  const auto bytes = d.Build(
      [](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("pushstring", {m.S("kept")})
            .Op("setproperty", {m.Q("metaData")});
        c.Op("getlocal_0").Op("pushbyte", {1}).Op("getlocal_0").Op("getproperty", {m.Q("frame2")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      2, {{"frame2", frame2}});
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 100); }), "kept 30 [object MovieClip]|");
}

// A named child the timeline takes off clears its parent's property of
// that name, whatever the property holds by then.
TEST(As3TimelineConstruction, ATimelineRemovalClearsTheParentsPropertyOfItsName) {
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    Timeline kid;
    kid.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    b.DefineSprite(2, kid);
    Timeline outer;  // "kid" on its first frame only
    outer.PlaceObject2({.depth = 1, .characterId = 2, .name = "kid"}).ShowFrame();
    outer.RemoveObject2(1).ShowFrame();
    b.DefineSprite(3, outer);
    b.PlaceObject2({.depth = 1, .characterId = 3});
  };
  AbcCode heard;  // var o = e.currentTarget.getChildAt(0); trace(o.kid); o.kid = "other"
  heard.Op("getlocal_1").Op("getproperty", {d.Q("currentTarget")}).Op("pushbyte", {0})
      .Op("callproperty", {d.Q("getChildAt"), 1}).Op("setlocal_2");
  d.TraceValue(heard, "", [&] { heard.Op("getlocal_2").Op("getproperty", {d.Q("kid")}); });
  heard.Op("getlocal_2").Op("pushstring", {d.S("other")}).Op("setproperty", {d.Q("kid")}).Op("returnvoid");
  const auto onConstructed = d.Method(heard, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) { m.Listen(c, 0, "frameConstructed", onConstructed); }, 2);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 100); }), "[object MovieClip]|null|");
}

// A child the timeline placed is counted at once, but getChildAt gives
// null for it until it is constructed (here while its elder sibling's
// constructor runs).
TEST(As3TimelineConstruction, AChildWaitingToBeConstructedIsCountedButNull) {
  As3Movie d;
  const auto clip = d.Display("MovieClip");
  d.LinkedClass("Elder", {clip}, 2, [&](AbcCode& c) {
    d.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("getproperty", {d.Q("parent")}).Op("getproperty", {d.Q("numChildren")});
      c.Op("pushstring", {d.S(" ")}).Op("add");
      c.Op("getlocal_0").Op("getproperty", {d.Q("parent")}).Op("pushbyte", {1}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("add");
    });
  });
  d.LinkedClass("Younger", {clip}, 3, [&](AbcCode& c) { d.Trace(c, "younger"); });
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    for (std::uint16_t id : {2, 3}) {
      Timeline t;
      t.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
      b.DefineSprite(id, t);
    }
    b.PlaceObject2({.depth = 1, .characterId = 2});
    b.PlaceObject2({.depth = 2, .characterId = 3});
  };
  const auto bytes = d.Build([](As3Movie&, AbcCode&) {});
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "2 null|younger|");
}

// A symbol declaring no frame counts none; a clip that plays by itself reads
// as stopped until a script asks it to play, the main timeline until the
// player first moves it on.
TEST(As3TimelineConstruction, TotalFramesOfAnEmptySymbolAndIsPlayingAfterPlay) {
  As3Movie d;
  const auto clip = d.Display("MovieClip");
  d.LinkedClass("Zero", {clip}, 2);
  d.LinkedClass("Three", {clip}, 3);
  d.defineTags = [](SwfBuilder& b) {
    b.DefineSprite(2, Timeline{});
    Timeline three;
    three.ShowFrame().ShowFrame().ShowFrame();
    b.DefineSprite(3, three);
  };
  const auto enter = d.Tracer("enter ", {"target.isPlaying"});
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        auto isPlaying = [&](std::string_view label) {
          m.TraceValue(c, label, [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("isPlaying")}); });
        };
        m.TraceValue(c, "", [&] {
          c.Op("findpropstrict", {m.Q("Zero")}).Op("constructprop", {m.Q("Zero"), 0}).Op("getproperty", {m.Q("totalFrames")});
          c.Op("pushstring", {m.S(" ")}).Op("add");
          c.Op("getlocal_0").Op("getproperty", {m.Q("isPlaying")}).Op("add");
        });
        c.Op("findpropstrict", {m.Q("Three")}).Op("constructprop", {m.Q("Three"), 0}).Op("setlocal_1");
        isPlaying("new ");
        c.Op("getlocal_1").Op("callpropvoid", {m.Q("play"), 0});
        isPlaying("play ");
        c.Op("getlocal_1").Op("callpropvoid", {m.Q("stop"), 0});
        isPlaying("stop ");
        c.Op("getlocal_1").Op("pushbyte", {2}).Op("callpropvoid", {m.Q("gotoAndPlay"), 1});
        isPlaying("gotoAndPlay ");
        m.Listen(c, 0, "enterFrame", enter);
      },
      3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); }),
            "0 false|new false|play true|stop false|gotoAndPlay true|enter true|");
}

// The main timeline's first children, as any symbol's, are placed before its
// constructor runs and made in its super() call; before it they are counted
// but null.
TEST(As3TimelineConstruction, TheMainTimelinesChildrenAreMadeInItsSuperCall) {
  As3Movie d;
  const auto clip = d.Display("MovieClip");
  d.LinkedClass("Kid", {clip}, 2, [&](AbcCode& c) { d.Trace(c, "kid"); });
  d.defineTags = [](SwfBuilder& b) {
    b.DefineSprite(2, Timeline{}.ShowFrame());
    b.PlaceObject2({.depth = 1, .characterId = 2});
  };
  const auto children = [](As3Movie& m, AbcCode& c, std::string_view label) {
    m.TraceValue(c, label, [&] {
      c.Op("getlocal_0").Op("getproperty", {m.Q("numChildren")}).Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("add");
    });
  };
  d.beforeSuper = [&](As3Movie& m, AbcCode& c) { children(m, c, "before "); };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) { children(m, c, "after "); });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "before 1 null|kid|after 1 [object Kid]|");
}

// A frame's new objects are placed before ENTER_FRAME, which counts them
// but reads them as null, and made after it.
TEST(As3TimelineConstruction, ANewFramesChildrenAreCountedButNullInEnterFrame) {
  As3Movie d;
  const auto clip = d.Display("MovieClip");
  d.LinkedClass("Kid", {clip}, 2, [&](AbcCode& c) { d.Trace(c, "kid"); });
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    b.DefineSprite(2, Timeline{}.ShowFrame());
  };
  d.frameTags = [](SwfBuilder& b, int frame) {
    if (frame != 1) return;
    b.PlaceObject2({.depth = 1, .characterId = 1});
    b.PlaceObject2({.depth = 2, .characterId = 2});
  };
  AbcCode enter;
  d.TraceValue(enter, "enter ", [&] {
    enter.Op("getlocal_0").Op("getproperty", {d.Q("numChildren")}).Op("pushstring", {d.S(" ")}).Op("add");
    enter.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("add");
    enter.Op("pushstring", {d.S(" ")}).Op("add");
    enter.Op("getlocal_0").Op("pushbyte", {1}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("add");
  });
  enter.Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushstring", {m.S("enterFrame")}).Op("getlocal_0").Op("getproperty", {m.Q("onEnter")})
            .Op("callpropvoid", {m.Q("addEventListener"), 2});
      },
      2, {{"onEnter", enter}});
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); }), "enter 2 null null|kid|");
}

// Before super() a symbol's own children are counted but null, and the
// Graphics read then is the one every later read gives.
TEST(As3TimelineConstruction, BeforeSuperChildrenAreNullAndGraphicsIsKept) {
  As3Movie d;
  d.LinkedClass(
      "Card", {d.Display("Sprite")}, 2,
      [&](AbcCode& c) {
        d.TraceValue(c, "after ", [&] {
          c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {d.Q("getChildAt"), 1});
          c.Op("pushstring", {d.S(" ")}).Op("add");
          c.Op("getlocal_0").Op("getproperty", {d.Q("graphics")}).Op("getlocal_1").Op("strictequals").Op("add");
        });
      },
      [&](AbcCode& c) {
        c.Op("getlocal_0").Op("getproperty", {d.Q("graphics")}).Op("setlocal_1");
        d.TraceValue(c, "before ", [&] {
          c.Op("getlocal_0").Op("getproperty", {d.Q("numChildren")}).Op("pushstring", {d.S(" ")}).Op("add");
          c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("add");
        });
      });
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    Timeline card;
    card.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    b.DefineSprite(2, card);
  };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Card")}).Op("constructprop", {m.Q("Card"), 0}).Op("pop");
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "before 1 null|after [object Shape] true|");
}

}  // namespace
}  // namespace quarvel::player
