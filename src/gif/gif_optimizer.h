#pragma once
// Lossless rewriting of an animation into fewer bytes. The rewritten file
// shows exactly the pictures of the image's own file for the same times:
// colour tables cut to the colours used, one global table where frames share
// their colours, frames cut to the area that changed, unchanged pixels made
// transparent where that shortens the code stream.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <functional>
#include <stdexcept>

#include "gif/encode_ahead.h"
#include "gif/gif_image.h"

namespace quarvel::gif {

struct OptimizeOptions {
  // Worker threads for the encoding; 0 takes one per core.
  int threads = 0;
  // The eight-wide pixel loops where the processor has them; off, the plain
  // ones (the same bytes, slower).
  bool wide_loops = true;
  // Long animations are first rewritten in a few sample windows of frames,
  // and in full only when a window comes out 1 % smaller or more: the
  // rewrite of photographic frames, each with its own palette, costs a
  // third of the build and seldom saves a fraction of a percent. Off, the
  // rewrite always runs (the bytes of older versions).
  bool trial = true;
};

// The rewrite was stopped through the `stop` of OptimizeAnimation.
struct OptimizeStopped : std::runtime_error {
  OptimizeStopped() : std::runtime_error("the GIF rewrite was stopped") {}
};

// The rewritten file, or nothing when the image holds something the rewrite
// does not keep: a frame without pixels, an index outside its colour table,
// or a frame larger than the screen. Where a picture goes back to the
// background (a transparent animation), the frame before it is restored to
// the background after its time, its area grown to cover those pixels.
std::optional<TStream> RewriteAnimation(const TGIFImage& image, const OptimizeOptions& options = {});

// The picture the rewrite's trial sees after frames 0 to last - 1 (0xRRGGBB
// per pixel, 0x01000000 where the background shows): played from the last
// frame that covers the screen with opaque pixels. Empty when a frame is
// not rewritable. For tests against a full replay.
std::vector<std::uint32_t> TrialCanvas(const TGIFImage& image, int last);

struct OptimizedFile {
  // The file is these pieces one after another: the own file's frames are
  // handed over as they were encoded, not copied into one buffer.
  std::vector<TStream> pieces;
  bool rewritten = false;  // false: the image's own file, which was smaller or not rewritable
  std::size_t Size() const;
  TStream Bytes() const;  // the pieces joined
};

// Takes the bytes of the image's own file, in order, while the rewrite is
// tried: a caller writes them meanwhile, and need not write them again when
// the own file wins. Runs on a thread of its own.
using OwnFileSink = std::function<void(const std::vector<std::span<const std::uint8_t>>& pieces)>;

// The smaller of the image's own file and its rewrite. `stop` is asked
// between frames: true ends the work with OptimizeStopped (Ctrl-C).
// `ahead` holds frames' image bytes encoded before (BuildResult::images),
// taken (moved out) in place of encoding those frames again. `own_file`,
// when given, is handed the own file as soon as its frames are written
// (not when a frame cannot be written: the image then writes itself), and
// has returned before this does; its error is rethrown here.
OptimizedFile OptimizeAnimation(const TGIFImage& image, const OptimizeOptions& options = {},
                                const std::function<bool()>& stop = {}, FrameImages* ahead = nullptr,
                                const OwnFileSink& own_file = {});

}  // namespace quarvel::gif
