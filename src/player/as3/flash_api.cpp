// The smaller Flash classes that movies use around their real work: tables
// of constants (GradientType, Keyboard, StageAlign...), the context menu,
// local shared objects kept for the run, LoaderContext, LocalConnection,
// Vector3D, accessibility, the primordial Worker, and the events of features an offline player
// never raises. A movie that touches one of them and finds nothing throws,
// and the rest of its code does not run; each one here behaves as far as a
// movie can tell.
#include "player/as3/flash_api.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "player/avm2/builtins_util.h"
#include "player/rules/matrix3d.h"

namespace quarvel::player {

namespace {

using avm2::ArrayObject;
using avm2::Class;
using avm2::Machine;
using avm2::Object;
using avm2::Value;

// "NAME:value" pairs as static string constants of `c`, where it has none of that name.
void StringConsts(Machine& m, Class* c, std::initializer_list<const char*> pairs) {
  for (const char* p : pairs) {
    const std::string s = p;
    const std::string name = s.substr(0, s.find(':'));
    if (m.FindBinding(&c->statics, m.NameFromString(name))) continue;
    m.AddConst(c, name, m.Str(s.substr(s.find(':') + 1)));
  }
}
void IntConsts(Machine& m, Class* c, std::initializer_list<std::pair<const char*, int>> pairs) {
  for (const auto& [name, v] : pairs) {
    if (m.FindBinding(&c->statics, m.NameFromString(name))) continue;
    m.AddConst(c, name, Value::Int(v));
  }
}
// The class, made when the player has none yet.
Class* Existing(Machine& m, const char* package, const char* name, Class* super) {
  if (Class* c = m.FindClass(std::string(package) + "::" + name)) return c;
  return m.DefineNativeClass(package, name, super);
}

void Set(Machine& m, const Value& o, const char* name, const Value& v) { m.SetProperty(o, name, v); }
double Num(Machine& m, const Value& o, const char* name) { return m.ToNumber(m.GetProperty(o, name)); }
Value Arg(std::span<Value> a, std::size_t i, const Value& dflt) {
  return i < a.size() && !a[i].IsUndefined() ? a[i] : dflt;
}

// Runs Event's constructor on the first three arguments.
void EventInit(Machine& m, const Value& self, std::span<Value> a) {
  Class* ev = m.FindClass("flash.events::Event");
  if (ev && ev->iinit) m.Invoke(ev->iinit, self, a.first(std::min<std::size_t>(a.size(), 3)), nullptr);
}

NATIVE(Nothing) { return Value(); }
NATIVE(False) { return Value::Bool(false); }
NATIVE(Null) { return Value::Null(); }
NATIVE(EmptyArray) { return Value::Obj(m.NewArray()); }

// ---- flash.ui: the context menu

constexpr const char* kBuiltInItems[] = {"forwardAndBack", "loop", "play", "print", "quality", "rewind", "save", "zoom"};

NATIVE(BuiltInItemsCtor) {
  for (const char* n : kBuiltInItems) Set(m, self, n, Value::Bool(true));
  return self;
}
// The clipboard items a text menu offers: only "select all" until a selection exists.
NATIVE(ClipboardItemsCtor) {
  for (const char* n : {"copy", "cut", "paste", "clear"}) Set(m, self, n, Value::Bool(false));
  Set(m, self, "selectAll", Value::Bool(true));
  return self;
}
NATIVE(ContextMenuCtor) {
  Set(m, self, "customItems", Value::Obj(m.NewArray()));
  Set(m, self, "clipboardItems", Value::Obj(m.Construct(m.FindClass("flash.ui::ContextMenuClipboardItems"), {})));
  Set(m, self, "link", Value::Null());
  Set(m, self, "builtInItems", Value::Obj(m.Construct(m.FindClass("flash.ui::ContextMenuBuiltInItems"), {})));
  Set(m, self, "clipboardMenu", Value::Bool(false));
  return self;
}
NATIVE(ContextMenuHide) {
  const Value items = m.GetProperty(self, "builtInItems");
  if (items.IsObject())
    for (const char* n : kBuiltInItems) Set(m, items, n, Value::Bool(false));
  return Value();
}
NATIVE(ContextMenuClone) {
  Value copy = Value::Obj(m.Construct(m.FindClass("flash.ui::ContextMenu"), {}));
  const Value items = m.GetProperty(self, "builtInItems"), to = m.GetProperty(copy, "builtInItems");
  if (items.IsObject() && to.IsObject())
    for (const char* n : kBuiltInItems) Set(m, to, n, m.GetProperty(items, n));
  if (auto* list = avm2::AsArray(m.GetProperty(self, "customItems"))) Set(m, copy, "customItems", Value::Obj(m.NewArray(list->elems)));
  return copy;
}
NATIVE(ContextMenuItemCtor) {
  Set(m, self, "caption", m.Str(avm2::ArgStr(m, a, 0, "")));
  Set(m, self, "separatorBefore", Value::Bool(m.ToBoolean(Arg(a, 1, Value::Bool(false)))));
  Set(m, self, "enabled", Value::Bool(m.ToBoolean(Arg(a, 2, Value::Bool(true)))));
  Set(m, self, "visible", Value::Bool(m.ToBoolean(Arg(a, 3, Value::Bool(true)))));
  return self;
}

// ---- flash.net: local shared objects, kept in memory for the run

constexpr const char* kSharedObjects = " sharedObjects";  // a global no script can name

NATIVE(SoGetLocal) {
  Object* holder = m.FindGlobal(m.NameFromString(kSharedObjects), false);
  if (!holder) return Value::Null();
  const Value cache = m.GetProperty(Value::Obj(holder), kSharedObjects);
  const std::string name = avm2::ArgStr(m, a, 0, "");
  if (name.empty() || name.find_first_of("~%&\\;:\"',<>?# ") != std::string::npos)
    m.ThrowError("Error", "Cannot create SharedObject.", 2134);
  const std::string key = avm2::ArgStr(m, a, 1, "") + "/" + name;
  Value so = m.GetProperty(cache, key);
  if (so.IsObject()) return so;
  so = Value::Obj(m.Construct(m.FindClass("flash.net::SharedObject"), {}));
  Set(m, cache, key.c_str(), so);
  return so;
}
NATIVE(SoCtor) {
  Set(m, self, "data", Value::Obj(m.NewObject()));
  Set(m, self, "client", self);
  Set(m, self, "objectEncoding", Value::Int(3));
  return self;
}
NATIVE(SoFlush) { return m.Str("flushed"); }
NATIVE(SoClear) {
  Set(m, self, "data", Value::Obj(m.NewObject()));
  return Value();
}
NATIVE(SoSetProperty) {
  const Value data = m.GetProperty(self, "data");
  if (data.IsObject()) m.SetProperty(data, avm2::ArgStr(m, a, 0, ""), m.ArgOr(a, 1));
  return Value();
}
NATIVE(SoSize) {
  // What the data would take stored: its JSON text is near enough.
  const Value data = m.GetProperty(self, "data");
  Class* json = m.FindClass("JSON");
  if (!json || !json->object || !data.IsObject()) return Value::Int(0);
  Value args[] = {data};
  Value text;
  if (!m.SafeCall([&] { text = m.CallProperty(Value::Obj(json->object), "stringify", args); }, "SharedObject.size"))
    return Value::Int(0);
  return Value::Int(text.IsString() ? static_cast<int>(text.s->text.size()) : 0);
}

// ---- flash.net: the rest

NATIVE(UrlRequestHeaderCtor) {
  Set(m, self, "name", m.Str(avm2::ArgStr(m, a, 0, "")));
  Set(m, self, "value", m.Str(avm2::ArgStr(m, a, 1, "")));
  return self;
}
// new NetStreamPlayOptions(): a stream switch that names nothing yet.
NATIVE(NetStreamPlayOptionsCtor) {
  Set(m, self, "len", Value::Int(-1));
  Set(m, self, "offset", Value::Int(-1));
  Set(m, self, "start", Value::Int(-2));
  for (const char* n : {"oldStreamName", "streamName", "transition"}) Set(m, self, n, Value::Null());
  return self;
}

// ---- flash.printing: no printer, so every print dialog is cancelled.

NATIVE(PrintJobOptionsCtor) {
  Set(m, self, "printAsBitmap", Value::Bool(m.ToBoolean(m.ArgOr(a, 0))));
  Set(m, self, "printMethod", m.Str("auto"));
  return self;
}
NATIVE(PrintJobCtor) {
  for (const char* n : {"paperWidth", "paperHeight", "pageWidth", "pageHeight", "maxPixelsPerInch"}) Set(m, self, n, Value::Int(0));
  Set(m, self, "orientation", m.Str("portrait"));
  Set(m, self, "copies", Value::Int(1));
  Set(m, self, "firstPage", Value::Int(0));
  Set(m, self, "lastPage", Value::Int(0));
  Set(m, self, "jobName", m.Str(""));
  return self;
}

// ---- flash.globalization

// The parts of a parsed amount, read-only; kept out of for..in's sight.
constexpr const char* kParsedValue = " value";
constexpr const char* kParsedSymbol = " currencyString";
NATIVE(CurrencyParseResultCtor) {
  Object* o = m.ToObject(self);
  o->SetDyn(m.Intern(kParsedValue), Value::Number(avm2::ArgNum(m, a, 0, std::numeric_limits<double>::quiet_NaN())));
  o->SetDyn(m.Intern(kParsedSymbol), m.Str(avm2::ArgStr(m, a, 1, "")));
  o->dyn->hidden.insert(kParsedValue);
  o->dyn->hidden.insert(kParsedSymbol);
  return self;
}
Value ParsedPart(const Value& self, const char* name) {
  Object* o = self.AsObject();
  const Value* v = o ? o->FindDyn(name) : nullptr;
  return v ? *v : Value();
}
NATIVE(CurrencyParseValue) { return ParsedPart(self, kParsedValue); }
NATIVE(CurrencyParseSymbol) { return ParsedPart(self, kParsedSymbol); }

// ---- flash.system

NATIVE(LoaderContextCtor) {
  Set(m, self, "checkPolicyFile", Value::Bool(m.ToBoolean(m.ArgOr(a, 0))));
  Set(m, self, "applicationDomain", Arg(a, 1, Value::Null()));
  Set(m, self, "securityDomain", Arg(a, 2, Value::Null()));
  Set(m, self, "allowCodeImport", Value::Bool(true));
  Set(m, self, "allowLoadBytesCodeExecution", Value::Bool(true));
  Set(m, self, "parameters", Value::Null());
  Set(m, self, "requestedContentParent", Value::Null());
  Set(m, self, "imageDecodingPolicy", m.Str("onDemand"));
  return self;
}
// JPEGLoaderContext(deblockingFilter, checkPolicyFile, applicationDomain, securityDomain).
NATIVE(JpegLoaderContextCtor) {
  std::vector<Value> rest(a.size() > 1 ? a.begin() + 1 : a.end(), a.end());
  LoaderContextCtor(m, self, rest);
  Set(m, self, "deblockingFilter", Value::Number(a.empty() ? 0 : m.ToNumber(a[0])));
  return self;
}
// The movie's one security domain: the same object each time.
constexpr const char* kSecurityDomain = " securityDomain";  // a global no script can name
NATIVE(CurrentSecurityDomain) {
  Object* holder = m.FindGlobal(m.NameFromString(kSecurityDomain), false);
  if (!holder) return Value::Obj(m.Construct(m.FindClass("flash.system::SecurityDomain"), {}));
  const Value cache = m.GetProperty(Value::Obj(holder), kSecurityDomain);
  Value d = m.GetProperty(cache, "domain");
  if (!d.IsObject()) {
    d = Value::Obj(m.Construct(m.FindClass("flash.system::SecurityDomain"), {}));
    m.SetProperty(cache, "domain", d);
  }
  return d;
}
NATIVE(English) { return m.Str("en"); }
NATIVE(True) { return Value::Bool(true); }
NATIVE(ScreenDpi) { return Value::Int(72); }
NATIVE(One) { return Value::Int(1); }
NATIVE(Manufacturer) { return m.Str("Adobe Windows"); }
NATIVE(Cpu) { return m.Str("x86"); }
NATIVE(EmptyString) { return m.Str(""); }

// ---- flash.external: no page holds the player.
NATIVE(NoContainer) {
  m.ThrowError("Error", "The ExternalInterface is not available in this container. ExternalInterface "
                        "requires Internet Explorer ActiveX, Firefox, Mozilla 1.7.5 and greater, or other browsers that "
                        "support NPRuntime.",
               2067);
}

// ---- flash.events

NATIVE(StatusEventCtor) {
  EventInit(m, self, a);
  // String arguments: null stays null.
  Set(m, self, "code", a.size() > 3 && a[3].IsNullish() ? Value::Null() : m.Str(avm2::ArgStr(m, a, 3, "")));
  Set(m, self, "level", m.Str(avm2::ArgStr(m, a, 4, "")));
  return self;
}
NATIVE(StatusEventToString) {
  Value args[] = {m.Str("StatusEvent"), m.Str("type"), m.Str("bubbles"), m.Str("cancelable"), m.Str("eventPhase"),
                  m.Str("code"), m.Str("level")};
  return m.CallProperty(self, "formatToString", args);
}
NATIVE(DataEventCtor) {
  EventInit(m, self, a);
  Set(m, self, "data", m.Str(avm2::ArgStr(m, a, 3, "")));
  return self;
}
NATIVE(ActivityEventCtor) {
  EventInit(m, self, a);
  Set(m, self, "activating", Value::Bool(m.ToBoolean(m.ArgOr(a, 3))));
  return self;
}
NATIVE(FullScreenEventCtor) {
  EventInit(m, self, a);
  Set(m, self, "fullScreen", Value::Bool(m.ToBoolean(m.ArgOr(a, 3))));
  Set(m, self, "interactive", Value::Bool(m.ToBoolean(m.ArgOr(a, 4))));
  return self;
}
NATIVE(ContextMenuEventCtor) {
  EventInit(m, self, a);
  Set(m, self, "mouseTarget", Arg(a, 3, Value::Null()));
  Set(m, self, "contextMenuOwner", Arg(a, 4, Value::Null()));
  return self;
}
NATIVE(UncaughtErrorEventCtor) {
  EventInit(m, self, a);
  Set(m, self, "error", m.ArgOr(a, 3));
  return self;
}
NATIVE(ThrottleEventCtor) {
  EventInit(m, self, a);
  Set(m, self, "state", Arg(a, 3, Value::Null()));
  Set(m, self, "targetFrameRate", Value::Number(avm2::ArgNum(m, a, 4, 0)));
  return self;
}
NATIVE(SoftKeyboardEventCtor) {
  EventInit(m, self, a);
  Set(m, self, "relatedObject", Arg(a, 3, Value::Null()));
  Set(m, self, "triggerType", Arg(a, 4, Value::Null()));
  return self;
}
NATIVE(StageVideoAvailabilityEventCtor) {
  EventInit(m, self, a);
  Set(m, self, "availability", Arg(a, 3, Value::Null()));
  return self;
}
NATIVE(NoStageVideos) {
  return Value::Obj(m.Construct(m.VectorOf(m.FindClass("flash.media::StageVideo")), {}));
}
NATIVE(NewUncaughtErrorEvents) {
  return Value::Obj(m.Construct(m.FindClass("flash.events::UncaughtErrorEvents"), {}));
}
NATIVE(NewDispatcher) { return Value::Obj(m.Construct(m.FindClass("flash.events::EventDispatcher"), {})); }

// ---- flash.geom.Vector3D

Class* Vector3DClass(Machine& m) { return m.FindClass("flash.geom::Vector3D"); }
constexpr char kV3X[] = "x", kV3Y[] = "y", kV3Z[] = "z", kV3W[] = "w";
Value NewVector3D(Machine& m, double x, double y, double z, double w = 0) {
  Value args[] = {Value::Number(x), Value::Number(y), Value::Number(z), Value::Number(w)};
  return Value::Obj(m.Construct(Vector3DClass(m), args));
}
struct V3 {
  double x, y, z, w;
};
V3 Read(Machine& m, const Value& v) {
  if (!v.IsObject()) m.ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
  return {Num(m, v, "x"), Num(m, v, "y"), Num(m, v, "z"), Num(m, v, "w")};
}
void Write(Machine& m, const Value& self, const V3& v) {
  Set(m, self, "x", Value::Number(v.x));
  Set(m, self, "y", Value::Number(v.y));
  Set(m, self, "z", Value::Number(v.z));
  Set(m, self, "w", Value::Number(v.w));
}
// A passed undefined is NaN; only a missing argument takes the default.
double NumArg(Machine& m, std::span<Value> a, std::size_t i) { return i < a.size() ? m.ToNumber(a[i]) : 0.0; }
NATIVE(V3Ctor) {
  Write(m, self, {NumArg(m, a, 0), NumArg(m, a, 1), NumArg(m, a, 2), NumArg(m, a, 3)});
  return self;
}
NATIVE(V3Length) {
  const V3 v = Read(m, self);
  return Value::Number(std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z));
}
NATIVE(V3LengthSquared) {
  const V3 v = Read(m, self);
  return Value::Number(v.x * v.x + v.y * v.y + v.z * v.z);
}
NATIVE(V3Add) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  return NewVector3D(m, p.x + q.x, p.y + q.y, p.z + q.z);
}
NATIVE(V3Subtract) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  return NewVector3D(m, p.x - q.x, p.y - q.y, p.z - q.z);
}
NATIVE(V3Cross) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  return NewVector3D(m, p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x, 1);
}
NATIVE(V3Dot) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  return Value::Number(p.x * q.x + p.y * q.y + p.z * q.z);
}
NATIVE(V3Normalize) {
  V3 v = Read(m, self);
  const double len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (len != 0) v = {v.x / len, v.y / len, v.z / len, v.w};
  Write(m, self, v);
  return Value::Number(len);
}
NATIVE(V3ScaleBy) {
  V3 v = Read(m, self);
  const double s = avm2::ArgNum(m, a, 0, 1);
  Write(m, self, {v.x * s, v.y * s, v.z * s, v.w});
  return Value();
}
NATIVE(V3IncrementBy) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  Write(m, self, {p.x + q.x, p.y + q.y, p.z + q.z, p.w});
  return Value();
}
NATIVE(V3DecrementBy) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  Write(m, self, {p.x - q.x, p.y - q.y, p.z - q.z, p.w});
  return Value();
}
NATIVE(V3Negate) {
  const V3 v = Read(m, self);
  Write(m, self, {-v.x, -v.y, -v.z, v.w});
  return Value();
}
NATIVE(V3Project) {
  const V3 v = Read(m, self);
  Write(m, self, {v.x / v.w, v.y / v.w, v.z / v.w, v.w});
  return Value();
}
NATIVE(V3Equals) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  const bool all = m.ToBoolean(m.ArgOr(a, 1));
  return Value::Bool(p.x == q.x && p.y == q.y && p.z == q.z && (!all || p.w == q.w));
}
NATIVE(V3NearEquals) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  const double t = avm2::ArgNum(m, a, 1, 0);
  const bool all = m.ToBoolean(m.ArgOr(a, 2));
  // Flash measures the other's w alone against the tolerance, not the difference.
  return Value::Bool(std::abs(p.x - q.x) < t && std::abs(p.y - q.y) < t && std::abs(p.z - q.z) < t &&
                     (!all || std::abs(q.w) < t));
}
NATIVE(V3CopyFrom) {
  const V3 p = Read(m, self), q = Read(m, m.ArgOr(a, 0));
  Write(m, self, {q.x, q.y, q.z, p.w});
  return Value();
}
NATIVE(V3SetTo) {
  const V3 p = Read(m, self);
  Write(m, self, {avm2::ArgNum(m, a, 0, 0), avm2::ArgNum(m, a, 1, 0), avm2::ArgNum(m, a, 2, 0), p.w});
  return Value();
}
NATIVE(V3Clone) {
  const V3 v = Read(m, self);
  return NewVector3D(m, v.x, v.y, v.z, v.w);
}
NATIVE(V3ToString) {
  const V3 v = Read(m, self);
  return m.Str("Vector3D(" + m.ToString(Value::Number(v.x)) + ", " + m.ToString(Value::Number(v.y)) + ", " +
               m.ToString(Value::Number(v.z)) + ")");
}
NATIVE(V3Distance) {
  const V3 p = Read(m, m.ArgOr(a, 0)), q = Read(m, m.ArgOr(a, 1));
  return Value::Number(std::sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) + (p.z - q.z) * (p.z - q.z)));
}
NATIVE(V3AngleBetween) {
  const V3 p = Read(m, m.ArgOr(a, 0)), q = Read(m, m.ArgOr(a, 1));
  const double lp = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z), lq = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
  if (lp == 0 || lq == 0) return Value::Number(std::nan(""));
  return Value::Number(std::acos(std::clamp((p.x * q.x + p.y * q.y + p.z * q.z) / (lp * lq), -1.0, 1.0)));
}

