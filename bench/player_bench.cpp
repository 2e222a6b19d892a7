// Frames rendered per second at 550 x 400 for every movie of the corpus:
// each iteration advances the clock by one frame and paints the picture.
// The counter "x_realtime" is that rate over the movie's own frame rate.
// Heavy/ repeats this for the movies that cost Cairo the most, and
// HeavyRedraw/ gives them a new background every frame, so that no whole
// picture can be reused (kept pictures of single shapes still are).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"

namespace {

const std::string kCorpus = std::string(QUARVEL_SHARED_DIR) + "/corpus";

void RenderMovie(benchmark::State& state, const std::string& path, bool redrawAll = false) {
  quarvel::player::FlashPlayer player;
  player.SetSize(550, 400);
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
  return true;
}();

}  // namespace
