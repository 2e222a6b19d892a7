#pragma once
// The ActionScript 3 machine: objects with traits, classes, the loading of
// ABC blocks into classes and scripts, and the interpreter (interpreter.cpp).
// The core library is in builtins*.cpp; the Flash display classes are bound
// by the player (display_binding.*).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "player/avm2/abc_file.h"
#include "player/avm2/code_decoder.h"
#include "player/avm2/value.h"

namespace quarvel::avm2 {

class Machine;
struct Class;
struct Method;
struct Traits;
struct ScopeChain;
struct AbcUnit;
std::string TraceNameOf(const Method& m);
std::string FunctionTraceName(const AbcFile& f, std::uint32_t index);

// A value thrown by a script (or a native function on its behalf).
struct ScriptThrow {
  Value value;
};

// A cap was hit: the running script is abandoned, uncatchable by scripts.
struct ScriptAbort : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Heap {
 public:
  Heap() = default;
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;
  ~Heap();
  template <typename T, typename... A>
  T* New(A&&... a) {
    T* c = new T(std::forward<A>(a)...);
    cells_.push_back(c);
    allocated_ += sizeof(T);
    return c;
  }
  void Mark(Cell* c) {
    if (c && !c->marked) {
      c->marked = true;
      grey_.push_back(c);
    }
  }
  void Mark(const Value& v) {
    if (v.type == Type::kString) Mark(v.s);
    else if (v.type == Type::kObject) Mark(reinterpret_cast<Cell*>(v.o));
  }
  // Marks from the roots given, then frees every unmarked cell; beforeSweep
  // sees the marks (Cell::marked) while the unmarked cells still exist.
  void Collect(const std::function<void(Heap&)>& roots, const std::function<void()>& beforeSweep = {});
  std::size_t Count() const { return cells_.size(); }
  // Bytes handed out since the last collection (a cheap estimate).
  std::size_t AllocatedSinceCollect() const { return allocated_; }
  void AddAllocated(std::size_t n) { allocated_ += n; }
  // What the cells that outlived the last collection hold (an estimate).
  std::size_t LiveBytes() const { return live_; }

