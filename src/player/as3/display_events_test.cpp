// ActionScript 3 events from the pointer, the keyboard and the frame: which
// object hears them, in which phase and in which order.
#include <gtest/gtest.h>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;

TEST(As3Pointer, OverDownUpClickAndOutReachTheSpriteUnderThePointer) {
  As3Movie d;
  // Pixel positions are the pixels' centres.
  const auto heard = d.Tracer("", {"type", "target.name", "eventPhase", "localX"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 10, 10, 40, 40);
    m.NewSprite(c, 2, "other", 0x0000FF, 60, 60, 30, 30);
    c.Op("getlocal_2").Op("pushbyte", {5}).Op("setproperty", {m.Q("x")});
    for (const char* t : {"mouseOver", "mouseOut", "rollOver", "rollOut", "mouseDown", "mouseUp", "click"})
      m.Listen(c, 1, t, heard);
    m.Listen(c, 2, "click", heard);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer& p) {
    p.MouseMove(2, 2);    // over nothing
    p.MouseMove(20, 30);  // over box
    p.MouseMove(21, 30);  // still over box: nothing new
    p.MouseDown(21, 30);
    p.MouseUp(21, 30);
    p.MouseDown(21, 30);  // pressed on box, released on other: no click
    p.MouseUp(70, 70);
    p.MouseMove(96, 96);  // out of both
  });
  EXPECT_EQ(out,
            "rollOver box 2 20.5|mouseOver box 2 20.5|mouseDown box 2 21.5|mouseUp box 2 21.5|click box 2 21.5|"
            "mouseDown box 2 21.5|mouseOut box 2 70.5|rollOut box 2 70.5|");
}

TEST(As3Pointer, ShapesAndMouseDisabledChildrenGiveTheirHitsToTheContainer) {
  // box holds a child sprite `inner` (mouseEnabled false) and a Shape; a
  // parent with mouseChildren false takes the hits of all its children.
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "target.name", "currentTarget.name"});
  const auto shape = d.Display("Shape");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 40, 40);
    m.NewSprite(c, 2, "inner", 0x00FF00, 50, 0, 20, 20, 1);
    m.SetBool(c, 2, "mouseEnabled", false);
    c.Op("findpropstrict", {shape}).Op("constructprop", {shape, 0}).Op("setlocal_3");
    c.Op("getlocal_3").Op("getproperty", {m.Q("graphics")}).Op("pushint", {m.a.Int(0)}).Op("callpropvoid", {m.Q("beginFill"), 1});
    c.Op("getlocal_3").Op("getproperty", {m.Q("graphics")});
    for (int v : {0, 50, 20, 20}) c.Op("pushint", {m.a.Int(v)});
    c.Op("callpropvoid", {m.Q("drawRect"), 4});
    c.Op("getlocal_1").Op("getlocal_3").Op("callpropvoid", {m.Q("addChild"), 1});
    m.NewSprite(c, 4, "group", 0x0000FF, 0, 80, 20, 20);
    m.NewSprite(c, 5, "leaf", 0x00FFFF, 30, 80, 20, 20, 4);
    m.SetBool(c, 4, "mouseChildren", false);
    m.Listen(c, 1, "mouseDown", heard);
    m.Listen(c, 4, "mouseDown", heard);
    m.Listen(c, -1, "mouseDown", heard);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer& p) {
    for (auto [x, y] : {std::pair{55, 5}, {5, 55}, {40, 85}, {90, 50}}) {
      p.MouseDown(x, y);
      p.MouseUp(x, y);
    }
  });
  // The stage hears every press as it bubbles; a press on nothing goes to the stage itself.
  EXPECT_EQ(out,
            "mouseDown box box|mouseDown box null|mouseDown box box|mouseDown box null|"
            "mouseDown group group|mouseDown group null|mouseDown null null|");
}

