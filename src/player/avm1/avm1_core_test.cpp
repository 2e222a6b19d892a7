// Classes, listeners and clip events as the authoring tool's ActionScript 2
// uses them, on builder-made movies; results read back through variables.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_test_script.h"
#include "player/flash_player.h"
#include "player/display/stage.h"

namespace quarvel::player::script_test {
namespace {

enum : std::uint8_t {
  kAdd2 = Code(Action::kAdd2), kGetVar = Code(Action::kGetVariable), kGetMember = Code(Action::kGetMember),
  kSetMember = Code(Action::kSetMember), kCallMethod = Code(Action::kCallMethod),
  kCallFunction = Code(Action::kCallFunction), kReturn = Code(Action::kReturn), kInitObject = Code(Action::kInitObject),
  kPop = Code(Action::kPop), kExtends = Code(Action::kExtends), kInstanceOf = Code(Action::kInstanceOf),
  kEnumerate2 = Code(Action::kEnumerate2), kStoreRegister = Code(Action::kStoreRegister),
  kEquals2 = Code(Action::kEquals2), kDelete = Code(Action::kDelete), kTypeOf = Code(Action::kTypeOf),
  kGetTime = Code(Action::kGetTime), kSubtract = Code(Action::kSubtract), kLess2 = Code(Action::kLess2),
  kIncrement = Code(Action::kIncrement), kNewObject = Code(Action::kNewObject),
  kImplements = Code(Action::kImplementsOp), kCast = Code(Action::kCastOp),
};

Actions Fn(const Actions& body, const std::vector<std::string>& params = {}) {
  return Actions().DefineFunction("", params, body);
}
// _global.W: a class of clips (extends MovieClip) whose constructor logs
// "ctor:<this.size>", with onLoad logging "load" and size() answering
// this.size; registered for the symbol "widget" (sprite 5).
Actions WidgetClass() {
  Actions a;
  Set(a, "_global.W", Fn(Log(Bin(Str("ctor:"), Bin(Member(Var("this"), "size"), Str(","), kAdd2), kAdd2))));
  a.Append(Var("_global.W")).Append(Var("MovieClip")).Raw(kExtends);
  a.Append(SetMember(Member(Var("_global.W"), "prototype"), "onLoad", Fn(Log("load,"))));
  a.Append(SetMember(Member(Var("_global.W"), "prototype"), "getSize",
                     Fn(Actions().Append(Member(Var("this"), "size")).Raw(kReturn))));
  a.Append(Method(Var("Object"), "registerClass", {Str("widget"), Var("_global.W")})).Raw(kPop);
  return a;
}

// Sprite 5 logs "frame," on its first frame; exported as "widget".
SwfBuilder WidgetMovie(std::uint8_t version = 8) {
  auto b = Movie(version);
  b.DefineShape(1, Square(400, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).DoAction(Log("frame,")).ShowFrame());
  b.ExportAssets({{5, "widget"}});
  return b;
}

TEST(Avm1Classes, InitActionsRegisterClassesBeforePlacedClipsAreMade) {
  auto b = WidgetMovie();
  Actions init;
  Set(init, "_global.log", Str("init,"));
  b.DoInitAction(5, init.Append(WidgetClass()));
  // The placing frame gives the clip its parameters in onClipEvent(initialize).
  Actions params;
  params.Append(SetMember(Var("this"), "size", Int(7))).Append(Log("initialize,"));
  b.Tag(26, PlaceWithClipActions(5, 1, "w", {{kEventInitialize, params}}));
  Actions root = Log("root,");
  Set(root, "isW", Bin(Var("w"), Var("_global.W"), kInstanceOf));
  Set(root, "isClip", Bin(Var("w"), Var("MovieClip"), kInstanceOf));
  Set(root, "size", Method(Var("w"), "getSize", {}));
  b.DoAction(root.Stop()).ShowFrame();
  Played r(b);
  const std::string log = r.Get("_global.log");
  // Init actions, then the clip's parameters, then its constructor, before
  // any frame's actions; onLoad after the constructor.
  EXPECT_EQ(log.rfind("init,initialize,ctor:7,", 0), 0u) << log;
  EXPECT_NE(log.find("load,"), std::string::npos) << log;
  EXPECT_LT(log.find("ctor:7"), log.find("root,")) << log;
  EXPECT_LT(log.find("ctor:7"), log.find("frame,")) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), 'c'), 1) << "one constructor call: " << log;
  EXPECT_EQ(r.Get("isW"), "true");
  EXPECT_EQ(r.Get("isClip"), "true");
  EXPECT_EQ(r.Get("size"), "7");
}

TEST(Avm1Classes, AttachMovieSetsTheInitObjectBeforeTheConstructor) {
  auto b = WidgetMovie();
  b.DoInitAction(5, WidgetClass());
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "made", Method(Var("_root"), "attachMovie", {Str("widget"), Str("a"), Int(3), Object({{"size", Int(9)}})}));
  // The class is there at once: a method answers right after attachMovie.
  Set(a, "size", Method(Var("made"), "getSize", {}));
  Set(a, "depth", Method(Var("a"), "getDepth", {}));
  Set(a, "next", Method(Var("_root"), "getNextHighestDepth", {}));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("size"), "9");
  EXPECT_EQ(r.Get("depth"), "3");
  EXPECT_EQ(r.Get("next"), "4");
  const std::string log = r.Get("_global.log");
  EXPECT_EQ(log.rfind("ctor:9,", 0), 0u) << log;
  EXPECT_NE(log.find("load,"), std::string::npos) << log;
}

TEST(Avm1Classes, RemovedClipsRunTheirUnloadHandlersAfterLeaving) {
  auto b = WidgetMovie();
  // A timeline clip with onClipEvent(unload), removed by the next frame.
  b.Tag(26, PlaceWithClipActions(5, 1, "placed", {{kEventUnload, Log(Bin(Str("event:"), Actions().PushString("_x").Raw(kGetVar), kAdd2))}}));
  Actions a;
  Set(a, "_global.log", Str(""));
  a.Append(Method(Var("_root"), "attachMovie", {Str("widget"), Str("made"), Int(4)})).Raw(kPop);
  a.Append(SetMember(Var("made"), "onUnload", Fn(Log("method,"))));
  a.Append(Method(Var("made"), "removeMovieClip", {})).Raw(kPop);
  Set(a, "during", Var("_global.log"));
  b.DoAction(a).ShowFrame();
  b.RemoveObject2(1).DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  // Not while the removing script still runs, and the first frame it
  // never showed runs no actions. The timeline's clip that hears its
  // unload stays until the next frame: its handler reads its own _x.
  EXPECT_EQ(r.Get("during"), "");
  EXPECT_EQ(r.Get("_global.log"), "method,");
  r.player.AdvanceTo(150);
  EXPECT_EQ(r.Get("_global.log"), "method,event:0");
}

TEST(Avm1Classes, SuperCallsReachTheBaseClassAlsoOnClips) {
  auto b = WidgetMovie(7);
  Actions init;
  // Base extends MovieClip: sets this.base; describe() answers "base".
  Set(init, "_global.Base", Fn(SetMember(Var("this"), "base", Str("yes"))));
  init.Append(Var("_global.Base")).Append(Var("MovieClip")).Raw(kExtends);
  init.Append(SetMember(Member(Var("_global.Base"), "prototype"), "describe", Fn(Str("base").Raw(kReturn))));
  // Sub extends Base: super() in its constructor, super.describe() in its method.
  Actions superCall = PushArgs({}).PushString("super").Raw(kGetVar).PushUndefined().Raw(kCallMethod).Raw(kPop);
  Set(init, "_global.Sub", Fn(superCall));
  init.Append(Var("_global.Sub")).Append(Var("_global.Base")).Raw(kExtends);
  init.Append(SetMember(Member(Var("_global.Sub"), "prototype"), "describe",
                        Fn(Bin(Str("sub+"), Method(Var("super"), "describe", {}), kAdd2).Raw(kReturn))));
  init.Append(Method(Var("Object"), "registerClass", {Str("widget"), Var("_global.Sub")})).Raw(kPop);
  b.DoInitAction(5, init);
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "c"});
  Actions a;
  Set(a, "base", Member(Var("c"), "base"));
  Set(a, "said", Method(Var("c"), "describe", {}));
  // The same on a plain object.
  Set(a, "o", Actions().PushInt(0).PushString("_global.Sub").Raw(kNewObject));
  Set(a, "objSaid", Method(Var("o"), "describe", {}));
  Set(a, "isBase", Bin(Var("c"), Var("_global.Base"), kInstanceOf));
  // extends sets no `constructor`: the chain's first, MovieClip's, answers.
  Set(a, "ctorIsClip", Bin(Member(Var("o"), "constructor"), Var("MovieClip"), kEquals2));
  Set(a, "ownCtor", Method(Var("o"), "hasOwnProperty", {Str("constructor")}));
  Set(a, "superCtor", Bin(Member(Member(Var("_global.Sub"), "prototype"), "__constructor__"), Var("_global.Base"), kEquals2));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("base"), "yes");
  EXPECT_EQ(r.Get("said"), "sub+base");
  EXPECT_EQ(r.Get("objSaid"), "sub+base");
  EXPECT_EQ(r.Get("isBase"), "true");
  EXPECT_EQ(r.Get("ctorIsClip"), "true");
  EXPECT_EQ(r.Get("ownCtor"), "false");
  EXPECT_EQ(r.Get("superCtor"), "true");
}

