// The samples of sounds as scripts read them: SoundMixer.computeSpectrum
// against the sound's own samples and a naive DFT, Sound.extract against
// FFmpeg's decoding of the same MP3 file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "player/flash_player.h"
#include "player/library/mp3_sound.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;

std::vector<std::string> Lines(const std::string& traced) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (std::size_t bar; (bar = traced.find('|', at)) != std::string::npos; at = bar + 1)
    out.push_back(traced.substr(at, bar - at));
  return out;
}

// trace(bytes.readFloat()) `n` times from the start of the ByteArray in `local`.
void TraceFloats(As3Movie& m, AbcCode& c, int local, int n) {
  c.Op("getlocal", {local}).Op("pushbyte", {0}).Op("setproperty", {m.Q("position")});
  for (int i = 0; i < n; ++i)
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal", {local}).Op("callproperty", {m.Q("readFloat"), 0})
        .Op("callpropvoid", {m.Q("trace"), 1});
}

std::vector<std::uint8_t> Le16(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> out;
  for (std::int16_t v : samples) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  return out;
}

// |X_k| * 2 / N of `x`, k < N / 2, capped at 1, the sum written out.
std::vector<double> NaiveSpectrum(const std::vector<double>& x) {
  const std::size_t n = x.size();
  std::vector<double> out(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    std::complex<double> sum;
    for (std::size_t t = 0; t < n; ++t)
      sum += x[t] * std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(k * t % n) / static_cast<double>(n));
    out[k] = std::min(1.0, std::abs(sum) * 2 / static_cast<double>(n));
  }
  return out;
}

// A second of 16-bit stereo: on the left a sine on the 8th of 512 DFT bins
// at half scale, on the right one on the 20th at a quarter.
struct Tone {
  static constexpr int kFrames = 44100;
  std::vector<std::int16_t> left, right;
  Tone() {
    for (int i = 0; i < kFrames; ++i) {
      left.push_back(static_cast<std::int16_t>(std::lround(16384 * std::sin(2 * std::numbers::pi * 8 * i / 512))));
      right.push_back(static_cast<std::int16_t>(std::lround(8192 * std::sin(2 * std::numbers::pi * 20 * i / 512 + 0.3))));
    }
  }
  std::vector<double> Side(bool r, std::size_t from, std::size_t n, std::size_t step = 1) const {
    std::vector<double> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back((r ? right : left)[from + i * step] / 32768.0);
    return out;
  }
};

