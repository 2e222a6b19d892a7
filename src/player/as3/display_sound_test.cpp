// ActionScript 3 sounds from library classes: what reaches the sound
// output (SOUNDINFO records), channel stops and SOUND_COMPLETE.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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

TEST(As3Sound, LibrarySoundsAreLoadedAndPlayNothingPastTheirEnd) {
  As3Movie d;
  // 4411 samples at 44.1 kHz: 100.0227 ms, in 8822 bytes of data.
  d.LinkedClass("Beep", {d.Events("EventDispatcher"), d.a.PackageName("flash.media", "Sound")}, 5);
  d.defineTags = [](testing::SwfBuilder& b) {
    const std::vector<std::uint8_t> pcm(4411 * 2, 0);
    b.DefineSound(5, {.format = 3, .rate = 3, .is16Bit = true, .stereo = false}, 4411, pcm);
  };
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("findpropstrict", {m.Q("Beep")}).Op("constructprop", {m.Q("Beep"), 0}).Op("setlocal_1");
        auto trace = [&](const std::function<void()>& push) {
          c.Op("findpropstrict", {m.Q("trace")});
          push();
          c.Op("callpropvoid", {m.Q("trace"), 1});
        };
        for (const char* prop : {"length", "bytesLoaded", "bytesTotal", "isURLInaccessible"})
          trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q(prop)}); });
        for (int from : {200, 100}) {
          trace([&] {
            c.Op("getlocal_1").Op("pushshort", {from}).Op("callproperty", {m.Q("play"), 1}).Op("pushnull").Op("equals");
          });
        }
      },
      1);
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 50); }),
            "100.02267573696146|8822|8822|false|true|false|");
}

// Synthesized sound (sound-effect generators in games): a Sound with a
// sampleData listener asks it for stereo floats after the frame's scripts,
// position by position, until it gives fewer than 2048 samples; the channel
// play() returned at once then plays them and completes.
struct DefineLog : StartLog {
  std::vector<std::uint8_t> body;
  int defines = 0;
  void OnDefineSound(int, std::span<const std::uint8_t> b) override {
    body.assign(b.begin(), b.end());
    ++defines;
  }
};
TEST(As3Sound, ASampleDataListenerMakesTheSoundUntilItGivesTooFewSamples) {
  As3Movie d;
  const auto sound = d.a.PackageName("flash.media", "Sound");
  const auto event = d.a.PackageName("flash.events", "SampleDataEvent");
  // function (e) { trace("ask " + e.position); e.data.writeFloat(0.5); e.data.writeFloat(-0.5);
  //   e.data.length = 8 * (2048 - 1048 * Math.floor(e.position / 4096)); }: 2048, 2048, then 1000.
  AbcCode ask;
  ask.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S("ask ")}).Op("getlocal_1")
      .Op("getproperty", {d.Q("position")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1});
  for (double v : {0.5, -0.5})
    ask.Op("getlocal_1").Op("getproperty", {d.Q("data")}).Op("pushdouble", {d.a.Double(v)})
        .Op("callpropvoid", {d.Q("writeFloat"), 1});
  ask.Op("getlocal_1").Op("getproperty", {d.Q("data")}).Op("pushshort", {2048}).Op("pushshort", {1048})
      .Op("getlex", {d.Q("Math")}).Op("getlocal_1").Op("getproperty", {d.Q("position")}).Op("pushshort", {4096})
      .Op("divide").Op("callproperty", {d.Q("floor"), 1}).Op("multiply").Op("subtract").Op("pushbyte", {8})
      .Op("multiply").Op("setproperty", {d.Q("length")}).Op("returnvoid");
  const auto asked = d.Method(ask, 1);
  const auto done = d.Tracer("", {"type"});
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("findpropstrict", {event}).Op("getlex", {event}).Op("getproperty", {m.Q("SAMPLE_DATA")}).Op("pushfalse")
            .Op("pushfalse").Op("pushbyte", {7}).Op("constructprop", {event, 4}).Op("setlocal_3");
        m.TraceValue(c, "", [&] { c.Op("getlocal_3").Op("callproperty", {m.Q("toString"), 0}); });
        c.Op("findpropstrict", {sound}).Op("constructprop", {sound, 0}).Op("setlocal_1");
        m.Listen(c, 1, "sampleData", asked);
        c.Op("getlocal_1").Op("callproperty", {m.Q("play"), 0}).Op("setlocal_2");
        m.Listen(c, 2, "soundComplete", done);
        m.Trace(c, "played");
        // Another sound the same listener makes alike: one definition serves both.
        c.Op("findpropstrict", {sound}).Op("constructprop", {sound, 0}).Op("setlocal", {4});
        m.Listen(c, 4, "sampleData", asked);
        c.Op("getlocal", {4}).Op("callpropvoid", {m.Q("play"), 0});
      },
      1);
  DefineLog log;
  std::string traced;
  {
    FlashPlayer p;
    p.SetSoundListener(&log);
    ASSERT_TRUE(p.LoadMovieBytes(bytes));
    p.AdvanceTo(p.Now() + 400);
    traced = testing::As3Traced(bytes, [](FlashPlayer& q) { q.AdvanceTo(q.Now() + 400); });
  }
  EXPECT_EQ(traced,
            "[SampleDataEvent type=\"sampleData\" bubbles=false cancelable=false eventPhase=2 position=7]|played|"
            "ask 0|ask 2048|ask 4096|ask 0|ask 2048|ask 4096|soundComplete|");
  // An uncompressed 16-bit stereo sound at 44.1 kHz of 5096 samples, each
  // event's first sample (0.5, -0.5) where that event's samples begin.
  ASSERT_EQ(log.body.size(), 7u + 5096 * 4);
  EXPECT_EQ(log.body[2], (3 << 4) | (3 << 2) | 2 | 1);
  EXPECT_EQ(log.body[3] | (log.body[4] << 8), 5096);
  const auto sample = [&](std::size_t frame, int side) {
    const std::size_t at = 7 + frame * 4 + static_cast<std::size_t>(side) * 2;
    return static_cast<std::int16_t>(log.body[at] | (log.body[at + 1] << 8));
  };
  for (std::size_t frame : {0u, 2048u, 4096u}) {
    EXPECT_EQ(sample(frame, 0), 16384) << frame;
    EXPECT_EQ(sample(frame, 1), -16384) << frame;
    EXPECT_EQ(sample(frame + 1, 0), 0) << frame;
  }
  EXPECT_EQ(log.defines, 1);
  EXPECT_EQ(log.starts.size(), 2u);
}

