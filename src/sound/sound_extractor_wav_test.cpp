// The files that "Get Sound File" writes open in other programs: FFmpeg
// reads each WAV at the sound's rate, channels and length, and decodes the
// same sound as FFmpeg's own decoders do from the original packets.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "platform/audio/wave_file.h"
#include "sound/sound_extractor.h"
#include "support/swf_builder.h"

namespace quarvel::sound {
namespace {
namespace fs = std::filesystem;
using testing::SoundFormat;
using testing::SwfBuilder;
using Bytes = std::vector<std::uint8_t>;

Bytes Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  return out;
}

// What ffprobe says of a file's first audio stream.
struct Probe {
  std::string codec;
  int rate = 0;
  int channels = 0;
  double duration = 0;
};

Probe ProbeAudio(const fs::path& file) {
  const std::string out = Shell("ffprobe -v error -select_streams a:0 -show_entries "
                                "stream=codec_name,sample_rate,channels:format=duration -of default=nw=1 '" +
                                file.string() + "'");
  Probe p;
  std::size_t at = 0;
  while (at < out.size()) {
    const std::size_t end = out.find('\n', at);
    const std::string line = out.substr(at, end - at);
    at = end == std::string::npos ? out.size() : end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "codec_name") p.codec = value;
    if (key == "sample_rate") p.rate = std::atoi(value.c_str());
    if (key == "channels") p.channels = std::atoi(value.c_str());
    if (key == "duration") p.duration = std::atof(value.c_str());
  }
  return p;
}

// Errors FFmpeg meets decoding the whole file (empty: none).
std::string DecodeErrors(const fs::path& file) {
  return Shell("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null -");
}

// The loudest sample in dB, as FFmpeg measures it.
double MaxVolume(const fs::path& file) {
  const std::string out = Shell("ffmpeg -nostdin -i '" + file.string() + "' -af volumedetect -f null -");
  const std::size_t at = out.find("max_volume:");
  return at == std::string::npos ? -1000 : std::atof(out.c_str() + at + 11);
}

// The audio packets of an FLV file, without their one-byte format prefix.
std::vector<Bytes> FlvAudioPackets(const Bytes& flv) {
  std::vector<Bytes> packets;
  std::size_t at = 9 + 4;
  while (at + 11 <= flv.size()) {
    const std::uint8_t type = flv[at];
    const std::size_t size = std::size_t{flv[at + 1]} << 16 | std::size_t{flv[at + 2]} << 8 | flv[at + 3];
    const std::size_t data = at + 11;
    if (data + size > flv.size()) break;
    if (type == 8 && size > 1) packets.emplace_back(flv.begin() + data + 1, flv.begin() + data + size);
    at = data + size + 4;
  }
  return packets;
}

class WavExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("ffprobe -version").find("ffprobe version") == std::string::npos) GTEST_SKIP() << "no ffprobe";
    char tmpl[] = "/tmp/quarvel-wav-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    setenv("QUARVEL_HOME", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  // One second of a 440 Hz tone encoded by FFmpeg into FLV, as SWF streams
  // carry the same packets.
  std::vector<Bytes> EncodedTone(const std::string& codec, int rate) {
    const fs::path flv = dir_ / (codec + ".flv");
    Shell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
          ":duration=1 -ac 1 -c:a " + codec + " '" + flv.string() + "'");
    return FlvAudioPackets(Slurp(flv));
  }
  fs::path dir_;
};

