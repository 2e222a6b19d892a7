// Turns ABC blocks into the machine's scripts, classes and methods.
#include <algorithm>
#include <cmath>
#include <limits>

#include "player/avm2/builtins_util.h"
#include "player/avm2/machine.h"

namespace quarvel::avm2 {

bool Machine::Load(std::shared_ptr<const AbcFile> file, std::string_view name, bool runEntry) {
  auto u = std::make_unique<AbcUnit>();
  u->file = file;
  u->name = name;
  const AbcFile& f = *file;
  // Interned on first use: a library's block holds many strings its
  // movie never reaches.
  u->strings.assign(f.pool.strings.size(), nullptr);
  u->nameIds.assign(f.pool.strings.size(), 0);
  u->nss.resize(f.pool.namespaces.size());
  for (std::size_t i = 0; i < f.pool.namespaces.size(); ++i) {
    const auto& ns = f.pool.namespaces[i];
    // Entry 0 is any namespace (*::name); E4X tells it from the public one.
    u->nss[i] = i == 0                                ? InternNs(NamespaceKind::kNamespace, "*")
                : ns.kind == NamespaceKind::kPrivate ? NewPrivateNs()
                                                     : InternNs(ns.kind, f.pool.strings[ns.name]);
  }
  u->as3Ns.assign(f.pool.namespaces.size(), false);
  for (std::size_t i = 1; i < f.pool.namespaces.size(); ++i) {
    const auto& ns = f.pool.namespaces[i];
    u->as3Ns[i] = ns.kind == NamespaceKind::kNamespace && ns.name < f.pool.strings.size() &&
                  f.pool.strings[ns.name] == "http://adobe.com/AS3/2006/builtin";
  }
  u->nsSets.resize(f.pool.nsSets.size());
  u->as3Sets.assign(f.pool.nsSets.size(), false);
  for (std::size_t i = 0; i < f.pool.nsSets.size(); ++i)
    for (auto ns : f.pool.nsSets[i]) {
      u->nsSets[i].push_back(u->nss[ns]);
      if (u->as3Ns[ns]) u->as3Sets[i] = true;
    }
  u->staticNames.resize(f.pool.multinames.size());
  u->staticNameReady.assign(f.pool.multinames.size(), false);
  u->methods.resize(f.methods.size());
  u->classes.assign(f.classes.size(), nullptr);
  AbcUnit& unit = *u;
  units_.push_back(std::move(u));
  // Scripts: each has a global object with its traits; classes are made
  // when the script's initializer runs (newclass).
  unit.scripts.resize(f.scripts.size());
  unit.scriptRun.assign(f.scripts.size(), false);
  for (std::size_t i = 0; i < f.scripts.size(); ++i) {
    auto traits = std::make_unique<Traits>();
    Object* global = heap_.New<Object>();
    global->cls = objectClass;
    global->proto = objectClass->prototype;
    global->dynamic = true;
    global->scriptGlobal = true;
    // Its class extends Object: Object's methods are its own.
    traits->Edit() = objectClass->instance.Bindings();
    auto* scope = heap_.New<ScopeChain>();
    scope->object = Value::Obj(global);
    AddTraits(unit, f.scripts[i].traits, *traits, nullptr, false, global, scope);
    for (const auto& [key, b] : traits->Bindings()) {
      const Binding* inherited = objectClass->instance.Find(key);
      if (inherited && inherited->method == b.method && inherited->getter == b.getter) continue;
      auto& list = scriptsByName_[static_cast<NameId>(key)];
      if (list.empty() || list.back().unit != &unit || list.back().index != i)
        list.push_back(ScriptRef{&unit, static_cast<std::uint32_t>(i)});
    }
    global->traits = traits.get();
    InitSlots(global, *traits);
    unit.scripts[i] = global;
    unit.scriptTraits.push_back(std::move(traits));
  }
  if (!runEntry || unit.scripts.empty()) return true;
  const auto entry = static_cast<std::uint32_t>(unit.scripts.size() - 1);
  bool ran = false;
  SafeCall([&] { ran = RunScript(unit, entry); }, "a script's initialisation");
  return ran;
}

void Machine::LoadTogether(std::span<const BlockToLoad> blocks, const std::function<void()>& beforeEntry) {
  std::vector<AbcUnit*> eager;
  for (const auto& b : blocks) {
    const std::size_t before = units_.size();
    Load(b.file, b.name, false);
    if (units_.size() > before) units_.back()->swfVersion = b.swfVersion;
    if (b.eager && units_.size() > before) eager.push_back(units_.back().get());
  }
  for (AbcUnit* u : eager) {
    if (u->scripts.empty()) continue;
    if (beforeEntry) beforeEntry();
    const auto entry = static_cast<std::uint32_t>(u->scripts.size() - 1);
    SafeCall([&] { RunScript(*u, entry); }, "a script's initialisation");
  }
}

bool Machine::RunScript(AbcUnit& u, std::uint32_t index) {
  if (index >= u.scripts.size() || u.scriptRun[index]) return true;
  u.scriptRun[index] = true;
  const ScriptInfo& s = u.file->scripts[index];
  Method* init = nullptr;
  if (s.init < u.file->methods.size()) {
    if (!u.methods[s.init]) {
      u.methods[s.init] = std::make_unique<Method>();
      u.methods[s.init]->unit = &u;
      u.methods[s.init]->index = s.init;
      u.methods[s.init]->name = "script" + std::to_string(index) + "$init";
      u.methods[s.init]->traceName = "global$init";
    }
    init = u.methods[s.init].get();
  }
  if (!init) return true;
  auto* scope = heap_.New<ScopeChain>();
  scope->object = Value::Obj(u.scripts[index]);
  init->scope = scope;
  // The host finding a class runs its script on demand: that script's own
  // errors stop here. Run from a script, they reach that script.
  if (depth_ == 0) return Contain([&] { Invoke(init, Value::Obj(u.scripts[index]), {}, scope); }, "a script's initialisation");
  Invoke(init, Value::Obj(u.scripts[index]), {}, scope);
  return true;
}

namespace {
Method* MethodOf(AbcUnit& u, std::uint32_t index, Class* owner, ScopeChain* scope, const std::string& name) {
  if (index >= u.methods.size()) return nullptr;
  if (!u.methods[index]) {
    u.methods[index] = std::make_unique<Method>();
    u.methods[index]->unit = &u;
    u.methods[index]->index = index;
  }
  Method* m = u.methods[index].get();
  // Flash binds a method to each class object its class info makes: the
  // second class's super calls and scope are its own.
  if (owner && m->owner && m->owner != owner && m->scope != scope) {
    u.rebound.push_back(std::make_unique<Method>());
    Method* again = u.rebound.back().get();
    again->unit = &u;
    again->index = index;
    again->name = m->name;
    again->traceName = m->traceName;
    m = again;
  }
  m->owner = owner;
  m->scope = scope;
  if (m->name.empty()) m->name = name;
  return m;
}

// "pkg::Class/get x", "Class$/staticMethod", "Class/uri::inNamespace".
std::string TraceName(const AbcFile& f, const Class* owner, bool isStatic, TraitKind kind, const Multiname& mn,
                      const std::string& local) {
  std::string out;
  if (owner) out = owner->QualifiedName() + (isStatic ? "$/" : "/");
  if (kind == TraitKind::kGetter) out += "get ";
  if (kind == TraitKind::kSetter) out += "set ";
  if ((mn.kind == MultinameKind::kQName || mn.kind == MultinameKind::kQNameA) && mn.ns < f.pool.namespaces.size()) {
    const auto& ns = f.pool.namespaces[mn.ns];
    if (ns.kind == NamespaceKind::kNamespace && ns.name < f.pool.strings.size() && !f.pool.strings[ns.name].empty())
      out += f.pool.strings[ns.name] + "::";
  }
  return out + local;
}
}  // namespace

// A function outside a class: by the name its compiler gave it, or only by
// its number when it has none.
std::string FunctionTraceName(const AbcFile& f, std::uint32_t index) {
  if (index >= f.methods.size() || f.methods[index].name == 0 || f.methods[index].name >= f.pool.strings.size())
    return "MethodInfo-" + std::to_string(index);
  const std::string& name = f.pool.strings[f.methods[index].name];
  return "Function/" + (name.empty() ? std::string("<anonymous>") : name);
}

Value Machine::DefaultFor(AbcUnit& u, const ConstantValue& c, std::uint32_t typeName) {
  const auto& pool = u.file->pool;
  switch (c.kind) {
    case ConstantKind::kUtf8: return Value::Str(PoolString(u, c.index));
    case ConstantKind::kInt: return Value::Int(pool.ints[c.index]);
    case ConstantKind::kUInt: return Value::Number(pool.uints[c.index]);
    case ConstantKind::kDouble: return Value::Number(pool.doubles[c.index]);
    case ConstantKind::kTrue: return Value::Bool(true);
    case ConstantKind::kFalse: return Value::Bool(false);
    case ConstantKind::kNull: return Value::Null();
    case ConstantKind::kUndefined: break;
    // `namespace ns = "uri"` declares a constant holding a Namespace, which
    // runtime-qualified names (ns::name) need as an object.
    default: return Value::Obj(NewNamespace(PoolString(u, pool.namespaces[c.index].name)));
  }
  // No value: the type's own default.
  if (typeName == 0) return Value();
  const std::string t = u.file->NameOf(typeName);
  if (t == "int" || t == "uint") return Value::Int(0);
  if (t == "Number") return Value::Number(std::numeric_limits<double>::quiet_NaN());
  if (t == "Boolean") return Value::Bool(false);
  return Value::Null();
}

Class* Machine::ResolveType(AbcUnit& u, std::uint32_t mn) {
  if (mn == 0 || mn >= u.file->pool.multinames.size()) return nullptr;
  const Multiname& m = u.file->pool.multinames[mn];
  if (m.kind == MultinameKind::kTypeName) {
    Class* base = ResolveType(u, m.base);
    if (base == vectorClass && !m.params.empty()) return VectorOf(ResolveType(u, m.params[0]));
    return base;
  }
  Name n = ResolveName(u, mn, nullptr, nullptr);
  if (n.local && n.local->text == "*") return nullptr;
  Object* g = FindGlobal(n);
  if (!g) return nullptr;
  Value v = GetProperty(Value::Obj(g), n);
  if (v.IsObject() && v.o->kind == ObjectKind::kClass) return static_cast<ClassObject*>(v.o)->of;
  return nullptr;
}

Name Machine::ResolveName(AbcUnit& u, std::uint32_t mn, Value* rtName, Value* rtNs) {
  const Multiname& m = u.file->pool.multinames[mn];
  if (!m.HasRuntimeName() && !m.HasRuntimeNamespace() && m.kind != MultinameKind::kTypeName && mn < u.staticNames.size()) {
    if (!u.staticNameReady[mn]) {
      u.staticNames[mn] = ResolveNameOnce(u, mn, nullptr, nullptr);
      u.staticNameReady[mn] = true;
    }
    return u.staticNames[mn];
  }
  return ResolveNameOnce(u, mn, rtName, rtNs);
}

Name Machine::ResolveNameOnce(AbcUnit& u, std::uint32_t mn, Value* rtName, Value* rtNs) {
  Name n;
  const Multiname& m = u.file->pool.multinames[mn];
  n.attribute = m.IsAttribute();
  switch (m.kind) {
    case MultinameKind::kQName:
    case MultinameKind::kQNameA:
      n.single = u.nss[m.ns];
      n.as3 = u.as3Ns[m.ns];
      break;
    case MultinameKind::kMultiname:
    case MultinameKind::kMultinameA:
    case MultinameKind::kMultinameL:
    case MultinameKind::kMultinameLA: {
      const auto& set = u.nsSets[m.nsSet];
      // A set holding AS3 reaches the class's own method where there is one:
      // toString, valueOf and toLocaleString of most core classes live on
      // their prototypes only.
      if (u.as3Sets[m.nsSet] && (m.kind == MultinameKind::kMultiname || m.kind == MultinameKind::kMultinameA) &&
          m.name < u.file->pool.strings.size()) {
        const std::string& local = u.file->pool.strings[m.name];
        n.as3 = local != "toString" && local != "valueOf" && local != "toLocaleString";
      }
      if (!set.empty()) {
        n.nsList = set.data();
        n.nsCount = static_cast<std::uint32_t>(set.size());
      }
      break;
    }
    case MultinameKind::kRTQName:
    case MultinameKind::kRTQNameA:
    case MultinameKind::kRTQNameL:
    case MultinameKind::kRTQNameLA:
      if (rtNs && rtNs->IsObject() && rtNs->o->kind == ObjectKind::kNamespace) {
        Value* uri = rtNs->o->FindDyn("uri");
        n.single = PackageNs(uri && uri->IsString() ? uri->s->text : "");
      }
      break;
    case MultinameKind::kTypeName:
      return ResolveName(u, m.base, rtName, rtNs);
  }
  if (m.HasRuntimeName() && rtName) {
    Value v = *rtName;
    // A QName as the name brings its own namespace (unless it is any).
    Value qUri, qLocal;
    if (v.IsObject() && QNameParts(*this, v, qUri, qLocal)) {
      if (QNameIsAttribute(*this, v)) n.attribute = true;
      if (!qUri.IsNull()) {
        n.nsList = nullptr;
        n.nsCount = 1;
        n.single = PackageNs(qUri.IsString() ? qUri.s->text : "");
      }
      v = qLocal;
    }
    if (v.type == Type::kInt && v.i >= 0) {
      n.hasIndex = true;
      n.index = static_cast<std::uint32_t>(v.i);
      n.id = 0;
      n.local = nullptr;
      return n;
    }
    if (v.type == Type::kNumber && v.d >= 0 && v.d < 4294967295.0 && v.d == std::trunc(v.d)) {
      n.hasIndex = true;
      n.index = static_cast<std::uint32_t>(v.d);
      return n;
    }
    StringCell* s = ToStringCell(v);
    std::uint32_t idx = 0;
    if (ParseIndex(s->text, idx)) {
      n.hasIndex = true;
      n.index = idx;
    }
    n.local = s;
    n.id = s->id ? s->id : FindNameId(s->text);
    return n;
  }
  if (m.name != 0 || m.kind == MultinameKind::kQName || m.kind == MultinameKind::kMultiname) {
    n.id = PoolNameId(u, m.name);
    n.local = u.strings[m.name];
    std::uint32_t idx = 0;
    if (ParseIndex(n.local->text, idx)) {
      n.hasIndex = true;
      n.index = idx;
    }
  }
  return n;
}

void Machine::AddTraits(AbcUnit& u, const std::vector<Trait>& traits, Traits& into, Class* owner, bool isStatic,
                        Object* holder, ScopeChain* scope) {
  const AbcFile& f = *u.file;
  const std::size_t base = into.slots.size();
  std::uint16_t depth = 0;
  if (owner && !isStatic)
    for (const Class* a = owner->super; a && depth < 0xffff; a = a->super) ++depth;
  for (const Trait& t : traits) {
    const Multiname& mn = f.pool.multinames[t.name];
    const NsId ns = mn.kind == MultinameKind::kQName || mn.kind == MultinameKind::kQNameA ? u.nss[mn.ns] : kPublicNs;
    const auto key = Key(ns, PoolNameId(u, mn.name));
    const std::string& local = f.pool.strings[mn.name];
    const bool builtinNs = (mn.kind == MultinameKind::kQName || mn.kind == MultinameKind::kQNameA) &&
                           mn.ns < f.pool.namespaces.size() && f.pool.namespaces[mn.ns].kind == NamespaceKind::kNamespace &&
                           f.pool.strings[f.pool.namespaces[mn.ns].name] == "http://adobe.com/AS3/2006/builtin";
    switch (t.kind) {
      case TraitKind::kSlot:
      case TraitKind::kConst:
      case TraitKind::kClass:
      case TraitKind::kFunction: {
        std::size_t slot = into.slots.size();
        // Declared slot numbers count from the first slot of this class.
        if (t.id > 0 && base + t.id - 1 < base + traits.size() + 4096) slot = base + t.id - 1;
        if (slot >= into.slots.size()) into.slots.resize(slot + 1);
        SlotInfo si;
        si.unit = &u;
        if (t.kind == TraitKind::kSlot || t.kind == TraitKind::kConst) {
          si.typeName = t.typeName;
          si.initial = DefaultFor(u, t.value.value_or(ConstantValue{}), t.typeName);
        } else if (t.kind == TraitKind::kFunction) {
          Method* fm = MethodOf(u, t.index, owner, scope, local);
          if (fm && fm->traceName.empty()) fm->traceName = FunctionTraceName(f, t.index);
          if (fm) fm->freeFunction = true;
          si.initial = Value::Obj(NewFunction(fm, scope));
        } else {
          si.initial = Value::Null();
        }
        into.slots[slot] = si;
        Binding b;
        b.kind = Binding::Kind::kSlot;
        b.slot = static_cast<std::uint32_t>(slot);
        b.isConst = t.kind == TraitKind::kConst;
        b.builtinNs = builtinNs;
        b.depth = depth;
        into.Edit()[key] = b;
        break;
      }
      case TraitKind::kMethod:
      case TraitKind::kGetter:
      case TraitKind::kSetter: {
        Method* m = MethodOf(u, t.index, owner, scope, (owner ? owner->name + "/" : std::string()) + local);
        if (!m) break;
        if (!owner && t.kind == TraitKind::kMethod) m->freeFunction = true;
        if (m->traceName.empty())
          m->traceName = owner ? TraceName(f, owner, isStatic, t.kind, mn, local) : FunctionTraceName(f, t.index);
        auto bind = [&](Binding& b) {
          if (t.kind == TraitKind::kMethod) {
            b = Binding{};
            b.kind = Binding::Kind::kMethod;
            b.method = m;
          } else {
            if (b.kind != Binding::Kind::kAccessor) b = Binding{};
            b.kind = Binding::Kind::kAccessor;
            (t.kind == TraitKind::kGetter ? b.getter : b.setter) = m;
          }
          b.builtinNs = builtinNs;
          b.depth = depth;
        };
        bind(into.Edit()[key]);
        // A protected override replaces the member for the base classes'
        // code too, which names it by their own protected namespaces.
        if (!isStatic && owner && owner->protectedNs && ns == owner->protectedNs) {
          for (const Class* a = owner->super; a; a = a->super) {
            if (!a->protectedNs || a->protectedNs == ns) continue;
            auto it = into.Edit().find(Key(a->protectedNs, PoolNameId(u, mn.name)));
            if (it != into.Bindings().end() && it->second.kind != Binding::Kind::kSlot) bind(it->second);
          }
        }
        if (t.id > 0 && t.id < 65536) {
          if (into.dispatch.size() <= t.id) into.dispatch.resize(t.id + 1);
          into.dispatch[t.id] = m;
        }
        break;
      }
    }
  }
  (void)isStatic;
  (void)holder;
}

namespace {
// The implementor's public binding answers to the interface's name too; the
// class's own override wins over the base's one copied before.
void MapInterfaceMethods(Class* c, const Class* iface) {
  for (auto& [k, b] : iface->instance.Bindings()) {
    auto pub = c->instance.Bindings().find(Key(kPublicNs, static_cast<NameId>(k)));
    if (pub != c->instance.Bindings().end()) c->instance.Edit()[k] = pub->second;
  }
}
}  // namespace

void Machine::AddInterface(Class* c, Class* iface) {
  auto add = [](Class* to, Class* i) {
    if (std::find(to->interfaces.begin(), to->interfaces.end(), i) != to->interfaces.end()) return false;
    to->interfaces.push_back(i);
    if (!to->isInterface) MapInterfaceMethods(to, i);
    return true;
  };
  if (!add(c, iface)) return;
  for (Class* x : iface->interfaces) add(c, x);
  // Classes and interfaces that copied c's list (its subclasses, or the
  // implementors of interface c) take the late ones too.
  for (const auto& owned : classes_) {
    Class* other = owned.get();
    if (other == c || !other->IsSubclassOf(c)) continue;
    if (add(other, iface))
      for (Class* x : iface->interfaces) add(other, x);
  }
}

void Machine::SettlePendingInterfaces() {
  // A class made in this unit is found by its qualified name before the
  // script stores it in its global slot.
  auto find = [&](AbcUnit& u, std::uint32_t mn) -> Class* {
    if (Class* c = ResolveType(u, mn)) return c;
    const AbcFile& f = *u.file;
    if (mn == 0 || mn >= f.pool.multinames.size()) return nullptr;
    const Multiname& m = f.pool.multinames[mn];
    if (m.name == 0 || m.name >= f.pool.strings.size()) return nullptr;
    const std::string& local = f.pool.strings[m.name];
    for (Class* c : u.classes) {
      if (!c || c->name != local || !c->isInterface) continue;
      const Multiname& own = f.pool.multinames[f.instances[c->index].name];
      if ((m.kind == MultinameKind::kQName || m.kind == MultinameKind::kQNameA) && m.ns < u.nss.size() &&
          own.ns < u.nss.size() && u.nss[own.ns] == u.nss[m.ns])
        return c;
      if (m.kind == MultinameKind::kMultiname && m.nsSet < u.nsSets.size() && own.ns < u.nss.size())
        for (NsId ns : u.nsSets[m.nsSet])
          if (ns == u.nss[own.ns]) return c;
    }
    return nullptr;
  };
  std::vector<PendingInterface> still;
  for (const PendingInterface& p : pendingInterfaces_) {
    if (Class* ic = find(*p.unit, p.multiname)) AddInterface(p.of, ic);
    else still.push_back(p);
  }
  pendingInterfaces_ = std::move(still);
}

Class* Machine::MakeClass(AbcUnit& u, std::uint32_t index, ScopeChain* scope, Class* super) {
  const AbcFile& f = *u.file;
  const InstanceInfo& ii = f.instances[index];
  const ClassInfo& ci = f.classes[index];
  auto owned = std::make_unique<Class>();
  Class* c = owned.get();
  classes_.push_back(std::move(owned));
  const Multiname& mn = f.pool.multinames[ii.name];
  c->name = f.pool.strings[mn.name];
  if (mn.kind == MultinameKind::kQName || mn.kind == MultinameKind::kQNameA)
    c->package = f.pool.strings[f.pool.namespaces[mn.ns].name];
  c->super = super;
  c->unit = &u;
  c->index = index;
  c->sealed = ii.Has(instance_flag::kSealed);
  c->isFinal = ii.Has(instance_flag::kFinal);
  c->isInterface = ii.Has(instance_flag::kInterface);
  if (ii.Has(instance_flag::kProtectedNs)) {
    const auto& ns = f.pool.namespaces[ii.protectedNs];
    c->protectedNs = InternNs(ns.kind, f.pool.strings[ns.name]);
  }
  if (super) {
    c->instance = super->instance;
    c->interfaces = super->interfaces;
    c->elementType = super->elementType;
    c->isVector = super->isVector;
    // Members the base class left protected are reached by the subclass's
    // protected namespace too.
    if (super->protectedNs && c->protectedNs) {
      std::vector<std::pair<std::uint64_t, Binding>> add;
      for (auto& [k, b] : super->instance.Bindings())
        if ((k >> 32) == super->protectedNs) add.emplace_back(Key(c->protectedNs, static_cast<NameId>(k)), b);
      for (auto& [k, b] : add) c->instance.Edit().emplace(k, b);
    }
  }
  std::vector<std::uint32_t> unresolved;
  for (auto iface : ii.interfaces) {
    if (Class* ic = ResolveType(u, iface)) {
      c->interfaces.push_back(ic);
      for (Class* x : ic->interfaces) c->interfaces.push_back(x);
    } else {
      unresolved.push_back(iface);
    }
  }
  auto* co = heap_.New<ClassObject>();
  co->of = c;
  co->cls = classClass;
  co->traits = &c->statics;
  co->proto = classClass->prototype;
  c->object = co;
  c->prototype = heap_.New<Object>();
  c->prototype->cls = objectClass;
  c->prototype->traits = &objectClass->instance;
  c->prototype->proto = super ? super->prototype : objectClass->prototype;
  NameConstructor(c->prototype, co);
  // Instance methods see the class object in scope; the class's own
  // methods (statics, cinit) see only the scope newclass ran in, so a bare
  // name in a static finds a global before a static of the same name
  // (Haxe's Std.parseInt calls the global parseInt that way).
  auto* classScope = heap_.New<ScopeChain>();
  classScope->parent = scope;
  classScope->object = Value::Obj(co);
  co->scope = classScope;
  AddTraits(u, ii.traits, c->instance, c, false, nullptr, classScope);
  AddTraits(u, ci.traits, c->statics, c, true, co, scope);
  // An interface's methods are reached by its public name on implementors.
  for (Class* ic : c->interfaces) MapInterfaceMethods(c, ic);
  c->iinit = MethodOf(u, ii.iinit, c, classScope, c->name);
  c->cinit = MethodOf(u, ci.cinit, c, scope, c->name + "$cinit");
  if (c->iinit && c->iinit->traceName.empty()) c->iinit->traceName = c->QualifiedName();
  if (c->cinit && c->cinit->traceName.empty()) c->cinit->traceName = c->QualifiedName() + "$cinit";
  InitSlots(co, c->statics);
  co->dynamic = true;
  if (index < u.classes.size()) u.classes[index] = c;
  classByName_[c->QualifiedName()] = c;
  for (std::uint32_t iface : unresolved) pendingInterfaces_.push_back({c, &u, iface});
  if (!pendingInterfaces_.empty()) SettlePendingInterfaces();
  if (c->cinit) Invoke(c->cinit, Value::Obj(co), {}, scope);
  co->initialized = true;
  return c;
}

}  // namespace quarvel::avm2
