// DisplayObject (position, scale, rotation, alpha, bounds, masks, 3D
// placement), InteractiveObject and BlendMode.
#include "player/as3/display_binding_p.h"
#include "player/as3/flash_api.h"
#include "player/text/text_field.h"

namespace quarvel::player::as3 {

// ---- natives: DisplayObject

// The node of a display object, or of the one a Transform belongs to.
// A constructor may use its display object before it calls super(): the
// node is made on first use, as Flash makes it with the object.
FlashObject* Made(Machine& m, FlashObject* f) {
  As3Display& b = B(m);
  if (f && f != b.stageObject && f->handle == kNoClip && f->cls && f->cls->IsSubclassOf(b.displayObjectClass) &&
      !f->cls->IsSubclassOf(b.stageClass))
    MakeNode(m, f);
  return f;
}
Instance* SelfNode(Machine& m, const Value& self) {
  if (TransformObject* t = As<TransformObject>(self)) return B(m).Node(t->handle);
  FlashObject* f = Made(m, As<FlashObject>(self));
  return f ? B(m).Node(f->handle) : nullptr;
}
TimelineState* SelfTimeline(Machine& m, const Value& self) {
  FlashObject* f = Made(m, As<FlashObject>(self));
  return f ? B(m).Timeline(f->handle) : nullptr;
}

// A script may not make a bare DisplayObject, InteractiveObject,
// DisplayObjectContainer, MorphShape, StaticText or AVM1Movie, nor a class of its own built right
// on one: `new` throws before any constructor runs. The timeline's are
// made all the same.
avm2::Object* AllocDisplayObject(Machine& m, Class* cls) {
  As3Display& b = B(m);
  if (!b.timelineAllocating && cls) {
    const Class* native = cls;
    while (native && native->unit) native = native->super;
    if (native && (native == b.displayObjectClass || native == b.interactiveClass || native == b.containerClass ||
                   native == b.morphClass || native == b.staticTextClass || native == b.avm1MovieClass))
      m.ThrowError("ArgumentError", cls->name + "$ class cannot be instantiated.", 2012);
  }
  return m.heap().New<DisplayObj>();
}
NATIVE(DisplayObjectCtor) {
  FlashObject* f = As<FlashObject>(self);
  MakeNode(m, f);
  if (f && f->handle != kNoClip) B(m).BuildChildren(f);
  return self;
}

void MakeNode(Machine& m, FlashObject* f) {
  As3Display& b = B(m);
  if (!f || f->handle != kNoClip) return;
  // A class linked to a symbol makes that symbol's clip.
  const Character* def = &b.stage.EmptySprite();
  const auto [symbols, id] = b.SymbolOf(f->cls);
  // A shape symbol's class made by a script is an empty Shape: the symbol's
  // drawing comes only with a copy the timeline places.
  if (symbols)
    if (const Character* d = symbols->Find(id); d && d->kind != Character::Kind::kShape) def = d;
  const bool field = f->cls->IsSubclassOf(b.textFieldClass);
  if (field) def = &b.scriptFieldDef;
  Instance* inst = b.NewNode(def, symbols);
  if (!inst) m.ThrowError("Error", "Too many display objects.", 1000);
  if (field) MakeTextFieldOf(*inst, b.lib, true);
  // A clip a script made runs a frame behind those its timeline placed.
  if (!b.timelineAllocating) inst->skipNextStep = true;
  f->handle = inst->serial;
  b.objects[f->handle] = f;
  b.HoldSpriteTimeline(f);
  // A button symbol's class has its states made with the object, before
  // its constructor's own code reads it.
  if (def->kind == Character::Kind::kButton && !b.timelineAllocating) b.BuildButtonStates(f);
}

bool IsRoot(Machine& m, const Value& self) {
  FlashObject* f = As<FlashObject>(self);
  return f && f != B(m).stageObject && f->handle == kRootClip;
}
Matrix& Mx(Machine& m, const Value& self, Instance*& inst) {
  inst = SelfNode(m, self);
  static Matrix dummy;
  if (IsRoot(m, self)) return B(m).stage.Root().matrix;
  if (!inst) {
    dummy = Matrix{};
    return dummy;
  }
  return inst->matrix;
}
double Finite(Machine& m, std::span<Value> a) {
  const double d = avm2::ArgNum(m, a, 0, 0);
  return std::isfinite(d) ? d : 0;
}

// x and y to twips as Flash converts them: toward zero, and anything past
// the 32-bit range to its lowest value.
std::int32_t PositionTwips(Machine& m, std::span<Value> a) {
  const double t = std::trunc(Finite(m, a) * 20);
  return t >= -2147483648.0 && t <= 2147483647.0 ? static_cast<std::int32_t>(t) : INT32_MIN;
}

NATIVE(DoGetX) { Instance* i; return Value::Number(Mx(m, self, i).translateX / 20.0); }
NATIVE(DoGetY) { Instance* i; return Value::Number(Mx(m, self, i).translateY / 20.0); }
NATIVE(DoSetX) {
  Instance* i;
  Matrix& mx = Mx(m, self, i);
  mx.translateX = PositionTwips(m, a);
  if (i) i->scripted = true;
  return Value();
}
NATIVE(DoSetY) {
  Instance* i;
  Matrix& mx = Mx(m, self, i);
  mx.translateY = PositionTwips(m, a);
  if (i) i->scripted = true;
  return Value();
}
// The transform a script reads and writes: a node's, or the main timeline's own.
struct Placement {
  Matrix* matrix = nullptr;
  transform::Kept* kept = nullptr;
  ColorTransform* cxform = nullptr;
  Instance* node = nullptr;
};
Placement PlacementOf(Machine& m, const Value& self) {
  As3Display& b = B(m);
  if (IsRoot(m, self)) return {&b.stage.Root().matrix, &b.rootKept, &b.stage.Root().cxform, nullptr};
  Instance* i = SelfNode(m, self);
  if (!i) return {};
  return {&i->matrix, &i->scriptTransform, &i->cxform, i};
}
void Scripted(const Placement& p) {
  if (p.node) p.node->scripted = true;
}
NATIVE(DoGetScaleX) {
  const Placement p = PlacementOf(m, self);
  return Value::Number(p.matrix ? transform::ScaleX(*p.matrix, *p.kept) : 1);
}
NATIVE(DoGetScaleY) {
  const Placement p = PlacementOf(m, self);
  return Value::Number(p.matrix ? transform::ScaleY(*p.matrix, *p.kept) : 1);
}
NATIVE(DoGetRotation) {
  const Placement p = PlacementOf(m, self);
  return Value::Number(p.matrix ? transform::RotationDegrees(*p.matrix, *p.kept) : 0);
}
// NaN is kept and read back: a NaN scale zeroes its column of the matrix,
// a NaN rotation leaves the matrix as it is.
void KeepAsIs(const Placement& p, const transform::ScriptTransform& t) {
  transform::Kept& kept = *p.kept;
  kept.script = t;
  kept.held = true;
  kept.linear = {p.matrix->scaleX, p.matrix->rotateSkew0, p.matrix->rotateSkew1, p.matrix->scaleY};
}
void SetScaleNaN(const Placement& p, bool x) {
  transform::ScriptTransform t = transform::Read(*p.matrix, *p.kept);
  (x ? t.xscale : t.yscale) = std::nan("");
  if (x) p.matrix->scaleX = p.matrix->rotateSkew0 = 0;
  else p.matrix->rotateSkew1 = p.matrix->scaleY = 0;
  KeepAsIs(p, t);
}
// Flash keeps a scale in percent: what reads back is the factor through
// percent and back (-1 + 2/550 reads as -0.9963636363636365).
double ThroughPercent(double factor) {
  return factor * 100 / 100;
}
NATIVE(DoSetScaleX) {
  const Placement p = PlacementOf(m, self);
  if (!p.matrix) return Value();
  if (std::isnan(avm2::ArgNum(m, a, 0, 0))) SetScaleNaN(p, true);
  else transform::SetScaleX(*p.matrix, *p.kept, ThroughPercent(Finite(m, a)));
  Scripted(p);
  return Value();
}
NATIVE(DoSetScaleY) {
  const Placement p = PlacementOf(m, self);
  if (!p.matrix) return Value();
  if (std::isnan(avm2::ArgNum(m, a, 0, 0))) SetScaleNaN(p, false);
  else transform::SetScaleY(*p.matrix, *p.kept, ThroughPercent(Finite(m, a)));
  Scripted(p);
  return Value();
}
NATIVE(DoSetRotation) {
  const Placement p = PlacementOf(m, self);
  if (!p.matrix) return Value();
  const double v = avm2::ArgNum(m, a, 0, 0);
  if (std::isnan(v)) {
    transform::ScriptTransform t = transform::Read(*p.matrix, *p.kept);
    t.degrees = v;
    KeepAsIs(p, t);
  } else {
    transform::SetRotationDegrees(*p.matrix, *p.kept, Finite(m, a));
  }
  Scripted(p);
  return Value();
}
NATIVE(DoGetAlpha) {
  const Placement p = PlacementOf(m, self);
  return Value::Number(p.cxform ? p.cxform->alphaMult / 256.0 : 1.0);
}
NATIVE(DoSetAlpha) {
  const Placement p = PlacementOf(m, self);
  if (p.cxform) {
    p.cxform->alphaMult = static_cast<std::int32_t>(std::lround(std::clamp(Finite(m, a), -128.0, 128.0) * 256));
    Scripted(p);
  }
  return Value();
}
NATIVE(DoGetVisible) {
  Instance* i = SelfNode(m, self);
  return Value::Bool(!i || i->visible);
}
NATIVE(DoSetVisible) {
  if (Instance* i = SelfNode(m, self)) i->visible = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
NATIVE(DoGetCacheAsBitmap) {
  Instance* i = SelfNode(m, self);
  return Value::Bool(i && (i->cacheAsBitmap || !i->filters.empty()));
}
NATIVE(DoSetCacheAsBitmap) {
  if (Instance* i = SelfNode(m, self)) i->cacheAsBitmap = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
// scrollRect: the object shows that rectangle of its own space at its origin.
NATIVE(DoGetScrollRect) {
  Instance* i = SelfNode(m, self);
  if (!i || !i->scrollRect) return Value::Null();
  const auto& r = *i->scrollRect;
  Value args[] = {Value::Number(r[0]), Value::Number(r[1]), Value::Number(r[2]), Value::Number(r[3])};
  return Value::Obj(m.Construct(B(m).rectangleClass, args));
}
NATIVE(DoSetScrollRect) {
  Instance* i = SelfNode(m, self);
  if (!i) return Value();
  const Value r = m.ArgOr(a, 0);
  Stage& stage = B(m).stage;
  if (!r.IsObject()) {
    stage.SetScrollRect(*i, std::nullopt);
    return Value();
  }
  const double x = m.ToNumber(m.GetProperty(r, "x")), y = m.ToNumber(m.GetProperty(r, "y"));
  const double w = m.ToNumber(m.GetProperty(r, "width")), h = m.ToNumber(m.GetProperty(r, "height"));
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) {
    stage.SetScrollRect(*i, std::nullopt);
    return Value();
  }
  // Flash keeps the window's edges in whole pixels, rounded half to even.
  const double x0 = std::nearbyint(x), y0 = std::nearbyint(y);
  const double x1 = std::nearbyint(x + w), y1 = std::nearbyint(y + h);
  stage.SetScrollRect(*i, std::array<double, 4>{x0, y0, std::max(0.0, x1 - x0), std::max(0.0, y1 - y0)});
  return Value();
}
// scale9Grid: the rectangle of its own space (pixels) that stretches while
// what lies outside keeps its size; a symbol's grid reads back until a script
// sets one. null clears it.
NATIVE(DoGetScale9Grid) {
  Instance* i = SelfNode(m, self);
  if (!i) return Value::Null();
  std::optional<Rect> grid = i->scale9Grid;
  if (!grid && i->def) {
    const auto& grids = B(m).lib.scalingGrids;
    if (auto it = grids.find(i->def->id); it != grids.end()) grid = it->second;
  }
  if (!grid) return Value::Null();
  Value args[] = {Value::Number(grid->xmin / 20.0), Value::Number(grid->ymin / 20.0), Value::Number(grid->Width() / 20.0),
                  Value::Number(grid->Height() / 20.0)};
  return Value::Obj(m.Construct(B(m).rectangleClass, args));
}
NATIVE(DoSetScale9Grid) {
  Instance* i = SelfNode(m, self);
  if (!i) return Value();
  const Value r = m.ArgOr(a, 0);
  i->scale9Grid.reset();
  if (!r.IsObject()) return Value();
  const double x = m.ToNumber(m.GetProperty(r, "x")), y = m.ToNumber(m.GetProperty(r, "y"));
  const double w = m.ToNumber(m.GetProperty(r, "width")), h = m.ToNumber(m.GetProperty(r, "height"));
  const auto twips = [](double v) { return static_cast<std::int32_t>(std::lround(std::clamp(v * 20, -2e9, 2e9))); };
  if (std::isfinite(x) && std::isfinite(y) && std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0)
    i->scale9Grid = Rect{twips(x), twips(x + w), twips(y), twips(y + h)};
  return Value();
}
// opaqueBackground: null, or the RGB filled under the object's bounds.
NATIVE(DoGetOpaque) {
  Instance* i = SelfNode(m, self);
  if (!i || !i->opaqueBackground) return Value::Null();
  return Value::Number(static_cast<double>(*i->opaqueBackground & 0xFFFFFF));
}
NATIVE(DoSetOpaque) {
  Instance* i = SelfNode(m, self);
  if (!i) return Value();
  const Value v = m.ArgOr(a, 0);
  if (v.IsNullish()) i->opaqueBackground.reset();
  else i->opaqueBackground = m.ToUint(v) & 0xFFFFFF;
  return Value();
}
// The object's own numbers in three dimensions; the renderer composes
// them with its ancestors' and the perspective they are seen through.
void Update3D(As3Display& b, FlashObject* f) {
  Instance* i = b.Node(f->handle);
  if (!i) return;
  if (f->z == 0 && f->rotationX == 0 && f->rotationY == 0 && f->scaleZ == 1) {
    i->depth3D.reset();
    return;
  }
  i->depth3D = Depth3D{f->z * 20, f->rotationX, f->rotationY, f->scaleZ};
}
// z, rotationX, rotationY and scaleZ.
template <double FlashObject::*kField>
Value DoGet3D(Machine&, Value self, std::span<Value>) {
  FlashObject* f = As<FlashObject>(self);
  return Value::Number(f ? f->*kField : 0);
}
template <double FlashObject::*kField>
Value DoSet3D(Machine& m, Value self, std::span<Value> a) {
  FlashObject* f = As<FlashObject>(self);
  if (!f) return Value();
  const double v = m.ToNumber(m.ArgOr(a, 0));
  if (!std::isfinite(v)) return Value();
  f->*kField = v;
  Update3D(B(m), f);
  return Value();
}
NATIVE(DoGetName) {
  FlashObject* f = As<FlashObject>(self);
  if (f && f->handle == kRootClip) return m.Str("root1");
  Instance* i = SelfNode(m, self);
  return i ? m.Str(i->name) : Value::Null();
}
NATIVE(DoSetName) {
  FlashObject* f = Made(m, As<FlashObject>(self));
  // A loaded movie's main timeline is the timeline's too.
  if (f && f->handle != kNoClip && (!B(m).scriptNodes.count(f->handle) || B(m).loadedRoots.count(f->handle)))
    m.ThrowError("flash.errors::IllegalOperationError", "The name property of a Timeline-placed object cannot be modified.", 2078);
  if (Instance* i = SelfNode(m, self)) i->name = avm2::ArgStr(m, a, 0, "");
  return Value();
}
NATIVE(DoGetMetaData) {
  FlashObject* f = As<FlashObject>(self);
  return f && !f->metaData.IsUndefined() ? f->metaData : Value::Null();
}
NATIVE(DoSetMetaData) {
  if (FlashObject* f = As<FlashObject>(self)) f->metaData = m.ArgOr(a, 0);
  return Value();
}
NATIVE(DoGetParent) {
  FlashObject* f = As<FlashObject>(self);
  if (!f || f->handle == kRootClip) return f && f->handle == kRootClip && B(m).stageObject ? Value::Obj(B(m).stageObject) : Value::Null();
  Instance* i = SelfNode(m, self);
  if (!i || i->parent == kNoClip) return Value::Null();
  if (i->stageChild && i->parent == kRootClip && B(m).stageObject) return Value::Obj(B(m).stageObject);
  // A button's state is held by the button, which is no container.
  if (const Instance* p = B(m).Node(i->parent); p && p->def && p->def->kind == Character::Kind::kButton) return Value::Null();
  if (FlashObject* p = B(m).Existing(i->parent); p && p->cls && p->cls->IsSubclassOf(B(m).buttonClass)) return Value::Null();
  return B(m).ValueFor(i->parent);
}
NATIVE(DoGetStage) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  // The stage is on itself: stage.stage is the stage.
  if (!f || (f != b.stageObject && !b.OnStage(f->handle))) return Value::Null();
  return Value::Obj(b.stageObject);
}
NATIVE(DoGetRoot) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  // In a movie a Loader loaded, its own main timeline.
  if (f)
    if (const ClipHandle r = b.LoadedRootOf(f->handle); r != kNoClip) return b.ValueFor(r);
  if (f && f == b.stageObject) return Value::Obj(f);  // the stage is its own root
  if (!f || !b.UnderRoot(f->handle)) return Value::Null();
  return b.ValueFor(kRootClip);
}
// The box around `r` carried through `mx`.
Rect MapRect(const Matrix& mx, const Rect& r) {
  double xs[4], ys[4];
  const double cx[4] = {double(r.xmin), double(r.xmax), double(r.xmin), double(r.xmax)};
  const double cy[4] = {double(r.ymin), double(r.ymin), double(r.ymax), double(r.ymax)};
  for (int k = 0; k < 4; ++k) {
    xs[k] = transform::RoundTwips(transform::LinearF(mx.scaleX, cx[k], mx.rotateSkew1, cy[k])) + double(mx.translateX);
    ys[k] = transform::RoundTwips(transform::LinearF(mx.rotateSkew0, cx[k], mx.scaleY, cy[k])) + double(mx.translateY);
  }
  auto lo = [](const double* v) { return static_cast<std::int32_t>(std::min({v[0], v[1], v[2], v[3]})); };
  auto hi = [](const double* v) { return static_cast<std::int32_t>(std::max({v[0], v[1], v[2], v[3]})); };
  return Rect{lo(xs), hi(xs), lo(ys), hi(ys)};
}
bool NodeBounds(Machine& m, const Value& self, Rect& r, bool local, bool edges = false) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (!f) return false;
  if (f->handle == kRootClip || f == b.stageObject) {
    // The main timeline (and the stage around it): the union of its children and drawing.
    TimelineState& root = b.stage.Root();
    bool any = false;
    for (auto& [d, c] : root.list) {
      Rect cr;
      if (!b.stage.Bounds(c, cr, false, edges)) continue;
      if (!any) r = cr;
      r.xmin = std::min(r.xmin, cr.xmin), r.xmax = std::max(r.xmax, cr.xmax);
      r.ymin = std::min(r.ymin, cr.ymin), r.ymax = std::max(r.ymax, cr.ymax);
      any = true;
    }
    // The main timeline's own transform (a script may scale it) moves them into the stage.
    if (any && !local && f->handle == kRootClip && f != b.stageObject) r = MapRect(root.matrix, r);
    return any;
  }
  Instance* i = b.Node(f->handle);
  return i && b.stage.Bounds(*i, r, local, edges);
}
NATIVE(DoGetWidth) {
  Rect r;
  return Value::Number(NodeBounds(m, self, r, false) ? r.Width() / 20.0 : 0);
}
NATIVE(DoGetHeight) {
  Rect r;
  return Value::Number(NodeBounds(m, self, r, false) ? r.Height() / 20.0 : 0);
}
// The new size is a scale of the object's own box (so a zero scale comes
// back); a turned object scales its axis.
void SetSize(Machine& m, const Value& self, double v, bool width) {
  const Placement p = PlacementOf(m, self);
  // A negative size is ignored, as Flash does.
  if (!p.matrix || !std::isfinite(v) || v < 0) return;
  Rect r;
  if (p.matrix->rotateSkew0 == 0 && p.matrix->rotateSkew1 == 0) {
    if (!NodeBounds(m, self, r, true)) return;
    const double own = (width ? r.Width() : r.Height()) / 20.0;
    if (own <= 0) return;
    // A mirrored axis comes back unmirrored: the new scale is the size's, positive.
    if (width) transform::SetScaleX(*p.matrix, *p.kept, ThroughPercent(v / own));
    else transform::SetScaleY(*p.matrix, *p.kept, ThroughPercent(v / own));
  } else {
    if (!NodeBounds(m, self, r, false)) return;
    const double extent = (width ? r.Width() : r.Height()) / 20.0;
    if (extent <= 0) return;
    transform::SetExtent(*p.matrix, *p.kept, width, extent, v);
  }
  Scripted(p);
}
NATIVE(DoSetWidth) {
  SetSize(m, self, avm2::ArgNum(m, a, 0, 0), true);
  return Value();
}
NATIVE(DoSetHeight) {
  SetSize(m, self, avm2::ArgNum(m, a, 0, 0), false);
  return Value();
}
// The bounds of `self` in the space of `target` (the stage's for the stage
// or a value that is no display object), twips: its own bounds carried through its world
// transform and back through the target's.
bool BoundsIn(Machine& m, const Value& self, const Value& target, Rect& r, bool edges) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (!f || !NodeBounds(m, self, r, true, edges)) return false;
  FlashObject* t = As<FlashObject>(target);
  if (t == f) return true;
  cairo_matrix_t map = World(b, f->handle, false);
  if (t && t != b.stageObject) {
    cairo_matrix_t back = World(b, t->handle);
    if (cairo_matrix_invert(&back) != CAIRO_STATUS_SUCCESS) return false;
    cairo_matrix_t both;
    cairo_matrix_multiply(&both, &map, &back);
    map = both;
  }
  double xs[4] = {double(r.xmin), double(r.xmax), double(r.xmin), double(r.xmax)};
  double ys[4] = {double(r.ymin), double(r.ymin), double(r.ymax), double(r.ymax)};
  double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  for (int k = 0; k < 4; ++k) {
    cairo_matrix_transform_point(&map, &xs[k], &ys[k]);
    x0 = k ? std::min(x0, xs[k]) : xs[k], x1 = k ? std::max(x1, xs[k]) : xs[k];
    y0 = k ? std::min(y0, ys[k]) : ys[k], y1 = k ? std::max(y1, ys[k]) : ys[k];
  }
  r = {static_cast<std::int32_t>(std::lround(x0)), static_cast<std::int32_t>(std::lround(x1)),
       static_cast<std::int32_t>(std::lround(y0)), static_cast<std::int32_t>(std::lround(y1))};
  return true;
}
// getBounds, and getRect (`edges`: strokes left out).
// A text field asked about its bounds settles its auto-sized box first.
void SettleField(Machine& m, const Value& v) {
  if (Instance* i = SelfNode(m, v); i && i->field) i->field->Settle();
}
Value BoundsRect(Machine& m, Value self, std::span<Value> a, bool edges) {
  SettleField(m, self);
  Rect r;
  // A null space is the object's own.
  const bool any = a.empty() || a[0].IsNullish() ? NodeBounds(m, self, r, true, edges) : BoundsIn(m, self, a[0], r, edges);
  // The size is the difference of the edges in pixels, as Flash gives it
  // (91.64999999999998, not 91.65).
  Value args[4] = {Value::Number(any ? r.xmin / 20.0 : 0), Value::Number(any ? r.ymin / 20.0 : 0),
                   Value::Number(any ? r.xmax / 20.0 - r.xmin / 20.0 : 0),
                   Value::Number(any ? r.ymax / 20.0 - r.ymin / 20.0 : 0)};
  return Value::Obj(m.Construct(B(m).rectangleClass, args));
}
NATIVE(DoGetBounds) { return BoundsRect(m, self, a, false); }
NATIVE(DoGetRect) { return BoundsRect(m, self, a, true); }
// The world transform of a node (its own and its ancestors', each moved by
// its scrollRect as it is drawn, the node's own move left out when its
// bounds, which are its window's, are carried), twips.
cairo_matrix_t World(As3Display& b, ClipHandle h, bool ownScroll) {
  cairo_matrix_t w;
  cairo_matrix_init_identity(&w);
  for (int guard = 0; guard < 1000 && h != kRootClip && h != kNoClip; ++guard) {
    Instance* i = b.Node(h);
    if (!i) break;
    cairo_matrix_t own = ToCairo(i->matrix);
    const auto move = b.stage.ScrollMove(*i);
    if (ownScroll || guard > 0) cairo_matrix_translate(&own, -move[0] * 20, -move[1] * 20);
    cairo_matrix_t out;
    cairo_matrix_multiply(&out, &w, &own);
    w = out;
    h = i->parent;
  }
  if (h == kRootClip) {
    const cairo_matrix_t root = ToCairo(b.stage.Root().matrix);
    cairo_matrix_t out;
    cairo_matrix_multiply(&out, &w, &root);
    w = out;
  }
  return w;
}
// The chain of a node's matrices up to the main timeline, each as Flash holds
// it (single precision, whole twips) and moved by its window like World's;
// false when the chain ends off the stage.
static bool DeviceChain(As3Display& b, ClipHandle h, bool ownScroll, std::vector<rules::DeviceMatrix>& chain) {
  for (int guard = 0; guard < 1000 && h != kRootClip && h != kNoClip; ++guard) {
    Instance* i = b.Node(h);
    if (!i) break;
    rules::DeviceMatrix own = rules::DeviceMatrix::From(i->matrix);
    const auto move = b.stage.ScrollMove(*i);
    if (ownScroll || guard > 0)
      own = rules::DeviceMatrix::Move(static_cast<std::int32_t>(std::lround(-move[0] * 20)),
                                      static_cast<std::int32_t>(std::lround(-move[1] * 20))).Then(own);
    chain.push_back(own);
    h = i->parent;
  }
  if (h != kRootClip) return false;
  chain.push_back(rules::DeviceMatrix::From(b.stage.Root().matrix));
  return true;
}
// Samples a pixel of the stage's drawing grid at the script's quality.
static float DeviceSamples(As3Display& b) {
  const std::string& q = b.stage.ScriptQuality();
  if (q == "LOW") return 1;
  if (q == "MEDIUM") return 2;
  if (q.starts_with("8X8")) return 8;
  if (q.starts_with("16X16")) return 16;
  return 4;
}
rules::DeviceMatrix WorldDevice(As3Display& b, ClipHandle h, bool ownScroll, bool* onStage) {
  std::vector<rules::DeviceMatrix> chain;
  const bool staged = DeviceChain(b, h, ownScroll, chain);
  if (onStage) *onStage = staged;
  if (staged) return rules::ConcatenateForStage(chain, DeviceSamples(b));
  // Off the stage: the moves' arithmetic from the top down, no grid.
  rules::DeviceMatrix w = chain.empty() ? rules::DeviceMatrix{} : chain.back();
  for (std::size_t k = chain.size(); k-- > 1;) w = chain[k - 1].Then(w);
  return w;
}
rules::DeviceMatrix ConcatenatedDevice(As3Display& b, ClipHandle h, bool ofStage) {
  bool staged = false;
  rules::DeviceMatrix w;
  if (!ofStage) w = WorldDevice(b, h, false, &staged);
  if (staged) return w;
  rules::DeviceMatrix own;
  if (Instance* i = ofStage ? nullptr : b.Node(h)) own = rules::DeviceMatrix::From(i->matrix);
  return rules::OwnInGridUnits(own, DeviceSamples(b));
}
// Flash carries points between spaces in whole twips, cut toward zero
// (globalToLocal gives -21.4 where the exact point is -21.43); a point that
// is whole but for rounding stays whole.
static double CutTwips(double twips) {
  if (!std::isfinite(twips)) return twips;
  const double whole = std::round(twips);
  return std::abs(twips - whole) < 1e-6 ? whole : std::trunc(twips);
}
static double ToCutTwips(double pixels) { return CutTwips(pixels * 20); }
// The object's own scrollRect move (twips): points are cut in the space
// around its window, then moved.
static std::array<double, 2> OwnMove(As3Display& b, FlashObject* f) {
  const Instance* i = f ? b.Node(f->handle) : nullptr;
  if (!i) return {0, 0};
  const auto move = b.stage.ScrollMove(*i);
  return {move[0] * 20, move[1] * 20};
}
// Points go through the world matrix as Flash holds it: whole twips in and
// out, each step rounded (see rules::DeviceMatrix).
static std::int32_t InTwips(double pixels) {
  const double t = ToCutTwips(pixels);
  return std::isfinite(t) && std::abs(t) < 2147483647.0 ? static_cast<std::int32_t>(t) : 0;
}
NATIVE(DoLocalToGlobal) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  const Value p = m.ArgOr(a, 0);
  std::int32_t x = InTwips(m.ToNumber(m.GetProperty(p, "x"))), y = InTwips(m.ToNumber(m.GetProperty(p, "y")));
  if (f) {
    const auto move = OwnMove(b, f);
    x -= static_cast<std::int32_t>(std::lround(move[0])), y -= static_cast<std::int32_t>(std::lround(move[1]));
    WorldDevice(b, f->handle, false).Apply(x, y, x, y);
  }
  Value args[2] = {Value::Number(x / 20.0), Value::Number(y / 20.0)};
  return Value::Obj(m.Construct(b.pointClass, args));
}
NATIVE(DoGlobalToLocal) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  const Value p = m.ArgOr(a, 0);
  std::int32_t x = InTwips(m.ToNumber(m.GetProperty(p, "x"))), y = InTwips(m.ToNumber(m.GetProperty(p, "y")));
  if (f) {
    rules::DeviceMatrix back;
    if (WorldDevice(b, f->handle, false).Invert(back)) back.Apply(x, y, x, y);
    const auto move = OwnMove(b, f);
    x += static_cast<std::int32_t>(std::lround(move[0])), y += static_cast<std::int32_t>(std::lround(move[1]));
  }
  Value args[2] = {Value::Number(x / 20.0), Value::Number(y / 20.0)};
  return Value::Obj(m.Construct(b.pointClass, args));
}
// The object's space to the stage's in three dimensions, twips: each
// projection applied where its owner's space is reached, so that a point
// (x, y, z) is seen at (X / W, Y / W) of its product.
rules::M4 StageMatrix3D(As3Display& b, ClipHandle h, bool seen) {
  if (seen) b.BeforeDraw();
  rules::M4 t;
  if (b.stage.Space3D(h, t, seen)) return t;
  // Flat all the way: its world matrix.
  const cairo_matrix_t w = World(b, h);
  return rules::Flat4(w.xx, w.yx, w.xy, w.yy, w.x0, w.y0);
}
// local3DToGlobal: a point of the object's space as the stage shows it.
NATIVE(DoLocal3DToGlobal) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  const Value v = m.ArgOr(a, 0);
  if (!v.IsObject()) m.ThrowError("TypeError", "Parameter point3d must be non-null.", 2007);
  const auto num = [&](const char* n) { return m.ToNumber(m.GetProperty(v, n)) * 20; };
  std::array<double, 4> p{num("x"), num("y"), num("z"), 1};
  if (f && f != b.stageObject) p = rules::Apply4(StageMatrix3D(b, f->handle, true), p[0], p[1], p[2], 1);
  Value args[2] = {Value::Number(p[0] / p[3] / 20), Value::Number(p[1] / p[3] / 20)};
  return Value::Obj(m.Construct(b.pointClass, args));
}
// globalToLocal3D: the point of the object's plane (z = 0) seen at a stage point.
NATIVE(DoGlobalToLocal3D) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  const Value v = m.ArgOr(a, 0);
  if (!v.IsObject()) m.ThrowError("TypeError", "Parameter point must be non-null.", 2007);
  double x = m.ToNumber(m.GetProperty(v, "x")) * 20, y = m.ToNumber(m.GetProperty(v, "y")) * 20;
  if (f && f != b.stageObject) {
    const rules::M4 t = StageMatrix3D(b, f->handle, true);
    const rules::H3 plane{t[0], t[4], t[12], t[1], t[5], t[13], t[3], t[7], t[15]};
    rules::H3 inv;
    if (rules::Invert3(plane, inv)) {
      const double q = inv[6] * x + inv[7] * y + inv[8];
      const double u = (inv[0] * x + inv[1] * y + inv[2]) / q, w = (inv[3] * x + inv[4] * y + inv[5]) / q;
      x = u, y = w;
    } else {
      x = y = std::numeric_limits<double>::quiet_NaN();
    }
  }
  Value args[3] = {Value::Number(x / 20), Value::Number(y / 20), Value::Number(0)};
  return Value::Obj(m.Construct(m.FindClass("flash.geom::Vector3D"), args));
}
NATIVE(DoGetMouseX) { return Value::Int(0); }
// mouseX, mouseY: the pointer in the object's own space (the stage's for the stage), pixels.
template <bool kX>
Value DoMouse(Machine& m, Value self, std::span<Value>) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  double x = b.stage.PointerX(), y = b.stage.PointerY();
  if (f && f != b.stageObject && !b.stage.ToClipSpace(f->handle, x, y)) return Value::Int(0);
  return Value::Number((kX ? x : y) / 20.0);
}
NATIVE(DoGetMask) {
  Instance* i = SelfNode(m, self);
  return i && i->maskSerial ? B(m).ValueFor(i->maskSerial) : Value::Null();
}
NATIVE(DoSetMask) {
  As3Display& b = B(m);
  DisplayObj* mo = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
  Instance* inst = SelfNode(m, self);
  if (!inst) return Value();
  // A masked pair no longer masks by clip depth.
  inst->clipDepth = 0;
  if (inst->maskSerial)
    if (Instance* old = b.Node(inst->maskSerial)) old->scriptMask = false;
  Instance* mask = mo ? b.Node(mo->handle) : nullptr;
  if (!mask || mask == inst) {
    inst->maskSerial = kNoClip;
    return Value();
  }
  mask->clipDepth = 0;
  inst->maskSerial = mask->serial;
  mask->scriptMask = true;
  return Value();
}
NATIVE(DoGetTransform) {
  const Value v = Value::Obj(m.Instantiate(B(m).transformClass));
  if (TransformObject* t = As<TransformObject>(v))
    if (FlashObject* f = As<FlashObject>(self)) {
      t->handle = f->handle;
      t->ofStage = f == B(m).stageObject;
    }
  return v;
}
NATIVE(DoSetTransform) {
  Instance* i = SelfNode(m, self);
  TransformObject* t = ArgAs<TransformObject>(m, m.ArgOr(a, 0), "flash.geom::Transform");
  if (i && t) {
    if (Instance* src = B(m).Node(t->handle)) {
      i->matrix = src->matrix;
      i->cxform = src->cxform;
      i->scripted = true;
      // The third dimension comes along.
      FlashObject* from = B(m).Existing(t->handle);
      FlashObject* to = As<FlashObject>(self);
      if (from && to && from != to) {
        to->threeD = from->threeD, to->z = from->z, to->rotationX = from->rotationX;
        to->rotationY = from->rotationY, to->scaleZ = from->scaleZ;
        Update3D(B(m), to);
      }
    }
  }
  return Value();
}
// 15, "shader", blends with the blendShader (normal without one).
NATIVE(DoGetBlendMode) {
  Instance* i = SelfNode(m, self);
  const int b = i ? i->blendMode : 0;
  return m.Str(std::string(BlendModeName(b)));
}
NATIVE(DoSetBlendMode) {
  Instance* i = SelfNode(m, self);
  if (m.ArgOr(a, 0).IsNullish()) m.ThrowError("TypeError", "Parameter blendMode must be non-null.", 2007);
  const int mode = BlendModeNumber(avm2::ArgStr(m, a, 0, "normal"));
  if (mode <= 0) m.ThrowError("ArgumentError", "Parameter blendMode must be one of the accepted values.", 2008);
  if (i) i->blendMode = mode;
  return Value();
}

