// flash.filters (objects with named fields, turned into the renderer's
// filters when set) and blendShader (pixel kernels drawn as blend modes).
#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {

// A filter the timeline placed, as a new flash.filters object.
Value FilterObject(Machine& m, const Filter& flt) {
  Class* cls = m.FindClass(std::string("flash.filters::") + SchemaOf(flt).name);
  if (!cls) return Value::Null();
  Object* o = m.Construct(cls, {});
  for (const FilterField& field : FilterFields(flt)) {
    Value v;
    switch (field.type) {
      case FilterField::Type::kNumber: v = Value::Number(field.number); break;
      case FilterField::Type::kBool: v = Value::Bool(field.number != 0); break;
      case FilterField::Type::kString: v = m.Str(field.text); break;
      case FilterField::Type::kNumbers: {
        std::vector<Value> elems;
        for (double d : field.numbers) elems.push_back(Value::Number(d));
        v = Value::Obj(m.NewArray(std::move(elems)));
        break;
      }
    }
    o->SetDyn(m.Intern(field.name), v);
  }
  return Value::Obj(o);
}
Value CloneFilter(Machine& m, const Value& v);
NATIVE(DoGetFilters) {
  FlashObject* f = As<FlashObject>(self);
  // Copies of the filters set, as Flash hands out (what a ShaderFilter draws
  // with stays the same Shader).
  if (avm2::ArrayObject* arr = f ? avm2::AsArray(f->filters) : nullptr) {
    std::vector<Value> copies;
    for (const Value& v : arr->elems) copies.push_back(CloneFilter(m, v));
    return Value::Obj(m.NewArray(std::move(copies)));
  }
  // Until a script sets them, the filters are the timeline's, new objects each time.
  std::vector<Value> out;
  if (Instance* i = f && f->filters.IsUndefined() ? SelfNode(m, self) : nullptr)
    for (const Filter& flt : i->filters) out.push_back(FilterObject(m, flt));
  return Value::Obj(m.NewArray(std::move(out)));
}
swf::Rgba FilterColor(Machine& m, const Value& v, const char* color, const char* alpha) {
  const std::uint32_t c = m.ToUint(m.GetProperty(v, color));
  double al = m.ToNumber(m.GetProperty(v, alpha));
  if (std::isnan(al)) al = 1;
  return swf::Rgba{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c),
                   static_cast<std::uint8_t>(std::clamp(al, 0.0, 1.0) * 255 + 0.5)};
}
// A flash.filters object as the renderer's filter; false for kinds it lacks.
bool ToFilter(Machine& m, const Value& v, Filter& out) {
  Object* o = v.AsObject();
  if (!o || !o->cls) return false;
  const std::string kind = o->cls->name;
  auto num = [&](const char* n, double dflt) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return std::isfinite(d) ? d : dflt;
  };
  out.blurX = std::clamp(num("blurX", 4), 0.0, 255.0);
  out.blurY = std::clamp(num("blurY", 4), 0.0, 255.0);
  out.passes = std::clamp(static_cast<int>(num("quality", 1)), 0, 15);  // 0: no blur at all
  out.strength = std::clamp(num("strength", 1), 0.0, 255.0);
  out.inner = m.ToBoolean(m.GetProperty(v, "inner"));
  out.knockout = m.ToBoolean(m.GetProperty(v, "knockout"));
  out.angle = num("angle", 45) * M_PI / 180;
  out.distance = num("distance", 0);  // a glow or blur has none
  if (kind == "BlurFilter") {
    out.kind = Filter::Kind::kBlur;
  } else if (kind == "GlowFilter") {
    out.kind = Filter::Kind::kGlow;
    out.color = FilterColor(m, v, "color", "alpha");
  } else if (kind == "DropShadowFilter") {
    out.kind = Filter::Kind::kDropShadow;
    out.color = FilterColor(m, v, "color", "alpha");
    out.hideObject = m.ToBoolean(m.GetProperty(v, "hideObject"));
  } else if (kind == "BevelFilter") {
    out.kind = Filter::Kind::kBevel;
    out.color = FilterColor(m, v, "shadowColor", "shadowAlpha");
    out.highlight = FilterColor(m, v, "highlightColor", "highlightAlpha");
    const std::string type = m.ToString(m.GetProperty(v, "type"));
    out.inner = type != "outer";
    out.onTop = type == "full";
  } else if (kind == "ColorMatrixFilter") {
    out.kind = Filter::Kind::kColorMatrix;
    avm2::ArrayObject* arr = avm2::AsArray(m.GetProperty(v, "matrix"));
    if (!arr || arr->elems.size() < 20) return false;
    for (std::size_t i = 0; i < 20; ++i) out.matrix[i] = static_cast<float>(m.ToNumber(arr->elems[i]));
  } else if (kind == "GradientGlowFilter" || kind == "GradientBevelFilter") {
    out.kind = kind == "GradientGlowFilter" ? Filter::Kind::kGradientGlow : Filter::Kind::kGradientBevel;
    const std::string type = m.ToString(m.GetProperty(v, "type"));
    out.inner = type == "inner";
    out.onTop = type == "full";
    avm2::ArrayObject* colors = avm2::AsArray(m.GetProperty(v, "colors"));
    avm2::ArrayObject* alphas = avm2::AsArray(m.GetProperty(v, "alphas"));
    avm2::ArrayObject* ratios = avm2::AsArray(m.GetProperty(v, "ratios"));
    if (colors && alphas && ratios) {
      const std::size_t n = std::min({colors->elems.size(), alphas->elems.size(), ratios->elems.size(), std::size_t{16}});
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t c = m.ToUint(colors->elems[i]);
        double al = m.ToNumber(alphas->elems[i]);
        double ratio = m.ToNumber(ratios->elems[i]);
        if (!std::isfinite(al)) al = 0;
        if (!std::isfinite(ratio)) ratio = 0;
        out.gradient.emplace_back(static_cast<std::uint8_t>(std::clamp(ratio, 0.0, 255.0)),
                                  swf::Rgba{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                            static_cast<std::uint8_t>(c),
                                            static_cast<std::uint8_t>(std::clamp(al, 0.0, 1.0) * 255 + 0.5)});
      }
    }
  } else if (kind == "ConvolutionFilter") {
    out.kind = Filter::Kind::kConvolution;
    out.blurX = out.blurY = out.distance = 0;
    out.matrixX = std::clamp(static_cast<int>(num("matrixX", 0)), 0, 15);
    out.matrixY = std::clamp(static_cast<int>(num("matrixY", 0)), 0, 15);
    avm2::ArrayObject* arr = avm2::AsArray(m.GetProperty(v, "matrix"));
    for (std::size_t i = 0; i < static_cast<std::size_t>(out.matrixX * out.matrixY); ++i) {
      const double d = arr && i < arr->elems.size() ? m.ToNumber(arr->elems[i]) : 0;
      out.kernel.push_back(static_cast<float>(std::isfinite(d) ? d : 0));
    }
    out.divisor = static_cast<float>(num("divisor", 1));
    out.bias = static_cast<float>(num("bias", 0));
    out.preserveAlpha = m.ToBoolean(m.GetProperty(v, "preserveAlpha"));
    out.clamp = m.ToBoolean(m.GetProperty(v, "clamp"));
    out.defaultColor = FilterColor(m, v, "color", "alpha");
  } else {
    m.Skip("filter " + kind);
    return false;
  }
  return true;
}
NATIVE(DoSetFilters) {
  FlashObject* f = As<FlashObject>(self);
  Instance* i = SelfNode(m, self);
  if (!f) return Value();
  avm2::ArrayObject* arr = avm2::AsArray(m.ArgOr(a, 0));
  // Every entry must be a filter (Flash names parameter 0 whichever it is).
  if (arr)
    if (const Class* filter = m.FindClass("flash.filters::BitmapFilter"))
      for (const Value& v : arr->elems) {
        const Object* o = v.AsObject();
        if (!v.IsHole() && (!o || !o->cls || !o->cls->IsSubclassOf(filter)))
          m.ThrowError("ArgumentError", "Parameter 0 is of the incorrect type. Should be type Filter.", 2005);
      }
  f->filters = arr ? Value::Obj(m.NewArray(arr->elems)) : Value::Null();
  if (!i) return Value();
  i->filters.clear();
  if (arr)
    for (const Value& v : arr->elems) {
      Filter flt;
      if (ToFilter(m, v, flt)) i->filters.push_back(flt);
    }
  return Value();
}
// Settings past Flash's ranges are kept at its bounds; it holds alphas in
// bytes and strengths in 256ths.
Value ClampSetting(Machine& m, std::string_view name, const Value& v) {
  const bool alpha = name == "alpha" || name == "highlightAlpha" || name == "shadowAlpha";
  double hi = 0, steps = 0;
  if (name == "blurX" || name == "blurY") hi = 255;
  else if (name == "strength") hi = 255, steps = 256;
  else if (name == "quality") hi = 15;
  else if (alpha) hi = 1, steps = 255;
  else if (name == "divisor" || name == "bias") return Value::Number(static_cast<float>(m.ToNumber(v)));
  else return v;
  const double d = m.ToNumber(v);
  if (std::isnan(d)) return v;
  const double kept = std::clamp(d, 0.0, hi);
  return Value::Number(steps > 0 ? std::floor(kept * steps) / steps : kept);
}
// Filter objects: their arguments become named fields, the class's
// defaults filling the rest (array parameters empty arrays).
NATIVE(FilterCtor) {
  Object* o = self.AsObject();
  const FilterSchema* schema = nullptr;
  for (Class* c = o ? o->cls : nullptr; c && !schema; c = c->super) schema = FindFilterSchema(c->name);
  if (!schema) return self;
  for (std::size_t i = 0; i < schema->params.size(); ++i) {
    const FilterParam& p = schema->params[i];
    const bool given = i < a.size() && !a[i].IsUndefined();
    Value v;
    switch (p.type) {
      case FilterParam::Type::kNumber: v = given ? ClampSetting(m, p.name, a[i]) : Value::Number(p.number); break;
      case FilterParam::Type::kBool: v = Value::Bool(given ? m.ToBoolean(a[i]) : p.number != 0); break;
      case FilterParam::Type::kString: v = given ? a[i] : m.Str(p.text); break;
      case FilterParam::Type::kArray: v = given ? a[i] : Value::Obj(m.NewArray({})); break;  // empty, not null
      case FilterParam::Type::kAny: v = given ? a[i] : Value::Null(); break;
    }
    o->SetDyn(m.Intern(p.name), v);
  }
  // A convolution's kernel holds matrixX * matrixY single-precision numbers.
  if (schema->kind == Filter::Kind::kConvolution) {
    const double w = m.ToNumber(m.GetProperty(self, "matrixX")), h = m.ToNumber(m.GetProperty(self, "matrixY"));
    const std::size_t n = w > 0 && h > 0 ? static_cast<std::size_t>(std::min(w, 15.0)) * static_cast<std::size_t>(std::min(h, 15.0)) : 0;
    avm2::ArrayObject* arr = avm2::AsArray(m.GetProperty(self, "matrix"));
    std::vector<Value> kernel;
    for (std::size_t i = 0; i < n; ++i)
      kernel.push_back(Value::Number(arr && i < arr->elems.size() ? static_cast<float>(m.ToNumber(arr->elems[i])) : 0));
    o->SetDyn(m.Intern("matrix"), Value::Obj(m.NewArray(std::move(kernel))));
  }
  // A gradient's alphas and ratios go no further than its colours.
  if (schema->kind == Filter::Kind::kGradientGlow || schema->kind == Filter::Kind::kGradientBevel) {
    avm2::ArrayObject* colors = avm2::AsArray(m.GetProperty(self, "colors"));
    for (const char* n : {"alphas", "ratios"}) {
      avm2::ArrayObject* arr = avm2::AsArray(m.GetProperty(self, n));
      if (!colors || !arr || arr->elems.size() <= colors->elems.size()) continue;
      std::vector<Value> kept(arr->elems.begin(), arr->elems.begin() + static_cast<std::ptrdiff_t>(colors->elems.size()));
      o->SetDyn(m.Intern(n), Value::Obj(m.NewArray(std::move(kept))));
    }
  }
  return self;
}
// Flash keeps a displacement map's point in whole pixels (a new Point,
// (0, 0) when none is given) and its scales in single precision.
NATIVE(DisplacementMapCtor) {
  FilterCtor(m, self, a);
  Object* o = self.AsObject();
  Class* point = m.FindClass("flash.geom::Point");
  if (!o || !point) return self;
  const Value given = m.GetProperty(self, "mapPoint");
  double x = 0, y = 0;
  if (given.IsObject()) {
    x = m.ToInt(m.GetProperty(given, "x"));
    y = m.ToInt(m.GetProperty(given, "y"));
  }
  Value args[] = {Value::Number(x), Value::Number(y)};
  o->SetDyn(m.Intern("mapPoint"), Value::Obj(m.Construct(point, args)));
  for (const char* n : {"scaleX", "scaleY"})
    o->SetDyn(m.Intern(n), Value::Number(static_cast<float>(m.ToNumber(m.GetProperty(self, n)))));
  return self;
}
NATIVE(ColorMatrixCtor) {
  if (Object* o = self.AsObject()) {
    std::vector<Value> id(20, Value::Int(0));
    id[0] = id[6] = id[12] = id[18] = Value::Int(1);
    // A given matrix is read as 20 numbers, zeros past its end.
    if (avm2::ArrayObject* arr = avm2::AsArray(m.ArgOr(a, 0)))
      for (std::size_t i = 0; i < id.size(); ++i)
        if (const double d = i < arr->elems.size() ? m.ToNumber(arr->elems[i]) : 0; true)
          id[i] = Value::Number(std::isnan(d) ? 0 : d);  // holes and non-numbers are 0
    o->SetDyn(m.Intern("matrix"), Value::Obj(m.NewArray(id)));
  }
  return self;
}
Value CloneFilter(Machine& m, const Value& v) {
  Object* o = v.AsObject();
  if (!o || !o->cls) return v;
  Object* c = m.Instantiate(o->cls);
  if (o->dyn)
    for (auto& [k, field] : o->dyn->items)
      if (k) c->SetDyn(k, field);
  return Value::Obj(c);
}
NATIVE(FilterClone) {
  if (!self.AsObject()) return Value::Null();
  return CloneFilter(m, self);
}

