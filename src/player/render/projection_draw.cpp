#include "player/render/projection_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "player/render/blend_modes.h"
#include "player/render/filters.h"
#include "player/render/paint.h"

namespace quarvel::player {
namespace {

struct Pt {
  double x, y;
};

// The polygon cut to the side of the eye's plane where W >= kNearDepth.
std::vector<Pt> InFront(const rules::H3& h, const std::vector<Pt>& poly) {
  std::vector<Pt> out;
  for (std::size_t i = 0; i < poly.size(); ++i) {
    const Pt a = poly[i], b = poly[(i + 1) % poly.size()];
    const double wa = rules::DepthOf(h, a.x, a.y) - kNearDepth, wb = rules::DepthOf(h, b.x, b.y) - kNearDepth;
    if (wa >= 0) out.push_back(a);
    if ((wa >= 0) != (wb >= 0)) {
      const double t = wa / (wa - wb);
      out.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
    }
  }
  return out;
}

std::vector<Pt> Corners(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }

// The largest stretch of `h` at (x, y): device units per own unit.
double Stretch(const rules::H3& h, double x, double y) {
  const double w = rules::DepthOf(h, x, y);
  if (!(w > 0)) return 0;
  const double X = (h[0] * x + h[1] * y + h[2]) / w, Y = (h[3] * x + h[4] * y + h[5]) / w;
  const double a = (h[0] - X * h[6]) / w, b = (h[1] - X * h[7]) / w;
  const double c = (h[3] - Y * h[6]) / w, d = (h[4] - Y * h[7]) / w;
  const double s = a * a + b * b + c * c + d * d, det = a * d - b * c;
  return std::sqrt(std::max(0.0, (s + std::sqrt(std::max(0.0, s * s - 4 * det * det))) / 2));
}

rules::H3 FromCairo(const cairo_matrix_t& m) { return rules::Affine3(m.xx, m.yx, m.xy, m.yy, m.x0, m.y0); }

// Device boxes stay where Cairo's fixed-point numbers hold them.
constexpr double kFar = 1e7;

struct ImageDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// The four pixels mixed by weights in 1/256: each channel is
// ((c00 (256 - ax) + c10 ax) (256 - ay) + (c01 (256 - ax) + c11 ax) ay + 2^15) >> 16,
// never above 255. Two channels at a time, 32 bits apart in one word: no
// sum reaches 2^24, so none spills into the other.
std::uint32_t Bilinear(std::uint32_t p00, std::uint32_t p10, std::uint32_t p01, std::uint32_t p11, std::uint64_t ax,
                       std::uint64_t ay) {
  constexpr std::uint64_t kChannels = 0x000000FF000000FFull;
  const auto spread = [](std::uint32_t p, int shift) {
    return (std::uint64_t{p >> shift} & 0xFF) | (std::uint64_t{(p >> (shift + 16)) & 0xFF} << 32);
  };
  const auto mix = [&](int shift) {
    const std::uint64_t top = spread(p00, shift) * (256 - ax) + spread(p10, shift) * ax;
    const std::uint64_t bottom = spread(p01, shift) * (256 - ax) + spread(p11, shift) * ax;
    return ((top * (256 - ay) + bottom * ay + 0x0000800000008000ull) >> 16) & kChannels;
  };
  const std::uint64_t even = mix(0), odd = mix(8);  // channels at 0 and 16, at 8 and 24
  return static_cast<std::uint32_t>(even | even >> 16 | odd << 8 | odd >> 8);
}

}  // namespace

Box ProjectedBox(const rules::H3& h, double x0, double y0, double x1, double y1) {
  Box b;
  if (x0 > x1 || y0 > y1) return b;
  for (const Pt& p : InFront(h, Corners(x0, y0, x1, y1))) {
    double X, Y;
    if (!rules::ApplyH3(h, p.x, p.y, X, Y)) continue;
    X = std::clamp(X, -kFar, kFar), Y = std::clamp(Y, -kFar, kFar);
    b.Add(Box{X, Y, X, Y});
  }
  return b;
}

void DrawWarped(cairo_t* cr, cairo_surface_t* src, const rules::H3& deviceFromSrc, cairo_operator_t op, bool smooth) {
  cairo_surface_flush(src);
  const int sw = cairo_image_surface_get_width(src), sh = cairo_image_surface_get_height(src);
  const int sstride = cairo_image_surface_get_stride(src) / 4;
  const auto* spx = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(src));
  if (!spx || sw <= 0 || sh <= 0) return;
  rules::H3 inv;
  if (!rules::Invert3(deviceFromSrc, inv)) return;
  // Half a pixel past the picture's edge still takes some of it.
  Box box = ProjectedBox(deviceFromSrc, -1, -1, sw + 1, sh + 1);
  cairo_save(cr);
  cairo_identity_matrix(cr);
  double cx0, cy0, cx1, cy1;
  cairo_clip_extents(cr, &cx0, &cy0, &cx1, &cy1);
  const double x0 = std::floor(std::max(box.x0, cx0)), y0 = std::floor(std::max(box.y0, cy0));
  const double x1 = std::ceil(std::min(box.x1, cx1)), y1 = std::ceil(std::min(box.y1, cy1));
  if (box.Empty() || x1 <= x0 || y1 <= y0 || x1 - x0 > 16384 || y1 - y0 > 16384) {
    cairo_restore(cr);
    return;
  }
  const int w = static_cast<int>(x1 - x0), h = static_cast<int>(y1 - y0);
  SurfacePtr out(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(out.get()) != CAIRO_STATUS_SUCCESS) {
    cairo_restore(cr);
    return;
  }
  auto* opx = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(out.get()));
  const int ostride = cairo_image_surface_get_stride(out.get()) / 4;
  // A source pixel, transparent outside: edges fade over one pixel.
  auto at = [&](int x, int y) -> std::uint32_t {
    return x < 0 || y < 0 || x >= sw || y >= sh ? 0u : spx[static_cast<std::ptrdiff_t>(y) * sstride + x];
  };
  for (int py = 0; py < h; ++py) {
    const double Y = y0 + py + 0.5;
    // Along a row the homogeneous source point moves by a constant step.
    double u = inv[0] * (x0 + 0.5) + inv[1] * Y + inv[2];
    double v = inv[3] * (x0 + 0.5) + inv[4] * Y + inv[5];
    double q = inv[6] * (x0 + 0.5) + inv[7] * Y + inv[8];
    std::uint32_t* row = opx + static_cast<std::ptrdiff_t>(py) * ostride;
    for (int px = 0; px < w; ++px, u += inv[0], v += inv[3], q += inv[6]) {
      if (q == 0) continue;
      const double sx = u / q, sy = v / q;
      // Seen from in front of the eye only.
      if (!(rules::DepthOf(deviceFromSrc, sx, sy) >= kNearDepth)) continue;
      if (!(sx > -1 && sy > -1 && sx < sw + 1 && sy < sh + 1)) continue;
      if (!smooth) {
        row[px] = at(static_cast<int>(std::floor(sx)), static_cast<int>(std::floor(sy)));
        continue;
      }
      const double fx = sx - 0.5, fy = sy - 0.5;
      const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
      const int ax = static_cast<int>((fx - ix) * 256), ay = static_cast<int>((fy - iy) * 256);
      const std::uint32_t p00 = at(ix, iy), p10 = at(ix + 1, iy), p01 = at(ix, iy + 1), p11 = at(ix + 1, iy + 1);
      if ((p00 | p10 | p01 | p11) == 0) continue;
      row[px] = Bilinear(p00, p10, p01, p11, static_cast<std::uint64_t>(ax), static_cast<std::uint64_t>(ay));
    }
  }
  cairo_surface_mark_dirty(out.get());
  cairo_set_source_surface(cr, out.get(), x0, y0);
  cairo_set_operator(cr, op);
  cairo_paint(cr);
  cairo_restore(cr);
}

