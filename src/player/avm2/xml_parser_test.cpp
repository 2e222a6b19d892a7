#include "player/avm2/xml_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel::avm2::xml {
namespace {

ParseOptions KeepAll() { return {.ignoreComments = false, .ignoreProcessingInstructions = false, .ignoreWhitespace = false}; }

int ErrorOf(std::string_view text, const ParseOptions& o = {}) {
  try {
    ParseFragment(text, o);
  } catch (const XmlSyntaxError& e) {
    return e.Code();
  }
  return 0;
}

TEST(XmlParser, ReadsElementsAttributesNamespacesAndText) {
  const auto nodes = ParseFragment(R"(<p:a xmlns:p="urn:p" xmlns="urn:d" x='1' p:y="&lt;2&#x41;&#66;">t<b/></p:a>)", {});
  ASSERT_EQ(nodes.size(), 1u);
  const ParsedNode& a = nodes[0];
  EXPECT_EQ(a.kind, NodeKind::kElement);
  EXPECT_EQ(a.name, "p:a");
  ASSERT_EQ(a.namespaces.size(), 2u);
  EXPECT_EQ(a.namespaces[0], (std::pair<std::string, std::string>{"p", "urn:p"}));
  EXPECT_EQ(a.namespaces[1], (std::pair<std::string, std::string>{"", "urn:d"}));
  ASSERT_EQ(a.attributes.size(), 2u);
  EXPECT_EQ(a.attributes[1], (std::pair<std::string, std::string>{"p:y", "<2AB"}));
  ASSERT_EQ(a.children.size(), 2u);
  EXPECT_EQ(a.children[0].text, "t");
  EXPECT_EQ(a.children[1].name, "b");
}

TEST(XmlParser, SettingsDecideWhichNodesStay) {
  const std::string text = "<a> <!-- c --> <?pi  body ?> <![CDATA[ raw <x> ]]> t </a>";
  const auto kept = ParseFragment(text, KeepAll());
  ASSERT_EQ(kept[0].children.size(), 7u);  // space, comment, space, PI, space, CDATA, text
  EXPECT_EQ(kept[0].children[1].kind, NodeKind::kComment);
  EXPECT_EQ(kept[0].children[1].text, " c ");
  EXPECT_EQ(kept[0].children[3].name, "pi");
  EXPECT_EQ(kept[0].children[3].text, "body ");  // leading space dropped, trailing kept
  EXPECT_TRUE(kept[0].children[5].cdata);
  EXPECT_EQ(kept[0].children[5].text, " raw <x> ");

  // The defaults drop comments, instructions and blank text, and trim text; CDATA stays as written.
  const auto dropped = ParseFragment(text, {});
  ASSERT_EQ(dropped[0].children.size(), 2u);
  EXPECT_EQ(dropped[0].children[0].text, " raw <x> ");
  EXPECT_EQ(dropped[0].children[1].text, "t");
}

TEST(XmlParser, DeclarationAndDoctypeAreNoNodes) {
  const auto nodes = ParseFragment("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x\">]><a/>", KeepAll());
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].name, "a");
}

TEST(XmlParser, EndTagsAsFlashAcceptsThem) {
  // Anything between the end tag's name and '>' is passed over.
  EXPECT_EQ(ErrorOf("<a></a >"), 0);
  EXPECT_EQ(ErrorOf("<a></a/>"), 0);
  EXPECT_EQ(ErrorOf("<a></a hello=\"x\">"), 0);
  EXPECT_EQ(ErrorOf("<a></b>"), 1085);
  EXPECT_EQ(ErrorOf("<a></A>"), 1085);
  EXPECT_EQ(ErrorOf("<a></abc>"), 1085);
}

TEST(XmlParser, BadMarkupGivesFlashsErrorNumbers) {
  EXPECT_EQ(ErrorOf("<a>"), 1085);
  EXPECT_EQ(ErrorOf("<a><b>"), 1085);
  EXPECT_EQ(ErrorOf("<a><![CDATA[x</a>"), 1091);
  EXPECT_EQ(ErrorOf("<!DOCTYPE a"), 1093);
  EXPECT_EQ(ErrorOf("<a><!-- x</a>", KeepAll()), 1094);
  EXPECT_EQ(ErrorOf("<a x=\"1></a>"), 1095);
  EXPECT_EQ(ErrorOf("<a x=\"1\""), 1096);
  EXPECT_EQ(ErrorOf("<a><?pi x</a>", KeepAll()), 1097);
  EXPECT_EQ(ErrorOf("<a x=1/>"), 1090);
  EXPECT_EQ(ErrorOf("<a x=\"1\"y=\"2\"/>"), 1090);
  EXPECT_EQ(ErrorOf("< a/>"), 1090);
  EXPECT_EQ(ErrorOf("</a>"), 1090);
  try {
    ParseFragment("<root><a></b></root>", {});
    FAIL();
  } catch (const XmlSyntaxError& e) {
    EXPECT_STREQ(e.what(), "The element type \"a\" must be terminated by the matching end-tag \"</a>\".");
    EXPECT_EQ(e.Offset(), 9u);  // the end tag
  }
}

TEST(XmlParser, DeepNestingIsRefusedNotRecursedInto) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  EXPECT_EQ(ErrorOf(deep), 1090);
  std::string ok;
  for (int i = 0; i < 100; ++i) ok = "<a>" + ok + "</a>";
  EXPECT_EQ(ErrorOf(ok), 0);
}

TEST(XmlParser, UnescapeKeepsWhatNamesNoCharacter) {
  EXPECT_EQ(Unescape("&amp;&quot;&apos;&gt;"), "&\"'>");
  EXPECT_EQ(Unescape("&#x1F47E;"), "\xF0\x9F\x91\xBE");
  // Up to the next ';' an unknown reference is kept whole, a known one inside it too.
  EXPECT_EQ(Unescape("&&amp; &nbsp; &#0; &#xZZ; & ;"), "&&amp; &nbsp; &#0; &#xZZ; & ;");
  EXPECT_EQ(Unescape("a & b"), "a & b");
}

}  // namespace
}  // namespace quarvel::avm2::xml
