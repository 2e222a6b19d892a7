#include "player/avm2/machine.h"
#include "player/avm2/nullish.h"
#include "player/avm2/flash_declares.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <type_traits>

#include <sys/mman.h>

#include "player/avm2/utf16.h"

namespace quarvel::avm2 {

// ---- heap

Heap::~Heap() {
  for (Cell* c : cells_) delete c;
}

void Heap::Collect(const std::function<void(Heap&)>& roots, const std::function<void()>& beforeSweep) {
  roots(*this);
  while (!grey_.empty()) {
    Cell* c = grey_.back();
    grey_.pop_back();
    c->Trace(*this);
  }
  if (beforeSweep) beforeSweep();
  std::size_t keep = 0;
  live_ = 0;
  for (Cell* c : cells_) {
    if (c->marked) {
      c->marked = false;
      live_ += c->Bytes();
      cells_[keep++] = c;
    } else {
      delete c;
    }
  }
  cells_.resize(keep);
  allocated_ = 0;
}

void Object::Trace(Heap& h) {
  h.Mark(proto);
  for (const Value& v : slots) h.Mark(v);
  if (dyn) {
    for (auto& [k, v] : dyn->items) {
      h.Mark(k);
      h.Mark(v);
    }
  }
}

void ClassObject::Trace(Heap& h) {
  Object::Trace(h);
  h.Mark(scope);
  if (of) h.Mark(of->prototype);
}

Value* Object::FindDyn(std::string_view name) const {
  if (!dyn) return nullptr;
  auto it = dyn->index.find(name);
  return it == dyn->index.end() ? nullptr : &dyn->items[it->second].second;
}

void Object::SetDyn(StringCell* name, const Value& v) {
  if (!dyn) dyn = std::make_unique<DynProps>();
  auto it = dyn->index.find(name->text);
  if (it != dyn->index.end()) {
    dyn->items[it->second].second = v;
    return;
  }
  dyn->index.emplace(name->text, dyn->items.size());
  dyn->items.emplace_back(name, v);
  ++dyn->live;
}

bool Object::DeleteDyn(std::string_view name) {
  if (!dyn) return false;
  auto it = dyn->index.find(name);
  if (it == dyn->index.end()) return false;
  auto& item = dyn->items[it->second];
  dyn->index.erase(it);
  if (auto h = dyn->hidden.find(name); h != dyn->hidden.end()) dyn->hidden.erase(h);
  item.first = nullptr;
  item.second = Value();
  --dyn->live;
  // Compact once most entries are holes.
  if (dyn->items.size() > 16 && dyn->live * 2 < dyn->items.size()) {
    std::vector<std::pair<StringCell*, Value>> kept;
    for (auto& p : dyn->items)
      if (p.first) kept.push_back(p);
    dyn->items = std::move(kept);
    dyn->index.clear();
    for (std::size_t i = 0; i < dyn->items.size(); ++i) dyn->index.emplace(dyn->items[i].first->text, i);
  }
  return true;
}

bool Class::IsSubclassOf(const Class* other) const {
  for (const Class* c = this; c; c = c->super)
    if (c == other) return true;
  // Built-in bases declare their interfaces after their subclasses were made.
  for (const Class* c = this; c; c = c->super)
    if (std::find(c->interfaces.begin(), c->interfaces.end(), other) != c->interfaces.end()) return true;
  return false;
}

// ---- machine

Machine::Machine() {
  nsUris_.push_back("");
  nsPublic_.push_back(true);
  nsIds_[{0, ""}] = kPublicNs;
  names_.push_back(nullptr);  // name id 0: none
  stackCapacity_ = std::size_t{1} << 18;
  // A map of its own, zeroed by the system as pages are first touched: calloc
  // would clear all 4 MiB at start where the host keeps large blocks in the
  // heap. A method clears its own window on entry, so no value is read unset.
  static_assert(std::is_trivially_copyable_v<Value> && std::is_trivially_destructible_v<Value>,
                "the stack's values are made by mapping zeroed pages");
  void* const stack = ::mmap(nullptr, stackCapacity_ * sizeof(Value), PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (stack == MAP_FAILED) throw std::bad_alloc();
  stack_ = static_cast<Value*>(stack);
  clockMs = [] { return 0.0; };
  InstallBuiltins(*this);
}

Machine::~Machine() { ::munmap(stack_, stackCapacity_ * sizeof(Value)); }

void Machine::Log(const std::string& line) {
  if (logSink) logSink(line);
}

void Machine::Skip(const std::string& what) {
  if (skipped_.insert(what).second) Log("skipped " + what);
}

StringCell* Machine::Intern(std::string_view s) {
  auto it = interned_.find(s);
  if (it != interned_.end()) return it->second;
  StringCell* c = heap_.New<StringCell>(std::string(s));
  // The key views the cell's own text, which never changes and lives as
  // long as the machine (interned strings are roots).
  interned_.emplace(std::string_view(c->text), c);
  return c;
}

StringCell* Machine::NewString(std::string s) {
  Charge(s.size());
  return heap_.New<StringCell>(std::move(s));
}

NameId Machine::NameIdOf(std::string_view s) { return NameIdOf(Intern(s)); }

NameId Machine::NameIdOf(StringCell* interned) {
  if (interned->id) return interned->id;
  const auto id = static_cast<NameId>(names_.size());
  interned->id = id;
  names_.push_back(interned);
  return id;
}

NameId Machine::FindNameId(std::string_view s) const {
  auto it = interned_.find(s);
  return it == interned_.end() ? 0 : it->second->id;
}

NsId Machine::InternNs(NamespaceKind kind, std::string_view uri) {
  // Public names of every kind are one namespace per URI; the AS3 builtin
  // namespace holds the same methods as the public one here.
  int cat = 0;
  switch (kind) {
    case NamespaceKind::kPackageInternal: cat = 1; break;
    case NamespaceKind::kProtected: cat = 2; break;
    case NamespaceKind::kStaticProtected: cat = 3; break;
    default: cat = 0;
  }
  if (cat == 0 && uri == "http://adobe.com/AS3/2006/builtin") uri = "";
  auto key = std::make_pair(cat, std::string(uri));
  auto it = nsIds_.find(key);
  if (it != nsIds_.end()) return it->second;
  const auto id = static_cast<NsId>(nsUris_.size());
  nsUris_.emplace_back(uri);
  nsPublic_.push_back(cat == 0);
  nsIds_.emplace(std::move(key), id);
  return id;
}

NsId Machine::NewPrivateNs() {
  const auto id = static_cast<NsId>(nsUris_.size());
  nsUris_.emplace_back("private");
  nsPublic_.push_back(false);
  return id;
}

Name Machine::NameFromString(std::string_view s) {
  Name n;
  std::uint32_t idx = 0;
  if (ParseIndex(s, idx)) {
    n.hasIndex = true;
    n.index = idx;
  }
  n.id = FindNameId(s);
  n.local = n.id ? names_[n.id] : NewString(std::string(s));
  return n;
}

// ---- conversions

bool Machine::ToBoolean(const Value& v) const {
  switch (v.type) {
    case Type::kUndefined:
    case Type::kNull: return false;
    case Type::kBoolean: return v.b;
    case Type::kInt: return v.i != 0;
    case Type::kNumber: return !(v.d == 0 || std::isnan(v.d));
    case Type::kString: return !v.s->text.empty();
    case Type::kObject: return true;
  }
  return false;
}

double Machine::ToNumber(const Value& v) {
  switch (v.type) {
    case Type::kUndefined: return std::numeric_limits<double>::quiet_NaN();
    case Type::kNull: return 0;
    case Type::kBoolean: return v.b ? 1 : 0;
    case Type::kInt: return v.i;
    case Type::kNumber: return v.d;
    case Type::kString: return StringToNumber(v.s->text);
    case Type::kObject: {
      const Value p = ToPrimitive(v, false);
      return p.IsObject() ? std::numeric_limits<double>::quiet_NaN() : ToNumber(p);
    }
  }
  return 0;
}

std::string Machine::ToString(const Value& v) {
  switch (v.type) {
    case Type::kUndefined: return "undefined";
    case Type::kNull: return "null";
    case Type::kBoolean: return v.b ? "true" : "false";
    case Type::kInt: return std::to_string(v.i);
    case Type::kNumber: return NumberToString(v.d);
    case Type::kString: return v.s->text;
    case Type::kObject: {
      const Value p = ToPrimitive(v, true);
      return p.IsObject() ? "[object Object]" : ToString(p);
    }
  }
  return "";
}

StringCell* Machine::ToStringCell(const Value& v) {
  if (v.type == Type::kString) return v.s;
  if (v.type == Type::kUndefined) return Intern("undefined");
  if (v.type == Type::kNull) return Intern("null");
  if (v.type == Type::kBoolean) return Intern(v.b ? "true" : "false");
  return NewString(ToString(v));
}

Value Machine::ToPrimitive(const Value& v, bool hintString) {
  Object* o = v.AsObject();
  if (!o) return v;
  if (o->kind == ObjectKind::kDate && !hintString) hintString = true;
  const char* order[2] = {hintString ? "toString" : "valueOf", hintString ? "valueOf" : "toString"};
  // A native conversion method handed to another object (valueOf = Number.prototype.valueOf)
  // converts that object again; natives add no script depth, so cap the nesting here.
  if (primitiveDepth_ >= kPrimitiveDepth) {
    Log("script stopped: recursion limit (conversion)");
    ThrowError("Error", "Stack overflow occurred.", 1023);
  }
  ++primitiveDepth_;
  struct Leave {
    int& d;
    ~Leave() { --d; }
  } leave{primitiveDepth_};
  for (const char* name : order) {
    // XML reads names as children: its conversions are its methods.
    if (o->kind == ObjectKind::kXml) {
      Value r = CallProperty(v, name, {});
      if (!r.IsObject()) return r;
      continue;
    }
    // A Proxy whose class does not write the method itself is asked to call
    // it (flash_proxy callProperty), before anything its prototypes hold.
    if (proxyClass && o->cls && o->cls->IsSubclassOf(proxyClass)) {
      const Name n = NameFromString(name);
      const Binding* b = FindBinding(o->traits, n);
      Value r;
      if ((b && b->kind == Binding::Kind::kMethod && b->method && b->method->unit) || !ProxyName(o, "callProperty", n, r))
        r = CallProperty(v, name, {});
      if (!r.IsObject()) return r;
      continue;
    }
    Value f = GetProperty(v, name);
    if (f.IsObject() && (f.o->kind == ObjectKind::kFunction)) {
      Value r = Call(f, v, {});
      if (!r.IsObject()) return r;
    }
  }
  ThrowError("TypeError", "Cannot convert " + (o->cls ? o->cls->name : std::string("object")) + " to primitive.", 1050);
}

Object* Machine::ToObject(const Value& v) {
  if (v.IsNullish()) ThrowNullish(*this, v);
  if (v.IsObject()) return v.o;
  return nullptr;
}

bool Machine::StrictEquals(const Value& a, const Value& b) const {
  if (a.IsNumber() && b.IsNumber()) return a.Num() == b.Num();
  if (a.type != b.type) return false;
  switch (a.type) {
    case Type::kUndefined:
    case Type::kNull: return true;
    case Type::kBoolean: return a.b == b.b;
    case Type::kString: return a.s == b.s || a.s->text == b.s->text;
    case Type::kObject: {
      if (a.o == b.o) return true;
      // Two closures of one method on one object are the same function.
      if (a.o->kind == ObjectKind::kFunction && b.o->kind == ObjectKind::kFunction) {
        const auto* fa = static_cast<const FunctionObject*>(a.o);
        const auto* fb = static_cast<const FunctionObject*>(b.o);
        return fa->bound && fb->bound && fa->method == fb->method && StrictEquals(fa->boundThis, fb->boundThis);
      }
      if (a.o->kind == ObjectKind::kNamespace && b.o->kind == ObjectKind::kNamespace) {
        return a.o->FindDyn("uri") && b.o->FindDyn("uri") && a.o->FindDyn("uri")->s->text == b.o->FindDyn("uri")->s->text;
      }
      return false;
    }
    default: return false;
  }
}

bool Machine::Equals(const Value& a, const Value& b) {
  if (xmlEquals && ((a.IsObject() && a.o->kind == ObjectKind::kXml) || (b.IsObject() && b.o->kind == ObjectKind::kXml))) {
    if (const int r = xmlEquals(*this, a, b); r >= 0) return r == 1;
  }
  if (a.type == b.type || (a.IsNumber() && b.IsNumber())) return StrictEquals(a, b);
  if (a.IsNullish() && b.IsNullish()) return true;
  if (a.IsNullish() || b.IsNullish()) return false;
  if (a.IsNumber() && b.IsString()) return a.Num() == ToNumber(b);
  if (a.IsString() && b.IsNumber()) return ToNumber(a) == b.Num();
  if (a.type == Type::kBoolean) return Equals(Value::Int(a.b ? 1 : 0), b);
  if (b.type == Type::kBoolean) return Equals(a, Value::Int(b.b ? 1 : 0));
  if (a.IsObject() && !b.IsObject()) return Equals(ToPrimitive(a, false), b);
  if (!a.IsObject() && b.IsObject()) return Equals(a, ToPrimitive(b, false));
  return false;
}

int Machine::LessThan(const Value& a, const Value& b) {
  if (a.type == Type::kInt && b.type == Type::kInt) return a.i < b.i ? 1 : 0;
  const Value pa = ToPrimitive(a, false), pb = ToPrimitive(b, false);
  if (pa.IsString() && pb.IsString()) return CompareUtf16(pa.s->text, pb.s->text) < 0 ? 1 : 0;
  const double x = ToNumber(pa), y = ToNumber(pb);
  if (std::isnan(x) || std::isnan(y)) return -1;
  return x < y ? 1 : 0;
}

namespace {
// Appends `b` to `out`; a lone high surrogate ending `out` and a lone low
// one starting `b` (each kept in its 3-byte form) join into one character,
// as their UTF-16 units do.
void AppendUnits(std::string& out, std::string_view b) {
  const auto u = [](char c) { return static_cast<unsigned char>(c); };
  const std::size_t n = out.size();
  if (n >= 3 && b.size() >= 3 && u(out[n - 3]) == 0xED && (u(out[n - 2]) & 0xF0) == 0xA0 && u(b[0]) == 0xED &&
      (u(b[1]) & 0xF0) == 0xB0) {
    const unsigned hi = 0xD000u | ((u(out[n - 2]) & 0x3Fu) << 6) | (u(out[n - 1]) & 0x3Fu);
    const unsigned lo = 0xD000u | ((u(b[1]) & 0x3Fu) << 6) | (u(b[2]) & 0x3Fu);
    const unsigned cp = 0x10000u + ((hi - 0xD800u) << 10) + (lo - 0xDC00u);
    out.resize(n - 3);
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
    b.remove_prefix(3);
  }
  out.append(b);
}
}  // namespace

Value Machine::Add(const Value& a, const Value& b) {
  if (a.type == Type::kInt && b.type == Type::kInt) return Value::Number(static_cast<double>(a.i) + b.i);
  if (a.IsNumber() && b.IsNumber()) return Value::Number(a.Num() + b.Num());
  if (a.IsString() && b.IsString()) {
    // Counted before the copy is made: a string doubled every frame stops
    // at the cap instead of allocating past it.
    const std::size_t n = a.s->text.size() + b.s->text.size();
    Charge(n);
    std::string joined;
    joined.reserve(n);
    joined.append(a.s->text);
    AppendUnits(joined, b.s->text);
    return Value::Str(heap_.New<StringCell>(std::move(joined)));
  }
  Value joined;
  if (xmlAdd && a.IsObject() && b.IsObject() && xmlAdd(*this, a, b, joined)) return joined;
  // Beside a string (or a Date) the other side becomes a string as String()
  // makes it: an object's toString comes before its valueOf.
  const auto isDate = [](const Value& v) { return v.IsObject() && v.o->kind == ObjectKind::kDate; };
  if (a.IsString() || b.IsString() || isDate(a) || isDate(b)) {
    // Built in one buffer: a string converts with no side effect, so the
    // other side may convert first.
    if (a.IsString()) {
      const std::string sb = ToString(b);
      std::string text;
      text.reserve(a.s->text.size() + sb.size());
      text.append(a.s->text).append(sb);
      return Str(std::move(text));
    }
    std::string text = ToString(a);
    if (b.IsString()) text.append(b.s->text);
    else text.append(ToString(b));
    return Str(std::move(text));
  }
  const Value pa = ToPrimitive(a, false), pb = ToPrimitive(b, false);
  if (pa.IsString() || pb.IsString()) {
    std::string text = ToString(pa);
    AppendUnits(text, ToString(pb));
    return Str(std::move(text));
  }
  return Value::Number(ToNumber(pa) + ToNumber(pb));
}

std::string Machine::TypeOf(const Value& v) const {
  switch (v.type) {
    case Type::kUndefined: return "undefined";
    case Type::kNull: return "object";
    case Type::kBoolean: return "boolean";
    case Type::kInt:
    case Type::kNumber: return "number";
    case Type::kString: return "string";
    case Type::kObject:
      if (v.o->kind == ObjectKind::kFunction) return "function";
      if (v.o->kind == ObjectKind::kXml) return "xml";
      return "object";
  }
  return "object";
}

// ---- objects

Object* Machine::NewObject() { return Instantiate(objectClass); }

Object* Machine::NewNamespace(StringCell* uri) {
  Object* ns = Instantiate(namespaceClass);
  ns->kind = ObjectKind::kNamespace;
  ns->SetDyn(Intern("uri"), Value::Str(uri));
  return ns;
}

ArrayObject* Machine::NewArray(std::vector<Value> elems) {
  auto* a = static_cast<ArrayObject*>(Instantiate(arrayClass));
  Charge(elems.size() * sizeof(Value));
  a->elems = std::move(elems);
  return a;
}

FunctionObject* Machine::NewFunction(Method* m, ScopeChain* scope) {
  auto* f = static_cast<FunctionObject*>(Instantiate(functionClass));
  f->method = m;
  f->scope = scope;
  return f;
}

FunctionObject* Machine::NewNativeFunction(const std::string& name, NativeFn fn) {
  auto m = std::make_unique<Method>();
  m->name = name;
  m->native = fn;
  Method* raw = m.get();
  nativeMethods_.push_back(std::move(m));
  return NewFunction(raw, nullptr);
}

FunctionObject* Machine::MethodClosure(Method* m, const Value& self) {
  const Object* o = self.AsObject();
  if (o)
    if (auto it = closures_.find({m, o}); it != closures_.end()) return it->second;
  FunctionObject* f = NewFunction(m, m->scope);
  f->boundThis = self;
  f->bound = true;
  if (o) closures_[{m, o}] = f;
  return f;
}

Object* Machine::Instantiate(Class* cls) {
  NativeAlloc alloc = nullptr;
  for (Class* c = cls; c && !alloc; c = c->super) alloc = c->alloc;
  Object* o = alloc ? alloc(*this, cls) : heap_.New<Object>();
  o->cls = cls;
  o->traits = &cls->instance;
  o->proto = cls->prototype;
  o->dynamic = !cls->sealed;
  InitSlots(o, cls->instance);
  Charge(sizeof(Object) + cls->instance.slots.size() * sizeof(Value));
  return o;
}

void Machine::InitSlots(Object* o, const Traits& t) {
  o->slots.resize(t.slots.size());
  for (std::size_t i = 0; i < t.slots.size(); ++i) o->slots[i] = t.slots[i].initial;
}

Object* Machine::Construct(Class* cls, std::span<Value> args) {
  if (cls->isInterface) ThrowError("VerifyError", "The method " + cls->name + "() is not implemented.", 1001);
  Object* o = Instantiate(cls);
  Class* c = cls;
  while (c && !c->iinit) c = c->super;
  if (c) Invoke(c->iinit, Value::Obj(o), args, c->iinit->scope);
  return o;
}

Value Machine::ConstructValue(const Value& ctor, std::span<Value> args) {
  Object* o = ctor.AsObject();
  if (o && o->kind == ObjectKind::kClass) {
    Class* c = static_cast<ClassObject*>(o)->of;
    // Some classes make a value of another kind (new String -> a string).
    if (c == stringClass) return Value::Str(ToStringCell(args.empty() ? Str("") : args[0]));
    if (c == numberClass || c == intClass || c == uintClass || c == booleanClass) return Call(ctor, Value(), args);
    if (!c->scriptMayNew) {
      if (c == classClass) ThrowError("TypeError", "Class$ is not a constructor.", 1115);
      if (c->QualifiedName() == "Math") ThrowError("TypeError", "Math is not a constructor.", 1076);
      // (Flash's message for this one class has no "$")
      ThrowError("ArgumentError", c->name + (c->QualifiedName() == "flash.system::SecurityDomain" ? "" : "$") +
                                      " class cannot be instantiated.", 2012);
    }
    return Value::Obj(Construct(c, args));
  }
  if (o && o->kind == ObjectKind::kFunction) {
    auto* f = static_cast<FunctionObject*>(o);
    if (f->method && f->method->native) ThrowError("TypeError", f->method->name + " is not a constructor.", 1115);
    // A method taken off its object (a method closure) never constructs.
    if (f->bound && f->method) {
      const std::string& n = f->method->name;
      ThrowError("TypeError", "Cannot call method " + n.substr(n.rfind('/') + 1) + " as constructor.", 1064);
    }
    if (!f->prototypeObject) {
      Value p = f->prototypeCleared ? Value() : GetProperty(ctor, "prototype");
      f->prototypeObject = p.AsObject() ? p.o : NewObject();
      f->prototypeCleared = false;
    }
    Object* self = NewObject();
    self->proto = f->prototypeObject;
    Value r = Call(ctor, Value::Obj(self), args);
    return r.IsObject() ? r : Value::Obj(self);
  }
  ThrowError("TypeError", "Instantiation attempted on a non-constructor.", 1007);
}

Value Machine::MakeError(const std::string& cls, const std::string& message, int id) {
  Class* c = FindClass(cls);
  if (!c) c = errorClass;
  Value args[2] = {Str(id ? "Error #" + std::to_string(id) + ": " + message : message), Value::Int(id)};
  return Value::Obj(Construct(c, args));
}

void ThrowNullish(Machine& m, const Value& v) {
  if (v.IsUndefined()) m.ThrowError("TypeError", "A term is undefined and has no properties.", 1010);
  m.ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
}

void Machine::ThrowError(const std::string& cls, const std::string& message, int id) {
  throw ScriptThrow{MakeError(cls, message, id)};
}

// A value as a failed coercion names it: a string quoted, an instance of a
// script's class by its class and an address (we have none to show).
namespace {
std::string CoercionText(Machine& m, const Value& v) {
  if (v.IsString()) return "\"" + v.s->text + "\"";
  const Object* o = v.AsObject();
  if (!o || !o->cls) return m.ToString(v);
  if ((o->cls->unit || o->kind == ObjectKind::kVector || o->kind == ObjectKind::kArray) &&
      o->kind != ObjectKind::kClass && o->kind != ObjectKind::kFunction)
    return o->cls->QualifiedName() + "@00000000000";
  return o->cls->QualifiedName();
}
}  // namespace

// ---- property access

std::uint64_t Traits::NextSerial() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

const Binding* Machine::FindBinding(const Traits* t, const Name& n) const {
  if (!t || !n.id) return nullptr;
  // A set's arrays live as long as their block (AbcUnit::nsSets), so the
  // address names the set; without one, the one namespace does.
  const NsId single = n.nsList ? 0 : n.single;
  const std::uint64_t h = (t->Serial() * 0x9E3779B97F4A7C15ull) ^ (std::uint64_t{n.id} * 0xC2B2AE3D27D4EB4Full) ^
                          (reinterpret_cast<std::uintptr_t>(n.nsList) * 0x165667B19E3779F9ull) ^
                          (std::uint64_t{single} * 0x27D4EB2F165667C5ull);
  BindingMemo& memo = bindingMemo_[h >> (64 - kBindingMemoBits)];
  const std::uint32_t count = n.nsList ? n.nsCount : 1;
  if (memo.serial == t->Serial() && memo.nsList == n.nsList && memo.single == single && memo.nsCount == count &&
      memo.id == n.id)
    return memo.found;
  const Binding* found = nullptr;
  for (NsId ns : n.Nss()) {
    const Binding* b = t->Find(Key(ns, n.id));
    if (b && (!found || b->depth > found->depth)) found = b;
  }
  memo = BindingMemo{t->Serial(), n.nsList, single, count, n.id, found};
  return found;
}

namespace {
bool AnyPublic(const Machine& m, const Name& n) {
  for (NsId ns : n.Nss())
    if (m.IsPublicNs(ns)) return true;
  return false;
}

StringCell* LocalOf(Machine& m, Name& n) {
  if (!n.local) n.local = m.NewString(std::to_string(n.index));
  return n.local;
}

// A name as Flash's errors write it: a name in one namespace of the
// script's own is written uri::name.
std::string ErrorName(Machine& m, Name& n) {
  const std::string& local = LocalOf(m, n)->text;
  if (n.nsList) return local;
  const std::string& uri = m.NsUri(n.single);
  return uri.empty() || uri == "private" ? local : uri + "::" + local;
}

// The public methods of the top-level core classes live on prototypes in
// Flash: a dynamic property of that name on the object or a prototype wins,
// and assigning one makes a dynamic property instead of failing.
bool IsPrototypeMethod(const Binding* b) {
  const Class* owner = b && b->kind == Binding::Kind::kMethod && b->method ? b->method->owner : nullptr;
  return owner && !owner->unit && owner->package.empty();
}

Value* PrototypeShadow(Machine& m, Object* o, Object* proto, const Binding* b, Name& n) {
  // A name only in the AS3 namespace is the class's own method: a
  // prototype's replacement (which may call that very method) never shadows it.
  if (!IsPrototypeMethod(b) || n.as3) return nullptr;
  const std::string& key = LocalOf(m, n)->text;
  if (o && o->dyn)
    if (Value* v = o->FindDyn(key)) return v;
  for (Object* p = proto; p; p = p->proto)
    if (p->dyn)
      if (Value* v = p->FindDyn(key)) return v;
  return nullptr;
}

bool HasNativeBase(const Class* c, const Class* objectClass) {
  for (; c; c = c->super)
    if (!c->unit && c != objectClass) return true;
  return false;
}

// A public name no Flash class of the chain declares is no member Flash has
// and the player lacks: reading or writing it fails as in Flash.
bool UndeclaredInFlash(Machine& m, const Class* objectClass, const Class* cls, Name& n) {
  return AnyPublic(m, n) && FlashDeclaresMember(cls, objectClass, LocalOf(m, n)->text) == FlashDeclares::kNo;
}

// A name a built-in class lacks, known where it is: another built-in class
// of the same family (below a common base two or more levels under Object,
// as DisplayObjectContainer and TextField share InteractiveObject) declares
// it. Flash's classes are sealed, so that is a real miss (tabChildren on a
// TextField), not a member the binding has yet to learn.
bool DeclaredInFamilyOnly(const Machine& m, const std::vector<std::unique_ptr<Class>>& all, const Class* objectClass,
                          const Class* cls, const Name& n) {
  const Class* own = cls;
  while (own && own->unit) own = own->super;
  if (!own) return false;
  for (const auto& k : all) {
    if (k->unit || k.get() == own || cls->IsSubclassOf(k.get()) || !m.FindBinding(&k->instance, n)) continue;
    const Class* common = own;
    while (common && !k->IsSubclassOf(common)) common = common->super;
    if (common && common->super && common->super != objectClass) return true;
  }
  return false;
}
}  // namespace

bool Machine::ProxyCall(Object* o, std::string_view method, std::span<Value> args, Value& out) {
  if (!proxyClass || !o || !o->cls || !o->traits || !o->cls->IsSubclassOf(proxyClass)) return false;
  const NameId id = FindNameId(method);
  if (!id) return false;
  const Binding* b = o->traits->Find(Key(proxyNs, id));
  // Proxy's own hooks only throw: a script calls them by name, the machine's
  // implicit uses go on without a subclass's override.
  if (!b || b->kind != Binding::Kind::kMethod || !b->method || b->method->native) return false;
  out = Invoke(b->method, Value::Obj(o), args, b->method->scope);
  return true;
}

// The URI of the QName a proxy is handed: a name written in one namespace
// (ns::name) keeps its URI; a name looked up in the open namespaces is public.
std::string Machine::ProxyUri(const Name& n) const {
  if (n.nsList || n.Nss().empty()) return {};
  const NsId ns = n.Nss()[0];
  return IsPublicNs(ns) ? NsUri(ns) : std::string();
}

bool Machine::ProxyName(Object* o, std::string_view method, const Name& nIn, Value& out, const Value* extra) {
  if (!proxyClass || !o || !o->cls || !o->cls->IsSubclassOf(proxyClass)) return false;
  Name n = nIn;
  // obj.* asks for any name in any namespace: QName("*") as Flash writes it.
  const bool any = !n.hasIndex && (!n.local || n.local->text.empty());
  const std::string uri = ProxyUri(n);
  std::vector<Value> args{any || uri == "*" ? Value::Null() : Str(uri), any ? Str("*") : Value::Str(LocalOf(*this, n))};
  Value qn = Value::Obj(Construct(FindClass("QName"), args));
  std::vector<Value> call{qn};
  if (extra) call.push_back(*extra);
  return ProxyCall(o, method, call, out);
}

Class* Machine::SlotType(const SlotInfo& si) {
  if (!si.typeResolved && si.unit && si.typeName) {
    auto& mut = const_cast<SlotInfo&>(si);
    mut.type = ResolveType(*si.unit, si.typeName);
    mut.typeResolved = true;
  }
  return si.type;
}

Class* Machine::ClassOf(const Value& v) {
  switch (v.type) {
    case Type::kBoolean: return booleanClass;
    case Type::kInt: return intClass;
    case Type::kNumber: return numberClass;
    case Type::kString: return stringClass;
    case Type::kObject: return v.o->cls;
    default: return nullptr;
  }
}

Value Machine::GetSlotted(Object* o, const Binding& b, const Value& self) {
  switch (b.kind) {
    case Binding::Kind::kSlot: return o ? o->slots[b.slot] : Value();
    case Binding::Kind::kMethod: return Value::Obj(MethodClosure(b.method, self));
    case Binding::Kind::kAccessor:
      if (!b.getter) {
        // (the setter's method is named "Class/name")
        const Class* c = ClassOf(self);
        const std::string& setter = b.setter ? b.setter->name : std::string();
        ThrowError("ReferenceError",
                   "Illegal read of write-only property " + setter.substr(setter.rfind('/') + 1) +
                       (c ? " on " + c->DottedName() : std::string()) + ".",
                   1077);
      }
      return Invoke(b.getter, self, {}, b.getter->scope);
  }
  return Value();
}

Value Machine::GetProperty(const Value& objV, const Name& nIn) {
  Name n = nIn;
  if (objV.IsNullish()) ThrowNullish(*this, objV);
  Object* o = objV.AsObject();
  if (!o) {
    Class* c = ClassOf(objV);
    if (objV.IsString() && n.hasIndex) {
      const auto& t = objV.s->text;
      if (IsAscii(t)) return n.index < t.size() ? Str(std::string(1, t[n.index])) : Value();
      const std::u16string u = ToUtf16(t);
      return n.index < u.size() ? Str(FromUtf16(u.substr(n.index, 1))) : Value();
    }
    if (const Binding* b = FindBinding(&c->instance, n)) {
      if (Value* v = PrototypeShadow(*this, nullptr, c->prototype, b, n)) return *v;
      if (IsPrototypeMethod(b) && !n.as3) return Value::Obj(NewFunction(b->method, nullptr));
      return GetSlotted(nullptr, *b, objV);
    }
    if (AnyPublic(*this, n)) {
      // Every number, int and uint too, reads Number's prototype.
      for (Object* p = objV.IsNumber() ? numberClass->prototype : c->prototype; p; p = p->proto)
        if (Value* v = p->FindDyn(LocalOf(*this, n)->text)) return *v;
    }
    // The primitives' classes are sealed: a name none of them has is an error.
    if (c && !n.attribute && (objV.IsNumber() || objV.IsString() || objV.type == Type::kBoolean))
      ThrowError("ReferenceError",
                 "Property " + LocalOf(*this, n)->text + " not found on " + (objV.IsNumber() ? "Number" : c->name) +
                     " and there is no default value.",
                 1069);
    return Value();
  }
  Value out;
  if (n.hasIndex && GetIndexed(o, n, out)) return out;
  // Attributes are never traits: xml.@name is not the method name().
  // E4X's methods are not read as properties: xml.name is the child <name>.
  // Named in the AS3 namespace alone, XML's method is read, bound to it.
  if (o->kind == ObjectKind::kXml && n.as3 && !n.nsList && !n.attribute)
    if (const Binding* b = FindBinding(o->traits, n); b && b->kind == Binding::Kind::kMethod)
      return Value::Obj(MethodClosure(b->method, objV));
  if (o->kind == ObjectKind::kXml && xmlGet) return xmlGet(*this, o, n);
  // RegExp.prototype.toString is RegExp's, unbound.
  if (o->nativePrototype && o->kind == ObjectKind::kPlain) {
    if (auto it = nativePrototypes_.find(o); it != nativePrototypes_.end()) {
      const Binding* b = FindBinding(&it->second->instance, n);
      if (IsPrototypeMethod(b)) {
        // A method the class inherits is its base's prototype's: what the
        // prototypes between hold comes first (TypeError.prototype.toString).
        Object* above = b->method->owner != it->second ? o->proto : nullptr;
        if (Value* v = PrototypeShadow(*this, o, above, b, n)) return *v;
        return Value::Obj(NewFunction(b->method, nullptr));
      }
    }
  }
  if (const Binding* b = FindBinding(o->traits, n)) {
    if (Value* v = PrototypeShadow(*this, o, o->proto, b, n)) return *v;
    // A function's call and apply are its own methods: read off it, they keep it.
    if (o->kind == ObjectKind::kFunction && IsPrototypeMethod(b) && b->method->owner == functionClass &&
        o != functionClass->prototype)
      return Value::Obj(MethodClosure(b->method, objV));
    // Read, such a method is the prototype's function, bound to no object;
    // through the AS3 namespace it is the class's method, bound to this one.
    if (IsPrototypeMethod(b) && !n.as3) return Value::Obj(NewFunction(b->method, nullptr));
    return GetSlotted(o, *b, objV);
  }
  // The built-in global object is an Object too (toString, as a listener's `this`).
  if (o == builtinGlobal_ && objectClass)
    if (const Binding* b = FindBinding(&objectClass->instance, n); IsPrototypeMethod(b) && !n.as3)
      if (!PrototypeShadow(*this, o, o->proto, b, n)) return Value::Obj(NewFunction(b->method, nullptr));
  // A class object is a Class too (prototype).
  if (o->kind == ObjectKind::kClass && classClass)
    if (const Binding* b = FindBinding(&classClass->instance, n)) return GetSlotted(o, *b, objV);
  if (o->kind == ObjectKind::kNative || o->kind == ObjectKind::kPlain)
    if (ProxyName(o, "getProperty", n, out)) return out;
  if (AnyPublic(*this, n) && (n.local || n.hasIndex)) {
    const std::string& key = LocalOf(*this, n)->text;
    if (Value* v = o->FindDyn(key)) return *v;
    for (Object* p = o->proto; p; p = p->proto)
      if (Value* v = p->FindDyn(key)) return *v;
  }
  if (o->dynamic || !o->cls || o->kind == ObjectKind::kClass || o->kind == ObjectKind::kFunction) return Value();
  if (HasNativeBase(o->cls, objectClass) && !DeclaredInFamilyOnly(*this, classes_, objectClass, o->cls, n) &&
      !UndeclaredInFlash(*this, objectClass, o->cls, n)) {
    Skip(o->cls->name + "." + LocalOf(*this, n)->text);
    return Value();
  }
  ThrowError("ReferenceError",
             // (the class named with dots, as this message of Flash's does)
             "Property " + ErrorName(*this, n) + " not found on " +
                 (o->traits && !o->traits->catchName.empty() ? o->traits->catchName
                  : o->cls->package.empty()                 ? o->cls->name
                                                            : o->cls->package + "." + o->cls->name) +
                 " and there is no default value.",
             1069);
}

void Machine::SetProperty(const Value& objV, const Name& nIn, const Value& v, bool init) {
  Name n = nIn;
  if (objV.IsNullish()) ThrowNullish(*this, objV);
  Object* o = objV.AsObject();
  if (!o) {
    // A string, number or boolean is of a sealed class: nothing is written.
    Class* c = ClassOf(objV);
    if (!c) return;
    const Binding* b = FindBinding(&c->instance, n);
    const std::string on = " on " + (objV.IsNumber() ? std::string("Number") : c->DottedName()) + ".";
    if (b && b->kind == Binding::Kind::kMethod)
      ThrowError("ReferenceError", "Cannot assign to a method " + ErrorName(*this, n) + on, 1037);
    if (b) ThrowError("ReferenceError", "Illegal write to read-only property " + ErrorName(*this, n) + on, 1074);
    ThrowError("ReferenceError", "Cannot create property " + ErrorName(*this, n) + on, 1056);
  }
  if (n.hasIndex && SetIndexed(o, n, v)) return;
  if (o->kind == ObjectKind::kXml && xmlSet && xmlSet(*this, o, n, v)) return;
  const Binding* b = FindBinding(o->traits, n);
  if (IsPrototypeMethod(b)) b = nullptr;
  if (b) {
    switch (b->kind) {
      case Binding::Kind::kSlot: {
        if (b->isConst && !init)
          ThrowError("ReferenceError",
                     "Illegal write to read-only property " + ErrorName(*this, n) + " on " + o->cls->DottedName() + ".", 1074);
        const SlotInfo& si = o->traits->slots[b->slot];
        Class* type = si.type;
        if (!si.typeResolved && si.unit && si.typeName) {
          // A class's own static of its type is written by its initialiser,
          // before the class has its name: resolved on a later write.
          auto& mut = const_cast<SlotInfo&>(si);
          mut.type = ResolveType(*si.unit, si.typeName);
          const bool any = si.unit->file->NameOf(si.typeName) == "*";
          mut.typeResolved = mut.type || any;
          type = mut.type;
          if (!type && !any && v.IsUndefined()) {
            o->slots[b->slot] = Value::Null();
            return;
          }
        }
        o->slots[b->slot] = type ? Coerce(v, type) : v;
        return;
      }
      case Binding::Kind::kAccessor: {
        if (!b->setter)
          ThrowError("ReferenceError",
                     "Illegal write to read-only property " + ErrorName(*this, n) + " on " + o->cls->DottedName() + ".", 1074);
        Value arg = v;
        Invoke(b->setter, objV, std::span<Value>(&arg, 1), b->setter->scope);
        return;
      }
      case Binding::Kind::kMethod:
        ThrowError("ReferenceError", "Cannot assign to a method " + ErrorName(*this, n) + " on " + o->cls->DottedName() + ".", 1037);
    }
  }
  Value ignored;
  if ((o->kind == ObjectKind::kNative || o->kind == ObjectKind::kPlain) && ProxyName(o, "setProperty", n, ignored, &v)) return;
  if (o->dynamic || !o->cls || o->kind == ObjectKind::kClass) {
    if (!AnyPublic(*this, n)) return;
    StringCell* key = LocalOf(*this, n);
    o->SetDyn(key, v);
    return;
  }
  if (HasNativeBase(o->cls, objectClass) && !DeclaredInFamilyOnly(*this, classes_, objectClass, o->cls, n) &&
      !UndeclaredInFlash(*this, objectClass, o->cls, n)) {
    Skip(o->cls->name + "." + LocalOf(*this, n)->text + " (set)");
    return;
  }
  ThrowError("ReferenceError",
             "Cannot create property " + ErrorName(*this, n) + " on " + o->cls->DottedName() + ".", 1056);
}

bool Machine::PrimitiveHas(const Value& v, const Name& nIn) {
  Name n = nIn;
  Class* c = ClassOf(v);
  if (!c || v.IsObject()) return false;
  if (FindBinding(&c->instance, n)) return true;
  if (!AnyPublic(*this, n)) return false;
  for (Object* p = v.IsNumber() ? numberClass->prototype : c->prototype; p; p = p->proto)
    if (p->FindDyn(LocalOf(*this, n)->text)) return true;
  return false;
}

bool Machine::HasProperty(const Value& objV, const Name& nIn) {
  Name n = nIn;
  Object* o = objV.AsObject();
  if (!o) {
    Class* c = ClassOf(objV);
    return c && FindBinding(&c->instance, n);
  }
  Value tmp;
  if (n.hasIndex && o->kind == ObjectKind::kArray) {
    auto* a = static_cast<ArrayObject*>(o);
    if (n.index < a->elems.size() && !a->elems[n.index].IsHole()) return true;
  } else if (n.hasIndex && GetIndexed(o, n, tmp)) {
    return true;
  }
  // An XML value has the children and attributes it holds (a filter's
  // scope finds @type or name there).
  if (o->kind == ObjectKind::kXml && xmlHas && xmlHas(*this, o, n)) return true;
  if (FindBinding(o->traits, n)) return true;
  if (ProxyName(o, "hasProperty", n, tmp)) return ToBoolean(tmp);
  if (!AnyPublic(*this, n)) return false;
  const std::string& key = LocalOf(*this, n)->text;
  for (Object* p = o; p; p = p->proto)
    if (p->FindDyn(key)) return true;
  return false;
}

bool Machine::DeleteProperty(const Value& objV, const Name& nIn) {
  Name n = nIn;
  if (objV.IsNullish()) ThrowNullish(*this, objV);
  Object* o = objV.AsObject();
  if (!o) {
    const Class* c = ClassOf(objV);
    ThrowError("ReferenceError",
               "Cannot delete property " + ErrorName(*this, n) + " on " +
                   (objV.IsNumber() ? std::string("Number") : c ? c->DottedName() : std::string("Object")) + ".",
               1120);
  }
  if (o->kind == ObjectKind::kXml && xmlDelete) return xmlDelete(*this, o, n);
  if (n.hasIndex) {
    if (o->kind == ObjectKind::kArray) {
      auto* a = static_cast<ArrayObject*>(o);
      if (n.index < a->elems.size()) a->elems[n.index] = Value::Hole();
      return true;
    }
  }
  if (FindBinding(o->traits, n)) return false;
  // A vector's elements stay, and any other name it answers as deleted.
  if (o->kind == ObjectKind::kVector) return true;
  Value deleted;
  if (ProxyName(o, "deleteProperty", n, deleted)) return ToBoolean(deleted);
  if (o->DeleteDyn(LocalOf(*this, n)->text)) return true;
  // A dynamic object answers true for a name it never had: a script's global
  // object, a plain Object, an object of a script's dynamic class.
  return o->dynamic && (o->scriptGlobal || o->cls == objectClass || (o->cls && o->cls->unit));
}

Value Machine::CallProperty(const Value& objV, const Name& n, std::span<Value> args, bool lex) {
  if (objV.IsNullish()) ThrowNullish(*this, objV);
  Object* o = objV.AsObject();
  // The primitives' prototypes stand for their default values: their own
  // methods run on them (String.prototype.toString() is "").
  if (o && o->nativePrototype && o->kind == ObjectKind::kPlain) {
    if (auto it = nativePrototypes_.find(o); it != nativePrototypes_.end()) {
      const Class* c = it->second;
      if (c == stringClass || c == numberClass || c == intClass || c == uintClass || c == booleanClass) {
        Name copy = n;
        const Binding* b = FindBinding(&it->second->instance, copy);
        if (IsPrototypeMethod(b)) {
          if (Value* v = PrototypeShadow(*this, o, nullptr, b, copy)) return Call(*v, objV, args);
          return Invoke(b->method, objV, args, b->method->scope);
        }
      }
      // XML's and XMLList's toString on their own prototype is "", before
      // any coercion of `this` to XML.
      if ((c->name == "XML" || c->name == "XMLList") && c->package.empty() && !n.attribute && n.id == NameIdOf("toString") &&
          !o->FindDyn("toString"))
        return Str("");
    }
  }
  const Traits* t = o ? o->traits : (ClassOf(objV) ? &ClassOf(objV)->instance : nullptr);
  const Binding* binding = FindBinding(t, n);
  if (binding && binding->kind == Binding::Kind::kMethod) {
    Name copy = n;
    Object* proto = o ? o->proto : ClassOf(objV)->prototype;
    if (Value* f = PrototypeShadow(*this, o, proto, binding, copy)) return Call(*f, objV, args);
    return Invoke(binding->method, objV, args, binding->method->scope);
  }
  if (!binding && o && proxyClass && o->cls && o->cls->IsSubclassOf(proxyClass)) {
    // callProperty(name, ...args)
    Name copy = n;
    std::vector<Value> qargs{Str(ProxyUri(copy)), Value::Str(LocalOf(*this, copy))};
    std::vector<Value> call{Value::Obj(Construct(FindClass("QName"), qargs))};
    call.insert(call.end(), args.begin(), args.end());
    Value out;
    if (ProxyCall(o, "callProperty", call, out)) return out;
  }
  if (o && o->kind == ObjectKind::kXml && n.local) {
    // XML's own names are children: a call finds a function of its
    // prototype, else (simple content) the String method on its text.
    for (Object* p = o->proto; p; p = p->proto)
      if (Value* f = p->FindDyn(n.local->text)) return Call(*f, objV, args);
    if (ToBoolean(CallProperty(objV, "hasSimpleContent", {}))) return CallProperty(Value::Str(ToStringCell(objV)), n, args);
    ThrowError("TypeError", "Call attempted on a value that is not a function: " + n.local->text + ".", 1006);
  }
  Value f = GetProperty(objV, n);
  if (f.IsUndefined() && !(o && o->dynamic)) {
    Name copy = n;
    const std::string what = (o && o->cls ? o->cls->name + "/" : "") + LocalOf(*this, copy)->text;
    if (o && o->cls && HasNativeBase(o->cls, objectClass)) {
      Skip(what + "()");
      return Value();
    }
    ThrowError("TypeError", "Call attempted on an undefined method " + what + ".", 1006);
  }
  if (!f.IsObject()) {
    Name copy = n;
    ThrowError("TypeError", "Call attempted on a value that is not a function: " + LocalOf(*this, copy)->text + ".", 1006);
  }
  return Call(f, lex ? Value::Null() : objV, args);
}

Value Machine::CallFromPlayer(const Value& fn, std::span<Value> args) {
  Object* o = fn.AsObject();
  if (builtinGlobal_ && o && o->kind == ObjectKind::kFunction) {
    auto* f = static_cast<FunctionObject*>(o);
    if (f->method && !f->bound && f->scope) {
      if (!builtinGlobal_->proto) builtinGlobal_->proto = objectClass->prototype;
      return Invoke(f->method, Value::Obj(builtinGlobal_), args, f->scope, f);
    }
  }
  return Call(fn, Value::Null(), args);
}

Value Machine::Call(const Value& fn, const Value& self, std::span<Value> args) {
  Object* o = fn.AsObject();
  if (o && o->kind == ObjectKind::kFunction) {
    auto* f = static_cast<FunctionObject*>(o);
    if (!f->method) return Value();
    if (f->bound) return Invoke(f->method, f->boundThis, args, f->scope, f);
    // Object's own methods called on nothing run on the global object.
    if (self.IsNullish() && f->method->native && !f->scope && f->method->owner == objectClass) {
      const Value g = CallerGlobal();
      if (!g.IsUndefined()) return Invoke(f->method, g, args, f->scope);
    }
    // A plain function called without an object runs on its global object.
    if (self.IsNullish() && f->scope) {
      ScopeChain* g = f->scope;
      while (g->parent) g = g->parent;
      return Invoke(f->method, g->object, args, f->scope, f);
    }
    return Invoke(f->method, self, args, f->scope, f);
  }
  if (o && o->kind == ObjectKind::kClass) {
    // A class called as a function converts or casts its argument.
    Class* c = static_cast<ClassObject*>(o)->of;
    Value a = args.empty() ? Value() : args[0];
    if (c == stringClass) return Value::Str(args.empty() ? Intern("") : ToStringCell(a));
    if (c == numberClass) return Value::Number(args.empty() ? 0 : ToNumber(a));
    if (c == intClass) return Value::Int(ToInt(a));
    if (c == uintClass) return Value::Number(ToUint(a));
    if (c == booleanClass) return Value::Bool(ToBoolean(a));
    if (c == arrayClass || c == objectClass || c == errorClass || c->IsSubclassOf(errorClass) ||
        c->name == "Date" || c->name == "RegExp" || c->name == "XML" || c->name == "XMLList" || c == namespaceClass ||
        c->name == "QName") {
      // Namespace(ns) and QName(qname) are the value itself.
      if (args.size() == 1 && a.IsObject() && ((c == namespaceClass && a.o->kind == ObjectKind::kNamespace) || a.o->cls == c))
        return a;
      if (c == objectClass && !a.IsNullish()) return a;
      if (c->name == "Date") return Str(ToString(Value::Obj(Construct(c, {}))));
      // XML(list of one) is its item.
      if (c->name == "XML" && a.IsObject() && a.o->kind == ObjectKind::kXml && a.o->cls && a.o->cls->name == "XMLList" &&
          ToInt(CallProperty(a, "length", {})) == 1)
        return GetProperty(a, NameFromString("0"));
      if ((c->name == "XML" || c->name == "XMLList") && a.IsObject() && a.o->kind == ObjectKind::kXml) return a;
      return Value::Obj(Construct(c, args));
    }
    if (c->isVector && c != vectorClass) {
      // Vector.<T>(x) converts: a vector of that type is itself; any other
      // object gives its `length` elements, each coerced; anything else
      // fails to coerce.
      if (args.size() != 1)
        ThrowError("ArgumentError",
                   "Argument count mismatch on class coercion.  Expected 1, got " + std::to_string(args.size()) + ".", 1112);
      if (IsType(a, c)) return a;
      if (!a.IsObject())
        ThrowError("TypeError", "Type Coercion failed: cannot convert " + ToString(a) + " to " + c->DottedName() + ".",
                   1034);
      const double n = ToNumber(GetProperty(a, "length"));
      const std::uint32_t len = n > 0 && n < 4294967296.0 ? static_cast<std::uint32_t>(n) : 0;
      Object* out = Construct(c, {});
      const Value vec = Value::Obj(out);
      for (std::uint32_t i = 0; i < len; ++i) {
        Value item[1] = {GetProperty(a, NameFromString(std::to_string(i)))};
        CallProperty(vec, "push", item);
      }
      return vec;
    }
    if (c->isVector) return Value::Obj(Construct(c, args));
    if (a.IsNullish() || IsType(a, c)) return a.IsUndefined() ? Value::Null() : a;
    ThrowError("TypeError", "Type Coercion failed: cannot convert " + CoercionText(*this, a) + " to " + c->DottedName() + ".", 1034);
  }
  ThrowError("TypeError", "Value is not a function.", 1006);
}


Value Machine::Invoke(Method* m, const Value& self, std::span<Value> args, ScopeChain* scope, FunctionObject* callee) {
  // Natives count toward the depth only through the script methods they
  // call back; the player API's are frames of a stack trace.
  if (m->native) {
    if (m->traceName.empty()) return m->native(*this, self, args);
    frames_.push_back(m);
    struct Pop {
      std::vector<const Method*>& frames;
      ~Pop() { frames.pop_back(); }
    } pop{frames_};
    return m->native(*this, self, args);
  }
  // The machine's own depth cap, and the thread's stack: script frames cost
  // more of it in some builds than in others.
  char here = 0;
  if (depth_ == 0) stackBase_ = &here;
  const std::ptrdiff_t diff = stackBase_ ? stackBase_ - &here : 0;
  const auto used = static_cast<std::size_t>(std::max<std::ptrdiff_t>(diff, 0));
  if (depth_ >= limits.callDepth || used > limits.nativeStackBytes) {
    Log("script stopped: recursion limit (stack overflow)");
    ThrowError("Error", "Stack overflow occurred.", 1023);
  }
  ++depth_;
  frames_.push_back(m);
  struct Leave {
    int& d;
    std::vector<const Method*>& frames;
    ~Leave() {
      --d;
      frames.pop_back();
    }
  } leave{depth_, frames_};
  return Interpret(m, self, args, scope, callee);
}

Value Machine::CallerGlobal() const {
  for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
    if ((*it)->native || !(*it)->scope) continue;
    const ScopeChain* g = (*it)->scope;
    while (g->parent) g = g->parent;
    if (const Object* o = g->object.AsObject(); o && o->scriptGlobal) return g->object;
  }
  return Value();
}

std::string TraceNameOf(const Method& m) { return m.traceName.empty() ? m.name : m.traceName; }

void Machine::ThrowFromCaller(const std::string& cls, const std::string& message, int id) {
  const Method* top = frames_.empty() ? nullptr : frames_.back();
  if (top) frames_.pop_back();
  Value e;
  try {
    e = MakeError(cls, message, id);
  } catch (...) {
    if (top) frames_.push_back(top);
    throw;
  }
  if (top) frames_.push_back(top);
  throw ScriptThrow{e};
}

Machine::NativeFrame::NativeFrame(Machine& m, const std::string& traceName) : m_(m) {
  auto& named = m.namedFrames_[traceName];
  if (!named) {
    named = std::make_unique<Method>();
    named->name = traceName;
    named->traceName = traceName;
  }
  m.frames_.push_back(named.get());
}

Machine::NativeFrame::~NativeFrame() { m_.frames_.pop_back(); }

int Machine::RunningSwfVersion() const {
  const AbcUnit* u = frames_.empty() ? nullptr : frames_.back()->unit;
  return u && u->swfVersion > 0 ? u->swfVersion : swfVersion;
}

const AbcFile* Machine::RunningAbc() const {
  // A native method has no block: its caller's.
  for (auto it = frames_.rbegin(); it != frames_.rend(); ++it)
    if ((*it)->unit) return (*it)->unit->file.get();
  return nullptr;
}

std::string Machine::StackTrace() const {
  std::string out;
  for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
    const Method* m = *it;
    out += "\n\tat ";
    out += TraceNameOf(*m);
    out += "()";
  }
  return out;
}

