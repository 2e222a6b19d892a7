#include "player/video/amf0.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "player/video/video_error.h"

namespace quarvel::player::video {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Writes AMF0 the way FLV muxers do.
struct Amf {
  Bytes b;
  Amf& U16(unsigned v) { b.push_back(static_cast<std::uint8_t>(v >> 8)); b.push_back(static_cast<std::uint8_t>(v)); return *this; }
  Amf& U32(std::uint32_t v) { U16(v >> 16); return U16(v & 0xFFFF); }
  Amf& Name(const std::string& s) { U16(static_cast<unsigned>(s.size())); b.insert(b.end(), s.begin(), s.end()); return *this; }
  Amf& Number(double d) {
    b.push_back(0);
    const auto bits = std::bit_cast<std::uint64_t>(d);
    for (int i = 7; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    return *this;
  }
  Amf& Bool(bool v) { b.push_back(1); b.push_back(v); return *this; }
  Amf& String(const std::string& s) { b.push_back(2); return Name(s); }
  Amf& End() { U16(0); b.push_back(9); return *this; }
  Amf& Raw(std::initializer_list<std::uint8_t> bytes) { b.insert(b.end(), bytes); return *this; }
};

AmfValue Read(const Bytes& b) {
  std::size_t pos = 0;
  AmfValue v = ReadAmf0(b, pos);
  EXPECT_EQ(pos, b.size());
  return v;
}

TEST(Amf0, MetadataTree) {
  Amf a;
  a.Raw({8}).U32(4);
  a.Name("duration").Number(12.5);
  a.Name("stereo").Bool(true);
  a.Name("encoder").String("Lavf59");
  a.Name("keyframes").Raw({3});
  a.Name("times").Raw({10}).U32(2).Number(0).Number(0.5);
  a.End();
  a.End();
  const AmfValue v = Read(a.b);
  EXPECT_EQ(v.type, AmfValue::Type::kEcmaArray);
  ASSERT_EQ(v.properties.size(), 4u);
  EXPECT_EQ(v.properties[0].name, "duration");
  EXPECT_EQ(v.NumberAt("duration"), 12.5);
  EXPECT_TRUE(v.Find("stereo")->boolean);
  EXPECT_EQ(v.Find("encoder")->string, "Lavf59");
  EXPECT_EQ(v.NumberAt("encoder"), std::nullopt);
  const AmfValue* times = v.Find("keyframes")->Find("times");
  ASSERT_TRUE(times);
  ASSERT_EQ(times->elements.size(), 2u);
  EXPECT_EQ(times->elements[1].number, 0.5);
  EXPECT_EQ(v.Find("missing"), nullptr);
}

TEST(Amf0, ScalarTypes) {
  EXPECT_EQ(Read(Amf().Raw({5}).b).type, AmfValue::Type::kNull);
  EXPECT_EQ(Read(Amf().Raw({6}).b).type, AmfValue::Type::kUndefined);
  const AmfValue ref = Read(Amf().Raw({7}).U16(3).b);
  EXPECT_EQ(ref.type, AmfValue::Type::kReference);
  EXPECT_EQ(ref.number, 3);
  Amf date;
  date.Number(1000).b[0] = 11;
  date.U16(0);
  const AmfValue d = Read(date.b);
  EXPECT_EQ(d.type, AmfValue::Type::kDate);
  EXPECT_EQ(d.number, 1000);
  const AmfValue ls = Read(Amf().Raw({12}).U32(3).Raw({'a', 'b', 'c'}).b);
  EXPECT_EQ(ls.type, AmfValue::Type::kString);
  EXPECT_EQ(ls.string, "abc");
  const AmfValue typed = Read(Amf().Raw({16}).Name("Point").Name("x").Number(1).End().b);
  EXPECT_EQ(typed.type, AmfValue::Type::kTypedObject);
  EXPECT_EQ(typed.string, "Point");
  EXPECT_EQ(typed.NumberAt("x"), 1);
}

TEST(Amf0, DamagedData) {
  // Cut inside a number: the error names the field and where.
  Amf cut;
  cut.Raw({3}).Name("width").Number(160);
  cut.b.resize(cut.b.size() - 3);
  std::size_t pos = 0;
  try {
    ReadAmf0(cut.b, pos, 1000);
    FAIL() << "read a cut-off number";
  } catch (const VideoError& e) {
    EXPECT_EQ(e.Field(), "number");
    EXPECT_EQ(e.Offset(), 1009u);
  }
  // An object whose data ends between properties is closed there.
  const AmfValue open = Read(Amf().Raw({3}).Name("a").Number(1).b);
  EXPECT_EQ(open.NumberAt("a"), 1);
  // Unknown markers, AMF3 switches and huge strict-array counts are refused.
  pos = 0;
  EXPECT_THROW(ReadAmf0(Bytes{17, 0}, pos), VideoError);
  pos = 0;
  EXPECT_THROW(ReadAmf0(Amf().Raw({10}).U32(0xFFFFFFFF).b, pos), VideoError);
  // Nesting past the cap.
  Amf deep;
  for (int i = 0; i < kMaxAmfDepth + 2; ++i) deep.Raw({10}).U32(1);
  deep.Raw({5});
  pos = 0;
  EXPECT_THROW(ReadAmf0(deep.b, pos), VideoError);
  pos = 5;
  EXPECT_THROW(ReadAmf0(Bytes{5}, pos), VideoError);
}

}  // namespace
}  // namespace quarvel::player::video
