#include "player/avm1/avm1.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <utility>

#include "player/rules/flash_case.h"
#include "player/avm1/avm1_classes.h"
#include "player/avm1/avm1_shared.h"
#include "player/library/characters.h"
#include "player/sound_events.h"
#include "player/display/stage.h"
#include "player/swf/reader.h"

namespace quarvel::player {

using namespace avm1_detail;

namespace {

// Nested script calls: Flash's default limit, and ours whatever a movie
// asks for, so that the host's stack holds.
constexpr int kDefaultRecursion = 256;
constexpr int kMaxCallDepth = 256;
constexpr std::size_t kMaxObjects = std::size_t{1} << 20;
// Room for one bitmap of the largest size Flash allows (16 M pixels) and more.
constexpr std::size_t kBytesPerFrame = std::size_t{128} << 20;
constexpr std::size_t kMaxLiveBytes = std::size_t{512} << 20;

const std::string kEmpty;

// value * 10^exp by repeated multiplication or division, rounding as Flash does.
double DecimalShift(double value, int exp) {
  double base = 10;
  unsigned e = exp < 0 ? 0u - static_cast<unsigned>(exp) : static_cast<unsigned>(exp);
  for (; e; e >>= 1, base *= base) {
    if (e & 1) value = exp > 0 ? value * base : value / base;
  }
  return value;
}

// Flash's number printing: 15 significant digits taken one at a time from
// the value scaled into [1, 10), the next digit rounding half away from
// zero; exponent form from 1e15 up and below 1e-5. The carry of a rounding
// 9.99... has no digit to go to, which Flash answers with odd texts
// ("-e+16") that movies can print, so they are kept.
std::string NumberText(double n) {
  if (std::isnan(n)) return "NaN";
  if (std::isinf(n)) return n > 0 ? "Infinity" : "-Infinity";
  if (n == 0) return "0";
  if (n >= -2147483648.0 && n <= 2147483647.0 && std::floor(n) == n) return std::to_string(static_cast<int>(n));
  std::string buf;
  const bool negative = n < 0;
  if (negative) {
    n = -n;
    buf += '-';
  }
  int exp2 = std::ilogb(n);
  int exp = static_cast<int>(std::round(exp2 * 0.301029995663981));
  double m = DecimalShift(n, -exp);
  if (static_cast<int>(m) == 0) m = DecimalShift(n, -(--exp));
  if (static_cast<int>(m) >= 10) m = DecimalShift(n, -(++exp));
  auto digit = [&m]() {
    const int d = static_cast<int>(m);
    m = (m - d) * 10;
    return static_cast<char>('0' + d);
  };
  constexpr int kPlaces = 15;
  if (exp >= 15) {
    buf += digit();
    buf += '.';
    for (int i = 0; i < kPlaces - 1; ++i) buf += digit();
  } else if (exp >= 0) {
    buf += '0';
    for (int i = 0; i <= exp; ++i) buf += digit();
    buf += '.';
    for (int i = 0; i < kPlaces - exp - 1; ++i) buf += digit();
    exp = 0;
  } else if (exp >= -5) {
    buf += "00.";
    buf.append(static_cast<std::size_t>(-exp - 1), '0');
    for (int i = 0; i < kPlaces; ++i) buf += digit();
    exp = 0;
  } else {
    buf += '0';
    const char first = digit();
    if (first != '0') buf += first;
    buf += '.';
    for (int i = 0; i < kPlaces - 1; ++i) buf += digit();
  }
  if (digit() >= '5') {
    for (auto it = buf.rbegin(); it != buf.rend(); ++it) {
      if (*it == '9') {
        *it = '0';
      } else if (*it >= '0') {
        ++*it;
        break;
      }
    }
  }
  while (!buf.empty() && buf.back() == '0') buf.pop_back();
  if (!buf.empty() && buf.back() == '.') buf.pop_back();
  if (exp != 0) {
    // Leading zeros go (this also drops a leading minus' neighbour, as Flash does).
    const std::size_t pos = buf.find_first_not_of('0');
    buf.erase(0, pos == std::string::npos ? buf.size() : pos);
    if (buf.empty()) {
      buf = "1";
      ++exp;
    } else {
      const std::size_t last = buf.find_last_not_of('0');
      if (last == 0 || last == std::string::npos) {
        exp += static_cast<int>(buf.size()) - 1;
        buf.resize(1);
      }
    }
    buf += 'e';
    buf += exp > 0 ? '+' : '-';
    buf += std::to_string(exp > 0 ? exp : -exp);
  }
  const std::size_t i = negative ? 1 : 0;
  if (buf.size() > i && buf[i] == '0' && (buf.size() == i + 1 || buf[i + 1] != '.')) {
    if (i > 0) buf[i] = buf[i - 1];
    return buf.substr(1);
  }
  return buf;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number after leading white space: sign, digits, a dot and
// digits, an exponent. Strict: nothing may follow. Each digit is scaled
// into place on its own, as Flash sums them.
double ParseDecimal(const std::string& s, bool strict) {
  std::size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::size_t start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  int exp = static_cast<int>(i - start) - 1;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
  }
  if (i == start) return std::nan("");
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
    std::uint32_t e = 0;
    while (i < s.size() && IsDigit(s[i])) e = e * 10 + static_cast<std::uint32_t>(s[i++] - '0');
    const auto se = static_cast<std::int32_t>(e);
    exp = static_cast<int>(static_cast<std::uint32_t>(exp) + static_cast<std::uint32_t>(expNegative ? -se : se));
  }
  if (strict && i < s.size()) return std::nan("");
  double result = 0;
  for (std::size_t k = start; k < s.size(); ++k) {
    if (IsDigit(s[k])) {
      result += DecimalShift(s[k] - '0', exp--);
    } else if (s[k] != '.') {
      break;
    }
  }
  return negative ? -result : result;
}

// A string's number. From version 6 "0x..." is hexadecimal and a 0 followed
// only by octal digits is octal (after one sign, with no white space), both
// as 32-bit integers; a signed hexadecimal is NaN. Before version 5 a
// string that is no number is 0.
double ParseNumber(const std::string& s, int version) {
  if (version >= 6) {
    const std::size_t off = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
    int radix = 10;
    if (off < s.size() && s[off] == '0') {
      if (off + 1 < s.size() && (s[off + 1] == 'x' || s[off + 1] == 'X')) {
        radix = 16;
      } else if (std::all_of(s.begin() + static_cast<std::ptrdiff_t>(off) + 1, s.end(),
                             [](char c) { return c >= '0' && c <= '7'; })) {
        radix = 8;
      }
    }
    if (radix != 10) {
      std::string digits = radix == 16 ? s.substr(2) : s;
      bool negative = false;
      if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
      }
      if (digits.empty()) return std::nan("");
      std::uint32_t v = 0;
      for (const char c : digits) {
        const int d = IsDigit(c) ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? (c | 0x20) - 'a' + 10 : 99;
        if (d >= radix) return std::nan("");
        v = negative ? v * static_cast<std::uint32_t>(radix) - static_cast<std::uint32_t>(d)
                     : v * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(d);
      }
      return static_cast<std::int32_t>(v);
    }
  }
  const bool strict = version >= 5;
  const double r = ParseDecimal(s, strict);
  return !strict && std::isnan(r) ? 0.0 : r;
}

// Array element names by which arrays keep their elements: canonical
// non-negative integers.
bool IsIndex(const std::string& s, std::size_t& out) {
  if (s.empty() || s.size() > 10) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  if (s.size() > 1 && s[0] == '0') return false;
  out = static_cast<std::size_t>(std::stoull(s));
  return true;
}

// A name that counts as an array position when written: digits with an
// optional minus, read modulo 2^32 however long.
bool ArrayIndexOf(const std::string& s, std::int32_t& out) {
  const std::size_t start = !s.empty() && s[0] == '-' ? 1 : 0;
  if (s.size() <= start) return false;
  std::uint32_t v = 0;
  for (std::size_t i = start; i < s.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    v = v * 10u + static_cast<std::uint32_t>(s[i] - '0');
  }
  out = static_cast<std::int32_t>(start ? 0u - v : v);
  return true;
}

// The level a variable name like "_level2" (or the old "_flash2") names:
// the digits after the prefix as far as they go, wrapping at 32 bits
// ("_level0abc" and "_level" are _level0, "_level-1" is no level);
// nullopt for other names. From version 7 the prefix's case counts.
std::optional<std::int32_t> LevelOfName(const std::string& name, int version) {
  if (name.size() < 6) return std::nullopt;
  const std::string prefix = version >= 7 ? name.substr(0, 6) : Lower(name.substr(0, 6));
  if (prefix != "_level" && prefix != "_flash") return std::nullopt;
  std::size_t i = 6;
  const bool negative = i < name.size() && name[i] == '-';
  if (negative) ++i;
  std::uint32_t n = 0;
  for (; i < name.size() && IsDigit(name[i]); ++i) n = n * 10 + static_cast<std::uint32_t>(name[i] - '0');
  return static_cast<std::int32_t>(negative ? 0u - n : n);
}

// Object.watch keeps a property's watcher, [callback, user data], as a
// hidden entry under this key beside the property.
std::string WatchKey(const std::string& key) { return "\x01watch:" + key; }

// A watched property about to be set: the watcher decides the value stored,
// called with (name, old value, new value, user data). Its calls nest as
// far as a property's accessors do; past that the value goes in unwatched.
AsValue Watched(Avm1& vm, AsObject* o, const AsValue& self, const std::string& name, const AsValue& value) {
  const std::string key = vm.Key(name);
  const auto w = o->props.find(WatchKey(key));
  if (w == o->props.end() || w->second.value.type != AsValue::Type::kObject || w->second.value.obj->length < 2) {
    return value;
  }
  // The old value is the stored one, inherited too; a getter is not asked
  // (a property made by addProperty keeps what it held before).
  AsValue old;
  int depthGuard = 0;
  for (AsObject* p = o; p && depthGuard++ < 64; p = p->proto) {
    if (const auto it = p->props.find(key); it != p->props.end()) {
      old = it->second.value;
      break;
    }
  }
  // Counted with the property's own accessors when it has them.
  const auto own = o->props.find(key);
  const std::uint64_t prop = own != o->props.end() ? own->second.order : w->second.order;
  const std::vector<AsValue> entry = vm.Elements(w->second.value.obj);
  std::vector<AsValue> args{AsValue::String(name), old, value, entry[1]};
  AsValue r;
  return vm.CallWatcher(entry[0], prop, self, std::move(args), r) ? r : value;
}

