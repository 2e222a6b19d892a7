#include "platform/player/avm1.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "platform/player/flash_player.h"
#include "platform/player/stage.h"
#include "platform/swf/reader.h"

namespace quarvel::player {

namespace {

constexpr int kMaxCallDepth = 64;
constexpr std::size_t kMaxObjects = std::size_t{1} << 20;
constexpr std::size_t kMaxStringBytes = std::size_t{1} << 20;
constexpr std::size_t kBytesPerFrame = std::size_t{64} << 20;
constexpr std::size_t kMaxLiveBytes = std::size_t{512} << 20;
constexpr std::size_t kMaxArrayLength = std::size_t{1} << 20;
constexpr std::size_t kMaxStack = 1u << 16;
constexpr int kMaxScopes = 256;

const std::string kEmpty;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string NumberText(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  if (d == 0) return "0";
  if (std::floor(d) == d && std::fabs(d) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(d));
    return buf;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return buf;
}

double ParseNumber(const std::string& s, int version) {
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  std::size_t e = s.size();
  while (e > i && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  const std::string t = s.substr(i, e - i);
  if (t.empty()) return version >= 5 ? std::nan("") : 0.0;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    double v = 0;
    for (std::size_t k = 2; k < t.size(); ++k) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(t[k])));
      if (!std::isxdigit(static_cast<unsigned char>(c))) return version >= 5 ? std::nan("") : 0.0;
      v = v * 16 + (c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return v;
  }
  if (t == "Infinity" || t == "+Infinity") return HUGE_VAL;
  if (t == "-Infinity") return -HUGE_VAL;
  for (char c : t) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-')) {
      return version >= 5 ? std::nan("") : 0.0;
    }
  }
  char* end = nullptr;
  const double d = std::strtod(t.c_str(), &end);
  if (!end || *end != 0) return version >= 5 ? std::nan("") : 0.0;
  return d;
}

bool IsIndex(const std::string& s, std::size_t& out) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  if (s.size() > 1 && s[0] == '0') return false;
  out = static_cast<std::size_t>(std::stoul(s));
  return true;
}

// Code points of a UTF-8 string as byte offsets (plus the end).
std::vector<std::size_t> CharOffsets(const std::string& s) {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) out.push_back(i);
  }
  out.push_back(s.size());
  return out;
}

std::string Utf8(std::uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | ((c >> 18) & 7));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

std::uint32_t FirstCodePoint(const std::string& s) {
  if (s.empty()) return 0;
  const auto b = static_cast<unsigned char>(s[0]);
  int n = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
  std::uint32_t c = n == 0 ? b : n == 1 ? (b & 0x1F) : n == 2 ? (b & 0x0F) : (b & 0x07);
  for (int i = 1; i <= n && i < static_cast<int>(s.size()); ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  return c;
}

// Movie clip properties by GetProperty index.
const char* const kPropertyNames[] = {"_x", "_y", "_xscale", "_yscale", "_currentframe", "_totalframes", "_alpha",
                                      "_visible", "_width", "_height", "_rotation", "_target", "_framesloaded",
                                      "_name", "_droptarget", "_url", "_highquality", "_focusrect", "_soundbuftime",
                                      "_quality", "_xmouse", "_ymouse"};

}  // namespace

const std::string& AsValue::Text() const { return str ? *str : kEmpty; }

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

// One running block of actions: a frame's code or a function's body.
struct Avm1::Context {
  ClipHandle target = kRootClip;  // the timeline that timeline actions control; kNoClip: none
  ClipHandle base = kRootClip;    // where SetTarget("") returns to
  AsValue thisv;
  std::vector<AsValue> scope;  // outermost first; objects and clips
  AsObject* activation = nullptr;
  std::vector<AsValue> regs;
  std::shared_ptr<const std::vector<std::string>> pool;
  bool inFunction = false;
};

Avm1::Avm1(Stage& stage, int version) : stage_(stage), version_(version) { InstallBuiltins(); }
Avm1::~Avm1() = default;

std::string Avm1::Key(std::string_view name) const { return version_ >= 7 ? std::string(name) : Lower(name); }

void Avm1::Skip(const std::string& what) { stage_.Skipped().insert(what); }

bool Avm1::Charge(std::size_t bytes) {
  frameBytes_ += bytes;
  sinceCollect_ += bytes;
  if (frameBytes_ <= kBytesPerFrame) return true;
  Skip("too much memory made by scripts in one frame");
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
  a->elems = std::move(elems);
  return a;
}

void Avm1::SetProp(AsObject* o, const std::string& name, const AsValue& v, bool hidden) {
  const std::string k = Key(name);
  auto it = o->props.find(k);
  if (it != o->props.end()) {
    it->second.value = v;
    return;
  }
  if (o->props.size() >= 100000) {
    Skip("too many properties");
    return;
  }
  Charge(sizeof(AsProperty) + 2 * k.size() + 48);
  o->props.emplace(k, AsProperty{v, name, order_++, hidden});
}

bool Avm1::FindProp(AsObject* o, const std::string& key, AsValue& out) {
  for (int guard = 0; o && guard < 64; o = o->proto, ++guard) {
    if (o->isArray) {
      std::size_t idx = 0;
      if (key == "length") {
        out = AsValue::Number(static_cast<double>(o->elems.size()));
        return true;
      }
      if (IsIndex(key, idx)) {
        if (idx < o->elems.size()) {
          out = o->elems[idx];
          return true;
        }
        continue;
      }
    }
    auto it = o->props.find(key);
    if (it != o->props.end()) {
      out = it->second.value;
      return true;
    }
    if (key == "__proto__") {
      out = AsValue::Object(o->proto);
      return true;
    }
  }
  return false;
}

AsValue Avm1::GetOwn(AsObject* o, const std::string& key) {
  AsValue v;
  FindProp(o, key, v);
  return v;
}

AsObject* Avm1::ClipVars(TimelineState* tl) {
  if (!tl->vars) {
    tl->vars = NewObject(clipProto_);
    tl->vars->className = "MovieClip";
  }
  return tl->vars;
}

