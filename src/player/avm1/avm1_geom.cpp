// flash.geom: Matrix, Point, Rectangle, ColorTransform and Transform. Their
// fields are plain script properties, as in Flash, so scripts may set them
// directly; the computed ones (Rectangle.right, Point.length...) are
// getter/setter pairs on the prototypes.
#include "player/avm1/avm1_geom.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "player/avm1/avm1_builtins.h"
#include "player/display/stage.h"

namespace quarvel::player::avm1_builtins {

double NumberField(Avm1& vm, const AsValue& obj, const char* name) {
  const AsValue v = vm.Get(obj, name);
  return v.IsUndefined() ? std::nan("") : vm.ToNumber(v);
}

bool ReadGeomMatrix(Avm1& vm, const AsValue& v, GeomMatrix& out) {
  if (v.type != AsValue::Type::kObject) return false;
  double f[6] = {NumberField(vm, v, "a"),  NumberField(vm, v, "b"),  NumberField(vm, v, "c"),
                 NumberField(vm, v, "d"),  NumberField(vm, v, "tx"), NumberField(vm, v, "ty")};
  if (std::none_of(f, f + 6, [](double d) { return std::isfinite(d); })) return false;
  for (double& d : f) {
    if (!std::isfinite(d)) d = 0;
  }
  out = {f[0], f[1], f[2], f[3], f[4], f[5]};
  return true;
}

bool ReadGeomRect(Avm1& vm, const AsValue& v, GeomRect& out) {
  if (v.type != AsValue::Type::kObject) return false;
  out = {NumberField(vm, v, "x"), NumberField(vm, v, "y"), NumberField(vm, v, "width"), NumberField(vm, v, "height")};
  return std::isfinite(out.x) && std::isfinite(out.y) && std::isfinite(out.width) && std::isfinite(out.height);
}

bool ReadGeomColorTransform(Avm1& vm, const AsValue& v, ColorTransform& out) {
  if (v.type != AsValue::Type::kObject) return false;
  auto field = [&](const char* name, std::int32_t& to, double scale, double def) {
    double d = NumberField(vm, v, name);
    if (!std::isfinite(d)) d = def;
    to = static_cast<std::int32_t>(std::lround(std::clamp(d * scale, -1e6, 1e6)));
  };
  field("redMultiplier", out.redMult, 256, 1);
  field("greenMultiplier", out.greenMult, 256, 1);
  field("blueMultiplier", out.blueMult, 256, 1);
  field("alphaMultiplier", out.alphaMult, 256, 1);
  field("redOffset", out.redAdd, 1, 0);
  field("greenOffset", out.greenAdd, 1, 0);
  field("blueOffset", out.blueAdd, 1, 0);
  field("alphaOffset", out.alphaAdd, 1, 0);
  return true;
}

AsObject* Package(Avm1& vm, const std::string& dotted) {
  AsObject* at = vm.Global();
  std::size_t from = 0;
  while (from <= dotted.size()) {
    const std::size_t dot = std::min(dotted.find('.', from), dotted.size());
    const std::string part = dotted.substr(from, dot - from);
    // Read directly: the packages stay the player's own in movies too old
    // to see them.
    const auto it = at->props.find(vm.Key(part));
    AsValue next = it == at->props.end() ? AsValue{} : it->second.value;
    if (next.type != AsValue::Type::kObject) {
      AsObject* made = vm.NewRootObject(vm.ObjectProto());
      vm.SetProp(at, part, AsValue::Object(made), true);
      next = AsValue::Object(made);
    }
    at = next.obj;
    from = dot + 1;
  }
  return at;
}

AsValue NewGeomObject(Avm1& vm, const char* className) {
  const AsValue ctor = vm.Get(AsValue::Object(Package(vm, "flash.geom")), className);
  const AsValue proto = vm.Get(ctor, "prototype");
  AsObject* o = vm.NewObject(proto.type == AsValue::Type::kObject ? proto.obj : vm.ObjectProto());
  return AsValue::Object(o);
}

namespace {

void Put(Avm1& vm, const AsValue& o, const char* name, double v) {
  if (o.type == AsValue::Type::kObject) vm.SetProp(o.obj, name, AsValue::Number(v));
}

void PutMatrix(Avm1& vm, const AsValue& o, const GeomMatrix& m) {
  Put(vm, o, "a", m.a), Put(vm, o, "b", m.b), Put(vm, o, "c", m.c), Put(vm, o, "d", m.d);
  Put(vm, o, "tx", m.tx), Put(vm, o, "ty", m.ty);
}

void PutRect(Avm1& vm, const AsValue& o, const GeomRect& r) {
  Put(vm, o, "x", r.x), Put(vm, o, "y", r.y), Put(vm, o, "width", r.width), Put(vm, o, "height", r.height);
}

const char* const kCtNames[] = {"redMultiplier", "greenMultiplier", "blueMultiplier", "alphaMultiplier",
                                "redOffset",     "greenOffset",     "blueOffset",     "alphaOffset"};

// A ColorTransform keeps its eight terms as numbers of its own, read and
// written through accessors of the prototype.
struct CtData : AsNativeData {
  double v[8] = {1, 1, 1, 1, 0, 0, 0, 0};
};

void PutColorTransform(Avm1& vm, const AsValue& o, const double v[8]) {
  AsObject* obj = Self(o);
  if (!obj) return;
  CtData* d = obj->Native<CtData>();
  if (!d && !obj->native) {
    obj->native = std::make_unique<CtData>();
    d = obj->Native<CtData>();
  }
  if (!d) {
    for (int i = 0; i < 8; ++i) Put(vm, o, kCtNames[i], v[i]);
    return;
  }
  std::copy(v, v + 8, d->v);
}

template <int I>
AsValue CtGet(Avm1&, const AsValue& self, AsArgs) {
  const CtData* d = SelfData<CtData>(self);
  return d ? AsValue::Number(d->v[I]) : AsValue{};
}
template <int I>
AsValue CtSet(Avm1& vm, const AsValue& self, AsArgs a) {
  if (CtData* d = SelfData<CtData>(self)) d->v[I] = Num(vm, a, 0);
  return {};
}

void ReadCt(Avm1& vm, const AsValue& o, double v[8]) {
  for (int i = 0; i < 8; ++i) {
    v[i] = vm.ToNumber(vm.Get(o, kCtNames[i]));
  }
}

GeomMatrix SelfMatrix(Avm1& vm, const AsValue& self) {
  GeomMatrix m;
  m.a = NumberField(vm, self, "a"), m.b = NumberField(vm, self, "b"), m.c = NumberField(vm, self, "c");
  m.d = NumberField(vm, self, "d"), m.tx = NumberField(vm, self, "tx"), m.ty = NumberField(vm, self, "ty");
  return m;
}

// ---- Matrix

AsValue MatrixCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!Self(self)) return {};
  // Without arguments the identity; with some, the missing ones are undefined.
  const char* names[] = {"a", "b", "c", "d", "tx", "ty"};
  for (std::size_t i = 0; i < 6; ++i) {
    vm.SetProp(self.obj, names[i], a.empty() ? AsValue::Number(i == 0 || i == 3 ? 1 : 0) : Arg(a, i));
  }
  return self;
}

