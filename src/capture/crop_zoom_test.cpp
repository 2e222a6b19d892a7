#include "capture/crop_zoom.h"

#include <gtest/gtest.h>

#include <set>

namespace quarvel::capture {
namespace {
using gdi::Bitmap;
using gdi::Color;

Bitmap Numbered(int w, int h) {
  Bitmap b(w, h, gdi::PixelFormat::pf32bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, Color{std::uint8_t(x), std::uint8_t(x >> 8), std::uint8_t(y)});
  return b;
}

TEST(ApplyCropZoomTest, NoMarginsAndFullZoomCopiesTheFrame) {
  Bitmap frame = Numbered(400, 300);
  auto preview = ApplyCropZoom(frame, {});
  ASSERT_TRUE(preview);
  EXPECT_TRUE(std::equal(preview->Bits().begin(), preview->Bits().end(), frame.Bits().begin(), frame.Bits().end()));
}

TEST(ApplyCropZoomTest, MarginsCutTheRightRectangle) {
  Bitmap frame = Numbered(400, 300);
  auto preview = ApplyCropZoom(frame, {.top = 30, .left = 10, .right = 20, .bottom = 40, .zoom = 100});
  ASSERT_TRUE(preview);
  EXPECT_EQ(preview->Width(), 370);
  EXPECT_EQ(preview->Height(), 230);
  EXPECT_EQ(preview->GetPixel(0, 0), frame.GetPixel(10, 30));
  EXPECT_EQ(preview->GetPixel(369, 229), frame.GetPixel(379, 259));
}

TEST(ApplyCropZoomTest, MarginsThatLeaveNothingChangeNothing) {
  Bitmap frame = Numbered(400, 300);
  EXPECT_FALSE(ApplyCropZoom(frame, {.top = 0, .left = 200, .right = 200, .bottom = 0, .zoom = 100}));
  EXPECT_FALSE(ApplyCropZoom(frame, {.top = 150, .left = 0, .right = 0, .bottom = 151, .zoom = 100}));
  EXPECT_TRUE(ApplyCropZoom(frame, {.top = 0, .left = 399, .right = 0, .bottom = 0, .zoom = 100}));
}

TEST(ApplyCropZoomTest, ZoomHalvesAndTheLabelShowsTheZoomedSize) {
  Bitmap frame = Numbered(400, 300);
  auto preview = ApplyCropZoom(frame, {.zoom = 50});
  ASSERT_TRUE(preview);
  EXPECT_EQ(preview->Width(), 200);
  EXPECT_EQ(preview->Height(), 150);
  EXPECT_EQ(ZoomLabelText(preview->Width(), preview->Height()), "% (200x150)");
}

TEST(ResizePictureTest, ThumbnailTakesEachPixelFromOneSourcePixel) {
  Bitmap frame = Numbered(550, 400);  // every pixel distinct
  Bitmap thumb = frame;
  ResizePicture(thumb, 60, 45);
  ASSERT_EQ(thumb.Width(), 60);
  ASSERT_EQ(thumb.Height(), 45);
  EXPECT_EQ(thumb.Format(), frame.Format());
  std::set<std::uint32_t> source;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 550; ++x) source.insert(frame.GetPixel(x, y).ToRgb());
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 60; ++x) ASSERT_TRUE(source.count(thumb.GetPixel(x, y).ToRgb())) << x << "," << y;
}

TEST(ResizePictureTest, PalettizedPicturesKeepTheirPalette) {
  Bitmap p(10, 10, gdi::PixelFormat::pf8bit);
  std::vector<Color> pal(256);
  for (int i = 0; i < 256; ++i) pal[std::size_t(i)] = Color{std::uint8_t(i), 0, 0};
  p.SetPalette(pal);
  p.SetIndex(0, 0, 77);
  ResizePicture(p, 20, 20);
  EXPECT_EQ(p.Palette(), pal);
  EXPECT_EQ(p.GetIndex(1, 1), 77);
}

TEST(CropAndZoomFrameTest, WriterPathCropsThenZooms) {
  Bitmap frame = Numbered(400, 300);
  CropAndZoomFrame(frame, {.top = 0, .left = 100, .right = 100, .bottom = 0, .zoom = 50});
  EXPECT_EQ(frame.Width(), 100);
  EXPECT_EQ(frame.Height(), 150);
  Bitmap small = Numbered(10, 10);
  EXPECT_THROW(CropAndZoomFrame(small, {.top = 5, .left = 0, .right = 0, .bottom = 5, .zoom = 100}), gdi::BitmapError);
  Bitmap tiny = Numbered(10, 10);
  EXPECT_THROW(CropAndZoomFrame(tiny, {.zoom = 5}), gdi::BitmapError);
  Bitmap same = Numbered(10, 10);
  CropAndZoomFrame(same, {});
  EXPECT_EQ(same.Width(), 10);
}

}  // namespace
}  // namespace quarvel::capture
