// BMP file images: writing the one layout we store, reading every common variant.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/gdi/bitmap.h"

namespace quarvel::gdi {
namespace {

constexpr std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;

void Put16(std::uint8_t*& p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p += 2;
}
void Put32(std::uint8_t*& p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
  p += 4;
}

[[noreturn]] void Fail(const std::string& what) { throw BitmapError("bad BMP image: " + what); }

class In {
 public:
  explicit In(std::span<const std::uint8_t> d) : d_(d) {}
  std::uint32_t U32(std::size_t at, const char* field) const {
    Need(at, 4, field);
    return std::uint32_t(d_[at]) | (std::uint32_t(d_[at + 1]) << 8) | (std::uint32_t(d_[at + 2]) << 16) |
           (std::uint32_t(d_[at + 3]) << 24);
  }
  std::uint16_t U16(std::size_t at, const char* field) const {
    Need(at, 2, field);
    return std::uint16_t(d_[at] | (d_[at + 1] << 8));
  }
  void Need(std::size_t at, std::size_t n, const char* field) const {
    if (at > d_.size() || n > d_.size() - at)
      Fail(std::string(field) + " at byte " + std::to_string(at) + " is cut off (image has " +
           std::to_string(d_.size()) + " bytes)");
  }
  const std::uint8_t* At(std::size_t at) const { return d_.data() + at; }
  std::size_t Size() const { return d_.size(); }

 private:
  std::span<const std::uint8_t> d_;
};

int MaskShift(std::uint32_t mask) {
  int s = 0;
  while (mask && !(mask & 1)) { mask >>= 1; ++s; }
  return s;
}
int MaskBits(std::uint32_t mask) {
  mask >>= MaskShift(mask);
  int n = 0;
  while (mask & 1) { mask >>= 1; ++n; }
  return n;
}
std::uint8_t Scale(std::uint32_t v, std::uint32_t mask) {
  if (!mask) return 0;
  int bits = MaskBits(mask);
  v = (v & mask) >> MaskShift(mask);
  if (bits >= 8) return std::uint8_t(v >> (bits - 8));
  std::uint32_t maxv = (1u << bits) - 1;
  return std::uint8_t((v * 255 + maxv / 2) / maxv);
}

// Decodes RLE4/RLE8 data into the (bottom-up) index rows of out.
void DecodeRle(const In& in, std::size_t at, std::size_t end, int bits, Bitmap& out) {
  int w = out.Width(), h = out.Height();
  int x = 0, row = 0;  // row counted from the bottom
  auto put = [&](int index) {
    if (x < w && row < h) out.SetIndex(x, h - 1 - row, std::uint8_t(index));
    ++x;
  };
  while (at < end) {
    in.Need(at, 2, "RLE code");
    int count = *in.At(at), value = *in.At(at + 1);
    at += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(bits == 8 ? value : ((i & 1) ? (value & 15) : (value >> 4)));
    } else if (value == 0) {
      x = 0;
      ++row;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      in.Need(at, 2, "RLE delta");
      x += *in.At(at);
      row += *in.At(at + 1);
      at += 2;
    } else {
      int n = value;
      std::size_t bytes = bits == 8 ? std::size_t(n) : (std::size_t(n) + 1) / 2;
      in.Need(at, bytes, "RLE literal run");
      for (int i = 0; i < n; ++i) {
        int b = *in.At(at + (bits == 8 ? std::size_t(i) : std::size_t(i) / 2));
        put(bits == 8 ? b : ((i & 1) ? (b & 15) : (b >> 4)));
      }
      at += (bytes + 1) & ~std::size_t{1};  // runs are padded to 16 bits
    }
    if (row >= h) return;
  }
}

}  // namespace

std::size_t BmpHeaderSize(const Bitmap& picture) {
  std::size_t n = 14 + 40 + 4 * picture.Palette().size();
  if (picture.Format() == PixelFormat::pf16bit) n += 12;
  return n;
}

void WriteBmpHeader(const Bitmap& picture, std::uint8_t* p) {
  if (picture.Empty()) throw BitmapError("cannot write an empty bitmap as BMP");
  std::size_t header = BmpHeaderSize(picture);
  std::size_t image = picture.Bits().size();
  bool fields = picture.Format() == PixelFormat::pf16bit;
  *p++ = 'B';
  *p++ = 'M';
  Put32(p, std::uint32_t(header + image));
  Put32(p, 0);
  Put32(p, std::uint32_t(header));
  Put32(p, 40);
  Put32(p, std::uint32_t(picture.Width()));
  Put32(p, std::uint32_t(picture.Height()));
  Put16(p, 1);
  Put16(p, std::uint16_t(picture.BitsPerPixel()));
  Put32(p, fields ? kBiBitfields : kBiRgb);
  Put32(p, std::uint32_t(image));
  Put32(p, 0);
  Put32(p, 0);
  Put32(p, std::uint32_t(picture.Palette().size()));
  Put32(p, 0);
  if (fields) {
    Put32(p, 0xF800);
    Put32(p, 0x07E0);
    Put32(p, 0x001F);
  }
  for (const Color& c : picture.Palette()) {
    *p++ = c.b;
    *p++ = c.g;
    *p++ = c.r;
    *p++ = 0;
  }
}

std::vector<std::uint8_t> SaveBmp(const Bitmap& picture) {
  std::vector<std::uint8_t> out(BmpHeaderSize(picture) + picture.Bits().size());
  WriteBmpHeader(picture, out.data());
  std::memcpy(out.data() + BmpHeaderSize(picture), picture.Bits().data(), picture.Bits().size());
  return out;
}

