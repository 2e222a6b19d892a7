// The built-in objects and functions of ActionScript 1/2 that animations use:
// Object, Function, Array, String, Number, Boolean, Math, Color, Sound,
// MovieClip methods and the global functions.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/player/avm1.h"
#include "platform/player/avm1_builtins.h"
#include "platform/player/stage.h"

namespace quarvel::player {
namespace {

constexpr std::size_t kMaxArray = std::size_t{1} << 20;
constexpr std::size_t kMaxText = std::size_t{1} << 20;

AsValue Arg(AsArgs a, std::size_t i) { return i < a.size() ? a[i] : AsValue{}; }

double Num(Avm1& vm, AsArgs a, std::size_t i) { return vm.ToNumber(Arg(a, i)); }

std::string Str(Avm1& vm, const AsValue& v) { return vm.ToString(v); }

AsObject* Self(const AsValue& self) { return self.type == AsValue::Type::kObject ? self.obj : nullptr; }

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
AsValue Nothing(Avm1&, const AsValue&, AsArgs) { return {}; }

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

AsValue SetInterval(Avm1& vm, const AsValue&, AsArgs a) {
  const int id = vm.NextIntervalId();
  if (Arg(a, 0).type == AsValue::Type::kObject && Arg(a, 0).obj->fn) {
    vm.AddInterval(a[0], {}, "", Num(vm, a, 1), std::vector<AsValue>(a.begin() + std::min<std::size_t>(2, a.size()), a.end()), id);
  } else if (a.size() >= 3) {
    vm.AddInterval({}, a[0], Str(vm, a[1]), Num(vm, a, 2),
                   std::vector<AsValue>(a.begin() + 3, a.end()), id);
  } else {
    return {};
  }
  return AsValue::Number(id);
}

AsValue ClearTimer(Avm1& vm, const AsValue&, AsArgs a) {
  vm.ClearInterval(ToInt32(Num(vm, a, 0)));
  return {};
}

// ---- constructors

AsValue ObjectCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!a.empty() && (a[0].type == AsValue::Type::kObject || a[0].type == AsValue::Type::kClip)) return a[0];
  if (Self(self)) return self;
  return AsValue::Object(vm.NewObject());
}

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

// ---- Object and Function

AsValue ObjToString(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) return AsValue::String(Str(vm, o->primitive));
  if (self.type == AsValue::Type::kClip) return AsValue::String(vm.ToString(self));
  if (AsObject* o = Self(self); o && o->isArray) return AsValue::String(vm.Join(o, ","));
  return AsValue::String("[object Object]");
}

AsValue ObjValueOf(Avm1&, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) return o->primitive;
  return self;
}

AsValue ObjRegisterClass(Avm1& vm, const AsValue&, AsArgs a) {
  vm.RegisterClass(vm.ToString(Arg(a, 0)), Arg(a, 1));
  return AsValue::Bool(true);
}

AsValue ObjAddProperty(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o && self.type == AsValue::Type::kClip) {
    if (TimelineState* tl = vm.GetStage().TimelineOf(vm.ClipOf(self))) {
      vm.ClipVarsOf(*tl);
      o = tl->vars;
    }
  }
  return AsValue::Bool(vm.AddProperty(o, Str(vm, Arg(a, 0)), Arg(a, 1), Arg(a, 2)));
}

AsValue HasOwnProperty(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  return AsValue::Bool(o && o->props.count(vm.Key(Str(vm, Arg(a, 0)))));
}

AsValue FnCall(Avm1& vm, const AsValue& self, AsArgs a) {
  return vm.Call(self, Arg(a, 0), a.empty() ? a : a.subspan(1));
}

AsValue FnApply(Avm1& vm, const AsValue& self, AsArgs a) {
  std::vector<AsValue> args;
  if (AsObject* arr = Self(Arg(a, 1)); arr && arr->isArray) args = arr->elems;
  return vm.Call(self, Arg(a, 0), args);
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

// ---- MovieClip

TimelineState* ClipTimeline(Avm1& vm, const AsValue& self, ClipHandle* clip = nullptr) {
  const ClipHandle h = vm.ClipOf(self);
  if (clip) *clip = h;
  return vm.GetStage().TimelineOf(h);
}

// A placed clip (not the main timeline) the value refers to.
Instance* ClipNode(Avm1& vm, const AsValue& v) {
  Instance* inst = vm.GetStage().Find(vm.ClipOf(v));
  return inst && inst->sprite ? inst : nullptr;
}

AsValue McPlay(Avm1& vm, const AsValue& self, AsArgs) {
  if (TimelineState* tl = ClipTimeline(vm, self)) vm.GetStage().SetPlaying(*tl, true);
  return {};
}

AsValue McStop(Avm1& vm, const AsValue& self, AsArgs) {
  if (TimelineState* tl = ClipTimeline(vm, self)) vm.GetStage().SetPlaying(*tl, false);
  return {};
}

AsValue GotoAnd(Avm1& vm, const AsValue& self, AsArgs a, bool play) {
  ClipHandle clip = kNoClip;
  if (!ClipTimeline(vm, self, &clip)) return {};
  if (!a.empty()) vm.GetStage().GotoValue(clip, a[0], vm);
  if (TimelineState* again = vm.GetStage().TimelineOf(clip)) vm.GetStage().SetPlaying(*again, play);
  return {};
}

AsValue McGotoAndPlay(Avm1& vm, const AsValue& self, AsArgs a) { return GotoAnd(vm, self, a, true); }
AsValue McGotoAndStop(Avm1& vm, const AsValue& self, AsArgs a) { return GotoAnd(vm, self, a, false); }

AsValue Step(Avm1& vm, const AsValue& self, int by) {
  ClipHandle clip = kNoClip;
  TimelineState* tl = ClipTimeline(vm, self, &clip);
  if (!tl) return {};
  vm.GetStage().Goto(*tl, tl->current + by);
  if (TimelineState* again = vm.GetStage().TimelineOf(clip)) vm.GetStage().SetPlaying(*again, false);
  return {};
}

AsValue McNextFrame(Avm1& vm, const AsValue& self, AsArgs) { return Step(vm, self, 1); }
AsValue McPrevFrame(Avm1& vm, const AsValue& self, AsArgs) { return Step(vm, self, -1); }

void InitFromObject(Avm1& vm, ClipHandle clip, const AsValue& init) {
  if (init.type != AsValue::Type::kObject || clip == kNoClip) return;
  const AsValue target = vm.ClipValue(clip);
  for (auto& [k, p] : init.obj->props) vm.Set(target, p.name, p.value);
}

// A depth argument, script numbering (0 is the first depth above the timeline's).
int DepthArg(Avm1& vm, AsArgs a, std::size_t i) { return ToInt32(Num(vm, a, i)); }

AsValue McDuplicate(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip) return {};
  const ClipHandle source = vm.ClipOf(self);
  const std::string name = Str(vm, Arg(a, 0));
  const ClipHandle made = vm.GetStage().Duplicate(source, name, DepthArg(vm, a, 1));
  InitFromObject(vm, made, Arg(a, 2));
  // The main timeline cannot be copied: it answers itself.
  if (made == kNoClip) return source == kRootClip ? vm.ClipValue(kRootClip) : AsValue{};
  return vm.ClipValue(made);
}

