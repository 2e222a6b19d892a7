// flash.text.engine: TextBlock breaks its content into TextLines, each a
// display object holding a TextField of one line laid out by the shared text
// layout, with the line's metrics (origin on the baseline, as Flash puts
// it). The formats (ElementFormat, FontDescription) and elements are plain
// objects of named values with Flash's defaults.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {
namespace {

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
// A copy of the object's named values in a new object of its class.
Value CloneOf(Machine& m, const Value& self, const char* const* names, std::size_t n, bool lockable = true) {
  Object* o = self.AsObject();
  if (!o || !o->cls) return Value::Null();
  Object* c = m.Instantiate(o->cls);
  for (std::size_t i = 0; i < n; ++i) c->SetDyn(m.Intern(names[i]), m.GetProperty(self, names[i]));
  if (lockable) c->SetDyn(m.Intern("locked"), Value::Bool(false));
  return Value::Obj(c);
}
double Num(Machine& m, const Value& o, const char* name) { return m.ToNumber(m.GetProperty(o, name)); }
std::string Str(Machine& m, const Value& o, const char* name) {
  const Value v = m.GetProperty(o, name);
  return v.IsNullish() ? std::string() : m.ToString(v);
}

const char* const kFontDescriptionNames[] = {"fontName", "fontWeight", "fontPosture", "fontLookup", "renderingMode",
                                             "cffHinting"};
NATIVE(FontDescriptionCtor) {
  FillFromArgs(m, self, a,
               {{"fontName", m.Str("_serif")}, {"fontWeight", m.Str("normal")}, {"fontPosture", m.Str("normal")},
                {"fontLookup", m.Str("device")}, {"renderingMode", m.Str("cff")},
                {"cffHinting", m.Str("horizontalStem")}});
  if (Object* o = self.AsObject()) o->SetDyn(m.Intern("locked"), Value::Bool(false));
  return self;
}
NATIVE(FontDescriptionClone) { return CloneOf(m, self, kFontDescriptionNames, std::size(kFontDescriptionNames)); }

const char* const kElementFormatNames[] = {
    "fontDescription", "fontSize",     "color",          "alpha",        "textRotation", "dominantBaseline",
    "alignmentBaseline", "baselineShift", "kerning",      "trackingRight", "trackingLeft", "locale",
    "breakOpportunity", "digitCase",    "digitWidth",     "ligatureLevel", "typographicCase"};
NATIVE(ElementFormatCtor) {
  FillFromArgs(m, self, a,
               {{"fontDescription", Value::Null()}, {"fontSize", Value::Number(12)}, {"color", Value::Int(0)},
                {"alpha", Value::Number(1)}, {"textRotation", m.Str("auto")}, {"dominantBaseline", m.Str("roman")},
                {"alignmentBaseline", m.Str("useDominantBaseline")}, {"baselineShift", Value::Number(0)},
                {"kerning", m.Str("on")}, {"trackingRight", Value::Number(0)}, {"trackingLeft", Value::Number(0)},
                {"locale", m.Str("en")}, {"breakOpportunity", m.Str("auto")}, {"digitCase", m.Str("default")},
                {"digitWidth", m.Str("default")}, {"ligatureLevel", m.Str("common")},
                {"typographicCase", m.Str("default")}});
  Object* o = self.AsObject();
  if (!o) return self;
  if (m.GetProperty(self, "fontDescription").IsNullish()) {
    if (Class* fd = m.FindClass("flash.text.engine::FontDescription"))
      o->SetDyn(m.Intern("fontDescription"), Value::Obj(m.Construct(fd, {})));
  }
  o->SetDyn(m.Intern("locked"), Value::Bool(false));
  return self;
}
NATIVE(ElementFormatClone) { return CloneOf(m, self, kElementFormatNames, std::size(kElementFormatNames)); }
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
NATIVE(FontMetricsCtor) {
  FillFromArgs(m, self, a,
               {{"emBox", Value::Null()}, {"strikethroughOffset", Value::Number(0)},
                {"strikethroughThickness", Value::Number(0)}, {"underlineOffset", Value::Number(0)},
                {"underlineThickness", Value::Number(0)}, {"subscriptOffset", Value::Number(0)},
                {"subscriptScale", Value::Number(0)}, {"superscriptOffset", Value::Number(0)},
                {"superscriptScale", Value::Number(0)}, {"lineGap", Value::Number(0)}});
  return self;
}

NATIVE(TextElementCtor) {
  FillFromArgs(m, self, a,
               {{"text", Value::Null()}, {"elementFormat", Value::Null()}, {"eventMirror", Value::Null()},
                {"textRotation", m.Str("rotate0")}});
  if (Object* o = self.AsObject()) {
    o->SetDyn(m.Intern("userData"), Value::Null());
    o->SetDyn(m.Intern("textBlock"), Value::Null());
    o->SetDyn(m.Intern("textBlockBeginIndex"), Value::Int(0));
  }
  return self;
}
NATIVE(TextElementRawText) { return m.GetProperty(self, "text"); }
// replaceText(begin, end, newText)
NATIVE(TextElementReplaceText) {
  const Value text = m.GetProperty(self, "text");
  const std::string s = text.IsNullish() ? std::string() : m.ToString(text);
  Value head[] = {Value::Int(0), Value::Number(avm2::ArgNum(m, a, 0, 0))};
  Value tail[] = {Value::Number(avm2::ArgNum(m, a, 1, 0))};
  const Value str = m.Str(s);
  const std::string before = m.ToString(m.CallProperty(str, "substring", head));
  const std::string after = m.ToString(m.CallProperty(str, "substring", tail));
  const Value mid = m.ArgOr(a, 2);
  m.SetProperty(self, "text", m.Str(before + (mid.IsNullish() ? std::string() : m.ToString(mid)) + after));
  return Value();
}

// A group's text is its elements' text in order; its format the first one's.
// The items of an array or vector, in order.
std::vector<Value> ListOf(Machine& m, const Value& v) {
  std::vector<Value> out;
  if (!v.IsObject()) return out;
  const int n = static_cast<int>(Num(m, v, "length"));
  for (int i = 0; i < n && i < 100000; ++i) out.push_back(m.GetProperty(v, std::to_string(i)));
  return out;
}
std::vector<Value> ElementsOf(Machine& m, const Value& group) { return ListOf(m, m.GetProperty(group, "elements")); }
NATIVE(GroupElementSetElements);
NATIVE(GroupElementCtor) {
  FillFromArgs(m, self, a,
               {{"elements", Value::Null()}, {"elementFormat", Value::Null()}, {"eventMirror", Value::Null()},
                {"textRotation", m.Str("rotate0")}});
  Value elements[] = {m.ArgOr(a, 0)};
  GroupElementSetElements(m, self, elements);
  return self;
}
NATIVE(GroupElementText) {
  std::string s;
  for (const Value& e : ElementsOf(m, self))
    if (e.IsObject()) s += Str(m, e, "text");
  return m.Str(s);
}
NATIVE(GroupElementCount) { return Value::Int(static_cast<std::int32_t>(ElementsOf(m, self).size())); }
NATIVE(GroupElementAt) {
  const auto list = ElementsOf(m, self);
  const double i = avm2::ArgNum(m, a, 0, -1);
  return i >= 0 && i < static_cast<double>(list.size()) ? list[static_cast<std::size_t>(i)] : Value::Null();
}
NATIVE(GroupElementSetElements) {
  std::vector<Value> elems = ListOf(m, m.ArgOr(a, 0));
  for (const Value& e : elems)
    if (e.IsObject()) m.SetProperty(e, "groupElement", self);
  m.SetProperty(self, "elements", Value::Obj(m.NewArray(std::move(elems))));
  return Value();
}
// replaceElements(begin, end, newElements): the elements replaced, in order.
NATIVE(GroupElementReplaceElements) {
  std::vector<Value> elems = ElementsOf(m, self);
  const auto size = static_cast<double>(elems.size());
  const auto begin = static_cast<std::size_t>(std::clamp(avm2::ArgNum(m, a, 0, 0), 0.0, size));
  const auto end = static_cast<std::size_t>(std::clamp(avm2::ArgNum(m, a, 1, 0), static_cast<double>(begin), size));
  std::vector<Value> removed(elems.begin() + static_cast<std::ptrdiff_t>(begin),
                             elems.begin() + static_cast<std::ptrdiff_t>(end));
  const std::vector<Value> added = ListOf(m, m.ArgOr(a, 2));
  for (const Value& e : added)
    if (e.IsObject()) m.SetProperty(e, "groupElement", self);
  for (const Value& e : removed)
    if (e.IsObject()) m.SetProperty(e, "groupElement", Value::Null());
  elems.erase(elems.begin() + static_cast<std::ptrdiff_t>(begin), elems.begin() + static_cast<std::ptrdiff_t>(end));
  elems.insert(elems.begin() + static_cast<std::ptrdiff_t>(begin), added.begin(), added.end());
  m.SetProperty(self, "elements", Value::Obj(m.NewArray(std::move(elems))));
  return Value::Obj(m.NewArray(std::move(removed)));
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
  const Value f = m.GetProperty(content, "elementFormat");
  if (!f.IsNullish()) return f;
  for (const Value& e : ElementsOf(m, content)) {
    const Value inner = FormatOf(m, e, depth + 1);
    if (!inner.IsNullish()) return inner;
  }
  return Value::Null();
}

NATIVE(TextBlockCtor) {
  FillFromArgs(m, self, a,
               {{"content", Value::Null()}, {"tabStops", Value::Null()}, {"textJustifier", Value::Null()},
                {"lineRotation", m.Str("rotate0")}, {"baselineZero", m.Str("roman")}, {"bidiLevel", Value::Int(0)},
                {"applyNonLinearFontScaling", Value::Bool(true)}, {"baselineFontDescription", Value::Null()},
                {"baselineFontSize", Value::Number(12)}});
  if (Object* o = self.AsObject()) {
    for (const char* n : {"firstLine", "lastLine", "firstInvalidLine", "textLineCreationResult", "userData"})
      o->SetDyn(m.Intern(n), Value::Null());
  }
  return self;
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
  As3Display& b = B(m);
  const Value content = m.GetProperty(self, "content");
  Class* lineClass = m.FindClass("flash.text.engine::TextLine");
  if (!content.IsObject() || !lineClass) return Value::Null();
  const std::string all = Str(m, content, "text");
  const Value allStr = m.Str(all);
  const int length = static_cast<int>(Num(m, allStr, "length"));
  int begin = 0;
  if (previous.IsObject()) {
    begin = static_cast<int>(Num(m, previous, "textBlockBeginIndex") + Num(m, previous, "rawTextLength"));
  }
  if (begin >= length) {
    m.SetProperty(self, "textLineCreationResult", m.Str("complete"));
    return Value::Null();
  }
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
      m.SetProperty(self, "textLineCreationResult", m.Str("insufficientWidth"));
      return Value::Null();
    }
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
  Object* line = m.Construct(lineClass, {});
  const Value l = Value::Obj(line);
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
  else m.SetProperty(self, "firstLine", l);
  m.SetProperty(self, "lastLine", l);
  m.SetProperty(self, "textLineCreationResult", m.Str("success"));
  (void)b;
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
    m.SetProperty(line, "validity", m.Str("invalid"));
    if (line.AsObject() == last.AsObject()) break;
    line = next;
  }
  const Value first = m.GetProperty(self, "firstLine");
  if (first.AsObject() == m.ArgOr(a, 0).AsObject()) {
    m.SetProperty(self, "firstLine", Value::Null());
    m.SetProperty(self, "lastLine", Value::Null());
  }
  return Value();
}
NATIVE(Nothing) { return Value(); }
// Word boundaries: the next or previous space after or before the index.
template <bool kNext>
Value WordBoundary(Machine& m, Value self, std::span<Value> a) {
  const Value content = m.GetProperty(self, "content");
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
  return CloneOf(m, self, kSpaceJustifierNames, std::size(kSpaceJustifierNames), false);
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
  return CloneOf(m, self, kEastAsianJustifierNames, std::size(kEastAsianJustifierNames), false);
}
NATIVE(TabStopCtor) {
  FillFromArgs(m, self, a,
               {{"alignment", m.Str("start")}, {"position", Value::Number(0)},
                {"decimalAlignmentToken", m.Str("")}});
  return self;
}
NATIVE(GraphicElementCtor) {
  FillFromArgs(m, self, a,
               {{"graphic", Value::Null()}, {"elementWidth", Value::Number(15)}, {"elementHeight", Value::Number(15)},
                {"elementFormat", Value::Null()}, {"eventMirror", Value::Null()},
                {"textRotation", m.Str("rotate0")}});
  return self;
}
NATIVE(GraphicElementText) { return m.Str("\xEF\xB7\xAF"); }  // U+FDEF

}  // namespace

