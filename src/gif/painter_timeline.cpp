#include "gif/painter_timeline.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace quarvel::gif {

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  long long p = (long long)a * b;
  long long q = (std::llabs(p) + std::llabs((long long)c) / 2) / std::llabs((long long)c);
  return int(((p < 0) != (c < 0)) ? -q : q);
}

PainterTimeline::PainterTimeline(const TGIFImage& image, std::uint16_t draw_flags, int speed, bool asynchronous)
    : image_(image), flags_(draw_flags), speed_(speed), async_(asynchronous) {
  if (image.Images().Count() <= 1) flags_ &= std::uint16_t(~(goAsync | goAnimate));
}

std::optional<PainterTimeline::Step> PainterTimeline::Next(int overrun_ms) {
  if (ended_) return std::nullopt;
  if (!started_) {
    started_ = true;
    next_frame_ = 0;
    // Nothing waits before the first frame of an asynchronous painter.
    next_delay_ = async_ ? 0 : 1;
  }
  for (;;) {
    const bool valid = next_frame_ < image_.Images().Count() && !image_.Images()[next_frame_].Empty() &&
                       (frames_in_pass_ == 0 || (flags_ & goAnimate));
    if (valid) break;
    // End of a pass: a positive counter counts down; another pass needs
    // both the animate and loop bits.
    if (!unlimited_ && loops_ > 0) --loops_;
    const bool again = (flags_ & goAnimate) && (flags_ & goLoop) &&
                       (unlimited_ || loops_ != 0 || (flags_ & goLoopContinously));
    if (!again || frames_in_pass_ == 0) {
      ended_ = true;
      return std::nullopt;
    }
    ++pass_;
    next_frame_ = first_frame_;
    frames_in_pass_ = 0;
  }

  Step step;
  step.frame = next_frame_;
  step.pass = pass_;
  if (next_delay_ > 0) {
    const int planned = next_delay_ * kMsPerDelayUnit - overrun_ms / 2;
    if (speed_ > 0) {
      step.wait_ms = std::max(0, MulDiv(planned, 100, speed_));
    } else if (!async_) {
      step.wait_ms = 1000 * kMsPerDelayUnit;  // a synchronous painter has no stop event to wait on
    } else {
      step.until_stopped = speed_ == 0;  // a negative speed never waits
    }
    if (!async_) step.wait_ms = std::max(step.wait_ms, 1);
  }
  const TGIFSubImage& frame = image_.Images()[next_frame_];
  step.disposal = 1;
  int delay = 0;
  for (const auto& ext : frame.Extensions()) {
    if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(ext.get()); loop != nullptr && !loop_seen_) {
      loop_seen_ = true;
      loops_ = loop->Loops();
      unlimited_ = async_ && (loop->Loops() == 0 || (flags_ & goLoopContinously));
      first_frame_ = next_frame_;
    } else if (auto* gce = dynamic_cast<const TGIFGraphicControlExtension*>(ext.get())) {
      step.disposal = gce->Disposal();
      delay = gce->Delay();
    }
  }
  if (delay > 0) {
    if (delay < kMinimumDelay) delay = kMinimumDelay;
    if (!async_ && delay > kMaximumDelay) delay = kMaximumDelay;
    next_delay_ = delay;
  } else {
    next_delay_ = kDefaultDelay;
  }
  ++next_frame_;
  ++frames_in_pass_;
  return step;
}

PainterCanvas::PainterCanvas(const TGIFImage& image, std::uint16_t draw_flags, const gdi::Bitmap* behind)
    : image_(image), flags_(draw_flags) {
  if (image.HasDrawBackgroundColor) {
    background_ = image.DrawBackgroundColor;
  } else if (image.Header().ColorMap().Count() == 0) {
    background_ = gdi::Color{255, 255, 255};  // the window colour
  } else {
    int index = image.Header().BackgroundColorIndex();
    const auto& map = image.Header().ColorMap();
    background_ = index < map.Count() ? map[index] : gdi::Color{};
  }
  for (const auto& frame : image.Images()) {
    const TGIFGraphicControlExtension* gce = frame->GraphicControlExtension();
    const int d = gce ? gce->Disposal() : 0;
    if (d == 2 || d == 3 || (flags_ & goClearOnLoop)) has_backup_ = true;
  }
  if (image.Width() > 0 && image.Height() > 0) {
    shown_ = gdi::Bitmap(image.Width(), image.Height(), gdi::PixelFormat::pfDevice);
    shown_.Fill(background_);
    if (behind != nullptr && behind->Width() == image.Width() && behind->Height() == image.Height()) {
      shown_ = behind->ConvertTo(gdi::PixelFormat::pfDevice);
      if (flags_ & goTransparent) behind_ = shown_;
    }
    backup_ = shown_;
  }
}

