// Decoding cost per picture of 320 x 240 video, to BGRA, for each codec the
// ffmpeg program can encode here. Streams are made with ffmpeg at start-up.

#include <benchmark/benchmark.h>

#include "player/video/embedded_video.h"
#include "player/video/flv_reader.h"
#include "player/video/flv_video_decoder.h"
#include "player/video/test_streams.h"
#include "player/swf/movie.h"

namespace {

using namespace quarvel::player::video;
namespace vt = quarvel::player::video::testing;

constexpr int kSeconds = 3;  // 30 pictures, key frames every 5

std::vector<std::uint8_t> Stream(const std::string& name, const std::string& args) {
  if (!vt::HaveFfmpeg()) return {};
  const auto path = vt::MakeStream(name, args, 320, 240, kSeconds);
  return path.empty() ? std::vector<std::uint8_t>{} : vt::ReadFile(path);
}

void DecodeFlv(benchmark::State& state, const std::string& name, const std::string& args) {
  const auto bytes = Stream(name, args);
  if (bytes.empty()) {
    state.SkipWithError("ffmpeg could not make the stream");
    return;
  }
  const FlvFile file = ReadFlv(bytes);
  std::int64_t pictures = 0;
  for (auto _ : state) {
    FlvVideoDecoder dec(file);
    while (dec.Next()) {
      benchmark::DoNotOptimize(dec.Current().pixels.data());
      ++pictures;
    }
  }
  state.SetItemsProcessed(pictures);
}

void BM_FlvH263(benchmark::State& s) { DecodeFlv(s, "bench-flv1.flv", "-c:v flv1"); }
void BM_FlvScreenVideo(benchmark::State& s) { DecodeFlv(s, "bench-flashsv.flv", "-c:v flashsv"); }
void BM_FlvScreenVideo2(benchmark::State& s) { DecodeFlv(s, "bench-flashsv2.flv", "-c:v flashsv2"); }
void BM_FlvH264(benchmark::State& s) { DecodeFlv(s, "bench-h264.flv", "-c:v libx264 -pix_fmt yuv420p"); }
BENCHMARK(BM_FlvH263)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlvScreenVideo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlvScreenVideo2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlvH264)->Unit(benchmark::kMillisecond);

// Embedded H.263 as the SWF muxer writes it: every frame in order, then
// a jump to each frame in turn from the start (the worst case a seek bar makes).
void BM_EmbeddedH263(benchmark::State& state) {
  const auto bytes = Stream("bench-h263.swf", "-c:v flv1 -f swf");
  if (bytes.empty()) {
    state.SkipWithError("ffmpeg could not make the movie");
    return;
  }
  const quarvel::swf::Movie movie = quarvel::swf::OpenMovie(bytes);
  const auto streams = CollectVideoStreams(movie.TagsStream());
  const VideoStreamDef& stream = streams.begin()->second;
  std::int64_t pictures = 0;
  const bool jumps = state.range(0) != 0;
  for (auto _ : state) {
    EmbeddedVideo video(stream);
    for (const auto& [number, data] : stream.frames) {
      if (jumps) video.Seek(0);
      video.Seek(number);
      benchmark::DoNotOptimize(video.Current().pixels.data());
      ++pictures;
    }
  }
  state.SetItemsProcessed(pictures);
}
BENCHMARK(BM_EmbeddedH263)->Arg(0)->Arg(1)->ArgNames({"jumps"})->Unit(benchmark::kMillisecond);

// VP6 cannot be encoded here: the sample movies kept beside the video
// tests, each frame decoded in order (their own sizes, not 320 x 240).
void BM_EmbeddedVp6Sample(benchmark::State& state, const char* dir) {
  const auto path = std::string(QUARVEL_SOURCE_DIR) + "/tests/video/samples/" + dir + "/test.swf";
  const auto bytes = vt::ReadFile(path);
  if (bytes.empty()) {
    state.SkipWithError("sample missing");
    return;
  }
  const quarvel::swf::Movie movie = quarvel::swf::OpenMovie(bytes);
  const auto streams = CollectVideoStreams(movie.TagsStream());
  if (streams.empty()) {
    state.SkipWithError("no stream in the sample");
    return;
  }
  const VideoStreamDef& stream = streams.begin()->second;
  std::int64_t pictures = 0;
  for (auto _ : state) {
    EmbeddedVideo video(stream);
    for (const auto& [number, data] : stream.frames) {
      video.Seek(number);
      benchmark::DoNotOptimize(video.Current().pixels.data());
      ++pictures;
    }
  }
  state.SetItemsProcessed(pictures);
  state.SetLabel(std::to_string(stream.width) + "x" + std::to_string(stream.height));
}
BENCHMARK_CAPTURE(BM_EmbeddedVp6Sample, vp6, "colorconversion/vp6")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EmbeddedVp6Sample, vp6a, "colorconversion/vp6a")->Unit(benchmark::kMillisecond);

}  // namespace