// ---- flash.display: asking for what lies under a point, and drawing from data

// Every descendant the stage point hits, each before its children, bottom
// first, as the pointer would meet them from below.
void ObjectsUnder(Machine& m, const Value& container, std::span<Value> point, std::vector<Value>& out, int nesting) {
  if (nesting > 64) return;
  Class* doc = m.FindClass("flash.display::DisplayObjectContainer");
  const int n = m.ToInt(m.GetProperty(container, "numChildren"));
  for (int i = 0; i < n && out.size() < 100000; ++i) {
    Value index[] = {Value::Int(i)};
    const Value child = m.CallProperty(container, "getChildAt", index);
    if (!child.IsObject()) continue;
    if (m.ToBoolean(m.CallProperty(child, "hitTestPoint", point))) out.push_back(child);
    if (doc && m.IsType(child, doc)) ObjectsUnder(m, child, point, out, nesting + 1);
  }
}
NATIVE(DocObjectsUnderPoint) {
  const Value p = m.ArgOr(a, 0);
  if (!p.IsObject()) return Value::Obj(m.NewArray());
  Value point[] = {m.GetProperty(p, "x"), m.GetProperty(p, "y"), Value::Bool(true)};
  std::vector<Value> out;
  ObjectsUnder(m, self, point, out, 0);
  return Value::Obj(m.NewArray(std::move(out)));
}

// The IGraphicsData classes keep their constructor's arguments under their
// property names; drawGraphicsData replays them as Graphics calls.
struct DataField {
  const char* name;
  Value (*dflt)(Machine&);
};
Value DNull(Machine&) { return Value::Null(); }
Value DUndefined(Machine&) { return Value(); }
Value DZero(Machine&) { return Value::Int(0); }
Value DOne(Machine&) { return Value::Int(1); }
Value DNaN(Machine&) { return Value::Number(std::nan("")); }
Value DFalse(Machine&) { return Value::Bool(false); }
Value DTrue(Machine&) { return Value::Bool(true); }
Value DNormal(Machine& m) { return m.Str("normal"); }
Value DPad(Machine& m) { return m.Str("pad"); }
Value DRgb(Machine& m) { return m.Str("rgb"); }
Value DThree(Machine&) { return Value::Int(3); }

template <const DataField* kFields, std::size_t kCount>
NATIVE(DataCtor) {
  for (std::size_t i = 0; i < kCount; ++i) Set(m, self, kFields[i].name, Arg(a, i, kFields[i].dflt(m)));
  return self;
}
constexpr DataField kSolidFill[] = {{"color", DZero}, {"alpha", DOne}};
constexpr DataField kStroke[] = {{"thickness", DNaN},       {"pixelHinting", DFalse}, {"scaleMode", DNormal},
                                 {"caps", DNull},           {"joints", DNull},        {"miterLimit", DThree},
                                 {"fill", DNull}};
constexpr DataField kGradientFill[] = {{"type", DUndefined},  {"colors", DNull},     {"alphas", DNull},
                                       {"ratios", DNull},     {"matrix", DNull},     {"spreadMethod", DPad},
                                       {"interpolationMethod", DRgb}, {"focalPointRatio", DZero}};
constexpr DataField kBitmapFill[] = {{"bitmapData", DNull}, {"matrix", DNull}, {"repeat", DTrue}, {"smooth", DFalse}};
Value DNone(Machine& m) { return m.Str("none"); }
constexpr DataField kTrianglePath[] = {{"vertices", DNull}, {"indices", DNull}, {"uvtData", DNull}, {"culling", DNone}};

Value Field(Machine& m, const Value& o, const char* name) { return m.GetProperty(o, name); }

// GraphicsPath.winding takes Flash's two names only; Flash's own ActionScript
// for the class throws through Error.throwError, a frame of the stack trace.
constexpr const char* kWindingSlot = " winding";  // no script can name it
void SetWinding(Machine& m, const Value& self, const Value& v) {
  const std::string w = v.IsNullish() ? "" : m.ToString(v);
  if (w != "evenOdd" && w != "nonZero") {
    Machine::NativeFrame frame(m, "Error$/throwError");
    m.ThrowError("ArgumentError", "Parameter winding must be one of the accepted values.", 2008);
  }
  Object* o = self.AsObject();
  if (!o) return;
  o->SetDyn(m.Intern(kWindingSlot), m.Str(w));
  o->dyn->hidden.insert(kWindingSlot);
}
NATIVE(PathGetWinding) {
  const Object* o = self.AsObject();
  const Value* v = o ? o->FindDyn(kWindingSlot) : nullptr;
  return v ? *v : m.Str("evenOdd");
}
NATIVE(PathSetWinding) {
  SetWinding(m, self, m.ArgOr(a, 0));
  return Value();
}
NATIVE(TrianglePathCtor) {
  const Value culling = Arg(a, 3, m.Str("none"));
  const std::string c = culling.IsNullish() ? "" : m.ToString(culling);
  if (c != "none" && c != "positive" && c != "negative") {
    Machine::NativeFrame frame(m, "Error$/throwError");
    m.ThrowError("ArgumentError", "Parameter culling must be one of the accepted values.", 2008);
  }
  return DataCtor<kTrianglePath, std::size(kTrianglePath)>(m, self, a);
}
NATIVE(PathCtor) {
  SetWinding(m, self, Arg(a, 2, m.Str("evenOdd")));
  Set(m, self, "commands", Arg(a, 0, Value::Null()));
  Set(m, self, "data", Arg(a, 1, Value::Null()));
  return self;
}

// GraphicsPath's drawing methods append a command and its numbers, making
// the vectors on first use.
Value PathVector(Machine& m, const Value& self, const char* name, Class* elem) {
  Value v = m.GetProperty(self, name);
  if (!v.IsObject()) {
    v = Value::Obj(m.Construct(m.VectorOf(elem), {}));
    Set(m, self, name, v);
  }
  return v;
}
template <int kCommand, int kNumbers>
Value PathAppend(Machine& m, Value self, std::span<Value> a) {
  Value command[] = {Value::Int(kCommand)};
  m.CallProperty(PathVector(m, self, "commands", m.intClass), "push", command);
  const Value data = PathVector(m, self, "data", m.numberClass);
  // The wide commands keep two unused numbers first.
  const int skip = kCommand == 4 || kCommand == 5 ? 2 : 0;
  for (int i = 0; i < skip + kNumbers; ++i) {
    Value n[] = {Value::Number(i < skip ? 0.0 : avm2::ArgNum(m, a, static_cast<std::size_t>(i - skip), 0))};
    m.CallProperty(data, "push", n);
  }
  return Value();
}
bool Is(Machine& m, const Value& v, const char* cls) {
  Class* c = m.FindClass(std::string("flash.display::") + cls);
  return c && m.IsType(v, c);
}
// One fill: beginFill, beginGradientFill or beginBitmapFill (or the stroke's lineStyle kin).
void ApplyFill(Machine& m, const Value& g, const Value& fill, bool stroke) {
  if (Is(m, fill, "GraphicsSolidFill")) {
    if (stroke) return;  // the colour is lineStyle's, set with the stroke
    Value args[] = {Field(m, fill, "color"), Field(m, fill, "alpha")};
    m.CallProperty(g, "beginFill", args);
  } else if (Is(m, fill, "GraphicsGradientFill")) {
    Value args[] = {Field(m, fill, "type"),         Field(m, fill, "colors"),       Field(m, fill, "alphas"),
                    Field(m, fill, "ratios"),       Field(m, fill, "matrix"),       Field(m, fill, "spreadMethod"),
                    Field(m, fill, "interpolationMethod"), Field(m, fill, "focalPointRatio")};
    m.CallProperty(g, stroke ? "lineGradientStyle" : "beginGradientFill", args);
  } else if (Is(m, fill, "GraphicsBitmapFill")) {
    Value args[] = {Field(m, fill, "bitmapData"), Field(m, fill, "matrix"), Field(m, fill, "repeat"),
                    Field(m, fill, "smooth")};
    m.CallProperty(g, stroke ? "lineBitmapStyle" : "beginBitmapFill", args);
  }
}
NATIVE(GraphicsDrawData) {
  const Value list = m.ArgOr(a, 0);
  if (!list.IsObject()) return Value();
  const int n = m.ToInt(m.GetProperty(list, "length"));
  for (int i = 0; i < n; ++i) {
    const Value item = m.GetProperty(list, std::to_string(i));
    if (!item.IsObject()) continue;
    if (Is(m, item, "GraphicsEndFill")) {
      m.CallProperty(self, "endFill", {});
    } else if (Is(m, item, "GraphicsStroke")) {
      const Value fill = Field(m, item, "fill");
      const bool solid = Is(m, fill, "GraphicsSolidFill");
      Value args[] = {Field(m, item, "thickness"), solid ? Field(m, fill, "color") : Value::Int(0),
                      solid ? Field(m, fill, "alpha") : Value::Int(1), Field(m, item, "pixelHinting"),
                      Field(m, item, "scaleMode"), Field(m, item, "caps"), Field(m, item, "joints"),
                      Field(m, item, "miterLimit")};
      m.CallProperty(self, "lineStyle", args);
      if (fill.IsObject()) ApplyFill(m, self, fill, true);
    } else if (Is(m, item, "GraphicsPath")) {
      Value args[] = {Field(m, item, "commands"), Field(m, item, "data"), Field(m, item, "winding")};
      m.CallProperty(self, "drawPath", args);
    } else if (Is(m, item, "GraphicsTrianglePath")) {
      Value args[] = {Field(m, item, "vertices"), Field(m, item, "indices"), Field(m, item, "uvtData"),
                      Field(m, item, "culling")};
      if (args[3].IsUndefined()) args[3] = m.Str("none");
      m.CallProperty(self, "drawTriangles", args);
    } else {
      ApplyFill(m, self, item, false);
    }
  }
  return Value();
}