// A throw that no try caught ends the actions; Flash logs it and goes on.
void ReportUncaught(Avm1& vm, bool& throwing, const AsValue& thrown) {
  if (!throwing) return;
  throwing = false;
  if (std::getenv("QUARVEL_DEBUG")) std::clog << "player: trace: Warning: Uncaught exception, " << vm.ToString(thrown) << "\n";
}

}  // namespace

const std::string& AsValue::Text() const { return str ? *str : kEmpty; }

double ParseFloatText(const std::string& s) { return ParseDecimal(s, false); }

std::int32_t ToInt32(double d) {
  if (!std::isfinite(d)) return 0;
  d = std::fmod(std::trunc(d), 4294967296.0);
  if (d < 0) d += 4294967296.0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(d));
}

int ClampToInt(double d) {
  if (std::isnan(d)) return 0;
  // One short of the lowest int: callers may count one down from it.
  return static_cast<int>(std::clamp(std::trunc(d), -2147483647.0, 2147483647.0));
}

std::int32_t TruncateOrLowest(double d) {
  return std::isfinite(d) && d > -2147483649.0 && d < 2147483648.0 ? static_cast<std::int32_t>(d) : INT32_MIN;
}

Avm1::Avm1(Stage& stage, int version)
    : stage_(stage), version_(version), keyVersion_(version), wideEmptyBounds_(version >= 8) {
  tracing_ = std::getenv("QUARVEL_AVM1_TRACE") != nullptr;
  depthCap_ = kMaxCallDepth;
  frameBytesCap_ = kBytesPerFrame;
  liveBytesCap_ = kMaxLiveBytes;
  InstallBuiltins();
}
Avm1::~Avm1() = default;

void Avm1::LowerLimits(const ScriptLimits& limits) {
  stepCap_ = ScriptLimits::Lowered(stepCap_, limits.instructionsPerFrame);
  stepBudget_ = std::min(stepBudget_, stepCap_);
  depthCap_ = ScriptLimits::Lowered(depthCap_, limits.callDepth);
  frameBytesCap_ = ScriptLimits::Lowered(frameBytesCap_, limits.memoryBytes);
  liveBytesCap_ = ScriptLimits::Lowered(liveBytesCap_, limits.memoryBytes);
}

// Names are case-blind before version 7, by Flash's case tables beyond ASCII.
double Avm1::EmptyBoundsSentinel(bool transformed) {
  // 0x7FFFFFF twips: exact in double precision, 0x8000000 once a
  // single-precision transform has rounded it.
  if (version_ >= 8) wideEmptyBounds_ = true;
  return transformed && wideEmptyBounds_ ? 6710886.4 : 6710886.35;
}

std::string Avm1::Key(std::string_view name) const {
  if (keyVersion_ >= 7) return std::string(name);
  std::string low = Lower(name);
  if (std::none_of(low.begin(), low.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) return low;
  std::string out;
  out.reserve(low.size());
  for (std::size_t i = 0; i < low.size();) {
    const auto c0 = static_cast<unsigned char>(low[i]);
    const std::size_t n = c0 >= 0xF0 ? 4 : c0 >= 0xE0 ? 3 : c0 >= 0xC0 ? 2 : 1;
    if (n == 1 || i + n > low.size()) {
      out += low[i++];
      continue;
    }
    std::uint32_t c = c0 & (0x7Fu >> n);
    for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(low[i + k]) & 0x3Fu);
    encoding::AppendUtf8(out, FlashLowerChar(c));
    i += n;
  }
  return out;
}

void Avm1::Skip(const std::string& what) { stage_.Skipped().insert(what); }

bool Avm1::Charge(std::size_t bytes) {
  frameBytes_ += bytes;
  sinceCollect_ += bytes;
  if (frameBytes_ <= frameBytesCap_) return true;
  Skip("too much memory made by scripts in one frame");
  stage_.ScriptStopped("ActionScript 1/2: the memory cap of one frame");
  aborted_ = true;
  return false;
}

double Avm1::Random() {
  // xorshift64*: the same movie draws the same numbers on every run.
  seed_ ^= seed_ >> 12;
  seed_ ^= seed_ << 25;
  seed_ ^= seed_ >> 27;
  return static_cast<double>((seed_ * 2685821657736338717ull) >> 11) / 9007199254740992.0;
}

AsObject* Avm1::NewObject(AsObject* proto) {
  if (heap_.size() >= kMaxObjects) {
    Skip("too many script objects");
    aborted_ = true;
    // Hand out a scratch object that lives until the next collection.
  }
  Charge(sizeof(AsObject) + 64);
  heap_.push_back(std::make_unique<AsObject>());
  AsObject* o = heap_.back().get();
  o->proto = proto ? proto : objectProto_;
  return o;
}

AsObject* Avm1::NewArray(std::vector<AsValue> elems) {
  AsObject* a = NewObject(arrayProto_);
  a->isArray = true;
  a->className = "Array";
  for (std::size_t i = 0; i < elems.size(); ++i) SetProp(a, std::to_string(i), elems[i]);
  a->length = static_cast<std::int32_t>(std::min<std::size_t>(elems.size(), kMaxArrayElements));
  return a;
}

AsValue Avm1::Element(const AsObject* arr, std::int64_t i) const {
  const auto it = arr->props.find(std::to_string(i));
  return it == arr->props.end() || it->second.getter ? AsValue{} : it->second.value;
}

bool Avm1::HasElement(const AsObject* arr, std::int64_t i) const { return arr->props.count(std::to_string(i)) > 0; }

void Avm1::SetElement(AsObject* arr, std::int64_t i, const AsValue& v) {
  SetProp(arr, std::to_string(i), v);
  if (arr->isArray && i >= arr->length) SetLength(arr, ToInt32(static_cast<double>(i) + 1));
}

bool Avm1::DeleteElement(AsObject* arr, std::int64_t i) { return DeleteProp(arr, std::to_string(i)); }

std::vector<AsValue> Avm1::Elements(const AsObject* arr) const {
  const std::int64_t n = std::min<std::int64_t>(std::max<std::int32_t>(arr->length, 0), kMaxArrayElements);
  std::vector<AsValue> out(static_cast<std::size_t>(n));
  if (static_cast<std::int64_t>(arr->props.size()) < n) {
    // Sparse: visit what is there.
    for (const auto& [k, p] : arr->props) {
      std::size_t idx = 0;
      if (!p.getter && IsIndex(k, idx) && static_cast<std::int64_t>(idx) < n) out[idx] = p.value;
    }
  } else {
    for (std::int64_t i = 0; i < n; ++i) out[static_cast<std::size_t>(i)] = Element(arr, i);
  }
  return out;
}

void Avm1::PutElement(AsObject* arr, std::int64_t i, const AsValue& v) {
  DeleteElement(arr, i);
  SetProp(arr, std::to_string(i), v);
}

std::vector<AsValue> Avm1::SpliceElements(AsObject* arr, std::int64_t start, std::int64_t count,
                                          std::span<const AsValue> items) {
  const std::int64_t n = std::max<std::int32_t>(arr->length, 0);
  start = std::clamp<std::int64_t>(start, 0, n);
  count = std::clamp<std::int64_t>(count, 0, n - start);
  const auto k = static_cast<std::int64_t>(items.size());
  std::vector<AsValue> removed;
  for (std::int64_t i = start; i < start + count; ++i) removed.push_back(Element(arr, i));
  if (k < count) {
    for (std::int64_t i = start + count; i < n; ++i) PutElement(arr, i - count + k, Element(arr, i));
    for (std::int64_t i = n - count + k; i < n; ++i) DeleteElement(arr, i);
  } else if (k > count) {
    for (std::int64_t i = n - 1; i >= start + count; --i) PutElement(arr, i + k - count, Element(arr, i));
  }
  for (std::int64_t j = 0; j < k; ++j) PutElement(arr, start + j, items[static_cast<std::size_t>(j)]);
  arr->length = static_cast<std::int32_t>(std::min<std::int64_t>(n - count + k, INT32_MAX));
  return removed;
}

// A shorter array loses the elements past its end (those of a negative
// length's wrap from 0 up); a longer one gains holes.
void Avm1::SetLength(AsObject* arr, std::int32_t n) {
  const std::int64_t from = std::max<std::int32_t>(n, 0), to = arr->length;
  arr->length = n;
  if (from >= to) return;
  if (to - from > static_cast<std::int64_t>(arr->props.size())) {
    for (auto it = arr->props.begin(); it != arr->props.end();) {
      std::size_t idx = 0;
      const bool cut = IsIndex(it->first, idx) && static_cast<std::int64_t>(idx) >= from &&
                       static_cast<std::int64_t>(idx) < to && !it->second.dontDelete;
      it = cut ? arr->props.erase(it) : std::next(it);
    }
  } else {
    for (std::int64_t i = from; i < to; ++i) DeleteElement(arr, i);
  }
}

void Avm1::SetProp(AsObject* o, const std::string& name, const AsValue& v, bool hidden) {
  const std::string k = Key(name);
  auto it = o->props.find(k);
  if (it != o->props.end()) {
    if (!it->second.readOnly) {
      it->second.value = v;
      it->second.versions = 0;  // a property written is there for every version
    }
    return;
  }
  if (o->props.size() >= (o->isArray ? static_cast<std::size_t>(kMaxArrayElements) : 100000)) {
    Skip("too many properties");
    return;
  }
  Charge(sizeof(AsProperty) + 2 * k.size() + 48);
  o->props.emplace(k, AsProperty{v, name, order_++, hidden});
}

bool Avm1::FindProp(AsObject* o, const std::string& key, AsValue& out, const AsValue* self, ClipHandle selfClip) {
  AsObject* const first = o;
  for (int guard = 0; o; o = o->proto, ++guard) {
    if (guard >= kMaxProtoChain) {
      ProtoChainTooLong();
      return false;
    }
    auto it = o->props.find(key);
    // An array's length is its own unless addProperty put a getter there.
    if (o->isArray && key == "length" && (it == o->props.end() || !it->second.getter)) {
      out = AsValue::Number(o->length);
      return true;
    }
    if (it != o->props.end() && (!it->second.versions || PropertyVisible(it->second.versions, version_))) {
      if (it->second.getter) {
        // Past the nesting limit the value beneath the getter answers.
        const AsValue stored = it->second.value;
        if (!CallAccessor(it->second.getter, it->second.order,
                          selfClip != kNoClip ? ClipValue(selfClip) : self ? *self : AsValue::Object(first), {}, out)) {
          out = stored;
        }
      } else {
        out = it->second.value;
      }
      return true;
    }
    if (key == "__proto__") {
      // `super` stands for the prototype it reaches: its __proto__ is that one's.
      const AsObject* of = o->className == "super" && o->proto ? o->proto : o;
      out = of->proto ? AsValue::Object(of->proto) : of->protoValue;
      return true;
    }
  }
  return false;
}

