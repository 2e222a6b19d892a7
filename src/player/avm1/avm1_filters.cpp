// flash.filters.* for scripts, and the clip properties that change how a
// clip is composited: filters, blendMode, cacheAsBitmap, opaqueBackground,
// scrollRect. A filter object keeps its settings as script properties;
// `clip.filters = [...]` turns them into the renderer's filters, and reading
// `clip.filters` makes new objects from those.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_geom.h"
#include "player/render/bitmap_data.h"
#include "player/display/stage.h"
#include "player/render/blend_modes.h"
#include "player/render/filter_schema.h"

namespace quarvel::player::avm1_builtins {
namespace {

constexpr double kPi = 3.14159265358979323846;

using Param = FilterParam;
using T = FilterParam::Type;
using FilterClass = FilterSchema;

const std::vector<FilterSchema>& Classes() { return FilterSchemas(); }

const FilterClass* ClassOf(const AsObject* o) {
  if (!o) return nullptr;
  for (const auto& c : Classes()) {
    if (o->className == c.name) return &c;
  }
  return nullptr;
}

AsValue IdentityMatrix(Avm1& vm) {
  std::vector<AsValue> m(20, AsValue::Number(0));
  for (int i = 0; i < 4; ++i) m[static_cast<std::size_t>(i * 6)] = AsValue::Number(1);
  return AsValue::Object(vm.NewArray(std::move(m)));
}

AsValue CopyArray(Avm1& vm, const AsValue& v) {
  if (v.type != AsValue::Type::kObject || !v.obj->isArray) return AsValue::Object(vm.NewArray());
  return AsValue::Object(vm.NewArray(vm.Elements(v.obj)));
}

// DisplacementMapFilter's mapPoint: two integers behind an accessor.
struct MapPoint : AsNativeData {
  std::int32_t x = 0, y = 0;
};

bool IsMapPoint(const FilterClass& c, const Param& p) {
  return std::string_view(c.name) == "DisplacementMapFilter" && std::string_view(p.name) == "mapPoint";
}

// Any object with both x and y sets the point (a conversion that throws
// gives its coordinate the lowest integer, and its error goes on after the
// point is set, x's before y's); anything else makes it (0, 0).
void SetMapPoint(Avm1& vm, AsObject* o, const AsValue& v) {
  if (!o->Native<MapPoint>()) o->native = std::make_unique<MapPoint>();
  std::int32_t x = 0, y = 0;
  std::optional<AsValue> error;
  if (v.type == AsValue::Type::kObject) {
    const AsValue xv = vm.Get(v, "x"), yv = vm.Get(v, "y");
    if (vm.Throwing()) return;
    auto convert = [&](const AsValue& c) {
      const double d = vm.ToNumber(c);
      if (auto e = vm.TakeThrown()) {
        if (!error) error = std::move(e);
        return INT32_MIN;
      }
      return TruncateOrLowest(d);
    };
    const std::int32_t cx = convert(xv), cy = convert(yv);
    if (!xv.IsUndefined() && !yv.IsUndefined()) x = cx, y = cy;
  }
  if (auto* d = o->Native<MapPoint>()) d->x = x, d->y = y;
  if (error) vm.Rethrow(std::move(*error));
}

AsValue GetMapPointProp(Avm1& vm, const AsValue& self, AsArgs) {
  const MapPoint* d = self.type == AsValue::Type::kObject ? self.obj->Native<MapPoint>() : nullptr;
  return NewPoint(vm, d ? d->x : 0, d ? d->y : 0);
}

AsValue SetMapPointProp(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type == AsValue::Type::kObject && self.obj->className == "DisplacementMapFilter") {
    SetMapPoint(vm, self.obj, Arg(a, 0));
  }
  return {};
}

// Sets the filter's properties from constructor arguments, defaults filling the rest.
void Fill(Avm1& vm, AsObject* o, const FilterClass& c, AsArgs a) {
  for (std::size_t i = 0; i < c.params.size(); ++i) {
    const Param& p = c.params[i];
    const AsValue arg = Arg(a, i);
    if (IsMapPoint(c, p)) {
      SetMapPoint(vm, o, arg);
      continue;
    }
    AsValue v;
    switch (p.type) {
      case T::kNumber: {
        const double d = arg.IsUndefined() ? p.number : vm.ToNumber(arg);
        v = AsValue::Number(std::isnan(d) ? p.number : d);
        break;
      }
      case T::kBool: v = AsValue::Bool(arg.IsUndefined() ? p.number != 0 : vm.ToBool(arg)); break;
      case T::kString: v = AsValue::String(arg.IsUndefined() ? p.text : vm.ToString(arg)); break;
      case T::kArray:
        v = !arg.IsUndefined() ? CopyArray(vm, arg)
            : c.kind == Filter::Kind::kColorMatrix ? IdentityMatrix(vm)
                                                   : AsValue::Object(vm.NewArray());
        break;
      case T::kAny: v = arg; break;
    }
    vm.SetProp(o, p.name, v);
  }
}

AsValue FilterCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  // The class is found from the prototype chain's constructor.
  for (const auto& c : Classes()) {
    const AsValue ctor = vm.Get(AsValue::Object(Package(vm, "flash.filters")), c.name);
    if (ctor.type != AsValue::Type::kObject) continue;
    const AsValue proto = vm.Get(ctor, "prototype");
    int guard = 0;
    for (AsObject* p = o->proto; p && guard < kMaxProtoChain; p = p->proto, ++guard) {
      if (proto.type == AsValue::Type::kObject && p == proto.obj) {
        // A filter made already (super() called twice) keeps its settings;
        // the arguments are still converted.
        if (ClassOf(o)) {
          Fill(vm, vm.NewObject(nullptr), c, a);
          return self;
        }
        o->className = c.name;
        Fill(vm, o, c, a);
        return self;
      }
    }
  }
  return self;
}

