#pragma once
// Decoding of the SWF bitmap tags into premultiplied ARGB32 Cairo surfaces.

#include <cstdint>
#include <span>
#include <stdexcept>

#include "player/library/characters.h"

namespace quarvel::player {

class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// JPEG, PNG or GIF data as DefineBitsJPEG2/3/4 hold it. `tables` are the
// JPEGTables of the movie for DefineBits (empty otherwise). `alpha` is the
// zlib-compressed alpha plane of DefineBitsJPEG3/4 (empty for none).
SurfacePtr DecodeJpegTagImage(std::span<const std::uint8_t> image, std::span<const std::uint8_t> tables,
                              std::span<const std::uint8_t> alpha);

// DefineBitsLossless (hasAlpha false) and DefineBitsLossless2 (true): the
// body after the character id.
SurfacePtr DecodeLossless(std::span<const std::uint8_t> body, bool hasAlpha);

// zlib inflate with a hard cap on the output; throws ImageError.
std::vector<std::uint8_t> InflateCapped(std::span<const std::uint8_t> data, std::size_t expected);

}  // namespace quarvel::player
