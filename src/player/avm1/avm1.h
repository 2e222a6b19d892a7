#pragma once
// ActionScript 1/2 (AVM1): values, objects and the byte-code interpreter that
// runs frame actions, button actions, clip events and script functions.
//
// Objects live in the interpreter's heap and are collected between frames
// (mark and sweep from _global and the variables of every timeline), so
// cycles between closures and their scopes do not leak.

#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "player/avm1/avm1_action_list.h"
#include "player/display/stage.h"
#include "player/script_limits.h"

namespace quarvel::player {

class Avm1;
struct AsObject;

// Script numbers as integers, in the two ways Flash makes them; NaN and
// infinities never reach a cast. ToInt32 truncates and wraps modulo 2^32
// (depths, bit operations, character codes); ClampToInt truncates and
// saturates (frame numbers), NaN being 0.
std::int32_t ToInt32(double d);
int ClampToInt(double d);
// The processor's truncation: NaN, the infinities and numbers out of range
// are the lowest integer (tabIndex of clips and buttons, filter points).
std::int32_t TruncateOrLowest(double d);
// parseFloat: the longest decimal number at the start (after white space),
// each digit scaled into place and summed as Flash does, later dots passed over.
double ParseFloatText(const std::string& s);

struct AsValue {
  enum class Type : std::uint8_t { kUndefined, kNull, kBoolean, kNumber, kString, kObject, kClip };
  Type type = Type::kUndefined;
  double num = 0;  // number; booleans as 0/1
  // A string; for a clip the path it had when the reference was made ("" root,
  // "/a/b"), by which a reference to a removed clip finds a new one of that name.
  std::shared_ptr<const std::string> str;
  AsObject* obj = nullptr;
  ClipHandle clip = kNoClip;  // the clip referred to

