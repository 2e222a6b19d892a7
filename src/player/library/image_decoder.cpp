#include "player/library/image_decoder.h"

#include <gif_lib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace quarvel::player {
namespace {

SurfacePtr NewSurface(int w, int h) {
  if (w <= 0 || h <= 0) throw ImageError("image has no pixels");
  if (static_cast<std::int64_t>(w) * h > kMaxBitmapPixels) {
    throw ImageError("image of " + std::to_string(w) + "x" + std::to_string(h) + " pixels is too large");
  }
  SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) throw ImageError("cannot allocate image");
  return s;
}

inline std::uint32_t Pack(unsigned a, unsigned r, unsigned g, unsigned b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// A lossless bitmap's 32-bit pixel (alpha, red, green, blue) as a
// premultiplied word: colour never above its alpha; opaque without alpha.
inline std::uint32_t LosslessArgb(const std::uint8_t* p, bool hasAlpha) {
  if (!hasAlpha) return Pack(255, p[1], p[2], p[3]);
  const unsigned a = p[0];
  return Pack(a, std::min<unsigned>(p[1], a), std::min<unsigned>(p[2], a), std::min<unsigned>(p[3], a));
}

// ---- JPEG ----

struct JpegErr {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErr*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}
void JpegSilence(j_common_ptr, int) {}

// Kept free of objects with destructors because of the longjmp. `alloc`
// gives rows of w ARGB32 words, one after another.
bool DecodeJpegRaw(const std::uint8_t* tables, std::size_t tablesLen, const std::uint8_t* data, std::size_t len,
                   std::uint8_t* (*alloc)(void*, int, int), void* ctx, char* error) {
  jpeg_decompress_struct cinfo;
  JpegErr err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegSilence;
  err.message[0] = 0;
  JSAMPROW row = nullptr;
  if (setjmp(err.jump)) {
    std::memcpy(error, err.message, JMSG_LENGTH_MAX);
    jpeg_destroy_decompress(&cinfo);
    std::free(row);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  if (tablesLen > 4) {
    jpeg_mem_src(&cinfo, tables, static_cast<unsigned long>(tablesLen));
    jpeg_read_header(&cinfo, FALSE);
  }
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(len));
  jpeg_read_header(&cinfo, TRUE);
  // A little-endian ARGB32 word is blue, green, red, alpha in memory: the
  // decoder writes the rows themselves, with the colours it gives as RGB.
  constexpr bool kWords = std::endian::native == std::endian::little;
  cinfo.out_color_space = kWords ? JCS_EXT_BGRA : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const int w = static_cast<int>(cinfo.output_width);
  const int h = static_cast<int>(cinfo.output_height);
  std::uint8_t* out = alloc(ctx, w, h);
  if (!out) {
    std::strcpy(error, "image too large");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (!kWords) row = static_cast<JSAMPROW>(std::malloc(static_cast<std::size_t>(w) * 3));
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    std::uint8_t* dst = out + static_cast<std::size_t>(y) * w * 4;
    if constexpr (kWords) {
      jpeg_read_scanlines(&cinfo, &dst, 1);
    } else {
      jpeg_read_scanlines(&cinfo, &row, 1);
      auto* words = reinterpret_cast<std::uint32_t*>(dst);
      for (int x = 0; x < w; ++x) words[x] = Pack(255, row[x * 3], row[x * 3 + 1], row[x * 3 + 2]);
    }
  }
  std::free(row);
  row = nullptr;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

struct RawImage {
  int w = 0, h = 0;
  std::vector<std::uint8_t> px;  // ARGB32 words, tightly packed
};

// A surface over memory of its own that goes with it: cairo's own surfaces
// are cleared first, and a decoder writes every pixel anyway.
struct JpegSurface {
  SurfacePtr surface;
  std::uint8_t* data = nullptr;
  int w = 0, h = 0;
};

const cairo_user_data_key_t kOwnedPixels{};

std::uint8_t* AllocSurface(void* ctx, int w, int h) {
  auto* img = static_cast<JpegSurface*>(ctx);
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels) return nullptr;
  // ARGB32 rows of cairo's stride are w words: no padding to fill.
  if (cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w) != w * 4) return nullptr;
  auto* pixels = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(w) * h * 4));
  if (pixels == nullptr) return nullptr;
  SurfacePtr s(cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, w, h, w * 4));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_set_user_data(s.get(), &kOwnedPixels, pixels, std::free) != CAIRO_STATUS_SUCCESS) {
    std::free(pixels);
    return nullptr;
  }
  img->surface = std::move(s);
  img->data = pixels;
  img->w = w;
  img->h = h;
  return pixels;
}

