// The rules the authoring tool's user-interface components build on: the
// timeline's children are made before the document class's constructor and
// see their parent, a symbol linked to a Sprite class keeps to its first
// frame (components keep their skins on later frames), the stage is its own
// stage, and callLater's RENDER comes once after stage.invalidate().
#include <gtest/gtest.h>

#include <string>

#include "player/flash_player.h"
#include "support/as3_movie.h"
#include "support/swf_writer.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;
using testing::FillStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;

// trace(label + <what `value` pushes>)
void TraceValue(As3Movie& m, AbcCode& c, std::string_view label, const std::function<void()>& value) {
  c.Op("findpropstrict", {m.Q("trace")}).Op("pushstring", {m.S(label)});
  value();
  c.Op("add").Op("callpropvoid", {m.Q("trace"), 1});
}

ShapeBuilder Square(swf::Rgba colour) {
  ShapeBuilder s;
  s.Rectangle(0, 0, 2000, 2000, s.AddFill(FillStyle::Solid(colour)));
  return s;
}

// Symbol 3: a red frame, then a blue one; placed at depth 1 as `kid`
// unless a script makes it.
void DefineTwoFrameSymbol(SwfBuilder& b, bool place = true) {
  b.DefineShape(1, Square({255, 0, 0, 255})).DefineShape(2, Square({0, 0, 255, 255}));
  Timeline sprite;
  sprite.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  sprite.RemoveObject2(1).PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame();
  b.DefineSprite(3, sprite);
  if (place) b.PlaceObject2({.depth = 1, .characterId = 3, .name = "kid"});
}

TEST(As3Components, FirstFrameChildrenAreMadeBeforeTheDocumentConstructorAndSeeItAsParent) {
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) { DefineTwoFrameSymbol(b); };
  // class Kid extends MovieClip { function Kid() { trace("kid " + (parent != null) + " " + (parent == root)) } }
  d.LinkedClass("Kid", {d.Display("MovieClip")}, 3, [&](AbcCode& c) {
    TraceValue(d, c, "kid ", [&] {
      c.Op("getlocal_0").Op("getproperty", {d.Q("parent")}).Op("pushnull").Op("equals").Op("not");
      c.Op("pushstring", {d.S(" ")}).Op("add");
      c.Op("getlocal_0").Op("getproperty", {d.Q("parent")}).Op("getlocal_0").Op("getproperty", {d.Q("root")})
          .Op("strictequals").Op("add");
    });
  });
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    TraceValue(m, c, "main ", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("numChildren")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "kid true true|main 1|");
}

TEST(As3Components, ASymbolLinkedToASpriteClassKeepsItsFirstFrame) {
  // The same two-frame symbol, placed or made by `new Kid()`: linked to a
  // Sprite it stays red, linked to a MovieClip it plays on to blue.
  auto colourAfterTwoFrames = [](std::string_view base, bool byScript = false) {
    As3Movie d;
    d.defineTags = [byScript](SwfBuilder& b) { DefineTwoFrameSymbol(b, !byScript); };
    d.LinkedClass("Kid", {d.Display(base)}, 3);
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      if (!byScript) return;
      c.Op("getlocal_0").Op("findpropstrict", {m.Q("Kid")}).Op("constructprop", {m.Q("Kid"), 0})
          .Op("callpropvoid", {m.Q("addChild"), 1});
    }, 3);
    FlashPlayer p;
    p.SetSize(100, 100);
    EXPECT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
    // What a script makes sits out its first advance.
    p.AdvanceTo(p.Now() + (byScript ? 250 : 150));
    gdi::Bitmap bmp;
    p.Paint(bmp);
    return bmp.GetPixel(50, 50);
  };
  EXPECT_EQ(colourAfterTwoFrames("Sprite"), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(colourAfterTwoFrames("MovieClip"), (gdi::Color{0, 0, 255}));
  EXPECT_EQ(colourAfterTwoFrames("Sprite", true), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(colourAfterTwoFrames("MovieClip", true), (gdi::Color{0, 0, 255}));
}

TEST(As3Components, TheStageIsItsOwnStage) {
  // Focus managers listen on container.stage with the stage as container.
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    TraceValue(m, c, "", [&] {
      c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("stage")});
      c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("strictequals");
    });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "true|");
}

