#include "gif/color_lookup.h"

#include <cstdlib>

namespace quarvel::gif {

TFastColorLookup::TFastColorLookup(const std::vector<Color>& palette)
    : TColorLookup(int(palette.size() > 256 ? 256 : palette.size())),
      palette_(palette.begin(), palette.begin() + Colors()) {
  inverse_.fill(-1);
  for (int i = 0; i < Colors(); ++i) {
    const Color& c = palette_[i];
    int key = Key(c.r, c.g, c.b);
    if (inverse_[key] < 0) inverse_[key] = std::int16_t(i);
  }
}

int TFastColorLookup::Lookup(int red, int green, int blue, Color& chosen) {
  int key = Key(red, green, blue);
  int index = inverse_[key];
  if (index < 0) {
    int best = 0x30000;
    index = 0;
    for (int i = 0; i < Colors(); ++i) {
      const Color& c = palette_[i];
      int d = std::abs(red - c.r) + std::abs(green - c.g) + std::abs(blue - c.b);
      if (d < best) {
        best = d;
        index = i;
      }
    }
    inverse_[key] = std::int16_t(index);
  }
  chosen = palette_[index];
  return index;
}

}  // namespace quarvel::gif
