#include <gtest/gtest.h>

#include <cmath>

#include "player/render/blend_modes.h"
#include "player/rules/calendar.h"
#include "player/rules/device_matrix.h"
#include "player/rules/geom_matrix.h"

namespace quarvel::player::rules {
namespace {

TEST(FlashCalendar, FieldsAndTimesGoBothWays) {
  // 2000-02-29 13:45:30.250 UTC was a Tuesday.
  const double t = 951831930250;
  const CivilTime f = SplitTime(t);
  EXPECT_EQ(f.year, 2000);
  EXPECT_EQ(f.month, 1);
  EXPECT_EQ(f.date, 29);
  EXPECT_EQ(f.day, 2);
  EXPECT_EQ(f.hours, 13);
  EXPECT_EQ(f.minutes, 45);
  EXPECT_EQ(f.seconds, 30);
  EXPECT_EQ(f.ms, 250);
  EXPECT_EQ(ComposeTime(f), t);
  // Before 1970: 1969-12-31 23:59:59.999 was a Wednesday.
  const CivilTime g = SplitTime(-1);
  EXPECT_EQ(g.year, 1969);
  EXPECT_EQ(g.month, 11);
  EXPECT_EQ(g.date, 31);
  EXPECT_EQ(g.day, 3);
  EXPECT_EQ(g.ms, 999);
}

TEST(FlashCalendar, MonthsAndDaysRunOverIntoTheNext) {
  EXPECT_EQ(DaysFromCivil(1970, 12, 1), DaysFromCivil(1971, 0, 1));
  EXPECT_EQ(DaysFromCivil(1970, -1, 1), DaysFromCivil(1969, 11, 1));
  EXPECT_EQ(DaysFromCivil(2001, 1, 29), DaysFromCivil(2001, 2, 1));  // no 29 February in 2001
  EXPECT_EQ(DaysFromCivil(1970, 0, 0), -1);
}

TEST(FlashCalendar, TextIsFlashsForm) {
  const CivilTime f = SplitTime(951831930250);
  EXPECT_EQ(DayText(f) + " " + ClockText(f) + " " + YearText(f.year), "Tue Feb 29 13:45:30 2000");
  EXPECT_EQ(ZoneText(0), "GMT+0000");
  EXPECT_EQ(ZoneText(-5 * 3600000.0), "GMT-0500");
  EXPECT_EQ(ZoneText(5.5 * 3600000), "GMT+0530");
  EXPECT_EQ(DateText(std::nan("")), "Invalid Date");
}

TEST(FlashCalendar, DateTextIsReadInAnyOrder) {
  auto at = [](double y, double mo, double d, double h, double mi, double sec) {
    CivilTime f;
    f.year = y, f.month = mo, f.date = d, f.hours = h, f.minutes = mi, f.seconds = sec;
    return ComposeTime(f);
  };
  // A zone makes the time UTC; without one it is local.
  EXPECT_EQ(ParseDateText("Wed Apr 12 15:30:17 2006 GMT-0700"), at(2006, 3, 12, 22, 30, 17));
  EXPECT_EQ(ParseDateText("Wed Apr 12 15:30:17 2006 GMT+0700"), at(2006, 3, 12, 8, 30, 17));
  EXPECT_EQ(ParseDateText("Tue Feb 1 05:12:30 UTC 2005"), at(2005, 1, 1, 5, 12, 30));
  EXPECT_EQ(ParseDateText("1999 Mon Sun Sat Apr 30 15:30:17"), FromLocal(at(1999, 3, 30, 15, 30, 17)));
  EXPECT_EQ(ParseDateText("15:30:17    Apr/03/1988   "), FromLocal(at(1988, 3, 3, 15, 30, 17)));
  EXPECT_EQ(ParseDateText("04/03/1988"), FromLocal(at(1988, 3, 3, 0, 0, 0)));
  // Two-digit years are 19xx; the last month named counts.
  EXPECT_EQ(ParseDateText("Sat Jan Oct 30 77"), FromLocal(at(1977, 9, 30, 0, 0, 0)));
  EXPECT_EQ(ParseDateText("Sat Apr 30 1974 3:05 PM"), FromLocal(at(1974, 3, 30, 15, 5, 0)));
  // No year, no month, two years, a stray word, a second date or zone: not a date.
  for (const char* bad : {"Wed Apr 12 15:30:17 GMT-0700", "Wed 12 15:30:17 GMT-0700 2006", "Sat Jan 70 77",
                          "Sat Jan 30 random 77", "Sat Jan 30 77 Apr/03/1988", "Sat Jan 30 77 GMT-0700 GMT-0800",
                          "12", "", "1:2:3:4 Jan 1 2000", "Jan 1 2000 GMT+"})
    EXPECT_TRUE(std::isnan(ParseDateText(bad))) << bad;
}

TEST(FlashGeomMatrix, CreateBoxTurnsThenScales) {
  // A quarter turn then a scale of (2, 3): x goes to (0, 3), y to (-2, 0).
  const GeomMatrix m = GeomMatrix::Box(2, 3, M_PI / 2, 10, 20);
  double x, y;
  m.Apply(1, 0, x, y);
  EXPECT_NEAR(x, 10, 1e-12);
  EXPECT_NEAR(y, 23, 1e-12);
  m.Apply(0, 1, x, y);
  EXPECT_NEAR(x, 8, 1e-12);
  EXPECT_NEAR(y, 20, 1e-12);
  // The gradient square (-819.2..819.2) onto 100 x 50 at (10, 20).
  const GeomMatrix g = GeomMatrix::GradientBox(100, 50, 0, 10, 20);
  g.Apply(-819.2, -819.2, x, y);
  EXPECT_NEAR(x, 10, 1e-9);
  EXPECT_NEAR(y, 20, 1e-9);
  g.Apply(819.2, 819.2, x, y);
  EXPECT_NEAR(x, 110, 1e-9);
  EXPECT_NEAR(y, 70, 1e-9);
}

TEST(FlashGeomMatrix, InvertUndoesAndSingularIsRefused) {
  const GeomMatrix m{2, 1, -1, 3, 5, -7};
  GeomMatrix inv;
  ASSERT_TRUE(m.Invert(inv));
  const GeomMatrix id = m.Then(inv);
  EXPECT_NEAR(id.a, 1, 1e-12);
  EXPECT_NEAR(id.b, 0, 1e-12);
  EXPECT_NEAR(id.c, 0, 1e-12);
  EXPECT_NEAR(id.d, 1, 1e-12);
  EXPECT_NEAR(id.tx, 0, 1e-12);
  EXPECT_NEAR(id.ty, 0, 1e-12);
  EXPECT_FALSE((GeomMatrix{1, 2, 2, 4, 0, 0}.Invert(inv)));
  // Pixels to twips and back, clamped.
  const swf::Matrix tw = GeomMatrix{1, 0, 0, 1, 1.26, 1e12}.ToTwips();
  EXPECT_EQ(tw.translateX, 25);
  EXPECT_EQ(tw.translateY, 2000000000);
  EXPECT_EQ(GeomMatrix::FromTwips(tw).tx, 1.25);
}

TEST(FlashBlendModes, NamesNumbersAndOperators) {
  for (int mode = 1; mode <= kBlendShader; ++mode) EXPECT_EQ(BlendModeNumber(BlendModeName(mode)), mode);
  EXPECT_EQ(BlendModeName(0), "normal");
  EXPECT_EQ(BlendModeName(99), "normal");
  EXPECT_EQ(BlendModeName(-1), "normal");
  EXPECT_EQ(BlendModeNumber("hardlight"), kBlendHardLight);
  EXPECT_EQ(BlendModeNumber("Multiply"), -1);
  EXPECT_EQ(BlendOperator(BlendModeNumber("multiply")), CAIRO_OPERATOR_MULTIPLY);
  EXPECT_EQ(BlendOperator(BlendModeNumber("erase")), CAIRO_OPERATOR_DEST_OUT);
  // Drawn pixel by pixel or as plain layers.
  for (const char* name : {"normal", "layer", "subtract", "invert", "shader"})
    EXPECT_EQ(BlendOperator(BlendModeNumber(name)), CAIRO_OPERATOR_OVER) << name;
}

// The digits Flash Player printed for these matrices (Transform.concatenatedMatrix,
// globalToLocal, localToGlobal of a sprite at (1.3, 0.2, 0.1, 1.2, 40, 50) on
// the stage and a child at (1.3, 0.2, 0.2, 1.2, 60, 70) in it).
TEST(FlashDeviceMatrix, ConcatenatesForTheStageWithFlashsDigits) {
  const DeviceMatrix outer{1.3f, 0.2f, 0.1f, 1.2f, 800, 1000}, inner{1.3f, 0.2f, 0.2f, 1.2f, 1200, 1400};
  for (float samples : {1.0f, 2.0f, 4.0f, 8.0f, 16.0f}) {
    const DeviceMatrix top[] = {outer, {}};
    const DeviceMatrix o = ConcatenateForStage(top, samples);
    EXPECT_EQ(double{o.a}, 1.2999999523162842);
    EXPECT_EQ(double{o.b}, 0.20000001788139343);  // one unit in the last place above 0.2f
    EXPECT_EQ(double{o.c}, 0.10000000894069672);
    EXPECT_EQ(double{o.d}, 1.2000000476837158);
    EXPECT_EQ(o.tx, 800);
    EXPECT_EQ(o.ty, 1000);
    const DeviceMatrix both[] = {inner, outer, {}};
    const DeviceMatrix w = ConcatenateForStage(both, samples);
    EXPECT_EQ(double{w.a}, 1.709999918937683);
    EXPECT_EQ(double{w.b}, 0.5000000596046448);
    EXPECT_EQ(double{w.c}, 0.3799999952316284);
    EXPECT_EQ(double{w.d}, 1.4800000190734863);
    EXPECT_EQ(w.tx, 2500);
    EXPECT_EQ(w.ty, 2920);
  }
  // An object off the stage reports its own matrix in the grid's units.
  const DeviceMatrix own{42, 0, 0, 1, 0, 0};
  EXPECT_EQ(double{OwnInGridUnits(own, 2).a}, 420);
  EXPECT_EQ(double{OwnInGridUnits(own, 2).d}, 10);
  EXPECT_EQ(double{OwnInGridUnits({}, 4).a}, 5);
}

TEST(FlashDeviceMatrix, PointsAreRoundedToTwipsAtEachStep) {
  // globalToLocal of (10, 20) pixels under the outer sprite: Flash prints
  // (-21.4, -21.4), where one rounding of the exact -428.57 twips gives -21.45.
  const DeviceMatrix outer{1.3f, 0.2f, 0.1f, 1.2f, 800, 1000};
  DeviceMatrix back;
  ASSERT_TRUE(outer.Invert(back));
  std::int32_t x = 0, y = 0;
  back.Apply(200, 400, x, y);
  EXPECT_EQ(x, -428);
  EXPECT_EQ(y, -428);
  outer.Apply(200, 400, x, y);  // localToGlobal: (55, 76)
  EXPECT_EQ(x, 1100);
  EXPECT_EQ(y, 1520);
  EXPECT_FALSE((DeviceMatrix{1, 2, 2, 4, 0, 0}.Invert(back)));
  // Nearest, ties to even; what is not finite is 0, what is too large the lowest.
  EXPECT_EQ(RoundTwips(2.5f), 2);
  EXPECT_EQ(RoundTwips(3.5f), 4);
  EXPECT_EQ(RoundTwips(-2.5f), -2);
  EXPECT_EQ(RoundTwips(std::nanf("")), 0);
  EXPECT_EQ(RoundTwips(3e9f), INT32_MIN);
}

}  // namespace
}  // namespace quarvel::player::rules
