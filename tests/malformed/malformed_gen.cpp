// quarvel-malformed-gen FOLDER: writes the malformed-movie cases as files,
// for trying them by hand or with other players.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "malformed/malformed_cases.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quarvel-malformed-gen FOLDER\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (const auto& c : quarvel::testing::MalformedCases()) {
    const auto path = folder / (c.name + ".swf");
    const auto bytes = c.bytes();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "quarvel-malformed-gen: %s: cannot write\n", path.c_str());
      return 1;
    }
    std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  }
  return 0;
}
