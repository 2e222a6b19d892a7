// The core classes: Object, Class, Function, Namespace, Boolean, Number,
// int, uint, String, Array, Error and its kinds, Math, and the top-level
// functions. Vector, Dictionary, RegExp, JSON, Date, XML and ByteArray are
// in builtins_more.cpp.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "player/avm2/builtins_util.h"
#include "player/avm2/error_messages.h"
#include "player/avm2/fixed_digits.h"
#include "player/avm2/flash_declares.h"
#include "player/rules/flash_case.h"
#include "player/text/text_encoding.h"
#include "player/avm2/flash_sort.h"
#include "player/avm2/utf16.h"

namespace quarvel::avm2 {

double ArgNum(Machine& m, std::span<Value> a, std::size_t i, double dflt) {
  return i < a.size() && !a[i].IsUndefined() ? m.ToNumber(a[i]) : dflt;
}
std::string ArgStr(Machine& m, std::span<Value> a, std::size_t i, const std::string& dflt) {
  return i < a.size() && !a[i].IsUndefined() ? m.ToString(a[i]) : dflt;
}
ArrayObject* AsArray(const Value& v) {
  Object* o = v.AsObject();
  return o && (o->kind == ObjectKind::kArray || o->kind == ObjectKind::kVector) ? static_cast<ArrayObject*>(o) : nullptr;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Object* AllocFunction(Machine& m, Class*) { return m.heap().New<FunctionObject>(); }
Object* AllocArray(Machine& m, Class*) { return m.heap().New<ArrayObject>(); }
Object* AllocPlain(Machine& m, Class*) { return m.heap().New<Object>(); }

// ---- Object

NATIVE(ObjectCtor) {
  (void)m;
  (void)a;
  return self;
}
NATIVE(ObjHasOwnProperty) {
  const std::string name = ArgStr(m, a, 0, "undefined");
  Object* o = self.AsObject();
  if (!o) return Value::Bool(m.HasProperty(self, m.NameFromString(name)));
  if (o->FindDyn(name)) return Value::Bool(true);
  if (auto* arr = AsArray(self)) {
    std::uint32_t i = 0;
    if (ParseIndex(name, i)) return Value::Bool(i < arr->elems.size() && !arr->elems[i].IsHole());
  }
  // A dictionary is asked by the name's string: object keys are never found this way.
  if (o->kind == ObjectKind::kDictionary) return Value::Bool(static_cast<DictionaryObject*>(o)->byString.contains(name));
  const Binding* b = m.FindBinding(o->traits, m.NameFromString(name));
  return Value::Bool(b && !b->builtinNs);
}
NATIVE(ObjPropertyIsEnumerable) {
  Object* o = self.AsObject();
  const std::string name = ArgStr(m, a, 0, "undefined");
  if (!o) return Value::Bool(false);
  if (o->kind == ObjectKind::kDictionary && static_cast<DictionaryObject*>(o)->byString.contains(name)) return Value::Bool(true);
  std::uint32_t i = 0;
  // A vector's elements are not enumerable properties; an array's are.
  if (o->kind == ObjectKind::kVector && ParseIndex(name, i)) return Value::Bool(false);
  if (auto* arr = AsArray(self); arr && ParseIndex(name, i))
    return Value::Bool(i < arr->elems.size() && !arr->elems[i].IsHole());
  return Value::Bool(o->FindDyn(name) != nullptr && !o->dyn->hidden.contains(name));
}
// Only dynamic properties have the flag; traits stay unlisted whatever is asked.
NATIVE(ObjSetPropertyIsEnumerable) {
  Object* o = self.AsObject();
  const std::string name = ArgStr(m, a, 0, "undefined");
  if (!o || !o->FindDyn(name)) return Value();
  if (m.ToBoolean(m.ArgOr(a, 1))) o->dyn->hidden.erase(name);
  else o->dyn->hidden.insert(name);
  return Value();
}
NATIVE(ObjIsPrototypeOf) {
  Object* o = self.AsObject();
  Object* v = m.ArgOr(a, 0).AsObject();
  for (Object* p = v ? v->proto : nullptr; p && o; p = p->proto)
    if (p == o) return Value::Bool(true);
  return Value::Bool(false);
}
NATIVE(ObjToString) {
  (void)a;
  Object* o = self.AsObject();
  // A primitive names its class; every number is a Number.
  if (self.IsNumber()) return m.Str("[object Number]");
  if (self.IsString()) return m.Str("[object String]");
  if (self.type == Type::kBoolean) return m.Str("[object Boolean]");
  if (!o) return m.Str(m.ToString(self));
  if (o->kind == ObjectKind::kClass) return m.Str("[class " + static_cast<ClassObject*>(o)->of->name + "]");
  if (o->kind == ObjectKind::kFunction) return m.Str("function Function() {}");
  if (o->scriptGlobal || m.IsBuiltinGlobal(o)) return m.Str("[object global]");
  return m.Str("[object " + (o->cls && o->cls != m.objectClass ? o->cls->name : std::string("Object")) + "]");
}
// Flash's Object.prototype.toLocaleString: an object's toString, a number's
// digits, and for the other primitives their class ("[object String]").
NATIVE(ObjToLocaleString) {
  (void)a;
  if (self.IsObject()) return m.CallProperty(self, "toString", {});
  if (self.IsNumber() || self.IsNullish()) return m.Str(m.ToString(self));
  Class* c = m.ClassOf(self);
  return m.Str("[object " + (c ? c->name : std::string("Object")) + "]");
}
NATIVE(ObjValueOf) {
  (void)m;
  (void)a;
  return self;
}

// ---- Function

NATIVE(FnPrototypeCall) { return Value(); }
// Called on nothing (Function.prototype.call.call()), they do nothing.
// call() and apply() are frames of a stack trace, named in the AS3 namespace.
const std::string kCallFrame = "Function/http://adobe.com/AS3/2006/builtin::call";
const std::string kApplyFrame = "Function/http://adobe.com/AS3/2006/builtin::apply";
NATIVE(FnCall) {
  if (self.IsNullish()) return Value();
  Machine::NativeFrame frame(m, kCallFrame);
  const Value thisArg = a.empty() ? Value() : a[0];
  return m.Call(self, thisArg, a.empty() ? a : a.subspan(1));
}
NATIVE(FnApply) {
  if (self.IsNullish()) return Value();
  Machine::NativeFrame frame(m, kApplyFrame);
  const Value thisArg = m.ArgOr(a, 0);
  std::vector<Value> args;
  if (auto* arr = AsArray(m.ArgOr(a, 1)))
    for (std::size_t i = 0; i < arr->elems.size(); ++i) args.push_back(m.ElementAt(arr, i));
  return m.Call(self, thisArg, args);
}
NATIVE(FnLength) {
  (void)a;
  auto* f = static_cast<FunctionObject*>(self.AsObject());
  if (!f || f->kind != ObjectKind::kFunction || !f->method) return Value::Int(0);
  if (const Method* mt = f->method; !mt->unit) {
    // A method of Flash's own: the parameters Flash declares for it.
    int n = FlashMethodArity(mt->owner, mt->name, false);
    if (n < 0) n = FlashMethodArity(mt->owner, mt->name, true);
    return Value::Int(std::max(n, 0));
  }
  return Value::Int(static_cast<std::int32_t>(f->method->unit->file->methods[f->method->index].paramTypes.size()));
  (void)m;
}
NATIVE(FnPrototype) {
  (void)a;
  auto* f = static_cast<FunctionObject*>(self.AsObject());
  if (!f || f->kind != ObjectKind::kFunction || f->prototypeCleared) return Value();
  if (!f->prototypeObject) f->prototypeObject = m.NewObject();
  return Value::Obj(f->prototypeObject);
}
NATIVE(FnSetPrototype) {
  auto* f = static_cast<FunctionObject*>(self.AsObject());
  if (f && f->kind == ObjectKind::kFunction) {
    f->prototypeObject = m.ArgOr(a, 0).AsObject();
    f->prototypeCleared = f->prototypeObject == nullptr;
  }
  return Value();
}

// ---- Class

NATIVE(ClassPrototype) {
  (void)a;
  (void)m;
  Object* o = self.AsObject();
  if (!o || o->kind != ObjectKind::kClass) return Value();
  return Value::Obj(static_cast<ClassObject*>(o)->of->prototype);
}

// ---- Boolean

// The primitives' own methods work only on their own kind of value (or on
// the class's prototype, which stands for the default value); converting
// anything else would call the method again without end.
// Flash's are functions on the prototype that throw through Error.throwError.
[[noreturn]] void Incompatible(Machine& m, std::string_view cls, std::string_view method) {
  Machine::NativeFrame function(m, "Function/<anonymous>");
  Machine::NativeFrame thrower(m, "Error$/throwError");
  m.ThrowError("TypeError", "Method " + std::string(cls) + ".prototype." + std::string(method) +
                                " was invoked on an incompatible object.", 1004);
}
bool IsPrototypeOf(const Value& self, const Class* c) {
  const Object* o = self.AsObject();
  return o && c && o == c->prototype;
}
bool BoolSelf(Machine& m, const Value& self, const char* method) {
  if (self.type == Type::kBoolean) return m.ToBoolean(self);
  if (IsPrototypeOf(self, m.booleanClass)) return false;
  Incompatible(m, "Boolean", method);
}
NATIVE(BoolToString) {
  (void)a;
  return m.Str(BoolSelf(m, self, "toString") ? "true" : "false");
}
NATIVE(BoolValueOf) {
  (void)a;
  return Value::Bool(BoolSelf(m, self, "valueOf"));
}

// ---- Number

enum class NumKind { kNumber, kInt, kUint };
// int's methods take integers in int's range, uint's valueOf those in
// uint's; uint's toString takes any number.
double NumSelf(Machine& m, const Value& self, NumKind kind, const char* method) {
  const char* cls = kind == NumKind::kInt ? "int" : kind == NumKind::kUint ? "uint" : "Number";
  Class* c = kind == NumKind::kInt ? m.intClass : kind == NumKind::kUint ? m.uintClass : m.numberClass;
  if (IsPrototypeOf(self, c)) return 0;
  if (!self.IsNumber()) Incompatible(m, cls, method);
  const double d = m.ToNumber(self);
  const bool toString = std::string_view(method) == "toString";
  if (kind == NumKind::kInt && !(d == std::trunc(d) && d >= -2147483648.0 && d <= 2147483647.0))
    Incompatible(m, cls, method);
  if (kind == NumKind::kUint && !toString && !(d == std::trunc(d) && d >= 0 && d <= 4294967295.0))
    Incompatible(m, cls, method);
  return d;
}
Value NumToStringOf(Machine& m, const Value& self, std::span<Value> a, NumKind kind) {
  const double d = NumSelf(m, self, kind, "toString");
  const int radix = static_cast<int>(ArgNum(m, a, 0, 10));
  if (radix < 2 || radix > 36) m.ThrowError("RangeError", "The radix argument must be between 2 and 36; got " + std::to_string(radix) + ".", 1003);
  return m.Str(NumberToString(d, radix));
}
NATIVE(NumToString) { return NumToStringOf(m, self, a, NumKind::kNumber); }
NATIVE(IntToString) { return NumToStringOf(m, self, a, NumKind::kInt); }
NATIVE(UintToString) { return NumToStringOf(m, self, a, NumKind::kUint); }
NATIVE(NumValueOf) {
  (void)a;
  return Value::Number(NumSelf(m, self, NumKind::kNumber, "valueOf"));
}
NATIVE(IntValueOf) {
  (void)a;
  return Value::Int(static_cast<std::int32_t>(NumSelf(m, self, NumKind::kInt, "valueOf")));
}
NATIVE(UintValueOf) {
  (void)a;
  return Value::Number(NumSelf(m, self, NumKind::kUint, "valueOf"));
}
// |d| rounded to `frac` digits after the point (fixed) or to `frac` + 1
// significant digits (scientific, *exp10 set), ties away from zero as
// ECMAScript asks (printf alone rounds ties to even). Digits only, no point.
std::string RoundedDigits(double d, int frac, bool scientific, int* exp10) {
  char buf[512];
  // 25 digits more than needed show the exact value far enough to see a tie.
  std::snprintf(buf, sizeof buf, scientific ? "%.*e" : "%.*f", frac + 25, std::fabs(d));
  std::string text = buf;
  int e = 0;
  if (scientific) {
    const auto ep = text.find('e');
    e = std::atoi(text.c_str() + ep + 1);
    text.resize(ep);
  }
  std::string digits;
  for (char c : text)
    if (c != '.') digits += c;
  const std::size_t intDigits = scientific ? 1 : text.find('.');
  const std::size_t keep = intDigits + static_cast<std::size_t>(frac);
  const bool up = digits[keep] >= '5';
  digits.resize(keep);
  if (up) {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) {
      digits.insert(digits.begin(), '1');
      if (scientific) {
        digits.pop_back();
        ++e;
      }
    } else {
      ++digits[i - 1];
    }
  }
  if (exp10) *exp10 = e;
  return digits;
}
constexpr const char* kPrecisionRangeText =
    "Number.toPrecision has a range of 1 to 21. Number.toFixed and Number.toExponential have a range of 0 to 20. Specified value is not within expected range.";
NATIVE(NumToFixed) {
  const double d = m.ToNumber(self);
  double digits = ArgNum(m, a, 0, 0);
  if (std::isnan(digits)) digits = 0;  // a count that is no number counts as 0
  if (digits < 0 || digits > 20) m.ThrowError("RangeError", kPrecisionRangeText, 1002);
  // Unlike ECMAScript, Flash writes numbers of 1e21 and above in full too.
  if (!std::isfinite(d)) return m.Str(NumberToString(d));
  const int f = static_cast<int>(digits);
  std::string s = FixedDigits(d, f);
  if (f > 0) s.insert(s.size() - static_cast<std::size_t>(f), ".");
  const bool zero = s.find_first_not_of("0.") == std::string::npos;
  return m.Str((d < 0 && !zero ? "-" : "") + s);
}
NATIVE(NumToPrecision) {
  const double d = m.ToNumber(self);
  // No precision (undefined or null) is plain toString.
  if (a.empty() || a[0].IsNullish()) return m.Str(NumberToString(d));
  const double p = m.ToNumber(a[0]);
  if (std::isnan(p) || p < 1 || p > 21) m.ThrowError("RangeError", kPrecisionRangeText, 1002);
  if (!std::isfinite(d)) return m.Str(NumberToString(d));
  const int prec = static_cast<int>(p);
  // Flash's digit generator sees zero as 0.0...e-16: one zero more than asked.
  if (d == 0) return m.Str("0." + std::string(static_cast<std::size_t>(prec), '0'));
  int e = 0;
  std::string digits = RoundedDigits(d, prec - 1, true, &e);
  if (d == 0) e = 0;
  const std::string sign = d < 0 ? "-" : "";
  if (e >= prec) {  // small numbers stay in fixed notation in Flash
    std::string mant = digits.substr(0, 1);
    if (prec > 1) mant += "." + digits.substr(1);
    return m.Str(sign + mant + "e" + (e < 0 ? "-" : "+") + std::to_string(std::abs(e)));
  }
  if (e >= 0) {
    std::string s = digits.substr(0, static_cast<std::size_t>(e) + 1);
    if (static_cast<std::size_t>(e) + 1 < digits.size()) s += "." + digits.substr(static_cast<std::size_t>(e) + 1);
    return m.Str(sign + s);
  }
  return m.Str(sign + "0." + std::string(static_cast<std::size_t>(-e - 1), '0') + digits);
}
NATIVE(NumToExponential) {
  const double d = m.ToNumber(self);
  double want = ArgNum(m, a, 0, 0);
  if (std::isnan(want)) want = 0;
  if (want < 0 || want > 20) m.ThrowError("RangeError", kPrecisionRangeText, 1002);
  if (!std::isfinite(d)) return m.Str(NumberToString(d));
  // Flash cuts the exact decimal expansion after the digits asked for, without rounding.
  const int digits = static_cast<int>(want);
  // Flash's digit generator gives zero (either sign) as 1e-15, or 0.0..e-16.
  if (d == 0) return m.Str(digits == 0 ? "1e-15" : "0." + std::string(static_cast<std::size_t>(digits), '0') + "e-16");
  char buf[128];
  std::snprintf(buf, sizeof buf, "%.60e", std::fabs(d));
  const std::string s = buf;
  const auto ep = s.find('e');
  std::string out = d < 0 ? "-" : "";
  out += s[0];
  if (digits > 0) out += "." + s.substr(2, static_cast<std::size_t>(digits));
  const int e = std::atoi(s.c_str() + ep + 1);
  // Flash writes no exponent of 0: 1.5.toExponential(1) is "1.5".
  if (e == 0) return m.Str(out);
  return m.Str(out + "e" + (e < 0 ? "-" : "+") + std::to_string(std::abs(e)));
}

// ---- String: indices count UTF-16 units (utf16.h); ASCII text takes the byte path.

std::string SelfText(Machine& m, const Value& self) { return m.ToString(self); }

NATIVE(StrLength) {
  (void)a;
  if (self.IsString()) return Value::Int(static_cast<std::int32_t>(Utf16Length(self.s->text)));
  return Value::Int(static_cast<std::int32_t>(Utf16Length(SelfText(m, self))));
}
// The UTF-16 unit at index i of a string, or -1 outside it.
int UnitAt(const StringCell& c, double i) {
  if (c.ascii < 0) c.ascii = IsAscii(c.text) ? 1 : 0;
  if (c.ascii) {
    if (i < 0 || i >= static_cast<double>(c.text.size())) return -1;
    return static_cast<unsigned char>(c.text[static_cast<std::size_t>(i)]);
  }
  if (c.units.empty()) c.units = ToUtf16(c.text);
  if (i < 0 || i >= static_cast<double>(c.units.size())) return -1;
  return c.units[static_cast<std::size_t>(i)];
}
NATIVE(StrCharAt) {
  const StringCell* s = m.ToStringCell(self);
  double i = ArgNum(m, a, 0, 0);
  if (std::isnan(i)) i = 0;  // as ToInteger makes it
  const int unit = UnitAt(*s, i);
  if (unit < 0) return m.Str("");
  if (unit < 0x80) return m.Str(std::string(1, static_cast<char>(unit)));
  return m.Str(FromUtf16(std::u16string(1, static_cast<char16_t>(unit))));
}
NATIVE(StrCharCodeAt) {
  const StringCell* s = m.ToStringCell(self);
  double i = ArgNum(m, a, 0, 0);
  if (std::isnan(i)) i = 0;
  const int unit = UnitAt(*s, i);
  return unit < 0 ? Value::Number(kNaN) : Value::Int(unit);
}
NATIVE(StrFromCharCode) {
  (void)self;
  std::u16string u;
  for (const Value& v : a) u += static_cast<char16_t>(m.ToUint(v) & 0xFFFF);
  return m.Str(FromUtf16(u));
}
std::size_t ClampIndex(double d, std::size_t len) {
  if (std::isnan(d) || d < 0) return 0;
  return d > static_cast<double>(len) ? len : static_cast<std::size_t>(d);
}
std::size_t RelIndex(double d, std::size_t len) {
  if (std::isnan(d)) return 0;
  if (d < 0) d += static_cast<double>(len);
  return ClampIndex(d, len);
}
// Runs `f` on the text as bytes when it is ASCII, else on its UTF-16 units.
template <typename F>
Value OnUnits(Machine& m, const Value& self, F f) {
  const std::string s = SelfText(m, self);
  if (IsAscii(s)) return f(s);
  return f(ToUtf16(s));
}
Value StrOf(Machine& m, const std::string& s) { return m.Str(s); }
Value StrOf(Machine& m, const std::u16string& u) { return m.Str(FromUtf16(u)); }
template <typename S>
S Units(const std::string& t) {
  if constexpr (std::is_same_v<S, std::string>) return t;
  else return ToUtf16(t);
}
// A String parameter makes undefined null, and null is found nowhere.
NATIVE(StrIndexOf) {
  if (!a.empty() && a[0].IsNullish()) return Value::Int(-1);
  const std::string t = ArgStr(m, a, 0, "undefined");
  const double fromD = ArgNum(m, a, 1, 0);
  return OnUnits(m, self, [&](const auto& s) {
    using S = std::decay_t<decltype(s)>;
    const auto p = s.find(Units<S>(t), ClampIndex(fromD, s.size()));
    return Value::Int(p == S::npos ? -1 : static_cast<std::int32_t>(p));
  });
}
NATIVE(StrLastIndexOf) {
  if (!a.empty() && a[0].IsNullish()) return Value::Int(-1);
  const std::string t = ArgStr(m, a, 0, "undefined");
  const double from = ArgNum(m, a, 1, 0x7FFFFFFF);
  return OnUnits(m, self, [&](const auto& s) {
    using S = std::decay_t<decltype(s)>;
    const auto p = s.rfind(Units<S>(t), std::isnan(from) ? S::npos : ClampIndex(from, s.size()));
    return Value::Int(p == S::npos ? -1 : static_cast<std::int32_t>(p));
  });
}
// Only a missing argument takes the default; an explicit undefined is NaN, so 0.
double GivenNum(Machine& m, std::span<Value> a, std::size_t i, double dflt) {
  return i < a.size() ? m.ToNumber(a[i]) : dflt;
}
NATIVE(StrSubstring) {
  const double xd = GivenNum(m, a, 0, 0), yd = GivenNum(m, a, 1, 4294967295.0);
  return OnUnits(m, self, [&](const auto& s) {
    std::size_t x = ClampIndex(xd, s.size()), y = ClampIndex(yd, s.size());
    if (x > y) std::swap(x, y);
    return StrOf(m, s.substr(x, y - x));
  });
}
// The end is start + length, a negative end counting from the string's end.
NATIVE(StrSubstr) {
  const double xd = GivenNum(m, a, 0, 0), len = GivenNum(m, a, 1, 4294967295.0);
  return OnUnits(m, self, [&](const auto& s) {
    using S = std::decay_t<decltype(s)>;
    const double start = std::isnan(xd) ? 0 : std::trunc(xd);
    const std::size_t x = RelIndex(start, s.size());
    const std::size_t y = RelIndex((std::isnan(len) ? 0 : std::trunc(len)) + static_cast<double>(x), s.size());
    return StrOf(m, y > x ? s.substr(x, y - x) : S());
  });
}
NATIVE(StrSlice) {
  const double xd = GivenNum(m, a, 0, 0), yd = GivenNum(m, a, 1, 4294967295.0);
  return OnUnits(m, self, [&](const auto& s) {
    using S = std::decay_t<decltype(s)>;
    const std::size_t x = RelIndex(xd, s.size()), y = RelIndex(yd, s.size());
    return StrOf(m, y > x ? s.substr(x, y - x) : S());
  });
}
// A letter's other case by Flash's table; other units stay.
char16_t CaseOf(char16_t c, bool upper) {
  return static_cast<char16_t>(upper ? player::FlashUpperChar(c) : player::FlashLowerChar(c));
}
Value ChangeCase(Machine& m, const Value& self, bool upper) {
  std::string s = SelfText(m, self);
  if (IsAscii(s)) {
    for (auto& c : s) c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c)) : std::tolower(static_cast<unsigned char>(c)));
    return m.Str(s);
  }
  std::u16string u = ToUtf16(s);
  for (auto& c : u) c = CaseOf(c, upper);
  return m.Str(FromUtf16(u));
}
NATIVE(StrToLower) {
  (void)a;
  return ChangeCase(m, self, false);
}
NATIVE(StrToUpper) {
  (void)a;
  return ChangeCase(m, self, true);
}
NATIVE(StrConcat) {
  std::string s = SelfText(m, self);
  for (const Value& v : a) s += m.ToString(v);
  return m.Str(s);
}
NATIVE(StrLocaleCompare) {
  // Flash gives the distance between the first differing UTF-16 units, or
  // between the lengths when one text begins the other.
  const std::u16string s = ToUtf16(SelfText(m, self)), t = ToUtf16(ArgStr(m, a, 0, "undefined"));
  const std::size_t n = std::min(s.size(), t.size());
  for (std::size_t i = 0; i < n; ++i)
    if (s[i] != t[i]) return Value::Int(static_cast<int>(s[i]) - static_cast<int>(t[i]));
  return Value::Int(static_cast<int>(s.size()) - static_cast<int>(t.size()));
}
// Only a string (or String.prototype, whose value is "") has a text of its
// own; converting anything else would call this method again without end.
Value StrOwnText(Machine& m, const Value& self, const char* method) {
  if (self.IsString()) return self;
  if (const Object* o = self.AsObject(); o && o == m.FindClass("String")->prototype) return m.Str("");
  Incompatible(m, "String", method);
}
NATIVE(StrToString) {
  (void)a;
  return StrOwnText(m, self, "toString");
}
NATIVE(StrValueOf) {
  (void)a;
  return StrOwnText(m, self, "valueOf");
}

