// The order in which a frame's scripts run (init actions, constructors,
// clip events, frame actions of parents and children), the action budget
// of a frame, and conversions that real component code leans on.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "player/avm1/avm1_test_script.h"
#include "player/display/stage.h"
#include "support/swf_writer.h"

namespace quarvel::player {
namespace {

using namespace script_test;
using testing::SwfWriter;
using testing::Timeline;

TEST(Avm1Conversions, BuiltInConstructorsCalledAsFunctionsConvert) {
  // A setter of a constructed object calls Boolean(v): the call converts
  // and leaves the object alone, as in component code
  // (`this._visible = Boolean(arg)`).
  Actions a;
  Set(a, "_global.C", Function({}, Actions()));
  Actions setter;
  setter.Append(SetMember(Var("this"), "b", Call("Boolean", {Var("v")})))
      .Append(SetMember(Var("this"), "n", Call("Number", {Str("12")})))
      .Append(SetMember(Var("this"), "s", Call("String", {Int(5)})));
  a.Append(SetMember(Member(Var("_global.C"), "prototype"), "put", Function({"v"}, setter)));
  Set(a, "o", New("_global.C"));
  a.Append(Do(Method(Var("o"), "put", {Int(0)})));
  Set(a, "b", Member(Var("o"), "b"));
  Set(a, "tb", Actions().Append(Member(Var("o"), "b")).Raw(Code(Action::kTypeOf)));
  Set(a, "tn", Actions().Append(Member(Var("o"), "n")).Raw(Code(Action::kTypeOf)));
  Set(a, "ts", Actions().Append(Member(Var("o"), "s")).Raw(Code(Action::kTypeOf)));
  Set(a, "sum", Bin(Member(Var("o"), "n"), Int(1), Action::kAdd2));
  Set(a, "isC", Bin(Var("o"), Var("_global.C"), Action::kInstanceOf));
  // `new` still makes wrapper objects.
  Set(a, "tw", Actions().Append(New("Boolean", {Int(0)})).Raw(Code(Action::kTypeOf)));
  Set(a, "wv", Method(New("Number", {Int(3)}), "valueOf"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("b"), "false");
  EXPECT_EQ(r.Get("tb"), "boolean");
  EXPECT_EQ(r.Get("tn"), "number");
  EXPECT_EQ(r.Get("ts"), "string");
  EXPECT_EQ(r.Get("sum"), "13");
  EXPECT_EQ(r.Get("isC"), "true");
  EXPECT_EQ(r.Get("tw"), "object");
  EXPECT_EQ(r.Get("wv"), "3");
}

TEST(Avm1Limits, AFirstFrameThatBuildsAWholeInterfaceRunsToItsEnd) {
  // Two million actions in one frame, as component movies spend building
  // their interface: Flash runs them all.
  Actions body;
  Set(body, "i", Bin(Var("i"), Int(1), Action::kAdd2));
  Actions cond = Bin(Var("i"), Int(200000), Action::kLess2).Raw(Code(Action::kNot));
  Actions a;
  Set(a, "i", Int(0));
  const auto back = static_cast<std::int16_t>(cond.Size() + 5 + body.Size() + 5);
  a.Append(cond).If(static_cast<std::int16_t>(body.Size() + 5)).Append(body).Jump(static_cast<std::int16_t>(-back));
  Set(a, "done", Str("yes"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("i"), "200000");
  EXPECT_EQ(r.Get("done"), "yes");
  EXPECT_FALSE(r.Skipped("too many actions in one frame"));
}

Actions Round(const Actions& v) { return Method(Var("Math"), "round", {v}); }

// {x: x, y: y} carried by clip.localToGlobal, then "x,y" rounded.
Actions GlobalOf(const Actions& clip, int x, int y) {
  Actions a;
  Set(a, "pt", Object({{"x", Int(x)}, {"y", Int(y)}}));
  a.Append(Do(Method(clip, "localToGlobal", {Var("pt")})));
  return a.Append(
      Bin(Bin(Round(Member(Var("pt"), "x")), Str(","), Action::kAdd2), Round(Member(Var("pt"), "y")), Action::kAdd2));
}

TEST(Avm1Clips, ScaleAndRotationAreKeptApartFromTheMatrix) {
  Actions a;
  Set(a, "c", Method(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(1)}));
  // A flip by a negative scale survives a rotation and reads back as set.
  a.Append(SetMember(Var("c"), "_yscale", Int(-50)));
  a.Append(SetMember(Var("c"), "_rotation", Int(90)));
  Set(a, "ys", Member(Var("c"), "_yscale"));
  Set(a, "rot", Member(Var("c"), "_rotation"));
  Set(a, "flipped", GlobalOf(Var("c"), 0, 10));
  // A positive scale afterwards undoes the flip: the rotation stays.
  a.Append(SetMember(Var("c"), "_yscale", Int(100)));
  Set(a, "upright", GlobalOf(Var("c"), 0, 10));
  Set(a, "rot2", Member(Var("c"), "_rotation"));
  // Rotations read back within -180..180.
  a.Append(SetMember(Var("c"), "_rotation", Int(270)));
  Set(a, "rot3", Member(Var("c"), "_rotation"));
  a.Append(SetMember(Var("c"), "_rotation", Int(-190)));
  Set(a, "rot4", Member(Var("c"), "_rotation"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("ys"), "-50");
  EXPECT_EQ(r.Get("rot"), "90");
  EXPECT_EQ(r.Get("flipped"), "5,0");  // (0, 10) scaled to (0, -5), turned a quarter
  EXPECT_EQ(r.Get("upright"), "-10,0");
  EXPECT_EQ(r.Get("rot2"), "90");
  EXPECT_EQ(r.Get("rot3"), "-90");
  EXPECT_EQ(r.Get("rot4"), "170");
}

// The same steps as As3DisplayObject.AFlipReadsBackAsSetAfterATurn: both
// machines give the same answers, in their own units.
TEST(Avm1Clips, AFlipReadsBackAsSetAfterATurnAndAResize) {
  Actions a;
  Set(a, "c", Method(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(1)}));
  // A 100 x 50 rectangle.
  a.Append(Do(Method(Var("c"), "beginFill", {Int(0xFF0000)})));
  a.Append(Do(Method(Var("c"), "moveTo", {Int(0), Int(0)})));
  for (auto [x, y] : {std::pair{100, 0}, {100, 50}, {0, 50}, {0, 0}})
    a.Append(Do(Method(Var("c"), "lineTo", {Int(x), Int(y)})));
  a.Append(Do(Method(Var("c"), "endFill")));
  a.Append(SetMember(Var("c"), "_xscale", Int(-100)));
  a.Append(SetMember(Var("c"), "_rotation", Int(30)));
  a.Append(SetMember(Var("c"), "_yscale", Int(200)));
  Set(a, "turned", Bin(Bin(Bin(Member(Var("c"), "_xscale"), Str(" "), Action::kAdd2), Member(Var("c"), "_rotation"),
                           Action::kAdd2),
                       Bin(Str(" "), Member(Var("c"), "_yscale"), Action::kAdd2), Action::kAdd2));
  a.Append(SetMember(Var("c"), "_rotation", Int(0)));
  a.Append(SetMember(Var("c"), "_width", Int(50)));
  Set(a, "resized", Bin(Bin(Member(Var("c"), "_xscale"), Str(" "), Action::kAdd2), Member(Var("c"), "_width"),
                        Action::kAdd2));
  a.Append(SetMember(Var("c"), "_rotation", Int(90)));
  Set(a, "flipped", Bin(Bin(Member(Var("c"), "_rotation"), Str(" "), Action::kAdd2), Member(Var("c"), "_xscale"),
                        Action::kAdd2));
  Played r(Script(a));
  EXPECT_EQ(r.Get("turned"), "-100 30 200");
  EXPECT_EQ(r.Get("resized"), "-50 50");
  EXPECT_EQ(r.Get("flipped"), "90 -50");
}

// Flash carries points and boxes between clips in whole twips: the point
// is cut to twips, each matrix of the chain adds a translation rounded to
// twips, and so does each transformed corner.
TEST(Avm1Clips, PointsAndBoxesBetweenClipsAreWholeTwips) {
  Actions a;
  Set(a, "c", Method(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(1)}));
  Set(a, "d", Method(Var("c"), "createEmptyMovieClip", {Str("d"), Int(1)}));
  a.Append(SetMember(Var("c"), "_xscale", Int(30)));
  a.Append(SetMember(Var("c"), "_yscale", Int(30)));
  a.Append(SetMember(Var("d"), "_x", Num(1.15)));  // 23 twips, 6.9 of them on the stage
  Set(a, "pt", Object({{"x", Num(1.2345)}, {"y", Num(1.0)}}));
  a.Append(Do(Method(Var("d"), "localToGlobal", {Var("pt")})));
  Set(a, "gx", Member(Var("pt"), "x"));
  Set(a, "gy", Member(Var("pt"), "y"));
  Set(a, "pt", Object({{"x", Num(10)}, {"y", Num(10)}}));
  a.Append(Do(Method(Var("d"), "globalToLocal", {Var("pt")})));
  Set(a, "lx", Member(Var("pt"), "x"));
  // A box: a 10 x 10 square drawn in d, seen from the stage and from c.
  a.Append(Do(Var("d"), "beginFill", {Int(0)}));
  a.Append(Do(Var("d"), "moveTo", {Int(0), Int(0)}));
  a.Append(Do(Var("d"), "lineTo", {Int(10), Int(0)}));
  a.Append(Do(Var("d"), "lineTo", {Int(10), Int(10)}));
  a.Append(Do(Var("d"), "lineTo", {Int(0), Int(10)}));
  a.Append(Do(Var("d"), "endFill", {}));
  Set(a, "root", Method(Var("d"), "getBounds", {Var("_root")}));
  Set(a, "slash", Method(Var("d"), "getBounds", {Str("/")}));
  Set(a, "parent", Method(Var("d"), "getBounds", {Str("..")}));
  Set(a, "none", Method(Var("d"), "getBounds", {Str("nosuch")}).Raw(Code(Action::kTypeOf)));
  Set(a, "empty", Method(Var("d"), "getBounds", {Str("")}).Raw(Code(Action::kTypeOf)));
  Set(a, "undef", Method(Var("d"), "getBounds", {Undef()}).Raw(Code(Action::kTypeOf)));
  Played r(Script(a));
  // x: 24 twips (1.2345 cut), 7.2 on the stage, 7 plus d's place rounded to 7.
  EXPECT_EQ(r.Get("gx"), "0.7");
  EXPECT_EQ(r.Get("gy"), "0.3");  // 20 twips, 6 on the stage
  // Back: 200 twips over 0.3 is 666.67, 667, less d's place of 23 (not 643.33).
  EXPECT_EQ(r.Get("lx"), "32.2");
  EXPECT_EQ(r.Get("root.xMin"), "0.35");
  EXPECT_EQ(r.Get("root.xMax"), "3.35");
  EXPECT_EQ(r.Get("slash.xMax"), "3.35");
  EXPECT_EQ(r.Get("parent.xMin"), "1.15");
  EXPECT_EQ(r.Get("parent.xMax"), "11.15");
  EXPECT_EQ(r.Get("none"), "undefined");
  EXPECT_EQ(r.Get("empty"), "undefined");
  EXPECT_EQ(r.Get("undef"), "undefined");
}

// Target paths: a clip's child comes before a variable of the name on the
// way; colons before a name are one divider, an empty name names nothing;
// `this` names the start only in a variable's path.
TEST(Avm1Paths, ChildrenBeforeVariablesAndFlashsDividers) {
  Actions a;
  Set(a, "clip", Method(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(1)}));
  Set(a, "d", Method(Var("clip"), "createEmptyMovieClip", {Str("d"), Int(1)}));
  a.Append(SetMember(Var("clip"), "x", Str("in c")));
  a.Append(SetMember(Var("d"), "y", Str("in d")));
  a.Append(SetMember(Var("clip"), "d", Str("c's d")));
  Set(a, "c", Str("root's c"));  // a variable c beside the clip c
  Set(a, "viaChild", Var("c.x"));
  Set(a, "deeper", Var("c.d.y"));
  Set(a, "last", Var("c.d"));  // the last name is a member: the variable
  Set(a, "thisPath", Var("this.c.x"));
  auto box = [](const std::string& path) {
    return Method(Var("clip"), "getBounds", {Str(path)}).Raw(Code(Action::kTypeOf));
  };
  Set(a, "colons", box("::d"));
  Set(a, "trailing", box("d::"));
  Set(a, "oneColon", box("d:"));
  Set(a, "up", box("d/.."));
  Set(a, "parent", box("_parent"));
  Set(a, "self", box("this"));
  Set(a, "dots", box("d..d"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("viaChild"), "in c");
  EXPECT_EQ(r.Get("deeper"), "in d");
  EXPECT_EQ(r.Get("last"), "c's d");
  EXPECT_EQ(r.Get("thisPath"), "in c");
  EXPECT_EQ(r.Get("colons"), "object");
  EXPECT_EQ(r.Get("trailing"), "undefined");
  EXPECT_EQ(r.Get("oneColon"), "object");
  EXPECT_EQ(r.Get("up"), "object");
  EXPECT_EQ(r.Get("parent"), "object");
  EXPECT_EQ(r.Get("self"), "undefined");
  EXPECT_EQ(r.Get("dots"), "undefined");
}

// A slash path that names no clip reads the variable of that very name,
// and there `this` is no name of the target; set through "path.name" takes
// the part before the last dot as a target path, where a dot after a
// slash belongs to a name.
TEST(Avm1Paths, BareSlashPathsFallBackToTheVariableOfThatName) {
  Actions a;
  Set(a, "clip", Method(Var("_root"), "createEmptyMovieClip", {Str("c1"), Int(1)}));
  a.Append(SetMember(Var("_root"), "this/c1", Str("plain")));
  Set(a, "viaThis", Var("this/c1"));
  Set(a, "missing", Bin(Str(""), Var("nothing/here"), Action::kAdd2));
  Set(a, "clipPath", Bin(Str(""), Var("c1"), Action::kAdd2));
  a.Append(SetMember(Var("clip"), "o.p", Object({})));
  a.Append(Actions().PushString("c1/o.p.v").PushInt(6).Raw(Code(Action::kSetVariable)));
  Set(a, "dottedName", Member(Member(Var("clip"), "o.p"), "v"));
  a.Append(Actions().PushString("c1/..:w").PushInt(7).Raw(Code(Action::kSetVariable)));
  a.Append(Actions().PushString("c1/...u").PushInt(8).Raw(Code(Action::kSetVariable)));
  Played r(Script(a));
  EXPECT_EQ(r.Get("viaThis"), "plain");
  EXPECT_EQ(r.Get("missing"), "undefined");
  EXPECT_EQ(r.Get("clipPath"), "_level0.c1");
  EXPECT_EQ(r.Get("dottedName"), "6");
  EXPECT_EQ(r.Get("w"), "7");
  EXPECT_EQ(r.Get("u"), "8");
}

// Flash 4 paths divide names at slashes only: a colon or a dot is part of
// a name, ".." is a parent only before a slash or at the end, a first name
// "_levelN" or "_flashN" is the level of its leading digits, and there is
// no _root. A variable path needs a target before its colon.
TEST(Avm1Paths, Flash4PathsDivideOnlyAtSlashes) {
  auto b = Movie(4);
  b.DefineSprite(2, Timeline().ShowFrame());
  b.DefineSprite(3, Timeline().PlaceObject2({.depth = 1, .characterId = 2, .name = "child"}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 3, .name = "a"});
  const auto name = [](const std::string& path, int property = 13) {
    return Bin(Str("n:"), Actions().PushString(path).PushInt(property).Raw(Code(Action::kGetProperty)),
               Action::kStringAdd);
  };
  const auto read = [](const std::string& path) {
    return Bin(Str("v:"), Actions().PushString(path).Raw(Code(Action::kGetVariable)), Action::kStringAdd);
  };
  Actions a;
  a.Append(Actions().PushString("a:v").PushInt(5).Raw(Code(Action::kSetVariable)));
  Set(a, "rv", Int(9));
  const std::pair<const char*, const char*> paths[] = {
      {"slash", "a/child"},      {"colon", "a:child"},        {"dot", "a.child"},    {"flash", "_flash0/a"},
      {"levelColonSlash", "_level0:a/child"}, {"root", "_root/a"},
      {"upColon", "a/..:a"},     {"upSlash", "a/../a"},       {"innerLevel", "a/_level0"}};
  for (const auto& [var, path] : paths) Set(a, var, name(path));
  Set(a, "levelTail", name("_level0:x.y", 0));  // level 0's _x
  Set(a, "colonVar", read("a:v"));
  Set(a, "dotVar", read("a.v"));
  Set(a, "bareColon", read(":rv"));
  Set(a, "slashDot", read("/a.v"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("slash"), "n:child");
  EXPECT_EQ(r.Get("colon"), "n:");
  EXPECT_EQ(r.Get("dot"), "n:");
  EXPECT_EQ(r.Get("flash"), "n:a");
  EXPECT_EQ(r.Get("levelTail"), "n:0");
  EXPECT_EQ(r.Get("levelColonSlash"), "n:");
  EXPECT_EQ(r.Get("root"), "n:");
  EXPECT_EQ(r.Get("upColon"), "n:");
  EXPECT_EQ(r.Get("upSlash"), "n:a");
  EXPECT_EQ(r.Get("innerLevel"), "n:");
  EXPECT_EQ(r.Get("colonVar"), "v:5");
  EXPECT_EQ(r.Get("dotVar"), "v:");
  EXPECT_EQ(r.Get("bareColon"), "v:");
  EXPECT_EQ(r.Get("slashDot"), "v:");
}

TEST(Avm1TextField, PositionIsWhereAutoSizeMovedTheBox) {
  // A field made with no width and centred autoSize grows both ways from
  // its origin: _x tells where its box begins now, and setting _x moves
  // the box there.
  Actions a;
  a.Append(Do(Method(Var("_root"), "createTextField", {Str("f"), Int(1), Int(40), Int(10), Int(0), Int(0)})));
  a.Append(SetMember(Var("f"), "autoSize", Str("center")));
  a.Append(SetMember(Var("f"), "text", Str("some words")));
  Set(a, "x", Member(Var("f"), "_x"));
  Set(a, "w", Member(Var("f"), "_width"));
  Set(a, "centred", Round(Bin(Var("x"), Bin(Var("w"), Int(2), Action::kDivide), Action::kAdd2)));
  a.Append(SetMember(Var("f"), "_x", Int(5)));
  Set(a, "x2", Member(Var("f"), "_x"));
  Played r(Script(a));
  EXPECT_LT(std::stod(r.Get("x")), 30) << r.Get("x");
  EXPECT_EQ(r.Get("centred"), "40") << r.Get("x") << " " << r.Get("w");
  EXPECT_EQ(r.Get("x2"), "5");
}

// _global.log starts empty, before anything else runs.
void StartLog(SwfBuilder& b, std::uint16_t sprite) {
  Actions a;
  Set(a, "_global.log", Str(""));
  b.DoInitAction(sprite, a);
}

TEST(Avm1Order, ClipsRunTheirFramesNewestFirstAndTheMainTimelineLast) {
  auto b = Movie();
  b.DefineSprite(5, Timeline().DoAction(Log("c1,")).ShowFrame().DoAction(Log("c2,").Stop()).ShowFrame());
  StartLog(b, 5);
  b.DoAction(Log("r1,")).PlaceObject2({.depth = 1, .characterId = 5, .name = "c"}).ShowFrame();
  b.DoAction(Log("r2,").Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("_global.log"), "r1,c1,c2,r2,");
}

// A sprite loops only when its tags close with a ShowFrame and an End tag;
// one cut short plays to its last frame (tags after the last ShowFrame
// make one) and stays there.
TEST(Avm1Order, OnlyASpriteClosedByShowFrameAndEndLoops) {
  auto sprite = [](std::uint16_t id, const Timeline& tags) {
    SwfWriter w;
    w.U16(id);
    w.U16(1);  // the header's count decides nothing
    w.Bytes(tags.TagBytes());
    return w.Take();
  };
  // _global.<clip> += text
  auto logs = [](const std::string& clip, const std::string& text) {
    Actions a;
    Set(a, "_global." + clip, Bin(Var("_global." + clip), Str(text), Action::kAdd2));
    return a;
  };
  auto b = Movie();
  b.Tag(39, sprite(5, Timeline().DoAction(logs("a", "1")).ShowFrame().DoAction(logs("a", "2")).ShowFrame().End()));
  b.Tag(39, sprite(6, Timeline().DoAction(logs("b", "1")).ShowFrame().DoAction(logs("b", "2")).ShowFrame()));
  b.Tag(39, sprite(7, Timeline().DoAction(logs("c", "1")).ShowFrame().DoAction(logs("c", "2")).End()));
  Actions init;
  for (const char* n : {"a", "b", "c"}) Set(init, std::string("_global.") + n, Str(""));
  b.DoInitAction(5, init);
  for (std::uint16_t id : {5, 6, 7}) b.PlaceObject2({.depth = id, .characterId = id});
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(400);  // five frames
  EXPECT_EQ(r.Get("_global.a"), "12121");
  EXPECT_EQ(r.Get("_global.b"), "12");
  EXPECT_EQ(r.Get("_global.c"), "12");
}

TEST(Avm1Order, InitializeConstructLoadThenFirstFrames) {
  // Every new clip's initialize events run before any constructor, and
  // constructors before frame actions; a clip's load event precedes its
  // own first frame, the main timeline's actions come first.
  auto b = Movie();
  b.DefineSprite(5, Timeline().DoAction(Log("f,")).ShowFrame());
  StartLog(b, 5);
  b.DoAction(Log("r,"));
  for (const char* n : {"a", "b"}) {
    const std::string id(n);
    b.Tag(26, PlaceWithClipActions(5, id == "a" ? 1 : 2, id,
                        {{kEventInitialize, Log("i" + id + ",")}, {kEventConstruct, Log("k" + id + ",")},
                         {kEventLoad, Log("l" + id + ",")}}));
  }
  b.ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("_global.log"), "ia,ib,ka,kb,r,la,f,lb,f,");
}

TEST(Avm1Order, ChildrenUnloadBeforeTheirParent) {
  auto b = Movie();
  b.DefineSprite(5, Timeline().ShowFrame());
  b.DefineSprite(6, Timeline().PlaceObject2({.depth = 1, .characterId = 5, .name = "inner"}).ShowFrame());
  StartLog(b, 5);
  Actions a;
  a.Append(SetMember(Var("outer"), "onUnload", Function({}, Log("outer,"))));
  a.Append(SetMember(Member(Var("outer"), "inner"), "onUnload", Function({}, Log("inner,"))));
  b.PlaceObject2({.depth = 1, .characterId = 6, .name = "outer"}).DoAction(a).ShowFrame();
  b.RemoveObject2(1).DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("_global.log"), "inner,outer,");
}

TEST(Avm1Order, BlocksOfOneFrameShareTheStackAndTheNextFrameStartsEmpty) {
  // What a block leaves on the stack, the next block of the frame (of any
  // clip) pops; a new frame starts with an empty stack.
  auto popInto = [](const std::string& name) {
    return Actions().PushString(name).Raw(Code(Action::kStackSwap)).SetVariable();
  };
  auto b = Movie();
  b.DefineSprite(5, Timeline().DoAction(popInto("_root.inChild")).ShowFrame().DoAction(Actions().Stop()).ShowFrame());
  b.DoAction(Actions().PushString("left by block 1"));
  b.DoAction(Actions().Append(popInto("inBlock2")).PushString("left by block 2"));
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "c"});
  b.DoAction(Actions().PushString("left at the end of frame 1")).ShowFrame();
  Actions frame2 = popInto("inFrame2");
  Set(frame2, "typeInFrame2", Var("inFrame2").Raw(Code(Action::kTypeOf)));
  b.DoAction(frame2.Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("inBlock2"), "left by block 1");
  EXPECT_EQ(r.Get("inChild"), "left by block 2");
  EXPECT_EQ(r.Get("typeInFrame2"), "undefined");
}