std::string Avm1::ClipPathText(const std::string& path, bool slash) const {
  const std::string& plain = path;
  if (slash) return plain.empty() ? "/" : plain;
  std::string out = "_level0";
  for (char c : plain) out += c == '/' ? '.' : c;
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

void Avm1::Assign(const std::string& expr, const AsValue& v, ClipHandle clip) {
  Context ctx;
  ctx.target = ctx.base = clip;
  ctx.thisv = ClipValue(clip);
  ctx.scope.push_back(ctx.thisv);
  SetVar(ctx, expr, v);
}

// ---- conversions -----------------------------------------------------------

AsValue Avm1::ToPrimitive(const AsValue& v) {
  if (v.type != AsValue::Type::kObject) return v;
  AsObject* o = v.obj;
  if (!o->primitive.IsUndefined()) return o->primitive;
  AsValue fn;
  if (FindProp(o, Key("valueOf"), fn) && fn.type == AsValue::Type::kObject && fn.obj->fn && !fn.obj->fn->native) {
    AsValue r = CallFunction(fn.obj, v, {});
    if (r.type != AsValue::Type::kObject) return r;
  }
  return AsValue::String(ToString(v));
}

double Avm1::ToNumber(const AsValue& v) {
  switch (v.type) {
    case AsValue::Type::kUndefined:
    case AsValue::Type::kNull:
      return version_ >= 7 ? std::nan("") : 0.0;
    case AsValue::Type::kBoolean:
    case AsValue::Type::kNumber:
      return v.num;
    case AsValue::Type::kString:
      return ParseNumber(v.Text(), version_);
    case AsValue::Type::kClip:
      return std::nan("");
    case AsValue::Type::kObject: {
      const AsValue p = ToPrimitive(v);
      if (p.type == AsValue::Type::kObject) return std::nan("");
      if (p.type == AsValue::Type::kString) return ParseNumber(p.Text(), version_);
      return ToNumber(p);
    }
  }
  return std::nan("");
}

std::string Avm1::ToString(const AsValue& v) {
  switch (v.type) {
    case AsValue::Type::kUndefined: return version_ >= 7 ? "undefined" : "";
    case AsValue::Type::kNull: return "null";
    case AsValue::Type::kBoolean: return v.num != 0 ? "true" : "false";
    case AsValue::Type::kNumber: return NumberText(v.num);
    case AsValue::Type::kString: return v.Text();
    case AsValue::Type::kClip: {
      // A reference that finds no clip prints as nothing.
      const ClipHandle h = ClipOf(v);
      return h == kNoClip ? std::string() : ClipPathText(stage_.PathOf(h), false);
    }
    case AsValue::Type::kObject: {
      AsObject* o = v.obj;
      if (!o->primitive.IsUndefined()) return ToString(o->primitive);
      if (o->isArray) return Join(o, ",");
      if (o->fn) return "[type Function]";
      AsValue fn;
      if (depth_ < kMaxCallDepth && FindProp(o, Key("toString"), fn) && fn.type == AsValue::Type::kObject &&
          fn.obj->fn && !fn.obj->fn->native) {
        const AsValue r = CallFunction(fn.obj, v, {});
        if (r.type != AsValue::Type::kObject) return ToString(r);
      }
      return "[object Object]";
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
  for (std::size_t i = 0; i < arr->elems.size() && depth_ < kMaxCallDepth; ++i) {
    if (i) out += sep;
    const AsValue& e = arr->elems[i];
    if (!e.IsNullish()) out += ToString(e);
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
    case AsValue::Type::kClip: return "movieclip";
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
    case AsValue::Type::kNumber: return a.num == b.num;
    case AsValue::Type::kString: return a.Text() == b.Text();
    case AsValue::Type::kClip: {
      const ClipHandle x = ClipOf(a), y = ClipOf(b);
      return x != kNoClip && y != kNoClip ? x == y : Lower(a.Text()) == Lower(b.Text());
    }
    case AsValue::Type::kObject: return a.obj == b.obj;
  }
  return false;
}

bool Avm1::Equals2(const AsValue& a, const AsValue& b) {
  using T = AsValue::Type;
  if (a.type == b.type) return StrictEquals(a, b);
  if (a.IsNullish() && b.IsNullish()) return true;
  if (a.IsNullish() || b.IsNullish()) return false;
  if (a.type == T::kBoolean) return Equals2(AsValue::Number(a.num), b);
  if (b.type == T::kBoolean) return Equals2(a, AsValue::Number(b.num));
  if (a.type == T::kNumber && b.type == T::kString) return a.num == ToNumber(b);
  if (a.type == T::kString && b.type == T::kNumber) return ToNumber(a) == b.num;
  if (a.type == T::kClip || b.type == T::kClip) return ToString(a) == ToString(b);
  if (a.type == T::kObject && (b.type == T::kNumber || b.type == T::kString)) {
    const AsValue p = ToPrimitive(a);
    return p.type != T::kObject && Equals2(p, b);
  }
  if (b.type == T::kObject && (a.type == T::kNumber || a.type == T::kString)) {
    const AsValue p = ToPrimitive(b);
    return p.type != T::kObject && Equals2(a, p);
  }
  return false;
}

AsValue Avm1::Less(const AsValue& a0, const AsValue& b0) {
  const AsValue a = ToPrimitive(a0), b = ToPrimitive(b0);
  if (a.type == AsValue::Type::kString && b.type == AsValue::Type::kString) return AsValue::Bool(a.Text() < b.Text());
  const double x = ToNumber(a), y = ToNumber(b);
  if (std::isnan(x) || std::isnan(y)) return AsValue::Undefined();
  return AsValue::Bool(x < y);
}

bool Avm1::InstanceOf(const AsValue& v, const AsValue& ctor) {
  if (ctor.type != AsValue::Type::kObject) return false;
  const AsValue proto = Get(ctor, "prototype");
  if (proto.type != AsValue::Type::kObject) return false;
  AsObject* o = nullptr;
  if (v.type == AsValue::Type::kObject) o = v.obj->proto;
  else if (v.type == AsValue::Type::kClip) o = clipProto_;
  for (int guard = 0; o && guard < 64; o = o->proto, ++guard) {
    if (o == proto.obj) return true;
  }
  return false;
}

// ---- members ---------------------------------------------------------------

AsValue Avm1::Get(const AsValue& v, const std::string& name) {
  const std::string key = Key(name);
  switch (v.type) {
    case AsValue::Type::kObject: {
      AsValue out;
      FindProp(v.obj, key, out);
      return out;
    }
    case AsValue::Type::kClip:
      return GetClipMember(ClipOf(v), name);
    case AsValue::Type::kString: {
      if (name == "length") {
        return AsValue::Number(
            static_cast<double>(version_ >= 6 ? CharOffsets(v.Text()).size() - 1 : v.Text().size()));
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
  if (o->isArray) {
    std::size_t idx = 0;
    if (name == "length") {
      const double n = ToNumber(value);
      if (n >= 0 && n <= static_cast<double>(kMaxArrayLength) && Charge(static_cast<std::size_t>(n) * sizeof(AsValue))) {
        o->elems.resize(static_cast<std::size_t>(n));
      }
      return;
    }
    if (IsIndex(name, idx)) {
      if (idx >= kMaxArrayLength) {
        Skip("array too long");
        return;
      }
      if (idx >= o->elems.size()) {
        if (!Charge((idx + 1 - o->elems.size()) * sizeof(AsValue))) return;
        o->elems.resize(idx + 1);
      }
      o->elems[idx] = value;
      return;
    }
  }
  if (Key(name) == "__proto__") {
    if (value.type == AsValue::Type::kObject) {
      // No cycles in the prototype chain.
      for (AsObject* p = value.obj; p; p = p->proto) {
        if (p == o) return;
      }
      o->proto = value.obj;
    }
    return;
  }
  SetProp(o, name, value);
}

AsValue Avm1::GetClipMember(ClipHandle clip, const std::string& name) {
  TimelineState* tl = stage_.TimelineOf(clip);
  if (!tl) return {};
  const std::string low = Lower(name);
  if (!low.empty() && low[0] == '_') {
    for (int i = 0; i < static_cast<int>(std::size(kPropertyNames)); ++i) {
      if (low == kPropertyNames[i]) return stage_.GetClipProperty(clip, i, *this);
    }
    if (low == "_parent") {
      if (clip == kRootClip) return {};
      return ClipValue(stage_.ParentOf(clip));
    }
    if (low == "_root" || low == "_level0") return ClipValue(kRootClip);
    if (low == "_global") return AsValue::Object(global_);
  }
  AsValue out;
  if (tl->vars && FindProp(tl->vars, Key(name), out)) return out;
  // A child clip by instance name.
  for (auto& [depth, inst] : tl->list) {
    if (Lower(inst.name) == low && (inst.sprite || inst.def)) {
      if (inst.sprite && inst.def && inst.def->kind == Character::Kind::kSprite) return ClipValue(inst.serial);
    }
  }
  FindProp(clipProto_, Key(name), out);
  return out;
}

void Avm1::SetClipMember(ClipHandle clip, const std::string& name, const AsValue& v) {
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
  }
  SetProp(ClipVars(tl), name, v);
}

// ---- variables ---------------------------------------------------------------

bool Avm1::LookupScope(Context& ctx, const std::string& name, AsValue& out, AsValue* holder) {
  const std::string key = Key(name);
  for (auto it = ctx.scope.rbegin(); it != ctx.scope.rend(); ++it) {
    if (it->type == AsValue::Type::kObject) {
      if (FindProp(it->obj, key, out)) {
        if (holder) *holder = *it;
        return true;
      }
    } else if (it->type == AsValue::Type::kClip) {
      const ClipHandle clip = ClipOf(*it);
      TimelineState* tl = stage_.TimelineOf(clip);
      if (!tl) continue;
      AsValue v = GetClipMember(clip, name);
      if (!v.IsUndefined() || (tl->vars && tl->vars->props.count(key))) {
        out = v;
        if (holder) *holder = *it;
        return true;
      }
    }
  }
  if (FindProp(global_, key, out)) {
    if (holder) *holder = AsValue::Object(global_);
    return true;
  }
  return false;
}

AsValue Avm1::ResolvePath(Context& ctx, const std::string& path) {
  const ClipHandle h = stage_.Resolve(ctx.target, path);
  return h == kNoClip ? AsValue{} : ClipValue(h);
}

AsValue Avm1::GetVar(Context& ctx, const std::string& name) {
  const auto colon = name.rfind(':');
  if (colon != std::string::npos) {
    const ClipHandle clip = colon == 0 ? ctx.target : ClipOf(ResolvePath(ctx, name.substr(0, colon)));
    return GetClipMember(clip, name.substr(colon + 1));
  }
  if (name.find('/') != std::string::npos) return ResolvePath(ctx, name);
  const auto dot = name.find('.');
  if (dot != std::string::npos && dot > 0 && name != "..") {
    AsValue v = GetVar(ctx, name.substr(0, dot));
    std::size_t i = dot + 1;
    while (i <= name.size() && !v.IsNullish()) {
      std::size_t j = name.find('.', i);
      if (j == std::string::npos) j = name.size();
      v = Get(v, name.substr(i, j - i));
      i = j + 1;
    }
    return v;
  }
  const std::string low = Lower(name);
  if (low == "this") return ctx.thisv;
  if (low == "_root" || low == "_level0") return ClipValue(kRootClip);
  if (low == "_global") return AsValue::Object(global_);
  AsValue out;
  if (LookupScope(ctx, name, out, nullptr)) return out;
  if (low == "_parent") return GetClipMember(ctx.target, name);
  return {};
}

void Avm1::SetVar(Context& ctx, const std::string& name, const AsValue& v) {
  const auto colon = name.rfind(':');
  if (colon != std::string::npos) {
    const ClipHandle clip = colon == 0 ? ctx.target : ClipOf(ResolvePath(ctx, name.substr(0, colon)));
    SetClipMember(clip, name.substr(colon + 1), v);
    return;
  }
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
    const AsValue obj = GetVar(ctx, name.substr(0, dot));
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
      // The innermost timeline takes new variables.
      if (const ClipHandle clip = ClipOf(*it); stage_.TimelineOf(clip)) {
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
  if (aborted_) return {};
  AsFunction& f = *fnObj->fn;
  if (depth_ >= kMaxCallDepth) {
    Skip("script recursion too deep");
    return {};
  }
  ++depth_;
  if (f.native) {
    AsValue r = f.native(*this, self, args);
    --depth_;
    return r;
  }
  Context ctx;
  ctx.scope = f.scope;
  ctx.thisv = self;
  ctx.pool = f.pool;
  ctx.inFunction = true;
  // The target is the timeline the function was defined on.
  for (auto it = f.scope.rbegin(); it != f.scope.rend(); ++it) {
    if (it->type == AsValue::Type::kClip) {
      ctx.target = ctx.base = ClipOf(*it);
      break;
    }
  }
  AsObject* act = NewObject(nullptr);
  act->proto = nullptr;
  ctx.activation = act;
  ctx.scope.push_back(AsValue::Object(act));
  ctx.regs.assign(f.v2 ? std::max<std::size_t>(f.registers, 1) : 4, AsValue{});
  AsObject* arguments = nullptr;
  if (!f.v2 || !(f.flags & 0x08)) {
    arguments = NewArray(std::vector<AsValue>(args.begin(), args.end()));
    SetProp(arguments, "callee", AsValue::Object(fnObj), true);
  }
  if (f.v2) {
    std::size_t r = 1;
    auto preload = [&](std::uint16_t bit, const AsValue& v) {
      if ((f.flags & bit) && r < ctx.regs.size()) ctx.regs[r++] = v;
    };
    preload(0x01, self);
    preload(0x04, AsValue::Object(arguments));
    const bool wantSuper = (f.flags & 0x10) || !(f.flags & 0x20);
    const AsValue sup = wantSuper ? MakeSuper(fnObj, self) : AsValue{};
    preload(0x10, sup);
    if (!(f.flags & 0x20)) SetProp(act, "super", sup, true);
    preload(0x40, ClipValue(kRootClip));
    if (f.flags & 0x80) preload(0x80, GetClipMember(ctx.target, "_parent"));
    preload(0x100, AsValue::Object(global_));
    if (!(f.flags & 0x02)) SetProp(act, "this", self, true);
    if (arguments && !(f.flags & 0x08)) SetProp(act, "arguments", AsValue::Object(arguments), true);
  } else {
    SetProp(act, "this", self, true);
    SetProp(act, "arguments", AsValue::Object(arguments), true);
    SetProp(act, "super", MakeSuper(fnObj, self), true);
  }
  for (std::size_t i = 0; i < f.params.size(); ++i) {
    const AsValue v = i < args.size() ? args[i] : AsValue{};
    const auto reg = f.params[i].first;
    if (f.v2 && reg != 0) {
      if (reg < ctx.regs.size()) ctx.regs[reg] = v;
    } else {
      SetProp(act, f.params[i].second, v);
    }
  }
  AsValue r = Execute(f.code, ctx);
  --depth_;
  return r;
}

// `super` in a function: the prototype above the one the function belongs
// to (its class's prototype for a constructor, the prototype holding it for
// a method), acting on the same `this`.
AsValue Avm1::MakeSuper(AsObject* fnObj, const AsValue& self) {
  if (self.type != AsValue::Type::kObject) return {};
  AsObject* home = nullptr;
  const AsValue own = GetOwn(fnObj, Key("prototype"));
  int guard = 0;
  for (AsObject* o = self.obj->proto; o && guard < 64 && !home; o = o->proto, ++guard) {
    if (own.type == AsValue::Type::kObject && own.obj == o) home = o;
  }
  guard = 0;
  for (AsObject* o = self.obj->proto; o && guard < 64 && !home; o = o->proto, ++guard) {
    for (auto& [k, p] : o->props) {
      if (p.value.type == AsValue::Type::kObject && p.value.obj == fnObj) {
        home = o;
        break;
      }
    }
  }
  if (!home || !home->proto) return {};
  AsObject* sup = NewObject(home->proto);
  sup->className = "super";
  sup->boundThis = self;
  AsValue ctor;
  if (!FindProp(home, Key("__constructor__"), ctor)) FindProp(home->proto, Key("constructor"), ctor);
  SetProp(sup, "__constructor__", ctor, true);
  return AsValue::Object(sup);
}

AsValue Avm1::Construct(const AsValue& ctor, AsArgs args) {
  if (ctor.type != AsValue::Type::kObject || !ctor.obj->fn) return {};
  AsValue protoV = Get(ctor, "prototype");
  AsObject* o = NewObject(protoV.type == AsValue::Type::kObject ? protoV.obj : objectProto_);
  const AsValue self = AsValue::Object(o);
  SetProp(o, "constructor", ctor, true);
  SetProp(o, "__constructor__", ctor, true);
  const AsValue r = CallFunction(ctor.obj, self, args);
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
  throwing_ = false;
  Execute(code, ctx);
  throwing_ = false;
}

bool Avm1::HasHandler(ClipHandle clip, const std::string& name) {
  TimelineState* tl = stage_.TimelineOf(clip);
  if (!tl || !tl->vars) return false;
  AsValue v;
  return FindProp(tl->vars, Key(name), v) && v.type == AsValue::Type::kObject && v.obj->fn;
}

void Avm1::CallHandler(ClipHandle clip, const std::string& name) {
  if (aborted_ || disabled_) return;
  TimelineState* tl = stage_.TimelineOf(clip);
  if (!tl || !tl->vars) return;
  AsValue fn;
  if (!FindProp(tl->vars, Key(name), fn) || fn.type != AsValue::Type::kObject || !fn.obj->fn) return;
  throwing_ = false;
  CallFunction(fn.obj, ClipValue(clip), {});
  throwing_ = false;
}

void Avm1::RegisterClass(const std::string& exportName, const AsValue& ctor) {
  const std::uint16_t id = stage_.Library().FindName(exportName);
  if (id == 0) return;
  if (ctor.type == AsValue::Type::kObject && ctor.obj->fn) classes_[id] = ctor;
  else classes_.erase(id);
}

void Avm1::ConstructClip(ClipHandle clip) {
  if (aborted_ || disabled_) return;
  TimelineState* tl = stage_.TimelineOf(clip);
  if (!tl) return;
  auto it = classes_.find(static_cast<std::uint16_t>(tl->spriteId));
  if (it == classes_.end()) return;
  const AsValue ctor = it->second;
  const AsValue proto = Get(ctor, "prototype");
  AsObject* vars = ClipVars(tl);
  if (proto.type == AsValue::Type::kObject) {
    for (AsObject* p = proto.obj; p; p = p->proto) {
      if (p == vars) return;  // no cycles
    }
    vars->proto = proto.obj;
  }
  throwing_ = false;
  CallFunction(ctor.obj, ClipValue(clip), {});
  throwing_ = false;
}

void Avm1::BeginFrame(std::int64_t ms) {
  steps_ = 0;
  aborted_ = false;
  frameBytes_ = 0;
  now_ = ms;
  // Timers due by now, each at most once a frame.
  auto due = intervals_;
  for (auto& iv : due) {
    if (iv.nextMs > static_cast<double>(ms)) continue;
    for (auto& live : intervals_) {
      if (live.id == iv.id) live.nextMs = std::max(live.nextMs + live.periodMs, static_cast<double>(ms));
    }
    AsValue fn = iv.fn;
    if (!iv.method.empty()) fn = Get(iv.self, iv.method);
    Call(fn, iv.self, iv.args);
    throwing_ = false;
  }
}

void Avm1::AddInterval(const AsValue& fn, const AsValue& self, const std::string& method, double ms,
                       std::vector<AsValue> args, int id) {
  if (intervals_.size() >= 1000) return;
  if (!(ms >= 1)) ms = 1;
  intervals_.push_back({id, fn, self, method, std::move(args), ms, static_cast<double>(now_) + ms});
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
    for (auto& [k, p] : o->props) push(p.value);
    for (auto& e : o->elems) push(e);
    push(o->primitive);
    push(o->boundThis);
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
  if (heap_.size() < 2 * lastLive_ && sinceCollect_ < kBytesPerFrame) return;
  sinceCollect_ = 0;
  for (auto& o : heap_) o->marked = false;
  for (AsObject* r : roots_) Mark(r);
  MarkTimeline(stage_.Root(), 0);
  for (auto& [id, ctor] : classes_) MarkValue(ctor);
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
    live += sizeof(AsObject) + o->elems.size() * sizeof(AsValue);
    for (const auto& [k, p] : o->props) live += sizeof(AsProperty) + 2 * k.size() + bytes(p.value);
    for (const auto& e : o->elems) live += bytes(e);
  }
  if (live > kMaxLiveBytes && !disabled_) {
    Skip("scripts stopped: too much memory");
    disabled_ = true;
    intervals_.clear();
  }
}

// ---- the interpreter -----------------------------------------------------------

// One running block of actions: its code, where it is, its stack and the
// try and with blocks open in it.
struct ActionFrame {
  struct TryBlock {
    std::size_t catchStart, finallyStart, end;
    bool hasCatch, hasFinally, catchInRegister;
    std::uint8_t reg;
    std::string var;
  };

  ActionFrame(Avm1::Context& c, std::span<const std::uint8_t> body) : ctx(c), code(body) {}

  Avm1::Context& ctx;
  std::span<const std::uint8_t> code;
  std::size_t pc = 0;
  std::uint8_t op = 0;
  swf::Reader r;  // the action's own data
  std::vector<AsValue> stack;
  std::vector<TryBlock> tries;
  std::vector<std::pair<std::size_t, std::size_t>> withs;  // end pc, scope size before
  bool done = false;  // the block ends, with `result`
  AsValue result;

  AsValue Pop() {
    if (stack.empty()) return AsValue{};
    AsValue v = std::move(stack.back());
    stack.pop_back();
    return v;
  }
  void Push(AsValue v) {
    if (stack.size() < kMaxStack) stack.push_back(std::move(v));
  }
  void End(AsValue v = {}) {
    done = true;
    result = std::move(v);
  }
};

std::span<const ActionInfo> Avm1::ActionTable() {
  static const ActionInfo kTable[] = {
#define QUARVEL_AVM1_ENTRY(code, name, version) {Action::k##name, #name, version, &Avm1::Act##name},
      QUARVEL_AVM1_ACTIONS(QUARVEL_AVM1_ENTRY)
#undef QUARVEL_AVM1_ENTRY
  };
  return kTable;
}

const ActionInfo* Avm1::FindAction(std::uint8_t code) {
  static const auto kByCode = [] {
    std::array<const ActionInfo*, 256> byCode{};
    for (const ActionInfo& a : ActionTable()) byCode[static_cast<std::uint8_t>(a.code)] = &a;
    return byCode;
  }();
  return kByCode[code];
}

AsValue Avm1::Execute(std::span<const std::uint8_t> code, Context& ctx) {
  ActionFrame f(ctx, code);
  while (f.pc < code.size()) {
    if (aborted_) return {};
    if (++steps_ > kMaxActionsPerFrame) {
      Skip("too many actions in one frame");
      aborted_ = true;
      return {};
    }
    while (!f.withs.empty() && f.pc >= f.withs.back().first) {
      ctx.scope.resize(f.withs.back().second);
      f.withs.pop_back();
    }
    while (!f.tries.empty() && (f.pc == f.tries.back().catchStart || f.pc >= f.tries.back().end)) {
      // The try body ended normally: on to the finally block.
      const ActionFrame::TryBlock t = f.tries.back();
      f.tries.pop_back();
      if (f.pc == t.catchStart && t.catchStart < t.finallyStart) f.pc = t.finallyStart;
    }
    f.op = code[f.pc++];
    if (f.op == static_cast<std::uint8_t>(Action::kEnd)) break;
    std::span<const std::uint8_t> data;
    if (HasBody(f.op)) {
      if (f.pc + 2 > code.size()) break;
      const std::size_t len = code[f.pc] | (code[f.pc + 1] << 8);
      f.pc += 2;
      if (f.pc + len > code.size()) break;
      data = code.subspan(f.pc, len);
      f.pc += len;
    }
    f.r = swf::Reader(data);
    try {
      if (const ActionInfo* action = FindAction(f.op)) {
        (this->*action->handler)(f);
      } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", f.op);
        Skip(std::string("action ") + hex);
      }
    } catch (const swf::SwfError&) {
      Skip("damaged action");
      return {};
    }
    if (f.done) return f.result;
    // Big new strings count against the frame's memory.
    if (!f.stack.empty() && f.stack.back().str && f.stack.back().str.use_count() == 1 &&
        f.stack.back().str->size() > 256 && !Charge(f.stack.back().str->size())) {
      return {};
    }
    if (throwing_) {
      if (f.tries.empty()) return {};
      ActionFrame::TryBlock t = f.tries.back();
      f.tries.pop_back();
      throwing_ = false;
      if (t.hasCatch) {
        if (t.catchInRegister) {
          if (t.reg < ctx.regs.size()) ctx.regs[t.reg] = thrown_;
        } else if (ctx.activation) {
          SetProp(ctx.activation, t.var, thrown_);
        } else {
          SetVar(ctx, t.var, thrown_);
        }
        f.pc = t.catchStart;
        // The catch block runs to the finally block.
        f.tries.push_back({t.finallyStart, t.finallyStart, t.end, false, t.hasFinally, false, 0, {}});
      } else {
        f.pc = t.finallyStart;
      }
    }
  }
  return {};
}

// -- helpers of the actions

std::size_t Avm1::PopCount(ActionFrame& f) {
  const double n = ToNumber(f.Pop());
  return static_cast<std::size_t>(std::isnan(n) || n < 0 ? 0 : std::min<double>(n, static_cast<double>(f.stack.size())));
}

std::vector<AsValue> Avm1::PopArgs(ActionFrame& f) {
  const std::size_t n = PopCount(f);
  std::vector<AsValue> args;
  args.reserve(n);
  for (std::size_t i = 0; i < n; ++i) args.push_back(f.Pop());
  return args;
}

// Flash 4 has no booleans: comparisons give 1 and 0.
AsValue Avm1::BoolValue(bool b) const { return version_ >= 5 ? AsValue::Bool(b) : AsValue::Number(b ? 1 : 0); }

AsValue Avm1::MakeString(std::string s) {
  if (s.size() > kMaxStringBytes) {
    Skip("string too long");
    s.resize(kMaxStringBytes);
  }
  if (!Charge(s.size())) return AsValue::String("");
  return AsValue::String(std::move(s));
}

TimelineState* Avm1::TargetTimeline(ActionFrame& f) { return stage_.TimelineOf(f.ctx.target); }

void Avm1::SetTarget(ActionFrame& f, ClipHandle t) {
  // An unknown target (kNoClip): later actions do nothing.
  f.ctx.target = t;
  if (!f.ctx.inFunction && !f.ctx.scope.empty()) {
    f.ctx.scope[0] = t == kNoClip ? AsValue::Clip(kNoClip, nullptr) : ClipValue(t);
  }
}

void Avm1::SetTargetByName(ActionFrame& f, const std::string& t) {
  SetTarget(f, t.empty() ? f.ctx.base : stage_.Resolve(f.ctx.base, t));
}

void Avm1::Arithmetic(ActionFrame& f, double (*op)(double, double)) {
  const double b = ToNumber(f.Pop()), a = ToNumber(f.Pop());
  f.Push(AsValue::Number(op(a, b)));
}

void Avm1::Bitwise(ActionFrame& f, double (*op)(std::int32_t, std::int32_t)) {
  const std::int32_t b = ToInt32(ToNumber(f.Pop())), a = ToInt32(ToNumber(f.Pop()));
  f.Push(AsValue::Number(op(a, b)));
}

void Avm1::CompareStrings(ActionFrame& f, bool (*op)(const std::string&, const std::string&)) {
  const std::string b = ToString(f.Pop()), a = ToString(f.Pop());
  f.Push(BoolValue(op(a, b)));
}

// -- timeline control

void Avm1::ActNextFrame(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.Goto(*tl, tl->current + 1), stage_.SetPlaying(*tl, false);
}

void Avm1::ActPreviousFrame(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.Goto(*tl, tl->current - 1), stage_.SetPlaying(*tl, false);
}

void Avm1::ActPlay(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.SetPlaying(*tl, true);
}

void Avm1::ActStop(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.SetPlaying(*tl, false);
}

// The host sets the quality.
void Avm1::ActToggleQuality(ActionFrame&) {}

void Avm1::ActStopSounds(ActionFrame&) { stage_.StopAllSounds(); }

void Avm1::ActGotoFrame(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.Goto(*tl, f.r.U16("Frame"));
}

void Avm1::ActGotoLabel(ActionFrame& f) {
  if (TimelineState* tl = TargetTimeline(f)) stage_.GotoLabel(*tl, f.r.String("Label"));
}

void Avm1::ActSetTarget(ActionFrame& f) { SetTargetByName(f, f.r.String("TargetName")); }

void Avm1::ActSetTarget2(ActionFrame& f) {
  const AsValue v = f.Pop();
  if (v.type == AsValue::Type::kClip) SetTarget(f, ClipOf(v));
  else SetTargetByName(f, ToString(v));
}

void Avm1::ActGotoFrame2(ActionFrame& f) {
  const std::uint8_t flags = f.r.U8("Flags");
  int bias = 0;
  if (flags & 2) bias = f.r.U16("SceneBias");
  AsValue v = f.Pop();
  if (v.type == AsValue::Type::kNumber) v.num += bias;
  if (TargetTimeline(f)) {
    stage_.GotoValue(f.ctx.target, v, *this);
    if (TimelineState* again = TargetTimeline(f)) stage_.SetPlaying(*again, (flags & 1) != 0);
  }
}

// Every frame is loaded: nothing to wait for.
void Avm1::ActWaitForFrame(ActionFrame&) {}
void Avm1::ActWaitForFrame2(ActionFrame& f) { f.Pop(); }

// The actions of another frame.
void Avm1::ActCall(ActionFrame& f) {
  const std::string frame = ToString(f.Pop());
  stage_.CallFrame(f.ctx.target, frame, *this);
}

void Avm1::ActGetUrl(ActionFrame& f) {
  const std::string url = f.r.String("Url");
  if (Lower(url).rfind("fscommand:", 0) != 0) Skip("action GetURL");
}

void Avm1::ActGetUrl2(ActionFrame& f) {
  f.Pop();
  const std::string url = ToString(f.Pop());
  if (Lower(url).rfind("fscommand:", 0) != 0) Skip("action GetURL");
}

void Avm1::ActStartDrag(ActionFrame& f) {
  f.Pop();
  f.Pop();
  if (ToBool(f.Pop())) {
    for (int i = 0; i < 4; ++i) f.Pop();
  }
  Skip("action StartDrag");
}

void Avm1::ActEndDrag(ActionFrame&) {}

// -- clips

void Avm1::PropertyAccess(ActionFrame& f, bool set) {
  const AsValue value = set ? f.Pop() : AsValue{};
  const double index = ToNumber(f.Pop());
  const AsValue t = f.Pop();
  ClipHandle clip = kNoClip;
  if (t.type == AsValue::Type::kClip) clip = ClipOf(t);
  else if (const std::string text = ToString(t); text.empty()) clip = f.ctx.target;
  else clip = stage_.Resolve(f.ctx.target, text);
  const int i = std::isnan(index) ? -1 : ClampToInt(index);
  const bool known = i >= 0 && i < static_cast<int>(std::size(kPropertyNames));
  if (!set) {
    f.Push(known && stage_.TimelineOf(clip) ? stage_.GetClipProperty(clip, i, *this) : AsValue{});
  } else if (known) {
    stage_.SetClipProperty(clip, i, value, *this);
  }
}

void Avm1::ActGetProperty(ActionFrame& f) { PropertyAccess(f, false); }
void Avm1::ActSetProperty(ActionFrame& f) { PropertyAccess(f, true); }

void Avm1::ActCloneSprite(ActionFrame& f) {
  const double depth = ToNumber(f.Pop());
  const std::string name = ToString(f.Pop());
  const AsValue src = f.Pop();
  const ClipHandle clip = src.type == AsValue::Type::kClip ? ClipOf(src) : stage_.Resolve(f.ctx.target, ToString(src));
  stage_.Duplicate(clip, name, ToInt32(depth));
}

void Avm1::ActRemoveSprite(ActionFrame& f) {
  const AsValue t = f.Pop();
  stage_.RemoveClip(t.type == AsValue::Type::kClip ? ClipOf(t) : stage_.Resolve(f.ctx.target, ToString(t)));
}

void Avm1::ActTrace(ActionFrame& f) {
  const AsValue v = f.Pop();
  if (std::getenv("QUARVEL_DEBUG")) std::clog << "player: trace: " << ToString(v) << "\n";
}

void Avm1::ActTargetPath(ActionFrame& f) {
  const AsValue v = f.Pop();
  f.Push(v.type == AsValue::Type::kClip ? AsValue::String(ToString(v)) : AsValue{});
}

// -- stack, constants, registers and jumps

void Avm1::ActConstantPool(ActionFrame& f) {
  auto pool = std::make_shared<std::vector<std::string>>();
  const std::uint16_t n = f.r.U16("Count");
  for (unsigned i = 0; i < n && !f.r.AtEnd(); ++i) pool->push_back(f.r.String("Constant"));
  f.ctx.pool = std::move(pool);
}

void Avm1::ActPush(ActionFrame& f) {
  swf::Reader& r = f.r;
  while (!r.AtEnd()) {
    const std::uint8_t type = r.U8("Type");
    switch (type) {
      case 0: f.Push(AsValue::String(r.String("String"))); break;
      case 1: f.Push(AsValue::Number(r.F32("Float"))); break;
      case 2: f.Push(AsValue::Null()); break;
      case 3: f.Push(AsValue::Undefined()); break;
      case 4: {
        const std::uint8_t i = r.U8("Register");
        f.Push(i < f.ctx.regs.size() ? f.ctx.regs[i] : AsValue{});
        break;
      }
      case 5: f.Push(AsValue::Bool(r.U8("Boolean") != 0)); break;
      case 6: {
        // Doubles are stored as two little-endian halves, high half first.
        const std::uint32_t hi = r.U32("DoubleHi"), lo = r.U32("DoubleLo");
        const std::uint64_t bits = (static_cast<std::uint64_t>(hi) << 32) | lo;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        f.Push(AsValue::Number(d));
        break;
      }
      case 7: f.Push(AsValue::Number(static_cast<double>(r.S32("Integer")))); break;
      case 8:
      case 9: {
        const std::size_t i = type == 8 ? r.U8("Constant8") : r.U16("Constant16");
        f.Push(f.ctx.pool && i < f.ctx.pool->size() ? AsValue::String((*f.ctx.pool)[i]) : AsValue{});
        break;
      }
      default:
        Skip("Push type " + std::to_string(type));
        r.Rest();
        break;
    }
  }
}

void Avm1::ActPop(ActionFrame& f) { f.Pop(); }

void Avm1::ActPushDuplicate(ActionFrame& f) { f.Push(f.stack.empty() ? AsValue{} : f.stack.back()); }

void Avm1::ActStackSwap(ActionFrame& f) {
  if (f.stack.size() >= 2) std::swap(f.stack[f.stack.size() - 1], f.stack[f.stack.size() - 2]);
}

void Avm1::ActStoreRegister(ActionFrame& f) {
  const std::uint8_t i = f.r.U8("Register");
  if (i < f.ctx.regs.size()) f.ctx.regs[i] = f.stack.empty() ? AsValue{} : f.stack.back();
}

void Avm1::Branch(ActionFrame& f, bool taken) {
  const int off = f.r.S16("BranchOffset");
  if (!taken) return;
  const long long to = static_cast<long long>(f.pc) + off;
  // Out of the block: it ends.
  if (to < 0 || to > static_cast<long long>(f.code.size())) return f.End();
  f.pc = static_cast<std::size_t>(to);
}

void Avm1::ActJump(ActionFrame& f) { Branch(f, true); }

void Avm1::ActIf(ActionFrame& f) {
  const bool taken = ToBool(f.Pop());
  Branch(f, taken);
}

// -- arithmetic

void Avm1::ActAdd(ActionFrame& f) { Arithmetic(f, [](double a, double b) { return a + b; }); }
void Avm1::ActSubtract(ActionFrame& f) { Arithmetic(f, [](double a, double b) { return a - b; }); }
void Avm1::ActMultiply(ActionFrame& f) { Arithmetic(f, [](double a, double b) { return a * b; }); }
void Avm1::ActModulo(ActionFrame& f) { Arithmetic(f, [](double a, double b) { return std::fmod(a, b); }); }

void Avm1::ActDivide(ActionFrame& f) {
  const double b = ToNumber(f.Pop()), a = ToNumber(f.Pop());
  // Flash 4 has no infinity.
  f.Push(b == 0 && version_ < 5 ? AsValue::String("#ERROR#") : AsValue::Number(a / b));
}

void Avm1::ActAdd2(ActionFrame& f) {
  const AsValue b = ToPrimitive(f.Pop()), a = ToPrimitive(f.Pop());
  if (a.type == AsValue::Type::kString || b.type == AsValue::Type::kString) {
    f.Push(MakeString(ToString(a) + ToString(b)));
  } else {
    f.Push(AsValue::Number(ToNumber(a) + ToNumber(b)));
  }
}

void Avm1::ActIncrement(ActionFrame& f) { f.Push(AsValue::Number(ToNumber(f.Pop()) + 1)); }
void Avm1::ActDecrement(ActionFrame& f) { f.Push(AsValue::Number(ToNumber(f.Pop()) - 1)); }

void Avm1::ActBitAnd(ActionFrame& f) { Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(a & b); }); }
void Avm1::ActBitOr(ActionFrame& f) { Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(a | b); }); }
void Avm1::ActBitXor(ActionFrame& f) { Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(a ^ b); }); }

