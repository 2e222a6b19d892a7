// flash.text.engine: TextBlock breaks its content into TextLines, each a
// display object holding a TextField of one line laid out by the shared text
// layout, with the line's metrics (origin on the baseline, as Flash puts
// it). The formats (ElementFormat, FontDescription), the elements and the
// block keep their values in slots after the class's own, behind accessors
// that check what is set as Flash's do.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "player/as3/display_binding_p.h"
#include "player/avm2/utf16.h"

namespace quarvel::player::as3 {
namespace {

// Flash's class library throws these through Error.throwError, a frame of
// the stack trace; a native method named so stands for it.
Value ThrowErrorFrame(Machine& m, Value, std::span<Value> a) {
  m.ThrowError(m.ToString(a[0]), m.ToString(a[1]), m.ToInt(a[2]));
}
// The frame of a method of Flash's own class library that throws, named as
// a stack trace shows it; made once per name.
struct ThrowingFrame {
  avm2::Method method;
  std::once_flag once;
};
[[noreturn]] void ThrowFrom(Machine& m, ThrowingFrame& f, const char* traceName, const char* cls, const char* message,
                            int id) {
  std::call_once(f.once, [&] {
    f.method.name = traceName;
    f.method.traceName = traceName;
    f.method.native = ThrowErrorFrame;
  });
  Value args[] = {m.Str(cls), m.Str(message), Value::Int(id)};
  m.Invoke(&f.method, Value::Null(), args, nullptr);
  m.ThrowError(cls, message, id);  // not reached: the frame throws
}
[[noreturn]] void ThrowViaThrowError(Machine& m, const char* cls, const char* message, int id) {
  static ThrowingFrame frame;
  ThrowFrom(m, frame, "Error$/throwError", cls, message, id);
}

// How a setter takes a value.
enum class Check : std::uint8_t {
  kAny,           // kept as given
  kObject,        // an object or null
  kNonNull,       // an object; null is #2007
  kString,        // a string; null is #2007
  kChoice,        // one of `choices`; null is #2007, any other #2008
  kNumber,        // any number
  kTracking,      // a number; NaN reads 0
  kAlpha,         // clamped to [0, 1]; NaN reads 0
  kSize,          // a number; below 0 is #2004, NaN reads 0
  kBaselineSize,  // a number; below 0 is #2004
  kUint,
  kBool,
  kLevel,         // an int; below 0 is #2004
  kVectorCopy,    // a copy of the vector given, and a copy on each read
  kNullableText,  // a string or null
  kReadOnly,      // set only by the engine
};
struct Prop {
  const char* name;
  Check check;
  const char* choices = nullptr;  // '|'-separated
  const char* text = nullptr;     // the default, when a string
  double number = 0;              // the default, when a number or flag
};

constexpr const char* kBaselines = "roman|ascent|descent|ideographicTop|ideographicCenter|ideographicBottom";
constexpr const char* kRotations = "rotate0|rotate90|rotate180|rotate270";

// In the constructor's argument order first.
constexpr Prop kFontDescription[] = {
    {"fontName", Check::kString, nullptr, "_serif"},
    {"fontWeight", Check::kChoice, "normal|bold", "normal"},
    {"fontPosture", Check::kChoice, "normal|italic", "normal"},
    {"fontLookup", Check::kChoice, "device|embeddedCFF", "device"},
    {"renderingMode", Check::kChoice, "normal|cff", "cff"},
    {"cffHinting", Check::kChoice, "none|horizontalStem", "horizontalStem"},
    {"locked", Check::kBool},
};
constexpr Prop kElementFormat[] = {
    {"fontDescription", Check::kNonNull},
    {"fontSize", Check::kSize, nullptr, nullptr, 12},
    {"color", Check::kUint},
    {"alpha", Check::kAlpha, nullptr, nullptr, 1},
    {"textRotation", Check::kChoice, "auto|rotate0|rotate90|rotate180|rotate270", "auto"},
    {"dominantBaseline", Check::kChoice, kBaselines, "roman"},
    {"alignmentBaseline", Check::kChoice,
     "roman|ascent|descent|ideographicTop|ideographicCenter|ideographicBottom|useDominantBaseline",
     "useDominantBaseline"},
    {"baselineShift", Check::kNumber},
    {"kerning", Check::kChoice, "on|off|auto", "on"},
    {"trackingRight", Check::kTracking},
    {"trackingLeft", Check::kTracking},
    {"locale", Check::kString, nullptr, "en"},
    {"breakOpportunity", Check::kChoice, "auto|any|none|all", "auto"},
    {"digitCase", Check::kChoice, "default|lining|oldStyle", "default"},
    {"digitWidth", Check::kChoice, "default|proportional|tabular", "default"},
    {"ligatureLevel", Check::kChoice, "none|minimum|common|uncommon|exotic", "common"},
    {"typographicCase", Check::kChoice, "default|title|caps|smallCaps|uppercase|lowercase|capsAndSmallCaps",
     "default"},
    {"locked", Check::kBool},
};
// ContentElement and its kinds share one layout; a kind shows its part.
constexpr Prop kContent[] = {
    {"text", Check::kNullableText},
    {"elementFormat", Check::kObject},
    {"eventMirror", Check::kObject},
    {"textRotation", Check::kChoice, "rotate0|rotate90|rotate180|rotate270|auto", "rotate0"},
    {"userData", Check::kAny},
    {"textBlock", Check::kReadOnly},
    {"textBlockBeginIndex", Check::kReadOnly, nullptr, nullptr, -1},
    {"groupElement", Check::kReadOnly},
    {"elements", Check::kReadOnly},
    {"graphic", Check::kObject},
    {"elementWidth", Check::kNumber, nullptr, nullptr, 15},
    {"elementHeight", Check::kNumber, nullptr, nullptr, 15},
};
// A position below 0 is refused; NaN is kept.
constexpr Prop kTabStop[] = {
    {"alignment", Check::kChoice, "start|center|end|decimal", "start"},
    {"position", Check::kBaselineSize},
    {"decimalAlignmentToken", Check::kString, nullptr, ""},
};
constexpr Prop kTextBlock[] = {
    {"content", Check::kObject},
    {"tabStops", Check::kVectorCopy},
    {"textJustifier", Check::kNonNull},
    {"lineRotation", Check::kChoice, kRotations, "rotate0"},
    {"baselineZero", Check::kChoice, kBaselines, "roman"},
    {"bidiLevel", Check::kLevel},
    {"applyNonLinearFontScaling", Check::kBool, nullptr, nullptr, 1},
    {"baselineFontDescription", Check::kObject},
    {"baselineFontSize", Check::kBaselineSize, nullptr, nullptr, 12},
    {"firstLine", Check::kReadOnly},
    {"lastLine", Check::kReadOnly},
    {"firstInvalidLine", Check::kReadOnly},
    {"textLineCreationResult", Check::kReadOnly},
    {"userData", Check::kAny},
};

template <std::size_t N>
constexpr int IndexOf(const Prop (&table)[N], std::string_view name) {
  for (std::size_t i = 0; i < N; ++i)
    if (name == table[i].name) return static_cast<int>(i);
  return -1;
}

// The slot of value `i`: after the slots of the object's own traits.
template <std::size_t N>
Value* SlotOf(Object* o, int i) {
  if (!o) return nullptr;
  const std::size_t base = o->traits ? o->traits->slots.size() : 0;
  if (o->slots.size() < base + N) o->slots.resize(base + N);
  return &o->slots[base + static_cast<std::size_t>(i)];
}
template <std::size_t N>
Value Read(const Value& self, const Prop (&)[N], int i) {
  const Value* v = SlotOf<N>(self.AsObject(), i);
  return v ? *v : Value();
}
template <std::size_t N>
void Write(const Value& self, const Prop (&)[N], int i, const Value& v) {
  if (Value* slot = SlotOf<N>(self.AsObject(), i)) *slot = v;
}
#define GET(obj, table, name) Read(obj, table, IndexOf(table, name))
#define PUT(obj, table, name, v) Write(obj, table, IndexOf(table, name), v)

bool IsChoice(std::string_view choices, std::string_view s) {
  while (!choices.empty()) {
    const std::size_t bar = choices.find('|');
    if (choices.substr(0, bar) == s) return true;
    if (bar == std::string_view::npos) break;
    choices.remove_prefix(bar + 1);
  }
  return false;
}

[[noreturn]] void ThrowNull(Machine& m, const char* name) {
  m.ThrowError("TypeError", std::string("Parameter ") + name + " must be non-null.", 2007);
}
[[noreturn]] void ThrowNotAccepted(Machine& m, const char* name) {
  m.ThrowError("ArgumentError", std::string("Parameter ") + name + " must be one of the accepted values.", 2008);
}
[[noreturn]] void ThrowInvalid(Machine& m) { m.ThrowError("ArgumentError", "One of the parameters is invalid.", 2004); }

// The value `p` keeps when `v` is set, or Flash's error.
Value Checked(Machine& m, const Prop& p, const Value& v) {
  switch (p.check) {
    case Check::kAny: return v;
    case Check::kObject: return v.IsObject() ? v : Value::Null();
    case Check::kNonNull:
      if (!v.IsObject()) ThrowNull(m, p.name);
      return v;
    case Check::kString:
      if (v.IsNullish()) ThrowNull(m, p.name);
      return m.Str(m.ToString(v));
    case Check::kChoice: {
      if (v.IsNullish()) ThrowNull(m, p.name);
      const std::string s = m.ToString(v);
      if (!IsChoice(p.choices, s)) ThrowNotAccepted(m, p.name);
      return m.Str(s);
    }
    case Check::kNumber: return Value::Number(m.ToNumber(v));
    case Check::kTracking: {
      const double d = m.ToNumber(v);
      return Value::Number(std::isnan(d) ? 0 : d);
    }
    case Check::kAlpha: {
      const double d = m.ToNumber(v);
      return Value::Number(std::isnan(d) ? 0 : std::clamp(d, 0.0, 1.0));
    }
    case Check::kSize: {
      const double d = m.ToNumber(v);
      if (d < 0) ThrowInvalid(m);
      return Value::Number(std::isnan(d) ? 0 : d);
    }
    case Check::kBaselineSize: {
      const double d = m.ToNumber(v);
      if (d < 0) ThrowInvalid(m);
      return Value::Number(d);
    }
    case Check::kUint: return Value::Number(m.ToUint(v));
    case Check::kBool: return Value::Bool(m.ToBoolean(v));
    case Check::kLevel: {
      const std::int32_t i = m.ToInt(v);
      if (i < 0) ThrowInvalid(m);
      return Value::Int(i);
    }
    case Check::kVectorCopy:
      if (!v.IsObject()) return Value::Null();
      return m.CallProperty(v, "concat", {});
    case Check::kNullableText: return v.IsNullish() ? Value::Null() : m.Str(m.ToString(v));
    case Check::kReadOnly: return v;
  }
  return v;
}

template <const auto& kTable, int kIndex>
Value Getter(Machine& m, Value self, std::span<Value>) {
  const Value v = Read(self, kTable, kIndex);
  if (kTable[kIndex].check == Check::kVectorCopy && v.IsObject()) return m.CallProperty(v, "concat", {});
  return v;
}
template <const auto& kTable, int kIndex>
Value Setter(Machine& m, Value self, std::span<Value> a) {
  Write(self, kTable, kIndex, Checked(m, kTable[kIndex], m.ArgOr(a, 0)));
  return Value();
}
// Accessors for the table's values from `first` up to (not including) `last`.
template <const auto& kTable, int kIndex = 0>
void AddAccessors(Machine& m, Class* c, int first, int last) {
  constexpr int n = static_cast<int>(std::size(kTable));
  if constexpr (kIndex < n) {
    if (kIndex >= first && kIndex < last) {
      m.AddGetter(c, kTable[kIndex].name, Getter<kTable, kIndex>);
      if (kTable[kIndex].check != Check::kReadOnly) m.AddSetter(c, kTable[kIndex].name, Setter<kTable, kIndex>);
    }
    AddAccessors<kTable, kIndex + 1>(m, c, first, last);
  }
}

template <std::size_t N>
void FillDefaults(Machine& m, const Value& self, const Prop (&table)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    const Prop& p = table[i];
    Value v;
    if (p.text) v = m.Str(p.text);
    else if (p.check == Check::kBool) v = Value::Bool(p.number != 0);
    else if (p.check == Check::kAny) v = Value();
    else if (p.check == Check::kNumber || p.check == Check::kTracking || p.check == Check::kAlpha ||
             p.check == Check::kSize || p.check == Check::kBaselineSize || p.check == Check::kUint)
      v = Value::Number(p.number);
    else if (p.check == Check::kLevel || p.number != 0) v = Value::Int(static_cast<std::int32_t>(p.number));
    else v = Value::Null();
    Write(self, table, static_cast<int>(i), v);
  }
}
// The constructor's arguments go through the setters in order (a bad one
// throws from its setter); undefined keeps the default.
template <std::size_t N>
void SetFromArgs(Machine& m, const Value& self, const Prop (&table)[N], std::span<Value> a, std::size_t count) {
  for (std::size_t i = 0; i < count && i < a.size() && i < N; ++i) {
    // An object the setter needs given as null is the default one.
    if (a[i].IsUndefined() || (a[i].IsNull() && table[i].check == Check::kNonNull)) continue;
    m.SetProperty(self, table[i].name, a[i]);
  }
}

// A copy of the object's values in a new object of its class, unlocked.
template <std::size_t N>
Value CloneOf(Machine& m, const Value& self, const Prop (&table)[N]) {
  Object* o = self.AsObject();
  if (!o || !o->cls) return Value::Null();
  const Value c = Value::Obj(m.Instantiate(o->cls));
  for (std::size_t i = 0; i < N; ++i) Write(c, table, static_cast<int>(i), Read(self, table, static_cast<int>(i)));
  if (IndexOf(table, "locked") >= 0) PUT(c, table, "locked", Value::Bool(false));
  return c;
}
double Num(Machine& m, const Value& o, const char* name) { return m.ToNumber(m.GetProperty(o, name)); }
std::string Str(Machine& m, const Value& o, const char* name) {
  const Value v = m.GetProperty(o, name);
  return v.IsNullish() ? std::string() : m.ToString(v);
}

NATIVE(FontDescriptionCtor) {
  FillDefaults(m, self, kFontDescription);
  SetFromArgs(m, self, kFontDescription, a, 6);
  return self;
}
NATIVE(FontDescriptionClone) { return CloneOf(m, self, kFontDescription); }

NATIVE(ElementFormatCtor) {
  FillDefaults(m, self, kElementFormat);
  SetFromArgs(m, self, kElementFormat, a, 17);
  if (!GET(self, kElementFormat, "fontDescription").IsObject()) {
    if (Class* fd = m.FindClass("flash.text.engine::FontDescription"))
      PUT(self, kElementFormat, "fontDescription", Value::Obj(m.Construct(fd, {})));
  }
  return self;
}
NATIVE(ElementFormatClone) { return CloneOf(m, self, kElementFormat); }
// Metrics of the em box and the usual decorations, in proportion to the size.
NATIVE(ElementFormatGetFontMetrics) {
  const double size = Num(m, self, "fontSize");
  Class* rect = m.FindClass("flash.geom::Rectangle");
  Class* metrics = m.FindClass("flash.text.engine::FontMetrics");
  if (!rect || !metrics) return Value::Null();
  Value box[] = {Value::Number(0), Value::Number(-size * 0.88), Value::Number(size), Value::Number(size)};
  Value args[] = {Value::Obj(m.Construct(rect, box)), Value::Number(-size * 0.28), Value::Number(size / 20),
                  Value::Number(size / 10),           Value::Number(size / 20),    Value::Number(size / 6),
                  Value::Number(0.66),                Value::Number(-size / 3),    Value::Number(0.66)};
  return Value::Obj(m.Construct(metrics, args));
}
using Defaults = std::vector<std::pair<const char*, Value>>;
// Sets each named value from the arguments in order, or its default.
void FillFromArgs(Machine& m, const Value& self, std::span<Value> a, const Defaults& d) {
  Object* o = self.AsObject();
  if (!o) return;
  for (std::size_t i = 0; i < d.size(); ++i) {
    const Value v = i < a.size() && !a[i].IsUndefined() ? a[i] : d[i].second;
    o->SetDyn(m.Intern(d[i].first), v);
  }
}
// A copy of a plain object's named values in a new object of its class.
Value CloneNamed(Machine& m, const Value& self, const char* const* names, std::size_t n) {
  Object* o = self.AsObject();
  if (!o || !o->cls) return Value::Null();
  Object* c = m.Instantiate(o->cls);
  for (std::size_t i = 0; i < n; ++i) c->SetDyn(m.Intern(names[i]), m.GetProperty(self, names[i]));
  return Value::Obj(c);
}
NATIVE(FontMetricsCtor) {
  FillFromArgs(m, self, a,
               {{"emBox", Value::Null()}, {"strikethroughOffset", Value::Number(0)},
                {"strikethroughThickness", Value::Number(0)}, {"underlineOffset", Value::Number(0)},
                {"underlineThickness", Value::Number(0)}, {"subscriptOffset", Value::Number(0)},
                {"subscriptScale", Value::Number(0)}, {"superscriptOffset", Value::Number(0)},
                {"superscriptScale", Value::Number(0)}, {"lineGap", Value::Number(0)}});
  return self;
}

// ---- content elements
NATIVE(TextElementCtor) {
  FillDefaults(m, self, kContent);
  Write(self, kContent, 0, Checked(m, kContent[0], m.ArgOr(a, 0)));
  if (a.size() > 1) Write(self, kContent, 1, Checked(m, kContent[1], a[1]));
  if (a.size() > 2) Write(self, kContent, 2, Checked(m, kContent[2], a[2]));
  if (a.size() > 3 && !a[3].IsUndefined()) m.SetProperty(self, "textRotation", a[3]);
  return self;
}
NATIVE(ContentText) { return GET(self, kContent, "text"); }
NATIVE(TextElementSetText) {
  PUT(self, kContent, "text", Checked(m, kContent[0], m.ArgOr(a, 0)));
  return Value();
}
// replaceText(begin, end, newText): an index past the text is #2006; an
// end before the begin keeps the text from the end on after the new text.
NATIVE(TextElementReplaceText) {
  const Value text = GET(self, kContent, "text");
  const Value str = m.Str(text.IsNullish() ? std::string() : m.ToString(text));
  const double length = Num(m, str, "length");
  const double begin = avm2::ArgNum(m, a, 0, 0), end = avm2::ArgNum(m, a, 1, 0);
  if (begin < 0 || end < 0 || begin > length || end > length)
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  Value head[] = {Value::Int(0), Value::Number(begin)};
  Value tail[] = {Value::Number(end)};
  const std::string before = m.ToString(m.CallProperty(str, "substring", head));
  const std::string after = m.ToString(m.CallProperty(str, "substring", tail));
  const Value mid = m.ArgOr(a, 2);
  PUT(self, kContent, "text", m.Str(before + (mid.IsNullish() ? std::string() : m.ToString(mid)) + after));
  return Value();
}

// The items of an array or vector, in order.
std::vector<Value> ListOf(Machine& m, const Value& v) {
  std::vector<Value> out;
  if (!v.IsObject()) return out;
  const int n = static_cast<int>(Num(m, v, "length"));
  for (int i = 0; i < n && i < 100000; ++i) out.push_back(m.GetProperty(v, std::to_string(i)));
  return out;
}
std::vector<Value> ElementsOf(Machine& m, const Value& group) { return ListOf(m, GET(group, kContent, "elements")); }
// A vector of content elements holding `items`.
Value ElementVector(Machine& m, const std::vector<Value>& items) {
  Class* ce = m.FindClass("flash.text.engine::ContentElement");
  Class* vec = ce ? m.VectorOf(ce) : nullptr;
  const Value v = vec ? Value::Obj(m.Construct(vec, {})) : Value::Obj(m.NewArray());
  for (const Value& e : items) {
    Value one[] = {e};
    m.CallProperty(v, "push", one);
  }
  return v;
}
void SetElements(Machine& m, const Value& group, std::vector<Value> elems) {
  for (const Value& e : elems)
    if (e.IsObject()) PUT(e, kContent, "groupElement", group);
  PUT(group, kContent, "elements", Value::Obj(m.NewArray(std::move(elems))));
}
NATIVE(GroupElementCtor) {
  FillDefaults(m, self, kContent);
  SetElements(m, self, ListOf(m, m.ArgOr(a, 0)));
  if (a.size() > 1) Write(self, kContent, 1, Checked(m, kContent[1], a[1]));
  if (a.size() > 2) Write(self, kContent, 2, Checked(m, kContent[2], a[2]));
  if (a.size() > 3 && !a[3].IsUndefined()) m.SetProperty(self, "textRotation", a[3]);
  return self;
}
NATIVE(GroupElementText) {
  std::string s;
  for (const Value& e : ElementsOf(m, self))
    if (e.IsObject()) s += Str(m, e, "text");
  return m.Str(s);
}
NATIVE(GroupElementCount) { return Value::Int(static_cast<std::int32_t>(ElementsOf(m, self).size())); }
[[noreturn]] void ThrowOutOfBounds(Machine& m) {
  m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
}
NATIVE(GroupElementAt) {
  const auto list = ElementsOf(m, self);
  const double i = avm2::ArgNum(m, a, 0, -1);
  if (!(i >= 0 && i < static_cast<double>(list.size()))) ThrowOutOfBounds(m);
  return list[static_cast<std::size_t>(i)];
}
NATIVE(GroupElementSetElements) {
  for (const Value& e : ElementsOf(m, self))
    if (e.IsObject()) PUT(e, kContent, "groupElement", Value::Null());
  SetElements(m, self, ListOf(m, m.ArgOr(a, 0)));
  return Value();
}
// replaceElements(begin, end, newElements): the elements replaced, in
// order; null when nothing is replaced nor added.
NATIVE(GroupElementReplaceElements) {
  std::vector<Value> elems = ElementsOf(m, self);
  const std::vector<Value> added = ListOf(m, m.ArgOr(a, 2));
  const double begin = avm2::ArgNum(m, a, 0, 0), end = avm2::ArgNum(m, a, 1, 0);
  if (begin == end && added.empty()) return Value::Null();
  const auto size = static_cast<double>(elems.size());
  if (!(begin >= 0 && begin <= size && end >= begin && end <= size)) ThrowOutOfBounds(m);
  const auto b = static_cast<std::ptrdiff_t>(begin), e = static_cast<std::ptrdiff_t>(end);
  std::vector<Value> removed(elems.begin() + b, elems.begin() + e);
  for (const Value& r : removed)
    if (r.IsObject()) PUT(r, kContent, "groupElement", Value::Null());
  elems.erase(elems.begin() + b, elems.begin() + e);
  elems.insert(elems.begin() + b, added.begin(), added.end());
  SetElements(m, self, std::move(elems));
  return ElementVector(m, removed);
}
// splitTextElement(elementIndex, splitIndex): the text element at the index
// keeps its text before the split; a new one after it holds the rest.
NATIVE(GroupElementSplitTextElement) {
  std::vector<Value> elems = ElementsOf(m, self);
  const double i = avm2::ArgNum(m, a, 0, -1), at = avm2::ArgNum(m, a, 1, -1);
  if (!(i >= 0 && i < static_cast<double>(elems.size()))) ThrowOutOfBounds(m);
  const Value e = elems[static_cast<std::size_t>(i)];
  Class* te = m.FindClass("flash.text.engine::TextElement");
  if (!te || !m.IsType(e, te)) ThrowInvalid(m);
  const Value text = m.Str(Str(m, e, "text"));
  if (!(at >= 0 && at <= Num(m, text, "length"))) ThrowOutOfBounds(m);
  Value head[] = {Value::Int(0), Value::Number(at)};
  Value tail[] = {Value::Number(at)};
  PUT(e, kContent, "text", m.CallProperty(text, "substring", head));
  Value args[] = {m.CallProperty(text, "substring", tail), GET(e, kContent, "elementFormat"),
                  GET(e, kContent, "eventMirror"), GET(e, kContent, "textRotation")};
  const Value rest = Value::Obj(m.Construct(te, args));
  elems.insert(elems.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest);
  SetElements(m, self, std::move(elems));
  return rest;
}
NATIVE(GroupElementIndex) {
  const auto list = ElementsOf(m, self);
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].AsObject() && list[i].AsObject() == m.ArgOr(a, 0).AsObject()) return Value::Int(static_cast<std::int32_t>(i));
  return Value::Int(-1);
}
// The element holding a character of the group's text.
NATIVE(GroupElementAtCharIndex) {
  double at = avm2::ArgNum(m, a, 0, -1);
  if (at < 0) return Value::Null();
  for (const Value& e : ElementsOf(m, self)) {
    if (!e.IsObject()) continue;
    const double n = Num(m, m.Str(Str(m, e, "text")), "length");
    if (at < n) return e;
    at -= n;
  }
  return Value::Null();
}
// The format of a content element: its own, else its first child's.
Value FormatOf(Machine& m, const Value& content, int depth = 0) {
  if (!content.IsObject() || depth > 16) return Value::Null();
  const Value f = GET(content, kContent, "elementFormat");
  if (!f.IsNullish()) return f;
  for (const Value& e : ElementsOf(m, content)) {
    const Value inner = FormatOf(m, e, depth + 1);
    if (!inner.IsNullish()) return inner;
  }
  return Value::Null();
}
// Whether a text element of the content has no format of its own nor its group's.
bool HasTextWithoutFormat(Machine& m, const Value& content, bool inherited, int depth = 0) {
  if (!content.IsObject() || depth > 16) return false;
  const bool has = inherited || GET(content, kContent, "elementFormat").IsObject();
  const auto elems = ElementsOf(m, content);
  if (elems.empty()) {
    if (Class* te = m.FindClass("flash.text.engine::TextElement"); te && m.IsType(content, te)) return !has;
    return false;
  }
  for (const Value& e : elems)
    if (HasTextWithoutFormat(m, e, has, depth + 1)) return true;
  return false;
}

