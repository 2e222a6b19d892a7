#include "player/avm2/utf16.h"

#include <cstdint>

#include "player/text/text_encoding.h"

namespace quarvel::avm2 {

namespace {

// One character at `i`: its code point and length; bytes that are no valid
// UTF-8 stand for themselves (Latin-1), as Flash reads such text.
std::uint32_t Decode(std::string_view s, std::size_t i, std::size_t& len) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  len = 1;
  if (c < 0x80) return c;
  const int extra = c >= 0xF8 ? -1 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
  if (extra < 0 || i + static_cast<std::size_t>(extra) >= s.size()) return c;
  std::uint32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const unsigned char x = b(i + static_cast<std::size_t>(k));
    if ((x & 0xC0) != 0x80) return c;
    cp = (cp << 6) | (x & 0x3F);
  }
  len = static_cast<std::size_t>(extra) + 1;
  return cp;
}

}  // namespace

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::u16string ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = 1;
    const std::uint32_t c = Decode(s, i, len);
    i += len;
    if (c >= 0x10000 && c < 0x110000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c & 0xFFFF);
    }
  }
  return out;
}

std::string FromUtf16(std::u16string_view u) { return encoding::Utf16ToUtf8(u); }

std::size_t Utf16Length(std::string_view s) {
  if (IsAscii(s)) return s.size();
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = 1;
    const std::uint32_t c = Decode(s, i, len);
    i += len;
    n += c >= 0x10000 ? 2 : 1;
  }
  return n;
}

std::size_t Utf16IndexOfByte(std::string_view s, std::size_t byte) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size() && i < byte;) {
    std::size_t len = 1;
    const std::uint32_t c = Decode(s, i, len);
    i += len;
    n += c >= 0x10000 ? 2 : 1;
  }
  return n;
}

std::size_t ByteOfUtf16Index(std::string_view s, std::size_t index) {
  std::size_t n = 0, i = 0;
  while (i < s.size() && n < index) {
    std::size_t len = 1;
    const std::uint32_t c = Decode(s, i, len);
    i += len;
    n += c >= 0x10000 ? 2 : 1;
  }
  return i;
}

int CompareUtf16(std::string_view a, std::string_view b) {
  // UTF-8 bytes order as code points do; that differs from the units' order
  // only where a character at or above U+10000 meets one at U+E000 or above.
  auto upper = [](std::string_view s) {
    for (unsigned char c : s)
      if (c >= 0xEE) return true;
    return false;
  };
  if (!upper(a) || !upper(b)) {
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  const std::u16string x = ToUtf16(a), y = ToUtf16(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace quarvel::avm2