// Every frame the movie traces the channel's position, then computeSpectrum
// as a waveform, as a spectrum, and as a waveform of every second sample.
TEST(As3SoundSamples, ComputeSpectrumGivesThePlayingSoundsWaveAndItsSpectrum) {
  const Tone tone;
  As3Movie d;
  d.LinkedClass("Tone", {d.Events("EventDispatcher"), d.a.PackageName("flash.media", "Sound")}, 5);
  d.defineTags = [&](testing::SwfBuilder& b) {
    std::vector<std::int16_t> interleaved;
    for (int i = 0; i < Tone::kFrames; ++i) interleaved.insert(interleaved.end(), {tone.left[i], tone.right[i]});
    b.DefineSound(5, {.format = 3, .rate = 3, .is16Bit = true, .stereo = true}, Tone::kFrames, Le16(interleaved));
  };
  const auto mixer = d.a.PackageName("flash.media", "SoundMixer");
  const auto bytesClass = d.a.PackageName("flash.utils", "ByteArray");
  AbcCode tick;
  tick.Op("getlocal_0").Op("pushscope");
  tick.Op("findpropstrict", {bytesClass}).Op("constructprop", {bytesClass, 0}).Op("setlocal_1");
  d.TraceValue(tick, "at ", [&] { tick.Op("getglobalscope").Op("getproperty", {d.Q("ch")}).Op("getproperty", {d.Q("position")}); });
  for (const auto& [fft, stretch] : std::vector<std::pair<bool, int>>{{false, 0}, {true, 0}, {false, 1}}) {
    tick.Op("getlex", {mixer}).Op("getlocal_1").Op(fft ? "pushtrue" : "pushfalse").Op("pushbyte", {stretch})
        .Op("callpropvoid", {d.Q("computeSpectrum"), 3});
    TraceFloats(d, tick, 1, 512);
  }
  tick.Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        // The channel is kept on the script's global object (Main is sealed).
        c.Op("getglobalscope").Op("findpropstrict", {m.Q("Tone")}).Op("constructprop", {m.Q("Tone"), 0})
            .Op("callproperty", {m.Q("play"), 0}).Op("setproperty", {m.Q("ch")});
        c.Op("getlocal_0").Op("pushstring", {m.S("enterFrame")}).Op("getlocal_0").Op("getproperty", {m.Q("tick")})
            .Op("callpropvoid", {m.Q("addEventListener"), 2});
      },
      1, {{"tick", tick}});
  const std::string traced = testing::As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); });
  const auto lines = Lines(traced);
  ASSERT_GE(lines.size(), 1537u) << traced.substr(0, 2000);
  int blocks = 0, moving = 0;
  double lastAt = -1;
  for (std::size_t at = 0; at + 1537 <= lines.size(); at += 1537) {
    ASSERT_EQ(lines[at].rfind("at ", 0), 0u) << lines[at];
    const double position = std::stod(lines[at].substr(3));
    moving += position > lastAt;
    lastAt = position;
    ++blocks;
    auto read = [&](std::size_t call, bool right) {
      std::vector<double> out;
      for (std::size_t i = 0; i < 256; ++i) out.push_back(std::stod(lines[at + 1 + call * 512 + (right ? 256 : 0) + i]));
      return out;
    };
    // The first sample is the one playing at the channel's position (give or
    // take the rounding of a millisecond into samples).
    const auto first = static_cast<long>(std::floor(position * 44.1));
    long found = -1;
    for (long s = first - 1; s <= first + 1 && found < 0; ++s) {
      if (s < 0) continue;
      const auto want = tone.Side(false, static_cast<std::size_t>(s), 256);
      const auto got = read(0, false);
      bool same = true;
      for (std::size_t i = 0; i < 256 && same; ++i) same = std::fabs(got[i] - want[i]) < 1e-6;
      if (same) found = s;
    }
    ASSERT_GE(found, 0) << "no waveform at position " << position;
    const auto from = static_cast<std::size_t>(found);
    for (bool right : {false, true}) {
      const auto wave = read(0, right), want = tone.Side(right, from, 256);
      for (std::size_t i = 0; i < 256; ++i) EXPECT_NEAR(wave[i], want[i], 1e-6) << right << " " << i;
      const auto spectrum = read(1, right), naive = NaiveSpectrum(tone.Side(right, from, 512));
      for (std::size_t k = 0; k < 256; ++k) EXPECT_NEAR(spectrum[k], naive[k], 1e-4) << right << " bin " << k;
      // A sine on a bin reads its amplitude there.
      EXPECT_NEAR(spectrum[right ? 20 : 8], right ? 0.25 : 0.5, 1e-3);
      const auto stretched = read(2, right), halved = tone.Side(right, from, 256, 2);
      for (std::size_t i = 0; i < 256; ++i) EXPECT_NEAR(stretched[i], halved[i], 1e-6) << right << " " << i;
    }
  }
  EXPECT_GE(blocks, 2);
  EXPECT_EQ(moving, blocks);  // the wave follows the clock
}

// No channel playing: silence, whichever mode.
TEST(As3SoundSamples, ComputeSpectrumIsSilentWithNothingPlaying) {
  As3Movie d;
  const auto mixer = d.a.PackageName("flash.media", "SoundMixer");
  const auto bytesClass = d.a.PackageName("flash.utils", "ByteArray");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {bytesClass}).Op("constructprop", {bytesClass, 0}).Op("setlocal_1");
    c.Op("getlex", {mixer}).Op("getlocal_1").Op("pushtrue").Op("callpropvoid", {m.Q("computeSpectrum"), 2});
    m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("length")}); });
    c.Op("getlocal_1").Op("pushshort", {300}).Op("setproperty", {m.Q("position")});
    m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("callproperty", {m.Q("readFloat"), 0}); });
    c.Op("getlex", {mixer}).Op("pushnull").Op("callpropvoid", {m.Q("computeSpectrum"), 1});
  });
  const std::string out = testing::As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.rfind("2048|0|TypeError: Error #2007", 0), 0u) << out;
}

