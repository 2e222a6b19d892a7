// Our decoding against the ffmpeg program's decoding of the same streams.
#include <gtest/gtest.h>

#include <random>

#include "player/video/embedded_video.h"
#include "player/video/flv_reader.h"
#include "player/video/flv_video_decoder.h"
#include "player/video/test_streams.h"
#include "player/video/video_error.h"
#include "player/swf/movie.h"
#include "support/swf_builder.h"

namespace quarvel::player::video {
namespace {

using testing::MakeStream;
using testing::MeanDiff;
using testing::OracleFrames;
using testing::ReadFile;

constexpr int kW = 160, kH = 120;

#define REQUIRE_FFMPEG() \
  if (!testing::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed"

struct FlvCase {
  const char* name;
  const char* args;
  VideoCodec codec;
};
void PrintTo(const FlvCase& c, std::ostream* os) { *os << c.name; }

class FlvDecode : public ::testing::TestWithParam<FlvCase> {};

// Every picture in presentation order, and again from a key frame after a seek.
TEST_P(FlvDecode, MatchesFfmpegFrameByFrameAndAfterSeek) {
  REQUIRE_FFMPEG();
  const FlvCase& c = GetParam();
  const auto path = MakeStream(std::string(c.name) + ".flv", c.args);
  if (path.empty()) GTEST_SKIP() << "ffmpeg cannot encode " << c.name << " here";
  const auto oracle = OracleFrames(path, kW, kH);
  ASSERT_EQ(oracle.size(), 10u);

  const auto bytes = ReadFile(path);
  const FlvFile file = ReadFlv(bytes);
  FlvVideoDecoder dec(file);
  EXPECT_EQ(dec.Codec(), c.codec);
  std::vector<std::int64_t> times;
  while (dec.Next()) {
    const std::size_t n = times.size();
    ASSERT_LT(n, oracle.size());
    EXPECT_LE(MeanDiff(dec.Current(), oracle[n], kW, kH), 1.0) << "frame " << n;
    times.push_back(dec.CurrentTime());
  }
  ASSERT_EQ(times.size(), oracle.size());
  EXPECT_TRUE(dec.Problems().empty());
  // Pictures 100 ms apart (H.264 with B-frames starts late by its reordering delay).
  for (std::size_t n = 1; n < times.size(); ++n) EXPECT_EQ(times[n] - times[n - 1], 100) << "frame " << n;

  // Key frames every 5: 700 ms lands on the tag at 500 ms, and frame 7
  // comes at most three pictures later.
  EXPECT_EQ(dec.SeekToKey(700), 500u);
  int steps = 0;
  while (dec.Next() && ++steps < 4 && dec.CurrentTime() < times[7]) {
  }
  EXPECT_EQ(dec.CurrentTime(), times[7]);
  EXPECT_LE(MeanDiff(dec.Current(), oracle[7], kW, kH), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, FlvDecode,
                         ::testing::Values(FlvCase{"flv1", "-c:v flv1", VideoCodec::kH263},
                                           FlvCase{"flashsv", "-c:v flashsv", VideoCodec::kScreen},
                                           FlvCase{"flashsv2", "-c:v flashsv2", VideoCodec::kScreen2},
                                           // B-frames: pictures come out reordered by composition time.
                                           FlvCase{"h264", "-c:v libx264 -bf 2 -pix_fmt yuv420p", VideoCodec::kH264}),
                         [](const auto& info) { return std::string(info.param.name); });

// The movie ffmpeg's SWF muxer writes: DefineVideoStream and VideoFrame tags.
class SwfVideo : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FFMPEG();
    path_ = MakeStream("h263.swf", "-c:v flv1 -f swf");
    ASSERT_FALSE(path_.empty());
    oracle_ = OracleFrames(path_, kW, kH);
    ASSERT_EQ(oracle_.size(), 10u);
    movie_ = swf::OpenMovie(ReadFile(path_));
    std::vector<std::string> problems;
    streams_ = CollectVideoStreams(movie_.TagsStream(), &problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(streams_.size(), 1u);
  }
  const VideoStreamDef& Stream() const { return streams_.begin()->second; }

  std::filesystem::path path_;
  std::vector<std::vector<std::uint8_t>> oracle_;
  swf::Movie movie_;
  std::map<std::uint16_t, VideoStreamDef> streams_;
};

TEST_F(SwfVideo, StreamHasDeclaredSizeAndEveryFrame) {
  const VideoStreamDef& s = Stream();
  EXPECT_EQ(s.codec, VideoCodec::kH263);
  EXPECT_EQ(s.width, kW);
  EXPECT_EQ(s.height, kH);
  EXPECT_EQ(s.frameCount, 10);
  ASSERT_EQ(s.frames.size(), 10u);
  EXPECT_EQ(s.frames.begin()->first, 0);
  EXPECT_EQ(s.frames.rbegin()->first, 9);
  const FrameLayout layout = DetectLayout(s);
  EXPECT_EQ(layout.prefix, 0u);
  for (const auto& [n, data] : s.frames) EXPECT_EQ(SplitFrame(s, layout, data).key, n % 5 == 0) << "frame " << n;
}

TEST_F(SwfVideo, FramesInOrderMatchFfmpeg) {
  EmbeddedVideo video(Stream());
  for (std::uint16_t n = 0; n < 10; ++n) {
    const auto r = video.Seek(n);
    EXPECT_EQ(r.status, DecodeStatus::kOk) << r.message;
    EXPECT_EQ(r.decoded, 1) << "frame " << n;
    EXPECT_LE(MeanDiff(video.Current(), oracle_[n], kW, kH), 1.0) << "frame " << n;
  }
}

TEST_F(SwfVideo, JumpsDecodeForwardFromLastKeyFrame) {
  EmbeddedVideo video(Stream());
  auto r = video.Seek(7);  // straight to 7: from key frame 5
  EXPECT_EQ(r.decoded, 3);
  EXPECT_LE(MeanDiff(video.Current(), oracle_[7], kW, kH), 1.0);
  const Picture at7 = video.Current();

  r = video.Seek(3);  // backwards: from key frame 0
  EXPECT_EQ(r.decoded, 4);
  EXPECT_LE(MeanDiff(video.Current(), oracle_[3], kW, kH), 1.0);

  r = video.Seek(4);  // one on: no key frame between, carry on
  EXPECT_EQ(r.decoded, 1);
  EXPECT_LE(MeanDiff(video.Current(), oracle_[4], kW, kH), 1.0);

  r = video.Seek(9);  // key frame 5 between: start there rather than decode 5..9 from 4
  EXPECT_EQ(r.decoded, 5);
  EXPECT_LE(MeanDiff(video.Current(), oracle_[9], kW, kH), 1.0);

  r = video.Seek(9);  // already there
  EXPECT_EQ(r.decoded, 0);

  // The picture after a jump is the one a straight run gives: decoding is deterministic.
  EmbeddedVideo straight(Stream());
  for (std::uint16_t n = 0; n <= 7; ++n) straight.Seek(n);
  EXPECT_EQ(straight.Current(), at7);
}

TEST_F(SwfVideo, DamagedFramesKeepTheLastGoodPicture) {
  VideoStreamDef s = Stream();
  std::mt19937 rng(7);
  std::vector<std::uint8_t> garbage(s.frames.at(2).size());
  for (auto& b : garbage) b = static_cast<std::uint8_t>(rng());
  garbage[0] = garbage[1] = 0xFF;  // no picture start code
  s.frames[2] = garbage;
  const auto cut = s.frames.at(3).first(s.frames.at(3).size() / 3);
  s.frames[3] = cut;
  s.frames[4] = {};  // empty: nothing to decode

  EmbeddedVideo video(s);
  video.Seek(1);
  const Picture good = video.Current();
  auto r = video.Seek(2);
  EXPECT_EQ(r.status, DecodeStatus::kDamaged);
  EXPECT_NE(r.message.find("frame 2"), std::string::npos) << r.message;
  EXPECT_EQ(video.Current(), good);
  // Cut short and empty frames: no crash, a picture of the stream's size stays.
  for (std::uint16_t n = 3; n < 10; ++n) {
    video.Seek(n);
    ASSERT_TRUE(video.HasPicture());
    EXPECT_EQ(video.Current().width, kW);
    EXPECT_EQ(video.Current().height, kH);
  }
  // Past the damage the next key frame decodes cleanly again.
  EXPECT_LE(MeanDiff(video.Current(), oracle_[9], kW, kH), 1.0);
}

TEST_F(SwfVideo, FrameNumbersWithoutFramesShowTheFrameBefore) {
  VideoStreamDef s = Stream();
  s.frames.erase(6);
  EmbeddedVideo video(s);
  EXPECT_EQ(video.Seek(6).decoded, 1);  // frame 5
  EXPECT_EQ(video.Position(), 5);
  EXPECT_LE(MeanDiff(video.Current(), oracle_[5], kW, kH), 1.0);
  VideoStreamDef empty = s;
  empty.frames.clear();
  EmbeddedVideo none(empty);
  EXPECT_EQ(none.Seek(3).decoded, 0);
  EXPECT_FALSE(none.HasPicture());
}

// Screen Video in a movie, as authoring tools write it: the FLV frame-type
// byte in front of each packet. Built from ffmpeg's FLV packets.
struct ScreenCase {
  const char* name;
  VideoCodec codec;
};
void PrintTo(const ScreenCase& c, std::ostream* os) { *os << c.name; }
class SwfScreenVideo : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(SwfScreenVideo, WrappedInTagsMatchesFfmpeg) {
  REQUIRE_FFMPEG();
  const ScreenCase& c = GetParam();
  const auto path = MakeStream(std::string(c.name) + ".flv", std::string("-c:v ") + c.name);
  ASSERT_FALSE(path.empty());
  const auto oracle = OracleFrames(path, kW, kH);
  ASSERT_EQ(oracle.size(), 10u);
  const auto flvBytes = ReadFile(path);
  const FlvFile flv = ReadFlv(flvBytes);

  quarvel::testing::SwfBuilder b(8, {0, kW * 20, 0, kH * 20}, 10.0);
  const std::uint8_t define[] = {1, 0, 10, 0, kW, 0, kH, 0, 0, static_cast<std::uint8_t>(c.codec)};
  b.Tag(swf::tag::kDefineVideoStream, define);
  std::uint16_t n = 0;
  for (const FlvTag& t : flv.tags) {
    if (t.type != FlvTagType::kVideo) continue;
    std::vector<std::uint8_t> body = {1, 0, static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8),
                                      static_cast<std::uint8_t>(t.video.frameType << 4 | static_cast<int>(c.codec))};
    body.insert(body.end(), t.video.data.begin(), t.video.data.end());
    b.Tag(swf::tag::kVideoFrame, body);
    b.ShowFrame();
    ++n;
  }
  b.End();
  const swf::Movie movie = swf::OpenMovie(b.Build());
  const auto streams = CollectVideoStreams(movie.TagsStream());
  ASSERT_EQ(streams.size(), 1u);
  const VideoStreamDef& s = streams.at(1);
  ASSERT_EQ(s.frames.size(), 10u);
  EXPECT_EQ(DetectLayout(s).prefix, 1u);

  EmbeddedVideo video(s);
  for (std::uint16_t i = 0; i < 10; ++i) {
    const auto r = video.Seek(i);
    EXPECT_EQ(r.status, DecodeStatus::kOk) << r.message;
    EXPECT_LE(MeanDiff(video.Current(), oracle[i], kW, kH), 1.0) << "frame " << i;
  }
  EmbeddedVideo jump(s);
  EXPECT_EQ(jump.Seek(7).decoded, 3);
  EXPECT_LE(MeanDiff(jump.Current(), oracle[7], kW, kH), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, SwfScreenVideo,
                         ::testing::Values(ScreenCase{"flashsv", VideoCodec::kScreen},
                                           ScreenCase{"flashsv2", VideoCodec::kScreen2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VideoDecoder, Vp6GarbageIsDamagedAndShowsNothing) {
  for (VideoCodec codec : {VideoCodec::kVp6, VideoCodec::kVp6Alpha}) {
    if (!VideoDecoder::Available(codec)) continue;
    VideoDecoder::Options o;
    o.codec = codec;
    o.width = 64;
    o.height = 48;
    VideoDecoder dec(o);
    const std::uint8_t junk[] = {0x00, 0x46, 0x00, 0x00, 0xFF, 0xFF, 0x12, 0x34, 0x56};
    dec.Decode(junk, true);
    dec.LatestPicture();
    if (dec.HasPicture()) {
      EXPECT_LE(dec.Current().width, 64);
      EXPECT_LE(dec.Current().height, 48);
    }
  }
}

TEST(VideoDecoder, UnknownCodecsAreRefusedByName) {
  EXPECT_FALSE(VideoDecoder::Available(VideoCodec::kJpeg));
  EXPECT_FALSE(VideoDecoder::Available(static_cast<VideoCodec>(12)));
  try {
    VideoDecoder::Options o;
    o.codec = static_cast<VideoCodec>(12);
    VideoDecoder dec(o);
    FAIL() << "opened a decoder for codec 12";
  } catch (const VideoError& e) {
    EXPECT_NE(std::string(e.what()).find("codec 12"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quarvel::player::video
