#include "player/render/paint.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quarvel::player {
namespace {

struct PatternDeleter {
  void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

double SrgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double LinearToSrgb(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

void AddStop(cairo_pattern_t* p, double offset, Rgba col) {
  cairo_pattern_add_color_stop_rgba(p, Clamp01(offset), col.r / 255.0, col.g / 255.0, col.b / 255.0, col.a / 255.0);
}

// Flash looks gradients up in a ramp of 256 entries, entry t covering
// [t, t + 1) / 256 of the gradient square. Filling it, the stop in hand moves
// on by at most one stop per entry, to the next once the entry is past that
// stop's ratio; the first stop starts out "before" itself. So stops that
// share a ratio each show for one entry after it (the first for two, the last
// for none: the ramp from it starts at once), and a stop whose ratio is
// below the one before is reached one entry late and left at the next entry.
struct RampEntry {
  int from = 0, to = 0;  // stop indices: a mix from `from` towards `to`
  double r0 = 0, r1 = 0;  // their ratios; equal when the entry holds `from`
};

std::array<RampEntry, 256> BuildRamp(const std::vector<GradientStop>& stops) {
  std::array<RampEntry, 256> ramp{};
  const int n = static_cast<int>(stops.size());
  int at = -1;  // before the first stop
  for (int t = 0; t < 256; ++t) {
    if (at + 1 < n && t > stops[at + 1].ratio) ++at;
    RampEntry& e = ramp[t];
    if (at < 0 || at + 1 >= n) {
      e.from = e.to = std::clamp(at, 0, n - 1);
      continue;
    }
    const int r0 = stops[at].ratio, r1 = stops[at + 1].ratio;
    if (r1 <= r0) {
      // Equal ratios hold this stop; a later stop placed lower is due already.
      e.from = e.to = r1 == r0 ? at : at + 1;
    } else if (t > r1) {
      e.from = e.to = at + 1;
    } else {
      e = {at, at + 1, static_cast<double>(r0), static_cast<double>(r1)};
    }
  }
  return ramp;
}

// Cairo stops for the ramp: a run of entries holding one stop is flat; a run
// mixing two stops is one stretch whose mix follows the position smoothly
// (ratio r at r / 255), not entry by entry. Runs meet at entry edges, sharply
// if their colours differ.
void AddRampStops(cairo_pattern_t* p, const Gradient& g, const std::vector<Rgba>& cols) {
  const auto ramp = BuildRamp(g.stops);
  auto mixAt = [](const RampEntry& e, double edge) {
    return e.from == e.to ? 0.0 : Clamp01((edge * 255 / 256 - e.r0) / (e.r1 - e.r0));
  };
  auto colour = [&](const RampEntry& e, double m) {
    const Rgba a = cols[e.from], b = cols[e.to];
    if (m <= 0) return a;
    if (m >= 1) return b;
    if (g.interpolation == 1) {
      auto mix = [&](std::uint8_t x, std::uint8_t y) {
        const double v = SrgbToLinear(x / 255.0) * (1 - m) + SrgbToLinear(y / 255.0) * m;
        return static_cast<std::uint8_t>(std::lround(Clamp01(LinearToSrgb(v)) * 255));
      };
      return Rgba{mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b),
                  static_cast<std::uint8_t>(std::lround(a.a * (1 - m) + b.a * m))};
    }
    auto mix = [&](std::uint8_t x, std::uint8_t y) { return static_cast<std::uint8_t>(std::lround(x + (y - x) * m)); };
    return Rgba{mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b), mix(a.a, b.a)};
  };
  int t = 0;
  while (t < 256) {
    const RampEntry& e = ramp[t];
    int end = t + 1;
    while (end < 256 && ramp[end].from == e.from && ramp[end].to == e.to) ++end;
    AddStop(p, t / 256.0, colour(e, mixAt(e, t)));
    if (e.from != e.to) {
      // Where the mix reaches either stop inside the run, it stays there.
      for (const double r : {e.r0, e.r1}) {
        const double edge = r * 256 / 255;
        if (edge > t && edge < end) AddStop(p, edge / 256.0, colour(e, mixAt(e, edge)));
      }
    }
    if (e.from != e.to && g.interpolation == 1) {
      // Cairo mixes stored values; sample the linear-light curve in between,
      // closer together towards the ends where a channel near zero bends it most.
      constexpr int kSteps = 24;
      for (int step = 1; step < kSteps; ++step) {
        const double k = 0.5 - 0.5 * std::cos(M_PI * step / kSteps);
        const double edge = t + (end - t) * k;
        AddStop(p, edge / 256.0, colour(e, mixAt(e, edge)));
      }
    }
    AddStop(p, end / 256.0, colour(e, mixAt(e, end)));
    t = end;
  }
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
// The most a matrix stretches any direction (its largest singular value).
double LargestScale(const cairo_matrix_t& d) {
  const double sumSq = d.xx * d.xx + d.xy * d.xy + d.yx * d.yx + d.yy * d.yy;
  const double det = d.xx * d.yy - d.xy * d.yx;
  return std::sqrt(std::max(0.0, (sumSq + std::sqrt(std::max(0.0, sumSq * sumSq - 4 * det * det))) / 2));
}

int ReductionLevel(const cairo_matrix_t& d, int width, int height) {
  const double most = LargestScale(d);
  if (!(most > 0)) return 0;
  int level = 0;
  while (level < 16 && most * static_cast<double>(2 << level) <= 1.0 && (width >> (level + 1)) >= 1 &&
         (height >> (level + 1)) >= 1) {
    ++level;
  }
  return level;
}

// A pattern whose space maps to the current user space through `toUser`.
// `picture`: a bitmap fill draws it rather than the library's bitmap.
PatternPtr MakePattern(RenderContext& c, const FillStyle& f, const ColorTransform& cx, const cairo_matrix_t& toUserIn,
                       const BitmapDef* picture = nullptr) {
  // Gradients are built on a unit square: pixman works in 16.16 fixed
  // point and overflows on the format's +-16384 square.
  cairo_matrix_t toUser = toUserIn;
  if (f.kind != FillStyle::Kind::kBitmap) {
    cairo_matrix_t unit;
    cairo_matrix_init_scale(&unit, 16384, 16384);
    cairo_matrix_multiply(&toUser, &unit, &toUserIn);
    // Flash samples gradients at the top of a pixel row (across it at the
    // pixel's centre): the ramp shows half a device pixel further down.
    cairo_matrix_t ctm, back, half;
    cairo_get_matrix(c.cr, &ctm);
    back = ctm;
    if (cairo_matrix_invert(&back) == CAIRO_STATUS_SUCCESS) {
      cairo_matrix_init_translate(&half, 0, 0.5);
      cairo_matrix_t m = toUser;
      cairo_matrix_multiply(&m, &m, &ctm);
      cairo_matrix_multiply(&m, &m, &half);
      cairo_matrix_multiply(&toUser, &m, &back);
    }
  }
  cairo_matrix_t inv = toUser;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return nullptr;
  PatternPtr p;
  if (f.kind == FillStyle::Kind::kBitmap && c.mask) {
    // A mask's bitmap covers its whole shape, whatever its alpha.
    p.reset(cairo_pattern_create_rgba(0, 0, 0, 1));
    return p;
  }
  if (f.kind == FillStyle::Kind::kBitmap) {
    const Character* ch = picture           ? picture
                          : f.scriptBitmap  ? f.scriptBitmap.get()
                          : f.bitmap        ? static_cast<const Character*>(f.bitmap)
                                            : c.lib.Find(f.bitmapId);
    if (!ch || ch->kind != Character::Kind::kBitmap) return nullptr;
    const auto* bmp = static_cast<const BitmapDef*>(ch);
    cairo_surface_t* src = bmp->surface.get();
    const bool tint = !c.mask && !cx.IsIdentity();
    if (tint) src = Tinted(*bmp, cx);
    cairo_matrix_t ctm, toDevice;
    cairo_get_matrix(c.cr, &ctm);
    cairo_matrix_multiply(&toDevice, &toUser, &ctm);
    // Low quality draws smoothed bitmaps unfiltered when enlarged or at
    // their size, but still averages them (mip-maps) when drawn reduced.
    const bool smooth = f.smooth && (c.options.quality != Quality::qLow || LargestScale(toDevice) < 1.0);
    // Bilinear as the format's player smooths; the convolution of GOOD costs
    // tens of milliseconds on large down-scaled bitmaps, so Best takes it
    // from a copy reduced to less than twice the size drawn, and Low samples
    // that copy (its mip-map) bilinearly.
    const bool best = c.options.quality == Quality::qBest;
    if (smooth && (best || c.options.quality == Quality::qLow) && !tint) {
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
    AddRampStops(p.get(), g, cols);
    cairo_pattern_set_extend(p.get(), g.spread == 1   ? CAIRO_EXTEND_REFLECT
                                      : g.spread == 2 ? CAIRO_EXTEND_REPEAT
                                                      : CAIRO_EXTEND_PAD);
  }
  cairo_pattern_set_matrix(p.get(), &inv);
  return p;
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

// More than one fill with edges: regions that may share borders.
bool SharedEdgeFills(const ShapeLayer& layer) {
  int filled = 0;
  for (std::size_t i = 0; i < layer.fillPaths.size() && i < layer.fills.size(); ++i) {
    if (!layer.fillPaths[i].empty() && ++filled > 1) return true;
  }
  return false;
}

// The device box fills laid together are drawn in: the fills' extent and a
// pixel around it, within the clip (`whole`: the clip cut nothing off it and
// is a plain rectangle, so the clip does not shape what is drawn in it).
// False when the box is off the surface or not finite.
bool SeamlessBox(cairo_t* cr, const ShapeLayer& layer, const cairo_matrix_t& m, double box[4], bool& whole) {
  double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
  auto grow = [&](double x, double y) {
    ToDevice(m, x, y);
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  };
  for (std::size_t i = 0; i < layer.fillPaths.size() && i < layer.fills.size(); ++i) {
    for (const Edge& e : layer.fillPaths[i]) {
      grow(e.x0, e.y0), grow(e.x1, e.y1);
      if (e.curve) grow(e.cx, e.cy);
    }
  }
  if (!(x0 <= x1 && y0 <= y1) || !std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) || !std::isfinite(y1))
    return false;
  double cx0 = 0, cy0 = 0, cx1 = 0, cy1 = 0;
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_clip_extents(cr, &cx0, &cy0, &cx1, &cy1);
  const double fx0 = std::floor(x0) - 1, fy0 = std::floor(y0) - 1, fx1 = std::ceil(x1) + 1, fy1 = std::ceil(y1) + 1;
  box[0] = std::max(fx0, cx0), box[1] = std::max(fy0, cy0);
  box[2] = std::min(fx1, cx1), box[3] = std::min(fy1, cy1);
  whole = false;
  if (box[0] < box[2] && box[1] < box[3] && box[0] == fx0 && box[1] == fy0 && box[2] == fx1 && box[3] == fy1) {
    cairo_rectangle_list_t* rects = cairo_copy_clip_rectangle_list(cr);
    whole = rects->status == CAIRO_STATUS_SUCCESS && rects->num_rectangles == 1 && rects->rectangles[0].x <= fx0 &&
            rects->rectangles[0].y <= fy0 && rects->rectangles[0].x + rects->rectangles[0].width >= fx1 &&
            rects->rectangles[0].y + rects->rectangles[0].height >= fy1;
    cairo_rectangle_list_destroy(rects);
  }
  cairo_restore(cr);
  return box[0] < box[2] && box[1] < box[3];
}

// Opens a group over the box (so that it costs no more than the shape's own
// area), which fills saturate.
void BeginSeamless(cairo_t* cr, const double box[4]) {
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_rectangle(cr, box[0], box[1], box[2] - box[0], box[3] - box[1]);
  cairo_clip(cr);
  cairo_push_group(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SATURATE);
}

// Puts the group down; with `kept` its picture is kept for the box.
void EndSeamless(cairo_t* cr, KeptFills* kept, const double box[4]) {
  cairo_pattern_t* group = cairo_pop_group(cr);
  cairo_set_source(cr, group);
  cairo_identity_matrix(cr);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_t* picture = nullptr;
  if (kept && cairo_pattern_get_surface(group, &picture) == CAIRO_STATUS_SUCCESS &&
      cairo_surface_get_type(picture) == CAIRO_SURFACE_TYPE_IMAGE) {
    cairo_surface_flush(picture);
    SurfacePtr held(cairo_surface_reference(picture));
    cairo_surface_set_device_offset(held.get(), 0, 0);
    kept->Keep(std::move(held), static_cast<int>(box[0]), static_cast<int>(box[1]), static_cast<int>(box[2]),
               static_cast<int>(box[3]));
  }
  cairo_pattern_destroy(group);
}

// What a group of the fills put down: the kept picture over the box.
void PutKept(cairo_t* cr, cairo_surface_t* picture, const double box[4]) {
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_rectangle(cr, box[0], box[1], box[2] - box[0], box[3] - box[1]);
  cairo_clip(cr);
  cairo_set_source_surface(cr, picture, box[0], box[1]);
  cairo_paint(cr);
  cairo_restore(cr);
}

// Fills a kept picture may stand for: none reads a bitmap, whose pixels a
// script may change.
bool KeepableFills(const ShapeLayer& layer) {
  for (const FillStyle& f : layer.fills)
    if (f.kind == FillStyle::Kind::kBitmap) return false;
  return true;
}

}  // namespace

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

void SetColor(RenderContext& c, Rgba col, const ColorTransform& cx) {
  if (c.mask) {
    cairo_set_source_rgba(c.cr, 0, 0, 0, 1);
    return;
  }
  const Rgba t = cx.Apply(col);
  cairo_set_source_rgba(c.cr, t.r / 255.0, t.g / 255.0, t.b / 255.0, t.a / 255.0);
}

void DrawLayer(RenderContext& c, const ShapeLayer& layer, const cairo_matrix_t& m, const ColorTransform& cx,
               const Rgba* textColor, KeptFills* kept) {
  if (!Invertible(m)) return;
  cairo_t* cr = c.cr;
  // The fills of one shape meet along shared edges. Flash gives each pixel
  // their coverages in one pass, so a border between two fills lets nothing
  // through; painting fill after fill would let the background show along
  // every such edge (darkening thin bands of skins). In a group, fills laid
  // last first, each taking only the coverage still free, give exactly that,
  // and where fills overlap the later one still shows, as painted in order.
  // Laid together the fills depend only on the layer, the transform and the
  // colours: a picture kept under the same ones (moved by whole pixels) is
  // the very group, when no clip cut either.
  bool seamless = false, keep = false, taken = false;
  double box[4] = {0, 0, 0, 0};
  if (!c.mask && !textColor && cairo_get_antialias(cr) != CAIRO_ANTIALIAS_NONE && SharedEdgeFills(layer)) {
    bool whole = false;
    if (SeamlessBox(cr, layer, m, box, whole)) {
      keep = kept && whole && KeepableFills(layer);
      cairo_surface_t* picture = keep ? kept->Find(static_cast<int>(box[0]), static_cast<int>(box[1]),
                                                   static_cast<int>(box[2]), static_cast<int>(box[3]))
                                      : nullptr;
      if (picture) {
        PutKept(cr, picture, box);
        taken = true;
      } else {
        BeginSeamless(cr, box);
        seamless = true;
      }
    }
  }
  const std::size_t fillCount = taken ? 0 : std::min(layer.fillPaths.size(), layer.fills.size());
  for (std::size_t k = 0; k < fillCount; ++k) {
    const std::size_t i = seamless ? fillCount - 1 - k : k;
    const auto& edges = layer.fillPaths[i];
    if (edges.empty()) continue;
    const FillStyle& f = layer.fills[i];
    cairo_set_fill_rule(cr, f.nonZero ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
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
  if (seamless) EndSeamless(cr, keep ? kept : nullptr, box);
  // A mask covers with its fills only; Flash leaves its strokes out.
  if (c.mask) return;
  // Strokes are drawn with a round pen in device space, as Flash draws them:
  // the width follows the sums of the matrix's columns, |a + c| across and
  // |b + d| down (so a skew can thin a line), their mean square for lines
  // that scale both ways, the stage scale alone for lines that scale neither
  // way, and never below one pixel.
  const double scaleX = std::fabs(m.xx + m.xy), scaleY = std::fabs(m.yx + m.yy);
  const double scaleBoth = std::sqrt((scaleX * scaleX + scaleY * scaleY) / 2);
  for (std::size_t i = 0; i < layer.linePaths.size() && i < layer.lines.size(); ++i) {
    const auto& edges = layer.linePaths[i];
    if (edges.empty()) continue;
    const LineStyle& l = layer.lines[i];
    // Without anti-aliasing a line centred on a pixel edge takes the pixel
    // right of and below the edge, as Flash's does, not the one before.
    cairo_matrix_t pen = m;
    if (cairo_get_antialias(cr) == CAIRO_ANTIALIAS_NONE) pen.x0 += 1.0 / 64, pen.y0 += 1.0 / 64;
    cairo_set_matrix(cr, &pen);
    cairo_new_path(cr);
    AddPath(cr, edges, true);
    cairo_identity_matrix(cr);
    double width = l.width * scaleBoth;
    if (l.noHScale && l.noVScale) width = l.width * c.options.stageScale;
    else if (l.noHScale) width = l.width * scaleY;
    else if (l.noVScale) width = l.width * scaleX;
    cairo_set_line_width(cr, std::max(1.0, width));
    const bool userSpace = false;
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

void DrawPicture(RenderContext& c, const BitmapDef& picture, const cairo_matrix_t& m, const ColorTransform& cx,
                 double width, double height, bool smooth) {
  if (!Invertible(m) || picture.width <= 0 || picture.height <= 0 || !picture.surface) return;
  FillStyle f;
  f.kind = FillStyle::Kind::kBitmap;
  f.smooth = smooth;
  cairo_matrix_t toUser;
  cairo_matrix_init_scale(&toUser, width / picture.width, height / picture.height);
  cairo_t* cr = c.cr;
  cairo_set_matrix(cr, &m);
  PatternPtr p = MakePattern(c, f, cx, toUser, &picture);
  if (!p) return;
  cairo_set_source(cr, p.get());
  cairo_identity_matrix(cr);
  cairo_new_path(cr);
  AddPath(cr, {Edge{0, 0, 0, 0, width, 0, false}, Edge{width, 0, 0, 0, width, height, false},
               Edge{width, height, 0, 0, 0, height, false}, Edge{0, height, 0, 0, 0, 0, false}},
          false, &m);
  cairo_fill(cr);
}

}  // namespace quarvel::player
