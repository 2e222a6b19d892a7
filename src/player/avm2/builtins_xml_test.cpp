// E4X as Flash Player runs it: the text forms, equality, writes through
// names and lists, the editing methods, namespaces and the settings.
#include <string>

#include "player/avm2/machine_test_support.h"

namespace quarvel::avm2 {
namespace {

class Xml : public As3 {
 protected:
  // local 1 = new XML(text)
  void Make(AbcCode& c, std::string_view text, int local = 1) {
    c.Op("findpropstrict", {Q("XML")}).Op("pushstring", {S(text)}).Op("constructprop", {Q("XML"), 1});
    c.Op("setlocal", {local});
  }
  void SetStatic(AbcCode& c, std::string_view name, bool v) {
    c.Op("getlex", {Q("XML")}).Op(v ? "pushtrue" : "pushfalse").Op("setproperty", {Q(name)});
  }
  // trace(local.method()) for methods without arguments.
  void TraceCall(AbcCode& c, int local, std::string_view method) {
    Trace(c, [&](AbcCode& x) { x.Op("getlocal", {local}); Call(x, method, 0); });
  }
  // trace(<value>.errorID) for the TypeError the pushed code throws.
  void TraceErrorOf(AbcCode& c, const std::function<void(AbcCode&)>& body, const std::string& tag,
                    std::string_view what = "errorID") {
    c.Label("t" + tag);
    body(c);
    c.Op("pop").Label("e" + tag).Branch("jump", "d" + tag);
    c.Label("h" + tag).Op("setlocal", {5}).Op("getlocal_0").Op("pushscope");
    Trace(c, [&](AbcCode& x) { x.Op("getlocal", {5}).Op("getproperty", {Q(what)}); });
    c.Label("d" + tag);
    handlers_.push_back(tag);
  }
  std::string RunWithHandlers(AbcCode& c) {
    c.Op("returnvoid");
    const auto init = Fn(c);
    for (const std::string& tag : handlers_)
      a.File().bodies.back().exceptions.push_back(
          {c.LabelOffset("t" + tag), c.LabelOffset("e" + tag), c.LabelOffset("h" + tag), Q("TypeError"), 0});
    a.Script({.init = init});
    Machine m;
    m.traceSink = [this](const std::string& s) { traced.push_back(s); };
    m.logSink = [this](const std::string& s) { logged.push_back(s); };
    EXPECT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
    return Traced();
  }
  std::vector<std::string> handlers_;
};

TEST_F(Xml, AnAttributesNameNamesAnAttributeWhereUsedAsAName) {
  AbcCode c;
  Make(c, "<foo bar=\"attribute\"><bar>element</bar></foo>");
  const auto any = a.MultinameL(a.NsSet({pub}));
  // local 2 = xml.@bar.name(); local 3 = xml.bar.name()
  c.Op("getlocal_1").Op("getproperty", {a.QName(pub, "bar", true)});
  Call(c, "name", 0);
  c.Op("setlocal_2");
  c.Op("getlocal_1").Op("getproperty", {Q("bar")});
  Call(c, "name", 0);
  c.Op("setlocal_3");
  auto get = [&](int local) {
    Trace(c, [&, local](AbcCode& x) { x.Op("getlocal_1").Op("getlocal", {local}).Op("getproperty", {any}); });
  };
  get(2);
  get(3);
  // Writing through the attribute's name writes the attribute.
  c.Op("getlocal_1").Op("getlocal_2").Op("pushstring", {S("new")}).Op("setproperty", {any});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {a.QName(pub, "bar", true)}); });
  get(3);
  ASSERT_EQ(RunWithHandlers(c), "attribute|element|new|element|");
}

