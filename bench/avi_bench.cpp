// Saving 300 captured frames of 552 x 400 with "DIVX" at "Medium Quality",
// against the ffmpeg program encoding the same frames from a raw file with the
// same encoder, quantiser and key-frame interval. Goal: at most 1.25 x ffmpeg.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "avi/avi_oracle.h"
#include "avi/save_to_avi.h"
#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace quarvel;

constexpr int kFrames = 300, kWidth = 552, kHeight = 400, kLatency = 250;

struct Scene {
  avi_test::TempDir dir{"qavibench"};
  fs::path raw = dir.Path() / "frames.bgr";

  Scene() {
    fs::create_directories(dir.Path() / "temp");
    paths::SetWorkingFolder(dir.Path());
    std::ofstream out(raw, std::ios::binary);
    for (int i = 0; i < kFrames; ++i) {
      gdi::Bitmap frame = avi_test::MovingFrame(i, kWidth, kHeight);
      capture::SaveFrameFile(frame, i + 1);
      auto rows = avi_test::TopDownBgr(frame);
      out.write(reinterpret_cast<const char*>(rows.data()), std::streamsize(rows.size()));
    }
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

// CPU seconds of this process (all threads) or of its finished children.
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double OurSave() {
  Scene& scene = TheScene();
  avi::TAviWriter_2 writer;
  avi::AviSaveOptions options;
  options.output = scene.dir.Path() / "ours.avi";
  options.captured_frame_count = kFrames;
  options.latency_ms = kLatency;
  options.audio = false;
  options.quality_index = 3;  // "Medium Quality"
  options.codec.items = {avi::kNoCompression, "DIVX"};
  options.codec.selected = 1;
  writer.Width = kWidth;
  writer.Height = kHeight;
  avi::AviSaveCallbacks callbacks;
  callbacks.ask_overwrite = [](const fs::path&) { return true; };
  auto start = std::chrono::steady_clock::now();
  if (!avi::SaveToAvi(writer, options, callbacks).saved) std::abort();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double FfmpegSave() {
  Scene& scene = TheScene();
  std::string command =
      "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
      " -r " + std::to_string(1000 / kLatency) + " -i " + avi_test::Quote(scene.raw) +
      " -c:v mpeg4 -vtag DIVX -bf 0 -q:v " + std::to_string(vfw::QScaleForQuality(avi::QualityForIndex(3))) +
      " -g " + std::to_string(avi::KeyFrameEvery(kLatency)) + " " + avi_test::Quote(scene.dir.Path() / "ffmpeg.avi");
  auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) std::abort();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_SaveToAvi_Divx_Medium(benchmark::State& state) {
  TheScene();
  for (auto _ : state) {
    double s = OurSave();
    state.SetIterationTime(s);
  }
  state.counters["fps"] = benchmark::Counter(double(kFrames) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SaveToAvi_Divx_Medium)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Ffmpeg_Divx_Medium(benchmark::State& state) {
  TheScene();
  for (auto _ : state) state.SetIterationTime(FfmpegSave());
}
BENCHMARK(BM_Ffmpeg_Divx_Medium)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Both in turn, so the machine's load hits them alike; the goal is ratio <= 1.25.
void BM_Ratio_Save_vs_Ffmpeg(benchmark::State& state) {
  TheScene();
  double ours = 0, theirs = 0, ours_cpu = 0, theirs_cpu = 0;
  for (auto _ : state) {
    double cpu = CpuSeconds(RUSAGE_SELF);
    ours += OurSave();
    ours_cpu += CpuSeconds(RUSAGE_SELF) - cpu;
    cpu = CpuSeconds(RUSAGE_CHILDREN);
    theirs += FfmpegSave();
    theirs_cpu += CpuSeconds(RUSAGE_CHILDREN) - cpu;
  }
  double n = double(state.iterations());
  state.counters["ours_ms"] = 1000 * ours / n;
  state.counters["ffmpeg_ms"] = 1000 * theirs / n;
  state.counters["ratio"] = ours / theirs;
  // On a shared machine wall time follows the neighbours' load; CPU time does not.
  state.counters["ours_cpu_ms"] = 1000 * ours_cpu / n;
  state.counters["ffmpeg_cpu_ms"] = 1000 * theirs_cpu / n;
  state.counters["cpu_ratio"] = ours_cpu / theirs_cpu;
  std::error_code ec;
  state.counters["ours_kB"] = double(fs::file_size(TheScene().dir.Path() / "ours.avi", ec)) / 1024;
  state.counters["ffmpeg_kB"] = double(fs::file_size(TheScene().dir.Path() / "ffmpeg.avi", ec)) / 1024;
}
BENCHMARK(BM_Ratio_Save_vs_Ffmpeg)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
