#include "player/render/filter_schema.h"

#include <cmath>

namespace quarvel::player {

const std::vector<FilterSchema>& FilterSchemas() {
  using T = FilterParam::Type;
  static const std::vector<FilterSchema> classes = {
      {"DropShadowFilter",
       Filter::Kind::kDropShadow,
       {{"distance", T::kNumber, 4}, {"angle", T::kNumber, 45}, {"color", T::kNumber, 0}, {"alpha", T::kNumber, 1},
        {"blurX", T::kNumber, 4}, {"blurY", T::kNumber, 4}, {"strength", T::kNumber, 1}, {"quality", T::kNumber, 1},
        {"inner", T::kBool, 0}, {"knockout", T::kBool, 0}, {"hideObject", T::kBool, 0}}},
      {"BlurFilter", Filter::Kind::kBlur, {{"blurX", T::kNumber, 4}, {"blurY", T::kNumber, 4}, {"quality", T::kNumber, 1}}},
      {"GlowFilter",
       Filter::Kind::kGlow,
       {{"color", T::kNumber, 0xFF0000}, {"alpha", T::kNumber, 1}, {"blurX", T::kNumber, 6}, {"blurY", T::kNumber, 6},
        {"strength", T::kNumber, 2}, {"quality", T::kNumber, 1}, {"inner", T::kBool, 0}, {"knockout", T::kBool, 0}}},
      {"BevelFilter",
       Filter::Kind::kBevel,
       {{"distance", T::kNumber, 4}, {"angle", T::kNumber, 45}, {"highlightColor", T::kNumber, 0xFFFFFF},
        {"highlightAlpha", T::kNumber, 1}, {"shadowColor", T::kNumber, 0}, {"shadowAlpha", T::kNumber, 1},
        {"blurX", T::kNumber, 4}, {"blurY", T::kNumber, 4}, {"strength", T::kNumber, 1}, {"quality", T::kNumber, 1},
        {"type", T::kString, 0, "inner"}, {"knockout", T::kBool, 0}}},
      {"GradientGlowFilter",
       Filter::Kind::kGradientGlow,
       {{"distance", T::kNumber, 4}, {"angle", T::kNumber, 45}, {"colors", T::kArray}, {"alphas", T::kArray},
        {"ratios", T::kArray}, {"blurX", T::kNumber, 4}, {"blurY", T::kNumber, 4}, {"strength", T::kNumber, 1},
        {"quality", T::kNumber, 1}, {"type", T::kString, 0, "inner"}, {"knockout", T::kBool, 0}}},
      {"GradientBevelFilter",
       Filter::Kind::kGradientBevel,
       {{"distance", T::kNumber, 4}, {"angle", T::kNumber, 45}, {"colors", T::kArray}, {"alphas", T::kArray},
        {"ratios", T::kArray}, {"blurX", T::kNumber, 4}, {"blurY", T::kNumber, 4}, {"strength", T::kNumber, 1},
        {"quality", T::kNumber, 1}, {"type", T::kString, 0, "inner"}, {"knockout", T::kBool, 0}}},
      {"ColorMatrixFilter", Filter::Kind::kColorMatrix, {{"matrix", T::kArray}}},
      {"ConvolutionFilter",
       Filter::Kind::kConvolution,
       {{"matrixX", T::kNumber, 0}, {"matrixY", T::kNumber, 0}, {"matrix", T::kArray}, {"divisor", T::kNumber, 1},
        {"bias", T::kNumber, 0}, {"preserveAlpha", T::kBool, 1}, {"clamp", T::kBool, 1}, {"color", T::kNumber, 0},
        {"alpha", T::kNumber, 0}}},
      // Not drawn by the renderer: its settings are kept for scripts only.
      {"DisplacementMapFilter",
       Filter::Kind::kBlur,
       {{"mapBitmap", T::kAny}, {"mapPoint", T::kAny}, {"componentX", T::kNumber, 0}, {"componentY", T::kNumber, 0},
        {"scaleX", T::kNumber, 0}, {"scaleY", T::kNumber, 0}, {"mode", T::kString, 0, "wrap"}, {"color", T::kNumber, 0},
        {"alpha", T::kNumber, 0}}},
  };
  return classes;
}

const FilterSchema* FindFilterSchema(std::string_view name) {
  for (const FilterSchema& c : FilterSchemas()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const FilterSchema& SchemaOf(const Filter& f) {
  for (const FilterSchema& c : FilterSchemas()) {
    if (c.kind == f.kind) return c;
  }
  return FilterSchemas().front();
}

std::vector<FilterField> FilterFields(const Filter& f) {
  using T = FilterField::Type;
  std::vector<FilterField> out;
  auto num = [&](const char* n, double d) { out.push_back({n, T::kNumber, d, nullptr, {}}); };
  auto flag = [&](const char* n, bool b) { out.push_back({n, T::kBool, b ? 1.0 : 0.0, nullptr, {}}); };
  auto colour = [&](const char* n, const char* alpha, const swf::Rgba& c) {
    num(n, (c.r << 16) | (c.g << 8) | c.b);
    num(alpha, c.a / 255.0);
  };
  auto blur = [&] { num("blurX", f.blurX), num("blurY", f.blurY), num("quality", f.passes); };
  auto offset = [&] { num("distance", f.distance), num("angle", f.angle * 180 / M_PI); };
  const char* type = f.inner ? "inner" : f.onTop ? "full" : "outer";
  switch (f.kind) {
    case Filter::Kind::kBlur:
      blur();
      break;
    case Filter::Kind::kDropShadow:
      offset(), colour("color", "alpha", f.color), blur(), num("strength", f.strength);
      flag("inner", f.inner), flag("knockout", f.knockout), flag("hideObject", f.hideObject);
      break;
    case Filter::Kind::kGlow:
      colour("color", "alpha", f.color), blur(), num("strength", f.strength);
      flag("inner", f.inner), flag("knockout", f.knockout);
      break;
    case Filter::Kind::kBevel:
      offset(), colour("highlightColor", "highlightAlpha", f.highlight), colour("shadowColor", "shadowAlpha", f.color);
      blur(), num("strength", f.strength), out.push_back({"type", T::kString, 0, type, {}}), flag("knockout", f.knockout);
      break;
    case Filter::Kind::kGradientGlow:
    case Filter::Kind::kGradientBevel: {
      FilterField colors{"colors", T::kNumbers, 0, nullptr, {}}, alphas{"alphas", T::kNumbers, 0, nullptr, {}},
          ratios{"ratios", T::kNumbers, 0, nullptr, {}};
      for (const auto& [ratio, c] : f.gradient) {
        colors.numbers.push_back((c.r << 16) | (c.g << 8) | c.b);
        alphas.numbers.push_back(c.a / 255.0);
        ratios.numbers.push_back(ratio);
      }
      offset();
      out.push_back(std::move(colors)), out.push_back(std::move(alphas)), out.push_back(std::move(ratios));
      blur(), num("strength", f.strength), out.push_back({"type", T::kString, 0, type, {}}), flag("knockout", f.knockout);
      break;
    }
    case Filter::Kind::kColorMatrix:
      out.push_back({"matrix", T::kNumbers, 0, nullptr, {f.matrix.begin(), f.matrix.end()}});
      break;
    case Filter::Kind::kConvolution:
      num("matrixX", f.matrixX), num("matrixY", f.matrixY);
      out.push_back({"matrix", T::kNumbers, 0, nullptr, {f.kernel.begin(), f.kernel.end()}});
      num("divisor", f.divisor), num("bias", f.bias), flag("preserveAlpha", f.preserveAlpha), flag("clamp", f.clamp);
      colour("color", "alpha", f.defaultColor);
      break;
  }
  return out;
}

}  // namespace quarvel::player
