#pragma once
// Text: static text runs of embedded glyphs, and edit text laid out line by
// line in its box with embedded outlines or a device font.

#include <cairo.h>

#include <string>

#include "platform/player/characters.h"
#include "platform/player/render_context.h"

namespace quarvel::player {

// `parent`: the text's object space to device.
void DrawStaticText(RenderContext& c, const TextDef& t, const cairo_matrix_t& parent, const ColorTransform& cx);

// `shown`: the field's text (HTML when the field is).
void DrawEditText(RenderContext& c, const EditTextDef& e, const std::string& shown, const cairo_matrix_t& m,
                  const ColorTransform& cx);

// The text a field shows: HTML tags and entities resolved, line ends as '\n'.
std::string PlainText(const EditTextDef& e, const std::string& s);

}  // namespace quarvel::player
