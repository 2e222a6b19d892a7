#include "player/sound/sound_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace quarvel::player::sound {
namespace {

using audio::LoopbackBus;

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

// 16-bit little-endian mono PCM at 44100 Hz: a sine of `hz` for `frames` frames.
std::vector<std::uint8_t> DefineSine(int id, double hz, std::uint32_t frames, int amplitude = 10000) {
  std::vector<std::uint8_t> b;
  Put16(b, static_cast<unsigned>(id));
  b.push_back((3 << 4) | (3 << 2) | 2);
  Put32(b, frames);
  for (std::uint32_t i = 0; i < frames; ++i) {
    Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * hz * i / 44100.0))));
  }
  return b;
}

// A constant level (easier to check envelopes and loops).
std::vector<std::uint8_t> DefineFlat(int id, std::uint32_t frames, std::int16_t level) {
  std::vector<std::uint8_t> b;
  Put16(b, static_cast<unsigned>(id));
  b.push_back((3 << 4) | (3 << 2) | 2);
  Put32(b, frames);
  for (std::uint32_t i = 0; i < frames; ++i) Put16(b, static_cast<std::uint16_t>(level));
  return b;
}

struct Info {
  bool syncStop = false, noMultiple = false;
  std::optional<std::uint32_t> in, out;
  int loops = 0;
  std::vector<EnvelopePoint> env;
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> b;
    b.push_back(static_cast<std::uint8_t>((syncStop ? 0x20 : 0) | (noMultiple ? 0x10 : 0) | (!env.empty() ? 0x08 : 0) |
                                          (loops ? 0x04 : 0) | (out ? 0x02 : 0) | (in ? 0x01 : 0)));
    if (in) Put32(b, *in);
    if (out) Put32(b, *out);
    if (loops) Put16(b, static_cast<unsigned>(loops));
    if (!env.empty()) {
      b.push_back(static_cast<std::uint8_t>(env.size()));
      for (const auto& p : env) {
        Put32(b, p.pos44);
        Put16(b, p.left);
        Put16(b, p.right);
      }
    }
    return b;
  }
};

class SoundOutputTest : public ::testing::Test {
 protected:
  std::shared_ptr<audio::VirtualClock> clock = std::make_shared<audio::VirtualClock>(0);
  LoopbackBus bus{clock};

  std::vector<std::int16_t> Read(std::int64_t fromMs, std::int64_t toMs) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(LoopbackBus::MsToFrame(toMs) - LoopbackBus::MsToFrame(fromMs)) * 2);
    bus.Mix(audio::BusMix::kPlayback, LoopbackBus::MsToFrame(fromMs), out);
    return out;
  }
  // First and last+1 frame (absolute) holding a non-zero sample in [0, toMs).
  std::pair<std::int64_t, std::int64_t> Extent(std::int64_t toMs) {
    const auto s = Read(0, toMs);
    std::int64_t first = -1, last = -1;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] != 0) {
        if (first < 0) first = static_cast<std::int64_t>(i / 2);
        last = static_cast<std::int64_t>(i / 2) + 1;
      }
    }
    return {first, last};
  }
};

TEST_F(SoundOutputTest, EventSoundStartsAtItsTimeWithItsPitchAndLength) {
  SoundOutput out(bus);
  const auto def = DefineSine(1, 440, 22050);
  out.OnDefineSound(1, def);
  const auto info = Info{}.Bytes();
  out.OnStartSound(1, {}, info, 1000);
  out.Pump(2000);
  const auto [first, last] = Extent(3000);
  EXPECT_NEAR(first, 44100, 2);
  EXPECT_NEAR(last, 44100 + 22050, 2);
  const auto s = Read(1000, 1500);
  int crossings = 0;
  for (std::size_t i = 2; i < s.size(); i += 2) crossings += (s[i - 2] < 0) != (s[i] < 0);
  EXPECT_NEAR(crossings / 2.0 / 0.5, 440.0, 4.0);
  EXPECT_EQ(out.GetStats().eventSounds.at(Codec::kPcmLittle).decoded, 1);
}

