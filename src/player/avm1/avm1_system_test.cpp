// The player's environment as scripts see it: the security sandbox, the
// context menu's model, the devices the player has none of, ExternalInterface's
// value encoding (what a host page would read, and the page's XML read back
// into script values), PrintJob without a printer, LocalConnection between
// the movies of one player and NetConnection's reports; on builder-made movies.
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
  Set(a, "imeBroadcasts", Bin(Member(Member(Var("System"), "IME"), "addListener"),
                              Member(Var("AsBroadcaster"), "addListener"), Code(Action::kEquals2)));
  for (std::uint8_t version : {5, 8}) {
    Played r(Script(a, version));
    for (const char* cls : {"Button", "Camera", "Microphone", "LocalConnection", "XMLSocket"}) {
      EXPECT_EQ(r.Get(std::string("type") + cls), "function") << cls << " in version " << int(version);
    }
    EXPECT_EQ(r.Get("camera"), "null");
    EXPECT_EQ(r.Get("mics"), "0");
    EXPECT_EQ(r.Get("socket"), "false");
    EXPECT_EQ(r.Get("ime"), "false");
    EXPECT_EQ(r.Get("imeBroadcasts"), "true");
  }
}

Actions External(const std::string& method, const std::vector<Actions>& args) {
  return Method(Member(Member(Var("flash"), "external"), "ExternalInterface"), method, args);
}

TEST(Avm1ExternalInterface, ValuesEncodeAsTheHostPagesXml) {
  Actions a;
  Set(a, "o", New("Object"));
  a.Append(SetMember(Var("o"), "n", Int(4)));
  a.Append(SetMember(Var("o"), "s", Str("<a&b>")));
  Set(a, "obj", External("_toXML", {Var("o")}));
  Set(a, "arr", External("_toXML", {Array({Bool(true), Actions().PushNull(), Str("")})}));
  Set(a, "withLength", External("_toXML", {Object({{"length", Int(2)}})}));
  Set(a, "fn", External("_toXML", {Function({}, Actions())}));
  Set(a, "args", External("_argumentsToXML", {Array({Str("name"), Int(1), Undef()})}));
  Set(a, "notArray", External("_arrayToXML", {Int(7)}));
  Played r(Script(a));
  // Newest property first, as for-in lists them.
  EXPECT_EQ(r.Get("obj"),
            "<object><property id=\"s\"><string>&lt;a&amp;b&gt;</string></property>"
            "<property id=\"n\"><number>4</number></property></object>");
  EXPECT_EQ(r.Get("arr"),
            "<array><property id=\"0\"><true/></property><property id=\"1\"><null/></property>"
            "<property id=\"2\"><string>null</string></property></array>");
  EXPECT_EQ(r.Get("withLength"),
            "<array><property id=\"0\"><undefined/></property><property id=\"1\"><undefined/></property></array>");
  EXPECT_EQ(r.Get("fn"), "<null/>");
  EXPECT_EQ(r.Get("args"), "<arguments><number>1</number><undefined/></arguments>");
  EXPECT_EQ(r.Get("notArray"), "<array></array>");
}

TEST(Avm1ExternalInterface, TheHostsXmlReadsBackIntoValues) {
  Actions a;
  Set(a, "doc", New("XML", {Str("<object><property id=\"list\"><array><property id=\"1\"><number> -2.5</number>"
                                "</property></array></property><property id=\"t\"><string>a&amp;b</string>"
                                "</property><property id=\"f\"><false/></property></object>")}));
  Set(a, "v", External("_toAS", {Member(Var("doc"), "firstChild")}));
  Set(a, "num", Member(Member(Var("v"), "list"), "1"));
  Set(a, "len", Member(Member(Var("v"), "list"), "length"));
  Set(a, "text", Member(Var("v"), "t"));
  Set(a, "flag", Op(Member(Var("v"), "f"), Code(Action::kTypeOf)));
  Set(a, "bad", Op(External("_toAS", {Object({{"nodeName", Str("Null")}})}), Code(Action::kTypeOf)));
  Set(a, "numText", External("_toAS", {Object({{"nodeName", Str("number")}, {"firstChild", Str("-2.1 ")}})}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("num"), "-2.5");
  EXPECT_EQ(r.Get("len"), "2");
  EXPECT_EQ(r.Get("text"), "a&b");
  EXPECT_EQ(r.Get("flag"), "boolean");
  EXPECT_EQ(r.Get("bad"), "undefined");  // names are matched as written
  EXPECT_EQ(r.Get("numText"), "NaN");    // trailing space: no number
}

// A converter has no printer: the print dialog never opens a job.
TEST(Avm1PrintJob, StartIsRefusedAndThePaperStaysUnknown) {
  Actions a;
  Set(a, "job", New("PrintJob"));
  Set(a, "started", Method(Var("job"), "start"));
  Set(a, "added", Method(Var("job"), "addPage", {Int(0)}));
  a.Append(SetMember(Var("job"), "pageWidth", Int(600)));
  Set(a, "width", Member(Var("job"), "pageWidth"));
  Set(a, "startType", Op(Member(Var("job"), "start"), Code(Action::kTypeOf)));
  Played v7(Script(a, 7));
  EXPECT_EQ(v7.Get("started"), "false");
  EXPECT_EQ(v7.Get("added"), "false");
  EXPECT_EQ(v7.Get("width"), "0");  // read-only
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("startType"), "undefined");  // its methods come with Flash 7
}

