// The built-in objects and functions of ActionScript 1/2 that animations use:
// Object, Function, Color, MovieClip methods and the global functions
// that reach the player.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_classes.h"
#include "player/display/stage.h"

namespace quarvel::player {
namespace {

AsValue Arg(AsArgs a, std::size_t i) { return i < a.size() ? a[i] : AsValue{}; }

double Num(Avm1& vm, AsArgs a, std::size_t i) { return vm.ToNumber(Arg(a, i)); }

std::string Str(Avm1& vm, const AsValue& v) { return vm.ToString(v); }

AsObject* Self(const AsValue& self) { return self.type == AsValue::Type::kObject ? self.obj : nullptr; }

AsValue Nothing(Avm1&, const AsValue&, AsArgs) { return {}; }

// Function called as a function gives its first argument back unchanged;
// with none, a new object without any prototype.
AsValue FunctionCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (vm.Constructing(self)) return {};
  if (!a.empty()) return a[0];
  AsObject* o = vm.NewObject(nullptr);
  o->proto = nullptr;
  return AsValue::Object(o);
}

}  // namespace

AsValue avm1_builtins::StartTimer(Avm1& vm, AsArgs a, bool once) {
  const AsValue target = Arg(a, 0);
  const bool function = target.type == AsValue::Type::kObject && target.obj->fn;
  if (!function && target.type != AsValue::Type::kObject && target.type != AsValue::Type::kClip) return {};
  const std::size_t delayAt = function ? 1 : 2;
  if (Arg(a, delayAt).IsUndefined()) return {};
  const std::string method = function ? std::string() : vm.ToString(Arg(a, 1));
  const double delay = ToInt32(Num(vm, a, delayAt));
  std::vector<AsValue> rest(a.begin() + static_cast<std::ptrdiff_t>(delayAt + 1), a.end());
  const int id = vm.NextIntervalId();
  if (function) vm.AddInterval(target, {}, "", delay, std::move(rest), id, once);
  else vm.AddInterval({}, target, method, delay, std::move(rest), id, once);
  return AsValue::Number(id);
}

namespace {

AsValue SetInterval(Avm1& vm, const AsValue&, AsArgs a) { return avm1_builtins::StartTimer(vm, a, false); }

AsValue ClearTimer(Avm1& vm, const AsValue&, AsArgs a) {
  vm.ClearInterval(ToInt32(Num(vm, a, 0)));
  return {};
}

// ---- constructors

AsValue ObjectCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!a.empty() && (a[0].type == AsValue::Type::kObject || a[0].type == AsValue::Type::kClip)) return a[0];
  // Strings, numbers and booleans come back in their wrappers.
  if (!a.empty() && (a[0].type == AsValue::Type::kString || a[0].type == AsValue::Type::kNumber ||
                     a[0].type == AsValue::Type::kBoolean))
    return avm1_builtins::BoxPrimitive(vm, a[0]);
  if (vm.Constructing(self)) return self;
  // Object() as a function makes an object with no prototype at all.
  AsObject* bare = vm.NewObject();
  bare->proto = nullptr;
  return AsValue::Object(bare);
}

// ---- Object and Function

AsValue ObjToString(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) return AsValue::String(Str(vm, o->primitive));
  if (self.type == AsValue::Type::kClip) return AsValue::String(vm.ToString(self));
  if (AsObject* o = Self(self); o && o->isArray) return AsValue::String(vm.Join(o, ","));
  if (AsObject* o = Self(self); o && o->fn) return AsValue::String("[type Function]");
  return AsValue::String("[object Object]");
}

AsValue ObjValueOf(Avm1&, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) return o->primitive;
  return self;
}

// Object.registerClass(name, constructor or null/undefined to unregister);
// false for fewer arguments or a constructor that is no function.
AsValue ObjRegisterClass(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.size() < 2) return AsValue::Bool(false);
  const bool function = a[1].type == AsValue::Type::kObject && a[1].obj->fn;
  if (!function && !a[1].IsNullish()) return AsValue::Bool(false);
  vm.RegisterClass(vm.ToString(a[0]), a[1]);
  return AsValue::Bool(true);
}

AsValue ObjAddProperty(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o && self.type == AsValue::Type::kClip) {
    if (TimelineState* tl = vm.GetStage().TimelineOf(vm.ClipOf(self))) {
      vm.ClipVarsOf(*tl);
      o = tl->vars;
    }
  }
  // The setter must be given: an object, or null for a read-only property.
  const AsValue setter = Arg(a, 2);
  if (setter.type != AsValue::Type::kObject && setter.type != AsValue::Type::kNull) return AsValue::Bool(false);
  return AsValue::Bool(vm.AddProperty(o, Str(vm, Arg(a, 0)), Arg(a, 1), setter));
}

AsValue HasOwnProperty(Avm1& vm, const AsValue& self, AsArgs a) {
  // A clip answers for its timeline's variables.
  AsObject* o = vm.ObjectOf(self);
  if (!o || a.empty()) return AsValue::Bool(false);
  const std::string key = vm.Key(Str(vm, a[0]));
  // Every object holds its own __proto__ link; no property has an empty name.
  if (key == "__proto__") return AsValue::Bool(o->proto != nullptr);
  return AsValue::Bool(!key.empty() && o->props.count(key));
}

