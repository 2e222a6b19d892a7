// libFuzzer target: containers, movie header, tag stream (sprites
// included) and the record readers on every tag body.
#include <cstddef>
#include <cstdint>
#include <span>

#include "player/swf/movie.h"

namespace {

using namespace quarvel::swf;

void Records(std::span<const std::uint8_t> body, std::size_t at) {
  // Each reader from each of the first bytes: every path must stay in bounds.
  for (std::size_t skip = 0; skip < 4 && skip < body.size(); ++skip) {
    try {
      Reader r(body.subspan(skip), at + skip);
      ReadRect(r);
      ReadMatrix(r);
      ReadCxformWithAlpha(r);
      ReadCxform(r);
      ReadArgb(r);
      r.EncodedU32();
      r.String();
      const unsigned n = r.UB(5);
      r.SB(n);
      r.FB(n);
      r.F64();
    } catch (const SwfError&) {
    }
  }
}

// A small input can inflate to millions of empty tags; reading records
// from each (an exception apiece) would only time the harness out.
constexpr int kRecordTags = 4096;

void Walk(TagStream s, int depth, int& tags) {
  while (auto t = s.Next()) {
    if (++tags <= kRecordTags) Records(t->body, t->offset + t->headerSize);
    if (t->code == tag::kDefineSprite && depth < 4) {
      Reader r = t->BodyReader();
      r.U16();
      r.U16();
      const std::size_t at = r.Offset();
      Walk(TagStream(r.Rest(), at), depth + 1, tags);
    }
    if (t->code == tag::kEnd) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  ExpandOptions options;
  options.minCap = 8u << 20;
  options.capFactor = 1;
  options.hardCap = 16u << 20;
  options.acceptTruncated = size > 0 && (data[size - 1] & 1);
  try {
    const Movie m = OpenMovie(bytes, options);
    int tags = 0;
    Walk(m.TagsStream(), 0, tags);
  } catch (const SwfError&) {
  }
  try {
    ExpandMovieHead(bytes, 21);
  } catch (const SwfError&) {
  }
  // The bytes as a tag stream of their own.
  try {
    int tags = 0;
    Walk(TagStream(bytes), 0, tags);
  } catch (const SwfError&) {
  }
  return 0;
}
