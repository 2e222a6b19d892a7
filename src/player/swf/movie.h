#pragma once
// SWF containers ("FWS", "CWS" zlib, "ZWS" LZMA) and the movie header.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "player/swf/records.h"
#include "player/swf/tags.h"

namespace quarvel::swf {

enum class Compression { kNone, kZlib, kLzma };

// Which container the first three bytes name; nullopt when they are neither
// "FWS", "CWS" nor "ZWS" (or the data is shorter than three bytes).
std::optional<Compression> DetectCompression(std::span<const std::uint8_t> file);

// The largest movie accepted unless the front end says otherwise (the
// command line's --max-movie-size): 512 MiB. Setting it makes it the cap
// for every movie, whatever its declared length.
inline constexpr std::uint64_t kDefaultMaxMovieSize = std::uint64_t{512} << 20;
std::uint64_t MaxMovieSize();
void SetMaxMovieSize(std::uint64_t bytes);

// Checked between pieces of a long expansion; when it returns true the
// expansion ends with SwfError("interrupted"). Front ends set it for Ctrl-C.
void SetExpandInterrupt(bool (*interrupted)());

// Limits on expanding a compressed body.
struct ExpandOptions {
  // A body may inflate to max(minCap, capFactor * declared file length),
  // and never past hardCap.
  std::uint64_t minCap = MinMovieCap();
  std::uint64_t capFactor = 4;
  std::uint64_t hardCap = MaxMovieSize();
  // Keep what inflated from a zlib stream that ends early (the movie is then
  // marked cut off) instead of failing. (An LZMA body always ends where its
  // data ends: those files rarely carry an end marker or a true length.)
  bool acceptTruncated = true;

  std::uint64_t CapFor(std::uint32_t declaredLength) const;
  // The cap for a movie that declares a small length: 256 MiB, or the
  // whole MaxMovieSize once a front end set it.
  static std::uint64_t MinMovieCap();
};

// Whether the last expansion's body was cut off (set by ExpandMovie).
struct ExpandReport {
  bool cutOff = false;
  std::uint64_t bodyBytes = 0;  // what the body gave
};

// The whole movie uncompressed: the first 8 bytes of the file with the
// signature set to "FWS" (version and declared length unchanged), then the
// body (inflated for "CWS"/"ZWS"; the bytes after the 8-byte header as they
// stand for "FWS"). Throws SwfError for an unknown signature, a file shorter
// than its container header, a body that does not inflate, or one that
// inflates past the cap.
// The body is inflated once, into a buffer reserved up front; only a body
// that outgrows its declared length is counted first and inflated again, so
// the peak stays near the movie's own size.
std::vector<std::uint8_t> ExpandMovie(std::span<const std::uint8_t> file,
                                      const ExpandOptions& options = {},
                                      ExpandReport* report = nullptr);

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
  std::size_t storedBytes = 0;      // the file as stored (compressed, for "CWS"/"ZWS")
  std::vector<std::uint8_t> data;   // as ExpandMovie gives it
  MovieHeader header;
  std::size_t tagsOffset = 0;       // first tag header in data
  // The file ends before its body does (a zlib stream that stops early, or
  // an uncompressed file shorter than its declared length).
  bool cutOff = false;

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
