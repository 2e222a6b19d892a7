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

TEST(XmlEscape, QuotesAreEscapedAsAsked) {
  const std::string s = "a<b>&\"c'";
  EXPECT_EQ(XmlEscaped(s, XmlQuotes::kNone), "a&lt;b&gt;&amp;\"c'");
  EXPECT_EQ(XmlEscaped(s, XmlQuotes::kDouble), "a&lt;b&gt;&amp;&quot;c'");
  EXPECT_EQ(XmlEscaped(s, XmlQuotes::kBoth), "a&lt;b&gt;&amp;&quot;c&apos;");
  EXPECT_EQ(XmlEscaped("\xC3\xA9", XmlQuotes::kBoth), "\xC3\xA9");
}

}  // namespace
}  // namespace quarvel::encoding