AsValue MatrixIdentity(Avm1& vm, const AsValue& self, AsArgs) {
  PutMatrix(vm, self, GeomMatrix{});
  return {};
}

// The fields as they are, unconverted.
AsValue MatrixClone(Avm1& vm, const AsValue& self, AsArgs) {
  const AsValue m = NewGeomObject(vm, "Matrix");
  for (const char* name : {"a", "b", "c", "d", "tx", "ty"}) vm.SetProp(m.obj, name, vm.Get(self, name));
  return m;
}

AsValue MatrixConcat(Avm1& vm, const AsValue& self, AsArgs a) {
  GeomMatrix other;
  if (!ReadGeomMatrix(vm, Arg(a, 0), other)) return {};
  PutMatrix(vm, self, SelfMatrix(vm, self).Then(other));
  return {};
}

AsValue MatrixInvert(Avm1& vm, const AsValue& self, AsArgs) {
  GeomMatrix inv;
  const GeomMatrix m = SelfMatrix(vm, self);
  if (!m.Invert(inv)) {
    // A singular matrix: Flash leaves the identity scale with the translation negated.
    inv = GeomMatrix{1, 0, 0, 1, -m.tx, -m.ty};
  }
  PutMatrix(vm, self, inv);
  return {};
}

AsValue MatrixTranslate(Avm1& vm, const AsValue& self, AsArgs a) {
  GeomMatrix m = SelfMatrix(vm, self);
  m.tx += Num(vm, a, 0), m.ty += Num(vm, a, 1);
  Put(vm, self, "tx", m.tx), Put(vm, self, "ty", m.ty);
  return {};
}

AsValue MatrixScale(Avm1& vm, const AsValue& self, AsArgs a) {
  const double sx = Num(vm, a, 0), sy = Num(vm, a, 1);
  PutMatrix(vm, self, SelfMatrix(vm, self).Then(GeomMatrix{sx, 0, 0, sy, 0, 0}));
  return {};
}

AsValue MatrixRotate(Avm1& vm, const AsValue& self, AsArgs a) {
  const double q = Num(vm, a, 0), c = std::cos(q), s = std::sin(q);
  PutMatrix(vm, self, SelfMatrix(vm, self).Then(GeomMatrix{c, s, -s, c, 0, 0}));
  return {};
}

double OptNum(Avm1& vm, AsArgs a, std::size_t i) { return i < a.size() ? Num(vm, a, i) : 0; }

AsValue MatrixCreateBox(Avm1& vm, const AsValue& self, AsArgs a) {
  // A missing rotation is no number (every scale term NaN); a missing offset is 0.
  PutMatrix(vm, self, GeomMatrix::Box(Num(vm, a, 0), Num(vm, a, 1), Num(vm, a, 2), OptNum(vm, a, 3), OptNum(vm, a, 4)));
  return {};
}

AsValue MatrixGradientBox(Avm1& vm, const AsValue& self, AsArgs a) {
  const double w = Num(vm, a, 0), h = Num(vm, a, 1);
  PutMatrix(vm, self, GeomMatrix::GradientBox(w, h, OptNum(vm, a, 2), OptNum(vm, a, 3), OptNum(vm, a, 4)));
  return {};
}