// watch(name, callback[, data]): later sets of the property go through the
// callback; false without a function to call.
AsValue ObjWatch(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = vm.ObjectOf(self);
  if (!o || a.size() < 2 || a[1].type != AsValue::Type::kObject || !a[1].obj->fn) return AsValue::Bool(false);
  AsObject* entry = vm.NewArray({a[1], a.size() > 2 ? a[2] : AsValue{}});
  vm.SetProp(o, "\x01watch:" + vm.Key(Str(vm, a[0])), AsValue::Object(entry), true);
  return AsValue::Bool(true);
}

// unwatch(name): whether there was a watcher to remove.
AsValue ObjUnwatch(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = vm.ObjectOf(self);
  if (!o || a.empty()) return AsValue::Bool(false);
  return AsValue::Bool(o->props.erase("\x01watch:" + vm.Key(Str(vm, a[0]))) > 0);
}

// Whether `this` is on the argument's prototype chain.
AsValue IsPrototypeOf(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  AsObject* of = a.empty() ? nullptr : vm.ObjectOf(a[0]);
  for (int guard = 0; o && of && guard < 64; ++guard) {
    of = of->proto;
    if (of == o) return AsValue::Bool(true);
  }
  return AsValue::Bool(false);
}

// Whether the object has the property itself and for..in lists it.
AsValue IsPropertyEnumerable(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o || a.empty()) return AsValue::Bool(false);
  const auto it = o->props.find(vm.Key(Str(vm, a[0])));
  return AsValue::Bool(it != o->props.end() && !it->second.hidden);
}

// call and apply with no `this` (undefined or null) run on the global object.
AsValue ThisOrGlobal(Avm1& vm, const AsValue& v) { return v.IsNullish() ? AsValue::Object(vm.Global()) : v; }

AsValue FnCall(Avm1& vm, const AsValue& self, AsArgs a) {
  return vm.Call(self, ThisOrGlobal(vm, Arg(a, 0)), a.empty() ? a : a.subspan(1));
}

// apply takes any object with a length as its arguments, read by index.
AsValue FnApply(Avm1& vm, const AsValue& self, AsArgs a) {
  std::vector<AsValue> args;
  if (AsObject* arr = Self(Arg(a, 1)); arr && arr->isArray) {
    args = vm.Elements(arr);
  } else if (arr) {
    const double n = vm.ToNumber(vm.Get(Arg(a, 1), "length"));
    const auto count = static_cast<std::size_t>(n > 0 ? std::min(n, 65536.0) : 0);
    for (std::size_t i = 0; i < count; ++i) args.push_back(vm.Get(Arg(a, 1), std::to_string(i)));
  }
  return vm.Call(self, ThisOrGlobal(vm, Arg(a, 0)), args);
}

// ---- MovieClip

TimelineState* ClipTimeline(Avm1& vm, const AsValue& self, ClipHandle* clip = nullptr) {
  const ClipHandle h = vm.ClipOf(self);
  if (clip) *clip = h;
  return vm.GetStage().TimelineOf(h);
}

// A placed clip (not the main timeline) the value refers to.
Instance* ClipNode(Avm1& vm, const AsValue& v) {
  Instance* inst = vm.GetStage().Find(vm.ClipOf(v));
  return inst && inst->sprite ? inst : nullptr;
}

AsValue McPlay(Avm1& vm, const AsValue& self, AsArgs) {
  if (TimelineState* tl = ClipTimeline(vm, self)) vm.GetStage().SetPlaying(*tl, true);
  return {};
}

AsValue McStop(Avm1& vm, const AsValue& self, AsArgs) {
  if (TimelineState* tl = ClipTimeline(vm, self)) vm.GetStage().SetPlaying(*tl, false);
  return {};
}

AsValue GotoAnd(Avm1& vm, const AsValue& self, AsArgs a, bool play) {
  ClipHandle clip = kNoClip;
  if (!ClipTimeline(vm, self, &clip)) return {};
  // A value that names no frame neither stops nor plays the timeline.
  if (!vm.GetStage().GotoValue(clip, Arg(a, 0), vm)) return {};
  if (TimelineState* again = vm.GetStage().TimelineOf(clip)) vm.GetStage().SetPlaying(*again, play);
  return {};
}

AsValue McGotoAndPlay(Avm1& vm, const AsValue& self, AsArgs a) { return GotoAnd(vm, self, a, true); }
AsValue McGotoAndStop(Avm1& vm, const AsValue& self, AsArgs a) { return GotoAnd(vm, self, a, false); }

AsValue Step(Avm1& vm, const AsValue& self, int by) {
  ClipHandle clip = kNoClip;
  TimelineState* tl = ClipTimeline(vm, self, &clip);
  if (!tl) return {};
  vm.GetStage().Goto(*tl, tl->current + by);
  if (TimelineState* again = vm.GetStage().TimelineOf(clip)) vm.GetStage().SetPlaying(*again, false);
  return {};
}

AsValue McNextFrame(Avm1& vm, const AsValue& self, AsArgs) { return Step(vm, self, 1); }
AsValue McPrevFrame(Avm1& vm, const AsValue& self, AsArgs) { return Step(vm, self, -1); }

