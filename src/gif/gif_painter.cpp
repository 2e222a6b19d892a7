#include "gif/gif_painter.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quarvel::gif {

PainterCanvas::PainterCanvas(int width, int height, gdi::Color fill)
    : picture_(width, height, gdi::PixelFormat::pfDevice) {
  picture_.Fill(fill);
}

gdi::Bitmap PainterCanvas::Snapshot() const {
  const std::lock_guard<std::mutex> guard(lock_);
  return picture_;
}

namespace {

class WallTimer final : public PainterTimer {
 public:
  std::int64_t NowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - origin_).count();
  }
  bool Wait(std::int64_t ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ms < 0) {
      cv_.wait(lock, [this] { return set_; });
    } else {
      cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; });
    }
    return set_;
  }
  void Signal() override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      set_ = true;
    }
    cv_.notify_all();
  }
  void Reset() override {
    const std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
  }

 private:
  std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

// MulDiv: a * b / c rounded to the nearest, halves away from zero.
std::int64_t MulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {
  const double exact = static_cast<double>(a) * static_cast<double>(b) / static_cast<double>(c);
  return static_cast<std::int64_t>(std::llround(exact));
}

}  // namespace

std::unique_ptr<PainterTimer> MakeWallTimer() { return std::make_unique<WallTimer>(); }

std::int64_t FrameWaitMs(int units, std::int64_t overrun_ms, int speed) {
  if (speed == 0) return 0;
  const std::int64_t planned = static_cast<std::int64_t>(units) * kDelayUnitMs - overrun_ms / 2;
  return MulDiv(planned, 100, speed);
}

int FrameDelayAfter(const TGIFSubImage& frame, bool asynchronous) {
  const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  if (gce == nullptr || gce->Delay() <= 0) return kDefaultFrameDelay;
  int delay = std::max(gce->Delay(), kMinFrameDelay);
  if (!asynchronous) delay = std::min(delay, kMaxFrameDelay);
  return delay;
}

TGIFPainter::TGIFPainter(const TGIFImage& image, std::shared_ptr<PainterCanvas> canvas, std::uint16_t flags,
                         PainterCallbacks callbacks, std::unique_ptr<PainterTimer> timer)
    : image_(image),
      canvas_(std::move(canvas)),
      flags_(flags),
      callbacks_(std::move(callbacks)),
      timer_(timer ? std::move(timer) : MakeWallTimer()),
      speed_(image.AnimationSpeed) {
  if (image_.Images().Count() <= 1) flags_ = static_cast<std::uint16_t>(flags_ & ~(goAsync | goAnimate));

  if (image_.HasDrawBackgroundColor) {
    background_color_ = image_.DrawBackgroundColor;
  } else if (image_.Header().ColorMap().Count() == 0) {
    background_color_ = gdi::Color{255, 255, 255};  // the system's window colour
  } else {
    const int index = image_.Header().BackgroundColorIndex();
    const auto& map = image_.Header().ColorMap();
    background_color_ = index < map.Count() ? map[index] : gdi::Color{};
  }

  bool restores_background = (flags_ & goClearOnLoop) != 0;
  bool restores_previous = false;
  for (const auto& frame : image_.Images()) {
    if (const TGIFGraphicControlExtension* gce = frame->GraphicControlExtension()) {
      restores_background = restores_background || gce->Disposal() == 2;
      restores_previous = restores_previous || gce->Disposal() == 3;
    }
  }
  const std::lock_guard<std::mutex> guard(canvas_->Lock());
  const gdi::Bitmap& target = canvas_->Picture();
  if (restores_background && (flags_ & goTransparent)) {
    background_ = target;
    has_background_ = true;
  }
  if (restores_background || restores_previous) {
    backup_ = target;
    frame_buffer_ = gdi::Bitmap(target.Width(), target.Height(), gdi::PixelFormat::pfDevice);
    frame_buffer_.Fill(background_color_);
    has_buffers_ = true;
  }
}

