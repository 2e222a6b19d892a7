// Text fields for ActionScript 1/2: TextField (members of placed and
// script-made fields), TextFormat, TextField.StyleSheet,
// MovieClip.createTextField and Selection's focus.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_geom.h"
#include "player/display/stage.h"
#include "player/text/text_field.h"

namespace quarvel::player::avm1_builtins {
namespace {

using text::FormatPatch;
using text::TextField;

constexpr int kDepthOffset = 16384;  // script depth 0 in a display list
constexpr std::size_t kMaxFieldText = std::size_t{1} << 20;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What the interpreter keeps for its text fields: their script objects (own
// properties, with TextField.prototype behind them), and the focus.
struct FieldObjects : AsNativeData {
  Stage* stage = nullptr;
  std::unordered_map<ClipHandle, AsObject*> objects;
  std::unordered_map<ClipHandle, AsValue> styleSheets;
  AsValue focus;
  bool focusMoving = false;
  void Mark(std::vector<AsObject*>& reachable) const override {
    for (const auto& [h, o] : objects) reachable.push_back(o);
    for (const auto& [h, v] : styleSheets) {
      if (v.obj) reachable.push_back(v.obj);
    }
  }
  void Prune() {
    for (auto it = objects.begin(); it != objects.end();) {
      it = stage->Find(it->first) ? std::next(it) : objects.erase(it);
    }
    for (auto it = styleSheets.begin(); it != styleSheets.end();) {
      it = stage->Find(it->first) ? std::next(it) : styleSheets.erase(it);
    }
  }
};

// The TextField class holds the FieldObjects.
AsObject* FieldClass(Avm1& vm) {
  const AsValue c = vm.Get(AsValue::Object(vm.Global()), "TextField");
  return c.type == AsValue::Type::kObject && c.obj->Native<FieldObjects>() ? c.obj : nullptr;
}

FieldObjects* Objects(Avm1& vm) {
  AsObject* c = FieldClass(vm);
  return c ? c->Native<FieldObjects>() : nullptr;
}

AsObject* Proto(Avm1& vm) {
  AsObject* c = FieldClass(vm);
  if (!c) return nullptr;
  const AsValue p = vm.Get(AsValue::Object(c), "prototype");
  return p.type == AsValue::Type::kObject ? p.obj : nullptr;
}

bool IsField(const Instance* inst) {
  return inst && inst->def && inst->def->kind == Character::Kind::kEditText;
}

// The field of a text-field instance, made from its definition on first use.
TextField* FieldOf(Avm1& vm, Instance* inst) {
  if (!IsField(inst)) return nullptr;
  if (!inst->field) {
    inst->field = TextField::FromDef(static_cast<const EditTextDef&>(*inst->def), &vm.GetStage().Library());
  }
  return inst->field.get();
}

Instance* FieldInstance(Avm1& vm, const AsValue& self) {
  if (self.type != AsValue::Type::kClip) return nullptr;
  Instance* inst = vm.GetStage().Find(vm.ClipOf(self));
  return IsField(inst) ? inst : nullptr;
}

AsObject* FieldObject(Avm1& vm, ClipHandle h, bool make) {
  FieldObjects* fo = Objects(vm);
  if (!fo) return nullptr;
  auto it = fo->objects.find(h);
  if (it != fo->objects.end()) return it->second;
  if (!make) return nullptr;
  if (fo->objects.size() % 64 == 63) fo->Prune();
  AsObject* o = vm.NewObject(Proto(vm));
  o->className = "TextField";
  fo->objects[h] = o;
  // Every field is a broadcaster with itself as its first listener.
  const AsValue broadcaster = vm.Get(AsValue::Object(vm.Global()), "AsBroadcaster");
  const AsValue initialize = vm.Get(broadcaster, "initialize");
  if (initialize.type == AsValue::Type::kObject && initialize.obj->fn) {
    std::vector<AsValue> target{AsValue::Object(o)};
    vm.Call(initialize, broadcaster, target);
    const AsValue listeners = vm.Get(AsValue::Object(o), "_listeners");
    if (listeners.type == AsValue::Type::kObject) {
      vm.SetElement(listeners.obj, std::max<std::int32_t>(listeners.obj->length, 0), vm.ClipValue(h));
    }
  }
  return o;
}

double Length(double a, double b) { return std::sqrt(a * a + b * b); }

// textWidth and textHeight drop the fraction of a pixel (of whole twips).
double WholePixels(double v) { return std::trunc(std::round(v * 20) / 20); }

// A field's _x and _y are where its box starts, not its origin: autoSize
// moving the box left moves _x with it. Bounds are whole twips.
double BoxOffsetX(const Instance& inst, const TextField& f) {
  return std::round(Length(inst.matrix.scaleX, inst.matrix.rotateSkew0) * f.ScriptX() * 20) / 20;
}
double BoxOffsetY(const Instance& inst, const TextField& f) {
  return std::round(Length(inst.matrix.rotateSkew1, inst.matrix.scaleY) * f.ScriptY() * 20) / 20;
}

// ---- TextFormat objects -----------------------------------------------------------

FormatPatch PatchOf(Avm1& vm, const AsValue& fmt) {
  FormatPatch p;
  if (fmt.type != AsValue::Type::kObject) return p;
  auto get = [&](const char* name) -> std::optional<AsValue> {
    AsValue v = vm.Get(fmt, name);
    if (v.IsNullish()) return std::nullopt;
    return v;
  };
  if (auto v = get("font")) p.font = vm.ToString(*v);
  // Sizes, margins, indents and leading are whole pixels, rounded half to even.
  if (auto v = get("size")) {
    const double d = vm.ToNumber(*v);
    if (std::isfinite(d)) p.size = std::clamp(std::nearbyint(d), 0.0, 2000.0);
  }
  if (auto v = get("color")) {
    const double d = vm.ToNumber(*v);
    if (std::isfinite(d)) p.color = static_cast<std::uint32_t>(ToInt32(d)) & 0xFFFFFF;
  }
  if (auto v = get("bold")) p.bold = vm.ToBool(*v);
  if (auto v = get("italic")) p.italic = vm.ToBool(*v);
  if (auto v = get("underline")) p.underline = vm.ToBool(*v);
  if (auto v = get("url")) p.url = vm.ToString(*v);
  if (auto v = get("target")) p.target = vm.ToString(*v);
  if (auto v = get("align")) {
    const std::string a = Lower(vm.ToString(*v));
    if (a == "left") p.align = text::Align::kLeft;
    else if (a == "right") p.align = text::Align::kRight;
    else if (a == "center") p.align = text::Align::kCenter;
    else if (a == "justify") p.align = text::Align::kJustify;
  }
  auto number = [&](const char* name, std::optional<double>& out, double lo, double hi, bool whole = true) {
    if (auto v = get(name)) {
      const double d = vm.ToNumber(*v);
      if (std::isfinite(d)) out = std::clamp(whole ? std::nearbyint(d) : d, lo, hi);
    }
  };
  number("leftMargin", p.leftMargin, 0, 1e6);
  number("rightMargin", p.rightMargin, 0, 1e6);
  number("indent", p.indent, -1e6, 1e6);
  number("blockIndent", p.blockIndent, 0, 1e6);
  number("leading", p.leading, -1e6, 1e6);
  number("letterSpacing", p.letterSpacing, -100, 1000, false);
  if (auto v = get("bullet")) p.bullet = vm.ToBool(*v);
  if (auto v = get("kerning")) p.kerning = vm.ToBool(*v);
  if (auto v = get("tabStops"); v && v->type == AsValue::Type::kObject && v->obj->isArray) {
    std::vector<double> stops;
    for (const AsValue& e : vm.Elements(v->obj)) {
      const double d = vm.ToNumber(e);
      if (std::isfinite(d)) stops.push_back(d);
    }
    p.tabStops = stops;
  }
  return p;
}

AsObject* TextFormatProto(Avm1& vm) {
  const AsValue ctor = vm.Get(AsValue::Object(vm.Global()), "TextFormat");
  const AsValue proto = vm.Get(ctor, "prototype");
  return proto.type == AsValue::Type::kObject ? proto.obj : vm.ObjectProto();
}

const char* AlignText(text::Align a) {
  switch (a) {
    case text::Align::kRight: return "right";
    case text::Align::kCenter: return "center";
    case text::Align::kJustify: return "justify";
    default: return "left";
  }
}

// A TextFormat keeps its members natively: every write converts the value
// as Flash does, so reads give what a field would take.
enum Slot : std::size_t {
  kFont, kSize, kColor, kBold, kItalic, kUnderline, kUrl, kTarget, kAlign, kLeftMargin, kRightMargin,
  kIndent, kLeading, kBlockIndent, kBullet, kTabStops, kLetterSpacing, kKerning, kDisplay, kSlots
};
const char* const kSlotNames[kSlots] = {"font",      "size",        "color",    "bold",          "italic",
                                        "underline", "url",         "target",   "align",         "leftMargin",
                                        "rightMargin", "indent",    "leading",  "blockIndent",   "bullet",
                                        "tabStops",  "letterSpacing", "kerning", "display"};

struct FormatData : AsNativeData {
  std::array<AsValue, kSlots> v{};
  FormatData() {
    for (AsValue& x : v) x = AsValue::Null();
    v[kDisplay] = AsValue::String("block");
  }
  void Mark(std::vector<AsObject*>& reachable) const override {
    if (v[kTabStops].type == AsValue::Type::kObject) reachable.push_back(v[kTabStops].obj);
  }
};

// Whole numbers as Flash's native code makes them: NaN and values out of
// the 32-bit range become the lowest integer.
double FlashInt(double d) {
  if (!(d >= -2147483648.0 && d < 2147483648.0)) return -2147483648.0;
  return d;
}

enum class Write { kConstructor, kSetter };

// `v` converted for a member; nullopt leaves the member as it was.
std::optional<AsValue> ConvertMember(Avm1& vm, Slot slot, const AsValue& v, Write how) {
  if (slot == kDisplay) {
    const std::string d = v.type == AsValue::Type::kString ? vm.ToString(v) : "";
    return AsValue::String(d == "inline" || d == "none" ? d : "block");
  }
  // An alignment Flash does not know, null included, changes nothing.
  if (slot == kAlign && v.IsNullish()) return std::nullopt;
  if (v.IsNullish()) return AsValue::Null();
  // Setters of SWF 8 round half to even; the constructor and older movies truncate.
  const bool round = how == Write::kSetter && vm.Version() >= 8;
  auto whole = [&](double d, bool nonNegative) {
    if (nonNegative) d = d > 0 ? d : 0;
    return AsValue::Number(FlashInt(round ? std::nearbyint(d) : std::trunc(d)));
  };
  const bool setter = how == Write::kSetter;
  switch (slot) {
    case kFont: {
      // Font names hold at most 64 characters.
      std::string name = vm.ToString(v);
      std::size_t chars = 0, i = 0;
      for (; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80 && chars++ == 64) break;
      }
      name.resize(i);
      return AsValue::String(std::move(name));
    }
    case kUrl:
    case kTarget: return AsValue::String(vm.ToString(v));
    case kBold:
    case kItalic:
    case kUnderline:
    case kBullet:
    case kKerning: return AsValue::Bool(vm.ToBool(v));
    case kColor: return AsValue::Number(static_cast<std::uint32_t>(ToInt32(vm.ToNumber(v))));
    case kSize: return whole(vm.ToNumber(v), false);
    case kLeftMargin:
    case kRightMargin: return whole(vm.ToNumber(v), setter);
    case kIndent:
    case kLeading:
    case kBlockIndent: return whole(vm.ToNumber(v), setter && vm.Version() < 8);
    case kLetterSpacing: return AsValue::Number(vm.ToNumber(v));
    case kAlign: {
      const std::string a = Lower(vm.ToString(v));
      if (a == "left" || a == "right" || a == "center" || a == "justify") return AsValue::String(a);
      return std::nullopt;
    }
    case kTabStops: {
      if (v.type != AsValue::Type::kObject) return std::nullopt;
      const double n = vm.ToNumber(vm.Get(v, "length"));
      std::vector<AsValue> stops;
      for (std::size_t i = 0; std::isfinite(n) && i < static_cast<std::size_t>(std::clamp(n, 0.0, 4096.0)); ++i) {
        stops.push_back(whole(vm.ToNumber(vm.Get(v, std::to_string(i))), false));
      }
      return AsValue::Object(vm.NewArray(std::move(stops)));
    }
    default: return std::nullopt;
  }
}

template <Slot kSlot>
AsValue GetSlot(Avm1&, const AsValue& self, AsArgs) {
  auto* d = SelfData<FormatData>(self);
  return d ? d->v[kSlot] : AsValue{};
}
template <Slot kSlot>
AsValue SetSlot(Avm1& vm, const AsValue& self, AsArgs a) {
  auto* d = SelfData<FormatData>(self);
  if (!d) return {};
  if (auto v = ConvertMember(vm, kSlot, Arg(a, 0), Write::kSetter)) d->v[kSlot] = *v;
  return {};
}

template <std::size_t... kI>
void AddSlotAccessors(Avm1& vm, AsObject* proto, std::index_sequence<kI...>) {
  (vm.AddAccessor(proto, kSlotNames[kI], GetSlot<static_cast<Slot>(kI)>, SetSlot<static_cast<Slot>(kI)>), ...);
}

FormatData& MakeFormatData(AsObject* o) {
  auto data = std::make_unique<FormatData>();
  FormatData& d = *data;
  o->native = std::move(data);
  o->className = "TextFormat";
  return d;
}

AsValue MakeFormat(Avm1& vm, const FormatPatch& p) {
  AsObject* o = vm.NewObject(TextFormatProto(vm));
  FormatData& d = MakeFormatData(o);
  auto num = [](const std::optional<double>& x) { return x ? AsValue::Number(*x) : AsValue::Null(); };
  // Reported in whole pixels, however a timeline field holds them.
  auto whole = [](const std::optional<double>& x) { return x ? AsValue::Number(std::nearbyint(*x)) : AsValue::Null(); };
  auto flag = [](const std::optional<bool>& b) { return b ? AsValue::Bool(*b) : AsValue::Null(); };
  auto str = [](const std::optional<std::string>& x) { return x ? AsValue::String(*x) : AsValue::Null(); };
  d.v[kFont] = str(p.font);
  d.v[kSize] = num(p.size);
  d.v[kColor] = p.color ? AsValue::Number(*p.color) : AsValue::Null();
  d.v[kBold] = flag(p.bold);
  d.v[kItalic] = flag(p.italic);
  d.v[kUnderline] = flag(p.underline);
  d.v[kUrl] = str(p.url);
  d.v[kTarget] = str(p.target);
  d.v[kAlign] = p.align ? AsValue::String(AlignText(*p.align)) : AsValue::Null();
  d.v[kLeftMargin] = whole(p.leftMargin);
  d.v[kRightMargin] = whole(p.rightMargin);
  d.v[kIndent] = whole(p.indent);
  d.v[kLeading] = whole(p.leading);
  d.v[kBlockIndent] = whole(p.blockIndent);
  d.v[kBullet] = flag(p.bullet);
  if (p.tabStops) {
    std::vector<AsValue> stops;
    for (double x : *p.tabStops) stops.push_back(AsValue::Number(x));
    d.v[kTabStops] = AsValue::Object(vm.NewArray(std::move(stops)));
  }
  d.v[kLetterSpacing] = num(p.letterSpacing);
  d.v[kKerning] = flag(p.kerning);
  return AsValue::Object(o);
}

AsValue TextFormatCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  FormatData& d = MakeFormatData(o);
  // new TextFormat(font, size, color, bold, italic, underline, url, target, align, leftMargin, rightMargin,
  // indent, leading): the members left out are null.
  static constexpr Slot kOrder[] = {kFont, kSize,  kColor,      kBold,        kItalic, kUnderline, kUrl,
                                    kTarget, kAlign, kLeftMargin, kRightMargin, kIndent, kLeading};
  for (std::size_t i = 0; i < std::size(kOrder) && i < a.size(); ++i) {
    if (auto v = ConvertMember(vm, kOrder[i], a[i], Write::kConstructor)) d.v[kOrder[i]] = *v;
  }
  return vm.Constructing(self) ? self : AsValue{};
}

// TextFormat.getTextExtent(text[, width]): the size of the text in this format.
AsValue TfGetTextExtent(Avm1& vm, const AsValue& self, AsArgs a) {
  text::Format f;
  PatchOf(vm, self).ApplyTo(f);
  const std::u32string s = text::FromUtf8(Str(vm, a, 0));
  AsObject* o = vm.NewObject();
  if (a.size() > 1 && !Arg(a, 1).IsNullish()) {
    // With a width, the text wraps within it.
    text::StyledText t;
    t.Append(s, std::make_shared<text::Format>(f));
    text::Box box;
    box.width = Num(vm, a, 1);
    box.wordWrap = true;
    const text::Layout l = text::LayOut(t, box);
    vm.SetProp(o, "width", AsValue::Number(std::round(l.textWidth)));
    vm.SetProp(o, "height", AsValue::Number(std::round(l.textHeight)));
    vm.SetProp(o, "ascent", AsValue::Number(l.lines.empty() ? 0 : std::round(l.lines[0].ascent)));
    vm.SetProp(o, "descent", AsValue::Number(l.lines.empty() ? 0 : std::round(l.lines[0].descent)));
    vm.SetProp(o, "textFieldWidth", AsValue::Number(box.width));
    vm.SetProp(o, "textFieldHeight", AsValue::Number(std::round(l.textHeight) + 4));
    return AsValue::Object(o);
  }
  const text::Extent e = text::MeasureLine(s, f);
  vm.SetProp(o, "width", AsValue::Number(std::round(e.width)));
  vm.SetProp(o, "height", AsValue::Number(std::round(e.height)));
  vm.SetProp(o, "ascent", AsValue::Number(std::round(e.ascent)));
  vm.SetProp(o, "descent", AsValue::Number(std::round(e.descent)));
  vm.SetProp(o, "textFieldWidth", AsValue::Number(std::round(e.width) + 4));
  vm.SetProp(o, "textFieldHeight", AsValue::Number(std::round(e.height) + 4));
  return AsValue::Object(o);
}

// ---- style sheets -------------------------------------------------------------------

// A style sheet keeps its styles where scripts see them, in `_css` (copies
// of the objects given) and `_styles` (what `transform` made of them), and
// natively the text of each for drawing.
struct SheetData : AsNativeData {
  std::map<std::string, std::map<std::string, std::string>> rules;
};

AsValue SheetCtor(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self)) {
    o->className = "StyleSheet";
    o->native = std::make_unique<SheetData>();
  }
  return vm.Constructing(self) ? self : AsValue{};
}

