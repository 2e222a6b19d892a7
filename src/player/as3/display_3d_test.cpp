// Display objects in three dimensions as Flash shows them: each point of an
// object goes through its place in three dimensions and is seen by an eye
// `focal` in front of the stage, looking through the projection's centre.
// The expected places are worked out here from that picture of the eye,
// written out, not from the player's matrices.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3FirstPicture;
using testing::As3Movie;
using testing::As3Traced;

constexpr double kPi = 3.14159265358979323846;
// Flash's default for the tests' 100-pixel stage: a 55 degree field of view.
const double kFocal = 50 / std::tan(27.5 * kPi / 180);

struct P3 {
  double x, y, z;
};
// Turns as Flash's rotationX and rotationY turn (the object's +x toward the
// viewer for a positive rotationY, +y away from the viewer for a positive rotationX).
P3 TurnY(P3 p, double deg) {
  const double a = deg * kPi / 180;
  return {p.x * std::cos(a) + p.z * std::sin(a), p.y, -p.x * std::sin(a) + p.z * std::cos(a)};
}
P3 TurnX(P3 p, double deg) {
  const double a = deg * kPi / 180;
  return {p.x, p.y * std::cos(a) - p.z * std::sin(a), p.y * std::sin(a) + p.z * std::cos(a)};
}
// Where the line from the eye (cx, cy, -focal) to the point crosses the stage.
std::pair<double, double> Seen(P3 p, double cx = 50, double cy = 50, double focal = kFocal) {
  const double t = focal / (focal + p.z);
  return {cx + (p.x - cx) * t, cy + (p.y - cy) * t};
}

bool Red(const gdi::Color& c) { return c.r > 200 && c.g < 60 && c.b < 60; }
// The first and last red pixel of a row (or column); nullopt when none.
std::optional<std::pair<int, int>> RedSpan(const gdi::Bitmap& bmp, int at, bool row) {
  int first = -1, last = -1;
  for (int k = 0; k < 100; ++k) {
    if (!Red(row ? bmp.GetPixel(k, at) : bmp.GetPixel(at, k))) continue;
    if (first < 0) first = k;
    last = k;
  }
  if (first < 0) return std::nullopt;
  return std::pair{first, last};
}

// local 1 = a 40-pixel red square about its origin at (50, 50); `more` sets the rest.
gdi::Bitmap Square(const std::function<void(As3Movie&, AbcCode&)>& more) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "square", 0xFF0000, -20, -20, 40, 40);
    for (const char* p : {"x", "y"}) c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q(p)});
    more(m, c);
  });
  return As3FirstPicture(bytes);
}
void Set(As3Movie& m, AbcCode& c, int local, const char* property, int value) {
  c.Op("getlocal", {local}).Op("pushshort", {value}).Op("setproperty", {m.Q(property)});
}

TEST(As3ThirdDimension, ATurnedSquaresCornersAreWhereTheEyeSeesThem) {
  const gdi::Bitmap shown = Square([](As3Movie& m, AbcCode& c) {
    Set(m, c, 1, "rotationY", 50);
    Set(m, c, 1, "z", 30);
  });
  const auto corner = [](double u, double v) {
    P3 p = TurnY({u, v, 0}, 50);
    return Seen({p.x + 50, p.y + 50, p.z + 30});
  };
  // The middle row runs from the left edge's image to the right edge's.
  const auto row = RedSpan(shown, 50, true);
  ASSERT_TRUE(row);
  EXPECT_NEAR(row->first, corner(-20, 0).first, 1.0);
  EXPECT_NEAR(row->second + 1, corner(20, 0).first, 1.0);
  // The nearer (right) side is taller than the farther one.
  for (double u : {-15.0, 15.0}) {
    const int x = static_cast<int>(std::lround(corner(u, 0).first));
    const auto column = RedSpan(shown, x, false);
    ASSERT_TRUE(column) << u;
    EXPECT_NEAR(column->first, corner(u, -20).second, 1.0) << u;
    EXPECT_NEAR(column->second + 1, corner(u, 20).second, 1.0) << u;
  }
  const int nearTop = RedSpan(shown, static_cast<int>(corner(15, 0).first), false)->first;
  const int farTop = RedSpan(shown, static_cast<int>(corner(-15, 0).first), false)->first;
  EXPECT_LT(nearTop, farTop - 2);
}