TEST(Avm1Order, AClipThatHearsItsUnloadStaysBelowEveryDepthUntilTheNextFrame) {
  auto b = Movie();
  b.DefineSprite(5, Timeline().ShowFrame());
  StartLog(b, 5);
  Actions a;
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("heard"), Int(1)})));
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("plain"), Int(2)})));
  a.Append(SetMember(Var("heard"), "onUnload", Function({}, Log("unload,"))));
  a.Append(Do(Method(Var("heard"), "removeMovieClip", {})));
  a.Append(Do(Method(Var("plain"), "removeMovieClip", {})));
  // Once only, whatever removes it again.
  a.Append(Do(Method(Var("heard"), "removeMovieClip", {})));
  a.Append(Do(Method(Var("heard"), "unloadMovie", {})));
  Set(a, "heardDepth", Method(Var("heard"), "getDepth", {}));
  Set(a, "plainThen", Var("plain").Raw(Code(Action::kTypeOf)));
  a.Append(Log("end of frame 1,"));
  b.DoAction(a).ShowFrame();
  Actions next;
  Set(next, "heardNext", Var("heard").Raw(Code(Action::kTypeOf)));
  b.DoAction(next.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("heardDepth"), "-32770");
  EXPECT_EQ(r.Get("plainThen"), "undefined");
  r.player.AdvanceTo(200);
  EXPECT_EQ(r.Get("_global.log"), "end of frame 1,unload,");
  EXPECT_EQ(r.Get("heardNext"), "undefined");
}