// A depth argument, script numbering (0 is the first depth above the timeline's).
int DepthArg(Avm1& vm, AsArgs a, std::size_t i) { return ToInt32(Num(vm, a, i)); }

AsValue McDuplicate(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip) return {};
  const ClipHandle source = vm.ClipOf(self);
  const std::string name = Str(vm, Arg(a, 0));
  const ClipHandle made = vm.GetStage().Duplicate(source, name, DepthArg(vm, a, 1));
  avm1_builtins::TextSnapshotDuplicated(vm, source, made);
  vm.ConstructClip(made, Arg(a, 2));
  // The main timeline cannot be copied: it answers itself.
  if (made == kNoClip) return source == kRootClip ? vm.ClipValue(kRootClip) : AsValue{};
  return vm.ClipValue(made);
}

AsValue McRemove(Avm1& vm, const AsValue& self, AsArgs) {
  if (self.type != AsValue::Type::kClip) return {};
  const ClipHandle clip = vm.ClipOf(self);
  if (!vm.GetStage().RemovableByScript(clip)) return {};
  avm1_builtins::FocusLeavingWith(vm, clip);
  vm.GetStage().RemoveClip(clip);
  return {};
}

AsValue McAttach(Avm1& vm, const AsValue& self, AsArgs a) {
  ClipHandle clip = kNoClip;
  if (!ClipTimeline(vm, self, &clip)) return {};
  const std::string exportName = Str(vm, Arg(a, 0)), name = Str(vm, Arg(a, 1));
  const ClipHandle made = vm.GetStage().AttachMovie(clip, exportName, name, DepthArg(vm, a, 2));
  if (made == kNoClip) return {};
  vm.ConstructClip(made, Arg(a, 3));
  return vm.ClipValue(made);
}

AsValue McCreateEmpty(Avm1& vm, const AsValue& self, AsArgs a) {
  ClipHandle clip = kNoClip;
  if (!ClipTimeline(vm, self, &clip)) return {};
  const std::string name = Str(vm, Arg(a, 0));
  const ClipHandle made = vm.GetStage().CreateEmptyClip(clip, name, DepthArg(vm, a, 1));
  if (made == kNoClip) return {};
  vm.ConstructClip(made);  // at once, as attachMovie: its onConstruct runs inside the call
  return vm.ClipValue(made);
}

AsValue McBytesTotal(Avm1& vm, const AsValue& self, AsArgs) {
  if (self.type != AsValue::Type::kClip) return {};
  return AsValue::Number(static_cast<double>(vm.GetStage().ClipBytes(vm.ClipOf(self), true)));
}
AsValue McBytesLoaded(Avm1& vm, const AsValue& self, AsArgs) {
  if (self.type != AsValue::Type::kClip) return {};
  return AsValue::Number(static_cast<double>(vm.GetStage().ClipBytes(vm.ClipOf(self), false)));
}

AsValue McGetDepth(Avm1& vm, const AsValue& self, AsArgs);

// The version of the movie the clip comes from: a loaded movie keeps its own.
AsValue McSwfVersion(Avm1& vm, const AsValue& self, AsArgs) {
  if (self.type != AsValue::Type::kClip) return {};
  return AsValue::Number(vm.GetStage().ClipSwfVersion(vm.ClipOf(self)));
}

AsValue McSwapDepths(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip) return {};
  int depth = 0;
  Stage& stage = vm.GetStage();
  const ClipHandle clip = vm.ClipOf(self);
  // A clip, or a path to one from this clip: only a sibling trades places.
  AsValue other = Arg(a, 0);
  if (other.type == AsValue::Type::kString) {
    if (const ClipHandle h = stage.Resolve(clip, other.Text()); h != kNoClip) other = vm.ClipValue(h);
  }
  if (other.type == AsValue::Type::kClip) {
    if (stage.ParentOf(vm.ClipOf(other)) != stage.ParentOf(clip)) return {};
    a[0] = other;
    const AsValue d = vm.Get(a[0], "getDepth");
    std::vector<AsValue> none;
    // Before Flash 6 scripts see no getDepth: the clip's own depth counts.
    const AsValue v = d.type == AsValue::Type::kObject ? vm.Call(d, a[0], none) : McGetDepth(vm, a[0], none);
    if (v.type != AsValue::Type::kNumber) return {};
    depth = ToInt32(v.num);
  } else if (Arg(a, 0).type == AsValue::Type::kNumber) {
    depth = ToInt32(a[0].num);
  } else {
    const double d = Num(vm, a, 0);
    if (std::isnan(d)) return {};
    depth = ToInt32(d);
  }
  stage.SwapDepths(clip, depth);
  return {};
}

AsValue McGetDepth(Avm1& vm, const AsValue& self, AsArgs) {
  if (self.type != AsValue::Type::kClip) return {};
  if (Instance* inst = ClipNode(vm, self)) return AsValue::Number(inst->depth - 16384);
  return vm.ClipOf(self) == kRootClip ? AsValue::Number(-16384) : AsValue{};
}

