#pragma once
// Decoding of the SWF bitmap tags into premultiplied ARGB32 Cairo surfaces.

#include <cstdint>
#include <optional>
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

// The width and height of a picture as DecodeJpegTagImage or DecodeLossless
// would decode it, read from its header alone; nullopt when the header
// cannot be read or names a size the decoders refuse (decode it then: the
// decoder says why).
struct PictureSize {
  int width = 0, height = 0;
};
std::optional<PictureSize> JpegTagImageSize(std::span<const std::uint8_t> image, std::span<const std::uint8_t> tables);
std::optional<PictureSize> LosslessSize(std::span<const std::uint8_t> body, bool hasAlpha);

// zlib inflate with a hard cap on the output; throws ImageError.
std::vector<std::uint8_t> InflateCapped(std::span<const std::uint8_t> data, std::size_t expected);

}  // namespace quarvel::player