 private:
  std::vector<Cell*> cells_;
  std::vector<Cell*> grey_;
  std::size_t allocated_ = 0;
  std::size_t live_ = 0;
};

// Namespaces are interned to numbers; private ones are unique per block.
using NsId = std::uint32_t;
using NameId = std::uint32_t;
inline constexpr NsId kPublicNs = 0;
// Traits are keyed by namespace and interned local name.
inline std::uint64_t Key(NsId ns, NameId name) { return (std::uint64_t{ns} << 32) | name; }

// A property name resolved at run time: the local name and the namespaces
// it may be in (one for a QName).
struct Name {
  StringCell* local = nullptr;  // nullptr: any name (or an index not yet spelled)
  NameId id = 0;                // 0: no trait has this name
  const NsId* nsList = nullptr; // nullptr: the one namespace `single`
  std::uint32_t nsCount = 1;
  NsId single = kPublicNs;
  bool attribute = false;
  bool hasIndex = false;  // a whole number name, for arrays and vectors
  std::uint32_t index = 0;
  // Qualified by the AS3 namespace, alone or in its set (it shares the
  // public one's traits here): a core class's own method, read bound to its
  // object, never a prototype's replacement.
  bool as3 = false;
  std::span<const NsId> Nss() const { return nsList ? std::span<const NsId>(nsList, nsCount) : std::span<const NsId>(&single, 1); }
};

using NativeFn = Value (*)(Machine&, Value self, std::span<Value> args);

struct Method {
  std::string name;
  std::string traceName;  // as a stack trace names it: "pkg::Class/get x"
  // Byte code: the block and method index; or a native function.
  AbcUnit* unit = nullptr;
  std::uint32_t index = 0;
  NativeFn native = nullptr;
  Class* owner = nullptr;  // the class that declared it, for super calls
  // Made by newfunction or declared at script level: when none of its
  // parameters has a type or a default, calls pass any number of arguments.
  bool freeFunction = false;
  // Filled on first call.
  bool prepared = false;
  std::unique_ptr<DecodedCode> code;
  std::vector<std::int32_t> targets;  // per instruction: branch target index
  // Per instruction (empty when none): the slot a property access on the
  // method's receiver was bound to at verification, through the method's
  // class, or -1. A subclass's variable of the same name does not hide it.
  std::vector<std::int32_t> receiverSlots;
  std::unique_ptr<Traits> activation;
  std::vector<Class*> paramTypes;  // resolved lazily; nullptr = any
  Class* returnClass = nullptr;    // the declared return type, resolved on first return; nullptr = any or void
  bool returnResolved = false;
  // How each declared parameter is converted on entry, by its type's name
  // (filled when prepared).
  enum class ParamConversion : std::uint8_t { kNone, kInt, kUint, kNumber, kBoolean, kString, kNullForUndefined };
  std::vector<ParamConversion> paramConversions;
  std::vector<std::unique_ptr<Traits>> catchTraits;  // by exception index
  ScopeChain* scope = nullptr;     // for methods bound to traits
};

struct Binding {
  enum class Kind : std::uint8_t { kSlot, kMethod, kAccessor } kind = Kind::kSlot;
  std::uint32_t slot = 0;  // kSlot: index into Object::slots
  Method* method = nullptr;
  Method* getter = nullptr;
  Method* setter = nullptr;
  bool isConst = false;
  // Declared in the AS3 namespace, which this machine merges into public:
  // not an own property by its plain name.
  bool builtinNs = false;
  // How many classes up from Object declared it: a name with several
  // namespaces finds the most derived class's member first.
  std::uint16_t depth = 0;
};

struct SlotInfo {
  Value initial;
  std::uint32_t typeName = 0;  // multiname in unit, 0 = any
  Class* type = nullptr;       // resolved type, when known
  AbcUnit* unit = nullptr;
  bool typeResolved = false;
};

struct Traits {
  using Map = std::unordered_map<std::uint64_t, Binding>;
  Traits() : serial_(NextSerial()) {}
  Traits(const Traits& o) : slots(o.slots), dispatch(o.dispatch), catchName(o.catchName), map_(o.map_), serial_(NextSerial()) {}
  Traits& operator=(const Traits& o) {
    slots = o.slots;
    dispatch = o.dispatch;
    catchName = o.catchName;
    map_ = o.map_;
    serial_ = NextSerial();
    return *this;
  }
  std::vector<SlotInfo> slots;
  std::vector<Method*> dispatch;  // callmethod ids
  std::string catchName;          // a catch scope's: its variable, which Flash's errors name as its class
  // The bindings by key, inherited ones included.
  const Map& Bindings() const { return map_; }
  // For changing them: the look-up cache keyed by Serial() forgets the old ones.
  Map& Edit() {
    serial_ = NextSerial();
    return map_;
  }
  // Unique among every Traits' every state: changes with each Edit().
  std::uint64_t Serial() const { return serial_; }
  const Binding* Find(std::uint64_t key) const {
    auto it = map_.find(key);
    return it == map_.end() ? nullptr : &it->second;
  }

 private:
  static std::uint64_t NextSerial();
  Map map_;
  std::uint64_t serial_;
};

enum class ObjectKind : std::uint8_t {
  kPlain, kFunction, kClass, kArray, kVector, kDictionary, kError, kRegExp, kDate, kByteArray, kXml,
  kNamespace, kNative
};

struct DynProps {
  std::vector<std::pair<StringCell*, Value>> items;  // in insertion order; removed ones have a null name
  std::unordered_map<std::string_view, std::size_t> index;
  std::size_t live = 0;
  std::set<std::string, std::less<>> hidden;  // names for..in skips (setPropertyIsEnumerable)
  bool Listed(std::size_t i) const { return items[i].first && (hidden.empty() || !hidden.contains(items[i].first->text)); }
};

struct Object : Cell {
  explicit Object(ObjectKind k = ObjectKind::kPlain) : kind(k) {}
  ObjectKind kind;
  Class* cls = nullptr;
  const Traits* traits = nullptr;
  Object* proto = nullptr;
  std::vector<Value> slots;
  std::unique_ptr<DynProps> dyn;
  bool dynamic = true;
  bool scriptGlobal = false;  // a script's global object: "[object global]"
  bool nativePrototype = false;  // a top-level native class's prototype (Machine::nativePrototypes_)

  void Trace(Heap& h) override;
  std::size_t Bytes() const override { return sizeof(Object) + slots.capacity() * sizeof(Value); }