// addNamespace with a prefix the element already declares for another URI
// rebinds the prefix: the element's attributes of the old namespace lose it,
// and a child of the old namespace answers namespace() without a prefix.
TEST_F(Xml, APrefixBoundAgainByAddNamespaceLeavesItsOldNamesUnprefixed) {
  AbcCode c;
  Make(c, "<a xmlns:p=\"u1\" p:x=\"1\"><p:b/></a>");
  SetStatic(c, "prettyPrinting", false);
  c.Op("getlocal_1").Op("findpropstrict", {Q("Namespace")}).Op("pushstring", {S("p")}).Op("pushstring", {S("u2")});
  c.Op("constructprop", {Q("Namespace"), 2}).Op("callpropvoid", {Q("addNamespace"), 1});
  // a.children()[0].namespace(): its prefix and URI
  auto childNamespace = [&](AbcCode& x) {
    x.Op("getlocal_1");
    Call(x, "children", 0);
    x.Op("pushbyte", {0}).Op("getproperty", {a.MultinameL(a.NsSet({a.Namespace(NamespaceKind::kPackage, "")}))});
    Call(x, "namespace", 0);
  };
  Trace(c, [&](AbcCode& x) { childNamespace(x); x.Op("getproperty", {Q("prefix")}); });
  Trace(c, [&](AbcCode& x) { childNamespace(x); x.Op("getproperty", {Q("uri")}); });
  c.Op("getlocal_1");
  Call(c, "attributes", 0);
  c.Op("setlocal_2");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "toXMLString", 0); });
  TraceCall(c, 1, "toXMLString");
  // As Flash writes it, the old namespace becomes the default one.
  EXPECT_EQ(RunWithHandlers(c), "undefined|u1|1|<a x=\"1\" xmlns:p=\"u2\" xmlns=\"u1\"><b/></a>|");
}

TEST_F(Xml, PrettyPrintingIndentsElementsButNotASingleText) {
  AbcCode c;
  Make(c, "<a x=\"1&quot;\"><b>t &amp; u</b><c/>  <d><e/></d></a>");
  TraceCall(c, 1, "toXMLString");
  SetStatic(c, "prettyPrinting", false);
  TraceCall(c, 1, "toXMLString");
  ASSERT_EQ(RunWithHandlers(c),
            "<a x=\"1&quot;\">\n  <b>t &amp; u</b>\n  <c/>\n  <d>\n    <e/>\n  </d>\n</a>|"
            "<a x=\"1&quot;\"><b>t &amp; u</b><c/><d><e/></d></a>|");
}

TEST_F(Xml, CommentsInstructionsAndWhitespaceFollowTheSettings) {
  AbcCode c;
  SetStatic(c, "ignoreComments", false);
  SetStatic(c, "ignoreProcessingInstructions", false);
  SetStatic(c, "ignoreWhitespace", false);
  SetStatic(c, "prettyPrinting", false);
  // Top-level nodes beside the one root element drop away.
  Make(c, "<!-- top --><r><!-- in --><?go now?> x </r><?pi?>");
  TraceCall(c, 1, "toXMLString");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "children", 0); Call(x, "length", 0); });
  // XML.setSettings() with no object restores the defaults.
  c.Op("getlex", {Q("XML")}).Op("callpropvoid", {Q("setSettings"), 0});
  Make(c, "<r><!-- in --><?go now?> x </r>", 2);
  TraceCall(c, 2, "toXMLString");
  Trace(c, [&](AbcCode& x) {
    x.Op("getlex", {Q("XML")});
    Call(x, "settings", 0);
    x.Op("getproperty", {Q("prettyIndent")});
  });
  ASSERT_EQ(RunWithHandlers(c), "<r><!-- in --><?go now?> x </r>|3|<r>x</r>|2|");
}