  static AsValue Undefined() { return {}; }
  static AsValue Make(Type t, double n = 0, std::shared_ptr<const std::string> s = {}, AsObject* o = nullptr) {
    AsValue v;
    v.type = t;
    v.num = n;
    v.str = std::move(s);
    v.obj = o;
    return v;
  }
  static AsValue Null() { return Make(Type::kNull); }
  static AsValue Bool(bool b) { return Make(Type::kBoolean, b ? 1.0 : 0.0); }
  static AsValue Number(double d) { return Make(Type::kNumber, d); }
  static AsValue String(std::string s) { return Make(Type::kString, 0, std::make_shared<const std::string>(std::move(s))); }
  static AsValue Object(AsObject* o) { return o ? Make(Type::kObject, 0, {}, o) : Null(); }
  static AsValue Clip(ClipHandle h, std::shared_ptr<const std::string> path) {
    AsValue v = Make(Type::kClip, 0, std::move(path));
    v.clip = h;
    return v;
  }
  bool IsUndefined() const { return type == Type::kUndefined; }
  bool IsNullish() const { return type == Type::kUndefined || type == Type::kNull; }
  const std::string& Text() const;  // the string, or a clip's path; empty for other types
};

using AsArgs = std::span<AsValue>;
// A ConstantPool action's strings, shared by the values pushed from it.
using AsConstants = std::vector<std::shared_ptr<const std::string>>;
using AsNative = AsValue (*)(Avm1& vm, const AsValue& self, AsArgs args);

// A script function, or a built-in one.
struct AsFunction {
  AsNative native = nullptr;
  std::span<const std::uint8_t> code;
  std::shared_ptr<const AsConstants> pool;  // constants when it was defined
  std::vector<AsValue> scope;                             // outermost first
  std::vector<std::pair<std::uint8_t, std::string>> params;  // register (0: none), name
  std::uint16_t flags = 0;
  std::uint8_t registers = 4;
  bool v2 = false;
  std::string name;
  int version = 0;  // the SWF version of the movie that defined it (0: native)
};

struct AsProperty {
  AsValue value;
  std::string name;  // as first written
  std::uint64_t order = 0;  // when made: enumeration order, and which property it is
  bool hidden = false;  // not enumerated
  // addProperty: reading calls `getter`, writing calls `setter` (none: the
  // write is ignored), both with the object read through as `this`.
  AsObject* getter = nullptr;
  AsObject* setter = nullptr;
  // ASSetPropFlags: kept from delete; writes ignored; seen only by movies
  // of the SWF versions these bits allow (kPropVersion...).
  bool dontDelete = false;
  bool readOnly = false;
  std::uint16_t versions = 0;
};

// The longest prototype chain a lookup walks; Flash allows cycles in the
// chain and stops the scripts that walk one this far.
inline constexpr int kMaxProtoChain = 256;

// ASSetPropFlags bits.
inline constexpr std::uint32_t kPropDontEnum = 1, kPropDontDelete = 2, kPropReadOnly = 4, kPropVersion5 = 0x80,
                               kPropVersion6 = 0x100, kPropVersion7 = 0x400, kPropVersion8 = 0x1000,
                               kPropVersion9 = 0x2000, kPropVersion10 = 0x4000;
// Whether a property with those version bits exists for a movie of
// `version`: each version hides the bits of this table (the bits do not
// map one to one onto versions: 0x400 hides in 5 and 6, 0x80 only
// in 5).
constexpr bool PropertyVisible(std::uint16_t versions, int version) {
  constexpr std::uint16_t kHidden[] = {0x7FF8, 0x7480, 0x7500, 0x7000, 0x6000, 0x4000};
  const std::uint16_t mask = version <= 4 ? kHidden[0] : version >= 10 ? 0 : kHidden[version - 4];
  return (versions & mask) == 0;
}

// What a built-in class keeps beside its script properties (a text format,
// a bitmap's pixels...). Mark reports the script objects it holds so that
// the collector keeps them.
struct AsNativeData {
  virtual ~AsNativeData() = default;
  virtual void Mark(std::vector<AsObject*>& reachable) const { (void)reachable; }
};

struct AsObject {
  std::map<std::string, AsProperty> props;  // key folded to lower case before SWF 7
  AsObject* proto = nullptr;
  // __proto__ set to a value that is no object: no chain, and that value reads back.
  AsValue protoValue;
  std::unique_ptr<AsFunction> fn;
  // Arrays keep their elements as the properties "0", "1"... (holes are
  // missing ones) and a length of their own, which may be negative.
  bool isArray = false;
  std::int32_t length = 0;
  AsValue primitive;           // new String/Number/Boolean
  std::string className = "Object";
  AsValue target;              // Color objects: the clip they colour
  AsValue boundThis;           // `super`: the object its calls act on
  // `super`: how many prototypes above the object's first the method was
  // found; its prototypes are looked up from there again when it is used.
  int superDepth = 0;
  std::unique_ptr<AsNativeData> native;
  // A prototype's: the prototypes of the interfaces its class implements,
  // set once (an empty list too).
  std::vector<AsObject*> interfaces;
  bool interfacesSet = false;
  bool marked = false;
  // The native data when it is of type T.
  template <typename T>
  T* Native() const {
    return dynamic_cast<T*>(native.get());
  }
};

class Avm1 {
 public:
  Avm1(Stage& stage, int swfVersion);
  ~Avm1();
  // Lowers the caps on actions per frame, call depth and memory (zero: keep).
  void LowerLimits(const ScriptLimits& limits);
  Avm1(const Avm1&) = delete;
  Avm1& operator=(const Avm1&) = delete;