  Value* FindDyn(std::string_view name) const;
  void SetDyn(StringCell* name, const Value& v);
  bool DeleteDyn(std::string_view name);
};

// A scope chain captured by a closure or class: innermost last.
struct ScopeChain : Cell {
  ScopeChain* parent = nullptr;
  Value object;
  bool with = false;
  void Trace(Heap& h) override {
    h.Mark(parent);
    h.Mark(object);
  }
};

struct FunctionObject : Object {
  FunctionObject() : Object(ObjectKind::kFunction) {}
  Method* method = nullptr;
  ScopeChain* scope = nullptr;
  Value boundThis;  // a method closure: its object
  bool bound = false;
  Object* prototypeObject = nullptr;  // made on first use for `new f()`
  // Set to null or a primitive: reads undefined until `new f()` makes a fresh one.
  bool prototypeCleared = false;
  void Trace(Heap& h) override {
    Object::Trace(h);
    h.Mark(scope);
    h.Mark(boundThis);
    h.Mark(prototypeObject);
  }
};

// An Error keeps the stack trace of where it was made.
struct ErrorObject : Object {
  ErrorObject() : Object(ObjectKind::kError) {}
  std::string stack;
  std::size_t Bytes() const override { return Object::Bytes() + stack.capacity(); }
};

struct ArrayObject : Object {
  ArrayObject() : Object(ObjectKind::kArray) {}
  std::vector<Value> elems;
  // An array's length past its dense run: an index beyond the run's cap is
  // kept as a dynamic name, and the length still counts it.
  std::uint32_t sparseLength = 0;
  bool fixed = false;  // a Vector whose length may not change
  void Trace(Heap& h) override {
    Object::Trace(h);
    for (const Value& v : elems) h.Mark(v);
  }
  std::size_t Bytes() const override { return Object::Bytes() + elems.capacity() * sizeof(Value); }
};

// Keys are objects by identity, other values by their string.
struct DictionaryObject : Object {
  DictionaryObject() : Object(ObjectKind::kDictionary) {}
  std::vector<std::pair<Value, Value>> items;  // removed ones are undefined keys
  std::unordered_map<const void*, std::size_t> byObject;
  std::unordered_map<std::string, std::size_t> byString;
  bool weakKeys = false;
  void Trace(Heap& h) override {
    Object::Trace(h);
    for (auto& [k, v] : items) {
      h.Mark(k);
      h.Mark(v);
    }
  }
};

struct ByteArrayObject : Object {
  ByteArrayObject() : Object(ObjectKind::kByteArray) {}
  std::vector<std::uint8_t> bytes;
  std::uint32_t position = 0;
  bool littleEndian = false;
  std::uint8_t objectEncoding = 3;  // AMF3, or 0 for AMF0
  std::size_t Bytes() const override { return Object::Bytes() + bytes.capacity(); }
};

// Holds a native payload of the Flash classes.
struct NativeObject : Object {
  NativeObject() : Object(ObjectKind::kNative) {}
};

using NativeAlloc = Object* (*)(Machine&, Class*);

struct Class {
  std::string package;  // "flash.display"
  std::string name;     // "Sprite"
  std::string QualifiedName() const { return package.empty() ? name : package + "::" + name; }
  // As error messages name a type converted to: "flash.geom.Point".
  std::string DottedName() const { return package.empty() ? name : package + "." + name; }
  Class* super = nullptr;
  std::vector<Class*> interfaces;  // this class's and its bases' (all)
  bool isInterface = false;
  bool sealed = true;
  bool isFinal = false;
  // Only Flash makes its instances: a script's `new` of this very class throws.
  bool scriptMayNew = true;
  Traits instance;  // instances' bindings and slots
  Traits statics;   // the class object's
  Method* iinit = nullptr;
  Method* cinit = nullptr;
  NativeAlloc alloc = nullptr;  // inherited by subclasses when unset
  struct ClassObject* object = nullptr;
  Object* prototype = nullptr;
  AbcUnit* unit = nullptr;
  std::uint32_t index = 0;  // class index in unit
  NsId protectedNs = 0;
  bool IsSubclassOf(const Class* other) const;
  // Vector.<T>: the element class (nullptr: *), and for Vector itself the instantiations.
  Class* elementType = nullptr;
  bool isVector = false;
};

struct ClassObject : Object {
  ClassObject() : Object(ObjectKind::kClass) {}
  Class* of = nullptr;
  ScopeChain* scope = nullptr;
  bool initialized = false;
  void Trace(Heap& h) override;
};

// One loaded ABC block.
struct AbcUnit {
  std::shared_ptr<const AbcFile> file;
  std::vector<NsId> nss;               // by pool index
  // By string pool index, each filled on first use (Machine::PoolString,
  // Machine::PoolNameId): null and 0 until then.
  std::vector<StringCell*> strings;
  std::vector<NameId> nameIds;
  std::vector<std::unique_ptr<Method>> methods;  // by method index
  // A method index bound again by another class made from the same class
  // info (a second newclass): each class keeps its own owner and scope.
  std::vector<std::unique_ptr<Method>> rebound;
  std::vector<Class*> classes;         // by class index, once made
  std::vector<Object*> scripts;        // global objects by script index
  std::vector<bool> scriptRun;
  std::vector<std::unique_ptr<Traits>> scriptTraits;
  std::vector<std::vector<NsId>> nsSets;  // by pool index
  std::vector<bool> as3Ns;             // by pool index: the AS3 namespace
  std::vector<bool> as3Sets;           // by pool index: sets holding it
  // Multinames without runtime parts, resolved once: by pool index.
  std::vector<Name> staticNames;
  std::vector<bool> staticNameReady;
  std::string name;
  // The SWF version of the movie the block came from (0: the machine's).
  int swfVersion = 0;
};

// Caps on one frame's scripts, as the ActionScript 1/2 machine has.
struct Limits {
  std::uint64_t instructionsPerFrame = 20'000'000;
  int callDepth = 256;
  std::size_t bytesPerFrame = std::size_t{256} << 20;
  // Everything scripts hold at once: what outlived the last collection and
  // what this frame made.
  std::size_t heapBytes = std::size_t{1} << 30;
  std::size_t liveCells = 4'000'000;
  std::size_t nativeStackBytes = std::size_t{2} << 20;  // of the calling thread's stack
};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Loads a block: its scripts' definitions become visible; with runEntry
  // the last script runs at once, the others run when first needed. A
  // script that throws is logged. Returns false when the entry script failed.
  bool Load(std::shared_ptr<const AbcFile> file, std::string_view name, bool runEntry = true);
  // The blocks Flash loads together, those of one frame: every block's
  // definitions first, then each eager block's entry script in order, so an
  // entry script reaches the classes of the blocks after it. `beforeEntry`
  // runs before each entry script (the host's frame bookkeeping).
  struct BlockToLoad {
    std::shared_ptr<const AbcFile> file;
    std::string_view name;
    bool eager = true;
    int swfVersion = 0;  // of the movie it came from; 0: the machine's
  };
  void LoadTogether(std::span<const BlockToLoad> blocks, const std::function<void()>& beforeEntry = {});