// ---- the block
NATIVE(TextBlockCtor) {
  FillDefaults(m, self, kTextBlock);
  SetFromArgs(m, self, kTextBlock, a, 9);
  if (!GET(self, kTextBlock, "textJustifier").IsObject()) {
    if (Class* sj = m.FindClass("flash.text.engine::SpaceJustifier"))
      PUT(self, kTextBlock, "textJustifier", Value::Obj(m.Construct(sj, {})));
  }
  return self;
}
NATIVE(TextBlockSetJustifier) {
  const Value v = m.ArgOr(a, 0);
  if (!v.IsObject()) {
    static ThrowingFrame frame;
    ThrowFrom(m, frame, "flash.text.engine::TextBlock/setTextJustifier", "TypeError",
              "Parameter textJustifier must be non-null.", 2007);
  }
  PUT(self, kTextBlock, "textJustifier", v);
  return Value();
}
// Setting the content, even the same, leaves the lines made so far invalid.
NATIVE(TextBlockSetContent) {
  const Value content = m.ArgOr(a, 0);
  for (Value line = GET(self, kTextBlock, "firstLine"); line.IsObject();) {
    Object* l = line.AsObject();
    l->SetDyn(m.Intern("validity"), m.Str("invalid"));
    const Value* next = l->FindDyn("nextLine");
    line = next ? *next : Value();
  }
  const Value old = GET(self, kTextBlock, "content");
  if (old.IsObject()) PUT(old, kContent, "textBlock", Value::Null());
  PUT(self, kTextBlock, "content", content.IsObject() ? content : Value::Null());
  if (content.IsObject()) {
    PUT(content, kContent, "textBlock", self);
    PUT(content, kContent, "textBlockBeginIndex", Value::Int(0));
  }
  PUT(self, kTextBlock, "firstInvalidLine", GET(self, kTextBlock, "firstLine"));
  return Value();
}

