// The background frame writer against the one-by-one SaveFrameFile: same
// bytes, same files, and a failure leaves what a one-by-one save would have.
#include "capture/frame_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>

#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

namespace quarvel::capture {
namespace {
namespace fs = std::filesystem;
using gdi::Bitmap;
using gdi::PixelFormat;

class FrameWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qwriter" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "temp");
    fs::create_directories(dir_ / "sync");
    paths::SetWorkingFolder(dir_);
  }
  void TearDown() override {
    paths::SetWorkingFolder({});
    fs::remove_all(dir_);
  }
  static std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  fs::path dir_;
};

// Noise compresses slowly, a flat picture fast: mixing them lets later
// frames finish before earlier ones.
Bitmap Picture(int w, int h, PixelFormat f, unsigned seed, bool noisy) {
  Bitmap b(w, h, f);
  std::mt19937 rng(seed);
  for (auto& byte : b.Bits()) byte = noisy ? std::uint8_t(rng()) : std::uint8_t(seed);
  return b;
}

TEST_F(FrameWriterTest, FilesAreByteIdenticalToOneByOneSaves) {
  std::vector<Bitmap> pictures;
  unsigned seed = 1;
  // Every depth (the compressor is reused across header sizes), sizes
  // changing midway, slow and fast frames mixed.
  for (PixelFormat f : {PixelFormat::pf32bit, PixelFormat::pf8bit, PixelFormat::pf24bit, PixelFormat::pf1bit,
                        PixelFormat::pf16bit, PixelFormat::pf4bit, PixelFormat::pfDevice})
    for (int k = 0; k < 3; ++k, ++seed) pictures.push_back(Picture(37 + 200 * (k == 0), 23 + 150 * (k == 0), f, seed, k != 2));
  {
    FrameWriter writer(3, 4);
    for (std::size_t i = 0; i < pictures.size(); ++i) writer.Add(pictures[i], static_cast<long long>(i + 1));
    writer.Finish();
    EXPECT_EQ(writer.Written(), static_cast<long long>(pictures.size()));
    EXPECT_FALSE(writer.FailedFrame());
  }
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const fs::path sync = dir_ / "sync" / (std::to_string(i + 1) + ".bmp");
    SaveFrameFile(pictures[i], sync);
    const fs::path ours = paths::FrameFilePath(static_cast<long long>(i + 1));
    ASSERT_TRUE(fs::exists(ours)) << ours;
    EXPECT_EQ(Bytes(ours), Bytes(sync)) << "frame " << i + 1;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "temp"), fs::directory_iterator()),
            static_cast<long>(pictures.size()));  // no ".part" left over
}

TEST_F(FrameWriterTest, PackerGivesPackFramesBytesWhateverCameBefore) {
  FramePacker packer;
  std::vector<std::uint8_t> buffer;
  for (unsigned seed : {1u, 2u, 3u}) {
    Bitmap big = Picture(300, 200, PixelFormat::pf24bit, seed, true);
    Bitmap small = Picture(9, 5, PixelFormat::pf8bit, seed, false);
    for (const Bitmap* b : {&big, &small}) {
      std::size_t n = packer.Pack(*b, "x.bmp", buffer);
      ASSERT_LE(n, buffer.size());
      EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + long(n)), PackFrame(*b, "x.bmp"));
    }
  }
}

