// The ALSA playback and capture code on a machine without a sound card:
// the test's own ALSA configuration makes "default" the file plugin over
// the null plugin, so what is played lands in a file and what is captured
// comes from one.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/audio/alsa_device.h"
#include "platform/audio/wave_file.h"
#include "platform/mci/mci.h"
#include "recording/audio_probe.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::int16_t> ReadRaw(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

std::vector<std::int16_t> Left(const std::vector<std::int16_t>& stereo) {
  std::vector<std::int16_t> out;
  for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) out.push_back(stereo[i]);
  return out;
}

class AlsaPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempFolder("quarvel-alsa");
    const auto tone = StereoTone(1000, 3000);
    std::ofstream(dir_ / "in.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(tone.data()), static_cast<std::streamsize>(tone.size() * 2));
    std::ofstream(dir_ / "asound.conf")
        << "pcm.!default {\n  type asym\n"
        << "  playback.pcm { type file; slave.pcm \"quarvelnull\"; file \"" << (dir_ / "out.raw").string()
        << "\"; format \"raw\" }\n"
        << "  capture.pcm { type file; slave.pcm \"quarvelnull\"; file \"/dev/null\"; infile \""
        << (dir_ / "in.raw").string() << "\"; format \"raw\" }\n}\n"
        << "pcm.quarvelnull { type null }\n";
    ::setenv("ALSA_CONFIG_PATH", (dir_ / "asound.conf").c_str(), 1);
    snd_config_update_free_global();  // read the configuration anew
  }
  void TearDown() override {
    ::unsetenv("ALSA_CONFIG_PATH");
    snd_config_update_free_global();
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(AlsaPluginTest, PlaybackPlaysTheBusMix) {
  ASSERT_TRUE(audio::PcmDeviceAvailable("default", SND_PCM_STREAM_PLAYBACK));
  auto clock = std::make_shared<audio::WallClock>();
  audio::LoopbackBus bus(clock);
  bus.WriteAtMs(audio::BusSource::kWaveOut, clock->NowMs(), StereoTone(1000, 2000));
  audio::AlsaOutput out(bus);
  ASSERT_TRUE(out.Start());
  std::this_thread::sleep_for(800ms);
  EXPECT_TRUE(out.Running());
  out.Stop();
  const auto played = Left(ReadRaw(dir_ / "out.raw"));
  // What the clock allowed in 0.8 s, give or take the device's buffering.
  EXPECT_GT(played.size(), 44100u * 4 / 10);
  EXPECT_LT(played.size(), 44100u * 2);
  EXPECT_NEAR(ToneFrequency(played, 44100), 1000.0, 10.0);
  EXPECT_GT(Rms(played), 4000.0);
}

TEST_F(AlsaPluginTest, CaptureReadsTheDevicesInput) {
  audio::AlsaCapture in;
  ASSERT_TRUE(in.Open());
  std::vector<std::int16_t> got;
  for (int i = 0; i < 50 && got.size() < 44100u; ++i) {
    in.ReadAvailable(got);
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_GT(got.size(), 2u * 4410u);
  const auto expected = StereoTone(1000, 3000);
  const std::size_t n = std::min(got.size(), expected.size());
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n), expected.begin()));
}

// "Microphone" as the recording source: the recorder takes the ALSA capture
// device, for exactly the clock's time.
TEST_F(AlsaPluginTest, RecordingTheMicrophoneTakesTheCaptureDevice) {
  auto clock = std::make_shared<audio::WallClock>();
  audio::LoopbackBus bus(clock);
  bus.SetRecordSource(audio::RecordSource::kMicrophone);
  mci::Mci mci(bus);
  const fs::path element = dir_ / "rec.wav";
  const auto header = audio::WaveHeader(audio::WaveFormat::Pcm(2, 44100, 16), 0);
  std::ofstream(element, std::ios::binary)
      .write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  mci::DeviceId id = 0;
  ASSERT_EQ(mci.Open(element, id), mci::kOk);
  ASSERT_EQ(mci.Record(id), mci::kOk);
  std::this_thread::sleep_for(1s);
  ASSERT_EQ(mci.Save(id, element), mci::kOk);
  ASSERT_EQ(mci.Close(id), mci::kOk);
  const auto probe = Probe(element);
  EXPECT_NEAR(probe.duration, 1.0, 0.2);
  const auto samples = DecodeMono(element, 44100);
  // The file plugin delivers faster than the clock, so the recorder keeps
  // only the latest second of it: the tone arrives in spliced pieces, so
  // the frequency is judged per 10 ms and the median taken.
  std::vector<double> freqs;
  for (std::size_t at = 0; at + 441 <= samples.size(); at += 441) {
    freqs.push_back(ToneFrequency(std::vector<std::int16_t>(samples.begin() + static_cast<std::ptrdiff_t>(at),
                                                            samples.begin() + static_cast<std::ptrdiff_t>(at + 441)),
                                  44100));
  }
  ASSERT_FALSE(freqs.empty());
  std::nth_element(freqs.begin(), freqs.begin() + static_cast<std::ptrdiff_t>(freqs.size() / 2), freqs.end());
  EXPECT_NEAR(freqs[freqs.size() / 2], 1000.0, 30.0);
  EXPECT_GT(Rms(samples), 4000.0);
}

}  // namespace
}  // namespace quarvel::testing
