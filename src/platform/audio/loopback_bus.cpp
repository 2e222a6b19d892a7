#include "platform/audio/loopback_bus.h"

#include <algorithm>
#include <limits>

namespace quarvel::audio {
namespace {

constexpr std::int64_t kFull = LoopbackBus::kFullLevel;
// Far beyond any audible sum, and small enough that the level products fit in 64 bits.
constexpr std::int64_t kAccumulatorLimit = std::int64_t{1} << 24;

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

}  // namespace

LoopbackBus::Tap::~Tap() {
  std::lock_guard lock(bus_.mutex_);
  bus_.taps_.erase(id_);
  bus_.pacing_.erase(id_);
  ++bus_.tap_moves_;
  bus_.tap_moved_.notify_all();
}

LoopbackBus::Hold::~Hold() {
  std::lock_guard lock(bus_.mutex_);
  bus_.holds_.erase(id_);
}

void LoopbackBus::Hold::SettleTo(std::int64_t frame) {
  std::lock_guard lock(bus_.mutex_);
  std::int64_t& mark = bus_.holds_.at(id_);
  mark = std::max(mark, frame);
}

std::int64_t LoopbackBus::Hold::Mark() const {
  std::lock_guard lock(bus_.mutex_);
  return bus_.holds_.at(id_);
}

std::unique_ptr<LoopbackBus::Hold> LoopbackBus::OpenHold(std::int64_t mark) {
  std::lock_guard lock(mutex_);
  const int id = next_hold_++;
  holds_[id] = mark;
  return std::unique_ptr<Hold>(new Hold(*this, id));
}

std::int64_t LoopbackBus::SettledFrame() const {
  std::lock_guard lock(mutex_);
  return SettledLocked();
}

std::int64_t LoopbackBus::SettledLocked() const {
  std::int64_t settled = std::numeric_limits<std::int64_t>::max();
  for (const auto& [id, mark] : holds_) settled = std::min(settled, mark);
  return settled;
}

template <typename Pred>
void LoopbackBus::WaitWhileLocked(std::unique_lock<std::mutex>& lock, Pred blocked) {
  auto give_up = std::chrono::steady_clock::now() + kWriterWait;
  std::uint64_t seen = tap_moves_;
  while (blocked()) {
    const bool timed_out = tap_moved_.wait_until(lock, give_up) == std::cv_status::timeout;
    if (tap_moves_ != seen) {
      seen = tap_moves_;
      give_up = std::chrono::steady_clock::now() + kWriterWait;
    } else if (timed_out) {
      return;
    }
  }
}

void LoopbackBus::Tap::SetPacing(bool on) {
  std::lock_guard lock(bus_.mutex_);
  bus_.pacing_[id_] = on;
}

void LoopbackBus::WaitForReaders(std::int64_t frame) {
  std::unique_lock lock(mutex_);
  // A reader cannot pass the settled frame, so it is not waited for beyond it.
  const auto behind = [&] {
    const std::int64_t target = std::min(frame, SettledLocked()) - kPaceFrames;
    for (const auto& [id, on] : pacing_) {
      if (on && taps_.at(id) < target) return true;
    }
    return false;
  };
  WaitWhileLocked(lock, behind);
}

std::int64_t LoopbackBus::Tap::Position() const {
  std::lock_guard lock(bus_.mutex_);
  return bus_.taps_.at(id_);
}

void LoopbackBus::Tap::ReadUntil(std::int64_t end_frame, BusMix mix, std::vector<std::int16_t>& out) {
  std::lock_guard lock(bus_.mutex_);
  std::int64_t& pos = bus_.taps_.at(id_);
  if (end_frame <= pos) return;
  const std::size_t old = out.size();
  out.resize(old + static_cast<std::size_t>(end_frame - pos) * kBusChannels);
  bus_.MixLocked(mix, pos, std::span(out).subspan(old));
  pos = end_frame;
  bus_.TrimLocked();
  ++bus_.tap_moves_;
  bus_.tap_moved_.notify_all();
}

void LoopbackBus::Tap::SkipTo(std::int64_t frame) {
  std::lock_guard lock(bus_.mutex_);
  bus_.taps_.at(id_) = frame;
  bus_.TrimLocked();
  ++bus_.tap_moves_;
  bus_.tap_moved_.notify_all();
}

LoopbackBus::LoopbackBus(std::shared_ptr<const Clock> clock)
    : clock_(clock ? std::move(clock) : std::make_shared<WallClock>()) {
  levels_.fill(kFullLevel);
}

LoopbackBus::~LoopbackBus() = default;

LoopbackBus& LoopbackBus::Instance() {
  static LoopbackBus bus;
  return bus;
}

void LoopbackBus::SetClock(std::shared_ptr<const Clock> clock) {
  std::lock_guard lock(mutex_);
  clock_ = clock ? std::move(clock) : std::make_shared<WallClock>();
  // A new time line: what was held, and the writers' marks, belong to the old one.
  for (auto& s : samples_) s.clear();
  base_frame_ = std::max<std::int64_t>(0, MsToFrame(clock_->NowMs()) - kRetainFrames);
  for (auto& [id, mark] : holds_) mark = std::min(mark, base_frame_);
}

std::shared_ptr<const Clock> LoopbackBus::GetClock() const {
  std::lock_guard lock(mutex_);
  return clock_;
}

std::int64_t LoopbackBus::NowFrame() const { return MsToFrame(GetClock()->NowMs()); }

void LoopbackBus::Write(BusSource source, std::int64_t start_frame, std::span<const std::int16_t> interleaved) {
  std::unique_lock lock(mutex_);
  std::int64_t frames = static_cast<std::int64_t>(interleaved.size() / kBusChannels);
  // A reader that fell behind (a recorder on a clock that runs faster than
  // real time) holds the span back; wait for it rather than lose sound.
  const auto lagging_reader = [&] {
    TrimLocked();
    if (start_frame + frames <= base_frame_ + kMaxSpanFrames) return false;
    for (const auto& [id, pos] : taps_) {
      if (pos < start_frame) return true;
    }
    return false;
  };
  WaitWhileLocked(lock, lagging_reader);
  std::int64_t first = start_frame;
  // Frames already settled may have been read: a change there would reach
  // a reader or not depending on when it read.
  const std::int64_t keep_from = holds_.empty() ? base_frame_ : std::max(base_frame_, SettledLocked());
  if (first < keep_from) {
    const std::int64_t cut = std::min(frames, keep_from - first);
    interleaved = interleaved.subspan(static_cast<std::size_t>(cut * kBusChannels));
    frames -= cut;
    first = keep_from;
  }
  frames = std::min(frames, base_frame_ + kMaxSpanFrames - first);
  if (frames <= 0) return;
  auto& buf = samples_[static_cast<std::size_t>(source)];
  const std::size_t offset = static_cast<std::size_t>(first - base_frame_) * kBusChannels;
  const std::size_t count = static_cast<std::size_t>(frames) * kBusChannels;
  if (buf.size() < offset + count) buf.resize(offset + count, 0);
  for (std::size_t i = 0; i < count; ++i) {
    buf[offset + i] = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(std::int64_t{buf[offset + i]} + interleaved[i], -kAccumulatorLimit, kAccumulatorLimit));
  }
}

