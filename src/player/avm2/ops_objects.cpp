// Calls and construction: calling functions, methods and properties,
// constructors and super's, and the instructions that make objects,
// arrays, functions, classes, activations and catch scopes.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/avm2/interp.h"

namespace quarvel::avm2 {

namespace {
std::string LocalName(const Name& n) { return n.local ? n.local->text : std::string("?"); }
}  // namespace

// ---- calls

bool Interp::OpCall(Frame& f, const Instruction& in) {
  const std::span<Value> args = f.PopArgs(in.args[0]);
  f.Need(2);
  const Value recv = *--f.sp, fn = *--f.sp;
  f.PushFrom([&] { return f.vm.Call(fn, recv, args); });
  return true;
}

namespace {
// callmethod and callstatic: a method by dispatch id or by index.
template <typename Pick>
bool CallKnown(Frame& f, const Instruction& in, Pick&& pick) {
  const std::span<Value> args = f.PopArgs(in.args[1]);
  Value recv = f.Pop();
  Method* target = pick(recv);  // may coerce the receiver
  if (!target) f.vm.ThrowError("VerifyError", "No method for callmethod/callstatic.", 1051);
  f.PushFrom([&] { return f.vm.Invoke(target, recv, args, target->scope); });
  return true;
}
}  // namespace

bool Interp::OpCallMethod(Frame& f, const Instruction& in) {
  return CallKnown(f, in, [&](const Value& recv) -> Method* {
    Object* o = recv.AsObject();
    return o && o->traits && in.args[0] < o->traits->dispatch.size() ? o->traits->dispatch[in.args[0]] : nullptr;
  });
}
bool Interp::OpCallStatic(Frame& f, const Instruction& in) {
  return CallKnown(f, in, [&](Value& recv) -> Method* {
    Method* target = in.args[0] < f.u.methods.size() ? f.u.methods[in.args[0]].get() : nullptr;
    // A class's instance method takes an instance of its class (1034), or of
    // another class made from the same class info.
    const auto ofClassInfo = [](const Class* c, const Class* owner) {
      for (; c; c = c->super)
        if (c == owner || (c->unit && c->unit == owner->unit && c->index == owner->index)) return true;
      return false;
    };
    if (Class* owner = target ? target->owner : nullptr;
        owner && !(recv.IsObject() && (recv.o->kind == ObjectKind::kClass || ofClassInfo(recv.o->cls, owner))))
      recv = f.vm.Coerce(recv, owner);
    return target;
  });
}

namespace {
// callproperty, callproplex and callpropvoid.
bool CallNamed(Frame& f, const Instruction& in, bool lex, bool keep) {
  const std::span<Value> args = f.PopArgs(in.args[1]);
  RuntimeName rt = Interp::PopRuntime(f, in.args[0]);
  const Value recv = f.Pop();
  Name n = Interp::NameOf(f, in.args[0], rt);
  const Value r = f.vm.CallProperty(recv, n, args, lex);
  if (keep) f.Push(r);
  return true;
}
}  // namespace

bool Interp::OpCallProperty(Frame& f, const Instruction& in) { return CallNamed(f, in, false, true); }
bool Interp::OpCallPropLex(Frame& f, const Instruction& in) { return CallNamed(f, in, true, true); }
bool Interp::OpCallPropVoid(Frame& f, const Instruction& in) { return CallNamed(f, in, false, false); }

Value Interp::CallSuperMethod(Frame& f, const Instruction& in) {
  const std::span<Value> args = f.PopArgs(in.args[1]);
  RuntimeName rt = PopRuntime(f, in.args[0]);
  const Value recv = SuperReceiver(f, f.Pop());
  Name n = NameOf(f, in.args[0], rt);
  Class* sc = SuperClass(f);
  const Binding* b = f.vm.FindBinding(&sc->instance, n);
  // Object's own methods live on prototypes, where a script may replace them.
  const Class* owner = b && b->kind == Binding::Kind::kMethod && b->method ? b->method->owner : nullptr;
  if (owner && !owner->unit && owner->package.empty() && n.local)
    for (Object* p = sc->prototype; p; p = p->proto)
      if (Value* v = p->FindDyn(n.local->text)) return f.vm.Call(*v, recv, args);
  if (b && b->kind == Binding::Kind::kMethod) return f.vm.Invoke(b->method, recv, args, b->method->scope);
  if (b) return f.vm.Call(f.vm.GetSlotted(recv.AsObject(), *b, recv), recv, args);
  f.vm.ThrowError("ReferenceError", "Super method " + LocalName(n) + " not found.", 1070);
}

bool Interp::OpCallSuper(Frame& f, const Instruction& in) {
  f.Push(CallSuperMethod(f, in));
  return true;
}
bool Interp::OpCallSuperVoid(Frame& f, const Instruction& in) {
  CallSuperMethod(f, in);
  return true;
}

// ---- construction

bool Interp::OpConstruct(Frame& f, const Instruction& in) {
  const std::span<Value> args = f.PopArgs(in.args[0]);
  const Value fn = f.Pop();
  f.PushFrom([&] { return f.vm.ConstructValue(fn, args); });
  return true;
}
bool Interp::OpConstructSuper(Frame& f, const Instruction& in) {
  const std::span<Value> args = f.PopArgs(in.args[0]);
  const Value recv = f.Pop();
  if (recv.IsNullish()) ThrowNullish(f.vm, recv);
  Class* c = f.m->owner ? f.m->owner->super : nullptr;
  while (c && !c->iinit) c = c->super;
  if (c) f.vm.Invoke(c->iinit, recv, args, c->iinit->scope);
  return true;
}
bool Interp::OpConstructProp(Frame& f, const Instruction& in) {
  const std::span<Value> args = f.PopArgs(in.args[1]);
  RuntimeName rt = PopRuntime(f, in.args[0]);
  const Value recv = f.Pop();
  Name n = NameOf(f, in.args[0], rt);
  // A primitive's missing name is no ReferenceError here: there is nothing to construct.
  const bool primitive = !recv.IsObject() && !recv.IsNullish();
  const Value ctor = primitive && !f.vm.PrimitiveHas(recv, n) ? Value() : f.vm.GetProperty(recv, n);
  if (ctor.IsUndefined())
    f.vm.ThrowError("TypeError", "Instantiation attempted on a non-constructor " + LocalName(n) + ".", 1007);
  f.PushFrom([&] { return f.vm.ConstructValue(ctor, args); });
  return true;
}
bool Interp::OpApplyType(Frame& f, const Instruction& in) {
  const std::span<Value> params = f.PopArgs(in.args[0]);
  const Value base = f.Pop();
  Class* elem = nullptr;
  if (!params.empty() && params[0].IsObject() && params[0].o->kind == ObjectKind::kClass)
    elem = static_cast<ClassObject*>(params[0].o)->of;
  if (base.IsObject() && base.o->kind == ObjectKind::kClass && static_cast<ClassObject*>(base.o)->of == f.vm.vectorClass) {
    f.PushFrom([&] { return Value::Obj(f.vm.VectorOf(elem)->object); });
  } else {
    f.Push(base);
  }
  return true;
}

// ---- making objects

bool Interp::OpNewObject(Frame& f, const Instruction& in) {
  const std::span<Value> pairs = f.PopArgs(in.args[0] * 2);
  Object* o = f.vm.NewObject();
  // Flash stores the pairs from the last to the first, so enumeration (and
  // JSON) lists a literal's keys in reverse; a repeated key keeps its last value.
  for (std::size_t i = pairs.size() / 2; i-- > 0;) {
    StringCell* name = f.vm.ToStringCell(pairs[2 * i]);
    if (!o->FindDyn(name->text)) o->SetDyn(name, pairs[2 * i + 1]);
  }
  f.Push(Value::Obj(o));
  return true;
}
bool Interp::OpNewArray(Frame& f, const Instruction& in) {
  const std::span<Value> elems = f.PopArgs(in.args[0]);
  f.PushFrom([&] { return Value::Obj(f.vm.NewArray(std::vector<Value>(elems.begin(), elems.end()))); });
  return true;
}
bool Interp::OpNewFunction(Frame& f, const Instruction& in) {
  auto& methods = f.u.methods;
  const std::uint32_t index = in.args[0];
  Method* fm = nullptr;
  if (index < methods.size()) {
    if (!methods[index]) {
      methods[index] = std::make_unique<Method>();
      methods[index]->unit = &f.u;
      methods[index]->index = index;
      methods[index]->name = f.m->name + "/<anonymous>";
      methods[index]->traceName = FunctionTraceName(*f.u.file, index);
    }
    fm = methods[index].get();
    fm->freeFunction = true;
  }
  if (!fm) f.Fail("Bad method");
  f.PushFrom([&] { return Value::Obj(f.vm.NewFunction(fm, Closure(f))); });
  return true;
}
bool Interp::OpNewClass(Frame& f, const Instruction& in) {
  Machine& vm = f.vm;
  const Value base = f.Pop();
  Class* super = vm.objectClass;
  // A class that names a base must be given that base's class object.
  const std::uint32_t declared = f.u.file->instances[in.args[0]].superName;
  if (declared) {
    if (base.IsNullish()) ThrowNullish(vm, base);
    if (!base.IsObject() || base.o->kind != ObjectKind::kClass) {
      const std::string text = base.IsString() ? "\"" + vm.ToString(base) + "\"" : vm.ToString(base);
      vm.ThrowError("TypeError", "Type Coercion failed: cannot convert " + text + " to Class.", 1034);
    }
    const Class* given = static_cast<ClassObject*>(base.o)->of;
    const Multiname& dm = f.pool.multinames[declared];
    const bool sameLocal = dm.kind == MultinameKind::kQName && dm.name < f.pool.strings.size() &&
                           f.pool.strings[dm.name] == given->name;
    const Class* named = sameLocal ? nullptr : ResolveType(f, declared);
    if (named && given != named && given->QualifiedName() != named->QualifiedName())
      vm.ThrowError("VerifyError", "The OP_newclass opcode was used with the incorrect base class.", 1108);
  }
  if (base.IsObject() && base.o->kind == ObjectKind::kClass) super = static_cast<ClassObject*>(base.o)->of;
  if (super->isFinal) vm.ThrowError("VerifyError", "Class " + super->name + " is final.", 1103);
  Class* c = vm.MakeClass(f.u, in.args[0], Closure(f), super);
  f.Push(Value::Obj(c->object));
  return true;
}
bool Interp::OpNewActivation(Frame& f, const Instruction&) {
  Machine& vm = f.vm;
  Object* act = vm.heap_.New<Object>();
  act->cls = vm.objectClass;
  if (f.m->activation) {
    act->traits = f.m->activation.get();
    vm.InitSlots(act, *f.m->activation);
  }
  act->dynamic = false;
  f.Push(Value::Obj(act));
  return true;
}
bool Interp::OpNewCatch(Frame& f, const Instruction& in) {
  Machine& vm = f.vm;
  const std::uint32_t ei = in.args[0];
  if (ei >= f.body.exceptions.size()) f.Fail("Bad exception index");
  auto& traits = f.m->catchTraits[ei];
  if (!traits) {
    // One slot, named as the handler's variable and typed as what it catches.
    auto t = std::make_unique<Traits>();
    const std::uint32_t vn = f.body.exceptions[ei].varName;
    if (vn) {
      const Multiname& mm = f.pool.multinames[vn];
      Binding b;
      b.slot = 0;
      SlotInfo slot;
      slot.typeName = f.body.exceptions[ei].type;
      slot.unit = &f.u;
      t->slots.push_back(slot);
      if (mm.name < f.pool.strings.size()) t->catchName = f.pool.strings[mm.name];
      const NsId ns = mm.kind == MultinameKind::kQName ? f.u.nss[mm.ns] : kPublicNs;
      t->Edit()[Key(ns, vm.PoolNameId(f.u, mm.name))] = b;
    }
    traits = std::move(t);
  }
  Object* o = vm.heap_.New<Object>();
  o->cls = vm.objectClass;
  o->traits = traits.get();
  vm.InitSlots(o, *o->traits);
  o->dynamic = false;
  f.Push(Value::Obj(o));
  return true;
}

}  // namespace quarvel::avm2