AsValue McRemove(Avm1& vm, const AsValue& self, AsArgs) {
  if (self.type == AsValue::Type::kClip) vm.GetStage().RemoveClip(vm.ClipOf(self));
  return {};
}

AsValue McAttach(Avm1& vm, const AsValue& self, AsArgs a) {
  ClipHandle clip = kNoClip;
  if (!ClipTimeline(vm, self, &clip)) return {};
  const std::string exportName = Str(vm, Arg(a, 0)), name = Str(vm, Arg(a, 1));
  const ClipHandle made = vm.GetStage().AttachMovie(clip, exportName, name, DepthArg(vm, a, 2));
  if (made == kNoClip) return {};
  InitFromObject(vm, made, Arg(a, 3));
  return vm.ClipValue(made);
}

AsValue McCreateEmpty(Avm1& vm, const AsValue& self, AsArgs a) {
  ClipHandle clip = kNoClip;
  if (!ClipTimeline(vm, self, &clip)) return {};
  const std::string name = Str(vm, Arg(a, 0));
  const ClipHandle made = vm.GetStage().CreateEmptyClip(clip, name, DepthArg(vm, a, 1));
  return made == kNoClip ? AsValue{} : vm.ClipValue(made);
}

AsValue McBytes(Avm1& vm, const AsValue&, AsArgs) {
  return AsValue::Number(static_cast<double>(vm.GetStage().FileBytes()));
}

AsValue McSwapDepths(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip) return {};
  int depth = 0;
  if (Arg(a, 0).type == AsValue::Type::kClip) {
    const AsValue d = vm.Get(a[0], "getDepth");
    std::vector<AsValue> none;
    const AsValue v = vm.Call(d, a[0], none);
    if (v.type != AsValue::Type::kNumber) return {};
    depth = ToInt32(v.num);
  } else if (Arg(a, 0).type == AsValue::Type::kNumber) {
    depth = ToInt32(a[0].num);
  } else {
    const double d = Num(vm, a, 0);
    if (std::isnan(d)) return {};
    depth = ToInt32(d);
  }
  vm.GetStage().SwapDepths(vm.ClipOf(self), depth);
  return {};
}

AsValue McGetDepth(Avm1& vm, const AsValue& self, AsArgs) {
  if (self.type != AsValue::Type::kClip) return {};
  if (Instance* inst = ClipNode(vm, self)) return AsValue::Number(inst->depth - 16384);
  return vm.ClipOf(self) == kRootClip ? AsValue::Number(-16384) : AsValue{};
}

AsValue McNextDepth(Avm1& vm, const AsValue& self, AsArgs) {
  ClipHandle clip = kNoClip;
  if (!ClipTimeline(vm, self, &clip)) return {};
  return AsValue::Number(vm.GetStage().NextHighestDepth(clip));
}

AsValue McInstanceAtDepth(Avm1& vm, const AsValue& self, AsArgs a) {
  TimelineState* tl = ClipTimeline(vm, self);
  if (!tl) return {};
  const std::int64_t key = std::int64_t{DepthArg(vm, a, 0)} + 16384;
  // The argument's conversion may have run a script.
  tl = ClipTimeline(vm, self);
  if (!tl || key > std::numeric_limits<int>::max()) return {};
  auto it = tl->list.find(static_cast<int>(key));
  if (it == tl->list.end() || !it->second.sprite) return {};
  return vm.ClipValue(it->second.serial);
}

