#include "app/jpeg_picture.h"

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace quarvel::app {
namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, err->message);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings are not shown

struct DecompressDeleter {
  void operator()(jpeg_decompress_struct* info) const { jpeg_destroy_decompress(info); }
};

}  // namespace

namespace {

// Runs the libjpeg calls; a libjpeg error jumps back here and returns false.
// The C++ objects live in the caller's frame, so the jump skips no destructor.
bool RunDecoder(jpeg_decompress_struct& info, ErrorManager& err, gdi::Bitmap& picture,
                std::vector<std::uint8_t>& row, std::string& too_large) {
  if (setjmp(err.jump)) return false;
  jpeg_read_header(&info, TRUE);
  if (static_cast<long long>(info.image_width) * info.image_height > kMaxJpegPixels ||
      info.image_width > static_cast<unsigned>(gdi::kMaxDimension) ||
      info.image_height > static_cast<unsigned>(gdi::kMaxDimension)) {
    too_large = std::to_string(info.image_width) + "x" + std::to_string(info.image_height);
    return true;
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&info);
  const int width = static_cast<int>(info.output_width);
  const int height = static_cast<int>(info.output_height);
  const int components = info.output_components;
  picture = gdi::Bitmap(width, height, gdi::PixelFormat::pfDevice);
  row.resize(static_cast<std::size_t>(width) * components);
  while (info.output_scanline < info.output_height) {
    const int y = static_cast<int>(info.output_scanline);
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    std::uint8_t* out = picture.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* in = row.data() + static_cast<std::size_t>(x) * components;
      std::uint8_t r, g, b;
      if (cmyk) {
        // libjpeg gives Adobe's inverted CMYK: the values are already 255 - ink.
        r = static_cast<std::uint8_t>(in[0] * in[3] / 255);
        g = static_cast<std::uint8_t>(in[1] * in[3] / 255);
        b = static_cast<std::uint8_t>(in[2] * in[3] / 255);
      } else {
        r = in[0];
        g = in[1];
        b = in[2];
      }
      out[4 * x + 0] = b;
      out[4 * x + 1] = g;
      out[4 * x + 2] = r;
      out[4 * x + 3] = 0;
    }
  }
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

gdi::Bitmap DecodeJpeg(std::span<const std::uint8_t> data) {
  if (data.empty()) throw JpegError("empty JPEG data");
  jpeg_decompress_struct info{};
  ErrorManager err{};
  info.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  jpeg_create_decompress(&info);
  std::unique_ptr<jpeg_decompress_struct, DecompressDeleter> guard(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  gdi::Bitmap picture;
  std::vector<std::uint8_t> row;
  std::string too_large;
  if (!RunDecoder(info, err, picture, row, too_large)) {
    throw JpegError(std::string("invalid JPEG data: ") + err.message);
  }
  if (!too_large.empty()) throw JpegError("JPEG picture too large: " + too_large);
  return picture;
}

gdi::Bitmap LoadJpegPicture(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw JpegError("Cannot open " + path.string());
  in.seekg(0, std::ios::end);
  const auto size = static_cast<long long>(in.tellg());
  if (size < 0 || size > (256LL << 20)) throw JpegError(path.string() + ": file too large or unreadable");
  in.seekg(0);
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(data.data()), size);
  if (!in) throw JpegError("Cannot read " + path.string());
  try {
    return DecodeJpeg(data);
  } catch (const JpegError& e) {
    throw JpegError(path.string() + ": " + e.what());
  }
}

}  // namespace quarvel::app
