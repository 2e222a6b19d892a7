// The standard library of ActionScript 1/2: Array, String, Number, Boolean,
// Math and the global conversion functions, as Flash Player gives them to
// each SWF version.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/rules/flash_case.h"
#include "player/avm1/avm1_classes.h"
#include "player/avm1/avm1_shared.h"

namespace quarvel::player::avm1_builtins {
namespace {

using avm1_detail::Utf8;

constexpr std::size_t kMaxArray = std::size_t{1} << 20;
constexpr std::size_t kMaxText = std::size_t{1} << 20;

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

// Relative index arguments (slice, substring...) clamped to [0, len].
std::size_t ClampIndex(double d, std::size_t len, bool negativeFromEnd) {
  if (std::isnan(d)) return 0;
  d = std::trunc(d);
  if (d < 0) d = negativeFromEnd ? std::max(0.0, static_cast<double>(len) + d) : 0;
  return static_cast<std::size_t>(std::min(d, static_cast<double>(len)));
}

// ---- text as characters: Unicode from SWF 6 on, bytes before

std::u32string Chars(Avm1& vm, const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  if (vm.Version() < 6) {
    for (unsigned char c : s) out += c;
    return out;
  }
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int n = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (n < 0 || i + static_cast<std::size_t>(n) >= s.size()) {
      // A stray byte stands for itself, as Latin-1.
      out += b;
      ++i;
      continue;
    }
    char32_t c = n == 0 ? b : n == 1 ? (b & 0x1F) : n == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = true;
    for (int k = 1; k <= n; ++k) {
      const auto cont = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((cont & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (cont & 0x3F);
    }
    if (!ok) {
      out += b;
      ++i;
      continue;
    }
    // Past the Basic Multilingual Plane: two UTF-16 units, as Flash counts.
    if (c >= 0x10000 && c <= 0x10FFFF) {
      out += static_cast<char32_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char32_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += c;
    }
    i += static_cast<std::size_t>(n) + 1;
  }
  return out;
}

// Back to UTF-8; a surrogate pair joins into one character, a lone half
// stays as it is.
std::string Text(Avm1& vm, const std::u32string& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char32_t c = s[i];
    if (vm.Version() < 6) {
      out += static_cast<char>(c & 0xFF);
    } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      out += Utf8(0x10000 + ((static_cast<std::uint32_t>(c) - 0xD800) << 10) + (static_cast<std::uint32_t>(s[i + 1]) - 0xDC00));
      ++i;
    } else {
      out += Utf8(static_cast<std::uint32_t>(c));
    }
  }
  return out;
}

// ---- global functions

bool Digit(int c, int radix, int& out) {
  c = std::tolower(c);
  out = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'z') ? c - 'a' + 10 : 99;
  return out < radix;
}

// parseInt as Flash has it: no argument gives undefined; a radix given
// (even undefined) must be 2 to 36. "0x" right at the start (after one
// sign) is hexadecimal whatever the radix, and a signed "0x" is NaN unless
// the radix has an x digit; a leading 0 (after one sign) followed only by
// octal digits is octal. Then white space, one sign and the digits the
// radix has.
AsValue ParseInt(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.empty()) return AsValue::Undefined();
  int radix = 0;
  if (a.size() > 1) {
    radix = ToInt32(Num(vm, a, 1));
    if (radix < 2 || radix > 36) return AsValue::Number(std::nan(""));
  }
  std::string s = Str(vm, a[0]);
  const bool signed_ = !s.empty() && (s[0] == '+' || s[0] == '-');
  const std::size_t off = signed_ ? 1 : 0;
  const bool zero = off < s.size() && s[off] == '0';
  const bool hex = zero && off + 1 < s.size() && (s[off + 1] == 'x' || s[off + 1] == 'X');
  bool ignoreSign = false;
  if (hex && signed_) {
    if (radix <= 33) return AsValue::Number(std::nan(""));
    ignoreSign = true;
  } else if (hex) {
    if (radix == 0) radix = 16;
    s.erase(0, 2);
  } else if (zero && radix == 0 &&
             std::all_of(s.begin() + 1, s.end(), [](char c) { return c >= '0' && c <= '7'; })) {
    radix = 8;
  }
  if (radix == 0) radix = 10;
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-' && !ignoreSign;
  double v = 0;
  bool any = false;
  for (int d = 0; i < s.size() && Digit(static_cast<unsigned char>(s[i]), radix, d); ++i) {
    v = v * radix + d;
    any = true;
  }
  return AsValue::Number(any ? (neg ? -v : v) : std::nan(""));
}

AsValue ParseFloat(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.empty()) return AsValue::Undefined();
  return AsValue::Number(ParseFloatText(Str(vm, Arg(a, 0))));
}

// With no argument (not even undefined) isNaN is true and isFinite false.
AsValue IsNaN(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::Bool(a.empty() || std::isnan(Num(vm, a, 0))); }
AsValue IsFinite(Avm1& vm, const AsValue&, AsArgs a) { return AsValue::Bool(!a.empty() && std::isfinite(Num(vm, a, 0))); }

// escape: every byte but letters and digits as %XX (of the UTF-8 from SWF 6).
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

