// Shape records into fill contours: which edges bound which fill.
#include "player/library/shape_parser.h"

#include <gtest/gtest.h>

#include <vector>

#include "player/swf/reader.h"
#include "support/shape_builder.h"

namespace quarvel::player {
namespace {

using testing::ShapeBuilder;

ShapeGeometry Parse(const ShapeBuilder& s, int version = 1) {
  const auto bytes = s.Encode(version);
  swf::Reader r(bytes);
  return ReadShapeWithStyles(r, version);
}

// Every chained run of a fill's edges ends where it began.
bool AllClosed(const std::vector<Edge>& path) {
  std::size_t start = 0;
  for (std::size_t k = 0; k < path.size(); ++k) {
    const bool last = k + 1 == path.size() || path[k].x1 != path[k + 1].x0 || path[k].y1 != path[k + 1].y0;
    if (!last) continue;
    if (path[k].x1 != path[start].x0 || path[k].y1 != path[start].y0) return false;
    start = k + 1;
  }
  return true;
}

TEST(ShapeFills, AnEdgeWithTheSameFillOnBothSidesBoundsNothing) {
  // A red square with a crack across it drawn with red on both sides, as
  // authoring tools leave where two strokes of one colour met; and a grey
  // square whose fill0 is set without touching fill1, so that a later edge
  // has grey on both sides.
  ShapeBuilder s;
  const auto red = s.AddFill({.color = {255, 0, 0, 255}});
  const auto grey = s.AddFill({.color = {128, 128, 128, 255}});
  s.Rectangle(0, 0, 1000, 1000, red);
  s.SetFill0(red).SetFill1(red).MoveTo(0, 0).LineTo(500, 500).LineTo(1000, 200);
  s.SetFill0(0).SetFill1(grey).MoveTo(2000, 0).LineTo(3000, 0).LineTo(3000, 1000);
  s.SetFill0(grey).LineTo(2500, 500);  // grey | grey
  s.SetFill0(0).MoveTo(3000, 1000).LineTo(2000, 1000).LineTo(2000, 0);
  const auto g = Parse(s);
  ASSERT_EQ(g.layers.size(), 1u);
  const auto& paths = g.layers[0].fillPaths;
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0].size(), 4u);  // the square's sides only
  EXPECT_TRUE(AllClosed(paths[0]));
  EXPECT_EQ(paths[1].size(), 4u);
  EXPECT_TRUE(AllClosed(paths[1]));
}

// Gradient records: the spread and interpolation bits, stops as stored (in
// their order, none at all allowed), the reserved spread 3 read as pad and
// the focal point held to the circle.
TEST(ShapeFills, GradientRecordsKeepTheirModesAndStops) {
  using testing::FillStyle;
  ShapeBuilder s;
  FillStyle reflect = FillStyle::Linear({{200, {1, 2, 3, 255}}, {100, {4, 5, 6, 128}}, {100, {7, 8, 9, 255}}});
  reflect.spreadMode = 1;
  reflect.interpolationMode = 1;
  FillStyle reserved = FillStyle::Radial({{0, {255, 0, 0, 255}}});
  reserved.spreadMode = 3;
  FillStyle empty = FillStyle::Radial({});
  empty.spreadMode = 2;
  const auto a = s.AddFill(reflect), b = s.AddFill(reserved), c = s.AddFill(empty);
  const auto far = s.AddFill(FillStyle::Focal({{0, {0, 0, 0, 255}}, {255, {0, 0, 255, 255}}}, 1.75));
  const auto near = s.AddFill(FillStyle::Focal({{0, {0, 0, 0, 255}}}, -3.5));
  for (auto f : {a, b, c, far, near}) s.Rectangle(0, 0, 100, 100, f);
  const auto g = Parse(s, 4);
  ASSERT_EQ(g.layers.size(), 1u);
  const auto& fills = g.layers[0].fills;
  ASSERT_EQ(fills.size(), 5u);
  EXPECT_EQ(fills[0].kind, player::FillStyle::Kind::kLinear);
  EXPECT_EQ(fills[0].gradient.spread, 1);
  EXPECT_EQ(fills[0].gradient.interpolation, 1);
  ASSERT_EQ(fills[0].gradient.stops.size(), 3u);
  EXPECT_EQ(fills[0].gradient.stops[0].ratio, 200);
  EXPECT_EQ(fills[0].gradient.stops[1].ratio, 100);
  EXPECT_EQ(fills[0].gradient.stops[1].color.a, 128);
  EXPECT_EQ(fills[0].gradient.stops[2].color.r, 7);
  EXPECT_EQ(fills[1].gradient.spread, 0);
  EXPECT_EQ(fills[2].gradient.spread, 2);
  EXPECT_TRUE(fills[2].gradient.stops.empty());
  EXPECT_EQ(fills[3].kind, player::FillStyle::Kind::kFocal);
  EXPECT_DOUBLE_EQ(fills[3].gradient.focal, 1.0);
  EXPECT_DOUBLE_EQ(fills[4].gradient.focal, -1.0);
}

}  // namespace
}  // namespace quarvel::player
