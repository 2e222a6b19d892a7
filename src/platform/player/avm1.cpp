#include "platform/player/avm1.h"

#include <algorithm>
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

const char* ActionName(std::uint8_t code) {
  switch (code) {
    case 0x08: return "ToggleQuality";
    case 0x27: return "StartDrag";
    case 0x28: return "EndDrag";
    case 0x2C: return "ImplementsOp";
    case 0x83: return "GetURL";
    case 0x9A: return "GetURL2";
    case 0x8D: return "WaitForFrame2";
    default: return nullptr;
  }
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

AsValue Avm1::Execute(std::span<const std::uint8_t> code, Context& ctx) {
  std::vector<AsValue> stack;
  auto pop = [&]() {
    if (stack.empty()) return AsValue{};
    AsValue v = std::move(stack.back());
    stack.pop_back();
    return v;
  };
  auto push = [&](AsValue v) {
    if (stack.size() < kMaxStack) stack.push_back(std::move(v));
  };
  auto popCount = [&]() {
    const double n = ToNumber(pop());
    return static_cast<std::size_t>(std::isnan(n) || n < 0 ? 0 : std::min<double>(n, static_cast<double>(stack.size())));
  };
  auto popArgs = [&]() {
    const std::size_t n = popCount();
    std::vector<AsValue> args;
    args.reserve(n);
    for (std::size_t i = 0; i < n; ++i) args.push_back(pop());
    return args;
  };
  auto boolValue = [&](bool b) { return version_ >= 5 ? AsValue::Bool(b) : AsValue::Number(b ? 1 : 0); };
  auto makeString = [&](std::string s) {
    if (s.size() > kMaxStringBytes) {
      Skip("string too long");
      s.resize(kMaxStringBytes);
    }
    if (!Charge(s.size())) return AsValue::String("");
    return AsValue::String(std::move(s));
  };
  auto timeline = [&]() -> TimelineState* { return stage_.TimelineOf(ctx.target); };
  auto setTarget = [&](ClipHandle t) {
    // An unknown target (kNoClip): later actions do nothing.
    ctx.target = t;
    if (!ctx.inFunction && !ctx.scope.empty()) ctx.scope[0] = t == kNoClip ? AsValue::Clip(kNoClip, nullptr) : ClipValue(t);
  };
  auto targetByName = [&](const std::string& t) {
    setTarget(t.empty() ? ctx.base : stage_.Resolve(ctx.base, t));
  };
  struct TryBlock {
    std::size_t catchStart, finallyStart, end;
    bool hasCatch, hasFinally, catchInRegister;
    std::uint8_t reg;
    std::string var;
  };
  std::vector<TryBlock> tries;
  std::vector<std::pair<std::size_t, std::size_t>> withs;  // end pc, scope size before

  std::size_t pc = 0;
  while (pc < code.size()) {
    if (aborted_) return {};
    if (++steps_ > kMaxActionsPerFrame) {
      Skip("too many actions in one frame");
      aborted_ = true;
      return {};
    }
    while (!withs.empty() && pc >= withs.back().first) {
      ctx.scope.resize(withs.back().second);
      withs.pop_back();
    }
    while (!tries.empty() && (pc == tries.back().catchStart || pc >= tries.back().end)) {
      // The try body ended normally: on to the finally block.
      const TryBlock t = tries.back();
      tries.pop_back();
      if (pc == t.catchStart && t.catchStart < t.finallyStart) pc = t.finallyStart;
    }
    const std::uint8_t op = code[pc++];
    if (op == 0) break;
    std::span<const std::uint8_t> data;
    if (op >= 0x80) {
      if (pc + 2 > code.size()) break;
      const std::size_t len = code[pc] | (code[pc + 1] << 8);
      pc += 2;
      if (pc + len > code.size()) break;
      data = code.subspan(pc, len);
      pc += len;
    }
    swf::Reader r(data);
    try {
      switch (op) {
        // -- timeline control
        case 0x04:
          if (TimelineState* tl = timeline()) stage_.Goto(*tl, tl->current + 1), stage_.SetPlaying(*tl, false);
          break;
        case 0x05:
          if (TimelineState* tl = timeline()) stage_.Goto(*tl, tl->current - 1), stage_.SetPlaying(*tl, false);
          break;
        case 0x06:
          if (TimelineState* tl = timeline()) stage_.SetPlaying(*tl, true);
          break;
        case 0x07:
          if (TimelineState* tl = timeline()) stage_.SetPlaying(*tl, false);
          break;
        case 0x08:  // ToggleQuality: the host sets the quality
          break;
        case 0x09:
          stage_.StopAllSounds();
          break;
        case 0x81:
          if (TimelineState* tl = timeline()) stage_.Goto(*tl, r.U16("Frame"));
          break;
        case 0x8C:
          if (TimelineState* tl = timeline()) stage_.GotoLabel(*tl, r.String("Label"));
          break;
        case 0x8B:
          targetByName(r.String("TargetName"));
          break;
        case 0x20: {
          const AsValue v = pop();
          if (v.type == AsValue::Type::kClip) setTarget(ClipOf(v));
          else targetByName(ToString(v));
          break;
        }
        case 0x9F: {  // GotoFrame2
          const std::uint8_t flags = r.U8("Flags");
          int bias = 0;
          if (flags & 2) bias = r.U16("SceneBias");
          AsValue v = pop();
          if (v.type == AsValue::Type::kNumber) v.num += bias;
          if (timeline()) {
            stage_.GotoValue(ctx.target, v, *this);
            if (TimelineState* again = timeline()) stage_.SetPlaying(*again, (flags & 1) != 0);
          }
          break;
        }
        case 0x8A:  // WaitForFrame: every frame is loaded
          break;
        case 0x8D:
          pop();
          break;
        case 0x9E: {  // Call: the actions of another frame
          const std::string f = ToString(pop());
          stage_.CallFrame(ctx.target, f, *this);
          break;
        }
        case 0x83:
        case 0x9A: {
          std::string url;
          if (op == 0x83) {
            url = r.String("Url");
          } else {
            pop();
            url = ToString(pop());
          }
          if (Lower(url).rfind("fscommand:", 0) != 0) Skip("action GetURL");
          break;
        }
        case 0x27: {  // StartDrag
          pop();
          pop();
          if (ToBool(pop())) {
            for (int i = 0; i < 4; ++i) pop();
          }
          Skip("action StartDrag");
          break;
        }
        case 0x28:
          break;
        case 0x22:
        case 0x23: {  // GetProperty, SetProperty
          const AsValue value = op == 0x23 ? pop() : AsValue{};
          const double index = ToNumber(pop());
          const AsValue t = pop();
          ClipHandle clip = kNoClip;
          if (t.type == AsValue::Type::kClip) clip = ClipOf(t);
          else if (const std::string text = ToString(t); text.empty()) clip = ctx.target;
          else clip = stage_.Resolve(ctx.target, text);
          const int i = std::isnan(index) ? -1 : ClampToInt(index);
          const bool known = i >= 0 && i < static_cast<int>(std::size(kPropertyNames));
          if (op == 0x22) {
            push(known && stage_.TimelineOf(clip) ? stage_.GetClipProperty(clip, i, *this) : AsValue{});
          } else if (known) {
            stage_.SetClipProperty(clip, i, value, *this);
          }
          break;
        }
        case 0x24: {  // CloneSprite
          const double depth = ToNumber(pop());
          const std::string name = ToString(pop());
          const AsValue src = pop();
          const ClipHandle clip = src.type == AsValue::Type::kClip ? ClipOf(src) : stage_.Resolve(ctx.target, ToString(src));
          stage_.Duplicate(clip, name, ToInt32(depth));
          break;
        }
        case 0x25: {  // RemoveSprite
          const AsValue t = pop();
          stage_.RemoveClip(t.type == AsValue::Type::kClip ? ClipOf(t) : stage_.Resolve(ctx.target, ToString(t)));
          break;
        }
        case 0x26:  // Trace
          if (std::getenv("QUARVEL_DEBUG")) std::clog << "player: trace: " << ToString(pop()) << "\n";
          else pop();
          break;
        // -- stack and constants
        case 0x88: {
          auto pool = std::make_shared<std::vector<std::string>>();
          const std::uint16_t n = r.U16("Count");
          for (unsigned i = 0; i < n && !r.AtEnd(); ++i) pool->push_back(r.String("Constant"));
          ctx.pool = std::move(pool);
          break;
        }
        case 0x96:
          while (!r.AtEnd()) {
            const std::uint8_t type = r.U8("Type");
            switch (type) {
              case 0: push(AsValue::String(r.String("String"))); break;
              case 1: push(AsValue::Number(r.F32("Float"))); break;
              case 2: push(AsValue::Null()); break;
              case 3: push(AsValue::Undefined()); break;
              case 4: {
                const std::uint8_t i = r.U8("Register");
                push(i < ctx.regs.size() ? ctx.regs[i] : AsValue{});
                break;
              }
              case 5: push(AsValue::Bool(r.U8("Boolean") != 0)); break;
              case 6: {
                // Doubles are stored as two little-endian halves, high half first.
                const std::uint32_t hi = r.U32("DoubleHi"), lo = r.U32("DoubleLo");
                const std::uint64_t bits = (static_cast<std::uint64_t>(hi) << 32) | lo;
                double d;
                std::memcpy(&d, &bits, sizeof d);
                push(AsValue::Number(d));
                break;
              }
              case 7: push(AsValue::Number(static_cast<double>(r.S32("Integer")))); break;
              case 8:
              case 9: {
                const std::size_t i = type == 8 ? r.U8("Constant8") : r.U16("Constant16");
                push(ctx.pool && i < ctx.pool->size() ? AsValue::String((*ctx.pool)[i]) : AsValue{});
                break;
              }
              default:
                Skip("Push type " + std::to_string(type));
                r.Rest();
                break;
            }
          }
          break;
        case 0x17: pop(); break;
        case 0x4C:
          if (!stack.empty()) push(stack.back());
          else push({});
          break;
        case 0x4D:
          if (stack.size() >= 2) std::swap(stack[stack.size() - 1], stack[stack.size() - 2]);
          break;
        case 0x87: {  // StoreRegister
          const std::uint8_t i = r.U8("Register");
          if (i < ctx.regs.size()) ctx.regs[i] = stack.empty() ? AsValue{} : stack.back();
          break;
        }
        case 0x99:
        case 0x9D: {  // Jump, If
          const int off = r.S16("BranchOffset");
          if (op == 0x9D && !ToBool(pop())) break;
          const long long to = static_cast<long long>(pc) + off;
          if (to < 0 || to > static_cast<long long>(code.size())) return {};
          pc = static_cast<std::size_t>(to);
          break;
        }
        // -- arithmetic
        case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x3F: {
          const double b = ToNumber(pop()), a = ToNumber(pop());
          double v = 0;
          switch (op) {
            case 0x0A: v = a + b; break;
            case 0x0B: v = a - b; break;
            case 0x0C: v = a * b; break;
            case 0x0D:
              if (b == 0 && version_ < 5) {
                push(AsValue::String("#ERROR#"));
                continue;
              }
              v = a / b;
              break;
            default: v = std::fmod(a, b); break;
          }
          push(AsValue::Number(v));
          break;
        }
        case 0x47: {  // Add2
          const AsValue b = ToPrimitive(pop()), a = ToPrimitive(pop());
          if (a.type == AsValue::Type::kString || b.type == AsValue::Type::kString) {
            push(makeString(ToString(a) + ToString(b)));
          } else {
            push(AsValue::Number(ToNumber(a) + ToNumber(b)));
          }
          break;
        }
        case 0x50: push(AsValue::Number(ToNumber(pop()) + 1)); break;
        case 0x51: push(AsValue::Number(ToNumber(pop()) - 1)); break;
        case 0x60: case 0x61: case 0x62: case 0x63: case 0x64: case 0x65: {
          const std::int32_t b = ToInt32(ToNumber(pop())), a = ToInt32(ToNumber(pop()));
          double v = 0;
          switch (op) {
            case 0x60: v = a & b; break;
            case 0x61: v = a | b; break;
            case 0x62: v = a ^ b; break;
            case 0x63: v = static_cast<std::int32_t>(static_cast<std::uint32_t>(a) << (b & 31)); break;
            case 0x64: v = a >> (b & 31); break;
            default: v = static_cast<std::uint32_t>(a) >> (b & 31); break;
          }
          push(AsValue::Number(v));
          break;
        }
        // -- comparison and logic
        case 0x0E: {
          const double b = ToNumber(pop()), a = ToNumber(pop());
          push(boolValue(a == b));
          break;
        }
        case 0x0F: {
          const double b = ToNumber(pop()), a = ToNumber(pop());
          push(boolValue(a < b));
          break;
        }
        case 0x10: {
          const bool b = ToBool(pop()), a = ToBool(pop());
          push(boolValue(a && b));
          break;
        }
        case 0x11: {
          const bool b = ToBool(pop()), a = ToBool(pop());
          push(boolValue(a || b));
          break;
        }
        case 0x12: push(boolValue(!ToBool(pop()))); break;
        case 0x13: case 0x29: case 0x68: {
          const std::string b = ToString(pop()), a = ToString(pop());
          push(boolValue(op == 0x13 ? a == b : op == 0x29 ? a < b : a > b));
          break;
        }
        case 0x48: {
          const AsValue b = pop(), a = pop();
          push(Less(a, b));
          break;
        }
        case 0x67: {
          const AsValue b = pop(), a = pop();
          push(Less(b, a));
          break;
        }
        case 0x49: {
          const AsValue b = pop(), a = pop();
          push(AsValue::Bool(Equals2(a, b)));
          break;
        }
        case 0x66: {
          const AsValue b = pop(), a = pop();
          push(AsValue::Bool(StrictEquals(a, b)));
          break;
        }
        // -- strings
        case 0x21: {
          const std::string b = ToString(pop()), a = ToString(pop());
          push(makeString(a + b));
          break;
        }
        case 0x14: push(AsValue::Number(static_cast<double>(ToString(pop()).size()))); break;
        case 0x31: push(AsValue::Number(static_cast<double>(CharOffsets(ToString(pop())).size() - 1))); break;
        case 0x15: case 0x35: {  // StringExtract, MBStringExtract: 1-based index
          const double count = ToNumber(pop()), index = ToNumber(pop());
          const std::string s = ToString(pop());
          std::vector<std::size_t> offs;
          if (op == 0x35) offs = CharOffsets(s);
          const double len = op == 0x35 ? static_cast<double>(offs.size() - 1) : static_cast<double>(s.size());
          double start = std::isnan(index) ? 0 : std::max(0.0, std::trunc(index) - 1);
          start = std::min(start, len);
          double n = std::isnan(count) || count < 0 ? len - start : std::min(std::trunc(count), len - start);
          const auto a = static_cast<std::size_t>(start), b = static_cast<std::size_t>(start + n);
          push(AsValue::String(op == 0x35 ? s.substr(offs[a], offs[b] - offs[a]) : s.substr(a, b - a)));
          break;
        }
        case 0x18: {
          const double d = ToNumber(pop());
          push(AsValue::Number(std::isnan(d) ? 0 : std::trunc(d)));
          break;
        }
        case 0x32: {
          const std::string s = ToString(pop());
          push(AsValue::Number(s.empty() ? 0 : static_cast<unsigned char>(s[0])));
          break;
        }
        case 0x36: push(AsValue::Number(FirstCodePoint(ToString(pop())))); break;
        case 0x33: {
          const auto c = static_cast<std::uint32_t>(ToInt32(ToNumber(pop())));
          push(AsValue::String(version_ >= 6 ? Utf8(c & 0x1FFFFF) : std::string(1, static_cast<char>(c & 0xFF))));
          break;
        }
        case 0x37: push(AsValue::String(Utf8(static_cast<std::uint32_t>(ToInt32(ToNumber(pop()))) & 0x1FFFFF))); break;
        case 0x4A: push(AsValue::Number(ToNumber(pop()))); break;
        case 0x4B: push(makeString(ToString(pop()))); break;
        case 0x44: push(AsValue::String(TypeOf(pop()))); break;
        case 0x45: {
          const AsValue v = pop();
          push(v.type == AsValue::Type::kClip ? AsValue::String(ToString(v)) : AsValue{});
          break;
        }
        // -- misc
        case 0x30: {
          const double n = ToNumber(pop());
          push(AsValue::Number(n >= 1 ? std::floor(Random() * std::floor(n)) : 0));
          break;
        }
        case 0x34: push(AsValue::Number(static_cast<double>(stage_.ScriptTime()))); break;
        // -- variables
        case 0x1C: push(GetVar(ctx, ToString(pop()))); break;
        case 0x1D: {
          const AsValue v = pop();
          SetVar(ctx, ToString(pop()), v);
          break;
        }
        case 0x3C: case 0x41: {  // DefineLocal, DefineLocal2
          const AsValue v = op == 0x3C ? pop() : AsValue{};
          const std::string name = ToString(pop());
          if (ctx.activation) {
            if (op == 0x3C || !ctx.activation->props.count(Key(name))) SetProp(ctx.activation, name, v);
          } else if (op == 0x3C) {
            SetVar(ctx, name, v);
          }
          break;
        }
        case 0x3A: {  // Delete
          const std::string name = ToString(pop());
          const AsValue obj = pop();
          bool done = false;
          if (obj.type == AsValue::Type::kObject) done = obj.obj->props.erase(Key(name)) > 0;
          else if (obj.type == AsValue::Type::kClip) {
            if (TimelineState* tl = stage_.TimelineOf(ClipOf(obj)); tl && tl->vars) {
              done = tl->vars->props.erase(Key(name)) > 0;
            }
          }
          push(AsValue::Bool(done));
          break;
        }
        case 0x3B: {  // Delete2
          const std::string name = ToString(pop());
          AsValue holder, dummy;
          bool done = false;
          if (LookupScope(ctx, name, dummy, &holder)) {
            if (holder.type == AsValue::Type::kObject) done = holder.obj->props.erase(Key(name)) > 0;
            else if (TimelineState* tl = stage_.TimelineOf(ClipOf(holder)); tl && tl->vars) {
              done = tl->vars->props.erase(Key(name)) > 0;
            }
          }
          push(AsValue::Bool(done));
          break;
        }
        // -- objects
        case 0x4E: {
          const std::string name = ToString(pop());
          const AsValue obj = pop();
          push(Get(obj, name));
          break;
        }
        case 0x4F: {
          const AsValue v = pop();
          const std::string name = ToString(pop());
          const AsValue obj = pop();
          Set(obj, name, v);
          break;
        }
        case 0x42: {  // InitArray
          std::vector<AsValue> elems = popArgs();
          push(AsValue::Object(NewArray(std::move(elems))));
          break;
        }
        case 0x43: {  // InitObject
          const std::size_t n = std::min(popCount(), stack.size() / 2);
          AsObject* o = NewObject();
          std::vector<std::pair<std::string, AsValue>> pairs;
          for (std::size_t i = 0; i < n; ++i) {
            AsValue v = pop();
            pairs.emplace_back(ToString(pop()), std::move(v));
          }
          for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) SetProp(o, it->first, it->second);
          push(AsValue::Object(o));
          break;
        }
        case 0x40: {  // NewObject
          const std::string name = ToString(pop());
          std::vector<AsValue> args = popArgs();
          const AsValue ctor = GetVar(ctx, name);
          if (ctor.type != AsValue::Type::kObject || !ctor.obj->fn) {
            Skip("new " + name);
            push(AsValue::Object(NewObject()));
          } else {
            push(Construct(ctor, args));
          }
          break;
        }
        case 0x53: {  // NewMethod
          const AsValue nameV = pop();
          const std::string name = nameV.IsUndefined() ? std::string() : ToString(nameV);
          const AsValue obj = pop();
          std::vector<AsValue> args = popArgs();
          const AsValue ctor = name.empty() || obj.IsUndefined() ? obj : Get(obj, name);
          if (ctor.type != AsValue::Type::kObject || !ctor.obj->fn) {
            Skip("new " + name);
            push(AsValue::Object(NewObject()));
          } else {
            push(Construct(ctor, args));
          }
          break;
        }
        case 0x3D: {  // CallFunction
          const std::string name = ToString(pop());
          std::vector<AsValue> args = popArgs();
          AsValue fn, holder;
          if (name.find_first_of(":/.") != std::string::npos) fn = GetVar(ctx, name);
          else LookupScope(ctx, name, fn, &holder);
          if (fn.type != AsValue::Type::kObject || !fn.obj->fn) {
            Skip("function " + name);
            push({});
            break;
          }
          // Timeline functions act on the timeline they are found on.
          AsValue self = holder.type == AsValue::Type::kClip ? holder : ctx.thisv;
          if (fn.obj->fn->native && holder.type != AsValue::Type::kClip && holder.obj != global_) self = holder;
          push(CallFunction(fn.obj, self, args));
          break;
        }
        case 0x52: {  // CallMethod; no method name calls the object itself
          const AsValue nameV = pop();
          const std::string name = nameV.IsUndefined() ? std::string() : ToString(nameV);
          const AsValue obj = pop();
          std::vector<AsValue> args = popArgs();
          AsValue fn = name.empty() ? obj : Get(obj, name);
          AsValue self = name.empty() ? AsValue{} : obj;
          if (obj.type == AsValue::Type::kObject && !obj.obj->boundThis.IsUndefined()) {
            // super(...) and super.method(...) act on the caller's object.
            if (name.empty()) fn = GetOwn(obj.obj, Key("__constructor__"));
            self = obj.obj->boundThis;
          }
          if (fn.type != AsValue::Type::kObject || !fn.obj->fn) {
            Skip("method " + name);
            push({});
            break;
          }
          push(CallFunction(fn.obj, self, args));
          break;
        }
        case 0x3E:  // Return
          return pop();
        case 0x9B: case 0x8E: {  // DefineFunction, DefineFunction2
          auto f = std::make_unique<AsFunction>();
          f->name = r.String("FunctionName");
          const std::uint16_t n = r.U16("NumParams");
          if (op == 0x8E) {
            f->v2 = true;
            f->registers = r.U8("RegisterCount");
            f->flags = r.U16("Flags");
            for (unsigned i = 0; i < n; ++i) {
              const std::uint8_t reg = r.U8("Register");
              f->params.emplace_back(reg, r.String("ParamName"));
            }
          } else {
            for (unsigned i = 0; i < n; ++i) f->params.emplace_back(0, r.String("Param"));
          }
          const std::size_t size = r.U16("CodeSize");
          if (pc + size > code.size()) return {};
          f->code = code.subspan(pc, size);
          pc += size;
          f->pool = ctx.pool;
          f->scope = ctx.scope;
          if (f->scope.size() > kMaxScopes) f->scope.erase(f->scope.begin() + 1, f->scope.end() - kMaxScopes);
          const std::string name = f->name;
          AsObject* fo = NewObject(functionProto_);
          fo->className = "Function";
          fo->fn = std::move(f);
          AsObject* proto = NewObject();
          SetProp(proto, "constructor", AsValue::Object(fo), true);
          SetProp(fo, "prototype", AsValue::Object(proto), true);
          const AsValue fv = AsValue::Object(fo);
          if (name.empty()) {
            push(fv);
          } else if (ctx.activation) {
            SetProp(ctx.activation, name, fv);
          } else {
            SetVar(ctx, name, fv);
          }
          break;
        }
        case 0x46: case 0x55: {  // Enumerate, Enumerate2
          AsValue obj = op == 0x46 ? GetVar(ctx, ToString(pop())) : pop();
          push(AsValue::Null());
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
          for (auto& [order, name] : names) push(AsValue::String(name));
          break;
        }
        case 0x54: {
          const AsValue ctor = pop(), v = pop();
          push(AsValue::Bool(InstanceOf(v, ctor)));
          break;
        }
        case 0x2B: {  // CastOp
          const AsValue v = pop(), ctor = pop();
          push(InstanceOf(v, ctor) ? v : AsValue::Null());
          break;
        }
        case 0x2C: {  // ImplementsOp
          pop();
          const std::size_t n = popCount();
          for (std::size_t i = 0; i < n; ++i) pop();
          break;
        }
        case 0x69: {  // Extends
          const AsValue super = pop(), sub = pop();
          if (sub.type == AsValue::Type::kObject && super.type == AsValue::Type::kObject) {
            const AsValue sp = Get(super, "prototype");
            AsObject* proto = NewObject(sp.type == AsValue::Type::kObject ? sp.obj : objectProto_);
            SetProp(proto, "__constructor__", super, true);
            SetProp(proto, "constructor", super, true);
            SetProp(sub.obj, "prototype", AsValue::Object(proto), true);
          }
          break;
        }
        case 0x94: {  // With
          const std::size_t size = r.U16("Size");
          const AsValue obj = pop();
          if (ctx.scope.size() < kMaxScopes && (obj.type == AsValue::Type::kObject || obj.type == AsValue::Type::kClip)) {
            withs.emplace_back(std::min(code.size(), pc + size), ctx.scope.size());
            ctx.scope.push_back(obj);
          }
          break;
        }
        case 0x8F: {  // Try
          const std::uint8_t flags = r.U8("Flags");
          const std::size_t trySize = r.U16("TrySize"), catchSize = r.U16("CatchSize"),
                            finallySize = r.U16("FinallySize");
          TryBlock t{};
          t.catchInRegister = flags & 4;
          if (t.catchInRegister) t.reg = r.U8("CatchRegister");
          else t.var = r.String("CatchName");
          t.hasCatch = flags & 1;
          t.hasFinally = flags & 2;
          t.catchStart = std::min(code.size(), pc + trySize);
          t.finallyStart = std::min(code.size(), t.catchStart + (t.hasCatch ? catchSize : 0));
          t.end = std::min(code.size(), t.finallyStart + (t.hasFinally ? finallySize : 0));
          if (t.catchStart > pc) tries.push_back(t);
          break;
        }
        case 0x2A:  // Throw
          thrown_ = pop();
          throwing_ = true;
          break;
        default: {
          const char* name = ActionName(op);
          char hex[8];
          std::snprintf(hex, sizeof hex, "0x%02X", op);
          Skip(std::string("action ") + (name ? name : hex));
          break;
        }
      }
    } catch (const swf::SwfError&) {
      Skip("damaged action");
      return {};
    }
    // Big new strings count against the frame's memory.
    if (!stack.empty() && stack.back().str && stack.back().str.use_count() == 1 && stack.back().str->size() > 256 &&
        !Charge(stack.back().str->size())) {
      return {};
    }
    if (throwing_) {
      if (tries.empty()) return {};
      TryBlock t = tries.back();
      tries.pop_back();
      throwing_ = false;
      if (t.hasCatch) {
        if (t.catchInRegister) {
          if (t.reg < ctx.regs.size()) ctx.regs[t.reg] = thrown_;
        } else if (ctx.activation) {
          SetProp(ctx.activation, t.var, thrown_);
        } else {
          SetVar(ctx, t.var, thrown_);
        }
        pc = t.catchStart;
        // The catch block runs to the finally block.
        tries.push_back({t.finallyStart, t.finallyStart, t.end, false, t.hasFinally, false, 0, {}});
      } else {
        pc = t.finallyStart;
      }
    }
  }
  return {};
}

}  // namespace quarvel::player