TEST_F(SoundOutputTest, LoopCountRepeatsTheSegment) {
  SoundOutput out(bus);
  const auto def = DefineSine(1, 441, 4410);  // 100 ms, whole periods
  out.OnDefineSound(1, def);
  Info i;
  i.loops = 3;
  out.OnStartSound(1, {}, i.Bytes(), 0);
  out.Pump(1000);
  const auto [first, last] = Extent(1000);
  EXPECT_LE(first, 1);
  EXPECT_NEAR(last, 3 * 4410, 2);
  const auto s = Read(0, 300);
  for (std::size_t k = 0; k < 4410 * 2; ++k) {
    ASSERT_EQ(s[k], s[k + 4410 * 2]);
    ASSERT_EQ(s[k], s[k + 2 * 4410 * 2]);
  }
}

TEST_F(SoundOutputTest, StopTakesBackWhatWasWrittenAhead) {
  SoundOutput out(bus);
  out.OnDefineSound(1, DefineFlat(1, 44100 * 3, 5000));
  out.OnStartSound(1, {}, Info{}.Bytes(), 0);
  out.Pump(500);  // written up to 1500 ms by now
  out.OnStop(700);
  out.Pump(2000);
  const auto [first, last] = Extent(4000);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, LoopbackBus::MsToFrame(700));
  EXPECT_EQ(out.PlayingVoices(), 0);
}

TEST_F(SoundOutputTest, SyncStopAndNoMultiple) {
  SoundOutput out(bus);
  out.OnDefineSound(1, DefineFlat(1, 44100, 1000));
  Info once;
  once.noMultiple = true;
  out.OnStartSound(1, {}, Info{}.Bytes(), 0);
  out.OnStartSound(1, {}, once.Bytes(), 100);  // still playing: refused
  out.Pump(200);
  EXPECT_EQ(Read(150, 160)[0], 1000);
  Info stop;
  stop.syncStop = true;
  out.OnStartSound(1, {}, stop.Bytes(), 300);
  out.Pump(1400);
  EXPECT_EQ(Extent(2000).second, LoopbackBus::MsToFrame(300));
  out.OnStartSound(1, {}, once.Bytes(), 1500);  // nothing plays now: starts
  out.Pump(3000);
  EXPECT_EQ(Read(1600, 1610)[0], 1000);
  EXPECT_EQ(out.GetStats().voicesStarted, 2);
}

TEST_F(SoundOutputTest, InOutPointsAndEnvelope) {
  SoundOutput out(bus);
  // Ramp 0, 1, 2, ... so that positions can be read back.
  std::vector<std::uint8_t> def;
  Put16(def, 1);
  def.push_back((3 << 4) | (3 << 2) | 2);
  Put32(def, 20000);
  for (unsigned i = 0; i < 20000; ++i) Put16(def, i);
  out.OnDefineSound(1, def);
  Info i;
  i.in = 1000;
  i.out = 3000;
  i.env = {{0, 0, 32768}, {2000, 32768, 0}};
  out.OnStartSound(1, {}, i.Bytes(), 0);
  out.Pump(1000);
  const auto s = Read(0, 100);
  EXPECT_EQ(s[1], 1000);  // right channel, full level at the start
  EXPECT_EQ(s[0], 0);     // left, silent at the start
  EXPECT_EQ(s[2 * 1000 + 0], (1000 + 1000) / 2);  // halfway: half level of sample 2000
  EXPECT_EQ(s[2 * 1000 + 1], (1000 + 1000) / 2);
  EXPECT_EQ(Extent(1000).second, 2000);
}

TEST_F(SoundOutputTest, BadInputIsReportedAndSkipped) {
  SoundOutput out(bus);
  const std::uint8_t cut[] = {1, 0};
  out.OnDefineSound(1, cut);
  out.OnStartSound(1, {}, Info{}.Bytes(), 0);
  out.OnStartSound(9, {}, Info{}.Bytes(), 0);
  out.OnDefineSound(2, DefineFlat(2, 100, 1));
  const std::uint8_t badInfo[] = {0x01, 0};  // in point cut off
  out.OnStartSound(2, {}, badInfo, 0);
  out.OnStartSound(0, "Music", Info{}.Bytes(), 0);
  const std::uint8_t block[] = {0, 0};
  out.OnStreamBlock(0, 0, block, 0);
  EXPECT_EQ(out.Problems().size(), 5u);
  EXPECT_EQ(out.PlayingVoices(), 0);
  EXPECT_EQ(Extent(1000).first, -1);
}

