// NetStream playing FLV files beside an ActionScript 2 movie: the pictures
// drawn, the status events and the sound, against the ffmpeg program's
// decoding of the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/clock.h"
#include "platform/audio/loopback_bus.h"
#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "player/display/net_stream.h"
#include "player/sound/sound_output.h"
#include "player/video/test_streams.h"
#include "support/abc_builder.h"
#include "support/as3_movie.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

namespace fs = std::filesystem;
using testing::Actions;
using video::testing::MakeStream;
using video::testing::OracleFrames;
using video::testing::TempDir;
using Frames = std::vector<std::vector<std::uint8_t>>;

constexpr int kW = 160, kH = 120;

#define REQUIRE_FFMPEG() \
  if (!video::testing::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed"

// ActionScript 1 byte codes the scripts below need.
constexpr std::uint8_t kPop = 0x17, kGetVariable = 0x1C, kGetMember = 0x4E, kSetMember = 0x4F, kNewObject = 0x40,
                       kCallMethod = 0x52, kAdd2 = 0x47;

Actions& Var(Actions& a, const std::string& name) { return a.PushString(name).Raw(kGetVariable); }
// obj.method(arg) with a value pushed by `arg`, result dropped.
Actions& CallOn(Actions& a, const std::string& obj, const std::string& method, void (*arg)(Actions&), int count = 1) {
  arg(a);
  a.PushInt(count);
  Var(a, obj).PushString(method).Raw(kCallMethod).Raw(kPop);
  return a;
}

// The movie: a Video object named "vid" (a stream with no frames, as the
// authoring tool places one) at x0, y0, and a script that plays `file`
// into it, writing every status code into `log` and the metadata's
// duration into `duration`. `more` runs after play().
std::vector<std::uint8_t> BuildMovie(const std::string& file, int x0 = 0, int y0 = 0, const Actions& more = {}) {
  testing::SwfBuilder b(8, {0, (kW + x0) * 20, 0, (kH + y0) * 20}, 10.0);
  b.SetBackgroundColor({255, 255, 255, 255});
  std::vector<std::uint8_t> def = {1, 0, 0, 0, kW, 0, kH, 0, 0, 0};
  b.Tag(swf::tag::kDefineVideoStream, def);
  testing::Placement p;
  p.characterId = 1;
  p.name = "vid";
  swf::Matrix m;
  m.translateX = x0 * 20, m.translateY = y0 * 20;
  p.matrix = m;
  b.PlaceObject2(p);

  Actions a;
  a.PushString("log").PushString("").SetVariable();
  a.PushString("nc").PushInt(0).PushString("NetConnection").Raw(kNewObject).SetVariable();
  CallOn(a, "nc", "connect", [](Actions& x) { x.PushNull(); });
  a.PushString("ns");
  Var(a, "nc").PushInt(1).PushString("NetStream").Raw(kNewObject).SetVariable();
  Actions onStatus;
  onStatus.PushString("log");
  Var(onStatus, "log");
  Var(onStatus, "info").PushString("code").Raw(kGetMember).Raw(kAdd2).PushString(";").Raw(kAdd2).SetVariable();
  Var(a, "ns").PushString("onStatus").DefineFunction("", {"info"}, onStatus).Raw(kSetMember);
  Actions onMeta;
  onMeta.PushString("duration");
  Var(onMeta, "m").PushString("duration").Raw(kGetMember).SetVariable();
  Var(a, "ns").PushString("onMetaData").DefineFunction("", {"m"}, onMeta).Raw(kSetMember);
  CallOn(a, "vid", "attachVideo", [](Actions& x) { Var(x, "ns"); });
  a.PushString(file).PushInt(1);
  Var(a, "ns").PushString("play").Raw(kCallMethod).Raw(kPop);
  a.Append(more);
  a.Stop();
  b.DoAction(a);
  b.ShowFrame();
  return b.Build();
}

// The movie and the FLV in a folder of their own.
fs::path WriteMovie(const std::string& name, const std::vector<std::uint8_t>& movie, const fs::path& flv = {}) {
  const fs::path dir = TempDir() / name;
  fs::create_directories(dir);
  const fs::path path = dir / "movie.swf";
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(movie.data(), 1, movie.size(), f);
  std::fclose(f);
  // Kept for looking at (and for the fuzz corpus) when asked.
  if (const char* out = std::getenv("QUARVEL_VIDEO_OUT")) {
    fs::copy_file(path, fs::path(out) / (name + ".swf"), fs::copy_options::overwrite_existing);
  }
  if (!flv.empty()) fs::copy_file(flv, dir / "clip.flv", fs::copy_options::overwrite_existing);
  return path;
}

struct Shot {
  int width = 0, height = 0;
  std::vector<std::uint8_t> bgra;
};

Shot Take(const FlashPlayer& player) {
  gdi::Bitmap bmp;
  player.Paint(bmp);
  Shot s{bmp.Width(), bmp.Height(), {}};
  for (int y = 0; y < s.height; ++y) s.bgra.insert(s.bgra.end(), bmp.ScanLine(y), bmp.ScanLine(y) + s.width * 4);
  return s;
}

// Mean absolute difference of B, G and R over the w x h rectangle at x0, y0.
double Diff(const Shot& s, const std::vector<std::uint8_t>& oracle, int x0 = 0, int y0 = 0, int w = kW, int h = kH) {
  if (oracle.size() != static_cast<std::size_t>(w) * h * 4 || x0 + w > s.width || y0 + h > s.height) return 255;
  double sum = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) {
        sum += std::abs(int{s.bgra[(static_cast<std::size_t>(y + y0) * s.width + x + x0) * 4 + c]} -
                        int{oracle[(static_cast<std::size_t>(y) * w + x) * 4 + c]});
      }
    }
  }
  return sum / (3.0 * w * h);
}

