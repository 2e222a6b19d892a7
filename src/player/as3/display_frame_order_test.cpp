// The order of a frame's events as Flash has it: ENTER_FRAME after the
// timelines entered their next frames, before the frame scripts; ADDED
// before ADDED_TO_STAGE for what the timeline makes.
#include <gtest/gtest.h>

#include <functional>
#include <string_view>
#include <vector>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcBuilder;
using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;
using testing::FillStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;

TEST(As3EnterFrame, ListenersSeeTheNewFrameBeforeItsScript) {
  As3Movie d;
  const auto enter = d.Tracer("enter ", {"target.currentFrame"});
  AbcCode frame2;
  frame2.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S("script ")}).Op("getlocal_0")
      .Op("getproperty", {d.Q("currentFrame")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1}).Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        m.Listen(c, 0, "enterFrame", enter);
        c.Op("getlocal_0").Op("pushbyte", {1}).Op("getlocal_0").Op("getproperty", {m.Q("frame2")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      3, {{"frame2", frame2}});
  // Frame 1 has no ENTER_FRAME for a listener its constructor added; at
  // the end the timeline loops to frame 1.
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); }),
            "enter 2|script 2|enter 3|enter 1|");
}

TEST(As3EnterFrame, AGotoOnTheLastFrameShowsNoFrameAfterIt) {
  // The common "if (currentFrame == totalFrames) gotoAndStop(1)": frame 3
  // is entered, and the listener sends the timeline back before it shows.
  As3Movie d;
  AbcCode listener;
  listener.Op("getlocal_0").Op("getproperty", {d.Q("currentFrame")}).Op("getlocal_0")
      .Op("getproperty", {d.Q("totalFrames")}).Branch("ifne", "out");
  listener.Op("getlocal_0").Op("pushbyte", {1}).Op("callpropvoid", {d.Q("gotoAndStop"), 1});
  listener.Label("out").Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushstring", {m.S("enterFrame")}).Op("getlocal_0").Op("getproperty", {m.Q("onEnter")})
            .Op("callpropvoid", {m.Q("addEventListener"), 2});
      },
      3, {{"onEnter", listener}});
  FlashPlayer p;
  ASSERT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  p.AdvanceTo(p.Now() + 150);
  EXPECT_EQ(p.CurrentFrame(), 1);
  p.AdvanceTo(p.Now() + 100);  // frame 3 entered and left at once
  EXPECT_EQ(p.CurrentFrame(), 0);
  EXPECT_FALSE(p.Playing());
}

TEST(As3EnterFrame, TheMainTimelineHearsAddedThenAddedToStageAfterItsConstructor) {
  // Listeners the document class adds in its constructor hear both; an
  // event writes itself as Flash writes it.
  As3Movie d;
  AbcCode whole;  // trace(String(e))
  whole.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_1").Op("convert_s").Op("callpropvoid", {d.Q("trace"), 1})
      .Op("returnvoid");
  const auto traceEvent = d.Method(whole, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.Listen(c, 0, "added", traceEvent);
    m.Listen(c, 0, "addedToStage", traceEvent);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "[Event type=\"added\" bubbles=true cancelable=false eventPhase=2]|"
            "[Event type=\"addedToStage\" bubbles=false cancelable=false eventPhase=2]|");
}