// Head for a 16-bit mono PCM stream at 44100 Hz with `perFrame` samples a frame.
std::vector<std::uint8_t> PcmHead(unsigned perFrame) {
  std::vector<std::uint8_t> b = {(3 << 2) | 2, (3 << 4) | (3 << 2) | 2};
  Put16(b, perFrame);
  return b;
}

std::vector<std::uint8_t> PcmBlock(std::size_t from, std::size_t n, double hz) {
  std::vector<std::uint8_t> b;
  for (std::size_t i = from; i < from + n; ++i) {
    Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * hz * static_cast<double>(i) / 44100.0))));
  }
  return b;
}

TEST_F(SoundOutputTest, StreamBlocksFollowTheirFramesAndSeekCuts) {
  SoundOutput out(bus);
  // 10 fps, 4410 samples a frame.
  out.OnStreamHead(0, 18, PcmHead(4410), 0);
  for (int f = 0; f < 20; ++f) {
    out.OnStreamBlock(0, f, PcmBlock(static_cast<std::size_t>(f) * 4410, 4410, 441), f * 100);
  }
  out.Pump(2000);
  // One continuous sine: each sample equals the source at its position.
  const auto s = Read(0, 2000);
  for (std::size_t i = 0; i < 88200; i += 97) {
    ASSERT_EQ(s[2 * i], static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 441 * static_cast<double>(i) / 44100.0))) << i;
  }
  // A jump back (GotoFrame 0) at 2050 ms: the stream restarts there.
  out.OnStreamBlock(0, 20, PcmBlock(20 * 4410, 4410, 441), 2000);
  out.OnSeek(0, 0, 2050);
  EXPECT_EQ(Extent(3000).second, LoopbackBus::MsToFrame(2050));
  out.OnStreamBlock(0, 0, PcmBlock(0, 4410, 441), 2050);
  EXPECT_EQ(Extent(3000).second, LoopbackBus::MsToFrame(2050) + 4410);
  EXPECT_EQ(out.GetStats().streamBlocks.at(Codec::kPcmLittle).decoded, 22);
}

// A stream whose blocks hold less than their frames lags the timeline and
// goes on at its cursor, in the past of the player's time: the bus stays
// unsettled from there, so the next block still lands whole. A stream that
// gets no more blocks holds the bus back no further than its tolerance.
TEST_F(SoundOutputTest, PumpSettlesTheBusUpToTheEarliestFrameStillToBeWritten) {
  {
    SoundOutput out(bus);
    out.OnStreamHead(0, 18, PcmHead(4410), 0);  // 10 fps
    for (int f = 0; f < 4; ++f) out.OnStreamBlock(0, f, PcmBlock(static_cast<std::size_t>(f) * 3000, 3000, 441), f * 100);
    out.Pump(300);
    EXPECT_EQ(bus.SettledFrame(), 4 * 3000);
    out.OnStreamBlock(0, 4, PcmBlock(4 * 3000, 3000, 441), 400);
    out.Pump(400);
    const auto s = Read(0, 400);
    for (std::size_t i = 0; i < 15000; i += 37) {
      ASSERT_EQ(s[2 * i], static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 441 * static_cast<double>(i) / 44100.0))) << i;
    }
    out.Pump(5000);
    EXPECT_EQ(bus.SettledFrame(), LoopbackBus::MsToFrame(5000) - (2 * 4410 + 2304));
    out.OnStop(5000);
    out.Pump(6000);
    EXPECT_EQ(bus.SettledFrame(), LoopbackBus::MsToFrame(6000));
  }
  EXPECT_EQ(bus.SettledFrame(), std::numeric_limits<std::int64_t>::max());
}

