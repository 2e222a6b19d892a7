#include "platform/paths/working_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

namespace quarvel::paths {
namespace {
namespace fs = std::filesystem;

class WorkingFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* h = std::getenv("QUARVEL_HOME")) saved_ = h;
    unsetenv("QUARVEL_HOME");
    SetWorkingFolder({});
  }
  void TearDown() override {
    if (saved_.empty()) unsetenv("QUARVEL_HOME");
    else setenv("QUARVEL_HOME", saved_.c_str(), 1);
    SetWorkingFolder({});
  }
  std::string saved_;
};

TEST_F(WorkingFolderTest, EnvironmentOverridesEverything) {
  SetWorkingFolder("/tmp/elsewhere");
  setenv("QUARVEL_HOME", "/tmp/qhome", 1);
  EXPECT_EQ(WorkingFolder(), fs::path("/tmp/qhome"));
  EXPECT_EQ(FrameFilePath(12), fs::path("/tmp/qhome/temp/12.bmp"));
  EXPECT_EQ(RecordingFilePath(), fs::path("/tmp/qhome/temp/_temp.wav"));
  EXPECT_EQ(WorkPath("uncompress.swf"), fs::path("/tmp/qhome/uncompress.swf"));
}

TEST_F(WorkingFolderTest, OverrideThenExecutableFolder) {
  SetWorkingFolder("/tmp/wd");
  EXPECT_EQ(CaptureFolder(), fs::path("/tmp/wd/temp"));
  SetWorkingFolder({});
  // The test binary's own folder is writable in a build tree.
  EXPECT_EQ(WorkingFolder(), ExecutableFolder());
}

TEST_F(WorkingFolderTest, DataFilePrefersWorkingCopy) {
  fs::path dir = fs::temp_directory_path() / ("qpaths" + std::to_string(::getpid()));
  fs::create_directories(dir);
  SetWorkingFolder(dir);
  EXPECT_EQ(DataFilePath("adpcm9.wav"), ExecutableFolder() / "adpcm9.wav");
  { std::FILE* f = std::fopen((dir / "adpcm9.wav").c_str(), "w"); std::fclose(f); }
  EXPECT_EQ(DataFilePath("adpcm9.wav"), dir / "adpcm9.wav");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quarvel::paths
