// Every file we write is read back with giflib and compared with our model.

#include <gtest/gtest.h>

#include <random>

#include "gif/giflib_reader.h"
#include "gif/gif_image.h"

namespace quarvel::gif {
namespace {

using testing::DecodedGif;
using testing::DecodeWithGiflib;

// Compares a decoded file with the model it was written from.
void ExpectMatches(const TGIFImage& image, const DecodedGif& decoded) {
  EXPECT_EQ(decoded.version, image.Version() == gv89a ? "89a" : "87a");
  EXPECT_EQ(decoded.screen_width, image.Width());
  EXPECT_EQ(decoded.screen_height, image.Height());
  EXPECT_FALSE(decoded.has_global_palette);
  std::size_t k = 0;
  for (const auto& frame : image.Images()) {
    if (frame->Empty()) continue;  // written as extensions only
    ASSERT_LT(k, decoded.frames.size());
    const auto& d = decoded.frames[k++];
    EXPECT_EQ(d.left, frame->Left());
    EXPECT_EQ(d.top, frame->Top());
    ASSERT_EQ(d.width, frame->Width());
    ASSERT_EQ(d.height, frame->Height());
    // The file holds the table padded to a power of two.
    const auto& colours = frame->ColorMap().Colors();
    ASSERT_EQ(d.local_palette.size(), std::size_t(1) << frame->ColorMap().BitsPerPixel());
    for (std::size_t c = 0; c < d.local_palette.size(); ++c)
      ASSERT_EQ(d.local_palette[c], c < colours.size() ? colours[c] : gdi::Color{}) << c;
    ASSERT_EQ(d.pixels, frame->Data());
    const TGIFGraphicControlExtension* gce = frame->GraphicControlExtension();
    EXPECT_EQ(d.has_gce, gce != nullptr);
    if (gce != nullptr) {
      EXPECT_EQ(d.delay, gce->Delay());
      EXPECT_EQ(d.disposal, gce->Disposal());
      EXPECT_EQ(d.transparent, gce->Transparent());
      if (gce->Transparent()) {
        EXPECT_EQ(d.transparent_index, gce->TransparentColorIndex());
      }
    }
    for (const auto& ext : frame->Extensions())
      if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(ext.get())) {
        ASSERT_TRUE(d.loop_count.has_value());
        EXPECT_EQ(*d.loop_count, loop->Loops());
      }
  }
  EXPECT_EQ(k, decoded.frames.size());
}

TEST(GifRoundTrip, RandomFramesOfRandomSizesAndPalettes) {
  std::mt19937 rng(20261207);
  auto rand = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int frames_checked = 0;
  for (int file = 0; file < 40; ++file) {
    TGIFImage image;
    image.Encoding = file % 10 == 9 ? ecRLE : ecLZW;
    const int count = rand(1, 15);
    for (int i = 0; i < count; ++i) {
      auto f = std::make_unique<TGIFSubImage>(&image);
      const int colours = rand(1, 256);
      std::vector<gdi::Color> palette(static_cast<std::size_t>(colours));
      for (auto& c : palette) c = gdi::Color{std::uint8_t(rand(0, 255)), std::uint8_t(rand(0, 255)), std::uint8_t(rand(0, 255))};
      f->ColorMap().ImportPalette(palette);
      const int w = rand(1, i % 4 == 0 ? 300 : 40), h = rand(1, i % 4 == 0 ? 200 : 40);
      std::vector<std::uint8_t> data(std::size_t(w) * h);
      // Runs and noise, so that strings of every length occur.
      const int style = rand(0, 2);
      for (std::size_t p = 0; p < data.size(); ++p) {
        if (style == 0) data[p] = std::uint8_t(rand(0, colours - 1));
        else if (style == 1) data[p] = std::uint8_t((p / std::size_t(rand(1, 50))) % std::size_t(colours));
        else data[p] = std::uint8_t(((p % std::size_t(w)) / 7 + (p / std::size_t(w)) / 5) % std::size_t(colours));
      }
      f->SetBounds(rand(0, 30), rand(0, 30), w, h);
      f->SetData(w, h, std::move(data));
      f->SetInterlaced(rand(0, 9) == 0);
      TGIFSubImage* raw = f.get();
      image.AddFrame(std::move(f));
      if (i == 0 && rand(0, 1)) raw->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(raw, rand(0, 5)));
      if (rand(0, 3) > 0) {
        auto gce = std::make_unique<TGIFGraphicControlExtension>(raw);
        gce->SetDelay(rand(0, 500));
        gce->SetDisposal(rand(0, 3));
        if (rand(0, 1)) {
          gce->SetTransparent(true);
          gce->SetTransparentColorIndex(rand(0, colours - 1));
        }
        raw->Extensions().Add(std::move(gce));
      }
      ++frames_checked;
    }
    TStream bytes;
    image.SaveToStream(bytes);
    SCOPED_TRACE("file " + std::to_string(file));
    ExpectMatches(image, DecodeWithGiflib(bytes));
  }
  EXPECT_GT(frames_checked, 250);
}

