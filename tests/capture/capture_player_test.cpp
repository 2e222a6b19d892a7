// The capture job with the real player on builder-made movies, on a
// virtual clock.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "capture/capture_job.h"
#include "capture/frame_store.h"
#include "flash/flash_movie_control.h"
#include "platform/paths/working_folder.h"
#include "support/shape_builder.h"
#include "support/swf_builder.h"

namespace quarvel::capture {
namespace {

namespace fs = std::filesystem;
using testing::Actions;
using testing::FillStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;

// A 100 x 80 movie of `frames` frames whose square moves 5 px a frame;
// `stop_frame` >= 0 puts a stop action there (0: the movie stays on frame 0),
// `still` keeps the square put.
std::vector<std::uint8_t> MovingSquare(int frames, double fps, int stop_frame = -1, bool still = false) {
  SwfBuilder b(6, {0, 2000, 0, 1600}, fps);
  b.SetBackgroundColor({255, 255, 255, 255});
  ShapeBuilder s;
  s.Rectangle(0, 0, 400, 400, s.AddFill(FillStyle::Solid({200, 0, 0, 255})));
  b.DefineShape(1, s);
  for (int f = 0; f < frames; ++f) {
    swf::Matrix m;
    m.translateX = still ? 100 : 100 * f;
    m.translateY = 200;
    if (f == 0)
      b.PlaceObject2({.depth = 1, .characterId = 1, .matrix = m});
    else
      b.PlaceObject2({.depth = 1, .move = true, .matrix = m});
    if (f == stop_frame) b.DoAction(Actions().Stop());
    // The capture's Play() after loading resumes past a stop on frame 0, so
    // frame 1 sends the movie back there: every tick then finds frame 0.
    if (stop_frame == 0 && f == 1) b.DoAction(Actions().GotoFrame(0).Stop());
    b.ShowFrame();
  }
  return b.Build(swf::Compression::kZlib);
}

class CapturePlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("quarvel-capture-player-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    ::setenv("QUARVEL_HOME", home_.c_str(), 1);
    player_->SetSize(100, 80);
  }
  void TearDown() override {
    fs::remove_all(home_);
    ::unsetenv("QUARVEL_HOME");
  }

  std::string WriteMovie(const std::vector<std::uint8_t>& bytes) {
    auto path = home_ / "movie.swf";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  CaptureCallbacks Callbacks() {
    CaptureCallbacks cb;
    cb.latency = [this] { return latency_; };
    cb.thumbnail = [this](long long n, const gdi::Bitmap&) { thumbs_.push_back(n); };
    cb.pump = [this] { if (on_pump_) on_pump_(); };
    return cb;
  }

  long long Capture(const std::vector<std::uint8_t>& movie) {
    audio::VirtualClock clock;
    CaptureJob s(*player_, clock, {}, Callbacks());
    session_ = &s;
    s.Run(WriteMovie(movie));
    end_ = s.EndReason();
    session_ = nullptr;
    return s.CapturedFrameCount();
  }

  std::set<long long> FrameFiles() const {
    std::set<long long> out;
    for (const auto& e : fs::directory_iterator(paths::CaptureFolder()))
      if (e.path().extension() == ".bmp") out.insert(std::stoll(e.path().stem().string()));
    return out;
  }

  std::map<std::string, std::string> StoreBytes() const {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(paths::CaptureFolder())) {
      std::ifstream in(e.path(), std::ios::binary);
      out[e.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return out;
  }

  fs::path home_;
  int latency_ = 100;
  std::unique_ptr<flash::FlashMovieControl> player_ = std::make_unique<flash::FlashMovieControl>();
  std::vector<long long> thumbs_;
  std::function<void()> on_pump_;
  CaptureJob* session_ = nullptr;
  CaptureEnd end_ = CaptureEnd::ceStopRequested;
};

TEST_F(CapturePlayerTest, OneFrameMovieGivesOneFrameFileAndOneThumbnail) {
  EXPECT_EQ(Capture(MovingSquare(1, 10)), 1);
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1}));
  EXPECT_EQ(thumbs_, (std::vector<long long>{1}));
  EXPECT_EQ(end_, CaptureEnd::ceLastFrame);
}

TEST_F(CapturePlayerTest, MovieStoppedOnFrameZeroEndsAtTickFifty) {
  EXPECT_EQ(Capture(MovingSquare(5, 10, 0)), 50);
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1, 11, 21, 31, 41, 50}));
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 11, 21, 31, 41, 50}));
  EXPECT_EQ(end_, CaptureEnd::ceStandstill);
}

TEST_F(CapturePlayerTest, PlayThroughWritesEveryChangedFrameAndEndsOnTheLast) {
  // One tick per movie frame; the stop on the last frame keeps it there.
  EXPECT_EQ(Capture(MovingSquare(12, 10, 11)), 12);
  EXPECT_EQ(end_, CaptureEnd::ceLastFrame);
  EXPECT_EQ(FrameFiles().size(), 12u);
  EXPECT_FALSE(FramesEqual(LoadFramePicture(paths::FrameFilePath(11)), LoadFramePicture(paths::FrameFilePath(12))));
}

TEST_F(CapturePlayerTest, LoopingMovieEndsAtTheJumpBack) {
  latency_ = 400;  // ticks at frames 0, 4, 8, then 12 mod 10 = 2
  EXPECT_EQ(Capture(MovingSquare(10, 10)), 4);
  EXPECT_EQ(end_, CaptureEnd::ceJumpBack);
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1, 2, 3, 4}));
  EXPECT_EQ(thumbs_, (std::vector<long long>{1, 4}));
}

TEST_F(CapturePlayerTest, StopRequestedEndsAfterTheCurrentTick) {
  on_pump_ = [this] {
    if (session_->CapturedFrameCount() == 3) session_->RequestStop();
  };
  EXPECT_EQ(Capture(MovingSquare(30, 10)), 3);
  EXPECT_EQ(end_, CaptureEnd::ceStopRequested);
  EXPECT_EQ(thumbs_, (std::vector<long long>{1}));
  EXPECT_EQ(FrameFiles(), (std::set<long long>{1, 2, 3}));
}

TEST_F(CapturePlayerTest, ResizingThePlayerDuringACaptureWritesFramesOfBothSizes) {
  on_pump_ = [this] {
    if (session_->CapturedFrameCount() == 4) player_->SetSize(150, 120);
  };
  EXPECT_EQ(Capture(MovingSquare(5, 10, 0, true)), 50);
  auto files = FrameFiles();
  EXPECT_EQ(files, (std::set<long long>{1, 5, 11, 21, 31, 41, 50}));
  EXPECT_EQ(LoadFramePicture(paths::FrameFilePath(1)).Width(), 100);
  auto later = LoadFramePicture(paths::FrameFilePath(5));
  EXPECT_EQ(later.Width(), 150);
  EXPECT_EQ(later.Height(), 120);
}

TEST_F(CapturePlayerTest, TheSameCaptureTwiceGivesByteIdenticalFrameStores) {
  latency_ = 70;
  auto movie = MovingSquare(24, 12, 23);
  long long first_count = Capture(movie);
  auto first = StoreBytes();
  // A new player on a new clock, as in a new run of the program.
  player_ = std::make_unique<flash::FlashMovieControl>();
  player_->SetSize(100, 80);
  long long second_count = Capture(movie);
  EXPECT_EQ(first_count, second_count);
  EXPECT_TRUE(first == StoreBytes()) << "the frame stores differ";
  EXPECT_GT(first.size(), 10u);
}

}  // namespace
}  // namespace quarvel::capture