// ---- blendShader

// The kernel and its parameter values are taken as they are now: Flash
// copies the shader on assignment.
NATIVE(DoSetBlendShader) {
  Instance* i = SelfNode(m, self);
  const Value shader = m.ArgOr(a, 0);
  // A Shader given no bytecode has no data to blend with.
  if (ShaderObject* s = ArgAs<ShaderObject>(m, shader, "flash.display::Shader"); s && s->data.IsNullish())
    m.ThrowError("TypeError", "Parameter data must be non-null.", 2007);
  if (!i) return Value();
  auto blend = std::make_shared<ShaderBlend>();
  blend->values = ShaderValues(m, shader, blend->shader);
  if (!blend->shader) {
    i->blendShader.reset();
    return Value();
  }
  i->blendShader = std::move(blend);
  i->blendMode = 15;
  return Value();
}
constexpr MemberRow kFilterRows[] = {
    {"flash.filters::BitmapFilter", "clone", Member::kMethod, FilterClone},
    {"flash.filters::BitmapFilterQuality", "LOW", Member::kConst, nullptr, nullptr, 1},
    {"flash.filters::BitmapFilterQuality", "MEDIUM", Member::kConst, nullptr, nullptr, 2},
    {"flash.filters::BitmapFilterQuality", "HIGH", Member::kConst, nullptr, nullptr, 3},
};

