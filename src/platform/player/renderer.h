#pragma once
// Draws a display list with Cairo.

#include <cairo.h>

#include "platform/player/flash_player.h"
#include "platform/player/movie_library.h"
#include "platform/player/stage.h"

namespace quarvel::player {

struct RenderOptions {
  Quality quality = Quality::qHigh;
  double stageScale = 1.0 / 20;  // device pixels per twip of the stage
};

// Draws the list with `base` mapping the movie's twips to device pixels.
// `drawing`: what the main timeline's drawing API drew, below the list.
void RenderDisplayList(cairo_t* cr, const MovieLibrary& lib, const std::map<int, Instance>& list,
                       const cairo_matrix_t& base, const RenderOptions& options, const Drawing* drawing = nullptr);

// Draws one shape geometry (for tests and glyphs) under a transform.
void RenderGeometry(cairo_t* cr, const MovieLibrary& lib, const ShapeGeometry& g, const cairo_matrix_t& m,
                    const ColorTransform& cx, const RenderOptions& options);

cairo_matrix_t ToCairo(const Matrix& m);
ColorTransform Compose(const ColorTransform& parent, const ColorTransform& child);

}  // namespace quarvel::player
