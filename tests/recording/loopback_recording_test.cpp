// The recorder, the loopback mixer and the bus together: what the mixer's
// controls are set to is what ends up in the recording.

#include <gtest/gtest.h>

#include "platform/mixer/loopback_mixer.h"
#include "platform/paths/working_folder.h"
#include "recording/audio_probe.h"
#include "sound/mixer_setup.h"
#include "sound/recording_file.h"
#include "sound/wave_recorder.h"

namespace quarvel {
namespace {

namespace fs = std::filesystem;

class LoopbackRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testing::MakeTempFolder("quarvel-loopback");
    setenv("QUARVEL_HOME", home_.c_str(), 1);
    fs::create_directories(paths::CaptureFolder());
    recorder_.SetMessageSink([](const sound::RecorderMessage& m) { ADD_FAILURE() << m.text; });
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    fs::remove_all(home_);
  }

  // RMS of a 1 kHz tone at amplitude 12000 played for 500 ms and recorded.
  double RecordedLevel(int quality = sound::kPcmSoundQuality) {
    clock_->Advance(1000);
    const std::int64_t start = clock_->NowMs();
    bus_.WriteAtMs(audio::BusSource::kWaveOut, start, testing::StereoTone(1000, 500));
    EXPECT_TRUE(recorder_.StartRecording(paths::RecordingFilePath(), quality));
    clock_->Set(start + 500);
    EXPECT_TRUE(recorder_.SaveRecording());
    return testing::Rms(testing::DecodeMono(paths::RecordingFilePath(), 44100));
  }

  fs::path home_;
  std::shared_ptr<audio::VirtualClock> clock_ = std::make_shared<audio::VirtualClock>();
  audio::LoopbackBus bus_{clock_};
  mixer::LoopbackMixer driver_{bus_};
  mci::Mci mci_{bus_};
  sound::WaveRecorder recorder_{mci_};
};

TEST_F(LoopbackRecordingTest, StartupSelectsTheStereoMix) {
  const sound::StartupSelection s = sound::RunStartupSelection(driver_);
  EXPECT_EQ(s.recording_lines, (std::vector<std::string>{"Microphone", "Line In", "Stereo Mix"}));
  EXPECT_EQ(s.selected_line, 2);
  EXPECT_EQ(s.master_volume, 100);
  EXPECT_EQ(s.recording_volume, 100);
  EXPECT_EQ(bus_.GetRecordSource(), audio::RecordSource::kStereoMix);
  EXPECT_EQ(bus_.Level(audio::BusLevel::kWaveOut), 62258);  // 95 %
}

TEST_F(LoopbackRecordingTest, VolumesScaleTheRecordedLevel) {
  sound::RunStartupSelection(driver_);
  const double full = 12000 / std::sqrt(2.0);
  EXPECT_NEAR(RecordedLevel(), full * 0.95, full * 0.02);

  sound::RecordingVolumeChanged(driver_, 2, 50);
  EXPECT_NEAR(RecordedLevel(), full * 0.95 * 0.5, full * 0.02);

  sound::WaveOutVolumeChanged(driver_, 20);
  EXPECT_NEAR(RecordedLevel(), full * 0.2 * 0.5, full * 0.02);

  // ADPCM recordings follow the same levels.
  EXPECT_NEAR(RecordedLevel(sound::kDefaultSoundQuality), full * 0.2 * 0.5, full * 0.02);

  sound::MasterVolumeChanged(driver_, 0);
  EXPECT_LT(RecordedLevel(), 2.0);
}

TEST_F(LoopbackRecordingTest, RecordingLineChoosesTheInput) {
  sound::RunStartupSelection(driver_);
  // Line In takes nothing of what wave out plays.
  EXPECT_EQ(sound::RecordingLineChanged(driver_, 1), 100);
  EXPECT_EQ(bus_.GetRecordSource(), audio::RecordSource::kLineIn);
  EXPECT_LT(RecordedLevel(), 2.0);

  // What is written to line in is recorded there.
  clock_->Advance(1000);
  const std::int64_t start = clock_->NowMs();
  bus_.WriteAtMs(audio::BusSource::kLineIn, start, testing::StereoTone(500, 400));
  ASSERT_TRUE(recorder_.StartRecording(paths::RecordingFilePath(), sound::kPcmSoundQuality));
  clock_->Set(start + 400);
  ASSERT_TRUE(recorder_.SaveRecording());
  EXPECT_NEAR(testing::ToneFrequency(testing::DecodeMono(paths::RecordingFilePath(), 44100), 44100), 500.0, 3.0);

  EXPECT_EQ(sound::RecordingLineChanged(driver_, 2), 100);
  EXPECT_EQ(bus_.GetRecordSource(), audio::RecordSource::kStereoMix);
}

}  // namespace
}  // namespace quarvel
