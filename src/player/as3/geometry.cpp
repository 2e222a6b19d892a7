// Transform and flash.geom: Point, Rectangle, Matrix and ColorTransform.
#include "player/as3/display_binding_p.h"
#include "player/as3/flash_api.h"
#include "player/render/drawn_items.h"

namespace quarvel::player::as3 {

// ---- Transform

// An object in three dimensions has no flat matrix: transform.matrix is
// null, and setting it flattens the object again.
bool InThreeD(const FlashObject* f) {
  return f && (f->threeD || f->z != 0 || f->rotationX != 0 || f->rotationY != 0 || f->scaleZ != 1);
}
FlashObject* TransformOwner(Machine& m, const Value& self) {
  TransformObject* t = As<TransformObject>(self);
  return t ? B(m).Existing(t->handle) : nullptr;
}
void Flatten(FlashObject* f) {
  f->threeD = false;
  f->z = f->rotationX = f->rotationY = 0;
  f->scaleZ = 1;
}
NATIVE(TrGetMatrix) {
  Instance* i = SelfNode(m, self);
  if (InThreeD(TransformOwner(m, self))) return Value::Null();
  Matrix mx = i ? i->matrix : Matrix{};
  Value args[6] = {Value::Number(mx.scaleX), Value::Number(mx.rotateSkew0), Value::Number(mx.rotateSkew1),
                   Value::Number(mx.scaleY), Value::Number(mx.translateX / 20.0), Value::Number(mx.translateY / 20.0)};
  return Value::Obj(m.Construct(B(m).matrixClass, args));
}
NATIVE(TrSetMatrix) {
  Instance* i = SelfNode(m, self);
  const Value v = m.ArgOr(a, 0);
  FlashObject* f = TransformOwner(m, self);
  // null takes the object into three dimensions, where its flat matrix is
  // the start of its matrix3D.
  if (v.IsNullish() && f) f->threeD = true;
  if (!i || !v.IsObject()) return Value();
  if (InThreeD(f)) {
    Flatten(f);
    Update3D(B(m), f);
  }
  auto num = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return std::isfinite(d) ? d : 0.0;
  };
  i->matrix.scaleX = num("a"), i->matrix.rotateSkew0 = num("b"), i->matrix.rotateSkew1 = num("c");
  i->matrix.scaleY = num("d"), i->matrix.translateX = Twips(num("tx")), i->matrix.translateY = Twips(num("ty"));
  i->scripted = true;
  return Value();
}
// matrix3D: null while the object is flat; set, it becomes the object's
// position, rotations and scales in three dimensions.
// The stage and the main timeline always have a projection (set to null,
// they take their default again); other objects have one only once a script
// gives it. Each read is a new view of the same numbers.
FlashObject* PerspectiveOwner(As3Display& b, const TransformObject* t) {
  if (!t) return nullptr;
  return t->ofStage ? b.stageObject : b.Existing(t->handle);
}
NATIVE(TrGetPerspective) {
  TransformObject* t = As<TransformObject>(self);
  As3Display& b = B(m);
  FlashObject* f = PerspectiveOwner(b, t);
  if (!f) return Value::Null();
  if (f->perspective.IsNullish() && t->ofStage) {
    f->perspective = NewPerspectiveState(m, 500, 250, 250, 55, true);
  } else if (f->perspective.IsNullish() && f->handle == kRootClip) {
    const auto& frame = b.lib.movie.header.frameSize;
    f->perspective = NewPerspectiveState(m, frame.Width() / 20.0, frame.Width() / 40.0, frame.Height() / 40.0, 55, true);
  }
  return f->perspective.IsNullish() ? Value::Null() : PerspectiveView(m, f->perspective);
}
NATIVE(TrSetPerspective) {
  TransformObject* t = As<TransformObject>(self);
  As3Display& b = B(m);
  FlashObject* f = PerspectiveOwner(b, t);
  if (!f) return Value();
  const Value pp = m.ArgOr(a, 0);
  const double width = t->ofStage ? 500 : b.lib.movie.header.frameSize.Width() / 20.0;
  f->perspective = pp.IsNullish() ? Value::Null() : AttachPerspective(m, pp, width);
  if (f != b.stageObject && f->handle != kNoClip && f->handle != kRootClip &&
      std::find(b.perspectiveOwners.begin(), b.perspectiveOwners.end(), f->handle) == b.perspectiveOwners.end())
    b.perspectiveOwners.push_back(f->handle);
  return Value();
}
// A projection's numbers in twips; none when they cannot project.
std::optional<rules::Perspective> PerspectiveTwips(Machine& m, const Value& state) {
  const PerspectiveNumbers p = ReadPerspective(m, state);
  const rules::Perspective out{p.focal * 20, p.cx * 20, p.cy * 20};
  if (!(out.focal > 0) || !std::isfinite(out.focal) || !std::isfinite(out.cx) || !std::isfinite(out.cy)) return std::nullopt;
  return out;
}
void As3Display::BeforeDraw() {
  const auto& frame = lib.movie.header.frameSize;
  std::optional<rules::Perspective> root;
  if (FlashObject* r = Existing(kRootClip); r && r->perspective.IsObject()) root = PerspectiveTwips(m, r->perspective);
  stage.Root().perspective = root ? *root : DefaultPerspective(frame.Width(), frame.Height());
  std::erase_if(perspectiveOwners, [&](ClipHandle h) {
    FlashObject* f = Existing(h);
    Instance* i = Node(h);
    if (!f || !i) return true;
    i->perspective = f->perspective.IsObject() ? PerspectiveTwips(m, f->perspective) : std::nullopt;
    return !i->perspective;
  });
}
NATIVE(TrGetMatrix3D) {
  TransformObject* t = As<TransformObject>(self);
  As3Display& b = B(m);
  FlashObject* f = t ? b.Existing(t->handle) : nullptr;
  if (!InThreeD(f)) return Value::Null();
  const Value obj = Value::Obj(f);
  // Without depth or turns out of the plane the flat matrix is the whole
  // of it, skew included, in single precision as Matrix3D keeps numbers.
  if (f->z == 0 && f->rotationX == 0 && f->rotationY == 0 && f->scaleZ == 1) {
    Instance* i = b.Node(f->handle);
    const Matrix mx = i ? i->matrix : Matrix{};
    Object* raw = m.Construct(m.VectorOf(m.numberClass), {});
    if (auto* list = avm2::AsArray(Value::Obj(raw)))
      for (double d : {mx.scaleX, mx.rotateSkew0, 0.0, 0.0, mx.rotateSkew1, mx.scaleY, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0,
                       mx.translateX / 20.0, mx.translateY / 20.0, 0.0, 1.0})
        list->elems.push_back(Value::Number(d));
    Value arg = Value::Obj(raw);
    return Value::Obj(m.Construct(m.FindClass("flash.geom::Matrix3D"), std::span<Value>(&arg, 1)));
  }
  Class* v3 = m.FindClass("flash.geom::Vector3D");
  auto vec = [&](double x, double y, double z) {
    Value args[] = {Value::Number(x), Value::Number(y), Value::Number(z)};
    return Value::Obj(m.Construct(v3, args));
  };
  auto num = [&](const char* n) { return m.ToNumber(m.GetProperty(obj, n)); };
  const double rad = M_PI / 180;
  Object* parts = m.Construct(m.VectorOf(v3), {});
  if (auto* list = avm2::AsArray(Value::Obj(parts))) {
    list->elems.push_back(vec(num("x"), num("y"), f->z));
    list->elems.push_back(vec(f->rotationX * rad, f->rotationY * rad, num("rotation") * rad));
    list->elems.push_back(vec(num("scaleX"), num("scaleY"), f->scaleZ));
  }
  Value out = Value::Obj(m.Construct(m.FindClass("flash.geom::Matrix3D"), {}));
  Value arg = Value::Obj(parts);
  m.CallProperty(out, "recompose", std::span<Value>(&arg, 1));
  return out;
}
NATIVE(TrSetMatrix3D) {
  TransformObject* t = As<TransformObject>(self);
  As3Display& b = B(m);
  FlashObject* f = t ? b.Existing(t->handle) : nullptr;
  if (!f) return Value();
  const Value obj = Value::Obj(f), v = m.ArgOr(a, 0);
  if (!v.IsObject()) {
    // Flat again, and with the identity: its place and turns are gone too.
    const bool was = InThreeD(f);
    for (const char* n : {"z", "rotationX", "rotationY"}) m.SetProperty(obj, n, Value::Int(0));
    m.SetProperty(obj, "scaleZ", Value::Int(1));
    f->threeD = false;
    if (Instance* i = b.Node(f->handle); i && was) {
      i->matrix = Matrix{};
      i->scripted = true;
    }
    return Value();
  }
  f->threeD = true;
  // A matrix that keeps to the plane is taken as it is, skew included.
  std::vector<double> raw;
  if (auto* list = avm2::AsArray(m.GetProperty(v, "rawData")))
    for (const Value& e : list->elems) raw.push_back(m.ToNumber(e));
  if (raw.size() == 16 && raw[2] == 0 && raw[3] == 0 && raw[6] == 0 && raw[7] == 0 && raw[8] == 0 && raw[9] == 0 &&
      raw[10] == 1 && raw[11] == 0 && raw[14] == 0 && raw[15] == 1 &&
      std::all_of(raw.begin(), raw.end(), [](double d) { return std::isfinite(d); })) {
    if (Instance* i = b.Node(f->handle)) {
      f->z = f->rotationX = f->rotationY = 0;
      f->scaleZ = 1;
      Update3D(b, f);
      i->matrix.scaleX = raw[0], i->matrix.rotateSkew0 = raw[1];
      i->matrix.rotateSkew1 = raw[4], i->matrix.scaleY = raw[5];
      i->matrix.translateX = Twips(raw[12]), i->matrix.translateY = Twips(raw[13]);
      i->scripted = true;
      return Value();
    }
  }
  auto* parts = avm2::AsArray(m.CallProperty(v, "decompose", {}));
  if (!parts || parts->elems.size() < 3) return Value();
  const Value tr = parts->elems[0], rot = parts->elems[1], sc = parts->elems[2];
  const double deg = 180 / M_PI;
  auto get = [&](const Value& o, const char* n) { return m.ToNumber(m.GetProperty(o, n)); };
  m.SetProperty(obj, "scaleX", Value::Number(get(sc, "x")));
  m.SetProperty(obj, "scaleY", Value::Number(get(sc, "y")));
  m.SetProperty(obj, "rotation", Value::Number(get(rot, "z") * deg));
  m.SetProperty(obj, "x", Value::Number(get(tr, "x")));
  m.SetProperty(obj, "y", Value::Number(get(tr, "y")));
  m.SetProperty(obj, "z", Value::Number(get(tr, "z")));
  m.SetProperty(obj, "rotationX", Value::Number(get(rot, "x") * deg));
  m.SetProperty(obj, "rotationY", Value::Number(get(rot, "y") * deg));
  m.SetProperty(obj, "scaleZ", Value::Number(get(sc, "z")));
  return Value();
}
// getRelativeMatrix3D: the object's space in that of another (the stage's
// for null or the stage), in three dimensions and pixels, no perspective.
NATIVE(TrGetRelativeMatrix3D) {
  TransformObject* t = As<TransformObject>(self);
  As3Display& b = B(m);
  FlashObject* f = t ? b.Existing(t->handle) : nullptr;
  rules::M4 mine = f && !t->ofStage ? StageMatrix3D(b, f->handle, false) : rules::kIdentity4;
  FlashObject* other = As<FlashObject>(m.ArgOr(a, 0));
  if (other && other != b.stageObject) {
    rules::M4 back;
    if (!rules::Invert4(StageMatrix3D(b, other->handle, false), back)) return Value::Null();
    mine = rules::Mul4(back, mine);
  }
  for (std::size_t k = 12; k < 15; ++k) mine[k] /= 20;
  return MakeMatrix3D(m, mine);
}
// concatenatedMatrix: the object's matrix and its ancestors', in pixels,
// with Flash's single-precision digits.
NATIVE(TrGetConcatenatedMatrix) {
  TransformObject* t = As<TransformObject>(self);
  As3Display& b = B(m);
  rules::DeviceMatrix w;
  if (t && (t->ofStage || b.Existing(t->handle))) w = ConcatenatedDevice(b, t->handle, t->ofStage);
  Value args[6] = {Value::Number(w.a), Value::Number(w.b), Value::Number(w.c),
                   Value::Number(w.d), Value::Number(w.tx / 20.0), Value::Number(w.ty / 20.0)};
  return Value::Obj(m.Construct(b.matrixClass, args));
}
// pixelBounds: the object's bounds on the stage, out to whole pixels.
NATIVE(TrGetPixelBounds) {
  TransformObject* t = As<TransformObject>(self);
  As3Display& b = B(m);
  FlashObject* f = t ? b.Existing(t->handle) : nullptr;
  Rect r;
  const bool any = f && BoundsIn(m, Value::Obj(f), Value::Obj(b.stageObject), r);
  const double x0 = any ? std::floor(r.xmin / 20.0) : 0, y0 = any ? std::floor(r.ymin / 20.0) : 0;
  const double x1 = any ? std::ceil(r.xmax / 20.0) : 0, y1 = any ? std::ceil(r.ymax / 20.0) : 0;
  Value args[4] = {Value::Number(x0), Value::Number(y0), Value::Number(x1 - x0), Value::Number(y1 - y0)};
  return Value::Obj(m.Construct(b.rectangleClass, args));
}
NATIVE(TrGetColorTransform) {
  Instance* i = SelfNode(m, self);
  ColorTransform c = i ? i->cxform : ColorTransform{};
  Value args[8] = {Value::Number(c.redMult / 256.0), Value::Number(c.greenMult / 256.0), Value::Number(c.blueMult / 256.0),
                   Value::Number(c.alphaMult / 256.0), Value::Int(c.redAdd), Value::Int(c.greenAdd),
                   Value::Int(c.blueAdd), Value::Int(c.alphaAdd)};
  return Value::Obj(m.Construct(B(m).colorTransformClass, args));
}
// A flash.geom.ColorTransform as the renderer's.
ColorTransform ScriptColorTransform(Machine& m, const Value& v) {
  ColorTransform c;
  auto mult = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return static_cast<std::int32_t>(std::lround(std::isfinite(d) ? std::clamp(d, -128.0, 128.0) * 256 : 256));
  };
  auto add = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return static_cast<std::int32_t>(std::lround(std::isfinite(d) ? std::clamp(d, -512.0, 512.0) : 0));
  };
  c.redMult = mult("redMultiplier"), c.greenMult = mult("greenMultiplier");
  c.blueMult = mult("blueMultiplier"), c.alphaMult = mult("alphaMultiplier");
  c.redAdd = add("redOffset"), c.greenAdd = add("greenOffset");
  c.blueAdd = add("blueOffset"), c.alphaAdd = add("alphaOffset");
  return c;
}
NATIVE(TrSetColorTransform) {
  Instance* i = SelfNode(m, self);
  const Value v = m.ArgOr(a, 0);
  if (!i || !v.IsObject()) return Value();
  i->cxform = ScriptColorTransform(m, v);
  i->scripted = true;
  return Value();
}