TEST_F(SoundOutputTest, TimelineStopEndsOnlyThatStream) {
  SoundOutput out(bus);
  out.OnDefineSound(1, DefineFlat(1, 44100 * 2, 100));
  out.OnStartSound(1, {}, Info{}.Bytes(), 0);
  out.OnStreamHead(0, 18, PcmHead(44100), 0);
  out.OnStreamBlock(0, 0, PcmBlock(0, 44100, 441), 0);
  out.OnStreamHead(7, 18, PcmHead(44100), 0);
  out.OnStreamBlock(7, 0, PcmBlock(0, 44100, 441), 0);
  out.Pump(100);
  // A sprite's stop action at 400 ms: its stream ends, the main stream and
  // the event sound play on.
  out.OnTimelineStop(7, 400);
  out.Pump(2000);
  const auto s = Read(0, 2000);
  const auto at = [](std::int64_t ms) { return static_cast<std::size_t>(LoopbackBus::MsToFrame(ms)) * 2; };
  const auto main = [](std::int64_t ms) {
    return static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 441 * static_cast<double>(LoopbackBus::MsToFrame(ms)) / 44100.0));
  };
  EXPECT_EQ(s[at(300)], 100 + 2 * main(300));
  EXPECT_EQ(s[at(500)], 100 + main(500));
  EXPECT_EQ(s[at(1500)], 100);
  // Stop-all-sounds ends the event sound as well.
  out.OnStartSound(1, {}, Info{}.Bytes(), 2000);
  out.Pump(2100);
  out.OnStopAllSounds(2200);
  out.Pump(4000);
  EXPECT_EQ(Extent(4000).second, LoopbackBus::MsToFrame(2200));
  EXPECT_EQ(out.PlayingVoices(), 0);
}

TEST_F(SoundOutputTest, UnloadSilencesAndForgetsSounds) {
  SoundOutput out(bus);
  out.OnDefineSound(1, DefineFlat(1, 44100 * 2, 100));
  out.OnStartSound(1, {}, Info{}.Bytes(), 0);
  out.OnStreamHead(0, 18, PcmHead(4410), 0);
  out.OnStreamBlock(0, 0, PcmBlock(0, 44100, 441), 0);
  out.Pump(250);
  out.OnUnload(250);
  EXPECT_EQ(Extent(3000).second, LoopbackBus::MsToFrame(250));
  out.OnStartSound(1, {}, Info{}.Bytes(), 300);
  EXPECT_EQ(out.PlayingVoices(), 0);
}

}  // namespace
}  // namespace quarvel::player::sound

namespace quarvel::player::sound {
namespace {

// Damaged data of every codec must be reported or played as noise, never
// crash or throw into the player.
TEST(SoundOutputRobustness, RandomDataInEveryCodec) {
  auto clock = std::make_shared<audio::VirtualClock>(0);
  audio::LoopbackBus bus(clock);
  SoundOutput out(bus);
  std::mt19937 rng(5);
  auto bytes = [&](std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
  };
  const int codecs[] = {0, 1, 2, 3, 4, 5, 6, 11};
  int id = 1;
  std::int64_t t = 0;
  for (int codec : codecs) {
    for (int round = 0; round < 6; ++round, ++id, t += 20) {
      std::vector<std::uint8_t> def = {static_cast<std::uint8_t>(id), 0,
                                       static_cast<std::uint8_t>((codec << 4) | (rng() & 0x0F))};
      const auto count = bytes(4);
      def.insert(def.end(), count.begin(), count.end());
      def[5] &= 0x01;  // keep sample counts sane
      def[6] = 0;
      const auto data = bytes(rng() % 3000);
      def.insert(def.end(), data.begin(), data.end());
      out.OnDefineSound(id, def);
      const std::uint8_t info[] = {0};
      EXPECT_NO_THROW(out.OnStartSound(id, {}, info, t));
      const std::vector<std::uint8_t> head = {0x0F, static_cast<std::uint8_t>((codec << 4) | (rng() & 0x0F)), 0x10, 0x01, 0, 0};
      EXPECT_NO_THROW(out.OnStreamHead(0, 45, head, t));
      for (int f = 0; f < 3; ++f) EXPECT_NO_THROW(out.OnStreamBlock(0, f, bytes(rng() % 1500), t));
      out.Pump(t);
    }
  }
  EXPECT_NO_THROW(out.OnUnload(t));
}

}  // namespace
}  // namespace quarvel::player::sound