// unescape: %XX is a byte and + a space; a % with a non-hex character in
// its two places drops what it has read and that character.
AsValue Unescape(Avm1& vm, const AsValue&, AsArgs a) {
  if (a.empty()) return AsValue::Undefined();
  const std::string s = Str(vm, a[0]);
  std::string out;
  int remain = 0, value = 0;
  for (const char c : s) {
    if (c == '%') {
      remain = 2;
      value = 0;
    } else if (remain > 0 && std::isxdigit(static_cast<unsigned char>(c))) {
      value = value * 16 + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
      if (--remain == 0) out += static_cast<char>(value);
    } else if (remain > 0) {
      remain = 0;
    } else {
      out += c == '+' ? ' ' : c;
    }
  }
  return AsValue::String(out);
}

// The player as a desktop player for Linux reports itself (System.capabilities agrees).
AsValue GetVersion(Avm1&, const AsValue&, AsArgs) { return AsValue::String(kPlayerVersion); }

// ---- constructors

// Called with `new`, the constructor fills the object made for it; called as a
// function, it converts.
bool Constructing(Avm1& vm, const AsValue& self) { return vm.Constructing(self) && self.obj->primitive.IsUndefined(); }

AsValue ArrayCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  // By `new` or super(), the object being made becomes the array, whatever
  // its prototype says later.
  if (Constructing(vm, self) && !self.obj->isArray) {
    AsObject* o = self.obj;
    o->isArray = true;
    o->className = "Array";
    o->length = 0;
    if (a.size() == 1 && a[0].type == AsValue::Type::kNumber) {
      o->length = ToInt32(a[0].num);
    } else {
      for (std::size_t i = 0; i < a.size() && static_cast<std::int64_t>(i) < Avm1::kMaxArrayElements; ++i) vm.SetElement(o, static_cast<std::int64_t>(i), a[i]);
    }
    return self;
  }
  if (a.size() == 1 && a[0].type == AsValue::Type::kNumber) {
    // new Array(n): n holes; a negative length stays as it is.
    AsObject* arr = vm.NewArray();
    arr->length = ToInt32(a[0].num);
    return AsValue::Object(arr);
  }
  return AsValue::Object(vm.NewArray(std::vector<AsValue>(a.begin(), a.end())));
}

AsValue StringCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue v = AsValue::String(a.empty() ? "" : Str(vm, a[0]));
  if (Constructing(vm, self)) {
    AsObject* o = self.obj;
    o->primitive = v;
    o->className = "String";
    vm.SetProp(o, "length", AsValue::Number(static_cast<double>(Chars(vm, v.Text()).size())), true);
    o->props[vm.Key("length")].dontDelete = true;  // writable, but delete keeps it
    return self;
  }
  return v;
}

AsValue NumberCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue v = AsValue::Number(a.empty() ? 0 : Num(vm, a, 0));
  if (Constructing(vm, self)) {
    self.obj->primitive = v;
    self.obj->className = "Number";
    return self;
  }
  return v;
}

AsValue BooleanCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  const AsValue v = AsValue::Bool(!a.empty() && vm.ToBool(a[0]));
  if (Constructing(vm, self)) {
    self.obj->primitive = v;
    self.obj->className = "Boolean";
    return self;
  }
  // Boolean() with nothing to convert gives undefined.
  return a.empty() ? AsValue::Undefined() : v;
}

// ---- Error: name and message come from the prototype ("Error") until
// a message is given or either is set.
AsValue ErrorCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!vm.Constructing(self)) return {};
  if (!a.empty() && !a[0].IsUndefined()) vm.SetProp(self.obj, "message", a[0]);
  return self;
}

AsValue ErrorToString(Avm1& vm, const AsValue& self, AsArgs) {
  return AsValue::String(vm.ToString(vm.Get(self, "message")));
}

// ---- Array

AsObject* ArraySelf(const AsValue& self) {
  AsObject* o = Self(self);
  return o && o->isArray ? o : nullptr;
}

// The array methods work element by element on the array's properties,
// as Flash does: holes they pass become undefined elements, protected
// elements keep their value or their place.
std::int64_t Length(const AsObject* o) { return std::max<std::int32_t>(o->length, 0); }

AsValue ArrPush(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o) return {};
  for (auto& v : a) {
    if (Length(o) >= Avm1::kMaxArrayElements) break;
    vm.SetElement(o, Length(o), v);
  }
  return AsValue::Number(o->length);
}

AsValue ArrPop(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = ArraySelf(self);
  if (!o || o->length <= 0) return {};
  const std::int64_t last = o->length - 1;
  // An element addProperty made a getter gives the value stored beneath it.
  const auto it = o->props.find(std::to_string(last));
  AsValue v = it == o->props.end() ? AsValue{} : it->second.value;
  vm.DeleteElement(o, last);
  o->length = static_cast<std::int32_t>(last);
  return v;
}

AsValue ArrShift(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = ArraySelf(self);
  if (!o || o->length <= 0) return {};
  return vm.SpliceElements(o, 0, 1, {}).front();
}

