#pragma once
// Keys by name, as Flash numbers them: the key code scripts read
// (Key.getCode, KeyboardEvent.keyCode) and the character the key types
// without modifiers (Key.getAscii, KeyboardEvent.charCode; 0 for none).

#include <optional>
#include <string>
#include <string_view>

namespace quarvel::flash {

struct FlashKey {
  int keyCode = 0;
  int charCode = 0;
  friend bool operator==(const FlashKey&, const FlashKey&) = default;
};

// "A".."Z", "0".."9", "Space", "Enter", "Escape", "Tab", "Backspace",
// "Left", "Up", "Right", "Down", "Home", "End", "PageUp", "PageDown",
// "Insert", "Delete", "Shift", "Control", "F1".."F12", and the punctuation
// keys by their character; names are case-blind. nullopt for others.
std::optional<FlashKey> KeyByName(std::string_view name);

// The names KeyByName takes, for messages.
std::string KeyNamesHelp();

}  // namespace quarvel::flash
