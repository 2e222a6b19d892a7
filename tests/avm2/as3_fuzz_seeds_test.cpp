// The builder-made seeds of the ActionScript 3 fuzz targets get where they
// are meant to: played as the fuzz target plays a block, each runs its
// calls to the end without an uncaught error, and the ones that wait for
// an event hear it. A seed that threw half-way would leave the fuzzer
// starting from code that never reaches the classes it names.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/abc_movie.h"
#include "support/as3_fuzz_seeds.h"
#include "support/as3_movie.h"

namespace quarvel::testing {
namespace {

TEST(As3FuzzSeeds, EachRunsToItsEndWithoutAnUncaughtError) {
  const auto seeds = As3FuzzSeeds();
  ASSERT_GE(seeds.size(), 8u);
  for (const As3FuzzSeed& seed : seeds) {
    SCOPED_TRACE(seed.name);
    const std::string traced = As3Traced(AbcMovie(seed.abc), [](player::FlashPlayer& p) {
      for (int i = 1; i <= 4; ++i) p.AdvanceTo(i * 250);
    });
    EXPECT_NE(traced.find(seed.name + " done|"), std::string::npos) << traced;
    if (seed.later) {
      EXPECT_NE(traced.find(seed.name + " later|"), std::string::npos) << traced;
    }
    // Uncaught errors print as Flash's debugger prints them: "TypeError: Error #1009: ...".
    static const std::regex kUncaught(R"((^|\|)[A-Za-z]*Error: )");
    EXPECT_FALSE(std::regex_search(traced, kUncaught)) << traced;
  }
}

// The fuzz wrapper's movie: the document class is the block's last display
// class, and the block's minor version picks the SWF version.
TEST(As3FuzzSeeds, TheWrapperFindsTheDocumentClassAndVersion) {
  for (const As3FuzzSeed& seed : As3FuzzSeeds()) {
    SCOPED_TRACE(seed.name);
    EXPECT_EQ(AbcDocumentClass(seed.abc), "Main");
    EXPECT_EQ(AbcMovieVersion(seed.abc), seed.name == "workers" ? 17 : 10);
  }
  // Not a block: no document class; minor version 0x0201 gives SWF 9 + 513 % 40.
  const std::uint8_t noAbc[] = {1, 2, 3};
  EXPECT_EQ(AbcDocumentClass(noAbc), "");
  EXPECT_EQ(AbcMovieVersion(noAbc), 42);
  const std::vector<std::uint8_t> swf = AbcMovie(noAbc);
  ASSERT_GE(swf.size(), 8u);
  EXPECT_EQ(swf[3], 42);
  EXPECT_EQ(swf[4] | swf[5] << 8 | swf[6] << 16 | swf[7] << 24, static_cast<int>(swf.size()));
}

}  // namespace
}  // namespace quarvel::testing