void Avm1::ProtoChainTooLong() {
  Skip("prototype chain too long");
  stage_.ScriptStopped("ActionScript 1/2: a prototype chain of more than " + std::to_string(kMaxProtoChain) + " objects");
  halted_ = true;
}

AsProperty* Avm1::FindAccessor(AsObject* o, const std::string& key) {
  for (int guard = 0; o; o = o->proto, ++guard) {
    if (guard >= kMaxProtoChain) {
      ProtoChainTooLong();
      return nullptr;
    }
    auto it = o->props.find(key);
    // One the movie's version does not see is not there for it.
    if (it == o->props.end() || (it->second.versions && !PropertyVisible(it->second.versions, version_))) continue;
    return it->second.getter || it->second.setter ? &it->second : nullptr;
  }
  return nullptr;
}

bool Avm1::CallAccessor(AsObject* fn, std::uint64_t prop, const AsValue& self, std::vector<AsValue> args, AsValue& out) {
  if (!fn || !fn->fn) return false;
  // Flash runs at most this many calls of one property's accessors inside
  // each other; the next is skipped (a getter that reads its own property).
  constexpr std::ptrdiff_t kMaxNested = 65;
  if (std::count(propertyCalls_.begin(), propertyCalls_.end(), prop) >= kMaxNested) return false;
  propertyCalls_.push_back(prop);
  out = CallFunction(fn, self, args);
  propertyCalls_.pop_back();
  return true;
}

void Avm1::SetThroughAccessor(AsObject* o, const std::string& key, AsProperty* acc, const AsValue& self, const AsValue& v) {
  const auto own = o->props.find(key);
  const bool isOwn = own != o->props.end() && &own->second == acc;
  AsValue ignored;
  if (acc->setter) CallAccessor(acc->setter, acc->order, self, {v}, ignored);
  if (!isOwn) return;
  // The setter may have deleted the property.
  const auto after = o->props.find(key);
  if (after != o->props.end() && (after->second.getter || after->second.setter) && !after->second.readOnly) {
    after->second.value = v;
  }
}

bool Avm1::AddProperty(AsObject* o, const std::string& name, const AsValue& getter, const AsValue& setter) {
  if (!o || name.empty() || getter.type != AsValue::Type::kObject || !getter.obj->fn) return false;
  // A value the property held stays beneath it: watchers see it as the
  // old value.
  if (!o->props.count(Key(name))) SetProp(o, name, AsValue{});
  AsProperty& p = o->props[Key(name)];
  p.getter = getter.obj;
  p.setter = setter.type == AsValue::Type::kObject && setter.obj->fn ? setter.obj : nullptr;
  return true;
}

AsObject* Avm1::NewRootObject(AsObject* proto) {
  AsObject* o = NewObject(proto);
  roots_.push_back(o);
  return o;
}

AsObject* Avm1::NewFunction(const std::string& name, AsNative native, AsObject* on) {
  AsObject* f = NewObject(functionProto_);
  f->className = "Function";
  f->fn = std::make_unique<AsFunction>();
  f->fn->native = native;
  f->fn->name = name;
  if (on) SetProp(on, name, AsValue::Object(f), true);
  return f;
}

AsObject* Avm1::NewClass(AsObject* on, const std::string& name, AsNative ctor, AsObject* proto) {
  if (!proto) proto = NewRootObject(objectProto_);
  AsObject* f = NewFunction(name, ctor, on);
  SetProp(f, "prototype", AsValue::Object(proto), true);
  f->props[Key("prototype")].dontDelete = true;  // delete Object.prototype keeps it
  SetProp(proto, "constructor", AsValue::Object(f), true);
  return f;
}

void Avm1::AddAccessor(AsObject* on, const std::string& name, AsNative getter, AsNative setter) {
  AsObject* g = NewFunction(name, getter);
  AsObject* s = setter ? NewFunction(name, setter) : nullptr;
  AddProperty(on, name, AsValue::Object(g), s ? AsValue::Object(s) : AsValue{});
  on->props[Key(name)].hidden = true;
}

AsValue Avm1::GetOwn(AsObject* o, const std::string& key) {
  AsValue v;
  FindProp(o, key, v);
  return v;
}

AsObject* Avm1::ClipVars(TimelineState* tl) {
  if (!tl->vars) {
    tl->vars = NewObject(VarsProto(tl));
    tl->vars->className = "MovieClip";
  }
  return tl->vars;
}

AsObject* Avm1::VarsProto(const TimelineState* tl) {
  const Instance* inst = tl->owner != kNoClip ? stage_.Find(tl->owner) : nullptr;
  const bool button = inst && inst->def && inst->def->kind == Character::Kind::kButton;
  return button && buttonProto_ ? buttonProto_ : clipProto_;
}

std::string Avm1::ClipPathText(const std::string& path, bool slash) const {
  const std::string& plain = path;
  if (slash) return plain.empty() ? "/" : plain;
  // A loaded level is named by itself: "/_level1/mc" is _level1.mc.
  std::size_t from = 0;
  std::string out = "_level0";
  if (plain.rfind("/_level", 0) == 0) {
    std::size_t end = 7;
    while (end < plain.size() && std::isdigit(static_cast<unsigned char>(plain[end]))) ++end;
    if (end > 7 && (end == plain.size() || plain[end] == '/')) {
      out = plain.substr(1, end - 1);
      from = end;
    }
  }
  for (std::size_t i = from; i < plain.size(); ++i) out += plain[i] == '/' ? '.' : plain[i];
  return out;
}

AsValue Avm1::ClipValue(ClipHandle h) {
  static const auto kRootPath = std::make_shared<const std::string>();
  if (h == kRootClip) return AsValue::Clip(h, kRootPath);
  return AsValue::Clip(h, std::make_shared<const std::string>(stage_.PathOf(h)));
}

ClipHandle Avm1::ClipOf(const AsValue& v) {
  if (v.type != AsValue::Type::kClip) return kNoClip;
  if (v.clip == kRootClip || stage_.Find(v.clip)) return v.clip;
  // Removed: the path finds whatever clip now has it.
  if (!v.str || v.str->empty()) return kNoClip;
  return stage_.Resolve(kRootClip, *v.str);
}

AsValue Avm1::GetClipVariable(TimelineState* tl, const std::string& name) {
  AsValue v;
  if (tl->vars) FindProp(tl->vars, Key(name), v);
  return v;
}

AsValue Avm1::Evaluate(const std::string& expr, ClipHandle clip) {
  Context ctx;
  ctx.target = ctx.base = clip;
  ctx.thisv = ClipValue(clip);
  ctx.scope.push_back(ctx.thisv);
  return GetVar(ctx, expr);
}

bool Avm1::VariableOnClip(const std::string& expr, ClipHandle clip) {
  const auto cut = expr.find_last_of(".:");
  if (cut == std::string::npos) return true;
  if (cut == 0) return true;  // ":name" or ".name": the clip's own
  const std::string owner = expr.substr(0, cut);
  // "/a/b:name" and "a:name" name the owner by a slash path.
  return ClipOf(Evaluate(owner, clip)) != kNoClip;
}

void Avm1::Assign(const std::string& expr, const AsValue& v, ClipHandle clip) {
  Context ctx;
  ctx.target = ctx.base = clip;
  ctx.thisv = ClipValue(clip);
  ctx.scope.push_back(ctx.thisv);
  SetVar(ctx, expr, v);
}

// ---- conversions -----------------------------------------------------------

AsValue Avm1::CallMethodOf(const AsValue& v, const std::string& name) {
  AsValue fn;
  if (depth_ >= depthCap_ || !FindProp(v.obj, Key(name), fn) || fn.type != AsValue::Type::kObject || !fn.obj->fn) {
    return {};
  }
  specialCall_ = true;
  return CallFunction(fn.obj, v, {});
}

AsValue Avm1::ToPrimitive(const AsValue& v) {
  if (v.type != AsValue::Type::kObject) return v;
  // Dates give their text from version 6; other objects their valueOf,
  // and stay objects when it gives none.
  const bool date = v.obj->className == "Date" && version_ > 5;
  const AsValue r = CallMethodOf(v, date ? "toString" : "valueOf");
  return r.type == AsValue::Type::kObject || r.type == AsValue::Type::kClip ? v : r;
}

double Avm1::PrimitiveNumber(const AsValue& v) const {
  switch (v.type) {
    case AsValue::Type::kUndefined:
    case AsValue::Type::kNull:
      return version_ >= 7 ? std::nan("") : 0.0;
    case AsValue::Type::kBoolean:
    case AsValue::Type::kNumber:
      return v.num;
    case AsValue::Type::kString:
      return ParseNumber(v.Text(), version_);
    case AsValue::Type::kObject:
      return version_ < 5 ? 0.0 : std::nan("");
    case AsValue::Type::kClip:
      return std::nan("");
  }
  return std::nan("");
}

double Avm1::ToNumber(const AsValue& v) {
  if (v.type != AsValue::Type::kObject) return PrimitiveNumber(v);
  // valueOf alone decides (toString is never asked); a missing one gives
  // undefined, an object NaN.
  return PrimitiveNumber(CallMethodOf(v, "valueOf"));
}

std::string Avm1::ToString(const AsValue& v) {
  switch (v.type) {
    case AsValue::Type::kUndefined: return version_ >= 7 ? "undefined" : "";
    case AsValue::Type::kNull: return "null";
    case AsValue::Type::kBoolean:
      if (version_ < 5) return v.num != 0 ? "1" : "0";
      return v.num != 0 ? "true" : "false";
    case AsValue::Type::kNumber: return NumberText(v.num);
    case AsValue::Type::kString: return v.Text();
    case AsValue::Type::kClip: {
      // A reference that finds no clip prints as nothing.
      const ClipHandle h = ClipOf(v);
      return h == kNoClip ? std::string() : ClipPathText(stage_.PathOf(h), false);
    }
    case AsValue::Type::kObject: {
      AsObject* o = v.obj;
      // String objects give their text without asking toString.
      if (o->primitive.type == AsValue::Type::kString) return o->primitive.Text();
      const AsValue r = CallMethodOf(v, "toString");
      if (r.type == AsValue::Type::kString) return r.Text();
      return o->fn ? "[type Function]" : "[type Object]";
    }
  }
  return "";
}

