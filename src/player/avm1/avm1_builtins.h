#pragma once
// What the built-in classes of ActionScript 1/2 share. Each group of
// classes lives in a file of its own with one Install function, called once
// when the interpreter starts (Avm1::InstallBuiltins).

#include <cstddef>
#include <string>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_classes.h"

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

// What getVersion and System.capabilities.version report: a desktop player
// for Linux.
inline constexpr const char* kPlayerVersion = "LNX 8,0,24,0";

// setInterval (once: setTimeout): a function and the delay, or an object, a
// method name and the delay, then the arguments; the timer's id, or
// undefined (and no timer) without a callback or a delay.
AsValue StartTimer(Avm1& vm, AsArgs a, bool once);

// load(url) of an object that reads text: false without a URL; else the
// file's text arrives later through the object's onData (undefined when it
// cannot be read).
AsValue LoadTextFor(Avm1& vm, const AsValue& self, AsArgs a);

}  // namespace quarvel::player::avm1_builtins
