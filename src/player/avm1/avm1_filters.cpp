// flash.filters.* for scripts, and the clip properties that change how a
// clip is composited: filters, blendMode, cacheAsBitmap, opaqueBackground,
// scrollRect. A filter object keeps its settings as script properties;
// `clip.filters = [...]` turns them into the renderer's filters, and reading
// `clip.filters` makes new objects from those.
#include <algorithm>
#include <array>
#include <utility>
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

AsValue IdentityMatrix(Avm1& vm) {
  std::vector<AsValue> m(20, AsValue::Number(0));
  for (int i = 0; i < 4; ++i) m[static_cast<std::size_t>(i * 6)] = AsValue::Number(1);
  return AsValue::Object(vm.NewArray(std::move(m)));
}

const FilterClass* ClassOf(const AsObject* o) {
  if (!o) return nullptr;
  for (const auto& c : Classes()) {
    if (o->className == c.name) return &c;
  }
  return nullptr;
}

// Each class's settings are native accessors on its prototype, in Flash's
// order (which is not the constructor's): this order lists them to for-in
// and numbers them for ASnative.
enum class Rule {
  kNumber, kAngle, kColor, kAlpha, kQuality, kStrength, kBlur, kBool, kType, kColorMatrix, kKernelSize,
  kKernel, kMapBitmap, kMapPoint, kComponent, kScale, kMode, kColors, kAlphas, kRatios
};
struct Accessor {
  const char* name;
  Rule rule;
};
struct AccessorClass {
  const char* name;
  std::vector<Accessor> fields;
};

const std::vector<AccessorClass>& AccessorClasses() {
  using R = Rule;
  static const std::vector<AccessorClass> kClasses = {
      {"DropShadowFilter",
       {{"distance", R::kNumber}, {"angle", R::kAngle}, {"color", R::kColor}, {"alpha", R::kAlpha},
        {"quality", R::kQuality}, {"inner", R::kBool}, {"knockout", R::kBool}, {"blurX", R::kBlur},
        {"blurY", R::kBlur}, {"strength", R::kStrength}, {"hideObject", R::kBool}}},
      {"BlurFilter", {{"blurX", R::kBlur}, {"blurY", R::kBlur}, {"quality", R::kQuality}}},
      {"GlowFilter",
       {{"color", R::kColor}, {"alpha", R::kAlpha}, {"quality", R::kQuality}, {"inner", R::kBool},
        {"knockout", R::kBool}, {"blurX", R::kBlur}, {"blurY", R::kBlur}, {"strength", R::kStrength}}},
      {"BevelFilter",
       {{"distance", R::kNumber}, {"angle", R::kAngle}, {"highlightColor", R::kColor}, {"highlightAlpha", R::kAlpha},
        {"shadowColor", R::kColor}, {"shadowAlpha", R::kAlpha}, {"quality", R::kQuality}, {"strength", R::kStrength},
        {"knockout", R::kBool}, {"blurX", R::kBlur}, {"blurY", R::kBlur}, {"type", R::kType}}},
      {"GradientGlowFilter",
       {{"distance", R::kNumber}, {"angle", R::kAngle}, {"colors", R::kColors}, {"alphas", R::kAlphas},
        {"ratios", R::kRatios}, {"blurX", R::kBlur}, {"blurY", R::kBlur}, {"quality", R::kQuality},
        {"strength", R::kStrength}, {"knockout", R::kBool}, {"type", R::kType}}},
      {"GradientBevelFilter",
       {{"distance", R::kNumber}, {"angle", R::kAngle}, {"colors", R::kColors}, {"alphas", R::kAlphas},
        {"ratios", R::kRatios}, {"blurX", R::kBlur}, {"blurY", R::kBlur}, {"quality", R::kQuality},
        {"strength", R::kStrength}, {"knockout", R::kBool}, {"type", R::kType}}},
      {"ColorMatrixFilter", {{"matrix", R::kColorMatrix}}},
      {"ConvolutionFilter",
       {{"matrixX", R::kKernelSize}, {"matrixY", R::kKernelSize}, {"matrix", R::kKernel}, {"divisor", R::kNumber},
        {"bias", R::kNumber}, {"preserveAlpha", R::kBool}, {"clamp", R::kBool}, {"color", R::kColor},
        {"alpha", R::kAlpha}}},
      {"DisplacementMapFilter",
       {{"mapBitmap", R::kMapBitmap}, {"mapPoint", R::kMapPoint}, {"componentX", R::kComponent},
        {"componentY", R::kComponent}, {"scaleX", R::kScale}, {"scaleY", R::kScale}, {"mode", R::kMode},
        {"color", R::kColor}, {"alpha", R::kAlpha}}},
  };
  return kClasses;
}
constexpr std::size_t kMaxAccessorClasses = 9, kMaxAccessors = 12;
constexpr std::size_t kGradientStops = 16;

