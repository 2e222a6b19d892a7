#include "sound/mp3_export.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/audio/wave_file.h"
#include "platform/paths/working_folder.h"
#include "recording/audio_probe.h"

namespace quarvel::sound {
namespace {

namespace fs = std::filesystem;

TEST(RunAndWait, ReturnsTheExitCodeOrMinusOne) {
  EXPECT_EQ(RunAndWait({"sh", "-c", "exit 3"}), 3);
  EXPECT_EQ(RunAndWait({"/bin/true"}), 0);
  EXPECT_EQ(RunAndWait({"sh", "-c", "kill -9 $$"}), 128 + 9);
  EXPECT_EQ(RunAndWait({"quarvel-no-such-program"}), -1);
  EXPECT_EQ(RunAndWait({"/nonexistent/lame"}), -1);
  EXPECT_EQ(RunAndWait({}), -1);
  // Arguments arrive whole, without a shell in between.
  EXPECT_EQ(RunAndWait({"sh", "-c", "test \"$1\" = 'a \"b\" $c;'", "x", "a \"b\" $c;"}), 0);
}

TEST(Mp3Export, CommandLineFollowsTheBitRateList) {
  EXPECT_EQ(Mp3CommandLine("lame", Mp3BitRateForEntry(1), "/w/temp/_temp.wav", "/o/a b.mp3"),
            (std::vector<std::string>{"lame", "-b", "224", "-h", "-q", "2", "-d", "/w/temp/_temp.wav", "/o/a b.mp3"}));
  EXPECT_EQ(Mp3BitRateForEntry(0), 128);
  EXPECT_EQ(Mp3BitRateForEntry(-1), 128);
}

class Mp3ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = quarvel::testing::MakeTempFolder("quarvel mp3 'home'");
    setenv("QUARVEL_HOME", home_.c_str(), 1);
    fs::create_directories(paths::CaptureFolder());
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    fs::remove_all(home_);
  }
  void WriteRecording(int ms) {
    const auto tone = quarvel::testing::StereoTone(440, ms);
    const auto header = audio::WaveHeader(audio::WaveFormat::Pcm(2, 44100, 16),
                                          static_cast<std::uint32_t>(tone.size() * 2));
    std::ofstream out(paths::RecordingFilePath(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(tone.data()), static_cast<std::streamsize>(tone.size() * 2));
  }
  fs::path home_;
};

TEST_F(Mp3ExportTest, EncodesAtTheChosenBitRateWhateverTheName) {
  if (RunAndWait({"sh", "-c", "command -v lame >/dev/null"}) != 0) GTEST_SKIP() << "lame is not installed";
  WriteRecording(1500);
  const fs::path out_dir = home_ / "out put";
  fs::create_directories(out_dir);
  const struct { int entry; const char* name; std::int64_t rate; } cases[] = {
      {1, "my \"song\" it's.mp3", 224000}, {0, "-dash $(x).mp3", 128000}};
  for (const auto& c : cases) {
    // A relative name, beginning with a dash, is still taken as a file.
    const fs::path target = c.name[0] == '-' ? fs::relative(out_dir / c.name) : out_dir / c.name;
    const Mp3ExportResult r = ExportMp3(target, c.entry);
    EXPECT_EQ(r.exit_code, 0) << r.error;
    EXPECT_EQ(r.frame_label, "MP3 Create");
    EXPECT_TRUE(r.error.empty());
    const auto info = quarvel::testing::Probe(out_dir / c.name);
    EXPECT_EQ(info.codec_name, "mp3");
    EXPECT_EQ(info.bit_rate, c.rate);
    EXPECT_NEAR(info.duration, 1.5, 0.1);
  }
}

TEST_F(Mp3ExportTest, QuietKeepsTheEncodersOwnOutputOffTheTerminal) {
  if (RunAndWait({"sh", "-c", "command -v lame >/dev/null"}) != 0) GTEST_SKIP() << "lame is not installed";
  WriteRecording(500);
  // The encoder writes to the standard error it inherits from us.
  ::testing::internal::CaptureStderr();
  const Mp3ExportResult loud = ExportMp3(home_ / "loud.mp3", 0);
  const std::string loud_text = ::testing::internal::GetCapturedStderr();
  ::testing::internal::CaptureStderr();
  const Mp3ExportResult quiet = ExportMp3(home_ / "quiet.mp3", 0, true);
  const std::string quiet_text = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(loud.exit_code, 0) << loud.error;
  EXPECT_EQ(quiet.exit_code, 0) << quiet.error;
  EXPECT_FALSE(loud_text.empty());
  EXPECT_EQ(quiet_text, "");
  EXPECT_NEAR(quarvel::testing::Probe(home_ / "quiet.mp3").duration, 0.5, 0.1);
}

TEST_F(Mp3ExportTest, AFailedRunStillEndsWithTheLabelAndSaysWhy) {
  // No recording file: the encoder fails.
  if (RunAndWait({"sh", "-c", "command -v lame >/dev/null"}) != 0) GTEST_SKIP() << "lame is not installed";
  const Mp3ExportResult r = ExportMp3(home_ / "x.mp3", 0);
  EXPECT_NE(r.exit_code, 0);
  EXPECT_EQ(r.frame_label, "MP3 Create");
  EXPECT_NE(r.error.find("_temp.wav"), std::string::npos) << r.error;
}

}  // namespace
}  // namespace quarvel::sound
