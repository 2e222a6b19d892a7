#pragma once
// flash.geom.Matrix3D's arithmetic and Flash's perspective, shared by the
// ActionScript 3 library and the renderer. A matrix is 16 numbers column by
// column (12..14 the translation) transforming column vectors; a projective
// map of the plane is 3 x 3, row by row. Header-only.

#include <array>
#include <cmath>
#include <utility>

namespace quarvel::player::rules {

using M4 = std::array<double, 16>;
inline constexpr M4 kIdentity4{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// a * b: b's transformation first.
inline M4 Mul4(const M4& a, const M4& b) {
  M4 out{};
  for (int col = 0; col < 4; ++col)
    for (int row = 0; row < 4; ++row) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[col * 4 + k];
      out[col * 4 + row] = s;
    }
  return out;
}
inline M4 Translation4(double x, double y, double z) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}; }
inline M4 Scaling4(double x, double y, double z) { return {x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1}; }
// About an axis through the origin, `radians` turning as Flash turns
// (rotationY moves +x toward -z, the viewer).
inline M4 Rotation4(double radians, double ax, double ay, double az) {
  const double len = std::sqrt(ax * ax + ay * ay + az * az);
  if (len == 0) return kIdentity4;
  ax /= len, ay /= len, az /= len;
  const double c = std::cos(radians), s = std::sin(radians), t = 1 - c;
  return {t * ax * ax + c,      t * ax * ay + s * az, t * ax * az - s * ay, 0,
          t * ax * ay - s * az, t * ay * ay + c,      t * ay * az + s * ax, 0,
          t * ax * az + s * ay, t * ay * az - s * ax, t * az * az + c,      0,
          0,                    0,                    0,                    1};
}
// Scale, then turns about x, y and z (radians), then the translation: the
// order a display object's properties compose in.
inline M4 Compose4(const std::array<double, 3>& t, const std::array<double, 3>& r, const std::array<double, 3>& s) {
  M4 out = Scaling4(s[0], s[1], s[2]);
  out = Mul4(Rotation4(r[0], 1, 0, 0), out);
  out = Mul4(Rotation4(r[1], 0, 1, 0), out);
  out = Mul4(Rotation4(r[2], 0, 0, 1), out);
  return Mul4(Translation4(t[0], t[1], t[2]), out);
}
// The point (x, y, z, w) through the matrix.
inline std::array<double, 4> Apply4(const M4& v, double x, double y, double z, double w) {
  return {v[0] * x + v[4] * y + v[8] * z + v[12] * w, v[1] * x + v[5] * y + v[9] * z + v[13] * w,
          v[2] * x + v[6] * y + v[10] * z + v[14] * w, v[3] * x + v[7] * y + v[11] * z + v[15] * w};
}
// False for a singular matrix (Gauss-Jordan with partial pivoting).
inline bool Invert4(const M4& m, M4& out) {
  double a[4][8];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) a[r][c] = m[c * 4 + r], a[r][c + 4] = r == c ? 1 : 0;
  for (int c = 0; c < 4; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 4; ++r)
      if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
    if (!(std::abs(a[pivot][c]) > 0) || !std::isfinite(a[pivot][c])) return false;
    if (pivot != c)
      for (int k = 0; k < 8; ++k) std::swap(a[c][k], a[pivot][k]);
    const double d = a[c][c];
    for (int k = 0; k < 8; ++k) a[c][k] /= d;
    for (int r = 0; r < 4; ++r) {
      if (r == c || a[r][c] == 0) continue;
      const double k0 = a[r][c];
      for (int k = 0; k < 8; ++k) a[r][k] -= k0 * a[c][k];
    }
  }
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out[c * 4 + r] = a[r][c + 4];
  return true;
}
// A flat 2D matrix (x' = a x + c y + tx, y' = b x + d y + ty) in three dimensions.
inline M4 Flat4(double a, double b, double c, double d, double tx, double ty) {
  return {a, b, 0, 0, c, d, 0, 0, 0, 0, 1, 0, tx, ty, 0, 1};
}

