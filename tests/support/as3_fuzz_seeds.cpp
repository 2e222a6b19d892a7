#include "support/as3_fuzz_seeds.h"

#include <array>
#include <functional>
#include <limits>
#include <string_view>
#include <utility>

#include "support/as3_movie_builder.h"

namespace quarvel::testing {
namespace {

// A value the code pushes: a constant, a local, or an expression.
class Arg {
 public:
  using Push = std::function<void(As3Movie&, AbcCode&)>;
  Arg(int v) : push_([v](As3Movie& m, AbcCode& c) { c.Op("pushint", {m.a.Int(v)}); }) {}
  Arg(unsigned v) : push_([v](As3Movie& m, AbcCode& c) { c.Op("pushuint", {m.a.UInt(v)}); }) {}
  Arg(double v) : push_([v](As3Movie& m, AbcCode& c) { c.Op("pushdouble", {m.a.Double(v)}); }) {}
  Arg(bool v) : push_([v](As3Movie&, AbcCode& c) { c.Op(v ? "pushtrue" : "pushfalse"); }) {}
  Arg(const char* s) : push_([text = std::string(s)](As3Movie& m, AbcCode& c) { c.Op("pushstring", {m.S(text)}); }) {}
  static Arg Code(Push p) {
    Arg a(0);
    a.push_ = std::move(p);
    return a;
  }
  void operator()(As3Movie& m, AbcCode& c) const { push_(m, c); }

