// Video drawn by the player through the display tree, against the ffmpeg
// program's own decoding of the same streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/clock.h"
#include "platform/audio/loopback_bus.h"
#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "player/sound/sound_output.h"
#include "player/video/flv_reader.h"
#include "player/video/test_streams.h"
#include "player/swf/movie.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

namespace fs = std::filesystem;
using video::testing::MakeStream;
using video::testing::OracleFrames;
using video::testing::ReadFile;
using video::testing::TempDir;
using Frames = std::vector<std::vector<std::uint8_t>>;

constexpr int kW = 160, kH = 120;

#define REQUIRE_FFMPEG() \
  if (!video::testing::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed"

fs::path SamplesDir() { return fs::path(QUARVEL_SOURCE_DIR) / "tests/video/samples"; }

// What the player shows, as BGRA rows.
struct Shot {
  int width = 0, height = 0;
  std::vector<std::uint8_t> bgra;
};

Shot Take(const FlashPlayer& player) {
  gdi::Bitmap bmp;
  player.Paint(bmp);
  Shot s{bmp.Width(), bmp.Height(), {}};
  s.bgra.resize(static_cast<std::size_t>(s.width) * s.height * 4);
  for (int y = 0; y < s.height; ++y) {
    std::copy_n(bmp.ScanLine(y), s.width * 4, s.bgra.begin() + static_cast<std::ptrdiff_t>(y) * s.width * 4);
  }
  return s;
}

// Mean absolute difference of the channels in `channels` (0 B, 1 G, 2 R)
// between the shot's rectangle at x0, y0 and an oracle picture of w x h.
double Diff(const Shot& s, const std::vector<std::uint8_t>& oracle, int w, int h, int x0 = 0, int y0 = 0,
            std::vector<int> channels = {0, 1, 2}) {
  if (x0 + w > s.width || y0 + h > s.height || oracle.size() != static_cast<std::size_t>(w) * h * 4) return 255;
  double sum = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c : channels) {
        const std::size_t a = (static_cast<std::size_t>(y + y0) * s.width + x + x0) * 4 + c;
        const std::size_t b = (static_cast<std::size_t>(y) * w + x) * 4 + c;
        sum += std::abs(int{s.bgra[a]} - int{oracle[b]});
      }
    }
  }
  return sum / (static_cast<double>(channels.size()) * w * h);
}

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}

// Frame data by frame number, as VideoFrame tags carry it.
using StreamFrames = std::map<std::uint16_t, std::vector<std::uint8_t>>;

// The video tags of an FLV file without their FLV fields.
StreamFrames FromFlv(const fs::path& path, video::VideoCodec& codec) {
  const auto bytes = ReadFile(path);
  const video::FlvFile flv = video::ReadFlv(bytes);
  StreamFrames out;
  std::uint16_t n = 0;
  for (const auto& t : flv.tags) {
    if (t.type != video::FlvTagType::kVideo) continue;
    codec = t.video.codec;
    out[n++].assign(t.video.data.begin(), t.video.data.end());
  }
  return out;
}

// The frames of the one stream in a movie.
StreamFrames FromSwf(const fs::path& path, video::VideoCodec& codec, int& width, int& height) {
  const swf::Movie movie = swf::LoadMovieFile(path);
  const auto streams = video::CollectVideoStreams(movie.TagsStream());
  StreamFrames out;
  if (streams.size() != 1) return out;
  const auto& s = streams.begin()->second;
  codec = s.codec, width = s.width, height = s.height;
  for (const auto& [n, data] : s.frames) out[n].assign(data.begin(), data.end());
  return out;
}

struct VideoMovie {
  int width = kW, height = kH;      // stage pixels
  int videoWidth = kW, videoHeight = kH;
  video::VideoCodec codec = video::VideoCodec::kH263;
  bool smoothing = false;
  swf::Matrix matrix{};
  std::optional<swf::ColorTransform> cxform{};
  swf::Rgba background{255, 255, 255, 255};
};

