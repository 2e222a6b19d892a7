#pragma once
// The frame store: numbered frame files in the capture folder, each one zlib
// stream (level 1) holding a complete BMP file image. A missing file n >= 2
// means "same picture as frame n - 1".

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "platform/gdi/bitmap.h"

namespace quarvel::capture {

class FrameStoreError : public std::runtime_error {
 public:
  FrameStoreError(const std::filesystem::path& file, const std::string& problem);
  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
};

// Largest BMP image a frame file may inflate to.
inline constexpr std::size_t kMaxFrameImageBytes = std::size_t{256} << 20;

// Writes "temp/<n>.bmp" in the working folder, replacing any file of that name.
void SaveFrameFile(const gdi::Bitmap& picture, long long n);
// Writes to any path; the file appears complete or not at all.
void SaveFrameFile(const gdi::Bitmap& picture, const std::filesystem::path& path);

// The two halves of SaveFrameFile, for writers that compress on one thread
// and write on another. PackFrame names path in its errors only.
std::vector<std::uint8_t> PackFrame(const gdi::Bitmap& picture, const std::filesystem::path& path);
void WritePackedFrame(std::span<const std::uint8_t> packed, const std::filesystem::path& path);

// PackFrame for one frame after another: the compressor's tables and the
// output buffer are kept between frames instead of being allocated anew,
// with the same bytes as a result.
class FramePacker {
 public:
  FramePacker();
  ~FramePacker();
  FramePacker(const FramePacker&) = delete;
  FramePacker& operator=(const FramePacker&) = delete;
  // Packs picture into the start of buffer, which grows when it is too
  // small and is otherwise reused as it is; returns the packed size.
  std::size_t Pack(const gdi::Bitmap& picture, const std::filesystem::path& path, std::vector<std::uint8_t>& buffer);

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
};

// Whether at least `percent` of the pixels repeat the one on their left
// (sampled on every eighth row): such pictures pack small and inflate fast.
bool MostlyFlat(const gdi::Bitmap& picture, int percent = 99);

// The BMP file image held by a frame file.
std::vector<std::uint8_t> LoadFrameFile(const std::filesystem::path& path);
// LoadFrameFile, then the picture; every error names the file. The fourth
// byte of 32-bit pixels reads as 0, as BMP files have it, unless keep_alpha
// (a store captured on a transparent background keeps its alpha there).
gdi::Bitmap LoadFramePicture(const std::filesystem::path& path, bool keep_alpha = false);

// Same size and the same 24-bit colour at every pixel.
bool FramesEqual(const gdi::Bitmap& a, const gdi::Bitmap& b);
// FramesEqual that also compares the alpha of two 32-bit pictures, for
// captures on a transparent background.
bool FramesEqualWithAlpha(const gdi::Bitmap& a, const gdi::Bitmap& b);

// The record of the last capture made by the command line, in the capture
// folder: it belongs to the frames, so it goes when they go.
inline constexpr std::string_view kCaptureRecordName = "last-capture.txt";

// Deletes every numbered frame file ("<n>.bmp", any n) in the capture folder,
// the recording file and the capture record; failures are ignored. Other
// files are left alone.
void ClearFrameStore();

// Reads frames 1 to count in order: a missing file repeats the last picture
// read (an empty picture before any was read); a damaged one throws, after
// which the sequence is not to be read further.
class FrameSequence {
 public:
  explicit FrameSequence(long long count, bool keep_alpha = false) : count_(count), keep_alpha_(keep_alpha) {}
  long long Count() const { return count_; }
  // Picture of frame index i (0-based, frame file i + 1); call with i = 0, 1, ...
  const gdi::Bitmap& Read(long long i);
  // True when the last Read found its own file.
  bool LastWasPresent() const { return present_; }

 private:
  long long count_;
  bool keep_alpha_;
  gdi::Bitmap last_;
  bool present_ = false;
};

}  // namespace quarvel::capture