void Avm1::ActBitLShift(ActionFrame& f) {
  Bitwise(f, [](std::int32_t a, std::int32_t b) {
    return double(static_cast<std::int32_t>(static_cast<std::uint32_t>(a) << (b & 31)));
  });
}

void Avm1::ActBitRShift(ActionFrame& f) { Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(a >> (b & 31)); }); }

void Avm1::ActBitURShift(ActionFrame& f) {
  Bitwise(f, [](std::int32_t a, std::int32_t b) { return double(static_cast<std::uint32_t>(a) >> (b & 31)); });
}

// -- comparison and logic

void Avm1::ActEquals(ActionFrame& f) {
  const double b = ToNumber(f.Pop()), a = ToNumber(f.Pop());
  f.Push(BoolValue(a == b));
}

void Avm1::ActLess(ActionFrame& f) {
  const double b = ToNumber(f.Pop()), a = ToNumber(f.Pop());
  f.Push(BoolValue(a < b));
}

void Avm1::ActAnd(ActionFrame& f) {
  const bool b = ToBool(f.Pop()), a = ToBool(f.Pop());
  f.Push(BoolValue(a && b));
}

void Avm1::ActOr(ActionFrame& f) {
  const bool b = ToBool(f.Pop()), a = ToBool(f.Pop());
  f.Push(BoolValue(a || b));
}

