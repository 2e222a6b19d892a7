#pragma once
// Objects in three dimensions: Flash draws such an object's plane flat into
// a bitmap and shows that bitmap through its perspective. Cairo has no
// projective transform, so the plane is drawn into an image at the density
// the projection needs and mapped pixel by pixel through the inverse
// projection, sampled bilinearly; what lies behind the eye is cut off.

#include <cairo.h>

#include "player/render/render_context.h"
#include "player/rules/matrix3d.h"

namespace quarvel::player {

// Depth (W) below which a point counts as behind the eye.
inline constexpr double kNearDepth = 1e-3;

// The device box of the rectangle (x0, y0)-(x1, y1) seen through `h`,
// without the part behind the eye; empty when all of it is behind.
Box ProjectedBox(const rules::H3& h, double x0, double y0, double x1, double y1);

// Paints `src` (premultiplied ARGB32) seen through `deviceFromSrc` (its
// pixel space to the context's device space) with operator `op`, within the
// context's clip. `smooth`: bilinear, else nearest pixels.
void DrawWarped(cairo_t* cr, cairo_surface_t* src, const rules::H3& deviceFromSrc, cairo_operator_t op, bool smooth);

// The device box of an item with a projection, with the objects in three
// dimensions it holds (see DrawnItem::nested3D).
Box ProjectedDeviceBox(const RenderContext& c, const DrawnItem& item, const cairo_matrix_t& parent, int nesting);

// Draws an item with a projection (`parent`: its parent's space, or for a
// nested one the space its projection ends in, to the device), then, for
// the outermost, the objects in three dimensions inside it.
void DrawProjected(RenderContext& c, const DrawnItem& item, const cairo_matrix_t& parent, const ColorTransform& parentCx);

}  // namespace quarvel::player
