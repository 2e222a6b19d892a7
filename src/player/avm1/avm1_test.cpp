// ActionScript 1/2 on builder-made movies: results are read back through
// script variables, the timeline and the pixels drawn.
#include "player/avm1/avm1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cmath>
#include <cstdio>
#include <set>

#include "player/avm1/avm1_test_script.h"
#include "player/flash_player.h"
#include "player/display/stage.h"
#include "support/font_caches.h"

namespace quarvel::player::script_test {
namespace {

constexpr Color cRed{255, 0, 0}, cWhite{255, 255, 255}, cBlue{0, 0, 255};

// Action codes used below.
enum : std::uint8_t {
  kAdd2 = Code(Action::kAdd2), kGetVar = Code(Action::kGetVariable), kSetVar = Code(Action::kSetVariable),
  kGetMember = Code(Action::kGetMember), kSetMember = Code(Action::kSetMember), kCallMethod = Code(Action::kCallMethod),
  kCallFunction = Code(Action::kCallFunction), kReturn = Code(Action::kReturn), kInitArray = Code(Action::kInitArray),
  kInitObject = Code(Action::kInitObject), kNewObject = Code(Action::kNewObject), kLess2 = Code(Action::kLess2),
  kIncrement = Code(Action::kIncrement), kNot = Code(Action::kNot), kPop = Code(Action::kPop),
  kEquals2 = Code(Action::kEquals2), kStrictEquals = Code(Action::kStrictEquals), kTypeOf = Code(Action::kTypeOf),
  kModulo = Code(Action::kModulo), kURShift = Code(Action::kBitURShift), kStringExtract = Code(Action::kStringExtract),
  kMultiply = Code(Action::kMultiply), kSubtract = Code(Action::kSubtract), kGetTime = Code(Action::kGetTime),
  kDefineLocal = Code(Action::kDefineLocal), kCloneSprite = Code(Action::kCloneSprite),
};

// A sprite (id 5) holding a 20 x 20 pixel red square, placed as "box".
SwfBuilder WithBox(std::uint8_t version = 8) {
  auto b = Movie(version);
  b.DefineShape(1, Square(400, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "box"});
  return b;
}

TEST(Avm1Values, ArithmeticAndConcatenationFollowTheOperandTypes) {
  Actions a;
  Set(a, "sum", Bin(Int(5), Int(3), kAdd2));
  Set(a, "text", Bin(Str("5"), Int(3), kAdd2));
  Set(a, "mod", Bin(Int(17), Int(5), kModulo));
  Set(a, "ushr", Bin(Int(-1), Int(28), kURShift));
  Set(a, "prod", Bin(Str("4"), Actions().PushDouble(2.5), kMultiply));
  Set(a, "frac", Bin(Int(1), Int(3), 0x0D));
  Set(a, "nan", Bin(Str("abc"), Int(1), kSubtract));
  Played r(Script(a));
  EXPECT_EQ(r.Get("sum"), "8");
  EXPECT_EQ(r.Get("text"), "53");
  EXPECT_EQ(r.Get("mod"), "2");
  EXPECT_EQ(r.Get("ushr"), "15");
  EXPECT_EQ(r.Get("prod"), "10");
  EXPECT_EQ(r.Get("frac"), "0.333333333333333");
  EXPECT_EQ(r.Get("nan"), "NaN");
}

TEST(Avm1Values, ComparisonsAndTypes) {
  Actions a;
  Set(a, "loose", Bin(Str("10"), Int(10), kEquals2));
  Set(a, "strict", Bin(Str("10"), Int(10), kStrictEquals));
  Set(a, "nulls", Bin(Actions().PushNull(), Actions().PushUndefined(), kEquals2));
  Set(a, "less", Bin(Str("abc"), Str("abd"), kLess2));
  Set(a, "t1", Op(Str("x"), kTypeOf));
  Set(a, "t2", Op(Var("_root"), kTypeOf));
  Set(a, "t3", Op(Actions().PushNull(), kTypeOf));
  Set(a, "notEmpty", Op(Str(""), kNot));
  Played r(Script(a));
  EXPECT_EQ(r.Get("loose"), "true");
  EXPECT_EQ(r.Get("strict"), "false");
  EXPECT_EQ(r.Get("nulls"), "true");
  EXPECT_EQ(r.Get("less"), "true");
  EXPECT_EQ(r.Get("t1"), "string");
  EXPECT_EQ(r.Get("t2"), "movieclip");
  EXPECT_EQ(r.Get("t3"), "null");
  EXPECT_EQ(r.Get("notEmpty"), "true");
}

TEST(Avm1Values, VersionRulesForUndefinedAndNameCase) {
  Actions a;
  Set(a, "Mixed", Int(1));
  Set(a, "seen", Var("mixed"));
  Set(a, "joined", Bin(Str("a"), Actions().PushUndefined(), kAdd2));
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("seen"), "1");  // names ignore case before version 7
  EXPECT_EQ(v6.Get("joined"), "a");
  Played v7(Script(a, 7));
  EXPECT_EQ(v7.Get("seen"), "");
  EXPECT_EQ(v7.Get("joined"), "aundefined");
}

TEST(Avm1Values, NumbersPrintAsTheyDoInFlash) {
  Actions a;
  Set(a, "tenth", Bin(Actions().PushDouble(0.1), Actions().PushDouble(0.2), kAdd2));
  Set(a, "big", Bin(Actions().PushDouble(1e21), Int(0), kAdd2));
  Set(a, "neg", Bin(Int(0), Actions().PushDouble(2.5), kSubtract));
  Set(a, "inf", Bin(Int(1), Int(0), 0x0D));
  Set(a, "word", Bin(Str("abc"), Int(0), 0x0A));
  Played v8(Script(a));
  EXPECT_EQ(v8.Get("tenth"), "0.3");
  EXPECT_EQ(v8.Get("big"), "1e+21");
  EXPECT_EQ(v8.Get("neg"), "-2.5");
  EXPECT_EQ(v8.Get("inf"), "Infinity");
  EXPECT_EQ(v8.Get("word"), "NaN");
  Played v4(Script(a, 4));
  EXPECT_EQ(v4.Get("word"), "0");  // version 4 reads text that is no number as 0
  EXPECT_EQ(v4.Get("inf"), "#ERROR#");
}

TEST(Avm1Values, IntWrapsToThirtyTwoBits) {
  // int(x) (ToInteger) keeps 32 bits as Flash does: infinities and NaN are 0.
  Actions a;
  Set(a, "inf", Op(Bin(Int(1), Int(0), 0x0D), 0x18));
  Set(a, "nan", Op(Str("x"), 0x18));
  Set(a, "neg", Op(Actions().PushDouble(-2.7), 0x18));
  Set(a, "wrap", Op(Actions().PushDouble(3000000000.0), 0x18));
  Played r(Script(a));
  EXPECT_EQ(r.Get("inf"), "0");
  EXPECT_EQ(r.Get("nan"), "0");
  EXPECT_EQ(r.Get("neg"), "-2");
  EXPECT_EQ(r.Get("wrap"), "-1294967296");
}

TEST(Avm1Values, StringsExtractAndConvert) {
  Actions a;
  Set(a, "mid", Actions().PushString("abcdef").PushInt(2).PushInt(3).Raw(kStringExtract));
  Set(a, "upper", Method(Str("Hello"), "toUpperCase", {}));
  Set(a, "sub", Method(Str("Hello"), "substr", {Int(1), Int(3)}));
  Set(a, "idx", Method(Str("Hello"), "indexOf", {Str("l")}));
  Set(a, "len", Member(Str("Hello"), "length"));
  Set(a, "hex", Call("parseInt", {Str("0x1F")}));
  Set(a, "parts", Method(Method(Str("a,b,c"), "split", {Str(",")}), "join", {Str("-")}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("mid"), "bcd");
  EXPECT_EQ(r.Get("upper"), "HELLO");
  EXPECT_EQ(r.Get("sub"), "ell");
  EXPECT_EQ(r.Get("idx"), "2");
  EXPECT_EQ(r.Get("len"), "5");
  EXPECT_EQ(r.Get("hex"), "31");
  EXPECT_EQ(r.Get("parts"), "a-b-c");
}

TEST(Avm1Objects, ArraysObjectsAndMath) {
  Actions a;
  Set(a, "arr", Actions().PushInt(3).PushInt(2).PushInt(1).PushInt(3).Raw(kInitArray));
  a.Append(Method(Var("arr"), "push", {Int(4)})).Raw(kPop);
  Set(a, "list", Method(Var("arr"), "join", {Str("+")}));
  Set(a, "count", Member(Var("arr"), "length"));
  Set(a, "obj", Actions().PushString("k").PushInt(42).PushInt(1).Raw(kInitObject));
  Set(a, "k", Member(Var("obj"), "k"));
  a.Append(SetMember(Var("obj"), "n", Str("x")));
  Set(a, "n", Member(Var("obj"), "n"));
  Set(a, "floor", Method(Var("Math"), "floor", {Actions().PushDouble(2.7)}));
  Set(a, "max", Method(Var("Math"), "max", {Int(3), Int(9), Int(4)}));
  // A length is a 32-bit integer: a huge one wraps (and cuts every element).
  a.Append(SetMember(Var("arr"), "length", Actions().PushDouble(1e12)));
  Set(a, "still", Member(Var("arr"), "length"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("list"), "1+2+3+4");
  EXPECT_EQ(r.Get("count"), "4");
  EXPECT_EQ(r.Get("k"), "42");
  EXPECT_EQ(r.Get("n"), "x");
  EXPECT_EQ(r.Get("floor"), "2");
  EXPECT_EQ(r.Get("max"), "9");
  EXPECT_EQ(r.Get("still"), "-727379968");
}

TEST(Avm1Functions, CallsReturnValuesAndRecursion) {
  // function fact(n) { if (n < 2) return 1; return n * fact(n - 1); }
  Actions base = Actions().PushInt(1).Raw(kReturn);
  Actions body;
  body.Append(Bin(Var("n"), Int(2), kLess2)).Raw(kNot).If(static_cast<std::int16_t>(base.Size())).Append(base);
  body.Append(Var("n")).Append(Call("fact", {Bin(Var("n"), Int(1), kSubtract)})).Raw(kMultiply).Raw(kReturn);
  Actions a;
  a.DefineFunction("fact", {"n"}, body);
  Set(a, "f5", Call("fact", {Int(5)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("f5"), "120");
}

// Past the recursion limit (256 levels, or the movie's ScriptLimits, the
// action list counting as one) Flash drops the whole action list; the
// next one runs as usual.
TEST(Avm1Functions, RecursionPastTheLimitEndsTheActionList) {
  auto run = [](int limit) {
    Actions body;
    Set(body, "_global.depth", Bin(Var("_global.depth"), Int(1), kAdd2));
    body.Append(Call("down", {})).Raw(kPop);
    Actions a;
    Set(a, "_global.depth", Int(0));
    a.DefineFunction("down", {}, body);
    a.Append(Call("down", {})).Raw(kPop);
    Set(a, "after", Str("ran"));
    auto b = Movie();
    if (limit) {
      const std::uint8_t limits[] = {static_cast<std::uint8_t>(limit), 0, 10, 0};
      b.Tag(swf::tag::kScriptLimits, limits);
    }
    b.DoAction(a).ShowFrame();
    Actions next;
    Set(next, "next", Str("ran"));
    b.DoAction(next.Stop()).ShowFrame();
    auto r = std::make_unique<Played>(b);
    r->player.AdvanceTo(150);
    return r;
  };
  auto limited = run(5);
  EXPECT_EQ(limited->Get("depth"), "4");
  EXPECT_EQ(limited->Get("after"), "");
  EXPECT_EQ(limited->Get("next"), "ran");
  EXPECT_TRUE(limited->Skipped("script recursion too deep"));
  auto plain = run(0);
  EXPECT_EQ(plain->Get("depth"), "255");
  EXPECT_EQ(plain->Get("next"), "ran");
}

TEST(Avm1Functions, ConstructorsAndPrototypes) {
  // function P(v) { this.v = v; }  P.prototype.twice = function() { return this.v * 2; }
  Actions ctor = SetMember(Var("this"), "v", Var("v"));
  Actions twice = Bin(Member(Var("this"), "v"), Int(2), kMultiply).Raw(kReturn);
  Actions a;
  a.DefineFunction("P", {"v"}, ctor);
  a.Append(Member(Var("P"), "prototype")).PushString("twice").DefineFunction("", {}, twice).Raw(kSetMember);
  Set(a, "p", Actions().PushInt(21).PushInt(1).PushString("P").Raw(kNewObject));
  Set(a, "r", Method(Var("p"), "twice", {}));
  Set(a, "isP", Actions().Append(Var("p")).Append(Var("P")).Raw(0x54));
  Played r(Script(a));
  EXPECT_EQ(r.Get("r"), "42");
  EXPECT_EQ(r.Get("isP"), "true");
}

TEST(Avm1Functions, ClassesExtendAndCallSuper) {
  // function A(v) { this.a = v; }  A.prototype.name = function () { return "A" + this.a; }
  // function B(v) { super(v * 2); }  B extends A;
  // B.prototype.name = function () { return "B" + super.name(); }
  Actions a;
  a.DefineFunction("A", {"v"}, SetMember(Var("this"), "a", Var("v")));
  a.Append(Member(Var("A"), "prototype"))
      .PushString("name")
      .DefineFunction("", {}, Bin(Str("A"), Member(Var("this"), "a"), kAdd2).Raw(kReturn))
      .Raw(kSetMember);
  a.DefineFunction("B", {"v"},
                   Actions().Append(Bin(Var("v"), Int(2), kMultiply)).PushInt(1).Append(Var("super")).PushUndefined()
                       .Raw(kCallMethod).Raw(kPop));
  a.Append(Var("B")).Append(Var("A")).Raw(0x69);
  a.Append(Member(Var("B"), "prototype"))
      .PushString("name")
      .DefineFunction("", {}, Bin(Str("B"), Method(Var("super"), "name", {}), kAdd2).Raw(kReturn))
      .Raw(kSetMember);
  Set(a, "b", Actions().PushInt(5).PushInt(1).PushString("B").Raw(kNewObject));
  Set(a, "r", Method(Var("b"), "name", {}));
  Set(a, "isA", Actions().Append(Var("b")).Append(Var("A")).Raw(0x54));
  Played r(Script(a));
  EXPECT_EQ(r.Get("r"), "BA10");
  EXPECT_EQ(r.Get("isA"), "true");
}

TEST(Avm1Functions, AddPropertyGettersAndSettersThroughPrototypes) {
  // function P() { this._v = 1; }
  // P.prototype.addProperty("v", function () { return this._v * 10; }, function (x) { this._v = x; });
  // p = new P(); p.v = 4; r = p.v; o = {}; o.addProperty("ro", function () { return "fixed"; }, null);
  // o.ro = "changed"; ro = o.ro; bad = o.addProperty("x", 5, null);
  Actions a;
  a.DefineFunction("P", {}, SetMember(Var("this"), "_v", Int(1)));
  a.Append(Method(Member(Var("P"), "prototype"), "addProperty",
                  {Str("v"), Actions().DefineFunction("", {}, Bin(Member(Var("this"), "_v"), Int(10), kMultiply).Raw(kReturn)),
                   Actions().DefineFunction("", {"x"}, SetMember(Var("this"), "_v", Var("x")))}))
      .Raw(kPop);
  Set(a, "p", Actions().PushInt(0).PushString("P").Raw(kNewObject));
  Set(a, "before", Member(Var("p"), "v"));
  a.Append(SetMember(Var("p"), "v", Int(4)));
  Set(a, "r", Member(Var("p"), "v"));
  Set(a, "own", Method(Var("p"), "hasOwnProperty", {Str("v")}));
  Set(a, "o", Actions().PushInt(0).Raw(kInitObject));
  a.Append(Method(Var("o"), "addProperty", {Str("ro"), Actions().DefineFunction("", {}, Str("fixed").Raw(kReturn)),
                                             Actions().PushNull()}))
      .Raw(kPop);
  a.Append(SetMember(Var("o"), "ro", Str("changed")));
  Set(a, "ro", Member(Var("o"), "ro"));
  Set(a, "bad", Method(Var("o"), "addProperty", {Str("x"), Int(5), Actions().PushNull()}));
  // A getter that reads itself ends instead of recursing without end.
  a.Append(Method(Var("o"), "addProperty", {Str("loop"), Actions().DefineFunction("", {}, Member(Var("this"), "loop").Raw(kReturn)),
                                             Actions().PushNull()}))
      .Raw(kPop);
  Set(a, "loop", Member(Var("o"), "loop"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("before"), "10");
  EXPECT_EQ(r.Get("r"), "40");
  EXPECT_EQ(r.Get("own"), "false");
  EXPECT_EQ(r.Get("ro"), "fixed");
  EXPECT_EQ(r.Get("bad"), "false");
  EXPECT_EQ(r.Get("loop"), "");
}

// A property's getter, setter and watcher calls nest at most 65 deep. Past
// that a getter read answers the value beneath the getter, which every set
// of an own property stores after its setter ran (the outermost set last).
TEST(Avm1Functions, AccessorsAndWatchersNestSixtyFiveDeep) {
  Actions a;
  Set(a, "gets", Int(0));
  Set(a, "sets", Int(0));
  Set(a, "watches", Int(0));
  Actions count;
  Set(count, "gets", Bin(Var("gets"), Int(1), kAdd2));
  Actions countSet;
  Set(countSet, "sets", Bin(Var("sets"), Int(1), kAdd2));
  Set(a, "o", Object({}));
  a.Append(Do(Method(Var("o"), "addProperty",
                     {Str("p"), Function({}, Actions().Append(count).Append(Member(Var("o"), "p")).Raw(kReturn)),
                      Function({"v"}, Actions().Append(countSet).Append(SetMember(Var("o"), "p", Str("inner"))))})));
  a.Append(SetMember(Var("o"), "p", Str("outer")));
  Set(a, "read", Member(Var("o"), "p"));
  // A watcher that sets its own property.
  Actions watcher;
  Set(watcher, "watches", Bin(Var("watches"), Int(1), kAdd2));
  watcher.Append(SetMember(Var("w"), "p", Str("c"))).Append(Str("d")).Raw(kReturn);
  Set(a, "w", Object({{"p", Str("a")}}));
  a.Append(Do(Method(Var("w"), "watch", {Str("p"), Function({"name", "old", "now"}, watcher)})));
  a.Append(SetMember(Var("w"), "p", Str("b")));
  Set(a, "watched", Member(Var("w"), "p"));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("sets"), "65");
  EXPECT_EQ(r.Get("gets"), "65");
  EXPECT_EQ(r.Get("read"), "outer");
  EXPECT_EQ(r.Get("watches"), "65");
  EXPECT_EQ(r.Get("watched"), "d");
}

// DefineFunction2 (0x8E) with its parameters in registers.
Actions& DefineFunction2(Actions& a, const std::string& name, std::uint8_t registers, std::uint16_t flags,
                         const std::vector<std::pair<std::uint8_t, std::string>>& params, const Actions& body) {
  SwfWriter w;
  w.String(name);
  w.U16(static_cast<std::uint16_t>(params.size()));
  w.U8(registers);
  w.U16(flags);
  for (const auto& [reg, p] : params) {
    w.U8(reg);
    w.String(p);
  }
  w.U16(static_cast<std::uint16_t>(body.Size()));
  a.Raw(0x8E, w.Data());
  return a.Append(body);
}

TEST(Avm1Functions, RegistersTryCatchWithAndEnumeration) {
  Actions a;
  // function f(x, y) { return x * y + arguments.length; }  this preloaded in r1, x in r2, y in r3
  Actions body = Actions().PushRegister(2).PushRegister(3).Raw(kMultiply);
  body.Append(Member(Var("arguments"), "length")).Raw(kAdd2).Raw(kReturn);
  DefineFunction2(a, "f", 4, 0x01, {{2, "x"}, {3, "y"}}, body);
  Set(a, "product", Call("f", {Int(6), Int(7)}));
  // try { throw "boom"; after = 1; } catch (e) { caught = e; } finally { fin = 1; }
  Actions tryBody = Actions().PushString("boom").Raw(0x2A);
  Set(tryBody, "after", Int(1));
  Actions catchBody;
  Set(catchBody, "caught", Var("e"));
  Actions finallyBody;
  Set(finallyBody, "fin", Int(1));
  SwfWriter t;
  t.U8(0x03);  // catch and finally blocks, catch variable by name
  t.U16(static_cast<std::uint16_t>(tryBody.Size()));
  t.U16(static_cast<std::uint16_t>(catchBody.Size()));
  t.U16(static_cast<std::uint16_t>(finallyBody.Size()));
  t.String("e");
  a.Raw(0x8F, t.Data()).Append(tryBody).Append(catchBody).Append(finallyBody);
  // with ({a: 5}) { viaWith = a; }
  Actions inner;
  Set(inner, "viaWith", Var("a"));
  Set(a, "o", Actions().PushString("a").PushInt(5).PushInt(1).Raw(kInitObject));
  SwfWriter w;
  w.U16(static_cast<std::uint16_t>(inner.Size()));
  a.Append(Var("o")).Raw(0x94, w.Data()).Append(inner);
  // for (k in o) -- the one name lands in k; then the end marker is dropped.
  a.Append(Var("o")).Raw(0x55).PushString("k").Raw(0x4D).SetVariable().Raw(kPop);
  Played r(Script(a));
  EXPECT_EQ(r.Get("product"), "44");
  EXPECT_EQ(r.Get("caught"), "boom");
  EXPECT_EQ(r.Get("after"), "");
  EXPECT_EQ(r.Get("fin"), "1");
  EXPECT_EQ(r.Get("viaWith"), "5");
  EXPECT_EQ(r.Get("a"), "");  // the with block's object, not the timeline
  EXPECT_EQ(r.Get("k"), "a");
}

// Preloaded values are Flash's own, whatever variables of the same names
// hold; by name, a timeline's variable shadows _root and _global. super in
// a method of the object itself starts above its prototype: nothing there,
// so it converts to "[type Object]".
TEST(Avm1Functions, PreloadsIgnoreVariablesThatShadowPathNames) {
  Actions a;
  Actions ownMethod, parentFn, rootFn, globalFn;
  DefineFunction2(ownMethod, "", 2, 0x10, {}, Op(Actions().PushRegister(1), Code(Action::kToString)).Raw(kReturn));
  Set(a, "o", Object({{"m", ownMethod}}));
  Set(a, "superText", Method(Var("o"), "m"));
  Set(a, "_root", Str("fake"));
  Set(a, "_global", Str("fake"));
  Set(a, "_parent", Str("fake"));
  Set(a, "rootByName", Var("_root"));
  Set(a, "globalByName", Var("_global"));
  DefineFunction2(a, "p", 2, 0x80, {}, Op(Actions().PushRegister(1), kTypeOf).Raw(kReturn));
  DefineFunction2(a, "r", 2, 0x40, {}, Op(Actions().PushRegister(1), kTypeOf).Raw(kReturn));
  DefineFunction2(a, "g", 2, 0x100, {}, Op(Actions().PushRegister(1), kTypeOf).Raw(kReturn));
  Set(a, "parentType", Call("p"));
  Set(a, "rootType", Call("r"));
  Set(a, "globalType", Call("g"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("superText"), "[type Object]");
  EXPECT_EQ(r.Get("rootByName"), "fake");
  EXPECT_EQ(r.Get("globalByName"), "fake");
  EXPECT_EQ(r.Get("parentType"), "undefined");  // the main timeline has no parent
  EXPECT_EQ(r.Get("rootType"), "movieclip");
  EXPECT_EQ(r.Get("globalType"), "object");
}

class SoundLog : public SoundEventListener {
 public:
  std::vector<std::string> events;
  void OnStartSound(int id, std::string_view name, std::span<const std::uint8_t>, std::int64_t) override {
    events.push_back("start " + std::to_string(id) + " " + std::string(name));
  }
  void OnStopAllSounds(std::int64_t) override { events.push_back("stop all"); }
  void OnTimelineStop(int timeline, std::int64_t) override { events.push_back("end " + std::to_string(timeline)); }
};

TEST(Avm1Runtime, ScriptsReachTheSoundListener) {
  auto b = Movie();
  const std::uint8_t pcm[8] = {};
  b.DefineSound(7, {.format = 0, .rate = 0, .is16Bit = false, .stereo = false}, 8, pcm);
  b.ExportAssets({{7, "beep"}});
  b.DefineSprite(5, Timeline().ShowFrame().ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "clip"});
  Actions a;
  Set(a, "s", Actions().PushInt(0).PushString("Sound").Raw(kNewObject));
  a.Append(Method(Var("s"), "attachSound", {Str("beep")})).Raw(kPop);
  a.Append(Method(Var("s"), "start", {})).Raw(kPop);
  a.Append(Method(Var("clip"), "stop", {})).Raw(kPop);
  a.Raw(0x09);  // stopAllSounds
  b.DoAction(a.Stop()).ShowFrame();
  SoundLog log;
  FlashPlayer p;
  p.SetSoundListener(&log);
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  // The clip's stop ends the clip's timeline: a number of its own, not the main one.
  ASSERT_EQ(log.events.size(), 4u);
  EXPECT_EQ(log.events[0], "start 7 beep");
  EXPECT_EQ(log.events[1].rfind("end ", 0), 0u);
  EXPECT_NE(log.events[1], "end 0");
  EXPECT_NE(log.events[1], "end -1");
  EXPECT_EQ(log.events[2], "stop all");
  EXPECT_EQ(log.events[3], "end 0");
}

TEST(Avm1Clips, HitTestBoundsAndCoordinates) {
  auto b = WithBox();
  Actions a;
  a.Append(SetMember(Var("box"), "_x", Int(30)));
  Set(a, "inside", Method(Var("box"), "hitTest", {Int(35), Int(5), Actions().PushBool(false)}));
  Set(a, "outside", Method(Var("box"), "hitTest", {Int(5), Int(5), Actions().PushBool(false)}));
  Set(a, "bounds", Method(Var("box"), "getBounds", {Var("_root")}));
  Set(a, "own", Method(Var("box"), "getBounds", {}));
  Set(a, "pt", Actions().PushString("x").PushInt(1).PushString("y").PushInt(2).PushInt(2).Raw(kInitObject));
  a.Append(Method(Var("box"), "localToGlobal", {Var("pt")})).Raw(kPop);
  // Points whose own x and y are not both numbers stay as they are.
  Set(a, "text", Object({{"x", Int(1)}, {"y", Str("2")}}));
  a.Append(Method(Var("box"), "localToGlobal", {Var("text")})).Raw(kPop);
  Set(a, "inherited", Object({{"x", Int(1)}}));
  a.Append(SetMember(Member(Var("Object"), "prototype"), "y", Int(2)));
  a.Append(Method(Var("box"), "localToGlobal", {Var("inherited")})).Raw(kPop);
  b.DoAction(a).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("text.x"), "1");
  EXPECT_EQ(r.Get("inherited.x"), "1");
  EXPECT_EQ(r.Get("inside"), "true");
  EXPECT_EQ(r.Get("outside"), "false");
  EXPECT_EQ(r.Get("bounds.xMin"), "30");
  EXPECT_EQ(r.Get("bounds.xMax"), "50");
  // Without a space: the clip's own.
  EXPECT_EQ(r.Get("own.xMin"), "0");
  EXPECT_EQ(r.Get("own.xMax"), "20");
  EXPECT_EQ(r.Get("pt.x"), "31");
  EXPECT_EQ(r.Get("pt.y"), "2");
}

TEST(Avm1Runtime, IntervalsAndColor) {
  auto b = WithBox();
  Actions tick;
  Set(tick, "_root.n", Bin(Var("_root.n"), Int(1), kAdd2));
  Actions a;
  Set(a, "n", Int(0));
  Set(a, "id", Call("setInterval", {Actions().DefineFunction("", {}, tick), Int(100)}));
  Set(a, "c", Actions().Append(Var("box")).PushInt(1).PushString("Color").Raw(kNewObject));
  a.Append(Method(Var("c"), "setRGB", {Int(0x0000FF)})).Raw(kPop);
  b.DoAction(a).ShowFrame();
  Actions stop;
  stop.Append(Call("clearInterval", {Var("id")})).Raw(kPop).Stop();
  b.ShowFrame().ShowFrame().ShowFrame().DoAction(stop).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(5, 5), cBlue);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("n"), "3");
  r.player.AdvanceTo(1000);
  EXPECT_EQ(r.Get("n"), "4");  // cleared on the fifth frame
}

TEST(Avm1Limits, AnEndlessLoopEndsTheFrameAndTheMovieGoesOn) {
  auto b = Movie();
  Actions loop;
  Set(loop, "i", Bin(Var("i"), Int(1), kAdd2));
  loop.Jump(static_cast<std::int16_t>(-static_cast<int>(loop.Size()) - 5));
  b.DoAction(loop).ShowFrame();
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  EXPECT_TRUE(r.Skipped("too many actions in one frame"));
  EXPECT_FALSE(r.Get("i").empty());
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.player.CurrentFrame(), 1);
}

TEST(Avm1Limits, ScriptsThatHoardMemoryAreStopped) {
  // s = "x"; while (true) { s = s + s; list.push(s); }
  auto b = Movie();
  Actions a;
  Set(a, "s", Str("xxxxxxxxxxxxxxxx"));
  Set(a, "list", Actions().PushInt(0).Raw(kInitArray));
  Actions loop;
  Set(loop, "s", Bin(Var("s"), Var("s"), kAdd2));
  loop.Append(Method(Var("list"), "push", {Var("s")})).Raw(kPop);
  loop.Jump(static_cast<std::int16_t>(-static_cast<int>(loop.Size()) - 5));
  a.Append(loop);
  b.DoAction(a).ShowFrame();
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  EXPECT_TRUE(r.Skipped("string too long") || r.Skipped("too much memory made by scripts in one frame"));
  const std::string n = r.Get("list.length");
  ASSERT_FALSE(n.empty());
  EXPECT_LT(std::stoi(n), 1000);
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.player.CurrentFrame(), 1);
}

