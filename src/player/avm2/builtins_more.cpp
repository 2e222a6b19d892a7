// Vector, Dictionary, RegExp (PCRE2) with the String methods that take
// patterns, JSON, Date, a minimal XML and the timers (ByteArray in
// builtins_bytes.cpp).
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "player/avm2/builtins_util.h"
#include "player/avm2/utf16.h"
#include "player/text/text_encoding.h"
#include "player/text/xml_escape.h"
#include "player/rules/calendar.h"
#include "player/text/json_quote.h"

namespace quarvel::avm2 {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- Vector

Object* AllocVector(Machine& m, Class*) {
  auto* v = m.heap().New<ArrayObject>();
  v->kind = ObjectKind::kVector;
  return v;
}

Value ElementDefault(Machine& m, Class* t) {
  if (t == m.intClass || t == m.uintClass || t == m.numberClass) return Value::Int(0);
  // Only the number types have their own storage; a Vector.<Boolean> fills with null.
  if (t == nullptr) return Value();
  return Value::Null();
}

NATIVE(VectorCtor) {
  auto* v = AsArray(self);
  if (!v) return self;
  Class* t = v->cls ? v->cls->elementType : nullptr;
  if (ArrayObject* src = AsArray(m.ArgOr(a, 0))) {
    m.Charge(src->elems.size() * sizeof(Value));
    for (const Value& e : src->elems) v->elems.push_back(t ? m.Coerce(e, t) : e.IsUndefined() ? Value::Null() : e);
    return self;
  }
  const double n = ArgNum(m, a, 0, 0);
  if (n < 0 || n > (1 << 24) || std::isnan(n)) m.ThrowError("RangeError", "Bad vector length.", 1005);
  m.Charge(static_cast<std::size_t>(n) * sizeof(Value));
  v->elems.assign(static_cast<std::size_t>(n), ElementDefault(m, t));
  v->fixed = m.ToBoolean(m.ArgOr(a, 1));
  return self;
}
NATIVE(VectorSetLength) {
  auto* v = AsArray(self);
  const double n = ArgNum(m, a, 0, 0);
  if (!v || n < 0 || n > (1 << 24) || std::isnan(n)) m.ThrowError("RangeError", "Bad vector length.", 1005);
  if (v->fixed) m.ThrowError("RangeError", "Cannot change the length of a fixed Vector.", 1126);
  if (static_cast<std::size_t>(n) > v->elems.size()) m.Charge((static_cast<std::size_t>(n) - v->elems.size()) * sizeof(Value));
  v->elems.resize(static_cast<std::size_t>(n), ElementDefault(m, v->cls ? v->cls->elementType : nullptr));
  return Value();
}
NATIVE(VectorFixed) {
  ArrayObject* v = AsArray(self);
  return Value::Bool(v && v->fixed);
}
NATIVE(VectorSetFixed) {
  if (ArrayObject* v = AsArray(self)) v->fixed = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}

// ---- Dictionary

Object* AllocDictionary(Machine& m, Class*) { return m.heap().New<DictionaryObject>(); }
NATIVE(DictionaryCtor) {
  if (auto* d = self.AsObject(); d && d->kind == ObjectKind::kDictionary)
    static_cast<DictionaryObject*>(d)->weakKeys = m.ToBoolean(m.ArgOr(a, 0));
  return self;
}

// ---- RegExp

struct RegExpObject : Object {
  RegExpObject() : Object(ObjectKind::kRegExp) {}
  ~RegExpObject() override {
    if (code) pcre2_code_free(code);
  }
  pcre2_code* code = nullptr;
  std::string source, flags;
  bool global = false;
  std::size_t lastIndex = 0;
};

Object* AllocRegExp(Machine& m, Class*) { return m.heap().New<RegExpObject>(); }

RegExpObject* AsRegExp(const Value& v) {
  Object* o = v.AsObject();
  return o && o->kind == ObjectKind::kRegExp ? static_cast<RegExpObject*>(o) : nullptr;
}

void Compile(Machine& m, RegExpObject* r, const std::string& src, const std::string& flags) {
  r->source = src;
  // Known flags, once each, in the order toString() shows them.
  r->flags.clear();
  for (char f : std::string_view("gimsx"))
    if (flags.find(f) != std::string::npos) r->flags += f;
  std::uint32_t opts = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_MATCH_INVALID_UTF;
  for (char c : flags) {
    if (c == 'i') opts |= PCRE2_CASELESS;
    if (c == 'm') opts |= PCRE2_MULTILINE;
    if (c == 's') opts |= PCRE2_DOTALL;
    if (c == 'x') opts |= PCRE2_EXTENDED;
    if (c == 'g') r->global = true;
  }
  int err = 0;
  PCRE2_SIZE off = 0;
  r->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(src.data()), src.size(), opts, &err, &off, nullptr);
  // Flash takes a bad pattern as one that never matches.
  if (!r->code) m.Skip("regular expression Flash accepts and PCRE2 refuses");
}

NATIVE(RegExpCtor) {
  auto* r = AsRegExp(self);
  if (!r) return self;
  if (auto* other = AsRegExp(m.ArgOr(a, 0))) {
    if (!m.ArgOr(a, 1).IsUndefined())
      m.ThrowError("TypeError", "Cannot supply flags when constructing one RegExp from another.", 1100);
    Compile(m, r, other->source, other->flags);
  } else {
    Compile(m, r, ArgStr(m, a, 0, ""), ArgStr(m, a, 1, ""));
  }
  return self;
}