// The clip's matrix to the stage.
bool WorldMatrix(Avm1& vm, ClipHandle clip, Matrix& out) {
  out = Matrix{};
  int guard = 0;
  while (clip != kRootClip && guard++ < 64) {
    Instance* inst = vm.GetStage().Find(clip);
    if (!inst || !inst->sprite) return false;
    const Matrix& m = inst->matrix;
    Matrix r;
    r.scaleX = out.scaleX * m.scaleX + out.rotateSkew0 * m.rotateSkew1;
    r.rotateSkew0 = out.scaleX * m.rotateSkew0 + out.rotateSkew0 * m.scaleY;
    r.rotateSkew1 = out.rotateSkew1 * m.scaleX + out.scaleY * m.rotateSkew1;
    r.scaleY = out.rotateSkew1 * m.rotateSkew0 + out.scaleY * m.scaleY;
    // Scripts may scale without bound: the sums can leave the int range.
    r.translateX = ClampToInt(out.translateX * m.scaleX + out.translateY * m.rotateSkew1 + m.translateX);
    r.translateY = ClampToInt(out.translateX * m.rotateSkew0 + out.translateY * m.scaleY + m.translateY);
    out = r;
    clip = inst->parent;
  }
  return clip == kRootClip;
}

bool StageBox(Avm1& vm, const AsValue& v, double box[4]) {
  const ClipHandle clip = vm.ClipOf(v);
  Instance* inst = ClipNode(vm, v);
  Matrix world;
  if (!inst || !WorldMatrix(vm, clip, world)) return false;
  Rect local;
  if (!vm.GetStage().Bounds(*inst, local, true)) return false;
  box[0] = box[1] = 1e300;
  box[2] = box[3] = -1e300;
  for (double x : {static_cast<double>(local.xmin), static_cast<double>(local.xmax)}) {
    for (double y : {static_cast<double>(local.ymin), static_cast<double>(local.ymax)}) {
      const double wx = world.scaleX * x + world.rotateSkew1 * y + world.translateX;
      const double wy = world.rotateSkew0 * x + world.scaleY * y + world.translateY;
      box[0] = std::min(box[0], wx), box[1] = std::min(box[1], wy);
      box[2] = std::max(box[2], wx), box[3] = std::max(box[3], wy);
    }
  }
  return true;
}

AsValue McHitTest(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip) return AsValue::Bool(false);
  double mine[4];
  if (!StageBox(vm, self, mine)) return AsValue::Bool(false);
  if (Arg(a, 0).type == AsValue::Type::kClip) {
    double other[4];
    if (!StageBox(vm, a[0], other)) return AsValue::Bool(false);
    return AsValue::Bool(mine[0] <= other[2] && other[0] <= mine[2] && mine[1] <= other[3] && other[1] <= mine[3]);
  }
  const double x = Num(vm, a, 0) * 20, y = Num(vm, a, 1) * 20;
  return AsValue::Bool(x >= mine[0] && x <= mine[2] && y >= mine[1] && y <= mine[3]);
}

AsValue McGetBounds(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = vm.NewObject();
  double box[4] = {0, 0, 0, 0};
  if (self.type == AsValue::Type::kClip && !StageBox(vm, self, box)) box[0] = box[1] = box[2] = box[3] = 0;
  vm.SetProp(o, "xMin", AsValue::Number(box[0] / 20));
  vm.SetProp(o, "yMin", AsValue::Number(box[1] / 20));
  vm.SetProp(o, "xMax", AsValue::Number(box[2] / 20));
  vm.SetProp(o, "yMax", AsValue::Number(box[3] / 20));
  return AsValue::Object(o);
}

AsValue LocalGlobal(Avm1& vm, const AsValue& self, AsArgs a, bool toGlobal) {
  AsObject* pt = Self(Arg(a, 0));
  if (!pt || self.type != AsValue::Type::kClip) return {};
  Matrix w;
  if (!WorldMatrix(vm, vm.ClipOf(self), w)) return {};
  double x = vm.ToNumber(vm.Get(a[0], "x")) * 20, y = vm.ToNumber(vm.Get(a[0], "y")) * 20;
  if (toGlobal) {
    const double gx = w.scaleX * x + w.rotateSkew1 * y + w.translateX, gy = w.rotateSkew0 * x + w.scaleY * y + w.translateY;
    x = gx, y = gy;
  } else {
    const double det = w.scaleX * w.scaleY - w.rotateSkew0 * w.rotateSkew1;
    if (det == 0) return {};
    const double dx = x - w.translateX, dy = y - w.translateY;
    x = (w.scaleY * dx - w.rotateSkew1 * dy) / det;
    y = (-w.rotateSkew0 * dx + w.scaleX * dy) / det;
  }
  vm.Set(a[0], "x", AsValue::Number(x / 20));
  vm.Set(a[0], "y", AsValue::Number(y / 20));
  return {};
}

AsValue McLocalToGlobal(Avm1& vm, const AsValue& self, AsArgs a) { return LocalGlobal(vm, self, a, true); }
AsValue McGlobalToLocal(Avm1& vm, const AsValue& self, AsArgs a) { return LocalGlobal(vm, self, a, false); }


// ---- drawing API

constexpr std::size_t kMaxDrawingEdges = std::size_t{1} << 18;

Drawing* Pen(Avm1& vm, const AsValue& self) {
  TimelineState* tl = ClipTimeline(vm, self);
  if (!tl) return nullptr;
  if (!tl->drawing) tl->drawing = std::make_shared<Drawing>();
  tl->drawing->version = NextDrawingVersion();  // about to change: the next paint must draw
  return tl->drawing.get();
}

ShapeLayer& TopLayer(Drawing& d) {
  if (d.geometry.layers.empty()) d.geometry.layers.emplace_back();
  return d.geometry.layers.back();
}

