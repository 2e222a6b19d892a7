// Video tags, key-frame tests and frame layouts on hand-made bytes.
#include "player/video/video_stream.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "player/swf/movie.h"
#include "player/swf/swf_error.h"
#include "support/swf_builder.h"

namespace quarvel::player::video {
namespace {

using Bytes = std::vector<std::uint8_t>;

class BitWriter {
 public:
  BitWriter& Put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (n_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<std::uint8_t>(0x80 >> (n_ % 8));
      ++n_;
    }
    return *this;
  }
  Bytes Done() const {
    Bytes b = bytes_;
    b.insert(b.end(), {0x12, 0x34});  // macroblock data would follow
    return b;
  }

 private:
  Bytes bytes_;
  int n_ = 0;
};

// A Sorenson picture header up to the picture type.
Bytes Sorenson(int sizeCode, int type, int version = 0) {
  BitWriter w;
  w.Put(1, 17).Put(static_cast<std::uint32_t>(version), 5).Put(42, 8).Put(static_cast<std::uint32_t>(sizeCode), 3);
  if (sizeCode == 0) w.Put(160, 8).Put(120, 8);
  if (sizeCode == 1) w.Put(640, 16).Put(480, 16);
  return w.Put(static_cast<std::uint32_t>(type), 2).Done();
}

TEST(VideoTags, DefineVideoStreamFields) {
  const Bytes body = {7, 0, 30, 0, 0x40, 0x01, 0xF0, 0x00, 0x05, 4};
  swf::Reader r(body, 100);
  const VideoStreamDef d = ReadDefineVideoStream(r);
  EXPECT_EQ(d.id, 7);
  EXPECT_EQ(d.frameCount, 30);
  EXPECT_EQ(d.width, 320);
  EXPECT_EQ(d.height, 240);
  EXPECT_EQ(d.deblocking, 2);
  EXPECT_TRUE(d.smoothing);
  EXPECT_EQ(d.codec, VideoCodec::kVp6);

  const Bytes cut(body.begin(), body.end() - 1);
  swf::Reader rc(cut, 100);
  try {
    ReadDefineVideoStream(rc);
    FAIL() << "read a cut-off DefineVideoStream";
  } catch (const swf::SwfError& e) {
    EXPECT_EQ(e.Field(), "CodecID");
    EXPECT_EQ(e.Offset(), 109u);
  }
}

// A parser oracle from the shared corpus: a DefineVideoStream cut off before
// its codec, which the oracle keeps as a raw body.
TEST(VideoTags, CorpusTagWithoutCodecIsRefused) {
  const auto path = std::filesystem::path(QUARVEL_SHARED_DIR) /
                    "corpus/open-flash-db-tags/raw-body/invalid-video-deblocking/input.bytes";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not in the corpus";
  const Bytes bytes = swf::ReadFileBytes(path);
  swf::TagStream tags(bytes);
  const auto t = tags.Next();
  ASSERT_TRUE(t);
  ASSERT_EQ(t->code, swf::tag::kDefineVideoStream);
  swf::Reader r = t->BodyReader();
  try {
    ReadDefineVideoStream(r);
    FAIL() << "read a DefineVideoStream without its codec";
  } catch (const swf::SwfError& e) {
    EXPECT_EQ(e.Field(), "CodecID");
  }
}

TEST(VideoTags, VideoFrameFieldsAndCutOff) {
  const Bytes body = {3, 0, 0x10, 0x01, 0xAA, 0xBB};
  swf::Reader r(body);
  const VideoFrameTag f = ReadVideoFrame(r);
  EXPECT_EQ(f.streamId, 3);
  EXPECT_EQ(f.frameNumber, 0x0110);
  EXPECT_EQ(Bytes(f.data.begin(), f.data.end()), (Bytes{0xAA, 0xBB}));
  const Bytes cut = {3, 0, 0x10};
  swf::Reader rc(cut);
  EXPECT_THROW(ReadVideoFrame(rc), swf::SwfError);
}

TEST(VideoTags, CollectsStreamsFromMovieAndSprites) {
  using quarvel::testing::SwfBuilder;
  using quarvel::testing::Timeline;
  SwfBuilder b;
  const Bytes early = {5, 0, 9, 0, 0xEE};
  const Bytes define = {5, 0, 4, 0, 32, 0, 16, 0, 0, 2};
  const Bytes again = {5, 0, 1, 0, 8, 0, 8, 0, 0, 3};
  const Bytes frame0 = {5, 0, 0, 0, 0xA0};
  const Bytes frame1 = {5, 0, 1, 0, 0xA1};
  const Bytes replaced = {5, 0, 1, 0, 0xB1};
  const Bytes cut = {5, 0, 2};
  Timeline sprite;
  sprite.Tag(swf::tag::kVideoFrame, frame0).ShowFrame().End();
  b.Tag(swf::tag::kVideoFrame, early)
      .Tag(swf::tag::kDefineVideoStream, define)
      .DefineSprite(10, sprite)
      .Tag(swf::tag::kVideoFrame, frame1)
      .Tag(swf::tag::kVideoFrame, cut)
      .Tag(swf::tag::kDefineVideoStream, again)
      .Tag(swf::tag::kVideoFrame, replaced)
      .ShowFrame()
      .End();
  const swf::Movie movie = swf::OpenMovie(b.Build());
  std::vector<std::string> problems;
  const auto streams = CollectVideoStreams(movie.TagsStream(), &problems);
  ASSERT_EQ(streams.size(), 1u);
  const VideoStreamDef& s = streams.at(5);
  EXPECT_EQ(s.codec, VideoCodec::kH263);  // the first definition stays
  EXPECT_EQ(s.width, 32);
  ASSERT_EQ(s.frames.size(), 2u);
  EXPECT_EQ(s.frames.at(0)[0], 0xA0);
  EXPECT_EQ(s.frames.at(1)[0], 0xB1);  // a later frame of the same number replaces it
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_NE(problems[0].find("not defined before"), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find("VideoFrame skipped"), std::string::npos) << problems[1];
  EXPECT_NE(problems[2].find("already defined"), std::string::npos) << problems[2];
}

TEST(KeyFrames, SorensonPictureTypes) {
  EXPECT_EQ(SorensonPictureType(Sorenson(0, 0)), 0);  // custom 8-bit size, intra
  EXPECT_EQ(SorensonPictureType(Sorenson(1, 1)), 1);  // custom 16-bit size, inter
  EXPECT_EQ(SorensonPictureType(Sorenson(6, 2)), 2);  // fixed size, disposable
  EXPECT_EQ(SorensonPictureType(Sorenson(4, 0, 1)), 0);
  EXPECT_EQ(SorensonPictureType(Sorenson(7, 0)), std::nullopt);   // reserved size
  EXPECT_EQ(SorensonPictureType(Sorenson(2, 3)), std::nullopt);   // reserved type
  EXPECT_EQ(SorensonPictureType(Sorenson(2, 0, 5)), std::nullopt);  // unknown version
  Bytes noStart = Sorenson(2, 0);
  noStart[2] = 0;
  EXPECT_EQ(SorensonPictureType(noStart), std::nullopt);
  const Bytes full = Sorenson(1, 0);
  EXPECT_EQ(SorensonPictureType(std::span(full).first(6)), std::nullopt);  // cut inside the size
}

TEST(KeyFrames, Vp6FrameTypeBit) {
  const Bytes key = {0x3C, 0x46}, inter = {0xBC, 0x46};
  EXPECT_TRUE(Vp6IsKey(key, false));
  EXPECT_FALSE(Vp6IsKey(inter, false));
  const Bytes alphaKey = {0, 0, 9, 0x3C}, alphaInter = {0, 0, 9, 0xBC};
  EXPECT_TRUE(Vp6IsKey(alphaKey, true));
  EXPECT_FALSE(Vp6IsKey(alphaInter, true));
  EXPECT_FALSE(Vp6IsKey({}, false));
  EXPECT_FALSE(Vp6IsKey(std::span(alphaKey).first(3), true));
}

// Screen Video packet of 32 x 16 in blocks of 16: two blocks.
Bytes Screen(std::initializer_list<Bytes> blocks, bool v2 = false) {
  Bytes p = {0x00, 0x20, 0x00, 0x10};
  if (v2) p.push_back(0);
  for (const Bytes& b : blocks) {
    p.push_back(static_cast<std::uint8_t>(b.size() >> 8));
    p.push_back(static_cast<std::uint8_t>(b.size()));
    p.insert(p.end(), b.begin(), b.end());
  }
  return p;
}

TEST(KeyFrames, ScreenVideoBlocks) {
  const auto full = ReadScreenHeader(Screen({{1, 2, 3}, {4}}), false);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->width, 32);
  EXPECT_EQ(full->height, 16);
  EXPECT_EQ(full->blockWidth, 16);
  EXPECT_TRUE(full->allBlocksIntra);
  const auto partial = ReadScreenHeader(Screen({{1, 2, 3}, {}}), false);
  ASSERT_TRUE(partial);
  EXPECT_FALSE(partial->allBlocksIntra);
  Bytes extra = Screen({{1}, {2}});
  extra.push_back(0);
  EXPECT_FALSE(ReadScreenHeader(extra, false));  // blocks must fill the packet
  Bytes overrun = Screen({{1}, {2}});
  overrun.pop_back();
  EXPECT_FALSE(ReadScreenHeader(overrun, false));
  // Version 2: a flags byte opens each block; difference blocks need the frame before.
  EXPECT_TRUE(ReadScreenHeader(Screen({{0x00, 1}, {0x00, 2}}, true), true)->allBlocksIntra);
  EXPECT_FALSE(ReadScreenHeader(Screen({{0x04, 0, 8, 1}, {0x00, 2}}, true), true)->allBlocksIntra);
  EXPECT_FALSE(ReadScreenHeader(Screen({{0x01, 1}, {0x00, 2}}, true), true)->allBlocksIntra);
}

