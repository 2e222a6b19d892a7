// The graphics classes of ActionScript 2 on builder-made movies: flash.geom
// arithmetic, the drawing API, BitmapData and filters from script. Results
// are read back through script variables and the pixels drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/player/avm1.h"
#include "platform/player/flash_player.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

using gdi::Color;
using testing::Actions;
using testing::FillStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;

constexpr swf::Rgba kRed{255, 0, 0, 255};
constexpr swf::Rgba kWhite{255, 255, 255, 255};

enum : std::uint8_t {
  kGetVar = Code(Action::kGetVariable), kGetMember = Code(Action::kGetMember), kSetMember = Code(Action::kSetMember),
  kCallMethod = Code(Action::kCallMethod), kNewMethod = Code(Action::kNewMethod), kPop = Code(Action::kPop),
  kInitArray = Code(Action::kInitArray), kInitObject = Code(Action::kInitObject),
};

// A small vocabulary for writing scripts: values, members, calls.
Actions Str(const std::string& s) { return Actions().PushString(s); }
Actions Num(double d) { return d == std::floor(d) && std::fabs(d) < 1e9 ? Actions().PushInt(static_cast<int>(d)) : Actions().PushDouble(d); }
Actions Var(const std::string& name) { return Actions().PushString(name).Raw(kGetVar); }
Actions Member(const Actions& obj, const std::string& name) { return Actions().Append(obj).PushString(name).Raw(kGetMember); }
Actions SetMember(const Actions& obj, const std::string& name, const Actions& v) {
  return Actions().Append(obj).PushString(name).Append(v).Raw(kSetMember);
}
Actions Method(const Actions& obj, const std::string& method, const std::vector<Actions>& args) {
  Actions a;
  for (auto it = args.rbegin(); it != args.rend(); ++it) a.Append(*it);
  a.PushInt(static_cast<int>(args.size())).Append(obj).PushString(method).Raw(kCallMethod);
  return a;
}
// A statement: the call's result dropped.
Actions Do(const Actions& obj, const std::string& method, const std::vector<Actions>& args) {
  return Method(obj, method, args).Raw(kPop);
}
// new pkg.Class(args), pkg a dotted path of globals ("flash.geom").
Actions New(const std::string& pkg, const std::string& cls, const std::vector<Actions>& args) {
  Actions a;
  for (auto it = args.rbegin(); it != args.rend(); ++it) a.Append(*it);
  a.PushInt(static_cast<int>(args.size()));
  std::size_t from = 0;
  bool first = true;
  while (from <= pkg.size()) {
    const std::size_t dot = std::min(pkg.find('.', from), pkg.size());
    const std::string part = pkg.substr(from, dot - from);
    if (first) a.PushString(part).Raw(kGetVar);
    else a.PushString(part).Raw(kGetMember);
    first = false;
    from = dot + 1;
  }
  return a.PushString(cls).Raw(kNewMethod);
}
Actions Geom(const std::string& cls, const std::vector<Actions>& args) { return New("flash.geom", cls, args); }
Actions Array(const std::vector<Actions>& items) {
  Actions a;
  for (auto it = items.rbegin(); it != items.rend(); ++it) a.Append(*it);
  return a.PushInt(static_cast<int>(items.size())).Raw(kInitArray);
}
Actions Object(const std::vector<std::pair<std::string, Actions>>& fields) {
  Actions a;
  for (auto& [k, v] : fields) a.PushString(k).Append(v);
  return a.PushInt(static_cast<int>(fields.size())).Raw(kInitObject);
}
Actions& Let(Actions& a, const std::string& name, const Actions& value) {
  a.PushString(name).Append(value).SetVariable();
  return a;
}