TEST(As3EnterFrame, TimelineRemovalsAndPlacementsComeBeforeEnterFrameAndAddedAfter) {
  // A two-frame symbol swapping its one shape, placed on the main timeline:
  // on its way forward the remove tag runs while its old frame number
  // shows; when it loops, the number is the first frame's already. Either
  // way ENTER_FRAME sees the old child gone and the new one placed (counted,
  // as Flash Player's recorded output shows), and ADDED comes after it.
  // (The first ADDED is the main timeline's own, its parent the stage,
  // which has no currentFrame: its sealed class throws #1069.)
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s).DefineShape(2, s);
    Timeline sprite;
    sprite.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    sprite.RemoveObject2(1).PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame();
    b.DefineSprite(3, sprite);
    b.PlaceObject2({.depth = 1, .characterId = 3});
  };
  const auto removed = d.Tracer("removed ", {"target.parent.currentFrame", "target.parent.numChildren"});
  const auto added = d.Tracer("added ", {"target.parent.currentFrame", "target.parent.numChildren"});
  AbcCode enter;  // trace("enter " + e.currentTarget.getChildAt(0).numChildren)
  enter.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S("enter ")}).Op("getlocal_1")
      .Op("getproperty", {d.Q("currentTarget")}).Op("pushbyte", {0}).Op("callproperty", {d.Q("getChildAt"), 1})
      .Op("getproperty", {d.Q("numChildren")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1}).Op("returnvoid");
  const auto onEnter = d.Method(enter, 1);
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        m.Listen(c, 0, "removed", removed);
        m.Listen(c, 0, "added", added);
        m.Listen(c, 0, "enterFrame", onEnter);
      },
      3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }),
            "ReferenceError: Error #1069: Property currentFrame not found on flash.display.Stage and there is no "
            "default value.|removed 1 1|enter 1|added 2 1|removed 1 1|enter 1|added 1 1|");
}

TEST(As3EnterFrame, AForwardGotoTakesOffWhatThePassedFramesRemoveBeforeTheNumberChanges) {
  // Frame 2 removes "a", frame 3 places "b"; frame 1's script jumps to 3.
  // The removal is heard at frame 1, the placement at frame 3.
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    Timeline sprite;
    sprite.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    b.DefineSprite(3, sprite);
    b.PlaceObject2({.depth = 1, .characterId = 3, .name = "a"});
  };
  d.frameTags = [](SwfBuilder& b, int i) {
    if (i == 1) b.RemoveObject2(1);
    if (i == 2) b.PlaceObject2({.depth = 2, .characterId = 3, .name = "b"});
  };
  const auto heard = d.Tracer("", {"type", "target.name", "currentTarget.currentFrame"});
  AbcCode frame1;
  frame1.Op("getlocal_0").Op("pushbyte", {3}).Op("callpropvoid", {d.Q("gotoAndStop"), 1}).Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        m.Listen(c, 0, "removed", heard);
        m.Listen(c, 0, "added", heard);
        c.Op("getlocal_0").Op("pushbyte", {0}).Op("getlocal_0").Op("getproperty", {m.Q("frame1")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      3, {{"frame1", frame1}});
  const std::string out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 50); });
  EXPECT_NE(out.find("|removed a 1|"), std::string::npos) << out;
  EXPECT_NE(out.find("|added b 3|"), std::string::npos) << out;
}

// Each frame event has its own broadcast list, in the order objects first
// listened for that event; an object that drops its last listener leaves
// the list and joins its end when it listens again.
TEST(As3FrameEvents, EachEventReachesObjectsInTheOrderTheyBeganToListen) {
  As3Movie d;
  const auto rootEnter = d.Tracer("root enter", {});
  const auto rootExit = d.Tracer("root exit", {});
  const auto childEnter = d.Tracer("child enter", {});
  const auto childExit = d.Tracer("child exit", {});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Display("Sprite")}).Op("constructprop", {m.Display("Sprite"), 0}).Op("setlocal", {1});
    // The root's enterFrame listener is kept in local 2 to take it away.
    c.Op("newfunction", {rootEnter}).Op("setlocal", {2});
    c.Op("getlocal_0").Op("pushstring", {m.S("enterFrame")}).Op("getlocal_2")
        .Op("callpropvoid", {m.Q("addEventListener"), 2});
    m.Listen(c, 1, "exitFrame", childExit);
    m.Listen(c, 1, "enterFrame", childEnter);
    m.Listen(c, 0, "exitFrame", rootExit);
    m.Trace(c, "--");
    c.Op("getlocal_0").Op("pushstring", {m.S("enterFrame")}).Op("getlocal_2")
        .Op("callpropvoid", {m.Q("removeEventListener"), 2});
    c.Op("getlocal_0").Op("pushstring", {m.S("enterFrame")}).Op("getlocal_2")
        .Op("callpropvoid", {m.Q("addEventListener"), 2});
    // The child is held by the stage so that it lives.
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
  }, 2);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); }),
            "--|child exit|root exit|child enter|root enter|child exit|root exit|");
}

