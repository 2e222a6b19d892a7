// What a movie learns of the player it runs in: System.capabilities (a
// desktop player for Linux with sound and no network services),
// System.security (local files allowed), ExternalInterface (no host page),
// SharedObject, kept in memory for the run and never written to disk,
// LocalConnection between the movies of this player and PrintJob (no printer).
#include <algorithm>
#include <map>
#include <vector>
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

// ---- ExternalInterface's value encoding: values as the XML a host page
// reads (<number>4</number>, <array><property id="0">...), and back.

constexpr int kMaxEncodeDepth = 64;
constexpr double kMaxEncodeLength = 1 << 16;

// An object's enumerable names in for-in order: its newest property first,
// then those of its prototypes it does not have itself.
std::vector<std::string> EnumerationOrder(Avm1& vm, const AsValue& v) {
  std::vector<std::pair<std::uint64_t, std::string>> names;
  std::map<std::string, bool> seen;
  AsObject* o = v.type == AsValue::Type::kObject ? v.obj : v.type == AsValue::Type::kClip ? vm.ObjectOf(v) : nullptr;
  for (int guard = 0; o && guard < 64; o = o->proto, ++guard) {
    std::vector<std::pair<std::uint64_t, std::string>> own;
    for (const auto& [k, p] : o->props) {
      if (!p.hidden && seen.emplace(k, true).second) own.emplace_back(p.order, p.name);
    }
    std::sort(own.begin(), own.end());
    names.insert(names.end(), own.begin(), own.end());
  }
  std::vector<std::string> out;
  for (auto it = names.rbegin(); it != names.rend(); ++it) out.push_back(it->second);
  return out;
}

std::string ToXml(Avm1& vm, const AsValue& v, int depth);

// Elements 0..length-1 (from `first`), each wrapped as a property or bare.
std::string ListToXml(Avm1& vm, const AsValue& v, int first, bool properties, int depth) {
  const double length = vm.ToNumber(vm.Get(v, "length"));
  std::string out;
  for (int i = first; i < length && i < kMaxEncodeLength && !vm.Throwing(); ++i) {
    const std::string item = ToXml(vm, vm.Get(v, std::to_string(i)), depth + 1);
    out += properties ? "<property id=\"" + std::to_string(i) + "\">" + item + "</property>" : item;
    if (!vm.Charge(out.size())) break;
  }
  return out;
}

std::string ArrayToXml(Avm1& vm, const AsValue& v, int depth) {
  return "<array>" + ListToXml(vm, v, 0, true, depth) + "</array>";
}

std::string ObjectToXml(Avm1& vm, const AsValue& v, int depth) {
  std::string out = "<object>";
  for (const std::string& name : EnumerationOrder(vm, v)) {
    if (vm.Throwing()) break;
    out += "<property id=\"" + name + "\">" + ToXml(vm, vm.Get(v, name), depth + 1) + "</property>";
    if (!vm.Charge(out.size())) break;
  }
  return out + "</object>";
}

std::string ToXml(Avm1& vm, const AsValue& v, int depth) {
  using T = AsValue::Type;
  switch (v.type) {
    case T::kString: {
      // Empty text escapes to null, and the page reads "null".
      const std::string text = vm.ToString(v);
      return "<string>" + (text.empty() ? std::string("null") : EscapeXml(text)) + "</string>";
    }
    case T::kUndefined: return "<undefined/>";
    case T::kNumber: return "<number>" + vm.ToString(v) + "</number>";
    case T::kNull: return "<null/>";
    case T::kBoolean: return v.num != 0 ? "<true/>" : "<false/>";
    case T::kObject:
      if (v.obj->fn || depth > kMaxEncodeDepth) return "<null/>";
      // Anything with a length goes as an array (String objects, arguments).
      return vm.Get(v, "length").IsUndefined() ? ObjectToXml(vm, v, depth) : ArrayToXml(vm, v, depth);
    case T::kClip: return "<null/>";
  }
  return "<null/>";
}

