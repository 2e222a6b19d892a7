#pragma once
// The quicksort Flash's Array and Vector sort with. Its choice of pivot and
// partition order decide both the order of equal elements and the calls a
// script's compare function sees, so scripts that trace or count them (or
// give inconsistent answers) get what Flash gives.

#include <cstddef>
#include <tuple>
#include <utility>
#include <vector>

namespace quarvel::avm2 {

// Sorts `items` in place; `cmp(x, y)` returns <0, 0 or >0 like a script's
// compare function. Iterative, smaller side first, so the stack stays small.
template <class T, class Cmp>
void FlashQuickSort(std::vector<T>& items, Cmp&& cmp) {
  if (items.size() < 2) return;
  auto c = [&](std::size_t i, std::size_t j) { return cmp(items[i], items[j]); };
  auto swap = [&](std::size_t i, std::size_t j) { std::swap(items[i], items[j]); };
  std::vector<std::pair<std::size_t, std::size_t>> pending;
  std::size_t lo = 0, hi = items.size() - 1;
  for (;;) {
    const std::size_t size = hi - lo + 1;
    bool descend = false;
    if (size == 2) {
      if (c(lo, lo + 1) > 0) swap(lo, lo + 1);
    } else if (size == 3) {
      // Sorted by hand: fewest compares for three.
      if (c(lo, lo + 1) > 0) swap(lo, lo + 1);
      if (c(lo + 1, lo + 2) > 0) {
        swap(lo + 1, lo + 2);
        if (c(lo, lo + 1) > 0) swap(lo, lo + 1);
      }
    } else if (size > 3) {
      // The middle element is the pivot, moved to the front.
      swap(lo + size / 2, lo);
      std::size_t left = lo, right = hi + 1;
      for (;;) {
        do ++left;
        while (left <= hi && c(left, lo) <= 0);
        do --right;
        while (right > lo && c(right, lo) >= 0);
        if (right < left) break;
        swap(left, right);
      }
      swap(lo, right);
      // [lo, right) holds the smaller, (left, hi] the greater; the larger
      // side waits while the smaller is sorted.
      const bool lowHasTwo = lo + 1 < right, highHasTwo = left < hi;
      using D = std::ptrdiff_t;
      if (D(right) - 1 - D(lo) >= D(hi) - D(left)) {
        if (lowHasTwo) pending.emplace_back(lo, right - 1);
        if (highHasTwo) {
          lo = left;
          descend = true;
        }
      } else {
        if (highHasTwo) pending.emplace_back(left, hi);
        if (lowHasTwo) {
          hi = right - 1;
          descend = true;
        }
      }
    }
    if (descend) continue;
    if (pending.empty()) return;
    std::tie(lo, hi) = pending.back();
    pending.pop_back();
  }
}

}  // namespace quarvel::avm2
