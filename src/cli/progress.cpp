#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace quarvel::cli {
namespace {

std::string Clock(double seconds) {
  long long s = std::llround(std::max(0.0, seconds));
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
  return buf;
}

}  // namespace

Progress::Mode Progress::ModeFor(bool quiet, std::FILE* out) {
  if (quiet) return Mode::kQuiet;
  return ::isatty(::fileno(out)) ? Mode::kBar : Mode::kLines;
}

std::string Progress::BarText(long long n, long long total, double elapsed_s) {
  std::string text = "frame " + std::to_string(n);
  if (total <= 0) return text + "  " + Clock(elapsed_s) + " elapsed";
  long long shown_total = std::max(total, n);
  int pct = static_cast<int>(n * 100 / shown_total);
  text += " of " + std::to_string(shown_total) + "  " + std::to_string(pct) + "%  " + Clock(elapsed_s) + " elapsed";
  if (n > 0) text += "  " + Clock(elapsed_s * double(shown_total - n) / double(n)) + " left";
  return text;
}

void Progress::Begin(const std::string& step, long long total) {
  ClearBar();
  step_ = step;
  n_ = 0;
  total_ = total;
  start_ = last_draw_ = std::chrono::steady_clock::now();
  if (mode_ == Mode::kLines) {
    std::fprintf(out_, "%s: started\n", step_.c_str());
    std::fflush(out_);
  } else if (mode_ == Mode::kBar) {
    Draw();
  }
}

void Progress::Update(long long n, long long total) {
  n_ = n;
  if (total >= 0) total_ = total;
  if (mode_ != Mode::kBar) return;
  auto now = std::chrono::steady_clock::now();
  // Redrawing costs more than a frame of a small movie; ten times a second is plenty.
  if (now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  Draw();
}

void Progress::End(const std::string& summary) {
  if (mode_ == Mode::kQuiet) return;
  ClearBar();
  std::fprintf(out_, "%s: %s\n", step_.c_str(), summary.c_str());
  std::fflush(out_);
}

void Progress::Note(const std::string& text) {
  if (mode_ == Mode::kQuiet) return;
  ClearBar();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void Progress::Warn(const std::string& text) {
  ClearBar();
  std::fprintf(out_, "quarvel-cli: warning: %s\n", text.c_str());
  std::fflush(out_);
}

void Progress::Draw() {
  double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const int width = 24;
  int filled = total_ > 0 ? static_cast<int>(std::min(n_, total_) * width / total_) : 0;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(width, '.');
  std::fprintf(out_, "\r\033[K%s [%s] %s", step_.c_str(), bar.c_str(), BarText(n_, total_, elapsed).c_str());
  std::fflush(out_);
  bar_shown_ = true;
}

void Progress::ClearBar() {
  if (!bar_shown_) return;
  std::fprintf(out_, "\r\033[K");
  bar_shown_ = false;
}

}  // namespace quarvel::cli
