// Throughput of the loopback bus and of the recorder's conversion and save.

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>

#include "platform/audio/loopback_bus.h"
#include "platform/audio/wave_file.h"
#include "platform/mci/mci.h"
#include "recording/audio_probe.h"

namespace {

using namespace quarvel;

// Writes one second from two sources and reads it back through a tap.
void BM_BusWriteAndMix(benchmark::State& state) {
  auto clock = std::make_shared<audio::VirtualClock>();
  audio::LoopbackBus bus(clock);
  const auto tone = testing::StereoTone(1000, 1000);
  std::vector<std::int16_t> out;
  std::int64_t t = 0;
  for (auto _ : state) {
    auto tap = bus.OpenTap(audio::LoopbackBus::MsToFrame(t));
    bus.WriteAtMs(audio::BusSource::kWaveOut, t, tone);
    bus.WriteAtMs(audio::BusSource::kLineIn, t, tone);
    t += 1000;
    clock->Set(t);
    out.clear();
    tap->ReadUntil(audio::LoopbackBus::MsToFrame(t), audio::BusMix::kRecordStereoMix, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * audio::kBusRate);  // frames
}
BENCHMARK(BM_BusWriteAndMix)->Unit(benchmark::kMillisecond);

// Records 10 s of virtual time and saves it: PCM stereo, or IMA ADPCM mono
// at 44100 Hz (the slowest of the three ADPCM entries).
void BM_RecordAndSave(benchmark::State& state) {
  const bool adpcm = state.range(0) != 0;
  const auto folder = testing::MakeTempFolder("quarvel-bench");
  const auto element = folder / "rec.wav";
  const auto format = adpcm ? audio::WaveFormat::ImaAdpcm(1, 44100, 1024) : audio::WaveFormat::Pcm(2, 44100, 16);
  auto clock = std::make_shared<audio::VirtualClock>();
  audio::LoopbackBus bus(clock);
  mci::Mci mci(bus);
  const auto tone = testing::StereoTone(1000, 10000);
  for (auto _ : state) {
    state.PauseTiming();
    const auto header = audio::WaveHeader(format, 0, adpcm ? std::optional<std::uint32_t>(0) : std::nullopt);
    {
      std::FILE* f = std::fopen(element.c_str(), "wb");
      std::fwrite(header.data(), 1, header.size(), f);
      std::fclose(f);
    }
    clock->Set(0);
    bus.Write(audio::BusSource::kWaveOut, 0, tone);
    state.ResumeTiming();
    mci::DeviceId id = 0;
    mci.Open(element, id);
    mci.Record(id);
    clock->Set(10000);
    mci.Stop(id);
    if (mci.Save(id, element) != mci::kOk) state.SkipWithError("save failed");
    mci.Close(id);
  }
  state.SetItemsProcessed(state.iterations() * 10 * audio::kBusRate);  // source frames
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_RecordAndSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
