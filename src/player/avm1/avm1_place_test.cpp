// The timeline placing at a depth that is already taken, and what scripts
// see of children they cannot address themselves.
#include <gtest/gtest.h>

#include <string>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

constexpr swf::Rgba kBlack{0, 0, 0, 255};
constexpr Color cWhite{255, 255, 255}, cRed{255, 0, 0}, cBlack{0, 0, 0};

// Two squares of 40 pixels: red at (0, 0) and black at (20, 20), so that
// they overlap in (20..40, 20..40).
swf::Matrix At(int px, int py) { return {.translateX = px * 20, .translateY = py * 20}; }

// From SWF 6 the debug player logs "Warning: Failed to place object at
// depth N." and the second object is never made (a clip of it runs no
// actions); a SWF 5 movie gets both, the later one below.
TEST(Avm1Place, APlacementAtATakenDepthIsRefusedFromSwf6) {
  for (std::uint8_t version : {5, 6}) {
    for (bool sprites : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "SWF " << int{version} << (sprites ? " sprites" : " shapes"));
      auto b = Movie(version);
      b.DefineShape(1, Square(800, kRed));
      b.DefineShape(2, Square(800, kBlack));
      std::uint16_t red = 1, black = 2;
      if (sprites) {
        b.DefineSprite(3, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
        b.DefineSprite(4, Timeline()
                              .PlaceObject2({.depth = 1, .characterId = 2})
                              .DoAction(SetMember(Var("_root"), "secondRan", Bool(true)))
                              .ShowFrame());
        red = 3, black = 4;
      }
      b.PlaceObject2({.depth = 5, .characterId = red, .matrix = At(0, 0), .name = "first"});
      b.PlaceObject2({.depth = 5, .characterId = black, .matrix = At(20, 20), .name = "second"});
      Actions a;
      Set(a, "firstType", Actions().Append(Var("first")).Raw(Code(Action::kTypeOf)));
      Set(a, "secondType", Actions().Append(Var("second")).Raw(Code(Action::kTypeOf)));
      b.DoAction(a.Stop()).ShowFrame();
      Played r(b);
      r.player.AdvanceTo(300);
      const bool both = version == 5;
      EXPECT_EQ(r.At(10, 10), cRed);
      EXPECT_EQ(r.At(30, 30), cRed);  // the later one lies below
      EXPECT_EQ(r.At(50, 50), both ? cBlack : cWhite);
      // Shapes are no script objects: their names give the clip holding them.
      EXPECT_EQ(r.Get("firstType"), "movieclip");
      EXPECT_EQ(r.Get("secondType"), both ? "movieclip" : "undefined");
      EXPECT_EQ(r.Get("secondRan"), both && sprites ? "true" : "");
    }
  }
}

// A timeline that places what another timeline of the same clip already
// put there keeps the first: a sprite placing itself stops at once.
TEST(Avm1Place, ASpritePlacingItselfAtItsChildsDepthIsRefused) {
  auto b = Movie(6);
  b.DefineShape(1, Square(800, kRed));
  b.DefineSprite(3, Timeline()
                        .PlaceObject2({.depth = 1, .characterId = 1})
                        .PlaceObject2({.depth = 1, .characterId = 3})
                        .ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 3, .name = "self"});
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(10, 10), cRed);
  EXPECT_FALSE(r.Skipped("sprites nested deeper than 32"));
}

// A SWF 5 depth holding two objects loses the later one first.
TEST(Avm1Place, RemovingAtASharedDepthTakesTheLaterOneFirst) {
  auto b = Movie(5);
  b.DefineShape(1, Square(800, kRed));
  b.DefineShape(2, Square(800, kBlack));
  b.PlaceObject2({.depth = 5, .characterId = 1, .matrix = At(0, 0)});
  b.PlaceObject2({.depth = 5, .characterId = 2, .matrix = At(20, 20)});
  b.ShowFrame();
  b.RemoveObject2(5);
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(1000);
  EXPECT_EQ(r.At(10, 10), cRed);
  EXPECT_EQ(r.At(50, 50), cWhite);
}

// Once the first object goes, the depth takes a new one.
TEST(Avm1Place, ARemovedDepthTakesANewObject) {
  auto b = Movie(6);
  b.DefineShape(1, Square(800, kRed));
  b.DefineShape(2, Square(800, kBlack));
  b.PlaceObject2({.depth = 5, .characterId = 1, .matrix = At(0, 0)});
  b.PlaceObject2({.depth = 5, .characterId = 2, .matrix = At(20, 20)});
  b.ShowFrame();
  b.RemoveObject2(5);
  b.PlaceObject2({.depth = 5, .characterId = 2, .matrix = At(20, 20)});
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(50, 50), cWhite);
  r.player.AdvanceTo(1000);
  EXPECT_EQ(r.At(10, 10), cWhite);
  EXPECT_EQ(r.At(50, 50), cBlack);
}