Value Machine::RunFunction(const Value& fn, const Value& self, std::span<Value> args) { return Call(fn, self, args); }

std::string Machine::DescribeThrow(const Value& v) {
  // Describing may run script code (a toString) that throws or hits a cap.
  const int entryDepth = depth_;
  const std::size_t entryStack = stackUsed_;
  try {
    if (Object* o = v.AsObject(); o && o->cls && o->cls->IsSubclassOf(errorClass)) {
      const std::string name = ToString(GetProperty(v, "name"));
      const std::string message = ToString(GetProperty(v, "message"));
      return message.empty() ? name : name + ": " + message;
    }
    return ToString(v);
  } catch (...) {
    depth_ = entryDepth;
    stackUsed_ = entryStack;
    return "(an error that cannot be described)";
  }
}

void Machine::ReportUncaught(const Value& v, const char* what) {
  std::string text = DescribeThrow(v);
  // The debugger player follows it with where the error was made.
  if (Object* o = v.AsObject(); o && o->kind == ObjectKind::kError) text += static_cast<ErrorObject*>(o)->stack;
  // Flash's debugger player prints an uncaught error where trace() prints.
  if (traceSink) traceSink(text);
  Log(std::string("uncaught error in ") + what + ": " + text);
}

bool Machine::SafeCall(const std::function<void()>& f, const char* what) {
  if (aborted_) return false;
  return Contain(f, what);
}

