#include "player/swf/signed_library.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "player/swf/movie.h"

namespace quarvel::swf {
namespace {

// One DER element: its tag and the bytes of its value.
struct Element {
  std::uint8_t tag = 0;
  std::span<const std::uint8_t> value;
};

// Reads the element at the front of `in` and drops it from `in`; nullopt
// for a cut or indefinite length, or one longer than what is left.
std::optional<Element> Next(std::span<const std::uint8_t>& in) {
  if (in.size() < 2) return std::nullopt;
  Element e;
  e.tag = in[0];
  std::size_t length = in[1];
  std::size_t at = 2;
  if (length & 0x80) {
    const std::size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 4 || in.size() < 2 + bytes) return std::nullopt;
    length = 0;
    for (std::size_t i = 0; i < bytes; ++i) length = length << 8 | in[2 + i];
    at += bytes;
  }
  if (length > in.size() - at) return std::nullopt;
  e.value = in.subspan(at, length);
  in = in.subspan(at + length);
  return e;
}

// The element of `tag` at the front of `in`, entered.
std::optional<std::span<const std::uint8_t>> Enter(std::span<const std::uint8_t>& in, std::uint8_t tag) {
  const auto e = Next(in);
  if (!e || e->tag != tag) return std::nullopt;
  return e->value;
}

bool IsOid(std::span<const std::uint8_t>& in, std::span<const std::uint8_t> oid) {
  const auto v = Enter(in, 0x06);
  return v && std::equal(v->begin(), v->end(), oid.begin(), oid.end());
}

constexpr std::uint8_t kSequence = 0x30, kSet = 0x31, kInteger = 0x02, kOctets = 0x04, kExplicit0 = 0xA0;
// 1.2.840.113549.1.7.2 (signedData) and 1.2.840.113549.1.7.1 (data).
constexpr std::array<std::uint8_t, 9> kSignedData = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
constexpr std::array<std::uint8_t, 9> kData = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};

}  // namespace

std::optional<std::span<const std::uint8_t>> SignedLibraryMovie(std::span<const std::uint8_t> file) {
  // ContentInfo { signedData, [0] SignedData { version, digestAlgorithms,
  //   ContentInfo { data, [0] OCTET STRING }, ... } }
  auto outer = Enter(file, kSequence);
  if (!outer || !IsOid(*outer, kSignedData)) return std::nullopt;
  auto wrapped = Enter(*outer, kExplicit0);
  if (!wrapped) return std::nullopt;
  auto signedData = Enter(*wrapped, kSequence);
  if (!signedData || !Enter(*signedData, kInteger) || !Enter(*signedData, kSet)) return std::nullopt;
  auto content = Enter(*signedData, kSequence);
  if (!content || !IsOid(*content, kData)) return std::nullopt;
  auto held = Enter(*content, kExplicit0);
  if (!held) return std::nullopt;
  const auto movie = Enter(*held, kOctets);
  if (!movie || !DetectCompression(*movie)) return std::nullopt;
  return movie;
}

}  // namespace quarvel::swf
