// flash.xml's DOM: the old parser's rules and the tree edits.
#include <string>

#include "player/avm2/machine_test_support.h"

namespace quarvel::avm2 {
namespace {

class XmlDom : public As3 {
 protected:
  std::uint32_t Xml(std::string_view n) { return a.QName(a.Namespace(NamespaceKind::kPackage, "flash.xml"), n); }
  // local 1 = new XMLDocument(text)
  void Document(AbcCode& c, std::string_view text) {
    c.Op("findpropstrict", {Xml("XMLDocument")}).Op("pushstring", {S(text)}).Op("constructprop", {Xml("XMLDocument"), 1});
    c.Op("setlocal_1");
  }
  void Get(AbcCode& c, std::string_view name) { c.Op("getproperty", {Q(name)}); }
};

TEST_F(XmlDom, ParsesAsTheOldPlayerDid) {
  AbcCode c;
  // Comments are dropped (the text beside them stays split), declarations kept aside.
  Document(c, "<?xml version=\"1.0\"?><a x=\"1\" x=\"2\"><b>t &amp; u</b>v<!-- c -->w<d></d></a>");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Get(x, "firstChild"); Get(x, "childNodes"); Get(x, "length"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Get(x, "firstChild"); Get(x, "firstChild"); Get(x, "firstChild"); Get(x, "nodeValue"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Get(x, "firstChild"); Get(x, "firstChild"); Get(x, "nextSibling"); Get(x, "nodeType"); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "4|<?xml version=\"1.0\"?><a x=\"1\"><b>t &amp; u</b>vw<d /></a>|t & u|3|");
}

TEST_F(XmlDom, EditsMoveNodesAndKeepLinks) {
  AbcCode c;
  Document(c, "<r><a/><b/></r>");
  c.Op("getlocal_1"); Get(c, "firstChild"); c.Op("setlocal_2");
  // r.insertBefore(b, a): b moves before a; a clone is detached; removeNode leaves a.
  c.Op("getlocal_2").Op("getlocal_2"); Get(c, "lastChild");
  c.Op("getlocal_2"); Get(c, "firstChild");
  c.Op("callpropvoid", {Q("insertBefore"), 2});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("pushtrue"); Call(x, "cloneNode", 1); Get(x, "parentNode"); });
  c.Op("getlocal_2"); Get(c, "firstChild"); c.Op("callpropvoid", {Q("removeNode"), 0});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Get(x, "firstChild"); Get(x, "previousSibling"); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "<r><b /><a /></r>|null|<r><a /></r>|null|");
}

// childNodes is one array per node, which the node's edits keep current: a
// script holding it sees children leave and arrive.
TEST_F(XmlDom, ChildNodesIsOneLiveArray) {
  AbcCode c;
  Document(c, "<r><a/><b/><c/></r>");
  c.Op("getlocal_1"); Get(c, "firstChild"); c.Op("setlocal_2");
  c.Op("getlocal_2"); Get(c, "childNodes"); c.Op("setlocal_3");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3").Op("getlocal_2"); Get(x, "childNodes"); x.Op("strictequals"); });
  c.Op("getlocal_2"); Get(c, "firstChild"); c.Op("callpropvoid", {Q("removeNode"), 0});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); Call(x, "toString", 0); });
  c.Op("getlocal_2").Op("getlocal_1").Op("pushstring", {S("d")}); Call(c, "createElement", 1);
  c.Op("callpropvoid", {Q("appendChild"), 1});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); Get(x, "length"); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|<b />,<c />|3|");
}

}  // namespace
}  // namespace quarvel::avm2