// ---- flash.geom.Matrix3D: 16 numbers, column by column (rawData[12..14]
// is the translation), transforming column vectors.

using rules::M4;
constexpr const char* kRaw = " raw";  // the numbers, where no script can name them
constexpr M4 kIdentity = rules::kIdentity4;

M4 Read4(Machine& m, const Value& self) {
  M4 out = kIdentity;
  if (!self.IsObject()) m.ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
  if (auto* raw = avm2::AsArray(m.GetProperty(self, kRaw)))
    for (std::size_t k = 0; k < 16 && k < raw->elems.size(); ++k) out[k] = m.ToNumber(raw->elems[k]);
  return out;
}
// Flash keeps a Matrix3D's numbers in single precision.
void Write4(Machine& m, const Value& self, const M4& v) {
  std::vector<Value> elems;
  for (double d : v) elems.push_back(Value::Number(static_cast<double>(static_cast<float>(d))));
  Set(m, self, kRaw, Value::Obj(m.NewArray(std::move(elems))));
}
constexpr auto Mul = rules::Mul4;
constexpr auto Translation = rules::Translation4;
constexpr auto Scaling = rules::Scaling4;
constexpr auto Rotation = rules::Rotation4;
// Scale, then turns about x, y and z, then the translation, computed as
// Flash computes it: in single precision, the sines' products shared.
M4 Compose(const std::array<double, 3>& t, const std::array<double, 3>& r, const std::array<double, 3>& s) {
  const auto f = [](double d) { return static_cast<float>(d); };
  const float cx = std::cos(f(r[0])), sx = std::sin(f(r[0])), cy = std::cos(f(r[1])), sy = std::sin(f(r[1]));
  const float cz = std::cos(f(r[2])), sz = std::sin(f(r[2]));
  const float scx = f(s[0]), scy = f(s[1]), scz = f(s[2]);
  const float sycz = sy * cz, sysz = sy * sz;
  return {(cy * cz) * scx,          (cy * sz) * scx,          -sy * scx,       0,
          (sx * sycz - cx * sz) * scy, (sx * sysz + cx * cz) * scy, (sx * cy) * scy, 0,
          (cx * sycz + sx * sz) * scz, (cx * sysz - sx * cz) * scz, (cx * cy) * scz, 0,
          t[0], t[1], t[2], 1};
}
// A matrix taken apart as Flash does, in single precision: the columns made
// orthonormal in order (so a skew goes into the later scales), then the
// turns read from the orthonormal columns `n`.
struct Parts {
  std::array<double, 3> t, r, s;
  std::array<std::array<float, 3>, 3> n;
};
Parts Decompose(const M4& v) {
  Parts p;
  p.t = {v[12], v[13], v[14]};
  std::array<std::array<float, 3>, 3> col;
  for (std::size_t c = 0; c < 3; ++c)
    for (std::size_t k = 0; k < 3; ++k) col[c][k] = static_cast<float>(v[c * 4 + k]);
  const auto dot = [](const std::array<float, 3>& a, const std::array<float, 3>& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  };
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t e = 0; e < c; ++e) {
      const float d = dot(p.n[e], col[c]);
      for (std::size_t k = 0; k < 3; ++k) col[c][k] = col[c][k] - d * p.n[e][k];
    }
    const float len = std::sqrt(dot(col[c], col[c]));
    const float inv = 1 / len;
    p.s[c] = len;
    for (std::size_t k = 0; k < 3; ++k) p.n[c][k] = col[c][k] * inv;
  }
  const double det = v[0] * (v[5] * v[10] - v[9] * v[6]) - v[4] * (v[1] * v[10] - v[9] * v[2]) +
                     v[8] * (v[1] * v[6] - v[5] * v[2]);
  if (det < 0) {
    p.s[2] = -p.s[2];
    for (float& e : p.n[2]) e = -e;
  }
  const auto& n = p.n;
  const auto f = [](double d) { return static_cast<double>(static_cast<float>(d)); };
  p.r[1] = f(std::asin(std::clamp(-static_cast<double>(n[0][2]), -1.0, 1.0)));
  if (std::abs(n[0][2]) < 0.999999f) {
    p.r[0] = f(std::atan2(static_cast<double>(n[1][2]), static_cast<double>(n[2][2])));
    p.r[2] = f(std::atan2(static_cast<double>(n[0][1]), static_cast<double>(n[0][0])));
  } else {
    p.r[0] = f(std::atan2(-static_cast<double>(n[2][1]), static_cast<double>(n[1][1])));
    p.r[2] = 0;
  }
  return p;
}
void Decompose(const M4& v, std::array<double, 3>& t, std::array<double, 3>& r, std::array<double, 3>& s) {
  const Parts p = Decompose(v);
  t = p.t, r = p.r, s = p.s;
}
bool Invert(const M4& a, M4& out) {
  // Cofactors of the 4 x 4 matrix.
  M4 inv{};
  inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] + a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
  inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] - a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
  inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] + a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
  inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] - a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
  inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] - a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
  inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] + a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
  inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] - a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
  inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] + a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
  inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] + a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
  inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] - a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
  inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] + a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
  inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] - a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
  inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] - a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
  inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] + a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
  inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] - a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
  inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] + a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
  const double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
  if (det == 0 || !std::isfinite(det)) return false;
  for (std::size_t k = 0; k < 16; ++k) out[k] = inv[k] / det;
  return true;
}
// Flash gives a Matrix3D's determinant in single precision.
float Determinant(const M4& a) {
  const double cof0 = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
                      a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
  const double cof4 = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
                      a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
  const double cof8 = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
                      a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
  const double cof12 = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
                       a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
  return static_cast<float>(a[0] * cof0 + a[1] * cof4 + a[2] * cof8 + a[3] * cof12);
}
Value NumberVector(Machine& m, const std::vector<double>& values) {
  Object* v = m.Construct(m.VectorOf(m.numberClass), {});
  if (auto* arr = avm2::AsArray(Value::Obj(v)))
    for (double d : values) arr->elems.push_back(Value::Number(d));
  return Value::Obj(v);
}
std::vector<double> Numbers(Machine& m, const Value& list) {
  std::vector<double> out;
  if (auto* arr = avm2::AsArray(list))
    for (const Value& e : arr->elems) out.push_back(m.ToNumber(e));
  return out;
}
[[noreturn]] void ThrowInvalid(Machine& m) {
  m.ThrowError("ArgumentError", "One of the parameters is invalid.", 2004);
}
ArrayObject* NonNullVector(Machine& m, const Value& v, const char* name) {
  if (v.IsNullish()) m.ThrowError("TypeError", std::string("Parameter ") + name + " must be non-null.", 2007);
  ArrayObject* arr = avm2::AsArray(v);
  if (!arr) ThrowInvalid(m);
  return arr;
}
// Grows `out` to hold `n` values (a fixed Vector may not grow).
void EnsureLength(Machine& m, ArrayObject* out, std::size_t n) {
  if (out->elems.size() >= n) return;
  if (out->fixed) m.ThrowError("RangeError", "Cannot change the length of a fixed Vector.", 1126);
  out->elems.resize(n, Value::Number(0));
}
// Column `i` (0..3) of the matrix, or ArgumentError past it.
std::size_t Column(Machine& m, std::span<Value> a) {
  const double i = avm2::ArgNum(m, a, 0, 0);
  if (!(i >= 0 && i <= 3)) ThrowInvalid(m);
  return static_cast<std::size_t>(i);
}
Value NewMatrix3D(Machine& m, const M4& v) {
  Value out = Value::Obj(m.Construct(m.FindClass("flash.geom::Matrix3D"), {}));
  Write4(m, out, v);
  return out;
}