// The sheet's `_css` or `_styles` object, made on first use.
AsObject* SheetTable(Avm1& vm, AsObject* sheet, const char* name) {
  const AsValue t = vm.Get(AsValue::Object(sheet), name);
  if (t.type == AsValue::Type::kObject) return t.obj;
  AsObject* o = vm.NewObject();
  vm.SetProp(sheet, name, AsValue::Object(o), true);
  return o;
}

AsObject* ShallowCopy(Avm1& vm, AsObject* from) {
  AsObject* o = vm.NewObject();
  std::vector<const AsProperty*> props;
  for (const auto& [key, p] : from->props) {
    if (!p.hidden) props.push_back(&p);
  }
  std::sort(props.begin(), props.end(), [](const AsProperty* x, const AsProperty* y) { return x->order < y->order; });
  for (const AsProperty* p : props) vm.SetProp(o, p->name, p->getter ? vm.Get(AsValue::Object(from), p->name) : p->value);
  return o;
}

// Stores one style (null for none) and what the sheet's transform makes of it.
void StoreStyle(Avm1& vm, AsObject* sheet, const std::string& name, AsObject* style) {
  auto* d = sheet->Native<SheetData>();
  AsObject* css = SheetTable(vm, sheet, "_css");
  AsObject* styles = SheetTable(vm, sheet, "_styles");
  if (style) {
    vm.SetProp(css, name, AsValue::Object(style));
    if (d) {
      auto& rule = d->rules[name];
      rule.clear();
      for (const auto& [key, p] : style->props) rule[p.name] = vm.ToString(p.value);
    }
  } else {
    // The name stays listed, with no style.
    vm.SetProp(css, name, AsValue::Null());
    if (d) d->rules.erase(name);
  }
  const AsValue transform = vm.Get(AsValue::Object(sheet), "transform");
  std::vector<AsValue> args{style ? AsValue::Object(style) : AsValue::Null()};
  vm.SetProp(styles, name, vm.Call(transform, AsValue::Object(sheet), args));
}