// One match at or after `from`: the groups as byte ranges (-1 for unset).
bool Match(RegExpObject* r, const std::string& s, std::size_t from, std::vector<std::pair<long, long>>& groups) {
  if (!r->code || from > s.size()) return false;
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(r->code, nullptr);
  pcre2_match_context* ctx = pcre2_match_context_create(nullptr);
  pcre2_set_match_limit(ctx, 10'000'000);
  const int rc = pcre2_match(r->code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), from, 0, md, ctx);
  groups.clear();
  if (rc > 0) {
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    std::uint32_t count = 0;
    pcre2_pattern_info(r->code, PCRE2_INFO_CAPTURECOUNT, &count);
    for (std::uint32_t i = 0; i <= count; ++i) {
      if (static_cast<int>(i) < rc && ov[2 * i] != PCRE2_UNSET) groups.emplace_back(static_cast<long>(ov[2 * i]), static_cast<long>(ov[2 * i + 1]));
      else groups.emplace_back(-1, -1);
    }
  }
  pcre2_match_context_free(ctx);
  pcre2_match_data_free(md);
  return rc > 0;
}

Value MatchArray(Machine& m, const RegExpObject* r, const std::string& s, const std::vector<std::pair<long, long>>& g) {
  std::vector<Value> items;
  for (auto [b, e] : g) items.push_back(b < 0 ? Value() : m.Str(s.substr(static_cast<std::size_t>(b), static_cast<std::size_t>(e - b))));
  ArrayObject* arr = m.NewArray(std::move(items));
  // Named groups, (?P<name>...), are also properties of the result; one that
  // took no part in the match is "".
  std::uint32_t names = 0, entry = 0;
  PCRE2_SPTR table = nullptr;
  if (r && r->code && pcre2_pattern_info(r->code, PCRE2_INFO_NAMECOUNT, &names) == 0 && names > 0 &&
      pcre2_pattern_info(r->code, PCRE2_INFO_NAMEENTRYSIZE, &entry) == 0 &&
      pcre2_pattern_info(r->code, PCRE2_INFO_NAMETABLE, &table) == 0) {
    for (std::uint32_t k = 0; k < names; ++k) {
      const PCRE2_SPTR row = table + static_cast<std::size_t>(k) * entry;
      const std::size_t group = (static_cast<std::size_t>(row[0]) << 8) | row[1];
      const std::string name(reinterpret_cast<const char*>(row + 2));
      Value v = m.Str("");
      if (group < g.size() && g[group].first >= 0)
        v = m.Str(s.substr(static_cast<std::size_t>(g[group].first), static_cast<std::size_t>(g[group].second - g[group].first)));
      arr->SetDyn(m.Intern(name), v);
    }
  }
  arr->SetDyn(m.Intern("index"), Value::Int(static_cast<std::int32_t>(Utf16IndexOfByte(s, static_cast<std::size_t>(g[0].first)))));
  arr->SetDyn(m.Intern("input"), m.Str(s));
  return Value::Obj(arr);
}

NATIVE(RegExpExec) {
  auto* r = AsRegExp(self);
  const std::string s = ArgStr(m, a, 0, "undefined");
  std::vector<std::pair<long, long>> g;
  // lastIndex counts UTF-16 units, as string indices do.
  const std::size_t from = r && r->global ? ByteOfUtf16Index(s, r->lastIndex) : 0;
  if (!r || (r->global && r->lastIndex > Utf16Length(s)) || !Match(r, s, from, g)) {
    if (r) r->lastIndex = 0;
    return Value::Null();
  }
  if (r->global)
    r->lastIndex = Utf16IndexOfByte(s, static_cast<std::size_t>(g[0].second)) + (g[0].second == g[0].first ? 1 : 0);
  return MatchArray(m, r, s, g);
}
NATIVE(RegExpTest) { return Value::Bool(!RegExpExec(m, self, a).IsNull()); }
NATIVE(RegExpSource) {
  auto* r = AsRegExp(self);
  return m.Str(r ? r->source : "");
}
NATIVE(RegExpGlobal) {
  auto* r = AsRegExp(self);
  return Value::Bool(r && r->global);
}
Value RegExpFlag(const Value& self, char flag) {
  auto* r = AsRegExp(self);
  return Value::Bool(r && r->flags.find(flag) != std::string::npos);
}
NATIVE(RegExpIgnoreCase) { return RegExpFlag(self, 'i'); }
NATIVE(RegExpMultiline) { return RegExpFlag(self, 'm'); }
NATIVE(RegExpDotall) { return RegExpFlag(self, 's'); }
NATIVE(RegExpExtended) { return RegExpFlag(self, 'x'); }
NATIVE(RegExpLastIndex) {
  auto* r = AsRegExp(self);
  return Value::Number(r ? static_cast<double>(r->lastIndex) : 0);
}
NATIVE(RegExpSetLastIndex) {
  if (auto* r = AsRegExp(self)) r->lastIndex = static_cast<std::size_t>(std::max(0.0, ArgNum(m, a, 0, 0)));
  return Value();
}
NATIVE(RegExpToString) {
  auto* r = AsRegExp(self);
  if (!r) {
    // Flash names an object by its class and a (hidden) address here.
    Object* o = self.AsObject();
    const std::string what = o && o->cls ? o->cls->name + "@00000000000" : m.ToString(self);
    m.ThrowError("TypeError", "Type Coercion failed: cannot convert " + what + " to RegExp.", 1034);
  }
  return m.Str("/" + r->source + "/" + r->flags);
}