TGIFPainter::~TGIFPainter() { Stop(); }

void TGIFPainter::Start() {
  if (image_.Empty() || canvas_ == nullptr || running_.load()) return;
  {
    const std::lock_guard<std::mutex> guard(canvas_->Lock());
    if (canvas_->Picture().Empty()) return;
  }
  terminated_.store(false);
  timer_->Reset();
  running_.store(true);
  if (flags_ & goAsync) {
    thread_ = std::thread([this] { Execute(); });
  } else {
    Execute();
  }
}

void TGIFPainter::Stop() {
  terminated_.store(true);
  timer_->Signal();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TGIFPainter::RethrowError() {
  if (error_) {
    std::exception_ptr error = error_;
    error_ = nullptr;
    std::rethrow_exception(error);
  }
}

void TGIFPainter::Fire(const PainterEvent& event) {
  if (event) event(*this);
}

void TGIFPainter::Execute() {
  try {
    Play();
  } catch (...) {
    error_ = std::current_exception();
    active_.store(-1);
  }
  running_.store(false);
}

bool TGIFPainter::WaitBeforeFrame(int units) {
  // True when the wait ended because the painter was stopped or woken.
  if (units <= 0) return false;
  const bool asynchronous = (flags_ & goAsync) != 0;
  const std::int64_t now = timer_->NowMs();
  const std::int64_t overrun = std::max<std::int64_t>(0, now - planned_wake_);
  std::int64_t ms = FrameWaitMs(units, overrun, speed_);
  bool woken = false;
  if (asynchronous) {
    if (speed_ == 0) {
      woken = timer_->Wait(-1);  // paused until stopped
    } else if (speed_ > 0 && ms > 0) {
      woken = timer_->Wait(ms);
    }
  } else {
    if (speed_ <= 0) ms = kSyncPauseMs;
    ms = std::max<std::int64_t>(ms, 1);
    const std::int64_t end = now + ms;
    for (std::int64_t left = ms; left > 0 && !woken; left = end - timer_->NowMs()) {
      woken = timer_->Wait(std::min<std::int64_t>(left, kSyncSliceMs));
    }
  }
  // The next frame's overrun counts from the moment this one should have woken.
  planned_wake_ = woken ? timer_->NowMs() : now + std::max<std::int64_t>(ms, 0);
  return woken;
}

void TGIFPainter::Play() {
  const bool asynchronous = (flags_ & goAsync) != 0;
  const int count = image_.Images().Count();
  for (;;) {
    restart_.store(false);
    Fire(callbacks_.on_start);
    int loop_counter = 1;
    bool loop_seen = false;
    int first = 0;
    int delay = asynchronous ? 0 : 1;
    previous_disposal_ = 1;
    planned_wake_ = timer_->NowMs();
    bool more = true;
    for (int pass = 0; more; ++pass) {
      if (pass > 0) Fire(callbacks_.on_loop);
      ++passes_;
      active_.store(first);
      while (!terminated_.load() && !restart_.load()) {
        const int i = active_.load();
        if (i < 0 || i >= count) break;
        if (i > 0 && !(flags_ & goAnimate)) break;
        const TGIFSubImage& frame = image_.Images()[i];
        if (frame.Empty()) break;
        if (WaitBeforeFrame(delay)) {
          if (terminated_.load()) break;
          timer_->Reset();
        }
        Fire(callbacks_.on_paint);
        int disposal = 1;
        for (const auto& extension : frame.Extensions()) {
          if (const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(extension.get())) {
            if (!loop_seen) {
              loop_seen = true;
              const bool forever = asynchronous && (loop->Loops() == 0 || (flags_ & goLoopContinously));
              loop_counter = forever ? -1 : loop->Loops();
              first = i;
            }
          } else if (const auto* gce = dynamic_cast<const TGIFGraphicControlExtension*>(extension.get())) {
            disposal = gce->Disposal();
          }
        }
        if ((flags_ & goClearOnLoop) && i == first) {
          const std::lock_guard<std::mutex> guard(canvas_->Lock());
          RestoreArea(canvas_->Picture(), frame);
          if (has_buffers_) RestoreArea(backup_, frame);
        }
        DrawFrame(frame, i, disposal);
        previous_disposal_ = disposal;
        delay = FrameDelayAfter(frame, asynchronous);
        Fire(callbacks_.on_after_paint);
        // Callbacks may have chosen the next frame themselves.
        if (active_.load() == i) active_.store(i + 1);
      }
      if (terminated_.load() || restart_.load()) break;
      if (loop_counter > 0) --loop_counter;
      more = (flags_ & goAnimate) && (flags_ & goLoop) && (loop_counter != 0 || (flags_ & goLoopContinously));
    }
    if (!restart_.load() || terminated_.load()) break;
  }
  active_.store(-1);
  Fire(callbacks_.on_end);
}

void TGIFPainter::Blit(gdi::Bitmap& target, const TGIFSubImage& frame) {
  const TGIFColorMap& map = frame.ActiveColorMap();
  const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  const bool skip_transparent = gce != nullptr && gce->Transparent() && (flags_ & goTransparent);
  const int transparent = gce != nullptr ? gce->TransparentColorIndex() : -1;
  const int x0 = frame.Left(), y0 = frame.Top();
  const int x1 = std::min(x0 + frame.Width(), target.Width());
  const int y1 = std::min(y0 + frame.Height(), target.Height());
  if (target.Format() != gdi::PixelFormat::pfDevice) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        const int index = frame.Pixel(x - x0, y - y0);
        if (skip_transparent && index == transparent) continue;
        target.SetPixel(x, y, index < map.Count() ? map[index] : gdi::Color{});
      }
    return;
  }
  for (int y = y0; y < y1; ++y) {
    std::uint8_t* row = target.ScanLine(y);
    for (int x = x0; x < x1; ++x) {
      const int index = frame.Pixel(x - x0, y - y0);
      if (skip_transparent && index == transparent) continue;
      const gdi::Color c = index < map.Count() ? map[index] : gdi::Color{};
      row[4 * x + 0] = c.b;
      row[4 * x + 1] = c.g;
      row[4 * x + 2] = c.r;
      row[4 * x + 3] = 0;
    }
  }
}

