// Sound extraction of a large movie of stream blocks (goal: disk speed,
// at least 500 MB/s from a warm cache) and the reader's own pace.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "player/swf/movie.h"
#include "sound/sound_extractor.h"
#include "support/swf_builder.h"

namespace {
namespace fs = std::filesystem;
using quarvel::testing::SoundFormat;
using quarvel::testing::SwfBuilder;

constexpr std::size_t kMovieBytes = std::size_t{50} << 20;

// One MP3 stream: 4 KiB blocks with a frame each, as long as asked.
SwfBuilder StreamMovie(std::size_t bytes) {
  const SoundFormat mp3{2, 3, true, true};
  SwfBuilder b(8, {0, 11000, 0, 8000}, 24);
  b.SoundStreamHead(mp3, mp3, 1152, 0);
  std::vector<std::uint8_t> frame(4096 - 4, 0x55);
  for (std::size_t done = 0; done < bytes; done += frame.size() + 10) {
    b.SoundStreamBlockMp3(1152, 0, frame).ShowFrame();
  }
  return b;
}

struct Folder {
  Folder() {
    char tmpl[] = "/tmp/quarvel-bench-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    path = tmpl;
  }
  ~Folder() { fs::remove_all(path); }
  fs::path path;
};

void BM_ExtractStreamSound(benchmark::State& state) {
  Folder dir;
  const auto compression = static_cast<quarvel::swf::Compression>(state.range(0));
  const fs::path movie = dir.path / "big.swf";
  const SwfBuilder b = StreamMovie(kMovieBytes);
  b.WriteFile(movie, compression);
  quarvel::sound::ExtractSounds(movie);  // warm the cache
  // Throughput counts the movie's uncompressed size.
  const auto size = b.Build().size();
  for (auto _ : state) {
    auto r = quarvel::sound::ExtractSounds(movie);
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_ExtractStreamSound)
    ->Arg(static_cast<int>(quarvel::swf::Compression::kNone))
    ->Arg(static_cast<int>(quarvel::swf::Compression::kZlib))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_OpenAndWalkTags(benchmark::State& state) {
  const auto compression = static_cast<quarvel::swf::Compression>(state.range(0));
  const SwfBuilder b = StreamMovie(kMovieBytes);
  const auto file = b.Build(compression);
  const auto size = b.Build().size();
  std::size_t tags = 0;
  for (auto _ : state) {
    const auto m = quarvel::swf::OpenMovie(file);
    auto s = m.TagsStream();
    while (auto t = s.Next()) ++tags;
  }
  benchmark::DoNotOptimize(tags);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_OpenAndWalkTags)
    ->Arg(static_cast<int>(quarvel::swf::Compression::kNone))
    ->Arg(static_cast<int>(quarvel::swf::Compression::kZlib))
    ->Unit(benchmark::kMillisecond);

void BM_ReadMatrices(benchmark::State& state) {
  quarvel::testing::SwfWriter w;
  for (int i = 0; i < 10000; ++i) w.Matrix({1.5 + i, -0.25, 0.125, 3.0, i * 7, -i * 3});
  const auto bytes = w.Take();
  for (auto _ : state) {
    quarvel::swf::Reader r(bytes);
    for (int i = 0; i < 10000; ++i) benchmark::DoNotOptimize(quarvel::swf::ReadMatrix(r));
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_ReadMatrices);

}  // namespace