// The 16-bit stereo float samples of an MP3 file FFmpeg decodes, or none.
std::vector<float> FfmpegDecoded(const std::filesystem::path& mp3) {
  const auto raw = mp3.string() + ".f32";
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + mp3.string() +
                          "' -f f32le -ac 2 -ar 44100 '" + raw + "'";
  if (std::system(cmd.c_str()) != 0) return {};
  std::ifstream in(raw, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<float> out(bytes.size() / 4);
  std::memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

// extract(bytes, 64, 20000) then extract(bytes, 64) going on: 128 stereo
// frames matching FFmpeg's decoding of the same file; past the end, none.
TEST(As3SoundSamples, ExtractGivesTheDecodedMp3AsFFmpegDecodesIt) {
  const auto dir = std::filesystem::temp_directory_path() / ("quarvel_extract_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto mp3 = dir / "tone.mp3";
  const std::string make = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                           "'aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t+1):s=44100:d=1' "
                           "-c:a libmp3lame -b:a 192k '" + mp3.string() + "'";
  if (std::system(make.c_str()) != 0) {
    std::filesystem::remove_all(dir);
    GTEST_SKIP() << "ffmpeg with an MP3 encoder is needed";
  }
  std::ifstream in(mp3, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), {});
  const auto oracle = FfmpegDecoded(mp3);
  std::filesystem::remove_all(dir);
  const std::vector<std::uint8_t> body = Mp3AsDefineSound(5, file);
  ASSERT_GT(body.size(), 9u);
  ASSERT_GT(oracle.size(), 44100u);

  As3Movie d;
  d.LinkedClass("Song", {d.Events("EventDispatcher"), d.a.PackageName("flash.media", "Sound")}, 5);
  d.defineTags = [&](testing::SwfBuilder& b) {
    const std::uint32_t count = body[3] | (body[4] << 8) | (body[5] << 16) | (static_cast<std::uint32_t>(body[6]) << 24);
    b.DefineSound(5, {.format = 2, .rate = 3, .is16Bit = true, .stereo = true}, count,
                  std::span<const std::uint8_t>(body).subspan(7));
  };
  const auto bytesClass = d.a.PackageName("flash.utils", "ByteArray");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Song")}).Op("constructprop", {m.Q("Song"), 0}).Op("setlocal_1");
    c.Op("findpropstrict", {bytesClass}).Op("constructprop", {bytesClass, 0}).Op("setlocal_2");
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_1").Op("getlocal_2").Op("pushbyte", {64}).Op("pushint", {m.a.Int(20000)})
          .Op("callproperty", {m.Q("extract"), 3});
    });
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_1").Op("getlocal_2").Op("pushbyte", {64}).Op("callproperty", {m.Q("extract"), 2});
    });
    m.TraceValue(c, "", [&] { c.Op("getlocal_2").Op("getproperty", {m.Q("position")}); });
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_1").Op("getlocal_2").Op("pushbyte", {64}).Op("pushint", {m.a.Int(10000000)})
          .Op("callproperty", {m.Q("extract"), 3});
    });
    TraceFloats(m, c, 2, 256);
  });
  const auto lines = Lines(testing::As3Traced(bytes, [](FlashPlayer&) {}));
  ASSERT_EQ(lines.size(), 4u + 256u);
  EXPECT_EQ(lines[0], "64");
  EXPECT_EQ(lines[1], "64");
  EXPECT_EQ(lines[2], "1024");
  EXPECT_EQ(lines[3], "0");
  std::vector<double> got;
  for (std::size_t i = 4; i < lines.size(); ++i) got.push_back(std::stod(lines[i]));
  // Decoders may start the stream a little apart; the samples agree where they line up.
  double best = 1e9;
  for (long shift = -1200; shift <= 1200; ++shift) {
    const long from = (20000 + shift) * 2;
    if (from < 0 || static_cast<std::size_t>(from) + got.size() > oracle.size()) continue;
    double worst = 0;
    for (std::size_t i = 0; i < got.size() && worst < best; ++i)
      worst = std::max(worst, std::fabs(got[i] - oracle[static_cast<std::size_t>(from) + i]));
    best = std::min(best, worst);
  }
  EXPECT_LT(best, 2e-3);
}

}  // namespace
}  // namespace quarvel::player