NATIVE(M3Ctor) {
  M4 v = kIdentity;
  const std::vector<double> raw = Numbers(m, m.ArgOr(a, 0));
  if (raw.size() == 16) std::copy(raw.begin(), raw.end(), v.begin());
  Write4(m, self, v);
  return self;
}
NATIVE(M3GetRaw) {
  const M4 v = Read4(m, self);
  return NumberVector(m, std::vector<double>(v.begin(), v.end()));
}
NATIVE(M3SetRaw) {
  const std::vector<double> raw = Numbers(m, m.ArgOr(a, 0));
  if (raw.size() < 16) ThrowInvalid(m);
  M4 v;
  std::copy(raw.begin(), raw.begin() + 16, v.begin());
  Write4(m, self, v);
  return Value();
}
NATIVE(M3Identity) { Write4(m, self, kIdentity); return Value(); }
NATIVE(M3Clone) { return NewMatrix3D(m, Read4(m, self)); }
NATIVE(M3CopyFrom) { Write4(m, self, Read4(m, m.ArgOr(a, 0))); return Value(); }
NATIVE(M3Append) { Write4(m, self, Mul(Read4(m, m.ArgOr(a, 0)), Read4(m, self))); return Value(); }
NATIVE(M3Prepend) { Write4(m, self, Mul(Read4(m, self), Read4(m, m.ArgOr(a, 0)))); return Value(); }
template <bool kAppend>
NATIVE(M3Translate) {
  const M4 t = Translation(avm2::ArgNum(m, a, 0, 0), avm2::ArgNum(m, a, 1, 0), avm2::ArgNum(m, a, 2, 0));
  const M4 v = Read4(m, self);
  Write4(m, self, kAppend ? Mul(t, v) : Mul(v, t));
  return Value();
}
template <bool kAppend>
NATIVE(M3Scale) {
  const M4 s = Scaling(avm2::ArgNum(m, a, 0, 1), avm2::ArgNum(m, a, 1, 1), avm2::ArgNum(m, a, 2, 1));
  const M4 v = Read4(m, self);
  Write4(m, self, kAppend ? Mul(s, v) : Mul(v, s));
  return Value();
}
template <bool kAppend>
NATIVE(M3Rotate) {
  const double degrees = avm2::ArgNum(m, a, 0, 0);
  const V3 axis = Read(m, m.ArgOr(a, 1));
  M4 r = Rotation(degrees * M_PI / 180, axis.x, axis.y, axis.z);
  const Value pivot = m.ArgOr(a, 2);
  if (pivot.IsObject()) {
    const V3 p = Read(m, pivot);
    r = Mul(Translation(p.x, p.y, p.z), Mul(r, Translation(-p.x, -p.y, -p.z)));
  }
  const M4 v = Read4(m, self);
  Write4(m, self, kAppend ? Mul(r, v) : Mul(v, r));
  return Value();
}
NATIVE(M3Invert) {
  M4 out;
  if (!Invert(Read4(m, self), out)) return Value::Bool(false);
  Write4(m, self, out);
  return Value::Bool(true);
}
NATIVE(M3Transpose) {
  const M4 v = Read4(m, self);
  M4 t;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) t[std::size_t(c * 4 + r)] = v[std::size_t(r * 4 + c)];
  Write4(m, self, t);
  return Value();
}
NATIVE(M3Determinant) { return Value::Number(Determinant(Read4(m, self))); }
NATIVE(M3GetPosition) {
  const M4 v = Read4(m, self);
  return NewVector3D(m, v[12], v[13], v[14]);
}
NATIVE(M3SetPosition) {
  M4 v = Read4(m, self);
  const V3 p = Read(m, m.ArgOr(a, 0));
  v[12] = p.x, v[13] = p.y, v[14] = p.z;
  Write4(m, self, v);
  return Value();
}
// The point (x, y, z, w) times the matrix.
std::array<double, 4> Apply(const M4& v, double x, double y, double z, double w) {
  return {v[0] * x + v[4] * y + v[8] * z + v[12] * w, v[1] * x + v[5] * y + v[9] * z + v[13] * w,
          v[2] * x + v[6] * y + v[10] * z + v[14] * w, v[3] * x + v[7] * y + v[11] * z + v[15] * w};
}
// A point moves with the translation, a direction (delta) does not; both give w.
template <bool kDelta>
NATIVE(M3TransformVector) {
  const V3 p = Read(m, m.ArgOr(a, 0));
  const auto r = Apply(Read4(m, self), p.x, p.y, p.z, kDelta ? 0 : 1);
  return NewVector3D(m, r[0], r[1], r[2], r[3]);
}
// Points as x, y, z triples; a last incomplete triple is ignored.
NATIVE(M3TransformVectors) {
  ArrayObject* in = NonNullVector(m, m.ArgOr(a, 0), "vin");
  ArrayObject* out = NonNullVector(m, m.ArgOr(a, 1), "vout");
  const M4 v = Read4(m, self);
  const std::vector<double> src = Numbers(m, Value::Obj(in));
  const std::size_t n = src.size() / 3 * 3;
  EnsureLength(m, out, n);
  for (std::size_t i = 0; i < n; i += 3) {
    const auto r = Apply(v, src[i], src[i + 1], src[i + 2], 1);
    for (std::size_t k = 0; k < 3; ++k) out->elems[i + k] = Value::Number(r[k]);
  }
  return Value();
}
// The 16 numbers into (or from) a Vector at `index`, column by column, or
// row by row when transposed.
NATIVE(M3CopyRawDataTo) {
  ArrayObject* out = NonNullVector(m, m.ArgOr(a, 0), "vector");
  const double at = avm2::ArgNum(m, a, 1, 0);
  if (!(at >= 0 && at < 1e9)) ThrowInvalid(m);
  const std::size_t index = static_cast<std::size_t>(at);
  const bool transpose = m.ToBoolean(m.ArgOr(a, 2));
  const M4 v = Read4(m, self);
  EnsureLength(m, out, index + 16);
  for (std::size_t k = 0; k < 16; ++k)
    out->elems[index + k] = Value::Number(transpose ? v[(k % 4) * 4 + k / 4] : v[k]);
  return Value();
}
NATIVE(M3CopyRawDataFrom) {
  const std::vector<double> src = Numbers(m, Value::Obj(NonNullVector(m, m.ArgOr(a, 0), "vector")));
  const double at = avm2::ArgNum(m, a, 1, 0);
  if (!(at >= 0) || at + 16 > static_cast<double>(src.size())) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  const std::size_t index = static_cast<std::size_t>(at);
  const bool transpose = m.ToBoolean(m.ArgOr(a, 2));
  M4 v;
  for (std::size_t k = 0; k < 16; ++k) v[transpose ? (k % 4) * 4 + k / 4 : k] = src[index + k];
  Write4(m, self, v);
  return Value();
}
// A column is four consecutive numbers; a row takes one from each column.
template <bool kRow>
NATIVE(M3CopyLineTo) {
  const std::size_t i = Column(m, a);
  const Value target = m.ArgOr(a, 1);
  Read(m, target);
  const M4 v = Read4(m, self);
  auto at = [&](std::size_t k) { return kRow ? v[k * 4 + i] : v[i * 4 + k]; };
  Write(m, target, {at(0), at(1), at(2), at(3)});
  return Value();
}
template <bool kRow>
NATIVE(M3CopyLineFrom) {
  const std::size_t i = Column(m, a);
  const V3 p = Read(m, m.ArgOr(a, 1));
  M4 v = Read4(m, self);
  const double line[] = {p.x, p.y, p.z, p.w};
  for (std::size_t k = 0; k < 4; ++k) (kRow ? v[k * 4 + i] : v[i * 4 + k]) = line[k];
  Write4(m, self, v);
  return Value();
}
NATIVE(M3CopyToMatrix3D) {
  Write4(m, m.ArgOr(a, 0), Read4(m, self));
  return Value();
}
// Straight-line blend of the numbers, as Flash gives for small turns.
M4 Interpolate(const M4& from, const M4& to, double t) {
  M4 out;
  for (std::size_t k = 0; k < 16; ++k) out[k] = from[k] + (to[k] - from[k]) * t;
  return out;
}
NATIVE(M3InterpolateStatic) {
  return NewMatrix3D(m, Interpolate(Read4(m, m.ArgOr(a, 0)), Read4(m, m.ArgOr(a, 1)), avm2::ArgNum(m, a, 2, 0)));
}
NATIVE(M3InterpolateTo) {
  Write4(m, self, Interpolate(Read4(m, self), Read4(m, m.ArgOr(a, 0)), avm2::ArgNum(m, a, 1, 0)));
  return Value();
}
// The three ways of writing a turn: Euler angles (radians), an axis with
// its angle in w, or a unit quaternion.
enum class Orientation { kEuler, kAxisAngle, kQuaternion };
Orientation OrientationArg(Machine& m, std::span<Value> a, std::size_t i) {
  if (i >= a.size() || a[i].IsUndefined()) return Orientation::kEuler;
  const std::string style = m.ToString(a[i]);
  if (style == "eulerAngles") return Orientation::kEuler;
  if (style == "axisAngle") return Orientation::kAxisAngle;
  if (style == "quaternion") return Orientation::kQuaternion;
  m.ThrowError("Error",
               "Invalid orientation style " + style +
                   ".  Value must be one of 'Orientation3D.EULER_ANGLES', 'Orientation3D.AXIS_ANGLE', or "
                   "'Orientation3D.QUATERNION'.",
               2187);
}
// The unit quaternion (x, y, z, w) of the turn in orthonormal columns, in single precision.
std::array<double, 4> Quaternion(const std::array<std::array<float, 3>, 3>& n) {
  const auto r = [&](int row, int col) { return n[std::size_t(col)][std::size_t(row)]; };
  const float trace = r(0, 0) + r(1, 1) + r(2, 2);
  std::array<float, 4> q;
  if (trace > 0) {
    const float root = std::sqrt(trace + 1), k = 0.5f / root;
    q = {(r(2, 1) - r(1, 2)) * k, (r(0, 2) - r(2, 0)) * k, (r(1, 0) - r(0, 1)) * k, root * 0.5f};
  } else if (r(0, 0) > r(1, 1) && r(0, 0) > r(2, 2)) {
    const float k = 2 * std::sqrt(1 + r(0, 0) - r(1, 1) - r(2, 2));
    q = {0.25f * k, (r(0, 1) + r(1, 0)) / k, (r(0, 2) + r(2, 0)) / k, (r(2, 1) - r(1, 2)) / k};
  } else if (r(1, 1) > r(2, 2)) {
    const float k = 2 * std::sqrt(1 + r(1, 1) - r(0, 0) - r(2, 2));
    q = {(r(0, 1) + r(1, 0)) / k, 0.25f * k, (r(1, 2) + r(2, 1)) / k, (r(0, 2) - r(2, 0)) / k};
  } else {
    const float k = 2 * std::sqrt(1 + r(2, 2) - r(0, 0) - r(1, 1));
    q = {(r(0, 2) + r(2, 0)) / k, (r(1, 2) + r(2, 1)) / k, 0.25f * k, (r(1, 0) - r(0, 1)) / k};
  }
  return {q[0], q[1], q[2], q[3]};
}
M4 FromQuaternion(double x, double y, double z, double w) {
  return {1 - 2 * (y * y + z * z), 2 * (x * y + w * z),     2 * (x * z - w * y),     0,
          2 * (x * y - w * z),     1 - 2 * (x * x + z * z), 2 * (y * z + w * x),     0,
          2 * (x * z + w * y),     2 * (y * z - w * x),     1 - 2 * (x * x + y * y), 0,
          0,                       0,                       0,                       1};
}
NATIVE(M3Decompose) {
  const Orientation style = OrientationArg(m, a, 0);
  const Parts p = Decompose(Read4(m, self));
  Value turn = NewVector3D(m, p.r[0], p.r[1], p.r[2]);
  if (style != Orientation::kEuler) {
    const auto q = Quaternion(p.n);
    if (style == Orientation::kQuaternion) {
      turn = NewVector3D(m, q[0], q[1], q[2], q[3]);
    } else {
      // The axis is the quaternion's over the half turn's sine.
      const double half = std::acos(std::clamp(q[3], -1.0, 1.0)), sn = std::sin(half);
      const auto f = [](double d) { return static_cast<double>(static_cast<float>(d)); };
      turn = sn != 0 ? NewVector3D(m, f(q[0] / sn), f(q[1] / sn), f(q[2] / sn), f(2 * half)) : NewVector3D(m, 0, 0, 0, 0);
    }
  }
  Object* out = m.Construct(m.VectorOf(Vector3DClass(m)), {});
  if (auto* arr = avm2::AsArray(Value::Obj(out))) {
    arr->elems.push_back(NewVector3D(m, p.t[0], p.t[1], p.t[2]));
    arr->elems.push_back(turn);
    arr->elems.push_back(NewVector3D(m, p.s[0], p.s[1], p.s[2]));
  }
  return Value::Obj(out);
}
NATIVE(M3Recompose) {
  const Orientation style = OrientationArg(m, a, 1);
  auto* list = avm2::AsArray(m.ArgOr(a, 0));
  if (!list || list->elems.size() < 3) return Value::Bool(false);
  const V3 t = Read(m, list->elems[0]), r = Read(m, list->elems[1]), s = Read(m, list->elems[2]);
  M4 out;
  if (style == Orientation::kEuler) {
    out = Compose({t.x, t.y, t.z}, {r.x, r.y, r.z}, {s.x, s.y, s.z});
  } else {
    const M4 turn = style == Orientation::kQuaternion ? FromQuaternion(r.x, r.y, r.z, r.w) : Rotation(r.w, r.x, r.y, r.z);
    out = Mul(Translation(t.x, t.y, t.z), Mul(turn, Scaling(s.x, s.y, s.z)));
  }
  Write4(m, self, out);
  return Value::Bool(true);
}

// pointAt(pos, at = (0,0,-1), up = (0,-1,0)): turns the matrix in place so
// that its object-relative `at` axis points from its position toward `pos`,
// and its `up` axis as near the world's up (0,-1,0) as that leaves it; the
// position and the scales stay. Worked in single precision, as Flash does:
// right = unit(dir x worldUp), up' = right x dir.
NATIVE(M3PointAt) {
  M4 v = Read4(m, self);
  const V3 pos = Read(m, m.ArgOr(a, 0));
  V3 at{0, 0, -1, 0}, up{0, -1, 0, 0};
  if (a.size() > 1 && a[1].IsObject()) at = Read(m, a[1]);
  if (a.size() > 2 && a[2].IsObject()) up = Read(m, a[2]);
  using F3 = std::array<float, 3>;
  const auto dot = [](const F3& p, const F3& q) { return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; };
  const auto cross = [](const F3& p, const F3& q) {
    return F3{p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]};
  };
  // `q` made unit; false when it has no length.
  const auto unit = [&](F3& q) {
    const float len = std::sqrt(dot(q, q));
    if (!(len > 1e-12f) || !std::isfinite(len)) return false;
    for (float& c : q) c /= len;
    return true;
  };
  const auto f = [](double d) { return static_cast<float>(d); };
  F3 dir{f(pos.x - v[12]), f(pos.y - v[13]), f(pos.z - v[14])};
  F3 oa{f(at.x), f(at.y), f(at.z)}, ou{f(up.x), f(up.y), f(up.z)};
  if (!unit(dir) || !unit(oa)) return Value();
  // The object's up, square to its at axis.
  const float along = dot(ou, oa);
  for (int k = 0; k < 3; ++k) ou[k] -= along * oa[k];
  if (!unit(ou)) return Value();
  // Looking straight up or down, the world's depth stands in for its up.
  F3 right = cross(dir, F3{0, -1, 0});
  if (!unit(right)) {
    right = cross(dir, F3{0, 0, 1});
    if (!unit(right)) return Value();
  }
  const F3 upWorld = cross(right, dir), ow = cross(oa, ou);
  std::array<double, 3> t, r, sc;
  Decompose(v, t, r, sc);
  // The turn takes the object's (at, up, at x up) onto (dir, up', right).
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i)
      v[4 * j + i] = static_cast<double>(dir[i] * oa[j] + upWorld[i] * ou[j] + right[i] * ow[j]) * sc[j];
  Write4(m, self, v);
  return Value();
}

// ---- flash.geom.Utils3D: projecting through a Matrix3D onto the w = 1 plane.

NATIVE(U3ProjectVector) {
  const V3 p = Read(m, m.ArgOr(a, 1));
  const auto r = Apply(Read4(m, m.ArgOr(a, 0)), p.x, p.y, p.z, 1);
  // Flash multiplies by a single-precision 1 / w.
  const float inv = 1.0f / static_cast<float>(r[3]);
  return NewVector3D(m, static_cast<float>(r[0]) * inv, static_cast<float>(r[1]) * inv, static_cast<float>(r[2]) * inv, r[3]);
}
// Each x, y, z triple becomes an x, y pair; the texture's t (every third
// number of uvts, grown to the vertices' length) becomes 1 / w.
NATIVE(U3ProjectVectors) {
  const M4 v = Read4(m, m.ArgOr(a, 0));
  const std::vector<double> verts = Numbers(m, Value::Obj(NonNullVector(m, m.ArgOr(a, 1), "verts")));
  ArrayObject* out = NonNullVector(m, m.ArgOr(a, 2), "projectedVerts");
  ArrayObject* uvts = NonNullVector(m, m.ArgOr(a, 3), "uvts");
  const std::size_t n = verts.size() / 3;
  if (out->elems.size() != n * 2) {
    if (out->fixed) m.ThrowError("RangeError", "Cannot change the length of a fixed Vector.", 1126);
    out->elems.resize(n * 2, Value::Number(0));
  }
  EnsureLength(m, uvts, n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    const auto r = Apply(v, verts[i * 3], verts[i * 3 + 1], verts[i * 3 + 2], 1);
    out->elems[i * 2] = Value::Number(static_cast<float>(r[0] / r[3]));
    out->elems[i * 2 + 1] = Value::Number(static_cast<float>(r[1] / r[3]));
    uvts->elems[i * 3 + 2] = Value::Number(1 / r[3]);
  }
  return Value();
}
// A copy of the matrix turned so its z axis looks from its position toward `pos`.
NATIVE(U3PointTowards) {
  const double percent = avm2::ArgNum(m, a, 0, 0);
  M4 v = Read4(m, m.ArgOr(a, 1));
  const V3 pos = Read(m, m.ArgOr(a, 2));
  double at[3] = {pos.x - v[12], pos.y - v[13], pos.z - v[14]};
  const double len = std::sqrt(at[0] * at[0] + at[1] * at[1] + at[2] * at[2]);
  if (len == 0) return NewMatrix3D(m, v);
  for (double& d : at) d /= len;
  V3 up{0, -1, 0, 0};
  if (a.size() > 4 && a[4].IsObject()) up = Read(m, a[4]);
  // right = up x at, then up' = at x right.
  double right[3] = {up.y * at[2] - up.z * at[1], up.z * at[0] - up.x * at[2], up.x * at[1] - up.y * at[0]};
  const double rl = std::sqrt(right[0] * right[0] + right[1] * right[1] + right[2] * right[2]);
  if (rl == 0) return NewMatrix3D(m, v);
  for (double& d : right) d /= rl;
  const double up2[3] = {at[1] * right[2] - at[2] * right[1], at[2] * right[0] - at[0] * right[2],
                         at[0] * right[1] - at[1] * right[0]};
  std::array<double, 3> t, r, s;
  Decompose(v, t, r, s);
  M4 target = v;
  for (std::size_t k = 0; k < 3; ++k) {
    target[k] = right[k] * s[0];
    target[4 + k] = up2[k] * s[1];
    target[8 + k] = at[k] * s[2];
  }
  return NewMatrix3D(m, Interpolate(v, target, std::clamp(percent, 0.0, 1.0)));
}

// ---- flash.accessibility

NATIVE(AccessibilityPropertiesCtor) {
  for (const char* n : {"name", "description", "shortcut"}) Set(m, self, n, m.Str(""));
  for (const char* n : {"silent", "forceSimple", "noAutoLabeling"}) Set(m, self, n, Value::Bool(false));
  return self;
}

// ---- flash.media

NATIVE(SoundLoaderContextCtor) {
  Set(m, self, "bufferTime", Value::Number(avm2::ArgNum(m, a, 0, 1000)));
  Set(m, self, "checkPolicyFile", Value::Bool(m.ToBoolean(m.ArgOr(a, 1))));
  return self;
}

// ---- flash.geom.PerspectiveProjection: a view of a state object (its
// own, or a display object's), so that every view of one display object's
// projection reads and writes the same numbers. The focal length is kept in
// single precision when read; a display object's field of view, once a
// script sets it, is given back from its focal length.

