// What a movie learns of the player it runs in: System.capabilities (a
// desktop player for Linux with sound and no network services),
// System.security (local files allowed), ExternalInterface (no host page)
// and SharedObject, kept in memory for the run and never written to disk.
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_shared.h"
#include "player/text/xml_escape.h"

namespace quarvel::player::avm1_builtins {
namespace {

AsValue Nothing(Avm1&, const AsValue&, AsArgs) { return {}; }
AsValue True(Avm1&, const AsValue&, AsArgs) { return AsValue::Bool(true); }
AsValue False(Avm1&, const AsValue&, AsArgs) { return AsValue::Bool(false); }
AsValue Null(Avm1&, const AsValue&, AsArgs) { return AsValue::Null(); }

constexpr int kScreenWidth = 1920, kScreenHeight = 1080;

// serverString: the capabilities as a query string, in Flash's short names.
std::string ServerString() {
  std::string s = "A=t&SA=t&SV=f&EV=t&MP3=t&AE=f&VE=f&ACC=f&PR=f&SP=f&SB=f&DEB=f&V=";
  for (const char* c = kPlayerVersion; *c; ++c) {
    if (*c == ' ') s += "%20";
    else if (*c == ',') s += "%2C";
    else s += *c;
  }
  s += "&M=Adobe%20Linux&R=" + std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) +
       "&DP=72&COL=color&AR=1.0&OS=Linux&L=en&PT=StandAlone&AVD=f&LFD=f&WD=f&TLS=f";
  return s;
}

void InstallCapabilities(Avm1& vm, AsObject* system) {
  AsObject* caps = vm.NewRootObject(vm.ObjectProto());
  const std::pair<const char*, bool> flags[] = {
      {"avHardwareDisable", false}, {"hasAccessibility", false},  {"hasAudio", true},
      {"hasAudioEncoder", false},   {"hasEmbeddedVideo", true},   {"hasIME", false},
      {"hasMP3", true},             {"hasPrinting", false},       {"hasScreenBroadcast", false},
      {"hasScreenPlayback", false}, {"hasStreamingAudio", true},  {"hasStreamingVideo", false},
      {"hasVideoEncoder", false},   {"isDebugger", false},        {"localFileReadDisable", false},
      {"windowlessDisable", false}, {"hasTLS", false}};
  for (auto& [n, v] : flags) vm.SetProp(caps, n, AsValue::Bool(v));
  const std::pair<const char*, const char*> texts[] = {{"language", "en"},        {"manufacturer", "Adobe Linux"},
                                                       {"os", "Linux"},           {"playerType", "StandAlone"},
                                                       {"screenColor", "color"},  {"version", kPlayerVersion}};
  for (auto& [n, v] : texts) vm.SetProp(caps, n, AsValue::String(v));
  vm.SetProp(caps, "serverString", AsValue::String(ServerString()));
  vm.SetProp(caps, "pixelAspectRatio", AsValue::Number(1));
  vm.SetProp(caps, "screenDPI", AsValue::Number(72));
  vm.SetProp(caps, "screenResolutionX", AsValue::Number(kScreenWidth));
  vm.SetProp(caps, "screenResolutionY", AsValue::Number(kScreenHeight));
  vm.SetProp(system, "capabilities", AsValue::Object(caps), true);
}

// ---- SharedObject

// The shared objects of the run by name: getLocal gives the same one again.
struct SharedStore : AsNativeData {
  std::map<std::string, AsObject*> objects;
  void Mark(std::vector<AsObject*>& reachable) const override {
    for (auto& [name, o] : objects) reachable.push_back(o);
  }
};

SharedStore* Store(Avm1& vm) {
  const AsValue cls = vm.Get(AsValue::Object(vm.Global()), "SharedObject");
  return cls.type == AsValue::Type::kObject ? cls.obj->Native<SharedStore>() : nullptr;
}

AsValue SoGetLocal(Avm1& vm, const AsValue&, AsArgs a) {
  SharedStore* store = Store(vm);
  const std::string name = Str(vm, a, 0);
  // Names with characters Flash refuses give null.
  if (!store || name.empty() || name.find_first_of("~%&\\;:\"',<>?# ") != std::string::npos) return AsValue::Null();
  const std::string key = (a.size() > 1 && !a[1].IsUndefined() ? Str(vm, a, 1) : std::string()) + "/" + name;
  if (auto it = store->objects.find(key); it != store->objects.end()) return AsValue::Object(it->second);
  const AsValue cls = vm.Get(AsValue::Object(vm.Global()), "SharedObject");
  const AsValue proto = vm.Get(cls, "prototype");
  AsObject* so = vm.NewObject(proto.type == AsValue::Type::kObject ? proto.obj : vm.ObjectProto());
  so->className = "SharedObject";
  vm.SetProp(so, "data", AsValue::Object(vm.NewObject()));
  store->objects[key] = so;
  return AsValue::Object(so);
}

// Roughly the bytes the data takes when stored: names, text and 8 per number.
std::size_t StoredSize(Avm1& vm, const AsValue& v, int nesting) {
  switch (v.type) {
    case AsValue::Type::kString: return v.Text().size() + 3;
    case AsValue::Type::kNumber: return 9;
    case AsValue::Type::kBoolean: return 2;
    case AsValue::Type::kObject: {
      if (nesting > 16) return 0;
      std::size_t n = 4;
      for (auto& [key, p] : v.obj->props) {
        if (!p.hidden && !p.getter) n += p.name.size() + 2 + StoredSize(vm, p.value, nesting + 1);
      }
      return n;
    }
    default: return 1;
  }
}

AsValue SoGetSize(Avm1& vm, const AsValue& self, AsArgs) {
  const AsValue data = vm.Get(self, "data");
  if (data.type != AsValue::Type::kObject) return AsValue::Number(0);
  const std::size_t n = StoredSize(vm, data, 0);
  return AsValue::Number(n <= 4 ? 0 : static_cast<double>(n));
}

AsValue SoClear(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self)) vm.SetProp(o, "data", AsValue::Object(vm.NewObject()));
  return {};
}