// String methods with patterns.
NATIVE(StrMatch) {
  const std::string s = m.ToString(self);
  RegExpObject* r = AsRegExp(m.ArgOr(a, 0));
  if (!r) {
    Value args[1] = {m.ArgOr(a, 0)};
    r = static_cast<RegExpObject*>(m.Construct(m.FindClass("RegExp"), args));
  }
  std::vector<std::pair<long, long>> g;
  if (!r->global) return Match(r, s, 0, g) ? MatchArray(m, r, s, g) : Value::Null();
  std::vector<Value> all;
  std::size_t from = 0;
  const std::size_t before = r->lastIndex;
  while (from <= s.size() && Match(r, s, from, g)) {
    all.push_back(m.Str(s.substr(static_cast<std::size_t>(g[0].first), static_cast<std::size_t>(g[0].second - g[0].first))));
    // A match that reached the end of the text ends the search: Flash does
    // not look for another, empty one there.
    if (static_cast<std::size_t>(g[0].second) == s.size() && g[0].second > g[0].first) break;
    from = static_cast<std::size_t>(g[0].second + (g[0].second == g[0].first ? 1 : 0));
  }
  // The failed search at the end leaves lastIndex 0, and Flash then steps
  // an index that ends where it began on by one.
  r->lastIndex = before == 0 ? 1 : 0;
  return Value::Obj(m.NewArray(std::move(all)));
}
NATIVE(StrSearch) {
  const std::string s = m.ToString(self);
  RegExpObject* r = AsRegExp(m.ArgOr(a, 0));
  if (!r) {
    Value args[1] = {m.ArgOr(a, 0)};
    r = static_cast<RegExpObject*>(m.Construct(m.FindClass("RegExp"), args));
  }
  std::vector<std::pair<long, long>> g;
  return Value::Int(Match(r, s, 0, g) ? static_cast<std::int32_t>(Utf16IndexOfByte(s, static_cast<std::size_t>(g[0].first))) : -1);
}
std::string Expand(const std::string& repl, const std::string& s, const std::vector<std::pair<long, long>>& g) {
  std::string out;
  for (std::size_t i = 0; i < repl.size(); ++i) {
    if (repl[i] != '$' || i + 1 >= repl.size()) {
      out += repl[i];
      continue;
    }
    const char c = repl[i + 1];
    if (c == '$') {
      out += '$';
      ++i;
    } else if (c == '&') {
      out += s.substr(static_cast<std::size_t>(g[0].first), static_cast<std::size_t>(g[0].second - g[0].first));
      ++i;
    } else if (c == '`') {  // the text before the match
      out += s.substr(0, static_cast<std::size_t>(g[0].first));
      ++i;
    } else if (c == '\'') {  // the text after it
      out += s.substr(static_cast<std::size_t>(g[0].second));
      ++i;
    } else if (c >= '0' && c <= '9') {
      std::size_t n = static_cast<std::size_t>(c - '0');
      std::size_t used = 1;
      if (i + 2 < repl.size() && std::isdigit(static_cast<unsigned char>(repl[i + 2])) &&
          n * 10 + static_cast<std::size_t>(repl[i + 2] - '0') < g.size()) {
        n = n * 10 + static_cast<std::size_t>(repl[i + 2] - '0');
        // Flash reads "$01" as group 1 but steps over the "0" only, so the
        // "1" is also copied.
        used = c == '0' ? 1 : 2;
      }
      if (n > 0 && n < g.size()) {
        if (g[n].first >= 0) out += s.substr(static_cast<std::size_t>(g[n].first), static_cast<std::size_t>(g[n].second - g[n].first));
        i += used;
      } else {
        out += '$';
      }
    } else {
      out += '$';
    }
  }
  return out;
}
NATIVE(StrReplace) {
  const std::string s = m.ToString(self);
  const Value pat = m.ArgOr(a, 0), repl = m.ArgOr(a, 1);
  const bool fn = repl.IsObject() && repl.o->kind == ObjectKind::kFunction;
  auto replacement = [&](const std::vector<std::pair<long, long>>& g) {
    if (!fn) return Expand(m.ToString(repl), s, g);
    std::vector<Value> args;
    for (auto [b, e] : g) args.push_back(b < 0 ? Value() : m.Str(s.substr(static_cast<std::size_t>(b), static_cast<std::size_t>(e - b))));
    args.push_back(Value::Int(static_cast<std::int32_t>(Utf16IndexOfByte(s, static_cast<std::size_t>(g[0].first)))));
    args.push_back(m.Str(s));
    return m.ToString(m.Call(repl, Value::Null(), args));
  };
  if (RegExpObject* r = AsRegExp(pat)) {
    std::string out;
    std::size_t from = 0, copied = 0;
    std::vector<std::pair<long, long>> g;
    while (from <= s.size() && Match(r, s, from, g)) {
      out += s.substr(copied, static_cast<std::size_t>(g[0].first) - copied);
      out += replacement(g);
      copied = static_cast<std::size_t>(g[0].second);
      from = copied + (g[0].second == g[0].first ? 1 : 0);
      if (!r->global) break;
    }
    if (copied < s.size()) out += s.substr(copied);
    return m.Str(out);
  }
  const std::string p = m.ToString(pat);
  const auto at = s.find(p);
  if (at == std::string::npos) return m.Str(s);
  std::vector<std::pair<long, long>> g{{static_cast<long>(at), static_cast<long>(at + p.size())}};
  return m.Str(s.substr(0, at) + replacement(g) + s.substr(at + p.size()));
}
NATIVE(StrSplit) {
  const std::string s = m.ToString(self);
  const Value pat = m.ArgOr(a, 0);
  const double limitD = ArgNum(m, a, 1, 4294967295.0);
  const std::size_t limit = limitD < 0 ? 0 : static_cast<std::size_t>(std::min(limitD, 4294967295.0));
  std::vector<Value> out;
  if (pat.IsUndefined()) {
    out.push_back(m.Str(s));
    return Value::Obj(m.NewArray(std::move(out)));
  }
  if (RegExpObject* r = AsRegExp(pat)) {
    std::size_t from = 0, start = 0;
    std::vector<std::pair<long, long>> g;
    // The limit is checked after each piece and before each captured group:
    // once the groups have reached it, the next piece is still added.
    bool full = limit == 0;
    while (!full && from < s.size() && Match(r, s, from, g)) {
      // Flash never splits at an empty match: "abc".split(/(?:)/) is ["abc"].
      if (g[0].second == g[0].first) {
        from = static_cast<std::size_t>(g[0].first) + 1;
        while (from < s.size() && (static_cast<unsigned char>(s[from]) & 0xC0) == 0x80) ++from;
        continue;
      }
      out.push_back(m.Str(s.substr(start, static_cast<std::size_t>(g[0].first) - start)));
      full = out.size() >= limit;
      for (std::size_t i = 1; i < g.size() && out.size() < limit; ++i)
        out.push_back(g[i].first < 0 ? Value() : m.Str(s.substr(static_cast<std::size_t>(g[i].first), static_cast<std::size_t>(g[i].second - g[i].first))));
      start = static_cast<std::size_t>(g[0].second);
      from = start;
    }
    if (!full && out.size() < limit) out.push_back(m.Str(s.substr(std::min(start, s.size()))));
    return Value::Obj(m.NewArray(std::move(out)));
  }
  const std::string sep = m.ToString(pat);
  if (sep.empty()) {
    const std::u16string u = ToUtf16(s);
    for (std::size_t i = 0; i < u.size() && out.size() < limit; ++i) out.push_back(m.Str(FromUtf16(u.substr(i, 1))));
  } else {
    std::size_t start = 0;
    while (out.size() < limit) {
      const auto at = s.find(sep, start);
      if (at == std::string::npos) {
        out.push_back(m.Str(s.substr(start)));
        break;
      }
      out.push_back(m.Str(s.substr(start, at - start)));
      start = at + sep.size();
    }
  }
  return Value::Obj(m.NewArray(std::move(out)));
}

