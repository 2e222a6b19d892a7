#pragma once
// Script-made bitmaps (BitmapData): a pixel store in premultiplied ARGB, as
// Cairo keeps it, and the pixel operations scripts run on it. Colours in and
// out are straight (not premultiplied) 0xAARRGGBB, as scripts see them. The
// pixels live in a BitmapDef, so the renderer draws them like any bitmap.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "player/library/characters.h"
#include "player/render/filters.h"

namespace quarvel::player {

// A pixel rectangle; empty when width or height is not positive.
struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool Empty() const { return width <= 0 || height <= 0; }
  PixelRect Intersect(const PixelRect& o) const;
};

class BitmapData {
 public:
  // Flash 8's limits: 2880 pixels a side.
  static constexpr int kMaxSide = 2880;
  static constexpr std::int64_t kMaxPixels = 2880 * 2880;

  // nullptr when the size is out of range or the memory cannot be had.
  static std::shared_ptr<BitmapData> Make(int width, int height, bool transparent, std::uint32_t fill);
  // Works on a picture held elsewhere (ActionScript 3 keeps its own), in the
  // same stored form; nullptr for none.
  static std::shared_ptr<BitmapData> Wrap(std::shared_ptr<BitmapDef> def, bool transparent);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Transparent() const { return transparent_; }
  PixelRect Bounds() const { return {0, 0, width_, height_}; }
  bool Disposed() const { return disposed_; }
  void Dispose();
  // The picture for the renderer; it changes version with every change.
  std::shared_ptr<const BitmapDef> Def() const { return def_; }
  std::uint64_t Version() const { return version_; }
  // The pixels for drawing with Cairo; call Changed after.
  cairo_surface_t* Surface() { return def_->surface.get(); }
  void Changed();

  // Straight ARGB; 0 outside (and for disposed bitmaps).
  std::uint32_t GetPixel32(int x, int y) const;
  void SetPixel32(int x, int y, std::uint32_t argb);
  // Raw premultiplied value, for exact comparisons.
  std::uint32_t RawPixel(int x, int y) const;

  // Hit tests: a pixel counts when the picture is opaque or its alpha is
  // at least `threshold`.
  bool Solid(int x, int y, std::uint32_t threshold) const;
  bool AnySolid(const PixelRect& r, std::uint32_t threshold) const;
  // This picture at (x, y) and `other` at (ox, oy): do solid pixels of both meet?
  bool Overlaps(int x, int y, std::uint32_t threshold, const BitmapData& other, int ox, int oy,
                std::uint32_t otherThreshold) const;