// A movie at 10 frames a second that shows frame n of the stream in its
// frame n, by the placement's ratio.
std::vector<std::uint8_t> BuildMovie(const VideoMovie& m, const StreamFrames& frames) {
  testing::SwfBuilder b(8, {0, m.width * 20, 0, m.height * 20}, 10.0);
  b.SetBackgroundColor(m.background);
  std::vector<std::uint8_t> def;
  Put16(def, 1);
  Put16(def, static_cast<unsigned>(frames.size()));
  Put16(def, static_cast<unsigned>(m.videoWidth));
  Put16(def, static_cast<unsigned>(m.videoHeight));
  def.push_back(m.smoothing ? 1 : 0);
  def.push_back(static_cast<std::uint8_t>(m.codec));
  b.Tag(swf::tag::kDefineVideoStream, def);
  const std::uint16_t last = frames.empty() ? 0 : frames.rbegin()->first;
  for (std::uint16_t n = 0; n <= last; ++n) {
    if (auto it = frames.find(n); it != frames.end()) {
      std::vector<std::uint8_t> body;
      Put16(body, 1);
      Put16(body, n);
      body.insert(body.end(), it->second.begin(), it->second.end());
      b.Tag(swf::tag::kVideoFrame, body, true);
    }
    testing::Placement p;
    p.depth = 1;
    p.ratio = n;
    if (n == 0) {
      p.characterId = 1;
      p.matrix = m.matrix;
      p.colorTransform = m.cxform;
    } else {
      p.move = true;
    }
    b.PlaceObject2(p);
    b.ShowFrame();
  }
  return b.Build();
}

std::unique_ptr<FlashPlayer> Open(const std::vector<std::uint8_t>& movie, int w, int h) {
  auto p = std::make_unique<FlashPlayer>();
  EXPECT_TRUE(p->LoadMovieBytes(movie)) << p->LoadError();
  p->SetSize(w, h);
  return p;
}

bool HasProblem(const FlashPlayer& p, const std::string& part) {
  for (const auto& s : p.SkippedFeatures()) {
    if (s.find(part) != std::string::npos) return true;
  }
  return false;
}

// The movie ffmpeg's SWF muxer writes: H.263 video placed with a ratio per
// frame and an MP3 sound stream.
class FfmpegSwf : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FFMPEG();
    path_ = MakeStream("playback_h263.swf", "-c:v flv1 -c:a libmp3lame -ar 44100 -f swf", kW, kH, 1,
                       "-f lavfi -i sine=frequency=440:sample_rate=44100");
    if (path_.empty()) GTEST_SKIP() << "ffmpeg cannot write H.263 with MP3 into a movie here";
    oracle_ = OracleFrames(path_, kW, kH);
    ASSERT_EQ(oracle_.size(), 10u);
    player_ = Open(ReadFile(path_), kW, kH);
    ASSERT_EQ(player_->TotalFrames(), 10);
  }
  fs::path path_;
  Frames oracle_;
  std::unique_ptr<FlashPlayer> player_;
};

TEST_F(FfmpegSwf, EveryFrameAndBackwardJumpMatchFfmpeg) {
  for (int n = 0; n < 10; ++n) {
    player_->AdvanceTo(n * 100);
    ASSERT_EQ(player_->CurrentFrame(), n);
    EXPECT_LE(Diff(Take(*player_), oracle_[n], kW, kH), 1.0) << "frame " << n;
  }
  // Back past a key frame, and forward again without one between.
  for (int n : {7, 2, 3, 9, 0}) {
    player_->GotoFrame(n);
    EXPECT_LE(Diff(Take(*player_), oracle_[n], kW, kH), 1.0) << "after a jump to frame " << n;
  }
  EXPECT_FALSE(HasProblem(*player_, "video"));
}

TEST_F(FfmpegSwf, SoundStreamStillPlays) {
  auto clock = std::make_shared<audio::VirtualClock>(0);
  audio::LoopbackBus bus(clock);
  sound::SoundOutput output(bus);
  // Heard from the first frame on, as the control attaches it before loading.
  player_ = std::make_unique<FlashPlayer>();
  player_->SetSoundListener(&output);
  ASSERT_TRUE(player_->LoadMovieBytes(ReadFile(path_)));
  player_->SetSize(kW, kH);
  for (int ms = 0; ms <= 1000; ms += 100) {
    clock->Set(ms);
    player_->AdvanceTo(ms);
    output.Pump(ms);
    Take(*player_);
  }
  const auto& blocks = output.GetStats().streamBlocks;
  ASSERT_FALSE(blocks.empty());
  EXPECT_GT(blocks.begin()->second.decoded, 5);
  EXPECT_EQ(blocks.begin()->second.failed, 0);
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(audio::LoopbackBus::MsToFrame(800)) * 2);
  bus.Mix(audio::BusMix::kPlayback, 0, pcm);
  const auto loud = std::count_if(pcm.begin(), pcm.end(), [](std::int16_t s) { return std::abs(s) > 1000; });
  EXPECT_GT(loud, static_cast<long>(pcm.size() / 4));
  player_->SetSoundListener(nullptr);
}

// A capture is the same picture for picture on every run.
TEST_F(FfmpegSwf, TwoRunsGiveTheSamePictures) {
  auto other = Open(ReadFile(path_), kW, kH);
  for (int ms : {0, 300, 700, 200, 900}) {
    if (ms < player_->Now()) {
      player_->GotoFrame(ms / 100);
      other->GotoFrame(ms / 100);
    } else {
      player_->AdvanceTo(ms);
      other->AdvanceTo(ms);
    }
    EXPECT_EQ(Take(*player_).bgra, Take(*other).bgra) << "at " << ms << " ms";
  }
}

