// Buttons under the pointer, and the sound events of the timeline that the
// player's sound output relies on (who stops what, and when).
#include <gtest/gtest.h>

#include <algorithm>

#include "player/flash_player.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

using gdi::Color;
using testing::Actions;
using testing::ButtonCondAction;
using testing::ButtonRecord;
using testing::Movie100;
using testing::RectShape;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;
using testing::Translation;

constexpr swf::Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255};
constexpr Color cRed{255, 0, 0}, cGreen{0, 255, 0}, cBlue{0, 0, 255}, cWhite{255, 255, 255};

class Recorder : public SoundEventListener {
 public:
  std::vector<std::string> events;
  void OnStartSound(int id, std::string_view name, std::span<const std::uint8_t>, std::int64_t t) override {
    events.push_back("start " + std::to_string(id) + (name.empty() ? "" : " " + std::string(name)) + " @" +
                     std::to_string(t));
  }
  void OnStreamHead(int tl, int, std::span<const std::uint8_t>, std::int64_t t) override {
    events.push_back("head " + std::to_string(tl) + " @" + std::to_string(t));
  }
  void OnStreamBlock(int tl, int frame, std::span<const std::uint8_t>, std::int64_t t) override {
    events.push_back("block " + std::to_string(tl) + ":" + std::to_string(frame) + " @" + std::to_string(t));
  }
  void OnSeek(int tl, int frame, std::int64_t t) override {
    events.push_back("seek " + std::to_string(tl) + ":" + std::to_string(frame) + " @" + std::to_string(t));
  }
  void OnStop(std::int64_t t) override { events.push_back("stop @" + std::to_string(t)); }
  void OnStopAllSounds(std::int64_t t) override { events.push_back("stop all @" + std::to_string(t)); }
  void OnTimelineStop(int tl, std::int64_t t) override {
    events.push_back("end " + std::to_string(tl) + " @" + std::to_string(t));
  }
  void OnUnload(std::int64_t t) override { events.push_back("unload @" + std::to_string(t)); }
  // Events with this prefix, in order.
  std::vector<std::string> Only(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const auto& e : events) {
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    }
    return out;
  }
};

// The timeline number of the first clip that announced a stream.
std::string SpriteTimeline(const Recorder& rec) {
  for (const auto& e : rec.Only("head ")) {
    const std::string id = e.substr(5, e.find(' ', 5) - 5);
    if (id != "0") return id;
  }
  ADD_FAILURE() << "no clip stream";
  return "?";
}

struct Player {
  Recorder rec;
  FlashPlayer player;
  explicit Player(const SwfBuilder& b) {
    player.SetSize(100, 100);
    player.SetQuality("Low");
    player.SetSoundListener(&rec);
    EXPECT_TRUE(player.LoadMovieBytes(b.Build())) << player.LoadError();
  }
  Color At(int x, int y) {
    gdi::Bitmap bmp;
    player.Paint(bmp);
    return bmp.GetPixel(x, y);
  }
};

// A 20 x 20 pixel button at (40, 40): red up, green over, blue down; its hit
// area is only the left half (40..49).
void AddButton(SwfBuilder& b, std::uint16_t id, const std::vector<ButtonCondAction>& actions, bool menu = false) {
  b.DefineShape(101, RectShape(0, 0, 400, 400, kRed));
  b.DefineShape(102, RectShape(0, 0, 400, 400, kGreen));
  b.DefineShape(103, RectShape(0, 0, 400, 400, kBlue));
  b.DefineShape(104, RectShape(0, 0, 200, 400, kRed));
  b.DefineButton2(id,
                  {{.up = true, .characterId = 101, .depth = 1},
                   {.over = true, .characterId = 102, .depth = 1},
                   {.down = true, .characterId = 103, .depth = 1},
                   {.hitTest = true, .characterId = 104, .depth = 1}},
                  actions, menu);
}

TEST(FlashPlayerButtons, LookFollowsThePointerOverTheHitArea) {
  auto b = Movie100();
  AddButton(b, 10, {});
  b.PlaceObject2({.depth = 1, .characterId = 10, .matrix = Translation(800, 800)}).ShowFrame();
  Player m(b);
  EXPECT_EQ(m.At(45, 45), cRed);
  m.player.MouseMove(55, 45);  // drawn there, but outside the hit area
  EXPECT_EQ(m.At(45, 45), cRed);
  EXPECT_FALSE(m.player.OverButton());
  m.player.MouseMove(45, 45);
  EXPECT_EQ(m.At(45, 45), cGreen);
  EXPECT_TRUE(m.player.OverButton());
  m.player.MouseDown(45, 45);
  EXPECT_EQ(m.At(45, 45), cBlue);
  m.player.MouseUp(45, 45);
  EXPECT_EQ(m.At(45, 45), cGreen);
  m.player.MouseLeave();
  EXPECT_EQ(m.At(45, 45), cRed);
  EXPECT_FALSE(m.player.OverButton());
}

