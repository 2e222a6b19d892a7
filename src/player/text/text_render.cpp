#include "player/text/text_render.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "player/render/paint.h"
#include "player/text/text_field.h"

namespace quarvel::player {
namespace {

// Glyph index and advance, from (x, y) on the baseline (text space).
using Glyphs = std::vector<std::pair<std::uint32_t, double>>;

void DrawGlyphs(RenderContext& c, const FontDef& font, const Glyphs& glyphs, double x, double y, double height,
                Rgba color, const cairo_matrix_t& m, const ColorTransform& cx) {
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

// A run's glyphs filled on c.cr, in field pixels under `pm`. With `grid`
// set, each glyph's origin moves to the nearest 1/grid of a device pixel.
void FillRun(RenderContext& c, const text::GlyphRun& run, double ox, double baseline, const cairo_matrix_t& pm,
             const ColorTransform& cx, Rgba color, int grid) {
  cairo_t* cr = c.cr;
  auto glyphMatrix = [&](double x, double scale) {
    cairo_matrix_t gm;
    cairo_matrix_init(&gm, scale, 0, 0, scale, ox + x, baseline);
    cairo_matrix_t full;
    cairo_matrix_multiply(&full, &gm, &pm);
    if (grid > 0) {
      full.x0 = std::round(full.x0 * grid) / grid;
      full.y0 = std::round(full.y0 * grid) / grid;
    }
    return full;
  };
  if (run.face.embedded) {
    const FontDef& font = *run.face.embedded;
    const double s = run.size / font.unitsPerEm;
    for (const auto& g : run.glyphs) {
      if (g.index >= font.glyphs.size()) continue;
      const cairo_matrix_t full = glyphMatrix(g.x, s);
      for (const auto& layer : font.glyphs[g.index].shape.layers) DrawLayer(c, layer, full, cx, &color);
    }
    return;
  }
  if (!run.face.device) return;
  cairo_new_path(cr);
  for (const auto& g : run.glyphs) {
    // Points are taken through the matrix in force as each is added.
    const cairo_matrix_t full = glyphMatrix(g.x, run.size);
    // A singular matrix would put the context in error (a zero size draws nothing).
    if (!Invertible(full)) continue;
    cairo_set_matrix(cr, &full);
    for (const text::OutlineOp& op : text::DeviceGlyphOutline(*run.face.device, g.index)) {
      switch (op.op) {
        case 0: cairo_move_to(cr, op.x[0], op.y[0]); break;
        case 1: cairo_line_to(cr, op.x[0], op.y[0]); break;
        case 2: {
          double x0 = 0, y0 = 0;
          cairo_get_current_point(cr, &x0, &y0);
          const double qx = op.x[0], qy = op.y[0], x1 = op.x[1], y1 = op.y[1];
          cairo_curve_to(cr, x0 + 2.0 / 3 * (qx - x0), y0 + 2.0 / 3 * (qy - y0), x1 + 2.0 / 3 * (qx - x1),
                         y1 + 2.0 / 3 * (qy - y1), x1, y1);
          break;
        }
        default: cairo_curve_to(cr, op.x[0], op.y[0], op.x[1], op.y[1], op.x[2], op.y[2]); break;
      }
    }
    cairo_close_path(cr);
  }
  cairo_set_matrix(cr, &pm);
  SetColor(c, color, cx);
  cairo_fill(cr);
}

// Flash underlines with a hairline half the line's descent below the
// baseline; unrotated, it fills the one pixel row it falls in.
void DrawUnderline(RenderContext& c, const text::GlyphRun& run, double ox, double baseline, const cairo_matrix_t& pm,
                   const ColorTransform& cx, Rgba color) {
  cairo_t* cr = c.cr;
  double x0 = ox + run.x0, x1 = ox + run.x1, y0 = baseline + run.lineDescent / 2, y1 = y0;
  cairo_matrix_transform_point(&pm, &x0, &y0);
  cairo_matrix_transform_point(&pm, &x1, &y1);
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_new_path(cr);
  if (pm.xy == 0 && pm.yx == 0) {
    const double left = std::round(std::min(x0, x1)), right = std::round(std::max(x0, x1));
    cairo_rectangle(cr, left, std::floor(y0), std::max(1.0, right - left), 1);
    SetColor(c, color, cx);
    cairo_fill(cr);
  } else {
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_set_line_width(cr, 1);
    SetColor(c, color, cx);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

// Since Flash Player 8 text of advanced anti-aliasing is drawn smooth at
// every quality, and device text is the system's to draw, smooth too; only
// the movie's own fonts at normal anti-aliasing lose it at low quality.
// Turns anti-aliasing on for such text until it goes out of scope.
class SmoothText {
 public:
  SmoothText(cairo_t* cr, bool smooth) : cr_(cr), was_(cairo_get_antialias(cr)) {
    if (smooth && was_ == CAIRO_ANTIALIAS_NONE) cairo_set_antialias(cr_, CAIRO_ANTIALIAS_DEFAULT);
  }
  ~SmoothText() { cairo_set_antialias(cr_, was_); }
  SmoothText(const SmoothText&) = delete;
  SmoothText& operator=(const SmoothText&) = delete;

 private:
  cairo_t* cr_;
  cairo_antialias_t was_;
};

}  // namespace

void DrawStaticText(RenderContext& c, const TextDef& t, const cairo_matrix_t& parent, const ColorTransform& cx) {
  cairo_matrix_t m;
  const cairo_matrix_t tm = ToCairo(t.matrix);
  cairo_matrix_multiply(&m, &tm, &parent);
  const SmoothText smooth(c.cr, t.advancedAntiAlias);
  for (const auto& run : t.runs) {
    const Character* ch = c.lib.Find(run.fontId);
    if (!ch || ch->kind != Character::Kind::kFont) continue;
    DrawGlyphs(c, static_cast<const FontDef&>(*ch), run.glyphs, run.x, run.y, run.height, run.color, m, cx);
  }
}

void DrawTextLook(RenderContext& c, const text::TextLook& look, const cairo_matrix_t& m, const ColorTransform& cx) {
  cairo_t* cr = c.cr;
  // Field pixels to device.
  cairo_matrix_t pm;
  cairo_matrix_t px;
  cairo_matrix_init_scale(&px, 20, 20);
  cairo_matrix_multiply(&pm, &px, &m);
  if (!Invertible(pm)) return;
  auto rgba = [](std::uint32_t rgb) {
    return Rgba{static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb),
                255};
  };
  cairo_save(cr);
  if ((look.background || look.border) && !c.mask) {
    // Unrotated boxes sit on whole device pixels, the border on the pixels of
    // the box's edges.
    double x0 = look.x, y0 = look.y, x1 = look.x + look.width, y1 = look.y + look.height;
    const bool straight = pm.xy == 0 && pm.yx == 0;
    if (straight) {
      cairo_matrix_transform_point(&pm, &x0, &y0);
      cairo_matrix_transform_point(&pm, &x1, &y1);
      // Edges fall on the pixel they start in.
      auto snap = [](double v) { return std::floor(v + 1e-6); };
      x0 = snap(x0), y0 = snap(y0), x1 = snap(x1), y1 = snap(y1);
      cairo_identity_matrix(cr);
      // The background covers the box; a border adds the pixels of its far edges.
      const double more = look.border ? 1 : 0;
      cairo_rectangle(cr, std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0) + more, std::abs(y1 - y0) + more);
    } else {
      cairo_set_matrix(cr, &pm);
      cairo_rectangle(cr, look.x, look.y, look.width, look.height);
    }
    if (look.background) {
      SetColor(c, rgba(look.backgroundColor), cx);
      cairo_fill_preserve(cr);
    }
    if (look.border) {
      // A hairline, whatever the scale.
      if (straight) {
        cairo_new_path(cr);
        cairo_rectangle(cr, std::min(x0, x1) + 0.5, std::min(y0, y1) + 0.5, std::abs(x1 - x0), std::abs(y1 - y0));
      }
      cairo_identity_matrix(cr);
      cairo_set_line_width(cr, 1);
      SetColor(c, rgba(look.borderColor), cx);
      cairo_stroke(cr);
    }
    cairo_new_path(cr);
  }
  const text::Layout& l = look.layout;
  if (l.runs.empty()) {
    cairo_restore(cr);
    return;
  }
  cairo_set_matrix(cr, &pm);
  // Drawn as a mask, a field's glyphs reach past its box, as a scrollRect
  // does not crop inside a mask.
  // Glyphs show only inside the 2-pixel gutter at the box's left and right.
  if (!c.mask) {
    cairo_rectangle(cr, look.x + 2, look.y, std::max(0.0, look.width - 4), look.height);
    cairo_clip(cr);
  }
  // Scrolled lines move up by the lines above the first shown.
  double dy = 0;
  if (look.scroll > 1 && static_cast<std::size_t>(look.scroll) <= l.lines.size()) {
    dy = l.lines[static_cast<std::size_t>(look.scroll) - 1].top - l.lines[0].top;
  }
  const double ox = look.x - l.boxX - look.hscroll, oy = look.y - dy;
  // Only whole lines show: from the first scrolled to the last that fits.
  double firstTop = 0, lastBaseline = 1e300;
  if (!l.lines.empty()) {
    const std::size_t first = static_cast<std::size_t>(std::clamp(look.scroll, 1, static_cast<int>(l.lines.size())) - 1);
    const auto last = static_cast<std::size_t>(l.BottomScroll(look.scroll) - 1);
    firstTop = l.lines[first].top;
    lastBaseline = l.lines[last].top + l.lines[last].ascent;
  }
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  // Flash rasterizes at high quality on a grid of 4 x 4 samples a pixel (2 x 2
  // at medium), and each glyph of the movie's own fonts starts on that grid:
  // its origin goes to the nearest sample, so that a glyph's stems and bars
  // fall on the same samples wherever the line's fraction of a pixel lies.
  // Device text is the system's to draw, from the pen position.
  const bool aliased = cairo_get_antialias(cr) == CAIRO_ANTIALIAS_NONE;
  const int grid = aliased && !look.advancedAntiAlias          ? 0
                   : c.options.quality == Quality::qMedium ? 2
                                                           : 4;
  for (const text::GlyphRun& run : l.runs) {
    if (run.y < firstTop - 0.01 || run.y > lastBaseline + 0.01) continue;
    const double baseline = oy + run.y;
    const Rgba color = rgba(run.color);
    {
      const SmoothText smooth(cr, !run.face.embedded || look.advancedAntiAlias);
      FillRun(c, run, ox, baseline, pm, cx, color, run.face.embedded ? grid : 0);
    }
    cairo_set_matrix(cr, &pm);
    if (run.underline && run.x1 > run.x0) DrawUnderline(c, run, ox, baseline, pm, cx, color);
  }
  cairo_restore(cr);
}

void DrawEditText(RenderContext& c, const EditTextDef& e, const std::string& shown, const cairo_matrix_t& m,
                  const ColorTransform& cx) {
  const auto field = text::TextField::FromDef(e, &c.lib);
  if (shown != e.text) field->SetShown(shown);
  DrawTextLook(c, *field->Look(), m, cx);
}

}  // namespace quarvel::player