TEST(Avm1Limits, DamagedCodeIsSkippedSafely) {
  // A function whose body claims to run past the end, a push cut short and
  // an unknown action: none may read outside the code.
  Actions a;
  const std::uint8_t fn[] = {'f', 0, 0, 0, 0xFF, 0x7F};
  a.Raw(0x9B, fn);
  const std::uint8_t push[] = {7, 1, 2};
  a.Raw(0x96, push);
  a.Raw(0xEE, push);
  Set(a, "x", Int(1));
  Played r(Script(a));
  EXPECT_EQ(r.Get("x"), "");
  Actions b;
  b.Raw(0x77);
  Set(b, "y", Int(2));
  Played s(Script(b));
  EXPECT_EQ(s.Get("y"), "2");
  EXPECT_TRUE(s.Skipped("action 0x77"));
}

TEST(Avm1Clips, PropertiesSetByScriptMoveThePixels) {
  auto b = WithBox();
  b.DoAction(Actions()
                 .Append(SetMember(Var("box"), "_x", Int(50)))
                 .Append(SetMember(Var("box"), "_xscale", Int(200))))
      .ShowFrame();
  // The timeline moving the clip again has no say once a script moved it.
  b.PlaceObject2({.depth = 1, .move = true, .matrix = swf::Matrix{}}).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(5, 5), cWhite);
  EXPECT_EQ(r.At(55, 5), cRed);
  EXPECT_EQ(r.At(85, 5), cRed);  // 40 pixels wide now
  EXPECT_EQ(r.Get("box._x"), "50");
  EXPECT_EQ(r.Get("box._width"), "40");
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.At(55, 5), cRed);
  EXPECT_EQ(r.At(5, 5), cWhite);
}