AsValue ArrUnshift(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o) return {};
  if (Length(o) + static_cast<std::int64_t>(a.size()) <= Avm1::kMaxArrayElements) vm.SpliceElements(o, 0, 0, a);
  return AsValue::Number(o->length);
}

// join and toString read an array's own elements; borrowed by another
// object they see its length and no elements.
AsValue ArrJoin(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string sep = a.empty() || a[0].IsUndefined() ? "," : Str(vm, a[0]);
  if (AsObject* o = ArraySelf(self)) return AsValue::String(vm.Join(o, sep));
  if (self.type != AsValue::Type::kObject) return AsValue::String("");
  const std::int32_t n = std::min<std::int32_t>(ToInt32(vm.ToNumber(vm.Get(self, "length"))), 1 << 16);
  std::string out;
  for (std::int32_t i = 0; i < n; ++i) out += (i ? sep : "") + vm.ToString(AsValue{});
  return AsValue::String(out);
}

AsValue ArrToString(Avm1& vm, const AsValue& self, AsArgs) { return ArrJoin(vm, self, {}); }

AsValue ArrSlice(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o) return {};
  const auto n = static_cast<std::size_t>(Length(o));
  const std::size_t b = ClampIndex(Num(vm, a, 0), n, true);
  const std::size_t e = a.size() > 1 && !a[1].IsUndefined() ? ClampIndex(Num(vm, a, 1), n, true) : n;
  std::vector<AsValue> out;
  if (b < e && vm.Charge((e - b) * sizeof(AsValue))) {
    for (std::size_t i = b; i < e; ++i) out.push_back(vm.Element(o, static_cast<std::int64_t>(i)));
  }
  return AsValue::Object(vm.NewArray(std::move(out)));
}

// splice(start[, count[, items...]]): start counts from the end when
// negative; no count removes to the end; an undefined start does nothing.
// Returns what was removed.
AsValue ArrSplice(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  if (!o || a.empty() || a[0].IsUndefined()) return {};
  const auto n = static_cast<std::size_t>(Length(o));
  const std::size_t b = ClampIndex(Num(vm, a, 0), n, true);
  // An undefined or negative count removes nothing and gives undefined.
  if (a.size() > 1 && (a[1].IsUndefined() || Num(vm, a, 1) < 0)) return {};
  const std::size_t count = a.size() > 1 ? ClampIndex(Num(vm, a, 1), n - b, false) : n - b;
  const std::span<const AsValue> items = a.size() > 2 ? a.subspan(2) : std::span<const AsValue>{};
  if (n - count + items.size() > static_cast<std::size_t>(Avm1::kMaxArrayElements)) return {};
  return AsValue::Object(vm.NewArray(vm.SpliceElements(o, static_cast<std::int64_t>(b),
                                                       static_cast<std::int64_t>(count), items)));
}

// concat flattens array arguments one level: their own arrays stay arrays.
AsValue ArrConcat(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = ArraySelf(self);
  std::vector<AsValue> out = o ? vm.Elements(o) : std::vector<AsValue>{};
  for (auto& v : a) {
    if (AsObject* arr = ArraySelf(v)) {
      const std::vector<AsValue> more = vm.Elements(arr);
      out.insert(out.end(), more.begin(), more.end());
    } else {
      out.push_back(v);
    }
    if (out.size() > kMaxArray) out.resize(kMaxArray);
  }
  if (!vm.Charge(out.size() * sizeof(AsValue))) out.clear();
  return AsValue::Object(vm.NewArray(std::move(out)));
}

// Swaps pairs from the ends inwards; a middle element stays as it is.
AsValue ArrReverse(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = ArraySelf(self)) {
    const std::int64_t n = Length(o);
    for (std::int64_t i = 0, j = n - 1; i < j; ++i, --j) {
      const AsValue vi = vm.Element(o, i), vj = vm.Element(o, j);
      vm.PutElement(o, i, vj);
      vm.PutElement(o, j, vi);
    }
  }
  return self;
}

// Array.sort and sortOn options.
constexpr int kCaseInsensitive = 1, kDescending = 2, kUniqueSort = 4, kReturnIndexedArray = 8, kNumeric = 16;

// Case mapping by Flash's own tables, not the C library's locale.
char32_t UpperChar(char32_t c) { return FlashUpperChar(c); }
char32_t LowerChar(char32_t c) { return FlashLowerChar(c); }

std::u32string Folded(std::u32string s) {
  for (auto& c : s) c = LowerChar(c);
  return s;
}

// -1, 0 or 1 by one set of options: numbers by value when NUMERIC finds two
// numbers, everything else as text (by character codes).
int CompareValues(Avm1& vm, const AsValue& x, const AsValue& y, int flags) {
  int r;
  if ((flags & kNumeric) && x.type == AsValue::Type::kNumber && y.type == AsValue::Type::kNumber) {
    // NaN sorts after every number.
    const bool xn = std::isnan(x.num), yn = std::isnan(y.num);
    r = xn || yn ? (xn && yn ? 0 : xn ? 1 : -1) : (x.num < y.num ? -1 : x.num > y.num ? 1 : 0);
  } else {
    std::u32string sx = Chars(vm, vm.ToString(x)), sy = Chars(vm, vm.ToString(y));
    if (flags & kCaseInsensitive) {
      sx = Folded(std::move(sx));
      sy = Folded(std::move(sy));
    }
    r = sx < sy ? -1 : sx > sy ? 1 : 0;
  }
  return (flags & kDescending) ? -r : r;
}

