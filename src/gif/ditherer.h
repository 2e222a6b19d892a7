#pragma once
// Mapping true-colour pixels to palette indices, rows in serpentine order.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "gif/color_lookup.h"

namespace quarvel::gif {

enum TDitherMethod { dtNearest, dtFloydSteinberg, dtStucki, dtSierra, dtJaJuNi, dtSteveArche, dtBurkes };

// Plain nearest colour; the base of every ditherer.
class TDitherEngine {
 public:
  TDitherEngine(int width, TColorLookup& lookup) : lookup_(lookup), width_(width) {}
  virtual ~TDitherEngine() = default;

  int Direction() const { return direction_; }
  int Column() const { return column_; }
  int Width() const { return width_; }

  // Index for the pixel at the current column; moves one step on.
  virtual int Dither(int red, int green, int blue, Color& chosen) {
    int index = lookup_.Lookup(red, green, blue, chosen);
    column_ += direction_;
    return index;
  }
  virtual void NextLine() {
    direction_ = -direction_;
    column_ = direction_ > 0 ? 0 : width_ - 1;
  }

 protected:
  TColorLookup& lookup_;
  int width_;
  int direction_ = 1;
  int column_ = 0;
};

class TFloydSteinbergDitherer final : public TDitherEngine {
 public:
  TFloydSteinbergDitherer(int width, TColorLookup& lookup);
  int Dither(int red, int green, int blue, Color& chosen) override;
  void NextLine() override;

 private:
  void FinishRow();
  // Per channel: the row below in sixteenths (entry x + 1 for column x, one
  // guard at each end), the carry to the next pixel, and the running sums.
  std::array<std::vector<std::int32_t>, 3> errors_;
  std::array<std::int32_t, 3> carry_{};
  std::array<std::int32_t, 3> sum_behind_{};
  std::array<std::int32_t, 3> sum_current_{};
  bool row_started_ = false;
};

// A kernel as a table: weights on the current row (ahead 1..3) and on up to
// three rows below (columns -3..+3 in the scan direction).
struct DitherKernel {
  std::array<int, 3> ahead;                    // columns +1, +2, +3 of this row
  std::array<std::array<int, 7>, 3> below;     // rows +1..+3, columns -3..+3
  int rows_below;
  int guard;                                   // guard entries at each end
  int divisor;
};

class TKernelDitherer : public TDitherEngine {
 public:
  TKernelDitherer(int width, TColorLookup& lookup, const DitherKernel& kernel);
  int Dither(int red, int green, int blue, Color& chosen) override;
  void NextLine() override;

 private:
  std::int32_t& Entry(int row, int channel, int column) {
    return rows_[std::size_t(row) * 3 + std::size_t(channel)][std::size_t(column + kernel_.guard)];
  }
  DitherKernel kernel_;
  // rows_[row * 3 + channel]: row 0 is the current row, then the rows below.
  std::vector<std::vector<std::int32_t>> rows_;
};

// The kernels that share the five-by-three layout.
class T5by3Ditherer : public TKernelDitherer {
 public:
  using TKernelDitherer::TKernelDitherer;
};
class TStuckiDitherer final : public T5by3Ditherer {
 public:
  TStuckiDitherer(int width, TColorLookup& lookup);
};
class TSierraDitherer final : public T5by3Ditherer {
 public:
  TSierraDitherer(int width, TColorLookup& lookup);
};
class TJaJuNiDitherer final : public T5by3Ditherer {
 public:
  TJaJuNiDitherer(int width, TColorLookup& lookup);
};
class TBurkesDitherer final : public TKernelDitherer {
 public:
  TBurkesDitherer(int width, TColorLookup& lookup);
};
class TSteveArcheDitherer final : public TKernelDitherer {
 public:
  TSteveArcheDitherer(int width, TColorLookup& lookup);
};

std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMethod method, int width, TColorLookup& lookup);

}  // namespace quarvel::gif
