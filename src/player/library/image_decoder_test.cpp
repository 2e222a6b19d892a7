// Bitmap tag decoding, checked against pictures encoded here with libpng,
// libjpeg and zlib.
#include "player/library/image_decoder.h"
#include "player/library/movie_library.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "player/swf/tags.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

std::uint32_t Pixel(cairo_surface_t* s, int x, int y) {
  cairo_surface_flush(s);
  const auto* row = cairo_image_surface_get_data(s) + static_cast<std::size_t>(y) * cairo_image_surface_get_stride(s);
  return reinterpret_cast<const std::uint32_t*>(row)[x];
}

std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& raw) {
  uLongf n = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> out(n);
  compress(out.data(), &n, raw.data(), static_cast<uLong>(raw.size()));
  out.resize(n);
  return out;
}

std::vector<std::uint8_t> LosslessBody(int format, int w, int h, const std::vector<std::uint8_t>& raw,
                                       int tableSize = -1) {
  std::vector<std::uint8_t> body{static_cast<std::uint8_t>(format), static_cast<std::uint8_t>(w), 0,
                                 static_cast<std::uint8_t>(h), 0};
  if (tableSize >= 0) body.push_back(static_cast<std::uint8_t>(tableSize));
  const auto z = Deflate(raw);
  body.insert(body.end(), z.begin(), z.end());
  return body;
}

TEST(ImageDecoder, Lossless15BitExpandsFiveBitChannels) {
  // Big-endian 0RRRRRGGGGGBBBBB: pure red, then pure blue; rows padded to 4.
  const auto body = LosslessBody(4, 2, 1, {0x7C, 0x00, 0x00, 0x1F});
  const auto s = DecodeLossless(body, false);
  EXPECT_EQ(Pixel(s.get(), 0, 0), 0xFFFF0000u);
  EXPECT_EQ(Pixel(s.get(), 1, 0), 0xFF0000FFu);
}

TEST(ImageDecoder, Lossless2KeepsPremultipliedColoursWithinAlpha) {
  // ARGB: half-transparent premultiplied grey, and a colour above its alpha.
  const auto body = LosslessBody(5, 2, 1, {0x80, 0x40, 0x40, 0x40, 0x10, 0xFF, 0x00, 0x20});
  const auto s = DecodeLossless(body, true);
  EXPECT_EQ(Pixel(s.get(), 0, 0), 0x80404040u);
  EXPECT_EQ(Pixel(s.get(), 1, 0), 0x10100010u);
  // Without alpha the first byte is padding.
  const auto opaque = DecodeLossless(body, false);
  EXPECT_EQ(Pixel(opaque.get(), 0, 0), 0xFF404040u);
}

TEST(ImageDecoder, ColourMappedRowsArePaddedToFourBytes) {
  // 3 x 2 pixels, palette of 2 RGB entries; each row of 3 indices takes 4.
  const std::vector<std::uint8_t> raw{255, 0, 0, 0, 255, 0, /* rows */ 0, 1, 0, 9, 1, 1, 0, 9};
  const auto s = DecodeLossless(LosslessBody(3, 3, 2, raw, 1), false);
  EXPECT_EQ(Pixel(s.get(), 1, 0), 0xFF00FF00u);
  EXPECT_EQ(Pixel(s.get(), 0, 1), 0xFF00FF00u);
  EXPECT_EQ(Pixel(s.get(), 2, 1), 0xFFFF0000u);
}

TEST(ImageDecoder, DamagedLosslessDataIsRefusedOrZeroFilled) {
  EXPECT_THROW(DecodeLossless(std::vector<std::uint8_t>{5, 1, 0}, false), ImageError);
  EXPECT_THROW(DecodeLossless(std::vector<std::uint8_t>{7, 1, 0, 1, 0, 0}, false), ImageError);
  // 65535 x 65535 from a few bytes cannot be real.
  EXPECT_THROW(DecodeLossless(LosslessBody(5, 255, 255, {1, 2, 3, 4}), false), ImageError);
  std::vector<std::uint8_t> cut = LosslessBody(5, 4, 4, std::vector<std::uint8_t>(64, 0xFF));
  cut.resize(cut.size() - 6);  // stream cut short: the rest stays transparent
  const auto s = DecodeLossless(cut, true);
  EXPECT_EQ(Pixel(s.get(), 3, 3), 0u);
}

