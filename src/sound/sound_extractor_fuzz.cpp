// libFuzzer target: the sound extraction walk on a file of fuzz bytes, in a
// private folder emptied after each run.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sound/sound_extractor.h"

namespace {
std::filesystem::path g_dir;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/quarvel-fuzz-sound-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  g_dir = tmpl;
  setenv("QUARVEL_HOME", tmpl, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  const fs::path in = g_dir / "in.a.swf";
  {
    std::ofstream f(in, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    const auto r = quarvel::sound::ExtractSounds(in);
    // Every listed file exists.
    for (const auto& p : r.files)
      if (!fs::exists(p)) std::abort();
  } catch (const quarvel::sound::SoundExtractionError&) {
  }
  for (const auto& e : fs::directory_iterator(g_dir)) fs::remove_all(e.path());
  return 0;
}
