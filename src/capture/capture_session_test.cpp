// The capture loop against a scripted player whose frame follows the clock,
// so every end rule can be steered exactly.
#include "capture/capture_session.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

namespace quarvel::capture {
namespace {

namespace fs = std::filesystem;

// A movie of `total` frames, one every `period_ms`, that loops or holds
// at `stop_at`. Its picture is a colour per frame (or one colour when `still`).
class ScriptedPlayer : public CapturePlayer {
 public:
  int total = 10;
  int period_ms = 100;
  int stop_at = -1;  // frame where the timeline stops, -1 for none
  bool loop = true;
  bool still = false;
  // The frames differ in one border pixel only (a corner, then an edge's middle).
  bool border_only = false;
  bool loads = true;
  int width = 40, height = 30;
  std::vector<std::string> calls;

  void Stop() override { calls.push_back("Stop"); playing_ = false; }
  void Play() override {
    calls.push_back("Play");
    if (!playing_) { playing_ = true; origin_ = now_ - frame_ * period_ms; }
  }
  void Unload() override { calls.push_back("Unload"); loaded_ = false; }
  void SetMovie(const std::string& path) override {
    calls.push_back("SetMovie " + path);
    loaded_ = loads;
    frame_ = 0;
    playing_ = true;
    origin_ = now_;
  }
  bool Loaded() const override { return loaded_; }
  std::string LoadError() const override { return "not a movie"; }
  int TotalFrames() const override { return loaded_ ? total : 0; }
  int CurrentFrame() const override { return frame_; }
  void AdvanceTo(std::int64_t ms) override {
    now_ = ms;
    if (!playing_ || !loaded_) return;
    long long k = (now_ - origin_) / period_ms;
    if (stop_at >= 0 && k >= stop_at) { frame_ = stop_at; playing_ = false; return; }
    frame_ = loop ? static_cast<int>(k % total) : static_cast<int>(std::min<long long>(k, total - 1));
  }
  void Paint(gdi::Bitmap& target) override {
    target = gdi::Bitmap(width, height, gdi::PixelFormat::pfDevice);
    if (border_only) {
      target.Fill(gdi::Color{40, 40, 40});
      const int w = width - 1, h = height - 1;
      const std::pair<int, int> spots[] = {{0, 0}, {w, 0}, {0, h}, {w, h}, {w / 2, 0}, {w / 2, h}, {0, h / 2}, {w, h / 2}};
      const auto [x, y] = spots[frame_ % 8];
      target.SetPixel(x, y, gdi::Color{255, 255, 255});
      return;
    }
    int v = still ? 7 : frame_;
    target.Fill(gdi::Color{static_cast<std::uint8_t>(v * 20), static_cast<std::uint8_t>(255 - v), 9});
  }

 private:
  bool loaded_ = false, playing_ = false;
  int frame_ = 0;
  std::int64_t now_ = 0, origin_ = 0;
};

class FakeRecorder : public CaptureRecorder {
 public:
  std::vector<std::string> calls;
  void StartRecording(const fs::path& file) override { calls.push_back("start " + file.filename().string()); }
  void SaveRecording() override { calls.push_back("save"); }
};

class CaptureSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("quarvel-session-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    ::setenv("QUARVEL_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    fs::remove_all(home_);
    ::unsetenv("QUARVEL_HOME");
  }

  CaptureCallbacks Callbacks() {
    CaptureCallbacks cb;
    cb.latency = [this] { return latency_; };
    cb.label = [this](const std::string& s) { labels_.push_back(s); };
    cb.thumbnail = [this](long long n, const gdi::Bitmap& b) {
      thumbs_.push_back(n);
      EXPECT_EQ(b.Width(), kThumbnailWidth);
      EXPECT_EQ(b.Height(), kThumbnailHeight);
    };
    cb.pump = [this] { if (on_pump_) on_pump_(); };
    return cb;
  }

  std::set<long long> FrameFiles() const {
    std::set<long long> out;
    for (const auto& e : fs::directory_iterator(paths::CaptureFolder())) {
      auto name = e.path().filename().string();
      if (e.path().extension() == ".bmp") out.insert(std::stoll(name));
    }
    return out;
  }