void Grow(Drawing& d, double x, double y, double margin) {
  Rect& b = d.geometry.bounds;
  const auto x0 = static_cast<std::int32_t>(std::floor(x - margin)), x1 = static_cast<std::int32_t>(std::ceil(x + margin));
  const auto y0 = static_cast<std::int32_t>(std::floor(y - margin)), y1 = static_cast<std::int32_t>(std::ceil(y + margin));
  if (!d.hasBounds) {
    b = Rect{x0, x1, y0, y1};
    d.hasBounds = true;
    return;
  }
  b.xmin = std::min(b.xmin, x0), b.xmax = std::max(b.xmax, x1);
  b.ymin = std::min(b.ymin, y0), b.ymax = std::max(b.ymax, y1);
}

void AddEdge(Drawing& d, const Edge& e, bool fillOnly = false) {
  if (d.edges >= kMaxDrawingEdges) return;
  ++d.edges;
  ShapeLayer& layer = TopLayer(d);
  double margin = 0;
  if (d.filling && !layer.fillPaths.empty()) layer.fillPaths[0].push_back(e);
  if (!fillOnly && d.line >= 0 && d.line < static_cast<int>(layer.linePaths.size())) {
    layer.linePaths[static_cast<std::size_t>(d.line)].push_back(e);
    margin = layer.lines[static_cast<std::size_t>(d.line)].width / 2;
  }
  Grow(d, e.x0, e.y0, margin);
  Grow(d, e.x1, e.y1, margin);
  if (e.curve) Grow(d, e.cx, e.cy, margin);
  d.penX = e.x1, d.penY = e.y1;
}

void CloseContour(Drawing& d) {
  if (d.filling && (d.penX != d.startX || d.penY != d.startY)) {
    const double x = d.penX, y = d.penY;
    AddEdge(d, Edge{x, y, 0, 0, d.startX, d.startY, false}, true);
  }
}

bool Coord(Avm1& vm, AsArgs a, std::size_t i, double& out) {
  const double v = Num(vm, a, i);
  if (!std::isfinite(v)) return false;
  out = std::clamp(v, -1e7, 1e7) * 20;
  return true;
}

Rgba ColorArg(Avm1& vm, const AsValue& rgb, const AsValue& alpha) {
  const double c = vm.ToNumber(rgb);
  const auto v = static_cast<std::uint32_t>(ToInt32(c));
  const double a = alpha.IsUndefined() ? 100 : vm.ToNumber(alpha);
  return Rgba{static_cast<std::uint8_t>((v >> 16) & 255), static_cast<std::uint8_t>((v >> 8) & 255),
              static_cast<std::uint8_t>(v & 255),
              static_cast<std::uint8_t>(std::isnan(a) ? 255 : std::clamp(a, 0.0, 100.0) * 255 / 100 + 0.5)};
}

void StartFill(Drawing& d, const FillStyle& f) {
  CloseContour(d);
  ShapeLayer layer;
  layer.fills.push_back(f);
  layer.fillPaths.emplace_back();
  d.line = -1;
  if (d.hasLineStyle) {
    layer.lines.push_back(d.lineStyle);
    layer.linePaths.emplace_back();
    d.line = 0;
  }
  if (d.geometry.layers.size() < 100000) d.geometry.layers.push_back(std::move(layer));
  d.filling = true;
  d.startX = d.penX, d.startY = d.penY;
}

AsValue DrBeginFill(Avm1& vm, const AsValue& self, AsArgs a) {
  const bool none = a.empty() || a[0].IsUndefined();
  FillStyle f;
  if (!none) f.color = ColorArg(vm, a[0], Arg(a, 1));
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  if (none) {
    CloseContour(*d);
    d->filling = false;
    return {};
  }
  StartFill(*d, f);
  return {};
}

// A gradient's matrix from a {matrixType:"box"} object, a Matrix or {a..i}.
Matrix GradientMatrix(Avm1& vm, const AsValue& m) {
  Matrix out;
  if (m.type != AsValue::Type::kObject) return out;
  auto num = [&](const char* n) {
    const double d = vm.ToNumber(vm.Get(m, n));
    return std::isfinite(d) ? d : 0.0;
  };
  const AsValue type = vm.Get(m, "matrixType");
  if (type.type == AsValue::Type::kString && type.Text() == "box") {
    const double w = num("w"), h = num("h"), r = num("r"), x = num("x"), y = num("y");
    out.scaleX = w / 1638.4 * std::cos(r);
    out.rotateSkew0 = w / 1638.4 * std::sin(r);
    out.rotateSkew1 = -h / 1638.4 * std::sin(r);
    out.scaleY = h / 1638.4 * std::cos(r);
    out.translateX = static_cast<std::int32_t>(std::lround(std::clamp((x + w / 2) * 20, -2e9, 2e9)));
    out.translateY = static_cast<std::int32_t>(std::lround(std::clamp((y + h / 2) * 20, -2e9, 2e9)));
    return out;
  }
  if (!vm.Get(m, "tx").IsUndefined() || (!vm.Get(m, "a").IsUndefined() && vm.Get(m, "g").IsUndefined())) {
    out.scaleX = num("a"), out.rotateSkew0 = num("b"), out.rotateSkew1 = num("c"), out.scaleY = num("d");
    out.translateX = static_cast<std::int32_t>(std::lround(std::clamp(num("tx") * 20, -2e9, 2e9)));
    out.translateY = static_cast<std::int32_t>(std::lround(std::clamp(num("ty") * 20, -2e9, 2e9)));
    return out;
  }
  // The 3x3 form: a b _ / d e _ / g h _, in pixels.
  out.scaleX = num("a") / 1638.4, out.rotateSkew0 = num("b") / 1638.4;
  out.rotateSkew1 = num("d") / 1638.4, out.scaleY = num("e") / 1638.4;
  out.translateX = static_cast<std::int32_t>(std::lround(std::clamp(num("g") * 20, -2e9, 2e9)));
  out.translateY = static_cast<std::int32_t>(std::lround(std::clamp(num("h") * 20, -2e9, 2e9)));
  return out;
}