// Appends "<what>," to _global.log.
Actions LogCall(const std::string& what) {
  return Actions().PushString("_global.log").Append(Bin(Var("_global.log"), Str(what + ","), Action::kAdd2)).SetVariable();
}

// function(e) { _global.log += e[field] + ","; }
Actions LogEventField(const std::string& field) {
  return Function({"e"}, Actions().PushString("_global.log")
                             .Append(Bin(Var("_global.log"), Bin(Member(Var("e"), field), Str(","), Action::kAdd2),
                                         Action::kAdd2))
                             .SetVariable());
}

TEST(Avm1LocalConnection, MessagesGoAtTheNextFrameToWhoeverHoldsTheChannel) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "one", New("LocalConnection"));
  Set(a, "two", New("LocalConnection"));
  Set(a, "sender", New("LocalConnection"));
  a.Append(SetMember(Var("one"), "hello", Function({"x"}, LogCall("one.hello"))));
  a.Append(SetMember(Var("two"), "hello", Function({"x"}, Actions().Append(LogCall("two.hello")).Append(
                                                             Actions().PushString("_global.arg").Append(Var("x")).SetVariable()))));
  a.Append(SetMember(Var("sender"), "onStatus", LogEventField("level")));
  Set(a, "c1", Method(Var("one"), "connect", {Str("Chan")}));
  Set(a, "c2", Method(Var("two"), "connect", {Str("chan")}));  // taken, whatever the case
  Set(a, "bad", Method(Var("two"), "connect", {Str("a:b")}));
  Set(a, "s1", Method(Var("sender"), "send", {Str("LOCALHOST:chan"), Str("hello"), Int(7)}));
  Set(a, "s2", Method(Var("sender"), "send", {Str("nobody"), Str("hello")}));
  Set(a, "s3", Method(Var("sender"), "send", {Str("chan"), Str("close")}));
  Set(a, "s4", Method(Var("sender"), "send", {Str(""), Str("hello")}));
  // The channel changes hands before the message goes: the new holder gets it.
  a.Append(Do(Var("one"), "close", {}));
  Set(a, "c3", Method(Var("two"), "connect", {Str("chan")}));
  Set(a, "domain", Method(Var("sender"), "domain"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("c1"), "true");
  EXPECT_EQ(r.Get("c2"), "false");
  EXPECT_EQ(r.Get("bad"), "false");
  EXPECT_EQ(r.Get("s1"), "true");
  EXPECT_EQ(r.Get("s2"), "true");
  EXPECT_EQ(r.Get("s3"), "false");  // the connection's own methods are not called
  EXPECT_EQ(r.Get("s4"), "false");
  EXPECT_EQ(r.Get("c3"), "true");
  EXPECT_EQ(r.Get("domain"), "localhost");
  EXPECT_EQ(r.Get("_global.log"), "");
  r.player.AdvanceTo(500);
  EXPECT_EQ(r.Get("_global.log"), "status,two.hello,error,");
  EXPECT_EQ(r.Get("_global.arg"), "7");
}

TEST(Avm1NetConnection, ConnectAndCloseReportAtOnce) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "nc", New("NetConnection"));
  Set(a, "before", Member(Var("nc"), "isConnected"));
  a.Append(SetMember(Var("nc"), "onStatus", LogEventField("code")));
  a.Append(Do(Var("nc"), "close", {}));  // nothing open: no report
  a.Append(Do(Var("nc"), "connect", {Actions().PushNull()}));
  Set(a, "open", Member(Var("nc"), "isConnected"));
  a.Append(Do(Var("nc"), "connect", {Actions().PushNull()}));
  a.Append(Do(Var("nc"), "close", {}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("before"), "false");
  EXPECT_EQ(r.Get("open"), "true");
  EXPECT_EQ(r.Get("_global.log"),
            "NetConnection.Connect.Success,NetConnection.Connect.Closed,NetConnection.Connect.Success,"
            "NetConnection.Connect.Closed,");
}

}  // namespace
}  // namespace quarvel::player::script_test
