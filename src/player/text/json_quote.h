#pragma once
// A JSON string literal: quotes, backslashes and control characters escaped;
// other bytes (UTF-8 text) as they are. Used by ActionScript 3's JSON and
// the command line's batch report.

#include <cstdio>
#include <string>

namespace quarvel::encoding {

inline std::string JsonQuoted(const std::string& s) {
  std::string out = "\"";
  for (const unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace quarvel::encoding
