#include "platform/audio/loopback_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

namespace quarvel::audio {
namespace {

std::vector<std::int16_t> Constant(std::size_t frames, std::int16_t left, std::int16_t right) {
  std::vector<std::int16_t> v;
  for (std::size_t i = 0; i < frames; ++i) {
    v.push_back(left);
    v.push_back(right);
  }
  return v;
}

class LoopbackBusTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
  LoopbackBus bus_{clock_};
};

TEST_F(LoopbackBusTest, SourcesAddAndLevelsScale) {
  bus_.Write(BusSource::kWaveOut, 100, Constant(10, 1000, -1000));
  bus_.Write(BusSource::kWaveOut, 105, Constant(10, 500, 500));
  bus_.Write(BusSource::kLineIn, 100, Constant(10, 30000, 30000));

  std::vector<std::int16_t> out(2 * 20);
  bus_.Mix(BusMix::kPlayback, 98, out);
  EXPECT_EQ(out[0], 0);                 // frame 98: nothing written
  EXPECT_EQ(out[2 * 2], 31000);         // frame 100: wave out + line in
  EXPECT_EQ(out[2 * 7 + 1], 29500);     // frame 105: both wave writes and line in
  EXPECT_EQ(out[2 * 11], 31500);        // frame 109: the last frame of the first write and of line in
  EXPECT_EQ(out[2 * 12], 500);          // frame 110: only the second wave write

  // Sums past 16 bits saturate instead of wrapping.
  bus_.Write(BusSource::kLineIn, 100, Constant(1, 30000, 30000));
  bus_.Mix(BusMix::kPlayback, 100, std::span(out).first(2));
  EXPECT_EQ(out[0], 32767);

  bus_.SetLevel(BusLevel::kMaster, LoopbackBus::kFullLevel / 2);
  bus_.SetLevel(BusLevel::kLineIn, 0);
  bus_.Mix(BusMix::kPlayback, 100, std::span(out).first(2));
  EXPECT_NEAR(out[0], 500, 1);
  bus_.SetMute(BusMute::kWaveOut, true);
  bus_.Mix(BusMix::kPlayback, 100, std::span(out).first(2));
  EXPECT_EQ(out[0], 0);
}

TEST_F(LoopbackBusTest, RecordingMixesFollowTheirOwnLevels) {
  bus_.Write(BusSource::kWaveOut, 0, Constant(4, 8000, 8000));
  bus_.Write(BusSource::kLineIn, 0, Constant(4, 2000, 2000));
  bus_.SetLevel(BusLevel::kWaveOut, LoopbackBus::kFullLevel / 2);
  bus_.SetLevel(BusLevel::kRecordStereoMix, LoopbackBus::kFullLevel / 4);
  std::vector<std::int16_t> out(2);
  bus_.Mix(BusMix::kRecordStereoMix, 0, out);
  EXPECT_NEAR(out[0], (4000 + 2000) / 4, 2);
  bus_.Mix(BusMix::kRecordLineIn, 0, out);
  EXPECT_EQ(out[0], 2000);  // the line-in recording ignores the playback levels
}

TEST_F(LoopbackBusTest, TapsReadInOrderAndHoldTheirData) {
  auto tap = bus_.OpenTap(0);
  bus_.Write(BusSource::kWaveOut, 0, Constant(3 * kBusRate, 7, 7));
  // Far past the retention window: the tap still finds every frame.
  clock_->Set(60'000);
  bus_.Write(BusSource::kWaveOut, LoopbackBus::MsToFrame(60'000), Constant(1, 9, 9));
  std::vector<std::int16_t> got;
  tap->ReadUntil(kBusRate, BusMix::kPlayback, got);
  tap->ReadUntil(kBusRate, BusMix::kPlayback, got);  // no new range, nothing added
  tap->ReadUntil(3 * kBusRate + 1, BusMix::kPlayback, got);
  ASSERT_EQ(got.size(), static_cast<std::size_t>(2 * (3 * kBusRate + 1)));
  EXPECT_EQ(got.front(), 7);
  EXPECT_EQ(got[got.size() - 3], 7);
  EXPECT_EQ(got.back(), 0);
  EXPECT_EQ(tap->Position(), 3 * kBusRate + 1);
}

TEST_F(LoopbackBusTest, OldDataIsDroppedWithoutTapsAndClockRestartsAreFollowed) {
  bus_.Write(BusSource::kWaveOut, 0, Constant(10, 5, 5));
  clock_->Set(10'000);
  bus_.Write(BusSource::kWaveOut, 0, Constant(10, 5, 5));  // too late: trimmed away
  std::vector<std::int16_t> out(2);
  bus_.Mix(BusMix::kPlayback, 0, out);
  EXPECT_EQ(out[0], 0);

  // A capture on a fresh virtual time line starts again from zero.
  clock_->Set(0);
  bus_.Write(BusSource::kWaveOut, 0, Constant(10, 5, 5));
  bus_.Mix(BusMix::kPlayback, 0, out);
  EXPECT_EQ(out[0], 5);

  // Writes far ahead of the held span are cut rather than grown without bound.
  bus_.Write(BusSource::kWaveOut, 10 * LoopbackBus::kMaxSpanFrames, Constant(10, 5, 5));
  bus_.Mix(BusMix::kPlayback, 10 * LoopbackBus::kMaxSpanFrames, out);
  EXPECT_EQ(out[0], 0);
}

// A writer's hold: writes before the lowest mark are dropped (a reader may
// have taken those frames), a mark never goes back, and a new time line
// (the clock restarted) lowers the marks of the old one.
TEST_F(LoopbackBusTest, HoldsDropWritesToSettledFrames) {
  EXPECT_EQ(bus_.SettledFrame(), std::numeric_limits<std::int64_t>::max());
  auto a = bus_.OpenHold(100);
  auto b = bus_.OpenHold(300);
  EXPECT_EQ(bus_.SettledFrame(), 100);
  a->SettleTo(50);
  EXPECT_EQ(a->Mark(), 100);
  a->SettleTo(400);
  EXPECT_EQ(bus_.SettledFrame(), 300);

  bus_.Write(BusSource::kWaveOut, 200, Constant(200, 10, 10));
  std::vector<std::int16_t> out(2 * 200);
  bus_.Mix(BusMix::kPlayback, 200, out);
  EXPECT_EQ(out[2 * 99], 0);    // frame 299: settled, dropped
  EXPECT_EQ(out[2 * 100], 10);  // frame 300 on: kept
  EXPECT_EQ(out[2 * 199], 10);

  b.reset();
  EXPECT_EQ(bus_.SettledFrame(), 400);
  a.reset();
  bus_.Write(BusSource::kWaveOut, 200, Constant(1, 10, 10));
  bus_.Mix(BusMix::kPlayback, 200, std::span(out).first(2));
  EXPECT_EQ(out[0], 10);

  clock_->Set(60'000);
  auto c = bus_.OpenHold(LoopbackBus::MsToFrame(60'000));
  bus_.Write(BusSource::kWaveOut, LoopbackBus::MsToFrame(60'000), Constant(1, 5, 5));
  clock_->Set(0);
  bus_.Write(BusSource::kWaveOut, 0, Constant(1, 5, 5));
  bus_.Mix(BusMix::kPlayback, 0, std::span(out).first(2));
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(bus_.SettledFrame(), 0);
}

// A writer on a clock that runs far ahead of a reader (a virtual-time
// capture and its recorder) waits for the reader instead of losing sound.
TEST_F(LoopbackBusTest, WritesWaitForALaggingReader) {
  auto tap = bus_.OpenTap(0);
  constexpr std::int64_t kSeconds = 300;  // well past the kept span
  std::vector<std::int16_t> got;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load() || tap->Position() < bus_.NowFrame()) {
      tap->ReadUntil(std::min(tap->Position() + kBusRate, bus_.NowFrame()), BusMix::kPlayback, got);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (std::int64_t s = 0; s < kSeconds; ++s) {
    clock_->Set(s * 1000);
    bus_.Write(BusSource::kWaveOut, s * kBusRate, Constant(kBusRate, 100, 100));
  }
  clock_->Set(kSeconds * 1000);
  done.store(true);
  reader.join();
  ASSERT_EQ(got.size(), static_cast<std::size_t>(kSeconds * kBusRate * 2));
  EXPECT_EQ(std::count(got.begin(), got.end(), 100), static_cast<std::ptrdiff_t>(got.size()));
}

}  // namespace
}  // namespace quarvel::audio