bool GradientFill(Avm1& vm, AsArgs a, FillStyle& f) {
  const std::string type = Str(vm, Arg(a, 0));
  AsObject* colors = ArraySelf(Arg(a, 1));
  AsObject* alphas = ArraySelf(Arg(a, 2));
  AsObject* ratios = ArraySelf(Arg(a, 3));
  if (!colors || !alphas || !ratios || (type != "linear" && type != "radial")) return false;
  const std::size_t n = std::min({colors->elems.size(), alphas->elems.size(), ratios->elems.size(), std::size_t{15}});
  if (n == 0) return false;
  f.kind = type == "linear" ? FillStyle::Kind::kLinear : FillStyle::Kind::kRadial;
  for (std::size_t i = 0; i < n; ++i) {
    const double r = vm.ToNumber(ratios->elems[i]);
    f.gradient.stops.push_back(
        {static_cast<std::uint8_t>(std::isnan(r) ? 0 : std::clamp(r, 0.0, 255.0)), ColorArg(vm, colors->elems[i], alphas->elems[i])});
  }
  f.matrix = GradientMatrix(vm, Arg(a, 4));
  const std::string spread = Str(vm, Arg(a, 5));
  f.gradient.spread = spread == "reflect" ? 1 : spread == "repeat" ? 2 : 0;
  f.gradient.interpolation = Str(vm, Arg(a, 6)) == "linearRGB" ? 1 : 0;
  if (a.size() > 7 && f.kind == FillStyle::Kind::kRadial) {
    const double focal = Num(vm, a, 7);
    if (std::isfinite(focal) && focal != 0) {
      f.kind = FillStyle::Kind::kFocal;
      f.gradient.focal = std::clamp(focal, -1.0, 1.0);
    }
  }
  return true;
}

AsValue DrBeginGradientFill(Avm1& vm, const AsValue& self, AsArgs a) {
  FillStyle f;
  if (!GradientFill(vm, a, f)) return {};
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  StartFill(*d, f);
  return {};
}

AsValue DrBeginBitmapFill(Avm1& vm, const AsValue&, AsArgs) {
  vm.Skip("beginBitmapFill");
  return {};
}

AsValue DrLineStyle(Avm1& vm, const AsValue& self, AsArgs a) {
  const double t = Num(vm, a, 0);
  if (a.empty() || a[0].IsUndefined() || std::isnan(t)) {
    if (Drawing* d = Pen(vm, self)) {
      d->hasLineStyle = false;
      d->line = -1;
    }
    return {};
  }
  LineStyle l;
  l.width = std::clamp(t, 0.0, 255.0) * 20;
  if (l.width < 20) l.width = 20;  // hairlines stay one pixel
  l.color = ColorArg(vm, Arg(a, 1), Arg(a, 2));
  const std::string scale = Str(vm, Arg(a, 4));
  l.noHScale = scale == "none" || scale == "horizontal";
  l.noVScale = scale == "none" || scale == "vertical";
  const std::string caps = Str(vm, Arg(a, 5)), joints = Str(vm, Arg(a, 6));
  l.startCap = l.endCap = caps == "none" ? 1 : caps == "square" ? 2 : 0;
  l.join = joints == "bevel" ? 1 : joints == "miter" ? 2 : 0;
  if (a.size() > 7) {
    const double ml = Num(vm, a, 7);
    if (std::isfinite(ml)) l.miterLimit = std::clamp(ml, 1.0, 255.0);
  }
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  d->lineStyle = l;
  d->hasLineStyle = true;
  ShapeLayer& layer = TopLayer(*d);
  if (layer.lines.size() >= 10000) return {};
  layer.lines.push_back(l);
  layer.linePaths.emplace_back();
  d->line = static_cast<int>(layer.lines.size() - 1);
  return {};
}

AsValue DrLineGradientStyle(Avm1& vm, const AsValue& self, AsArgs a) {
  FillStyle f;
  if (!GradientFill(vm, a, f)) return {};
  Drawing* d = Pen(vm, self);
  if (!d || d->line < 0) return {};
  ShapeLayer& layer = TopLayer(*d);
  if (d->line >= static_cast<int>(layer.lines.size())) return {};
  LineStyle& l = layer.lines[static_cast<std::size_t>(d->line)];
  l.hasFill = true;
  l.fill = f;
  d->lineStyle = l;
  return {};
}

AsValue DrMoveTo(Avm1& vm, const AsValue& self, AsArgs a) {
  double x, y;
  if (!Coord(vm, a, 0, x) || !Coord(vm, a, 1, y)) return {};
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  CloseContour(*d);
  d->penX = d->startX = x;
  d->penY = d->startY = y;
  return {};
}

AsValue DrLineTo(Avm1& vm, const AsValue& self, AsArgs a) {
  double x, y;
  if (!Coord(vm, a, 0, x) || !Coord(vm, a, 1, y)) return {};
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  AddEdge(*d, Edge{d->penX, d->penY, 0, 0, x, y, false});
  return {};
}

AsValue DrCurveTo(Avm1& vm, const AsValue& self, AsArgs a) {
  double cx, cy, x, y;
  if (!Coord(vm, a, 0, cx) || !Coord(vm, a, 1, cy) || !Coord(vm, a, 2, x) || !Coord(vm, a, 3, y)) return {};
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  AddEdge(*d, Edge{d->penX, d->penY, cx, cy, x, y, true});
  return {};
}