// A stable merge sort that stays in bounds whatever the comparison says:
// script compare functions may be inconsistent (random shuffles), which
// the standard algorithms do not allow.
template <typename Less>
void MergeSort(std::vector<std::size_t>& v, Less less) {
  std::vector<std::size_t> tmp(v.size());
  for (std::size_t width = 1; width < v.size(); width *= 2) {
    for (std::size_t lo = 0; lo < v.size(); lo += 2 * width) {
      const std::size_t mid = std::min(lo + width, v.size()), hi = std::min(lo + 2 * width, v.size());
      std::size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) tmp[k++] = less(v[j], v[i]) ? v[j++] : v[i++];
      while (i < mid) tmp[k++] = v[i++];
      while (j < hi) tmp[k++] = v[j++];
    }
    v.swap(tmp);
  }
}

// Flash's own sort, whose order of equal elements and of compare calls
// movies see: a quicksort taking each range's first element as the pivot
// and asking compare(pivot, x); the lower part is sorted first. It stays
// in bounds whatever the comparison says.
template <typename Compare>
void FlashQuickSort(std::vector<std::size_t>& v, Compare compare) {
  if (v.size() < 2) return;
  std::vector<std::pair<std::size_t, std::size_t>> ranges{{0, v.size() - 1}};  // inclusive
  while (!ranges.empty()) {
    const auto [low, high] = ranges.back();
    ranges.pop_back();
    if (low >= high) continue;
    const std::size_t pivot = v[low];
    std::size_t left = low + 1, right = high;
    for (;;) {
      while (left < right && compare(pivot, v[left]) > 0) ++left;
      while (right > low && compare(pivot, v[right]) <= 0) --right;
      if (left >= right) break;
      std::swap(v[left], v[right]);
    }
    std::swap(v[low], v[right]);
    ranges.emplace_back(right + 1, high);
    if (right > 0) ranges.emplace_back(low, right - 1);
  }
}

// Past this many elements the quicksort's worst case (a sorted array) costs
// too much; a merge sort gives the same order but for equal elements.
constexpr std::size_t kMaxQuickSort = 2048;

