#pragma once
// Device-independent bitmaps: what the rest of Quarvel calls pictures.
// Rows are stored bottom-up and padded to 4 bytes, exactly as in a BMP file,
// so a BMP file image is a header plus this buffer.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarvel::gdi {

enum class PixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// pfDevice is 32 bits here; pfCustom has no storage of its own and is refused.
int BitsPerPixel(PixelFormat format);
PixelFormat FormatForBits(int bits);  // 1, 4, 8, 15, 16, 24, 32
bool IsPalettized(PixelFormat format);

struct Color {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Color&, const Color&) = default;
  static constexpr Color FromRgb(std::uint32_t rrggbb) {
    return Color{std::uint8_t(rrggbb >> 16), std::uint8_t(rrggbb >> 8), std::uint8_t(rrggbb)};
  }
  constexpr std::uint32_t ToRgb() const { return (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | b; }
};

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

class BitmapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Limits on every picture, checked before any allocation.
inline constexpr int kMaxDimension = 32768;
inline constexpr std::size_t kMaxPixelBytes = std::size_t{1} << 30;

// Bytes per padded row; throws BitmapError when the sizes are out of range.
std::size_t CheckedStride(int width, int bits);
std::size_t CheckedImageSize(int width, int height, int bits);

class Bitmap {
 public:
  Bitmap() noexcept = default;
  // A new picture, all pixels zero (black, or palette entry 0). Palettized
  // formats get their fresh palette: black/white, the 16 VGA colours, halftone.
  Bitmap(int width, int height, PixelFormat format = PixelFormat::pfDevice);

  Bitmap(const Bitmap&) = default;
  Bitmap& operator=(const Bitmap&) = default;
  // The same bytes taken as another format of as many bits per pixel (the
  // device format is 32-bit BGRX, as pf32bit is); throws BitmapError otherwise.
  void Reinterpret(PixelFormat format);
  Bitmap(Bitmap&&) noexcept = default;
  Bitmap& operator=(Bitmap&&) noexcept = default;

  bool Empty() const { return width_ == 0 || height_ == 0; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  PixelFormat Format() const { return format_; }
  int BitsPerPixel() const { return gdi::BitsPerPixel(format_); }
  std::size_t Stride() const { return stride_; }

  // The whole pixel buffer, bottom row first.
  std::span<std::uint8_t> Bits() { return bits_; }
  std::span<const std::uint8_t> Bits() const { return bits_; }
  // Row y counted from the top.
  std::uint8_t* ScanLine(int y);
  const std::uint8_t* ScanLine(int y) const;

  const std::vector<Color>& Palette() const { return palette_; }
  // At most 2^bits entries; only for palettized formats.
  void SetPalette(std::vector<Color> palette);

  Color GetPixel(int x, int y) const;
  // Palettized pictures store the nearest palette entry.
  void SetPixel(int x, int y, Color c);
  std::uint8_t GetIndex(int x, int y) const;
  void SetIndex(int x, int y, std::uint8_t index);

  // Changes the size, keeping the overlapping top-left content; new area is zero.
  void SetSize(int width, int height);
  void Fill(Color c);

  // A copy in another format; to 1/4/8 bits each pixel becomes the nearest
  // colour of that format's fresh palette.
  Bitmap ConvertTo(PixelFormat format) const;

 private:
  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::pfDevice;
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> bits_;
  std::vector<Color> palette_;
};

// Fresh palettes of the palettized formats, and the platform's palettes.
std::vector<Color> MonochromePalette();  // black, white
std::vector<Color> Vga16Palette();
std::vector<Color> SystemPalette20();
std::vector<Color> HalftonePalette();    // 256 entries, holds the 20 system colours
std::vector<Color> DefaultPalette(PixelFormat format);
int NearestColorIndex(const std::vector<Color>& palette, Color c);

// Plain copy (SRCCOPY) of a w x h rectangle; clipped to both pictures.
void BitBlt(Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int sx, int sy);
// Colour-on-colour stretch: every target pixel takes exactly one source pixel.
void StretchBlt(Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int sx, int sy, int sw, int sh);
void FillRect(Bitmap& dst, const Rect& rect, Color c);

// BMP file image: 14-byte file header, 40-byte info header, colour table, rows.
std::vector<std::uint8_t> SaveBmp(const Bitmap& picture);
std::size_t BmpHeaderSize(const Bitmap& picture);
void WriteBmpHeader(const Bitmap& picture, std::uint8_t* out);  // BmpHeaderSize bytes
// Reads every common variant: 1/4/8/16/24/32 bits, BI_RGB, BI_BITFIELDS, RLE4,
// RLE8, top-down, info headers of 12, 40, 52, 56, 108 and 124 bytes.
Bitmap LoadBmp(std::span<const std::uint8_t> data);

}  // namespace quarvel::gdi