bool Machine::Contain(const std::function<void()>& f, const char* what) {
  // Calls from inside running scripts (listeners of dispatchEvent...) keep
  // the frames below them: the unwinding restores the depth and stack.
  const int entryDepth = depth_;
  const std::size_t entryStack = stackUsed_;
  try {
    f();
    return true;
  } catch (const ScriptThrow& t) {
    ReportUncaught(t.value, what);
  } catch (const ScriptAbort& a) {
    // A cap ends the whole script, not only this call.
    if (entryDepth > 0) throw;
    aborted_ = true;
    Log(std::string("script stopped: ") + a.what() + " (in " + what + ")");
    Skip(a.what());
  } catch (const std::bad_alloc&) {
    if (entryDepth > 0) throw;
    aborted_ = true;
    Log(std::string("script stopped: memory the system gives (in ") + what + ")");
  }
  depth_ = entryDepth;
  stackUsed_ = entryStack;
  return false;
}

void Machine::Charge(std::size_t bytes) {
  heap_.AddAllocated(bytes);
  CheckCaps();
}

void Machine::CheckCaps() {
  // A cap stops a running script; the host's own allocations outside one go
  // on, and the next script the host runs meets the cap.
  if (depth_ == 0) return;
  const std::size_t frame = heap_.AllocatedSinceCollect();
  if (frame > limits.bytesPerFrame) {
    throw ScriptAbort("memory cap of one frame's scripts (" + std::to_string(limits.bytesPerFrame >> 20) + " MB)");
  }
  if (heap_.LiveBytes() + frame > limits.heapBytes) {
    throw ScriptAbort("memory cap of the scripts' objects (" + std::to_string(limits.heapBytes >> 20) + " MB)");
  }
  if (heap_.Count() > limits.liveCells) {
    throw ScriptAbort("cap of " + std::to_string(limits.liveCells) + " script objects");
  }
}

