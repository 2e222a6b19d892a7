#pragma once
// Shows a built GIF in the preview image, playing. A painter follows the
// image's timeline (delays, loops, disposal) and draws each frame into its
// canvas. With the image's asynchronous draw flag the painter is a thread
// that hands every picture and callback over to the window's thread and
// waits for it; without it the whole animation plays inside Show.
//
// The draw flags honoured besides those of the timeline: transparent (the
// target's picture shows through transparent pixels), check canvas (the
// painter ends once its target is gone), direct (no waiting in Show for the
// first frame), tile (the frames repeat over the shown area) and dither
// (pictures reduced to the 216-colour cube; with auto dither only on
// screens of 256 colours or fewer).

#include <QObject>
#include <QPointer>
#include <QSize>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "gif/gif_image.h"
#include "gif/painter_timeline.h"
#include "platform/gdi/bitmap.h"

class QLabel;

namespace quarvel::app {

// Called on the window's thread.
struct PainterCallbacks {
  std::function<void()> start;                   // before the first frame
  std::function<void(int frame)> paint;          // before a frame is drawn
  std::function<void(int frame)> after_paint;    // once it is shown
  std::function<void(int pass)> loop;            // at the start of every pass but the first
  std::function<void()> end;                     // when the animation has ended or was stopped
};

class GifPreview : public QObject {
  Q_OBJECT
 public:
  explicit GifPreview(QLabel* target, QObject* parent = nullptr);
  ~GifPreview() override;

  // Before Show: a running painter reads them.
  void SetCallbacks(PainterCallbacks callbacks) { callbacks_ = std::move(callbacks); }

  // Shows the image on the target, sized to the image, or to `area` when the
  // tile flag repeats the frames over it. One frame (or an image without the
  // animate bit) is drawn at once; more are played by the painter. An empty
  // image shows an empty picture.
  void Show(std::unique_ptr<gif::TGIFImage> image, QSize area = {});
  // Stops the painter, also in the middle of a delay or a pause, and lets
  // the image go.
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
  void PlaySynchronously();
  // Draws a step and hands the picture over.
  void DrawStep(const gif::PainterTimeline::Step& step);
  // Runs `task` on the window's thread; from the painter thread it waits
  // until the window has run it.
  void OnWindow(std::function<void()> task);
  void RunHandOvers();
  void Refresh();

  QPointer<QLabel> target_;
  PainterCallbacks callbacks_;
  std::unique_ptr<gif::TGIFImage> image_;
  std::unique_ptr<gif::PainterTimeline> timeline_;
  std::unique_ptr<gif::PainterCanvas> canvas_;
  std::uint16_t flags_ = 0;
  bool dither_ = false;
  QSize area_;
  std::mutex picture_lock_;
  gdi::Bitmap shown_;  // the latest picture, under picture_lock_
  std::mutex lock_;    // guards stop_ and the hand-overs
  std::condition_variable wake_;
  bool stop_ = false;
  std::deque<std::function<void()>> hand_overs_;
  long long handed_ = 0, done_ = 0;  // hand-overs queued and run
  std::thread painter_;
  std::atomic<std::thread::id> painter_id_{};
  std::atomic<bool> target_gone_{false};
  bool painting_here_ = false;  // a synchronous animation runs
  std::atomic<bool> playing_{false};
  std::atomic<int> drawn_{0};
  int refreshes_ = 0;
};

}  // namespace quarvel::app
