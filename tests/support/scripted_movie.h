#pragma once
// The one scripted player control for tests: loads any SWF file's header
// (or, `scripted`, a timeline given here, without any file), runs its frames
// on the host clock, loops or holds, and paints a picture that differs from
// frame to frame. Records the calls made to it.

#include <cstdint>
#include <string>
#include <vector>

#include "flash/movie_control.h"

namespace quarvel::testing {

class ScriptedMovie : public flash::MovieControl {
 public:
  int ReadyState() const override { return loaded_ ? 4 : 0; }
  int TotalFrames() const override { return loaded_ ? total_ : 0; }
  int CurrentFrame() const override { return current_; }
  bool Playing() const override { return playing_; }
  void Play() override;
  void Stop() override;
  void GotoFrame(int frame) override;
  void SetBackgroundColor(std::int32_t rrggbb) override { background_ = rrggbb; }
  void SetMovie(const std::string& path) override;
  void Unload() override;
  std::string LoadError() const override { return loaded_ ? std::string() : "not a movie"; }
  bool Menu() const override { return true; }
  void SetSize(int width, int height) override;
  void AdvanceTo(std::int64_t ms) override;
  void Paint(gdi::Bitmap& target) const override;
  // On a transparent canvas the bar is clear and the rest opaque.
  void SetTransparent(bool transparent) override { transparent_ = transparent; }

  // A timeline of its own instead of the file's: `total` frames, one every
  // `period_ms`; `loads` false makes every SetMovie fail.
  bool scripted = false;
  int total = 10;
  int period_ms = 100;
  bool loads = true;
  // Frame where the timeline stops (-1: none); after the last frame the
  // timeline loops, or with `loop` false stays there, still playing.
  int stop_at = -1;
  bool loop = true;
  // When set, the timeline stops on its last frame instead of looping.
  bool stop_at_end = false;
  // The same picture on every frame.
  bool still = false;
  // The frames differ in one border pixel only (a corner, then an edge's middle).
  bool border_only = false;

  std::int32_t background_ = -1;
  bool transparent_ = false;
  std::string movie_;
  std::vector<int> gotos_;
  // "Stop", "Play", "Unload", "SetMovie <path>", in order.
  std::vector<std::string> calls;
  int width_ = 192, height_ = 192;

 private:
  long long FramesIn(std::int64_t ms) const;

  bool loaded_ = false;
  int total_ = 0;
  double fps_ = 12;
  int current_ = 0;
  bool playing_ = false;
  std::int64_t now_ = 0;
  std::int64_t anchor_ms_ = 0;
  int anchor_frame_ = 0;
};

// Writes an uncompressed SWF of the given size (pixels), rate and frame
// count: the header and one ShowFrame per frame, so every player agrees on it.
void WriteTinySwf(const std::string& path, int width, int height, int fps, int frames, bool compressed = false);

}  // namespace quarvel::testing