// The box around an object's bounds on the stage (xmin, xmax, ymin, ymax,
// twips); the main timeline's own space is the stage's.
bool StageBox(Machine& m, FlashObject* f, std::array<double, 4>& box) {
  As3Display& b = B(m);
  Rect r;
  if (!f || !NodeBounds(m, Value::Obj(f), r, false)) return false;
  const Instance* i = f->handle == kRootClip ? nullptr : b.Node(f->handle);
  const cairo_matrix_t w = i ? World(b, i->parent) : cairo_matrix_t{1, 0, 0, 1, 0, 0};
  double xs[4] = {double(r.xmin), double(r.xmax), double(r.xmin), double(r.xmax)};
  double ys[4] = {double(r.ymin), double(r.ymin), double(r.ymax), double(r.ymax)};
  box = {1e18, -1e18, 1e18, -1e18};
  for (int k = 0; k < 4; ++k) {
    cairo_matrix_transform_point(&w, &xs[k], &ys[k]);
    box = {std::min(box[0], xs[k]), std::max(box[1], xs[k]), std::min(box[2], ys[k]), std::max(box[3], ys[k])};
  }
  return true;
}
NATIVE(DoHitTestPoint) {
  // Flash takes the point in the main timeline's space and carries it to the
  // stage through the main timeline's place: moving the main timeline moves
  // the point with the object. Then with shapeFlag it is tested against what
  // the object draws, else against the object's box on the stage.
  SettleField(m, self);
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  Instance* i = SelfNode(m, self);
  double x = avm2::ArgNum(m, a, 0, 0) * 20, y = avm2::ArgNum(m, a, 1, 0) * 20;
  const bool shapes = f && m.ToBoolean(m.ArgOr(a, 2)) && (i || f->handle == kRootClip);
  // The main timeline's own box is in its own space already.
  if (f && (shapes || f->handle != kRootClip) && b.UnderRoot(f->handle)) {
    const cairo_matrix_t root = ToCairo(b.stage.Root().matrix);
    cairo_matrix_transform_point(&root, &x, &y);
  }
  if (shapes) return Value::Bool(b.stage.HitsShapes(f->handle, x, y));
  std::array<double, 4> box;
  if (!StageBox(m, f, box)) return Value::Bool(false);
  return Value::Bool(x >= box[0] && x <= box[1] && y >= box[2] && y <= box[3]);
}
NATIVE(DoIgnore) { return Value(); }
NATIVE(DoHitTestObject) {
  DisplayObj* other = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
  if (!other) m.ThrowError("TypeError", "Parameter obj must be non-null.", 2007);
  Made(m, As<FlashObject>(self));
  // Fields asked about settle their auto-sized boxes first.
  SettleField(m, self);
  SettleField(m, m.ArgOr(a, 0));
  std::array<double, 4> s1, s2;
  if (!StageBox(m, As<FlashObject>(self), s1) || !StageBox(m, other, s2)) return Value::Bool(false);
  return Value::Bool(s1[0] <= s2[1] && s2[0] <= s1[1] && s1[2] <= s2[3] && s2[2] <= s1[3]);
}

