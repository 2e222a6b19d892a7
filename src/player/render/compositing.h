#pragma once
// Compositing: what an object shows through or how it combines with what is
// below it. Masks (clip depths and script masks), blend modes, and filters,
// each drawing into an off-screen layer kept to the device box it can touch.

#include <cairo.h>

#include <vector>

#include "player/render/render_context.h"

namespace quarvel::player {

// Device-space box of what an item can draw, its children included.
Box DeviceBox(const RenderContext& c, const DrawnItem& item, const cairo_matrix_t& parent, int nesting);


// Clips the context to a device box; false when nothing can show.
bool ClipToBox(cairo_t* cr, const Box& b);

// Draws the item's body (`m`: its own space to device, under `parent`) with
// its filters and blend mode.
void DrawBlended(RenderContext& c, const DrawnItem& item, const cairo_matrix_t& parent, const cairo_matrix_t& m,
                 const ColorTransform& cx);

// setMask: draws the item only where its mask covers. False when the mask is
// not on the stage: the item draws as if unmasked.
bool DrawScriptMasked(RenderContext& c, const DrawnItem& item, const cairo_matrix_t& parent,
                      const ColorTransform& parentCx);

// A clip-depth mask, and the masks that in turn cover its own depth.
struct ClipMask {
  const DrawnItem* item = nullptr;
  std::vector<const ClipMask*> under;
};

// Draws `items` (siblings, under `m`) where masks[k..] all cover.
void DrawUnderMasks(RenderContext& c, const std::vector<const DrawnItem*>& items,
                    const std::vector<const ClipMask*>& masks, std::size_t k, const cairo_matrix_t& m,
                    const ColorTransform& cx);

}  // namespace quarvel::player