// A filter's settings as the accessors keep them, by field.
struct FilterState : AsNativeData {
  std::size_t cls = 0;  // in AccessorClasses()
  std::array<double, kMaxAccessors> number{};
  std::array<std::string, kMaxAccessors> text;
  std::vector<double> matrix;
  // Gradient stops: sixteen of each kept, `stops` of them shown.
  std::array<double, kGradientStops> colors{}, alphas{}, ratios{};
  std::size_t stops = 0;
  AsValue mapBitmap;
  std::int32_t mapX = 0, mapY = 0;
  void Mark(std::vector<AsObject*>& reachable) const override {
    if (mapBitmap.type == AsValue::Type::kObject) reachable.push_back(mapBitmap.obj);
  }
};

FilterState* StateOf(const AsValue& self, std::size_t cls) {
  FilterState* s = self.type == AsValue::Type::kObject ? self.obj->Native<FilterState>() : nullptr;
  return s && s->cls == cls ? s : nullptr;
}

std::size_t FieldIndex(const AccessorClass& c, std::string_view name) {
  for (std::size_t i = 0; i < c.fields.size(); ++i) {
    if (name == c.fields[i].name) return i;
  }
  return c.fields.size();
}

// Numbers as Flash converts an element of a filter's array: null and
// undefined are NaN.
double ElementNumber(Avm1& vm, const AsValue& v) { return v.IsNullish() ? std::nan("") : vm.ToNumber(v); }
std::size_t LengthOf(Avm1& vm, const AsValue& v) {
  if (v.type != AsValue::Type::kObject && v.type != AsValue::Type::kString) return 0;
  const double n = vm.ToNumber(vm.Get(v, "length"));
  return std::isfinite(n) && n > 0 ? static_cast<std::size_t>(std::min(n, 65536.0)) : 0;
}
AsValue ElementOf(Avm1& vm, const AsValue& v, std::size_t i) {
  return v.type == AsValue::Type::kObject ? vm.Get(v, std::to_string(i)) : AsValue{};
}

// An alpha is kept in 256 steps.
double AlphaStep(double a, bool round) {
  if (std::isnan(a)) return 1;
  const double c = std::clamp(a, 0.0, 1.0) * 255;
  return (round ? std::round(c) : std::trunc(c)) / 255;
}
double ColorBits(double c) { return static_cast<double>(static_cast<std::uint32_t>(ToInt32(c)) & 0xFFFFFF); }