// Every pixel of a larger picture, as a plain reading of the format gives it:
// 32-bit pixels (turned into words where they were inflated) and 15-bit ones,
// with a stream cut short whose missing bytes read as zero.
TEST(ImageDecoder, LosslessPixelsMatchAPlainReadingOfTheFormat) {
  const int w = 37, h = 23;
  std::vector<std::uint8_t> argb(static_cast<std::size_t>(w) * h * 4);
  unsigned seed = 7;
  for (auto& b : argb) b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  for (const bool alpha : {false, true}) {
    for (const bool cut : {false, true}) {
      auto body = LosslessBody(5, w, h, argb);
      if (cut) body.resize(body.size() / 2);
      const auto s = DecodeLossless(body, alpha);
      // What the cut stream holds, zero past its end.
      std::vector<std::uint8_t> held = argb;
      if (cut) {
        std::fill(held.begin(), held.end(), 0);
        z_stream z{};
        inflateInit(&z);
        z.next_in = body.data() + 5;
        z.avail_in = static_cast<uInt>(body.size() - 5);
        z.next_out = held.data();
        z.avail_out = static_cast<uInt>(held.size());
        inflate(&z, Z_FINISH);
        ASSERT_GT(z.avail_out, 0u);
        inflateEnd(&z);
      }
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* p = held.data() + (static_cast<std::size_t>(y) * w + x) * 4;
          const unsigned a = alpha ? p[0] : 255;
          const std::uint32_t want =
              a << 24 | std::min<unsigned>(p[1], a) << 16 | std::min<unsigned>(p[2], a) << 8 | std::min<unsigned>(p[3], a);
          ASSERT_EQ(Pixel(s.get(), x, y), want) << x << "," << y << " alpha " << alpha << " cut " << cut;
        }
      }
    }
  }
  std::vector<std::uint8_t> rgb15(static_cast<std::size_t>((w * 2 + 3) & ~3) * h);
  for (auto& b : rgb15) b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  const auto s = DecodeLossless(LosslessBody(4, w, h, rgb15), false);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = rgb15.data() + static_cast<std::size_t>(y) * ((w * 2 + 3) & ~3) + x * 2;
      const unsigned v = p[0] << 8 | p[1];
      auto five = [](unsigned c) { return c << 3 | c >> 2; };
      ASSERT_EQ(Pixel(s.get(), x, y), 0xFF000000u | five(v >> 10 & 31) << 16 | five(v >> 5 & 31) << 8 | five(v & 31));
    }
  }
}

std::vector<std::uint8_t> EncodePng(int w, int h, const std::vector<std::uint8_t>& rgba) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
  std::vector<std::uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr));
  out.resize(size);
  return out;
}

TEST(ImageDecoder, EmbeddedPngIsPremultiplied) {
  const auto png = EncodePng(2, 1, {255, 0, 0, 255, 0, 0, 255, 128});
  const auto s = DecodeJpegTagImage(png, {}, {});
  EXPECT_EQ(Pixel(s.get(), 0, 0), 0xFFFF0000u);
  EXPECT_EQ(Pixel(s.get(), 1, 0), 0x80000080u);
}

// A PNG of 8-bit RGBA rows given as stored: each row's filter byte, then its bytes.
std::vector<std::uint8_t> PngOfRows(std::uint32_t w, std::uint32_t h, const std::vector<std::uint8_t>& filtered,
                                    std::uint8_t interlace = 0) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const auto chunk = [&](const char* type, const std::vector<std::uint8_t>& body) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(body.size() >> s));
    std::vector<std::uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    out.insert(out.end(), typed.begin(), typed.end());
    const auto crc = crc32(0, typed.data(), static_cast<uInt>(typed.size()));
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(crc >> s));
  };
  std::vector<std::uint8_t> ihdr;
  for (std::uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) ihdr.push_back(static_cast<std::uint8_t>(v >> s));
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, interlace});
  chunk("IHDR", ihdr);
  uLongf size = compressBound(static_cast<uLong>(filtered.size()));
  std::vector<std::uint8_t> packed(size);
  compress(packed.data(), &size, filtered.data(), static_cast<uLong>(filtered.size()));
  packed.resize(size);
  chunk("IDAT", packed);
  chunk("IEND", {});
  return out;
}