  // Frame-time bookkeeping: resets the caps; Collect frees what no root reaches.
  void BeginFrame();
  void Collect();
  // The host's collection between frames: only once a share of the live
  // bytes has been made anew since the last one.
  void CollectIfDue();
  void AddRoots(std::function<void(Heap&)> roots) { extraRoots_.push_back(std::move(roots)); }
  // Called after marking, before unreached cells are freed (weak references).
  void AddSweepHook(std::function<void()> hook) { sweepHooks_.push_back(std::move(hook)); }

  // Where trace() and the debug log go.
  std::function<void(const std::string&)> traceSink;
  std::function<void(const std::string&)> logSink;
  void Skip(const std::string& what);  // once per name
  const std::set<std::string>& Skipped() const { return skipped_; }
  void Log(const std::string& line);

  // ---- values
  Heap& heap() { return heap_; }
  StringCell* Intern(std::string_view s);
  // A prototype names its class as `constructor`, unlisted by for..in.
  void NameConstructor(Object* prototype, Object* classObject);
  StringCell* NewString(std::string s);
  Value Str(std::string s) { return Value::Str(NewString(std::move(s))); }
  NameId NameIdOf(std::string_view s);      // interns
  NameId NameIdOf(StringCell* interned);    // a cell Intern gave
  // A block's pool string, interned, and its name number.
  StringCell* PoolString(AbcUnit& u, std::uint32_t index) {
    StringCell*& s = u.strings[index];
    if (!s) s = Intern(u.file->pool.strings[index]);
    return s;
  }
  NameId PoolNameId(AbcUnit& u, std::uint32_t index) {
    NameId& id = u.nameIds[index];
    if (!id) id = NameIdOf(PoolString(u, index));
    return id;
  }
  NameId FindNameId(std::string_view s) const;  // 0 when no trait could have it
  NsId InternNs(NamespaceKind kind, std::string_view uri);
  NsId PackageNs(std::string_view uri) { return InternNs(NamespaceKind::kPackage, uri); }
  NsId NewPrivateNs();
  bool IsPublicNs(NsId ns) const { return ns < nsPublic_.size() && nsPublic_[ns]; }
  const std::string& NsUri(NsId ns) const { return nsUris_.at(ns); }

  bool ToBoolean(const Value& v) const;
  double ToNumber(const Value& v);
  std::string ToString(const Value& v);
  StringCell* ToStringCell(const Value& v);
  std::int32_t ToInt(const Value& v) { return ToInt32(ToNumber(v)); }
  std::uint32_t ToUint(const Value& v) { return ToUint32(ToNumber(v)); }
  Value ToPrimitive(const Value& v, bool hintString);
  Object* ToObject(const Value& v);  // throws TypeError for null/undefined
  bool Equals(const Value& a, const Value& b);
  bool StrictEquals(const Value& a, const Value& b) const;
  // a < b: true, false, or undefined (NaN) as -1.
  int LessThan(const Value& a, const Value& b);
  Value Add(const Value& a, const Value& b);
  std::string TypeOf(const Value& v) const;