void WriteField(Avm1& vm, FilterState& s, std::size_t field, const AsValue& v) {
  const AccessorClass& c = AccessorClasses()[s.cls];
  double& n = s.number[field];
  const auto num = [&] { return vm.ToNumber(v); };
  switch (c.fields[field].rule) {
    case Rule::kNumber: n = num(); break;
    case Rule::kAngle: n = std::fmod(num(), 360.0) * kPi / 180; break;  // kept in radians
    case Rule::kColor: n = ColorBits(num()); break;
    case Rule::kAlpha: n = AlphaStep(num(), false); break;
    case Rule::kQuality: n = std::clamp(ToInt32(num()), 0, 15); break;
    case Rule::kStrength: n = std::isnan(num()) ? 0 : std::clamp(num(), 0.0, 255.0); break;
    case Rule::kBlur: n = std::isnan(num()) ? 0 : std::clamp(num(), 0.0, 255.0); break;
    case Rule::kBool: n = vm.ToBool(v) ? 1 : 0; break;
    case Rule::kComponent: n = ToInt32(num()); break;
    case Rule::kScale: n = std::isnan(num()) ? 0 : std::clamp(num(), -65535.0, 65535.0); break;
    case Rule::kType: {
      const std::string t = vm.ToString(v);
      s.text[field] = t == "inner" || t == "outer" ? t : "full";
      break;
    }
    case Rule::kMode: {
      const std::string t = vm.ToString(v);
      s.text[field] = t == "clamp" || t == "ignore" || t == "color" ? t : "wrap";
      break;
    }
    case Rule::kColorMatrix:
      // Twenty numbers whatever was given; null and undefined change nothing.
      if (v.IsNullish()) break;
      s.matrix.assign(20, std::nan(""));
      for (std::size_t i = 0; i < std::min<std::size_t>(20, LengthOf(vm, v)); ++i) {
        s.matrix[i] = ElementNumber(vm, ElementOf(vm, v, i));
      }
      break;
    case Rule::kKernelSize: {
      n = std::clamp(ToInt32(num()), 0, 15);
      // The kernel grows to the new size; it never shrinks.
      const auto cells = static_cast<std::size_t>(s.number[0] * s.number[1]);
      if (s.matrix.size() < cells) s.matrix.resize(cells, 0);
      break;
    }
    case Rule::kKernel: {
      if (v.IsNullish()) break;
      const std::size_t given = LengthOf(vm, v);
      s.matrix.assign(std::max(given, static_cast<std::size_t>(s.number[0] * s.number[1])), 0);
      for (std::size_t i = 0; i < given; ++i) s.matrix[i] = ElementNumber(vm, ElementOf(vm, v, i));
      break;
    }
    case Rule::kMapBitmap:
      if (v.type == AsValue::Type::kObject && v.obj->className == "BitmapData") s.mapBitmap = v;
      break;
    case Rule::kMapPoint: {
      // Any object with both x and y sets the point (a conversion that
      // throws gives its coordinate the lowest integer, and its error goes
      // on after the point is set, x's before y's); anything else makes it (0, 0).
      std::int32_t x = 0, y = 0;
      std::optional<AsValue> error;
      if (v.type == AsValue::Type::kObject) {
        const AsValue xv = vm.Get(v, "x"), yv = vm.Get(v, "y");
        if (vm.Throwing()) return;
        auto convert = [&](const AsValue& cv) {
          const double d = vm.ToNumber(cv);
          if (auto e = vm.TakeThrown()) {
            if (!error) error = std::move(e);
            return INT32_MIN;
          }
          return TruncateOrLowest(d);
        };
        const std::int32_t cx = convert(xv), cy = convert(yv);
        if (!xv.IsUndefined() && !yv.IsUndefined()) x = cx, y = cy;
      }
      s.mapX = x, s.mapY = y;
      if (error) vm.Rethrow(std::move(*error));
      break;
    }
    case Rule::kColors:
      // The colours set how many stops there are (at most sixteen).
      if (v.IsNullish()) break;
      s.stops = std::min(LengthOf(vm, v), kGradientStops);
      for (std::size_t i = 0; i < s.stops; ++i) {
        const double d = vm.ToNumber(ElementOf(vm, v, i));
        s.colors[i] = std::isnan(d) ? 0 : ColorBits(d);
      }
      break;
    case Rule::kAlphas:
      if (v.IsNullish()) break;
      for (std::size_t i = 0; i < s.stops; ++i) s.alphas[i] = AlphaStep(vm.ToNumber(ElementOf(vm, v, i)), true);
      break;
    case Rule::kRatios:
      // Fewer ratios than stops cut the stops.
      if (v.IsNullish()) break;
      s.stops = std::min(s.stops, LengthOf(vm, v));
      for (std::size_t i = 0; i < s.stops; ++i) {
        const double d = vm.ToNumber(ElementOf(vm, v, i));
        s.ratios[i] = std::isnan(d) ? 0 : std::clamp(std::trunc(d), 0.0, 255.0);
      }
      break;
  }
}

AsValue Numbers(Avm1& vm, const double* begin, const double* end) {
  std::vector<AsValue> elems;
  for (const double* p = begin; p != end; ++p) elems.push_back(AsValue::Number(*p));
  return AsValue::Object(vm.NewArray(std::move(elems)));
}

AsValue ReadField(Avm1& vm, const FilterState& s, std::size_t field) {
  const double n = s.number[field];
  switch (AccessorClasses()[s.cls].fields[field].rule) {
    case Rule::kBool: return AsValue::Bool(n != 0);
    case Rule::kType:
    case Rule::kMode: return AsValue::String(s.text[field]);
    case Rule::kColorMatrix:
    case Rule::kKernel: return Numbers(vm, s.matrix.data(), s.matrix.data() + s.matrix.size());
    case Rule::kMapBitmap: return s.mapBitmap;
    case Rule::kMapPoint: return NewPoint(vm, s.mapX, s.mapY);
    case Rule::kAngle: return AsValue::Number(n * 180 / kPi);
    case Rule::kColors: return Numbers(vm, s.colors.data(), s.colors.data() + s.stops);
    case Rule::kAlphas: return Numbers(vm, s.alphas.data(), s.alphas.data() + s.stops);
    case Rule::kRatios: return Numbers(vm, s.ratios.data(), s.ratios.data() + s.stops);
    default: return AsValue::Number(n);
  }
}