constexpr ClassRow kFilterClasses[] = {
    {"flash.filters", "BitmapFilter", "", nullptr, nullptr, true},
    {"flash.filters", "BlurFilter", "flash.filters::BitmapFilter", nullptr, FilterCtor, true},
    {"flash.filters", "GlowFilter", "flash.filters::BitmapFilter", nullptr, FilterCtor, true},
    {"flash.filters", "DropShadowFilter", "flash.filters::BitmapFilter", nullptr, FilterCtor, true},
    {"flash.filters", "BevelFilter", "flash.filters::BitmapFilter", nullptr, FilterCtor, true},
    {"flash.filters", "ColorMatrixFilter", "flash.filters::BitmapFilter", nullptr, ColorMatrixCtor, true},
    {"flash.filters", "GradientGlowFilter", "flash.filters::BitmapFilter", nullptr, FilterCtor, true},
    {"flash.filters", "GradientBevelFilter", "flash.filters::BitmapFilter", nullptr, FilterCtor, true},
    {"flash.filters", "ConvolutionFilter", "flash.filters::BitmapFilter", nullptr, FilterCtor, true},
    {"flash.filters", "DisplacementMapFilter", "flash.filters::BitmapFilter", nullptr, DisplacementMapCtor, true},
    {"flash.filters", "BitmapFilterQuality"},
};

void InstallFilters(As3Display& b) { Register(b, kFilterClasses, kFilterRows); }
}  // namespace quarvel::player::as3
