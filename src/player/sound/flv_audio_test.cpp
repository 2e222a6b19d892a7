// The sound of FLV files in each format the Flash Player plays, decoded
// tag by tag as a NetStream hands them out, against the ffmpeg program's
// decoding of the same file.
#include "player/sound/flv_audio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/sound/sound_format.h"

namespace quarvel::player::sound {
namespace {

namespace fs = std::filesystem;

struct Folder {
  fs::path path = fs::temp_directory_path() / ("quarvel-flv-audio-" + std::to_string(::getpid()));
  Folder() { fs::create_directories(path); }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool Shell(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

// The bodies of the audio tags of an FLV file, in order.
std::vector<std::vector<std::uint8_t>> AudioTags(const std::vector<std::uint8_t>& flv) {
  std::vector<std::vector<std::uint8_t>> out;
  std::size_t p = flv.size() >= 9 ? flv[8] + 4u : flv.size();
  while (p + 11 <= flv.size()) {
    const std::size_t size = (std::size_t{flv[p + 1]} << 16) | (std::size_t{flv[p + 2]} << 8) | flv[p + 3];
    if (p + 11 + size > flv.size()) break;
    if (flv[p] == 8) out.emplace_back(flv.begin() + static_cast<std::ptrdiff_t>(p + 11), flv.begin() + static_cast<std::ptrdiff_t>(p + 11 + size));
    p += 11 + size + 4;
  }
  return out;
}

// Mono samples: level and pitch (crossings of zero per second).
struct Measure {
  double seconds = 0, rms = 0, hz = 0;
};
Measure Of(const std::vector<std::int16_t>& interleaved, int channels, int rate) {
  Measure m;
  const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
  if (frames == 0) return m;
  std::vector<double> mono(frames);
  double sum = 0;
  for (std::size_t i = 0; i < frames; ++i) {
    double v = 0;
    for (int c = 0; c < channels; ++c) v += interleaved[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
    mono[i] = v / channels;
    sum += mono[i] * mono[i];
  }
  m.seconds = static_cast<double>(frames) / rate;
  m.rms = std::sqrt(sum / static_cast<double>(frames));
  // Upward crossings with hysteresis, so that coding noise near zero does
  // not count.
  const double t = m.rms / 4;
  int crossings = 0;
  bool low = false;
  for (double v : mono) {
    if (v < -t) low = true;
    if (low && v > t) ++crossings, low = false;
  }
  m.hz = crossings / m.seconds;
  return m;
}

struct Case {
  const char* codec;  // ffmpeg encoder
  int rate;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.codec; }

class FlvAudio : public ::testing::TestWithParam<Case> {};

TEST_P(FlvAudio, DecodesAsFfmpegDoes) {
  if (!Shell("ffmpeg -hide_banner -loglevel quiet -version > /dev/null 2>&1")) GTEST_SKIP() << "no ffmpeg program";
  const Case& c = GetParam();
  static Folder folder;
  const fs::path flv = folder.path / (std::string(c.codec) + ".flv");
  const fs::path raw = folder.path / (std::string(c.codec) + ".s16");
  if (!Shell("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i sine=f=440:r=44100 -t 1 -ac 1 -c:a " +
           std::string(c.codec) + " -ar " + std::to_string(c.rate) + " '" + flv.string() + "'")) {
    GTEST_SKIP() << "ffmpeg cannot encode " << c.codec << " here";
  }
  ASSERT_TRUE(Shell("ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + flv.string() + "' -f s16le -ac 1 '" +
                  raw.string() + "'"));
  const auto rawBytes = ReadBytes(raw);
  std::vector<std::int16_t> expected(rawBytes.size() / 2);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    expected[i] = static_cast<std::int16_t>(rawBytes[2 * i] | (rawBytes[2 * i + 1] << 8));
  }
  const Measure want = Of(expected, 1, c.rate);

  FlvAudioDecoder dec;
  std::vector<std::int16_t> got;
  int rate = 0, channels = 0;
  for (const auto& tag : AudioTags(ReadBytes(flv))) {
    Pcm pcm;
    dec.Decode(tag, pcm);
    if (pcm.samples.empty()) continue;
    rate = pcm.rate, channels = pcm.channels;
    got.insert(got.end(), pcm.samples.begin(), pcm.samples.end());
  }
  ASSERT_GT(rate, 0);
  EXPECT_EQ(rate, c.rate);
  const Measure ours = Of(got, channels, rate);
  EXPECT_NEAR(ours.seconds, want.seconds, 0.05);
  EXPECT_NEAR(ours.rms / want.rms, 1.0, 0.05);
  EXPECT_NEAR(ours.hz / want.hz, 1.0, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Formats, FlvAudio,
                         ::testing::Values(Case{"pcm_s16le", 11025}, Case{"pcm_u8", 22050}, Case{"adpcm_swf", 22050},
                                           Case{"libmp3lame", 44100}, Case{"nellymoser", 22050},
                                           Case{"libspeex", 16000}, Case{"aac", 44100}),
                         [](const auto& info) { return std::string(info.param.codec); });

TEST(FlvAudioErrors, UnplayableFormatsAreNamed) {
  FlvAudioDecoder dec;
  Pcm pcm;
  try {
    dec.Decode(std::vector<std::uint8_t>{0x7E, 1, 2, 3}, pcm);  // G.711 A-law
    FAIL() << "decoded A-law";
  } catch (const SoundError& e) {
    EXPECT_NE(std::string(e.what()).find("A-law"), std::string::npos) << e.what();
  }
  // AAC frames before their configuration.
  EXPECT_THROW(dec.Decode(std::vector<std::uint8_t>{0xAF, 1, 0x21, 0x10}, pcm), SoundError);
  // A tag with no body decodes nothing.
  dec.Decode({}, pcm);
  EXPECT_TRUE(pcm.samples.empty());
}

}  // namespace
}  // namespace quarvel::player::sound
