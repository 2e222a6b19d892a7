// The frame command's PNG files, read back by libpng's own reader: every
// pixel as drawn, for pictures that compress well and for noise that does
// not compress at all (the encoded file near the library's size bound).
#include "cli/png_writer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace quarvel::cli {
namespace {

std::vector<std::uint8_t> ReadRgb(const std::string& path, int& w, int& h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << "cannot read " << path << ": " << image.message;
    return {};
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    ADD_FAILURE() << "cannot decode " << path << ": " << image.message;
    return {};
  }
  w = static_cast<int>(image.width), h = static_cast<int>(image.height);
  return rgb;
}

void ExpectRoundTrip(const gdi::Bitmap& picture, const std::string& name) {
  const std::string path = (std::filesystem::path(::testing::TempDir()) / name).string();
  SavePng(picture, path, name);
  int w = 0, h = 0;
  const std::vector<std::uint8_t> rgb = ReadRgb(path, w, h);
  std::filesystem::remove(path);
  ASSERT_EQ(w, picture.Width());
  ASSERT_EQ(h, picture.Height());
  int wrong = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const gdi::Color c = picture.GetPixel(x, y);
      const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * w + x) * 3;
      if (p[0] != c.r || p[1] != c.g || p[2] != c.b) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << name;
}

TEST(PngWriter, PixelsReadBackAsDrawnWhetherTheyCompressOrNot) {
  std::mt19937 random(7);
  gdi::Bitmap noise(331, 97);  // odd sizes: rows of no round length
  for (int y = 0; y < noise.Height(); ++y)
    for (int x = 0; x < noise.Width(); ++x) {
      const std::uint32_t v = random();
      noise.SetPixel(x, y, gdi::Color{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)});
    }
  ExpectRoundTrip(noise, "noise.png");

  gdi::Bitmap bands(640, 480);
  for (int y = 0; y < bands.Height(); ++y)
    for (int x = 0; x < bands.Width(); ++x)
      bands.SetPixel(x, y, gdi::Color{std::uint8_t(x / 40 * 16), std::uint8_t(y), 200});
  ExpectRoundTrip(bands, "bands.png");

  gdi::Bitmap dot(1, 1);
  dot.SetPixel(0, 0, gdi::Color{1, 2, 3});
  ExpectRoundTrip(dot, "dot.png");
}

TEST(PngWriter, FailuresNameTheFileAsked) {
  gdi::Bitmap picture(4, 4);
  try {
    SavePng(picture, "/nonexistent-folder/x.png", "shown.png");
    FAIL() << "wrote into a missing folder";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("shown.png: cannot write"), std::string::npos) << e.what();
  }
  try {
    SavePng(gdi::Bitmap(), "/tmp/never.png", "empty.png");
    FAIL() << "wrote an empty picture";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("empty.png: the picture is empty"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quarvel::cli