constexpr const char* kState = " state";
// Flash works the focal length out in single precision: half the width
// times the cotangent of half the angle, that cotangent rounded to a float.
double FocalOf(double width, double fov) {
  return static_cast<float>(static_cast<float>(width) * 0.5f * static_cast<float>(1.0 / std::tan(fov * M_PI / 360)));
}
double FovOf(double width, double focal) { return 2 * std::atan(width / 2 / focal) * 180 / M_PI; }
Value StateOf(Machine& m, const Value& pp) {
  const Value st = pp.IsObject() ? m.GetProperty(pp, kState) : Value();
  if (!st.IsObject()) m.ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
  return st;
}
NATIVE(PerspectiveCtor) {
  Set(m, self, kState, NewPerspectiveState(m, 500, 250, 250, 55, false));
  return self;
}
NATIVE(PpGetFov) { return m.GetProperty(StateOf(m, self), "fov"); }
NATIVE(PpSetFov) {
  const Value st = StateOf(m, self);
  const double fov = m.ToNumber(m.ArgOr(a, 0));
  if (!(fov > 0 && fov < 180))
    m.ThrowError("ArgumentError", "The value specified is not valid for the parameter fieldOfView.", 2182);
  const double width = Num(m, st, "width");
  const bool attached = m.ToBoolean(m.GetProperty(st, "attached"));
  Set(m, st, "fov", Value::Number(attached ? FovOf(width, width / 2 / std::tan(fov * M_PI / 360)) : fov));
  Set(m, st, "focal", Value::Number(FocalOf(width, fov)));
  return Value();
}
NATIVE(PpGetFocal) { return Value::Number(static_cast<float>(Num(m, StateOf(m, self), "focal"))); }
NATIVE(PpSetFocal) {
  const Value st = StateOf(m, self);
  const double focal = m.ToNumber(m.ArgOr(a, 0));
  if (!(focal > 0)) m.ThrowError("ArgumentError", "The value specified is not valid for the parameter focalLength.", 2182);
  Set(m, st, "focal", Value::Number(focal));
  Set(m, st, "fov", Value::Number(FovOf(Num(m, st, "width"), focal)));
  return Value();
}
NATIVE(PpGetCenter) {
  const Value st = StateOf(m, self);
  Value xy[] = {m.GetProperty(st, "cx"), m.GetProperty(st, "cy")};
  return Value::Obj(m.Construct(m.FindClass("flash.geom::Point"), xy));
}
NATIVE(PpSetCenter) {
  const Value st = StateOf(m, self), p = m.ArgOr(a, 0);
  if (!p.IsObject()) m.ThrowError("TypeError", "Parameter projectionCenter must be non-null.", 2007);
  Set(m, st, "cx", Value::Number(Num(m, p, "x")));
  Set(m, st, "cy", Value::Number(Num(m, p, "y")));
  return Value();
}
NATIVE(PpToMatrix3D) {
  const double f = Num(m, StateOf(m, self), "focal");
  return NewMatrix3D(m, {f, 0, 0, 0, 0, f, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0});
}

Class* DynamicClass(Machine& m, const char* package, const char* name, Class* super, avm2::NativeFn ctor) {
  Class* c = m.DefineNativeClass(package, name, super, nullptr, true);
  if (ctor) avm2::SetNativeCtor(m, c, ctor);
  return c;
}

// flash.display's tables, flash.ui and the events of features that never fire here.
// flash.errors.DRMManagerError(message, errorID, subErrorID): its own name
// is left to Error.prototype, and it says all three.
NATIVE(DrmErrorCtor) {
  if (m.errorClass && m.errorClass->iinit) m.Invoke(m.errorClass->iinit, self, a.first(std::min<std::size_t>(a.size(), 2)), nullptr);
  Set(m, self, "subErrorID", Value::Int(m.ToInt(Arg(a, 2, Value::Int(0)))));
  return self;
}
NATIVE(DrmErrorToString) {
  return m.Str("DRMManagerError: '" + m.ToString(m.GetProperty(self, "message")) + "', error ID:'" +
               m.ToString(m.GetProperty(self, "errorID")) + "', subErrorID:'" +
               m.ToString(m.GetProperty(self, "subErrorID")) + "'");
}

// The classes a movie sees only from the SWF version Flash added them in.
void InstallVersionedClasses(Machine& m, Class* obj, int version) {
  if (version >= 10) {
    Class* drm = m.DefineNativeClass("flash.errors", "DRMManagerError", m.errorClass, nullptr, true);
    avm2::SetNativeCtor(m, drm, DrmErrorCtor);
    m.AddMethod(drm, "toString", DrmErrorToString);
    // Error.prototype's name and message are its own, not read through the
    // chain by this class's prototype.
    for (const char* own : {"name", "message"}) {
      drm->prototype->SetDyn(m.Intern(own), Value());
      drm->prototype->dyn->hidden.insert(own);
    }
    // Interfaces a text component implements for screen readers.
    for (const auto& [name, members] : std::initializer_list<std::pair<const char*, std::vector<std::string_view>>>{
             {"ISearchableText", {"searchText"}}, {"ISimpleTextSelection", {"selectionActiveIndex", "selectionAnchorIndex"}}}) {
      if (m.FindClass(std::string("flash.accessibility::") + name)) continue;
      m.DeclareInterfaceMethods(m.DefineNativeClass("flash.accessibility", name, nullptr), members);
    }
  }
  // flash.security: certificates come only from secure sockets, which an
  // offline player never opens; the classes exist for scripts that name them.
  if (version >= 12)
    StringConsts(m, Existing(m, "flash.security", "CertificateStatus", obj),
                 {"EXPIRED:expired", "INVALID:invalid", "INVALID_CHAIN:invalidChain", "NOT_YET_VALID:notYetValid",
                  "PRINCIPAL_MISMATCH:principalMismatch", "REVOKED:revoked", "TRUSTED:trusted", "UNKNOWN:unknown",
                  "UNTRUSTED_SIGNERS:untrustedSigners"});
  if (version >= 13) {
    Existing(m, "flash.security", "X500DistinguishedName", obj);
    Existing(m, "flash.security", "X509Certificate", obj);
  }
}

void InstallDisplayUiAndEvents(Machine& m, Class* obj, [[maybe_unused]] Class* dispatcher,
                               [[maybe_unused]] Class* event) {
  auto dyn = [&](const char* package, const char* name, Class* super, avm2::NativeFn ctor) {
    return DynamicClass(m, package, name, super, ctor);
  };
  // flash.display: the tables the drawing API and the stage take.
  StringConsts(m, Existing(m, "flash.display", "GradientType", obj), {"LINEAR:linear", "RADIAL:radial"});
  StringConsts(m, Existing(m, "flash.display", "SpreadMethod", obj), {"PAD:pad", "REFLECT:reflect", "REPEAT:repeat"});
  StringConsts(m, Existing(m, "flash.display", "InterpolationMethod", obj), {"RGB:rgb", "LINEAR_RGB:linearRGB"});
  StringConsts(m, Existing(m, "flash.display", "LineScaleMode", obj),
               {"NORMAL:normal", "NONE:none", "VERTICAL:vertical", "HORIZONTAL:horizontal"});
  StringConsts(m, Existing(m, "flash.display", "CapsStyle", obj), {"NONE:none", "ROUND:round", "SQUARE:square"});
  StringConsts(m, Existing(m, "flash.display", "JointStyle", obj), {"BEVEL:bevel", "MITER:miter", "ROUND:round"});
  StringConsts(m, Existing(m, "flash.display", "PixelSnapping", obj), {"NEVER:never", "ALWAYS:always", "AUTO:auto"});
  StringConsts(m, Existing(m, "flash.display", "GraphicsPathWinding", obj), {"EVEN_ODD:evenOdd", "NON_ZERO:nonZero"});
  StringConsts(m, Existing(m, "flash.display", "TriangleCulling", obj), {"NONE:none", "POSITIVE:positive", "NEGATIVE:negative"});
  StringConsts(m, Existing(m, "flash.display", "ColorCorrection", obj), {"DEFAULT:default", "ON:on", "OFF:off"});
  StringConsts(m, Existing(m, "flash.display", "ColorCorrectionSupport", obj),
               {"UNSUPPORTED:unsupported", "DEFAULT_ON:defaultOn", "DEFAULT_OFF:defaultOff"});
  StringConsts(m, Existing(m, "flash.display", "FocusDirection", obj), {"TOP:top", "BOTTOM:bottom", "NONE:none"});
  StringConsts(m, Existing(m, "flash.display", "StageAlign", obj),
               {"TOP:T", "BOTTOM:B", "LEFT:L", "RIGHT:R", "TOP_LEFT:TL", "TOP_RIGHT:TR", "BOTTOM_LEFT:BL",
                "BOTTOM_RIGHT:BR"});
  StringConsts(m, Existing(m, "flash.display", "StageDisplayState", obj),
               {"FULL_SCREEN:fullScreen", "FULL_SCREEN_INTERACTIVE:fullScreenInteractive", "NORMAL:normal"});
  StringConsts(m, Existing(m, "flash.display", "StageQuality", obj),
               {"LOW:low", "MEDIUM:medium", "HIGH:high", "BEST:best", "HIGH_8X8:8x8", "HIGH_8X8_LINEAR:8x8linear",
                "HIGH_16X16:16x16", "HIGH_16X16_LINEAR:16x16linear"});
  IntConsts(m, Existing(m, "flash.display", "GraphicsPathCommand", obj),
            {{"NO_OP", 0}, {"MOVE_TO", 1}, {"LINE_TO", 2}, {"CURVE_TO", 3}, {"WIDE_MOVE_TO", 4}, {"WIDE_LINE_TO", 5},
             {"CUBIC_CURVE_TO", 6}});
  IntConsts(m, Existing(m, "flash.display", "BitmapDataChannel", obj), {{"RED", 1}, {"GREEN", 2}, {"BLUE", 4}, {"ALPHA", 8}});
  StringConsts(m, Existing(m, "flash.filters", "BitmapFilterType", obj), {"INNER:inner", "OUTER:outer", "FULL:full"});
  IntConsts(m, Existing(m, "flash.events", "EventPhase", obj), {{"CAPTURING_PHASE", 1}, {"AT_TARGET", 2}, {"BUBBLING_PHASE", 3}});
  IntConsts(m, Existing(m, "flash.display", "ActionScriptVersion", obj), {{"ACTIONSCRIPT2", 2}, {"ACTIONSCRIPT3", 3}});
  IntConsts(m, Existing(m, "flash.display", "SWFVersion", obj),
            {{"FLASH1", 1}, {"FLASH2", 2}, {"FLASH3", 3}, {"FLASH4", 4}, {"FLASH5", 5}, {"FLASH6", 6}, {"FLASH7", 7},
             {"FLASH8", 8}, {"FLASH9", 9}, {"FLASH10", 10}, {"FLASH11", 11}});

  // flash.ui: keys, pointer, touch and the context menu.
  Class* keyboard = Existing(m, "flash.ui", "Keyboard", obj);
  IntConsts(m, keyboard,
            {{"BACKSPACE", 8}, {"TAB", 9}, {"ENTER", 13}, {"COMMAND", 15}, {"SHIFT", 16}, {"CONTROL", 17},
             {"ALTERNATE", 18}, {"CAPS_LOCK", 20}, {"ESCAPE", 27}, {"SPACE", 32}, {"PAGE_UP", 33}, {"PAGE_DOWN", 34},
             {"END", 35}, {"HOME", 36}, {"LEFT", 37}, {"UP", 38}, {"RIGHT", 39}, {"DOWN", 40}, {"INSERT", 45},
             {"DELETE", 46}, {"NUMPAD_MULTIPLY", 106}, {"NUMPAD_ADD", 107}, {"NUMPAD_ENTER", 108},
             {"NUMPAD_SUBTRACT", 109}, {"NUMPAD_DECIMAL", 110}, {"NUMPAD_DIVIDE", 111}, {"SEMICOLON", 186},
             {"EQUAL", 187}, {"COMMA", 188}, {"MINUS", 189}, {"PERIOD", 190}, {"SLASH", 191}, {"BACKQUOTE", 192},
             {"LEFTBRACKET", 219}, {"BACKSLASH", 220}, {"RIGHTBRACKET", 221}, {"QUOTE", 222}});
  for (char c = 'A'; c <= 'Z'; ++c) IntConsts(m, keyboard, {{std::string(1, c).c_str(), c}});
  for (int d = 0; d <= 9; ++d) {
    IntConsts(m, keyboard, {{("NUMBER_" + std::to_string(d)).c_str(), 48 + d}});
    IntConsts(m, keyboard, {{("NUMPAD_" + std::to_string(d)).c_str(), 96 + d}});
  }
  for (int f = 1; f <= 15; ++f) IntConsts(m, keyboard, {{("F" + std::to_string(f)).c_str(), 111 + f}});
  m.AddGetter(keyboard, "capsLock", False, true);
  m.AddGetter(keyboard, "numLock", False, true);
  m.AddMethod(keyboard, "isAccessible", False, true);
  IntConsts(m, Existing(m, "flash.ui", "KeyLocation", obj), {{"STANDARD", 0}, {"LEFT", 1}, {"RIGHT", 2}, {"NUM_PAD", 3}});
  StringConsts(m, Existing(m, "flash.ui", "MouseCursor", obj),
               {"AUTO:auto", "ARROW:arrow", "BUTTON:button", "HAND:hand", "IBEAM:ibeam"});
  StringConsts(m, Existing(m, "flash.ui", "MultitouchInputMode", obj),
               {"NONE:none", "GESTURE:gesture", "TOUCH_POINT:touchPoint"});
  Class* multitouch = Existing(m, "flash.ui", "Multitouch", obj);
  for (const char* p : {"supportsTouchEvents", "supportsGestureEvents"}) m.AddGetter(multitouch, p, False, true);
  m.AddGetter(multitouch, "maxTouchPoints", [](Machine&, Value, std::span<Value>) { return Value::Int(0); }, true);
  m.AddGetter(multitouch, "supportedGestures", Null, true);
  m.AddGetter(multitouch, "inputMode", [](Machine& mm, Value, std::span<Value>) { return mm.Str("gesture"); }, true);
  m.AddSetter(multitouch, "inputMode", Nothing, true);
  dyn("flash.ui", "ContextMenuBuiltInItems", obj, BuiltInItemsCtor);
  dyn("flash.ui", "ContextMenuClipboardItems", obj, ClipboardItemsCtor);
  Class* menu = dyn("flash.ui", "ContextMenu", dispatcher, ContextMenuCtor);
  m.AddMethod(menu, "hideBuiltInItems", ContextMenuHide);
  m.AddMethod(menu, "clone", ContextMenuClone);
  m.AddGetter(menu, "isSupported", True, true);
  Class* item = dyn("flash.ui", "ContextMenuItem", dispatcher, ContextMenuItemCtor);
  m.AddMethod(item, "clone", [](Machine& mm, Value self, std::span<Value>) {
    Value args[] = {mm.GetProperty(self, "caption"), mm.GetProperty(self, "separatorBefore"),
                    mm.GetProperty(self, "enabled"), mm.GetProperty(self, "visible")};
    return Value::Obj(mm.Construct(mm.FindClass("flash.ui::ContextMenuItem"), args));
  });

  // flash.events: events of features that never fire here, for the code that listens.
  auto eventClass = [&](const char* name, avm2::NativeFn ctor, std::initializer_list<const char*> types) {
    Class* c = m.FindClass(std::string("flash.events::") + name);
    if (!c) c = dyn("flash.events", name, event, ctor);
    StringConsts(m, c, types);
  };
  eventClass("StatusEvent", StatusEventCtor, {"STATUS:status"});
  if (Class* status = m.FindClass("flash.events::StatusEvent")) m.AddMethod(status, "toString", StatusEventToString);
  eventClass("DataEvent", DataEventCtor, {"DATA:data", "UPLOAD_COMPLETE_DATA:uploadCompleteData"});
  eventClass("ActivityEvent", ActivityEventCtor, {"ACTIVITY:activity"});
  eventClass("SyncEvent", nullptr, {"SYNC:sync"});
  eventClass("FullScreenEvent", FullScreenEventCtor,
             {"FULL_SCREEN:fullScreen", "FULL_SCREEN_INTERACTIVE_ACCEPTED:fullScreenInteractiveAccepted"});
  eventClass("ContextMenuEvent", ContextMenuEventCtor, {"MENU_ITEM_SELECT:menuItemSelect", "MENU_SELECT:menuSelect"});
  eventClass("UncaughtErrorEvent", UncaughtErrorEventCtor, {"UNCAUGHT_ERROR:uncaughtError"});
  eventClass("IMEEvent", nullptr, {"IME_COMPOSITION:imeComposition"});
  eventClass("TouchEvent", nullptr,
             {"TOUCH_BEGIN:touchBegin", "TOUCH_END:touchEnd", "TOUCH_MOVE:touchMove", "TOUCH_OVER:touchOver",
              "TOUCH_OUT:touchOut", "TOUCH_ROLL_OVER:touchRollOver", "TOUCH_ROLL_OUT:touchRollOut", "TOUCH_TAP:touchTap"});
  eventClass("GestureEvent", nullptr, {"GESTURE_TWO_FINGER_TAP:gestureTwoFingerTap"});
  eventClass("PressAndTapGestureEvent", nullptr, {"GESTURE_PRESS_AND_TAP:gesturePressAndTap"});
  eventClass("TransformGestureEvent", nullptr,
             {"GESTURE_PAN:gesturePan", "GESTURE_ROTATE:gestureRotate", "GESTURE_SWIPE:gestureSwipe",
              "GESTURE_ZOOM:gestureZoom"});
  eventClass("FocusEvent", nullptr,
             {"FOCUS_IN:focusIn", "FOCUS_OUT:focusOut", "KEY_FOCUS_CHANGE:keyFocusChange",
              "MOUSE_FOCUS_CHANGE:mouseFocusChange"});
  eventClass("HTTPStatusEvent", nullptr, {"HTTP_STATUS:httpStatus", "HTTP_RESPONSE_STATUS:httpResponseStatus"});
  // Devices and modes of mobile players and of the plug-in's video
  // layer: the classes are there, and say there is nothing to use.
  eventClass("ThrottleEvent", ThrottleEventCtor, {"THROTTLE:throttle"});
  StringConsts(m, Existing(m, "flash.events", "ThrottleType", obj), {"THROTTLE:throttle", "PAUSE:pause", "RESUME:resume"});
  eventClass("SoftKeyboardEvent", SoftKeyboardEventCtor,
             {"SOFT_KEYBOARD_ACTIVATE:softKeyboardActivate", "SOFT_KEYBOARD_ACTIVATING:softKeyboardActivating",
              "SOFT_KEYBOARD_DEACTIVATE:softKeyboardDeactivate"});
  eventClass("StageVideoAvailabilityEvent", StageVideoAvailabilityEventCtor,
             {"STAGE_VIDEO_AVAILABILITY:stageVideoAvailability"});
  StringConsts(m, Existing(m, "flash.media", "StageVideoAvailability", obj), {"AVAILABLE:available", "UNAVAILABLE:unavailable"});
  StringConsts(m, Existing(m, "flash.media", "VideoStatus", obj),
               {"ACCELERATED:accelerated", "SOFTWARE:software", "UNAVAILABLE:unavailable"});
  Existing(m, "flash.media", "StageVideo", dispatcher);
  if (Class* stage = m.FindClass("flash.display::Stage"); stage && !m.FindBinding(&stage->instance, m.NameFromString("stageVideos")))
    m.AddGetter(stage, "stageVideos", NoStageVideos);
  StringConsts(m, Existing(m, "flash.display", "StageAspectRatio", obj), {"PORTRAIT:portrait", "LANDSCAPE:landscape", "ANY:any"});
  StringConsts(m, Existing(m, "flash.display", "StageOrientation", obj),
               {"DEFAULT:default", "ROTATED_LEFT:rotatedLeft", "ROTATED_RIGHT:rotatedRight", "UPSIDE_DOWN:upsideDown",
                "UNKNOWN:unknown"});
  StringConsts(m, Existing(m, "flash.system", "ImageDecodingPolicy", obj), {"ON_DEMAND:onDemand", "ON_LOAD:onLoad"});
  if (!m.FindClass("flash.events::UncaughtErrorEvents"))
    m.DefineNativeClass("flash.events", "UncaughtErrorEvents", dispatcher);
  if (Class* info = m.FindClass("flash.display::LoaderInfo")) {
    // No error reaches them: the machine logs what a script throws.
    const auto add = [&](const char* p, avm2::NativeFn fn) {
      if (!m.FindBinding(&info->instance, m.NameFromString(p))) m.AddGetter(info, p, fn);
    };
    add("uncaughtErrorEvents", NewUncaughtErrorEvents);
    add("sharedEvents", NewDispatcher);
    for (const char* p : {"childAllowsParent", "parentAllowsChild", "sameDomain"}) add(p, True);
  }
}

