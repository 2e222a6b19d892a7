#include "player/display/video_display.h"

#include <cstring>

#include "player/video/embedded_video.h"
#include "player/video/video_error.h"

namespace quarvel::player {

std::shared_ptr<const BitmapDef> PictureBitmap(const video::Picture& picture) {
  if (picture.Empty() || picture.pixels.size() < static_cast<std::size_t>(picture.Stride()) * picture.height) {
    return nullptr;
  }
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture.width, picture.height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  auto* out = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int y = 0; y < picture.height; ++y) {
    std::memcpy(out + static_cast<std::size_t>(y) * stride,
                picture.pixels.data() + static_cast<std::size_t>(y) * picture.Stride(),
                static_cast<std::size_t>(picture.Stride()));
  }
  cairo_surface_mark_dirty(surface.get());
  auto b = std::make_shared<BitmapDef>();
  b->width = picture.width;
  b->height = picture.height;
  b->surface = std::move(surface);
  return b;
}

VideoDisplay::VideoDisplay(const VideoDef& def) : def_(def) {}
VideoDisplay::~VideoDisplay() = default;

void VideoDisplay::Attach(std::shared_ptr<const VideoSource> source) {
  source_ = std::move(source);
  if (!source_) shown_.reset();
}

void VideoDisplay::Clear() {
  shown_.reset();
  // The stream's present picture counts as shown: only a newer one comes back.
  if (source_) lastSourced_ = source_->Picture();
}

void VideoDisplay::Update(std::uint16_t ratio, std::vector<std::string>& problems) {
  if (source_) {
    auto latest = source_->Picture();
    if (latest && latest != lastSourced_) shown_ = latest;
    lastSourced_ = std::move(latest);
    return;
  }
  const auto& stream = def_.stream;
  if (stream.frames.empty() || unavailable_) return;
  if (!embedded_) {
    try {
      embedded_ = std::make_unique<video::EmbeddedVideo>(stream);
    } catch (const video::VideoError& e) {
      unavailable_ = true;
      problems.push_back("video stream " + std::to_string(stream.id) + ": " + e.what());
      return;
    }
  }
  const auto result = embedded_->Seek(ratio);
  if (result.status == video::DecodeStatus::kDamaged) problems.push_back("damaged video frame: " + result.message);
  const auto at = embedded_->Position();
  if (!at || !embedded_->HasPicture()) return;
  if (shownFrame_ == at) return;  // also keeps a clear() until the ratio moves
  shown_ = PictureBitmap(embedded_->Current());
  shownFrame_ = at;
}

}  // namespace quarvel::player