  fs::path home_;
  int latency_ = 100;
  std::vector<std::string> labels_;
  std::vector<long long> thumbs_;
  std::function<void()> on_pump_;
  audio::VirtualClock clock_;
  ScriptedPlayer player_;
  FakeRecorder recorder_;
};

TEST_F(CaptureSessionTest, OneFrameMovieGivesOneFileAndOneThumbnail) {
  player_.total = 1;
  CaptureSession s(player_, clock_, &recorder_, Callbacks());
  s.Run("one.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 1);
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1}));
  EXPECT_EQ(thumbs_, (std::vector<long long>{1}));
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceLastFrame);
  EXPECT_EQ(labels_.back(), "Capture finished");
  EXPECT_EQ(recorder_.calls, (std::vector<std::string>{"start _temp.wav", "save"}));
}

// Frames that differ from the one before in a single border pixel are
// changed frames: every one of them is written.
TEST_F(CaptureSessionTest, ChangeOfOneBorderPixelIsAWrittenFrame) {
  player_.total = 9;
  player_.loop = false;
  player_.border_only = true;
  player_.period_ms = latency_;
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  s.Run("border.swf");
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceLastFrame);
  std::set<long long> all;
  for (long long n = 1; n <= s.CapturedFrameCount(); ++n) all.insert(n);
  EXPECT_EQ(s.CapturedFrameCount(), 9);
  EXPECT_EQ(FrameFiles(), all);
}

TEST_F(CaptureSessionTest, StandstillOnFrameZeroEndsAtTickFifty) {
  player_.stop_at = 0;
  player_.still = true;
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  s.Run("still.swf");
  std::set<long long> expected{1, 11, 21, 31, 41, 50};
  EXPECT_EQ(s.CapturedFrameCount(), 50);
  EXPECT_EQ(FrameFiles(), expected);
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 11, 21, 31, 41, 50}));
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceStandstill);
  EXPECT_EQ(s.ShownFrame(), 50);
}

TEST_F(CaptureSessionTest, StandstillOnALaterFrameEndsAtItsFiftiethRepeat) {
  player_.stop_at = 4;  // frames 0..4 change every tick, then hold
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  s.Run("m.swf");
  // Ticks 1..5 see frames 0..4; the first sight of frame 4 resets the
  // counter, 50 more ticks on it end the capture.
  EXPECT_EQ(s.CapturedFrameCount(), 55);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceStandstill);
  std::set<long long> expected{1, 2, 3, 4, 5, 11, 21, 31, 41, 51, 55};
  EXPECT_EQ(FrameFiles(), expected);
}

TEST_F(CaptureSessionTest, PlayThroughEndsOnTheLastFrame) {
  player_.total = 20;
  player_.loop = false;
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  s.Run("m.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 20);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceLastFrame);
  EXPECT_EQ(FrameFiles().size(), 20u);
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 11, 20}));
  // The last file holds the last movie frame's picture.
  auto last = LoadFramePicture(paths::FrameFilePath(20));
  gdi::Bitmap expect;
  player_.Paint(expect);
  EXPECT_TRUE(FramesEqual(last, expect));
}

TEST_F(CaptureSessionTest, LoopingMovieEndsAtTheJumpBack) {
  player_.total = 7;
  latency_ = 400;  // ticks see frames 0, 4, then 1 (8 mod 7): the jump back
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  s.Run("loop.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 3);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceJumpBack);
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1, 2, 3}));
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 3}));
  EXPECT_EQ(labels_[2], "3 (1/2Frame,800ms) ");
}

TEST_F(CaptureSessionTest, StopRequestedEndsAfterTheCurrentTickWithoutThumbnail) {
  player_.total = 100;
  CaptureSession* session = nullptr;
  on_pump_ = [&] {
    if (session->CapturedFrameCount() == 7) session->RequestStop();
  };
  CaptureSession s(player_, clock_, &recorder_, Callbacks());
  session = &s;
  s.Run("m.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 7);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceStopRequested);
  EXPECT_EQ(thumbs_, (std::vector<long long>{1}));
  EXPECT_EQ(labels_.back(), "Capture finished");
  EXPECT_EQ(recorder_.calls.back(), "save");
  EXPECT_EQ(player_.calls.back(), "Stop");
  // A new run clears the flag.
  on_pump_ = nullptr;
  player_.total = 3;
  player_.loop = false;
  s.Run("m.swf");
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceLastFrame);
}

