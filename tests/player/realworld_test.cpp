// Renders the real-world script movies and counts the frames that agree with
// their reference pictures. A mean difference hides a half-drawn simulation
// on a white page, so agreement is judged by the share of clearly wrong pixels.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/font_caches.h"

namespace quarvel::testing {
namespace {

const std::string kRealworld = std::string(QUARVEL_SHARED_DIR) + "/realworld";
const std::string kRealworldAs3 = std::string(QUARVEL_SHARED_DIR) + "/realworld-as3";

// Floors that only go up: frames with at most 1 % of pixels off by more than 48.
constexpr int kAgreeFloor = 57;
constexpr int kAs3AgreeFloor = 24;  // 26 agree today, less two for timing
constexpr int kChannelTolerance = 48;
constexpr double kWrongShare = 0.01;

struct RealworldFrame {
  std::string movie, reference;
  int width = 0, height = 0, frame = 1;
};

std::vector<std::string> Columns(const std::string& line) {
  std::vector<std::string> cols;
  std::istringstream row(line);
  for (std::string c; std::getline(row, c, '\t');) cols.push_back(c);
  return cols;
}

// The manifest's rows, its columns found by their names in the first line.
std::vector<RealworldFrame> ReadManifest(const std::string& dir) {
  std::ifstream in(dir + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> head = Columns(line);
  const auto at = [&](const char* name) {
    return static_cast<std::size_t>(std::find(head.begin(), head.end(), name) - head.begin());
  };
  const std::size_t file = at("file"), width = at("width"), height = at("height"), frame = at("frame"),
                    reference = at("reference");
  std::vector<RealworldFrame> out;
  while (std::getline(in, line)) {
    const std::vector<std::string> cols = Columns(line);
    if (reference >= head.size() || cols.size() <= std::max({file, width, height, frame, reference})) continue;
    RealworldFrame f;
    f.movie = cols[file];
    f.width = std::atoi(cols[width].c_str());
    f.height = std::atoi(cols[height].c_str());
    f.frame = std::max(1, std::atoi(cols[frame].c_str()));
    f.reference = cols[reference];
    out.push_back(f);
  }
  return out;
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

struct Agreement {
  std::string error;  // empty when rendered
  long wrong = 0, pixels = 0;
  bool Agrees() const { return error.empty() && pixels > 0 && wrong <= kWrongShare * pixels; }
};

// The picture after `frame` frames, as `quarvel-cli frame --frame N` makes it.
Agreement Compare(const std::string& dir, const RealworldFrame& f, const std::string& outDir) {
  Agreement a;
  SurfacePtr ref(cairo_image_surface_create_from_png((dir + "/" + f.reference).c_str()));
  if (cairo_surface_status(ref.get()) != CAIRO_STATUS_SUCCESS) {
    a.error = "reference cannot be read";
    return a;
  }
  const int w = cairo_image_surface_get_width(ref.get());
  const int h = cairo_image_surface_get_height(ref.get());
  player::FlashPlayer p;
  p.SetSize(w, h);
  p.SetQuality("High");
  p.SetMovie(dir + "/" + f.movie);
  if (p.ReadyState() != 4) {
    a.error = p.LoadError();
    return a;
  }
  const double fps = p.FrameRate() > 0 ? p.FrameRate() : 12.0;
  p.AdvanceTo(static_cast<std::int64_t>(std::ceil((f.frame - 1) * 1000.0 / fps - 1e-9)));
  gdi::Bitmap bmp;
  p.Paint(bmp);
  cairo_surface_flush(ref.get());
  const auto* rd = cairo_image_surface_get_data(ref.get());
  const int rs = cairo_image_surface_get_stride(ref.get());
  const bool alpha = cairo_image_surface_get_format(ref.get()) == CAIRO_FORMAT_ARGB32;
  a.pixels = static_cast<long>(w) * h;
  for (int y = 0; y < h; ++y) {
    const auto* rrow = reinterpret_cast<const std::uint32_t*>(rd + static_cast<std::size_t>(y) * rs);
    const std::uint8_t* ours = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t v = rrow[x];
      const int left = alpha ? 255 - static_cast<int>(v >> 24) : 0;  // premultiplied, over white
      const int rc[3] = {static_cast<int>(v & 255) + left, static_cast<int>((v >> 8) & 255) + left,
                         static_cast<int>((v >> 16) & 255) + left};
      bool off = false;
      for (int k = 0; k < 3; ++k) off = off || std::abs(rc[k] - ours[x * 4 + k]) > kChannelTolerance;
      a.wrong += off;
    }
  }
  if (!outDir.empty()) {
    SurfacePtr out(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h));
    auto* od = cairo_image_surface_get_data(out.get());
    for (int y = 0; y < h; ++y) {
      std::copy_n(bmp.ScanLine(y), static_cast<std::size_t>(w) * 4,
                  od + static_cast<std::size_t>(y) * cairo_image_surface_get_stride(out.get()));
    }
    cairo_surface_mark_dirty(out.get());
    std::filesystem::create_directories(std::filesystem::path(outDir + "/" + f.reference).parent_path());
    cairo_surface_write_to_png(out.get(), (outDir + "/" + f.reference).c_str());
  }
  return a;
}

// Renders every frame of a real-world folder and counts those that agree.
void ExpectAgreement(const std::string& dir, int floor) {
  if (!std::filesystem::exists(dir + "/MANIFEST.tsv")) GTEST_SKIP() << "no movies at " << dir;
  const char* out = std::getenv("QUARVEL_REALWORLD_OUT");
  // QUARVEL_REALWORLD_ONLY=name: that movie alone (names containing it), to study one.
  const char* only = std::getenv("QUARVEL_REALWORLD_ONLY");
  auto frames = ReadManifest(dir);
  if (only) std::erase_if(frames, [only](const RealworldFrame& f) { return f.movie.find(only) == std::string::npos; });
  if (only && frames.empty()) GTEST_SKIP() << "no movie named like " << only;
  ASSERT_FALSE(frames.empty());
  int agree = 0;
  for (const auto& f : frames) {
    const Agreement a = Compare(dir, f, out ? out : "");
    agree += a.Agrees();
    std::printf("%s %6.2f%% off  %s %s\n", a.Agrees() ? "AGREE" : "MISS ",
                a.pixels ? 100.0 * static_cast<double>(a.wrong) / static_cast<double>(a.pixels) : 100.0,
                f.movie.c_str(), a.error.c_str());
  }
  std::printf("%s: %d of %zu frames agree\n", dir.c_str(), agree, frames.size());
  if (!only) {
    EXPECT_GE(agree, floor);
  }
}

TEST(PlayerRealworld, FramesAgreeWithReferences) { ExpectAgreement(kRealworld, kAgreeFloor); }

TEST(PlayerRealworld, As3FramesAgreeWithReferences) {
#if defined(__SANITIZE_ADDRESS__)
  // Minutes of ActionScript 3 start-up under the sanitizers; the fuzz and
  // trace-suite runs cover these machines there.
  GTEST_SKIP() << "pictures are compared in the normal build";
#endif
  ExpectAgreement(kRealworldAs3, kAs3AgreeFloor);
}

}  // namespace
}  // namespace quarvel::testing
