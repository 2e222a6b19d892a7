#include "cli/cli_options.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "cli/progress.h"
#include "platform/paths/working_folder.h"

namespace quarvel::cli {
namespace {

namespace fs = std::filesystem;

TEST(CliOptions, SizeTakesBothSeparatorsAndRefusesTheRest) {
  EXPECT_EQ(ParseSize("550x400"), (Size{550, 400}));
  EXPECT_EQ(ParseSize("1X4096"), (Size{1, 4096}));
  for (const char* bad : {"", "550", "x400", "550x", "0x10", "10x4097", "-5x5", "5x5x5", " 5x5", "5.5x5"})
    EXPECT_THROW(ParseSize(bad), UsageError) << bad;
}

TEST(CliOptions, BackgroundIsHexOrTheMoviesOwn) {
  EXPECT_EQ(ParseBackground("movie"), std::nullopt);
  EXPECT_EQ(ParseBackground("ff8800"), std::optional<std::int32_t>(0xff8800));
  EXPECT_EQ(ParseBackground("#000001"), std::optional<std::int32_t>(1));
  for (const char* bad : {"", "fff", "ff88001", "gg0000", "Movie", "#"})
    EXPECT_THROW(ParseBackground(bad), UsageError) << bad;
}

TEST(CliOptions, ClickIsAPointWithAnOptionalTime) {
  EXPECT_EQ(ParseClick("275,200"), (Click{275, 200, 0}));
  EXPECT_EQ(ParseClick("0,4095@1500"), (Click{0, 4095, 1500}));
  for (const char* bad : {"", "275", "275,", ",200", "1,2,3", "-1,5", "4096,0", "1,2@", "1,2@-5", "1,2@x", "1 ,2"}) {
    EXPECT_THROW(ParseClick(bad), UsageError) << bad;
  }
}

TEST(CliOptions, KeyIsANameWithAnOptionalTimeAndHold) {
  EXPECT_EQ(ParseKey("Space"), (KeyPress{{32, 32}, 0, 0}));
  EXPECT_EQ(ParseKey("right@1500"), (KeyPress{{39, 0}, 1500, 0}));
  EXPECT_EQ(ParseKey("A@0+250"), (KeyPress{{65, 97}, 0, 250}));
  EXPECT_EQ(ParseKey("F5@10"), (KeyPress{{116, 0}, 10, 0}));
  // Names are case-blind.
  EXPECT_EQ(ParseKey("ENTER@2"), (KeyPress{{13, 13}, 2, 0}));
  for (const char* bad : {"", "Spacebar", "@100", "Space@", "Space@-1", "Space@x", "Space@10+0", "Space@10+",
                          "F13", "Left@1+2+3"}) {
    try {
      ParseKey(bad);
      ADD_FAILURE() << bad;
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find("--key"), std::string::npos) << e.what();
    }
  }
}

TEST(CliOptions, MovieTimeIsMillisecondsOrFrames) {
  EXPECT_EQ(ParseMovieTime("1500", "--start"), (MovieTime{1500, false}));
  EXPECT_EQ(ParseMovieTime("36f", "--start"), (MovieTime{36, true}));
  EXPECT_EQ(ParseMovieTime("36f", "--start").Ms(12.0), 3000);
  EXPECT_EQ(ParseMovieTime("1f", "--start").Ms(30.0), 33);
  EXPECT_EQ(ParseMovieTime("1500", "--start").Ms(12.0), 1500);
  for (const char* bad : {"", "f", "-5", "1.5s", "12ms", "3000000000"}) {
    try {
      ParseMovieTime(bad, "--duration");
      ADD_FAILURE() << bad;
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find("--duration"), std::string::npos);
    }
  }
}

TEST(CliOptions, CropIsTopLeftRightBottom) {
  capture::CropZoom cz;
  ParseCrop("1,2,3,999", cz);
  EXPECT_EQ(cz.top, 1);
  EXPECT_EQ(cz.left, 2);
  EXPECT_EQ(cz.right, 3);
  EXPECT_EQ(cz.bottom, 999);
  for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,2,3,1000", "1,,3,4", "-1,0,0,0"})
    EXPECT_THROW(ParseCrop(bad, cz), UsageError) << bad;
}

class CaptureRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("quarvel-cli-opt-" + std::to_string(::getpid()));
    fs::remove_all(home_);
    fs::create_directories(home_);
    ::setenv("QUARVEL_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    fs::remove_all(home_);
    ::unsetenv("QUARVEL_HOME");
  }
  fs::path home_;
};

TEST_F(CaptureRecordTest, RecordRoundTripsAndFallsBackToTheHighestFrameFile) {
  EXPECT_EQ(ReadCaptureRecord(), std::nullopt);
  fs::create_directories(paths::CaptureFolder());
  std::ofstream(paths::FrameFilePath(1)) << "x";
  std::ofstream(paths::FrameFilePath(17)) << "x";
  std::ofstream(paths::CaptureFolder() / "5.jpg") << "x";
  auto guessed = ReadCaptureRecord();
  ASSERT_TRUE(guessed);
  EXPECT_EQ(guessed->frames, 17);
  EXPECT_EQ(guessed->latency, 250);

  EXPECT_TRUE(guessed->complete);  // a window capture leaves no record

  CaptureRecord written{20, 125, "m.swf", "pcm", true, 4321};
  WriteCaptureRecord(written);
  auto rec = ReadCaptureRecord();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->frames, 20);
  EXPECT_EQ(rec->latency, 125);
  EXPECT_EQ(rec->movie, "m.swf");
  EXPECT_EQ(rec->sound, "pcm");
  EXPECT_TRUE(rec->complete);
  EXPECT_EQ(rec->recording_ms, 4321);

  // A capture made since (frame 1 newer than the record) makes it stale.
  fs::last_write_time(paths::FrameFilePath(1), fs::last_write_time(CaptureRecordPath()) + std::chrono::seconds(5));
  EXPECT_EQ(ReadCaptureRecord()->frames, 17);

  // A capture killed after its start: the frame files give the count, and
  // the record still says the capture did not complete.
  written.frames = 0;
  written.complete = false;
  WriteCaptureRecord(written);
  fs::last_write_time(paths::FrameFilePath(1), fs::last_write_time(CaptureRecordPath()) + std::chrono::seconds(5));
  rec = ReadCaptureRecord();
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->frames, 17);
  EXPECT_FALSE(rec->complete);
  EXPECT_EQ(rec->latency, 125);
  RemoveCaptureRecord();
  EXPECT_FALSE(fs::exists(CaptureRecordPath()));
}

TEST(ProgressText, ShowsCountPercentElapsedAndRemaining) {
  EXPECT_EQ(Progress::BarText(12, 40, 2.0), "frame 12 of 40  30%  0:02 elapsed  0:05 left");
  EXPECT_EQ(Progress::BarText(0, 40, 0.0), "frame 0 of 40  0%  0:00 elapsed");
  // An estimate that falls short never shows more than 100 %.
  EXPECT_EQ(Progress::BarText(50, 40, 3725.0), "frame 50 of 50  100%  1:02:05 elapsed  0:00 left");
  EXPECT_EQ(Progress::BarText(7, 0, 61.0), "frame 7  1:01 elapsed");
}

}  // namespace
}  // namespace quarvel::cli
