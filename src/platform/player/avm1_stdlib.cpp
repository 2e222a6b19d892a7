// The standard library of ActionScript 1/2: Array, String, Number, Boolean,
// Math and the global conversion functions.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/player/avm1.h"
#include "platform/player/avm1_builtins.h"

namespace quarvel::player::avm1_builtins {
namespace {

std::string Str(Avm1& vm, const AsValue& v) { return vm.ToString(v); }

// toString and valueOf of the wrapper classes: the wrapped value.
AsValue PrimToString(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) return AsValue::String(Str(vm, o->primitive));
  if (AsObject* o = Self(self); o && o->isArray) return AsValue::String(vm.Join(o, ","));
  return AsValue::String(vm.ToString(self));
}

AsValue PrimValueOf(Avm1&, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) return o->primitive;
  return self;
}

constexpr std::size_t kMaxArray = std::size_t{1} << 20;
constexpr std::size_t kMaxText = std::size_t{1} << 20;

// Relative index arguments (slice, substring...) clamped to [0, len].
std::size_t ClampIndex(double d, std::size_t len, bool negativeFromEnd) {
  if (std::isnan(d)) return 0;
  d = std::trunc(d);
  if (d < 0) d = negativeFromEnd ? std::max(0.0, static_cast<double>(len) + d) : 0;
  return static_cast<std::size_t>(std::min(d, static_cast<double>(len)));
}

// ---- global functions

AsValue ParseInt(Avm1& vm, const AsValue&, AsArgs a) {
  const std::string s = Str(vm, Arg(a, 0));
  int radix = a.size() > 1 ? ToInt32(Num(vm, a, 1)) : 0;
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  if ((radix == 0 || radix == 16) && i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    radix = 16;
    i += 2;
  }
  if (radix == 0) radix = 10;
  if (radix < 2 || radix > 36) return AsValue::Number(std::nan(""));
  double v = 0;
  bool any = false;
  for (; i < s.size(); ++i) {
    const int c = std::tolower(static_cast<unsigned char>(s[i]));
    const int d = std::isdigit(c) ? c - '0' : std::isalpha(c) ? c - 'a' + 10 : 99;
    if (d >= radix) break;
    v = v * radix + d;
    any = true;
  }
  return AsValue::Number(any ? (neg ? -v : v) : std::nan(""));
}

AsValue ParseFloat(Avm1& vm, const AsValue&, AsArgs a) {
  const std::string s = Str(vm, Arg(a, 0));
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  std::size_t j = i;
  if (j < s.size() && (s[j] == '-' || s[j] == '+')) ++j;
  bool digits = false;
  while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j, digits = true;
  if (j < s.size() && s[j] == '.') {
    ++j;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j, digits = true;
  }
  if (digits && j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    std::size_t k = j + 1;
    if (k < s.size() && (s[k] == '-' || s[k] == '+')) ++k;
    if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
      while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) ++k;
      j = k;
    }
  }
  if (!digits) return AsValue::Number(std::nan(""));
  return AsValue::Number(std::strtod(s.substr(i, j - i).c_str(), nullptr));
}

AsValue IsNaN(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::Bool(std::isnan(Num(vm, a, 0))); }
AsValue IsFinite(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::Bool(std::isfinite(Num(vm, a, 0))); }

AsValue Escape(Avm1& vm, const AsValue&, AsArgs a) {
  const std::string s = Str(vm, Arg(a, 0));
  std::string out;
  const char* hex = "0123456789ABCDEF";
  for (unsigned char c : s) {
    if (std::isalnum(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return AsValue::String(out);
}

AsValue Unescape(Avm1& vm, const AsValue&, AsArgs a) {
  const std::string s = Str(vm, Arg(a, 0));
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return AsValue::String(out);
}

// ---- constructors

AsValue ArrayCtor(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.size() == 1 && a[0].type == AsValue::Type::kNumber) {
    const double n = a[0].num;
    const std::size_t count = n >= 0 && n <= kMaxArray ? static_cast<std::size_t>(n) : 0;
    return AsValue::Object(vm.NewArray(std::vector<AsValue>(vm.Charge(count * sizeof(AsValue)) ? count : 0)));
  }
  return AsValue::Object(vm.NewArray(std::vector<AsValue>(a.begin(), a.end())));
}

AsValue StringCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue v = AsValue::String(a.empty() ? "" : Str(vm, a[0]));
  if (AsObject* o = Self(self); o && o->className == "Object" && o->primitive.IsUndefined() && o->props.count(vm.Key("constructor"))) {
    o->primitive = v;
    o->className = "String";
    return self;
  }
  return v;
}

AsValue NumberCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue v = AsValue::Number(a.empty() ? 0 : Num(vm, a, 0));
  if (AsObject* o = Self(self); o && o->className == "Object" && o->primitive.IsUndefined() && o->props.count(vm.Key("constructor"))) {
    o->primitive = v;
    o->className = "Number";
    return self;
  }
  return v;
}

