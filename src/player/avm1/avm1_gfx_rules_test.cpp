// Drawing and masking rules that Flash applies to script arguments and
// display objects, and the room a frame's script has.
#include <gtest/gtest.h>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

constexpr Color cBlack{0, 0, 0}, cWhite{255, 255, 255}, cGreen{0, 255, 0}, cBlue{0, 0, 255};

// A clip at `depth` with an 8-pixel black line style, then `style` applied
// to it, then a vertical line at x from y 10 to 90.
Actions LineWith(int depth, int x, const std::vector<Actions>& style) {
  const std::string name = "c" + std::to_string(depth);
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str(name), Int(depth)}));
  a.Append(Do(Var(name), "lineStyle", {Int(8)}));
  a.Append(Do(Var(name), "lineGradientStyle", style));
  a.Append(Do(Var(name), "moveTo", {Int(x), Int(10)}));
  a.Append(Do(Var(name), "lineTo", {Int(x), Int(90)}));
  return a;
}

TEST(Avm1GradientArguments, CallsFlashRefusesLeaveTheLineAsItWas) {
  const auto colors = [] { return Array({Int(0x0000FF), Int(0x0000FF)}); };
  const auto alphas = [] { return Array({Int(100), Int(100)}); };
  const auto box = [] {
    return Object({{"matrixType", Str("box")}, {"x", Int(0)}, {"y", Int(0)}, {"w", Int(100)}, {"h", Int(100)},
                   {"r", Int(0)}});
  };
  struct Case {
    const char* what;
    std::vector<Actions> args;
    bool drawn;
  };
  const std::vector<Case> cases = {
      {"valid", {Str("linear"), colors(), alphas(), Array({Int(0), Int(255)}), box()}, true},
      {"fractional ratios", {Str("linear"), colors(), alphas(), Array({Dbl(-0.5), Dbl(255.9)}), box()}, true},
      {"no matrix", {Str("linear"), colors(), alphas(), Array({Int(0), Int(255)})}, false},
      {"nine arguments",
       {Str("linear"), colors(), alphas(), Array({Int(0), Int(255)}), box(), Str("pad"), Str("RGB"), Int(0), Str("x")},
       false},
      {"type in capitals", {Str("LINEAR"), colors(), alphas(), Array({Int(0), Int(255)}), box()}, false},
      {"lists of other lengths", {Str("linear"), colors(), alphas(), Array({Int(255)}), box()}, false},
      {"ratio -1", {Str("linear"), colors(), alphas(), Array({Int(-1), Int(255)}), box()}, false},
      {"ratio 256", {Str("linear"), colors(), alphas(), Array({Int(0), Int(256)}), box()}, false},
  };
  Actions a;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    a.Append(LineWith(static_cast<int>(i) + 1, 10 + static_cast<int>(i) * 10, cases[i].args));
  }
  Played r(Script(a));
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(r.At(10 + static_cast<int>(i) * 10, 50), cases[i].drawn ? cBlue : cBlack) << cases[i].what;
  }
}

TEST(Avm1GradientArguments, BeginGradientFillWithoutATypeEndsTheFill) {
  Actions a;
  a.Append(Do(Var("_root"), "beginFill", {Int(0x00FF00)}));
  a.Append(Do(Var("_root"), "moveTo", {Int(0), Int(0)}));
  a.Append(Do(Var("_root"), "lineTo", {Int(50), Int(0)}));
  a.Append(Do(Var("_root"), "lineTo", {Int(50), Int(50)}));
  a.Append(Do(Var("_root"), "lineTo", {Int(0), Int(50)}));
  a.Append(Do(Var("_root"), "beginGradientFill", {}));
  // Edges after the fill ended fill nothing.
  a.Append(Do(Var("_root"), "moveTo", {Int(60), Int(60)}));
  a.Append(Do(Var("_root"), "lineTo", {Int(90), Int(60)}));
  a.Append(Do(Var("_root"), "lineTo", {Int(90), Int(90)}));
  Played r(Script(a));
  EXPECT_EQ(r.At(25, 25), cGreen);
  EXPECT_EQ(r.At(85, 70), cWhite);
}