Bitmap LoadBmp(std::span<const std::uint8_t> data) {
  In in(data);
  in.Need(0, 14, "file header");
  if (data[0] != 'B' || data[1] != 'M') Fail("signature is not \"BM\"");
  std::uint32_t off_bits = in.U32(10, "pixel data offset");
  std::uint32_t info_size = in.U32(14, "info header size");
  std::int64_t width = 0, height = 0;
  int bits = 0;
  std::uint32_t compression = kBiRgb, clr_used = 0;
  std::uint32_t masks[4] = {0, 0, 0, 0};
  std::size_t palette_at = 14 + info_size;
  int palette_entry = 4;
  if (info_size == 12) {
    width = in.U16(18, "width");
    height = std::int16_t(in.U16(20, "height"));
    bits = in.U16(24, "bit count");
    palette_entry = 3;
  } else if (info_size == 40 || info_size == 52 || info_size == 56 || info_size == 64 || info_size == 108 ||
             info_size == 124) {
    width = std::int32_t(in.U32(18, "width"));
    height = std::int32_t(in.U32(22, "height"));
    bits = in.U16(28, "bit count");
    compression = in.U32(30, "compression");
    clr_used = in.U32(46, "colours used");
    if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
      int n = compression == kBiAlphaBitfields ? 4 : 3;
      if (info_size == 40) {
        for (int i = 0; i < n; ++i) masks[i] = in.U32(54 + 4 * std::size_t(i), "colour mask");
        palette_at += 4 * std::size_t(n);
      } else {
        for (int i = 0; i < n; ++i) masks[i] = in.U32(54 + 4 * std::size_t(i), "colour mask");
      }
    }
  } else {
    Fail("info header of " + std::to_string(info_size) + " bytes is not a known layout");
  }
  bool top_down = height < 0;
  if (top_down) height = -height;
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
    Fail("size " + std::to_string(width) + " x " + std::to_string(height) + " is out of range");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    Fail("bit count " + std::to_string(bits) + " is not supported");
  bool rle = compression == kBiRle8 || compression == kBiRle4;
  if ((compression == kBiRle8 && bits != 8) || (compression == kBiRle4 && bits != 4))
    Fail("RLE compression does not match the bit count");
  if (rle && top_down) Fail("RLE images cannot be top-down");
  if (compression != kBiRgb && !rle && compression != kBiBitfields && compression != kBiAlphaBitfields)
    Fail("compression " + std::to_string(compression) + " is not supported");
  if ((compression == kBiBitfields || compression == kBiAlphaBitfields) && bits != 16 && bits != 32)
    Fail("bit fields need 16 or 32 bits per pixel");

  int w = int(width), h = int(height);
  std::vector<Color> palette;
  if (bits <= 8) {
    std::size_t n = clr_used ? clr_used : (std::size_t{1} << bits);
    if (n > (std::size_t{1} << bits)) Fail("colour table of " + std::to_string(n) + " entries is too large");
    in.Need(palette_at, n * std::size_t(palette_entry), "colour table");
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t* q = in.At(palette_at + i * std::size_t(palette_entry));
      palette.push_back(Color{q[2], q[1], q[0]});
    }
  }

  if (bits <= 8) {
    Bitmap out(w, h, FormatForBits(bits));
    out.SetPalette(palette);
    if (rle) {
      if (off_bits >= data.size()) Fail("pixel data offset lies past the end");
      DecodeRle(in, off_bits, data.size(), bits, out);
      return out;
    }
    std::size_t stride = out.Stride();
    in.Need(off_bits, stride * std::size_t(h), "pixel rows");
    for (int r = 0; r < h; ++r) {
      int y = top_down ? r : h - 1 - r;
      std::memcpy(out.ScanLine(y), in.At(off_bits + stride * std::size_t(r)), stride);
    }
    return out;
  }

  // Direct colour: keep the common layouts as they are, convert the rest to 24 bits.
  bool bitfields = compression == kBiBitfields || compression == kBiAlphaBitfields;
  if (!bitfields) {
    if (bits == 16) { masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F; }
    if (bits == 32) { masks[0] = 0xFF0000; masks[1] = 0xFF00; masks[2] = 0xFF; }
  }
  PixelFormat format = PixelFormat::pf24bit;
  if (bits == 16 && masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F) format = PixelFormat::pf15bit;
  else if (bits == 16 && masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) format = PixelFormat::pf16bit;
  else if (bits == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF) format = PixelFormat::pf32bit;
  else if (bits == 24) format = PixelFormat::pf24bit;

  std::size_t src_stride = CheckedStride(w, bits);
  in.Need(off_bits, src_stride * std::size_t(h), "pixel rows");
  Bitmap out(w, h, format);
  for (int r = 0; r < h; ++r) {
    int y = top_down ? r : h - 1 - r;
    const std::uint8_t* s = in.At(off_bits + src_stride * std::size_t(r));
    std::uint8_t* d = out.ScanLine(y);
    if (BitsPerPixel(format) == bits) {
      std::memcpy(d, s, std::min(src_stride, out.Stride()));
      if (bits == 32)
        for (int x = 0; x < w; ++x) d[4 * x + 3] = 0;
      continue;
    }
    for (int x = 0; x < w; ++x) {
      std::uint32_t v = bits == 16 ? std::uint32_t(s[2 * x] | (s[2 * x + 1] << 8))
                                   : std::uint32_t(s[4 * x]) | (std::uint32_t(s[4 * x + 1]) << 8) |
                                         (std::uint32_t(s[4 * x + 2]) << 16) | (std::uint32_t(s[4 * x + 3]) << 24);
      d[3 * x] = Scale(v, masks[2]);
      d[3 * x + 1] = Scale(v, masks[1]);
      d[3 * x + 2] = Scale(v, masks[0]);
    }
  }
  return out;
}

}  // namespace quarvel::gdi