AsValue TransformPt(Avm1& vm, const AsValue& self, AsArgs a, bool delta) {
  GeomMatrix m = SelfMatrix(vm, self);
  if (delta) m.tx = m.ty = 0;
  double x, y;
  m.Apply(NumberField(vm, Arg(a, 0), "x"), NumberField(vm, Arg(a, 0), "y"), x, y);
  return NewPoint(vm, x, y);
}
AsValue MatrixTransformPoint(Avm1& vm, const AsValue& self, AsArgs a) { return TransformPt(vm, self, a, false); }
AsValue MatrixDeltaTransformPoint(Avm1& vm, const AsValue& self, AsArgs a) { return TransformPt(vm, self, a, true); }

AsValue MatrixToString(Avm1& vm, const AsValue& self, AsArgs) {
  std::string s = "(";
  const char* names[] = {"a", "b", "c", "d", "tx", "ty"};
  for (int i = 0; i < 6; ++i) {
    if (i) s += ", ";
    s += names[i];
    s += "=" + vm.ToString(vm.Get(self, names[i]));
  }
  return AsValue::String(s + ")");
}

// ---- Point

AsValue PointCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!Self(self)) return {};
  vm.SetProp(self.obj, "x", a.empty() ? AsValue::Number(0) : Arg(a, 0));
  vm.SetProp(self.obj, "y", a.empty() ? AsValue::Number(0) : Arg(a, 1));
  return self;
}

double PX(Avm1& vm, const AsValue& p) { return NumberField(vm, p, "x"); }
double PY(Avm1& vm, const AsValue& p) { return NumberField(vm, p, "y"); }

AsValue PointLength(Avm1& vm, const AsValue& self, AsArgs) { return AsValue::Number(std::hypot(PX(vm, self), PY(vm, self))); }
AsValue PointAdd(Avm1& vm, const AsValue& self, AsArgs a) {
  return NewPoint(vm, PX(vm, self) + PX(vm, Arg(a, 0)), PY(vm, self) + PY(vm, Arg(a, 0)));
}
AsValue PointSubtract(Avm1& vm, const AsValue& self, AsArgs a) {
  return NewPoint(vm, PX(vm, self) - PX(vm, Arg(a, 0)), PY(vm, self) - PY(vm, Arg(a, 0)));
}
AsValue PointClone(Avm1& vm, const AsValue& self, AsArgs) { return NewPoint(vm, PX(vm, self), PY(vm, self)); }
AsValue PointEquals(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Arg(a, 0).type != AsValue::Type::kObject) return AsValue::Bool(false);
  return AsValue::Bool(PX(vm, self) == PX(vm, a[0]) && PY(vm, self) == PY(vm, a[0]));
}
AsValue PointNormalize(Avm1& vm, const AsValue& self, AsArgs a) {
  const double x = PX(vm, self), y = PY(vm, self), len = std::hypot(x, y), to = Num(vm, a, 0);
  if (len > 0) Put(vm, self, "x", x * to / len), Put(vm, self, "y", y * to / len);
  return {};
}
AsValue PointOffset(Avm1& vm, const AsValue& self, AsArgs a) {
  Put(vm, self, "x", PX(vm, self) + Num(vm, a, 0));
  Put(vm, self, "y", PY(vm, self) + Num(vm, a, 1));
  return {};
}
AsValue PointToString(Avm1& vm, const AsValue& self, AsArgs) {
  return AsValue::String("(x=" + vm.ToString(vm.Get(self, "x")) + ", y=" + vm.ToString(vm.Get(self, "y")) + ")");
}
// a.subtract(b).length: undefined when the first is no Point.
AsValue PointDistance(Avm1& vm, const AsValue&, AsArgs a) {
  const AsValue first = Arg(a, 0);
  const AsValue subtract = vm.Get(first, "subtract");
  if (subtract.type != AsValue::Type::kObject || !subtract.obj->fn) return {};
  std::vector<AsValue> args{Arg(a, 1)};
  return vm.Get(vm.Call(subtract, first, args), "length");
}
AsValue PointInterpolate(Avm1& vm, const AsValue&, AsArgs a) {
  // f = 1 gives the first point, 0 the second.
  const double f = Num(vm, a, 2);
  const double x1 = PX(vm, Arg(a, 0)), y1 = PY(vm, Arg(a, 0)), x2 = PX(vm, Arg(a, 1)), y2 = PY(vm, Arg(a, 1));
  return NewPoint(vm, x2 + f * (x1 - x2), y2 + f * (y1 - y2));
}
AsValue PointPolar(Avm1& vm, const AsValue&, AsArgs a) {
  const double len = Num(vm, a, 0), q = Num(vm, a, 1);
  return NewPoint(vm, len * std::cos(q), len * std::sin(q));
}

// ---- Rectangle

AsValue RectCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!Self(self)) return {};
  const char* names[] = {"x", "y", "width", "height"};
  for (std::size_t i = 0; i < 4; ++i) vm.SetProp(self.obj, names[i], a.empty() ? AsValue::Number(0) : Arg(a, i));
  return self;
}

GeomRect SelfRect(Avm1& vm, const AsValue& self) {
  return {NumberField(vm, self, "x"), NumberField(vm, self, "y"), NumberField(vm, self, "width"),
          NumberField(vm, self, "height")};
}

bool Empty(const GeomRect& r) { return !(r.width > 0 && r.height > 0); }