TEST(As3Components, RenderComesOnceAfterInvalidateToListenersOnAndOffTheList) {
  // callLater: a RENDER listener and stage.invalidate(); every listener hears
  // it once, after the frame's scripts, and no frame without an invalidate
  // has one.
  As3Movie d;
  const auto heard = d.Tracer("render ", {"currentTarget.name"});
  const auto stageHeard = d.Tracer("render stage", {});
  const auto sprite = d.Display("Sprite");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.Listen(c, -1, "render", stageHeard);
    m.NewSprite(c, 1, "on", 0xFF0000, 0, 0, 10, 10);
    m.Listen(c, 1, "render", heard);
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal_2");
    c.Op("getlocal_2").Op("pushstring", {m.S("off")}).Op("setproperty", {m.Q("name")});
    m.Listen(c, 2, "render", heard);
    // Kept reachable (as the hit area, which draws nothing): an object only a
    // listener list holds may be collected.
    c.Op("getlocal_0").Op("getlocal_2").Op("setproperty", {m.Q("hitArea")});
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("callpropvoid", {m.Q("invalidate"), 0});
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("callpropvoid", {m.Q("invalidate"), 0});
    m.Trace(c, "constructed");
  }, 3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }),
            "constructed|render stage|render on|render off|");
}

TEST(As3Components, SkinsAreFoundByNameThroughTheApplicationDomain) {
  // getDefinitionByName and loaderInfo.applicationDomain.getDefinition give
  // the class linked to a symbol; `new` of it makes that symbol's clip.
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) { DefineTwoFrameSymbol(b, false); };
  d.LinkedClass("Skin", {d.Display("MovieClip")}, 3);
  const auto byName = d.a.PackageName("flash.utils", "getDefinitionByName");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {byName}).Op("pushstring", {m.S("Skin")}).Op("callproperty", {byName, 1}).Op("setlocal_1");
    TraceValue(m, c, "", [&] {
      c.Op("getlocal_1");
      c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("applicationDomain")})
          .Op("pushstring", {m.S("Skin")}).Op("callproperty", {m.Q("getDefinition"), 1});
      c.Op("strictequals");
      c.Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_1").Op("construct", {0}).Op("getproperty", {m.Q("totalFrames")}).Op("add");
    });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "true 2|");
}

TEST(As3Components, DisplayObjectsAreDispatchersThroughTheInterface) {
  // `target as IEventDispatcher` keeps a sprite; calls through the
  // interface's namespace reach its methods.
  As3Movie d;
  const auto iface = d.Events("IEventDispatcher");
  const auto ins = d.a.Namespace(avm2::NamespaceKind::kNamespace, "flash.events:IEventDispatcher");
  const auto heard = d.Tracer("heard ", {"type"});
  const auto event = d.Events("Event");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 10, 10);
    c.Op("getlocal_1").Op("getlex", {iface}).Op("astypelate").Op("setlocal_2");
    TraceValue(m, c, "", [&] { c.Op("getlocal_2").Op("pushnull").Op("equals").Op("not"); });
    c.Op("getlocal_2").Op("pushstring", {m.S("ping")}).Op("newfunction", {heard})
        .Op("callpropvoid", {m.a.QName(ins, "addEventListener"), 2});
    c.Op("getlocal_2").Op("findpropstrict", {event}).Op("pushstring", {m.S("ping")}).Op("constructprop", {event, 1})
        .Op("callpropvoid", {m.a.QName(ins, "dispatchEvent"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "true|heard ping|");
}

TEST(As3Components, AConstructorMayAddChildrenBeforeCallingSuper) {
  // class Ball extends Sprite { function Ball() { addChild(new Sprite()); super() } }
  As3Movie d;
  const auto sprite = d.Display("Sprite");
  d.LinkedClass("Ball", {sprite}, 0, {}, [&](AbcCode& c) {
    c.Op("getlocal_0").Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0})
        .Op("callpropvoid", {d.Q("addChild"), 1});
  });
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    TraceValue(m, c, "", [&] {
      c.Op("findpropstrict", {m.Q("Ball")}).Op("constructprop", {m.Q("Ball"), 0}).Op("getproperty", {m.Q("numChildren")});
    });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "1|");
}