TEST_F(WavExtractTest, UncompressedEventSoundsAreWrappedAsTheyAre) {
  Bytes eight(551);  // 0.1 s at 5512 Hz, an odd size
  for (std::size_t i = 0; i < eight.size(); ++i) eight[i] = static_cast<std::uint8_t>(128 + 100 * std::sin(i * 0.5));
  Bytes sixteen(4410 * 4);  // 0.1 s of 44.1 kHz stereo, little-endian
  for (std::size_t i = 0; i < sixteen.size(); ++i) sixteen[i] = static_cast<std::uint8_t>(i * 7);
  SwfBuilder b;
  b.DefineSound(3, SoundFormat{0, 0, false, false}, 551, eight);
  b.DefineSound(4, SoundFormat{3, 3, true, true}, 4410, sixteen);
  b.WriteFile(dir_ / "pcm.swf");
  const SoundExtraction r = ExtractSounds(dir_ / "pcm.swf");
  ASSERT_EQ(r.files, (std::vector<fs::path>{dir_ / "pcm_SOUND3.WAV", dir_ / "pcm_SOUND4.WAV"}));

  const Probe p8 = ProbeAudio(r.files[0]);
  EXPECT_EQ(p8.codec, "pcm_u8");
  EXPECT_EQ(p8.rate, 5512);
  EXPECT_EQ(p8.channels, 1);
  EXPECT_NEAR(p8.duration, 551.0 / 5512, 0.002);
  const Probe p16 = ProbeAudio(r.files[1]);
  EXPECT_EQ(p16.codec, "pcm_s16le");
  EXPECT_EQ(p16.rate, 44100);
  EXPECT_EQ(p16.channels, 2);
  EXPECT_NEAR(p16.duration, 0.1, 0.002);
  for (const fs::path& f : r.files) EXPECT_EQ(DecodeErrors(f), "") << f;
  // The data chunk holds the stored samples unchanged.
  const Bytes file = Slurp(r.files[1]);
  const audio::WaveInfo info = audio::ParseWave(file);
  ASSERT_EQ(info.data_size, sixteen.size());
  EXPECT_TRUE(std::equal(sixteen.begin(), sixteen.end(), file.begin() + static_cast<std::ptrdiff_t>(info.data_offset)));
}

TEST_F(WavExtractTest, AdpcmEventSoundsDecodeAsAnotherPlayerDecodesThem) {
  // Each movie holds one 11 kHz ADPCM sound (2, 3 and 5 bits per code);
  // beside it lies that player's decoding as 16-bit samples.
  const fs::path folder = fs::path(QUARVEL_SHARED_DIR) / "corpus/swfdec/test/sound";
  if (!fs::exists(folder)) GTEST_SKIP() << "no corpus at " << folder;
  for (const char* name : {"adpcm-2-2", "adpcm-3-2", "adpcm-5-2"}) {
    SCOPED_TRACE(name);
    fs::copy_file(folder / (std::string(name) + ".swf"), dir_ / "movie.swf", fs::copy_options::overwrite_existing);
    const SoundExtraction r = ExtractSounds(dir_ / "movie.swf");
    ASSERT_EQ(r.files, std::vector<fs::path>{dir_ / "movie_SOUND1.WAV"});
    const Probe p = ProbeAudio(r.files[0]);
    EXPECT_EQ(p.codec, "pcm_s16le");
    EXPECT_EQ(p.rate, 11025);
    EXPECT_EQ(p.channels, 1);
    EXPECT_NEAR(p.duration, 3316.0 / 11025, 0.002);
    EXPECT_EQ(DecodeErrors(r.files[0]), "");

    // Their output keeps every second sample (1, 3, 5, ...) as a stereo pair.
    const Bytes wav = Slurp(r.files[0]);
    const Bytes theirs = Slurp(folder / (std::string(name) + ".swf.1.0.raw"));
    const audio::WaveInfo info = audio::ParseWave(wav);
    ASSERT_EQ(info.data_size, theirs.size());
    auto sample = [](const Bytes& b, std::size_t offset, std::size_t i) {
      return static_cast<std::int16_t>(b[offset + 2 * i] | b[offset + 2 * i + 1] << 8);
    };
    int worst = 0;
    for (std::size_t k = 0; 2 * k + 1 < theirs.size() / 2; ++k) {
      const int ours = sample(wav, info.data_offset, 2 * k + 1);
      worst = std::max({worst, std::abs(ours - sample(theirs, 0, 2 * k)), std::abs(ours - sample(theirs, 0, 2 * k + 1))});
    }
    EXPECT_EQ(worst, 0);
  }
}