AsValue SheetParse(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* sheet = Self(self);
  if (!sheet || !sheet->Native<SheetData>()) return AsValue::Bool(false);
  // Flash takes all of the text or none of it.
  const std::optional<text::CssRules> parsed = text::ParseCssStrict(Str(vm, a, 0));
  if (!parsed) return AsValue::Bool(false);
  for (const auto& [selector, props] : *parsed) {
    AsObject* style = vm.NewObject();
    for (const auto& [k, v] : props) vm.SetProp(style, k, AsValue::String(v));
    StoreStyle(vm, sheet, selector, style);
  }
  return AsValue::Bool(true);
}

AsValue SheetSetStyle(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* sheet = Self(self);
  if (!sheet) return {};
  const AsValue style = Arg(a, 1);
  StoreStyle(vm, sheet, Str(vm, a, 0), style.type == AsValue::Type::kObject ? ShallowCopy(vm, style.obj) : nullptr);
  return {};
}

AsValue SheetGetStyle(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue css = vm.Get(self, "_css");
  const AsValue style = css.type == AsValue::Type::kObject ? vm.Get(css, Str(vm, a, 0)) : AsValue{};
  return style.type == AsValue::Type::kObject ? AsValue::Object(ShallowCopy(vm, style.obj)) : AsValue::Null();
}

AsValue SheetNames(Avm1& vm, const AsValue& self, AsArgs) {
  std::vector<AsValue> names;
  const AsValue css = vm.Get(self, "_css");
  if (css.type == AsValue::Type::kObject) {
    for (const auto& [key, p] : css.obj->props) {
      if (!p.hidden) names.push_back(AsValue::String(p.name));
    }
  }
  return AsValue::Object(vm.NewArray(std::move(names)));
}

AsValue SheetClear(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* sheet = Self(self);
  if (!sheet) return {};
  vm.SetProp(sheet, "_css", AsValue::Object(vm.NewObject()), true);
  vm.SetProp(sheet, "_styles", AsValue::Object(vm.NewObject()), true);
  if (auto* d = sheet->Native<SheetData>()) d->rules.clear();
  return {};
}

AsValue SheetLoad(Avm1& vm, const AsValue& self, AsArgs a) { return LoadTextFor(vm, self, a); }

// The default onData: the loaded text through the sheet's own parse, which
// adds its rules to those the sheet has; onLoad hears whether it took.
AsValue SheetOnData(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!Self(self)) return {};
  AsValue ok = AsValue::Bool(false);
  if (!Arg(a, 0).IsUndefined()) {
    const AsValue parse = vm.Get(self, "parse");
    std::vector<AsValue> args{a[0]};
    if (parse.type == AsValue::Type::kObject && parse.obj->fn) ok = AsValue::Bool(vm.ToBool(vm.Call(parse, self, args)));
  }
  const AsValue onLoad = vm.Get(self, "onLoad");
  std::vector<AsValue> args{ok};
  if (onLoad.type == AsValue::Type::kObject && onLoad.obj->fn) vm.Call(onLoad, self, args);
  return {};
}

// parseInt of a value's text: leading spaces, a sign, decimal digits.
double LeadingInt(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  const bool negative = i < s.size() && s[i] == '-';
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  double n = 0;
  const std::size_t digits = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') n = n * 10 + (s[i++] - '0');
  if (i == digits) return std::nan("");
  return negative ? -n : n;
}

