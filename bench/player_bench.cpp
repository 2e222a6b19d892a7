// Frames rendered per second at 550 x 400 for every movie of the corpus:
// each iteration advances the clock by one frame and paints the picture.
// The counter "x_realtime" is that rate over the movie's own frame rate.
// Heavy/ repeats this for the movies that cost Cairo the most, and
// HeavyRedraw/ gives them a new background every frame, so that no whole
// picture can be reused (kept pictures of single shapes still are).
// RealworldAs3/ plays the first 60 frames of each real ActionScript 3 movie
// of the shared folder at its own size: the player's part of the capture
// that scripts/bench-as3 times whole (its "x_realtime" goal is 10).
// Stage3D/QuadBatch draws a Starling-like frame on the software Stage3D.
// Filters/Blur blurs a 400 x 300 picture of coloured (0) or white (1)
// shapes, whose colour planes all equal its alpha, a new picture each time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "player/render/agal.h"
#include "player/render/filters.h"

namespace {

const std::string kCorpus = std::string(QUARVEL_SHARED_DIR) + "/corpus";
const std::string kRealworldAs3 = std::string(QUARVEL_SHARED_DIR) + "/realworld-as3";

void RenderMovie(benchmark::State& state, const std::string& path, bool redrawAll = false, int width = 550,
                 int height = 400) {
  quarvel::player::FlashPlayer player;
  player.SetSize(width, height);
  player.SetMovie(path);
  if (player.ReadyState() != 4) {
    state.SkipWithError(player.LoadError().c_str());
    return;
  }
  const double fps = player.FrameRate() > 0 ? player.FrameRate() : 12.0;
  const std::int32_t background = player.BackgroundColor();
  quarvel::gdi::Bitmap target;
  double t = 0;
  bool flip = false;
  for (auto _ : state) {
    t += 1000.0 / fps;
    player.AdvanceTo(static_cast<std::int64_t>(t) + 1);
    if (redrawAll) {
      // Another background every frame: the last picture does not fit.
      flip = !flip;
      player.SetBackgroundColor(flip ? background ^ 1 : background);
    }
    player.Paint(target);
    benchmark::DoNotOptimize(target.Bits().data());
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / fps, benchmark::Counter::kIsRate);
}

// Movies whose drawing is hardest: many shapes or edges, masks, bitmaps.
constexpr const char* kHeavy[][2] = {
    {"acid-large", "ruffle/tests/tests/swfs/from_shumway/acid/acid-large/test.swf"},
    {"heavy_tesselation", "ruffle/tests/tests/swfs/visual/simple_shapes/heavy_tesselation/test.swf"},
    {"acid-bitmap-draw_quality_high",
     "ruffle/tests/tests/swfs/from_shumway/acid/acid-bitmap-draw_quality_high/test.swf"},
    {"3_joystick", "ruffle/tests/tests/swfs/from_shumway/3_joystick/test.swf"},
};

// AGAL byte code for the bench's programs: header, then 24-byte tokens.
struct AgalCode {
  std::vector<std::uint8_t> b;
  explicit AgalCode(bool fragment) : b{0xA0, 1, 0, 0, 0, 0xA1, static_cast<std::uint8_t>(fragment ? 1 : 0)} {}
  void Bytes(std::uint64_t v, int n) {
    for (int k = 0; k < n; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  }
  // dst type/index, sources as type/index (xyzw); `sampler` makes source 2 a
  // linear, clamped 2D sampler.
  AgalCode& Op(std::uint32_t op, int dt, int d, int at, int a, int bt = 0, int bi = 0, bool sampler = false) {
    Bytes(op, 4);
    Bytes(static_cast<std::uint64_t>(d), 2);
    Bytes(0xF, 1);
    Bytes(static_cast<std::uint64_t>(dt), 1);
    Bytes(static_cast<std::uint64_t>(a) | 0xE4ull << 24 | static_cast<std::uint64_t>(at) << 32, 8);
    Bytes(static_cast<std::uint64_t>(bi) | (sampler ? 1ull << 60 : 0xE4ull << 24) | static_cast<std::uint64_t>(bt) << 32, 8);
    return *this;
  }
};

// A Starling-like frame at 600 x 650: clear, a textured background over the
// whole back buffer, then a batch of tinted, translucent 48-pixel sprites
// (texture times vertex colour, premultiplied "over"), and the picture
// turned into words as painting does.
void Stage3DQuadBatch(benchmark::State& state) {
  using namespace quarvel::player::agal;
  const int sprites = static_cast<int>(state.range(0));
  const Program vp = Program::Parse(AgalCode(false).Op(0x18, 3, 0, 0, 0, 1, 0).Op(0x03, 4, 0, 0, 1, 1, 4).Op(0x00, 4, 1, 0, 2).b);
  const Program fp = Program::Parse(AgalCode(true).Op(0x28, 2, 1, 4, 1, 5, 0, true).Op(0x03, 3, 0, 2, 1, 4, 0).b);
  std::vector<std::uint32_t> texels(64 * 64);
  for (std::size_t i = 0; i < texels.size(); ++i) texels[i] = (i % 7 == 0 ? 0x80u : 0xFFu) << 24 | static_cast<std::uint32_t>(i * 2654435761u) >> 8;
  // x, y, z, w; r, g, b, a; u, v: four corners a quad.
  std::vector<float> vertices;
  std::vector<std::uint16_t> indices;
  auto quad = [&](float x, float y, float w, float h, float alpha) {
    const auto base = static_cast<std::uint16_t>(vertices.size() / 10);
    for (int c = 0; c < 4; ++c) {
      const float cx = c & 1 ? 1.0f : 0.0f, cy = c & 2 ? 1.0f : 0.0f;
      vertices.insert(vertices.end(), {(x + cx * w) / 300 - 1, 1 - (y + cy * h) / 325, 0, 1, 1, 0.9f, 0.8f, alpha, cx, cy});
    }
    indices.insert(indices.end(), {base, static_cast<std::uint16_t>(base + 1), static_cast<std::uint16_t>(base + 2),
                                   static_cast<std::uint16_t>(base + 1), static_cast<std::uint16_t>(base + 3),
                                   static_cast<std::uint16_t>(base + 2)});
  };
  quad(0, 0, 600, 650, 1);
  for (int k = 0; k < sprites; ++k) quad(static_cast<float>(k * 37 % 552), static_cast<float>(k * 53 % 602), 48, 48, 0.75f);
  std::vector<float> vc(128 * 4), fc(28 * 4);
  for (int k = 0; k < 4; ++k) vc[static_cast<std::size_t>(k * 5)] = 1;  // identity, then the alpha row
  for (int k = 16; k < 20; ++k) vc[static_cast<std::size_t>(k)] = 1;
  Draw d;
  d.vertex = &vp;
  d.fragment = &fp;
  d.vertexConstants = vc;
  d.fragmentConstants = fc;
  d.streams[0] = {vertices.data(), static_cast<int>(vertices.size() / 10), 10, 0, 2, false};
  d.streams[1] = {vertices.data(), static_cast<int>(vertices.size() / 10), 10, 4, 4, false};
  d.streams[2] = {vertices.data(), static_cast<int>(vertices.size() / 10), 10, 8, 2, false};
  d.textures[0] = {texels.data(), 64, 64, false};
  d.indices = indices;
  d.state.source = Blend::kOne;
  d.state.destination = Blend::kOneMinusSrcAlpha;
  d.state.depth = Compare::kAlways;
  Target target;
  target.Resize(600, 650);
  std::vector<std::uint32_t> words(600 * 650);
  for (auto _ : state) {
    target.Clear({0, 0, 0, 1}, 1, true, true);
    DrawTriangles(target, d, 0, indices.size() / 3);
    target.Pixels(words, 0xFF000000u);
    benchmark::DoNotOptimize(words.data());
  }
  state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(Stage3DQuadBatch)->Name("Stage3D/QuadBatch")->Arg(0)->Arg(400)->Unit(benchmark::kMillisecond);

void BlurPicture(benchmark::State& state) {
  const bool white = state.range(0) != 0;
  const int w = 400, h = 300;
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  std::vector<std::uint32_t> picture(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // Discs on a clear ground, half of them translucent.
      const int cx = x % 50 - 25, cy = y % 50 - 25;
      const std::uint32_t a = cx * cx + cy * cy < 400 ? ((x / 50 + y / 50) % 2 ? 0xFFu : 0x80u) : 0u;
      const std::uint32_t r = white ? a : a * 3 / 4, g = white ? a : a / 2, b = white ? a : a / 5;
      picture[static_cast<std::size_t>(y) * w + x] = a << 24 | r << 16 | g << 8 | b;
    }
  quarvel::player::Filter f;
  f.kind = quarvel::player::Filter::Kind::kBlur;
  f.blurX = f.blurY = 12;
  f.passes = 2;
  std::uint32_t k = 0;
  for (auto _ : state) {
    // A corner pixel changes every time: no picture is the one filtered before.
    k = (k + 1) & 0xFF;
    picture[0] = k << 24 | (white ? k << 16 | k << 8 | k : 0);
    cairo_surface_flush(image);
    auto* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int y = 0; y < h; ++y) std::memcpy(data + y * stride, &picture[static_cast<std::size_t>(y) * w], w * 4u);
    cairo_surface_mark_dirty(image);
    quarvel::player::ApplyFilters(image, {f}, 1.0);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(image));
  }
  cairo_surface_destroy(image);
  state.counters["pictures_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BlurPicture)->Name("Filters/Blur")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Registers one benchmark per movie listed in the corpus manifest.
const bool kRegistered = [] {
  std::ifstream in(kCorpus + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);
  std::set<std::string> movies;
  while (std::getline(in, line)) {
    const std::string path = line.substr(0, line.find('\t'));
    if (path.size() > 4 && path.substr(path.size() - 4) == ".swf") movies.insert(path);
  }
  for (const auto& m : movies) {
    benchmark::RegisterBenchmark(("Render550x400/" + m).c_str(),
                                 [full = kCorpus + "/" + m](benchmark::State& s) { RenderMovie(s, full); })
        ->MinTime(0.2)
        ->Unit(benchmark::kMillisecond);
  }
  for (const auto& [name, path] : kHeavy) {
    for (const bool redraw : {false, true}) {
      benchmark::RegisterBenchmark((std::string(redraw ? "HeavyRedraw/" : "Heavy/") + name).c_str(),
                                   [full = kCorpus + "/" + path, redraw](benchmark::State& s) {
                                     RenderMovie(s, full, redraw);
                                   })
          ->MinTime(0.5)
          ->Unit(benchmark::kMillisecond);
    }
  }
  // The real ActionScript 3 movies at their own size: the player's share of
  // a capture (scripts, drawing, the picture), without the writer behind it.
  std::ifstream real(kRealworldAs3 + "/MANIFEST.tsv");
  std::getline(real, line);
  while (std::getline(real, line)) {
    std::vector<std::string> cols;
    std::istringstream fields(line);
    for (std::string col; std::getline(fields, col, '\t');) cols.push_back(col);
    if (cols.size() < 9 || cols[0].size() < 4 || cols[0].substr(cols[0].size() - 4) != ".swf") continue;
    const int w = std::stoi(cols[7]), h = std::stoi(cols[8]);
    benchmark::RegisterBenchmark(("RealworldAs3/" + cols[0]).c_str(),
                                 [full = kRealworldAs3 + "/" + cols[0], w, h](benchmark::State& s) {
                                   RenderMovie(s, full, false, w, h);
                                 })
        ->Iterations(60)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