// left, top, topLeft and size give the fields as they are, unconverted.
AsValue RectLeft(Avm1& vm, const AsValue& self, AsArgs) { return vm.Get(self, "x"); }
AsValue RectTop(Avm1& vm, const AsValue& self, AsArgs) { return vm.Get(self, "y"); }
AsValue RawPoint(Avm1& vm, const AsValue& x, const AsValue& y) {
  const AsValue p = NewGeomObject(vm, "Point");
  vm.SetProp(p.obj, "x", x);
  vm.SetProp(p.obj, "y", y);
  return p;
}
AsValue RectRight(Avm1& vm, const AsValue& self, AsArgs) {
  const GeomRect r = SelfRect(vm, self);
  return AsValue::Number(r.x + r.width);
}
AsValue RectBottom(Avm1& vm, const AsValue& self, AsArgs) {
  const GeomRect r = SelfRect(vm, self);
  return AsValue::Number(r.y + r.height);
}
// Setting an edge keeps the value given as the corner's field; the size
// is worked out in numbers.
void PutRaw(Avm1& vm, const AsValue& o, const char* name, const AsValue& v) {
  if (o.type == AsValue::Type::kObject) vm.SetProp(o.obj, name, v);
}
AsValue RectSetLeft(Avm1& vm, const AsValue& self, AsArgs a) {
  const GeomRect r = SelfRect(vm, self);
  Put(vm, self, "width", r.width + r.x - Num(vm, a, 0)), PutRaw(vm, self, "x", Arg(a, 0));
  return {};
}
AsValue RectSetTop(Avm1& vm, const AsValue& self, AsArgs a) {
  const GeomRect r = SelfRect(vm, self);
  Put(vm, self, "height", r.height + r.y - Num(vm, a, 0)), PutRaw(vm, self, "y", Arg(a, 0));
  return {};
}
AsValue RectSetRight(Avm1& vm, const AsValue& self, AsArgs a) {
  Put(vm, self, "width", Num(vm, a, 0) - SelfRect(vm, self).x);
  return {};
}
AsValue RectSetBottom(Avm1& vm, const AsValue& self, AsArgs a) {
  Put(vm, self, "height", Num(vm, a, 0) - SelfRect(vm, self).y);
  return {};
}
AsValue RectTopLeft(Avm1& vm, const AsValue& self, AsArgs) {
  return RawPoint(vm, vm.Get(self, "x"), vm.Get(self, "y"));
}
AsValue RectBottomRight(Avm1& vm, const AsValue& self, AsArgs) {
  const GeomRect r = SelfRect(vm, self);
  return NewPoint(vm, r.x + r.width, r.y + r.height);
}
AsValue RectSize(Avm1& vm, const AsValue& self, AsArgs) {
  return RawPoint(vm, vm.Get(self, "width"), vm.Get(self, "height"));
}
AsValue RectSetTopLeft(Avm1& vm, const AsValue& self, AsArgs a) {
  const GeomRect r = SelfRect(vm, self);
  const double x = PX(vm, Arg(a, 0)), y = PY(vm, Arg(a, 0));
  Put(vm, self, "width", r.width + r.x - x), Put(vm, self, "height", r.height + r.y - y);
  PutRaw(vm, self, "x", vm.Get(Arg(a, 0), "x")), PutRaw(vm, self, "y", vm.Get(Arg(a, 0), "y"));
  return {};
}
AsValue RectSetBottomRight(Avm1& vm, const AsValue& self, AsArgs a) {
  const GeomRect r = SelfRect(vm, self);
  Put(vm, self, "width", PX(vm, Arg(a, 0)) - r.x), Put(vm, self, "height", PY(vm, Arg(a, 0)) - r.y);
  return {};
}
AsValue RectSetSize(Avm1& vm, const AsValue& self, AsArgs a) {
  PutRaw(vm, self, "width", vm.Get(Arg(a, 0), "x")), PutRaw(vm, self, "height", vm.Get(Arg(a, 0), "y"));
  return {};
}

// The tests as a chain of script comparisons joined by &&: the first that
// fails is the answer, and a comparison with NaN gives undefined.
struct Comparison {
  double a, b;
  enum Op { kGe, kLt, kGt, kLe } op;
};
AsValue CompareChain(std::initializer_list<Comparison> tests) {
  AsValue last = AsValue::Bool(true);
  for (const Comparison& t : tests) {
    // a >= b is !(a < b): true when either is NaN; a < b is then undefined.
    if (std::isnan(t.a) || std::isnan(t.b)) {
      if (t.op == Comparison::kLt || t.op == Comparison::kGt) return {};
      continue;
    }
    const bool ok = t.op == Comparison::kGe ? t.a >= t.b : t.op == Comparison::kLt ? t.a < t.b
                    : t.op == Comparison::kGt ? t.a > t.b : t.a <= t.b;
    last = AsValue::Bool(ok);
    if (!ok) return last;
  }
  return last;
}
AsValue ContainsXY(const GeomRect& r, double x, double y) {
  return CompareChain({{x, r.x, Comparison::kGe}, {x, r.x + r.width, Comparison::kLt},
                       {y, r.y, Comparison::kGe}, {y, r.y + r.height, Comparison::kLt}});
}
AsValue RectContains(Avm1& vm, const AsValue& self, AsArgs a) {
  return ContainsXY(SelfRect(vm, self), Num(vm, a, 0), Num(vm, a, 1));
}
AsValue RectContainsPoint(Avm1& vm, const AsValue& self, AsArgs a) {
  return ContainsXY(SelfRect(vm, self), PX(vm, Arg(a, 0)), PY(vm, Arg(a, 0)));
}
AsValue RectContainsRect(Avm1& vm, const AsValue& self, AsArgs a) {
  const GeomRect r = SelfRect(vm, self), o = SelfRect(vm, Arg(a, 0));
  const double right = r.x + r.width, bottom = r.y + r.height, oRight = o.x + o.width, oBottom = o.y + o.height;
  return CompareChain({{o.x, r.x, Comparison::kGe}, {o.x, right, Comparison::kLt}, {o.y, r.y, Comparison::kGe},
                       {o.y, bottom, Comparison::kLt}, {oRight, r.x, Comparison::kGt}, {oRight, right, Comparison::kLe},
                       {oBottom, r.y, Comparison::kGt}, {oBottom, bottom, Comparison::kLe}});
}