// TextField.StyleSheet.transform: a CSS style object into a TextFormat, with
// Flash's conversions (numbers read as parseInt does, names matched exactly).
AsValue SheetTransform(Avm1& vm, const AsValue&, AsArgs a) {
  const AsValue style = Arg(a, 0);
  if (style.IsNullish()) return AsValue::Null();
  AsObject* o = vm.NewObject(TextFormatProto(vm));
  FormatData& d = MakeFormatData(o);
  d.v[kKerning] = AsValue::Bool(false);
  if (style.type != AsValue::Type::kObject) return AsValue::Object(o);
  auto get = [&](const char* name) { return vm.Get(style, name); };
  auto str = [&](const AsValue& v) { return v.type == AsValue::Type::kString ? vm.ToString(v) : std::string(); };
  auto number = [&](const char* name, bool nanIsZero) -> std::optional<double> {
    const AsValue v = get(name);
    if (!vm.ToBool(v)) return std::nullopt;
    const double n = LeadingInt(vm.ToString(v));
    return std::isnan(n) && nanIsZero ? 0 : n;
  };
  const std::string color = str(get("color"));
  if (color.size() == 7 && color[0] == '#' &&
      std::all_of(color.begin() + 1, color.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
    d.v[kColor] = AsValue::Number(static_cast<double>(std::stoul(color.substr(1), nullptr, 16)));
  }
  const std::string display = vm.ToString(get("display"));
  d.v[kDisplay] = AsValue::String(display == "inline" || display == "none" ? display : "block");
  if (const AsValue family = get("fontFamily"); vm.ToBool(family)) {
    // Each name loses its leading spaces; empty names drop out.
    std::string list, all = vm.ToString(family);
    std::size_t from = 0;
    while (from <= all.size()) {
      const auto comma = std::min(all.find(',', from), all.size());
      std::string one = all.substr(from, comma - from);
      one.erase(0, std::min(one.find_first_not_of(" \t\n\r"), one.size()));
      if (!one.empty()) list += (list.empty() ? "" : ",") + one;
      from = comma + 1;
    }
    d.v[kFont] = AsValue::String(list);
  }
  if (auto n = number("fontSize", true); n && *n > 0) d.v[kSize] = AsValue::Number(*n);
  const std::string fontStyle = str(get("fontStyle")), weight = str(get("fontWeight"));
  if (fontStyle == "normal" || fontStyle == "italic") d.v[kItalic] = AsValue::Bool(fontStyle == "italic");
  if (weight == "normal" || weight == "bold") d.v[kBold] = AsValue::Bool(weight == "bold");
  if (str(get("kerning")) == "true") {
    d.v[kKerning] = AsValue::Bool(true);
  } else if (auto n = number("kerning", false)) {
    d.v[kKerning] = AsValue::Bool(!std::isnan(*n) && *n != 0);
  }
  if (auto n = number("leading", true)) d.v[kLeading] = AsValue::Number(*n);
  if (auto n = number("letterSpacing", false)) d.v[kLetterSpacing] = AsValue::Number(*n);
  if (auto n = number("marginLeft", true)) d.v[kLeftMargin] = AsValue::Number(std::max(0.0, *n));
  if (auto n = number("marginRight", true)) d.v[kRightMargin] = AsValue::Number(std::max(0.0, *n));
  if (auto n = number("textIndent", true)) d.v[kIndent] = AsValue::Number(*n);
  const std::string align = Lower(str(get("textAlign")));
  if (align == "left" || align == "center" || align == "right" || align == "justify") {
    d.v[kAlign] = AsValue::String(align);
  }
  const std::string decoration = str(get("textDecoration"));
  if (decoration == "none" || decoration == "underline") d.v[kUnderline] = AsValue::Bool(decoration == "underline");
  return AsValue::Object(o);
}

std::shared_ptr<const text::StyleRules> RulesOf(const SheetData& d) {
  auto rules = std::make_shared<text::StyleRules>();
  for (const auto& [sel, props] : d.rules) {
    FormatPatch& p = (*rules)[Lower(sel)];
    for (const auto& [k, v] : props) text::ApplyCssProperty(k, v, p);
  }
  return rules;
}

// ---- members of a field ---------------------------------------------------------------

const char* AutoSizeText(text::AutoSize a) {
  switch (a) {
    case text::AutoSize::kLeft: return "left";
    case text::AutoSize::kCenter: return "center";
    case text::AutoSize::kRight: return "right";
    default: return "none";
  }
}

// A field's own text changed: its variable follows.
void TextChanged(Avm1& vm, Instance& inst, TextField& f) {
  const std::string& variable = f.Opts().variable;
  if (variable.empty()) return;
  const std::string shown = f.Opts().html ? f.HtmlText() : f.Text();
  inst.text = std::make_shared<const std::string>(shown);
  vm.Assign(variable, AsValue::String(shown), inst.parent);
}

// A bound field shows its variable as soon as a script looks at it. A field
// whose variable is unset gives it the text it was defined with, if any.
void ShowVariable(Avm1& vm, Instance& inst, TextField& f) {
  const std::string& variable = f.Opts().variable;
  if (variable.empty()) return;
  if (inst.text && !vm.VariableOnClip(variable, inst.parent)) return;
  AsValue v = vm.Evaluate(variable, inst.parent);
  if (v.IsUndefined() && !inst.text) {
    const auto* def = static_cast<const EditTextDef*>(inst.def);
    if (def->text.empty()) return;
    v = AsValue::String(def->text);
    vm.Assign(variable, v, inst.parent);
  }
  if (v.IsUndefined()) return;
  const std::string s = vm.ToString(v);
  if (!inst.text || *inst.text != s) {
    inst.text = std::make_shared<const std::string>(s);
    f.SetShown(s);
  }
}

bool GetMember(Avm1& vm, Instance& inst, TextField& f, const std::string& low, AsValue& out) {
  ShowVariable(vm, inst, f);
  const auto& o = f.Opts();
  Stage& stage = vm.GetStage();
  const Matrix& m = inst.matrix;
  if (low == "text") out = AsValue::String(f.Text());
  // A plain field's htmlText is its text, unless a style sheet makes it
  // read HTML; an HTML field without text writes no paragraph at all.
  else if (low == "htmltext") {
    out = AsValue::String(!o.html && !f.HasStyles()                 ? f.Text()
                          : f.Length() == 0 && !f.HasStyles() ? std::string()
                                                              : f.HtmlText());
  }
  else if (low == "html") out = AsValue::Bool(o.html);
  // textColor is the colour new text gets: setTextFormat leaves it.
  else if (low == "textcolor") out = AsValue::Number(f.NewFormat().color);
  else if (low == "autosize") out = AsValue::String(AutoSizeText(o.autoSize));
  else if (low == "wordwrap") out = AsValue::Bool(o.wordWrap);
  else if (low == "multiline") out = AsValue::Bool(o.multiline);
  else if (low == "border") out = AsValue::Bool(o.border);
  else if (low == "bordercolor") out = AsValue::Number(o.borderColor);
  else if (low == "background") out = AsValue::Bool(o.background);
  else if (low == "backgroundcolor") out = AsValue::Number(o.backgroundColor);
  else if (low == "selectable") out = AsValue::Bool(o.selectable);
  else if (low == "type") out = AsValue::String(o.input ? "input" : "dynamic");
  else if (low == "embedfonts") out = AsValue::Bool(o.embedFonts);
  else if (low == "maxchars") out = o.maxChars > 0 ? AsValue::Number(o.maxChars) : AsValue::Null();
  else if (low == "variable") out = o.variable.empty() ? AsValue::Null() : AsValue::String(o.variable);
  else if (low == "password") out = AsValue::Bool(o.password);
  else if (low == "condensewhite") out = AsValue::Bool(o.condenseWhite);
  else if (low == "antialiastype") out = AsValue::String(o.antiAliasType);
  else if (low == "gridfittype") out = AsValue::String(o.gridFitType);
  else if (low == "thickness") out = AsValue::Number(o.thickness);
  else if (low == "sharpness") out = AsValue::Number(o.sharpness);
  else if (low == "scroll") out = AsValue::Number(std::min(f.Scroll(), f.Laid().maxScroll));
  else if (low == "maxscroll") out = AsValue::Number(f.Laid().maxScroll);
  else if (low == "bottomscroll") out = AsValue::Number(f.Laid().BottomScroll(f.Scroll()));
  else if (low == "hscroll") out = AsValue::Number(f.HScroll());
  else if (low == "maxhscroll") out = AsValue::Number(f.Laid().maxHScroll);
  else if (low == "textwidth") out = AsValue::Number(WholePixels(f.Laid().textWidth));
  else if (low == "textheight") out = AsValue::Number(WholePixels(f.Laid().textHeight));
  else if (low == "length") out = AsValue::Number(static_cast<double>(f.Length()));
  else if (low == "restrict" || low == "tabindex" || low == "filters") {
    // Kept as given, on the field's object; until set, restrict is null
    // and filters an empty list.
    AsObject* own = FieldObject(vm, inst.serial, false);
    const auto it = own ? own->props.find(vm.Key(low)) : decltype(own->props.end()){};
    if (own && it != own->props.end()) out = it->second.value;
    else if (low == "restrict") out = AsValue::Null();
    else if (low == "filters") out = AsValue::Object(vm.NewArray());
  }
  else if (low == "mousewheelenabled") {
    // True until a script turns it off; kept as a boolean on the field's object.
    AsObject* own = FieldObject(vm, inst.serial, false);
    const auto it = own ? own->props.find(vm.Key(low)) : decltype(own->props.end()){};
    out = own && it != own->props.end() ? it->second.value : AsValue::Bool(true);
  }
  else if (low == "stylesheet") {
    FieldObjects* fo = Objects(vm);
    auto it = fo ? fo->styleSheets.find(inst.serial) : decltype(fo->styleSheets.end()){};
    out = fo && it != fo->styleSheets.end() ? it->second : AsValue::Undefined();
  } else if (low == "_x") out = AsValue::Number((m.translateX + std::round(BoxOffsetX(inst, f) * 20)) / 20);
  else if (low == "_y") out = AsValue::Number((m.translateY + std::round(BoxOffsetY(inst, f) * 20)) / 20);
  else if (low == "_xscale") out = AsValue::Number(transform::ScaleX(inst.matrix, inst.scriptTransform) * 100);
  else if (low == "_yscale") out = AsValue::Number(transform::ScaleY(inst.matrix, inst.scriptTransform) * 100);
  else if (low == "_alpha") out = AsValue::Number(inst.cxform.alphaMult * 100.0 / 256);
  else if (low == "_visible") out = AsValue::Bool(inst.visible);
  else if (low == "_rotation") out = AsValue::Number(transform::RotationDegrees(inst.matrix, inst.scriptTransform));
  else if (low == "_width" || low == "_height") {
    Rect r;
    stage.Bounds(inst, r);
    out = AsValue::Number((low == "_width" ? r.Width() : r.Height()) / 20.0);
  } else if (low == "_name") out = AsValue::String(inst.name);
  else if (low == "_target") out = AsValue::String(vm.ClipPathText(stage.PathOf(inst.serial), true));
  else if (low == "_parent") out = vm.ClipValue(inst.parent);
  else if (low == "_root") out = vm.ClipValue(stage.RootOf(inst.serial));
  else if (low == "_level0") out = vm.ClipValue(kRootClip);
  else if (low == "_global") out = AsValue::Object(vm.Global());
  else if (low == "_quality") out = AsValue::String(stage.ScriptQuality().empty() ? "HIGH" : stage.ScriptQuality());
  else if (low == "_highquality") out = stage.GetClipProperty(kRootClip, 16, vm);
  else if (low == "_focusrect") out = stage.FocusRectProperty(inst.serial, vm);
  else if (low == "_url") out = AsValue::String("");
  else return false;
  return true;
}

text::AutoSize ParseAutoSize(Avm1& vm, const AsValue& v) {
  if (v.type == AsValue::Type::kBoolean) return v.num != 0 ? text::AutoSize::kLeft : text::AutoSize::kNone;
  const std::string s = Lower(vm.ToString(v));
  if (s == "left") return text::AutoSize::kLeft;
  if (s == "center") return text::AutoSize::kCenter;
  if (s == "right") return text::AutoSize::kRight;
  return text::AutoSize::kNone;
}

bool SetMember(Avm1& vm, Instance& inst, TextField& f, const std::string& low, const AsValue& v) {
  auto opts = [&]() -> TextField::Options& { return f.EditOpts(); };
  if (low == "_focusrect") {
    vm.GetStage().SetFocusRectProperty(inst.serial, v, vm);
  } else if (low == "text") {
    std::string s = vm.ToString(v);
    if (s.size() > kMaxFieldText) s.resize(kMaxFieldText);
    // A field with a style sheet reads whatever it is given as HTML.
    if (f.HasStyles()) f.SetHtmlText(s);
    else f.SetText(s);
    TextChanged(vm, inst, f);
  } else if (low == "htmltext") {
    std::string s = vm.ToString(v);
    if (s.size() > kMaxFieldText) s.resize(kMaxFieldText);
    if (f.Opts().html || f.HasStyles()) {
      // Before SWF 8 HTML text is aligned by its paragraphs alone, left
      // unless they say; later it starts from the field's alignment.
      if (vm.Version() < 8 && f.NewFormat().align != text::Align::kLeft) {
        FormatPatch left;
        left.align = text::Align::kLeft;
        f.SetNewFormat(left);
      }
      f.SetHtmlText(s);
    } else {
      f.SetText(s);
    }
    TextChanged(vm, inst, f);
  } else if (low == "html") opts().html = vm.ToBool(v);
  else if (low == "textcolor") {
    FormatPatch p;
    p.color = static_cast<std::uint32_t>(ToInt32(vm.ToNumber(v))) & 0xFFFFFF;
    f.SetFormat(0, f.Length(), p);
    f.SetNewFormat(p);
  } else if (low == "autosize") f.SetAutoSize(ParseAutoSize(vm, v));
  else if (low == "wordwrap") opts().wordWrap = vm.ToBool(v);
  else if (low == "multiline") opts().multiline = vm.ToBool(v);
  else if (low == "border") opts().border = vm.ToBool(v);
  else if (low == "bordercolor") opts().borderColor = static_cast<std::uint32_t>(ToInt32(vm.ToNumber(v))) & 0xFFFFFF;
  else if (low == "background") opts().background = vm.ToBool(v);
  else if (low == "backgroundcolor") {
    opts().backgroundColor = static_cast<std::uint32_t>(ToInt32(vm.ToNumber(v))) & 0xFFFFFF;
  } else if (low == "selectable") opts().selectable = vm.ToBool(v);
  else if (low == "type") opts().input = Lower(vm.ToString(v)) == "input";
  else if (low == "embedfonts") opts().embedFonts = vm.ToBool(v);
  else if (low == "tabindex") {
    // Kept as an unsigned 32-bit integer; undefined clears it.
    const AsValue kept =
        v.IsUndefined() ? v : AsValue::Number(static_cast<std::uint32_t>(ToInt32(vm.ToNumber(v))));
    if (AsObject* own = FieldObject(vm, inst.serial, true); own && !vm.Throwing()) vm.SetProp(own, low, kept, true);
  } else if (low == "restrict" || low == "filters") {
    if (AsObject* own = FieldObject(vm, inst.serial, true)) vm.SetProp(own, low, v, true);
  } else if (low == "maxchars") opts().maxChars = v.IsNullish() ? 0 : std::max(0, ToInt32(vm.ToNumber(v)));
  else if (low == "variable") {
    opts().variable = v.IsNullish() ? std::string() : vm.ToString(v);
    inst.text.reset();
    ShowVariable(vm, inst, f);
  }
  else if (low == "password") opts().password = vm.ToBool(v);
  else if (low == "mousewheelenabled") {
    if (AsObject* own = FieldObject(vm, inst.serial, true)) vm.SetProp(own, low, AsValue::Bool(vm.ToBool(v)), true);
  }
  else if (low == "condensewhite") opts().condenseWhite = vm.ToBool(v);
  else if (low == "antialiastype" || low == "gridfittype") {
    // Names Flash does not know leave the setting.
    const std::string s = vm.ToString(v);
    if (low == "antialiastype" && (s == "normal" || s == "advanced")) opts().antiAliasType = s;
    if (low == "gridfittype" && (s == "none" || s == "pixel" || s == "subpixel")) opts().gridFitType = s;
  } else if (low == "thickness") opts().thickness = vm.ToNumber(v);
  else if (low == "sharpness") opts().sharpness = vm.ToNumber(v);
  else if (low == "scroll") {
    // Flash keeps the first line shown as an int32 from 0: the value wraps to
    // 32 bits and one comes off with wrapping, so 2^31 lands on the last line.
    const auto line = static_cast<std::int32_t>(static_cast<std::uint32_t>(ToInt32(vm.ToNumber(v))) - 1u);
    f.SetScroll(line < 0 ? 1 : line == INT32_MAX ? INT32_MAX : line + 1);
  } else if (low == "hscroll") f.SetHScroll(ToInt32(vm.ToNumber(v)));  // whole pixels, wrapping as int
  else if (low == "maxscroll" || low == "bottomscroll" || low == "maxhscroll" || low == "textwidth" ||
           low == "textheight" || low == "length" || low == "_target" || low == "_parent") {
    // Read-only.
  } else if (low == "stylesheet") {
    FieldObjects* fo = Objects(vm);
    const SheetData* d = v.type == AsValue::Type::kObject ? v.obj->Native<SheetData>() : nullptr;
    // Any object is kept; only a style sheet styles the text.
    if (fo) {
      if (v.type == AsValue::Type::kObject) fo->styleSheets[inst.serial] = v;
      else fo->styleSheets.erase(inst.serial);
    }
    f.SetStyles(d ? RulesOf(*d) : nullptr);
  } else if (low == "_name") {
    inst.name = vm.ToString(v);
  } else if (low == "_visible") {
    const bool shown = vm.ToBool(v);
    const ClipHandle serial = inst.serial;
    inst.visible = shown;
    // A field hidden loses the focus.
    if (!shown) FocusLeavingWith(vm, serial);
  } else if (low == "_x" || low == "_y" || low == "_xscale" || low == "_yscale" || low == "_alpha" ||
             low == "_rotation" || low == "_width" || low == "_height") {
    double d = vm.ToNumber(v);
    if (!std::isfinite(d)) return true;
    Matrix& m = inst.matrix;
    // A field's position and size drop fractions of a twip.
    if (low == "_x" || low == "_y" || low == "_width" || low == "_height") d = std::trunc(std::clamp(d, -1e8, 1e8) * 20) / 20;
    if (low == "_x") {
      m.translateX = static_cast<std::int32_t>(std::lround(std::clamp((d - BoxOffsetX(inst, f)) * 20, -2e9, 2e9)));
    } else if (low == "_y") {
      m.translateY = static_cast<std::int32_t>(std::lround(std::clamp((d - BoxOffsetY(inst, f)) * 20, -2e9, 2e9)));
    } else if (low == "_xscale" || low == "_yscale" || low == "_rotation") {
      if (low == "_xscale") transform::SetScaleX(m, inst.scriptTransform, d / 100);
      else if (low == "_yscale") transform::SetScaleY(m, inst.scriptTransform, d / 100);
      else transform::SetRotationDegrees(m, inst.scriptTransform, d);
    } else if (low == "_alpha") {
      inst.cxform.alphaMult = static_cast<std::int32_t>(std::clamp(d * 256 / 100, -1e6, 1e6));
    } else {
      // A field's size is its box's, not a scale: the value is the box's own
      // size, which the field's scale then stretches.
      if (low == "_width") f.SetWidth(std::clamp(d, 0.0, 1e6));
      else f.SetHeight(std::clamp(d, 0.0, 1e6));
    }
    inst.scripted = true;
  } else {
    return false;
  }
  return true;
}

// ---- TextField methods --------------------------------------------------------------------

TextField* SelfField(Avm1& vm, const AsValue& self, Instance** inst = nullptr) {
  Instance* i = FieldInstance(vm, self);
  if (inst) *inst = i;
  return i ? FieldOf(vm, i) : nullptr;
}

std::size_t Index(Avm1& vm, const AsValue& v, std::size_t len) {
  const double d = vm.ToNumber(v);
  if (!std::isfinite(d) || d < 0) return 0;
  return static_cast<std::size_t>(std::min(d, static_cast<double>(len)));
}

AsValue FieldSetTextFormat(Avm1& vm, const AsValue& self, AsArgs a) {
  Instance* inst = nullptr;
  TextField* f = SelfField(vm, self, &inst);
  if (!f || a.empty()) return {};
  const std::size_t len = f->Length();
  const AsValue fmt = a[a.size() - 1];
  if (fmt.type != AsValue::Type::kObject) return {};
  std::size_t begin = 0, end = len;
  if (a.size() == 2) {
    begin = Index(vm, a[0], len);
    end = begin + 1;
  } else if (a.size() >= 3) {
    begin = Index(vm, a[0], len);
    end = Index(vm, a[1], len);
  }
  if (end > begin) f->SetFormat(begin, end, PatchOf(vm, fmt));
  return {};
}

AsValue FieldGetTextFormat(Avm1& vm, const AsValue& self, AsArgs a) {
  TextField* f = SelfField(vm, self);
  if (!f) return {};
  const std::size_t len = f->Length();
  std::size_t begin = 0, end = len;
  if (a.size() == 1) {
    begin = Index(vm, a[0], len);
    end = begin + 1;
  } else if (a.size() >= 2) {
    begin = Index(vm, a[0], len);
    end = Index(vm, a[1], len);
  }
  // An empty range has no format: every member is null.
  if (end <= begin) {
    AsObject* o = vm.NewObject(TextFormatProto(vm));
    MakeFormatData(o);
    return AsValue::Object(o);
  }
  return MakeFormat(vm, f->GetFormat(begin, end));
}

AsValue FieldSetNewTextFormat(Avm1& vm, const AsValue& self, AsArgs a) {
  if (TextField* f = SelfField(vm, self); f && Arg(a, 0).type == AsValue::Type::kObject) {
    f->SetNewFormat(PatchOf(vm, a[0]));
  }
  return {};
}

AsValue FieldGetNewTextFormat(Avm1& vm, const AsValue& self, AsArgs) {
  TextField* f = SelfField(vm, self);
  return f ? MakeFormat(vm, FormatPatch::From(f->NewFormat())) : AsValue{};
}

AsValue FieldReplaceText(Avm1& vm, const AsValue& self, AsArgs a) {
  Instance* inst = nullptr;
  TextField* f = SelfField(vm, self, &inst);
  if (!f || a.size() < 3) return {};
  const std::size_t len = f->Length();
  const std::size_t begin = Index(vm, a[0], len), end = Index(vm, a[1], len);
  if (end < begin) return {};
  f->ReplaceText(begin, end, Str(vm, a, 2));
  TextChanged(vm, *inst, *f);
  return {};
}

AsValue FieldReplaceSel(Avm1& vm, const AsValue& self, AsArgs a) {
  Instance* inst = nullptr;
  TextField* f = SelfField(vm, self, &inst);
  if (!f) return {};
  // The text takes the selection's place; the caret follows it.
  const std::string s = Str(vm, a, 0);
  const std::size_t begin = f->SelectionBegin();
  f->ReplaceText(begin, f->SelectionEnd(), s);
  const std::size_t caret = begin + text::FromUtf8(s).size();
  f->SetSelection(caret, caret);
  TextChanged(vm, *inst, *f);
  return {};
}

AsValue FieldRemove(Avm1& vm, const AsValue& self, AsArgs) {
  if (Instance* inst = FieldInstance(vm, self)) vm.GetStage().RemoveClip(inst->serial);
  return {};
}

AsValue FieldGetDepth(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = FieldInstance(vm, self);
  return inst ? AsValue::Number(inst->depth - kDepthOffset) : AsValue{};
}

AsValue FieldSwapDepths(Avm1& vm, const AsValue& self, AsArgs a) {
  Instance* inst = FieldInstance(vm, self);
  if (!inst) return {};
  Stage& stage = vm.GetStage();
  const ClipHandle me = inst->serial;
  if (Arg(a, 0).type == AsValue::Type::kClip) {
    Instance* other = stage.Find(vm.ClipOf(a[0]));
    if (other && other->parent == inst->parent) stage.SwapDepths(me, other->depth - kDepthOffset);
    return {};
  }
  const double d = Num(vm, a, 0);
  if (std::isfinite(d)) stage.SwapDepths(me, ToInt32(d));
  return {};
}

AsValue FieldFontList(Avm1& vm, const AsValue&, AsArgs) {
  std::vector<AsValue> names;
  for (const char* n : {"_sans", "_serif", "_typewriter", "Arial", "Courier New", "Georgia", "Tahoma",
                        "Times New Roman", "Trebuchet MS", "Verdana"}) {
    names.push_back(AsValue::String(n));
  }
  return AsValue::Object(vm.NewArray(std::move(names)));
}

// TextField.prototype's properties, in the order for..in lists them. They
// belong to fields; on any other object they read undefined and writes are lost.
constexpr const char* kFieldProps[] = {
    "styleSheet", "mouseWheelEnabled", "condenseWhite", "restrict",        "textHeight",  "textWidth",
    "bottomScroll", "length",          "selectable",    "multiline",       "password",    "wordWrap",
    "background", "border",            "html",          "embedFonts",      "maxChars",    "maxhscroll",
    "hscroll",    "variable",          "htmlText",      "type",            "text",        "autoSize",
    "tabIndex",   "textColor",         "backgroundColor", "borderColor",   "maxscroll",   "scroll",
    "filters",    "sharpness",         "thickness",     "antiAliasType",   "gridFitType"};
constexpr std::size_t kFirstSwf8Prop = 30;  // filters and after came with SWF 8

template <std::size_t kI>
AsValue GetFieldProp(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = FieldInstance(vm, self);
  TextField* f = inst ? FieldOf(vm, inst) : nullptr;
  AsValue out;
  if (f) GetMember(vm, *inst, *f, Lower(kFieldProps[kI]), out);
  return out;
}
template <std::size_t kI>
AsValue SetFieldProp(Avm1& vm, const AsValue& self, AsArgs a) {
  Instance* inst = FieldInstance(vm, self);
  if (TextField* f = inst ? FieldOf(vm, inst) : nullptr) {
    SetMember(vm, *inst, *f, Lower(kFieldProps[kI]), Arg(a, 0));
  } else if (kI >= kFirstSwf8Prop && vm.Version() < 8 && Self(self)) {
    // Older movies know these as plain properties.
    vm.SetProp(Self(self), kFieldProps[kI], Arg(a, 0));
  }
  return {};
}
template <std::size_t... kI>
void AddFieldProps(Avm1& vm, AsObject* proto, std::index_sequence<kI...>) {
  constexpr std::size_t kLast = sizeof...(kI) - 1;
  // Added last first: for..in lists the newest first.
  (vm.AddAccessor(proto, kFieldProps[kLast - kI], GetFieldProp<kLast - kI>, SetFieldProp<kLast - kI>), ...);
  for (const char* name : kFieldProps) proto->props[vm.Key(name)].hidden = false;
}

AsValue FieldCtor(Avm1&, const AsValue&, AsArgs) { return {}; }

// MovieClip.createTextField(name, depth, x, y, width, height).
AsValue McCreateTextField(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip || a.size() < 6) return {};
  const ClipHandle parent = vm.ClipOf(self);
  const std::string name = Str(vm, a, 0);
  const double depth = Num(vm, a, 1);
  // The box is in whole pixels: fractions are dropped.
  double box[4];
  for (std::size_t i = 0; i < 4; ++i) box[i] = std::clamp<double>(ToInt32(Num(vm, a, i + 2)), -1e6, 1e6);
  if (!std::isfinite(depth)) return {};
  auto field = std::make_shared<TextField>();
  field->SetLibrary(&vm.GetStage().Library());
  // A negative size reaches back from the field's position.
  field->SetBox(0, 0, box[2], box[3]);
  const ClipHandle made = vm.GetStage().CreateTextField(parent, name, ToInt32(depth), std::move(field));
  if (made == kNoClip) return {};
  if (Instance* inst = vm.GetStage().Find(made)) {
    inst->matrix.translateX = static_cast<std::int32_t>(std::lround(box[0] * 20));
    inst->matrix.translateY = static_cast<std::int32_t>(std::lround(box[1] * 20));
  }
  // Before SWF 8 it returns nothing.
  return vm.Version() >= 8 ? vm.ClipValue(made) : AsValue{};
}

