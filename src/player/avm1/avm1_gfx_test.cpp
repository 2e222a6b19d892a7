// The graphics classes of ActionScript 2 on builder-made movies: flash.geom
// arithmetic, the drawing API, BitmapData and filters from script. Results
// are read back through script variables and the pixels drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

enum : std::uint8_t {
  kGetVar = Code(Action::kGetVariable), kGetMember = Code(Action::kGetMember), kSetMember = Code(Action::kSetMember),
  kCallMethod = Code(Action::kCallMethod), kNewMethod = Code(Action::kNewMethod), kPop = Code(Action::kPop),
  kInitArray = Code(Action::kInitArray), kInitObject = Code(Action::kInitObject),
};

Actions Geom(const std::string& cls, const std::vector<Actions>& args) { return New("flash.geom", cls, args); }
// A value as script text, so that undefined reads "undefined".
Actions AsText(const Actions& v) { return Bin(Str(""), v, Action::kAdd2); }

// ---- flash.geom

TEST(Avm1Geom, MatrixMethodsFollowFlashOrder) {
  Actions a;
  Set(a, "m", Geom("Matrix", {}));
  Set(a, "id", Method(Var("m"), "toString", {}));
  a.Append(Do(Var("m"), "scale", {Num(2), Num(3)}));
  a.Append(Do(Var("m"), "translate", {Num(10), Num(20)}));
  // Translation after the scale: not scaled.
  Set(a, "p", Method(Var("m"), "transformPoint", {Geom("Point", {Num(1), Num(1)})}));
  Set(a, "dp", Method(Var("m"), "deltaTransformPoint", {Geom("Point", {Num(1), Num(1)})}));
  a.Append(Do(Var("m"), "rotate", {Num(M_PI / 2)}));
  Set(a, "r", Method(Var("m"), "transformPoint", {Geom("Point", {Num(1), Num(0)})}));
  Set(a, "inv", Method(Var("m"), "clone", {}));
  a.Append(Do(Var("inv"), "invert", {}));
  Set(a, "back", Method(Var("inv"), "transformPoint", {Var("r")}));
  Set(a, "box", Geom("Matrix", {}));
  a.Append(Do(Var("box"), "createGradientBox", {Num(1638.4), Num(819.2), Num(0), Num(10), Num(20)}));
  Set(a, "c", Geom("Matrix", {Num(1), Num(0), Num(0), Num(1), Num(5), Num(0)}));
  a.Append(Do(Var("c"), "concat", {Geom("Matrix", {Num(2), Num(0), Num(0), Num(2), Num(0), Num(1)})}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("id"), "(a=1, b=0, c=0, d=1, tx=0, ty=0)");
  EXPECT_EQ(r.Get("p.x"), "12");
  EXPECT_EQ(r.Get("p.y"), "23");
  EXPECT_EQ(r.Get("dp.x"), "2");
  EXPECT_EQ(r.Get("dp.y"), "3");
  // (1,0) -> (2,0) + (10,20) = (12,20), turned a quarter: (-20,12).
  EXPECT_NEAR(r.Number("r.x"), -20, 1e-9);
  EXPECT_NEAR(r.Number("r.y"), 12, 1e-9);
  EXPECT_NEAR(r.Number("back.x"), 1, 1e-9);
  EXPECT_NEAR(r.Number("back.y"), 0, 1e-9);
  EXPECT_EQ(r.Get("box.a"), "1");
  EXPECT_EQ(r.Get("box.d"), "0.5");
  EXPECT_NEAR(r.Number("box.tx"), 10 + 819.2, 1e-9);
  EXPECT_NEAR(r.Number("box.ty"), 20 + 409.6, 1e-9);
  // concat applies the argument after: (x + 5) * 2, y * 2 + 1.
  EXPECT_EQ(r.Get("c.a"), "2");
  EXPECT_EQ(r.Get("c.tx"), "10");
  EXPECT_EQ(r.Get("c.ty"), "1");
}

TEST(Avm1Geom, PointArithmeticAndStatics) {
  Actions a;
  Set(a, "p", Geom("Point", {Num(3), Num(4)}));
  Set(a, "len", Member(Var("p"), "length"));
  Set(a, "sum", Method(Var("p"), "add", {Geom("Point", {Num(1), Num(1)})}));
  Set(a, "diff", Method(Var("p"), "subtract", {Geom("Point", {Num(1), Num(1)})}));
  Set(a, "text", Method(Var("p"), "toString", {}));
  Set(a, "same", Method(Var("p"), "equals", {Geom("Point", {Num(3), Num(4)})}));
  Set(a, "dist", Method(Member(Member(Var("flash"), "geom"), "Point"), "distance",
                        {Geom("Point", {Num(0), Num(0)}), Geom("Point", {Num(6), Num(8)})}));
  Set(a, "mid", Method(Member(Member(Var("flash"), "geom"), "Point"), "interpolate",
                       {Geom("Point", {Num(0), Num(0)}), Geom("Point", {Num(10), Num(20)}), Num(0.25)}));
  Set(a, "pol", Method(Member(Member(Var("flash"), "geom"), "Point"), "polar", {Num(2), Num(0)}));
  a.Append(Do(Var("p"), "normalize", {Num(10)}));
  a.Append(Do(Var("p"), "offset", {Num(1), Num(2)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("len"), "5");
  EXPECT_EQ(r.Get("sum.x"), "4");
  EXPECT_EQ(r.Get("diff.y"), "3");
  EXPECT_EQ(r.Get("text"), "(x=3, y=4)");
  EXPECT_EQ(r.Get("same"), "true");
  EXPECT_EQ(r.Get("dist"), "10");
  // interpolate(p1, p2, f): f = 0.25 lies three quarters of the way to p1.
  EXPECT_EQ(r.Get("mid.x"), "7.5");
  EXPECT_EQ(r.Get("mid.y"), "15");
  EXPECT_EQ(r.Get("pol.x"), "2");
  EXPECT_EQ(r.Get("p.x"), "7");  // 6 + 1
  EXPECT_EQ(r.Get("p.y"), "10");
}

// Fields are kept as given: edges, corners and copies pass them on
// unconverted, only sums and differences are numbers.
TEST(Avm1Geom, FieldsPassThroughUnconverted) {
  Actions a;
  Set(a, "o", Object({}));
  Set(a, "r", Geom("Rectangle", {Num(1)}));
  Set(a, "top", Op(Member(Var("r"), "top"), Code(Action::kTypeOf)));
  Set(a, "sizeY", Op(Member(Member(Var("r"), "size"), "y"), Code(Action::kTypeOf)));
  Set(a, "s", Geom("Rectangle", {Num(1), Num(2), Num(3), Num(4)}));
  a.Append(SetMember(Var("s"), "left", Var("o")));
  Set(a, "leftType", Op(Member(Var("s"), "x"), Code(Action::kTypeOf)));
  Set(a, "width", Member(Var("s"), "width"));
  Set(a, "m", Geom("Matrix", {Num(1), Num(2), Var("o"), Num(4), Num(5), Num(6)}));
  Set(a, "cType", Op(Member(Method(Var("m"), "clone"), "c"), Code(Action::kTypeOf)));
  Set(a, "box", Geom("Matrix", {}));
  a.Append(Do(Var("box"), "createBox", {Num(2), Num(3)}));
  Set(a, "plain", Method(Member(Member(Var("flash"), "geom"), "Point"), "distance",
                         {Object({{"x", Num(0)}, {"y", Num(0)}}), Geom("Point", {Num(3), Num(4)})}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("top"), "undefined");
  EXPECT_EQ(r.Get("sizeY"), "undefined");
  EXPECT_EQ(r.Get("leftType"), "object");
  EXPECT_EQ(r.Get("width"), "NaN");
  EXPECT_EQ(r.Get("cType"), "object");
  EXPECT_EQ(r.Get("box.a"), "NaN");  // no rotation given: no number
  EXPECT_EQ(r.Get("box.tx"), "0");
  EXPECT_EQ(r.Get("plain"), "");  // only a Point can be measured from
}

// Rectangle's tests read as script comparisons: a >= b holds when either is
// NaN, a < b is then undefined, and the first failing test is the answer.
TEST(Avm1Geom, RectangleTestsWithMissingFieldsAnswerAsScriptComparisons) {
  Actions a;
  Set(a, "r", Geom("Rectangle", {Num(1), Num(3), Num(5), Num(7)}));
  Set(a, "none", AsText(Method(Var("r"), "contains", {})));
  Set(a, "outside", AsText(Method(Var("r"), "contains", {Num(1), Num(2)})));
  Set(a, "inside", AsText(Method(Var("r"), "contains", {Num(1), Num(3)})));
  Set(a, "cut", Method(Var("r"), "intersection", {Object({{"x", Num(3)}, {"y", Num(5)}})}));
  Set(a, "plainEquals", Method(Var("r"), "equals", {Object({{"x", Num(1)}, {"y", Num(3)}, {"width", Num(5)}, {"height", Num(7)}})}));
  Set(a, "joined", Method(Var("r"), "union", {Object({{"x", Num(3)}, {"y", Num(5)}, {"width", Num(7)}})}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("none"), "undefined");
  EXPECT_EQ(r.Get("outside"), "false");
  EXPECT_EQ(r.Get("inside"), "true");
  EXPECT_EQ(r.Get("cut.width"), "0");  // NaN sizes make it empty
  EXPECT_EQ(r.Get("plainEquals"), "false");
  EXPECT_EQ(r.Get("joined.width"), "9");
  EXPECT_EQ(r.Get("joined.height"), "NaN");
}

// ColorTransform keeps numbers of its own behind accessors that for..in lists.
TEST(Avm1Geom, ColorTransformTermsAreNumbersBehindListedAccessors) {
  Actions a;
  Set(a, "_global.names", Str(""));
  Set(a, "ct", Geom("ColorTransform", {}));
  a.Append(SetMember(Var("ct"), "redMultiplier", Str("Test123")));
  Set(a, "red", Op(Member(Var("ct"), "redMultiplier"), Code(Action::kTypeOf)));
  a.Append(SetMember(Var("ct"), "rgb", Num(0x102030)));
  Set(a, "green", Member(Var("ct"), "greenOffset"));
  Set(a, "own", Method(Var("ct"), "hasOwnProperty", {Str("greenOffset")}));
  a.Append(ForIn(Member(Member(Member(Var("flash"), "geom"), "ColorTransform"), "prototype"),
                 Actions().PushString("_global.names").Append(Bin(Var("_global.names"), Actions().PushRegister(0), Action::kAdd2)).SetVariable()));
  Played r(Script(a));
  EXPECT_EQ(r.Get("red"), "number");
  EXPECT_EQ(r.Get("green"), "32");
  EXPECT_EQ(r.Get("own"), "false");
  EXPECT_EQ(r.Get("_global.names"),
            "toStringconcatrgbblueOffsetgreenOffsetredOffsetalphaOffsetblueMultipliergreenMultiplierredMultiplieralphaMultiplier");
}

TEST(Avm1Geom, ConcatenatedColorTransformAppliesTheClipsThenItsParents) {
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("outer"), Int(1)}));
  a.Append(Do(Member(Var("_root"), "outer"), "createEmptyMovieClip", {Str("inner"), Int(1)}));
  a.Append(SetMember(Member(Member(Var("_root"), "outer"), "transform"), "colorTransform",
                     Geom("ColorTransform", {Num(1), Num(0.5), Num(1), Num(1), Num(64), Num(0), Num(0), Num(0)})));
  Set(a, "t", Member(Member(Member(Var("_root"), "outer"), "inner"), "transform"));
  a.Append(SetMember(Var("t"), "colorTransform",
                     Geom("ColorTransform", {Num(0.5), Num(1), Num(1), Num(1), Num(0), Num(64), Num(32), Num(0)})));
  Set(a, "c", Member(Var("t"), "concatenatedColorTransform"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("c.redMultiplier"), "0.5");
  EXPECT_EQ(r.Get("c.greenMultiplier"), "0.5");
  EXPECT_EQ(r.Get("c.redOffset"), "64");
  EXPECT_EQ(r.Get("c.greenOffset"), "32");  // the inner offset, scaled by the outer multiplier
  EXPECT_EQ(r.Get("c.blueOffset"), "32");
}

// The main timeline has a transform too and ends the chain; the terms are
// 16-bit numbers whose products wrap (127.5 x -523 is -66683, -1147 in 16
// bits). new Transform of anything but one clip is undefined.
TEST(Avm1Geom, ConcatenatedColorTransformWrapsAndReachesTheMainTimeline) {
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("inner"), Int(1)}));
  a.Append(SetMember(Member(Member(Var("_root"), "inner"), "transform"), "colorTransform",
                     Geom("ColorTransform", {Num(1), Num(1), Num(1), Num(1), Num(0), Num(0), Num(-523), Num(0)})));
  a.Append(SetMember(Member(Var("_root"), "transform"), "colorTransform",
                     Geom("ColorTransform", {Num(1), Num(1), Num(127.5), Num(1), Num(0), Num(0), Num(0), Num(0)})));
  Set(a, "rootMult", Member(Member(Member(Var("_root"), "transform"), "colorTransform"), "blueMultiplier"));
  Set(a, "c", Member(Member(Member(Var("_root"), "inner"), "transform"), "concatenatedColorTransform"));
  Set(a, "none", Op(Geom("Transform", {}), Code(Action::kTypeOf)));
  Set(a, "two", Op(Geom("Transform", {Var("_root"), Var("_root")}), Code(Action::kTypeOf)));
  Set(a, "one", Op(Geom("Transform", {Var("_root")}), Code(Action::kTypeOf)));
  Played r(Script(a));
  EXPECT_EQ(r.Get("rootMult"), "127.5");
  EXPECT_EQ(r.Get("c.blueMultiplier"), "127.5");
  EXPECT_EQ(r.Get("c.blueOffset"), "-1147");
  EXPECT_EQ(r.Get("none"), "undefined");
  EXPECT_EQ(r.Get("two"), "undefined");
  EXPECT_EQ(r.Get("one"), "object");
}