TEST_F(Xml, SimpleContentReadsAsTextAndComparesAsText) {
  AbcCode c;
  Make(c, "<r><n>5</n><t>true</t><m><i/>x</m></r>");
  // r.n.toString(), r.m.toString() (complex: markup)
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("n")}); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("m")}); Call(x, "toString", 0); });
  // r.n == 5, r.t == true, r.n == "5.0", r.n == r.n.children()[0] (element and its text)
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("n")}).Op("pushbyte", {5}).Op("equals"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("t")}).Op("pushtrue").Op("equals"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("n")}).Op("pushstring", {S("5.0")}).Op("equals"); });
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_1").Op("getproperty", {Q("n")});
    x.Op("getlocal_1").Op("getproperty", {Q("n")});
    Call(x, "children", 0);
    x.Op("pushbyte", {0}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))}).Op("equals");
  });
  // Two parsings of the same markup are equal, not the same object.
  Make(c, "<r><n>5</n><t>true</t><m><i/>x</m></r>", 2);
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlocal_2").Op("equals"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlocal_2").Op("strictequals"); });
  // A string method on simple content: r.n.charAt(0)
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("n")}).Op("pushbyte", {0}); Call(x, "charAt", 1); });
  ASSERT_EQ(RunWithHandlers(c), "5|<m>\n  <i/>\n  x\n</m>|true|true|false|true|true|false|5|");
}

// XML's and XMLList's own prototypes print as empty when their toString is
// called on them; an XML value keeps its text.
TEST_F(Xml, ThePrototypesToStringIsEmpty) {
  AbcCode c;
  for (const char* cls : {"XML", "XMLList"})
    Trace(c, [&](AbcCode& x) {
      x.Op("pushstring", {S("[")}).Op("getlex", {Q(cls)}).Op("getproperty", {Q("prototype")});
      Call(x, "toString", 0);
      x.Op("add").Op("pushstring", {S("]")}).Op("add");
    });
  Make(c, "<a>text</a>");
  TraceCall(c, 1, "toString");
  ASSERT_EQ(RunWithHandlers(c), "[]|[]|text|");
}

// xml.AS3::name is the method, bound to the value; xml.name is the child.
TEST_F(Xml, TheAs3NamespaceAloneNamesTheMethodNotTheChildren) {
  AbcCode c;
  Make(c, "<a><name>child</name></a>");
  const auto as3 = a.QName(a.Namespace(NamespaceKind::kNamespace, "http://adobe.com/AS3/2006/builtin"), "name");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {as3}).Op("typeof"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {as3}).Op("pushnull"); Call(x, "call", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("name")}); });
  ASSERT_EQ(RunWithHandlers(c), "function|a|child|");
}

// for..in over a list gives its indexes, then what scripts set on
// XMLList.prototype; a name asked past the items is null.
TEST_F(Xml, ListEnumerationGoesOnThroughThePrototype) {
  AbcCode c;
  c.Op("getlex", {Q("XMLList")}).Op("getproperty", {Q("prototype")}).Op("pushstring", {S("v")}).Op("setproperty", {Q("extra")});
  c.Op("findpropstrict", {Q("XMLList")}).Op("pushstring", {S("<p/><q/>")}).Op("constructprop", {Q("XMLList"), 1}).Op("setlocal_2");
  c.Op("pushbyte", {0}).Op("setlocal_3");
  c.Branch("jump", "test");
  c.Loop("body");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getlocal_3").Op("nextname"); });
  c.Label("test").Op("hasnext2", {2, 3}).Branch("iftrue", "body");
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {Q("XMLList")}).Op("constructprop", {Q("XMLList"), 0}).Op("pushshort", {1000}).Op("nextname");
  });
  ASSERT_EQ(RunWithHandlers(c), "0|1|extra|null|");
}

