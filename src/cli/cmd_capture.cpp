// capture and frame: the player driven on a virtual (or the wall) clock.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "capture/capture_job.h"
#include "capture/frame_store.h"
#include "flash/flash_movie_control.h"
#include "flash/player_fit.h"
#include "cli/commands.h"
#include "cli/png_writer.h"
#include "player/flash_player.h"
#include "player/sound/sound_output.h"
#include "platform/audio/loopback_bus.h"
#include "platform/paths/working_folder.h"
#include "player/swf/movie.h"
#include "sound/recording_file.h"
#include "sound/wave_recorder.h"

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
    case capture::CaptureEnd::ceFrameLimit: return "the frame limit was reached";
  }
  return "";
}

// Index of the recording-format list for a --sound value; -1 for none.
int SoundQualityIndex(const std::string& sound) {
  if (sound == "adpcm11") return 0;
  if (sound == "adpcm22") return 1;
  if (sound == "adpcm44") return 2;
  if (sound == "pcm") return 3;
  return -1;
}

// Said once, naming the movie: a stopped script changes what the movie shows.
std::string StoppedScriptsWarning(const std::string& movie, const player::FlashPlayer& flash) {
  const std::vector<std::string> why = flash.StoppedScripts();
  if (why.empty()) return {};
  std::string causes;
  for (const std::string& w : why) causes += (causes.empty() ? "" : "; ") + w;
  return movie + ": a script was stopped (" + causes + "); the movie played on without the rest of it";
}

}  // namespace

bool RecordsSound(const CaptureOptions& options) { return SoundQualityIndex(options.sound) >= 0; }

