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
#include "platform/gdi/heap_tuning.h"
#include "platform/paths/working_folder.h"

namespace {

// As the programs do at start-up.
[[maybe_unused]] const bool kHeapTuned = [] {
  quarvel::gdi::KeepFrameBuffersInHeap();
  return true;
}();

namespace fs = std::filesystem;
using namespace quarvel;

constexpr int kFrames = 300, kWidth = 552, kHeight = 400, kLatency = 250;

// What a captured movie looks like: a soft gradient with flat shapes moving over it.
gdi::Bitmap CapturedFrame(int i) {
  gdi::Bitmap b(kWidth, kHeight, gdi::PixelFormat::pf24bit);
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < kWidth; ++x, row += 3) {
      row[0] = std::uint8_t(200 - y / 4);
      row[1] = std::uint8_t(120 + x / 8);
      row[2] = std::uint8_t(60 + y / 3);
    }
  }
  gdi::FillRect(b, gdi::Rect{(i * 4) % 480, 40, (i * 4) % 480 + 72, 130}, gdi::Color{230, 40, 40});
  gdi::FillRect(b, gdi::Rect{300 - (i * 3) % 280, 200, 360 - (i * 3) % 280, 380}, gdi::Color{30, 30, 200});
  int cx = 276 + (i % 60) - 30, cy = 200;
  for (int y = -50; y <= 50; ++y)
    for (int x = -50; x <= 50; ++x)
      if (x * x + y * y <= 2500) b.SetPixel(cx + x, cy + y, gdi::Color{250, 220, std::uint8_t(i)});
  return b;
}

// Content 0: captured-movie frames; 1: a fine texture that zlib can hardly
// pack, the worst case for reading the frame store.
struct Scene {
  int content;
  avi_test::TempDir dir;
  fs::path raw = dir.Path() / "frames.bgr";

  explicit Scene(int c) : content(c), dir("qavibench" + std::to_string(c)) {
    fs::create_directories(dir.Path() / "temp");
    paths::SetWorkingFolder(dir.Path());
    std::ofstream out(raw, std::ios::binary);
    for (int i = 0; i < kFrames; ++i) {
      gdi::Bitmap frame = content == 0 ? CapturedFrame(i) : avi_test::MovingFrame(i, kWidth, kHeight);
      capture::SaveFrameFile(frame, i + 1);
      auto rows = avi_test::TopDownBgr(frame);
      out.write(reinterpret_cast<const char*>(rows.data()), std::streamsize(rows.size()));
    }
  }
};

Scene& TheScene(int content = 0) {
  static Scene captured(0);
  if (content == 0) {
    paths::SetWorkingFolder(captured.dir.Path());
    return captured;
  }
  static Scene textured(1);
  paths::SetWorkingFolder(textured.dir.Path());
  return textured;
}

// CPU seconds of this process (all threads) or of its finished children.
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double OurSave(int content = 0) {
  Scene& scene = TheScene(content);
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

double FfmpegSave(int content = 0) {
  Scene& scene = TheScene(content);
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
  int content = int(state.range(0));
  TheScene(content);
  double ours = 0, theirs = 0, ours_cpu = 0, theirs_cpu = 0;
  for (auto _ : state) {
    double cpu = CpuSeconds(RUSAGE_SELF);
    ours += OurSave(content);
    ours_cpu += CpuSeconds(RUSAGE_SELF) - cpu;
    cpu = CpuSeconds(RUSAGE_CHILDREN);
    theirs += FfmpegSave(content);
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
  state.counters["ours_kB"] = double(fs::file_size(TheScene(content).dir.Path() / "ours.avi", ec)) / 1024;
  state.counters["ffmpeg_kB"] = double(fs::file_size(TheScene(content).dir.Path() / "ffmpeg.avi", ec)) / 1024;
}
BENCHMARK(BM_Ratio_Save_vs_Ffmpeg)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
