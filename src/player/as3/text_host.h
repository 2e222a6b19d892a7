#pragma once
// What the flash.text classes (text_binding.cpp) need of the stage binding
// (display_binding.cpp defines them). Apart from display_binding.h so that
// the text classes do not include the binding that installs them.

#include <vector>

namespace quarvel::avm2 {
class Machine;
struct Value;
struct Class;
}  // namespace quarvel::avm2

namespace quarvel::player {

struct Instance;
struct MovieLibrary;
struct FontDef;

// The node a display object shows; null when it has none.
Instance* As3Node(avm2::Machine& m, const avm2::Value& self);
const MovieLibrary& As3Library(avm2::Machine& m);
// The library of the movie whose timeline placed `i` (a loaded movie's or the main one).
const MovieLibrary& As3LibraryOf(avm2::Machine& m, const Instance& i);
// The library of the movie whose code is running: a loaded movie's, or
// the main one.
const MovieLibrary& As3RunningLibrary(avm2::Machine& m);
// Whether SymbolClass links character `id` to a class.
bool As3SymbolLinked(avm2::Machine& m, int id);
// The embedded font a class (or its nearest base) is linked to, in the main
// movie or a loaded one; null when none.
const FontDef* As3LinkedFont(avm2::Machine& m, const avm2::Class* c);
// A text field object's script-only values (0 restrict, 1 styleSheet); null for others.
avm2::Value* As3FieldSlot(avm2::Machine& m, const avm2::Value& self, int k);
// Fonts given to Font.registerFont.
std::vector<const FontDef*>& As3RegisteredFonts(avm2::Machine& m);

}  // namespace quarvel::player