// From SWF 10 on, a goto outside the frame's own work (here in an
// ENTER_FRAME listener) is a frame of its own less ENTER_FRAME: the new
// frame is built, FRAME_CONSTRUCTED, its script, EXIT_FRAME, and then the
// listener goes on. SWF 9 leaves all of that to the frame.
std::vector<std::uint8_t> GotoFromEnterFrame(As3Movie& d) {
  AbcCode enter;  // trace("enter"); if (currentFrame == 2) { gotoAndStop(3); trace("back"); }
  d.Trace(enter, "enter");
  enter.Op("getlocal_0").Op("getproperty", {d.Q("currentFrame")}).Op("pushbyte", {2}).Branch("ifne", "out");
  enter.Op("getlocal_0").Op("pushbyte", {3}).Op("callpropvoid", {d.Q("gotoAndStop"), 1});
  d.Trace(enter, "back");
  enter.Label("out").Op("returnvoid");
  AbcCode frame3;
  d.Trace(frame3, "script 3");
  frame3.Op("returnvoid");
  const auto constructed = d.Tracer("constructed", {});
  const auto exited = d.Tracer("exit", {});
  return d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushbyte", {2}).Op("getlocal_0").Op("getproperty", {m.Q("frame3")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
        m.Trace(c, "ctor");
        m.Listen(c, 0, "frameConstructed", constructed);
        m.Listen(c, 0, "exitFrame", exited);
        c.Op("getlocal_0").Op("pushstring", {m.S("enterFrame")}).Op("getlocal_0").Op("getproperty", {m.Q("onEnter")})
            .Op("callpropvoid", {m.Q("addEventListener"), 2});
      },
      3, {{"onEnter", enter}, {"frame3", frame3}});
}

TEST(As3FrameEvents, AGotoInAListenerIsAFrameOfItsOwnFromSwf10) {
  As3Movie d;
  const auto bytes = GotoFromEnterFrame(d);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); }),
            "ctor|constructed|exit|enter|constructed|script 3|exit|back|constructed|exit|");
}

TEST(As3FrameEvents, AGotoInAListenerOfASwf9MovieSendsNoFrameEvents) {
  As3Movie d;
  auto bytes = GotoFromEnterFrame(d);
  bytes[3] = 9;  // the header's version
  const std::string traced = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); });
  const auto enter = traced.find("enter|"), back = traced.find("back|");
  ASSERT_NE(back, std::string::npos) << traced;
  const std::string inGoto = traced.substr(enter, back - enter);
  EXPECT_EQ(inGoto.find("constructed"), std::string::npos) << traced;
  EXPECT_EQ(inGoto.find("exit"), std::string::npos) << traced;
}

TEST(As3FrameEvents, AGotoInAListenerOfASwf9MovieLeavesItsScriptsToTheFrame) {
  // The goto's frame script runs in the frame's own turn, after
  // FRAME_CONSTRUCTED, not inside the listener.
  As3Movie d;
  auto bytes = GotoFromEnterFrame(d);
  bytes[3] = 9;
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); }),
            "ctor|constructed|exit|enter|back|constructed|script 3|exit|");
}

