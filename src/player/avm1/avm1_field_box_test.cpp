// The pixels a text field's background and border cover.
#include <gtest/gtest.h>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

constexpr Color cWhite{255, 255, 255}, cBlack{0, 0, 0};

// A field made with (x, y, w, h), black background, and a border when asked.
Played Field(int x, int y, int w, int h, bool border) {
  Actions a = MakeField(x, y, w, h);
  a.Append(SetMember(Var("t"), "background", Bool(true)));
  a.Append(SetMember(Var("t"), "backgroundColor", Int(0)));
  if (border) {
    a.Append(SetMember(Var("t"), "border", Bool(true)));
    a.Append(SetMember(Var("t"), "borderColor", Int(0)));
  }
  return Played(Script(a));
}

TEST(Avm1FieldBox, TheBackgroundCoversTheBoxAndABorderItsFarEdges) {
  {
    Played r = Field(10, 10, 40, 30, false);
    EXPECT_EQ(r.At(10, 10), cBlack);
    EXPECT_EQ(r.At(49, 39), cBlack);
    EXPECT_EQ(r.At(50, 25), cWhite);
    EXPECT_EQ(r.At(25, 40), cWhite);
    EXPECT_EQ(r.At(9, 25), cWhite);
  }
  {
    Played r = Field(10, 10, 40, 30, true);
    EXPECT_EQ(r.At(50, 25), cBlack);  // the border's right column
    EXPECT_EQ(r.At(25, 40), cBlack);  // and its bottom row
    EXPECT_EQ(r.At(51, 25), cWhite);
    EXPECT_EQ(r.At(25, 41), cWhite);
  }
  {
    // A negative size reaches back from the position.
    Played r = Field(50, 50, -50, -50, false);
    EXPECT_EQ(r.At(0, 0), cBlack);
    EXPECT_EQ(r.At(49, 49), cBlack);
    EXPECT_EQ(r.At(50, 25), cWhite);
    EXPECT_EQ(r.At(25, 50), cWhite);
  }
}

}  // namespace
}  // namespace quarvel::player::script_test
