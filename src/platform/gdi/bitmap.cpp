#include "platform/gdi/bitmap.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>

namespace quarvel::gdi {

int BitsPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::pf1bit: return 1;
    case PixelFormat::pf4bit: return 4;
    case PixelFormat::pf8bit: return 8;
    case PixelFormat::pf15bit: return 16;
    case PixelFormat::pf16bit: return 16;
    case PixelFormat::pf24bit: return 24;
    case PixelFormat::pfDevice:
    case PixelFormat::pf32bit: return 32;
    case PixelFormat::pfCustom: break;
  }
  throw BitmapError("custom pixel format has no storage");
}

PixelFormat FormatForBits(int bits) {
  switch (bits) {
    case 1: return PixelFormat::pf1bit;
    case 4: return PixelFormat::pf4bit;
    case 8: return PixelFormat::pf8bit;
    case 15: return PixelFormat::pf15bit;
    case 16: return PixelFormat::pf16bit;
    case 24: return PixelFormat::pf24bit;
    case 32: return PixelFormat::pf32bit;
    default: throw BitmapError("unsupported bit depth " + std::to_string(bits));
  }
}

bool IsPalettized(PixelFormat format) {
  return format == PixelFormat::pf1bit || format == PixelFormat::pf4bit || format == PixelFormat::pf8bit;
}

std::size_t CheckedStride(int width, int bits) {
  if (width <= 0 || width > kMaxDimension)
    throw BitmapError("bitmap width " + std::to_string(width) + " is out of range (1 to 32768)");
  return ((std::size_t(width) * std::size_t(bits) + 31) / 32) * 4;
}

std::size_t CheckedImageSize(int width, int height, int bits) {
  std::size_t stride = CheckedStride(width, bits);
  if (height <= 0 || height > kMaxDimension)
    throw BitmapError("bitmap height " + std::to_string(height) + " is out of range (1 to 32768)");
  std::size_t size = stride * std::size_t(height);  // cannot overflow: both below 2^18
  if (size > kMaxPixelBytes)
    throw BitmapError("bitmap of " + std::to_string(width) + " x " + std::to_string(height) + " at " +
                      std::to_string(bits) + " bits needs more than 1 GiB");
  return size;
}

namespace {

// 16 standard VGA colours in the order of the platform's 4-bit palette.
constexpr std::array<std::uint32_t, 16> kVga = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// The 20 static colours: the first ten, then the last ten of a system palette.
constexpr std::array<std::uint32_t, 20> kSystem20 = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0,
    0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

inline std::uint16_t Rd16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline void Wr16(std::uint8_t* p, std::uint16_t v) { p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); }

inline std::uint8_t Expand5(unsigned v) { return std::uint8_t((v << 3) | (v >> 2)); }
inline std::uint8_t Expand6(unsigned v) { return std::uint8_t((v << 2) | (v >> 4)); }

}  // namespace

std::vector<Color> MonochromePalette() { return {Color{0, 0, 0}, Color{255, 255, 255}}; }

std::vector<Color> Vga16Palette() {
  std::vector<Color> p;
  for (auto c : kVga) p.push_back(Color::FromRgb(c));
  return p;
}

std::vector<Color> SystemPalette20() {
  std::vector<Color> p;
  for (auto c : kSystem20) p.push_back(Color::FromRgb(c));
  return p;
}

std::vector<Color> HalftonePalette() {
  // System colours 0-9, a 6x6x6 colour cube, 20 extra greys, system colours 10-19.
  std::vector<Color> p;
  p.reserve(256);
  for (int i = 0; i < 10; ++i) p.push_back(Color::FromRgb(kSystem20[i]));
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        p.push_back(Color{std::uint8_t(r * 51), std::uint8_t(g * 51), std::uint8_t(b * 51)});
  for (int i = 1; i <= 20; ++i) {
    auto v = std::uint8_t((i * 255) / 21);
    p.push_back(Color{v, v, v});
  }
  for (int i = 10; i < 20; ++i) p.push_back(Color::FromRgb(kSystem20[i]));
  return p;
}

std::vector<Color> DefaultPalette(PixelFormat format) {
  switch (format) {
    case PixelFormat::pf1bit: return MonochromePalette();
    case PixelFormat::pf4bit: return Vga16Palette();
    case PixelFormat::pf8bit: return HalftonePalette();
    default: return {};
  }
}

