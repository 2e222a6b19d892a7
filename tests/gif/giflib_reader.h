#pragma once
// Decodes GIF bytes with giflib, the independent oracle of the GIF tests.

#include <gif_lib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"

namespace quarvel::gif::testing {

struct DecodedFrame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlace = false;
  std::vector<gdi::Color> local_palette;  // as many entries as the file stores
  std::vector<std::uint8_t> pixels;
  bool has_gce = false;
  int delay = 0, disposal = 0;
  bool transparent = false;
  int transparent_index = -1;
  std::optional<int> loop_count;  // from a NETSCAPE2.0 block before the frame
};

struct DecodedGif {
  std::string version;  // "87a" or "89a"
  int screen_width = 0, screen_height = 0;
  bool has_global_palette = false;
  std::vector<gdi::Color> global_palette;  // as many entries as the file stores
  std::vector<DecodedFrame> frames;
};

namespace detail {
struct Source {
  const std::vector<std::uint8_t>* bytes;
  std::size_t pos = 0;
};
inline int Read(GifFileType* gif, GifByteType* buf, int size) {
  auto* s = static_cast<Source*>(gif->UserData);
  std::size_t n = std::min<std::size_t>(std::size_t(size), s->bytes->size() - s->pos);
  std::memcpy(buf, s->bytes->data() + s->pos, n);
  s->pos += n;
  return int(n);
}
}  // namespace detail

// Throws std::runtime_error with giflib's message when the file is not valid.
inline DecodedGif DecodeWithGiflib(const std::vector<std::uint8_t>& bytes) {
  detail::Source source{&bytes};
  int error = 0;
  GifFileType* raw = DGifOpen(&source, detail::Read, &error);
  if (raw == nullptr) throw std::runtime_error(std::string("DGifOpen: ") + GifErrorString(error));
  auto closer = [](GifFileType* g) {
    int e = 0;
    DGifCloseFile(g, &e);
  };
  std::unique_ptr<GifFileType, decltype(closer)> gif(raw, closer);
  if (DGifSlurp(gif.get()) != GIF_OK) throw std::runtime_error(std::string("DGifSlurp: ") + GifErrorString(gif->Error));

  DecodedGif out;
  out.version = bytes.size() >= 6 ? std::string(bytes.begin() + 3, bytes.begin() + 6) : "";
  out.screen_width = gif->SWidth;
  out.screen_height = gif->SHeight;
  out.has_global_palette = gif->SColorMap != nullptr;
  if (gif->SColorMap != nullptr)
    for (int c = 0; c < gif->SColorMap->ColorCount; ++c) {
      const GifColorType& e = gif->SColorMap->Colors[c];
      out.global_palette.push_back(gdi::Color{e.Red, e.Green, e.Blue});
    }
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& image = gif->SavedImages[i];
    DecodedFrame f;
    f.left = image.ImageDesc.Left;
    f.top = image.ImageDesc.Top;
    f.width = image.ImageDesc.Width;
    f.height = image.ImageDesc.Height;
    f.interlace = image.ImageDesc.Interlace;
    if (image.ImageDesc.ColorMap != nullptr)
      for (int c = 0; c < image.ImageDesc.ColorMap->ColorCount; ++c) {
        const GifColorType& e = image.ImageDesc.ColorMap->Colors[c];
        f.local_palette.push_back(gdi::Color{e.Red, e.Green, e.Blue});
      }
    f.pixels.assign(image.RasterBits, image.RasterBits + std::size_t(f.width) * std::size_t(f.height));
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(gif.get(), i, &gcb) == GIF_OK) {
      for (int e = 0; e < image.ExtensionBlockCount; ++e)
        if (image.ExtensionBlocks[e].Function == GRAPHICS_EXT_FUNC_CODE) f.has_gce = true;
      f.delay = gcb.DelayTime;
      f.disposal = gcb.DisposalMode;
      f.transparent = gcb.TransparentColor != NO_TRANSPARENT_COLOR;
      f.transparent_index = gcb.TransparentColor;
    }
    for (int e = 0; e + 1 < image.ExtensionBlockCount; ++e) {
      const ExtensionBlock& app = image.ExtensionBlocks[e];
      const ExtensionBlock& sub = image.ExtensionBlocks[e + 1];
      if (app.Function == APPLICATION_EXT_FUNC_CODE && app.ByteCount == 11 &&
          std::memcmp(app.Bytes, "NETSCAPE2.0", 11) == 0 && sub.Function == CONTINUE_EXT_FUNC_CODE &&
          sub.ByteCount >= 3 && sub.Bytes[0] == 1)
        f.loop_count = sub.Bytes[1] | (sub.Bytes[2] << 8);
    }
    out.frames.push_back(std::move(f));
  }
  return out;
}

}  // namespace quarvel::gif::testing
