#include "gif/encode_ahead.h"

#include <gtest/gtest.h>

#include <random>

namespace quarvel::gif {
namespace {

// A frame of noise in `colours` entries of its own table (none: the
// image's global table), at an awkward size.
std::unique_ptr<TGIFSubImage> NoiseFrame(TGIFImage& image, int w, int h, int colours, unsigned seed,
                                         bool own_table = true) {
  auto f = std::make_unique<TGIFSubImage>(&image);
  std::vector<Color> palette;
  for (int i = 0; i < colours; ++i) palette.push_back(Color{std::uint8_t(i), std::uint8_t(3 * i), std::uint8_t(7 * i)});
  if (own_table) f->ColorMap().ImportPalette(palette);
  std::mt19937 random(seed);
  std::vector<std::uint8_t> data(std::size_t(w) * h);
  // Runs of one index between noise, so that the codes grow and the table resets.
  for (std::size_t k = 0; k < data.size(); ++k) data[k] = std::uint8_t(k % 97 < 40 ? 1 : random() % colours);
  f->SetData(w, h, std::move(data));
  return f;
}

TStream FileImage(const TGIFSubImage& f) {
  TStream s;
  f.SaveImageToStream(s);
  return s;
}

// Frames handed over one by one while the workers run give what each frame
// writes itself; frames without their own table and frames the encoder
// refuses are left to the file.
TEST(EncodeAhead, GivesEachFrameTheBytesItWritesItselfForAnyThreadCount) {
  TGIFImage image;
  const std::vector<std::array<int, 3>> sizes = {{1, 1, 2}, {7, 1, 3}, {11, 13, 16}, {301, 47, 256}, {64, 48, 129}};
  for (std::size_t i = 0; i < sizes.size(); ++i)
    image.AddFrame(NoiseFrame(image, sizes[i][0], sizes[i][1], sizes[i][2], unsigned(i)));
  image.AddFrame(NoiseFrame(image, 20, 20, 4, 9, /*own_table=*/false));
  auto interlaced = NoiseFrame(image, 33, 17, 32, 10);
  interlaced->SetInterlaced(true);
  image.AddFrame(std::move(interlaced));
  auto broken = NoiseFrame(image, 10, 10, 8, 11);
  broken->Data().resize(50);  // fewer pixels than its size
  image.AddFrame(std::move(broken));
  const int n = image.Images().Count();

  for (int threads : {1, 2, 5}) {
    SCOPED_TRACE(threads);
    EncodeAhead ahead(threads);
    for (int i = 0; i < n; ++i) {
      ahead.Add(image.Images()[i]);
      EXPECT_EQ(ahead.Count(), i + 1);
    }
    const FrameImages images = ahead.Finish();
    ASSERT_EQ(images.size(), std::size_t(n));
    for (int i = 0; i < n - 2; ++i) {
      if (i == int(sizes.size())) {
        EXPECT_FALSE(images[std::size_t(i)]) << "the global table may still change";
        continue;
      }
      ASSERT_TRUE(images[std::size_t(i)]) << i;
      EXPECT_EQ(*images[std::size_t(i)], FileImage(image.Images()[i])) << i;
    }
    EXPECT_EQ(*images[std::size_t(n - 2)], FileImage(image.Images()[n - 2])) << "interlaced";
    EXPECT_FALSE(images[std::size_t(n - 1)]) << "refused: the file reports it";
  }
}

TEST(EncodeAhead, StopsWhereAskedAndEndsWithoutFinish) {
  TGIFImage image;
  for (int i = 0; i < 40; ++i) image.AddFrame(NoiseFrame(image, 120, 90, 256, unsigned(i)));
  {
    // One thread encodes nothing before Finish: a stop then leaves every frame out.
    EncodeAhead ahead(1);
    for (const auto& f : image.Images()) ahead.Add(*f);
    const FrameImages images = ahead.Finish([] { return true; });
    ASSERT_EQ(images.size(), 40u);
    for (const auto& i : images) EXPECT_FALSE(i);
  }
  {
    // A stop after a few frames: those encoded are right, the rest left out.
    EncodeAhead ahead(1);
    for (const auto& f : image.Images()) ahead.Add(*f);
    int asked = 0;
    const FrameImages images = ahead.Finish([&] { return ++asked > 5; });
    for (std::size_t k = 0; k < images.size(); ++k) {
      EXPECT_EQ(bool(images[k]), k < 5) << k;
      if (images[k]) {
        EXPECT_EQ(*images[k], FileImage(image.Images()[int(k)]));
      }
    }
  }
  // A build that fails drops its encoder with frames waiting: the workers
  // end after the frame they are on, and nothing is left running.
  for (int threads : {2, 4}) {
    EncodeAhead ahead(threads);
    for (const auto& f : image.Images()) ahead.Add(*f);
  }
}

}  // namespace
}  // namespace quarvel::gif