AsValue BooleanCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue v = AsValue::Bool(!a.empty() && vm.ToBool(a[0]));
  if (AsObject* o = Self(self); o && o->className == "Object" && o->primitive.IsUndefined() && o->props.count(vm.Key("constructor"))) {
    o->primitive = v;
    o->className = "Boolean";
    return self;
  }
  return v;
}

// ---- Array

AsObject* ArraySelf(const AsValue& self) {
  AsObject* o = Self(self);
  return o && o->isArray ? o : nullptr;
}

AsValue ArrPush(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o || !vm.Charge(a.size() * sizeof(AsValue))) return {};
  for (auto& v : a) {
    if (o->elems.size() < kMaxArray) o->elems.push_back(v);
  }
  return AsValue::Number(static_cast<double>(o->elems.size()));
}

AsValue ArrPop(Avm1&, const AsValue& self, AsArgs) {
  AsObject* o = ArraySelf(self);
  if (!o || o->elems.empty()) return {};
  AsValue v = o->elems.back();
  o->elems.pop_back();
  return v;
}

AsValue ArrShift(Avm1&, const AsValue& self, AsArgs) {
  AsObject* o = ArraySelf(self);
  if (!o || o->elems.empty()) return {};
  AsValue v = o->elems.front();
  o->elems.erase(o->elems.begin());
  return v;
}

AsValue ArrUnshift(Avm1&, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o) return {};
  if (o->elems.size() + a.size() <= kMaxArray) o->elems.insert(o->elems.begin(), a.begin(), a.end());
  return AsValue::Number(static_cast<double>(o->elems.size()));
}

AsValue ArrJoin(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o) return AsValue::String("");
  return AsValue::String(vm.Join(o, a.empty() || a[0].IsUndefined() ? "," : Str(vm, a[0])));
}

AsValue ArrSlice(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o) return {};
  const std::size_t n = o->elems.size();
  const std::size_t b = ClampIndex(Num(vm, a, 0), n, true);
  const std::size_t e = a.size() > 1 && !a[1].IsUndefined() ? ClampIndex(Num(vm, a, 1), n, true) : n;
  std::vector<AsValue> out;
  if (b < e && vm.Charge((e - b) * sizeof(AsValue))) out.assign(o->elems.begin() + static_cast<std::ptrdiff_t>(b), o->elems.begin() + static_cast<std::ptrdiff_t>(e));
  return AsValue::Object(vm.NewArray(std::move(out)));
}

AsValue ArrSplice(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o || a.empty()) return {};
  const std::size_t n = o->elems.size();
  const std::size_t b = ClampIndex(Num(vm, a, 0), n, true);
  const std::size_t count = a.size() > 1 ? ClampIndex(Num(vm, a, 1), n - b, false) : n - b;
  auto first = o->elems.begin() + static_cast<std::ptrdiff_t>(b);
  std::vector<AsValue> removed(first, first + static_cast<std::ptrdiff_t>(count));
  o->elems.erase(first, first + static_cast<std::ptrdiff_t>(count));
  if (a.size() > 2 && o->elems.size() + a.size() <= kMaxArray) {
    o->elems.insert(o->elems.begin() + static_cast<std::ptrdiff_t>(b), a.begin() + 2, a.end());
  }
  return AsValue::Object(vm.NewArray(std::move(removed)));
}

AsValue ArrConcat(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  std::vector<AsValue> out = o ? o->elems : std::vector<AsValue>{};
  for (auto& v : a) {
    if (AsObject* arr = ArraySelf(v)) out.insert(out.end(), arr->elems.begin(), arr->elems.end());
    else out.push_back(v);
    if (out.size() > kMaxArray) out.resize(kMaxArray);
  }
  if (!vm.Charge(out.size() * sizeof(AsValue))) out.clear();
  return AsValue::Object(vm.NewArray(std::move(out)));
}

AsValue ArrReverse(Avm1&, const AsValue& self, AsArgs) {
  if (AsObject* o = ArraySelf(self)) std::reverse(o->elems.begin(), o->elems.end());
  return self;
}

