#pragma once
// Turns the captured frames into an animated GIF image: crop and zoom,
// reduction to 256 colours, and with "Smaller Size" difference frames with
// transparency and merging of unchanged frames.

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/crop_zoom.h"
#include "capture/frame_cache.h"
#include "gif/encode_ahead.h"
#include "gif/gif_image.h"

namespace quarvel::gif {

enum class ColorChoice { k256Colors, kGrayScale };        // "256Colors" / "GrayScale"
enum class DitherChoice { kNearest, kFloydSteinberg };    // "Nearest" / "FloydSteinberg"
enum class SizeChoice { kSmallerSize, kBestQuality };     // "Smaller Size" / "Best Quality"
// The octree per frame, or libimagequant with a palette shared across
// the movie (256 colours only; grey scale has its own palette).
enum class PaletteChoice { kOctree, kQuant };

struct BuildOptions {
  // Frame files 1 to frame_count of the capture folder; with a streaming
  // `kept`, the capture's estimate, for the progress only.
  long long frame_count = 0;
  capture::CropZoom crop_zoom;
  int latency_ms = 250;       // frame delay = latency / 10 hundredths
  ColorChoice colors = ColorChoice::k256Colors;
  DitherChoice dither = DitherChoice::kNearest;
  SizeChoice size = SizeChoice::kSmallerSize;
  PaletteChoice palette = PaletteChoice::kOctree;
  // A capture on a transparent background: frames keep their alpha, pixels
  // below one half showing through, each frame cleared after its time.
  bool transparent = false;
  // "Smaller Size" frames drawn whole are cut to the box of the pixels
  // that changed, difference frames' tables to the colours they use (see
  // AnimationAssembler); off (the window's rules), the bytes of older
  // versions. The command line's default.
  bool tight_frames = false;
  // The frames' image bytes are encoded while the build runs
  // (BuildResult::images), for a caller that writes the file right after.
  bool encode_frames = false;
  // With encode_frames, each frame encoded frees its pixels, which
  // OptimizeAnimation decodes again where it reads them: the build then
  // holds a frame's bytes, not also its pixels (TGIFSubImage::ReleaseData).
  // Writing the image in any other way needs them restored first.
  bool release_encoded = false;
  // Frames are read and reduced on this many threads (0: one per core); the
  // image does not depend on it.
  int threads = 0;
  // Pictures of the store already in memory, taken instead of their files
  // and dropped once used; the image does not depend on it. A streaming
  // cache is read while the capture still fills it: the build takes each
  // frame as soon as the capture has decided it, and ends with the capture.
  capture::FrameCache* kept = nullptr;
  // Asked before each frame, also on the threads that reduce frames ahead:
  // true ends the build with BuildStopped (Ctrl-C) without finishing them.
  std::function<bool()> stop;
};

// The build was stopped through BuildOptions::stop.
struct BuildStopped : std::runtime_error {
  BuildStopped() : std::runtime_error("the GIF build was stopped") {}
};

// Receives the frame label text ("5/100/2 5%") and the percentage.
using ProgressCallback = std::function<void(const std::string& label, int percent)>;

struct BuildResult {
  std::unique_ptr<TGIFImage> image;
  int optimized_frames = 0;
  // The frames' image bytes, encoded while the build ran (see EncodeAhead);
  // OptimizeAnimation takes them in place of encoding the frames again.
  FrameImages images;
};

inline constexpr const char* kBuildFinishedText = "Build Animation GIF Finished";

// The frame label of a step: i/count/optimised pct%.
std::string FrameLabelText(long long i, long long count, int optimized);

// Reads the frame files with a missing one repeating the last picture; a
// damaged file throws capture::FrameStoreError naming it and nothing is built.
// The progress callback gets the end text with 100 after the last frame.
BuildResult BuildAnimation(const BuildOptions& options, const ProgressCallback& progress = {});

// How a reduced picture differs from the one before it, for "Smaller Size".
struct FrameDifference {
  std::vector<std::uint8_t> same;  // per pixel: 1 where it shows the colour the previous frame shows
  long long unchanged = 0;
  // Entries the changed pixels use, worked out only for a frame that may
  // become a difference frame (AnimationAssembler::MayBeDifferenceFrame);
  // all false otherwise.
  std::array<bool, 256> used{};
  bool used_known = false;
};

// Adds one reduced frame to the animation the way the build does: first
// frame with the loop extension, "Smaller Size" comparison with the previous
// frame. Exposed so that callers with pictures in memory share the rules.
class AnimationAssembler {
 public:
  // With `alpha` every frame has a transparent entry and is restored to the
  // background after its time, so a frame never shows an earlier one where
  // it is transparent; "Smaller Size" then merges equal frames and cuts each
  // to its visible area, but makes no difference frames.
  // With `tight`, a "Smaller Size" frame drawn whole is cut to the box of
  // the pixels that changed, and a difference frame's table to the entries
  // its changed pixels use when that narrows the codes (the pictures shown
  // are the same).
  AnimationAssembler(int delay, bool smaller_size, bool alpha = false, bool tight = false);
  // `reduced` is a one-frame image whose frame holds the reduced picture;
  // with alpha, `transparent` is its transparent entry. `difference`, when
  // given, is Compare of the previous picture added and this one, worked
  // out ahead (on another thread).
  void Add(std::unique_ptr<TGIFImage> reduced, int transparent = -1, const FrameDifference* difference = nullptr);
  // `wide`: eight pixels at a time where the processor has AVX2 (the same result).
  static FrameDifference Compare(const TGIFImage& previous, const TGIFImage& current, bool wide = true);
  // Whether a picture of `unchanged` pixels out of `total` that are as the
  // one before may become a difference frame (the others are drawn whole).
  static bool MayBeDifferenceFrame(long long unchanged, long long total);
  // Whether Add compares a picture with the last one.
  bool Compares() const { return smaller_size_ && !alpha_ && previous_ != nullptr && added_ > 0; }
  const TGIFImage* Previous() const { return previous_.get(); }
  // The same picture as the last one added, without reducing it again (a
  // frame whose file the capture left out). Needs an earlier Add.
  void AddRepeat();
  bool HasPrevious() const { return previous_ != nullptr; }
  int OptimizedFrames() const { return optimized_; }
  // The frames added so far; each is final once the Add that made it
  // returns, but for the delay of its graphic control.
  int FrameCount() const { return animation_->Images().Count(); }
  const TGIFSubImage& Frame(int i) const { return animation_->Images()[i]; }
  TGIFSubImage& Frame(int i) { return animation_->Images()[i]; }
  std::unique_ptr<TGIFImage> Finish() { return std::move(animation_); }

 private:
  // With `clear`, the pixels where it is 1 take the transparent index.
  // With `used` (the entries changed pixels use) the table may shrink to them.
  void AddFrame(const TGIFSubImage& source, int transparent_index, const std::vector<std::uint8_t>* clear,
                const std::array<bool, 256>* used = nullptr);
  void AddAlpha(std::unique_ptr<TGIFImage> reduced, int transparent);
  void AddAlphaFrame(const TGIFSubImage& source, int transparent);
  static void CropToChanged(TGIFSubImage& f, const std::vector<std::uint8_t>& same);

  int delay_;
  bool smaller_size_;
  bool alpha_;
  bool crop_;
  int previous_transparent_ = -1;
  int optimized_ = 0;
  long long added_ = 0;
  std::unique_ptr<TGIFImage> animation_;
  std::unique_ptr<TGIFImage> previous_;
  TGIFGraphicControlExtension* last_gce_ = nullptr;
};

}  // namespace quarvel::gif
