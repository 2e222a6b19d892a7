#include "player/as3/text_binding.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "player/avm2/builtins_util.h"
#include "player/avm2/utf16.h"
#include "player/as3/native_object.h"
#include "player/as3/text_host.h"
#include "player/library/movie_library.h"
#include "player/display/stage.h"
#include "player/text/text_field.h"

namespace quarvel::player {
namespace {

using avm2::Class;
using avm2::Machine;
using avm2::Object;
using avm2::ObjectKind;
using avm2::Value;
using text::FormatPatch;

// ---- TextFormat: every member may be unset (null to scripts).

struct TextFormatObject : as3::NativeBase {
  TextFormatObject() : NativeBase(as3::NativeKind::kTextFormat) {}
  static bool Holds(as3::NativeKind k) { return k == as3::NativeKind::kTextFormat; }
  FormatPatch p;
  std::optional<std::string> display = "block";
};
Object* AllocTextFormat(Machine& m, Class*) { return m.heap().New<TextFormatObject>(); }

TextFormatObject* Tfo(Machine&, const Value& v) { return as3::As<TextFormatObject>(v); }

enum FormatMember {
  kFont, kSize, kColor, kBold, kItalic, kUnderline, kUrl, kTarget, kAlign, kLeftMargin, kRightMargin, kIndent,
  kLeading, kBlockIndent, kBullet, kKerning, kLetterSpacing, kTabStops, kDisplay, kMemberCount
};
const char* const kMemberNames[kMemberCount] = {
    "font", "size", "color", "bold", "italic", "underline", "url", "target", "align", "leftMargin", "rightMargin",
    "indent", "leading", "blockIndent", "bullet", "kerning", "letterSpacing", "tabStops", "display"};

const char* AlignName(text::Align a) {
  switch (a) {
    case text::Align::kRight: return "right";
    case text::Align::kCenter: return "center";
    case text::Align::kJustify: return "justify";
    default: return "left";
  }
}

Value OptNum(const std::optional<double>& d) { return d ? Value::Number(*d) : Value::Null(); }
Value OptBool(const std::optional<bool>& b) { return b ? Value::Bool(*b) : Value::Null(); }
Value OptStr(Machine& m, const std::optional<std::string>& s) { return s ? m.Str(*s) : Value::Null(); }

Value GetMember(Machine& m, TextFormatObject& t, int k) {
  const FormatPatch& p = t.p;
  switch (k) {
    case kFont: return OptStr(m, p.font);
    case kSize: return OptNum(p.size);
    case kColor: return p.color ? Value::Int(static_cast<std::int32_t>(*p.color)) : Value::Null();
    case kBold: return OptBool(p.bold);
    case kItalic: return OptBool(p.italic);
    case kUnderline: return OptBool(p.underline);
    case kUrl: return OptStr(m, p.url);
    case kTarget: return OptStr(m, p.target);
    case kAlign: return p.align ? m.Str(AlignName(*p.align)) : Value::Null();
    case kLeftMargin: return OptNum(p.leftMargin);
    case kRightMargin: return OptNum(p.rightMargin);
    case kIndent: return OptNum(p.indent);
    case kLeading: return OptNum(p.leading);
    case kBlockIndent: return OptNum(p.blockIndent);
    case kBullet: return OptBool(p.bullet);
    case kKerning: return OptBool(p.kerning);
    case kLetterSpacing: return OptNum(p.letterSpacing);
    case kTabStops: {
      if (!p.tabStops) return Value::Null();
      std::vector<Value> v;
      for (double d : *p.tabStops) v.push_back(Value::Number(d));
      return Value::Obj(m.NewArray(std::move(v)));
    }
    case kDisplay: return OptStr(m, t.display);
    default: return Value::Null();
  }
}

// Integer members are ints in Flash, converted as the processor does:
// rounded half to even, and what does not fit (NaN too) is the lowest int.
std::optional<double> WholeOrNull(Machine& m, const Value& v) {
  if (v.IsNullish()) return std::nullopt;
  const double d = std::nearbyint(m.ToNumber(v));
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) return -2147483648.0;
  return d;
}
std::optional<bool> BoolOrNull(Machine& m, const Value& v) {
  if (v.IsNullish()) return std::nullopt;
  return m.ToBoolean(v);
}
std::optional<std::string> StrOrNull(Machine& m, const Value& v) {
  if (v.IsNullish()) return std::nullopt;
  return m.ToString(v);
}

// Bounds that keep hostile scripts from laying out without end.
constexpr double kMaxSize = 2000;
constexpr std::size_t kMaxFieldText = std::size_t{1} << 20;
constexpr std::size_t kMaxFontName = 64;
std::string Capped(std::string s) {
  if (s.size() > kMaxFieldText) s.resize(kMaxFieldText);
  return s;
}

void SetMember(Machine& m, TextFormatObject& t, int k, const Value& v) {
  FormatPatch& p = t.p;
  switch (k) {
    case kFont:
      // A format keeps at most 64 UTF-16 units of a font name; HTML does not cut it.
      p.font = StrOrNull(m, v);
      if (p.font && avm2::Utf16Length(*p.font) > kMaxFontName)
        p.font->resize(avm2::ByteOfUtf16Index(*p.font, kMaxFontName));
      break;
    case kSize: p.size = WholeOrNull(m, v); break;
    case kColor:
      // Kept as the int it was given; a field takes its low 24 bits.
      if (v.IsNullish()) p.color.reset();
      else p.color = static_cast<std::uint32_t>(m.ToInt(v));
      break;
    case kBold: p.bold = BoolOrNull(m, v); break;
    case kItalic: p.italic = BoolOrNull(m, v); break;
    case kUnderline: p.underline = BoolOrNull(m, v); break;
    case kUrl: p.url = StrOrNull(m, v); break;
    case kTarget: p.target = StrOrNull(m, v); break;
    case kAlign: {
      if (v.IsNullish()) {
        p.align.reset();
        break;
      }
      const std::string s = m.ToString(v);
      if (s == "left") p.align = text::Align::kLeft;
      else if (s == "right") p.align = text::Align::kRight;
      else if (s == "center") p.align = text::Align::kCenter;
      else if (s == "justify") p.align = text::Align::kJustify;
      else m.ThrowError("ArgumentError", "Parameter align must be one of the accepted values.", 2008);
      break;
    }
    case kLeftMargin: p.leftMargin = WholeOrNull(m, v); break;
    case kRightMargin: p.rightMargin = WholeOrNull(m, v); break;
    case kIndent: p.indent = WholeOrNull(m, v); break;
    case kLeading: p.leading = WholeOrNull(m, v); break;
    case kBlockIndent: p.blockIndent = WholeOrNull(m, v); break;
    case kBullet: p.bullet = BoolOrNull(m, v); break;
    case kKerning: p.kerning = BoolOrNull(m, v); break;
    case kLetterSpacing:
      if (v.IsNullish()) p.letterSpacing.reset();
      else p.letterSpacing = m.ToNumber(v);
      break;
    case kTabStops: {
      if (v.IsNullish()) {
        p.tabStops.reset();
        break;
      }
      std::vector<double> stops;
      if (auto* arr = avm2::AsArray(v))
        for (const Value& e : arr->elems) stops.push_back(*WholeOrNull(m, e.IsNullish() ? Value::Int(0) : e));
      p.tabStops = std::move(stops);
      break;
    }
    case kDisplay: {
      if (v.IsNullish()) m.ThrowError("TypeError", "Parameter display must be non-null.", 2007);
      std::string d = m.ToString(v);
      if (d == "none" || d == "inline" || d == "block") t.display = std::move(d);
      else t.display.reset();
      break;
    }
    default: break;
  }
}

template <int K>
Value FormatGet(Machine& m, Value self, std::span<Value>) {
  TextFormatObject* t = Tfo(m, self);
  return t ? GetMember(m, *t, K) : Value::Null();
}
template <int K>
Value FormatSet(Machine& m, Value self, std::span<Value> a) {
  if (TextFormatObject* t = Tfo(m, self)) SetMember(m, *t, K, m.ArgOr(a, 0));
  return Value();
}

template <int... K>
void AddFormatAccessors(Machine& m, Class* c, std::integer_sequence<int, K...>) {
  ((m.AddGetter(c, kMemberNames[K], FormatGet<K>), m.AddSetter(c, kMemberNames[K], FormatSet<K>)), ...);
}

// new TextFormat(font, size, color, bold, italic, underline, url, target,
//                align, leftMargin, rightMargin, indent, leading)
NATIVE(TextFormatCtor) {
  TextFormatObject* t = Tfo(m, self);
  if (!t) return self;
  for (int k = 0; k <= kLeading && k < static_cast<int>(a.size()); ++k) SetMember(m, *t, k, a[k]);
  return self;
}

Class* TextFormatClass(Machine& m) { return m.FindClass("flash.text::TextFormat"); }

Value NewTextFormat(Machine& m, const FormatPatch& p) {
  Object* o = m.Construct(TextFormatClass(m), {});
  if (TextFormatObject* t = Tfo(m, Value::Obj(o))) t->p = p;
  return Value::Obj(o);
}

// ---- TextField

text::TextField* Field(Machine& m, const Value& self) {
  Instance* i = As3Node(m, self);
  if (!i) return nullptr;
  if (!i->field) MakeTextFieldOf(*i, As3LibraryOf(m, *i), false);
  return i->field.get();
}
text::TextField* EditField(Machine& m, const Value& self) { return Field(m, self); }

#define FIELD_OR(dflt)                        \
  text::TextField* tf = Field(m, self);      \
  if (!tf) return dflt;

std::size_t Index(Machine& m, const Value& v, std::size_t dflt) {
  if (v.IsUndefined()) return dflt;
  const double d = m.ToNumber(v);
  if (!std::isfinite(d) || d < 0) return dflt;
  return static_cast<std::size_t>(d);
}

NATIVE(TfGetText) {
  FIELD_OR(m.Str(""));
  return m.Str(tf->Text());
}
// A field styles the HTML it is given by its sheet as the sheet is then.
void RenewStyles(Machine& m, const Value& self, text::TextField& tf);

NATIVE(TfSetText) {
  if (text::TextField* tf = EditField(m, self)) {
    if (a.empty() || a[0].IsNull()) m.ThrowError("TypeError", "Parameter text must be non-null.", 2007);
    // A field with a style sheet reads the text it is given as HTML.
    std::string text = Capped(m.ToString(a[0]));
    if (tf->HasStyles()) {
      RenewStyles(m, self, *tf);
      tf->SetHtmlText(text);
    }
    // The text the field holds given again changes nothing, its formats included.
    else if (text != tf->Text()) tf->SetText(text);
  }
  return Value();
}
NATIVE(TfGetHtmlText) {
  FIELD_OR(m.Str(""));
  return m.Str(tf->HtmlText());
}
NATIVE(TfSetHtmlText) {
  if (text::TextField* tf = EditField(m, self)) {
    if (a.empty() || a[0].IsNull()) m.ThrowError("TypeError", "Parameter htmlText must be non-null.", 2007);
    // The field's own htmlText given back changes nothing, not even text
    // edited since that the HTML would write the same.
    std::string html = Capped(m.ToString(a[0]));
    if (html != tf->HtmlText()) {
      RenewStyles(m, self, *tf);
      tf->SetHtmlText(html);
    }
  }
  return Value();
}
// The selection is kept whether or not the field has focus.
NATIVE(TfCaretIndex) {
  FIELD_OR(Value::Int(0));
  return Value::Int(static_cast<std::int32_t>(tf->Caret()));
}
NATIVE(TfSelectionBegin) {
  FIELD_OR(Value::Int(0));
  return Value::Int(static_cast<std::int32_t>(tf->SelectionBegin()));
}
NATIVE(TfSelectionEnd) {
  FIELD_OR(Value::Int(0));
  return Value::Int(static_cast<std::int32_t>(tf->SelectionEnd()));
}
// setSelection(begin, end): each index held within the text.
NATIVE(TfSetSelection) {
  FIELD_OR(Value());
  auto at = [&](std::size_t k) {
    const double d = avm2::ArgNum(m, a, k, 0);
    return static_cast<std::size_t>(std::clamp(std::isfinite(d) ? d : 0.0, 0.0, static_cast<double>(tf->Length())));
  };
  tf->SetSelection(at(0), at(1));
  return Value();
}
NATIVE(TfAppendText) {
  if (text::TextField* tf = EditField(m, self)) {
    const std::string s = avm2::ArgStr(m, a, 0, "");
    if (tf->Length() + s.size() > kMaxFieldText) m.ThrowError("Error", "The text field cannot hold more text.", 1000);
    tf->ReplaceText(tf->Length(), tf->Length(), s);
  }
  return Value();
}
NATIVE(TfReplaceText) {
  if (text::TextField* tf = EditField(m, self)) {
    const std::size_t b = Index(m, m.ArgOr(a, 0), 0), e = Index(m, m.ArgOr(a, 1), b);
    if (b > tf->Length() || e > tf->Length() || e < b)
      m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
    const std::string s = avm2::ArgStr(m, a, 2, "");
    if (tf->Length() + s.size() > kMaxFieldText) m.ThrowError("Error", "The text field cannot hold more text.", 1000);
    tf->ReplaceText(b, e, s);
  }
  return Value();
}
// replaceSelectedText(value): the text takes the selection's place and the
// caret follows it.
NATIVE(TfReplaceSelectedText) {
  if (text::TextField* tf = EditField(m, self)) {
    const Value v = m.ArgOr(a, 0);
    if (v.IsNull()) m.ThrowError("TypeError", "Parameter value must be non-null.", 2007);
    const std::string s = m.ToString(v);
    const std::size_t b = tf->SelectionBegin(), e = tf->SelectionEnd();
    if (tf->Length() - (e - b) + s.size() > kMaxFieldText)
      m.ThrowError("Error", "The text field cannot hold more text.", 1000);
    tf->ReplaceText(b, e, s);
    const std::size_t caret = b + text::FromUtf8(s).size();
    tf->SetSelection(caret, caret);
  }
  return Value();
}
NATIVE(TfLength) {
  FIELD_OR(Value::Int(0));
  return Value::Int(static_cast<std::int32_t>(tf->Length()));
}

// setTextFormat(format, begin = -1, end = -1): the whole text, one
// character, or a range.
void Range(Machine& m, std::span<Value> a, std::size_t from, std::size_t length, std::size_t& b, std::size_t& e) {
  const double bi = a.size() > from ? m.ToNumber(a[from]) : -1;
  const double ei = a.size() > from + 1 ? m.ToNumber(a[from + 1]) : -1;
  if (bi < 0 || !std::isfinite(bi)) {
    b = 0;
    e = ei < 0 || !std::isfinite(ei) ? length : static_cast<std::size_t>(ei);
    if (e > length) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
    return;
  }
  b = static_cast<std::size_t>(bi);
  e = ei < 0 || !std::isfinite(ei) ? b + 1 : static_cast<std::size_t>(ei);
  if (b > length || e > length || e < b) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
}
// A format as a field takes it: an empty font name leaves the field's font
// as it is, the colour is 24 bits, and sizes stay in bounds the layout can
// work in.
FormatPatch Applied(const FormatPatch& p) {
  FormatPatch out = p;
  if (out.font && out.font->empty()) out.font.reset();
  if (out.color) *out.color &= 0xFFFFFF;
  if (out.size) *out.size = std::clamp(*out.size, 0.0, kMaxSize);
  if (out.letterSpacing && !std::isfinite(*out.letterSpacing)) out.letterSpacing.reset();
  if (out.letterSpacing) *out.letterSpacing = std::clamp(*out.letterSpacing, -kMaxSize, kMaxSize);
  // The indent is kept as given (the layout bounds it).
  for (auto* d : {&out.leftMargin, &out.rightMargin, &out.blockIndent, &out.leading})
    if (*d) **d = std::clamp(**d, -kMaxSize, kMaxSize);
  return out;
}
NATIVE(TfSetTextFormat) {
  text::TextField* tf = EditField(m, self);
  if (!tf) return Value();
  TextFormatObject* t = as3::ArgAs<TextFormatObject>(m, m.ArgOr(a, 0), "flash.text::TextFormat");
  if (!t) m.ThrowError("TypeError", "Parameter format must be non-null.", 2007);
  std::size_t b = 0, e = 0;
  Range(m, a, 1, tf->Length(), b, e);
  tf->SetFormat(b, e, Applied(t->p));
  return Value();
}
// An empty field has no format to read: every member is unset. A range
// must hold at least one character.
NATIVE(TfGetTextFormat) {
  FIELD_OR(Value::Null());
  if (tf->Length() == 0) return NewTextFormat(m, FormatPatch());
  std::size_t b = 0, e = 0;
  Range(m, a, 0, tf->Length(), b, e);
  if (b >= e) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  return NewTextFormat(m, tf->GetFormat(b, e));
}
NATIVE(TfGetDefaultFormat) {
  FIELD_OR(Value::Null());
  return NewTextFormat(m, FormatPatch::From(tf->NewFormat()));
}
NATIVE(TfSetDefaultFormat) {
  text::TextField* tf = EditField(m, self);
  TextFormatObject* t = as3::ArgAs<TextFormatObject>(m, m.ArgOr(a, 0), "flash.text::TextFormat");
  if (!t) m.ThrowError("TypeError", "Parameter format must be non-null.", 2007);
  if (tf) tf->SetNewFormat(Applied(t->p));
  return Value();
}
NATIVE(TfGetTextColor) {
  FIELD_OR(Value::Int(0));
  const FormatPatch p = tf->GetFormat(0, 1);
  return Value::Number(p.color ? *p.color : tf->NewFormat().color);
}
// textColor colours the whole text and what is typed next.
NATIVE(TfSetTextColor) {
  if (text::TextField* tf = EditField(m, self)) {
    FormatPatch p;
    p.color = m.ToUint(m.ArgOr(a, 0)) & 0xFFFFFF;
    tf->SetFormat(0, tf->Length(), p);
    tf->SetNewFormat(p);
  }
  return Value();
}

const char* AutoSizeName(text::AutoSize a) {
  switch (a) {
    case text::AutoSize::kLeft: return "left";
    case text::AutoSize::kCenter: return "center";
    case text::AutoSize::kRight: return "right";
    default: return "none";
  }
}
NATIVE(TfGetAutoSize) {
  FIELD_OR(m.Str("none"));
  return m.Str(AutoSizeName(tf->Opts().autoSize));
}
NATIVE(TfSetAutoSize) {
  const std::string s = avm2::ArgStr(m, a, 0, "none");
  text::AutoSize v;
  if (s == "none") v = text::AutoSize::kNone;
  else if (s == "left") v = text::AutoSize::kLeft;
  else if (s == "center") v = text::AutoSize::kCenter;
  else if (s == "right") v = text::AutoSize::kRight;
  else m.ThrowError("ArgumentError", "Parameter autoSize must be one of the accepted values.", 2008);
  if (text::TextField* tf = EditField(m, self)) tf->SetAutoSize(v, true);
  return Value();
}

// Boolean options by member.
template <bool text::TextField::Options::*F>
Value OptGet(Machine& m, Value self, std::span<Value>) {
  FIELD_OR(Value::Bool(false));
  return Value::Bool(tf->Opts().*F);
}
template <bool text::TextField::Options::*F>
Value OptSet(Machine& m, Value self, std::span<Value> a) {
  if (text::TextField* tf = EditField(m, self)) {
    const bool v = m.ToBoolean(m.ArgOr(a, 0));
    if (tf->Opts().*F != v) tf->EditOpts().*F = v;
  }
  return Value();
}
template <std::uint32_t text::TextField::Options::*F>
Value ColorGet(Machine& m, Value self, std::span<Value>) {
  FIELD_OR(Value::Int(0));
  return Value::Number(tf->Opts().*F);
}
template <std::uint32_t text::TextField::Options::*F>
Value ColorSet(Machine& m, Value self, std::span<Value> a) {
  if (text::TextField* tf = EditField(m, self)) tf->EditOpts().*F = m.ToUint(m.ArgOr(a, 0)) & 0xFFFFFF;
  return Value();
}

NATIVE(TfGetType) {
  FIELD_OR(m.Str("dynamic"));
  return m.Str(tf->Opts().input ? "input" : "dynamic");
}
NATIVE(TfSetType) {
  const std::string s = avm2::ArgStr(m, a, 0, "dynamic");
  if (s != "input" && s != "dynamic")
    m.ThrowError("ArgumentError", "Parameter type must be one of the accepted values.", 2008);
  if (text::TextField* tf = EditField(m, self)) tf->EditOpts().input = s == "input";
  return Value();
}
NATIVE(TfGetAntiAlias) {
  FIELD_OR(m.Str("normal"));
  return m.Str(tf->Opts().antiAliasType);
}
NATIVE(TfSetAntiAlias) {
  const std::string s = avm2::ArgStr(m, a, 0, "normal");
  if (text::TextField* tf = EditField(m, self); tf && (s == "normal" || s == "advanced"))
    tf->EditOpts().antiAliasType = s;
  return Value();
}
NATIVE(TfGetGridFit) {
  FIELD_OR(m.Str("pixel"));
  return m.Str(tf->Opts().gridFitType);
}
// An unknown grid fit turns fitting off.
NATIVE(TfSetGridFit) {
  const std::string s = avm2::ArgStr(m, a, 0, "none");
  if (text::TextField* tf = EditField(m, self))
    tf->EditOpts().gridFitType = s == "pixel" || s == "subpixel" ? s : "none";
  return Value();
}
// Sharpness and thickness keep NaN and clamp the rest to Flash's ranges.
template <double text::TextField::Options::*F>
Value HintGet(Machine& m, Value self, std::span<Value>) {
  FIELD_OR(Value::Number(0));
  return Value::Number(tf->Opts().*F);
}
template <double text::TextField::Options::*F, int kLimit>
Value HintSet(Machine& m, Value self, std::span<Value> a) {
  const double d = avm2::ArgNum(m, a, 0, 0);
  if (text::TextField* tf = EditField(m, self))
    tf->EditOpts().*F = std::isnan(d) ? d : std::clamp(d, -double{kLimit}, double{kLimit});
  return Value();
}
NATIVE(TfGetMaxChars) {
  FIELD_OR(Value::Int(0));
  return Value::Int(tf->Opts().maxChars);
}
NATIVE(TfSetMaxChars) {
  if (text::TextField* tf = EditField(m, self)) tf->EditOpts().maxChars = std::max(0, m.ToInt(m.ArgOr(a, 0)));
  return Value();
}

// restrict and styleSheet live on the object: the layout does not read them.
NATIVE(TfGetRestrict) {
  Value* v = As3FieldSlot(m, self, 0);
  return v && !v->IsUndefined() ? *v : Value::Null();
}
NATIVE(TfSetRestrict) {
  if (Value* x = As3FieldSlot(m, self, 0)) {
    const Value v = m.ArgOr(a, 0);
    *x = v.IsNullish() ? Value::Null() : m.Str(m.ToString(v));
  }
  return Value();
}

// ---- the box and the layout's figures

// Flash keeps sizes in twips: what scripts read is rounded to them.
Value Twips(double px) { return Value::Number(std::round(px * 20) / 20); }

// The extent of the box's corners in the parent along one axis (the row
// p, q of the matrix), each corner put on a whole twip first.
double CornerExtent(double w, double h, double p, double q) {
  const double xs[] = {0, std::round(w * 20 * p), std::round(h * 20 * q), std::round(w * 20 * p + h * 20 * q)};
  return (*std::max_element(std::begin(xs), std::end(xs)) - *std::min_element(std::begin(xs), std::end(xs))) / 20;
}
// The width and height of the box's bounds in the parent, as a rotated or
// skewed field reads them.
NATIVE(TfGetWidth) {
  Instance* i = As3Node(m, self);
  FIELD_OR(Value::Int(0));
  // Reading the box settles what autoSize gave it.
  tf->Settle();
  return Twips(CornerExtent(tf->Width(), tf->Height(), i->matrix.scaleX, i->matrix.rotateSkew1));
}
NATIVE(TfGetHeight) {
  Instance* i = As3Node(m, self);
  FIELD_OR(Value::Int(0));
  tf->Settle();
  return Twips(CornerExtent(tf->Width(), tf->Height(), i->matrix.rotateSkew0, i->matrix.scaleY));
}
// A field's width and height are its box's: setting them resizes, not scales.
NATIVE(TfSetWidth) {
  const double w = avm2::ArgNum(m, a, 0, 0);
  if (text::TextField* tf = EditField(m, self); tf && std::isfinite(w)) {
    tf->SetWidth(std::max(0.0, w));
    if (Instance* i = As3Node(m, self)) i->scripted = true;
  }
  return Value();
}
NATIVE(TfSetHeight) {
  const double h = avm2::ArgNum(m, a, 0, 0);
  if (text::TextField* tf = EditField(m, self); tf && std::isfinite(h)) {
    tf->SetHeight(std::max(0.0, h));
    if (Instance* i = As3Node(m, self)) i->scripted = true;
  }
  return Value();
}
// A field's x and y are where its box starts, not its origin: autoSize
// moving the box (centre or right) moves x with it. In twips, as Flash keeps
// positions.
double BoxOffsetTwips(const Instance& i, const text::TextField& tf, bool vertical) {
  const double scale = vertical ? std::hypot(i.matrix.rotateSkew1, i.matrix.scaleY) : std::hypot(i.matrix.scaleX, i.matrix.rotateSkew0);
  return std::round(scale * (vertical ? tf.ScriptY() : tf.ScriptX()) * 20);
}
template <bool kVertical>
Value TfGetPosition(Machine& m, Value self, std::span<Value>) {
  Instance* i = As3Node(m, self);
  text::TextField* tf = Field(m, self);
  if (!i) return Value::Int(0);
  // Reading or moving the box settles what autoSize gave it.
  if (tf) tf->Settle();
  const double origin = kVertical ? i->matrix.translateY : i->matrix.translateX;
  return Value::Number((origin + (tf ? BoxOffsetTwips(*i, *tf, kVertical) : 0)) / 20);
}
template <bool kVertical>
Value TfSetPosition(Machine& m, Value self, std::span<Value> a) {
  Instance* i = As3Node(m, self);
  const double d = avm2::ArgNum(m, a, 0, std::nan(""));
  if (!i || !std::isfinite(d)) return Value();
  text::TextField* tf = Field(m, self);
  if (tf) tf->Settle();
  const double t = std::trunc(std::clamp(d, -1e8, 1e8) * 20) - (tf ? BoxOffsetTwips(*i, *tf, kVertical) : 0);
  (kVertical ? i->matrix.translateY : i->matrix.translateX) = static_cast<std::int32_t>(std::clamp(t, -2e9, 2e9));
  i->scripted = true;
  return Value();
}
NATIVE(TfTextWidth) {
  FIELD_OR(Value::Int(0));
  return Twips(tf->Laid().textWidth);
}
NATIVE(TfTextHeight) {
  FIELD_OR(Value::Int(0));
  return Twips(tf->Laid().textHeight);
}
NATIVE(TfNumLines) {
  FIELD_OR(Value::Int(1));
  return Value::Int(std::max<std::int32_t>(1, static_cast<std::int32_t>(tf->Laid().lines.size())));
}
// Flash measures text in twips: a position as it reads one back.
double InTwips(double px) { return std::round(px * 20) / 20; }
const text::Line* LineAt(Machine& m, text::TextField& tf, const Value& v) {
  const auto& lines = tf.Laid().lines;
  const double d = m.ToNumber(v);
  if (!std::isfinite(d) || d < 0 || d >= static_cast<double>(std::max<std::size_t>(1, lines.size())))
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  const std::size_t k = static_cast<std::size_t>(d);
  return k < lines.size() ? &lines[k] : nullptr;
}
NATIVE(TfGetLineMetrics) {
  FIELD_OR(Value::Null());
  const text::Line* l = LineAt(m, *tf, m.ArgOr(a, 0));
  double asc = 0, desc = 0;
  if (!l) {
    const text::Extent e = text::MeasureLine(U"", tf->NewFormat());
    asc = e.ascent, desc = e.descent;
  }
  Value args[6] = {Value::Number(InTwips(l ? l->x : 2)), Value::Number(InTwips(l ? l->width : 0)),
                   Value::Number(InTwips(l ? l->ascent + l->descent + l->leading : asc + desc)),
                   Value::Number(InTwips(l ? l->ascent : asc)), Value::Number(InTwips(l ? l->descent : desc)),
                   Value::Number(InTwips(l ? l->leading : 0))};
  return Value::Obj(m.Construct(m.FindClass("flash.text::TextLineMetrics"), args));
}
// A line's characters as scripts count them: up to the next line, with the
// break that ends it (the last line runs to the end of the text).
std::pair<std::size_t, std::size_t> LineSpan(text::TextField& tf, const text::Line& l) {
  const auto& lines = tf.Laid().lines;
  const std::size_t k = static_cast<std::size_t>(&l - lines.data());
  const std::size_t n = tf.Content().chars.size();
  const std::size_t end = k + 1 < lines.size() ? lines[k + 1].first : std::max(n, l.end);
  return {l.first, std::max(end, l.first)};
}
NATIVE(TfGetLineText) {
  FIELD_OR(m.Str(""));
  const text::Line* l = LineAt(m, *tf, m.ArgOr(a, 0));
  if (!l) return m.Str("");
  const auto [first, end] = LineSpan(*tf, *l);
  const std::u32string& all = tf->Content().chars;
  return m.Str(text::ToUtf8(all.substr(std::min(first, all.size()), end - first)));
}
NATIVE(TfGetLineLength) {
  FIELD_OR(Value::Int(0));
  const text::Line* l = LineAt(m, *tf, m.ArgOr(a, 0));
  if (!l) return Value::Int(0);
  const auto [first, end] = LineSpan(*tf, *l);
  return Value::Int(static_cast<std::int32_t>(end - first));
}
NATIVE(TfGetLineOffset) {
  FIELD_OR(Value::Int(0));
  const text::Line* l = LineAt(m, *tf, m.ArgOr(a, 0));
  return Value::Int(l ? static_cast<std::int32_t>(l->first) : 0);
}
NATIVE(TfGetLineIndexOfChar) {
  FIELD_OR(Value::Int(-1));
  const std::size_t c = Index(m, m.ArgOr(a, 0), SIZE_MAX);
  const auto& lines = tf->Laid().lines;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const auto [first, end] = LineSpan(*tf, lines[k]);
    if (c >= first && c < end) return Value::Int(static_cast<std::int32_t>(k));
  }
  return Value::Int(-1);
}
// Paragraphs end with a break; the index just past the text belongs to the
// last one, counted one longer (or to a new one after a final break).
std::pair<std::int32_t, std::int32_t> ParagraphAt(Machine& m, text::TextField& tf, const Value& v) {
  const std::u32string& all = tf.Content().chars;
  const double d = m.ToNumber(v);
  const auto n = static_cast<double>(all.size());
  if (!(d >= 0) || d > n) return {-1, -1};
  const auto i = static_cast<std::size_t>(d);
  const auto isBreak = [](char32_t ch) { return ch == U'\r' || ch == U'\n'; };
  std::size_t start = i;
  while (start > 0 && !isBreak(all[start - 1])) --start;
  if (i == all.size()) return {static_cast<std::int32_t>(start), static_cast<std::int32_t>(all.size() - start + 1)};
  std::size_t end = i;
  while (end < all.size() && !isBreak(all[end])) ++end;
  if (end < all.size()) ++end;  // the break belongs to its paragraph
  return {static_cast<std::int32_t>(start), static_cast<std::int32_t>(end - start)};
}
NATIVE(TfGetFirstCharInParagraph) {
  FIELD_OR(Value::Int(-1));
  return Value::Int(ParagraphAt(m, *tf, m.ArgOr(a, 0)).first);
}
NATIVE(TfGetParagraphLength) {
  FIELD_OR(Value::Int(-1));
  return Value::Int(ParagraphAt(m, *tf, m.ArgOr(a, 0)).second);
}
// A character's box on its line.
NATIVE(TfGetCharBoundaries) {
  FIELD_OR(Value::Null());
  const std::size_t c = Index(m, m.ArgOr(a, 0), SIZE_MAX);
  const text::Layout& lay = tf->Laid();
  const std::u32string& all = tf->Content().chars;
  // Lines scrolled off above have no boxes, nor lines below the one after
  // the last wholly shown, which Flash does not draw; the rest count from
  // the first shown.
  const std::size_t first = static_cast<std::size_t>(std::max(tf->Scroll(), 1) - 1);
  const auto drawn = static_cast<std::size_t>(lay.BottomScroll(tf->Scroll()));
  for (std::size_t k = 0; k < lay.lines.size(); ++k) {
    const text::Line& l = lay.lines[k];
    if (c < l.first || c >= l.end || c >= all.size() || c >= lay.charX.size() || all[c] == U'\r') continue;
    if (lay.charAdvance[c] <= 0 || k < first || k > drawn) break;  // no glyph drawn: no box
    const double top = l.top - (first < lay.lines.size() ? lay.lines[first].top - lay.lines[0].top : 0);
    Value args[4] = {Value::Number(InTwips(lay.charX[c])), Value::Number(InTwips(top)),
                     Value::Number(InTwips(lay.charAdvance[c])), Value::Number(InTwips(l.ascent + l.descent))};
    return Value::Obj(m.Construct(m.FindClass("flash.geom::Rectangle"), args));
  }
  return Value::Null();
}

