#include "platform/player/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>

#include "platform/player/shape_parser.h"

namespace quarvel::player {
namespace {

struct PatternDeleter {
  void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

struct Ctx {
  cairo_t* cr;
  const MovieLibrary& lib;
  RenderOptions options;
  bool mask = false;  // drawing a mask: coverage only
  int nesting = 0;
  int layers = 0;  // open blend groups: alpha and erase need one below them
  const std::map<int, Instance>* root = nullptr;
  cairo_matrix_t base{};
  const Instance* masking = nullptr;  // the setMask maskee being drawn into its group
};

void DrawList(Ctx& c, std::map<int, Instance>::const_iterator begin, std::map<int, Instance>::const_iterator end,
              const cairo_matrix_t& m, const ColorTransform& cx);
void DrawInstance(Ctx& c, const Instance& inst, const cairo_matrix_t& parent, const ColorTransform& parentCx);

struct Box {
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  bool Empty() const { return x0 > x1 || y0 > y1; }
  void Add(const Box& b) {
    x0 = std::min(x0, b.x0), y0 = std::min(y0, b.y0), x1 = std::max(x1, b.x1), y1 = std::max(y1, b.y1);
  }
};

// Pictures of shapes kept for later frames: at most this many pixels each
// and in all, and a few transforms per shape.
constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 22;
constexpr std::size_t kMaxCachePixels = std::size_t{1} << 23;
constexpr std::size_t kMaxPicturesPerShape = 4;

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

void SetColor(Ctx& c, Rgba col, const ColorTransform& cx) {
  if (c.mask) {
    cairo_set_source_rgba(c.cr, 0, 0, 0, 1);
    return;
  }
  const Rgba t = cx.Apply(col);
  cairo_set_source_rgba(c.cr, t.r / 255.0, t.g / 255.0, t.b / 255.0, t.a / 255.0);
}

double SrgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double LinearToSrgb(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

void AddStop(cairo_pattern_t* p, double offset, Rgba col) {
  cairo_pattern_add_color_stop_rgba(p, Clamp01(offset), col.r / 255.0, col.g / 255.0, col.b / 255.0, col.a / 255.0);
}

// The bitmap under a colour transform, from a small cache on the bitmap.
cairo_surface_t* Tinted(const BitmapDef& bmp, const ColorTransform& cx) {
  for (const auto& [key, surf] : bmp.tinted) {
    if (key == cx) return surf.get();
  }
  SurfacePtr tinted(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bmp.width, bmp.height));
  cairo_surface_t* src = bmp.surface.get();
  cairo_surface_flush(src);
  const auto* in = cairo_image_surface_get_data(src);
  auto* out = cairo_image_surface_get_data(tinted.get());
  const int sIn = cairo_image_surface_get_stride(src), sOut = cairo_image_surface_get_stride(tinted.get());
  for (int y = 0; y < bmp.height; ++y) {
    const auto* pi = reinterpret_cast<const std::uint32_t*>(in + static_cast<std::size_t>(y) * sIn);
    auto* po = reinterpret_cast<std::uint32_t*>(out + static_cast<std::size_t>(y) * sOut);
    for (int x = 0; x < bmp.width; ++x) {
      const std::uint32_t v = pi[x];
      const unsigned a = v >> 24;
      Rgba col;
      col.a = static_cast<std::uint8_t>(a);
      if (a) {
        col.r = static_cast<std::uint8_t>(((v >> 16) & 255) * 255 / a);
        col.g = static_cast<std::uint8_t>(((v >> 8) & 255) * 255 / a);
        col.b = static_cast<std::uint8_t>((v & 255) * 255 / a);
      }
      const Rgba t = cx.Apply(col);
      po[x] = (static_cast<std::uint32_t>(t.a) << 24) | ((t.r * t.a / 255) << 16) | ((t.g * t.a / 255) << 8) |
              (t.b * t.a / 255);
    }
  }
  cairo_surface_mark_dirty(tinted.get());
  if (bmp.tinted.size() >= 4) bmp.tinted.erase(bmp.tinted.begin());
  bmp.tinted.emplace_back(cx, std::move(tinted));
  return bmp.tinted.back().second.get();
}

// The bitmap halved `level` times, each pixel the mean of those it covers.
cairo_surface_t* Reduced(const BitmapDef& bmp, int level) {
  for (const auto& [l, surf] : bmp.reduced) {
    if (l == level) return surf.get();
  }
  const int sw = bmp.width, sh = bmp.height;
  const int w = std::max(1, sw >> level), h = std::max(1, sh >> level);
  SurfacePtr out(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(out.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_t* src = bmp.surface.get();
  cairo_surface_flush(src);
  const auto* in = cairo_image_surface_get_data(src);
  auto* od = cairo_image_surface_get_data(out.get());
  const int sIn = cairo_image_surface_get_stride(src), sOut = cairo_image_surface_get_stride(out.get());
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(w) * 4);
  for (int y = 0; y < h; ++y) {
    const int y0 = static_cast<int>(std::int64_t{y} * sh / h), y1 = static_cast<int>(std::int64_t{y + 1} * sh / h);
    std::fill(sums.begin(), sums.end(), 0u);
    for (int sy = y0; sy < y1; ++sy) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(in + static_cast<std::size_t>(sy) * sIn);
      for (int x = 0; x < w; ++x) {
        const int x0 = static_cast<int>(std::int64_t{x} * sw / w), x1 = static_cast<int>(std::int64_t{x + 1} * sw / w);
        std::uint32_t* sum = &sums[static_cast<std::size_t>(x) * 4];
        for (int sx = x0; sx < x1; ++sx) {
          const std::uint32_t v = row[sx];
          sum[0] += v & 255, sum[1] += (v >> 8) & 255, sum[2] += (v >> 16) & 255, sum[3] += v >> 24;
        }
      }
    }
    auto* po = reinterpret_cast<std::uint32_t*>(od + static_cast<std::size_t>(y) * sOut);
    for (int x = 0; x < w; ++x) {
      const int x0 = static_cast<int>(std::int64_t{x} * sw / w), x1 = static_cast<int>(std::int64_t{x + 1} * sw / w);
      const std::uint32_t n = static_cast<std::uint32_t>((x1 - x0) * (y1 - y0));
      const std::uint32_t* sum = &sums[static_cast<std::size_t>(x) * 4];
      std::uint32_t v = 0;
      for (int k = 0; k < 4; ++k) v |= ((sum[k] + n / 2) / n) << (8 * k);
      po[x] = v;
    }
  }
  cairo_surface_mark_dirty(out.get());
  bmp.reduced.emplace_back(level, std::move(out));
  return bmp.reduced.back().second.get();
}

// How many halvings of a bitmap still leave its pixels at least as small as
// device pixels under `toDevice` (bitmap pixels to device).
int ReductionLevel(const cairo_matrix_t& d, int width, int height) {
  const double sumSq = d.xx * d.xx + d.xy * d.xy + d.yx * d.yx + d.yy * d.yy;
  const double det = d.xx * d.yy - d.xy * d.yx;
  const double most = std::sqrt(std::max(0.0, (sumSq + std::sqrt(std::max(0.0, sumSq * sumSq - 4 * det * det))) / 2));
  if (!(most > 0)) return 0;
  int level = 0;
  while (level < 16 && most * static_cast<double>(2 << level) <= 1.0 && (width >> (level + 1)) >= 1 &&
         (height >> (level + 1)) >= 1) {
    ++level;
  }
  return level;
}

// A pattern whose space maps to the current user space through `toUser`.
PatternPtr MakePattern(Ctx& c, const FillStyle& f, const ColorTransform& cx, const cairo_matrix_t& toUserIn) {
  // Gradients are built on a unit square: pixman works in 16.16 fixed
  // point and overflows on the format's +-16384 square.
  cairo_matrix_t toUser = toUserIn;
  if (f.kind != FillStyle::Kind::kBitmap) {
    cairo_matrix_t unit;
    cairo_matrix_init_scale(&unit, 16384, 16384);
    cairo_matrix_multiply(&toUser, &unit, &toUserIn);
  }
  cairo_matrix_t inv = toUser;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return nullptr;
  PatternPtr p;
  if (f.kind == FillStyle::Kind::kBitmap) {
    const Character* ch = c.lib.Find(f.bitmapId);
    if (!ch || ch->kind != Character::Kind::kBitmap) return nullptr;
    const auto* bmp = static_cast<const BitmapDef*>(ch);
    cairo_surface_t* src = bmp->surface.get();
    const bool tint = !c.mask && !cx.IsIdentity();
    if (tint) src = Tinted(*bmp, cx);
    const bool smooth = f.smooth && c.options.quality != Quality::qLow;
    // Bilinear as the format's player smooths; the convolution of GOOD costs
    // tens of milliseconds on large down-scaled bitmaps, so Best takes it
    // from a copy reduced to less than twice the size drawn.
    const bool best = c.options.quality == Quality::qBest;
    if (smooth && best && !tint) {
      cairo_matrix_t ctm, toDevice;
      cairo_get_matrix(c.cr, &ctm);
      cairo_matrix_multiply(&toDevice, &toUser, &ctm);
      const int level = ReductionLevel(toDevice, bmp->width, bmp->height);
      cairo_surface_t* reduced = level > 0 ? Reduced(*bmp, level) : nullptr;
      if (reduced) {
        src = reduced;
        cairo_matrix_t toReduced;
        cairo_matrix_init_scale(&toReduced, cairo_image_surface_get_width(reduced) / static_cast<double>(bmp->width),
                                cairo_image_surface_get_height(reduced) / static_cast<double>(bmp->height));
        const cairo_matrix_t userToBitmap = inv;
        cairo_matrix_multiply(&inv, &userToBitmap, &toReduced);
      }
    }
    p.reset(cairo_pattern_create_for_surface(src));
    cairo_pattern_set_extend(p.get(), f.repeat ? CAIRO_EXTEND_REPEAT : CAIRO_EXTEND_PAD);
    const cairo_filter_t filter = best ? CAIRO_FILTER_GOOD : CAIRO_FILTER_BILINEAR;
    cairo_pattern_set_filter(p.get(), smooth ? filter : CAIRO_FILTER_NEAREST);
  } else {
    const auto& g = f.gradient;
    if (g.stops.empty()) return nullptr;
    if (f.kind == FillStyle::Kind::kLinear) {
      p.reset(cairo_pattern_create_linear(-1, 0, 1, 0));
    } else {
      const double fx = f.kind == FillStyle::Kind::kFocal ? g.focal * 0.999 : 0;
      p.reset(cairo_pattern_create_radial(fx, 0, 0, 0, 0, 1));
    }
    std::vector<Rgba> cols;
    for (const auto& s : g.stops) cols.push_back(c.mask ? Rgba{0, 0, 0, 255} : cx.Apply(s.color));
    // A ratio below the one before counts as that one.
    // A ratio below the one before counts as that one, once: a second stop
    // in a row that goes backwards is dropped.
    std::vector<int> ratios;
    std::vector<bool> skip;
    bool lastClamped = false;
    for (const auto& s : g.stops) {
      const bool back = !ratios.empty() && s.ratio < ratios.back();
      skip.push_back(back && lastClamped);
      lastClamped = back;
      ratios.push_back(back ? ratios.back() : s.ratio);
    }
    for (std::size_t i = 0; i < g.stops.size(); ++i) {
      if (skip[i]) continue;
      const double off = ratios[i] / 255.0;
      if (g.interpolation == 1 && i > 0) {
        // Cairo interpolates in sRGB; sample linear-RGB steps in between.
        const double o0 = ratios[i - 1] / 255.0;
        for (int k = 1; k < 8; ++k) {
          const double t = k / 8.0;
          auto mix = [&](std::uint8_t a, std::uint8_t b) {
            const double v = SrgbToLinear(a / 255.0) * (1 - t) + SrgbToLinear(b / 255.0) * t;
            return static_cast<std::uint8_t>(std::lround(Clamp01(LinearToSrgb(v)) * 255));
          };
          Rgba m{mix(cols[i - 1].r, cols[i].r), mix(cols[i - 1].g, cols[i].g), mix(cols[i - 1].b, cols[i].b),
                 static_cast<std::uint8_t>(std::lround(cols[i - 1].a * (1 - t) + cols[i].a * t))};
          AddStop(p.get(), o0 + (off - o0) * t, m);
        }
      }
      AddStop(p.get(), off, cols[i]);
    }
    cairo_pattern_set_extend(p.get(), g.spread == 1   ? CAIRO_EXTEND_REFLECT
                                      : g.spread == 2 ? CAIRO_EXTEND_REPEAT
                                                      : CAIRO_EXTEND_PAD);
  }
  cairo_pattern_set_matrix(p.get(), &inv);
  return p;
}

// cairo_matrix_transform_point's arithmetic, inline: a path built in device
// space this way lands on the very same fixed-point coordinates.
inline void ToDevice(const cairo_matrix_t& m, double& x, double& y) {
  const double nx = m.xx * x + m.xy * y;
  const double ny = m.yx * x + m.yy * y;
  x = nx + m.x0;
  y = ny + m.y0;
}

// Adds the edges as a path; with `toDevice` the points are transformed here
// and the context's matrix must be the identity (cheaper than Cairo's own
// per-point transform on shapes of thousands of edges).
void AddPath(cairo_t* cr, const std::vector<Edge>& edges, bool closeLoops, const cairo_matrix_t* toDevice = nullptr) {
  bool open = false;
  double sx = 0, sy = 0, px = 0, py = 0;
  std::size_t count = 0;
  auto point = [toDevice](double& x, double& y) {
    if (toDevice) ToDevice(*toDevice, x, y);
  };
  for (const Edge& e : edges) {
    if (!open || e.x0 != px || e.y0 != py) {
      if (open && closeLoops && count > 1 && px == sx && py == sy) cairo_close_path(cr);
      double x = e.x0, y = e.y0;
      point(x, y);
      cairo_move_to(cr, x, y);
      sx = e.x0;
      sy = e.y0;
      open = true;
      count = 0;
    }
    if (e.curve) {
      double x1 = e.x0 + 2.0 / 3 * (e.cx - e.x0), y1 = e.y0 + 2.0 / 3 * (e.cy - e.y0);
      double x2 = e.x1 + 2.0 / 3 * (e.cx - e.x1), y2 = e.y1 + 2.0 / 3 * (e.cy - e.y1);
      double x3 = e.x1, y3 = e.y1;
      point(x1, y1);
      point(x2, y2);
      point(x3, y3);
      cairo_curve_to(cr, x1, y1, x2, y2, x3, y3);
    } else {
      double x = e.x1, y = e.y1;
      point(x, y);
      cairo_line_to(cr, x, y);
    }
    px = e.x1;
    py = e.y1;
    ++count;
  }
  if (open && closeLoops && count > 1 && px == sx && py == sy) cairo_close_path(cr);
}

// A matrix that flattens what it maps (a zero scale) shows nothing; Cairo
// would take it as an error and stop drawing altogether.
bool Invertible(const cairo_matrix_t& m) {
  const double det = m.xx * m.yy - m.yx * m.xy;
  return std::isfinite(det) && det != 0;
}

// `textColor`: glyph outlines are filled with the text's colour instead.
void DrawLayer(Ctx& c, const ShapeLayer& layer, const cairo_matrix_t& m, const ColorTransform& cx,
               const Rgba* textColor = nullptr) {
  if (!Invertible(m)) return;
  cairo_t* cr = c.cr;
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  for (std::size_t i = 0; i < layer.fillPaths.size() && i < layer.fills.size(); ++i) {
    const auto& edges = layer.fillPaths[i];
    if (edges.empty()) continue;
    const FillStyle& f = layer.fills[i];
    cairo_new_path(cr);
    if (textColor) {
      SetColor(c, *textColor, cx);
    } else if (f.kind == FillStyle::Kind::kSolid) {
      SetColor(c, f.color, cx);
    } else {
      // The pattern keeps the user space in effect when it is set.
      cairo_set_matrix(cr, &m);
      PatternPtr p = MakePattern(c, f, cx, ToCairo(f.matrix));
      if (!p) continue;
      cairo_set_source(cr, p.get());
    }
    cairo_identity_matrix(cr);
    AddPath(cr, edges, false, &m);
    cairo_fill(cr);
  }
  // Strokes scale with the shape, unevenly too, as the format's player does;
  // a stroke thinner than a pixel, or one that must not scale, is drawn in
  // device space instead, at least one pixel wide.
  const double sumSq = m.xx * m.xx + m.xy * m.xy + m.yx * m.yx + m.yy * m.yy;
  const double det = m.xx * m.yy - m.xy * m.yx;
  const double minScale = std::sqrt(std::max(0.0, (sumSq - std::sqrt(std::max(0.0, sumSq * sumSq - 4 * det * det))) / 2));
  for (std::size_t i = 0; i < layer.linePaths.size() && i < layer.lines.size(); ++i) {
    const auto& edges = layer.linePaths[i];
    if (edges.empty()) continue;
    const LineStyle& l = layer.lines[i];
    cairo_set_matrix(cr, &m);
    cairo_new_path(cr);
    AddPath(cr, edges, true);
    const bool noScale = l.noHScale || l.noVScale;
    const bool userSpace = !noScale && l.width * minScale >= 1.0;
    if (userSpace) {
      cairo_set_line_width(cr, l.width);
    } else {
      cairo_identity_matrix(cr);
      // One no-scale flag: the width follows the other direction's scale.
      double width = l.width * std::sqrt(sumSq / 2);
      if (l.noHScale && l.noVScale) width = l.width * c.options.stageScale;
      else if (l.noHScale) width = l.width * std::hypot(m.xy, m.yy);
      else if (l.noVScale) width = l.width * std::hypot(m.xx, m.yx);
      cairo_set_line_width(cr, std::max(1.0, width));
    }
    const int cap = l.startCap;
    cairo_set_line_cap(cr, cap == 1 ? CAIRO_LINE_CAP_BUTT : cap == 2 ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, l.join == 1 ? CAIRO_LINE_JOIN_BEVEL : l.join == 2 ? CAIRO_LINE_JOIN_MITER
                                                                               : CAIRO_LINE_JOIN_ROUND);
    cairo_set_miter_limit(cr, l.miterLimit);
    if (l.hasFill) {
      cairo_matrix_t pm = ToCairo(l.fill.matrix);
      if (!userSpace) {
        const cairo_matrix_t fm = pm;
        cairo_matrix_multiply(&pm, &fm, &m);
      }
      PatternPtr p = MakePattern(c, l.fill, cx, pm);
      if (!p) {
        cairo_new_path(cr);
        continue;
      }
      cairo_set_source(cr, p.get());
    } else {
      SetColor(c, l.color, cx);
    }
    cairo_stroke(cr);
  }
}

// The device box of the geometry under `m` and the clip's; false when the
// geometry lies wholly outside the clip (many movies keep most of their
// shapes off the picture).
bool MayShow(cairo_t* cr, const Extent& x, const cairo_matrix_t& m, double stageScale, Box& box, Box& clip) {
  cairo_identity_matrix(cr);
  cairo_clip_extents(cr, &clip.x0, &clip.y0, &clip.x1, &clip.y1);
  const double xs[2] = {x.xmin, x.xmax}, ys[2] = {x.ymin, x.ymax};
  for (double px : xs) {
    for (double py : ys) {
      double dx = px, dy = py;
      ToDevice(m, dx, dy);
      box.Add(Box{dx, dy, dx, dy});
    }
  }
  // Lines reach out by their width, at least a pixel, and some never scale
  // with the shape; anti-aliasing adds a pixel more.
  const double scale = std::sqrt(m.xx * m.xx + m.xy * m.xy + m.yx * m.yx + m.yy * m.yy);
  const double pad = x.maxLineWidth * std::max(scale, stageScale) + (x.maxLineWidth > 0 ? 1 : 0) + 2;
  box.x0 -= pad, box.y0 -= pad, box.x1 += pad, box.y1 += pad;
  return !(box.x1 < clip.x0 || box.x0 > clip.x1 || box.y1 < clip.y0 || box.y0 > clip.y1);
}

// Worth keeping as a picture: many paths or edges, or costly fills.
bool Costly(const Extent& x) { return x.paths >= 16 || x.edges >= 512 || x.patterned; }

// Draws the geometry by copying its picture from the cache, making the
// picture when the same transform shows up a second time. False: draw it.
bool DrawFromCache(Ctx& c, const ShapeGeometry& g, const cairo_matrix_t& m, const ColorTransform& cx,
                   const void* owner, int ratio, const Box& box, const Box& clip) {
  if (!(std::abs(m.x0) < 1e7 && std::abs(m.y0) < 1e7)) return false;
  const double vx0 = std::max(box.x0, clip.x0), vy0 = std::max(box.y0, clip.y0);
  const double vx1 = std::min(box.x1, clip.x1), vy1 = std::min(box.y1, clip.y1);
  if (!(vx0 < vx1 && vy0 < vy1)) return false;
  const int x0 = static_cast<int>(std::floor(vx0)), y0 = static_cast<int>(std::floor(vy0));
  const int x1 = static_cast<int>(std::ceil(vx1)), y1 = static_cast<int>(std::ceil(vy1));
  const std::int64_t area = std::int64_t{x1 - x0} * (y1 - y0);
  if (area > kMaxPicturePixels) return false;
  ShapeCache& cache = *c.options.cache;
  ShapeCache::Key key;
  key.owner = owner;
  key.ratio = ratio;
  key.xx = m.xx, key.yx = m.yx, key.xy = m.xy, key.yy = m.yy;
  const int ox = static_cast<int>(std::floor(m.x0)), oy = static_cast<int>(std::floor(m.y0));
  key.fx = m.x0 - ox;
  key.fy = m.y0 - oy;
  // Masks draw coverage only, whatever the colours.
  key.cx = c.mask ? ColorTransform{} : cx;
  key.mask = c.mask;
  key.antialias = cairo_get_antialias(c.cr);
  key.tolerance = cairo_get_tolerance(c.cr);
  key.stageScale = c.options.stageScale;
  key.quality = c.options.quality;
  bool seen = false;
  ShapeCache::Entry& e = cache.Find(key, seen);
  int dx = ox - e.ox, dy = oy - e.oy;
  const bool covered = e.picture && x0 - dx >= e.x0 && y0 - dy >= e.y0 && x1 - dx <= e.x1 && y1 - dy <= e.y1;
  if (!covered) {
    if (!seen && !e.picture) return false;
    if (cache.Pixels() + static_cast<std::size_t>(area) > kMaxCachePixels) return false;
    SurfacePtr picture(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, x1 - x0, y1 - y0));
    if (cairo_surface_status(picture.get()) != CAIRO_STATUS_SUCCESS) return false;
    // Drawn in the target's device space: the very pixels a direct drawing
    // would give, over transparency.
    cairo_surface_set_device_offset(picture.get(), -x0, -y0);
    {
      std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr(cairo_create(picture.get()), cairo_destroy);
      cairo_set_antialias(cr.get(), key.antialias);
      cairo_set_tolerance(cr.get(), key.tolerance);
      Ctx sub{cr.get(), c.lib, c.options, c.mask, c.nesting, c.layers};
      for (const auto& layer : g.layers) DrawLayer(sub, layer, m, cx);
    }
    cairo_surface_flush(picture.get());
    cairo_surface_set_device_offset(picture.get(), 0, 0);
    e.ox = ox;
    e.oy = oy;
    cache.Store(e, std::move(picture), x0, y0, x1, y1);
    dx = dy = 0;
  }
  cairo_identity_matrix(c.cr);
  cairo_set_source_surface(c.cr, e.picture.get(), e.x0 + dx, e.y0 + dy);
  cairo_pattern_set_filter(cairo_get_source(c.cr), CAIRO_FILTER_NEAREST);
  cairo_paint(c.cr);
  return true;
}

// `owner` and `ratio` name the geometry for the shape cache; none: not kept.
void DrawGeometry(Ctx& c, const ShapeGeometry& g, const cairo_matrix_t& m, const ColorTransform& cx,
                  const void* owner = nullptr, int ratio = 0) {
  // Without a measured extent (a geometry made by hand) it is just drawn.
  if (!g.extent.Empty()) {
    Box box, clip;
    if (!MayShow(c.cr, g.extent, m, c.options.stageScale, box, clip)) return;
    if (owner && c.options.cache && Costly(g.extent) && DrawFromCache(c, g, m, cx, owner, ratio, box, clip)) return;
  }
  for (const auto& layer : g.layers) DrawLayer(c, layer, m, cx);
}

void DrawGlyphs(Ctx& c, const FontDef& font, const std::vector<std::pair<std::uint32_t, double>>& glyphs, double x,
                double y, double height, Rgba color, const cairo_matrix_t& m, const ColorTransform& cx) {
  const double s = height / font.unitsPerEm;
  for (const auto& [index, advance] : glyphs) {
    if (index < font.glyphs.size()) {
      cairo_matrix_t gm;
      cairo_matrix_init(&gm, s, 0, 0, s, x, y);
      cairo_matrix_t full;
      cairo_matrix_multiply(&full, &gm, &m);
      for (const auto& layer : font.glyphs[index].shape.layers) DrawLayer(c, layer, full, cx, &color);
    }
    x += advance;
  }
}

void DrawText(Ctx& c, const TextDef& t, const cairo_matrix_t& parent, const ColorTransform& cx) {
  cairo_matrix_t m;
  const cairo_matrix_t tm = ToCairo(t.matrix);
  cairo_matrix_multiply(&m, &tm, &parent);
  for (const auto& run : t.runs) {
    const Character* ch = c.lib.Find(run.fontId);
    if (!ch || ch->kind != Character::Kind::kFont) continue;
    DrawGlyphs(c, static_cast<const FontDef&>(*ch), run.glyphs, run.x, run.y, run.height, run.color, m, cx);
  }
}

std::string PlainText(const EditTextDef& e, const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (e.html && s[i] == '<') {
      const auto close = s.find('>', i);
      if (close == std::string::npos) break;
      std::string tagName = s.substr(i + 1, close - i - 1);
      for (auto& ch : tagName) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (tagName.rfind("br", 0) == 0 || tagName == "/p") out += '\n';
      i = close;
      continue;
    }
    if (e.html && s[i] == '&') {
      static const std::pair<const char*, char> entities[] = {
          {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&nbsp;", ' '}};
      bool done = false;
      for (const auto& [name, ch] : entities) {
        if (s.compare(i, std::strlen(name), name) == 0) {
          out += ch;
          i += std::strlen(name) - 1;
          done = true;
          break;
        }
      }
      if (done) continue;
    }
    out += s[i] == '\r' ? '\n' : s[i];
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// UTF-8 to code points.
std::vector<std::uint32_t> Decode(const std::string& s) {
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
    std::uint32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<std::size_t>(n);
  }
  return out;
}

void DrawEditText(Ctx& c, const EditTextDef& e, const std::string& shown, const cairo_matrix_t& m,
                  const ColorTransform& cx) {
  cairo_t* cr = c.cr;
  if (e.border && !c.mask) {
    cairo_set_matrix(cr, &m);
    cairo_rectangle(cr, e.bounds.xmin, e.bounds.ymin, e.bounds.Width(), e.bounds.Height());
    SetColor(c, Rgba{255, 255, 255, 255}, cx);
    cairo_fill_preserve(cr);
    cairo_identity_matrix(cr);
    cairo_set_line_width(cr, 1);
    SetColor(c, Rgba{0, 0, 0, 255}, cx);
    cairo_stroke(cr);
  }
  const std::string text = PlainText(e, shown);
  if (text.empty()) return;
  const FontDef* font = nullptr;
  if (e.hasFont) {
    const Character* ch = c.lib.Find(e.fontId);
    if (ch && ch->kind == Character::Kind::kFont) font = static_cast<const FontDef*>(ch);
  }
  const double gutter = 40;
  const double width = e.bounds.Width() - 2 * gutter - e.leftMargin - e.rightMargin;
  std::vector<std::string> lines;
  {
    std::string cur;
    for (char ch : text) {
      if (ch == '\n') {
        lines.push_back(cur);
        cur.clear();
      } else {
        cur += ch;
      }
    }
    lines.push_back(cur);
  }
  cairo_save(cr);
  cairo_set_matrix(cr, &m);
  cairo_rectangle(cr, e.bounds.xmin, e.bounds.ymin, e.bounds.Width(), e.bounds.Height());
  cairo_clip(cr);
  const bool outlines = font && !font->glyphs.empty() && e.useOutlines;
  const double s = outlines ? e.height / font->unitsPerEm : 0;
  const double ascent = outlines && font->ascent > 0 ? font->ascent * s : e.height * 0.8;
  const double descent = outlines && font->descent > 0 ? font->descent * s : e.height * 0.2;
  double y = e.bounds.ymin + gutter + ascent;
  if (!outlines) {
    cairo_select_font_face(cr, font && !font->name.empty() && font->name[0] != '_' ? font->name.c_str() : "serif",
                           font && font->italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           font && font->bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, e.height);
  }
  for (const auto& line : lines) {
    std::vector<std::pair<std::uint32_t, double>> glyphs;
    double lineWidth = 0;
    if (outlines) {
      for (std::uint32_t cp : Decode(line)) {
        auto it = std::find(font->codes.begin(), font->codes.end(), cp);
        if (it == font->codes.end()) continue;
        const auto index = static_cast<std::uint32_t>(it - font->codes.begin());
        double adv = font->glyphs[index].advance * s;
        if (adv <= 0) adv = (font->glyphs[index].shape.bounds.Width() > 0 ? 0 : e.height * 0.5);
        glyphs.emplace_back(index, adv);
        lineWidth += adv;
      }
    } else {
      cairo_text_extents_t ext;
      cairo_text_extents(cr, line.c_str(), &ext);
      lineWidth = ext.x_advance;
    }
    double x = e.bounds.xmin + gutter + e.leftMargin + e.indent;
    if (e.align == 1) x += width - lineWidth;
    else if (e.align == 2) x += (width - lineWidth) / 2;
    if (outlines) {
      DrawGlyphs(c, *font, glyphs, x, y, e.height, e.color, m, cx);
      cairo_set_matrix(cr, &m);
    } else {
      SetColor(c, e.color, cx);
      cairo_move_to(cr, x, y);
      cairo_show_text(cr, line.c_str());
    }
    y += ascent + descent + e.leading;
  }
  cairo_restore(cr);
}

// Blend modes of PlaceObject3: 2 layer, 3 multiply, 4 screen, 5 lighten,
// 6 darken, 7 difference, 8 add, 9 subtract, 10 invert, 11 alpha, 12 erase,
// 13 overlay, 14 hard light.

Box Transform(const Rect& r, const cairo_matrix_t& m) {
  Box b;
  if (r.xmin > r.xmax || r.ymin > r.ymax) return b;
  const double xs[2] = {static_cast<double>(r.xmin), static_cast<double>(r.xmax)};
  const double ys[2] = {static_cast<double>(r.ymin), static_cast<double>(r.ymax)};
  for (double x : xs) {
    for (double y : ys) {
      double dx = x, dy = y;
      cairo_matrix_transform_point(&m, &dx, &dy);
      b.Add(Box{dx, dy, dx, dy});
    }
  }
  return b;
}

// Device-space box of what an instance can draw; used to keep the
// off-screen groups of masks and blend modes small.
Box DeviceBox(const Ctx& c, const Instance& inst, const cairo_matrix_t& parent, int nesting);

Box DeviceBoxOfList(const Ctx& c, const std::map<int, Instance>& list, const cairo_matrix_t& m, int nesting) {
  Box b;
  for (const auto& [depth, child] : list) b.Add(DeviceBox(c, child, m, nesting + 1));
  return b;
}

Box DeviceBox(const Ctx& c, const Instance& inst, const cairo_matrix_t& parent, int nesting) {
  Box b;
  if (!inst.def || nesting > kMaxSpriteNesting) return b;
  cairo_matrix_t m;
  const cairo_matrix_t own = ToCairo(inst.matrix);
  cairo_matrix_multiply(&m, &own, &parent);
  const Character* d = inst.def;
  switch (d->kind) {
    case Character::Kind::kShape:
      b = Transform(static_cast<const ShapeDef*>(d)->geometry.bounds, m);
      break;
    case Character::Kind::kMorph:
      b = Transform(static_cast<const MorphDef*>(d)->startBounds, m);
      b.Add(Transform(static_cast<const MorphDef*>(d)->endBounds, m));
      break;
    case Character::Kind::kText: {
      const auto* t = static_cast<const TextDef*>(d);
      b = Transform(t->bounds, m);
      break;
    }
    case Character::Kind::kEditText:
      b = Transform(static_cast<const EditTextDef*>(d)->bounds, m);
      break;
    case Character::Kind::kBitmap: {
      const auto* bm = static_cast<const BitmapDef*>(d);
      b = Transform(Rect{0, bm->width * 20, 0, bm->height * 20}, m);
      break;
    }
    case Character::Kind::kSprite:
      if (inst.sprite) {
        b = DeviceBoxOfList(c, inst.sprite->list, m, nesting);
        if (inst.sprite->drawing && inst.sprite->drawing->hasBounds) {
          b.Add(Transform(inst.sprite->drawing->geometry.bounds, m));
        }
      }
      break;
    case Character::Kind::kButton:
      if (inst.sprite) {
        b = DeviceBoxOfList(c, inst.sprite->list, m, nesting);
        break;
      }
      for (const auto& rec : static_cast<const ButtonDef*>(d)->records) {
        if (!(rec.states & kButtonUp)) continue;
        Instance child;
        child.def = c.lib.Find(rec.characterId);
        child.matrix = rec.matrix;
        if (child.def && child.def->kind != Character::Kind::kButton) b.Add(DeviceBox(c, child, m, nesting + 1));
      }
      break;
    case Character::Kind::kFont:
      break;
  }
  if (!b.Empty()) {
    // Room for strokes and anti-aliasing, and for what filters spread.
    const double m = 2 + (inst.filters.empty() ? 0.0 : FilterMargin(inst.filters, c.options.stageScale * 20));
    b.x0 -= m, b.y0 -= m, b.x1 += m, b.y1 += m;
  }
  return b;
}

// Clips the context to a device box; false when nothing can show.
bool ClipToBox(cairo_t* cr, const Box& b) {
  if (b.Empty()) return false;
  cairo_identity_matrix(cr);
  cairo_rectangle(cr, std::floor(b.x0), std::floor(b.y0), std::ceil(b.x1) - std::floor(b.x0),
                  std::ceil(b.y1) - std::floor(b.y0));
  cairo_clip(cr);
  double x0, y0, x1, y1;
  cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
  return x1 > x0 && y1 > y0;
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

void DrawInstanceBody(Ctx& c, const Instance& inst, const cairo_matrix_t& m, const ColorTransform& cx) {
  const Character* d = inst.def;
  switch (d->kind) {
    case Character::Kind::kShape:
      DrawGeometry(c, static_cast<const ShapeDef*>(d)->geometry, m, cx, d);
      break;
    case Character::Kind::kMorph: {
      if (inst.morphCacheRatio != inst.ratio || !inst.morphCache) {
        inst.morphCache = std::make_shared<ShapeGeometry>(MorphAt(static_cast<const MorphDef&>(*d), inst.ratio / 65535.0));
        inst.morphCacheRatio = inst.ratio;
      }
      DrawGeometry(c, *inst.morphCache, m, cx, d, inst.ratio);
      break;
    }
    case Character::Kind::kSprite:
      if (inst.sprite && c.nesting < kMaxSpriteNesting) {
        if (inst.sprite->drawing) DrawGeometry(c, inst.sprite->drawing->geometry, m, cx);
        ++c.nesting;
        DrawList(c, inst.sprite->list.begin(), inst.sprite->list.end(), m, cx);
        --c.nesting;
      }
      break;
    case Character::Kind::kButton: {
      // The characters of the state shown, kept by the stage.
      if (inst.sprite) {
        if (c.nesting < kMaxSpriteNesting) {
          ++c.nesting;
          DrawList(c, inst.sprite->list.begin(), inst.sprite->list.end(), m, cx);
          --c.nesting;
        }
        break;
      }
      const auto& b = static_cast<const ButtonDef&>(*d);
      for (const auto& rec : b.records) {
        if (!(rec.states & kButtonUp)) continue;
        const Character* ch = c.lib.Find(rec.characterId);
        if (!ch || ch->kind == Character::Kind::kButton || c.nesting >= kMaxSpriteNesting) continue;
        Instance child;
        child.def = ch;
        child.characterId = rec.characterId;
        child.matrix = rec.matrix;
        child.cxform = rec.cxform;
        ++c.nesting;
        // Sprites inside buttons show their first frame.
        if (ch->kind != Character::Kind::kSprite) DrawInstance(c, child, m, cx);
        --c.nesting;
      }
      break;
    }
    case Character::Kind::kText:
      DrawText(c, static_cast<const TextDef&>(*d), m, cx);
      break;
    case Character::Kind::kEditText:
      DrawEditText(c, static_cast<const EditTextDef&>(*d),
                   inst.text ? *inst.text : static_cast<const EditTextDef&>(*d).text, m, cx);
      break;
    case Character::Kind::kBitmap: {
      // A bitmap placed directly draws at one twip per... pixel scale of 20.
      const auto& b = static_cast<const BitmapDef&>(*d);
      FillStyle f;
      f.kind = FillStyle::Kind::kBitmap;
      f.bitmapId = b.id;
      f.matrix.scaleX = f.matrix.scaleY = 20;
      f.smooth = false;
      ShapeLayer layer;
      layer.fills.push_back(f);
      layer.fillPaths.push_back({Edge{0, 0, 0, 0, b.width * 20.0, 0, false},
                                 Edge{b.width * 20.0, 0, 0, 0, b.width * 20.0, b.height * 20.0, false},
                                 Edge{b.width * 20.0, b.height * 20.0, 0, 0, 0, b.height * 20.0, false},
                                 Edge{0, b.height * 20.0, 0, 0, 0, 0, false}});
      DrawLayer(c, layer, m, cx);
      break;
    }
    case Character::Kind::kFont:
      break;
  }
}

// Subtract (9) and invert (10) have no Cairo operator: the object is drawn
// into an image of the target's size and combined pixel by pixel.
void DrawWithPixelBlend(Ctx& c, const Instance& inst, const cairo_matrix_t& m, const ColorTransform& cx) {
  cairo_surface_t* target = cairo_get_group_target(c.cr);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) {
    DrawInstanceBody(c, inst, m, cx);
    return;
  }
  const int w = cairo_image_surface_get_width(target), h = cairo_image_surface_get_height(target);
  double ox = 0, oy = 0;
  cairo_surface_get_device_offset(target, &ox, &oy);
  SurfacePtr src(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_surface_set_device_offset(src.get(), ox, oy);
  std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr2(cairo_create(src.get()), cairo_destroy);
  cairo_set_antialias(cr2.get(), cairo_get_antialias(c.cr));
  cairo_t* saved = c.cr;
  c.cr = cr2.get();
  DrawInstanceBody(c, inst, m, cx);
  c.cr = saved;
  cr2.reset();
  cairo_surface_flush(src.get());
  cairo_surface_flush(target);
  const auto* sd = cairo_image_surface_get_data(src.get());
  auto* td = cairo_image_surface_get_data(target);
  const int ss = cairo_image_surface_get_stride(src.get()), ts = cairo_image_surface_get_stride(target);
  const bool targetAlpha = cairo_image_surface_get_format(target) == CAIRO_FORMAT_ARGB32;
  for (int y = 0; y < h; ++y) {
    const auto* sp = reinterpret_cast<const std::uint32_t*>(sd + static_cast<std::size_t>(y) * ss);
    auto* tp = reinterpret_cast<std::uint32_t*>(td + static_cast<std::size_t>(y) * ts);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t sv = sp[x];
      const int sa = static_cast<int>(sv >> 24);
      if (sa == 0) continue;
      const std::uint32_t tv = tp[x];
      const int da = targetAlpha ? static_cast<int>(tv >> 24) : 255;
      std::uint32_t out = targetAlpha ? tv & 0xFF000000u : 0xFF000000u;
      for (int shift = 0; shift <= 16; shift += 8) {
        const int sc = static_cast<int>((sv >> shift) & 255), dc = static_cast<int>((tv >> shift) & 255);
        int r = 0;
        if (inst.blendMode == 9) {
          r = std::max(0, dc - sc);
        } else {
          r = (dc * (255 - sa) + (da - dc) * sa) / 255;
        }
        out |= static_cast<std::uint32_t>(std::clamp(r, 0, 255)) << shift;
      }
      tp[x] = out;
    }
  }
  cairo_surface_mark_dirty(target);
}

// The object drawn alone into an image around its box, filtered, then put
// on the target with its blend.
void DrawWithFilters(Ctx& c, const Instance& inst, const cairo_matrix_t& parent, const cairo_matrix_t& m,
                     const ColorTransform& cx, cairo_operator_t op) {
  Box b = DeviceBox(c, inst, parent, c.nesting);
  if (b.Empty()) return;
  // Only what can show, plus the filters' reach into it.
  cairo_save(c.cr);
  cairo_identity_matrix(c.cr);
  double cx0, cy0, cx1, cy1;
  cairo_clip_extents(c.cr, &cx0, &cy0, &cx1, &cy1);
  cairo_restore(c.cr);
  const double reach = FilterMargin(inst.filters, c.options.stageScale * 20) + 2;
  const double x0 = std::floor(std::max(b.x0, cx0 - reach)), y0 = std::floor(std::max(b.y0, cy0 - reach));
  const double x1 = std::ceil(std::min(b.x1, cx1 + reach)), y1 = std::ceil(std::min(b.y1, cy1 + reach));
  constexpr double kMaxSide = 4096;
  if (x1 <= x0 || y1 <= y0 || x1 - x0 > kMaxSide || y1 - y0 > kMaxSide) {
    DrawInstanceBody(c, inst, m, cx);  // too large to filter: drawn plain
    return;
  }
  const int w = static_cast<int>(x1 - x0), h = static_cast<int>(y1 - y0);
  SurfacePtr image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) return;
  cairo_surface_set_device_offset(image.get(), -x0, -y0);
  {
    std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr2(cairo_create(image.get()), cairo_destroy);
    cairo_set_antialias(cr2.get(), cairo_get_antialias(c.cr));
    cairo_t* saved = c.cr;
    c.cr = cr2.get();
    ++c.layers;
    DrawInstanceBody(c, inst, m, cx);
    --c.layers;
    c.cr = saved;
  }
  cairo_surface_set_device_offset(image.get(), 0, 0);
  ApplyFilters(image.get(), inst.filters, c.options.stageScale * 20);
  cairo_save(c.cr);
  cairo_identity_matrix(c.cr);
  cairo_set_source_surface(c.cr, image.get(), x0, y0);
  cairo_set_operator(c.cr, op);
  cairo_paint(c.cr);
  cairo_restore(c.cr);
}

// An instance by serial number anywhere on the stage, with its parent's
// transform to the device.
const Instance* FindSerial(const std::map<int, Instance>& list, std::uint64_t serial, const cairo_matrix_t& parent,
                           int nesting, cairo_matrix_t& parentOut) {
  if (nesting > kMaxSpriteNesting) return nullptr;
  for (const auto& [depth, inst] : list) {
    if (inst.serial == serial) {
      parentOut = parent;
      return &inst;
    }
    if (inst.sprite && inst.def && inst.def->kind == Character::Kind::kSprite) {
      cairo_matrix_t m;
      const cairo_matrix_t own = ToCairo(inst.matrix);
      cairo_matrix_multiply(&m, &own, &parent);
      if (const Instance* found = FindSerial(inst.sprite->list, serial, m, nesting + 1, parentOut)) return found;
    }
  }
  return nullptr;
}

void DrawMasked(Ctx& c, const Instance& inst, const cairo_matrix_t& parent, const ColorTransform& parentCx,
                const Instance& mask, const cairo_matrix_t& maskParent) {
  cairo_save(c.cr);
  const Box box = DeviceBox(c, mask, maskParent, c.nesting);
  if (!ClipToBox(c.cr, box)) {
    cairo_restore(c.cr);
    return;
  }
  cairo_push_group(c.cr);
  const Instance* saved = c.masking;
  c.masking = &inst;
  DrawInstance(c, inst, parent, parentCx);
  c.masking = saved;
  PatternPtr content(cairo_pop_group(c.cr));
  cairo_push_group_with_content(c.cr, CAIRO_CONTENT_ALPHA);
  const bool wasMask = c.mask;
  c.mask = true;
  DrawInstance(c, mask, maskParent, ColorTransform{});
  c.mask = wasMask;
  PatternPtr coverage(cairo_pop_group(c.cr));
  cairo_identity_matrix(c.cr);
  cairo_set_source(c.cr, content.get());
  cairo_mask(c.cr, coverage.get());
  cairo_restore(c.cr);
}

void DrawInstance(Ctx& c, const Instance& inst, const cairo_matrix_t& parent, const ColorTransform& parentCx) {
  if (!inst.def) return;
  if (!c.mask && inst.scriptMask) return;
  if (!inst.visible && !(c.mask && inst.scriptMask)) return;
  if (inst.maskSerial && !c.mask && c.masking != &inst && c.root) {
    cairo_matrix_t maskParent;
    const Instance* mask = FindSerial(*c.root, inst.maskSerial, c.base, 0, maskParent);
    if (mask && mask != &inst) {
      DrawMasked(c, inst, parent, parentCx, *mask, maskParent);
      return;
    }
  }
  cairo_matrix_t m;
  const cairo_matrix_t own = ToCairo(inst.matrix);
  cairo_matrix_multiply(&m, &own, &parent);
  if (!Invertible(m)) return;
  const ColorTransform cx = Compose(parentCx, inst.cxform);
  if (!c.mask && cx.alphaMult <= 0 && cx.alphaAdd <= 0) return;
  if (!c.mask && !inst.filters.empty()) {
    const cairo_operator_t op = BlendOperator(inst.blendMode);
    if ((op == CAIRO_OPERATOR_DEST_IN || op == CAIRO_OPERATOR_DEST_OUT) && c.layers == 0) return;
    DrawWithFilters(c, inst, parent, m, cx, op);
    return;
  }
  // Inside a layer the pixel blend does not yet find the layer's pixels.
  if (!c.mask && c.layers == 0 && (inst.blendMode == 9 || inst.blendMode == 10)) {
    DrawWithPixelBlend(c, inst, m, cx);
    return;
  }
  cairo_operator_t op = c.mask ? CAIRO_OPERATOR_OVER : BlendOperator(inst.blendMode);
  // Alpha and erase change only the alpha of a layer below; on the opaque
  // stage they show nothing.
  if ((op == CAIRO_OPERATOR_DEST_IN || op == CAIRO_OPERATOR_DEST_OUT) && c.layers == 0) return;
  if (op != CAIRO_OPERATOR_OVER || (inst.blendMode == 2 && !c.mask)) {
    cairo_save(c.cr);
    if (!ClipToBox(c.cr, DeviceBox(c, inst, parent, c.nesting))) {
      cairo_restore(c.cr);
      return;
    }
    cairo_push_group(c.cr);
    ++c.layers;
    DrawInstanceBody(c, inst, m, cx);
    --c.layers;
    cairo_pop_group_to_source(c.cr);
    cairo_identity_matrix(c.cr);
    cairo_set_operator(c.cr, op);
    cairo_paint(c.cr);
    cairo_restore(c.cr);
    return;
  }
  DrawInstanceBody(c, inst, m, cx);
}

using ListIt = std::map<int, Instance>::const_iterator;

// A clip-depth mask, and the masks that in turn cover its own depth.
struct ClipMask {
  ListIt it;
  std::vector<const ClipMask*> under;
};

// Draws the items masked by masks[k..]: each mask's coverage in turn.
void DrawUnderMasks(Ctx& c, const std::vector<ListIt>& items, const std::vector<const ClipMask*>& masks, std::size_t k,
                    const cairo_matrix_t& m, const ColorTransform& cx) {
  if (k == masks.size()) {
    for (ListIt it : items) DrawInstance(c, it->second, m, cx);
    return;
  }
  const ClipMask& mask = *masks[k];
  cairo_save(c.cr);
  if (!ClipToBox(c.cr, DeviceBox(c, mask.it->second, m, c.nesting))) {
    cairo_restore(c.cr);
    return;
  }
  cairo_push_group(c.cr);
  DrawUnderMasks(c, items, masks, k + 1, m, cx);
  PatternPtr content(cairo_pop_group(c.cr));
  cairo_push_group_with_content(c.cr, CAIRO_CONTENT_ALPHA);
  const bool wasMask = c.mask;
  c.mask = true;
  DrawUnderMasks(c, {mask.it}, mask.under, 0, m, cx);
  c.mask = wasMask;
  PatternPtr coverage(cairo_pop_group(c.cr));
  cairo_identity_matrix(c.cr);
  cairo_set_source(c.cr, content.get());
  cairo_mask(c.cr, coverage.get());
  cairo_restore(c.cr);
}

// Masks (clip depths) show the objects above them up to their clip depth
// only where they cover; ranges of several masks may overlap.
void DrawList(Ctx& c, ListIt begin, ListIt end, const cairo_matrix_t& m, const ColorTransform& cx) {
  std::vector<std::unique_ptr<ClipMask>> masks, finished;
  std::vector<const ClipMask*> groupMasks;
  std::vector<ListIt> group;
  auto activeAt = [&](int depth) {
    std::vector<const ClipMask*> out;
    for (const auto& mk : masks) {
      if (mk->it->second.clipDepth >= depth) out.push_back(mk.get());
    }
    return out;
  };
  auto flush = [&]() {
    if (group.empty()) return;
    if (groupMasks.empty()) {
      for (ListIt it : group) DrawInstance(c, it->second, m, cx);
    } else {
      DrawUnderMasks(c, group, groupMasks, 0, m, cx);
    }
    group.clear();
  };
  for (auto it = begin; it != end; ++it) {
    const Instance& inst = it->second;
    // Masks whose range has ended are done with (the current group keeps its own).
    for (std::size_t i = 0; i < masks.size();) {
      if (masks[i]->it->second.clipDepth < it->first) {
        finished.push_back(std::move(masks[i]));
        masks.erase(masks.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    if (inst.clipDepth > 0) {
      // Overlapping masks nest; a few levels are enough for real movies.
      if (masks.size() < 8) masks.push_back(std::make_unique<ClipMask>(ClipMask{it, activeAt(it->first)}));
      continue;
    }
    std::vector<const ClipMask*> active = activeAt(it->first);
    if (active != groupMasks) {
      flush();
      groupMasks = std::move(active);
    }
    group.push_back(it);
  }
  flush();
}

void ListDrawnItems(const std::map<int, Instance>& list, std::vector<DrawnItem>& out, int level) {
  for (const auto& [depth, inst] : list) {
    DrawnItem item{level, depth, inst.def, inst.matrix, inst.cxform, inst.ratio, inst.clipDepth,
                   inst.blendMode, inst.visible, inst.filters, inst.maskSerial, inst.scriptMask, inst.text};
    if (inst.sprite && inst.sprite->drawing) {
      item.drawing = inst.sprite->drawing.get();
      item.drawingVersion = inst.sprite->drawing->version;
    }
    out.push_back(std::move(item));
    // Sprites, and buttons with their shown state built, draw their own list.
    if (inst.sprite && inst.visible && level <= kMaxSpriteNesting) ListDrawnItems(inst.sprite->list, out, level + 1);
  }
}

}  // namespace

bool ShapeCache::Key::Matches(const Key& k) const {
  return owner == k.owner && ratio == k.ratio && xx == k.xx && yx == k.yx && xy == k.xy && yy == k.yy &&
         std::abs(fx - k.fx) < 1e-6 && std::abs(fy - k.fy) < 1e-6 && cx == k.cx && mask == k.mask &&
         antialias == k.antialias && tolerance == k.tolerance && stageScale == k.stageScale &&
         quality == k.quality;
}

namespace {
std::size_t Area(const ShapeCache::Entry& e) {
  return e.picture ? static_cast<std::size_t>(e.x1 - e.x0) * static_cast<std::size_t>(e.y1 - e.y0) : 0;
}
}  // namespace

ShapeCache::Entry& ShapeCache::Find(const Key& key, bool& seenBefore) {
  auto& list = entries_[key.owner];
  for (auto& e : list) {
    if (e.key.Matches(key)) {
      seenBefore = e.lastFrame + 1 >= frame_;
      e.lastFrame = frame_;
      return e;
    }
  }
  seenBefore = false;
  if (list.size() >= kMaxPicturesPerShape) {
    auto oldest = std::min_element(list.begin(), list.end(),
                                   [](const Entry& a, const Entry& b) { return a.lastFrame < b.lastFrame; });
    pixels_ -= Area(*oldest);
    list.erase(oldest);
  }
  Entry& e = list.emplace_back();
  e.key = key;
  e.lastFrame = frame_;
  return e;
}

void ShapeCache::Store(Entry& e, SurfacePtr picture, int x0, int y0, int x1, int y1) {
  pixels_ -= Area(e);
  e.picture = std::move(picture);
  e.x0 = x0, e.y0 = y0, e.x1 = x1, e.y1 = y1;
  pixels_ += Area(e);
}

void ShapeCache::EndFrame() {
  for (auto it = entries_.begin(); it != entries_.end();) {
    auto& list = it->second;
    std::erase_if(list, [this](const Entry& e) {
      if (e.lastFrame + 1 >= frame_) return false;
      pixels_ -= Area(e);
      return true;
    });
    it = list.empty() ? entries_.erase(it) : std::next(it);
  }
  ++frame_;
}

void ShapeCache::Clear() {
  entries_.clear();
  pixels_ = 0;
}

void ListDrawnItems(const std::map<int, Instance>& list, std::vector<DrawnItem>& out) {
  ListDrawnItems(list, out, 0);
}

cairo_matrix_t ToCairo(const Matrix& m) {
  cairo_matrix_t r;
  cairo_matrix_init(&r, m.scaleX, m.rotateSkew0, m.rotateSkew1, m.scaleY, m.translateX, m.translateY);
  return r;
}

ColorTransform Compose(const ColorTransform& p, const ColorTransform& c) {
  if (c.IsIdentity()) return p;
  if (p.IsIdentity()) return c;
  ColorTransform r;
  r.redMult = p.redMult * c.redMult / 256;
  r.greenMult = p.greenMult * c.greenMult / 256;
  r.blueMult = p.blueMult * c.blueMult / 256;
  r.alphaMult = p.alphaMult * c.alphaMult / 256;
  r.redAdd = p.redMult * c.redAdd / 256 + p.redAdd;
  r.greenAdd = p.greenMult * c.greenAdd / 256 + p.greenAdd;
  r.blueAdd = p.blueMult * c.blueAdd / 256 + p.blueAdd;
  r.alphaAdd = p.alphaMult * c.alphaAdd / 256 + p.alphaAdd;
  return r;
}

void RenderDisplayList(cairo_t* cr, const MovieLibrary& lib, const std::map<int, Instance>& list,
                       const cairo_matrix_t& base, const RenderOptions& options, const Drawing* drawing) {
  Ctx c{cr, lib, options};
  c.root = &list;
  c.base = base;
  cairo_save(cr);
  cairo_set_antialias(cr, options.quality == Quality::qLow ? CAIRO_ANTIALIAS_NONE
                          : options.quality == Quality::qBest ? CAIRO_ANTIALIAS_BEST
                                                              : CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_tolerance(cr, options.quality == Quality::qBest ? 0.05 : 0.2);
  if (drawing) DrawGeometry(c, drawing->geometry, base, ColorTransform{});
  DrawList(c, list.begin(), list.end(), base, ColorTransform{});
  cairo_restore(cr);
}

void RenderGeometry(cairo_t* cr, const MovieLibrary& lib, const ShapeGeometry& g, const cairo_matrix_t& m,
                    const ColorTransform& cx, const RenderOptions& options) {
  Ctx c{cr, lib, options};
  cairo_save(cr);
  DrawGeometry(c, g, m, cx);
  cairo_restore(cr);
}

}  // namespace quarvel::player
