// Flash's rules for ActionScript 1/2 text and XML objects, on builder-made
// movies: TextFormat's conversions by SWF version, TextField.prototype,
// style sheets, and XML's attributes, ids and namespaces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

enum : std::uint8_t {
  kNewMethod = Code(Action::kNewMethod),
  kTypeOf = Code(Action::kTypeOf),
  kInitObject = Code(Action::kInitObject),
  kPop = Code(Action::kPop)
};

Actions NewSheet() { return Actions().PushInt(0).Append(Var("TextField")).PushString("StyleSheet").Raw(kNewMethod); }

// f = new TextFormat(); f.<member> = value; <name> = f.<member>
void SetAndRead(Actions& a, const std::string& name, const std::string& member, const Actions& value) {
  a.Append(SetMember(Var("f"), member, value));
  Set(a, name, Member(Var("f"), member));
}

TEST(Avm1TextFormat, SettersConvertAsFlashDoesBySwfVersion) {
  Actions a;
  Set(a, "f", New("TextFormat"));
  Set(a, "fresh", Member(Var("f"), "size"));
  Set(a, "freshType", Op(Member(Var("f"), "size"), kTypeOf));
  SetAndRead(a, "half", "size", Dbl(2.5));
  SetAndRead(a, "negHalf", "indent", Dbl(-3.5));
  SetAndRead(a, "margin", "leftMargin", Int(-4));
  SetAndRead(a, "nanSize", "size", Dbl(std::nan("")));
  SetAndRead(a, "nanMargin", "rightMargin", Dbl(std::nan("")));
  SetAndRead(a, "color", "color", Int(-11));
  SetAndRead(a, "bold", "bold", Str("x"));
  SetAndRead(a, "font", "font", Int(5));
  SetAndRead(a, "spacing", "letterSpacing", Dbl(1.5));
  SetAndRead(a, "align", "align", Str("CENTER"));
  SetAndRead(a, "align2", "align", Str("middle"));  // unknown: kept
  SetAndRead(a, "align3", "align", Actions().PushNull());
  SetAndRead(a, "display", "display", Str("Inline"));
  SetAndRead(a, "tabs", "tabStops", Array({Dbl(1.5), Dbl(2.5)}));
  SetAndRead(a, "cleared", "size", Undef());
  Set(a, "g", New("TextFormat", {Str(std::string(70, 'f')), Dbl(-10.9), Undef(), Undef(), Undef(), Undef(), Undef(),
                                 Undef(), Undef(), Dbl(-3.5)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("fresh"), "null");
  EXPECT_EQ(r.Get("freshType"), "null");
  EXPECT_EQ(r.Get("half"), "2");        // half to even
  EXPECT_EQ(r.Get("negHalf"), "-4");
  EXPECT_EQ(r.Get("margin"), "0");      // margins are never negative
  EXPECT_EQ(r.Get("nanSize"), "-2147483648");
  EXPECT_EQ(r.Get("nanMargin"), "0");
  EXPECT_EQ(r.Get("color"), "4294967285");  // unsigned
  EXPECT_EQ(r.Get("bold"), "true");
  EXPECT_EQ(r.Get("font"), "5");
  EXPECT_EQ(r.Get("spacing"), "1.5");
  EXPECT_EQ(r.Get("align"), "center");
  EXPECT_EQ(r.Get("align2"), "center");
  EXPECT_EQ(r.Get("align3"), "center");
  EXPECT_EQ(r.Get("display"), "block");  // names are exact
  EXPECT_EQ(r.Get("tabs"), "2,2");
  EXPECT_EQ(r.Get("cleared"), "null");
  EXPECT_EQ(r.Get("g.font"), std::string(64, 'f'));  // 64 characters at most
  EXPECT_EQ(r.Get("g.size"), "-10");                  // the constructor truncates
  EXPECT_EQ(r.Get("g.leftMargin"), "-3");             // and does not clamp

  // SWF 7 setters truncate, and indents and leading are never negative either.
  Actions seven;
  Set(seven, "f", New("TextFormat"));
  SetAndRead(seven, "half", "size", Dbl(1.5));
  SetAndRead(seven, "neg", "size", Dbl(-9.5));
  SetAndRead(seven, "indent", "indent", Int(-3));
  Played r7(Script(seven, 7));
  EXPECT_EQ(r7.Get("half"), "1");
  EXPECT_EQ(r7.Get("neg"), "-9");
  EXPECT_EQ(r7.Get("indent"), "0");
}

TEST(Avm1TextFormat, AnEmptyRangeHasNoFormat) {
  Actions a = MakeField(0, 0, 100, 20);
  Set(a, "empty", Method(Var("t"), "getTextFormat", {}));
  a.Append(SetMember(Var("t"), "text", Str("x")));
  Set(a, "none", Method(Var("t"), "getTextFormat", {Int(0), Int(0)}));
  Set(a, "one", Method(Var("t"), "getTextFormat", {}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("empty.size"), "null");
  EXPECT_EQ(r.Get("empty.display"), "block");
  EXPECT_EQ(r.Get("none.font"), "null");
  EXPECT_EQ(r.Get("one.size"), "12");
}

TEST(Avm1TextFieldProto, PropertiesBelongToFieldsAndAreListed) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "o", New("TextField"));
  a.Append(ForIn(Var("o"), Log(Bin(Actions().PushRegister(0), Str(","), Action::kAdd2))));
  Set(a, "text", Member(Var("o"), "text"));
  a.Append(SetMember(Var("o"), "text", Str("lost")));
  Set(a, "after", Member(Var("o"), "text"));
  a.Append(SetMember(Var("o"), "filters", Str("kept")));
  Set(a, "notPlain", Member(Var("o"), "filters"));
  Set(a, "replaceText", Op(Member(Var("o"), "replaceText"), kTypeOf));
  a.Append(MakeField(0, 0, 100, 20));
  Set(a, "count", Member(Member(Var("t"), "_listeners"), "length"));
  Set(a, "first", Bin(Member(Member(Var("t"), "_listeners"), "0"), Var("t"), Action::kStrictEquals));
  Played r(Script(a));
  EXPECT_EQ(r.Get("log").rfind("styleSheet,mouseWheelEnabled,condenseWhite,", 0), 0u) << r.Get("log");
  EXPECT_NE(r.Get("log").find("antiAliasType,gridFitType,"), std::string::npos);
  EXPECT_EQ(r.Get("text"), "");  // undefined off a field
  EXPECT_EQ(r.Get("after"), "");
  EXPECT_EQ(r.Get("notPlain"), "");
  EXPECT_EQ(r.Get("replaceText"), "function");
  EXPECT_EQ(r.Get("count"), "1");  // a field listens to itself
  EXPECT_EQ(r.Get("first"), "true");

  // SWF 7 knows the SWF 8 properties as plain ones, and no replaceText before it.
  Actions six;
  Set(six, "o", New("TextField"));
  six.Append(SetMember(Var("o"), "filters", Str("kept")));
  Set(six, "plain", Member(Var("o"), "filters"));
  Set(six, "replaceText", Op(Member(Var("o"), "replaceText"), kTypeOf));
  Played r6(Script(six, 6));
  EXPECT_EQ(r6.Get("plain"), "kept");
  EXPECT_EQ(r6.Get("replaceText"), "undefined");
}

TEST(Avm1TextFieldProto, WatchersSeeWritesToFieldProperties) {
  Actions a = MakeField(0, 0, 100, 20);
  Set(a, "_global.log", Str(""));
  Actions body = Log(Bin(Bin(Var("prop"), Str("="), Action::kAdd2), Bin(Var("old"), Var("now"), Action::kAdd2),
                         Action::kAdd2));
  body.Append(Actions().PushString("upper")).Raw(Code(Action::kReturn));
  Set(a, "ok", Method(Var("t"), "watch", {Str("text"), Function({"prop", "old", "now"}, body)}));
  a.Append(SetMember(Var("t"), "text", Str("hello")));
  Set(a, "shown", Member(Var("t"), "text"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("ok"), "true");
  EXPECT_EQ(r.Get("log"), "text=undefinedhello");  // no own property before
  EXPECT_EQ(r.Get("shown"), "upper");               // the watcher's value is stored
}

TEST(Avm1TextFieldProto, BoundFieldsShowTheirVariableAtOnce) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "variable", Str("v")));
  Set(a, "unset", Op(Var("v"), kTypeOf));  // an empty field gives no value
  Set(a, "v", Str("now"));
  Set(a, "shown", Member(Var("t"), "text"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("unset"), "undefined");
  EXPECT_EQ(r.Get("shown"), "now");
}

