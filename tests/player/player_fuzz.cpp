// libFuzzer entry: load any bytes as a movie, run a few frames, paint them.
// Build with clang (-DQUARVEL_FUZZ=ON) and run with
//   LSAN_OPTIONS=suppressions=tests/player/fuzz_lsan.supp quarvel_fuzz CORPUS_DIR
// (fontconfig keeps the fonts that device text loads for the process's life).
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarvel::player::FlashPlayer player;
  // Lowered caps: a movie that loops for ever costs a fraction of a second.
  player.SetScriptLimits({.instructionsPerFrame = 200'000, .callDepth = 64, .memoryBytes = std::size_t{64} << 20});
  player.SetSize(64, 48);
  if (size > 0 && (data[0] & 1)) player.SetQuality("Low");
  if (!player.LoadMovieBytes(std::span<const std::uint8_t>(data, size))) return 0;
  quarvel::gdi::Bitmap bmp;
  player.Paint(bmp);
  for (int i = 1; i <= 4; ++i) {
    player.AdvanceTo(static_cast<std::int64_t>(i) * 1000);
    // Sweep the pointer across the stage with a press and a release, so
    // that buttons run their transitions and actions.
    const int y = 12 * i - 6;
    for (int x = 0; x < 64; x += 8) {
      player.MouseMove(x, y);
      if (x == 24) player.MouseDown(x, y);
      if (x == 40) player.MouseUp(x, y);
    }
    player.Paint(bmp);
  }
  player.MouseLeave();
  player.GotoFrame(0);
  player.Paint(bmp);
  return 0;
}