// A TextField showing `text` in the format, on one line.
Value LineField(Machine& m, const Value& format, const std::string& text, double wrapWidth) {
  As3Display& b = B(m);
  Object* field = m.Construct(b.textFieldClass, {});
  Object* fmt = m.Construct(b.textFormatClass, {});
  const Value f = Value::Obj(field), tf = Value::Obj(fmt);
  if (format.IsObject()) {
    const Value fd = m.GetProperty(format, "fontDescription");
    if (fd.IsObject()) {
      m.SetProperty(tf, "font", m.Str(Str(m, fd, "fontName")));
      m.SetProperty(tf, "bold", Value::Bool(Str(m, fd, "fontWeight") == "bold"));
      m.SetProperty(tf, "italic", Value::Bool(Str(m, fd, "fontPosture") == "italic"));
    }
    m.SetProperty(tf, "size", Value::Number(Num(m, format, "fontSize")));
    m.SetProperty(tf, "color", m.GetProperty(format, "color"));
    const double tracking = Num(m, format, "trackingRight") + Num(m, format, "trackingLeft");
    if (std::isfinite(tracking) && tracking != 0) m.SetProperty(tf, "letterSpacing", Value::Number(tracking));
    const double alpha = Num(m, format, "alpha");
    if (std::isfinite(alpha) && alpha != 1) m.SetProperty(f, "alpha", Value::Number(alpha));
  }
  m.SetProperty(f, "defaultTextFormat", tf);
  m.SetProperty(f, "selectable", Value::Bool(false));
  m.SetProperty(f, "mouseEnabled", Value::Bool(false));
  if (wrapWidth > 0) {
    m.SetProperty(f, "wordWrap", Value::Bool(true));
    m.SetProperty(f, "width", Value::Number(wrapWidth + 4));
  } else {
    m.SetProperty(f, "autoSize", m.Str("left"));
  }
  m.SetProperty(f, "text", m.Str(text));
  return f;
}

