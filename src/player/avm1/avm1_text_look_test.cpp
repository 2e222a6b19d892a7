// How text fields and drawn lines look from ActionScript 2 on builder-made
// movies: borders, line widths, masks, measured on the pixels drawn.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player {
namespace {

using gdi::Color;
using namespace script_test;

constexpr Color cWhite{255, 255, 255}, cBlue{0, 0, 255};

gdi::Bitmap Picture(Played& r) {
  gdi::Bitmap bmp;
  r.player.Paint(bmp);
  return bmp;
}

// clip.moveTo and lineTo round a rectangle.
void Rect(Actions& a, const std::string& clip, int x0, int y0, int x1, int y1) {
  a.Append(Do(Method(Var(clip), "moveTo", {Int(x0), Int(y0)})));
  for (auto [x, y] : {std::pair{x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}}) {
    a.Append(Do(Method(Var(clip), "lineTo", {Int(x), Int(y)})));
  }
}

TEST(Avm1Look, MasksCoverWithTheirFillsNotTheirStrokes) {
  Actions a;
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("pad"), Int(1)})));
  a.Append(Do(Method(Var("pad"), "beginFill", {Int(0x0000FF)})));
  Rect(a, "pad", 0, 0, 100, 100);
  a.Append(Do(Method(Var("pad"), "endFill")));
  // A mask whose 10-pixel stroke reaches 5 pixels beyond its fill.
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("m"), Int(2)})));
  a.Append(Do(Method(Var("m"), "lineStyle", {Int(10), Int(0xFF0000), Int(100)})));
  a.Append(Do(Method(Var("m"), "beginFill", {Int(0)})));
  Rect(a, "m", 20, 20, 80, 80);
  a.Append(Do(Method(Var("m"), "endFill")));
  a.Append(Do(Method(Var("pad"), "setMask", {Var("m")})));
  Played r(Script(a));
  const gdi::Bitmap bmp = Picture(r);
  EXPECT_EQ(bmp.GetPixel(50, 50), cBlue);
  EXPECT_EQ(bmp.GetPixel(22, 50), cBlue);
  EXPECT_EQ(bmp.GetPixel(17, 50), cWhite);
  EXPECT_EQ(bmp.GetPixel(50, 83), cWhite);
}

// A script-drawn stroke in a clip squeezed across is drawn with a round pen
// in device space: lines in both directions come out equally thick, the
// width times sqrt((0.2² + 1) / 2), about 2.9 pixels.
TEST(Avm1Look, SqueezedClipsStrokeBothDirectionsWithOnePen) {
  Actions a;
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(1)})));
  a.Append(SetMember(Var("c"), "_xscale", Int(20)));
  a.Append(Do(Method(Var("c"), "lineStyle", {Int(4), Int(0x0000FF), Int(100)})));
  a.Append(Do(Method(Var("c"), "moveTo", {Int(100), Int(50)})));
  a.Append(Do(Method(Var("c"), "lineTo", {Int(400), Int(50)})));
  a.Append(Do(Method(Var("c"), "moveTo", {Int(100), Int(50)})));
  a.Append(Do(Method(Var("c"), "lineTo", {Int(100), Int(95)})));
  Played r(Script(a));
  const gdi::Bitmap bmp = Picture(r);
  int across = 0, down = 0;
  for (int y = 40; y < 60; ++y) across += bmp.GetPixel(50, y) == cBlue;
  for (int x = 10; x < 30; ++x) down += bmp.GetPixel(x, 75) == cBlue;
  EXPECT_GE(across, 2);
  EXPECT_LE(across, 4);
  EXPECT_EQ(across, down);
}

// A field that autoSize grows about its centre reports where its box starts,
// and setting _x moves that edge.
TEST(Avm1Look, AutoSizedFieldsReportTheirBoxEdgeAsX) {
  Actions a;
  // createTextField takes whole pixels.
  a.Append(Do(Method(Var("_root"), "createTextField", {Str("f"), Int(2), Dbl(2.7), Dbl(3.2), Dbl(40.9), Dbl(-0.5)})));
  Set(a, "fx", Member(Var("f"), "_x"));
  Set(a, "fw", Member(Var("f"), "_width"));
  Set(a, "fh", Member(Var("f"), "_height"));
  a.Append(Do(Method(Var("_root"), "createTextField", {Str("t"), Int(1), Int(50), Int(10), Int(0), Int(0)})));
  a.Append(SetMember(Var("t"), "autoSize", Str("center")));
  a.Append(SetMember(Var("t"), "text", Str("centred words")));
  Set(a, "w", Member(Var("t"), "_width"));
  Set(a, "x", Member(Var("t"), "_x"));
  Set(a, "y", Member(Var("t"), "_y"));
  a.Append(SetMember(Var("t"), "_x", Int(5)));
  Set(a, "moved", Member(Var("t"), "_x"));
  a.Append(SetMember(Var("t"), "autoSize", Str("left")));
  a.Append(SetMember(Var("t"), "text", Str("x")));
  Set(a, "kept", Member(Var("t"), "_x"));
  Played r(Script(a));
  const double w = std::stod(r.Get("w")), x = std::stod(r.Get("x"));
  EXPECT_GT(w, 20);
  EXPECT_NEAR(x, 50 - w / 2, 0.05);
  EXPECT_EQ(r.Get("y"), "10");
  EXPECT_EQ(r.Get("moved"), "5");
  // autoSize "left" keeps the left edge where it was.
  EXPECT_EQ(r.Get("kept"), "5");
  EXPECT_EQ(r.Get("fx"), "2");
  EXPECT_EQ(r.Get("fw"), "40");
  EXPECT_EQ(r.Get("fh"), "0");
}