// ---- Array

ArrayObject* SelfArray(Machine& m, const Value& self) {
  ArrayObject* arr = AsArray(self);
  if (!arr) m.ThrowError("TypeError", "Not an array.", 1034);
  return arr;
}
// The array whose length a method changes: not a fixed Vector.
ArrayObject* GrowingArray(Machine& m, const Value& self) {
  ArrayObject* arr = SelfArray(m, self);
  if (arr->fixed) m.ThrowError("RangeError", "Cannot change the length of a fixed Vector.", 1126);
  return arr;
}
// An array about to hold n elements: the length cap, and the growth counted
// against the memory caps before it is made.
void Grow(Machine& m, const ArrayObject* arr, std::size_t n) {
  if (n > (std::size_t{1} << 24)) m.ThrowError("RangeError", "Array too long.", 1005);
  if (n > arr->elems.size()) m.Charge((n - arr->elems.size()) * sizeof(Value));
}
// What a vector's element type makes of a value stored into it; an array
// stores values as they are.
Value Stored(Machine& m, const ArrayObject* arr, const Value& v) {
  if (arr->kind == ObjectKind::kVector && arr->cls && arr->cls->elementType) return m.Coerce(v, arr->cls->elementType);
  // A Vector.<*> holds no undefined: it stores null.
  if (arr->kind == ObjectKind::kVector && v.IsUndefined()) return Value::Null();
  return v.Filled();
}
// What pop and shift give for an empty vector: 0 for the number types.
Value EmptyTake(Machine& m, const ArrayObject* arr) {
  Class* t = arr->kind == ObjectKind::kVector && arr->cls ? arr->cls->elementType : nullptr;
  if (t && (t == m.intClass || t == m.uintClass || t == m.numberClass)) return Value::Int(0);
  return Value();
}
NATIVE(ArrayCtor) {
  ArrayObject* arr = SelfArray(m, self);
  if (a.size() == 1 && a[0].IsNumber()) {
    const double n = a[0].Num();
    if (n < 0 || n != std::floor(n) || n > 4294967295.0) m.ThrowError("RangeError", "Array index is not a positive integer (" + NumberToString(n) + ").", 1005);
    Grow(m, arr, static_cast<std::size_t>(n));
    arr->elems.resize(static_cast<std::size_t>(n), Value::Hole());
  } else {
    arr->elems.assign(a.begin(), a.end());
  }
  return self;
}
NATIVE(ArrLength) {
  (void)a;
  const ArrayObject* arr = SelfArray(m, self);
  return Value::Number(static_cast<double>(std::max<std::size_t>(arr->elems.size(), arr->sparseLength)));
}
NATIVE(ArrSetLength) {
  ArrayObject* arr = GrowingArray(m, self);
  const double n = ArgNum(m, a, 0, 0);
  if (n < 0 || n != std::floor(n)) m.ThrowError("RangeError", "Bad array length.", 1005);
  Grow(m, arr, static_cast<std::size_t>(n));
  arr->elems.resize(static_cast<std::size_t>(n), arr->kind == ObjectKind::kArray ? Value::Hole() : Value());
  if (arr->sparseLength > n) {
    // The elements past the new length go with the tail.
    arr->sparseLength = 0;
    std::vector<std::string> gone;
    if (arr->dyn)
      for (const auto& [key, v] : arr->dyn->items) {
        std::uint32_t index = 0;
        if (key && ParseIndex(key->text, index) && index >= n) gone.push_back(key->text);
      }
    for (const std::string& key : gone) arr->DeleteDyn(key);
  }
  return Value();
}
NATIVE(ArrPush) {
  ArrayObject* arr = GrowingArray(m, self);
  Grow(m, arr, arr->elems.size() + a.size());
  for (const Value& v : a) arr->elems.push_back(Stored(m, arr, v));
  return Value::Number(static_cast<double>(arr->elems.size()));
}
// Flash keeps an array's elements in a dense run that may end before its
// length (new Array(5), or a length set longer): the holes past the run's
// last element lie outside it. pop and reverse work on the run alone.
std::size_t DenseEnd(const ArrayObject* arr) {
  std::size_t n = arr->elems.size();
  while (n > 0 && arr->elems[n - 1].IsHole()) --n;
  return n;
}
NATIVE(ArrPop) {
  (void)a;
  ArrayObject* arr = GrowingArray(m, self);
  if (arr->elems.empty()) return EmptyTake(m, arr);
  // The run's last element comes off, though the length drops by one only.
  if (const std::size_t end = DenseEnd(arr); end > 0 && end < arr->elems.size()) {
    Value v = arr->elems[end - 1];
    arr->elems[end - 1] = Value::Hole();
    arr->elems.pop_back();
    return v;
  }
  Value v = m.ElementAt(arr, arr->elems.size() - 1);
  arr->elems.pop_back();
  return v;
}
NATIVE(ArrShift) {
  (void)a;
  ArrayObject* arr = GrowingArray(m, self);
  if (arr->elems.empty()) return EmptyTake(m, arr);
  Value v = m.ElementAt(arr, 0);
  arr->elems.erase(arr->elems.begin());
  return v;
}
NATIVE(ArrUnshift) {
  ArrayObject* arr = GrowingArray(m, self);
  Grow(m, arr, arr->elems.size() + a.size());
  std::vector<Value> front;
  for (const Value& v : a) front.push_back(Stored(m, arr, v));
  arr->elems.insert(arr->elems.begin(), front.begin(), front.end());
  return Value::Number(static_cast<double>(arr->elems.size()));
}
std::string JoinArray(Machine& m, ArrayObject* arr, const std::string& sep) {
  std::string s;
  for (std::size_t i = 0; i < arr->elems.size(); ++i) {
    if (i) s += sep;
    const Value e = m.ElementAt(arr, i);
    // An array leaves null and undefined empty; a vector spells them out.
    if (!e.IsNullish() || arr->kind == ObjectKind::kVector) s += m.ToString(e);
  }
  return s;
}
NATIVE(ArrJoin) {
  return m.Str(JoinArray(m, SelfArray(m, self), ArgStr(m, a, 0, ",")));
}
NATIVE(ArrToString) {
  (void)a;
  return m.Str(JoinArray(m, SelfArray(m, self), ","));
}
NATIVE(ArrToLocaleString) {
  (void)a;
  ArrayObject* arr = SelfArray(m, self);
  std::string out;
  for (std::size_t i = 0; i < arr->elems.size(); ++i) {
    if (i) out += ",";
    const Value e = m.ElementAt(arr, i);
    if (!e.IsNullish()) out += m.ToString(m.CallProperty(e, "toLocaleString", {}));
  }
  return m.Str(out);
}
NATIVE(ArrReverse) {
  (void)a;
  ArrayObject* arr = SelfArray(m, self);
  // The holes past the dense run stay where they are.
  const std::size_t end = arr->kind == ObjectKind::kArray ? DenseEnd(arr) : arr->elems.size();
  std::reverse(arr->elems.begin(), arr->elems.begin() + static_cast<std::ptrdiff_t>(end));
  return self;
}
Value NewLike(Machine& m, ArrayObject* like, std::vector<Value> elems) {
  if (like->kind == ObjectKind::kVector) {
    auto* v = static_cast<ArrayObject*>(m.Instantiate(like->cls));
    v->elems = std::move(elems);
    return Value::Obj(v);
  }
  return Value::Obj(m.NewArray(std::move(elems)));
}
NATIVE(ArrConcat) {
  ArrayObject* arr = SelfArray(m, self);
  std::vector<Value> out = arr->elems;
  for (const Value& v : a) {
    if (ArrayObject* o = AsArray(v)) out.insert(out.end(), o->elems.begin(), o->elems.end());
    else out.push_back(v);
  }
  Grow(m, arr, out.size());
  return NewLike(m, arr, std::move(out));
}
NATIVE(ArrSlice) {
  ArrayObject* arr = SelfArray(m, self);
  const std::size_t n = arr->elems.size();
  const std::size_t x = RelIndex(ArgNum(m, a, 0, 0), n), y = RelIndex(ArgNum(m, a, 1, static_cast<double>(n)), n);
  std::vector<Value> out;
  for (std::size_t i = x; i < y; ++i) out.push_back(m.ElementAt(arr, i));
  return NewLike(m, arr, std::move(out));
}
NATIVE(ArrSplice) {
  // Flash never checks a fixed vector's length in splice().
  ArrayObject* arr = SelfArray(m, self);
  const std::size_t n = arr->elems.size();
  // Array's splice() with no arguments removes nothing and returns undefined.
  if (a.empty()) return arr->kind == ObjectKind::kArray ? Value() : NewLike(m, arr, {});
  const std::size_t x = RelIndex(ArgNum(m, a, 0, 0), n);
  std::size_t count = a.size() > 1 ? ClampIndex(m.ToNumber(a[1]), n - x) : n - x;
  // A vector takes a negative count as an end counted from its own end.
  if (arr->kind == ObjectKind::kVector && a.size() > 1 && m.ToNumber(a[1]) < 0) {
    const std::size_t end = RelIndex(std::trunc(m.ToNumber(a[1])), n);
    count = end > x ? end - x : 0;
  }
  std::vector<Value> removed;
  for (std::size_t i = x; i < x + count; ++i) removed.push_back(m.ElementAt(arr, i));
  // Elements that move are read and written again: a hole moved takes what
  // the prototype had at its old index.
  const std::size_t added = a.size() > 2 ? a.size() - 2 : 0;
  if (added != count)
    for (std::size_t i = x + count; i < n; ++i) arr->elems[i] = m.ElementAt(arr, i).Filled();
  arr->elems.erase(arr->elems.begin() + static_cast<std::ptrdiff_t>(x), arr->elems.begin() + static_cast<std::ptrdiff_t>(x + count));
  if (a.size() > 2) {
    Grow(m, arr, arr->elems.size() + a.size());
    std::vector<Value> added;
    for (const Value& v : a.subspan(2)) added.push_back(Stored(m, arr, v));
    arr->elems.insert(arr->elems.begin() + static_cast<std::ptrdiff_t>(x), added.begin(), added.end());
  }
  return NewLike(m, arr, std::move(removed));
}
// insertAt and removeAt count a negative index from the end, and clamp it at 0.
std::size_t EndRelative(Machine& m, std::span<Value> a, std::size_t len) {
  const double d = static_cast<double>(m.ToInt(m.ArgOr(a, 0)));
  return d < 0 ? static_cast<std::size_t>(std::max(0.0, d + static_cast<double>(len))) : static_cast<std::size_t>(d);
}
NATIVE(ArrInsertAt) {
  ArrayObject* arr = GrowingArray(m, self);
  const std::size_t at = std::min(EndRelative(m, a, arr->elems.size()), arr->elems.size());
  const Value v = Stored(m, arr, m.ArgOr(a, 1));
  Grow(m, arr, arr->elems.size() + 1);
  arr->elems.insert(arr->elems.begin() + static_cast<std::ptrdiff_t>(at), v);
  return Value();
}
NATIVE(ArrRemoveAt) {
  ArrayObject* arr = GrowingArray(m, self);
  const std::size_t at = EndRelative(m, a, arr->elems.size());
  if (at >= arr->elems.size()) {
    if (arr->kind == ObjectKind::kVector)
      m.ThrowError("RangeError", "The index " + std::to_string(at) + " is out of range " + std::to_string(arr->elems.size()) + ".", 1125);
    return Value();
  }
  const Value v = m.ElementAt(arr, at);
  arr->elems.erase(arr->elems.begin() + static_cast<std::ptrdiff_t>(at));
  return v;
}
NATIVE(ArrIndexOf) {
  ArrayObject* arr = SelfArray(m, self);
  const Value v = m.ArgOr(a, 0);
  for (std::size_t i = RelIndex(ArgNum(m, a, 1, 0), arr->elems.size()); i < arr->elems.size(); ++i)
    if (m.StrictEquals(arr->elems[i], v)) return Value::Int(static_cast<std::int32_t>(i));
  return Value::Int(-1);
}
NATIVE(ArrLastIndexOf) {
  ArrayObject* arr = SelfArray(m, self);
  const Value v = m.ArgOr(a, 0);
  if (arr->elems.empty()) return Value::Int(-1);
  double from = ArgNum(m, a, 1, 0x7FFFFFFF);
  if (from < 0) from = std::max(0.0, from + static_cast<double>(arr->elems.size()));
  for (std::int64_t i = std::min<std::int64_t>(static_cast<std::int64_t>(from), static_cast<std::int64_t>(arr->elems.size()) - 1); i >= 0; --i)
    if (m.StrictEquals(arr->elems[static_cast<std::size_t>(i)], v)) return Value::Int(static_cast<std::int32_t>(i));
  return Value::Int(-1);
}
// forEach, map, filter, some, every: callback(item, index, array).
template <int kMode>
Value Iterate(Machine& m, Value self, std::span<Value> a) {
  ArrayObject* arr = SelfArray(m, self);
  const Value fn = m.ArgOr(a, 0), thisArg = m.ArgOr(a, 1);
  std::vector<Value> out;
  // No callback calls nothing: map gives as many empty elements, filter none,
  // every true and some false.
  if (fn.IsNullish()) {
    if (kMode == 1)
      for (std::size_t i = 0; i < arr->elems.size(); ++i) out.push_back(Stored(m, arr, Value()));
    if (kMode == 1 || kMode == 2) return NewLike(m, arr, std::move(out));
    if (kMode == 3 || kMode == 4) return Value::Bool(kMode == 4);
    return Value();
  }
  for (std::size_t i = 0; i < arr->elems.size(); ++i) {
    Value args[3] = {m.ElementAt(arr, i), Value::Int(static_cast<std::int32_t>(i)), self};
    const Value r = m.Call(fn, thisArg, args);
    if (kMode == 1) out.push_back(Stored(m, arr, r));
    if (kMode == 2 && m.ToBoolean(r)) out.push_back(args[0]);
    if (kMode == 3 && m.ToBoolean(r)) return Value::Bool(true);
    if (kMode == 4 && !m.ToBoolean(r)) return Value::Bool(false);
  }
  if (kMode == 1 || kMode == 2) return NewLike(m, arr, std::move(out));
  if (kMode == 3) return Value::Bool(false);
  if (kMode == 4) return Value::Bool(true);
  return Value();
}

}  // namespace