  // Runs action byte code with the clip's timeline as target and `this`.
  void Run(ClipHandle clip, std::span<const std::uint8_t> code);
  // Calls the clip's member function `name` (onEnterFrame...) when it has one.
  void CallHandler(ClipHandle clip, const std::string& name);
  bool HasHandler(ClipHandle clip, const std::string& name);
  // A clip member's plain value without running any getter (hit tests
  // must not run scripts while they walk the display list); undefined
  // for getter properties and for none.
  AsValue PeekClipMember(ClipHandle clip, const std::string& name);
  // A new frame: the step budget starts again; setInterval timers fire.
  void BeginFrame(std::int64_t ms);
  // A frame's scripts are done: data that arrived meanwhile is delivered
  // (the functions given to AtFrameEnd, each called once per frame).
  void EndFrame();
  void AtFrameEnd(const AsValue& fn) { frameEnd_.push_back(fn); }
  // Frees objects no timeline or global can reach.
  void Collect();
  // Object.registerClass: clips of the symbols exported by that name are
  // made by the class. Movies of version 6 and below share one register,
  // by names in any case; those of 7 and later another, by exact names.
  void RegisterClass(const std::string& exportName, const AsValue& ctor);
  // A new clip's class prototype, the init object's properties (attachMovie),
  // its onClipEvent(initialize) actions, then its class's constructor; once.
  void ConstructClip(ClipHandle clip, const AsValue& initObject = {});
  // A clip leaves the stage: its onUnload method and onClipEvent(unload)
  // actions are kept to run (RunUnloads) once it has gone.
  void ClipUnloading(ClipHandle clip);
  void RunUnloads();
  std::size_t LiveObjects() const { return heap_.size(); }
  // A variable by its path as scripts write it ("a", "/clip:a", "_root.o.p"),
  // from the main timeline; for hosts and tests.
  AsValue Evaluate(const std::string& expr, ClipHandle clip = kRootClip);
  // True when the variable `expr` names belongs to a clip: its path before
  // the last '.' or ':' names one, or it has no path (a member of `clip`).
  bool VariableOnClip(const std::string& expr, ClipHandle clip = kRootClip);
  void Assign(const std::string& expr, const AsValue& v, ClipHandle clip = kRootClip);
  // The timeline the running actions target (the main one from the host).
  ClipHandle RunningTarget() const { return running_ && running_->target != kNoClip ? running_->target : kRootClip; }
  std::string ToString(const AsValue& v);
  double ToNumber(const AsValue& v);
  // What the trace action prints (in debug runs).
  void TraceValue(const AsValue& v);

