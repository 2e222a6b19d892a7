// quarvel-cli tells the truth about its result: stopped scripts, signals at
// every stage, runs sharing a folder across containers, small disks, cut
// movies and the messages that name file and cause.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <regex>

#include "robustness/robustness_support.h"
#include "support/as3_movie.h"

namespace quarvel::testing {
namespace {

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

fs::path WriteMovie(const CliRunner& cli, const std::string& name, const SwfBuilder& b,
                    swf::Compression c = swf::Compression::kNone) {
  const fs::path path = cli.Folder() / name;
  b.WriteFile(path, c);
  return path;
}

// A movie of `frames` frames running `actions` on its first frame.
fs::path As1Movie(const CliRunner& cli, const std::string& name, const Actions& actions, int frames = 2) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DoAction(actions);
  for (int i = 0; i < frames; ++i) b.ShowFrame();
  return WriteMovie(cli, name, b);
}

// Runs quarvel-cli with an environment variable set.
CliResult RunWith(const CliRunner& cli, const std::string& name, const std::string& value,
                  const std::vector<std::string>& args) {
  ::setenv(name.c_str(), value.c_str(), 1);
  CliResult r = cli.Run(args);
  ::unsetenv(name.c_str());
  return r;
}

TEST(StoppedScripts, EachCapIsSaidOnceAsAWarningNamingTheMovie) {
  CliRunner cli("stopped");
  // A jump to itself runs until the instruction cap; a function that calls
  // itself reaches the recursion limit.
  const fs::path loop = As1Movie(cli, "loop.swf", Actions().Jump(-5));
  const fs::path deep = As1Movie(
      cli, "deep.swf",
      Actions().DefineFunction("f", {}, Actions().PushInt(0).PushString("f").Raw(0x3D)).PushInt(0).PushString("f").Raw(0x3D));
  As3Movie as3;
  const auto as3_bytes = as3.Build([](As3Movie&, AbcCode& c) { c.Label("top").Op("label").Branch("jump", "top"); }, 2);
  const fs::path as3_loop = cli.Folder() / "as3loop.swf";
  WriteBytes(as3_loop, as3_bytes);
  const fs::path calm = As1Movie(cli, "calm.swf", Actions().PushString("x").PushInt(1).SetVariable());

  struct Case {
    fs::path movie;
    std::string why;
  };
  for (const Case& c : {Case{loop, "ActionScript 1/2: the instruction cap"}, Case{deep, "ActionScript 1/2: the recursion limit"},
                        Case{as3_loop, "ActionScript 3: the instruction cap"}}) {
    SCOPED_TRACE(c.movie.filename().string());
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--quiet", "capture", c.movie.string(), "--sound", "none", "--max-frames", "3"},
          {"frame", c.movie.string(), (cli.Folder() / "f.png").string()}}) {
      const CliResult r = cli.Run(args);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(Count(r.err, "warning: " + c.movie.string() + ": a script was stopped"), 1) << r.err;
      EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    }
  }
  const CliResult r = cli.Run({"--quiet", "capture", calm.string(), "--sound", "none", "--max-frames", "3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("stopped"), std::string::npos) << r.err;
}

// The first frame's scripts (ActionScript 1 frame actions, the ActionScript
// 3 document class's constructor) run once per capture, with or without --size.
TEST(StoppedScripts, TheFirstFrameRunsItsScriptsOnce) {
  CliRunner cli("once");
  // Long enough not to loop back to the first frame during the capture.
  const fs::path as1 = As1Movie(cli, "as1.swf", Actions().PushString("first frame ran").Trace(), 30);
  As3Movie m;
  const fs::path as3 = cli.Folder() / "as3.swf";
  WriteBytes(as3, m.Build([](As3Movie& d, AbcCode& c) { d.Trace(c, "first frame ran"); }, 30));
  for (const fs::path& movie : {as1, as3}) {
    for (const bool sized : {false, true}) {
      SCOPED_TRACE(movie.filename().string() + (sized ? " --size" : ""));
      std::vector<std::string> args = {"--quiet", "capture", movie.string(), "--max-frames", "1"};
      if (sized) args.insert(args.end(), {"--size", "50x50"});
      const CliResult r = RunWith(cli, "QUARVEL_DEBUG", "1", args);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(Count(r.err, "trace: first frame ran"), 1) << r.err;
    }
  }
}

// ---- signals ------------------------------------------------------------

// A run in a process group of its own, as a terminal's job or a scheduler's.
Launch Grouped() {
  Launch how;
  how.own_group = true;
  return how;
}

// A capture at real time, so that a signal finds it running.
std::vector<std::string> RealtimeConvert(const fs::path& movie, const fs::path& out) {
  return {"convert", movie.string(), out.string(), "--realtime", "--latency", "100"};
}

TEST(Signals, ACaptureCutShortIsNoSuccess) {
  CliRunner cli("cut-short");
  const fs::path movie = LongMovie(cli, 60);
  for (const int sig : {SIGINT, SIGTERM}) {
    for (const std::string ext : {".avi", ".gif"}) {
      SCOPED_TRACE(std::to_string(sig) + ext);
      const fs::path out = cli.Folder() / ("x" + ext);
      Background run(cli, RealtimeConvert(movie, out), "convert");
      // The capture's own start, not the record an earlier run left.
      const auto end = std::chrono::steady_clock::now() + 120s;
      while (run.Err().find("capture: started") == std::string::npos && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
      ASSERT_NE(run.Err().find("capture: started"), std::string::npos) << run.Err();
      std::this_thread::sleep_for(1500ms);
      run.Signal(sig);
      EXPECT_EQ(run.Wait(), 128 + sig) << run.Err();
      EXPECT_NE(run.Err().find("partial"), std::string::npos) << run.Err();
      EXPECT_NE(run.Err().find(sig == SIGINT ? "SIGINT" : "SIGTERM"), std::string::npos) << run.Err();
      EXPECT_TRUE(fs::exists(out));
      EXPECT_EQ(run.Out().find(out.filename().string()), std::string::npos) << "a partial output is not announced";
      fs::remove(out);
    }
  }
}

// A movie whose every frame changes every pixel (a rotating many-stop
// gradient), so that building its GIF takes seconds on any machine.
fs::path BusyMovie(const CliRunner& cli, int frames) {
  SwfBuilder b(8, {0, 4000, 0, 3000}, 10.0);
  ShapeBuilder s;
  std::vector<GradientStop> stops;
  for (int i = 0; i < 15; ++i)
    stops.push_back({static_cast<std::uint8_t>(i * 18),
                     {static_cast<std::uint8_t>(i * 97 % 256), static_cast<std::uint8_t>(i * 53 % 256),
                      static_cast<std::uint8_t>(i * 151 % 256), 255}});
  swf::Matrix g;
  g.scaleX = g.scaleY = 3000.0 / 32768.0;
  s.Rectangle(-4000, -4000, 8000, 8000, s.AddFill(FillStyle::Radial(stops, g)));
  b.DefineShape3(1, s);
  for (int f = 0; f < frames; ++f) {
    Placement p;
    p.depth = 1;
    if (f == 0) p.characterId = 1;
    p.move = f > 0;
    const double a = f * 0.37;
    p.matrix = swf::Matrix{std::cos(a), std::cos(a), std::sin(a), -std::sin(a), 2000 + (f * 131) % 400, 1500};
    b.PlaceObject2(p);
    b.ShowFrame();
  }
  const fs::path path = cli.Folder() / "busy.swf";
  b.WriteFile(path);
  return path;
}

// `frame` far into a movie whose every frame runs a script to its cap: the
// signal stops it between two frames instead of after all of them.
TEST(Signals, AFrameFarIntoASlowMovieStopsAtTheSignal) {
  CliRunner cli("frame-signal");
  const fs::path movie = As1Movie(cli, "loop.swf", Actions().Jump(-5));
  const fs::path out = cli.Folder() / "late.png";
  Background run(cli, {"frame", movie.string(), out.string(), "--frame", "100000"}, "frame");
  std::this_thread::sleep_for(1500ms);
  run.Signal(SIGTERM);
  // Unheard, the run would take hours: end it after a while, as a failure.
  std::atomic<bool> done = false;
  const pid_t pid = run.Pid();
  std::thread watchdog([&done, pid] {
    for (int i = 0; i < 1200 && !done; ++i) std::this_thread::sleep_for(100ms);
    if (!done) ::kill(pid, SIGKILL);
  });
  const int status = run.Wait();
  done = true;
  watchdog.join();
  EXPECT_EQ(status, 128 + SIGTERM) << run.Err();
  EXPECT_NE(run.Err().find(movie.string() + ": interrupted"), std::string::npos) << run.Err();
  EXPECT_FALSE(fs::exists(out));
}

// Ctrl-C of the whole group, as a terminal sends it, in the steps after the
// capture: each stops at once and says "interrupted", leaving nothing.
TEST(Signals, LaterStepsOfConvertStopAndSayInterrupted) {
  CliRunner cli("later");
  // GIF: big pictures make a build of some seconds after a quick capture.
  {
    const fs::path movie = BusyMovie(cli, 60);
    const fs::path out = cli.Folder() / "big.gif";
    Background run(cli, {"convert", movie.string(), out.string(), "--scale", "6", "--latency", "100", "--dither", "floyd"},
                   "gif", Grouped());
    // The GIF step's start line follows the capture (slow under the sanitizers).
    const auto end = std::chrono::steady_clock::now() + 300s;
    while (run.Err().find("gif: started") == std::string::npos && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(5ms);
    ASSERT_NE(run.Err().find("gif: started"), std::string::npos) << run.Err();
    ASSERT_EQ(run.Err().find("bytes"), std::string::npos) << "the GIF was built before the signal: " << run.Err();
    const auto sent = std::chrono::steady_clock::now();
    run.SignalGroup(SIGINT);
    EXPECT_EQ(run.Wait(), 130) << run.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 3s);
    EXPECT_NE(run.Err().find("interrupted"), std::string::npos) << run.Err();
    EXPECT_FALSE(fs::exists(out));
  }
  // MP3: the encoder is stopped too, also when only quarvel-cli hears the signal.
  const fs::path movie = LongMovie(cli, 300);
  for (const bool group : {false, true}) {
    SCOPED_TRACE(group ? "group" : "alone");
    const fs::path out = cli.Folder() / "long.mp3";
    Background run(cli, {"--quiet", "convert", movie.string(), out.string(), "--latency", "1000"}, "mp3",
                   Grouped());
    const fs::path children = "/proc/" + std::to_string(run.Pid()) + "/task/" + std::to_string(run.Pid()) + "/children";
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (ReadText(children).empty() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    const std::string encoder = ReadText(children);
    ASSERT_FALSE(encoder.empty()) << run.Err();
    if (group)
      run.SignalGroup(SIGINT);
    else
      run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 130) << run.Err();
    EXPECT_NE(run.Err().find(out.string() + ": interrupted"), std::string::npos) << run.Err();
    EXPECT_EQ(run.Err().find("could not convert"), std::string::npos) << run.Err();
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(std::stoi(encoder)))) << "the encoder runs on";
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST(Signals, ASecondCtrlCLeavesNoPrivateWorkingFolder) {
  CliRunner cli("second");
  const fs::path movie = LongMovie(cli, 60);
  const fs::path tmp = cli.Folder() / "tmp";
  fs::create_directories(tmp);
  Background run(cli, RealtimeConvert(movie, cli.Folder() / "x.avi"), "convert",
                 [&] {
                   Launch how;
                   how.work_dir = false;
                   how.env = {"TMPDIR=" + tmp.string(), "QUARVEL_HOME"};
                   return how;
                 }());
  // A first frame taken: in the frame store, or (convert to AVI in a folder
  // that goes) in the AVI writer's scratch file.
  const auto frames = [&] {
    for (const auto& e : fs::directory_iterator(tmp)) {
      if (fs::exists(e.path() / "temp" / "1.bmp")) return true;
      std::error_code ec;
      for (const auto& f : fs::directory_iterator(e.path(), ec))
        if (f.path().filename().string().starts_with("~AWTemp")) return true;
    }
    return false;
  };
  const auto end = std::chrono::steady_clock::now() + 30s;
  while (!frames() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(frames());
  run.Signal(SIGINT);
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(), 130);
  EXPECT_TRUE(fs::is_empty(tmp)) << fs::directory_iterator(tmp)->path();
}

// A batch a scheduler stops: the movie cut short is "partial", the exit
// status says it was stopped.
TEST(Signals, ABatchStoppedBySigtermListsPartialMovies) {
  CliRunner cli("batch-term");
  const fs::path movie = LongMovie(cli, 60);
  const fs::path out = cli.Folder() / "out";
  Background run(cli, {"--quiet", "convert", movie.string(), movie.string(), "--out-dir", out.string(), "--format", "avi",
                       "--realtime", "--latency", "100", "-j", "1"},
                 "batch", Grouped());
  std::this_thread::sleep_for(2500ms);
  run.SignalGroup(SIGTERM);
  EXPECT_EQ(run.Wait(), 143) << run.Err();
  const std::string table = run.Out();
  EXPECT_TRUE(std::regex_search(table, std::regex("long\\.swf +partial "))) << table;
  EXPECT_TRUE(std::regex_search(table, std::regex("long\\.swf +not run "))) << table;
  EXPECT_NE(table.find("SIGTERM cut the capture short"), std::string::npos) << table;
  EXPECT_EQ(table.find(" ok "), std::string::npos) << table;
}

// ---- a folder shared by runs in other containers ----------------------------

TEST(SharedFolder, ARunInAnotherPidNamespaceKeepsItsFileInProgress) {
  CliRunner cli("pidns");
  if (std::system("unshare --pid --fork true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no PID namespaces here";
  const fs::path movie = LongMovie(cli, 10);
  ASSERT_EQ(cli.Run({"--quiet", "capture", movie.string(), "--latency", "100", "--sound", "none"}).status, 0);
  const fs::path out = cli.Folder() / "out";
  fs::create_directories(out);
  // The first run is not the first process of its namespace, so that its
  // process id means nothing in the second's.
  Background first(cli, {"--quiet", "avi", (out / "a.avi").string(), "--codec", "none", "--zoom", "300"}, "first",
                   [] {
                     Launch how = Grouped();
                     how.prefix = {"unshare", "--pid", "--fork", "--kill-child", "sh", "-c", "\"$@\"; exit $?", "sh"};
                     return how;
                   }());
  const auto part = [&] {
    for (const auto& e : fs::directory_iterator(out))
      if (e.path().filename().string().starts_with("a.part-")) return e.path();
    return fs::path();
  };
  const auto end = std::chrono::steady_clock::now() + 60s;
  while (part().empty() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
  ASSERT_FALSE(part().empty()) << first.Err();
  // Held still while the second run writes beside it.
  first.SignalGroup(SIGSTOP);
  const fs::path in_progress = part();
  CliRunner other("pidns-other");
  const std::string second = "unshare --pid --fork " + ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli") +
                             " --work-dir " + ShellQuote(other.WorkDir().string()) + " frame " +
                             ShellQuote(SampleMovie()) + " " + ShellQuote((out / "b.png").string());
  EXPECT_EQ(std::system(second.c_str()), 0);
  EXPECT_TRUE(fs::exists(out / "b.png"));
  EXPECT_TRUE(fs::exists(in_progress));
  first.SignalGroup(SIGCONT);
  EXPECT_EQ(first.Wait(), 0) << first.Err();
  EXPECT_TRUE(fs::exists(out / "a.avi"));
}

// ---- disks --------------------------------------------------------------------

// Runs a shell script in a mount namespace of its own with `mnt` a tmpfs of
// `size`; false when that cannot be done here.
bool WithSmallDisk(const fs::path& mnt, const std::string& size, const std::string& script, std::string& output) {
  if (std::system("unshare -m true >/dev/null 2>&1") != 0) return false;
  fs::create_directories(mnt);
  const std::string all = "mount -t tmpfs -o size=" + size + " tmpfs " + ShellQuote(mnt.string()) + " || exit 77; " + script;
  const fs::path log = mnt.parent_path() / (mnt.filename().string() + ".log");
  const int raw = std::system(("unshare -m sh -c " + ShellQuote(all) + " >" + ShellQuote(log.string()) + " 2>&1 </dev/null").c_str());
  output = ReadText(log);
  return !(WIFEXITED(raw) && WEXITSTATUS(raw) == 77);
}

std::string Cli() { return ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli"); }

TEST(SmallDisks, AStillMovieIsStoredOnceAndAnAviNeedsOnlyItsOwnRoom) {
  CliRunner cli("still");
  // A movie that declares 65,535 frames at 1 frame per second and shows one picture.
  SwfBuilder still(8, {0, 11000, 0, 8000}, 1.0);
  ShapeBuilder s;
  s.Rectangle(0, 0, 4000, 4000, s.AddFill(FillStyle::Solid({0, 90, 200})));
  still.DefineShape(1, s);
  Placement p;
  p.depth = 1;
  p.characterId = 1;
  still.PlaceObject2(p);
  still.ShowFrame();
  still.SetFrameCount(65535);
  const fs::path movie = WriteMovie(cli, "still.swf", still);
  const CliResult r = cli.Run({"--quiet", "capture", movie.string(), "--sound", "none", "--max-frames", "400"});
  ASSERT_EQ(r.status, 0) << r.err;
  int files = 0;
  for (const auto& e : fs::directory_iterator(cli.WorkDir() / "temp")) files += e.path().extension() == ".bmp";
  EXPECT_EQ(files, 1);

  // 400 frames of 550 x 400 would take 260 MB raw; the AVI itself a few KB.
  const fs::path mnt = cli.Folder() / "small";
  std::string text;
  if (!WithSmallDisk(mnt, "4m",
                     Cli() + " --quiet --work-dir " + ShellQuote(cli.WorkDir().string()) + " convert " +
                         ShellQuote(movie.string()) + " " + ShellQuote((mnt / "still.avi").string()) +
                         " --max-frames 400 --sound none; echo rc=$?; ls -l " + ShellQuote(mnt.string()),
                     text))
    GTEST_SKIP() << "tmpfs cannot be mounted here";
  EXPECT_NE(text.find("rc=0"), std::string::npos) << text;
  EXPECT_NE(text.find("still.avi"), std::string::npos) << text;
}

TEST(SmallDisks, AFullDiskIsNamedWithItsCause) {
  CliRunner cli("enospc");
  const fs::path mnt = cli.Folder() / "full";
  const std::string nospace = std::strerror(ENOSPC);
  // frame: the PNG named, not its temporary name; the cause.
  std::string text;
  if (!WithSmallDisk(mnt, "16k",
                     "head -c 12000 /dev/zero > " + ShellQuote((mnt / "filler").string()) + "; " + Cli() + " --work-dir " +
                         ShellQuote(cli.WorkDir().string()) + " frame " + ShellQuote(SampleMovie()) + " " +
                         ShellQuote((mnt / "f.png").string()) + "; echo rc=$?; ls " + ShellQuote(mnt.string()),
                     text))
    GTEST_SKIP() << "tmpfs cannot be mounted here";
  EXPECT_NE(text.find("rc=1"), std::string::npos) << text;
  EXPECT_NE(text.find((mnt / "f.png").string() + ": cannot write: " + nospace), std::string::npos) << text;
  EXPECT_EQ(text.find(".part-"), std::string::npos) << text;

  // mp3: the encoder's failure with its cause.
  ASSERT_EQ(cli.Run({"--quiet", "capture", LongMovie(cli, 30).string(), "--sound", "pcm", "--latency", "500"}).status, 0);
  WithSmallDisk(mnt, "64k",
                Cli() + " --quiet --work-dir " + ShellQuote(cli.WorkDir().string()) + " mp3 " +
                    ShellQuote((mnt / "s.mp3").string()) + "; echo rc=$?; ls " + ShellQuote(mnt.string()),
                text);
  EXPECT_NE(text.find("rc=1"), std::string::npos) << text;
  EXPECT_NE(text.find((mnt / "s.mp3").string()), std::string::npos) << text;
  EXPECT_NE(text.find(nospace), std::string::npos) << text;
  EXPECT_EQ(text.find(".part-"), std::string::npos) << text;
}

// ---- cut movies and messages ------------------------------------------------------

TEST(CutMovies, LzmaMoviesAreSaidCutOffInEveryCommandAndInBatches) {
  CliRunner cli("zws");
  SwfBuilder b = [] {
    SwfBuilder m(10, {0, 4000, 0, 3000}, 10.0);
    ShapeBuilder s;
    s.Rectangle(0, 0, 400, 400, s.AddFill(FillStyle::Solid({200, 0, 0})));
    m.DefineShape(1, s);
    for (int f = 0; f < 40; ++f) {
      Placement p;
      p.depth = 1;
      if (f == 0) p.characterId = 1;
      p.move = f > 0;
      p.matrix = swf::Matrix{};
      p.matrix->translateX = f * 50;
      m.PlaceObject2(p);
      m.ShowFrame();
    }
    return m;
  }();
  const auto whole = b.Build(swf::Compression::kLzma);
  const fs::path cut = cli.Folder() / "cut.swf";
  WriteBytes(cut, std::span(whole).first(whole.size() * 2 / 3));
  const std::string said = "warning: " + cut.string() + ": the file is cut off";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info", cut.string()}, {"--quiet", "capture", cut.string(), "--latency", "500"},
        {"frame", cut.string(), (cli.Folder() / "f.png").string()}}) {
    SCOPED_TRACE(args[0] == "--quiet" ? args[1] : args[0]);
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Count(r.err, said), 1) << r.err;
  }
  const CliResult sounds = cli.Run({"sounds", cut.string()});
  EXPECT_EQ(sounds.status, 0) << sounds.err;
  EXPECT_NE(sounds.err.find("warning: " + cut.string() + ": the file "), std::string::npos) << sounds.err;
  EXPECT_EQ(sounds.out.find("cut off"), std::string::npos) << sounds.out;
  EXPECT_EQ(sounds.out.find("Uncompressed"), std::string::npos) << sounds.out;

  // A batch keeps the warning, and with -q a failure keeps its cause.
  const fs::path junk = cli.Folder() / "junk.swf";
  WriteBytes(junk, std::vector<std::uint8_t>{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0});
  const CliResult batch = cli.Run({"-q", "convert", cut.string(), junk.string(), "--out-dir",
                                   (cli.Folder() / "out").string(), "--format", "gif", "--latency", "500"});
  EXPECT_EQ(batch.status, 1) << batch.err;
  EXPECT_TRUE(std::regex_search(batch.out, std::regex("cut\\.swf +warning "))) << batch.out;
  EXPECT_NE(batch.out.find("    warning: " + cut.string() + ": the file is cut off"), std::string::npos) << batch.out;
  EXPECT_TRUE(std::regex_search(batch.out, std::regex("junk\\.swf +FAILED "))) << batch.out;
  EXPECT_NE(batch.out.find("    " + junk.string() + ": "), std::string::npos) << batch.out;
}

TEST(Messages, SoundsAndPlayerProblemsNameTheFileAndTheCause) {
  CliRunner cli("messages");
  // sounds on a file that is no movie, and on a ZWS movie that does not decompress.
  const fs::path text = cli.Folder() / "notes.swf";
  WriteBytes(text, std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  CliResult r = cli.Run({"sounds", text.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(text.string() + ": not a SWF movie"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("flash/swf"), std::string::npos) << r.err;
  std::vector<std::uint8_t> zws = SwfBuilder().Build(swf::Compression::kLzma);
  zws[12] = 0xFF;  // impossible LZMA properties
  const fs::path bad = cli.Folder() / "bad.swf";
  WriteBytes(bad, zws);
  r = cli.Run({"sounds", bad.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(bad.string()), std::string::npos) << r.err;
  EXPECT_EQ((r.out + r.err).find("Uncompressed"), std::string::npos) << r.out;

  // A sound of an unknown format (15) that the movie starts.
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  const std::vector<std::uint8_t> sound = {7, 0, 0xF2, 16, 0, 0, 0, 1, 2, 3, 4};
  b.Tag(14, sound);
  b.StartSound(7);
  b.ShowFrame();
  b.ShowFrame();
  const fs::path movie = WriteMovie(cli, "odd.swf", b);
  r = cli.Run({"--quiet", "capture", movie.string(), "--max-frames", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: " + movie.string() + ": sound 7"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("unknown sound format 15"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quarvel::testing