bool Avm1::ToBool(const AsValue& v) {
  switch (v.type) {
    case AsValue::Type::kBoolean:
    case AsValue::Type::kNumber:
      return v.num != 0 && !std::isnan(v.num);
    case AsValue::Type::kString:
      if (version_ >= 7) return !v.Text().empty();
      {
        const double d = ParseNumber(v.Text(), version_);
        return d != 0 && !std::isnan(d);
      }
    case AsValue::Type::kObject:
    case AsValue::Type::kClip:
      return true;
    default:
      return false;
  }
}

std::string Avm1::Join(AsObject* arr, const std::string& sep) {
  std::string out;
  ++depth_;
  const std::vector<AsValue> elems = Elements(arr);
  for (std::size_t i = 0; i < elems.size() && depth_ < depthCap_; ++i) {
    if (i) out += sep;
    // Holes and undefined print as undefined does in the movie's version.
    out += ToString(elems[i]);
    if (out.size() > kMaxStringBytes) break;
  }
  --depth_;
  return out;
}

std::string Avm1::TypeOf(const AsValue& v) {
  switch (v.type) {
    case AsValue::Type::kUndefined: return "undefined";
    case AsValue::Type::kNull: return "null";
    case AsValue::Type::kBoolean: return "boolean";
    case AsValue::Type::kNumber: return "number";
    case AsValue::Type::kString: return "string";
    case AsValue::Type::kClip: {
      // Only clips are "movieclip"; text fields and buttons are objects.
      const Instance* inst = stage_.Find(ClipOf(v));
      const bool button = inst && inst->def && inst->def->kind == Character::Kind::kButton;
      return button || avm1_builtins::IsTextField(*this, ClipOf(v)) ? "object" : "movieclip";
    }
    case AsValue::Type::kObject: return v.obj->fn ? "function" : "object";
  }
  return "undefined";
}

bool Avm1::StrictEquals(const AsValue& a, const AsValue& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case AsValue::Type::kUndefined:
    case AsValue::Type::kNull: return true;
    case AsValue::Type::kBoolean:
    case AsValue::Type::kNumber: return a.num == b.num || (std::isnan(a.num) && std::isnan(b.num));
    case AsValue::Type::kString: return a.Text() == b.Text();
    case AsValue::Type::kClip: {
      // A reference is its path: another clip the timeline put where the
      // first stood is the same one.
      const ClipHandle x = ClipOf(a), y = ClipOf(b);
      if (x != kNoClip && x == y) return true;
      return version_ >= 7 ? a.Text() == b.Text() : Lower(a.Text()) == Lower(b.Text());
    }
    case AsValue::Type::kObject: return a.obj == b.obj;
  }
  return false;
}

bool Avm1::Equals2(const AsValue& left, const AsValue& right) {
  using T = AsValue::Type;
  auto valueOf = [this](const AsValue& v) { return v.type == T::kObject ? CallMethodOf(v, "valueOf") : v; };
  // Version 5 asks both sides' valueOf first (the right one first), even
  // for two objects; later versions only for an object against a primitive.
  AsValue a = right, b = left;
  if (version_ <= 5) {
    a = valueOf(right);
    b = valueOf(left);
  }
  if (a.IsNullish() && b.IsNullish()) return true;
  // Two clips are equal when they name the same place: a clip the timeline
  // put back where a removed one stood equals a reference to that one.
  if (a.type == T::kClip && b.type == T::kClip) return ToString(a) == ToString(b);
  if (a.type == b.type) return StrictEquals(a, b);
  if (a.type == T::kBoolean) return Equals2(AsValue::Number(a.num), b);
  if (b.type == T::kBoolean) return Equals2(a, AsValue::Number(b.num));
  if (a.type == T::kNumber && b.type == T::kString) return a.num == PrimitiveNumber(b);
  if (a.type == T::kString && b.type == T::kNumber) return PrimitiveNumber(a) == b.num;
  for (const auto& [obj, other] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
    if (obj->type != T::kObject) continue;
    const AsValue p = valueOf(*obj);
    return p.type != T::kObject && p.type != T::kClip && Equals2(*other, p);
  }
  return false;
}

AsValue Avm1::Less(const AsValue& a0, const AsValue& b0) {
  // Each side's valueOf; an object it leaves makes the answer false.
  auto prim = [this](const AsValue& v) { return v.type == AsValue::Type::kObject ? CallMethodOf(v, "valueOf") : v; };
  const AsValue a = prim(a0);
  if (a.type == AsValue::Type::kObject) return AsValue::Bool(false);
  const AsValue b = prim(b0);
  if (b.type == AsValue::Type::kObject) return AsValue::Bool(false);
  if (a.type == AsValue::Type::kString && b.type == AsValue::Type::kString) return AsValue::Bool(ScriptStringLess(a.Text(), b.Text()));
  const double x = PrimitiveNumber(a), y = PrimitiveNumber(b);
  if (std::isnan(x) || std::isnan(y)) return AsValue::Undefined();
  return AsValue::Bool(x < y);
}

AsValue Avm1::RawPrototype(const AsValue& v) {
  const AsObject* o = v.type == AsValue::Type::kObject ? v.obj : nullptr;
  if (v.type == AsValue::Type::kClip) {
    const TimelineState* tl = stage_.TimelineOf(ClipOf(v));
    o = tl ? tl->vars : nullptr;
  }
  if (!o) return {};
  const auto it = o->props.find(Key("prototype"));
  return it == o->props.end() ? AsValue{} : it->second.value;
}

AsValue Avm1::CoerceToObject(const AsValue& v) {
  const char* cls = v.type == AsValue::Type::kString ? "String"
                    : v.type == AsValue::Type::kNumber ? "Number"
                    : v.type == AsValue::Type::kBoolean ? "Boolean"
                                                       : nullptr;
  if (!cls) return v.type == AsValue::Type::kObject || v.type == AsValue::Type::kClip ? v : AsValue{};
  AsValue arg = v;
  const AsValue made = Construct(Get(AsValue::Object(global_), cls), AsArgs(&arg, 1));
  return made.type == AsValue::Type::kObject ? made : AsValue{};
}

// obj instanceof C: C's prototype (as a function holds it) on obj's
// prototype chain, or among the interfaces each prototype there
// implements and theirs, but not the interfaces' own prototype chains.
bool Avm1::InstanceOf(const AsValue& v, const AsValue& ctor) {
  if (v.type != AsValue::Type::kObject && v.type != AsValue::Type::kClip) return false;
  const AsValue cls = CoerceToObject(ctor);
  if (cls.type != AsValue::Type::kObject && cls.type != AsValue::Type::kClip) return false;
  const AsValue proto = CoerceToObject(RawPrototype(cls));
  if (proto.type != AsValue::Type::kObject) return false;
  AsObject* o = nullptr;
  if (v.type == AsValue::Type::kObject) {
    o = v.obj->proto;
  } else {
    const ClipHandle clip = ClipOf(v);
    if (avm1_builtins::IsTextField(*this, clip)) {
      o = avm1_builtins::TextFieldPrototype(*this);
    } else {
      // A removed clip is no object any more.
      TimelineState* tl = stage_.TimelineOf(clip);
      if (!tl) return false;
      o = tl->vars ? tl->vars->proto : clipProto_;
    }
  }
  std::vector<AsObject*> pending;
  int budget = 4096;  // chains and interface lists may loop
  for (int guard = 0; o && guard < kMaxProtoChain; o = o->proto, ++guard) {
    pending.assign(1, o);
    while (!pending.empty() && --budget > 0) {
      AsObject* at = pending.back();
      pending.pop_back();
      if (at == proto.obj) return true;
      pending.insert(pending.end(), at->interfaces.begin(), at->interfaces.end());
    }
  }
  return false;
}

// ---- members ---------------------------------------------------------------

AsValue Avm1::Get(const AsValue& v, const std::string& name) {
  const std::string key = Key(name);
  switch (v.type) {
    case AsValue::Type::kObject: {
      AsValue out;
      if (FindProp(v.obj, key, out)) return out;
      // A property that is nowhere asks the nearest __resolve that is an
      // object (one that is no function answers undefined); other values
      // there are passed over.
      const std::string resolveKey = Key("__resolve");
      if (key == resolveKey) return out;
      int guard = 0;
      for (AsObject* o = v.obj; o && guard < 64; o = o->proto, ++guard) {
        const auto it = o->props.find(resolveKey);
        if (it == o->props.end() || it->second.value.type != AsValue::Type::kObject) continue;
        std::vector<AsValue> args{AsValue::String(name)};
        return Call(it->second.value, v, args);
      }
      return out;
    }
    case AsValue::Type::kClip:
      return GetClipMember(ClipOf(v), name);
    case AsValue::Type::kString: {
      if (name == "length") {
        return AsValue::Number(
            static_cast<double>(version_ >= 6 ? Utf16Length(v.Text()) : v.Text().size()));
      }
      AsValue out;
      FindProp(stringProto_, key, out);
      return out;
    }
    case AsValue::Type::kNumber: {
      AsValue out;
      FindProp(numberProto_, key, out);
      return out;
    }
    case AsValue::Type::kBoolean: {
      AsValue out;
      FindProp(booleanProto_, key, out);
      return out;
    }
    default:
      return {};
  }
}

void Avm1::Set(const AsValue& v, const std::string& name, const AsValue& value) {
  if (v.type == AsValue::Type::kClip) {
    SetClipMember(ClipOf(v), name, value);
    return;
  }
  if (v.type != AsValue::Type::kObject) return;
  AsObject* o = v.obj;
  if (o->isArray && Key(name) == "length") {
    const auto own = o->props.find(Key(name));
    if (own == o->props.end() || !own->second.getter) {
      SetLength(o, ToInt32(ToNumber(value)));
      return;
    }
  }
  const AsValue stored = Watched(*this, o, v, name, value);
  if (AsProperty* acc = FindAccessor(o, Key(name))) {
    SetThroughAccessor(o, Key(name), acc, v, stored);
    return;
  }
  if (Key(name) == "__proto__") {
    if (value.type == AsValue::Type::kObject) {
      // A cycle is allowed: lookups through it stop the scripts.
      o->proto = value.obj;
      o->protoValue = {};
    } else if (value.type != AsValue::Type::kClip) {
      o->proto = nullptr;  // a bare object: no valueOf, no toString
      o->protoValue = value;
    }
    return;
  }
  SetProp(o, name, stored);
  // A numeric name at or past the end stretches the array, its length
  // wrapping as a 32-bit integer does ("-5" and "2147483648" do not).
  if (std::int32_t idx = 0; o->isArray && ArrayIndexOf(name, idx) && idx >= o->length) {
    SetLength(o, static_cast<std::int32_t>(static_cast<std::uint32_t>(idx) + 1u));
  }
}

