// GIF writer speed: LZW throughput, colour reduction, and the whole animation
// build of 100 frames of 550 x 400 next to ffmpeg's palettegen/paletteuse on
// the same frames.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "capture/frame_store.h"
#include "gif/animation_builder.h"
#include "gif/color_reduction.h"
#include "gif/fast_lzw.h"
#include "gif/gif_image.h"
#include "gif/gif_optimizer.h"
#include "gif/octree_quantizer.h"
#include "platform/paths/working_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace quarvel;

constexpr int kWidth = 550, kHeight = 400, kFrames = 100;

// A gradient background with a few shapes that move from frame to frame.
gdi::Bitmap SyntheticFrame(int n) {
  gdi::Bitmap b(kWidth, kHeight, gdi::PixelFormat::pfDevice);
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < kWidth; ++x) {
      row[4 * x] = std::uint8_t(120 + y / 4);
      row[4 * x + 1] = std::uint8_t(x * 255 / kWidth);
      row[4 * x + 2] = std::uint8_t(60 + (x + y) / 8);
    }
  }
  const int cx = 40 + (n * 5) % (kWidth - 80), cy = 200 + int(120 * std::sin(n * 0.15));
  for (int y = -35; y <= 35; ++y)
    for (int x = -35; x <= 35; ++x)
      if (x * x + y * y <= 35 * 35 && cy + y >= 0 && cy + y < kHeight)
        b.SetPixel(cx + x, cy + y, gdi::Color{std::uint8_t(230 - (x + y + 70)), 40, std::uint8_t(40 + (x + 35) * 2)});
  gdi::FillRect(b, gdi::Rect{(n * 7) % 450, 20, (n * 7) % 450 + 100, 60}, gdi::Color{250, 250, 250});
  return b;
}

fs::path Scratch() {
  static fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("quarvel-gif-bench-" + std::to_string(::getpid()));
    fs::create_directories(d / "temp");
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(fs::temp_directory_path() / ("quarvel-gif-bench-" + std::to_string(::getpid())), ec);
    });
    return d;
  }();
  return dir;
}

