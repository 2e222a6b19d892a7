#include "gif/alpha_reduction.h"

#include <algorithm>

#include "gif/gif_exception.h"
#include "gif/octree_quantizer.h"

namespace quarvel::gif {

namespace {

int NearestOther(const std::vector<gdi::Color>& palette, int from) {
  const gdi::Color c = palette[std::size_t(from)];
  int best = -1, best_distance = 1 << 30;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    if (int(i) == from) continue;
    const int dr = c.r - palette[i].r, dg = c.g - palette[i].g, db = c.b - palette[i].b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < best_distance) {
      best_distance = d;
      best = int(i);
    }
  }
  return best;
}

// Moves every opaque pixel off entry `from`.
void MoveOff(std::vector<std::uint8_t>& indices, const std::vector<std::uint8_t>& mask,
             const std::vector<gdi::Color>& palette, int from) {
  const int to = NearestOther(palette, from);
  if (to < 0) return;
  for (std::size_t k = 0; k < indices.size(); ++k)
    if (!mask[k] && indices[k] == from) indices[k] = std::uint8_t(to);
}

}  // namespace

std::vector<std::uint8_t> TransparentMask(const gdi::Bitmap& picture) {
  const int w = picture.Width(), h = picture.Height();
  std::vector<std::uint8_t> mask(std::size_t(w) * std::size_t(h), 0);
  if (picture.BitsPerPixel() != 32) return mask;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = picture.ScanLine(y);
    std::uint8_t* out = mask.data() + std::size_t(y) * w;
    for (int x = 0; x < w; ++x) out[x] = row[4 * x + 3] < kOpaqueFromAlpha;
  }
  return mask;
}

int ReserveTransparentEntry(std::vector<std::uint8_t>& indices, const std::vector<std::uint8_t>& mask,
                            std::vector<gdi::Color>& palette, int hint) {
  int entry = hint;
  if (entry >= 0 && std::size_t(entry) < palette.size()) {
    MoveOff(indices, mask, palette, entry);
  } else if (palette.size() < 256) {
    entry = int(palette.size());
    palette.push_back(gdi::Color{});
  } else {
    std::vector<long long> used(palette.size(), 0);
    for (std::size_t k = 0; k < indices.size(); ++k)
      if (!mask[k]) ++used[indices[k]];
    entry = int(std::min_element(used.begin(), used.end()) - used.begin());
    if (used[std::size_t(entry)] > 0) MoveOff(indices, mask, palette, entry);
  }
  for (std::size_t k = 0; k < indices.size(); ++k)
    if (mask[k]) indices[k] = std::uint8_t(entry);
  return entry;
}

AlphaFrame ReduceWithAlpha(const gdi::Bitmap& picture, TColorReduction method, TDitherMethod dither) {
  AlphaFrame out;
  out.image = std::make_unique<TGIFImage>();
  if (picture.Empty()) return out;
  const int w = picture.Width(), h = picture.Height();
  if (w > 65535 || h > 65535) throw GIFException(sBadDimension);
  const std::vector<std::uint8_t> mask = TransparentMask(picture);
  const bool bgr32 = picture.BitsPerPixel() == 32;
  auto colour_at = [&](int x, int y) {
    if (bgr32) {
      const std::uint8_t* p = picture.ScanLine(y) + 4 * x;
      return gdi::Color{p[2], p[1], p[0]};
    }
    return picture.GetPixel(x, y);
  };

  std::vector<gdi::Color> palette;
  bool any_opaque = false;
  if (method == rdGrayScale) {
    palette = ReductionPalette(picture, rdGrayScale, nullptr, 8);
    any_opaque = std::find(mask.begin(), mask.end(), 0) != mask.end();
  } else if (method == rdOctree) {
    // One entry fewer than the file holds: the last is the transparent one.
    TColorQuantizer quantizer(255, 8);
    gdi::Color run_colour;
    std::uint32_t run = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (mask[std::size_t(y) * w + x]) continue;
        const gdi::Color c = colour_at(x, y);
        if (run > 0 && c == run_colour) {
          ++run;
          continue;
        }
        if (run > 0) quantizer.AddColors(run_colour.r, run_colour.g, run_colour.b, run);
        run_colour = c;
        run = 1;
      }
    if (run > 0) quantizer.AddColors(run_colour.r, run_colour.g, run_colour.b, run);
    any_opaque = run > 0;
    if (any_opaque) palette = quantizer.Colors();
  } else {
    throw GIFException("a transparent picture is reduced by octree or grey scale only");
  }

  std::vector<std::uint8_t> indices(std::size_t(w) * std::size_t(h), 0);
  if (any_opaque) {
    std::unique_ptr<TColorLookup> lookup = CreateLookup(method, palette);
    std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(dither, w, *lookup);
    gdi::Color chosen;
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = indices.data() + std::size_t(y) * w;
      const std::uint8_t* row_mask = mask.data() + std::size_t(y) * w;
      for (int x = ditherer->Column(); x >= 0 && x < w; x = ditherer->Column()) {
        // A transparent pixel passes on the error it was handed and adds none of its own.
        const gdi::Color c = row_mask[x] ? palette[0] : colour_at(x, y);
        row[x] = std::uint8_t(ditherer->Dither(c.r, c.g, c.b, chosen));
      }
      ditherer->NextLine();
    }
  }
  out.transparent = ReserveTransparentEntry(indices, mask, palette);
  auto frame = std::make_unique<TGIFSubImage>(out.image.get());
  frame->ColorMap().ImportPalette(palette);
  frame->SetData(w, h, std::move(indices));
  out.image->AddFrame(std::move(frame));
  return out;
}

}  // namespace quarvel::gif