TEST(Avm1Classes, InterfacesCountForInstanceofAndCasts) {
  auto b = Movie(7);
  Actions a;
  Set(a, "_global.Shape", Fn(Actions()));   // interface Shape
  Set(a, "_global.Round", Fn(Actions()));   // interface Round extends Shape: Round implements Shape
  a.Append(Var("_global.Shape")).PushInt(1).Append(Var("_global.Round")).Raw(kImplements);
  Set(a, "_global.Ball", Fn(Actions()));    // class Ball implements Round
  a.Append(Var("_global.Round")).PushInt(1).Append(Var("_global.Ball")).Raw(kImplements);
  Set(a, "ball", Actions().PushInt(0).PushString("_global.Ball").Raw(kNewObject));
  Set(a, "isRound", Bin(Var("ball"), Var("_global.Round"), kInstanceOf));
  Set(a, "isShape", Bin(Var("ball"), Var("_global.Shape"), kInstanceOf));
  Set(a, "plainIsRound", Bin(Object({}), Var("_global.Round"), kInstanceOf));
  Set(a, "cast", Bin(Var("_global.Round"), Var("ball"), kCast).Raw(kTypeOf));
  Set(a, "failed", Bin(Var("_global.Round"), Object({}), kCast).Raw(kTypeOf));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("isRound"), "true");
  EXPECT_EQ(r.Get("isShape"), "true");
  EXPECT_EQ(r.Get("plainIsRound"), "false");
  EXPECT_EQ(r.Get("cast"), "object");
  EXPECT_EQ(r.Get("failed"), "null");
}

// ImplementsOp reads each interface's prototype as a function holds it
// (a getter on `prototype` does not run), once: a second list is ignored,
// and before version 7 nothing is kept. instanceof follows the interfaces
// of the interfaces but not their prototypes' own chains.
TEST(Avm1Classes, InterfacesAreReadOnceWithoutGettersAndNotThroughTheirChains) {
  for (std::uint8_t version : {6, 7}) {
    auto b = Movie(version);
    Actions a;
    Set(a, "_global.log", Str(""));
    Set(a, "I", Fn(Actions()));
    Set(a, "J", Fn(Actions()));
    Set(a, "Nested", Fn(Actions()));
    Set(a, "X", Fn(Actions()));
    Actions getter;
    Set(getter, "_global.log", Str("getter"));
    a.Append(Do(Var("I"), "addProperty", {Str("prototype"), Fn(getter), Actions().PushNull()}));
    Set(a, "C", Fn(Actions()));
    Set(a, "obj", Actions().PushInt(0).PushString("C").Raw(kNewObject));
    a.Append(Var("I")).PushInt(1).Append(Var("C")).Raw(kImplements);
    a.Append(Var("J")).PushInt(1).Append(Var("C")).Raw(kImplements);  // ignored
    a.Append(Var("Nested")).PushInt(1).Append(Var("I")).Raw(kImplements);
    a.Append(SetMember(Member(Var("Nested"), "prototype"), "__proto__", Member(Var("X"), "prototype")));
    Set(a, "isI", Bin(Var("obj"), Var("I"), kInstanceOf));
    Set(a, "isJ", Bin(Var("obj"), Var("J"), kInstanceOf));
    Set(a, "isNested", Bin(Var("obj"), Var("Nested"), kInstanceOf));
    Set(a, "isX", Bin(Var("obj"), Var("X"), kInstanceOf));
    Set(a, "viaProto", Bin(Var("obj"), Object({{"__proto__", Var("I")}}), kInstanceOf));
    Set(a, "log", Var("_global.log"));
    b.DoAction(a.Stop()).ShowFrame();
    Played r(b);
    const std::string v7 = version >= 7 ? "true" : "false";
    EXPECT_EQ(r.Get("isI"), v7) << int(version);
    EXPECT_EQ(r.Get("isJ"), "false") << int(version);
    EXPECT_EQ(r.Get("isNested"), v7) << int(version);
    EXPECT_EQ(r.Get("isX"), "false") << int(version);
    EXPECT_EQ(r.Get("viaProto"), "false") << int(version);
    EXPECT_EQ(r.Get("log"), "") << int(version);
  }
}

// instanceof and casts of a removed clip: it is no object any more.
TEST(Avm1Classes, ARemovedClipIsNoInstance) {
  Actions a;
  Set(a, "mc", Method(Var("_root"), "createEmptyMovieClip", {Str("mc"), Int(1)}));
  Set(a, "before", Bin(Var("mc"), Var("MovieClip"), kInstanceOf));
  a.Append(Do(Var("mc"), "removeMovieClip", {}));
  Set(a, "after", Bin(Var("mc"), Var("Object"), kInstanceOf));
  Set(a, "cast", Bin(Var("Object"), Var("mc"), kCast).Raw(kTypeOf));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("before"), "true");
  EXPECT_EQ(r.Get("after"), "false");
  EXPECT_EQ(r.Get("cast"), "null");
}

TEST(Avm1Classes, MovieClipPrototypeReachesEveryClip) {
  auto b = WidgetMovie();
  Actions a;
  a.Append(SetMember(Member(Var("MovieClip"), "prototype"), "twice",
                     Fn(Actions().Append(Bin(Member(Var("this"), "_x"), Member(Var("this"), "_x"), kAdd2)).Raw(kReturn))));
  a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("e"), Int(5)})).Raw(kPop);
  a.Append(SetMember(Var("e"), "_x", Int(4)));
  Set(a, "v", Method(Var("e"), "twice", {}));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("v"), "8");
}

// _lockroot takes any true value; inside a locking clip _root is that clip,
// for its own scripts and its children's.
TEST(Avm1Clips, LockRootMakesTheClipTheRootOfItsChildren) {
  auto b = Movie();
  Actions a;
  a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("box"), Int(1)})).Raw(kPop);
  a.Append(Method(Var("box"), "createEmptyMovieClip", {Str("inner"), Int(1)})).Raw(kPop);
  Set(a, "before", Member(Var("box"), "_lockroot"));
  a.Append(SetMember(Var("box"), "_lockroot", Str("false")));  // a non-empty string is true
  Set(a, "locked", Member(Var("box"), "_lockroot"));
  Set(a, "innerRoot", Member(Member(Var("box"), "inner"), "_root"));
  Set(a, "ownRoot", Member(Var("box"), "_root"));
  a.Append(SetMember(Var("box"), "_lockroot", Int(0)));
  Set(a, "unlockedRoot", Member(Member(Var("box"), "inner"), "_root"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("before"), "false");
  EXPECT_EQ(r.Get("locked"), "true");
  EXPECT_EQ(r.Get("innerRoot"), "_level0.box");
  EXPECT_EQ(r.Get("ownRoot"), "_level0.box");
  EXPECT_EQ(r.Get("unlockedRoot"), "_level0");
}

// swapDepths takes a sibling, or a path to one from the clip; a clip of
// another parent changes nothing. getInstanceAtDepth finds text fields.
TEST(Avm1Clips, SwapDepthsOnlyAmongSiblings) {
  auto b = Movie();
  Actions a;
  for (int i = 1; i <= 3; ++i) {
    a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("c" + std::to_string(i)), Int(i)})).Raw(kPop);
  }
  a.Append(Method(Var("c3"), "createEmptyMovieClip", {Str("child"), Int(7)})).Raw(kPop);
  a.Append(Do(Var("c1"), "swapDepths", {Var("c2")}));
  Set(a, "one", Method(Var("c1"), "getDepth"));
  a.Append(Do(Var("c2"), "swapDepths", {Str("../c1")}));
  Set(a, "two", Method(Var("c2"), "getDepth"));
  a.Append(Do(Var("c1"), "swapDepths", {Member(Var("c3"), "child")}));
  Set(a, "kept", Method(Var("c1"), "getDepth"));
  a.Append(Do(Var("c1"), "swapDepths", {Str("nothing")}));
  Set(a, "stillKept", Method(Var("c1"), "getDepth"));
  a.Append(Do(Var("_root"), "createTextField", {Str("field"), Int(9), Int(0), Int(0), Int(10), Int(10)}));
  Set(a, "field", Method(Var("_root"), "getInstanceAtDepth", {Int(9)}));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("one"), "2");
  EXPECT_EQ(r.Get("two"), "2");
  EXPECT_EQ(r.Get("kept"), "1");
  EXPECT_EQ(r.Get("stillKept"), "1");
  EXPECT_EQ(r.Get("field"), "_level0.field");
}

// tellTarget(clip) goes by the clip's present path, not by the reference:
// of two clips of one name the first found wins, and a clip's own
// toString is not asked.
TEST(Avm1Clips, TellTargetOfAClipGoesByItsPath) {
  auto b = Movie();
  Actions a;
  Set(a, "first", Method(Var("_root"), "createEmptyMovieClip", {Str("twin"), Int(1)}));
  Set(a, "second", Method(Var("_root"), "createEmptyMovieClip", {Str("twin"), Int(2)}));
  a.Append(SetMember(Var("second"), "toString", Fn(Actions().PushString("first").Raw(kReturn))));
  a.Append(Var("second")).Raw(Code(Action::kSetTarget2));
  Set(a, "mark", Str("here"));
  a.SetTarget("");
  Set(a, "firstMark", Member(Var("first"), "mark"));
  Set(a, "secondMark", Op(Member(Var("second"), "mark"), kTypeOf));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("firstMark"), "here");
  EXPECT_EQ(r.Get("secondMark"), "undefined");
}