  // Used by the built-ins.
  int Version() const { return version_; }
  // An empty clip's sentinel bound, in pixels, as the running movie reads
  // it in another clip's space (`transformed`) or its own.
  double EmptyBoundsSentinel(bool transformed);
  Stage& GetStage() { return stage_; }
  AsObject* NewObject(AsObject* proto = nullptr);
  AsObject* NewArray(std::vector<AsValue> elems = {});
  AsValue Get(const AsValue& obj, const std::string& name);
  void Set(const AsValue& obj, const std::string& name, const AsValue& v);
  AsValue Call(const AsValue& fn, const AsValue& self, AsArgs args);
  bool ToBool(const AsValue& v);
  AsValue ToPrimitive(const AsValue& v);
  // A primitive's number (an object left by ToPrimitive: NaN, 0 before version 5).
  double PrimitiveNumber(const AsValue& v) const;
  // v.name() for an object value; undefined when it has no such function.
  AsValue CallMethodOf(const AsValue& v, const std::string& name);
  std::string Key(std::string_view name) const;
  void Skip(const std::string& what);
  // Counts memory a script makes; false (and the frame's scripts end) once
  // a frame made too much.
  bool Charge(std::size_t bytes);
  double Random();
  AsObject* ObjectProto() const { return objectProto_; }
  AsObject* FunctionProto() const { return functionProto_; }
  AsObject* ClipProto() const { return clipProto_; }
  // Button.prototype: buttons' variables start there.
  AsObject* ButtonProto() const { return buttonProto_; }
  void SetButtonProto(AsObject* proto) { buttonProto_ = proto; }
  AsObject* StringProto() const { return stringProto_; }
  AsObject* NumberProto() const { return numberProto_; }
  AsObject* BooleanProto() const { return booleanProto_; }
  // Whether a built-in constructor is being called by `new` (or `super()`)
  // on `self`, rather than as a conversion function.
  // A script error is on its way up (a built-in stops what it was doing).
  bool Throwing() const { return throwing_; }
  // The script error on its way up, taken aside so that more script can run
  // (nothing when none), and put back.
  std::optional<AsValue> TakeThrown() {
    if (!throwing_) return std::nullopt;
    throwing_ = false;
    return std::move(thrown_);
  }
  void Rethrow(AsValue v) {
    thrown_ = std::move(v);
    throwing_ = true;
  }
  bool Constructing(const AsValue& self) const {
    return self.type == AsValue::Type::kObject && self.obj == constructing_;
  }
  // ASnative(2, 0): whether the innermost script function running (native
  // calls between are seen through) was called by `new`.
  bool InScriptConstructor() const {
    for (const Context* c = running_; c; c = c->caller) {
      if (c->inFunction) return c->constructed;
    }
    return false;
  }
  // A built-in constructor refuses its arguments: `new` gives undefined
  // (BitmapData of an invalid size).
  void RefuseConstruction() { constructionRefused_ = true; }
  // For built-in modules (avm1_builtins.h): a native function, set on `on`
  // as a hidden property when given; a class with its prototype (a new
  // one when null) set on `on` as `name`; a property read and written by
  // native functions (setter null: read-only).
  AsObject* NewFunction(const std::string& name, AsNative native, AsObject* on = nullptr);
  AsObject* NewClass(AsObject* on, const std::string& name, AsNative ctor, AsObject* proto = nullptr);
  void AddAccessor(AsObject* on, const std::string& name, AsNative getter, AsNative setter);
  // An object that lives as long as the interpreter (namespaces, prototypes).
  AsObject* NewRootObject(AsObject* proto = nullptr);
  AsObject* ArrayProto() const { return arrayProto_; }
  AsObject* ColorProto() const { return colorProto_; }
  AsObject* Global() const { return global_; }
  std::string ClipPathText(const std::string& path, bool slash) const;
  // A value referring to the clip, with its present path.
  AsValue ClipValue(ClipHandle h);
  // The clip a value refers to: the clip itself while it lives, else
  // whatever its path names now; kNoClip for none and for other values.
  ClipHandle ClipOf(const AsValue& v);
  // setInterval; setTimeout when `once`.
  void AddInterval(const AsValue& fn, const AsValue& self, const std::string& method, double ms,
                   std::vector<AsValue> args, int id, bool once = false);
  void ClearInterval(int id);
  int NextIntervalId() { return ++intervalIds_; }
  std::string Join(AsObject* arr, const std::string& sep);
  // An array's elements as properties: a hole reads as undefined; writing
  // past the end grows the length; Elements lists 0..length-1 (at most
  // kMaxArrayElements). SetLength deletes the elements it cuts off.
  AsValue Element(const AsObject* arr, std::int64_t i) const;
  bool HasElement(const AsObject* arr, std::int64_t i) const;
  void SetElement(AsObject* arr, std::int64_t i, const AsValue& v);
  bool DeleteElement(AsObject* arr, std::int64_t i);
  std::vector<AsValue> Elements(const AsObject* arr) const;
  void SetLength(AsObject* arr, std::int32_t n);
  // Array methods write an element by deleting it and making it anew (it
  // becomes the newest property, visible again; protected ones stay).
  void PutElement(AsObject* arr, std::int64_t i, const AsValue& v);
  // Removes `count` elements at `start` and puts `items` there, moving the
  // rest as Flash does element by element; returns what was removed.
  std::vector<AsValue> SpliceElements(AsObject* arr, std::int64_t start, std::int64_t count,
                                      std::span<const AsValue> items);
  static constexpr std::int64_t kMaxArrayElements = std::int64_t{1} << 20;
  void SetProp(AsObject* o, const std::string& name, const AsValue& v, bool hidden = false);
  bool DeleteProp(AsObject* o, const std::string& name);
  bool StrictEquals(const AsValue& a, const AsValue& b);
  bool LooseEquals(const AsValue& a, const AsValue& b) { return Equals2(a, b); }
  // Calls `message` on every listener in the object's _listeners (AsBroadcaster).
  bool Broadcast(const AsValue& broadcaster, const std::string& message, AsArgs args);
  // The same for one of the global broadcasters (Mouse, Key, Stage).
  void BroadcastGlobal(const std::string& object, const std::string& message);
  // The keyboard as Key reads it: the keys held and the last key pressed.
  void KeyChanged(bool down, int keyCode, int charCode) {
    if (keyCode < 0 || keyCode >= static_cast<int>(keysDown_.size())) return;
    keysDown_[static_cast<std::size_t>(keyCode)] = down;
    if (down) {
      lastKeyCode_ = keyCode;
      lastKeyAscii_ = charCode;
    }
  }
  bool KeyIsDown(int keyCode) const {
    return keyCode >= 0 && keyCode < static_cast<int>(keysDown_.size()) && keysDown_[static_cast<std::size_t>(keyCode)];
  }
  int LastKeyCode() const { return lastKeyCode_; }
  int LastKeyAscii() const { return lastKeyAscii_; }
  AsValue GetClipVariable(TimelineState* tl, const std::string& name);
  // The clip's script object (its variables), made on first use.
  AsObject* ClipVarsOf(TimelineState& tl) { return ClipVars(&tl); }
  // An object's own script object; for a clip its variables (made on first
  // use); null for other values.
  AsObject* ObjectOf(const AsValue& v);
  // Object.prototype.addProperty: false when refused (no getter function).
  bool AddProperty(AsObject* o, const std::string& name, const AsValue& getter, const AsValue& setter);
  // A watcher's call, under the same nesting limit as accessors.
  bool CallWatcher(const AsValue& fn, std::uint64_t prop, const AsValue& self, std::vector<AsValue> args, AsValue& out) {
    return fn.type == AsValue::Type::kObject && CallAccessor(fn.obj, prop, self, std::move(args), out);
  }

