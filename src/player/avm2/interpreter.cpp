// The instruction loop.
#include <algorithm>
#include <cmath>
#include <limits>

#include "player/avm2/machine.h"

namespace quarvel::avm2 {

namespace {
constexpr std::uint32_t kMaxScopeDepth = 64;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

void Machine::Prepare(Method* m) {
  if (m->prepared) return;
  const AbcFile& f = *m->unit->file;
  const MethodBody* body = f.BodyOf(m->index);
  if (!body) ThrowError("VerifyError", "Method " + m->name + " has no body.", 1011);
  try {
    auto code = std::make_unique<DecodedCode>(DecodeCode(f, *body));
    VerifyCode(f, *body, *code);
    m->targets.assign(code->instructions.size(), -1);
    for (std::size_t i = 0; i < code->instructions.size(); ++i) {
      const Instruction& in = code->instructions[i];
      if (in.Info().operands[0] == Operand::kBranch) m->targets[i] = static_cast<std::int32_t>(code->IndexAt(in.args[0]));
    }
    m->code = std::move(code);
  } catch (const AbcError& e) {
    ThrowError("VerifyError", std::string("Method ") + m->name + " cannot run: " + e.what(), 1011);
  }
  if (!body->traits.empty()) {
    m->activation = std::make_unique<Traits>();
    AddTraits(*m->unit, body->traits, *m->activation, m->owner, false, nullptr, nullptr);
  }
  m->catchTraits.resize(body->exceptions.size());
  m->prepared = true;
}

ScopeChain* Machine::ChainWith(ScopeChain* outer, const Value* scopes, std::size_t count, std::uint64_t withMask) {
  ScopeChain* c = outer;
  for (std::size_t i = 0; i < count; ++i) {
    auto* n = heap_.New<ScopeChain>();
    n->parent = c;
    n->object = scopes[i];
    n->with = i < 64 && ((withMask >> i) & 1);
    c = n;
  }
  return c;
}

Value Machine::FindProperty(const Name& n, ScopeChain* outer, const Value* scopes, std::size_t count, bool strict) {
  for (std::size_t i = count; i-- > 0;) {
    if (scopes[i].IsObject() && HasProperty(scopes[i], n)) return scopes[i];
  }
  Value outermost;
  for (ScopeChain* c = outer; c; c = c->parent) {
    if (c->object.IsObject() && HasProperty(c->object, n)) return c->object;
    outermost = c->object;
  }
  if (Object* g = FindGlobal(n)) return Value::Obj(g);
  if (strict) {
    Name copy = n;
    ThrowError("ReferenceError", "Variable " + (copy.local ? copy.local->text : std::string("?")) + " is not defined.",
               1065);
  }
  if (!outermost.IsUndefined()) return outermost;
  return count ? scopes[0] : Value::Null();
}

// ---- dictionaries and enumeration

Value Machine::DictGet(DictionaryObject* d, const Value& key) {
  if (key.IsObject()) {
    auto it = d->byObject.find(key.o);
    return it == d->byObject.end() ? Value() : d->items[it->second].second;
  }
  auto it = d->byString.find(ToString(key));
  return it == d->byString.end() ? Value() : d->items[it->second].second;
}

void Machine::DictSet(DictionaryObject* d, const Value& key, const Value& v) {
  std::size_t* slot = nullptr;
  if (key.IsObject()) {
    auto it = d->byObject.find(key.o);
    if (it != d->byObject.end()) slot = &it->second;
  } else {
    auto it = d->byString.find(ToString(key));
    if (it != d->byString.end()) slot = &it->second;
  }
  if (slot) {
    d->items[*slot].second = v;
    return;
  }
  const std::size_t i = d->items.size();
  if (key.IsObject()) {
    d->byObject[key.o] = i;
    d->items.emplace_back(key, v);
  } else {
    StringCell* s = ToStringCell(key);
    d->byString[s->text] = i;
    d->items.emplace_back(Value::Str(s), v);
  }
  heap_.AddAllocated(sizeof(Value) * 4);
}

bool Machine::DictDelete(DictionaryObject* d, const Value& key) {
  std::size_t i = 0;
  if (key.IsObject()) {
    auto it = d->byObject.find(key.o);
    if (it == d->byObject.end()) return false;
    i = it->second;
    d->byObject.erase(it);
  } else {
    auto it = d->byString.find(ToString(key));
    if (it == d->byString.end()) return false;
    i = it->second;
    d->byString.erase(it);
  }
  d->items[i] = {Value(), Value()};
  return true;
}

namespace {
// Enumeration positions run 1..: an array's elements, then its dynamic
// properties (a dictionary's entries instead).
std::size_t ElementCount(Object* o) {
  if (o->kind == ObjectKind::kArray || o->kind == ObjectKind::kVector) return static_cast<ArrayObject*>(o)->elems.size();
  return 0;
}
}  // namespace

std::uint32_t Machine::NextIndex(Object* o, std::uint32_t i) {
  if (!o) return 0;
  Value proxied;
  Value at = Value::Int(static_cast<std::int32_t>(i));
  if (proxyClass && ProxyCall(o, "nextNameIndex", std::span<Value>(&at, 1), proxied))
    return ToUint(proxied);
  if (o->kind == ObjectKind::kXml && xmlItem) {
    // An XML list's items (an XML value is a list of itself).
    Value item;
    return xmlItem(*this, o, i, item) ? i + 1 : 0;
  }
  if (o->kind == ObjectKind::kDictionary) {
    auto* d = static_cast<DictionaryObject*>(o);
    for (std::uint32_t k = i; k < d->items.size(); ++k)
      if (!d->items[k].first.IsUndefined()) return k + 1;
    return 0;
  }
  const std::size_t elems = ElementCount(o);
  std::uint32_t k = i;
  if (k < elems) {
    auto* a = static_cast<ArrayObject*>(o);
    // Holes of an array are not listed.
    while (k < elems && o->kind == ObjectKind::kArray && a->elems[k].IsUndefined()) ++k;
    if (k < elems) return k + 1;
  }
  if (!o->dyn) return 0;
  for (std::size_t j = k - elems; j < o->dyn->items.size(); ++j)
    if (o->dyn->Listed(j)) return static_cast<std::uint32_t>(elems + j + 1);
  return 0;
}

Value Machine::NameAt(Object* o, std::uint32_t i) {
  if (!o || i == 0) return Value();
  Value proxied;
  Value at = Value::Int(static_cast<std::int32_t>(i));
  if (proxyClass && ProxyCall(o, "nextName", std::span<Value>(&at, 1), proxied)) return proxied;
  if (o->kind == ObjectKind::kXml) return Str(std::to_string(i - 1));
  if (o->kind == ObjectKind::kDictionary) {
    auto* d = static_cast<DictionaryObject*>(o);
    return i <= d->items.size() ? d->items[i - 1].first : Value();
  }
  const std::size_t elems = ElementCount(o);
  if (i <= elems) return o->kind == ObjectKind::kVector ? Value::Int(static_cast<std::int32_t>(i - 1)) : Str(std::to_string(i - 1));
  if (o->dyn && i - elems - 1 < o->dyn->items.size()) {
    StringCell* s = o->dyn->items[i - elems - 1].first;
    return s ? Value::Str(s) : Value();
  }
  return Value();
}

Value Machine::ValueAt(Object* o, std::uint32_t i) {
  if (!o || i == 0) return Value();
  Value proxied;
  Value at = Value::Int(static_cast<std::int32_t>(i));
  if (proxyClass && ProxyCall(o, "nextValue", std::span<Value>(&at, 1), proxied)) return proxied;
  if (o->kind == ObjectKind::kXml && xmlItem) {
    Value item;
    return xmlItem(*this, o, i - 1, item) ? item : Value();
  }
  if (o->kind == ObjectKind::kDictionary) {
    auto* d = static_cast<DictionaryObject*>(o);
    return i <= d->items.size() ? d->items[i - 1].second : Value();
  }
  const std::size_t elems = ElementCount(o);
  if (i <= elems) return static_cast<ArrayObject*>(o)->elems[i - 1];
  if (o->dyn && i - elems - 1 < o->dyn->items.size()) return o->dyn->items[i - elems - 1].second;
  return Value();
}

// ---- the loop

Value Machine::Interpret(Method* m, const Value& self, std::span<Value> args, ScopeChain* outer, FunctionObject*) {
  Prepare(m);
  AbcUnit& u = *m->unit;
  const AbcFile& f = *u.file;
  const MethodInfo& info = f.methods[m->index];
  const MethodBody& body = *f.BodyOf(m->index);
  const DecodedCode& code = *m->code;
  const auto& ins = code.instructions;
  const auto& pool = f.pool;

  const std::size_t nLocals = std::max<std::size_t>(body.localCount, 1);
  const std::size_t nStack = std::min<std::size_t>(body.maxStack, 65535) + 1;
  const std::size_t nScope = std::min<std::size_t>(body.maxScopeDepth, kMaxScopeDepth) + 1;
  const std::size_t need = nLocals + nStack + nScope;
  if (stackUsed_ + need > stackCapacity_) ThrowError("Error", "Stack overflow occurred.", 1023);
  Value* const locals = stack_ + stackUsed_;
  Value* const stackBase = locals + nLocals;
  Value* const stackEnd = stackBase + nStack;
  Value* const scopeBase = stackEnd;
  const std::size_t savedUsed = stackUsed_;
  stackUsed_ += need;
  struct Restore {
    std::size_t& used;
    std::size_t saved;
    Value* from;
    std::size_t n;
    ~Restore() {
      for (std::size_t i = 0; i < n; ++i) from[i] = Value();
      used = saved;
    }
  } restore{stackUsed_, savedUsed, locals, need};
  for (std::size_t i = 0; i < need; ++i) locals[i] = Value();

  // Arguments: declared ones (with defaults), then rest or arguments.
  locals[0] = self;
  const std::size_t declared = info.paramTypes.size();
  for (std::size_t i = 0; i < declared && i + 1 < nLocals; ++i) {
    if (i < args.size()) {
      locals[i + 1] = args[i];
    } else {
      const std::size_t firstOptional = declared - std::min(declared, info.optional.size());
      if (i >= firstOptional) locals[i + 1] = DefaultFor(u, info.optional[i - firstOptional], 0);
      else if (!info.Has(method_flag::kIgnoreRest) && !info.Has(method_flag::kNeedRest) && !info.Has(method_flag::kNeedArguments) && false)
        ThrowError("ArgumentError", "Argument count mismatch on " + m->name + ".", 1063);
    }
    // Typed parameters of the basic types are converted on entry.
    const std::uint32_t t = info.paramTypes[i];
    if (t && i < args.size()) {
      const Multiname& tm = pool.multinames[t];
      if (tm.kind == MultinameKind::kQName) {
        const std::string& tn = pool.strings[tm.name];
        if (tn == "int") locals[i + 1] = Value::Int(ToInt(locals[i + 1]));
        else if (tn == "uint") locals[i + 1] = Value::Number(ToUint(locals[i + 1]));
        else if (tn == "Number") locals[i + 1] = Value::Number(ToNumber(locals[i + 1]));
        else if (tn == "Boolean") locals[i + 1] = Value::Bool(ToBoolean(locals[i + 1]));
        else if (tn == "String") locals[i + 1] = locals[i + 1].IsNullish() ? Value::Null() : Value::Str(ToStringCell(locals[i + 1]));
      }
    }
  }
  if (declared + 1 < nLocals && (info.Has(method_flag::kNeedRest) || info.Has(method_flag::kNeedArguments))) {
    std::vector<Value> rest;
    for (std::size_t i = info.Has(method_flag::kNeedRest) ? declared : 0; i < args.size(); ++i) rest.push_back(args[i]);
    locals[declared + 1] = Value::Obj(NewArray(std::move(rest)));
  }

  Value* sp = stackBase;  // next free
  std::size_t scopeDepth = 0;
  std::uint64_t withMask = 0;
  std::size_t pc = 0;

#define Q_FAIL(msg) ThrowError("VerifyError", std::string(msg) + " in " + m->name, 1030)
#define PUSH(v)                                   \
  do {                                            \
    if (sp >= stackEnd) Q_FAIL("Stack overflow"); \
    *sp++ = (v);                                  \
  } while (0)
#define NEED(n) \
  if (sp - stackBase < static_cast<std::ptrdiff_t>(n)) Q_FAIL("Stack underflow")
#define TOP sp[-1]

  auto popArgs = [&](std::uint32_t n) -> std::span<Value> {
    NEED(n);
    sp -= n;
    return std::span<Value>(sp, n);
  };
  auto name = [&](std::uint32_t mn, Value* rtName, Value* rtNs) { return ResolveName(u, mn, rtName, rtNs); };
  // Pops the runtime parts of a multiname (name above namespace).
  struct Rt {
    Value name, ns;
  };
  auto popRt = [&](std::uint32_t mn) {
    Rt r;
    const Multiname& mm = pool.multinames[mn];
    if (mm.HasRuntimeName()) {
      NEED(1);
      r.name = *--sp;
    }
    if (mm.HasRuntimeNamespace()) {
      NEED(1);
      r.ns = *--sp;
    }
    return r;
  };
  auto jump = [&](std::size_t i) {
    const std::int32_t t = m->targets[i];
    if (t < 0) Q_FAIL("Bad branch");
    pc = static_cast<std::size_t>(t);
  };
  auto pushScope = [&](const Value& v, bool with) {
    if (scopeDepth >= nScope) Q_FAIL("Scope overflow");
    if (v.IsNullish()) ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
    scopeBase[scopeDepth] = v;
    if (scopeDepth < 64) withMask = with ? (withMask | (std::uint64_t{1} << scopeDepth)) : (withMask & ~(std::uint64_t{1} << scopeDepth));
    ++scopeDepth;
  };
  auto dictOf = [](const Value& v) -> DictionaryObject* {
    return v.IsObject() && v.o->kind == ObjectKind::kDictionary ? static_cast<DictionaryObject*>(v.o) : nullptr;
  };
  auto superClass = [&]() -> Class* {
    if (!m->owner || !m->owner->super) ThrowError("ReferenceError", "No super class for " + m->name + ".", 1070);
    return m->owner->super;
  };

  for (;;) {
    try {
      for (;;) {
        if (pc >= ins.size()) Q_FAIL("Code ran off the end");
        if (++instructions_ > limits.instructionsPerFrame) throw ScriptAbort("instruction cap of one frame's scripts");
        const Instruction& in = ins[pc];
        const std::size_t here = pc++;
        switch (in.code) {
          case 0x01: case 0x02: case 0x09: case 0xEF: case 0xF0: case 0xF1: case 0xF2: case 0xF3:
            break;  // bkpt, nop, label, debug info
          case 0x03: {  // throw
            NEED(1);
            throw ScriptThrow{*--sp};
          }
          case 0x04: {  // getsuper
            Rt rt = popRt(in.args[0]);
            NEED(1);
            Value obj = *--sp;
            Name n = name(in.args[0], &rt.name, &rt.ns);
            Class* sc = superClass();
            const Binding* b = FindBinding(&sc->instance, n);
            PUSH(b ? GetSlotted(obj.AsObject(), *b, obj) : GetProperty(obj, n));
            break;
          }
          case 0x05: {  // setsuper
            NEED(1);
            Value v = *--sp;
            Rt rt = popRt(in.args[0]);
            NEED(1);
            Value obj = *--sp;
            Name n = name(in.args[0], &rt.name, &rt.ns);
            const Binding* b = FindBinding(&superClass()->instance, n);
            if (b && b->kind == Binding::Kind::kAccessor && b->setter) {
              Invoke(b->setter, obj, std::span<Value>(&v, 1), b->setter->scope);
            } else {
              SetProperty(obj, n, v);
            }
            break;
          }
          case 0x06: case 0x07:  // dxns, dxnslate
            if (in.code == 0x07) {
              NEED(1);
              --sp;
            }
            Skip("default xml namespace");
            break;
          case 0x08:  // kill
            locals[in.args[0]] = Value();
            break;
          case 0x0C: case 0x0D: case 0x0E: case 0x0F: case 0x15: case 0x16: case 0x17: case 0x18: {
            NEED(2);
            const Value b = *--sp, a = *--sp;
            int r = 0;
            switch (in.code) {
              case 0x0C: case 0x15: r = LessThan(a, b); break;           // <
              case 0x0D: case 0x16: r = LessThan(b, a); r = r < 0 ? -1 : !r; break;  // <=
              case 0x0E: case 0x17: r = LessThan(b, a); break;           // >
              case 0x0F: case 0x18: r = LessThan(a, b); r = r < 0 ? -1 : !r; break;  // >=
            }
            const bool yes = r == 1;
            if ((in.code >= 0x15) == yes) jump(here);
            break;
          }
          case 0x10:
            jump(here);
            break;
          case 0x11: case 0x12: {
            NEED(1);
            const bool t = ToBoolean(*--sp);
            if (t == (in.code == 0x11)) jump(here);
            break;
          }
          case 0x13: case 0x14: {
            NEED(2);
            const Value b = *--sp, a = *--sp;
            if (Equals(a, b) == (in.code == 0x13)) jump(here);
            break;
          }
          case 0x19: case 0x1A: {
            NEED(2);
            const Value b = *--sp, a = *--sp;
            if (StrictEquals(a, b) == (in.code == 0x19)) jump(here);
            break;
          }
          case 0x1B: {  // lookupswitch
            NEED(1);
            const std::int32_t idx = ToInt(*--sp);
            std::uint32_t target = in.args[0];
            if (idx >= 0 && static_cast<std::uint32_t>(idx) < in.args[1]) target = code.switchTargets[in.args[2] + static_cast<std::uint32_t>(idx)];
            const std::int64_t t = code.IndexAt(target);
            if (t < 0) Q_FAIL("Bad switch");
            pc = static_cast<std::size_t>(t);
            break;
          }
          case 0x1C: {  // pushwith
            NEED(1);
            pushScope(*--sp, true);
            break;
          }
          case 0x1D:  // popscope
            if (scopeDepth == 0) Q_FAIL("Scope underflow");
            scopeBase[--scopeDepth] = Value();
            break;
          case 0x1E: case 0x23: {  // nextname, nextvalue
            NEED(2);
            const Value idx = *--sp, obj = *--sp;
            Object* o = obj.AsObject();
            const auto i = ToUint(idx);
            PUSH(in.code == 0x1E ? NameAt(o, i) : ValueAt(o, i));
            break;
          }
          case 0x1F: {  // hasnext
            NEED(2);
            const Value idx = *--sp, obj = *--sp;
            PUSH(Value::Int(static_cast<std::int32_t>(NextIndex(obj.AsObject(), ToUint(idx)))));
            break;
          }
          case 0x20: PUSH(Value::Null()); break;
          case 0x21: PUSH(Value()); break;
          case 0x24: PUSH(Value::Int(in.Signed(0))); break;
          case 0x25: PUSH(Value::Int(static_cast<std::int16_t>(in.args[0] & 0xFFFF))); break;
          case 0x26: PUSH(Value::Bool(true)); break;
          case 0x27: PUSH(Value::Bool(false)); break;
          case 0x28: PUSH(Value::Number(kNaN)); break;
          case 0x29:
            NEED(1);
            --sp;
            break;
          case 0x2A: {
            NEED(1);
            const Value t = TOP;
            PUSH(t);
            break;
          }
          case 0x2B:
            NEED(2);
            std::swap(sp[-1], sp[-2]);
            break;
          case 0x2C: PUSH(Value::Str(u.strings[in.args[0]])); break;
          case 0x2D: PUSH(Value::Int(pool.ints[in.args[0]])); break;
          case 0x2E: PUSH(Value::Number(pool.uints[in.args[0]])); break;
          case 0x2F: PUSH(Value::Number(pool.doubles[in.args[0]])); break;
          case 0x30:
            NEED(1);
            pushScope(*--sp, false);
            break;
          case 0x31: {  // pushnamespace
            Object* ns = Instantiate(namespaceClass);
            ns->kind = ObjectKind::kNamespace;
            ns->SetDyn(Intern("uri"), Value::Str(u.strings[pool.namespaces[in.args[0]].name]));
            PUSH(Value::Obj(ns));
            break;
          }
          case 0x32: {  // hasnext2
            Value& obj = locals[in.args[0]];
            Value& idx = locals[in.args[1]];
            Object* o = obj.AsObject();
            std::uint32_t next = o ? NextIndex(o, ToUint(idx)) : 0;
            if (next == 0) {
              obj = Value::Null();
              idx = Value::Int(0);
              PUSH(Value::Bool(false));
            } else {
              idx = Value::Int(static_cast<std::int32_t>(next));
              PUSH(Value::Bool(true));
            }
            break;
          }
          case 0x35: case 0x36: case 0x37: case 0x38: case 0x39: case 0x3A: case 0x3B: case 0x3C: case 0x3D: case 0x3E:
            ThrowError("VerifyError", "Fast memory instructions are not supported.", 1011);
          case 0x40: {  // newfunction
            Method* fm = nullptr;
            if (in.args[0] < u.methods.size()) {
              if (!u.methods[in.args[0]]) {
                u.methods[in.args[0]] = std::make_unique<Method>();
                u.methods[in.args[0]]->unit = &u;
                u.methods[in.args[0]]->index = in.args[0];
                u.methods[in.args[0]]->name = m->name + "/<anonymous>";
              }
              fm = u.methods[in.args[0]].get();
            }
            if (!fm) Q_FAIL("Bad method");
            PUSH(Value::Obj(NewFunction(fm, ChainWith(outer, scopeBase, scopeDepth, withMask))));
            break;
          }
          case 0x41: {  // call
            auto a = popArgs(in.args[0]);
            auto copy = a;
            NEED(2);
            const Value recv = *--sp, fn = *--sp;
            PUSH(Call(fn, recv, copy));
            break;
          }
          case 0x42: {  // construct
            auto a = popArgs(in.args[0]);
            auto copy = a;
            NEED(1);
            const Value fn = *--sp;
            PUSH(ConstructValue(fn, copy));
            break;
          }
          case 0x43: case 0x44: {  // callmethod, callstatic
            auto a = popArgs(in.args[1]);
            auto copy = a;
            NEED(1);
            const Value recv = *--sp;
            Method* target = nullptr;
            if (in.code == 0x43) {
              Object* o = recv.AsObject();
              if (o && o->traits && in.args[0] < o->traits->dispatch.size()) target = o->traits->dispatch[in.args[0]];
            } else if (in.args[0] < u.methods.size()) {
              target = u.methods[in.args[0]].get();
            }
            if (!target) ThrowError("VerifyError", "No method for callmethod/callstatic.", 1051);
            PUSH(Invoke(target, recv, copy, target->scope));
            break;
          }
          case 0x45: case 0x4E: {  // callsuper, callsupervoid
            auto a = popArgs(in.args[1]);
            auto copy = a;
            Rt rt = popRt(in.args[0]);
            NEED(1);
            const Value recv = *--sp;
            Name n = name(in.args[0], &rt.name, &rt.ns);
            const Binding* b = FindBinding(&superClass()->instance, n);
            Value r;
            if (b && b->kind == Binding::Kind::kMethod) r = Invoke(b->method, recv, copy, b->method->scope);
            else if (b) r = Call(GetSlotted(recv.AsObject(), *b, recv), recv, copy);
            else ThrowError("ReferenceError", "Super method " + (n.local ? n.local->text : std::string("?")) + " not found.", 1070);
            if (in.code == 0x45) PUSH(r);
            break;
          }
          case 0x46: case 0x4C: case 0x4F: {  // callproperty, callproplex, callpropvoid
            auto a = popArgs(in.args[1]);
            auto copy = a;
            Rt rt = popRt(in.args[0]);
            NEED(1);
            const Value recv = *--sp;
            Name n = name(in.args[0], &rt.name, &rt.ns);
            Value r = CallProperty(recv, n, copy, in.code == 0x4C);
            if (in.code != 0x4F) PUSH(r);
            break;
          }
          case 0x47:
            return Value();
          case 0x48:
            NEED(1);
            return *--sp;
          case 0x49: {  // constructsuper
            auto a = popArgs(in.args[0]);
            auto copy = a;
            NEED(1);
            const Value recv = *--sp;
            Class* c = m->owner ? m->owner->super : nullptr;
            while (c && !c->iinit) c = c->super;
            if (c) Invoke(c->iinit, recv, copy, c->iinit->scope);
            break;
          }
          case 0x4A: {  // constructprop
            auto a = popArgs(in.args[1]);
            auto copy = a;
            Rt rt = popRt(in.args[0]);
            NEED(1);
            const Value recv = *--sp;
            Name n = name(in.args[0], &rt.name, &rt.ns);
            const Value ctor = GetProperty(recv, n);
            if (ctor.IsUndefined())
              ThrowError("TypeError", "Instantiation attempted on a non-constructor " + (n.local ? n.local->text : std::string("?")) + ".", 1007);
            PUSH(ConstructValue(ctor, copy));
            break;
          }
          case 0x50: NEED(1); TOP = Value::Int((ToInt(TOP) & 1) ? -1 : 0); break;
          case 0x51: NEED(1); TOP = Value::Int(static_cast<std::int8_t>(ToInt(TOP) & 0xFF)); break;
          case 0x52: NEED(1); TOP = Value::Int(static_cast<std::int16_t>(ToInt(TOP) & 0xFFFF)); break;
          case 0x53: {  // applytype
            auto a = popArgs(in.args[0]);
            NEED(1);
            Value base = *--sp;
            Class* elem = nullptr;
            if (!a.empty() && a[0].IsObject() && a[0].o->kind == ObjectKind::kClass) elem = static_cast<ClassObject*>(a[0].o)->of;
            if (base.IsObject() && base.o->kind == ObjectKind::kClass && static_cast<ClassObject*>(base.o)->of == vectorClass) {
              PUSH(Value::Obj(VectorOf(elem)->object));
            } else {
              PUSH(base);
            }
            break;
          }
          case 0x55: {  // newobject
            auto a = popArgs(in.args[0] * 2);
            Object* o = NewObject();
            for (std::size_t i = 0; i + 1 < a.size(); i += 2) o->SetDyn(ToStringCell(a[i]), a[i + 1]);
            PUSH(Value::Obj(o));
            break;
          }
          case 0x56: {  // newarray
            auto a = popArgs(in.args[0]);
            PUSH(Value::Obj(NewArray(std::vector<Value>(a.begin(), a.end()))));
            break;
          }
          case 0x57: {  // newactivation
            Object* act = heap_.New<Object>();
            act->cls = objectClass;
            if (m->activation) {
              act->traits = m->activation.get();
              InitSlots(act, *m->activation);
            }
            act->dynamic = false;
            PUSH(Value::Obj(act));
            break;
          }
          case 0x58: {  // newclass
            NEED(1);
            const Value base = *--sp;
            Class* super = objectClass;
            if (base.IsObject() && base.o->kind == ObjectKind::kClass) super = static_cast<ClassObject*>(base.o)->of;
            if (super->isFinal) ThrowError("VerifyError", "Class " + super->name + " is final.", 1103);
            Class* c = MakeClass(u, in.args[0], ChainWith(outer, scopeBase, scopeDepth, withMask), super);
            PUSH(Value::Obj(c->object));
            break;
          }
          case 0x59: {  // getdescendants
            Rt rt = popRt(in.args[0]);
            NEED(1);
            const Value obj = *--sp;
            Object* xo = obj.AsObject();
            if (!xo || xo->kind != ObjectKind::kXml || !xmlDescendants) {
              ThrowError("TypeError", "Descendants operator (..) not supported on type " +
                                          (ClassOf(obj) ? ClassOf(obj)->name : std::string("null")) + ".", 1016);
            }
            PUSH(xmlDescendants(*this, xo, name(in.args[0], &rt.name, &rt.ns)));
            break;
          }
          case 0x5A: {  // newcatch
            const std::uint32_t ei = in.args[0];
            if (ei >= body.exceptions.size()) Q_FAIL("Bad exception index");
            if (!m->catchTraits[ei]) {
              auto t = std::make_unique<Traits>();
              const std::uint32_t vn = body.exceptions[ei].varName;
              if (vn) {
                const Multiname& mm = pool.multinames[vn];
                Binding b;
                b.slot = 0;
                t->slots.push_back(SlotInfo{});
                const NsId ns = mm.kind == MultinameKind::kQName ? u.nss[mm.ns] : kPublicNs;
                t->map[Key(ns, u.nameIds[mm.name])] = b;
              }
              m->catchTraits[ei] = std::move(t);
            }
            Object* o = heap_.New<Object>();
            o->cls = objectClass;
            o->traits = m->catchTraits[ei].get();
            InitSlots(o, *o->traits);
            o->dynamic = false;
            PUSH(Value::Obj(o));
            break;
          }
          case 0x5D: case 0x5E: case 0x60: case 0x5F: {  // findpropstrict, findproperty, getlex, finddef
            Rt rt = popRt(in.args[0]);
            Name n = name(in.args[0], &rt.name, &rt.ns);
            if (in.code == 0x5F) {
              Object* g = FindGlobal(n);
              PUSH(g ? Value::Obj(g) : Value::Null());
              break;
            }
            const Value holder = FindProperty(n, outer, scopeBase, scopeDepth, in.code != 0x5E);
            if (in.code == 0x60) PUSH(GetProperty(holder, n));
            else PUSH(holder);
            break;
          }
          case 0x61: case 0x68: {  // setproperty, initproperty
            NEED(1);
            const Value v = *--sp;
            Rt rt = popRt(in.args[0]);
            NEED(1);
            const Value obj = *--sp;
            if (DictionaryObject* d = dictOf(obj); d && pool.multinames[in.args[0]].HasRuntimeName()) {
              DictSet(d, rt.name, v);
              break;
            }
            SetProperty(obj, name(in.args[0], &rt.name, &rt.ns), v, in.code == 0x68);
            break;
          }
          case 0x62: PUSH(locals[in.args[0]]); break;
          case 0x63:
            NEED(1);
            locals[in.args[0]] = *--sp;
            break;
          case 0x64: {  // getglobalscope
            ScopeChain* c = outer;
            while (c && c->parent) c = c->parent;
            PUSH(c ? c->object : (scopeDepth ? scopeBase[0] : Value::Null()));
            break;
          }
          case 0x65:  // getscopeobject
            if (in.args[0] >= scopeDepth) Q_FAIL("Bad scope index");
            PUSH(scopeBase[in.args[0]]);
            break;
          case 0x67: {  // getouterscope
            std::vector<ScopeChain*> chain;
            for (ScopeChain* c = outer; c; c = c->parent) chain.push_back(c);
            if (in.args[0] >= chain.size()) Q_FAIL("Bad outer scope index");
            PUSH(chain[chain.size() - 1 - in.args[0]]->object);
            break;
          }
          case 0x66: {  // getproperty
            Rt rt = popRt(in.args[0]);
            NEED(1);
            const Value obj = *--sp;
            if (DictionaryObject* d = dictOf(obj); d && pool.multinames[in.args[0]].HasRuntimeName()) {
              PUSH(DictGet(d, rt.name));
              break;
            }
            PUSH(GetProperty(obj, name(in.args[0], &rt.name, &rt.ns)));
            break;
          }
          case 0x6A: {  // deleteproperty
            Rt rt = popRt(in.args[0]);
            NEED(1);
            const Value obj = *--sp;
            if (DictionaryObject* d = dictOf(obj); d && pool.multinames[in.args[0]].HasRuntimeName()) {
              PUSH(Value::Bool(DictDelete(d, rt.name)));
              break;
            }
            PUSH(Value::Bool(DeleteProperty(obj, name(in.args[0], &rt.name, &rt.ns))));
            break;
          }
          case 0x6C: case 0x6D: {  // getslot, setslot
            Value v;
            if (in.code == 0x6D) {
              NEED(1);
              v = *--sp;
            }
            NEED(1);
            const Value obj = *--sp;
            Object* o = ToObject(obj);
            const std::uint32_t s = in.args[0] - 1;
            if (!o || s >= o->slots.size()) ThrowError("VerifyError", "Slot " + std::to_string(in.args[0]) + " out of range.", 1026);
            if (in.code == 0x6C) PUSH(o->slots[s]);
            else o->slots[s] = v;
            break;
          }
          case 0x6E: case 0x6F: {  // getglobalslot, setglobalslot
            ScopeChain* c = outer;
            while (c && c->parent) c = c->parent;
            Object* g = c ? c->object.AsObject() : (scopeDepth ? scopeBase[0].AsObject() : nullptr);
            const std::uint32_t s = in.args[0] - 1;
            if (!g || s >= g->slots.size()) ThrowError("VerifyError", "Global slot out of range.", 1026);
            if (in.code == 0x6E) {
              PUSH(g->slots[s]);
            } else {
              NEED(1);
              g->slots[s] = *--sp;
            }
            break;
          }
          case 0x70: case 0x85:  // convert_s, coerce_s
            NEED(1);
            TOP = (in.code == 0x85 && TOP.IsNullish()) ? Value::Null() : Value::Str(ToStringCell(TOP));
            break;
          case 0x71: case 0x72:  // esc_xelem, esc_xattr
            NEED(1);
            TOP = Value::Str(ToStringCell(TOP));
            break;
          case 0x73: case 0x83: NEED(1); TOP = Value::Int(ToInt(TOP)); break;
          case 0x74: case 0x88: NEED(1); TOP = Value::Number(ToUint(TOP)); break;
          case 0x75: case 0x84: NEED(1); TOP = Value::Number(ToNumber(TOP)); break;
          case 0x76: case 0x81: NEED(1); TOP = Value::Bool(ToBoolean(TOP)); break;
          case 0x77:  // convert_o
            NEED(1);
            if (TOP.IsNullish()) ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
            break;
          case 0x78: NEED(1); break;  // checkfilter
          case 0x80: {  // coerce
            NEED(1);
            Class* c = ResolveType(u, in.args[0]);
            TOP = Coerce(TOP, c);
            break;
          }
          case 0x82: NEED(1); break;  // coerce_a
          case 0x89:  // coerce_o
            NEED(1);
            if (TOP.IsUndefined()) TOP = Value::Null();
            break;
          case 0x86: {  // astype
            NEED(1);
            Class* c = ResolveType(u, in.args[0]);
            if (!IsType(TOP, c)) TOP = Value::Null();
            break;
          }
          case 0x87: {  // astypelate
            NEED(2);
            const Value t = *--sp;
            Class* c = t.IsObject() && t.o->kind == ObjectKind::kClass ? static_cast<ClassObject*>(t.o)->of : nullptr;
            if (!c) ThrowError("TypeError", "The right side of 'as' must be a class.", 1041);
            if (!IsType(TOP, c)) TOP = Value::Null();
            break;
          }
          case 0x90: NEED(1); TOP = Value::Number(-ToNumber(TOP)); break;
          case 0x91: NEED(1); TOP = Value::Number(ToNumber(TOP) + 1); break;
          case 0x93: NEED(1); TOP = Value::Number(ToNumber(TOP) - 1); break;
          case 0x92: locals[in.args[0]] = Value::Number(ToNumber(locals[in.args[0]]) + 1); break;
          case 0x94: locals[in.args[0]] = Value::Number(ToNumber(locals[in.args[0]]) - 1); break;
          case 0xC0: NEED(1); TOP = Value::Int(static_cast<std::int32_t>(static_cast<std::uint32_t>(ToInt(TOP)) + 1u)); break;
          case 0xC1: NEED(1); TOP = Value::Int(static_cast<std::int32_t>(static_cast<std::uint32_t>(ToInt(TOP)) - 1u)); break;
          case 0xC2: locals[in.args[0]] = Value::Int(static_cast<std::int32_t>(static_cast<std::uint32_t>(ToInt(locals[in.args[0]])) + 1u)); break;
          case 0xC3: locals[in.args[0]] = Value::Int(static_cast<std::int32_t>(static_cast<std::uint32_t>(ToInt(locals[in.args[0]])) - 1u)); break;
          case 0xC4: NEED(1); TOP = Value::Int(static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(ToInt(TOP)))); break;
          case 0x95: NEED(1); TOP = Str(TypeOf(TOP)); break;
          case 0x96: NEED(1); TOP = Value::Bool(!ToBoolean(TOP)); break;
          case 0x97: NEED(1); TOP = Value::Int(~ToInt(TOP)); break;
          case 0xA0: {
            NEED(2);
            const Value b = *--sp;
            TOP = Add(TOP, b);
            break;
          }
          case 0xA1: case 0xA2: case 0xA3: case 0xA4: {
            NEED(2);
            const Value bv = *--sp;
            if (in.code == 0xA1 && TOP.type == Type::kInt && bv.type == Type::kInt) {
              TOP = Value::Number(static_cast<double>(TOP.i) - bv.i);
              break;
            }
            const double a = ToNumber(TOP), b = ToNumber(bv);
            double r = 0;
            switch (in.code) {
              case 0xA1: r = a - b; break;
              case 0xA2: r = a * b; break;
              case 0xA3: r = a / b; break;
              default: r = std::fmod(a, b); break;
            }
            TOP = Value::Number(r);
            break;
          }
          case 0xA5: case 0xA6: case 0xA7: case 0xA8: case 0xA9: case 0xAA: case 0xC5: case 0xC6: case 0xC7: {
            NEED(2);
            const Value bv = *--sp;
            const std::int32_t a = ToInt(TOP), b = ToInt(bv);
            const auto ua = static_cast<std::uint32_t>(a), ub = static_cast<std::uint32_t>(b);
            switch (in.code) {
              case 0xA5: TOP = Value::Int(static_cast<std::int32_t>(ua << (ub & 31))); break;
              case 0xA6: TOP = Value::Int(a >> (ub & 31)); break;
              case 0xA7: TOP = Value::Number(ToUint(TOP) >> (ub & 31)); break;
              case 0xA8: TOP = Value::Int(a & b); break;
              case 0xA9: TOP = Value::Int(a | b); break;
              case 0xAA: TOP = Value::Int(a ^ b); break;
              case 0xC5: TOP = Value::Int(static_cast<std::int32_t>(ua + ub)); break;
              case 0xC6: TOP = Value::Int(static_cast<std::int32_t>(ua - ub)); break;
              default: TOP = Value::Int(static_cast<std::int32_t>(ua * ub)); break;
            }
            break;
          }
          case 0xAB: case 0xAC: case 0xAD: case 0xAE: case 0xAF: case 0xB0: {
            NEED(2);
            const Value b = *--sp, a = TOP;
            bool r = false;
            switch (in.code) {
              case 0xAB: r = Equals(a, b); break;
              case 0xAC: r = StrictEquals(a, b); break;
              case 0xAD: r = LessThan(a, b) == 1; break;
              case 0xAE: r = LessThan(b, a) == 0; break;
              case 0xAF: r = LessThan(b, a) == 1; break;
              default: r = LessThan(a, b) == 0; break;
            }
            TOP = Value::Bool(r);
            break;
          }
          case 0xB1: {  // instanceof
            NEED(2);
            const Value t = *--sp, v = TOP;
            bool r = false;
            if (t.IsObject() && t.o->kind == ObjectKind::kClass) {
              Class* c = static_cast<ClassObject*>(t.o)->of;
              if (v.IsObject()) {
                for (Object* p = v.o->proto; p && !r; p = p->proto) r = p == c->prototype;
              } else {
                r = IsType(v, c) && !c->isInterface;
              }
            } else if (t.IsObject() && t.o->kind == ObjectKind::kFunction && v.IsObject()) {
              Value proto = GetProperty(t, "prototype");
              for (Object* p = v.o->proto; p && !r; p = p->proto) r = proto.IsObject() && p == proto.o;
            } else if (!t.IsObject()) {
              ThrowError("TypeError", "The right side of instanceof must be a class or function.", 1040);
            }
            TOP = Value::Bool(r);
            break;
          }
          case 0xB2: {  // istype
            NEED(1);
            Class* c = ResolveType(u, in.args[0]);
            TOP = Value::Bool(IsType(TOP, c));
            break;
          }
          case 0xB3: {  // istypelate
            NEED(2);
            const Value t = *--sp;
            Class* c = t.IsObject() && t.o->kind == ObjectKind::kClass ? static_cast<ClassObject*>(t.o)->of : nullptr;
            if (!c) ThrowError("TypeError", "The right side of 'is' must be a class.", 1041);
            TOP = Value::Bool(IsType(TOP, c));
            break;
          }
          case 0xB4: {  // in
            NEED(2);
            const Value obj = *--sp, key = TOP;
            if (DictionaryObject* d = dictOf(obj)) {
              TOP = Value::Bool(!DictGet(d, key).IsUndefined() || (key.IsObject() ? d->byObject.count(key.o) : d->byString.count(ToString(key))));
              break;
            }
            if (obj.IsNullish()) ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
            Name n = NameFromString(ToString(key));
            TOP = Value::Bool(HasProperty(obj, n));
            break;
          }
          case 0xD0: case 0xD1: case 0xD2: case 0xD3: PUSH(locals[in.code - 0xD0]); break;
          case 0xD4: case 0xD5: case 0xD6: case 0xD7:
            NEED(1);
            locals[in.code - 0xD4] = *--sp;
            break;
          default:
            ThrowError("VerifyError", "Unknown instruction " + std::to_string(in.code) + ".", 1011);
        }
      }
    } catch (const ScriptThrow& t) {
      // The innermost handler that covers the instruction and takes the type.
      const std::uint32_t at = ins[pc == 0 ? 0 : pc - 1].offset;
      const ExceptionInfo* handler = nullptr;
      for (const ExceptionInfo& e : body.exceptions) {
        if (at < e.from || at >= e.to) continue;
        if (e.type != 0) {
          Class* c = ResolveType(u, e.type);
          if (c && !IsType(t.value, c)) continue;
        }
        handler = &e;
        break;
      }
      if (!handler) throw;
      const std::int64_t target = code.IndexAt(handler->target);
      if (target < 0) throw;
      for (Value* p = stackBase; p < sp; ++p) *p = Value();
      sp = stackBase;
      for (std::size_t i = 0; i < scopeDepth; ++i) scopeBase[i] = Value();
      scopeDepth = 0;
      withMask = 0;
      *sp++ = t.value;
      pc = static_cast<std::size_t>(target);
    }
  }
#undef PUSH
#undef NEED
#undef TOP
#undef Q_FAIL
}

}  // namespace quarvel::avm2
