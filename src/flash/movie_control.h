#pragma once
// The player control as the rest of the program drives it: the window's
// playback buttons, seek bar and status line, the player widget, and the
// capture loop all talk to the player only through this. One implementation
// runs our SWF player (FlashMovieControl); tests use a scripted one.

#include <cstdint>
#include <string>

#include "platform/gdi/bitmap.h"

namespace quarvel::flash {

class MovieControl {
 public:
  virtual ~MovieControl() = default;

  virtual int ReadyState() const = 0;  // 4: movie completely loaded
  bool Loaded() const { return ReadyState() == 4; }
  virtual int TotalFrames() const = 0;
  virtual int CurrentFrame() const = 0;  // 0-based
  virtual bool Playing() const = 0;
  virtual void Play() = 0;
  virtual void Stop() = 0;
  virtual void GotoFrame(int frame) = 0;
  virtual void SetBackgroundColor(std::int32_t rrggbb) = 0;
  // No background at all: Paint gives 32-bit pixels with alpha. Controls
  // that always draw a background leave it at that.
  virtual void SetTransparent(bool transparent) { (void)transparent; }
  // Loading a path replaces the current movie and starts it; an empty path,
  // a folder or a file that is not a movie leaves none loaded.
  virtual void SetMovie(const std::string& path) = 0;
  // Drops the current movie (and ends its sounds).
  virtual void Unload() = 0;
  // Why the last load left no movie; empty after a good one.
  virtual std::string LoadError() const = 0;
  virtual bool Menu() const = 0;

  virtual void SetSize(int width, int height) = 0;
  // Runs the movie (and its sound) up to the host clock's time in
  // milliseconds.
  virtual void AdvanceTo(std::int64_t ms) = 0;
  // Draws the current picture at the control's size into `target`, replacing
  // every pixel (target may hold an older picture).
  virtual void Paint(gdi::Bitmap& target) const = 0;

  // Pointer messages that reach the control itself, in its pixels: the
  // movie's buttons react to them.
  virtual void MouseMove(int x, int y) { (void)x, (void)y; }
  virtual void MouseDown(int x, int y) { (void)x, (void)y; }
  virtual void MouseUp(int x, int y) { (void)x, (void)y; }
  virtual void MouseLeave() {}
  // A key went down or up while the control had the focus: Flash's key code
  // and the character it types (0 for none).
  virtual void KeyDown(int keyCode, int charCode) { (void)keyCode, (void)charCode; }
  virtual void KeyUp(int keyCode, int charCode) { (void)keyCode, (void)charCode; }
  // The pointer is over one of the movie's buttons.
  virtual bool OverButton() const { return false; }
  // The drawing quality the control's own menu offers: "Low", "Medium", "High".
  virtual std::string QualityName() const { return "High"; }
  virtual void SetQuality(const std::string& name) { (void)name; }
};

}  // namespace quarvel::flash