VideoStreamDef Stream(VideoCodec codec, int w, int h, const std::vector<Bytes>& frames) {
  VideoStreamDef s;
  s.codec = codec;
  s.width = static_cast<std::uint16_t>(w);
  s.height = static_cast<std::uint16_t>(h);
  for (std::size_t i = 0; i < frames.size(); ++i) s.frames[static_cast<std::uint16_t>(i)] = frames[i];
  return s;
}

TEST(FrameLayouts, ScreenVideoFrameTypeByte) {
  Bytes key = Screen({{1}, {2}}), inter = Screen({{1}, {}});
  Bytes keyTagged = key, interTagged = inter;
  keyTagged.insert(keyTagged.begin(), 0x13);
  interTagged.insert(interTagged.begin(), 0x23);

  const std::vector<Bytes> tagged = {keyTagged, interTagged};
  const VideoStreamDef a = Stream(VideoCodec::kScreen, 32, 16, tagged);
  const FrameLayout la = DetectLayout(a);
  EXPECT_EQ(la.prefix, 1u);
  const FramePacket p0 = SplitFrame(a, la, a.frames.at(0));
  EXPECT_TRUE(p0.key);
  EXPECT_EQ(p0.payload.size(), key.size());
  EXPECT_FALSE(SplitFrame(a, la, a.frames.at(1)).key);

  const std::vector<Bytes> bare = {key, inter};
  const VideoStreamDef b = Stream(VideoCodec::kScreen, 32, 16, bare);
  const FrameLayout lb = DetectLayout(b);
  EXPECT_EQ(lb.prefix, 0u);
  EXPECT_TRUE(SplitFrame(b, lb, b.frames.at(0)).key);  // every block coded
  EXPECT_FALSE(SplitFrame(b, lb, b.frames.at(1)).key);
}

