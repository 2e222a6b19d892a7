// The display tree flattened for the renderer: the list keeps the tree's
// shape, leaves out what cannot show, and compares equal only when the
// pictures would be.
#include "player/render/drawn_items.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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

}  // namespace
}  // namespace quarvel::player