constexpr double kNoWidth = 1000000;

// createTextLine(previousLine, width, lineOffset, fitSomething): the next
// line of the content from where the previous one ended, broken at a word
// that fits the width; null (creation result "complete") past the end.
Value MakeLine(Machine& m, const Value& self, const Value& previous, double width, bool fitSomething) {
  const Value content = GET(self, kTextBlock, "content");
  Class* lineClass = m.FindClass("flash.text.engine::TextLine");
  if (!content.IsObject() || !lineClass) return Value::Null();
  if (!(width >= 0 && width <= kNoWidth)) ThrowViaThrowError(m, "ArgumentError", "One of the parameters is invalid.", 2004);
  if (previous.IsObject()) {
    Object* p = previous.AsObject();
    const Value* block = p->FindDyn("textBlock");
    const Value* validity = p->FindDyn("validity");
    if (!block || block->AsObject() != self.AsObject() ||
        (validity && validity->IsString() && m.ToString(*validity) == "invalid"))
      ThrowViaThrowError(m, "ArgumentError", "One of the parameters is invalid.", 2004);
  }
  // Flash reports a text element without a format as an error, then makes no line.
  if (HasTextWithoutFormat(m, content, false)) {
    static avm2::Method frame;
    static std::once_flag once;
    std::call_once(once, [] {
      frame.name = "DoCreateTextLine";
      frame.traceName = "flash.text.engine::TextBlock/DoCreateTextLine";
      frame.native = [](Machine& mm, Value, std::span<Value>) {
        return mm.MakeError("Error", "One or more elements of the content of the TextBlock has a null ElementFormat.",
                            2175);
      };
    });
    m.ReportUncaught(m.Invoke(&frame, self, {}, nullptr), "createTextLine");
    return Value::Null();
  }
  const std::string all = Str(m, content, "text");
  const Value allStr = m.Str(all);
  const int length = static_cast<int>(Num(m, allStr, "length"));
  int begin = 0;
  if (previous.IsObject()) {
    begin = static_cast<int>(Num(m, previous, "textBlockBeginIndex") + Num(m, previous, "rawTextLength"));
  }
  if (begin >= length) {
    PUT(self, kTextBlock, "textLineCreationResult", m.Str("complete"));
    return Value::Null();
  }
  // The line is made before the fields that lay it out (its default name
  // counts first).
  Object* line = m.Construct(lineClass, {});
  const Value l = Value::Obj(line);
  Value from[] = {Value::Int(begin)};
  const std::string rest = m.ToString(m.CallProperty(allStr, "substring", from));
  const Value format = FormatOf(m, content);
  // What fits: the first line of the rest wrapped at the width.
  int count = length - begin;
  if (std::isfinite(width) && width > 0 && width < kNoWidth) {
    const Value wrapped = LineField(m, format, rest, width);
    Value zero[] = {Value::Int(0)};
    const int first = static_cast<int>(m.ToNumber(m.CallProperty(wrapped, "getLineLength", zero)));
    if (first > 0 && first < count) count = first;
    const double textWidth = Num(m, wrapped, "textWidth");
    if (count == length - begin && textWidth > width + 0.5 && !fitSomething && begin > 0) {
      PUT(self, kTextBlock, "textLineCreationResult", m.Str("insufficientWidth"));
      return Value::Null();
    }
  }
  // A line ends at the first paragraph end, whatever the width.
  const std::size_t end = std::min(rest.find_first_of("\r\n"), rest.find("\xE2\x80\xA9"));
  if (end != std::string::npos) count = std::min(count, static_cast<int>(avm2::Utf16IndexOfByte(rest, end)) + 1);
  // A CR LF is one paragraph end.
  if (count < length - begin) {
    auto unit = [&](int k) {
      Value at[] = {Value::Int(k)};
      return m.ToNumber(m.CallProperty(m.Str(rest), "charCodeAt", at));
    };
    if (count > 0 && unit(count - 1) == '\r' && unit(count) == '\n') ++count;
  }
  Value span[] = {Value::Int(0), Value::Int(count)};
  std::string shown = m.ToString(m.CallProperty(m.Str(rest), "substring", span));
  // A paragraph's end (U+2029, or a line feed) ends the line unseen.
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r' ||
                            (shown.size() >= 3 && shown.compare(shown.size() - 3, 3, "\xE2\x80\xA9") == 0)))
    shown.erase(shown.size() - (shown.back() == '\n' || shown.back() == '\r' ? 1 : 3));
  const Value field = LineField(m, format, shown, 0);
  Value zero[] = {Value::Int(0)};
  const Value metrics = m.CallProperty(field, "getLineMetrics", zero);
  const double ascent = Num(m, metrics, "ascent"), descent = Num(m, metrics, "descent");
  const double textWidth = Num(m, field, "textWidth");
  // The field's text starts 2 pixels in from its box; the line's origin is
  // the first glyph's baseline.
  m.SetProperty(field, "x", Value::Number(-2));
  m.SetProperty(field, "y", Value::Number(-2 - ascent));
  Value child[] = {field};
  m.CallProperty(l, "addChild", child);
  auto set = [&](const char* n, const Value& v) { line->SetDyn(m.Intern(n), v); };
  set("ascent", Value::Number(ascent));
  set("descent", Value::Number(descent));
  set("totalAscent", Value::Number(ascent));
  set("totalDescent", Value::Number(descent));
  set("totalHeight", Value::Number(ascent + descent));
  set("textHeight", Value::Number(ascent + descent));
  set("textWidth", Value::Number(textWidth));
  set("unjustifiedTextWidth", Value::Number(textWidth));
  set("rawTextLength", Value::Int(count));
  set("atomCount", Value::Int(count));
  set("textBlockBeginIndex", Value::Int(begin));
  set("textBlock", self);
  set("specifiedWidth", Value::Number(std::isfinite(width) ? width : kNoWidth));
  set("validity", m.Str("valid"));
  set("previousLine", previous.IsObject() ? previous : Value::Null());
  set("nextLine", Value::Null());
  set("hasGraphicElement", Value::Bool(false));
  set("hasTabs", Value::Bool(false));
  set("mirrorRegions", Value::Null());
  set("userData", Value::Null());
  set("field", field);
  if (previous.IsObject()) m.SetProperty(previous, "nextLine", l);
  else PUT(self, kTextBlock, "firstLine", l);
  PUT(self, kTextBlock, "lastLine", l);
  PUT(self, kTextBlock, "textLineCreationResult", m.Str("success"));
  return l;
}
NATIVE(TextBlockCreateTextLine) {
  return MakeLine(m, self, m.ArgOr(a, 0), avm2::ArgNum(m, a, 1, kNoWidth), m.ToBoolean(m.ArgOr(a, 3)));
}
// recreateTextLine(textLine, previousLine, width, lineOffset, fitSomething)
NATIVE(TextBlockRecreateTextLine) {
  return MakeLine(m, self, m.ArgOr(a, 1), avm2::ArgNum(m, a, 2, kNoWidth), m.ToBoolean(m.ArgOr(a, 4)));
}
// releaseLines(first, last): the lines leave the block and turn invalid.
NATIVE(TextBlockReleaseLines) {
  Value line = m.ArgOr(a, 0);
  const Value last = m.ArgOr(a, 1);
  for (int guard = 0; line.IsObject() && guard < 100000; ++guard) {
    const Value next = m.GetProperty(line, "nextLine");
    m.SetProperty(line, "textBlock", Value::Null());
    line.AsObject()->SetDyn(m.Intern("validity"), m.Str("invalid"));
    if (line.AsObject() == last.AsObject()) break;
    line = next;
  }
  const Value first = GET(self, kTextBlock, "firstLine");
  if (first.AsObject() == m.ArgOr(a, 0).AsObject()) {
    PUT(self, kTextBlock, "firstLine", Value::Null());
    PUT(self, kTextBlock, "lastLine", Value::Null());
  }
  return Value();
}
NATIVE(Nothing) { return Value(); }
// Word boundaries: the next or previous space after or before the index.
template <bool kNext>
Value WordBoundary(Machine& m, Value self, std::span<Value> a) {
  const Value content = GET(self, kTextBlock, "content");
  const Value text = m.Str(content.IsObject() ? Str(m, content, "text") : std::string());
  const int length = static_cast<int>(Num(m, text, "length"));
  int i = static_cast<int>(avm2::ArgNum(m, a, 0, 0));
  auto at = [&](int k) {
    Value arg[] = {Value::Int(k)};
    return m.ToString(m.CallProperty(text, "charAt", arg));
  };
  if (kNext) {
    for (++i; i < length && at(i) != " "; ++i) {}
    return Value::Int(std::min(i, length));
  }
  for (--i; i > 0 && at(i - 1) != " "; --i) {}
  return Value::Int(std::max(i, 0));
}

