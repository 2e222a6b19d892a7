#pragma once
// Shows a built GIF in the preview image, playing. A painter thread follows
// the image's timeline (delays, loops, disposal) and draws each frame into
// its canvas; every new picture is handed over to the window's thread.

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "gif/gif_image.h"
#include "gif/painter_timeline.h"
#include "platform/gdi/bitmap.h"

class QLabel;

namespace quarvel::app {

class GifPreview : public QObject {
  Q_OBJECT
 public:
  explicit GifPreview(QLabel* target, QObject* parent = nullptr);
  ~GifPreview() override;

  // Shows the image at its logical screen size. One frame (or an image
  // without the animate bit) is drawn at once; more are played by the
  // painter thread. An empty image shows an empty picture.
  void Show(std::unique_ptr<gif::TGIFImage> image);
  // Stops the painter, also in the middle of a delay, and lets the image go.
  void Clear();

  bool HasImage() const { return image_ != nullptr; }
  // The image shown; only while HasImage().
  const gif::TGIFImage& Image() const { return *image_; }
  bool Playing() const { return playing_.load(); }
  // Frames drawn so far, and pictures handed over to the window.
  int FramesDrawn() const { return drawn_.load(); }
  int Refreshes() const { return refreshes_; }

 private:
  void Play();
  void Refresh();

  QLabel* target_;
  std::unique_ptr<gif::TGIFImage> image_;
  std::unique_ptr<gif::PainterTimeline> timeline_;
  std::unique_ptr<gif::PainterCanvas> canvas_;
  std::mutex picture_lock_;
  gdi::Bitmap shown_;  // the latest picture, under picture_lock_
  std::mutex stop_lock_;
  std::condition_variable stop_event_;
  bool stop_ = false;
  std::thread painter_;
  std::atomic<bool> playing_{false};
  std::atomic<int> drawn_{0};
  int refreshes_ = 0;
};

}  // namespace quarvel::app
