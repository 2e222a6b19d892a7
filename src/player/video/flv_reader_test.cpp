#include "player/video/flv_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "player/video/test_streams.h"
#include "player/video/video_error.h"

namespace quarvel::player::video {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Flv {
  Bytes b = {'F', 'L', 'V', 1, 0x05, 0, 0, 0, 9, 0, 0, 0, 0};
  Flv& Tag(std::uint8_t type, std::uint32_t ms, const Bytes& body) {
    const std::size_t size = body.size();
    b.insert(b.end(), {type, static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8),
                       static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(ms >> 16),
                       static_cast<std::uint8_t>(ms >> 8), static_cast<std::uint8_t>(ms),
                       static_cast<std::uint8_t>(ms >> 24), 0, 0, 0});
    b.insert(b.end(), body.begin(), body.end());
    const std::size_t prev = size + 11;
    b.insert(b.end(), {0, static_cast<std::uint8_t>(prev >> 16), static_cast<std::uint8_t>(prev >> 8),
                       static_cast<std::uint8_t>(prev)});
    return *this;
  }
};

TEST(FlvReader, TagFieldsOfEveryKind) {
  Flv f;
  f.Tag(18, 0, {2, 0, 10, 'o', 'n', 'M', 'e', 't', 'a', 'D', 'a', 't', 'a', 3, 0, 5, 'w', 'i', 'd', 't', 'h', 0,
                0x40, 0x64, 0, 0, 0, 0, 0, 0, 0, 0, 9});
  f.Tag(9, 0, {0x17, 0, 0, 0, 0, 1, 0x64, 0, 0x1F});                // H.264 configuration
  f.Tag(9, 40, {0x27, 1, 0xFF, 0xFF, 0xD8, 0xAA});                   // NAL units, composition -40
  f.Tag(8, 0, {0xAF, 0, 0x12, 0x10});                                // AAC configuration
  f.Tag(8, 23, {0x2E, 0xFF, 0xFB});                                  // MP3 44 kHz 16-bit mono
  f.Tag(9, 0x01000010, {0x14, 0x43, 0x3C, 0x46});                    // VP6 with crop byte, extended time
  f.Tag(9, 80, {0x52, 0x01});                                        // info frame
  const FlvFile file = ReadFlv(f.b);
  EXPECT_TRUE(file.hasAudio);
  EXPECT_TRUE(file.hasVideo);
  EXPECT_TRUE(file.problems.empty());
  ASSERT_EQ(file.tags.size(), 7u);
  ASSERT_TRUE(file.Metadata());
  EXPECT_EQ(file.Metadata()->NumberAt("width"), 160);

  const FlvVideo& cfg = file.tags[1].video;
  EXPECT_EQ(cfg.codec, VideoCodec::kH264);
  EXPECT_TRUE(cfg.Key());
  EXPECT_EQ(cfg.avcPacketType, 0);
  EXPECT_EQ(cfg.data.size(), 4u);
  const FlvVideo& nal = file.tags[2].video;
  EXPECT_EQ(nal.frameType, 2);
  EXPECT_FALSE(nal.Key());
  EXPECT_EQ(nal.compositionTime, -40);
  EXPECT_EQ(nal.data.size(), 1u);
  EXPECT_EQ(file.tags[2].timestamp, 40u);

  const FlvAudio& aac = file.tags[3].audio;
  EXPECT_EQ(aac.format, 10);
  EXPECT_EQ(aac.rateCode, 3);
  EXPECT_TRUE(aac.sixteenBit);
  EXPECT_TRUE(aac.stereo);
  EXPECT_EQ(aac.aacPacketType, 0);
  EXPECT_EQ(aac.data.size(), 2u);
  const FlvAudio& mp3 = file.tags[4].audio;
  EXPECT_EQ(mp3.format, 2);
  EXPECT_FALSE(mp3.stereo);
  EXPECT_EQ(mp3.aacPacketType, -1);
  EXPECT_EQ(mp3.data.size(), 2u);

  const FlvTag& vp6 = file.tags[5];
  EXPECT_EQ(vp6.timestamp, 0x01000010u);
  EXPECT_EQ(vp6.video.codec, VideoCodec::kVp6);
  EXPECT_EQ(vp6.video.adjustment, 0x43);
  EXPECT_EQ(vp6.video.data.size(), 2u);
  EXPECT_EQ(file.tags[6].video.frameType, 5);
}

