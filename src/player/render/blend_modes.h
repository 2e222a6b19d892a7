#pragma once
// Flash's blend modes by number (PlaceObject3's values, which both script
// machines also use: 1 normal, 2 layer ... 14 hardlight; 15 shader, of
// ActionScript 3), their script names and how they draw.

#include <cairo.h>

#include <string_view>

namespace quarvel::player {

inline constexpr int kBlendHardLight = 14;  // the last of ActionScript 1/2
inline constexpr int kBlendShader = 15;     // draws with the object's blend shader

// "normal" for 0 and for numbers that name none.
std::string_view BlendModeName(int mode);
// 1..15 for a mode's script name (1 for "normal"); -1 for any other text.
int BlendModeNumber(std::string_view name);
// The Cairo operator of a mode; OVER where the mode has none (normal,
// layer, shader) and for subtract and invert, which are drawn pixel by pixel.
cairo_operator_t BlendOperator(int mode);

}  // namespace quarvel::player