// Sorts the array by `compare` (negative: a before b). UNIQUESORT finds an
// equal neighbour pair after sorting (by `unique`) and gives 0 with the
// array unchanged; RETURNINDEXEDARRAY gives the sorted order as indices and
// leaves the array as it was; `reverse`: sort's DESCENDING, which turns the
// sorted order round.
template <typename Compare, typename Unique>
AsValue SortBy(Avm1& vm, const AsValue& self, int flags, bool reverse, Compare compare, Unique unique) {
  AsObject* o = ArraySelf(self);
  if (!o) return {};
  const std::vector<AsValue> elems = vm.Elements(o);  // compare functions may change the array
  std::vector<std::size_t> order(elems.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  auto cmp = [&](std::size_t x, std::size_t y) { return compare(elems[x], elems[y]); };
  if (order.size() <= kMaxQuickSort) {
    FlashQuickSort(order, cmp);
  } else {
    MergeSort(order, [&](std::size_t x, std::size_t y) { return cmp(x, y) < 0; });
  }
  if (reverse) std::reverse(order.begin(), order.end());
  if (flags & kUniqueSort) {
    for (std::size_t k = 1; k < order.size(); ++k) {
      if (unique(elems[order[k - 1]], elems[order[k]]) == 0) return AsValue::Number(0);
    }
  }
  std::vector<AsValue> out;
  out.reserve(order.size());
  if (flags & kReturnIndexedArray) {
    for (std::size_t i : order) out.push_back(AsValue::Number(static_cast<double>(i)));
    return AsValue::Object(vm.NewArray(std::move(out)));
  }
  if (ArraySelf(self)) {
    for (std::size_t k = 0; k < order.size(); ++k) vm.PutElement(o, static_cast<std::int64_t>(k), elems[order[k]]);
  }
  return self;
}

// sort([compareFunction][, options])
AsValue ArrSort(Avm1& vm, const AsValue& self, AsArgs a) {
  // sort([options]) or sort(compare[, options]): options count only as
  // numbers; a first argument of another kind sorts nothing.
  AsValue cmp;
  int flags = 0;
  using T = AsValue::Type;
  if (!a.empty()) {
    if (a[0].type == T::kObject) {
      cmp = a[0];
      if (a.size() > 1 && a[1].type == T::kNumber) flags = ToInt32(a[1].num);
    } else if (a[0].type == T::kNumber) {
      flags = ToInt32(a.size() > 1 && a[1].type == T::kNumber ? a[1].num : a[0].num);
    } else {
      return {};
    }
  }
  // DESCENDING turns the sorted array round; uniqueness is judged by the
  // plain comparison, whatever function sorted.
  const bool descending = (flags & kDescending) != 0;
  flags &= ~kDescending;
  auto plain = [&](const AsValue& x, const AsValue& y) { return CompareValues(vm, x, y, flags); };
  if (cmp.IsUndefined()) return SortBy(vm, self, flags, descending, plain, plain);
  int calls = 0;
  return SortBy(
      vm, self, flags, descending,
      [&](const AsValue& x, const AsValue& y) {
        // A compare function that never settles must not hang the frame.
        if (++calls > 200000) return 0;
        std::vector<AsValue> args{x, y};
        const double d = vm.ToNumber(vm.Call(cmp, {}, args));
        return d < 0 ? -1 : d > 0 ? 1 : 0;
      },
      plain);
}

// A field as sortOn reads it: the object's own stored value, no getter
// run and no prototype asked.
AsValue OwnStoredField(Avm1& vm, AsObject* o, const std::string& field) {
  const auto it = o->props.find(vm.Key(field));
  if (it == o->props.end() || (it->second.versions && !PropertyVisible(it->second.versions, vm.Version()))) return {};
  return it->second.value;
}

// sortOn(field | [fields][, options | [options per field]])
AsValue ArrSortOn(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.empty()) return {};
  std::vector<std::string> fields;
  std::vector<int> options;
  using T = AsValue::Type;
  if (a[0].type == T::kObject && !a[0].obj->isArray) {
    // Not a list of names: a plain sort.
    auto plain = [&](const AsValue& x, const AsValue& y) { return CompareValues(vm, x, y, 0); };
    return SortBy(vm, self, 0, false, plain, plain);
  }
  if (AsObject* names = ArraySelf(a[0])) {
    for (auto& v : vm.Elements(names)) fields.push_back(vm.ToString(v));
    if (fields.empty()) return self;
    options.assign(fields.size(), 0);
    const AsValue opt = Arg(a, 1);
    if (AsObject* opts = ArraySelf(opt)) {
      // One option per field; a list of another length is ignored.
      if (const std::vector<AsValue> list = vm.Elements(opts); list.size() == fields.size()) {
        for (std::size_t i = 0; i < fields.size(); ++i) options[i] = ToInt32(vm.ToNumber(list[i]));
      }
    } else if (a.size() > 1 && opt.type != T::kObject && opt.type != T::kClip) {
      std::fill(options.begin(), options.end(), ToInt32(vm.ToNumber(opt)));
    }
  } else {
    fields.push_back(vm.ToString(a[0]));
    options.push_back(a.size() > 1 && a[1].type == T::kNumber ? ToInt32(a[1].num) : 0);
  }
  const int flags = options[0];
  auto compare = [&](const AsValue& x, const AsValue& y) {
    AsObject* ox = x.type == T::kObject || x.type == T::kClip ? vm.ObjectOf(x) : nullptr;
    AsObject* oy = y.type == T::kObject || y.type == T::kClip ? vm.ObjectOf(y) : nullptr;
    // Anything but two objects compares as itself.
    if (!ox || !oy) return CompareValues(vm, x, y, flags);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (const int r = CompareValues(vm, OwnStoredField(vm, ox, fields[i]), OwnStoredField(vm, oy, fields[i]), options[i])) {
        return r;
      }
    }
    return 0;
  };
  return SortBy(vm, self, flags, false, compare, compare);
}

// ---- String

std::string ThisString(Avm1& vm, const AsValue& self) { return vm.ToString(self); }

// charAt and charCodeAt take a 32-bit index (4294967297 is 1); past the
// end charCodeAt gives NaN, 0 in version 5.
AsValue StrCharAt(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::u32string s = Chars(vm, ThisString(vm, self));
  const std::int32_t i = ToInt32(Num(vm, a, 0));
  if (i < 0 || static_cast<std::size_t>(i) >= s.size()) return AsValue::String("");
  return AsValue::String(Text(vm, s.substr(static_cast<std::size_t>(i), 1)));
}

AsValue StrCharCodeAt(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::u32string s = Chars(vm, ThisString(vm, self));
  const std::int32_t i = ToInt32(Num(vm, a, 0));
  if (i < 0) return AsValue::Number(std::nan(""));
  if (static_cast<std::size_t>(i) >= s.size()) return AsValue::Number(vm.Version() == 5 ? 0 : std::nan(""));
  return AsValue::Number(static_cast<double>(s[static_cast<std::size_t>(i)]));
}

// String indices are 32-bit integers: clamped into [0, len], or counted
// back from the end when negative (wrapping).
std::size_t StrIndex(std::int32_t i, std::size_t len) {
  return i < 0 ? 0 : std::min(static_cast<std::size_t>(i), len);
}
std::size_t StrWrappingIndex(std::int64_t i, std::size_t len) {
  if (i >= 0) return std::min(static_cast<std::size_t>(i), len);
  const auto back = static_cast<std::size_t>(-i);
  return back >= len ? 0 : len - back;
}

