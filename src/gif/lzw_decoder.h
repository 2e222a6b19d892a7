#pragma once
// The GIF code stream read back: a frame the build encoded and then freed
// is decoded again from its own bytes when the rewrite needs its pixels.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quarvel::gif {

// Decodes the image data of a frame (the minimum code size, the sub-blocks
// and their terminator) into exactly `pixels` indices, row after row as
// stored. Throws GIFException (sBadImageData) when the stream is cut short,
// holds a code not yet defined or gives another count of pixels.
std::vector<std::uint8_t> DecodeImageData(std::span<const std::uint8_t> data, std::size_t pixels);

}  // namespace quarvel::gif