// TextLine's questions, answered from its one field.
NATIVE(TextLineBaseline) {
  const std::string which = avm2::ArgStr(m, a, 0, "roman");
  const double ascent = Num(m, self, "ascent"), descent = Num(m, self, "descent");
  if (which == "ascent" || which == "ideographicTop") return Value::Number(-ascent);
  if (which == "descent" || which == "ideographicBottom") return Value::Number(descent);
  if (which == "ideographicCenter") return Value::Number((descent - ascent) / 2);
  return Value::Number(0);
}
NATIVE(TextLineAtomBounds) {
  const Value field = m.GetProperty(self, "field");
  Class* rect = m.FindClass("flash.geom::Rectangle");
  if (!field.IsObject() || !rect) return Value::Null();
  Value arg[] = {Value::Number(avm2::ArgNum(m, a, 0, 0))};
  const Value r = m.CallProperty(field, "getCharBoundaries", arg);
  const double ascent = Num(m, self, "ascent");
  Value box[] = {Value::Number(r.IsObject() ? Num(m, r, "x") - 2 : 0), Value::Number(-ascent),
                 Value::Number(r.IsObject() ? Num(m, r, "width") : 0),
                 Value::Number(ascent + Num(m, self, "descent"))};
  return Value::Obj(m.Construct(rect, box));
}
NATIVE(TextLineAtomIndexAtChar) {
  const double i = avm2::ArgNum(m, a, 0, 0) - Num(m, self, "textBlockBeginIndex");
  return Value::Int(i >= 0 && i < Num(m, self, "rawTextLength") ? static_cast<std::int32_t>(i) : -1);
}
NATIVE(TextLineAtomBegin) {
  return Value::Number(Num(m, self, "textBlockBeginIndex") + avm2::ArgNum(m, a, 0, 0));
}
NATIVE(TextLineAtomEnd) {
  return Value::Number(Num(m, self, "textBlockBeginIndex") + avm2::ArgNum(m, a, 0, 0) + 1);
}
NATIVE(TextLineAtomIndexAtPoint) {
  const Value field = m.GetProperty(self, "field");
  if (!field.IsObject()) return Value::Int(-1);
  Value at[] = {Value::Number(avm2::ArgNum(m, a, 0, 0) - Num(m, self, "x") + 2), Value::Number(2)};
  return m.CallProperty(field, "getCharIndexAtPoint", at);
}
NATIVE(TextLineValidity) {
  const Value* v = self.AsObject() ? self.AsObject()->FindDyn("validity") : nullptr;
  return v ? *v : m.Str("valid");
}
// An invalid line may only turn static; a static one stays so; any other
// takes any word but "possiblyInvalid", which only the engine sets.
NATIVE(TextLineSetValidity) {
  const Value v = m.ArgOr(a, 0);
  if (v.IsNullish()) ThrowNull(m, "validity");
  const std::string now = m.ToString(TextLineValidity(m, self, {}));
  const std::string to = m.ToString(v);
  const bool ok = now == "invalid" ? to == "invalid" || to == "static"
                  : now == "static" ? to == "static"
                                    : to != "possiblyInvalid";
  if (!ok) ThrowNotAccepted(m, "validity");
  if (Object* o = self.AsObject()) o->SetDyn(m.Intern("validity"), m.Str(to));
  return Value();
}
NATIVE(Zero) { return Value::Int(0); }
NATIVE(Null) { return Value::Null(); }
NATIVE(False) { return Value::Bool(false); }
NATIVE(Rotate0) { return m.Str("rotate0"); }
NATIVE(Empty) { return m.Str(""); }

