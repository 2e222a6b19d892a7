#include "flash/swf_header.h"

#include <fstream>
#include <system_error>

#include "platform/paths/working_folder.h"
#include "player/swf/movie.h"
#include "player/swf/reader.h"

namespace quarvel::flash {
namespace fs = std::filesystem;

namespace {

// Room for the largest RECT (17 bytes), the rate and the frame count.
constexpr std::size_t kMovieHeaderMax = 21;

// The frame RECT of an expanded movie (or of the head of one), in pixels.
SwfBounds BoundsOf(std::span<const std::uint8_t> expanded) {
  swf::Reader r(expanded);
  r.Skip(8, "SWF header");
  const swf::Rect t = swf::ReadRect(r, "FrameSize");
  return {t.xmin / 20, t.ymin / 20, t.xmax / 20, t.ymax / 20};
}

// Whole frames per second: the high byte of the 8.8 rate after the RECT.
int RateOf(std::span<const std::uint8_t> expanded) {
  swf::Reader r(expanded);
  r.Skip(8, "SWF header");
  swf::ReadRect(r, "FrameSize");
  return r.U16("FrameRate") >> 8;
}

void WriteAll(const fs::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (out) out.close();
  if (!out) {
    throw fs::filesystem_error("cannot write the expanded movie", path,
                               std::error_code(errno ? errno : EIO, std::generic_category()));
  }
}

// Writes beside the target first, so a failure leaves no partial file.
void ReplaceFile(const fs::path& target, std::span<const std::uint8_t> bytes) {
  if (target.has_parent_path()) fs::create_directories(target.parent_path());
  fs::path part = target;
  part += ".part";
  try {
    WriteAll(part, bytes);
    fs::rename(part, target);
  } catch (...) {
    std::error_code ignored;
    fs::remove(part, ignored);
    throw;
  }
}

}  // namespace

fs::path ExpandedCopyPath() { return paths::WorkPath("uncompress.swf"); }

std::uint64_t WriteExpandedCopy(std::span<const std::uint8_t> file, const fs::path& target) {
  const std::vector<std::uint8_t> expanded = swf::ExpandMovie(file);
  ReplaceFile(target, expanded);
  return expanded.size();
}

SwfBounds ReadSwfHeader(std::span<const std::uint8_t> file) {
  const auto kind = swf::DetectCompression(file);
  if (!kind) return {0, 0, 540, 400};
  if (*kind == swf::Compression::kNone) return BoundsOf(file);
  // Inflate everything first: a stream that fails leaves the old copy alone.
  const std::vector<std::uint8_t> expanded = swf::ExpandMovie(file);
  const SwfBounds bounds = BoundsOf(expanded);
  ReplaceFile(ExpandedCopyPath(), expanded);
  return bounds;
}

SwfBounds ReadSwfHeader(const swf::Movie& opened) {
  const SwfBounds bounds = BoundsOf(opened.data);
  if (opened.compression != swf::Compression::kNone) ReplaceFile(ExpandedCopyPath(), opened.data);
  return bounds;
}

int ReadSwfFrameRate(std::span<const std::uint8_t> file) {
  const auto kind = swf::DetectCompression(file);
  if (!kind) return 12;
  if (*kind == swf::Compression::kNone) return RateOf(file);
  const std::vector<std::uint8_t> head = swf::ExpandMovieHead(file, kMovieHeaderMax);
  return RateOf(head);
}

}  // namespace quarvel::flash