// A field follows a variable of a clip; one of a plain object gives the
// field its text when bound and takes the field's text, but is not followed.
// A variable gone with its clip leaves the text as it was.
TEST(Avm1TextFieldProto, BoundFieldsFollowClipsNotPlainObjects) {
  Actions a = MakeField(0, 0, 100, 20);
  Set(a, "obj", Actions().PushString("v").PushString("first").PushInt(1).Raw(kInitObject));
  a.Append(SetMember(Var("t"), "variable", Str("obj.v")));
  Set(a, "bound", Member(Var("t"), "text"));
  a.Append(SetMember(Var("obj"), "v", Str("second")));
  Set(a, "unfollowed", Member(Var("t"), "text"));
  a.Append(SetMember(Var("t"), "text", Str("typed")));
  Set(a, "written", Member(Var("obj"), "v"));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("mc"), Int(5)}));
  a.Append(SetMember(Var("t"), "variable", Str("_root.mc.w")));
  a.Append(SetMember(Member(Var("_root"), "mc"), "w", Str("clip")));
  Set(a, "followed", Member(Var("t"), "text"));
  a.Append(Do(Member(Var("_root"), "mc"), "removeMovieClip", {}));
  Set(a, "gone", Member(Var("t"), "text"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("bound"), "first");
  EXPECT_EQ(r.Get("unfollowed"), "first");
  EXPECT_EQ(r.Get("written"), "typed");
  EXPECT_EQ(r.Get("followed"), "clip");
  EXPECT_EQ(r.Get("gone"), "clip");
  EXPECT_EQ(r.Get("_root.field.text"), "clip");  // still so after the frame
}

