// capture and frame: the player driven on a virtual (or the wall) clock.
#include <atomic>
#include <chrono>
#include <cmath>

#include "capture/capture_session.h"
#include "capture/flash_capture_player.h"
#include "cli/commands.h"
#include "cli/png_writer.h"
#include "platform/player/flash_player.h"
#include "platform/swf/movie.h"

namespace quarvel::cli {
namespace {

player::Quality QualityFor(const std::string& name) {
  if (name == "low") return player::Quality::qLow;
  if (name == "medium") return player::Quality::qMedium;
  if (name == "best") return player::Quality::qBest;
  return player::Quality::qHigh;
}

const char* EndText(capture::CaptureEnd end) {
  switch (end) {
    case capture::CaptureEnd::ceLastFrame: return "the movie reached its last frame";
    case capture::CaptureEnd::ceJumpBack: return "the movie jumped back";
    case capture::CaptureEnd::ceStandstill: return "the movie stood still for 50 ticks";
    case capture::CaptureEnd::ceStopRequested: return "stopped on request";
  }
  return "";
}

// The player size the window would give the movie: its own, except that a
// side of 1024 or more keeps the player's earlier size (192 at first).
Size FittedSize(const swf::Movie& m) {
  const int max_side = 1024;
  int w = m.header.frameSize.Width() / 20, h = m.header.frameSize.Height() / 20;
  Size s{192, 192};
  if (w < max_side) {
    s.width = w;
  } else if (w > 0) {
    s.height = h * max_side / w;
  }
  if (h < max_side) s.height = h;
  s.width = std::max(s.width, 1);
  s.height = std::max(s.height, 1);
  return s;
}

}  // namespace

CaptureResult RunCapture(const std::string& movie, const CaptureOptions& options, Progress& progress) {
  CheckMovieFile(movie);
  const swf::Movie m = swf::LoadMovieFile(movie);

  player::FlashPlayer flash;
  flash.SetQuality(QualityFor(options.quality));
  flash.SetBackgroundColor(options.background.value_or(-1));
  const Size size = options.size.value_or(FittedSize(m));
  flash.SetSize(size.width, size.height);
  capture::FlashCapturePlayer control(flash);

  audio::VirtualClock virtual_clock;
  audio::WallClock wall_clock;
  audio::Clock& clock = options.realtime ? static_cast<audio::Clock&>(wall_clock) : virtual_clock;

  const double fps = m.header.FrameRate();
  const long long duration_ms = fps > 0 ? std::llround(m.header.frameCount * 1000.0 / fps) : 0;
  const long long estimate = duration_ms / options.latency + 1;

  capture::CaptureSession* session_ptr = nullptr;
  capture::CaptureCallbacks cb;
  cb.latency = [&] { return options.latency; };
  cb.pump = [&] {
    if (CaptureStopRequested()) session_ptr->RequestStop();
  };
  cb.label = [&](const std::string&) {
    long long n = session_ptr->CapturedFrameCount();
    progress.Update(n, std::max(estimate, n));
  };
  capture::CaptureSession session(control, clock, nullptr, std::move(cb));
  session_ptr = &session;

  RemoveCaptureRecord();
  progress.Begin("capture", estimate);
  const auto started = std::chrono::steady_clock::now();
  session.Run(movie);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  CaptureResult result;
  result.frames = session.CapturedFrameCount();
  result.latency = options.latency;
  result.width = size.width;
  result.height = size.height;
  WriteCaptureRecord(CaptureRecord{result.frames, options.latency, movie, ""});

  char summary[256];
  std::snprintf(summary, sizeof summary, "%lld frames (%lld files) at %dx%d in %.2f s, %s", result.frames,
                session.WrittenFrameCount(), size.width, size.height, seconds, EndText(session.EndReason()));
  progress.End(summary);
  return result;
}

void RunFrame(const std::string& movie, const std::string& png, const FrameOptions& options) {
  CheckMovieFile(movie);
  CheckOutputFile(png);
  player::FlashPlayer flash;
  flash.SetQuality(QualityFor(options.quality));
  flash.SetBackgroundColor(options.background.value_or(-1));
  flash.SetMovie(movie);
  if (flash.ReadyState() != 4) throw CommandError(movie + ": " + flash.LoadError());
  const Size size = options.size.value_or(Size{std::max(flash.MovieWidth(), 1), std::max(flash.MovieHeight(), 1)});
  flash.SetSize(size.width, size.height);

  long long t = 0;
  if (options.time) {
    t = *options.time;
  } else {
    const int n = options.frame.value_or(1);
    const double fps = flash.FrameRate();
    if (n > 1 && !(fps > 0)) throw CommandError(movie + ": frame rate 0, no frame after the first");
    // Frame n shows n - 1 intervals after the start; rounding up never lands before it.
    if (n > 1) t = static_cast<long long>(std::ceil((n - 1) * 1000.0 / fps - 1e-9));
  }
  flash.AdvanceTo(t);
  gdi::Bitmap picture;
  flash.Paint(picture);
  WriteAtomically(png, [&](const std::string& temp) { SavePng(picture, temp); });
}

}  // namespace quarvel::cli