CaptureResult RunCapture(const std::string& movie, const CaptureOptions& options, Progress& progress,
                         capture::FrameCache* keep, bool kept_only, const std::function<void()>& started) {
  CheckMovieFile(movie);
  // Opened once, for its header and its fit, then handed to the player,
  // which would otherwise read and expand the file again.
  std::optional<swf::Movie> opened = swf::LoadMovieFile(movie);
  if (opened->cutOff) WarnCutOff(movie);
  const swf::MovieHeader header = opened->header;
  // A full folder of old frames must not stop the expanded copy below.
  capture::ClearFrameStore();

  // The movie's sound goes into the bus, where the recorder takes it; the
  // bus runs on the capture's clock.
  std::shared_ptr<audio::Clock> clock;
  if (options.realtime)
    clock = std::make_shared<audio::WallClock>();
  else
    clock = std::make_shared<audio::VirtualClock>();
  const int sound_index = SoundQualityIndex(options.sound);
  // Without a recording the movie's sounds go nowhere: they are not decoded
  // (nor FFmpeg loaded for their codecs and rates).
  const std::unique_ptr<flash::FlashMovieControl> control_owner =
      sound_index >= 0 ? std::make_unique<flash::FlashMovieControl>(audio::LoopbackBus::Instance(), clock)
                       : std::make_unique<flash::FlashMovieControl>();
  flash::FlashMovieControl& control = *control_owner;
  // A sound the player cannot play is said with the movie's name.
  if (auto* sound = control.Sound())
    sound->SetProblemSink([&progress, &movie](const std::string& text) { progress.Warn(movie + ": " + text); });
  player::FlashPlayer& flash = control.Player();
  flash.SetQuality(QualityFor(options.quality));
  flash.SetBackgroundColor(options.background.value_or(-1));
  flash.SetTransparent(options.transparent);
  Size size;
  if (options.size) {
    size = *options.size;
  } else if (options.scale > 0) {
    // The player draws the stage at this size itself, so edges stay sharp.
    const auto side = [&](int twips) {
      const double px = std::round(twips / 20.0 * options.scale);
      return int(std::clamp(px, 1.0, 4096.0));
    };
    size = Size{side(header.frameSize.Width()), side(header.frameSize.Height())};
  } else {
    // The movie's own size, kept within 1024 x 1024 in its own shape (and the
    // expanded copy of a compressed movie written, as the window does).
    flash::PlayerLayout start{0, 0, 192, 192, 192 - 8, 192 - 8};
    flash::MovieFit fit;
    try {
      fit = flash::FitPlayerToMovie(*opened, start, 1024, 1024);
    } catch (const swf::SwfError& e) {
      throw e.InFile(movie);
    }
    const flash::CaptureSize fitted = flash::FitCaptureSize(fit.bounds, 1024, 1024);
    size = Size{fitted.width, fitted.height};
  }
  flash.SetSize(size.width, size.height);
  flash.OfferOpenedMovie(movie, std::move(*opened));
  opened.reset();

  sound::WaveRecorder wave_recorder;
  // A recording that fails fails the command, once, with its cause.
  std::string recording_failure;
  wave_recorder.SetMessageSink([&](const sound::RecorderMessage& m) {
    if (recording_failure.empty()) recording_failure = m.detail.empty() ? m.text : m.detail;
  });
  capture::CaptureRecording recording;
  if (sound_index >= 0) recording = {&wave_recorder, [sound_index] { return sound_index; }};

  const double fps = header.FrameRate();
  const long long duration_ms = fps > 0 ? std::llround(header.frameCount * 1000.0 / fps) : 0;
  long long estimate = duration_ms / options.latency + 1;
  capture::CaptureLimits limits;
  limits.alpha = options.transparent;
  // No frame browser reads the store here: a still picture is stored once.
  limits.store_every_tenth = false;
  if (options.start) limits.start_ms = options.start->Ms(fps);
  if (options.duration) {
    // A capture of a set length: the movie's own ending does not stop it.
    const long long ms = std::max<long long>(options.duration->Ms(fps), 1);
    limits.max_frames = (ms + options.latency - 1) / options.latency;
    limits.end_rules = false;
  }
  if (options.max_frames > 0)
    limits.max_frames = limits.max_frames > 0 ? std::min(limits.max_frames, options.max_frames) : options.max_frames;
  if (limits.max_frames > 0) estimate = limits.end_rules ? std::min(estimate, limits.max_frames) : limits.max_frames;

  capture::CaptureJob* session_ptr = nullptr;
  capture::CaptureCallbacks cb;
  cb.latency = [&] { return options.latency; };
  // Clicks count from the movie's start: the first pump that finds it loaded.
  std::optional<std::int64_t> movie_start;
  std::size_t next_click = 0;
  // Presses and releases of --key, in time order; a key held by default
  // for one frame of the movie.
  struct KeyEvent {
    long long ms;
    bool down;
    flash::FlashKey key;
  };
  std::vector<KeyEvent> key_events;
  const long long frame_ms = fps > 0 ? static_cast<long long>(std::ceil(1000.0 / fps)) : 100;
  for (const KeyPress& k : options.keys) {
    key_events.push_back({k.ms, true, k.key});
    key_events.push_back({k.ms + (k.hold_ms > 0 ? k.hold_ms : frame_ms), false, k.key});
  }
  std::stable_sort(key_events.begin(), key_events.end(),
                   [](const KeyEvent& a, const KeyEvent& b) { return a.ms < b.ms; });
  std::size_t next_key = 0;
  cb.pump = [&] {
    const std::int64_t now = clock->NowMs();
    if (!movie_start && flash.ReadyState() == 4) movie_start = now;
    while (movie_start && next_click < options.clicks.size() &&
           *movie_start + options.clicks[next_click].ms <= now) {
      const Click& c = options.clicks[next_click++];
      control.MouseMove(c.x, c.y);
      control.MouseDown(c.x, c.y);
      control.MouseUp(c.x, c.y);
    }
    while (movie_start && next_key < key_events.size() && *movie_start + key_events[next_key].ms <= now) {
      const KeyEvent& k = key_events[next_key++];
      if (k.down)
        control.KeyDown(k.key.keyCode, k.key.charCode);
      else
        control.KeyUp(k.key.keyCode, k.key.charCode);
    }
    if (CaptureStopRequested()) session_ptr->RequestStop();
  };
  cb.label = [&](const std::string&) {
    long long n = session_ptr->CapturedFrameCount();
    progress.Update(n, std::max(estimate, n));
  };
  // The store is marked unfinished as soon as it is cleared; only a capture
  // that ends normally marks it complete.
  CaptureRecord record;
  record.latency = options.latency;
  record.movie = movie;
  record.sound = sound_index >= 0 ? options.sound : "";
  record.alpha = options.transparent;
  cb.started = [&] {
    WriteCaptureRecord(record);
    if (started) started();
  };
  if (keep != nullptr)
    cb.stored = [keep, kept_only, alpha = options.transparent](long long n, const gdi::Bitmap& picture) {
      bool kept = false;
      try {
        // As the writers read a store captured on a transparent background: alpha kept.
        kept = keep->Keep(n, picture, alpha);
      } catch (const std::bad_alloc&) {
        // Then the writer reads this frame from the store.
      }
      keep->Stored(n, kept);
      return kept && kept_only;
    };
  capture::CaptureJob session(control, *clock, std::move(recording), std::move(cb));
  session.SetLimits(limits);
  session_ptr = &session;
  const auto finish_record = [&](bool complete) {
    record.frames = session.CapturedFrameCount();
    record.complete = complete;
    if (sound_index >= 0) record.recording_ms = sound::RecordingLengthMs(paths::RecordingFilePath()).value_or(-1);
    WriteCaptureRecord(record);
  };

  RemoveCaptureRecord();
  progress.Begin("capture", estimate);
  const auto began = std::chrono::steady_clock::now();
  try {
    session.Run(movie);
  } catch (...) {
    finish_record(false);
    throw;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  if (session.EndReason() == capture::CaptureEnd::ceStopRequested && CaptureStopRequested()) NoteCaptureCutShort();
  finish_record(true);
  if (!recording_failure.empty()) {
    throw CommandError("the recording failed: " + recording_failure + " (the " + std::to_string(record.frames) +
                       " frames were captured)");
  }

  CaptureResult result;
  result.frames = session.CapturedFrameCount();
  result.latency = options.latency;
  result.width = size.width;
  result.height = size.height;

  char summary[256];
  // Pictures held for the writer alone are no files; say where they are.
  const std::string held = kept_only && keep != nullptr && keep->KeptCount() > 0
                               ? ", " + std::to_string(keep->KeptCount()) + " pictures in memory"
                               : std::string();
  std::snprintf(summary, sizeof summary, "%lld frames (%lld files%s) at %dx%d in %.2f s, %s", result.frames,
                session.WrittenFrameCount(), held.c_str(), size.width, size.height, seconds,
                EndText(session.EndReason()));
  progress.End(summary);
  if (const std::string stopped = StoppedScriptsWarning(movie, flash); !stopped.empty()) progress.Warn(stopped);
  // The command ends with the writer: the movie's objects go with the process.
  flash.AbandonAtExit();
  return result;
}

void RunFrame(const std::string& movie, const std::string& png, const FrameOptions& options) {
  CheckMovieFile(movie);
  CheckOutputFile(png);
  player::FlashPlayer flash;
  flash.SetQuality(QualityFor(options.quality));
  flash.SetBackgroundColor(options.background.value_or(-1));
  flash.SetMovie(movie);
  if (flash.ReadyState() != 4) {
    // The player's reason names the file already, most of the time.
    const std::string& why = flash.LoadError();
    throw CommandError(why.find(movie) != std::string::npos ? why : movie + ": " + why);
  }
  if (flash.MovieCutOff()) WarnCutOff(movie);
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
  flash.SetInterrupt(&CaptureStopRequested);
  flash.AdvanceTo(t);
  CheckInterrupted(movie);
  gdi::Bitmap picture;
  try {
    flash.Paint(picture);
  } catch (const gdi::BitmapError& e) {
    throw CommandError(movie + ": " + e.what() + " (give a smaller --size)");
  }
  if (const std::string stopped = StoppedScriptsWarning(movie, flash); !stopped.empty())
    std::fprintf(stderr, "quarvel-cli: warning: %s\n", stopped.c_str());
  WriteAtomically(png, [&](const std::string& temp) { SavePng(picture, temp, png); });
  flash.AbandonAtExit();
}

}  // namespace quarvel::cli