 private:
  Push push_;
};
using Args = std::vector<Arg>;

Arg L(int local) {
  return Arg::Code([local](As3Movie&, AbcCode& c) { c.Op("getlocal", {local}); });
}
const Arg kThis = L(0);
Arg Null() {
  return Arg::Code([](As3Movie&, AbcCode& c) { c.Op("pushnull"); });
}
// The class object pkg::name.
Arg Class(std::string_view pkg, std::string_view name) {
  return Arg::Code([pkg, name](As3Movie& m, AbcCode& c) { c.Op("getlex", {m.a.PackageName(pkg, name)}); });
}
Arg New(std::string_view pkg, std::string_view name, Args args = {}) {
  return Arg::Code([pkg, name, args](As3Movie& m, AbcCode& c) {
    const auto cls = m.a.PackageName(pkg, name);
    c.Op("findpropstrict", {cls});
    for (const Arg& a : args) a(m, c);
    c.Op("constructprop", {cls, static_cast<std::int64_t>(args.size())});
  });
}
Arg Get(Arg obj, std::string_view name) {
  return Arg::Code([obj, name](As3Movie& m, AbcCode& c) {
    obj(m, c);
    c.Op("getproperty", {m.Q(name)});
  });
}
Arg Call(Arg obj, std::string_view name, Args args = {}) {
  return Arg::Code([obj, name, args](As3Movie& m, AbcCode& c) {
    obj(m, c);
    for (const Arg& a : args) a(m, c);
    c.Op("callproperty", {m.Q(name), static_cast<std::int64_t>(args.size())});
  });
}
Arg Array(Args items) {
  return Arg::Code([items](As3Movie& m, AbcCode& c) {
    for (const Arg& a : items) a(m, c);
    c.Op("newarray", {static_cast<std::int64_t>(items.size())});
  });
}
// new Vector.<type>() with `items` pushed.
Arg Vec(Arg type, Args items) {
  return Arg::Code([type, items](As3Movie& m, AbcCode& c) {
    c.Op("getlex", {m.a.PackageName("__AS3__.vec", "Vector")});
    type(m, c);
    c.Op("applytype", {1}).Op("construct", {0});
    if (items.empty()) return;
    c.Op("dup");
    for (const Arg& a : items) a(m, c);
    c.Op("callpropvoid", {m.Q("push"), static_cast<std::int64_t>(items.size())});
  });
}
Arg Top(std::string_view name) { return Class("", name); }
// A ByteArray holding `bytes`, read from the start.
Arg Bytes(std::vector<std::uint8_t> bytes) {
  return Arg::Code([bytes](As3Movie& m, AbcCode& c) {
    New("flash.utils", "ByteArray")(m, c);
    for (std::uint8_t b : bytes) c.Op("dup").Op("pushint", {m.a.Int(b)}).Op("callpropvoid", {m.Q("writeByte"), 1});
    c.Op("dup").Op("pushbyte", {0}).Op("setproperty", {m.Q("position")});
  });
}
// new Function(method): a closure over the constructor's scope.
Arg Fn(std::uint32_t method) {
  return Arg::Code([method](As3Movie&, AbcCode& c) { c.Op("newfunction", {method}); });
}
// { key: value, ... }
Arg Obj(std::vector<std::pair<const char*, Arg>> fields) {
  return Arg::Code([fields](As3Movie& m, AbcCode& c) {
    for (const auto& [k, v] : fields) {
      c.Op("pushstring", {m.S(k)});
      v(m, c);
    }
    c.Op("newobject", {static_cast<std::int64_t>(fields.size())});
  });
}

// Statements, written into one method's code.
struct Script {
  As3Movie& m;
  AbcCode& c;
  void Do(const Arg& obj, std::string_view name, const Args& args = {}) {
    obj(m, c);
    for (const Arg& a : args) a(m, c);
    c.Op("callpropvoid", {m.Q(name), static_cast<std::int64_t>(args.size())});
  }
  void Let(int local, const Arg& v) {
    v(m, c);
    c.Op("setlocal", {local});
  }
  void Set(const Arg& obj, std::string_view name, const Arg& v) {
    obj(m, c);
    v(m, c);
    c.Op("setproperty", {m.Q(name)});
  }
  void Trace(const Arg& v) {
    c.Op("findpropstrict", {m.Q("trace")});
    v(m, c);
    c.Op("callpropvoid", {m.Q("trace"), 1});
  }
  void Listen(const Arg& target, const char* type, std::uint32_t method) {
    Do(target, "addEventListener", {type, Fn(method)});
  }
  void AddChild(const Arg& child) { Do(kThis, "addChild", {child}); }
};

// A method of one parameter (an event) that traces "<name> later" after `body`.
std::uint32_t Later(As3Movie& d, const std::string& name, const std::function<void(Script&)>& body = {}) {
  AbcCode code;
  Script s{d, code};
  if (body) body(s);
  s.Trace((name + " later").c_str());
  code.Op("returnvoid");
  return d.Method(code, 1);
}

As3FuzzSeed Seed(std::string name, const std::function<void(As3Movie&, Script&)>& body, bool later = false,
                 std::uint16_t minorVersion = 16) {
  As3Movie d;
  d.maxStack = 64;  // calls of many arguments, vectors of many items
  d.a.File().minorVersion = minorVersion;
  auto abc = d.Abc([&](As3Movie& m, AbcCode& c) {
    Script s{m, c};
    body(m, s);
    s.Trace((name + " done").c_str());
  });
  return {std::move(name), std::move(abc), later};
}

Arg Point(Arg x, Arg y) { return New("flash.geom", "Point", {std::move(x), std::move(y)}); }
Arg Rect(int x, int y, int w, int h) { return New("flash.geom", "Rectangle", {x, y, w, h}); }
Arg BitmapData(int w, int h, bool transparent, unsigned argb) {
  return New("flash.display", "BitmapData", {w, h, transparent, argb});
}
Arg Filter(std::string_view name, Args args = {}) { return New("flash.filters", name, std::move(args)); }
Arg Numbers(std::initializer_list<double> v) {
  Args items;
  for (double d : v) items.emplace_back(d);
  return Vec(Top("Number"), items);
}

// A sprite in `local` with a filled square, on the stage.
void Square(Script& s, int local, unsigned rgb, int half) {
  s.Let(local, New("flash.display", "Sprite"));
  s.Do(Get(L(local), "graphics"), "beginFill", {rgb});
  s.Do(Get(L(local), "graphics"), "drawRect", {-half, -half, 2 * half, 2 * half});
  s.AddChild(L(local));
}

// AGAL: the header, then 24-byte instructions {op, dst type, src a type,
// src b type}, each register 0 with every component; a src b of type 5 is
// sampler 0 (2D, clamp, nearest).
std::vector<std::uint8_t> Agal(bool fragment, std::initializer_list<std::array<std::uint8_t, 4>> code) {
  std::vector<std::uint8_t> b = {0xA0, 1, 0, 0, 0, 0xA1, static_cast<std::uint8_t>(fragment ? 1 : 0)};
  for (const auto& [op, dst, srcA, srcB] : code) {
    const std::uint8_t ins[24] = {op, 0, 0, 0, 0, 0, 0xF, dst, 0, 0, 0, 0xE4, srcA, 0, 0, 0,
                                  0, 0, 0, static_cast<std::uint8_t>(srcB == 5 ? 0 : 0xE4), srcB, 0, 0, 0};
    b.insert(b.end(), ins, ins + 24);
  }
  return b;
}

As3FuzzSeed BitmapNoise() {
  return Seed("bitmap_noise", [](As3Movie&, Script& s) {
    s.Let(1, BitmapData(32, 32, true, 0xFF336699u));
    s.Do(L(1), "perlinNoise", {16.0, 8.0, 3, 42, true, true, 7, false, Array({Point(1, 2), Point(3.5, -4.0)})});
    s.Do(L(1), "perlinNoise", {5.0, 40.0, 1, 7, false, false, 1, true, Null()});
    s.Let(2, Call(L(1), "clone"));
    s.Do(L(2), "noise", {7, 0, 255, 7, false});
    s.Do(L(2), "noise", {9, 10, 200, 1, true});
    s.Trace(Call(L(1), "threshold",
                 {L(2), Get(L(2), "rect"), Point(2, 2), ">", 0x80000000u, 0xFF0000FFu, 0xFF000000u, true}));
    s.Trace(Call(L(1), "threshold", {L(1), Rect(-4, -4, 50, 10), Point(0, 0), "<=", 0x50u, 0u, 0xFFu, false}));
    s.Do(L(1), "paletteMap", {L(2), Get(L(2), "rect"), Point(0, 0), Array({0, 0x110000, 0x220000}), Null(),
                              Array({0xFF, 0x80}), Null()});
    s.Do(L(1), "fillRect", {Rect(4, 4, 8, 8), 0x80FF0000u});
    s.Do(L(1), "lock");
    s.Do(L(1), "setPixel32", {3, 3, 0x8000FF00u});
    s.Do(L(1), "setPixel", {40, -1, 0xFF});
    s.Do(L(1), "unlock");
    s.Trace(Call(L(1), "getPixel32", {3, 3}));
    s.Trace(Call(L(1), "getColorBoundsRect", {0xFF000000u, 0xFF000000u, true}));
    s.Trace(Get(Call(L(1), "histogram"), "length"));
    s.Trace(Call(L(1), "compare", {L(2)}));
    s.Trace(Call(L(1), "hitTest", {Point(0, 0), 0x80, Point(4, 4)}));
    s.AddChild(New("flash.display", "Bitmap", {L(1), "auto", true}));
  });
}

As3FuzzSeed BitmapFilters() {
  return Seed("bitmap_filters", [](As3Movie&, Script& s) {
    s.Let(1, BitmapData(40, 30, true, 0u));
    s.Let(2, BitmapData(40, 30, false, 0xFF208040u));
    s.Do(L(2), "perlinNoise", {10.0, 10.0, 2, 1, false, true, 15, false});
    s.Let(3, Get(L(2), "rect"));
    s.Let(4, Point(0, 0));
    const Arg colours = Array({0xFF0000, 0x0000FF}), alphas = Array({1, 0.5}), ratios = Array({0, 255});
    for (const Arg& filter :
         {Filter("BlurFilter", {4, 4, 2}), Filter("GlowFilter", {0xFF0000, 1, 6, 6, 2, 1, true, false}),
          Filter("DropShadowFilter", {4, 45, 0, 1, 4, 4, 1, 1, true, true, false}),
          Filter("BevelFilter", {4, 45, 0xFFFFFF, 1, 0, 1, 4, 4, 1, 1, "inner", false}),
          Filter("ColorMatrixFilter", {Array({0.5, 0.5, 0, 0, 0, 0, 1, 0, 0, 10, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0})}),
          Filter("ConvolutionFilter", {3, 3, Array({0, 1, 0, 1, -4, 1, 0, 1, 0}), 1, 0, true, true, 0u, 0.0}),
          Filter("DisplacementMapFilter", {L(2), Point(0, 0), 1, 2, 10.0, 10.0, "wrap", 0u, 0.0}),
          Filter("GradientGlowFilter", {4, 45, colours, alphas, ratios, 8, 8, 1, 1, "outer", false}),
          Filter("GradientBevelFilter", {4, 45, colours, alphas, ratios, 8, 8, 1, 1, "full", false})})
      s.Do(L(1), "applyFilter", {L(2), L(3), L(4), filter});
    s.Trace(Call(L(1), "generateFilterRect", {L(3), Filter("BlurFilter", {20, 20, 3})}));
    s.Trace(Get(Call(L(1), "encode", {Rect(2, 2, 20, 10), New("flash.display", "PNGEncoderOptions", {true})}), "length"));
    s.Trace(Get(Call(L(2), "encode", {L(3), New("flash.display", "JPEGEncoderOptions", {60})}), "length"));
    s.Do(L(1), "colorTransform", {L(3), New("flash.geom", "ColorTransform", {0.5, 1, 1, 1, 10, 0, 0, 0})});
    s.Do(L(1), "copyPixels", {L(2), Rect(0, 0, 16, 16), Point(8, 8), L(2), L(4), true});
    s.Do(L(1), "copyChannel", {L(2), L(3), L(4), 1, 8});
    s.Do(L(1), "draw", {L(2), New("flash.geom", "Matrix", {0.5, 0.2, 0.1, 0.5, 3, 4}),
                        New("flash.geom", "ColorTransform"), "multiply", Rect(0, 0, 20, 20), true});
    s.Do(L(1), "merge", {L(2), L(3), L(4), 128, 128, 128, 128});
    s.Trace(Call(L(1), "pixelDissolve", {L(2), L(3), L(4), 5, 300, 0xFF123456u}));
    s.Do(L(1), "floodFill", {1, 1, 0xFF00FF00u});
    s.Do(L(1), "scroll", {3, -2});
    Square(s, 5, 0x3366FF, 8);
    s.Set(L(5), "filters", Array({Filter("BlurFilter", {2, 2, 1}), Filter("GlowFilter")}));
    s.Do(L(1), "draw", {L(5)});
    s.AddChild(New("flash.display", "Bitmap", {L(1)}));
  });
}

As3FuzzSeed Display3D() {
  return Seed("display_3d", [](As3Movie&, Script& s) {
    Square(s, 1, 0xFF8800, 10);
    s.Set(L(1), "x", 32);
    s.Set(L(1), "y", 24);
    s.Set(L(1), "z", 40);
    s.Set(L(1), "rotationX", 30);
    s.Set(L(1), "rotationY", -20);
    s.Set(L(1), "rotationZ", 10);
    s.Set(L(1), "scaleZ", 2);
    s.Let(2, New("flash.geom", "PerspectiveProjection"));
    s.Set(L(2), "fieldOfView", 70);
    s.Set(L(2), "projectionCenter", Point(32, 24));
    s.Set(Get(L(1), "transform"), "perspectiveProjection", L(2));
    s.Trace(Call(L(1), "local3DToGlobal", {New("flash.geom", "Vector3D", {1, 2, 3})}));
    s.Trace(Call(L(1), "globalToLocal3D", {Point(10, 10)}));
    s.Let(3, New("flash.geom", "Matrix3D"));
    s.Do(L(3), "appendRotation", {45, Get(Class("flash.geom", "Vector3D"), "Y_AXIS")});
    s.Do(L(3), "appendTranslation", {1, 2, 3});
    s.Do(L(3), "prependScale", {2, 2, 2});
    s.Trace(Get(L(3), "determinant"));
    s.Trace(Call(L(3), "invert"));
    s.Let(4, Call(L(3), "decompose"));
    s.Trace(Call(L(3), "recompose", {L(4)}));
    s.Do(L(3), "pointAt", {New("flash.geom", "Vector3D", {5, -4, 30}), Null(), New("flash.geom", "Vector3D", {0, 0, 1})});
    s.Let(5, Call(Class("flash.geom", "Matrix3D"), "interpolate", {L(3), New("flash.geom", "Matrix3D"), 0.5}));
    Square(s, 6, 0x00AA00, 6);
    s.Set(Get(L(6), "transform"), "matrix3D", L(5));
    s.Trace(Call(Class("flash.geom", "Utils3D"), "projectVector", {L(3), New("flash.geom", "Vector3D", {1, 1, 1})}));
    s.Let(7, Numbers({10, 10, 0, 50, 10, 5, 10, 40, 10, 50, 40, 0}));
    s.Let(4, Numbers({}));
    s.Let(5, Numbers({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}));
    s.Do(Class("flash.geom", "Utils3D"), "projectVectors", {Call(L(2), "toMatrix3D"), L(7), L(4), L(5)});
    s.Do(L(3), "transformVectors", {L(7), Numbers({})});
    // Textured triangles, plain and with perspective (t per vertex).
    s.Let(6, New("flash.display", "Shape"));
    s.AddChild(L(6));
    s.Let(7, Get(L(6), "graphics"));
    s.Do(L(7), "beginBitmapFill", {BitmapData(4, 4, false, 0xFF00FF00u)});
    s.Do(L(7), "drawTriangles", {Numbers({0, 0, 30, 0, 0, 30, 30, 30}), Vec(Top("int"), {0, 1, 2, 1, 3, 2}),
                                 Numbers({0, 0, 1, 0, 0, 1, 1, 1}), "negative"});
    s.Do(L(7), "drawTriangles",
         {L(4), Vec(Top("int"), {0, 1, 2, 1, 3, 2}), Numbers({0, 0, 1, 1, 0, 0.5, 0, 1, 1, 1, 1, 0.5}), "none"});
    s.Do(L(7), "endFill");
  });
}

As3FuzzSeed Stage3D() {
  return Seed(
      "stage3d",
      [](As3Movie& d, Script& s) {
        const std::uint32_t created = Later(d, "stage3d", [](Script& t) {
          t.Let(2, Get(Get(L(1), "target"), "context3D"));
          t.Do(L(2), "configureBackBuffer", {64, 48, 0, true});
          t.Do(L(2), "clear", {0, 0, 0.5, 1});
          t.Let(3, Call(L(2), "createVertexBuffer", {4, 2}));
          t.Do(L(3), "uploadFromVector", {Numbers({-1, -1, 1, -1, -1, 1, 1, 1}), 0, 4});
          t.Do(L(2), "setVertexBufferAt", {0, L(3), 0, "float2"});
          t.Let(4, Call(L(2), "createIndexBuffer", {6}));
          t.Do(L(4), "uploadFromVector", {Vec(Top("uint"), {0, 1, 2, 1, 3, 2}), 0, 6});
          t.Let(5, Call(L(2), "createProgram"));
          // mov op, va0; mov v0, va0 / tex ft0, v0, fs0; mul oc, ft0, fc0
          t.Do(L(5), "upload", {Bytes(Agal(false, {{0x00, 3, 0, 0}, {0x00, 4, 0, 0}})),
                                Bytes(Agal(true, {{0x28, 2, 4, 5}, {0x03, 3, 2, 1}}))});
          t.Do(L(2), "setProgram", {L(5)});
          t.Do(L(2), "setProgramConstantsFromVector", {"fragment", 0, Numbers({1, 0.5, 0, 1})});
          t.Let(6, Call(L(2), "createTexture", {4, 4, "bgra", false}));
          t.Do(L(6), "uploadFromBitmapData", {BitmapData(4, 4, true, 0x80FF0000u)});
          t.Do(L(2), "setTextureAt", {0, L(6)});
          t.Do(L(2), "setBlendFactors", {"sourceAlpha", "oneMinusSourceAlpha"});
          t.Do(L(2), "setCulling", {"none"});
          t.Do(L(2), "setDepthTest", {false, "always"});
          t.Do(L(2), "drawTriangles", {L(4), 0, 2});
          t.Do(L(2), "present");
        });
        s.Let(1, Get(Get(Get(kThis, "stage"), "stage3Ds"), "0"));
        s.Listen(L(1), "context3DCreate", created);
        s.Do(L(1), "requestContext3D");
      },
      true);
}

As3FuzzSeed TextEngine() {
  return Seed("text_engine", [](As3Movie&, Script& s) {
    const auto engine = [](std::string_view name, Args args = {}) {
      return New("flash.text.engine", name, std::move(args));
    };
    s.Let(1, engine("FontDescription", {"_sans", "bold", "italic"}));
    s.Let(2, engine("ElementFormat", {L(1), 14, 0x336699}));
    s.Let(3, engine("TextElement", {"Fuzzing text that wraps over a narrow width", L(2)}));
    s.Let(4, engine("TextBlock", {L(3)}));
    s.Let(5, Call(L(4), "createTextLine", {Null(), 60}));
    s.AddChild(L(5));
    s.Trace(Get(L(5), "textWidth"));
    s.Trace(Get(L(5), "atomCount"));
    s.Trace(Call(L(5), "getAtomBounds", {0}));
    s.Trace(Call(L(5), "getAtomIndexAtPoint", {5, 5}));
    s.Trace(Call(L(4), "createTextLine", {L(5), 60}));
    s.Trace(Call(L(4), "findNextWordBoundary", {3}));
    s.Trace(Get(Call(L(2), "getFontMetrics"), "emBox"));
    s.Let(6, engine("GroupElement", {Vec(Class("flash.text.engine", "ContentElement"),
                                          {engine("TextElement", {"ab ", L(2)}),
                                           engine("TextElement", {"cd", Call(L(2), "clone")})}),
                                     L(2)}));
    s.Set(L(4), "content", L(6));
    s.Let(5, Call(L(4), "createTextLine", {Null(), 200}));
    s.AddChild(L(5));
    s.Do(L(4), "releaseLines", {Get(L(4), "firstLine"), Get(L(4), "lastLine")});
  });
}

As3FuzzSeed TextFields() {
  return Seed("text_field", [](As3Movie&, Script& s) {
    s.Let(1, New("flash.text", "TextField"));
    s.Set(L(1), "width", 60);
    s.Set(L(1), "height", 30);
    s.Set(L(1), "multiline", true);
    s.Set(L(1), "wordWrap", true);
    s.Set(L(1), "htmlText",
          "<p align='center'><b>Bold</b> <i>it</i> <font color='#ff0000' size='20'>big</font><br>two</p><li>item</li>");
    s.Do(L(1), "setTextFormat", {New("flash.text", "TextFormat", {"_sans", 14, 0xFF0000, true}), 0, 4});
    s.Do(L(1), "appendText", {"\nmore text to scroll\nand more\nand more"});
    s.Do(L(1), "replaceText", {2, 5, "XY"});
    s.Set(L(1), "autoSize", "left");
    s.Trace(Get(L(1), "textWidth"));
    s.Trace(Get(L(1), "maxScrollV"));
    s.Set(L(1), "scrollV", 2);
    s.Trace(Get(L(1), "numLines"));
    s.Trace(Get(Call(L(1), "getLineMetrics", {0}), "ascent"));
    s.Trace(Call(L(1), "getCharBoundaries", {2}));
    s.Trace(Call(L(1), "getLineText", {1}));
    s.Trace(Call(L(1), "getCharIndexAtPoint", {5, 5}));
    s.Set(L(1), "type", "input");
    s.Set(L(1), "antiAliasType", "advanced");
    s.Do(L(1), "setSelection", {1, 4});
    s.AddChild(L(1));
    s.Let(2, New("flash.text", "StyleSheet"));
    s.Do(L(2), "parseCSS", {"p{color:#00ff00;font-size:12px} .x{font-weight:bold}"});
    s.Let(3, New("flash.text", "TextField"));
    s.Set(L(3), "styleSheet", L(2));
    s.Set(L(3), "htmlText", "<p class='x'>styled</p>");
    s.Set(L(3), "y", 30);
    s.AddChild(L(3));
    s.Set(Get(kThis, "stage"), "focus", L(1));
  });
}

As3FuzzSeed Media() {
  return Seed(
      "net_stream",
      [](As3Movie& d, Script& s) {
        s.Let(1, New("flash.net", "NetConnection"));
        s.Do(L(1), "connect", {Null()});
        s.Let(2, New("flash.net", "NetStream", {L(1)}));
        s.Set(L(2), "client", Obj({{"onMetaData", Fn(Later(d, "metadata"))}}));
        s.Listen(L(2), "netStatus", Later(d, "net_stream"));
        s.Do(L(2), "play", {"missing.flv"});
        s.Let(3, New("flash.media", "Video", {64, 48}));
        s.Do(L(3), "attachNetStream", {L(2)});
        s.AddChild(L(3));
        s.Do(L(2), "pause");
        s.Do(L(2), "resume");
        s.Do(L(2), "seek", {1.5});
        s.Do(L(2), "togglePause");
        s.Trace(Get(L(2), "time"));
        s.Set(L(2), "bufferTime", 2);
        // Sound made from samples in memory, played with a transform.
        std::vector<std::uint8_t> pcm;
        for (int i = 0; i < 64; ++i) pcm.push_back(static_cast<std::uint8_t>(i * 37));
        s.Let(4, New("flash.media", "Sound"));
        s.Do(L(4), "loadPCMFromByteArray", {Bytes(pcm), 8, "float", false, 44100.0});
        s.Let(5, Call(L(4), "play", {0, 2, New("flash.media", "SoundTransform", {0.5, -0.5})}));
        s.Trace(Get(L(4), "length"));
        s.Set(L(5), "soundTransform", New("flash.media", "SoundTransform", {1, 1}));
        s.Do(Class("flash.media", "SoundMixer"), "computeSpectrum", {New("flash.utils", "ByteArray"), true, 0});
        s.Do(Class("flash.media", "SoundMixer"), "computeSpectrum", {New("flash.utils", "ByteArray"), false, 2});
        s.Trace(Call(L(4), "extract", {New("flash.utils", "ByteArray"), 16, 2}));
      },
      true);
}

As3FuzzSeed Workers() {
  // Minor version 8: a movie of SWF 17, where workers begin.
  return Seed(
      "workers",
      [](As3Movie&, Script& s) {
        s.Let(1, Get(Class("flash.system", "Worker"), "current"));
        s.Trace(Get(L(1), "isPrimordial"));
        s.Trace(Get(Class("flash.system", "Worker"), "isSupported"));
        s.Do(L(1), "setSharedProperty", {"k", Array({1, 2})});
        s.Trace(Call(L(1), "getSharedProperty", {"k"}));
        s.Let(2, Call(L(1), "createMessageChannel", {L(1)}));
        s.Do(L(2), "send", {"hello"});
        s.Do(L(2), "send", {New("flash.utils", "ByteArray")});
        s.Trace(Get(L(2), "messageAvailable"));
        s.Trace(Call(L(2), "receive"));
        s.Trace(Get(L(2), "state"));
        s.Trace(Get(Call(Get(Class("flash.system", "WorkerDomain"), "current"), "listWorkers"), "length"));
        s.Do(L(2), "close");
      },
      false, 8);
}

As3FuzzSeed PlayerClasses() {
  // The debugger's Trace, DRM, the stage's display state, Math.pow's whole
  // exponents, fonts and auto-sized boxes settled by position and bounds.
  return Seed("player_classes", [](As3Movie&, Script& s) {
    s.Do(Class("flash.trace", "Trace"), "setLevel", {Get(Class("flash.trace", "Trace"), "METHODS"), 2});
    s.Trace(Call(Class("flash.trace", "Trace"), "getLevel", {2}));
    s.Trace(Get(Class("flash.net.drm", "DRMManager"), "isSupported"));
    s.Let(1, Call(Class("flash.net.drm", "DRMManager"), "getDRMManager"));
    s.Trace(Call(Class("flash.net.drm", "DRMManager"), "getDRMManager"));
    s.Set(Get(kThis, "stage"), "displayState", "fullScreen");
    s.Trace(Get(Get(kThis, "stage"), "displayState"));
    s.Set(Get(kThis, "stage"), "displayState", "normal");
    s.Trace(Call(Top("Math"), "pow", {1.0001, 30}));
    s.Trace(Call(Top("Math"), "pow", {2, -1075}));
    s.Trace(Get(Call(Class("flash.text", "Font"), "enumerateFonts", {true}), "length"));
    s.Let(2, New("flash.text", "TextField"));
    s.Set(L(2), "autoSize", "center");
    s.Set(L(2), "text", "\u6F22\u5B57\u304B\u306A\u3002\u300Cwrapped\u300D");
    s.Set(L(2), "wordWrap", true);
    s.Set(L(2), "width", 30);
    s.Trace(Get(L(2), "x"));
    s.AddChild(L(2));
    s.Trace(Call(L(2), "getBounds", {kThis}));
    s.Trace(Call(L(2), "hitTestPoint", {5, 5, true}));
    s.Set(L(2), "autoSize", "none");
    s.Trace(Get(L(2), "height"));
  });
}

// function () { try { body } catch (e) { trace(e.errorID) } }, called at
// once with this: an error the body means to meet is caught and traced.
void Guarded(Script& s, const std::function<void(Script&)>& body) {
  AbcCode code;
  code.Op("getlocal_0").Op("pushscope");
  code.Label("try");
  Script t{s.m, code};
  body(t);
  code.Label("end").Branch("jump", "done");
  code.Label("catch").Op("setlocal_1");
  t.Trace(Get(L(1), "errorID"));
  code.Label("done").Op("returnvoid");
  const std::uint32_t method = s.m.Method(code);
  s.m.a.File().bodies.back().exceptions = {
      {code.LabelOffset("try"), code.LabelOffset("end"), code.LabelOffset("catch"), 0, 0}};
  s.c.Op("newfunction", {method}).Op("getlocal_0").Op("call", {0}).Op("pop");
}

// pkg.name(args), a package-level function.
Arg Global(std::string_view pkg, std::string_view name, Args args) {
  return Arg::Code([pkg, name, args](As3Movie& m, AbcCode& c) {
    const auto fn = m.a.PackageName(pkg, name);
    c.Op("findpropstrict", {fn});
    for (const Arg& a : args) a(m, c);
    c.Op("callproperty", {fn, static_cast<std::int64_t>(args.size())});
  });
}

// avmplus.describeTypeJSON(value, flags), a name internal to its package.
Arg DescribeTypeJson(Arg value, unsigned flags) {
  return Arg::Code([value, flags](As3Movie& m, AbcCode& c) {
    const auto name = m.a.QName(m.a.Namespace(avm2::NamespaceKind::kPackageInternal, "avmplus"), "describeTypeJSON");
    c.Op("findpropstrict", {name});
    value(m, c);
    c.Op("pushuint", {m.a.UInt(flags)}).Op("callproperty", {name, 2});
  });
}

As3FuzzSeed Reflection() {
  // Classes only the player makes refuse new; descriptions as XML and as
  // objects, of those classes and of instances.
  return Seed("reflection", [](As3Movie&, Script& s) {
    for (const auto& cls : std::initializer_list<std::pair<const char*, const char*>>{
             {"flash.text", "TextSnapshot"}, {"flash.display", "Stage"}, {"flash.display", "Graphics"},
             {"flash.display", "LoaderInfo"}, {"flash.net.drm", "DRMManager"}, {"flash.system", "Worker"},
             {"flash.system", "SecurityDomain"}, {"flash.ui", "Keyboard"}, {"flash.geom", "Utils3D"},
             {"flash.display3D", "Context3D"}, {"", "Class"}, {"", "Math"}})
      Guarded(s, [cls](Script& t) { t.Trace(New(cls.first, cls.second)); });
    Guarded(s, [](Script& t) { t.Trace(New("flash.trace", "Trace")); });
    s.Trace(Global("flash.utils", "describeType", {Class("flash.text", "TextSnapshot")}));
    // Flags 0x1FF and up list the traits and their methods and accessors.
    for (const auto& [value, flags] : std::initializer_list<std::pair<Arg, unsigned>>{
             {Class("flash.text", "TextSnapshot"), 0x1FFu}, {kThis, 0x1FFu}, {Class("flash.display", "Sprite"), 0x3FFu}, {Class("flash.net.drm", "DRMManager"), 0u},
             {New("flash.filters", "GlowFilter"), 0x5FFu}, {Class("flash.trace", "Trace"), 0x7FFu}}) {
      s.Let(7, DescribeTypeJson(value, flags));
      s.Trace(Get(L(7), "name"));
      s.Trace(Get(L(7), "isStatic"));
      if (flags & 0x100u) {
        s.Trace(Get(Get(Get(L(7), "traits"), "methods"), "length"));
        s.Trace(Get(Get(Get(L(7), "traits"), "accessors"), "length"));
      }
    }
    s.Trace(DescribeTypeJson(Null(), 0x1FFu));
    s.Trace(Call(Global("flash.utils", "describeType", {Get(kThis, "stage")}), "length"));
  });
}

As3FuzzSeed FilterAccessors() {
  // Each filter's settings written with values out of range, of the wrong
  // kind and of mismatched lengths, read back, cloned and set on a sprite.
  return Seed("filter_accessors", [](As3Movie&, Script& s) {
    s.Let(1, Filter("BlurFilter"));
    for (const Arg& v : {Arg(-3), Arg(300.5), Arg("7"), Arg(std::numeric_limits<double>::quiet_NaN())}) {
      s.Set(L(1), "blurX", v);
      s.Set(L(1), "quality", v);
      s.Trace(Get(L(1), "blurX"));
      s.Trace(Get(L(1), "quality"));
    }
    s.Let(2, Filter("DropShadowFilter"));
    s.Set(L(2), "angle", 725.5);
    s.Set(L(2), "color", 0xFFFFFFFFu);
    s.Set(L(2), "alpha", 3);
    s.Set(L(2), "strength", 1000);
    s.Set(L(2), "distance", -1e9);
    s.Set(L(2), "knockout", "yes");
    s.Trace(Get(L(2), "angle"));
    s.Trace(Get(L(2), "color"));
    s.Let(3, Filter("GradientGlowFilter"));
    s.Set(L(3), "colors", Array({0xFF0000, 0x00FF00, 0x0000FF}));
    s.Set(L(3), "alphas", Array({2, -1}));
    s.Set(L(3), "ratios", Array({300, 0, 128, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    s.Set(L(3), "type", "sideways");
    s.Trace(Get(Get(L(3), "ratios"), "length"));
    s.Trace(Get(L(3), "type"));
    s.Let(4, Filter("ConvolutionFilter"));
    s.Set(L(4), "matrix", Array({1, 2, 3, 4, 5}));
    s.Set(L(4), "matrixX", 4);
    s.Set(L(4), "matrixY", 20);
    s.Set(L(4), "divisor", 0);
    s.Trace(Get(Get(L(4), "matrix"), "length"));
    s.Let(5, Filter("ColorMatrixFilter"));
    s.Set(L(5), "matrix", Array({1, 2, "x"}));
    s.Trace(Get(Get(L(5), "matrix"), "length"));
    s.Let(6, Filter("DisplacementMapFilter"));
    s.Set(L(6), "mapBitmap", BitmapData(3, 3, true, 0x80808080u));
    s.Set(L(6), "mapPoint", Point(-2, 1e6));
    s.Set(L(6), "mode", "clamp");
    s.Set(L(6), "scaleX", -1e6);
    s.Let(7, Filter("GradientBevelFilter"));
    s.Set(L(7), "colors", Array({}));
    s.Set(L(7), "distance", 12);
    s.Let(1, Array({L(1), L(2), L(3), L(4), L(5), L(6), L(7), Call(L(2), "clone"), Filter("BevelFilter")}));
    Square(s, 2, 0x884422, 12);
    s.Set(L(2), "filters", L(1));
    s.Trace(Get(Get(L(2), "filters"), "length"));
    s.Trace(Get(Get(Get(L(2), "filters"), "2"), "colors"));
    s.Set(L(2), "cacheAsBitmap", true);
    s.Let(3, BitmapData(48, 48, true, 0u));
    s.Do(L(3), "draw", {L(2)});
    s.Trace(Call(L(3), "getPixel32", {24, 24}));
  });
}

}  // namespace

std::vector<As3FuzzSeed> As3FuzzSeeds() {
  return {BitmapNoise(), BitmapFilters(), Display3D(), Stage3D(), TextEngine(), TextFields(), Media(), Workers(),
          PlayerClasses(), Reflection(), FilterAccessors()};
}

}  // namespace quarvel::testing
