#pragma once
// What the built-in classes of ActionScript 1/2 share. Each group of
// classes lives in a file of its own with one Install function, called once
// when the interpreter starts (Avm1::InstallBuiltins).

#include <cstddef>
#include <string>

#include "platform/player/avm1.h"

namespace quarvel::player::avm1_builtins {

inline AsValue Arg(AsArgs a, std::size_t i) { return i < a.size() ? a[i] : AsValue{}; }
inline double Num(Avm1& vm, AsArgs a, std::size_t i) { return vm.ToNumber(Arg(a, i)); }
inline std::string Str(Avm1& vm, AsArgs a, std::size_t i) { return vm.ToString(Arg(a, i)); }
inline AsObject* Self(const AsValue& self) { return self.type == AsValue::Type::kObject ? self.obj : nullptr; }
// The native data of `this` when it is of type T (methods called on the
// wrong kind of object find none and do nothing, as Flash does).
template <typename T>
T* SelfData(const AsValue& self) {
  AsObject* o = Self(self);
  return o ? o->Native<T>() : nullptr;
}

// One per group of classes, each called at the end of InstallBuiltins:
// void InstallSomething(Avm1& vm);
void InstallText(Avm1& vm);

// Text fields (avm1_text.cpp): the members of a text-field instance, which
// clip values also refer to; false when `clip` is no text field.
bool GetTextFieldMember(Avm1& vm, ClipHandle clip, const std::string& name, AsValue& out);
bool SetTextFieldMember(Avm1& vm, ClipHandle clip, const std::string& name, const AsValue& v);
bool IsTextField(Avm1& vm, ClipHandle clip);
AsObject* TextFieldPrototype(Avm1& vm);

}  // namespace quarvel::player::avm1_builtins
