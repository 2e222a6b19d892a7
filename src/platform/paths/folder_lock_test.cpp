#include "platform/paths/folder_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace quarvel::paths {
namespace {

namespace fs = std::filesystem;

class FolderLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quarvel-lock-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
  }
  void TearDown() override {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
    fs::remove_all(dir_);
  }

  // A child process that holds the lock until killed; returns once it holds it.
  void HoldInChild() {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    child_ = ::fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      FolderLock held = FolderLock::Acquire(dir_);
      (void)!::write(ready[1], "x", 1);
      for (;;) ::pause();
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
  }

  fs::path dir_;
  pid_t child_ = -1;
};

TEST_F(FolderLockTest, SecondOwnerFailsAtOnceNamingFolderAndHolder) {
  HoldInChild();
  const auto start = std::chrono::steady_clock::now();
  try {
    FolderLock::Acquire(dir_);
    FAIL() << "the folder was locked twice";
  } catch (const FolderLockError& e) {
    EXPECT_EQ(e.Holder(), child_);
    const std::string what = e.what();
    EXPECT_NE(what.find(dir_.string()), std::string::npos) << what;
    EXPECT_NE(what.find(std::to_string(child_)), std::string::npos) << what;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // A killed holder leaves the lock free; its stale id does not block.
  ::kill(child_, SIGKILL);
  ::waitpid(child_, nullptr, 0);
  EXPECT_FALSE(ProcessAlive(child_));
  child_ = -1;
  FolderLock mine = FolderLock::Acquire(dir_);
  EXPECT_TRUE(mine.Held());
  EXPECT_EQ(FolderLock::RecordedHolder(dir_), ::getpid());
}

TEST_F(FolderLockTest, WaitingOwnerGetsTheFolderWhenItIsFreedOrGivesUpWhenCancelled) {
  HoldInChild();
  int polls = 0;
  EXPECT_THROW(FolderLock::Acquire(dir_, true, [&] { return ++polls > 3; }), FolderLockError);
  EXPECT_GT(polls, 3);

  std::thread killer([pid = child_] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGKILL);
  });
  FolderLock mine = FolderLock::Acquire(dir_, true);
  killer.join();
  EXPECT_TRUE(mine.Held());
  ::waitpid(child_, nullptr, 0);
  child_ = -1;

  // Within one process a second lock is refused as well, and a released
  // lock can be taken again.
  EXPECT_THROW(FolderLock::Acquire(dir_), FolderLockError);
  mine.Release();
  EXPECT_TRUE(FolderLock::Acquire(dir_).Held());
}

TEST_F(FolderLockTest, UnwritableFolderIsAnErrorWithItsCause) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  fs::create_directories(dir_);
  ::chmod(dir_.c_str(), 0555);
  try {
    FolderLock::Acquire(dir_);
    ADD_FAILURE() << "locked a read-only folder";
  } catch (const FolderLockError& e) {
    EXPECT_NE(std::string(e.what()).find("Permission denied"), std::string::npos) << e.what();
  }
  ::chmod(dir_.c_str(), 0755);
}

}  // namespace
}  // namespace quarvel::paths