TEST(Avm1Clips, Flash4PropertyActions) {
  // setProperty("box", _y, 50); h = getProperty("/box", _height); tellTarget("box") { w = _width }
  auto b = WithBox(4);
  Actions a;
  a.PushString("box").PushFloat(1).PushFloat(50).Raw(0x23);
  a.PushString("h").PushString("/box").PushFloat(9).Raw(0x22).SetVariable();
  a.SetTarget("box").PushString("w").PushString("").PushFloat(8).Raw(0x22).SetVariable().SetTarget("");
  b.DoAction(a).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(5, 5), cWhite);
  EXPECT_EQ(r.At(5, 55), cRed);
  EXPECT_EQ(r.Get("h"), "20");
  EXPECT_EQ(r.Get("/box:w"), "20");
}

TEST(Avm1Clips, VisibilityAlphaAndRotation) {
  auto b = WithBox();
  Actions a;
  a.Append(SetMember(Var("box"), "_visible", Actions().PushBool(false)));
  Set(a, "vis", Member(Var("box"), "_visible"));
  Set(a, "name", Member(Var("box"), "_name"));
  Set(a, "target", Member(Var("box"), "_target"));
  a.Append(SetMember(Var("box"), "_rotation", Int(90)));
  Set(a, "rot", Member(Var("box"), "_rotation"));
  b.DoAction(a).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(5, 5), cWhite);
  EXPECT_EQ(r.Get("vis"), "false");
  EXPECT_EQ(r.Get("name"), "box");
  EXPECT_EQ(r.Get("target"), "/box");
  EXPECT_EQ(r.Get("rot"), "90");
}