TEST(Avm1Geom, RectangleComputedEdgesAndSetOperations) {
  Actions a;
  Set(a, "r", Geom("Rectangle", {Num(10), Num(20), Num(30), Num(40)}));
  Set(a, "right", Member(Var("r"), "right"));
  Set(a, "bottom", Member(Var("r"), "bottom"));
  Set(a, "br", Member(Var("r"), "bottomRight"));
  Set(a, "in", Method(Var("r"), "contains", {Num(10), Num(20)}));
  Set(a, "edge", Method(Var("r"), "contains", {Num(40), Num(20)}));  // the right edge is outside
  Set(a, "o", Geom("Rectangle", {Num(30), Num(50), Num(20), Num(20)}));
  Set(a, "hit", Method(Var("r"), "intersects", {Var("o")}));
  Set(a, "i", Method(Var("r"), "intersection", {Var("o")}));
  Set(a, "u", Method(Var("r"), "union", {Var("o")}));
  Set(a, "text", Method(Var("i"), "toString", {}));
  Set(a, "none", Method(Method(Var("r"), "intersection", {Geom("Rectangle", {Num(0), Num(0), Num(1), Num(1)})}),
                        "isEmpty", {}));
  a.Append(SetMember(Var("r"), "left", Num(0)));  // moves the left edge, keeps the right
  Set(a, "w", Member(Var("r"), "width"));
  a.Append(Do(Var("r"), "inflate", {Num(5), Num(1)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("right"), "40");
  EXPECT_EQ(r.Get("bottom"), "60");
  EXPECT_EQ(r.Get("br.x"), "40");
  EXPECT_EQ(r.Get("in"), "true");
  EXPECT_EQ(r.Get("edge"), "false");
  EXPECT_EQ(r.Get("hit"), "true");
  EXPECT_EQ(r.Get("text"), "(x=30, y=50, w=10, h=10)");
  EXPECT_EQ(r.Get("u.width"), "40");
  EXPECT_EQ(r.Get("u.height"), "50");
  EXPECT_EQ(r.Get("none"), "true");
  EXPECT_EQ(r.Get("w"), "40");
  EXPECT_EQ(r.Get("r.x"), "-5");
  EXPECT_EQ(r.Get("r.width"), "50");
  EXPECT_EQ(r.Get("r.height"), "42");
}

TEST(Avm1Geom, ColorTransformRgbAndConcat) {
  Actions a;
  Set(a, "c", Geom("ColorTransform", {Num(0.5), Num(1), Num(1), Num(1), Num(10), Num(0), Num(0), Num(0)}));
  Set(a, "d", Geom("ColorTransform", {Num(2), Num(1), Num(1), Num(1), Num(4), Num(0), Num(0), Num(0)}));
  a.Append(Do(Var("c"), "concat", {Var("d")}));
  Set(a, "e", Geom("ColorTransform", {}));
  a.Append(SetMember(Var("e"), "rgb", Num(0x102030)));
  Set(a, "rgb", Member(Var("e"), "rgb"));
  Played r(Script(a));
  // d applies first: (x * 2 + 4) * 0.5 + 10.
  EXPECT_EQ(r.Get("c.redMultiplier"), "1");
  EXPECT_EQ(r.Get("c.redOffset"), "12");
  EXPECT_EQ(r.Get("e.redMultiplier"), "0");
  EXPECT_EQ(r.Get("e.greenOffset"), "32");
  EXPECT_EQ(r.Get("rgb"), "1056816");
}

// A sprite (id 5) holding a 20 x 20 pixel red square, placed as "box".
SwfBuilder WithBox(const Actions& code) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor(kWhite);
  ShapeBuilder s;
  s.Rectangle(0, 0, 400, 400, s.AddFill(FillStyle::Solid(kRed)));
  b.DefineShape(1, s);
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "box"});
  b.DoAction(Actions().Append(code).Stop()).ShowFrame();
  return b;
}