// Old encoders wrote an extra EOI+SOI pair at the start or between tables
// and image; libjpeg wants one clean stream. Each pair is cut, from the
// left, where it starts: the bytes around a cut are not searched again. A
// stream without one is used where it lies.
class CleanJpeg {
 public:
  explicit CleanJpeg(std::span<const std::uint8_t> d) : bytes_(d) {
    static constexpr std::uint8_t kPair[4] = {0xFF, 0xD9, 0xFF, 0xD8};
    const auto next = [&](const std::uint8_t* from) {
      return std::search(from, d.data() + d.size(), std::begin(kPair), std::end(kPair));
    };
    const std::uint8_t* end = d.data() + d.size();
    const std::uint8_t* pair = next(d.data());
    if (pair == end) return;
    cleaned_.reserve(d.size());
    for (const std::uint8_t* from = d.data(); from < end; pair = next(from)) {
      cleaned_.insert(cleaned_.end(), from, pair);
      from = pair == end ? end : pair + 4;
    }
    bytes_ = cleaned_;
  }
  CleanJpeg(const CleanJpeg&) = delete;
  CleanJpeg& operator=(const CleanJpeg&) = delete;
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> cleaned_;
  std::span<const std::uint8_t> bytes_;
};

JpegSurface DecodeJpeg(std::span<const std::uint8_t> data, std::span<const std::uint8_t> tables) {
  const CleanJpeg clean(data);
  const CleanJpeg cleanTables(tables);
  JpegSurface img;
  char error[JMSG_LENGTH_MAX] = {0};
  if (!DecodeJpegRaw(cleanTables.data(), cleanTables.size(), clean.data(), clean.size(), AllocSurface, &img, error)) {
    throw ImageError(std::string("JPEG data: ") + error);
  }
  return img;
}

bool ReadJpegSize(const std::uint8_t* tables, std::size_t tablesLen, const std::uint8_t* data, std::size_t len,
                  int* w, int* h) {
  jpeg_decompress_struct cinfo;
  JpegErr err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegSilence;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  if (tablesLen > 4) {
    jpeg_mem_src(&cinfo, tables, static_cast<unsigned long>(tablesLen));
    jpeg_read_header(&cinfo, FALSE);
  }
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(len));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_calc_output_dimensions(&cinfo);
  *w = static_cast<int>(cinfo.output_width);
  *h = static_cast<int>(cinfo.output_height);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// ---- PNG ----

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void PutChunk(std::vector<std::uint8_t>& out, const char* type, std::span<const std::uint8_t> body) {
  PutBe32(out, static_cast<std::uint32_t>(body.size()));
  const std::size_t from = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  PutBe32(out, static_cast<std::uint32_t>(crc32(0, out.data() + from, static_cast<uInt>(out.size() - from))));
}

