// The display tree flattened for the renderer: the list keeps the tree's
// shape, leaves out what cannot show, and compares equal only when the
// pictures would be.
#include "player/render/drawn_items.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "player/display/stage.h"

namespace quarvel::player {
namespace {

const ShapeDef kShape;
const SpriteDef kSprite;

Instance& Place(TimelineState& t, int depth, const Character* def, std::uint64_t serial = 0) {
  auto it = t.list.find(depth);
  if (it == t.list.end()) it = t.list.emplace(std::piecewise_construct, std::forward_as_tuple(depth), std::forward_as_tuple());
  Instance& inst = it->second;
  inst.def = def;
  inst.serial = serial;
  if (def && def->kind == Character::Kind::kSprite) inst.sprite = std::make_unique<TimelineState>();
  return inst;
}

std::vector<DrawnItem> List(const TimelineState& root) {
  std::vector<DrawnItem> out;
  ListDrawnItems(root, out);
  return out;
}

std::vector<int> Levels(const std::vector<DrawnItem>& items) {
  std::vector<int> out;
  for (const auto& i : items) out.push_back(i.level);
  return out;
}

TEST(DrawnItems, TheListKeepsTheTreeInDrawingOrder) {
  TimelineState root;
  root.drawing = std::make_shared<Drawing>();
  root.drawing->hasBounds = true;
  Place(root, 1, &kShape);
  Instance& outer = Place(root, 2, &kSprite);
  outer.sprite->drawing = std::make_shared<Drawing>();
  Instance& inner = Place(*outer.sprite, 4, &kSprite);
  Place(*inner.sprite, 1, &kShape);
  Place(*outer.sprite, 7, &kShape);
  Place(root, 3, &kShape);
  const auto items = List(root);
  ASSERT_EQ(Levels(items), (std::vector<int>{-1, 0, 0, 1, 2, 1, 0}));
  EXPECT_EQ((std::vector<int>{items[1].depth, items[2].depth, items[3].depth, items[5].depth, items[6].depth}),
            (std::vector<int>{1, 2, 4, 7, 3}));
  EXPECT_EQ(items[0].descendants, 6u);
  EXPECT_EQ(items[2].descendants, 3u);
  EXPECT_EQ(items[3].descendants, 1u);
  EXPECT_EQ(items[6].descendants, 0u);
  EXPECT_EQ(items[4].parent, 3);
  EXPECT_EQ(items[5].parent, 2);
  EXPECT_EQ(items[6].parent, 0);
  // Drawings travel with their timeline, the main one's on the first item.
  EXPECT_EQ(items[0].drawing, &root.drawing->geometry);
  EXPECT_TRUE(items[0].drawingBounds);
  EXPECT_EQ(items[2].drawing, &outer.sprite->drawing->geometry);
  EXPECT_EQ(items[2].drawingVersion, outer.sprite->drawing->version);
  EXPECT_TRUE(items[2].ownList);
  EXPECT_FALSE(items[1].ownList);
}

TEST(DrawnItems, HiddenClipsListTheirChildrenOnlyWhereAScriptMaskLies) {
  TimelineState root;
  Instance& hidden = Place(root, 1, &kSprite);
  hidden.visible = false;
  Place(*hidden.sprite, 1, &kShape);
  Instance& holder = Place(root, 2, &kSprite);
  holder.visible = false;
  Instance& inner = Place(*holder.sprite, 1, &kSprite);
  Instance& mask = Place(*inner.sprite, 1, &kShape, 9);
  mask.scriptMask = true;
  Place(root, 3, &kShape).maskSerial = 9;
  auto items = List(root);
  EXPECT_EQ(Levels(items), (std::vector<int>{-1, 0, 0, 1, 2, 0}));
  EXPECT_TRUE(items[4].maskTarget);
  EXPECT_FALSE(items[2].maskTarget);

  // A mask another clip gave up is no script mask any more, but a clip that
  // still names it is masked by it: it stays listed.
  mask.scriptMask = false;
  items = List(root);
  EXPECT_EQ(Levels(items), (std::vector<int>{-1, 0, 0, 1, 2, 0}));
  EXPECT_TRUE(items[4].maskTarget);

  root.list.erase(3);
  EXPECT_EQ(Levels(List(root)), (std::vector<int>{-1, 0, 0}));
}

TEST(DrawnItems, ListsDifferWhenThePicturesWould) {
  TimelineState root;
  Place(root, 1, &kShape, 1);
  Instance& field = Place(root, 2, &kShape, 2);
  field.text = std::make_shared<const std::string>("abc");
  Place(root, 3, &kShape, 3);
  const auto before = List(root);
  // Made again with the same look: a new serial alone changes nothing...
  root.list.find(1)->second.serial = 11;
  field.text = std::make_shared<const std::string>("abc");
  EXPECT_EQ(List(root), before);
  field.text = std::make_shared<const std::string>("abd");
  EXPECT_NE(List(root), before);
  field.text = std::make_shared<const std::string>("abc");

  // ...but the serial of a script mask is what its maskee finds it by.
  root.list.find(3)->second.maskSerial = 1;
  root.list.find(1)->second.serial = 1;
  const auto masked = List(root);
  root.list.find(1)->second.serial = 12;
  EXPECT_NE(List(root), masked);
}

TEST(DrawnItems, MorphShapesAreKeptWhileTheRatioStays) {
  TimelineState root;
  const MorphDef morph;
  Instance& inst = Place(root, 1, &morph);
  inst.ratio = 100;
  const auto first = List(root);
  ASSERT_TRUE(first[1].morph);
  EXPECT_EQ(List(root)[1].morph, first[1].morph);
  inst.ratio = 200;
  EXPECT_NE(List(root)[1].morph, first[1].morph);
}

// Objects in three dimensions: the first below a projection carries the map
// into its parent's space; one inside it is drawn by it (nested3D counts
// back to it); flat objects carry none; a container's own projection starts
// again below it.
TEST(DrawnItems, ThirdDimensionProjectionsAndWhoDrawsThem) {
  TimelineState root;
  root.perspective = rules::Perspective{2000, 1000, 1000};
  Instance& flat = Place(root, 1, &kShape);
  flat.matrix.translateX = 400;
  Instance& card = Place(root, 2, &kSprite);
  card.matrix.translateX = 1000;
  card.depth3D = Depth3D{500, 0, 30, 1};
  Instance& face = Place(*card.sprite, 1, &kSprite);
  face.depth3D = Depth3D{0, 40, 0, 1};
  Place(*face.sprite, 1, &kShape);
  Instance& own = Place(*card.sprite, 2, &kSprite);
  own.perspective = rules::Perspective{800, 0, 0};
  Instance& inner = Place(*own.sprite, 1, &kShape);
  inner.depth3D = Depth3D{800, 0, 0, 1};
  const auto items = List(root);
  ASSERT_EQ(Levels(items), (std::vector<int>{-1, 0, 0, 1, 2, 1, 2}));
  EXPECT_FALSE(items[1].projection) << "flat objects pay nothing";
  ASSERT_TRUE(items[2].projection);
  EXPECT_EQ(items[2].nested3D, 0u);
  ASSERT_TRUE(items[3].projection);
  EXPECT_EQ(items[3].nested3D, 1u);
  EXPECT_FALSE(items[4].projection) << "flat in its parent's plane";
  EXPECT_FALSE(items[5].projection);
  // Below its own projection it starts again; only pushed back, it is seen
  // through an affine map and drawn flat.
  EXPECT_FALSE(items[6].projection);
  EXPECT_EQ(items[6].nested3D, 0u);
  // The card's centre: pushed back 500 twips by an eye 2000 in front of (1000, 1000).
  double x = 0, y = 0;
  ASSERT_TRUE(rules::ApplyH3(*items[2].projection, 0, 0, x, y));
  EXPECT_NEAR(x, 1000, 1e-9);
  EXPECT_NEAR(y, 1000 + (0 - 1000) * 2000.0 / 2500, 1e-9);
  // The inner shape, pushed back by its owner's focal length: half the size toward (0, 0).
  EXPECT_NEAR(items[6].matrix.scaleX, 0.5, 1e-9);
  EXPECT_NEAR(items[6].matrix.scaleY, 0.5, 1e-9);
  EXPECT_EQ(items[6].matrix.translateX, 0);
  EXPECT_EQ(items[6].matrix.rotateSkew0, 0);
  // Moving the card changes the list.
  auto before = items;
  card.depth3D->rotationY = 31;
  EXPECT_FALSE(List(root) == before);
}

// A 2D matrix keeps its skew in three dimensions, and rotationX and
// rotationY come between its scales and its turn.
TEST(DrawnItems, AnObjectsMatrixInThreeDimensions) {
  Matrix skewed;
  skewed.scaleX = 2, skewed.rotateSkew0 = 0.5, skewed.rotateSkew1 = -0.7, skewed.scaleY = 1.5;
  skewed.translateX = 100, skewed.translateY = -40;
  const rules::M4 flat = Matrix3DOf(skewed, Depth3D{});
  for (auto [u, v] : {std::pair{3.0, 4.0}, {-2.0, 7.0}}) {
    const auto p = rules::Apply4(flat, u, v, 0, 1);
    EXPECT_NEAR(p[0], 2 * u - 0.7 * v + 100, 1e-9);
    EXPECT_NEAR(p[1], 0.5 * u + 1.5 * v - 40, 1e-9);
    EXPECT_NEAR(p[2], 0, 1e-9);
  }
  // Turned 90 degrees about y after a scale of 2: x goes toward the viewer.
  Matrix scaled;
  scaled.scaleX = 2, scaled.scaleY = 2;
  const auto p = rules::Apply4(Matrix3DOf(scaled, Depth3D{50, 0, 90, 1}), 10, 0, 0, 1);
  EXPECT_NEAR(p[0], 0, 1e-9);
  EXPECT_NEAR(p[2], 50 - 20, 1e-9);
}

}  // namespace
}  // namespace quarvel::player