  // ---- objects
  Object* NewObject();
  // A Namespace value: what namespace constants and pushnamespace give.
  Object* NewNamespace(StringCell* uri);
  ArrayObject* NewArray(std::vector<Value> elems = {});
  FunctionObject* NewFunction(Method* m, ScopeChain* scope);
  FunctionObject* NewNativeFunction(const std::string& name, NativeFn fn);
  FunctionObject* MethodClosure(Method* m, const Value& self);
  Object* Construct(Class* cls, std::span<Value> args);
  Value ConstructValue(const Value& ctor, std::span<Value> args);
  Object* Instantiate(Class* cls);  // allocation and slot defaults, no constructor
  [[noreturn]] void ThrowError(const std::string& cls, const std::string& message, int id = 0);
  Value MakeError(const std::string& cls, const std::string& message, int id = 0);

  // ---- properties
  Name NameFromString(std::string_view s);  // public name
  Value GetProperty(const Value& obj, const Name& n);
  Value GetProperty(const Value& obj, std::string_view name) { return GetProperty(obj, NameFromString(name)); }
  void SetProperty(const Value& obj, const Name& n, const Value& v, bool init = false);
  void SetProperty(const Value& obj, std::string_view name, const Value& v) { SetProperty(obj, NameFromString(name), v); }
  // A primitive's class or (for numbers, Number's) prototype chain has the name.
  bool PrimitiveHas(const Value& v, const Name& n);
  bool HasProperty(const Value& obj, const Name& n);
  bool DeleteProperty(const Value& obj, const Name& n);
  Value CallProperty(const Value& obj, const Name& n, std::span<Value> args, bool lex = false);
  Value CallProperty(const Value& obj, std::string_view name, std::span<Value> args) {
    return CallProperty(obj, NameFromString(name), args);
  }
  Value Call(const Value& fn, const Value& self, std::span<Value> args);
  // The player's own code calling a function with no receiver (an event
  // listener): a closure runs on the built-in global object, not its script's.
  Value CallFromPlayer(const Value& fn, std::span<Value> args);
  bool IsBuiltinGlobal(const Object* o) const { return o && o == builtinGlobal_; }
  // callee: the function object called, which arguments.callee names (a
  // method called through its trait has none: its closure stands in).
  Value Invoke(Method* m, const Value& self, std::span<Value> args, ScopeChain* scope, FunctionObject* callee = nullptr);
  // The traits binding of a name on a class's instances or an object.
  const Binding* FindBinding(const Traits* t, const Name& n) const;
  Class* ClassOf(const Value& v);
  bool IsType(const Value& v, Class* c);
  Value Coerce(const Value& v, Class* c);