// A tellTarget's clip removed inside the block: the actions go on in the
// clip they belong to, reading and writing its variables.
TEST(Avm1Clips, ARemovedTargetGivesWayToTheBaseClip) {
  auto b = Movie();
  Actions a;
  Set(a, "known", Str("root's"));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("t"), Int(1)}));
  a.SetTarget("t");
  Set(a, "inside", Str("t's"));
  a.Append(Do(Member(Var("_root"), "t"), "removeMovieClip", {}));
  Set(a, "seen", Var("known"));
  Set(a, "written", Str("after"));
  a.SetTarget("");
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("seen"), "root's");
  EXPECT_EQ(r.Get("written"), "after");
  EXPECT_EQ(r.Get("inside"), "");  // that one went with the clip
}

// with (value) { body }
Actions With(const Actions& value, const Actions& body) {
  const auto n = static_cast<std::uint16_t>(body.Size());
  const std::uint8_t size[] = {static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)};
  return Actions().Append(value).Raw(Code(Action::kWith), size).Append(body);
}

// getProperty and setProperty of a relative path inside a tellTarget
// whose clip is gone start from the root.
TEST(Avm1Clips, PropertyPathsOfARemovedTargetStartAtTheRoot) {
  auto getProp = [](const std::string& path, int index) {
    return Actions().PushString(path).PushInt(index).Raw(Code(Action::kGetProperty));
  };
  auto b = Movie();
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("t"), Int(1)}));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("m"), Int(2)}));
  a.Append(SetMember(Member(Var("_root"), "m"), "_x", Int(12)));
  a.SetTarget("t");
  Set(a, "_root.before", getProp("m", 0));
  a.Append(Do(Member(Var("_root"), "t"), "removeMovieClip", {}));
  Set(a, "_root.after", getProp("m", 0));
  a.Append(Actions().PushString("m").PushInt(1).PushInt(34).Raw(Code(Action::kSetProperty)));
  a.SetTarget("");
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("before"), "");  // t has no child m
  EXPECT_EQ(r.Get("after"), "12");
  EXPECT_EQ(r.Get("_root.m._y"), "34");
}

// A version 6 function whose defining clip is gone runs on the clip it is
// called on, or else on the root.
TEST(Avm1Clips, AFunctionOutlivingItsClipRunsOnTheClipItIsCalledOn) {
  auto b = Movie(6);
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("d"), Int(1)}));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(2)}));
  Actions body = Actions().PushString("").PushInt(11).Raw(Code(Action::kGetProperty));
  Actions define;
  Set(define, "_global.f", Function({}, Actions().Append(body).Raw(Code(Action::kReturn))));
  a.Append(With(Member(Var("_root"), "d"), define));
  a.Append(SetMember(Member(Var("_root"), "c"), "f", Var("_global.f")));
  Set(a, "_root.inDefiner", Method(Member(Var("_root"), "c"), "f"));
  a.Append(Do(Member(Var("_root"), "d"), "removeMovieClip", {}));
  Set(a, "_root.onClip", Method(Member(Var("_root"), "c"), "f"));
  Set(a, "_root.onObject", Method(Object({{"f", Var("_global.f")}}), "f"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("inDefiner"), "/d");
  EXPECT_EQ(r.Get("onClip"), "/c");
  EXPECT_EQ(r.Get("onObject"), "/");
}

// A function whose defining clip it removes finds the root's variables
// in place of that clip's.
TEST(Avm1Clips, AFunctionThatRemovesItsClipReadsTheRootsVariables) {
  auto b = Movie(6);
  Actions clip;
  Set(clip, "timer", Int(10));
  Actions body;
  body.Append(Do(Member(Var("_root"), "a"), "swapDepths", {Int(100)}));  // where scripts may remove it
  body.Append(Member(Var("_root"), "a")).Raw(Code(Action::kRemoveSprite));
  body.Append(Var("timer")).Raw(Code(Action::kReturn));
  Set(clip, "_root.f", Function({}, body));
  Set(clip, "_root.before", Var("timer"));
  b.DefineSprite(5, Timeline().DoAction(clip.Stop()).ShowFrame());
  Actions root;
  Set(root, "timer", Int(5));
  b.DoAction(root).PlaceObject2({.depth = 1, .characterId = 5, .name = "a"}).ShowFrame();
  Actions second;
  Set(second, "got", Method(Var("_root"), "f"));
  b.DoAction(second.Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("before"), "10");
  EXPECT_EQ(r.Get("got"), "5");
}

// Version 5 code calling a function closes over nothing: a direct call
// runs on the caller's timeline, but the toString of a conversion runs on
// the timeline that defined the function, as a call from the player does.
TEST(Avm1Functions, Version5ConversionsRunOnTheDefiningTimeline) {
  auto b = Movie(5);
  Actions clip;
  Set(clip, "foo", Str("child"));
  Set(clip, "obj", Object({{"toString", Function({}, Actions().Append(Var("foo")).Raw(kReturn))}}));
  b.DefineSprite(5, Timeline().DoAction(clip.Stop()).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "a"}).ShowFrame();
  Actions root;
  Set(root, "foo", Str("root"));
  Set(root, "direct", Method(Member(Var("a"), "obj"), "toString"));
  Set(root, "converted", Bin(Str(""), Member(Var("a"), "obj"), kAdd2));
  b.DoAction(root.Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("direct"), "root");
  EXPECT_EQ(r.Get("converted"), "child");
}

// A clip whose own tellTarget removed it reaches no clip by name after
// that, not even _root: the second jump is lost.
TEST(Avm1Clips, ARemovedBaseClipTargetsNothing) {
  auto b = Movie(6);
  Actions clip;
  clip.SetTarget("_root").GotoFrame(2).SetTarget("");
  clip.SetTarget("_root").GotoFrame(1).SetTarget("");
  b.DefineSprite(5, Timeline().DoAction(clip.Stop()).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "c"}).DoAction(Actions().Stop()).ShowFrame();
  b.ShowFrame();
  b.RemoveObject2(1).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("_root._currentframe"), "3");
}

// A clip's actions stop at their first call after the clip was removed (a
// call of a missing function too); a call on undefined is dropped first.
TEST(Avm1Clips, ARemovedClipsActionsStopAtTheirNextCall) {
  auto b = Movie(6);
  Actions clip = Log("a,");
  clip.SetTarget("_root").GotoFrame(2).SetTarget("");
  clip.Append(Log("b,")).Append(Do(Method(Undef(), "f", {}))).Append(Log("c,"));
  clip.Append(Do(New("Bogus"))).Append(Log("d,"));
  b.DefineSprite(5, Timeline().DoAction(clip.Stop()).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "c"}).DoAction(Actions().Stop()).ShowFrame();
  b.ShowFrame();
  b.RemoveObject2(1).DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("_global.log"), "a,b,c,");
}

// The main timeline plays the frames the file has, not the count its header
// declares: more frames loop through all of them, fewer stop looping early
// (a one-frame movie runs its actions once).
TEST(Avm1Clips, TheTimelinePlaysTheFramesTheFileHas) {
  for (const auto& [declared, real, expected] : {std::tuple{1, 2, "1,2,1,2,"}, std::tuple{3, 1, "1,"}}) {
    auto b = Movie(6);
    for (int i = 1; i <= real; ++i) b.DoAction(Log(std::to_string(i) + ",")).ShowFrame();
    b.SetFrameCount(static_cast<std::uint16_t>(declared));
    Played r(b);
    r.player.AdvanceTo(350);  // four frames at 10 per second
    EXPECT_EQ(r.Get("_global.log"), expected) << declared << " declared, " << real << " in the file";
  }
}

// MovieClip methods newer than a movie's version are not there for it.
TEST(Avm1Clips, NewerClipMethodsAreHiddenFromOlderMovies) {
  Actions a;
  for (const char* m : {"getDepth", "getNextHighestDepth", "getRect", "swapDepths"}) {
    Set(a, m, Op(Member(Var("_root"), m), Code(Action::kTypeOf)));
  }
  auto typeOf = [&](std::uint8_t version, const char* m) {
    auto b = Movie(version);
    b.DoAction(Actions().Append(a).Stop()).ShowFrame();
    return Played(b).Get(m);
  };
  EXPECT_EQ(typeOf(5, "getDepth"), "undefined");
  EXPECT_EQ(typeOf(5, "swapDepths"), "function");
  EXPECT_EQ(typeOf(6, "getDepth"), "function");
  EXPECT_EQ(typeOf(6, "getNextHighestDepth"), "undefined");
  EXPECT_EQ(typeOf(7, "getNextHighestDepth"), "function");
  EXPECT_EQ(typeOf(7, "getRect"), "undefined");
  EXPECT_EQ(typeOf(8, "getRect"), "function");
}

// A dotted variable path that breaks off in the timeline (a step that is no
// object, or nothing at its end) is looked for again in the globals.
TEST(Avm1Runtime, DottedPathsFallBackToOuterScopes) {
  auto b = Movie();
  Actions a;
  a.Append(SetMember(Var("_global"), "a", Object({{"b", Object({{"c", Str("global")}})}})));
  Set(a, "a", Object({{"b", Str("text")}}));
  Set(a, "throughText", Var("a.b.c"));
  Set(a, "a", Object({{"b", Object({})}}));
  Set(a, "missingEnd", Var("a.b.c"));
  Set(a, "a", Object({{"b", Object({{"c", Str("mine")}})}}));
  Set(a, "own", Var("a.b.c"));
  Set(a, "s", Str("abc"));
  Set(a, "length", Var("s.length"));
  Set(a, "nothing", Op(Var("none.x.y"), kTypeOf));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("throughText"), "global");
  EXPECT_EQ(r.Get("missingEnd"), "global");
  EXPECT_EQ(r.Get("own"), "mine");
  EXPECT_EQ(r.Get("length"), "3");
  EXPECT_EQ(r.Get("nothing"), "undefined");
}

