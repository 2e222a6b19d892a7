#pragma once
// Script strings count in UTF-16 code units, as Flash's do, while the
// machine keeps them as UTF-8. A lone surrogate is kept as its own 3-byte
// sequence, so that every string of units comes back unchanged; a pair
// becomes one 4-byte character.

#include <cstddef>
#include <string>
#include <string_view>

namespace quarvel::avm2 {

bool IsAscii(std::string_view s);
std::u16string ToUtf16(std::string_view utf8);
std::string FromUtf16(std::u16string_view units);
std::size_t Utf16Length(std::string_view utf8);
// The UTF-16 index of a byte offset (at a character boundary) and back.
std::size_t Utf16IndexOfByte(std::string_view utf8, std::size_t byte);
std::size_t ByteOfUtf16Index(std::string_view utf8, std::size_t index);
// -1, 0 or 1 as the two strings order by their UTF-16 units (Flash's string
// order: a pair's high surrogate sorts below U+E000..U+FFFF).
int CompareUtf16(std::string_view a, std::string_view b);

}  // namespace quarvel::avm2
