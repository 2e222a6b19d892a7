#pragma once
// Finding a palette index for a wanted colour.

#include <array>
#include <cstdint>
#include <vector>

#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

using gdi::Color;

class TColorLookup {
 public:
  explicit TColorLookup(int colors) : colors_(colors) {}
  virtual ~TColorLookup() = default;
  int Colors() const { return colors_; }
  // The palette index for the colour, and that entry's colour in `chosen`.
  virtual int Lookup(int red, int green, int blue, Color& chosen) = 0;

 private:
  int colors_;
};

// Nearest entry by the sum of absolute differences, cached per 15-bit cell:
// every colour of a cell gets the answer found for the first one asked.
class TFastColorLookup final : public TColorLookup {
 public:
  explicit TFastColorLookup(const std::vector<Color>& palette);
  int Lookup(int red, int green, int blue, Color& chosen) override;
  // Lookup's index alone, the cache read here: a photograph's mapping asks
  // for nearly every pixel, most of them cells already searched.
  int IndexOf(int red, int green, int blue) {
    const int index = inverse_[std::size_t(Key(red, green, blue))];
    return index >= 0 ? index : Search(red, green, blue);
  }

  static int Key(int red, int green, int blue) { return ((blue >> 3) << 10) | ((green >> 3) << 5) | (red >> 3); }

  // The indices of eight pixels of four bytes each (blue, green, red,
  // unused) into out, from the cache alone, where the processor has AVX2:
  // false, and nothing written, when one of their cells is not searched yet.
  bool CachedIndicesOf8(const std::uint8_t* bgrx, std::uint8_t* out) const;
  static bool HasCachedIndicesOf8();

 private:
  // The nearest entry of a cell not searched yet, then kept for it.
  int Search(int red, int green, int blue);

  std::vector<Color> palette_;
  // The palette by channel, padded to a whole number of vector widths with
  // entries no colour is nearest to: the search computes every distance at
  // once, in the wide registers, then takes the first smallest.
  static constexpr int kPadded = 256;
  alignas(32) std::array<std::int16_t, kPadded> reds_{}, greens_{}, blues_{};
  // Two entries past the cells, never read as one: CachedIndicesOf8 reads
  // each entry as the low half of four bytes.
  std::array<std::int16_t, 32768 + 2> inverse_;
};

class TGrayScaleLookup final : public TColorLookup {
 public:
  TGrayScaleLookup() : TColorLookup(256) {}
  int Lookup(int red, int green, int blue, Color& chosen) override {
    int grey = (77 * red + 150 * green + 29 * blue) >> 8;
    chosen = Color{std::uint8_t(grey), std::uint8_t(grey), std::uint8_t(grey)};
    return grey;
  }
};

class TMonochromeLookup final : public TColorLookup {
 public:
  TMonochromeLookup() : TColorLookup(2) {}
  int Lookup(int red, int green, int blue, Color& chosen) override {
    if (77 * red + 150 * green + 29 * blue < 32513) {
      chosen = Color{0, 0, 0};
      return 0;
    }
    chosen = Color{255, 255, 255};
    return 1;
  }
};

// The 6 x 6 x 6 colour cube.
class TNetscapeColorLookup final : public TColorLookup {
 public:
  TNetscapeColorLookup() : TColorLookup(216) {}
  int Lookup(int red, int green, int blue, Color& chosen) override {
    int r = (red + 3) / 51, g = (green + 3) / 51, b = (blue + 3) / 51;
    chosen = Color{std::uint8_t(51 * r), std::uint8_t(51 * g), std::uint8_t(51 * b)};
    return 36 * r + 6 * g + b;
  }
};

}  // namespace quarvel::gif
