// Signed libraries: the movie inside a PKCS#7 envelope built here by hand,
// and the envelopes that hold none.
#include "player/swf/signed_library.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace quarvel::swf {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One DER element; lengths past 127 in the long form, as signing tools write them.
Bytes Der(std::uint8_t tag, const Bytes& value) {
  Bytes out{tag};
  const std::size_t n = value.size();
  if (n < 0x80) {
    out.push_back(static_cast<std::uint8_t>(n));
  } else {
    out.push_back(0x83);
    for (int shift : {16, 8, 0}) out.push_back(static_cast<std::uint8_t>(n >> shift));
  }
  out.insert(out.end(), value.begin(), value.end());
  return out;
}
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
const Bytes kSignedOid = Der(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02});
const Bytes kDataOid = Der(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01});

// ContentInfo(signedData, SignedData(1, {sha1}, ContentInfo(data, content), signer infos)).
Bytes Envelope(const Bytes& content, const Bytes& outerOid = kSignedOid) {
  const Bytes digests = Der(0x31, Der(0x30, Join({Der(0x06, {0x2B, 0x0E, 0x03, 0x02, 0x1A}), Der(0x05, {})})));
  const Bytes inner = Der(0x30, Join({kDataOid, Der(0xA0, Der(0x04, content))}));
  const Bytes signedData = Der(0x30, Join({Der(0x02, {1}), digests, inner, Der(0x31, Bytes(40, 0x11))}));
  return Der(0x30, Join({outerOid, Der(0xA0, signedData)}));
}

TEST(SignedLibrary, GivesTheMovieItsEnvelopeHolds) {
  Bytes movie = {'C', 'W', 'S', 10, 0, 1, 0, 0};
  movie.resize(300, 0x78);  // long enough for the long length form
  const Bytes file = Envelope(movie);
  const auto found = SignedLibraryMovie(file);
  ASSERT_TRUE(found);
  EXPECT_EQ(Bytes(found->begin(), found->end()), movie);
  // The movie is a view into the file, not a copy.
  EXPECT_GE(found->data(), file.data());
  EXPECT_LE(found->data() + found->size(), file.data() + file.size());
}

TEST(SignedLibrary, FindsNoMovieOutsideAWholeSignedEnvelope) {
  const Bytes movie = {'F', 'W', 'S', 9, 20, 0, 0, 0};
  const Bytes file = Envelope(movie);
  EXPECT_FALSE(SignedLibraryMovie(movie)) << "a plain movie";
  EXPECT_FALSE(SignedLibraryMovie(Envelope({0xFF, 0xD8, 0xFF, 0xE0}))) << "a picture in the envelope";
  EXPECT_FALSE(SignedLibraryMovie(Envelope(movie, kDataOid))) << "not signedData";
  for (std::size_t cut : {std::size_t{1}, std::size_t{2}, file.size() / 2, file.size() - 1})
    EXPECT_FALSE(SignedLibraryMovie(std::span(file).first(cut))) << "cut to " << cut;
  Bytes indefinite = file;
  indefinite[1] = 0x80;
  EXPECT_FALSE(SignedLibraryMovie(indefinite)) << "an indefinite length";
  EXPECT_FALSE(SignedLibraryMovie({})) << "nothing";
}

}  // namespace
}  // namespace quarvel::swf