TEST(Avm1Clips, ClipMethodsDriveTheClipsTimeline) {
  auto b = Movie();
  b.DefineShape(1, Square(400, kRed));
  Timeline sprite;
  sprite.DoAction(Actions().Stop()).ShowFrame();
  sprite.PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame();
  sprite.ShowFrame();
  b.DefineSprite(5, sprite);
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "clip"}).ShowFrame();
  b.DoAction(Actions().Append(Method(Var("clip"), "gotoAndStop", {Int(2)})).Raw(kPop)).ShowFrame();
  b.DoAction(Actions()
                 .Append(Method(Var("clip"), "nextFrame", {}))
                 .Raw(kPop)
                 .PushString("cf")
                 .Append(Member(Var("clip"), "_currentframe"))
                 .SetVariable()
                 .Stop())
      .ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(5, 5), cWhite);
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.At(5, 5), cRed);
  EXPECT_EQ(r.Get("clip._currentframe"), "2");
  r.player.AdvanceTo(200);
  EXPECT_EQ(r.Get("cf"), "3");
  EXPECT_EQ(r.Get("/clip:_totalframes"), "3");
}

TEST(Avm1Clips, DuplicateAttachAndRemove) {
  auto b = WithBox();
  b.ExportAssets({{5, "redBox"}});
  Actions a;
  // duplicateMovieClip("box", "copy", 10): the action takes the depth plus 16384.
  a.PushString("box").PushString("copy").PushInt(16384 + 10).Raw(kCloneSprite);
  a.Append(SetMember(Var("copy"), "_y", Int(50)));
  a.Append(Method(Var("_root"), "attachMovie", {Str("redBox"), Str("att"), Int(20)})).Raw(kPop);
  a.Append(SetMember(Var("att"), "_x", Int(50)));
  a.Append(SetMember(Var("att"), "_y", Int(50)));
  Set(a, "depth", Method(Var("att"), "getDepth", {}));
  Set(a, "next", Method(Var("_root"), "getNextHighestDepth", {}));
  b.DoAction(a).ShowFrame();
  b.DoAction(Actions().Append(Method(Var("copy"), "removeMovieClip", {})).Raw(kPop).Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(5, 5), cRed);
  EXPECT_EQ(r.At(5, 55), cRed);
  EXPECT_EQ(r.At(55, 55), cRed);
  EXPECT_EQ(r.Get("depth"), "20");
  EXPECT_EQ(r.Get("next"), "21");
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.At(5, 55), cWhite);
  EXPECT_EQ(r.At(55, 55), cRed);
  // A jump back to frame 1 rebuilds the timeline's objects; the attached
  // clip is the script's and stays.
  r.player.GotoFrame(0);
  EXPECT_EQ(r.At(55, 55), cRed);
  EXPECT_EQ(r.At(5, 5), cRed);
}