TEST(As3Sound, SoundTransformsKeepFourGainsAndTheMixerHandsOutCopies) {
  // pan sets sqrt(1 - pan) and sqrt(1 + pan) and reads 1 - leftToLeft^2
  // while no side crosses; SoundMixer's transform and bufferTime (5 s).
  As3Movie d;
  const auto transform = d.a.PackageName("flash.media", "SoundTransform");
  const auto mixer = d.a.PackageName("flash.media", "SoundMixer");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto trace = [&](const std::function<void()>& push) {
      c.Op("findpropstrict", {m.Q("trace")});
      push();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    auto field = [&](int local, const char* f) { trace([&] { c.Op("getlocal", {local}).Op("getproperty", {m.Q(f)}); }); };
    c.Op("findpropstrict", {transform}).Op("pushdouble", {m.a.Double(0.5)}).Op("pushdouble", {m.a.Double(-0.3)})
        .Op("constructprop", {transform, 2}).Op("setlocal_1");
    for (const char* f : {"volume", "leftToLeft", "rightToRight", "leftToRight", "pan"}) field(1, f);
    c.Op("getlocal_1").Op("pushdouble", {m.a.Double(0.5)}).Op("setproperty", {m.Q("leftToRight")});
    field(1, "pan");
    auto mixerField = [&](const char* f) {
      trace([&] { c.Op("getlex", {mixer}).Op("getproperty", {m.Q("soundTransform")}).Op("getproperty", {m.Q(f)}); });
    };
    mixerField("volume");
    trace([&] { c.Op("getlex", {mixer}).Op("getproperty", {m.Q("bufferTime")}); });
    c.Op("getlex", {mixer}).Op("pushbyte", {120}).Op("setproperty", {m.Q("bufferTime")});
    trace([&] { c.Op("getlex", {mixer}).Op("getproperty", {m.Q("bufferTime")}); });
    c.Op("getlex", {mixer}).Op("getlocal_1").Op("setproperty", {m.Q("soundTransform")});
    c.Op("getlocal_1").Op("pushbyte", {1}).Op("setproperty", {m.Q("volume")});  // the mixer kept a copy
    mixerField("volume");
    mixerField("leftToRight");
    trace([&] {
      c.Op("getlex", {mixer}).Op("getproperty", {m.Q("soundTransform")});
      c.Op("getlex", {mixer}).Op("getproperty", {m.Q("soundTransform")}).Op("strictequals");
    });
    // The mixer and a sprite keep whole hundredths, cut toward zero.
    c.Op("getlocal_1").Op("pushdouble", {m.a.Double(1 - 1.0 / 24)}).Op("setproperty", {m.Q("volume")});
    c.Op("getlocal_1").Op("pushdouble", {m.a.Double(-1.0 / 24)}).Op("setproperty", {m.Q("leftToRight")});
    c.Op("getlex", {mixer}).Op("getlocal_1").Op("setproperty", {m.Q("soundTransform")});
    mixerField("volume");
    mixerField("leftToRight");
    c.Op("getlocal_0").Op("getlocal_1").Op("setproperty", {m.Q("soundTransform")});
    trace([&] { c.Op("getlocal_0").Op("getproperty", {m.Q("soundTransform")}).Op("getproperty", {m.Q("volume")}); });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}),
            "0.5|1.140175425099138|0.8366600265340756|0|-0.30000000000000027|0|1|5|120|0.5|0.5|false|0.95|-0.04|0.95|");
}

