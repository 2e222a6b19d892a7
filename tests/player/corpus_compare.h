#pragma once
// Renders corpus movies and compares them with their reference pictures.

#include <string>
#include <vector>

namespace quarvel::testing {

struct CorpusFrame {
  std::string movie;      // path relative to the corpus folder
  std::string reference;  // PNG, relative
  int frame = 1;          // 1-based frame to compare at
  bool lowQuality = false;
  bool noScript = false;
  std::string exercises;
};

struct Comparison {
  bool rendered = false;
  std::string error;
  double mad = 0;   // mean absolute difference per channel, 0..255
  double psnr = 0;  // dB
  int width = 0, height = 0;
};

std::vector<CorpusFrame> ReadCorpusManifest(const std::string& corpusDir);
// Renders `f` at the reference's size; when outDir is not empty the render
// is saved there as a PNG for inspection.
Comparison CompareWithReference(const std::string& corpusDir, const CorpusFrame& f, const std::string& outDir = "");

}  // namespace quarvel::testing
