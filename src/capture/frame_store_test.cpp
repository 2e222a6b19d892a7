#include "capture/frame_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <random>

#include "platform/paths/working_folder.h"

namespace quarvel::capture {
namespace {
namespace fs = std::filesystem;
using gdi::Bitmap;
using gdi::Color;
using gdi::PixelFormat;

class FrameStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qstore" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "temp");
    paths::SetWorkingFolder(dir_);
  }
  void TearDown() override {
    paths::SetWorkingFolder({});
    fs::remove_all(dir_);
  }
  static std::vector<std::uint8_t> Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void Write(const fs::path& p, const std::vector<std::uint8_t>& d) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(d.data()), std::streamsize(d.size()));
  }
  fs::path dir_;
};

Bitmap Random(int w, int h, PixelFormat f, unsigned seed) {
  Bitmap b(w, h, f);
  std::mt19937 rng(seed);
  for (auto& byte : b.Bits()) byte = std::uint8_t(rng());
  if (b.BitsPerPixel() == 32)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.ScanLine(y)[4 * x + 3] = 0;
  return b;
}

TEST_F(FrameStoreTest, EveryDepthRoundTripsBitExactly) {
  int n = 1;
  for (PixelFormat f : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf16bit,
                        PixelFormat::pf24bit, PixelFormat::pf32bit}) {
    Bitmap b = Random(37, 23, f, unsigned(n));
    SaveFrameFile(b, n);
    fs::path file = dir_ / "temp" / (std::to_string(n) + ".bmp");
    ASSERT_TRUE(fs::exists(file));
    auto packed = Bytes(file);
    // One zlib stream at the fastest level: header 0x78 0x01.
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x78);
    EXPECT_EQ(packed[1], 0x01);
    auto image = LoadFrameFile(file);
    EXPECT_EQ(image, gdi::SaveBmp(b)) << "depth " << b.BitsPerPixel();
    Bitmap back = LoadFramePicture(file);
    EXPECT_EQ(back.Format(), f);
    EXPECT_TRUE(std::equal(back.Bits().begin(), back.Bits().end(), b.Bits().begin(), b.Bits().end()));
    ++n;
  }
  EXPECT_FALSE(fs::exists(dir_ / "temp" / "1.bmp.part"));
}

// Flat pictures and busy ones go through different compressors: both are
// one level-1 zlib stream that gives back the very picture.
TEST_F(FrameStoreTest, FlatAndBusyPicturesAreLevelOneStreamsThatRoundTrip) {
  Bitmap flat(300, 200, PixelFormat::pf32bit);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) flat.SetPixel(x, y, x > 100 && x < 110 && y > 50 ? gdi::Color{200, 10, 10} : gdi::Color{1, 2, 3});
  const Bitmap busy = Random(300, 200, PixelFormat::pf32bit, 77);
  int n = 1;
  for (const Bitmap* b : {static_cast<const Bitmap*>(&flat), &busy}) {
    SaveFrameFile(*b, n);
    const fs::path file = dir_ / "temp" / (std::to_string(n) + ".bmp");
    const auto packed = Bytes(file);
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x78);
    EXPECT_EQ(packed[1], 0x01);
    EXPECT_EQ(LoadFrameFile(file), gdi::SaveBmp(*b)) << n;
    const Bitmap back = LoadFramePicture(file);
    EXPECT_TRUE(FramesEqual(back, *b)) << n;
    ++n;
  }
  EXPECT_LT(fs::file_size(dir_ / "temp" / "1.bmp"), 2000u);
}

TEST_F(FrameStoreTest, ReadsAnIndependentlyCompressedBmp) {
  Bitmap b = Random(10, 10, PixelFormat::pf24bit, 9);
  auto bmp = gdi::SaveBmp(b);
  std::vector<std::uint8_t> packed(compressBound(uLong(bmp.size())));
  uLongf len = uLongf(packed.size());
  ASSERT_EQ(compress2(packed.data(), &len, bmp.data(), uLong(bmp.size()), 9), Z_OK);
  packed.resize(len);
  Write(dir_ / "x.bmp", packed);
  EXPECT_EQ(LoadFrameFile(dir_ / "x.bmp"), bmp);
}

