#pragma once
// Colour reduction by libimagequant, beside the octree: one palette made from
// the whole movie, so that frames share their colours (and the optimiser one
// global table), with a frame's own palette where the shared one shows it
// clearly worse.

#include <memory>
#include <vector>

#include "gif/gif_image.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

class QuantPalette {
 public:
  // With `alpha` pixels whose alpha is below one half share one transparent entry.
  explicit QuantPalette(bool dither, bool alpha = false);
  ~QuantPalette();
  QuantPalette(const QuantPalette&) = delete;
  QuantPalette& operator=(const QuantPalette&) = delete;

  // First pass: every distinct picture of the movie, in any order.
  void AddToHistogram(const gdi::Bitmap& picture);
  // Makes the shared palette; needs at least one picture.
  void Finish();

  // Second pass: the picture as a one-frame image with its palette and
  // indices. Safe to call from several threads at once after Finish. With
  // alpha, `transparent` receives the transparent entry.
  std::unique_ptr<TGIFImage> Reduce(const gdi::Bitmap& picture, int* transparent = nullptr) const;

  const std::vector<gdi::Color>& SharedPalette() const { return shared_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool dither_;
  bool alpha_;
  std::vector<gdi::Color> shared_;
  int shared_transparent_ = -1;  // with alpha: the shared palette's transparent entry
  double shared_error_ = 0;
  int posterize_bits_ = 0;  // low bits dropped from every channel
};

}  // namespace quarvel::gif
