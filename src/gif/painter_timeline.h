#pragma once
// The window-free part of the animation painter: which frame is drawn when,
// how often the animation loops, and what the picture holds after each frame
// with its disposal method. A window or a thread drives it with real time.

#include <cstdint>
#include <optional>
#include <vector>

#include "gif/gif_image.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

// Timing constants of the painter, in hundredths of a second ("units").
inline constexpr int kMsPerDelayUnit = 12;
inline constexpr int kDefaultDelay = 10;
inline constexpr int kMinimumDelay = 3;
inline constexpr int kMaximumDelay = 1000;  // only when not asynchronous

// The platform's MulDiv: a * b / c rounded to the nearest, halves away from zero.
int MulDiv(int a, int b, int c);

class PainterTimeline {
 public:
  struct Step {
    int frame = 0;     // index into the image's frames
    int wait_ms = 0;   // wait before drawing it
    int pass = 0;      // 0 for the first pass
    int disposal = 0;  // the frame's disposal method (1 without a control extension)
    // Speed 0 pauses an asynchronous painter here until it is stopped.
    bool until_stopped = false;
  };

  // A one-frame image, or one without the animate bit, plays its first frame once.
  PainterTimeline(const TGIFImage& image, std::uint16_t draw_flags, int speed, bool asynchronous = true);

  // The next frame to draw, or nothing when the animation has ended. The
  // overrun is how late the previous frame was drawn, in milliseconds.
  std::optional<Step> Next(int overrun_ms = 0);
  // Loops still to play after the current pass; -1 when unlimited.
  int LoopsLeft() const { return unlimited_ ? -1 : loops_; }

 private:
  const TGIFImage& image_;
  std::uint16_t flags_;
  int speed_;
  bool async_;
  int next_frame_ = 0;
  int first_frame_ = 0;  // first frame of later passes
  int pass_ = 0;
  int frames_in_pass_ = 0;
  int loops_ = 1;
  bool unlimited_ = false;
  bool loop_seen_ = false;
  int next_delay_ = 0;
  bool started_ = false;
  bool ended_ = false;
};

// What the target shows while the animation plays.
class PainterCanvas {
 public:
  // `behind`, of the image's size, is what the target showed before: the
  // animation starts over it, and with the transparent flag a restored area
  // shows it again.
  PainterCanvas(const TGIFImage& image, std::uint16_t draw_flags, const gdi::Bitmap* behind = nullptr);
  // Draws a step of the timeline.
  void Draw(const PainterTimeline::Step& step);
  const gdi::Bitmap& Shown() const { return shown_; }
  gdi::Color Background() const { return background_; }

 private:
  void DrawFrame(gdi::Bitmap& target, const TGIFSubImage& frame) const;
  void RestoreArea(gdi::Bitmap& target, const TGIFSubImage& frame) const;

  const TGIFImage& image_;
  std::uint16_t flags_;
  gdi::Color background_;
  bool has_backup_ = false;
  gdi::Bitmap shown_;
  gdi::Bitmap backup_;
  gdi::Bitmap behind_;  // the captured background, when transparent
  int previous_disposal_ = 1;
};

// The picture after playing for elapsed_ms from the start (positive speed).
gdi::Bitmap PictureAt(const TGIFImage& image, long long elapsed_ms, std::uint16_t draw_flags = kDefaultDrawFlags,
                      int speed = 100);
// The frame shown after elapsed_ms, -1 for an empty image.
int FrameAt(const TGIFImage& image, long long elapsed_ms, std::uint16_t draw_flags = kDefaultDrawFlags, int speed = 100);

}  // namespace quarvel::gif