// Flash shows a PNG whose rows name a filter PNG does not have (5 to 255),
// taking such a row as unfiltered, and one whose data ends early, the rest
// transparent. The same PNG with those rows' filter bytes set to none and the
// data made whole; empty when even that cannot be read.
std::vector<std::uint8_t> WithUnknownFiltersCleared(std::span<const std::uint8_t> data) {
  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data.size() < 8 + 25 || std::memcmp(data.data(), kSignature, 8) != 0) return {};
  std::vector<std::uint8_t> head(data.begin(), data.begin() + 8), tail, compressed;
  std::uint32_t width = 0, height = 0;
  int depth = 0, colour = 0, interlace = 0;
  bool pastData = false;
  for (std::size_t at = 8; at + 12 <= data.size();) {
    const std::uint32_t length = Be32(&data[at]);
    if (length > data.size() - at - 12) return {};
    const std::uint8_t* type = &data[at + 4];
    const std::uint8_t* body = &data[at + 8];
    const std::size_t whole = std::size_t{length} + 12;
    if (std::memcmp(type, "IHDR", 4) == 0 && length >= 13) {
      width = Be32(body);
      height = Be32(body + 4);
      depth = body[8];
      colour = body[9];
      interlace = body[12];
    }
    if (std::memcmp(type, "IDAT", 4) == 0) {
      if (pastData && !tail.empty()) return {};  // data split by other chunks
      compressed.insert(compressed.end(), body, body + length);
      pastData = true;
    } else {
      auto& to = pastData ? tail : head;
      to.insert(to.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + whole));
    }
    at += whole;
  }
  int channels = 0;
  switch (colour) {
    case 0: case 3: channels = 1; break;
    case 2: channels = 3; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: return {};
  }
  if (width == 0 || height == 0 || depth <= 0 || depth > 16 || compressed.empty() ||
      static_cast<std::uint64_t>(width) * height > static_cast<std::uint64_t>(kMaxBitmapPixels))
    return {};
  const std::uint64_t bitsPerPixel = static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(depth);
  // The rows of each pass (one pass, or Adam7's seven), each a filter byte and its pixels.
  struct Pass { std::uint32_t x0, y0, dx, dy; };
  static constexpr Pass kWhole[] = {{0, 0, 1, 1}};
  static constexpr Pass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  std::span<const Pass> passes = interlace ? std::span<const Pass>(kAdam7) : std::span<const Pass>(kWhole);
  std::uint64_t expected = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> rows;  // (row count, bytes per row with its filter byte)
  for (const Pass& p : passes) {
    const std::uint64_t w = width > p.x0 ? (width - p.x0 + p.dx - 1) / p.dx : 0;
    const std::uint64_t h = height > p.y0 ? (height - p.y0 + p.dy - 1) / p.dy : 0;
    if (w == 0 || h == 0) continue;
    rows.push_back({h, (w * bitsPerPixel + 7) / 8 + 1});
    expected += h * rows.back().second;
  }
  // Rows the data stops short of stay zero: transparent.
  std::vector<std::uint8_t> raw(expected);
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return {};
  zs.next_in = compressed.data();
  zs.avail_in = static_cast<uInt>(compressed.size());
  zs.next_out = raw.data();
  zs.avail_out = static_cast<uInt>(raw.size());
  const int z = inflate(&zs, Z_FINISH);
  const bool gotAny = zs.total_out > 0;
  inflateEnd(&zs);
  if ((z != Z_STREAM_END && z != Z_BUF_ERROR && z != Z_OK) || !gotAny) return {};
  std::size_t at = 0;
  for (const auto& [count, stride] : rows)
    for (std::uint64_t r = 0; r < count; ++r, at += stride)
      if (raw[at] > 4) raw[at] = 0;
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_SPEED) != Z_OK) return {};
  packed.resize(packedSize);
  PutChunk(head, "IDAT", packed);
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

RawImage DecodePngStrict(std::span<const std::uint8_t> data);

RawImage DecodePng(std::span<const std::uint8_t> data) {
  try {
    return DecodePngStrict(data);
  } catch (const ImageError& e) {
    if (std::string_view(e.what()).rfind("PNG data:", 0) != 0) throw;
    const std::vector<std::uint8_t> repaired = WithUnknownFiltersCleared(data);
    if (repaired.empty()) throw;
    return DecodePngStrict(repaired);
  }
}

