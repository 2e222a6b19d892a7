// The real player driving the sound output: builder-made movies and a
// corpus movie, on a virtual clock, into the loopback bus and the recorder.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "platform/audio/loopback_bus.h"
#include "platform/audio/wave_file.h"
#include "platform/mci/mci.h"
#include "platform/paths/working_folder.h"
#include "player/flash_player.h"
#include "player/sound/sound_output.h"
#include "recording/audio_probe.h"
#include "sound/recording_file.h"
#include "sound/wave_recorder.h"
#include "support/swf_builder.h"

namespace quarvel::player::sound {
namespace {

namespace fs = std::filesystem;
using audio::LoopbackBus;
using quarvel::testing::SwfBuilder;

std::vector<std::uint8_t> Sine16Mono(double hz, std::size_t frames, int amplitude = 10000) {
  std::vector<std::uint8_t> b;
  for (std::size_t i = 0; i < frames; ++i) {
    const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / 44100.0)));
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  return b;
}

const quarvel::testing::SoundFormat kPcm44Mono{3, 3, true, false};

class PlayerSound : public ::testing::Test {
 protected:
  std::shared_ptr<audio::VirtualClock> clock = std::make_shared<audio::VirtualClock>(0);
  LoopbackBus bus{clock};
  FlashPlayer player;
  SoundOutput output{bus};

  void SetUp() override { player.SetSoundListener(&output); }
  void TearDown() override { player.SetSoundListener(nullptr); }

  void Load(SwfBuilder& b) { ASSERT_TRUE(player.LoadMovieBytes(b.Build())) << player.LoadError(); }
  // The host's loop: clock, player, sound, in steps.
  void RunTo(std::int64_t ms, std::int64_t step = 50) {
    for (std::int64_t t = clock->NowMs(); t <= ms; t += step) {
      clock->Set(t);
      player.AdvanceTo(t);
      output.Pump(t);
    }
  }
  std::vector<std::int16_t> Bus(std::int64_t fromMs, std::int64_t toMs) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(LoopbackBus::MsToFrame(toMs) - LoopbackBus::MsToFrame(fromMs)) * 2);
    bus.Mix(audio::BusMix::kPlayback, LoopbackBus::MsToFrame(fromMs), out);
    return out;
  }
  // Time in ms of the first and after the last sounding sample in [0, toMs).
  std::pair<double, double> Sounding(std::int64_t toMs) {
    const auto s = Bus(0, toMs);
    double first = -1, last = -1;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] == 0) continue;
      if (first < 0) first = static_cast<double>(i / 2) / 44.1;
      last = static_cast<double>(i / 2 + 1) / 44.1;
    }
    return {first, last};
  }
};

TEST_F(PlayerSound, EventSoundAtFrameTenOfTenFpsSoundsAtOneSecond) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineSound(1, kPcm44Mono, 22050, Sine16Mono(440, 22050));
  for (int f = 0; f < 10; ++f) b.ShowFrame();
  b.StartSound(1).ShowFrame();
  for (int f = 0; f < 30; ++f) b.ShowFrame();
  b.End();
  Load(b);
  RunTo(2500);
  const auto [first, last] = Sounding(2500);
  EXPECT_NEAR(first, 1000, 100);
  EXPECT_NEAR(last - first, 500, 1);
  EXPECT_NEAR(quarvel::testing::ToneFrequency([&] {
                std::vector<std::int16_t> left;
                const auto s = Bus(1000, 1500);
                for (std::size_t i = 0; i < s.size(); i += 2) left.push_back(s[i]);
                return left;
              }(), 44100), 440, 3);
}

TEST_F(PlayerSound, LoopCountThreePlaysThreeTimes) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineSound(1, kPcm44Mono, 4410, Sine16Mono(441, 4410));
  b.StartSound(1, {.loops = 3}).ShowFrame();
  for (int f = 0; f < 20; ++f) b.ShowFrame();
  b.End();
  Load(b);
  RunTo(1000);
  const auto [first, last] = Sounding(1000);
  EXPECT_NEAR(first, 0, 1);
  EXPECT_NEAR(last, 300, 1);
}

TEST_F(PlayerSound, StopSilencesEventAndStreamSound) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineSound(1, kPcm44Mono, 44100 * 3, Sine16Mono(300, 44100 * 3));
  b.SoundStreamHead(kPcm44Mono, kPcm44Mono, 4410);
  b.StartSound(1);
  for (int f = 0; f < 40; ++f) b.SoundStreamBlock(Sine16Mono(500, 4410, 5000)).ShowFrame();
  b.End();
  Load(b);
  RunTo(1000);
  player.Stop();
  const int stoppedAt = player.CurrentFrame();
  RunTo(3000);
  EXPECT_EQ(player.CurrentFrame(), stoppedAt);
  const auto [first, last] = Sounding(4000);
  EXPECT_NEAR(first, 0, 1);
  EXPECT_NEAR(last, 1000, 1);
  EXPECT_EQ(output.PlayingVoices(), 0);
}

