// The order in which a frame's scripts run (init actions, constructors,
// clip events, frame actions of parents and children), the action budget
// of a frame, and conversions that real component code leans on.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/player/avm1_test_script.h"
#include "platform/player/stage.h"
#include "support/swf_writer.h"

namespace quarvel::player {
namespace {

using namespace script_test;
using testing::SwfWriter;
using testing::Timeline;

// _global.log += text
Actions Log(const Actions& v) {
  Actions a;
  Set(a, "_global.log", Bin(Var("_global.log"), v, Action::kAdd2));
  return a;
}

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

}  // namespace
}  // namespace quarvel::player
