// libFuzzer entry for ActionScript 3 inside a movie: any bytes as the ABC
// block of a two-frame movie whose document class is the block's display
// class (support/abc_movie.h), played by FlashPlayer for a few frames with
// pointer and keys, so that scripts reach the Flash classes (events and
// their dispatch, the display list, XML, text, bitmaps, 3D, Stage3D, video,
// workers, timers, loaders). Seeded with the ABC blocks of the trace suite
// (scripts/fuzz-seed-abc) and the builder-made blocks of as3_fuzz_seeds.
// Scripts may fail in any way they like; the player must neither crash,
// hang nor outgrow its caps, which are lowered so that no input runs long.
// Build with clang (-DQUARVEL_FUZZ=ON) and run with as3_movie_fuzz CORPUS_DIR.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/abc_movie.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarvel::testing;
  const std::vector<std::uint8_t> swf = AbcMovie(std::span<const std::uint8_t>(data, size));
  quarvel::player::FlashPlayer player;
  player.SetScriptLimits({.instructionsPerFrame = 200'000, .callDepth = 64, .memoryBytes = std::size_t{64} << 20});
  player.SetSize(kAbcMovieWidth, kAbcMovieHeight);
  if (!player.LoadMovieBytes(swf)) return 0;
  quarvel::gdi::Bitmap bmp;
  player.Paint(bmp);
  for (int i = 1; i <= 4; ++i) {
    player.AdvanceTo(static_cast<std::int64_t>(i) * 250);
    player.MouseMove(8 * i, 6 * i);
    if (i == 2) player.MouseDown(16, 12);
    if (i == 3) {
      player.MouseUp(16, 12);
      player.KeyDown(65, 'a');
      player.KeyUp(65, 'a');
    }
    player.Paint(bmp);
  }
  return 0;
}
