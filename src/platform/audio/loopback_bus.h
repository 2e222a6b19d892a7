#pragma once
// The in-process loopback bus: everything Quarvel "plays" goes through here,
// so a capture can record the movie's sound on a machine without a sound card.
//
// Time is counted in sample frames at 44100 Hz on the bus clock's time line:
// frame f sounds at clock time f × 1000 / 44100 ms. Writers add interleaved
// stereo 16-bit samples at a frame; readers (the recorder, the ALSA output)
// pull the mix of a frame range through a Tap, with the mixer's levels applied.
//
// A writer that writes at times the clock has already reached (the player
// runs a frame only once its time has come) keeps a Hold: its promise that
// nothing before its mark changes any more. The recorder reads no further
// than the lowest mark, so what it takes is final whenever its thread runs.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/audio/clock.h"

namespace quarvel::audio {

inline constexpr int kBusRate = 44100;
inline constexpr int kBusChannels = 2;

// Where a writer's samples enter the bus (the loopback mixer's playback sources).
enum class BusSource : std::uint8_t { kLineIn = 0, kWaveOut = 1 };

// The input the recording destination takes (loopback mixer source order).
enum class RecordSource : std::uint8_t { kMicrophone = 0, kLineIn = 1, kStereoMix = 2 };

// Volume settings, 0 .. kFullLevel, scaling linearly.
enum class BusLevel : std::uint8_t {
  kMaster,
  kLineIn,
  kWaveOut,
  kRecordMicrophone,
  kRecordLineIn,
  kRecordStereoMix,
};
inline constexpr int kBusLevelCount = 6;

enum class BusMute : std::uint8_t { kMaster, kLineIn, kWaveOut };
inline constexpr int kBusMuteCount = 3;

// Which mix a tap reads.
enum class BusMix : std::uint8_t {
  kPlayback,        // what the speakers get: sources × their levels × master
  kRecordLineIn,    // line in × its recording level
  kRecordStereoMix  // the playback mix × the stereo-mix recording level
};

class LoopbackBus {
 public:
  static constexpr std::uint16_t kFullLevel = 65535;
  // Frames kept behind the clock when no tap needs them.
  static constexpr std::int64_t kRetainFrames = 2 * kBusRate;
  // Frames kept at most from the oldest held frame on; later writes are cut.
  static constexpr std::int64_t kMaxSpanFrames = 120 * kBusRate;
  // Longest a write waits for a lagging tap that does not move before the
  // write is cut.
  static constexpr std::chrono::milliseconds kWriterWait{2000};

  // A reader's position on the bus; data from its position on is kept.
  class Tap {
   public:
    Tap(const Tap&) = delete;
    Tap& operator=(const Tap&) = delete;
    ~Tap();
    std::int64_t Position() const;
    // Appends the mix of [Position(), end_frame) to `out` (interleaved
    // stereo) and moves the position to end_frame. Nothing when end_frame is
    // not past the position.
    void ReadUntil(std::int64_t end_frame, BusMix mix, std::vector<std::int16_t>& out);
    // Moves the position without reading (to skip a gap).
    void SkipTo(std::int64_t frame);
    // A pacing tap holds writers back (WaitForReaders) when it falls behind.
    void SetPacing(bool on);

   private:
    friend class LoopbackBus;
    Tap(LoopbackBus& bus, int id) : bus_(bus), id_(id) {}
    LoopbackBus& bus_;
    int id_;
  };

  // A writer's promise that it changes nothing before its mark any more.
  // Writes before the lowest mark are dropped, so that a reader that stays
  // behind it reads the same samples however the threads are timed.
  class Hold {
   public:
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold();
    // Moves the mark on to `frame` (a lower frame is ignored: a promise
    // once made is kept).
    void SettleTo(std::int64_t frame);
    std::int64_t Mark() const;

   private:
    friend class LoopbackBus;
    Hold(LoopbackBus& bus, int id) : bus_(bus), id_(id) {}
    LoopbackBus& bus_;
    int id_;
  };

