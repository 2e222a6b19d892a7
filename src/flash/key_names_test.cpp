#include "flash/key_names.h"

#include <gtest/gtest.h>

namespace quarvel::flash {
namespace {

TEST(KeyNames, NamesGiveFlashsKeyCodesAndTheCharacterTyped) {
  EXPECT_EQ(KeyByName("a"), (FlashKey{65, 97}));
  EXPECT_EQ(KeyByName("Z"), (FlashKey{90, 122}));
  EXPECT_EQ(KeyByName("7"), (FlashKey{55, 55}));
  EXPECT_EQ(KeyByName("space"), (FlashKey{32, 32}));
  EXPECT_EQ(KeyByName("Enter"), (FlashKey{13, 13}));
  EXPECT_EQ(KeyByName("Left"), (FlashKey{37, 0}));
  EXPECT_EQ(KeyByName("DOWN"), (FlashKey{40, 0}));
  EXPECT_EQ(KeyByName("PageUp"), (FlashKey{33, 0}));
  EXPECT_EQ(KeyByName("f1"), (FlashKey{112, 0}));
  EXPECT_EQ(KeyByName("F12"), (FlashKey{123, 0}));
  EXPECT_EQ(KeyByName("/"), (FlashKey{191, '/'}));
  EXPECT_EQ(KeyByName("ctrl"), KeyByName("Control"));
  for (const char* bad : {"", "F0", "F13", "F1x", "spacebar", "é", "~"}) EXPECT_EQ(KeyByName(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace quarvel::flash
