#include "platform/mci/mci.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/audio/wave_file.h"
#include "recording/audio_probe.h"

namespace quarvel::mci {
namespace {

namespace fs = std::filesystem;
using quarvel::testing::DecodeMono;
using quarvel::testing::Probe;
using quarvel::testing::Rms;
using quarvel::testing::StereoTone;
using quarvel::testing::ToneFrequency;

class MciTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = quarvel::testing::MakeTempFolder("quarvel-mci"); }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Element(const audio::WaveFormat& format, const std::string& name = "rec.wav") {
    const fs::path p = dir_ / name;
    const auto header = audio::WaveHeader(format, 0, format.format_tag == audio::kWaveFormatPcm
                                                         ? std::nullopt
                                                         : std::optional<std::uint32_t>(0));
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(header.data()),
                                             static_cast<std::streamsize>(header.size()));
    return p;
  }

  // Plays a 1 kHz tone from clock time 0 and records 0 .. `ms` in steps.
  void RecordTone(DeviceId id, int ms) {
    bus_.Write(audio::BusSource::kWaveOut, 0, StereoTone(1000, ms));
    ASSERT_EQ(mci_.Record(id), kOk);
    for (int t = 0; t < ms; t += ms / 4) {
      clock_->Set(t);
      std::this_thread::sleep_for(std::chrono::milliseconds(25));  // let the recording thread take some
    }
    clock_->Set(ms);
    ASSERT_EQ(mci_.Stop(id), kOk);
  }

  fs::path dir_;
  std::shared_ptr<audio::VirtualClock> clock_ = std::make_shared<audio::VirtualClock>();
  audio::LoopbackBus bus_{clock_};
  Mci mci_{bus_};
};

TEST_F(MciTest, OpenRejectsWhatItCannotRecordInto) {
  DeviceId id = 0;
  EXPECT_EQ(mci_.Open(dir_ / "missing.wav", id), kErrFileNotFound);
  std::ofstream(dir_ / "text.wav") << "not a wave file at all";
  EXPECT_EQ(mci_.Open(dir_ / "text.wav", id), kErrInvalidFile);
  EXPECT_EQ(mci_.Open(Element(audio::WaveFormat::Pcm(2, 44100, 24), "24bit.wav"), id), kErrInvalidFile);
  audio::WaveFormat mp3 = audio::WaveFormat::Pcm(1, 22050, 16);
  mp3.format_tag = 0x55;
  EXPECT_EQ(mci_.Open(Element(mp3, "mp3.wav"), id), kErrInvalidFile);
  EXPECT_EQ(mci_.OpenCount(), 0u);
  EXPECT_EQ(mci_.Record(42), kErrInvalidDeviceId);
  EXPECT_EQ(mci_.Close(42), kErrInvalidDeviceId);
}

TEST_F(MciTest, PcmRecordingHoldsExactlyTheClockTime) {
  DeviceId id = 0;
  const fs::path element = Element(audio::WaveFormat::Pcm(2, 44100, 16));
  ASSERT_EQ(mci_.Open(element, id), kOk);
  RecordTone(id, 2000);
  ASSERT_EQ(mci_.Save(id, element), kOk);
  ASSERT_EQ(mci_.Close(id), kOk);

  EXPECT_EQ(fs::file_size(element), 44u + 2000u * 441u / 10u * 4u);
  const auto info = Probe(element);
  EXPECT_EQ(info.codec_name, "pcm_s16le");
  EXPECT_EQ(info.sample_rate, 44100);
  EXPECT_EQ(info.channels, 2);
  EXPECT_NEAR(info.duration, 2.0, 0.02);
  const auto samples = DecodeMono(element, 44100);
  EXPECT_NEAR(ToneFrequency(samples, 44100), 1000.0, 5.0);
}