RawImage DecodePngStrict(std::span<const std::uint8_t> data) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) {
    throw ImageError(std::string("PNG data: ") + image.message);
  }
  if (static_cast<std::int64_t>(image.width) * image.height > kMaxBitmapPixels) {
    png_image_free(&image);
    throw ImageError("PNG image is too large");
  }
  image.format = PNG_FORMAT_BGRA;  // little-endian ARGB32 words
  RawImage img;
  img.w = static_cast<int>(image.width);
  img.h = static_cast<int>(image.height);
  img.px.assign(static_cast<std::size_t>(img.w) * img.h * 4, 0);
  if (!png_image_finish_read(&image, nullptr, img.px.data(), 0, nullptr)) {
    png_image_free(&image);
    throw ImageError(std::string("PNG data: ") + image.message);
  }
  for (std::size_t i = 0; i < img.px.size(); i += 4) {  // premultiply
    const unsigned a = img.px[i + 3];
    for (int c = 0; c < 3; ++c) img.px[i + c] = static_cast<std::uint8_t>((img.px[i + c] * a + 127) / 255);
  }
  return img;
}

// ---- GIF ----

struct GifSource {
  std::span<const std::uint8_t> data;
  std::size_t pos = 0;
};

int GifRead(GifFileType* f, GifByteType* buf, int len) {
  auto* src = static_cast<GifSource*>(f->UserData);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(len), src->data.size() - src->pos);
  std::memcpy(buf, src->data.data() + src->pos, n);
  src->pos += n;
  return static_cast<int>(n);
}

RawImage DecodeGif(std::span<const std::uint8_t> data) {
  GifSource src{data};
  int error = 0;
  GifFileType* gif = DGifOpen(&src, GifRead, &error);
  if (!gif) throw ImageError("GIF data cannot be opened");
  struct Closer {
    GifFileType* g;
    ~Closer() { int e; DGifCloseFile(g, &e); }
  } closer{gif};
  if (static_cast<std::int64_t>(gif->SWidth) * gif->SHeight > kMaxBitmapPixels) throw ImageError("GIF too large");
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) throw ImageError("GIF data is damaged");
  RawImage img;
  img.w = gif->SWidth;
  img.h = gif->SHeight;
  if (img.w <= 0 || img.h <= 0) throw ImageError("GIF has no pixels");
  img.px.assign(static_cast<std::size_t>(img.w) * img.h * 4, 0);
  const SavedImage& si = gif->SavedImages[0];
  const ColorMapObject* cmap = si.ImageDesc.ColorMap ? si.ImageDesc.ColorMap : gif->SColorMap;
  if (!cmap) throw ImageError("GIF has no colour map");
  int transparent = -1;
  GraphicsControlBlock gcb;
  if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
  auto* out = reinterpret_cast<std::uint32_t*>(img.px.data());
  for (int y = 0; y < si.ImageDesc.Height; ++y) {
    for (int x = 0; x < si.ImageDesc.Width; ++x) {
      const int dx = si.ImageDesc.Left + x, dy = si.ImageDesc.Top + y;
      if (dx < 0 || dy < 0 || dx >= img.w || dy >= img.h) continue;
      const int idx = si.RasterBits[static_cast<std::size_t>(y) * si.ImageDesc.Width + x];
      if (idx == transparent || idx >= cmap->ColorCount) continue;
      const GifColorType c = cmap->Colors[idx];
      out[static_cast<std::size_t>(dy) * img.w + dx] = Pack(255, c.Red, c.Green, c.Blue);
    }
  }
  return img;
}

SurfacePtr ToSurface(const RawImage& img) {
  SurfacePtr s = NewSurface(img.w, img.h);
  cairo_surface_flush(s.get());
  auto* data = cairo_image_surface_get_data(s.get());
  const int stride = cairo_image_surface_get_stride(s.get());
  for (int y = 0; y < img.h; ++y) {
    std::memcpy(data + static_cast<std::size_t>(y) * stride, img.px.data() + static_cast<std::size_t>(y) * img.w * 4,
                static_cast<std::size_t>(img.w) * 4);
  }
  cairo_surface_mark_dirty(s.get());
  return s;
}

}  // namespace

