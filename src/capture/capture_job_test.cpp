// The capture job against a scripted player whose frame follows the clock,
// so every end rule can be steered exactly.
#include "capture/capture_job.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "capture/frame_store.h"
#include "platform/mci/mci.h"
#include "platform/paths/working_folder.h"
#include "sound/wave_recorder.h"
#include "support/scripted_movie.h"

namespace quarvel::capture {
namespace {

namespace fs = std::filesystem;

// What the recorder asks of the MCI device, without recording anything.
class FakeMci : public mci::Mci {
 public:
  FakeMci() : mci::Mci(bus_) {}
  std::vector<std::string> calls;
  std::uint32_t Open(const fs::path& element, mci::DeviceId& id) override {
    calls.push_back("open " + element.filename().string());
    id = 1;
    return mci::kOk;
  }
  std::uint32_t Record(mci::DeviceId) override { return Note("record"); }
  std::uint32_t Stop(mci::DeviceId) override { return Note("stop"); }
  std::uint32_t Save(mci::DeviceId, const fs::path& file) override { return Note("save " + file.filename().string()); }
  std::uint32_t Close(mci::DeviceId) override { return Note("close"); }

 private:
  std::uint32_t Note(std::string call) {
    calls.push_back(std::move(call));
    return mci::kOk;
  }
  audio::LoopbackBus bus_;
};

const std::vector<std::string> kRecordedAndSaved = {"open _temp.wav", "record", "stop", "save _temp.wav", "close"};

class CaptureJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("quarvel-session-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    ::setenv("QUARVEL_HOME", home_.c_str(), 1);
    player_.scripted = true;
    player_.SetSize(40, 30);
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
  testing::ScriptedMovie player_;
  FakeMci mci_;
  sound::WaveRecorder recorder_{mci_};
  // No recording format selected: the recorder makes no file and goes
  // straight to the device, whatever state the capture folder is in.
  CaptureRecording recording_{&recorder_, [] { return -1; }};
};

TEST_F(CaptureJobTest, OneFrameMovieGivesOneFileAndOneThumbnail) {
  player_.total = 1;
  CaptureJob s(player_, clock_, recording_, Callbacks());
  s.Run("one.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 1);
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1}));
  EXPECT_EQ(thumbs_, (std::vector<long long>{1}));
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceLastFrame);
  EXPECT_EQ(labels_.back(), "Capture finished");
  EXPECT_EQ(mci_.calls, kRecordedAndSaved);
}

// Frames that differ from the one before in a single border pixel are
// changed frames: every one of them is written.
TEST_F(CaptureJobTest, ChangeOfOneBorderPixelIsAWrittenFrame) {
  player_.total = 9;
  player_.loop = false;
  player_.border_only = true;
  player_.period_ms = latency_;
  CaptureJob s(player_, clock_, {}, Callbacks());
  s.Run("border.swf");
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceLastFrame);
  std::set<long long> all;
  for (long long n = 1; n <= s.CapturedFrameCount(); ++n) all.insert(n);
  EXPECT_EQ(s.CapturedFrameCount(), 9);
  EXPECT_EQ(FrameFiles(), all);
}

TEST_F(CaptureJobTest, StandstillOnFrameZeroEndsAtTickFifty) {
  player_.stop_at = 0;
  player_.still = true;
  CaptureJob s(player_, clock_, {}, Callbacks());
  s.Run("still.swf");
  std::set<long long> expected{1, 11, 21, 31, 41, 50};
  EXPECT_EQ(s.CapturedFrameCount(), 50);
  EXPECT_EQ(FrameFiles(), expected);
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 11, 21, 31, 41, 50}));
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceStandstill);
  EXPECT_EQ(s.ShownFrame(), 50);
}

// Without a frame browser to show every tenth frame, a still picture is
// stored once: the left-out numbers repeat it. The thumbnails stay.
TEST_F(CaptureJobTest, StillPictureIsStoredOnceWhenNoTenthFrameIsWanted) {
  player_.stop_at = 0;
  player_.still = true;
  CaptureJob s(player_, clock_, {}, Callbacks());
  CaptureLimits limits;
  limits.store_every_tenth = false;
  s.SetLimits(limits);
  s.Run("still.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 50);
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1}));
  EXPECT_EQ(s.WrittenFrameCount(), 1);
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 11, 21, 31, 41, 50}));
}

