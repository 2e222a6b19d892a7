// ExternalInterface's value encoding: what a host page would read, and the
// page's XML read back into script values; PrintJob without a printer.
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

}  // namespace
}  // namespace quarvel::player::script_test