AsValue McNextDepth(Avm1& vm, const AsValue& self, AsArgs) {
  ClipHandle clip = kNoClip;
  if (!ClipTimeline(vm, self, &clip)) return {};
  return AsValue::Number(vm.GetStage().NextHighestDepth(clip));
}

AsValue McInstanceAtDepth(Avm1& vm, const AsValue& self, AsArgs a) {
  TimelineState* tl = ClipTimeline(vm, self);
  if (!tl) return {};
  const std::int64_t key = std::int64_t{DepthArg(vm, a, 0)} + 16384;
  // The argument's conversion may have run a script.
  tl = ClipTimeline(vm, self);
  if (!tl || key > std::numeric_limits<int>::max()) return {};
  auto it = tl->list.find(static_cast<int>(key));
  if (it == tl->list.end()) return {};
  // A shape is no script object: Flash answers with the clip holding it.
  if (!it->second.sprite && !it->second.field) return self;
  return vm.ClipValue(it->second.serial);
}

// Flash keeps a display matrix's translation in whole twips: each step of a chain of matrices, and each
// point put through one, rounds to the nearest twip (ties to even).
// Scripts may scale without bound: positions past the int range stay at its ends.
std::int32_t RoundTwips(double f) {
  if (std::isnan(f)) return 0;
  return ClampToInt(std::nearbyint(f));
}

std::int32_t AddTwips(std::int32_t a, std::int32_t b) { return ClampToInt(double(a) + double(b)); }

// m after `first`: first's translation put through m, rounded to twips.
Matrix ThenTwips(const Matrix& first, const Matrix& m) {
  const double tx = first.translateX, ty = first.translateY;
  Matrix r;
  r.scaleX = m.scaleX * first.scaleX + m.rotateSkew1 * first.rotateSkew0;
  r.rotateSkew0 = m.rotateSkew0 * first.scaleX + m.scaleY * first.rotateSkew0;
  r.rotateSkew1 = m.scaleX * first.rotateSkew1 + m.rotateSkew1 * first.scaleY;
  r.scaleY = m.rotateSkew0 * first.rotateSkew1 + m.scaleY * first.scaleY;
  r.translateX = AddTwips(RoundTwips(m.scaleX * tx + m.rotateSkew1 * ty), m.translateX);
  r.translateY = AddTwips(RoundTwips(m.rotateSkew0 * tx + m.scaleY * ty), m.translateY);
  return r;
}

void ApplyTwips(const Matrix& m, std::int32_t x, std::int32_t y, std::int32_t& ox, std::int32_t& oy) {
  ox = AddTwips(RoundTwips(m.scaleX * double(x) + m.rotateSkew1 * double(y)), m.translateX);
  oy = AddTwips(RoundTwips(m.rotateSkew0 * double(x) + m.scaleY * double(y)), m.translateY);
}

// The inverse, its translation rounded to twips; none without a size.
bool InvertTwips(const Matrix& m, Matrix& out) {
  const double a = m.scaleX, b = m.rotateSkew0, c = m.rotateSkew1, d = m.scaleY;
  const double tx = m.translateX, ty = m.translateY;
  const double det = a * d - b * c;
  if (!(std::fabs(det) > 1e-12)) return false;
  out.scaleX = d / det;
  out.rotateSkew0 = b / -det;
  out.rotateSkew1 = c / -det;
  out.scaleY = a / det;
  out.translateX = RoundTwips((d * tx - c * ty) / -det);
  out.translateY = RoundTwips((b * tx - a * ty) / det);
  return true;
}

// A display object's scale and skew as Flash holds them: 16.16 fixed point,
// as in the movie's records, also when a script set them.
Matrix Held(const Matrix& m) {
  Matrix r = m;
  for (double* v : {&r.scaleX, &r.rotateSkew0, &r.rotateSkew1, &r.scaleY}) *v = std::round(*v * 65536.0) / 65536.0;
  return r;
}

// The clip's matrix to the stage.
bool WorldMatrix(Avm1& vm, ClipHandle clip, Matrix& out) {
  out = Matrix{};
  int guard = 0;
  while (clip != kRootClip && guard++ < 64) {
    Instance* inst = vm.GetStage().Find(clip);
    if (!inst || !inst->sprite) return false;
    out = ThenTwips(out, Held(inst->matrix));
    clip = inst->parent;
  }
  if (clip != kRootClip) return false;
  out = ThenTwips(out, Held(vm.GetStage().Root().matrix));  // the main timeline's own place
  return true;
}