std::unique_ptr<FlashPlayer> Open(const fs::path& movie, int w, int h, SoundEventListener* listener = nullptr) {
  auto p = std::make_unique<FlashPlayer>();
  p->SetSoundListener(listener);
  p->SetMovie(movie.string());
  EXPECT_EQ(p->ReadyState(), 4) << p->LoadError();
  p->SetSize(w, h);
  return p;
}

struct FlvCase {
  const char* name;
  const char* args;
};
void PrintTo(const FlvCase& c, std::ostream* os) { *os << c.name; }

class NetStreamPictures : public ::testing::TestWithParam<FlvCase> {};

// Ten pictures, 100 ms apart: at each frame of a 10 fps movie the video
// shows the picture of that time, also after a seek back.
TEST_P(NetStreamPictures, FollowTheClockAsFfmpegDecodes) {
  REQUIRE_FFMPEG();
  const FlvCase& c = GetParam();
  const auto flv = MakeStream(std::string("ns_") + c.name + ".flv", c.args);
  if (flv.empty()) GTEST_SKIP() << "ffmpeg cannot encode " << c.name << " here";
  const Frames oracle = OracleFrames(flv, kW, kH);
  ASSERT_EQ(oracle.size(), 10u);
  const auto movie = WriteMovie(std::string("pictures_") + c.name, BuildMovie("clip.flv", 20, 10), flv);
  auto player = Open(movie, kW + 20, kH + 10);
  for (int k = 0; k < 10; ++k) {
    player->AdvanceTo(k * 100);
    EXPECT_LE(Diff(Take(*player), oracle[static_cast<std::size_t>(k)], 20, 10), 1.0) << "at " << k * 100 << " ms";
  }
  for (const auto& s : player->SkippedFeatures()) ADD_FAILURE() << "skipped: " << s;
}

