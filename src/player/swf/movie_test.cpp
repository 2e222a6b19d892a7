#include "player/swf/movie.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace quarvel::swf {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A 550 x 400 movie at 24.5 fps, 3 frames: SetBackgroundColor, ShowFrame, End.
Bytes Body() {
  return {0x78, 0x00, 0x05, 0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00, 0x80, 0x18, 3, 0,
          0x43, 0x02, 0xff, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00};
}

Bytes Header(char sig, std::uint32_t length) {
  Bytes h{static_cast<std::uint8_t>(sig), 'W', 'S', 8};
  for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  return h;
}

Bytes Fws(const Bytes& body) {
  Bytes f = Header('F', static_cast<std::uint32_t>(8 + body.size()));
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

Bytes Zlib(const Bytes& body) {
  uLongf n = compressBound(body.size());
  Bytes z(n);
  EXPECT_EQ(compress2(z.data(), &n, body.data(), body.size(), 9), Z_OK);
  z.resize(n);
  return z;
}

Bytes Cws(const Bytes& body, std::uint32_t declared = 0) {
  Bytes f = Header('C', declared ? declared : static_cast<std::uint32_t>(8 + body.size()));
  const Bytes z = Zlib(body);
  f.insert(f.end(), z.begin(), z.end());
  return f;
}

// ".lzma" output is 5 property bytes, 8 size bytes, then the stream.
Bytes Zws(const Bytes& body) {
  lzma_stream s = LZMA_STREAM_INIT;
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  EXPECT_EQ(lzma_alone_encoder(&s, &opt), LZMA_OK);
  Bytes out(body.size() * 2 + 1024);
  s.next_in = body.data();
  s.avail_in = body.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  EXPECT_EQ(lzma_code(&s, LZMA_FINISH), LZMA_STREAM_END);
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  Bytes f = Header('Z', static_cast<std::uint32_t>(8 + body.size()));
  const auto packed = static_cast<std::uint32_t>(out.size() - 13);
  for (int i = 0; i < 4; ++i) f.push_back(static_cast<std::uint8_t>(packed >> (8 * i)));
  f.insert(f.end(), out.begin(), out.begin() + 5);
  f.insert(f.end(), out.begin() + 13, out.end());
  return f;
}

void ExpectTheMovie(const Movie& m) {
  EXPECT_EQ(m.version, 8);
  EXPECT_EQ(m.header.frameSize, (Rect{0, 11000, 0, 8000}));
  EXPECT_EQ(m.header.frameRate, 0x1880);
  EXPECT_DOUBLE_EQ(m.header.FrameRate(), 24.5);
  EXPECT_EQ(m.header.frameCount, 3);
  EXPECT_EQ(m.tagsOffset, 21u);
  auto tags = m.TagsStream();
  auto t = tags.Next();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->code, tag::kSetBackgroundColor);
  EXPECT_EQ(t->offset, 21u);
  EXPECT_EQ(tags.Next()->code, tag::kShowFrame);
  EXPECT_EQ(tags.Next()->code, tag::kEnd);
}

TEST(Containers, AllThreeGiveTheSameMovie) {
  const Bytes body = Body();
  const Movie f = OpenMovie(Fws(body));
  const Movie c = OpenMovie(Cws(body));
  const Movie z = OpenMovie(Zws(body));
  EXPECT_EQ(f.compression, Compression::kNone);
  EXPECT_EQ(c.compression, Compression::kZlib);
  EXPECT_EQ(z.compression, Compression::kLzma);
  ExpectTheMovie(f);
  ExpectTheMovie(c);
  ExpectTheMovie(z);
  EXPECT_EQ(c.data, Fws(body));
  EXPECT_EQ(z.data, Fws(body));
}

TEST(Containers, ExpandedCopyKeepsVersionAndDeclaredLength) {
  const Bytes cws = Cws(Body(), 12345);
  const Bytes x = ExpandMovie(cws);
  ASSERT_GE(x.size(), 8u);
  EXPECT_EQ(std::memcmp(x.data(), "FWS", 3), 0);
  EXPECT_TRUE(std::equal(cws.begin() + 3, cws.begin() + 8, x.begin() + 3));
  EXPECT_EQ(x.size(), 8 + Body().size());
}

