#pragma once
// Draws a display list with Cairo.

#include <cairo.h>

#include <map>
#include <vector>

#include "platform/player/flash_player.h"
#include "platform/player/movie_library.h"
#include "platform/player/stage.h"

namespace quarvel::player {

struct RenderOptions {
  Quality quality = Quality::qHigh;
  double stageScale = 1.0 / 20;  // device pixels per twip of the stage
};

// Draws the list with `base` mapping the movie's twips to device pixels.
void RenderDisplayList(cairo_t* cr, const MovieLibrary& lib, const std::map<int, Instance>& list,
                       const cairo_matrix_t& base, const RenderOptions& options);

// Draws one shape geometry (for tests and glyphs) under a transform.
void RenderGeometry(cairo_t* cr, const MovieLibrary& lib, const ShapeGeometry& g, const cairo_matrix_t& m,
                    const ColorTransform& cx, const RenderOptions& options);

// One drawn instance, flattened from the display tree in drawing order:
// equal lists paint equal pictures, so an unchanged frame need not be drawn
// again. Holds everything of an Instance the renderer reads.
struct DrawnItem {
  int level = 0;  // sprite nesting, keeps the tree's shape
  int depth = 0;
  const Character* def = nullptr;
  Matrix matrix;
  ColorTransform cxform;
  std::uint16_t ratio = 0;
  int clipDepth = 0;
  int blendMode = 0;
  bool visible = true;
  bool operator==(const DrawnItem&) const = default;
};

// Appends the items of `list` and of every timeline below it to `out`.
void ListDrawnItems(const std::map<int, Instance>& list, std::vector<DrawnItem>& out);

cairo_matrix_t ToCairo(const Matrix& m);
ColorTransform Compose(const ColorTransform& parent, const ColorTransform& child);

}  // namespace quarvel::player