TEST(Avm1Order, GotoFrameStopsTheTimeline) {
  auto b = Movie();
  Actions a;
  Set(a, "n", Bin(Var("n").Raw(Code(Action::kToInteger)), Int(1), Action::kAdd2));  // int(n) + 1
  b.DoAction(a.GotoFrame(1)).ShowFrame();
  b.ShowFrame();
  b.ShowFrame();
  Played r(b);
  r.player.AdvanceTo(500);
  EXPECT_EQ(r.Get("n"), "1");
  EXPECT_EQ(r.player.CurrentFrame(), 1);
}

TEST(Avm1Order, GotosThatFindNoFrame) {
  // A frame number past the end goes nowhere (but stops); an unknown label
  // neither moves nor stops the timeline.
  for (bool label : {false, true}) {
    SCOPED_TRACE(label ? "label" : "frame");
    auto b = Movie();
    Actions a;
    Set(a, "n", Bin(Var("n").Raw(Code(Action::kToInteger)), Int(1), Action::kAdd2));
    if (label) a.GotoLabel("nowhere");
    else a.GotoFrame(50);
    b.DoAction(a).ShowFrame();
    b.DoAction(Actions().Stop()).ShowFrame();
    b.ShowFrame();
    Played r(b);
    r.player.AdvanceTo(500);
    EXPECT_EQ(r.Get("n"), "1");
    EXPECT_EQ(r.player.CurrentFrame(), label ? 1 : 0);
  }
}