int NearestColorIndex(const std::vector<Color>& palette, Color c) {
  int best = 0;
  int best_d = INT_MAX;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    int dr = int(palette[i].r) - c.r, dg = int(palette[i].g) - c.g, db = int(palette[i].b) - c.b;
    int d = dr * dr + dg * dg + db * db;
    if (d < best_d) {
      best_d = d;
      best = int(i);
      if (d == 0) break;
    }
  }
  return best;
}

Bitmap::Bitmap(int width, int height, PixelFormat format) : width_(width), height_(height), format_(format) {
  std::size_t size = CheckedImageSize(width, height, gdi::BitsPerPixel(format));
  stride_ = CheckedStride(width, gdi::BitsPerPixel(format));
  bits_.assign(size, 0);
  palette_ = DefaultPalette(format);
}

void Bitmap::Reinterpret(PixelFormat format) {
  if (gdi::BitsPerPixel(format) != BitsPerPixel() || BitsPerPixel() <= 8)
    throw BitmapError("cannot take a " + std::to_string(BitsPerPixel()) + "-bit picture as " +
                      std::to_string(gdi::BitsPerPixel(format)) + "-bit");
  format_ = format;
}

std::uint8_t* Bitmap::ScanLine(int y) { return bits_.data() + std::size_t(height_ - 1 - y) * stride_; }
const std::uint8_t* Bitmap::ScanLine(int y) const {
  return bits_.data() + std::size_t(height_ - 1 - y) * stride_;
}

void Bitmap::SetPalette(std::vector<Color> palette) {
  if (!IsPalettized(format_)) throw BitmapError("only 1, 4 and 8-bit bitmaps have a palette");
  if (palette.size() > (std::size_t{1} << BitsPerPixel()))
    throw BitmapError("palette of " + std::to_string(palette.size()) + " entries is too large for " +
                      std::to_string(BitsPerPixel()) + " bits");
  palette_ = std::move(palette);
}

std::uint8_t Bitmap::GetIndex(int x, int y) const {
  const std::uint8_t* row = ScanLine(y);
  switch (format_) {
    case PixelFormat::pf1bit: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case PixelFormat::pf4bit: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case PixelFormat::pf8bit: return row[x];
    default: throw BitmapError("GetIndex on a bitmap without a palette");
  }
}

void Bitmap::SetIndex(int x, int y, std::uint8_t index) {
  std::uint8_t* row = ScanLine(y);
  switch (format_) {
    case PixelFormat::pf1bit: {
      std::uint8_t mask = std::uint8_t(0x80 >> (x & 7));
      row[x >> 3] = (index & 1) ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask);
      return;
    }
    case PixelFormat::pf4bit:
      row[x >> 1] = (x & 1) ? std::uint8_t((row[x >> 1] & 0xF0) | (index & 0x0F))
                            : std::uint8_t((row[x >> 1] & 0x0F) | (index << 4));
      return;
    case PixelFormat::pf8bit: row[x] = index; return;
    default: throw BitmapError("SetIndex on a bitmap without a palette");
  }
}

Color Bitmap::GetPixel(int x, int y) const {
  const std::uint8_t* row = ScanLine(y);
  switch (format_) {
    case PixelFormat::pf1bit:
    case PixelFormat::pf4bit:
    case PixelFormat::pf8bit: {
      std::uint8_t i = GetIndex(x, y);
      return i < palette_.size() ? palette_[i] : Color{};
    }
    case PixelFormat::pf15bit: {
      unsigned v = Rd16(row + 2 * x);
      return Color{Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31)};
    }
    case PixelFormat::pf16bit: {
      unsigned v = Rd16(row + 2 * x);
      return Color{Expand5((v >> 11) & 31), Expand6((v >> 5) & 63), Expand5(v & 31)};
    }
    case PixelFormat::pf24bit: {
      const std::uint8_t* p = row + 3 * x;
      return Color{p[2], p[1], p[0]};
    }
    case PixelFormat::pfDevice:
    case PixelFormat::pf32bit: {
      const std::uint8_t* p = row + 4 * x;
      return Color{p[2], p[1], p[0]};
    }
    case PixelFormat::pfCustom: break;
  }
  return {};
}