// __proto__ set to a value that is no object (null, undefined, a number)
// cuts the chain (no toString or valueOf is found, so the object prints as
// [type Object]) and reads back as that value; delete removes it too.
TEST(Avm1Classes, APrimitiveProtoCutsTheChainAndReadsBack) {
  Actions a;
  Set(a, "o", Object({{"__proto__", Actions().PushNull()}}));
  Set(a, "text", Call("String", {Var("o")}));
  Set(a, "proto", Op(Member(Var("o"), "__proto__"), kTypeOf));
  Set(a, "p", Object({}));
  a.Append(SetMember(Var("p"), "__proto__", Undef()));
  Set(a, "undefProto", Op(Member(Var("p"), "__proto__"), kTypeOf));
  Set(a, "n", Object({{"__proto__", Int(123)}}));
  Set(a, "numberProto", Member(Var("n"), "__proto__"));
  Set(a, "numberText", Call("String", {Var("n")}));
  Set(a, "d", Object({}));
  Set(a, "deleted", Actions().Append(Var("d")).PushString("__proto__").Raw(Code(Action::kDelete)));
  Set(a, "deletedProto", Op(Member(Var("d"), "__proto__"), kTypeOf));
  Set(a, "deletedText", Call("String", {Var("d")}));
  a.Append(SetMember(Var("o"), "__proto__", Member(Var("Object"), "prototype")));
  Set(a, "back", Call("String", {Var("o")}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("text"), "[type Object]");
  EXPECT_EQ(r.Get("proto"), "null");
  EXPECT_EQ(r.Get("undefProto"), "undefined");
  EXPECT_EQ(r.Get("numberProto"), "123");
  EXPECT_EQ(r.Get("numberText"), "[type Object]");
  EXPECT_EQ(r.Get("deleted"), "true");
  EXPECT_EQ(r.Get("deletedProto"), "undefined");
  EXPECT_EQ(r.Get("deletedText"), "[type Object]");
  EXPECT_EQ(r.Get("back"), "[object Object]");
}

// An object may be its own prototype; reading a property it lacks walks
// the cycle until Flash's limit and stops the action list there (the next
// frame's actions run again).
TEST(Avm1Classes, ACyclicPrototypeChainStopsTheActionList) {
  auto b = Movie();
  Actions a;
  Set(a, "o", Object({}));
  a.Append(SetMember(Var("o"), "__proto__", Var("o")));
  Set(a, "same", Bin(Member(Var("o"), "__proto__"), Var("o"), Code(Action::kStrictEquals)));
  Set(a, "missing", Member(Var("o"), "nothing"));
  Set(a, "after", Str("ran"));
  b.DoAction(a).ShowFrame();
  Actions next;
  b.DoAction(Set(next, "next", Str("ran")).Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(150);
  EXPECT_EQ(r.Get("same"), "true");
  EXPECT_EQ(r.Get("missing"), "") << "the read itself stops the list";
  EXPECT_EQ(r.Get("after"), "");
  EXPECT_EQ(r.Get("next"), "ran");
}

// A clip that has no variables yet still reports MovieClip's prototype.
TEST(Avm1Classes, AFreshClipsProtoIsMovieClipPrototype) {
  auto b = Movie();
  Actions a;
  Set(a, "same", Bin(Member(Method(Var("_root"), "createEmptyMovieClip", {Str("e"), Int(1)}), "__proto__"),
                     Member(Var("MovieClip"), "prototype"), Code(Action::kStrictEquals)));
  b.DoAction(a.Stop()).ShowFrame();
  EXPECT_EQ(Played(b).Get("same"), "true");
}

// An empty clip's bounds are Flash's sentinel, 6710886.35; a Flash 8 movie
// measuring them in another clip's space reads 6710886.4.
TEST(Avm1Clips, EmptyClipBoundsSentinelByVersion) {
  auto run = [](std::uint8_t version) {
    auto b = Movie(version);
    Actions a;
    a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("e"), Int(1)})).Raw(kPop);
    Set(a, "own", Member(Method(Var("e"), "getBounds", {Var("e")}), "xMin"));
    Set(a, "other", Member(Method(Var("e"), "getBounds", {Var("_root")}), "xMax"));
    b.DoAction(a.Stop()).ShowFrame();
    return std::make_unique<Played>(b);
  };
  auto v7 = run(7);
  EXPECT_EQ(v7->Get("own"), "6710886.35");
  EXPECT_EQ(v7->Get("other"), "6710886.35");
  auto v8 = run(8);
  EXPECT_EQ(v8->Get("own"), "6710886.35");
  EXPECT_EQ(v8->Get("other"), "6710886.4");
}

TEST(Avm1Clips, AnEmptyClipIsOnFrameZeroUntilItFirstRuns) {
  auto b = Movie();
  Actions a;
  a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("e"), Int(1)})).Raw(kPop);
  a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("g"), Int(2)})).Raw(kPop);
  Set(a, "atMaking", Member(Var("e"), "_currentframe"));
  Set(a, "loaded", Member(Var("e"), "_framesloaded"));
  a.Append(Do(Method(Var("g"), "gotoAndStop", {Int(1)})));
  Set(a, "afterGoto", Member(Var("g"), "_currentframe"));
  b.DoAction(a).ShowFrame();
  Actions next;
  Set(next, "nextFrame", Member(Var("e"), "_currentframe"));
  b.DoAction(next.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("atMaking"), "0");
  EXPECT_EQ(r.Get("loaded"), "1");
  EXPECT_EQ(r.Get("afterGoto"), "1");
  r.player.AdvanceTo(200);
  EXPECT_EQ(r.Get("nextFrame"), "1");
}

// MovieClip.prototype.onConstruct runs inside createEmptyMovieClip, on the
// new clip; an error it throws stops there, not in the caller.
TEST(Avm1Classes, OnConstructRunsAsTheClipIsMade) {
  auto b = Movie();
  Actions a;
  Set(a, "_global.log", Str(""));
  a.Append(SetMember(Member(Var("MovieClip"), "prototype"), "onConstruct",
                     Fn(Log(Bin(Member(Var("this"), "_name"), Str(","), kAdd2)))));
  a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("first"), Int(1)})).Raw(kPop);
  a.Append(Log("after,"));
  a.Append(SetMember(Member(Var("MovieClip"), "prototype"), "onConstruct",
                     Fn(Actions().PushString("bad").Raw(Code(Action::kThrow)))));
  a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("second"), Int(2)})).Raw(kPop);
  Set(a, "reached", Bool(true));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("_global.log"), "first,after,");
  EXPECT_EQ(r.Get("reached"), "true");
}

// A function's prototype, built-in or made by script, survives delete.
TEST(Avm1Classes, PrototypesSurviveDelete) {
  auto b = Movie();
  Actions a;
  Set(a, "_global.F", Fn(Actions()));
  for (const char* cls : {"Object", "MovieClip", "_global.F"}) {
    a.Append(Var(cls)).PushString("prototype").Raw(Code(Action::kDelete)).Raw(kPop);
  }
  Set(a, "object", Actions().Append(Member(Var("Object"), "prototype")).Raw(Code(Action::kTypeOf)));
  Set(a, "clip", Actions().Append(Member(Var("MovieClip"), "prototype")).Raw(Code(Action::kTypeOf)));
  Set(a, "script", Actions().Append(Member(Var("_global.F"), "prototype")).Raw(Code(Action::kTypeOf)));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("object"), "object");
  EXPECT_EQ(r.Get("clip"), "object");
  EXPECT_EQ(r.Get("script"), "object");
}

TEST(Avm1Classes, PropFlagsHideProtectAndVersionProperties) {
  auto run = [](std::uint8_t version) {
    auto b = Movie(version);
    Actions a;
    Set(a, "o", Object({{"a", Int(1)}, {"b", Int(2)}, {"c", Int(3)}}));
    a.Append(Call("ASSetPropFlags", {Var("o"), Str("a,b"), Int(1)})).Raw(kPop);
    Set(a, "names", Str(""));
    a.Append(ForIn(Var("o"), [] {
      Actions body;
      return Set(body, "names", Bin(Var("names"), Actions().PushRegister(0), kAdd2));
    }()));
    // Read-only and kept from delete.
    a.Append(Call("ASSetPropFlags", {Var("o"), Str("c"), Int(4 | 2)})).Raw(kPop);
    a.Append(SetMember(Var("o"), "c", Int(9)));
    Set(a, "deleted", Actions().Append(Var("o")).PushString("c").Raw(kDelete));
    Set(a, "c", Member(Var("o"), "c"));
    // Cleared again: enumerated and writable.
    a.Append(Call("ASSetPropFlags", {Var("o"), Actions().PushNull(), Int(0), Int(7)})).Raw(kPop);
    a.Append(SetMember(Var("o"), "c", Int(10)));
    Set(a, "c2", Member(Var("o"), "c"));
    // Seen by SWF 7 movies and later only.
    a.Append(Call("ASSetPropFlags", {Var("o"), Str("b"), Int(0x400)})).Raw(kPop);
    Set(a, "b", Actions().Append(Member(Var("o"), "b")).Raw(kTypeOf));
    b.DoAction(a.Stop()).ShowFrame();
    return b;
  };
  Played r6(run(6));
  EXPECT_EQ(r6.Get("names"), "c");
  EXPECT_EQ(r6.Get("deleted"), "false");
  EXPECT_EQ(r6.Get("c"), "3");
  EXPECT_EQ(r6.Get("c2"), "10");
  EXPECT_EQ(r6.Get("b"), "undefined");
  Played r7(run(7));
  EXPECT_EQ(r7.Get("b"), "number");
}