TEST(As3Pointer, CapturePriorityAndStopPropagationOrderTheListeners) {
  As3Movie d;
  const auto low = d.Tracer("low ", {"eventPhase"});
  const auto high = d.Tracer("high ", {"eventPhase"});
  const auto parentCapture = d.Tracer("capture ", {"currentTarget.name"});
  AbcCode stopper;
  stopper.Op("getlocal_1").Op("callpropvoid", {d.Q("stopPropagation"), 0});
  stopper.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S("stopper")}).Op("callpropvoid", {d.Q("trace"), 1});
  stopper.Op("returnvoid");
  const auto stop = d.Method(stopper, 1);
  const auto bubble = d.Tracer("bubble ", {"currentTarget.name"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "outer", 0xFF0000, 0, 0, 50, 50);
    m.NewSprite(c, 2, "leaf", 0x00FF00, 0, 0, 20, 20, 1);
    m.Listen(c, 1, "click", parentCapture, true);
    m.Listen(c, 2, "click", low, false, -5);
    m.Listen(c, 2, "click", high, false, 5);
    m.Listen(c, 2, "click", stop, false, 0);
    m.Listen(c, 2, "click", high, true);  // a capture listener on the target itself does not hear it
    m.Listen(c, 1, "click", bubble);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer& p) {
    p.MouseDown(10, 10);
    p.MouseUp(10, 10);
  });
  // stopPropagation lets the target's other listeners run but stops the bubbling.
  EXPECT_EQ(out, "capture outer|high 2|stopper|low 2|");
}

TEST(As3Pointer, ButtonModeAsksForAHandCursor) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "hand", 0xFF0000, 0, 0, 40, 40);
    m.SetBool(c, 1, "buttonMode", true);
    m.NewSprite(c, 2, "child", 0x00FF00, 10, 10, 10, 10, 1);
    m.NewSprite(c, 3, "plain", 0x0000FF, 60, 60, 40, 40);
    m.NewSprite(c, 4, "nohand", 0x0000FF, 60, 0, 40, 40);
    m.SetBool(c, 4, "buttonMode", true);
    m.SetBool(c, 4, "useHandCursor", false);
  });
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(bytes));
  p.MouseMove(30, 30);
  EXPECT_TRUE(p.OverButton());
  p.MouseMove(15, 15);  // a child of a sprite in button mode
  EXPECT_TRUE(p.OverButton());
  p.MouseMove(70, 70);
  EXPECT_FALSE(p.OverButton());
  p.MouseMove(70, 10);
  EXPECT_FALSE(p.OverButton());
}

TEST(As3Pointer, MouseXAndYAreInEachObjectsOwnSpace) {
  As3Movie d;
  const auto heard = d.Tracer("", {"target.mouseX", "target.mouseY", "currentTarget.mouseX"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 40, 40);
    c.Op("getlocal_1").Op("pushbyte", {10}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_1").Op("pushbyte", {2}).Op("setproperty", {m.Q("scaleY")});
    m.Listen(c, -1, "mouseDown", heard);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.MouseDown(30, 40); }), "20.5 20.25 30.5|");
}

TEST(As3Keyboard, KeysGoToTheFocusAndBubbleToTheStage) {
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "keyCode", "charCode", "target.name", "currentTarget.name"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "field", 0xFF0000, 0, 0, 40, 40);
    m.Listen(c, -1, "keyDown", heard);
    m.Listen(c, -1, "keyUp", heard);
    m.Listen(c, 1, "keyDown", heard);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer& p) {
    p.KeyDown(65, 97);
    p.KeyUp(65, 97);
  });
  EXPECT_EQ(out, "keyDown 65 97 null null|keyUp 65 97 null null|");

  As3Movie f;
  const auto heard2 = f.Tracer("", {"type", "keyCode", "target.name", "currentTarget.name"});
  const auto focused = f.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "field", 0xFF0000, 0, 0, 40, 40);
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getlocal_1").Op("setproperty", {m.Q("focus")});
    m.Listen(c, -1, "keyDown", heard2);
    m.Listen(c, 1, "keyDown", heard2);
  });
  EXPECT_EQ(As3Traced(focused, [](FlashPlayer& p) { p.KeyDown(13, 13); }),
            "keyDown 13 field field|keyDown 13 field null|");
}

TEST(As3Frame, ConstructedThenFrameScriptThenExitThenRender) {
  As3Movie d;
  const auto constructed = d.Tracer("", {"type"});
  AbcCode script;
  d.Trace(script, "script");
  script.Op("getlocal_0").Op("getproperty", {d.Q("stage")}).Op("callpropvoid", {d.Q("invalidate"), 0});
  script.Op("getlocal_0").Op("callpropvoid", {d.Q("stop"), 0}).Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        m.Listen(c, 0, "frameConstructed", constructed);
        m.Listen(c, 0, "exitFrame", constructed);
        m.Listen(c, -1, "render", constructed);
        c.Op("getlocal_0").Op("pushbyte", {0}).Op("getlocal_0").Op("getproperty", {m.Q("frame1")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      2, {{"frame1", script}});
  const auto out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 50); });
  EXPECT_EQ(out, "frameConstructed|script|exitFrame|render|");
}