// ---- JSON

struct JsonParser {
  Machine& m;
  const std::string& s;
  std::size_t i = 0;
  int depth = 0;
  [[noreturn]] void Fail() { m.ThrowError("SyntaxError", "JSON.parse: unexpected input at " + std::to_string(i) + ".", 1132); }
  void Ws() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  }
  std::string String() {
    if (s[i] != '"') Fail();
    ++i;
    std::string out;
    while (i < s.size() && s[i] != '"') {
      if (s[i] == '\\') {
        if (++i >= s.size()) Fail();
        const char c = s[i++];
        switch (c) {
          case 'n': out += '\n'; break;
          case 't': out += '\t'; break;
          case 'r': out += '\r'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'u': {
            if (i + 4 > s.size()) Fail();
            const unsigned cp = static_cast<unsigned>(std::stoul(s.substr(i, 4), nullptr, 16));
            i += 4;
            encoding::AppendUtf8(out, cp);
            break;
          }
          default: out += c;
        }
      } else {
        out += s[i++];
      }
    }
    if (i >= s.size()) Fail();
    ++i;
    return out;
  }
  Value Parse() {
    Ws();
    if (i >= s.size() || ++depth > 512) Fail();
    struct D {
      int& d;
      ~D() { --d; }
    } guard{depth};
    const char c = s[i];
    if (c == '{') {
      ++i;
      Object* o = m.NewObject();
      Ws();
      if (i < s.size() && s[i] == '}') {
        ++i;
        return Value::Obj(o);
      }
      for (;;) {
        Ws();
        if (i >= s.size()) Fail();
        const std::string k = String();
        Ws();
        if (i >= s.size() || s[i] != ':') Fail();
        ++i;
        o->SetDyn(m.NewString(k), Parse());
        Ws();
        if (i < s.size() && s[i] == ',') {
          ++i;
          continue;
        }
        if (i < s.size() && s[i] == '}') {
          ++i;
          return Value::Obj(o);
        }
        Fail();
      }
    }
    if (c == '[') {
      ++i;
      std::vector<Value> items;
      Ws();
      if (i < s.size() && s[i] == ']') {
        ++i;
        return Value::Obj(m.NewArray());
      }
      for (;;) {
        items.push_back(Parse());
        Ws();
        if (i < s.size() && s[i] == ',') {
          ++i;
          continue;
        }
        if (i < s.size() && s[i] == ']') {
          ++i;
          return Value::Obj(m.NewArray(std::move(items)));
        }
        Fail();
      }
    }
    if (c == '"') return m.Str(String());
    if (s.compare(i, 4, "true") == 0) return i += 4, Value::Bool(true);
    if (s.compare(i, 5, "false") == 0) return i += 5, Value::Bool(false);
    if (s.compare(i, 4, "null") == 0) return i += 4, Value::Null();
    const std::size_t b = i;
    while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || std::strchr("+-.eE", s[i]))) ++i;
    if (b == i) Fail();
    const double d = StringToNumber(s.substr(b, i - b));
    if (std::isnan(d)) Fail();
    return Value::Number(d);
  }
};

