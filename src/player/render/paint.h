#pragma once
// Paint: solid colours, gradients and bitmaps (tinted by colour transforms)
// filling and stroking the paths of a shape layer.

#include <cairo.h>

#include <cmath>
#include <memory>
#include <vector>

#include "player/library/characters.h"
#include "player/render/render_context.h"

namespace quarvel::player {

ColorTransform Compose(const ColorTransform& parent, const ColorTransform& child);

// cairo_matrix_transform_point's arithmetic, inline: a path built in device
// space this way lands on the very same fixed-point coordinates.
inline void ToDevice(const cairo_matrix_t& m, double& x, double& y) {
  const double nx = m.xx * x + m.xy * y;
  const double ny = m.yx * x + m.yy * y;
  x = nx + m.x0;
  y = ny + m.y0;
}

// A matrix that flattens what it maps (a zero scale) shows nothing; Cairo
// would take it as an error and stop drawing altogether.
inline bool Invertible(const cairo_matrix_t& m) {
  const double det = m.xx * m.yy - m.yx * m.xy;
  return std::isfinite(det) && det != 0;
}

// The colour as the source, under the transform (black when drawing a mask).
void SetColor(RenderContext& c, Rgba col, const ColorTransform& cx);

// A picture (a video's) stretched over the rectangle 0,0 .. width,height
// (twips) under `m`, like a bitmap fill.
void DrawPicture(RenderContext& c, const BitmapDef& picture, const cairo_matrix_t& m, const ColorTransform& cx,
                 double width, double height, bool smooth);

// Where the fills of one layer of a definition's shape, as laid together
// under one transform and colour transform, may be kept and taken again
// (shape_cache.h). The box is in device pixels; the picture covers it.
class KeptFills {
 public:
  virtual ~KeptFills() = default;
  virtual cairo_surface_t* Find(int x0, int y0, int x1, int y1) = 0;
  virtual void Keep(SurfacePtr picture, int x0, int y0, int x1, int y1) = 0;
};

// Fills and strokes one layer under `m` (shape twips to device).
// `textColor`: glyph outlines are filled with the text's colour instead.
// `kept`: where fills laid together may be kept (none: always drawn).
void DrawLayer(RenderContext& c, const ShapeLayer& layer, const cairo_matrix_t& m, const ColorTransform& cx,
               const Rgba* textColor = nullptr, KeptFills* kept = nullptr);

}  // namespace quarvel::player