// undefined as the names argument names the property "undefined"; only null
// (or no names at all) means every property.
TEST(Avm1Classes, PropFlagsTakeUndefinedAsAName) {
  auto b = Movie();
  Actions a;
  Set(a, "o", Object({{"a", Int(1)}, {"undefined", Int(2)}}));
  a.Append(Call("ASSetPropFlags", {Var("o"), Undef(), Int(1), Int(0)})).Raw(kPop);
  Set(a, "names", Str(""));
  a.Append(ForIn(Var("o"), [] {
    Actions body;
    return Set(body, "names", Bin(Var("names"), Actions().PushRegister(0), kAdd2));
  }()));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("names"), "a");
}

// Listeners compare with ==: undefined and null are one listener; adding
// one again moves it to the end. MovieClipLoader has the same methods.
TEST(Avm1Listeners, ListenersCompareLooselyAndMoveToTheEnd) {
  auto b = Movie();
  Actions a;
  Set(a, "src", Object({}));
  a.Append(Method(Var("AsBroadcaster"), "initialize", {Var("src")})).Raw(kPop);
  Set(a, "one", Object({}));
  a.Append(Method(Var("src"), "addListener", {Undef()})).Raw(kPop);
  a.Append(Method(Var("src"), "addListener", {Actions().PushNull()})).Raw(kPop);  // replaces undefined
  a.Append(Method(Var("src"), "addListener", {Var("one")})).Raw(kPop);
  a.Append(Method(Var("src"), "addListener", {Bool(false)})).Raw(kPop);
  a.Append(Method(Var("src"), "addListener", {Var("one")})).Raw(kPop);  // moves to the end
  Set(a, "count", Member(Member(Var("src"), "_listeners"), "length"));
  Set(a, "first", Actions().Append(Member(Member(Var("src"), "_listeners"), "0")).Raw(kTypeOf));
  Set(a, "lastIsOne", Bin(Member(Member(Var("src"), "_listeners"), "2"), Var("one"), Code(Action::kStrictEquals)));
  Set(a, "removedNull", Method(Var("src"), "removeListener", {Undef()}));
  Set(a, "removedAgain", Method(Var("src"), "removeListener", {Undef()}));
  Set(a, "shared", Bin(Member(Member(Var("MovieClipLoader"), "prototype"), "addListener"),
                       Member(Var("AsBroadcaster"), "addListener"), Code(Action::kStrictEquals)));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("count"), "3");
  EXPECT_EQ(r.Get("first"), "null");
  EXPECT_EQ(r.Get("lastIsOne"), "true");
  EXPECT_EQ(r.Get("removedNull"), "true");
  EXPECT_EQ(r.Get("removedAgain"), "false");
  EXPECT_EQ(r.Get("shared"), "true");
}

TEST(Avm1Listeners, AsBroadcasterCallsEachListenerOnceInOrder) {
  auto b = Movie();
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "src", Object({}));
  a.Append(Method(Var("AsBroadcaster"), "initialize", {Var("src")})).Raw(kPop);
  Set(a, "one", Object({{"onPing", Fn(Log(Bin(Str("1"), Var("v"), kAdd2)), {"v"})}}));
  Set(a, "two", Object({{"onPing", Fn(Log(Bin(Str("2"), Var("v"), kAdd2)), {"v"})}}));
  for (const char* l : {"one", "two", "one"}) a.Append(Method(Var("src"), "addListener", {Var(l)})).Raw(kPop);
  Set(a, "count", Member(Member(Var("src"), "_listeners"), "length"));
  Set(a, "heard", Method(Var("src"), "broadcastMessage", {Str("onPing"), Str("x")}));
  Set(a, "removed", Method(Var("src"), "removeListener", {Var("one")}));
  Set(a, "again", Method(Var("src"), "removeListener", {Var("one")}));
  a.Append(Method(Var("src"), "broadcastMessage", {Str("onPing"), Str("y")})).Raw(kPop);
  // The methods and the list are not enumerated.
  Set(a, "names", Str(""));
  a.Append(ForIn(Var("src"), [] {
    Actions body;
    return Set(body, "names", Bin(Var("names"), Actions().PushRegister(0), kAdd2));
  }()));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("count"), "2");
  EXPECT_EQ(r.Get("_global.log"), "2x1x2y");  // adding `one` again moved it after `two`
  EXPECT_EQ(r.Get("heard"), "true");
  EXPECT_EQ(r.Get("removed"), "true");
  EXPECT_EQ(r.Get("again"), "false");
  EXPECT_EQ(r.Get("names"), "");
}

// Stage.displayState takes its two names in any case; each change, and only
// a change, reaches the Stage listeners' onFullScreen at once.
TEST(Avm1Listeners, DisplayStateChangesTellStageListeners) {
  auto b = Movie();
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "l", Object({{"onFullScreen", Fn(Log(Bin(Str("full="), Var("f"), kAdd2)), {"f"})}}));
  a.Append(Method(Var("Stage"), "addListener", {Var("l")})).Raw(kPop);
  Set(a, "first", Member(Var("Stage"), "displayState"));
  for (const char* state : {"A", "FULLSCREEN", "fullScreen", "Normal"}) {
    a.Append(SetMember(Var("Stage"), "displayState", Str(state)));
    a.Append(Log(Bin(Str(";"), Member(Var("Stage"), "displayState"), kAdd2)));
  }
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("first"), "normal");
  EXPECT_EQ(r.Get("_global.log"), ";normalfull=true;fullScreen;fullScreenfull=false;normal");
}

// A red 20 x 20 pixel square in sprite 5, placed as "box" at the origin.
SwfBuilder BoxMovie() {
  auto b = Movie();
  b.DefineShape(1, Square(400, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "box"});
  return b;
}

TEST(Avm1Listeners, MouseListenersAndClipMouseMethodsHearThePointer) {
  auto b = BoxMovie();
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "l", Object({{"onMouseDown", Fn(Log("down,"))}, {"onMouseUp", Fn(Log("up,"))}}));
  a.Append(Method(Var("Mouse"), "addListener", {Var("l")})).Raw(kPop);
  a.Append(SetMember(Var("box"), "onMouseDown", Fn(Log(Bin(Str("box"), Member(Var("this"), "_xmouse"), kAdd2)))));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  r.player.MouseDown(60, 70);
  r.player.MouseUp(60, 70);
  // Anywhere on the stage; the clip's own method too, with the pointer (at
  // the pixel's centre) in its space.
  EXPECT_EQ(r.Get("_global.log"), "down,box60.5up,");
}

TEST(Avm1Listeners, ClipsWithButtonHandlersActAsButtons) {
  auto b = BoxMovie();
  Actions a;
  Set(a, "_global.log", Str(""));
  for (const char* h : {"onRollOver", "onRollOut", "onPress", "onRelease", "onReleaseOutside", "onDragOut"}) {
    a.Append(SetMember(Var("box"), h, Fn(Log(std::string(h) + ","))));
  }
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  r.player.MouseMove(50, 50);
  EXPECT_EQ(r.Get("_global.log"), "");
  r.player.MouseMove(5, 5);
  EXPECT_TRUE(r.player.OverButton());
  r.player.MouseDown(5, 5);
  r.player.MouseUp(5, 5);
  EXPECT_EQ(r.Get("_global.log"), "onRollOver,onPress,onRelease,");
  r.player.MouseDown(5, 5);
  r.player.MouseMove(60, 60);
  r.player.MouseUp(60, 60);
  EXPECT_EQ(r.Get("_global.log"), "onRollOver,onPress,onRelease,onPress,onDragOut,onReleaseOutside,");
  // A clip that is not enabled is no button.
  auto disabled = BoxMovie();
  disabled.DoAction(Actions().Append(a).Append(SetMember(Var("box"), "enabled", Actions().PushBool(false))).Stop()).ShowFrame();
  Played off(disabled);
  off.player.MouseMove(5, 5);
  off.player.MouseDown(5, 5);
  EXPECT_EQ(off.Get("_global.log"), "");
  EXPECT_FALSE(off.player.OverButton());
}

TEST(Avm1Listeners, DraggedClipsFollowThePointerInsideTheirBounds) {
  auto b = BoxMovie();
  Actions a;
  a.Append(Method(Var("box"), "startDrag", {Actions().PushBool(true)})).Raw(kPop);
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  r.player.MouseMove(40, 30);
  EXPECT_EQ(r.Get("box._x"), "40.5");  // the pointer is at the pixel's centre
  EXPECT_EQ(r.Get("box._y"), "30.5");
  auto b2 = BoxMovie();
  b2.DoAction(Actions()
                  .Append(Method(Var("box"), "startDrag", {Actions().PushBool(false), Int(0), Int(0), Int(25), Int(10)}))
                  .Raw(kPop)
                  .Stop())
      .ShowFrame();
  Played bounded(b2);
  bounded.player.MouseMove(5, 5);
  bounded.player.MouseMove(80, 80);
  EXPECT_EQ(bounded.Get("box._x"), "25");
  EXPECT_EQ(bounded.Get("box._y"), "10");
}

TEST(Avm1Listeners, StopDragLeavesTheClipWhereItIs) {
  auto b2 = BoxMovie();
  b2.DoAction(Actions()
                  .Append(Method(Var("box"), "startDrag", {Actions().PushBool(true)}))
                  .Raw(kPop)
                  .Append(SetMember(Var("box"), "onMouseUp", Fn(Method(Var("this"), "stopDrag", {}).Raw(kPop))))
                  .Stop())
      .ShowFrame();
  Played r2(b2);
  r2.player.MouseMove(40, 30);
  r2.player.MouseDown(40, 30);
  r2.player.MouseUp(40, 30);
  r2.player.MouseMove(80, 80);
  EXPECT_EQ(r2.Get("box._x"), "40.5");
}

