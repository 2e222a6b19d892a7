#pragma once
// What the built-in classes of ActionScript 1/2 share. Each group of
// classes lives in a file of its own with one Install function, called once
// when the interpreter starts (Avm1::InstallBuiltins).

#include <cstddef>
#include <string>

#include "player/avm1/avm1.h"

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

// One per group of classes, each called at the end of InstallBuiltins:
// void InstallSomething(Avm1& vm);
// AsBroadcaster, Key, Mouse, Stage, ASSetPropFlags, setTimeout (avm1_events.cpp).
void InstallEvents(Avm1& vm);
void InstallVideo(Avm1& vm);  // avm1_video.cpp

// The script object of a placed video (Video.attachVideo, clear...), the
// same one each time while the video stays.
AsValue VideoObject(Avm1& vm, ClipHandle video);
void InstallDrawing(Avm1& vm);  // avm1_drawing.cpp
void InstallGeom(Avm1& vm);     // avm1_geom.cpp
void InstallBitmap(Avm1& vm);   // avm1_bitmap.cpp
void InstallFilters(Avm1& vm);  // avm1_filters.cpp
void InstallStdlib(Avm1& vm);
// A string, number or boolean as its wrapper object (other values unchanged).
AsValue BoxPrimitive(Avm1& vm, const AsValue& v);  // Array, String, Number, Boolean, Math, conversions
void InstallDate(Avm1& vm);
void InstallXml(Avm1& vm);     // XML, XMLNode
void InstallLoad(Avm1& vm);    // LoadVars, MovieClipLoader, loading for XML and clips (after InstallXml)
void InstallSystem(Avm1& vm);  // System, SharedObject, ExternalInterface
void InstallSound(Avm1& vm);

// getURL and what compiles to it (loadMovie, loadVariables, fscommand):
// `flags` are GetURL2's (1 load variables, 2 the target is a clip).
// The bytes of a file beside the movie that `url` names; false for URLs,
// paths out of the movie's folder and files that cannot be read.
bool ReadMovieFile(Avm1& vm, const std::string& url, std::string& out);
bool GetUrl(Avm1& vm, ClipHandle base, const std::string& url, const std::string& target, int flags);
void InstallText(Avm1& vm);

// Text fields (avm1_text.cpp): the members of a text-field instance, which
// clip values also refer to; false when `clip` is no text field.
bool GetTextFieldMember(Avm1& vm, ClipHandle clip, const std::string& name, AsValue& out);
bool SetTextFieldMember(Avm1& vm, ClipHandle clip, const std::string& name, const AsValue& v);
bool IsTextField(Avm1& vm, ClipHandle clip);
AsObject* TextFieldPrototype(Avm1& vm);

}  // namespace quarvel::player::avm1_builtins
