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

TEST(Avm1Place, APlacementAtATakenDepthAddsTheObjectBelowTheOther) {
  for (bool sprites : {false, true}) {
    SCOPED_TRACE(sprites ? "sprites" : "shapes");
    auto b = Movie();
    b.DefineShape(1, Square(800, kRed));
    b.DefineShape(2, Square(800, kBlack));
    std::uint16_t red = 1, black = 2;
    if (sprites) {
      b.DefineSprite(3, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
      b.DefineSprite(4, Timeline().PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame());
      red = 3, black = 4;
    }
    b.PlaceObject2({.depth = 5, .characterId = red, .matrix = At(0, 0), .name = "first"});
    b.PlaceObject2({.depth = 5, .characterId = black, .matrix = At(20, 20), .name = "second"});
    Actions a;
    Set(a, "firstType", Actions().Append(Var("first")).Raw(Code(Action::kTypeOf)));
    Set(a, "secondType", Actions().Append(Var("second")).Raw(Code(Action::kTypeOf)));
    if (sprites) {
      Set(a, "depths", Bin(Method(Var("first"), "getDepth"), Method(Var("second"), "getDepth"), Action::kEquals2));
    }
    b.DoAction(a.Stop()).ShowFrame();
    Played r(b);
    EXPECT_EQ(r.At(10, 10), cRed);    // both show
    EXPECT_EQ(r.At(50, 50), cBlack);
    EXPECT_EQ(r.At(30, 30), cRed);    // the later one lies below
    EXPECT_EQ(r.At(70, 10), cWhite);
    // Shapes are no script objects: their names give the clip holding them.
    EXPECT_EQ(r.Get("firstType"), "movieclip");
    EXPECT_EQ(r.Get("secondType"), "movieclip");
    if (sprites) {
      EXPECT_EQ(r.Get("depths"), "true");
    }
  }
}

TEST(Avm1Place, RemovingAtASharedDepthTakesTheLaterOneFirst) {
  auto b = Movie();
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

}  // namespace
}  // namespace quarvel::player::script_test