  // ---- classes and globals
  // A class by qualified name ("flash.display::Sprite" or "Sprite").
  Class* FindClass(std::string_view qualified);
  Class* DefineNativeClass(std::string_view package, std::string_view name, Class* super, NativeAlloc alloc = nullptr,
                           bool dynamic = false);
  void AddMethod(Class* c, std::string_view name, NativeFn fn, bool isStatic = false);
  void AddGetter(Class* c, std::string_view name, NativeFn fn, bool isStatic = false);
  void AddSetter(Class* c, std::string_view name, NativeFn fn, bool isStatic = false);
  void AddConst(Class* c, std::string_view name, const Value& v, bool isStatic = true);
  // A variable every instance holds in a slot (a sealed class's public var).
  void AddVar(Class* c, std::string_view name, Class* type, const Value& initial);
  // A native interface declares its methods under its own namespace
  // ("flash.events:IEventDispatcher"), as compilers name calls through it;
  // an implementing native class answers those names with its public members.
  void DeclareInterfaceMethods(Class* iface, std::span<const std::string_view> names);
  void ImplementInterface(Class* c, Class* iface);
  void AddGlobalFunction(std::string_view package, std::string_view name, NativeFn fn);
  // Subclasses copy their base's members when they are made: members added
  // to a base later reach the classes made since through this (a subclass's
  // own member of the same name stays).
  void InheritAddedMembers(Class* base);
  void AddGlobal(std::string_view package, std::string_view name, const Value& v);
  void AddGlobal(NsId ns, std::string_view name, const Value& v);
  // Looks a name up among all scripts' globals (running a script first
  // when it defines it). Returns the global object that has it, or null.
  Object* FindGlobal(const Name& n, bool runScript = true);
  // A class, function or variable by its qualified name ("a.b.C" or "a.b::C"),
  // running the script that defines it; undefined when nothing does.
  // The name a missing definition is reported by: "a.b.C" and "a.b::C" as "C".
  static std::string DefinitionLocalName(const std::string& qualified);
  Value DefinitionByName(const std::string& qualified);
  // The qualified names ("a.b::C", or "C" at the top level) of what the
  // movie's blocks define in packages, internal ones too, in block order.
  std::vector<std::string> DefinitionNames() const;
  Class* objectClass = nullptr, *functionClass = nullptr, *classClass = nullptr, *arrayClass = nullptr,
        *stringClass = nullptr, *numberClass = nullptr, *intClass = nullptr, *uintClass = nullptr,
        *booleanClass = nullptr, *errorClass = nullptr, *namespaceClass = nullptr, *vectorClass = nullptr,
        *vectorObjectClass = nullptr;
  Class* VectorOf(Class* elem);
  // XML objects answer their own property reads, writes, deletes and `in`
  // (child elements, @attributes, list items), == and + (builtins_xml.cpp).
  Value (*xmlGet)(Machine&, Object*, const Name&) = nullptr;
  Value (*xmlDescendants)(Machine&, Object*, const Name&) = nullptr;  // x..name
  bool (*xmlSet)(Machine&, Object*, const Name&, const Value&) = nullptr;
  bool (*xmlHas)(Machine&, Object*, const Name&) = nullptr;
  bool (*xmlDelete)(Machine&, Object*, const Name&) = nullptr;
  bool (*xmlItem)(Machine&, Object*, std::uint32_t index, Value& out) = nullptr;   // for each (x in list)
  int (*xmlEquals)(Machine&, const Value&, const Value&) = nullptr;  // -1: neither is XML
  bool (*xmlAdd)(Machine&, const Value&, const Value&, Value& out) = nullptr;
  // XML's global settings and the default XML namespace (dxns).
  struct XmlSettings {
    bool ignoreComments = true, ignoreProcessingInstructions = true, ignoreWhitespace = true, prettyPrinting = true;
    int prettyIndent = 2;
  } xmlSettings;
  // The memory li8..sf64 read and write: the ByteArray a movie made its
  // domainMemory, or else Flash's own 1024 bytes, which keep their contents
  // while a ByteArray stands in for them.
  static constexpr std::size_t kMinDomainMemory = 1024;
  ByteArrayObject* domainMemory = nullptr;
  std::vector<std::uint8_t> defaultDomainMemory = std::vector<std::uint8_t>(kMinDomainMemory);
  std::string xmlDefaultNs;
  // flash.utils.Proxy: what no trait of a proxy answers goes to its
  // flash_proxy methods (builtins_reflect.cpp). ProxyCall is false when the
  // object is no proxy or does not define `method`.
  Class* proxyClass = nullptr;
  NsId proxyNs = 0;
  bool ProxyCall(Object* o, std::string_view method, std::span<Value> args, Value& out);
  bool ProxyName(Object* o, std::string_view method, const Name& n, Value& out, const Value* extra = nullptr);
  std::string ProxyUri(const Name& n) const;
  // The name of a trait binding's key, and a slot's declared type (resolved on first use).
  std::string NameText(NameId id) const { return id < names_.size() && names_[id] ? names_[id]->text : std::string(); }
  Class* SlotType(const SlotInfo& si);

  // Dictionaries and enumeration (for..in, for each).
  // An array's element; a hole reads through the prototype chain.
  Value ElementAt(const ArrayObject* a, std::size_t i);
  Value DictGet(DictionaryObject* d, const Value& key);
  void DictSet(DictionaryObject* d, const Value& key, const Value& v);
  bool DictDelete(DictionaryObject* d, const Value& key);
  std::uint32_t NextIndex(Object* o, std::uint32_t i);  // 0 when done
  Value NameAt(Object* o, std::uint32_t i);
  Value ValueAt(Object* o, std::uint32_t i);

