#include "cli/png_writer.h"

#include <png.h>

#include <stdexcept>
#include <vector>

namespace quarvel::cli {

void SavePng(const gdi::Bitmap& picture, const std::string& path) {
  if (picture.Empty()) throw std::runtime_error(path + ": the picture is empty");
  const int w = picture.Width(), h = picture.Height();
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* out = rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 3;
    for (int x = 0; x < w; ++x) {
      gdi::Color c = picture.GetPixel(x, y);
      out[3 * x] = c.r;
      out[3 * x + 1] = c.g;
      out[3 * x + 2] = c.b;
    }
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), w * 3, nullptr)) {
    std::string why = image.message;
    png_image_free(&image);
    throw std::runtime_error(path + ": cannot write PNG: " + why);
  }
}

}  // namespace quarvel::cli
