#pragma once
// Builder-made ABC blocks that seed the ActionScript 3 fuzz targets: each
// calls one family of the Flash API that the trace suite's movies seldom
// reach (BitmapData's noise, thresholds, palettes and filters; the 3D
// display; Stage3D; the text engine; text fields; NetStream, Video and
// generated sound; workers), with arguments both plain and odd, so that
// mutations start from code that gets there. Each block's document class
// traces "<name> done" as its last step, and "<name> later" from the events
// it waits for; support/abc_movie.h plays it as the fuzz target does.
// Written to files by tests/fuzz/as3_fuzz_seeds.cpp.

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::testing {

struct As3FuzzSeed {
  std::string name;
  std::vector<std::uint8_t> abc;
  bool later = false;  // also traces "<name> later" from an event within a second
};

std::vector<As3FuzzSeed> As3FuzzSeeds();

}  // namespace quarvel::testing