  void FillRect(const PixelRect& r, std::uint32_t argb);
  // Copies a rectangle of `src` to (dx, dy). With `alpha`, its alpha channel
  // (at alphaX, alphaY for the rectangle's corner) multiplies the source's;
  // `merge` blends the source over the pixels below instead of replacing them.
  void CopyPixels(const BitmapData& src, const PixelRect& rect, int dx, int dy, const BitmapData* alpha, int alphaX,
                  int alphaY, bool merge);
  // Channels are 1 red, 2 green, 4 blue, 8 alpha; a source that is no one
  // channel reads as 0, a target that is none changes nothing.
  void CopyChannel(const BitmapData& src, const PixelRect& rect, int dx, int dy, int srcChannel, int dstChannel);
  void ApplyColorTransform(const PixelRect& r, const ColorTransform& cx);
  // Random channel values in [low, high] for the channels given (1|2|4|8).
  void Noise(int seed, int low, int high, int channels, bool gray);
  // The turbulence of 1..32 octaves for the channels given; a base of 0
  // is frequency 0 on that axis.
  void PerlinNoise(double baseX, double baseY, int octaves, int seed, bool stitch, bool fractal, int channels, bool gray,
                   const std::vector<std::pair<double, double>>& offsets);
  // Dissolves `numPixels` pixels of the rectangle, at (dx, dy), to `src`'s
  // (or to `fill` when `src` is this bitmap), in an order that visits every
  // pixel once before repeating; the corner pixel is always written. The
  // answer is the seed that continues the order (the seed itself when
  // nothing is to be done or nothing lands in the bitmap).
  int PixelDissolve(const BitmapData& src, const PixelRect& rect, int dx, int dy, int seed, std::uint32_t numPixels,
                    std::uint32_t fill);
  // Pixels of `src` whose (value & mask) compares by `op` to
  // (threshold & mask) become `color`; the others are copied when
  // `copySource`. The number changed; an unknown operation is "<".
  int Threshold(const BitmapData& src, const PixelRect& rect, int dx, int dy, const std::string& op,
                std::uint32_t threshold, std::uint32_t color, std::uint32_t mask, bool copySource);
  void FloodFill(int x, int y, std::uint32_t argb);
  void Scroll(int dx, int dy);
  std::shared_ptr<BitmapData> Clone() const;
  // The smallest rectangle holding every pixel whose (value & mask) is
  // `color` (or is not, when findColor is false).
  PixelRect ColorBounds(std::uint32_t mask, std::uint32_t color, bool findColor) const;
  // Each channel through its table (256 ARGB values each, summed); a
  // missing table keeps the channel.
  void PaletteMap(const BitmapData& src, const PixelRect& rect, int dx, int dy,
                  const std::array<std::optional<std::vector<std::uint32_t>>, 4>& rgbaTables);
  // Mixes `src` into the pixels by per-channel multipliers 0..256.
  void Merge(const BitmapData& src, const PixelRect& rect, int dx, int dy, const int mult[4]);
  void ApplyFilter(const BitmapData& src, const PixelRect& rect, int dx, int dy, const Filter& filter);
  // Draws another bitmap under a matrix (bitmap pixels), colour transform,
  // Cairo operator and clip rectangle.
  // `blendMode` (Flash's number) picks subtract and invert, which Cairo lacks.
  void DrawBitmap(const BitmapData& src, const cairo_matrix_t& m, const ColorTransform& cx, cairo_operator_t op,
                  const PixelRect* clip, bool smooth, int blendMode = -1);
  // Composites an ARGB32 surface of the bitmap's size (a rendered clip).
  void DrawSurface(cairo_surface_t* layer, const ColorTransform& cx, cairo_operator_t op, const PixelRect* clip,
                   int blendMode = -1);

 private:
  BitmapData() = default;
  std::uint32_t* Row(int y) const;
  std::uint32_t Store(std::uint32_t argb) const;  // straight to stored form
  // The part of `rect` of `src` that lands inside this bitmap at (dx, dy),
  // adjusted: false when nothing does.
  bool Clip(const BitmapData& src, PixelRect& rect, int& dx, int& dy) const;

  int width_ = 0, height_ = 0;
  bool transparent_ = true;
  bool disposed_ = false;
  std::shared_ptr<BitmapDef> def_;
  std::uint64_t version_ = 0;
};

// The compositing of draw() on any bitmap surface (premultiplied ARGB32):
// a layer of the target's size, coloured by `cx`, put on under `op` within
// `clip`; an opaque target stays opaque. Blend modes 9 (subtract) and 10
// (invert) mix pixel by pixel instead of `op`.
void CompositeOntoBitmap(cairo_surface_t* target, bool transparent, cairo_surface_t* layer, const ColorTransform& cx,
                         cairo_operator_t op, const PixelRect* clip, int blendMode = -1);
// A bitmap surface drawn under `m` (source pixels to target pixels).
void DrawBitmapOnto(cairo_surface_t* target, bool transparent, cairo_surface_t* src, const cairo_matrix_t& m,
                    const ColorTransform& cx, cairo_operator_t op, const PixelRect* clip, bool smooth,
                    int blendMode = -1);

// Straight and premultiplied ARGB.
std::uint32_t Premultiply(std::uint32_t argb);
std::uint32_t Unpremultiply(std::uint32_t premul);

}  // namespace quarvel::player
