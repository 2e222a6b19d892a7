#include "video_out/video_format.h"

#include <gtest/gtest.h>

namespace quarvel::video_out {
namespace {

std::string MessageOf(const VideoFormat& f, const VideoRequest& r) {
  try {
    CheckRequest(f, r, "out");
  } catch (const VideoError& e) {
    return e.what();
  }
  return "";
}

TEST(VideoFormat, ExtensionsChooseTheirContainerWhateverTheCase) {
  EXPECT_EQ(FormatForExtension(".mp4")->container, Container::kMp4);
  EXPECT_EQ(FormatForExtension(".MP4")->container, Container::kMp4);
  EXPECT_EQ(FormatForExtension(".webm")->video_codec, "libvpx-vp9");
  EXPECT_EQ(FormatForExtension(".png")->container, Container::kApng);
  EXPECT_EQ(FormatForExtension(".apng")->container, Container::kApng);
  EXPECT_EQ(FormatForExtension(".mkv")->muxer, "matroska");
  EXPECT_FALSE(FormatForExtension(".gif"));
  EXPECT_FALSE(FormatForExtension("mp4"));
  EXPECT_FALSE(FormatForExtension(""));
  EXPECT_EQ(ExtensionOf(FormatForName("apng")->container), ".png");
}

TEST(VideoFormat, AlphaOnlyWhereTheFormatKeepsIt) {
  VideoRequest alpha;
  alpha.alpha = true;
  const std::string mp4 = MessageOf(*FormatForName("mp4"), alpha);
  EXPECT_NE(mp4.find("transparent"), std::string::npos) << mp4;
  EXPECT_NE(mp4.find(".webm"), std::string::npos) << "says what to use instead: " << mp4;
  EXPECT_NE(MessageOf(*FormatForName("mov"), alpha), "");
  for (const char* ok : {"webm", "webp", "apng"}) EXPECT_EQ(MessageOf(*FormatForName(ok), alpha), "") << ok;
}

TEST(VideoFormat, QualityOptionsBelongToTheirCodecsAndRanges) {
  VideoRequest r;
  r.crf = 51;
  EXPECT_EQ(MessageOf(*FormatForName("mp4"), r), "");
  r.crf = 52;
  EXPECT_NE(MessageOf(*FormatForName("mp4"), r), "");
  EXPECT_EQ(MessageOf(*FormatForName("webm"), r), "") << "VP9 goes to 63";
  r.crf = 20;
  EXPECT_NE(MessageOf(*FormatForName("apng"), r).find("lossless"), std::string::npos);
  EXPECT_NE(MessageOf(*FormatForName("webp"), r).find("--quality"), std::string::npos);

  VideoRequest q;
  q.quality = 80;
  EXPECT_EQ(MessageOf(*FormatForName("webp"), q), "");
  EXPECT_NE(MessageOf(*FormatForName("mp4"), q).find("--crf"), std::string::npos);
  q.quality = 101;
  EXPECT_NE(MessageOf(*FormatForName("webp"), q), "");

  VideoRequest p;
  p.preset = "veryslow";
  EXPECT_EQ(MessageOf(*FormatForName("mp4"), p), "");
  p.preset = "glacial";
  EXPECT_NE(MessageOf(*FormatForName("mp4"), p).find("ultrafast"), std::string::npos);
}

}  // namespace
}  // namespace quarvel::video_out
