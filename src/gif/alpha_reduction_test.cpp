#include "gif/alpha_reduction.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "gif/quant_palette.h"

namespace quarvel::gif {
namespace {

// A 32-bit picture with straight alpha: many colours, and alpha cycling
// through values on both sides of one half.
gdi::Bitmap AlphaPicture(int w, int h, int colour_seed = 0) {
  static const int kAlphas[] = {0, 64, 127, 128, 200, 255, 255, 255};
  gdi::Bitmap picture(w, h, gdi::PixelFormat::pfDevice);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = picture.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      row[4 * x + 0] = std::uint8_t(x * 6 + colour_seed);
      row[4 * x + 1] = std::uint8_t(y * 8);
      row[4 * x + 2] = std::uint8_t((x + y) * 3);
      row[4 * x + 3] = std::uint8_t(kAlphas[(x + 3 * y) % 8]);
    }
  }
  return picture;
}

bool Clear(const gdi::Bitmap& picture, int x, int y) { return picture.ScanLine(y)[4 * x + 3] < 128; }

// Checks that the transparent entry is used exactly where alpha is below one
// half, and returns the mean channel error of the other pixels.
double CheckFrame(const gdi::Bitmap& picture, const TGIFImage& image, int transparent) {
  EXPECT_EQ(image.Images().Count(), 1);
  if (image.Images().Count() != 1) return 1e9;
  const TGIFSubImage& f = image.Images()[0];
  EXPECT_EQ(f.Width(), picture.Width());
  EXPECT_EQ(f.Height(), picture.Height());
  const auto& palette = f.ActiveColorMap();
  EXPECT_LE(palette.Count(), 256);
  EXPECT_GE(transparent, 0);
  EXPECT_LT(transparent, palette.Count());
  long long wrong = 0, counted = 0;
  double error = 0;
  for (int y = 0; y < f.Height(); ++y)
    for (int x = 0; x < f.Width(); ++x) {
      const int index = f.Pixel(x, y);
      if ((index == transparent) != Clear(picture, x, y)) ++wrong;
      if (index == transparent || index >= palette.Count()) continue;
      const gdi::Color want = picture.GetPixel(x, y), got = palette[index];
      error += std::abs(want.r - got.r) + std::abs(want.g - got.g) + std::abs(want.b - got.b);
      counted += 3;
    }
  EXPECT_EQ(wrong, 0) << "pixels whose transparency the frame gets wrong";
  return counted > 0 ? error / double(counted) : 0;
}

// The mean channel error of the plain octree over the same opaque pixels:
// what the colours would lose without any transparency.
double OpaqueOctreeError(const gdi::Bitmap& picture) {
  gdi::Bitmap opaque_only(picture.Width(), picture.Height(), gdi::PixelFormat::pfDevice);
  int n = 0;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      if (!Clear(picture, x, y)) {
        opaque_only.SetPixel(n % picture.Width(), n / picture.Width(), picture.GetPixel(x, y));
        ++n;
      }
  // Pad with the last colour so that no new colour enters the tree.
  const gdi::Color last = opaque_only.GetPixel((n - 1) % picture.Width(), (n - 1) / picture.Width());
  for (int k = n; k < picture.Width() * picture.Height(); ++k)
    opaque_only.SetPixel(k % picture.Width(), k / picture.Width(), last);
  const gdi::Bitmap reduced = ReduceToPalette(opaque_only, rdOctree, dtNearest);
  double error = 0;
  for (int k = 0; k < n; ++k) {
    const int x = k % picture.Width(), y = k / picture.Width();
    const gdi::Color want = opaque_only.GetPixel(x, y), got = reduced.Palette()[reduced.GetIndex(x, y)];
    error += std::abs(want.r - got.r) + std::abs(want.g - got.g) + std::abs(want.b - got.b);
  }
  return error / (3.0 * n);
}

TEST(AlphaReduction, OctreeAndGreyKeepTransparencyExactlyNearestOrDithered) {
  const gdi::Bitmap picture = AlphaPicture(48, 40);
  const double plain = OpaqueOctreeError(picture);
  for (TDitherMethod dither : {dtNearest, dtFloydSteinberg}) {
    AlphaFrame octree = ReduceWithAlpha(picture, rdOctree, dither);
    const double error = CheckFrame(picture, *octree.image, octree.transparent);
    // One entry fewer costs next to nothing; dithering trades error for texture.
    EXPECT_LT(error, plain * (dither == dtNearest ? 1.15 : 2.0) + 0.5) << "dither " << dither << ", plain " << plain;

    AlphaFrame grey = ReduceWithAlpha(picture, rdGrayScale, dither);
    CheckFrame(picture, *grey.image, grey.transparent);
    // Grey entries stay grey, with the transparent one among the 256.
    EXPECT_LE(grey.image->Images()[0].ActiveColorMap().Count(), 256);
  }
}