NATIVE(JustifierCtor) {
  FillFromArgs(m, self, a,
               {{"locale", m.Str("en")}, {"lineJustification", m.Str("unjustified")},
                {"letterSpacing", Value::Bool(false)}});
  return self;
}
const char* const kSpaceJustifierNames[] = {"locale", "lineJustification", "letterSpacing", "minimumSpacing",
                                            "optimumSpacing", "maximumSpacing"};
NATIVE(SpaceJustifierCtor) {
  JustifierCtor(m, self, a);
  if (Object* o = self.AsObject()) {
    o->SetDyn(m.Intern("minimumSpacing"), Value::Number(0.5));
    o->SetDyn(m.Intern("optimumSpacing"), Value::Number(1));
    o->SetDyn(m.Intern("maximumSpacing"), Value::Number(1.5));
  }
  return self;
}
NATIVE(SpaceJustifierClone) {
  return CloneNamed(m, self, kSpaceJustifierNames, std::size(kSpaceJustifierNames));
}
const char* const kEastAsianJustifierNames[] = {"locale", "lineJustification", "justificationStyle",
                                                "composeTrailingIdeographicSpaces"};
NATIVE(EastAsianJustifierCtor) {
  FillFromArgs(m, self, a,
               {{"locale", m.Str("ja")}, {"lineJustification", m.Str("allButLast")},
                {"justificationStyle", m.Str("pushInKinsoku")}, {"composeTrailingIdeographicSpaces", Value::Bool(false)}});
  return self;
}
NATIVE(EastAsianJustifierClone) {
  return CloneNamed(m, self, kEastAsianJustifierNames, std::size(kEastAsianJustifierNames));
}
NATIVE(TabStopCtor) {
  FillDefaults(m, self, kTabStop);
  SetFromArgs(m, self, kTabStop, a, std::size(kTabStop));
  return self;
}
// GraphicElement(graphic, elementWidth, elementHeight, elementFormat, eventMirror, textRotation)
NATIVE(GraphicElementCtor) {
  FillDefaults(m, self, kContent);
  const char* const names[] = {"graphic", "elementWidth", "elementHeight", "elementFormat", "eventMirror",
                               "textRotation"};
  for (std::size_t i = 0; i < a.size() && i < std::size(names); ++i)
    if (!a[i].IsUndefined()) m.SetProperty(self, names[i], a[i]);
  return self;
}
NATIVE(GraphicElementText) { return m.Str("\xEF\xB7\xAF"); }  // U+FDEF

}  // namespace

