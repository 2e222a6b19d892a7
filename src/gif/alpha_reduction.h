#pragma once
// Frames captured on a transparent background: a pixel whose alpha is below
// one half becomes the frame's transparent entry, the others are reduced
// from their colour alone (the store keeps colours un-premultiplied, so they
// are as if drawn on no background).

#include <cstdint>
#include <memory>
#include <vector>

#include "gif/color_reduction.h"
#include "gif/gif_image.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

inline constexpr int kOpaqueFromAlpha = 128;

// One byte per pixel, rows from the top: 1 where the pixel is transparent.
// Pictures without an alpha channel have none.
std::vector<std::uint8_t> TransparentMask(const gdi::Bitmap& picture);

// Gives the transparent pixels one entry of their own: `hint` when the
// reduction already made one (opaque pixels on it move to the nearest other
// entry), else a new entry, else one no opaque pixel uses, else the least
// used entry merged into its nearest colour. Returns the entry.
int ReserveTransparentEntry(std::vector<std::uint8_t>& indices, const std::vector<std::uint8_t>& mask,
                            std::vector<gdi::Color>& palette, int hint = -1);

struct AlphaFrame {
  std::unique_ptr<TGIFImage> image;  // one frame: the palette and the indices
  int transparent = -1;
};

// The octree (255 colours of the opaque pixels) or grey scale reduction of a
// 32-bit picture with straight alpha, nearest or dithered.
AlphaFrame ReduceWithAlpha(const gdi::Bitmap& picture, TColorReduction method, TDitherMethod dither);

}  // namespace quarvel::gif
