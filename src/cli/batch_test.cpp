// Private working folders: a later run clears the ones a killed run left.
#include "cli/batch.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(PrivateFolders, OnlyFoldersOfEndedOwnersAreRemoved) {
  const fs::path base = fs::temp_directory_path() / ("quarvel-private-test-" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  const fs::path dead = base / ("quarvel-convert-" + std::to_string(DeadPid()) + "-abc123");
  const fs::path alive = base / ("quarvel-convert-" + std::to_string(::getpid()) + "-def456");
  const fs::path other = base / "quarvel-convert-notapid";
  const fs::path foreign = base / "something-else-1-abc";
  for (const fs::path& p : {dead, alive, other, foreign}) fs::create_directories(p / "temp");
  RemoveAbandonedFolders(base, "quarvel-convert");
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(alive));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_TRUE(fs::exists(foreign));
  fs::remove_all(base);
}

TEST(PrivateFolders, NameCarriesTheOwnerAndGoesWithIt) {
  fs::path made;
  {
    PrivateFolder folder("quarvel-private-name");
    made = folder.Path();
    EXPECT_NE(made.filename().string().find("-" + std::to_string(::getpid()) + "-"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(made));
  }
  EXPECT_FALSE(fs::exists(made));
}

}  // namespace
}  // namespace quarvel::cli
