#include "player/swf/reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace quarvel::swf {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Independent oracle: the data as a string of '0'/'1', most significant bit first.
std::string BitString(const Bytes& b) {
  std::string s;
  for (std::uint8_t v : b)
    for (int i = 7; i >= 0; --i) s += ((v >> i) & 1) ? '1' : '0';
  return s;
}

std::int64_t OracleSigned(const std::string& bits) {
  if (bits.empty()) return 0;
  std::int64_t v = 0;
  for (char c : bits) v = v * 2 + (c - '0');
  if (bits[0] == '1') v -= std::int64_t{1} << bits.size();
  return v;
}

TEST(ReaderBits, EveryWidthAtEveryStartBitMatchesOracle) {
  std::mt19937 rng(7);
  Bytes data(64);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  const std::string bits = BitString(data);
  for (unsigned start = 0; start < 8; ++start) {
    for (unsigned width = 0; width <= 32; ++width) {
      Reader r(data);
      r.UB(start);
      const std::string field = bits.substr(start, width);
      Reader s = r;
      const std::uint64_t u = r.UB(width);
      EXPECT_EQ(u, width ? std::stoull(field, nullptr, 2) : 0u) << start << "+" << width;
      EXPECT_EQ(s.SB(width), OracleSigned(field)) << start << "+" << width;
    }
  }
}

TEST(ReaderBits, SignedExtremes) {
  const Bytes ones{0xff, 0xff, 0xff, 0xff};
  const Bytes top{0x80, 0x00, 0x00, 0x00};
  for (unsigned w = 1; w <= 32; ++w) {
    Reader a(ones);
    EXPECT_EQ(a.SB(w), -1) << w;
    Reader b(top);
    EXPECT_EQ(b.SB(w), static_cast<std::int32_t>(-(std::int64_t{1} << (w - 1)))) << w;
  }
  Reader c(top);
  EXPECT_EQ(c.SB(32), std::numeric_limits<std::int32_t>::min());
  Reader d(ones);
  EXPECT_EQ(d.UB(32), 0xffffffffu);
}

TEST(ReaderBits, FixedBitFieldIs16Dot16) {
  // 0b1_0000000000000000 (17 bits) = 1.0 as unsigned, but FB is signed:
  // with 18 bits, 0b01_0000000000000000 = 1.0 and 0b11_0000000000000000 = -1.0.
  const Bytes plus{0x40, 0x00, 0x00};
  const Bytes minus{0xC0, 0x00, 0x00};
  Reader a(plus), b(minus);
  EXPECT_DOUBLE_EQ(a.FB(18), 1.0);
  EXPECT_DOUBLE_EQ(b.FB(18), -1.0);
}

TEST(ReaderBits, ByteReadsAlignAndWidthsAbove32Fail) {
  const Bytes data{0xA0, 0x34, 0x12};
  Reader r(data);
  EXPECT_EQ(r.UB(3), 5u);
  EXPECT_EQ(r.Remaining(), 2u);  // the partly read byte counts as used
  EXPECT_EQ(r.U16(), 0x1234);
  EXPECT_TRUE(r.AtEnd());
  Reader s(data);
  EXPECT_THROW(s.UB(33), SwfError);
}

TEST(ReaderBits, CutOffBitFieldNamesFieldAndOffset) {
  const Bytes data{0x12, 0x34, 0x56};
  Reader r(data, 100);
  r.U8();
  r.UB(4);
  try {
    r.UB(13, "Xmax");
    FAIL() << "no throw";
  } catch (const SwfError& e) {
    EXPECT_EQ(e.Field(), "Xmax");
    EXPECT_EQ(e.Offset(), 101u);
    EXPECT_NE(std::string(e.what()).find("Xmax"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("101"), std::string::npos);
  }
  EXPECT_EQ(r.UB(12), 0x456u);  // a failed read consumes nothing
}

TEST(ReaderBytes, IntegersAreLittleEndian) {
  const Bytes d{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xfe, 0xff};
  Reader r(d);
  EXPECT_EQ(r.U32(), 0x04030201u);
  EXPECT_EQ(r.U16(), 0x0605);
  EXPECT_EQ(r.S16(), 0x0807);
  EXPECT_EQ(r.S16(), -2);
  Reader q(d);
  EXPECT_EQ(q.U64(), 0x0807060504030201ull);
}

TEST(ReaderBytes, FixedAndFloat) {
  const Bytes d{0x80, 0xff, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0xc0, 0x3f};
  Reader r(d);
  EXPECT_DOUBLE_EQ(r.Fixed8(), -0.5);       // 0xff80
  EXPECT_DOUBLE_EQ(r.Fixed16(), 1.5);       // 0x00018000
  EXPECT_FLOAT_EQ(r.F32(), 1.5f);           // 0x3fc00000
  const Bytes dbl{0, 0, 0, 0, 0, 0, 0xf8, 0x3f};
  Reader f(dbl);
  EXPECT_DOUBLE_EQ(f.F64(), 1.5);
}

TEST(ReaderBytes, EncodedU32) {
  const Bytes d{0x7f, 0x80, 0x01, 0xff, 0xff, 0xff, 0xff, 0x0f, 0x80};
  Reader r(d);
  EXPECT_EQ(r.EncodedU32(), 127u);
  EXPECT_EQ(r.EncodedU32(), 128u);
  EXPECT_EQ(r.EncodedU32(), 0xffffffffu);
  EXPECT_THROW(r.EncodedU32(), SwfError);  // continuation bit then end of data
  EXPECT_EQ(r.Remaining(), 1u);
}

TEST(ReaderBytes, StringsNeedTheirNul) {
  const Bytes d{'a', 'b', 0, 0, 'c'};
  Reader r(d);
  EXPECT_EQ(r.String(), "ab");
  EXPECT_EQ(r.String(), "");
  EXPECT_THROW(r.String("Label"), SwfError);
  EXPECT_EQ(r.Remaining(), 1u);
}

TEST(ReaderBytes, SubReaderIsCutAndKeepsMovieOffsets) {
  const Bytes d{1, 2, 3, 4, 5, 6};
  Reader r(d, 10);
  r.U8();
  Reader sub = r.Sub(3, "Body");
  EXPECT_EQ(r.Position(), 4u);
  EXPECT_EQ(sub.Size(), 3u);
  EXPECT_EQ(sub.Bytes(2)[1], 3);
  try {
    sub.U16("Inner");
    FAIL();
  } catch (const SwfError& e) {
    EXPECT_EQ(e.Offset(), 13u);  // 10 + 1 + 2: never reads the parent's bytes
  }
  EXPECT_THROW(r.Sub(3), SwfError);
  EXPECT_EQ(r.Rest().size(), 2u);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_THROW(r.Seek(7), SwfError);
}

TEST(ReaderBytes, EveryReadOnEmptyDataThrows) {
  Reader r{std::span<const std::uint8_t>{}};
  EXPECT_THROW(r.U8(), SwfError);
  EXPECT_THROW(r.U16(), SwfError);
  EXPECT_THROW(r.U32(), SwfError);
  EXPECT_THROW(r.F64(), SwfError);
  EXPECT_THROW(r.UB(1), SwfError);
  EXPECT_THROW(r.String(), SwfError);
  EXPECT_THROW(r.Bytes(1), SwfError);
  EXPECT_EQ(r.UB(0), 0u);
  EXPECT_EQ(r.Bytes(0).size(), 0u);
}

}  // namespace
}  // namespace quarvel::swf