ClipHandle Avm1::ScriptRoot(ClipHandle clip) {
  const ClipHandle level = stage_.RootOf(clip);
  if (lockRoots_.empty()) return level;
  // The nearest clip that locks its root, below the level.
  for (int guard = 0; guard < 4096 && clip != kRootClip && clip != level && clip != kNoClip; ++guard) {
    if (lockRoots_.count(clip)) return clip;
    clip = stage_.ParentOf(clip);
  }
  return level;
}

AsValue Avm1::ClipParent(ClipHandle clip) {
  // Levels have none.
  if (clip == kRootClip || stage_.RootOf(clip) == clip) return {};
  ClipHandle parent = stage_.ParentOf(clip);
  // Before version 6 a button is no object: a clip in it has the button's parent.
  if (const Instance* p = stage_.Find(parent);
      version_ < 6 && p && p->def && p->def->kind == Character::Kind::kButton) {
    parent = p->parent;
  }
  return ClipValue(parent);
}

AsValue Avm1::GetClipMember(ClipHandle clip, const std::string& name) {
  if (AsValue field; avm1_builtins::GetTextFieldMember(*this, clip, name, field)) return field;
  TimelineState* tl = stage_.TimelineOf(clip);
  if (!tl) return {};
  // Flash looks in this order: the clip's own variables, the path names
  // (_root, _parent, _global, _levelN), child clips by instance name, the
  // clip's properties (_x...), then the prototype.
  AsValue out;
  const std::string key = Key(name);
  if (tl->vars && tl->vars->props.count(key) && FindProp(tl->vars, key, out, nullptr, clip)) return out;
  const bool under = !name.empty() && name[0] == '_';
  const std::string low = under ? Lower(name) : std::string();
  // Flash 4 has no clip values: these are variables like any other there.
  if (under && version_ >= 5) {
    if (low == "_parent") return ClipParent(clip);
    if (low == "_root") return ClipValue(ScriptRoot(clip));
    if (low == "_lockroot") return AsValue::Bool(lockRoots_.count(clip) > 0);
    if (low == "_global") return AsValue::Object(global_);
    // A level that is not there answers undefined, never the prototype.
    if (const auto level = LevelOfName(name, version_)) {
      if (*level == 0) return ClipValue(kRootClip);
      const ClipHandle h = *level > 0 ? stage_.Level(*level, false) : kNoClip;
      return h == kNoClip ? AsValue{} : ClipValue(h);
    }
  }
  // A child clip by instance name.
  // Names match in any case before version 7, by Flash's case tables
  // past ASCII.
  const bool exact = version_ >= 7;
  const bool wide = !exact && keyVersion_ < 7 &&
                    std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  const std::string wanted = wide ? Key(name) : std::string();
  for (auto& [depth, inst] : tl->list) {
    if (inst.name.empty()) continue;
    const bool match = exact ? inst.name == name : wide ? Key(inst.name) == wanted : EqualsNoCase(inst.name, name);
    if (match && (inst.sprite || inst.def)) {
      if (inst.sprite && inst.def && inst.def->kind == Character::Kind::kSprite) return ClipValue(inst.serial);
      // Buttons are script objects from version 6; before, like shapes below,
      // the name stands for the clip that holds it.
      if (inst.sprite && inst.def && inst.def->kind == Character::Kind::kButton) {
        return ClipValue(version_ >= 6 ? inst.serial : clip);
      }
      if (inst.def && inst.def->kind == Character::Kind::kVideo) return avm1_builtins::VideoObject(*this, inst.serial);
      if (inst.def && inst.def->kind == Character::Kind::kEditText) return ClipValue(inst.serial);
      // What scripts cannot reach (shapes, static text, pictures) names the clip that holds it.
      if (inst.def && (inst.def->kind == Character::Kind::kShape || inst.def->kind == Character::Kind::kMorph ||
                       inst.def->kind == Character::Kind::kText || inst.def->kind == Character::Kind::kBitmap)) {
        return ClipValue(clip);
      }
    }
  }
  if (under) {
    for (int i = 0; i < static_cast<int>(std::size(kPropertyNames)); ++i) {
      if (low == kPropertyNames[i]) return stage_.GetClipProperty(clip, i, *this);
    }
  }
  if (tl->vars && FindProp(tl->vars, key, out, nullptr, clip)) return out;
  // A clip whose variables are not made yet still has MovieClip's prototype.
  if (!tl->vars && key == "__proto__") return AsValue::Object(VarsProto(tl));
  FindProp(VarsProto(tl), key, out, nullptr, clip);
  return out;
}

void Avm1::SetClipMember(ClipHandle clip, const std::string& name, const AsValue& v) {
  if (AsObject* field = avm1_builtins::TextFieldObject(*this, clip, false)) {
    avm1_builtins::SetTextFieldMember(*this, clip, name, Watched(*this, field, ClipValue(clip), name, v));
    return;
  }
  if (avm1_builtins::SetTextFieldMember(*this, clip, name, v)) return;
  TimelineState* tl = stage_.TimelineOf(clip);
  if (!tl) return;
  const std::string low = Lower(name);
  if (!low.empty() && low[0] == '_') {
    for (int i = 0; i < static_cast<int>(std::size(kPropertyNames)); ++i) {
      if (low == kPropertyNames[i]) {
        stage_.SetClipProperty(clip, i, v, *this);
        return;
      }
    }
    if (low == "_lockroot") {
      if (ToBool(v)) {
        lockRoots_.insert(clip);
      } else {
        lockRoots_.erase(clip);
      }
      return;
    }
  }
  AsObject* vars = ClipVars(tl);
  if (low == "__proto__") {
    Set(AsValue::Object(vars), name, v);
    return;
  }
  const AsValue stored = Watched(*this, vars, ClipValue(clip), name, v);
  if (AsProperty* acc = FindAccessor(vars, Key(name))) {
    SetThroughAccessor(vars, Key(name), acc, ClipValue(clip), stored);
    return;
  }
  SetProp(vars, name, stored);
}

// ---- variables ---------------------------------------------------------------

// The clip a scope entry stands for. The timeline that actions run in, or
// that a function was defined on (the first entry), may be removed while
// they run: the clip the actions belong to (for a function, the one it was
// called on) answers for it, or the main timeline once that is gone too.
static ClipHandle LiveScopeClip(Avm1& vm, const AsValue& entry, bool timelineEntry, ClipHandle base) {
  const ClipHandle clip = vm.ClipOf(entry);
  Stage& stage = vm.GetStage();
  if (stage.TimelineOf(clip) || !timelineEntry || entry.clip == kNoClip) return clip;
  return stage.TimelineOf(base) ? base : kRootClip;
}

bool Avm1::LookupScope(Context& ctx, const std::string& name, AsValue& out, AsValue* holder) {
  const std::string key = Key(name);
  for (auto it = ctx.scope.rbegin(); it != ctx.scope.rend(); ++it) {
    if (it->type == AsValue::Type::kObject) {
      if (FindProp(it->obj, key, out)) {
        if (holder) *holder = *it;
        return true;
      }
    } else if (it->type == AsValue::Type::kClip) {
      const ClipHandle clip =
          LiveScopeClip(*this, *it, std::next(it) == ctx.scope.rend(), ctx.base);
      TimelineState* tl = stage_.TimelineOf(clip);
      if (!tl) continue;
      // From version 6 a timeline in scope answers `this` with itself.
      if (version_ >= 6 && key == "this") {
        out = ClipValue(clip);
        if (holder) *holder = *it;
        return true;
      }
      AsValue v = GetClipMember(clip, name);
      if (!v.IsUndefined() || (tl->vars && tl->vars->props.count(key))) {
        out = v;
        if (holder) *holder = *it;
        return true;
      }
    }
  }
  // Flash 4 movies have timeline variables only: no NaN, Infinity or
  // other globals.
  if (version_ >= 5 && FindProp(global_, key, out)) {
    if (holder) *holder = AsValue::Object(global_);
    return true;
  }
  return false;
}

// A slash path names clips, and past a clip with no such child the
// variable of that name when it holds an object (or a clip); from an
// object on, each part is one of its properties.
AsValue Avm1::ResolvePath(Context& ctx, const std::string& path, bool handleThis) {
  if (const ClipHandle h = ResolveTarget(ctx.target, path, handleThis); h != kNoClip) return ClipValue(h);
  if (version_ < 5) return {};
  // A dotted path is a variable path (a shape's name stands for its clip).
  if (path.find('/') == std::string::npos && path.find('.') != std::string::npos) {
    const AsValue v = GetVar(ctx, path);
    return v.type == AsValue::Type::kClip || v.type == AsValue::Type::kObject ? v : AsValue{};
  }
  AsValue at = ClipValue(ctx.target);
  std::size_t i = 0;
  if (!path.empty() && path[0] == '/') {
    at = ClipValue(stage_.Resolve(ctx.target, "/"));
    i = 1;
  }
  for (int guard = 0; i <= path.size() && guard < 256; ++guard) {
    std::size_t j = path.find_first_of("/:", i);
    if (j == std::string::npos) j = path.size();
    const std::string part = path.substr(i, j - i);
    i = j + 1;
    if (part.empty()) {
      if (j < path.size() && i > 1 && path[i - 2] == '/' && path[j] == '/') return {};
      continue;
    }
    if (at.type == AsValue::Type::kClip) {
      // Past a slash a dot is part of the name.
      const bool dotted = part.find('.') != std::string::npos && part != "..";
      if (const ClipHandle child = dotted ? kNoClip : stage_.Resolve(ClipOf(at), part); child != kNoClip) {
        at = ClipValue(child);
        continue;
      }
    } else if (at.type != AsValue::Type::kObject) {
      return {};
    }
    at = Get(at, part);
    if (at.type != AsValue::Type::kClip && at.type != AsValue::Type::kObject) return {};
  }
  return at;
}

// The object a "path:name" variable lives on; undefined when none.
static AsValue PathOwner(Avm1& vm, const AsValue& resolved, ClipHandle target, bool here) {
  if (here) return target == kNoClip ? AsValue{} : vm.ClipValue(target);
  return resolved;
}

