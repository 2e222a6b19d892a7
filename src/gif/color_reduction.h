#pragma once
// Bringing a true-colour picture down to an 8-bit picture with a palette.

#include <memory>
#include <vector>

#include "gif/color_lookup.h"
#include "gif/ditherer.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

enum TColorReduction {
  rdNone,
  rdSystem20,
  rdHalftone,
  rdGray4,
  rdMonochrome,
  rdGrayScale,
  rdNetscape,
  rdOctree,
  rdOctreeSystem,
  rdCustomPalette
};

// The palette a reduction method uses (octree methods read the picture).
std::vector<gdi::Color> ReductionPalette(const gdi::Bitmap& picture, TColorReduction method,
                                         const std::vector<gdi::Color>* custom_palette, int palette_bits);

// The lookup that goes with a method and its palette.
std::unique_ptr<TColorLookup> CreateLookup(TColorReduction method, const std::vector<gdi::Color>& palette);

// A new 8-bit picture of the same size holding the method's palette; rdNone
// gives a 24-bit copy. Throws GIFException for an empty or oversized picture.
gdi::Bitmap ReduceToPalette(const gdi::Bitmap& picture, TColorReduction method, TDitherMethod dither,
                            const std::vector<gdi::Color>* custom_palette = nullptr, int palette_bits = 8);

}  // namespace quarvel::gif