void Bitmap::SetPixel(int x, int y, Color c) {
  std::uint8_t* row = ScanLine(y);
  switch (format_) {
    case PixelFormat::pf1bit:
    case PixelFormat::pf4bit:
    case PixelFormat::pf8bit: SetIndex(x, y, std::uint8_t(NearestColorIndex(palette_, c))); return;
    case PixelFormat::pf15bit:
      Wr16(row + 2 * x, std::uint16_t(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3)));
      return;
    case PixelFormat::pf16bit:
      Wr16(row + 2 * x, std::uint16_t(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)));
      return;
    case PixelFormat::pf24bit: {
      std::uint8_t* p = row + 3 * x;
      p[0] = c.b; p[1] = c.g; p[2] = c.r;
      return;
    }
    case PixelFormat::pfDevice:
    case PixelFormat::pf32bit: {
      std::uint8_t* p = row + 4 * x;
      p[0] = c.b; p[1] = c.g; p[2] = c.r; p[3] = 0;
      return;
    }
    case PixelFormat::pfCustom: break;
  }
}

void Bitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  Bitmap resized(width, height, format_);
  resized.palette_ = palette_;
  if (!Empty()) BitBlt(resized, 0, 0, std::min(width, width_), std::min(height, height_), *this, 0, 0);
  *this = std::move(resized);
}

void Bitmap::Fill(Color c) {
  if (Empty()) return;
  FillRect(*this, Rect{0, 0, width_, height_}, c);
}

Bitmap Bitmap::ConvertTo(PixelFormat format) const {
  if (format == format_ || (BitsPerPixel() == 32 && gdi::BitsPerPixel(format) == 32)) {
    Bitmap copy = *this;
    copy.format_ = format;
    return copy;
  }
  Bitmap out(width_, height_, format);
  if (format == PixelFormat::pf24bit && BitsPerPixel() == 32) {
    for (int y = 0; y < height_; ++y) {
      const std::uint8_t* s = ScanLine(y);
      std::uint8_t* d = out.ScanLine(y);
      int x = 0;
      if constexpr (std::endian::native == std::endian::little) {
        // Four pixels as three words: every capture saved as AVI comes this way.
        for (; x + 4 <= width_; x += 4, s += 16, d += 12) {
          std::uint32_t p[4];
          std::memcpy(p, s, sizeof p);
          const std::uint32_t w[3] = {(p[0] & 0xFFFFFFu) | p[1] << 24, (p[1] >> 8 & 0xFFFFu) | p[2] << 16,
                                      (p[2] >> 16 & 0xFFu) | p[3] << 8};
          std::memcpy(d, w, sizeof w);
        }
      }
      for (; x < width_; ++x, s += 4, d += 3) {
        d[0] = s[0]; d[1] = s[1]; d[2] = s[2];
      }
    }
    return out;
  }
  if (IsPalettized(format)) {
    // Many pixels share colours; remember the last mapping.
    Color last{};
    int last_index = NearestColorIndex(out.palette_, last);
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        Color c = GetPixel(x, y);
        if (!(c == last)) {
          last = c;
          last_index = NearestColorIndex(out.palette_, c);
        }
        out.SetIndex(x, y, std::uint8_t(last_index));
      }
    return out;
  }
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) out.SetPixel(x, y, GetPixel(x, y));
  return out;
}

namespace {

// Clips a copy of w x h from (sx, sy) in src to (x, y) in dst; false when nothing is left.
bool ClipCopy(const Bitmap& dst, const Bitmap& src, int& x, int& y, int& w, int& h, int& sx, int& sy) {
  if (sx < 0) { x -= sx; w += sx; sx = 0; }
  if (sy < 0) { y -= sy; h += sy; sy = 0; }
  if (x < 0) { sx -= x; w += x; x = 0; }
  if (y < 0) { sy -= y; h += y; y = 0; }
  w = std::min({w, dst.Width() - x, src.Width() - sx});
  h = std::min({h, dst.Height() - y, src.Height() - sy});
  return w > 0 && h > 0;
}

}  // namespace