Box ProjectedDeviceBox(const RenderContext& c, const DrawnItem& item, const cairo_matrix_t& parent, int nesting) {
  Box b;
  if (!item.projection || nesting > kMaxSpriteNesting) return b;
  cairo_matrix_t identity;
  cairo_matrix_init_identity(&identity);
  const Box local = BodyBox(c, item, identity, nesting);
  const rules::H3 g = rules::Mul3(FromCairo(parent), *item.projection);
  b = ProjectedBox(g, local.x0, local.y0, local.x1, local.y1);
  if (item.nested3D == 0) {
    const DrawnItem* self = &item;
    for (const DrawnItem* d = self + 1; d < self + 1 + self->descendants; ++d)
      if (d->projection && d->nested3D == static_cast<std::uint32_t>(d - self))
        b.Add(ProjectedDeviceBox(c, *d, parent, nesting));
  }
  if (!b.Empty()) b.x0 -= 2, b.y0 -= 2, b.x1 += 2, b.y1 += 2;
  return b;
}

namespace {

// The plane of one item: drawn flat into an image, then seen through `g`
// (its own space to the device).
void DrawPlane(RenderContext& c, const DrawnItem& item, const rules::H3& g, const ColorTransform& cx) {
  cairo_matrix_t identity;
  cairo_matrix_init_identity(&identity);
  Box local = BodyBox(c, item, identity, c.nesting);
  if (local.Empty()) return;
  // Only the part that can show: when the clip's corners are all seen in
  // front, what maps into it lies within their own points.
  const Box clip = DeviceClip(c.cr);
  if (clip.x1 <= clip.x0 || clip.y1 <= clip.y0) return;
  rules::H3 inv;
  if (!rules::Invert3(g, inv)) return;
  Box seen;
  bool allInFront = true;
  for (const Pt& p : Corners(clip.x0, clip.y0, clip.x1, clip.y1)) {
    const double q = inv[6] * p.x + inv[7] * p.y + inv[8];
    if (q == 0) {
      allInFront = false;
      break;
    }
    const double sx = (inv[0] * p.x + inv[1] * p.y + inv[2]) / q, sy = (inv[3] * p.x + inv[4] * p.y + inv[5]) / q;
    if (!(rules::DepthOf(g, sx, sy) > 0)) {
      allInFront = false;
      break;
    }
    seen.Add(Box{sx, sy, sx, sy});
  }
  if (allInFront) {
    local.x0 = std::max(local.x0, seen.x0 - 40), local.y0 = std::max(local.y0, seen.y0 - 40);
    local.x1 = std::min(local.x1, seen.x1 + 40), local.y1 = std::min(local.y1, seen.y1 + 40);
    if (local.Empty()) return;
  }
  // As many image pixels per twip as the nearest part needs, within a budget.
  double k = 0;
  for (const Pt& p : InFront(g, Corners(local.x0, local.y0, local.x1, local.y1))) k = std::max(k, Stretch(g, p.x, p.y));
  if (!(k > 0) || !std::isfinite(k)) return;
  const double lw = local.x1 - local.x0, lh = local.y1 - local.y0;
  constexpr double kMaxSide = 4096, kMaxArea = 4096.0 * 2048;
  k = std::min({k, kMaxSide / std::max(lw, 1.0), kMaxSide / std::max(lh, 1.0),
                std::sqrt(kMaxArea / std::max(lw * lh, 1.0))});
  const bool filtered = !c.mask && !item.filters.empty();
  const double pad = 2 + (filtered ? std::ceil(FilterMargin(item.filters, k * 20)) : 0);
  const int w = static_cast<int>(std::ceil(lw * k + 2 * pad)), h = static_cast<int>(std::ceil(lh * k + 2 * pad));
  if (w <= 0 || h <= 0 || w > 2 * kMaxSide + 1024 || h > 2 * kMaxSide + 1024) return;
  SurfacePtr image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) return;
  // Own twips to image pixels.
  cairo_matrix_t toImage;
  cairo_matrix_init(&toImage, k, 0, 0, k, pad - local.x0 * k, pad - local.y0 * k);
  {
    std::unique_ptr<cairo_t, ImageDeleter> cr(cairo_create(image.get()));
    cairo_set_antialias(cr.get(), cairo_get_antialias(c.cr));
    cairo_set_tolerance(cr.get(), cairo_get_tolerance(c.cr));
    cairo_t* saved = c.cr;
    c.cr = cr.get();
    ++c.layers;
    if (item.scrollRect && !c.mask) {
      const auto& s = *item.scrollRect;
      cairo_set_matrix(c.cr, &toImage);
      cairo_rectangle(c.cr, s[0], s[1], s[2], s[3]);
      cairo_clip(c.cr);
    }
    if (item.opaqueBackground && !c.mask) {
      const Rect& r = item.opaqueRect;
      const std::uint32_t rgb = *item.opaqueBackground;
      cairo_set_matrix(c.cr, &toImage);
      cairo_rectangle(c.cr, r.xmin, r.ymin, r.Width(), r.Height());
      cairo_set_source_rgb(c.cr, ((rgb >> 16) & 255) / 255.0, ((rgb >> 8) & 255) / 255.0, (rgb & 255) / 255.0);
      cairo_fill(c.cr);
    }
    cairo_identity_matrix(c.cr);
    DrawItemBody(c, item, toImage, cx);
    --c.layers;
    c.cr = saved;
  }
  if (filtered) ApplyFilters(image.get(), item.filters, k * 20);
  cairo_operator_t op = c.mask ? CAIRO_OPERATOR_OVER : BlendOperator(item.blendMode);
  if ((op == CAIRO_OPERATOR_DEST_IN || op == CAIRO_OPERATOR_DEST_OUT) && c.layers == 0) return;
  if (item.blendMode == 15 || item.blendMode == 9 || item.blendMode == 10) op = CAIRO_OPERATOR_OVER;
  cairo_matrix_t fromImage = toImage;
  if (cairo_matrix_invert(&fromImage) != CAIRO_STATUS_SUCCESS) return;
  const bool smooth = c.options.quality != Quality::qLow;
  DrawWarped(c.cr, image.get(), rules::Mul3(g, FromCairo(fromImage)), op, smooth);
}

}  // namespace