// A row naming a filter PNG lacks is read unfiltered; the other rows keep
// their filters (here Sub, whose second pixel adds the first).
TEST(ImageDecoder, PngRowsOfUnknownFiltersAreReadUnfiltered) {
  const std::vector<std::uint8_t> rows = {
      0xFF, 255, 0, 0, 255, 0, 0, 255, 255,  // unknown: red, blue
      1, 0, 255, 0, 255, 0, 0, 0, 0,         // Sub: green, green
  };
  const auto s = DecodeJpegTagImage(PngOfRows(2, 2, rows), {}, {});
  EXPECT_EQ(Pixel(s.get(), 0, 0), 0xFFFF0000u);
  EXPECT_EQ(Pixel(s.get(), 1, 0), 0xFF0000FFu);
  EXPECT_EQ(Pixel(s.get(), 0, 1), 0xFF00FF00u);
  EXPECT_EQ(Pixel(s.get(), 1, 1), 0xFF00FF00u);

  // Interlaced: the one-pixel passes of a 2x2 picture (passes 1, 6 and 7), one with an unknown filter.
  const std::vector<std::uint8_t> passes = {0, 255, 0, 0, 255, 9, 0, 0, 255, 255, 7, 0, 255, 0, 255, 255, 255, 255, 255};
  const auto i = DecodeJpegTagImage(PngOfRows(2, 2, passes, 1), {}, {});
  EXPECT_EQ(Pixel(i.get(), 0, 0), 0xFFFF0000u);
  EXPECT_EQ(Pixel(i.get(), 1, 0), 0xFF0000FFu);
  EXPECT_EQ(Pixel(i.get(), 0, 1), 0xFF00FF00u);
  EXPECT_EQ(Pixel(i.get(), 1, 1), 0xFFFFFFFFu);

  // Data that ends early leaves the rest transparent; data that does not inflate is refused.
  std::vector<std::uint8_t> shortRows(rows.begin(), rows.begin() + 9);
  const auto cut = DecodeJpegTagImage(PngOfRows(2, 2, shortRows), {}, {});
  EXPECT_EQ(Pixel(cut.get(), 1, 0), 0xFF0000FFu);
  EXPECT_EQ(Pixel(cut.get(), 0, 1), 0u);
  auto garbled = PngOfRows(2, 2, rows);
  for (std::size_t i = 8 + 25 + 8; i < 8 + 25 + 8 + 6; ++i) garbled[i] = 0xEE;
  EXPECT_THROW(DecodeJpegTagImage(garbled, {}, {}), ImageError);
}

// A JPEG of w x h pixels with 1 (grey) or 3 (RGB) components, each row
// filled by `row(y, out)`.
template <typename Fill>
std::vector<std::uint8_t> EncodeJpegRows(int w, int h, int components, int quality, Fill row) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &mem, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<std::uint8_t> line;
  while (cinfo.next_scanline < cinfo.image_height) {
    line.clear();
    row(static_cast<int>(cinfo.next_scanline), line);
    JSAMPROW p = line.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> out(mem, mem + size);
  std::free(mem);
  return out;
}

std::vector<std::uint8_t> EncodeJpeg(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return EncodeJpegRows(w, h, 3, 100, [&](int, std::vector<std::uint8_t>& line) {
    for (int x = 0; x < w; ++x) line.insert(line.end(), {r, g, b});
  });
}

TEST(ImageDecoder, JpegWithLegacyMarkersAndAlphaPlane) {
  auto jpeg = EncodeJpeg(8, 8, 200, 40, 40);
  // Old writers put an EOI+SOI pair in front.
  jpeg.insert(jpeg.begin(), {0xFF, 0xD9, 0xFF, 0xD8});
  const auto alpha = Deflate(std::vector<std::uint8_t>(64, 100));
  const auto s = DecodeJpegTagImage(jpeg, {}, alpha);
  const std::uint32_t p = Pixel(s.get(), 4, 4);
  EXPECT_EQ(p >> 24, 100u);
  EXPECT_LE((p >> 16) & 255, 100u);  // colour kept within its alpha
  EXPECT_NEAR(static_cast<int>((p >> 8) & 255), 40, 4);
  const std::vector<std::uint8_t> junk{0xFF, 0xD8, 0xFF, 0x00, 0x12};
  EXPECT_THROW(DecodeJpegTagImage(junk, {}, {}), ImageError);
}


// A busy picture (each pixel its own colour, chroma subsampled 2x2), or a
// grey one, at a middling quality: the decoder's colour conversion and
// upsampling show in every pixel.
std::vector<std::uint8_t> EncodeBusyJpeg(int w, int h, bool grey) {
  const int components = grey ? 1 : 3;
  std::uint32_t seed = 7;
  return EncodeJpegRows(w, h, components, 70, [&](int y, std::vector<std::uint8_t>& line) {
    for (int x = 0; x < w * components; ++x) {
      seed = seed * 1664525u + 1013904223u;
      line.push_back(static_cast<std::uint8_t>((x * 7 + y * 3) / 2 + static_cast<int>(seed >> 28)));
    }
  });
}