void Machine::BeginFrame() {
  instructions_ = 0;
  aborted_ = false;
}

void Machine::CollectIfDue() {
  // A collection walks every live object, so a large heap (a Flex
  // application's) paid it every frame. Garbage waits for a quarter of the
  // live bytes, within bounds that keep what the caps count close to a frame's.
  constexpr std::size_t kLeast = std::size_t{4} << 20, kMost = std::size_t{32} << 20;
  if (heap_.AllocatedSinceCollect() < std::clamp(heap_.LiveBytes() / 4, kLeast, kMost)) return;
  Collect();
}

void Machine::Collect() {
  heap_.Collect([this](Heap& h) {
    for (auto& [k, c] : interned_) h.Mark(c);
    h.Mark(builtinGlobal_);
    for (auto& c : classes_) {
      h.Mark(c->object);
      h.Mark(c->prototype);
      for (auto& s : c->instance.slots) h.Mark(s.initial);
      for (auto& s : c->statics.slots) h.Mark(s.initial);
    }
    for (auto& m : nativeMethods_) h.Mark(m->scope);
    for (auto& u : units_) {
      for (auto* s : u->strings) h.Mark(s);
      for (auto* g : u->scripts) h.Mark(g);
      for (auto& m : u->methods)
        if (m) h.Mark(m->scope);
      for (auto& m : u->rebound) h.Mark(m->scope);
    }
    for (const Value& v : pinned_) h.Mark(v);
    h.Mark(domainMemory);
    for (auto& t : timers) {
      h.Mark(t.fn);
      for (auto& v : t.args) h.Mark(v);
    }
    for (auto& r : extraRoots_) r(h);
  }, [this] {
    // The cache holds neither: a closure or object no one reaches goes.
    std::erase_if(closures_, [](const auto& e) { return !e.first.second->marked || !e.second->marked; });
    for (auto& hook : sweepHooks_) hook();
  });
}

