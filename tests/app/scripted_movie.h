#pragma once
// A player control for window tests: loads any SWF file's header, runs its
// frames on the host clock at the movie's rate, loops, and paints a picture
// that differs from frame to frame. Records every call the window makes.

#include <cstdint>
#include <string>
#include <vector>

#include "app/movie_control.h"

namespace quarvel::testing {

class ScriptedMovie : public app::MovieControl {
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
  std::string LoadError() const override { return loaded_ ? std::string() : "not a movie"; }
  bool Menu() const override { return true; }
  void SetSize(int width, int height) override;
  void AdvanceTo(std::int64_t ms) override;
  void Paint(gdi::Bitmap& target) const override;

  // When set, the timeline stops on its last frame instead of looping.
  bool stop_at_end = false;

  std::int32_t background_ = -1;
  std::string movie_;
  std::vector<int> gotos_;
  int width_ = 192, height_ = 192;

 private:
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
