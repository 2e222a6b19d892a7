#pragma once
// XML's escapes for text, as Flash writes them in both script machines
// (XML and XMLNode, E4X, describeType) and in a text field's htmlText.
// Header-only: the ActionScript 3 machine's library uses it too.

#include <cstdint>
#include <optional>
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

// The character an entity stands for, from the name between '&' and ';':
// the five XML names, nbsp where the reader knows it, and decimal or
// hexadecimal references to a code point from 1 to 0x10FFFF. Nothing for
// anything else: each reader keeps that as written.
inline std::optional<char32_t> EntityValue(std::string_view name, bool nbsp = false) {
  if (name == "amp") return U'&';
  if (name == "lt") return U'<';
  if (name == "gt") return U'>';
  if (name == "quot") return U'"';
  if (name == "apos") return U'\'';
  if (nbsp && name == "nbsp") return char32_t(0xA0);
  if (name.size() < 2 || name[0] != '#') return std::nullopt;
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t c = 0;
  for (char d : digits) {
    int v = -1;
    if (d >= '0' && d <= '9') v = d - '0';
    else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
    else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
    if (v < 0) return std::nullopt;
    c = c * (hex ? 16 : 10) + std::uint32_t(v);
  }
  if (c == 0 || c > 0x10FFFF) return std::nullopt;
  return char32_t(c);
}

}  // namespace quarvel::encoding