// A clip's goto from its own frame script waits for the script to end (the
// last goto asked wins); the clip stops or plays at once.
TEST(As3FrameEvents, AGotoFromTheClipsOwnFrameScriptWaitsForItsEnd) {
  As3Movie d;
  AbcCode frame1;  // gotoAndStop(3); gotoAndStop(2); trace("after " + currentFrame + " " + isPlaying)
  frame1.Op("getlocal_0").Op("pushbyte", {3}).Op("callpropvoid", {d.Q("gotoAndStop"), 1});
  frame1.Op("getlocal_0").Op("pushbyte", {2}).Op("callpropvoid", {d.Q("gotoAndStop"), 1});
  d.TraceValue(frame1, "after ", [&] {
    frame1.Op("getlocal_0").Op("getproperty", {d.Q("currentFrame")}).Op("pushstring", {d.S(" ")}).Op("add")
        .Op("getlocal_0").Op("getproperty", {d.Q("isPlaying")}).Op("add");
  });
  frame1.Op("returnvoid");
  AbcCode frame2, frame3;
  d.Trace(frame2, "script 2");
  frame2.Op("returnvoid");
  d.Trace(frame3, "script 3");
  frame3.Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        for (int f = 0; f < 3; ++f) {
          const char* name = f == 0 ? "frame1" : f == 1 ? "frame2" : "frame3";
          c.Op("getlocal_0").Op("pushbyte", {f}).Op("getlocal_0").Op("getproperty", {m.Q(name)})
              .Op("callpropvoid", {m.Q("addFrameScript"), 2});
        }
      },
      3, {{"frame1", frame1}, {"frame2", frame2}, {"frame3", frame3}});
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }), "after 1 false|script 2|");
}

// From SWF 10 a goto a constructor asks of its parent's timeline makes the
// children of the frame it lands on at once; the children a constructor
// still running is to make wait for it (here the parent's, which is making
// the one asking).
std::string ConstructorAsksParentForNextFrame(bool parentIsMaking) {
  As3Movie d;
  const auto clip = d.Display("MovieClip");
  d.LinkedClass("Asker", {clip}, 2, [&](AbcCode& c) {
    d.Trace(c, "asking");
    c.Op("getlocal_0").Op("getproperty", {d.Q("parent")}).Op("pushbyte", {parentIsMaking ? 2 : 3})
        .Op("callpropvoid", {d.Q("gotoAndStop"), 1});
    d.Trace(c, "back");
  });
  d.LinkedClass("Kid", {clip}, 3, [&](AbcCode& c) { d.Trace(c, "kid"); });
  d.defineTags = [parentIsMaking](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    for (std::uint16_t id : {2, 3}) {
      Timeline t;
      t.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
      b.DefineSprite(id, t);
    }
    if (parentIsMaking) {
      Timeline box;  // Asker, then Kid on its second frame
      box.PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame();
      box.PlaceObject2({.depth = 2, .characterId = 3}).ShowFrame();
      b.DefineSprite(4, box);
      b.PlaceObject2({.depth = 1, .characterId = 4});
    }
  };
  if (!parentIsMaking) {
    // The main timeline, made already: Asker on its second frame, Kid on its third.
    d.frameTags = [](SwfBuilder& b, int frame) {
      if (frame == 1) b.PlaceObject2({.depth = 1, .characterId = 2});
      if (frame == 2) b.PlaceObject2({.depth = 2, .characterId = 3});
    };
  }
  const auto bytes = d.Build([](As3Movie&, AbcCode&) {}, 3);
  return As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); });
}

// Clips off every display list play on: one a script made and never
// added, and one it took off the stage. What a script makes sits out its
// first advance, so it runs a frame behind a copy the timeline placed.
TEST(As3Orphans, ClipsOffTheListPlayOnAFrameBehindTheTimelines) {
  As3Movie d;
  d.LinkedClass("Clock", {d.Display("MovieClip")}, 5);
  d.defineTags = [](SwfBuilder& b) {
    Timeline clock;
    for (int i = 0; i < 4; ++i) clock.ShowFrame();
    b.DefineSprite(5, clock);
    b.PlaceObject2({.depth = 1, .characterId = 5});
  };
  const auto placed = d.Tracer("placed ", {"target.currentFrame"});
  const auto made = d.Tracer("made ", {"target.currentFrame", "target.parent"});
  const auto removed = d.Tracer("removed ", {"target.currentFrame", "target.parent"});
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("setlocal", {1});
        c.Op("findpropstrict", {m.Q("Clock")}).Op("constructprop", {m.Q("Clock"), 0}).Op("setlocal", {2});
        c.Op("findpropstrict", {m.Q("Clock")}).Op("constructprop", {m.Q("Clock"), 0}).Op("setlocal", {3});
        c.Op("getlocal_0").Op("getlocal_3").Op("callpropvoid", {m.Q("addChild"), 1});
        c.Op("getlocal_0").Op("getlocal_3").Op("callpropvoid", {m.Q("removeChild"), 1});
        // The listeners hold the two off the list.
        m.Listen(c, 1, "enterFrame", placed);
        m.Listen(c, 2, "enterFrame", made);
        m.Listen(c, 3, "enterFrame", removed);
      },
      1);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }),
            "placed 2|made 1 null|removed 1 null|placed 3|made 2 null|removed 2 null|");
}

