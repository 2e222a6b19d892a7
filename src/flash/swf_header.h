#pragma once
// Reading a movie's frame rectangle and frame rate when it is opened, and
// the expanded copy "uncompress.swf" of a compressed movie.

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace quarvel::swf {
struct Movie;
}

namespace quarvel::flash {

// The frame rectangle in pixels (twips / 20, truncated toward zero).
struct SwfBounds {
  std::int32_t xmin = 0;
  std::int32_t ymin = 0;
  std::int32_t xmax = 0;
  std::int32_t ymax = 0;

  std::int32_t Width() const { return xmax - xmin; }
  std::int32_t Height() const { return ymax - ymin; }
  bool operator==(const SwfBounds&) const = default;
};

// Bounds of the movie in `file`. For a compressed movie ("CWS" zlib or
// "ZWS" LZMA) the rectangle is read from the inflated data and the expanded
// copy is written to WorkPath("uncompress.swf"), replacing any earlier one.
// Any other signature than "FWS", "CWS" or "ZWS" gives 0, 0, 540, 400 and
// writes nothing. Throws swf::SwfError for a header that is cut off, a body
// that does not inflate or inflates past the cap (no copy is written then),
// and std::filesystem::filesystem_error when the copy cannot be written.
SwfBounds ReadSwfHeader(std::span<const std::uint8_t> file);
// The same for a movie already opened (swf::OpenMovie): its expanded bytes
// are used instead of inflating the file again.
SwfBounds ReadSwfHeader(const swf::Movie& opened);

// Whole frames per second (the high byte of the 8.8 rate), read from the
// inflated header of a compressed movie too; 12 for an unknown signature.
// Throws swf::SwfError for a header that is cut off or does not inflate.
int ReadSwfFrameRate(std::span<const std::uint8_t> file);

// Writes the expanded copy of a compressed movie to `target` (via a
// temporary file beside it, so a failed expansion leaves no partial file).
// Returns the copy's size. Throws as ReadSwfHeader does.
std::uint64_t WriteExpandedCopy(std::span<const std::uint8_t> file,
                                const std::filesystem::path& target);

// WorkPath("uncompress.swf").
std::filesystem::path ExpandedCopyPath();

}  // namespace quarvel::flash
