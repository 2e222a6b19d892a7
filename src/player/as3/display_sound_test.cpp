// ActionScript 3 sounds from library classes: what reaches the sound
// output (SOUNDINFO records), channel stops and SOUND_COMPLETE.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;

struct StartLog : SoundEventListener {
  std::vector<std::string> starts;  // "id name: info bytes"
  void OnStartSound(int soundId, std::string_view className, std::span<const std::uint8_t> info,
                    std::int64_t) override {
    std::string s = std::to_string(soundId) + " " + std::string(className) + ":";
    for (std::uint8_t b : info) s += " " + std::to_string(b);
    starts.push_back(s);
  }
};

TEST(As3Sound, LibrarySoundsPlayLoopAtAVolumeStopAndComplete) {
  As3Movie d;
  // class Beep extends Sound, linked to a 100 ms DefineSound (id 5).
  d.LinkedClass("Beep", {d.Events("EventDispatcher"), d.a.PackageName("flash.media", "Sound")}, 5);
  d.defineTags = [](testing::SwfBuilder& b) {
    const std::vector<std::uint8_t> pcm(4410 * 2, 0);
    b.DefineSound(5, {.format = 3, .rate = 3, .is16Bit = true, .stereo = false}, 4410, pcm);
  };
  const auto done = d.Tracer("", {"type"});
  const auto transform = d.a.PackageName("flash.media", "SoundTransform");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("findpropstrict", {m.Q("Beep")}).Op("constructprop", {m.Q("Beep"), 0}).Op("setlocal_1");
        c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q("length")})
            .Op("callpropvoid", {m.Q("trace"), 1});
        // play(0, 2): twice, then SOUND_COMPLETE
        c.Op("getlocal_1").Op("pushbyte", {0}).Op("pushbyte", {2}).Op("callproperty", {m.Q("play"), 2}).Op("setlocal_2");
        m.Listen(c, 2, "soundComplete", done);
        // play(50, 0, new SoundTransform(0.5)), stopped at once: no SOUND_COMPLETE
        c.Op("getlocal_1").Op("pushbyte", {50}).Op("pushbyte", {0}).Op("findpropstrict", {transform})
            .Op("pushdouble", {m.a.Double(0.5)}).Op("constructprop", {transform, 1}).Op("callproperty", {m.Q("play"), 3})
            .Op("setlocal_3");
        m.Listen(c, 3, "soundComplete", done);
        c.Op("getlocal_3").Op("callpropvoid", {m.Q("stop"), 0});
      },
      1);
  const std::string traced = testing::As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); });
  // Again with a listener from the start, for what reaches the sound output.
  StartLog log;
  {
    FlashPlayer p;
    p.SetSoundListener(&log);
    ASSERT_TRUE(p.LoadMovieBytes(bytes));
    p.AdvanceTo(p.Now() + 350);
  }
  EXPECT_EQ(traced, "100|soundComplete|");
  ASSERT_EQ(log.starts.size(), 3u);
  EXPECT_EQ(log.starts[0], "5 Beep: 4 2 0");
  // in point 50 ms = 2205 samples; volume 0.5 on both sides
  EXPECT_EQ(log.starts[1], "5 Beep: 9 157 8 0 0 1 0 0 0 0 0 64 0 64");
  EXPECT_EQ(log.starts[2], "5 Beep: 32");
}

}  // namespace
}  // namespace quarvel::player
