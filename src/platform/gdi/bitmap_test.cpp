#include "platform/gdi/bitmap.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace quarvel::gdi {
namespace {

Bitmap UniquePixels(int w, int h) {
  Bitmap b(w, h, PixelFormat::pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, Color{std::uint8_t(x), std::uint8_t(y), std::uint8_t((x * 7 + y) & 255)});
  return b;
}

TEST(BitmapLimits, RefusesBadSizesBeforeAllocating) {
  EXPECT_THROW(Bitmap(0, 10), BitmapError);
  EXPECT_THROW(Bitmap(10, -1), BitmapError);
  EXPECT_THROW(Bitmap(32769, 1), BitmapError);
  EXPECT_THROW(Bitmap(1, 40000), BitmapError);
  // 32768 x 32768 x 4 bytes is 4 GiB.
  try {
    Bitmap(32768, 32768, PixelFormat::pf32bit);
    FAIL() << "no error";
  } catch (const BitmapError& e) {
    EXPECT_NE(std::string(e.what()).find("1 GiB"), std::string::npos) << e.what();
  }
  EXPECT_NO_THROW(Bitmap(32768, 1, PixelFormat::pf1bit));
}

TEST(BitmapLayout, RowsAreBottomUpAndPaddedToFourBytes) {
  Bitmap b(3, 2, PixelFormat::pf24bit);
  EXPECT_EQ(b.Stride(), 12u);
  b.SetPixel(0, 0, Color{1, 2, 3});  // top row lives at the end of the buffer
  EXPECT_EQ(b.Bits()[12], 3);
  EXPECT_EQ(b.Bits()[14], 1);
  EXPECT_EQ(Bitmap(5, 1, PixelFormat::pf1bit).Stride(), 4u);
  EXPECT_EQ(Bitmap(33, 1, PixelFormat::pf1bit).Stride(), 8u);
  EXPECT_EQ(Bitmap(3, 1, PixelFormat::pf4bit).Stride(), 4u);
  EXPECT_EQ(Bitmap(3, 1, PixelFormat::pf15bit).Stride(), 8u);
  EXPECT_EQ(Bitmap(3, 1).BitsPerPixel(), 32);
}

TEST(BitmapPixels, EveryFormatKeepsWhatItCanRepresent) {
  for (PixelFormat f : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf15bit,
                        PixelFormat::pf16bit, PixelFormat::pf24bit, PixelFormat::pf32bit}) {
    Bitmap b(9, 5, f);
    const auto& pal = b.Palette();
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) {
        Color c = pal.empty() ? Color{std::uint8_t(x * 24), std::uint8_t(y * 40), 0xF8} : pal[(x + y) % pal.size()];
        b.SetPixel(x, y, c);
      }
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) {
        Color want = pal.empty() ? Color{std::uint8_t(x * 24), std::uint8_t(y * 40), 0xF8} : pal[(x + y) % pal.size()];
        Color got = b.GetPixel(x, y);
        int tol = (f == PixelFormat::pf15bit || f == PixelFormat::pf16bit) ? 7 : 0;
        EXPECT_NEAR(got.r, want.r, tol) << int(f) << " at " << x << "," << y;
        EXPECT_NEAR(got.g, want.g, tol);
        EXPECT_NEAR(got.b, want.b, tol);
      }
  }
}