NATIVE(TextRunCtor) {
  if (Object* o = self.AsObject()) {
    o->SetDyn(m.Intern("beginIndex"), Value::Int(m.ToInt(m.ArgOr(a, 0))));
    o->SetDyn(m.Intern("endIndex"), Value::Int(m.ToInt(m.ArgOr(a, 1))));
    o->SetDyn(m.Intern("textFormat"), m.ArgOr(a, 2));
  }
  return self;
}

// getTextRuns(begin, end): the spans of one format, as TextRuns.
NATIVE(TfGetTextRuns) {
  FIELD_OR(Value::Obj(m.NewArray()));
  const text::StyledText& t = tf->Content();
  const std::size_t from = std::min(Index(m, m.ArgOr(a, 0), 0), t.chars.size());
  const std::size_t to = std::min(Index(m, m.ArgOr(a, 1), t.chars.size()), t.chars.size());
  std::vector<Value> runs;
  for (std::size_t i = from; i < to;) {
    std::size_t j = i + 1;
    while (j < to && (t.formats[j] == t.formats[i] || *t.formats[j] == *t.formats[i])) ++j;
    Value args[] = {Value::Int(static_cast<std::int32_t>(i)), Value::Int(static_cast<std::int32_t>(j)),
                    NewTextFormat(m, FormatPatch::From(*t.formats[i]))};
    runs.push_back(Value::Obj(m.Construct(m.FindClass("flash.text::TextRun"), args)));
    i = j;
  }
  return Value::Obj(m.NewArray(std::move(runs)));
}

