#include "player/library/image_decoder.h"

#include <gif_lib.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
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

// Kept free of objects with destructors because of the longjmp.
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
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const int w = static_cast<int>(cinfo.output_width);
  const int h = static_cast<int>(cinfo.output_height);
  std::uint8_t* out = alloc(ctx, w, h);
  if (!out) {
    std::strcpy(error, "image too large");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  row = static_cast<JSAMPROW>(std::malloc(static_cast<std::size_t>(w) * 3));
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, &row, 1);
    auto* dst = reinterpret_cast<std::uint32_t*>(out + static_cast<std::size_t>(y) * w * 4);
    for (int x = 0; x < w; ++x) dst[x] = Pack(255, row[x * 3], row[x * 3 + 1], row[x * 3 + 2]);
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

std::uint8_t* AllocRaw(void* ctx, int w, int h) {
  auto* img = static_cast<RawImage*>(ctx);
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels) return nullptr;
  img->w = w;
  img->h = h;
  img->px.assign(static_cast<std::size_t>(w) * h * 4, 0);
  return img->px.data();
}

// Old encoders wrote an extra EOI+SOI pair at the start or between tables
// and image; libjpeg wants one clean stream.
std::vector<std::uint8_t> CleanJpeg(std::span<const std::uint8_t> d) {
  std::vector<std::uint8_t> out;
  out.reserve(d.size());
  std::size_t i = 0;
  if (d.size() >= 4 && d[0] == 0xFF && d[1] == 0xD9 && d[2] == 0xFF && d[3] == 0xD8) i = 4;
  for (; i < d.size(); ++i) {
    if (i + 3 < d.size() && d[i] == 0xFF && d[i + 1] == 0xD9 && d[i + 2] == 0xFF && d[i + 3] == 0xD8 && i > 0) {
      i += 3;
      continue;
    }
    out.push_back(d[i]);
  }
  return out;
}

RawImage DecodeJpeg(std::span<const std::uint8_t> data, std::span<const std::uint8_t> tables) {
  auto clean = CleanJpeg(data);
  auto cleanTables = CleanJpeg(tables);
  RawImage img;
  char error[JMSG_LENGTH_MAX] = {0};
  if (!DecodeJpegRaw(cleanTables.data(), cleanTables.size(), clean.data(), clean.size(), AllocRaw, &img, error)) {
    throw ImageError(std::string("JPEG data: ") + error);
  }
  return img;
}

// ---- PNG ----

RawImage DecodePng(std::span<const std::uint8_t> data) {
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

std::vector<std::uint8_t> InflateCapped(std::span<const std::uint8_t> data, std::size_t expected) {
  std::vector<std::uint8_t> out(expected);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw ImageError("zlib cannot start");
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const std::size_t got = out.size() - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END && rc != Z_BUF_ERROR && rc != Z_OK) throw ImageError("zlib data is damaged");
  // A short stream leaves the rest zero (transparent/black) rather than failing.
  (void)got;
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
    img = DecodeJpeg(image, tables);
    if (!alpha.empty()) {
      const std::size_t n = static_cast<std::size_t>(img.w) * img.h;
      std::vector<std::uint8_t> a;
      try {
        a = InflateCapped(alpha, n);
      } catch (const ImageError&) {
        a.assign(n, 255);
      }
      // The colour planes are stored premultiplied already.
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t av = a[i];
        for (int c = 0; c < 3; ++c) img.px[i * 4 + c] = std::min(img.px[i * 4 + c], av);
        img.px[i * 4 + 3] = av;
      }
    }
  }
  return ToSurface(img);
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
  const auto raw = InflateCapped(body.subspan(pos), needed);
  cairo_surface_flush(s.get());
  auto* data = cairo_image_surface_get_data(s.get());
  const int dstStride = cairo_image_surface_get_stride(s.get());
  std::uint32_t table[256] = {0};
  for (int i = 0; i < colors; ++i) {
    const std::uint8_t* c = raw.data() + static_cast<std::size_t>(i) * entry;
    if (hasAlpha) {
      const unsigned a = c[3];
      table[i] = Pack(a, std::min<unsigned>(c[0], a), std::min<unsigned>(c[1], a), std::min<unsigned>(c[2], a));
    } else {
      table[i] = Pack(255, c[0], c[1], c[2]);
    }
  }
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* src = raw.data() + tableBytes + static_cast<std::size_t>(y) * stride;
    auto* dst = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * dstStride);
    for (int x = 0; x < w; ++x) {
      if (format == 3) {
        dst[x] = table[src[x]];
      } else if (format == 4) {
        const unsigned v = (src[x * 2] << 8) | src[x * 2 + 1];
        const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        dst[x] = Pack(255, (r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
      } else {
        const std::uint8_t* p = src + x * 4;
        if (hasAlpha) {
          const unsigned a = p[0];
          dst[x] = Pack(a, std::min<unsigned>(p[1], a), std::min<unsigned>(p[2], a), std::min<unsigned>(p[3], a));
        } else {
          dst[x] = Pack(255, p[1], p[2], p[3]);
        }
      }
    }
  }
  cairo_surface_mark_dirty(s.get());
  return s;
}

}  // namespace quarvel::player