// A display object's place in three dimensions: its 2D matrix (scales,
// skew and a turn about z, then x' = a x + c y + tx, y' = b x + d y + ty)
// with z, rotationX and rotationY (degrees) and scaleZ between its scales
// and its turn, as Matrix3D.recompose composes them.
inline M4 Place3D(double a, double b, double c, double d, double tx, double ty, double z, double rotationX,
                  double rotationY, double scaleZ) {
  const double turn = std::atan2(b, a), cs = std::cos(turn), sn = std::sin(turn);
  const M4 own{cs * a + sn * b, -sn * a + cs * b, 0, 0, cs * c + sn * d, -sn * c + cs * d, 0, 0,
               0, 0, scaleZ, 0, 0, 0, 0, 1};
  const double rad = 3.14159265358979323846 / 180;
  M4 m = Mul4(Rotation4(rotationX * rad, 1, 0, 0), own);
  m = Mul4(Rotation4(rotationY * rad, 0, 1, 0), m);
  m = Mul4(Rotation4(turn, 0, 0, 1), m);
  return Mul4(Translation4(tx, ty, z), m);
}

// ---- Projective maps of the plane: (x, y, 1) to (X, Y, W), seen at (X / W, Y / W).
using H3 = std::array<double, 9>;
inline constexpr H3 kIdentity3{1, 0, 0, 0, 1, 0, 0, 0, 1};

// a * b: b first.
inline H3 Mul3(const H3& a, const H3& b) {
  H3 out{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out[r * 3 + c] = a[r * 3] * b[c] + a[r * 3 + 1] * b[3 + c] + a[r * 3 + 2] * b[6 + c];
  return out;
}
inline bool Invert3(const H3& m, H3& out) {
  const double c0 = m[4] * m[8] - m[5] * m[7], c1 = m[5] * m[6] - m[3] * m[8], c2 = m[3] * m[7] - m[4] * m[6];
  const double det = m[0] * c0 + m[1] * c1 + m[2] * c2;
  if (det == 0 || !std::isfinite(det)) return false;
  const double k = 1 / det;
  out = {c0 * k, (m[2] * m[7] - m[1] * m[8]) * k, (m[1] * m[5] - m[2] * m[4]) * k,
         c1 * k, (m[0] * m[8] - m[2] * m[6]) * k, (m[2] * m[3] - m[0] * m[5]) * k,
         c2 * k, (m[1] * m[6] - m[0] * m[7]) * k, (m[0] * m[4] - m[1] * m[3]) * k};
  return true;
}
// A 2D matrix as a projective map.
inline H3 Affine3(double a, double b, double c, double d, double tx, double ty) { return {a, c, tx, b, d, ty, 0, 0, 1}; }
// W of (x, y): positive in front of the eye.
inline double DepthOf(const H3& h, double x, double y) { return h[6] * x + h[7] * y + h[8]; }
// The point seen at (x, y); false when it lies on or behind the eye's plane.
inline bool ApplyH3(const H3& h, double x, double y, double& ox, double& oy) {
  const double w = DepthOf(h, x, y);
  if (!(w > 0)) return false;
  ox = (h[0] * x + h[1] * y + h[2]) / w;
  oy = (h[3] * x + h[4] * y + h[5]) / w;
  return true;
}

// Flash's perspective: the eye `focal` in front of the z = 0 plane,
// looking along +z through `(cx, cy)`, the vanishing point. A point at
// depth z is seen at c + (p - c) * focal / (focal + z).
struct Perspective {
  double focal = 0, cx = 0, cy = 0;
  bool operator==(const Perspective&) const = default;
};

// The z = 0 plane of `m`'s own space as the eye sees it, in the space the
// perspective is in: W is 1 at depth 0 and falls to 0 at the eye.
inline H3 PlaneSeen(const Perspective& p, const M4& m) {
  const double f = p.focal;
  const double xu = m[0], yu = m[1], zu = m[2], xv = m[4], yv = m[5], zv = m[6], x0 = m[12], y0 = m[13], z0 = m[14];
  return {xu + p.cx * zu / f, xv + p.cx * zv / f, x0 + p.cx * z0 / f,
          yu + p.cy * zu / f, yv + p.cy * zv / f, y0 + p.cy * z0 / f,
          zu / f,             zv / f,             1 + z0 / f};
}
// The perspective as a matrix of homogeneous points (x, y, z, w): the
// point seen is (x / w, y / w), on the z = 0 plane.
inline M4 Seen4(const Perspective& p) {
  return {1, 0, 0, 0, 0, 1, 0, 0, p.cx / p.focal, p.cy / p.focal, 0, 1 / p.focal, 0, 0, 0, 1};
}
// A point (x, y, z) as the eye sees it; false behind the eye.
inline bool ProjectPoint(const Perspective& p, double x, double y, double z, double& ox, double& oy) {
  const double d = p.focal + z;
  if (!(d > 0) || !(p.focal > 0)) return false;
  ox = p.cx + (x - p.cx) * p.focal / d;
  oy = p.cy + (y - p.cy) * p.focal / d;
  return true;
}

}  // namespace quarvel::player::rules