bool StageBox(Avm1& vm, const AsValue& v, double box[4]) {
  const ClipHandle clip = vm.ClipOf(v);
  Instance* inst = ClipNode(vm, v);
  Matrix world;
  Rect local;
  if (!inst && clip == kRootClip && WorldMatrix(vm, clip, world)) {
    // The main timeline's box is that of everything on it.
    double b[4] = {1e300, 1e300, -1e300, -1e300};
    for (const auto& [depth, child] : vm.GetStage().Root().list) {
      Rect r;
      if (!vm.GetStage().Bounds(child, r)) continue;
      b[0] = std::min(b[0], double(r.xmin)), b[1] = std::min(b[1], double(r.ymin));
      b[2] = std::max(b[2], double(r.xmax)), b[3] = std::max(b[3], double(r.ymax));
    }
    if (b[0] > b[2]) return false;
    local = Rect{static_cast<std::int32_t>(b[0]), static_cast<std::int32_t>(b[2]), static_cast<std::int32_t>(b[1]),
                 static_cast<std::int32_t>(b[3])};
  } else {
    if (!inst || !WorldMatrix(vm, clip, world)) return false;
    if (!vm.GetStage().Bounds(*inst, local, true)) return false;
  }
  box[0] = box[1] = 1e300;
  box[2] = box[3] = -1e300;
  for (double x : {static_cast<double>(local.xmin), static_cast<double>(local.xmax)}) {
    for (double y : {static_cast<double>(local.ymin), static_cast<double>(local.ymax)}) {
      const double wx = world.scaleX * x + world.rotateSkew1 * y + world.translateX;
      const double wy = world.rotateSkew0 * x + world.scaleY * y + world.translateY;
      box[0] = std::min(box[0], wx), box[1] = std::min(box[1], wy);
      box[2] = std::max(box[2], wx), box[3] = std::max(box[3], wy);
    }
  }
  return true;
}

// hitTest(x, y, shapeFlag): a point of the main timeline (moved with it),
// against the shapes or the box on the stage; hitTest(other), the other a
// clip or a target path from this one: the two boxes on the stage.
AsValue McHitTest(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip || a.empty()) return AsValue::Bool(false);
  if (a.size() == 1) {
    AsValue other = a[0];
    if (other.type != AsValue::Type::kClip) {
      const std::string path = vm.ToString(other);
      const ClipHandle found = path.empty() ? kNoClip : vm.GetStage().Resolve(vm.ClipOf(self), path);
      if (found == kNoClip) return AsValue::Bool(false);
      other = vm.ClipValue(found);
    }
    double mine[4], theirs[4];
    if (!StageBox(vm, self, mine) || !StageBox(vm, other, theirs)) return AsValue::Bool(false);
    return AsValue::Bool(mine[0] <= theirs[2] && theirs[0] <= mine[2] && mine[1] <= theirs[3] && theirs[1] <= mine[3]);
  }
  const double px = Num(vm, a, 0) * 20, py = Num(vm, a, 1) * 20;
  if (!std::isfinite(px) || !std::isfinite(py)) return AsValue::Bool(false);
  const Matrix& root = vm.GetStage().Root().matrix;
  const double x = root.scaleX * px + root.rotateSkew1 * py + root.translateX;
  const double y = root.rotateSkew0 * px + root.scaleY * py + root.translateY;
  if (vm.ToBool(Arg(a, 2))) return AsValue::Bool(vm.GetStage().HitsShapes(vm.ClipOf(self), x, y));
  double mine[4];
  if (!StageBox(vm, self, mine)) return AsValue::Bool(false);
  return AsValue::Bool(x >= mine[0] && x <= mine[2] && y >= mine[1] && y <= mine[3]);
}

// getBounds(space) and getRect(space): the clip's box in the space of
// another clip, its own without one.
AsValue McGetBounds(Avm1& vm, const AsValue& self, AsArgs a) {
  double box[4] = {0, 0, 0, 0};
  Stage& stage = vm.GetStage();
  const ClipHandle clip = vm.ClipOf(self);
  ClipHandle space = a.empty() ? clip : vm.ClipOf(a[0]);
  if (!a.empty() && a[0].type != AsValue::Type::kClip) {
    // Any other value is a target path from this clip; no clip, no box.
    const std::string path = vm.ToString(a[0]);
    space = path.empty() ? kNoClip : vm.GetStage().Resolve(clip, path);
  }
  if (space == kNoClip) return {};
  AsObject* o = vm.NewObject();
  // Every measure by a version 8 movie counts, whether the clip is empty or not.
  const double sentinel = vm.EmptyBoundsSentinel(space != clip);
  Instance* inst = ClipNode(vm, self);
  Rect local;
  bool any = false;
  if (inst && stage.Bounds(*inst, local, true)) {
    any = true;
  } else if (clip == kRootClip) {
    // The main timeline's box is that of everything on it.
    double b[4] = {1e300, 1e300, -1e300, -1e300};
    for (const auto& [depth, child] : stage.Root().list) {
      Rect r;
      if (!stage.Bounds(child, r)) continue;
      b[0] = std::min(b[0], double(r.xmin)), b[1] = std::min(b[1], double(r.ymin));
      b[2] = std::max(b[2], double(r.xmax)), b[3] = std::max(b[3], double(r.ymax));
    }
    if (b[0] <= b[2]) {
      local = Rect{static_cast<std::int32_t>(b[0]), static_cast<std::int32_t>(b[2]), static_cast<std::int32_t>(b[1]),
                   static_cast<std::int32_t>(b[3])};
      any = true;
    }
  }
  Matrix from, to;
  if (any && WorldMatrix(vm, clip, from) && (space == clip || WorldMatrix(vm, space, to))) {
    if (space == clip) {
      box[0] = local.xmin, box[1] = local.ymin, box[2] = local.xmax, box[3] = local.ymax;
    } else {
      // Through the stage: the clip's matrix to it, then the space's inverse
      // (none when the space has no size), each step in whole twips.
      Matrix back;
      if (!InvertTwips(to, back)) back = Matrix{};
      const Matrix m = ThenTwips(from, back);
      box[0] = box[1] = 1e300;
      box[2] = box[3] = -1e300;
      for (std::int32_t x : {local.xmin, local.xmax}) {
        for (std::int32_t y : {local.ymin, local.ymax}) {
          std::int32_t wx = 0, wy = 0;
          ApplyTwips(m, x, y, wx, wy);
          box[0] = std::min(box[0], double(wx)), box[1] = std::min(box[1], double(wy));
          box[2] = std::max(box[2], double(wx)), box[3] = std::max(box[3], double(wy));
        }
      }
    }
  } else if (!any && (inst || clip == kRootClip)) {
    // An empty clip: Flash's sentinel box, 0x7FFFFFF twips, read in the
    // clip's own space as it is.
    box[0] = box[1] = box[2] = box[3] = sentinel * 20;
  }
  // Made in this order, which for..in shows reversed.
  vm.SetProp(o, "xMin", AsValue::Number(box[0] / 20));
  vm.SetProp(o, "xMax", AsValue::Number(box[2] / 20));
  vm.SetProp(o, "yMin", AsValue::Number(box[1] / 20));
  vm.SetProp(o, "yMax", AsValue::Number(box[3] / 20));
  return AsValue::Object(o);
}