TEST(Avm1Place, AShapeNamedLikeNothingElseStandsForItsClip) {
  // sq.holder.sh names a shape in the clip "holder": scripts get holder.
  auto b = Movie();
  b.DefineShape(1, Square(200, kRed));
  b.DefineSprite(2, Timeline().PlaceObject2({.depth = 1, .characterId = 1, .name = "sh"}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 2, .name = "holder"});
  Actions a;
  Set(a, "same", Bin(Member(Var("holder"), "sh"), Var("holder"), Action::kStrictEquals));
  Set(a, "name", Member(Member(Var("holder"), "sh"), "_name"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("same"), "true");
  EXPECT_EQ(r.Get("name"), "holder");
}

TEST(Avm1Place, TheMainTimelineHasAPlaceOfItsOwn) {
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(1)}));
  a.Append(SetMember(Member(Var("_root"), "c"), "_x", Int(5)));
  a.Append(SetMember(Var("_root"), "_x", Int(10)));
  a.Append(SetMember(Var("_root"), "_xscale", Int(200)));
  a.Append(SetMember(Var("_root"), "_alpha", Int(50)));
  Set(a, "x", Member(Var("_root"), "_x"));
  Set(a, "xscale", Member(Var("_root"), "_xscale"));
  Set(a, "alpha", Member(Var("_root"), "_alpha"));
  Set(a, "p", Object({{"x", Int(0)}, {"y", Int(0)}}));
  a.Append(Do(Member(Var("_root"), "c"), "localToGlobal", {Var("p")}));
  Set(a, "globalX", Member(Var("p"), "x"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("x"), "10");
  EXPECT_EQ(r.Get("xscale"), "200");
  EXPECT_EQ(r.Get("alpha"), "50");
  EXPECT_EQ(r.Get("globalX"), "20");  // 10 + 5 scaled twice
}

TEST(Avm1Place, ScriptsRemoveClipsBelowTheTopmostDepths) {
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("high"), Int(2130706415 - 16384)}));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("top"), Int(2130706416 - 16384)}));
  a.Append(Do(Member(Var("_root"), "high"), "removeMovieClip", {}));
  a.Append(Do(Member(Var("_root"), "top"), "removeMovieClip", {}));
  Set(a, "high", Member(Var("_root"), "high").Raw(Code(Action::kTypeOf)));
  Set(a, "top", Member(Var("_root"), "top").Raw(Code(Action::kTypeOf)));
  Played r(Script(a));
  EXPECT_EQ(r.Get("high"), "undefined");
  EXPECT_EQ(r.Get("top"), "movieclip");
}

TEST(Avm1Place, FromSwf7AnInstanceNameMatchesOnlyInItsOwnCase) {
  for (std::uint8_t version : {6, 7}) {
    SCOPED_TRACE(version);
    auto b = Movie(version);
    b.DefineSprite(5, Timeline().ShowFrame());
    Actions a;
    Set(a, "exact", Var("clip").Raw(Code(Action::kTypeOf)));
    Set(a, "other", Var("Clip").Raw(Code(Action::kTypeOf)));
    b.PlaceObject2({.depth = 1, .characterId = 5, .name = "clip"}).DoAction(a.Stop()).ShowFrame();
    Played r(b);
    EXPECT_EQ(r.Get("exact"), "movieclip");
    EXPECT_EQ(r.Get("other"), version == 6 ? "movieclip" : "undefined");
  }
}

TEST(Avm1Place, BeforeSwf6AButtonIsNoObject) {
  // Its name stands for the clip that holds it, and a clip inside it has
  // the button's parent for _parent.
  for (std::uint8_t version : {5, 6}) {
    SCOPED_TRACE(version);
    auto b = Movie(version);
    b.DefineSprite(5, Timeline()
                          .DoAction(SetMember(Var("_root"), "parentSeen", Bin(Str(""), Var("_parent"), Action::kAdd2)))
                          .ShowFrame());
    b.DefineButton2(6, {{.up = true, .hitTest = true, .characterId = 5}});
    Actions a;
    Set(a, "named", Bin(Str(""), Var("btn"), Action::kAdd2));
    b.PlaceObject2({.depth = 1, .characterId = 6, .name = "btn"}).DoAction(a.Stop()).ShowFrame();
    Played r(b);
    r.player.AdvanceTo(300);
    EXPECT_EQ(r.Get("named"), version == 5 ? "_level0" : "_level0.btn");
    EXPECT_EQ(r.Get("parentSeen"), version == 5 ? "_level0" : "_level0.btn");
  }
}

TEST(Avm1Place, AFunctionCalledByPathRunsAsTheMethodOfWhatThePathNames) {
  auto b = Movie();
  Timeline t;
  t.DoAction(Actions().Stop()).ShowFrame().ShowFrame().ShowFrame();
  b.DefineSprite(5, t);
  Actions a;
  a.Append(Do(Call("_root.c.gotoAndStop", {Int(3)})));
  a.Append(Do(Call("_root/d.gotoAndStop", {Int(2)})));
  Set(a, "o", Object({{"v", Int(5)}}));
  a.Append(SetMember(Var("o"), "f", Function({}, Actions().Append(Member(Var("this"), "v")).Raw(Code(Action::kReturn)))));
  Set(a, "got", Call("o.f"));
  Set(a, "cFrame", Member(Var("c"), "_currentframe"));
  Set(a, "dFrame", Member(Var("d"), "_currentframe"));
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "c"}).PlaceObject2({.depth = 2, .characterId = 5, .name = "d"});
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("got"), "5");
  EXPECT_EQ(r.Get("cFrame"), "3");
  EXPECT_EQ(r.Get("dFrame"), "2");
}

}  // namespace
}  // namespace quarvel::player::script_test