TEST(GifRoundTrip, LongFramesThatResetTheTableManyTimes) {
  std::mt19937 rng(5);
  for (int colours : {2, 3, 16, 256}) {
    TGIFImage image;
    auto f = std::make_unique<TGIFSubImage>(&image);
    std::vector<gdi::Color> palette;
    for (int c = 0; c < colours; ++c) palette.push_back(gdi::Color{std::uint8_t(c), 0, 0});
    f->ColorMap().ImportPalette(palette);
    const int w = 640, h = 480;
    std::vector<std::uint8_t> data(std::size_t(w) * h);
    for (auto& p : data) p = std::uint8_t(rng() % unsigned(colours));
    f->SetData(w, h, std::move(data));
    image.AddFrame(std::move(f));
    TStream bytes;
    image.SaveToStream(bytes);
    SCOPED_TRACE(colours);
    ExpectMatches(image, DecodeWithGiflib(bytes));
  }
}

TEST(GifRoundTrip, ReducedTrueColourPictures) {
  gdi::Bitmap picture(120, 90, gdi::PixelFormat::pfDevice);
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x)
      picture.SetPixel(x, y, gdi::Color{std::uint8_t(x * 2), std::uint8_t(y * 2), std::uint8_t((x * y) & 255)});
  for (TColorReduction method : {rdOctree, rdGrayScale, rdNetscape, rdMonochrome, rdOctreeSystem, rdHalftone}) {
    for (TDitherMethod dither : {dtNearest, dtFloydSteinberg, dtBurkes}) {
      TGIFImage image;
      image.ReductionMethod = method;
      image.DitherMethod = dither;
      image.AddFrame(picture);
      TStream bytes;
      image.SaveToStream(bytes);
      ExpectMatches(image, DecodeWithGiflib(bytes));
    }
  }
}

TEST(GifRoundTrip, GlobalTableSmallerThanAFramesTableStaysReadable) {
  TGIFImage image;
  image.Header().ColorMap().ImportPalette({gdi::Color{255, 0, 0}, gdi::Color{0, 0, 255}});
  auto f = std::make_unique<TGIFSubImage>(&image);
  std::vector<gdi::Color> palette;
  for (int c = 0; c < 16; ++c) palette.push_back(gdi::Color{std::uint8_t(c * 16), 0, 0});
  f->ColorMap().ImportPalette(palette);
  std::vector<std::uint8_t> data(8 * 4);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i % 16);
  f->SetData(8, 4, data);
  image.AddFrame(std::move(f));
  TStream bytes;
  image.SaveToStream(bytes);
  const DecodedGif decoded = DecodeWithGiflib(bytes);
  ASSERT_TRUE(decoded.has_global_palette);
  ASSERT_EQ(decoded.global_palette.size(), 16u);
  EXPECT_EQ(decoded.global_palette[1], (gdi::Color{0, 0, 255}));
  EXPECT_EQ(decoded.global_palette[2], gdi::Color{});
  ASSERT_EQ(decoded.frames.size(), 1u);
  EXPECT_EQ(decoded.frames[0].pixels, data);
}

}  // namespace
}  // namespace quarvel::gif