TEST(Avm1Clips, DepthsFromAnyNumberWrapAsInFlash) {
  // Depths are script numbers made 32-bit integers: NaN and infinities are
  // depth 0, bigger numbers wrap modulo 2^32.
  const double nan = std::nan(""), inf = HUGE_VAL;
  auto b = WithBox();
  b.ExportAssets({{5, "redBox"}});
  Actions a;
  Set(a, "n", Method(Var("_root"), "createEmptyMovieClip", {Str("n"), Actions().PushDouble(nan)}));
  Set(a, "nd", Method(Var("n"), "getDepth", {}));
  a.Append(Method(Var("n"), "swapDepths", {Actions().PushDouble(4294967299.0)})).Raw(kPop);
  Set(a, "nd2", Method(Var("n"), "getDepth", {}));
  Set(a, "att", Method(Var("n"), "attachMovie", {Str("redBox"), Str("att"), Actions().PushDouble(inf)}));
  Set(a, "ad", Method(Var("att"), "getDepth", {}));
  Set(a, "dup", Method(Var("att"), "duplicateMovieClip", {Str("dup"), Actions().PushDouble(-4294967291.0)}));
  Set(a, "dd", Method(Var("dup"), "getDepth", {}));
  Set(a, "found", Op(Method(Var("n"), "getInstanceAtDepth", {Actions().PushDouble(nan)}), 0x4B));
  Set(a, "huge", Op(Method(Var("n"), "getInstanceAtDepth", {Actions().PushDouble(1e300)}), 0x4B));
  a.Append(Method(Var("dup"), "swapDepths", {Actions().PushDouble(-inf)})).Raw(kPop);
  Set(a, "dd2", Method(Var("dup"), "getDepth", {}));
  Set(a, "ad2", Method(Var("att"), "getDepth", {}));
  a.PushString("box").PushString("copy").PushDouble(nan).Raw(kCloneSprite);
  Set(a, "cd", Method(Var("copy"), "getDepth", {}));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("nd"), "0");
  EXPECT_EQ(r.Get("nd2"), "3");
  EXPECT_EQ(r.Get("ad"), "0");
  EXPECT_EQ(r.Get("dd"), "5");
  EXPECT_EQ(r.Get("found"), "_level0.n.att");
  EXPECT_EQ(r.Get("huge"), "_level0.n.att");
  EXPECT_EQ(r.Get("dd2"), "0");
  EXPECT_EQ(r.Get("ad2"), "5");
  EXPECT_EQ(r.Get("cd"), "-16384");  // the action's depth 0 is the bottom of the timeline's range
}

