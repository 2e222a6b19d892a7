#include "cli/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace quarvel::cli {

void SavePng(const gdi::Bitmap& picture, const std::string& path, const std::string& shown) {
  if (picture.Empty()) throw std::runtime_error(shown + ": the picture is empty");
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
  // Encoded in memory, then written here: the library's own file writing
  // reports a full disk as "Write Error", without the cause.
  // Into a buffer of the library's bound for the image: asking the size
  // first would compress the picture twice.
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  std::vector<std::uint8_t> bytes(size);
  const bool encoded = png_image_write_to_memory(&image, bytes.data(), &size, 0, rgb.data(), w * 3, nullptr) != 0;
  if (!encoded) {
    std::string why = image.message;
    png_image_free(&image);
    throw std::runtime_error(shown + ": cannot make the PNG: " + why);
  }
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error(shown + ": cannot write: " + std::strerror(errno));
  bool written = std::fwrite(bytes.data(), 1, size, file) == size && std::fflush(file) == 0;
  int err = written ? 0 : errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    err = errno;
  }
  if (!written) throw std::runtime_error(shown + ": cannot write: " + std::strerror(err ? err : EIO));
}

}  // namespace quarvel::cli