// The reviver sees every member after its own members, then the whole value
// under the key ""; undefined removes the member.
Value Revive(Machine& m, const Value& reviver, const Value& holder, const Value& key, int depth) {
  if (depth > 512) m.ThrowError("Error", "JSON nesting is too deep.", 1023);
  Value v = m.GetProperty(holder, m.ToString(key));
  if (Object* o = v.AsObject()) {
    if (auto* arr = AsArray(v)) {
      for (std::size_t i = 0; i < arr->elems.size(); ++i) {
        const Value r = Revive(m, reviver, v, m.Str(std::to_string(i)), depth + 1);
        arr->elems[i] = r;
      }
    } else if (o->dyn) {
      std::vector<StringCell*> names;
      for (auto& [k, val] : o->dyn->items)
        if (k) names.push_back(k);
      for (StringCell* k : names) {
        const Value r = Revive(m, reviver, v, Value::Str(k), depth + 1);
        if (r.IsUndefined()) o->DeleteDyn(k->text);
        else o->SetDyn(k, r);
      }
    }
  }
  Value args[2] = {key, v};
  return m.Call(reviver, holder, args);
}

NATIVE(JsonParse) {
  const std::string text = ArgStr(m, a, 0, "");
  JsonParser p{m, text};
  Value v = p.Parse();
  p.Ws();
  if (p.i != text.size()) p.Fail();
  const Value reviver = m.ArgOr(a, 1);
  if (!reviver.IsObject() || reviver.o->kind != ObjectKind::kFunction) return v;
  Object* root = m.NewObject();
  root->SetDyn(m.Intern(""), v);
  return Revive(m, reviver, Value::Obj(root), m.Str(""), 0);
}

std::string Quote(const std::string& s) { return encoding::JsonQuoted(s); }

struct JsonWriter {
  Machine& m;
  Value replacer;
  std::string indent;
  std::vector<Object*> stack;
  bool Write(const Value& key, Value v, std::string& out, const std::string& cur) {
    if (v.IsObject() && v.o->kind != ObjectKind::kFunction) {
      Value toJson = m.HasProperty(v, m.NameFromString("toJSON")) ? m.GetProperty(v, "toJSON") : Value();
      if (toJson.IsObject()) {
        Value k[1] = {key};
        v = m.Call(toJson, v, k);
      }
    }
    if (replacer.IsObject() && replacer.o->kind == ObjectKind::kFunction) {
      Value args[2] = {key, v};
      v = m.Call(replacer, Value::Null(), args);
    }
    switch (v.type) {
      case Type::kUndefined: return false;
      case Type::kNull: out += "null"; return true;
      case Type::kBoolean: out += v.b ? "true" : "false"; return true;
      case Type::kInt:
      case Type::kNumber: out += std::isfinite(v.Num()) ? NumberToString(v.Num()) : "null"; return true;
      case Type::kString: out += Quote(v.s->text); return true;
      case Type::kObject: break;
    }
    Object* o = v.o;
    if (o->kind == ObjectKind::kFunction) return false;
    if (std::find(stack.begin(), stack.end(), o) != stack.end()) m.ThrowError("TypeError", "Cyclic structure cannot be converted to JSON string.", 1129);
    if (stack.size() > 256) m.ThrowError("Error", "JSON nesting too deep.", 1023);
    stack.push_back(o);
    const std::string inner = cur + indent;
    const std::string nl = indent.empty() ? "" : "\n";
    if (ArrayObject* arr = AsArray(v)) {
      out += "[";
      for (std::size_t i = 0; i < arr->elems.size(); ++i) {
        if (i) out += ",";
        out += nl + inner;
        if (!Write(m.Str(std::to_string(i)), arr->elems[i], out, inner)) out += "null";
      }
      if (!arr->elems.empty()) out += nl + cur;
      out += "]";
    } else {
      out += "{";
      bool first = true;
      // An array replacer names the only members written, at every depth.
      ArrayObject* allowed = AsArray(replacer);
      auto emit = [&](const std::string& k, const Value& val) {
        if (allowed && std::none_of(allowed->elems.begin(), allowed->elems.end(),
                                    [&](const Value& e) { return m.ToString(e) == k; }))
          return;
        std::string part = (first ? "" : ",") + nl + inner + Quote(k) + (indent.empty() ? ":" : ": ");
        std::string body;
        if (!Write(m.Str(k), val, body, inner)) return;
        out += part + body;
        first = false;
      };
      // Instances of script classes show their public variables and
      // constants first (in slot order), then their getters (in the order
      // they were declared), then dynamic properties.
      if (o->traits && o->cls && o->cls->unit && o->kind == ObjectKind::kPlain) {
        std::vector<std::pair<std::uint32_t, std::string>> slots, getters;
        for (const auto& [key, b] : o->traits->Bindings()) {
          if (!m.IsPublicNs(static_cast<NsId>(key >> 32))) continue;
          const std::string name = m.NameText(static_cast<NameId>(key & 0xFFFFFFFFu));
          if (b.kind == Binding::Kind::kSlot) slots.emplace_back(b.slot, name);
          else if (b.kind == Binding::Kind::kAccessor && b.getter) getters.emplace_back(b.getter->index, name);
        }
        std::sort(slots.begin(), slots.end());
        std::sort(getters.begin(), getters.end());
        for (const auto& [at, name] : slots) emit(name, o->slots.at(at));
        for (const auto& [at, name] : getters) emit(name, m.GetProperty(v, name));
      }
      // A class shows the public getters every class has.
      if (o->kind == ObjectKind::kClass)
        for (const char* name : {"length", "prototype"}) emit(name, m.GetProperty(v, name));
      if (o->dyn)
        for (std::size_t i = 0; i < o->dyn->items.size(); ++i)
          if (o->dyn->Listed(i)) emit(o->dyn->items[i].first->text, o->dyn->items[i].second);
      if (!first) out += nl + cur;
      out += "}";
    }
    stack.pop_back();
    return true;
  }
};