TEST_F(FrameStoreTest, AFalseSizeInTheBmpHeaderChangesNothing) {
  // The stated size only sizes the first buffer: too small, too large or absurd, the image is the same.
  Bitmap b = Random(40, 30, PixelFormat::pf24bit, 4);
  for (std::uint32_t stated : {0u, 7u, 100u, 0x7FFFFFFFu}) {
    auto bmp = gdi::SaveBmp(b);
    for (int i = 0; i < 4; ++i) bmp[2 + std::size_t(i)] = std::uint8_t(stated >> (8 * i));
    std::vector<std::uint8_t> packed(compressBound(uLong(bmp.size())));
    uLongf len = uLongf(packed.size());
    ASSERT_EQ(compress2(packed.data(), &len, bmp.data(), uLong(bmp.size()), 1), Z_OK);
    packed.resize(len);
    Write(dir_ / "x.bmp", packed);
    EXPECT_EQ(LoadFrameFile(dir_ / "x.bmp"), bmp) << stated;
  }
}

TEST_F(FrameStoreTest, DamagedFilesAreRefusedWithTheirName) {
  Bitmap b = Random(40, 30, PixelFormat::pf32bit, 4);
  SaveFrameFile(b, 1);
  fs::path good = dir_ / "temp" / "1.bmp";
  auto packed = Bytes(good);
  auto expect_error = [&](const std::vector<std::uint8_t>& data, const std::string& word) {
    fs::path p = dir_ / "bad.bmp";
    Write(p, data);
    try {
      LoadFrameFile(p);
      ADD_FAILURE() << "no error for " << word;
    } catch (const FrameStoreError& e) {
      EXPECT_NE(std::string(e.what()).find("bad.bmp"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(word), std::string::npos) << e.what();
    }
  };
  expect_error(gdi::SaveBmp(b), "not a valid");  // plain BMP, not zlib
  expect_error({packed.begin(), packed.begin() + long(packed.size() / 2)}, "truncated");
  auto bad_sum = packed;
  bad_sum.back() ^= 0xFF;
  expect_error(bad_sum, "not a valid");
  try {
    LoadFrameFile(dir_ / "missing.bmp");
    ADD_FAILURE();
  } catch (const FrameStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.bmp"), std::string::npos);
  }
  // A picture the caller holds stays as it was when loading fails.
  Bitmap keep = b;
  EXPECT_THROW(keep = LoadFramePicture(dir_ / "bad.bmp"), FrameStoreError);
  EXPECT_TRUE(FramesEqual(keep, b));
}

TEST_F(FrameStoreTest, ZlibBombStopsAt256MiB) {
  // 300 MiB of zeros compress to about 300 KiB.
  std::vector<std::uint8_t> zeros(std::size_t{1} << 20, 0);
  z_stream zs{};
  ASSERT_EQ(deflateInit(&zs, 9), Z_OK);
  std::vector<std::uint8_t> packed(1 << 20);
  zs.next_out = packed.data();
  zs.avail_out = uInt(packed.size());
  for (int i = 0; i < 300; ++i) {
    zs.next_in = zeros.data();
    zs.avail_in = uInt(zeros.size());
    ASSERT_EQ(deflate(&zs, i == 299 ? Z_FINISH : Z_NO_FLUSH), i == 299 ? Z_STREAM_END : Z_OK);
  }
  packed.resize(zs.total_out);
  deflateEnd(&zs);
  Write(dir_ / "bomb.bmp", packed);
  try {
    LoadFrameFile(dir_ / "bomb.bmp");
    FAIL() << "bomb accepted";
  } catch (const FrameStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("256 MiB"), std::string::npos) << e.what();
  }
}

