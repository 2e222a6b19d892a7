// Private working folders: a later run clears the ones a killed run left.
#include "cli/batch.h"

#include "cli/commands.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace quarvel::cli {
namespace {

namespace fs = std::filesystem;

// The id of a process that has ended.
pid_t DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

// A process id says nothing about a folder made in another container or on
// another host sharing the folder: only this run tag's dead owners go, and
// anything untouched for over a week.
TEST(PrivateFolders, OnlyFoldersOfProvablyEndedOwnersAreRemoved) {
  const fs::path base = fs::temp_directory_path() / ("quarvel-private-test-" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  const std::string gone = std::to_string(DeadPid());
  const std::string other_run = RunTag() == "0123456789abcdef" ? "fedcba9876543210" : "0123456789abcdef";
  const fs::path dead = base / ("quarvel-convert-" + RunTag() + "-" + gone + "-abc123");
  const fs::path alive = base / ("quarvel-convert-" + RunOwnerText() + "-def456");
  const fs::path elsewhere = base / ("quarvel-convert-" + other_run + "-" + gone + "-ghi789");
  const fs::path elsewhere_old = base / ("quarvel-convert-" + other_run + "-" + gone + "-jkl012");
  const fs::path untagged = base / ("quarvel-convert-" + gone + "-abc123");
  const fs::path other = base / "quarvel-convert-notapid";
  const fs::path foreign = base / "something-else-1-abc";
  for (const fs::path& p : {dead, alive, elsewhere, elsewhere_old, untagged, other, foreign})
    fs::create_directories(p / "temp");
  fs::last_write_time(elsewhere_old, fs::file_time_type::clock::now() - std::chrono::hours(24 * 8));
  RemoveAbandonedFolders(base, "quarvel-convert");
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_FALSE(fs::exists(elsewhere_old));
  for (const fs::path& p : {alive, elsewhere, untagged, other, foreign}) EXPECT_TRUE(fs::exists(p)) << p;
  fs::remove_all(base);
}

TEST(PrivateFolders, NameCarriesTheOwnerAndGoesWithIt) {
  fs::path made;
  {
    PrivateFolder folder("quarvel-private-name");
    made = folder.Path();
    EXPECT_NE(made.filename().string().find("-" + RunOwnerText() + "-"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(made));
  }
  EXPECT_FALSE(fs::exists(made));
}

}  // namespace
}  // namespace quarvel::cli
