// Writes the builder-made seed blocks of the ActionScript 3 fuzz targets
// (support/as3_fuzz_seeds.h) into a folder, one file per block named after
// it: scripts/fuzz hands the folder to abc_fuzz, avm2_run_fuzz and
// as3_movie_fuzz beside their kept corpus.
//   as3_fuzz_seeds OUT_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/as3_fuzz_seeds.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: as3_fuzz_seeds OUT_DIR\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (ec) {
    std::fprintf(stderr, "as3_fuzz_seeds: %s: %s\n", out.c_str(), ec.message().c_str());
    return 1;
  }
  int written = 0;
  for (const auto& seed : quarvel::testing::As3FuzzSeeds()) {
    const std::filesystem::path file = out / ("seed_" + seed.name + ".abc");
    std::ofstream f(file, std::ios::binary);
    f.write(reinterpret_cast<const char*>(seed.abc.data()), static_cast<std::streamsize>(seed.abc.size()));
    if (!f.flush()) {
      std::fprintf(stderr, "as3_fuzz_seeds: %s: cannot write\n", file.c_str());
      return 1;
    }
    ++written;
  }
  std::printf("%d seed blocks written to %s\n", written, out.c_str());
  return 0;
}