void LoopbackBus::Mix(BusMix mix, std::int64_t start_frame, std::span<std::int16_t> out) const {
  std::lock_guard lock(mutex_);
  MixLocked(mix, start_frame, out);
}

void LoopbackBus::MixLocked(BusMix mix, std::int64_t start_frame, std::span<std::int16_t> out) const {
  const auto level = [this](BusLevel l) { return static_cast<std::int64_t>(levels_[static_cast<std::size_t>(l)]); };
  const auto muted = [this](BusMute m) { return mutes_[static_cast<std::size_t>(m)]; };
  const std::int64_t master = muted(BusMute::kMaster) ? 0 : level(BusLevel::kMaster);
  const std::int64_t line_in = muted(BusMute::kLineIn) ? 0 : level(BusLevel::kLineIn);
  const std::int64_t wave_out = muted(BusMute::kWaveOut) ? 0 : level(BusLevel::kWaveOut);
  const std::int64_t rec_line = level(BusLevel::kRecordLineIn);
  const std::int64_t rec_mix = level(BusLevel::kRecordStereoMix);
  const auto& lin = samples_[static_cast<std::size_t>(BusSource::kLineIn)];
  const auto& wav = samples_[static_cast<std::size_t>(BusSource::kWaveOut)];

  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::int64_t pos = (start_frame - base_frame_) * kBusChannels + static_cast<std::int64_t>(i);
    std::int64_t a = 0;
    std::int64_t b = 0;
    if (pos >= 0) {
      const auto p = static_cast<std::size_t>(pos);
      if (p < lin.size()) a = lin[p];
      if (p < wav.size()) b = wav[p];
    }
    std::int64_t v = 0;
    switch (mix) {
      case BusMix::kPlayback:
        v = (a * line_in + b * wave_out) * master / (kFull * kFull);
        break;
      case BusMix::kRecordLineIn:
        v = a * rec_line / kFull;
        break;
      case BusMix::kRecordStereoMix:
        v = (a * line_in + b * wave_out) * master / (kFull * kFull) * rec_mix / kFull;
        break;
    }
    out[i] = Clamp16(v);
  }
}