// Array.sort flags.
constexpr int kCaseInsensitive = 1, kDescending = 2, kUniqueSort = 4, kReturnIndexedArray = 8, kNumeric = 16;

namespace {
bool SmallWhole(double d) {
  return d >= -268435456.0 && d < 268435456.0 && d == std::floor(d) && !(d == 0 && std::signbit(d));
}
}  // namespace

int CompareForSort(Machine& m, const Value& x, const Value& y, int flags, const Value& fn) {
  if (fn.IsObject()) {
    Value args[2] = {x, y};
    double r = m.ToNumber(m.Call(fn, Value::Null(), args));
    // Movies before SWF 13 see the compare function's result cut to an integer.
    if (m.SwfBefore(13)) r = static_cast<double>(ToInt32(r));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
  }
  // undefined sorts last, then null... as strings do.
  if (x.IsUndefined() || y.IsUndefined()) return x.IsUndefined() == y.IsUndefined() ? 0 : x.IsUndefined() ? 1 : -1;
  if (flags & kNumeric) {
    // NaN sorts above every number.
    const double a = m.ToNumber(x), b = m.ToNumber(y);
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) - std::isnan(b);
    // Before SWF 11 two numbers held as small whole numbers (29 bits, as the
    // 32-bit player tags them) compare by the difference of their tagged
    // words, which wraps past 32 bits.
    if (m.SwfBefore(11) && SmallWhole(a) && SmallWhole(b)) {
      const auto tagged = [](double d) { return static_cast<std::uint32_t>(static_cast<std::int32_t>(d)) << 3; };
      const auto diff = static_cast<std::int32_t>(tagged(a) - tagged(b));
      return diff < 0 ? -1 : diff > 0 ? 1 : 0;
    }
    return a < b ? -1 : a > b ? 1 : 0;
  }
  std::string a = m.ToString(x), b = m.ToString(y);
  if (flags & kCaseInsensitive) {
    for (auto& c : a) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : b) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return CompareUtf16(a, b);
}

