// The pictures a capture keeps for its writer against reading the frame file.
#include "capture/frame_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

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

// What the picture reads back as from its frame file, alpha cleared.
Bitmap ReadBack(const Bitmap& picture) {
  const fs::path file = fs::temp_directory_path() / ("qcache-r" + std::to_string(::getpid()) + ".bmp");
  SaveFrameFile(picture, file);
  Bitmap read = LoadFramePicture(file, false);
  fs::remove(file);
  return read;
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

TEST(FrameCache, StreamingSaysWhatEachFrameIsOnceTheCaptureHasDecidedIt) {
  FrameCache cache(1 << 20, true);
  const Bitmap busy = Noise(8, 8, PixelFormat::pfDevice, 1);
  const Bitmap flat(8, 8, PixelFormat::pfDevice);
  ASSERT_TRUE(cache.Keep(1, busy));
  cache.Stored(1, true);
  // A flat picture is kept too: the writer reads no file beside the capture.
  ASSERT_TRUE(cache.Keep(2, flat));
  cache.Stored(2, true);
  cache.Stored(5, false);  // 3 and 4 left out, 5 in a file
  EXPECT_EQ(cache.WaitFor(1), FrameCache::FrameState::kKept);
  EXPECT_EQ(cache.WaitFor(2), FrameCache::FrameState::kKept);
  EXPECT_EQ(cache.WaitFor(3), FrameCache::FrameState::kRepeat);
  EXPECT_EQ(cache.WaitFor(4), FrameCache::FrameState::kRepeat);
  EXPECT_EQ(cache.KeptCount(), 2);

  // A file frame and the frames after the last decided one wait for the capture.
  std::atomic<int> stage{0};
  std::thread capture([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    stage = 1;
    cache.Close(7);
  });
  EXPECT_EQ(cache.WaitFor(5), FrameCache::FrameState::kFile);
  EXPECT_EQ(stage.load(), 1) << "a file is read only once the capture is over";
  capture.join();
  EXPECT_EQ(cache.WaitFor(6), FrameCache::FrameState::kRepeat);
  EXPECT_EQ(cache.WaitFor(7), FrameCache::FrameState::kRepeat);
  EXPECT_EQ(cache.WaitFor(8), FrameCache::FrameState::kEnd);
  EXPECT_EQ(cache.WaitForEnd(), 7);
  cache.Drop(1);
  EXPECT_EQ(cache.KeptCount(), 2) << "dropped pictures still count as kept";
}

TEST(FrameCache, AWriterWaitingOnAFailedCaptureIsTold) {
  FrameCache cache(1 << 20, true);
  std::thread capture([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cache.Abandon();
  });
  EXPECT_THROW(cache.WaitFor(1), CaptureAbandoned);
  capture.join();
  EXPECT_THROW(cache.WaitForEnd(), CaptureAbandoned);
}

TEST(FrameCache, TheCaptureKeepsWhileAWriterTakesAndDrops) {
  // Run under the sanitizers: the map, the budget and the shared last copy
  // are touched from both sides.
  constexpr int kFrames = 400;
  const Bitmap a = Noise(32, 32, PixelFormat::pfDevice, 2), b = Noise(32, 32, PixelFormat::pfDevice, 3);
  const Bitmap read_a = ReadBack(a), read_b = ReadBack(b);
  FrameCache cache(a.Bits().size() * 4, true);
  std::thread capture([&] {
    for (int n = 1; n <= kFrames; ++n) {
      // Runs of one picture share their copy.
      const bool kept = cache.Keep(n, (n / 3) % 2 ? a : b);
      cache.Stored(n, kept);
    }
    cache.Close(kFrames);
  });
  int kept = 0, files = 0;
  for (int n = 1; n <= kFrames; ++n) {
    const FrameCache::FrameState state = cache.WaitFor(n);
    ASSERT_NE(state, FrameCache::FrameState::kEnd);
    if (state == FrameCache::FrameState::kKept) {
      const Bitmap* picture = cache.Find(n);
      ASSERT_NE(picture, nullptr);
      ExpectSamePicture(*picture, (n / 3) % 2 ? read_a : read_b);
      cache.Drop(n);
      ++kept;
    } else {
      ++files;
    }
  }
  capture.join();
  EXPECT_EQ(kept + files, kFrames);
  EXPECT_GT(kept, 0);
  EXPECT_EQ(cache.Count(), 0u);
  EXPECT_EQ(cache.Bytes(), 0u) << "every copy handed back";
}

TEST(FrameCache, ACaptureThatMayWaitIsHeldToTheWritersPace) {
  // Two busy pictures in turn, so every frame is a copy of its own, into
  // buffers the dropped frames leave.
  const Bitmap a = Noise(40, 30, PixelFormat::pfDevice, 4), b = Noise(40, 30, PixelFormat::pfDevice, 5);
  const Bitmap read_a = ReadBack(a), read_b = ReadBack(b);
  constexpr int kFrames = 300;
  constexpr std::size_t kHold = 6;
  FrameCache cache(std::size_t(1) << 26, true, true);
  cache.HoldAtMost(kHold);
  std::thread capture([&] {
    for (int n = 1; n <= kFrames; ++n) cache.Stored(n, cache.Keep(n, n % 2 ? a : b));
    cache.Close(kFrames);
  });
  std::size_t most = 0;
  for (int n = 1; n <= kFrames; ++n) {
    ASSERT_EQ(cache.WaitFor(n), FrameCache::FrameState::kKept) << n;
    most = std::max(most, cache.Count());
    ExpectSamePicture(*cache.Find(n), n % 2 ? read_a : read_b);
    if (n % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a slow writer now and then
    cache.Drop(n);
  }
  capture.join();
  EXPECT_LE(most, kHold);
  EXPECT_EQ(cache.KeptCount(), kFrames) << "held back, never turned to files";
  EXPECT_EQ(cache.Bytes(), 0u);
}

TEST(FrameCache, TheCaptureIsLetGoWhenTheWriterStopsOrWaitsForAFile) {
  const Bitmap a = Noise(8, 8, PixelFormat::pfDevice, 6), b = Noise(8, 8, PixelFormat::pfDevice, 7);
  {
    // The writer reads nothing and gives up: the capture runs to its end.
    FrameCache cache(1 << 20, true, true);
    cache.HoldAtMost(2);
    std::thread capture([&] {
      for (int n = 1; n <= 10; ++n) cache.Stored(n, cache.Keep(n, n % 2 ? a : b));
      cache.Close(10);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(cache.Count(), 2u) << "held back";
    cache.StopHolding();
    capture.join();
    EXPECT_EQ(cache.Count(), 10u);
  }
  {
    // A frame in a file is complete only at the end: waiting for it lets the capture go on.
    FrameCache cache(1 << 20, true, true);
    cache.HoldAtMost(2);
    std::thread capture([&] {
      cache.Stored(1, cache.Keep(1, a));
      cache.Stored(2, cache.Keep(2, b));
      cache.Stored(3, false);
      cache.Stored(4, cache.Keep(4, a));
      cache.Close(4);
    });
    EXPECT_EQ(cache.WaitFor(3), FrameCache::FrameState::kFile);
    capture.join();
    EXPECT_EQ(cache.WaitFor(4), FrameCache::FrameState::kKept);
  }
  {
    // A capture in real time is never held back.
    FrameCache cache(1 << 20, true, false);
    cache.HoldAtMost(2);
    for (int n = 1; n <= 10; ++n) cache.Stored(n, cache.Keep(n, n % 2 ? a : b));
    EXPECT_EQ(cache.Count(), 10u);
  }
}

}  // namespace
}  // namespace quarvel::capture