struct WrapCase {
  const char* name;
  const char* args;  // ffmpeg encoder options for an FLV file
};
void PrintTo(const WrapCase& c, std::ostream* os) { *os << c.name; }

class WrappedFlv : public ::testing::TestWithParam<WrapCase> {};

// Streams FFmpeg writes only into FLV files, wrapped in DefineVideoStream
// and VideoFrame tags.
TEST_P(WrappedFlv, RatioPicksFrameAsFfmpegDecodesIt) {
  REQUIRE_FFMPEG();
  const WrapCase& c = GetParam();
  const auto path = MakeStream(std::string("wrap_") + c.name + ".flv", c.args);
  if (path.empty()) GTEST_SKIP() << "ffmpeg cannot encode " << c.name << " here";
  const Frames oracle = OracleFrames(path, kW, kH);
  ASSERT_EQ(oracle.size(), 10u);
  VideoMovie m;
  const StreamFrames frames = FromFlv(path, m.codec);
  ASSERT_EQ(frames.size(), 10u);
  auto player = Open(BuildMovie(m, frames), kW, kH);
  for (int n : {0, 1, 2, 6, 9, 4, 5}) {
    player->GotoFrame(n);
    EXPECT_LE(Diff(Take(*player), oracle[static_cast<std::size_t>(n)], kW, kH), 1.0) << "frame " << n;
  }
  EXPECT_FALSE(HasProblem(*player, "video"));
}

INSTANTIATE_TEST_SUITE_P(Codecs, WrappedFlv,
                         ::testing::Values(WrapCase{"flv1", "-c:v flv1"}, WrapCase{"flashsv", "-c:v flashsv"},
                                           WrapCase{"flashsv2", "-c:v flashsv2"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The VP6 samples' streams, placed in a movie of our own at the stream's size.
TEST(Vp6Samples, DrawnLikeFfmpegDecodesThem) {
  REQUIRE_FFMPEG();
  for (const char* dir : {"colorconversion/vp6", "colorconversion/vp6a", "vp6_dispsize"}) {
    const fs::path swfPath = SamplesDir() / dir / "test.swf";
    if (!fs::exists(swfPath)) continue;
    VideoMovie m;
    const StreamFrames frames = FromSwf(swfPath, m.codec, m.videoWidth, m.videoHeight);
    ASSERT_FALSE(frames.empty()) << dir;
    m.width = m.videoWidth, m.height = m.videoHeight;
    // Black behind: the alpha stream's colours come premultiplied.
    m.background = {0, 0, 0, 255};
    const Frames oracle = OracleFrames(swfPath, m.videoWidth, m.videoHeight);
    ASSERT_FALSE(oracle.empty()) << dir;
    auto player = Open(BuildMovie(m, frames), m.width, m.height);
    const std::size_t last = std::min<std::size_t>(oracle.size(), frames.rbegin()->first + 1u) - 1;
    for (std::size_t n : {last, std::size_t{0}}) {
      player->GotoFrame(static_cast<int>(n));
      Frames::value_type expected = oracle[n];
      if (m.codec == video::VideoCodec::kVp6Alpha) {
        for (std::size_t i = 0; i < expected.size(); i += 4) {
          for (int k = 0; k < 3; ++k) expected[i + k] = std::min(expected[i + k], expected[i + 3]);
        }
      }
      EXPECT_LE(Diff(Take(*player), expected, m.videoWidth, m.videoHeight), 1.0) << dir << " frame " << n;
    }
  }
}

// The picture goes through the display tree like a bitmap: the matrix
// moves and stretches it, the colour transform tints it.
class VideoTransforms : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FFMPEG();
    path_ = MakeStream("wrap_flashsv.flv", "-c:v flashsv");
    if (path_.empty()) GTEST_SKIP() << "ffmpeg cannot encode Screen Video here";
    oracle_ = OracleFrames(path_, kW, kH);
    ASSERT_EQ(oracle_.size(), 10u);
    frames_ = FromFlv(path_, movie_.codec);
  }
  fs::path path_;
  Frames oracle_;
  StreamFrames frames_;
  VideoMovie movie_;
};

TEST_F(VideoTransforms, MovedAndTinted) {
  movie_.width = kW + 40, movie_.height = kH + 30;
  movie_.matrix.translateX = 40 * 20, movie_.matrix.translateY = 30 * 20;
  swf::ColorTransform cx;
  cx.redMult = 0;
  cx.redAdd = 200;
  movie_.cxform = cx;
  auto player = Open(BuildMovie(movie_, frames_), movie_.width, movie_.height);
  player->GotoFrame(3);
  const Shot s = Take(*player);
  EXPECT_LE(Diff(s, oracle_[3], kW, kH, 40, 30, {0, 1}), 1.0);
  // Red is replaced by the transform's constant.
  std::vector<std::uint8_t> red(static_cast<std::size_t>(kW) * kH * 4, 200);
  EXPECT_LE(Diff(s, red, kW, kH, 40, 30, {2}), 1.0);
  // Nothing drawn outside the video's rectangle.
  std::vector<std::uint8_t> white(static_cast<std::size_t>(40) * 30 * 4, 255);
  EXPECT_EQ(Diff(s, white, 40, 30, 0, 0), 0.0);
}

TEST_F(VideoTransforms, StretchedToTheStreamsDeclaredSize) {
  // Declared twice the coded size: Flash stretches the picture to it.
  movie_.videoWidth = 2 * kW, movie_.videoHeight = 2 * kH;
  movie_.width = 2 * kW, movie_.height = 2 * kH;
  auto player = Open(BuildMovie(movie_, frames_), movie_.width, movie_.height);
  player->GotoFrame(2);
  const Shot s = Take(*player);
  // Without smoothing each pixel doubles: take every second one.
  Shot half{kW, kH, std::vector<std::uint8_t>(static_cast<std::size_t>(kW) * kH * 4)};
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      std::copy_n(&s.bgra[(static_cast<std::size_t>(2 * y + 1) * s.width + 2 * x + 1) * 4], 4,
                  &half.bgra[(static_cast<std::size_t>(y) * kW + x) * 4]);
    }
  }
  EXPECT_LE(Diff(half, oracle_[2], kW, kH), 1.0);
}