// ---- ExternalInterface and fscommand

AsValue ExternalCall(Avm1& vm, const AsValue&, AsArgs) {
  vm.Skip("ExternalInterface (no host page)");
  return AsValue::Null();
}

// The page-bridge helpers give null for no text and for empty text.
template <std::string (*Rewrite)(const std::string&)>
AsValue ExternalText(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.empty()) return AsValue::Null();
  const std::string s = vm.ToString(a[0]);
  return s.empty() ? AsValue::Null() : AsValue::String(Rewrite(s));
}

std::string EscapeXml(const std::string& s) { return encoding::XmlEscaped(s, encoding::XmlQuotes::kBoth); }

// Only the five named entities, spelled in lower case, in one pass.
std::string UnescapeXml(const std::string& s) {
  static const std::pair<std::string_view, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    bool matched = false;
    if (s[i] == '&') {
      for (const auto& [name, c] : kEntities) {
        if (s.compare(i, name.size(), name) == 0) {
          out += c;
          i += name.size();
          matched = true;
          break;
        }
      }
    }
    if (!matched) out += s[i++];
  }
  return out;
}

// Only double quotes are escaped; backslashes stay as they are.
std::string JsQuote(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out;
}

// ---- ContextMenu, ContextMenuItem: the menu's model; no menu is shown.

// Flash's own menu entries, in the order the constructor makes them.
constexpr const char* kBuiltInItems[] = {"print", "forward_back", "rewind", "loop", "play", "quality", "zoom", "save"};

AsValue MakeMenu(Avm1& vm, AsObject* menu, const AsValue& onSelect) {
  vm.SetProp(menu, "onSelect", onSelect);
  AsObject* items = vm.NewObject(vm.ObjectProto());
  for (const char* n : kBuiltInItems) vm.SetProp(items, n, AsValue::Bool(true));
  vm.SetProp(menu, "builtInItems", AsValue::Object(items));
  vm.SetProp(menu, "customItems", AsValue::Object(vm.NewArray()));
  return AsValue::Object(menu);
}

AsValue MenuCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* menu = Self(self);
  if (!menu) return {};
  MakeMenu(vm, menu, Arg(a, 0));
  return {};
}

// The menu's class, read again from the global so that a script's own
// prototype changes reach the copies.
AsObject* GlobalProto(Avm1& vm, const char* cls) {
  const AsValue proto = vm.Get(vm.Get(AsValue::Object(vm.Global()), cls), "prototype");
  return proto.type == AsValue::Type::kObject ? proto.obj : vm.ObjectProto();
}

