#pragma once
// XML's escapes for text, as Flash writes them in both script machines
// (XML and XMLNode, E4X, describeType) and in a text field's htmlText.
// Header-only: the ActionScript 3 machine's library uses it too.

#include <string>
#include <string_view>

namespace quarvel::encoding {

// Which quotes are escaped besides & < >: none (element text), double
// quotes (attribute values), or both (&quot; and &apos;).
enum class XmlQuotes { kNone, kDouble, kBoth };

inline std::string XmlEscaped(std::string_view s, XmlQuotes quotes) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += quotes != XmlQuotes::kNone ? "&quot;" : "\""; break;
      case '\'': out += quotes == XmlQuotes::kBoth ? "&apos;" : "'"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace quarvel::encoding
