#pragma once
// Progress on standard error: a bar redrawn in place on a terminal, one line
// per step otherwise, nothing when quiet.

#include <chrono>
#include <cstdio>
#include <string>

namespace quarvel::cli {

class Progress {
 public:
  enum class Mode { kQuiet, kBar, kLines };

  explicit Progress(Mode mode, std::FILE* out = stderr) : mode_(mode), out_(out) {}
  // The bar on a terminal, lines otherwise.
  static Mode ModeFor(bool quiet, std::FILE* out = stderr);

  // A new step ("capture", "gif"...) of `total` units (0 when unknown).
  void Begin(const std::string& step, long long total);
  // Unit n of the step is done; total may be refined (an estimate).
  void Update(long long n, long long total = -1);
  // The step is over; `summary` closes its line.
  void End(const std::string& summary);
  // A message of its own line (clears a bar first).
  void Note(const std::string& text);
  // Something the user must know about the result; shown even when quiet.
  void Warn(const std::string& text);

  // Takes a bar off the terminal before an error message.
  void ClearBar();
  bool Quiet() const { return mode_ == Mode::kQuiet; }

  // "frame 12 of 40  30%  0:02 elapsed  0:05 left", for the bar and tests.
  static std::string BarText(long long n, long long total, double elapsed_s);

 private:
  void Draw();

  Mode mode_;
  std::FILE* out_;
  std::string step_;
  long long n_ = 0, total_ = 0;
  bool bar_shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace quarvel::cli