TEST_F(FrameStoreTest, FailedSaveLeavesNoFileUnderTheFinalName) {
  Bitmap b = Random(8, 8, PixelFormat::pf24bit, 1);
  fs::remove_all(dir_ / "temp");
  try {
    SaveFrameFile(b, 3);
    FAIL() << "saved into a missing folder";
  } catch (const FrameStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("3.bmp"), std::string::npos) << e.what();
  }
  if (fs::exists("/dev/full")) {
    // A full disk: the write fails part way.
    fs::create_directories(dir_ / "temp");
    fs::create_symlink("/dev/full", dir_ / "temp" / "4.bmp.part");
    EXPECT_THROW(SaveFrameFile(b, 4), FrameStoreError);
    EXPECT_FALSE(fs::exists(dir_ / "temp" / "4.bmp"));
  }
}

TEST(FramesEqualTest, SizeAndSinglePixelDifferences) {
  Bitmap a = Random(55, 40, PixelFormat::pf32bit, 2);
  Bitmap b = a;
  EXPECT_TRUE(FramesEqual(a, b));
  b.ScanLine(39)[4 * 54 + 3] = 0x55;  // not colour
  EXPECT_TRUE(FramesEqual(a, b));
  b.ScanLine(39)[4 * 54 + 1] ^= 1;
  EXPECT_FALSE(FramesEqual(a, b));
  EXPECT_FALSE(FramesEqual(a, Random(55, 41, PixelFormat::pf32bit, 2)));
  EXPECT_FALSE(FramesEqual(a, Random(54, 40, PixelFormat::pf32bit, 2)));
  // Different formats with the same colours are equal.
  EXPECT_TRUE(FramesEqual(a, a.ConvertTo(PixelFormat::pf24bit)));
  Bitmap p = Random(9, 9, PixelFormat::pf8bit, 5);
  EXPECT_TRUE(FramesEqual(p, p.ConvertTo(PixelFormat::pf32bit)));
  Bitmap q = p;
  q.SetIndex(4, 4, std::uint8_t(p.GetIndex(4, 4) ^ 1));
  EXPECT_FALSE(FramesEqual(p, q));
}

// A picture with one pixel of another colour, whatever the depth.
Bitmap WithOnePixelChanged(const Bitmap& a, int x, int y) {
  Bitmap b = a;
  if (gdi::IsPalettized(a.Format())) {
    const auto& palette = a.Palette();
    const std::uint8_t old = a.GetIndex(x, y);
    for (std::size_t step = 1; step < palette.size(); ++step) {
      const auto index = static_cast<std::uint8_t>((old + step) % palette.size());
      if (palette[index] != palette[old]) {
        b.SetIndex(x, y, index);
        break;
      }
    }
  } else {
    Color c = a.GetPixel(x, y);
    c.g ^= 0x80;  // survives 5-bit channels
    b.SetPixel(x, y, c);
  }
  return b;
}

// Every pixel on the border (corners and all along each edge) counts, at
// every depth, compared with its own format and with a 24-bit copy: a
// change confined to an edge row or column is a changed frame.
TEST(FramesEqualTest, OnePixelChangeOnAnyEdgeOrCornerAtEveryDepth) {
  const int w = 33, h = 17;  // rows end inside a byte at 1 and 4 bits, and padded
  for (PixelFormat f : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf15bit,
                        PixelFormat::pf16bit, PixelFormat::pf24bit, PixelFormat::pf32bit, PixelFormat::pfDevice}) {
    SCOPED_TRACE(gdi::BitsPerPixel(f));
    const Bitmap a = Random(w, h, f, 11);
    const Bitmap a24 = a.ConvertTo(PixelFormat::pf24bit);
    ASSERT_TRUE(FramesEqual(a, a24));
    std::vector<std::pair<int, int>> border;
    for (int x = 0; x < w; ++x) border.insert(border.end(), {{x, 0}, {x, h - 1}});
    for (int y = 1; y < h - 1; ++y) border.insert(border.end(), {{0, y}, {w - 1, y}});
    border.push_back({w / 2, h / 2});
    for (const auto& [x, y] : border) {
      const Bitmap b = WithOnePixelChanged(a, x, y);
      ASSERT_NE(a.GetPixel(x, y), b.GetPixel(x, y));
      EXPECT_FALSE(FramesEqual(a, b)) << x << "," << y;
      EXPECT_FALSE(FramesEqual(b, a)) << x << "," << y;
      EXPECT_FALSE(FramesEqual(a24, b)) << x << "," << y;
      EXPECT_FALSE(FramesEqual(b, a24)) << x << "," << y;
    }
  }
}