TEST_F(PlayerSound, StopActionEndsTheStreamButNotTheEventSound) {
  // The timeline stops itself at frame 5 (500 ms): its stream ends there,
  // the 2-second event sound started at frame 0 plays to its end.
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineSound(1, kPcm44Mono, 88200, Sine16Mono(300, 88200));
  b.SoundStreamHead(kPcm44Mono, kPcm44Mono, 4410);
  b.StartSound(1);
  for (int f = 0; f < 5; ++f) b.SoundStreamBlock(Sine16Mono(500, 4410, 5000)).ShowFrame();
  b.DoAction(quarvel::testing::Actions().Stop()).SoundStreamBlock(Sine16Mono(500, 4410, 5000)).ShowFrame();
  for (int f = 0; f < 20; ++f) b.SoundStreamBlock(Sine16Mono(500, 4410, 5000)).ShowFrame();
  b.End();
  Load(b);
  RunTo(3000);
  EXPECT_EQ(player.CurrentFrame(), 5);
  EXPECT_NEAR(Sounding(4000).second, 2000, 1);
  auto left = [&](std::int64_t from, std::int64_t to) {
    std::vector<std::int16_t> l;
    const auto s = Bus(from, to);
    for (std::size_t i = 0; i < s.size(); i += 2) l.push_back(s[i]);
    return l;
  };
  EXPECT_NEAR(quarvel::testing::ToneFrequency(left(1000, 1900), 44100), 300, 3);
}

TEST_F(PlayerSound, ButtonSoundPlaysWhenTheButtonIsPressed) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineSound(1, kPcm44Mono, 4410, Sine16Mono(440, 4410));
  quarvel::testing::ShapeBuilder square;
  square.Rectangle(0, 0, 2000, 2000, square.AddFill(quarvel::testing::FillStyle::Solid({0, 0, 255, 255})));
  b.DefineShape(2, square);
  b.DefineButton2(3, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 2}});
  b.DefineButtonSound(3, {0, 0, 1, 0});  // on press
  b.PlaceObject2({.depth = 1, .characterId = 3});
  for (int f = 0; f < 20; ++f) b.ShowFrame();
  b.End();
  player.SetSize(100, 100);
  Load(b);
  RunTo(700);
  player.MouseMove(50, 50);
  EXPECT_EQ(Sounding(2000).first, -1);
  player.MouseDown(50, 50);
  player.MouseUp(50, 50);
  RunTo(1500);
  const auto [first, last] = Sounding(2000);
  EXPECT_NEAR(first, 700, 1);
  EXPECT_NEAR(last, 800, 1);
}

TEST_F(PlayerSound, StreamFollowsGotoFrameAndTheLoop) {
  // Each frame's block is a tone of its own pitch, so what plays tells which
  // frame's block it came from.
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SoundStreamHead(kPcm44Mono, kPcm44Mono, 4410);
  for (int f = 0; f < 10; ++f) b.SoundStreamBlock(Sine16Mono(200 + 100 * f, 4410)).ShowFrame();
  b.End();
  Load(b);
  RunTo(300);
  player.GotoFrame(7);  // at 300 ms: frame 7 shows now, its block plays from here
  RunTo(1000);
  auto freq = [&](std::int64_t from) {
    std::vector<std::int16_t> left;
    const auto s = Bus(from + 10, from + 90);
    for (std::size_t i = 0; i < s.size(); i += 2) left.push_back(s[i]);
    return quarvel::testing::ToneFrequency(left, 44100);
  };
  EXPECT_NEAR(freq(0), 200, 15);
  EXPECT_NEAR(freq(200), 400, 15);
  EXPECT_NEAR(freq(300), 900, 15);
  EXPECT_NEAR(freq(400), 1000, 15);
  EXPECT_NEAR(freq(500), 1100, 15);
  EXPECT_NEAR(freq(600), 200, 15);  // looped to frame 0
}