// The picture as libjpeg gives it in RGB, one opaque 0xAARRGGBB word a pixel.
std::vector<std::uint32_t> ReferenceRgb(const std::vector<std::uint8_t>& jpeg) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(cinfo.output_width) * 3);
  std::vector<std::uint32_t> words;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW p = row.data();
    jpeg_read_scanlines(&cinfo, &p, 1);
    for (std::size_t x = 0; x < cinfo.output_width; ++x)
      words.push_back(0xFF000000u | (std::uint32_t{row[3 * x]} << 16) | (std::uint32_t{row[3 * x + 1]} << 8) |
                      row[3 * x + 2]);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return words;
}

TEST(ImageDecoder, JpegPixelsAreTheDecodersRgbInEveryPixel) {
  for (const bool grey : {false, true}) {
    SCOPED_TRACE(grey ? "grey" : "colour");
    // An odd size: the last block and the last chroma sample are partial.
    const int w = 37, h = 23;
    const auto jpeg = EncodeBusyJpeg(w, h, grey);
    const std::vector<std::uint32_t> want = ReferenceRgb(jpeg);
    const auto s = DecodeJpegTagImage(jpeg, {}, {});
    ASSERT_EQ(cairo_image_surface_get_width(s.get()), w);
    ASSERT_EQ(cairo_image_surface_get_height(s.get()), h);
    int wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) wrong += Pixel(s.get(), x, y) != want[static_cast<std::size_t>(y) * w + x];
    EXPECT_EQ(wrong, 0);
    // Old writers' end-and-start pairs, in front and between the start
    // marker and the rest, are cut out wherever they stand.
    std::vector<std::uint8_t> legacy{0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0xD9, 0xFF, 0xD8};
    legacy.insert(legacy.end(), jpeg.begin() + 2, jpeg.end());
    const auto l = DecodeJpegTagImage(legacy, {}, {});
    ASSERT_EQ(cairo_image_surface_get_width(l.get()), w);
    wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) wrong += Pixel(l.get(), x, y) != want[static_cast<std::size_t>(y) * w + x];
    EXPECT_EQ(wrong, 0);
    // With an alpha plane each colour is capped by its pixel's alpha.
    std::vector<std::uint8_t> alpha(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = static_cast<std::uint8_t>(i * 5);
    const auto a = DecodeJpegTagImage(jpeg, {}, Deflate(alpha));
    wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        const std::uint32_t av = alpha[i], rgb = want[i];
        const std::uint32_t capped = (av << 24) | (std::min((rgb >> 16) & 255, av) << 16) |
                                     (std::min((rgb >> 8) & 255, av) << 8) | std::min(rgb & 255, av);
        wrong += Pixel(a.get(), x, y) != capped;
      }
    EXPECT_EQ(wrong, 0);
  }
}

// A 2x1 GIF of palette entries 0 (red) and 1 (blue): LZW codes clear, 0, 1, end.
const std::vector<std::uint8_t> kTinyGif{'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0,
                                         255, 0, 0, 0, 0, 255, 0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0,
                                         2, 2, 0x44, 0x0A, 0, 0x3B};

std::pair<int, int> SizeOf(const SurfacePtr& s) {
  return {cairo_image_surface_get_width(s.get()), cairo_image_surface_get_height(s.get())};
}

TEST(ImageDecoderSize, HeadersGiveTheSizeTheDecodersMake) {
  auto jpeg = EncodeJpeg(13, 7, 10, 20, 30);
  jpeg.insert(jpeg.begin(), {0xFF, 0xD9, 0xFF, 0xD8});
  const auto png = EncodePng(3, 5, std::vector<std::uint8_t>(3 * 5 * 4, 200));
  for (const std::vector<std::uint8_t>* image : {&std::as_const(jpeg), &png, &kTinyGif}) {
    const auto size = JpegTagImageSize(*image, {});
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(std::make_pair(size->width, size->height), SizeOf(DecodeJpegTagImage(*image, {}, {})));
  }
  const auto mapped = LosslessBody(3, 3, 2, {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0);
  const auto wide = LosslessBody(5, 5, 3, std::vector<std::uint8_t>(5 * 3 * 4, 9));
  for (const auto* body : {&mapped, &wide}) {
    const auto size = LosslessSize(*body, true);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(std::make_pair(size->width, size->height), SizeOf(DecodeLossless(*body, true)));
  }
}

TEST(ImageDecoderSize, HeadersTheDecodersRefuseGiveNoSize) {
  // Then the tag is decoded at load, which reports why.
  EXPECT_FALSE(JpegTagImageSize(std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0x00, 0x12}, {}));
  EXPECT_FALSE(LosslessSize(LosslessBody(5, 0, 3, {}), false));          // no pixels
  EXPECT_FALSE(LosslessSize(LosslessBody(7, 2, 2, {0, 0, 0, 0}), false));  // unknown format
  auto huge = LosslessBody(5, 255, 255, {});
  huge[2] = huge[4] = 0xFF;  // 65535 x 65535
  EXPECT_FALSE(LosslessSize(huge, true));
  // A short body cannot hold the picture it declares.
  EXPECT_FALSE(LosslessSize(std::vector<std::uint8_t>{5, 200, 0, 200, 0, 0x78}, true));
}