// A VP6 key frame header for 64 x 48 (4 x 3 macroblocks), VP62 with the
// filter profile, and an inter frame.
const Bytes kVp6Key = {0x3C, 0x46, 3, 4, 3, 4, 0x55, 0x66, 0x77};
const Bytes kVp6Inter = {0xBC, 0x11, 0x22, 0x33};

TEST(FrameLayouts, Vp6WithAndWithoutCropByte) {
  ASSERT_TRUE(ReadVp6KeyHeader(kVp6Key));
  EXPECT_EQ(ReadVp6KeyHeader(kVp6Key)->cols, 4);
  EXPECT_EQ(ReadVp6KeyHeader(kVp6Key)->rows, 3);
  EXPECT_FALSE(ReadVp6KeyHeader(kVp6Inter));

  // Bare VP6 data, as the format describes VideoFrame tags.
  const std::vector<Bytes> bare = {kVp6Key, kVp6Inter};
  const VideoStreamDef a = Stream(VideoCodec::kVp6, 60, 45, bare);
  const FrameLayout la = DetectLayout(a);
  EXPECT_EQ(la.prefix, 0u);
  FramePacket p = SplitFrame(a, la, a.frames.at(0));
  EXPECT_TRUE(p.key);
  EXPECT_EQ(p.adjustment, 0);
  EXPECT_EQ(p.payload.size(), kVp6Key.size());
  EXPECT_FALSE(SplitFrame(a, la, a.frames.at(1)).key);

  // The FLV crop byte in front (64 - 60 = 4 right, 48 - 45 = 3 bottom),
  // even a zero one, which alone reads like a key-frame byte.
  for (std::uint8_t crop : {std::uint8_t{0x43}, std::uint8_t{0x00}}) {
    Bytes key = kVp6Key, inter = kVp6Inter;
    key.insert(key.begin(), crop);
    inter.insert(inter.begin(), crop);
    const std::vector<Bytes> withCrop = {key, inter};
    const VideoStreamDef b = Stream(VideoCodec::kVp6, 60, 45, withCrop);
    const FrameLayout lb = DetectLayout(b);
    EXPECT_EQ(lb.prefix, 1u) << int{crop};
    p = SplitFrame(b, lb, b.frames.at(0));
    EXPECT_TRUE(p.key);
    EXPECT_EQ(p.adjustment, crop);
    EXPECT_EQ(p.payload[0], 0x3C);
    EXPECT_FALSE(SplitFrame(b, lb, b.frames.at(1)).key);
  }
}