// With the shape flag, a shape under a mask hits only where the mask covers
// too: a mask layer of the timeline (clip depth) or a clip's setMask.
TEST(Avm1Clips, HitTestWithTheShapeFlagKeepsToMasks) {
  auto b = Movie();
  b.DefineShape(1, Square(200, kRed));        // 10 pixels
  b.DefineShape(2, Square(1000, kRed));       // 50 pixels
  b.DefineShape(3, Square(200, kRed, 1600));  // 10 pixels at x 80
  b.DefineSprite(5, Timeline()
                        .PlaceObject2({.depth = 1, .characterId = 1, .clipDepth = 2})
                        .PlaceObject2({.depth = 2, .characterId = 2})
                        .PlaceObject2({.depth = 3, .characterId = 3})
                        .ShowFrame());
  b.DefineSprite(6, Timeline().PlaceObject2({.depth = 1, .characterId = 2}).ShowFrame());
  b.DefineSprite(7, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "layered"});
  b.PlaceObject2({.depth = 2, .characterId = 6, .name = "big"});
  b.PlaceObject2({.depth = 3, .characterId = 7, .name = "small"});
  Actions a;
  auto hit = [](const char* clip, int x, int y) { return Method(Var(clip), "hitTest", {Int(x), Int(y), Bool(true)}); };
  Set(a, "layerIn", hit("layered", 5, 5));
  Set(a, "layerOut", hit("layered", 30, 30));  // the shape is there, the mask is not
  Set(a, "layerAbove", hit("layered", 85, 5));  // past the mask's depths
  Set(a, "plainOut", hit("big", 30, 30));
  a.Append(Do(Var("big"), "setMask", {Var("small")}));
  Set(a, "scriptIn", hit("big", 5, 5));
  Set(a, "scriptOut", hit("big", 30, 30));
  Set(a, "box", Method(Var("big"), "hitTest", {Int(30), Int(30), Bool(false)}));  // the box ignores masks
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("layerIn"), "true");
  EXPECT_EQ(r.Get("layerOut"), "false");
  EXPECT_EQ(r.Get("layerAbove"), "true");
  EXPECT_EQ(r.Get("plainOut"), "true");
  EXPECT_EQ(r.Get("scriptIn"), "true");
  EXPECT_EQ(r.Get("scriptOut"), "false");
  EXPECT_EQ(r.Get("box"), "true");
}

TEST(Avm1Clips, HitTestWithTheShapeFlagSeesTheGapsBetweenShapes) {
  auto b = Movie();
  b.DefineShape(1, Square(200, kRed));
  b.DefineShape(2, Square(200, kRed, 1000));
  b.DefineSprite(5, Timeline()
                        .PlaceObject2({.depth = 1, .characterId = 1})
                        .PlaceObject2({.depth = 2, .characterId = 2})
                        .ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "pair"});
  Actions a;
  Set(a, "box", Method(Var("pair"), "hitTest", {Int(30), Int(5), Actions().PushBool(false)}));
  Set(a, "shape", Method(Var("pair"), "hitTest", {Int(30), Int(5), Actions().PushBool(true)}));
  Set(a, "onShape", Method(Var("pair"), "hitTest", {Int(55), Int(5), Actions().PushBool(true)}));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("box"), "true");
  EXPECT_EQ(r.Get("shape"), "false");
  EXPECT_EQ(r.Get("onShape"), "true");
}

TEST(Avm1Runtime, TimeoutsRunOnceAndIntervalsTakeExtraArguments) {
  auto b = Movie();
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "t", Call("setTimeout", {Fn(Log(Var("v")), {"v"}), Int(150), Str("t")}));
  Set(a, "gone", Call("setTimeout", {Fn(Log("never")), Int(50)}));
  a.Append(Call("clearTimeout", {Var("gone")})).Raw(kPop);
  // Object and method form.
  Set(a, "o", Object({{"tick", Fn(Log(Var("w")), {"w"})}}));
  Set(a, "iv", Call("setInterval", {Var("o"), Str("tick"), Int(100), Str("i")}));
  b.DoAction(a).ShowFrame();
  b.ShowFrame().ShowFrame().ShowFrame();
  b.DoAction(Actions().Append(Call("clearInterval", {Var("iv")})).Raw(kPop).Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(1000);
  const std::string log = r.Get("_global.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), 't'), 1) << log;
  EXPECT_EQ(log.find("never"), std::string::npos) << log;
  EXPECT_GE(std::count(log.begin(), log.end(), 'i'), 2) << log;
  EXPECT_LE(std::count(log.begin(), log.end(), 'i'), 4) << log;
}

TEST(Avm1Runtime, StageReportsTheMovieAndItsModes) {
  auto b = Movie();
  Actions a;
  Set(a, "w", Member(Var("Stage"), "width"));
  Set(a, "mode", Member(Var("Stage"), "scaleMode"));
  a.Append(SetMember(Var("Stage"), "scaleMode", Str("noscale")));
  Set(a, "mode2", Member(Var("Stage"), "scaleMode"));
  a.Append(SetMember(Var("Stage"), "scaleMode", Str("sideways")));
  Set(a, "mode3", Member(Var("Stage"), "scaleMode"));
  a.Append(SetMember(Var("Stage"), "width", Int(5)));
  Set(a, "w2", Member(Var("Stage"), "width"));
  a.Append(SetMember(Var("Stage"), "align", Str("tl")));
  Set(a, "align", Member(Var("Stage"), "align"));
  Set(a, "added", Method(Var("Stage"), "addListener", {Object({})}));
  Set(a, "menu", Member(Var("Stage"), "showMenu"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("w"), "100");
  EXPECT_EQ(r.Get("mode"), "showAll");
  EXPECT_EQ(r.Get("mode2"), "noScale");
  EXPECT_EQ(r.Get("mode3"), "showAll");  // a name Flash does not know
  EXPECT_EQ(r.Get("w2"), "100");
  EXPECT_EQ(r.Get("align"), "LT");
  EXPECT_EQ(r.Get("added"), "true");
  EXPECT_EQ(r.Get("menu"), "true");
}

TEST(Avm1Runtime, EndlessLoopsAreCutOffAndClockLoopsEnd) {
  // while (getTimer() - start < 20) n++;
  auto b = Movie();
  Actions loop;
  Actions body;
  Set(body, "n", Actions().Append(Var("n")).Raw(kIncrement));
  Actions cond = Bin(Bin(Actions().Raw(kGetTime), Var("start"), kSubtract), Int(20), kLess2).Raw(Code(Action::kNot));
  Actions a;
  Set(a, "n", Int(0));
  Set(a, "start", Actions().Raw(kGetTime));
  const auto back = static_cast<std::int16_t>(cond.Size() + 5 + body.Size() + 5);
  a.Append(cond).If(static_cast<std::int16_t>(body.Size() + 5)).Append(body).Jump(static_cast<std::int16_t>(-back));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_GT(std::stoi(r.Get("n")), 100);
  EXPECT_FALSE(r.Skipped("too many actions in one frame"));

  // A frame that jumps to itself for ever, at a high frame rate.
  SwfBuilder spin(6, {0, 2000, 0, 2000}, 240.0);
  spin.DoAction(Actions().Jump(-5)).ShowFrame();
  Played s(spin);
  s.player.AdvanceTo(2000);
  EXPECT_TRUE(s.Skipped("too many actions in one frame"));
}

// try { body } catch (register 1) { catchBody }
Actions TryCatch(const Actions& body, const Actions& catchBody) {
  const auto b = static_cast<std::uint16_t>(body.Size()), c = static_cast<std::uint16_t>(catchBody.Size());
  const std::uint8_t head[] = {0x05,  // a catch, into a register
                               static_cast<std::uint8_t>(b & 0xFF), static_cast<std::uint8_t>(b >> 8),
                               static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>(c >> 8), 0, 0, 1};
  return Actions().Raw(Code(Action::kTry), head).Append(body).Append(catchBody);
}

// A caught throw drops what the try body left on the stack, never what was
// below it; a try body that ends normally keeps its values.
TEST(Avm1Runtime, ACaughtThrowCutsTheStackBackToTheTry) {
  Actions a;
  a.PushString("below");
  a.Append(TryCatch(Actions().PushString("inside").PushString("err").Raw(Code(Action::kThrow)), Actions()));
  a.PushString("set").SetVariable();  // names the variable on top: "below" when cut back
  a.PushString("first");
  a.Append(TryCatch(Actions().Raw(kPop).PushString("err").Raw(Code(Action::kThrow)), Actions()));
  a.PushString("shorter").SetVariable();  // a try body that popped stays popped
  a.PushString("second");
  a.Append(TryCatch(Actions().PushString("kept"), Actions()));
  a.PushString("normal").SetVariable();
  Played r(Script(a));
  EXPECT_EQ(r.Get("below"), "set");
  EXPECT_EQ(r.Get("inside"), "");
  EXPECT_EQ(r.Get("kept"), "normal");
}

// try { body } [catch (register 1) { catchBody }] finally { finallyBody }
Actions TryFinally(const Actions& body, const Actions* catchBody, const Actions& finallyBody) {
  const auto b = static_cast<std::uint16_t>(body.Size());
  const auto c = static_cast<std::uint16_t>(catchBody ? catchBody->Size() : 0);
  const auto fin = static_cast<std::uint16_t>(finallyBody.Size());
  const std::uint8_t head[] = {static_cast<std::uint8_t>(catchBody ? 0x07 : 0x06),
                               static_cast<std::uint8_t>(b & 0xFF), static_cast<std::uint8_t>(b >> 8),
                               static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>(c >> 8),
                               static_cast<std::uint8_t>(fin & 0xFF), static_cast<std::uint8_t>(fin >> 8), 1};
  Actions a = Actions().Raw(Code(Action::kTry), head).Append(body);
  if (catchBody) a.Append(*catchBody);
  return a.Append(finallyBody);
}

// A finally block runs before a return from its try or catch block leaves
// the function, and before a throw from them (one uncaught, or thrown again
// by the catch block) goes on to the caller.
TEST(Avm1Runtime, FinallyRunsBeforeReturnsAndThrowsLeave) {
  auto logged = [](const std::string& text) {
    Actions a;
    return Set(a, "_global.log", Bin(Var("_global.log"), Str(text), kAdd2));
  };
  Actions a;
  Set(a, "_global.log", Str(""));
  const Actions rethrow = Actions().PushString("again").Raw(Code(Action::kThrow));
  const Actions ret = Actions().PushInt(5).Raw(kReturn);
  a.Append(Actions().DefineFunction("returns", {}, TryFinally(ret, nullptr, logged("f1,"))));
  a.Append(Actions().DefineFunction("uncaught", {}, Actions().Append(TryFinally(
      Actions().PushString("err").Raw(Code(Action::kThrow)), nullptr, logged("f2,"))).Append(logged("after2,"))));
  a.Append(Actions().DefineFunction("rethrows", {}, Actions().Append(TryFinally(
      Actions().PushString("err").Raw(Code(Action::kThrow)), &rethrow, logged("f3,"))).Append(logged("after3,"))));
  a.Append(Actions().DefineFunction("catchReturns", {}, TryFinally(
      Actions().PushString("err").Raw(Code(Action::kThrow)), &ret, logged("f4,"))));
  Set(a, "r1", Call("returns"));
  a.Append(TryCatch(Do(Call("uncaught")), Actions()));
  Set(a, "caught2", Actions().PushRegister(1));
  a.Append(TryCatch(Do(Call("rethrows")), Actions()));
  Set(a, "caught3", Actions().PushRegister(1));
  Set(a, "r4", Call("catchReturns"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("r1"), "5");
  EXPECT_EQ(r.Get("caught2"), "err");
  EXPECT_EQ(r.Get("caught3"), "again");
  EXPECT_EQ(r.Get("r4"), "5");
  EXPECT_EQ(r.Get("_global.log"), "f1,f2,f3,f4,");
}

// Child clips by name: in any case before version 7 (past ASCII by
// Flash's case tables), exactly from version 7, where _level0 too must be
// so spelt; properties such as _X stay case-blind.
TEST(Avm1Runtime, ClipNamesAreCaseSensitiveFromVersionSeven) {
  for (const std::uint8_t version : {6, 7}) {
    Actions a;
    a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("clip\xC3\xA4"), Int(1)})));
    Set(a, "upper", Op(Var("CLIP\xC3\x84"), kTypeOf));
    Set(a, "same", Op(Var("clip\xC3\xA4"), kTypeOf));
    Set(a, "level", Op(Var("_LeVeL0"), kTypeOf));
    Set(a, "x", Member(Var("clip\xC3\xA4"), "_X"));
    Played r(Script(a, version));
    SCOPED_TRACE(version);
    EXPECT_EQ(r.Get("upper"), version < 7 ? "movieclip" : "undefined");
    EXPECT_EQ(r.Get("same"), "movieclip");
    EXPECT_EQ(r.Get("level"), version < 7 ? "movieclip" : "undefined");
    EXPECT_EQ(r.Get("x"), "0");
  }
}