// trace(<value on the stack>)
void TraceTop(As3Movie& m, AbcCode& c) {
  c.Op("findpropstrict", {m.Q("trace")}).Op("swap").Op("callpropvoid", {m.Q("trace"), 1});
}
void NewOf(As3Movie& m, AbcCode& c, std::string_view package, std::string_view cls, std::initializer_list<std::string_view> strings) {
  const auto name = m.a.PackageName(package, cls);
  c.Op("findpropstrict", {name});
  for (auto s : strings) c.Op("pushstring", {m.S(s)});
  c.Op("constructprop", {name, static_cast<std::int64_t>(strings.size())});
}

TEST(As3EventRules, EachEventClassWritesItsOwnNameAndFields) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    NewOf(m, c, "flash.events", "TimerEvent", {"timer"});
    TraceTop(m, c);
    NewOf(m, c, "flash.events", "ProgressEvent", {"progress"});
    TraceTop(m, c);
    // A mouse event made without a position has none: NaN.
    NewOf(m, c, "flash.events", "MouseEvent", {"m"});
    c.Op("getproperty", {m.Q("stageX")});
    TraceTop(m, c);
    // formatToString reads each named property; strings are quoted, a missing name is "null".
    NewOf(m, c, "flash.events", "Event", {"go"});
    c.Op("pushstring", {m.S("Mine")}).Op("pushstring", {m.S("type")}).Op("pushstring", {m.S("cancelable")})
        .Op("callproperty", {m.Q("formatToString"), 3});
    TraceTop(m, c);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "[TimerEvent type=\"timer\" bubbles=false cancelable=false eventPhase=2]|"
            "[ProgressEvent type=\"progress\" bubbles=false cancelable=false eventPhase=2 bytesLoaded=0 bytesTotal=0]|"
            "NaN|[Mine type=\"go\" cancelable=false]|");
}

// A MouseEvent keeps the keys and wheel turn it was made with; sent to a
// display object, its stage position follows that object as it moves.
TEST(As3EventRules, AMouseEventKeepsItsKeysAndFindsItsStagePositionThroughItsTarget) {
  As3Movie d;
  const auto heard = d.Tracer("", {"stageX", "stageY", "ctrlKey", "altKey", "shiftKey", "delta"});
  const auto me = d.Events("MouseEvent");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 10, 10);
    c.Op("getlocal_1").Op("pushbyte", {100}).Op("setproperty", {m.Q("x")});
    m.Listen(c, 1, "click", heard);
    c.Op("findpropstrict", {me}).Op("pushstring", {m.S("click")}).Op("pushfalse").Op("pushtrue").Op("pushbyte", {5})
        .Op("pushbyte", {2}).Op("pushnull").Op("pushtrue").Op("pushfalse").Op("pushtrue").Op("pushfalse")
        .Op("pushbyte", {3}).Op("constructprop", {me, 11}).Op("setlocal_2");
    c.Op("getlocal_1").Op("getlocal_2").Op("callpropvoid", {m.Q("dispatchEvent"), 1});
    // Moved after the event was sent: read again, the position moves too.
    c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q("y")});
    c.Op("getlocal_2").Op("getproperty", {m.Q("stageY")});
    TraceTop(m, c);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "105 2 true false true 3|52|");
}

