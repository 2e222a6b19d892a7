#include "swf/corpus.h"

#include <fstream>
#include <sstream>

namespace quarvel::testing {
namespace fs = std::filesystem;

fs::path CorpusFolder() {
  const fs::path dir = fs::path(QUARVEL_SHARED_DIR) / "corpus";
  std::error_code ec;
  return fs::exists(dir / "MANIFEST.tsv", ec) ? dir : fs::path{};
}

std::vector<CorpusEntry> CorpusMovies() {
  std::vector<CorpusEntry> out;
  const fs::path dir = CorpusFolder();
  if (dir.empty()) return out;
  std::ifstream in(dir / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (cols.size() < 7 || !cols[0].ends_with(".swf")) continue;
    out.push_back({dir / cols[0], cols[0], cols[5], cols[6]});
  }
  return out;
}

}  // namespace quarvel::testing
