// Sound extraction on the real files of the shared corpus: every MP3 file
// written decodes with libmpg123, every wave sound has the size its tags
// give, and FFmpeg's own extraction of the generated movies matches ours.
#include <gtest/gtest.h>
#include <mpg123.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "support/shell.h"
#include "player/swf/movie.h"
#include "sound/sound_extractor.h"
#include "swf/corpus.h"

namespace quarvel::sound {
namespace {
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Mp3Result {
  bool error = false;
  std::size_t samplesPerChannel = 0;
  long rate = 0;
  int channels = 0;
};

struct Mpg123Deleter {
  void operator()(mpg123_handle* h) const { mpg123_delete(h); }
};

Mp3Result DecodeMp3(std::span<const std::uint8_t> data) {
  Mp3Result r;
  int err = 0;
  std::unique_ptr<mpg123_handle, Mpg123Deleter> h(mpg123_new(nullptr, &err));
  if (!h) return {true};
  mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  mpg123_param(h.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_open_feed(h.get());
  if (mpg123_feed(h.get(), data.data(), data.size()) != MPG123_OK) return {true};
  std::size_t bytes = 0;
  int rc;
  do {
    unsigned char buf[16384];
    std::size_t got = 0;
    rc = mpg123_read(h.get(), buf, sizeof buf, &got);
    bytes += got;
    if (rc == MPG123_NEW_FORMAT) {
      int enc = 0;
      mpg123_getformat(h.get(), &r.rate, &r.channels, &enc);
    }
  } while (rc == MPG123_OK || rc == MPG123_NEW_FORMAT);
  r.error = rc != MPG123_NEED_MORE && rc != MPG123_DONE;
  if (r.channels > 0) r.samplesPerChannel = bytes / 2 / static_cast<std::size_t>(r.channels);
  return r;
}

// What the tags say each output file must hold, found by walking the movie
// here: event sounds by id, streams by counter (their blocks' bytes after
// the first four, and the blocks' sample counts). Each timeline, sprites'
// too, has its stream; a stream takes its number at its first data.
struct Expected {
  std::map<unsigned, std::size_t> eventBytes;
  std::map<unsigned, std::size_t> streamBytes;
  std::map<unsigned, std::size_t> streamSamples;
};

void WalkTimeline(swf::TagStream s, Expected& e, unsigned& counter, int depth) {
  unsigned current = 0;  // this timeline's stream; 0 until it has data
  try {
    while (auto t = s.Next()) {
      if (t->code == swf::tag::kEnd) break;
      if (t->code == swf::tag::kDefineSound && t->body.size() >= 2) {
        e.eventBytes[t->body[0] | (t->body[1] << 8)] = t->body.size() - 2;
      }
      if (t->code == swf::tag::kSoundStreamHead || t->code == swf::tag::kSoundStreamHead2) current = 0;
      if (t->code == swf::tag::kSoundStreamBlock && t->body.size() > 4) {
        if (current == 0) current = ++counter;
        e.streamBytes[current] += t->body.size() - 4;
        e.streamSamples[current] += t->body[0] | (t->body[1] << 8);
      }
      if (t->code == swf::tag::kDefineSprite && t->body.size() >= 4 && depth < 16) {
        WalkTimeline(swf::TagStream(t->body.subspan(4), t->offset + t->headerSize + 4), e, counter, depth + 1);
      }
    }
  } catch (const swf::SwfError&) {
  }
}

Expected FromTags(const swf::Movie& movie) {
  Expected e;
  unsigned counter = 0;
  WalkTimeline(movie.TagsStream(), e, counter, 0);
  return e;
}

// FFmpeg's MP3 writer puts an ID3v2 tag and an "Info"/"Xing" frame in
// front of the frames it copies; the frames themselves follow.
std::span<const std::uint8_t> FramesOfMuxedMp3(std::span<const std::uint8_t> f) {
  if (f.size() >= 10 && f[0] == 'I' && f[1] == 'D' && f[2] == '3') {
    const std::size_t size = (f[6] & 0x7f) << 21 | (f[7] & 0x7f) << 14 | (f[8] & 0x7f) << 7 | (f[9] & 0x7f);
    f = f.subspan(std::min(f.size(), 10 + size));
  }
  if (f.size() < 4 || f[0] != 0xFF || (f[1] & 0xE0) != 0xE0) return f;
  static constexpr int kRates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr int kSampleRates[] = {44100, 48000, 32000, 0};
  const int kbps = kRates[f[2] >> 4];
  const int rate = kSampleRates[(f[2] >> 2) & 3];
  if ((f[1] & 0x18) != 0x18 || kbps == 0 || rate == 0) return f;  // MPEG-1 only here
  const std::size_t frame = 144 * kbps * 1000 / rate + ((f[2] >> 1) & 1);
  const std::string head(f.begin(), f.begin() + std::min<std::size_t>(64, f.size()));
  if (head.find("Info") != std::string::npos || head.find("Xing") != std::string::npos) {
    f = f.subspan(std::min(f.size(), frame));
  }
  return f;
}

class SoundCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    movies_ = testing::CorpusMovies();
    if (movies_.empty()) GTEST_SKIP() << "no corpus at " << QUARVEL_SHARED_DIR;
    char tmpl[] = "/tmp/quarvel-sndcorpus-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    setenv("QUARVEL_HOME", dir_.c_str(), 1);
    mpg123_init();
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::vector<testing::CorpusEntry> movies_;
  fs::path dir_;
};

TEST_F(SoundCorpus, ExtractedSoundsDecodeAndMatchTheirTags) {
  int movies_with_sound = 0, mp3_files = 0, wav_files = 0, adpcm_checked = 0;
  for (const auto& m : movies_) {
    SCOPED_TRACE(m.path);
    // Work on a copy: the corpus stays as it is.
    const fs::path work = dir_ / std::to_string(movies_with_sound + mp3_files + wav_files);
    fs::create_directories(work);
    const fs::path copy = work / "movie.swf";
    fs::copy_file(m.file, copy);
    SoundExtraction r;
    ASSERT_NO_THROW(r = ExtractSounds(copy, ExtractOptions{.raw = true}));
    ASSERT_FALSE(r.messages.empty());
    if (r.files.empty()) {
      EXPECT_NE(r.messages.back().find("No sound tag found !"), std::string::npos);
      fs::remove_all(work);
      continue;
    }
    ++movies_with_sound;
    EXPECT_NE(r.messages.back().find("\r\n\r\nsaved !"), std::string::npos);
    swf::ExpandOptions lenient;
    lenient.acceptTruncated = true;
    const Expected want = FromTags(swf::OpenMovie(Slurp(m.file), lenient));
    for (const fs::path& f : r.files) {
      SCOPED_TRACE(f.filename().string());
      const Bytes data = Slurp(f);
      const std::string name = f.filename().string();
      const bool event = name.starts_with("movie_SOUND");
      const unsigned number = std::stoul(name.substr(event ? 11 : 17));
      const std::size_t size = event ? want.eventBytes.at(number) : want.streamBytes.at(number);
      EXPECT_EQ(data.size(), size);
      if (name.ends_with(".MP3")) {
        ++mp3_files;
        // Event sounds start with the format byte, the sample count and the seek count.
        const std::size_t skip = event ? 7 : 0;
        ASSERT_GT(data.size(), skip);
        const Mp3Result d = DecodeMp3(std::span(data).subspan(skip));
        EXPECT_FALSE(d.error);
        EXPECT_GT(d.samplesPerChannel, 0u);
        if (!event) {
          EXPECT_EQ(d.samplesPerChannel, want.streamSamples.at(number));
        }
      } else {
        ++wav_files;
        if (event && data.size() >= 5 && ((data[0] >> 4) == 0 || (data[0] >> 4) == 3)) {
          // Uncompressed: the size follows from the sample count and format.
          const std::size_t samples = data[1] | data[2] << 8 | data[3] << 16 | std::size_t{data[4]} << 24;
          const std::size_t per = ((data[0] & 2) ? 2 : 1) * ((data[0] & 1) ? 2 : 1);
          EXPECT_EQ(data.size() - 5, samples * per);
        }
        if (event && data.size() >= 6 && (data[0] >> 4) == 1) {
          // ADPCM: a 2-bit code size, then packets of up to 4096 samples, each
          // a 16-bit sample and 6-bit index per channel and a code per later sample.
          const std::size_t samples = data[1] | data[2] << 8 | data[3] << 16 | std::size_t{data[4]} << 24;
          const std::size_t channels = (data[0] & 1) ? 2 : 1;
          const std::size_t bits = (data[5] >> 6) + 2;
          std::size_t total = 2;
          for (std::size_t left = samples; left > 0;) {
            const std::size_t n = std::min<std::size_t>(left, 4096);
            total += channels * 22 + (n - 1) * channels * bits;
            left -= n;
          }
          EXPECT_EQ(data.size() - 5, (total + 7) / 8);
          ++adpcm_checked;
        }
      }
    }
    fs::remove_all(work);
  }
  std::cout << "[ corpus   ] " << movies_with_sound << " movies with sounds, " << mp3_files
            << " MP3 files decoded, " << wav_files << " wave files checked (" << adpcm_checked
            << " ADPCM sizes recomputed)\n";
  EXPECT_GE(movies_with_sound, 5);
  EXPECT_GE(mp3_files, 3);
}

using quarvel::testing::Shell;

TEST_F(SoundCorpus, PlayableFilesOpenInFfmpeg) {
  int files = 0, waves = 0;
  for (const auto& m : movies_) {
    SCOPED_TRACE(m.path);
    const fs::path work = dir_ / ("play" + std::to_string(files));
    fs::create_directories(work);
    fs::copy_file(m.file, work / "movie.swf");
    SoundExtraction r;
    ASSERT_NO_THROW(r = ExtractSounds(work / "movie.swf"));
    for (const fs::path& f : r.files) {
      SCOPED_TRACE(f.filename().string());
      const std::string probe = Shell("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate "
                                      "-of csv=p=0 '" + f.string() + "' 2>&1");
      if (f.extension() == ".WAV") {
        EXPECT_TRUE(probe.starts_with("pcm_")) << probe;
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + f.string() + "' -f null - 2>&1"), "");
        ++waves;
      } else {
        EXPECT_TRUE(probe.starts_with("mp3,")) << probe;
      }
      ++files;
    }
    fs::remove_all(work);
  }
  std::cout << "[ corpus   ] " << files << " sound files opened by FFmpeg, " << waves << " of them WAVE\n";
  EXPECT_GE(waves, 3);
}

TEST_F(SoundCorpus, StreamMatchesFfmpegsOwnExtraction) {
  int compared = 0;
  for (const auto& m : movies_) {
    if (!m.reference.ends_with(".ffmpeg-demux.mp3")) continue;
    SCOPED_TRACE(m.path);
    const fs::path work = dir_ / ("ff" + std::to_string(compared));
    fs::create_directories(work);
    fs::copy_file(m.file, work / "movie.swf");
    const SoundExtraction r = ExtractSounds(work / "movie.swf", ExtractOptions{.raw = true});
    ASSERT_EQ(r.files, std::vector<fs::path>{work / "movie_StreamSound1.MP3"});
    const Bytes ours = Slurp(r.files[0]);
    const Bytes muxed = Slurp(testing::CorpusFolder() / m.reference);
    const auto theirs = FramesOfMuxedMp3(muxed);
    EXPECT_EQ(ours.size(), theirs.size());
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), theirs.begin(), theirs.end()));
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

}  // namespace
}  // namespace quarvel::sound