// Sorts the array (or returns its sorted order) as Flash does: undefined
// elements (holes read through the prototype first) stay out of the sort and
// go last, in their order; the rest go through Flash's quicksort.
Value SortArray(Machine& m, ArrayObject* arr, int flags, const Value& fn,
                const std::function<int(std::size_t, std::size_t)>* custom) {
  const bool vector = arr->kind == ObjectKind::kVector;
  // A Vector asked for its sorted order is left as it is.
  if (vector && (flags & kReturnIndexedArray)) return Value::Obj(arr);
  const std::size_t n = arr->elems.size();
  std::vector<Value> vals(n);
  std::vector<std::size_t> order, undef;
  for (std::size_t i = 0; i < n; ++i) {
    vals[i] = m.ElementAt(arr, i);
    (vals[i].IsUndefined() ? undef : order).push_back(i);
  }
  bool equalFound = false;
  FlashQuickSort(order, [&](std::size_t i, std::size_t j) {
    int c = custom ? (*custom)(i, j) : CompareForSort(m, vals[i], vals[j], flags, fn);
    if (c == 0) equalFound = true;
    return (flags & kDescending) ? -c : c;
  });
  order.insert(order.end(), undef.begin(), undef.end());
  // Equal elements under UNIQUESORT leave the array as it was.
  if ((flags & kUniqueSort) && equalFound) return vector ? Value::Obj(arr) : Value::Int(0);
  if (flags & kReturnIndexedArray) {
    std::vector<Value> idx;
    for (std::size_t i : order) idx.push_back(Value::Int(static_cast<std::int32_t>(i)));
    return Value::Obj(m.NewArray(std::move(idx)));
  }
  // Undefined elements that were holes stay holes.
  std::vector<Value> sorted;
  sorted.reserve(n);
  for (std::size_t i : order) sorted.push_back(arr->elems[i].IsHole() && vals[i].IsUndefined() ? Value::Hole() : vals[i]);
  std::stable_partition(sorted.begin() + static_cast<std::ptrdiff_t>(n - undef.size()), sorted.end(),
                        [](const Value& v) { return !v.IsHole(); });
  arr->elems = std::move(sorted);
  return Value::Obj(arr);
}