  // Without a clock the bus runs on a wall clock of its own.
  explicit LoopbackBus(std::shared_ptr<const Clock> clock = nullptr);
  LoopbackBus(const LoopbackBus&) = delete;
  LoopbackBus& operator=(const LoopbackBus&) = delete;
  ~LoopbackBus();

  // The process's bus, which the player writes and the recorder reads.
  static LoopbackBus& Instance();

  void SetClock(std::shared_ptr<const Clock> clock);
  std::shared_ptr<const Clock> GetClock() const;
  std::int64_t NowFrame() const;
  static std::int64_t MsToFrame(std::int64_t ms) { return ms * kBusRate / 1000; }
  static std::int64_t FrameToMs(std::int64_t frame) { return frame * 1000 / kBusRate; }

  // Adds samples to `source` from `start_frame` on; an odd trailing sample is
  // ignored. Parts before the oldest kept frame or the settled frame, or
  // beyond the kept span, are dropped.
  void Write(BusSource source, std::int64_t start_frame, std::span<const std::int16_t> interleaved);
  void WriteAtMs(BusSource source, std::int64_t start_ms, std::span<const std::int16_t> interleaved) {
    Write(source, MsToFrame(start_ms), interleaved);
  }

  // Fills `out` (interleaved stereo) with the mix of the frames from
  // `start_frame` on; frames not held are silence.
  void Mix(BusMix mix, std::int64_t start_frame, std::span<std::int16_t> out) const;

  std::unique_ptr<Tap> OpenTap(std::int64_t start_frame);

  std::unique_ptr<Hold> OpenHold(std::int64_t mark);
  // The first frame a writer may still change: the lowest mark of the
  // holds, or the largest frame when none is held.
  std::int64_t SettledFrame() const;

  // Waits until every pacing tap has read to within kPaceFrames of `frame`
  // (or of the settled frame, when that is lower): a player on a virtual
  // clock runs no further ahead of the recorder than that, so stopping
  // never waits long for it. Gives up when no tap moved for kWriterWait.
  void WaitForReaders(std::int64_t frame);
  static constexpr std::int64_t kPaceFrames = 5 * kBusRate;

  void SetLevel(BusLevel level, std::uint16_t value);
  std::uint16_t Level(BusLevel level) const;
  void SetMute(BusMute mute, bool on);
  bool Muted(BusMute mute) const;
  void SetRecordSource(RecordSource source);
  RecordSource GetRecordSource() const;

  // Drops every held sample and restores full levels, no mutes and the
  // stereo mix as recording source.
  void Reset();

 private:
  void MixLocked(BusMix mix, std::int64_t start_frame, std::span<std::int16_t> out) const;
  void TrimLocked();
  std::int64_t SettledLocked() const;
  // Waits on tap_moved_ while `blocked` holds, giving up once no tap has
  // moved for kWriterWait; a reader that keeps moving is waited for however
  // slowly a loaded machine runs it.
  template <typename Pred>
  void WaitWhileLocked(std::unique_lock<std::mutex>& lock, Pred blocked);

  mutable std::mutex mutex_;
  std::condition_variable tap_moved_;
  std::shared_ptr<const Clock> clock_;
  std::int64_t base_frame_ = 0;  // first frame held in samples_
  std::array<std::vector<std::int32_t>, 2> samples_;  // per BusSource, interleaved
  std::array<std::uint16_t, kBusLevelCount> levels_{};
  std::array<bool, kBusMuteCount> mutes_{};
  RecordSource record_source_ = RecordSource::kStereoMix;
  std::map<int, std::int64_t> taps_;
  std::map<int, bool> pacing_;
  std::uint64_t tap_moves_ = 0;
  int next_tap_ = 1;
  std::map<int, std::int64_t> holds_;
  int next_hold_ = 1;
};

}  // namespace quarvel::audio