// ---- index access (arrays; vectors and byte arrays in builtins)

Value Machine::ElementAt(const ArrayObject* a, std::size_t i) {
  const Value& v = a->elems[i];
  if (!v.IsHole()) return v;
  const std::string key = std::to_string(i);
  for (Object* p = a->proto; p; p = p->proto)
    if (Value* found = p->FindDyn(key)) return *found;
  return Value();
}

bool Machine::GetIndexed(Object* o, const Name& n, Value& out) {
  if (o->kind == ObjectKind::kArray || o->kind == ObjectKind::kVector) {
    auto* a = static_cast<ArrayObject*>(o);
    if (!AnyPublic(*this, n)) return false;
    if (n.index < a->elems.size()) {
      out = ElementAt(a, n.index);
      return true;
    }
    if (o->kind == ObjectKind::kVector)
      ThrowError("RangeError", "The index " + std::to_string(n.index) + " is out of range " + std::to_string(a->elems.size()) + ".", 1125);
    // Past the end an array reads its own dynamic names, then its prototypes.
    const std::string key = std::to_string(n.index);
    if (o->FindDyn(key)) return false;
    out = Value();
    for (Object* p = o->proto; p; p = p->proto)
      if (Value* found = p->FindDyn(key)) {
        out = *found;
        break;
      }
    return true;
  }
  if (o->kind == ObjectKind::kByteArray) {
    auto* a = static_cast<ByteArrayObject*>(o);
    out = n.index < a->bytes.size() ? Value::Int(a->bytes[n.index]) : Value();
    return true;
  }
  return false;
}

