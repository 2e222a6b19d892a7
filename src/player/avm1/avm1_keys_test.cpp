// The keyboard as ActionScript 1/2 hears it: Key's state, its listeners,
// onClipEvent(keyDown/keyUp/keyPress) and the buttons' keyPress actions.
#include <gtest/gtest.h>

#include <string>

#include "player/avm1/avm1_test_script.h"
#include "player/display/stage.h"

namespace quarvel::player::script_test {
namespace {

constexpr int kRight = 39, kA = 65;

// "what(Key.getCode(),Key.getAscii(),Key.isDown(right))," onto the log.
Actions LogKeyState(const std::string& what) {
  Actions text = Str(what + "(");
  for (const Actions& part : {Method(Var("Key"), "getCode"), Str(","), Method(Var("Key"), "getAscii"), Str(","),
                              Method(Var("Key"), "isDown", {Int(kRight)}), Str("),")})
    text = Bin(text, part, Action::kAdd2);
  return Log(text);
}

TEST(Avm1Keys, KeyListenersReadTheKeyHeldAndTheLastPressed) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "watcher", Object({}));
  a.Append(SetMember(Var("watcher"), "onKeyDown", Function({}, LogKeyState("down"))));
  a.Append(SetMember(Var("watcher"), "onKeyUp", Function({}, LogKeyState("up"))));
  a.Append(Do(Var("Key"), "addListener", {Var("watcher")}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("_global.log"), "");
  r.player.KeyDown(kRight, 0);
  r.player.KeyDown(kA, 'a');
  r.player.KeyUp(kRight, 0);
  r.player.KeyUp(kA, 'a');
  // The last key pressed stays Key.getCode's after its release.
  EXPECT_EQ(r.Get("_global.log"), "down(39,0,true),down(65,97,true),up(65,97,false),up(65,97,false),");
}

TEST(Avm1Keys, ClipEventsAndButtonKeyPressActionsRun) {
  auto b = Movie(6);
  b.DefineShape(1, Square(400, kRed));
  b.DefineSprite(5, Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
  // A button whose keyPress condition is the right arrow (code 2), and one for "a".
  b.DefineButton2(6, {{.up = true, .hitTest = true, .characterId = 1}},
                  {{.conditions = 2 << 9, .actions = Log("button-right,")},
                   {.conditions = 'a' << 9, .actions = Log("button-a,")}});
  Actions a;
  Set(a, "_global.log", Str(""));
  b.DoAction(a);
  b.Tag(26, PlaceWithClipActions(5, 1, "m",
                                 {{kEventKeyDown, Log("keyDown,")},
                                  {kEventKeyUp, Log("keyUp,")},
                                  {kEventKeyPress, Actions().Raw(2).Append(Log("press-right,"))}}));
  b.PlaceObject2({.depth = 2, .characterId = 6});
  b.DoAction(Actions().Stop()).ShowFrame();
  Played r(b);
  r.player.KeyDown(kRight, 0);
  r.player.KeyUp(kRight, 0);
  r.player.KeyDown(kA, 'a');
  EXPECT_EQ(r.Get("_global.log"), "keyDown,press-right,button-right,keyUp,keyDown,button-a,");
}

TEST(Avm1Keys, ButtonKeyPressCodesFollowTheFormat) {
  EXPECT_EQ(ButtonKeyPressCode(37, 0), 1);   // left
  EXPECT_EQ(ButtonKeyPressCode(39, 0), 2);   // right
  EXPECT_EQ(ButtonKeyPressCode(13, 13), 13);  // enter
  EXPECT_EQ(ButtonKeyPressCode(38, 0), 14);  // up
  EXPECT_EQ(ButtonKeyPressCode(27, 27), 19);  // escape
  EXPECT_EQ(ButtonKeyPressCode(32, 32), 32);  // space types itself
  EXPECT_EQ(ButtonKeyPressCode(65, 'A'), 'A');
  EXPECT_EQ(ButtonKeyPressCode(16, 0), 0);   // shift alone names no condition
}

}  // namespace
}  // namespace quarvel::player::script_test