TEST(Avm1Selection, FocusSelectsAllAndReplaceSelFollowsTheCaret) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "text", Str("abcd")));
  Set(a, "unfocused", Method(Var("Selection"), "getBeginIndex", {}));
  a.Append(Do(Var("t"), "replaceSel", {Str("|")}));  // a new field's caret is at its start
  Set(a, "first", Member(Var("t"), "text"));
  Set(a, "cleared", Method(Var("Selection"), "setFocus", {Actions().PushNull()}));
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("mc"), Int(5)}));
  Set(a, "plainClip", Method(Var("Selection"), "setFocus", {Var("mc")}));
  a.Append(Do(Var("Selection"), "setFocus", {Var("t")}));
  Set(a, "end", Method(Var("Selection"), "getEndIndex", {}));
  a.Append(Do(Var("Selection"), "setSelection", {Int(4), Int(1)}));
  Set(a, "begin", Method(Var("Selection"), "getBeginIndex", {}));
  Set(a, "caret", Method(Var("Selection"), "getCaretIndex", {}));
  a.Append(Do(Var("t"), "replaceSel", {Str("X")}));
  a.Append(Do(Var("t"), "replaceSel", {Str("Y")}));
  Set(a, "second", Member(Var("t"), "text"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("unfocused"), "-1");
  EXPECT_EQ(r.Get("first"), "|abcd");
  EXPECT_EQ(r.Get("cleared"), "true");
  EXPECT_EQ(r.Get("plainClip"), "false");  // no focusEnabled, no button handlers
  EXPECT_EQ(r.Get("end"), "5");
  EXPECT_EQ(r.Get("begin"), "1");
  EXPECT_EQ(r.Get("caret"), "1");
  EXPECT_EQ(r.Get("second"), "|XYd");
}