// One getter and one setter per class and field: a native knows only its number.
template <std::size_t C, std::size_t F>
AsValue GetField(Avm1& vm, const AsValue& self, AsArgs) {
  const FilterState* s = StateOf(self, C);
  return s && F < AccessorClasses()[C].fields.size() ? ReadField(vm, *s, F) : AsValue{};
}
template <std::size_t C, std::size_t F>
AsValue SetField(Avm1& vm, const AsValue& self, AsArgs a) {
  if (FilterState* s = StateOf(self, C); s && F < AccessorClasses()[C].fields.size()) WriteField(vm, *s, F, Arg(a, 0));
  return {};
}
template <std::size_t C, std::size_t... F>
constexpr std::array<std::pair<AsNative, AsNative>, sizeof...(F)> FieldNatives(std::index_sequence<F...>) {
  return {std::pair<AsNative, AsNative>{GetField<C, F>, SetField<C, F>}...};
}
template <std::size_t... C>
constexpr auto AllNatives(std::index_sequence<C...>) {
  return std::array{FieldNatives<C>(std::make_index_sequence<kMaxAccessors>())...};
}
constexpr auto kNatives = AllNatives(std::make_index_sequence<kMaxAccessorClasses>());

std::size_t AccessorClassOf(const FilterClass& c) {
  const auto& all = AccessorClasses();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (std::string_view(all[i].name) == c.name) return i;
  }
  return all.size();
}

// A filter's settings from constructor arguments, defaults filling the
// rest, each through its setter.
void Fill(Avm1& vm, AsObject* o, const FilterClass& c, AsArgs a) {
  const std::size_t cls = AccessorClassOf(c);
  if (cls >= AccessorClasses().size()) return;
  auto state = std::make_unique<FilterState>();
  FilterState& s = *state;
  s.cls = cls;
  const AccessorClass& ac = AccessorClasses()[cls];
  for (std::size_t i = 0; i < c.params.size(); ++i) {
    const Param& p = c.params[i];
    const std::size_t field = FieldIndex(ac, p.name);
    if (field >= ac.fields.size()) continue;
    const AsValue arg = Arg(a, i);
    if (!arg.IsUndefined() && !(p.type == T::kArray && arg.IsNullish())) {
      WriteField(vm, s, field, arg);
      continue;
    }
    // Flash's default angle is 0.785398163 radians, a little short of 45 degrees.
    if (ac.fields[field].rule == Rule::kAngle && p.number == 45) {
      s.number[field] = 0.785398163;
      continue;
    }
    switch (p.type) {
      case T::kNumber: WriteField(vm, s, field, AsValue::Number(p.number)); break;
      case T::kBool: WriteField(vm, s, field, AsValue::Bool(p.number != 0)); break;
      case T::kString: WriteField(vm, s, field, AsValue::String(p.text)); break;
      case T::kArray:
        if (c.kind == Filter::Kind::kColorMatrix) WriteField(vm, s, field, IdentityMatrix(vm));
        break;
      case T::kAny: WriteField(vm, s, field, arg); break;
    }
  }
  o->native = std::move(state);
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
  const FilterState* s = o ? o->Native<FilterState>() : nullptr;
  if (!ClassOf(o) || !s) return {};
  AsObject* copy = vm.NewObject(o->proto);
  copy->className = o->className;
  copy->native = std::make_unique<FilterState>(*s);
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
    if (FilterState* st = o->Native<FilterState>()) {
      const AccessorClass& ac = AccessorClasses()[st->cls];
      if (const std::size_t i = FieldIndex(ac, field.name); i < ac.fields.size()) WriteField(vm, *st, i, v);
    }
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
  base->props[vm.Key("clone")].hidden = false;
  vm.NewClass(pkg, "BitmapFilter", FilterCtor, base);
  static_assert(kNatives.size() >= 9 && kNatives[0].size() >= 12);
  for (const auto& c : Classes()) {
    AsObject* proto = vm.NewRootObject(base);
    vm.NewClass(pkg, c.name, FilterCtor, proto);
    const std::size_t cls = AccessorClassOf(c);
    if (cls >= AccessorClasses().size()) continue;
    const auto& fields = AccessorClasses()[cls].fields;
    for (std::size_t f = 0; f < fields.size() && f < kMaxAccessors; ++f) {
      vm.AddAccessor(proto, fields[f].name, kNatives[cls][f].first, kNatives[cls][f].second);
      proto->props[vm.Key(fields[f].name)].hidden = false;
    }
  }
  AsObject* clip = vm.ClipProto();
  vm.AddAccessor(clip, "filters", McGetFilters, McSetFilters);
  vm.AddAccessor(clip, "blendMode", McGetBlendMode, McSetBlendMode);
  vm.AddAccessor(clip, "cacheAsBitmap", McGetCache, McSetCache);
  vm.AddAccessor(clip, "opaqueBackground", McGetOpaque, McSetOpaque);
  vm.AddAccessor(clip, "scrollRect", McGetScrollRect, McSetScrollRect);
}

}  // namespace quarvel::player::avm1_builtins
