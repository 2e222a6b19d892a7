#include "player/swf/tags.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarvel::swf {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Short(Bytes& out, std::uint16_t code, std::uint8_t len) {
  const std::uint16_t w = static_cast<std::uint16_t>(code << 6 | len);
  out.push_back(w & 0xff);
  out.push_back(w >> 8);
}

void Long(Bytes& out, std::uint16_t code, std::uint32_t len) {
  Short(out, code, 0x3f);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(len >> (8 * i)));
}

TEST(TagHeaders, ShortAndLongForms) {
  Bytes d;
  Short(d, tag::kShowFrame, 0);
  Short(d, tag::kSetBackgroundColor, 3);
  Long(d, tag::kDefineSound, 0x12345678);
  Long(d, tag::kDoAction, 5);  // long form for a short length is legal
  Reader r(d);
  EXPECT_EQ(ReadTagHeader(r), (TagHeader{1, 0, 2}));
  EXPECT_EQ(ReadTagHeader(r), (TagHeader{9, 3, 2}));
  EXPECT_EQ(ReadTagHeader(r), (TagHeader{14, 0x12345678, 6}));
  EXPECT_EQ(ReadTagHeader(r), (TagHeader{12, 5, 6}));
}

TEST(TagStream, YieldsTagsWithBodiesAndOffsets) {
  Bytes d;
  Short(d, tag::kSetBackgroundColor, 3);
  d.insert(d.end(), {0x10, 0x20, 0x30});
  Long(d, tag::kSoundStreamBlock, 2);
  d.insert(d.end(), {0xAA, 0xBB});
  Short(d, tag::kEnd, 0);
  d.push_back(0);  // padding after End
  TagStream s(d, 20);
  auto t = s.Next();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->code, tag::kSetBackgroundColor);
  EXPECT_EQ(t->offset, 20u);
  ASSERT_EQ(t->body.size(), 3u);
  EXPECT_EQ(t->body[2], 0x30);
  t = s.Next();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->code, tag::kSoundStreamBlock);
  EXPECT_EQ(t->offset, 25u);
  EXPECT_EQ(t->BodyReader().Offset(), 31u);
  EXPECT_EQ(t->body[0], 0xAA);
  t = s.Next();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->code, tag::kEnd);
  // A single stray byte cannot be a tag header.
  EXPECT_THROW(s.Next(), SwfError);
}

TEST(TagStream, OverlongTagThrowsAndStaysPut) {
  Bytes d;
  Short(d, tag::kShowFrame, 0);
  Long(d, tag::kDefineSound, 1000);
  d.insert(d.end(), 10, 0);
  TagStream s(d);
  ASSERT_TRUE(s.Next());
  try {
    s.Next();
    FAIL();
  } catch (const SwfError& e) {
    EXPECT_EQ(e.Offset(), 2u);
    EXPECT_NE(std::string(e.what()).find("DefineSound"), std::string::npos);
  }
  EXPECT_EQ(s.Offset(), 2u);
  EXPECT_THROW(s.Next(), SwfError);
}

TEST(TagStream, CutOffLongHeader) {
  Bytes d;
  Short(d, tag::kDefineShape, 0x3f);
  d.push_back(1);  // only one of the four length bytes
  TagStream s(d);
  try {
    s.Next();
    FAIL();
  } catch (const SwfError& e) {
    EXPECT_EQ(e.Field(), "TagLength");
    EXPECT_EQ(e.Offset(), 2u);
  }
}

TEST(TagStream, EmptyDataEndsQuietly) {
  TagStream s(std::span<const std::uint8_t>{});
  EXPECT_FALSE(s.Next());
}

TEST(TagNames, KnownAndUnknown) {
  EXPECT_EQ(TagName(0), "End");
  EXPECT_EQ(TagName(tag::kDefineShape4), "DefineShape4");
  EXPECT_EQ(TagName(tag::kSoundStreamHead2), "SoundStreamHead2");
  EXPECT_EQ(TagName(tag::kDoAbc), "DoABC");
  EXPECT_EQ(TagName(44), "Unknown");
  EXPECT_EQ(TagName(1023), "Unknown");
}

}  // namespace
}  // namespace quarvel::swf