// copy(): a new menu with the same handler, the built-in entries' switches
// and a copy of each custom item (made by the item's own copy method).
AsValue MenuCopy(Avm1& vm, const AsValue& self, AsArgs) {
  if (!Self(self)) return {};
  AsObject* copy = vm.NewObject(GlobalProto(vm, "ContextMenu"));
  copy->className = "ContextMenu";
  MakeMenu(vm, copy, vm.Get(self, "onSelect"));
  const AsValue from = vm.Get(self, "builtInItems");
  const AsValue to = vm.Get(AsValue::Object(copy), "builtInItems");
  for (const char* n : kBuiltInItems) vm.Set(to, n, vm.Get(from, n));
  const AsValue custom = vm.Get(self, "customItems");
  AsObject* out = vm.Get(AsValue::Object(copy), "customItems").obj;
  if (custom.type == AsValue::Type::kObject && custom.obj->isArray) {
    std::int64_t i = 0;
    for (const AsValue& item : vm.Elements(custom.obj)) vm.SetElement(out, i++, vm.CallMethodOf(item, "copy"));
  }
  return AsValue::Object(copy);
}

AsValue MenuHideBuiltIns(Avm1& vm, const AsValue& self, AsArgs) {
  const AsValue items = vm.Get(self, "builtInItems");
  if (items.type != AsValue::Type::kObject) return {};
  for (const char* n : kBuiltInItems) vm.Set(items, n, AsValue::Bool(false));
  return {};
}

// ContextMenuItem(caption, onSelect, separatorBefore = false, enabled = true, visible = true).
void MakeMenuItem(Avm1& vm, AsObject* item, AsArgs a) {
  vm.SetProp(item, "caption", Arg(a, 0));
  vm.SetProp(item, "onSelect", Arg(a, 1));
  vm.SetProp(item, "separatorBefore", AsValue::Bool(a.size() > 2 && vm.ToBool(a[2])));
  vm.SetProp(item, "enabled", AsValue::Bool(a.size() <= 3 || vm.ToBool(a[3])));
  vm.SetProp(item, "visible", AsValue::Bool(a.size() <= 4 || vm.ToBool(a[4])));
}

AsValue MenuItemCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (AsObject* item = Self(self)) MakeMenuItem(vm, item, a);
  return {};
}

AsValue MenuItemCopy(Avm1& vm, const AsValue& self, AsArgs) {
  if (!Self(self)) return {};
  AsObject* copy = vm.NewObject(GlobalProto(vm, "ContextMenuItem"));
  copy->className = "ContextMenuItem";
  AsValue args[] = {vm.Get(self, "caption"), vm.Get(self, "onSelect"), vm.Get(self, "separatorBefore"),
                          vm.Get(self, "enabled"), vm.Get(self, "visible")};
  MakeMenuItem(vm, copy, args);
  return AsValue::Object(copy);
}

// ---- Devices and connections the player has none of: no camera, no
// microphone, no socket server, no other movie listening.

AsValue EmptyList(Avm1& vm, const AsValue&, AsArgs) { return AsValue::Object(vm.NewArray()); }

void InstallMenusAndDevices(Avm1& vm) {
  AsObject* global = vm.Global();
  AsObject* menuProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "ContextMenu", MenuCtor, menuProto);
  vm.NewFunction("copy", MenuCopy, menuProto);
  vm.NewFunction("hideBuiltInItems", MenuHideBuiltIns, menuProto);
  AsObject* itemProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "ContextMenuItem", MenuItemCtor, itemProto);
  vm.NewFunction("copy", MenuItemCopy, itemProto);

  // Buttons' own class: its prototype is where scripts add button methods.
  vm.NewClass(global, "Button", Nothing);

  for (const char* device : {"Camera", "Microphone"}) {
    AsObject* cls = vm.NewClass(global, device, Nothing);
    vm.NewFunction("get", Null, cls);
    vm.AddAccessor(cls, "names", EmptyList, nullptr);
  }

  AsObject* lcProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "LocalConnection", Nothing, lcProto);
  vm.NewFunction("connect", True, lcProto);
  vm.NewFunction("send", True, lcProto);
  vm.NewFunction("close", Nothing, lcProto);
  vm.NewFunction("domain", [](Avm1&, const AsValue&, AsArgs) { return AsValue::String("localhost"); }, lcProto);

  AsObject* socketProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "XMLSocket", Nothing, socketProto);
  vm.NewFunction("connect", False, socketProto);
  vm.NewFunction("send", Nothing, socketProto);
  vm.NewFunction("close", Nothing, socketProto);
}

}  // namespace