void Avm1::ActNot(ActionFrame& f) { f.Push(BoolValue(!ToBool(f.Pop()))); }

void Avm1::ActStringEquals(ActionFrame& f) {
  CompareStrings(f, [](const std::string& a, const std::string& b) { return a == b; });
}
void Avm1::ActStringLess(ActionFrame& f) {
  CompareStrings(f, [](const std::string& a, const std::string& b) { return a < b; });
}
void Avm1::ActStringGreater(ActionFrame& f) {
  CompareStrings(f, [](const std::string& a, const std::string& b) { return a > b; });
}

void Avm1::ActLess2(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  f.Push(Less(a, b));
}

void Avm1::ActGreater(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  f.Push(Less(b, a));
}

void Avm1::ActEquals2(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  f.Push(AsValue::Bool(Equals2(a, b)));
}

void Avm1::ActStrictEquals(ActionFrame& f) {
  const AsValue b = f.Pop(), a = f.Pop();
  f.Push(AsValue::Bool(StrictEquals(a, b)));
}

// -- strings

void Avm1::ActStringAdd(ActionFrame& f) {
  const std::string b = ToString(f.Pop()), a = ToString(f.Pop());
  f.Push(MakeString(a + b));
}

void Avm1::ActStringLength(ActionFrame& f) { f.Push(AsValue::Number(static_cast<double>(ToString(f.Pop()).size()))); }

