// The real movies of the shared corpus that hold sounds, played by the
// player into the sound output on a virtual clock.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/audio/loopback_bus.h"
#include "platform/audio/wave_file.h"
#include "player/flash_player.h"
#include "player/sound/sound_output.h"
#include "player/swf/movie.h"
#include "support/font_caches.h"

namespace quarvel::player::sound {
namespace {

namespace fs = std::filesystem;
using audio::LoopbackBus;

const fs::path kCorpus = fs::path(QUARVEL_SHARED_DIR) / "corpus";

// Corpus rows whose features name sounds.
std::vector<std::string> SoundMovies() {
  std::vector<std::string> out;
  std::ifstream in(kCorpus / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string c; std::getline(ss, c, '\t');) cols.push_back(c);
    if (cols.size() < 6 || cols[0].size() < 4 || cols[0].substr(cols[0].size() - 4) != ".swf") continue;
    if (cols[5].find("event-sound") == std::string::npos && cols[5].find("stream-sound") == std::string::npos) continue;
    if (std::find(out.begin(), out.end(), cols[0]) == out.end()) out.push_back(cols[0]);
  }
  return out;
}

struct Played {
  std::vector<std::int16_t> bus;  // 44100 Hz stereo from time 0
  SoundOutput::Stats stats;
  std::vector<std::string> problems;
  int frames = 0;
};

// Plays `ms` milliseconds of a movie in the player, in ticks of `tickMs`,
// reading the bus behind the clock as a recorder does.
Played Play(const fs::path& path, std::int64_t ms, std::int64_t tickMs = 250) {
  auto clock = std::make_shared<audio::VirtualClock>(0);
  LoopbackBus bus(clock);
  auto tap = bus.OpenTap(0);
  Played p;
  SoundOutput out(bus);
  FlashPlayer player;
  player.SetSoundListener(&out);
  player.SetMovie(path.string());
  EXPECT_EQ(player.ReadyState(), 4) << path << ": " << player.LoadError();
  for (std::int64_t t = 0; t <= ms; t += tickMs) {
    clock->Set(t);
    player.AdvanceTo(t);
    out.Pump(t);
    tap->ReadUntil(LoopbackBus::MsToFrame(t), audio::BusMix::kRecordStereoMix, p.bus);
  }
  player.SetSoundListener(nullptr);
  out.DecodeAll();
  p.stats = out.GetStats();
  p.problems = out.Problems();
  p.frames = player.CurrentFrame();
  return p;
}

TEST(SoundCorpus, EveryMovieWithSoundsPlaysThrough) {
  const auto movies = SoundMovies();
  if (movies.empty()) GTEST_SKIP() << "no corpus at " << kCorpus;
  std::map<Codec, SoundOutput::CodecCount> events, blocks;
  for (const auto& rel : movies) {
    SCOPED_TRACE(rel);
    swf::Movie movie;
    ASSERT_NO_THROW(movie = swf::LoadMovieFile(kCorpus / rel)) << rel;
    if (movie.header.frameCount > 10000) continue;
    // At least a few seconds, at most 60 s of movie time.
    const double fps = movie.header.FrameRate() > 0 ? movie.header.FrameRate() : 12.0;
    const std::int64_t ms = std::clamp<std::int64_t>(static_cast<std::int64_t>(movie.header.frameCount * 1000 / fps), 3000, 60000);
    const Played p = Play(kCorpus / rel, ms);
    for (const auto& [codec, c] : p.stats.eventSounds) {
      events[codec].decoded += c.decoded;
      events[codec].failed += c.failed;
      EXPECT_EQ(c.failed, 0) << CodecName(codec);
    }
    for (const auto& [codec, c] : p.stats.streamBlocks) {
      blocks[codec].decoded += c.decoded;
      blocks[codec].failed += c.failed;
      EXPECT_EQ(c.failed, 0) << CodecName(codec);
    }
    for (const auto& text : p.problems) std::cout << "  " << rel << ": " << text << '\n';
    std::int64_t nonzero = 0;
    for (auto s : p.bus) nonzero += s != 0;
    std::cout << rel << ": at frame " << p.frames << ", " << p.bus.size() / 2 << " bus frames, " << nonzero / 2
              << " sounding\n";
  }
  for (const auto& [codec, c] : events) {
    std::cout << "event sounds " << CodecName(codec) << ": " << c.decoded << " decoded, " << c.failed << " failed\n";
  }
  for (const auto& [codec, c] : blocks) {
    std::cout << "stream blocks " << CodecName(codec) << ": " << c.decoded << " decoded, " << c.failed << " failed\n";
  }
}


std::vector<std::int16_t> ReadRaw(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  std::vector<std::int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

// The left channel at 5512.5 Hz: means of 8 bus frames.
std::vector<double> Decimate(const std::vector<std::int16_t>& bus) {
  std::vector<double> out;
  for (std::size_t i = 0; i + 16 <= bus.size(); i += 16) {
    double sum = 0;
    for (std::size_t k = 0; k < 16; k += 2) sum += bus[i + k];
    out.push_back(sum / 8);
  }
  return out;
}

double Rms(std::span<const double> v) {
  double s = 0;
  for (double x : v) s += x * x;
  return v.empty() ? 0 : std::sqrt(s / static_cast<double>(v.size()));
}

// Best normalised correlation of ref against ours shifted by up to maxLag.
std::pair<double, int> BestCorrelation(const std::vector<double>& ref, const std::vector<double>& ours, int maxLag) {
  double best = -2;
  int bestLag = 0;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double sxy = 0, sxx = 0, syy = 0;
    for (std::size_t i = 0; i < ref.size(); ++i) {
      const std::int64_t j = static_cast<std::int64_t>(i) + lag;
      const double y = j >= 0 && j < static_cast<std::int64_t>(ours.size()) ? ours[static_cast<std::size_t>(j)] : 0.0;
      sxy += ref[i] * y;
      sxx += ref[i] * ref[i];
      syy += y * y;
    }
    const double r = sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
    if (r > best) {
      best = r;
      bestLag = lag;
    }
  }
  return {best, bestLag};
}

TEST(SoundCorpus, AdpcmEventSoundsMatchTheRealPlayersOutput) {
  int compared = 0;
  for (const char* name : {"adpcm-2-2", "adpcm-3-2", "adpcm-5-2"}) {
    SCOPED_TRACE(name);
    const fs::path swfPath = kCorpus / "swfdec/test/sound" / (std::string(name) + ".swf");
    if (!fs::exists(swfPath)) continue;
    const auto ref = ReadRaw(kCorpus / "swfdec/test/sound" / (std::string(name) + ".swf.1.0.raw"));
    std::vector<double> refLeft;
    for (std::size_t i = 0; i < ref.size(); i += 2) refLeft.push_back(ref[i]);
    const Played p = Play(swfPath, 1000);
    const auto ours = Decimate(p.bus);
    const auto [r, lag] = BestCorrelation(refLeft, ours, 276);  // +-50 ms
    const double refRms = Rms(refLeft);
    const double ourRms = Rms(std::span(ours).subspan(std::min<std::size_t>(ours.size(), static_cast<std::size_t>(std::max(lag, 0))), std::min(ours.size(), refLeft.size())));
    std::cout << name << ": correlation " << r << " at lag " << lag << " (" << lag * 1000 / 5512.5 << " ms), RMS ours "
              << ourRms << " reference " << refRms << '\n';
    EXPECT_GT(r, 0.95);
    EXPECT_LE(std::abs(lag), 551);  // within one frame at 10 fps
    // The real player's output is about 3 dB louder than the decoded data;
    // only the shape and the timing are held to it.
    EXPECT_GT(ourRms / refRms, 0.5);
    // The sound ends where the reference ends: nothing after 0.35 s.
    EXPECT_LT(Rms(std::span(ours).subspan(static_cast<std::size_t>(0.35 * 5512.5))), 50.0);
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "no corpus";
}

// Movies with text fill the font caches of Cairo and fontconfig; free them
// so that leak checkers see only our own allocations.
}  // namespace
}  // namespace quarvel::player::sound
