#include "gif/ditherer.h"

#include <algorithm>

#include "platform/gdi/bitmap.h"

namespace quarvel::gif {

namespace {
inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
}  // namespace

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, TColorLookup& lookup) : TDitherEngine(width, lookup) {
  gdi::CheckedStride(width, 32);  // refuses widths no picture can have
  for (auto& row : errors_) row.assign(std::size_t(width) + 2, 0);
}

int TFloydSteinbergDitherer::Dither(int red, int green, int blue, Color& chosen) {
  const int x = column_;
  const int dir = direction_;
  row_started_ = true;
  int wanted[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) wanted[c] = Clamp255(wanted[c] + (errors_[c][x + 1] + carry_[c] + 8) / 16);
  int index = lookup_.Lookup(wanted[0], wanted[1], wanted[2], chosen);
  const int got[3] = {chosen.r, chosen.g, chosen.b};
  for (int c = 0; c < 3; ++c) {
    int d = wanted[c] - got[c];
    errors_[c][x - dir + 1] = sum_behind_[c] + 3 * d;
    sum_behind_[c] = sum_current_[c] + 5 * d;
    sum_current_[c] = d;
    carry_[c] = 7 * d;
  }
  column_ += dir;
  return index;
}

void TFloydSteinbergDitherer::FinishRow() {
  if (!row_started_) return;
  // The last column of the row is the one behind the position past the end.
  int last = column_ - direction_;
  for (int c = 0; c < 3; ++c) errors_[c][last + 1] = sum_behind_[c];
}

void TFloydSteinbergDitherer::NextLine() {
  FinishRow();
  carry_ = {};
  sum_behind_ = {};
  sum_current_ = {};
  row_started_ = false;
  TDitherEngine::NextLine();
}

TKernelDitherer::TKernelDitherer(int width, TColorLookup& lookup, const DitherKernel& kernel)
    : TDitherEngine(width, lookup), kernel_(kernel) {
  gdi::CheckedStride(width, 32);
  rows_.assign(std::size_t(kernel.rows_below + 1) * 3, std::vector<std::int32_t>(std::size_t(width) + 2 * kernel.guard, 0));
}

int TKernelDitherer::Dither(int red, int green, int blue, Color& chosen) {
  const int x = column_;
  const int dir = direction_;
  const int div = kernel_.divisor;
  int wanted[3] = {red, green, blue};
  for (int c = 0; c < 3; ++c) wanted[c] = Clamp255(wanted[c] + (Entry(0, c, x) + div / 2) / div);
  int index = lookup_.Lookup(wanted[0], wanted[1], wanted[2], chosen);
  const int got[3] = {chosen.r, chosen.g, chosen.b};
  for (int c = 0; c < 3; ++c) {
    int d = wanted[c] - got[c];
    if (d == 0) continue;
    for (int k = 0; k < 3; ++k)
      if (kernel_.ahead[k] != 0) Entry(0, c, x + dir * (k + 1)) += kernel_.ahead[k] * d;
    for (int r = 0; r < kernel_.rows_below; ++r)
      for (int k = 0; k < 7; ++k)
        if (kernel_.below[r][k] != 0) Entry(r + 1, c, x + dir * (k - 3)) += kernel_.below[r][k] * d;
  }
  column_ += dir;
  return index;
}

void TKernelDitherer::NextLine() {
  // The finished row is cleared and becomes the last one.
  for (int c = 0; c < 3; ++c) {
    std::fill(rows_[std::size_t(c)].begin(), rows_[std::size_t(c)].end(), 0);
    for (int r = 0; r < kernel_.rows_below; ++r) std::swap(rows_[std::size_t(r) * 3 + c], rows_[std::size_t(r + 1) * 3 + c]);
  }
  TDitherEngine::NextLine();
}


TStuckiDitherer::TStuckiDitherer(int width, TColorLookup& lookup)
    : T5by3Ditherer(width, lookup,
                    DitherKernel{{8, 4, 0}, {{{0, 2, 4, 8, 4, 2, 0}, {0, 1, 2, 4, 2, 1, 0}, {}}}, 2, 2, 42}) {}
TSierraDitherer::TSierraDitherer(int width, TColorLookup& lookup)
    : T5by3Ditherer(width, lookup,
                    DitherKernel{{5, 3, 0}, {{{0, 2, 4, 5, 4, 2, 0}, {0, 0, 2, 3, 2, 0, 0}, {}}}, 2, 2, 32}) {}
TJaJuNiDitherer::TJaJuNiDitherer(int width, TColorLookup& lookup)
    : T5by3Ditherer(width, lookup,
                    DitherKernel{{7, 5, 0}, {{{0, 3, 5, 7, 5, 3, 0}, {0, 1, 3, 5, 3, 1, 0}, {}}}, 2, 2, 48}) {}
TBurkesDitherer::TBurkesDitherer(int width, TColorLookup& lookup)
    : TKernelDitherer(width, lookup, DitherKernel{{8, 4, 0}, {{{0, 2, 4, 8, 4, 2, 0}, {}, {}}}, 1, 2, 32}) {}
TSteveArcheDitherer::TSteveArcheDitherer(int width, TColorLookup& lookup)
    : TKernelDitherer(width, lookup,
                      DitherKernel{{0, 32, 0},
                                   {{{12, 0, 26, 0, 30, 0, 16}, {0, 12, 0, 26, 0, 12, 0}, {5, 0, 12, 0, 12, 0, 5}}},
                                   3,
                                   3,
                                   200}) {}

std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMethod method, int width, TColorLookup& lookup) {
  switch (method) {
    case dtFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    case dtStucki: return std::make_unique<TStuckiDitherer>(width, lookup);
    case dtSierra: return std::make_unique<TSierraDitherer>(width, lookup);
    case dtJaJuNi: return std::make_unique<TJaJuNiDitherer>(width, lookup);
    case dtSteveArche: return std::make_unique<TSteveArcheDitherer>(width, lookup);
    case dtBurkes: return std::make_unique<TBurkesDitherer>(width, lookup);
    case dtNearest: break;
  }
  return std::make_unique<TDitherEngine>(width, lookup);
}

}  // namespace quarvel::gif
