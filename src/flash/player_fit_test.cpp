#include "flash/player_fit.h"

#include <gtest/gtest.h>

namespace quarvel::flash {
namespace {

const PlayerLayout kStart{8, 16, 300, 200, 8 + 292, 16 + 192};

PlayerLayout Fit(int w, int h) { return FitPlayerLayout({0, 0, w, h}, kStart, 1024, 1024); }

TEST(FitPlayerLayout, SmallMovieSetsBothSidesAndTheGrip) {
  EXPECT_EQ(Fit(550, 400), (PlayerLayout{8, 16, 550, 400, 8 + 542, 16 + 392}));
  // The offset of the rectangle does not matter, only its size.
  EXPECT_EQ(FitPlayerLayout({100, 50, 650, 450}, kStart, 1024, 1024), Fit(550, 400));
}

TEST(FitPlayerLayout, WideMovies) {
  // Width kept; step 3's height 256 is overridden by the real 500.
  EXPECT_EQ(Fit(2000, 500), (PlayerLayout{8, 16, 300, 500, 8 + 292, 16 + 492}));
  // Width kept; height 1500 * 1024 / 2000.
  EXPECT_EQ(Fit(2000, 1500), (PlayerLayout{8, 16, 300, 768, 8 + 292, 16 + 760}));
  // Exactly the limit counts as too wide.
  EXPECT_EQ(Fit(1024, 1024), (PlayerLayout{8, 16, 300, 1024, 8 + 292, 16 + 1016}));
}

TEST(FitPlayerLayout, TallMovieKeepsTheHeight) {
  EXPECT_EQ(Fit(800, 3000), (PlayerLayout{8, 16, 800, 200, 8 + 792, 16 + 192}));
}

TEST(FitPlayerLayout, HugeAndReversedRectangles) {
  // No overflow in h * maxWidth.
  EXPECT_EQ(FitPlayerLayout({0, 0, 100000000, 100000000}, kStart, 1024, 1024).height, 1024);
  const PlayerLayout rev = FitPlayerLayout({0, 0, -50, -30}, kStart, 1024, 1024);
  EXPECT_EQ(rev.width, 0);
  EXPECT_EQ(rev.height, 0);
  EXPECT_EQ(rev.gripLeft, 8 - 8);
  // A zero limit cannot divide by a zero width.
  EXPECT_EQ(FitPlayerLayout({0, 0, 0, 0}, kStart, 0, 0), kStart);
}

TEST(FitCaptureSize, KeepsTheMovieShapeWithinTheLimit) {
  EXPECT_EQ(FitCaptureSize({0, 0, 550, 400}, 1024, 1024), (CaptureSize{550, 400}));
  EXPECT_EQ(FitCaptureSize({100, 50, 650, 450}, 1024, 1024), (CaptureSize{550, 400}));
  // A side at the limit or beyond scales both sides by the same factor.
  EXPECT_EQ(FitCaptureSize({0, 0, 1024, 576}, 1024, 1024), (CaptureSize{1024, 576}));
  EXPECT_EQ(FitCaptureSize({0, 0, 2000, 1500}, 1024, 1024), (CaptureSize{1024, 768}));
  EXPECT_EQ(FitCaptureSize({0, 0, 800, 3000}, 1024, 1024), (CaptureSize{273, 1024}));
  EXPECT_EQ(FitCaptureSize({0, 0, 4000, 2000}, 1024, 1024), (CaptureSize{1024, 512}));
}

TEST(FitCaptureSize, EmptyReversedAndHugeRectanglesGiveAUsableSize) {
  EXPECT_EQ(FitCaptureSize({0, 0, 0, 0}, 1024, 1024), (CaptureSize{1, 1}));
  EXPECT_EQ(FitCaptureSize({0, 0, -50, -30}, 1024, 1024), (CaptureSize{1, 1}));
  EXPECT_EQ(FitCaptureSize({-2000000000, 0, 2000000000, 10}, 1024, 1024), (CaptureSize{1024, 1}));
}

}  // namespace
}  // namespace quarvel::flash
