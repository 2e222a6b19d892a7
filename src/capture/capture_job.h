#pragma once
// The "Capture Frames" command as a core object, the one capture both front
// ends run: it reloads the movie in the player control, lets it play, and at
// every latency period grabs the player's picture into the next numbered
// frame file of the frame store, skipping unchanged pictures, while the
// recorder records the sound.
//
// The sound chain it runs on: the control's player writes its sound into the
// loopback bus (FlashMovieControl), the bus runs on the capture's clock, the
// loopback mixer's recording source and levels decide what the MCI device
// takes from the bus, and the recorder writes that into the recording file.
// On a virtual clock every wait moves the clock on instead of sleeping, so
// the frames and the recording follow the movie's time exactly.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "flash/movie_control.h"
#include "platform/audio/clock.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::sound {
class WaveRecorder;
}

namespace quarvel::capture {

// Thrown when the movie to capture cannot be loaded.
class CaptureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CaptureCallbacks {
  // Draws the player's picture into the capture buffer; without it the
  // control paints itself at its size.
  std::function<void(gdi::Bitmap& target)> grab;
  // Hands pending window messages to their handlers; may change the
  // latency, resize the player or call RequestStop.
  std::function<void()> pump;
  // Capture interval in milliseconds, read again at every check.
  std::function<int()> latency;
  // The bold frame label under the frame view.
  std::function<void(const std::string&)> label;
  // The frame store has been cleared and the capture is starting: the window
  // enables the save commands and disables the capture controls.
  std::function<void()> started;
  // The thumbnail list must be emptied.
  std::function<void()> clear_thumbnails;
  // Frame n becomes the frame view (full size); the window refreshes the
  // preview from it with the crop margins and zoom.
  std::function<void(long long n, const gdi::Bitmap& frame)> frame_view;
  // A thumbnail item for frame n with its 60 x 45 picture.
  std::function<void(long long n, const gdi::Bitmap& thumbnail)> thumbnail;
  // The loop has ended: refresh the preview and the zoom label, re-enable
  // the capture controls.
  std::function<void()> finished;
  // The picture is to be stored as frame file n (called on the capture's
  // thread, before the file is on disk). True when the picture is held
  // elsewhere for the only reader of the store and needs no file.
  std::function<bool(long long n, const gdi::Bitmap& picture)> stored;
};

inline constexpr int kThumbnailWidth = 60;
inline constexpr int kThumbnailHeight = 45;
// Ticks in a row on the same movie frame that end the capture.
inline constexpr int kStandstillTicks = 50;

// "12 (34/11Frame,2750ms) "
// The number of the frame grabbed at now_ms: one more than the previous
// one, or, when ticks were late, the latency periods since the anchor
// frame (anchor_n grabbed at anchor_ms), whichever is higher.
long long FrameNumberAt(long long previous, long long anchor_n, std::int64_t anchor_ms, std::int64_t now_ms,
                        int latency_ms);

std::string CaptureLabelText(long long n, int current_frame, std::int64_t elapsed_ms, int latency_ms);

// Why a capture ended.
enum class CaptureEnd { ceLastFrame, ceJumpBack, ceStandstill, ceStopRequested, ceFrameLimit };

class FrameWriter;

// What part of the movie a capture takes. The default is the whole movie
// until one of the end rules (last frame, jump back, standstill) fires.
struct CaptureLimits {
  // The movie plays this long before the first frame and the recording.
  std::int64_t start_ms = 0;
  // The capture ends after this frame (0: no limit).
  long long max_frames = 0;
  // False: only max_frames or a stop request ends the capture, for movies
  // that loop or wait for ever.
  bool end_rules = true;
  // The pictures carry alpha (a transparent background): a change of alpha
  // alone is a changed frame.
  bool alpha = false;
  // False: an unchanged picture is never stored again, not even as the
  // first of its ten (which the frame browser shows); a missing frame file
  // repeats the one before, so a still movie takes one file, not one per ten ticks.
  bool store_every_tenth = true;
};

// The recording a capture makes.
struct CaptureRecording {
  // Null: the capture records nothing. Its failures go to its message sink
  // and do not stop the capture.
  sound::WaveRecorder* recorder = nullptr;
  // Entry of the recording-format list (-1: none selected), read when the
  // recording starts; none selected without it.
  std::function<int()> format;
};

class CaptureJob {
 public:
  // The control and the clock are the ones the player runs on; with an
  // audio::VirtualClock the capture runs as fast as the machine allows and
  // gives the same frames every time.
  CaptureJob(flash::MovieControl& control, audio::Clock& clock, CaptureRecording recording,
             CaptureCallbacks callbacks);

  // Captures the movie at the given path into the frame store of the working
  // folder. Errors (a movie that does not load, a frame file that cannot be
  // written) end the capture: the player is stopped, the recording saved,
  // and the error is thrown on. Frame files are compressed and written on
  // background threads while the capture goes on; when Run returns or
  // throws, every frame file it wrote is complete on disk. After a write
  // error the store and the counts are those of the tick that failed.
  void Run(const std::string& movie_path);

  // Ends a running capture after the tick in progress. Safe from any thread
  // and from a signal handler.
  void RequestStop() { stop_requested_.store(true); }
  // Takes effect at the next Run.
  void SetLimits(const CaptureLimits& limits) { limits_ = limits; }
  bool StopRequested() const { return stop_requested_.load(); }

  // Number of the last frame of the latest capture (frames count from 1).
  long long CapturedFrameCount() const { return captured_frame_count_; }
  // Frame shown in the frame view (the latest thumbnail frame).
  long long ShownFrame() const { return shown_frame_; }
  // Frame files written (queued, while the capture runs) by the latest capture.
  long long WrittenFrameCount() const { return written_; }
  CaptureEnd EndReason() const { return end_reason_; }

 private:
  struct TickState;
  void Pump();
  int Latency() const;
  void Tick(TickState& st);
  void Wait(std::int64_t tick_start);
  void SkipTo(std::int64_t until_ms);
  void Loop(const std::string& movie_path);

  void Grab(gdi::Bitmap& target);

  flash::MovieControl& player_;
  audio::Clock& clock_;
  audio::VirtualClock* virtual_clock_;
  CaptureRecording recording_setup_;
  CaptureCallbacks cb_;
  CaptureLimits limits_;
  std::atomic<bool> stop_requested_{false};
  long long captured_frame_count_ = 0;
  long long shown_frame_ = 0;
  long long written_ = 0;
  CaptureEnd end_reason_ = CaptureEnd::ceStopRequested;
  bool recording_ = false;
  bool stopped_ = false;
  FrameWriter* writer_ = nullptr;
};

}  // namespace quarvel::capture
