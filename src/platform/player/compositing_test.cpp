// Blend modes the compositor works out pixel by pixel, on the stage and
// inside a layer.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/player/avm1_test_script.h"

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

}  // namespace
}  // namespace quarvel::player::script_test
