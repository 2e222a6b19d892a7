#include "player/swf/records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel::swf {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Packs a string of '0'/'1' (spaces ignored) into bytes, zero-padded.
Bytes Pack(const std::string& bits) {
  Bytes out;
  int n = 0;
  for (char c : bits) {
    if (c == ' ') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<std::uint8_t>(0x80 >> (n % 8));
    ++n;
  }
  return out;
}

TEST(Records, RectOfA550By400Movie) {
  // The frame RECT most authoring tools write for 550 x 400 pixels.
  const Bytes d{0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00, 0xAB};
  Reader r(d);
  EXPECT_EQ(ReadRect(r), (Rect{0, 11000, 0, 8000}));
  EXPECT_EQ(r.Position(), 9u);
  EXPECT_EQ(r.U8(), 0xAB);
}

TEST(Records, RectWithNegativesAndZeroWidth) {
  const Bytes zero{0x00};
  Reader z(zero);
  EXPECT_EQ(ReadRect(z), Rect{});
  EXPECT_EQ(z.Position(), 1u);
  // n = 4: xmin -8, xmax 7, ymin -1, ymax 0.
  const Bytes d = Pack("00100 1000 0111 1111 0000");
  Reader r(d);
  EXPECT_EQ(ReadRect(r), (Rect{-8, 7, -1, 0}));
  EXPECT_EQ(r.Position(), 3u);
}

TEST(Records, RectCutOffNamesTheField) {
  const Bytes d{0x78, 0x00, 0x05};  // n = 15 needs 9 bytes
  Reader r(d, 8);
  try {
    ReadRect(r, "FrameSize");
    FAIL();
  } catch (const SwfError& e) {
    EXPECT_EQ(e.Field(), "FrameSize.Xmax");
  }
}

TEST(Records, MatrixTranslateOnly) {
  const Bytes d{0x0C, 0xA5, 0x80};
  Reader r(d);
  const Matrix m = ReadMatrix(r);
  EXPECT_EQ(m, (Matrix{1.0, 1.0, 0.0, 0.0, 20, -20}));
  EXPECT_TRUE(r.AtEnd());
}

TEST(Records, MatrixScaleRotateTranslate) {
  // scale 2.0 / -0.5 with 19 bits, rotate 0.25 / -1.0 with 18 bits, translate 0 bits.
  const std::string scale = "1 10011 0100000000000000000 1111000000000000000";
  const std::string rotate = "1 10010 000100000000000000 110000000000000000";
  const Bytes d = Pack(scale + rotate + "00000");
  Reader r(d);
  const Matrix m = ReadMatrix(r);
  EXPECT_DOUBLE_EQ(m.scaleX, 2.0);
  EXPECT_DOUBLE_EQ(m.scaleY, -0.5);
  EXPECT_DOUBLE_EQ(m.rotateSkew0, 0.25);
  EXPECT_DOUBLE_EQ(m.rotateSkew1, -1.0);
  EXPECT_EQ(m.translateX, 0);
  EXPECT_TRUE(r.AtEnd());
}

TEST(Records, CxformWithAndWithoutAlpha) {
  // add + mult, 10 bits: mult 256, 128, 0, (-256); add 10, -10, 0, (255).
  const std::string mult3 = "0100000000 0010000000 0000000000";
  const std::string add3 = "0000001010 1111110110 0000000000";
  const Bytes da = Pack("1 1 1010 " + mult3 + " 1100000000 " + add3 + " 0011111111");
  Reader a(da);
  const ColorTransform ca = ReadCxformWithAlpha(a);
  EXPECT_EQ(ca, (ColorTransform{256, 128, 0, -256, 10, -10, 0, 255}));
  EXPECT_TRUE(a.AtEnd());

  const Bytes db = Pack("1 1 1010 " + mult3 + add3);
  Reader b(db);
  const ColorTransform cb = ReadCxform(b);
  EXPECT_EQ(cb, (ColorTransform{256, 128, 0, 256, 10, -10, 0, 0}));
  EXPECT_TRUE(b.AtEnd());

  const Bytes dc = Pack("0 0 0000");
  Reader c(dc);  // neither term: identity
  EXPECT_TRUE(ReadCxformWithAlpha(c).IsIdentity());
}

TEST(Records, CxformApplyClamps) {
  const ColorTransform cx{512, 128, 256, 256, 0, -100, 300, -255};
  EXPECT_EQ(cx.Apply({200, 100, 10, 128}), (Rgba{255, 0, 255, 0}));
  EXPECT_EQ(ColorTransform{}.Apply({1, 2, 3, 4}), (Rgba{1, 2, 3, 4}));
}

TEST(Records, ColourOrders) {
  const Bytes d{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  Reader r(d);
  EXPECT_EQ(ReadRgb(r), (Rgba{1, 2, 3, 255}));
  EXPECT_EQ(ReadRgba(r), (Rgba{4, 5, 6, 7}));
  EXPECT_EQ(ReadArgb(r), (Rgba{9, 10, 11, 8}));
  EXPECT_THROW(ReadRgb(r), SwfError);
}

}  // namespace
}  // namespace quarvel::swf
