#pragma once
// A private working folder (with its temp/ frame store) per test, removed
// afterwards, so that GIF builds read only the frames the test saved.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/paths/working_folder.h"

namespace quarvel::gif::testing {

class WorkingFolderTest : public ::testing::Test {
 protected:
  explicit WorkingFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           (prefix_ + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_ / "temp");
    paths::SetWorkingFolder(dir_);
  }
  void TearDown() override {
    paths::SetWorkingFolder({});
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_;

 private:
  std::string prefix_;
};

}  // namespace quarvel::gif::testing