// Math.min and Math.max: NaN wins.
double NanMin(double a, double b) { return std::isnan(a) || std::isnan(b) ? NAN : std::min(a, b); }
double NanMax(double a, double b) { return std::isnan(a) || std::isnan(b) ? NAN : std::max(a, b); }

// other.isEmpty() as a script asks it: false for an object without the method.
bool AsksEmpty(Avm1& vm, const AsValue& other) {
  const AsValue fn = vm.Get(other, "isEmpty");
  return fn.type == AsValue::Type::kObject && fn.obj->fn && vm.ToBool(vm.Call(fn, other, {}));
}

// Any object with the fields intersects; a sum with NaN in it is empty.
GeomRect IntersectWith(Avm1& vm, const AsValue& self, const AsValue& other) {
  const GeomRect r = SelfRect(vm, self), o = SelfRect(vm, other);
  if (Empty(r) || AsksEmpty(vm, other)) return {};
  const double x = NanMax(r.x, o.x), y = NanMax(r.y, o.y);
  const GeomRect out{x, y, NanMin(r.x + r.width, o.x + o.width) - x, NanMin(r.y + r.height, o.y + o.height) - y};
  return Empty(out) ? GeomRect{} : out;
}
AsValue RectIntersects(Avm1& vm, const AsValue& self, AsArgs a) {
  return AsValue::Bool(!Empty(IntersectWith(vm, self, Arg(a, 0))));
}
AsValue RectIntersection(Avm1& vm, const AsValue& self, AsArgs a) {
  return NewRectangle(vm, IntersectWith(vm, self, Arg(a, 0)));
}
AsValue RectClone(Avm1& vm, const AsValue& self, AsArgs);
// An empty rectangle answers the other's clone(); an empty other, a copy.
AsValue RectUnion(Avm1& vm, const AsValue& self, AsArgs a) {
  const GeomRect r = SelfRect(vm, self), o = SelfRect(vm, Arg(a, 0));
  if (Empty(r)) return vm.CallMethodOf(Arg(a, 0), "clone");
  if (AsksEmpty(vm, Arg(a, 0))) return RectClone(vm, self, {});
  const double x0 = NanMin(r.x, o.x), y0 = NanMin(r.y, o.y);
  const double x1 = NanMax(r.x + r.width, o.x + o.width), y1 = NanMax(r.y + r.height, o.y + o.height);
  return NewRectangle(vm, {x0, y0, x1 - x0, y1 - y0});
}
AsValue RectEquals(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Arg(a, 0).type != AsValue::Type::kObject) return AsValue::Bool(false);
  // Only a Rectangle equals one.
  const AsValue proto = vm.Get(vm.Get(AsValue::Object(Package(vm, "flash.geom")), "Rectangle"), "prototype");
  bool isRect = false;
  int guard = 0;
  for (AsObject* p = a[0].obj->proto; p && !isRect && guard < kMaxProtoChain; p = p->proto, ++guard) {
    isRect = p == proto.obj;
  }
  if (!isRect) return AsValue::Bool(false);
  const GeomRect r = SelfRect(vm, self), o = SelfRect(vm, a[0]);
  return AsValue::Bool(r.x == o.x && r.y == o.y && r.width == o.width && r.height == o.height);
}
AsValue RectIsEmpty(Avm1& vm, const AsValue& self, AsArgs) { return AsValue::Bool(Empty(SelfRect(vm, self))); }
AsValue RectSetEmpty(Avm1& vm, const AsValue& self, AsArgs) {
  PutRect(vm, self, {});
  return {};
}
AsValue RectClone(Avm1& vm, const AsValue& self, AsArgs) { return NewRectangle(vm, SelfRect(vm, self)); }
void Inflate(Avm1& vm, const AsValue& self, double dx, double dy) {
  const GeomRect r = SelfRect(vm, self);
  PutRect(vm, self, {r.x - dx, r.y - dy, r.width + 2 * dx, r.height + 2 * dy});
}
AsValue RectInflate(Avm1& vm, const AsValue& self, AsArgs a) {
  Inflate(vm, self, Num(vm, a, 0), Num(vm, a, 1));
  return {};
}
AsValue RectInflatePoint(Avm1& vm, const AsValue& self, AsArgs a) {
  Inflate(vm, self, PX(vm, Arg(a, 0)), PY(vm, Arg(a, 0)));
  return {};
}
void Offset(Avm1& vm, const AsValue& self, double dx, double dy) {
  const GeomRect r = SelfRect(vm, self);
  Put(vm, self, "x", r.x + dx), Put(vm, self, "y", r.y + dy);
}
AsValue RectOffset(Avm1& vm, const AsValue& self, AsArgs a) {
  Offset(vm, self, Num(vm, a, 0), Num(vm, a, 1));
  return {};
}
AsValue RectOffsetPoint(Avm1& vm, const AsValue& self, AsArgs a) {
  Offset(vm, self, PX(vm, Arg(a, 0)), PY(vm, Arg(a, 0)));
  return {};
}
AsValue RectToString(Avm1& vm, const AsValue& self, AsArgs) {
  return AsValue::String("(x=" + vm.ToString(vm.Get(self, "x")) + ", y=" + vm.ToString(vm.Get(self, "y")) +
                         ", w=" + vm.ToString(vm.Get(self, "width")) + ", h=" + vm.ToString(vm.Get(self, "height")) +
                         ")");
}