  // Every action the interpreter knows, in code order; it dispatches
  // through this table alone.
  static std::span<const ActionInfo> ActionTable();
  // The table's entry for a code; nullptr for codes it does not know.
  static const ActionInfo* FindAction(std::uint8_t code);

 private:
  // One running block of actions: a frame's code or a function's body.
  struct Context {
    ClipHandle target = kRootClip;  // the timeline that timeline actions control; kNoClip: none
    ClipHandle base = kRootClip;    // where SetTarget("") returns to
    AsValue thisv;
    std::vector<AsValue> scope;  // outermost first; objects and clips
    AsObject* activation = nullptr;
    std::vector<AsValue> regs;
    std::shared_ptr<const AsConstants> pool;
    bool inFunction = false;
    bool thisByName = true;  // a function's `this` is a variable by name
    AsObject* callee = nullptr;  // the function running, for arguments.caller
    Context* caller = nullptr;   // whose registers lie past this one's own
    bool constructed = false;    // a function body run by `new`
  };
  AsValue* Register(Context& ctx, std::size_t i);
  friend struct ActionFrame;

  // One handler per action: Act<Name> for each entry of the list.
#define QUARVEL_AVM1_HANDLER(code, name, version) void Act##name(ActionFrame& f);
  QUARVEL_AVM1_ACTIONS(QUARVEL_AVM1_HANDLER)
#undef QUARVEL_AVM1_HANDLER
  // What several actions share.
  std::size_t PopCount(ActionFrame& f);
  std::vector<AsValue> PopArgs(ActionFrame& f);
  AsValue BoolValue(bool b) const;
  AsValue MakeString(std::string s);
  TimelineState* TargetTimeline(ActionFrame& f);
  // Where a relative path starts: the target, or once it is gone the root
  // of the clip the actions belong to.
  ClipHandle PathStart(const Context& ctx);
  // A target path by the rules of the running code's version.
  ClipHandle ResolveTarget(ClipHandle base, std::string_view path, bool thisIsBase = false);
  void SetTarget(ActionFrame& f, ClipHandle t);
  void SetTargetByName(ActionFrame& f, const std::string& t);
  void Arithmetic(ActionFrame& f, double (*op)(double, double));
  void Bitwise(ActionFrame& f, double (*op)(std::int32_t, std::int32_t));
  void CompareStrings(ActionFrame& f, bool (*op)(const std::string&, const std::string&));
  void PropertyAccess(ActionFrame& f, bool set);
  void Branch(ActionFrame& f, bool taken);
  void Extract(ActionFrame& f, bool characters);
  void DefineLocal(ActionFrame& f, bool withValue);
  void ConstructOrSkip(ActionFrame& f, const AsValue& ctor, const std::string& name, std::vector<AsValue>& args);
  void DefineFunction(ActionFrame& f, bool v2);
  void EnumerateNames(ActionFrame& f, const AsValue& obj);
  // A script error on its way: to the innermost catch block, or through a
  // finally block; false when no try of this code takes it.
  bool CatchThrow(ActionFrame& f);
  // A return inside a try with a finally block runs that block first;
  // false when none is left.
  bool EnterFinallyOnReturn(ActionFrame& f);
  // A finally block entered by a throw or return ended: the throw goes on
  // (false), or the code returns (true).
  bool FinallyEnded(ActionFrame& f);
  // QUARVEL_AVM1_TRACE: every action run and every method not found, on stderr.
  void TraceLine(const std::string& line);
  void TraceAction(ActionFrame& f, std::size_t stackBefore);
  std::string Describe(const AsValue& v);