// ---- Selection ------------------------------------------------------------------------------

AsValue SelGetFocus(Avm1& vm, const AsValue&, AsArgs) {
  FieldObjects* fo = Objects(vm);
  if (!fo || fo->focus.type != AsValue::Type::kClip || vm.ClipOf(fo->focus) == kNoClip) return AsValue::Null();
  return AsValue::String(vm.ToString(fo->focus));
}

AsValue SelSetFocus(Avm1& vm, const AsValue&, AsArgs a) {
  FieldObjects* fo = Objects(vm);
  if (!fo) return AsValue::Bool(false);
  AsValue target = Arg(a, 0);
  // A path names text fields as well as clips.
  if (target.type == AsValue::Type::kString) target = vm.Evaluate(target.Text());
  const AsValue now = target.type == AsValue::Type::kClip ? target : AsValue::Null();
  // A movie clip takes the focus only when it asks for it or acts as a button.
  if (now.type == AsValue::Type::kClip) {
    const ClipHandle clip = vm.ClipOf(now);
    const Instance* inst = vm.GetStage().Find(clip);
    const bool plainClip = inst && !IsField(inst) && !(inst->def && inst->def->kind == Character::Kind::kButton);
    if (plainClip && !vm.ToBool(vm.Get(now, "focusEnabled"))) {
      bool button = false;
      for (const char* h : {"onPress", "onRelease", "onReleaseOutside", "onRollOver", "onRollOut", "onDragOver",
                            "onDragOut"}) {
        button = button || vm.HasHandler(clip, h);
      }
      if (!button) return AsValue::Bool(false);
    }
  }
  const AsValue before = fo->focus.type == AsValue::Type::kClip ? fo->focus : AsValue::Null();
  fo->focus = now;
  // A field given the focus by a script has all its text selected.
  if (TextField* f = SelfField(vm, now)) f->SetSelection(0, f->Length());
  fo->focusMoving = true;
  if (!vm.StrictEquals(before, now)) {
    // The field losing focus hears first, then the one gaining it, then
    // Selection's listeners (the components' focus managers).
    auto tell = [&](const AsValue& on, const char* event, const AsValue& other) {
      if (on.type != AsValue::Type::kClip) return;
      const AsValue fn = vm.Get(on, event);
      std::vector<AsValue> args{other};
      if (fn.type == AsValue::Type::kObject && fn.obj->fn) vm.Call(fn, on, args);
    };
    tell(before, "onKillFocus", now);
    tell(now, "onSetFocus", before);
    const AsValue selection = vm.Get(AsValue::Object(vm.Global()), "Selection");
    AsValue args[] = {before, now};
    vm.Broadcast(selection, "onSetFocus", args);
  }
  fo->focusMoving = false;
  // Clearing the focus with null or undefined succeeds too.
  return AsValue::Bool(now.type == AsValue::Type::kClip || Arg(a, 0).IsNullish());
}