TEST(BitmapConvert, PalettizedTargetsTakeTheNearestFreshPaletteColour) {
  Bitmap src(2, 1, PixelFormat::pf24bit);
  src.SetPixel(0, 0, Color{200, 200, 200});
  src.SetPixel(1, 0, Color{10, 0, 90});
  Bitmap mono = src.ConvertTo(PixelFormat::pf1bit);
  EXPECT_EQ(mono.GetPixel(0, 0), (Color{255, 255, 255}));
  EXPECT_EQ(mono.GetPixel(1, 0), (Color{0, 0, 0}));
  Bitmap vga = src.ConvertTo(PixelFormat::pf4bit);
  EXPECT_EQ(vga.GetPixel(0, 0), Color::FromRgb(0xC0C0C0));
  EXPECT_EQ(vga.GetPixel(1, 0), Color::FromRgb(0x000080));
  Bitmap half = src.ConvertTo(PixelFormat::pf8bit);
  EXPECT_EQ(half.Palette().size(), 256u);
  EXPECT_EQ(half.GetPixel(0, 0), Color::FromRgb(0xCCCCCC));
  Bitmap back = half.ConvertTo(PixelFormat::pf24bit);
  EXPECT_EQ(back.GetPixel(1, 0), half.GetPixel(1, 0));
}

TEST(BitmapConvert, ReinterpretKeepsTheBytesBetweenFormatsOfOneWidth) {
  Bitmap device(3, 2, PixelFormat::pfDevice);
  device.SetPixel(1, 1, Color{10, 20, 30});
  Bitmap as32 = device;
  as32.Reinterpret(PixelFormat::pf32bit);
  EXPECT_EQ(as32.Format(), PixelFormat::pf32bit);
  EXPECT_TRUE(std::equal(as32.Bits().begin(), as32.Bits().end(), device.Bits().begin(), device.Bits().end()));
  EXPECT_EQ(as32.GetPixel(1, 1), (Color{10, 20, 30}));
  // Other widths would need their bytes rewritten: refused, the picture unchanged.
  EXPECT_THROW(as32.Reinterpret(PixelFormat::pf24bit), BitmapError);
  Bitmap indexed(3, 2, PixelFormat::pf8bit);
  EXPECT_THROW(indexed.Reinterpret(PixelFormat::pf8bit), BitmapError);
  EXPECT_EQ(as32.Format(), PixelFormat::pf32bit);
}

// 32 to 24 bits runs four pixels at a time: every width keeps each
// pixel's three colour bytes, the fourth dropped.
TEST(BitmapConvert, ThirtyTwoToTwentyFourBitsKeepsEveryPixelAtEveryWidth) {
  std::mt19937 rng(5);
  for (int w = 1; w <= 13; ++w) {
    Bitmap src(w, 3, PixelFormat::pf32bit);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w * 4; ++x) src.ScanLine(y)[x] = std::uint8_t(rng());
    const Bitmap out = src.ConvertTo(PixelFormat::pf24bit);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(out.ScanLine(y)[x * 3 + c], src.ScanLine(y)[x * 4 + c]) << w << " wide at " << x << "," << y;
  }
}

TEST(BitmapPalettes, HalftoneHoldsTheSystemColours) {
  auto half = HalftonePalette();
  ASSERT_EQ(half.size(), 256u);
  std::set<std::uint32_t> all;
  for (auto c : half) all.insert(c.ToRgb());
  for (auto c : SystemPalette20()) EXPECT_TRUE(all.count(c.ToRgb())) << std::hex << c.ToRgb();
  EXPECT_EQ(SystemPalette20().size(), 20u);
  EXPECT_EQ(Vga16Palette().size(), 16u);
}

TEST(BitBltTest, CopiesAndClips) {
  Bitmap src = UniquePixels(10, 8);
  Bitmap dst(6, 6, PixelFormat::pf24bit);
  BitBlt(dst, -2, 3, 10, 10, src, 1, 1);
  // Destination (0,3) takes source (1+2, 1).
  EXPECT_EQ(dst.GetPixel(0, 3), src.GetPixel(3, 1));
  EXPECT_EQ(dst.GetPixel(5, 5), src.GetPixel(8, 3));
  EXPECT_EQ(dst.GetPixel(0, 2), (Color{0, 0, 0}));
  Bitmap d32(6, 6);
  BitBlt(d32, 0, 0, 6, 6, src, 4, 2);
  EXPECT_EQ(d32.GetPixel(5, 5), src.GetPixel(9, 7));
}

