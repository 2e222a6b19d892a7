// quarvel-cli as a subprocess when things go wrong: what is kept, what is
// said, and who owns the working folder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "robustness/robustness_support.h"
#include "platform/audio/wave_file.h"
#include "support/swf_builder.h"

extern char** environ;

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// After SIGKILL the recording streamed so far is a valid WAVE file holding
// all but about the last second, and the writers say the capture is partial.
TEST(KilledCapture, KeepsItsSoundAndTheWritersSayItIsIncomplete) {
  CliRunner cli("killed");
  const fs::path movie = LongMovie(cli, 60);
  Background capture(cli, {"--quiet", "capture", movie.string(), "--realtime", "--sound", "pcm", "--latency", "100"},
                     "capture");
  const fs::path wav = cli.WorkDir() / "temp" / "_temp.wav";
  ASSERT_TRUE(WaitForFile(cli.WorkDir() / "temp" / "1.bmp", 1));
  std::this_thread::sleep_for(3s);
  capture.Signal(SIGKILL);
  EXPECT_EQ(capture.Wait(), -SIGKILL);

  const auto bytes = ReadBytes(wav);
  const audio::WaveInfo info = audio::ParseWave(bytes);
  const double seconds = double(info.data_size) / info.format.avg_bytes_per_sec;
  EXPECT_GT(seconds, 1.5) << "the recording lost more than the last second";
  EXPECT_LE(info.data_offset + info.data_size, bytes.size());
  EXPECT_NE(Record(cli).find("complete=0"), std::string::npos) << Record(cli);

  const CliResult gif = cli.Run({"--quiet", "gif", (cli.Folder() / "partial.gif").string()});
  EXPECT_EQ(gif.status, 0) << gif.err;
  EXPECT_NE(gif.err.find("did not complete"), std::string::npos) << gif.err;
  EXPECT_NE(gif.err.find(" frames it left"), std::string::npos) << gif.err;
  EXPECT_TRUE(fs::exists(cli.Folder() / "partial.gif"));
  // The sound it kept converts, with the same warning.
  const CliResult mp3 = cli.Run({"--quiet", "mp3", (cli.Folder() / "partial.mp3").string()});
  EXPECT_EQ(mp3.status, 0) << mp3.err;
  EXPECT_NE(mp3.err.find("did not complete"), std::string::npos) << mp3.err;
}

TEST(EmptyRecording, Mp3FailsAndAviSaysItHasNoSound) {
  CliRunner cli("empty-rec");
  ASSERT_EQ(cli.Run({"--quiet", "capture", SampleMovie(), "--sound", "pcm", "--latency", "500"}).status, 0);
  EXPECT_NE(Record(cli).find("complete=1"), std::string::npos);
  EXPECT_NE(Record(cli).find("recording_ms=4"), std::string::npos) << Record(cli);  // about four seconds
  // What a failed recording leaves: the bare header.
  const fs::path wav = cli.WorkDir() / "temp" / "_temp.wav";
  WriteBytes(wav, audio::WaveHeader(audio::WaveFormat::Pcm(2, 44100, 16), 0));

  const fs::path mp3 = cli.Folder() / "x.mp3";
  const CliResult m = cli.Run({"--quiet", "mp3", mp3.string()});
  EXPECT_EQ(m.status, 1);
  EXPECT_NE(m.err.find(wav.string()), std::string::npos) << m.err;
  EXPECT_NE(m.err.find("empty"), std::string::npos) << m.err;
  EXPECT_FALSE(fs::exists(mp3));

  const fs::path avi = cli.Folder() / "x.avi";
  const CliResult a = cli.Run({"avi", avi.string(), "--codec", "none"});
  EXPECT_EQ(a.status, 0) << a.err;
  EXPECT_NE(a.err.find("the recording is empty"), std::string::npos) << a.err;
  EXPECT_NE(a.err.find("no sound"), std::string::npos) << a.err;
  EXPECT_EQ(a.err.find("with the recording"), std::string::npos) << a.err;
}