TEST(Avm1Order, AJumpBackClearsTheTimelinesDepthsAndKeepsTheScriptDepths) {
  // Whoever made them: a clip a script made at a timeline depth leaves, a
  // timeline clip a script moved to a script depth stays beside the new
  // one the timeline places.
  auto b = Movie();
  b.DefineSprite(5, Timeline().ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "t"}).ShowFrame();
  Actions make;
  make.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("neg"), Int(-100)})));
  make.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("pos"), Int(5)})));
  make.Append(Do(Method(Var("t"), "swapDepths", {Int(7)})));
  b.DoAction(make).ShowFrame();
  Actions back;
  back.GotoFrame(0);
  Set(back, "neg", Var("neg").Raw(Code(Action::kTypeOf)));
  Set(back, "pos", Var("pos").Raw(Code(Action::kTypeOf)));
  Set(back, "placedAgain", Method(Var("t"), "getDepth", {}));
  Set(back, "moved", Method(Var("_root"), "getInstanceAtDepth", {Int(7)}));
  b.DoAction(back).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(250);
  EXPECT_EQ(r.Get("neg"), "undefined");
  EXPECT_EQ(r.Get("pos"), "movieclip");
  EXPECT_EQ(r.Get("placedAgain"), "-16383");
  EXPECT_EQ(r.Get("moved"), "_level0.t");
}