bool Machine::SetIndexed(Object* o, const Name& n, const Value& v) {
  if (o->kind == ObjectKind::kByteArray) {
    auto* a = static_cast<ByteArrayObject*>(o);
    if (n.index >= a->bytes.size()) {
      if (n.index > (std::size_t{1} << 28)) ThrowError("RangeError", "ByteArray index too large.", 1005);
      Charge(n.index + 1 - a->bytes.size());
      a->bytes.resize(n.index + 1);
    }
    a->bytes[n.index] = static_cast<std::uint8_t>(ToInt(v));
    return true;
  }
  if (o->kind == ObjectKind::kArray || o->kind == ObjectKind::kVector) {
    auto* a = static_cast<ArrayObject*>(o);
    if (n.index >= a->elems.size()) {
      if (o->kind == ObjectKind::kVector && (n.index > a->elems.size() || a->fixed))
        ThrowError("RangeError", "The index " + std::to_string(n.index) + " is out of range.", 1125);
      if (n.index > (std::size_t{1} << 24)) {
        if (o->kind != ObjectKind::kArray) ThrowError("RangeError", "Array index too large.", 1005);
        // Up to the last index (2^32 - 2) an array holds the element by name.
        o->SetDyn(Intern(std::to_string(n.index)), v.Filled());
        a->sparseLength = std::max(a->sparseLength, n.index + 1);
        return true;
      }
      Charge((n.index + 1 - a->elems.size()) * sizeof(Value));
      a->elems.resize(n.index + 1, o->kind == ObjectKind::kArray ? Value::Hole() : Value());
    }
    Value x = v.Filled();
    if (o->kind == ObjectKind::kVector && o->cls && o->cls->elementType) x = Coerce(v, o->cls->elementType);
    else if (o->kind == ObjectKind::kVector && x.IsUndefined()) x = Value::Null();  // Vector.<*> stores null
    a->elems[n.index] = x;
    return true;
  }
  return false;
}

