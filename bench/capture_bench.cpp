// Frame store costs on a 550 x 400, 32-bit frame, beside a bare zlib level-1
// compress2 of the same BMP bytes (the goal: SaveFrameFile <= 1.3 x that).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>

#include "capture/crop_zoom.h"
#include "capture/frame_store.h"
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