TEST(Avm1Order, AnUnknownTellTargetReadsTheRootsVariablesAndOnlyGotoFrame2ReachesIt) {
  auto b = Movie();
  Actions a;
  Set(a, "v", Str("root"));
  a.SetTarget("nothere");
  Set(a, "seen", Var("v"));
  a.GotoFrame(1);  // goes nowhere
  a.SetTarget("");
  Set(a, "afterStatic", Var("_currentframe"));
  a.SetTarget("nothere");
  a.PushInt(3).Raw(Code(Action::kGotoFrame2), std::vector<std::uint8_t>{0});  // gotoAndStop(3) on the root
  a.SetTarget("");
  b.DoAction(a).ShowFrame();
  b.ShowFrame();
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("seen"), "root");
  EXPECT_EQ(r.Get("afterStatic"), "1");
  EXPECT_EQ(r.player.CurrentFrame(), 2);
}

// super() looks for __constructor__ only when called, from the prototype
// holding the method up, never on the object itself, never by `constructor`.
TEST(Avm1Classes, SuperCallFindsTheConstructorWhenItRuns) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "ctor", Function({}, Actions().Append(Log("ctor,")).Append(Str("made")).Raw(Code(Action::kReturn))));
  Actions method;
  method.Append(Log("m,"));
  Set(method, "_global.got", Actions().PushInt(0).PushString("super").Raw(Code(Action::kCallFunction)));
  method.Append(Log(Var("_global.got")));
  method.Append(Log(","));
  Set(a, "obj", Object({{"__constructor__", Var("ctor")}, {"m", Function({}, method)}}));
  a.Append(Do(Var("obj"), "m", {}));  // own __constructor__ and Object: neither
  a.Append(SetMember(Var("obj"), "__proto__", Object({{"__proto__", Object({{"__constructor__", Var("ctor")}})}})));
  a.Append(Do(Var("obj"), "m", {}));  // two prototypes up
  Actions getter;
  getter.Append(Log("get,")).Append(Var("ctor")).Raw(Code(Action::kReturn));
  a.Append(Do(Member(Var("obj"), "__proto__"), "addProperty", {Str("__constructor__"), Function({}, getter), Actions().PushNull()}));
  a.Append(Do(Var("obj"), "m", {}));  // the getter runs inside the call
  Played r(Script(a));
  EXPECT_EQ(r.Get("log"), "m,undefined,m,ctor,made,m,get,ctor,made,");
}

