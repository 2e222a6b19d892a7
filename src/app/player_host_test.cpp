#include "app/player_host.h"

#include <gtest/gtest.h>

namespace quarvel::app {
namespace {

TEST(StatusLineTest, FormatsPercentFramesSizeAndRate) {
  EXPECT_EQ(StatusLineText(60, 240, 550, 400, 12), "25% (60/240 550x400) 12fps");
  EXPECT_EQ(StatusLineText(0, 1, 192, 192, 0), "0% (0/1 192x192) 0fps");
  EXPECT_EQ(StatusLineText(239, 240, 550, 400, 24), "99% (239/240 550x400) 24fps");  // truncates
  EXPECT_EQ(StatusLineText(0, 0, 10, 10, 12), "0% (0/0 10x10) 12fps");               // no frames: no crash
}

TEST(PlaybackStepTest, Prev50AndNext50) {
  EXPECT_EQ(Prev50Target(50), -1);  // at 50 or below the movie stays
  EXPECT_EQ(Prev50Target(0), -1);
  EXPECT_EQ(Prev50Target(51), 1);
  EXPECT_EQ(Next50Target(230), 280);  // no upper bound check
  EXPECT_EQ(SeekTickSpacing(240), 12);
  EXPECT_EQ(SeekTickSpacing(19), 0);
}

TEST(GripTest, OnePixelDragSnapsPlayerToGrip) {
  PlayerArea area;  // player 192 x 192, grip at (453, 382)
  DragGripTo(area, 454, 382, 1024, 1024);
  EXPECT_EQ(area.player_width, 462);
  EXPECT_EQ(area.player_height, 390);
  EXPECT_EQ(area.grip_left, 454);
  EXPECT_EQ(area.grip_top, 382);
}

TEST(GripTest, BoundsAreStrictAndAxesIndependent) {
  PlayerArea area;
  // Towards the top-left: 20 pixels or less is refused.
  DragGripTo(area, 12, 13, 1024, 1024);  // candidate + 8 == 20 on x: refused; 21 on y: taken
  EXPECT_EQ(area.grip_left, 453);
  EXPECT_EQ(area.grip_top, 13);
  EXPECT_EQ(area.player_width, 461);
  EXPECT_EQ(area.player_height, 21);
  // Far right and down: 1024 or more is refused, 1023 taken.
  DragGripTo(area, 1016, 1015, 1024, 1024);
  EXPECT_EQ(area.grip_left, 453);
  EXPECT_EQ(area.grip_top, 1015);
  EXPECT_EQ(area.player_height, 1023);
  DragGripTo(area, 2000, -50, 1024, 1024);
  EXPECT_EQ(area.player_width, 461);
  EXPECT_EQ(area.player_height, 1023);
}

}  // namespace
}  // namespace quarvel::app