TEST(As3GotoFrames, AGotoFromAConstructorMakesTheNewFramesChildrenAtOnce) {
  EXPECT_EQ(ConstructorAsksParentForNextFrame(false), "asking|kid|back|");
}

TEST(As3GotoFrames, ChildrenARunningConstructorIsToMakeWaitForIt) {
  EXPECT_EQ(ConstructorAsksParentForNextFrame(true), "asking|back|kid|");
}

// A goto's frame as Flash's player reads it: a whole number counted from
// one, made a 32-bit int by truncation (the lowest int out of range, which
// wraps to the last frame), clamped to the timeline; text of a whole number
// is that number; anything else is a label, and an unknown one is the first
// frame before SWF 11 and ArgumentError #2109 from it.
std::vector<std::uint8_t> GotoArguments(As3Movie& d, const std::vector<std::function<void(AbcCode&)>>& args) {
  return d.Build(
      [&](As3Movie& m, AbcCode& c) {
        for (const auto& push : args) {
          c.Op("getlocal_0");
          push(c);
          c.Op("callpropvoid", {m.Q("gotoAndStop"), 1});
          m.TraceValue(c, "", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("currentFrame")}); });
        }
      },
      3);
}

TEST(As3GotoFrames, NumbersWrapAndClampAsFlashsPlayerReadsThem) {
  As3Movie d;
  const auto number = [&](double v) { return [&d, v](AbcCode& c) { c.Op("pushdouble", {d.a.Double(v)}); }; };
  const auto text = [&](const char* v) { return [&d, v](AbcCode& c) { c.Op("pushstring", {d.S(v)}); }; };
  const auto bytes = GotoArguments(d, {number(999), number(0), number(2), number(2147483648.0), number(2),
                                       number(-2147483648.0), number(-2147483647.0), number(4294967298.0),
                                       number(-1e20), text("2 "), text("-99999999999999999999"), number(-99),
                                       number(2), number(2.5), number(3), text("nowhere")});
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "3|1|2|3|2|3|1|3|3|2|3|1|2|1|3|1|");
}

TEST(As3GotoFrames, AnUnknownLabelThrowsFromSwf11) {
  As3Movie d;
  auto bytes = GotoArguments(d, {[&](AbcCode& c) { c.Op("pushstring", {d.S("nowhere")}); }});
  bytes[3] = 11;
  EXPECT_NE(As3Traced(bytes, [](FlashPlayer&) {}).find("Error #2109: Frame label nowhere not found"), std::string::npos);
}

// ---- code blocks of later frames