// ---- ColorTransform

AsValue CtCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  auto d = std::make_unique<CtData>();
  if (!a.empty()) {
    for (std::size_t i = 0; i < 8; ++i) d->v[i] = Num(vm, a, i);
  }
  o->native = std::move(d);
  return self;
}

AsValue CtGetRgb(Avm1& vm, const AsValue& self, AsArgs) {
  auto ch = [&](const char* n) { return static_cast<std::uint32_t>(ToInt32(NumberField(vm, self, n))) & 255; };
  return AsValue::Number((ch("redOffset") << 16) | (ch("greenOffset") << 8) | ch("blueOffset"));
}

AsValue CtSetRgb(Avm1& vm, const AsValue& self, AsArgs a) {
  const auto rgb = static_cast<std::uint32_t>(ToInt32(Num(vm, a, 0)));
  double v[8];
  ReadCt(vm, self, v);
  v[0] = v[1] = v[2] = 0;
  v[4] = (rgb >> 16) & 255, v[5] = (rgb >> 8) & 255, v[6] = rgb & 255;
  PutColorTransform(vm, self, v);
  return {};
}

AsValue CtConcat(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Arg(a, 0).type != AsValue::Type::kObject) return {};
  double mine[8], second[8], out[8];
  ReadCt(vm, self, mine);
  ReadCt(vm, a[0], second);
  // `second` is applied to the colours first, then this one.
  for (int i = 0; i < 4; ++i) {
    out[i] = mine[i] * second[i];
    out[i + 4] = mine[i + 4] + mine[i] * second[i + 4];
  }
  PutColorTransform(vm, self, out);
  return {};
}

AsValue CtToString(Avm1& vm, const AsValue& self, AsArgs) {
  std::string s = "(";
  for (int i = 0; i < 8; ++i) {
    if (i) s += ", ";
    s += kCtNames[i];
    s += "=" + vm.ToString(vm.Get(self, kCtNames[i]));
  }
  return AsValue::String(s + ")");
}

// ---- Transform: a view of a clip's matrix and colour transform

// What a Transform reads and writes: a clip's matrix and colour transform,
// or the main timeline's, which is no placed instance.
struct TransformParts {
  Matrix* matrix = nullptr;
  ColorTransform* cxform = nullptr;
  Instance* inst = nullptr;
  explicit operator bool() const { return matrix != nullptr; }
};

TransformParts PartsOf(Avm1& vm, const AsValue& clip) {
  if (clip.type == AsValue::Type::kClip && vm.ClipOf(clip) == kRootClip) {
    TimelineState& root = vm.GetStage().Root();
    return {&root.matrix, &root.cxform, nullptr};
  }
  Instance* inst = ClipInstance(vm, clip);
  return inst ? TransformParts{&inst->matrix, &inst->cxform, inst} : TransformParts{};
}

TransformParts TransformClip(Avm1& vm, const AsValue& self) {
  AsObject* o = Self(self);
  return o ? PartsOf(vm, o->target) : TransformParts{};
}

// Exactly one argument, a clip: anything else makes no Transform.
AsValue TransformCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.size() != 1 || a[0].type != AsValue::Type::kClip) {
    vm.RefuseConstruction();
    return {};
  }
  if (AsObject* o = Self(self)) {
    o->className = "Transform";
    o->target = a[0];
  }
  return self;
}

AsValue TrGetMatrix(Avm1& vm, const AsValue& self, AsArgs) {
  const TransformParts t = TransformClip(vm, self);
  return t ? NewMatrix(vm, GeomMatrix::FromTwips(*t.matrix)) : AsValue{};
}

AsValue TrSetMatrix(Avm1& vm, const AsValue& self, AsArgs a) {
  GeomMatrix m;
  if (!ReadGeomMatrix(vm, Arg(a, 0), m)) return {};
  if (const TransformParts t = TransformClip(vm, self)) {
    *t.matrix = m.ToTwips();
    if (t.inst) t.inst->scripted = true;
  }
  return {};
}

AsValue TrGetColor(Avm1& vm, const AsValue& self, AsArgs) {
  const TransformParts t = TransformClip(vm, self);
  return t ? NewColorTransform(vm, *t.cxform) : AsValue{};
}

AsValue TrSetColor(Avm1& vm, const AsValue& self, AsArgs a) {
  ColorTransform c;
  if (!ReadGeomColorTransform(vm, Arg(a, 0), c)) return {};
  if (const TransformParts t = TransformClip(vm, self)) {
    *t.cxform = c;
    if (t.inst) t.inst->scripted = true;
  }
  return {};
}