// A square from (x, y) to (x + 30, y + 30) filled by beginGradientFill(args).
Actions GradientSquare(int x, const std::vector<Actions>& args, int y = 10) {
  Actions a;
  a.Append(Do(Var("_root"), "beginGradientFill", args));
  a.Append(Do(Var("_root"), "moveTo", {Int(x), Int(y)}));
  for (auto [px, py] : {std::pair{x + 30, y}, {x + 30, y + 30}, {x, y + 30}, {x, y}}) {
    a.Append(Do(Var("_root"), "lineTo", {Int(px), Int(py)}));
  }
  a.Append(Do(Var("_root"), "endFill", {}));
  return a;
}

TEST(Avm1GradientArguments, MissingAndOddListMembers) {
  const auto box = [] {
    return Object({{"matrixType", Str("box")}, {"x", Int(0)}, {"y", Int(0)}, {"w", Int(100)}, {"h", Int(100)},
                   {"r", Int(0)}});
  };
  Actions a;
  // An alpha that is there but undefined is 0.
  a.Append(GradientSquare(0, {Str("linear"), Array({Int(0x0000FF)}), Array({Undef()}), Array({Int(0)}), box()}));
  // A list object of length 1 without members: the alpha is the colour's
  // value (0x40: 64 %).
  a.Append(GradientSquare(40, {Str("linear"), Array({Int(0x40)}), Object({{"length", Int(1)}}), Array({Int(0)}),
                               box()}));
  // Colours convert as numbers do.
  a.Append(GradientSquare(70, {Str("linear"), Array({Str("255")}), Array({Int(100)}), Array({Int(0)}), box()}));
  // Empty lists fill black.
  a.Append(GradientSquare(0, {Str("linear"), Array({}), Array({}), Array({}), box()}, 50));
  Played r(Script(a));
  EXPECT_EQ(r.At(15, 25), cWhite);
  const Color c = r.At(55, 25);
  EXPECT_NEAR(c.r, 92, 3);
  EXPECT_NEAR(c.b, 133, 3);
  EXPECT_EQ(r.At(85, 25), cBlue);
  EXPECT_EQ(r.At(15, 65), cBlack);
}

// A text field at (0, 0, 100, 100) on green, and clip "m" holding a blue
// square from (50, 50) to (100, 100).
Actions FieldAndSquare() {
  Actions a = MakeField(0, 0, 100, 100);
  a.Append(SetMember(Var("t"), "background", Bool(true)));
  a.Append(SetMember(Var("t"), "backgroundColor", Int(0x00FF00)));
  a.Append(SetMember(Var("t"), "text", Str("Hello")));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("m"), Int(2)}));
  a.Append(Do(Var("m"), "beginFill", {Int(0x0000FF)}));
  a.Append(Do(Var("m"), "moveTo", {Int(50), Int(50)}));
  a.Append(Do(Var("m"), "lineTo", {Int(100), Int(50)}));
  a.Append(Do(Var("m"), "lineTo", {Int(100), Int(100)}));
  a.Append(Do(Var("m"), "lineTo", {Int(50), Int(100)}));
  a.Append(Do(Var("m"), "endFill", {}));
  return a;
}

TEST(Avm1Masks, ATextFieldTakesAMaskThroughTheClipMethod) {
  Actions a = FieldAndSquare();
  // t.setMask = m.setMask; t.setMask(m);
  a.Append(SetMember(Var("t"), "setMask", Member(Var("m"), "setMask")));
  a.Append(Do(Var("t"), "setMask", {Var("m")}));
  Played r(Script(a));
  EXPECT_EQ(r.At(75, 75), cGreen);  // the field, where the mask covers
  EXPECT_EQ(r.At(25, 25), cWhite);  // nothing elsewhere
  EXPECT_EQ(r.At(60, 20), cWhite);
}