void TGIFPainter::RestoreArea(gdi::Bitmap& target, const TGIFSubImage& frame) {
  if (has_background_) {
    gdi::BitBlt(target, frame.Left(), frame.Top(), frame.Width(), frame.Height(), background_, frame.Left(),
                frame.Top());
  } else {
    gdi::FillRect(target, gdi::Rect{frame.Left(), frame.Top(), frame.Left() + frame.Width(), frame.Top() + frame.Height()},
                  background_color_);
  }
}

void TGIFPainter::DrawFrame(const TGIFSubImage& frame, int index, int disposal) {
  (void)index;
  {
    const std::lock_guard<std::mutex> guard(canvas_->Lock());
    gdi::Bitmap& target = canvas_->Picture();
    if (!has_buffers_) {
      Blit(target, frame);
    } else if (disposal == 3) {
      if (previous_disposal_ == 2 || previous_disposal_ == 3) {
        frame_buffer_ = backup_;
        Blit(frame_buffer_, frame);
        gdi::BitBlt(target, 0, 0, target.Width(), target.Height(), frame_buffer_, 0, 0);
      } else {
        // The backup keeps the picture from before this frame.
        Blit(target, frame);
      }
    } else {
      Blit(backup_, frame);
      gdi::BitBlt(target, 0, 0, target.Width(), target.Height(), backup_, 0, 0);
      if (disposal == 2) RestoreArea(backup_, frame);
    }
  }
  started_.store(true);
  Fire(callbacks_.on_changed);
}

}  // namespace quarvel::gif
