// An MP3 stream cut into SoundStreamBlocks as an authoring tool does (whole
// MP3 frames per block, SeekSamples saying where the SWF frame starts), fed
// to the sound output, and a capture of it on the virtual clock.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "platform/audio/loopback_bus.h"
#include "platform/audio/wave_file.h"
#include "player/sound/sound_output.h"

namespace quarvel::player::sound {
namespace {

namespace fs = std::filesystem;
using audio::LoopbackBus;

const fs::path kMp3 = fs::path(QUARVEL_SHARED_DIR) / "corpus/generated-ffmpeg/mp3-stream-44k-stereo.ffmpeg-demux.mp3";

// Splits MPEG-1 layer III data into frames by their headers.
std::vector<std::span<const std::uint8_t>> Mp3Frames(std::span<const std::uint8_t> data) {
  static const int kBitrates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static const int kRates[] = {44100, 48000, 32000, 0};
  std::vector<std::span<const std::uint8_t>> frames;
  std::size_t at = 0;
  while (at + 4 <= data.size()) {
    if (data[at] != 0xFF || (data[at + 1] & 0xFE) != 0xFA) {  // MPEG-1 layer III sync
      ++at;
      continue;
    }
    const int bitrate = kBitrates[data[at + 2] >> 4];
    const int rate = kRates[(data[at + 2] >> 2) & 3];
    if (bitrate == 0 || rate == 0) {
      ++at;
      continue;
    }
    const std::size_t len = static_cast<std::size_t>(144 * bitrate * 1000 / rate + ((data[at + 2] >> 1) & 1));
    if (at + len > data.size()) break;
    const auto frame = data.subspan(at, len);
    at += len;
    // An encoder's Info/Xing frame carries no sound; decoders skip it.
    const std::string_view head(reinterpret_cast<const char*>(frame.data()), std::min<std::size_t>(64, len));
    if (frames.empty() && (head.find("Info") != head.npos || head.find("Xing") != head.npos)) continue;
    frames.push_back(frame);
  }
  return frames;
}

void Put16(std::vector<std::uint8_t>& v, int x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}

class Mp3Stream : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(kMp3, std::ios::binary);
    bytes = {std::istreambuf_iterator<char>(in), {}};
    if (bytes.empty()) GTEST_SKIP() << "no corpus MP3 at " << kMp3;
    frames = Mp3Frames(bytes);
    ASSERT_GT(frames.size(), 70u);
  }
  // Block of SWF frame f at `perFrame` samples a frame: the MP3 frames that
  // reach past the frame's end, starting with the one holding its start.
  std::vector<std::uint8_t> Block(int f, int perFrame, std::size_t& next) {
    const std::int64_t start = std::int64_t{f} * perFrame;
    const std::int64_t end = start + perFrame;
    std::vector<std::uint8_t> b;
    Put16(b, 0);
    Put16(b, static_cast<int>(start - static_cast<std::int64_t>(next) * 1152));
    int count = 0;
    while (static_cast<std::int64_t>(next) * 1152 < end && next < frames.size()) {
      b.insert(b.end(), frames[next].begin(), frames[next].end());
      ++next;
      count += 1152;
    }
    b[0] = static_cast<std::uint8_t>(count);
    b[1] = static_cast<std::uint8_t>(count >> 8);
    return b;
  }
  std::vector<std::uint8_t> Head(int perFrame) {
    std::vector<std::uint8_t> h = {(3 << 2) | 3, (2 << 4) | (3 << 2) | 3};
    Put16(h, perFrame);
    Put16(h, 0);
    return h;
  }

  std::vector<std::uint8_t> bytes;
  std::vector<std::span<const std::uint8_t>> frames;
};

TEST_F(Mp3Stream, FiftyFramesDecodeToTheirDurationAsOneContinuousSound) {
  auto clock = std::make_shared<audio::VirtualClock>(0);
  LoopbackBus bus(clock);
  SoundOutput out(bus);
  const int fps = 25, perFrame = 44100 / fps;  // 50 frames = 2 s, within the 2.04 s of MP3
  out.OnStreamHead(0, 45, Head(perFrame), 0);
  std::size_t next = 0;
  for (int f = 0; f < 50; ++f) out.OnStreamBlock(0, f, Block(f, perFrame, next), f * 1000 / fps);
  out.Pump(2000);
  std::vector<std::int16_t> got(static_cast<std::size_t>(3 * 44100) * 2);
  bus.Mix(audio::BusMix::kPlayback, 0, got);
  std::size_t last = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != 0) last = i / 2 + 1;
  }
  // Written up to the end of the last block (the 50th frame's MP3 frames).
  EXPECT_NEAR(static_cast<double>(last), 2000 * 44.1, 1152 + perFrame);
  EXPECT_GE(static_cast<double>(last), 2000 * 44.1 - 5);
  // The same samples as decoding the MP3 in one piece: no gap, no overlap.
  Mp3Decoder whole;
  std::vector<std::int16_t> ref;
  whole.Feed(bytes, ref);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(50 * perFrame) * 2; ++i) mismatches += got[i] != ref[i];
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(out.GetStats().streamBlocks.at(Codec::kMp3).decoded, 50);
}