TEST_F(Xml, WritesReplaceAddAndDeleteChildrenAndAttributes) {
  AbcCode c;
  SetStatic(c, "prettyPrinting", false);
  Make(c, "<r a=\"1\"><b>x</b><c/><b>y</b></r>");
  // r.b = "z": the first <b> takes the text, the second goes.
  c.Op("getlocal_1").Op("pushstring", {S("z")}).Op("setproperty", {Q("b")});
  // r.@a = 2; r.@n = "new"; r.d = "w" (appended)
  c.Op("getlocal_1").Op("pushbyte", {2}).Op("setproperty", {a.QName(pub, "a", true)});
  c.Op("getlocal_1").Op("pushstring", {S("new")}).Op("setproperty", {a.QName(pub, "n", true)});
  c.Op("getlocal_1").Op("pushstring", {S("w")}).Op("setproperty", {Q("d")});
  TraceCall(c, 1, "toXMLString");
  // delete r.c; r.b[1] = "v" appends a <b> after the last one (the list knows its target).
  c.Op("getlocal_1").Op("deleteproperty", {Q("c")}).Op("pop");
  c.Op("getlocal_1").Op("getproperty", {Q("b")}).Op("pushbyte", {1}).Op("pushstring", {S("v")})
      .Op("setproperty", {a.MultinameL(a.NsSet({pub}))});
  TraceCall(c, 1, "toXMLString");
  // Assigning through a list of many items is refused.
  Make(c, "<r><i/><i/></r>", 2);
  TraceErrorOf(c, [&](AbcCode& x) {
    x.Op("getlocal_2").Op("getproperty", {Q("i")}).Op("pushbyte", {1}).Op("setproperty", {a.QName(pub, "k", true)});
    x.Op("pushnull");
  }, "many");
  ASSERT_EQ(RunWithHandlers(c),
            "<r a=\"2\" n=\"new\"><b>z</b><c/><d>w</d></r>|<r a=\"2\" n=\"new\"><b>z</b><b>v</b><d>w</d></r>|1089|");
}

TEST_F(Xml, TreeMethodsKeepParentsAndPlaces) {
  AbcCode c;
  SetStatic(c, "prettyPrinting", false);
  Make(c, "<r><a/><b>t</b></r>");
  Make(c, "<n/>", 2);
  // r.insertChildAfter(r.a[0], n); r.prependChild("p"); childIndex, parent, nodeKind
  c.Op("getlocal_1").Op("getlocal_1").Op("getproperty", {Q("a")}).Op("getlocal_2")
      .Op("callpropvoid", {Q("insertChildAfter"), 2});
  c.Op("getlocal_1").Op("pushstring", {S("p")}).Op("callpropvoid", {Q("prependChild"), 1});
  TraceCall(c, 1, "toXMLString");
  TraceCall(c, 2, "childIndex");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "parent", 0); x.Op("getlocal_1").Op("strictequals"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "children", 0); x.Op("pushbyte", {0}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))}); Call(x, "nodeKind", 0); });
  // copy() is deep and has no parent; setName renames; the copy stays as it was.
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "copy", 0); Call(x, "parent", 0); x.Op("typeof"); });
  c.Op("getlocal_1"); Call(c, "copy", 0);
  c.Op("setlocal_3");
  c.Op("getlocal_1").Op("pushstring", {S("q")}).Op("callpropvoid", {Q("setName"), 1});
  TraceCall(c, 1, "localName");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); Call(x, "name", 0); Call(x, "toString", 0); });
  // A list's XML method needs exactly one item.
  TraceErrorOf(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "children", 0); Call(x, "name", 0); }, "one");
  ASSERT_EQ(RunWithHandlers(c), "<r>p<a/><n/><b>t</b></r>|2|true|text|undefined|q|r|1086|");
}

TEST_F(Xml, TheConstructorTakesOneRootAndNamesBadMarkup) {
  AbcCode c;
  TraceErrorOf(c, [&](AbcCode& x) { Make(x, "<a/><b/>", 2); x.Op("pushnull"); }, "two");
  TraceErrorOf(c, [&](AbcCode& x) { Make(x, "<a><b></a>", 2); x.Op("pushnull"); }, "open");
  TraceErrorOf(c, [&](AbcCode& x) { Make(x, "<a x=1/>", 2); x.Op("pushnull"); }, "bad");
  // Plain text is a text node; an empty string an empty one.
  Make(c, "  some text ", 2);
  TraceCall(c, 2, "nodeKind");
  TraceCall(c, 2, "toXMLString");
  // A list of several nodes from text.
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {Q("XMLList")}).Op("pushstring", {S("<a/><b/>text")}).Op("constructprop", {Q("XMLList"), 1});
    Call(x, "length", 0);
  });
  ASSERT_EQ(RunWithHandlers(c), "1088|1085|1090|text|some text|3|");
}