AsValue TrConcatenated(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = Self(self);
  GeomMatrix m;
  if (!o || !ClipWorldMatrix(vm, vm.ClipOf(o->target), m)) return {};
  return NewMatrix(vm, m);
}

// The clip's colour transform, then each parent's, as the clip is drawn.
AsValue TrConcatenatedColor(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = Self(self);
  if (!o || !TransformClip(vm, self)) return {};
  // Flash keeps the terms as 16-bit numbers (multipliers in 8.8 fixed
  // point) and lets each product wrap.
  auto wrap16 = [](std::int64_t x) { return static_cast<std::int32_t>(static_cast<std::int16_t>(x & 0xFFFF)); };
  std::int32_t mult[4] = {256, 256, 256, 256}, add[4] = {0, 0, 0, 0};
  Stage& stage = vm.GetStage();
  int guard = 0;
  for (ClipHandle h = vm.ClipOf(o->target); h != kNoClip && guard < 1000; h = stage.ParentOf(h), ++guard) {
    const TransformParts t = PartsOf(vm, vm.ClipValue(h));
    if (!t) break;
    const ColorTransform& c = *t.cxform;
    const std::int32_t m[4] = {c.redMult, c.greenMult, c.blueMult, c.alphaMult};
    const std::int32_t a[4] = {c.redAdd, c.greenAdd, c.blueAdd, c.alphaAdd};
    for (int i = 0; i < 4; ++i) {
      const std::int64_t pm = wrap16(m[i]);
      add[i] = wrap16(((pm * add[i]) >> 8) + wrap16(a[i]));
      mult[i] = wrap16((pm * mult[i]) >> 8);
    }
  }
  double v[8];
  for (int i = 0; i < 4; ++i) v[i] = mult[i] / 256.0, v[i + 4] = add[i];
  const AsValue out = NewGeomObject(vm, "ColorTransform");
  PutColorTransform(vm, out, v);
  return out;
}

AsValue TrPixelBounds(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = Self(self);
  Instance* inst = TransformClip(vm, self).inst;
  GeomMatrix w;
  Rect local;
  if (!inst || !ClipWorldMatrix(vm, vm.ClipOf(o->target), w) || !vm.GetStage().Bounds(*inst, local, true)) {
    return NewRectangle(vm, {});
  }
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (double x : {local.xmin / 20.0, local.xmax / 20.0}) {
    for (double y : {local.ymin / 20.0, local.ymax / 20.0}) {
      double px, py;
      w.Apply(x, y, px, py);
      x0 = std::min(x0, px), y0 = std::min(y0, py), x1 = std::max(x1, px), y1 = std::max(y1, py);
    }
  }
  x0 = std::floor(x0), y0 = std::floor(y0), x1 = std::ceil(x1), y1 = std::ceil(y1);
  return NewRectangle(vm, {x0, y0, x1 - x0, y1 - y0});
}

// MovieClip.transform: a new Transform for the clip; setting one copies its
// matrix and colour transform onto the clip.
AsValue McGetTransform(Avm1& vm, const AsValue& self, AsArgs) {
  if (!PartsOf(vm, self)) return {};
  const AsValue t = NewGeomObject(vm, "Transform");
  t.obj->className = "Transform";
  t.obj->target = self;
  return t;
}

AsValue McSetTransform(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Arg(a, 0).type != AsValue::Type::kObject) return {};
  const AsValue m = vm.Get(a[0], "matrix"), c = vm.Get(a[0], "colorTransform");
  AsValue view = McGetTransform(vm, self, {});
  if (view.type != AsValue::Type::kObject) return {};
  std::vector<AsValue> arg{m};
  TrSetMatrix(vm, view, arg);
  arg[0] = c;
  TrSetColor(vm, view, arg);
  return {};
}

}  // namespace

AsValue NewPoint(Avm1& vm, double x, double y) {
  const AsValue p = NewGeomObject(vm, "Point");
  Put(vm, p, "x", x), Put(vm, p, "y", y);
  return p;
}

AsValue NewRectangle(Avm1& vm, const GeomRect& r) {
  const AsValue o = NewGeomObject(vm, "Rectangle");
  PutRect(vm, o, r);
  return o;
}

AsValue NewMatrix(Avm1& vm, const GeomMatrix& m) {
  const AsValue o = NewGeomObject(vm, "Matrix");
  PutMatrix(vm, o, m);
  return o;
}

AsValue NewColorTransform(Avm1& vm, const ColorTransform& c) {
  const AsValue o = NewGeomObject(vm, "ColorTransform");
  const double v[8] = {c.redMult / 256.0, c.greenMult / 256.0, c.blueMult / 256.0, c.alphaMult / 256.0,
                       static_cast<double>(c.redAdd), static_cast<double>(c.greenAdd),
                       static_cast<double>(c.blueAdd), static_cast<double>(c.alphaAdd)};
  PutColorTransform(vm, o, v);
  return o;
}

Instance* ClipInstance(Avm1& vm, const AsValue& v) {
  if (v.type != AsValue::Type::kClip) return nullptr;
  Instance* inst = vm.GetStage().Find(vm.ClipOf(v));
  return inst && inst->sprite ? inst : nullptr;
}

