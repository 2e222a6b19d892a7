// quarvel-cli as a subprocess: info, capture, frame, and how it fails.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <set>
#include <tuple>
#include <utility>

#include "cli/cli_run.h"
#include "support/swf_builder.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;

struct Rgb {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;
};

Rgb ReadPng(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Rgb out;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_RGB;
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return Rgb{};
  }
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  return out;
}

double MeanAbsoluteDifference(const Rgb& a, const Rgb& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
  return sum / double(a.pixels.size());
}

std::set<long long> FrameFiles(const fs::path& work) {
  std::set<long long> out;
  for (const auto& e : fs::directory_iterator(work / "temp"))
    if (e.path().extension() == ".bmp") out.insert(std::stoll(e.path().stem().string()));
  return out;
}

TEST(CliInfo, DescribesTheSampleMovie) {
  CliRunner cli("info");
  auto r = cli.Run({"info", SampleMovie()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("CWS (zlib)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("550 x 400 pixels"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("15 fps"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frames:      60"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("SoundStreamHead: uncompressed (little-endian), 11 kHz, 16-bit, mono"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("SoundStreamBlock: 60"), std::string::npos) << r.out;
}

// FFmpeg's libraries take longer to load than the rest of the program:
// runs that do not encode or decode media must not load them, the ones
// that do load them when they need them.
TEST(CliStartup, FfmpegLoadsOnlyWhenACommandNeedsIt) {
  CliRunner cli("startup");
  const std::string program = ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli");
  auto loaded = [&](const std::string& args, bool work_dir = true) {
    const fs::path log = cli.Folder() / "ld.txt";
    const std::string folder = work_dir ? " --work-dir " + ShellQuote(cli.WorkDir().string()) : "";
    const std::string cmd = "env -u QUARVEL_HOME LD_DEBUG=libs " + program + folder + " " + args + " >/dev/null 2>" +
                            ShellQuote(log.string()) + " </dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << args;
    const std::string text = ReadText(log);
    EXPECT_NE(text.find("libc.so"), std::string::npos) << "the loader's log is not there";
    return text.find("libavcodec") != std::string::npos;
  };
  EXPECT_FALSE(loaded("--version"));
  EXPECT_FALSE(loaded("info " + ShellQuote(SampleMovie())));
  EXPECT_TRUE(loaded("codecs"));
  // The sample's sound needs FFmpeg to be resampled, but only for a
  // recording: not without one, and not for a GIF in a folder that goes.
  const std::string gif = ShellQuote((cli.Folder() / "sample.gif").string());
  const std::string short_run = " --latency 100 --duration 500 --size 110x80";
  EXPECT_FALSE(loaded("capture " + ShellQuote(SampleMovie()) + short_run + " --sound none"));
  EXPECT_TRUE(loaded("capture " + ShellQuote(SampleMovie()) + short_run + " --sound adpcm22"));
  EXPECT_FALSE(loaded("convert " + ShellQuote(SampleMovie()) + " " + gif + short_run, false));
}

// The program only parses the command line: help and version need none of
// the libraries behind the commands, which come with the command module
// when a command runs.
TEST(CliStartup, HelpAndVersionLoadNoCommandModule) {
  CliRunner cli("module");
  const std::string program = ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli");
  auto libraries = [&](const std::string& args, int status) {
    const fs::path log = cli.Folder() / "ld.txt";
    const std::string cmd = "env -u QUARVEL_HOME LD_DEBUG=libs " + program + " --work-dir " +
                            ShellQuote(cli.WorkDir().string()) + " " + args + " >/dev/null 2>" +
                            ShellQuote(log.string()) + " </dev/null";
    const int raw = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == status) << args;
    return ReadText(log);
  };
  for (const std::string args : {"--version", "--help", "convert --help", "convert a.swf out.gif --latency 5"}) {
    const std::string text = libraries(args, args.find("--latency") != std::string::npos ? 2 : 0);
    EXPECT_NE(text.find("libstdc++"), std::string::npos) << "the loader's log is not there";
    EXPECT_EQ(text.find("libquarvel_cli_commands"), std::string::npos) << args;
    EXPECT_EQ(text.find("libcairo"), std::string::npos) << args;
  }
  const std::string text = libraries("info " + ShellQuote(SampleMovie()), 0);
  EXPECT_NE(text.find("libquarvel_cli_commands"), std::string::npos);
  EXPECT_NE(text.find("libcairo"), std::string::npos);
}

// A program copied beside a module that is not its own says which file is
// wrong and fails; help still works without the module.
TEST(CliStartup, ABrokenCommandModuleIsNamed) {
  CliRunner cli("broken-module");
  const fs::path program = cli.Folder() / "quarvel-cli";
  fs::copy_file(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli", program);
  const fs::path module = cli.Folder() / "libquarvel_cli_commands.so";
  auto run = [&](const std::string& args) {
    const fs::path err = cli.Folder() / "err.txt";
    const std::string cmd = ShellQuote(program.string()) + " " + args + " >/dev/null 2>" + ShellQuote(err.string());
    const int raw = std::system(cmd.c_str());
    return std::make_pair(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(err));
  };
  const std::string info = "--work-dir " + ShellQuote(cli.WorkDir().string()) + " info " + ShellQuote(SampleMovie());

  std::ofstream(module) << "not a shared object";
  auto [status, err] = run(info);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("cannot load the command module libquarvel_cli_commands.so"), std::string::npos) << err;
  EXPECT_NE(err.find(module.string()), std::string::npos) << err;
  EXPECT_EQ(run("--version").first, 0);

  // A shared object without the entry point: another module of ours.
  fs::remove(module);
  fs::copy_file(std::string(QUARVEL_BINARY_DIR) + "/src/platform/ffmpeg/libquarvel_ffmpeg.so", module);
  std::tie(status, err) = run(info);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find(module.string() + " does not match this program"), std::string::npos) << err;
}

// FFmpeg loads on a thread of its own while the movie plays: a module that
// does not load fails the writer that needs it, named, and nothing else.
TEST(CliStartup, AnFfmpegModuleLoadedAheadThatFailsIsNamedByTheWriter) {
  CliRunner cli("broken-ffmpeg");
  for (const char* file : {"quarvel-cli", "libquarvel_cli_commands.so"})
    fs::copy_file(std::string(QUARVEL_BINARY_DIR) + "/src/cli/" + file, cli.Folder() / file);
  const fs::path module = cli.Folder() / "libquarvel_ffmpeg.so";
  std::ofstream(module) << "not a shared object";
  auto convert = [&](const std::string& movie, const std::string& out) {
    const fs::path err = cli.Folder() / "err.txt";
    const std::string cmd = "env -u QUARVEL_HOME " + ShellQuote((cli.Folder() / "quarvel-cli").string()) +
                            " -q convert " + ShellQuote(movie) + " " + ShellQuote((cli.Folder() / out).string()) +
                            " --latency 100 --duration 300 --size 110x80 --sound none >/dev/null 2>" +
                            ShellQuote(err.string()) + " </dev/null";
    const int raw = std::system(cmd.c_str());
    return std::make_pair(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(err));
  };
  // The AVI writer loads it on its own thread, the other video writers ahead of their need.
  for (const std::string out : {"out.avi", "out.mkv"}) {
    auto [status, err] = convert(SampleMovie(), out);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(err.find("cannot load the FFmpeg module libquarvel_ffmpeg.so"), std::string::npos) << out << err;
    EXPECT_NE(err.find(module.string()), std::string::npos) << out << err;
    EXPECT_FALSE(fs::exists(cli.Folder() / out)) << out;
  }
  // A GIF needs no FFmpeg.
  auto [status, err] = convert(SampleMovie(), "out.gif");
  EXPECT_EQ(status, 0) << err;
  // A movie that does not open fails before any writer has loaded it.
  const fs::path text = cli.Folder() / "notes.swf";
  std::ofstream(text) << "just some words, not a movie";
  const fs::path log = cli.Folder() / "ld.txt";
  const std::string cmd = "env -u QUARVEL_HOME LD_DEBUG=libs " +
                          ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli") + " -q convert " +
                          ShellQuote(text.string()) + " " + ShellQuote((cli.Folder() / "notes.avi").string()) +
                          " >/dev/null 2>" + ShellQuote(log.string()) + " </dev/null";
  const int raw = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
  const std::string loaded = ReadText(log);
  EXPECT_NE(loaded.find("not a SWF file"), std::string::npos) << loaded;
  EXPECT_EQ(loaded.find("libavcodec"), std::string::npos);
}

TEST(CliErrors, BadInputsExitWithOneAndNameTheProblem) {
  CliRunner cli("errors");
  const std::string missing = (cli.Folder() / "missing.swf").string();
  auto r = cli.Run({"capture", missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(missing + ": no such file"), std::string::npos) << r.err;

  const auto text = cli.Folder() / "notes.swf";
  std::ofstream(text) << "just some words, not a movie";
  r = cli.Run({"info", text.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(text.string()), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("not a SWF file"), std::string::npos) << r.err;
  r = cli.Run({"capture", text.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(text.string()), std::string::npos) << r.err;

  r = cli.Run({"info", cli.Folder().string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is a folder"), std::string::npos) << r.err;
}

TEST(CliErrors, UsageErrorsExitWithTwo) {
  CliRunner cli("usage");
  const std::string movie = SampleMovie();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"capture"},
           {"capture", movie, "--latency", "10"},
           {"capture", movie, "--latency", "3001"},
           {"capture", movie, "--size", "550by400"},
           {"capture", movie, "--background", "blue"},
           {"capture", movie, "--sound", "mp3"},
           {"capture", movie, "--render-quality", "ultra"},
           {"capture", movie, "--click", "10"},
           {"capture", movie, "--click", "10,20@soon"},
           {"capture", movie, "--frobnicate"},
           {"frame", movie, "x.png", "--frame", "2", "--time", "10"},
           {"frame", movie, "x.png", "--frame", "0"},
       }) {
    auto r = cli.Run(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined << "\n" << r.err;
    EXPECT_FALSE(r.err.empty()) << joined;
  }
  auto help = cli.Run({"capture", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--latency"), std::string::npos);
  auto version = cli.Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("quarvel-cli"), std::string::npos);
}

// A red square that waits on its second frame (`wait` adds what it waits
// on; a stop on the first frame would not hold: the capture plays the movie
// once loaded), then moves on to frame 20 at 10 fps.
fs::path WaitingMovie(const fs::path& path, const std::function<void(SwfBuilder&)>& wait) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  ShapeBuilder red;
  red.Rectangle(0, 0, 400, 400, red.AddFill(FillStyle::Solid({255, 0, 0, 255})));
  b.DefineShape(1, red);
  wait(b);
  for (int f = 2; f < 20; ++f) b.PlaceObject2({.depth = 1, .move = true, .matrix = swf::Matrix{1, 1, 0, 0, f * 40, 800}}).ShowFrame();
  b.WriteFile(path);
  return path;
}

// Waits for a click on the button at pixels 40..59.
fs::path ButtonMovie(const fs::path& folder) {
  return WaitingMovie(folder / "button.swf", [](SwfBuilder& b) {
    b.DefineButton2(2, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1}},
                    {{.conditions = 0x0800, .actions = Actions().Play()}});
    swf::Matrix at;
    at.translateX = at.translateY = 800;
    b.ShowFrame();
    b.DoAction(Actions().Stop());
    b.PlaceObject2({.depth = 1, .characterId = 2, .matrix = at}).ShowFrame();
  });
}

TEST(CliCapture, ClickPressesTheMoviesButton) {
  CliRunner cli("click");
  const fs::path movie = ButtonMovie(cli.Folder());
  auto r = cli.Run({"capture", movie.string(), "--latency", "100", "--size", "100x100", "--sound", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("stood still"), std::string::npos) << r.err;
  r = cli.Run({"capture", movie.string(), "--latency", "100", "--size", "100x100", "--sound", "none", "--click",
               "50,50@1000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("reached its last frame"), std::string::npos) << r.err;
  // Ten ticks waiting, then one tick per frame.
  const auto files = FrameFiles(cli.WorkDir());
  EXPECT_NEAR(static_cast<double>(*files.rbegin()), 30, 2);
}

// Waits until the space bar goes down (a Key listener).
fs::path KeyMovie(const fs::path& folder) {
  return WaitingMovie(folder / "key.swf", [](SwfBuilder& b) {
    // w = {}; w.onKeyDown = function() { if (Key.getCode() == 32) _root.play(); }; Key.addListener(w); stop();
    constexpr std::uint8_t kGetVariable = 0x1C, kCallMethod = 0x52, kSetMember = 0x4F, kPop = 0x17, kEquals2 = 0x49,
                           kNot = 0x12, kInitObject = 0x43;
    Actions play;
    play.PushInt(0).PushString("_root").Raw(kGetVariable).PushString("play").Raw(kCallMethod).Raw(kPop);
    Actions onKey;
    onKey.PushInt(0).PushString("Key").Raw(kGetVariable).PushString("getCode").Raw(kCallMethod);
    onKey.PushInt(32).Raw(kEquals2).Raw(kNot).If(static_cast<std::int16_t>(play.Size())).Append(play);
    Actions a;
    a.PushString("w").PushInt(0).Raw(kInitObject).SetVariable();
    a.PushString("w").Raw(kGetVariable).PushString("onKeyDown").DefineFunction("", {}, onKey).Raw(kSetMember);
    a.PushString("w").Raw(kGetVariable).PushInt(1).PushString("Key").Raw(kGetVariable).PushString("addListener");
    a.Raw(kCallMethod).Raw(kPop);
    a.Stop();
    b.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
    b.DoAction(a).ShowFrame();
  });
}

TEST(CliCapture, KeyPressesReachTheMovie) {
  CliRunner cli("key");
  const fs::path movie = KeyMovie(cli.Folder());
  const std::vector<std::string> args = {"capture", movie.string(), "--latency", "100", "--size", "100x100", "--sound", "none"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> all = args;
    all.insert(all.end(), extra.begin(), extra.end());
    return cli.Run(all);
  };
  auto r = with({"--key", "a@500"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("stood still"), std::string::npos) << "another key plays nothing: " << r.err;
  r = with({"--key", "a@500", "--key", "Space@1000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("reached its last frame"), std::string::npos) << r.err;
  // Ten ticks waiting, then one tick per frame.
  const auto files = FrameFiles(cli.WorkDir());
  EXPECT_NEAR(static_cast<double>(*files.rbegin()), 30, 2);
  r = with({"--key", "Spacebar@1000"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("--key: \"Spacebar@1000\" names no key"), std::string::npos) << r.err;
}

TEST(CliCapture, FillsTheFrameStoreOfTheWorkingFolder) {
  CliRunner cli("capture");
  auto r = cli.Run({"capture", SampleMovie(), "--latency", "67", "--size", "275x200"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Not a terminal: one line per step.
  EXPECT_NE(r.err.find("capture: started"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("the movie reached its last frame"), std::string::npos) << r.err;
  auto files = FrameFiles(cli.WorkDir());
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(*files.begin(), 1);
  const long long last = *files.rbegin();
  // Four seconds at one tick every 67 ms.
  EXPECT_GE(last, 59);
  EXPECT_LE(last, 61);
  EXPECT_NE(ReadText(cli.WorkDir() / "temp" / "last-capture.txt").find("frames=" + std::to_string(last)),
            std::string::npos);

  // --quiet: nothing on standard error.
  r = cli.Run({"--quiet", "capture", SampleMovie(), "--latency", "500"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  files = FrameFiles(cli.WorkDir());
  EXPECT_LE(*files.rbegin(), 10) << "the longer earlier capture was not cleared";
}

// On the virtual clock the recording depends on the movie alone: captures
// run side by side, each recorder's thread scheduled as the machine lets
// it, give the same bytes.
TEST(CliCapture, ParallelCapturesGiveTheSameRecording) {
  CliRunner cli("parallel");
  constexpr int kRuns = 6;
  std::string cmd;
  for (int i = 0; i < kRuns; ++i) {
    const fs::path work = cli.Folder() / ("w" + std::to_string(i));
    cmd += ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli") + " --quiet --work-dir " +
           ShellQuote(work.string()) + " capture " + ShellQuote(SampleMovie()) +
           " --size 110x80 --sound pcm >" + ShellQuote((work.string() + ".err")) + " 2>&1 </dev/null & ";
  }
  cmd += "wait";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const fs::path first = cli.Folder() / "w0" / "temp" / "_temp.wav";
  const std::string reference = ReadText(first);
  // Four seconds of 16-bit stereo at 44100 Hz, with the sample's tone in it.
  ASSERT_GE(reference.size(), 44u + 4u * 44100u * 4u) << ReadText(cli.Folder() / "w0.err");
  double sum = 0;
  for (std::size_t i = 44; i + 1 < reference.size(); i += 2) {
    const auto v = static_cast<std::int16_t>(static_cast<std::uint8_t>(reference[i]) |
                                             (static_cast<std::uint8_t>(reference[i + 1]) << 8));
    sum += double(v) * v;
  }
  EXPECT_GT(std::sqrt(sum / double((reference.size() - 44) / 2)), 300);
  for (int i = 1; i < kRuns; ++i) {
    const fs::path other = cli.Folder() / ("w" + std::to_string(i)) / "temp" / "_temp.wav";
    const std::string got = ReadText(other);
    ASSERT_EQ(got.size(), reference.size()) << ReadText(cli.Folder() / ("w" + std::to_string(i) + ".err"));
    std::size_t at = 0;
    while (at < got.size() && got[at] == reference[at]) ++at;
    EXPECT_EQ(at, got.size()) << "capture " << i << " recorded other sound from byte " << at << " on";
  }
}

TEST(CliFrame, WritesThePictureAfterNFramesAtTheMoviesSize) {
  CliRunner cli("frame");
  const auto png = cli.Folder() / "f1.png";
  auto r = cli.Run({"frame", SampleMovie(), png.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  Rgb first = ReadPng(png);
  EXPECT_EQ(first.width, 550);
  EXPECT_EQ(first.height, 400);

  // Frame 30 shows 29 intervals of time after the start (1933.3 ms); at
  // 1900 ms frame 29 still shows.
  const auto f30 = cli.Folder() / "f30.png", t1934 = cli.Folder() / "t1934.png", t1900 = cli.Folder() / "t1900.png";
  ASSERT_EQ(cli.Run({"frame", SampleMovie(), f30.string(), "--frame", "30"}).status, 0);
  ASSERT_EQ(cli.Run({"frame", SampleMovie(), t1934.string(), "--time", "1934"}).status, 0);
  ASSERT_EQ(cli.Run({"frame", SampleMovie(), t1900.string(), "--time", "1900"}).status, 0);
  EXPECT_TRUE(ReadPng(f30).pixels == ReadPng(t1934).pixels);
  EXPECT_TRUE(ReadPng(f30).pixels != ReadPng(t1900).pixels);
  EXPECT_TRUE(ReadPng(f30).pixels != first.pixels);

  const auto small = cli.Folder() / "small.png";
  ASSERT_EQ(cli.Run({"frame", SampleMovie(), small.string(), "--size", "110x80", "--background", "ff0000"}).status, 0);
  EXPECT_EQ(ReadPng(small).width, 110);
}

TEST(CliFrame, UnwritableOutputFailsAndLeavesNoFile) {
  CliRunner cli("frame-out");
  const auto nowhere = cli.Folder() / "no-such-folder" / "x.png";
  auto r = cli.Run({"frame", SampleMovie(), nowhere.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(nowhere.string()), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(nowhere));

  fs::create_directories(cli.Folder() / "locked");
  fs::permissions(cli.Folder() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  const auto locked = cli.Folder() / "locked" / "x.png";
  r = cli.Run({"frame", SampleMovie(), locked.string()});
  if (::geteuid() != 0) {  // root writes anywhere
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(locked.string()), std::string::npos) << r.err;
  }
  fs::permissions(cli.Folder() / "locked", fs::perms::owner_all);
}

// Corpus movies without scripts whose reference the player matches: the
// frame numbering of the references is that of the frame command.
TEST(CliFrame, MatchesCorpusReferencePictures) {
  const fs::path corpus = fs::path(QUARVEL_SHARED_DIR) / "corpus";
  if (!fs::exists(corpus / "MANIFEST.tsv")) GTEST_SKIP() << "no corpus at " << corpus;
  CliRunner cli("frame-corpus");
  struct Case {
    const char* movie;
    const char* reference;
    const char* frame;
  };
  for (const Case& c : {Case{"swfdec/test/image/background-8.swf", "swfdec/test/image/background-8.swf.png", "11"},
                        Case{"swfdec/test/image/clip-change-set-8.swf", "swfdec/test/image/clip-change-set-8.swf.png", "11"},
                        Case{"swfdec/test/image/gradient-ratios.swf", "swfdec/test/image/gradient-ratios.swf.png", "11"}}) {
    const auto out = cli.Folder() / "frame.png";
    auto r = cli.Run({"frame", (corpus / c.movie).string(), out.string(), "--frame", c.frame});
    ASSERT_EQ(r.status, 0) << c.movie << ": " << r.err;
    Rgb mine = ReadPng(out), ref = ReadPng(corpus / c.reference);
    ASSERT_EQ(mine.width, ref.width) << c.movie;
    ASSERT_EQ(mine.height, ref.height) << c.movie;
    EXPECT_LE(MeanAbsoluteDifference(mine, ref), 3.0) << c.movie;
  }
}

}  // namespace
}  // namespace quarvel::testing