TEST_F(Xml, UnqualifiedNamesReadTheDefaultNamespaceOnly) {
  AbcCode c;
  SetStatic(c, "prettyPrinting", false);
  Make(c, "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\"><item>1</item><p:item>2</p:item></r>");
  const auto d = a.Namespace(NamespaceKind::kNamespace, "urn:d");
  const auto p = a.Namespace(NamespaceKind::kNamespace, "urn:p");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("item")}); Call(x, "length", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {a.QName(d, "item")}); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {a.QName(p, "item")}); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {a.QName(0, "item")}); Call(x, "length", 0); });
  // Printed alone, a child declares what it inherited.
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {a.QName(p, "item")}); Call(x, "toXMLString", 0); });
  ASSERT_EQ(RunWithHandlers(c), "0|1|2|2|<p:item xmlns=\"urn:d\" xmlns:p=\"urn:p\">2</p:item>|");
}

TEST_F(Xml, ListsJoinWithPlusAndFilterByAttribute) {
  AbcCode c;
  SetStatic(c, "prettyPrinting", false);
  Make(c, "<a id=\"1\">x</a>");
  Make(c, "<b id=\"2\"><c id=\"3\"/></b>", 2);
  c.Op("getlocal_1").Op("getlocal_2").Op("add").Op("setlocal_3");
  TraceCall(c, 3, "length");
  TraceCall(c, 3, "toXMLString");
  // Descendant attributes of the joined list, and the list itself as text.
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3").Op("getdescendants", {a.QName(pub, "id", true)}); Call(x, "toString", 0); });
  // checkfilter refuses what is no XML.
  TraceErrorOf(c, [&](AbcCode& x) { x.Op("pushbyte", {1}).Op("checkfilter"); }, "filter");
  // An int is named a Number there, as Flash names it.
  TraceErrorOf(c, [&](AbcCode& x) { x.Op("pushbyte", {1}).Op("checkfilter"); }, "intname", "message");
  ASSERT_EQ(RunWithHandlers(c), "2|<a id=\"1\">x</a>\n<b id=\"2\"><c id=\"3\"/></b>|123|1123|"
                                "Error #1123: Filter operator not supported on type Number.|");
}

TEST_F(Xml, DeletesAndDescendantsWalkTheTreeInOrder) {
  AbcCode c;
  SetStatic(c, "prettyPrinting", false);
  Make(c, "<r><a k=\"1\"><b k=\"2\"/>t</a><b k=\"3\"><a k=\"4\"/></b></r>");
  const auto any = a.MultinameL(a.NsSet({pub}));
  // r..a.@k, r..@k, r..* count (text nodes included)
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getdescendants", {Q("a")}).Op("getproperty", {a.QName(pub, "k", true)}); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getdescendants", {a.QName(pub, "k", true)}); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); x.Op("pushstring", {S("*")}); Call(x, "descendants", 1); Call(x, "length", 0); });
  // delete r.b[0].@k; delete r.a; a deleted node has no parent.
  c.Op("getlocal_1").Op("getproperty", {Q("a")}).Op("pushbyte", {0}).Op("getproperty", {any}).Op("setlocal_2");
  c.Op("getlocal_1").Op("getproperty", {Q("b")}).Op("deleteproperty", {a.QName(pub, "k", true)}).Op("pop");
  c.Op("getlocal_1").Op("deleteproperty", {Q("a")}).Op("pop");
  TraceCall(c, 1, "toXMLString");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "parent", 0); x.Op("typeof"); });
  // delete list[0] takes the item out of its parent too.
  c.Op("getlocal_1").Op("getdescendants", {Q("a")}).Op("pushbyte", {0}).Op("deleteproperty", {any}).Op("pop");
  TraceCall(c, 1, "toXMLString");
  ASSERT_EQ(RunWithHandlers(c), "14|1234|5|<r><b><a k=\"4\"/></b></r>|undefined|<r><b/></r>|");
}