namespace {

// Inflates into `out`, at most `n` bytes; what a short stream leaves is
// zero (transparent or black) rather than a failure.
void InflateInto(std::span<const std::uint8_t> data, std::uint8_t* out, std::size_t n) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw ImageError("zlib cannot start");
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out;
  z.avail_out = static_cast<uInt>(n);
  const int rc = inflate(&z, Z_FINISH);
  const std::size_t got = n - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END && rc != Z_BUF_ERROR && rc != Z_OK) throw ImageError("zlib data is damaged");
  std::memset(out + got, 0, n - got);
}

}  // namespace

std::vector<std::uint8_t> InflateCapped(std::span<const std::uint8_t> data, std::size_t expected) {
  std::vector<std::uint8_t> out(expected);
  InflateInto(data, out.data(), expected);
  return out;
}

SurfacePtr DecodeJpegTagImage(std::span<const std::uint8_t> image, std::span<const std::uint8_t> tables,
                              std::span<const std::uint8_t> alpha) {
  RawImage img;
  if (image.size() >= 8 && image[0] == 0x89 && image[1] == 'P' && image[2] == 'N' && image[3] == 'G') {
    img = DecodePng(image);
  } else if (image.size() >= 6 && image[0] == 'G' && image[1] == 'I' && image[2] == 'F') {
    img = DecodeGif(image);
  } else {
    JpegSurface jpeg = DecodeJpeg(image, tables);
    if (!alpha.empty()) {
      const std::size_t n = static_cast<std::size_t>(jpeg.w) * jpeg.h;
      std::vector<std::uint8_t> a;
      try {
        a = InflateCapped(alpha, n);
      } catch (const ImageError&) {
        a.assign(n, 255);
      }
      // The colour planes are stored premultiplied already.
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t av = a[i];
        std::uint8_t* px = jpeg.data + i * 4;
        if constexpr (std::endian::native == std::endian::little) {
          for (int c = 0; c < 3; ++c) px[c] = std::min(px[c], av);
          px[3] = av;
        } else {
          for (int c = 1; c < 4; ++c) px[c] = std::min(px[c], av);
          px[0] = av;
        }
      }
    }
    cairo_surface_mark_dirty(jpeg.surface.get());
    return std::move(jpeg.surface);
  }
  return ToSurface(img);
}

std::optional<PictureSize> JpegTagImageSize(std::span<const std::uint8_t> image, std::span<const std::uint8_t> tables) {
  int w = 0, h = 0;
  if (image.size() >= 8 && image[0] == 0x89 && image[1] == 'P' && image[2] == 'N' && image[3] == 'G') {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, image.data(), image.size())) return std::nullopt;
    w = static_cast<int>(std::min<png_uint_32>(png.width, 0x7FFFFFFF));
    h = static_cast<int>(std::min<png_uint_32>(png.height, 0x7FFFFFFF));
    png_image_free(&png);
  } else if (image.size() >= 6 && image[0] == 'G' && image[1] == 'I' && image[2] == 'F') {
    GifSource src{image};
    int error = 0;
    GifFileType* gif = DGifOpen(&src, GifRead, &error);
    if (!gif) return std::nullopt;
    w = gif->SWidth;
    h = gif->SHeight;
    DGifCloseFile(gif, &error);
  } else {
    const CleanJpeg clean(image);
    const CleanJpeg cleanTables(tables);
    if (!ReadJpegSize(cleanTables.data(), cleanTables.size(), clean.data(), clean.size(), &w, &h)) return std::nullopt;
  }
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels) return std::nullopt;
  return PictureSize{w, h};
}

std::optional<PictureSize> LosslessSize(std::span<const std::uint8_t> body, bool hasAlpha) {
  // The checks DecodeLossless makes before it inflates.
  if (body.size() < 6) return std::nullopt;
  const int format = body[0];
  const int w = body[1] | (body[2] << 8);
  const int h = body[3] | (body[4] << 8);
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels) return std::nullopt;
  std::size_t pos = 5, stride = 0, tableBytes = 0;
  if (format == 3) {
    pos = 6;
    stride = (static_cast<std::size_t>(w) + 3) & ~std::size_t{3};
    tableBytes = static_cast<std::size_t>(body[5] + 1) * (hasAlpha ? 4 : 3);
  } else if (format == 4) {
    stride = (static_cast<std::size_t>(w) * 2 + 3) & ~std::size_t{3};
  } else if (format == 5) {
    stride = static_cast<std::size_t>(w) * 4;
  } else {
    return std::nullopt;
  }
  if ((body.size() - pos) * 1032 + 64 < tableBytes + stride * h) return std::nullopt;
  return PictureSize{w, h};
}

