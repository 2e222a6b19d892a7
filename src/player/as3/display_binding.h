#pragma once
// The ActionScript 3 machine on the stage: the Flash classes (display,
// events, geometry, text, timers) over the display tree, the document
// class, symbol classes, frame scripts and the frame's event order.

#include <memory>
#include <vector>

namespace quarvel::avm2 {
class Machine;
struct Value;
struct Class;
}  // namespace quarvel::avm2

namespace quarvel::player {

class Stage;
class ScriptHooks;
struct Instance;
struct MovieLibrary;
struct EditTextDef;
struct FontDef;

// Loads the movie's ABC blocks into a new machine bound to `stage`.
std::unique_ptr<ScriptHooks> MakeAs3Hooks(Stage& stage);

// What the flash.text classes (text_binding.cpp) need of the stage binding.
// The node a display object shows; null when it has none.
Instance* As3Node(avm2::Machine& m, const avm2::Value& self);
const MovieLibrary& As3Library(avm2::Machine& m);
// The character a class (or its nearest base) is linked to by SymbolClass; 0 when none.
int As3SymbolOf(avm2::Machine& m, const avm2::Class* c);
// Whether SymbolClass links character `id` to a class.
bool As3SymbolLinked(avm2::Machine& m, int id);
// A text field object's script-only values (0 restrict, 1 styleSheet); null for others.
avm2::Value* As3FieldSlot(avm2::Machine& m, const avm2::Value& self, int k);
// Fonts given to Font.registerFont.
std::vector<const FontDef*>& As3RegisteredFonts(avm2::Machine& m);

}  // namespace quarvel::player