TEST(FrameLayouts, Vp6AlphaOffsetStaysInThePayload) {
  Bytes key = {0, 0, 9};
  key.insert(key.end(), kVp6Key.begin(), kVp6Key.end());
  Bytes inter = {0, 0, 4};
  inter.insert(inter.end(), kVp6Inter.begin(), kVp6Inter.end());
  const std::vector<Bytes> frames = {key, inter};
  const VideoStreamDef s = Stream(VideoCodec::kVp6Alpha, 64, 48, frames);
  const FrameLayout l = DetectLayout(s);
  EXPECT_EQ(l.prefix, 0u);
  const FramePacket p = SplitFrame(s, l, s.frames.at(0));
  EXPECT_TRUE(p.key);
  EXPECT_EQ(p.payload.size(), key.size());  // libavcodec reads the alpha offset itself
  EXPECT_FALSE(SplitFrame(s, l, s.frames.at(1)).key);
}

TEST(FrameLayouts, EmptyFramesAreNotKeys) {
  const std::vector<Bytes> frames = {{}, {}};
  for (VideoCodec c : {VideoCodec::kH263, VideoCodec::kScreen, VideoCodec::kVp6, VideoCodec::kVp6Alpha}) {
    const VideoStreamDef s = Stream(c, 16, 16, frames);
    const FrameLayout l = DetectLayout(s);
    const FramePacket p = SplitFrame(s, l, s.frames.at(0));
    EXPECT_FALSE(p.key) << CodecName(c);
    EXPECT_TRUE(p.payload.empty());
  }
}

}  // namespace
}  // namespace quarvel::player::video