// With the stream's smoothing flag the stretched picture is filtered, as
// ffmpeg's bilinear scaler does it; at Low quality it is not.
TEST_F(VideoTransforms, SmoothingFlagFiltersTheStretchedPicture) {
  movie_.videoWidth = 2 * kW, movie_.videoHeight = 2 * kH;
  movie_.width = 2 * kW, movie_.height = 2 * kH;
  movie_.smoothing = true;
  const auto scaled = TempDir() / "flashsv_bilinear";
  ASSERT_TRUE(video::testing::Run("ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + path_.string() +
                                  "' -vf scale=" + std::to_string(2 * kW) + ":" + std::to_string(2 * kH) +
                                  ":flags=bilinear -fps_mode passthrough -f rawvideo -pix_fmt bgra '" +
                                  scaled.string() + "'"));
  const auto all = ReadFile(scaled);
  const std::size_t n = static_cast<std::size_t>(4 * kW * kH) * 4;
  ASSERT_GE(all.size(), 3 * n);
  const std::vector<std::uint8_t> bilinear(all.begin() + 2 * n, all.begin() + 3 * n);
  auto player = Open(BuildMovie(movie_, frames_), movie_.width, movie_.height);
  player->GotoFrame(2);
  const double smooth = Diff(Take(*player), bilinear, 2 * kW, 2 * kH);
  player->SetQuality("Low");
  const double nearest = Diff(Take(*player), bilinear, 2 * kW, 2 * kH);
  RecordProperty("smooth_diff", std::to_string(smooth));
  RecordProperty("nearest_diff", std::to_string(nearest));
  EXPECT_LE(smooth, 3.0);
  EXPECT_GT(nearest, smooth + 1.0);
}

// A damaged frame leaves the last good picture up and is named once.
TEST_F(VideoTransforms, DamagedFrameKeepsLastGoodPicture) {
  StreamFrames frames = frames_;
  frames[3] = std::vector<std::uint8_t>(24, 0xFF);
  auto player = Open(BuildMovie(movie_, frames), kW, kH);
  player->GotoFrame(2);
  const Shot before = Take(*player);
  player->GotoFrame(3);
  EXPECT_EQ(Take(*player).bgra, before.bgra);
  int named = 0;
  for (const auto& s : player->SkippedFeatures()) named += s.find("frame 3") != std::string::npos;
  EXPECT_EQ(named, 1);
  // The key frame after it shows again.
  player->GotoFrame(5);
  EXPECT_LE(Diff(Take(*player), oracle_[5], kW, kH), 1.0);
}

TEST_F(VideoTransforms, StreamWithoutFramesDrawsNothing) {
  auto player = Open(BuildMovie(movie_, {}), kW, kH);
  const Shot s = Take(*player);
  std::vector<std::uint8_t> white(static_cast<std::size_t>(kW) * kH * 4, 255);
  EXPECT_EQ(Diff(s, white, kW, kH), 0.0);
}

}  // namespace
}  // namespace quarvel::player