TEST(FlvReader, DamagedFiles) {
  EXPECT_THROW(ReadFlv(Bytes{'F', 'W', 'S', 1, 0, 0, 0, 0, 9}), VideoError);
  EXPECT_THROW(ReadFlv(Bytes{'F', 'L', 'V', 1}), VideoError);

  Flv f;
  f.Tag(9, 0, {0x22, 1, 2, 3});
  f.Tag(9, 0, {});                           // no video header: skipped
  f.Tag(9 | 0x20, 0, {0x22, 1});             // encrypted: skipped
  f.Tag(7, 0, {1});                          // unknown type: skipped
  f.Tag(18, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0}); // script data without a name
  f.Tag(9, 100, {0x22, 4, 5, 6});
  const FlvFile file = ReadFlv(f.b);
  ASSERT_EQ(file.tags.size(), 2u);
  EXPECT_EQ(file.problems.size(), 4u);
  EXPECT_FALSE(file.truncated);

  // Cut inside the last tag: the tags before it stay.
  for (std::size_t cut = 1; cut < 16; ++cut) {
    const Bytes shorter(f.b.begin(), f.b.end() - static_cast<std::ptrdiff_t>(cut));
    const FlvFile part = ReadFlv(shorter);
    EXPECT_EQ(part.tags.size(), cut <= 4 ? 2u : 1u) << cut;
    EXPECT_EQ(part.truncated, cut > 4) << cut;
  }
}

// Every packet ffprobe finds in ffmpeg's FLV files, with its time and key flag.
TEST(FlvReader, FindsEveryPacketFfprobeFinds) {
  if (!testing::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const auto path = testing::MakeStream("av.flv", "-c:v flv1 -c:a libmp3lame -shortest", 160, 120, 1,
                                        "-f lavfi -i sine=frequency=440:sample_rate=44100");
  ASSERT_FALSE(path.empty());
  const auto listing = testing::TempDir() / "av.packets";
  ASSERT_TRUE(testing::Run("ffprobe -v error -show_entries packet=codec_type,pts,flags -of csv=p=0 '" + path.string() +
                           "' > '" + listing.string() + "'"));
  std::vector<std::string> expected;
  {
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(listing.c_str(), "r"), &std::fclose);
    ASSERT_TRUE(in);
    char line[256];
    while (std::fgets(line, sizeof line, in.get())) {
      std::string s(line);
      while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
      if (!s.empty()) expected.push_back(s);
    }
  }
  const auto bytes = testing::ReadFile(path);
  const FlvFile file = ReadFlv(bytes);
  EXPECT_TRUE(file.problems.empty());
  std::vector<std::string> ours;
  for (const FlvTag& t : file.tags) {
    if (t.type == FlvTagType::kScript) continue;
    const bool video = t.type == FlvTagType::kVideo;
    // ffprobe marks every audio packet as a key packet.
    const bool key = video ? t.video.Key() : true;
    ours.push_back(std::string(video ? "video" : "audio") + "," + std::to_string(t.timestamp) + "," +
                   (key ? "K_" : "__"));
  }
  EXPECT_EQ(ours, expected);
  ASSERT_TRUE(file.Metadata());
  EXPECT_EQ(file.Metadata()->NumberAt("width"), 160);
  EXPECT_EQ(file.Metadata()->NumberAt("height"), 120);
}

}  // namespace
}  // namespace quarvel::player::video