// substr(start[, length]): a negative length counts back from the end
// too, from start + length; nothing at all without arguments.
AsValue StrSubstr(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.empty()) return {};
  const std::u32string s = Chars(vm, ThisString(vm, self));
  const std::size_t b = StrWrappingIndex(ToInt32(vm.ToNumber(a[0])), s.size());
  const std::int64_t n =
      a.size() > 1 && !a[1].IsUndefined() ? ToInt32(vm.ToNumber(a[1])) : static_cast<std::int64_t>(s.size());
  const std::size_t e = StrWrappingIndex(static_cast<std::int32_t>(static_cast<std::int64_t>(b) + n), s.size());
  return AsValue::String(b < e ? Text(vm, s.substr(b, e - b)) : "");
}

AsValue StrSubstring(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.empty()) return {};
  const std::u32string s = Chars(vm, ThisString(vm, self));
  std::size_t b = StrIndex(ToInt32(vm.ToNumber(a[0])), s.size());
  std::size_t e = a.size() > 1 && !a[1].IsUndefined() ? StrIndex(ToInt32(vm.ToNumber(a[1])), s.size()) : s.size();
  if (b > e) std::swap(b, e);
  return AsValue::String(Text(vm, s.substr(b, e - b)));
}

// slice takes 32-bit indices (negative ones count from the end); no
// arguments give undefined.
AsValue StrSlice(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.empty()) return {};
  const std::u32string s = Chars(vm, ThisString(vm, self));
  auto index = [&](std::size_t i) { return ClampIndex(ToInt32(Num(vm, a, i)), s.size(), true); };
  const std::size_t b = index(0);
  const std::size_t e = a.size() > 1 && !a[1].IsUndefined() ? index(1) : s.size();
  return AsValue::String(b < e ? Text(vm, s.substr(b, e - b)) : "");
}

// No text to look for gives undefined; a start past the end finds nothing.
AsValue StrIndexOf(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.empty()) return {};
  const std::u32string s = Chars(vm, ThisString(vm, self)), f = Chars(vm, Str(vm, Arg(a, 0)));
  // The start is a 32-bit integer, wrapped as Flash wraps it.
  const std::int32_t start = a.size() > 1 && !a[1].IsUndefined() ? ToInt32(Num(vm, a, 1)) : 0;
  const auto from = static_cast<std::size_t>(std::max(start, 0));
  if (from > s.size()) return AsValue::Number(-1);
  const auto p = s.find(f, from);
  return AsValue::Number(p == std::u32string::npos ? -1 : static_cast<double>(p));
}

AsValue StrLastIndexOf(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.empty()) return {};
  const std::u32string s = Chars(vm, ThisString(vm, self)), f = Chars(vm, Str(vm, Arg(a, 0)));
  std::size_t from = std::u32string::npos;
  if (a.size() > 1 && !a[1].IsUndefined()) {
    const std::int32_t start = ToInt32(Num(vm, a, 1));
    if (start < 0) return AsValue::Number(-1);
    from = std::min(static_cast<std::size_t>(start), s.size());
  }
  const auto p = s.rfind(f, from);
  return AsValue::Number(p == std::u32string::npos ? -1 : static_cast<double>(p));
}

AsValue StrUpper(Avm1& vm, const AsValue& self, AsArgs) {
  std::u32string s = Chars(vm, ThisString(vm, self));
  for (auto& c : s) c = UpperChar(c);
  return AsValue::String(Text(vm, s));
}

AsValue StrLower(Avm1& vm, const AsValue& self, AsArgs) {
  return AsValue::String(Text(vm, Folded(Chars(vm, ThisString(vm, self)))));
}

// split(separator[, limit]): no separator gives the whole text; an empty one
// each character; limit keeps that many parts.
AsValue StrSplit(Avm1& vm, const AsValue& self, AsArgs a) {
  const std::string text = ThisString(vm, self);
  std::size_t limit = kMaxArray;
  if (a.size() > 1 && !a[1].IsUndefined()) {
    // A 32-bit count: null, NaN and negative counts keep nothing.
    const std::int32_t lim = ToInt32(Num(vm, a, 1));
    limit = lim <= 0 ? 0 : std::min(static_cast<std::size_t>(lim), kMaxArray);
  }
  std::vector<AsValue> out;
  // Flash 5 splits at commas when no separator is given, and keeps the
  // string whole for an empty one; later versions keep it whole without a
  // separator, whatever the count, and split an empty one into characters.
  const bool v5 = vm.Version() < 6;
  if (!v5 && (a.empty() || a[0].IsUndefined())) {
    out.push_back(AsValue::String(text));
  } else if (v5 && !a.empty() && !a[0].IsUndefined() && Str(vm, a[0]).empty()) {
    if (limit > 0) out.push_back(AsValue::String(text));
  } else {
    const std::u32string s = Chars(vm, text), sep = Chars(vm, a.empty() || a[0].IsUndefined() ? "," : Str(vm, a[0]));
    if (sep.empty()) {
      for (std::size_t i = 0; i < s.size() && out.size() < limit; ++i) out.push_back(AsValue::String(Text(vm, s.substr(i, 1))));
    } else {
      std::size_t i = 0;
      while (out.size() < limit) {
        const auto j = s.find(sep, i);
        out.push_back(AsValue::String(Text(vm, s.substr(i, j == std::u32string::npos ? std::u32string::npos : j - i))));
        if (j == std::u32string::npos) break;
        i = j + sep.size();
      }
    }
  }
  if (!vm.Charge(out.size() * (sizeof(AsValue) + 48) + text.size())) out.clear();
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
  std::u32string units;
  for (std::size_t i = 0; i < a.size() && units.size() < kMaxText; ++i) {
    const auto c = static_cast<std::uint32_t>(ToInt32(Num(vm, a, i))) & 0xFFFF;
    if (c == 0) break;  // the text ends at a zero character
    units += static_cast<char32_t>(c);
  }
  return AsValue::String(Text(vm, units));
}