// The line under a point of the field (its own pixels), or -1.
// The line under a point of the field. With `fill`, as getLineIndexAtPoint
// answers, the shown lines cover the whole box: the first from its top, the
// last shown down to its bottom.
int LineAtPoint(const text::TextField& tf, double x, double y, bool fill = false) {
  const text::Layout& l = tf.Laid();
  // The box the lines were laid out in: before autoSize's box is settled, the one the field had.
  if (x < 0 || x > l.boxWidth || l.lines.empty()) return -1;
  if (fill && (y < 0 || y > l.boxHeight)) return -1;
  const int first = std::clamp(tf.Scroll(), 1, std::max(1, l.maxScroll)) - 1;
  const double shift = l.lines[static_cast<std::size_t>(first)].top - l.lines[0].top;
  const int last = std::max(first, l.BottomScroll(tf.Scroll()) - 1);
  for (std::size_t k = static_cast<std::size_t>(first); k < l.lines.size(); ++k) {
    const text::Line& ln = l.lines[k];
    const double top = ln.top - shift, bottom = top + ln.ascent + ln.descent + ln.leading;
    if ((y >= top || fill) && y < bottom) return static_cast<int>(k);
    if (fill && static_cast<int>(k) >= last) return last;
  }
  return -1;
}
NATIVE(TfGetLineIndexAtPoint) {
  FIELD_OR(Value::Int(-1));
  return Value::Int(LineAtPoint(*tf, avm2::ArgNum(m, a, 0, 0), avm2::ArgNum(m, a, 1, 0), true));
}
NATIVE(TfGetCharIndexAtPoint) {
  FIELD_OR(Value::Int(-1));
  const double x = avm2::ArgNum(m, a, 0, 0);
  const int k = LineAtPoint(*tf, x, avm2::ArgNum(m, a, 1, 0));
  if (k < 0) return Value::Int(-1);
  const text::Layout& lay = tf->Laid();
  const text::Line& l = lay.lines[static_cast<std::size_t>(k)];
  const std::u32string& all = tf->Content().chars;
  const double sx = x + tf->HScroll();
  for (std::size_t c = l.first; c < l.end && c < all.size() && c < lay.charX.size(); ++c) {
    if (all[c] == U'\r') break;
    if (sx >= lay.charX[c] && sx < lay.charX[c] + lay.charAdvance[c]) return Value::Int(static_cast<std::int32_t>(c));
  }
  return Value::Int(-1);
}