// ---- types

bool Machine::IsType(const Value& v, Class* c) {
  if (!c || c == objectClass) return !v.IsNullish() || c == nullptr;
  switch (v.type) {
    case Type::kUndefined:
    case Type::kNull: return false;
    case Type::kBoolean: return c == booleanClass;
    case Type::kInt:
      if (c == intClass || c == numberClass) return true;
      if (c == uintClass) return v.i >= 0;
      return false;
    case Type::kNumber:
      if (c == numberClass) return true;
      if (c == uintClass) return v.d >= 0 && v.d <= 4294967295.0 && v.d == std::trunc(v.d);
      return false;
    case Type::kString: return c == stringClass;
    case Type::kObject:
      if (v.o->kind == ObjectKind::kClass && c == classClass) return true;
      return v.o->cls && v.o->cls->IsSubclassOf(c);
  }
  return false;
}

Value Machine::Coerce(const Value& v, Class* c) {
  if (!c) return v;
  if (c == intClass) return Value::Int(ToInt(v));
  if (c == uintClass) return Value::Number(ToUint(v));
  if (c == numberClass) return Value::Number(ToNumber(v));
  if (c == booleanClass) return Value::Bool(ToBoolean(v));
  if (c == stringClass) return v.IsNullish() ? Value::Null() : Value::Str(ToStringCell(v));
  if (v.IsUndefined()) return Value::Null();
  if (c == objectClass || v.IsNull()) return v;
  if (!IsType(v, c)) {
    // Flash refuses the value; our own Flash classes are not all there, so
    // only a mismatch between a script's own classes is refused.
    Object* o = v.AsObject();
    const bool ours = c->unit && o && o->cls && o->cls->unit;
    // A typed vector takes no other vector nor an array.
    const bool sequence = c->isVector && c != vectorClass && o &&
                          (o->kind == ObjectKind::kVector || o->kind == ObjectKind::kArray);
    // A string, number or boolean is none of the core classes but Object.
    const bool primitiveToCore = !v.IsObject() && !c->unit && c->package.empty();
    if (ours || sequence || primitiveToCore || (c->unit && (!v.IsObject() || v.o->kind != ObjectKind::kNative)))
      ThrowError("TypeError",
                 "Type Coercion failed: cannot convert " + CoercionText(*this, v) + " to " +
                     c->DottedName() + ".",
                 1034);
  }
  return v;
}

// ---- classes

Class* Machine::FindClass(std::string_view qualified) {
  auto it = classByName_.find(std::string(qualified));
  if (it != classByName_.end()) return it->second;
  std::string q(qualified);
  // A Vector of any class is there before it is first used.
  for (std::string_view prefix : {"__AS3__.vec::Vector.<", "__AS3__.vec.Vector.<", "Vector.<"}) {
    if (q.size() <= prefix.size() || q.rfind(prefix, 0) != 0 || q.back() != '>') continue;
    const std::string inner = q.substr(prefix.size(), q.size() - prefix.size() - 1);
    if (inner == "*") return VectorOf(nullptr);
    Class* elem = FindClass(inner);
    return elem ? VectorOf(elem) : nullptr;
  }
  // "flash.display.Sprite" as getDefinitionByName spells it.
  auto dot = q.rfind('.');
  std::string pkg, local = q;
  if (q.find("::") != std::string::npos) {
    pkg = q.substr(0, q.find("::"));
    local = q.substr(q.find("::") + 2);
  } else if (dot != std::string::npos) {
    pkg = q.substr(0, dot);
    local = q.substr(dot + 1);
  }
  Name n;
  n.id = FindNameId(local);
  if (!n.id) return nullptr;
  n.single = PackageNs(pkg);
  Object* g = FindGlobal(n);
  if (!g) return nullptr;
  Value v = GetProperty(Value::Obj(g), n);
  if (v.IsObject() && v.o->kind == ObjectKind::kClass) return static_cast<ClassObject*>(v.o)->of;
  return nullptr;
}

void Machine::InheritAddedMembers(Class* base) {
  for (const auto& c : classes_) {
    if (c.get() == base || !c->IsSubclassOf(base) || c->isInterface) continue;
    for (const auto& [key, binding] : base->instance.Bindings()) {
      if (binding.kind == Binding::Kind::kSlot) continue;  // slots have places of their own
      c->instance.Edit().emplace(key, binding);
    }
  }
}

Class* Machine::DefineNativeClass(std::string_view package, std::string_view name, Class* super, NativeAlloc alloc,
                                  bool dynamic) {
  auto owned = std::make_unique<Class>();
  Class* c = owned.get();
  classes_.push_back(std::move(owned));
  c->package = package;
  c->name = name;
  c->super = super;
  c->alloc = alloc;
  c->sealed = !dynamic;
  if (super) {
    c->instance = super->instance;
    c->interfaces = super->interfaces;
  }
  // The class object itself is made once Object, Class and Function exist.
  if (classClass) {
    auto* co = heap_.New<ClassObject>();
    co->of = c;
    co->cls = classClass;
    co->traits = &c->statics;
    co->initialized = true;
    c->object = co;
    c->prototype = heap_.New<Object>();
    c->prototype->cls = objectClass;
    c->prototype->traits = &objectClass->instance;
    c->prototype->proto = super ? super->prototype : nullptr;
    NameConstructor(c->prototype, co);
    if (package.empty()) {
      nativePrototypes_[c->prototype] = c;
      c->prototype->nativePrototype = true;
    }
  }
  classByName_[c->QualifiedName()] = c;
  AddGlobal(package, name, Value::Obj(c->object));
  return c;
}

