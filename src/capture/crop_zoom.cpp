#include "capture/crop_zoom.h"

namespace quarvel::capture {

gdi::Bitmap ResizedPicture(const gdi::Bitmap& picture, int width, int height) {
  gdi::Bitmap resized(width, height, picture.Format());
  if (gdi::IsPalettized(picture.Format())) resized.SetPalette(picture.Palette());
  gdi::StretchBlt(resized, 0, 0, width, height, picture, 0, 0, picture.Width(), picture.Height());
  return resized;
}

void ResizePicture(gdi::Bitmap& picture, int width, int height) {
  picture = ResizedPicture(picture, width, height);
}

namespace {

gdi::Bitmap Crop(const gdi::Bitmap& picture, const CropZoom& s) {
  int w = picture.Width() - s.left - s.right;
  int h = picture.Height() - s.top - s.bottom;
  if (w <= 0 || h <= 0)
    throw gdi::BitmapError("crop margins (top " + std::to_string(s.top) + ", left " + std::to_string(s.left) +
                           ", right " + std::to_string(s.right) + ", bottom " + std::to_string(s.bottom) +
                           ") leave nothing of a " + std::to_string(picture.Width()) + " x " +
                           std::to_string(picture.Height()) + " frame");
  gdi::Bitmap out(w, h, picture.Format());
  if (gdi::IsPalettized(picture.Format())) out.SetPalette(picture.Palette());
  gdi::BitBlt(out, 0, 0, w, h, picture, s.left, s.top);
  return out;
}

void Zoom(gdi::Bitmap& picture, int zoom) {
  int w = picture.Width() * zoom / 100, h = picture.Height() * zoom / 100;
  if (w <= 0 || h <= 0)
    throw gdi::BitmapError("zoom " + std::to_string(zoom) + "% makes a " + std::to_string(picture.Width()) + " x " +
                           std::to_string(picture.Height()) + " frame vanish");
  ResizePicture(picture, w, h);
}

}  // namespace

std::optional<gdi::Bitmap> ApplyCropZoom(const gdi::Bitmap& frame_view, const CropZoom& s) {
  if (frame_view.Empty()) return std::nullopt;
  if (frame_view.Width() - s.left - s.right <= 0 || frame_view.Height() - s.top - s.bottom <= 0) return std::nullopt;
  gdi::Bitmap picture = (s.left < 1 && s.right < 1 && s.top < 1 && s.bottom < 1) ? frame_view : Crop(frame_view, s);
  if (s.zoom != 100) {
    int w = picture.Width() * s.zoom / 100, h = picture.Height() * s.zoom / 100;
    if (w <= 0 || h <= 0) return std::nullopt;
    ResizePicture(picture, w, h);
  }
  return picture;
}

std::string ZoomLabelText(int preview_width, int preview_height) {
  return "% (" + std::to_string(preview_width) + "x" + std::to_string(preview_height) + ")";
}

void CropAndZoomFrame(gdi::Bitmap& picture, const CropZoom& s) {
  if (picture.Empty()) return;
  if (s.left > 0 || s.right > 0 || s.top > 0 || s.bottom > 0) picture = Crop(picture, s);
  if (s.zoom != 100) Zoom(picture, s.zoom);
}

}  // namespace quarvel::capture
