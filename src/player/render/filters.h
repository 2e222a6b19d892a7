#pragma once
// Bitmap filters of placed objects and button records (drop shadow, blur,
// glow, bevel, gradient glow and bevel, convolution, colour matrix): their
// records and how they change a rendered picture.

#include <cairo.h>

#include <array>
#include <cstdint>
#include <vector>

#include "player/swf/reader.h"
#include "player/swf/records.h"

namespace quarvel::player {

struct Filter {
  enum class Kind { kDropShadow, kBlur, kGlow, kBevel, kGradientGlow, kConvolution, kColorMatrix, kGradientBevel };
  Kind kind = Kind::kBlur;
  swf::Rgba color{0, 0, 0, 255};      // shadow or glow colour
  swf::Rgba highlight{255, 255, 255, 255};  // bevel highlight
  double blurX = 0, blurY = 0;         // box width in stage pixels
  double angle = 0, distance = 0;      // radians, stage pixels
  double strength = 1;
  bool inner = false, knockout = false, hideObject = false, onTop = false;
  int passes = 1;
  // Gradient glow and bevel: colours by ratio 0..255.
  std::vector<std::pair<std::uint8_t, swf::Rgba>> gradient;
  // Colour matrix: 4 rows of 5, on straight RGBA with offsets in 0..255.
  std::array<float, 20> matrix{};
  // Convolution.
  int matrixX = 0, matrixY = 0;
  float divisor = 1, bias = 0;
  std::vector<float> kernel;
  swf::Rgba defaultColor{0, 0, 0, 0};
  bool clamp = true, preserveAlpha = false;
  bool operator==(const Filter&) const = default;
};

// A FILTERLIST (count byte first). Throws swf::SwfError when cut off or of an
// unknown filter id, since what follows cannot be found then.
std::vector<Filter> ReadFilterList(swf::Reader& r);

// Room the filters need around the object's own pixels, in device pixels
// for `scale` device pixels per stage pixel.
double FilterMargin(const std::vector<Filter>& filters, double scale);

// Applies the filters in order to a premultiplied ARGB32 image surface that
// holds the object drawn alone. Blurs read transparency beyond the image's
// edges, or with `clampEdges` (a bitmap filtering its own pixels) the edge
// pixels repeated.
void ApplyFilters(cairo_surface_t* image, const std::vector<Filter>& filters, double scale, bool clampEdges = false);

}  // namespace quarvel::player