// ---- flash.geom (objects with named Number fields)

Value Get(Machine& m, const Value& self, const char* n) { return m.GetProperty(self, n); }
double GetN(Machine& m, const Value& self, const char* n) { return m.ToNumber(Get(m, self, n)); }
void Set(Machine& m, const Value& self, const char* n, double v) {
  if (self.IsObject()) m.SetProperty(self, n, Value::Number(v));
}
constexpr char kX[] = "x", kY[] = "y", kWidth[] = "width", kHeight[] = "height";
constexpr char kA[] = "a", kB[] = "b", kC[] = "c", kD[] = "d", kTx[] = "tx", kTy[] = "ty";
constexpr char kRedM[] = "redMultiplier", kGreenM[] = "greenMultiplier", kBlueM[] = "blueMultiplier",
               kAlphaM[] = "alphaMultiplier", kRedO[] = "redOffset", kGreenO[] = "greenOffset",
               kBlueO[] = "blueOffset", kAlphaO[] = "alphaOffset";
// A Number parameter with a default: only a missing argument takes it, an
// undefined one is NaN.
double Param(Machine& m, std::span<Value> a, std::size_t i, double dflt) { return i < a.size() ? m.ToNumber(a[i]) : dflt; }
NATIVE(PointCtor) {
  Set(m, self, "x", Param(m, a, 0, 0));
  Set(m, self, "y", Param(m, a, 1, 0));
  return self;
}
Value NewPoint(Machine& m, double x, double y) {
  Value args[2] = {Value::Number(x), Value::Number(y)};
  return Value::Obj(m.Construct(B(m).pointClass, args));
}
NATIVE(PointLength) { return Value::Number(std::hypot(GetN(m, self, "x"), GetN(m, self, "y"))); }
NATIVE(PointAdd) { return NewPoint(m, GetN(m, self, "x") + GetN(m, m.ArgOr(a, 0), "x"), GetN(m, self, "y") + GetN(m, m.ArgOr(a, 0), "y")); }
NATIVE(PointSubtract) { return NewPoint(m, GetN(m, self, "x") - GetN(m, m.ArgOr(a, 0), "x"), GetN(m, self, "y") - GetN(m, m.ArgOr(a, 0), "y")); }
NATIVE(PointClone) { return NewPoint(m, GetN(m, self, "x"), GetN(m, self, "y")); }
NATIVE(PointOffset) {
  Set(m, self, "x", GetN(m, self, "x") + avm2::ArgNum(m, a, 0, 0));
  Set(m, self, "y", GetN(m, self, "y") + avm2::ArgNum(m, a, 1, 0));
  return Value();
}
// Flash 11's in-place forms: Starling and other frameworks reuse helper points.
NATIVE(PointSetTo) {
  Set(m, self, "x", Param(m, a, 0, 0));
  Set(m, self, "y", Param(m, a, 1, 0));
  return Value();
}
NATIVE(PointCopyFrom) {
  const Value o = m.ArgOr(a, 0);
  if (!o.IsObject()) m.ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
  Set(m, self, "x", GetN(m, o, "x"));
  Set(m, self, "y", GetN(m, o, "y"));
  return Value();
}
NATIVE(PointNormalize) {
  const double x = GetN(m, self, "x"), y = GetN(m, self, "y"), l = std::hypot(x, y), t = avm2::ArgNum(m, a, 0, 1);
  if (l > 0) Set(m, self, "x", x / l * t), Set(m, self, "y", y / l * t);
  return Value();
}
NATIVE(PointEquals) { return Value::Bool(GetN(m, self, "x") == GetN(m, m.ArgOr(a, 0), "x") && GetN(m, self, "y") == GetN(m, m.ArgOr(a, 0), "y")); }
NATIVE(PointToString) { return m.Str("(x=" + m.ToString(Get(m, self, "x")) + ", y=" + m.ToString(Get(m, self, "y")) + ")"); }
NATIVE(PointDistance) {
  const Value p = m.ArgOr(a, 0), q = m.ArgOr(a, 1);
  return Value::Number(std::hypot(GetN(m, p, "x") - GetN(m, q, "x"), GetN(m, p, "y") - GetN(m, q, "y")));
}
NATIVE(PointInterpolate) {
  const Value p = m.ArgOr(a, 0), q = m.ArgOr(a, 1);
  const double f = avm2::ArgNum(m, a, 2, 0);
  return NewPoint(m, GetN(m, q, "x") + f * (GetN(m, p, "x") - GetN(m, q, "x")), GetN(m, q, "y") + f * (GetN(m, p, "y") - GetN(m, q, "y")));
}
NATIVE(PointPolar) {
  const double l = avm2::ArgNum(m, a, 0, 0), an = avm2::ArgNum(m, a, 1, 0);
  return NewPoint(m, l * std::cos(an), l * std::sin(an));
}
NATIVE(RectCtor) {
  Set(m, self, "x", Param(m, a, 0, 0));
  Set(m, self, "y", Param(m, a, 1, 0));
  Set(m, self, "width", Param(m, a, 2, 0));
  Set(m, self, "height", Param(m, a, 3, 0));
  return self;
}
Value NewRect(Machine& m, double x, double y, double w, double h) {
  Value args[4] = {Value::Number(x), Value::Number(y), Value::Number(w), Value::Number(h)};
  return Value::Obj(m.Construct(B(m).rectangleClass, args));
}
NATIVE(RectLeft) { return Value::Number(GetN(m, self, "x")); }
NATIVE(RectTop) { return Value::Number(GetN(m, self, "y")); }
NATIVE(RectRight) { return Value::Number(GetN(m, self, "x") + GetN(m, self, "width")); }
NATIVE(RectBottom) { return Value::Number(GetN(m, self, "y") + GetN(m, self, "height")); }
// Moving an edge keeps the opposite one where it was.
NATIVE(RectSetLeft) {
  const double v = avm2::ArgNum(m, a, 0, 0);
  Set(m, self, "width", GetN(m, self, "x") + GetN(m, self, "width") - v);
  Set(m, self, "x", v);
  return Value();
}
NATIVE(RectSetTop) {
  const double v = avm2::ArgNum(m, a, 0, 0);
  Set(m, self, "height", GetN(m, self, "y") + GetN(m, self, "height") - v);
  Set(m, self, "y", v);
  return Value();
}
NATIVE(RectSetRight) { Set(m, self, "width", avm2::ArgNum(m, a, 0, 0) - GetN(m, self, "x")); return Value(); }
NATIVE(RectSetBottom) { Set(m, self, "height", avm2::ArgNum(m, a, 0, 0) - GetN(m, self, "y")); return Value(); }
NATIVE(RectTopLeft) { return NewPoint(m, GetN(m, self, "x"), GetN(m, self, "y")); }
NATIVE(RectBottomRight) {
  return NewPoint(m, GetN(m, self, "x") + GetN(m, self, "width"), GetN(m, self, "y") + GetN(m, self, "height"));
}
NATIVE(RectSize) { return NewPoint(m, GetN(m, self, "width"), GetN(m, self, "height")); }
NATIVE(RectSetTopLeft) {
  const Value p = m.ArgOr(a, 0);
  Value x[] = {Value::Number(GetN(m, p, "x"))}, y[] = {Value::Number(GetN(m, p, "y"))};
  RectSetLeft(m, self, x);
  RectSetTop(m, self, y);
  return Value();
}
NATIVE(RectSetBottomRight) {
  const Value p = m.ArgOr(a, 0);
  Set(m, self, "width", GetN(m, p, "x") - GetN(m, self, "x"));
  Set(m, self, "height", GetN(m, p, "y") - GetN(m, self, "y"));
  return Value();
}
NATIVE(RectSetSize) {
  const Value p = m.ArgOr(a, 0);
  Set(m, self, "width", GetN(m, p, "x"));
  Set(m, self, "height", GetN(m, p, "y"));
  return Value();
}
NATIVE(RectIsEmpty) { return Value::Bool(GetN(m, self, "width") <= 0 || GetN(m, self, "height") <= 0); }
NATIVE(RectContains) {
  const double x = avm2::ArgNum(m, a, 0, 0), y = avm2::ArgNum(m, a, 1, 0);
  const double rx = GetN(m, self, "x"), ry = GetN(m, self, "y");
  return Value::Bool(x >= rx && y >= ry && x < rx + GetN(m, self, "width") && y < ry + GetN(m, self, "height"));
}
NATIVE(RectContainsPoint) {
  Value args[2] = {Get(m, m.ArgOr(a, 0), "x"), Get(m, m.ArgOr(a, 0), "y")};
  return RectContains(m, self, args);
}
NATIVE(RectClone) { return NewRect(m, GetN(m, self, "x"), GetN(m, self, "y"), GetN(m, self, "width"), GetN(m, self, "height")); }
NATIVE(RectIntersects) {
  const Value o = m.ArgOr(a, 0);
  const double x0 = std::max(GetN(m, self, "x"), GetN(m, o, "x"));
  const double y0 = std::max(GetN(m, self, "y"), GetN(m, o, "y"));
  const double x1 = std::min(GetN(m, self, "x") + GetN(m, self, "width"), GetN(m, o, "x") + GetN(m, o, "width"));
  const double y1 = std::min(GetN(m, self, "y") + GetN(m, self, "height"), GetN(m, o, "y") + GetN(m, o, "height"));
  return Value::Bool(x1 > x0 && y1 > y0);
}
NATIVE(RectIntersection) {
  const Value o = m.ArgOr(a, 0);
  const double x0 = std::max(GetN(m, self, "x"), GetN(m, o, "x"));
  const double y0 = std::max(GetN(m, self, "y"), GetN(m, o, "y"));
  const double x1 = std::min(GetN(m, self, "x") + GetN(m, self, "width"), GetN(m, o, "x") + GetN(m, o, "width"));
  const double y1 = std::min(GetN(m, self, "y") + GetN(m, self, "height"), GetN(m, o, "y") + GetN(m, o, "height"));
  if (x1 <= x0 || y1 <= y0) return NewRect(m, 0, 0, 0, 0);
  return NewRect(m, x0, y0, x1 - x0, y1 - y0);
}
// An empty side gives the other back as it is; otherwise the box around
// both, with Math.min and Math.max, which carry a NaN through.
NATIVE(RectUnion) {
  const Value o = m.ArgOr(a, 0);
  const double ax = GetN(m, self, "x"), ay = GetN(m, self, "y"), aw = GetN(m, self, "width"), ah = GetN(m, self, "height");
  const double bx = GetN(m, o, "x"), by = GetN(m, o, "y"), bw = GetN(m, o, "width"), bh = GetN(m, o, "height");
  if (aw <= 0 || ah <= 0) return NewRect(m, bx, by, bw, bh);
  if (bw <= 0 || bh <= 0) return NewRect(m, ax, ay, aw, ah);
  const auto lo = [](double p, double q) { return std::isnan(p) || std::isnan(q) ? NAN : std::min(p, q); };
  const auto hi = [](double p, double q) { return std::isnan(p) || std::isnan(q) ? NAN : std::max(p, q); };
  const double x0 = lo(ax, bx), y0 = lo(ay, by);
  return NewRect(m, x0, y0, hi(ax + aw, bx + bw) - x0, hi(ay + ah, by + bh) - y0);
}
NATIVE(RectEquals) {
  const Value o = m.ArgOr(a, 0);
  if (!o.IsObject()) return Value::Bool(false);
  for (const char* n : {"x", "y", "width", "height"})
    if (GetN(m, self, n) != GetN(m, o, n)) return Value::Bool(false);
  return Value::Bool(true);
}
// containsRect: the other lies inside (an empty one never does).
NATIVE(RectContainsRect) {
  const Value o = m.ArgOr(a, 0);
  if (!o.IsObject()) return Value::Bool(false);
  const double ox = GetN(m, o, "x"), oy = GetN(m, o, "y"), ow = GetN(m, o, "width"), oh = GetN(m, o, "height");
  if (!(ow > 0 && oh > 0)) return Value::Bool(false);
  const double x = GetN(m, self, "x"), y = GetN(m, self, "y");
  return Value::Bool(ox >= x && oy >= y && ox + ow <= x + GetN(m, self, "width") &&
                     oy + oh <= y + GetN(m, self, "height"));
}
NATIVE(RectSetEmpty) {
  for (const char* n : {"x", "y", "width", "height"}) Set(m, self, n, 0);
  return Value();
}
NATIVE(RectCopyFrom) {
  const Value o = m.ArgOr(a, 0);
  if (o.IsObject())
    for (const char* n : {"x", "y", "width", "height"}) Set(m, self, n, GetN(m, o, n));
  return Value();
}
NATIVE(RectOffset) {
  Set(m, self, "x", GetN(m, self, "x") + avm2::ArgNum(m, a, 0, 0));
  Set(m, self, "y", GetN(m, self, "y") + avm2::ArgNum(m, a, 1, 0));
  return Value();
}
NATIVE(RectInflate) {
  const double dx = avm2::ArgNum(m, a, 0, 0), dy = avm2::ArgNum(m, a, 1, 0);
  Set(m, self, "x", GetN(m, self, "x") - dx);
  Set(m, self, "y", GetN(m, self, "y") - dy);
  Set(m, self, "width", GetN(m, self, "width") + 2 * dx);
  Set(m, self, "height", GetN(m, self, "height") + 2 * dy);
  return Value();
}
// offsetPoint and inflatePoint: offset and inflate by a point's x and y.
NATIVE(RectOffsetPoint) {
  Value args[2] = {Get(m, m.ArgOr(a, 0), "x"), Get(m, m.ArgOr(a, 0), "y")};
  return RectOffset(m, self, args);
}
NATIVE(RectInflatePoint) {
  Value args[2] = {Get(m, m.ArgOr(a, 0), "x"), Get(m, m.ArgOr(a, 0), "y")};
  return RectInflate(m, self, args);
}
NATIVE(RectSetTo) {
  RectCtor(m, self, a);
  return Value();
}
NATIVE(RectToString) {
  return m.Str("(x=" + m.ToString(Get(m, self, "x")) + ", y=" + m.ToString(Get(m, self, "y")) + ", w=" +
               m.ToString(Get(m, self, "width")) + ", h=" + m.ToString(Get(m, self, "height")) + ")");
}
NATIVE(MatrixCtor) {
  Set(m, self, "a", avm2::ArgNum(m, a, 0, 1));
  Set(m, self, "b", avm2::ArgNum(m, a, 1, 0));
  Set(m, self, "c", avm2::ArgNum(m, a, 2, 0));
  Set(m, self, "d", avm2::ArgNum(m, a, 3, 1));
  Set(m, self, "tx", avm2::ArgNum(m, a, 4, 0));
  Set(m, self, "ty", avm2::ArgNum(m, a, 5, 0));
  return self;
}
using M6 = rules::GeomMatrix;
M6 ReadM(Machine& m, const Value& v) {
  return {GetN(m, v, "a"), GetN(m, v, "b"), GetN(m, v, "c"), GetN(m, v, "d"), GetN(m, v, "tx"), GetN(m, v, "ty")};
}
void WriteM(Machine& m, const Value& v, const M6& x) {
  Set(m, v, "a", x.a), Set(m, v, "b", x.b), Set(m, v, "c", x.c), Set(m, v, "d", x.d), Set(m, v, "tx", x.tx), Set(m, v, "ty", x.ty);
}
NATIVE(MatrixIdentity) { WriteM(m, self, {1, 0, 0, 1, 0, 0}); return Value(); }
NATIVE(MatrixTranslate) {
  M6 x = ReadM(m, self);
  x.tx += avm2::ArgNum(m, a, 0, 0), x.ty += avm2::ArgNum(m, a, 1, 0);
  WriteM(m, self, x);
  return Value();
}
NATIVE(MatrixScale) {
  const double sx = avm2::ArgNum(m, a, 0, 1), sy = avm2::ArgNum(m, a, 1, 1);
  WriteM(m, self, ReadM(m, self).Then({sx, 0, 0, sy, 0, 0}));
  return Value();
}
NATIVE(MatrixRotate) {
  const double r = avm2::ArgNum(m, a, 0, 0);
  WriteM(m, self, ReadM(m, self).Then({std::cos(r), std::sin(r), -std::sin(r), std::cos(r), 0, 0}));
  return Value();
}
NATIVE(MatrixConcat) {
  WriteM(m, self, ReadM(m, self).Then(ReadM(m, m.ArgOr(a, 0))));
  return Value();
}
NATIVE(MatrixInvert) {
  const M6 x = ReadM(m, self);
  M6 inverse;
  // A singular matrix leaves no scale, the translation negated.
  if (!x.Invert(inverse)) inverse = {0, 0, 0, 0, -x.tx, -x.ty};
  WriteM(m, self, inverse);
  return Value();
}
NATIVE(MatrixTransformPoint) {
  const M6 x = ReadM(m, self);
  double px = GetN(m, m.ArgOr(a, 0), "x"), py = GetN(m, m.ArgOr(a, 0), "y");
  x.Apply(px, py, px, py);
  return NewPoint(m, px, py);
}
NATIVE(MatrixDeltaTransformPoint) {
  const M6 x = ReadM(m, self);
  const double px = GetN(m, m.ArgOr(a, 0), "x"), py = GetN(m, m.ArgOr(a, 0), "y");
  return NewPoint(m, x.a * px + x.c * py, x.b * px + x.d * py);
}
NATIVE(MatrixCreateBox) {
  const double sx = avm2::ArgNum(m, a, 0, 1), sy = avm2::ArgNum(m, a, 1, 1), r = avm2::ArgNum(m, a, 2, 0);
  WriteM(m, self, M6::Box(sx, sy, r, avm2::ArgNum(m, a, 3, 0), avm2::ArgNum(m, a, 4, 0)));
  return Value();
}
NATIVE(MatrixCreateGradientBox) {
  const double w = avm2::ArgNum(m, a, 0, 0), h = avm2::ArgNum(m, a, 1, 0), r = avm2::ArgNum(m, a, 2, 0);
  const double tx = avm2::ArgNum(m, a, 3, 0), ty = avm2::ArgNum(m, a, 4, 0);
  WriteM(m, self, M6::GradientBox(w, h, r, tx, ty));
  return Value();
}
NATIVE(MatrixClone) {
  const M6 x = ReadM(m, self);
  Value args[6] = {Value::Number(x.a), Value::Number(x.b), Value::Number(x.c), Value::Number(x.d), Value::Number(x.tx), Value::Number(x.ty)};
  return Value::Obj(m.Construct(B(m).matrixClass, args));
}
NATIVE(MatrixCopyFrom) {
  const Value from = m.ArgOr(a, 0);
  if (from.IsNullish()) m.ThrowError("TypeError", "Parameter sourceMatrix must be non-null.", 2007);
  WriteM(m, self, ReadM(m, from));
  return Value();
}
NATIVE(MatrixSetTo) {
  WriteM(m, self, {avm2::ArgNum(m, a, 0, 0), avm2::ArgNum(m, a, 1, 0), avm2::ArgNum(m, a, 2, 0),
                   avm2::ArgNum(m, a, 3, 0), avm2::ArgNum(m, a, 4, 0), avm2::ArgNum(m, a, 5, 0)});
  return Value();
}
// Rows and columns of the 3 x 3 matrix (a c tx / b d ty / 0 0 1) into a
// Vector3D's x, y, z; past the last, the last.
void PutXyz(Machine& m, const Value& v, double x, double y, double z) {
  if (v.IsNullish()) m.ThrowError("TypeError", "Parameter vector3D must be non-null.", 2007);
  m.SetProperty(v, "x", Value::Number(x)), m.SetProperty(v, "y", Value::Number(y)), m.SetProperty(v, "z", Value::Number(z));
}
NATIVE(MatrixCopyRowTo) {
  const M6 x = ReadM(m, self);
  const std::uint32_t row = m.ToUint(m.ArgOr(a, 0));
  if (row == 0) PutXyz(m, m.ArgOr(a, 1), x.a, x.c, x.tx);
  else if (row == 1) PutXyz(m, m.ArgOr(a, 1), x.b, x.d, x.ty);
  else PutXyz(m, m.ArgOr(a, 1), 0, 0, 1);
  return Value();
}
NATIVE(MatrixCopyColumnTo) {
  const M6 x = ReadM(m, self);
  const std::uint32_t col = m.ToUint(m.ArgOr(a, 0));
  if (col == 0) PutXyz(m, m.ArgOr(a, 1), x.a, x.b, 0);
  else if (col == 1) PutXyz(m, m.ArgOr(a, 1), x.c, x.d, 0);
  else PutXyz(m, m.ArgOr(a, 1), x.tx, x.ty, 1);
  return Value();
}
// Flash's copyColumnFrom writes rows as copyRowFrom does; rows past the
// second change nothing.
NATIVE(MatrixCopyRowFrom) {
  const Value v = m.ArgOr(a, 1);
  if (v.IsNullish()) m.ThrowError("TypeError", "Parameter vector3D must be non-null.", 2007);
  M6 x = ReadM(m, self);
  const std::uint32_t row = m.ToUint(m.ArgOr(a, 0));
  const double vx = m.ToNumber(m.GetProperty(v, "x")), vy = m.ToNumber(m.GetProperty(v, "y"));
  const double vz = m.ToNumber(m.GetProperty(v, "z"));
  if (row == 0) x.a = vx, x.c = vy, x.tx = vz;
  else if (row == 1) x.b = vx, x.d = vy, x.ty = vz;
  else return Value();
  WriteM(m, self, x);
  return Value();
}
NATIVE(MatrixToString) {
  const M6 x = ReadM(m, self);
  return m.Str("(a=" + avm2::NumberToString(x.a) + ", b=" + avm2::NumberToString(x.b) + ", c=" + avm2::NumberToString(x.c) +
               ", d=" + avm2::NumberToString(x.d) + ", tx=" + avm2::NumberToString(x.tx) + ", ty=" + avm2::NumberToString(x.ty) + ")");
}
NATIVE(CtCtor) {
  const char* names[] = {"redMultiplier", "greenMultiplier", "blueMultiplier", "alphaMultiplier",
                         "redOffset", "greenOffset", "blueOffset", "alphaOffset"};
  for (int i = 0; i < 8; ++i) Set(m, self, names[i], avm2::ArgNum(m, a, static_cast<std::size_t>(i), i < 4 ? 1 : 0));
  return self;
}
NATIVE(CtGetColor) {
  const auto c = (static_cast<std::uint32_t>(GetN(m, self, "redOffset")) & 255) << 16 |
                 (static_cast<std::uint32_t>(GetN(m, self, "greenOffset")) & 255) << 8 |
                 (static_cast<std::uint32_t>(GetN(m, self, "blueOffset")) & 255);
  return Value::Number(c);
}
NATIVE(CtSetColor) {
  const std::uint32_t c = m.ToUint(m.ArgOr(a, 0));
  Set(m, self, "redMultiplier", 0), Set(m, self, "greenMultiplier", 0), Set(m, self, "blueMultiplier", 0);
  Set(m, self, "redOffset", (c >> 16) & 255), Set(m, self, "greenOffset", (c >> 8) & 255), Set(m, self, "blueOffset", c & 255);
  return Value();
}
NATIVE(CtToString) {
  std::string out = "(";
  for (const char* n : {kRedM, kGreenM, kBlueM, kAlphaM, kRedO, kGreenO, kBlueO, kAlphaO})
    out += std::string(out.size() > 1 ? ", " : "") + n + "=" + m.ToString(Get(m, self, n));
  return m.Str(out + ")");
}
NATIVE(CtConcat) {
  const Value o = m.ArgOr(a, 0);
  for (const char* ch : {"red", "green", "blue", "alpha"}) {
    const std::string mul = std::string(ch) + "Multiplier", off = std::string(ch) + "Offset";
    const double m1 = GetN(m, self, mul.c_str()), o1 = GetN(m, self, off.c_str());
    const double m2 = GetN(m, o, mul.c_str()), o2 = GetN(m, o, off.c_str());
    Set(m, self, off.c_str(), o1 + m1 * o2);
    Set(m, self, mul.c_str(), m1 * m2);
  }
  return Value();
}

