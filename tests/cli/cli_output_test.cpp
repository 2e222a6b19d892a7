// quarvel-cli writing GIF, AVI, MP3 and extracted sounds, checked by
// independent readers: giflib for GIFs, ffprobe for AVIs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include "cli/cli_run.h"
#include "support/swf_builder.h"
#include "gif/gif_pictures.h"
#include "gif/giflib_reader.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

long long CapturedFrames(const CliRunner& cli) {
  std::string record = ReadText(cli.WorkDir() / "temp" / "last-capture.txt");
  std::smatch m;
  if (!std::regex_search(record, m, std::regex("frames=(\\d+)"))) return -1;
  return std::stoll(m[1]);
}

// ffprobe's stream fields, one map per stream.
std::vector<std::map<std::string, std::string>> Probe(const fs::path& file) {
  std::string cmd = "ffprobe -v error -show_streams -of default=nw=0 " + ShellQuote(file.string()) + " 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
  std::vector<std::map<std::string, std::string>> streams;
  if (!pipe) return streams;
  char line[512];
  while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    if (s == "[STREAM]") {
      streams.emplace_back();
    } else if (auto eq = s.find('='); eq != std::string::npos && !streams.empty()) {
      streams.back()[s.substr(0, eq)] = s.substr(eq + 1);
    }
  }
  return streams;
}

// Loudest sample of a file's sound in dB (ffmpeg's volumedetect); -999 when none.
double MaxVolume(const fs::path& file) {
  std::string cmd = "ffmpeg -v info -nostats -i " + ShellQuote(file.string()) +
                    " -map 0:a -af volumedetect -f null - 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
  std::string all;
  char buf[512];
  while (pipe && std::fgets(buf, sizeof buf, pipe.get()) != nullptr) all += buf;
  std::smatch m;
  if (!std::regex_search(all, m, std::regex("max_volume: (-?[0-9.]+) dB"))) return -999;
  return std::stod(m[1]);
}

bool LeftoverTemporaries(const fs::path& folder) {
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().find(".part-") != std::string::npos ||
        e.path().filename().string().starts_with("~AWTemp"))
      return true;
  return false;
}