TEST(Containers, UnknownSignatureAndShortFiles) {
  EXPECT_FALSE(DetectCompression(Bytes{'G', 'I', 'F'}));
  EXPECT_FALSE(DetectCompression(Bytes{'F', 'W'}));
  EXPECT_THROW(ExpandMovie(Bytes{'X', 'W', 'S', 1, 0, 0, 0, 0}), SwfError);
  EXPECT_THROW(ExpandMovie(Bytes{'F', 'W', 'S', 1, 0}), SwfError);
  // Header present, frame RECT cut off: 5 + 15 bits do not fit in 2 bytes.
  try {
    OpenMovie(Bytes{'F', 'W', 'S', 1, 20, 0, 0, 0, 0x78, 0x00});
    FAIL();
  } catch (const SwfError& e) {
    EXPECT_EQ(e.Field(), "FrameSize.Xmin");
    EXPECT_EQ(e.Offset(), 8u);
  }
}

TEST(Containers, BrokenAndTruncatedZlib) {
  Bytes cws = Cws(Body());
  Bytes garbage = cws;
  for (std::size_t i = 8; i < garbage.size(); ++i) garbage[i] ^= 0x5a;
  EXPECT_THROW(ExpandMovie(garbage), SwfError);

  // One rule for every command: a cut stream gives what it holds and says so.
  Bytes cut(cws.begin(), cws.end() - 6);
  ExpandReport report;
  const Bytes partial = ExpandMovie(cut, {}, &report);
  EXPECT_TRUE(report.cutOff);
  EXPECT_GT(partial.size(), 8u);
  EXPECT_LE(partial.size(), 8 + Body().size());
  EXPECT_TRUE(OpenMovie(cut).cutOff);
  EXPECT_FALSE(OpenMovie(cws).cutOff);
  ExpandOptions strict;
  strict.acceptTruncated = false;
  EXPECT_THROW(ExpandMovie(cut, strict), SwfError);
  // An uncompressed file shorter than its declared length is cut off too.
  const Bytes fws = Fws(Body());
  EXPECT_TRUE(OpenMovie(Bytes(fws.begin(), fws.end() - 2)).cutOff);
  EXPECT_FALSE(OpenMovie(fws).cutOff);
}

TEST(Containers, LzmaEndsWhereItsDataEnds) {
  const Bytes body = Body();
  Bytes zws = Zws(body);
  EXPECT_THROW(ExpandMovie(Bytes(zws.begin(), zws.begin() + 15)), SwfError);
  // A wrong declared length does not matter (real files have them).
  for (std::uint32_t declared : {1u, 0xFFFFFFFFu, 9u}) {
    Bytes f = zws;
    for (int i = 0; i < 4; ++i) f[4 + i] = static_cast<std::uint8_t>(declared >> (8 * i));
    const Bytes x = ExpandMovie(f);
    EXPECT_TRUE(std::equal(x.begin() + 8, x.end(), body.begin(), body.end()));
  }
  // Cut data gives a shorter movie, said to be cut off as FWS and CWS are.
  const Bytes cut_file(zws.begin(), zws.end() - 8);
  ExpandReport report;
  const Bytes cut = ExpandMovie(cut_file, {}, &report);
  EXPECT_LT(cut.size(), 8 + body.size());
  EXPECT_TRUE(std::equal(cut.begin() + 8, cut.end(), body.begin()));
  EXPECT_TRUE(report.cutOff);
  EXPECT_TRUE(OpenMovie(cut_file).cutOff);
  EXPECT_FALSE(OpenMovie(zws).cutOff);
  ExpandOptions strict;
  strict.acceptTruncated = false;
  EXPECT_THROW(ExpandMovie(cut_file, strict), SwfError);
  // Data that ends where one of the declared lengths says it does is whole.
  for (const int field : {4, 8}) {
    Bytes f = cut_file;
    const auto n = static_cast<std::uint32_t>(field == 4 ? cut.size() : cut_file.size() - 17);
    for (int i = 0; i < 4; ++i) f[field + i] = static_cast<std::uint8_t>(n >> (8 * i));
    EXPECT_FALSE(OpenMovie(f).cutOff) << field;
  }
  // Corrupt properties are refused.
  Bytes bad = zws;
  bad[12] = 0xFF;
  EXPECT_THROW(ExpandMovie(bad), SwfError);
}