TEST_F(CaptureSessionTest, LabelsFollowTheClockAndTheLatencyOfTheMoment) {
  player_.total = 200;
  player_.period_ms = 80;
  latency_ = 250;
  CaptureSession* session = nullptr;
  on_pump_ = [&] {
    if (session->CapturedFrameCount() == 12) session->RequestStop();
  };
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  session = &s;
  s.Run("m.swf");
  ASSERT_GE(labels_.size(), 12u);
  EXPECT_EQ(labels_[0], "1 (0/0Frame,0ms) ");
  EXPECT_EQ(labels_[11], "12 (34/11Frame,2750ms) ");
}

TEST_F(CaptureSessionTest, LatencyChangedDuringTheWaitTakesEffectAtOnce) {
  player_.total = 1000;
  player_.period_ms = 10;
  latency_ = 100;
  CaptureSession* session = nullptr;
  on_pump_ = [&] {
    if (session->CapturedFrameCount() == 2) latency_ = 500;
    if (session->CapturedFrameCount() == 4) session->RequestStop();
  };
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  session = &s;
  s.Run("m.swf");
  ASSERT_GE(labels_.size(), 4u);
  EXPECT_EQ(labels_[1], "2 (10/0Frame,100ms) ");
  EXPECT_EQ(labels_[2], "3 (60/1Frame,600ms) ");
  EXPECT_EQ(labels_[3], "4 (110/2Frame,1100ms) ");
}

TEST_F(CaptureSessionTest, ResizedPlayerGivesFramesOfBothSizesAllWritten) {
  player_.stop_at = 0;
  player_.still = true;
  CaptureSession* session = nullptr;
  on_pump_ = [&] {
    if (session->CapturedFrameCount() == 5) { player_.width = 64; player_.height = 48; }
  };
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  session = &s;
  s.Run("m.swf");
  auto files = FrameFiles();
  // Frame 5 is grabbed before the resize, frame 6 after: both written.
  EXPECT_TRUE(files.count(5) == 0);  // same picture as 1..4
  EXPECT_TRUE(files.count(6) == 1);
  EXPECT_EQ(LoadFramePicture(paths::FrameFilePath(1)).Width(), 40);
  EXPECT_EQ(LoadFramePicture(paths::FrameFilePath(6)).Width(), 64);
  EXPECT_EQ(files, (std::set<long long>{1, 6, 11, 21, 31, 41, 50}));
}

TEST_F(CaptureSessionTest, StartClearsEveryNumberedFrameAndTheRecording) {
  fs::create_directories(paths::CaptureFolder());
  for (long long n : {0LL, 3LL, 10000LL, 10001LL, 123456LL}) std::ofstream(paths::FrameFilePath(n)) << "old";
  std::ofstream(paths::RecordingFilePath()) << "old";
  std::ofstream(paths::CaptureFolder() / "7.jpg") << "keep";
  player_.total = 2;
  player_.loop = false;
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  s.Run("m.swf");
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1, 2}));
  EXPECT_FALSE(fs::exists(paths::RecordingFilePath()));
  EXPECT_TRUE(fs::exists(paths::CaptureFolder() / "7.jpg"));
  // The movie was dropped before it was loaded again.
  ASSERT_GE(player_.calls.size(), 4u);
  EXPECT_EQ(player_.calls[0], "Stop");
  EXPECT_EQ(player_.calls[1], "Unload");
  EXPECT_EQ(player_.calls[2], "SetMovie m.swf");
  EXPECT_EQ(player_.calls[3], "Play");
}

TEST_F(CaptureSessionTest, UnwritableCaptureFolderStopsTheRecordingAndThrows) {
  // A file where the capture folder should be: no frame can be written.
  std::ofstream(paths::CaptureFolder().parent_path() / "temp") << "in the way";
  player_.total = 5;
  bool finished = false;
  auto cb = Callbacks();
  cb.finished = [&] { finished = true; };
  CaptureSession s(player_, clock_, &recorder_, cb);
  EXPECT_THROW(s.Run("m.swf"), FrameStoreError);
  EXPECT_TRUE(finished);
  EXPECT_EQ(recorder_.calls, (std::vector<std::string>{"start _temp.wav", "save"}));
  EXPECT_EQ(player_.calls.back(), "Stop");
}