AsValue ExternalToXml(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::String(ToXml(vm, Arg(a, 0), 0)); }
AsValue ExternalArrayToXml(Avm1& vm, const AsValue&, AsArgs a) {
  return AsValue::String(ArrayToXml(vm, Arg(a, 0), 0));
}
AsValue ExternalObjectToXml(Avm1& vm, const AsValue&, AsArgs a) {
  return AsValue::String(ObjectToXml(vm, Arg(a, 0), 0));
}
// A call's arguments, the first (the function's name) left out.
AsValue ExternalArgumentsToXml(Avm1& vm, const AsValue&, AsArgs a) {
  return AsValue::String("<arguments>" + ListToXml(vm, Arg(a, 0), 1, false, 0) + "</arguments>");
}

AsValue ToAs(Avm1& vm, const AsValue& node, int depth);

// The element nodes under `node`, in order.
std::vector<AsValue> ChildNodes(Avm1& vm, const AsValue& node) {
  std::vector<AsValue> out;
  const AsValue children = vm.Get(node, "childNodes");
  if (children.type != AsValue::Type::kObject) return out;
  const double length = vm.ToNumber(vm.Get(children, "length"));
  for (int i = 0; i < length && i < kMaxEncodeLength && !vm.Throwing(); ++i) {
    out.push_back(vm.Get(children, std::to_string(i)));
  }
  return out;
}

// <property id="name">value</property> children as (name, value).
template <typename Put>
void EachProperty(Avm1& vm, const AsValue& node, int depth, Put put) {
  if (depth > kMaxEncodeDepth) return;
  for (const AsValue& child : ChildNodes(vm, node)) {
    const std::string id = vm.ToString(vm.Get(vm.Get(child, "attributes"), "id"));
    put(id, ToAs(vm, vm.Get(child, "firstChild"), depth + 1));
  }
}

AsValue ArrayToAs(Avm1& vm, const AsValue& node, int depth) {
  AsObject* arr = vm.NewArray();
  EachProperty(vm, node, depth, [&](const std::string& id, const AsValue& v) {
    vm.Set(AsValue::Object(arr), id, v);
  });
  return AsValue::Object(arr);
}

AsValue ObjectToAs(Avm1& vm, const AsValue& node, int depth) {
  AsObject* o = vm.NewObject(vm.ObjectProto());
  EachProperty(vm, node, depth, [&](const std::string& id, const AsValue& v) { vm.Set(AsValue::Object(o), id, v); });
  return AsValue::Object(o);
}

// A node by its name, compared as == compares ("null" and new String("null")
// alike); unknown names give undefined.
AsValue ToAs(Avm1& vm, const AsValue& node, int depth) {
  const AsValue name = vm.Get(node, "nodeName");
  auto is = [&](const char* n) { return vm.LooseEquals(name, AsValue::String(n)); };
  if (is("number")) return AsValue::Number(vm.ToNumber(AsValue::String(vm.ToString(vm.Get(node, "firstChild")))));
  if (is("string")) return AsValue::String(UnescapeXml(vm.ToString(vm.Get(node, "firstChild"))));
  if (is("false")) return AsValue::Bool(false);
  if (is("true")) return AsValue::Bool(true);
  if (is("null")) return AsValue::Null();
  if (is("undefined")) return {};
  if (is("object")) return ObjectToAs(vm, node, depth);
  if (is("array")) return ArrayToAs(vm, node, depth);
  return {};
}