TEST(AlphaReduction, OctreeTakesItsColoursFromTheOpaquePixelsOnly) {
  // Clear pixels under a bright colour must not pull a palette entry.
  gdi::Bitmap picture(20, 10, gdi::PixelFormat::pfDevice);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      std::uint8_t* p = picture.ScanLine(y) + 4 * x;
      const bool clear = x >= 10;
      p[0] = clear ? 255 : 40;
      p[1] = clear ? 255 : 80;
      p[2] = clear ? 255 : 120;
      p[3] = clear ? 0 : 255;
    }
  AlphaFrame frame = ReduceWithAlpha(picture, rdOctree, dtNearest);
  const auto& palette = frame.image->Images()[0].ActiveColorMap();
  ASSERT_EQ(palette.Count(), 2);
  EXPECT_EQ(palette[1 - frame.transparent], (gdi::Color{120, 80, 40}));
  EXPECT_EQ(CheckFrame(picture, *frame.image, frame.transparent), 0.0);
}

TEST(AlphaReduction, WhollyClearAndWhollyOpaquePictures) {
  gdi::Bitmap clear(7, 5, gdi::PixelFormat::pfDevice);  // all zero: alpha 0
  AlphaFrame none = ReduceWithAlpha(clear, rdOctree, dtFloydSteinberg);
  CheckFrame(clear, *none.image, none.transparent);

  gdi::Bitmap opaque = AlphaPicture(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) opaque.ScanLine(y)[4 * x + 3] = 255;
  AlphaFrame all = ReduceWithAlpha(opaque, rdOctree, dtNearest);
  CheckFrame(opaque, *all.image, all.transparent);
}

TEST(AlphaReduction, FullPaletteGivesUpItsLeastUsedEntry) {
  // 256 entries all used: the rarest joins its nearest colour.
  std::vector<gdi::Color> palette;
  for (int i = 0; i < 256; ++i) palette.push_back(gdi::Color{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)});
  std::vector<std::uint8_t> indices, mask;
  for (int i = 0; i < 256; ++i)
    for (int n = 0; n < (i == 77 ? 1 : 3); ++n) {
      indices.push_back(std::uint8_t(i));
      mask.push_back(0);
    }
  indices.push_back(5);
  mask.push_back(1);
  const std::vector<std::uint8_t> before = indices;
  const int entry = ReserveTransparentEntry(indices, mask, palette);
  EXPECT_EQ(entry, 77);
  EXPECT_EQ(palette.size(), 256u);
  for (std::size_t k = 0; k + 1 < indices.size(); ++k) {
    EXPECT_NE(indices[k], 77) << k;
    EXPECT_LE(std::abs(int(palette[indices[k]].r) - int(palette[before[k]].r)), 1) << k;
  }
  EXPECT_EQ(indices.back(), 77);

  // An entry the reducer meant as transparent is used, and opaque pixels leave it.
  std::vector<gdi::Color> small{{0, 0, 0}, {250, 0, 0}, {10, 10, 10}};
  std::vector<std::uint8_t> idx{0, 1, 2, 0}, m{0, 0, 0, 1};
  EXPECT_EQ(ReserveTransparentEntry(idx, m, small, 0), 0);
  EXPECT_EQ(idx, (std::vector<std::uint8_t>{2, 1, 2, 0}));
}

TEST(AlphaReduction, QuantSharedPaletteKeepsTransparencyExactly) {
  const gdi::Bitmap a = AlphaPicture(40, 30), b = AlphaPicture(40, 30, 90);
  for (bool dither : {false, true}) {
    QuantPalette quant(dither, true);
    quant.AddToHistogram(a);
    quant.AddToHistogram(b);
    quant.Finish();
    for (const gdi::Bitmap* picture : {&a, &b}) {
      int transparent = -1;
      const auto image = quant.Reduce(*picture, &transparent);
      const double error = CheckFrame(*picture, *image, transparent);
      EXPECT_LT(error, dither ? 10.0 : 4.0) << "dither " << dither;
    }
  }
  // Without alpha the fourth byte is ignored and no entry is reserved.
  QuantPalette opaque(false);
  opaque.AddToHistogram(a);
  opaque.Finish();
  int transparent = 7;
  const auto image = opaque.Reduce(a, &transparent);
  EXPECT_EQ(transparent, -1);
}

}  // namespace
}  // namespace quarvel::gif