TEST_F(PlayerSound, StreamInsideASprite) {
  quarvel::testing::Timeline sprite;
  sprite.SoundStreamHead(kPcm44Mono, kPcm44Mono, 4410);
  for (int f = 0; f < 5; ++f) sprite.SoundStreamBlock(Sine16Mono(441, 4410)).ShowFrame();
  sprite.End();
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineSprite(5, sprite).ShowFrame();
  b.PlaceObject2({.depth = 1, .characterId = 5}).ShowFrame();
  for (int f = 0; f < 20; ++f) b.ShowFrame();
  b.End();
  Load(b);
  RunTo(1500);
  const auto [first, last] = Sounding(1500);
  EXPECT_NEAR(first, 100, 1);
  // The sprite loops its five frames for as long as it is on stage.
  EXPECT_NEAR(last, 1500, 101);
  EXPECT_EQ(output.GetStats().streamBlocks.at(Codec::kPcmLittle).failed, 0);
}

TEST_F(PlayerSound, UnloadSilences) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DefineSound(1, kPcm44Mono, 44100 * 2, Sine16Mono(300, 44100 * 2));
  b.StartSound(1).ShowFrame().ShowFrame().End();
  Load(b);
  RunTo(500);
  player.Unload();
  RunTo(2500);
  EXPECT_NEAR(Sounding(3000).second, 500, 1);
}

// The capture's loop on a virtual clock with the recorder on a thread of its
// own: the player writes a frame's sound only after the clock has reached
// the frame's time, so a recorder that runs in between must not take the
// silence before it. A loaded machine is stood in for by sleeps between the
// clock's step and the player's frames, and after them.
class RecordingTiming : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = quarvel::testing::MakeTempFolder("quarvel-rtiming"); }
  void TearDown() override { fs::remove_all(dir_); }

  // 10 fps: a streamed tone on every frame, an event sound from frame 4 and,
  // at frame 19, a jump back to frame 8 (the stream is cut and restarts).
  static std::vector<std::uint8_t> Movie() {
    SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
    b.DefineSound(1, kPcm44Mono, 30000, Sine16Mono(300, 30000, 6000));
    b.SoundStreamHead(kPcm44Mono, kPcm44Mono, 4410);
    for (int f = 0; f < 25; ++f) {
      if (f == 4) b.StartSound(1);
      if (f == 19) b.DoAction(quarvel::testing::Actions().GotoFrame(8));
      b.SoundStreamBlock(Sine16Mono(500 + 20 * f, 4410, 5000)).ShowFrame();
    }
    b.End();
    return b.Build();
  }

  struct Run {
    std::vector<std::uint8_t> file;  // the saved recording
    std::vector<std::int16_t> bus;   // the bus's record mix over the same time, read after the run
  };

  Run Capture(const audio::WaveFormat& format, bool perturb) {
    const fs::path element = dir_ / (std::to_string(runs_++) + ".wav");
    const auto header = audio::WaveHeader(format, 0, format.format_tag == audio::kWaveFormatPcm
                                                         ? std::nullopt
                                                         : std::optional<std::uint32_t>(0));
    std::ofstream(element, std::ios::binary)
        .write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    Run run;
    auto clock = std::make_shared<audio::VirtualClock>(1000);
    LoopbackBus bus(clock);
    mci::Mci mci(bus);
    SoundOutput output(bus);
    FlashPlayer player;
    player.SetSoundListener(&output);
    player.AdvanceTo(clock->NowMs());
    EXPECT_TRUE(player.LoadMovieBytes(Movie())) << player.LoadError();
    mci::DeviceId id = 0;
    EXPECT_EQ(mci.Open(element, id), mci::kOk);
    auto oracle = bus.OpenTap(bus.NowFrame());
    EXPECT_EQ(mci.Record(id), mci::kOk);
    std::minstd_rand rng(7);
    const auto nap = [&](int most_ms) {
      if (perturb) std::this_thread::sleep_for(std::chrono::milliseconds(rng() % most_ms));
    };
    std::int64_t t = clock->NowMs();
    for (int tick = 0; tick < 16; ++tick) {
      t += 250;
      clock->Set(t);
      nap(40);  // the recorder polls every 20 ms: it runs here now and then
      player.AdvanceTo(t);
      output.Pump(t);
      nap(10);
    }
    player.Stop();
    EXPECT_EQ(mci.Save(id, element), mci::kOk);
    EXPECT_EQ(mci.Close(id), mci::kOk);
    EXPECT_EQ(mci.ErrorText(id), "");
    oracle->ReadUntil(bus.NowFrame(), audio::BusMix::kRecordStereoMix, run.bus);
    player.SetSoundListener(nullptr);
    std::ifstream in(element, std::ios::binary);
    run.file.assign(std::istreambuf_iterator<char>(in), {});
    return run;
  }

  fs::path dir_;
  int runs_ = 0;
};

