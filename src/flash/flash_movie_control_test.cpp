// The player control over our player: its sound reaches the bus at the
// player's times, on the control's clock, and keeps going between events.
#include "flash/flash_movie_control.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "platform/audio/loopback_bus.h"
#include "support/swf_builder.h"

namespace quarvel::flash {
namespace {

using audio::LoopbackBus;

std::vector<std::uint8_t> Tone(int hz, std::uint32_t frames) {
  std::vector<std::uint8_t> b;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<std::uint16_t>(
        static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * hz * static_cast<double>(i) / 44100.0)));
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  return b;
}

// 10 fps; frame 10 starts a three-second tone and stops the timeline, so
// no later frame reports anything to the sound output.
std::vector<std::uint8_t> ToneAtOneSecond() {
  testing::SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineSound(1, {3, 3, true, false}, 44100 * 3, Tone(440, 44100 * 3));
  for (int f = 0; f < 10; ++f) b.ShowFrame();
  b.StartSound(1).DoAction(testing::Actions().Stop()).ShowFrame();
  return b.Build();
}

// Whether any sample of [from_ms, to_ms) of the playback mix is not silent.
bool Sounds(const LoopbackBus& bus, std::int64_t from_ms, std::int64_t to_ms) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(LoopbackBus::MsToFrame(to_ms) - LoopbackBus::MsToFrame(from_ms)) * 2);
  bus.Mix(audio::BusMix::kPlayback, LoopbackBus::MsToFrame(from_ms), out);
  for (std::int16_t s : out)
    if (s != 0) return true;
  return false;
}

TEST(FlashMovieControl, SoundGoesIntoTheBusAtThePlayersTimesAndKeepsGoing) {
  auto clock = std::make_shared<audio::VirtualClock>(0);
  LoopbackBus bus;  // on a wall clock of its own until the control sets it
  FlashMovieControl control(bus, clock);
  EXPECT_EQ(bus.GetClock(), clock);
  ASSERT_TRUE(control.Player().LoadMovieBytes(ToneAtOneSecond())) << control.Player().LoadError();
  for (std::int64_t t = 0; t <= 2800; t += 100) {
    clock->Set(t);
    control.AdvanceTo(t);
  }
  EXPECT_FALSE(Sounds(bus, 0, 990));
  EXPECT_TRUE(Sounds(bus, 1000, 1100));
  // Past the output's look-ahead from the start event: only the pumping as
  // the clock runs can have written this.
  EXPECT_TRUE(Sounds(bus, 2600, 2700));
  // A stop takes back what was written ahead.
  control.Stop();
  EXPECT_FALSE(Sounds(bus, 2900, 3500));
}

TEST(FlashMovieControl, SilentControlPlaysTheMovieWithoutSound) {
  FlashMovieControl control;
  EXPECT_EQ(control.Sound(), nullptr);
  ASSERT_TRUE(control.Player().LoadMovieBytes(ToneAtOneSecond()));
  control.AdvanceTo(1500);
  EXPECT_EQ(control.CurrentFrame(), 10);
  EXPECT_TRUE(control.Loaded());
  control.Unload();
  EXPECT_FALSE(control.Loaded());
}

}  // namespace
}  // namespace quarvel::flash
