// Playing movies with video as a capture does: each iteration plays one
// whole movie on a virtual clock, painting every frame at the movie's size.
// The counter "x_realtime" is the movie's length over the time it took:
// captures of video movies should run at least 10 times faster than real time.
// Movies: ffmpeg's embedded H.263 at 320 x 240, an FLV beside a script
// movie (H.263 and H.264), and the VP6 samples kept beside the video tests.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "player/video/test_streams.h"
#include "support/swf_builder.h"

namespace {

namespace fs = std::filesystem;
namespace vt = quarvel::player::video::testing;
constexpr int kSeconds = 3;

void Play(benchmark::State& state, const fs::path& movie, int frames) {
  double seconds = 0, movieSeconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    quarvel::player::FlashPlayer player;
    player.SetMovie(movie.string());
    if (player.ReadyState() != 4) {
      state.SkipWithError(player.LoadError().c_str());
      return;
    }
    player.SetSize(player.MovieWidth(), player.MovieHeight());
    const double fps = player.FrameRate() > 0 ? player.FrameRate() : 12.0;
    quarvel::gdi::Bitmap target;
    for (int k = 0; k < frames; ++k) {
      player.AdvanceTo(static_cast<std::int64_t>(k * 1000.0 / fps));
      player.Paint(target);
      benchmark::DoNotOptimize(target.ScanLine(0));
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    movieSeconds += frames / fps;
  }
  state.counters["x_realtime"] = seconds > 0 ? movieSeconds / seconds : 0;
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * frames);
}

void BM_EmbeddedH263(benchmark::State& state) {
  const auto movie = vt::HaveFfmpeg() ? vt::MakeStream("bench-play-h263.swf", "-c:v flv1 -f swf", 320, 240, kSeconds)
                                      : fs::path();
  if (movie.empty()) return state.SkipWithError("ffmpeg could not make the movie");
  Play(state, movie, 10 * kSeconds);
}
BENCHMARK(BM_EmbeddedH263)->Unit(benchmark::kMillisecond);

// A script movie of kSeconds at 10 frames a second playing clip.flv into a
// Video object of 320 x 240.
fs::path FlvMovie(const std::string& name, const std::string& args) {
  if (!vt::HaveFfmpeg()) return {};
  const fs::path flv = vt::MakeStream(name + ".flv", args, 320, 240, kSeconds);
  if (flv.empty()) return {};
  const fs::path dir = vt::TempDir() / name;
  fs::create_directories(dir);
  fs::copy_file(flv, dir / "clip.flv", fs::copy_options::overwrite_existing);
  quarvel::testing::SwfBuilder b(8, {0, 320 * 20, 0, 240 * 20}, 10.0);
  b.Tag(quarvel::swf::tag::kDefineVideoStream, std::vector<std::uint8_t>{1, 0, 0, 0, 64, 1, 240, 0, 0, 0});
  quarvel::testing::Placement p;
  p.characterId = 1;
  p.name = "vid";
  b.PlaceObject2(p);
  quarvel::testing::Actions a;
  a.PushString("ns").PushNull().PushInt(1).PushString("NetStream").Raw(0x40).SetVariable();
  a.PushString("ns").Raw(0x1C).PushInt(1).PushString("vid").Raw(0x1C).PushString("attachVideo").Raw(0x52).Raw(0x17);
  a.PushString("clip.flv").PushInt(1).PushString("ns").Raw(0x1C).PushString("play").Raw(0x52).Raw(0x17);
  b.DoAction(a).ShowFrame();
  for (int i = 1; i < 10 * kSeconds; ++i) b.ShowFrame();
  b.WriteFile(dir / "movie.swf");
  return dir / "movie.swf";
}

void BM_FlvH263(benchmark::State& state) {
  const auto movie = FlvMovie("bench-ns-flv1", "-c:v flv1");
  if (movie.empty()) return state.SkipWithError("ffmpeg could not make the movie");
  Play(state, movie, 10 * kSeconds);
}
void BM_FlvH264(benchmark::State& state) {
  const auto movie = FlvMovie("bench-ns-h264", "-c:v libx264 -pix_fmt yuv420p");
  if (movie.empty()) return state.SkipWithError("ffmpeg could not make the movie");
  Play(state, movie, 10 * kSeconds);
}
BENCHMARK(BM_FlvH263)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlvH264)->Unit(benchmark::kMillisecond);

void BM_Vp6Samples(benchmark::State& state, const char* dir) {
  const fs::path movie = fs::path(QUARVEL_SOURCE_DIR) / "tests/video/samples" / dir / "test.swf";
  if (!fs::exists(movie)) return state.SkipWithError("sample missing");
  Play(state, movie, 10);
}
BENCHMARK_CAPTURE(BM_Vp6Samples, vp6, "colorconversion/vp6")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Vp6Samples, vp6a, "colorconversion/vp6a")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Vp6Samples, vp6_dispsize, "vp6_dispsize")->Unit(benchmark::kMillisecond);

}  // namespace