TEST(FlashPlayerButtons, ReleaseRunsTheActionsOnTheButtonsTimeline) {
  // Frame 0 stops; the button's release action plays on. Frame 1 shows blue.
  auto b = Movie100();
  AddButton(b, 10, {{.conditions = 0x0800, .actions = Actions().Play()}});
  b.DefineShape(2, RectShape(0, 0, 2000, 400, kBlue));
  b.DoAction(Actions().Stop());
  b.PlaceObject2({.depth = 1, .characterId = 10, .matrix = Translation(800, 800)}).ShowFrame();
  b.PlaceObject2({.depth = 2, .characterId = 2}).ShowFrame();
  Player m(b);
  m.player.AdvanceTo(500);
  EXPECT_EQ(m.player.CurrentFrame(), 0);
  m.player.MouseDown(45, 45);  // press: no action yet
  m.player.AdvanceTo(600);
  EXPECT_EQ(m.player.CurrentFrame(), 0);
  m.player.MouseUp(45, 45);
  m.player.AdvanceTo(700);
  EXPECT_EQ(m.player.CurrentFrame(), 1);
  EXPECT_EQ(m.At(5, 5), cBlue);
}

TEST(FlashPlayerButtons, ReleaseOutsideIsNoClick) {
  auto b = Movie100();
  AddButton(b, 10, {{.conditions = 0x0800, .actions = Actions().GotoFrame(1)},
                    {.conditions = 0x4000, .actions = Actions().GotoFrame(2)}});  // OutDownToIdle
  b.DoAction(Actions().Stop());
  b.PlaceObject2({.depth = 1, .characterId = 10, .matrix = Translation(800, 800)}).ShowFrame().ShowFrame().ShowFrame();
  Player m(b);
  m.player.MouseDown(45, 45);
  m.player.MouseMove(90, 90);
  EXPECT_EQ(m.At(45, 45), cGreen);  // pressed and dragged off: the over look
  m.player.MouseUp(90, 90);
  EXPECT_EQ(m.player.CurrentFrame(), 2);
  EXPECT_EQ(m.At(45, 45), cRed);
}

TEST(FlashPlayerButtons, DefineButtonActionsAndNestedTransforms) {
  // A first-version button inside a sprite moved by (40, 40) pixels; its
  // action list runs on release and targets the main timeline.
  auto b = Movie100();
  b.DefineShape(1, RectShape(0, 0, 200, 200, kRed));
  b.DefineButton(5, {{.up = true, .over = true, .down = true, .hitTest = true, .characterId = 1}},
                 Actions().SetTarget("/").GotoFrame(1).SetTarget(""));
  Timeline inner;
  inner.PlaceObject2({.depth = 1, .characterId = 5}).ShowFrame();
  b.DefineSprite(6, inner);
  b.DoAction(Actions().Stop());
  b.PlaceObject2({.depth = 1, .characterId = 6, .matrix = Translation(800, 800), .name = "holder"}).ShowFrame();
  b.ShowFrame();
  Player m(b);
  m.player.MouseDown(5, 5);
  m.player.MouseUp(5, 5);
  EXPECT_EQ(m.player.CurrentFrame(), 0);
  m.player.MouseDown(44, 44);
  m.player.MouseUp(44, 44);
  EXPECT_EQ(m.player.CurrentFrame(), 1);
}

TEST(FlashPlayerButtons, PlayButtonRestartsAMovieTheHostStopped) {
  auto b = Movie100();
  AddButton(b, 10, {{.conditions = 0x0800, .actions = Actions().Play()}});
  b.PlaceObject2({.depth = 1, .characterId = 10, .matrix = Translation(800, 800)});
  for (int i = 0; i < 5; ++i) b.ShowFrame();
  Player m(b);
  m.player.Stop();
  EXPECT_FALSE(m.player.Playing());
  m.player.MouseDown(45, 45);
  m.player.MouseUp(45, 45);
  EXPECT_TRUE(m.player.Playing());
  m.player.AdvanceTo(m.player.Now() + 200);
  EXPECT_EQ(m.player.CurrentFrame(), 2);
}

