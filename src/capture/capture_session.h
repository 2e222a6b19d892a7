#pragma once
// The "Capture Frames" command as a core object: it reloads the movie, lets
// it play, and at every latency period grabs the player's picture into the
// next numbered frame file of the frame store, skipping unchanged pictures,
// while the recorder records the sound. The window (or the command line)
// gives it the player, the clock and its callbacks.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/audio/clock.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::capture {

// What the capture uses of the player control.
class CapturePlayer {
 public:
  virtual ~CapturePlayer() = default;
  virtual void Stop() = 0;
  virtual void Play() = 0;
  // Drops the current movie.
  virtual void Unload() = 0;
  // Loads a movie and starts it; Loaded() tells whether that worked.
  virtual void SetMovie(const std::string& path) = 0;
  virtual bool Loaded() const = 0;
  // Why the last SetMovie failed.
  virtual std::string LoadError() const = 0;
  virtual int TotalFrames() const = 0;
  virtual int CurrentFrame() const = 0;
  // Runs the movie up to the given clock time (milliseconds).
  virtual void AdvanceTo(std::int64_t ms) = 0;
  // Draws the current picture at the player's size into target, replacing
  // every pixel (target may hold an older picture).
  virtual void Paint(gdi::Bitmap& target) = 0;
};

// The sound recorder seen by the capture. Both calls report their own
// failures to the user and return normally; the capture goes on without sound.
class CaptureRecorder {
 public:
  virtual ~CaptureRecorder() = default;
  virtual void StartRecording(const std::filesystem::path& file) = 0;
  // Stops the recording and saves it to the file given at the start.
  virtual void SaveRecording() = 0;
};

// Thrown when the movie to capture cannot be loaded.
class CaptureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CaptureCallbacks {
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
enum class CaptureEnd { ceLastFrame, ceJumpBack, ceStandstill, ceStopRequested };

class FrameWriter;

class CaptureSession {
 public:
  // With an audio::VirtualClock every wait moves the clock on instead of
  // sleeping, so a capture runs as fast as the machine allows and gives the
  // same frames every time. The recorder may be null (no sound).
  CaptureSession(CapturePlayer& player, audio::Clock& clock, CaptureRecorder* recorder, CaptureCallbacks callbacks);

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
  void Loop(const std::string& movie_path);

  CapturePlayer& player_;
  audio::Clock& clock_;
  audio::VirtualClock* virtual_clock_;
  CaptureRecorder* recorder_;
  CaptureCallbacks cb_;
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