// ---- pictures of a loaded library: decoded when first used

std::vector<std::uint8_t> Pixels(cairo_surface_t* s) {
  cairo_surface_flush(s);
  const auto* data = cairo_image_surface_get_data(s);
  return {data, data + static_cast<std::size_t>(cairo_image_surface_get_stride(s)) * cairo_image_surface_get_height(s)};
}

const BitmapDef& PictureOf(const MovieLibrary& lib, std::uint16_t id) {
  const Character* c = lib.Find(id);
  EXPECT_TRUE(c != nullptr && c->kind == Character::Kind::kBitmap) << "picture " << id;
  return static_cast<const BitmapDef&>(*c);
}

// A DefineBitsLossless2 of a good 2x2 header and `data` after it.
std::vector<std::uint8_t> Lossless2Tag(std::uint16_t id, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> body{static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8), 5, 2, 0, 2, 0};
  body.insert(body.end(), data.begin(), data.end());
  return body;
}

TEST(LibraryPictures, DecodedOnFirstUseIntoTheSamePixels) {
  const auto jpeg = EncodeJpeg(13, 7, 200, 120, 40);
  const auto png = EncodePng(3, 2, {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 9, 9, 9, 9, 1, 2, 3, 4, 5, 6, 7, 200});
  const std::vector<std::uint8_t> argb{0x80, 0x40, 0x20, 0x10, 0xFF, 1, 2, 3, 0, 0, 0, 0, 0x33, 0x22, 0x11, 0x00};
  testing::SwfBuilder b;
  b.DefineBitsJpeg2(1, jpeg).DefineBitsJpeg2(2, png).DefineBitsJpeg2(3, kTinyGif);
  b.Tag(swf::tag::kDefineBitsLossless2, Lossless2Tag(4, Deflate(argb)));
  b.ShowFrame();
  const auto lib = LoadLibrary(b.Build());
  const std::vector<std::uint8_t> tag = Lossless2Tag(4, Deflate(argb));
  const SurfacePtr expected[] = {DecodeJpegTagImage(jpeg, {}, {}), DecodeJpegTagImage(png, {}, {}),
                                 DecodeJpegTagImage(kTinyGif, {}, {}),
                                 DecodeLossless(std::span(tag).subspan(2), true)};
  for (std::uint16_t id = 1; id <= 4; ++id) {
    const BitmapDef& def = PictureOf(*lib, id);
    EXPECT_FALSE(def.surface.Decoded()) << id;
    EXPECT_EQ(std::make_pair(def.width, def.height), SizeOf(expected[id - 1])) << id;
    EXPECT_EQ(Pixels(def.surface.get()), Pixels(expected[id - 1].get())) << id;
    EXPECT_TRUE(def.surface.Decoded());
  }
  EXPECT_TRUE(lib->Skipped().empty());
}

TEST(LibraryPictures, DamagedPixelsBehindAGoodHeaderAreTransparentAndReported) {
  testing::SwfBuilder b;
  b.Tag(swf::tag::kDefineBitsLossless2, Lossless2Tag(1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  // A header no decoder takes is refused at load, as before.
  b.DefineBitsJpeg2(2, std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0x00, 0x12});
  b.ShowFrame();
  const auto lib = LoadLibrary(b.Build());
  EXPECT_EQ(lib->Find(2), nullptr);
  EXPECT_EQ(lib->Skipped(), std::set<std::string>{"undecodable DefineBitsJPEG2"});
  const BitmapDef& def = PictureOf(*lib, 1);
  EXPECT_EQ(std::make_pair(def.width, def.height), std::make_pair(2, 2));
  EXPECT_EQ(Pixels(def.surface.get()), std::vector<std::uint8_t>(16, 0));
  EXPECT_EQ(lib->Skipped(), (std::set<std::string>{"undecodable DefineBitsJPEG2", "undecodable DefineBitsLossless2"}));
}

}  // namespace
}  // namespace quarvel::player