TEST(Avm1StyleSheet, StylesAreCopiedTransformedAndListed) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "css", NewSheet());
  Set(a, "before", Op(Member(Var("css"), "_css"), kTypeOf));
  Set(a, "style", Object({{"color", Str("#FF0000")}, {"fontSize", Str("12px")}}));
  a.Append(Method(Var("css"), "setStyle", {Str("Key"), Var("style")})).Raw(Code(Action::kPop));
  a.Append(SetMember(Var("style"), "color", Str("#00FF00")));  // the sheet kept a copy
  Set(a, "got", Method(Var("css"), "getStyle", {Str("Key")}));
  Set(a, "other", Method(Var("css"), "getStyle", {Str("key")}));
  Set(a, "tf", Member(Member(Var("css"), "_styles"), "Key"));
  a.Append(Method(Var("css"), "setStyle", {Str("gone"), Actions().PushNull()})).Raw(Code(Action::kPop));
  Set(a, "names", Method(Var("css"), "getStyleNames", {}));
  // A script's transform is what setStyle and parseCSS call.
  a.Append(SetMember(Var("css"), "transform", Function({"s"}, Log(Str("t")))));
  Set(a, "ok", Method(Var("css"), "parseCSS", {Str("a, b { font-size: 5 }")}));
  Set(a, "bad", Method(Var("css"), "parseCSS", {Str("c { x: y }; junk")}));
  Set(a, "c", Method(Var("css"), "getStyle", {Str("c")}));
  Set(a, "a", Method(Var("css"), "getStyle", {Str("a")}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("before"), "undefined");
  EXPECT_EQ(r.Get("got.color"), "#FF0000");
  EXPECT_EQ(r.Get("other"), "null");  // names keep their case
  EXPECT_EQ(r.Get("tf.color"), "16711680");
  EXPECT_EQ(r.Get("tf.size"), "12");
  EXPECT_EQ(r.Get("names"), "Key,gone");
  EXPECT_EQ(r.Get("ok"), "true");
  EXPECT_EQ(r.Get("log"), "tt");  // once per selector
  EXPECT_EQ(r.Get("bad"), "false");
  EXPECT_EQ(r.Get("c"), "null");  // a refused sheet changes nothing
  EXPECT_EQ(r.Get("a.fontSize"), "5 ");
}

// A plain field with a style sheet reads text and htmlText as HTML, and its
// htmlText reads back the HTML; without the sheet it is plain again.
TEST(Avm1StyleSheet, ASheetMakesAPlainFieldReadHtml) {
  Actions a = MakeField(0, 0, 50, 20);
  a.Append(SetMember(Var("t"), "text", Str("x<b>y</b>")));
  Set(a, "css", NewSheet());
  a.Append(SetMember(Var("t"), "styleSheet", Var("css")));
  Set(a, "written", Member(Var("t"), "htmlText"));  // the plain text as HTML
  a.Append(SetMember(Var("t"), "text", Str("<b>a</b>b")));
  Set(a, "text1", Member(Var("t"), "text"));
  Set(a, "html1", Member(Var("t"), "htmlText"));
  a.Append(SetMember(Var("t"), "styleSheet", Actions().PushNull()));
  Set(a, "html2", Member(Var("t"), "htmlText"));
  a.Append(SetMember(Var("t"), "text", Str("<b>c</b>")));
  Set(a, "text3", Member(Var("t"), "text"));
  Set(a, "flag", Member(Var("t"), "html"));
  Played r(Script(a));
  EXPECT_NE(r.Get("written").find("x&lt;b&gt;y&lt;/b&gt;</FONT></P>"), std::string::npos) << r.Get("written");
  EXPECT_EQ(r.Get("text1"), "ab");
  EXPECT_EQ(r.Get("html1"), "<b>a</b>b");  // as given
  EXPECT_EQ(r.Get("html2"), "ab");
  EXPECT_EQ(r.Get("text3"), "<b>c</b>");
  EXPECT_EQ(r.Get("flag"), "false");
}