AsValue Avm1::GetVar(Context& ctx, const std::string& name) {
  // A path with a colon or a slash ends in a variable after its last colon
  // or dot, whichever comes later (a dot of ".." too).
  auto colon = name.rfind(':');
  // Flash 4 has no dots in paths, and a variable needs a path before it.
  const bool swf4 = version_ < 5;
  if (swf4 && colon == 0) return {};
  if (!swf4 && (colon != std::string::npos || name.find('/') != std::string::npos)) {
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && (colon == std::string::npos || dot > colon)) colon = dot;
  }
  if (colon != std::string::npos) {
    const AsValue owner = PathOwner(*this, colon == 0 ? AsValue{} : ResolvePath(ctx, name.substr(0, colon)),
                                    ctx.target, colon == 0);
    if (owner.type == AsValue::Type::kObject) return Get(owner, name.substr(colon + 1));
    return GetClipMember(ClipOf(owner), name.substr(colon + 1));
  }
  if (name.find('/') != std::string::npos) {
    // A slash path that names nothing is a variable of that name.
    if (AsValue found = ResolvePath(ctx, name, false); !found.IsUndefined() || swf4) return found;
  }
  const auto dot = swf4 ? std::string::npos : name.find('.');
  if (dot != std::string::npos && dot > 0 && name != "..") {
    // The rest of the path from the first name's value; `whole` tells
    // whether every step before the last reached an object or a clip and
    // the last found something.
    // On the way a clip's child comes before its variable of the name (the
    // other way round from reading a member); the last name is a member.
    auto childFirst = [&](const AsValue& at, const std::string& part, AsValue v) {
      if (at.type != AsValue::Type::kClip) return v;
      TimelineState* tl = stage_.TimelineOf(ClipOf(at));
      const Instance* child = tl ? stage_.FindChild(*tl, part) : nullptr;
      return child ? ClipValue(child->serial) : v;
    };
    auto walk = [&](AsValue v, bool& whole) {
      whole = true;
      std::size_t i = dot + 1;
      while (i <= name.size() && !v.IsNullish()) {
        std::size_t j = name.find('.', i);
        if (j == std::string::npos) j = name.size();
        const std::string part = name.substr(i, j - i);
        v = j < name.size() ? childFirst(v, part, Get(v, part)) : Get(v, part);
        if (j < name.size() && v.type != AsValue::Type::kObject && v.type != AsValue::Type::kClip) whole = false;
        i = j + 1;
      }
      if (v.IsUndefined()) whole = false;  // nothing at its end either
      return v;
    };
    const std::string first = name.substr(0, dot);
    bool whole = false;
    // One lookup of the first name: a getter there runs once.
    AsValue start, holder;
    if (!EqualsNoCase(first, "this") && LookupScope(ctx, first, start, &holder)) start = childFirst(holder, first, start);
    else start = GetVar(ctx, first);
    const AsValue loose = walk(start, whole);
    if (whole || first.empty() || first[0] == '_' || EqualsNoCase(first, "this")) return loose;
    // A path that breaks off in one scope is looked for again in the scopes
    // around it, out to the globals.
    const std::vector<AsValue> scope = ctx.scope;
    AsValue found = loose;
    for (int guard = 0; guard < 64; ++guard) {
      AsValue holder, v;
      if (!LookupScope(ctx, first, v, &holder)) break;
      if (const AsValue r = walk(childFirst(holder, first, v), whole); whole) {
        found = r;
        break;
      }
      auto at = std::find_if(ctx.scope.begin(), ctx.scope.end(), [&](const AsValue& e) {
        return e.type == holder.type && (e.type == AsValue::Type::kObject ? e.obj == holder.obj : e.clip == holder.clip);
      });
      if (at == ctx.scope.end()) break;  // the globals: nothing further out
      ctx.scope.erase(at, ctx.scope.end());
    }
    ctx.scope = scope;
    return found;
  }
  // `this` by name: in any case at the top of a timeline's actions before
  // version 7, only so spelt in functions (and not at all in those that
  // preload or suppress it) and from version 7.
  if (name == "this" ? !ctx.inFunction || ctx.thisByName : version_ < 7 && !ctx.inFunction && EqualsNoCase(name, "this")) {
    // A script may assign `this` like any variable: the nearest assigned
    // value in scope wins (a function's own `this` is a local of its call).
    const std::string key = Key(name);
    for (auto it = ctx.scope.rbegin(); it != ctx.scope.rend(); ++it) {
      if (it->type == AsValue::Type::kObject) {
        if (auto p = it->obj->props.find(key); p != it->obj->props.end()) return Get(*it, name);
      } else if (it->type == AsValue::Type::kClip) {
        const TimelineState* tl = stage_.TimelineOf(ClipOf(*it));
        if (tl && tl->vars && tl->vars->props.count(key)) return GetClipMember(ClipOf(*it), name);
      }
    }
    return ctx.thisv;
  }
  // Flash 4 knows no clip values: there these names are plain variables.
  const bool under = !name.empty() && name[0] == '_' && version_ >= 5;
  AsValue out;
  // A variable of the name comes first: a script may set `_root` or
  // `_global` on a timeline; a level's name is answered by the clips in
  // scope, else here.
  if (LookupScope(ctx, name, out, nullptr)) return out;
  if (under && EqualsNoCase(name, "_root")) return ClipValue(ScriptRoot(ctx.target));
  if (under && EqualsNoCase(name, "_global")) return AsValue::Object(global_);
  if (const auto level = under ? LevelOfName(name, version_) : std::nullopt) {
    if (*level == 0) return ClipValue(kRootClip);
    const ClipHandle h = *level > 0 ? stage_.Level(*level, false) : kNoClip;
    return h == kNoClip ? AsValue{} : ClipValue(h);
  }
  if (under && EqualsNoCase(name, "_parent")) return GetClipMember(ctx.target, name);
  return {};
}

void Avm1::SetVar(Context& ctx, const std::string& name, const AsValue& v) {
  const auto colon = name.rfind(':');
  if (colon != std::string::npos) {
    const AsValue owner = PathOwner(*this, colon == 0 ? AsValue{} : ResolvePath(ctx, name.substr(0, colon)),
                                    ctx.target, colon == 0);
    if (owner.type == AsValue::Type::kObject) Set(owner, name.substr(colon + 1), v);
    else SetClipMember(ClipOf(owner), name.substr(colon + 1), v);
    return;
  }
  const auto dot = version_ < 5 ? std::string::npos : name.rfind('.');
  if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
    // With a slash the part before the last dot is a target path, where a
    // dot after the slash belongs to a name ("a/b.c.d" sets d on b.c).
    const std::string path = name.substr(0, dot);
    const AsValue obj = path.find('/') != std::string::npos ? ResolvePath(ctx, path) : GetVar(ctx, path);
    Set(obj, name.substr(dot + 1), v);
    return;
  }
  const std::string key = Key(name);
  for (auto it = ctx.scope.rbegin(); it != ctx.scope.rend(); ++it) {
    if (it->type == AsValue::Type::kObject) {
      AsValue dummy;
      if (it->obj->props.count(key) || (it->obj->isArray && FindProp(it->obj, key, dummy))) {
        Set(*it, name, v);
        return;
      }
    } else if (it->type == AsValue::Type::kClip) {
      // The timeline at the bottom of the scope takes new variables; a clip
      // that `with` put above it only those it has.
      const bool bottom = std::next(it) == ctx.scope.rend();
      int guard = 0;
      const ClipHandle clip = LiveScopeClip(*this, *it, bottom, ctx.base);
      TimelineState* tl = stage_.TimelineOf(clip);
      if (!tl) continue;
      bool has = !name.empty() && name[0] == '_';
      for (const AsObject* o = tl->vars; o && !has && guard < kMaxProtoChain; o = o->proto, ++guard) {
        has = o->props.count(key) > 0;
      }
      if (bottom || has) {
        SetClipMember(clip, name, v);
        return;
      }
    }
  }
  SetClipMember(ctx.target, name, v);
}

// ---- calls -------------------------------------------------------------------

AsValue Avm1::Call(const AsValue& fn, const AsValue& self, AsArgs args) {
  if (fn.type != AsValue::Type::kObject || !fn.obj->fn) return {};
  return CallFunction(fn.obj, self, args);
}

