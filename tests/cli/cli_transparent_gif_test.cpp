// quarvel-cli writing a capture made on a transparent background as GIF:
// giflib decodes every file, and the pictures it shows over time are checked
// against the frame store's alpha and colours.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <regex>

#include "capture/frame_store.h"
#include "cli/cli_run.h"
#include "gif/giflib_reader.h"
#include "gif/gif_pictures.h"
#include "support/swf_builder.h"

namespace quarvel {
namespace {

namespace fs = std::filesystem;
using gif::testing::kBackground;
using testing::CliResult;
using testing::CliRunner;
using Picture = std::vector<std::uint32_t>;

constexpr int kWidth = 120, kHeight = 90, kFrames = 14;
constexpr int kSquare = 20;  // the moving square's side in pixels

// A red square moving right by 7.5 pixels a frame (soft edges), a gradient
// band fading from opaque to clear that goes away on frame 10, and a green
// square at alpha 90, below one half, over a clear stage.
fs::path AlphaMovie(const fs::path& folder) {
  using testing::FillStyle;
  using testing::ShapeBuilder;
  testing::SwfBuilder b(8, {0, kWidth * 20, 0, kHeight * 20}, 10.0);
  ShapeBuilder red;
  red.Rectangle(0, 0, kSquare * 20, kSquare * 20, red.AddFill(FillStyle::Solid({230, 20, 20, 255})));
  b.DefineShape3(1, red);
  ShapeBuilder band;
  swf::Matrix g;
  g.scaleX = 100 * 20 / 32768.0;
  g.scaleY = 1;
  g.translateX = 60 * 20;
  band.Rectangle(10 * 20, 40 * 20, 100 * 20, 25 * 20,
                 band.AddFill(FillStyle::Linear({{0, {20, 40, 220, 255}}, {255, {250, 220, 30, 0}}}, g)));
  b.DefineShape3(2, band);
  ShapeBuilder green;
  green.Rectangle(0, 0, 15 * 20, 15 * 20, green.AddFill(FillStyle::Solid({20, 200, 40, 90})));
  b.DefineShape3(3, green);

  b.PlaceObject2({.depth = 1, .characterId = 2});
  b.PlaceObject2({.depth = 2, .characterId = 3, .matrix = swf::Matrix{1, 1, 0, 0, 95 * 20, 70 * 20}});
  for (int f = 0; f < kFrames; ++f) {
    swf::Matrix at{1, 1, 0, 0, 4 * 20 + f * 150, 10 * 20};
    if (f == 0)
      b.PlaceObject2({.depth = 3, .characterId = 1, .matrix = at});
    else
      b.PlaceObject2({.depth = 3, .move = true, .matrix = at});
    if (f == 10) b.RemoveObject2(1);
    b.ShowFrame();
  }
  const fs::path path = folder / "alpha.swf";
  b.WriteFile(path);
  return path;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct StoreFrame {
  Picture shown;              // what a GIF should show: kBackground where alpha < 128
  std::vector<int> alpha;     // the stored alpha
  std::vector<gdi::Color> colour;
};

long long CapturedFrames(const CliRunner& cli) {
  const std::string record = testing::ReadText(cli.WorkDir() / "temp" / "last-capture.txt");
  std::smatch m;
  if (!std::regex_search(record, m, std::regex("frames=(\\d+)"))) return -1;
  return std::stoll(m[1]);
}

// The store as the writers read it: a missing file repeats the frame before.
std::vector<StoreFrame> ReadStore(const CliRunner& cli) {
  std::vector<StoreFrame> out;
  const long long count = CapturedFrames(cli);
  for (long long n = 1; n <= count; ++n) {
    const fs::path file = cli.WorkDir() / "temp" / (std::to_string(n) + ".bmp");
    if (!fs::exists(file) && !out.empty()) {
      out.push_back(out.back());
      continue;
    }
    const gdi::Bitmap p = capture::LoadFramePicture(file, true);
    StoreFrame f;
    for (int y = 0; y < p.Height(); ++y)
      for (int x = 0; x < p.Width(); ++x) {
        const int a = p.ScanLine(y)[4 * x + 3];
        const gdi::Color c = p.GetPixel(x, y);
        f.alpha.push_back(a);
        f.colour.push_back(c);
        f.shown.push_back(a < 128 ? kBackground : c.ToRgb());
      }
    out.push_back(std::move(f));
  }
  return out;
}

// One decoded picture per captured frame: each GIF frame stands for as many
// frames of the store as its delay holds latencies.
std::vector<Picture> PicturesPerFrame(const fs::path& file, int delay_per_frame) {
  const auto decoded = gif::testing::DecodeWithGiflib(ReadBytes(file));
  EXPECT_EQ(decoded.screen_width, kWidth);
  EXPECT_EQ(decoded.screen_height, kHeight);
  std::vector<Picture> out;
  for (const auto& shown : gif::testing::ShownPictures(decoded, false)) {
    EXPECT_EQ(shown.delay % delay_per_frame, 0);
    for (long long k = 0; k < shown.delay / delay_per_frame; ++k) out.push_back(shown.pixels);
  }
  return out;
}

class TransparentGif : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    cli_ = std::make_unique<CliRunner>("gif-alpha");
    movie_ = AlphaMovie(cli_->Folder());
    const CliResult r = cli_->Run({"capture", movie_.string(), "--background", "transparent", "--latency", "100",
                                   "--sound", "none"});
    ASSERT_EQ(r.status, 0) << r.err;
    store_ = ReadStore(*cli_);
  }
  static void TearDownTestSuite() { cli_.reset(); }

