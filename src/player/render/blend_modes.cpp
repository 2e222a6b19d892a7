#include "player/render/blend_modes.h"

namespace quarvel::player {
namespace {

constexpr std::string_view kNames[] = {"normal",     "normal", "layer",    "multiply", "screen", "lighten",
                                       "darken",     "difference", "add",  "subtract", "invert", "alpha",
                                       "erase",      "overlay", "hardlight", "shader"};
constexpr int kCount = static_cast<int>(std::size(kNames));

}  // namespace

std::string_view BlendModeName(int mode) { return mode >= 0 && mode < kCount ? kNames[mode] : kNames[0]; }

int BlendModeNumber(std::string_view name) {
  for (int i = 1; i < kCount; ++i) {
    if (name == kNames[i]) return i;
  }
  return -1;
}

cairo_operator_t BlendOperator(int mode) {
  switch (mode) {
    case 3: return CAIRO_OPERATOR_MULTIPLY;
    case 4: return CAIRO_OPERATOR_SCREEN;
    case 5: return CAIRO_OPERATOR_LIGHTEN;
    case 6: return CAIRO_OPERATOR_DARKEN;
    case 7: return CAIRO_OPERATOR_DIFFERENCE;
    case 8: return CAIRO_OPERATOR_ADD;
    case 11: return CAIRO_OPERATOR_DEST_IN;
    case 12: return CAIRO_OPERATOR_DEST_OUT;
    case 13: return CAIRO_OPERATOR_OVERLAY;
    case 14: return CAIRO_OPERATOR_HARD_LIGHT;
    default: return CAIRO_OPERATOR_OVER;
  }
}

}  // namespace quarvel::player