AsValue LocalGlobal(Avm1& vm, const AsValue& self, AsArgs a, bool toGlobal) {
  AsObject* pt = Self(Arg(a, 0));
  if (!pt || self.type != AsValue::Type::kClip) return {};
  // Only a point whose own x and y are numbers is converted; any other is
  // left as it is.
  auto own = [&](const char* name) -> const AsValue* {
    const auto it = pt->props.find(vm.Key(name));
    return it == pt->props.end() || it->second.getter || it->second.value.type != AsValue::Type::kNumber
               ? nullptr
               : &it->second.value;
  };
  const AsValue* px = own("x");
  const AsValue* py = own("y");
  if (!px || !py) return {};
  Matrix w;
  if (!WorldMatrix(vm, vm.ClipOf(self), w)) return {};
  // The point is cut to whole twips first.
  const std::int32_t x = ClampToInt(px->num * 20), y = ClampToInt(py->num * 20);
  Matrix use = w;
  if (!toGlobal && !InvertTwips(w, use)) return {};
  std::int32_t ox = 0, oy = 0;
  ApplyTwips(use, x, y, ox, oy);
  vm.Set(a[0], "x", AsValue::Number(ox / 20.0));
  vm.Set(a[0], "y", AsValue::Number(oy / 20.0));
  return {};
}

// startDrag(lockCenter, left, top, right, bottom): bounds in the parent's pixels.
AsValue McStartDrag(Avm1& vm, const AsValue& self, AsArgs a) {
  double bounds[4];
  const bool constrained = a.size() >= 5;
  for (std::size_t i = 0; constrained && i < 4; ++i) bounds[i] = Num(vm, a, i + 1) * 20;
  vm.GetStage().StartDrag(vm.ClipOf(self), vm.ToBool(Arg(a, 0)), constrained ? bounds : nullptr);
  return {};
}

AsValue McStopDrag(Avm1& vm, const AsValue&, AsArgs) {
  vm.GetStage().StopDrag();
  return {};
}

AsValue McLocalToGlobal(Avm1& vm, const AsValue& self, AsArgs a) { return LocalGlobal(vm, self, a, true); }
AsValue McGlobalToLocal(Avm1& vm, const AsValue& self, AsArgs a) { return LocalGlobal(vm, self, a, false); }


// setMask(mask): a clip, or a target path (or a number, as its text) from
// the running timeline; null or undefined takes the mask away. True when
// done, false for a path that names no clip or an object that is no clip;
// nothing at all (undefined) without an argument.
AsValue McSetMask(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip || a.empty()) return {};
  Stage& stage = vm.GetStage();
  // Text fields take masks too (the method copied onto one works on it).
  Instance* inst = stage.Find(vm.ClipOf(self));
  if (!inst) return {};
  Instance* mask = nullptr;
  const AsValue& arg = a[0];
  if (arg.type == AsValue::Type::kClip) {
    mask = stage.Find(vm.ClipOf(arg));
    if (!mask) return AsValue::Bool(false);
  } else if (arg.type == AsValue::Type::kString || arg.type == AsValue::Type::kNumber) {
    const std::string path = vm.ToString(arg);
    const AsValue named = path.empty() ? AsValue{} : vm.Evaluate(path, vm.RunningTarget());
    mask = named.type == AsValue::Type::kClip ? stage.Find(vm.ClipOf(named)) : nullptr;
    if (!mask) return AsValue::Bool(false);
  } else if (arg.type != AsValue::Type::kUndefined && arg.type != AsValue::Type::kNull) {
    return AsValue::Bool(false);
  }
  // A clip in a script mask pair no longer masks by clip depth.
  inst->clipDepth = 0;
  if (inst->maskSerial) {
    if (Instance* old = stage.Find(inst->maskSerial)) old->scriptMask = false;
  }
  // Any display object masks, text fields too.
  if (!mask || mask == inst) {
    inst->maskSerial = 0;
    return AsValue::Bool(true);
  }
  mask->clipDepth = 0;
  inst->maskSerial = mask->serial;
  mask->scriptMask = true;
  return AsValue::Bool(true);
}