AsValue ArrSort(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o) return {};
  AsValue cmp;
  int flags = 0;
  for (auto& v : a) {
    if (v.type == AsValue::Type::kObject && v.obj->fn) cmp = v;
    else if (v.type == AsValue::Type::kNumber) flags = ToInt32(v.num);
  }
  const bool numeric = flags & 16, desc = flags & 2, nocase = flags & 1;
  std::vector<AsValue> e = o->elems;
  int calls = 0;
  std::stable_sort(e.begin(), e.end(), [&](const AsValue& x, const AsValue& y) {
    bool less;
    if (cmp.type == AsValue::Type::kObject) {
      if (++calls > 100000) return false;
      std::vector<AsValue> args{x, y};
      less = vm.ToNumber(vm.Call(cmp, {}, args)) < 0;
    } else if (numeric) {
      less = vm.ToNumber(x) < vm.ToNumber(y);
    } else {
      std::string sx = vm.ToString(x), sy = vm.ToString(y);
      if (nocase) {
        for (auto& c : sx) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (auto& c : sy) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      less = sx < sy;
    }
    return less;
  });
  if (desc) std::reverse(e.begin(), e.end());
  o->elems = std::move(e);
  return self;
}

// ---- String

std::string ThisString(Avm1& vm, const AsValue& self) { return vm.ToString(self); }

AsValue StrCharAt(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string s = ThisString(vm, self);
  const double i = Num(vm, a, 0);
  if (std::isnan(i) || i < 0 || i >= static_cast<double>(s.size())) return AsValue::String("");
  return AsValue::String(std::string(1, s[static_cast<std::size_t>(i)]));
}

AsValue StrCharCodeAt(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string s = ThisString(vm, self);
  const double i = a.empty() ? 0 : Num(vm, a, 0);
  if (std::isnan(i) || i < 0 || i >= static_cast<double>(s.size())) return AsValue::Number(std::nan(""));
  return AsValue::Number(static_cast<unsigned char>(s[static_cast<std::size_t>(i)]));
}

AsValue StrSubstr(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string s = ThisString(vm, self);
  const std::size_t b = ClampIndex(Num(vm, a, 0), s.size(), true);
  const std::size_t n = a.size() > 1 && !a[1].IsUndefined() ? ClampIndex(Num(vm, a, 1), s.size() - b, false) : s.size() - b;
  return AsValue::String(s.substr(b, n));
}

AsValue StrSubstring(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string s = ThisString(vm, self);
  std::size_t b = ClampIndex(Num(vm, a, 0), s.size(), false);
  std::size_t e = a.size() > 1 && !a[1].IsUndefined() ? ClampIndex(Num(vm, a, 1), s.size(), false) : s.size();
  if (b > e) std::swap(b, e);
  return AsValue::String(s.substr(b, e - b));
}

AsValue StrSlice(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string s = ThisString(vm, self);
  const std::size_t b = ClampIndex(Num(vm, a, 0), s.size(), true);
  const std::size_t e = a.size() > 1 && !a[1].IsUndefined() ? ClampIndex(Num(vm, a, 1), s.size(), true) : s.size();
  return AsValue::String(b < e ? s.substr(b, e - b) : "");
}

AsValue StrIndexOf(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string s = ThisString(vm, self), f = Str(vm, Arg(a, 0));
  const std::size_t from = a.size() > 1 ? ClampIndex(Num(vm, a, 1), s.size(), false) : 0;
  const auto p = s.find(f, from);
  return AsValue::Number(p == std::string::npos ? -1 : static_cast<double>(p));
}

AsValue StrLastIndexOf(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string s = ThisString(vm, self), f = Str(vm, Arg(a, 0));
  const std::size_t from = a.size() > 1 ? ClampIndex(Num(vm, a, 1), s.size(), false) : std::string::npos;
  const auto p = s.rfind(f, from);
  return AsValue::Number(p == std::string::npos ? -1 : static_cast<double>(p));
}

AsValue StrUpper(Avm1& vm, const AsValue& self, AsArgs) {
  std::string s = ThisString(vm, self);
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return AsValue::String(s);
}

AsValue StrLower(Avm1& vm, const AsValue& self, AsArgs) {
  std::string s = ThisString(vm, self);
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return AsValue::String(s);
}