  AsValue Execute(std::span<const std::uint8_t> code, Context& ctx);
  AsValue CallFunction(AsObject* fnObj, const AsValue& self, AsArgs args);
  AsValue Construct(const AsValue& ctor, AsArgs args);
  AsValue MakeSuper(AsObject* fnObj, const AsValue& self);
  // What super() calls: the base's __constructor__, looked up when called.
  AsValue SuperConstructor(AsObject* sup);
  // A `super` object follows its object's prototypes as they are now.
  void RefreshSuper(AsObject* sup);
  AsValue GetVar(Context& ctx, const std::string& name);
  void SetVar(Context& ctx, const std::string& name, const AsValue& v);
  bool LookupScope(Context& ctx, const std::string& name, AsValue& out, AsValue* holder);
  // `handleThis`: a first name `this` is the target (not in a bare slash
  // path read as a variable).
  AsValue ResolvePath(Context& ctx, const std::string& path, bool handleThis = true);
  // What _root names for a script of `clip`: its level, or the nearest clip
  // locking its root.
  ClipHandle ScriptRoot(ClipHandle clip);
  AsObject* ClipVars(TimelineState* tl);
  // The prototype a timeline's variables start from: Button's for buttons.
  AsObject* VarsProto(const TimelineState* tl);
  AsValue GetOwn(AsObject* o, const std::string& key);
  // Calls a getter, setter or watcher of `prop` unless Flash's limit of
  // nested calls for that one property is reached; false when refused.
  bool CallAccessor(AsObject* fn, std::uint64_t prop, const AsValue& self, std::vector<AsValue> args, AsValue& out);
  // Sets through the setter `acc` found for `key`; a property of the object's
  // own also keeps the value beneath its getter, as the one it falls back to.
  void SetThroughAccessor(AsObject* o, const std::string& key, AsProperty* acc, const AsValue& self, const AsValue& v);
  // `self` is what getters see as `this` (the object itself when null);
  // `selfClip`, when given, the clip they see instead.
  bool FindProp(AsObject* o, const std::string& key, AsValue& out, const AsValue* self = nullptr,
                ClipHandle selfClip = kNoClip);
  // A prototype chain ran too long (a cycle): the running scripts stop.
  void ProtoChainTooLong();
  // A setter for `key` on the object or its prototypes; null when none.
  AsProperty* FindAccessor(AsObject* o, const std::string& key);
  AsValue GetClipMember(ClipHandle clip, const std::string& name);
  // The clip's `_parent` as Flash answers it, whatever variables say.
  AsValue ClipParent(ClipHandle clip);
  void SetClipMember(ClipHandle clip, const std::string& name, const AsValue& v);
  bool Equals2(const AsValue& a, const AsValue& b);
  AsValue Less(const AsValue& a, const AsValue& b);
  std::string TypeOf(const AsValue& v);
  bool InstanceOf(const AsValue& v, const AsValue& ctor);
  // Whether the prototype or an interface it implements (and so on) is `target`.
  // `prototype` as a function holds it: the object's own value, getters
  // not run (a clip's own variable).
  AsValue RawPrototype(const AsValue& v);
  // A primitive as an object made by the global String, Number or Boolean
  // of the moment; objects as they are; none for undefined and null.
  AsValue CoerceToObject(const AsValue& v);
  void InstallBuiltins();
  void Mark(AsObject* o);
  void MarkValue(const AsValue& v);
  void MarkTimeline(TimelineState& tl, int nesting);