TEST(Avm1StyleSheet, TransformReadsCssValuesAsFlashDoes) {
  Actions a;
  Set(a, "css", NewSheet());
  auto transform = [&](const std::string& name, const std::vector<std::pair<std::string, Actions>>& style) {
    Set(a, name, Method(Var("css"), "transform", {Object(style)}));
  };
  transform("empty", {});
  transform("hex", {{"color", Str("#faFAfa")}});
  transform("shortHex", {{"color", Str("#456")}});
  transform("size", {{"fontSize", Str(" 42pt")}, {"marginLeft", Int(-5)}, {"leading", Str("x")}});
  transform("family", {{"fontFamily", Str("  A  ,  B ,, C ")}, {"textAlign", Str("CENTER")}});
  transform("kern", {{"kerning", Str("2px")}, {"letterSpacing", Str("1.9")}, {"fontWeight", Str("Bold")}});
  transform("kernBool", {{"kerning", Bool(true)}, {"fontStyle", Str("italic")}, {"textDecoration", Str("none")}});
  Set(a, "none", Method(Var("css"), "transform", {Actions().PushNull()}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("none"), "null");
  EXPECT_EQ(r.Get("empty.kerning"), "false");
  EXPECT_EQ(r.Get("empty.size"), "null");
  EXPECT_EQ(r.Get("hex.color"), "16448250");
  EXPECT_EQ(r.Get("shortHex.color"), "null");
  EXPECT_EQ(r.Get("size.size"), "42");
  EXPECT_EQ(r.Get("size.leftMargin"), "0");
  EXPECT_EQ(r.Get("size.leading"), "0");
  EXPECT_EQ(r.Get("family.font"), "A  ,B ,C ");
  EXPECT_EQ(r.Get("family.align"), "center");
  EXPECT_EQ(r.Get("kern.kerning"), "true");
  EXPECT_EQ(r.Get("kern.letterSpacing"), "1");
  EXPECT_EQ(r.Get("kern.bold"), "null");  // weights are exact
  EXPECT_EQ(r.Get("kernBool.kerning"), "false");
  EXPECT_EQ(r.Get("kernBool.italic"), "true");
  EXPECT_EQ(r.Get("kernBool.underline"), "false");
}

TEST(Avm1Xml, AttributesIdsAndNamespaces) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "x", New("XML", {Str("<a xmlns:p='urn:p' y='1' x='2' id='top'><p:b id='in'/>t</a>")}));
  Set(a, "top", Member(Var("x"), "firstChild"));
  a.Append(ForIn(Member(Var("top"), "attributes"), Log(Actions().PushRegister(0))));
  Set(a, "b", Member(Var("top"), "firstChild"));
  Set(a, "byId", Bin(Member(Member(Var("x"), "idMap"), "in"), Var("b"), Action::kStrictEquals));
  Set(a, "uri", Member(Var("b"), "namespaceURI"));
  Set(a, "prefix", Method(Var("b"), "getPrefixForNamespace", {Str("urn:p")}));
  Set(a, "missing", Method(Var("b"), "getNamespaceForPrefix", {Str("q")}));
  Set(a, "docName", Member(Var("x"), "nodeName"));
  // A child of this node stays where it is.
  a.Append(Method(Var("top"), "appendChild", {Var("b")})).Raw(Code(Action::kPop));
  Set(a, "stillFirst", Bin(Member(Var("top"), "firstChild"), Var("b"), Action::kStrictEquals));
  a.Append(SetMember(Var("x"), "nodeName", Str("doc")));
  a.Append(SetMember(Var("x"), "nodeName", Undef()));  // ignored
  Set(a, "text", Method(Var("x"), "toString", {}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("log"), "xmlns:pyxid");  // document order
  EXPECT_EQ(r.Get("byId"), "true");
  EXPECT_EQ(r.Get("uri"), "urn:p");
  EXPECT_EQ(r.Get("prefix"), "p");
  EXPECT_EQ(r.Get("missing"), "null");
  EXPECT_EQ(r.Get("docName"), "null");
  EXPECT_EQ(r.Get("stillFirst"), "true");
  EXPECT_EQ(r.Get("text"), "<doc><a xmlns:p=\"urn:p\" y=\"1\" x=\"2\" id=\"top\"><p:b id=\"in\" />t</a></doc>");
}