AsValue FilterClone(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = Self(self);
  const FilterClass* c = ClassOf(o);
  if (!c) return {};
  AsObject* copy = vm.NewObject(o->proto);
  copy->className = o->className;
  for (const Param& p : c->params) {
    const AsValue v = vm.Get(self, p.name);
    if (IsMapPoint(*c, p)) {
      SetMapPoint(vm, copy, v);
      continue;
    }
    vm.SetProp(copy, p.name, p.type == T::kArray ? CopyArray(vm, v) : v);
  }
  return AsValue::Object(copy);
}

std::uint8_t Byte(double d) { return static_cast<std::uint8_t>(std::isfinite(d) ? std::clamp(d, 0.0, 255.0) + 0.5 : 0); }

swf::Rgba Colour(double rgb, double alpha) {
  const auto v = static_cast<std::uint32_t>(ToInt32(rgb));
  return swf::Rgba{static_cast<std::uint8_t>((v >> 16) & 255), static_cast<std::uint8_t>((v >> 8) & 255),
                   static_cast<std::uint8_t>(v & 255), Byte(alpha * 255)};
}

}  // namespace

bool ReadScriptFilter(Avm1& vm, const AsValue& v, Filter& f) {
  if (v.type != AsValue::Type::kObject) return false;
  const FilterClass* c = ClassOf(v.obj);
  if (!c) return false;
  if (std::string(c->name) == "DisplacementMapFilter") {
    vm.Skip("DisplacementMapFilter");
    return false;
  }
  auto num = [&](const char* n, double def) {
    const double d = NumberField(vm, v, n);
    return std::isfinite(d) ? d : def;
  };
  auto flag = [&](const char* n) { return vm.ToBool(vm.Get(v, n)); };
  f = Filter{};
  f.kind = c->kind;
  f.blurX = std::clamp(num("blurX", 0), 0.0, 255.0);
  f.blurY = std::clamp(num("blurY", 0), 0.0, 255.0);
  f.passes = std::clamp(static_cast<int>(num("quality", 1)), 0, 15);
  f.strength = std::clamp(num("strength", 1), 0.0, 255.0);
  f.angle = num("angle", 45) * kPi / 180;
  f.distance = std::clamp(num("distance", 0), -255.0, 255.0);
  f.knockout = flag("knockout");
  f.inner = flag("inner");
  const std::string type = vm.ToString(vm.Get(v, "type"));
  switch (c->kind) {
    case Filter::Kind::kDropShadow:
      f.color = Colour(num("color", 0), num("alpha", 1));
      f.hideObject = flag("hideObject");
      break;
    case Filter::Kind::kGlow:
      f.color = Colour(num("color", 0xFF0000), num("alpha", 1));
      f.distance = 0;
      break;
    case Filter::Kind::kBevel:
      f.color = Colour(num("shadowColor", 0), num("shadowAlpha", 1));
      f.highlight = Colour(num("highlightColor", 0xFFFFFF), num("highlightAlpha", 1));
      f.inner = type == "inner";
      f.onTop = type == "full";
      break;
    case Filter::Kind::kGradientGlow:
    case Filter::Kind::kGradientBevel: {
      f.inner = type == "inner";
      f.onTop = type == "full";
      const AsValue colors = vm.Get(v, "colors"), alphas = vm.Get(v, "alphas"), ratios = vm.Get(v, "ratios");
      if (colors.type == AsValue::Type::kObject && alphas.type == AsValue::Type::kObject &&
          ratios.type == AsValue::Type::kObject) {
        const std::vector<AsValue> cs = vm.Elements(colors.obj), as = vm.Elements(alphas.obj),
                                   rs = vm.Elements(ratios.obj);
        const std::size_t n = std::min({cs.size(), as.size(), rs.size(), std::size_t{16}});
        for (std::size_t i = 0; i < n; ++i) {
          f.gradient.emplace_back(Byte(vm.ToNumber(rs[i])), Colour(vm.ToNumber(cs[i]), vm.ToNumber(as[i])));
        }
      }
      break;
    }
    case Filter::Kind::kColorMatrix: {
      const AsValue m = vm.Get(v, "matrix");
      const std::vector<AsValue> elems = m.type == AsValue::Type::kObject ? vm.Elements(m.obj) : std::vector<AsValue>{};
      for (std::size_t i = 0; i < 20; ++i) {
        const double d = i < elems.size() ? vm.ToNumber(elems[i]) : (i % 6 == 0 ? 1 : 0);
        f.matrix[i] = static_cast<float>(std::isfinite(d) ? d : 0);
      }
      break;
    }
    case Filter::Kind::kConvolution: {
      f.matrixX = std::clamp(static_cast<int>(num("matrixX", 0)), 0, 15);
      f.matrixY = std::clamp(static_cast<int>(num("matrixY", 0)), 0, 15);
      const AsValue m = vm.Get(v, "matrix");
      const std::vector<AsValue> elems = m.type == AsValue::Type::kObject ? vm.Elements(m.obj) : std::vector<AsValue>{};
      for (std::size_t i = 0; i < static_cast<std::size_t>(f.matrixX * f.matrixY); ++i) {
        const double d = i < elems.size() ? vm.ToNumber(elems[i]) : 0;
        f.kernel.push_back(static_cast<float>(std::isfinite(d) ? d : 0));
      }
      f.divisor = static_cast<float>(num("divisor", 1));
      f.bias = static_cast<float>(num("bias", 0));
      f.preserveAlpha = flag("preserveAlpha");
      f.clamp = flag("clamp");
      f.defaultColor = Colour(num("color", 0), num("alpha", 0));
      break;
    }
    case Filter::Kind::kBlur: break;
  }
  return true;
}

