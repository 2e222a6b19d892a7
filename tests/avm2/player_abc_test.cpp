// The player keeps the ActionScript 3 blocks of a movie, names a damaged
// one in its log of skipped features, and plays the movie on either way.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "player/library/movie_library.h"
#include "support/abc_builder.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

using testing::AbcBuilder;
using testing::AbcCode;

std::vector<std::uint8_t> ScriptBlock(std::string_view traceText) {
  AbcBuilder a;
  const auto trace = a.PackageName("", "trace");
  const auto text = a.String(traceText);
  const auto init = a.Method({});
  AbcCode code;
  code.Op("getlocal_0").Op("pushscope").Op("findpropstrict", {trace}).Op("pushstring", {text})
      .Op("callpropvoid", {trace, 1}).Op("returnvoid");
  a.Body({.method = init, .maxStack = 2, .localCount = 1, .maxScopeDepth = 1}, code);
  a.Script({.init = init});
  return a.Bytes();
}

// Two frames on white, a red square on both; the first frame has a good
// block and one cut short, the second a block in the plain tag.
std::vector<std::uint8_t> Movie() {
  testing::SwfBuilder b(10, {0, 2000, 0, 2000}, 10.0);
  b.FileAttributes(0x08).SetBackgroundColor({255, 255, 255, 255});
  testing::AddDoAbc(b, ScriptBlock("one"), "frame1");
  auto broken = ScriptBlock("two");
  broken.resize(broken.size() - 5);
  testing::AddDoAbc(b, broken, "broken");
  testing::ShapeBuilder s;
  s.Rectangle(0, 0, 1000, 1000, s.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  testing::AddPlainDoAbc(b, ScriptBlock("three"));
  // Code inside a sprite is not the movie's: not kept.
  testing::Timeline sprite;
  testing::AddDoAbc(sprite, ScriptBlock("four"), "in sprite");
  sprite.ShowFrame();
  b.DefineSprite(2, sprite).ShowFrame();
  return b.Build();
}

TEST(PlayerAbc, KeepsGoodBlocksAndNamesDamagedOnes) {
  const auto bytes = Movie();
  const auto lib = LoadLibrary(bytes);
  ASSERT_EQ(lib->abcBlocks.size(), 2u);
  EXPECT_EQ(lib->abcBlocks[0].name, "frame1");
  EXPECT_EQ(lib->abcBlocks[0].flags, avm2::kDoAbcLazyInitialize);
  EXPECT_EQ(lib->abcBlocks[0].frame, 0);
  EXPECT_EQ(lib->abcBlocks[1].name, "");
  EXPECT_EQ(lib->abcBlocks[1].frame, 1);
  const auto& f = *lib->abcBlocks[1].file;
  ASSERT_EQ(f.scripts.size(), 1u);
  EXPECT_EQ(f.String(f.pool.multinames[1].name), "trace");

  EXPECT_FALSE(lib->skipped.count("ActionScript 3 (not run yet)"));
  const auto damaged = std::find_if(lib->skipped.begin(), lib->skipped.end(), [](const std::string& s) {
    return s.starts_with("damaged ActionScript 3 block \"broken\": ");
  });
  ASSERT_NE(damaged, lib->skipped.end());
  EXPECT_NE(damaged->find(" at byte "), std::string::npos) << *damaged;
}

TEST(PlayerAbc, MovieWithADamagedBlockPlaysOn) {
  FlashPlayer player;
  player.SetSize(100, 100);
  const auto bytes = Movie();
  ASSERT_TRUE(player.LoadMovieBytes(bytes)) << player.LoadError();
  EXPECT_EQ(player.TotalFrames(), 2);
  gdi::Bitmap bmp;
  player.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(20, 20), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(bmp.GetPixel(80, 80), (gdi::Color{255, 255, 255}));
  player.Play();
  player.AdvanceTo(player.Now() + 100);
  EXPECT_EQ(player.CurrentFrame(), 1);
  const auto skipped = player.SkippedFeatures();
  EXPECT_EQ(std::find(skipped.begin(), skipped.end(), "ActionScript 3 (not run yet)"), skipped.end());
}

}  // namespace
}  // namespace quarvel::player