INSTANTIATE_TEST_SUITE_P(Codecs, NetStreamPictures,
                         ::testing::Values(FlvCase{"flv1", "-c:v flv1"}, FlvCase{"flashsv", "-c:v flashsv"},
                                           FlvCase{"flashsv2", "-c:v flashsv2"},
                                           FlvCase{"h264", "-c:v libx264 -bf 0 -pix_fmt yuv420p"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NetStreamEvents, StatusAndMetadataReachTheScript) {
  REQUIRE_FFMPEG();
  const auto flv = MakeStream("ns_flv1.flv", "-c:v flv1");
  ASSERT_FALSE(flv.empty());
  auto player = Open(WriteMovie("events", BuildMovie("clip.flv"), flv), kW, kH);
  player->AdvanceTo(100);
  EXPECT_EQ(player->GetVariable("log"), "NetStream.Play.Start;NetStream.Buffer.Full;");
  EXPECT_EQ(player->GetVariable("duration"), "1");
  player->AdvanceTo(1200);
  EXPECT_EQ(player->GetVariable("log"),
            "NetStream.Play.Start;NetStream.Buffer.Full;NetStream.Buffer.Flush;NetStream.Play.Stop;NetStream.Buffer.Empty;");
}

// Flash fails as a status event: the movie plays on, the video stays empty.
TEST(NetStreamEvents, MissingFileGivesStreamNotFound) {
  for (const char* name : {"missing.flv", "/etc/passwd", "http://example.com/a.flv"}) {
    auto player = Open(WriteMovie("missing", BuildMovie(name)), kW, kH);
    player->AdvanceTo(300);
    EXPECT_EQ(player->GetVariable("log"), "NetStream.Play.StreamNotFound;") << name;
    const Shot s = Take(*player);
    EXPECT_TRUE(std::all_of(s.bgra.begin(), s.bgra.end(), [](std::uint8_t v) { return v == 255; })) << name;
    bool named = false;
    for (const auto& f : player->SkippedFeatures()) named |= f.find(name) != std::string::npos;
    EXPECT_TRUE(named) << name;
  }
}

// pause() holds the picture; seek() lands on the key frame before.
TEST(NetStreamControl, PauseHoldsAndSeekLandsOnKeyFrame) {
  REQUIRE_FFMPEG();
  const auto flv = MakeStream("ns_flv1.flv", "-c:v flv1");
  ASSERT_FALSE(flv.empty());
  const Frames oracle = OracleFrames(flv, kW, kH);
  ASSERT_EQ(oracle.size(), 10u);
  // Frame 2 of the movie pauses, frame 3 resumes, frame 5 seeks to 0.8 s
  // (key frames every 5 pictures: 0.5 s).
  testing::SwfBuilder b(8, {0, kW * 20, 0, kH * 20}, 10.0);
  std::vector<std::uint8_t> def = {1, 0, 0, 0, kW, 0, kH, 0, 0, 0};
  b.Tag(swf::tag::kDefineVideoStream, def);
  testing::Placement p;
  p.characterId = 1;
  p.name = "vid";
  b.PlaceObject2(p);
  Actions start;
  start.PushString("nc").PushInt(0).PushString("NetConnection").Raw(kNewObject).SetVariable();
  CallOn(start, "nc", "connect", [](Actions& x) { x.PushNull(); });
  start.PushString("ns");
  Var(start, "nc").PushInt(1).PushString("NetStream").Raw(kNewObject).SetVariable();
  CallOn(start, "vid", "attachVideo", [](Actions& x) { Var(x, "ns"); });
  CallOn(start, "ns", "play", [](Actions& x) { x.PushString("clip.flv"); });
  b.DoAction(start).ShowFrame();
  b.ShowFrame();  // 1
  Actions pause;
  CallOn(pause, "ns", "pause", [](Actions& x) { x.PushBool(true); });
  pause.PushString("t").PushString("ns").Raw(kGetVariable).PushString("time").Raw(kGetMember).SetVariable();
  b.DoAction(pause).ShowFrame();  // 2
  b.ShowFrame();                  // 3
  Actions resume;
  CallOn(resume, "ns", "pause", [](Actions& x) { x.PushBool(false); });
  b.DoAction(resume).ShowFrame();  // 4
  Actions seek;
  CallOn(seek, "ns", "seek", [](Actions& x) { x.PushDouble(0.8); });
  b.DoAction(seek).ShowFrame();  // 5
  Actions stop;
  stop.Stop();
  b.DoAction(stop).ShowFrame();  // 6
  auto player = Open(WriteMovie("control", b.Build(), flv), kW, kH);
  player->AdvanceTo(200);
  EXPECT_EQ(player->GetVariable("t"), "0.2");
  EXPECT_LE(Diff(Take(*player), oracle[2]), 1.0);
  player->AdvanceTo(300);  // paused: still the picture of 0.2 s
  EXPECT_LE(Diff(Take(*player), oracle[2]), 1.0);
  player->AdvanceTo(400);  // resumed at 0.2 s
  player->AdvanceTo(500);  // seek to 0.5 s: the key frame
  EXPECT_LE(Diff(Take(*player), oracle[5]), 1.0);
  player->AdvanceTo(700);
  EXPECT_LE(Diff(Take(*player), oracle[7]), 1.0);
}

// clear() takes the picture away until the stream gives a new one.
TEST(NetStreamControl, ClearEmptiesTheVideoUntilTheNextPicture) {
  REQUIRE_FFMPEG();
  const auto flv = MakeStream("ns_flv1.flv", "-c:v flv1");
  ASSERT_FALSE(flv.empty());
  const Frames oracle = OracleFrames(flv, kW, kH);
  ASSERT_EQ(oracle.size(), 10u);
  Actions pauseAndClear;
  CallOn(pauseAndClear, "ns", "pause", [](Actions& x) { x.PushBool(true); });
  CallOn(pauseAndClear, "vid", "clear", [](Actions&) {}, 0);
  auto player = Open(WriteMovie("clear", BuildMovie("clip.flv", 0, 0, pauseAndClear), flv), kW, kH);
  const std::vector<std::uint8_t> white(static_cast<std::size_t>(kW) * kH * 4, 255);
  player->AdvanceTo(300);
  EXPECT_EQ(Diff(Take(*player), white), 0.0);  // paused: no new picture comes
  EXPECT_EQ(player->GetVariable("log"), "NetStream.Play.Start;NetStream.Buffer.Full;NetStream.Pause.Notify;");
}

// ActionScript 1/2's pause() with no argument toggles without a status:
// two toggles leave no news; pause(true) tells of the pause.
TEST(NetStreamControl, PauseWithoutArgumentTogglesQuietly) {
  REQUIRE_FFMPEG();
  const auto flv = MakeStream("ns_flv1.flv", "-c:v flv1");
  ASSERT_FALSE(flv.empty());
  Actions toggles;
  CallOn(toggles, "ns", "pause", [](Actions&) {}, 0);
  CallOn(toggles, "ns", "pause", [](Actions&) {}, 0);
  CallOn(toggles, "ns", "pause", [](Actions& x) { x.PushBool(true); });
  auto player = Open(WriteMovie("toggle", BuildMovie("clip.flv", 0, 0, toggles), flv), kW, kH);
  player->AdvanceTo(300);
  EXPECT_EQ(player->GetVariable("log"), "NetStream.Play.Start;NetStream.Buffer.Full;NetStream.Pause.Notify;");
}

// The FLV's sound goes into the player's sound output, at the stream's
// times: compared with ffmpeg's decoding of the same sound.
TEST(NetStreamSound, PlaysIntoTheSoundOutput) {
  REQUIRE_FFMPEG();
  const auto flv = MakeStream("ns_sound.flv", "-c:v flv1 -c:a libmp3lame -ar 44100 -ac 2 -b:a 128k", kW, kH, 2,
                              "-f lavfi -i sine=frequency=440:sample_rate=44100");
  if (flv.empty()) GTEST_SKIP() << "ffmpeg cannot write MP3 sound here";
  const auto raw = TempDir() / "ns_sound.s16";
  ASSERT_TRUE(video::testing::Run("ffmpeg -hide_banner -loglevel error -nostdin -y -i '" + flv.string() +
                                  "' -vn -f s16le -ar 44100 -ac 2 '" + raw.string() + "'"));
  const auto bytes = video::testing::ReadFile(raw);
  std::vector<std::int16_t> expected(bytes.size() / 2);
  std::memcpy(expected.data(), bytes.data(), expected.size() * 2);

  auto clock = std::make_shared<audio::VirtualClock>(0);
  audio::LoopbackBus bus(clock);
  sound::SoundOutput output(bus);
  auto player = Open(WriteMovie("sound", BuildMovie("clip.flv"), flv), kW, kH, &output);
  for (int ms = 0; ms <= 2500; ms += 100) {
    clock->Set(ms);
    player->AdvanceTo(ms);
    output.Pump(ms);
  }
  EXPECT_GT(output.GetStats().videoSoundTags.decoded, 50);
  EXPECT_EQ(output.GetStats().videoSoundTags.failed, 0);
  std::vector<std::int16_t> got(static_cast<std::size_t>(audio::LoopbackBus::MsToFrame(2500)) * 2);
  bus.Mix(audio::BusMix::kPlayback, 0, got);
  auto rms = [](const std::vector<std::int16_t>& v, std::size_t from, std::size_t to) {
    double s = 0;
    for (std::size_t i = from; i < to && i < v.size(); ++i) s += static_cast<double>(v[i]) * v[i];
    return std::sqrt(s / static_cast<double>(std::max<std::size_t>(1, std::min(to, v.size()) - from)));
  };
  auto extent = [](const std::vector<std::int16_t>& v) {
    std::size_t first = v.size(), last = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (std::abs(v[i]) > 300) first = std::min(first, i), last = i;
    }
    return std::pair{first / 2, last / 2};
  };
  // Level over the middle second, start and end within a frame period (100 ms).
  const double level = rms(expected, 44100, 3 * 44100), ours = rms(got, 44100, 3 * 44100);
  EXPECT_NEAR(ours / level, 1.0, 0.05);
  const auto [e0, e1] = extent(expected);
  const auto [g0, g1] = extent(got);
  EXPECT_LE(std::abs(static_cast<long>(g0) - static_cast<long>(e0)), 4410L);
  EXPECT_LE(std::abs(static_cast<long>(g1) - static_cast<long>(e1)), 4410L);
  player->SetSoundListener(nullptr);
}

// Names as movies made on Windows write them; never a place off the disk
// beside the movie.
TEST(NetStreamPaths, RelativeNamesOnly) {
  const fs::path folder = "/movies/show";
  EXPECT_EQ(ResolveStreamPath(folder, "clip.flv"), fs::path("/movies/show/clip.flv"));
  EXPECT_EQ(ResolveStreamPath(folder, "media\\clip.flv"), fs::path("/movies/show/media/clip.flv"));
  EXPECT_EQ(ResolveStreamPath(folder, "./a/../clip.flv"), fs::path("/movies/show/clip.flv"));
  for (const char* refused : {"", "/etc/clip.flv", "C:\\clip.flv", "http://host/clip.flv", "rtmp://host/live",
                              "file:///tmp/clip.flv"}) {
    EXPECT_FALSE(ResolveStreamPath(folder, refused)) << refused;
  }
  // A movie loaded from memory has no folder: nothing is found.
  EXPECT_FALSE(ResolveStreamPath({}, "clip.flv"));
}

// ActionScript 3: NetConnection.connect(null), a NetStream into a Video the
// script made, netStatus events and onMetaData on the stream's client.
TEST(NetStreamAs3, PlaysIntoAScriptVideo) {
  REQUIRE_FFMPEG();
  const auto flv = MakeStream("ns_flv1.flv", "-c:v flv1");
  ASSERT_FALSE(flv.empty());
  const Frames oracle = OracleFrames(flv, kW, kH);
  ASSERT_EQ(oracle.size(), 10u);
  testing::As3Movie d;
  const auto nc = d.a.PackageName("flash.net", "NetConnection"), ns = d.a.PackageName("flash.net", "NetStream");
  const auto videoCls = d.a.PackageName("flash.media", "Video");
  const auto status = d.Tracer("", {"info.code"});
  const auto meta = d.Tracer("meta ", {"duration"});
  const auto bytes = d.Build(
      [&](testing::As3Movie& m, testing::AbcCode& c) {
        c.Op("findpropstrict", {nc}).Op("constructprop", {nc, 0}).Op("setlocal_1");
        m.Listen(c, 1, "netStatus", status);
        c.Op("getlocal_1").Op("pushnull").Op("callpropvoid", {m.Q("connect"), 1});
        c.Op("findpropstrict", {ns}).Op("getlocal_1").Op("constructprop", {ns, 1}).Op("setlocal_2");
        m.Listen(c, 2, "netStatus", status);
        c.Op("getlocal_2").Op("pushstring", {m.S("onMetaData")}).Op("newfunction", {meta}).Op("newobject", {1})
            .Op("setproperty", {m.Q("client")});
        c.Op("findpropstrict", {videoCls}).Op("pushshort", {kW}).Op("pushshort", {kH}).Op("constructprop", {videoCls, 2})
            .Op("setlocal_3");
        c.Op("getlocal_0").Op("getlocal_3").Op("callpropvoid", {m.Q("addChild"), 1});
        c.Op("getlocal_3").Op("getlocal_2").Op("callpropvoid", {m.Q("attachNetStream"), 1});
        c.Op("getlocal_2").Op("pushstring", {m.S("clip.flv")}).Op("callpropvoid", {m.Q("play"), 1});
      },
      20, {}, kW, kH);
  const fs::path path = WriteMovie("as3", bytes, flv);
  const std::string traced = testing::As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 1300); }, path.string());
  EXPECT_EQ(traced,
            "NetConnection.Connect.Success|NetStream.Play.Start|NetStream.Buffer.Full|meta 1|NetStream.Buffer.Flush|NetStream.Play.Stop|"
            "NetStream.Buffer.Empty|");
  auto player = Open(path, kW, kH);
  player->AdvanceTo(450);
  EXPECT_LT(Diff(Take(*player), oracle[4]), 3.0);
  bool skipped = false;
  for (const auto& f : player->SkippedFeatures()) skipped |= f.find("video") != std::string::npos;
  EXPECT_FALSE(skipped);
}