SurfacePtr DecodeLossless(std::span<const std::uint8_t> body, bool hasAlpha) {
  if (body.size() < 5) throw ImageError("lossless bitmap header is cut off");
  const int format = body[0];
  const int w = body[1] | (body[2] << 8);
  const int h = body[3] | (body[4] << 8);
  if (w <= 0 || h <= 0) throw ImageError("lossless bitmap has no pixels");
  std::size_t pos = 5;
  int colors = 0;
  if (format == 3) {
    if (body.size() < 6) throw ImageError("lossless colour table size is cut off");
    colors = body[5] + 1;
    pos = 6;
  } else if (format != 4 && format != 5) {
    throw ImageError("lossless bitmap format " + std::to_string(format) + " is unknown");
  }
  const int entry = hasAlpha ? 4 : 3;
  std::size_t stride = 0, tableBytes = 0;
  if (format == 3) {
    stride = (static_cast<std::size_t>(w) + 3) & ~std::size_t{3};
    tableBytes = static_cast<std::size_t>(colors) * entry;
  } else if (format == 4) {
    stride = (static_cast<std::size_t>(w) * 2 + 3) & ~std::size_t{3};
  } else {
    stride = static_cast<std::size_t>(w) * 4;
  }
  // Deflate expands at most 1032:1; shorter data cannot hold the picture
  // and would only cost time and memory.
  const std::size_t needed = tableBytes + stride * h;
  if ((body.size() - pos) * 1032 + 64 < needed) throw ImageError("lossless bitmap data is too short for its size");
  SurfacePtr s = NewSurface(w, h);
  cairo_surface_flush(s.get());
  auto* data = cairo_image_surface_get_data(s.get());
  const int dstStride = cairo_image_surface_get_stride(s.get());
  if (format == 5 && static_cast<std::size_t>(dstStride) == stride) {
    // 32-bit pixels inflate straight into the picture and are turned into
    // premultiplied words where they lie: no second copy of the picture.
    InflateInto(body.subspan(pos), data, needed);
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
      const std::uint8_t* p = data + static_cast<std::size_t>(y) * stride;
      for (int x = 0; x < w; ++x, p += 4) {
        row[x] = LosslessArgb(p, hasAlpha);
      }
    }
    cairo_surface_mark_dirty(s.get());
    return s;
  }
  // Every byte is written by the inflate or its zero tail: no fill first.
  const auto raw = std::make_unique_for_overwrite<std::uint8_t[]>(needed);
  InflateInto(body.subspan(pos), raw.get(), needed);
  std::uint32_t table[256] = {0};
  for (int i = 0; i < colors; ++i) {
    const std::uint8_t* c = raw.get() + static_cast<std::size_t>(i) * entry;
    if (hasAlpha) {
      const unsigned a = c[3];
      table[i] = Pack(a, std::min<unsigned>(c[0], a), std::min<unsigned>(c[1], a), std::min<unsigned>(c[2], a));
    } else {
      table[i] = Pack(255, c[0], c[1], c[2]);
    }
  }
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = raw.get() + tableBytes + static_cast<std::size_t>(y) * stride;
    auto* dst = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * dstStride);
    for (int x = 0; x < w; ++x) {
      if (format == 3) {
        dst[x] = table[src[x]];
      } else if (format == 4) {
        const unsigned v = (src[x * 2] << 8) | src[x * 2 + 1];
        const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        dst[x] = Pack(255, (r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
      } else {
        dst[x] = LosslessArgb(src + x * 4, hasAlpha);
      }
    }
  }
  cairo_surface_mark_dirty(s.get());
  return s;
}

}  // namespace quarvel::player