namespace {

// A script object for one of the renderer's filters (reading clip.filters).
AsValue FilterObject(Avm1& vm, const Filter& f) {
  const char* name = nullptr;
  for (const auto& c : Classes()) {
    if (c.kind == f.kind) {
      name = c.name;
      break;
    }
  }
  const AsValue ctor = vm.Get(AsValue::Object(Package(vm, "flash.filters")), name);
  const AsValue proto = vm.Get(ctor, "prototype");
  AsObject* o = vm.NewObject(proto.type == AsValue::Type::kObject ? proto.obj : vm.ObjectProto());
  o->className = name;
  Fill(vm, o, *ClassOf(o), {});
  for (const FilterField& field : FilterFields(f)) {
    AsValue v;
    switch (field.type) {
      case FilterField::Type::kNumber: v = AsValue::Number(field.number); break;
      case FilterField::Type::kBool: v = AsValue::Bool(field.number != 0); break;
      case FilterField::Type::kString: v = AsValue::String(field.text); break;
      case FilterField::Type::kNumbers: {
        std::vector<AsValue> elems;
        for (double d : field.numbers) elems.push_back(AsValue::Number(d));
        v = AsValue::Object(vm.NewArray(std::move(elems)));
        break;
      }
    }
    vm.SetProp(o, field.name, v);
  }
  return AsValue::Object(o);
}

AsValue McGetFilters(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ClipInstance(vm, self);
  std::vector<AsValue> out;
  if (inst) {
    for (const Filter& f : inst->filters) out.push_back(FilterObject(vm, f));
  }
  return AsValue::Object(vm.NewArray(std::move(out)));
}

AsValue McSetFilters(Avm1& vm, const AsValue& self, AsArgs a) {
  std::vector<Filter> list;
  const AsValue v = Arg(a, 0);
  if (v.type == AsValue::Type::kObject && v.obj->isArray) {
    const std::vector<AsValue> elems = vm.Elements(v.obj);  // reading may run scripts
    for (const AsValue& e : elems) {
      Filter f;
      if (list.size() < 16 && ReadScriptFilter(vm, e, f)) list.push_back(std::move(f));
    }
  }
  if (Instance* inst = ClipInstance(vm, self)) inst->filters = std::move(list);
  return {};
}

// ActionScript 1/2 knows the modes up to hardlight.
int ScriptBlendMode(std::string_view name) {
  const int mode = BlendModeNumber(name);
  return mode <= kBlendHardLight ? mode : -1;
}

AsValue McGetBlendMode(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ClipInstance(vm, self);
  const int m = inst ? inst->blendMode : 0;
  return AsValue::String(std::string(BlendModeName(m <= kBlendHardLight ? m : 0)));
}

AsValue McSetBlendMode(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue v = Arg(a, 0);
  int mode = -1;
  if (v.type == AsValue::Type::kString) {
    mode = ScriptBlendMode(v.Text());
  } else if (v.type == AsValue::Type::kNumber) {
    // A mode's number in its low byte (259 is multiply).
    const int n = ToInt32(v.num) & 0xFF;
    if (n >= 1 && n <= kBlendHardLight) mode = n;
  } else if (v.IsNullish()) {
    mode = 0;
  }
  // Unknown names, and values of other kinds, leave the mode as it was.
  if (Instance* inst = ClipInstance(vm, self); inst && mode >= 0) inst->blendMode = mode == 1 ? 0 : mode;
  return {};
}

// cacheAsBitmap changes nothing in the picture; the flag is kept for scripts.
AsValue McGetCache(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ClipInstance(vm, self);
  return AsValue::Bool(inst && inst->cacheAsBitmap);
}
AsValue McSetCache(Avm1& vm, const AsValue& self, AsArgs a) {
  const bool on = vm.ToBool(Arg(a, 0));
  if (Instance* inst = ClipInstance(vm, self)) inst->cacheAsBitmap = on;
  return {};
}

AsValue McGetOpaque(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ClipInstance(vm, self);
  if (!inst || !inst->opaqueBackground) return {};  // no background reads as undefined
  return AsValue::Number(*inst->opaqueBackground & 0xFFFFFF);
}
AsValue McSetOpaque(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue v = Arg(a, 0);
  const double d = v.IsNullish() ? std::nan("") : vm.ToNumber(v);
  Instance* inst = ClipInstance(vm, self);
  if (!inst) return {};
  if (std::isnan(d)) inst->opaqueBackground.reset();
  else inst->opaqueBackground = static_cast<std::uint32_t>(ToInt32(d)) & 0xFFFFFF;
  return {};
}

AsValue McGetScrollRect(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ClipInstance(vm, self);
  if (!inst || !inst->scrollRect) return {};
  const auto& r = *inst->scrollRect;
  return NewRectangle(vm, {r[0], r[1], r[2], r[3]});
}
AsValue McSetScrollRect(Avm1& vm, const AsValue& self, AsArgs a) {
  GeomRect r;
  const bool has = ReadGeomRect(vm, Arg(a, 0), r);
  Instance* inst = ClipInstance(vm, self);
  if (!inst) return {};
  if (has) inst->scrollRect = std::array<double, 4>{r.x, r.y, std::max(0.0, r.width), std::max(0.0, r.height)};
  else inst->scrollRect.reset();
  return {};
}

}  // namespace