// Row padding is no part of the picture.
TEST(FramesEqualTest, RowPaddingDoesNotCount) {
  for (PixelFormat f : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf24bit}) {
    const Bitmap a = Random(9, 5, f, 3);
    Bitmap b = a;
    const std::size_t used = (std::size_t(a.Width()) * a.BitsPerPixel() + 7) / 8;
    ASSERT_LT(used, a.Stride());
    for (int y = 0; y < b.Height(); ++y) b.ScanLine(y)[a.Stride() - 1] ^= 0xFF;
    EXPECT_TRUE(FramesEqual(a, b)) << gdi::BitsPerPixel(f);
  }
}

TEST_F(FrameStoreTest, ClearRemovesEveryNumberedFrameAndTheRecording) {
  Bitmap b = Random(4, 4, PixelFormat::pf24bit, 3);
  for (long long n : {0LL, 1LL, 10000LL, 10001LL, 123456LL}) SaveFrameFile(b, n);
  Write(dir_ / "temp" / "_temp.wav", {1, 2, 3});
  Write(dir_ / "temp" / "notes.bmp", {1});
  Write(dir_ / "temp" / "5.jpg", {1});
  ClearFrameStore();
  EXPECT_FALSE(fs::exists(dir_ / "temp" / "10001.bmp"));
  EXPECT_FALSE(fs::exists(dir_ / "temp" / "123456.bmp"));
  EXPECT_FALSE(fs::exists(dir_ / "temp" / "0.bmp"));
  EXPECT_FALSE(fs::exists(dir_ / "temp" / "_temp.wav"));
  EXPECT_TRUE(fs::exists(dir_ / "temp" / "notes.bmp"));
  EXPECT_TRUE(fs::exists(dir_ / "temp" / "5.jpg"));
}

bool SamePicture(const Bitmap& a, const Bitmap& b) {
  return a.Format() == b.Format() && a.Width() == b.Width() && a.Height() == b.Height() &&
         a.Palette() == b.Palette() && std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin(), b.Bits().end());
}

std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> packed(compressBound(uLong(data.size())));
  uLongf len = uLongf(packed.size());
  EXPECT_EQ(compress2(packed.data(), &len, data.data(), uLong(data.size()), 1), Z_OK);
  packed.resize(len);
  return packed;
}