AsValue ExternalToAs(Avm1& vm, const AsValue&, AsArgs a) { return ToAs(vm, Arg(a, 0), 0); }
AsValue ExternalArrayToAs(Avm1& vm, const AsValue&, AsArgs a) { return ArrayToAs(vm, Arg(a, 0), 0); }
AsValue ExternalObjectToAs(Avm1& vm, const AsValue&, AsArgs a) { return ObjectToAs(vm, Arg(a, 0), 0); }
AsValue ExternalArgumentsToAs(Avm1& vm, const AsValue&, AsArgs a) {
  std::vector<AsValue> items;
  for (const AsValue& child : ChildNodes(vm, Arg(a, 0))) items.push_back(ToAs(vm, child, 1));
  return AsValue::Object(vm.NewArray(std::move(items)));
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
// microphone, no socket server.

AsValue EmptyList(Avm1& vm, const AsValue&, AsArgs) { return AsValue::Object(vm.NewArray()); }

// A button's tabIndex: undefined until set, kept as the processor
// truncates a number.
AsValue GetTabIndex(Avm1& vm, const AsValue& self, AsArgs) {
  const TimelineState* tl = vm.GetStage().TimelineOf(vm.ClipOf(self));
  return tl && tl->tabIndex ? AsValue::Number(*tl->tabIndex) : AsValue{};
}

AsValue SetTabIndex(Avm1& vm, const AsValue& self, AsArgs a) {
  TimelineState* tl = vm.GetStage().TimelineOf(vm.ClipOf(self));
  if (!tl) return {};
  if (Arg(a, 0).IsUndefined()) {
    tl->tabIndex.reset();
  } else {
    const double d = vm.ToNumber(Arg(a, 0));
    if (!vm.Throwing()) tl->tabIndex = TruncateOrLowest(d);
  }
  return {};
}

void InstallMenusAndDevices(Avm1& vm) {
  AsObject* global = vm.Global();
  AsObject* menuProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "ContextMenu", MenuCtor, menuProto);
  vm.NewFunction("copy", MenuCopy, menuProto);
  vm.NewFunction("hideBuiltInItems", MenuHideBuiltIns, menuProto);
  AsObject* itemProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "ContextMenuItem", MenuItemCtor, itemProto);
  vm.NewFunction("copy", MenuItemCopy, itemProto);

  // Buttons' own class: its prototype is where scripts add button methods,
  // and buttons' variables start there. It leads on to MovieClip's, whose
  // methods buttons here still answer.
  AsObject* buttonProto = vm.NewRootObject(vm.ClipProto());
  vm.NewClass(global, "Button", Nothing, buttonProto);
  vm.SetButtonProto(buttonProto);
  // A button's tabIndex is enumerated, and none before SWF 6. (A clip's
  // keeps what scripts write: Flash has been seen to both convert and keep
  // the value there.)
  vm.AddAccessor(buttonProto, "tabIndex", GetTabIndex, SetTabIndex);
  buttonProto->props[vm.Key("tabIndex")].hidden = false;
  buttonProto->props[vm.Key("tabIndex")].versions = kPropVersion6;

  for (const char* device : {"Camera", "Microphone"}) {
    AsObject* cls = vm.NewClass(global, device, Nothing);
    vm.NewFunction("get", Null, cls);
    vm.AddAccessor(cls, "names", EmptyList, nullptr);
  }

  AsObject* socketProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "XMLSocket", Nothing, socketProto);
  vm.NewFunction("connect", False, socketProto);
  vm.NewFunction("send", Nothing, socketProto);
  vm.NewFunction("close", Nothing, socketProto);
}

// ---- LocalConnection between the movies of this player (nothing outside
// it listens). A message goes at the next frame, to whoever holds the
// channel then, and only if someone held it when it was sent; the sender
// hears onStatus (level "status" or "error") before the call is made.

struct LcMessage {
  AsValue sender;
  std::string channel, method;
  std::vector<AsValue> args;
  bool heldWhenSent = false;
};

struct LcChannels : AsNativeData {
  std::map<std::string, AsObject*> channels;  // by name in lower case
  std::vector<LcMessage> queue;
  AsObject* deliver = nullptr;
  void Mark(std::vector<AsObject*>& reachable) const override {
    for (const auto& [name, o] : channels) reachable.push_back(o);
    for (const LcMessage& m : queue) {
      if (m.sender.obj) reachable.push_back(m.sender.obj);
      for (const AsValue& v : m.args) {
        if (v.obj) reachable.push_back(v.obj);
      }
    }
    if (deliver) reachable.push_back(deliver);
  }
};

struct LcName : AsNativeData {
  std::string channel;  // connected to; empty: none
};