void Avm1::ActMBStringLength(ActionFrame& f) {
  f.Push(AsValue::Number(static_cast<double>(CharOffsets(ToString(f.Pop())).size() - 1)));
}

// StringExtract, MBStringExtract: 1-based index, in bytes or characters.
void Avm1::Extract(ActionFrame& f, bool characters) {
  const double count = ToNumber(f.Pop()), index = ToNumber(f.Pop());
  const std::string s = ToString(f.Pop());
  std::vector<std::size_t> offs;
  if (characters) offs = CharOffsets(s);
  const double len = characters ? static_cast<double>(offs.size() - 1) : static_cast<double>(s.size());
  double start = std::isnan(index) ? 0 : std::max(0.0, std::trunc(index) - 1);
  start = std::min(start, len);
  double n = std::isnan(count) || count < 0 ? len - start : std::min(std::trunc(count), len - start);
  const auto a = static_cast<std::size_t>(start), b = static_cast<std::size_t>(start + n);
  f.Push(AsValue::String(characters ? s.substr(offs[a], offs[b] - offs[a]) : s.substr(a, b - a)));
}

void Avm1::ActStringExtract(ActionFrame& f) { Extract(f, false); }
void Avm1::ActMBStringExtract(ActionFrame& f) { Extract(f, true); }

