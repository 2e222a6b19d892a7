// Events for scripts: AsBroadcaster and the global broadcasters Key, Mouse
// and Stage, Accessibility, ASSetPropFlags, and setTimeout.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_shared.h"
#include "player/display/stage.h"

namespace quarvel::player {

using namespace avm1_builtins;

namespace {

AsObject* Listeners(Avm1& vm, const AsValue& self) {
  AsObject* arr = Self(vm.Get(self, "_listeners"));
  return arr && arr->isArray ? arr : nullptr;
}

// As Flash's own script does it: removeListener finds the last listener
// equal (==) to the argument, so undefined and null stand for each other;
// addListener first removes an equal one, then adds at the end.
bool RemoveEqual(Avm1& vm, AsObject* arr, const AsValue& l) {
  const std::vector<AsValue> list = vm.Elements(arr);
  for (std::size_t i = list.size(); i-- > 0;) {
    if (vm.LooseEquals(list[i], l)) {
      vm.SpliceElements(arr, static_cast<std::int64_t>(i), 1, {});
      return true;
    }
  }
  return false;
}

AsValue AddListener(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* arr = Listeners(vm, self);
  if (!arr) return AsValue::Bool(false);
  const AsValue l = Arg(a, 0);
  RemoveEqual(vm, arr, l);
  vm.SetElement(arr, std::max<std::int32_t>(arr->length, 0), l);
  return AsValue::Bool(true);
}

AsValue RemoveListener(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* arr = Listeners(vm, self);
  return AsValue::Bool(arr && RemoveEqual(vm, arr, Arg(a, 0)));
}

AsValue BroadcastMessage(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.empty()) return {};
  return vm.Broadcast(self, vm.ToString(a[0]), a.subspan(1)) ? AsValue::Bool(true) : AsValue{};
}

// The three methods and an empty list of listeners, none of them enumerated.
void MakeBroadcaster(Avm1& vm, const AsValue& target) {
  AsObject* o = vm.ObjectOf(target);
  AsObject* bc = Self(vm.Get(AsValue::Object(vm.Global()), "AsBroadcaster"));
  if (!o || !bc) return;
  for (const char* name : {"addListener", "removeListener", "broadcastMessage"}) {
    vm.SetProp(o, name, vm.Get(AsValue::Object(bc), name), true);
  }
  vm.SetProp(o, "_listeners", AsValue::Object(vm.NewArray()), true);
}

AsValue Initialize(Avm1& vm, const AsValue&, AsArgs a) {
  MakeBroadcaster(vm, Arg(a, 0));
  return {};
}

// ASSetPropFlags(object, names, set, clear): names as an array, a comma
// list, or null (or nothing) for all; version bits hide a property from older movies.
AsValue SetPropFlags(Avm1& vm, const AsValue&, AsArgs a) {
  AsObject* o = vm.ObjectOf(Arg(a, 0));
  if (!o) return {};
  const auto set = static_cast<std::uint32_t>(ToInt32(Num(vm, a, 2)));
  const auto clear = a.size() > 3 ? static_cast<std::uint32_t>(ToInt32(Num(vm, a, 3))) : 0u;
  std::vector<std::string> names;
  const AsValue list = Arg(a, 1);
  const bool all = a.size() < 2 || list.type == AsValue::Type::kNull;
  if (AsObject* arr = Self(list); arr && arr->isArray) {
    for (const AsValue& e : vm.Elements(arr)) names.push_back(vm.ToString(e));
  } else if (!all) {
    // undefined names the property "undefined"; only null means all.
    const std::string text = vm.ToString(list);
    std::size_t i = 0;
    while (i <= text.size()) {
      std::size_t j = text.find(',', i);
      if (j == std::string::npos) j = text.size();
      names.push_back(text.substr(i, j - i));
      i = j + 1;
    }
  }
  auto apply = [&](AsProperty& p) {
    const std::uint32_t had = (p.hidden ? kPropDontEnum : 0) | (p.dontDelete ? kPropDontDelete : 0) |
                              (p.readOnly ? kPropReadOnly : 0) | p.versions;
    const std::uint32_t flags = (had & ~clear) | set;
    p.hidden = flags & kPropDontEnum;
    p.dontDelete = flags & kPropDontDelete;
    p.readOnly = flags & kPropReadOnly;
    p.versions = static_cast<std::uint16_t>(flags & ~7u);
  };
  if (all) {
    for (auto& [k, p] : o->props) apply(p);
  } else {
    for (const std::string& n : names) {
      if (auto it = o->props.find(vm.Key(n)); it != o->props.end()) apply(it->second);
    }
  }
  return {};
}

AsValue SetTimeout(Avm1& vm, const AsValue&, AsArgs a) { return StartTimer(vm, a, true); }

AsValue ClearTimeout(Avm1& vm, const AsValue&, AsArgs a) {
  vm.ClearInterval(ToInt32(Num(vm, a, 0)));
  return {};
}

AsValue False(Avm1&, const AsValue&, AsArgs) { return AsValue::Bool(false); }
AsValue KeyIsDown(Avm1& vm, const AsValue&, AsArgs a) {
  const double code = Num(vm, a, 0);
  return AsValue::Bool(code >= 0 && code < 256 && vm.KeyIsDown(static_cast<int>(code)));
}
AsValue KeyGetCode(Avm1& vm, const AsValue&, AsArgs) { return AsValue::Number(vm.LastKeyCode()); }
AsValue KeyGetAscii(Avm1& vm, const AsValue&, AsArgs) { return AsValue::Number(vm.LastKeyAscii()); }
// Mouse.hide and show answer whether the pointer was shown.
AsValue Shown(Avm1&, const AsValue&, AsArgs) { return AsValue::Bool(true); }

// A movie loaded into _level0 brings its own size.
const Rect& StageFrame(Avm1& vm) {
  const TimelineState& root = vm.GetStage().Root();
  return (root.lib ? *root.lib : vm.GetStage().Library()).movie.header.frameSize;
}
AsValue StageWidth(Avm1& vm, const AsValue&, AsArgs) { return AsValue::Number(StageFrame(vm).Width() / 20); }
AsValue StageHeight(Avm1& vm, const AsValue&, AsArgs) { return AsValue::Number(StageFrame(vm).Height() / 20); }

// Stage.scaleMode takes Flash's four modes in any case; any other value is showAll.
AsValue GetScaleMode(Avm1& vm, const AsValue& self, AsArgs) {
  const AsValue v = vm.Get(self, "$scaleMode");
  return v.IsUndefined() ? AsValue::String("showAll") : v;
}
AsValue SetScaleMode(Avm1& vm, const AsValue& self, AsArgs a) {
  std::string mode = Str(vm, a, 0), low = mode;
  for (auto& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const char* const kModes[] = {"showAll", "noBorder", "exactFit", "noScale"};
  const char* chosen = kModes[0];
  for (const char* m : kModes) {
    std::string lm = m;
    for (auto& c : lm) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lm == low) chosen = m;
  }
  if (Self(self)) vm.SetProp(Self(self), "$scaleMode", AsValue::String(chosen), true);
  return {};
}

// Stage.displayState: "normal" or "fullScreen" in any case; a change tells
// the Stage listeners through onFullScreen. Nothing is drawn differently:
// the movie keeps its own frame size.
AsValue GetDisplayState(Avm1& vm, const AsValue& self, AsArgs) {
  const AsValue v = vm.Get(self, "$displayState");
  return v.IsUndefined() ? AsValue::String("normal") : v;
}
AsValue SetDisplayState(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string low = avm1_detail::Lower(Str(vm, a, 0));
  if ((low != "normal" && low != "fullscreen") || !Self(self)) return {};
  const bool full = low == "fullscreen";
  if (vm.ToString(GetDisplayState(vm, self, {})) == (full ? "fullScreen" : "normal")) return {};
  vm.SetProp(Self(self), "$displayState", AsValue::String(full ? "fullScreen" : "normal"), true);
  AsValue arg = AsValue::Bool(full);
  vm.Broadcast(self, "onFullScreen", AsArgs(&arg, 1));
  return {};
}

// Stage.align: the letters T, B, L, R it holds, in Flash's order.
AsValue GetAlign(Avm1& vm, const AsValue& self, AsArgs) {
  const AsValue v = vm.Get(self, "$align");
  return v.IsUndefined() ? AsValue::String("") : v;
}
AsValue SetAlign(Avm1& vm, const AsValue& self, AsArgs a) {
  std::string up = Str(vm, a, 0);
  for (auto& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string out;
  for (char c : {'L', 'T', 'R', 'B'}) {
    if (up.find(c) != std::string::npos) out += c;
  }
  if (Self(self)) vm.SetProp(Self(self), "$align", AsValue::String(out), true);
  return {};
}

}  // namespace

bool Avm1::Broadcast(const AsValue& broadcaster, const std::string& message, AsArgs args) {
  AsObject* arr = Listeners(*this, broadcaster);
  if (!arr) return false;
  // Listeners added while broadcasting wait for the next message.
  const std::int32_t n = arr->length;
  std::vector<AsValue> copy(args.begin(), args.end());
  for (std::int32_t i = 0; i < n && i < arr->length; ++i) {
    const AsValue l = Element(arr, i);
    // As a method call by no name, an empty message calls the listener itself.
    if (message.empty()) {
      Call(l, AsValue{}, copy);
      continue;
    }
    const AsValue fn = Get(l, message);
    Call(fn, l, copy);
  }
  return n > 0;
}

void Avm1::BroadcastGlobal(const std::string& object, const std::string& message) {
  Broadcast(Get(AsValue::Object(global_), object), message, {});
}

void avm1_builtins::InstallEvents(Avm1& vm) {
  AsObject* global = vm.Global();
  AsObject* bc = vm.NewClass(global, "AsBroadcaster", [](Avm1&, const AsValue&, AsArgs) { return AsValue{}; });
  vm.NewFunction("initialize", Initialize, bc);
  vm.NewFunction("addListener", AddListener, bc);
  vm.NewFunction("removeListener", RemoveListener, bc);
  vm.NewFunction("broadcastMessage", BroadcastMessage, bc);

  AsObject* key = vm.NewRootObject();
  vm.SetProp(global, "Key", AsValue::Object(key), true);
  MakeBroadcaster(vm, AsValue::Object(key));
  vm.NewFunction("isDown", KeyIsDown, key);
  vm.NewFunction("isToggled", False, key);
  vm.NewFunction("getCode", KeyGetCode, key);
  vm.NewFunction("getAscii", KeyGetAscii, key);
  const std::pair<const char*, int> keyCodes[] = {
      {"BACKSPACE", 8}, {"CAPSLOCK", 20}, {"CONTROL", 17}, {"DELETEKEY", 46}, {"DOWN", 40}, {"END", 35},
      {"ENTER", 13},    {"ESCAPE", 27},   {"HOME", 36},    {"INSERT", 45},    {"LEFT", 37}, {"PGDN", 34},
      {"PGUP", 33},     {"RIGHT", 39},    {"SHIFT", 16},   {"SPACE", 32},     {"TAB", 9},   {"UP", 38}};
  for (auto& [n, c] : keyCodes) vm.SetProp(key, n, AsValue::Number(c), true);

  AsObject* mouse = vm.NewRootObject();
  vm.SetProp(global, "Mouse", AsValue::Object(mouse), true);
  MakeBroadcaster(vm, AsValue::Object(mouse));
  vm.NewFunction("hide", Shown, mouse);
  vm.NewFunction("show", Shown, mouse);

  AsObject* stage = vm.NewRootObject();
  vm.SetProp(global, "Stage", AsValue::Object(stage), true);
  MakeBroadcaster(vm, AsValue::Object(stage));
  vm.AddAccessor(stage, "width", StageWidth, nullptr);
  vm.AddAccessor(stage, "height", StageHeight, nullptr);
  vm.AddAccessor(stage, "scaleMode", GetScaleMode, SetScaleMode);
  vm.AddAccessor(stage, "align", GetAlign, SetAlign);
  vm.AddAccessor(stage, "displayState", GetDisplayState, SetDisplayState);
  vm.SetProp(stage, "showMenu", AsValue::Bool(true), true);

  // No screen reader ever listens to this player.
  AsObject* access = vm.NewRootObject();
  vm.SetProp(global, "Accessibility", AsValue::Object(access), true);
  vm.NewFunction("isActive", False, access);
  vm.NewFunction("updateProperties", [](Avm1&, const AsValue&, AsArgs) { return AsValue{}; }, access);

  // Clips with button handlers answer the pointer while enabled.
  vm.SetProp(vm.ClipProto(), "enabled", AsValue::Bool(true), true);
  vm.SetProp(vm.ClipProto(), "useHandCursor", AsValue::Bool(true), true);

  vm.NewFunction("ASSetPropFlags", SetPropFlags, global);
  vm.NewFunction("setTimeout", SetTimeout, global);
  vm.NewFunction("clearTimeout", ClearTimeout, global);
}

}  // namespace quarvel::player