TEST(Avm1Clips, HugeScalesKeepCoordinatesInRange) {
  // outer._xscale = 1e300 puts the child's stage position far beyond any
  // twip: it saturates rather than wrapping into nonsense.
  Actions a;
  Set(a, "outer", Method(Var("_root"), "createEmptyMovieClip", {Str("o"), Int(1)}));
  Set(a, "inner", Method(Var("outer"), "createEmptyMovieClip", {Str("i"), Int(1)}));
  a.Append(SetMember(Var("inner"), "_x", Int(10)));
  a.Append(SetMember(Var("outer"), "_xscale", Actions().PushDouble(1e300)));
  Set(a, "pt", Actions().PushString("x").PushInt(0).PushString("y").PushInt(0).PushInt(2).Raw(kInitObject));
  a.Append(Method(Var("inner"), "localToGlobal", {Var("pt")})).Raw(kPop);
  Set(a, "gx", Member(Var("pt"), "x"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("gx"), "107374182.35");  // the largest twip position
}

TEST(Avm1Clips, RegisteredClassesMakeAttachedClips) {
  // function Ball() { this._x = 30; }  Ball.prototype.onEnterFrame = function () { this._x += 10; }
  auto b = Movie();
  b.DefineShape(1, Square(400, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  b.ExportAssets({{5, "ballSym"}});
  Actions a;
  a.DefineFunction("Ball", {}, SetMember(Var("this"), "_x", Int(30)));
  a.Append(Member(Var("Ball"), "prototype"))
      .PushString("onEnterFrame")
      .DefineFunction("", {}, SetMember(Var("this"), "_x", Bin(Member(Var("this"), "_x"), Int(10), kAdd2)))
      .Raw(kSetMember);
  a.Append(Method(Var("Object"), "registerClass", {Str("ballSym"), Var("Ball")})).Raw(kPop);
  a.Append(Method(Var("_root"), "attachMovie", {Str("ballSym"), Str("ball"), Int(1)})).Raw(kPop);
  b.DoAction(a).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("ball._x"), "30");
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("ball._x"), "40");
  EXPECT_EQ(r.At(45, 5), cRed);
}

TEST(Avm1Clips, DrawingApiAndSetMask) {
  auto b = Movie();
  Actions a;
  a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("pad"), Int(1)})).Raw(kPop);
  a.Append(Method(Var("pad"), "beginFill", {Int(0x0000FF)})).Raw(kPop);
  a.Append(Method(Var("pad"), "moveTo", {Int(10), Int(10)})).Raw(kPop);
  for (auto [x, y] : {std::pair{90, 10}, {90, 90}, {10, 90}}) {
    a.Append(Method(Var("pad"), "lineTo", {Int(x), Int(y)})).Raw(kPop);
  }
  a.Append(Method(Var("pad"), "endFill", {})).Raw(kPop);
  // A mask clip covering only the left half of the square.
  a.Append(Method(Var("_root"), "createEmptyMovieClip", {Str("m"), Int(2)})).Raw(kPop);
  a.Append(Method(Var("m"), "beginFill", {Int(0)})).Raw(kPop);
  a.Append(Method(Var("m"), "moveTo", {Int(0), Int(0)})).Raw(kPop);
  for (auto [x, y] : {std::pair{50, 0}, {50, 100}, {0, 100}}) {
    a.Append(Method(Var("m"), "lineTo", {Int(x), Int(y)})).Raw(kPop);
  }
  a.Append(Method(Var("m"), "endFill", {})).Raw(kPop);
  b.DoAction(a).ShowFrame();
  b.DoAction(Actions().Append(Method(Var("pad"), "setMask", {Var("m")})).Raw(kPop).Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.At(20, 50), Color(0, 0, 0));  // the black square shows while it is no mask
  EXPECT_EQ(r.At(80, 50), cBlue);
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.At(20, 50), cBlue);
  EXPECT_EQ(r.At(80, 50), cWhite);
  EXPECT_EQ(r.At(5, 5), cWhite);
}

