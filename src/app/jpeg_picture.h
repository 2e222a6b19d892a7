#pragma once
// JPEG pictures that "Prev" and "Next" show when one lies in the capture folder.

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>

#include "platform/gdi/bitmap.h"

namespace quarvel::app {

class JpegError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Largest picture accepted, checked from the header before decoding.
inline constexpr long long kMaxJpegPixels = 64LL << 20;

// Decodes a baseline or progressive JPEG (grey, RGB, CMYK) into a pfDevice
// picture. Throws JpegError naming the problem.
gdi::Bitmap DecodeJpeg(std::span<const std::uint8_t> data);
// Reads and decodes a file; errors name the file.
gdi::Bitmap LoadJpegPicture(const std::filesystem::path& path);

}  // namespace quarvel::app