// A button's soundTransform is the mixer's: written through one button it
// is what SoundMixer and every other button read.
TEST(As3Sound, AButtonsSoundTransformIsTheMixers) {
  As3Movie d;
  const auto transform = d.a.PackageName("flash.media", "SoundTransform");
  const auto mixer = d.a.PackageName("flash.media", "SoundMixer");
  const auto button = d.a.PackageName("flash.display", "SimpleButton");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto trace = [&](const std::function<void()>& push) {
      c.Op("findpropstrict", {m.Q("trace")});
      push();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    for (int local : {1, 2}) c.Op("findpropstrict", {button}).Op("constructprop", {button, 0}).Op("setlocal", {local});
    c.Op("findpropstrict", {transform}).Op("pushdouble", {m.a.Double(0.25)}).Op("constructprop", {transform, 1}).Op("setlocal_3");
    c.Op("getlocal_1").Op("getlocal_3").Op("setproperty", {m.Q("soundTransform")});
    trace([&] { c.Op("getlex", {mixer}).Op("getproperty", {m.Q("soundTransform")}).Op("getproperty", {m.Q("volume")}); });
    trace([&] { c.Op("getlocal_2").Op("getproperty", {m.Q("soundTransform")}).Op("getproperty", {m.Q("volume")}); });
    c.Op("getlocal_3").Op("pushdouble", {m.a.Double(0.75)}).Op("setproperty", {m.Q("volume")});
    c.Op("getlex", {mixer}).Op("getlocal_3").Op("setproperty", {m.Q("soundTransform")});
    trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q("soundTransform")}).Op("getproperty", {m.Q("volume")}); });
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}), "0.25|0.25|0.75|");
}

// A NetConnection is its own client until given one; what only a
// connection has is error 2126 before connect(null) and after close().
TEST(As3Net, NetConnectionPropertiesFollowItsConnection) {
  As3Movie d;
  const auto nc = d.a.PackageName("flash.net", "NetConnection");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    auto trace = [&](const std::function<void()>& push) {
      c.Op("findpropstrict", {m.Q("trace")});
      push();
      c.Op("callpropvoid", {m.Q("trace"), 1});
    };
    auto field = [&](const char* f) { trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q(f)}); }); };
    c.Op("findpropstrict", {nc}).Op("constructprop", {nc, 0}).Op("setlocal_1");
    trace([&] { c.Op("getlocal_1").Op("getproperty", {m.Q("client")}).Op("getlocal_1").Op("strictequals"); });
    field("uri");
    c.Op("getlocal_1").Op("pushnull").Op("callpropvoid", {m.Q("connect"), 1});
    field("uri");
    field("protocol");
    field("farNonce");
    c.Op("getlocal_1").Op("callpropvoid", {m.Q("close"), 0});
    field("uri");
    field("protocol");  // throws, and the movie's script stops here
    m.Trace(c, "unreached");
  });
  EXPECT_EQ(testing::As3Traced(bytes, [](FlashPlayer&) {}),
            "true|null|null|rtmp|" + std::string(64, '0') +
                "|null|ArgumentError: Error #2126: NetConnection object must be connected.|");
}

// new Video(args...) traced as "width height", or the error it throws.
std::string VideoMade(const std::vector<double>& args) {
  As3Movie d;
  const auto video = d.a.PackageName("flash.media", "Video");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {video});
    for (double v : args) c.Op("pushdouble", {m.a.Double(v)});
    c.Op("constructprop", {video, static_cast<std::uint32_t>(args.size())}).Op("setlocal_1");
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_1").Op("getproperty", {m.Q("width")}).Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_1").Op("getproperty", {m.Q("height")}).Op("add");
    });
  });
  return testing::As3Traced(bytes, [](FlashPlayer&) {});
}