TEST(FlashPlayerButtons, ButtonSoundsPlayOnTheirTransitions) {
  auto b = Movie100();
  const std::vector<std::uint8_t> pcm(40, 0);
  testing::SoundFormat f;
  f.format = 3;
  for (std::uint16_t id = 21; id <= 24; ++id) b.DefineSound(id, f, 10, pcm);
  AddButton(b, 10, {});
  b.DefineButtonSound(10, {21, 22, 23, 24});
  b.PlaceObject2({.depth = 1, .characterId = 10, .matrix = Translation(800, 800)}).ShowFrame();
  Player m(b);
  m.player.AdvanceTo(50);
  m.player.MouseMove(45, 45);   // IdleToOverUp
  m.player.MouseDown(45, 45);   // OverUpToOverDown
  m.player.MouseUp(45, 45);     // OverDownToOverUp
  m.player.MouseMove(60, 60);   // OverUpToIdle
  m.player.MouseMove(61, 60);   // nothing
  const std::vector<std::string> expected{"start 22 @50", "start 23 @50", "start 24 @50", "start 21 @50"};
  EXPECT_EQ(m.rec.Only("start"), expected);
}

TEST(FlashPlayerButtons, MenuButtonsTakeADraggedPress) {
  auto b = Movie100();
  AddButton(b, 10, {{.conditions = 0x0800, .actions = Actions().GotoFrame(1)}}, true);
  b.DoAction(Actions().Stop());
  b.PlaceObject2({.depth = 1, .characterId = 10, .matrix = Translation(800, 800)}).ShowFrame().ShowFrame();
  Player m(b);
  m.player.MouseDown(5, 5);
  m.player.MouseMove(45, 45);
  EXPECT_EQ(m.At(45, 45), cBlue);
  m.player.MouseUp(45, 45);
  EXPECT_EQ(m.player.CurrentFrame(), 1);
}

TEST(FlashPlayerButtons, AButtonThatMovesUnderARestingPointerRollsOver) {
  auto b = Movie100();
  AddButton(b, 10, {});
  b.PlaceObject2({.depth = 1, .characterId = 10}).ShowFrame();
  b.PlaceObject2({.depth = 1, .move = true, .matrix = Translation(800, 800)}).ShowFrame();
  b.DoAction(Actions().Stop());
  Player m(b);
  m.player.MouseMove(45, 45);
  EXPECT_FALSE(m.player.OverButton());
  m.player.AdvanceTo(100);
  EXPECT_TRUE(m.player.OverButton());
  EXPECT_EQ(m.At(45, 45), cGreen);
}

TEST(FlashPlayerButtons, DamagedButtonActionsStillShowTheButton) {
  auto b = Movie100();
  b.DefineShape(101, RectShape(0, 0, 400, 400, kRed));
  // ActionOffset points past the end of the tag.
  const std::vector<std::uint8_t> body = {10, 0, 0, 0xFF, 0x00, 0x0F, 101, 0, 1, 0, 0, 0, 0, 0};
  b.Tag(34, body);
  b.PlaceObject2({.depth = 1, .characterId = 10, .matrix = Translation(800, 800)}).ShowFrame();
  Player m(b);
  const auto skipped = m.player.SkippedFeatures();
  EXPECT_NE(std::find(skipped.begin(), skipped.end(), "damaged button actions"), skipped.end());
  EXPECT_EQ(m.At(45, 45), cRed);
  m.player.MouseDown(45, 45);
  m.player.MouseUp(45, 45);
  EXPECT_EQ(m.At(45, 45), cRed);
}

// --- sound events ---

TEST(FlashPlayerSoundEvents, LoopSeeksBeforeTheFirstFrameRunsAgain) {
  auto b = Movie100();
  const std::vector<std::uint8_t> pcm(8, 0);
  testing::SoundFormat f;
  f.format = 0;
  b.DefineSound(7, f, 4, pcm);
  b.SoundStreamHead(f, f, 4).StartSound(7).SoundStreamBlock(pcm).ShowFrame();
  b.SoundStreamBlock(pcm).ShowFrame();
  Recorder rec;
  FlashPlayer p;
  p.SetSoundListener(&rec);
  p.AdvanceTo(1000);
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  p.AdvanceTo(1250);
  p.Stop();
  p.Unload();
  const std::vector<std::string> expected{"head 0 @1000",  "start 7 @1000", "block 0:0 @1000", "block 0:1 @1100",
                                          "seek 0:0 @1200", "head 0 @1200",  "start 7 @1200",   "block 0:0 @1200",
                                          "stop @1250",     "unload @1250"};
  EXPECT_EQ(rec.events, expected);
}

