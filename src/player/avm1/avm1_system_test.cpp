// ExternalInterface's value encoding: what a host page would read, and the
// page's XML read back into script values; PrintJob without a printer;
// LocalConnection between the movies of one player; NetConnection's reports.
#include <gtest/gtest.h>

#include <string>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

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