namespace {

NATIVE(ArrSort) {
  ArrayObject* arr = SelfArray(m, self);
  Value fn;
  int flags = 0;
  if (!a.empty() && a[0].IsObject()) {
    fn = a[0];
    flags = static_cast<int>(ArgNum(m, a, 1, 0));
  } else if (!a.empty()) {
    flags = static_cast<int>(ArgNum(m, a, 0, 0));
  }
  return SortArray(m, arr, flags, fn, nullptr);
}
NATIVE(ArrSortOn) {
  ArrayObject* arr = SelfArray(m, self);
  std::vector<std::string> fields;
  std::vector<int> fieldFlags;
  if (ArrayObject* names = AsArray(m.ArgOr(a, 0))) {
    for (const Value& v : names->elems) fields.push_back(m.ToString(v));
  } else {
    fields.push_back(ArgStr(m, a, 0, ""));
  }
  int flags = 0;
  if (ArrayObject* opts = AsArray(m.ArgOr(a, 1))) {
    for (const Value& v : opts->elems) fieldFlags.push_back(m.ToInt(v));
  } else {
    flags = static_cast<int>(ArgNum(m, a, 1, 0));
  }
  std::vector<std::vector<Value>> keys(fields.size());
  for (std::size_t f = 0; f < fields.size(); ++f)
    for (std::size_t i = 0; i < arr->elems.size(); ++i) {
      const Value e = m.ElementAt(arr, i);
      keys[f].push_back(e.IsObject() ? m.GetProperty(e, fields[f]) : Value());
    }
  std::function<int(std::size_t, std::size_t)> custom = [&](std::size_t i, std::size_t j) {
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const int ff = f < fieldFlags.size() ? fieldFlags[f] : flags;
      int c = CompareForSort(m, keys[f][i], keys[f][j], ff, Value());
      if (f < fieldFlags.size() && (ff & kDescending)) c = -c;
      if (c) return c;
    }
    return 0;
  };
  if (!fieldFlags.empty()) flags = fieldFlags[0] & ~kDescending;
  return SortArray(m, arr, flags, Value(), &custom);
}

// ---- Error

NATIVE(ErrorCtor) {
  Object* o = m.ToObject(self);
  o->SetDyn(m.Intern("message"), m.Str(ArgStr(m, a, 0, "")));
  o->SetDyn(m.Intern("errorID"), Value::Int(static_cast<std::int32_t>(ArgNum(m, a, 1, 0))));
  // The name comes from the prototype (Error.prototype.name), so that a
  // script's subclass of Error is named "Error"; the flash.errors classes
  // name their instances "Error" too, though their prototypes carry their own.
  if (!o->cls || (!o->cls->unit && !o->cls->package.empty())) o->SetDyn(m.Intern("name"), m.Str("Error"));
  return self;
}
NATIVE(ErrorToString) {
  (void)a;
  const std::string msg = m.ToString(m.GetProperty(self, "message"));
  const std::string name = m.ToString(m.GetProperty(self, "name"));
  return m.Str(msg.empty() ? name : name + ": " + msg);
}
// A namespace converts to its URI.
NATIVE(NsToString) {
  (void)a;
  Object* o = self.AsObject();
  Value* uri = o && o->kind == ObjectKind::kNamespace ? o->FindDyn("uri") : nullptr;
  return uri ? *uri : m.Str("");
}

// What the error says (its own toString), then where it was made.
NATIVE(ErrorStack) {
  (void)a;
  Object* o = self.AsObject();
  if (!o || o->kind != ObjectKind::kError) return Value::Null();
  const std::string stack = static_cast<ErrorObject*>(o)->stack;
  return m.Str(m.ToString(self) + stack);
}
// The stack is recorded where the error is made, before its constructor
// (a subclass's included) runs, as Flash records it.
Object* NewErrorObject(Machine& m, Class*) {
  ErrorObject* e = m.heap().New<ErrorObject>();
  e->stack = m.StackTrace();
  return e;
}
// Error.getErrorMessage(id): Flash's text for an error number, unfilled.
NATIVE(ErrorGetErrorMessage) {
  (void)self;
  return m.Str(FlashErrorMessage(m.ToInt(m.ArgOr(a, 0)), {}, false));
}
// Error.throwError(type, id, ...details): throws a new `type` with Flash's
// text for `id`, filled with the details (six at most, as Flash takes).
NATIVE(ErrorThrowError) {
  (void)self;
  const Value type = m.ArgOr(a, 0);
  const std::uint32_t id = m.ToUint(m.ArgOr(a, 1));
  Machine::NativeFrame frame(m, "Error$/throwError");
  // Flash fills the text through String.replace with a function, which
  // converts only the details the text has places for.
  std::vector<std::string> details;
  if (const auto text = FlashErrorTemplate(static_cast<int>(id))) {
    Machine::NativeFrame function(m, "Function/<anonymous>");
    Machine::NativeFrame replace(m, "String$/_replace");
    for (std::size_t i = 2; i < a.size() && i < 8; ++i) {
      const bool used = text->find("%" + std::to_string(i - 1)) != std::string_view::npos;
      details.push_back(used ? m.ToString(a[i]) : std::string());
    }
  }
  Value args[2] = {m.Str(FlashErrorMessage(static_cast<int>(id), details)), Value::Number(id)};
  throw ScriptThrow{m.ConstructValue(type, args)};
}

// ---- Math

template <double (*F)(double)>
Value Math1(Machine& m, Value, std::span<Value> a) {
  return Value::Number(F(ArgNum(m, a, 0, kNaN)));
}
double Round(double d) { return std::floor(d + 0.5); }
double M_fabs(double x) { return std::fabs(x); }
double M_floor(double x) { return std::floor(x); }
double M_ceil(double x) { return std::ceil(x); }
double M_sqrt(double x) { return std::sqrt(x); }
double M_sin(double x) { return std::sin(x); }
double M_cos(double x) { return std::cos(x); }
double M_tan(double x) { return std::tan(x); }
double M_asin(double x) { return std::asin(x); }
double M_acos(double x) { return std::acos(x); }
double M_atan(double x) { return std::atan(x); }
double M_exp(double x) { return std::exp(x); }
double M_log(double x) { return std::log(x); }

