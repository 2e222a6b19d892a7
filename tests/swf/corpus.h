#pragma once
// The shared corpus of real SWF files and its manifest.

#include <filesystem>
#include <string>
#include <vector>

namespace quarvel::testing {

struct CorpusEntry {
  std::filesystem::path file;  // absolute
  std::string path;            // as in the manifest
  std::string exercises;
  std::string reference;
};

// The corpus folder (QUARVEL_SHARED_DIR/corpus); empty when it is absent.
std::filesystem::path CorpusFolder();

// The manifest's rows whose path ends with ".swf".
std::vector<CorpusEntry> CorpusMovies();

}  // namespace quarvel::testing