TEST(Avm1Geom, TransformMovesAndTintsTheClip) {
  Actions a;
  Set(a, "t", Member(Var("box"), "transform"));
  Set(a, "m", Member(Var("t"), "matrix"));
  a.Append(Do(Var("m"), "scale", {Num(2), Num(2)}));
  a.Append(Do(Var("m"), "translate", {Num(50), Num(50)}));
  a.Append(SetMember(Var("t"), "matrix", Var("m")));
  Set(a, "ct", Geom("ColorTransform", {}));
  a.Append(SetMember(Var("ct"), "rgb", Num(0x0000FF)));
  a.Append(SetMember(Var("t"), "colorTransform", Var("ct")));
  Set(a, "xs", Member(Var("box"), "_xscale"));
  Set(a, "pb", Member(Member(Var("box"), "transform"), "pixelBounds"));
  Set(a, "tx", Member(Member(Member(Var("box"), "transform"), "concatenatedMatrix"), "tx"));
  Played r(WithBox(a));
  EXPECT_EQ(r.Get("xs"), "200");
  EXPECT_EQ(r.Get("tx"), "50");
  EXPECT_EQ(r.Get("pb.x"), "50");
  EXPECT_EQ(r.Get("pb.width"), "40");
  EXPECT_EQ(r.At(10, 10), (Color{255, 255, 255}));
  EXPECT_EQ(r.At(85, 85), (Color{0, 0, 255}));
}

// ---- BitmapData from script

Actions Bitmap(const std::vector<Actions>& args) { return New("flash.display", "BitmapData", args); }

