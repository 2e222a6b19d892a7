// A whole capture in virtual time with the real player at 550 x 400: a
// moving gradient and square, one new picture per tick. The goal is 10 x
// faster than real time; the counter movie_x says how many movie seconds a
// second of capture covers.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "capture/capture_job.h"
#include "flash/flash_movie_control.h"
#include "support/shape_builder.h"
#include "support/swf_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace quarvel;

constexpr int kFrames = 48;
constexpr double kFps = 12;

std::vector<std::uint8_t> Movie() {
  testing::SwfBuilder b(8, {0, 11000, 0, 8000}, kFps);
  b.SetBackgroundColor({20, 30, 60, 255});
  testing::ShapeBuilder band;
  band.Rectangle(0, 0, 11000, 4000,
                 band.AddFill(testing::FillStyle::Linear({{0, {255, 120, 0, 255}}, {255, {40, 160, 255, 255}}},
                                                         swf::Matrix{11000 / 32768.0, 1, 0, 0, 5500, 2000})));
  b.DefineShape(1, band);
  testing::ShapeBuilder square;
  square.Rectangle(0, 0, 2000, 2000, square.AddFill(testing::FillStyle::Solid({250, 250, 250, 255})));
  b.DefineShape(2, square);
  for (int f = 0; f < kFrames; ++f) {
    swf::Matrix m;
    m.translateX = 200 * f;
    m.translateY = 4000;
    if (f == 0) {
      b.PlaceObject2({.depth = 1, .characterId = 1});
      b.PlaceObject2({.depth = 2, .characterId = 2, .matrix = m});
    } else {
      b.PlaceObject2({.depth = 2, .move = true, .matrix = m});
    }
    if (f == kFrames - 1) b.DoAction(testing::Actions().Stop());
    b.ShowFrame();
  }
  return b.Build();
}

void BM_CaptureVirtualTime550x400(benchmark::State& state) {
  const fs::path home = fs::temp_directory_path() / ("quarvel-session-bench-" + std::to_string(::getpid()));
  fs::create_directories(home);
  ::setenv("QUARVEL_HOME", home.c_str(), 1);
  const fs::path movie = home / "movie.swf";
  auto bytes = Movie();
  std::ofstream(movie, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
  long long ticks = 0;
  for (auto _ : state) {
    flash::FlashMovieControl control;
    control.SetSize(550, 400);
    audio::VirtualClock clock;
    capture::CaptureCallbacks cb;
    cb.latency = [] { return 83; };
    capture::CaptureJob session(control, clock, {}, cb);
    session.Run(movie.string());
    ticks += session.CapturedFrameCount();
  }
  const double movie_seconds = kFrames / kFps;
  state.counters["ticks"] = benchmark::Counter(double(ticks), benchmark::Counter::kAvgIterations);
  state.counters["movie_x"] =
      benchmark::Counter(movie_seconds * double(state.iterations()), benchmark::Counter::kIsRate);
  fs::remove_all(home);
  ::unsetenv("QUARVEL_HOME");
}
// CPU time of all threads, then wall time (frames are saved in the background).
BENCHMARK(BM_CaptureVirtualTime550x400)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_CaptureVirtualTime550x400)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
