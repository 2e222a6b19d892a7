// The order of a frame's events as Flash has it: ENTER_FRAME after the
// timelines entered their next frames, before the frame scripts; ADDED
// before ADDED_TO_STAGE for what the timeline makes.
#include <gtest/gtest.h>

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

TEST(As3EnterFrame, TimelineRemovalsComeBeforeEnterFrameAndPlacementsAfter) {
  // A two-frame symbol swapping its one shape, placed on the main timeline:
  // on its way forward the remove tag runs while its old frame number
  // shows; when it loops, the number is the first frame's already. Either
  // way ENTER_FRAME sees the child gone and the new one comes after it.
  // (The first ADDED is the main timeline's own, its parent the stage.)
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
            "added undefined 1|removed 1 1|enter 0|added 2 1|removed 1 1|enter 0|added 1 1|");
}

}  // namespace
}  // namespace quarvel::player