// ---- Color

Instance* ColorTarget(Avm1& vm, const AsValue& self) {
  AsObject* o = Self(self);
  return o ? ClipNode(vm, o->target) : nullptr;
}

AsValue ColorCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  o->className = "Color";
  const AsValue t = Arg(a, 0);
  if (t.type == AsValue::Type::kClip) {
    o->target = t;
  } else if (t.type == AsValue::Type::kString) {
    if (const ClipHandle clip = vm.GetStage().Resolve(kRootClip, t.Text()); clip != kNoClip) o->target = vm.ClipValue(clip);
  }
  return self;
}

AsValue ColorSetRGB(Avm1& vm, const AsValue& self, AsArgs a) {
  const double d = Num(vm, a, 0);
  Instance* inst = ColorTarget(vm, self);
  if (!inst || !std::isfinite(d)) return {};
  const auto rgb = static_cast<std::uint32_t>(ToInt32(d));
  inst->cxform.redMult = inst->cxform.greenMult = inst->cxform.blueMult = 0;
  inst->cxform.redAdd = (rgb >> 16) & 255;
  inst->cxform.greenAdd = (rgb >> 8) & 255;
  inst->cxform.blueAdd = rgb & 255;
  inst->scripted = true;
  return {};
}

AsValue ColorGetRGB(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ColorTarget(vm, self);
  if (!inst) return {};
  const auto& c = inst->cxform;
  return AsValue::Number(((c.redAdd & 255) << 16) | ((c.greenAdd & 255) << 8) | (c.blueAdd & 255));
}

AsValue ColorSetTransform(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Arg(a, 0).type != AsValue::Type::kObject || !ColorTarget(vm, self)) return {};
  // Read every field first: conversions may run scripts.
  ColorTransform c = ColorTarget(vm, self)->cxform;
  auto field = [&](const char* name, std::int32_t& out, double scale) {
    const AsValue v = vm.Get(a[0], name);
    if (v.IsUndefined()) return;
    const double d = vm.ToNumber(v);
    if (std::isfinite(d)) out = static_cast<std::int32_t>(std::clamp(d * scale, -1e6, 1e6));
  };
  field("ra", c.redMult, 2.56);
  field("ga", c.greenMult, 2.56);
  field("ba", c.blueMult, 2.56);
  field("aa", c.alphaMult, 2.56);
  field("rb", c.redAdd, 1);
  field("gb", c.greenAdd, 1);
  field("bb", c.blueAdd, 1);
  field("ab", c.alphaAdd, 1);
  Instance* inst = ColorTarget(vm, self);
  if (!inst) return {};
  inst->cxform = c;
  inst->scripted = true;
  return {};
}

AsValue ColorGetTransform(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ColorTarget(vm, self);
  AsObject* o = vm.NewObject();
  const ColorTransform c = inst ? inst->cxform : ColorTransform{};
  vm.SetProp(o, "ra", AsValue::Number(c.redMult / 2.56));
  vm.SetProp(o, "ga", AsValue::Number(c.greenMult / 2.56));
  vm.SetProp(o, "ba", AsValue::Number(c.blueMult / 2.56));
  vm.SetProp(o, "aa", AsValue::Number(c.alphaMult / 2.56));
  vm.SetProp(o, "rb", AsValue::Number(c.redAdd));
  vm.SetProp(o, "gb", AsValue::Number(c.greenAdd));
  vm.SetProp(o, "bb", AsValue::Number(c.blueAdd));
  vm.SetProp(o, "ab", AsValue::Number(c.alphaAdd));
  return AsValue::Object(o);
}


}  // namespace

