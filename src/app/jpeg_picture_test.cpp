#include "app/jpeg_picture.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace quarvel::app {
namespace {

// Fixture pictures are made with libjpeg's encoder at top quality.
std::vector<std::uint8_t> EncodeJpeg(int width, int height, int components, bool progressive,
                                     std::uint8_t (*pixel)(int x, int y, int c)) {
  jpeg_compress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * components);
  while (info.next_scanline < info.image_height) {
    const int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) row[static_cast<std::size_t>(x * components + c)] = pixel(x, y, c);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  jpeg_destroy_compress(&info);
  return out;
}

std::uint8_t Quadrants(int x, int y, int c) {
  // Left half red, right half blue; top and bottom halves differ in green.
  if (c == 0) return x < 16 ? 255 : 0;
  if (c == 1) return y < 8 ? 0 : 128;
  return x < 16 ? 0 : 255;
}

std::uint8_t Grey(int x, int, int) { return static_cast<std::uint8_t>(x * 8); }

bool Near(int a, int b) { return std::abs(a - b) <= 6; }

TEST(JpegPictureTest, DecodesColourAndGreyPicturesTopDown) {
  for (bool progressive : {false, true}) {
    const gdi::Bitmap picture = DecodeJpeg(EncodeJpeg(32, 16, 3, progressive, Quadrants));
    ASSERT_EQ(picture.Width(), 32);
    ASSERT_EQ(picture.Height(), 16);
    EXPECT_EQ(picture.Format(), gdi::PixelFormat::pfDevice);
    const gdi::Color top_left = picture.GetPixel(4, 2);
    const gdi::Color bottom_right = picture.GetPixel(28, 13);
    EXPECT_TRUE(Near(top_left.r, 255) && Near(top_left.g, 0) && Near(top_left.b, 0)) << progressive;
    EXPECT_TRUE(Near(bottom_right.r, 0) && Near(bottom_right.g, 128) && Near(bottom_right.b, 255)) << progressive;
  }
  const gdi::Bitmap grey = DecodeJpeg(EncodeJpeg(32, 4, 1, false, Grey));
  EXPECT_TRUE(Near(grey.GetPixel(20, 1).r, 160));
  EXPECT_EQ(grey.GetPixel(20, 1).r, grey.GetPixel(20, 1).b);
}

TEST(JpegPictureTest, DamagedDataIsAnErrorNotACrash) {
  EXPECT_THROW(DecodeJpeg({}), JpegError);
  const std::vector<std::uint8_t> junk(100, 0x42);
  EXPECT_THROW(DecodeJpeg(junk), JpegError);
  std::vector<std::uint8_t> good = EncodeJpeg(32, 16, 3, false, Quadrants);
  // Cut off at every length: a JpegError or a picture, never a crash.
  for (std::size_t n = 1; n < good.size(); n += 7) {
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
    try {
      const gdi::Bitmap p = DecodeJpeg(cut);
      EXPECT_EQ(p.Width(), 32);
    } catch (const JpegError&) {
    }
  }
  good.resize(20);  // inside the header
  EXPECT_THROW(DecodeJpeg(good), JpegError);
}

TEST(JpegPictureTest, FileErrorsNameTheFile) {
  const auto dir = std::filesystem::temp_directory_path() / "quarvel_jpeg_test";
  std::filesystem::create_directories(dir);
  const auto bad = dir / "7.jpg";
  std::ofstream(bad) << "not a picture";
  try {
    LoadJpegPicture(bad);
    FAIL() << "no error";
  } catch (const JpegError& e) {
    EXPECT_NE(std::string(e.what()).find("7.jpg"), std::string::npos) << e.what();
  }
  EXPECT_THROW(LoadJpegPicture(dir / "missing.jpg"), JpegError);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quarvel::app
