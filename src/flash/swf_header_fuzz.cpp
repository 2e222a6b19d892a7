// libFuzzer target: the header code of Open (bounds, frame rate and the
// expanded copy, written to a private working folder).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>

#include "flash/player_fit.h"
#include "flash/swf_header.h"
#include "player/swf/swf_error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/quarvel-fuzz-header-XXXXXX";
  if (mkdtemp(tmpl)) setenv("QUARVEL_HOME", tmpl, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  using namespace quarvel::flash;
  try {
    const SwfBounds b = ReadSwfHeader(bytes);
    FitPlayerLayout(b, {0, 0, 300, 300, 292, 292}, 1024, 1024);
  } catch (const quarvel::swf::SwfError&) {
  }
  try {
    ReadSwfFrameRate(bytes);
  } catch (const quarvel::swf::SwfError&) {
  }
  return 0;
}