AsValue Avm1::CallFunction(AsObject* fnObj, const AsValue& self, AsArgs args) {
  const bool constructed = std::exchange(nextCallConstructs_, false);
  // Conversions and calls from the player (events, loads) are "special":
  // version 5 callers then run the function on the clip that defined it.
  const bool special = std::exchange(specialCall_, false) || !running_;
  if (aborted_ || halted_) return {};
  AsFunction& f = *fnObj->fn;
  // The action list itself counts as one level of the movie's limit
  // (ScriptLimits, else 256); past it Flash drops the whole action list.
  const int limit = std::clamp(stage_.Library().maxRecursion.value_or(kDefaultRecursion), 1, depthCap_);
  if (depth_ >= limit - 1) {
    Skip("script recursion too deep");
    // Dropping the action list is Flash's rule; the user still hears of it once.
    stage_.ScriptStopped("ActionScript 1/2: the recursion limit of " + std::to_string(limit) + " calls");
    halted_ = true;
    return {};
  }
  if (tracing_) TraceLine("call " + (f.name.empty() ? std::string("(anonymous)") : f.name) + " on " + Describe(self));
  ++depth_;
  if (f.native) {
    AsValue r = f.native(*this, self, args);
    --depth_;
    if (!running_) halted_ = false;  // back in the host
    return r;
  }
  Context ctx;
  ctx.scope = f.scope;
  ctx.thisv = self;
  ctx.pool = f.pool;
  ctx.inFunction = true;
  ctx.constructed = constructed;
  // Function bodies run with version 5 rules at least (real booleans,
  // Infinity) even in a Flash 4 movie.
  int runVersion = std::max(f.version ? f.version : version_, 5);
  if (version_ < 6) {
    // Called from version 5 code, functions close over nothing: they run
    // on the clip they are called on, or else the caller's target, with
    // that clip alone in scope and by its movie's rules. A special call
    // runs on the clip the function was defined on.
    ClipHandle base = kNoClip;
    if (special) {
      for (auto it = f.scope.rbegin(); it != f.scope.rend() && base == kNoClip; ++it) {
        if (it->type == AsValue::Type::kClip && stage_.TimelineOf(ClipOf(*it))) base = ClipOf(*it);
      }
    }
    if (base == kNoClip) base = ClipOf(self);
    if (base == kNoClip) base = running_ && running_->target != kNoClip ? running_->target : kRootClip;
    ctx.scope.assign(1, ClipValue(base));
    ctx.target = ctx.base = base;
    if (const int v = stage_.ClipSwfVersion(base); v > 0) runVersion = std::max(v, 5);
  } else {
    // The target is the timeline the function was defined on; once that
    // is gone, the clip it is called on, else the root.
    for (auto it = f.scope.rbegin(); it != f.scope.rend(); ++it) {
      if (it->type == AsValue::Type::kClip) {
        ClipHandle base = ClipOf(*it);
        if (!stage_.TimelineOf(base)) {
          const ClipHandle on = ClipOf(self);
          base = stage_.TimelineOf(on) ? on : kRootClip;
        }
        ctx.target = ctx.base = base;
        break;
      }
    }
  }
  AsObject* act = NewObject(nullptr);
  act->proto = nullptr;
  ctx.activation = act;
  ctx.callee = fnObj;
  ctx.caller = running_;
  ctx.scope.push_back(AsValue::Object(act));
  ctx.regs.assign(f.v2 ? std::max<std::size_t>(f.registers, 1) : 4, AsValue{});
  AsObject* arguments = nullptr;
  // Preloaded arguments are there even when also suppressed.
  if (!f.v2 || !(f.flags & 0x08) || (f.flags & 0x04)) {
    arguments = NewArray(std::vector<AsValue>(args.begin(), args.end()));
    SetProp(arguments, "callee", AsValue::Object(fnObj), true);
    // The caller is the function running now (null at the top of a frame's actions).
    const AsValue caller = running_ && running_->callee ? AsValue::Object(running_->callee) : AsValue::Null();
    SetProp(arguments, "caller", caller, true);
  }
  if (f.v2) {
    // Each preloaded value takes the next register (undefined when it is
    // also suppressed); only values neither preloaded nor suppressed are
    // variables by name.
    std::size_t r = 1;
    auto preload = [&](std::uint16_t bit, std::uint16_t suppress, const AsValue& v) {
      if ((f.flags & bit) && r < ctx.regs.size()) ctx.regs[r++] = (f.flags & suppress) ? AsValue{} : v;
    };
    preload(0x01, 0x02, self);
    preload(0x04, 0, arguments ? AsValue::Object(arguments) : AsValue{});
    const bool wantSuper = (f.flags & 0x10) || !(f.flags & 0x20);
    const AsValue sup = wantSuper ? MakeSuper(fnObj, self) : AsValue{};
    preload(0x10, 0x20, sup);
    if (!(f.flags & 0x30)) SetProp(act, "super", sup, true);
    preload(0x40, 0, ClipValue(ScriptRoot(ctx.target)));
    // A timeline without a parent takes no register: the next preload has it.
    if (const AsValue parent = (f.flags & 0x80) ? ClipParent(ctx.target) : AsValue{};
        !parent.IsUndefined()) {
      preload(0x80, 0, parent);
    }
    preload(0x100, 0, AsValue::Object(global_));
    ctx.thisByName = !(f.flags & 0x03);
    if (arguments && !(f.flags & 0x0C)) SetProp(act, "arguments", AsValue::Object(arguments), true);
  } else {
    SetProp(act, "arguments", AsValue::Object(arguments), true);
    SetProp(act, "super", MakeSuper(fnObj, self), true);
  }
  if (!f.v2 || ctx.thisByName) SetProp(act, "this", self, true);
  for (std::size_t i = 0; i < f.params.size(); ++i) {
    const AsValue v = i < args.size() ? args[i] : AsValue{};
    const auto reg = f.params[i].first;
    if (f.v2 && reg != 0) {
      if (reg < ctx.regs.size()) ctx.regs[reg] = v;
    } else {
      SetProp(act, f.params[i].second, v);
    }
  }
  const int callerVersion = version_;
  version_ = runVersion;
  AsValue r = Execute(f.code, ctx);
  version_ = callerVersion;
  --depth_;
  if (!running_) halted_ = false;
  return r;
}

// `super` in a function: the prototype above the one the function belongs
// to (its class's prototype for a constructor, the prototype holding it for
// a method), acting on the same `this`.
AsValue Avm1::MakeSuper(AsObject* fnObj, const AsValue& self) {
  AsObject* selfObj = ObjectOf(self);
  if (!selfObj) return {};
  AsObject* home = nullptr;
  const AsValue own = GetOwn(fnObj, Key("prototype"));
  int guard = 0;
  for (AsObject* o = selfObj->proto; o && guard < 64 && !home; o = o->proto, ++guard) {
    if (own.type == AsValue::Type::kObject && own.obj == o) home = o;
  }
  guard = 0;
  for (AsObject* o = selfObj->proto; o && guard < 64 && !home; o = o->proto, ++guard) {
    for (auto& [k, p] : o->props) {
      if (p.value.type == AsValue::Type::kObject && p.value.obj == fnObj) {
        home = o;
        break;
      }
    }
  }
  // A method of the object itself counts as one of its prototype: super
  // starts one further up (nothing above Object.prototype, so a plain
  // object's super has no toString).
  if (!home) home = selfObj->proto;
  if (!home) return {};
  int depth = 0;
  for (AsObject* o = selfObj->proto; o && o != home && depth < kMaxProtoChain; o = o->proto) ++depth;
  AsObject* sup = NewObject(home->proto);
  sup->superDepth = depth;
  sup->proto = home->proto;
  sup->className = "super";
  sup->boundThis = self;
  sup->target = AsValue::Object(home);
  return AsValue::Object(sup);
}

// Looked up only when super() runs (a getter there runs then), along the
// prototypes from the one holding the method, never through __resolve.
void Avm1::RefreshSuper(AsObject* sup) {
  AsObject* selfObj = ObjectOf(sup->boundThis);
  AsObject* home = selfObj ? selfObj->proto : nullptr;
  for (int i = 0; home && i < sup->superDepth; ++i) home = home->proto;
  sup->target = home ? AsValue::Object(home) : AsValue{};
  sup->proto = home ? home->proto : nullptr;
}

AsValue Avm1::SuperConstructor(AsObject* sup) {
  RefreshSuper(sup);
  AsValue ctor;
  if (sup->target.type == AsValue::Type::kObject) FindProp(sup->target.obj, Key("__constructor__"), ctor);
  return ctor;
}

AsObject* Avm1::ObjectOf(const AsValue& v) {
  if (v.type == AsValue::Type::kObject) return v.obj;
  if (v.type != AsValue::Type::kClip) return nullptr;
  if (AsObject* field = avm1_builtins::TextFieldObject(*this, ClipOf(v), true)) return field;
  TimelineState* tl = stage_.TimelineOf(ClipOf(v));
  return tl ? ClipVars(tl) : nullptr;
}

AsValue Avm1::Construct(const AsValue& ctor, AsArgs args) {
  if (ctor.type != AsValue::Type::kObject || !ctor.obj->fn) return {};
  AsValue protoV = Get(ctor, "prototype");
  AsObject* o = NewObject(protoV.type == AsValue::Type::kObject ? protoV.obj : objectProto_);
  const AsValue self = AsValue::Object(o);
  // SWF 7 movies find a class's `constructor` through the prototype only;
  // built-in constructors still tell `new` from a call by it.
  if (version_ < 7 || ctor.obj->fn->native) SetProp(o, "constructor", ctor, true);
  SetProp(o, "__constructor__", ctor, true);
  const AsObject* outer = std::exchange(constructing_, ctor.obj->fn->native ? o : nullptr);
  constructionRefused_ = false;
  nextCallConstructs_ = !ctor.obj->fn->native;
  const AsValue r = CallFunction(ctor.obj, self, args);
  constructing_ = outer;
  if (std::exchange(constructionRefused_, false)) return {};
  // Built-in constructors hand back the object they made.
  if (ctor.obj->fn->native && (r.type == AsValue::Type::kObject || r.type == AsValue::Type::kClip)) return r;
  if (r.type == AsValue::Type::kObject && r.obj != o && !ctor.obj->fn->native) return r;
  return self;
}

void Avm1::Run(ClipHandle clip, std::span<const std::uint8_t> code) {
  if (aborted_ || disabled_) return;
  Context ctx;
  ctx.target = ctx.base = clip;
  ctx.thisv = ClipValue(clip);
  ctx.scope.push_back(ctx.thisv);
  ctx.regs.assign(4, AsValue{});
  if (tracing_) TraceLine("run actions on " + Describe(ctx.thisv));
  throwing_ = false;
  // A loaded movie's actions keep the rules of its own SWF version.
  const int outer = version_;
  if (const int v = stage_.ClipSwfVersion(clip); v > 0) version_ = v;
  Execute(code, ctx);
  version_ = outer;
  if (!running_) halted_ = false;
  ReportUncaught(*this, throwing_, thrown_);
}

bool Avm1::HasHandler(ClipHandle clip, const std::string& name) {
  const AsValue v = PeekClipMember(clip, name);
  return v.type == AsValue::Type::kObject && v.obj->fn;
}

AsValue Avm1::PeekClipMember(ClipHandle clip, const std::string& name) {
  TimelineState* tl = stage_.TimelineOf(clip);
  AsObject* o = tl ? (tl->vars ? tl->vars : clipProto_) : nullptr;
  const std::string key = Key(name);
  for (int guard = 0; o && guard < 64; o = o->proto, ++guard) {
    auto it = o->props.find(key);
    if (it == o->props.end()) continue;
    if (it->second.getter || (it->second.versions && !PropertyVisible(it->second.versions, version_))) return {};
    return it->second.value;
  }
  return {};
}

void Avm1::CallHandler(ClipHandle clip, const std::string& name) {
  if (aborted_ || disabled_) return;
  TimelineState* tl = stage_.TimelineOf(clip);
  if (!tl || !tl->vars) return;
  AsValue fn;
  if (!FindProp(tl->vars, Key(name), fn) || fn.type != AsValue::Type::kObject || !fn.obj->fn) return;
  throwing_ = false;
  CallFunction(fn.obj, ClipValue(clip), {});
  ReportUncaught(*this, throwing_, thrown_);
}

namespace {
// The register a movie of `version` uses, and its key for an export name.
std::size_t ClassRegister(int version) { return version >= 7 ? 1 : 0; }
std::string ClassKey(const std::string& name, int version) { return version >= 7 ? name : Lower(name); }
}  // namespace

void Avm1::RegisterClass(const std::string& exportName, const AsValue& ctor) {
  // The running code's version picks the register; the symbol need not exist
  // yet (a movie loaded later may export it).
  auto& reg = classes_[ClassRegister(version_)];
  const std::string key = ClassKey(exportName, version_);
  if (ctor.type == AsValue::Type::kObject && ctor.obj->fn) reg[key] = ctor;
  else reg.erase(key);
}