TEST(FlashPlayerSoundEvents, StopActionEndsOnlyItsTimelinesStream) {
  // A sprite with its own stream stops itself in its second frame; then the
  // main timeline stops. Neither is the host's Stop.
  auto b = Movie100();
  const std::vector<std::uint8_t> pcm(8, 0);
  testing::SoundFormat f;
  f.format = 0;
  Timeline sprite;
  sprite.SoundStreamHead(f, f, 4).SoundStreamBlock(pcm).ShowFrame();
  sprite.DoAction(Actions().Stop()).ShowFrame();
  b.DefineSprite(3, sprite);
  b.PlaceObject2({.depth = 1, .characterId = 3}).ShowFrame();
  b.DoAction(Actions().Stop()).ShowFrame();
  Player m(b);
  m.player.AdvanceTo(300);
  const std::string clip = SpriteTimeline(m.rec);
  // Clips run their frames before the main timeline.
  EXPECT_EQ(m.rec.Only("end"), (std::vector<std::string>{"end " + clip + " @100", "end 0 @100"}));
  EXPECT_TRUE(m.rec.Only("stop").empty());
  m.player.Stop();
  EXPECT_EQ(m.rec.Only("stop"), (std::vector<std::string>{"stop @300"}));
}

TEST(FlashPlayerSoundEvents, RemovedSpriteEndsItsStream) {
  auto b = Movie100();
  const std::vector<std::uint8_t> pcm(8, 0);
  testing::SoundFormat f;
  f.format = 0;
  Timeline sprite;
  sprite.SoundStreamHead(f, f, 4).SoundStreamBlock(pcm).ShowFrame().SoundStreamBlock(pcm).ShowFrame();
  b.DefineSprite(3, sprite);
  b.PlaceObject2({.depth = 1, .characterId = 3}).ShowFrame();
  b.RemoveObject2(1).ShowFrame();
  b.DoAction(Actions().Stop()).ShowFrame();
  Player m(b);
  m.player.AdvanceTo(250);
  const std::string clip = SpriteTimeline(m.rec);
  EXPECT_EQ(m.rec.Only("end " + clip + " "), (std::vector<std::string>{"end " + clip + " @100"}));
}

TEST(FlashPlayerSoundEvents, TwoClipsOfOneSpritePlayTwoStreams) {
  auto b = Movie100();
  const std::vector<std::uint8_t> pcm(8, 0);
  testing::SoundFormat f;
  f.format = 0;
  Timeline sprite;
  sprite.SoundStreamHead(f, f, 4).SoundStreamBlock(pcm).ShowFrame().SoundStreamBlock(pcm).ShowFrame();
  b.DefineSprite(3, sprite);
  b.PlaceObject2({.depth = 1, .characterId = 3}).PlaceObject2({.depth = 2, .characterId = 3}).ShowFrame();
  b.RemoveObject2(2).ShowFrame();
  Player m(b);
  m.player.AdvanceTo(100);
  const auto heads = m.rec.Only("head");
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_NE(heads[0], heads[1]);
  // Removing the second copy ends its stream only.
  const std::string second = heads[1].substr(5, heads[1].find(' ', 5) - 5);
  EXPECT_EQ(m.rec.Only("end"), (std::vector<std::string>{"end " + second + " @100"}));
}

TEST(FlashPlayerSoundEvents, GotoActionsSeekTheirTimelineAndStopAllSoundsIsReported) {
  auto b = Movie100();
  b.ShowFrame();
  b.DoAction(Actions().StopSounds().GotoFrame(0)).ShowFrame();
  Player m(b);
  m.player.AdvanceTo(100);
  EXPECT_EQ(m.rec.Only("stop all"), (std::vector<std::string>{"stop all @100"}));
  EXPECT_EQ(m.rec.Only("seek"), (std::vector<std::string>{"seek 0:0 @100"}));
  EXPECT_EQ(m.player.CurrentFrame(), 0);
}

TEST(FlashPlayerSoundEvents, StartSound2FindsItsSoundByExportedName) {
  auto b = Movie100();
  const std::vector<std::uint8_t> pcm(8, 0);
  testing::SoundFormat f;
  f.format = 3;
  b.DefineSound(9, f, 4, pcm);
  b.ExportAssets({{9, "Chime"}});
  b.StartSound2("chime").StartSound2("Missing").ShowFrame();
  Player m(b);
  EXPECT_EQ(m.rec.Only("start"), (std::vector<std::string>{"start 9 chime @0", "start 0 Missing @0"}));
}

}  // namespace
}  // namespace quarvel::player