// A channel's full name, in lower case: names beginning with "_" are
// global, others belong to the movie's domain ("localhost:name"), which a
// sender may spell out.
std::string FullChannel(const std::string& name) {
  std::string n = avm1_detail::Lower(name);
  if (n.empty() || n[0] == '_' || n.find(':') != std::string::npos) return n;
  return "localhost:" + n;
}

LcChannels* Channels(Avm1& vm) {
  const AsValue c = vm.Get(AsValue::Object(vm.Global()), "LocalConnection");
  return c.type == AsValue::Type::kObject ? c.obj->Native<LcChannels>() : nullptr;
}

AsValue LcCtor(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self); o && !o->native) o->native = std::make_unique<LcName>();
  // A built-in constructor: super() from a subclass gives the object back.
  return vm.Constructing(self) ? self : AsValue{};
}

AsValue LcConnect(Avm1& vm, const AsValue& self, AsArgs a) {
  LcName* n = SelfData<LcName>(self);
  LcChannels* c = Channels(vm);
  if (!n || !c || a.empty() || a[0].type != AsValue::Type::kString || !n->channel.empty()) return AsValue::Bool(false);
  const std::string& text = a[0].Text();
  if (text.empty() || text.find(':') != std::string::npos) return AsValue::Bool(false);
  const std::string name = FullChannel(text);
  if (c->channels.count(name)) return AsValue::Bool(false);
  c->channels[name] = Self(self);
  n->channel = name;
  return AsValue::Bool(true);
}

AsValue LcClose(Avm1& vm, const AsValue& self, AsArgs) {
  LcName* n = SelfData<LcName>(self);
  LcChannels* c = Channels(vm);
  if (!n || !c || n->channel.empty()) return {};
  if (auto it = c->channels.find(n->channel); it != c->channels.end() && it->second == Self(self)) c->channels.erase(it);
  n->channel.clear();
  return {};
}

AsValue LcDeliver(Avm1& vm, const AsValue&, AsArgs) {
  LcChannels* c = Channels(vm);
  if (!c) return {};
  std::vector<LcMessage> queue = std::move(c->queue);
  c->queue.clear();
  for (LcMessage& m : queue) {
    const auto it = c->channels.find(m.channel);
    AsObject* receiver = m.heldWhenSent && it != c->channels.end() ? it->second : nullptr;
    AsObject* info = vm.NewObject(vm.ObjectProto());
    vm.SetProp(info, "level", AsValue::String(receiver ? "status" : "error"));
    std::vector<AsValue> status{AsValue::Object(info)};
    const AsValue onStatus = vm.Get(m.sender, "onStatus");
    if (onStatus.type == AsValue::Type::kObject && onStatus.obj->fn) vm.Call(onStatus, m.sender, status);
    if (!receiver) continue;
    const AsValue target = AsValue::Object(receiver);
    const AsValue fn = vm.Get(target, m.method);
    if (fn.type == AsValue::Type::kObject && fn.obj->fn) vm.Call(fn, target, m.args);
  }
  return {};
}

// send(channel, method, args...): false without a channel and a method
// name, or for a method the connection itself answers.
AsValue LcSend(Avm1& vm, const AsValue& self, AsArgs a) {
  LcChannels* c = Channels(vm);
  if (!c || !Self(self) || a.size() < 2 || a[0].type != AsValue::Type::kString || a[1].type != AsValue::Type::kString) {
    return AsValue::Bool(false);
  }
  const std::string method = a[1].Text();
  if (a[0].Text().empty()) return AsValue::Bool(false);
  static const char* const kReserved[] = {"send", "connect", "close", "allowDomain", "allowInsecureDomain", "domain"};
  if (method.empty() || std::any_of(std::begin(kReserved), std::end(kReserved),
                                    [&](const char* r) { return avm1_detail::EqualsNoCase(method, r); })) {
    return AsValue::Bool(false);
  }
  if (c->queue.size() >= 1000) return AsValue::Bool(false);
  LcMessage m;
  m.sender = self;
  m.channel = FullChannel(a[0].Text());
  m.method = method;
  m.args.assign(a.begin() + 2, a.end());
  m.heldWhenSent = c->channels.count(m.channel) > 0;
  if (c->queue.empty() && c->deliver) {
    vm.AddInterval(AsValue::Object(c->deliver), {}, "", 1, {}, vm.NextIntervalId(), true);
  }
  c->queue.push_back(std::move(m));
  return AsValue::Bool(true);
}

