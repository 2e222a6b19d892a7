// Stage and its constants; Capabilities, ApplicationDomain, System,
// Security, Mouse and fscommand.
#include "player/as3/display_binding_p.h"
#include "player/text/text_field.h"

namespace quarvel::player::as3 {

// ---- Stage

NATIVE(StWidth) { return Value::Int(B(m).lib.movie.header.frameSize.Width() / 20); }
NATIVE(StHeight) { return Value::Int(B(m).lib.movie.header.frameSize.Height() / 20); }
NATIVE(StFrameRate) {
  if (const auto& set = B(m).stageState.frameRate) return Value::Number(*set);
  const int scripted = B(m).stage.ScriptFrameRate();
  return Value::Number((scripted > 0 ? scripted : B(m).lib.movie.header.frameRate) / 256.0);
}
// The movie plays at the rate its script sets, from the next frame on.
NATIVE(StSetFrameRate) {
  const double fps = m.ToNumber(m.ArgOr(a, 0));
  // Read back as set within Flash's 0.01 to 1000 (NaN as NaN); the clock keeps its last rate for NaN.
  B(m).stageState.frameRate = std::isnan(fps) ? fps : std::clamp(fps, 0.01, 1000.0);
  if (!std::isnan(fps)) B(m).stage.SetScriptFrameRate(fps);
  return Value();
}
// scaleMode and align read back what the movie set (Flash's names); the
// picture keeps the player's fit.
NATIVE(StScaleMode) {
  const std::string& s = B(m).stageState.scaleMode;
  return m.Str(s.empty() ? "showAll" : s);
}
NATIVE(StSetScaleMode) {
  const std::string v = m.ToString(m.ArgOr(a, 0));
  for (const char* known : {"showAll", "exactFit", "noBorder", "noScale"}) {
    std::string lower = v, k = known;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == k) B(m).stageState.scaleMode = known;
  }
  return Value();
}
NATIVE(StAlign) { return m.Str(B(m).stageState.align); }
NATIVE(StSetAlign) {
  // Flash keeps the letters it knows, in the order T, B, L, R.
  std::string v = m.ToString(m.ArgOr(a, 0)), out;
  for (auto& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (char k : {'T', 'B', 'L', 'R'})
    if (v.find(k) != std::string::npos) out += k;
  B(m).stageState.align = out;
  return Value();
}
// The picture follows the quality a movie sets, as in Flash.
NATIVE(StQuality) {
  const std::string& q = B(m).stage.ScriptQuality();
  return m.Str(q.empty() ? "HIGH" : q);
}
NATIVE(StSetQuality) {
  B(m).stage.SetScriptQuality(m.ToString(m.ArgOr(a, 0)));
  return Value();
}
// Full screen as the standalone player has it: keys still reach the movie,
// so either full-screen state reads back as the interactive one. The
// picture keeps the movie's size; the change is told to the stage at once.
NATIVE(StDisplayState) { return m.Str(B(m).stageState.fullScreen ? "fullScreenInteractive" : "normal"); }
NATIVE(StSetDisplayState) {
  As3Display& b = B(m);
  const std::string v = m.ToString(m.ArgOr(a, 0));
  if (v != "normal" && v != "fullScreen" && v != "fullScreenInteractive")
    m.ThrowError("ArgumentError", "Parameter displayState must be one of the accepted values.", 2008);
  const bool full = v != "normal";
  if (full == b.stageState.fullScreen) return Value();
  b.stageState.fullScreen = full;
  Class* cls = m.FindClass("flash.events::FullScreenEvent");
  if (!cls || !b.stageObject) return Value();
  Value args[] = {m.Str("fullScreen"), Value::Bool(false), Value::Bool(false), Value::Bool(full), Value::Bool(full)};
  b.Dispatch(b.stageObject, As<EventObject>(Value::Obj(m.Construct(cls, args))));
  return Value();
}
NATIVE(StSetIgnored) { return Value(); }
NATIVE(StFocus) {
  As3Display& b = B(m);
  // An object off the stage keeps the focus a script gave it until it leaves the stage.
  return As<FlashObject>(b.pointer.focus) ? b.pointer.focus : Value::Null();
}
NATIVE(StSetFocus) {
  As3Display& b = B(m);
  // A field taking focus settles its auto-sized box.
  if (Instance* i = SelfNode(m, m.ArgOr(a, 0)); i && i->field) i->field->Settle();
  b.SetFocus(As<FlashObject>(m.ArgOr(a, 0)));
  return Value();
}
NATIVE(StInvalidate) {
  B(m).stageState.invalidated = true;
  return Value();
}

// The last Linux release: movies made for it (Stage3D frameworks check for 19
// or later before starting) see a player that can run them.
NATIVE(CapVersion) { return m.Str("LNX 32,0,0,465"); }
NATIVE(CapPlayerType) { return m.Str("StandAlone"); }
NATIVE(CapOs) { return m.Str("Linux"); }
// The player draws off screen: its screen is the movie's own frame, so a movie
// that fits itself to the screen keeps the size it was made for.
NATIVE(CapScreenX) { return Value::Int(B(m).lib.movie.header.frameSize.Width() / 20); }
NATIVE(CapScreenY) { return Value::Int(B(m).lib.movie.header.frameSize.Height() / 20); }
NATIVE(AppDomainCurrent) { return Value::Obj(m.Construct(m.FindClass("flash.system::ApplicationDomain"), {})); }
// A movie not trusted as a local file may not end the player.
NATIVE(SysExit) {
  m.ThrowError("SecurityError", "Only trusted local files may cause the Flash Player to exit.", 2017);
}
NATIVE(AppDomainGetDefinition) {
  const std::string name = avm2::ArgStr(m, a, 0, "");
  const Value v = m.DefinitionByName(name);
  if (v.IsUndefined()) m.ThrowError("ReferenceError", "Variable " + m.DefinitionLocalName(name) + " is not defined.", 1065);
  return v;
}
NATIVE(AppDomainHasDefinition) {
  // No name (null) names no definition.
  if (a.empty() || a[0].IsNullish()) return Value::Bool(false);
  return Value::Bool(!m.DefinitionByName(avm2::ArgStr(m, a, 0, "")).IsUndefined());
}
// The movie's domain sits on the system domain, which scripts never see.
NATIVE(AppDomainParent) { return Value::Null(); }
NATIVE(AppDomainDefinitionNames) {
  Object* v = m.Construct(m.VectorOf(m.stringClass), {});
  if (auto* arr = avm2::AsArray(Value::Obj(v)))
    for (const std::string& name : m.DefinitionNames()) arr->elems.push_back(m.Str(name));
  return Value::Obj(v);
}
NATIVE(AppDomainMemory) { return m.domainMemory ? Value::Obj(m.domainMemory) : Value::Null(); }
// null hands li8..sf64 back to the player's own memory, as it was left.
NATIVE(AppDomainSetMemory) {
  const Value v = m.ArgOr(a, 0);
  if (v.IsNullish()) {
    m.domainMemory = nullptr;
    return Value();
  }
  Object* o = v.AsObject();
  if (!o || o->kind != ObjectKind::kByteArray)
    m.ThrowError("TypeError", "Type Coercion failed: cannot convert " + m.ToString(v) + " to flash.utils.ByteArray.", 1034);
  auto* bytes = static_cast<avm2::ByteArrayObject*>(o);
  if (bytes->bytes.size() < Machine::kMinDomainMemory) m.ThrowError("Error", "End of file.", 1504);
  m.domainMemory = bytes;
  return Value();
}
// Memory in bytes: what the script machine holds plus a player's base, so a
// movie that shows or compares it reads a plausible, growing number.
// The player keeps no clipboard; the argument is checked as Flash does.
NATIVE(SysSetClipboard) {
  if (m.ArgOr(a, 0).IsNullish()) m.ThrowError("TypeError", "Parameter text must be non-null.", 2007);
  return Value();
}
NATIVE(SysTotalMemory) { return Value::Number(static_cast<double>(m.heap().LiveBytes()) + 16.0 * 1024 * 1024); }
NATIVE(SysUseCodePage) { return Value::Bool(B(m).loading.useCodePage); }
NATIVE(SysSetUseCodePage) {
  B(m).loading.useCodePage = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
NATIVE(SysFreeMemory) { return Value::Number(4.0 * 1024 * 1024); }
// Only "quit" means something without a host program: the player closes.
NATIVE(FsCommand) {
  std::string command = avm2::ArgStr(m, a, 0, "");
  for (auto& c : command) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (command == "quit") {
    B(m).media.channels.clear();
    B(m).stage.Quit();
  }
  return Value();
}
// The background colour, read with an opaque alpha; setting it repaints the stage.
NATIVE(StColor) {
  As3Display& b = B(m);
  Rgba c{255, 255, 255, 255};
  if (const auto s = b.stage.ScriptBackground()) c = *s;
  else if (b.lib.background) c = *b.lib.background;
  return Value::Number(0xFF000000u | c.r << 16 | c.g << 8 | c.b);
}
NATIVE(StSetColor) {
  const std::uint32_t v = m.ToUint(m.ArgOr(a, 0));
  B(m).stage.SetScriptBackground(Rgba{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                                      static_cast<std::uint8_t>(v), 255});
  return Value();
}
// No soft keyboard ever covers the stage: an empty rectangle.
NATIVE(StSoftKeyboardRect) {
  return NewRect(m, 0, 0, 0, 0);
}
NATIVE(StFocusRect) { return Value::Bool(B(m).stageState.focusRect); }
NATIVE(StSetFocusRect) {
  B(m).stageState.focusRect = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
NATIVE(ReturnOne) { return Value::Int(1); }
// The display object members the stage has no use for throw, as Flash's Stage overrides them.
NATIVE(StThrowNotImplemented) {
  m.ThrowError("Error", "The Stage class does not implement this property or method.", 2071);
}
// Flash's Stage throws through Error.throwError, a frame of the error's stack trace.
NATIVE(StNotImplemented) {
  static avm2::Method thrower = [] {
    avm2::Method t;
    t.name = "throwError";
    t.traceName = "Error$/throwError";
    t.native = StThrowNotImplemented;
    return t;
  }();
  return m.Invoke(&thrower, Value(), {}, nullptr);
}
// Its Rectangle parameter is coerced on the caller's side before the body throws.
NATIVE(StSetScrollRect) {
  const Value v = m.ArgOr(a, 0);
  Class* rect = m.FindClass("flash.geom::Rectangle");
  const avm2::Object* o = v.AsObject();
  if (rect && !v.IsNullish() && !(o && o->cls && o->cls->IsSubclassOf(rect)))
    m.ThrowFromCaller("TypeError", "Type Coercion failed: cannot convert " + m.ToString(v) + " to flash.geom.Rectangle.", 1034);
  return StNotImplemented(m, self, a);
}
// A movie played from a file: its FileAttributes say whether it may reach the network.
NATIVE(SecSandboxType) { return m.Str(B(m).lib.SandboxType()); }

constexpr MemberRow kStageRows[] = {
    {"flash.display::Stage", "color", Member::kGetter, StColor},
    {"flash.display::Stage", "color", Member::kSetter, StSetColor},
    {"flash.display::Stage", "browserZoomFactor", Member::kGetter, ReturnOne},
    {"flash.display::Stage", "contentsScaleFactor", Member::kGetter, ReturnOne},
    {"flash.display::Stage", "stageWidth", Member::kGetter, StWidth},
    {"flash.display::Stage", "stageWidth", Member::kSetter, StSetIgnored},
    {"flash.display::Stage", "stageHeight", Member::kGetter, StHeight},
    {"flash.display::Stage", "stageHeight", Member::kSetter, StSetIgnored},
    {"flash.display::Stage", "frameRate", Member::kGetter, StFrameRate},
    {"flash.display::Stage", "frameRate", Member::kSetter, StSetFrameRate},
    {"flash.display::Stage", "scaleMode", Member::kGetter, StScaleMode},
    {"flash.display::Stage", "scaleMode", Member::kSetter, StSetScaleMode},
    {"flash.display::Stage", "align", Member::kGetter, StAlign},
    {"flash.display::Stage", "align", Member::kSetter, StSetAlign},
    {"flash.display::Stage", "quality", Member::kGetter, StQuality},
    {"flash.display::Stage", "quality", Member::kSetter, StSetQuality},
    {"flash.display::Stage", "displayState", Member::kGetter, StDisplayState},
    {"flash.display::Stage", "displayState", Member::kSetter, StSetDisplayState},
    {"flash.display::Stage", "focus", Member::kGetter, StFocus},
    {"flash.display::Stage", "focus", Member::kSetter, StSetFocus},
    {"flash.display::Stage", "showDefaultContextMenu", Member::kGetter, DoGetVisible},
    {"flash.display::Stage", "showDefaultContextMenu", Member::kSetter, StSetIgnored},
    {"flash.display::Stage", "stageFocusRect", Member::kGetter, StFocusRect},
    {"flash.display::Stage", "stageFocusRect", Member::kSetter, StSetFocusRect},
    {"flash.display::Stage", "invalidate", Member::kMethod, StInvalidate},
    {"flash.display::Stage", "softKeyboardRect", Member::kGetter, StSoftKeyboardRect},
    {"flash.display::Stage", "accessibilityImplementation", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "accessibilityProperties", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "alpha", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "blendMode", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "cacheAsBitmap", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "contextMenu", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "filters", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "focusRect", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "height", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "mask", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "mouseEnabled", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "name", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "opaqueBackground", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "rotation", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "rotationX", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "rotationY", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "rotationZ", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "scale9Grid", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "scaleX", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "scaleY", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "scaleZ", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "scrollRect", Member::kSetter, StSetScrollRect},
    {"flash.display::Stage", "tabEnabled", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "tabIndex", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "transform", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "visible", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "width", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "x", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "y", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "z", Member::kSetter, StNotImplemented},
    {"flash.display::Stage", "textSnapshot", Member::kGetter, StNotImplemented},
    {"flash.display::StageScaleMode", "NO_SCALE", Member::kConst, nullptr, "noScale"},
    {"flash.display::StageScaleMode", "SHOW_ALL", Member::kConst, nullptr, "showAll"},
    {"flash.display::StageScaleMode", "EXACT_FIT", Member::kConst, nullptr, "exactFit"},
    {"flash.display::StageScaleMode", "NO_BORDER", Member::kConst, nullptr, "noBorder"},
    {"flash.display::StageAlign", "TOP_LEFT", Member::kConst, nullptr, "TL"},
    {"flash.display::StageAlign", "TOP", Member::kConst, nullptr, "T"},
    {"flash.display::StageQuality", "HIGH", Member::kConst, nullptr, "high"},
    {"flash.display::StageQuality", "LOW", Member::kConst, nullptr, "low"},
    {"flash.display::StageQuality", "BEST", Member::kConst, nullptr, "best"},
    {"flash.display::StageQuality", "MEDIUM", Member::kConst, nullptr, "medium"},
    {"flash.system::Security", "sandboxType", Member::kStaticGetter, SecSandboxType},
    {"flash.system::Capabilities", "version", Member::kStaticGetter, CapVersion},
    {"flash.system::Capabilities", "playerType", Member::kStaticGetter, CapPlayerType},
    {"flash.system::Capabilities", "os", Member::kStaticGetter, CapOs},
    {"flash.system::Capabilities", "screenResolutionX", Member::kStaticGetter, CapScreenX},
    {"flash.system::Capabilities", "screenResolutionY", Member::kStaticGetter, CapScreenY},
    {"flash.system::Capabilities", "isDebugger", Member::kStaticGetter, ReturnFalse},
    {"flash.system::ApplicationDomain", "currentDomain", Member::kStaticGetter, AppDomainCurrent},
    {"flash.system::ApplicationDomain", "getDefinition", Member::kMethod, AppDomainGetDefinition},
    {"flash.system::ApplicationDomain", "hasDefinition", Member::kMethod, AppDomainHasDefinition},
    {"flash.system::ApplicationDomain", "parentDomain", Member::kGetter, AppDomainParent},
    {"flash.system::ApplicationDomain", "getQualifiedDefinitionNames", Member::kMethod, AppDomainDefinitionNames},
    {"flash.system::ApplicationDomain", "domainMemory", Member::kGetter, AppDomainMemory},
    {"flash.system::ApplicationDomain", "domainMemory", Member::kSetter, AppDomainSetMemory},
    {"flash.system::ApplicationDomain", "MIN_DOMAIN_MEMORY_LENGTH", Member::kConst, nullptr, nullptr, 1024},
    {"flash.system::System", "gc", Member::kStaticMethod, Noop},
    {"flash.system::System", "exit", Member::kStaticMethod, SysExit},
    {"flash.system::System", "setClipboard", Member::kStaticMethod, SysSetClipboard},
    {"flash.system::System", "totalMemory", Member::kStaticGetter, SysTotalMemory},
    {"flash.system::System", "totalMemoryNumber", Member::kStaticGetter, SysTotalMemory},
    {"flash.system::System", "privateMemory", Member::kStaticGetter, SysTotalMemory},
    {"flash.system::System", "freeMemory", Member::kStaticGetter, SysFreeMemory},
    {"flash.system::System", "pauseForGCIfCollectionImminent", Member::kStaticMethod, Noop},
    // Only frees the node's memory sooner.
    {"flash.system::System", "disposeXML", Member::kStaticMethod, Noop},
    {"flash.system::System", "useCodePage", Member::kStaticGetter, SysUseCodePage},
    {"flash.system::System", "useCodePage", Member::kStaticSetter, SysSetUseCodePage},
    {"flash.system::Security", "allowDomain", Member::kStaticMethod, Noop},
    {"flash.ui::Mouse", "hide", Member::kStaticMethod, Noop},
    {"flash.ui::Mouse", "show", Member::kStaticMethod, Noop},
};

constexpr ClassRow kStageClasses[] = {
    {"flash.display", "Stage", "flash.display::DisplayObjectContainer", nullptr, nullptr, false, &As3Display::stageClass},
    {"flash.display", "StageScaleMode"},
    {"flash.display", "StageAlign"},
    {"flash.display", "StageQuality"},
    {"flash.display", "StageDisplayState"},
    {"flash.system", "Capabilities"},
    {"flash.system", "ApplicationDomain"},
    {"flash.system", "System"},
    {"flash.system", "Security"},
    {"flash.ui", "Mouse"},
};

void InstallStage(As3Display& b) {
  Register(b, kStageClasses, kStageRows);
  b.stageObject = As<FlashObject>(Value::Obj(b.m.Instantiate(b.stageClass)));
  b.stageObject->handle = kNoClip;
  b.m.AddGlobalFunction("flash.system", "fscommand", FsCommand);
  b.m.AddGlobalFunction("flash.net", "navigateToURL", Noop);
}
}  // namespace quarvel::player::as3