// A player that paints every frame keeps the last picture while nothing it
// lists changed: a script's redrawing must still show at once.
TEST(Avm1Clips, RedrawnDrawingsShowInEveryPaintedFrame) {
  auto b = Movie();
  b.DoAction(Actions().Append(Method(Var("_root"), "createEmptyMovieClip", {Str("pad"), Int(1)})).Raw(kPop))
      .ShowFrame();
  for (int k = 1; k <= 5; ++k) {
    Actions a;
    // Frames 1 and 2 start afresh; later ones add a column to what is there.
    if (k <= 2) a.Append(Method(Var("pad"), "clear", {})).Raw(kPop);
    a.Append(Method(Var("pad"), "beginFill", {Int(0x0000FF)})).Raw(kPop);
    const int left = k <= 2 ? 0 : (k - 1) * 10;
    a.Append(Method(Var("pad"), "moveTo", {Int(left), Int(0)})).Raw(kPop);
    for (auto [x, y] : {std::pair{k * 10, 0}, {k * 10, 100}, {left, 100}}) {
      a.Append(Method(Var("pad"), "lineTo", {Int(x), Int(y)})).Raw(kPop);
    }
    a.Append(Method(Var("pad"), "endFill", {})).Raw(kPop);
    if (k == 5) a.Stop();
    b.DoAction(a).ShowFrame();
  }
  Played r(b);
  for (int k = 1; k <= 5; ++k) {
    r.player.AdvanceTo(k * 100);
    EXPECT_EQ(r.At(k * 10 - 5, 50), cBlue) << "frame " << k;
    EXPECT_EQ(r.At(k * 10 + 5, 50), cWhite) << "frame " << k;
  }
}

