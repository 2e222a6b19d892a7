#pragma once
// flash.text for ActionScript 3: TextField on the shared text layout
// (text_field.h), TextFormat, TextLineMetrics, Font, StyleSheet and the
// constant classes.

namespace quarvel::avm2 {
class Machine;
struct Class;
}  // namespace quarvel::avm2

namespace quarvel::player {

struct Instance;
struct MovieLibrary;

struct As3TextClasses {
  avm2::Class* textField = nullptr;
  avm2::Class* textFormat = nullptr;
};

// Defines the classes; TextField derives from `interactive`.
As3TextClasses InstallTextClasses(avm2::Machine& m, avm2::Class* interactive);

// StaticText's members (text).
void AddStaticTextMembers(avm2::Machine& m, avm2::Class* staticText);

// Gives a text node the field it shows: a timeline field's from its
// definition, a script-made one empty. Nothing for other nodes.
void MakeTextFieldOf(Instance& inst, const MovieLibrary& lib, bool scriptMade);

}  // namespace quarvel::player