TEST(As3ThirdDimension, TurnsNestInsideATurnedContainer) {
  // A container turned about y holds the square turned about x.
  As3Movie d;
  const auto sprite = d.Display("Sprite");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal", {2});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    for (const char* p : {"x", "y"}) c.Op("getlocal_2").Op("pushbyte", {50}).Op("setproperty", {m.Q(p)});
    Set(m, c, 2, "rotationY", 35);
    m.NewSprite(c, 1, "square", 0xFF0000, -20, -20, 40, 40, 2);
    Set(m, c, 1, "rotationX", 40);
  });
  const gdi::Bitmap shown = As3FirstPicture(bytes);
  const auto corner = [](double u, double v) {
    P3 p = TurnY(TurnX({u, v, 0}, 40), 35);
    return Seen({p.x + 50, p.y + 50, p.z});
  };
  for (double v : {-10.0, 10.0}) {
    const auto left = corner(-20, v), right = corner(20, v);
    // Along the line between the two edge points, at the row of its middle.
    const int y = static_cast<int>(std::lround((left.second + right.second) / 2));
    const auto row = RedSpan(shown, y, true);
    ASSERT_TRUE(row) << v;
    EXPECT_NEAR(row->first, left.first, 1.5) << v;
    EXPECT_NEAR(row->second + 1, right.first, 1.5) << v;
  }
  // Flat, the square's top would be at 30; turned about x it is lower.
  const auto column = RedSpan(shown, 50, false);
  ASSERT_TRUE(column);
  const P3 top = TurnY(TurnX({0, -20, 0}, 40), 35);
  EXPECT_NEAR(column->first, Seen({top.x + 50, top.y + 50, top.z}).second, 1.5);
}

TEST(As3ThirdDimension, AContainersOwnProjectionIsTheOneItsObjectsAreSeenThrough) {
  // The container at (20, 20) sees through its own projection: a 90 degree
  // field of view (focal length half the stage's width) centred on its origin.
  As3Movie d;
  const auto sprite = d.Display("Sprite");
  const auto pp = d.a.PackageName("flash.geom", "PerspectiveProjection");
  const auto point = d.a.PackageName("flash.geom", "Point");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sprite}).Op("constructprop", {sprite, 0}).Op("setlocal", {2});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    for (const char* p : {"x", "y"}) c.Op("getlocal_2").Op("pushbyte", {20}).Op("setproperty", {m.Q(p)});
    c.Op("findpropstrict", {pp}).Op("constructprop", {pp, 0}).Op("setlocal_3");
    c.Op("getlocal_3").Op("pushbyte", {90}).Op("setproperty", {m.Q("fieldOfView")});
    c.Op("getlocal_3").Op("findpropstrict", {point}).Op("pushbyte", {0}).Op("pushbyte", {0})
        .Op("constructprop", {point, 2}).Op("setproperty", {m.Q("projectionCenter")});
    c.Op("getlocal_2").Op("getproperty", {m.Q("transform")}).Op("getlocal_3").Op("setproperty", {m.Q("perspectiveProjection")});
    // A 20-pixel square at (40, 40) of the container, pushed back by the focal length.
    m.NewSprite(c, 1, "square", 0xFF0000, -10, -10, 20, 20, 2);
    for (const char* p : {"x", "y", "z"}) c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q(p)});
  });
  const gdi::Bitmap shown = As3FirstPicture(bytes);
  // Seen from (0, 0) of the container at focal length 50: halfway to it, half the size.
  const auto seen = [](double x) { return 20 + Seen({x, x, 50}, 0, 0, 50).first; };
  const auto row = RedSpan(shown, static_cast<int>(seen(50)), true);
  ASSERT_TRUE(row);
  EXPECT_NEAR(row->first, seen(40), 1.0);
  EXPECT_NEAR(row->second + 1, seen(60), 1.0);
}