  // Writes the store as a GIF with the given options.
  static fs::path Write(const std::string& name, const std::vector<std::string>& options) {
    const fs::path out = cli_->Folder() / name;
    std::vector<std::string> args{"gif", out.string()};
    args.insert(args.end(), options.begin(), options.end());
    const CliResult r = cli_->Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    return out;
  }

  static std::unique_ptr<CliRunner> cli_;
  static fs::path movie_;
  static std::vector<StoreFrame> store_;
};

std::unique_ptr<CliRunner> TransparentGif::cli_;
fs::path TransparentGif::movie_;
std::vector<StoreFrame> TransparentGif::store_;

TEST_F(TransparentGif, TheCaptureHasClearOpaqueAndPartlyCoveredPixels) {
  ASSERT_GE(store_.size(), std::size_t(kFrames));
  std::map<int, long long> kinds;  // 0 clear, 1 partly below half, 2 partly above, 3 opaque
  for (int a : store_[0].alpha) ++kinds[a == 0 ? 0 : a < 128 ? 1 : a < 255 ? 2 : 3];
  EXPECT_GT(kinds[0], 1000);
  EXPECT_GT(kinds[1], 100);
  EXPECT_GT(kinds[2], 100);
  EXPECT_GT(kinds[3], 300);
}

TEST_F(TransparentGif, EveryWayOfWritingShowsTheStoresAlphaAndColours) {
  struct Way {
    std::string name;
    std::vector<std::string> options;
    double mean_limit;  // mean channel error over the opaque pixels
  };
  const std::vector<Way> ways{
      {"octree.gif", {"--no-optimize"}, 3.0},
      {"octree-opt.gif", {}, 3.0},
      {"octree-best.gif", {"--mode", "best", "--no-optimize"}, 3.0},
      {"octree-floyd.gif", {"--dither", "floyd"}, 6.0},
      {"quant.gif", {"--palette", "quant", "--no-optimize"}, 3.0},
      {"quant-opt.gif", {"--palette", "quant"}, 3.0},
      {"quant-floyd-opt.gif", {"--palette", "quant", "--dither", "floyd"}, 6.0},
      {"gray-opt.gif", {"--colors", "gray"}, -1},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    const fs::path file = Write(way.name, way.options);
    const std::vector<Picture> pictures = PicturesPerFrame(file, 10);
    ASSERT_EQ(pictures.size(), store_.size());
    long long wrong_alpha = 0, counted = 0;
    double error = 0;
    for (std::size_t n = 0; n < store_.size(); ++n) {
      const StoreFrame& want = store_[n];
      for (std::size_t k = 0; k < want.shown.size(); ++k) {
        const std::uint32_t got = pictures[n][k];
        if ((got == kBackground) != (want.shown[k] == kBackground)) {
          ++wrong_alpha;
          continue;
        }
        if (got == kBackground) continue;
        const gdi::Color c = gdi::Color::FromRgb(got), w = want.colour[k];
        if (way.mean_limit < 0) {
          // Grey scale: the grey of the colour.
          const double grey = 0.299 * w.r + 0.587 * w.g + 0.114 * w.b;
          error += std::abs(double(c.r) - grey);
          counted += 1;
        } else {
          error += std::abs(c.r - w.r) + std::abs(c.g - w.g) + std::abs(c.b - w.b);
          counted += 3;
        }
      }
    }
    EXPECT_EQ(wrong_alpha, 0) << "pixels shown clear where the store is opaque or the other way round";
    ASSERT_GT(counted, 0);
    EXPECT_LT(error / double(counted), way.mean_limit < 0 ? 3.0 : way.mean_limit);
  }
}

TEST_F(TransparentGif, AMovingShapeLeavesNoTrailAndRemovedShapesGo) {
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--no-optimize"}, std::vector<std::string>{}}) {
    const fs::path file = Write("trail.gif", options);
    const std::vector<Picture> pictures = PicturesPerFrame(file, 10);
    ASSERT_GE(pictures.size(), std::size_t(kFrames));
    // The square's first place, well inside its edges, is covered at first and clear at the end.
    const std::size_t where = std::size_t(20) * kWidth + 10;
    EXPECT_NE(pictures.front()[where], kBackground);
    EXPECT_EQ(pictures.back()[where], kBackground);
    // The band is gone after frame 10.
    const std::size_t band = std::size_t(50) * kWidth + 15;
    EXPECT_NE(pictures.front()[band], kBackground);
    EXPECT_EQ(pictures.back()[band], kBackground);
  }
}

