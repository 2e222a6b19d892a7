// Captures of movies with video, written to AVI by quarvel-cli: picture and
// sound stay in step, as ffmpeg reads them back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "player/video/test_streams.h"
#include "support/swf_builder.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;
using player::video::testing::ReadFile;

constexpr int kW = 160, kH = 120, kLatency = 100;

#define REQUIRE_FFMPEG() \
  if (!player::video::testing::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed"

// Two seconds of black and silence that turn white and loud together at 0.5 s.
bool MakeClip(const fs::path& out, const std::string& format) {
  const std::string cmd =
      "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i \"color=c=black:s=" + std::to_string(kW) + "x" +
      std::to_string(kH) +
      ":r=10:d=2,drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='gte(t,0.5)'\" -f lavfi -i "
      "\"sine=f=440:r=44100:d=2,volume='if(gte(t,0.5),4,0)':eval=frame\" -c:v flv1 -g 5 -c:a libmp3lame -ar 44100 "
      "-f " + format + " " + ShellQuote(out.string());
  return std::system(cmd.c_str()) == 0;
}

// When the picture turns white and when the sound starts, in milliseconds.
struct Onsets {
  std::optional<double> picture, sound;
};

Onsets Measure(const fs::path& avi, const fs::path& scratch) {
  Onsets o;
  const fs::path gray = scratch / "frames.gray", pcm = scratch / "sound.s16";
  const std::string in = "ffmpeg -hide_banner -loglevel error -nostdin -y -i " + ShellQuote(avi.string());
  if (std::system((in + " -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt gray " + ShellQuote(gray.string())).c_str()) == 0) {
    const auto bytes = ReadFile(gray);
    const std::size_t n = static_cast<std::size_t>(kW) * kH;
    for (std::size_t f = 0; (f + 1) * n <= bytes.size(); ++f) {
      std::uint64_t sum = 0;
      for (std::size_t i = 0; i < n; ++i) sum += bytes[f * n + i];
      if (sum / n > 128) {
        o.picture = static_cast<double>(f) * kLatency;
        break;
      }
    }
  }
  if (std::system((in + " -map 0:a -f s16le -ac 1 -ar 44100 " + ShellQuote(pcm.string())).c_str()) == 0) {
    const auto bytes = ReadFile(pcm);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const auto s = static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8));
      if (std::abs(s) > 2000) {
        o.sound = static_cast<double>(i / 2) * 1000.0 / 44100.0;
        break;
      }
    }
  }
  return o;
}

void ExpectInStep(const CliRunner& cli, const fs::path& movie) {
  const fs::path avi = cli.Folder() / "out.avi";
  const auto r = cli.Run({"convert", movie.string(), avi.string(), "--latency", std::to_string(kLatency), "--size",
                          std::to_string(kW) + "x" + std::to_string(kH), "--sound", "pcm", "--codec", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Onsets o = Measure(avi, cli.Folder());
  ASSERT_TRUE(o.picture) << "the picture never turned white";
  ASSERT_TRUE(o.sound) << "the recording stayed silent";
  ::testing::Test::RecordProperty("picture_ms", std::to_string(*o.picture));
  ::testing::Test::RecordProperty("sound_ms", std::to_string(*o.sound));
  EXPECT_NEAR(*o.picture, 500, kLatency);
  EXPECT_NEAR(*o.sound, *o.picture, kLatency);
}

TEST(VideoCapture, EmbeddedVideoAndItsSoundStayInStep) {
  REQUIRE_FFMPEG();
  CliRunner cli("video-embedded");
  const fs::path movie = cli.Folder() / "movie.swf";
  ASSERT_TRUE(MakeClip(movie, "swf"));
  ExpectInStep(cli, movie);
}

TEST(VideoCapture, FlvBesideTheMovieAndItsSoundStayInStep) {
  REQUIRE_FFMPEG();
  CliRunner cli("video-flv");
  ASSERT_TRUE(MakeClip(cli.Folder() / "clip.flv", "flv"));
  // 25 frames at 10 a second; the first attaches the stream to "vid" and plays it.
  SwfBuilder b(8, {0, kW * 20, 0, kH * 20}, 10.0);
  b.SetBackgroundColor({0, 0, 0, 255});
  b.Tag(swf::tag::kDefineVideoStream, std::vector<std::uint8_t>{1, 0, 0, 0, kW, 0, kH, 0, 0, 0});
  Placement p;
  p.characterId = 1;
  p.name = "vid";
  b.PlaceObject2(p);
  Actions a;
  auto var = [&](const char* name) { a.PushString(name).Raw(0x1C); };
  a.PushString("ns").PushNull().PushInt(1).PushString("NetStream").Raw(0x40).SetVariable();
  var("ns");
  a.PushInt(1).PushString("vid").Raw(0x1C).PushString("attachVideo").Raw(0x52).Raw(0x17);
  a.PushString("clip.flv").PushInt(1);
  var("ns");
  a.PushString("play").Raw(0x52).Raw(0x17);
  b.DoAction(a).ShowFrame();
  for (int i = 1; i < 25; ++i) b.ShowFrame();
  const fs::path movie = cli.Folder() / "movie.swf";
  b.WriteFile(movie);
  ExpectInStep(cli, movie);
}

}  // namespace
}  // namespace quarvel::testing