AsValue DrEndFill(Avm1& vm, const AsValue& self, AsArgs) {
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  CloseContour(*d);
  d->filling = false;
  return {};
}

AsValue DrClear(Avm1& vm, const AsValue& self, AsArgs) {
  if (TimelineState* tl = ClipTimeline(vm, self)) tl->drawing.reset();
  return {};
}

AsValue McSetMask(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type != AsValue::Type::kClip) return {};
  Stage& stage = vm.GetStage();
  Instance* inst = ClipNode(vm, self);
  if (!inst) return {};
  // A clip in a script mask pair no longer masks by clip depth.
  inst->clipDepth = 0;
  if (inst->maskSerial) {
    if (Instance* old = stage.Find(inst->maskSerial)) old->scriptMask = false;
  }
  Instance* mask = Arg(a, 0).type == AsValue::Type::kClip ? ClipNode(vm, a[0]) : nullptr;
  if (!mask || mask == inst) {
    inst->maskSerial = 0;
    return {};
  }
  mask->clipDepth = 0;
  inst->maskSerial = mask->serial;
  mask->scriptMask = true;
  return {};
}

// ---- flash.geom.Matrix, as gradients need it

AsValue MatrixCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  const char* names[] = {"a", "b", "c", "d", "tx", "ty"};
  const double defaults[] = {1, 0, 0, 1, 0, 0};
  for (std::size_t i = 0; i < 6; ++i) {
    vm.SetProp(o, names[i], AsValue::Number(i < a.size() ? Num(vm, a, i) : defaults[i]));
  }
  return self;
}

AsValue MatrixGradientBox(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  const double w = Num(vm, a, 0), h = Num(vm, a, 1);
  const double r = a.size() > 2 ? Num(vm, a, 2) : 0, tx = a.size() > 3 ? Num(vm, a, 3) : 0,
               ty = a.size() > 4 ? Num(vm, a, 4) : 0;
  vm.SetProp(o, "a", AsValue::Number(w / 1638.4 * std::cos(r)));
  vm.SetProp(o, "b", AsValue::Number(w / 1638.4 * std::sin(r)));
  vm.SetProp(o, "c", AsValue::Number(-h / 1638.4 * std::sin(r)));
  vm.SetProp(o, "d", AsValue::Number(h / 1638.4 * std::cos(r)));
  vm.SetProp(o, "tx", AsValue::Number(tx + w / 2));
  vm.SetProp(o, "ty", AsValue::Number(ty + h / 2));
  return {};
}

// ---- Color

Instance* ColorTarget(Avm1& vm, const AsValue& self) {
  AsObject* o = Self(self);
  return o ? ClipNode(vm, o->target) : nullptr;
}

AsValue ColorCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  o->className = "Color";
  const AsValue t = Arg(a, 0);
  if (t.type == AsValue::Type::kClip) {
    o->target = t;
  } else if (t.type == AsValue::Type::kString) {
    if (const ClipHandle clip = vm.GetStage().Resolve(kRootClip, t.Text()); clip != kNoClip) o->target = vm.ClipValue(clip);
  }
  return self;
}

AsValue ColorSetRGB(Avm1& vm, const AsValue& self, AsArgs a) {
  const double d = Num(vm, a, 0);
  Instance* inst = ColorTarget(vm, self);
  if (!inst || !std::isfinite(d)) return {};
  const auto rgb = static_cast<std::uint32_t>(ToInt32(d));
  inst->cxform.redMult = inst->cxform.greenMult = inst->cxform.blueMult = 0;
  inst->cxform.redAdd = (rgb >> 16) & 255;
  inst->cxform.greenAdd = (rgb >> 8) & 255;
  inst->cxform.blueAdd = rgb & 255;
  inst->scripted = true;
  return {};
}

AsValue ColorGetRGB(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ColorTarget(vm, self);
  if (!inst) return {};
  const auto& c = inst->cxform;
  return AsValue::Number(((c.redAdd & 255) << 16) | ((c.greenAdd & 255) << 8) | (c.blueAdd & 255));
}

AsValue ColorSetTransform(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Arg(a, 0).type != AsValue::Type::kObject || !ColorTarget(vm, self)) return {};
  // Read every field first: conversions may run scripts.
  ColorTransform c = ColorTarget(vm, self)->cxform;
  auto field = [&](const char* name, std::int32_t& out, double scale) {
    const AsValue v = vm.Get(a[0], name);
    if (v.IsUndefined()) return;
    const double d = vm.ToNumber(v);
    if (std::isfinite(d)) out = static_cast<std::int32_t>(std::clamp(d * scale, -1e6, 1e6));
  };
  field("ra", c.redMult, 2.56);
  field("ga", c.greenMult, 2.56);
  field("ba", c.blueMult, 2.56);
  field("aa", c.alphaMult, 2.56);
  field("rb", c.redAdd, 1);
  field("gb", c.greenAdd, 1);
  field("bb", c.blueAdd, 1);
  field("ab", c.alphaAdd, 1);
  Instance* inst = ColorTarget(vm, self);
  if (!inst) return {};
  inst->cxform = c;
  inst->scripted = true;
  return {};
}

