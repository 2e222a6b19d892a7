#pragma once
// A display object's matrix as Flash holds it when it carries points and
// concatenates spaces: single-precision scales and skews, moves in whole
// twips, every product rounded to single precision and every move to the
// nearest twip (ties to even). The digits scripts read back
// (concatenatedMatrix, globalToLocal) come from this arithmetic, not from
// exact doubles. Header-only.

#include <cmath>
#include <cstdint>
#include <span>

#include "player/swf/records.h"

namespace quarvel::player::rules {

// Flash's float to twips: nearest, ties to even; what is not finite is 0
// and what is too large wraps to the lowest value, as Flash's conversion does.
inline std::int32_t RoundTwips(float v) {
  if (!std::isfinite(v)) return 0;
  if (v >= 2147483648.0f || v < -2147483648.0f) return INT32_MIN;
  return static_cast<std::int32_t>(std::nearbyint(v));
}

struct DeviceMatrix {
  float a = 1, b = 0, c = 0, d = 1;
  std::int32_t tx = 0, ty = 0;

  static DeviceMatrix From(const swf::Matrix& m) {
    return {static_cast<float>(m.scaleX), static_cast<float>(m.rotateSkew0), static_cast<float>(m.rotateSkew1),
            static_cast<float>(m.scaleY), m.translateX, m.translateY};
  }
  static DeviceMatrix Scale(float s) { return {s, 0, 0, s, 0, 0}; }
  static DeviceMatrix Move(std::int32_t x, std::int32_t y) { return {1, 0, 0, 1, x, y}; }

  // This first, then `outer` (an object's matrix then its parent's).
  DeviceMatrix Then(const DeviceMatrix& o) const {
    const float ma = a * o.a, mb = b * o.c, mc = a * o.b, md = b * o.d;
    const float na = c * o.a, nb = d * o.c, nc = c * o.b, nd = d * o.d;
    const float x1 = static_cast<float>(tx) * o.a, x2 = static_cast<float>(ty) * o.c;
    const float y1 = static_cast<float>(tx) * o.b, y2 = static_cast<float>(ty) * o.d;
    return {ma + mb, mc + md, na + nb, nc + nd, static_cast<std::int32_t>(static_cast<std::uint32_t>(RoundTwips(x1 + x2)) + static_cast<std::uint32_t>(o.tx)),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(RoundTwips(y1 + y2)) + static_cast<std::uint32_t>(o.ty))};
  }
  // False when the determinant is within float's epsilon of zero.
  bool Invert(DeviceMatrix& out) const {
    const float det = a * d - b * c;
    if (!(std::fabs(det) > 1.1920929e-7f)) return false;
    const float fx = static_cast<float>(tx), fy = static_cast<float>(ty);
    out.a = d / det, out.b = b / -det, out.c = c / -det, out.d = a / det;
    out.tx = RoundTwips((d * fx - c * fy) / -det);
    out.ty = RoundTwips((b * fx - a * fy) / det);
    return true;
  }
  // A point in twips carried through, in twips.
  void Apply(std::int32_t x, std::int32_t y, std::int32_t& ox, std::int32_t& oy) const {
    const float fx = static_cast<float>(x), fy = static_cast<float>(y);
    ox = static_cast<std::int32_t>(static_cast<std::uint32_t>(RoundTwips(a * fx + c * fy)) + static_cast<std::uint32_t>(tx));
    oy = static_cast<std::int32_t>(static_cast<std::uint32_t>(RoundTwips(b * fx + d * fy)) + static_cast<std::uint32_t>(ty));
  }
};

// An object's matrices concatenated as Flash concatenates them for the stage:
// `chain` runs from the object up to the main timeline. The scales come
// from the top down through the stage's drawing grid (`samples` a pixel:
// 4 at high quality, 1 at low), then back out of it; the moves are whole
// twips, concatenated from the top down at each step.
inline DeviceMatrix ConcatenateForStage(std::span<const DeviceMatrix> chain, float samples) {
  if (chain.empty()) return {};
  DeviceMatrix twips = chain.back();
  DeviceMatrix grid = chain.back().Then(DeviceMatrix::Scale(samples / 20));
  for (std::size_t k = chain.size() - 1; k-- > 0;) {
    twips = chain[k].Then(twips);
    grid = chain[k].Then(grid);
  }
  grid = grid.Then(DeviceMatrix::Scale(20 / samples));
  grid.tx = twips.tx, grid.ty = twips.ty;
  return grid;
}

// What Flash reports as the concatenated matrix of the stage, or of an
// object off it: its own matrix in the grid's units (5 times at high quality).
inline DeviceMatrix OwnInGridUnits(const DeviceMatrix& own, float samples) {
  const DeviceMatrix scaled = own.Then(DeviceMatrix::Scale(20 / samples));
  DeviceMatrix out = own;
  out.a = scaled.a, out.b = scaled.b, out.c = scaled.c, out.d = scaled.d;
  return out;
}

}  // namespace quarvel::player::rules
