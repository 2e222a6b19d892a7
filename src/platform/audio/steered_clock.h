#pragma once
// The desktop's clock: real time, which a frame-exact capture can take over
// with a virtual clock for a while. Time never goes back: after the capture
// it goes on from where the virtual clock left it.

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "platform/audio/clock.h"

namespace quarvel::audio {

class SteeredClock final : public Clock {
 public:
  std::int64_t NowMs() const override {
    if (steered_.load(std::memory_order_acquire)) return virtual_.NowMs();
    return wall_.NowMs() + offset_.load(std::memory_order_acquire);
  }
  // From now on the time is the virtual clock's, which starts at the present.
  VirtualClock& Steer() {
    virtual_.Set(NowMs());
    steered_.store(true, std::memory_order_release);
    return virtual_;
  }
  // Back to real time, continuing from the virtual clock's time.
  void Release() {
    if (!steered_.load(std::memory_order_acquire)) return;
    const std::int64_t now = virtual_.NowMs();
    offset_.store(std::max<std::int64_t>(now - wall_.NowMs(), offset_.load()), std::memory_order_release);
    steered_.store(false, std::memory_order_release);
  }
  bool Steered() const { return steered_.load(std::memory_order_acquire); }

 private:
  WallClock wall_;
  VirtualClock virtual_;
  std::atomic<std::int64_t> offset_{0};
  std::atomic<bool> steered_{false};
};

}  // namespace quarvel::audio
