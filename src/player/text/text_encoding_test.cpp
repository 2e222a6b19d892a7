#include "player/text/text_encoding.h"

#include <gtest/gtest.h>

#include "player/text/xml_escape.h"

namespace quarvel::encoding {
namespace {

TEST(TextEncoding, Utf16PairsBecomeOneCharacterAndLoneSurrogatesStay) {
  EXPECT_EQ(Utf16ToUtf8(u"a\u00e9\u20ac"), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
  // A high surrogate without its low one, and a low one alone.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, u'x'}), "\xED\xA0\xBDx");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00}), "\xED\xB8\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D}), "\xED\xA0\xBD");
}

// 0x80-0x9F hold punctuation, the rest is Latin-1.
TEST(TextEncoding, Windows1252BytesBecomeTheirCharacters) {
  EXPECT_EQ(Windows1252ToUtf8("a\x80\x96\xC4\xDF"), "a\xE2\x82\xAC\xE2\x80\x93\xC3\x84\xC3\x9F");
  EXPECT_EQ(Windows1252ToUtf8("\x81"), "\xC2\x81");  // unassigned: kept as its control code
}

TEST(XmlEscape, QuotesAreEscapedAsAsked) {
  const std::string s = "a<b>&\"c'";
  EXPECT_EQ(XmlEscaped(s, XmlQuotes::kNone), "a&lt;b&gt;&amp;\"c'");
  EXPECT_EQ(XmlEscaped(s, XmlQuotes::kDouble), "a&lt;b&gt;&amp;&quot;c'");
  EXPECT_EQ(XmlEscaped(s, XmlQuotes::kBoth), "a&lt;b&gt;&amp;&quot;c&apos;");
  EXPECT_EQ(XmlEscaped("\xC3\xA9", XmlQuotes::kBoth), "\xC3\xA9");
}

// Names are case-sensitive; references must be all digits and name a code
// point; nbsp only where the reader knows it.
TEST(XmlEscape, EntityValuesAndWhatStaysAsWritten) {
  EXPECT_EQ(EntityValue("amp"), U'&');
  EXPECT_EQ(EntityValue("apos"), U'\'');
  EXPECT_EQ(EntityValue("AMP"), std::nullopt);
  EXPECT_EQ(EntityValue("nbsp"), std::nullopt);
  EXPECT_EQ(EntityValue("nbsp", true), char32_t(0xA0));
  EXPECT_EQ(EntityValue("#65"), U'A');
  EXPECT_EQ(EntityValue("#x1F600"), char32_t(0x1F600));
  EXPECT_EQ(EntityValue("#X41"), U'A');
  for (const char* bad : {"#", "#x", "#0", "#65a", "#+65", "#x110000", "#123456789", "bogus", ""})
    EXPECT_EQ(EntityValue(bad, true), std::nullopt) << bad;
}

}  // namespace
}  // namespace quarvel::encoding