constexpr MemberRow kGeometryRows[] = {
    {"flash.geom::Transform", "matrix", Member::kGetter, TrGetMatrix},
    {"flash.geom::Transform", "matrix", Member::kSetter, TrSetMatrix},
    {"flash.geom::Transform", "colorTransform", Member::kGetter, TrGetColorTransform},
    {"flash.geom::Transform", "concatenatedMatrix", Member::kGetter, TrGetConcatenatedMatrix},
    {"flash.geom::Transform", "pixelBounds", Member::kGetter, TrGetPixelBounds},
    {"flash.geom::Transform", "matrix3D", Member::kGetter, TrGetMatrix3D},
    {"flash.geom::Transform", "getRelativeMatrix3D", Member::kMethod, TrGetRelativeMatrix3D},
    {"flash.geom::Transform", "matrix3D", Member::kSetter, TrSetMatrix3D},
    {"flash.geom::Transform", "perspectiveProjection", Member::kGetter, TrGetPerspective},
    {"flash.geom::Transform", "perspectiveProjection", Member::kSetter, TrSetPerspective},
    {"flash.geom::Transform", "colorTransform", Member::kSetter, TrSetColorTransform},
    // Declared fields, so that a sealed subclass sets them too.
    {"flash.geom::Point", "length", Member::kGetter, PointLength},
    {"flash.geom::Point", "add", Member::kMethod, PointAdd},
    {"flash.geom::Point", "subtract", Member::kMethod, PointSubtract},
    {"flash.geom::Point", "clone", Member::kMethod, PointClone},
    {"flash.geom::Point", "offset", Member::kMethod, PointOffset},
    {"flash.geom::Point", "setTo", Member::kMethod, PointSetTo},
    {"flash.geom::Point", "copyFrom", Member::kMethod, PointCopyFrom},
    {"flash.geom::Point", "normalize", Member::kMethod, PointNormalize},
    {"flash.geom::Point", "equals", Member::kMethod, PointEquals},
    {"flash.geom::Point", "toString", Member::kMethod, PointToString},
    {"flash.geom::Point", "distance", Member::kStaticMethod, PointDistance},
    {"flash.geom::Point", "interpolate", Member::kStaticMethod, PointInterpolate},
    {"flash.geom::Point", "polar", Member::kStaticMethod, PointPolar},
    {"flash.geom::Rectangle", "equals", Member::kMethod, RectEquals},
    {"flash.geom::Rectangle", "containsRect", Member::kMethod, RectContainsRect},
    {"flash.geom::Rectangle", "setEmpty", Member::kMethod, RectSetEmpty},
    {"flash.geom::Rectangle", "copyFrom", Member::kMethod, RectCopyFrom},
    {"flash.geom::Rectangle", "offsetPoint", Member::kMethod, RectOffsetPoint},
    {"flash.geom::Rectangle", "inflatePoint", Member::kMethod, RectInflatePoint},
    {"flash.geom::Rectangle", "left", Member::kGetter, RectLeft},
    {"flash.geom::Rectangle", "top", Member::kGetter, RectTop},
    {"flash.geom::Rectangle", "right", Member::kGetter, RectRight},
    {"flash.geom::Rectangle", "bottom", Member::kGetter, RectBottom},
    {"flash.geom::Rectangle", "left", Member::kSetter, RectSetLeft},
    {"flash.geom::Rectangle", "top", Member::kSetter, RectSetTop},
    {"flash.geom::Rectangle", "right", Member::kSetter, RectSetRight},
    {"flash.geom::Rectangle", "bottom", Member::kSetter, RectSetBottom},
    {"flash.geom::Rectangle", "topLeft", Member::kGetter, RectTopLeft},
    {"flash.geom::Rectangle", "topLeft", Member::kSetter, RectSetTopLeft},
    {"flash.geom::Rectangle", "bottomRight", Member::kGetter, RectBottomRight},
    {"flash.geom::Rectangle", "bottomRight", Member::kSetter, RectSetBottomRight},
    {"flash.geom::Rectangle", "size", Member::kGetter, RectSize},
    {"flash.geom::Rectangle", "size", Member::kSetter, RectSetSize},
    {"flash.geom::Rectangle", "isEmpty", Member::kMethod, RectIsEmpty},
    {"flash.geom::Rectangle", "contains", Member::kMethod, RectContains},
    {"flash.geom::Rectangle", "containsPoint", Member::kMethod, RectContainsPoint},
    {"flash.geom::Rectangle", "clone", Member::kMethod, RectClone},
    {"flash.geom::Rectangle", "intersects", Member::kMethod, RectIntersects},
    {"flash.geom::Rectangle", "intersection", Member::kMethod, RectIntersection},
    {"flash.geom::Rectangle", "union", Member::kMethod, RectUnion},
    {"flash.geom::Rectangle", "offset", Member::kMethod, RectOffset},
    {"flash.geom::Rectangle", "inflate", Member::kMethod, RectInflate},
    {"flash.geom::Rectangle", "setTo", Member::kMethod, RectSetTo},
    {"flash.geom::Rectangle", "toString", Member::kMethod, RectToString},
    {"flash.geom::Matrix", "identity", Member::kMethod, MatrixIdentity},
    {"flash.geom::Matrix", "translate", Member::kMethod, MatrixTranslate},
    {"flash.geom::Matrix", "scale", Member::kMethod, MatrixScale},
    {"flash.geom::Matrix", "rotate", Member::kMethod, MatrixRotate},
    {"flash.geom::Matrix", "concat", Member::kMethod, MatrixConcat},
    {"flash.geom::Matrix", "invert", Member::kMethod, MatrixInvert},
    {"flash.geom::Matrix", "transformPoint", Member::kMethod, MatrixTransformPoint},
    {"flash.geom::Matrix", "deltaTransformPoint", Member::kMethod, MatrixDeltaTransformPoint},
    {"flash.geom::Matrix", "createBox", Member::kMethod, MatrixCreateBox},
    {"flash.geom::Matrix", "createGradientBox", Member::kMethod, MatrixCreateGradientBox},
    {"flash.geom::Matrix", "clone", Member::kMethod, MatrixClone},
    {"flash.geom::Matrix", "copyFrom", Member::kMethod, MatrixCopyFrom},
    {"flash.geom::Matrix", "setTo", Member::kMethod, MatrixSetTo},
    {"flash.geom::Matrix", "copyRowTo", Member::kMethod, MatrixCopyRowTo},
    {"flash.geom::Matrix", "copyColumnTo", Member::kMethod, MatrixCopyColumnTo},
    {"flash.geom::Matrix", "copyRowFrom", Member::kMethod, MatrixCopyRowFrom},
    {"flash.geom::Matrix", "copyColumnFrom", Member::kMethod, MatrixCopyRowFrom},
    {"flash.geom::Matrix", "toString", Member::kMethod, MatrixToString},
    {"flash.geom::ColorTransform", "redMultiplier", Member::kGetter, NumberFieldGet<kRedM>},
    {"flash.geom::ColorTransform", "redMultiplier", Member::kSetter, NumberFieldSet<kRedM>},
    {"flash.geom::ColorTransform", "greenMultiplier", Member::kGetter, NumberFieldGet<kGreenM>},
    {"flash.geom::ColorTransform", "greenMultiplier", Member::kSetter, NumberFieldSet<kGreenM>},
    {"flash.geom::ColorTransform", "blueMultiplier", Member::kGetter, NumberFieldGet<kBlueM>},
    {"flash.geom::ColorTransform", "blueMultiplier", Member::kSetter, NumberFieldSet<kBlueM>},
    {"flash.geom::ColorTransform", "alphaMultiplier", Member::kGetter, NumberFieldGet<kAlphaM>},
    {"flash.geom::ColorTransform", "alphaMultiplier", Member::kSetter, NumberFieldSet<kAlphaM>},
    {"flash.geom::ColorTransform", "redOffset", Member::kGetter, NumberFieldGet<kRedO>},
    {"flash.geom::ColorTransform", "redOffset", Member::kSetter, NumberFieldSet<kRedO>},
    {"flash.geom::ColorTransform", "greenOffset", Member::kGetter, NumberFieldGet<kGreenO>},
    {"flash.geom::ColorTransform", "greenOffset", Member::kSetter, NumberFieldSet<kGreenO>},
    {"flash.geom::ColorTransform", "blueOffset", Member::kGetter, NumberFieldGet<kBlueO>},
    {"flash.geom::ColorTransform", "blueOffset", Member::kSetter, NumberFieldSet<kBlueO>},
    {"flash.geom::ColorTransform", "alphaOffset", Member::kGetter, NumberFieldGet<kAlphaO>},
    {"flash.geom::ColorTransform", "alphaOffset", Member::kSetter, NumberFieldSet<kAlphaO>},
    {"flash.geom::ColorTransform", "color", Member::kGetter, CtGetColor},
    {"flash.geom::ColorTransform", "color", Member::kSetter, CtSetColor},
    {"flash.geom::ColorTransform", "concat", Member::kMethod, CtConcat},
    {"flash.geom::ColorTransform", "toString", Member::kMethod, CtToString},
};

