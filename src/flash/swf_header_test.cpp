#include "flash/swf_header.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "flash/player_fit.h"
#include "player/swf/swf_error.h"
#include "support/swf_builder.h"

namespace quarvel::flash {
namespace {
namespace fs = std::filesystem;
using swf::Compression;
using testing::SwfBuilder;
using Bytes = std::vector<std::uint8_t>;

Bytes Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class SwfHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarvel-flash-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    setenv("QUARVEL_HOME", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUARVEL_HOME");
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

SwfBuilder Movie(swf::Rect twips, double fps) {
  SwfBuilder b(9, twips, fps);
  b.SetBackgroundColor({10, 20, 30}).ShowFrame().ShowFrame();
  return b;
}

TEST_F(SwfHeaderTest, UncompressedMovieGivesBoundsAndWritesNothing) {
  const Bytes f = Movie({0, 11000, 0, 8000}, 24).Build();
  EXPECT_EQ(ReadSwfHeader(f), (SwfBounds{0, 0, 550, 400}));
  EXPECT_EQ(ReadSwfFrameRate(f), 24);
  EXPECT_FALSE(fs::exists(ExpandedCopyPath()));
}

TEST_F(SwfHeaderTest, TwipsAreTruncatedTowardZero) {
  const Bytes f = Movie({-39, 39, -21, 419}, 12).Build();
  EXPECT_EQ(ReadSwfHeader(f), (SwfBounds{-1, -1, 1, 20}));
}

TEST_F(SwfHeaderTest, CompressedMoviesWriteTheExpandedCopy) {
  for (Compression c : {Compression::kZlib, Compression::kLzma}) {
    const SwfBuilder b = Movie({0, 40000, 0, 10000}, 30);
    const Bytes packed = b.Build(c);
    EXPECT_EQ(ReadSwfHeader(packed), (SwfBounds{0, 0, 2000, 500}));
    const Bytes copy = Slurp(ExpandedCopyPath());
    // "FWS", version and declared length of the file, then the inflated data.
    EXPECT_EQ(copy, b.Build(Compression::kNone));
    EXPECT_TRUE(std::equal(packed.begin() + 3, packed.begin() + 8, copy.begin() + 3));
    EXPECT_FALSE(fs::exists(ExpandedCopyPath().string() + ".part"));
  }
}

TEST_F(SwfHeaderTest, CompressedMoviesReportTheirRealFrameRate) {
  // 8.8 rate: only the whole byte counts.
  EXPECT_EQ(ReadSwfFrameRate(Movie({0, 2000, 0, 2000}, 30.75).Build(Compression::kZlib)), 30);
  EXPECT_EQ(ReadSwfFrameRate(Movie({0, 2000, 0, 2000}, 8).Build(Compression::kLzma)), 8);
  EXPECT_FALSE(fs::exists(ExpandedCopyPath()));  // the rate alone writes no copy
}

TEST_F(SwfHeaderTest, UnknownSignature) {
  Bytes f = Movie({0, 2000, 0, 2000}, 30).Build();
  f[0] = 'X';
  EXPECT_EQ(ReadSwfHeader(f), (SwfBounds{0, 0, 540, 400}));
  EXPECT_EQ(ReadSwfFrameRate(f), 12);
  EXPECT_EQ(ReadSwfHeader(Bytes{'C', 'W'}), (SwfBounds{0, 0, 540, 400}));
  EXPECT_FALSE(fs::exists(ExpandedCopyPath()));
}

TEST_F(SwfHeaderTest, BrokenStreamKeepsTheEarlierCopy) {
  const Bytes good = Movie({0, 2000, 0, 2000}, 30).Build(Compression::kZlib);
  ReadSwfHeader(good);
  const Bytes before = Slurp(ExpandedCopyPath());
  Bytes bad = good;
  bad[8] = 0;  // no zlib stream header
  EXPECT_THROW(ReadSwfHeader(bad), swf::SwfError);
  EXPECT_EQ(Slurp(ExpandedCopyPath()), before);
  // A stream that only ends early is a cut movie: what it holds is copied.
  Bytes cut = good;
  cut.resize(cut.size() - 5);
  EXPECT_NO_THROW(ReadSwfHeader(cut));
  const Bytes copy = Slurp(ExpandedCopyPath());
  EXPECT_LE(copy.size(), before.size());
  EXPECT_GT(copy.size(), 8u);
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), before.begin()));
}

TEST_F(SwfHeaderTest, CutOffHeaderNamesTheField) {
  const Bytes f = Movie({0, 11000, 0, 8000}, 24).Build();
  const Bytes cut(f.begin(), f.begin() + 12);
  try {
    ReadSwfHeader(cut);
    FAIL();
  } catch (const swf::SwfError& e) {
    EXPECT_EQ(e.Field(), "FrameSize.Xmax");
  }
  const Bytes no_rate(f.begin(), f.begin() + 17);
  EXPECT_NO_THROW(ReadSwfHeader(no_rate));
  EXPECT_THROW(ReadSwfFrameRate(no_rate), swf::SwfError);
}

TEST_F(SwfHeaderTest, FitPlayerToMovieReadsTheFile) {
  const fs::path p = dir_ / "movie.swf";
  Movie({0, 11000, 0, 8000}, 25).WriteFile(p, Compression::kZlib);
  const MovieFit fit = FitPlayerToMovie(p, {10, 20, 300, 300, 0, 0}, 1024, 1024);
  EXPECT_EQ(fit.bounds, (SwfBounds{0, 0, 550, 400}));
  EXPECT_EQ(fit.framesPerSecond, 25);
  EXPECT_EQ(fit.layout, (PlayerLayout{10, 20, 550, 400, 10 + 542, 20 + 392}));
  EXPECT_TRUE(fs::exists(ExpandedCopyPath()));

  try {
    FitPlayerToMovie(dir_ / "missing.swf", {}, 1024, 1024);
    FAIL();
  } catch (const swf::SwfError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.swf"), std::string::npos);
  }
  const fs::path bad = dir_ / "bad.swf";
  std::ofstream(bad, std::ios::binary) << "CWS\x08\x10\x00\x00\x00garbage";
  try {
    FitPlayerToMovie(bad, {}, 1024, 1024);
    FAIL();
  } catch (const swf::SwfError& e) {
    EXPECT_NE(std::string(e.what()).find("bad.swf"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quarvel::flash