TEST_F(Xml, NamespaceMethodsReadAndChangeDeclarations) {
  AbcCode c;
  SetStatic(c, "prettyPrinting", false);
  Make(c, "<r xmlns:p=\"urn:p\"><p:a/></r>");
  const auto any = a.MultinameL(a.NsSet({pub}));
  c.Op("getlocal_1"); Call(c, "children", 0); c.Op("pushbyte", {0}).Op("getproperty", {any}).Op("setlocal_2");
  // a.namespace() and a.namespace("p") by prefix; inScopeNamespaces() inherited.
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "namespace", 0); x.Op("getproperty", {Q("uri")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("pushstring", {S("p")}); Call(x, "namespace", 1); x.Op("getproperty", {Q("prefix")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "inScopeNamespaces", 0); x.Op("getproperty", {Q("length")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "namespaceDeclarations", 0); x.Op("getproperty", {Q("length")}); });
  // r.addNamespace(new Namespace("q", "urn:q")) declares it on r.
  c.Op("getlocal_1").Op("findpropstrict", {Q("Namespace")}).Op("pushstring", {S("q")}).Op("pushstring", {S("urn:q")})
      .Op("constructprop", {Q("Namespace"), 2}).Op("callpropvoid", {Q("addNamespace"), 1});
  TraceCall(c, 1, "toXMLString");
  // localName and name of the prefixed element.
  TraceCall(c, 2, "localName");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "name", 0); Call(x, "toString", 0); });
  ASSERT_EQ(RunWithHandlers(c), "urn:p|p|1|0|<r xmlns:p=\"urn:p\" xmlns:q=\"urn:q\"><p:a/></r>|a|urn:p::a|");
}

TEST_F(Xml, ReplaceSetChildrenAndInsertBeforeEditInPlace) {
  AbcCode c;
  SetStatic(c, "prettyPrinting", false);
  Make(c, "<r><a/><b/><a/></r>");
  Make(c, "<n/>", 2);
  // r.replace("a", "t"): the first <a> becomes the text, the second goes.
  c.Op("getlocal_1").Op("pushstring", {S("a")}).Op("pushstring", {S("t")}).Op("callpropvoid", {Q("replace"), 2});
  TraceCall(c, 1, "toXMLString");
  // r.insertChildBefore(null, n) appends; r.replace(0, "u") swaps the first child.
  c.Op("getlocal_1").Op("pushnull").Op("getlocal_2").Op("callpropvoid", {Q("insertChildBefore"), 2});
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("pushstring", {S("u")}).Op("callpropvoid", {Q("replace"), 2});
  TraceCall(c, 1, "toXMLString");
  // setChildren replaces everything; an element's text is its string value.
  c.Op("getlocal_1").Op("pushstring", {S("x & y")}).Op("callpropvoid", {Q("setChildren"), 1});
  TraceCall(c, 1, "toXMLString");
  TraceCall(c, 1, "hasSimpleContent");
  // An element cannot become its own descendant.
  TraceErrorOf(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getlocal_1"); Call(x, "appendChild", 1); x.Op("pop").Op("getlocal_1").Op("getlocal_2"); Call(x, "appendChild", 1); }, "cycle");
  ASSERT_EQ(RunWithHandlers(c), "<r>t<b/></r>|<r>u<b/><n/></r>|<r>x &amp; y</r>|true|1118|");
}

}  // namespace
}  // namespace quarvel::avm2