void InstallTextEngine(As3Display& b) {
  Machine& m = b.m;
  Class* obj = m.objectClass;
  auto cls = [&](const char* name, Class* super, avm2::NativeFn ctor, bool dynamic = true) {
    Class* c = m.DefineNativeClass("flash.text.engine", name, super, nullptr, dynamic);
    if (ctor) {
      avm2::SetNativeCtor(m, c, ctor);
      c->iinit->traceName = c->QualifiedName();  // a frame of the setters' errors
    }
    return c;
  };
  Class* fd = cls("FontDescription", obj, FontDescriptionCtor, false);
  AddAccessors<kFontDescription>(m, fd, 0, static_cast<int>(std::size(kFontDescription)));
  m.AddMethod(fd, "clone", FontDescriptionClone);
  m.AddMethod(fd, "isFontCompatible", False, true);
  m.AddMethod(fd, "isDeviceFontCompatible", [](Machine&, Value, std::span<Value>) { return Value::Bool(true); },
              true);
  Class* ef = cls("ElementFormat", obj, ElementFormatCtor, false);
  AddAccessors<kElementFormat>(m, ef, 0, static_cast<int>(std::size(kElementFormat)));
  m.AddMethod(ef, "clone", ElementFormatClone);
  m.AddMethod(ef, "getFontMetrics", ElementFormatGetFontMetrics);
  cls("FontMetrics", obj, FontMetricsCtor);

  Class* content = cls("ContentElement", obj, nullptr, false);
  m.AddConst(content, "GRAPHIC_ELEMENT", Value::Int(0xFDEF));
  m.AddGetter(content, "text", ContentText);
  m.AddGetter(content, "rawText", ContentText);
  AddAccessors<kContent>(m, content, 1, IndexOf(kContent, "elements"));
  Class* te = cls("TextElement", content, TextElementCtor, false);
  m.AddSetter(te, "text", TextElementSetText);
  m.AddMethod(te, "replaceText", TextElementReplaceText);
  Class* ge = cls("GroupElement", content, GroupElementCtor, false);
  m.AddGetter(ge, "text", GroupElementText);
  m.AddGetter(ge, "rawText", GroupElementText);
  m.AddGetter(ge, "elementCount", GroupElementCount);
  m.AddMethod(ge, "getElementAt", GroupElementAt);
  m.AddMethod(ge, "setElements", GroupElementSetElements);
  m.AddMethod(ge, "replaceElements", GroupElementReplaceElements);
  m.AddMethod(ge, "getElementIndex", GroupElementIndex);
  m.AddMethod(ge, "getElementAtCharIndex", GroupElementAtCharIndex);
  m.AddMethod(ge, "splitTextElement", GroupElementSplitTextElement);
  Class* graphic = cls("GraphicElement", content, GraphicElementCtor, false);
  AddAccessors<kContent>(m, graphic, IndexOf(kContent, "graphic"), static_cast<int>(std::size(kContent)));
  m.AddGetter(graphic, "text", GraphicElementText);

  Class* block = cls("TextBlock", obj, TextBlockCtor, false);
  AddAccessors<kTextBlock>(m, block, 0, static_cast<int>(std::size(kTextBlock)));
  m.AddSetter(block, "content", TextBlockSetContent);
  m.AddSetter(block, "textJustifier", TextBlockSetJustifier);
  m.AddMethod(block, "createTextLine", TextBlockCreateTextLine);
  m.AddMethod(block, "recreateTextLine", TextBlockRecreateTextLine);
  m.AddMethod(block, "releaseLines", TextBlockReleaseLines);
  m.AddMethod(block, "releaseLineCreationData", Nothing);
  m.AddMethod(block, "findNextWordBoundary", WordBoundary<true>);
  m.AddMethod(block, "findPreviousWordBoundary", WordBoundary<false>);
  m.AddMethod(block, "findNextAtomBoundary",
              [](Machine& mm, Value, std::span<Value> a) { return Value::Number(avm2::ArgNum(mm, a, 0, 0) + 1); });
  m.AddMethod(block, "findPreviousAtomBoundary",
              [](Machine& mm, Value, std::span<Value> a) { return Value::Number(avm2::ArgNum(mm, a, 0, 0) - 1); });
  m.AddMethod(block, "dump", Empty);

  Class* container = m.FindClass("flash.display::Sprite");
  Class* line = cls("TextLine", container ? container : obj, nullptr);
  m.AddConst(line, "MAX_LINE_WIDTH", Value::Int(1000000));
  m.AddMethod(line, "getBaselinePosition", TextLineBaseline);
  m.AddGetter(line, "validity", TextLineValidity);
  m.AddSetter(line, "validity", TextLineSetValidity);
  m.AddMethod(line, "getAtomBounds", TextLineAtomBounds);
  m.AddMethod(line, "getAtomIndexAtCharIndex", TextLineAtomIndexAtChar);
  m.AddMethod(line, "getAtomTextBlockBeginIndex", TextLineAtomBegin);
  m.AddMethod(line, "getAtomTextBlockEndIndex", TextLineAtomEnd);
  m.AddMethod(line, "getAtomIndexAtPoint", TextLineAtomIndexAtPoint);
  m.AddMethod(line, "getAtomBidiLevel", Zero);
  m.AddMethod(line, "getAtomTextRotation", Rotate0);
  m.AddMethod(line, "getAtomWordBoundaryOnLeft", False);
  m.AddMethod(line, "getAtomGraphic", Null);
  m.AddMethod(line, "getMirrorRegion", Null);
  m.AddMethod(line, "flushAtomData", Nothing);
  m.AddMethod(line, "dump", Empty);
  // A line takes no focus nor menu: these read as unset and refuse writes.
  const avm2::NativeFn refuse = [](Machine& mm, Value, std::span<Value>) -> Value {
    ThrowViaThrowError(mm, "Error", "The TextLine class does not implement this property or method.", 2181);
    return Value();
  };
  m.AddGetter(line, "contextMenu", Null);
  m.AddGetter(line, "focusRect", Null);
  m.AddGetter(line, "tabChildren", False);
  m.AddGetter(line, "tabEnabled", False);
  m.AddGetter(line, "tabIndex", [](Machine&, Value, std::span<Value>) { return Value::Int(-1); });
  for (const char* name : {"contextMenu", "focusRect", "tabChildren", "tabEnabled", "tabIndex"})
    m.AddSetter(line, name, refuse);

  Class* justifier = cls("TextJustifier", obj, JustifierCtor);
  m.AddMethod(cls("SpaceJustifier", justifier, SpaceJustifierCtor), "clone", SpaceJustifierClone);
  m.AddMethod(cls("EastAsianJustifier", justifier, EastAsianJustifierCtor), "clone", EastAsianJustifierClone);
  Class* tabStop = cls("TabStop", obj, TabStopCtor, false);
  AddAccessors<kTabStop>(m, tabStop, 0, static_cast<int>(std::size(kTabStop)));
  cls("TextLineMirrorRegion", obj, nullptr);

  auto constants = [&](const char* name, std::initializer_list<const char*> pairs) {
    Class* c = m.DefineNativeClass("flash.text.engine", name, obj);
    for (const char* p : pairs) {
      const std::string s = p;
      m.AddConst(c, s.substr(0, s.find(':')), m.Str(s.substr(s.find(':') + 1)));
    }
  };
  constants("TextBaseline", {"ROMAN:roman", "ASCENT:ascent", "DESCENT:descent", "IDEOGRAPHIC_TOP:ideographicTop",
                             "IDEOGRAPHIC_CENTER:ideographicCenter", "IDEOGRAPHIC_BOTTOM:ideographicBottom",
                             "USE_DOMINANT_BASELINE:useDominantBaseline"});
  constants("TextLineValidity", {"VALID:valid", "INVALID:invalid", "POSSIBLY_INVALID:possiblyInvalid",
                                 "STATIC:static"});
  constants("TextLineCreationResult", {"SUCCESS:success", "COMPLETE:complete", "INSUFFICIENT_WIDTH:insufficientWidth",
                                       "EMERGENCY:emergency"});
  constants("LineJustification", {"UNJUSTIFIED:unjustified", "ALL_BUT_LAST:allButLast",
                                  "ALL_INCLUDING_LAST:allIncludingLast", "ALL_BUT_MANDATORY_BREAK:allButMandatoryBreak"});
  constants("FontWeight", {"NORMAL:normal", "BOLD:bold"});
  constants("FontPosture", {"NORMAL:normal", "ITALIC:italic"});
  constants("FontLookup", {"DEVICE:device", "EMBEDDED_CFF:embeddedCFF"});
  constants("RenderingMode", {"NORMAL:normal", "CFF:cff"});
  constants("CFFHinting", {"NONE:none", "HORIZONTAL_STEM:horizontalStem"});
  constants("Kerning", {"ON:on", "OFF:off", "AUTO:auto"});
  constants("LigatureLevel", {"NONE:none", "MINIMUM:minimum", "COMMON:common", "UNCOMMON:uncommon", "EXOTIC:exotic"});
  constants("BreakOpportunity", {"AUTO:auto", "ANY:any", "NONE:none", "ALL:all"});
  constants("TextRotation", {"ROTATE_0:rotate0", "ROTATE_90:rotate90", "ROTATE_180:rotate180",
                             "ROTATE_270:rotate270", "AUTO:auto"});
  constants("DigitCase", {"DEFAULT:default", "LINING:lining", "OLD_STYLE:oldStyle"});
  constants("DigitWidth", {"DEFAULT:default", "PROPORTIONAL:proportional", "TABULAR:tabular"});
  constants("TypographicCase", {"DEFAULT:default", "TITLE:title", "CAPS:caps", "SMALL_CAPS:smallCaps",
                                "UPPERCASE:uppercase", "LOWERCASE:lowercase", "CAPS_AND_SMALL_CAPS:capsAndSmallCaps"});
  constants("TabAlignment", {"START:start", "CENTER:center", "END:end", "DECIMAL:decimal"});
  constants("JustificationStyle", {"PRIORITIZE_LEAST_ADJUSTMENT:prioritizeLeastAdjustment",
                                   "PUSH_IN_KINSOKU:pushInKinsoku", "PUSH_OUT_ONLY:pushOutOnly"});
}

}  // namespace quarvel::player::as3