// The focused field's selection; -1 without a focused field, and while
// the focus is still moving (its handlers running).
TextField* FocusedField(Avm1& vm) {
  FieldObjects* fo = Objects(vm);
  return fo && !fo->focusMoving ? SelfField(vm, fo->focus) : nullptr;
}
AsValue SelBegin(Avm1& vm, const AsValue&, AsArgs) {
  TextField* f = FocusedField(vm);
  return AsValue::Number(f ? static_cast<double>(f->SelectionBegin()) : -1);
}
AsValue SelEnd(Avm1& vm, const AsValue&, AsArgs) {
  TextField* f = FocusedField(vm);
  return AsValue::Number(f ? static_cast<double>(f->SelectionEnd()) : -1);
}
AsValue SelCaret(Avm1& vm, const AsValue&, AsArgs) {
  TextField* f = FocusedField(vm);
  return AsValue::Number(f ? static_cast<double>(f->Caret()) : -1);
}
AsValue SelSetSelection(Avm1& vm, const AsValue&, AsArgs a) {
  TextField* f = FocusedField(vm);
  if (!f || a.empty()) return {};
  const std::size_t len = f->Length();
  // The second index is where the caret goes; without it the caret stays.
  f->SetSelection(Index(vm, a[0], len), a.size() > 1 ? Index(vm, a[1], len) : f->Caret());
  return {};
}