void InstallTextEngine(As3Display& b) {
  Machine& m = b.m;
  Class* obj = m.objectClass;
  auto cls = [&](const char* name, Class* super, avm2::NativeFn ctor) {
    Class* c = m.DefineNativeClass("flash.text.engine", name, super, nullptr, true);
    if (ctor) avm2::SetNativeCtor(m, c, ctor);
    return c;
  };
  Class* fd = cls("FontDescription", obj, FontDescriptionCtor);
  m.AddMethod(fd, "clone", FontDescriptionClone);
  m.AddMethod(fd, "isFontCompatible", False, true);
  m.AddMethod(fd, "isDeviceFontCompatible", [](Machine&, Value, std::span<Value>) { return Value::Bool(true); },
              true);
  Class* ef = cls("ElementFormat", obj, ElementFormatCtor);
  m.AddMethod(ef, "clone", ElementFormatClone);
  m.AddMethod(ef, "getFontMetrics", ElementFormatGetFontMetrics);
  cls("FontMetrics", obj, FontMetricsCtor);

  Class* content = cls("ContentElement", obj, nullptr);
  m.AddConst(content, "GRAPHIC_ELEMENT", Value::Int(0xFDEF));
  Class* te = cls("TextElement", content, TextElementCtor);
  m.AddGetter(te, "rawText", TextElementRawText);
  m.AddMethod(te, "replaceText", TextElementReplaceText);
  Class* ge = cls("GroupElement", content, GroupElementCtor);
  m.AddGetter(ge, "text", GroupElementText);
  m.AddGetter(ge, "rawText", GroupElementText);
  m.AddGetter(ge, "elementCount", GroupElementCount);
  m.AddMethod(ge, "getElementAt", GroupElementAt);
  m.AddMethod(ge, "setElements", GroupElementSetElements);
  m.AddMethod(ge, "replaceElements", GroupElementReplaceElements);
  m.AddMethod(ge, "getElementIndex", GroupElementIndex);
  m.AddMethod(ge, "getElementAtCharIndex", GroupElementAtCharIndex);
  Class* graphic = cls("GraphicElement", content, GraphicElementCtor);
  m.AddGetter(graphic, "text", GraphicElementText);

  Class* block = cls("TextBlock", obj, TextBlockCtor);
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
    mm.ThrowError("Error", "The TextLine class does not implement this property or method.", 2181);
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
  cls("TabStop", obj, TabStopCtor);
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
