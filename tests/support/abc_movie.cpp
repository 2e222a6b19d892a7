#include "support/abc_movie.h"

#include "player/avm2/abc_error.h"
#include "player/avm2/abc_file.h"

namespace quarvel::testing {
namespace {

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

}  // namespace

std::string AbcDocumentClass(std::span<const std::uint8_t> abc) {
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
  const auto sep = found.find("::");
  return sep == std::string::npos ? found : found.substr(0, sep) + "." + found.substr(sep + 2);
}

int AbcMovieVersion(std::span<const std::uint8_t> abc) {
  if (abc.size() < 2) return 10;
  const unsigned minor = abc[0] | unsigned{abc[1]} << 8;
  return minor == 16 ? 10 : 9 + static_cast<int>(minor % 40);
}

std::vector<std::uint8_t> AbcMovie(std::span<const std::uint8_t> abc) {
  std::vector<std::uint8_t> swf = {'F', 'W', 'S', static_cast<std::uint8_t>(AbcMovieVersion(abc)), 0, 0, 0, 0};
  // The stage rectangle: a 5-bit field width (15), then xmin, xmax, ymin
  // and ymax in twips, most significant bit first.
  const std::uint32_t fields[5] = {15, 0, kAbcMovieWidth * 20, 0, kAbcMovieHeight * 20};
  std::vector<bool> rect;
  for (int f = 0; f < 5; ++f)
    for (int b = f == 0 ? 4 : 14; b >= 0; --b) rect.push_back(((fields[f] >> b) & 1) != 0);
  for (std::size_t i = 0; i < rect.size(); i += 8) {
    std::uint8_t byte = 0;
    for (std::size_t j = 0; j < 8; ++j)
      byte = static_cast<std::uint8_t>(byte << 1 | (i + j < rect.size() && rect[i + j]));
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
  if (const std::string doc = AbcDocumentClass(abc); !doc.empty()) {
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

}  // namespace quarvel::testing
