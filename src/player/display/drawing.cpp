#include "player/display/drawing.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

namespace quarvel::player {

std::uint64_t NextDrawingVersion() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace quarvel::player

namespace quarvel::player::drawing {
namespace {

constexpr std::size_t kMaxDrawingEdges = std::size_t{1} << 18;

ShapeLayer& TopLayer(Drawing& d) {
  if (d.geometry.layers.empty()) d.geometry.layers.emplace_back();
  return d.geometry.layers.back();
}

void Grow(Drawing& d, double x, double y, double margin) {
  // Callers give finite twips; a point that is not cannot widen the bounds.
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(margin)) return;
  Rect& b = d.geometry.bounds;
  Rect& e = d.edgeBounds;
  // Flash keeps drawn points in whole twips.
  const auto whole = [](double v) { return static_cast<std::int32_t>(std::floor(v + 0.5)); };
  const auto x0 = whole(x - margin), x1 = whole(x + margin), y0 = whole(y - margin), y1 = whole(y + margin);
  const auto px = whole(x), py = whole(y);
  if (!d.hasBounds) {
    b = Rect{x0, x1, y0, y1};
    e = Rect{px, px, py, py};
    d.hasBounds = true;
    return;
  }
  b.xmin = std::min(b.xmin, x0), b.xmax = std::max(b.xmax, x1);
  b.ymin = std::min(b.ymin, y0), b.ymax = std::max(b.ymax, y1);
  e.xmin = std::min(e.xmin, px), e.xmax = std::max(e.xmax, px);
  e.ymin = std::min(e.ymin, py), e.ymax = std::max(e.ymax, py);
}

void AddEdge(Drawing& d, const Edge& e, bool fillOnly = false) {
  if (d.edges >= kMaxDrawingEdges) return;
  ++d.edges;
  ShapeLayer& layer = TopLayer(d);
  double margin = 0;
  if (d.filling && !layer.fillPaths.empty()) layer.fillPaths[0].push_back(e);
  if (!fillOnly && d.line >= 0 && d.line < static_cast<int>(layer.linePaths.size())) {
    layer.linePaths[static_cast<std::size_t>(d.line)].push_back(e);
    margin = layer.lines[static_cast<std::size_t>(d.line)].width / 2;
  }
  Grow(d, e.x0, e.y0, margin);
  Grow(d, e.x1, e.y1, margin);
  if (e.curve) {
    // The curve's own extremes, not its control point, as Flash measures.
    auto extreme = [&](double a, double c, double b, double& t) {
      const double den = a - 2 * c + b;
      if (den == 0) return false;
      t = (a - c) / den;
      return t > 0 && t < 1;
    };
    double t = 0;
    auto point = [&](double tt) {
      const double u = 1 - tt;
      Grow(d, u * u * e.x0 + 2 * u * tt * e.cx + tt * tt * e.x1, u * u * e.y0 + 2 * u * tt * e.cy + tt * tt * e.y1, margin);
    };
    if (extreme(e.x0, e.cx, e.x1, t)) point(t);
    if (extreme(e.y0, e.cy, e.y1, t)) point(t);
  }
  d.penX = e.x1, d.penY = e.y1;
}

// A fill's open contour is closed by a straight edge, as Flash does.
void CloseContour(Drawing& d) {
  if (d.filling && (d.penX != d.startX || d.penY != d.startY)) {
    const double x = d.penX, y = d.penY;
    AddEdge(d, Edge{x, y, 0, 0, d.startX, d.startY, false}, true);
  }
}

}  // namespace

void StartFill(Drawing& d, const FillStyle& f) {
  CloseContour(d);
  ShapeLayer layer;
  layer.fills.push_back(f);
  layer.fillPaths.emplace_back();
  d.line = -1;
  if (d.hasLineStyle) {
    layer.lines.push_back(d.lineStyle);
    layer.linePaths.emplace_back();
    d.line = 0;
  }
  if (d.geometry.layers.size() < 100000) d.geometry.layers.push_back(std::move(layer));
  d.filling = true;
  d.startX = d.penX, d.startY = d.penY;
}

void EndFill(Drawing& d) {
  CloseContour(d);
  d.filling = false;
}

void SetLineStyle(Drawing& d, const LineStyle& l) {
  d.lineStyle = l;
  d.hasLineStyle = true;
  ShapeLayer& layer = TopLayer(d);
  if (layer.lines.size() >= 10000) return;
  layer.lines.push_back(l);
  layer.linePaths.emplace_back();
  d.line = static_cast<int>(layer.lines.size() - 1);
}

void SetLineFill(Drawing& d, const FillStyle& f) {
  if (d.line < 0) return;
  ShapeLayer& layer = TopLayer(d);
  if (d.line >= static_cast<int>(layer.lines.size())) return;
  LineStyle& l = layer.lines[static_cast<std::size_t>(d.line)];
  l.hasFill = true;
  l.fill = f;
  d.lineStyle = l;
}

void MoveTo(Drawing& d, double x, double y) {
  CloseContour(d);
  d.penX = d.startX = x;
  d.penY = d.startY = y;
}

void LineTo(Drawing& d, double x, double y) { AddEdge(d, Edge{d.penX, d.penY, 0, 0, x, y, false}); }

void CurveTo(Drawing& d, double cx, double cy, double x, double y) { AddEdge(d, Edge{d.penX, d.penY, cx, cy, x, y, true}); }

void CubicTo(Drawing& d, double c1x, double c1y, double c2x, double c2y, double x, double y) {
  // Four quadratic pieces follow a cubic closely enough at screen sizes.
  const double x0 = d.penX, y0 = d.penY;
  auto at = [&](double t, double& px, double& py) {
    const double u = 1 - t;
    px = u * u * u * x0 + 3 * u * u * t * c1x + 3 * u * t * t * c2x + t * t * t * x;
    py = u * u * u * y0 + 3 * u * u * t * c1y + 3 * u * t * t * c2y + t * t * t * y;
  };
  constexpr int kPieces = 4;
  double sx = x0, sy = y0;
  for (int i = 1; i <= kPieces; ++i) {
    double mx, my, ex, ey;
    at((i - 0.5) / kPieces, mx, my);
    at(static_cast<double>(i) / kPieces, ex, ey);
    // The control point that puts the quadratic through the midpoint.
    CurveTo(d, 2 * mx - (sx + ex) / 2, 2 * my - (sy + ey) / 2, ex, ey);
    sx = ex, sy = ey;
  }
}

void Rectangle(Drawing& d, double x, double y, double w, double h) {
  MoveTo(d, x, y);
  LineTo(d, x + w, y);
  LineTo(d, x + w, y + h);
  LineTo(d, x, y + h);
  LineTo(d, x, y);
}

void Ellipse(Drawing& d, double x, double y, double w, double h) {
  // Eight quadratic arcs, as Flash draws circles.
  const double rx = w / 2, ry = h / 2, cx = x + rx, cy = y + ry;
  const double k = 1 / std::cos(M_PI / 8);
  MoveTo(d, cx + rx, cy);
  for (int i = 1; i <= 8; ++i) {
    const double a1 = (i - 0.5) * M_PI / 4, a2 = i * M_PI / 4;
    CurveTo(d, cx + rx * k * std::cos(a1), cy + ry * k * std::sin(a1), cx + rx * std::cos(a2), cy + ry * std::sin(a2));
  }
}

namespace {

// Corners of radii (rx, ry) each, in the order bottom right, bottom left,
// top left, top right; a corner without a radius is square.
void RoundedCorners(Drawing& d, double x, double y, double w, double h, const std::array<double, 4>& rx,
                    const std::array<double, 4>& ry) {
  MoveTo(d, x + w, y + h - ry[0]);
  // Each corner: two quadratic pieces of a quarter ellipse.
  auto corner = [&](double cx, double cy, double startAngle, double ax, double ay) {
    if (ax <= 0 || ay <= 0) return;
    for (int i = 1; i <= 2; ++i) {
      const double a1 = startAngle + (i - 0.5) * M_PI / 4, a2 = startAngle + i * M_PI / 4;
      const double kk = 1 / std::cos(M_PI / 8);
      CurveTo(d, cx + ax * kk * std::cos(a1), cy + ay * kk * std::sin(a1), cx + ax * std::cos(a2), cy + ay * std::sin(a2));
    }
  };
  corner(x + w - rx[0], y + h - ry[0], 0, rx[0], ry[0]);
  LineTo(d, x + rx[1], y + h);
  corner(x + rx[1], y + h - ry[1], M_PI / 2, rx[1], ry[1]);
  LineTo(d, x, y + ry[2]);
  corner(x + rx[2], y + ry[2], M_PI, rx[2], ry[2]);
  LineTo(d, x + w - rx[3], y);
  corner(x + w - rx[3], y + ry[3], 3 * M_PI / 2, rx[3], ry[3]);
  LineTo(d, x + w, y + h - ry[0]);
}

}  // namespace

void RoundRectangle(Drawing& d, double x, double y, double w, double h, double ellipseW, double ellipseH) {
  const double rx = std::min(std::fabs(ellipseW) / 2, std::fabs(w) / 2), ry = std::min(std::fabs(ellipseH) / 2, std::fabs(h) / 2);
  if (rx <= 0 || ry <= 0) {
    Rectangle(d, x, y, w, h);
    return;
  }
  RoundedCorners(d, x, y, w, h, {rx, rx, rx, rx}, {ry, ry, ry, ry});
}

void RoundRectangleCorners(Drawing& d, double x, double y, double w, double h, double topLeft, double topRight,
                           double bottomLeft, double bottomRight) {
  const double limit = std::min(std::fabs(w), std::fabs(h)) / 2;
  const auto radius = [&](double r) { return std::isfinite(r) ? std::clamp(r, 0.0, limit) : 0.0; };
  const std::array<double, 4> r{radius(bottomRight), radius(bottomLeft), radius(topLeft), radius(topRight)};
  if (r[0] <= 0 && r[1] <= 0 && r[2] <= 0 && r[3] <= 0) {
    Rectangle(d, x, y, w, h);
    return;
  }
  RoundedCorners(d, x, y, w, h, r, r);
}

}  // namespace quarvel::player::drawing
