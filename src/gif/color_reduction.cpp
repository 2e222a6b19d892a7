#include "gif/color_reduction.h"

#include <bit>
#include <cstring>

#include "gif/gif_exception.h"
#include "gif/octree_quantizer.h"

namespace quarvel::gif {

namespace {

std::vector<gdi::Color> Greys(std::initializer_list<int> levels) {
  std::vector<gdi::Color> out;
  for (int v : levels) out.push_back(gdi::Color{std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)});
  return out;
}

// One row of the input as red, green, blue triples.
void ReadRow(const gdi::Bitmap& picture, int y, std::vector<std::uint8_t>& rgb) {
  const int w = picture.Width();
  const std::uint8_t* row = picture.ScanLine(y);
  switch (picture.Format()) {
    case gdi::PixelFormat::pfDevice:
    case gdi::PixelFormat::pf32bit:
      for (int x = 0; x < w; ++x) {
        rgb[3 * x] = row[4 * x + 2];
        rgb[3 * x + 1] = row[4 * x + 1];
        rgb[3 * x + 2] = row[4 * x];
      }
      return;
    case gdi::PixelFormat::pf24bit:
      for (int x = 0; x < w; ++x) {
        rgb[3 * x] = row[3 * x + 2];
        rgb[3 * x + 1] = row[3 * x + 1];
        rgb[3 * x + 2] = row[3 * x];
      }
      return;
    default:
      for (int x = 0; x < w; ++x) {
        gdi::Color c = picture.GetPixel(x, y);
        rgb[3 * x] = c.r;
        rgb[3 * x + 1] = c.g;
        rgb[3 * x + 2] = c.b;
      }
  }
}

}  // namespace

std::vector<gdi::Color> ReductionPalette(const gdi::Bitmap& picture, TColorReduction method,
                                         const std::vector<gdi::Color>* custom_palette, int palette_bits) {
  switch (method) {
    case rdSystem20: return gdi::SystemPalette20();
    case rdHalftone: return gdi::HalftonePalette();
    case rdGray4: return Greys({0, 128, 192, 255});
    case rdMonochrome: return Greys({0, 255});
    case rdGrayScale: {
      std::vector<gdi::Color> out(256);
      for (int i = 0; i < 256; ++i) out[std::size_t(i)] = gdi::Color{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
      return out;
    }
    case rdNetscape: {
      std::vector<gdi::Color> out(216);
      for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
          for (int b = 0; b < 6; ++b)
            out[std::size_t(36 * r + 6 * g + b)] = gdi::Color{std::uint8_t(51 * r), std::uint8_t(51 * g), std::uint8_t(51 * b)};
      return out;
    }
    case rdOctree: {
      if (palette_bits < 1 || palette_bits > 8) throw GIFException(sTooManyColors);
      return BuildOctreePalette(picture, 1 << palette_bits, 8, false);
    }
    case rdOctreeSystem: return BuildOctreePalette(picture, 256, 8, true);
    case rdCustomPalette: {
      if (custom_palette == nullptr) return {};
      if (custom_palette->size() > 256) throw GIFException(sTooManyColors);
      return *custom_palette;
    }
    case rdNone: break;
  }
  return {};
}

std::unique_ptr<TColorLookup> CreateLookup(TColorReduction method, const std::vector<gdi::Color>& palette) {
  switch (method) {
    case rdGrayScale: return std::make_unique<TGrayScaleLookup>();
    case rdNetscape: return std::make_unique<TNetscapeColorLookup>();
    case rdMonochrome: return std::make_unique<TMonochromeLookup>();
    default: return std::make_unique<TFastColorLookup>(palette);
  }
}

gdi::Bitmap ReduceToPalette(const gdi::Bitmap& picture, TColorReduction method, TDitherMethod dither,
                            const std::vector<gdi::Color>* custom_palette, int palette_bits) {
  if (picture.Empty()) throw GIFException(sBadDimension);
  const int w = picture.Width(), h = picture.Height();
  try {
    gdi::CheckedImageSize(w, h, 24);
  } catch (const gdi::BitmapError&) {
    throw GIFException(sOutOfMemDIB);
  }
  if (method == rdNone) return picture.ConvertTo(gdi::PixelFormat::pf24bit);

  std::vector<gdi::Color> palette = ReductionPalette(picture, method, custom_palette, palette_bits);
  gdi::Bitmap result(w, h, gdi::PixelFormat::pf8bit);
  result.SetPalette(palette);
  std::unique_ptr<TColorLookup> lookup = CreateLookup(method, palette);
  if (lookup->Colors() == 0) return result;
  std::vector<std::uint8_t> rgb(std::size_t(w) * 3);
  gdi::Color chosen;
  if (auto* fast = dynamic_cast<TFastColorLookup*>(lookup.get()); fast != nullptr && dither == dtNearest) {
    // The nearest-colour walk without its virtual calls, in the same
    // serpentine order (the lookup's cache keeps the first colour asked per
    // cell); a pixel of the colour before it takes the same index.
    std::uint32_t last = 0xFFFFFFFFu;
    int index = 0;
    const auto format = picture.Format();
    if (format == gdi::PixelFormat::pfDevice || format == gdi::PixelFormat::pf32bit) {
      // Blue, green, red, unused: the low three bytes of a little-endian word are the colour.
      // Eight pixels at a time where their cells are all searched; a block
      // with a new cell goes pixel by pixel, so that cells are searched in
      // the walk's order. Blocks follow the walk's direction.
      const bool wide = TFastColorLookup::HasCachedIndicesOf8() && std::endian::native == std::endian::little;
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = picture.ScanLine(y);
        std::uint8_t* out = result.ScanLine(y);
        const bool forward = y % 2 == 0;
        for (int k = 0; k < w; ++k) {
          const int x = forward ? k : w - 1 - k;
          if (wide && k % 8 == 0 && k + 8 <= w) {
            const int first = forward ? x : x - 7;
            if (fast->CachedIndicesOf8(row + 4 * std::size_t(first), out + first)) {
              k += 7;
              continue;
            }
          }
          const std::uint8_t* p = row + 4 * std::size_t(x);
          std::uint32_t colour;
          if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&colour, p, 4);
            colour &= 0xFFFFFFu;
          } else {
            colour = (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
          }
          if (colour != last) {
            index = fast->IndexOf(p[2], p[1], p[0]);
            last = colour;
          }
          out[x] = std::uint8_t(index);
        }
      }
      return result;
    }
    for (int y = 0; y < h; ++y) {
      ReadRow(picture, y, rgb);
      std::uint8_t* out = result.ScanLine(y);
      const bool forward = y % 2 == 0;
      for (int k = 0; k < w; ++k) {
        const int x = forward ? k : w - 1 - k;
        const std::uint8_t* p = &rgb[std::size_t(x) * 3];
        const std::uint32_t colour = (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
        if (colour != last) {
          index = fast->IndexOf(p[0], p[1], p[2]);
          last = colour;
        }
        out[x] = std::uint8_t(index);
      }
    }
    return result;
  }
  std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(dither, w, *lookup);

  for (int y = 0; y < h; ++y) {
    ReadRow(picture, y, rgb);
    std::uint8_t* out = result.ScanLine(y);
    for (int x = ditherer->Column(); x >= 0 && x < w; x = ditherer->Column()) {
      const std::uint8_t* p = &rgb[std::size_t(x) * 3];
      out[x] = std::uint8_t(ditherer->Dither(p[0], p[1], p[2], chosen));
    }
    ditherer->NextLine();
  }
  return result;
}

}  // namespace quarvel::gif
