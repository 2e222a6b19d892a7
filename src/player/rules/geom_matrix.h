#pragma once
// flash.geom.Matrix as both script machines compute it: pixels,
// x' = a*x + c*y + tx, y' = b*x + d*y + ty. Header-only.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "player/swf/records.h"

namespace quarvel::player::rules {

struct GeomMatrix {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  // This first, then m (Matrix.concat).
  GeomMatrix Then(const GeomMatrix& m) const {
    return {a * m.a + b * m.c, a * m.b + b * m.d, c * m.a + d * m.c,
            c * m.b + d * m.d, tx * m.a + ty * m.c + m.tx, tx * m.b + ty * m.d + m.ty};
  }
  // False for a singular matrix; what Matrix.invert leaves then differs
  // between the machines.
  bool Invert(GeomMatrix& out) const {
    const double det = a * d - b * c;
    if (det == 0 || !std::isfinite(det)) return false;
    out.a = d / det, out.b = -b / det, out.c = -c / det, out.d = a / det;
    out.tx = -(out.a * tx + out.c * ty);
    out.ty = -(out.b * tx + out.d * ty);
    return true;
  }
  void Apply(double x, double y, double& ox, double& oy) const {
    ox = a * x + c * y + tx;
    oy = b * x + d * y + ty;
  }
  // createBox: the identity turned by `r`, then scaled, then moved.
  static GeomMatrix Box(double sx, double sy, double r, double tx, double ty) {
    const double cs = std::cos(r), sn = std::sin(r);
    return {sx * cs, sy * sn, -sx * sn, sy * cs, tx, ty};
  }
  // createGradientBox: the box that takes the gradient square (1638.4
  // pixels wide, centred on the origin) onto w x h at (tx, ty).
  static GeomMatrix GradientBox(double w, double h, double r, double tx, double ty) {
    return Box(w / 1638.4, h / 1638.4, r, tx + w / 2, ty + h / 2);
  }
  // Twips for the renderer's matrices, clamped into their range.
  swf::Matrix ToTwips() const {
    auto finite = [](double v, double lim) { return std::isfinite(v) ? std::clamp(v, -lim, lim) : 0.0; };
    swf::Matrix m;
    m.scaleX = finite(a, 1e6), m.rotateSkew0 = finite(b, 1e6), m.rotateSkew1 = finite(c, 1e6), m.scaleY = finite(d, 1e6);
    m.translateX = static_cast<std::int32_t>(std::lround(finite(tx * 20, 2e9)));
    m.translateY = static_cast<std::int32_t>(std::lround(finite(ty * 20, 2e9)));
    return m;
  }
  static GeomMatrix FromTwips(const swf::Matrix& m) {
    return {m.scaleX, m.rotateSkew0, m.rotateSkew1, m.scaleY, m.translateX / 20.0, m.translateY / 20.0};
  }
};

}  // namespace quarvel::player::rules
