#include "sound/recording_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/audio/wave_file.h"
#include "platform/paths/working_folder.h"
#include "recording/audio_probe.h"

namespace quarvel::sound {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class RecordingFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = quarvel::testing::MakeTempFolder("quarvel-recfile");
    setenv("QUARVEL_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    fs::remove_all(home_);
  }
  fs::path home_;
};

TEST_F(RecordingFileTest, PcmHeaderIsTheExact44Bytes) {
  const std::array<std::uint8_t, 44> expected = {
      'R', 'I', 'F', 'F', 36, 0, 0, 0,  'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0,
      2,   0,   0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
  EXPECT_EQ(PcmRecordingHeader(), expected);

  // Written as the whole file, replacing a longer one.
  const fs::path p = home_ / "_temp.wav";
  std::ofstream(p) << std::string(1000, 'x');
  ASSERT_TRUE(PrepareRecordingFile("", p));
  const auto bytes = ReadAll(p);
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(expected.begin(), expected.end()));

  EXPECT_FALSE(PrepareRecordingFile("", home_ / "missing-folder" / "_temp.wav"));
}

TEST_F(RecordingFileTest, TemplatesAreCopiedAndAMissingOneLeavesNoFile) {
  const fs::path p = home_ / "_temp.wav";
  ASSERT_TRUE(PrepareRecordingFile("adpcm2.wav", p));
  EXPECT_EQ(ReadAll(p), ReadAll(paths::ExecutableFolder() / "adpcm2.wav"));

  fs::remove(p);
  EXPECT_TRUE(PrepareRecordingFile("no-such-template.wav", p));  // the open after it reports the failure
  EXPECT_FALSE(fs::exists(p));

  EXPECT_EQ(TemplateForSoundQuality(0), "adpcm1.wav");
  EXPECT_EQ(TemplateForSoundQuality(3), "");
  EXPECT_EQ(TemplateForSoundQuality(-1), "");
  EXPECT_TRUE(Mp3ExportAvailable(kPcmSoundQuality));
  EXPECT_FALSE(Mp3ExportAvailable(kDefaultSoundQuality));
}

TEST_F(RecordingFileTest, BuiltTemplatesAreEmptyImaAdpcmWithTrueByteRates) {
  const struct { const char* name; std::uint32_t rate; std::uint16_t block; } cases[] = {
      {"adpcm1.wav", 11025, 256}, {"adpcm2.wav", 22050, 512}, {"adpcm3.wav", 44100, 1024}};
  for (const auto& c : cases) {
    const fs::path p = paths::ExecutableFolder() / c.name;
    const auto bytes = ReadAll(p);
    ASSERT_FALSE(bytes.empty()) << p;
    const audio::WaveInfo info = audio::ParseWave(bytes);
    EXPECT_EQ(info.format, audio::WaveFormat::ImaAdpcm(1, c.rate, c.block)) << c.name;
    EXPECT_EQ(info.format.avg_bytes_per_sec,
              c.rate * c.block / info.format.SamplesPerBlock()) << c.name;
    EXPECT_EQ(info.data_size, 0u);

    const auto probe = quarvel::testing::Probe(p);
    EXPECT_EQ(probe.codec_name, "adpcm_ima_wav") << c.name;
    EXPECT_EQ(probe.sample_rate, static_cast<int>(c.rate));
    EXPECT_EQ(probe.channels, 1);
    // ffprobe's bit rate is the header's byte rate: the true one, not a nominal 16000.
    EXPECT_EQ(probe.bit_rate, 8 * (c.rate * c.block / info.format.SamplesPerBlock()));
  }
}

}  // namespace
}  // namespace quarvel::sound