// `super` counts how far up the prototypes the method was found and looks
// there again each time it is used: a method that gives its object another
// prototype reaches the new base class, a built-in one included, whose
// constructor builds the object and hands it back.
TEST(Avm1Classes, SuperFollowsThePrototypeTheObjectHasWhenUsed) {
  struct Case {
    const char* base;
    std::vector<Actions> args;
    const char* read;  // a member of the object afterwards
    const char* want;
  };
  const Case cases[] = {{"Array", {Str("a"), Str("b")}, "length", "2"},
                        {"Boolean", {Bool(true)}, "valueOf", "true"},
                        {"TextFormat", {Str("Arial"), Int(12)}, "font", "Arial"},
                        {"LocalConnection", {}, "send", "function"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.base);
    Actions method;
    method.Append(SetMember(Var("this"), "__proto__",
                            Object({{"__proto__", Member(Var(c.base), "prototype")}, {"__constructor__", Var(c.base)}})));
    Set(method, "_root.got", Actions().Append(PushArgs(c.args)).PushString("super").Raw(Code(Action::kCallFunction)));
    Set(method, "_root.gotType", Actions().Append(Var("_root.got")).Raw(Code(Action::kTypeOf)));
    Set(method, "_root.toStr", Method(Var("super"), "toString"));
    Actions a;
    Set(a, "_global.T", Function({}, Actions()));
    a.Append(SetMember(Member(Var("_global.T"), "prototype"), "m", Function({}, method)));
    Set(a, "o", New("_global.T"));
    a.Append(Do(Var("o"), "m", {}));
    Set(a, "same", Bin(Var("got"), Var("o"), Action::kStrictEquals));
    Set(a, "member", std::string(c.read) == "valueOf" ? Method(Var("o"), "valueOf")
                     : std::string(c.read) == "send"  ? Actions().Append(Member(Var("o"), "send")).Raw(Code(Action::kTypeOf))
                                                      : Member(Var("o"), c.read));
    Played r(Script(a));
    EXPECT_EQ(r.Get("gotType"), "object");
    EXPECT_EQ(r.Get("same"), "true");
    EXPECT_EQ(r.Get("member"), c.want);
    // super.toString is Array's now
    if (std::string(c.base) == "Array") {
      EXPECT_EQ(r.Get("toStr"), "a,b");
    }
  }
}

