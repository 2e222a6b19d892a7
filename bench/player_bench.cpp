// Frames rendered per second at 550 x 400 for every movie of the corpus:
// each iteration advances the clock by one frame and paints the picture.
// The counter "x_realtime" is that rate over the movie's own frame rate.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "platform/gdi/bitmap.h"
#include "platform/player/flash_player.h"

namespace {

const std::string kCorpus = std::string(QUARVEL_SHARED_DIR) + "/corpus";

void RenderMovie(benchmark::State& state, const std::string& path) {
  quarvel::player::FlashPlayer player;
  player.SetSize(550, 400);
  player.SetMovie(path);
  if (player.ReadyState() != 4) {
    state.SkipWithError(player.LoadError().c_str());
    return;
  }
  const double fps = player.FrameRate() > 0 ? player.FrameRate() : 12.0;
  quarvel::gdi::Bitmap target;
  double t = 0;
  for (auto _ : state) {
    t += 1000.0 / fps;
    player.AdvanceTo(static_cast<std::int64_t>(t) + 1);
    player.Paint(target);
    benchmark::DoNotOptimize(target.Bits().data());
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / fps, benchmark::Counter::kIsRate);
}

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
  return true;
}();

}  // namespace