  // ---- running
  Value RunFunction(const Value& fn, const Value& self, std::span<Value> args);
  // Every call from the host into scripts goes through here: an error the
  // scripts do not catch is reported as Flash reports an uncaught error (in
  // the trace output) and a cap that stops them is logged; neither is
  // thrown on. False when the call did not finish.
  bool SafeCall(const std::function<void()>& f, const char* what);
  // The same guard for host work that goes on after a cap stopped this
  // frame's scripts (the host's hooks, whose scripts each call SafeCall).
  bool Contain(const std::function<void()>& f, const char* what);
  // Counts an allocation made on behalf of scripts against the caps; past a
  // cap the running script is stopped (ScriptAbort). Host code outside any
  // script call is never stopped: the next script is.
  void Charge(std::size_t bytes);
  std::string DescribeThrow(const Value& v);
  // Reports a value no script caught, as Flash does, and logs where.
  void ReportUncaught(const Value& v, const char* what);
  int Depth() const { return depth_; }
  // The running script methods as Flash's stack traces list them: one
  // "\n\tat name()" line each, innermost first.
  std::string StackTrace() const;
  // The global object of the innermost running script method that has one
  // in its scope, else undefined: what a native called on nothing runs on.
  Value CallerGlobal() const;
  // Lists a step of the player's own code in stack traces while in scope,
  // as Flash lists its internal methods ("flash.display::ShaderData/_setByteCode").
  class NativeFrame {
   public:
    NativeFrame(Machine& m, const std::string& traceName);
    ~NativeFrame();
    NativeFrame(const NativeFrame&) = delete;
    NativeFrame& operator=(const NativeFrame&) = delete;

   private:
    Machine& m_;
  };
  // Thrown on entry to the running method, before its own code: the error's
  // stack starts at its caller.
  [[noreturn]] void ThrowFromCaller(const std::string& cls, const std::string& message, int id);
  Limits limits;
  std::uint64_t InstructionsThisFrame() const { return instructions_; }
  double startMs = 0;
  std::function<double()> clockMs;  // milliseconds since the movie started
  // The embedded data (DefineBinaryData) a ByteArray subclass is linked to;
  // false when the class is linked to none.
  std::function<bool(const Class*, std::vector<std::uint8_t>&)> embeddedBytes;

  // ByteArray.defaultObjectEncoding, and the class aliases of
  // registerClassAlias (AMF's names for classes), both ways.
  std::uint8_t defaultObjectEncoding = 3;
  std::map<std::string, Class*, std::less<>> classByAlias;
  std::map<const Class*, std::string> aliasOfClass;

  // The SWF version of the movie the scripts came from: some rules of the
  // core library follow the version a movie was made for (0: the newest).
  // A loaded movie's code follows its own: the rules ask the version of
  // the running code's block.
  int swfVersion = 0;
  int RunningSwfVersion() const;
  // The code block of the running script method; null outside scripts.
  const AbcFile* RunningAbc() const;
  bool SwfBefore(int version) const {
    const int v = RunningSwfVersion();
    return v > 0 && v < version;
  }

  // Per-kind data the display binding hangs on the machine.
  void* host = nullptr;

 private:
  friend struct Interp;
  Value Interpret(Method* m, const Value& self, std::span<Value> args, ScopeChain* scope, FunctionObject* callee);
  void Prepare(Method* m);
  Class* MakeClass(AbcUnit& u, std::uint32_t index, ScopeChain* scope, Class* super);
  void AddTraits(AbcUnit& u, const std::vector<Trait>& traits, Traits& into, Class* owner, bool isStatic,
                 Object* holder, ScopeChain* scope);
  Value DefaultFor(AbcUnit& u, const ConstantValue& c, std::uint32_t typeName);
  Class* ResolveType(AbcUnit& u, std::uint32_t multiname);
  // An interface a class names before the script made it (a script may define
  // its classes before their interfaces) is taken once the interface exists.
  void AddInterface(Class* c, Class* iface);
  void SettlePendingInterfaces();
  Name ResolveName(AbcUnit& u, std::uint32_t mn, Value* rtName, Value* rtNs);
  void BindReceiverSlots(Method* m, const AbcFile& f, const MethodBody& body);
  void CheckMethodUses(const AbcUnit& u, const DecodedCode& code, std::size_t codeOffset);
  Name ResolveNameOnce(AbcUnit& u, std::uint32_t mn, Value* rtName, Value* rtNs);
  bool RunScript(AbcUnit& u, std::uint32_t index);  // false when it failed
  Value GetSlotted(Object* o, const Binding& b, const Value& self);
  void InitSlots(Object* o, const Traits& t);
  bool GetIndexed(Object* o, const Name& n, Value& out);
  ScopeChain* ChainWith(ScopeChain* outer, const Value* scopes, std::size_t count, std::uint64_t withMask);
  // Scopes pushed by pushwith and the global object answer every property;
  // the others (activations, classes, `this`) only their declared traits, so
  // a Proxy or a dynamic object in scope is never asked for a bare name.
  Value FindProperty(const Name& n, ScopeChain* outer, const Value* scopes, std::size_t count, bool strict,
                     std::uint64_t withMask = 0);
  bool SetIndexed(Object* o, const Name& n, const Value& v);
  void CheckCaps();
  friend void InstallBuiltins(Machine& m);