// flash.net, flash.system, flash.external, flash.utils, flash.media,
// flash.text, flash.geom and what the display classes lack.
void InstallNetSystemAndGeometry(Machine& m, Class* obj, [[maybe_unused]] Class* dispatcher,
                                 [[maybe_unused]] Class* event) {
  auto dyn = [&](const char* package, const char* name, Class* super, avm2::NativeFn ctor) {
    return DynamicClass(m, package, name, super, ctor);
  };
  // flash.net
  Class* so = dyn("flash.net", "SharedObject", dispatcher, SoCtor);
  m.AddMethod(so, "getLocal", SoGetLocal, true);
  m.AddMethod(so, "getRemote", Null, true);
  m.AddGetter(so, "defaultObjectEncoding", [](Machine&, Value, std::span<Value>) { return Value::Int(3); }, true);
  m.AddSetter(so, "defaultObjectEncoding", Nothing, true);
  m.AddMethod(so, "flush", SoFlush);
  m.AddMethod(so, "clear", SoClear);
  m.AddMethod(so, "close", Nothing);
  m.AddMethod(so, "connect", Nothing);
  m.AddMethod(so, "send", Nothing);
  m.AddMethod(so, "setDirty", Nothing);
  m.AddMethod(so, "setProperty", SoSetProperty);
  m.AddGetter(so, "size", SoSize);
  m.AddGlobal("", kSharedObjects, Value::Obj(m.NewObject()));
  IntConsts(m, Existing(m, "flash.net", "ObjectEncoding", obj), {{"AMF0", 0}, {"AMF3", 3}, {"DEFAULT", 3}});
  dyn("flash.net", "URLRequestHeader", obj, UrlRequestHeaderCtor);
  // The handlers of a remote call that never connects here.
  if (!m.FindClass("flash.net::Responder")) dyn("flash.net", "Responder", obj, nullptr);
  for (const char* name : {"Socket", "XMLSocket"}) {
    if (m.FindClass(std::string("flash.net::") + name)) continue;
    // Nothing is ever connected or loaded: the offline player's answer.
    Class* c = dyn("flash.net", name, dispatcher, nullptr);
    for (const char* f : {"connect", "close", "load", "browse", "cancel", "flush", "send"}) m.AddMethod(c, f, Nothing);
    m.AddGetter(c, "connected", False);
    m.AddGetter(c, "bytesAvailable", [](Machine&, Value, std::span<Value>) { return Value::Int(0); });
  }
  m.AddGlobalFunction("flash.net", "sendToURL", Nothing);
  if (!m.FindClass("flash.net::NetStreamPlayOptions")) dyn("flash.net", "NetStreamPlayOptions", dispatcher, NetStreamPlayOptionsCtor);
  // What SharedObject.flush() answers, compared by saving code.
  StringConsts(m, Existing(m, "flash.net", "SharedObjectFlushStatus", obj), {"FLUSHED:flushed", "PENDING:pending"});
  StringConsts(m, Existing(m, "flash.net", "NetStreamPlayTransitions", obj),
               {"APPEND:append", "APPEND_AND_WAIT:appendAndWait", "RESET:reset", "RESUME:resume", "STOP:stop",
                "SWAP:swap", "SWITCH:switch"});

  // flash.printing
  if (!m.FindClass("flash.printing::PrintJob")) {
    dyn("flash.printing", "PrintJobOptions", obj, PrintJobOptionsCtor);
    Class* job = dyn("flash.printing", "PrintJob", dispatcher, PrintJobCtor);
    m.AddMethod(job, "start", False);
    for (const char* f : {"addPage", "send"}) m.AddMethod(job, f, Nothing);
    StringConsts(m, Existing(m, "flash.printing", "PrintJobOrientation", obj), {"LANDSCAPE:landscape", "PORTRAIT:portrait"});
  }

  // flash.globalization
  if (!m.FindClass("flash.globalization::CurrencyParseResult")) {
    Class* parsed = m.DefineNativeClass("flash.globalization", "CurrencyParseResult", obj);
    avm2::SetNativeCtor(m, parsed, CurrencyParseResultCtor);
    m.AddGetter(parsed, "value", CurrencyParseValue);
    m.AddGetter(parsed, "currencyString", CurrencyParseSymbol);
  }

  // flash.system
  dyn("flash.system", "LoaderContext", obj, LoaderContextCtor);
  dyn("flash.system", "JPEGLoaderContext", m.FindClass("flash.system::LoaderContext"), JpegLoaderContextCtor);
  Class* securityDomain = dyn("flash.system", "SecurityDomain", obj, nullptr);
  m.AddGetter(securityDomain, "currentDomain", CurrentSecurityDomain, true);
  m.AddGlobal("", kSecurityDomain, Value::Obj(m.NewObject()));
  Class* ime = Existing(m, "flash.system", "IME", obj);
  m.AddGetter(ime, "enabled", False, true);
  m.AddSetter(ime, "enabled", Nothing, true);
  m.AddGetter(ime, "isSupported", False, true);
  if (Class* security = m.FindClass("flash.system::Security");
      security && !m.FindBinding(&security->statics, m.NameFromString("exactSettings"))) {
    m.AddGetter(security, "exactSettings", True, true);
    m.AddSetter(security, "exactSettings", Nothing, true);
    for (const char* f : {"allowInsecureDomain", "loadPolicyFile", "showSettings"}) m.AddMethod(security, f, Nothing, true);
    StringConsts(m, security,
                 {"REMOTE:remote", "LOCAL_WITH_FILE:localWithFile", "LOCAL_WITH_NETWORK:localWithNetwork",
                  "LOCAL_TRUSTED:localTrusted", "APPLICATION:application"});
  }
  if (Class* caps = m.FindClass("flash.system::Capabilities")) {
    struct C {
      const char* name;
      avm2::NativeFn fn;
    };
    for (const C& c : {C{"language", English}, C{"hasAudio", True}, C{"hasMP3", True}, C{"hasStreamingAudio", True},
                       C{"hasStreamingVideo", True}, C{"hasEmbeddedVideo", True}, C{"hasVideoEncoder", False},
                       C{"hasAudioEncoder", False}, C{"hasAccessibility", False}, C{"hasIME", False},
                       C{"hasPrinting", False}, C{"hasScreenBroadcast", False}, C{"hasScreenPlayback", False},
                       C{"avHardwareDisable", True}, C{"localFileReadDisable", False}, C{"isEmbeddedInAcrobat", False},
                       C{"screenDPI", ScreenDpi}, C{"pixelAspectRatio", One}, C{"manufacturer", Manufacturer},
                       C{"cpuArchitecture", Cpu}, C{"serverString", EmptyString}, C{"supports64BitProcesses", False},
                       C{"supports32BitProcesses", True}, C{"touchscreenType", [](Machine& mm, Value, std::span<Value>) {
                                                              return mm.Str("none");
                                                            }}}) {
      if (!m.FindBinding(&caps->statics, m.NameFromString(c.name))) m.AddGetter(caps, c.name, c.fn, true);
    }
  }

  // flash.external
  if (!m.FindClass("flash.external::ExternalInterface")) {
    Class* external = m.DefineNativeClass("flash.external", "ExternalInterface", obj);
    m.AddGetter(external, "available", False, true);
    m.AddGetter(external, "objectID", Null, true);
    m.AddGetter(external, "marshallExceptions", False, true);
    m.AddSetter(external, "marshallExceptions", Nothing, true);
    m.AddMethod(external, "call", NoContainer, true);
    m.AddMethod(external, "addCallback", NoContainer, true);
  }

  // flash.utils
  StringConsts(m, Existing(m, "flash.utils", "Endian", obj), {"BIG_ENDIAN:bigEndian", "LITTLE_ENDIAN:littleEndian"});
  StringConsts(m, Existing(m, "flash.utils", "CompressionAlgorithm", obj), {"ZLIB:zlib", "DEFLATE:deflate", "LZMA:lzma"});

  // flash.media: no microphone, no camera.
  dyn("flash.media", "SoundLoaderContext", obj, SoundLoaderContextCtor);
  dyn("flash.media", "ID3Info", obj, nullptr);
  for (const char* name : {"Microphone", "Camera"}) {
    Class* c = Existing(m, "flash.media", name, dispatcher);
    m.AddMethod(c, name[0] == 'M' ? "getMicrophone" : "getCamera", Null, true);
    m.AddGetter(c, "names", EmptyArray, true);
    m.AddGetter(c, "isSupported", False, true);
  }
  StringConsts(m, Existing(m, "flash.media", "SoundCodec", obj),
               {"NELLYMOSER:NellyMoser", "SPEEX:Speex", "PCMA:pcma", "PCMU:pcmu"});

  // flash.text: the renderer's settings.
  Class* renderer = Existing(m, "flash.text", "TextRenderer", obj);
  for (const char* p : {"antiAliasType", "displayMode", "maxLevel"}) m.AddSetter(renderer, p, Nothing, true);
  m.AddGetter(renderer, "antiAliasType", [](Machine& mm, Value, std::span<Value>) { return mm.Str("normal"); }, true);
  m.AddGetter(renderer, "displayMode", [](Machine& mm, Value, std::span<Value>) { return mm.Str("default"); }, true);
  m.AddGetter(renderer, "maxLevel", [](Machine&, Value, std::span<Value>) { return Value::Int(4); }, true);
  m.AddMethod(renderer, "setAdvancedAntiAliasingTable", Nothing, true);
  StringConsts(m, Existing(m, "flash.text", "TextColorType", obj), {"DARK_COLOR:dark", "LIGHT_COLOR:light"});
  StringConsts(m, Existing(m, "flash.text", "TextDisplayMode", obj), {"LCD:lcd", "CRT:crt", "DEFAULT:default"});

  // flash.geom
  Class* v3 = dyn("flash.geom", "Vector3D", obj, V3Ctor);
  m.AddGetter(v3, "x", NumberFieldGet<kV3X>);
  m.AddSetter(v3, "x", NumberFieldSet<kV3X>);
  m.AddGetter(v3, "y", NumberFieldGet<kV3Y>);
  m.AddSetter(v3, "y", NumberFieldSet<kV3Y>);
  m.AddGetter(v3, "z", NumberFieldGet<kV3Z>);
  m.AddSetter(v3, "z", NumberFieldSet<kV3Z>);
  m.AddGetter(v3, "w", NumberFieldGet<kV3W>);
  m.AddSetter(v3, "w", NumberFieldSet<kV3W>);
  m.AddGetter(v3, "length", V3Length);
  m.AddGetter(v3, "lengthSquared", V3LengthSquared);
  for (const auto& [name, fn] : std::initializer_list<std::pair<const char*, avm2::NativeFn>>{
           {"add", V3Add}, {"subtract", V3Subtract}, {"crossProduct", V3Cross}, {"dotProduct", V3Dot},
           {"normalize", V3Normalize}, {"scaleBy", V3ScaleBy}, {"incrementBy", V3IncrementBy},
           {"decrementBy", V3DecrementBy}, {"negate", V3Negate}, {"project", V3Project}, {"equals", V3Equals},
           {"nearEquals", V3NearEquals}, {"clone", V3Clone}, {"toString", V3ToString},
           {"copyFrom", V3CopyFrom}, {"setTo", V3SetTo}})
    m.AddMethod(v3, name, fn);
  m.AddMethod(v3, "distance", V3Distance, true);
  m.AddMethod(v3, "angleBetween", V3AngleBetween, true);
  m.AddConst(v3, "X_AXIS", NewVector3D(m, 1, 0, 0));
  m.AddConst(v3, "Y_AXIS", NewVector3D(m, 0, 1, 0));
  m.AddConst(v3, "Z_AXIS", NewVector3D(m, 0, 0, 1));
  Class* pp = dyn("flash.geom", "PerspectiveProjection", obj, PerspectiveCtor);
  m.AddGetter(pp, "fieldOfView", PpGetFov);
  m.AddSetter(pp, "fieldOfView", PpSetFov);
  m.AddGetter(pp, "focalLength", PpGetFocal);
  m.AddSetter(pp, "focalLength", PpSetFocal);
  m.AddGetter(pp, "projectionCenter", PpGetCenter);
  m.AddSetter(pp, "projectionCenter", PpSetCenter);
  m.AddMethod(pp, "toMatrix3D", PpToMatrix3D);
  Class* m3 = m.DefineNativeClass("flash.geom", "Matrix3D", obj, nullptr, true);
  avm2::SetNativeCtor(m, m3, M3Ctor);
  m.AddGetter(m3, "rawData", M3GetRaw);
  m.AddSetter(m3, "rawData", M3SetRaw);
  m.AddGetter(m3, "determinant", M3Determinant);
  m.AddGetter(m3, "position", M3GetPosition);
  m.AddSetter(m3, "position", M3SetPosition);
  for (const auto& [name, fn] : std::initializer_list<std::pair<const char*, avm2::NativeFn>>{
           {"identity", M3Identity}, {"clone", M3Clone}, {"copyFrom", M3CopyFrom}, {"append", M3Append},
           {"prepend", M3Prepend}, {"appendTranslation", M3Translate<true>}, {"prependTranslation", M3Translate<false>},
           {"appendScale", M3Scale<true>}, {"prependScale", M3Scale<false>}, {"appendRotation", M3Rotate<true>},
           {"prependRotation", M3Rotate<false>}, {"invert", M3Invert}, {"transpose", M3Transpose},
           {"transformVector", M3TransformVector<false>}, {"deltaTransformVector", M3TransformVector<true>},
           {"decompose", M3Decompose}, {"recompose", M3Recompose}, {"transformVectors", M3TransformVectors},
           {"copyRawDataTo", M3CopyRawDataTo}, {"copyRawDataFrom", M3CopyRawDataFrom},
           {"copyColumnTo", M3CopyLineTo<false>}, {"copyRowTo", M3CopyLineTo<true>},
           {"copyColumnFrom", M3CopyLineFrom<false>}, {"copyRowFrom", M3CopyLineFrom<true>},
           {"copyToMatrix3D", M3CopyToMatrix3D}, {"interpolateTo", M3InterpolateTo}, {"pointAt", M3PointAt}})
    m.AddMethod(m3, name, fn);
  m.AddMethod(m3, "interpolate", M3InterpolateStatic, true);
  StringConsts(m, Existing(m, "flash.geom", "Orientation3D", obj),
               {"EULER_ANGLES:eulerAngles", "AXIS_ANGLE:axisAngle", "QUATERNION:quaternion"});
  Class* utils3d = Existing(m, "flash.geom", "Utils3D", obj);
  m.AddMethod(utils3d, "projectVector", U3ProjectVector, true);
  m.AddMethod(utils3d, "projectVectors", U3ProjectVectors, true);
  m.AddMethod(utils3d, "pointTowards", U3PointTowards, true);

  // flash.display: the IGraphicsData classes, and what the display classes lack.
  Class* data = Existing(m, "flash.display", "IGraphicsData", obj);
  (void)data;
  dyn("flash.display", "GraphicsSolidFill", obj, DataCtor<kSolidFill, std::size(kSolidFill)>);
  dyn("flash.display", "GraphicsStroke", obj, DataCtor<kStroke, std::size(kStroke)>);
  dyn("flash.display", "GraphicsGradientFill", obj, DataCtor<kGradientFill, std::size(kGradientFill)>);
  dyn("flash.display", "GraphicsBitmapFill", obj, DataCtor<kBitmapFill, std::size(kBitmapFill)>);
  Class* path = dyn("flash.display", "GraphicsPath", obj, PathCtor);
  m.AddGetter(path, "winding", PathGetWinding);
  m.AddSetter(path, "winding", PathSetWinding);
  m.AddMethod(path, "moveTo", PathAppend<1, 2>);
  m.AddMethod(path, "lineTo", PathAppend<2, 2>);
  m.AddMethod(path, "curveTo", PathAppend<3, 4>);
  m.AddMethod(path, "wideMoveTo", PathAppend<4, 2>);
  m.AddMethod(path, "wideLineTo", PathAppend<5, 2>);
  m.AddMethod(path, "cubicCurveTo", PathAppend<6, 6>);
  dyn("flash.display", "GraphicsTrianglePath", obj, TrianglePathCtor);
  dyn("flash.display", "GraphicsEndFill", obj, nullptr);
  const auto missing = [&](Class* c, const char* name, bool isStatic = false) {
    return c && !m.FindBinding(isStatic ? &c->statics : &c->instance, m.NameFromString(name));
  };
  if (Class* graphics = m.FindClass("flash.display::Graphics"); missing(graphics, "drawGraphicsData"))
    m.AddMethod(graphics, "drawGraphicsData", GraphicsDrawData);
  if (Class* c = m.FindClass("flash.display::DisplayObjectContainer"); missing(c, "getObjectsUnderPoint")) {
    m.AddMethod(c, "getObjectsUnderPoint", DocObjectsUnderPoint);
    m.AddMethod(c, "areInaccessibleObjectsUnderPoint", False);
  }
  if (Class* sprite = m.FindClass("flash.display::Sprite"); missing(sprite, "dropTarget"))
    m.AddGetter(sprite, "dropTarget", Null);
  if (Class* clip = m.FindClass("flash.display::MovieClip"); missing(clip, "trackAsMenu")) {
    m.AddGetter(clip, "trackAsMenu", False);
    m.AddSetter(clip, "trackAsMenu", Nothing);
  }
  if (Class* display = m.FindClass("flash.display::DisplayObject"); missing(display, "cacheAsBitmapMatrix")) {
    m.AddGetter(display, "cacheAsBitmapMatrix", Null);
    m.AddSetter(display, "cacheAsBitmapMatrix", Nothing);
  }
  if (Class* stage = m.FindClass("flash.display::Stage"); missing(stage, "fullScreenWidth")) {
    // Never full screen: the full-screen size is the stage's.
    m.AddGetter(stage, "fullScreenWidth", [](Machine& mm, Value self, std::span<Value>) {
      return mm.GetProperty(self, "stageWidth");
    });
    m.AddGetter(stage, "fullScreenHeight", [](Machine& mm, Value self, std::span<Value>) {
      return mm.GetProperty(self, "stageHeight");
    });
    m.AddGetter(stage, "fullScreenSourceRect", Null);
    m.AddSetter(stage, "fullScreenSourceRect", Nothing);
    m.AddGetter(stage, "colorCorrection", [](Machine& mm, Value, std::span<Value>) { return mm.Str("default"); });
    m.AddSetter(stage, "colorCorrection", [](Machine& mm, Value, std::span<Value> a) {
      if (mm.ArgOr(a, 0).IsNullish()) mm.ThrowError("TypeError", "Parameter colorCorrection must be non-null.", 2007);
      return Value();
    });
    m.AddGetter(stage, "colorCorrectionSupport", [](Machine& mm, Value, std::span<Value>) { return mm.Str("unsupported"); });
    m.AddGetter(stage, "wmodeGPU", False);
    m.AddGetter(stage, "nativeWindow", Null);
    m.AddGetter(stage, "mouseLock", False);
    m.AddSetter(stage, "mouseLock", Nothing);
    m.AddGetter(stage, "allowsFullScreen", True);  // the player shows movies full screen when asked
    m.AddGetter(stage, "allowsFullScreenInteractive", False);
  }
  if (Class* mouse = m.FindClass("flash.ui::Mouse"); missing(mouse, "cursor", true)) {
    m.AddGetter(mouse, "cursor", [](Machine& mm, Value, std::span<Value>) { return mm.Str("auto"); }, true);
    m.AddSetter(mouse, "cursor", Nothing, true);
    m.AddGetter(mouse, "supportsCursor", True, true);
    m.AddGetter(mouse, "supportsNativeCursor", False, true);
    m.AddMethod(mouse, "registerCursor", Nothing, true);
    m.AddMethod(mouse, "unregisterCursor", Nothing, true);
  }

  for (const char* base : {"flash.display::DisplayObject", "flash.display::DisplayObjectContainer",
                           "flash.display::Sprite", "flash.display::MovieClip"})
    if (Class* c = m.FindClass(base)) m.InheritAddedMembers(c);

  // flash.accessibility: nothing reads the screen here.
  dyn("flash.accessibility", "AccessibilityProperties", obj, AccessibilityPropertiesCtor);
  Class* access = Existing(m, "flash.accessibility", "Accessibility", obj);
  m.AddGetter(access, "active", False, true);
  m.AddMethod(access, "updateProperties", Nothing, true);
  m.AddMethod(access, "sendEvent", Nothing, true);
  Existing(m, "flash.accessibility", "AccessibilityImplementation", obj);
}