TEST_F(CaptureJobTest, StandstillOnALaterFrameEndsAtItsFiftiethRepeat) {
  player_.stop_at = 4;  // frames 0..4 change every tick, then hold
  CaptureJob s(player_, clock_, {}, Callbacks());
  s.Run("m.swf");
  // Ticks 1..5 see frames 0..4; the first sight of frame 4 resets the
  // counter, 50 more ticks on it end the capture.
  EXPECT_EQ(s.CapturedFrameCount(), 55);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceStandstill);
  std::set<long long> expected{1, 2, 3, 4, 5, 11, 21, 31, 41, 51, 55};
  EXPECT_EQ(FrameFiles(), expected);
}

TEST_F(CaptureJobTest, PlayThroughEndsOnTheLastFrame) {
  player_.total = 20;
  player_.loop = false;
  CaptureJob s(player_, clock_, {}, Callbacks());
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

TEST_F(CaptureJobTest, LoopingMovieEndsAtTheJumpBack) {
  player_.total = 7;
  latency_ = 400;  // ticks see frames 0, 4, then 1 (8 mod 7): the jump back
  CaptureJob s(player_, clock_, {}, Callbacks());
  s.Run("loop.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 3);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceJumpBack);
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1, 2, 3}));
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 3}));
  EXPECT_EQ(labels_[2], "3 (1/2Frame,800ms) ");
}

TEST_F(CaptureJobTest, StopRequestedEndsAfterTheCurrentTickWithoutThumbnail) {
  player_.total = 100;
  CaptureJob* session = nullptr;
  on_pump_ = [&] {
    if (session->CapturedFrameCount() == 7) session->RequestStop();
  };
  CaptureJob s(player_, clock_, recording_, Callbacks());
  session = &s;
  s.Run("m.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 7);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceStopRequested);
  EXPECT_EQ(thumbs_, (std::vector<long long>{1}));
  EXPECT_EQ(labels_.back(), "Capture finished");
  EXPECT_EQ(mci_.calls, kRecordedAndSaved);
  EXPECT_EQ(player_.calls.back(), "Stop");
  // A new run clears the flag.
  on_pump_ = nullptr;
  player_.total = 3;
  player_.loop = false;
  s.Run("m.swf");
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceLastFrame);
}

TEST_F(CaptureJobTest, LabelsFollowTheClockAndTheLatencyOfTheMoment) {
  player_.total = 200;
  player_.period_ms = 80;
  latency_ = 250;
  CaptureJob* session = nullptr;
  on_pump_ = [&] {
    if (session->CapturedFrameCount() == 12) session->RequestStop();
  };
  CaptureJob s(player_, clock_, {}, Callbacks());
  session = &s;
  s.Run("m.swf");
  ASSERT_GE(labels_.size(), 12u);
  EXPECT_EQ(labels_[0], "1 (0/0Frame,0ms) ");
  EXPECT_EQ(labels_[11], "12 (34/11Frame,2750ms) ");
}

TEST_F(CaptureJobTest, LatencyChangedDuringTheWaitTakesEffectAtOnce) {
  player_.total = 1000;
  player_.period_ms = 10;
  latency_ = 100;
  CaptureJob* session = nullptr;
  on_pump_ = [&] {
    if (session->CapturedFrameCount() == 2) latency_ = 500;
    if (session->CapturedFrameCount() == 4) session->RequestStop();
  };
  CaptureJob s(player_, clock_, {}, Callbacks());
  session = &s;
  s.Run("m.swf");
  ASSERT_GE(labels_.size(), 4u);
  EXPECT_EQ(labels_[1], "2 (10/0Frame,100ms) ");
  EXPECT_EQ(labels_[2], "3 (60/1Frame,600ms) ");
  EXPECT_EQ(labels_[3], "4 (110/2Frame,1100ms) ");
}

