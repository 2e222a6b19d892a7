#pragma once
// SWF containers ("FWS", "CWS" zlib, "ZWS" LZMA) and the movie header.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "platform/swf/records.h"
#include "platform/swf/tags.h"

namespace quarvel::swf {

enum class Compression { kNone, kZlib, kLzma };

// Which container the first three bytes name; nullopt when they are neither
// "FWS", "CWS" nor "ZWS" (or the data is shorter than three bytes).
std::optional<Compression> DetectCompression(std::span<const std::uint8_t> file);

// Limits on expanding a compressed body.
struct ExpandOptions {
  // A body may inflate to max(minCap, capFactor * declared file length),
  // and never past hardCap.
  std::uint64_t minCap = std::uint64_t{256} << 20;
  std::uint64_t capFactor = 4;
  std::uint64_t hardCap = std::uint64_t{2} << 30;
  // Keep what inflated from a zlib stream that ends early instead of
  // failing. (An LZMA body always ends where its data ends: those files
  // rarely carry an end marker or a true length.)
  bool acceptTruncated = false;

  std::uint64_t CapFor(std::uint32_t declaredLength) const;
};

// The whole movie uncompressed: the first 8 bytes of the file with the
// signature set to "FWS" (version and declared length unchanged), then the
// body (inflated for "CWS"/"ZWS"; the bytes after the 8-byte header as they
// stand for "FWS"). Throws SwfError for an unknown signature, a file shorter
// than its container header, a body that does not inflate, or one that
// inflates past the cap.
std::vector<std::uint8_t> ExpandMovie(std::span<const std::uint8_t> file,
                                      const ExpandOptions& options = {});

// The first 8 bytes as ExpandMovie gives them, then at most bodyBytes bytes
// of the body: enough to read the movie header without inflating the whole
// file. A stream that ends early gives what it holds; one that is broken
// before bodyBytes throws SwfError.
std::vector<std::uint8_t> ExpandMovieHead(std::span<const std::uint8_t> file,
                                          std::size_t bodyBytes);

struct MovieHeader {
  Rect frameSize;               // twips
  std::uint16_t frameRate = 0;  // 8.8 fixed; the high byte is whole frames per second
  std::uint16_t frameCount = 0;

  double FrameRate() const { return frameRate / 256.0; }
  bool operator==(const MovieHeader&) const = default;
};

// Reads the frame RECT, rate and count at offset 8 of an expanded movie.
MovieHeader ReadMovieHeader(Reader& r);

struct Movie {
  Compression compression = Compression::kNone;
  std::uint8_t version = 0;
  std::uint32_t fileLength = 0;     // as the header declares it
  std::vector<std::uint8_t> data;   // as ExpandMovie gives it
  MovieHeader header;
  std::size_t tagsOffset = 0;       // first tag header in data

  std::span<const std::uint8_t> Tags() const& {
    return std::span<const std::uint8_t>(data).subspan(tagsOffset);
  }
  // The top-level tags; offsets count from the start of data.
  TagStream TagsStream() const& { return TagStream(Tags(), tagsOffset); }
  // Spans into a temporary movie would dangle.
  std::span<const std::uint8_t> Tags() const&& = delete;
  TagStream TagsStream() const&& = delete;
};

// Expands the file and reads its movie header.
Movie OpenMovie(std::span<const std::uint8_t> file, const ExpandOptions& options = {});

// Reads a whole file into memory; throws SwfError naming the path when it
// cannot be read or is larger than maxBytes.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path,
                                        std::uint64_t maxBytes = std::uint64_t{2} << 30);

// ReadFileBytes + OpenMovie; errors name the path.
Movie LoadMovieFile(const std::filesystem::path& path, const ExpandOptions& options = {});

}  // namespace quarvel::swf
