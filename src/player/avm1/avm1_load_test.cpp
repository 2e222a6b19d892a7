// XML, LoadVars, the loads from files beside the movie, and what a movie
// learns of the player (System, SharedObject, ExternalInterface), on
// builder-made movies.
#include <gtest/gtest.h>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

// function (args) { _root.name = <value> ... } as statements on the main timeline.
Actions SetRoot(const std::string& name, const Actions& value) {
  Actions a;
  Set(a, "/:" + name, value);
  return a;
}
Actions AppendRoot(const std::string& name, const std::string& text) {
  return SetRoot(name, Bin(Var("/:" + name), Str(text), Action::kAdd2));
}

TEST(Avm1Xml, ParsesNavigatesAndWritesBack) {
  Actions a;
  Set(a, "x", New("XML", {Str("<a id=\"1\" n='two'><b>t&amp;x</b><c/><!-- note --><![CDATA[<raw>]]></a>")}));
  Set(a, "text", Method(Var("x"), "toString"));
  Set(a, "status", Member(Var("x"), "status"));
  Set(a, "root", Member(Var("x"), "firstChild"));
  Set(a, "rootName", Member(Var("root"), "nodeName"));
  Set(a, "attr", Member(Member(Var("root"), "attributes"), "n"));
  Set(a, "count", Member(Member(Var("root"), "childNodes"), "length"));
  Set(a, "inner", Member(Member(Member(Var("root"), "firstChild"), "firstChild"), "nodeValue"));
  Set(a, "innerType", Member(Member(Member(Var("root"), "firstChild"), "firstChild"), "nodeType"));
  Set(a, "next", Member(Member(Member(Var("root"), "firstChild"), "nextSibling"), "nodeName"));
  Set(a, "cdata", Member(Member(Var("root"), "lastChild"), "nodeValue"));
  Set(a, "noPrev", Member(Member(Var("root"), "firstChild"), "previousSibling"));
  Set(a, "parentIsDoc", Bin(Member(Var("root"), "parentNode"), Var("x"), Action::kStrictEquals));
  Set(a, "textName", Member(Member(Member(Var("root"), "firstChild"), "firstChild"), "nodeName"));
  Set(a, "decl", Method(New("XML", {Str("<?xml version=\"1.0\"?><r/>")}), "toString"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("text"), "<a id=\"1\" n=\"two\"><b>t&amp;x</b><c />&lt;raw&gt;</a>");
  EXPECT_EQ(r.Get("status"), "0");
  EXPECT_EQ(r.Get("rootName"), "a");
  EXPECT_EQ(r.Get("attr"), "two");
  EXPECT_EQ(r.Get("count"), "3");
  EXPECT_EQ(r.Get("inner"), "t&x");
  EXPECT_EQ(r.Get("innerType"), "3");
  EXPECT_EQ(r.Get("next"), "c");
  EXPECT_EQ(r.Get("cdata"), "<raw>");
  EXPECT_EQ(r.Get("noPrev"), "null");
  EXPECT_EQ(r.Get("parentIsDoc"), "true");
  EXPECT_EQ(r.Get("textName"), "null");
  EXPECT_EQ(r.Get("decl"), "<?xml version=\"1.0\"?><r />");
}

TEST(Avm1Xml, WhiteSpaceAndStatusCodes) {
  Actions a;
  const std::string spaced = "<a>\n  <b/>\n</a>";
  Set(a, "keep", New("XML", {Str(spaced)}));
  Set(a, "kept", Member(Member(Member(Var("keep"), "firstChild"), "childNodes"), "length"));
  Set(a, "trim", New("XML"));
  a.Append(SetMember(Var("trim"), "ignoreWhite", Actions().PushBool(true)));
  a.Append(Do(Method(Var("trim"), "parseXML", {Str(spaced)})));
  Set(a, "trimmed", Member(Member(Member(Var("trim"), "firstChild"), "childNodes"), "length"));
  const std::pair<const char*, const char*> broken[] = {
      {"unclosed", "<a><b></a>"}, {"stray", "</a>"},          {"element", "<a"},
      {"comment", "<a><!-- x"},   {"attribute", "<a x=\"1>"}, {"cdataOpen", "<a><![CDATA[ x"}};
  for (auto& [name, doc] : broken) Set(a, name, Member(New("XML", {Str(doc)}), "status"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("kept"), "3");
  EXPECT_EQ(r.Get("trimmed"), "1");
  EXPECT_EQ(r.Get("unclosed"), "-9");
  EXPECT_EQ(r.Get("stray"), "-10");
  EXPECT_EQ(r.Get("element"), "-6");
  EXPECT_EQ(r.Get("comment"), "-5");
  EXPECT_EQ(r.Get("attribute"), "-8");
  EXPECT_EQ(r.Get("cdataOpen"), "-2");
}

TEST(Avm1Xml, BuildsAndEditsTrees) {
  Actions a;
  Set(a, "doc", New("XML"));
  Set(a, "list", Method(Var("doc"), "createElement", {Str("list")}));
  a.Append(Do(Method(Var("doc"), "appendChild", {Var("list")})));
  Set(a, "one", Method(Var("doc"), "createElement", {Str("item")}));
  a.Append(SetMember(Member(Var("one"), "attributes"), "k", Str("a<b")));
  a.Append(Do(Method(Var("one"), "appendChild", {Method(Var("doc"), "createTextNode", {Str("first & only")})})));
  Set(a, "two", Method(Var("doc"), "createElement", {Str("last")}));
  a.Append(Do(Method(Var("list"), "appendChild", {Var("two")})));
  a.Append(Do(Method(Var("list"), "insertBefore", {Var("one"), Var("two")})));
  Set(a, "built", Method(Var("doc"), "toString"));
  Set(a, "copy", Method(Var("list"), "cloneNode", {Actions().PushBool(true)}));
  Set(a, "shallow", Method(Method(Var("list"), "cloneNode", {Actions().PushBool(false)}), "toString"));
  a.Append(Do(Method(Var("two"), "removeNode")));
  Set(a, "afterRemove", Method(Var("doc"), "toString"));
  Set(a, "copyText", Method(Var("copy"), "toString"));
  // Appending a node moves it from where it was.
  a.Append(Do(Method(Var("copy"), "appendChild", {Var("one")})));
  Set(a, "moved", Method(Var("doc"), "toString"));
  Set(a, "has", Method(Var("list"), "hasChildNodes"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("built"), "<list><item k=\"a&lt;b\">first &amp; only</item><last /></list>");
  EXPECT_EQ(r.Get("shallow"), "<list />");
  EXPECT_EQ(r.Get("afterRemove"), "<list><item k=\"a&lt;b\">first &amp; only</item></list>");
  EXPECT_EQ(r.Get("copyText"), "<list><item k=\"a&lt;b\">first &amp; only</item><last /></list>");
  EXPECT_EQ(r.Get("moved"), "<list />");
  EXPECT_EQ(r.Get("has"), "false");
}

TEST(Avm1LoadVars, DecodesAndEncodes) {
  Actions a;
  Set(a, "lv", New("LoadVars"));
  a.Append(Do(Method(Var("lv"), "decode", {Str("a=1&b=hello+world&c=%26%3D&=x&d")})));
  Set(a, "b", Member(Var("lv"), "b"));
  Set(a, "c", Member(Var("lv"), "c"));
  Set(a, "d", Member(Var("lv"), "d"));
  Set(a, "text", Method(Var("lv"), "toString"));
  // Pairs come in for..in order, newest first, and getters are read.
  Set(a, "got", New("LoadVars"));
  a.Append(SetMember(Var("got"), "x", Int(1)));
  a.Append(Do(Method(Var("got"), "addProperty", {Str("g"), Function({}, Actions().PushString("m").Raw(Code(Action::kReturn))), Actions().PushNull()})));
  Set(a, "gotText", Method(Var("got"), "toString"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("b"), "hello world");
  EXPECT_EQ(r.Get("c"), "&=");
  EXPECT_EQ(r.Get("d"), "");
  EXPECT_EQ(r.Get("text"), "c=%26%3D&b=hello%20world&a=1");
  EXPECT_EQ(r.Get("gotText"), "g=m&x=1");
}

// Data arrives once the frame's actions are done: never while the script
// that asked runs, but before the next frame begins.
TEST(Avm1Load, FilesBesideTheMovieArriveWhenTheFrameIsDone) {
  TempFolder folder;
  folder.Write(folder.Dir() / "vars.txt", "score=42&name=Ann%20B");
  folder.Write(folder.Dir() / "data.xml", "\xEF\xBB\xBF<list>\n  <item id=\"7\"/>\n</list>");
  folder.Write(folder.Parent() / "outside.txt", "secret=1");
  std::filesystem::create_directories(folder.Dir() / "sub");
  folder.Write(folder.Dir() / "sub" / "more.txt", "level=3");
  Actions a;
  Set(a, "order", Str("A"));
  // lv.onLoad = function (ok) { _root.lvOk = ok; _root.order += "L"; }
  Set(a, "lv", New("LoadVars"));
  a.Append(SetMember(Var("lv"), "onLoad", Function({"ok"}, SetRoot("lvOk", Var("ok")).Append(AppendRoot("order", "L")))));
  Set(a, "asked", Method(Var("lv"), "load", {Str("vars.txt?nocache=1")}));
  Set(a, "whileAsking", Member(Var("lv"), "loaded"));
  // A subfolder written the Windows way.
  Set(a, "sub", New("LoadVars"));
  a.Append(Do(Method(Var("sub"), "load", {Str("sub\\more.txt")})));
  // The same for a missing file, a URL and a path out of the folder.
  const std::pair<const char*, const char*> failing[] = {
      {"missing", "nothere.txt"}, {"web", "http://example.com/vars.txt"}, {"out", "../outside.txt"}};
  for (auto& [name, url] : failing) {
    const std::string obj = std::string(name) + "Lv";
    Set(a, obj, New("LoadVars"));
    a.Append(SetMember(Var(obj), "onLoad", Function({"ok"}, SetRoot(std::string(name) + "Ok", Var("ok")))));
    a.Append(Do(Method(Var(obj), "load", {Str(url)})));
  }
  // XML.load with ignoreWhite; sendAndLoad reads a file beside the movie too.
  Set(a, "x", New("XML"));
  a.Append(SetMember(Var("x"), "ignoreWhite", Actions().PushBool(true)));
  a.Append(SetMember(Var("x"), "onLoad",
                     Function({"ok"}, SetRoot("xmlOk", Var("ok"))
                                          .Append(SetRoot("xmlId", Member(Member(Member(Member(Var("/:x"), "firstChild"),
                                                                                         "firstChild"),
                                                                                  "attributes"),
                                                                           "id")))
                                          .Append(AppendRoot("order", "X")))));
  a.Append(Do(Method(Var("x"), "load", {Str("data.xml")})));
  Set(a, "reply", New("XML"));
  a.Append(SetMember(Var("reply"), "onLoad", Function({"ok"}, SetRoot("replyOk", Var("ok")))));
  a.Append(Do(Method(Var("x"), "sendAndLoad", {Str("data.xml"), Var("reply")})));
  // loadVariables("vars.txt", "_root"): GetURL2 with both flags.
  a.PushString("vars.txt").PushString("_root").Raw(Code(Action::kGetUrl2), std::vector<std::uint8_t>{0xC0});
  PlayedFile r(folder, a);
  EXPECT_EQ(r.Get("asked"), "true");
  EXPECT_EQ(r.Get("whileAsking"), "false");
  EXPECT_EQ(r.Get("lvOk"), "true");
  EXPECT_EQ(r.Get("lv.score"), "42");
  EXPECT_EQ(r.Get("lv.name"), "Ann B");
  EXPECT_EQ(r.Get("lv.loaded"), "true");
  EXPECT_EQ(r.Get("sub.level"), "3");
  EXPECT_EQ(r.Get("missingOk"), "false");
  EXPECT_EQ(r.Get("webOk"), "false");
  EXPECT_EQ(r.Get("outOk"), "false");
  EXPECT_EQ(r.Get("xmlOk"), "true");
  EXPECT_EQ(r.Get("xmlId"), "7");
  EXPECT_EQ(r.Get("replyOk"), "true");
  EXPECT_EQ(r.Get("order"), "ALX");
  EXPECT_EQ(r.Get("score"), "42");
  EXPECT_TRUE(r.Skipped("loading from the network (offline)"));
}

// What a frame's onLoad handlers ask for arrives at the end of the next
// frame; a load's byte counts survive delete; loadVariables into a text
// field gives the field the variables.
TEST(Avm1Load, LoadsAskedByHandlersCountsAndFieldTargets) {
  TempFolder folder;
  folder.Write(folder.Dir() / "a.txt", "n=1");
  folder.Write(folder.Dir() / "b.txt", "m=2");
  Actions a;
  Set(a, "lv", New("LoadVars"));
  // lv.onLoad: the first time, delete the counts and load b.txt.
  Actions first;
  first.Append(SetRoot("deleted", Var("/:lv").PushString("_bytesLoaded").Raw(Code(Action::kDelete))));
  first.Append(SetRoot("total", Member(Var("/:lv"), "_bytesTotal")));
  first.Append(SetRoot("got", Method(Var("/:lv"), "getBytesLoaded")));
  first.Append(Do(Method(Var("/:lv"), "load", {Str("b.txt")})));
  a.Append(SetMember(Var("lv"), "onLoad", Function({"ok"}, first.Append(SetMember(Var("/:lv"), "onLoad", Function({"ok"}, SetRoot("second", Member(Var("/:lv"), "m"))))))));
  a.Append(Do(Method(Var("lv"), "load", {Str("a.txt")})));
  a.Append(Do(Method(Var("_root"), "createTextField", {Str("field"), Int(1), Int(0), Int(0), Int(50), Int(20)})));
  // loadVariables("a.txt", field): GetURL2 with the target a field.
  a.PushString("a.txt").Append(Var("field")).Raw(Code(Action::kGetUrl2), std::vector<std::uint8_t>{0xC0});
  PlayedFile r(folder, a);
  EXPECT_EQ(r.Get("deleted"), "false");
  EXPECT_EQ(r.Get("total"), "3");
  EXPECT_EQ(r.Get("got"), "3");
  EXPECT_EQ(r.Get("field.n"), "1");
  EXPECT_EQ(r.Get("second"), "");
  r.player.AdvanceTo(100);  // the second frame
  EXPECT_EQ(r.Get("second"), "2");
}

// With System.useCodepage set, loaded text that is not UTF-8 is read in a
// code page: Shift-JIS when its bytes pair up so, else Windows-1252. Unset,
// stray bytes stay as they are read.
TEST(Avm1Load, UseCodepageReadsTextThatIsNotUtf8) {
  TempFolder folder;
  folder.Write(folder.Dir() / "utf8.txt", "u=\xC3\x84\xE7\x89\x87");
  folder.Write(folder.Dir() / "latin.txt", "l=\xC4\xD6 \xDF\x80");
  folder.Write(folder.Dir() / "sjis.txt", "s=\x95\xD0\x89\xBC");
  Actions a;
  a.Append(SetMember(Var("System"), "useCodepage", Actions().PushBool(true)));
  for (const char* f : {"utf8", "latin", "sjis"}) {
    Set(a, f, New("LoadVars"));
    a.Append(Do(Method(Var(f), "load", {Str(std::string(f) + ".txt")})));
  }
  PlayedFile r(folder, a);
  EXPECT_EQ(r.Get("utf8.u"), "\xC3\x84\xE7\x89\x87");
  EXPECT_EQ(r.Get("latin.l"), "\xC3\x84\xC3\x96 \xC3\x9F\xE2\x82\xAC");  // "ÄÖ ß€"
  EXPECT_EQ(r.Get("sjis.s"), "\xE7\x89\x87\xE4\xBB\xAE");                    // "片仮"
}

// StyleSheet.load reads a file beside the movie through the sheet's own
// parse, which adds to the rules it has; onLoad hears whether it took, and
// false for a file that cannot be read. Without a URL it loads nothing.
TEST(Avm1Load, StyleSheetsLoadThroughTheirParse) {
  TempFolder folder;
  folder.Write(folder.Dir() / "a.css", "a { color: blue }");
  folder.Write(folder.Dir() / "b.css", "b { color: red }");
  Actions a;
  for (const char* n : {"s", "m"}) {
    Set(a, std::string(n) + "Log", Str(""));
    Set(a, n, Actions().PushInt(0).Append(Var("TextField")).PushString("StyleSheet").Raw(Code(Action::kNewMethod)));
    a.Append(SetMember(Var(n), "onLoad", Function({"ok"}, AppendRoot(std::string(n) + "Log", "L"))));
  }
  a.Append(SetMember(Var("s"), "parse", Function({"t"}, AppendRoot("sLog", "P").Append(Actions().PushBool(true).Raw(Code(Action::kReturn))))));
  Set(a, "noUrl", Method(Var("s"), "load", {}));
  Set(a, "asked", Method(Var("s"), "load", {Str("a.css")}));
  a.Append(Do(Method(Var("m"), "parseCSS", {Str("b { color: red }")})));
  a.Append(Do(Method(Var("m"), "load", {Str("a.css")})));
  a.Append(Do(Method(Var("m"), "load", {Str("none.css")})));
  PlayedFile r(folder, a);
  EXPECT_EQ(r.Get("noUrl"), "false");
  EXPECT_EQ(r.Get("asked"), "true");
  EXPECT_EQ(r.Get("sLog"), "PL");  // the script's parse, then onLoad
  EXPECT_EQ(r.Get("mLog"), "LL");
  EXPECT_EQ(r.Get("m._css.a.color"), "blue ");  // as Flash reads the value
  EXPECT_EQ(r.Get("m._css.b.color"), "red ");   // kept
}

TEST(Avm1Load, MovieClipLoaderEventsInOrder) {
  TempFolder folder;
  WritePng(folder.Dir() / "pic.png", 4, 4, 0xFF00FF00);
  Actions a;
  Set(a, "events", Str(""));
  Set(a, "mcl", New("MovieClipLoader"));
  Set(a, "watcher", Object({}));
  const char* names[] = {"onLoadStart", "onLoadProgress", "onLoadComplete", "onLoadInit", "onLoadError"};
  for (const char* n : names) {
    a.Append(SetMember(Var("watcher"), n, Function({"t", "x"}, AppendRoot("events", std::string(n).substr(6, 2) + ","))));
  }
  Set(a, "added", Method(Var("mcl"), "addListener", {Var("watcher")}));
  a.Append(Do(Method(Var("mcl"), "loadClip", {Str("pic.png"), Str("_root")})));
  Set(a, "failing", New("MovieClipLoader"));
  a.Append(SetMember(Var("failing"), "onLoadError", Function({"t", "code"}, SetRoot("error", Var("code")))));
  a.Append(Do(Method(Var("failing"), "loadClip", {Str("nothere.swf"), Str("_root")})));
  Set(a, "whileAsking", Var("events"));
  PlayedFile r(folder, a);
  EXPECT_EQ(r.Get("added"), "true");
  EXPECT_EQ(r.Get("whileAsking"), "");
  // The file arrives as the asking frame ends; init follows the next frame.
  EXPECT_EQ(r.Get("events"), "St,Pr,Co,");
  EXPECT_EQ(r.Get("error"), "URLNotFound");
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("events"), "St,Pr,Co,In,");
}

// Nobody answers a file dialog in a converter: browse and download open
// one (true) and it is cancelled on the next frame; while one is open a
// second call gives false; bad file type lists and addresses give false,
// and nothing is ever chosen to upload.
TEST(Avm1Load, FileDialogsAreCancelled) {
  Actions a;
  Set(a, "events", Str(""));
  Set(a, "ref", New("flash.net", "FileReference", {}));
  Set(a, "watcher", Object({}));
  a.Append(SetMember(Var("watcher"), "onCancel", Function({"t"}, AppendRoot("events", "cancel,"))));
  a.Append(Do(Var("ref"), "addListener", {Var("watcher")}));
  Set(a, "badTypes", Method(Var("ref"), "browse", {Array({})}));
  Set(a, "noAddress", Method(Var("ref"), "download", {Str("nowhere")}));
  Set(a, "first", Method(Var("ref"), "browse", {Array({Object({{"description", Str("Text")}, {"extension", Str("*.txt")}})})}));
  Set(a, "second", Method(Var("ref"), "browse"));
  Set(a, "upload", Method(Var("ref"), "upload", {Str("http://example.com/")}));
  Set(a, "name", Op(Member(Var("ref"), "name"), Code(Action::kTypeOf)));
  Set(a, "list", New("flash.net", "FileReferenceList", {}));
  Set(a, "listBrowse", Method(Var("list"), "browse"));
  auto b = Movie();
  b.DoAction(a).ShowFrame();
  b.DoAction(Actions().Append([] {
    Actions next;
    return Set(next, "again", Method(Var("ref"), "download", {Str("http://example.com/file.txt")}));
  }()).Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("badTypes"), "false");
  EXPECT_EQ(r.Get("noAddress"), "false");
  EXPECT_EQ(r.Get("first"), "true");
  EXPECT_EQ(r.Get("second"), "false");
  EXPECT_EQ(r.Get("upload"), "false");
  EXPECT_EQ(r.Get("name"), "undefined");
  EXPECT_EQ(r.Get("listBrowse"), "true");
  EXPECT_EQ(r.Get("events"), "");
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("events"), "cancel,");
  EXPECT_EQ(r.Get("again"), "true");
}

// A file type whose field getter throws is just invalid (false, no error);
// converting a macType that throws lets the error through, ending the
// frame's actions.
TEST(Avm1Load, FileTypeErrorsFromGettersAndConversions) {
  const Actions thrower = Function({}, Actions().PushString("oops").Raw(0x2A));
  Actions a;
  Set(a, "ref", New("flash.net", "FileReferenceList", {}));
  Set(a, "getterType", Object({{"extension", Str("*.txt")}}));
  a.Append(Do(Method(Var("getterType"), "addProperty", {Str("description"), thrower, Actions().PushNull()})));
  Set(a, "getterThrows", Method(Var("ref"), "browse", {Array({Var("getterType")})}));
  Set(a, "afterGetter", Int(1));
  Set(a, "macType", Object({{"description", Str("Text")},
                            {"extension", Str("*.txt")},
                            {"macType", Object({{"toString", thrower}})}}));
  Set(a, "macThrows", Method(Var("ref"), "browse", {Array({Var("macType")})}));
  Set(a, "afterMac", Int(1));
  Played r(Script(a));
  EXPECT_EQ(r.Get("getterThrows"), "false");
  EXPECT_EQ(r.Get("afterGetter"), "1");
  EXPECT_EQ(r.Get("macThrows"), "");
  EXPECT_EQ(r.Get("afterMac"), "");
}

// A file that is no picture and no movie loads as nothing, with every
// event and no bytes; loadClip refuses calls it cannot make.
TEST(Avm1Load, MovieClipLoaderTakesUnreadableFilesAsEmpty) {
  TempFolder folder;
  folder.Write(folder.Dir() / "notes.txt", "plain text");
  Actions a;
  Set(a, "events", Str(""));
  Set(a, "mcl", New("MovieClipLoader"));
  a.Append(SetMember(Var("mcl"), "onLoadProgress", Function({"t", "n"}, AppendRoot("events", "Pr,"))));
  a.Append(SetMember(Var("mcl"), "onLoadComplete", Function({"t"}, AppendRoot("events", "Co,"))));
  a.Append(SetMember(Var("mcl"), "onLoadError", Function({"t"}, AppendRoot("events", "Er,"))));
  a.Append(Do(Method(Var("_root"), "createEmptyMovieClip", {Str("box"), Int(1)})));
  Set(a, "started", Method(Var("mcl"), "loadClip", {Str("notes.txt"), Var("box")}));
  Set(a, "noTarget", Method(Var("mcl"), "loadClip", {Str("notes.txt")}));
  Set(a, "numberUrl", Method(Var("mcl"), "loadClip", {Int(0), Var("box")}));
  // getProgress takes a clip, a path or a level; nothing else.
  Set(a, "ofObject", Actions().Append(Method(Var("mcl"), "getProgress", {Object({})})).Raw(Code(Action::kTypeOf)));
  Set(a, "ofMissing", Actions().Append(Member(Method(Var("mcl"), "getProgress", {Str("nothere")}), "bytesTotal")).Raw(Code(Action::kTypeOf)));
  Set(a, "ofLevel0", Actions().Append(Member(Method(Var("mcl"), "getProgress", {Num(0.5)}), "bytesTotal")).Raw(Code(Action::kTypeOf)));
  PlayedFile r(folder, a);
  EXPECT_EQ(r.Get("ofObject"), "undefined");
  EXPECT_EQ(r.Get("ofMissing"), "undefined");
  EXPECT_EQ(r.Get("ofLevel0"), "number");
  EXPECT_EQ(r.Get("started"), "true");
  EXPECT_EQ(r.Get("noTarget"), "");
  EXPECT_EQ(r.Get("numberUrl"), "false");
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("events"), "Pr,Co,");
}

TEST(Avm1Load, NothingLoadsForAMovieGivenAsBytes) {
  Actions a;
  Set(a, "lv", New("LoadVars"));
  a.Append(SetMember(Var("lv"), "onLoad", Function({"ok"}, SetRoot("ok", Var("ok")))));
  a.Append(Do(Method(Var("lv"), "load", {Str("vars.txt")})));
  Played r(Script(a));
  r.player.AdvanceTo(100);
  EXPECT_EQ(r.Get("ok"), "false");
}

TEST(Avm1Load, UnloadMovieEmptiesTheClipAndKeepsIt) {
  auto withBox = [](bool unload) {
    auto b = Movie();
    testing::ShapeBuilder square;
    square.Rectangle(0, 0, 400, 400, square.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, square);
    b.DefineSprite(5, testing::Timeline().PlaceObject2({.depth = 1, .characterId = 1}).ShowFrame());
    b.PlaceObject2({.depth = 1, .characterId = 5, .name = "box"});
    Actions a;
    if (unload) a.Append(Do(Method(Var("box"), "unloadMovie")));
    Set(a, "kind", Actions().Append(Var("box")).Raw(Code(Action::kTypeOf)));
    b.DoAction(a.Stop()).ShowFrame();
    return b;
  };
  for (bool unload : {false, true}) {
    Played r(withBox(unload));
    gdi::Bitmap bmp;
    r.player.Paint(bmp);
    EXPECT_EQ(bmp.GetPixel(5, 5), unload ? gdi::Color(255, 255, 255) : gdi::Color(255, 0, 0)) << unload;
    EXPECT_EQ(r.Get("kind"), "movieclip");
  }
}

TEST(Avm1System, CapabilitiesSharedObjectsAndHostCalls) {
  Actions a;
  Set(a, "caps", Member(Var("System"), "capabilities"));
  Set(a, "os", Member(Var("caps"), "os"));
  Set(a, "sameVersion", Bin(Member(Var("caps"), "version"), Call("getVersion"), Action::kEquals2));
  Set(a, "audio", Member(Var("caps"), "hasAudio"));
  Set(a, "width", Member(Var("caps"), "screenResolutionX"));
  Set(a, "external", Member(Member(Member(Var("flash"), "external"), "ExternalInterface"), "available"));
  Set(a, "so", Method(Var("SharedObject"), "getLocal", {Str("prefs")}));
  a.Append(SetMember(Member(Var("so"), "data"), "best", Int(5)));
  Set(a, "again", Method(Var("SharedObject"), "getLocal", {Str("prefs")}));
  Set(a, "kept", Member(Member(Var("again"), "data"), "best"));
  Set(a, "flushed", Method(Var("so"), "flush"));
  Set(a, "size", Method(Var("so"), "getSize"));
  a.Append(Do(Method(Var("so"), "clear")));
  Set(a, "cleared", Member(Member(Var("again"), "data"), "best"));
  Set(a, "emptySize", Method(Var("so"), "getSize"));
  Set(a, "badName", Method(Var("SharedObject"), "getLocal", {Str("a b")}));
  a.GetUrl("FSCommand:fullscreen", "true");
  Played quiet(Script(a));
  EXPECT_EQ(quiet.Get("os"), "Linux");
  EXPECT_EQ(quiet.Get("sameVersion"), "true");
  EXPECT_EQ(quiet.Get("audio"), "true");
  EXPECT_EQ(quiet.Get("width"), "1920");
  EXPECT_EQ(quiet.Get("external"), "false");
  EXPECT_EQ(quiet.Get("kept"), "5");
  EXPECT_EQ(quiet.Get("flushed"), "true");
  EXPECT_GT(std::atoi(quiet.Get("size").c_str()), 0);
  EXPECT_EQ(quiet.Get("cleared"), "");
  EXPECT_EQ(quiet.Get("emptySize"), "0");
  EXPECT_EQ(quiet.Get("badName"), "null");
  EXPECT_TRUE(quiet.player.SkippedFeatures().empty());
  Actions browse;
  browse.GetUrl("http://example.com/", "_blank");
  Played loud(Script(browse));
  EXPECT_TRUE(loud.Skipped("getURL (no browser)"));
}

// FSCommand:quit closes the player: no later frame runs, the picture stays.
TEST(Avm1Load, FsCommandQuitEndsTheMovieWhereItIs) {
  auto b = Movie();
  Actions first;
  Set(first, "n", Int(1));
  first.GetUrl("FSCommand:quit", "");
  Actions second;
  Set(second, "n", Int(2));
  b.DoAction(first).ShowFrame().DoAction(second).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(r.player.Now() + 500);
  EXPECT_EQ(r.Get("n"), "1");
}

// _quality and _highquality set by a script choose how the picture is drawn.
TEST(Avm1Load, QualitySetByTheMovieIsTheOneDrawn) {
  auto b = Movie();
  ShapeBuilder s;
  // A triangle: its slanted edge is smoothed, or not.
  const auto red = s.AddFill(FillStyle::Solid(kRed));
  s.SetFill0(red).MoveTo(0, 0).LineTo(2000, 2000).LineTo(0, 2000).LineTo(0, 0);
  Actions a;
  Set(a, "before", Var("_quality"));
  Set(a, "_quality", Str("best"));
  Set(a, "best", Var("_quality"));
  Set(a, "high", Var("_highquality"));
  b.DefineShape(1, s).PlaceObject2({.depth = 1, .characterId = 1}).DoAction(a).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("before"), "HIGH");
  EXPECT_EQ(r.Get("best"), "BEST");
  EXPECT_EQ(r.Get("high"), "2");
  // The player was asked for low quality, but the movie's choice wins: the edge is smoothed.
  const gdi::Bitmap smooth = r.Picture();
  bool mixed = false;
  for (int x = 0; x < 100; ++x) {
    const Color c = smooth.GetPixel(x, 50);
    if (c.g > 10 && c.g < 245) mixed = true;
  }
  EXPECT_TRUE(mixed);
}

}  // namespace
}  // namespace quarvel::player::script_test