// ---- Number

double ThisNumber(Avm1& vm, const AsValue& self) {
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) return vm.ToNumber(o->primitive);
  return vm.ToNumber(self);
}

// toString(radix): other radixes than 10 write the integer part, as a
// 32-bit integer the way the processor converts one: NaN, the infinities
// and numbers out of range are -2^31, whose digits come out as the
// characters before '0' (its negation overflows, the remainders are
// negative).
AsValue NumToString(Avm1& vm, const AsValue& self, AsArgs a) {
  const double d = ThisNumber(vm, self);
  const int radix = a.empty() || a[0].IsUndefined() ? 10 : ToInt32(Num(vm, a, 0));
  if (radix == 10 || radix < 2 || radix > 36) return AsValue::String(vm.ToString(AsValue::Number(d)));
  const std::int32_t n = d > -2147483649.0 && d < 2147483648.0 ? static_cast<std::int32_t>(d) : INT32_MIN;
  const bool neg = n < 0;
  std::int32_t m = neg && n != INT32_MIN ? -n : n;
  std::string out;
  do {
    const int r = m % radix;
    out += static_cast<char>(r < 10 ? '0' + r : 'a' + (r - 10));
    m /= radix;
  } while (m != 0);
  if (neg) out += '-';
  std::reverse(out.begin(), out.end());
  return AsValue::String(out);
}

AsValue NumValueOf(Avm1& vm, const AsValue& self, AsArgs) { return AsValue::Number(ThisNumber(vm, self)); }

AsValue BoolToString(Avm1& vm, const AsValue& self, AsArgs) {
  AsValue v = self;
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) v = o->primitive;
  return AsValue::String(vm.ToBool(v) ? "true" : "false");
}

AsValue BoolValueOf(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self); o && !o->primitive.IsUndefined()) return AsValue::Bool(vm.ToBool(o->primitive));
  return AsValue::Bool(vm.ToBool(self));
}

// ---- Math

// Every Math function converts its first two arguments, in order and
// whether it uses them or not (a missing one as undefined); before version
// 7 a call with too few arguments gives NaN.
struct MathArgs {
  double x, y;
  bool valid;
};
MathArgs Convert(Avm1& vm, AsArgs a, std::size_t needed) {
  const double x = vm.ToNumber(a.size() > 0 ? a[0] : AsValue{});
  const double y = vm.ToNumber(a.size() > 1 ? a[1] : AsValue{});
  return {x, y, vm.Version() > 6 || a.size() >= needed};
}

template <double (*F)(double)>
AsValue Math1(Avm1& vm, const AsValue&, AsArgs a) {
  const MathArgs m = Convert(vm, a, 1);
  return AsValue::Number(m.valid ? F(m.x) : std::nan(""));
}

double Abs(double d) { return std::fabs(d); }
double Floor(double d) { return std::floor(d); }
double Ceil(double d) { return std::ceil(d); }
// Halves round up, towards positive infinity (-2.5 gives -2).
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

AsValue MathAtan2(Avm1& vm, const AsValue&, AsArgs a) {
  const MathArgs m = Convert(vm, a, 2);
  return AsValue::Number(m.valid ? std::atan2(m.x, m.y) : std::nan(""));
}
AsValue MathPow(Avm1& vm, const AsValue&, AsArgs a) {
  const MathArgs m = Convert(vm, a, 2);
  // pow(1) is 1 even where a missing argument spoils the call.
  return AsValue::Number(m.valid || (a.size() == 1 && m.x == 1) ? std::pow(m.x, m.y) : std::nan(""));
}
AsValue MathRandom(Avm1& vm, const AsValue&, AsArgs a) {
  Convert(vm, a, 0);
  return AsValue::Number(vm.Random());
}

// min and max look at two arguments at most; none gives the identity.
AsValue MinMax(Avm1& vm, AsArgs a, bool max) {
  const MathArgs m = Convert(vm, a, 2);
  if (a.empty()) return AsValue::Number(max ? -HUGE_VAL : HUGE_VAL);
  if (!m.valid || std::isnan(m.x) || std::isnan(m.y)) return AsValue::Number(std::nan(""));
  return AsValue::Number(max ? std::max(m.x, m.y) : std::min(m.x, m.y));
}
AsValue MathMin(Avm1& vm, const AsValue&, AsArgs a) { return MinMax(vm, a, false); }
AsValue MathMax(Avm1& vm, const AsValue&, AsArgs a) { return MinMax(vm, a, true); }

// A Math slot with no function behind it still converts two arguments.
}  // namespace