TEST(Avm1Classes, SuperCalledAsAFunctionRunsTheBaseConstructor) {
  // function B() { this.b = 1; }  function C() { super(); this.c = 2; }  C extends B
  Actions a;
  Set(a, "_global.B", Function({}, SetMember(Var("this"), "b", Int(1))));
  Actions ctor;
  ctor.Append(Do(Actions().PushInt(0).PushString("super").Raw(Code(Action::kCallFunction))));
  ctor.Append(SetMember(Var("this"), "c", Int(2)));
  Set(a, "_global.C", Function({}, ctor));
  a.Append(Var("_global.C")).Append(Var("_global.B")).Raw(Code(Action::kExtends));
  Set(a, "o", New("_global.C"));
  Set(a, "sum", Bin(Member(Var("o"), "b"), Member(Var("o"), "c"), Action::kAdd2));
  Played r(Script(a));
  EXPECT_EQ(r.Get("sum"), "3");
}

// DefineEditText without a font, bound to `variable`, with `initial` text.
std::vector<std::uint8_t> BoundField(std::uint16_t id, const std::string& variable, const std::string& initial) {
  SwfWriter w;
  w.U16(id);
  w.Rect({0, 2000, 0, 400});
  w.U8(0x80 | 0x08 | 0x04);  // has text, read-only, has colour
  w.U8(0);
  w.U8(0), w.U8(0), w.U8(0), w.U8(255);
  w.String(variable);
  w.String(initial);
  return w.Data();
}

TEST(Avm1Order, APlacedFieldSetsItsVariableBeforeTheFramesActions) {
  // The frame's actions come first in the file, yet run after every tag of
  // the frame: they read the field's text.
  auto b = Movie();
  Actions a;
  Set(a, "copy", Var("temp"));
  b.DoAction(a.Stop());
  b.Tag(37, BoundField(3, "temp", "75"));
  b.PlaceObject2({.depth = 1, .characterId = 3}).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("copy"), "75");
}

}  // namespace
}  // namespace quarvel::player
