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

// A movie of `version` with a clip "c"; `code` runs in its first frame.
SwfBuilder ClipMovie(const Actions& code, std::uint8_t version) {
  auto b = Movie(version);
  b.DefineSprite(5, Timeline().ShowFrame());
  b.PlaceObject2({.depth = 1, .characterId = 5, .name = "c"}).DoAction(Actions().Append(code).Stop()).ShowFrame();
  return b;
}

TEST(Avm1FocusRect, BeforeSwf6OneNumberForThePlayerWhateverObjectSetsIt) {
  Actions a;
  Set(a, "start", Member(Var("c"), "_focusrect"));
  a.Append(SetMember(Var("c"), "_focusrect", Int(0)));
  Set(a, "viaRoot", Member(Var("_root"), "_focusrect"));
  a.Append(SetMember(Var("_root"), "_focusrect", Actions().PushNull()));  // null leaves it
  Set(a, "afterNull", Member(Var("c"), "_focusrect"));
  a.Append(SetMember(Var("c"), "_focusrect", Str("test")));  // NaN is on
  Set(a, "afterNaN", Member(Var("_root"), "_focusrect"));
  a.Append(SetMember(Var("c"), "_focusrect", Object({})));  // an object is off
  Set(a, "afterObject", Member(Var("_root"), "_focusrect"));
  Played r(ClipMovie(a, 5));
  EXPECT_EQ(r.Get("start"), "1");
  EXPECT_EQ(r.Get("viaRoot"), "0");
  EXPECT_EQ(r.Get("afterNull"), "0");
  EXPECT_EQ(r.Get("afterNaN"), "1");
  EXPECT_EQ(r.Get("afterObject"), "0");
}

TEST(Avm1FocusRect, FromSwf6TheRootAnswersThePlayersAndOtherObjectsTheirOwn) {
  for (std::uint8_t version : {6, 7}) {
    SCOPED_TRACE(version);
    Actions a;
    Set(a, "clipStart", Member(Var("c"), "_focusrect"));
    Set(a, "rootStart", Member(Var("_root"), "_focusrect"));
    a.Append(SetMember(Var("c"), "_focusrect", Str("0")));  // a boolean by the version's rule
    Set(a, "clipZero", Member(Var("c"), "_focusrect"));
    Set(a, "rootAfterClip", Member(Var("_root"), "_focusrect"));
    a.Append(SetMember(Var("_root"), "_focusrect", Num(0)));
    a.Append(SetMember(Var("_root"), "_focusrect", Undef()));
    Set(a, "rootAfterUndefined", Member(Var("_root"), "_focusrect"));
    a.Append(SetMember(Var("c"), "_focusrect", Actions().PushNull()));
    Set(a, "clipCleared", Member(Var("c"), "_focusrect"));
    Played r(ClipMovie(a, version));
    EXPECT_EQ(r.Get("clipStart"), "null");
    EXPECT_EQ(r.Get("rootStart"), "true");
    EXPECT_EQ(r.Get("clipZero"), version == 6 ? "false" : "true");
    EXPECT_EQ(r.Get("rootAfterClip"), "true");
    EXPECT_EQ(r.Get("rootAfterUndefined"), "false");
    EXPECT_EQ(r.Get("clipCleared"), "null");
  }
}

// The focused object removed by a script, or hidden (or a clip it is in),
// takes the focus with it: Selection's listeners hear the change while
// it is still there, and the focus stays empty when a new one of the
// same name comes.
TEST(Avm1Focus, RemovedOrHiddenObjectsLoseTheFocus) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "watcher", Object({}));
  a.Append(SetMember(Var("watcher"), "onSetFocus",
                     Function({"o", "n"}, Log(Bin(Bin(Bin(Var("o"), Str(">"), Action::kAdd2), Var("n"), Action::kAdd2),
                                                  Str(","), Action::kAdd2)))));
  a.Append(Do(Var("Selection"), "addListener", {Var("watcher")}));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("box"), Int(1)}));
  a.Append(Do(Member(Var("_root"), "box"), "createTextField", {Str("t"), Int(1), Int(0), Int(0), Int(50), Int(18)}));
  a.Append(Do(Var("Selection"), "setFocus", {Str("_root.box.t")}));
  a.Append(Do(Member(Var("_root"), "box"), "removeMovieClip", {}));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("box"), Int(1)}));
  a.Append(Do(Member(Var("_root"), "box"), "createTextField", {Str("t"), Int(1), Int(0), Int(0), Int(50), Int(18)}));
  Set(a, "afterRemove", Method(Var("Selection"), "getFocus"));
  a.Append(Do(Var("Selection"), "setFocus", {Str("_root.box.t")}));
  a.Append(SetMember(Member(Member(Var("_root"), "box"), "t"), "_visible", Bool(false)));
  Set(a, "afterHide", Method(Var("Selection"), "getFocus"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("_global.log"),
            "null>_level0.box.t,_level0.box.t>null,null>_level0.box.t,_level0.box.t>null,");
  EXPECT_EQ(r.Get("afterRemove"), "null");
  EXPECT_EQ(r.Get("afterHide"), "null");
}

