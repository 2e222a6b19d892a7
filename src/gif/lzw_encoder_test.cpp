#include "gif/lzw_encoder.h"

#include <gtest/gtest.h>

#include <random>

#include "gif/gif_exception.h"

namespace quarvel::gif {
namespace {

TStream Encode(const std::vector<std::uint8_t>& pixels, int width, int height, int code_width, int colours,
               bool interlace = false) {
  TStream out;
  TLZWEncoder encoder;
  encoder.EncodeImageData(out, code_width, colours, pixels.empty() ? nullptr : pixels.data(), interlace, height, width);
  return out;
}

// Sub-block lengths after the code width byte; the last entry is the terminator 0.
std::vector<int> BlockLengths(const TStream& s) {
  std::vector<int> lengths;
  std::size_t pos = 1;
  while (pos < s.size()) {
    int n = s[pos];
    lengths.push_back(n);
    pos += std::size_t(n) + 1;
    if (n == 0) break;
  }
  EXPECT_EQ(pos, s.size()) << "bytes after the terminator";
  return lengths;
}

std::vector<std::uint8_t> CodeData(const TStream& s) {
  std::vector<std::uint8_t> data;
  std::size_t pos = 1;
  while (pos < s.size() && s[pos] != 0) {
    data.insert(data.end(), s.begin() + std::ptrdiff_t(pos) + 1, s.begin() + std::ptrdiff_t(pos) + 1 + s[pos]);
    pos += std::size_t(s[pos]) + 1;
  }
  return data;
}

// Reads the code stream with a decoder's width rule (the decoder enters one
// string per code, except for the first code after a clear).
std::vector<int> ReadCodes(const TStream& s) {
  const int min_size = s[0];
  const int clear = 1 << min_size, end = clear + 1;
  std::vector<std::uint8_t> data = CodeData(s);
  std::vector<int> codes;
  int width = min_size + 1, next = clear + 2;
  bool first = true;
  std::size_t bitpos = 0;
  while (bitpos + std::size_t(width) <= data.size() * 8) {
    int code = 0;
    for (int b = 0; b < width; ++b, ++bitpos)
      if (data[bitpos / 8] & (1 << (bitpos % 8))) code |= 1 << b;
    codes.push_back(code);
    if (code == end) break;
    if (code == clear) {
      width = min_size + 1;
      next = clear + 2;
      first = true;
      continue;
    }
    if (!first && next < 4096) {
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
    first = false;
  }
  return codes;
}

TEST(LzwEncoder, OnePixelFrameIsTheKnownByteSequence) {
  TStream out = Encode({0}, 1, 1, 8, 256);
  EXPECT_EQ(out, (TStream{0x08, 0x04, 0x00, 0x01, 0x04, 0x04, 0x00}));
}

TEST(LzwEncoder, TwoColourFrameUsesCodeWidthTwoAndThreeBitCodes) {
  TStream out = Encode({1, 0, 1}, 3, 1, 1, 2);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(ReadCodes(out), (std::vector<int>{4, 1, 0, 1, 5}));
  // clear 4, 1, 0, 1 at 3 bits; entry 7 made the table reach 8, so the end
  // code 5 goes out at 4 bits: 4 | 1 << 3 | 0 << 6 | 1 << 9 | 5 << 12 = 0x520C
  EXPECT_EQ(CodeData(out), (std::vector<std::uint8_t>{0x0C, 0x52}));
}

TEST(LzwEncoder, FrameWithoutPixelsWritesOnlyTheEndCode) {
  TStream out = Encode({}, 0, 0, 8, 256);
  // code width, one sub-block holding end code 257 at 9 bits, terminator
  EXPECT_EQ(out, (TStream{0x08, 0x02, 0x01, 0x01, 0x00}));
}

TEST(LzwEncoder, PixelOutsideTheTableFailsAtTheFirstSuchPixel) {
  std::vector<std::uint8_t> pixels = {1, 2, 199, 200, 3};
  try {
    Encode(pixels, 5, 1, 8, 200);
    FAIL() << "no exception";
  } catch (const GIFException& e) {
    EXPECT_STREQ(e.what(), "Color not in color table");
  }
  EXPECT_NO_THROW(Encode({1, 2, 199, 3}, 4, 1, 8, 200));
}

TEST(LzwEncoder, TableFullEmitsClearAndNarrowsTheNextCode) {
  // Random pixels fill the table quickly and never repeat long strings.
  std::mt19937 rng(7);
  std::vector<std::uint8_t> pixels(20000);
  for (auto& p : pixels) p = std::uint8_t(rng());
  TStream out = Encode(pixels, 200, 100, 8, 256);
  std::vector<int> codes = ReadCodes(out);
  ASSERT_EQ(codes.front(), 256);
  ASSERT_EQ(codes.back(), 257);
  // Entries 258 to 4094 follow the first 3837 data codes; the 3838th code
  // finds the table full and the clear follows it directly.
  auto second_clear = std::find(codes.begin() + 1, codes.end(), 256);
  ASSERT_NE(second_clear, codes.end());
  EXPECT_EQ(second_clear - codes.begin() - 1, 3838);
  // No code ever names an entry above 4094.
  for (int c : codes) EXPECT_LE(c, 4094);
  // The reader reproduces the pixel count: every code decodes to >= 1 pixel.
  EXPECT_GT(codes.size(), 2 * 3838u);
}

TEST(LzwEncoder, SubBlocksOf255And256Bytes) {
  // The code data length depends only on the number of codes and the code
  // width; search both until the data is exactly 255 and 256 bytes.
  bool saw255 = false, saw256 = false;
  std::mt19937 rng(3);
  for (int cw = 2; cw <= 8 && !(saw255 && saw256); ++cw) {
    std::vector<std::uint8_t> pool(2000);
    for (auto& p : pool) p = std::uint8_t(rng() % (1u << cw));
    for (int n = 1; n < 2000 && !(saw255 && saw256); ++n) {
      std::vector<std::uint8_t> pixels(pool.begin(), pool.begin() + n);
      TStream out = Encode(pixels, n, 1, cw, 1 << cw);
      std::size_t data = CodeData(out).size();
      if (data == 255) {
        saw255 = true;
        EXPECT_EQ(BlockLengths(out), (std::vector<int>{255, 0}));
      } else if (data == 256) {
        saw256 = true;
        EXPECT_EQ(BlockLengths(out), (std::vector<int>{255, 1, 0}));
      }
    }
  }
  EXPECT_TRUE(saw255);
  EXPECT_TRUE(saw256);
}

TEST(LzwEncoder, HashProbeSequenceDoublesModuloThePrime) {
  EXPECT_EQ(THashTable::NextSlot(0), 8008);
  EXPECT_EQ(THashTable::NextSlot(8008), 8007);
  EXPECT_EQ(THashTable::NextSlot(100), 200);
  EXPECT_EQ(THashTable::NextSlot(5000), 1991);
  EXPECT_EQ(THashTable::FirstSlot(0x12345), int(((0x12345u >> 4) ^ 0x12345u) % 8009));

  THashTable table;
  EXPECT_EQ(table.Lookup(5), THashTable::kNotFound);
  // Keys that share a first slot still come back with their own codes.
  std::vector<std::uint32_t> keys;
  for (std::uint32_t k = 0; keys.size() < 40 && k < (1u << 20); ++k)
    if (THashTable::FirstSlot(k) == 17) keys.push_back(k);
  for (std::size_t i = 0; i < keys.size(); ++i) table.Insert(keys[i], int(300 + i));
  for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(table.Lookup(keys[i]), int(300 + i));
  table.Clear();
  EXPECT_EQ(table.Lookup(keys[0]), THashTable::kNotFound);
}

TEST(LzwEncoder, InterlacedWalkVisitsRowsInFourPasses) {
  // Each row holds its own row number; the walk order shows in the codes.
  const int w = 1, h = 11;
  std::vector<std::uint8_t> pixels(h);
  for (int y = 0; y < h; ++y) pixels[std::size_t(y)] = std::uint8_t(y);
  std::vector<int> codes = ReadCodes(Encode(pixels, w, h, 4, 16, true));
  std::vector<int> rows(codes.begin() + 1, codes.end() - 1);
  EXPECT_EQ(rows, (std::vector<int>{0, 8, 4, 2, 6, 10, 1, 3, 5, 7, 9}));
}

TEST(RleEncoder, KeepsTheInitialCodeWidth) {
  std::vector<std::uint8_t> pixels(3000, 5);
  TStream out;
  TRLEEncoder encoder;
  encoder.EncodeImageData(out, 3, 8, pixels.data(), false, 30, 100);
  std::vector<int> codes = ReadCodes(out);
  long long data_codes = 0;
  for (int c : codes) {
    EXPECT_TRUE(c == 5 || c == 8 || c == 9) << c;
    data_codes += c == 5;
  }
  EXPECT_EQ(data_codes, 3000);
}

}  // namespace
}  // namespace quarvel::gif