NATIVE(TfGetScrollV) {
  FIELD_OR(Value::Int(1));
  return Value::Int(std::clamp(tf->Scroll(), 1, std::max(1, tf->Laid().maxScroll)));
}
NATIVE(TfSetScrollV) {
  if (text::TextField* tf = EditField(m, self)) tf->SetScroll(m.ToInt(m.ArgOr(a, 0)));
  return Value();
}
NATIVE(TfMaxScrollV) {
  FIELD_OR(Value::Int(1));
  return Value::Int(std::max(1, tf->Laid().maxScroll));
}
NATIVE(TfBottomScrollV) {
  FIELD_OR(Value::Int(1));
  return Value::Int(tf->Laid().BottomScroll(tf->Scroll()));
}
NATIVE(TfGetScrollH) {
  FIELD_OR(Value::Int(0));
  return Value::Int(static_cast<std::int32_t>(tf->HScroll()));
}
NATIVE(TfSetScrollH) {
  // A whole number of pixels; Flash takes a negative one by its size.
  if (text::TextField* tf = EditField(m, self)) tf->SetHScroll(std::abs(static_cast<double>(m.ToInt(m.ArgOr(a, 0)))));
  return Value();
}
NATIVE(TfMaxScrollH) {
  FIELD_OR(Value::Int(0));
  return Value::Int(static_cast<std::int32_t>(tf->Laid().maxHScroll));
}

