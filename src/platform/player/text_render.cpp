#include "platform/player/text_render.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/player/paint.h"

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

}  // namespace

void DrawStaticText(RenderContext& c, const TextDef& t, const cairo_matrix_t& parent, const ColorTransform& cx) {
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

void DrawEditText(RenderContext& c, const EditTextDef& e, const std::string& shown, const cairo_matrix_t& m,
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
    Glyphs glyphs;
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

}  // namespace quarvel::player