TEST(Avm1Events, ClipEventsAndOnEnterFrame) {
  auto b = Movie();
  b.DefineShape(1, Square(400, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  Actions load, enter;
  Set(load, "/:loads", Bin(Var("/:loads"), Int(1), kAdd2));
  Set(enter, "/:ticks", Bin(Var("/:ticks"), Int(1), kAdd2));
  enter.Append(SetMember(Var("this"), "_x", Bin(Member(Var("this"), "_x"), Int(10), kAdd2)));
  // _root.onEnterFrame = function () { frames++; }
  Actions onEnter;
  Set(onEnter, "frames", Bin(Var("frames"), Int(1), kAdd2));
  Actions a;
  Set(a, "loads", Int(0));
  Set(a, "ticks", Int(0));
  Set(a, "frames", Int(0));
  a.Append(Var("_root")).PushString("onEnterFrame").DefineFunction("", {}, onEnter).Raw(kSetMember);
  b.DoAction(a);
  b.Tag(26, PlaceWithClipActions(5, 1, "mover", {{kEventLoad, load}, {kEventEnterFrame, enter}})).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("loads"), "1");
  EXPECT_EQ(r.Get("ticks"), "3");
  EXPECT_EQ(r.Get("frames"), "3");
  EXPECT_EQ(r.Get("mover._x"), "30");
  EXPECT_EQ(r.At(35, 5), cRed);
}

TEST(Avm1Events, MouseClipEventsWithoutButtons) {
  auto b = Movie();
  b.DefineShape(1, Square(400, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  Actions down, up;
  Set(down, "/:downs", Bin(Var("/:downs"), Int(1), kAdd2));
  Set(up, "/:ups", Bin(Var("/:ups"), Int(1), kAdd2));
  Actions a;
  Set(a, "downs", Int(0));
  Set(a, "ups", Int(0));
  b.DoAction(a);
  b.Tag(26, PlaceWithClipActions(5, 1, "m", {{kEventMouseDown, down}, {kEventMouseUp, up}})).ShowFrame();
  Played r(b);
  r.player.MouseMove(50, 50);
  r.player.MouseDown(50, 50);
  r.player.MouseUp(60, 60);
  r.player.MouseDown(60, 60);
  EXPECT_EQ(r.Get("downs"), "2");
  EXPECT_EQ(r.Get("ups"), "1");
}

TEST(Avm1Events, InitActionsRunOnceBeforeTheFramesActions) {
  auto b = Movie(6);
  b.DefineSprite(5, Timeline().ShowFrame());
  Actions init;
  Set(init, "_global.made", Bin(Var("_global.made"), Int(1), kAdd2));
  b.DoInitAction(5, init);
  Actions a;
  Set(a, "seen", Var("made"));
  b.DoAction(a).ShowFrame();
  b.DoInitAction(5, init).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("seen"), "1");
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("_global.made"), "1");
}

// DefineEditText without a font, bound to `variable`, over the whole stage.
std::vector<std::uint8_t> BoundField(std::uint16_t id, const std::string& variable, const std::string& initial) {
  SwfWriter w;
  w.U16(id);
  w.Rect({0, 2000, 0, 2000});
  w.U8(0x80 | 0x08 | 0x04);  // has text, read-only, has colour
  w.U8(0);
  w.U8(0), w.U8(0), w.U8(0), w.U8(255);  // black
  w.String(variable);
  w.String(initial);
  return w.Data();
}

bool AnyInk(Played& r) {
  gdi::Bitmap bmp;
  r.player.Paint(bmp);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 100; ++x) {
      if (bmp.GetPixel(x, y) != cWhite) return true;
    }
  }
  return false;
}

TEST(Avm1Events, TextFieldsShowTheirVariable) {
  auto b = Movie();
  b.Tag(37, BoundField(3, "score", "WWW"));
  b.PlaceObject2({.depth = 1, .characterId = 3}).ShowFrame();
  Actions clear;
  Set(clear, "copy", Var("score"));
  Set(clear, "score", Str(""));
  b.DoAction(clear.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("score"), "WWW");  // a new field gives its variable its text
  EXPECT_TRUE(AnyInk(r));
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("copy"), "WWW");
  EXPECT_FALSE(AnyInk(r));
}

TEST(Avm1Runtime, TimeIsThePlayersClockAndObjectsSurviveCollection) {
  auto b = Movie();
  Actions first;
  // keep = { list: [1, 2] }; then every frame makes garbage.
  Set(first, "keep",
      Actions().PushString("list").PushInt(2).PushInt(1).PushInt(2).Raw(kInitArray).PushInt(1).Raw(kInitObject));
  b.DoAction(first).ShowFrame();
  Actions garbage;
  for (int i = 0; i < 200; ++i) {
    garbage.PushString("tmp").PushInt(0).PushInt(0).Raw(kInitObject).PushInt(1).Raw(kInitArray).SetVariable();
  }
  Set(garbage, "t", Actions().Raw(kGetTime));
  b.DoAction(garbage).ShowFrame();
  Played r(b);
  for (int t = 100; t <= 5100; t += 100) r.player.AdvanceTo(t);
  EXPECT_EQ(r.Get("t"), "5100");
  EXPECT_EQ(r.Get("keep.list"), "1,2");
}

std::string UnknownActionNote(std::uint8_t code) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", code);
  return std::string("action ") + hex;
}

TEST(Avm1Actions, TheTableListsEachCodeOnceWithItsHandler) {
  const auto table = Avm1::ActionTable();
  ASSERT_FALSE(table.empty());
  std::set<std::string_view> names;
  int last = 0;
  for (const ActionInfo& a : table) {
    const std::uint8_t code = Code(a.code);
    EXPECT_GT(code, last) << a.name << ": out of order or listed twice";
    last = code;
    EXPECT_NE(a.handler, nullptr) << a.name;
    EXPECT_TRUE(names.insert(a.name).second) << a.name << " named twice";
    EXPECT_GE(a.version, 3) << a.name;
    EXPECT_LE(a.version, 7) << a.name;
    EXPECT_EQ(Avm1::FindAction(code), &a) << a.name;
  }
  EXPECT_EQ(Avm1::FindAction(Code(Action::kEnd)), nullptr);
}

TEST(Avm1Actions, CodesOutsideTheTableAreUnknownToTheInterpreter) {
  // Every code the table lacks, one after another: each is noted as
  // unknown and skipped, and the actions after them still run.
  Actions unknown;
  std::vector<std::uint8_t> codes;
  for (int c = 1; c < 256; ++c) {
    if (Avm1::FindAction(static_cast<std::uint8_t>(c))) continue;
    codes.push_back(static_cast<std::uint8_t>(c));
    unknown.Raw(static_cast<std::uint8_t>(c));
  }
  ASSERT_FALSE(codes.empty());
  Set(unknown, "after", Str("ran"));
  Played r(Script(unknown));
  EXPECT_EQ(r.Get("after"), "ran");
  for (std::uint8_t c : codes) EXPECT_TRUE(r.Skipped(UnknownActionNote(c))) << int{c};

  // And no listed code is taken for unknown, even with nothing to work on.
  for (const ActionInfo& a : Avm1::ActionTable()) {
    Played one(Script(Actions().Raw(Code(a.code))));
    EXPECT_FALSE(one.Skipped(UnknownActionNote(Code(a.code)))) << a.name;
  }
}

}  // namespace
}  // namespace quarvel::player::script_test