NATIVE(MathMax) {
  (void)self;
  double r = -HUGE_VAL;
  for (const Value& v : a) {
    const double d = m.ToNumber(v);
    if (std::isnan(d)) return Value::Number(kNaN);
    r = std::max(r, d);
  }
  return Value::Number(r);
}
NATIVE(MathMin) {
  (void)self;
  double r = HUGE_VAL;
  for (const Value& v : a) {
    const double d = m.ToNumber(v);
    if (std::isnan(d)) return Value::Number(kNaN);
    r = std::min(r, d);
  }
  return Value::Number(r);
}
// ECMAScript's cases where C's pow differs, then Flash's whole exponents:
// the power by repeated squaring, its reciprocal taken last for a negative
// one (so the last digits are Flash's, not the correctly rounded ones).
double FlashPow(double x, double y) {
  if (std::isnan(y)) return kNaN;
  if (y == 0) return 1;
  if (std::isinf(y) && std::fabs(x) == 1) return kNaN;
  if (std::isfinite(x) && std::fabs(y) <= 2147483647.0 && y == std::trunc(y)) {
    auto n = static_cast<std::uint32_t>(std::fabs(y));
    double r = 1, b = x;
    for (; n; n >>= 1, b *= b)
      if (n & 1) r *= b;
    return y < 0 ? 1 / r : r;
  }
  return std::pow(x, y);
}
NATIVE(MathPow) {
  (void)self;
  return Value::Number(FlashPow(ArgNum(m, a, 0, kNaN), ArgNum(m, a, 1, kNaN)));
}
NATIVE(MathAtan2) {
  (void)self;
  return Value::Number(std::atan2(ArgNum(m, a, 0, kNaN), ArgNum(m, a, 1, kNaN)));
}
NATIVE(MathRandom) {
  (void)self;
  (void)a;
  // Seeded per machine run: captures come out the same every time.
  static thread_local std::mt19937 rng(12345);
  (void)m;
  // Flash's random numbers have 32 bits: sums of their multiples are exact,
  // which scrambling schemes (x = a - b + (c - d)) count on.
  const double u = std::uniform_real_distribution<double>(0, 1)(rng);
  return Value::Number(std::floor(u * 4294967296.0) / 4294967296.0);
}

// ---- top level

NATIVE(Trace) {
  (void)self;
  std::string s;
  for (std::size_t i = 0; i < a.size(); ++i) s += (i ? " " : "") + m.ToString(a[i]);
  // The log is UTF-8: a lone surrogate (kept as its 3-byte form) prints as U+FFFD.
  for (std::size_t i = 0; i + 2 < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) == 0xED && static_cast<unsigned char>(s[i + 1]) >= 0xA0)
      s.replace(i, 3, "\xEF\xBF\xBD");
  // Flash's log leaves NUL characters out.
  std::erase(s, '\0');
  if (m.traceSink) m.traceSink(s);
  return Value();
}
NATIVE(IsNaN) {
  (void)self;
  return Value::Bool(std::isnan(ArgNum(m, a, 0, kNaN)));
}
NATIVE(IsFinite) {
  (void)self;
  return Value::Bool(std::isfinite(ArgNum(m, a, 0, kNaN)));
}
// Leading white space of the global parsers: ASCII space and control
// spaces, and the Unicode spaces (U+00A0, U+1680, U+2000..200A, U+2028,
// U+2029, U+202F, U+205F, U+3000), given as UTF-8.
std::size_t SkipParseSpace(std::string_view s, std::size_t i) {
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) {
      ++i;
      continue;
    }
    const std::u16string u = ToUtf16(std::string(s.substr(i, 3)));
    const char16_t w = u.empty() ? 0 : u[0];
    const bool space = w == 0xA0 || w == 0x1680 || (w >= 0x2000 && w <= 0x200A) || w == 0x2028 || w == 0x2029 ||
                       w == 0x202F || w == 0x205F || w == 0x3000;
    if (!space) break;
    i += w < 0x800 ? 2 : 3;
  }
  return i;
}
// 10^n by repeated squaring, as Flash's parser scales: its rounding differs
// from a correctly rounded conversion in the last place.
double PowTen(std::uint32_t n) {
  double r = 1, b = 10;
  for (; n; n >>= 1, b *= b)
    if (n & 1) r *= b;
  return r;
}
// The text argument of the global parsers and URI functions: a String
// parameter whose default is "undefined"; undefined or null passed in reads "null".
std::string UriArg(Machine& m, std::span<Value> a) {
  if (a.empty()) return "undefined";
  return a[0].IsNullish() ? "null" : m.ToString(a[0]);
}
NATIVE(ParseInt) {
  (void)self;
  const std::string s = UriArg(m, a);
  // The radix as a 32-bit integer: NaN and infinities are 0 (no radix given).
  int radix = ToInt32(ArgNum(m, a, 1, 0));
  std::size_t i = SkipParseSpace(s, 0);
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if ((radix == 0 || radix == 16) && i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    radix = 16;
    i += 2;
  }
  if (radix == 0) radix = 10;
  if (radix < 2 || radix > 36) return Value::Number(kNaN);
  double v = 0;
  bool any = false;
  for (; i < s.size(); ++i) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'z' ? c - 'a' + 10 : 99;
    if (d >= radix) break;
    v = v * radix + d;
    any = true;
  }
  return Value::Number(any ? (neg ? -v : v) : kNaN);
}
// The longest decimal prefix: digits, a point, more digits, then an exponent
// whose value wraps as a 32-bit integer. "e" with no digits after it is left
// out, but a signed one with no digits ("10e-") makes the whole NaN. Without
// any digit, the word Infinity standing alone anywhere in the text is read.
// Before SWF 11 a second point starts the fraction again (the digits before
// it all count as the whole part) and no exponent is read after it.
double ParseFloatPrefix(std::string_view s, bool legacyPoints) {
  std::size_t i = SkipParseSpace(s, 0);
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  auto isDigit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
  auto isSpaceAt = [&](std::size_t k) { return k >= s.size() || SkipParseSpace(s, k) != k; };
  double mant = 0;
  std::int64_t fracDigits = 0;
  bool any = false;
  for (; isDigit(i); ++i, any = true) mant = mant * 10 + (s[i] - '0');
  if (i < s.size() && s[i] == '.') {
    for (++i; isDigit(i); ++i, any = true, ++fracDigits) mant = mant * 10 + (s[i] - '0');
  }
  bool secondPoint = false;
  if (legacyPoints && any && i < s.size() && s[i] == '.') {
    secondPoint = true;
    fracDigits = 0;
    for (++i; isDigit(i); ++i, ++fracDigits) mant = mant * 10 + (s[i] - '0');
  }
  if (!any) {
    for (std::size_t at = s.find("Infinity", i); at != std::string_view::npos; at = s.find("Infinity", at + 1)) {
      if ((at == i || isSpaceAt(at - 1)) && isSpaceAt(at + 8)) return neg ? -HUGE_VAL : HUGE_VAL;
    }
    return kNaN;
  }
  std::uint32_t exp = 0;
  if (!secondPoint && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t k = i + 1;
    bool eneg = false, signedExp = false;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) {
      eneg = s[k++] == '-';
      signedExp = true;
    }
    if (!isDigit(k) && signedExp) return kNaN;
    for (; isDigit(k); ++k) exp = exp * 10 + static_cast<std::uint32_t>(s[k] - '0');
    if (eneg) exp = 0u - exp;
  }
  const auto e = static_cast<std::int64_t>(static_cast<std::int32_t>(exp)) - fracDigits;
  double v = mant;
  if (v != 0) v = e >= 0 ? v * PowTen(static_cast<std::uint32_t>(std::min<std::int64_t>(e, 4096)))
                         : v / PowTen(static_cast<std::uint32_t>(std::min<std::int64_t>(-e, 4096)));
  return neg ? -v : v;
}
NATIVE(ParseFloat) {
  (void)self;
  return Value::Number(ParseFloatPrefix(UriArg(m, a), m.SwfBefore(11)));
}
std::string Hex2(unsigned c) {
  const char* h = "0123456789ABCDEF";
  return std::string{'%', h[c >> 4], h[c & 15]};
}
// UTF-8 bytes, %XX for all but `keep`; a lone surrogate (kept in the
// string as its three-byte form ED A0..BF xx) has no UTF-8 and is a URIError.
std::string EncodeUri(Machine& m, const std::string& s, const char* keep, const char* fnName) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == 0xED && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0xA0)
      m.ThrowError("URIError", std::string("Invalid URI passed to ") + fnName + " function.", 1052);
    if (c > 0 && c < 0x80 && (std::isalnum(c) || std::strchr(keep, c))) out += static_cast<char>(c);
    else out += Hex2(c);
  }
  return out;
}
NATIVE(EncodeURIComponent) {
  (void)self;
  return m.Str(EncodeUri(m, UriArg(m, a), "-_.!~*'()", "encodeURIComponent"));
}
NATIVE(EncodeURI) {
  (void)self;
  return m.Str(EncodeUri(m, UriArg(m, a), "-_.!~*'();/?:@&=+$,#", "encodeURI"));
}
// By UTF-16 unit: %XX below 256, %uXXXX above.
NATIVE(Escape) {
  (void)self;
  const std::u16string u = ToUtf16(UriArg(m, a));
  const char* h = "0123456789ABCDEF";
  std::string out;
  for (const char16_t c : u) {
    if (c > 0 && c < 0x80 && (std::isalnum(c) || std::strchr("@-_.*+/", static_cast<char>(c)))) out += static_cast<char>(c);
    else if (c < 0x100) out += Hex2(c);
    else out += std::string{'%', 'u', h[c >> 12], h[(c >> 8) & 15], h[(c >> 4) & 15], h[c & 15]};
  }
  return m.Str(out);
}
NATIVE(Unescape) {
  (void)self;
  // %XX and %uXXXX are character codes, as escape writes them.
  const std::u16string s = ToUtf16(UriArg(m, a));
  auto hexAt = [&s](std::size_t from, std::size_t n) -> int {
    if (from + n > s.size()) return -1;
    int v = 0;
    for (std::size_t k = from; k < from + n; ++k) {
      const char16_t c = s[k];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return -1;
      v = v * 16 + d;
    }
    return v;
  };
  std::u16string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    int v = -1;
    if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == 'u' && (v = hexAt(i + 2, 4)) >= 0) {
      i += 5;
    } else if (s[i] == '%' && (v = hexAt(i + 1, 2)) >= 0) {
      i += 2;
    }
    out += v >= 0 ? static_cast<char16_t>(v) : s[i];
  }
  return m.Str(FromUtf16(out));
}
// flash.utils.escapeMultiByte: the text's UTF-8 bytes up to the first NUL,
// letters and digits as they are, every other byte as %XX.
// A lone surrogate (kept in a string as its three-byte form) has no UTF-8:
// the multi-byte functions read it as U+FFFD.
std::string WithoutLoneSurrogates(std::string s) {
  for (std::size_t i = 0; i + 2 < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) == 0xED && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0xA0)
      s.replace(i, 3, "\xEF\xBF\xBD");
  return s;
}
NATIVE(EscapeMultiByte) {
  (void)self;
  const std::string s = WithoutLoneSurrogates(UriArg(m, a));
  std::string out;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 0) break;
    if (c < 0x80 && std::isalnum(c)) out += ch;
    else out += Hex2(c);
  }
  return m.Str(out);
}
// flash.utils.unescapeMultiByte: %XX bytes (up to the first NUL that is not
// part of one) read as UTF-8. A "%" with a non-hex character after it takes
// that character with it; with two, both. Bytes that spell no UTF-8
// sequence are read one by one as Latin-1.
NATIVE(UnescapeMultiByte) {
  (void)self;
  const std::string s = WithoutLoneSurrogates(UriArg(m, a));
  auto hex = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == '\0') break;
    if (s[i] != '%') {
      bytes += s[i++];
      continue;
    }
    const int h = i + 1 < s.size() ? hex(s[i + 1]) : -1;
    if (h < 0) {
      i += 2;
      continue;
    }
    const int l = i + 2 < s.size() ? hex(s[i + 2]) : -1;
    i += 3;
    if (l >= 0) bytes += static_cast<char>(h * 16 + l);
  }
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    bool whole = n > 0 && i + n <= bytes.size();
    for (std::size_t k = 1; whole && k < n; ++k) whole = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    if (whole) {
      out.append(bytes, i, n);
      i += n;
    } else {
      encoding::AppendUtf8(out, b);
      ++i;
    }
  }
  return m.Str(out);
}
// decodeURI and decodeURIComponent: %XX sequences as UTF-8; a sequence that
// spells a reserved character stays as written; a malformed one is a URIError.
std::string DecodeUri(Machine& m, const std::string& s, std::string_view reserved, const char* fnName) {
  auto fail = [&] { m.ThrowError("URIError", std::string("Invalid URI passed to ") + fnName + " function.", 1052); };
  auto hexByte = [&](std::size_t at) {
    if (at + 2 >= s.size()) fail();
    if (s[at] != '%' || !std::isxdigit(static_cast<unsigned char>(s[at + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(s[at + 2])))
      fail();
    return static_cast<unsigned>(std::stoi(s.substr(at + 1, 2), nullptr, 16));
  };
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    const unsigned b = hexByte(i);
    if (b < 0x80) {
      if (reserved.find(static_cast<char>(b)) != std::string_view::npos) out.append(s, i, 3);
      else out += static_cast<char>(b);
      i += 2;
      continue;
    }
    const int n = b >= 0xF0 && b < 0xF8 ? 4 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xC0 && b < 0xE0 ? 2 : 0;
    if (!n) fail();
    std::uint32_t cp = b & (0xFFu >> (n + 1));
    for (int k = 1; k < n; ++k) {
      const unsigned c = hexByte(i + 3 * static_cast<std::size_t>(k));
      if ((c & 0xC0) != 0x80) fail();
      cp = (cp << 6) | (c & 0x3F);
    }
    const std::uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) fail();
    for (int k = 0; k < n; ++k) out += static_cast<char>(hexByte(i + 3 * static_cast<std::size_t>(k)));
    i += 3 * static_cast<std::size_t>(n) - 1;
  }
  return out;
}
// The argument is a String parameter: undefined passed in arrives as null.
NATIVE(DecodeURI) { return m.Str(DecodeUri(m, UriArg(m, a), ";/?:@&=+$,#", "decodeURI")); }
NATIVE(DecodeURIComponent) { return m.Str(DecodeUri(m, UriArg(m, a), "", "decodeURIComponent")); }
NATIVE(GetQualifiedClassName) {
  (void)self;
  const Value v = m.ArgOr(a, 0);
  if (v.IsNull()) return m.Str("null");
  if (v.IsUndefined()) return m.Str("void");
  if (v.IsNumber()) return m.Str(HeldAsInt(v) ? "int" : "Number");
  if (Object* o = v.AsObject(); o && o->kind == ObjectKind::kClass) return m.Str(static_cast<ClassObject*>(o)->of->QualifiedName());
  Class* c = m.ClassOf(v);
  return m.Str(c ? c->QualifiedName() : "Object");
}
NATIVE(GetQualifiedSuperclassName) {
  (void)self;
  const Value v = m.ArgOr(a, 0);
  Class* c = nullptr;
  if (Object* o = v.AsObject(); o && o->kind == ObjectKind::kClass) c = static_cast<ClassObject*>(o)->of;
  else c = m.ClassOf(v);
  if (!c || !c->super) return Value::Null();
  return m.Str(c->super->QualifiedName());
}
NATIVE(GetDefinitionByName) {
  (void)self;
  // Flash's stack traces list this step by its package function's name.
  Machine::NativeFrame frame(m, "global/flash.utils::getDefinitionByName");
  const std::string name = ArgStr(m, a, 0, "");
  const Value v = m.DefinitionByName(name);
  if (v.IsUndefined()) m.ThrowError("ReferenceError", "Variable " + m.DefinitionLocalName(name) + " is not defined.", 1065);
  return v;
}
NATIVE(GetTimer) {
  (void)self;
  (void)a;
  return Value::Int(static_cast<std::int32_t>(m.clockMs()));
}

}  // namespace