TEST(As3EventRules, AnEventOnlyBecomesSentWhenSomeoneHearsItAndIsThenCopiedWhenSentAgain) {
  As3Movie d;
  // The listener traces whether the event it hears was already prevented, then prevents it.
  AbcCode lc;
  lc.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_1").Op("callproperty", {d.Q("isDefaultPrevented"), 0})
      .Op("callpropvoid", {d.Q("trace"), 1});
  lc.Op("getlocal_1").Op("callpropvoid", {d.Q("preventDefault"), 0}).Op("returnvoid");
  const auto listener = d.Method(lc, 1);
  const auto ed = d.Events("EventDispatcher"), ev = d.Events("Event");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {ed}).Op("constructprop", {ed, 0}).Op("setlocal_1");  // deaf
    c.Op("findpropstrict", {ed}).Op("constructprop", {ed, 0}).Op("setlocal_2");  // listening
    c.Op("findpropstrict", {ev}).Op("pushstring", {m.S("x")}).Op("pushfalse").Op("pushtrue")
        .Op("constructprop", {ev, 3}).Op("setlocal_3");
    m.Listen(c, 2, "x", listener);
    c.Op("getlocal_1").Op("getlocal_3").Op("callproperty", {m.Q("dispatchEvent"), 1});
    TraceTop(m, c);
    c.Op("getlocal_3").Op("getproperty", {m.Q("target")});
    TraceTop(m, c);
    for (int i = 0; i < 2; ++i) {
      c.Op("getlocal_2").Op("getlocal_3").Op("callproperty", {m.Q("dispatchEvent"), 1});
      TraceTop(m, c);
    }
    c.Op("getlocal_3").Op("getproperty", {m.Q("currentTarget")});
    TraceTop(m, c);
  });
  // The second dispatch hears a fresh copy, not the prevented original.
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "true|null|false|false|false|false|[object EventDispatcher]|");
}

// A closure the player calls as a listener runs on Flash's own global object
// (its functions, none of the script's names); called with no receiver by a
// script, the same closure runs on its script's global object.
TEST(As3EventRules, AListenerCalledByThePlayerRunsOnTheBuiltInGlobalObject) {
  As3Movie d;
  AbcCode lc;
  auto traceThis = [&](std::string_view name) {
    lc.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_0");
    if (!name.empty()) lc.Op("getproperty", {d.Q(name)});
    lc.Op("callpropvoid", {d.Q("trace"), 1});
  };
  traceThis("");
  traceThis("Main");
  traceThis("parseFloat");
  lc.Op("returnvoid");
  const auto listener = d.Method(lc, 1);
  const auto ed = d.Events("EventDispatcher"), ev = d.Events("Event");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {ed}).Op("constructprop", {ed, 0}).Op("setlocal_1");
    m.Listen(c, 1, "x", listener);
    c.Op("getlocal_1").Op("findpropstrict", {ev}).Op("pushstring", {m.S("x")}).Op("constructprop", {ev, 1})
        .Op("callpropvoid", {m.Q("dispatchEvent"), 1});
    c.Op("newfunction", {listener}).Op("pushnull").Op("pushnull").Op("call", {1}).Op("pop");
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "[object global]|undefined|function Function() {}|[object global]|[class Main]|undefined|");
}

// new EventDispatcher(target): what it sends has that target, and that
// current target at the dispatcher's own listeners, and bubbles through the
// target's containers after them.
TEST(As3EventRules, ADispatcherMadeForAChildSendsAsTheChildUpItsContainers) {
  As3Movie d;
  const auto ed = d.Events("EventDispatcher"), ev = d.Events("Event");
  const auto own = d.Tracer("own ", {"eventPhase", "target.name", "currentTarget.name"});
  const auto parent = d.Tracer("parent ", {"eventPhase", "target.name"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 10, 10);
    m.NewSprite(c, 2, "inner", 0x00FF00, 0, 0, 5, 5, 1);
    m.Listen(c, 1, "ping", parent);
    c.Op("findpropstrict", {ed}).Op("getlocal_2").Op("constructprop", {ed, 1}).Op("setlocal_3");
    m.Listen(c, 3, "ping", own);
    c.Op("getlocal_3").Op("findpropstrict", {ev}).Op("pushstring", {m.S("ping")}).Op("pushtrue")
        .Op("constructprop", {ev, 2}).Op("callpropvoid", {m.Q("dispatchEvent"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "own 2 inner inner|parent 3 inner|");
}

TEST(As3EventRules, ATimerRunsThroughItsLastTickStopsForCompleteAndRefusesBadDelays) {
  As3Movie d;
  AbcCode lc;
  lc.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_1").Op("getproperty", {d.Q("type")}).Op("pushstring", {d.S(" ")})
      .Op("add").Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("running")}).Op("add")
      .Op("callpropvoid", {d.Q("trace"), 1}).Op("returnvoid");
  const auto heard = d.Method(lc, 1);
  const auto timer = d.a.PackageName("flash.utils", "Timer");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {timer}).Op("pushbyte", {10}).Op("pushbyte", {1}).Op("constructprop", {timer, 2}).Op("setlocal_1");
    m.Listen(c, 1, "timer", heard);
    m.Listen(c, 1, "timerComplete", heard);
    c.Op("getlocal_1").Op("callpropvoid", {m.Q("start"), 0});
    // An uncaught RangeError ends the constructor here.
    c.Op("getlocal_1").Op("pushdouble", {m.a.Double(-1)}).Op("setproperty", {m.Q("delay")});
  });
  const auto out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 300); });
  EXPECT_NE(out.find("RangeError: Error #2066"), std::string::npos) << out;
  EXPECT_NE(out.find("timer true|timerComplete false|"), std::string::npos) << out;
}

