// The pictures a capture keeps for its writer against reading the frame file.
#include "capture/frame_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "capture/frame_store.h"

namespace quarvel::capture {
namespace {
namespace fs = std::filesystem;
using gdi::Bitmap;
using gdi::PixelFormat;

Bitmap Noise(int w, int h, PixelFormat f, unsigned seed) {
  Bitmap b(w, h, f);
  std::mt19937 rng(seed);
  for (auto& byte : b.Bits()) byte = std::uint8_t(rng());
  return b;
}

void ExpectSamePicture(const Bitmap& a, const Bitmap& b) {
  EXPECT_EQ(a.Width(), b.Width());
  EXPECT_EQ(a.Height(), b.Height());
  EXPECT_EQ(a.Format(), b.Format());
  EXPECT_TRUE(std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin(), b.Bits().end()));
}

TEST(FrameCache, KeepsWhatTheFrameFileReadsBackAs) {
  const fs::path file = fs::temp_directory_path() / ("qcache" + std::to_string(::getpid()) + ".bmp");
  for (PixelFormat f : {PixelFormat::pfDevice, PixelFormat::pf32bit})
    for (bool alpha : {false, true}) {
      const Bitmap picture = Noise(13, 7, f, 5);
      SaveFrameFile(picture, file);
      FrameCache cache(1 << 20);
      ASSERT_TRUE(cache.Keep(4, picture, alpha));
      ASSERT_NE(cache.Find(4), nullptr);
      ExpectSamePicture(*cache.Find(4), LoadFramePicture(file, alpha));
    }
  fs::remove(file);
}

TEST(FrameCache, StaysWithinItsBudgetAndKeepsOnly32BitPictures) {
  const Bitmap picture = Noise(10, 10, PixelFormat::pfDevice, 1);  // 400 bytes
  FrameCache cache(1000);
  EXPECT_TRUE(cache.Keep(1, picture));
  EXPECT_TRUE(cache.Keep(2, Noise(10, 10, PixelFormat::pfDevice, 7)));
  EXPECT_FALSE(cache.Keep(3, picture));
  EXPECT_EQ(cache.Find(3), nullptr);
  EXPECT_EQ(cache.Bytes(), 800u);
  // A frame kept again replaces the first copy instead of counting twice.
  EXPECT_TRUE(cache.Keep(2, Noise(10, 10, PixelFormat::pf32bit, 2)));
  EXPECT_EQ(cache.Bytes(), 800u);
  cache.Drop(1);
  cache.Drop(1);
  EXPECT_EQ(cache.Bytes(), 400u);
  EXPECT_TRUE(cache.Keep(3, picture));
  // Other depths are read from the store.
  EXPECT_FALSE(cache.Keep(5, Noise(4, 4, PixelFormat::pf24bit, 3)));
  EXPECT_FALSE(cache.Keep(6, Noise(4, 4, PixelFormat::pf8bit, 3)));
  EXPECT_FALSE(cache.Keep(7, Bitmap()));
  EXPECT_EQ(cache.Count(), 2u);
  EXPECT_EQ(FrameCache(0).Keep(1, picture), false);
}

TEST(FrameCache, AnUnchangedPictureSharesTheCopyKeptBeforeIt) {
  Bitmap picture = Noise(10, 10, PixelFormat::pfDevice, 1);
  FrameCache cache(1000);
  ASSERT_TRUE(cache.Keep(1, picture));
  // Only the fourth bytes differ: the same picture as stored.
  for (std::size_t k = 3; k < picture.Bits().size(); k += 4) picture.Bits()[k] ^= 0x5A;
  ASSERT_TRUE(cache.Keep(11, picture));
  ASSERT_TRUE(cache.Keep(21, picture));
  EXPECT_EQ(cache.Bytes(), 400u);
  EXPECT_EQ(cache.Find(11), cache.Find(1));
  // One colour byte differs: a copy of its own.
  picture.Bits()[4 * 57 + 1] ^= 1;
  ASSERT_TRUE(cache.Keep(22, picture));
  EXPECT_EQ(cache.Bytes(), 800u);
  EXPECT_EQ(cache.Find(22)->Bits()[4 * 57 + 1], picture.Bits()[4 * 57 + 1]);
  // The shared copy goes with its last frame.
  cache.Drop(1);
  cache.Drop(11);
  EXPECT_EQ(cache.Bytes(), 800u);
  cache.Drop(21);
  EXPECT_EQ(cache.Bytes(), 400u);
  cache.Drop(22);
  EXPECT_EQ(cache.Bytes(), 0u);
  // With alpha kept, the fourth bytes count.
  FrameCache alpha(1000);
  ASSERT_TRUE(alpha.Keep(1, picture, true));
  picture.Bits()[3] ^= 1;
  ASSERT_TRUE(alpha.Keep(2, picture, true));
  EXPECT_EQ(alpha.Bytes(), 800u);
}

}  // namespace
}  // namespace quarvel::capture
