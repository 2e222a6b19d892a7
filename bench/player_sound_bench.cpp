// Decoding and mixing costs of the player's sound: they run on the player's
// thread between frames, so they must stay far below real time.

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "platform/audio/loopback_bus.h"
#include "player/sound/decoders.h"
#include "player/sound/sound_output.h"

namespace {

using namespace quarvel;
using namespace quarvel::player::sound;

std::vector<std::uint8_t> Noise(std::size_t n) {
  std::mt19937 rng(1);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

// One second of 4-bit stereo ADPCM at 44100 Hz.
void BM_AdpcmDecode(benchmark::State& state) {
  auto data = Noise(44100 * 2 * 4 / 8 + 64);
  data[0] = 0x80;
  for (auto _ : state) benchmark::DoNotOptimize(DecodeAdpcm(data, 2));
  state.SetItemsProcessed(state.iterations() * 44100);
}
BENCHMARK(BM_AdpcmDecode);

// One second of 11025 Hz mono to the bus format.
void BM_Resample11kMono(benchmark::State& state) {
  std::vector<std::int16_t> in(11025);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::int16_t>(8000 * std::sin(static_cast<double>(i) * 0.25));
  for (auto _ : state) {
    Resampler r(11025, 1);
    std::vector<std::int16_t> out;
    r.Convert(in, out);
    r.Flush(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 11025);
}
BENCHMARK(BM_Resample11kMono);

// Eight looping event sounds with envelopes written into the bus for one
// second of movie time, pumped every 40 ms.
void BM_EightVoicesOneSecond(benchmark::State& state) {
  std::vector<std::uint8_t> def = {1, 0, (3 << 4) | (3 << 2) | 2 | 1, 0x44, 0xAC, 0, 0};
  const auto pcm = Noise(44100 * 4);
  def.insert(def.end(), pcm.begin(), pcm.end());
  const std::uint8_t info[] = {0x0C, 0xFF, 0x00, 2, 0, 0, 0, 0, 0, 0x80, 0, 0x80, 0x44, 0xAC, 0, 0, 0, 0, 0, 0};
  for (auto _ : state) {
    auto clock = std::make_shared<audio::VirtualClock>(0);
    audio::LoopbackBus bus(clock);
    SoundOutput out(bus);
    out.OnDefineSound(1, def);
    for (int v = 0; v < 8; ++v) out.OnStartSound(1, {}, info, v * 10);
    for (std::int64_t t = 0; t <= 1000; t += 40) {
      clock->Set(t);
      out.Pump(t);
    }
  }
  state.SetItemsProcessed(state.iterations() * 8 * 44100);
}
BENCHMARK(BM_EightVoicesOneSecond);

}  // namespace