AsValue TextRendererCtor(Avm1&, const AsValue&, AsArgs) { return {}; }
AsValue TextRendererIgnore(Avm1&, const AsValue&, AsArgs) { return {}; }

}  // namespace

void FocusLeavingWith(Avm1& vm, ClipHandle clip) {
  FieldObjects* fo = Objects(vm);
  if (!fo || fo->focus.type != AsValue::Type::kClip || fo->focusMoving) return;
  Stage& stage = vm.GetStage();
  ClipHandle at = vm.ClipOf(fo->focus);
  for (int guard = 0; at != kNoClip && at != clip && guard < 1024; ++guard) at = stage.ParentOf(at);
  if (at != clip || clip == kNoClip) return;
  const AsValue before = fo->focus;
  fo->focus = AsValue::Null();
  const AsValue selection = vm.Get(AsValue::Object(vm.Global()), "Selection");
  AsValue args[] = {before, AsValue::Null()};
  vm.Broadcast(selection, "onSetFocus", args);
}

bool GetTextFieldMember(Avm1& vm, ClipHandle clip, const std::string& name, AsValue& out) {
  Instance* inst = vm.GetStage().Find(clip);
  TextField* f = FieldOf(vm, inst);
  if (!f) return false;
  out = {};
  const std::string low = Lower(name);
  if (GetMember(vm, *inst, *f, low, out)) return true;
  const bool broadcasting = low == "_listeners" || low == "addlistener" || low == "removelistener" ||
                            low == "broadcastmessage";
  if (AsObject* o = FieldObject(vm, clip, broadcasting)) {
    out = vm.Get(AsValue::Object(o), name);
  } else if (AsObject* p = Proto(vm)) {
    out = vm.Get(AsValue::Object(p), name);
  }
  return true;
}

