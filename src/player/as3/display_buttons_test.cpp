// Buttons of ActionScript 3 movies: a button symbol's four states are
// display objects made from its records (a lone record's object is the
// state, more go into a Sprite), held by the button, which is no container:
// the state shown sees no parent but the button's stage.
#include <gtest/gtest.h>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3FirstPicture;
using testing::As3Movie;
using testing::As3Traced;
using testing::ButtonRecord;
using testing::FillStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;

// Shapes 1 (red, 0..40), 2 (green, 50..90) and 3 (blue, 0..90); button 5:
// shape 1 up and over, shape 2 up, shape 3 the hit area only. The button
// is placed at depth 1 of the main timeline.
void DefineButton(SwfBuilder& b) {
  const auto square = [&](std::uint16_t id, swf::Rgba rgba, int from, int to) {
    ShapeBuilder s;
    s.Rectangle(from * 20, from * 20, (to - from) * 20, (to - from) * 20, s.AddFill(FillStyle::Solid(rgba)));
    b.DefineShape(id, s);
  };
  square(1, {255, 0, 0, 255}, 0, 40);
  square(2, {0, 255, 0, 255}, 50, 90);
  square(3, {0, 0, 255, 255}, 0, 90);
  b.DefineButton2(5, {ButtonRecord{.up = true, .over = true, .characterId = 1, .depth = 1},
                      ButtonRecord{.up = true, .characterId = 2, .depth = 2},
                      ButtonRecord{.hitTest = true, .characterId = 3, .depth = 3}});
  b.PlaceObject2({.depth = 1, .characterId = 5});
}

// trace(<getChildAt(0)>.<path...>)
void TraceButton(As3Movie& m, AbcCode& c, const std::vector<std::string>& path) {
  c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1});
  for (const std::string& p : path) c.Op("getproperty", {m.Q(p)});
  c.Op("callpropvoid", {m.Q("trace"), 1});
}

TEST(As3Button, StatesAreObjectsMadeFromTheRecords) {
  As3Movie d;
  d.defineTags = DefineButton;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    // Two records: a Sprite holding them in depth order; one: the object
    // itself; none: an empty Sprite.
    TraceButton(m, c, {"upState"});
    TraceButton(m, c, {"upState", "numChildren"});
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1})
        .Op("getproperty", {m.Q("upState")}).Op("pushbyte", {1}).Op("callproperty", {m.Q("getChildAt"), 1})
        .Op("getproperty", {m.Q("x")}).Op("callpropvoid", {m.Q("trace"), 1});
    TraceButton(m, c, {"overState"});
    TraceButton(m, c, {"downState", "numChildren"});
    TraceButton(m, c, {"hitTestState"});
    // The state shown is held by the button but sees no parent; it is on
    // the stage, the others are not.
    TraceButton(m, c, {"upState", "parent"});
    TraceButton(m, c, {"upState", "stage"});
    TraceButton(m, c, {"overState", "stage"});
    // Each state has objects of its own: shape 1 shows in two.
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1})
        .Op("getproperty", {m.Q("upState")}).Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1})
        .Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("overState")})
        .Op("strictequals").Op("callpropvoid", {m.Q("trace"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "[object Sprite]|2|0|[object Shape]|0|[object Shape]|null|[object Stage]|null|false|");
}

TEST(As3Button, ItDrawsItsUpStateAlone) {
  As3Movie d;
  d.defineTags = DefineButton;
  const auto bmp = As3FirstPicture(d.Build([](As3Movie&, AbcCode&) {}));
  EXPECT_EQ(bmp.GetPixel(20, 20), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(bmp.GetPixel(70, 70), (gdi::Color{0, 255, 0}));
  // The hit area is not drawn.
  EXPECT_EQ(bmp.GetPixel(20, 70), (gdi::Color{255, 255, 255}));
}

TEST(As3Button, AStateAScriptSetsLeavesItsContainer) {
  // btn.upState = mc takes mc off the main timeline; mc then sees no
  // parent; added back, it is both the state and the timeline's child.
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto mc = m.Display("MovieClip"), sb = m.Display("SimpleButton");
    c.Op("findpropstrict", {mc}).Op("constructprop", {mc, 0}).Op("setlocal_1");
    c.Op("findpropstrict", {sb}).Op("constructprop", {sb, 0}).Op("setlocal_2");
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_2").Op("getlocal_1").Op("setproperty", {m.Q("upState")});
    m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("parent")}); });
    m.TraceValue(c, "", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("numChildren")}); });
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {m.Q("addChild"), 1});
    m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("parent")}); });
    m.TraceValue(c, "", [&] { c.Op("getlocal_2").Op("getproperty", {m.Q("upState")}).Op("getlocal_1").Op("strictequals"); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "null|0|[object Main]|true|");
}

