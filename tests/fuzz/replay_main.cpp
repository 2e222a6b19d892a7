// Runs a fuzz target's entry point over kept inputs (files, or every file
// of the folders given), so that the corpus is replayed by every test run
// without libFuzzer: fuzz_replay TARGET INPUT... Fails when it finds no
// input at all or does not know the target.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/replay_table.h"

int main(int argc, char** argv) {
  const char* program = argv[0];
  const quarvel::fuzz::ReplayTarget* target = nullptr;
  for (const auto* t = quarvel::fuzz::kReplayTargets; argc >= 2 && t->name != nullptr; ++t) {
    if (std::strcmp(t->name, argv[1]) == 0) target = t;
  }
  if (target == nullptr) {
    std::fprintf(stderr, "%s: unknown fuzz target '%s'; known:", program, argc >= 2 ? argv[1] : "");
    for (const auto* t = quarvel::fuzz::kReplayTargets; t->name != nullptr; ++t) std::fprintf(stderr, " %s", t->name);
    std::fprintf(stderr, "\n");
    return 2;
  }
  // The target sees its inputs as libFuzzer would pass them.
  argv[1] = argv[0];
  --argc;
  ++argv;
  if (target->initialize) target->initialize(&argc, &argv);
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path p = argv[i];
    std::error_code ec;
    if (std::filesystem::is_directory(p, ec)) {
      for (const auto& e : std::filesystem::directory_iterator(p, ec)) {
        if (e.is_regular_file()) inputs.push_back(e.path());
      }
    } else {
      inputs.push_back(p);
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "%s %s: no inputs to replay\n", program, target->name);
    return 1;
  }
  for (const auto& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s %s: %s: cannot read\n", program, target->name, p.c_str());
      return 1;
    }
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), {});
    target->run(data.data(), data.size());
  }
  std::printf("%s: %zu inputs replayed\n", target->name, inputs.size());
  return 0;
}
