#pragma once
// Basic SWF records: RECT, MATRIX, CXFORM / CXFORMWITHALPHA, RGB / RGBA / ARGB.

#include <cstdint>

#include "player/swf/reader.h"

namespace quarvel::swf {

// A rectangle in twips (1/20 pixel).
struct Rect {
  std::int32_t xmin = 0;
  std::int32_t xmax = 0;
  std::int32_t ymin = 0;
  std::int32_t ymax = 0;

  std::int32_t Width() const { return xmax - xmin; }
  std::int32_t Height() const { return ymax - ymin; }
  bool operator==(const Rect&) const = default;
};

// Affine transform: x' = scaleX*x + rotateSkew1*y + translateX,
//                   y' = rotateSkew0*x + scaleY*y + translateY (translation in twips).
struct Matrix {
  double scaleX = 1.0;
  double scaleY = 1.0;
  double rotateSkew0 = 0.0;
  double rotateSkew1 = 0.0;
  std::int32_t translateX = 0;
  std::int32_t translateY = 0;

  bool operator==(const Matrix&) const = default;
};

struct Rgba {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  std::uint8_t a = 255;

  bool operator==(const Rgba&) const = default;
};

// Colour transform; multipliers are 8.8 fixed (256 = 1.0), adds are 0..255 units.
// Without alpha in the record the alpha terms stay 256 and 0.
struct ColorTransform {
  std::int32_t redMult = 256;
  std::int32_t greenMult = 256;
  std::int32_t blueMult = 256;
  std::int32_t alphaMult = 256;
  std::int32_t redAdd = 0;
  std::int32_t greenAdd = 0;
  std::int32_t blueAdd = 0;
  std::int32_t alphaAdd = 0;

  bool IsIdentity() const { return *this == ColorTransform{}; }
  // Each channel: clamp(c * mult / 256 + add, 0, 255).
  Rgba Apply(Rgba c) const;
  bool operator==(const ColorTransform&) const = default;
};

// Each record reader starts at a byte boundary and leaves the reader at the
// next byte boundary after the record.
Rect ReadRect(Reader& r, std::string_view field = "RECT");
Matrix ReadMatrix(Reader& r, std::string_view field = "MATRIX");
ColorTransform ReadCxform(Reader& r, std::string_view field = "CXFORM");
ColorTransform ReadCxformWithAlpha(Reader& r, std::string_view field = "CXFORMWITHALPHA");
Rgba ReadRgb(Reader& r, std::string_view field = "RGB");
Rgba ReadRgba(Reader& r, std::string_view field = "RGBA");
Rgba ReadArgb(Reader& r, std::string_view field = "ARGB");

}  // namespace quarvel::swf