TEST(As3Button, TheStateShownThatAScriptSetsHasAFrameOfItsOwn) {
  // It hears FRAME_CONSTRUCTED and EXIT_FRAME at once, alone; a state not
  // shown hears them only with everyone at the frame's turn.
  As3Movie d;
  const auto up = d.Tracer("up ", {"type"});
  const auto over = d.Tracer("over ", {"type"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto sprite = m.Display("Sprite"), sb = m.Display("SimpleButton");
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal_1");
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal_3");
    for (const char* type : {"frameConstructed", "exitFrame"}) {
      m.Listen(c, 1, type, up);
      m.Listen(c, 3, type, over);
    }
    c.Op("findpropstrict", {sb}).Op("constructprop", {sb, 0}).Op("setlocal_2");
    m.Trace(c, "set");
    c.Op("getlocal_2").Op("getlocal_3").Op("setproperty", {m.Q("overState")});
    c.Op("getlocal_2").Op("getlocal_1").Op("setproperty", {m.Q("upState")});
    m.Trace(c, "after");
    // The button is kept by the main timeline, so that its states live.
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "set|up frameConstructed|up exitFrame|after|up frameConstructed|over frameConstructed|up exitFrame|"
            "over exitFrame|");
}

TEST(As3Button, AClipInTheUpStateRunsAFrameBeforeTheButtonsConstructor) {
  // From SWF 10 on a timeline button whose up state holds a movie clip
  // makes its states, shows the up state (ADDED, ADDED_TO_STAGE), lets
  // that clip hear FRAME_CONSTRUCTED and EXIT_FRAME, and only then runs
  // its class's constructor.
  As3Movie d;
  const auto heard = d.Tracer("kid ", {"type"});
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    Timeline kid;
    kid.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    b.DefineSprite(4, kid);
    b.DefineButton2(5, {ButtonRecord{.up = true, .characterId = 4, .depth = 1}});
    b.PlaceObject2({.depth = 1, .characterId = 5});
  };
  d.LinkedClass("Kid", {d.Display("MovieClip")}, 4, [&](AbcCode& c) {
    d.Trace(c, "kid made");
    for (const char* type : {"added", "addedToStage", "frameConstructed", "exitFrame"}) {
      c.Op("getlocal_0").Op("pushstring", {d.S(type)}).Op("newfunction", {heard})
          .Op("callpropvoid", {d.Q("addEventListener"), 2});
    }
  });
  d.LinkedClass("Btn", {d.Display("SimpleButton")}, 5, [&](AbcCode& c) { d.Trace(c, "button made"); });
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) { m.Trace(c, "main made"); });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "kid made|kid added|kid addedToStage|kid frameConstructed|kid exitFrame|button made|main made|"
            "kid frameConstructed|kid exitFrame|");
}

TEST(As3Button, AButtonAScriptMakesHasItsStatesBeforeItsConstructorsCode) {
  // new Btn(): the up state's clip is constructed before the code ahead of
  // super() has read the button.
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    Timeline kid;
    kid.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    b.DefineSprite(4, kid);
    b.DefineButton2(5, {ButtonRecord{.up = true, .characterId = 4, .depth = 1}});
  };
  d.LinkedClass("Kid", {d.Display("MovieClip")}, 4, [&](AbcCode& c) { d.Trace(c, "kid made"); });
  d.LinkedClass(
      "Btn", {d.Display("SimpleButton")}, 5, [&](AbcCode& c) { d.Trace(c, "button made"); },
      [&](AbcCode& c) { d.TraceValue(c, "before super ", [&] { c.Op("getlocal_0").Op("getproperty", {d.Q("parent")}); }); });
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Btn")}).Op("constructprop", {m.Q("Btn"), 0}).Op("pop");
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "kid made|before super null|button made|");
}

TEST(As3Button, AStateNotShownPlaysItsTimelineAllTheSame) {
  // The down state, a clip of three frames, plays on while the button shows its up state.
  As3Movie d;
  d.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, s);
    Timeline clip;
    clip.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame().ShowFrame().ShowFrame();
    b.DefineSprite(4, clip);
    b.DefineButton2(5, {ButtonRecord{.up = true, .characterId = 1, .depth = 1},
                        ButtonRecord{.down = true, .characterId = 4, .depth = 1}});
    b.PlaceObject2({.depth = 1, .characterId = 5});
  };
  const auto heard = d.Tracer("", {"target.currentFrame"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("pushbyte", {0}).Op("callproperty", {m.Q("getChildAt"), 1}).Op("getproperty", {m.Q("downState")})
        .Op("setlocal_1");
    m.Listen(c, 1, "enterFrame", heard);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }), "2|3|");
}

}  // namespace
}  // namespace quarvel::player