// ---- flash.system: workers. This player runs no background worker
// (isSupported is false, as where Flash has none), but the movie's own
// worker, the primordial one, is there with its shared properties, and a
// message channel from it to itself keeps its messages in order.

constexpr const char* kWorkerShared = " shared";
constexpr const char* kChannelQueue = " queue";
constexpr const char* kChannelState = " state";
constexpr const char* kSingleton = " current";
thread_local bool makingWorkerObject = false;

NATIVE(NotInstantiable) {
  if (!makingWorkerObject) {
    Class* c = m.ToObject(self)->cls;
    m.ThrowError("ArgumentError", (c ? c->name : std::string("Object")) + "$ class cannot be instantiated.", 2012);
  }
  return self;
}
Value Hidden(Machine& m, const Value& o, const char* name) {
  const Value* v = o.IsObject() ? m.ToObject(o)->FindDyn(name) : nullptr;
  return v ? *v : Value();
}
Value HiddenSet(Machine& m, const Value& o, const char* name, const Value& v) {
  Object* obj = m.ToObject(o);
  obj->SetDyn(m.Intern(name), v);
  obj->dyn->hidden.insert(name);
  return v;
}
Value MakeWorkerObject(Machine& m, const char* cls) {
  Class* c = m.FindClass(cls);
  if (!c) return Value::Null();
  makingWorkerObject = true;
  struct Reset {
    ~Reset() { makingWorkerObject = false; }
  } reset;
  return Value::Obj(m.Construct(c, {}));
}
// A class's one instance, kept on the class itself.
Value Singleton(Machine& m, const Value& cls, const char* name, const std::function<void(const Value&)>& init) {
  if (const Value* have = m.ToObject(cls)->FindDyn(kSingleton); have && have->IsObject()) return *have;
  Value v = MakeWorkerObject(m, name);
  if (v.IsObject() && init) init(v);
  HiddenSet(m, cls, kSingleton, v);
  return v;
}
NATIVE(WorkerCurrent) {
  return Singleton(m, self, "flash.system::Worker",
                   [&m](const Value& w) { HiddenSet(m, w, kWorkerShared, Value::Obj(m.NewObject())); });
}
NATIVE(WorkerDomainCurrent) { return Singleton(m, self, "flash.system::WorkerDomain", nullptr); }
NATIVE(WorkerGetShared) {
  const Value store = Hidden(m, self, kWorkerShared);
  if (!store.IsObject()) return Value::Null();
  const Value v = m.GetProperty(store, m.ToString(m.ArgOr(a, 0)));
  return v.IsUndefined() ? Value::Null() : v;
}
NATIVE(WorkerSetShared) {
  const Value store = Hidden(m, self, kWorkerShared);
  if (store.IsObject()) m.SetProperty(store, m.ToString(m.ArgOr(a, 0)), m.ArgOr(a, 1));
  return Value();
}
NATIVE(WorkerCreateChannel) {
  if (m.ArgOr(a, 0).IsNullish()) m.ThrowError("TypeError", "Parameter receiver must be non-null.", 2007);
  Value ch = MakeWorkerObject(m, "flash.system::MessageChannel");
  if (!ch.IsObject()) return Value::Null();
  HiddenSet(m, ch, kChannelQueue, Value::Obj(m.NewArray()));
  HiddenSet(m, ch, kChannelState, m.Str("open"));
  return ch;
}
NATIVE(WorkerListWorkers) {
  Class* worker = m.FindClass("flash.system::Worker");
  Value current = worker ? WorkerCurrent(m, Value::Obj(worker->object), {}) : Value::Null();
  return Value::Obj(m.NewArray({current}));
}
avm2::ArrayObject* ChannelQueue(Machine& m, const Value& self) {
  const Value q = self.IsObject() ? Hidden(m, self, kChannelQueue) : Value();
  return q.IsObject() && m.ToObject(q)->kind == avm2::ObjectKind::kArray ? static_cast<ArrayObject*>(m.ToObject(q)) : nullptr;
}
NATIVE(ChannelSend) {
  ArrayObject* q = ChannelQueue(m, self);
  if (m.ToString(Hidden(m, self, kChannelState)) != "open")
    m.ThrowError("flash.errors::IllegalOperationError", "The message channel is closed.", 1514);
  if (q) q->elems.push_back(m.ArgOr(a, 0));
  return Value();
}
NATIVE(ChannelReceive) {
  ArrayObject* q = ChannelQueue(m, self);
  if (!q || q->elems.empty()) return Value::Null();
  Value v = q->elems.front();
  q->elems.erase(q->elems.begin());
  return v;
}
NATIVE(ChannelAvailable) {
  ArrayObject* q = ChannelQueue(m, self);
  return Value::Bool(q && !q->elems.empty());
}
NATIVE(ChannelClose) {
  HiddenSet(m, self, kChannelState, m.Str("closed"));
  return Value();
}
NATIVE(ChannelState) {
  const Value st = Hidden(m, self, kChannelState);
  return st.IsUndefined() ? m.Str("open") : st;
}