void InstallBuiltins(Machine& m) {
  // Object, Class and Function come first: every class object needs them.
  Class* object = m.DefineNativeClass("", "Object", nullptr, AllocPlain, true);
  m.objectClass = object;
  Class* cls = m.DefineNativeClass("", "Class", object, nullptr, true);
  m.classClass = cls;
  cls->scriptMayNew = false;
  Class* function = m.DefineNativeClass("", "Function", object, AllocFunction, true);
  m.functionClass = function;
  for (Class* c : {object, cls, function}) {
    auto* co = m.heap().New<ClassObject>();
    co->of = c;
    co->cls = cls;
    co->traits = &c->statics;
    co->initialized = true;
    c->object = co;
    c->prototype = m.heap().New<Object>();
    c->prototype->cls = object;
    c->prototype->traits = &object->instance;
    m.NameConstructor(c->prototype, co);
    m.AddGlobal(c->package, c->name, Value::Obj(co));
  }
  {
    // Function.prototype is itself a function, one that does nothing.
    auto* fp = m.heap().New<FunctionObject>();
    fp->cls = function;
    fp->traits = &function->instance;
    auto method = std::make_unique<Method>();
    method->name = "Function";
    method->native = FnPrototypeCall;
    method->owner = function;
    fp->method = method.get();
    m.KeepMethod(std::move(method));
    m.NameConstructor(fp, function->object);
    function->prototype = fp;
  }
  cls->prototype->proto = object->prototype;
  function->prototype->proto = object->prototype;
  for (Class* c : {object, cls, function}) c->object->proto = cls->prototype;

  m.AddMethod(object, "hasOwnProperty", ObjHasOwnProperty);
  m.AddMethod(object, "propertyIsEnumerable", ObjPropertyIsEnumerable);
  m.AddMethod(object, "setPropertyIsEnumerable", ObjSetPropertyIsEnumerable);
  m.AddMethod(object, "isPrototypeOf", ObjIsPrototypeOf);
  m.AddMethod(object, "toString", ObjToString);
  m.AddMethod(object, "toLocaleString", ObjToLocaleString);
  m.AddMethod(object, "valueOf", ObjValueOf);
  object->iinit = nullptr;
  (void)ObjectCtor;
  // Classes made before Object had its methods copy them now.
  cls->instance = object->instance;
  function->instance = object->instance;
  m.AddGetter(cls, "prototype", ClassPrototype);
  m.AddMethod(function, "call", FnCall);
  m.AddMethod(function, "apply", FnApply);
  m.AddGetter(function, "length", FnLength);
  m.AddGetter(function, "prototype", FnPrototype);
  m.AddSetter(function, "prototype", FnSetPrototype);
  // Statics of Object reach the class's methods too (Object.prototype...).
  object->statics.Edit()[Key(kPublicNs, m.NameIdOf("prototype"))] = cls->instance.Edit()[Key(kPublicNs, m.NameIdOf("prototype"))];

  Class* ns = m.DefineNativeClass("", "Namespace", object, nullptr, false);
  m.namespaceClass = ns;
  m.AddMethod(ns, "toString", NsToString);
  m.AddMethod(ns, "valueOf", NsToString);

  Class* boolean = m.DefineNativeClass("", "Boolean", object);
  m.booleanClass = boolean;
  m.AddMethod(boolean, "toString", BoolToString);
  m.AddMethod(boolean, "valueOf", BoolValueOf);

  Class* number = m.DefineNativeClass("", "Number", object);
  m.numberClass = number;
  Class* intc = m.DefineNativeClass("", "int", object);
  m.intClass = intc;
  Class* uintc = m.DefineNativeClass("", "uint", object);
  m.uintClass = uintc;
  m.AddMethod(number, "toString", NumToString);
  m.AddMethod(number, "valueOf", NumValueOf);
  m.AddMethod(intc, "toString", IntToString);
  m.AddMethod(intc, "valueOf", IntValueOf);
  m.AddMethod(uintc, "toString", UintToString);
  m.AddMethod(uintc, "valueOf", UintValueOf);
  for (Class* c : {number, intc, uintc}) {
    m.AddMethod(c, "toFixed", NumToFixed);
    m.AddMethod(c, "toPrecision", NumToPrecision);
    m.AddMethod(c, "toExponential", NumToExponential);
  }
  m.AddConst(number, "NaN", Value::Number(kNaN));
  m.AddConst(number, "POSITIVE_INFINITY", Value::Number(HUGE_VAL));
  m.AddConst(number, "NEGATIVE_INFINITY", Value::Number(-HUGE_VAL));
  m.AddConst(number, "MAX_VALUE", Value::Number(std::numeric_limits<double>::max()));
  m.AddConst(number, "MIN_VALUE", Value::Number(std::numeric_limits<double>::denorm_min()));
  m.AddConst(intc, "MAX_VALUE", Value::Int(0x7FFFFFFF));
  m.AddConst(intc, "MIN_VALUE", Value::Int(static_cast<std::int32_t>(0x80000000u)));
  m.AddConst(uintc, "MAX_VALUE", Value::Number(4294967295.0));
  m.AddConst(uintc, "MIN_VALUE", Value::Int(0));

  Class* str = m.DefineNativeClass("", "String", object);
  m.stringClass = str;
  m.AddGetter(str, "length", StrLength);
  m.AddMethod(str, "charAt", StrCharAt);
  m.AddMethod(str, "charCodeAt", StrCharCodeAt);
  m.AddMethod(str, "indexOf", StrIndexOf);
  m.AddMethod(str, "lastIndexOf", StrLastIndexOf);
  m.AddMethod(str, "substring", StrSubstring);
  m.AddMethod(str, "substr", StrSubstr);
  m.AddMethod(str, "slice", StrSlice);
  m.AddMethod(str, "toLowerCase", StrToLower);
  m.AddMethod(str, "toUpperCase", StrToUpper);
  m.AddMethod(str, "toLocaleLowerCase", StrToLower);
  m.AddMethod(str, "toLocaleUpperCase", StrToUpper);
  m.AddMethod(str, "concat", StrConcat);
  m.AddMethod(str, "localeCompare", StrLocaleCompare);
  m.AddMethod(str, "toString", StrToString);
  m.AddMethod(str, "valueOf", StrValueOf);
  m.AddMethod(str, "fromCharCode", StrFromCharCode, true);

  Class* array = m.DefineNativeClass("", "Array", object, AllocArray, true);
  m.arrayClass = array;
  m.AddGetter(array, "length", ArrLength);
  m.AddSetter(array, "length", ArrSetLength);
  m.AddMethod(array, "push", ArrPush);
  m.AddMethod(array, "pop", ArrPop);
  m.AddMethod(array, "shift", ArrShift);
  m.AddMethod(array, "unshift", ArrUnshift);
  m.AddMethod(array, "join", ArrJoin);
  m.AddMethod(array, "toString", ArrToString);
  m.AddMethod(array, "toLocaleString", ArrToLocaleString);
  m.AddMethod(array, "reverse", ArrReverse);
  m.AddMethod(array, "concat", ArrConcat);
  m.AddMethod(array, "slice", ArrSlice);
  m.AddMethod(array, "splice", ArrSplice);
  m.AddMethod(array, "indexOf", ArrIndexOf);
  m.AddMethod(array, "insertAt", ArrInsertAt);
  m.AddMethod(array, "removeAt", ArrRemoveAt);
  m.AddMethod(array, "lastIndexOf", ArrLastIndexOf);
  m.AddMethod(array, "forEach", Iterate<0>);
  m.AddMethod(array, "map", Iterate<1>);
  m.AddMethod(array, "filter", Iterate<2>);
  m.AddMethod(array, "some", Iterate<3>);
  m.AddMethod(array, "every", Iterate<4>);
  m.AddMethod(array, "sort", ArrSort);
  m.AddMethod(array, "sortOn", ArrSortOn);
  m.AddConst(array, "CASEINSENSITIVE", Value::Int(kCaseInsensitive));
  m.AddConst(array, "DESCENDING", Value::Int(kDescending));
  m.AddConst(array, "UNIQUESORT", Value::Int(kUniqueSort));
  m.AddConst(array, "RETURNINDEXEDARRAY", Value::Int(kReturnIndexedArray));
  m.AddConst(array, "NUMERIC", Value::Int(kNumeric));
  SetNativeCtor(m, array, ArrayCtor);

  Class* error = m.DefineNativeClass("", "Error", object, NewErrorObject, true);
  m.errorClass = error;
  SetNativeCtor(m, error, ErrorCtor);
  m.AddMethod(error, "toString", ErrorToString);
  m.AddMethod(error, "getStackTrace", ErrorStack);
  m.AddMethod(error, "getErrorMessage", ErrorGetErrorMessage, true);
  m.AddMethod(error, "throwError", ErrorThrowError, true);
  auto named = [&m](Class* c) { c->prototype->SetDyn(m.Intern("name"), m.Str(c->name)); };
  named(error);
  // Error.prototype is itself an Error: its message is "Error", and toString
  // is its own property, which the prototypes below it reach.
  error->prototype->cls = error;
  if (const auto it = error->instance.Bindings().find(Key(kPublicNs, m.NameIdOf("toString")));
      it != error->instance.Bindings().end() && it->second.method) {
    error->prototype->SetDyn(m.Intern("toString"), Value::Obj(m.NewFunction(it->second.method, nullptr)));
    error->prototype->dyn->hidden.insert("toString");
  }
  error->prototype->SetDyn(m.Intern("message"), m.Str("Error"));
  error->prototype->dyn->hidden.insert("message");
  for (const char* name : {"TypeError", "ReferenceError", "RangeError", "ArgumentError", "SyntaxError", "EvalError",
                           "URIError", "VerifyError", "SecurityError", "DefinitionError", "UninitializedError"}) {
    named(m.DefineNativeClass("", name, error, nullptr, true));
  }
  for (const char* name : {"IOError", "EOFError", "IllegalOperationError", "MemoryError", "ScriptTimeoutError",
                           "StackOverflowError", "InvalidSWFError"}) {
    Class* base = std::string(name) == "EOFError" ? m.FindClass("flash.errors::IOError") : error;
    named(m.DefineNativeClass("flash.errors", name, base ? base : error, nullptr, true));
  }

  Class* math = m.DefineNativeClass("", "Math", object);
  math->scriptMayNew = false;
  m.AddMethod(math, "abs", Math1<M_fabs>, true);
  m.AddMethod(math, "floor", Math1<M_floor>, true);
  m.AddMethod(math, "ceil", Math1<M_ceil>, true);
  m.AddMethod(math, "round", Math1<Round>, true);
  m.AddMethod(math, "sqrt", Math1<M_sqrt>, true);
  m.AddMethod(math, "sin", Math1<M_sin>, true);
  m.AddMethod(math, "cos", Math1<M_cos>, true);
  m.AddMethod(math, "tan", Math1<M_tan>, true);
  m.AddMethod(math, "asin", Math1<M_asin>, true);
  m.AddMethod(math, "acos", Math1<M_acos>, true);
  m.AddMethod(math, "atan", Math1<M_atan>, true);
  m.AddMethod(math, "exp", Math1<M_exp>, true);
  m.AddMethod(math, "log", Math1<M_log>, true);
  m.AddMethod(math, "atan2", MathAtan2, true);
  m.AddMethod(math, "pow", MathPow, true);
  m.AddMethod(math, "max", MathMax, true);
  m.AddMethod(math, "min", MathMin, true);
  m.AddMethod(math, "random", MathRandom, true);
  m.AddConst(math, "PI", Value::Number(M_PI));
  m.AddConst(math, "E", Value::Number(M_E));
  m.AddConst(math, "LN2", Value::Number(M_LN2));
  m.AddConst(math, "LN10", Value::Number(M_LN10));
  m.AddConst(math, "LOG2E", Value::Number(M_LOG2E));
  m.AddConst(math, "LOG10E", Value::Number(M_LOG10E));
  m.AddConst(math, "SQRT1_2", Value::Number(M_SQRT1_2));
  m.AddConst(math, "SQRT2", Value::Number(M_SQRT2));

  m.AddGlobalFunction("", "trace", Trace);
  m.AddGlobalFunction("", "isNaN", IsNaN);
  m.AddGlobalFunction("", "isFinite", IsFinite);
  m.AddGlobalFunction("", "parseInt", ParseInt);
  m.AddGlobalFunction("", "parseFloat", ParseFloat);
  m.AddGlobalFunction("", "encodeURIComponent", EncodeURIComponent);
  m.AddGlobalFunction("", "encodeURI", EncodeURI);
  m.AddGlobalFunction("", "decodeURIComponent", DecodeURIComponent);
  m.AddGlobalFunction("", "decodeURI", DecodeURI);
  m.AddGlobalFunction("", "escape", Escape);
  m.AddGlobalFunction("", "unescape", Unescape);
  m.AddGlobalFunction("flash.utils", "escapeMultiByte", EscapeMultiByte);
  m.AddGlobalFunction("flash.utils", "unescapeMultiByte", UnescapeMultiByte);
  m.AddGlobal("", "NaN", Value::Number(kNaN));
  m.AddGlobal("", "Infinity", Value::Number(HUGE_VAL));
  m.AddGlobal("", "undefined", Value());
  m.AddGlobalFunction("flash.utils", "getQualifiedClassName", GetQualifiedClassName);
  m.AddGlobalFunction("flash.utils", "getQualifiedSuperclassName", GetQualifiedSuperclassName);
  m.AddGlobalFunction("flash.utils", "getDefinitionByName", GetDefinitionByName);
  m.AddGlobalFunction("flash.utils", "getTimer", GetTimer);
  // The machine's own package offers the reflection functions too.
  m.AddGlobalFunction("avmplus", "getQualifiedClassName", GetQualifiedClassName);
  m.AddGlobalFunction("avmplus", "getQualifiedSuperclassName", GetQualifiedSuperclassName);

  InstallMoreBuiltins(m);
  InstallReflection(m);
  // The top-level classes' constructors say how many arguments they take.
  for (const char* name : {"Object", "Class", "Function", "Boolean", "Number", "int", "uint", "String", "Array", "RegExp",
                           "XML", "XMLList", "Error", "DefinitionError", "EvalError", "RangeError", "ReferenceError",
                           "SecurityError", "SyntaxError", "TypeError", "URIError", "VerifyError", "UninitializedError",
                           "ArgumentError"})
    if (Class* c = m.FindClass(name)) m.AddConst(c, "length", Value::Int(1));
  if (Class* c = m.FindClass("Namespace")) m.AddConst(c, "length", Value::Int(2));
  if (Class* c = m.FindClass("QName")) m.AddConst(c, "length", Value::Int(2));
  if (Class* c = m.FindClass("Date")) m.AddConst(c, "length", Value::Int(7));
}

void SetNativeCtor(Machine& m, Class* c, NativeFn fn) {
  auto method = std::make_unique<Method>();
  method->name = c->name;
  method->native = fn;
  method->owner = c;
  // The player API's constructors are frames of a stack trace, as
  // "flash.display::BitmapData()"; the core classes' are not.
  if (c->package.starts_with("flash.")) method->traceName = c->QualifiedName();
  c->iinit = method.get();
  m.KeepMethod(std::move(method));
}

}  // namespace quarvel::avm2
