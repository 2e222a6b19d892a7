#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/gdi/bitmap.h"

namespace quarvel::gdi {
namespace {
namespace fs = std::filesystem;

const Color kWhite{255, 255, 255}, kRed{255, 0, 0}, kBlue{0, 0, 255}, kGreen{0, 128, 0};

Color Expected(int x, int y) {
  if (x == 1 && y == 1) return kRed;
  if (x == 3 && y == 2) return kBlue;
  if (x == 6 && y == 4) return kGreen;
  return kWhite;
}

void ExpectPicture(const Bitmap& b, int tolerance, const std::string& what) {
  ASSERT_EQ(b.Width(), 7) << what;
  ASSERT_EQ(b.Height(), 5) << what;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      Color want = Expected(x, y), got = b.GetPixel(x, y);
      ASSERT_NEAR(got.r, want.r, tolerance) << what << " at " << x << "," << y;
      ASSERT_NEAR(got.g, want.g, tolerance) << what << " at " << x << "," << y;
      ASSERT_NEAR(got.b, want.b, tolerance) << what << " at " << x << "," << y;
    }
}

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

Bitmap Source24() {
  Bitmap b(7, 5, PixelFormat::pf24bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) b.SetPixel(x, y, Expected(x, y));
  return b;
}

// Fixtures made by an independent writer (ImageMagick) from the same picture.
class ImageMagickVariants : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    dir_ = fs::temp_directory_path() / ("qbmp" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    // PPM is trivial to write without any BMP code of ours.
    std::ofstream ppm(dir_ / "src.ppm", std::ios::binary);
    ppm << "P6\n7 5\n255\n";
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        Color c = Expected(x, y);
        ppm.put(char(c.r)).put(char(c.g)).put(char(c.b));
      }
  }
  void TearDown() override { fs::remove_all(dir_); }

  Bitmap Convert(const std::string& args, const std::string& name) {
    std::string cmd = "/usr/bin/convert '" + (dir_ / "src.ppm").string() + "' " + args + " '" + name + ":" +
                      (dir_ / "out.bmp").string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return LoadBmp(ReadAll(dir_ / "out.bmp"));
  }
  fs::path dir_;
};

TEST_F(ImageMagickVariants, EveryVariantReadsToTheSamePixels) {
  struct Case { const char* args; const char* kind; int bits; int tolerance; };
  const Case cases[] = {
      {"-type TrueColor", "BMP3", 24, 0},
      {"-type Palette", "BMP3", 4, 0},
      {"-type Palette -compress RLE", "BMP3", 8, 0},
      {"-monochrome", "BMP3", 1, -1},
      {"-type TrueColor", "BMP2", 24, 0},
      {"-type Palette", "BMP2", 4, 0},
      {"-type TrueColor", "BMP", 24, 0},
      {"-alpha on -type TrueColorAlpha", "BMP", 32, 0},
      {"-define bmp:subtype=RGB565", "BMP", 16, 8},
      {"-define bmp:subtype=RGB555", "BMP", 16, 8},
  };
  for (const Case& c : cases) {
    Bitmap b = Convert(c.args, c.kind);
    std::string what = std::string(c.kind) + " " + c.args;
    if (c.tolerance < 0) {
      // Two colours only: white stays white, everything else is black.
      ASSERT_EQ(b.BitsPerPixel(), 1) << what;
      EXPECT_EQ(b.GetPixel(0, 0), kWhite);
      EXPECT_EQ(b.GetPixel(3, 2), (Color{0, 0, 0}));
      continue;
    }
    ExpectPicture(b, c.tolerance, what);
    Bitmap as24 = b.ConvertTo(PixelFormat::pf24bit);
    ExpectPicture(as24, c.tolerance, what + " as 24 bits");
  }
}

TEST(BmpRoundTrip, EveryFormatIsBitExact) {
  std::mt19937 rng(7);
  for (PixelFormat f : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf15bit,
                        PixelFormat::pf16bit, PixelFormat::pf24bit, PixelFormat::pf32bit}) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 2}, std::pair{7, 1}, std::pair{11, 13}, std::pair{301, 3}}) {
      Bitmap b(w, h, f);
      for (auto& byte : b.Bits()) byte = std::uint8_t(rng());
      if (f == PixelFormat::pf32bit)  // the fourth byte is not colour and reads back as 0
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) b.ScanLine(y)[4 * x + 3] = 0;
      auto bytes = SaveBmp(b);
      Bitmap back = LoadBmp(bytes);
      ASSERT_EQ(back.Format(), f);
      ASSERT_EQ(back.Width(), w);
      ASSERT_EQ(back.Height(), h);
      ASSERT_EQ(back.Palette(), b.Palette());
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(back.GetPixel(x, y), b.GetPixel(x, y)) << int(f) << " " << x << "," << y;
      ASSERT_EQ(SaveBmp(back), bytes) << "format " << int(f);
    }
  }
}