AsValue BoxPrimitive(Avm1& vm, const AsValue& v) {
  AsObject* o = nullptr;
  switch (v.type) {
    case AsValue::Type::kString:
      o = vm.NewObject(vm.StringProto());
      o->className = "String";
      vm.SetProp(o, "length", AsValue::Number(static_cast<double>(Chars(vm, v.Text()).size())), true);
      o->props[vm.Key("length")].dontDelete = true;
      break;
    case AsValue::Type::kNumber:
      o = vm.NewObject(vm.NumberProto());
      o->className = "Number";
      break;
    case AsValue::Type::kBoolean:
      o = vm.NewObject(vm.BooleanProto());
      o->className = "Boolean";
      break;
    default: return v;
  }
  o->primitive = v;
  return AsValue::Object(o);
}

void InstallStdlib(Avm1& vm) {
  AsObject* global = vm.Global();
  auto fn = [&](AsObject* on, const char* name, AsNative native) { vm.NewFunction(name, native, on); };
  const std::pair<const char*, AsNative> arrayMethods[] = {
      {"push", ArrPush},       {"pop", ArrPop},     {"shift", ArrShift},     {"unshift", ArrUnshift},
      {"join", ArrJoin},       {"slice", ArrSlice}, {"splice", ArrSplice},   {"concat", ArrConcat},
      {"reverse", ArrReverse}, {"sort", ArrSort},   {"sortOn", ArrSortOn},   {"toString", ArrToString}};
  for (auto& [n, f] : arrayMethods) fn(vm.ArrayProto(), n, f);
  const std::pair<const char*, AsNative> stringMethods[] = {
      {"charAt", StrCharAt},           {"charCodeAt", StrCharCodeAt}, {"substr", StrSubstr},
      {"substring", StrSubstring},     {"slice", StrSlice},           {"indexOf", StrIndexOf},
      {"lastIndexOf", StrLastIndexOf}, {"toUpperCase", StrUpper},     {"toLowerCase", StrLower},
      {"split", StrSplit},             {"concat", StrConcat},         {"toString", PrimToString},
      {"valueOf", PrimValueOf}};
  for (auto& [n, f] : stringMethods) fn(vm.StringProto(), n, f);
  fn(vm.NumberProto(), "toString", NumToString);
  fn(vm.NumberProto(), "valueOf", NumValueOf);
  fn(vm.BooleanProto(), "toString", BoolToString);
  fn(vm.BooleanProto(), "valueOf", BoolValueOf);

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

  AsObject* arrayCtor = vm.NewClass(global, "Array", ArrayCtor, vm.ArrayProto());
  const std::pair<const char*, int> sortFlags[] = {{"CASEINSENSITIVE", kCaseInsensitive},
                                                   {"DESCENDING", kDescending},
                                                   {"UNIQUESORT", kUniqueSort},
                                                   {"RETURNINDEXEDARRAY", kReturnIndexedArray},
                                                   {"NUMERIC", kNumeric}};
  for (auto& [n, v] : sortFlags) vm.SetProp(arrayCtor, n, AsValue::Number(v), true);
  AsObject* stringCtor = vm.NewClass(global, "String", StringCtor, vm.StringProto());
  fn(stringCtor, "fromCharCode", StrFromCharCode);
  AsObject* numberCtor = vm.NewClass(global, "Number", NumberCtor, vm.NumberProto());
  vm.SetProp(numberCtor, "MAX_VALUE", AsValue::Number(1.7976931348623157e308), true);
  vm.SetProp(numberCtor, "MIN_VALUE", AsValue::Number(5e-324), true);
  vm.SetProp(numberCtor, "NaN", AsValue::Number(std::nan("")), true);
  vm.SetProp(numberCtor, "POSITIVE_INFINITY", AsValue::Number(HUGE_VAL), true);
  vm.SetProp(numberCtor, "NEGATIVE_INFINITY", AsValue::Number(-HUGE_VAL), true);
  vm.NewClass(global, "Boolean", BooleanCtor, vm.BooleanProto());
  AsObject* errorCtor = vm.NewClass(global, "Error", ErrorCtor);
  const AsValue errorProto = vm.Get(AsValue::Object(errorCtor), "prototype");
  vm.SetProp(errorProto.obj, "name", AsValue::String("Error"), true);
  vm.SetProp(errorProto.obj, "message", AsValue::String("Error"), true);
  fn(errorProto.obj, "toString", ErrorToString);

  const std::pair<const char*, AsNative> globals[] = {
      {"parseInt", ParseInt}, {"parseFloat", ParseFloat}, {"isNaN", IsNaN},           {"isFinite", IsFinite},
      {"escape", Escape},     {"unescape", Unescape},     {"getVersion", GetVersion}};
  for (auto& [n, f] : globals) fn(global, n, f);
  // Flash 4 and 5 movies read the player's version from $version.
  vm.SetProp(global, "$version", AsValue::String(kPlayerVersion), true);
  vm.SetProp(global, "NaN", AsValue::Number(std::nan("")), true);
  vm.SetProp(global, "Infinity", AsValue::Number(HUGE_VAL), true);
  // Flash's global object holds an `o` that is null.
  vm.SetProp(global, "o", AsValue::Null(), true);
}

}  // namespace quarvel::player::avm1_builtins