void PainterCanvas::DrawFrame(gdi::Bitmap& target, const TGIFSubImage& frame) const {
  if (frame.Empty() || target.Empty()) return;
  if (frame.Data().size() != std::size_t(frame.Width()) * std::size_t(frame.Height())) return;
  const TGIFColorMap& map = frame.ActiveColorMap();
  const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  const int transparent = gce && gce->Transparent() ? gce->TransparentColorIndex() : -1;
  for (int y = 0; y < frame.Height() && frame.Top() + y < target.Height(); ++y)
    for (int x = 0; x < frame.Width() && frame.Left() + x < target.Width(); ++x) {
      const int index = frame.Pixel(x, y);
      if (index == transparent) continue;
      target.SetPixel(frame.Left() + x, frame.Top() + y, index < map.Count() ? map[index] : gdi::Color{});
    }
}

void PainterCanvas::RestoreArea(gdi::Bitmap& target, const TGIFSubImage& frame) const {
  if (!behind_.Empty()) {
    for (int y = std::max(0, frame.Top()); y < std::min(target.Height(), frame.Top() + frame.Height()); ++y)
      for (int x = std::max(0, frame.Left()); x < std::min(target.Width(), frame.Left() + frame.Width()); ++x)
        target.SetPixel(x, y, behind_.GetPixel(x, y));
    return;
  }
  gdi::FillRect(target, gdi::Rect{frame.Left(), frame.Top(), frame.Left() + frame.Width(), frame.Top() + frame.Height()},
                background_);
}

void PainterCanvas::Draw(const PainterTimeline::Step& step) {
  const TGIFSubImage& frame = image_.Images()[step.frame];
  if (!has_backup_) {
    DrawFrame(shown_, frame);
    previous_disposal_ = step.disposal;
    return;
  }
  if ((flags_ & goClearOnLoop) && step.frame == 0) RestoreArea(backup_, frame);
  switch (step.disposal) {
    case 3:
      if (previous_disposal_ == 0 || previous_disposal_ == 1) {
        DrawFrame(shown_, frame);  // the backup keeps the earlier picture
      } else {
        gdi::Bitmap buffer = backup_;
        DrawFrame(buffer, frame);
        shown_ = std::move(buffer);
      }
      break;
    case 2:
      DrawFrame(backup_, frame);
      shown_ = backup_;
      RestoreArea(backup_, frame);
      break;
    default:
      DrawFrame(backup_, frame);
      shown_ = backup_;
  }
  previous_disposal_ = step.disposal;
}

namespace {

template <class Visit>
int Play(const TGIFImage& image, long long elapsed_ms, std::uint16_t flags, int speed, Visit&& visit) {
  if (image.Empty()) return -1;
  PainterTimeline timeline(image, flags, speed);
  long long clock = 0;
  int shown = -1;
  int idle_steps = 0;
  while (auto step = timeline.Next()) {
    if (step->until_stopped) break;  // paused for good
    clock += step->wait_ms;
    if (clock > elapsed_ms) break;
    visit(*step);
    shown = step->frame;
    // Without a positive speed time does not move; nor does it when every
    // wait rounds to 0, so stop once a whole pass went by without one.
    if (speed <= 0) break;
    idle_steps = step->wait_ms == 0 ? idle_steps + 1 : 0;
    if (idle_steps > image.Images().Count()) break;
  }
  return shown;
}

}  // namespace

int FrameAt(const TGIFImage& image, long long elapsed_ms, std::uint16_t draw_flags, int speed) {
  return Play(image, elapsed_ms, draw_flags, speed, [](const PainterTimeline::Step&) {});
}

gdi::Bitmap PictureAt(const TGIFImage& image, long long elapsed_ms, std::uint16_t draw_flags, int speed) {
  PainterCanvas canvas(image, draw_flags);
  Play(image, elapsed_ms, draw_flags, speed, [&](const PainterTimeline::Step& s) { canvas.Draw(s); });
  return canvas.Shown();
}

}  // namespace quarvel::gif