// setMask's argument: a clip, a path from the running timeline, or a number
// read as one; null and undefined take the mask away. What it returns.
TEST(Avm1Masks, SetMaskTakesPathsAndSaysWhetherItFoundTheMask) {
  struct Case {
    const char* what;
    Actions arg;
    const char* result;
    bool masked;
  };
  std::vector<Case> cases;
  cases.push_back({"a name", Str("m"), "true", true});
  cases.push_back({"a dotted path", Str("_root.m"), "true", true});
  cases.push_back({"a level path", Str("_level0:m"), "true", true});
  cases.push_back({"a number naming a variable", Int(1234), "true", true});
  cases.push_back({"a missing name", Str("nothing"), "false", false});
  cases.push_back({"an object", Object({{"a", Int(1)}}), "false", false});
  cases.push_back({"null", Actions().PushNull(), "true", false});
  for (const Case& c : cases) {
    Actions a = FieldAndSquare();
    Set(a, "1234", Var("m"));
    // Masked by hand first, so that a failed call leaves no mask to see.
    a.Append(Do(Var("t"), "removeTextField", {}));
    a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("p"), Int(3)}));
    a.Append(Do(Var("p"), "beginFill", {Int(0x00FF00)}));
    a.Append(Do(Var("p"), "moveTo", {Int(0), Int(0)}));
    a.Append(Do(Var("p"), "lineTo", {Int(100), Int(0)}));
    a.Append(Do(Var("p"), "lineTo", {Int(100), Int(100)}));
    a.Append(Do(Var("p"), "lineTo", {Int(0), Int(100)}));
    a.Append(Do(Var("p"), "endFill", {}));
    Set(a, "r", Method(Var("p"), "setMask", {c.arg}));
    Set(a, "none", Method(Var("p"), "setMask", {}).Raw(Code(Action::kTypeOf)));
    Played r(Script(a));
    EXPECT_EQ(r.Get("r"), c.result) << c.what;
    EXPECT_EQ(r.Get("none"), "undefined") << c.what;
    EXPECT_EQ(r.At(25, 25), c.masked ? cWhite : cGreen) << c.what;
    EXPECT_EQ(r.At(75, 75), cGreen) << c.what;
  }
}

// A square from (0, 0) to (100, 100) filled with `rgb` in clip `name`.
Actions Square(const Actions& owner, const std::string& name, int depth, int rgb) {
  Actions a;
  a.Append(Do(owner, "createEmptyMovieClip", {Str(name), Int(depth)}));
  const Actions clip = Member(owner, name);
  a.Append(Do(clip, "beginFill", {Int(rgb)}));
  a.Append(Do(clip, "moveTo", {Int(0), Int(0)}));
  a.Append(Do(clip, "lineTo", {Int(100), Int(0)}));
  a.Append(Do(clip, "lineTo", {Int(100), Int(100)}));
  a.Append(Do(clip, "lineTo", {Int(0), Int(100)}));
  a.Append(Do(clip, "endFill", {}));
  return a;
}

// Inside a mask, a scrollRect moves what it holds but does not crop it.
TEST(Avm1Masks, AScrollRectInsideAMaskMovesButDoesNotCrop) {
  Actions a = Square(Var("_root"), "p", 1, 0x00FF00);
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("mk"), Int(2)}));
  a.Append(Square(Var("mk"), "c", 1, 0x0000FF));
  a.Append(SetMember(Member(Var("mk"), "c"), "scrollRect",
                     New("flash.geom", "Rectangle", {Int(50), Int(50), Int(20), Int(20)})));
  a.Append(Do(Var("p"), "setMask", {Var("mk")}));
  Played r(Script(a));
  EXPECT_EQ(r.At(10, 10), cGreen);
  EXPECT_EQ(r.At(45, 45), cGreen) << "beyond the 20-pixel rectangle";
  EXPECT_EQ(r.At(60, 60), cWhite) << "the mask moved up and left by 50";
}