bool ClipWorldMatrix(Avm1& vm, ClipHandle clip, GeomMatrix& out) {
  out = GeomMatrix{};
  for (int guard = 0; clip != kRootClip && guard < 256; ++guard) {
    Instance* inst = vm.GetStage().Find(clip);
    if (!inst) return false;
    out = out.Then(GeomMatrix::FromTwips(inst->matrix));
    clip = inst->parent;
  }
  if (clip != kRootClip) return false;
  out = out.Then(GeomMatrix::FromTwips(vm.GetStage().Root().matrix));
  return true;
}

void InstallGeom(Avm1& vm) {
  AsObject* geom = Package(vm, "flash.geom");
  auto methods = [&](AsObject* proto, std::initializer_list<std::pair<const char*, AsNative>> list) {
    for (auto& [n, f] : list) vm.NewFunction(n, f, proto);
  };

  AsObject* matrix = vm.NewRootObject(vm.ObjectProto());
  methods(matrix, {{"identity", MatrixIdentity},
                   {"clone", MatrixClone},
                   {"concat", MatrixConcat},
                   {"invert", MatrixInvert},
                   {"translate", MatrixTranslate},
                   {"scale", MatrixScale},
                   {"rotate", MatrixRotate},
                   {"createBox", MatrixCreateBox},
                   {"createGradientBox", MatrixGradientBox},
                   {"transformPoint", MatrixTransformPoint},
                   {"deltaTransformPoint", MatrixDeltaTransformPoint},
                   {"toString", MatrixToString}});
  vm.NewClass(geom, "Matrix", MatrixCtor, matrix);

  AsObject* point = vm.NewRootObject(vm.ObjectProto());
  methods(point, {{"add", PointAdd},
                  {"subtract", PointSubtract},
                  {"clone", PointClone},
                  {"equals", PointEquals},
                  {"normalize", PointNormalize},
                  {"offset", PointOffset},
                  {"toString", PointToString}});
  vm.AddAccessor(point, "length", PointLength, nullptr);
  AsObject* pointCtor = vm.NewClass(geom, "Point", PointCtor, point);
  methods(pointCtor, {{"distance", PointDistance}, {"interpolate", PointInterpolate}, {"polar", PointPolar}});

  AsObject* rect = vm.NewRootObject(vm.ObjectProto());
  methods(rect, {{"clone", RectClone},
                 {"contains", RectContains},
                 {"containsPoint", RectContainsPoint},
                 {"containsRectangle", RectContainsRect},
                 {"intersects", RectIntersects},
                 {"intersection", RectIntersection},
                 {"union", RectUnion},
                 {"equals", RectEquals},
                 {"isEmpty", RectIsEmpty},
                 {"setEmpty", RectSetEmpty},
                 {"inflate", RectInflate},
                 {"inflatePoint", RectInflatePoint},
                 {"offset", RectOffset},
                 {"offsetPoint", RectOffsetPoint},
                 {"toString", RectToString}});
  vm.AddAccessor(rect, "left", RectLeft, RectSetLeft);
  vm.AddAccessor(rect, "top", RectTop, RectSetTop);
  vm.AddAccessor(rect, "right", RectRight, RectSetRight);
  vm.AddAccessor(rect, "bottom", RectBottom, RectSetBottom);
  vm.AddAccessor(rect, "topLeft", RectTopLeft, RectSetTopLeft);
  vm.AddAccessor(rect, "bottomRight", RectBottomRight, RectSetBottomRight);
  vm.AddAccessor(rect, "size", RectSize, RectSetSize);
  vm.NewClass(geom, "Rectangle", RectCtor, rect);

  // All listed by for..in, newest first: toString, concat, rgb, the offsets, the multipliers.
  AsObject* ct = vm.NewRootObject(vm.ObjectProto());
  const std::pair<const char*, std::pair<AsNative, AsNative>> terms[] = {
      {"alphaMultiplier", {CtGet<3>, CtSet<3>}}, {"redMultiplier", {CtGet<0>, CtSet<0>}},
      {"greenMultiplier", {CtGet<1>, CtSet<1>}}, {"blueMultiplier", {CtGet<2>, CtSet<2>}},
      {"alphaOffset", {CtGet<7>, CtSet<7>}},     {"redOffset", {CtGet<4>, CtSet<4>}},
      {"greenOffset", {CtGet<5>, CtSet<5>}},     {"blueOffset", {CtGet<6>, CtSet<6>}},
      {"rgb", {CtGetRgb, CtSetRgb}}};
  for (const auto& [name, fns] : terms) vm.AddAccessor(ct, name, fns.first, fns.second);
  methods(ct, {{"concat", CtConcat}, {"toString", CtToString}});
  for (auto& [key, p] : ct->props) p.hidden = false;
  vm.NewClass(geom, "ColorTransform", CtCtor, ct);

  AsObject* tr = vm.NewRootObject(vm.ObjectProto());
  vm.AddAccessor(tr, "matrix", TrGetMatrix, TrSetMatrix);
  vm.AddAccessor(tr, "colorTransform", TrGetColor, TrSetColor);
  vm.AddAccessor(tr, "concatenatedMatrix", TrConcatenated, nullptr);
  vm.AddAccessor(tr, "concatenatedColorTransform", TrConcatenatedColor, nullptr);
  vm.AddAccessor(tr, "pixelBounds", TrPixelBounds, nullptr);
  vm.NewClass(geom, "Transform", TransformCtor, tr);

  vm.AddAccessor(vm.ClipProto(), "transform", McGetTransform, McSetTransform);
}

}  // namespace quarvel::player::avm1_builtins
