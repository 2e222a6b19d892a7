#include "sound/wave_recorder.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/paths/working_folder.h"
#include "recording/audio_probe.h"
#include "sound/recording_file.h"

namespace quarvel::sound {
namespace {

namespace fs = std::filesystem;

// An MCI whose close fails a given number of times.
class StickyCloseMci : public mci::Mci {
 public:
  using Mci::Mci;
  std::uint32_t Close(mci::DeviceId id) override {
    closes.push_back(id);
    if (failures > 0) {
      --failures;
      return mci::kErrNonapplicableFunction;
    }
    return Mci::Close(id);
  }
  int failures = 0;
  std::vector<mci::DeviceId> closes;
};

class WaveRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = quarvel::testing::MakeTempFolder("quarvel-recorder");
    setenv("QUARVEL_HOME", home_.c_str(), 1);
    fs::create_directories(paths::CaptureFolder());
    recorder_.SetMessageSink([this](const RecorderMessage& m) {
      EXPECT_EQ(m.caption, "Error:");
      messages_.push_back(m.text);
    });
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    fs::remove_all(home_);
  }

  // One capture: a 1 kHz tone plays for `ms` of virtual time.
  bool Capture(int quality, int ms = 2000) {
    clock_->Set(0);
    bus_.Write(audio::BusSource::kWaveOut, 0, quarvel::testing::StereoTone(1000, ms));
    recorder_.StartRecording(paths::RecordingFilePath(), quality);
    clock_->Set(ms / 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    clock_->Set(ms);
    return recorder_.SaveRecording();
  }

  fs::path home_;
  std::shared_ptr<audio::VirtualClock> clock_ = std::make_shared<audio::VirtualClock>();
  audio::LoopbackBus bus_{clock_};
  StickyCloseMci mci_{bus_};
  WaveRecorder recorder_{mci_};
  std::vector<std::string> messages_;
};

TEST_F(WaveRecorderTest, EveryFormatRecordsTheToneForTheCapturedTime) {
  const struct { int quality; const char* codec; int rate; int channels; } cases[] = {
      {0, "adpcm_ima_wav", 11025, 1},
      {1, "adpcm_ima_wav", 22050, 1},
      {2, "adpcm_ima_wav", 44100, 1},
      {3, "pcm_s16le", 44100, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(kSoundQualityEntries[static_cast<std::size_t>(c.quality)]);
    fs::remove(paths::RecordingFilePath());
    ASSERT_TRUE(Capture(c.quality));
    EXPECT_FALSE(recorder_.IsOpen());
    const auto info = quarvel::testing::Probe(paths::RecordingFilePath());
    EXPECT_EQ(info.codec_name, c.codec);
    EXPECT_EQ(info.sample_rate, c.rate);
    EXPECT_EQ(info.channels, c.channels);
    EXPECT_NEAR(info.duration, 2.0, 0.02);
    const int rate = c.rate;
    EXPECT_NEAR(quarvel::testing::ToneFrequency(quarvel::testing::DecodeMono(paths::RecordingFilePath(), rate), rate),
                1000.0, 5.0);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WaveRecorderTest, PcmEntryStartsFromTheBareHeader) {
  ASSERT_TRUE(recorder_.StartRecording(paths::RecordingFilePath(), kPcmSoundQuality));
  EXPECT_EQ(fs::file_size(paths::RecordingFilePath()), 44u);
  EXPECT_TRUE(recorder_.IsOpen());
  EXPECT_EQ(recorder_.ElementFileName(), paths::RecordingFilePath());
  recorder_.Close();
  EXPECT_FALSE(recorder_.IsOpen());
  recorder_.Close();  // nothing open: nothing happens
  EXPECT_EQ(mci_.closes.size(), 1u);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WaveRecorderTest, NoEntrySelectedGivesBothMessages) {
  EXPECT_FALSE(Capture(-1));
  EXPECT_EQ(messages_, (std::vector<std::string>{std::string(kInitErrorText), std::string(kSaveErrorText)}));
  EXPECT_FALSE(fs::exists(paths::RecordingFilePath()));
}

TEST_F(WaveRecorderTest, MissingTemplateGivesBothMessagesAndNoFile) {
  // The working folder's copy comes first; a folder there cannot be copied.
  fs::create_directory(home_ / "adpcm1.wav");
  EXPECT_FALSE(Capture(0));
  EXPECT_EQ(messages_, (std::vector<std::string>{std::string(kInitErrorText), std::string(kSaveErrorText)}));
  EXPECT_FALSE(fs::exists(paths::RecordingFilePath()));
}

TEST_F(WaveRecorderTest, UnwritableCaptureFolderCannotInit) {
  fs::remove_all(paths::CaptureFolder());
  EXPECT_FALSE(recorder_.StartRecording(paths::RecordingFilePath(), kPcmSoundQuality));
  EXPECT_EQ(messages_, std::vector<std::string>{std::string(kInitErrorText)});
  EXPECT_FALSE(recorder_.IsOpen());
}

TEST_F(WaveRecorderTest, DeviceLeftOpenByAFailedCloseIsClosedByTheNextStart) {
  mci_.failures = 1;
  ASSERT_TRUE(Capture(kPcmSoundQuality, 300));
  ASSERT_TRUE(recorder_.IsOpen());  // the close failed silently
  const mci::DeviceId old = recorder_.DeviceId();

  fs::remove(paths::RecordingFilePath());
  ASSERT_TRUE(Capture(kPcmSoundQuality, 500));
  ASSERT_GE(mci_.closes.size(), 3u);
  EXPECT_EQ(mci_.closes[1], old);  // closed again before the new open
  EXPECT_NE(mci_.closes[2], old);
  EXPECT_EQ(mci_.OpenCount(), 0u);
  EXPECT_NEAR(quarvel::testing::Probe(paths::RecordingFilePath()).duration, 0.5, 0.02);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WaveRecorderTest, ALostRecordingIsReported) {
  ASSERT_TRUE(recorder_.StartRecording(paths::RecordingFilePath(), kPcmSoundQuality));
  fs::remove_all(paths::CaptureFolder());  // the save has nowhere to go
  EXPECT_FALSE(recorder_.SaveRecording());
  EXPECT_EQ(messages_, std::vector<std::string>{std::string(kSaveErrorText)});
  EXPECT_FALSE(recorder_.IsOpen());
}

}  // namespace
}  // namespace quarvel::sound
