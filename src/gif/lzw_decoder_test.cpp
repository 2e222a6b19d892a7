#include "gif/lzw_decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "gif/fast_lzw.h"
#include "gif/gif_exception.h"
#include "gif/gif_image.h"
#include "gif/lzw_encoder.h"

namespace quarvel::gif {
namespace {

std::vector<std::uint8_t> Pixels(std::size_t count, int colours, unsigned seed, int run_every) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> p(count);
  for (std::size_t k = 0; k < count; ++k)
    p[k] = std::uint8_t(run_every > 0 && k % std::size_t(run_every) < std::size_t(run_every / 2) ? colours - 1
                                                                                                   : random() % colours);
  return p;
}

// What both encoders write decodes to the pixels they were given: short
// strings and long runs, tables that fill and start again (noise of 256
// colours), every code width from 1 bit (2 colours) to 8, odd counts.
TEST(LzwDecoder, ReadsBackWhatBothEncodersWrite) {
  const std::size_t counts[] = {1, 2, 7, 143, 4099, 301 * 301};
  for (int bits = 1; bits <= 8; ++bits)
    for (std::size_t count : counts)
      for (int run_every : {0, 37, 1000}) {
        SCOPED_TRACE(::testing::Message() << bits << " bits, " << count << " pixels, runs " << run_every);
        const auto pixels = Pixels(count, 1 << bits, unsigned(count + bits), run_every);
        TStream fast;
        TFastLZWEncoder().Encode(fast, bits, pixels.data(), pixels.size());
        EXPECT_EQ(DecodeImageData(fast, count), pixels);
        TStream plain;
        TLZWEncoder().EncodeImageData(plain, bits, 1 << bits, pixels.data(), false, 1, int(count));
        EXPECT_EQ(DecodeImageData(plain, count), pixels);
      }
}

TEST(LzwDecoder, RefusesBrokenStreams) {
  const auto pixels = Pixels(5000, 256, 1, 0);
  TStream good;
  TFastLZWEncoder().Encode(good, 8, pixels.data(), pixels.size());
  EXPECT_THROW(DecodeImageData({}, 1), GIFException);
  // Cut inside the sub-blocks, and before the end code.
  EXPECT_THROW(DecodeImageData(std::span(good).first(good.size() / 2), pixels.size()), GIFException);
  TStream no_end(good.begin(), good.begin() + 200);
  no_end[1] = 198;  // one block that ends early
  no_end.push_back(0);
  EXPECT_THROW(DecodeImageData(no_end, pixels.size()), GIFException);
  // More or fewer pixels than the frame holds.
  EXPECT_THROW(DecodeImageData(good, pixels.size() - 1), GIFException);
  EXPECT_THROW(DecodeImageData(good, pixels.size() + 1), GIFException);
  // A code size no GIF has, and a first code past the table (clear 4, end 5, 7 undefined).
  TStream wide = good;
  wide[0] = 9;
  EXPECT_THROW(DecodeImageData(wide, pixels.size()), GIFException);
  const TStream undefined = {2, 1, 0x7C, 0};  // clear (100), then 7 (111) at 3 bits
  EXPECT_THROW(DecodeImageData(undefined, 1), GIFException);
}

// A released frame keeps its size and is not empty; restored from its own
// bytes it has its pixels again, and refuses another frame's bytes.
TEST(ReleasedFrame, RestoresItsPixelsFromItsOwnBytesOnly) {
  TGIFImage image;
  auto f = std::make_unique<TGIFSubImage>(&image);
  std::vector<Color> palette;
  for (int i = 0; i < 16; ++i) palette.push_back(Color{std::uint8_t(i * 16), 0, 0});
  f->ColorMap().ImportPalette(palette);
  const auto pixels = Pixels(13 * 11, 16, 3, 9);
  f->SetData(13, 11, pixels);
  f->SetBounds(2, 3, 13, 11);
  TStream own;
  f->SaveImageToStream(own);

  f->ReleaseData();
  EXPECT_TRUE(f->Released());
  EXPECT_FALSE(f->Empty());
  EXPECT_TRUE(f->Data().empty());
  EXPECT_EQ(f->Width(), 13);
  TStream unwritable;
  EXPECT_THROW(f->SaveImageToStream(unwritable), GIFException) << "no pixels to write";

  TGIFSubImage other(&image);
  other.ColorMap().ImportPalette(palette);
  other.SetData(11, 13, Pixels(11 * 13, 16, 4, 0));
  TStream others;
  other.SaveImageToStream(others);
  EXPECT_THROW(f->RestoreData(others), GIFException) << "another size";
  EXPECT_TRUE(f->Released());

  f->RestoreData(own);
  EXPECT_FALSE(f->Released());
  EXPECT_EQ(f->Data(), pixels);
  TStream again;
  f->SaveImageToStream(again);
  EXPECT_EQ(again, own);

  // Interlaced frames are written in another row order: kept.
  f->SetInterlaced(true);
  f->ReleaseData();
  EXPECT_FALSE(f->Released());
  EXPECT_EQ(f->Data(), pixels);
}

}  // namespace
}  // namespace quarvel::gif