TEST(As3ThirdDimension, WhatPassesBehindTheEyeIsCutOff) {
  // Wholly behind the eye: nothing.
  const gdi::Bitmap behind = Square([](As3Movie& m, AbcCode& c) { Set(m, c, 1, "z", -200); });
  for (int y = 0; y < 100; y += 5) EXPECT_FALSE(RedSpan(behind, y, true)) << y;
  // A long strip turned about x reaches from behind the eye to far away:
  // its far part shows, drawn toward the centre, with nothing past the eye.
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "strip", 0xFF0000, -10, -400, 20, 800);
    for (const char* p : {"x", "y"}) c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q(p)});
    Set(m, c, 1, "rotationX", 80);
  });
  const gdi::Bitmap strip = As3FirstPicture(bytes);
  // Local y > 0 goes away, below the centre; y < -kFocal / sin(80) is behind the eye.
  const P3 end = TurnX({0, 400, 0}, 80);
  const auto farEnd = Seen({50 + end.x, 50 + end.y, end.z});
  const auto column = RedSpan(strip, 50, false);
  ASSERT_TRUE(column);
  EXPECT_NEAR(column->second + 1, farEnd.second, 1.5);
  // The near part fans out toward the top edge and leaves the picture.
  EXPECT_EQ(column->first, 0);
  const auto top = RedSpan(strip, 0, true);
  ASSERT_TRUE(top);
  EXPECT_GT(top->second - top->first, 20);
}

TEST(As3ThirdDimension, ATurnedSquaresSlantedEdgesAreSmoothAndItsInsideSolid) {
  const gdi::Bitmap shown = Square([](As3Movie& m, AbcCode& c) { Set(m, c, 1, "rotationY", 60); });
  int partial = 0;
  // Along the top edge, which slants under the perspective.
  for (int x = 40; x < 60; ++x) {
    for (int y = 20; y < 40; ++y) {
      const gdi::Color px = shown.GetPixel(x, y);
      if (px.r > 240 && px.g > 20 && px.g < 235) ++partial;
    }
  }
  EXPECT_GT(partial, 5) << "the edges are blended with the background";
  for (int x = 46; x < 56; ++x)
    for (int y = 40; y < 60; ++y) EXPECT_EQ(shown.GetPixel(x, y), (gdi::Color{255, 0, 0})) << x << "," << y;
}

// Motion tweens exported as ActionScript move their objects by giving
// transform.matrix3D each frame: the object is seen in perspective, as with
// the same turn and depth given one by one, never squashed flat (its flat
// part alone would put a 70 degree turn into a band a third of its height).
TEST(As3ThirdDimension, AMatrix3DGivenThroughTheTransformIsSeenInPerspective) {
  As3Movie d;
  const auto m3 = d.a.PackageName("flash.geom", "Matrix3D"), v3 = d.a.PackageName("flash.geom", "Vector3D");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "square", 0xFF0000, -20, -20, 40, 40);
    c.Op("findpropstrict", {m3}).Op("constructprop", {m3, 0}).Op("setlocal_2");
    c.Op("getlocal_2").Op("pushbyte", {70}).Op("getlex", {v3}).Op("getproperty", {m.Q("X_AXIS")})
        .Op("callpropvoid", {m.Q("appendRotation"), 2});
    c.Op("getlocal_2").Op("pushbyte", {50}).Op("pushbyte", {50}).Op("pushbyte", {-20})
        .Op("callpropvoid", {m.Q("appendTranslation"), 3});
    c.Op("getlocal_1").Op("getproperty", {m.Q("transform")}).Op("getlocal_2").Op("setproperty", {m.Q("matrix3D")});
  });
  const gdi::Bitmap shown = As3FirstPicture(bytes);
  const auto corner = [](double u, double v) {
    const P3 p = TurnX({u, v, 0}, 70);
    return Seen({p.x + 50, p.y + 50, p.z - 20});
  };
  const auto column = RedSpan(shown, 50, false);
  ASSERT_TRUE(column);
  EXPECT_NEAR(column->first, corner(0, -20).second, 1.5);
  EXPECT_NEAR(column->second + 1, corner(0, 20).second, 1.5);
  // The near (upper) edge is wider than the far one, each where the eye sees it.
  for (double v : {-15.0, 15.0}) {
    const auto row = RedSpan(shown, static_cast<int>(corner(0, v).second), true);
    ASSERT_TRUE(row) << v;
    EXPECT_NEAR(row->first, corner(-20, v).first, 1.5) << v;
    EXPECT_NEAR(row->second + 1, corner(20, v).first, 1.5) << v;
  }
}

