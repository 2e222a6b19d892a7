#pragma once
// What the renderer's parts share while drawing one picture: the target,
// the options and the state of the walk (mask coverage, nesting, layers).

#include <cairo.h>

#include <algorithm>
#include <span>

#include "player/library/characters.h"
#include "player/render/drawn_items.h"
#include "player/quality.h"
#include "player/library/movie_library.h"

namespace quarvel::player {

class ShapeCache;
class FilterCache;

struct RenderOptions {
  Quality quality = Quality::qHigh;
  double stageScale = 1.0 / 20;  // device pixels per twip of the stage
  ShapeCache* cache = nullptr;   // none: every shape is drawn
  FilterCache* filtered = nullptr;  // none: every filtered object is drawn and filtered
};

// A nine-slice scaled sprite being drawn: its shapes' points are carried
// into its own space and moved so that the corners outside the grid keep
// their size under the sprite's scale (`sx`, `sy`), the centre stretching.
struct NineSlice {
  double l = 0, r = 0, t = 0, b = 0;      // the sprite's content, its own twips
  double gl = 0, gr = 0, gt = 0, gb = 0;  // the grid
  double sx = 1, sy = 1;
  cairo_matrix_t device{};  // the sprite's own space to the device
  int nesting = 0;          // the nesting its shapes are drawn at
  double MapX(double x) const { return Map(x, l, r, gl, gr, sx); }
  double MapY(double y) const { return Map(y, t, b, gt, gb, sy); }
  static double Map(double v, double lo, double hi, double glo, double ghi, double s) {
    glo = std::clamp(glo, lo, hi), ghi = std::clamp(ghi, glo, hi);
    double left = (glo - lo) / s, right = (hi - ghi) / s, mid = (hi - lo) - left - right;
    if (mid < 0) {
      // Scaled down past its corners: they shrink together.
      const double k = left + right > 0 ? (hi - lo) / (left + right) : 0;
      left *= k, right *= k, mid = 0;
    }
    if (v < glo) return glo > lo ? lo + (v - lo) * left / (glo - lo) : lo;
    if (v > ghi) return hi > ghi ? hi - (hi - v) * right / (hi - ghi) : hi;
    return ghi > glo ? lo + left + (v - glo) * mid / (ghi - glo) : lo + left;
  }
};

struct RenderContext {
  cairo_t* cr;
  const MovieLibrary& lib;
  RenderOptions options;
  bool mask = false;  // drawing a mask: coverage only
  int nesting = 0;
  int layers = 0;  // open blend groups: alpha and erase need one below them
  std::span<const DrawnItem> items{};  // the whole list, where script masks are found
  cairo_matrix_t base{};
  const DrawnItem* masking = nullptr;  // the setMask maskee being drawn into its group
  const DrawnItem* alphaMask = nullptr;  // the setMask mask being drawn by its alpha, in colour
  const NineSlice* nineSlice = nullptr;  // the nine-slice sprite whose shapes are being drawn
};

// A device-space box.
struct Box {
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  bool Empty() const { return x0 > x1 || y0 > y1; }
  void Add(const Box& b) {
    x0 = std::min(x0, b.x0), y0 = std::min(y0, b.y0), x1 = std::max(x1, b.x1), y1 = std::max(y1, b.y1);
  }
};

// What the context's clip lets through, in device pixels.
inline Box DeviceClip(cairo_t* cr) {
  Box b;
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_clip_extents(cr, &b.x0, &b.y0, &b.x1, &b.y1);
  cairo_restore(cr);
  return b;
}

// The items one level below `item`, walked with Next.
inline std::span<const DrawnItem> Children(const DrawnItem& item) { return {&item + 1, item.descendants}; }
inline const DrawnItem* Next(const DrawnItem* item) { return item + 1 + item->descendants; }

// The walk, which the parts call back into (renderer.cpp).
void DrawItem(RenderContext& c, const DrawnItem& item, const cairo_matrix_t& parent, const ColorTransform& parentCx);
void DrawItemBody(RenderContext& c, const DrawnItem& item, const cairo_matrix_t& m, const ColorTransform& cx);
// The device box of what an item's body draws with `m` (its own space to the
// device), its children included (compositing.cpp).
Box BodyBox(const RenderContext& c, const DrawnItem& item, const cairo_matrix_t& m, int nesting);

}  // namespace quarvel::player