  // FindBinding's answers (a name with a namespace set costs one map
  // look-up per namespace): by the traits' serial (a changed traits map has
  // a new one) and the name's set or namespace and local name.
  struct BindingMemo {
    std::uint64_t serial = 0;  // 0: empty (serials start at 1)
    const NsId* nsList = nullptr;
    NsId single = 0;
    std::uint32_t nsCount = 0;
    NameId id = 0;
    const Binding* found = nullptr;
  };
  static constexpr std::size_t kBindingMemoBits = 12;
  mutable std::vector<BindingMemo> bindingMemo_ = std::vector<BindingMemo>(std::size_t{1} << kBindingMemoBits);
  // The scripts whose own traits (not those every global has from Object)
  // bind a local name, in load order: FindGlobal asks only these.
  struct ScriptRef {
    AbcUnit* unit;
    std::uint32_t index;
  };
  std::unordered_map<NameId, std::vector<ScriptRef>> scriptsByName_;

  Heap heap_;
  // Every interned string by its text; a name's number is its cell's id.
  std::unordered_map<std::string_view, StringCell*> interned_;
  std::vector<StringCell*> names_;
  std::map<std::pair<int, std::string>, NsId> nsIds_;
  std::vector<bool> nsPublic_;
  std::vector<std::string> nsUris_;
  std::vector<std::unique_ptr<AbcUnit>> units_;
  std::vector<std::unique_ptr<Class>> classes_;
  std::vector<std::unique_ptr<Method>> nativeMethods_;
  std::unordered_map<std::string, Class*> classByName_;
  struct PendingInterface {
    Class* of;
    AbcUnit* unit;
    std::uint32_t multiname;
  };
  std::vector<PendingInterface> pendingInterfaces_;
  // The prototypes of top-level native classes: they carry the class's methods.
  std::unordered_map<const Object*, Class*> nativePrototypes_;
  Object* builtinGlobal_ = nullptr;
  Traits builtinTraits_;
  std::map<Class*, Class*> vectors_;
  std::set<std::string> skipped_;
  std::vector<std::function<void(Heap&)>> extraRoots_;
  std::vector<std::function<void()>> sweepHooks_;
  std::vector<Value> pinned_;
  // A method read off an object is one function while both live, as in
  // Flash (o.f === o.f; arguments.callee is the function that was read).
  struct ClosureKeyHash {
    std::size_t operator()(const std::pair<const Method*, const Object*>& k) const {
      return std::hash<const void*>()(k.first) * 31 ^ std::hash<const void*>()(k.second);
    }
  };
  std::unordered_map<std::pair<const Method*, const Object*>, FunctionObject*, ClosureKeyHash> closures_;
  int depth_ = 0;
  std::vector<const Method*> frames_;  // the running script methods, outermost first
  std::map<std::string, std::unique_ptr<Method>> namedFrames_;  // NativeFrame's names
  static constexpr int kPrimitiveDepth = 256;
  int primitiveDepth_ = 0;  // nested ToPrimitive calls
  const char* stackBase_ = nullptr;  // where the outermost script call began
  std::uint64_t instructions_ = 0;
  bool aborted_ = false;
  Value* stack_ = nullptr;  // the operand stacks and registers of running frames
  std::size_t stackUsed_ = 0;
  std::size_t stackCapacity_ = 0;

 public:
  void KeepMethod(std::unique_ptr<Method> m) { nativeMethods_.push_back(std::move(m)); }
  // setTimeout and setInterval: due at clockMs() times; RunTimers calls
  // those due.
  struct PendingTimer {
    std::int32_t id = 0;
    double due = 0, interval = 0;
    bool repeat = false;
    Value fn;
    std::vector<Value> args;
  };
  std::vector<PendingTimer> timers;
  std::int32_t nextTimerId = 1;
  void RunTimers();
  // Runs `f` with clockMs() reading `ms`: Flash runs a timer's handler at
  // the time it fell due, so what it schedules counts from then.
  void RunAtTime(double ms, const std::function<void()>& f);
  // Keeps a value alive across collections until the machine ends.
  void Pin(const Value& v) { pinned_.push_back(v); }
  Value ArgOr(std::span<Value> a, std::size_t i) { return i < a.size() ? a[i] : Value(); }
};

// The core library: Object, Function, Array, String, Number, int, uint,
// Boolean, Math, Error classes, Vector, Dictionary, RegExp, JSON, Date,
// XML (minimal), ByteArray, and the top-level functions.
void InstallBuiltins(Machine& m);

}  // namespace quarvel::avm2
