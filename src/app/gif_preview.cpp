#include "app/gif_preview.h"

#include <QLabel>
#include <QMetaObject>
#include <QPixmap>
#include <algorithm>
#include <chrono>

#include "app/qt_picture.h"

namespace quarvel::app {

GifPreview::GifPreview(QLabel* target, QObject* parent) : QObject(parent), target_(target) {}

GifPreview::~GifPreview() { Clear(); }

void GifPreview::Clear() {
  {
    const std::lock_guard<std::mutex> guard(stop_lock_);
    stop_ = true;
  }
  stop_event_.notify_all();
  if (painter_.joinable()) painter_.join();
  playing_.store(false);
  {
    // A hand-over still queued finds nothing and leaves the next picture alone.
    const std::lock_guard<std::mutex> guard(picture_lock_);
    shown_ = gdi::Bitmap();
  }
  timeline_.reset();
  canvas_.reset();
  image_.reset();
}

void GifPreview::Show(std::unique_ptr<gif::TGIFImage> image) {
  Clear();
  image_ = std::move(image);
  if (image_ == nullptr) return;
  target_->setPixmap(QPixmap());
  target_->setFixedSize(image_->Width(), image_->Height());
  drawn_.store(0);
  if (image_->Empty() || image_->Width() <= 0 || image_->Height() <= 0) return;
  const std::uint16_t flags = image_->DrawFlags;
  timeline_ = std::make_unique<gif::PainterTimeline>(*image_, flags, image_->AnimationSpeed, (flags & gif::goAsync) != 0);
  canvas_ = std::make_unique<gif::PainterCanvas>(*image_, flags);
  const bool animated = image_->Images().Count() > 1 && (flags & gif::goAnimate) && (flags & gif::goAsync);
  if (!animated) {
    // Drawn directly, without a painter.
    while (const auto step = timeline_->Next()) canvas_->Draw(*step);
    drawn_.store(1);
    shown_ = canvas_->Shown();
    Refresh();
    return;
  }
  {
    const std::lock_guard<std::mutex> guard(stop_lock_);
    stop_ = false;
  }
  playing_.store(true);
  painter_ = std::thread([this] { Play(); });
}

void GifPreview::Play() {
  using Clock = std::chrono::steady_clock;
  int overrun = 0;
  while (const auto step = timeline_->Next(overrun)) {
    const auto wait_start = Clock::now();
    {
      std::unique_lock<std::mutex> lock(stop_lock_);
      if (stop_event_.wait_for(lock, std::chrono::milliseconds(step->wait_ms), [this] { return stop_; })) break;
    }
    // How late this frame comes, for the next frame's wait.
    const auto late = Clock::now() - wait_start - std::chrono::milliseconds(step->wait_ms);
    overrun = static_cast<int>(std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(late).count()));
    canvas_->Draw(*step);
    {
      const std::lock_guard<std::mutex> guard(picture_lock_);
      shown_ = canvas_->Shown();
    }
    drawn_.fetch_add(1);
    QMetaObject::invokeMethod(this, [this] { Refresh(); }, Qt::QueuedConnection);
  }
  playing_.store(false);
}

void GifPreview::Refresh() {
  QImage picture;
  {
    const std::lock_guard<std::mutex> guard(picture_lock_);
    picture = ToQImage(shown_);
  }
  if (picture.isNull()) return;
  ++refreshes_;
  target_->setPixmap(DevicePixmap(picture, target_->devicePixelRatioF()));
}

}  // namespace quarvel::app