// A text field masks by its glyphs, not its box, whether its text came
// before or after it became the mask; as a mask its glyphs reach past its
// box, which crops them when it is drawn itself.
TEST(Avm1Masks, ATextFieldMasksByItsGlyphsPastItsBox) {
  for (bool textFirst : {true, false}) {
    Actions a = MakeField(0, 0, 30, 100);
    a.Append(Do(Var("t"), "setNewTextFormat", {New("TextFormat", {Str("_sans"), Int(60)})}));
    a.Append(Square(Var("_root"), "p", 2, 0x00FF00));
    if (textFirst) a.Append(SetMember(Var("t"), "text", Str("WW")));
    a.Append(Do(Var("p"), "setMask", {Var("t")}));
    if (!textFirst) a.Append(SetMember(Var("t"), "text", Str("WW")));
    Played r(Script(a));
    int inside = 0, past = 0;
    for (int y = 0; y < 100; ++y) {
      for (int x = 0; x < 100; ++x) (x < 30 ? inside : past) += r.At(x, y) == cGreen ? 1 : 0;
    }
    EXPECT_GT(inside, 100) << textFirst;
    EXPECT_GT(past, 200) << textFirst;
    EXPECT_LT(inside + past, 5000) << textFirst << ": glyphs, not the whole square";
  }
}

TEST(Avm1Limits, AFrameMayRunALongFiniteLoop) {
  // A bitmap filled pixel by pixel: for (i = 0; i < 60000; i++) bd.setPixel(i % 200, i / 200 | 0, 0xFF);
  Actions a;
  Set(a, "bd", New("flash.display", "BitmapData", {Int(200), Int(300), Bool(false), Int(0xFFFFFF)}));
  Set(a, "i", Int(0));
  Actions body;
  body.Append(Do(Var("bd"), "setPixel",
                 {Bin(Var("i"), Int(200), Action::kModulo),
                  Bin(Bin(Var("i"), Int(200), Action::kDivide), Int(0), Action::kBitOr), Int(0xFF)}));
  Set(body, "i", Actions().Append(Var("i")).Raw(Code(Action::kIncrement)));
  Actions cond = Bin(Var("i"), Int(60000), Action::kLess2).Raw(Code(Action::kNot));
  const auto back = static_cast<std::int16_t>(-(static_cast<int>(cond.Size()) + 5 + static_cast<int>(body.Size()) + 5));
  a.Append(cond).If(static_cast<std::int16_t>(body.Size() + 5)).Append(body).Jump(back);
  Set(a, "last", Method(Var("bd"), "getPixel", {Int(199), Int(299)}));
  Played r(Script(a));
  EXPECT_FALSE(r.Skipped("too many actions in one frame"));
  EXPECT_EQ(r.Get("i"), "60000");
  EXPECT_EQ(r.Get("last"), "255");
}

// The drawing API keeps whole twips: a shape smaller than one has no size,
// so setting _width or _height does nothing to it.
TEST(Avm1DrawingRules, ASubTwipShapeHasNoSizeToScale) {
  Actions a;
  Set(a, "c", Method(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(1)}));
  a.Append(Do(Var("c"), "beginFill", {Int(0xff0000)}));
  a.Append(Do(Var("c"), "lineTo", {Dbl(0.01), Int(0)}));
  a.Append(Do(Var("c"), "lineTo", {Dbl(0.01), Dbl(0.01)}));
  a.Append(SetMember(Var("c"), "_width", Int(100)));
  Set(a, "tiny", Member(Var("c"), "_xscale"));
  a.Append(Do(Var("c"), "lineTo", {Int(200), Int(0)}));
  a.Append(Do(Var("c"), "lineTo", {Int(200), Int(200)}));
  a.Append(Do(Var("c"), "endFill", {}));
  a.Append(SetMember(Var("c"), "_width", Int(100)));
  Set(a, "scaled", Bin(Member(Var("c"), "_xscale"), Int(100), Action::kLess2));
  Played r(Script(a));
  EXPECT_EQ(r.Get("tiny"), "100");
  EXPECT_EQ(r.Get("scaled"), "true");
}

}  // namespace
}  // namespace quarvel::player::script_test
