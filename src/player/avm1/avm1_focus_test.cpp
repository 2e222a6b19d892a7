// Selection as a broadcaster: who hears of a focus change, and in which
// order (the components' focus manager listens to Selection).
#include <gtest/gtest.h>

#include <string>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

// _root.createTextField(name, depth, ...) and its onSetFocus/onKillFocus logging.
Actions FieldWithHandlers(const std::string& name, int depth) {
  Actions a = Do(Var("_root"), "createTextField", {Str(name), Int(depth), Int(0), Int(depth * 20), Int(80), Int(18)});
  const Actions field = Member(Var("_root"), name);
  a.Append(SetMember(field, "onSetFocus",
                     Function({"old"}, Log(Bin(Bin(Str(name + ".set("), Var("old"), Action::kAdd2), Str("),"),
                                               Action::kAdd2)))));
  a.Append(SetMember(field, "onKillFocus",
                     Function({"now"}, Log(Bin(Bin(Str(name + ".kill("), Var("now"), Action::kAdd2), Str("),"),
                                               Action::kAdd2)))));
  return a;
}

TEST(Avm1Focus, FocusChangesReachTheFieldsThenSelectionsListeners) {
  Actions a;
  Set(a, "_global.log", Str(""));
  a.Append(FieldWithHandlers("one", 1));
  a.Append(FieldWithHandlers("two", 2));
  Set(a, "watcher", Object({}));
  a.Append(SetMember(Var("watcher"), "onSetFocus",
                     Function({"o", "n"}, Log(Bin(Bin(Bin(Bin(Str("sel("), Var("o"), Action::kAdd2), Str(">"),
                                                          Action::kAdd2),
                                                      Var("n"), Action::kAdd2),
                                                  Str("),"), Action::kAdd2)))));
  Set(a, "added", Method(Var("Selection"), "addListener", {Var("watcher")}));
  a.Append(Do(Var("Selection"), "setFocus", {Member(Var("_root"), "one")}));
  a.Append(Do(Var("Selection"), "setFocus", {Member(Var("_root"), "one")}));  // no change: no events
  a.Append(Do(Var("Selection"), "setFocus", {Str("_root.two")}));
  a.Append(Do(Var("Selection"), "removeListener", {Var("watcher")}));
  a.Append(Do(Var("Selection"), "setFocus", {Actions().PushNull()}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("added"), "true");
  EXPECT_EQ(r.Get("_global.log"),
            "one.set(null),sel(null>_level0.one),"
            "one.kill(_level0.two),two.set(_level0.one),sel(_level0.one>_level0.two),"
            "two.kill(null),");
}

}  // namespace
}  // namespace quarvel::player::script_test
