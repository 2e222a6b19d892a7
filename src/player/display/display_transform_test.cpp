#include "player/display/display_transform.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quarvel::player::transform {
namespace {

// Where the matrix takes the point (x, y), twips ignored.
std::pair<double, double> Apply(const Matrix& m, double x, double y) {
  return {m.scaleX * x + m.rotateSkew1 * y, m.rotateSkew0 * x + m.scaleY * y};
}

TEST(DisplayTransform, AFlipSurvivesRotationAndScaleAndReadsBackAsSet) {
  Matrix m;
  Kept kept;
  SetScaleX(m, kept, -1);
  SetRotationDegrees(m, kept, 30);
  SetScaleY(m, kept, 2);
  EXPECT_EQ(ScaleX(m, kept), -1);
  EXPECT_EQ(ScaleY(m, kept), 2);
  EXPECT_EQ(RotationDegrees(m, kept), 30);
  // The matrix is the flip, then the scale, then the turn.
  const auto [x, y] = Apply(m, 1, 0);
  EXPECT_NEAR(x, -std::cos(M_PI / 6), 1e-12);
  EXPECT_NEAR(y, -std::sin(M_PI / 6), 1e-12);
  const auto [x2, y2] = Apply(m, 0, 1);
  EXPECT_NEAR(x2, -2 * std::sin(M_PI / 6), 1e-12);
  EXPECT_NEAR(y2, 2 * std::cos(M_PI / 6), 1e-12);
}

TEST(DisplayTransform, RotationIsKeptWithinAHalfTurnEitherWay) {
  Matrix m;
  Kept kept;
  for (const auto& [set, read] : {std::pair{270.0, -90.0}, {-190.0, 170.0}, {540.0, 180.0}, {-180.0, -180.0}, {725.0, 5.0}}) {
    SetRotationDegrees(m, kept, set);
    EXPECT_EQ(RotationDegrees(m, kept), read) << set;
  }
}

TEST(DisplayTransform, AMatrixSetOtherwiseIsReadFromItsOwnValues) {
  Matrix m;
  Kept kept;
  SetScaleX(m, kept, -1);
  // A timeline (or transform.matrix) turns it a quarter: the kept flip no
  // longer holds, scales come out positive.
  m = Matrix{0, 0, 2, -3, 0, 0};  // x axis to (0, 2), y axis to (-3, 0)
  EXPECT_DOUBLE_EQ(ScaleX(m, kept), 2);
  EXPECT_DOUBLE_EQ(ScaleY(m, kept), 3);
  EXPECT_DOUBLE_EQ(RotationDegrees(m, kept), 90);
  // Setting one value keeps the others the matrix gave.
  SetScaleX(m, kept, 1);
  EXPECT_NEAR(m.rotateSkew0, 1, 1e-12);
  EXPECT_NEAR(m.rotateSkew1, -3, 1e-12);
  EXPECT_NEAR(m.scaleY, 0, 1e-12);
}

TEST(DisplayTransform, ExtentScalesItsAxisAndKeepsAFlip) {
  Matrix m;
  Kept kept;
  SetScaleX(m, kept, -1);
  // 100 pixels wide now, 50 wanted.
  SetExtent(m, kept, true, 100, 50);
  EXPECT_EQ(ScaleX(m, kept), -0.5);
  EXPECT_EQ(ScaleY(m, kept), 1);
  SetExtent(m, kept, false, 40, 80);
  EXPECT_EQ(ScaleY(m, kept), 2);
  // Nothing to scale: nothing changes.
  const Matrix before = m;
  SetExtent(m, kept, true, 0, 10);
  SetExtent(m, kept, true, 10, std::nan(""));
  EXPECT_EQ(m, before);
}

// A corner carried for bounds: factors cut to 16.16 toward zero, summed in
// single precision, rounded halves to even.
TEST(DisplayTransform, BoundsCornersUseFixedFactorsAndRoundHalvesToEven) {
  // -0.9925000000000002 cuts to -65044/65536: -10917.42, not a half.
  EXPECT_EQ(RoundTwips(LinearF(-0.9925000000000002, 11000, 0, 0)), -10917);
  // An exact half goes to the even twip, either sign.
  EXPECT_EQ(RoundTwips(LinearF(-0.8125, 11000, 0, 0)), -8938);
  EXPECT_EQ(RoundTwips(LinearF(0.8125, 11000, 0, 0)), 8938);
  EXPECT_EQ(RoundTwips(LinearF(0.9975, 11000, 0, 0)), 10972);
  // Single precision: 8388607 pixels over 320 is 8388607.2 pixels back.
  EXPECT_EQ(RoundTwips(LinearF(8388607.0 / 320, 6400, 0, 0)), 167772144);
  // A factor past 32768 is held at the top of the 32-bit range.
  EXPECT_EQ(RoundTwips(LinearF(52428.8, 6400, 0, 0)), 32768.0 * 6400);
  EXPECT_EQ(LinearF(std::nan(""), 100, 1, 5), 5);
}

TEST(DisplayTransform, PixelsBecomeTwipsWithinTheMatrixRange) {
  EXPECT_EQ(Twips(1.26), 25);
  EXPECT_EQ(Twips(-0.05), -1);
  EXPECT_EQ(Twips(1e12), 2000000000);
  EXPECT_EQ(Twips(-1e12), -2000000000);
}

}  // namespace
}  // namespace quarvel::player::transform

namespace quarvel::player::transform {
namespace {

TEST(DisplayTransform, AnObjectPlacedAtZeroScaleReadsZero) {
  Matrix m{0, 0, 0, 0, 0, 0};
  Kept kept;
  EXPECT_EQ(ScaleX(m, kept), 0);
  EXPECT_EQ(ScaleY(m, kept), 0);
  // Turning it leaves it at zero.
  SetRotationDegrees(m, kept, 45);
  EXPECT_EQ(m.scaleX, 0);
  EXPECT_EQ(m.scaleY, 0);
}

}  // namespace
}  // namespace quarvel::player::transform
