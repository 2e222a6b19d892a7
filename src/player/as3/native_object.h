#pragma once
// The objects of the Flash classes that hold native data: each kind is one
// C++ type with a tag, and script values reach them only through As<T>,
// which checks the tag. Every object of ObjectKind::kNative is a NativeBase.

#include <cstdint>
#include <string>

#include "player/avm2/machine.h"

namespace quarvel::player::as3 {

enum class NativeKind : std::uint8_t {
  // EventDispatchers (FlashObject and its kinds), in one range.
  kDispatcher, kDisplayObject, kTimer, kSound, kSoundChannel, kNetConnection, kNetStream, kLoaderInfo, kUrlLoader,
  kFileList,
  kShaderJob, kStage3D, kContext3D, kResource3D, kLastDispatcher = kResource3D,
  // Others.
  kEvent, kBitmapData, kGraphics, kTransform, kShader, kTextFormat, kStyleSheet, kFont, kShaderData, kShaderParameter,
  kShaderInput
};

struct NativeBase : avm2::Object {
  explicit NativeBase(NativeKind k) : Object(avm2::ObjectKind::kNative), tag(k) {}
  const NativeKind tag;
};

// The object of kind T in `v`; null for anything else (another kind, a
// plain object, a primitive).
template <class T>
T* As(const avm2::Value& v) {
  avm2::Object* o = v.AsObject();
  if (!o || o->kind != avm2::ObjectKind::kNative) return nullptr;
  auto* n = static_cast<NativeBase*>(o);
  return T::Holds(n->tag) ? static_cast<T*>(n) : nullptr;
}

// A parameter of kind T: null when the script passed null or undefined;
// any other value of another kind is Flash's TypeError #1034, named after
// the class the parameter takes (`to`, as "flash.events::Event").
template <class T>
T* ArgAs(avm2::Machine& m, const avm2::Value& v, const char* to) {
  if (v.IsNullish()) return nullptr;
  if (T* t = As<T>(v)) return t;
  avm2::Object* o = v.AsObject();
  m.ThrowError("TypeError",
               "Type Coercion failed: cannot convert " + (o && o->cls ? o->cls->QualifiedName() : m.ToString(v)) +
                   " to " + to + ".",
               1034);
}

// Allocation of a class's instances as kind T.
template <class T>
avm2::Object* Alloc(avm2::Machine& m, avm2::Class*) {
  return m.heap().New<T>();
}

}  // namespace quarvel::player::as3