// Played again by the handler of Play.Stop: the old buffer never reports
// empty; the second play ends as the first did.
TEST(NetStreamAs3, PlayedAgainOnStopTheOldBufferNeverEmpties) {
  REQUIRE_FFMPEG();
  const auto flv = MakeStream("ns_replay.flv", "-c:v flv1");
  ASSERT_FALSE(flv.empty());
  testing::As3Movie d;
  const auto nc = d.a.PackageName("flash.net", "NetConnection"), ns = d.a.PackageName("flash.net", "NetStream");
  // function (e) { trace(e.info.code); if (e.info.code == "NetStream.Play.Stop" && !again) { again = true; e.target.play("clip.flv"); } }
  testing::AbcCode h;
  h.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_1").Op("getproperty", {d.Q("info")}).Op("getproperty", {d.Q("code")});
  h.Op("callpropvoid", {d.Q("trace"), 1});
  h.Op("getlocal_1").Op("getproperty", {d.Q("info")}).Op("getproperty", {d.Q("code")}).Op("pushstring", {d.S("NetStream.Play.Stop")});
  h.Branch("ifne", "done");
  h.Op("findproperty", {d.Q("again")}).Op("getproperty", {d.Q("again")}).Branch("iftrue", "done");
  h.Op("findproperty", {d.Q("again")}).Op("pushtrue").Op("setproperty", {d.Q("again")});
  h.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("pushstring", {d.S("clip.flv")}).Op("callpropvoid", {d.Q("play"), 1});
  h.Label("done").Op("returnvoid");
  const auto handler = d.Method(h, 1);
  const auto bytes = d.Build(
      [&](testing::As3Movie& m, testing::AbcCode& c) {
        c.Op("findpropstrict", {nc}).Op("constructprop", {nc, 0}).Op("setlocal_1");
        c.Op("getlocal_1").Op("pushnull").Op("callpropvoid", {m.Q("connect"), 1});
        c.Op("findpropstrict", {ns}).Op("getlocal_1").Op("constructprop", {ns, 1}).Op("setlocal_2");
        m.Listen(c, 2, "netStatus", handler);
        c.Op("getlocal_2").Op("pushstring", {m.S("clip.flv")}).Op("callpropvoid", {m.Q("play"), 1});
      },
      40, {}, kW, kH);
  const fs::path path = WriteMovie("as3replay", bytes, flv);
  const std::string traced = testing::As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 2600); }, path.string());
  const std::string once = "NetStream.Play.Start|NetStream.Buffer.Full|NetStream.Buffer.Flush|NetStream.Play.Stop|";
  EXPECT_EQ(traced, once + once + "NetStream.Buffer.Empty|");
}

}  // namespace
}  // namespace quarvel::player