TEST(As3Timelines, TheMainTimelineHasAPerspectiveProjectionOthersOnlyOnceGiven) {
  // Motion tweens made in the authoring tool set the root's projection.
  As3Movie d;
  const auto pp = d.a.PackageName("flash.geom", "PerspectiveProjection");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto projection = [&](int local) {
      c.Op("getlocal", {local}).Op("getproperty", {m.Q("transform")}).Op("getproperty", {m.Q("perspectiveProjection")});
    };
    TraceValue(m, c, "", [&] {
      projection(0);
      c.Op("getproperty", {m.Q("fieldOfView")});
      c.Op("pushstring", {m.S(" ")}).Op("add");
      projection(0);
      c.Op("getproperty", {m.Q("projectionCenter")}).Op("getproperty", {m.Q("x")}).Op("add");
    });
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 10, 10);
    TraceValue(m, c, "", [&] { projection(1); });
    c.Op("getlocal_1").Op("getproperty", {m.Q("transform")}).Op("findpropstrict", {pp}).Op("constructprop", {pp, 0})
        .Op("setproperty", {m.Q("perspectiveProjection")});
    TraceValue(m, c, "", [&] { projection(1); c.Op("getproperty", {m.Q("fieldOfView")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "55 50|null|55|");
}

// Skins are nine-slice scaled: a sprite with a scaling grid keeps its
// corners at their size as it stretches, and fills the same box; a rotated
// one scales as a whole.
TEST(As3Components, AScalingGridKeepsTheCornersOfAStretchedSymbol) {
  auto picture = [](bool grid, bool rotated = false) {
    As3Movie d;
    d.defineTags = [grid, rotated](SwfBuilder& b) {
      ShapeBuilder red, blue;
      red.Rectangle(0, 0, 800, 800, red.AddFill(FillStyle::Solid({255, 0, 0, 255})));
      blue.Rectangle(0, 0, 200, 200, blue.AddFill(FillStyle::Solid({0, 0, 255, 255})));
      b.DefineShape(1, red).DefineShape(2, blue);
      Timeline sprite;
      sprite.PlaceObject2({.depth = 1, .characterId = 1}).PlaceObject2({.depth = 2, .characterId = 2}).ShowFrame();
      b.DefineSprite(3, sprite);
      if (grid) {
        // DefineScalingGrid(3, 10..30 pixels)
        testing::SwfWriter w;
        w.U16(3);
        w.Rect({200, 600, 200, 600});
        const auto body = w.Take();
        b.Tag(78, body);
      }
      swf::Matrix twice;
      twice.scaleX = twice.scaleY = 2;
      if (rotated) {  // a quarter turn, still inside the stage
        twice.scaleX = twice.scaleY = 0;
        twice.rotateSkew0 = 2, twice.rotateSkew1 = -2;
        twice.translateX = 1600;
      }
      b.PlaceObject2({.depth = 1, .characterId = 3, .matrix = twice});
    };
    const auto bytes = d.Build([](As3Movie&, AbcCode&) {});
    FlashPlayer p;
    p.SetSize(100, 100);
    EXPECT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
    gdi::Bitmap bmp;
    p.Paint(bmp);
    return bmp;
  };
  const gdi::Bitmap plain = picture(false), sliced = picture(true);
  EXPECT_EQ(plain.GetPixel(15, 5), (gdi::Color{0, 0, 255}));  // the corner doubled
  EXPECT_EQ(sliced.GetPixel(15, 5), (gdi::Color{255, 0, 0}));  // the corner kept
  EXPECT_EQ(sliced.GetPixel(5, 5), (gdi::Color{0, 0, 255}));
  EXPECT_EQ(sliced.GetPixel(78, 78), (gdi::Color{255, 0, 0}));  // the same 80-pixel box
  EXPECT_EQ(sliced.GetPixel(82, 82), (gdi::Color{255, 255, 255}));
  // Turned, the sprite scales as a whole: its corner doubled.
  EXPECT_EQ(picture(true, true).GetPixel(65, 15), (gdi::Color{0, 0, 255}));
}

// A list's rows sit in a holder with a scrollRect (fl.controls' lists and
// grids): the pointer finds the row drawn under it, the window crops what
// it can hit, and points between spaces follow the window once it has been
// drawn (not in the frame that set it). Points are carried in whole twips;
// the test player presses at pixel centres.
TEST(As3Components, AScrolledHolderPicksTheRowDrawnUnderThePointer) {
  As3Movie d;
  const auto rect = d.a.PackageName("flash.geom", "Rectangle");
  const auto point = d.a.PackageName("flash.geom", "Point");
  // trace(label + row1.localToGlobal(new Point(0, 0)).y + " " + holder.globalToLocal(new Point(0, 1/7)).y
  //       + " " + row1.transform.concatenatedMatrix.ty + " " + holder.transform.concatenatedMatrix.ty)
  auto traceMove = [&](AbcCode& c, std::string_view label, int holder, int row1) {
    TraceValue(d, c, label, [&] {
      c.Op("getlocal", {row1}).Op("findpropstrict", {point}).Op("pushbyte", {0}).Op("pushbyte", {0})
          .Op("constructprop", {point, 2}).Op("callproperty", {d.Q("localToGlobal"), 1}).Op("getproperty", {d.Q("y")});
      c.Op("pushstring", {d.S(" ")}).Op("add");
      c.Op("getlocal", {holder}).Op("findpropstrict", {point}).Op("pushbyte", {0}).Op("pushdouble", {d.a.Double(1.0 / 7)})
          .Op("constructprop", {point, 2}).Op("callproperty", {d.Q("globalToLocal"), 1}).Op("getproperty", {d.Q("y")});
      c.Op("add");
      // The concatenated matrices: a window moves what is inside, not its owner.
      for (int obj : {row1, holder}) {
        c.Op("pushstring", {d.S(" ")}).Op("add").Op("getlocal", {obj}).Op("getproperty", {d.Q("transform")})
            .Op("getproperty", {d.Q("concatenatedMatrix")}).Op("getproperty", {d.Q("ty")}).Op("add");
      }
    });
  };
  AbcCode click;  // function (e) { trace("click " + e.target.name + " " + e.localY); <traceMove> }
  click.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S("click ")}).Op("getlocal_1")
      .Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("name")}).Op("add")
      .Op("pushstring", {d.S(" ")}).Op("add").Op("getlocal_1").Op("getproperty", {d.Q("localY")}).Op("add")
      .Op("callpropvoid", {d.Q("trace"), 1});
  click.Op("getlocal_1").Op("getproperty", {d.Q("currentTarget")}).Op("setlocal_2");
  click.Op("getlocal_2").Op("pushbyte", {1}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("setlocal_3");
  traceMove(click, "after ", 2, 3);
  click.Op("returnvoid");
  const auto heard = d.Method(click, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "holder", 0xFFFFFF, 0, 0, 1, 1);
    for (int row = 0; row < 4; ++row)
      m.NewSprite(c, 2 + row, "row" + std::to_string(row), 0x102030 * (row + 1), 0, 20 * row, 100, 20, 1);
    // holder.scrollRect = new Rectangle(0, 20, 100, 40): rows 1 and 2 show.
    c.Op("getlocal_1").Op("findpropstrict", {rect});
    for (int v : {0, 20, 100, 40}) c.Op("pushbyte", {v});
    c.Op("constructprop", {rect, 4}).Op("setproperty", {m.Q("scrollRect")});
    m.Listen(c, 1, "click", heard);
    traceMove(c, "before ", 1, 3);
  });
  EXPECT_EQ(As3Traced(bytes,
                      [](FlashPlayer& p) {
                        for (int y : {10, 30, 50}) p.MouseDown(50, y), p.MouseUp(50, y);
                      }),
            "before 0 0.1 0 0|click row1 30.5|after -20 20.1 -20 0|click row2 50.5|after -20 20.1 -20 0|");
}

