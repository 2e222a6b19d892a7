#include "platform/audio/alsa_device.h"

#include <gtest/gtest.h>

#include <chrono>

namespace quarvel::audio {
namespace {

TEST(AlsaDevice, PlaysTheBusWhenADeviceExists) {
  if (!PcmDeviceAvailable("default", SND_PCM_STREAM_PLAYBACK)) {
    GTEST_SKIP() << "no ALSA playback device on this machine";
  }
  auto clock = std::make_shared<WallClock>();
  LoopbackBus bus(clock);
  AlsaOutput out(bus);
  ASSERT_TRUE(out.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(out.Running());
  out.Stop();
  EXPECT_FALSE(out.Running());
}

TEST(AlsaDevice, MissingDeviceIsReportedNotThrown) {
  LoopbackBus bus;
  AlsaOutput out(bus, "hw:99,0");
  EXPECT_FALSE(out.Start());
  AlsaCapture in("hw:99,0");
  EXPECT_FALSE(in.Open());
  std::vector<std::int16_t> got;
  EXPECT_EQ(in.ReadAvailable(got), 0u);
}

}  // namespace
}  // namespace quarvel::audio
