#pragma once
// The groups of ActionScript 1/2 built-in classes as the interpreter calls
// them: one Install function each, and the text-field and video members
// clip values reach. Declared apart from avm1_builtins.h so that the
// interpreter names them without the helpers the class files share.

#include <string>

#include "player/display/stage.h"

namespace quarvel::player::avm1_builtins {

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
void InstallStdlib(Avm1& vm);  // Array, String, Number, Boolean, Math, conversions
// A string, number or boolean as its wrapper object (other values unchanged).
AsValue BoxPrimitive(Avm1& vm, const AsValue& v);
void InstallDate(Avm1& vm);
void InstallXml(Avm1& vm);     // XML, XMLNode
void InstallLoad(Avm1& vm);    // LoadVars, MovieClipLoader, loading for XML and clips (after InstallXml)
void InstallSystem(Avm1& vm);  // System, SharedObject, ExternalInterface
void InstallSound(Avm1& vm);
void InstallNativeTables(Avm1& vm);  // ASnative (avm1_asnative.cpp), after the rest

// getURL and what compiles to it (loadMovie, loadVariables, fscommand):
// `flags` are GetURL2's (1 load variables, 2 the target is a clip).
// The bytes of a file beside the movie that `url` names; false for URLs,
// paths out of the movie's folder and files that cannot be read.
bool ReadMovieFile(Avm1& vm, const std::string& url, std::string& out);
bool GetUrl(Avm1& vm, ClipHandle base, const std::string& url, const std::string& target, int flags);
void InstallText(Avm1& vm);
// TextSnapshot and MovieClip.getTextSnapshot (avm1_snapshot.cpp), installed by InstallText.
void InstallTextSnapshot(Avm1& vm);
// duplicateMovieClip made `copy` of `source` (kNoClip: none): the copy's
// snapshots find the static text, the source's no more.
void TextSnapshotDuplicated(Avm1& vm, ClipHandle source, ClipHandle copy);

// Text fields (avm1_text.cpp): the members of a text-field instance, which
// clip values also refer to; false when `clip` is no text field.
bool GetTextFieldMember(Avm1& vm, ClipHandle clip, const std::string& name, AsValue& out);
bool SetTextFieldMember(Avm1& vm, ClipHandle clip, const std::string& name, const AsValue& v);
bool IsTextField(Avm1& vm, ClipHandle clip);
// The script object of a text field (its own properties and watchers), made
// on first use when `make`; null for other clips.
AsObject* TextFieldObject(Avm1& vm, ClipHandle clip, bool make);
AsObject* TextFieldPrototype(Avm1& vm);
// A script is about to remove `clip`: when the focus is on it or inside
// it, the focus goes (Selection's listeners hear of it while it is there).
void FocusLeavingWith(Avm1& vm, ClipHandle clip);

}  // namespace quarvel::player::avm1_builtins