void Avm1::ActToInteger(ActionFrame& f) {
  const double d = ToNumber(f.Pop());
  f.Push(AsValue::Number(std::isnan(d) ? 0 : std::trunc(d)));
}

void Avm1::ActCharToAscii(ActionFrame& f) {
  const std::string s = ToString(f.Pop());
  f.Push(AsValue::Number(s.empty() ? 0 : static_cast<unsigned char>(s[0])));
}

void Avm1::ActMBCharToAscii(ActionFrame& f) { f.Push(AsValue::Number(FirstCodePoint(ToString(f.Pop())))); }

void Avm1::ActAsciiToChar(ActionFrame& f) {
  const auto c = static_cast<std::uint32_t>(ToInt32(ToNumber(f.Pop())));
  f.Push(AsValue::String(version_ >= 6 ? Utf8(c & 0x1FFFFF) : std::string(1, static_cast<char>(c & 0xFF))));
}

void Avm1::ActMBAsciiToChar(ActionFrame& f) {
  f.Push(AsValue::String(Utf8(static_cast<std::uint32_t>(ToInt32(ToNumber(f.Pop()))) & 0x1FFFFF)));
}

void Avm1::ActToNumber(ActionFrame& f) { f.Push(AsValue::Number(ToNumber(f.Pop()))); }
void Avm1::ActToString(ActionFrame& f) { f.Push(MakeString(ToString(f.Pop()))); }
void Avm1::ActTypeOf(ActionFrame& f) { f.Push(AsValue::String(TypeOf(f.Pop()))); }