AsValue ColorGetTransform(Avm1& vm, const AsValue& self, AsArgs) {
  Instance* inst = ColorTarget(vm, self);
  AsObject* o = vm.NewObject();
  const ColorTransform c = inst ? inst->cxform : ColorTransform{};
  vm.SetProp(o, "ra", AsValue::Number(c.redMult / 2.56));
  vm.SetProp(o, "ga", AsValue::Number(c.greenMult / 2.56));
  vm.SetProp(o, "ba", AsValue::Number(c.blueMult / 2.56));
  vm.SetProp(o, "aa", AsValue::Number(c.alphaMult / 2.56));
  vm.SetProp(o, "rb", AsValue::Number(c.redAdd));
  vm.SetProp(o, "gb", AsValue::Number(c.greenAdd));
  vm.SetProp(o, "bb", AsValue::Number(c.blueAdd));
  vm.SetProp(o, "ab", AsValue::Number(c.alphaAdd));
  return AsValue::Object(o);
}

// ---- Sound: event sounds by exported name

AsValue SoundAttach(Avm1& vm, const AsValue& self, AsArgs a) {
  if (AsObject* o = Self(self)) vm.SetProp(o, "__sound", AsValue::String(Str(vm, Arg(a, 0))), true);
  return {};
}

AsValue SoundStart(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = Self(self);
  if (!o) return {};
  const AsValue name = vm.Get(self, "__sound");
  if (name.type == AsValue::Type::kString) vm.GetStage().StartSound(name.Text());
  return {};
}

AsValue SoundStop(Avm1& vm, const AsValue&, AsArgs) {
  vm.GetStage().StopAllSounds();
  return {};
}

AsValue KeyIsDown(Avm1&, const AsValue&, AsArgs) { return AsValue::Bool(false); }
AsValue Zero(Avm1&, const AsValue&, AsArgs) { return AsValue::Number(0); }

}  // namespace

