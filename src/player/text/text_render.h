#pragma once
// Text: static text runs of embedded glyphs, and text fields drawn from their
// layout (text_layout.h) with embedded outlines or device-font outlines.

#include <cairo.h>

#include <string>

#include "player/library/characters.h"
#include "player/render/render_context.h"

namespace quarvel::player {

// `parent`: the text's object space to device.
void DrawStaticText(RenderContext& c, const TextDef& t, const cairo_matrix_t& parent, const ColorTransform& cx);

// A timeline field no script has touched; `shown`: its text (HTML when the field is).
void DrawEditText(RenderContext& c, const EditTextDef& e, const std::string& shown, const cairo_matrix_t& m,
                  const ColorTransform& cx);

namespace text {
struct TextLook;
}
// A laid-out field; `m`: the field's space (twips) to device.
void DrawTextLook(RenderContext& c, const text::TextLook& look, const cairo_matrix_t& m, const ColorTransform& cx);

}  // namespace quarvel::player
