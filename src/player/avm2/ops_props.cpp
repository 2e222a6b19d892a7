// Properties, slots and scopes: reading, writing and finding names, the
// scope stack, and super's properties.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "player/avm2/interp.h"

namespace quarvel::avm2 {

namespace {

DictionaryObject* DictOf(const Value& v) {
  return v.IsObject() && v.o->kind == ObjectKind::kDictionary ? static_cast<DictionaryObject*>(v.o) : nullptr;
}

// A Dictionary read, written or deleted by a runtime name uses the key
// itself, not its string; a name that is no object and names a variable or
// property the dictionary's class declares (in the namespaces asked) means that.
DictionaryObject* DictByKey(Frame& f, const Value& obj, std::uint32_t multiname, RuntimeName& rt) {
  DictionaryObject* d = DictOf(obj);
  if (!d || !f.pool.multinames[multiname].HasRuntimeName()) return nullptr;
  if (!rt.name.IsObject() && d->traits && d->cls && d->cls->unit) {
    const Binding* b = f.vm.FindBinding(d->traits, Interp::NameOf(f, multiname, rt));
    if (b && b->kind != Binding::Kind::kMethod) return nullptr;
  }
  return d;
}

// Flash's compiled code reaches an array's or a dictionary's dynamic
// properties only through names that include the public namespace; its
// interpreter, which runs script and class initialisers, finds them anyway.
bool HiddenDynamic(Frame& f, const Value& obj, std::uint32_t multiname, RuntimeName& rt) {
  const Object* o = obj.AsObject();
  if (!o || (o->kind != ObjectKind::kArray && o->kind != ObjectKind::kDictionary)) return false;
  const Multiname& mn = f.pool.multinames[multiname];
  if (mn.kind != MultinameKind::kMultinameL && mn.kind != MultinameKind::kMultinameLA) return false;
  if (mn.nsSet >= f.pool.nsSets.size()) return false;
  for (std::uint32_t ns : f.pool.nsSets[mn.nsSet]) {
    if (ns >= f.pool.namespaces.size()) continue;
    const Namespace& n = f.pool.namespaces[ns];
    const bool unnamed = n.name < f.pool.strings.size() && f.pool.strings[n.name].empty();
    if (unnamed && (n.kind == NamespaceKind::kPackage || n.kind == NamespaceKind::kNamespace)) return false;
  }
  const std::string& method = f.m->name;
  for (std::string_view init : {"$init", "$cinit"})
    if (method.size() >= init.size() && method.compare(method.size() - init.size(), init.size(), init) == 0) return false;
  return !(o->traits && f.vm.FindBinding(o->traits, Interp::NameOf(f, multiname, rt)));
}
// "0 not found on Array", "0 on Array"
std::string HiddenName(Frame& f, const Value& obj, const RuntimeName& rt, std::string_view between) {
  const Class* c = obj.AsObject()->cls;
  return f.vm.ToString(rt.name) + std::string(between) + (c ? c->DottedName() : std::string("Object"));
}

// The slot verification bound this access on the method's receiver to
// (Machine::BindReceiverSlots), when the object is that receiver's kind.
Value* ReceiverSlot(Frame& f, const Value& obj) {
  if (f.m->receiverSlots.empty()) return nullptr;
  const std::int32_t s = f.m->receiverSlots[f.pc - 1];
  Object* o = obj.AsObject();
  if (s < 0 || !o || static_cast<std::size_t>(s) >= o->slots.size() || !o->cls || !o->cls->IsSubclassOf(f.m->owner))
    return nullptr;
  return &o->slots[static_cast<std::size_t>(s)];
}

}  // namespace

// ---- properties

bool Interp::OpGetProperty(Frame& f, const Instruction& in) {
  RuntimeName rt = PopRuntime(f, in.args[0]);
  const Value obj = f.Pop();
  if (const Value* slot = ReceiverSlot(f, obj)) {
    f.Push(*slot);
    return true;
  }
  if (HiddenDynamic(f, obj, in.args[0], rt))
    f.vm.ThrowError("ReferenceError", "Property " + HiddenName(f, obj, rt, " not found on ") + " and there is no default value.", 1081);
  if (DictionaryObject* d = DictByKey(f, obj, in.args[0], rt)) {
    f.PushFrom([&] { return f.vm.DictGet(d, rt.name); });
    return true;
  }
  f.PushFrom([&] { return f.vm.GetProperty(obj, NameOf(f, in.args[0], rt)); });
  return true;
}

namespace {
bool Store(Frame& f, const Instruction& in, bool init) {
  const Value v = f.Pop();
  RuntimeName rt = Interp::PopRuntime(f, in.args[0]);
  const Value obj = f.Pop();
  if (Value* slot = ReceiverSlot(f, obj)) {
    Interp::StoreSlot(f, obj.AsObject(), static_cast<std::uint32_t>(slot - obj.AsObject()->slots.data()), slot, v);
    return true;
  }
  if (HiddenDynamic(f, obj, in.args[0], rt))
    f.vm.ThrowError("ReferenceError", "Cannot create property " + HiddenName(f, obj, rt, " on ") + ".", 1056);
  if (DictionaryObject* d = DictByKey(f, obj, in.args[0], rt)) {
    f.vm.DictSet(d, rt.name, v);
    return true;
  }
  f.vm.SetProperty(obj, Interp::NameOf(f, in.args[0], rt), v, init);
  return true;
}
}  // namespace

bool Interp::OpSetProperty(Frame& f, const Instruction& in) { return Store(f, in, false); }
bool Interp::OpInitProperty(Frame& f, const Instruction& in) { return Store(f, in, true); }

bool Interp::OpDeleteProperty(Frame& f, const Instruction& in) {
  RuntimeName rt = PopRuntime(f, in.args[0]);
  const Value obj = f.Pop();
  if (DictionaryObject* d = DictByKey(f, obj, in.args[0], rt)) {
    // Deleting from a dynamic object answers true, whether the key was there or not.
    f.PushFrom([&] {
      f.vm.DictDelete(d, rt.name);
      return Value::Bool(true);
    });
    return true;
  }
  f.PushFrom([&] { return Value::Bool(f.vm.DeleteProperty(obj, NameOf(f, in.args[0], rt))); });
  return true;
}

// ---- finding the object that has a name

namespace {
enum class Find { kStrict, kLoose, kLex };

bool FindName(Frame& f, const Instruction& in, Find how) {
  RuntimeName rt = Interp::PopRuntime(f, in.args[0]);
  Name n = Interp::NameOf(f, in.args[0], rt);
  const Value holder = Interp::FindHolder(f, n, how != Find::kLoose);
  if (how == Find::kLex) f.PushFrom([&] { return f.vm.GetProperty(holder, n); });
  else f.Push(holder);
  return true;
}
}  // namespace

bool Interp::OpFindPropStrict(Frame& f, const Instruction& in) { return FindName(f, in, Find::kStrict); }
bool Interp::OpFindProperty(Frame& f, const Instruction& in) { return FindName(f, in, Find::kLoose); }
bool Interp::OpGetLex(Frame& f, const Instruction& in) { return FindName(f, in, Find::kLex); }
bool Interp::OpFindDef(Frame& f, const Instruction& in) {
  RuntimeName rt = PopRuntime(f, in.args[0]);
  Name n = NameOf(f, in.args[0], rt);
  f.PushFrom([&] {
    Object* g = f.vm.FindGlobal(n);
    if (!g) f.vm.ThrowError("ReferenceError", "Variable " + (n.local ? n.local->text : std::string("?")) + " is not defined.", 1065);
    return Value::Obj(g);
  });
  return true;
}

// ---- slots

namespace {
Value* SlotOf(Frame& f, const Value& obj, std::uint32_t id) {
  Object* o = f.vm.ToObject(obj);
  const std::uint32_t s = id - 1;
  if (!o || s >= o->slots.size()) f.vm.ThrowError("VerifyError", "Slot " + std::to_string(id) + " out of range.", 1026);
  return &o->slots[s];
}
Value* GlobalSlotOf(Frame& f, std::uint32_t id) {
  Object* g = f.GlobalScope().AsObject();
  const std::uint32_t s = id - 1;
  if (!g || s >= g->slots.size()) f.vm.ThrowError("VerifyError", "Global slot out of range.", 1026);
  return &g->slots[s];
}
}  // namespace

bool Interp::OpGetSlot(Frame& f, const Instruction& in) {
  const Value obj = f.Pop();
  f.Push(*SlotOf(f, obj, in.args[0]));
  return true;
}
// A typed slot takes the value coerced to its type, as a write by name does.
void Interp::StoreSlot(Frame& f, Object* o, std::uint32_t s, Value* slot, const Value& v) {
  if (o && o->traits && s < o->traits->slots.size() && o->traits->slots[s].typeName) {
    // (resolved on first use: a class's static of its own type waits for the class)
    auto& si = const_cast<SlotInfo&>(o->traits->slots[s]);
    if (!si.typeResolved && si.unit) {
      si.type = f.vm.ResolveType(*si.unit, si.typeName);
      si.typeResolved = si.type || si.unit->file->NameOf(si.typeName) == "*";
    }
    if (si.type) {
      *slot = f.vm.Coerce(v, si.type);
      return;
    }
  }
  *slot = v;
}

bool Interp::OpSetSlot(Frame& f, const Instruction& in) {
  const Value v = f.Pop();
  const Value obj = f.Pop();
  Value* slot = SlotOf(f, obj, in.args[0]);
  StoreSlot(f, obj.AsObject(), in.args[0] - 1, slot, v);
  return true;
}
bool Interp::OpGetGlobalSlot(Frame& f, const Instruction& in) {
  f.Push(*GlobalSlotOf(f, in.args[0]));
  return true;
}
bool Interp::OpSetGlobalSlot(Frame& f, const Instruction& in) {
  Value* slot = GlobalSlotOf(f, in.args[0]);
  *slot = f.Pop();
  return true;
}

// ---- scopes

bool Interp::OpPushScope(Frame& f, const Instruction&) {
  f.Need(1);
  f.PushScope(*--f.sp, false);
  return true;
}
bool Interp::OpPushWith(Frame& f, const Instruction&) {
  f.Need(1);
  f.PushScope(*--f.sp, true);
  return true;
}
bool Interp::OpPopScope(Frame& f, const Instruction&) {
  if (f.scopeDepth == 0) f.Fail("Scope underflow");
  f.scopeBase[--f.scopeDepth] = Value();
  return true;
}
bool Interp::OpGetGlobalScope(Frame& f, const Instruction&) {
  f.Push(f.GlobalScope());
  return true;
}
bool Interp::OpGetScopeObject(Frame& f, const Instruction& in) {
  if (in.args[0] >= f.scopeDepth) f.Fail("Bad scope index");
  f.Push(f.scopeBase[in.args[0]]);
  return true;
}
bool Interp::OpGetOuterScope(Frame& f, const Instruction& in) {
  std::vector<ScopeChain*> chain;
  for (ScopeChain* c = f.outer; c; c = c->parent) chain.push_back(c);
  // A script's initialiser runs below its global and pushes that global
  // first; Flash counts it once, as the outermost scope.
  if (chain.size() >= 2) {
    const Value& g = chain.back()->object;
    const Value& next = chain[chain.size() - 2]->object;
    if (g.IsObject() && g.o->scriptGlobal && next.IsObject() && next.o == g.o) chain.pop_back();
  }
  if (in.args[0] >= chain.size()) f.Fail("Bad outer scope index");
  f.Push(chain[chain.size() - 1 - in.args[0]]->object);
  return true;
}

// ---- super

bool Interp::OpGetSuper(Frame& f, const Instruction& in) {
  RuntimeName rt = PopRuntime(f, in.args[0]);
  const Value obj = SuperReceiver(f, f.Pop());
  Name n = NameOf(f, in.args[0], rt);
  Class* sc = SuperClass(f);
  const Binding* b = f.vm.FindBinding(&sc->instance, n);
  f.PushFrom([&] { return b ? f.vm.GetSlotted(obj.AsObject(), *b, obj) : f.vm.GetProperty(obj, n); });
  return true;
}
bool Interp::OpSetSuper(Frame& f, const Instruction& in) {
  Value v = f.Pop();
  RuntimeName rt = PopRuntime(f, in.args[0]);
  const Value obj = SuperReceiver(f, f.Pop());
  Name n = NameOf(f, in.args[0], rt);
  const Binding* b = f.vm.FindBinding(&SuperClass(f)->instance, n);
  if (b && b->kind == Binding::Kind::kAccessor && b->setter) {
    f.vm.Invoke(b->setter, obj, std::span<Value>(&v, 1), b->setter->scope);
  } else if (b && (b->kind == Binding::Kind::kAccessor ||
                   (b->kind == Binding::Kind::kSlot && b->isConst))) {
    // Through super, Flash writes nothing to a constant or a read-only
    // accessor of the base, and says nothing.
  } else if (Object* o = obj.AsObject(); o && b && b->kind == Binding::Kind::kSlot && b->slot < o->slots.size()) {
    // The base's own variable, even where the class declares one of that name again.
    StoreSlot(f, o, b->slot, &o->slots[b->slot], v);
  } else {
    f.vm.SetProperty(obj, n, v);
  }
  return true;
}

}  // namespace quarvel::avm2