TEST(CliConvert, GifHoldsEveryCapturedFrameWithTheLatencyAsDelay) {
  CliRunner cli("gif");
  const auto out = cli.Folder() / "sample.gif";
  auto r = cli.Run({"convert", SampleMovie(), out.string(), "--latency", "130", "--size", "275x200", "--mode",
                    "best", "--sound", "none", "--no-optimize"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, fs::absolute(out).string() + "\n");
  const long long frames = CapturedFrames(cli);
  ASSERT_GT(frames, 20);
  auto gif = gif::testing::DecodeWithGiflib(ReadBytes(out));
  EXPECT_EQ(gif.screen_width, 275);
  EXPECT_EQ(gif.screen_height, 200);
  ASSERT_EQ(static_cast<long long>(gif.frames.size()), frames);
  EXPECT_EQ(gif.frames[0].loop_count, std::optional<int>(0));
  for (const auto& f : gif.frames) {
    EXPECT_EQ(f.delay, 13);
    EXPECT_FALSE(f.transparent);
  }

  // The same store as difference frames: fewer or as many frames, the same
  // total time, and a gif of its own from the store alone.
  const auto smaller = cli.Folder() / "smaller.gif";
  r = cli.Run({"gif", smaller.string(), "--mode", "smaller", "--colors", "gray"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto diff = gif::testing::DecodeWithGiflib(ReadBytes(smaller));
  ASSERT_LE(diff.frames.size(), gif.frames.size());
  long long total = 0;
  for (const auto& f : diff.frames) total += f.delay;
  EXPECT_EQ(total, 13 * frames);
  EXPECT_FALSE(LeftoverTemporaries(cli.Folder()));
}

TEST(CliConvert, GifBuiltDuringTheCaptureIsTheGifOfTheStore) {
  // convert builds while the capture runs; the gif command reads the store
  // that capture left. Same options, same bytes, optimised or not.
  CliRunner cli("gifstream");
  for (const char* optimise : {"--optimize", "--no-optimize", "--thorough"}) {
    const auto streamed = cli.Folder() / "streamed.gif", stored = cli.Folder() / "stored.gif";
    auto r = cli.Run({"convert", SampleMovie(), streamed.string(), "--latency", "40", "--size", "220x160",
                      "--sound", "none", optimise});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GT(CapturedFrames(cli), 20);
    r = cli.Run({"gif", stored.string(), optimise});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(streamed), ReadBytes(stored)) << optimise;
  }
}

// --thorough (the older bytes) and the default choices show the same
// pictures for the same times, in whatever frames, on pictures too small
// for sampled palettes.
TEST(CliConvert, ThoroughGifShowsThePicturesOfTheDefaultOne) {
  CliRunner cli("gifthorough");
  const auto quick = cli.Folder() / "quick.gif", thorough = cli.Folder() / "thorough.gif";
  auto r = cli.Run({"convert", SampleMovie(), quick.string(), "--latency", "40", "--size", "220x160", "--sound", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = cli.Run({"gif", thorough.string(), "--thorough"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto want = gif::testing::ShownPictures(gif::testing::DecodeWithGiflib(ReadBytes(thorough)));
  const auto got = gif::testing::ShownPictures(gif::testing::DecodeWithGiflib(ReadBytes(quick)));
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].delay, want[i].delay) << i;
    EXPECT_TRUE(got[i].pixels == want[i].pixels) << i;
  }
}

TEST(CliConvert, CtrlCDuringTheCaptureStillWritesTheGifOfTheFramesSoFar) {
  CliRunner cli("gifint");
  const auto out = cli.Folder() / "cut.gif";
  // --foreground: timeout otherwise sends the signal to the program and again
  // to its group, and a second signal is the one that ends the program at once.
  const std::string cmd = "timeout --foreground --preserve-status -s INT 1.5 " + ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli") +
                          " --work-dir " + ShellQuote(cli.WorkDir().string()) + " convert " +
                          ShellQuote(SampleMovie()) + " " + ShellQuote(out.string()) +
                          " --realtime --duration 60000 --latency 100 --size 110x80 --sound none >/dev/null 2>" +
                          ShellQuote((cli.Folder() / "err.txt").string());
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  // The GIF holds the first part of the movie: no success for whoever retries failed runs.
  ASSERT_EQ(WEXITSTATUS(raw), 130) << ReadText(cli.Folder() / "err.txt");
  EXPECT_NE(ReadText(cli.Folder() / "err.txt").find(out.string() + ": partial: SIGINT"), std::string::npos)
      << ReadText(cli.Folder() / "err.txt");
  const long long frames = CapturedFrames(cli);
  ASSERT_GT(frames, 0);
  EXPECT_LT(frames, 100) << "the capture ended at Ctrl-C";
  const auto gif = gif::testing::DecodeWithGiflib(ReadBytes(out));
  long long total = 0;
  for (const auto& f : gif.frames) total += f.delay;
  EXPECT_EQ(total, 10 * frames) << "every captured frame is in the GIF";
}

TEST(CliConvert, AviCarriesTheFramesAtTheLatencyAndTheRecording) {
  CliRunner cli("avi");
  const auto out = cli.Folder() / "sample.avi";
  auto r = cli.Run({"convert", SampleMovie(), out.string(), "--latency", "100", "--size", "275x200", "--sound",
                    "pcm", "--codec", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  const long long frames = CapturedFrames(cli);
  auto streams = Probe(out);
  ASSERT_EQ(streams.size(), 2u) << r.err;
  const auto& video = streams[0];
  EXPECT_EQ(video.at("codec_type"), "video");
  EXPECT_EQ(video.at("width"), "280");  // 275 rounded up to a multiple of 8
  EXPECT_EQ(video.at("height"), "200");
  EXPECT_EQ(video.at("r_frame_rate"), "10/1");
  EXPECT_EQ(video.at("nb_frames"), std::to_string(frames));
  const auto& audio = streams[1];
  EXPECT_EQ(audio.at("codec_type"), "audio");
  EXPECT_EQ(audio.at("sample_rate"), "44100");
  EXPECT_EQ(audio.at("channels"), "2");
  // The sample's streamed tone (8000 of 32767, about -12 dB) reached the recording.
  EXPECT_GT(MaxVolume(out), -20.0);
  // As long as the capture: one latency per frame.
  EXPECT_NEAR(std::stod(audio.at("nb_frames")) / 44100.0, frames * 0.1, 0.15);

  // From the same store, without sound, with the default compressor.
  const auto quiet = cli.Folder() / "quiet.avi";
  r = cli.Run({"avi", quiet.string(), "--no-audio", "--zoom", "50"});
  ASSERT_EQ(r.status, 0) << r.err;
  streams = Probe(quiet);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].at("width"), "144");  // 137 rounded up
  EXPECT_FALSE(LeftoverTemporaries(cli.Folder()));
}

// convert to AVI loads FFmpeg's codecs alone; libavformat, and the forty
// libraries it brings, only for the containers that need it.
TEST(CliConvert, AviLoadsTheCodecsWithoutLibavformat) {
  CliRunner cli("avi-libraries");
  const auto loaded = [&cli](const fs::path& out) {
    const fs::path log = cli.Folder() / "ld";
    const std::string cmd = "LD_DEBUG=files LD_DEBUG_OUTPUT=" + ShellQuote(log.string()) + " " +
                            ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli") + " -q convert " +
                            ShellQuote(SampleMovie()) + " " + ShellQuote(out.string()) +
                            " --latency 100 --duration 300 --size 96x64 --sound pcm 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << out;
    std::string text;
    for (const auto& entry : fs::directory_iterator(cli.Folder()))
      if (entry.path().filename().string().starts_with("ld.")) {
        text += ReadText(entry.path());
        fs::remove(entry.path());
      }
    return text;
  };
  const std::string avi = loaded(cli.Folder() / "out.avi");
  EXPECT_NE(avi.find("libavcodec.so"), std::string::npos);
  EXPECT_EQ(avi.find("libavformat.so"), std::string::npos);
  EXPECT_EQ(avi.find("libgnutls.so"), std::string::npos);
  EXPECT_EQ(Probe(cli.Folder() / "out.avi").size(), 2u) << "the pictures and the recording";

  const std::string mp4 = loaded(cli.Folder() / "out.mp4");
  EXPECT_NE(mp4.find("libavformat.so"), std::string::npos);
  EXPECT_EQ(Probe(cli.Folder() / "out.mp4").size(), 2u);
}

// A capture that recorded nothing leaves no recording to miss; one that
// recorded and lost it is worth a warning, even under -q.
TEST(CliConvert, AviWarnsOfAMissingRecordingOnlyWhenOneWasMade) {
  CliRunner cli("avi-quiet");
  const auto out = cli.Folder() / "out.avi";
  const std::vector<std::string> small = {"--latency", "100", "--size", "96x64", "--duration", "500"};
  auto with = [&small](std::vector<std::string> args, std::vector<std::string> more = {}) {
    args.insert(args.end(), small.begin(), small.end());
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  for (bool own_folder : {false, true}) {
    auto r = cli.Run(with({"-q", "convert", SampleMovie(), out.string()}, {"--sound", "none"}), own_folder);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << (own_folder ? "with --work-dir" : "a private folder");
    EXPECT_EQ(Probe(out).size(), 1u);
  }

  auto r = cli.Run(with({"capture", SampleMovie()}, {"--sound", "none"}));
  ASSERT_EQ(r.status, 0) << r.err;
  r = cli.Run({"-q", "avi", out.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  r = cli.Run(with({"capture", SampleMovie()}, {"--sound", "pcm"}));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(fs::remove(cli.WorkDir() / "temp" / "_temp.wav"));
  r = cli.Run({"-q", "avi", out.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("no recording at"), std::string::npos) << r.err;
  EXPECT_EQ(Probe(out).size(), 1u);
}

// convert hands each picture to the AVI writer as it is captured; the file
// is the one the frame store gives to the avi command, byte for byte, with
// the store kept (--work-dir) or not (a private folder), the default codec,
// zoomed with the recording, and past the movie's end (pictures left out).
TEST(CliConvert, AviFromTheCaptureEqualsAviFromTheStore) {
  CliRunner cli("avi-same");
  // A square that moves twice, then stands: most of each loop repeats a picture.
  const fs::path still = cli.Folder() / "still.swf";
  {
    SwfBuilder m(10, {0, 2000, 0, 1500}, 10.0);
    ShapeBuilder s;
    s.Rectangle(0, 0, 400, 400, s.AddFill(FillStyle::Solid({200, 0, 0})));
    m.DefineShape(1, s);
    for (int f = 0; f < 8; ++f) {
      Placement p;
      p.depth = 1;
      if (f == 0) p.characterId = 1;
      p.move = f > 0;
      p.matrix = swf::Matrix{};
      p.matrix->translateX = std::min(f, 2) * 300;
      m.PlaceObject2(p);
      m.ShowFrame();
    }
    m.WriteFile(still, swf::Compression::kZlib);
  }
  struct Case {
    std::string movie;
    std::vector<std::string> options;
  };
  // The recording on the virtual clock is the same every run, so one case
  // carries it too.
  const std::vector<Case> cases = {
      {SampleMovie(), {"--latency", "100", "--size", "150x110", "--sound", "none"}},
      {SampleMovie(), {"--latency", "50", "--size", "150x110", "--zoom", "50", "--sound", "pcm"}},
      {SampleMovie(), {"--latency", "250", "--size", "96x64", "--duration", "12000", "--codec", "MJPG", "--sound", "none"}},
      {still.string(), {"--latency", "100", "--duration", "3000", "--sound", "none"}}};
  for (const auto& [movie, options] : cases) {
    SCOPED_TRACE(movie + " " + ::testing::PrintToString(options));
    const auto streamed = cli.Folder() / "streamed.avi", stored = cli.Folder() / "stored.avi";
    const auto kept = cli.Folder() / "kept.avi";
    std::vector<std::string> convert = {"convert", movie, streamed.string()};
    convert.insert(convert.end(), options.begin(), options.end());
    auto r = cli.Run(convert, false);
    ASSERT_EQ(r.status, 0) << r.err;
    convert[2] = kept.string();
    r = cli.Run(convert);
    ASSERT_EQ(r.status, 0) << r.err;
    // The capture then the writer, with the same options each takes.
    std::vector<std::string> capture = {"capture", movie}, avi = {"avi", stored.string()};
    for (std::size_t i = 0; i + 1 < options.size(); i += 2) {
      const bool for_avi = options[i] == "--zoom" || options[i] == "--codec";
      (for_avi ? avi : capture).push_back(options[i]);
      (for_avi ? avi : capture).push_back(options[i + 1]);
    }
    r = cli.Run(capture);
    ASSERT_EQ(r.status, 0) << r.err;
    if (movie == still.string()) {
      // Pictures left out of the store, which the AVI shows again.
      const long long frames = CapturedFrames(cli);
      long long files = 0;
      for (long long n = 1; n <= frames; ++n) files += fs::exists(cli.WorkDir() / "temp" / (std::to_string(n) + ".bmp"));
      EXPECT_LT(files, frames / 2);
    }
    r = cli.Run(avi);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto reference = ReadBytes(stored);
    ASSERT_GT(reference.size(), 1000u);
    EXPECT_TRUE(ReadBytes(streamed) == reference) << "a private folder";
    EXPECT_TRUE(ReadBytes(kept) == reference) << "with --work-dir";
    EXPECT_FALSE(LeftoverTemporaries(cli.Folder()));
    EXPECT_FALSE(LeftoverTemporaries(cli.WorkDir()));
  }
}

// The command line leaves the player's objects to the process's exit: the
// files it writes are whole all the same, and its private folder goes.
TEST(CliConvert, OutputsAreWholeAndThePrivateFolderGoesAtExit) {
  CliRunner cli("exit");
  const fs::path tmp = cli.Folder() / "tmp";
  fs::create_directories(tmp);
  const fs::path movie = cli.Folder() / "picture.swf";
  {
    SwfBuilder m(10, {0, 2000, 0, 1500}, 10.0);
    const std::vector<swf::Rgba> px{{200, 0, 0, 255}, {0, 200, 0, 255}, {0, 0, 200, 255}, {9, 9, 9, 255}};
    m.DefineBitsLossless(5, 2, 2, px);
    ShapeBuilder s;
    swf::Matrix bm;
    bm.scaleX = bm.scaleY = 400;
    s.Rectangle(0, 0, 800, 800, s.AddFill(FillStyle::Bitmap(5, bm, true, false)));
    m.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame().ShowFrame().ShowFrame();
    m.WriteFile(movie, swf::Compression::kZlib);
  }
  const char* was = std::getenv("TMPDIR");
  const std::string saved = was ? was : "";
  ::setenv("TMPDIR", tmp.c_str(), 1);
  const auto avi = cli.Folder() / "out.avi", png = cli.Folder() / "out.png";
  const auto converted = cli.Run({"convert", movie.string(), avi.string(), "--latency", "100", "--duration", "500"}, false);
  const auto framed = cli.Run({"frame", movie.string(), png.string(), "--frame", "2"}, false);
  if (was) ::setenv("TMPDIR", saved.c_str(), 1); else ::unsetenv("TMPDIR");
  ASSERT_EQ(converted.status, 0) << converted.err;
  ASSERT_EQ(framed.status, 0) << framed.err;
  const auto streams = Probe(avi);
  ASSERT_FALSE(streams.empty());
  EXPECT_EQ(streams[0].at("nb_frames"), "5");
  const auto picture = ReadBytes(png);
  ASSERT_GT(picture.size(), 8u);
  EXPECT_EQ(picture[1], 'P');
  EXPECT_TRUE(fs::is_empty(tmp)) << fs::directory_iterator(tmp)->path();
  EXPECT_FALSE(LeftoverTemporaries(cli.Folder()));
}

TEST(CliConvert, Mp3FromAPcmRecording) {
  CliRunner cli("mp3");
  const auto out = cli.Folder() / "sample.mp3";
  auto r = cli.Run({"convert", SampleMovie(), out.string(), "--latency", "500", "--size", "110x80"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto streams = Probe(out);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].at("codec_name"), "mp3");

  // An ADPCM recording is refused by name.
  ASSERT_EQ(cli.Run({"capture", SampleMovie(), "--latency", "500", "--size", "110x80"}).status, 0);
  const auto refused = cli.Folder() / "refused.mp3";
  r = cli.Run({"mp3", refused.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("PCM"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(refused));
}

TEST(CliSounds, WritesTheStreamBesideTheMovie) {
  CliRunner cli("sounds");
  const auto movie = cli.Folder() / "clip.v1.swf";
  fs::copy_file(SampleMovie(), movie);
  auto r = cli.Run({"sounds", movie.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto stream = cli.Folder() / "clip_StreamSound1.WAV";
  // The window's notice that the movie was compressed is no news here.
  EXPECT_EQ(r.out.find("Uncompressed !"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(stream.string()), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("saved !"), std::string::npos) << r.out;
  // Sixty blocks of 735 16-bit samples behind a WAVE header.
  ASSERT_TRUE(fs::exists(stream));
  EXPECT_EQ(fs::file_size(stream), 44u + 60u * 735u * 2u);
  // --raw: the blocks as stored, each without its first four bytes.
  r = cli.Run({"sounds", "--raw", movie.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(stream), 60u * (735u * 2u - 4u));

  const auto text = cli.Folder() / "notes.swf";
  std::ofstream(text) << "not a movie at all";
  r = cli.Run({"sounds", text.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(text.string() + ": not a SWF movie"), std::string::npos) << r.err;
}

TEST(CliConvert, BadOutputsFailBeforeTheCaptureAndLeaveNothing) {
  CliRunner cli("bad-out");
  const auto nowhere = cli.Folder() / "missing" / "x.gif";
  auto r = cli.Run({"convert", SampleMovie(), nowhere.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(nowhere.string()), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(cli.WorkDir() / "temp" / "1.bmp")) << "captured although the output was bad";

  const auto avi = cli.Folder() / "x.avi";
  r = cli.Run({"convert", SampleMovie(), avi.string(), "--codec", "ZZZZ"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("unknown codec \"ZZZZ\""), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(avi));

  r = cli.Run({"convert", SampleMovie(), (cli.Folder() / "x.ogv").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(".gif, .avi, .mp3 or a video extension"), std::string::npos) << r.err;

  // Writers without a capture say so.
  r = cli.Run({"gif", (cli.Folder() / "y.gif").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no captured frames"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(cli.Folder() / "y.gif"));
  EXPECT_FALSE(LeftoverTemporaries(cli.Folder()));
}

TEST(CliCodecs, ListsNoCompressionFirstAndMarksOneDefault) {
  CliRunner cli("codecs");
  auto r = cli.Run({"codecs"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(2, 15), "No Compression\n") << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '*'), 1) << r.out;
  EXPECT_TRUE(r.err.empty()) << r.err;
}

}  // namespace
}  // namespace quarvel::testing