TEST(As3Components, StopAllMovieClipsStopsTheContainerAndEveryClipInside) {
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) { DefineTwoFrameSymbol(b); };
  AbcCode enter;  // trace(e.currentTarget.getChildAt(0).currentFrame + " " + e.currentTarget.currentFrame)
  enter.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_1").Op("getproperty", {d.Q("currentTarget")})
      .Op("pushbyte", {0}).Op("callproperty", {d.Q("getChildAt"), 1}).Op("getproperty", {d.Q("currentFrame")})
      .Op("pushstring", {d.S(" ")}).Op("add").Op("getlocal_1").Op("getproperty", {d.Q("currentTarget")})
      .Op("getproperty", {d.Q("currentFrame")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1}).Op("returnvoid");
  const auto onEnter = d.Method(enter, 1);
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        m.Listen(c, 0, "enterFrame", onEnter);
        c.Op("getlocal_0").Op("callpropvoid", {m.Q("stopAllMovieClips"), 0});
      },
      3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }), "1 1|1 1|");
}

TEST(As3Components, AnUndeclaredNameOnASealedDisplayClassFailsAsInFlash) {
  // Component frame code sets componentInspectorSetting and reads skin names
  // that a sealed class may not declare: a name no Flash class of the chain
  // declares either is Flash's ReferenceError, never a member the player lacks.
  As3Movie d;
  const auto sprite = d.Display("Sprite");
  const auto written = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal_2");
    c.Op("getlocal_2").Op("pushtrue").Op("setproperty", {m.Q("componentInspectorSetting")});
    TraceValue(m, c, "not reached", [&] { c.Op("pushstring", {m.S("")}); });
  });
  EXPECT_EQ(As3Traced(written, [](FlashPlayer&) {}),
            "ReferenceError: Error #1056: Cannot create property componentInspectorSetting on flash.display.Sprite.|");
  As3Movie r;
  r.defineTags = [](SwfBuilder& b) { DefineTwoFrameSymbol(b); };
  r.LinkedClass("Kid", {r.Display("MovieClip")}, 3, {}, {}, /*sealed=*/true);
  const auto read = r.Build([&](As3Movie& m, AbcCode& c) {
    TraceValue(m, c, "frame ", [&] {
      c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1});
      c.Op("getproperty", {m.Q("currentFrame")});
    });
    TraceValue(m, c, "not reached ", [&] {
      c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1});
      c.Op("getproperty", {m.Q("wipeIn")});
    });
  });
  EXPECT_EQ(As3Traced(read, [](FlashPlayer&) {}),
            "frame 1|ReferenceError: Error #1069: Property wipeIn not found on Kid and there is no default value.|");
}

}  // namespace
}  // namespace quarvel::player
