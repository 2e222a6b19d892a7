#include "capture/capture_job.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "capture/crop_zoom.h"
#include "capture/frame_store.h"
#include "capture/frame_writer.h"
#include "platform/audio/wave_file.h"
#include "platform/paths/working_folder.h"
#include "sound/wave_recorder.h"

namespace quarvel::capture {

std::string CaptureLabelText(long long n, int current_frame, std::int64_t elapsed_ms, int latency_ms) {
  const int latency = std::max(latency_ms, 1);
  return std::to_string(n) + " (" + std::to_string(current_frame) + "/" + std::to_string(elapsed_ms / latency) +
         "Frame," + std::to_string(elapsed_ms) + "ms) ";
}

namespace {

// How long the recording at `file` plays, from its header and its size; none
// when it is not a WAVE file we read.
std::optional<std::int64_t> RecordingLengthMs(const std::filesystem::path& file) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) return std::nullopt;
  std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uintmax_t>(size, 4096)));
  std::ifstream in(file, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()))) return std::nullopt;
  try {
    const audio::WaveInfo info = audio::ParseWave(head);
    const std::uint32_t rate = info.format.sample_rate;
    if (info.fact_samples && rate > 0) return static_cast<std::int64_t>(*info.fact_samples) * 1000 / rate;
    const std::uintmax_t data = size - std::min<std::uintmax_t>(size, info.data_offset);
    if (info.format.format_tag != audio::kWaveFormatPcm || info.format.avg_bytes_per_sec == 0) return std::nullopt;
    return static_cast<std::int64_t>(data * 1000 / info.format.avg_bytes_per_sec);
  } catch (const audio::WaveError&) {
    return std::nullopt;
  }
}

}  // namespace

long long FrameNumberAt(long long previous, long long anchor_n, std::int64_t anchor_ms, std::int64_t now_ms,
                        int latency_ms) {
  const std::int64_t latency = std::max(latency_ms, 1);
  const long long by_time = anchor_n + std::max<std::int64_t>(now_ms - anchor_ms, 0) / latency;
  return std::max(previous + 1, by_time);
}

struct CaptureJob::TickState {
  long long n = 0;
  // Frame numbers count latency periods from the anchor: the first tick,
  // and again each tick that finds the latency changed.
  long long anchor_n = 1;
  std::int64_t anchor_ms = 0;
  int anchor_latency = 0;
  int highest = 0;
  int last = 0;
  int stall = 0;  // 1000 marks the end
  std::int64_t start = 0;
  gdi::Bitmap buffer;    // receives each grab
  gdi::Bitmap previous;  // last picture written
};

CaptureJob::CaptureJob(flash::MovieControl& control, audio::Clock& clock, CaptureRecording recording,
                       CaptureCallbacks callbacks)
    : player_(control),
      clock_(clock),
      virtual_clock_(dynamic_cast<audio::VirtualClock*>(&clock)),
      recording_setup_(std::move(recording)),
      cb_(std::move(callbacks)) {}

void CaptureJob::Grab(gdi::Bitmap& target) {
  if (cb_.grab)
    cb_.grab(target);
  else
    player_.Paint(target);
}

void CaptureJob::Pump() {
  player_.AdvanceTo(clock_.NowMs());
  if (cb_.pump) cb_.pump();
}

int CaptureJob::Latency() const {
  // A latency below 1 ms would make the label's division meaningless.
  return std::max(cb_.latency ? cb_.latency() : 250, 1);
}