TEST_F(MciTest, AdpcmRecordingHasTrueByteRateAndTone) {
  DeviceId id = 0;
  // A header with the nominal byte rate that some encoders write.
  audio::WaveFormat nominal = audio::WaveFormat::ImaAdpcm(1, 22050, 512);
  nominal.avg_bytes_per_sec = 16000;
  const fs::path element = Element(nominal);
  ASSERT_EQ(mci_.Open(element, id), kOk);
  RecordTone(id, 2000);
  ASSERT_EQ(mci_.Save(id, element), kOk);
  ASSERT_EQ(mci_.Close(id), kOk);

  std::ifstream in(element, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  const audio::WaveInfo wave = audio::ParseWave(bytes);
  EXPECT_EQ(wave.format.avg_bytes_per_sec, 22050u * 512u / 1017u);
  EXPECT_EQ(wave.fact_samples, 44100u);
  EXPECT_EQ(wave.data_size % 512, 0u);

  const auto info = Probe(element);
  EXPECT_EQ(info.codec_name, "adpcm_ima_wav");
  EXPECT_EQ(info.sample_rate, 22050);
  EXPECT_EQ(info.channels, 1);
  EXPECT_NEAR(info.duration, 2.0, 0.02);
  EXPECT_NEAR(ToneFrequency(DecodeMono(element, 22050), 22050), 1000.0, 5.0);
}

TEST_F(MciTest, RecordsTheSelectedInputOnly) {
  DeviceId id = 0;
  const fs::path element = Element(audio::WaveFormat::Pcm(1, 11025, 8));
  ASSERT_EQ(mci_.Open(element, id), kOk);
  bus_.SetRecordSource(audio::RecordSource::kLineIn);
  RecordTone(id, 400);  // the tone goes to wave out, the recording takes line in
  ASSERT_EQ(mci_.Save(id, element), kOk);
  const auto silent = DecodeMono(element, 11025);
  EXPECT_NEAR(static_cast<double>(silent.size()), 4410.0, 2.0);
  EXPECT_LT(Rms(silent), 300.0);  // 8-bit silence decodes near zero

  // A second record on the same device appends; the microphone gives
  // silence on a machine without one, for exactly the clock's time.
  bus_.SetRecordSource(audio::RecordSource::kMicrophone);
  ASSERT_EQ(mci_.Record(id), kOk);
  clock_->Set(600);
  ASSERT_EQ(mci_.Stop(id), kOk);
  ASSERT_EQ(mci_.Save(id, element), kOk);
  EXPECT_NEAR(static_cast<double>(DecodeMono(element, 11025).size()), 6615.0, 2.0);
  ASSERT_EQ(mci_.Close(id), kOk);
}

TEST_F(MciTest, FailedSaveUnderAnotherNameLeavesTheRecording) {
  DeviceId id = 0;
  const fs::path element = Element(audio::WaveFormat::Pcm(2, 44100, 16));
  ASSERT_EQ(mci_.Open(element, id), kOk);
  RecordTone(id, 200);
  EXPECT_EQ(mci_.Save(id, dir_ / "no-such-folder" / "x.wav"), kErrFileNotSaved);
  EXPECT_NEAR(Probe(element).duration, 0.2, 0.01);
  EXPECT_TRUE(mci_.ErrorText(id).empty());
  // Close while recording stops the recording first.
  ASSERT_EQ(mci_.Record(id), kOk);
  EXPECT_EQ(mci_.Close(id), kOk);
  EXPECT_EQ(mci_.OpenCount(), 0u);
}

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// The file while the recording runs, as a killed process would leave it.
TEST_F(MciTest, RecordingStreamsToTheFileWithAValidHeader) {
  for (const auto& format : {audio::WaveFormat::Pcm(2, 44100, 16), audio::WaveFormat::ImaAdpcm(1, 44100, 1024)}) {
    SCOPED_TRACE(format.format_tag);
    DeviceId id = 0;
    const fs::path element = Element(format);
    ASSERT_EQ(mci_.Open(element, id), kOk);
    const std::int64_t start = clock_->NowMs();
    bus_.WriteAtMs(audio::BusSource::kWaveOut, start, StereoTone(1000, 20000));
    ASSERT_EQ(mci_.Record(id), kOk);
    clock_->Set(start + 20000);  // 20 s of sound, far more than the writer's buffer
    // The writer catches up with the clock on its own thread, the header
    // following the data; a loaded machine (or the sanitizers) only slows it.
    audio::WaveInfo wave;
    std::vector<std::uint8_t> bytes;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      bytes = ReadAll(element);
      wave = audio::ParseWave(bytes);
      if (wave.data_size > format.avg_bytes_per_sec * 19u && wave.data_offset + wave.data_size == bytes.size()) break;
    }
    // The declared data is on disk, and it is nearly all the sound so far.
    EXPECT_EQ(wave.data_offset + wave.data_size, bytes.size()) << mci_.ErrorText(id);
    EXPECT_GT(wave.data_size, format.avg_bytes_per_sec * 19u);
    EXPECT_NEAR(Probe(element).duration, 20.0, 0.5);
    ASSERT_EQ(mci_.Save(id, element), kOk);
    EXPECT_NEAR(Probe(element).duration, 20.0, 0.03);
    ASSERT_EQ(mci_.Close(id), kOk);
  }
}

// A write that fails on the recording thread (here: the file size limit, as
// a full disk would) ends the recording; save names the file and the cause,
// and what reached the disk is still a valid recording.
TEST_F(MciTest, WriteFailureOnTheRecordingThreadIsReportedBySave) {
  DeviceId id = 0;
  const fs::path element = Element(audio::WaveFormat::Pcm(2, 44100, 16));
  ASSERT_EQ(mci_.Open(element, id), kOk);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = 1 << 20;
  setrlimit(RLIMIT_FSIZE, &limit);
  ASSERT_EQ(mci_.Record(id), kOk);
  clock_->Set(10000);  // 1.7 MB of samples
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::uint32_t saved = mci_.Save(id, element);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(saved, kErrFileNotSaved);
  const std::string why = mci_.ErrorText(id);
  EXPECT_NE(why.find(element.string()), std::string::npos) << why;
  EXPECT_NE(why.find(std::strerror(EFBIG)), std::string::npos) << why;
  const auto bytes = ReadAll(element);
  const audio::WaveInfo wave = audio::ParseWave(bytes);
  EXPECT_GT(wave.data_size, 0u);
  EXPECT_LE(wave.data_offset + wave.data_size, bytes.size());
  EXPECT_EQ(mci_.Close(id), kOk);
}

}  // namespace
}  // namespace quarvel::mci
