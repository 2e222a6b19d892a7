// Loading a module's entry point: found where asked, and every failure
// named with the file, never passed over for another copy.
#include "platform/paths/modules.h"

#include <gtest/gtest.h>
#include <math.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace quarvel::paths {
namespace {

namespace fs = std::filesystem;

class ModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("quarvel-modules-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  // What LoadModuleEntry throws, "" when it returns.
  static std::string Failure(const char* file_name, const std::string& built, const char* entry) {
    try {
      LoadModuleEntry("the test module", file_name, built.empty() ? nullptr : built.c_str(), entry);
    } catch (const ModuleError& e) {
      return e.what();
    }
    return "";
  }
  fs::path folder_;
};

TEST_F(ModulesTest, FindsTheEntryOnTheSearchPathOrWhereTheBuildPutIt) {
  // The C maths library stands for a module: its entry is a function.
  void* entry = LoadModuleEntry("the test module", "libm.so.6", nullptr, "cos");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(reinterpret_cast<double (*)(double)>(entry)(0.0), 1.0);
  // The same file named by its path (not beside this program).
  const char* built = "/lib/x86_64-linux-gnu/libm.so.6";
  if (fs::exists(built)) {
    EXPECT_EQ(LoadModuleEntry("the test module", "quarvel-no-such.so", built, "cos"), entry);
  }
}

TEST_F(ModulesTest, FailuresNameTheFile) {
  const std::string missing = Failure("quarvel-no-such-module.so", "", "entry");
  EXPECT_NE(missing.find("cannot load the test module quarvel-no-such-module.so"), std::string::npos) << missing;

  // A file that is no shared object is reported, not passed over for the
  // library path's copy of the same name.
  const fs::path junk = folder_ / "libm.so.6";
  std::ofstream(junk) << "not a shared object";
  const std::string broken = Failure("libm.so.6", junk.string(), "cos");
  EXPECT_NE(broken.find(junk.string()), std::string::npos) << broken;

  const std::string mismatch = Failure("libm.so.6", "", "quarvel_no_such_entry");
  EXPECT_NE(mismatch.find("libm.so.6 does not match this program"), std::string::npos) << mismatch;
}

}  // namespace
}  // namespace quarvel::paths
