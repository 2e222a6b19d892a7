// Renders every corpus movie with a reference picture and compares.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "corpus_compare.h"
#include "support/font_caches.h"

namespace quarvel::testing {
namespace {

const std::string kCorpus = std::string(QUARVEL_SHARED_DIR) + "/corpus";

// Floors that only go up: the number of reference frames within a mean
// absolute difference of 3.
constexpr int kNoScriptPassFloor = 70;
constexpr int kScriptPassFloor = 95;
constexpr int kAvm2PassFloor = 42;  // of the rows marked avm2-script
constexpr int kAvm1PassFloor = 53;  // of the rows marked avm1-script

TEST(PlayerCorpus, ReferenceFramesWithinTolerance) {
  if (!std::filesystem::exists(kCorpus + "/MANIFEST.tsv")) GTEST_SKIP() << "no corpus at " << kCorpus;
  const char* out = std::getenv("QUARVEL_CORPUS_OUT");
  // Only the rows whose reference path holds this text; the floors then do not apply.
  const char* only = std::getenv("QUARVEL_CORPUS_ONLY");
  int noScript = 0, noScriptPass = 0, script = 0, scriptPass = 0, avm1 = 0, avm1Pass = 0, avm2 = 0, avm2Pass = 0;
  for (const auto& f : ReadCorpusManifest(kCorpus)) {
    if (only && f.reference.find(only) == std::string::npos) continue;
    const Comparison c = CompareWithReference(kCorpus, f, out ? out : "");
    const bool pass = c.rendered && c.mad <= 3.0;
    (f.noScript ? noScript : script)++;
    if (pass) (f.noScript ? noScriptPass : scriptPass)++;
    if (f.exercises.find("avm2-script") != std::string::npos) {
      ++avm2;
      avm2Pass += pass ? 1 : 0;
    }
    if (f.exercises.find("avm1-script") != std::string::npos) {
      ++avm1;
      avm1Pass += pass ? 1 : 0;
    }
    std::printf("%s %-6s mad %6.2f psnr %5.1f %s %s\n", pass ? "PASS" : "FAIL", f.noScript ? "plain" : "script",
                c.mad, c.psnr, f.reference.c_str(), c.error.c_str());
  }
  std::printf("no-script: %d of %d within MAD 3; script: %d of %d (ActionScript 1/2: %d of %d; ActionScript 3: %d of %d)\n",
              noScriptPass, noScript, scriptPass, script, avm1Pass, avm1, avm2Pass, avm2);
  if (only) return;
  EXPECT_GE(noScriptPass, kNoScriptPassFloor);
  EXPECT_GE(scriptPass, kScriptPassFloor);
  EXPECT_GE(avm2Pass, kAvm2PassFloor);
  EXPECT_GE(avm1Pass, kAvm1PassFloor);
}

}  // namespace
}  // namespace quarvel::testing