// ---- StyleSheet: rules by selector, kept as plain style objects.

struct StyleSheetObject : as3::NativeBase {
  StyleSheetObject() : NativeBase(as3::NativeKind::kStyleSheet) {}
  static bool Holds(as3::NativeKind k) { return k == as3::NativeKind::kStyleSheet; }
  std::vector<std::pair<std::string, Value>> rules;  // lower-case selector, style object
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    for (auto& [n, v] : rules) h.Mark(v);
  }
};
Object* AllocStyleSheet(Machine& m, Class*) { return m.heap().New<StyleSheetObject>(); }
StyleSheetObject* Sso(const Value& v) { return as3::As<StyleSheetObject>(v); }
std::string LowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
void SetStyle(Machine& m, StyleSheetObject& s, const std::string& name, const Value& style) {
  const std::string key = LowerAscii(name);
  auto it = std::find_if(s.rules.begin(), s.rules.end(), [&](auto& r) { return r.first == key; });
  // The sheet keeps a copy: later changes to the object do not reach it. A
  // style that is no object keeps its name with nothing in it.
  Object* copy = m.NewObject();
  if (Object* o = style.AsObject(); o && o->dyn) {
    for (auto& [k, v] : o->dyn->items)
      if (k) copy->SetDyn(k, v);
  }
  if (it != s.rules.end()) it->second = Value::Obj(copy);
  else s.rules.emplace_back(key, Value::Obj(copy));
}
NATIVE(SsSetStyle) {
  if (StyleSheetObject* s = Sso(self)) SetStyle(m, *s, avm2::ArgStr(m, a, 0, ""), m.ArgOr(a, 1));
  return Value();
}
NATIVE(SsGetStyle) {
  StyleSheetObject* s = Sso(self);
  const std::string key = LowerAscii(avm2::ArgStr(m, a, 0, ""));
  Object* copy = m.NewObject();
  if (s) {
    for (auto& [k, v] : s->rules) {
      if (k != key) continue;
      if (Object* o = v.AsObject(); o && o->dyn)
        for (auto& [n, x] : o->dyn->items)
          if (n) copy->SetDyn(n, x);
    }
  }
  return Value::Obj(copy);
}
NATIVE(SsClear) {
  if (StyleSheetObject* s = Sso(self)) s->rules.clear();
  return Value();
}
NATIVE(SsStyleNames) {
  std::vector<Value> names;
  if (StyleSheetObject* s = Sso(self))
    for (auto& [k, v] : s->rules) names.push_back(m.Str(k));
  return Value::Obj(m.NewArray(std::move(names)));
}
// CSS properties become camel-cased members: font-size -> fontSize.
// Flash's own reading of CSS, all of the text or none of it: names come
// camel-cased (font-size -> fontSize), values keep their trailing spaces.
NATIVE(SsParseCss) {
  StyleSheetObject* s = Sso(self);
  if (!s) return Value();
  const std::optional<text::CssRules> parsed = text::ParseCssStrict(avm2::ArgStr(m, a, 0, ""), true);
  if (!parsed) return Value();
  for (const auto& [selector, props] : *parsed) {
    Object* o = m.NewObject();
    for (const auto& [name, value] : props) o->SetDyn(m.Intern(name), m.Str(value));
    SetStyle(m, *s, selector, Value::Obj(o));
  }
  return Value();
}
// The leading number of a style's value, as parseInt and parseFloat read it.
double LeadingNumber(const std::string& v, bool whole) {
  const char* p = v.c_str();
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
  char* end = nullptr;
  const double d = whole ? static_cast<double>(std::strtoll(p, &end, 10)) : std::strtod(p, &end);
  return end == p ? std::nan("") : d;
}
// "mono, sans-serif" -> "_typewriter,_sans": names without their leading
// spaces, empty ones dropped, the generic families as Flash names them.
std::string FontFamilies(const std::string& v) {
  std::string out;
  std::size_t i = 0;
  while (i <= v.size()) {
    const std::size_t comma = std::min(v.find(',', i), v.size());
    std::string name = v.substr(i, comma - i);
    name.erase(0, name.find_first_not_of(" \t\r\n"));
    if (name == "mono") name = "_typewriter";
    else if (name == "sans-serif") name = "_sans";
    else if (name == "serif") name = "_serif";
    if (!name.empty()) out += (out.empty() ? "" : ",") + name;
    i = comma + 1;
  }
  return out;
}
// transform(style): the TextFormat a style object stands for, each
// property read as Flash's own class reads it, through TextFormat's setters.
NATIVE(SsTransform) {
  const Value style = m.ArgOr(a, 0);
  if (style.IsNullish()) return Value::Null();
  if (!style.IsObject())
    m.ThrowError("ReferenceError", std::string("Property textAlign not found on ") +
                                       (style.type == avm2::Type::kBoolean ? "Boolean" : style.IsString() ? "String" : "Number") +
                                       " and there is no default value.", 1069);
  Object* made = m.Construct(TextFormatClass(m), {});
  const Value tf = Value::Obj(made);
  auto str = [&](const char* n) -> std::optional<std::string> {
    const Value v = m.GetProperty(style, n);
    if (!m.ToBoolean(v)) return std::nullopt;
    return m.ToString(v);
  };
  auto set = [&](const char* n, const Value& v) { m.SetProperty(tf, n, v); };
  if (auto v = str("textAlign")) set("align", m.Str(*v));
  if (auto v = str("fontSize")) {
    const double d = LeadingNumber(*v, true);
    if (d > 0) set("size", Value::Number(d));
  }
  if (auto v = str("textDecoration")) {
    if (*v == "none") set("underline", Value::Bool(false));
    else if (*v == "underline") set("underline", Value::Bool(true));
  }
  if (auto v = str("marginLeft")) set("leftMargin", Value::Number(LeadingNumber(*v, true)));
  if (auto v = str("marginRight")) set("rightMargin", Value::Number(LeadingNumber(*v, true)));
  if (auto v = str("leading")) set("leading", Value::Number(LeadingNumber(*v, true)));
  const Value kerning = m.GetProperty(style, "kerning");
  const std::string k = kerning.IsUndefined() ? std::string() : m.ToString(kerning);
  const double kd = LeadingNumber(k, true);
  set("kerning", Value::Bool(k == "true" || (!std::isnan(kd) && kd != 0)));
  if (auto v = str("letterSpacing")) set("letterSpacing", Value::Number(LeadingNumber(*v, false)));
  if (auto v = str("fontFamily")) set("font", m.Str(FontFamilies(*v)));
  if (auto v = str("display")) set("display", m.Str(*v));
  if (auto v = str("fontWeight")) {
    if (*v == "bold") set("bold", Value::Bool(true));
    else if (*v == "normal") set("bold", Value::Bool(false));
  }
  if (auto v = str("fontStyle")) {
    if (*v == "italic") set("italic", Value::Bool(true));
    else if (*v == "normal") set("italic", Value::Bool(false));
  }
  if (auto v = str("textIndent")) set("indent", Value::Number(LeadingNumber(*v, true)));
  if (auto v = str("color")) set("color", Value::Number(text::ParseCssColor(*v).value_or(0)));
  return tf;
}
std::shared_ptr<text::StyleRules> RulesOf(Machine& m, StyleSheetObject& s) {
  auto rules = std::make_shared<text::StyleRules>();
  for (auto& [sel, style] : s.rules) {
    FormatPatch p;
    if (Object* o = style.AsObject(); o && o->dyn)
      for (auto& [k, v] : o->dyn->items) {
        if (!k) continue;
        text::ApplyCssProperty(k->text, m.ToString(v), p);
        // As transform() reads it: a colour given but not as "#RRGGBB" is black.
        if (k->text == "color" && m.ToBoolean(v)) p.color = text::ParseCssColor(m.ToString(v)).value_or(0);
      }
    (*rules)[sel] = p;
  }
  return rules;
}
void RenewStyles(Machine& m, const Value& self, text::TextField& tf) {
  if (!tf.HasStyles()) return;
  if (const Value* v = As3FieldSlot(m, self, 1))
    if (StyleSheetObject* s = Sso(*v)) tf.RenewStyles(RulesOf(m, *s));
}
NATIVE(TfGetStyleSheet) {
  Value* v = As3FieldSlot(m, self, 1);
  return v && !v->IsUndefined() ? *v : Value::Null();
}
NATIVE(TfSetStyleSheet) {
  const Value v = m.ArgOr(a, 0);
  Value* x = As3FieldSlot(m, self, 1);
  text::TextField* tf = EditField(m, self);
  if (!x || !tf) return Value();
  StyleSheetObject* s = as3::ArgAs<StyleSheetObject>(m, v, "flash.text::StyleSheet");
  *x = s ? v : Value::Null();
  tf->SetStyles(s ? RulesOf(m, *s) : nullptr);
  return Value();
}

