#include "platform/audio/clock.h"

namespace quarvel::audio {

Clock::~Clock() = default;

WallClock::WallClock() : origin_(std::chrono::steady_clock::now()) {}

std::int64_t WallClock::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - origin_)
      .count();
}

}  // namespace quarvel::audio