// LoadFramePicture reads our own layout without the general BMP reader; the
// general reader (LoadBmp of LoadFrameFile) is the reference for every file.
TEST_F(FrameStoreTest, PictureLoadingAgreesWithTheGeneralBmpReader) {
  auto check = [&](const std::vector<std::uint8_t>& packed, const std::string& what) {
    const fs::path p = dir_ / "case.bmp";
    Write(p, packed);
    std::string reference_error, error;
    Bitmap reference, picture;
    try {
      reference = gdi::LoadBmp(LoadFrameFile(p));
    } catch (const std::exception& e) {
      reference_error = e.what();
    }
    try {
      picture = LoadFramePicture(p);
    } catch (const FrameStoreError& e) {
      error = e.what();
    }
    if (reference_error.empty()) {
      EXPECT_EQ(error, "") << what;
      EXPECT_TRUE(SamePicture(picture, reference)) << what;
    } else {
      EXPECT_NE(error, "") << what << " loads, the reference says " << reference_error;
      EXPECT_NE(error.find("case.bmp"), std::string::npos) << what << ": " << error;
    }
  };
  unsigned seed = 1;
  for (PixelFormat f : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit, PixelFormat::pf15bit,
                        PixelFormat::pf16bit, PixelFormat::pf24bit, PixelFormat::pf32bit, PixelFormat::pfDevice}) {
    Bitmap b = Random(33, 17, f, ++seed);
    if (b.BitsPerPixel() == 32)  // the fourth bytes are not part of the picture
      for (int y = 0; y < b.Height(); ++y) b.ScanLine(y)[3] = 0xAB;
    const std::string depth = "depth " + std::to_string(b.BitsPerPixel());
    SaveFrameFile(b, dir_ / "own.bmp");
    check(Bytes(dir_ / "own.bmp"), depth);
    auto bmp = gdi::SaveBmp(b);
    auto longer = bmp;
    longer.insert(longer.end(), {1, 2, 3});
    check(Deflate(longer), depth + ", bytes after the rows");
    auto top_down = bmp;
    std::int32_t h = -b.Height();
    std::memcpy(top_down.data() + 22, &h, 4);
    check(Deflate(top_down), depth + ", top-down");
    auto packed = Deflate(bmp);
    auto trailing = packed;
    trailing.insert(trailing.end(), {9, 9, 9, 9});
    check(trailing, depth + ", bytes after the stream");
    check({packed.begin(), packed.end() - 6}, depth + ", truncated in the rows");
    auto bad_sum = packed;
    bad_sum.back() ^= 1;
    check(bad_sum, depth + ", wrong check value");
    if (gdi::IsPalettized(f)) {
      auto reserved = bmp;
      reserved[54 + 3] = 7;
      check(Deflate(reserved), depth + ", palette entry with its reserved byte set");
    }
  }
}

TEST_F(FrameStoreTest, SequenceReadsAcrossSizesFormatsAndPalettes) {
  Bitmap a = Random(10, 10, PixelFormat::pf24bit, 1), b = Random(10, 10, PixelFormat::pf24bit, 2);
  Bitmap p1 = Random(10, 10, PixelFormat::pf8bit, 3), p2 = p1;
  std::vector<gdi::Color> other(p1.Palette().rbegin(), p1.Palette().rend());
  p2.SetPalette(other);
  Bitmap wide = Random(12, 7, PixelFormat::pf32bit, 4);
  const std::vector<const Bitmap*> frames{&a, &b, nullptr, &p1, &p2, &wide, &a, nullptr};
  for (std::size_t i = 0; i < frames.size(); ++i)
    if (frames[i]) SaveFrameFile(*frames[i], static_cast<long long>(i + 1));
  FrameSequence seq(static_cast<long long>(frames.size()));
  Bitmap expected;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (frames[i]) expected = gdi::LoadBmp(LoadFrameFile(paths::FrameFilePath(static_cast<long long>(i + 1))));
    EXPECT_TRUE(SamePicture(seq.Read(static_cast<long long>(i)), expected)) << "frame " << i + 1;
    EXPECT_EQ(seq.LastWasPresent(), frames[i] != nullptr);
  }
}

TEST_F(FrameStoreTest, SequenceRepeatsTheLastFrameForMissingFiles) {
  Bitmap one = Random(6, 6, PixelFormat::pf24bit, 1), two = Random(6, 6, PixelFormat::pf24bit, 2);
  SaveFrameFile(one, 1);
  SaveFrameFile(two, 2);
  SaveFrameFile(one, 4);
  FrameSequence seq(5);
  EXPECT_TRUE(FramesEqual(seq.Read(0), one));
  EXPECT_TRUE(FramesEqual(seq.Read(1), two));
  EXPECT_TRUE(FramesEqual(seq.Read(2), two));
  EXPECT_FALSE(seq.LastWasPresent());
  EXPECT_TRUE(FramesEqual(seq.Read(3), one));
  EXPECT_TRUE(FramesEqual(seq.Read(4), one));
  FrameSequence none(1);
  fs::remove(dir_ / "temp" / "1.bmp");
  EXPECT_TRUE(none.Read(0).Empty());
}

}  // namespace
}  // namespace quarvel::capture