TEST(BmpRead, TopDownAnd108ByteHeader) {
  Bitmap src = Source24();
  auto bytes = SaveBmp(src);
  // Top-down: negative height, rows in reverse order.
  auto td = bytes;
  std::int32_t h = -5;
  std::memcpy(&td[22], &h, 4);
  std::size_t stride = src.Stride();
  for (int r = 0; r < 5; ++r)
    std::memcpy(&td[54 + stride * std::size_t(r)], &bytes[54 + stride * std::size_t(4 - r)], stride);
  ExpectPicture(LoadBmp(td), 0, "top-down");

  // V4 header: the 40 bytes, then 68 more, pixel offset moved.
  std::vector<std::uint8_t> v4(bytes.begin(), bytes.begin() + 54);
  v4.insert(v4.end(), 68, 0);
  v4.insert(v4.end(), bytes.begin() + 54, bytes.end());
  std::uint32_t info = 108, off = 14 + 108;
  std::memcpy(&v4[14], &info, 4);
  std::memcpy(&v4[10], &off, 4);
  ExpectPicture(LoadBmp(v4), 0, "108-byte header");
}

TEST(BmpRead, Rle4AndRle8) {
  // 4 x 2 picture, palette {white, red}: bottom row "red white red white", top row all red.
  auto build = [](std::uint32_t compression, int bits, std::vector<std::uint8_t> rle) {
    std::vector<std::uint8_t> d(14 + 40 + 8, 0);
    d[0] = 'B'; d[1] = 'M';
    std::uint32_t off = 62, info = 40, colours = 2;
    std::int32_t w = 4, hgt = 2;
    std::memcpy(&d[10], &off, 4);
    std::memcpy(&d[14], &info, 4);
    std::memcpy(&d[18], &w, 4);
    std::memcpy(&d[22], &hgt, 4);
    d[26] = 1;
    d[28] = std::uint8_t(bits);
    std::memcpy(&d[30], &compression, 4);
    std::memcpy(&d[46], &colours, 4);
    d[54] = d[55] = d[56] = 255;  // white
    d[60] = 255;                  // red (B, G, R order)
    d.insert(d.end(), rle.begin(), rle.end());
    return d;
  };
  // RLE8: literal run of 4, end of line, encoded run of 4 x index 1, end of bitmap.
  Bitmap a = LoadBmp(build(1, 8, {0, 4, 1, 0, 1, 0, 0, 0, 4, 1, 0, 1}));
  // RLE4: encoded run alternating nibbles 1,0 for 4 pixels, end of line, run of 4 x 1, end.
  Bitmap b = LoadBmp(build(2, 4, {4, 0x10, 0, 0, 4, 0x11, 0, 1}));
  for (const Bitmap* p : {&a, &b}) {
    EXPECT_EQ(p->GetPixel(0, 1), kRed);
    EXPECT_EQ(p->GetPixel(1, 1), kWhite);
    EXPECT_EQ(p->GetPixel(2, 1), kRed);
    EXPECT_EQ(p->GetPixel(3, 0), kRed);
  }
}

TEST(BmpRead, DamagedImagesSayWhatIsWrong) {
  auto bytes = SaveBmp(Source24());
  auto message = [](std::vector<std::uint8_t> d) -> std::string {
    try {
      LoadBmp(d);
    } catch (const BitmapError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_NE(message({bytes.begin(), bytes.begin() + 10}).find("file header"), std::string::npos);
  EXPECT_NE(message({bytes.begin(), bytes.end() - 1}).find("pixel rows"), std::string::npos);
  auto bad_sig = bytes;
  bad_sig[0] = 'X';
  EXPECT_NE(message(bad_sig).find("signature"), std::string::npos);
  auto huge = bytes;
  std::int32_t w = 100000;
  std::memcpy(&huge[18], &w, 4);
  EXPECT_NE(message(huge).find("out of range"), std::string::npos);
  auto bits = bytes;
  bits[28] = 7;
  EXPECT_NE(message(bits).find("bit count"), std::string::npos);
  auto header = bytes;
  header[14] = 99;
  EXPECT_NE(message(header).find("info header"), std::string::npos);
  // Random damage never reads outside the buffer (ASan checks) and fails cleanly.
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    auto d = bytes;
    for (int k = 0; k < 4; ++k) d[rng() % d.size()] = std::uint8_t(rng());
    d.resize(rng() % d.size() + 1);
    try {
      LoadBmp(d);
    } catch (const BitmapError&) {
    }
  }
}

}  // namespace
}  // namespace quarvel::gdi
