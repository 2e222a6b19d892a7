// The display tree: handles, the stage's index of them, and paths.
#include "player/display/stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "player/avm1/avm1.h"
#include "player/flash_player.h"
#include "player/script_machines.h"
#include "player/library/movie_library.h"
#include "support/swf_builder.h"

namespace quarvel::player {
namespace {

using testing::Actions;
using testing::FillStyle;
using testing::ShapeBuilder;
using testing::SwfBuilder;
using testing::Timeline;

constexpr std::uint8_t kCallMethod = 0x52, kGetVar = 0x1C, kGetMember = 0x4E, kSetMember = 0x4F, kPop = 0x17;

SwfBuilder Movie() {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor({255, 255, 255, 255});
  return b;
}

ShapeBuilder Square() {
  ShapeBuilder s;
  s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({255, 0, 0, 255})));
  return s;
}

Actions Var(const std::string& name) { return Actions().PushString(name).Raw(kGetVar); }
Actions Member(const Actions& obj, const std::string& name) { return Actions().Append(obj).PushString(name).Raw(kGetMember); }
Actions SetMember(const Actions& obj, const std::string& name, const Actions& v) {
  return Actions().Append(obj).PushString(name).Append(v).Raw(kSetMember);
}
// obj.method(args...), arguments pushed last first.
Actions Method(const Actions& obj, const std::string& method, const std::vector<Actions>& args) {
  Actions a;
  for (auto it = args.rbegin(); it != args.rend(); ++it) a.Append(*it);
  a.PushInt(static_cast<int>(args.size())).Append(obj).PushString(method).Raw(kCallMethod);
  return a;
}
Actions Assign(const std::string& name, const Actions& value) {
  return Actions().PushString(name).Append(value).SetVariable();
}
Actions NewClip(const std::string& name, int depth) {
  return Method(Var("_root"), "createEmptyMovieClip", {Actions().PushString(name), Actions().PushInt(depth)});
}

struct Played {
  FlashPlayer player;
  explicit Played(const SwfBuilder& b) {
    player.SetSize(100, 100);
    EXPECT_TRUE(player.LoadMovieBytes(b.Build())) << player.LoadError();
  }
  std::string Get(const std::string& v) const { return player.GetVariable(v); }
};

// A stage of its own over a loaded movie.
struct Staged {
  std::unique_ptr<MovieLibrary> lib;
  std::unique_ptr<Stage> stage;
  explicit Staged(const SwfBuilder& b) : lib(LoadLibrary(b.Build())), stage(std::make_unique<Stage>(*lib, PlayerScriptMachines())) {}
};

TEST(StageHandles, ARemovedClipsHandleFindsNothingWhileItsPathFindsTheNewClip) {
  auto b = Movie();
  b.ShowFrame();
  Staged s(b);
  Stage& stage = *s.stage;
  const ClipHandle first = stage.CreateEmptyClip(kRootClip, "a", 1);
  ASSERT_NE(first, kNoClip);
  EXPECT_EQ(stage.Resolve(kRootClip, "/a"), first);
  stage.RemoveClip(first);
  EXPECT_EQ(stage.Find(first), nullptr);
  EXPECT_EQ(stage.TimelineOf(first), nullptr);
  EXPECT_EQ(stage.Resolve(kRootClip, "/a"), kNoClip);

  const ClipHandle second = stage.CreateEmptyClip(kRootClip, "a", 1);
  ASSERT_NE(second, kNoClip);
  EXPECT_NE(second, first);
  EXPECT_EQ(stage.Find(first), nullptr);
  EXPECT_EQ(stage.Resolve(kRootClip, "_root.a"), second);
  EXPECT_EQ(stage.PathOf(second), "/a");
}

TEST(StageHandles, AScriptReferenceToARemovedClipFollowsItsPath) {
  // r = createEmptyMovieClip("a", 1); r.removeMovieClip();
  // gone = String(r); gotX = typeof r._x;
  // createEmptyMovieClip("a", 1)._x = 30; seen = r._x; named = String(r);
  Actions a;
  a.Append(Assign("r", NewClip("a", 1)));
  a.Append(Method(Var("r"), "removeMovieClip", {})).Raw(kPop);
  a.Append(Assign("gone", Actions().Append(Var("r")).Raw(0x4B)));
  a.Append(Assign("gotX", Actions().Append(Member(Var("r"), "_x")).Raw(0x44)));
  a.Append(SetMember(NewClip("a", 1), "_x", Actions().PushInt(30)));
  a.Append(Assign("seen", Member(Var("r"), "_x")));
  a.Append(Assign("named", Actions().Append(Var("r")).Raw(0x4B)));
  auto b = Movie();
  b.DoAction(a.Stop()).ShowFrame();
  Played p(b);
  EXPECT_EQ(p.Get("gone"), "");
  EXPECT_EQ(p.Get("gotX"), "undefined");
  EXPECT_EQ(p.Get("seen"), "30");
  EXPECT_EQ(p.Get("named"), "_level0.a");
}

