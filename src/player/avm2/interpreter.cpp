// The instruction loop: a method's frame, its arguments, the fetch and
// dispatch of decoded instructions through the handler table, and the
// exception table. The handlers are in ops_*.cpp.
#include <algorithm>
#include <string>
#include <vector>

#include "player/avm2/builtins_util.h"
#include "player/avm2/interp.h"
#include "player/avm2/machine.h"

namespace quarvel::avm2 {

namespace {
constexpr std::uint32_t kMaxScopeDepth = 64;
}  // namespace

void Machine::Prepare(Method* m) {
  if (m->prepared) return;
  // Verified before it runs: its errors come from its caller.
  const AbcFile& f = *m->unit->file;
  const MethodBody* body = f.BodyOf(m->index);
  if (!body) ThrowFromCaller("VerifyError", "The method " + TraceNameOf(*m) + "() is not implemented.", 1001);
  try {
    auto code = std::make_unique<DecodedCode>(DecodeCode(f, *body));
    VerifyCode(f, *body, *code);
    VerifyStack(f, *body, *code);
    m->targets.assign(code->instructions.size(), -1);
    for (std::size_t i = 0; i < code->instructions.size(); ++i) {
      const Instruction& in = code->instructions[i];
      if (in.Info().operands[0] == Operand::kBranch) m->targets[i] = static_cast<std::int32_t>(code->IndexAt(in.args[0]));
    }
    CheckMethodUses(*m->unit, *code, body->codeOffset);
    m->code = std::move(code);
    BindReceiverSlots(m, f, *body);
  } catch (const AbcError& e) {
    if (e.FlashId()) {
      std::string text = e.FlashMessage();
      if (const auto at = text.find("%M"); at != std::string::npos) text.replace(at, 2, TraceNameOf(*m) + "()");
      ThrowFromCaller("VerifyError", text, e.FlashId());
    }
    ThrowFromCaller("VerifyError", std::string("Method ") + m->name + " cannot run: " + e.what(), 1011);
  }
  // Typed parameters of the basic types are converted on entry; undefined
  // given for any other type but * arrives as null.
  const MethodInfo& info = f.methods[m->index];
  m->paramConversions.assign(info.paramTypes.size(), Method::ParamConversion::kNone);
  for (std::size_t i = 0; i < info.paramTypes.size(); ++i) {
    const std::uint32_t t = info.paramTypes[i];
    if (!t || t >= f.pool.multinames.size()) continue;
    const Multiname& tm = f.pool.multinames[t];
    const std::string* tn = tm.kind == MultinameKind::kQName && tm.name < f.pool.strings.size() ? &f.pool.strings[tm.name] : nullptr;
    using C = Method::ParamConversion;
    m->paramConversions[i] = !tn               ? C::kNullForUndefined
                             : *tn == "int"     ? C::kInt
                             : *tn == "uint"    ? C::kUint
                             : *tn == "Number"  ? C::kNumber
                             : *tn == "Boolean" ? C::kBoolean
                             : *tn == "String"  ? C::kString
                                                : C::kNullForUndefined;
  }
  if (!body->traits.empty()) {
    m->activation = std::make_unique<Traits>();
    AddTraits(*m->unit, body->traits, *m->activation, m->owner, false, nullptr, nullptr);
  }
  m->catchTraits.resize(body->exceptions.size());
  m->prepared = true;
}

// A method body belongs to one place: newfunction of a class's method, or
// callstatic of a method nothing declared, is corrupt code to Flash's
// verifier.
void Machine::CheckMethodUses(const AbcUnit& u, const DecodedCode& code, std::size_t codeOffset) {
  for (const Instruction& in : code.instructions) {
    const auto op = static_cast<Op>(in.code);
    if (op != Op::kNewFunction && op != Op::kCallStatic) continue;
    const Method* target = in.args[0] < u.methods.size() ? u.methods[in.args[0]].get() : nullptr;
    const bool misused = op == Op::kNewFunction ? target && target->owner : !target;
    if (misused)
      throw AbcError(std::string(in.Info().name) + " of method " + std::to_string(in.args[0]) +
                         (op == Op::kNewFunction ? ", a class's" : ", declared nowhere"),
                     codeOffset + in.offset, 1107, "The ABC data is corrupt, attempt to read out of bounds.");
  }
}

// Flash's verifier knows register 0 of a class's method as an instance of
// that class, and binds a fixed name read or written on it to the class's
// own trait. Only slots differ from a look-up on the object (methods and
// accessors dispatch to the object's overrides either way); this is the one
// place where verification, not the object, fixes a name's binding.
void Machine::BindReceiverSlots(Method* m, const AbcFile& f, const MethodBody& body) {
  m->receiverSlots.clear();
  Class* owner = m->owner;
  if (!owner || !owner->unit || owner->isInterface) return;
  const std::vector<bool> onReceiver = ReceiverIsRegister0(f, body, *m->code);
  if (onReceiver.empty()) return;
  bool any = false;
  std::vector<std::int32_t> slots(onReceiver.size(), -1);
  for (std::size_t i = 0; i < onReceiver.size(); ++i) {
    if (!onReceiver[i]) continue;
    const Instruction& in = m->code->instructions[i];
    const Multiname& mn = f.pool.multinames[in.args[0]];
    if (mn.HasRuntimeName() || mn.HasRuntimeNamespace() || mn.IsAttribute() || mn.kind == MultinameKind::kTypeName)
      continue;
    const Binding* b = FindBinding(&owner->instance, ResolveName(*m->unit, in.args[0], nullptr, nullptr));
    if (!b || b->kind != Binding::Kind::kSlot) continue;
    // A constant is written by name, which refuses it outside initialisers.
    if (b->isConst && static_cast<Op>(in.code) == Op::kSetProperty) continue;
    slots[i] = static_cast<std::int32_t>(b->slot);
    any = true;
  }
  if (any) m->receiverSlots = std::move(slots);
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

Value Machine::FindProperty(const Name& n, ScopeChain* outer, const Value* scopes, std::size_t count, bool strict,
                            std::uint64_t withMask) {
  const auto has = [&](const Value& v, bool every) {
    // A primitive pushed as the outermost scope answers through its class.
    if (!v.IsObject()) return every && !v.IsNullish() && HasProperty(v, n);
    return every ? HasProperty(v, n) : FindBinding(v.o->traits, n) != nullptr;
  };
  // The outermost scope, the script's global, is searched last: its traits,
  // then every script's and the core library's definitions, then its
  // dynamic properties (a global's `int` never hides the class). A script's
  // initialiser runs below its global alone: what it pushes first is that
  // outermost scope.
  const bool bottomIsOutermost =
      !outer || (!outer->parent && outer->object.IsObject() && outer->object.o->scriptGlobal);
  Value global;
  for (std::size_t i = count; i-- > 0;) {
    const bool with = i < 64 && ((withMask >> i) & 1);
    if (i == 0 && bottomIsOutermost && !with) {
      global = scopes[i];
      break;
    }
    if (has(scopes[i], with)) return scopes[i];
  }
  Value outermost;
  for (ScopeChain* c = outer; c; c = c->parent) {
    if (!c->parent && !c->with) {
      if (global.IsUndefined()) {
        global = c->object;
      } else if (!(global.IsObject() && c->object.IsObject() && global.o == c->object.o) && has(c->object, true)) {
        return c->object;
      }
      break;
    }
    if (has(c->object, c->with)) return c->object;
    outermost = c->object;
  }
  if (!global.IsUndefined()) {
    outermost = global;
    if (has(global, false)) return global;
  }
  if (Object* g = FindGlobal(n)) return Value::Obj(g);
  if (has(global, true)) return global;
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
  Charge(sizeof(Value) * 4);
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

namespace {
// Flash keeps a name that is an array index as a number: for..in gives it so.
Value IndexName(const Value& name) {
  std::uint32_t index = 0;
  if (name.IsString() && ParseIndex(name.s->text, index) && index <= 0x7FFFFFFF)
    return Value::Int(static_cast<std::int32_t>(index));
  return name;
}
}  // namespace

namespace {
// A QName lists its two properties: by name uri then localName, by value
// localName then uri, as Flash's enumeration of it does.
bool IsQName(Object* o) { return o->cls && o->cls->name == "QName" && o->cls->package.empty() && !o->cls->unit; }
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
  if (IsQName(o)) return i < 2 ? i + 1 : 0;
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
    while (k < elems && o->kind == ObjectKind::kArray && a->elems[k].IsHole()) ++k;
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
  if (o->kind == ObjectKind::kXml) {
    Value item;
    return xmlItem && xmlItem(*this, o, i - 1, item) ? Str(std::to_string(i - 1)) : Value::Null();
  }
  if (IsQName(o)) return i <= 2 ? Str(i == 1 ? "uri" : "localName") : Value();
  if (o->kind == ObjectKind::kDictionary) {
    auto* d = static_cast<DictionaryObject*>(o);
    return i <= d->items.size() ? IndexName(d->items[i - 1].first) : Value();
  }
  const std::size_t elems = ElementCount(o);
  // Elements are named by number, as Flash's for..in gives them.
  if (i <= elems) return Value::Int(static_cast<std::int32_t>(i - 1));
  if (o->dyn && i - elems - 1 < o->dyn->items.size()) {
    StringCell* s = o->dyn->items[i - elems - 1].first;
    return s ? IndexName(Value::Str(s)) : Value();
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
  if (IsQName(o)) {
    Value uri, local;
    if (i > 2 || !QNameParts(*this, Value::Obj(o), uri, local)) return Value();
    return i == 1 ? local : uri;
  }
  if (o->kind == ObjectKind::kDictionary) {
    auto* d = static_cast<DictionaryObject*>(o);
    return i <= d->items.size() ? d->items[i - 1].second : Value();
  }
  const std::size_t elems = ElementCount(o);
  if (i <= elems) return ElementAt(static_cast<ArrayObject*>(o), i - 1);
  if (o->dyn && i - elems - 1 < o->dyn->items.size()) return o->dyn->items[i - elems - 1].second;
  return Value();
}

// ---- the frame

void Frame::Fail(const char* what) const {
  vm.ThrowError("VerifyError", std::string(what) + " in " + m->name, 1030);
}

void Frame::Jump() {
  const std::int32_t t = m->targets[pc - 1];
  if (t < 0) Fail("Bad branch");
  pc = static_cast<std::size_t>(t);
}

void Frame::PushScope(const Value& v, bool with) {
  if (scopeDepth >= nScope) Fail("Scope overflow");
  if (v.IsNullish()) ThrowNullish(vm, v);
  scopeBase[scopeDepth] = v;
  if (scopeDepth < 64) withMask = with ? (withMask | (std::uint64_t{1} << scopeDepth)) : (withMask & ~(std::uint64_t{1} << scopeDepth));
  ++scopeDepth;
}

Value Frame::GlobalScope() const {
  ScopeChain* c = outer;
  while (c && c->parent) c = c->parent;
  return c ? c->object : (scopeDepth ? scopeBase[0] : Value::Null());
}

Class* Interp::SuperClass(Frame& f) {
  // Code outside classes (a script's initialiser, functions) runs on a
  // global, whose base is Object.
  if (!f.m->owner && f.vm.objectClass) return f.vm.objectClass;
  if (!f.m->owner || !f.m->owner->super) f.vm.ThrowError("ReferenceError", "No super class for " + f.m->name + ".", 1070);
  return f.m->owner->super;
}

Value Interp::SuperReceiver(Frame& f, const Value& recv) {
  // A static method's receiver is a class object, taken as it is.
  Class* owner = f.m->owner;
  const bool classObject = recv.IsObject() && recv.o->kind == ObjectKind::kClass;
  const Value v = owner && !classObject ? f.vm.Coerce(recv, owner) : recv;
  if (v.IsNullish()) ThrowNullish(f.vm, Value::Null());
  return v;
}

// ---- the table

bool Interp::OpUnknown(Frame& f, const Instruction& in) {
  f.vm.ThrowError("VerifyError", "Unknown instruction " + std::to_string(in.code) + ".", 1011);
}

// Made at compile time, so the loop indexes it without a guard.
constexpr std::array<OpHandler, 256> kHandlers = [] {
  std::array<OpHandler, 256> t{};
  for (OpHandler& h : t) h = &Interp::OpUnknown;
#define QUARVEL_AVM2_TABLE(code, Name, ...) t[code] = &Interp::Op##Name;
  QUARVEL_AVM2_OPCODES(QUARVEL_AVM2_TABLE)
#undef QUARVEL_AVM2_TABLE
  return t;
}();

const std::array<OpHandler, 256>& Interp::Table() { return kHandlers; }

// ---- the loop

namespace {
bool Unchecked(const Method& m, const MethodInfo& info) {
  if (!m.freeFunction || !info.optional.empty()) return false;
  for (std::uint32_t t : info.paramTypes)
    if (t != 0) return false;
  return true;
}
}  // namespace

inline void Interp::EnterArguments(Frame& f, std::span<Value> args) {
  // Declared ones (with defaults), then rest or arguments.
  Machine& vm = f.vm;
  const AbcFile& file = *f.u.file;
  const MethodInfo& info = file.methods[f.m->index];
  const std::size_t nLocals = static_cast<std::size_t>(f.stackBase - f.locals);
  Value* const locals = f.locals;
  const std::size_t declared = info.paramTypes.size();
  const bool restOrArguments = info.Has(method_flag::kNeedRest) || info.Has(method_flag::kNeedArguments);
  // A count mismatch is an error, except on a free function whose
  // parameters have neither types nor defaults (missing ones read undefined,
  // extra ones are dropped) and, for extra arguments, on a method that takes a
  // rest array or `arguments` or was compiled to ignore them.
  const std::size_t required = declared - std::min(declared, info.optional.size());
  if ((args.size() < required || (args.size() > declared && !restOrArguments && !info.Has(method_flag::kIgnoreRest))) &&
      !Unchecked(*f.m, info)) [[unlikely]] {
    vm.ThrowFromCaller("ArgumentError",
                       "Argument count mismatch on " + TraceNameOf(*f.m) + "(). Expected " +
                           std::to_string(args.size() < required ? required : declared) + ", got " +
                           std::to_string(args.size()) + ".",
                       1063);
  }
  if (declared == 0 && !restOrArguments) return;
  for (std::size_t i = 0; i < declared && i + 1 < nLocals; ++i) {
    if (i < args.size()) {
      locals[i + 1] = args[i];
    } else {
      const std::size_t firstOptional = declared - std::min(declared, info.optional.size());
      if (i >= firstOptional) locals[i + 1] = vm.DefaultFor(f.u, info.optional[i - firstOptional], 0);
    }
    // Typed parameters of the basic types are converted on entry (the
    // conversions are worked out when the method is prepared).
    if (i < args.size()) {
      Value& v = locals[i + 1];
      using C = Method::ParamConversion;
      switch (f.m->paramConversions[i]) {
        case C::kNone: break;
        case C::kInt: v = Value::Int(vm.ToInt(v)); break;
        case C::kUint: v = Value::Number(vm.ToUint(v)); break;
        case C::kNumber: v = Value::Number(vm.ToNumber(v)); break;
        case C::kBoolean: v = Value::Bool(vm.ToBoolean(v)); break;
        case C::kString: v = v.IsNullish() ? Value::Null() : Value::Str(vm.ToStringCell(v)); break;
        case C::kNullForUndefined:
          if (v.IsUndefined()) v = Value::Null();
          break;
      }
    }
  }
  if (declared + 1 < nLocals && restOrArguments) {
    std::vector<Value> rest;
    for (std::size_t i = info.Has(method_flag::kNeedRest) ? declared : 0; i < args.size(); ++i) rest.push_back(args[i]);
    locals[declared + 1] = Value::Obj(vm.NewArray(std::move(rest)));
  }
}

bool Interp::Catch(Frame& f, const Value& thrown) {
  // The innermost handler that covers the instruction and takes the type.
  const auto& ins = f.code.instructions;
  const std::uint32_t at = ins[f.pc == 0 ? 0 : f.pc - 1].offset;
  const ExceptionInfo* handler = nullptr;
  for (const ExceptionInfo& e : f.body.exceptions) {
    if (at < e.from || at >= e.to) continue;
    if (e.type != 0) {
      Class* c = ResolveType(f, e.type);
      if (c && !f.vm.IsType(thrown, c)) continue;
    }
    handler = &e;
    break;
  }
  if (!handler) return false;
  const std::int64_t target = f.code.IndexAt(handler->target);
  if (target < 0) return false;
  for (Value* p = f.stackBase; p < f.sp; ++p) *p = Value();
  f.sp = f.stackBase;
  for (std::size_t i = 0; i < f.scopeDepth; ++i) f.scopeBase[i] = Value();
  f.scopeDepth = 0;
  f.withMask = 0;
  *f.sp++ = thrown;
  f.pc = static_cast<std::size_t>(target);
  return true;
}

Value Machine::Interpret(Method* m, const Value& self, std::span<Value> args, ScopeChain* outer, FunctionObject* callee) {
  Prepare(m);
  AbcUnit& u = *m->unit;
  const AbcFile& file = *u.file;
  const MethodBody& body = *file.BodyOf(m->index);
  const DecodedCode& code = *m->code;

  const std::size_t nLocals = std::max<std::size_t>(body.localCount, 1);
  const std::size_t nStack = std::min<std::size_t>(body.maxStack, 65535) + 1;
  const std::size_t nScope = std::min<std::size_t>(body.maxScopeDepth, kMaxScopeDepth) + 1;
  const std::size_t need = nLocals + nStack + nScope;
  if (stackUsed_ + need > stackCapacity_) ThrowError("Error", "Stack overflow occurred.", 1023);
  Value* const locals = stack_ + stackUsed_;
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

  Value* const stackBase = locals + nLocals;
  Frame f{*this, m, u, file.pool, body, code, outer, locals, stackBase, stackBase + nStack, stackBase + nStack, nScope,
          stackBase, 0, 0, 0, Value()};
  locals[0] = self;
  Interp::EnterArguments(f, args);
  // arguments.callee: the function running, a method's closure when it was called as a method.
  if (file.methods[m->index].Has(method_flag::kNeedArguments) && !file.methods[m->index].Has(method_flag::kNeedRest)) {
    const std::size_t at = file.methods[m->index].paramTypes.size() + 1;
    if (at < nLocals && locals[at].IsObject()) {
      Object* list = locals[at].o;
      list->SetDyn(Intern("callee"), Value::Obj(callee ? static_cast<Object*>(callee) : MethodClosure(m, self)));
      list->dyn->hidden.insert("callee");  // not listed by for..in
    }
  }

  const Instruction* const ins = code.instructions.data();
  const std::size_t count = code.instructions.size();
  for (;;) {
    try {
      for (;;) {
        if (f.pc >= count) f.Fail("Code ran off the end");
        if (++instructions_ > limits.instructionsPerFrame) throw ScriptAbort("instruction cap of one frame's scripts");
        const Instruction& in = ins[f.pc++];
        if (!kHandlers[in.code](f, in)) {
          // What a method returns (returnvoid's undefined too) becomes its declared type.
          if (!m->returnResolved) {
            m->returnClass = ResolveType(u, file.methods[m->index].returnType);
            m->returnResolved = true;
          }
          return m->returnClass ? Coerce(f.result, m->returnClass) : f.result;
        }
      }
    } catch (const ScriptThrow& t) {
      if (!Interp::Catch(f, t.value)) throw;
    }
  }
}

}  // namespace quarvel::avm2