AsValue StrSplit(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string s = ThisString(vm, self);
  std::vector<AsValue> out;
  if (a.empty() || a[0].IsUndefined()) {
    out.push_back(AsValue::String(s));
  } else {
    const std::string sep = Str(vm, a[0]);
    if (sep.empty()) {
      for (char c : s) {
        if (out.size() >= kMaxArray) break;
        out.push_back(AsValue::String(std::string(1, c)));
      }
    } else {
      std::size_t i = 0;
      while (out.size() < kMaxArray) {
        const auto j = s.find(sep, i);
        out.push_back(AsValue::String(s.substr(i, j == std::string::npos ? std::string::npos : j - i)));
        if (j == std::string::npos) break;
        i = j + sep.size();
      }
    }
  }
  if (a.size() > 1 && !a[1].IsUndefined()) {
    const double lim = Num(vm, a, 1);
    if (lim >= 0 && lim < static_cast<double>(out.size())) out.resize(static_cast<std::size_t>(lim));
  }
  if (!vm.Charge(out.size() * (sizeof(AsValue) + 48) + s.size())) out.clear();
  return AsValue::Object(vm.NewArray(std::move(out)));
}

AsValue StrConcat(Avm1& vm, const AsValue& self, AsArgs a) {
  std::string s = ThisString(vm, self);
  for (auto& v : a) {
    s += Str(vm, v);
    if (s.size() > kMaxText) {
      s.resize(kMaxText);
      break;
    }
  }
  return AsValue::String(s);
}

AsValue StrFromCharCode(Avm1& vm, const AsValue&, AsArgs a) {
  std::string s;
  for (std::size_t i = 0; i < a.size() && s.size() < kMaxText; ++i) {
    const auto c = static_cast<std::uint32_t>(std::max(0.0, std::min(Num(vm, a, i), 1114111.0)));
    if (vm.Version() >= 6 && c >= 0x80) {
      if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
      } else {
        if (c < 0x10000) {
          s += static_cast<char>(0xE0 | (c >> 12));
        } else {
          s += static_cast<char>(0xF0 | (c >> 18));
          s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        }
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      }
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      s += static_cast<char>(c & 0xFF);
    }
  }
  return AsValue::String(s);
}

AsValue NumToString(Avm1& vm, const AsValue& self, AsArgs a) {
  AsValue v = self;
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) v = o->primitive;
  const int radix = a.empty() ? 10 : ToInt32(Num(vm, a, 0));
  const double d = vm.ToNumber(v);
  if (radix == 10 || radix < 2 || radix > 36 || !std::isfinite(d)) return AsValue::String(vm.ToString(AsValue::Number(d)));
  long long n = static_cast<long long>(std::trunc(d));
  const bool neg = n < 0;
  unsigned long long u = neg ? 0ull - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
  std::string out;
  do {
    out += "0123456789abcdefghijklmnopqrstuvwxyz"[u % static_cast<unsigned>(radix)];
    u /= static_cast<unsigned>(radix);
  } while (u);
  if (neg) out += '-';
  std::reverse(out.begin(), out.end());
  return AsValue::String(out);
}

// ---- Math

template <double (*F)(double)>
AsValue Math1(Avm1& vm, const AsValue&, AsArgs a) {
  return AsValue::Number(F(Num(vm, a, 0)));
}

double Abs(double d) { return std::fabs(d); }
double Floor(double d) { return std::floor(d); }
double Ceil(double d) { return std::ceil(d); }
double Round(double d) { return std::floor(d + 0.5); }
double Sin(double d) { return std::sin(d); }
double Cos(double d) { return std::cos(d); }
double Tan(double d) { return std::tan(d); }
double Asin(double d) { return std::asin(d); }
double Acos(double d) { return std::acos(d); }
double Atan(double d) { return std::atan(d); }
double Sqrt(double d) { return std::sqrt(d); }
double Exp(double d) { return std::exp(d); }
double Log(double d) { return std::log(d); }

AsValue MathAtan2(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::Number(std::atan2(Num(vm, a, 0), Num(vm, a, 1))); }
AsValue MathPow(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::Number(std::pow(Num(vm, a, 0), Num(vm, a, 1))); }
AsValue MathRandom(Avm1& vm, const AsValue&, AsArgs) { return AsValue::Number(vm.Random()); }

AsValue MathMin(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.empty()) return AsValue::Number(HUGE_VAL);
  double m = Num(vm, a, 0);
  for (std::size_t i = 1; i < a.size(); ++i) {
    const double d = Num(vm, a, i);
    if (std::isnan(d) || std::isnan(m)) m = std::nan("");
    else m = std::min(m, d);
  }
  return AsValue::Number(m);
}

AsValue MathMax(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.empty()) return AsValue::Number(-HUGE_VAL);
  double m = Num(vm, a, 0);
  for (std::size_t i = 1; i < a.size(); ++i) {
    const double d = Num(vm, a, i);
    if (std::isnan(d) || std::isnan(m)) m = std::nan("");
    else m = std::max(m, d);
  }
  return AsValue::Number(m);
}

}  // namespace