TEST(StageHandles, TwoClipsOfOneNameStayApart) {
  // p = createEmptyMovieClip("twin", 1); q = createEmptyMovieClip("twin", 2);
  // p._x = 10; q._x = 20; then p is removed: a reference to it finds the
  // other twin by the name they share, q stays itself.
  Actions a;
  a.Append(Assign("p", NewClip("twin", 1)));
  a.Append(Assign("q", NewClip("twin", 2)));
  a.Append(SetMember(Var("p"), "_x", Actions().PushInt(10)));
  a.Append(SetMember(Var("q"), "_x", Actions().PushInt(20)));
  a.Append(Assign("px", Member(Var("p"), "_x")));
  a.Append(Assign("qx", Member(Var("q"), "_x")));
  a.Append(Assign("pd", Method(Var("p"), "getDepth", {})));
  a.Append(Assign("qd", Method(Var("q"), "getDepth", {})));
  a.Append(Assign("same", Actions().Append(Var("p")).Append(Var("q")).Raw(0x66)));
  a.Append(Method(Var("p"), "removeMovieClip", {})).Raw(kPop);
  a.Append(Assign("qAfter", Member(Var("q"), "_x")));
  a.Append(Assign("pAfter", Member(Var("p"), "_x")));
  auto b = Movie();
  b.DoAction(a.Stop()).ShowFrame();
  Played p(b);
  EXPECT_EQ(p.Get("px"), "10");
  EXPECT_EQ(p.Get("qx"), "20");
  EXPECT_EQ(p.Get("pd"), "1");
  EXPECT_EQ(p.Get("qd"), "2");
  // Apart, yet equal to scripts: a reference is its path, and both have one.
  EXPECT_EQ(p.Get("same"), "true");
  EXPECT_EQ(p.Get("qAfter"), "20");
  EXPECT_EQ(p.Get("pAfter"), "20");
}

TEST(StageHandles, TheIndexFollowsEveryChangeOfTheTree) {
  // Frame 1 places sprite 5 as "box"; frame 2 has nothing.
  auto b = Movie();
  b.DefineShape(1, Square());
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "box"}).ShowFrame();
  b.RemoveObject2(1).ShowFrame();
  Staged s(b);
  Stage& stage = *s.stage;
  const ClipHandle box = stage.Resolve(kRootClip, "box");
  ASSERT_NE(box, kNoClip);
  EXPECT_EQ(stage.ParentOf(box), kRootClip);
  EXPECT_EQ(stage.Find(box)->depth, 1);

  // Nested clips know their parent; swapping depths keeps the handle.
  const ClipHandle outer = stage.CreateEmptyClip(kRootClip, "outer", 5);
  const ClipHandle inner = stage.CreateEmptyClip(outer, "inner", 0);
  ASSERT_NE(inner, kNoClip);
  EXPECT_EQ(stage.ParentOf(inner), outer);
  EXPECT_EQ(stage.PathOf(inner), "/outer/inner");
  EXPECT_EQ(stage.Resolve(inner, "_parent"), outer);
  EXPECT_EQ(stage.Resolve(inner, "../../box"), box);
  stage.SwapDepths(outer, 9);
  ASSERT_NE(stage.Find(outer), nullptr);
  EXPECT_EQ(stage.Find(outer)->depth, 9 + 16384);
  EXPECT_EQ(stage.Resolve(kRootClip, "/outer/inner"), inner);

  // A copy is a clip of its own beside the original.
  const ClipHandle copy = stage.Duplicate(outer, "outer", 6);
  ASSERT_NE(copy, kNoClip);
  EXPECT_NE(copy, outer);
  EXPECT_NE(stage.Find(outer), nullptr);

  // Removing a clip removes its children from the index too.
  stage.RemoveClip(outer);
  EXPECT_EQ(stage.Find(outer), nullptr);
  EXPECT_EQ(stage.Find(inner), nullptr);
  EXPECT_EQ(stage.Resolve(kRootClip, "/outer"), copy);

  // The timeline removes its own clip; the script's copy stays through a
  // jump back that rebuilds the timeline's objects.
  stage.Tick();
  EXPECT_EQ(stage.Find(box), nullptr);
  EXPECT_EQ(stage.Resolve(kRootClip, "box"), kNoClip);
  stage.GotoMain(0);
  const ClipHandle again = stage.Resolve(kRootClip, "box");
  EXPECT_NE(again, kNoClip);
  EXPECT_NE(again, box);
  EXPECT_NE(stage.Find(copy), nullptr);

  // A fresh start forgets every handle.
  stage.Reset();
  EXPECT_EQ(stage.Find(copy), nullptr);
  EXPECT_EQ(stage.Find(again), nullptr);
  EXPECT_NE(stage.Resolve(kRootClip, "box"), kNoClip);
}