TEST(Avm1Runtime, AClipMemberIsItsVariableThenAPathNameThenAChildThenAPropertyThenThePrototype) {
  Actions a;
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("clip"), Int(1)})));
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("_x"), Int(2)})));
  a.Append(SetMember(Member(Var("MovieClip"), "prototype"), "clip", Int(2)));
  a.Append(SetMember(Member(Var("MovieClip"), "prototype"), "_level1", Int(99)));
  Set(a, "child", Member(Var("_root"), "clip"));
  // A child named like a property hides the property from reads only.
  a.Append(SetMember(Var("_root"), "_x", Int(42)));
  Set(a, "childX", Member(Var("_root"), "_x"));
  Set(a, "realX", Actions().PushString("_root").PushInt(0).Raw(Code(Action::kGetProperty)));
  // A missing level answers undefined, not the prototype's value.
  Set(a, "level1", Op(Member(Var("_root"), "_level1"), kTypeOf));
  Set(a, "bare", Var("_level"));
  Set(a, "flash", Var("_flash0abc"));
  Set(a, "wrapped", Var("_level4294967296"));
  Set(a, "negative", Op(Var("_level2147483648"), kTypeOf));
  // A variable of a level's name comes first.
  a.Append(SetMember(Var("_root"), "_level0", Int(50)));
  Set(a, "varLevel", Var("_level0"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("child"), "_level0.clip");
  EXPECT_EQ(r.Get("childX"), "_level0._x");
  EXPECT_EQ(r.Get("realX"), "42");
  EXPECT_EQ(r.Get("level1"), "undefined");
  EXPECT_EQ(r.Get("bare"), "_level0");
  EXPECT_EQ(r.Get("flash"), "_level0");
  EXPECT_EQ(r.Get("wrapped"), "_level0");
  EXPECT_EQ(r.Get("negative"), "undefined");
  EXPECT_EQ(r.Get("varLevel"), "50");
}

// `this` is a variable a script may assign: at the top of a timeline the
// assigned value hides the clip; in a function it is the call's own local.
TEST(Avm1Runtime, AssignedThisWinsOverTheImplicitOne) {
  Actions a;
  Set(a, "before", Op(Var("this"), kTypeOf));
  Set(a, "this", Str("test"));
  Set(a, "top", Var("this"));
  Actions inner;
  Set(inner, "_global.innerSees", Op(Var("this"), kTypeOf));
  Actions outer;
  Set(outer, "this", Int(1234));
  outer.Append(Do(Call("inner")));
  Set(outer, "_global.outerSees", Var("this"));
  a.Append(Actions().DefineFunction("inner", {}, inner)).Append(Actions().DefineFunction("outer", {}, outer));
  a.Append(Do(Method(Object({}), "f", {})));
  Set(a, "o", Object({{"f", Var("outer")}}));
  a.Append(Do(Method(Var("o"), "f", {})));
  Set(a, "after", Var("this"));
  Played r(Script(a, 15));
  EXPECT_EQ(r.Get("before"), "movieclip");
  EXPECT_EQ(r.Get("top"), "test");
  EXPECT_EQ(r.Get("_global.outerSees"), "1234");
  EXPECT_EQ(r.Get("_global.innerSees"), "movieclip") << "a nested call has its own this";
  EXPECT_EQ(r.Get("after"), "test") << "the function's assignment stays in its call";
}

// Flash 4 has no movie clip values: `this`, `_root`, `_level0`, `_global`
// and child clips by name read as undefined until a script sets them as
// plain variables; properties still read.
TEST(Avm1Runtime, Flash4NamesNoClipValues) {
  auto b = Movie(4);
  b.DefineSprite(5, Timeline().ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "child"});
  Actions a;
  const char* const names[] = {"this", "_root", "_level0", "_global", "child", "/child"};
  for (int i = 0; i < 6; ++i) Set(a, "len" + std::to_string(i), Op(Var(names[i]), Code(Action::kStringLength)));
  Set(a, "_root", Str("b"));
  Set(a, "root", Var("_root"));
  Set(a, "x", Var("_x"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r.Get("len" + std::to_string(i)), "0") << names[i];
  EXPECT_EQ(r.Get("root"), "b");
  EXPECT_EQ(r.Get("x"), "0");
}

// call and apply without a `this` run the function on the global object;
// apply reads any object with a length as its arguments.
TEST(Avm1Functions, CallAndApplyWithoutThisRunOnTheGlobalObject) {
  Actions body;
  Set(body, "_global.isGlobal", Bin(Var("this"), Var("_global"), kEquals2));
  Set(body, "_global.args", Bin(Bin(Var("a"), Str(","), kAdd2), Var("b"), kAdd2));
  Actions a;
  Set(a, "f", Fn(body, {"a", "b"}));
  a.Append(Do(Var("f"), "call", {Undef(), Int(1), Int(2)}));
  Set(a, "callUndefined", Var("_global.isGlobal"));
  a.Append(Do(Var("f"), "apply", {Actions().PushNull(), Object({{"length", Int(2)}, {"0", Str("x")}, {"1", Int(5)}})}));
  Set(a, "applyNull", Var("_global.isGlobal"));
  Set(a, "applyArgs", Var("_global.args"));
  a.Append(Do(Var("f"), "call", {Int(7)}));
  Set(a, "callNumber", Var("_global.isGlobal"));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("callUndefined"), "true");
  EXPECT_EQ(r.Get("applyNull"), "true");
  EXPECT_EQ(r.Get("applyArgs"), "x,5");
  EXPECT_EQ(r.Get("callNumber"), "false");
}

// with puts a string, number or boolean in scope as its wrapper object and
// skips its block for undefined and null.
TEST(Avm1Runtime, WithBoxesPrimitivesAndSkipsNothing) {
  Actions a, len;
  Set(len, "_global.len", Var("length"));
  a.Append(With(Str("STRING"), len));
  Actions ran;
  Set(ran, "_global.ran", Str("yes"));
  a.Append(With(Undef(), ran));
  a.Append(With(Actions().PushNull(), ran));
  Played r(Script(a));
  EXPECT_EQ(r.Get("_global.len"), "6");
  EXPECT_EQ(r.Get("_global.ran"), "");
}

