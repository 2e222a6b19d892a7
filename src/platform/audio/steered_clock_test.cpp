#include "platform/audio/steered_clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace quarvel::audio {
namespace {

TEST(SteeredClock, VirtualTimeTakesOverAndRealTimeGoesOnFromIt) {
  SteeredClock clock;
  const std::int64_t before = clock.NowMs();
  VirtualClock& v = clock.Steer();
  EXPECT_TRUE(clock.Steered());
  EXPECT_GE(v.NowMs(), before);
  // While steered, only the virtual clock moves the time.
  const std::int64_t start = clock.NowMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(clock.NowMs(), start);
  v.Advance(60000);
  EXPECT_EQ(clock.NowMs(), start + 60000);
  // Released, it goes on from the virtual time and never goes back.
  clock.Release();
  EXPECT_FALSE(clock.Steered());
  EXPECT_GE(clock.NowMs(), start + 60000);
  EXPECT_LT(clock.NowMs(), start + 61000);
  clock.Release();  // twice is harmless
  EXPECT_GE(clock.NowMs(), start + 60000);
  // A second steering starts at the present again.
  VirtualClock& again = clock.Steer();
  EXPECT_GE(again.NowMs(), start + 60000);
  clock.Release();
}

}  // namespace
}  // namespace quarvel::audio