TEST(StageHandles, ClipsScriptsNestDeeplyKeepTheirPaths) {
  auto b = Movie();
  b.ShowFrame();
  Staged s(b);
  Stage& stage = *s.stage;
  ClipHandle clip = kRootClip;
  std::string path;
  for (int i = 0; i < 40; ++i) {
    clip = stage.CreateEmptyClip(clip, "c" + std::to_string(i), 0);
    ASSERT_NE(clip, kNoClip) << i;
    path += "/c" + std::to_string(i);
  }
  EXPECT_EQ(stage.PathOf(clip), path);
  EXPECT_EQ(stage.Resolve(kRootClip, path), clip);
}

TEST(StageHandles, SpritesNestedTooDeepAreDroppedWithANote) {
  // Sprite 10 holds the square, sprite 11 holds 10 ... sprite 49 holds 48.
  auto b = Movie();
  b.DefineShape(1, Square());
  for (std::uint16_t id = 10; id < 50; ++id) {
    const std::uint16_t inside = id == 10 ? 1 : static_cast<std::uint16_t>(id - 1);
    b.DefineSprite(id, Timeline().PlaceObject2({.depth = 1, .characterId = inside}).ShowFrame());
  }
  b.PlaceObject2({.depth = 1, .characterId = 49}).ShowFrame();
  Played p(b);
  const auto skipped = p.player.SkippedFeatures();
  EXPECT_NE(std::find(skipped.begin(), skipped.end(), "sprites nested deeper than 32"), skipped.end());

  // Thirty levels are no news.
  auto shallow = Movie();
  shallow.DefineShape(1, Square());
  for (std::uint16_t id = 10; id < 40; ++id) {
    const std::uint16_t inside = id == 10 ? 1 : static_cast<std::uint16_t>(id - 1);
    shallow.DefineSprite(id, Timeline().PlaceObject2({.depth = 1, .characterId = inside}).ShowFrame());
  }
  shallow.PlaceObject2({.depth = 1, .characterId = 39}).ShowFrame();
  Played q(shallow);
  EXPECT_TRUE(q.player.SkippedFeatures().empty());
}

TEST(ScriptIntegers, WrapOrSaturateAndNeverCastNaN) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ToInt32(nan), 0);
  EXPECT_EQ(ToInt32(inf), 0);
  EXPECT_EQ(ToInt32(-inf), 0);
  EXPECT_EQ(ToInt32(3.9), 3);
  EXPECT_EQ(ToInt32(-3.9), -3);
  EXPECT_EQ(ToInt32(2147483648.0), -2147483647 - 1);
  EXPECT_EQ(ToInt32(4294967296.0 + 7), 7);
  EXPECT_EQ(ToInt32(-4294967296.0 - 7), -7);
  EXPECT_EQ(ToInt32(1e300), 0);  // a multiple of 2^32
  EXPECT_EQ(ToInt32(-1), -1);

  EXPECT_EQ(ClampToInt(nan), 0);
  EXPECT_EQ(ClampToInt(inf), 2147483647);
  EXPECT_EQ(ClampToInt(-inf), -2147483647);
  EXPECT_EQ(ClampToInt(1e300), 2147483647);
  EXPECT_EQ(ClampToInt(-7.5), -7);
  // One below the lowest value still fits in an int.
  EXPECT_EQ(ClampToInt(-1e300) - 1, std::numeric_limits<int>::min());
}

}  // namespace
}  // namespace quarvel::player