TEST_F(CaptureJobTest, ResizedPlayerGivesFramesOfBothSizesAllWritten) {
  player_.stop_at = 0;
  player_.still = true;
  CaptureJob* session = nullptr;
  on_pump_ = [&] {
    if (session->CapturedFrameCount() == 5) { player_.SetSize(64, 48); }
  };
  CaptureJob s(player_, clock_, {}, Callbacks());
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

TEST_F(CaptureJobTest, StartClearsEveryNumberedFrameAndTheRecording) {
  fs::create_directories(paths::CaptureFolder());
  for (long long n : {0LL, 3LL, 10000LL, 10001LL, 123456LL}) std::ofstream(paths::FrameFilePath(n)) << "old";
  std::ofstream(paths::RecordingFilePath()) << "old";
  std::ofstream(paths::CaptureFolder() / "7.jpg") << "keep";
  player_.total = 2;
  player_.loop = false;
  CaptureJob s(player_, clock_, {}, Callbacks());
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

TEST_F(CaptureJobTest, UnwritableCaptureFolderStopsTheRecordingAndThrows) {
  // A file where the capture folder should be: no frame can be written.
  std::ofstream(paths::CaptureFolder().parent_path() / "temp") << "in the way";
  player_.total = 5;
  bool finished = false;
  auto cb = Callbacks();
  cb.finished = [&] { finished = true; };
  CaptureJob s(player_, clock_, recording_, cb);
  EXPECT_THROW(s.Run("m.swf"), FrameStoreError);
  EXPECT_TRUE(finished);
  EXPECT_EQ(mci_.calls, kRecordedAndSaved);
  EXPECT_EQ(player_.calls.back(), "Stop");
}

TEST_F(CaptureJobTest, FrameThatCannotBeWrittenEndsTheCaptureThere) {
  // A folder under the name of frame 13 (not empty, so the clearing at the
  // start leaves it): frames 1 to 12 are saved, 13 fails.
  fs::create_directories(paths::FrameFilePath(13) / "x");
  player_.total = 40;
  player_.loop = false;
  bool finished = false;
  auto cb = Callbacks();
  cb.finished = [&] { finished = true; };
  CaptureJob s(player_, clock_, recording_, cb);
  try {
    s.Run("m.swf");
    FAIL() << "no error";
  } catch (const FrameStoreError& e) {
    EXPECT_EQ(e.File(), paths::FrameFilePath(13));
  }
  EXPECT_TRUE(finished);
  EXPECT_EQ(mci_.calls, kRecordedAndSaved);
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
    EXPECT_EQ(picture.Width(), player_.width_) << n;
  }
}

TEST_F(CaptureJobTest, EveryFrameIsOnDiskWhenRunReturns) {
  player_.total = 60;
  player_.loop = false;
  CaptureJob s(player_, clock_, {}, Callbacks());
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

// A picture the callback holds for the store's only reader gets no file;
// the others are written as usual, and every one is offered in order.
TEST_F(CaptureJobTest, PicturesHeldElsewhereGetNoFile) {
  player_.total = 20;
  player_.loop = false;
  CaptureCallbacks cb = Callbacks();
  std::vector<long long> offered;
  cb.stored = [&](long long n, const gdi::Bitmap& picture) {
    offered.push_back(n);
    EXPECT_EQ(picture.GetPixel(0, 0).r, static_cast<std::uint8_t>((n - 1) * 20)) << n;
    return n % 2 == 0;
  };
  CaptureJob s(player_, clock_, {}, std::move(cb));
  s.Run("m.swf");
  ASSERT_EQ(s.CapturedFrameCount(), 20);
  std::set<long long> odd;
  std::vector<long long> all;
  for (long long n = 1; n <= 20; ++n) {
    all.push_back(n);
    if (n % 2 == 1) odd.insert(n);
  }
  EXPECT_EQ(offered, all);
  EXPECT_EQ(FrameFiles(), odd);
  EXPECT_EQ(s.WrittenFrameCount(), 10) << "files written";
}

TEST_F(CaptureJobTest, MovieThatDoesNotLoadIsAnErrorNamingIt) {
  player_.loads = false;
  CaptureJob s(player_, clock_, recording_, Callbacks());
  try {
    s.Run("/nowhere/gone.swf");
    FAIL() << "no error";
  } catch (const CaptureError& e) {
    EXPECT_NE(std::string(e.what()).find("/nowhere/gone.swf"), std::string::npos);
  }
  EXPECT_TRUE(mci_.calls.empty());
  EXPECT_EQ(s.CapturedFrameCount(), 0);
}

TEST_F(CaptureJobTest, LateTicksBecomeRepeatedFramesSoThePictureKeepsTime) {
  player_.total = 1000;
  player_.period_ms = 10;
  latency_ = 100;
  CaptureJob* session = nullptr;
  bool first_jump = false, second_jump = false;
  on_pump_ = [&] {
    // Two ticks the machine was too busy for: 250 ms go by inside a tick.
    const long long n = session->CapturedFrameCount();
    if (n == 3 && !first_jump) first_jump = true, clock_.Advance(250);
    if (n == 9 && !second_jump) second_jump = true, clock_.Advance(250);
    if (n >= 14) session->RequestStop();
  };
  CaptureJob s(player_, clock_, {}, Callbacks());
  session = &s;
  s.Run("m.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 14);
  // Frames 4 and 11 were never grabbed: they repeat the frame before. Frame
  // 12 opens its block of ten in place of 11 and is stored and shown.
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1, 2, 3, 5, 6, 7, 8, 9, 12, 13, 14}));
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 12}));
  ASSERT_GE(labels_.size(), 4u);
  EXPECT_EQ(labels_[3].substr(0, 3), "5 (");
  EXPECT_NE(labels_[3].find("/4Frame,450ms) "), std::string::npos) << labels_[3];
}

