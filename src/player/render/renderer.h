#pragma once
// Draws the list of drawn items with Cairo. The list (drawn_items.h) is the
// renderer's one input; the parts: fills (paint.h), shapes and their kept
// pictures (shape_cache.h), text (text_render.h), masks, blend modes and
// filters (compositing.h).

#include <cairo.h>

#include <span>

#include "player/render/drawn_items.h"
#include "player/library/movie_library.h"
#include "player/render/paint.h"
#include "player/render/render_context.h"
#include "player/render/filter_cache.h"
#include "player/render/shape_cache.h"

namespace quarvel::player {

// Draws the items, in the order and shape ListDrawnItems gives them, with
// `base` mapping the movie's twips to device pixels. A first item of level
// -1 is the main timeline: its drawing goes below the rest.
void RenderItems(cairo_t* cr, const MovieLibrary& lib, std::span<const DrawnItem> items, const cairo_matrix_t& base,
                 const RenderOptions& options);

// Draws one shape geometry (for tests and glyphs) under a transform.
void RenderGeometry(cairo_t* cr, const MovieLibrary& lib, const ShapeGeometry& g, const cairo_matrix_t& m,
                    const ColorTransform& cx, const RenderOptions& options);

}  // namespace quarvel::player