NATIVE(JsonStringify) {
  // A replacer given must be a function or an array (null counts as none; undefined does not).
  if (a.size() >= 2 && !a[1].IsNull() && !AsArray(a[1]) && !(a[1].IsObject() && a[1].o->kind == ObjectKind::kFunction))
    m.ThrowError("TypeError", "Replacer argument to JSON stringifier must be an array or a two parameter function.", 1131);
  JsonWriter w{m, m.ArgOr(a, 1), "", {}};
  const Value space = m.ArgOr(a, 2);
  if (space.IsNumber()) w.indent = std::string(static_cast<std::size_t>(std::clamp(space.Num(), 0.0, 10.0)), ' ');
  else if (space.IsString()) w.indent = space.s->text.substr(0, 10);
  std::string out;
  // A function alone gives null, where a member that is one is left out.
  const Value v = m.ArgOr(a, 0);
  if (v.IsObject() && v.o->kind == ObjectKind::kFunction) return Value::Null();
  if (!w.Write(m.Str(""), v, out, "")) return Value();
  return m.Str(out);
}

// ---- Date (times in milliseconds since 1970, UTC; local time from the C library's zone)

struct DateObject : Object {
  DateObject() : Object(ObjectKind::kDate) {}
  double t = kNaN;
};
Object* AllocDate(Machine& m, Class*) { return m.heap().New<DateObject>(); }
DateObject* AsDate(const Value& v) {
  Object* o = v.AsObject();
  return o && o->kind == ObjectKind::kDate ? static_cast<DateObject*>(o) : nullptr;
}
double MakeTime(double y, double mo, double d, double h, double mi, double s, double ms) {
  return player::rules::ComposeTime({y, mo, d, h, mi, s, ms});
}
using Parts = player::rules::CivilTime;
using player::rules::FromLocal;
using player::rules::ToLocal;
Parts Split(double t) { return player::rules::SplitTime(t); }
double LocalOffset(double t) { return player::rules::ZoneOffset(t); }
double NowMs() {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}
NATIVE(DateCtor) {
  DateObject* d = AsDate(self);
  if (!d) return self;
  if (a.empty()) {
    d->t = NowMs();
  } else if (a.size() == 1) {
    const Value v = a[0];
    // A time given as a number keeps whole milliseconds (ECMAScript's TimeClip).
    d->t = v.IsString() ? player::rules::ParseDateText(v.s->text) : std::trunc(m.ToNumber(v)) + 0.0;
    if (DateObject* other = AsDate(v)) d->t = other->t;
  } else {
    d->t = FromLocal(MakeTime(ArgNum(m, a, 0, kNaN), ArgNum(m, a, 1, 0), ArgNum(m, a, 2, 1), ArgNum(m, a, 3, 0),
                              ArgNum(m, a, 4, 0), ArgNum(m, a, 5, 0), ArgNum(m, a, 6, 0)));
  }
  // Flash keeps dates within 100 million days of 1970.
  if (std::fabs(d->t) > 8.64e15) d->t = kNaN;
  return self;
}
template <int kField, bool kUtc = false>
Value DateGet(Machine& m, Value self, std::span<Value>) {
  DateObject* d = AsDate(self);
  if (!d) m.ThrowError("TypeError", "Not a Date.", 1034);
  if (std::isnan(d->t)) return Value::Number(kNaN);
  const Parts p = Split(kUtc ? d->t : ToLocal(d->t));
  const double f[] = {p.year, p.month, p.date, p.hours, p.minutes, p.seconds, p.ms, p.day, d->t};
  return Value::Number(f[kField]);
}
template <int kField, bool kUtc = false>
Value DateSet(Machine& m, Value self, std::span<Value> a) {
  DateObject* d = AsDate(self);
  if (!d) m.ThrowError("TypeError", "Not a Date.", 1034);
  if (kField == 8) {
    d->t = ArgNum(m, a, 0, kNaN);
    return Value::Number(d->t);
  }
  // Only the year setters start a date that is NaN again, from 1970.
  if (std::isnan(d->t) && kField != 0) return Value::Number(kNaN);
  const double base = std::isnan(d->t) ? 0 : d->t;
  Parts p = Split(kUtc ? base : ToLocal(base));
  double* f[] = {&p.year, &p.month, &p.date, &p.hours, &p.minutes, &p.seconds, &p.ms};
  for (std::size_t i = 0; i < a.size() && kField + i < 7; ++i) *f[kField + i] = m.ToNumber(a[i]);
  const double t = MakeTime(p.year, p.month, p.date, p.hours, p.minutes, p.seconds, p.ms);
  d->t = kUtc ? t : FromLocal(t);
  if (!(std::fabs(d->t) <= 8.64e15)) d->t = kNaN;
  return Value::Number(d->t);
}
NATIVE(DateTimezoneOffset) {
  DateObject* d = AsDate(self);
  if (!d || std::isnan(d->t)) return Value::Number(kNaN);
  return Value::Number(-LocalOffset(d->t) / 60000.0);
}
// Flash's forms: "Wed Jan 15 12:30:00 GMT-0500 2020" (0), the date part (1),
// the time part (2), and toUTCString's "Wed Jan 15 17:30:00 2020 UTC" (3).
template <int kForm>
Value DateText(Machine& m, Value self, std::span<Value>) {
  namespace rules = player::rules;
  DateObject* d = AsDate(self);
  if (!d || std::isnan(d->t)) return m.Str("Invalid Date");
  if (kForm == 0) return m.Str(rules::DateText(d->t));
  const double offset = kForm == 3 ? 0 : LocalOffset(d->t);
  const Parts p = Split(d->t + offset);
  switch (kForm) {
    case 1: return m.Str(rules::DayText(p) + " " + rules::YearText(p.year));
    case 2: return m.Str(rules::ClockText(p) + " " + rules::ZoneText(offset));
    default: return m.Str(rules::DayText(p) + " " + rules::ClockText(p) + " " + rules::YearText(p.year) + " UTC");
  }
}
NATIVE(DateToString) { return DateText<0>(m, self, a); }
NATIVE(DateParse) {
  (void)self;
  return Value::Number(player::rules::ParseDateText(ArgStr(m, a, 0, "undefined")));
}
NATIVE(DateUTC) {
  return Value::Number(MakeTime(ArgNum(m, a, 0, kNaN), ArgNum(m, a, 1, 0), ArgNum(m, a, 2, 1), ArgNum(m, a, 3, 0),
                                ArgNum(m, a, 4, 0), ArgNum(m, a, 5, 0), ArgNum(m, a, 6, 0)));
}