TEST_F(FrameWriterTest, FailedWriteNamesTheFileAndLaterFramesAreNotWritten) {
  // A file where a folder should be: frame 4 cannot be written.
  std::ofstream(dir_ / "blocker") << "in the way";
  const fs::path bad = dir_ / "blocker" / "4.bmp";
  FrameWriter writer(2, 3);
  for (long long n = 1; n <= 3; ++n) writer.Add(Picture(400, 300, PixelFormat::pf24bit, unsigned(n), true), n);
  writer.Add(Picture(400, 300, PixelFormat::pf24bit, 4, true), 4, bad);
  bool refused = false;
  // Small flat frames pack long before frame 4; none may be written.
  for (long long n = 5; n <= 40; ++n) {
    try {
      writer.Add(Picture(8, 8, PixelFormat::pf24bit, unsigned(n), false), n);
    } catch (const FrameStoreError& e) {
      EXPECT_EQ(e.File(), bad);
      refused = true;
      break;
    }
  }
  try {
    writer.Finish();
    FAIL() << "no error";
  } catch (const FrameStoreError& e) {
    EXPECT_EQ(e.File(), bad);
    EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
  }
  EXPECT_TRUE(refused) << "Add went on queueing after the failure";
  EXPECT_EQ(writer.FailedFrame(), 4);
  EXPECT_EQ(writer.Written(), 3);
  for (long long n = 1; n <= 3; ++n) {
    EXPECT_TRUE(fs::exists(paths::FrameFilePath(n))) << n;
    EXPECT_EQ(LoadFramePicture(paths::FrameFilePath(n)).Width(), 400);
  }
  for (long long n = 5; n <= 40; ++n) EXPECT_FALSE(fs::exists(paths::FrameFilePath(n))) << n;
  // The error stays: nothing more is queued.
  EXPECT_THROW(writer.Add(Picture(8, 8, PixelFormat::pf24bit, 1, false), 99), FrameStoreError);
  EXPECT_FALSE(fs::exists(paths::FrameFilePath(99)));
}

TEST_F(FrameWriterTest, EmptyPictureIsAnErrorNamingItsFile) {
  FrameWriter writer(2);
  writer.Add(Picture(20, 10, PixelFormat::pf24bit, 1, true), 1);
  writer.Add(Bitmap(), 2);
  try {
    writer.Finish();
    FAIL() << "no error";
  } catch (const FrameStoreError& e) {
    EXPECT_EQ(e.File(), paths::FrameFilePath(2));
    EXPECT_NE(std::string(e.what()).find("empty"), std::string::npos);
  }
  EXPECT_TRUE(fs::exists(paths::FrameFilePath(1)));
}

TEST_F(FrameWriterTest, EveryFrameOfAnUnwritableFolderFailsWithoutHanging) {
  fs::remove_all(dir_ / "temp");
  std::ofstream(dir_ / "temp") << "in the way";
  FrameWriter writer(2, 2);
  int queued = 0;
  try {
    for (long long n = 1; n <= 1000; ++n, ++queued) writer.Add(Picture(16, 16, PixelFormat::pf24bit, 1, false), n);
  } catch (const FrameStoreError&) {
  }
  EXPECT_LT(queued, 1000);
  EXPECT_THROW(writer.Finish(), FrameStoreError);
  EXPECT_EQ(writer.FailedFrame(), 1);
  EXPECT_EQ(writer.Written(), 0);
}

TEST_F(FrameWriterTest, DestroyingTheWriterWritesTheFramesStillQueued) {
  std::vector<Bitmap> pictures;
  for (unsigned i = 0; i < 8; ++i) pictures.push_back(Picture(200, 150, PixelFormat::pf32bit, i, true));
  {
    FrameWriter writer(1, 8);
    for (std::size_t i = 0; i < pictures.size(); ++i) writer.Add(pictures[i], static_cast<long long>(i + 1));
  }
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    Bitmap back = LoadFramePicture(paths::FrameFilePath(static_cast<long long>(i + 1)));
    EXPECT_TRUE(FramesEqual(back, pictures[i])) << "frame " << i + 1;
  }
}

TEST_F(FrameWriterTest, ThePictureIsCopiedSoTheCallerMayPaintOverIt) {
  Bitmap picture = Picture(64, 48, PixelFormat::pf24bit, 1, true);
  const Bitmap first = picture;
  FrameWriter writer(2, 2);
  writer.Add(picture, 1);
  picture.Fill(gdi::Color{1, 2, 3});
  writer.Add(picture, 2);
  writer.Finish();
  EXPECT_TRUE(FramesEqual(LoadFramePicture(paths::FrameFilePath(1)), first));
  EXPECT_TRUE(FramesEqual(LoadFramePicture(paths::FrameFilePath(2)), picture));
}

}  // namespace
}  // namespace quarvel::capture