// var = "name,name,..." as for..in lists `obj`.
Actions ListNames(const std::string& var, const Actions& obj) {
  Actions body;
  Set(body, var, Bin(Bin(Var(var), Actions().PushRegister(0), Action::kAdd2), Str(","), Action::kAdd2));
  Actions a;
  Set(a, var, Str(""));
  return a.Append(ForIn(obj, body));
}

// obj.tabIndex = value, then log += obj.tabIndex + ";".
Actions SetTabIndex(const Actions& obj, const Actions& value) {
  Actions a = SetMember(obj, "tabIndex", value);
  return a.Append(Log(Bin(Member(obj, "tabIndex"), Str(";"), Action::kAdd2)));
}

// The values each kind of object keeps: a button the processor's
// truncation (NaN and numbers out of range the lowest integer), a text
// field an unsigned 32-bit integer; undefined clears both.
TEST(Avm1TabIndex, ButtonsTruncateFieldsKeepUnsignedIntegers) {
  auto b = Movie(8);
  b.DefineShape(1, Square(200, kRed));
  b.DefineButton2(6, {{.up = true, .hitTest = true, .characterId = 1}});
  b.PlaceObject2({.depth = 1, .characterId = 6, .name = "btn"});
  Actions a;
  Set(a, "_global.log", Str(""));
  a.Append(Do(Var("_root"), "createTextField", {Str("field"), Int(2), Int(0), Int(0), Int(50), Int(18)}));
  for (const char* target : {"btn", "field"}) {
    const Actions obj = Member(Var("_root"), target);
    a.Append(Log(Bin(Member(obj, "tabIndex"), Str(";"), Action::kAdd2)));
    for (const Actions& v : {Int(4), Int(-4), Num(2147483648.0), Str("x"), Num(1.9), Undef()}) {
      a.Append(SetTabIndex(obj, v));
    }
    a.Append(Log("|"));
  }
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("_global.log"),
            "undefined;4;-4;-2147483648;-2147483648;1;undefined;|"
            "undefined;4;4294967292;2147483648;0;1;undefined;|");
}

// Button.prototype's properties are listed on every button and its methods
// reach them; a text field lists what scripts gave it, never the values
// the player keeps for it.
TEST(Avm1TabIndex, ButtonsAndFieldsListTheirNamesAndPrototypes) {
  auto b = Movie(8);
  b.DefineShape(1, Square(200, kRed));
  b.DefineButton2(6, {{.up = true, .hitTest = true, .characterId = 1}});
  b.PlaceObject2({.depth = 1, .characterId = 6, .name = "btn"});
  Actions a;
  a.Append(SetMember(Member(Var("Button"), "prototype"), "hello",
                     Function({}, Actions().PushString("hi").Raw(Code(Action::kReturn)))));
  Set(a, "greeting", Method(Var("btn"), "hello"));
  Set(a, "depth", Method(Var("btn"), "getDepth"));  // MovieClip's methods still answer
  a.Append(ListNames("buttonNames", Var("btn")));
  a.Append(Do(Var("_root"), "createTextField", {Str("field"), Int(2), Int(0), Int(0), Int(50), Int(18)}));
  a.Append(SetMember(Member(Var("_root"), "field"), "tabEnabled", Bool(true)));
  a.Append(SetMember(Member(Var("_root"), "field"), "tabIndex", Int(3)));
  a.Append(SetMember(Member(Var("_root"), "field"), "restrict", Str("a-z")));
  a.Append(ListNames("fieldNames", Member(Var("_root"), "field")));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("greeting"), "hi");
  EXPECT_EQ(r.Get("depth"), "-16383");
  const std::string buttonNames = r.Get("buttonNames");
  EXPECT_NE(buttonNames.find("tabIndex,"), std::string::npos) << buttonNames;
  EXPECT_NE(buttonNames.find("hello,"), std::string::npos) << buttonNames;
  const std::string fieldNames = r.Get("fieldNames");
  EXPECT_NE(fieldNames.find("tabEnabled,"), std::string::npos) << fieldNames;
  EXPECT_NE(fieldNames.find("tabIndex,"), std::string::npos) << fieldNames;  // TextField's, once
  EXPECT_NE(fieldNames.find("text,"), std::string::npos) << fieldNames;
  EXPECT_EQ(fieldNames.find("tabindex,"), std::string::npos) << fieldNames;
  EXPECT_EQ(fieldNames.find("_listeners,"), std::string::npos) << fieldNames;
  EXPECT_EQ(fieldNames.find("tabIndex,"), fieldNames.rfind("tabIndex,")) << fieldNames;
}

// A clip's tabIndex is a variable like any other here.
TEST(Avm1TabIndex, ClipsKeepWhatScriptsWrite) {
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("c"), Int(1)}));
  a.Append(SetMember(Member(Var("_root"), "c"), "tabIndex", Str("first")));
  Set(a, "kept", Member(Member(Var("_root"), "c"), "tabIndex"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("kept"), "first");
}

}  // namespace
}  // namespace quarvel::player::script_test