TEST_F(WavExtractTest, StreamsOfEveryCodecBecomePlayableWaves) {
  struct Case {
    const char* encoder;
    int rate;
    SoundFormat format;
  };
  const Case cases[] = {
      {"adpcm_swf", 22050, SoundFormat{1, 2, true, false}},
      {"nellymoser", 16000, SoundFormat{4, 0, true, false}},
      {"libspeex", 16000, SoundFormat{11, 0, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoder);
    const std::vector<Bytes> packets = EncodedTone(c.encoder, c.rate);
    if (packets.empty()) {
      std::printf("[ skipped  ] FFmpeg here cannot encode %s\n", c.encoder);
      continue;
    }
    SwfBuilder b;
    b.SoundStreamHead(c.format, c.format, 1024).ShowFrame();
    for (const Bytes& p : packets) b.SoundStreamBlock(p).ShowFrame();
    const std::string base = std::string("tone_") + c.encoder;
    b.WriteFile(dir_ / (base + ".swf"));
    const SoundExtraction r = ExtractSounds(dir_ / (base + ".swf"));
    ASSERT_EQ(r.files, std::vector<fs::path>{dir_ / (base + "_StreamSound1.WAV")}) << r.messages.back();
    const Probe p = ProbeAudio(r.files[0]);
    EXPECT_EQ(p.codec, "pcm_s16le");
    EXPECT_EQ(p.rate, c.rate);
    EXPECT_EQ(p.channels, 1);
    // FFmpeg's own decoding of the same packets is the measure of length
    // (the encoders pad the last packet).
    const Probe flv = ProbeAudio(dir_ / (std::string(c.encoder) + ".flv"));
    EXPECT_GE(p.duration, 0.98);
    EXPECT_NEAR(p.duration, flv.duration, 0.08);
    EXPECT_EQ(DecodeErrors(r.files[0]), "");
    EXPECT_GT(MaxVolume(r.files[0]), -20.0);  // the tone, not silence
  }
}

TEST_F(WavExtractTest, NellymoserEventSoundAndASpriteStreamAreWritten) {
  const std::vector<Bytes> packets = EncodedTone("nellymoser", 16000);
  if (packets.empty()) GTEST_SKIP() << "FFmpeg here cannot encode Nellymoser";
  Bytes joined;
  for (const Bytes& p : packets) joined.insert(joined.end(), p.begin(), p.end());
  testing::Timeline sprite;
  sprite.SoundStreamHead(SoundFormat{4, 0, true, false}, SoundFormat{4, 0, true, false}, 1024).ShowFrame();
  for (const Bytes& p : packets) sprite.SoundStreamBlock(p).ShowFrame();
  sprite.End();
  SwfBuilder b;
  b.DefineSound(7, SoundFormat{4, 0, true, false}, static_cast<std::uint32_t>(joined.size() / 64 * 256), joined);
  b.DefineSprite(2, sprite).ShowFrame();
  b.WriteFile(dir_ / "nelly.swf");
  const SoundExtraction r = ExtractSounds(dir_ / "nelly.swf");
  ASSERT_EQ(r.files, (std::vector<fs::path>{dir_ / "nelly_SOUND7.WAV", dir_ / "nelly_StreamSound1.WAV"}))
      << r.messages.back();
  for (const fs::path& f : r.files) {
    SCOPED_TRACE(f.filename().string());
    const Probe p = ProbeAudio(f);
    EXPECT_EQ(p.rate, 16000);
    EXPECT_NEAR(p.duration, 1.0, 0.08);
    EXPECT_EQ(DecodeErrors(f), "");
  }
}

TEST_F(WavExtractTest, RawModeKeepsTheStoredBytes) {
  Bytes data = {1, 2, 3, 4, 5, 6};
  SwfBuilder b;
  b.DefineSound(1, SoundFormat{3, 1, true, false}, 3, data);
  b.WriteFile(dir_ / "raw.swf");
  const SoundExtraction raw = ExtractSounds(dir_ / "raw.swf", ExtractOptions{.raw = true});
  ASSERT_EQ(raw.files.size(), 1u);
  EXPECT_EQ(Slurp(raw.files[0]), (Bytes{0x36, 3, 0, 0, 0, 1, 2, 3, 4, 5, 6}));
  const SoundExtraction wav = ExtractSounds(dir_ / "raw.swf");
  EXPECT_EQ(Slurp(wav.files[0]).size(), 44u + data.size());
}

TEST_F(WavExtractTest, SoundsThatCannotBeDecodedAreNamedAndTheRestWritten) {
  SwfBuilder b;
  b.DefineSound(1, SoundFormat{9, 0, true, false}, 10, Bytes(20, 1));  // no such codec
  b.DefineSound(2, SoundFormat{0, 1, false, false}, 4, Bytes{1, 2, 3, 4});
  b.WriteFile(dir_ / "odd.swf");
  const SoundExtraction r = ExtractSounds(dir_ / "odd.swf");
  ASSERT_EQ(r.files, std::vector<fs::path>{dir_ / "odd_SOUND2.WAV"});
  const std::string& m = r.messages.back();
  EXPECT_NE(m.find("saved !\r\nSound 1 left out: "), std::string::npos) << m;
}

}  // namespace
}  // namespace quarvel::sound