void Avm1::InstallBuiltins() {
  auto obj = [&](AsObject* proto) {
    AsObject* o = NewObject(proto);
    roots_.push_back(o);
    return o;
  };
  objectProto_ = obj(nullptr);
  objectProto_->proto = nullptr;
  functionProto_ = obj(objectProto_);
  auto fn = [&](AsObject* on, const char* name, AsNative native) {
    AsObject* f = NewObject(functionProto_);
    f->className = "Function";
    f->fn = std::make_unique<AsFunction>();
    f->fn->native = native;
    f->fn->name = name;
    if (on) SetProp(on, name, AsValue::Object(f), true);
    return f;
  };
  auto ctor = [&](const char* name, AsNative native, AsObject* proto) {
    AsObject* f = fn(nullptr, name, native);
    SetProp(f, "prototype", AsValue::Object(proto), true);
    f->props[Key("prototype")].dontDelete = true;
    SetProp(proto, "constructor", AsValue::Object(f), true);
    return f;
  };
  // _global has no prototype: it answers no toString, valueOf or hasOwnProperty.
  global_ = obj(objectProto_);
  global_->proto = nullptr;
  arrayProto_ = obj(objectProto_);
  stringProto_ = obj(objectProto_);
  numberProto_ = obj(objectProto_);
  booleanProto_ = obj(objectProto_);
  clipProto_ = obj(objectProto_);
  colorProto_ = obj(objectProto_);

  fn(objectProto_, "toString", ObjToString);
  fn(objectProto_, "valueOf", ObjValueOf);
  fn(objectProto_, "hasOwnProperty", HasOwnProperty);
  fn(objectProto_, "isPrototypeOf", IsPrototypeOf);
  fn(objectProto_, "isPropertyEnumerable", IsPropertyEnumerable);
  fn(objectProto_, "addProperty", ObjAddProperty);
  fn(objectProto_, "watch", ObjWatch);
  fn(objectProto_, "unwatch", ObjUnwatch);
  fn(functionProto_, "call", FnCall);
  fn(functionProto_, "apply", FnApply);
  // Object's methods from Flash 6 are not there for Flash 5 movies.
  for (const char* n : {"hasOwnProperty", "isPrototypeOf", "isPropertyEnumerable", "addProperty", "watch", "unwatch"}) {
    objectProto_->props[Key(n)].versions = kPropVersion5;
  }


  const std::pair<const char*, AsNative> clipMethods[] = {
      {"play", McPlay},
      {"stop", McStop},
      {"gotoAndPlay", McGotoAndPlay},
      {"gotoAndStop", McGotoAndStop},
      {"nextFrame", McNextFrame},
      {"prevFrame", McPrevFrame},
      {"duplicateMovieClip", McDuplicate},
      {"removeMovieClip", McRemove},
      {"attachMovie", McAttach},
      {"createEmptyMovieClip", McCreateEmpty},
      {"getBytesLoaded", McBytesLoaded},
      {"getBytesTotal", McBytesTotal},
      {"getSWFVersion", McSwfVersion},
      {"swapDepths", McSwapDepths},
      {"hitTest", McHitTest},
      {"getDepth", McGetDepth},
      {"getNextHighestDepth", McNextDepth},
      {"getInstanceAtDepth", McInstanceAtDepth},
      {"getBounds", McGetBounds},
      {"getRect", McGetBounds},
      {"localToGlobal", McLocalToGlobal},
      {"globalToLocal", McGlobalToLocal},
      {"startDrag", McStartDrag},
      {"stopDrag", McStopDrag},
      {"toString", ObjToString},
      {"setMask", McSetMask},
  };
  for (auto& [n, f] : clipMethods) fn(clipProto_, n, f);
  // Methods newer than Flash 5 stay out of sight of older movies' code.
  const std::pair<const char*, std::uint16_t> newerMethods[] = {
      {"getDepth", kPropVersion5},           {"createEmptyMovieClip", kPropVersion5},
      {"setMask", kPropVersion5},            {"getInstanceAtDepth", kPropVersion7},
      {"getNextHighestDepth", kPropVersion7}, {"getRect", kPropVersion8}};
  for (auto& [n, bits] : newerMethods) clipProto_->props[Key(n)].versions = bits;

  AsObject* objectCtor = ctor("Object", ObjectCtor, objectProto_);
  fn(objectCtor, "registerClass", ObjRegisterClass);
  SetProp(global_, "Object", AsValue::Object(objectCtor), true);
  SetProp(global_, "Function", AsValue::Object(ctor("Function", FunctionCtor, functionProto_)), true);
  SetProp(global_, "MovieClip", AsValue::Object(ctor("MovieClip", Nothing, clipProto_)), true);
  const std::pair<const char*, AsNative> colorMethods[] = {{"setRGB", ColorSetRGB},
                                                           {"getRGB", ColorGetRGB},
                                                           {"setTransform", ColorSetTransform},
                                                           {"getTransform", ColorGetTransform}};
  for (auto& [n, f] : colorMethods) fn(colorProto_, n, f);
  SetProp(global_, "Color", AsValue::Object(ctor("Color", ColorCtor, colorProto_)), true);

  const std::pair<const char*, AsNative> globals[] = {
      {"setInterval", SetInterval},   {"clearInterval", ClearTimer}, {"ASSetPropFlags", Nothing},
      {"updateAfterEvent", Nothing}};
  for (auto& [n, f] : globals) fn(global_, n, f);
  // Groups of classes in files of their own (avm1_builtins.h).
  avm1_builtins::InstallEvents(*this);
  avm1_builtins::InstallVideo(*this);
  avm1_builtins::InstallDrawing(*this);
  avm1_builtins::InstallGeom(*this);
  avm1_builtins::InstallBitmap(*this);
  avm1_builtins::InstallFilters(*this);
  avm1_builtins::InstallStdlib(*this);
  avm1_builtins::InstallDate(*this);
  avm1_builtins::InstallXml(*this);
  avm1_builtins::InstallLoad(*this);
  avm1_builtins::InstallSystem(*this);
  avm1_builtins::InstallSound(*this);
  avm1_builtins::InstallText(*this);
  avm1_builtins::InstallNativeTables(*this);
  // The flash.* packages came with Flash 8: older movies do not see them.
  if (auto it = global_->props.find(Key("flash")); it != global_->props.end()) it->second.versions = kPropVersion8;
}

}  // namespace quarvel::player