void BitBlt(Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int sx, int sy) {
  if (dst.Empty() || src.Empty() || !ClipCopy(dst, src, x, y, w, h, sx, sy)) return;
  int bpp = dst.BitsPerPixel();
  bool same = dst.Format() == src.Format() && (!IsPalettized(dst.Format()) || dst.Palette() == src.Palette());
  if (same && bpp >= 8) {
    std::size_t bytes = std::size_t(bpp / 8);
    for (int row = 0; row < h; ++row)
      std::memcpy(dst.ScanLine(y + row) + std::size_t(x) * bytes, src.ScanLine(sy + row) + std::size_t(sx) * bytes,
                  std::size_t(w) * bytes);
    return;
  }
  if (same) {
    for (int row = 0; row < h; ++row)
      for (int col = 0; col < w; ++col) dst.SetIndex(x + col, y + row, src.GetIndex(sx + col, sy + row));
    return;
  }
  for (int row = 0; row < h; ++row)
    for (int col = 0; col < w; ++col) dst.SetPixel(x + col, y + row, src.GetPixel(sx + col, sy + row));
}

void StretchBlt(Bitmap& dst, int x, int y, int w, int h, const Bitmap& src, int sx, int sy, int sw, int sh) {
  if (dst.Empty() || src.Empty() || w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
  if (w == sw && h == sh) {
    BitBlt(dst, x, y, w, h, src, sx, sy);
    return;
  }
  // Each target pixel samples the source pixel under its centre.
  std::vector<int> cols(std::size_t(w), -1);
  for (int c = 0; c < w; ++c) {
    if (x + c < 0 || x + c >= dst.Width()) continue;
    long long s = sx + (static_cast<long long>(2 * c + 1) * sw) / (2LL * w);
    if (s >= 0 && s < src.Width()) cols[std::size_t(c)] = int(s);
  }
  bool same = dst.Format() == src.Format() && (!IsPalettized(dst.Format()) || dst.Palette() == src.Palette());
  // Target columns whose source columns follow one another, copied at once
  // (a picture widened by a pixel or two is nearly all one run).
  struct Run {
    int to, from, count;
  };
  std::vector<Run> runs;
  for (int c = 0; c < w; ++c) {
    const int s = cols[std::size_t(c)];
    if (s < 0) continue;
    if (!runs.empty() && runs.back().to + runs.back().count == c && runs.back().from + runs.back().count == s)
      ++runs.back().count;
    else
      runs.push_back({c, s, 1});
  }
  int bytes = dst.BitsPerPixel() / 8;
  for (int r = 0; r < h; ++r) {
    int ty = y + r;
    if (ty < 0 || ty >= dst.Height()) continue;
    long long s = sy + (static_cast<long long>(2 * r + 1) * sh) / (2LL * h);
    if (s < 0 || s >= src.Height()) continue;
    int srow = int(s);
    if (same && dst.BitsPerPixel() >= 8) {
      std::uint8_t* d = dst.ScanLine(ty);
      const std::uint8_t* sp = src.ScanLine(srow);
      for (const Run& run : runs)
        std::memcpy(d + std::size_t(x + run.to) * bytes, sp + std::size_t(run.from) * bytes,
                    std::size_t(run.count) * bytes);
    } else if (same) {
      for (int c = 0; c < w; ++c)
        if (cols[std::size_t(c)] >= 0) dst.SetIndex(x + c, ty, src.GetIndex(cols[std::size_t(c)], srow));
    } else {
      for (int c = 0; c < w; ++c)
        if (cols[std::size_t(c)] >= 0) dst.SetPixel(x + c, ty, src.GetPixel(cols[std::size_t(c)], srow));
    }
  }
}

void FillRect(Bitmap& dst, const Rect& rect, Color c) {
  int l = std::max(rect.left, 0), t = std::max(rect.top, 0);
  int r = std::min(rect.right, dst.Width()), b = std::min(rect.bottom, dst.Height());
  if (l >= r || t >= b) return;
  if (dst.BitsPerPixel() == 32 || dst.BitsPerPixel() == 24) {
    int bytes = dst.BitsPerPixel() / 8;
    std::uint8_t px[4] = {c.b, c.g, c.r, 0};
    for (int y = t; y < b; ++y) {
      std::uint8_t* row = dst.ScanLine(y) + std::size_t(l) * bytes;
      for (int x = l; x < r; ++x, row += bytes) std::memcpy(row, px, std::size_t(bytes));
    }
    return;
  }
  for (int y = t; y < b; ++y)
    for (int x = l; x < r; ++x) dst.SetPixel(x, y, c);
}

}  // namespace quarvel::gdi