// A block for the second frame, not lazy: script 0 defines class Later
// (tracing "later script"), script 1, its entry, traces "entry".
std::vector<std::uint8_t> LaterFrameBlock() {
  AbcBuilder a;
  const auto pub = a.Namespace(avm2::NamespaceKind::kPackage, "");
  const auto q = [&](std::string_view n) { return a.QName(pub, n); };
  const auto method = [&](const AbcCode& c) {
    const auto m = a.Method({});
    a.Body({.method = m, .maxStack = 4, .localCount = 1, .maxScopeDepth = 4}, c);
    return m;
  };
  const auto trace = [&](AbcCode& c, std::string_view text) {
    c.Op("findpropstrict", {q("trace")}).Op("pushstring", {a.String(text)}).Op("callpropvoid", {q("trace"), 1});
  };
  AbcCode ctor, cinit;
  ctor.Op("getlocal_0").Op("pushscope").Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  cinit.Op("returnvoid");
  avm2::InstanceInfo ii;
  ii.name = q("Later");
  ii.superName = q("Object");
  ii.iinit = method(ctor);
  const auto cls = a.Class(ii, {.cinit = method(cinit)});
  AbcCode define;
  define.Op("getlocal_0").Op("pushscope").Op("getscopeobject", {0}).Op("getlex", {q("Object")}).Op("pushscope")
      .Op("getlex", {q("Object")}).Op("newclass", {cls}).Op("popscope").Op("initproperty", {q("Later")});
  trace(define, "later script");
  define.Op("returnvoid");
  avm2::Trait t;
  t.name = q("Later");
  t.kind = avm2::TraitKind::kClass;
  t.index = cls;
  a.Script({.init = method(define), .traits = {t}});
  AbcCode entry;
  entry.Op("getlocal_0").Op("pushscope");
  trace(entry, "entry");
  entry.Op("returnvoid");
  a.Script({.init = method(entry)});
  return a.Bytes();
}

// A three-frame movie whose second frame holds LaterFrameBlock and a
// SymbolClass naming Later; `ctor` is Main's constructor, `has` a function
// (local-free) tracing whether Later is defined.
std::vector<std::uint8_t> LaterFrameMovie(const std::function<void(As3Movie&, AbcCode&, std::uint32_t)>& ctor) {
  As3Movie d;
  d.frameTags = [](SwfBuilder& b, int i) {
    if (i != 1) return;
    testing::AddDoAbc(b, LaterFrameBlock(), "later", 0);
    b.ExportAssets({{7, "Later"}}, true);
  };
  AbcCode has;
  d.TraceValue(has, "has ", [&] {
    has.Op("getlex", {d.a.PackageName("flash.system", "ApplicationDomain")}).Op("getproperty", {d.Q("currentDomain")})
        .Op("pushstring", {d.S("Later")}).Op("callproperty", {d.Q("hasDefinition"), 1});
  });
  has.Op("returnvoid");
  const auto hasMethod = d.Method(has, 1);
  return d.Build([&](As3Movie& m, AbcCode& c) { ctor(m, c, hasMethod); }, 3);
}

// A frame's code runs when the playhead first gets there, not as the movie
// loads: its classes do not exist before. Its SymbolClass classes are looked
// up (their scripts run) before the block's entry script, and all before
// the frame's ENTER_FRAME.
TEST(As3FrameCode, ALaterFramesBlockRunsWhenThatFrameFirstPlays) {
  const auto bytes = LaterFrameMovie([](As3Movie& m, AbcCode& c, std::uint32_t has) {
    c.Op("newfunction", {has}).Op("pushnull").Op("pushnull").Op("call", {1}).Op("pop");
    m.Listen(c, 0, "enterFrame", has);
  });
  // Frames 2, 3 and 1 again: the block runs once.
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); }),
            "has false|later script|entry|has true|has true|has true|");
}

// A jump runs the code of every frame it passes, in order, inside the call.
TEST(As3FrameCode, AJumpRunsTheCodeOfTheFramesItPasses) {
  const auto bytes = LaterFrameMovie([](As3Movie& m, AbcCode& c, std::uint32_t has) {
    m.Trace(c, "before");
    c.Op("getlocal_0").Op("pushbyte", {3}).Op("callpropvoid", {m.Q("gotoAndStop"), 1});
    m.Trace(c, "after");
    c.Op("newfunction", {has}).Op("pushnull").Op("pushnull").Op("call", {1}).Op("pop");
    // Back to frame 1 and on again: nothing runs twice.
    c.Op("getlocal_0").Op("pushbyte", {1}).Op("callpropvoid", {m.Q("gotoAndStop"), 1});
    c.Op("getlocal_0").Op("pushbyte", {2}).Op("callpropvoid", {m.Q("gotoAndStop"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "before|later script|entry|after|has true|");
}

}  // namespace
}  // namespace quarvel::player
