#pragma once
// The time base shared by the player, the capture loop, the loopback bus and
// the recorder. Hosts pass a clock in so that tests and virtual-time captures
// step through time without waiting.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace quarvel::audio {

struct Clock {
  virtual ~Clock();
  // Milliseconds since the clock's own origin; never decreases.
  virtual std::int64_t NowMs() const = 0;
};

// Real time, counted from the moment the clock was made.
class WallClock final : public Clock {
 public:
  WallClock();
  std::int64_t NowMs() const override;

 private:
  std::chrono::steady_clock::time_point origin_;
};

// Time that only moves when told to; safe to read from other threads.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(std::int64_t start_ms = 0) : now_(start_ms) {}
  std::int64_t NowMs() const override { return now_.load(std::memory_order_acquire); }
  void Set(std::int64_t ms) { now_.store(ms, std::memory_order_release); }
  void Advance(std::int64_t ms) { now_.fetch_add(ms, std::memory_order_acq_rel); }

 private:
  std::atomic<std::int64_t> now_;
};

}  // namespace quarvel::audio