// ---- timers

Value AddTimer(Machine& m, std::span<Value> a, bool repeat) {
  Machine::PendingTimer t;
  t.id = m.nextTimerId++;
  t.fn = m.ArgOr(a, 0);
  t.interval = std::max(0.0, ArgNum(m, a, 1, 0));
  if (std::isnan(t.interval)) t.interval = 0;
  t.due = m.clockMs() + t.interval;
  t.repeat = repeat;
  if (a.size() > 2) t.args.assign(a.begin() + 2, a.end());
  if (m.timers.size() >= 10000) m.ThrowError("Error", "Too many timers.", 1000);
  m.timers.push_back(std::move(t));
  return Value::Int(m.timers.back().id);
}
NATIVE(SetTimeout) { return AddTimer(m, a, false); }
NATIVE(SetInterval) { return AddTimer(m, a, true); }
NATIVE(ClearTimer) {
  const std::int32_t id = m.ToInt(m.ArgOr(a, 0));
  std::erase_if(m.timers, [id](const Machine::PendingTimer& t) { return t.id == id; });
  return Value();
}

}  // namespace

// A late interval catches up at most this far behind the clock.
constexpr double kTimerSlackMs = 100;

void Machine::RunTimers() {
  const double now = clockMs();
  // Timers due now, in the order they fall due; those they add wait.
  std::vector<std::int32_t> due;
  for (const auto& t : timers)
    if (t.due <= now) due.push_back(t.id);
  for (std::int32_t id : due) {
    auto it = std::find_if(timers.begin(), timers.end(), [id](const PendingTimer& t) { return t.id == id; });
    if (it == timers.end()) continue;
    PendingTimer t = *it;
    // An interval keeps its own beat, however late the frame that runs it.
    if (t.repeat) it->due = std::max(t.due + std::max(t.interval, 1.0), now - kTimerSlackMs);
    else timers.erase(it);
    RunAtTime(std::min(t.due, now), [&] { SafeCall([&] { Call(t.fn, Value::Null(), t.args); }, "a timer"); });
  }
}

void Machine::RunAtTime(double ms, const std::function<void()>& f) {
  const double held = ms;
  std::function<double()> outer = clockMs;
  clockMs = [held] { return held; };
  struct Restore {
    Machine& m;
    std::function<double()>& outer;
    ~Restore() { m.clockMs = std::move(outer); }
  } restore{*this, outer};
  f();
}