void Avm1::InstallBuiltins() {
  auto obj = [&](AsObject* proto) {
    AsObject* o = NewObject(proto);
    roots_.push_back(o);
    return o;
  };
  objectProto_ = obj(nullptr);
  objectProto_->proto = nullptr;
  functionProto_ = obj(objectProto_);
  auto fn = [&](AsObject* on, const char* name, AsNative native) {
    AsObject* f = NewObject(functionProto_);
    f->className = "Function";
    f->fn = std::make_unique<AsFunction>();
    f->fn->native = native;
    f->fn->name = name;
    if (on) SetProp(on, name, AsValue::Object(f), true);
    return f;
  };
  auto ctor = [&](const char* name, AsNative native, AsObject* proto) {
    AsObject* f = fn(nullptr, name, native);
    SetProp(f, "prototype", AsValue::Object(proto), true);
    SetProp(proto, "constructor", AsValue::Object(f), true);
    return f;
  };
  global_ = obj(objectProto_);
  arrayProto_ = obj(objectProto_);
  stringProto_ = obj(objectProto_);
  numberProto_ = obj(objectProto_);
  booleanProto_ = obj(objectProto_);
  clipProto_ = obj(objectProto_);
  colorProto_ = obj(objectProto_);
  AsObject* soundProto = obj(objectProto_);

  fn(objectProto_, "toString", ObjToString);
  fn(objectProto_, "valueOf", ObjValueOf);
  fn(objectProto_, "hasOwnProperty", HasOwnProperty);
  fn(objectProto_, "addProperty", ObjAddProperty);
  fn(objectProto_, "watch", Nothing);
  fn(functionProto_, "call", FnCall);
  fn(functionProto_, "apply", FnApply);

  const std::pair<const char*, AsNative> arrayMethods[] = {
      {"push", ArrPush},       {"pop", ArrPop},         {"shift", ArrShift},     {"unshift", ArrUnshift},
      {"join", ArrJoin},       {"slice", ArrSlice},     {"splice", ArrSplice},   {"concat", ArrConcat},
      {"reverse", ArrReverse}, {"sort", ArrSort},       {"toString", ObjToString}};
  for (auto& [n, f] : arrayMethods) fn(arrayProto_, n, f);
  const std::pair<const char*, AsNative> stringMethods[] = {
      {"charAt", StrCharAt},         {"charCodeAt", StrCharCodeAt}, {"substr", StrSubstr},
      {"substring", StrSubstring},   {"slice", StrSlice},           {"indexOf", StrIndexOf},
      {"lastIndexOf", StrLastIndexOf}, {"toUpperCase", StrUpper},   {"toLowerCase", StrLower},
      {"split", StrSplit},           {"concat", StrConcat},         {"toString", ObjToString},
      {"valueOf", ObjValueOf}};
  for (auto& [n, f] : stringMethods) fn(stringProto_, n, f);
  fn(numberProto_, "toString", NumToString);
  fn(numberProto_, "valueOf", ObjValueOf);
  fn(booleanProto_, "toString", ObjToString);
  fn(booleanProto_, "valueOf", ObjValueOf);

  const std::pair<const char*, AsNative> clipMethods[] = {
      {"play", McPlay},
      {"stop", McStop},
      {"gotoAndPlay", McGotoAndPlay},
      {"gotoAndStop", McGotoAndStop},
      {"nextFrame", McNextFrame},
      {"prevFrame", McPrevFrame},
      {"duplicateMovieClip", McDuplicate},
      {"removeMovieClip", McRemove},
      {"attachMovie", McAttach},
      {"createEmptyMovieClip", McCreateEmpty},
      {"getBytesLoaded", McBytes},
      {"getBytesTotal", McBytes},
      {"swapDepths", McSwapDepths},
      {"hitTest", McHitTest},
      {"getDepth", McGetDepth},
      {"getNextHighestDepth", McNextDepth},
      {"getInstanceAtDepth", McInstanceAtDepth},
      {"getBounds", McGetBounds},
      {"getRect", McGetBounds},
      {"localToGlobal", McLocalToGlobal},
      {"globalToLocal", McGlobalToLocal},
      {"startDrag", Nothing},
      {"stopDrag", Nothing},
      {"toString", ObjToString},
      {"setMask", McSetMask},
      {"beginFill", DrBeginFill},
      {"beginGradientFill", DrBeginGradientFill},
      {"beginBitmapFill", DrBeginBitmapFill},
      {"lineStyle", DrLineStyle},
      {"lineGradientStyle", DrLineGradientStyle},
      {"moveTo", DrMoveTo},
      {"lineTo", DrLineTo},
      {"curveTo", DrCurveTo},
      {"endFill", DrEndFill},
      {"clear", DrClear},
  };
  for (auto& [n, f] : clipMethods) fn(clipProto_, n, f);
  AsObject* mathObj = obj(objectProto_);
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
  for (auto& [n, v] : mathConsts) SetProp(mathObj, n, AsValue::Number(v), true);
  SetProp(global_, "Math", AsValue::Object(mathObj), true);

  AsObject* objectCtor = ctor("Object", ObjectCtor, objectProto_);
  fn(objectCtor, "registerClass", ObjRegisterClass);
  SetProp(global_, "Object", AsValue::Object(objectCtor), true);
  SetProp(global_, "Function", AsValue::Object(ctor("Function", Nothing, functionProto_)), true);
  SetProp(global_, "Array", AsValue::Object(ctor("Array", ArrayCtor, arrayProto_)), true);
  AsObject* stringCtor = ctor("String", StringCtor, stringProto_);
  fn(stringCtor, "fromCharCode", StrFromCharCode);
  SetProp(global_, "String", AsValue::Object(stringCtor), true);
  AsObject* numberCtor = ctor("Number", NumberCtor, numberProto_);
  SetProp(numberCtor, "MAX_VALUE", AsValue::Number(1.7976931348623157e308), true);
  SetProp(numberCtor, "MIN_VALUE", AsValue::Number(5e-324), true);
  SetProp(numberCtor, "NaN", AsValue::Number(std::nan("")), true);
  SetProp(numberCtor, "POSITIVE_INFINITY", AsValue::Number(HUGE_VAL), true);
  SetProp(numberCtor, "NEGATIVE_INFINITY", AsValue::Number(-HUGE_VAL), true);
  SetProp(global_, "Number", AsValue::Object(numberCtor), true);
  SetProp(global_, "Boolean", AsValue::Object(ctor("Boolean", BooleanCtor, booleanProto_)), true);
  SetProp(global_, "MovieClip", AsValue::Object(ctor("MovieClip", Nothing, clipProto_)), true);
  const std::pair<const char*, AsNative> colorMethods[] = {{"setRGB", ColorSetRGB},
                                                           {"getRGB", ColorGetRGB},
                                                           {"setTransform", ColorSetTransform},
                                                           {"getTransform", ColorGetTransform}};
  for (auto& [n, f] : colorMethods) fn(colorProto_, n, f);
  SetProp(global_, "Color", AsValue::Object(ctor("Color", ColorCtor, colorProto_)), true);
  fn(soundProto, "attachSound", SoundAttach);
  fn(soundProto, "start", SoundStart);
  fn(soundProto, "stop", SoundStop);
  fn(soundProto, "setVolume", Nothing);
  fn(soundProto, "setPan", Nothing);
  AsObject* matrixProto = obj(objectProto_);
  fn(matrixProto, "createGradientBox", MatrixGradientBox);
  AsObject* geom = obj(objectProto_);
  SetProp(geom, "Matrix", AsValue::Object(ctor("Matrix", MatrixCtor, matrixProto)), true);
  AsObject* flash = obj(objectProto_);
  SetProp(flash, "geom", AsValue::Object(geom), true);
  SetProp(global_, "flash", AsValue::Object(flash), true);
  SetProp(global_, "Sound", AsValue::Object(ctor("Sound", Nothing, soundProto)), true);

  const std::pair<const char*, AsNative> globals[] = {
      {"parseInt", ParseInt},         {"parseFloat", ParseFloat},       {"isNaN", IsNaN},
      {"isFinite", IsFinite},         {"escape", Escape},               {"unescape", Unescape},
      {"setInterval", SetInterval},   {"clearInterval", ClearTimer}, {"ASSetPropFlags", Nothing},
      {"updateAfterEvent", Nothing}};
  for (auto& [n, f] : globals) fn(global_, n, f);
  SetProp(global_, "NaN", AsValue::Number(std::nan("")), true);
  SetProp(global_, "Infinity", AsValue::Number(HUGE_VAL), true);
  AsObject* key = obj(objectProto_);
  fn(key, "isDown", KeyIsDown);
  fn(key, "getCode", Zero);
  fn(key, "getAscii", Zero);
  fn(key, "addListener", Nothing);
  SetProp(global_, "Key", AsValue::Object(key), true);
  AsObject* mouse = obj(objectProto_);
  fn(mouse, "hide", Nothing);
  fn(mouse, "show", Nothing);
  fn(mouse, "addListener", Nothing);
  SetProp(global_, "Mouse", AsValue::Object(mouse), true);
  AsObject* stageObj = obj(objectProto_);
  fn(stageObj, "addListener", Nothing);
  const Rect& frame = stage_.Library().movie.header.frameSize;
  SetProp(stageObj, "width", AsValue::Number(frame.Width() / 20), true);
  SetProp(stageObj, "height", AsValue::Number(frame.Height() / 20), true);
  SetProp(global_, "Stage", AsValue::Object(stageObj), true);

  // Groups of classes in files of their own (avm1_builtins.h).
  avm1_builtins::InstallText(*this);
}

}  // namespace quarvel::player
