#include "flash/key_names.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quarvel::flash {

namespace {

struct Named {
  std::string_view name;
  FlashKey key;
};

constexpr std::array kNamed = {
    Named{"space", {32, 32}},    Named{"enter", {13, 13}},   Named{"escape", {27, 27}},  Named{"tab", {9, 9}},
    Named{"backspace", {8, 8}},  Named{"left", {37, 0}},     Named{"up", {38, 0}},       Named{"right", {39, 0}},
    Named{"down", {40, 0}},      Named{"home", {36, 0}},     Named{"end", {35, 0}},      Named{"pageup", {33, 0}},
    Named{"pagedown", {34, 0}},  Named{"insert", {45, 0}},   Named{"delete", {46, 127}}, Named{"shift", {16, 0}},
    Named{"control", {17, 0}},   Named{"capslock", {20, 0}},
};

// Punctuation keys of a US keyboard: Flash's key codes for them.
constexpr std::array<std::pair<char, int>, 11> kPunctuation = {{
    {';', 186}, {'=', 187}, {',', 188}, {'-', 189}, {'.', 190}, {'/', 191},
    {'`', 192}, {'[', 219}, {'\\', 220}, {']', 221}, {'\'', 222},
}};

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

}  // namespace

std::optional<FlashKey> KeyByName(std::string_view name) {
  if (name.size() == 1) {
    const char c = name[0];
    if (std::isalpha(static_cast<unsigned char>(c)))
      return FlashKey{std::toupper(static_cast<unsigned char>(c)), std::tolower(static_cast<unsigned char>(c))};
    if (c >= '0' && c <= '9') return FlashKey{c, c};
    for (const auto& [ch, code] : kPunctuation)
      if (ch == c) return FlashKey{code, ch};
    return std::nullopt;
  }
  const std::string lower = Lower(name);
  for (const Named& n : kNamed)
    if (n.name == lower) return n.key;
  if (lower == "ctrl") return FlashKey{17, 0};
  if (lower == "esc") return FlashKey{27, 27};
  if (lower == "return") return FlashKey{13, 13};
  if (lower.size() >= 2 && lower.size() <= 3 && lower[0] == 'f') {
    int n = 0;
    for (std::size_t i = 1; i < lower.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(lower[i]))) return std::nullopt;
      n = n * 10 + (lower[i] - '0');
    }
    if (n >= 1 && n <= 12) return FlashKey{111 + n, 0};
  }
  return std::nullopt;
}

std::string KeyNamesHelp() {
  return "a letter, a digit, a punctuation key, Space, Enter, Escape, Tab, Backspace, Left, Up, Right, Down, "
         "Home, End, PageUp, PageDown, Insert, Delete, Shift, Control, CapsLock or F1 to F12";
}

}  // namespace quarvel::flash
