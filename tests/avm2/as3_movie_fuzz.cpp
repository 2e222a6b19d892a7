// libFuzzer entry for ActionScript 3 inside a movie: any bytes as the ABC
// block of a one-frame movie whose document class is the block's display
// class, played by FlashPlayer for a few frames with pointer and keys, so
// that scripts reach the Flash classes (events and their dispatch, the
// display list, XML, text, bitmaps, timers, loaders). Seeded with the ABC
// blocks of the trace suite (scripts/fuzz-seed-abc). Scripts may fail in any
// way they like; the player must neither crash, hang nor outgrow its caps.
// Build with clang (-DQUARVEL_FUZZ=ON) and run with as3_movie_fuzz CORPUS_DIR.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/avm2/abc_error.h"
#include "player/avm2/abc_file.h"
#include "player/flash_player.h"

namespace {

constexpr int kWidth = 64, kHeight = 48;

// The class the movie's root is made of: the last one that extends a Flash
// display class, as compilers write the document class after its helpers.
std::string DocumentClass(std::span<const std::uint8_t> abc) {
  using namespace quarvel::avm2;
  std::string found;
  try {
    const AbcFile file = ParseAbc(abc);
    for (const InstanceInfo& ii : file.instances) {
      const std::string super = file.NameOf(ii.superName);
      if (super.rfind("flash.display::", 0) == 0) found = file.NameOf(ii.name);
    }
  } catch (const AbcError&) {
    return {};
  }
  // SymbolClass spells packages with dots.
  if (const auto sep = found.find("::"); sep != std::string::npos) found.replace(sep, 2, ".");
  return found;
}

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Tag(std::vector<std::uint8_t>& out, unsigned code, std::span<const std::uint8_t> body) {
  Put16(out, (code << 6) | 0x3F);  // the long form takes any length
  Put32(out, static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

std::vector<std::uint8_t> Movie(std::span<const std::uint8_t> abc) {
  std::vector<std::uint8_t> swf = {'F', 'W', 'S', 10, 0, 0, 0, 0};
  // The stage rectangle: a 5-bit field width (15), then xmin, xmax, ymin
  // and ymax in twips, most significant bit first.
  const std::uint32_t fields[5] = {15, 0, kWidth * 20, 0, kHeight * 20};
  std::vector<bool> rect;
  for (int f = 0; f < 5; ++f)
    for (int b = f == 0 ? 4 : 14; b >= 0; --b) rect.push_back(((fields[f] >> b) & 1) != 0);
  for (std::size_t i = 0; i < rect.size(); i += 8) {
    std::uint8_t byte = 0;
    for (std::size_t j = 0; j < 8; ++j) byte = static_cast<std::uint8_t>(byte << 1 | (i + j < rect.size() && rect[i + j]));
    swf.push_back(byte);
  }
  Put16(swf, 24 << 8);  // 24 frames a second, 8.8 fixed point
  Put16(swf, 2);        // frames
  std::vector<std::uint8_t> body;
  Put32(body, 0x08);  // FileAttributes: ActionScript 3
  Tag(swf, 69, body);
  body.clear();
  Put32(body, 0);  // DoABC: run at once
  body.insert(body.end(), {'f', 'u', 'z', 'z', 0});
  body.insert(body.end(), abc.begin(), abc.end());
  Tag(swf, 82, body);
  if (const std::string doc = DocumentClass(abc); !doc.empty()) {
    body.clear();
    Put16(body, 1);
    Put16(body, 0);
    body.insert(body.end(), doc.begin(), doc.end());
    body.push_back(0);
    Tag(swf, 76, body);  // SymbolClass
  }
  Tag(swf, 1, {});  // ShowFrame
  Tag(swf, 1, {});
  Tag(swf, 0, {});  // End
  const auto size = static_cast<std::uint32_t>(swf.size());
  for (int i = 0; i < 4; ++i) swf[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  return swf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> swf = Movie(std::span<const std::uint8_t>(data, size));
  quarvel::player::FlashPlayer player;
  player.SetSize(kWidth, kHeight);
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