TEST(As3EventRules, ATimerKeepsItsBeatAndItsHandlersReadTheTimeTheyFellDue) {
  // At 10 frames a second a 150 ms timer falls due between frames: each tick
  // runs at the next frame's end but reads (and counts on from) its own time.
  As3Movie d;
  const auto getTimer = d.a.PackageName("flash.utils", "getTimer");
  AbcCode lc;
  lc.Op("findpropstrict", {d.Q("trace")}).Op("findpropstrict", {getTimer}).Op("callproperty", {getTimer, 0})
      .Op("callpropvoid", {d.Q("trace"), 1}).Op("returnvoid");
  const auto heard = d.Method(lc, 1);
  const auto timer = d.a.PackageName("flash.utils", "Timer");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {timer}).Op("pushshort", {150}).Op("pushbyte", {3}).Op("constructprop", {timer, 2}).Op("setlocal_1");
    m.Listen(c, 1, "timer", heard);
    c.Op("getlocal_1").Op("callpropvoid", {m.Q("start"), 0});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 700); }), "150|300|450|");
}

TEST(As3EventRules, ARepeatCountAlreadyReachedStopsATimerOrCompletesItsTick) {
  As3Movie d;
  // Inside its own TIMER: the tick ends with TIMER_COMPLETE.
  AbcCode in;
  in.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S("in ")}).Op("getlocal_1").Op("getproperty", {d.Q("target")})
      .Op("getproperty", {d.Q("currentCount")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1});
  in.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getlocal_1").Op("getproperty", {d.Q("target")})
      .Op("getproperty", {d.Q("currentCount")}).Op("setproperty", {d.Q("repeatCount")}).Op("returnvoid");
  const auto inside = d.Method(in, 1);
  // Outside it (a timeout handed the timer): it stops with no TIMER_COMPLETE.
  AbcCode out;
  out.Op("getlocal_1").Op("pushbyte", {1}).Op("setproperty", {d.Q("repeatCount")}).Op("returnvoid");
  const auto setOne = d.Method(out, 1);
  const auto done = d.Tracer("done ", {"target.currentCount"});
  const auto tick = d.Tracer("out ", {"target.currentCount"});
  const auto timer = d.a.PackageName("flash.utils", "Timer");
  const auto setTimeout = d.a.PackageName("flash.utils", "setTimeout");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {timer}).Op("pushbyte", {100}).Op("pushbyte", {0}).Op("constructprop", {timer, 2}).Op("setlocal_1");
    m.Listen(c, 1, "timer", inside);
    m.Listen(c, 1, "timerComplete", done);
    c.Op("findpropstrict", {timer}).Op("pushbyte", {100}).Op("pushbyte", {0}).Op("constructprop", {timer, 2}).Op("setlocal_2");
    m.Listen(c, 2, "timer", tick);
    m.Listen(c, 2, "timerComplete", done);
    c.Op("getlocal_1").Op("callpropvoid", {m.Q("start"), 0});
    c.Op("getlocal_2").Op("callpropvoid", {m.Q("start"), 0});
    c.Op("findpropstrict", {setTimeout}).Op("newfunction", {setOne}).Op("pushbyte", {50}).Op("getlocal_2")
        .Op("callpropvoid", {setTimeout, 3});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 500); }), "in 1|done 1|out 1|");
}