TEST_F(TransparentGif, TheOptimisedFileShowsWhatThePlainOneShowsAndIsSmaller) {
  for (const std::string palette : {"octree", "quant"}) {
    SCOPED_TRACE(palette);
    const fs::path plain = Write("plain-" + palette + ".gif", {"--palette", palette, "--no-optimize"});
    const fs::path optimised = Write("opt-" + palette + ".gif", {"--palette", palette});
    EXPECT_TRUE(PicturesPerFrame(plain, 10) == PicturesPerFrame(optimised, 10));
    EXPECT_LT(fs::file_size(optimised), fs::file_size(plain));
    // Every frame has a transparent entry; the plain build clears each frame after its time.
    const auto decoded = gif::testing::DecodeWithGiflib(ReadBytes(plain));
    for (const auto& f : decoded.frames) {
      EXPECT_TRUE(f.transparent);
      EXPECT_EQ(f.disposal, 2);
    }
  }
}

TEST_F(TransparentGif, GifsicleReadsTheFiles) {
  if (std::system("command -v gifsicle >/dev/null 2>&1") != 0) GTEST_SKIP() << "gifsicle is not installed";
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--no-optimize"}, std::vector<std::string>{"--palette", "quant"}}) {
    const fs::path file = Write("info.gif", options);
    const fs::path info = cli_->Folder() / "info.txt";
    const std::string cmd = "gifsicle --info " + testing::ShellQuote(file.string()) + " >" +
                            testing::ShellQuote(info.string()) + " 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << testing::ReadText(info);
    const std::string text = testing::ReadText(info);
    EXPECT_NE(text.find("transparent"), std::string::npos) << text;
    EXPECT_EQ(text.find("warning"), std::string::npos) << text;
  }
}

TEST_F(TransparentGif, ConvertWritesGifAndRefusesAviWithTheWayOut) {
  const fs::path gif = cli_->Folder() / "convert.gif";
  CliResult r = cli_->Run({"convert", movie_.string(), gif.string(), "--background", "transparent", "--latency",
                           "100", "--sound", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto decoded = gif::testing::DecodeWithGiflib(ReadBytes(gif));
  ASSERT_FALSE(decoded.frames.empty());
  EXPECT_TRUE(decoded.frames[0].transparent);

  const fs::path avi = cli_->Folder() / "convert.avi";
  r = cli_->Run({"convert", movie_.string(), avi.string(), "--background", "transparent"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--background RRGGBB"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(avi));
}

}  // namespace
}  // namespace quarvel