TEST(WorkingFolder, SecondRunFailsAtOnceOrWaitsWithWait) {
  CliRunner cli("lock");
  const fs::path movie = LongMovie(cli, 60);
  Background first(cli, {"--quiet", "capture", movie.string(), "--realtime", "--sound", "none"}, "first");
  ASSERT_TRUE(WaitForFile(cli.WorkDir() / "temp" / "1.bmp", 1));

  const auto start = std::chrono::steady_clock::now();
  const CliResult second = cli.Run({"--quiet", "capture", SampleMovie()});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find(cli.WorkDir().string()), std::string::npos) << second.err;
  EXPECT_NE(second.err.find("process " + std::to_string(first.Pid())), std::string::npos) << second.err;
  EXPECT_EQ(cli.Run({"gif", (cli.Folder() / "x.gif").string()}).status, 1);
  EXPECT_FALSE(fs::exists(cli.Folder() / "x.gif"));

  // With --wait the second run goes on once the first has ended.
  Background waiting(cli, {"--wait", "--quiet", "gif", (cli.Folder() / "y.gif").string()}, "waiting");
  std::this_thread::sleep_for(1s);
  first.Signal(SIGINT);
  EXPECT_EQ(first.Wait(), 0) << first.Err();
  EXPECT_EQ(waiting.Wait(), 0) << waiting.Err();
  EXPECT_TRUE(fs::exists(cli.Folder() / "y.gif"));
}

// Zeros deflate about 1000:1: a small file that inflates to `mib` MiB.
std::vector<std::uint8_t> Bomb(int mib) {
  std::vector<std::uint8_t> body(static_cast<std::size_t>(mib) << 20, 0);
  const SwfBuilder b;
  auto head = b.Build();
  std::copy(head.begin() + 8, head.end(), body.begin());
  auto z = ZlibCompress(body, 9);
  std::vector<std::uint8_t> file = {'C', 'W', 'S', 10};
  const std::uint32_t len = static_cast<std::uint32_t>(body.size() + 8);
  for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(len >> (8 * i)));
  file.insert(file.end(), z.begin(), z.end());
  return file;
}

TEST(CompressedMovies, BombsAreRefusedBeforeAnyCopyAndTheCapCanBeRaised) {
  CliRunner cli("bomb");
  const fs::path bomb = cli.Folder() / "bomb.swf";
  WriteBytes(bomb, Bomb(40));
  const CliResult r = cli.Run({"--max-movie-size", "32", "capture", bomb.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(bomb.string()), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("32 MiB"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--max-movie-size"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(cli.WorkDir() / "uncompress.swf"));
  EXPECT_EQ(cli.Run({"--max-movie-size", "32", "info", bomb.string()}).status, 1);
  // The same movie within the cap is a (blank) movie like any other.
  EXPECT_EQ(cli.Run({"--max-movie-size", "64", "info", bomb.string()}).status, 0);
}

TEST(CompressedMovies, CutFilesPlayWhatTheyHoldInEveryCommandAndSaySo) {
  CliRunner cli("cut");
  const auto whole = ReadBytes(SampleMovie());
  ASSERT_EQ(whole[0], 'C');
  const fs::path cut = cli.Folder() / "cut.swf";
  WriteBytes(cut, std::span(whole).first(whole.size() * 2 / 3));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"info", cut.string()}, {"--quiet", "capture", cut.string(), "--latency", "500"},
        {"frame", cut.string(), (cli.Folder() / "f.png").string()}, {"sounds", cut.string()}}) {
    SCOPED_TRACE(args[0] == "--quiet" ? args[1] : args[0]);
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.find("cut off") != std::string::npos || r.out.find("cut off") != std::string::npos)
        << r.err << r.out;
  }
}

// Names in `folder` that a writer leaves while it works.
std::vector<std::string> Temporaries(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.find(".part") != std::string::npos || name.find("~AWTemp") != std::string::npos) out.push_back(name);
  }
  return out;
}

fs::path Scratch(const fs::path& folder) {
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.path().filename().string().starts_with("~AWTemp")) return e.path();
  }
  return {};
}

class Interrupts : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path movie = LongMovie(cli_, 30);
    ASSERT_EQ(cli_.Run({"--quiet", "capture", movie.string(), "--latency", "25", "--sound", "pcm"}).status, 0);
    fs::create_directories(out_);
  }
  // An AVI writer in the background, once its scratch file (in the working
  // folder, off the output's disk) has grown.
  std::unique_ptr<Background> StartAvi() {
    auto avi = std::make_unique<Background>(
        cli_, std::vector<std::string>{"--quiet", "avi", (out_ / "x.avi").string(), "--codec", "none", "--zoom", "300"},
        "avi");
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < end) {
      const fs::path s = Scratch(cli_.WorkDir());
      std::error_code ec;
      if (!s.empty() && fs::file_size(s, ec) > (1u << 15)) break;
      std::this_thread::sleep_for(10ms);
    }
    return avi;
  }
  CliRunner cli_{"interrupt"};
  fs::path out_ = cli_.Folder() / "out";
};