TEST_F(RecordingTiming, PcmRecordingHoldsEveryFrameThePlayerWrote) {
  const auto format = audio::WaveFormat::Pcm(2, 44100, 16);
  for (const bool perturb : {false, true, true}) {
    SCOPED_TRACE(perturb ? "perturbed" : "undisturbed");
    const Run run = Capture(format, perturb);
    ASSERT_EQ(run.bus.size(), 16u * 11025u * 2u);
    // The bus holds the stream from the start, the event sound over it and
    // the jump back: a recording of silence would not do.
    EXPECT_GT(quarvel::testing::Rms(std::vector<std::int16_t>(run.bus.begin(), run.bus.begin() + 8820)), 1000);
    ASSERT_EQ(run.file.size(), 44u + run.bus.size() * 2u);
    std::vector<std::int16_t> recorded(run.bus.size());
    std::memcpy(recorded.data(), run.file.data() + 44, recorded.size() * 2);
    std::size_t first_wrong = 0;
    while (first_wrong < recorded.size() && recorded[first_wrong] == run.bus[first_wrong]) ++first_wrong;
    EXPECT_EQ(first_wrong, recorded.size()) << "the recording differs from the bus from "
                                            << first_wrong / 2 * 1000 / 44100 << " ms on";
  }
}

TEST_F(RecordingTiming, ResampledAdpcmRecordingIsTheSameEveryTime) {
  // Resampled and encoded in whatever pieces the recorder's thread takes.
  const auto format = audio::WaveFormat::ImaAdpcm(1, 22050, 512);
  const Run undisturbed = Capture(format, false);
  ASSERT_GT(undisturbed.file.size(), 44u + 4u * 22050u / 2u * 9u / 10u);
  for (int i = 0; i < 2; ++i) {
    const Run perturbed = Capture(format, true);
    EXPECT_EQ(perturbed.bus, undisturbed.bus);
    EXPECT_TRUE(perturbed.file == undisturbed.file) << "run " << i << " gave another recording";
  }
}

// A capture of a corpus movie with an MP3 stream on the virtual clock,
// recorded by the recorder: the WAVE file lasts the captured time.
TEST(PlayerSoundCapture, RecordingOfAStreamLastsTheCapturedTime) {
  const fs::path movie = fs::path(QUARVEL_SHARED_DIR) / "corpus/generated-ffmpeg/mp3-stream-44k-stereo.swf";
  if (!fs::exists(movie)) GTEST_SKIP() << "no corpus";
  const fs::path home = quarvel::testing::MakeTempFolder("quarvel-psound");
  setenv("QUARVEL_HOME", home.c_str(), 1);
  fs::create_directories(paths::CaptureFolder());
  {
    auto clock = std::make_shared<audio::VirtualClock>(1000);
    LoopbackBus bus(clock);
    mci::Mci mci(bus);
    quarvel::sound::WaveRecorder recorder(mci);
    recorder.SetMessageSink([](const quarvel::sound::RecorderMessage& m) { ADD_FAILURE() << m.text; });
    SoundOutput output(bus);
    FlashPlayer player;
    player.SetSoundListener(&output);
    player.AdvanceTo(clock->NowMs());
    player.SetMovie(movie.string());
    ASSERT_EQ(player.ReadyState(), 4) << player.LoadError();
    ASSERT_TRUE(recorder.StartRecording(paths::RecordingFilePath(), quarvel::sound::kPcmSoundQuality));
    const int latency = 250;
    std::int64_t t = clock->NowMs();
    for (int tick = 0; tick < 12; ++tick) {
      t += latency;
      clock->Set(t);
      player.AdvanceTo(t);
      output.Pump(t);
    }
    player.Stop();
    ASSERT_TRUE(recorder.SaveRecording());
    player.SetSoundListener(nullptr);
    const double captured = 12 * latency / 1000.0;
    const auto probe = quarvel::testing::Probe(paths::RecordingFilePath());
    EXPECT_EQ(probe.sample_rate, 44100);
    EXPECT_EQ(probe.channels, 2);
    EXPECT_NEAR(probe.duration, captured, latency / 1000.0);
    const auto mono = quarvel::testing::DecodeMono(paths::RecordingFilePath(), 44100);
    // The stream sounds from its start (its blocks hold 2.04 s of MP3 spread
    // over the movie's 7.8 s, so with pauses).
    EXPECT_GT(quarvel::testing::Rms(std::vector<std::int16_t>(mono.begin(), mono.begin() + 88200)), 500);
    EXPECT_EQ(output.GetStats().streamBlocks.at(Codec::kMp3).failed, 0);
  }
  unsetenv("QUARVEL_HOME");
  fs::remove_all(home);
}

}  // namespace
}  // namespace quarvel::player::sound