TEST(Containers, ZlibBombIsRefused) {
  // 1 MiB of zeros deflated into a flushed block, repeated 300 times: a
  // stream of about 300 KiB that inflates to 300 MiB (the cap stops it first).
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  Bytes zeros(1 << 20, 0), block(1 << 16);
  z.next_in = zeros.data();
  z.avail_in = static_cast<uInt>(zeros.size());
  z.next_out = block.data();
  z.avail_out = static_cast<uInt>(block.size());
  ASSERT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
  ASSERT_EQ(z.avail_in, 0u);
  block.resize(block.size() - z.avail_out);
  deflateEnd(&z);
  Bytes packed{0x78, 0xda};
  // deflate put the 2-byte zlib header in front of the first block only.
  for (int i = 0; i < 300; ++i) packed.insert(packed.end(), block.begin() + 2, block.end());
  Bytes bomb = Header('C', 1000);
  bomb.insert(bomb.end(), packed.begin(), packed.end());
  try {
    ExpandMovie(bomb);
    FAIL();
  } catch (const SwfError& e) {
    EXPECT_NE(std::string(e.what()).find("256 MiB"), std::string::npos) << e.what();
  }
  // The cap is 4 x the declared length when that is larger.
  ExpandOptions small;
  small.minCap = 1000;
  Bytes body(5000, 0);
  EXPECT_THROW(ExpandMovie(Cws(body, 1000), small), SwfError);
  EXPECT_EQ(ExpandMovie(Cws(body, 1250), small).size(), 5008u);
}

// The body goes straight into a buffer reserved from the declared length; a
// declared length that is wrong either way still gives the exact body.
TEST(Containers, WrongDeclaredLengthStillGivesTheWholeBody) {
  Bytes body(3u << 20, 0);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 7 / 1000);
  for (std::uint32_t declared : {0u, 100u, 1u << 20, static_cast<std::uint32_t>(body.size() + 8), 64u << 20}) {
    SCOPED_TRACE(declared);
    const Bytes x = ExpandMovie(Cws(body, declared));
    ASSERT_EQ(x.size(), 8 + body.size());
    EXPECT_TRUE(std::equal(x.begin() + 8, x.end(), body.begin()));
  }
}

bool AlwaysInterrupted() { return true; }

TEST(Containers, ExpansionCanBeInterruptedAndCappedByTheFrontEnd) {
  const Bytes cws = Cws(Bytes(1u << 20, 1));
  SetExpandInterrupt(&AlwaysInterrupted);
  try {
    ExpandMovie(cws);
    ADD_FAILURE() << "not interrupted";
  } catch (const SwfError& e) {
    EXPECT_NE(std::string(e.what()).find("interrupted"), std::string::npos) << e.what();
  }
  SetExpandInterrupt(nullptr);
  EXPECT_EQ(MaxMovieSize(), kDefaultMaxMovieSize);
  SetMaxMovieSize(1000);
  EXPECT_THROW(ExpandMovie(cws), SwfError);
  SetMaxMovieSize(kDefaultMaxMovieSize);
  EXPECT_EQ(ExpandMovie(cws).size(), 8u + (1u << 20));
}

TEST(Containers, CapArithmetic) {
  ExpandOptions o;
  EXPECT_EQ(o.CapFor(100), std::uint64_t{256} << 20);
  EXPECT_EQ(o.CapFor(100u << 20), std::uint64_t{400} << 20);
  EXPECT_EQ(o.CapFor(0xffffffffu), o.hardCap);
}

TEST(Containers, LoadMovieFileNamesThePath) {
  try {
    LoadMovieFile("/nonexistent/dir/movie.swf");
    FAIL();
  } catch (const SwfError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/dir/movie.swf"), std::string::npos);
  }
}

}  // namespace
}  // namespace quarvel::swf

namespace quarvel::swf {
namespace {

TEST(Containers, HeadOnlyInflatesTheStart) {
  Bytes body = Body();
  body.resize(5000, 0x11);
  for (const Bytes& file : {Fws(body), Cws(body), Zws(body)}) {
    const Bytes head = ExpandMovieHead(file, 21);
    ASSERT_EQ(head.size(), 29u);
    EXPECT_EQ(std::memcmp(head.data(), "FWS", 3), 0);
    EXPECT_TRUE(std::equal(head.begin() + 8, head.end(), body.begin()));
  }
  // A stream cut early gives what it holds.
  const Bytes cws = Cws(body);
  const Bytes cut(cws.begin(), cws.begin() + 20);
  EXPECT_LE(ExpandMovieHead(cut, 4000).size(), 8 + 4000u);
}

}  // namespace
}  // namespace quarvel::swf