TEST(As3StageChildren, TheMainTimelineTakenOffTheStageSeesNoStageUntilPutBack) {
  As3Movie d;
  const auto heard = d.Tracer("", {"type"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.Listen(c, 0, "removedFromStage", heard);
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("setlocal_1");
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("callpropvoid", {m.Q("removeChildAt"), 1});
    m.TraceValue(c, "stage ", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}); });
    m.TraceValue(c, "own root ", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("root")}).Op("getlocal_0").Op("strictequals"); });
    c.Op("getlocal_1").Op("getlocal_0").Op("callpropvoid", {m.Q("addChild"), 1});
    m.TraceValue(c, "back ", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "removedFromStage|stage null|own root true|back [object Stage]|");
}

// The stage holds the main timeline first and what scripts add to it
// after; those are the stage's children, not the main timeline's (movies
// find their document class as stage.getChildAt(0)).
TEST(As3StageChildren, TheStageListsTheMainTimelineThenItsOwnChildren) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("setlocal_1");
    m.NewSprite(c, 2, "mine", 0xFF0000, 0, 0, 10, 10);  // a child of the main timeline
    m.TraceValue(c, "first ", [&] {
      c.Op("getlocal_1").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getlocal_0").Op("strictequals");
    });
    m.TraceValue(c, "count ", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("numChildren")}); });
    // An overlay added to the stage: after the main timeline, its parent the stage.
    m.NewSprite(c, 3, "overlay", 0x0000FF, 0, 0, 10, 10, 1);
    m.TraceValue(c, "count ", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("numChildren")}); });
    m.TraceValue(c, "second ", [&] {
      c.Op("getlocal_1").Op("pushbyte", {1}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("name")});
    });
    m.TraceValue(c, "index ", [&] { c.Op("getlocal_1").Op("getlocal_3").Op("callproperty", {m.Q("getChildIndex"), 1}); });
    m.TraceValue(c, "parent ", [&] { c.Op("getlocal_3").Op("getproperty", {m.Q("parent")}); });
    m.TraceValue(c, "own ", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("numChildren")}); });
    m.TraceValue(c, "own first ", [&] {
      c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("name")});
    });
    // The main timeline's later children still go below the stage's; the
    // overlay brought to the top of the stage stays above them all.
    m.NewSprite(c, 4, "later", 0x00FF00, 0, 0, 10, 10);
    c.Op("getlocal_1").Op("getlocal_3").Op("getlocal_1").Op("getproperty", {m.Q("numChildren")}).Op("decrement")
        .Op("callpropvoid", {m.Q("setChildIndex"), 2});
    m.TraceValue(c, "own ", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("numChildren")}); });
    m.TraceValue(c, "top ", [&] {
      c.Op("getlocal_1").Op("pushbyte", {1}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("name")});
    });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "first true|count 1|count 2|second overlay|index 1|parent [object Stage]|own 1|own first mine|own 2|top overlay|");
  // Drawn in that order: the stage's overlay covers the main timeline's squares.
  const gdi::Bitmap shown = testing::As3FirstPicture(bytes);
  EXPECT_EQ(shown.GetPixel(5, 5), (gdi::Color{0, 0, 255}));
}

TEST(As3StageChildren, TheStagesLoaderInfoReadsAsTheMoviesButHearsNoLoadEvents) {
  As3Movie d;
  const auto rootHeard = d.Tracer("root ", {"type"});
  const auto stageHeard = d.Tracer("stage ", {"type"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("loaderInfo")}).Op("setlocal_1");
    c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("setlocal_2");
    m.TraceValue(c, "same ", [&] { c.Op("getlocal_1").Op("getlocal_2").Op("strictequals"); });
    m.TraceValue(c, "size ", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("width")}); });
    m.Listen(c, 1, "init", stageHeard);
    m.Listen(c, 2, "init", rootHeard);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "same false|size 100|root init|");
}

TEST(As3EventRules, FocusMovesWithOutThenInAndLeavesWithItsObject) {
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "target.name", "relatedObject"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto traceFocus = [&] {
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_0").Op("getproperty", {m.Q("stage")})
          .Op("getproperty", {m.Q("focus")}).Op("callpropvoid", {m.Q("trace"), 1});
    };
    const auto focus = [&](int local) {
      c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getlocal", {local}).Op("setproperty", {m.Q("focus")});
    };
    m.NewSprite(c, 1, "a", 0xFF0000, 0, 0, 10, 10);
    m.NewSprite(c, 2, "b", 0x00FF00, 20, 0, 10, 10);
    for (int local : {1, 2}) {
      m.Listen(c, local, "focusIn", heard);
      m.Listen(c, local, "focusOut", heard);
    }
    focus(1);
    focus(2);
    // Off the stage the focus stays until the object leaves the stage.
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("removeChild"), 1});
    traceFocus();
    focus(2);
    traceFocus();
  });
  const std::string out = testing::As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.rfind("focusIn a null|focusOut a [object Sprite]|focusIn b [object Sprite]|", 0), 0u) << out;
  EXPECT_NE(out.find("|null|focusIn b null|[object Sprite]|"), std::string::npos) << out;
}