TEST_F(Interrupts, CtrlCStopsTheWriterAtOnceAndLeavesNothing) {
  auto avi = StartAvi();
  ASSERT_FALSE(Scratch(cli_.WorkDir()).empty());
  EXPECT_TRUE(Temporaries(out_).empty()) << "the raw frames wait beside the output";
  const auto sent = std::chrono::steady_clock::now();
  avi->Signal(SIGINT);
  EXPECT_EQ(avi->Wait(), 130);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 3s);
  EXPECT_NE(avi->Err().find("interrupted"), std::string::npos) << avi->Err();
  EXPECT_TRUE(Temporaries(out_).empty());
  EXPECT_TRUE(Scratch(cli_.WorkDir()).empty());
  EXPECT_FALSE(fs::exists(out_ / "x.avi"));

  // A second Ctrl-C ends the program at once, also without litter.
  avi = StartAvi();
  avi->Signal(SIGINT);
  avi->Signal(SIGINT);
  EXPECT_EQ(avi->Wait(), 130);
  EXPECT_TRUE(Temporaries(out_).empty());
  EXPECT_TRUE(Scratch(cli_.WorkDir()).empty());
  // SIGTERM, as a scheduler sends it, is told apart.
  avi = StartAvi();
  avi->Signal(SIGTERM);
  EXPECT_EQ(avi->Wait(), 143);
  EXPECT_TRUE(Scratch(cli_.WorkDir()).empty());
}