TEST(StretchBltTest, EveryTargetPixelIsOneSourcePixel) {
  Bitmap src = UniquePixels(550 / 5, 400 / 5);  // all pixels distinct
  std::set<std::uint32_t> colours;
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x) colours.insert(src.GetPixel(x, y).ToRgb());
  for (auto [w, h] : {std::pair{60, 45}, std::pair{300, 200}, std::pair{1, 1}, std::pair{111, 81}}) {
    Bitmap dst(w, h, PixelFormat::pf32bit);
    StretchBlt(dst, 0, 0, w, h, src, 0, 0, src.Width(), src.Height());
    int prev_col = -1;
    for (int x = 0; x < w; ++x) {
      // Columns are kept in order and rows are kept whole: the sampled source
      // column is the same for every row.
      Color top = dst.GetPixel(x, 0);
      ASSERT_TRUE(colours.count(top.ToRgb())) << w << "x" << h << " col " << x;
      EXPECT_GE(int(top.r), prev_col);
      prev_col = top.r;
      for (int y = 0; y < h; ++y) ASSERT_EQ(dst.GetPixel(x, y).r, top.r);
    }
  }
}

// Each target pixel is the source pixel under its centre, whether the copy
// goes pixel by pixel or a run of neighbours at a time; what falls outside
// the target is left alone.
TEST(StretchBltTest, EachPixelIsTheSourcePixelUnderItsCentre) {
  const Bitmap src = UniquePixels(37, 9);
  struct Case {
    int x, y, w, h;
  };
  for (const Case c : {Case{0, 0, 39, 10}, Case{0, 0, 36, 9}, Case{-3, 1, 74, 5}, Case{2, -1, 40, 12}, Case{0, 0, 11, 3}}) {
    Bitmap dst(40, 10, PixelFormat::pf24bit);
    FillRect(dst, Rect{0, 0, 40, 10}, Color{1, 2, 3});
    StretchBlt(dst, c.x, c.y, c.w, c.h, src, 0, 0, src.Width(), src.Height());
    for (int ty = 0; ty < 10; ++ty)
      for (int tx = 0; tx < 40; ++tx) {
        const int col = tx - c.x, row = ty - c.y;
        const Color want = col < 0 || row < 0 || col >= c.w || row >= c.h
                               ? Color{1, 2, 3}
                               : src.GetPixel(int((2LL * col + 1) * src.Width() / (2LL * c.w)),
                                              int((2LL * row + 1) * src.Height() / (2LL * c.h)));
        ASSERT_EQ(dst.GetPixel(tx, ty), want) << c.w << "x" << c.h << " at " << tx << "," << ty;
      }
  }
}

TEST(StretchBltTest, EnlargingRepeatsPixels) {
  Bitmap src(2, 1, PixelFormat::pf24bit);
  src.SetPixel(0, 0, Color{255, 0, 0});
  src.SetPixel(1, 0, Color{0, 0, 255});
  Bitmap dst(4, 2, PixelFormat::pf24bit);
  StretchBlt(dst, 0, 0, 4, 2, src, 0, 0, 2, 1);
  EXPECT_EQ(dst.GetPixel(1, 1), (Color{255, 0, 0}));
  EXPECT_EQ(dst.GetPixel(2, 0), (Color{0, 0, 255}));
}

TEST(BitmapSize, SetSizeKeepsTopLeftContent) {
  Bitmap b = UniquePixels(5, 4);
  Color keep = b.GetPixel(2, 1);
  b.SetSize(8, 2);
  EXPECT_EQ(b.Width(), 8);
  EXPECT_EQ(b.GetPixel(2, 1), keep);
  EXPECT_EQ(b.GetPixel(7, 0), (Color{0, 0, 0}));
  b.Fill(Color{9, 8, 7});
  EXPECT_EQ(b.GetPixel(7, 1), (Color{9, 8, 7}));
}

}  // namespace
}  // namespace quarvel::gdi