constexpr ClassRow kGeometryClasses[] = {
    {"flash.geom", "Transform", "", Alloc<TransformObject>, nullptr, false, &As3Display::transformClass},
    {"flash.geom", "Point", "", nullptr, PointCtor, false, &As3Display::pointClass},
    {"flash.geom", "Rectangle", "", nullptr, RectCtor, false, &As3Display::rectangleClass},
    {"flash.geom", "Matrix", "", nullptr, MatrixCtor, false, &As3Display::matrixClass},
    {"flash.geom", "ColorTransform", "", nullptr, CtCtor, true, &As3Display::colorTransformClass},
};

// Flash declares these classes sealed, their fields public variables of
// type Number: never enumerated, written by AMF as sealed members.
void InstallGeometry(As3Display& b) {
  Register(b, kGeometryClasses, kGeometryRows);
  const std::pair<Class*, std::vector<std::string_view>> fields[] = {
      {b.pointClass, {"x", "y"}},
      {b.rectangleClass, {"x", "y", "width", "height"}},
      {b.matrixClass, {"a", "b", "c", "d", "tx", "ty"}},
  };
  for (const auto& [cls, names] : fields)
    for (std::string_view name : names) b.m.AddVar(cls, name, b.m.numberClass, Value::Number(0));
}
}  // namespace quarvel::player::as3
