// libFuzzer entry for text: any bytes as HTML (and the first line as a style
// sheet) laid out in a box whose options come from the first byte, written
// back as HTML, read again and drawn.
#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "player/library/movie_library.h"
#include "player/render/render_context.h"
#include "player/text/text_field.h"
#include "player/text/text_render.h"

using namespace quarvel::player;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t opts = data[0];
  const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
  text::StyleRules rules;
  const auto nl = input.find('\n');
  std::map<std::string, std::map<std::string, std::string>> css;
  if (nl != std::string::npos && text::ParseCss(input.substr(0, nl), css)) {
    for (const auto& [sel, props] : css) {
      for (const auto& [k, v] : props) text::ApplyCssProperty(k, v, rules[sel]);
    }
  }
  text::TextField field;
  field.SetWidth(data[1]);
  field.SetHeight(40);
  auto& o = field.EditOpts();
  o.wordWrap = opts & 1;
  o.html = true;
  o.condenseWhite = opts & 2;
  o.autoSize = static_cast<text::AutoSize>((opts >> 2) & 3);
  o.password = opts & 16;
  o.border = o.background = opts & 32;
  if (opts & 64) field.SetStyles(std::make_shared<text::StyleRules>(rules));
  field.SetHtmlText(input);
  field.SetScroll(opts >> 4);
  const std::string html = field.HtmlText();
  text::TextField again;
  again.SetHtmlText(html);
  if (field.Length() > 2) field.ReplaceText(1, field.Length() / 2, "x\ry");
  text::FormatPatch p;
  p.size = 1 + (opts & 63);
  p.align = text::Align::kJustify;
  field.SetFormat(0, field.Length(), p);

  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 48);
  cairo_t* cr = cairo_create(s);
  MovieLibrary lib;
  RenderContext c{cr, lib, {}};
  cairo_matrix_t m;
  cairo_matrix_init_scale(&m, 1.0 / 20, 1.0 / 20);
  DrawTextLook(c, *field.Look(), m, ColorTransform{});
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return 0;
}