// ---- Font

struct FontObject : as3::NativeBase {
  FontObject() : NativeBase(as3::NativeKind::kFont) {}
  static bool Holds(as3::NativeKind k) { return k == as3::NativeKind::kFont; }
  std::string name, style, type;  // empty (null to scripts) for a Font linked to nothing
  const FontDef* def = nullptr;
};
Object* AllocFont(Machine& m, Class*) { return m.heap().New<FontObject>(); }
FontObject* Fto(const Value& v) { return as3::As<FontObject>(v); }
std::string FontName(const FontDef& f) {
  std::string n = f.name;
  while (!n.empty() && n.back() == 0) n.pop_back();
  return n;
}
const char* StyleName(bool bold, bool italic) {
  return bold && italic ? "boldItalic" : bold ? "bold" : italic ? "italic" : "regular";
}
void FillFont(FontObject& f, const FontDef* d) {
  f.def = d;
  if (!d) return;
  f.name = FontName(*d);
  f.style = StyleName(d->bold, d->italic);
  f.type = d->cff ? "embeddedCFF" : "embedded";
}
const FontDef* LinkedFont(Machine& m, const Class* c) { return As3LinkedFont(m, c); }
NATIVE(FontCtor) {
  if (FontObject* f = Fto(self)) FillFont(*f, LinkedFont(m, f->cls));
  return self;
}
NATIVE(FontGetName) {
  FontObject* f = Fto(self);
  return f && !f->name.empty() ? m.Str(f->name) : Value::Null();
}
NATIVE(FontGetStyle) {
  FontObject* f = Fto(self);
  return f && !f->style.empty() ? m.Str(f->style) : Value::Null();
}
NATIVE(FontGetType) {
  FontObject* f = Fto(self);
  return f && !f->type.empty() ? m.Str(f->type) : Value::Null();
}
NATIVE(FontHasGlyphs) {
  FontObject* f = Fto(self);
  if (!f) return Value::Bool(false);
  const std::u32string s = text::FromUtf8(avm2::ArgStr(m, a, 0, ""));
  if (!f->def) return Value::Bool(true);
  for (char32_t c : s)
    if (std::find(f->def->codes.begin(), f->def->codes.end(), c) == f->def->codes.end()) return Value::Bool(false);
  return Value::Bool(true);
}