// A 100 x 100 pixel movie at 10 frames per second on white, whose first
// frame runs `code`.
SwfBuilder Script(const Actions& code, std::uint8_t version = 8) {
  SwfBuilder b(version, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor(kWhite);
  b.DoAction(Actions().Append(code).Stop()).ShowFrame();
  return b;
}

struct Played {
  FlashPlayer player;
  explicit Played(const SwfBuilder& b) {
    player.SetSize(100, 100);
    player.SetQuality("Low");
    EXPECT_TRUE(player.LoadMovieBytes(b.Build())) << player.LoadError();
  }
  std::string Get(const std::string& v) const { return player.GetVariable(v); }
  double Number(const std::string& v) const { return std::stod(Get(v)); }
  Color At(int x, int y) {
    gdi::Bitmap bmp;
    player.Paint(bmp);
    return bmp.GetPixel(x, y);
  }
};

// ---- flash.geom

TEST(Avm1Geom, MatrixMethodsFollowFlashOrder) {
  Actions a;
  Let(a, "m", Geom("Matrix", {}));
  Let(a, "id", Method(Var("m"), "toString", {}));
  a.Append(Do(Var("m"), "scale", {Num(2), Num(3)}));
  a.Append(Do(Var("m"), "translate", {Num(10), Num(20)}));
  // Translation after the scale: not scaled.
  Let(a, "p", Method(Var("m"), "transformPoint", {Geom("Point", {Num(1), Num(1)})}));
  Let(a, "dp", Method(Var("m"), "deltaTransformPoint", {Geom("Point", {Num(1), Num(1)})}));
  a.Append(Do(Var("m"), "rotate", {Num(M_PI / 2)}));
  Let(a, "r", Method(Var("m"), "transformPoint", {Geom("Point", {Num(1), Num(0)})}));
  Let(a, "inv", Method(Var("m"), "clone", {}));
  a.Append(Do(Var("inv"), "invert", {}));
  Let(a, "back", Method(Var("inv"), "transformPoint", {Var("r")}));
  Let(a, "box", Geom("Matrix", {}));
  a.Append(Do(Var("box"), "createGradientBox", {Num(1638.4), Num(819.2), Num(0), Num(10), Num(20)}));
  Let(a, "c", Geom("Matrix", {Num(1), Num(0), Num(0), Num(1), Num(5), Num(0)}));
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
  Let(a, "p", Geom("Point", {Num(3), Num(4)}));
  Let(a, "len", Member(Var("p"), "length"));
  Let(a, "sum", Method(Var("p"), "add", {Geom("Point", {Num(1), Num(1)})}));
  Let(a, "diff", Method(Var("p"), "subtract", {Geom("Point", {Num(1), Num(1)})}));
  Let(a, "text", Method(Var("p"), "toString", {}));
  Let(a, "same", Method(Var("p"), "equals", {Geom("Point", {Num(3), Num(4)})}));
  Let(a, "dist", Method(Member(Member(Var("flash"), "geom"), "Point"), "distance",
                        {Geom("Point", {Num(0), Num(0)}), Geom("Point", {Num(6), Num(8)})}));
  Let(a, "mid", Method(Member(Member(Var("flash"), "geom"), "Point"), "interpolate",
                       {Geom("Point", {Num(0), Num(0)}), Geom("Point", {Num(10), Num(20)}), Num(0.25)}));
  Let(a, "pol", Method(Member(Member(Var("flash"), "geom"), "Point"), "polar", {Num(2), Num(0)}));
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

TEST(Avm1Geom, RectangleComputedEdgesAndSetOperations) {
  Actions a;
  Let(a, "r", Geom("Rectangle", {Num(10), Num(20), Num(30), Num(40)}));
  Let(a, "right", Member(Var("r"), "right"));
  Let(a, "bottom", Member(Var("r"), "bottom"));
  Let(a, "br", Member(Var("r"), "bottomRight"));
  Let(a, "in", Method(Var("r"), "contains", {Num(10), Num(20)}));
  Let(a, "edge", Method(Var("r"), "contains", {Num(40), Num(20)}));  // the right edge is outside
  Let(a, "o", Geom("Rectangle", {Num(30), Num(50), Num(20), Num(20)}));
  Let(a, "hit", Method(Var("r"), "intersects", {Var("o")}));
  Let(a, "i", Method(Var("r"), "intersection", {Var("o")}));
  Let(a, "u", Method(Var("r"), "union", {Var("o")}));
  Let(a, "text", Method(Var("i"), "toString", {}));
  Let(a, "none", Method(Method(Var("r"), "intersection", {Geom("Rectangle", {Num(0), Num(0), Num(1), Num(1)})}),
                        "isEmpty", {}));
  a.Append(SetMember(Var("r"), "left", Num(0)));  // moves the left edge, keeps the right
  Let(a, "w", Member(Var("r"), "width"));
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
  Let(a, "c", Geom("ColorTransform", {Num(0.5), Num(1), Num(1), Num(1), Num(10), Num(0), Num(0), Num(0)}));
  Let(a, "d", Geom("ColorTransform", {Num(2), Num(1), Num(1), Num(1), Num(4), Num(0), Num(0), Num(0)}));
  a.Append(Do(Var("c"), "concat", {Var("d")}));
  Let(a, "e", Geom("ColorTransform", {}));
  a.Append(SetMember(Var("e"), "rgb", Num(0x102030)));
  Let(a, "rgb", Member(Var("e"), "rgb"));
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
  Let(a, "t", Member(Var("box"), "transform"));
  Let(a, "m", Member(Var("t"), "matrix"));
  a.Append(Do(Var("m"), "scale", {Num(2), Num(2)}));
  a.Append(Do(Var("m"), "translate", {Num(50), Num(50)}));
  a.Append(SetMember(Var("t"), "matrix", Var("m")));
  Let(a, "ct", Geom("ColorTransform", {}));
  a.Append(SetMember(Var("ct"), "rgb", Num(0x0000FF)));
  a.Append(SetMember(Var("t"), "colorTransform", Var("ct")));
  Let(a, "xs", Member(Var("box"), "_xscale"));
  Let(a, "pb", Member(Member(Var("box"), "transform"), "pixelBounds"));
  Let(a, "tx", Member(Member(Member(Var("box"), "transform"), "concatenatedMatrix"), "tx"));
  Played r(WithBox(a));
  EXPECT_EQ(r.Get("xs"), "200");
  EXPECT_EQ(r.Get("tx"), "50");
  EXPECT_EQ(r.Get("pb.x"), "50");
  EXPECT_EQ(r.Get("pb.width"), "40");
  EXPECT_EQ(r.At(10, 10), (Color{255, 255, 255}));
  EXPECT_EQ(r.At(85, 85), (Color{0, 0, 255}));
}

}  // namespace
}  // namespace quarvel::player
