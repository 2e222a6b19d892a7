#pragma once
// What the interpreter (avm1.cpp) and its actions (avm1_actions.cpp) share:
// text helpers and limits. Not for other code.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "player/text/text_encoding.h"

namespace quarvel::player::avm1_detail {

inline constexpr std::size_t kMaxStringBytes = std::size_t{1} << 20;

inline std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Equal but for ASCII case, without making a copy.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Length in UTF-16 units, as script strings count: a character past the
// Basic Multilingual Plane (a 4-byte sequence) counts twice.
inline std::size_t Utf16Length(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;
  }
  return n;
}

// UTF-16 units of UTF-8 text (a character past the Basic Multilingual
// Plane as a surrogate pair), as scripts from version 6 index strings.
inline std::u16string Utf16Units(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c0 = static_cast<unsigned char>(s[i]);
    const int n = c0 >= 0xF0 ? 4 : c0 >= 0xE0 ? 3 : c0 >= 0xC0 ? 2 : 1;
    std::uint32_t c = n == 1 ? c0 : c0 & (0x3Fu >> (n - 1));
    for (int k = 1; k < n && i + static_cast<std::size_t>(k) < s.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0x3Fu);
    }
    i += static_cast<std::size_t>(n);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

// Text joined from pieces may hold a surrogate pair as two 3-byte halves;
// joins each such pair into its 4-byte character, so equal texts have equal bytes.
inline void JoinSurrogates(std::string& s) {
  if (s.find('\xED') == std::string::npos) return;
  std::string out;
  out.reserve(s.size());
  auto half = [&](std::size_t i, unsigned lo, unsigned hi) {
    return i + 2 < s.size() && static_cast<unsigned char>(s[i]) == 0xED &&
           static_cast<unsigned char>(s[i + 1]) >= lo && static_cast<unsigned char>(s[i + 1]) <= hi;
  };
  for (std::size_t i = 0; i < s.size();) {
    if (half(i, 0xA0, 0xAF) && half(i + 3, 0xB0, 0xBF)) {
      const std::uint32_t h = 0xD000u | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) | (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
      const std::uint32_t l = 0xD000u | ((static_cast<unsigned char>(s[i + 4]) & 0x3Fu) << 6) | (static_cast<unsigned char>(s[i + 5]) & 0x3Fu);
      encoding::AppendUtf8(out, 0x10000 + ((h - 0xD800) << 10) + (l - 0xDC00));
      i += 6;
    } else {
      out += s[i++];
    }
  }
  s = std::move(out);
}

// Script strings order by code point: a surrogate pair held as two 3-byte
// halves counts as the character it makes ("\uFF61" < "\uD800\uDC02").
inline bool ScriptStringLess(const std::string& a, const std::string& b) {
  if (a.find('\xED') == std::string::npos && b.find('\xED') == std::string::npos) return a < b;
  std::string x = a, y = b;
  JoinSurrogates(x);
  JoinSurrogates(y);
  return x < y;
}

// A lone surrogate half (a 3-byte ED A0..BF sequence) as U+FFFD, the way
// Flash writes such text out.
inline void ReplaceLoneSurrogates(std::string& s) {
  for (std::size_t i = 0; i + 2 < s.size(); ++i) {
    if (static_cast<unsigned char>(s[i]) == 0xED && static_cast<unsigned char>(s[i + 1]) >= 0xA0) {
      s.replace(i, 3, "\xEF\xBF\xBD");
      i += 2;
    }
  }
}

// Code points of a UTF-8 string as byte offsets (plus the end).
inline std::vector<std::size_t> CharOffsets(const std::string& s) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) out.push_back(i);
  }
  out.push_back(s.size());
  return out;
}

inline std::string Utf8(std::uint32_t c) {
  std::string s;
  encoding::AppendUtf8(s, c);
  return s;
}

inline std::uint32_t FirstCodePoint(const std::string& s) {
  if (s.empty()) return 0;
  const auto b = static_cast<unsigned char>(s[0]);
  int n = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
  std::uint32_t c = n == 0 ? b : n == 1 ? (b & 0x1F) : n == 2 ? (b & 0x0F) : (b & 0x07);
  for (int i = 1; i <= n && i < static_cast<int>(s.size()); ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  return c;
}

// Movie clip properties by GetProperty index.
inline constexpr const char* kPropertyNames[] = {"_x", "_y", "_xscale", "_yscale", "_currentframe", "_totalframes", "_alpha",
                                      "_visible", "_width", "_height", "_rotation", "_target", "_framesloaded",
                                      "_name", "_droptarget", "_url", "_highquality", "_focusrect", "_soundbuftime",
                                      "_quality", "_xmouse", "_ymouse"};

}  // namespace quarvel::player::avm1_detail
