// libFuzzer entry for the ActionScript 3 machine: any bytes as an ABC
// block, loaded and its entry script run under small caps, then every class
// it defines constructed, each in a frame of its own after the host's lazy
// collection between frames. Scripts may fail in any way they like; the
// machine must neither crash, hang nor outgrow its caps.
// Build with clang (-DQUARVEL_FUZZ=ON) and run with avm2_run_fuzz CORPUS_DIR.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "player/avm2/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarvel::avm2;
  std::shared_ptr<const AbcFile> file;
  try {
    file = std::make_shared<const AbcFile>(ParseAbc(std::span<const std::uint8_t>(data, size)));
  } catch (const AbcError&) {
    return 0;
  }
  Machine m;
  m.limits.instructionsPerFrame = 200000;
  m.limits.bytesPerFrame = std::size_t{64} << 20;
  m.limits.liveCells = 200000;
  m.limits.callDepth = 64;
  m.BeginFrame();
  m.Load(file, "fuzz");
  for (const InstanceInfo& ii : file->instances) {
    m.CollectIfDue();
    m.BeginFrame();
    const std::string name = file->NameOf(ii.name);
    m.SafeCall([&] {
      if (Class* c = m.FindClass(name)) m.Construct(c, {});
    }, "a fuzzed class");
  }
  m.Collect();
  return 0;
}