// focusRect and contextMenu: kept as set (null until then); tabIndex: -1 until set.
template <Value FlashObject::*kField>
Value IoGetValue(Machine&, Value self, std::span<Value>) {
  FlashObject* f = As<FlashObject>(self);
  return f && !(f->*kField).IsUndefined() ? f->*kField : Value::Null();
}
template <Value FlashObject::*kField>
Value IoSetValue(Machine& m, Value self, std::span<Value> a) {
  if (FlashObject* f = As<FlashObject>(self)) f->*kField = m.ArgOr(a, 0).IsUndefined() ? Value::Null() : m.ArgOr(a, 0);
  return Value();
}
// focusRect keeps null (for null or undefined) or a Boolean; anything else reads back false.
NATIVE(IoSetFocusRect) {
  if (FlashObject* f = As<FlashObject>(self)) {
    const Value v = m.ArgOr(a, 0);
    f->focusRect = v.IsNullish() ? Value::Null() : v.type == avm2::Type::kBoolean ? v : Value::Bool(false);
  }
  return Value();
}
NATIVE(IoGetTabIndex) {
  FlashObject* f = As<FlashObject>(self);
  return Value::Int(f ? f->tabIndex : -1);
}
NATIVE(IoSetTabIndex) {
  const std::int32_t v = m.ToInt(m.ArgOr(a, 0));
  if (v < -1)
    m.ThrowError("RangeError", "Parameter tabIndex must be a non-negative number; got " + std::to_string(v) + ".", 2027);
  if (FlashObject* f = As<FlashObject>(self)) f->tabIndex = v;
  return Value();
}
NATIVE(IoGetTabEnabled) {
  FlashObject* f = As<FlashObject>(self);
  return Value::Bool(f && B(m).TabEnabled(f));
}
NATIVE(IoSetTabEnabled) {
  if (FlashObject* f = As<FlashObject>(self)) f->tabEnabled = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
NATIVE(DocGetTabChildren) {
  FlashObject* f = As<FlashObject>(self);
  return Value::Bool(!f || f == B(m).stageObject || f->tabChildren);
}
NATIVE(DocSetTabChildren) {
  if (FlashObject* f = As<FlashObject>(self)) f->tabChildren = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}

// accessibilityImplementation and accessibilityProperties: kept for the
// script (no screen reader asks here), null until set, hidden from enumeration.
template <const char* kName>
Value HiddenGet(Machine&, Value self, std::span<Value>) {
  const avm2::Object* o = self.AsObject();
  const Value* v = o ? o->FindDyn(kName) : nullptr;
  return v ? *v : Value::Null();
}
template <const char* kName>
Value HiddenSet(Machine& m, Value self, std::span<Value> a) {
  if (avm2::Object* o = self.AsObject()) {
    o->SetDyn(m.Intern(kName), m.ArgOr(a, 0).IsUndefined() ? Value::Null() : m.ArgOr(a, 0));
    o->dyn->hidden.insert(kName);
  }
  return Value();
}
constexpr char kAccessImpl[] = "accessibilityImplementation";
constexpr char kAccessProps[] = "accessibilityProperties";

constexpr MemberRow kDisplayObjectRows[] = {
    {"flash.display::DisplayObject", "accessibilityProperties", Member::kGetter, HiddenGet<kAccessProps>},
    {"flash.display::DisplayObject", "accessibilityProperties", Member::kSetter, HiddenSet<kAccessProps>},
    {"flash.display::DisplayObject", "x", Member::kGetter, DoGetX},
    {"flash.display::DisplayObject", "x", Member::kSetter, DoSetX},
    {"flash.display::DisplayObject", "y", Member::kGetter, DoGetY},
    {"flash.display::DisplayObject", "y", Member::kSetter, DoSetY},
    {"flash.display::DisplayObject", "scaleX", Member::kGetter, DoGetScaleX},
    {"flash.display::DisplayObject", "scaleX", Member::kSetter, DoSetScaleX},
    {"flash.display::DisplayObject", "scaleY", Member::kGetter, DoGetScaleY},
    {"flash.display::DisplayObject", "scaleY", Member::kSetter, DoSetScaleY},
    {"flash.display::DisplayObject", "rotation", Member::kGetter, DoGetRotation},
    {"flash.display::DisplayObject", "rotation", Member::kSetter, DoSetRotation},
    {"flash.display::DisplayObject", "alpha", Member::kGetter, DoGetAlpha},
    {"flash.display::DisplayObject", "alpha", Member::kSetter, DoSetAlpha},
    {"flash.display::DisplayObject", "visible", Member::kGetter, DoGetVisible},
    {"flash.display::DisplayObject", "visible", Member::kSetter, DoSetVisible},
    {"flash.display::DisplayObject", "name", Member::kGetter, DoGetName},
    {"flash.display::DisplayObject", "name", Member::kSetter, DoSetName},
    {"flash.display::DisplayObject", "metaData", Member::kGetter, DoGetMetaData},
    {"flash.display::DisplayObject", "metaData", Member::kSetter, DoSetMetaData},
    {"flash.display::DisplayObject", "width", Member::kGetter, DoGetWidth},
    {"flash.display::DisplayObject", "width", Member::kSetter, DoSetWidth},
    {"flash.display::DisplayObject", "height", Member::kGetter, DoGetHeight},
    {"flash.display::DisplayObject", "height", Member::kSetter, DoSetHeight},
    {"flash.display::DisplayObject", "transform", Member::kGetter, DoGetTransform},
    {"flash.display::DisplayObject", "transform", Member::kSetter, DoSetTransform},
    {"flash.display::DisplayObject", "filters", Member::kGetter, DoGetFilters},
    {"flash.display::DisplayObject", "filters", Member::kSetter, DoSetFilters},
    {"flash.display::DisplayObject", "blendMode", Member::kGetter, DoGetBlendMode},
    {"flash.display::DisplayObject", "blendMode", Member::kSetter, DoSetBlendMode},
    {"flash.display::DisplayObject", "cacheAsBitmap", Member::kGetter, DoGetCacheAsBitmap},
    {"flash.display::DisplayObject", "cacheAsBitmap", Member::kSetter, DoSetCacheAsBitmap},
    {"flash.display::DisplayObject", "mask", Member::kGetter, DoGetMask},
    {"flash.display::DisplayObject", "mask", Member::kSetter, DoSetMask},
    {"flash.display::DisplayObject", "scrollRect", Member::kGetter, DoGetScrollRect},
    {"flash.display::DisplayObject", "scrollRect", Member::kSetter, DoSetScrollRect},
    {"flash.display::DisplayObject", "scale9Grid", Member::kGetter, DoGetScale9Grid},
    {"flash.display::DisplayObject", "scale9Grid", Member::kSetter, DoSetScale9Grid},
    {"flash.display::DisplayObject", "opaqueBackground", Member::kGetter, DoGetOpaque},
    {"flash.display::DisplayObject", "opaqueBackground", Member::kSetter, DoSetOpaque},
    {"flash.display::DisplayObject", "z", Member::kGetter, DoGet3D<&FlashObject::z>},
    {"flash.display::DisplayObject", "z", Member::kSetter, DoSet3D<&FlashObject::z>},
    {"flash.display::DisplayObject", "scaleZ", Member::kGetter, DoGet3D<&FlashObject::scaleZ>},
    {"flash.display::DisplayObject", "scaleZ", Member::kSetter, DoSet3D<&FlashObject::scaleZ>},
    {"flash.display::DisplayObject", "rotationX", Member::kGetter, DoGet3D<&FlashObject::rotationX>},
    {"flash.display::DisplayObject", "rotationX", Member::kSetter, DoSet3D<&FlashObject::rotationX>},
    {"flash.display::DisplayObject", "rotationY", Member::kGetter, DoGet3D<&FlashObject::rotationY>},
    {"flash.display::DisplayObject", "rotationY", Member::kSetter, DoSet3D<&FlashObject::rotationY>},
    {"flash.display::DisplayObject", "rotationZ", Member::kGetter, DoGetRotation},
    {"flash.display::DisplayObject", "rotationZ", Member::kSetter, DoSetRotation},
    {"flash.display::DisplayObject", "blendShader", Member::kSetter, DoSetBlendShader},
    {"flash.display::DisplayObject", "parent", Member::kGetter, DoGetParent},
    {"flash.display::DisplayObject", "stage", Member::kGetter, DoGetStage},
    {"flash.display::DisplayObject", "root", Member::kGetter, DoGetRoot},
    {"flash.display::DisplayObject", "mouseX", Member::kGetter, DoMouse<true>},
    {"flash.display::DisplayObject", "mouseY", Member::kGetter, DoMouse<false>},
    {"flash.display::DisplayObject", "loaderInfo", Member::kGetter, DoGetLoaderInfo},
    {"flash.display::DisplayObject", "getBounds", Member::kMethod, DoGetBounds},
    {"flash.display::DisplayObject", "getRect", Member::kMethod, DoGetRect},
    {"flash.display::DisplayObject", "localToGlobal", Member::kMethod, DoLocalToGlobal},
    {"flash.display::DisplayObject", "globalToLocal", Member::kMethod, DoGlobalToLocal},
    {"flash.display::DisplayObject", "local3DToGlobal", Member::kMethod, DoLocal3DToGlobal},
    {"flash.display::DisplayObject", "globalToLocal3D", Member::kMethod, DoGlobalToLocal3D},
    {"flash.display::DisplayObject", "hitTestObject", Member::kMethod, DoHitTestObject},
    {"flash.display::DisplayObject", "hitTestPoint", Member::kMethod, DoHitTestPoint},
    {"flash.display::BlendMode", "NORMAL", Member::kConst, nullptr, "normal"},
    {"flash.display::BlendMode", "LAYER", Member::kConst, nullptr, "layer"},
    {"flash.display::BlendMode", "MULTIPLY", Member::kConst, nullptr, "multiply"},
    {"flash.display::BlendMode", "SCREEN", Member::kConst, nullptr, "screen"},
    {"flash.display::BlendMode", "LIGHTEN", Member::kConst, nullptr, "lighten"},
    {"flash.display::BlendMode", "DARKEN", Member::kConst, nullptr, "darken"},
    {"flash.display::BlendMode", "DIFFERENCE", Member::kConst, nullptr, "difference"},
    {"flash.display::BlendMode", "ADD", Member::kConst, nullptr, "add"},
    {"flash.display::BlendMode", "SUBTRACT", Member::kConst, nullptr, "subtract"},
    {"flash.display::BlendMode", "INVERT", Member::kConst, nullptr, "invert"},
    {"flash.display::BlendMode", "ALPHA", Member::kConst, nullptr, "alpha"},
    {"flash.display::BlendMode", "ERASE", Member::kConst, nullptr, "erase"},
    {"flash.display::BlendMode", "OVERLAY", Member::kConst, nullptr, "overlay"},
    {"flash.display::BlendMode", "HARDLIGHT", Member::kConst, nullptr, "hardlight"},
    {"flash.display::BlendMode", "SHADER", Member::kConst, nullptr, "shader"},
    {"flash.display::InteractiveObject", "accessibilityImplementation", Member::kGetter, HiddenGet<kAccessImpl>},
    {"flash.display::InteractiveObject", "accessibilityImplementation", Member::kSetter, HiddenSet<kAccessImpl>},
    {"flash.display::InteractiveObject", "mouseEnabled", Member::kGetter, IoGet<&FlashObject::mouseEnabled>},
    {"flash.display::InteractiveObject", "mouseEnabled", Member::kSetter, IoSet<&FlashObject::mouseEnabled>},
    {"flash.display::InteractiveObject", "doubleClickEnabled", Member::kGetter, IoGet<&FlashObject::doubleClickEnabled>},
    {"flash.display::InteractiveObject", "doubleClickEnabled", Member::kSetter, IoSet<&FlashObject::doubleClickEnabled>},
    {"flash.display::InteractiveObject", "tabEnabled", Member::kGetter, IoGetTabEnabled},
    {"flash.display::InteractiveObject", "tabEnabled", Member::kSetter, IoSetTabEnabled},
    {"flash.display::InteractiveObject", "focusRect", Member::kGetter, IoGetValue<&FlashObject::focusRect>},
    {"flash.display::InteractiveObject", "focusRect", Member::kSetter, IoSetFocusRect},
    {"flash.display::InteractiveObject", "contextMenu", Member::kGetter, IoGetValue<&FlashObject::contextMenu>},
    {"flash.display::InteractiveObject", "contextMenu", Member::kSetter, IoSetValue<&FlashObject::contextMenu>},
    {"flash.display::InteractiveObject", "tabIndex", Member::kGetter, IoGetTabIndex},
    {"flash.display::InteractiveObject", "tabIndex", Member::kSetter, IoSetTabIndex},
};

constexpr ClassRow kDisplayObjectClasses[] = {
    {"flash.display", "DisplayObject", "flash.events::EventDispatcher", AllocDisplayObject, DisplayObjectCtor, false,
     &As3Display::displayObjectClass},
    {"flash.display", "BlendMode"},
    {"flash.display", "InteractiveObject", "flash.display::DisplayObject", nullptr, nullptr, false,
     &As3Display::interactiveClass},
};

void InstallDisplayObjects(As3Display& b) { Register(b, kDisplayObjectClasses, kDisplayObjectRows); }
}  // namespace quarvel::player::as3