NATIVE(FontRegister) {
  const Value v = m.ArgOr(a, 0);
  Object* o = v.AsObject();
  Class* c = o && o->kind == ObjectKind::kClass ? static_cast<avm2::ClassObject*>(o)->of : nullptr;
  const FontDef* d = c ? LinkedFont(m, c) : nullptr;
  if (!d) m.ThrowError("ArgumentError", "Parameter font must be a Font subclass linked to an embedded font.", 1508);
  auto& list = As3RegisteredFonts(m);
  if (std::find(list.begin(), list.end(), d) == list.end()) list.push_back(d);
  return Value();
}
std::vector<std::string> DeviceFamilies() {
  std::set<std::string> names;
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  if (FcFontSet* fs = FcFontList(nullptr, pat, os)) {
    for (int i = 0; i < fs->nfont; ++i) {
      FcChar8* fam = nullptr;
      if (FcPatternGetString(fs->fonts[i], FC_FAMILY, 0, &fam) == FcResultMatch && fam)
        names.insert(reinterpret_cast<const char*>(fam));
    }
    FcFontSetDestroy(fs);
  }
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  return {names.begin(), names.end()};
}
// Embedded fonts: those registered and the linked fonts with metrics of the
// movie whose code asks, a loaded movie's its own (a registered one of the
// movie is listed twice, as Flash does), in order of name whatever the case;
// with `true`, the machine's device fonts after them.
NATIVE(FontEnumerate) {
  const bool device = m.ToBoolean(m.ArgOr(a, 0));
  Class* fontClass = m.FindClass("flash.text::Font");
  std::vector<const FontDef*> fonts = As3RegisteredFonts(m);
  const MovieLibrary& lib = As3RunningLibrary(m);
  const bool mainMovie = &lib == &As3Library(m);
  std::set<std::uint16_t> linked;
  for (const auto& [name, id] : lib.names) linked.insert(id);
  for (const auto& [id, ch] : lib.characters) {
    if (ch->kind != Character::Kind::kFont) continue;
    const auto* d = static_cast<const FontDef*>(ch.get());
    if (d->hasLayout && (mainMovie ? As3SymbolLinked(m, id) : id > 0 && linked.count(static_cast<std::uint16_t>(id))))
      fonts.push_back(d);
  }
  std::stable_sort(fonts.begin(), fonts.end(), [](const FontDef* x, const FontDef* y) {
    const std::string a = LowerAscii(FontName(*x)), b = LowerAscii(FontName(*y));
    return a < b;
  });
  std::vector<Value> out;
  for (const FontDef* d : fonts) {
    Object* o = m.Instantiate(fontClass);
    if (FontObject* f = Fto(Value::Obj(o))) FillFont(*f, d);
    out.push_back(Value::Obj(o));
  }
  if (device) {
    for (const std::string& n : DeviceFamilies()) {
      Object* o = m.Instantiate(fontClass);
      if (FontObject* f = Fto(Value::Obj(o))) {
        f->name = n;
        f->style = "regular";
        f->type = "device";
      }
      out.push_back(Value::Obj(o));
    }
  }
  return Value::Obj(m.NewArray(std::move(out)));
}

// StaticText.text: the characters of its glyphs, a line end between
// records on different baselines; null when it has no glyph, or a glyph
// of no font the movie defines.
NATIVE(StaticTextText) {
  Instance* i = As3Node(m, self);
  if (!i || !i->def || i->def->kind != Character::Kind::kText) return Value::Null();
  const auto& t = static_cast<const TextDef&>(*i->def);
  const MovieLibrary& lib = As3LibraryOf(m, *i);
  std::u32string out;
  double lastY = 0;
  bool first = true, any = false;
  for (const auto& run : t.runs) {
    if (run.glyphs.empty()) continue;
    if (!first && run.y != lastY) out += U'\r';
    first = false;
    lastY = run.y;
    const Character* ch = lib.Find(run.fontId);
    if (!ch || ch->kind != Character::Kind::kFont) return Value::Null();
    const auto& font = static_cast<const FontDef&>(*ch);
    for (const auto& [glyph, advance] : run.glyphs) {
      any = true;
      if (glyph < font.codes.size()) out += static_cast<char32_t>(font.codes[glyph]);
    }
  }
  return any ? m.Str(text::ToUtf8(out)) : Value::Null();
}

NATIVE(LineMetricsCtor) {
  Object* o = self.AsObject();
  if (!o) return self;
  const char* names[] = {"x", "width", "height", "ascent", "descent", "leading"};
  for (std::size_t i = 0; i < 6; ++i) o->SetDyn(m.Intern(names[i]), Value::Number(avm2::ArgNum(m, a, i, 0)));
  return self;
}

}  // namespace

void MakeTextFieldOf(Instance& inst, const MovieLibrary& lib, bool scriptMade) {
  if (inst.field || !inst.def || inst.def->kind != Character::Kind::kEditText) return;
  if (scriptMade) {
    inst.field = std::make_shared<text::TextField>();
    inst.field->SetLibrary(&lib);
  } else {
    inst.field = text::TextField::FromDef(static_cast<const EditTextDef&>(*inst.def), &lib);
  }
}

void AddStaticTextMembers(Machine& m, Class* staticText) { m.AddGetter(staticText, "text", StaticTextText); }