AsValue LcDomain(Avm1&, const AsValue&, AsArgs) { return AsValue::String("localhost"); }

void InstallLocalConnection(Avm1& vm) {
  AsObject* proto = vm.NewRootObject(vm.ObjectProto());
  AsObject* cls = vm.NewClass(vm.Global(), "LocalConnection", LcCtor, proto);
  auto channels = std::make_unique<LcChannels>();
  channels->deliver = vm.NewFunction("", LcDeliver);
  cls->native = std::move(channels);
  const std::pair<const char*, AsNative> methods[] = {
      {"send", LcSend}, {"close", LcClose}, {"connect", LcConnect}, {"domain", LcDomain}};
  for (const auto& [n, fn] : methods) {
    vm.NewFunction(n, fn, proto);
    proto->props[vm.Key(n)].dontDelete = true;
  }
}

// ---- PrintJob: a converter has no printer, so the print dialog is
// always dismissed: start() is false, no page joins, the paper stays unknown (0).
AsValue Zero(Avm1&, const AsValue&, AsArgs) { return AsValue::Number(0); }
AsValue Ignored(Avm1&, const AsValue&, AsArgs) { return {}; }

void InstallPrintJob(Avm1& vm) {
  AsObject* proto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(vm.Global(), "PrintJob", Ignored, proto);
  for (const auto& [n, fn] : {std::pair<const char*, AsNative>{"start", False}, {"addPage", False}, {"send", Nothing}}) {
    vm.NewFunction(n, fn, proto);
    AsProperty& p = proto->props[vm.Key(n)];
    p.dontDelete = true;
    p.versions = kPropVersion7;  // from Flash 7
  }
  for (const char* n : {"paperHeight", "paperWidth", "pageHeight", "pageWidth", "orientation"}) {
    vm.AddAccessor(proto, n, Zero, Ignored);
    AsProperty& p = proto->props[vm.Key(n)];
    p.hidden = false;
    p.dontDelete = true;
  }
}

}  // namespace

void InstallSystem(Avm1& vm) {
  AsObject* global = vm.Global();
  InstallPrintJob(vm);
  InstallLocalConnection(vm);
  AsObject* system = vm.NewRootObject(vm.ObjectProto());
  InstallCapabilities(vm, system);
  AsObject* security = vm.NewRootObject(vm.ObjectProto());
  vm.NewFunction("allowDomain", True, security);
  vm.NewFunction("allowInsecureDomain", True, security);
  vm.NewFunction("loadPolicyFile", Nothing, security);
  vm.SetProp(security, "sandboxType", AsValue::String(vm.GetStage().Library().SandboxType()), true);
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
  // IME is a broadcaster like Key and Mouse (its listeners hear no composition here).
  const AsValue broadcaster = vm.Get(AsValue::Object(global), "AsBroadcaster");
  std::vector<AsValue> imeArg{AsValue::Object(ime)};
  vm.Call(vm.Get(broadcaster, "initialize"), broadcaster, imeArg);
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
  const std::pair<const char*, AsNative> encoders[] = {
      {"_toXML", ExternalToXml},           {"_arrayToXML", ExternalArrayToXml},
      {"_objectToXML", ExternalObjectToXml}, {"_argumentsToXML", ExternalArgumentsToXml},
      {"_toAS", ExternalToAs},             {"_arrayToAS", ExternalArrayToAs},
      {"_objectToAS", ExternalObjectToAs}, {"_argumentsToAS", ExternalArgumentsToAs}};
  for (const auto& [n, fn] : encoders) vm.NewFunction(n, fn, external);
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