TEST_F(Interrupts, WhatAKilledWriterLeftIsRemovedByTheNextRun) {
  auto avi = StartAvi();
  const pid_t killed = avi->Pid();
  avi->Signal(SIGKILL);
  EXPECT_EQ(avi->Wait(), -SIGKILL);
  const std::string scratch = Scratch(cli_.WorkDir()).filename().string();
  ASSERT_FALSE(scratch.empty());
  // "~AWTempx.part-TAG-PID.avi": the tag of this host, boot and namespace.
  const std::size_t at = scratch.find(".part-") + 6;
  const std::string tag = scratch.substr(at, 16);
  ASSERT_NE(scratch.find(tag + "-" + std::to_string(killed) + "."), std::string::npos) << scratch;
  // What the killed run left beside an output goes; another run's
  // temporary file, still being written, stays; so does one of another
  // container (another tag), whatever its process id.
  const fs::path dead = out_ / ("w.part-" + tag + "-" + std::to_string(killed) + ".gif");
  const fs::path alive = out_ / ("y.part-" + tag + "-" + std::to_string(::getpid()) + ".gif");
  const fs::path elsewhere = out_ / ("v.part-" + std::string(tag == "0123456789abcdef" ? "fedcba9876543210" : "0123456789abcdef") +
                                     "-" + std::to_string(killed) + ".gif");
  for (const fs::path& p : {dead, alive, elsewhere}) WriteBytes(p, std::vector<std::uint8_t>(10, 0));
  const CliResult r = cli_.Run({"--quiet", "gif", (out_ / "z.gif").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(alive));
  EXPECT_TRUE(fs::exists(elsewhere));
  // The working folder's owner clears the killed writer's scratch file.
  EXPECT_TRUE(Scratch(cli_.WorkDir()).empty());
}

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST(FullDisk, EveryFailureNamesTheFileAndTheCauseOnce) {
  CliRunner cli("full");
  // The capture: the frame files are small, the recording is not.
  const fs::path movie = LongMovie(cli, 20);
  CliResult r = RunWithFileLimit(cli, 200, {"--quiet", "capture", movie.string(), "--sound", "pcm"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find("_temp.wav"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(std::strerror(EFBIG)), std::string::npos) << r.err;
  EXPECT_NE(ReadText(cli.WorkDir() / "temp" / "last-capture.txt").find("complete=1"), std::string::npos);

  // The GIF: no partial file, and the cause.
  ASSERT_EQ(cli.Run({"--quiet", "capture", movie.string()}).status, 0);
  const fs::path gif = cli.Folder() / "big.gif";
  r = RunWithFileLimit(cli, 4, {"--quiet", "gif", gif.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find(gif.string()), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(std::strerror(EFBIG)), std::string::npos) << r.err;
  EXPECT_TRUE(Temporaries(cli.Folder()).empty());
  EXPECT_FALSE(fs::exists(gif));

  // The AVI likewise.
  const fs::path avi = cli.Folder() / "big.avi";
  r = RunWithFileLimit(cli, 40, {"--quiet", "avi", avi.string(), "--codec", "none"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find("big"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(std::strerror(EFBIG)), std::string::npos) << r.err;
  EXPECT_TRUE(Temporaries(cli.Folder()).empty());
  EXPECT_FALSE(fs::exists(avi));
}

// A capture that failed on a full working folder leaves its frames; the next
// capture of a compressed movie clears them before it writes the expanded
// copy, or it would fail again. The folder is a small file system of its own.
TEST(FullDisk, StaleFramesAreClearedBeforeTheExpandedCopyIsWritten) {
  CliRunner cli("stale");
  if (std::system("unshare -m true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no mount namespace here";
  // 600 KB of movie, a few KB on disk.
  SwfBuilder b(10, {0, 4000, 0, 3000}, 10.0);
  const std::vector<std::uint8_t> padding(600 * 1024, 0);
  b.Tag(77, padding);  // Metadata: the player reads past it
  b.ShowFrame();
  const fs::path movie = cli.Folder() / "padded.swf";
  b.WriteFile(movie, swf::Compression::kZlib);
  ASSERT_LT(fs::file_size(movie), 64u * 1024);

  const fs::path mnt = cli.Folder() / "small";
  fs::create_directories(mnt);
  // 1 MiB of room, 700 KB of it taken by the frames of a failed capture.
  const std::string script =
      "mount -t tmpfs -o size=1m tmpfs " + ShellQuote(mnt.string()) + " || exit 77; " +
      "mkdir -p " + ShellQuote((mnt / "temp").string()) + "; " +
      "for n in 1 2 3 4 5 6 7; do head -c 100000 /dev/zero > " + ShellQuote((mnt / "temp").string()) +
      "/$n.bmp; done; " + ShellQuote(std::string(QUARVEL_BINARY_DIR) + "/src/cli/quarvel-cli") + " --quiet --work-dir " +
      ShellQuote(mnt.string()) + " capture " + ShellQuote(movie.string()) + " --sound none; echo rc=$?; ls " +
      ShellQuote((mnt / "temp").string());
  const fs::path out = cli.Folder() / "out.txt";
  const int raw = std::system(("unshare -m sh -c " + ShellQuote(script) + " >" + ShellQuote(out.string()) +
                               " 2>&1 </dev/null").c_str());
  if (WIFEXITED(raw) && WEXITSTATUS(raw) == 77) GTEST_SKIP() << "tmpfs cannot be mounted here";
  const std::string text = ReadText(out);
  EXPECT_NE(text.find("rc=0"), std::string::npos) << text;
  // Only the new capture's frame is left.
  EXPECT_EQ(text.find("7.bmp"), std::string::npos) << text;
}

TEST(Sounds, ATinyFileFailsAndAFullDiskLeavesNoEmptyFile) {
  CliRunner cli("sounds");
  const fs::path tiny = cli.Folder() / "tiny.swf";
  WriteBytes(tiny, std::vector<std::uint8_t>{'F', 'W', 'S'});
  CliResult r = cli.Run({"sounds", tiny.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(tiny.string()), std::string::npos) << r.err;

  // The sample's stream sound is larger than the limit.
  const fs::path movie = cli.Folder() / "s.swf";
  fs::copy_file(SampleMovie(), movie);
  r = RunWithFileLimit(cli, 2, {"sounds", movie.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(std::strerror(EFBIG)), std::string::npos) << r.err;
  for (const auto& e : fs::directory_iterator(cli.Folder())) {
    if (e.path().filename().string().starts_with("s_")) {
      EXPECT_GT(fs::file_size(e.path()), 0u) << e.path();
    }
  }
}

}  // namespace
}  // namespace quarvel::testing
