// Blend modes the compositor works out pixel by pixel, on the stage and
// inside a layer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

constexpr swf::Rgba kYellow{255, 255, 0, 255}, kHalfBlue{0, 0, 255, 128};

bool Near(Color a, Color b) {
  return std::abs(a.r - b.r) <= 2 && std::abs(a.g - b.g) <= 2 && std::abs(a.b - b.b) <= 2;
}

// On black: a yellow square over the left half, and over all of it a half
// transparent blue square drawn with invert. With `layer` both lie in a
// sprite drawn as a layer, where the right half starts out clear.
SwfBuilder InvertMovie(bool layer) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor({0, 0, 0, 255});
  b.DefineShape3(1, Square(1000, kYellow));
  ShapeBuilder all;
  all.Rectangle(0, 0, 2000, 1000, all.AddFill(FillStyle::Solid(kHalfBlue)));
  b.DefineShape3(2, all);
  if (layer) {
    Timeline sprite;
    sprite.PlaceObject2({.depth = 1, .characterId = 1});
    sprite.PlaceObject3({.depth = 2, .characterId = 2, .blendMode = 10});
    sprite.ShowFrame();
    b.DefineSprite(3, sprite);
    b.PlaceObject3({.depth = 1, .characterId = 3, .blendMode = 2});
  } else {
    b.PlaceObject2({.depth = 1, .characterId = 1});
    b.PlaceObject3({.depth = 2, .characterId = 2, .blendMode = 10});
  }
  b.DoAction(Actions().Stop()).ShowFrame();
  return b;
}

TEST(Compositing, InvertTurnsWhatLiesBelowIntoItsOppositeAsFarAsTheObjectCovers) {
  for (bool layer : {false, true}) {
    SCOPED_TRACE(layer ? "in a layer" : "on the stage");
    Played r(InvertMovie(layer));
    // Half of yellow's opposite (blue) over half of yellow; the object's own colour plays no part.
    EXPECT_PRED2(Near, r.At(25, 25), Color(127, 127, 128));
    // Black on the stage becomes half white; in the layer the clear
    // pixels take half white, shown over the black stage alike.
    EXPECT_PRED2(Near, r.At(75, 25), Color(128, 128, 128));
    EXPECT_EQ(r.At(50, 75), Color(0, 0, 0));  // outside the object
  }
}

// _root[name]: an empty clip with a square of `size` pixels at (x, y) in `rgb`.
Actions SquareClip(const std::string& name, int depth, int x, int y, int size, int rgb) {
  Actions a = Do(Var("_root"), "createEmptyMovieClip", {Str(name), Int(depth)});
  const Actions clip = Member(Var("_root"), name);
  a.Append(Do(clip, "beginFill", {Int(rgb)}));
  a.Append(Do(clip, "moveTo", {Int(x), Int(y)}));
  for (auto [px, py] : {std::pair{x + size, y}, {x + size, y + size}, {x, y + size}, {x, y}}) {
    a.Append(Do(clip, "lineTo", {Int(px), Int(py)}));
  }
  a.Append(Do(clip, "endFill", {}));
  return a;
}

TEST(Compositing, ScriptClipsWithFiltersAndAMaskShowNeither) {
  // A red square at (20, 20)-(60, 60); the mask, a green square, lies apart
  // at (70, 70). Blurred alone, the square's edge softens; masked alone, it
  // goes; with both, Flash draws it plain.
  for (int kind : {0, 1, 2}) {
    SCOPED_TRACE(kind);
    Actions a = SquareClip("box", 1, 20, 20, 40, 0xFF0000);
    if (kind != 1) {
      a.Append(SetMember(Member(Var("_root"), "box"), "filters",
                         Array({New("flash.filters", "BlurFilter", {Int(8), Int(8), Int(1)})})));
    }
    if (kind != 0) {
      a.Append(SquareClip("cover", 2, 70, 70, 20, 0x00FF00));
      a.Append(Do(Member(Var("_root"), "box"), "setMask", {Member(Var("_root"), "cover")}));
    }
    Played r(Script(a));
    const Color inside = r.At(40, 40), edge = r.At(21, 40), outside = r.At(17, 40), mask = r.At(80, 80);
    EXPECT_EQ(mask, Color(255, 255, 255));  // a mask is never drawn
    if (kind == 0) {
      EXPECT_EQ(inside, Color(255, 0, 0));
      EXPECT_NE(outside, Color(255, 255, 255));  // the blur spreads out
      EXPECT_NE(edge, Color(255, 0, 0));
    } else if (kind == 1) {
      EXPECT_EQ(inside, Color(255, 255, 255));
    } else {
      EXPECT_EQ(inside, Color(255, 0, 0));
      EXPECT_EQ(edge, Color(255, 0, 0));
      EXPECT_EQ(outside, Color(255, 255, 255));
    }
  }
}

}  // namespace
}  // namespace quarvel::player::script_test