void CaptureJob::Run(const std::string& movie_path) {
  captured_frame_count_ = 0;
  written_ = 0;
  recording_ = false;
  stopped_ = false;
  FrameWriter writer;
  writer_ = &writer;
  try {
    Loop(movie_path);
  } catch (...) {
    std::exception_ptr error = std::current_exception();
    // Frames grabbed before the error still reach the disk. A failed write
    // belongs to an earlier tick than anything noticed since, so it is the
    // error to report, with the count of the tick that failed.
    try {
      writer.Finish();
    } catch (...) {
      error = std::current_exception();
    }
    if (auto failed = writer.FailedFrame()) captured_frame_count_ = std::min(captured_frame_count_, *failed);
    written_ = writer.Written();
    writer_ = nullptr;
    // Leave the player, the window and the recorder as a finished capture
    // would, then report the error.
    if (!stopped_) player_.Stop();
    if (cb_.finished) cb_.finished();
    if (recording_) {
      recording_ = false;
      recording_setup_.recorder->SaveRecording();
    }
    std::rethrow_exception(error);
  }
  writer_ = nullptr;
}

void CaptureJob::Loop(const std::string& movie_path) {
  player_.Stop();
  player_.Unload();

  // Every numbered frame file goes, not only 0 to 10000: a file left by a
  // longer earlier capture would read as an unchanged frame of this one.
  ClearFrameStore();
  if (cb_.started) cb_.started();

  std::error_code ec;
  std::filesystem::create_directories(paths::CaptureFolder(), ec);  // a failure shows at the first write
  if (cb_.clear_thumbnails) cb_.clear_thumbnails();

  // The movie starts at the present of the clock.
  player_.AdvanceTo(clock_.NowMs());
  player_.SetMovie(movie_path);
  Pump();
  if (!player_.Loaded()) {
    std::string why = player_.LoadError();
    throw CaptureError("Can not load " + movie_path + (why.empty() ? std::string() : ": " + why));
  }
  player_.Play();
  Pump();
  if (limits_.start_ms > 0) SkipTo(clock_.NowMs() + limits_.start_ms);

  // The recording counts from the moment it was asked for.
  const std::int64_t recording_start = clock_.NowMs();
  if (recording_setup_.recorder != nullptr) {
    recording_ = true;
    const int format = recording_setup_.format ? recording_setup_.format() : -1;
    recording_setup_.recorder->StartRecording(paths::RecordingFilePath(), format);
  }

  TickState st;
  st.start = clock_.NowMs();
  stop_requested_.store(false);
  shown_frame_ = 0;
  end_reason_ = CaptureEnd::ceStopRequested;

  const auto limit_reached = [&] { return limits_.max_frames > 0 && st.n >= limits_.max_frames; };
  while (st.stall < kStandstillTicks && !stop_requested_.load() && !limit_reached()) Tick(st);
  if (limit_reached() && st.stall < kStandstillTicks) end_reason_ = CaptureEnd::ceFrameLimit;

  player_.Stop();
  stopped_ = true;
  // The recording ends with the last frame's period, before the frame files
  // still being written are waited for: the sound then lasts as long as the
  // picture however busy the machine is.
  if (recording_) {
    std::int64_t recorded_ms = clock_.NowMs() - recording_start;
    recording_ = false;
    recording_setup_.recorder->SaveRecording();
    // In real time the saved file knows best how long the sound is (its
    // start and stop take time of their own); on a virtual clock the clock
    // is exact.
    if (virtual_clock_ == nullptr) {
      if (const auto length = RecordingLengthMs(paths::RecordingFilePath())) recorded_ms = *length;
    }
    // A last wait the machine overslept is sound without picture: the last
    // frame shows on until the recording ends (left-out numbers repeat it).
    const int latency = Latency();
    captured_frame_count_ = std::max<long long>(captured_frame_count_, (recorded_ms + latency / 2) / latency);
  }
  writer_->Finish();
  written_ = writer_->Written();
  if (cb_.finished) cb_.finished();
  if (cb_.label) cb_.label("Capture finished");
}

