#include "player/render/filter_schema.h"

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

}  // namespace quarvel::player