// -- misc

void Avm1::ActRandomNumber(ActionFrame& f) {
  const double n = ToNumber(f.Pop());
  f.Push(AsValue::Number(n >= 1 ? std::floor(Random() * std::floor(n)) : 0));
}

void Avm1::ActGetTime(ActionFrame& f) { f.Push(AsValue::Number(static_cast<double>(stage_.ScriptTime()))); }

// -- variables

void Avm1::ActGetVariable(ActionFrame& f) { f.Push(GetVar(f.ctx, ToString(f.Pop()))); }

void Avm1::ActSetVariable(ActionFrame& f) {
  const AsValue v = f.Pop();
  SetVar(f.ctx, ToString(f.Pop()), v);
}

void Avm1::DefineLocal(ActionFrame& f, bool withValue) {
  const AsValue v = withValue ? f.Pop() : AsValue{};
  const std::string name = ToString(f.Pop());
  if (f.ctx.activation) {
    if (withValue || !f.ctx.activation->props.count(Key(name))) SetProp(f.ctx.activation, name, v);
  } else if (withValue) {
    SetVar(f.ctx, name, v);
  }
}

void Avm1::ActDefineLocal(ActionFrame& f) { DefineLocal(f, true); }
void Avm1::ActDefineLocal2(ActionFrame& f) { DefineLocal(f, false); }

void Avm1::ActDelete(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  const AsValue obj = f.Pop();
  bool done = false;
  if (obj.type == AsValue::Type::kObject) {
    done = obj.obj->props.erase(Key(name)) > 0;
  } else if (obj.type == AsValue::Type::kClip) {
    if (TimelineState* tl = stage_.TimelineOf(ClipOf(obj)); tl && tl->vars) done = tl->vars->props.erase(Key(name)) > 0;
  }
  f.Push(AsValue::Bool(done));
}

void Avm1::ActDelete2(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  AsValue holder, dummy;
  bool done = false;
  if (LookupScope(f.ctx, name, dummy, &holder)) {
    if (holder.type == AsValue::Type::kObject) done = holder.obj->props.erase(Key(name)) > 0;
    else if (TimelineState* tl = stage_.TimelineOf(ClipOf(holder)); tl && tl->vars) {
      done = tl->vars->props.erase(Key(name)) > 0;
    }
  }
  f.Push(AsValue::Bool(done));
}

// -- objects

void Avm1::ActGetMember(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  const AsValue obj = f.Pop();
  f.Push(Get(obj, name));
}

void Avm1::ActSetMember(ActionFrame& f) {
  const AsValue v = f.Pop();
  const std::string name = ToString(f.Pop());
  const AsValue obj = f.Pop();
  Set(obj, name, v);
}

void Avm1::ActInitArray(ActionFrame& f) { f.Push(AsValue::Object(NewArray(PopArgs(f)))); }

void Avm1::ActInitObject(ActionFrame& f) {
  const std::size_t n = std::min(PopCount(f), f.stack.size() / 2);
  AsObject* o = NewObject();
  std::vector<std::pair<std::string, AsValue>> pairs;
  for (std::size_t i = 0; i < n; ++i) {
    AsValue v = f.Pop();
    pairs.emplace_back(ToString(f.Pop()), std::move(v));
  }
  for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) SetProp(o, it->first, it->second);
  f.Push(AsValue::Object(o));
}

void Avm1::ConstructOrSkip(ActionFrame& f, const AsValue& ctor, const std::string& name, std::vector<AsValue>& args) {
  if (ctor.type != AsValue::Type::kObject || !ctor.obj->fn) {
    Skip("new " + name);
    f.Push(AsValue::Object(NewObject()));
  } else {
    f.Push(Construct(ctor, args));
  }
}

void Avm1::ActNewObject(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  std::vector<AsValue> args = PopArgs(f);
  const AsValue ctor = GetVar(f.ctx, name);
  ConstructOrSkip(f, ctor, name, args);
}

void Avm1::ActNewMethod(ActionFrame& f) {
  const AsValue nameV = f.Pop();
  const std::string name = nameV.IsUndefined() ? std::string() : ToString(nameV);
  const AsValue obj = f.Pop();
  std::vector<AsValue> args = PopArgs(f);
  const AsValue ctor = name.empty() || obj.IsUndefined() ? obj : Get(obj, name);
  ConstructOrSkip(f, ctor, name, args);
}