// The frame store of 100 frames, and the same frames as BMP files for ffmpeg.
void PrepareFrames() {
  static bool done = false;
  if (done) return;
  paths::SetWorkingFolder(Scratch());
  fs::create_directories(Scratch() / "bmp");
  for (int n = 1; n <= kFrames; ++n) {
    gdi::Bitmap frame = SyntheticFrame(n);
    capture::SaveFrameFile(frame, n);
    std::vector<std::uint8_t> bmp = gdi::SaveBmp(frame.ConvertTo(gdi::PixelFormat::pf24bit));
    std::ofstream(Scratch() / "bmp" / ("frames" + std::to_string(n) + ".bmp"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
  }
  done = true;
}

// The frame's palette indices after octree reduction, top row first.
std::vector<std::uint8_t> ReducedIndices(const gdi::Bitmap& frame) {
  gdi::Bitmap reduced = gif::ReduceToPalette(frame, gif::rdOctree, gif::dtNearest);
  std::vector<std::uint8_t> pixels(std::size_t(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) std::copy_n(reduced.ScanLine(y), kWidth, pixels.begin() + std::ptrdiff_t(y) * kWidth);
  return pixels;
}

void BM_LzwEncode(benchmark::State& state) {
  const std::vector<std::uint8_t> pixels = ReducedIndices(SyntheticFrame(3));
  gif::TStream out;
  for (auto _ : state) {
    out.clear();
    gif::TLZWEncoder encoder;
    encoder.EncodeImageData(out, 8, 256, pixels.data(), false, kHeight, kWidth);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(pixels.size()));
  state.counters["ratio"] = double(out.size()) / double(pixels.size());
}
BENCHMARK(BM_LzwEncode)->Unit(benchmark::kMillisecond);

void BM_LzwEncodeNoise(benchmark::State& state) {
  std::vector<std::uint8_t> pixels(std::size_t(kWidth) * kHeight);
  std::uint32_t seed = 1;
  for (auto& p : pixels) p = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
  gif::TStream out;
  for (auto _ : state) {
    out.clear();
    gif::TLZWEncoder encoder;
    encoder.EncodeImageData(out, 8, 256, pixels.data(), false, kHeight, kWidth);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(pixels.size()));
}
BENCHMARK(BM_LzwEncodeNoise)->Unit(benchmark::kMillisecond);

// Photo-like frames (shading under fixed grain) whose shading drifts: every
// frame changes over the whole picture, but many pixels keep their colour
// once reduced, as in movies of photographs.
gdi::Bitmap DriftingPhoto(int n) {
  gdi::Bitmap b(kWidth, kHeight, gdi::PixelFormat::pfDevice);
  std::uint32_t seed = 11;
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int grain = int(seed >> 28) - 8;
      const int base = int(90 + 60 * std::sin(x * 0.013 + n * 0.04) * std::cos(y * 0.011 - n * 0.03));
      row[4 * x] = std::uint8_t(std::clamp(base + grain, 0, 255));
      row[4 * x + 1] = std::uint8_t(std::clamp(base + 20 + grain, 0, 255));
      row[4 * x + 2] = std::uint8_t(std::clamp(base / 2 + 40 + grain, 0, 255));
    }
  }
  return b;
}

// The optimiser's encoder over and over on one frame's indices.
void TimeFastLzw(benchmark::State& state, const std::vector<std::uint8_t>& pixels) {
  gif::TFastLZWEncoder encoder;
  gif::TStream out;
  for (auto _ : state) {
    out.clear();
    encoder.Encode(out, 8, pixels.data(), pixels.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(pixels.size()));
  state.counters["ratio"] = double(out.size()) / double(pixels.size());
}

// A photo-like frame: most pixels end a string, the optimiser's slowest case.
void BM_FastLzwPhoto(benchmark::State& state) { TimeFastLzw(state, ReducedIndices(DriftingPhoto(0))); }
BENCHMARK(BM_FastLzwPhoto)->Unit(benchmark::kMillisecond);

// A flat frame (gradient background, a few shapes): long runs of one index.
void BM_FastLzwFlat(benchmark::State& state) { TimeFastLzw(state, ReducedIndices(SyntheticFrame(3))); }
BENCHMARK(BM_FastLzwFlat)->Unit(benchmark::kMillisecond);

// The frames of a real GIF, the file named by QUARVEL_BENCH_GIF (one the
// writer made, e.g. by `quarvel-cli convert`): each frame's indices, read by
// giflib, encoded again, and the code stream checked against the file's.
struct FileFrame {
  std::vector<std::uint8_t> indices;
  int code_width = 8;
  std::vector<std::uint8_t> image_data;  // minimum code size, sub-blocks, terminator
};

std::vector<FileFrame> ReadFileFrames(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  std::vector<FileFrame> frames;
  if (file.size() < 13) return frames;
  // The blocks, for each frame's code stream and table width.
  std::size_t p = 13;
  int global_bits = 0;
  if (file[10] & 0x80) {
    global_bits = (file[10] & 7) + 1;
    p += std::size_t(3) << global_bits;
  }
  const auto skip_sub_blocks = [&] {
    while (p < file.size() && file[p] != 0) p += file[p] + 1u;
    ++p;
  };
  while (p < file.size() && file[p] != 0x3B) {
    const std::uint8_t block = file[p++];
    if (block == 0x21) {
      ++p;
      skip_sub_blocks();
    } else if (block == 0x2C && p + 9 <= file.size()) {
      const std::uint8_t packed = file[p + 8];
      p += 9;
      FileFrame f;
      f.code_width = global_bits > 0 ? global_bits : 8;
      if (packed & 0x80) {
        f.code_width = (packed & 7) + 1;
        p += std::size_t(3) << f.code_width;
      }
      const std::size_t start = p++;
      skip_sub_blocks();
      if (p > file.size()) return {};
      f.image_data.assign(file.begin() + std::ptrdiff_t(start), file.begin() + std::ptrdiff_t(p));
      frames.push_back(std::move(f));
    } else {
      return {};
    }
  }
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path, &error);
  if (gif == nullptr) return {};
  if (DGifSlurp(gif) == GIF_OK && std::size_t(gif->ImageCount) == frames.size()) {
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage& image = gif->SavedImages[i];
      frames[std::size_t(i)].indices.assign(
          image.RasterBits, image.RasterBits + std::size_t(image.ImageDesc.Width) * std::size_t(image.ImageDesc.Height));
    }
  } else {
    frames.clear();
  }
  DGifCloseFile(gif, &error);
  return frames;
}

void BM_FastLzwFileFrames(benchmark::State& state) {
  const char* path = std::getenv("QUARVEL_BENCH_GIF");
  if (path == nullptr) {
    state.SkipWithError("QUARVEL_BENCH_GIF names no GIF file");
    return;
  }
  const std::vector<FileFrame> frames = ReadFileFrames(path);
  if (frames.empty()) {
    state.SkipWithError("not a GIF file the benchmark reads");
    return;
  }
  gif::TFastLZWEncoder encoder;
  std::vector<gif::TStream> out(frames.size());
  std::size_t pixels = 0;
  for (auto _ : state) {
    pixels = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      out[i].clear();
      encoder.Encode(out[i], frames[i].code_width, frames[i].indices.data(), frames[i].indices.size());
      pixels += frames[i].indices.size();
    }
  }
  for (std::size_t i = 0; i < frames.size(); ++i)
    if (out[i] != frames[i].image_data) {
      state.SkipWithError(("frame " + std::to_string(i) + " is not encoded as in the file").c_str());
      return;
    }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(pixels));
  state.SetLabel(std::to_string(frames.size()) + " frames of " + path);
}
BENCHMARK(BM_FastLzwFileFrames)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_ReduceToPalette(benchmark::State& state) {
  const gif::TDitherMethod dither = state.range(0) ? gif::dtFloydSteinberg : gif::dtNearest;
  const gif::TColorReduction method = state.range(1) ? gif::rdGrayScale : gif::rdOctree;
  gdi::Bitmap frame = SyntheticFrame(10);
  for (auto _ : state) benchmark::DoNotOptimize(gif::ReduceToPalette(frame, method, dither));
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kWidth * kHeight);
  state.SetLabel(std::string(method == gif::rdOctree ? "octree" : "grey") +
                 (dither == gif::dtNearest ? " + nearest" : " + floyd-steinberg"));
}
BENCHMARK(BM_ReduceToPalette)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->Unit(benchmark::kMillisecond);