void InstallSystem(Avm1& vm) {
  AsObject* global = vm.Global();
  AsObject* system = vm.NewRootObject(vm.ObjectProto());
  InstallCapabilities(vm, system);
  AsObject* security = vm.NewRootObject(vm.ObjectProto());
  vm.NewFunction("allowDomain", True, security);
  vm.NewFunction("allowInsecureDomain", True, security);
  vm.NewFunction("loadPolicyFile", Nothing, security);
  // A movie played from a file reaches either files or the network, as its
  // FileAttributes ask.
  vm.SetProp(security, "sandboxType",
             AsValue::String(vm.GetStage().Library().useNetwork ? "localWithNetwork" : "localWithFile"), true);
  vm.SetProp(system, "security", AsValue::Object(security), true);
  vm.SetProp(system, "useCodepage", AsValue::Bool(false));
  vm.SetProp(system, "exactSettings", AsValue::Bool(true));
  vm.NewFunction("showSettings", Nothing, system);
  vm.NewFunction("setClipboard", False, system);
  // The input method editor: none, so it is off and takes no text.
  AsObject* ime = vm.NewRootObject(vm.ObjectProto());
  const std::pair<const char*, const char*> imeModes[] = {
      {"ALPHANUMERIC_FULL", "ALPHANUMERIC_FULL"}, {"ALPHANUMERIC_HALF", "ALPHANUMERIC_HALF"},
      {"CHINESE", "CHINESE"}, {"JAPANESE_HIRAGANA", "JAPANESE_HIRAGANA"}, {"JAPANESE_KATAKANA_FULL", "JAPANESE_KATAKANA_FULL"},
      {"JAPANESE_KATAKANA_HALF", "JAPANESE_KATAKANA_HALF"}, {"KOREAN", "KOREAN"}, {"UNKNOWN", "UNKNOWN"}};
  for (auto& [n, v] : imeModes) vm.SetProp(ime, n, AsValue::String(v));
  vm.NewFunction("getEnabled", False, ime);
  vm.NewFunction("setEnabled", False, ime);
  vm.NewFunction("getConversionMode", [](Avm1&, const AsValue&, AsArgs) { return AsValue::String("UNKNOWN"); }, ime);
  vm.NewFunction("setConversionMode", False, ime);
  vm.NewFunction("setCompositionString", False, ime);
  vm.NewFunction("doConversion", False, ime);
  vm.SetProp(system, "IME", AsValue::Object(ime), true);
  vm.SetProp(global, "System", AsValue::Object(system), true);
  InstallMenusAndDevices(vm);

  AsObject* so = vm.NewClass(global, "SharedObject", Nothing);
  so->native = std::make_unique<SharedStore>();
  vm.NewFunction("getLocal", SoGetLocal, so);
  vm.NewFunction("getRemote", Null, so);
  const AsValue proto = vm.Get(AsValue::Object(so), "prototype");
  vm.NewFunction("flush", True, proto.obj);
  vm.NewFunction("clear", SoClear, proto.obj);
  vm.NewFunction("getSize", SoGetSize, proto.obj);
  vm.NewFunction("close", Nothing, proto.obj);
  vm.NewFunction("connect", False, proto.obj);

  // flash.external.ExternalInterface: no page hosts the player.
  AsObject* external = vm.NewClass(nullptr, "ExternalInterface", Nothing);
  vm.SetProp(external, "available", AsValue::Bool(false), true);
  vm.NewFunction("call", ExternalCall, external);
  vm.NewFunction("addCallback", False, external);
  vm.NewFunction("_escapeXML", ExternalText<EscapeXml>, external);
  vm.NewFunction("_unescapeXML", ExternalText<UnescapeXml>, external);
  vm.NewFunction("_jsQuoteString", ExternalText<JsQuote>, external);
  AsValue flash = vm.Get(AsValue::Object(global), "flash");
  if (flash.type != AsValue::Type::kObject) {
    flash = AsValue::Object(vm.NewRootObject(vm.ObjectProto()));
    vm.SetProp(global, "flash", flash, true);
  }
  AsValue ext = vm.Get(flash, "external");
  if (ext.type != AsValue::Type::kObject) {
    ext = AsValue::Object(vm.NewRootObject(vm.ObjectProto()));
    vm.SetProp(flash.obj, "external", ext, true);
  }
  vm.SetProp(ext.obj, "ExternalInterface", AsValue::Object(external), true);
}

}  // namespace quarvel::player::avm1_builtins