void DrawProjected(RenderContext& c, const DrawnItem& item, const cairo_matrix_t& parent, const ColorTransform& parentCx) {
  const ColorTransform cx = Compose(parentCx, item.cxform);
  if (!c.mask && cx.alphaMult <= 0 && cx.alphaAdd <= 0) return;
  DrawPlane(c, item, rules::Mul3(FromCairo(parent), *item.projection), cx);
  if (item.nested3D != 0) return;
  // The objects in three dimensions inside it, in order, each with the
  // colour and visibility of the objects between.
  const DrawnItem* self = &item;
  for (const DrawnItem* d = self + 1; d < self + 1 + self->descendants; ++d) {
    if (!d->projection || d->nested3D != static_cast<std::uint32_t>(d - self) || !d->def) continue;
    std::vector<const DrawnItem*> chain{d};
    for (const DrawnItem* up = d - 1; up > self && chain.back()->level > self->level + 1; --up)
      if (up->level == chain.back()->level - 1) chain.push_back(up);
    bool shown = true;
    ColorTransform dcx = cx;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      shown = shown && ((*it)->visible || c.mask) && !(*it)->scriptMask;
      if (it + 1 != chain.rend()) dcx = Compose(dcx, (*it)->cxform);
    }
    if (shown) DrawProjected(c, *d, parent, dcx);
  }
}

}  // namespace quarvel::player
