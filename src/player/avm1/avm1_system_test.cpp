// The player's environment as scripts see it: the security sandbox, the
// context menu's model and the devices the player has none of; on
// builder-made movies.
#include <gtest/gtest.h>

#include <string>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

constexpr std::uint8_t kTypeOf = Code(Action::kTypeOf), kStrictEquals = Code(Action::kStrictEquals);

Actions Security() { return Member(Var("System"), "security"); }

// A movie played from a file reaches files, or the network when its
// FileAttributes ask for it; a movie without the tag reaches files.
TEST(Avm1System, SandboxTypeFollowsTheUseNetworkAttribute) {
  Actions a;
  Set(a, "sandbox", Member(Security(), "sandboxType"));
  auto network = Movie(8);
  network.FileAttributes(1);
  network.DoAction(Actions().Append(a).Stop()).ShowFrame();
  EXPECT_EQ(Played(network).Get("sandbox"), "localWithNetwork");
  auto files = Movie(8);
  files.FileAttributes(0x10);  // metadata only
  files.DoAction(Actions().Append(a).Stop()).ShowFrame();
  EXPECT_EQ(Played(files).Get("sandbox"), "localWithFile");
  EXPECT_EQ(Played(Script(a, 6)).Get("sandbox"), "localWithFile");
}

// A new menu shows all of Flash's entries and no custom ones; copy() makes
// a menu of its own (switches and items copied, not shared), and
// hideBuiltInItems switches every entry off.
TEST(Avm1System, ContextMenuCopiesAndHidesItsEntries) {
  Actions a;
  Set(a, "handler", Function({}, Actions()));
  Set(a, "m", New("ContextMenu", {Var("handler")}));
  Set(a, "fresh", Bin(Member(Member(Var("m"), "builtInItems"), "save"), Member(Member(Var("m"), "customItems"), "length"),
                      Code(Action::kAdd2)));
  a.Append(SetMember(Member(Var("m"), "builtInItems"), "play", Bool(false)));
  a.Append(Do(Member(Var("m"), "customItems"), "push", {New("ContextMenuItem", {Str("About"), Var("handler")})}));
  Set(a, "c", Method(Var("m"), "copy"));
  Set(a, "copiedPlay", Member(Member(Var("c"), "builtInItems"), "play"));
  Set(a, "copiedZoom", Member(Member(Var("c"), "builtInItems"), "zoom"));
  Set(a, "sameHandler", Bin(Member(Var("c"), "onSelect"), Var("handler"), kStrictEquals));
  Set(a, "itemCaption", Member(Member(Member(Var("c"), "customItems"), "0"), "caption"));
  Set(a, "itemShared", Bin(Member(Member(Var("c"), "customItems"), "0"), Member(Member(Var("m"), "customItems"), "0"),
                           kStrictEquals));
  Set(a, "listShared", Bin(Member(Var("c"), "customItems"), Member(Var("m"), "customItems"), kStrictEquals));
  a.Append(Do(Var("m"), "hideBuiltInItems", {}));
  Set(a, "hiddenSave", Member(Member(Var("m"), "builtInItems"), "save"));
  Set(a, "copyStillShown", Member(Member(Var("c"), "builtInItems"), "save"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("fresh"), "1");  // true + 0
  EXPECT_EQ(r.Get("copiedPlay"), "false");
  EXPECT_EQ(r.Get("copiedZoom"), "true");
  EXPECT_EQ(r.Get("sameHandler"), "true");
  EXPECT_EQ(r.Get("itemCaption"), "About");
  EXPECT_EQ(r.Get("itemShared"), "false");
  EXPECT_EQ(r.Get("listShared"), "false");
  EXPECT_EQ(r.Get("hiddenSave"), "false");
  EXPECT_EQ(r.Get("copyStillShown"), "true");
}

// An item's flags default to shown, enabled and without a separator, and
// missing caption or handler stay undefined.
TEST(Avm1System, ContextMenuItemDefaults) {
  Actions a;
  Set(a, "i", New("ContextMenuItem", {}));
  for (const char* p : {"caption", "onSelect", "separatorBefore", "enabled", "visible"}) {
    Set(a, p, Op(Member(Var("i"), p), kTypeOf));
  }
  for (const char* p : {"separatorBefore", "enabled", "visible"}) Set(a, std::string(p) + "Value", Member(Var("i"), p));
  Set(a, "j", New("ContextMenuItem", {Str("x"), Undef(), Int(1), Int(0), Str("")}));
  Set(a, "jSep", Member(Var("j"), "separatorBefore"));
  Set(a, "jEnabled", Member(Var("j"), "enabled"));
  Set(a, "jVisible", Member(Var("j"), "visible"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("caption"), "undefined");
  EXPECT_EQ(r.Get("onSelect"), "undefined");
  EXPECT_EQ(r.Get("separatorBefore"), "boolean");
  EXPECT_EQ(r.Get("separatorBeforeValue"), "false");
  EXPECT_EQ(r.Get("enabledValue"), "true");
  EXPECT_EQ(r.Get("visibleValue"), "true");
  EXPECT_EQ(r.Get("jSep"), "true");
  EXPECT_EQ(r.Get("jEnabled"), "false");
  EXPECT_EQ(r.Get("jVisible"), "false");
}

// The classes exist in every version; the player has no camera, microphone,
// socket server or input method editor.
TEST(Avm1System, DevicesThePlayerHasNoneOf) {
  Actions a;
  for (const char* cls : {"Button", "Camera", "Microphone", "LocalConnection", "XMLSocket"}) {
    Set(a, std::string("type") + cls, Op(Var(cls), kTypeOf));
  }
  Set(a, "camera", Method(Var("Camera"), "get"));
  Set(a, "mics", Member(Member(Var("Microphone"), "names"), "length"));
  Set(a, "socket", Method(New("XMLSocket"), "connect", {Str("localhost"), Int(1024)}));
  Set(a, "ime", Method(Member(Var("System"), "IME"), "getEnabled"));
  for (std::uint8_t version : {5, 8}) {
    Played r(Script(a, version));
    for (const char* cls : {"Button", "Camera", "Microphone", "LocalConnection", "XMLSocket"}) {
      EXPECT_EQ(r.Get(std::string("type") + cls), "function") << cls << " in version " << int(version);
    }
    EXPECT_EQ(r.Get("camera"), "null");
    EXPECT_EQ(r.Get("mics"), "0");
    EXPECT_EQ(r.Get("socket"), "false");
    EXPECT_EQ(r.Get("ime"), "false");
  }
}

}  // namespace
}  // namespace quarvel::player::script_test