// Flash 11.4's classes, seen from SWF 17.
void InstallWorkers(Machine& m, Class* obj, Class* dispatcher, Class* event) {
  StringConsts(m, event, {"WORKER_STATE:workerState", "CHANNEL_MESSAGE:channelMessage", "CHANNEL_STATE:channelState"});
  StringConsts(m, Existing(m, "flash.system", "WorkerState", obj), {"NEW:new", "RUNNING:running", "TERMINATED:terminated"});
  StringConsts(m, Existing(m, "flash.system", "MessageChannelState", obj), {"OPEN:open", "CLOSING:closing", "CLOSED:closed"});
  if (!m.FindClass("flash.system::Worker")) {
    Class* w = m.DefineNativeClass("flash.system", "Worker", dispatcher);
    avm2::SetNativeCtor(m, w, NotInstantiable);
    m.AddGetter(w, "isSupported", False, true);
    m.AddGetter(w, "current", WorkerCurrent, true);
    m.AddGetter(w, "isPrimordial", [](Machine&, Value, std::span<Value>) { return Value::Bool(true); });
    m.AddGetter(w, "state", [](Machine& mm, Value, std::span<Value>) { return mm.Str("running"); });
    m.AddMethod(w, "getSharedProperty", WorkerGetShared);
    m.AddMethod(w, "setSharedProperty", WorkerSetShared);
    m.AddMethod(w, "createMessageChannel", WorkerCreateChannel);
    m.AddMethod(w, "start", Nothing);
    m.AddMethod(w, "terminate", False);
  }
  if (!m.FindClass("flash.system::WorkerDomain")) {
    Class* d = m.DefineNativeClass("flash.system", "WorkerDomain", obj);
    avm2::SetNativeCtor(m, d, NotInstantiable);
    m.AddGetter(d, "isSupported", False, true);
    m.AddGetter(d, "current", WorkerDomainCurrent, true);
    m.AddMethod(d, "listWorkers", WorkerListWorkers);
  }
  if (!m.FindClass("flash.system::MessageChannel")) {
    Class* c = m.DefineNativeClass("flash.system", "MessageChannel", dispatcher);
    avm2::SetNativeCtor(m, c, NotInstantiable);
    m.AddGetter(c, "messageAvailable", ChannelAvailable);
    m.AddGetter(c, "state", ChannelState);
    m.AddMethod(c, "send", ChannelSend);
    m.AddMethod(c, "receive", ChannelReceive);
    m.AddMethod(c, "close", ChannelClose);
  }
}

// flash.sensors (SWF 10 on): a desktop player has neither accelerometer nor
// location; the classes are there, unsupported, and never send an update.
void InstallSensors(Machine& m, Class* dispatcher, Class* event) {
  for (const char* name : {"Accelerometer", "Geolocation"}) {
    if (m.FindClass(std::string("flash.sensors::") + name)) continue;
    Class* c = m.DefineNativeClass("flash.sensors", name, dispatcher);
    m.AddGetter(c, "isSupported", False, true);
    m.AddGetter(c, "muted", False);
    m.AddMethod(c, "setRequestedUpdateInterval", Nothing);
    if (name[0] == 'G') {
      m.AddSetter(c, "desiredAccuracy", Nothing);
      m.AddGetter(c, "desiredAccuracy", [](Machine&, Value, std::span<Value>) { return Value::Number(0); });
    }
  }
  for (const char* name : {"AccelerometerEvent", "GeolocationEvent"}) {
    Class* c = m.FindClass(std::string("flash.events::") + name);
    if (!c) c = m.DefineNativeClass("flash.events", name, event);
    StringConsts(m, c, {"UPDATE:update"});
  }
}

// flash.ui.MouseCursorData (SWF 11 on): what Mouse.registerCursor takes. The
// player keeps its own cursor, but a movie builds the description first.
NATIVE(MouseCursorDataCtor) {
  (void)a;
  Set(m, self, "data", Value::Null());
  Set(m, self, "frameRate", Value::Number(0));
  Class* point = m.FindClass("flash.geom::Point");
  Set(m, self, "hotSpot", point ? Value::Obj(m.Construct(point, {})) : Value::Null());
  return self;
}

// GameInput (SWF 21 on): the API is there with no device plugged in, so a
// game asks, finds none, and goes on with the keyboard.
NATIVE(GameInputDeviceAt) {
  (void)self;
  (void)a;
  m.ThrowError("RangeError", "The specified range is invalid.", 1506);
}
void InstallGameInput(Machine& m, Class* obj, Class* dispatcher, Class* event) {
  if (m.FindClass("flash.ui::GameInput")) return;
  Class* input = m.DefineNativeClass("flash.ui", "GameInput", dispatcher);
  m.AddGetter(input, "isSupported", True, true);
  m.AddGetter(input, "numDevices", [](Machine&, Value, std::span<Value>) { return Value::Int(0); }, true);
  m.AddMethod(input, "getDeviceAt", GameInputDeviceAt, true);
  Class* device = m.DefineNativeClass("flash.ui", "GameInputDevice", obj);
  avm2::SetNativeCtor(m, device, NotInstantiable);
  m.AddConst(device, "MAX_BUFFER_SIZE", Value::Int(32000));
  Class* control = m.DefineNativeClass("flash.ui", "GameInputControl", dispatcher);
  avm2::SetNativeCtor(m, control, NotInstantiable);
  StringConsts(m, Existing(m, "flash.ui", "GameInputHand", obj), {"LEFT:left", "RIGHT:right", "UNDEFINED:undefined"});
  StringConsts(m, Existing(m, "flash.ui", "GameInputFinger", obj),
               {"INDEX:index", "MIDDLE:middle", "THUMB:thumb", "UNKNOWN:unknown"});
  Class* ev = m.FindClass("flash.events::GameInputEvent");
  if (!ev) ev = m.DefineNativeClass("flash.events", "GameInputEvent", event);
  StringConsts(m, ev, {"DEVICE_ADDED:deviceAdded", "DEVICE_REMOVED:deviceRemoved", "DEVICE_UNUSABLE:deviceUnusable"});
  m.AddGetter(ev, "device", Null);
}

// flash.trace.Trace, the debugger's method tracing: a player that is no
// debugger keeps no level and calls no listener, whatever a script sets.
void InstallTrace(Machine& m, Class* obj) {
  if (m.FindClass("flash.trace::Trace")) return;
  Class* t = m.DefineNativeClass("flash.trace", "Trace", obj);
  IntConsts(m, t,
            {{"OFF", 0}, {"METHODS", 1}, {"METHODS_WITH_ARGS", 2}, {"METHODS_AND_LINES", 3},
             {"METHODS_AND_LINES_WITH_ARGS", 4}, {"FILE", 1}, {"LISTENER", 2}});
  m.AddMethod(t, "getLevel", [](Machine&, Value, std::span<Value>) { return Value::Int(0); }, true);
  m.AddMethod(t, "setLevel", Nothing, true);
  m.AddMethod(t, "getListener", Null, true);
  m.AddMethod(t, "setListener", Nothing, true);
}

// flash.net.drm (SWF 10 on): the player has no content protection module,
// so DRMManager says so and its one instance never answers a request; the
// voucher and time-window classes only come from such a module.
NATIVE(DrmManagerGet) { return Singleton(m, self, "flash.net.drm::DRMManager", nullptr); }
void InstallDrm(Machine& m, Class* obj, Class* dispatcher) {
  if (m.FindClass("flash.net.drm::DRMManager")) return;
  Class* manager = m.DefineNativeClass("flash.net.drm", "DRMManager", dispatcher);
  m.AddGetter(manager, "isSupported", False, true);
  m.AddMethod(manager, "getDRMManager", DrmManagerGet, true);
  m.AddGetter(manager, "networkIdleTimeout", [](Machine&, Value, std::span<Value>) { return Value::Number(300); });
  m.AddSetter(manager, "networkIdleTimeout", Nothing);
  for (const char* fn : {"authenticate", "setAuthenticationToken", "loadVoucher", "loadPreviewVoucher", "storeVoucher",
                         "returnVoucher", "addToDeviceGroup", "removeFromDeviceGroup"})
    m.AddMethod(manager, fn, Nothing);
  m.AddMethod(manager, "resetDRMVouchers", Nothing, true);
  for (const char* name : {"DRMVoucher", "DRMPlaybackTimeWindow"}) m.DefineNativeClass("flash.net.drm", name, obj);
  StringConsts(m, Existing(m, "flash.net.drm", "LoadVoucherSetting", obj),
               {"ALLOW_SERVER:allowServer", "FORCE_REFRESH:forceRefresh", "LOCAL_ONLY:localOnly"});
  StringConsts(m, Existing(m, "flash.net.drm", "AuthenticationMethod", obj),
               {"ANONYMOUS:anonymous", "USERNAME_AND_PASSWORD:usernameAndPassword"});
}

// Flash 11's soft keyboard members of every InteractiveObject: a desktop
// player has no soft keyboard, so asking for one gets false, but the two
// settings keep what a script gives them (Flex and TLF text set them).
constexpr const char* kNeedsSoftKeyboard = " needsSoftKeyboard";
constexpr const char* kSoftKeyboardArea = " softKeyboardInputAreaOfInterest";
void InstallSoftKeyboard(Machine& m) {
  Class* io = m.FindClass("flash.display::InteractiveObject");
  if (!io || m.FindBinding(&io->instance, m.NameFromString("needsSoftKeyboard"))) return;
  m.AddGetter(io, "needsSoftKeyboard", [](Machine& mm, Value self, std::span<Value>) {
    return Value::Bool(mm.ToBoolean(Hidden(mm, self, kNeedsSoftKeyboard)));
  });
  m.AddSetter(io, "needsSoftKeyboard", [](Machine& mm, Value self, std::span<Value> a) {
    HiddenSet(mm, self, kNeedsSoftKeyboard, Value::Bool(mm.ToBoolean(mm.ArgOr(a, 0))));
    return Value();
  });
  m.AddGetter(io, "softKeyboardInputAreaOfInterest", [](Machine& mm, Value self, std::span<Value>) {
    const Value v = Hidden(mm, self, kSoftKeyboardArea);
    return v.IsObject() ? v : Value::Null();
  });
  m.AddSetter(io, "softKeyboardInputAreaOfInterest", [](Machine& mm, Value self, std::span<Value> a) {
    HiddenSet(mm, self, kSoftKeyboardArea, mm.ArgOr(a, 0));
    return Value();
  });
  m.AddMethod(io, "requestSoftKeyboard", False);
  m.InheritAddedMembers(io);
}

}  // namespace

Value NewPerspectiveState(Machine& m, double width, double cx, double cy, double fov, bool attached) {
  Value st = Value::Obj(m.NewObject());
  Set(m, st, "width", Value::Number(width));
  Set(m, st, "fov", Value::Number(fov));
  Set(m, st, "focal", Value::Number(FocalOf(width, fov)));
  Set(m, st, "cx", Value::Number(cx));
  Set(m, st, "cy", Value::Number(cy));
  Set(m, st, "attached", Value::Bool(attached));
  return st;
}
Value PerspectiveView(Machine& m, const Value& state) {
  Class* pp = m.FindClass("flash.geom::PerspectiveProjection");
  if (!pp || !state.IsObject()) return Value::Null();
  Value view = Value::Obj(m.Construct(pp, {}));
  Set(m, view, kState, state);
  return view;
}
Value AttachPerspective(Machine& m, const Value& pp, double width) {
  const Value from = StateOf(m, pp);
  return NewPerspectiveState(m, width, Num(m, from, "cx"), Num(m, from, "cy"), Num(m, from, "fov"), true);
}

Value MakeMatrix3D(Machine& m, const std::array<double, 16>& raw) { return NewMatrix3D(m, raw); }

PerspectiveNumbers ReadPerspective(Machine& m, const Value& state) {
  return {Num(m, state, "focal"), Num(m, state, "cx"), Num(m, state, "cy")};
}

void InstallFlashApi(Machine& m, int swfVersion) {
  Class* obj = m.objectClass;
  InstallVersionedClasses(m, obj, swfVersion);
  Class* dispatcher = m.FindClass("flash.events::EventDispatcher");
  Class* event = m.FindClass("flash.events::Event");
  if (!dispatcher || !event) return;
  InstallDisplayUiAndEvents(m, obj, dispatcher, event);
  InstallNetSystemAndGeometry(m, obj, dispatcher, event);
  if (swfVersion >= 11) InstallSoftKeyboard(m);
  if (swfVersion >= 17) InstallWorkers(m, obj, dispatcher, event);
  if (swfVersion >= 10) InstallSensors(m, dispatcher, event);
  if (swfVersion >= 11 && !m.FindClass("flash.ui::MouseCursorData"))
    DynamicClass(m, "flash.ui", "MouseCursorData", obj, MouseCursorDataCtor);
  if (swfVersion >= 21) InstallGameInput(m, obj, dispatcher, event);
  InstallTrace(m, obj);
  // Made by the player only, from static text; it reads none here yet.
  if (!m.FindClass("flash.text::TextSnapshot")) m.DefineNativeClass("flash.text", "TextSnapshot", obj);
  if (swfVersion >= 10) InstallDrm(m, obj, dispatcher);
}

}  // namespace quarvel::player