void CaptureJob::Tick(TickState& st) {
  // End tests come before the grab, so the tick that finds the end still
  // takes its picture.
  const int total = player_.TotalFrames();
  const int current = player_.CurrentFrame();
  if (!limits_.end_rules) {
    // Only the frame limit or a stop ends this capture.
  } else if (total - 1 == current) {
    st.stall = 1000;
    end_reason_ = CaptureEnd::ceLastFrame;
  } else if (current < st.highest) {
    st.stall = 1000;
    end_reason_ = CaptureEnd::ceJumpBack;
  }

  // A frame is numbered by the time it shows, so a tick the machine was too
  // busy for becomes a repeat of the frame before (a left-out number) and
  // the frames stay in step with the recording.
  const std::int64_t t = clock_.NowMs();
  const std::int64_t elapsed = t - st.start;
  const int latency = Latency();
  if (st.n == 0 || latency != st.anchor_latency) {
    st.anchor_n = st.n + 1;
    st.anchor_ms = t;
    st.anchor_latency = latency;
  }
  const long long previous_n = st.n;
  st.n = FrameNumberAt(st.n, st.anchor_n, st.anchor_ms, t, latency);
  captured_frame_count_ = st.n;

  const int c = player_.CurrentFrame();
  if (c > st.highest) st.highest = c;
  if (c == st.last && limits_.end_rules) {
    ++st.stall;
    if (st.stall == kStandstillTicks) end_reason_ = CaptureEnd::ceStandstill;
  } else {
    if (st.stall < 100) st.stall = 0;
    st.last = c;
  }

  // GrabFrame: the player draws itself into the capture buffer.
  Grab(st.buffer);
  Pump();

  if (cb_.label) cb_.label(CaptureLabelText(st.n, c, elapsed, Latency()));

  // Frames 1, 11, 21, ... are always stored; when a number is skipped, the
  // first frame of its block of ten stands in for it.
  const bool first_of_ten = (st.n - 1) / 10 != (previous_n - 1) / 10 || previous_n == 0;
  const bool always = first_of_ten || st.stall >= kStandstillTicks;
  const bool stored_anyway = limits_.store_every_tenth ? always : previous_n == 0;
  const bool changed = stored_anyway || !(limits_.alpha ? FramesEqualWithAlpha(st.buffer, st.previous)
                                                        : FramesEqual(st.buffer, st.previous));
  if (changed) {
    const bool held = cb_.stored && cb_.stored(st.n, st.buffer);
    if (!held) writer_->Add(st.buffer, st.n);
    ++written_;
    // The grab becomes the picture to compare with; the older one is
    // painted over at the next grab.
    std::swap(st.buffer, st.previous);
  }
  const gdi::Bitmap& grab = changed ? st.previous : st.buffer;

  if (always) {
    shown_frame_ = st.n;
    if (cb_.frame_view) cb_.frame_view(st.n, grab);
    if (cb_.thumbnail) {
      cb_.thumbnail(st.n, grab.Empty() ? grab : ResizedPicture(grab, kThumbnailWidth, kThumbnailHeight));
    }
  }

  Wait(t);
}

void CaptureJob::SkipTo(std::int64_t until_ms) {
  // The movie plays through the part before the start at its own pace (in
  // steps short enough for its scripts and sounds) without being grabbed.
  while (!stop_requested_.load()) {
    const std::int64_t now = clock_.NowMs();
    if (now >= until_ms) return;
    const std::int64_t step = std::min<std::int64_t>(until_ms - now, 10);
    if (virtual_clock_ != nullptr)
      virtual_clock_->Set(now + step);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(step));
    Pump();
  }
}

void CaptureJob::Wait(std::int64_t tick_start) {
  // The work of the tick counts towards the period; when it took longer,
  // the next tick follows after a single pass of message handling.
  Pump();
  for (;;) {
    const int latency = Latency();
    const std::int64_t now = clock_.NowMs();
    if (now - tick_start >= latency) return;
    if (virtual_clock_ != nullptr) {
      virtual_clock_->Set(tick_start + latency);
    } else {
      const std::int64_t left = tick_start + latency - now;
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::int64_t>(left, 10)));
    }
    Pump();
  }
}

}  // namespace quarvel::capture