TEST(FrameNumbering, CountsLatencyPeriodsFromTheAnchorAndNeverRepeats) {
  EXPECT_EQ(FrameNumberAt(0, 1, 0, 0, 250), 1);
  EXPECT_EQ(FrameNumberAt(1, 1, 0, 249, 250), 2);  // an early tick still moves on
  EXPECT_EQ(FrameNumberAt(1, 1, 0, 250, 250), 2);
  EXPECT_EQ(FrameNumberAt(2, 1, 0, 1020, 250), 5);  // two ticks dropped
  EXPECT_EQ(FrameNumberAt(20, 20, 5000, 5100, 25), 24);  // after a latency change
  EXPECT_EQ(FrameNumberAt(7, 1, 1000, 500, 100), 8);  // a clock behind the anchor
}

TEST_F(CaptureJobTest, WallClockWaitsTheLatencyBetweenTicks) {
  audio::WallClock wall;
  player_.total = 4;
  player_.period_ms = 30;
  player_.loop = false;
  latency_ = 30;
  std::vector<std::int64_t> ticks;
  auto cb = Callbacks();
  cb.label = [&](const std::string&) { ticks.push_back(wall.NowMs()); };
  CaptureJob s(player_, wall, {}, cb);
  s.Run("m.swf");
  ASSERT_GE(s.CapturedFrameCount(), 2);
  for (std::size_t i = 1; i + 1 < ticks.size(); ++i) EXPECT_GE(ticks[i] - ticks[i - 1], 25);
}

}  // namespace
}  // namespace quarvel::capture

namespace quarvel::capture {
namespace {

// A set length: the movie's last frame and its loop do not end the capture,
// and the part before the start is played but not grabbed.
TEST_F(CaptureJobTest, LimitsStartLateAndOutlastTheEndRules) {
  player_.total = 5;
  player_.loop = true;
  player_.period_ms = latency_;
  CaptureJob s(player_, clock_, recording_, Callbacks());
  CaptureLimits limits;
  limits.start_ms = 3 * latency_;
  limits.max_frames = 12;
  limits.end_rules = false;
  s.SetLimits(limits);
  const std::int64_t begun = clock_.NowMs();
  s.Run("loop.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 12);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceFrameLimit);
  // Start plus twelve periods of movie time went by.
  EXPECT_EQ(clock_.NowMs() - begun, 15 * latency_);
  // Frame 1 of the store shows the movie 300 ms in: its fourth frame.
  EXPECT_EQ(labels_.front().substr(0, 5), "1 (3/");

  // With the end rules on, the limit still cuts a movie short.
  labels_.clear();
  limits = {};
  limits.max_frames = 2;
  s.SetLimits(limits);
  s.Run("loop.swf");
  EXPECT_EQ(s.CapturedFrameCount(), 2);
  EXPECT_EQ(s.EndReason(), CaptureEnd::ceFrameLimit);
}

}  // namespace
}  // namespace quarvel::capture
