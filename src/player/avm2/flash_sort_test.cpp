// Flash's quicksort: the order it leaves and the compares it makes, checked
// against what Flash Player recorded for a compare function that answers at
// random (so every pivot and partition step shows in the result).
#include "player/avm2/flash_sort.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quarvel::avm2 {
namespace {

TEST(FlashQuickSort, RandomAnswersGiveFlashsOrderAndCompares) {
  std::uint32_t state = 0x12345678;
  auto next = [&] {  // xorshift on a signed int, as the recording's script did
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<std::int32_t>(state);
  };
  std::vector<int> items;
  for (int i = 0; i < 50; ++i) items.push_back(i);
  std::vector<std::string> compares;
  FlashQuickSort(items, [&](int a, int b) {
    const std::int32_t r = next();
    const int c = r % 8 == 0 ? 0 : r > 0 ? 1 : -1;
    compares.push_back(std::to_string(a) + (c == 0 ? "=" : c > 0 ? ">" : "<") + std::to_string(b));
    return c;
  });
  std::string order;
  for (int v : items) order += std::to_string(v) + ",";
  EXPECT_EQ(order,
            "13,35,24,1,8,33,6,3,9,38,20,7,23,40,19,16,12,15,14,4,22,37,21,18,45,25,41,27,36,32,47,44,43,48,29,5,26,11,"
            "10,39,17,42,49,2,31,28,0,30,34,46,");
  ASSERT_EQ(compares.size(), 208u);
  // The middle element is the first pivot, compared against from the left.
  EXPECT_EQ(compares[0], "1<25");
}

TEST(FlashQuickSort, EqualElementsMoveAsFlashMovesThem) {
  // Keys compare equal, tags show where each went: the pivot swap unsettles them.
  std::vector<std::pair<int, char>> items = {{1, 'a'}, {1, 'b'}, {1, 'c'}, {1, 'd'}, {1, 'e'}};
  FlashQuickSort(items, [](auto x, auto y) { return x.first - y.first; });
  std::string tags;
  for (auto& [k, t] : items) tags += t;
  EXPECT_EQ(tags, "cbade");
  std::vector<int> small = {3, 1, 2}, two = {2, 1}, none;
  FlashQuickSort(small, [](int x, int y) { return x - y; });
  FlashQuickSort(two, [](int x, int y) { return x - y; });
  FlashQuickSort(none, [](int x, int y) { return x - y; });
  EXPECT_EQ(small, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(two, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace quarvel::avm2
