#pragma once
// TGIFPainter: plays an animated TGIFImage on a canvas with the frame
// delays, disposal methods and loop count stored in the image. Window-free:
// the painter draws into a locked picture and tells its owner when the
// picture changed; the owner shows it on its own thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "gif/gif_image.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

// Timing constants, in hundredths of a second ("units") and milliseconds.
inline constexpr int kDelayUnitMs = 12;
inline constexpr int kDefaultFrameDelay = 10;  // no graphic control extension, or delay 0
inline constexpr int kMinFrameDelay = 3;
inline constexpr int kMaxFrameDelay = 1000;     // only for painters that are not asynchronous
inline constexpr int kSyncPauseMs = 1000 * kDelayUnitMs;
inline constexpr int kSyncSliceMs = 100;

// The surface a painter draws on, as large as the image's logical screen.
class PainterCanvas {
 public:
  PainterCanvas(int width, int height, gdi::Color fill);
  std::mutex& Lock() const { return lock_; }
  // Only under Lock().
  gdi::Bitmap& Picture() { return picture_; }
  // A copy taken under the lock.
  gdi::Bitmap Snapshot() const;

 private:
  mutable std::mutex lock_;
  gdi::Bitmap picture_;
};

// Time and the stop event; tests give a virtual one.
class PainterTimer {
 public:
  virtual ~PainterTimer() = default;
  virtual std::int64_t NowMs() = 0;
  // Waits up to `ms` (below 0: without limit) or until Signal(); true when
  // the event is set. The event stays set until Reset().
  virtual bool Wait(std::int64_t ms) = 0;
  virtual void Signal() = 0;
  virtual void Reset() = 0;
};
std::unique_ptr<PainterTimer> MakeWallTimer();

class TGIFPainter;
using PainterEvent = std::function<void(TGIFPainter&)>;

struct PainterCallbacks {
  PainterEvent on_start;       // at every restart, before the first frame
  PainterEvent on_paint;       // before a frame is drawn
  PainterEvent on_after_paint;  // after a frame is drawn
  PainterEvent on_loop;        // at the start of every pass but the first
  PainterEvent on_end;         // when the animation ends or is stopped
  PainterEvent on_changed;     // the canvas holds a new picture
};

// Wait before a frame of `units` hundredths when the previous frame overran
// its planned wait by `overrun_ms`: (units x 12 - overrun / 2) x 100 / speed,
// the last step rounded to the nearest as MulDiv does.
std::int64_t FrameWaitMs(int units, std::int64_t overrun_ms, int speed);
// The delay that follows a frame: its graphic control extension's delay
// raised to at least 3 (and lowered to at most 1000 unless asynchronous),
// or 10 without one or with 0.
int FrameDelayAfter(const TGIFSubImage& frame, bool asynchronous);

class TGIFPainter {
 public:
  // The image must outlive the painter and stay unchanged while it runs.
  // Asynchronous and animate are cleared for a one-frame image.
  TGIFPainter(const TGIFImage& image, std::shared_ptr<PainterCanvas> canvas, std::uint16_t flags,
              PainterCallbacks callbacks = {}, std::unique_ptr<PainterTimer> timer = nullptr);
  ~TGIFPainter();
  TGIFPainter(const TGIFPainter&) = delete;
  TGIFPainter& operator=(const TGIFPainter&) = delete;

  // Asynchronous: plays on its own thread and returns at once. Otherwise the
  // whole animation plays before Start returns.
  void Start();
  // Ends the animation at once, also in the middle of a delay, and waits
  // for the painter's thread. Safe to call twice.
  void Stop();

  bool Running() const { return running_.load(); }
  bool Started() const { return started_.load(); }
  int ActiveImage() const { return active_.load(); }
  // From a callback: the frame that comes next (before its index step).
  void SetActiveImage(int index) { active_.store(index); }
  void Restart() { restart_.store(true); }
  std::uint16_t Flags() const { return flags_; }
  int Passes() const { return passes_; }
  const std::shared_ptr<PainterCanvas>& Canvas() const { return canvas_; }
  // An error raised inside the painter's thread, raised again here.
  void RethrowError();

 private:
  void Execute();
  void Play();
  bool WaitBeforeFrame(int units);
  void DrawFrame(const TGIFSubImage& frame, int index, int disposal);
  void RestoreArea(gdi::Bitmap& target, const TGIFSubImage& frame);
  void Blit(gdi::Bitmap& target, const TGIFSubImage& frame);
  void Fire(const PainterEvent& event);

  const TGIFImage& image_;
  std::shared_ptr<PainterCanvas> canvas_;
  std::uint16_t flags_;
  PainterCallbacks callbacks_;
  std::unique_ptr<PainterTimer> timer_;
  int speed_;
  gdi::Color background_color_;
  bool has_background_ = false;
  gdi::Bitmap background_;  // captured target, for disposal 2 of transparent images
  gdi::Bitmap backup_;      // the accumulated picture, for disposal 2 and 3
  gdi::Bitmap frame_buffer_;
  bool has_buffers_ = false;
  int previous_disposal_ = 1;
  std::int64_t planned_wake_ = 0;
  int passes_ = 0;

  std::atomic<int> active_{-1};
  std::atomic<bool> started_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> restart_{false};
  std::thread thread_;
  std::exception_ptr error_;
};

}  // namespace quarvel::gif
