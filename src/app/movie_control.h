#pragma once
// The operations of the player control that the window relies on. The
// window talks to the player only through this, so that the host widget and
// the commands work the same over the real player and over a scripted one.

#include <cstdint>
#include <string>

#include "platform/gdi/bitmap.h"

namespace quarvel::app {

class MovieControl {
 public:
  virtual ~MovieControl() = default;

  virtual int ReadyState() const = 0;  // 4: movie completely loaded
  virtual int TotalFrames() const = 0;
  virtual int CurrentFrame() const = 0;  // 0-based
  virtual bool Playing() const = 0;
  virtual void Play() = 0;
  virtual void Stop() = 0;
  virtual void GotoFrame(int frame) = 0;
  virtual void SetBackgroundColor(std::int32_t rrggbb) = 0;
  // Loading a path replaces the current movie; an empty path, a folder or a
  // file that is not a movie leaves none loaded.
  virtual void SetMovie(const std::string& path) = 0;
  // Why the last load left no movie; empty after a good one.
  virtual std::string LoadError() const = 0;
  virtual bool Menu() const = 0;

  virtual void SetSize(int width, int height) = 0;
  // Host clock in milliseconds.
  virtual void AdvanceTo(std::int64_t ms) = 0;
  // Draws the current picture at the control's size into `target`.
  virtual void Paint(gdi::Bitmap& target) const = 0;

  // Pointer messages that reach the control itself, in its pixels: the
  // movie's buttons react to them.
  virtual void MouseMove(int x, int y) { (void)x, (void)y; }
  virtual void MouseDown(int x, int y) { (void)x, (void)y; }
  virtual void MouseUp(int x, int y) { (void)x, (void)y; }
  virtual void MouseLeave() {}
  // The pointer is over one of the movie's buttons.
  virtual bool OverButton() const { return false; }
  // The drawing quality the control's own menu offers: "Low", "Medium", "High".
  virtual std::string QualityName() const { return "High"; }
  virtual void SetQuality(const std::string& name) { (void)name; }
};

}  // namespace quarvel::app