  Stage& stage_;
  // The running code's SWF version (that of the movie it came from); names
  // keep the main movie's case rule, so that objects shared between movies
  // keep one key each.
  int version_;
  const int keyVersion_;
  // Once a version 8 movie measures an empty clip, the sentinel box reads
  // through the single-precision transform for every movie.
  bool wideEmptyBounds_;
  std::vector<std::unique_ptr<AsObject>> heap_;
  std::size_t lastLive_ = 1024;
  AsObject* global_ = nullptr;
  AsObject* objectProto_ = nullptr;
  AsObject* functionProto_ = nullptr;
  AsObject* arrayProto_ = nullptr;
  AsObject* stringProto_ = nullptr;
  AsObject* numberProto_ = nullptr;
  AsObject* booleanProto_ = nullptr;
  AsObject* clipProto_ = nullptr;
  AsObject* buttonProto_ = nullptr;
  AsObject* colorProto_ = nullptr;
  std::vector<AsObject*> roots_;
  std::map<std::string, AsValue> classes_[2];  // by export name: versions up to 6, then 7 on
  std::uint64_t order_ = 0;
  std::size_t steps_ = 0;
  // This frame's action budget: smaller after a frame that ran out of it,
  // so that a script looping forever on every frame costs little.
  std::size_t stepBudget_ = kMaxActionsPerFrame;
  bool budgetSpent_ = false;
  // The caps, the player's own unless a host lowered them (LowerLimits).
  std::size_t stepCap_ = kMaxActionsPerFrame;
  int depthCap_ = 0;
  std::size_t frameBytesCap_ = 0, liveBytesCap_ = 0;
  const AsObject* constructing_ = nullptr;  // see Constructing()
  bool nextCallConstructs_ = false;  // Construct's call of a script function
  bool constructionRefused_ = false;  // see RefuseConstruction()
  bool specialCall_ = false;  // the next call is a conversion's toString or valueOf
  // Clips whose _lockroot is set: _root inside them is the clip itself.
  std::unordered_set<ClipHandle> lockRoots_;
  int depth_ = 0;
  // The properties whose accessors or watchers are running, innermost last.
  std::vector<std::uint64_t> propertyCalls_;  // by AsProperty::order
  // AsciiToChar from version 6: a 16-bit code, U+FFFD for a surrogate.
  std::string CharFromCode(double code) const;
  bool aborted_ = false;
  // The recursion limit was passed: every running action list ends, up to
  // the host's call.
  bool halted_ = false;
  bool throwing_ = false;
  AsValue thrown_;
  std::uint64_t seed_ = 0x9E3779B97F4A7C15ull;
  std::int64_t now_ = 0;
  std::size_t frameBytes_ = 0;   // made by scripts this frame
  std::size_t sinceCollect_ = 0;  // made since the last collection
  bool disabled_ = false;         // scripts outgrew their memory: no more run
 public:
  // getTimer: the frame's time plus the time its actions took, at a fixed
  // speed, so that loops that wait on the clock end as on a real player.
  std::int64_t ScriptClock() const;

 private:
  bool tracing_ = false;
  std::bitset<256> keysDown_;
  int lastKeyCode_ = 0;
  int lastKeyAscii_ = 0;
  // The block of actions running now (the innermost), for the target a
  // version 5 function call takes as its own.
  Context* running_ = nullptr;
  // What top-level blocks left on the stack: Flash keeps one stack for the
  // frame and event blocks of a frame, so the next block pops it.
  std::vector<AsValue> leftStack_;

  struct Interval {
    int id = 0;
    AsValue fn, self;
    std::string method;
    std::vector<AsValue> args;
    double periodMs = 0;
    double nextMs = 0;
    bool once = false;
  };
  std::vector<Interval> intervals_;
  struct Unload {
    AsValue self, fn;
    std::vector<std::span<const std::uint8_t>> code;
  };
  std::vector<Unload> unloads_;
  std::vector<AsValue> frameEnd_;
  int intervalIds_ = 0;
};

}  // namespace quarvel::player
