// Frame store costs on a 550 x 400, 32-bit frame, beside a bare zlib level-1
// compress2 of the same BMP bytes (the goal: SaveFrameFile <= 1.3 x that).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>

#include "capture/crop_zoom.h"
#include "capture/frame_store.h"
#include "capture/frame_writer.h"
#include "platform/paths/working_folder.h"

namespace {
namespace fs = std::filesystem;
using quarvel::gdi::Bitmap;

// A frame like a movie's: flat areas, a gradient and some edges.
Bitmap MovieLikeFrame(int shift) {
  Bitmap b(550, 400);
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 550; ++x) {
      std::uint8_t r = std::uint8_t(((x + shift) / 40) % 2 ? 230 : 40);
      std::uint8_t g = std::uint8_t(y * 255 / 400);
      std::uint8_t bl = std::uint8_t((x - 200) * (x - 200) + (y - 200) * (y - 200) < 90 * 90 ? 255 : 80);
      b.SetPixel(x, y, {r, g, bl});
    }
  return b;
}

struct Folder {
  Folder() {
    dir = fs::temp_directory_path() / ("qbench" + std::to_string(::getpid()));
    fs::create_directories(dir / "temp");
    quarvel::paths::SetWorkingFolder(dir);
  }
  ~Folder() { fs::remove_all(dir); }
  fs::path dir;
};

void BM_Compress2Level1(benchmark::State& state) {
  auto bmp = quarvel::gdi::SaveBmp(MovieLikeFrame(0));
  std::vector<std::uint8_t> out(compressBound(uLong(bmp.size())));
  for (auto _ : state) {
    uLongf len = uLongf(out.size());
    compress2(out.data(), &len, bmp.data(), uLong(bmp.size()), 1);
    benchmark::DoNotOptimize(len);
  }
}
BENCHMARK(BM_Compress2Level1)->Unit(benchmark::kMillisecond);

void BM_SaveFrameFile(benchmark::State& state) {
  Folder folder;
  Bitmap frame = MovieLikeFrame(0);
  for (auto _ : state) quarvel::capture::SaveFrameFile(frame, 1);
}
BENCHMARK(BM_SaveFrameFile)->Unit(benchmark::kMillisecond);

void BM_FramePackerReused(benchmark::State& state) {
  Bitmap frame = MovieLikeFrame(0);
  quarvel::capture::FramePacker packer;
  std::vector<std::uint8_t> buffer;
  for (auto _ : state) benchmark::DoNotOptimize(packer.Pack(frame, "1.bmp", buffer));
}
BENCHMARK(BM_FramePackerReused)->Unit(benchmark::kMillisecond);

// A run of changing frames saved one by one (threads = 0) or through the
// background writer; wall time, as the point of the writer is overlap.
void BM_SaveFrameRun(benchmark::State& state) {
  Folder folder;
  std::vector<Bitmap> frames;
  for (int i = 0; i < 8; ++i) frames.push_back(MovieLikeFrame(i * 7));
  const int threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (threads == 0) {
      for (int n = 1; n <= 32; ++n) quarvel::capture::SaveFrameFile(frames[std::size_t(n % 8)], n);
    } else {
      quarvel::capture::FrameWriter writer(threads);
      for (int n = 1; n <= 32; ++n) writer.Add(frames[std::size_t(n % 8)], n);
      writer.Finish();
    }
  }
  state.counters["frames/s"] = benchmark::Counter(32.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SaveFrameRun)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadFrameFile(benchmark::State& state) {
  Folder folder;
  quarvel::capture::SaveFrameFile(MovieLikeFrame(0), 1);
  for (auto _ : state) {
    Bitmap b = quarvel::capture::LoadFramePicture(quarvel::paths::FrameFilePath(1));
    benchmark::DoNotOptimize(b.Bits().data());
  }
}
BENCHMARK(BM_LoadFrameFile)->Unit(benchmark::kMillisecond);

void BM_FramesEqualIdentical(benchmark::State& state) {
  Bitmap a = MovieLikeFrame(0), b = a;
  for (auto _ : state) benchmark::DoNotOptimize(quarvel::capture::FramesEqual(a, b));
}
BENCHMARK(BM_FramesEqualIdentical)->Unit(benchmark::kMillisecond);

// The player's pictures: 32-bit, where a fourth byte may differ between
// pictures of the same colours.
void BM_FramesEqualIdenticalBut4thBytes(benchmark::State& state) {
  Bitmap a = MovieLikeFrame(0), b = a;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.ScanLine(y)[4 * x + 3] = 0xff;
  for (auto _ : state) benchmark::DoNotOptimize(quarvel::capture::FramesEqual(a, b));
}
BENCHMARK(BM_FramesEqualIdenticalBut4thBytes)->Unit(benchmark::kMillisecond);

void BM_ResizePictureToThumbnail(benchmark::State& state) {
  Bitmap frame = MovieLikeFrame(0);
  for (auto _ : state) {
    Bitmap t = frame;
    quarvel::capture::ResizePicture(t, 60, 45);
    benchmark::DoNotOptimize(t.Bits().data());
  }
}
BENCHMARK(BM_ResizePictureToThumbnail)->Unit(benchmark::kMillisecond);

void BM_ResizePictureHalf(benchmark::State& state) {
  Bitmap frame = MovieLikeFrame(0);
  for (auto _ : state) {
    Bitmap t = frame;
    quarvel::capture::ResizePicture(t, 275, 200);
    benchmark::DoNotOptimize(t.Bits().data());
  }
}
BENCHMARK(BM_ResizePictureHalf)->Unit(benchmark::kMillisecond);

}  // namespace