void LoopbackBus::TrimLocked() {
  const std::int64_t now = MsToFrame(clock_->NowMs());
  if (taps_.empty() && now < base_frame_) {
    // The clock went back (a virtual clock restarted): start a new time line.
    for (auto& s : samples_) s.clear();
    base_frame_ = std::max<std::int64_t>(0, now - kRetainFrames);
    for (auto& [id, mark] : holds_) mark = std::min(mark, base_frame_);
    return;
  }
  std::int64_t keep_from = now - kRetainFrames;
  for (const auto& [id, pos] : taps_) keep_from = std::min(keep_from, pos);
  // Trim in steps of half a second so that erasing stays cheap.
  if (keep_from - base_frame_ < kBusRate / 2) return;
  const std::size_t drop = static_cast<std::size_t>(keep_from - base_frame_) * kBusChannels;
  for (auto& s : samples_) s.erase(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(std::min(drop, s.size())));
  base_frame_ = keep_from;
}

std::unique_ptr<LoopbackBus::Tap> LoopbackBus::OpenTap(std::int64_t start_frame) {
  std::lock_guard lock(mutex_);
  const int id = next_tap_++;
  taps_[id] = start_frame;
  return std::unique_ptr<Tap>(new Tap(*this, id));
}

void LoopbackBus::SetLevel(BusLevel level, std::uint16_t value) {
  std::lock_guard lock(mutex_);
  levels_[static_cast<std::size_t>(level)] = value;
}

std::uint16_t LoopbackBus::Level(BusLevel level) const {
  std::lock_guard lock(mutex_);
  return levels_[static_cast<std::size_t>(level)];
}

void LoopbackBus::SetMute(BusMute mute, bool on) {
  std::lock_guard lock(mutex_);
  mutes_[static_cast<std::size_t>(mute)] = on;
}

bool LoopbackBus::Muted(BusMute mute) const {
  std::lock_guard lock(mutex_);
  return mutes_[static_cast<std::size_t>(mute)];
}

void LoopbackBus::SetRecordSource(RecordSource source) {
  std::lock_guard lock(mutex_);
  record_source_ = source;
}

RecordSource LoopbackBus::GetRecordSource() const {
  std::lock_guard lock(mutex_);
  return record_source_;
}

void LoopbackBus::Reset() {
  std::lock_guard lock(mutex_);
  for (auto& s : samples_) s.clear();
  base_frame_ = std::max<std::int64_t>(0, MsToFrame(clock_->NowMs()) - kRetainFrames);
  levels_.fill(kFullLevel);
  mutes_.fill(false);
  record_source_ = RecordSource::kStereoMix;
}

}  // namespace quarvel::audio