TEST_F(Mp3Stream, JumpAheadHonoursSeekSamples) {
  // Start at frame 3 (after a seek). Its block opens either with the MP3
  // frame holding the frame's first sample (SeekSamples > 0: skip into it)
  // or with the next one (SeekSamples < 0: the sound starts later).
  const int perFrame = 4410;  // 10 fps
  for (bool holding : {true, false}) {
    SCOPED_TRACE(holding ? "positive SeekSamples" : "negative SeekSamples");
    auto clock = std::make_shared<audio::VirtualClock>(0);
    LoopbackBus bus(clock);
    SoundOutput out(bus);
    out.OnStreamHead(0, 45, Head(perFrame), 0);
    std::size_t next = holding ? static_cast<std::size_t>(3 * perFrame / 1152) : std::size_t{12};
    // The first MP3 frame after a restart lacks its bit reservoir: compare
    // the third block.
    for (int f = 3; f <= 5; ++f) out.OnStreamBlock(0, f, Block(f, perFrame, next), f * 100);
    std::vector<std::int16_t> got(static_cast<std::size_t>(perFrame) * 2);
    bus.Mix(audio::BusMix::kPlayback, LoopbackBus::MsToFrame(500), got);
    Mp3Decoder whole;
    std::vector<std::int16_t> ref;
    whole.Feed(bytes, ref);
    double sxy = 0, sxx = 0, syy = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
      const double x = ref[static_cast<std::size_t>(5 * perFrame) * 2 + i], y = got[i];
      sxy += x * y;
      sxx += x * x;
      syy += y * y;
    }
    EXPECT_GT(sxy / std::sqrt(sxx * syy), 0.99);
  }
}

TEST_F(Mp3Stream, CaptureOnTheVirtualClockRecordsTheCapturedTime) {
  auto clock = std::make_shared<audio::VirtualClock>(0);
  LoopbackBus bus(clock);
  auto tap = bus.OpenTap(0);
  SoundOutput out(bus);
  const int fps = 25, perFrame = 44100 / fps, latency = 250;
  out.OnStreamHead(0, 45, Head(perFrame), 0);
  std::size_t next = 0;
  int frame = 0;
  std::vector<std::int16_t> recorded;
  // The capture loop: every latency the clock moves on, the timeline runs
  // its frames, and the recorder takes the bus up to now.
  std::int64_t t = 0;
  for (; t <= 1750; t += latency) {
    clock->Set(t);
    for (; frame * 1000 / fps <= t && frame < 50; ++frame) {
      out.OnStreamBlock(0, frame, Block(frame, perFrame, next), frame * 1000 / fps);
    }
    out.Pump(t);
    tap->ReadUntil(LoopbackBus::MsToFrame(t), audio::BusMix::kRecordStereoMix, recorded);
  }
  const std::int64_t captured = t - latency;
  const fs::path dir = fs::temp_directory_path() / ("quarvel-psound-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path wav = dir / "_temp.wav";
  {
    std::ofstream f(wav, std::ios::binary);
    const auto header = audio::WaveHeader(audio::WaveFormat::Pcm(2, 44100, 16), static_cast<std::uint32_t>(recorded.size() * 2));
    f.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    f.write(reinterpret_cast<const char*>(recorded.data()), static_cast<std::streamsize>(recorded.size() * 2));
  }
  std::ifstream f(wav, std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(f), {}};
  const auto info = audio::ParseWave(file);
  const double seconds = static_cast<double>(info.data_size) / info.format.avg_bytes_per_sec;
  EXPECT_NEAR(seconds * 1000, static_cast<double>(captured), latency);
  // And it holds the movie's sound throughout.
  std::size_t silentRun = 0, longest = 0;
  for (std::size_t i = 0; i < recorded.size(); i += 2) {
    silentRun = recorded[i] == 0 ? silentRun + 1 : 0;
    longest = std::max(longest, silentRun);
  }
  EXPECT_LT(longest, 441u);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quarvel::player::sound
