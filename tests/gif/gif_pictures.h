#pragma once
// What a GIF shows over time, from giflib's decoding: the picture after each
// frame with the frame's delay, disposal methods applied, and a run of equal
// pictures counted as one picture shown for their summed delays.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "gif/giflib_reader.h"

namespace quarvel::gif::testing {

// Never painted, or disposed to the background.
inline constexpr std::uint32_t kBackground = 0x01000000u;

struct ShownPicture {
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB or kBackground
  long long delay = 0;
};

// With merge_equal false, one picture per frame with that frame's delay.
inline std::vector<ShownPicture> ShownPictures(const DecodedGif& gif, bool merge_equal = true) {
  const std::vector<gdi::Color>& global = gif.global_palette;
  const std::size_t w = std::size_t(gif.screen_width), h = std::size_t(gif.screen_height);
  std::vector<std::uint32_t> canvas(w * h, kBackground), saved;
  std::vector<ShownPicture> out;
  int previous_disposal = 0;
  const DecodedFrame* previous = nullptr;
  for (const DecodedFrame& f : gif.frames) {
    if (previous != nullptr && previous_disposal == 2) {
      for (int y = previous->top; y < previous->top + previous->height; ++y)
        for (int x = previous->left; x < previous->left + previous->width; ++x) canvas[y * w + x] = kBackground;
    } else if (previous != nullptr && previous_disposal == 3) {
      canvas = saved;
    }
    if (f.disposal == 3) saved = canvas;
    const auto& palette = f.local_palette.empty() ? global : f.local_palette;
    if (std::size_t(f.left + f.width) > w || std::size_t(f.top + f.height) > h)
      throw std::runtime_error("frame outside the screen");
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x) {
        const int index = f.pixels[std::size_t(y) * f.width + x];
        if (f.transparent && index == f.transparent_index) continue;
        if (std::size_t(index) >= palette.size()) throw std::runtime_error("index outside the colour table");
        canvas[std::size_t(f.top + y) * w + f.left + x] = palette[std::size_t(index)].ToRgb();
      }
    if (merge_equal && !out.empty() && out.back().pixels == canvas) {
      out.back().delay += f.delay;
    } else {
      out.push_back(ShownPicture{canvas, f.delay});
    }
    previous_disposal = f.disposal;
    previous = &f;
  }
  return out;
}

}  // namespace quarvel::gif::testing