TEST(Avm1TextField, MouseWheelEnabledIsKeptPerField) {
  Actions a = MakeField(0, 0, 50, 20);
  Set(a, "before", Member(Var("t"), "mouseWheelEnabled"));
  a.Append(SetMember(Var("t"), "mouseWheelEnabled", Int(0)));
  Set(a, "after", Member(Var("t"), "mouseWheelEnabled"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("before"), "true");
  EXPECT_EQ(r.Get("after"), "false");  // kept as a boolean
}

TEST(Avm1TextField, TextColorIsTheColourNewTextGets) {
  Actions a = MakeField(0, 0, 50, 20);
  a.Append(SetMember(Var("t"), "text", Str("ab")));
  a.Append(SetMember(Var("t"), "textColor", Int(0xFFFFFF)));
  Set(a, "f", New("TextFormat"));
  a.Append(SetMember(Var("f"), "color", Int(0x808080)));
  a.Append(Method(Var("t"), "setTextFormat", {Var("f")})).Raw(kPop);
  Set(a, "afterRange", Member(Var("t"), "textColor"));
  Set(a, "textItself", Member(Method(Var("t"), "getTextFormat", {Int(0)}), "color"));
  a.Append(SetMember(Var("f"), "color", Int(0x404040)));
  a.Append(Method(Var("t"), "setNewTextFormat", {Var("f")})).Raw(kPop);
  Set(a, "afterNew", Member(Var("t"), "textColor"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("afterRange"), "16777215");  // the text's own format leaves it
  EXPECT_EQ(r.Get("textItself"), "8421504");
  EXPECT_EQ(r.Get("afterNew"), "4210752");
}

// duplicateMovieClip on a field a script made gives a new, empty field at the
// same place: its type carries over, its text, size and visibility do not.
TEST(Avm1TextField, AScriptMadeFieldDuplicatesAsANewOne) {
  Actions a = MakeField(3, 4, 50, 20);
  a.Append(SetMember(Var("t"), "text", Str("x")));
  a.Append(SetMember(Var("t"), "type", Str("input")));
  a.Append(SetMember(Var("t"), "border", Actions().PushBool(true)));
  a.Append(SetMember(Var("t"), "_visible", Actions().PushBool(false)));
  a.Append(Var("t")).PushString("c").PushInt(20).Raw(Code(Action::kCloneSprite));
  for (const char* p : {"text", "type", "border", "_visible", "_x", "_y", "_width"}) {
    Set(a, std::string("c") + p, Member(Var("c"), p));
  }
  Played r(Script(a));
  EXPECT_EQ(r.Get("ctext"), "");
  EXPECT_EQ(r.Get("ctype"), "input");
  EXPECT_EQ(r.Get("cborder"), "false");
  EXPECT_EQ(r.Get("c_visible"), "true");
  EXPECT_EQ(r.Get("c_x"), "3");
  EXPECT_EQ(r.Get("c_y"), "4");
  EXPECT_EQ(r.Get("c_width"), "0");
}

// A field's _width and _height set its box, which its scale then stretches:
// at 200 % across, _width = 20 reads back 40.
TEST(Avm1TextField, SizeSetsTheBoxBeforeTheScale) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "_xscale", Int(200)));
  a.Append(SetMember(Var("t"), "_width", Int(20)));
  Set(a, "w", Member(Var("t"), "_width"));
  a.Append(SetMember(Var("t"), "_yscale", Int(50)));
  a.Append(SetMember(Var("t"), "_height", Int(30)));
  Set(a, "h", Member(Var("t"), "_height"));
  Set(a, "xs", Member(Var("t"), "_xscale"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("w"), "40");
  EXPECT_EQ(r.Get("h"), "15");
  EXPECT_EQ(r.Get("xs"), "200");
}

}  // namespace
}  // namespace quarvel::player::script_test