TEST(As3Video, AVideosSizeIsItsArgumentsAsIntegersWithZeroGivingTheDefaults) {
  EXPECT_EQ(VideoMade({}), "320 240|");
  EXPECT_EQ(VideoMade({100}), "100 240|");
  EXPECT_EQ(VideoMade({1.9, 50}), "1 50|");
  EXPECT_EQ(VideoMade({0, 100}), "320 240|");
  EXPECT_EQ(VideoMade({100, -0.5}), "320 240|");  // truncates to 0
  EXPECT_EQ(VideoMade({std::nan(""), 100}), "320 240|");
  EXPECT_EQ(VideoMade({0x200000, 255}), "2097152 255|");
  EXPECT_EQ(VideoMade({0x4000000, 1}), "67108864 1|");
  // A negative side, 2^29 pixels or more, or a side past 2^31 twips.
  for (const auto& bad : std::vector<std::vector<double>>{{-1}, {100, -1.5}, {0x200000, 256}, {0x8000000, 1}, {1, 0x6666667}}) {
    const std::string out = VideoMade(bad);
    EXPECT_NE(out.find("RangeError: Error #2006"), std::string::npos) << bad[0] << ": " << out;
  }
}

TEST(As3Video, ANetStreamsClientIsAnyObjectButNoPrimitive) {
  auto setClient = [](const std::function<void(As3Movie&, AbcCode&)>& push) {
    As3Movie d;
    const auto nc = d.a.PackageName("flash.net", "NetConnection"), ns = d.a.PackageName("flash.net", "NetStream");
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      c.Op("findpropstrict", {nc}).Op("constructprop", {nc, 0}).Op("setlocal_1");
      c.Op("getlocal_1").Op("pushnull").Op("callpropvoid", {m.Q("connect"), 1});
      c.Op("findpropstrict", {ns}).Op("getlocal_1").Op("constructprop", {ns, 1}).Op("setlocal_2");
      m.TraceValue(c, "", [&] { c.Op("getlocal_2").Op("getproperty", {m.Q("client")}).Op("getlocal_2").Op("strictequals"); });
      c.Op("getlocal_2");
      push(m, c);
      c.Op("setproperty", {m.Q("client")});
      m.Trace(c, "set");
    });
    return testing::As3Traced(bytes, [](FlashPlayer&) {});
  };
  EXPECT_EQ(setClient([](As3Movie&, AbcCode& c) { c.Op("newobject", {0}); }), "true|set|");
  for (const auto& primitive : std::vector<std::function<void(As3Movie&, AbcCode&)>>{
           [](As3Movie&, AbcCode& c) { c.Op("pushbyte", {3}); },
           [](As3Movie& m, AbcCode& c) { c.Op("pushstring", {m.S("abcd")}); },
           [](As3Movie&, AbcCode& c) { c.Op("pushtrue"); },
           [](As3Movie&, AbcCode& c) { c.Op("pushnull"); }}) {
    const std::string out = setClient(primitive);
    EXPECT_EQ(out.rfind("true|", 0), 0u) << out;
    EXPECT_NE(out.find("TypeError: Error #2004"), std::string::npos) << out;
    EXPECT_EQ(out.find("set|"), std::string::npos) << out;
  }
}

TEST(As3NetConnection, ReconnectingClosesFirstAndAServerNeverReachedFailsAtTheFramesEnd) {
  auto run = [](bool closeServer) {
    As3Movie d;
    const auto nc = d.a.PackageName("flash.net", "NetConnection");
    const auto heard = d.Tracer("", {"info.code", "info.level"});
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      c.Op("findpropstrict", {nc}).Op("constructprop", {nc, 0}).Op("setlocal_1");
      m.Listen(c, 1, "netStatus", heard);
      c.Op("getlocal_1").Op("callpropvoid", {m.Q("close"), 0});  // never connected: nothing
      for (int i = 0; i < 2; ++i) c.Op("getlocal_1").Op("pushnull").Op("callpropvoid", {m.Q("connect"), 1});
      c.Op("getlocal_1").Op("callpropvoid", {m.Q("close"), 0});
      c.Op("getlocal_1").Op("pushstring", {m.S("rtmp://example.org/app")}).Op("callpropvoid", {m.Q("connect"), 1});
      m.Trace(c, "asked");
      if (closeServer) c.Op("getlocal_1").Op("callpropvoid", {m.Q("close"), 0});
    });
    return testing::As3Traced(bytes, [](FlashPlayer&) {});
  };
  const std::string local =
      "NetConnection.Connect.Success status|NetConnection.Connect.Closed status|NetConnection.Connect.Success status|"
      "NetConnection.Connect.Closed status|asked|";
  EXPECT_EQ(run(false), local + "NetConnection.Connect.Failed error|");
  EXPECT_EQ(run(true), local + "NetConnection.Connect.Closed status| status|");
}

}  // namespace
}  // namespace quarvel::player