bool SetTextFieldMember(Avm1& vm, ClipHandle clip, const std::string& name, const AsValue& v) {
  Instance* inst = vm.GetStage().Find(clip);
  TextField* f = FieldOf(vm, inst);
  if (!f) return false;
  if (SetMember(vm, *inst, *f, Lower(name), v)) return true;
  if (AsObject* o = FieldObject(vm, clip, true)) vm.Set(AsValue::Object(o), name, v);
  return true;
}

bool IsTextField(Avm1& vm, ClipHandle clip) { return IsField(vm.GetStage().Find(clip)); }

AsObject* TextFieldObject(Avm1& vm, ClipHandle clip, bool make) {
  return IsTextField(vm, clip) ? FieldObject(vm, clip, make) : nullptr;
}

AsObject* TextFieldPrototype(Avm1& vm) { return Proto(vm); }

void InstallText(Avm1& vm) {
  AsObject* global = vm.Global();
  AsObject* proto = vm.NewRootObject(vm.ObjectProto());
  AsObject* field = vm.NewClass(global, "TextField", FieldCtor, proto);
  auto objects = std::make_unique<FieldObjects>();
  objects->stage = &vm.GetStage();
  field->native = std::move(objects);
  vm.NewFunction("getFontList", FieldFontList, field);
  const std::pair<const char*, AsNative> methods[] = {
      {"setTextFormat", FieldSetTextFormat}, {"getTextFormat", FieldGetTextFormat},
      {"setNewTextFormat", FieldSetNewTextFormat}, {"getNewTextFormat", FieldGetNewTextFormat},
      {"replaceText", FieldReplaceText},     {"replaceSel", FieldReplaceSel},
      {"removeTextField", FieldRemove},      {"getDepth", FieldGetDepth},
      {"swapDepths", FieldSwapDepths}};
  for (const auto& [n, fn] : methods) vm.NewFunction(n, fn, proto);
  proto->props[vm.Key("replaceText")].versions = kPropVersion7;
  AddFieldProps(vm, proto, std::make_index_sequence<std::size(kFieldProps)>{});

  AsObject* sheetProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(field, "StyleSheet", SheetCtor, sheetProto);
  field->props[vm.Key("StyleSheet")].versions = kPropVersion7;  // from Flash 7
  const std::pair<const char*, AsNative> sheet[] = {
      {"parseCSS", SheetParse},         {"setStyle", SheetSetStyle}, {"getStyle", SheetGetStyle},
      {"getStyleNames", SheetNames},    {"clear", SheetClear},       {"transform", SheetTransform},
      {"load", SheetLoad},              {"parse", SheetParse}};
  for (const auto& [n, fn] : sheet) {
    vm.NewFunction(n, fn, sheetProto);
    AsProperty& p = sheetProto->props[vm.Key(n)];
    p.dontDelete = p.readOnly = true;
  }
  vm.NewFunction("onData", SheetOnData, sheetProto);

  AsObject* formatProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "TextFormat", TextFormatCtor, formatProto);
  vm.NewFunction("getTextExtent", TfGetTextExtent, formatProto);
  AddSlotAccessors(vm, formatProto, std::make_index_sequence<kSlots>{});

  vm.NewFunction("createTextField", McCreateTextField, vm.ClipProto());

  // Selection may already exist with its listeners: focus joins it.
  AsValue sel = vm.Get(AsValue::Object(global), "Selection");
  AsObject* selection = sel.type == AsValue::Type::kObject ? sel.obj : vm.NewRootObject(vm.ObjectProto());
  if (sel.type != AsValue::Type::kObject) vm.SetProp(global, "Selection", AsValue::Object(selection), true);
  const std::pair<const char*, AsNative> selMethods[] = {
      {"getFocus", SelGetFocus},          {"setFocus", SelSetFocus},         {"getBeginIndex", SelBegin},
      {"getEndIndex", SelEnd},            {"getCaretIndex", SelCaret},         {"setSelection", SelSetSelection}};
  for (const auto& [n, fn] : selMethods) vm.NewFunction(n, fn, selection);
  // A broadcaster, as Key and Mouse are: focus changes reach its listeners.
  const AsValue broadcaster = vm.Get(AsValue::Object(global), "AsBroadcaster");
  const AsValue initialize = vm.Get(broadcaster, "initialize");
  std::vector<AsValue> target{AsValue::Object(selection)};
  if (initialize.type == AsValue::Type::kObject && initialize.obj->fn) vm.Call(initialize, broadcaster, target);
  InstallTextSnapshot(vm);

  // flash.text.TextRenderer: the anti-aliasing settings, which our text
  // drawing does not take; the class is there for movies that set them.
  AsObject* renderer = vm.NewClass(Package(vm, "flash.text"), "TextRenderer", TextRendererCtor);
  vm.SetProp(renderer, "maxLevel", AsValue::Number(4), true);
  vm.SetProp(renderer, "displayMode", AsValue::String("default"), true);
  vm.NewFunction("setAdvancedAntialiasingTable", TextRendererIgnore, renderer);
}

}  // namespace quarvel::player::avm1_builtins
