// quarvel-cli on corpus movies: the GIF written with --optimize decodes
// (giflib) to the pictures and delays of the one written with --no-optimize
// from the same frame store, for every colour and dither choice.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/cli_run.h"
#include "gif/gif_pictures.h"
#include "gif/giflib_reader.h"

namespace quarvel::gif {
namespace {

namespace fs = std::filesystem;
using quarvel::testing::CliRunner;

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void ExpectOptimizedShowsTheSame(const std::string& movie, const std::string& latency) {
  const fs::path path = fs::path(QUARVEL_SHARED_DIR) / "corpus" / movie;
  if (!fs::exists(path)) GTEST_SKIP() << "no corpus movie " << path;
  CliRunner cli("gifopt");
  auto r = cli.Run({"-q", "capture", path.string(), "--latency", latency, "--size", "275x200", "--sound", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* colors : {"256", "gray"})
    for (const char* dither : {"nearest", "floyd"}) {
      SCOPED_TRACE(movie + " " + colors + " " + dither);
      const fs::path plain = cli.Folder() / "plain.gif", small = cli.Folder() / "small.gif";
      r = cli.Run({"-q", "gif", plain.string(), "--colors", colors, "--dither", dither, "--no-optimize"});
      ASSERT_EQ(r.status, 0) << r.err;
      r = cli.Run({"-q", "gif", small.string(), "--colors", colors, "--dither", dither});
      ASSERT_EQ(r.status, 0) << r.err;
      const auto plain_bytes = ReadBytes(plain), small_bytes = ReadBytes(small);
      EXPECT_LT(small_bytes.size(), plain_bytes.size());
      const auto want = testing::ShownPictures(testing::DecodeWithGiflib(plain_bytes));
      const auto got = testing::ShownPictures(testing::DecodeWithGiflib(small_bytes));
      ASSERT_GT(want.size(), 1u);
      ASSERT_EQ(got.size(), want.size());
      for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].delay, want[i].delay) << "picture " << i;
        ASSERT_TRUE(got[i].pixels == want[i].pixels) << "picture " << i;
      }
    }
}

TEST(OptimizeCorpus, MorphingShapes) { ExpectOptimizedShowsTheSame("shumway/examples/morphing/morph.swf", "50"); }

TEST(OptimizeCorpus, BlendModes) {
  ExpectOptimizedShowsTheSame("ruffle/tests/tests/swfs/from_shumway/acid/acid-blend-2/test.swf", "50");
}

}  // namespace
}  // namespace quarvel::gif