void Avm1::ActCallFunction(ActionFrame& f) {
  const std::string name = ToString(f.Pop());
  std::vector<AsValue> args = PopArgs(f);
  AsValue fn, holder;
  if (name.find_first_of(":/.") != std::string::npos) fn = GetVar(f.ctx, name);
  else LookupScope(f.ctx, name, fn, &holder);
  if (fn.type != AsValue::Type::kObject || !fn.obj->fn) {
    Skip("function " + name);
    f.Push({});
    return;
  }
  // Timeline functions act on the timeline they are found on.
  AsValue self = holder.type == AsValue::Type::kClip ? holder : f.ctx.thisv;
  if (fn.obj->fn->native && holder.type != AsValue::Type::kClip && holder.obj != global_) self = holder;
  f.Push(CallFunction(fn.obj, self, args));
}

// No method name calls the object itself.
void Avm1::ActCallMethod(ActionFrame& f) {
  const AsValue nameV = f.Pop();
  const std::string name = nameV.IsUndefined() ? std::string() : ToString(nameV);
  const AsValue obj = f.Pop();
  std::vector<AsValue> args = PopArgs(f);
  AsValue fn = name.empty() ? obj : Get(obj, name);
  AsValue self = name.empty() ? AsValue{} : obj;
  if (obj.type == AsValue::Type::kObject && !obj.obj->boundThis.IsUndefined()) {
    // super(...) and super.method(...) act on the caller's object.
    if (name.empty()) fn = GetOwn(obj.obj, Key("__constructor__"));
    self = obj.obj->boundThis;
  }
  if (fn.type != AsValue::Type::kObject || !fn.obj->fn) {
    Skip("method " + name);
    f.Push({});
    return;
  }
  f.Push(CallFunction(fn.obj, self, args));
}

void Avm1::ActReturn(ActionFrame& f) { f.End(f.Pop()); }

void Avm1::DefineFunction(ActionFrame& f, bool v2) {
  swf::Reader& r = f.r;
  auto fn = std::make_unique<AsFunction>();
  fn->name = r.String("FunctionName");
  const std::uint16_t n = r.U16("NumParams");
  if (v2) {
    fn->v2 = true;
    fn->registers = r.U8("RegisterCount");
    fn->flags = r.U16("Flags");
    for (unsigned i = 0; i < n; ++i) {
      const std::uint8_t reg = r.U8("Register");
      fn->params.emplace_back(reg, r.String("ParamName"));
    }
  } else {
    for (unsigned i = 0; i < n; ++i) fn->params.emplace_back(0, r.String("Param"));
  }
  // The body follows the action.
  const std::size_t size = r.U16("CodeSize");
  if (f.pc + size > f.code.size()) return f.End();
  fn->code = f.code.subspan(f.pc, size);
  f.pc += size;
  fn->pool = f.ctx.pool;
  fn->scope = f.ctx.scope;
  if (fn->scope.size() > kMaxScopes) fn->scope.erase(fn->scope.begin() + 1, fn->scope.end() - kMaxScopes);
  const std::string name = fn->name;
  AsObject* fo = NewObject(functionProto_);
  fo->className = "Function";
  fo->fn = std::move(fn);
  AsObject* proto = NewObject();
  SetProp(proto, "constructor", AsValue::Object(fo), true);
  SetProp(fo, "prototype", AsValue::Object(proto), true);
  const AsValue fv = AsValue::Object(fo);
  if (name.empty()) {
    f.Push(fv);
  } else if (f.ctx.activation) {
    SetProp(f.ctx.activation, name, fv);
  } else {
    SetVar(f.ctx, name, fv);
  }
}

void Avm1::ActDefineFunction(ActionFrame& f) { DefineFunction(f, false); }
void Avm1::ActDefineFunction2(ActionFrame& f) { DefineFunction(f, true); }

// Pushes a null, then the names to visit.
void Avm1::EnumerateNames(ActionFrame& f, const AsValue& obj) {
  f.Push(AsValue::Null());
  std::vector<std::pair<std::uint64_t, std::string>> names;
  AsObject* o = obj.type == AsValue::Type::kObject ? obj.obj : nullptr;
  if (obj.type == AsValue::Type::kClip) {
    if (TimelineState* tl = stage_.TimelineOf(ClipOf(obj))) {
      o = tl->vars;
      for (auto& [depth, inst] : tl->list) {
        if (inst.sprite && inst.def && inst.def->kind == Character::Kind::kSprite) names.emplace_back(0, inst.name);
      }
    }
  }
  for (int guard = 0; o && guard < 64; o = o->proto, ++guard) {
    if (o->isArray) {
      for (std::size_t i = o->elems.size(); i-- > 0;) names.emplace_back(0, std::to_string(i));
    }
    std::vector<std::pair<std::uint64_t, std::string>> own;
    for (auto& [k, p] : o->props) {
      if (!p.hidden) own.emplace_back(p.order, p.name);
    }
    std::sort(own.begin(), own.end());
    names.insert(names.end(), own.begin(), own.end());
  }
  for (auto& [order, name] : names) f.Push(AsValue::String(name));
}

void Avm1::ActEnumerate(ActionFrame& f) {
  const AsValue obj = GetVar(f.ctx, ToString(f.Pop()));
  EnumerateNames(f, obj);
}

void Avm1::ActEnumerate2(ActionFrame& f) { EnumerateNames(f, f.Pop()); }

void Avm1::ActInstanceOf(ActionFrame& f) {
  const AsValue ctor = f.Pop(), v = f.Pop();
  f.Push(AsValue::Bool(InstanceOf(v, ctor)));
}

void Avm1::ActCastOp(ActionFrame& f) {
  const AsValue v = f.Pop(), ctor = f.Pop();
  f.Push(InstanceOf(v, ctor) ? v : AsValue::Null());
}

// Interfaces are not checked: only the operands go.
void Avm1::ActImplementsOp(ActionFrame& f) {
  f.Pop();
  const std::size_t n = PopCount(f);
  for (std::size_t i = 0; i < n; ++i) f.Pop();
}

void Avm1::ActExtends(ActionFrame& f) {
  const AsValue super = f.Pop(), sub = f.Pop();
  if (sub.type == AsValue::Type::kObject && super.type == AsValue::Type::kObject) {
    const AsValue sp = Get(super, "prototype");
    AsObject* proto = NewObject(sp.type == AsValue::Type::kObject ? sp.obj : objectProto_);
    SetProp(proto, "__constructor__", super, true);
    SetProp(proto, "constructor", super, true);
    SetProp(sub.obj, "prototype", AsValue::Object(proto), true);
  }
}

// -- blocks

void Avm1::ActWith(ActionFrame& f) {
  const std::size_t size = f.r.U16("Size");
  const AsValue obj = f.Pop();
  if (f.ctx.scope.size() < kMaxScopes && (obj.type == AsValue::Type::kObject || obj.type == AsValue::Type::kClip)) {
    f.withs.emplace_back(std::min(f.code.size(), f.pc + size), f.ctx.scope.size());
    f.ctx.scope.push_back(obj);
  }
}

void Avm1::ActTry(ActionFrame& f) {
  swf::Reader& r = f.r;
  const std::uint8_t flags = r.U8("Flags");
  const std::size_t trySize = r.U16("TrySize"), catchSize = r.U16("CatchSize"), finallySize = r.U16("FinallySize");
  ActionFrame::TryBlock t{};
  t.catchInRegister = flags & 4;
  if (t.catchInRegister) t.reg = r.U8("CatchRegister");
  else t.var = r.String("CatchName");
  t.hasCatch = flags & 1;
  t.hasFinally = flags & 2;
  t.catchStart = std::min(f.code.size(), f.pc + trySize);
  t.finallyStart = std::min(f.code.size(), t.catchStart + (t.hasCatch ? catchSize : 0));
  t.end = std::min(f.code.size(), t.finallyStart + (t.hasFinally ? finallySize : 0));
  if (t.catchStart > f.pc) f.tries.push_back(t);
}

void Avm1::ActThrow(ActionFrame& f) {
  thrown_ = f.Pop();
  throwing_ = true;
}

}  // namespace quarvel::player