// A photo-like frame, the slow case of both halves of the reduction: the
// octree palette alone (arg 0) and the palette with the nearest-colour
// mapping (arg 1).
void BM_ReducePhoto(benchmark::State& state) {
  const gdi::Bitmap frame = DriftingPhoto(5);
  for (auto _ : state) {
    if (state.range(0) == 0)
      benchmark::DoNotOptimize(gif::BuildOctreePalette(frame, 256, 8, false));
    else
      benchmark::DoNotOptimize(gif::ReduceToPalette(frame, gif::rdOctree, gif::dtNearest));
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kWidth * kHeight);
  state.SetLabel(state.range(0) == 0 ? "octree palette" : "octree + nearest");
}
BENCHMARK(BM_ReducePhoto)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Build and write: 100 frames, "256Colors", "Nearest", "Smaller Size".
void BM_BuildAnimation100(benchmark::State& state) {
  PrepareFrames();
  paths::SetWorkingFolder(Scratch());
  gif::BuildOptions options;
  options.frame_count = kFrames;
  std::size_t size = 0;
  int optimized = 0;
  for (auto _ : state) {
    gif::BuildResult result = gif::BuildAnimation(options);
    result.image->SaveToFile(Scratch() / "ours.gif");
    size = fs::file_size(Scratch() / "ours.gif");
    optimized = result.optimized_frames;
  }
  state.counters["bytes"] = double(size);
  state.counters["optimized"] = optimized;
}
BENCHMARK(BM_BuildAnimation100)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The lossless rewrite of a built animation, the build not timed: 60
// drifting photo frames, or with QUARVEL_BENCH_FRAMES the frame store of a
// working folder (a capture's --work-dir) to measure a real movie.
void BM_OptimizeAnimation(benchmark::State& state) {
  gif::BuildOptions options;
  options.latency_ms = 40;
  if (const char* dir = std::getenv("QUARVEL_BENCH_FRAMES")) {
    paths::SetWorkingFolder(dir);
    int frames = 0;
    while (fs::exists(fs::path(dir) / "temp" / (std::to_string(frames + 1) + ".bmp"))) ++frames;
    options.frame_count = frames;
    state.SetLabel(dir);
  } else {
    const fs::path folder = Scratch() / "photo";
    fs::create_directories(folder / "temp");
    paths::SetWorkingFolder(folder);
    constexpr int kPhotoFrames = 60;
    if (!fs::exists(folder / "temp" / (std::to_string(kPhotoFrames) + ".bmp")))
      for (int n = 1; n <= kPhotoFrames; ++n) capture::SaveFrameFile(DriftingPhoto(n), n);
    options.frame_count = kPhotoFrames;
  }
  const gif::BuildResult built = gif::BuildAnimation(options);
  gif::OptimizedFile optimized;
  for (auto _ : state) optimized = gif::OptimizeAnimation(*built.image);
  state.counters["bytes"] = double(optimized.Size());
  state.counters["rewritten"] = optimized.rewritten ? 1 : 0;
}
BENCHMARK(BM_OptimizeAnimation)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The same frames through ffmpeg, as a subprocess, timed the same way. The
// palette has to reach paletteuse as its second input, hence the split.
void BM_FfmpegPaletteGenUse100(benchmark::State& state) {
  PrepareFrames();
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
    state.SkipWithError("ffmpeg is not installed");
    return;
  }
  const fs::path dir = Scratch() / "bmp";
  const std::string command = "cd '" + dir.string() +
                              "' && ffmpeg -y -loglevel error -i frames%d.bmp "
                              "-filter_complex \"split[a][b];[a]palettegen[p];[b][p]paletteuse\" "
                              "ffmpeg.gif";
  std::size_t size = 0;
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
    size = fs::file_size(dir / "ffmpeg.gif");
  }
  state.counters["bytes"] = double(size);
}
BENCHMARK(BM_FfmpegPaletteGenUse100)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