// Glyphs that run past a field's right edge stop at its 2-pixel gutter.
TEST(Avm1Look, TextStopsAtTheGutterInsideTheBox) {
  Actions a = MakeField(10, 0, 40, 100);
  a.Append(Do(Var("t"), "setNewTextFormat", {New("TextFormat", {Str("_sans"), Int(60)})}));
  a.Append(SetMember(Var("t"), "text", Str("MMMM")));
  Played r(Script(a));
  auto inked = [&](int x) {
    for (int y = 0; y < 100; ++y) {
      if (r.At(x, y) != cWhite) return true;
    }
    return false;
  };
  EXPECT_TRUE(inked(30));
  EXPECT_TRUE(inked(47)) << "inside the gutter";
  EXPECT_FALSE(inked(48)) << "the right gutter";
  EXPECT_FALSE(inked(49)) << "the right gutter";
}

// A field takes sizes, margins, indents and leading in whole pixels,
// rounded half to even.
TEST(Avm1Look, FieldsTakeFormatsInWholePixels) {
  Actions a;
  a.Append(Do(Method(Var("_root"), "createTextField", {Str("t"), Int(1), Int(0), Int(0), Int(100), Int(100)})));
  a.Append(SetMember(Var("t"), "text", Str("abc")));
  Set(a, "f", New("TextFormat"));
  a.Append(SetMember(Var("f"), "size", Dbl(12.5)));
  a.Append(SetMember(Var("f"), "leftMargin", Dbl(-3)));
  a.Append(SetMember(Var("f"), "indent", Dbl(-2.5)));
  a.Append(SetMember(Var("f"), "leading", Dbl(3.6)));
  a.Append(Do(Method(Var("t"), "setTextFormat", {Var("f")})));
  Set(a, "g", Method(Var("t"), "getTextFormat"));
  Set(a, "size", Member(Var("g"), "size"));
  Set(a, "left", Member(Var("g"), "leftMargin"));
  Set(a, "indent", Member(Var("g"), "indent"));
  Set(a, "leading", Member(Var("g"), "leading"));
  a.Append(SetMember(Var("f"), "size", Dbl(13.5)));
  a.Append(SetMember(Var("f"), "indent", Int(64010)));
  a.Append(Do(Method(Var("t"), "setTextFormat", {Var("f")})));
  Set(a, "size2", Member(Method(Var("t"), "getTextFormat"), "size"));
  Set(a, "indent2", Member(Method(Var("t"), "getTextFormat"), "indent"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("size"), "12");
  EXPECT_EQ(r.Get("size2"), "14");
  EXPECT_EQ(r.Get("left"), "0");
  EXPECT_EQ(r.Get("indent"), "-2");
  EXPECT_EQ(r.Get("leading"), "4");
  EXPECT_EQ(r.Get("indent2"), "64010");  // no cap on indents
}

// autoSize takes true or a name; the string "true" is no name. hscroll is
// a whole number of pixels.
TEST(Avm1Look, AutoSizeNamesAndWholePixelScrolling) {
  Actions a;
  a.Append(Do(Method(Var("_root"), "createTextField", {Str("t"), Int(1), Int(0), Int(0), Int(20), Int(20)})));
  a.Append(SetMember(Var("t"), "text", Str("a line far wider than its box")));
  a.Append(SetMember(Var("t"), "autoSize", Str("true")));
  Set(a, "named", Member(Var("t"), "autoSize"));
  a.Append(SetMember(Var("t"), "autoSize", Actions().PushBool(true)));
  Set(a, "flag", Member(Var("t"), "autoSize"));
  a.Append(SetMember(Var("t"), "autoSize", Str("none")));
  a.Append(SetMember(Var("t"), "_width", Int(20)));
  a.Append(SetMember(Var("t"), "hscroll", Dbl(5.7)));
  Set(a, "h", Member(Var("t"), "hscroll"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("named"), "none");
  EXPECT_EQ(r.Get("flag"), "left");
  EXPECT_EQ(r.Get("h"), "5");
}

// "\r\n" ends two lines, as each of its characters does alone.
TEST(Avm1Look, CarriageReturnLineFeedIsTwoLineEnds) {
  Actions a;
  a.Append(Do(Method(Var("_root"), "createTextField", {Str("t"), Int(1), Int(0), Int(0), Int(100), Int(100)})));
  a.Append(SetMember(Var("t"), "multiline", Actions().PushBool(true)));
  a.Append(SetMember(Var("t"), "text", Str("a\r\nb")));
  Set(a, "crlf", Member(Var("t"), "bottomScroll"));
  a.Append(SetMember(Var("t"), "text", Str("a\nb")));
  Set(a, "lf", Member(Var("t"), "bottomScroll"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("crlf"), "3");
  EXPECT_EQ(r.Get("lf"), "2");
}

}  // namespace
}  // namespace quarvel::player