TEST(Avm1Runtime, AMovieWhoseScriptRanOutStaysOnTheSmallBudget) {
  // Frame 1 counts for ever; frame 2 notes the count. Once frame 1 has run
  // out, coming round again must not cost the whole budget once more.
  SwfBuilder b(6, {0, 2000, 0, 2000}, 10.0);
  Actions spin;
  Set(spin, "n", Actions().Append(Var("n")).Raw(kIncrement));
  spin.Jump(static_cast<std::int16_t>(-static_cast<int>(spin.Size()) - 5));
  b.DoAction(spin).ShowFrame();
  Actions note;
  Set(note, "log", Bin(Bin(Var("log"), Var("n"), kAdd2), Str(","), kAdd2));
  b.DoAction(note).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(350);
  const std::string log = r.Get("log");
  ASSERT_GE(std::count(log.begin(), log.end(), ','), 2) << log;
  const std::size_t comma = log.find(',');
  const long first = std::stol(log.substr(log.find_first_of("0123456789")));
  const long second = std::stol(log.substr(comma + 1));
  EXPECT_GT(first, 100000) << log;
  EXPECT_LT(second - first, 30000) << log;
}

// broadcastMessage("") calls each listener itself, as a method call by no
// name does.
TEST(Avm1Listeners, AnEmptyMessageCallsTheListenerItself) {
  auto b = Movie();
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "src", Object({}));
  a.Append(Method(Var("AsBroadcaster"), "initialize", {Var("src")})).Raw(kPop);
  Set(a, "fn", Fn(Log("called,")));
  a.Append(SetMember(Var("fn"), "", Fn(Log("member,"))));
  a.Append(Method(Var("src"), "addListener", {Var("fn")})).Raw(kPop);
  a.Append(Method(Var("src"), "broadcastMessage", {Str("")})).Raw(kPop);
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("_global.log"), "called,");
}

// Properties hidden from the movie's version are not there for it: a
// write skips a hidden setter and makes a property of the object's own.
TEST(Avm1Classes, AVersionHiddenSetterIsNotCalled) {
  auto b = Movie(7);
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "base", Object({}));
  a.Append(Method(Var("base"), "addProperty", {Str("p"), Fn(Actions().PushString("got").Raw(kReturn)),
                                              Fn(Log("set,"), {"v"})}))
      .Raw(kPop);
  Set(a, "o", Object({}));
  a.Append(SetMember(Var("o"), "__proto__", Var("base")));
  a.Append(SetMember(Var("o"), "p", Int(1)));
  a.Append(Call("ASSetPropFlags", {Var("base"), Str("p"), Int(0x2000)})).Raw(kPop);  // version 9 only
  a.Append(SetMember(Var("o"), "p", Int(20)));
  Set(a, "p", Member(Var("o"), "p"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("_global.log"), "set,");
  EXPECT_EQ(r.Get("p"), "20");
}

// addProperty("length") on an array: reads go to the getter, while the
// array's methods keep their own length and elements.
TEST(Avm1Classes, AnArraysLengthCanBeAGetter) {
  auto b = Movie();
  Actions a;
  Set(a, "arr", Array({Int(1), Int(2), Int(3)}));
  Set(a, "added", Method(Var("arr"), "addProperty", {Str("length"), Fn(Actions().PushInt(10).Raw(kReturn)),
                                                     Actions().PushNull()}));
  Set(a, "len", Member(Var("arr"), "length"));
  Set(a, "pushed", Method(Var("arr"), "push", {Int(4)}));
  a.Append(Method(Var("arr"), "addProperty", {Str("3"), Fn(Actions().PushInt(7).Raw(kReturn)), Actions().PushNull()}))
      .Raw(kPop);
  Set(a, "one", Member(Var("arr"), "3"));
  Set(a, "popped", Method(Var("arr"), "pop"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("added"), "true");
  EXPECT_EQ(r.Get("len"), "10");
  EXPECT_EQ(r.Get("pushed"), "4");
  EXPECT_EQ(r.Get("one"), "7");
  EXPECT_EQ(r.Get("popped"), "4");  // the value beneath the getter
}

// Slash paths go on through variables holding objects: "/o/:v" is the
// property v of _root.o; "/:v" a variable of the main timeline.
TEST(Avm1Runtime, SlashPathsReachObjectsInVariables) {
  auto b = Movie(6);
  Actions a;
  Set(a, "o", Object({{"inner", Object({})}}));
  Set(a, "/o/:v", Str("set"));
  Set(a, "/o/inner:w", Str("deep"));
  Set(a, "v", Member(Var("o"), "v"));
  Set(a, "w", Member(Member(Var("o"), "inner"), "w"));
  Set(a, "read", Var("/o/:v"));
  Set(a, "none", Actions().Append(Var("/nothing/:v")).Raw(kTypeOf));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("v"), "set");
  EXPECT_EQ(r.Get("w"), "deep");
  EXPECT_EQ(r.Get("read"), "set");
  EXPECT_EQ(r.Get("none"), "undefined");
}

// Inside with(clip) an assignment changes a variable the clip has; a new
// one goes to the timeline the actions run on. A function found on the
// with object (or among a function's locals) runs with it as `this`.
TEST(Avm1Runtime, WithClipsTakeOnlyTheirOwnVariables) {
  Actions a = Do(Var("_root"), "createEmptyMovieClip", {Str("mc"), Int(1)});
  a.Append(SetMember(Var("mc"), "foo", Str("mc foo")));
  Set(a, "o", Object({{"who", Str("o")}, {"me", Fn(Actions().Append(Member(Var("this"), "who")).Raw(kReturn))}}));
  Actions inClip;
  Set(inClip, "foo", Str("mc foo2"));
  Set(inClip, "baz", Str("new"));
  a.Append(With(Var("mc"), inClip));
  Actions inObject;
  Set(inObject, "_global.called", Call("me"));
  a.Append(With(Var("o"), inObject));
  Set(a, "mcFoo", Member(Var("mc"), "foo"));
  Set(a, "mcBaz", Op(Member(Var("mc"), "baz"), kTypeOf));
  Played r(Script(a));
  EXPECT_EQ(r.Get("mcFoo"), "mc foo2");
  EXPECT_EQ(r.Get("mcBaz"), "undefined");
  EXPECT_EQ(r.Get("baz"), "new");
  EXPECT_EQ(r.Get("_global.called"), "o");
}

// Function() called as a function hands back its argument, and with none
// a new object without a prototype; super.__proto__ is the prototype above
// the one super stands for.
TEST(Avm1Functions, FunctionAsAFunctionAndSupersProto) {
  Actions a;
  Set(a, "same", Bin(Call("Function", {Var("Math")}), Var("Math"), Code(Action::kStrictEquals)));
  Set(a, "bare", Op(Call("Function"), kTypeOf));
  Set(a, "bareProto", Op(Member(Call("Function"), "__proto__"), kTypeOf));
  // Base <- Sub: inside Sub's method super stands for Base.prototype.
  Set(a, "_global.Base", Fn(Actions()));
  Set(a, "_global.Sub", Fn(Actions()));
  a.Append(Var("_global.Sub")).Append(Var("_global.Base")).Raw(kExtends);
  a.Append(SetMember(Member(Var("_global.Sub"), "prototype"), "probe",
                     Fn(Actions().Append(Member(Var("super"), "__proto__")).Raw(kReturn))));
  Set(a, "probeIsObjectProto",
      Bin(Method(New("Sub"), "probe"), Member(Var("Object"), "prototype"), Code(Action::kStrictEquals)));
  Played r(Script(a));
  EXPECT_EQ(r.Get("same"), "true");
  EXPECT_EQ(r.Get("bare"), "object");
  EXPECT_EQ(r.Get("bareProto"), "undefined");
  EXPECT_EQ(r.Get("probeIsObjectProto"), "true");
}

// A class extending a native one: the first super() builds the native
// object; a second converts its arguments but changes nothing.
TEST(Avm1Classes, ASecondSuperCallLeavesTheNativeObject) {
  auto superCall = [](const std::vector<Actions>& args) {
    return PushArgs(args).PushString("super").Raw(kGetVar).PushUndefined().Raw(kCallMethod).Raw(kPop);
  };
  Actions ctor = superCall({Int(10), Int(20)});
  ctor.Append(superCall({Int(30), Int(40)}));
  Actions a;
  Set(a, "_global.Blur", Fn(ctor));
  a.Append(Var("_global.Blur")).Append(Member(Member(Var("flash"), "filters"), "BlurFilter")).Raw(kExtends);
  Set(a, "f", New("Blur"));
  Set(a, "x", Member(Var("f"), "blurX"));
  Set(a, "y", Member(Var("f"), "blurY"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("x"), "10");
  EXPECT_EQ(r.Get("y"), "20");
}

// call(frame) takes the frame number as a 32-bit integer (2^32 + 3 is
// frame 3); after a tellTarget that found nothing it runs the frame of
// the clip the actions belong to.
TEST(Avm1Clips, CallWrapsFrameNumbersAndOutlivesALostTarget) {
  auto b = Movie();
  Actions a;
  Set(a, "_global.log", Str(""));
  a.Append(Dbl(4294967299.0)).Raw(Code(Action::kCall), {});
  a.SetTarget("nothere");
  a.PushInt(2).Raw(Code(Action::kCall), {});
  a.SetTarget("");
  b.DoAction(a.Stop()).ShowFrame();
  b.DoAction(Log("f2,")).ShowFrame();
  b.DoAction(Log("f3,")).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("_global.log"), "f3,f2,");
}

}  // namespace
}  // namespace quarvel::player::script_test