TEST(As3EventRules, MovingAChildWithinItsOwnContainerSendsNoEvents) {
  // Two sprites on the main timeline; re-adding the lower one moves it to
  // the top, addChildAt puts it back: neither is a removal nor an addition.
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "target.name"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "a", 0xFF0000, 0, 0, 10, 10);
    m.NewSprite(c, 2, "b", 0x0000FF, 0, 0, 10, 10);
    for (const char* t : {"added", "removed", "addedToStage", "removedFromStage"}) m.Listen(c, 1, t, heard);
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("name")});
    c.Op("getlocal_0").Op("getlocal_1").Op("pushbyte", {0}).Op("callpropvoid", {m.Q("addChildAt"), 2});
    c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("name")});
    c.Op("add");
    TraceTop(m, c);
    // Into another container it is both.
    c.Op("getlocal_2").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "ba|removed a|removedFromStage a|added a|addedToStage a|");
}

// local = new TextField() named `name` over (x, y, w, h) with a border, an input field when `input`.
void NewField(As3Movie& m, AbcCode& c, int local, std::string_view name, int x, int y, bool input) {
  const auto field = m.a.PackageName("flash.text", "TextField");
  c.Op("findpropstrict", {field}).Op("constructprop", {field, 0}).Op("setlocal", {local});
  c.Op("getlocal", {local}).Op("pushstring", {m.S(name)}).Op("setproperty", {m.Q("name")});
  for (const auto& [prop, v] : {std::pair{"x", x}, std::pair{"y", y}, std::pair{"width", 30}, std::pair{"height", 20}})
    c.Op("getlocal", {local}).Op("pushint", {m.a.Int(v)}).Op("setproperty", {m.Q(prop)});
  m.SetBool(c, local, "border", true);
  if (input) c.Op("getlocal", {local}).Op("pushstring", {m.S("input")}).Op("setproperty", {m.Q("type")});
  c.Op("getlocal_0").Op("getlocal", {local}).Op("callpropvoid", {m.Q("addChild"), 1});
}

// function (e) { e.preventDefault() }
std::uint32_t Preventer(As3Movie& m) {
  AbcCode c;
  c.Op("getlocal_1").Op("callpropvoid", {m.Q("preventDefault"), 0}).Op("returnvoid");
  return m.Method(c, 1);
}

TEST(As3MouseFocus, APressOffersTheFocusToWhatItHitsBeforeMouseDown) {
  // a is in tab order, b is not; a text field takes the focus whatever its
  // tabEnabled; a press on nothing clears the focus, and with no focus says nothing.
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "target.name", "relatedObject"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "a", 0xFF0000, 0, 0, 20, 20);
    m.NewSprite(c, 2, "b", 0x00FF00, 30, 0, 20, 20);
    m.SetBool(c, 1, "tabEnabled", true);
    NewField(m, c, 3, "t", 60, 0, false);
    m.SetBool(c, 3, "tabEnabled", false);
    for (const char* t : {"mouseFocusChange", "focusIn", "focusOut", "mouseDown"}) m.Listen(c, -1, t, heard);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer& p) {
    for (const auto& [x, y] : {std::pair{5, 5}, {35, 5}, {70, 5}, {5, 80}, {5, 80}}) p.MouseDown(x, y), p.MouseUp(x, y);
  });
  EXPECT_EQ(out,
            "mouseFocusChange null [object Sprite]|focusIn a null|mouseDown a null|"
            "mouseFocusChange a [object Sprite]|focusOut a null|mouseDown b null|"
            "mouseFocusChange null [object TextField]|focusIn t null|mouseDown t null|"
            "mouseFocusChange t null|focusOut t null|mouseDown null null|"
            "mouseDown null null|");
}