void InstallStdlib(Avm1& vm) {
  AsObject* global = vm.Global();
  auto fn = [&](AsObject* on, const char* name, AsNative native) { vm.NewFunction(name, native, on); };
  const std::pair<const char*, AsNative> arrayMethods[] = {
      {"push", ArrPush},       {"pop", ArrPop},         {"shift", ArrShift},     {"unshift", ArrUnshift},
      {"join", ArrJoin},       {"slice", ArrSlice},     {"splice", ArrSplice},   {"concat", ArrConcat},
      {"reverse", ArrReverse}, {"sort", ArrSort},       {"toString", PrimToString}};
  for (auto& [n, f] : arrayMethods) fn(vm.ArrayProto(), n, f);
  const std::pair<const char*, AsNative> stringMethods[] = {
      {"charAt", StrCharAt},         {"charCodeAt", StrCharCodeAt}, {"substr", StrSubstr},
      {"substring", StrSubstring},   {"slice", StrSlice},           {"indexOf", StrIndexOf},
      {"lastIndexOf", StrLastIndexOf}, {"toUpperCase", StrUpper},   {"toLowerCase", StrLower},
      {"split", StrSplit},           {"concat", StrConcat},         {"toString", PrimToString},
      {"valueOf", PrimValueOf}};
  for (auto& [n, f] : stringMethods) fn(vm.StringProto(), n, f);
  fn(vm.NumberProto(), "toString", NumToString);
  fn(vm.NumberProto(), "valueOf", PrimValueOf);
  fn(vm.BooleanProto(), "toString", PrimToString);
  fn(vm.BooleanProto(), "valueOf", PrimValueOf);

  AsObject* mathObj = vm.NewRootObject(vm.ObjectProto());
  const std::pair<const char*, AsNative> mathFns[] = {
      {"abs", Math1<Abs>},   {"floor", Math1<Floor>}, {"ceil", Math1<Ceil>}, {"round", Math1<Round>},
      {"sin", Math1<Sin>},   {"cos", Math1<Cos>},     {"tan", Math1<Tan>},   {"asin", Math1<Asin>},
      {"acos", Math1<Acos>}, {"atan", Math1<Atan>},   {"sqrt", Math1<Sqrt>}, {"exp", Math1<Exp>},
      {"log", Math1<Log>},   {"atan2", MathAtan2},    {"pow", MathPow},      {"random", MathRandom},
      {"min", MathMin},      {"max", MathMax}};
  for (auto& [n, f] : mathFns) fn(mathObj, n, f);
  const std::pair<const char*, double> mathConsts[] = {{"PI", 3.14159265358979323846}, {"E", 2.718281828459045},
                                                       {"LN2", 0.6931471805599453},     {"LN10", 2.302585092994046},
                                                       {"LOG2E", 1.4426950408889634},   {"LOG10E", 0.4342944819032518},
                                                       {"SQRT2", 1.4142135623730951},   {"SQRT1_2", 0.7071067811865476}};
  for (auto& [n, v] : mathConsts) vm.SetProp(mathObj, n, AsValue::Number(v), true);
  vm.SetProp(global, "Math", AsValue::Object(mathObj), true);

  vm.NewClass(global, "Array", ArrayCtor, vm.ArrayProto());
  AsObject* stringCtor = vm.NewClass(global, "String", StringCtor, vm.StringProto());
  fn(stringCtor, "fromCharCode", StrFromCharCode);
  AsObject* numberCtor = vm.NewClass(global, "Number", NumberCtor, vm.NumberProto());
  vm.SetProp(numberCtor, "MAX_VALUE", AsValue::Number(1.7976931348623157e308), true);
  vm.SetProp(numberCtor, "MIN_VALUE", AsValue::Number(5e-324), true);
  vm.SetProp(numberCtor, "NaN", AsValue::Number(std::nan("")), true);
  vm.SetProp(numberCtor, "POSITIVE_INFINITY", AsValue::Number(HUGE_VAL), true);
  vm.SetProp(numberCtor, "NEGATIVE_INFINITY", AsValue::Number(-HUGE_VAL), true);
  vm.NewClass(global, "Boolean", BooleanCtor, vm.BooleanProto());

  const std::pair<const char*, AsNative> globals[] = {
      {"parseInt", ParseInt}, {"parseFloat", ParseFloat}, {"isNaN", IsNaN},
      {"isFinite", IsFinite}, {"escape", Escape},         {"unescape", Unescape}};
  for (auto& [n, f] : globals) fn(global, n, f);
  vm.SetProp(global, "NaN", AsValue::Number(std::nan("")), true);
  vm.SetProp(global, "Infinity", AsValue::Number(HUGE_VAL), true);
}

}  // namespace quarvel::player::avm1_builtins