TEST(Avm1Bitmap, PixelMethodsAndProperties) {
  Actions a;
  Set(a, "b", Bitmap({Num(10), Num(8), Actions().PushBool(true), Num(0x00000000)}));
  a.Append(Do(Var("b"), "fillRect", {Geom("Rectangle", {Num(2), Num(2), Num(4), Num(4)}), Num(0xFF00FF00)}));
  a.Append(Do(Var("b"), "setPixel32", {Num(0), Num(0), Num(0x80FF0000)}));
  a.Append(Do(Var("b"), "setPixel", {Num(1), Num(0), Num(0x0000FF)}));  // keeps alpha 0
  Set(a, "w", Member(Var("b"), "width"));
  Set(a, "rw", Member(Member(Var("b"), "rectangle"), "height"));
  Set(a, "t", Member(Var("b"), "transparent"));
  Set(a, "p32", Method(Var("b"), "getPixel32", {Num(0), Num(0)}));
  Set(a, "p", Method(Var("b"), "getPixel", {Num(3), Num(3)}));
  Set(a, "a1", Method(Var("b"), "getPixel32", {Num(1), Num(0)}));
  Set(a, "out", Method(Var("b"), "getPixel", {Num(30), Num(0)}));
  Set(a, "cb", Method(Var("b"), "getColorBoundsRect", {Num(0xFFFFFFFF), Num(0xFF00FF00), Actions().PushBool(true)}));
  Set(a, "hit", Method(Var("b"), "hitTest", {Geom("Point", {Num(0), Num(0)}), Num(255), Geom("Point", {Num(3), Num(3)})}));
  Set(a, "miss", Method(Var("b"), "hitTest", {Geom("Point", {Num(0), Num(0)}), Num(255), Geom("Point", {Num(9), Num(7)})}));
  a.Append(Do(Var("b"), "floodFill", {Num(0), Num(7), Num(0xFF0000FF)}));
  Set(a, "flooded", Method(Var("b"), "getPixel", {Num(9), Num(7)}));
  Set(a, "kept", Method(Var("b"), "getPixel", {Num(4), Num(4)}));
  Set(a, "big", Member(Bitmap({Num(3000), Num(10)}), "width"));
  Set(a, "c", Method(Var("b"), "clone", {}));
  a.Append(Do(Var("b"), "dispose", {}));
  Set(a, "gone", Member(Var("b"), "width"));
  Set(a, "cw", Member(Var("c"), "width"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("w"), "10");
  EXPECT_EQ(r.Get("rw"), "8");
  EXPECT_EQ(r.Get("t"), "true");
  EXPECT_EQ(r.Get("p32"), std::to_string(static_cast<std::int32_t>(0x80FF0000u)));  // signed, as in Flash
  EXPECT_EQ(r.Get("p"), std::to_string(0x00FF00));
  EXPECT_EQ(r.Get("a1"), "0");
  EXPECT_EQ(r.Get("out"), "0");
  EXPECT_EQ(r.Get("cb.x"), "2");
  EXPECT_EQ(r.Get("cb.width"), "4");
  EXPECT_EQ(r.Get("hit"), "true");
  EXPECT_EQ(r.Get("miss"), "false");
  EXPECT_EQ(r.Get("flooded"), std::to_string(0x0000FF));
  EXPECT_EQ(r.Get("kept"), std::to_string(0x00FF00));
  EXPECT_EQ(r.Get("big"), "");  // over Flash 8's 2880 pixels: `new` gives undefined
  EXPECT_EQ(r.Get("gone"), "-1");
  EXPECT_EQ(r.Get("cw"), "10");
}

// Pixel methods missing a coordinate or the colour give -1 and change
// nothing; so does every pixel method of a disposed bitmap.
TEST(Avm1Bitmap, PixelMethodsOnMissingArgumentsGiveMinusOne) {
  Actions a;
  Set(a, "b", Bitmap({Num(3), Num(3), Actions().PushBool(false), Num(0xAABBCCDD)}));
  Set(a, "noY", Method(Var("b"), "getPixel", {Num(1)}));
  Set(a, "noArgs", Method(Var("b"), "getPixel32"));
  Set(a, "noColour", Method(Var("b"), "setPixel32", {Num(1), Num(1)}));
  Set(a, "noColour24", Method(Var("b"), "setPixel", {Num(1), Num(1)}));
  Set(a, "kept", Method(Var("b"), "getPixel", {Num(1), Num(1)}));
  Set(a, "nullX", Method(Var("b"), "getPixel", {Actions().PushNull(), Num(1)}));
  a.Append(Do(Var("b"), "dispose", {}));
  Set(a, "goneGet", Method(Var("b"), "getPixel32", {Num(1), Num(1)}));
  Set(a, "goneSet", Method(Var("b"), "setPixel", {Num(1), Num(1), Num(0)}));
  Played r(Script(a));
  for (const char* name : {"noY", "noArgs", "noColour", "noColour24", "goneGet", "goneSet"})
    EXPECT_EQ(r.Get(name), "-1") << name;
  EXPECT_EQ(r.Get("kept"), std::to_string(0xBBCCDD));
  EXPECT_EQ(r.Get("nullX"), std::to_string(0xBBCCDD));
}

// Bad calls answer with codes in the order Flash checks: too few arguments
// (-1), no source bitmap (-2), a disposed source (-3), no rectangle (-4);
// methods that work answer 0, some -1 all the same.
TEST(Avm1Bitmap, MethodsAnswerBadCallsWithFlashCodes) {
  Actions a;
  Set(a, "b", Bitmap({Num(3), Num(3), Actions().PushBool(true), Num(0xAABBCCDD)}));
  Set(a, "src", Bitmap({Num(3), Num(3)}));
  Set(a, "gone", Bitmap({Num(3), Num(3)}));
  a.Append(Do(Var("gone"), "dispose", {}));
  const auto rect = [] { return Geom("Rectangle", {Num(0), Num(0), Num(2), Num(2)}); };
  const auto pt = [] { return Geom("Point", {Num(0), Num(0)}); };
  Set(a, "fewArgs", Method(Var("b"), "copyPixels", {Var("src"), rect()}));
  Set(a, "noSource", Method(Var("b"), "copyPixels", {Object({}), rect(), pt()}));
  Set(a, "goneSource", Method(Var("b"), "copyPixels", {Var("gone"), rect(), pt()}));
  Set(a, "noRect", Method(Var("b"), "copyPixels", {Var("src"), Object({{"x", Num(0)}, {"y", Num(0)}}), pt()}));
  Set(a, "copied", Method(Var("b"), "copyPixels", {Var("src"), rect(), Actions().PushNull()}));
  Set(a, "merged", Method(Var("b"), "merge", {Var("src"), rect(), pt(), Num(1), Num(1), Num(1), Num(1)}));
  Set(a, "filledNoRect", Method(Var("b"), "fillRect", {Actions().PushNull(), Num(0)}));
  Set(a, "ctPlain", Method(Var("b"), "colorTransform", {rect(), Object({{"redMultiplier", Num(0)}})}));
  Set(a, "hitNoY", Method(Var("b"), "hitTest", {Object({{"x", Num(0)}}), Num(1), pt()}));
  Set(a, "floodSame", Method(Var("src"), "floodFill", {Num(1), Num(1), Num(0xFFFFFFFF)}));
  Set(a, "floodOut", Method(Var("src"), "floodFill", {Num(5), Num(1), Num(0)}));
  Set(a, "floodNew", Method(Var("src"), "floodFill", {Num(1), Num(1), Num(0)}));
  Set(a, "goneClone", Method(Var("gone"), "clone", {}));
  Set(a, "undefinedIsOpaque", Member(Bitmap({Num(2), Num(2), Undef()}), "transparent"));
  Set(a, "keys", Str(""));
  a.Append(ForIn(Var("src"), [] {
    Actions body;
    return Set(body, "keys", Bin(Var("keys"), Actions().PushRegister(0), Action::kAdd2));
  }()));
  Played r(Script(a));
  EXPECT_EQ(r.Get("fewArgs"), "-1");
  EXPECT_EQ(r.Get("noSource"), "-2");
  EXPECT_EQ(r.Get("goneSource"), "-3");
  EXPECT_EQ(r.Get("noRect"), "-4");
  EXPECT_EQ(r.Get("copied"), "0");
  EXPECT_EQ(r.Get("merged"), "-1");
  EXPECT_EQ(r.Get("filledNoRect"), "-1");
  EXPECT_EQ(r.Get("ctPlain"), "-3");  // a plain object is no ColorTransform
  EXPECT_EQ(r.Get("hitNoY"), "-2");
  EXPECT_EQ(r.Get("floodSame"), "0");
  EXPECT_EQ(r.Get("floodOut"), "0");
  EXPECT_EQ(r.Get("floodNew"), "1");
  EXPECT_EQ(r.Get("goneClone"), "-1");
  EXPECT_EQ(r.Get("undefinedIsOpaque"), "false");
  for (const char* key : {"width", "height", "transparent", "rectangle"}) {
    EXPECT_NE(r.Get("keys").find(key), std::string::npos) << key;
  }
}

// pixelDissolve needs five arguments; it answers the seed to pass next,
// and the seed itself when nothing lands in the bitmap.
TEST(Avm1Bitmap, PixelDissolveArgumentsAndAnswer) {
  Actions a;
  Set(a, "b", Bitmap({Num(4), Num(4), Actions().PushBool(false), Num(0)}));
  const auto pt = [](double x) { return Geom("Point", {Num(x), Num(0)}); };
  Set(a, "four", Method(Var("b"), "pixelDissolve", {Var("b"), Member(Var("b"), "rectangle"), pt(0), Num(5)}));
  Set(a, "untouched", Method(Var("b"), "getPixel", {Num(0), Num(0)}));
  Set(a, "outside", Method(Var("b"), "pixelDissolve", {Var("b"), Member(Var("b"), "rectangle"), pt(40), Num(5), Num(3),
                                                        Num(0xFFFFFF)}));
  Set(a, "none", Method(Var("b"), "pixelDissolve", {Var("b"), Member(Var("b"), "rectangle"), pt(0), Num(5), Num(0),
                                                     Num(0xFFFFFF)}));
  Set(a, "corner", Method(Var("b"), "getPixel", {Num(0), Num(0)}));
  Set(a, "next", Method(Var("b"), "pixelDissolve", {Var("b"), Member(Var("b"), "rectangle"), pt(0), Num(5), Num(3),
                                                     Num(0xFFFFFF)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("four"), "-1");
  EXPECT_EQ(r.Get("untouched"), "0");
  EXPECT_EQ(r.Get("outside"), "5");
  EXPECT_EQ(r.Get("none"), "5");
  EXPECT_EQ(r.Get("corner"), std::to_string(0xFFFFFF));
  EXPECT_NE(r.Get("next"), "5");
  EXPECT_NE(r.Get("next"), "undefined");
}

TEST(Avm1Bitmap, CopyThresholdAndColorTransformFromScript) {
  Actions a;
  Set(a, "s", Bitmap({Num(4), Num(4), Actions().PushBool(false), Num(0x404040)}));
  a.Append(Do(Var("s"), "fillRect", {Geom("Rectangle", {Num(0), Num(0), Num(2), Num(4)}), Num(0xC0C0C0)}));
  Set(a, "d", Bitmap({Num(4), Num(4), Actions().PushBool(true), Num(0)}));
  Set(a, "n", Method(Var("d"), "threshold",
                     {Var("s"), Member(Var("s"), "rectangle"), Geom("Point", {Num(0), Num(0)}), Str(">"),
                      Num(0x00808080), Num(0xFFFF0000), Num(0x00FFFFFF), Actions().PushBool(false)}));
  Set(a, "red", Method(Var("d"), "getPixel32", {Num(0), Num(0)}));
  Set(a, "none", Method(Var("d"), "getPixel32", {Num(3), Num(0)}));
  a.Append(Do(Var("d"), "copyPixels", {Var("s"), Geom("Rectangle", {Num(2), Num(0), Num(2), Num(2)}), Geom("Point", {Num(0), Num(2)})}));
  Set(a, "copied", Method(Var("d"), "getPixel", {Num(1), Num(3)}));
  a.Append(Do(Var("s"), "colorTransform", {Member(Var("s"), "rectangle"),
                                          Geom("ColorTransform", {Num(0.5), Num(1), Num(1), Num(1), Num(0), Num(0), Num(16), Num(0)})}));
  Set(a, "ct", Method(Var("s"), "getPixel", {Num(3), Num(3)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("n"), "8");
  EXPECT_EQ(r.Get("red"), std::to_string(static_cast<std::int32_t>(0xFFFF0000u)));
  EXPECT_EQ(r.Get("none"), "0");
  EXPECT_EQ(r.Get("copied"), std::to_string(0x404040));
  EXPECT_EQ(r.Get("ct"), std::to_string(0x204050));
}

// merge takes six arguments: without an alpha multiplier the source's alpha
// is taken whole, while an undefined one keeps the target's.
TEST(Avm1Bitmap, MergeWithoutAlphaMultiplierTakesTheSourceAlpha) {
  Actions a;
  Set(a, "src", Bitmap({Num(1), Num(1), Actions().PushBool(true), Num(0x80FF0000)}));
  const auto merged = [&](const std::string& name, std::vector<Actions> extra) {
    Set(a, "d", Bitmap({Num(1), Num(1), Actions().PushBool(true), Num(0xFF0000FF)}));
    std::vector<Actions> args{Var("src"), Member(Var("src"), "rectangle"), Geom("Point", {Num(0), Num(0)}), Num(256),
                              Num(0), Num(256)};
    for (auto& e : extra) args.push_back(std::move(e));
    Set(a, name + "Code", Method(Var("d"), "merge", args));
    Set(a, name, Method(Var("d"), "getPixel32", {Num(0), Num(0)}));
  };
  merged("six", {});
  merged("undef", {Undef()});
  merged("zero", {Num(0)});
  Set(a, "d", Bitmap({Num(1), Num(1), Actions().PushBool(true), Num(0xFF0000FF)}));
  Set(a, "fiveCode", Method(Var("d"), "merge", {Var("src"), Member(Var("src"), "rectangle"),
                                                  Geom("Point", {Num(0), Num(0)}), Num(256), Num(0)}));
  Set(a, "five", Method(Var("d"), "getPixel32", {Num(0), Num(0)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("sixCode"), "-1");
  EXPECT_EQ(r.Get("six") , std::to_string(static_cast<std::int32_t>(0x80FF0000u)));
  EXPECT_EQ(r.Get("undef"), std::to_string(static_cast<std::int32_t>(0xFFFF0000u)));
  EXPECT_EQ(r.Get("zero"), std::to_string(static_cast<std::int32_t>(0xFFFF0000u)));
  EXPECT_EQ(r.Get("five"), std::to_string(static_cast<std::int32_t>(0xFF0000FFu)));  // too few: unchanged
}

// hitTest: the first point must hold x and y itself; against a rectangle a
// threshold of 0 counts clear pixels too, against a point it does not.
TEST(Avm1Bitmap, HitTestFirstPointAndZeroThreshold) {
  Actions a;
  Set(a, "b", Bitmap({Num(2), Num(2), Actions().PushBool(true), Num(0)}));
  const auto origin = [] { return Object({{"x", Num(0)}, {"y", Num(0)}}); };
  Set(a, "rect", Method(Var("b"), "hitTest",
                        {origin(), Num(0), Object({{"x", Num(0)}, {"y", Num(0)}, {"width", Num(1)}, {"height", Num(1)}})}));
  Set(a, "rectAway", Method(Var("b"), "hitTest",
                            {origin(), Num(0), Object({{"x", Num(5)}, {"y", Num(5)}, {"width", Num(1)}, {"height", Num(1)}})}));
  Set(a, "point", Method(Var("b"), "hitTest", {origin(), Num(0), origin()}));
  Set(a, "inherited", Method(Var("b"), "hitTest", {Object({{"__proto__", origin()}}), Num(0), Var("b")}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("rect"), "true");
  EXPECT_EQ(r.Get("rectAway"), "false");
  EXPECT_EQ(r.Get("point"), "false");
  EXPECT_EQ(r.Get("inherited"), "-2");
}

// A frame may make a bitmap of the largest size Flash allows.
TEST(Avm1Bitmap, AFrameMayMakeTheLargestBitmap) {
  Actions a;
  Set(a, "big", Member(Bitmap({Num(4095), Num(4096)}), "width"));
  Set(a, "tooBig", Bitmap({Num(4096), Num(4096)}));
  Set(a, "after", Str("ran"));
  Played r(Script(a, 10));
  EXPECT_EQ(r.Get("big"), "4095");
  EXPECT_EQ(r.Get("tooBig"), "");  // undefined
  EXPECT_EQ(r.Get("after"), "ran");
}

TEST(Avm1Bitmap, AttachedBitmapShowsLiveChangesAndFillsDrawings) {
  Actions a;
  Set(a, "b", Bitmap({Num(20), Num(20), Actions().PushBool(false), Num(0xFF0000)}));
  a.Append(Do(Var("_root"), "attachBitmap", {Var("b"), Num(1)}));
  // A 10 x 10 pattern of blue and green halves, repeated over 40 x 40.
  Set(a, "tile", Bitmap({Num(10), Num(10), Actions().PushBool(false), Num(0x0000FF)}));
  a.Append(Do(Var("tile"), "fillRect", {Geom("Rectangle", {Num(5), Num(0), Num(5), Num(10)}), Num(0x00FF00)}));
  Set(a, "clip", Method(Var("_root"), "createEmptyMovieClip", {Str("c"), Num(2)}));
  a.Append(Do(Var("clip"), "beginBitmapFill", {Var("tile")}));
  a.Append(Do(Var("clip"), "moveTo", {Num(50), Num(50)}));
  a.Append(Do(Var("clip"), "lineTo", {Num(90), Num(50)}));
  a.Append(Do(Var("clip"), "lineTo", {Num(90), Num(90)}));
  a.Append(Do(Var("clip"), "lineTo", {Num(50), Num(90)}));
  a.Append(Do(Var("clip"), "endFill", {}));
  Set(a, "cw", Member(Var("clip"), "_width"));
  SwfBuilder b = Script(a);
  Actions later;
  later.Append(Do(Var("b"), "fillRect", {Geom("Rectangle", {Num(0), Num(0), Num(10), Num(10)}), Num(0x000000)}));
  later.Append(Do(Var("tile"), "fillRect", {Member(Var("tile"), "rectangle"), Num(0xFFFF00)}));
  b.DoAction(later).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("cw"), "40");
  EXPECT_EQ(r.At(5, 5), (Color{255, 0, 0}));
  EXPECT_EQ(r.At(25, 25), (Color{255, 255, 255}));
  // The tile repeats from the drawing's origin: x 52 is blue, 57 green, 62 blue.
  EXPECT_EQ(r.At(52, 60), (Color{0, 0, 255}));
  EXPECT_EQ(r.At(57, 60), (Color{0, 255, 0}));
  EXPECT_EQ(r.At(62, 60), (Color{0, 0, 255}));
  r.player.AdvanceTo(100);  // a tick on the stopped first frame, so that Play resumes it
  r.player.Play();
  r.player.AdvanceTo(200);
  EXPECT_EQ(r.At(5, 5), (Color{0, 0, 0}));
  EXPECT_EQ(r.At(15, 15), (Color{255, 0, 0}));
  EXPECT_EQ(r.At(57, 60), (Color{255, 255, 0}));
}

TEST(Avm1Bitmap, DrawRendersAClipIntoTheBitmap) {
  Actions a;
  Set(a, "b", Bitmap({Num(40), Num(40), Actions().PushBool(true), Num(0)}));
  // box is 20 x 20 red; drawn at twice the size, moved by 5.
  Set(a, "m", Geom("Matrix", {Num(2), Num(0), Num(0), Num(2), Num(5), Num(5)}));
  a.Append(Do(Var("b"), "draw", {Var("box"), Var("m")}));
  Set(a, "in", Method(Var("b"), "getPixel32", {Num(30), Num(30)}));
  Set(a, "edge", Method(Var("b"), "getPixel32", {Num(2), Num(2)}));
  Set(a, "c", Bitmap({Num(10), Num(10), Actions().PushBool(false), Num(0xFFFFFF)}));
  Set(a, "ct", Geom("ColorTransform", {}));
  a.Append(SetMember(Var("ct"), "rgb", Num(0x0000FF)));
  a.Append(Do(Var("c"), "draw", {Var("b"), Geom("Matrix", {}), Var("ct"), Str("normal"),
                                 Geom("Rectangle", {Num(0), Num(0), Num(8), Num(10)})}));
  Set(a, "tinted", Method(Var("c"), "getPixel", {Num(7), Num(7)}));
  Set(a, "clipped", Method(Var("c"), "getPixel", {Num(9), Num(9)}));
  Played r(WithBox(a));
  EXPECT_EQ(r.Get("in"), std::to_string(static_cast<std::int32_t>(0xFFFF0000u)));
  EXPECT_EQ(r.Get("edge"), "0");
  EXPECT_EQ(r.Get("tinted"), std::to_string(0x0000FF));
  EXPECT_EQ(r.Get("clipped"), std::to_string(0xFFFFFF));
}

// ---- the drawing API

TEST(Avm1Drawing, GradientFillsHaveTheirColoursAtKnownPoints) {
  Actions a;
  Set(a, "c", Method(Var("_root"), "createEmptyMovieClip", {Str("g"), Num(1)}));
  Set(a, "m", Geom("Matrix", {}));
  a.Append(Do(Var("m"), "createGradientBox", {Num(100), Num(50), Num(0), Num(0), Num(0)}));
  a.Append(Do(Var("c"), "beginGradientFill", {Str("linear"), Array({Num(0xFF0000), Num(0x0000FF)}),
                                              Array({Num(100), Num(100)}), Array({Num(0), Num(255)}), Var("m")}));
  for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {100, 0}, {100, 50}, {0, 50}}) {
    a.Append(Do(Var("c"), x == 0 && y == 0 ? "moveTo" : "lineTo", {Num(x), Num(y)}));
  }
  a.Append(Do(Var("c"), "endFill", {}));  // closes back to (0, 0)
  // A box-form radial gradient below: white centre, black edge.
  a.Append(Do(Var("c"), "beginGradientFill",
              {Str("radial"), Array({Num(0xFFFFFF), Num(0x000000)}), Array({Num(100), Num(100)}),
               Array({Num(0), Num(255)}),
               Object({{"matrixType", Str("box")}, {"x", Num(0)}, {"y", Num(50)}, {"w", Num(100)}, {"h", Num(50)},
                       {"r", Num(0)}})}));
  a.Append(Do(Var("c"), "moveTo", {Num(0), Num(50)}));
  a.Append(Do(Var("c"), "lineTo", {Num(100), Num(50)}));
  a.Append(Do(Var("c"), "lineTo", {Num(100), Num(100)}));
  a.Append(Do(Var("c"), "lineTo", {Num(0), Num(100)}));
  a.Append(Do(Var("c"), "endFill", {}));
  Played r(Script(a));
  const Color left = r.At(2, 25), right = r.At(97, 25), mid = r.At(50, 25);
  EXPECT_GT(left.r, 240);
  EXPECT_LT(left.b, 15);
  EXPECT_GT(right.b, 240);
  EXPECT_LT(right.r, 15);
  EXPECT_NEAR(mid.r, 128, 12);
  EXPECT_NEAR(mid.b, 128, 12);
  EXPECT_GT(r.At(50, 75).r, 235);  // the radial centre
  EXPECT_LT(r.At(2, 52).r, 40);    // its corner, past the edge
}

TEST(Avm1Drawing, LinesHairlinesAndClearDrawAGraph) {
  Actions a;
  Set(a, "c", Method(Var("_root"), "createEmptyMovieClip", {Str("graph"), Num(1)}));
  a.Append(SetMember(Var("c"), "_xscale", Num(400)));
  // A hairline stays one pixel wide when the clip is scaled.
  a.Append(Do(Var("c"), "lineStyle", {Num(0), Num(0x0000FF), Num(100)}));
  a.Append(Do(Var("c"), "moveTo", {Num(0), Num(10)}));
  a.Append(Do(Var("c"), "lineTo", {Num(20), Num(10)}));
  // A 6 pixel line, scaled four times across only: a round pen in device
  // space, sqrt((4 * 4 + 1) / 2) times wider, about 17.5 pixels.
  a.Append(Do(Var("c"), "lineStyle", {Num(6), Num(0xFF0000), Num(100), Actions().PushBool(false), Str("normal"),
                                      Str("none")}));
  a.Append(Do(Var("c"), "moveTo", {Num(5), Num(50)}));
  a.Append(Do(Var("c"), "curveTo", {Num(10), Num(50), Num(15), Num(50)}));
  Set(a, "bounds", Method(Var("c"), "getBounds", {Var("_root")}));
  Set(a, "w", Member(Var("c"), "_width"));
  Set(a, "d", Method(Var("_root"), "createEmptyMovieClip", {Str("gone"), Num(2)}));
  a.Append(Do(Var("d"), "beginFill", {Num(0x00FF00), Num(50)}));
  a.Append(Do(Var("d"), "moveTo", {Num(0), Num(80)}));
  a.Append(Do(Var("d"), "lineTo", {Num(50), Num(80)}));
  a.Append(Do(Var("d"), "lineTo", {Num(50), Num(100)}));
  a.Append(Do(Var("d"), "lineTo", {Num(0), Num(100)}));
  a.Append(Do(Var("d"), "endFill", {}));
  Set(a, "hitBefore", Method(Var("d"), "hitTest", {Num(20), Num(90), Actions().PushBool(false)}));
  Played before(Script(a));
  EXPECT_EQ(before.Get("hitBefore"), "true");
  EXPECT_EQ(before.At(20, 90), (Color{127, 255, 127}));  // alpha 50 over white
  a.Append(Do(Var("d"), "clear", {}));
  a.Append(Do(Var("d"), "lineTo", {Num(10), Num(10)}));  // after clear the line style is gone
  Played r(Script(a));
  int hairline = 0;
  for (int y = 5; y < 15; ++y) hairline += r.At(40, y) == Color{0, 0, 255};
  EXPECT_EQ(hairline, 1);
  EXPECT_EQ(r.At(40, 43), (Color{255, 0, 0}));
  EXPECT_EQ(r.At(40, 57), (Color{255, 0, 0}));
  EXPECT_EQ(r.At(40, 61), (Color{255, 255, 255}));
  EXPECT_EQ(r.At(40, 39), (Color{255, 255, 255}));
  // Bounds hold the line's half width: the curve reaches 47..53 down.
  EXPECT_EQ(r.Get("bounds.yMax"), "53");
  EXPECT_EQ(r.Get("w"), "80");  // the hairline's 20, four times
  EXPECT_EQ(r.At(20, 90), (Color{255, 255, 255}));
}

// ---- filters, blend modes and the other compositing properties

TEST(Avm1Filters, ConstructorsDefaultsCloneAndClipFilters) {
  Actions a;
  Set(a, "g", New("flash.filters", "GlowFilter", {}));
  Set(a, "gc", Member(Var("g"), "color"));
  Set(a, "gs", Member(Var("g"), "strength"));
  Set(a, "d", New("flash.filters", "DropShadowFilter", {Num(10), Num(90)}));
  Set(a, "copy", Method(Var("d"), "clone", {}));
  a.Append(SetMember(Var("d"), "distance", Num(3)));
  Set(a, "cm", New("flash.filters", "ColorMatrixFilter", {}));
  Set(a, "cm12", Member(Member(Var("cm"), "matrix"), "12"));
  a.Append(SetMember(Var("box"), "filters", Array({Var("d"), New("flash.filters", "BlurFilter", {Num(2), Num(2)})})));
  Set(a, "list", Member(Var("box"), "filters"));
  Set(a, "n", Member(Var("list"), "length"));
  Set(a, "first", Member(Member(Var("list"), "0"), "distance"));
  Set(a, "angle", Member(Member(Var("list"), "0"), "angle"));
  Set(a, "same", Actions().Append(Member(Var("list"), "0")).Append(Var("d")).Raw(Code(Action::kStrictEquals)));
  Played r(WithBox(a));
  EXPECT_EQ(r.Get("gc"), std::to_string(0xFF0000));
  EXPECT_EQ(r.Get("gs"), "2");
  EXPECT_EQ(r.Get("copy.distance"), "10");  // the clone kept its own
  EXPECT_EQ(r.Get("cm12"), "1");             // the identity's blue
  EXPECT_EQ(r.Get("n"), "2");
  EXPECT_EQ(r.Get("first"), "3");
  EXPECT_NEAR(r.Number("angle"), 90, 1e-6);
  EXPECT_EQ(r.Get("same"), "false");  // reading gives copies
  // The shadow falls 3 pixels below the box, outside its own 20 pixels.
  const Color below = r.At(10, 21);
  EXPECT_LT(below.r, 250);
  EXPECT_EQ(r.At(60, 60), (Color{255, 255, 255}));
}

// DisplacementMapFilter's mapPoint is a pair of integers read back as a
// new Point: an object without both x and y, or no object, makes (0, 0); a
// coordinate that is no number is the lowest integer.
TEST(Avm1Filters, DisplacementMapPointKeepsTwoIntegers) {
  auto text = [](const Actions& filter) { return AsText(Member(filter, "mapPoint")); };
  Actions a;
  Set(a, "f", New("flash.filters", "DisplacementMapFilter", {}));
  Set(a, "fresh", text(Var("f")));
  Set(a, "built", text(New("flash.filters", "DisplacementMapFilter", {Undef(), Object({{"x", Num(1.7)}, {"y", Num(-2)}})})));
  a.Append(SetMember(Var("f"), "mapPoint", Object({{"x", Int(3)}})));
  Set(a, "onlyX", text(Var("f")));
  a.Append(SetMember(Var("f"), "mapPoint", Object({{"x", Str("a")}, {"y", Int(4)}})));
  Set(a, "notANumber", text(Var("f")));
  a.Append(SetMember(Var("f"), "mapPoint", Object({{"x", Int(5)}, {"y", Int(6)}})));
  Set(a, "copy", text(Method(Var("f"), "clone", {})));
  Set(a, "isCopy", Bin(Member(Var("f"), "mapPoint"), Member(Var("f"), "mapPoint"), Action::kStrictEquals));
  a.Append(SetMember(Var("f"), "mapPoint", Bool(true)));
  Set(a, "notAnObject", text(Var("f")));
  Played r(Script(a));
  EXPECT_EQ(r.Get("fresh"), "(x=0, y=0)");
  EXPECT_EQ(r.Get("built"), "(x=1, y=-2)");
  EXPECT_EQ(r.Get("onlyX"), "(x=0, y=0)");
  EXPECT_EQ(r.Get("notANumber"), "(x=-2147483648, y=4)");
  EXPECT_EQ(r.Get("copy"), "(x=5, y=6)");
  EXPECT_EQ(r.Get("isCopy"), "false");
  EXPECT_EQ(r.Get("notAnObject"), "(x=0, y=0)");
}

// A filter's settings are accessors on its class's prototype, listed by
// for-in in Flash's order with BitmapFilter's clone, and each write is
// converted as Flash converts it.
TEST(Avm1Filters, SettingsAreConvertedByTheirAccessors) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "f", New("flash.filters", "BevelFilter", {}));
  a.Append(ForIn(Var("f"), Log(Bin(Actions().PushRegister(0), Str(","), Action::kAdd2))));
  Set(a, "own", Method(Var("f"), "hasOwnProperty", {Str("angle")}));
  Set(a, "angle0", Member(Var("f"), "angle"));
  a.Append(SetMember(Var("f"), "angle", Int(366)));
  a.Append(SetMember(Var("f"), "highlightColor", Int(-0x12345678)));
  a.Append(SetMember(Var("f"), "highlightAlpha", Num(0.5)));
  a.Append(SetMember(Var("f"), "quality", Num(100)));
  a.Append(SetMember(Var("f"), "strength", Int(-1)));
  a.Append(SetMember(Var("f"), "blurX", Int(256)));
  a.Append(SetMember(Var("f"), "type", Str("INNER")));
  a.Append(SetMember(Var("f"), "knockout", Actions().PushNull()));
  Set(a, "copy", Method(Var("f"), "clone", {}));
  a.Append(SetMember(Var("f"), "distance", Int(9)));
  // Convolution alpha is ASnative(1109, 17), its setter 18.
  Set(a, "c", New("flash.filters", "ConvolutionFilter", {}));
  a.Append(SetMember(Var("c"), "get", Call("ASnative", {Int(1109), Int(17)})));
  a.Append(SetMember(Var("c"), "put", Call("ASnative", {Int(1109), Int(18)})));
  a.Append(Do(Method(Var("c"), "put", {Num(0.8)})));
  Set(a, "alpha", Method(Var("c"), "get", {}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("_global.log"),
            "clone,type,blurY,blurX,knockout,strength,quality,shadowAlpha,shadowColor,highlightAlpha,highlightColor,"
            "angle,distance,");
  EXPECT_EQ(r.Get("own"), "false");
  EXPECT_EQ(r.Get("angle0"), "44.9999999772279");  // 0.785398163 radians
  EXPECT_EQ(r.Get("f.angle"), "6");
  EXPECT_EQ(r.Get("f.highlightColor"), "13347208");
  EXPECT_NEAR(std::stod(r.Get("f.highlightAlpha")), 127.0 / 255, 1e-12);  // truncated to a 256th
  EXPECT_EQ(r.Get("f.quality"), "15");
  EXPECT_EQ(r.Get("f.strength"), "0");
  EXPECT_EQ(r.Get("f.blurX"), "255");
  EXPECT_EQ(r.Get("f.type"), "full");
  EXPECT_EQ(r.Get("f.knockout"), "false");
  EXPECT_EQ(r.Get("copy.distance"), "4");  // the clone has settings of its own
  EXPECT_EQ(r.Get("copy.angle"), "6");
  EXPECT_EQ(r.Get("alpha"), "0.8");
}

// A colour matrix is always twenty numbers; a convolution kernel grows
// with its size and keeps what a longer array gave; gradient stops are
// counted by the colours (at most sixteen) and cut by fewer ratios, each
// list keeping its values beyond the count.
TEST(Avm1Filters, MatricesKernelsAndGradientStops) {
  Actions a;
  Set(a, "m", New("flash.filters", "ColorMatrixFilter", {}));
  a.Append(SetMember(Var("m"), "matrix", Array({Bool(true), Actions().PushNull(), Str("2")})));
  Set(a, "matrix", AsText(Member(Var("m"), "matrix")));
  a.Append(SetMember(Var("m"), "matrix", Undef()));
  Set(a, "kept", AsText(Member(Var("m"), "matrix")));
  Set(a, "k", New("flash.filters", "ConvolutionFilter", {}));
  a.Append(SetMember(Var("k"), "matrix", Array({Int(7)})));
  a.Append(SetMember(Var("k"), "matrixX", Num(2.5)));
  Set(a, "k1", AsText(Member(Var("k"), "matrix")));
  a.Append(SetMember(Var("k"), "matrixY", Int(2)));
  Set(a, "k2", AsText(Member(Var("k"), "matrix")));
  a.Append(SetMember(Var("k"), "matrix", Str("abc")));
  Set(a, "k3", AsText(Member(Var("k"), "matrix")));
  a.Append(SetMember(Var("k"), "matrixX", Int(-5)));
  Set(a, "k4", AsText(Member(Var("k"), "matrix")));
  Set(a, "g", New("flash.filters", "GradientGlowFilter", {}));
  a.Append(SetMember(Var("g"), "colors", Array({Int(-1), Int(10), Int(20)})));
  a.Append(SetMember(Var("g"), "alphas", Array({Num(0.5), Num(2)})));
  a.Append(SetMember(Var("g"), "ratios", Array({Int(300), Num(9.9)})));
  Set(a, "g1", AsText(Bin(Bin(Member(Var("g"), "colors"), Str("/"), Action::kAdd2),
                          Bin(Bin(Member(Var("g"), "alphas"), Str("/"), Action::kAdd2), Member(Var("g"), "ratios"),
                              Action::kAdd2),
                          Action::kAdd2)));
  a.Append(SetMember(Var("g"), "colors", Array({Int(1), Int(2), Int(3)})));
  Set(a, "g2", Bin(Bin(AsText(Member(Var("g"), "alphas")), Str("/"), Action::kAdd2), Member(Var("g"), "ratios"),
                   Action::kAdd2));
  Played r(Script(a));
  EXPECT_EQ(r.Get("matrix"), "1,NaN,2,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN");
  EXPECT_EQ(r.Get("kept"), r.Get("matrix"));
  EXPECT_EQ(r.Get("k1"), "7");      // 2 x 0 cells: nothing to grow to
  EXPECT_EQ(r.Get("k2"), "7,0,0,0");
  EXPECT_EQ(r.Get("k3"), "NaN,NaN,NaN,0");
  EXPECT_EQ(r.Get("k4"), "NaN,NaN,NaN,0");  // a smaller size never shrinks it
  EXPECT_EQ(r.Get("g1"), "16777215,10/0.501960784313725,1/255,9");
  // Three stops again: the third's alpha and ratio come back as they were kept.
  EXPECT_EQ(r.Get("g2"), "0.501960784313725,1,1/255,9,0");
}

TEST(Avm1Filters, BlendModeScrollRectAndOpaqueBackground) {
  Actions a;
  a.Append(SetMember(Var("box"), "blendMode", Str("multiply")));
  Set(a, "mode", Member(Var("box"), "blendMode"));
  a.Append(SetMember(Var("box"), "blendMode", Num(4)));
  Set(a, "mode2", Member(Var("box"), "blendMode"));
  a.Append(SetMember(Var("box"), "blendMode", Str("nonsense")));
  Set(a, "mode3", Member(Var("box"), "blendMode"));
  // A number counts by its low byte; null sets normal; other kinds change nothing.
  a.Append(SetMember(Var("box"), "blendMode", Num(256 + 3)));
  Set(a, "mode4", Member(Var("box"), "blendMode"));
  a.Append(SetMember(Var("box"), "blendMode", Actions().PushBool(true)));
  Set(a, "mode5", Member(Var("box"), "blendMode"));
  a.Append(SetMember(Var("box"), "blendMode", Actions().PushNull()));
  Set(a, "mode6", Member(Var("box"), "blendMode"));
  a.Append(SetMember(Var("box"), "blendMode", Str("normal")));
  a.Append(SetMember(Var("box"), "_x", Num(50)));
  // Shows the box's 10 x 10 lower right quarter at the box's position.
  a.Append(SetMember(Var("box"), "scrollRect", Geom("Rectangle", {Num(10), Num(10), Num(10), Num(10)})));
  Set(a, "sr", Member(Member(Var("box"), "scrollRect"), "x"));
  Set(a, "sw", Member(Var("box"), "_width"));
  Set(a, "c", Method(Var("_root"), "createEmptyMovieClip", {Str("o"), Num(5)}));
  a.Append(Do(Var("c"), "lineStyle", {Num(0), Num(0xFF0000)}));
  a.Append(Do(Var("c"), "moveTo", {Num(10), Num(60)}));
  a.Append(Do(Var("c"), "lineTo", {Num(40), Num(90)}));
  Set(a, "bgBefore", Op(Member(Var("c"), "opaqueBackground"), Code(Action::kTypeOf)));
  a.Append(SetMember(Var("c"), "opaqueBackground", Num(0x00FF00)));
  Set(a, "bg", Member(Var("c"), "opaqueBackground"));
  a.Append(SetMember(Var("c"), "cacheAsBitmap", Actions().PushBool(true)));
  Set(a, "cache", Member(Var("c"), "cacheAsBitmap"));
  Played r(WithBox(a));
  EXPECT_EQ(r.Get("mode"), "multiply");
  EXPECT_EQ(r.Get("mode2"), "screen");
  EXPECT_EQ(r.Get("mode3"), "screen");
  EXPECT_EQ(r.Get("mode4"), "multiply");
  EXPECT_EQ(r.Get("mode5"), "multiply");
  EXPECT_EQ(r.Get("mode6"), "normal");
  EXPECT_EQ(r.Get("sr"), "10");
  EXPECT_EQ(r.Get("sw"), "10");  // as wide as the window
  EXPECT_EQ(r.Get("bgBefore"), "undefined");
  EXPECT_EQ(r.Get("bg"), std::to_string(0x00FF00));
  EXPECT_EQ(r.Get("cache"), "true");
  EXPECT_EQ(r.At(55, 5), (Color{255, 0, 0}));
  EXPECT_EQ(r.At(65, 5), (Color{255, 255, 255}));  // cut by the rectangle
  EXPECT_EQ(r.At(55, 15), (Color{255, 255, 255}));
  EXPECT_EQ(r.At(35, 65), (Color{0, 255, 0}));  // background under the drawing's bounds
  EXPECT_EQ(r.At(5, 65), (Color{255, 255, 255}));
}

TEST(Avm1Bitmap, MethodsSurviveMissingAndWrongArguments) {
  const char* methods[] = {"getPixel", "getPixel32", "setPixel", "setPixel32", "fillRect", "copyPixels",
                           "copyChannel", "colorTransform", "noise", "perlinNoise", "pixelDissolve", "threshold", "floodFill",
                           "scroll", "clone", "getColorBoundsRect", "hitTest", "paletteMap", "merge",
                           "applyFilter", "generateFilterRect", "draw", "compare", "dispose"};
  Actions a;
  Set(a, "b", Bitmap({Num(8), Num(8)}));
  Set(a, "huge", Geom("Rectangle", {Num(-1e9), Num(-1e9), Num(2e9), Num(2e9)}));
  for (const char* m : methods) {
    a.Append(Do(Var("b"), m, {}));
    a.Append(Do(Var("b"), m, {Var("b"), Var("huge"), Geom("Point", {Num(-1e9), Num(1e9)}), Str("x"), Var("b"),
                              Num(-5), Num(1e12), Var("huge"), Var("b")}));
    a.Append(Do(Var("b"), m, {Var("huge"), Num(0xFF00FF00), Var("huge"), Geom("Point", {Num(3), Num(3)}), Num(1),
                              Num(8)}));
  }
  a.Append(Do(Var("b"), "fillRect", {Var("huge"), Num(0xFF00FF00)}));  // disposed: nothing
  Set(a, "done", Str("yes"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("done"), "yes");
}

TEST(Avm1Bitmap, LoadBitmapCopiesAnExportedPicture) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor(kWhite);
  // 2 x 2: red, half-transparent green / blue, clear.
  const std::vector<swf::Rgba> pixels = {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 255}, {0, 0, 0, 0}};
  b.DefineBitsLossless2(9, 2, 2, pixels);
  b.ExportAssets({{9, "pic"}});
  Actions a;
  Set(a, "bd", Method(Member(Member(Var("flash"), "display"), "BitmapData"), "loadBitmap", {Str("pic")}));
  Set(a, "w", Member(Var("bd"), "width"));
  Set(a, "red", Method(Var("bd"), "getPixel32", {Num(0), Num(0)}));
  Set(a, "green", Method(Var("bd"), "getPixel32", {Num(1), Num(0)}));
  Set(a, "none", Method(Member(Member(Var("flash"), "display"), "BitmapData"), "loadBitmap", {Str("missing")}));
  // The copy is the script's own: changing it leaves the library's picture.
  a.Append(Do(Var("bd"), "setPixel32", {Num(0), Num(0), Num(0xFF000000)}));
  Set(a, "again", Method(Method(Member(Member(Var("flash"), "display"), "BitmapData"), "loadBitmap", {Str("pic")}),
                         "getPixel", {Num(0), Num(0)}));
  b.DoAction(Actions().Append(a).Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("w"), "2");
  EXPECT_EQ(r.Get("red"), std::to_string(static_cast<std::int32_t>(0xFFFF0000u)));
  const auto green = static_cast<std::uint32_t>(std::stoll(r.Get("green")));
  EXPECT_EQ(green >> 24, 128u);
  EXPECT_NEAR(static_cast<int>((green >> 8) & 255), 255, 2);
  EXPECT_EQ(r.Get("none"), "");  // undefined
  EXPECT_EQ(r.Get("again"), std::to_string(0xFF0000));
}

}  // namespace
}  // namespace quarvel::player::script_test