TEST(As3MouseFocus, APreventedMouseFocusChangeKeepsTheFocusWhereItWas) {
  // Component frameworks refuse Flash's own move and set the focus themselves.
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "target.name", "target.stage.focus.name"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "a", 0xFF0000, 0, 0, 20, 20);
    m.NewSprite(c, 2, "b", 0x00FF00, 30, 0, 20, 20);
    m.SetBool(c, 1, "tabEnabled", true);
    m.SetBool(c, 2, "tabEnabled", true);
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getlocal_1").Op("setproperty", {m.Q("focus")});
    m.Listen(c, -1, "mouseFocusChange", Preventer(m));
    for (const char* t : {"focusIn", "focusOut", "click"}) m.Listen(c, -1, t, heard);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer& p) { p.MouseDown(35, 5), p.MouseUp(35, 5); });
  EXPECT_EQ(out, "click b a|");
}

TEST(As3Typing, KeysEditTheFocusedInputFieldThroughTextInputThenChange) {
  // Each character is offered as textInput, then typed; Backspace removes the
  // one before the caret; maxChars caps the text; every edit says change.
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "text"});
  const auto up = d.Tracer("up ", {"target.text"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    NewField(m, c, 1, "t", 0, 0, true);
    c.Op("getlocal_1").Op("pushbyte", {3}).Op("setproperty", {m.Q("maxChars")});
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getlocal_1").Op("setproperty", {m.Q("focus")});
    m.Listen(c, 1, "textInput", heard);
    m.Listen(c, 1, "change", d.Tracer("", {"type"}));
    m.Listen(c, 1, "keyUp", up);
  });
  const auto out = As3Traced(bytes, [](FlashPlayer& p) {
    for (const auto& [key, ch] : {std::pair{65, 97}, {66, 66}, {8, 8}, {67, 99}, {68, 100}, {69, 101}})
      p.KeyDown(key, ch), p.KeyUp(key, ch);
  });
  EXPECT_EQ(out,
            "textInput a|change|up a|textInput B|change|up aB|change|up a|textInput c|change|up ac|"
            "textInput d|change|up acd|textInput e|up acd|");
}

TEST(As3Typing, ARefusedCharacterAndAFieldNotForInputStayAsTheyWere) {
  As3Movie d;
  const auto up = d.Tracer("", {"target.name", "target.text"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    NewField(m, c, 1, "in", 0, 0, true);
    NewField(m, c, 2, "shown", 0, 40, false);
    m.Listen(c, 1, "textInput", Preventer(m));
    for (int local : {1, 2}) m.Listen(c, local, "keyUp", up);
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getlocal_1").Op("setproperty", {m.Q("focus")});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.KeyDown(65, 97), p.KeyUp(65, 97); }), "in |");
  As3Movie e;
  const auto up2 = e.Tracer("", {"target.name", "target.text"});
  const auto shown = e.Build([&](As3Movie& m, AbcCode& c) {
    NewField(m, c, 2, "shown", 0, 40, false);
    m.Listen(c, 2, "keyUp", up2);
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getlocal_2").Op("setproperty", {m.Q("focus")});
  });
  EXPECT_EQ(As3Traced(shown, [](FlashPlayer& p) { p.KeyDown(65, 97), p.KeyUp(65, 97); }), "shown |");
}

TEST(As3Typing, RestrictLetsOnlyItsCharactersIn) {
  // Ranges, '^' switching to refusals, '\' escaping; a list starting with '^' allows the rest.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0-9", "12"}, {"^0-9", "a-x"}, {"a-z^x", "a"}, {"\\-", "-"}, {"", ""}};
  for (const auto& [rule, want] : cases) {
    As3Movie d;
    const auto up = d.Tracer("", {"target.text"});
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      NewField(m, c, 1, "t", 0, 0, true);
      c.Op("getlocal_1").Op("pushstring", {m.S(rule)}).Op("setproperty", {m.Q("restrict")});
      c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getlocal_1").Op("setproperty", {m.Q("focus")});
      m.Listen(c, 1, "keyUp", up);
    });
    const auto out = As3Traced(bytes, [](FlashPlayer& p) {
      for (const auto& [key, ch] : {std::pair{49, 49}, {65, 97}, {189, 45}, {88, 120}, {50, 50}}) p.KeyDown(key, ch);
      p.KeyUp(50, 50);
    });
    EXPECT_EQ(out, want + "|") << rule;
  }
}

}  // namespace
}  // namespace quarvel::player