// local3DToGlobal and globalToLocal3D go through the same eye; getRelativeMatrix3D
// gives the object's place in another's space without it.
TEST(As3ThirdDimension, PointsTravelBetweenAnObjectsSpaceAndTheStage) {
  As3Movie d;
  const auto v3 = d.a.PackageName("flash.geom", "Vector3D"), point = d.a.PackageName("flash.geom", "Point");
  const auto math = d.Q("Math");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "square", 0xFF0000, -20, -20, 40, 40);
    for (const char* p : {"x", "y"}) c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q(p)});
    Set(m, c, 1, "rotationY", 50);
    Set(m, c, 1, "z", 30);
    // Rounded to thousandths: trace(Math.round(<value> * 1000)).
    const auto traced = [&](const std::function<void()>& value) {
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlex", {math});
      value();
      c.Op("pushshort", {1000}).Op("multiply").Op("callproperty", {m.Q("round"), 1}).Op("callpropvoid", {m.Q("trace"), 1});
    };
    c.Op("getlocal_1").Op("findpropstrict", {v3}).Op("pushbyte", {20}).Op("pushbyte", {-20}).Op("pushbyte", {10})
        .Op("constructprop", {v3, 3}).Op("callproperty", {m.Q("local3DToGlobal"), 1}).Op("setlocal_2");
    traced([&] { c.Op("getlocal_2").Op("getproperty", {m.Q("x")}); });
    traced([&] { c.Op("getlocal_2").Op("getproperty", {m.Q("y")}); });
    // And back onto the plane from where (10, -5) is seen.
    c.Op("getlocal_1").Op("findpropstrict", {v3}).Op("pushbyte", {10}).Op("pushbyte", {-5}).Op("pushbyte", {0})
        .Op("constructprop", {v3, 3}).Op("callproperty", {m.Q("local3DToGlobal"), 1}).Op("setlocal_2");
    c.Op("getlocal_1").Op("findpropstrict", {point}).Op("getlocal_2").Op("getproperty", {m.Q("x")})
        .Op("getlocal_2").Op("getproperty", {m.Q("y")}).Op("constructprop", {point, 2})
        .Op("callproperty", {m.Q("globalToLocal3D"), 1}).Op("setlocal_3");
    traced([&] { c.Op("getlocal_3").Op("getproperty", {m.Q("x")}); });
    traced([&] { c.Op("getlocal_3").Op("getproperty", {m.Q("y")}); });
    // Its place relative to the main timeline: z and the turned x axis.
    c.Op("getlocal_1").Op("getproperty", {m.Q("transform")}).Op("getlocal_0")
        .Op("callproperty", {m.Q("getRelativeMatrix3D"), 1}).Op("getproperty", {m.Q("rawData")}).Op("setlocal_3");
    for (const char* k : {"0", "2", "12", "14"}) traced([&] { c.Op("getlocal_3").Op("getproperty", {m.Q(k)}); });
  });
  P3 p = TurnY({20, -20, 10}, 50);
  const auto seen = Seen({p.x + 50, p.y + 50, p.z + 30});
  const auto thousandths = [](double v) { return std::to_string(std::lround(v * 1000)); };
  const double a = 50 * kPi / 180;
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            thousandths(seen.first) + "|" + thousandths(seen.second) + "|10000|-5000|" + thousandths(std::cos(a)) + "|" +
                thousandths(-std::sin(a)) + "|50000|30000|");
}

// The pointer finds an object where it is seen, not where its flat matrix
// would put it.
TEST(As3ThirdDimension, ThePointerHitsAnObjectWhereItIsSeen) {
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "localX"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "square", 0xFF0000, -20, -20, 40, 40);
    for (const char* p : {"x", "y"}) c.Op("getlocal_1").Op("pushbyte", {50}).Op("setproperty", {m.Q(p)});
    Set(m, c, 1, "rotationY", 70);
    m.Listen(c, 1, "mouseDown", heard);
  });
  // Seen from 44 to 58 along the middle row; flat it would span 30 to 70.
  const std::string traced = As3Traced(bytes, [](FlashPlayer& p) {
    p.Paint(*std::make_unique<gdi::Bitmap>());
    for (int x : {35, 65, 56}) {
      p.MouseDown(x, 50);
      p.MouseUp(x, 50);
    }
  });
  const double a = 70 * kPi / 180;
  ASSERT_EQ(traced.rfind("mouseDown ", 0), 0u) << traced;
  EXPECT_EQ(traced.find('|'), traced.size() - 1) << "one hit only: " << traced;
  // The pointer stands at the pixel's centre, 56.5: the plane's u seen there
  // solves 50 + u cos(a) t = 56.5 with t = f / (f - u sin(a)).
  const double local = 6.5 * kFocal / (kFocal * std::cos(a) + 6.5 * std::sin(a));
  EXPECT_NEAR(std::stod(traced.substr(10)), local, 0.05);
}

}  // namespace
}  // namespace quarvel::player
