#include "player/swf/records.h"

#include <algorithm>
#include <string>

namespace quarvel::swf {
namespace {

std::string Name(std::string_view record, const char* part) {
  std::string s(record);
  s += '.';
  s += part;
  return s;
}

std::uint8_t Channel(std::int32_t c, std::int32_t mult, std::int32_t add) {
  const std::int64_t v = static_cast<std::int64_t>(c) * mult / 256 + add;
  return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255));
}

ColorTransform ReadCx(Reader& r, std::string_view field, bool with_alpha) {
  r.AlignBits();
  ColorTransform cx;
  const bool has_add = r.UB(1, Name(field, "HasAddTerms")) != 0;
  const bool has_mult = r.UB(1, Name(field, "HasMultTerms")) != 0;
  const unsigned nbits = r.UB(4, Name(field, "Nbits"));
  if (has_mult) {
    cx.redMult = r.SB(nbits, Name(field, "RedMultTerm"));
    cx.greenMult = r.SB(nbits, Name(field, "GreenMultTerm"));
    cx.blueMult = r.SB(nbits, Name(field, "BlueMultTerm"));
    if (with_alpha) cx.alphaMult = r.SB(nbits, Name(field, "AlphaMultTerm"));
  }
  if (has_add) {
    cx.redAdd = r.SB(nbits, Name(field, "RedAddTerm"));
    cx.greenAdd = r.SB(nbits, Name(field, "GreenAddTerm"));
    cx.blueAdd = r.SB(nbits, Name(field, "BlueAddTerm"));
    if (with_alpha) cx.alphaAdd = r.SB(nbits, Name(field, "AlphaAddTerm"));
  }
  r.AlignBits();
  return cx;
}

}  // namespace

Rgba ColorTransform::Apply(Rgba c) const {
  return {Channel(c.r, redMult, redAdd), Channel(c.g, greenMult, greenAdd),
          Channel(c.b, blueMult, blueAdd), Channel(c.a, alphaMult, alphaAdd)};
}

Rect ReadRect(Reader& r, std::string_view field) {
  r.AlignBits();
  const unsigned n = r.UB(5, Name(field, "Nbits"));
  Rect rc;
  rc.xmin = r.SB(n, Name(field, "Xmin"));
  rc.xmax = r.SB(n, Name(field, "Xmax"));
  rc.ymin = r.SB(n, Name(field, "Ymin"));
  rc.ymax = r.SB(n, Name(field, "Ymax"));
  r.AlignBits();
  return rc;
}

Matrix ReadMatrix(Reader& r, std::string_view field) {
  r.AlignBits();
  Matrix m;
  if (r.UB(1, Name(field, "HasScale"))) {
    const unsigned n = r.UB(5, Name(field, "NScaleBits"));
    m.scaleX = r.FB(n, Name(field, "ScaleX"));
    m.scaleY = r.FB(n, Name(field, "ScaleY"));
  }
  if (r.UB(1, Name(field, "HasRotate"))) {
    const unsigned n = r.UB(5, Name(field, "NRotateBits"));
    m.rotateSkew0 = r.FB(n, Name(field, "RotateSkew0"));
    m.rotateSkew1 = r.FB(n, Name(field, "RotateSkew1"));
  }
  const unsigned n = r.UB(5, Name(field, "NTranslateBits"));
  m.translateX = r.SB(n, Name(field, "TranslateX"));
  m.translateY = r.SB(n, Name(field, "TranslateY"));
  r.AlignBits();
  return m;
}

ColorTransform ReadCxform(Reader& r, std::string_view field) { return ReadCx(r, field, false); }

ColorTransform ReadCxformWithAlpha(Reader& r, std::string_view field) {
  return ReadCx(r, field, true);
}

Rgba ReadRgb(Reader& r, std::string_view field) {
  auto b = r.Bytes(3, field);
  return {b[0], b[1], b[2], 255};
}

Rgba ReadRgba(Reader& r, std::string_view field) {
  auto b = r.Bytes(4, field);
  return {b[0], b[1], b[2], b[3]};
}

Rgba ReadArgb(Reader& r, std::string_view field) {
  auto b = r.Bytes(4, field);
  return {b[1], b[2], b[3], b[0]};
}

}  // namespace quarvel::swf