TEST_F(CaptureSessionTest, FrameThatCannotBeWrittenEndsTheCaptureThere) {
  // A folder under the name of frame 13 (not empty, so the clearing at the
  // start leaves it): frames 1 to 12 are saved, 13 fails.
  fs::create_directories(paths::FrameFilePath(13) / "x");
  player_.total = 40;
  player_.loop = false;
  bool finished = false;
  auto cb = Callbacks();
  cb.finished = [&] { finished = true; };
  CaptureSession s(player_, clock_, &recorder_, cb);
  try {
    s.Run("m.swf");
    FAIL() << "no error";
  } catch (const FrameStoreError& e) {
    EXPECT_EQ(e.File(), paths::FrameFilePath(13));
  }
  EXPECT_TRUE(finished);
  EXPECT_EQ(recorder_.calls, (std::vector<std::string>{"start _temp.wav", "save"}));
  EXPECT_EQ(player_.calls.back(), "Stop");
  // The store and the counts are those of a capture that stopped at the
  // failing tick, whatever the capture went on to grab meanwhile.
  EXPECT_EQ(s.CapturedFrameCount(), 13);
  EXPECT_EQ(s.WrittenFrameCount(), 12);
  auto files = FrameFiles();
  files.erase(13);  // the folder in the way
  std::set<long long> expected;
  for (long long n = 1; n <= 12; ++n) expected.insert(n);
  EXPECT_EQ(files, expected);
  for (long long n = 1; n <= 12; ++n) {
    gdi::Bitmap picture = LoadFramePicture(paths::FrameFilePath(n));
    EXPECT_EQ(picture.Width(), player_.width) << n;
  }
}

TEST_F(CaptureSessionTest, EveryFrameIsOnDiskWhenRunReturns) {
  player_.total = 60;
  player_.loop = false;
  CaptureSession s(player_, clock_, nullptr, Callbacks());
  s.Run("m.swf");
  ASSERT_EQ(s.CapturedFrameCount(), 60);
  EXPECT_EQ(s.WrittenFrameCount(), 60);
  // Each file holds its own tick's picture.
  FrameSequence frames(60);
  for (long long i = 0; i < 60; ++i) {
    const gdi::Bitmap& picture = frames.Read(i);
    ASSERT_TRUE(frames.LastWasPresent()) << i + 1;
    gdi::Color c = picture.GetPixel(0, 0);
    EXPECT_EQ(c.r, static_cast<std::uint8_t>(i * 20)) << i + 1;
    EXPECT_EQ(c.g, static_cast<std::uint8_t>(255 - i)) << i + 1;
  }
}

TEST_F(CaptureSessionTest, MovieThatDoesNotLoadIsAnErrorNamingIt) {
  player_.loads = false;
  CaptureSession s(player_, clock_, &recorder_, Callbacks());
  try {
    s.Run("/nowhere/gone.swf");
    FAIL() << "no error";
  } catch (const CaptureError& e) {
    EXPECT_NE(std::string(e.what()).find("/nowhere/gone.swf"), std::string::npos);
  }
  EXPECT_TRUE(recorder_.calls.empty());
  EXPECT_EQ(s.CapturedFrameCount(), 0);
}

TEST_F(CaptureSessionTest, WallClockWaitsTheLatencyBetweenTicks) {
  audio::WallClock wall;
  player_.total = 4;
  player_.period_ms = 30;
  player_.loop = false;
  latency_ = 30;
  std::vector<std::int64_t> ticks;
  auto cb = Callbacks();
  cb.label = [&](const std::string&) { ticks.push_back(wall.NowMs()); };
  CaptureSession s(player_, wall, nullptr, cb);
  s.Run("m.swf");
  ASSERT_GE(s.CapturedFrameCount(), 2);
  for (std::size_t i = 1; i + 1 < ticks.size(); ++i) EXPECT_GE(ticks[i] - ticks[i - 1], 25);
}

}  // namespace
}  // namespace quarvel::capture