void InstallMoreBuiltins(Machine& m) {
  Class* vector = m.DefineNativeClass("__AS3__.vec", "Vector", m.objectClass, AllocVector, false);
  vector->isVector = true;
  vector->instance.Edit() = m.arrayClass->instance.Bindings();
  m.AddSetter(vector, "length", VectorSetLength);
  m.AddGetter(vector, "fixed", VectorFixed);
  m.AddSetter(vector, "fixed", VectorSetFixed);
  SetNativeCtor(m, vector, VectorCtor);
  m.vectorClass = vector;
  m.vectorObjectClass = vector;
  // The specialised classes under the names the package keeps to itself.
  const NsId vecInternal = m.InternNs(NamespaceKind::kPackageInternal, "__AS3__.vec");
  m.AddGlobal(vecInternal, "Vector$int", Value::Obj(m.VectorOf(m.intClass)->object));
  m.AddGlobal(vecInternal, "Vector$uint", Value::Obj(m.VectorOf(m.uintClass)->object));
  m.AddGlobal(vecInternal, "Vector$double", Value::Obj(m.VectorOf(m.numberClass)->object));
  m.AddGlobal(vecInternal, "Vector$object", Value::Obj(m.VectorOf(nullptr)->object));

  Class* dict = m.DefineNativeClass("flash.utils", "Dictionary", m.objectClass, AllocDictionary, true);
  SetNativeCtor(m, dict, DictionaryCtor);

  Class* re = m.DefineNativeClass("", "RegExp", m.objectClass, AllocRegExp, true);
  SetNativeCtor(m, re, RegExpCtor);
  m.AddMethod(re, "exec", RegExpExec);
  m.AddMethod(re, "test", RegExpTest);
  m.AddMethod(re, "toString", RegExpToString);
  m.AddGetter(re, "source", RegExpSource);
  m.AddGetter(re, "global", RegExpGlobal);
  m.AddGetter(re, "ignoreCase", RegExpIgnoreCase);
  m.AddGetter(re, "multiline", RegExpMultiline);
  m.AddGetter(re, "dotall", RegExpDotall);
  m.AddGetter(re, "extended", RegExpExtended);
  m.AddGetter(re, "lastIndex", RegExpLastIndex);
  m.AddSetter(re, "lastIndex", RegExpSetLastIndex);
  m.AddMethod(m.stringClass, "match", StrMatch);
  m.AddMethod(m.stringClass, "search", StrSearch);
  m.AddMethod(m.stringClass, "replace", StrReplace);
  m.AddMethod(m.stringClass, "split", StrSplit);

  Class* json = m.DefineNativeClass("", "JSON", m.objectClass);
  json->scriptMayNew = false;
  m.AddMethod(json, "parse", JsonParse, true);
  m.AddMethod(json, "stringify", JsonStringify, true);

  Class* date = m.DefineNativeClass("", "Date", m.objectClass, AllocDate, true);
  SetNativeCtor(m, date, DateCtor);
  struct G {
    const char* name;
    NativeFn get;
  };
  for (const G& g : {G{"getFullYear", DateGet<0>}, G{"getMonth", DateGet<1>}, G{"getDate", DateGet<2>},
                     G{"getHours", DateGet<3>}, G{"getMinutes", DateGet<4>}, G{"getSeconds", DateGet<5>},
                     G{"getMilliseconds", DateGet<6>}, G{"getDay", DateGet<7>}, G{"getTime", DateGet<8>},
                     G{"valueOf", DateGet<8>}, G{"getUTCFullYear", DateGet<0, true>}, G{"getUTCMonth", DateGet<1, true>},
                     G{"getUTCDate", DateGet<2, true>}, G{"getUTCHours", DateGet<3, true>},
                     G{"getUTCMinutes", DateGet<4, true>}, G{"getUTCSeconds", DateGet<5, true>},
                     G{"getUTCMilliseconds", DateGet<6, true>}, G{"getUTCDay", DateGet<7, true>},
                     G{"setFullYear", DateSet<0>}, G{"setMonth", DateSet<1>}, G{"setDate", DateSet<2>},
                     G{"setHours", DateSet<3>}, G{"setMinutes", DateSet<4>}, G{"setSeconds", DateSet<5>},
                     G{"setMilliseconds", DateSet<6>}, G{"setTime", DateSet<8>}, G{"toString", DateToString},
                     G{"toUTCString", DateText<3>}, G{"toLocaleString", DateToString}, G{"toDateString", DateText<1>},
                     G{"toTimeString", DateText<2>}, G{"toLocaleDateString", DateText<1>},
                     G{"toLocaleTimeString", DateText<2>}, G{"getTimezoneOffset", DateTimezoneOffset},
                     G{"setUTCFullYear", DateSet<0, true>}, G{"setUTCMonth", DateSet<1, true>},
                     G{"setUTCDate", DateSet<2, true>}, G{"setUTCHours", DateSet<3, true>},
                     G{"setUTCMinutes", DateSet<4, true>}, G{"setUTCSeconds", DateSet<5, true>},
                     G{"setUTCMilliseconds", DateSet<6, true>}}) {
    m.AddMethod(date, g.name, g.get);
  }
  for (const G& g : {G{"fullYear", DateGet<0>}, G{"month", DateGet<1>}, G{"date", DateGet<2>}, G{"hours", DateGet<3>},
                     G{"minutes", DateGet<4>}, G{"seconds", DateGet<5>}, G{"milliseconds", DateGet<6>},
                     G{"day", DateGet<7>}, G{"time", DateGet<8>}, G{"fullYearUTC", DateGet<0, true>},
                     G{"monthUTC", DateGet<1, true>}, G{"dateUTC", DateGet<2, true>}, G{"hoursUTC", DateGet<3, true>},
                     G{"minutesUTC", DateGet<4, true>}, G{"secondsUTC", DateGet<5, true>},
                     G{"millisecondsUTC", DateGet<6, true>}, G{"dayUTC", DateGet<7, true>},
                     G{"timezoneOffset", DateTimezoneOffset}}) {
    m.AddGetter(date, g.name, g.get);
  }
  for (const G& g : {G{"fullYear", DateSet<0>}, G{"month", DateSet<1>}, G{"date", DateSet<2>}, G{"hours", DateSet<3>},
                     G{"minutes", DateSet<4>}, G{"seconds", DateSet<5>}, G{"milliseconds", DateSet<6>},
                     G{"time", DateSet<8>}, G{"fullYearUTC", DateSet<0, true>}, G{"monthUTC", DateSet<1, true>},
                     G{"dateUTC", DateSet<2, true>}, G{"hoursUTC", DateSet<3, true>},
                     G{"minutesUTC", DateSet<4, true>}, G{"secondsUTC", DateSet<5, true>},
                     G{"millisecondsUTC", DateSet<6, true>}}) {
    m.AddSetter(date, g.name, g.get);
  }
  m.AddMethod(date, "UTC", DateUTC, true);
  m.AddMethod(date, "parse", DateParse, true);

  InstallXml(m);
  InstallXmlDom(m);

  InstallByteArray(m);

  m.AddGlobalFunction("flash.utils", "setTimeout", SetTimeout);
  m.AddGlobalFunction("flash.utils", "setInterval", SetInterval);
  m.AddGlobalFunction("flash.utils", "clearTimeout", ClearTimer);
  m.AddGlobalFunction("flash.utils", "clearInterval", ClearTimer);
}

}  // namespace quarvel::avm2