As3TextClasses InstallTextClasses(Machine& m, Class* interactive) {
  As3TextClasses out;
  Class* obj = m.objectClass;
  Class* tf = out.textField = m.DefineNativeClass("flash.text", "TextField", interactive);
  struct Acc {
    const char* name;
    avm2::NativeFn get, set;
  };
  using O = text::TextField::Options;
  for (const Acc& p : {
           Acc{"text", TfGetText, TfSetText}, Acc{"htmlText", TfGetHtmlText, TfSetHtmlText},
           Acc{"textColor", TfGetTextColor, TfSetTextColor}, Acc{"defaultTextFormat", TfGetDefaultFormat, TfSetDefaultFormat},
           Acc{"autoSize", TfGetAutoSize, TfSetAutoSize}, Acc{"width", TfGetWidth, TfSetWidth},
           Acc{"x", TfGetPosition<false>, TfSetPosition<false>}, Acc{"y", TfGetPosition<true>, TfSetPosition<true>},
           Acc{"height", TfGetHeight, TfSetHeight}, Acc{"wordWrap", OptGet<&O::wordWrap>, OptSet<&O::wordWrap>},
           Acc{"multiline", OptGet<&O::multiline>, OptSet<&O::multiline>},
           Acc{"border", OptGet<&O::border>, OptSet<&O::border>},
           Acc{"background", OptGet<&O::background>, OptSet<&O::background>},
           Acc{"selectable", OptGet<&O::selectable>, OptSet<&O::selectable>},
           Acc{"displayAsPassword", OptGet<&O::password>, OptSet<&O::password>},
           Acc{"embedFonts", OptGet<&O::embedFonts>, OptSet<&O::embedFonts>},
           Acc{"condenseWhite", OptGet<&O::condenseWhite>, OptSet<&O::condenseWhite>},
           Acc{"borderColor", ColorGet<&O::borderColor>, ColorSet<&O::borderColor>},
           Acc{"backgroundColor", ColorGet<&O::backgroundColor>, ColorSet<&O::backgroundColor>},
           Acc{"type", TfGetType, TfSetType}, Acc{"antiAliasType", TfGetAntiAlias, TfSetAntiAlias},
           Acc{"maxChars", TfGetMaxChars, TfSetMaxChars}, Acc{"restrict", TfGetRestrict, TfSetRestrict},
           Acc{"styleSheet", TfGetStyleSheet, TfSetStyleSheet}, Acc{"scrollV", TfGetScrollV, TfSetScrollV},
           Acc{"scrollH", TfGetScrollH, TfSetScrollH}}) {
    m.AddGetter(tf, p.name, p.get);
    m.AddSetter(tf, p.name, p.set);
  }
  for (const Acc& p : {Acc{"length", TfLength, nullptr}, Acc{"textWidth", TfTextWidth, nullptr},
                       Acc{"textHeight", TfTextHeight, nullptr}, Acc{"numLines", TfNumLines, nullptr},
                       Acc{"maxScrollV", TfMaxScrollV, nullptr}, Acc{"bottomScrollV", TfBottomScrollV, nullptr},
                       Acc{"maxScrollH", TfMaxScrollH, nullptr}}) {
    m.AddGetter(tf, p.name, p.get);
  }
  struct Fn {
    const char* name;
    avm2::NativeFn fn;
  };
  for (const Fn& f : {Fn{"appendText", TfAppendText}, Fn{"replaceText", TfReplaceText}, Fn{"replaceSelectedText", TfReplaceSelectedText},
                      Fn{"setTextFormat", TfSetTextFormat}, Fn{"getTextFormat", TfGetTextFormat},
                      Fn{"getLineMetrics", TfGetLineMetrics}, Fn{"getLineText", TfGetLineText},
                      Fn{"getLineLength", TfGetLineLength}, Fn{"getLineOffset", TfGetLineOffset},
                      Fn{"getLineIndexOfChar", TfGetLineIndexOfChar},
                      Fn{"getFirstCharInParagraph", TfGetFirstCharInParagraph},
                      Fn{"getParagraphLength", TfGetParagraphLength}, Fn{"getCharBoundaries", TfGetCharBoundaries},
                      Fn{"getTextRuns", TfGetTextRuns}, Fn{"getLineIndexAtPoint", TfGetLineIndexAtPoint},
                      Fn{"getCharIndexAtPoint", TfGetCharIndexAtPoint}}) {
    m.AddMethod(tf, f.name, f.fn);
  }

  Class* fmt = out.textFormat = m.DefineNativeClass("flash.text", "TextFormat", obj, AllocTextFormat);
  avm2::SetNativeCtor(m, fmt, TextFormatCtor);
  AddFormatAccessors(m, fmt, std::make_integer_sequence<int, kMemberCount>{});

  Class* metrics = m.DefineNativeClass("flash.text", "TextLineMetrics", obj, nullptr, true);
  avm2::SetNativeCtor(m, metrics, LineMetricsCtor);

  Class* run = m.DefineNativeClass("flash.text", "TextRun", obj, nullptr, true);
  avm2::SetNativeCtor(m, run, TextRunCtor);

  Class* sheet = m.DefineNativeClass("flash.text", "StyleSheet", obj, AllocStyleSheet, true);
  m.AddMethod(sheet, "setStyle", SsSetStyle);
  m.AddMethod(sheet, "getStyle", SsGetStyle);
  m.AddMethod(sheet, "clear", SsClear);
  m.AddMethod(sheet, "parseCSS", SsParseCss);
  m.AddMethod(sheet, "transform", SsTransform);
  m.AddGetter(sheet, "styleNames", SsStyleNames);

  Class* font = m.DefineNativeClass("flash.text", "Font", obj, AllocFont);
  avm2::SetNativeCtor(m, font, FontCtor);
  m.AddGetter(font, "fontName", FontGetName);
  m.AddGetter(font, "fontStyle", FontGetStyle);
  m.AddGetter(font, "fontType", FontGetType);
  m.AddMethod(font, "hasGlyphs", FontHasGlyphs);
  m.AddMethod(font, "registerFont", FontRegister, true);
  m.AddMethod(font, "enumerateFonts", FontEnumerate, true);

  auto constants = [&](const char* name, std::initializer_list<const char*> pairs) {
    Class* c = m.DefineNativeClass("flash.text", name, obj);
    for (const char* p : pairs) {
      const std::string s = p;
      m.AddConst(c, s.substr(0, s.find(':')), m.Str(s.substr(s.find(':') + 1)));
    }
  };
  constants("TextFieldAutoSize", {"NONE:none", "LEFT:left", "RIGHT:right", "CENTER:center"});
  constants("TextFormatAlign", {"LEFT:left", "RIGHT:right", "CENTER:center", "JUSTIFY:justify", "START:start", "END:end"});
  constants("TextFieldType", {"DYNAMIC:dynamic", "INPUT:input"});
  constants("AntiAliasType", {"NORMAL:normal", "ADVANCED:advanced"});
  constants("GridFitType", {"NONE:none", "PIXEL:pixel", "SUBPIXEL:subpixel"});
  constants("FontStyle", {"REGULAR:regular", "BOLD:bold", "ITALIC:italic", "BOLD_ITALIC:boldItalic"});
  constants("FontType", {"DEVICE:device", "EMBEDDED:embedded", "EMBEDDED_CFF:embeddedCFF"});
  constants("TextFormatDisplay", {"BLOCK:block", "INLINE:inline"});
  // Rendering hints and selection: no caret nor selection is drawn, so
  // they read as Flash's defaults.
  const avm2::NativeFn ignore = [](Machine&, Value, std::span<Value>) { return Value(); };
  for (const Acc& p : {
           Acc{"gridFitType", TfGetGridFit, TfSetGridFit},
           Acc{"sharpness", HintGet<&O::sharpness>, HintSet<&O::sharpness, 400>},
           Acc{"thickness", HintGet<&O::thickness>, HintSet<&O::thickness, 200>},
           Acc{"mouseWheelEnabled", [](Machine&, Value, std::span<Value>) { return Value::Bool(true); }, ignore},
           Acc{"alwaysShowSelection", [](Machine&, Value, std::span<Value>) { return Value::Bool(false); }, ignore},
           Acc{"useRichTextClipboard", [](Machine&, Value, std::span<Value>) { return Value::Bool(false); }, ignore}}) {
    m.AddGetter(tf, p.name, p.get);
    m.AddSetter(tf, p.name, p.set);
  }
  m.AddGetter(tf, "textInteractionMode", [](Machine& mm, Value, std::span<Value>) { return mm.Str("normal"); });
  m.AddGetter(tf, "caretIndex", TfCaretIndex);
  m.AddGetter(tf, "selectionBeginIndex", TfSelectionBegin);
  m.AddGetter(tf, "selectionEndIndex", TfSelectionEnd);
  m.AddMethod(tf, "setSelection", TfSetSelection);
  return out;
}

}  // namespace quarvel::player