void Machine::NameConstructor(Object* prototype, Object* classObject) {
  prototype->SetDyn(Intern("constructor"), Value::Obj(classObject));
  prototype->dyn->hidden.insert("constructor");
}

namespace {
// `kind` is "" for a method, "get " or "set " for an accessor.
Method* NewNativeMethod(std::vector<std::unique_ptr<Method>>& owned, std::string_view name, NativeFn fn, Class* c,
                        bool isStatic = false, std::string_view kind = "") {
  auto m = std::make_unique<Method>();
  m->name = name;
  m->native = fn;
  m->owner = c;
  // The player's API methods (flash.*) are frames of a stack trace, as
  // "flash.text::TextField/getTextFormat()"; the core classes' are not.
  if (c && c->package.starts_with("flash."))
    m->traceName = c->QualifiedName() + (isStatic ? "$/" : "/") + std::string(kind) + std::string(name);
  owned.push_back(std::move(m));
  return owned.back().get();
}
}  // namespace

void Machine::AddMethod(Class* c, std::string_view name, NativeFn fn, bool isStatic) {
  Binding b;
  b.kind = Binding::Kind::kMethod;
  b.method = NewNativeMethod(nativeMethods_, name, fn, c, isStatic);
  (isStatic ? c->statics : c->instance).Edit()[Key(kPublicNs, NameIdOf(name))] = b;
}

void Machine::AddGetter(Class* c, std::string_view name, NativeFn fn, bool isStatic) {
  Binding& b = (isStatic ? c->statics : c->instance).Edit()[Key(kPublicNs, NameIdOf(name))];
  if (b.kind != Binding::Kind::kAccessor) b = Binding{};
  b.kind = Binding::Kind::kAccessor;
  b.getter = NewNativeMethod(nativeMethods_, name, fn, c, isStatic, "get ");
}

void Machine::AddSetter(Class* c, std::string_view name, NativeFn fn, bool isStatic) {
  Binding& b = (isStatic ? c->statics : c->instance).Edit()[Key(kPublicNs, NameIdOf(name))];
  if (b.kind != Binding::Kind::kAccessor) b = Binding{};
  b.kind = Binding::Kind::kAccessor;
  b.setter = NewNativeMethod(nativeMethods_, name, fn, c, isStatic, "set ");
}

void Machine::DeclareInterfaceMethods(Class* iface, std::span<const std::string_view> names) {
  iface->isInterface = true;
  const NsId ns = InternNs(NamespaceKind::kNamespace, iface->package + ":" + iface->name);
  for (std::string_view name : names) {
    Binding b;
    b.kind = Binding::Kind::kMethod;
    iface->instance.Edit()[Key(ns, NameIdOf(name))] = b;
  }
}

void Machine::ImplementInterface(Class* c, Class* iface) {
  if (std::find(c->interfaces.begin(), c->interfaces.end(), iface) == c->interfaces.end()) c->interfaces.push_back(iface);
  for (auto& [k, b] : iface->instance.Bindings()) {
    auto pub = c->instance.Bindings().find(Key(kPublicNs, static_cast<NameId>(k)));
    if (pub != c->instance.Bindings().end()) c->instance.Edit()[k] = pub->second;
  }
}

void Machine::AddVar(Class* c, std::string_view name, Class* type, const Value& initial) {
  Binding b;
  b.kind = Binding::Kind::kSlot;
  b.slot = static_cast<std::uint32_t>(c->instance.slots.size());
  SlotInfo si;
  si.initial = initial;
  si.type = type;
  si.typeResolved = true;
  c->instance.slots.push_back(si);
  c->instance.Edit()[Key(kPublicNs, NameIdOf(name))] = b;
}

void Machine::AddConst(Class* c, std::string_view name, const Value& v, bool isStatic) {
  Traits& t = isStatic ? c->statics : c->instance;
  Binding b;
  b.kind = Binding::Kind::kSlot;
  b.isConst = true;
  b.slot = static_cast<std::uint32_t>(t.slots.size());
  SlotInfo si;
  si.initial = v;
  t.slots.push_back(si);
  t.Edit()[Key(kPublicNs, NameIdOf(name))] = b;
  if (isStatic && c->object) c->object->slots.push_back(v);
}

void Machine::AddGlobal(std::string_view package, std::string_view name, const Value& v) {
  AddGlobal(PackageNs(package), name, v);
}

void Machine::AddGlobal(NsId ns, std::string_view name, const Value& v) {
  if (!builtinGlobal_) {
    builtinGlobal_ = heap_.New<Object>();
    builtinGlobal_->traits = &builtinTraits_;
  }
  const auto key = Key(ns, NameIdOf(name));
  auto it = builtinTraits_.Bindings().find(key);
  if (it != builtinTraits_.Bindings().end()) {
    builtinGlobal_->slots[it->second.slot] = v;
    return;
  }
  Binding b;
  b.kind = Binding::Kind::kSlot;
  b.slot = static_cast<std::uint32_t>(builtinTraits_.slots.size());
  builtinTraits_.slots.push_back(SlotInfo{});
  builtinTraits_.Edit()[key] = b;
  builtinGlobal_->slots.push_back(v);
}

void Machine::AddGlobalFunction(std::string_view package, std::string_view name, NativeFn fn) {
  AddGlobal(package, name, Value::Obj(NewNativeFunction(std::string(name), fn)));
}

Object* Machine::FindGlobal(const Name& n, bool runScript) {
  if (!n.id) return nullptr;
  if (FindBinding(&builtinTraits_, n)) {
    // Names added by later players are not there for older movies (JSON came
    // with Flash Player 11, SWF 13).
    if (SwfBefore(13) && n.local && n.local->text == "JSON") return nullptr;
    return builtinGlobal_;
  }
  // Later blocks first would let a movie replace a class; Flash keeps the first.
  const auto candidates = scriptsByName_.find(n.id);
  if (candidates == scriptsByName_.end()) return nullptr;
  for (const ScriptRef& ref : candidates->second) {
    AbcUnit& u = *ref.unit;
    const std::size_t i = ref.index;
    const Binding* b = FindBinding(u.scriptTraits[i].get(), n);
    if (!b) continue;
    // What every global inherits from Object defines nothing.
    const Binding* inherited = FindBinding(&objectClass->instance, n);
    if (inherited && inherited->method == b->method && inherited->getter == b->getter) continue;
    if (runScript && !u.scriptRun[i]) RunScript(u, static_cast<std::uint32_t>(i));
    return u.scripts[i];
  }
  return nullptr;
}

Value Machine::DefinitionByName(const std::string& name) {
  if (Class* c = FindClass(name)) {
    // The script's slot holds a class only once its static initialiser has
    // returned; asked for while that runs, the definition is still null.
    if (c->object && !c->object->initialized) return Value::Null();
    return Value::Obj(c->object);
  }
  const std::size_t colons = name.rfind("::");
  const std::size_t cut = colons != std::string::npos ? colons : name.rfind('.');
  Name n;
  const std::string local = cut == std::string::npos ? name : name.substr(cut + (colons != std::string::npos ? 2 : 1));
  n.local = Intern(local);
  n.id = NameIdOf(local);
  n.single = PackageNs(cut == std::string::npos ? std::string_view() : std::string_view(name).substr(0, cut));
  Object* g = FindGlobal(n);
  return g ? GetProperty(Value::Obj(g), n) : Value();
}

std::vector<std::string> Machine::DefinitionNames() const {
  std::vector<std::string> out;
  for (const auto& u : units_) {
    const AbcFile& f = *u->file;
    const auto& pool = f.pool;
    for (const ScriptInfo& script : f.scripts) {
      for (const Trait& t : script.traits) {
        if (t.name >= pool.multinames.size()) continue;
        const Multiname& mn = pool.multinames[t.name];
        if (mn.kind != MultinameKind::kQName || mn.ns >= pool.namespaces.size() || mn.name >= pool.strings.size()) continue;
        const Namespace& ns = pool.namespaces[mn.ns];
        if (ns.kind != NamespaceKind::kPackage && ns.kind != NamespaceKind::kPackageInternal) continue;
        const std::string& package = ns.name < pool.strings.size() ? pool.strings[ns.name] : std::string();
        std::string name = package.empty() ? pool.strings[mn.name] : package + "::" + pool.strings[mn.name];
        if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(std::move(name));
      }
    }
  }
  return out;
}

Class* Machine::VectorOf(Class* elem) {
  auto it = vectors_.find(elem);
  if (it != vectors_.end()) return it->second;
  Class* base = vectorClass;
  // A vector of any class or interface is a Vector.<*>, so it passes where
  // one is declared; the numeric vectors stand apart.
  Class* super = vectorObjectClass ? vectorObjectClass : base;
  if (elem && elem != intClass && elem != uintClass && elem != numberClass) super = VectorOf(nullptr);
  Class* c = DefineNativeClass("__AS3__.vec", "Vector.<" + (elem ? elem->QualifiedName() : std::string("*")) + ">",
                               super, nullptr, false);
  c->elementType = elem;
  c->isVector = true;
  c->iinit = base->iinit;
  vectors_[elem] = c;
  return c;
}

}  // namespace quarvel::avm2

namespace quarvel::avm2 {
std::string Machine::DefinitionLocalName(const std::string& qualified) {
  // A Vector.<a.b.C> keeps its whole name.
  if (qualified.find('<') != std::string::npos) return qualified;
  const std::size_t colon = qualified.rfind("::");
  const std::size_t from = colon != std::string::npos ? colon + 2 : qualified.rfind('.') + 1;  // npos + 1 == 0
  return qualified.substr(from);
}
}  // namespace quarvel::avm2
