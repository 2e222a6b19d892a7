#pragma once
// Crop margins and zoom, shared by the preview, the thumbnails and the writers.

#include <optional>
#include <string>

#include "platform/gdi/bitmap.h"

namespace quarvel::capture {

struct CropZoom {
  int top = 0, left = 0, right = 0, bottom = 0;  // pixels cut off, 0 to 999
  int zoom = 100;                                // percent, 5 to 500
  friend bool operator==(const CropZoom&, const CropZoom&) = default;
};

// Replaces the picture by a nearest-pixel stretch of the given size, keeping
// its pixel format. Every target pixel takes exactly one source pixel.
void ResizePicture(gdi::Bitmap& picture, int width, int height);
// The same stretch as a new picture, leaving the source alone.
gdi::Bitmap ResizedPicture(const gdi::Bitmap& picture, int width, int height);

// The preview picture for a frame view: the crop, then the zoom. Empty when
// the margins leave nothing of the frame (the preview is then left as it was).
std::optional<gdi::Bitmap> ApplyCropZoom(const gdi::Bitmap& frame_view, const CropZoom& settings);

// The zoom label for a preview of the given size: "% (200x150)".
std::string ZoomLabelText(int preview_width, int preview_height);

// What the GIF and AVI writers do to every frame: crop when any margin is
// above 0, zoom when it is not 100. Throws gdi::BitmapError naming the sizes
// when the margins leave nothing or the zoom makes the frame vanish.
void CropAndZoomFrame(gdi::Bitmap& picture, const CropZoom& settings);

}  // namespace quarvel::capture