void Avm1::ConstructClip(ClipHandle clip, const AsValue& initObject) {
  if (aborted_ || disabled_) return;
  Instance* inst = stage_.Find(clip);
  if (!inst || !inst->sprite || inst->constructed) return;
  inst->constructed = true;
  if (tracing_) TraceLine("construct " + Describe(ClipValue(clip)));
  // onClipEvent(construct) runs after the class's prototype is in place,
  // before the constructor (the stage ran onClipEvent(initialize) before).
  std::vector<std::span<const std::uint8_t>> init;
  for (const ClipEventHandler& h : inst->events) {
    if (h.events & kEventConstruct) init.push_back(h.code);
  }
  // The class registered for one of the symbol's export names, in the
  // register of the movie the symbol comes from.
  AsValue ctor;
  const MovieLibrary* lib = inst->sprite->lib ? inst->sprite->lib : &stage_.Library();
  const auto& reg = classes_[ClassRegister(lib ? lib->movie.version : version_)];
  if (lib && !reg.empty()) {
    for (const auto& [name, id] : lib->names) {
      if (id != inst->sprite->spriteId) continue;
      auto it = reg.find(ClassKey(name, lib->movie.version));
      if (it != reg.end()) {
        ctor = it->second;
        break;
      }
    }
  }
  if (ctor.type == AsValue::Type::kObject) {
    // The prototype comes before the construct events: they may call methods.
    const AsValue proto = Get(ctor, "prototype");
    AsObject* vars = ClipVars(inst->sprite.get());
    if (proto.type == AsValue::Type::kObject) {
      bool cycle = false;
      int guard = 0;
      for (AsObject* p = proto.obj; p && !cycle && guard < kMaxProtoChain; p = p->proto, ++guard) cycle = p == vars;
      if (!cycle) vars->proto = proto.obj;
    }
    SetProp(vars, "__constructor__", ctor, true);
    if (version_ < 7) SetProp(vars, "constructor", ctor, true);
  }
  if (initObject.type == AsValue::Type::kObject) {
    std::vector<std::pair<std::uint64_t, AsProperty*>> own;
    for (auto& [k, p] : initObject.obj->props) own.emplace_back(p.order, &p);
    std::sort(own.begin(), own.end());
    std::vector<std::pair<std::string, AsValue>> copy;
    for (auto& [order, p] : own) copy.emplace_back(p->name, p->value);
    for (auto& [name, v] : copy) SetClipMember(clip, name, v);
  }
  for (auto code : init) Run(clip, code);
  // Flash's MovieClip constructor calls onConstruct (the prototype's too);
  // an error it throws is reported there and goes no further.
  if (stage_.TimelineOf(clip) && HasHandler(clip, "onConstruct")) {
    const bool outer = std::exchange(throwing_, false);
    const AsValue outerThrown = thrown_;
    ClipVars(stage_.TimelineOf(clip));  // a new empty clip has none yet
    CallHandler(clip, "onConstruct");
    ReportUncaught(*this, throwing_, thrown_);
    throwing_ = outer;
    thrown_ = outerThrown;
  }
  if (ctor.type != AsValue::Type::kObject || !stage_.TimelineOf(clip)) return;
  throwing_ = false;
  CallFunction(ctor.obj, ClipValue(clip), {});
  ReportUncaught(*this, throwing_, thrown_);
}

std::int64_t Avm1::ScriptClock() const {
  constexpr std::size_t kActionsPerMs = 10000;
  return stage_.ScriptTime() + static_cast<std::int64_t>(steps_ / kActionsPerMs);
}

void Avm1::ClipUnloading(ClipHandle clip) {
  Instance* inst = stage_.Find(clip);
  if (!inst || !inst->sprite || unloads_.size() >= 10000) return;
  Unload u;
  u.self = ClipValue(clip);
  for (const ClipEventHandler& h : inst->events) {
    if (h.events & kEventUnload) u.code.push_back(h.code);
  }
  if (inst->sprite->vars) FindProp(inst->sprite->vars, Key("onUnload"), u.fn, nullptr, clip);
  unloads_.push_back(std::move(u));
}

void Avm1::RunUnloads() {
  // One clip's handlers per queued entry: each runs where its removal
  // queued it among the frame's other actions.
  if (unloads_.empty()) return;
  std::vector<Unload> list;
  list.push_back(std::move(unloads_.front()));
  unloads_.erase(unloads_.begin());
  for (Unload& u : list) {
    // A clip gone already has its actions address other timelines by path;
    // one whose removal waits for the next frame is their target still.
    const ClipHandle still = stage_.TimelineOf(ClipOf(u.self)) ? ClipOf(u.self) : kNoClip;
    for (auto code : u.code) {
      if (aborted_ || disabled_) break;
      Context ctx;
      ctx.target = ctx.base = still;
      ctx.thisv = u.self;
      ctx.scope.push_back(still == kNoClip ? AsValue::Clip(kNoClip, nullptr) : u.self);
      ctx.regs.assign(4, AsValue{});
      throwing_ = false;
      Execute(code, ctx);
      halted_ = false;
    }
    throwing_ = false;
    if (u.fn.type == AsValue::Type::kObject && u.fn.obj->fn) Call(u.fn, u.self, {});
    throwing_ = false;
  }
}

void Avm1::BeginFrame(std::int64_t ms) {
  // Once a frame has run out, the movie's scripts stay on the small budget:
  // a frame that loops for ever between quiet frames would otherwise cost
  // the whole budget again each time it comes round.
  stepBudget_ = budgetSpent_ ? std::min(kMaxActionsAfterRunningOut, stepCap_) : stepCap_;
  steps_ = 0;
  // What one frame's blocks left on the stack is gone by the next frame.
  leftStack_.clear();
  aborted_ = false;
  halted_ = false;
  frameBytes_ = 0;
  now_ = ms;
  // Timers due by now, each at most once a frame; one that an earlier one
  // cleared does not run.
  const auto due = intervals_;
  for (const auto& iv : due) {
    if (iv.nextMs > static_cast<double>(ms)) continue;
    auto live = std::find_if(intervals_.begin(), intervals_.end(), [&](const Interval& i) { return i.id == iv.id; });
    if (live == intervals_.end()) continue;
    live->nextMs = std::max(live->nextMs + live->periodMs, static_cast<double>(ms));
    if (iv.once) intervals_.erase(live);
    AsValue fn = iv.fn;
    if (!iv.method.empty()) fn = Get(iv.self, iv.method);
    std::vector<AsValue> args = iv.args;
    Call(fn, iv.self, args);
    ReportUncaught(*this, throwing_, thrown_);
  }
}

void Avm1::EndFrame() {
  // A frame that ran out of steps delivers at the end of the next one.
  if (disabled_ || aborted_) return;
  const auto tasks = frameEnd_;
  for (const AsValue& fn : tasks) {
    Call(fn, AsValue{}, {});
    ReportUncaught(*this, throwing_, thrown_);
  }
}

void Avm1::AddInterval(const AsValue& fn, const AsValue& self, const std::string& method, double ms,
                       std::vector<AsValue> args, int id, bool once) {
  if (intervals_.size() >= 1000) return;
  if (!(ms >= 1)) ms = 1;
  intervals_.push_back({id, fn, self, method, std::move(args), ms, static_cast<double>(now_) + ms, once});
}

void Avm1::ClearInterval(int id) {
  intervals_.erase(std::remove_if(intervals_.begin(), intervals_.end(), [id](const Interval& i) { return i.id == id; }),
                   intervals_.end());
}

// ---- garbage collection ------------------------------------------------------

void Avm1::MarkValue(const AsValue& v) {
  if (v.type == AsValue::Type::kObject) Mark(v.obj);
}

void Avm1::Mark(AsObject* root) {
  std::vector<AsObject*> work{root};
  while (!work.empty()) {
    AsObject* o = work.back();
    work.pop_back();
    if (!o || o->marked) continue;
    o->marked = true;
    work.push_back(o->proto);
    auto push = [&](const AsValue& v) {
      if (v.type == AsValue::Type::kObject && !v.obj->marked) work.push_back(v.obj);
    };
    for (auto& [k, p] : o->props) {
      push(p.value);
      if (p.getter) work.push_back(p.getter);
      if (p.setter) work.push_back(p.setter);
    }
    if (o->native) o->native->Mark(work);
    for (AsObject* i : o->interfaces) work.push_back(i);
    push(o->primitive);
    push(o->boundThis);
    push(o->target);
    if (o->fn) {
      for (auto& s : o->fn->scope) push(s);
    }
  }
}

void Avm1::MarkTimeline(TimelineState& tl, int nesting) {
  if (nesting > kMaxSpriteNesting + 2) return;
  if (tl.vars) Mark(tl.vars);
  for (auto& [depth, inst] : tl.list) {
    if (inst.sprite) MarkTimeline(*inst.sprite, nesting + 1);
  }
}

void Avm1::Collect() {
  if (heap_.size() < 2 * lastLive_ && sinceCollect_ < frameBytesCap_) return;
  sinceCollect_ = 0;
  for (auto& o : heap_) o->marked = false;
  for (AsObject* r : roots_) Mark(r);
  MarkTimeline(stage_.Root(), 0);
  for (const auto& reg : classes_) {
    for (const auto& [name, ctor] : reg) MarkValue(ctor);
  }
  for (auto& u : unloads_) MarkValue(u.fn);
  for (auto& fn : frameEnd_) MarkValue(fn);
  for (auto& v : leftStack_) MarkValue(v);
  for (auto& iv : intervals_) {
    MarkValue(iv.fn);
    MarkValue(iv.self);
    for (auto& a : iv.args) MarkValue(a);
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < heap_.size(); ++i) {
    if (heap_[i]->marked) heap_[kept++] = std::move(heap_[i]);
  }
  heap_.resize(kept);
  lastLive_ = std::max<std::size_t>(kept, 1024);
  // What the survivors hold, roughly; strings shared between values count
  // once per value.
  std::size_t live = 0;
  auto bytes = [](const AsValue& v) { return v.str ? v.str->size() + 32 : 0; };
  for (const auto& o : heap_) {
    live += sizeof(AsObject);
    for (const auto& [k, p] : o->props) live += sizeof(AsProperty) + 2 * k.size() + bytes(p.value);
  }
  if (live > liveBytesCap_ && !disabled_) {
    Skip("scripts stopped: too much memory");
    stage_.ScriptStopped("ActionScript 1/2: the memory cap of the movie");
    disabled_ = true;
    intervals_.clear();
  }
}

}  // namespace quarvel::player