int BlendModeOf(Avm1& vm, const AsValue& v) {
  if (v.type == AsValue::Type::kString) {
    const int mode = ScriptBlendMode(v.Text());
    return mode >= 2 ? mode : 0;
  }
  if (v.IsNullish()) return 0;
  const int n = ToInt32(vm.ToNumber(v));
  return n >= 2 && n <= 14 ? n : 0;
}

void InstallFilters(Avm1& vm) {
  AsObject* pkg = Package(vm, "flash.filters");
  // Every filter class shares BitmapFilter's clone.
  AsObject* base = vm.NewRootObject(vm.ObjectProto());
  vm.NewFunction("clone", FilterClone, base);
  vm.NewClass(pkg, "BitmapFilter", FilterCtor, base);
  for (const auto& c : Classes()) {
    AsObject* proto = vm.NewRootObject(base);
    vm.NewClass(pkg, c.name, FilterCtor, proto);
    if (std::string_view(c.name) == "DisplacementMapFilter") vm.AddAccessor(proto, "mapPoint", GetMapPointProp, SetMapPointProp);
  }
  AsObject* clip = vm.ClipProto();
  vm.AddAccessor(clip, "filters", McGetFilters, McSetFilters);
  vm.AddAccessor(clip, "blendMode", McGetBlendMode, McSetBlendMode);
  vm.AddAccessor(clip, "cacheAsBitmap", McGetCache, McSetCache);
  vm.AddAccessor(clip, "opaqueBackground", McGetOpaque, McSetOpaque);
  vm.AddAccessor(clip, "scrollRect", McGetScrollRect, McSetScrollRect);
}

}  // namespace quarvel::player::avm1_builtins
