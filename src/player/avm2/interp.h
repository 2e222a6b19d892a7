#pragma once
// The interpreter's parts (inside the machine only): the frame of one
// running method and one handler per instruction of QUARVEL_AVM2_OPCODES,
// grouped by family in ops_*.cpp. Machine::Interpret (interpreter.cpp)
// fetches each decoded instruction and calls its handler through Table().

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "player/avm2/machine.h"
#include "player/avm2/nullish.h"
#include "player/avm2/opcodes.h"

namespace quarvel::avm2 {

// One running method: where its registers, operand stack and scope stack
// lie in the machine's stack, and where it is.
struct Frame {
  Machine& vm;
  Method* m;
  AbcUnit& u;
  const ConstantPool& pool;
  const MethodBody& body;
  const DecodedCode& code;
  ScopeChain* outer;
  Value* locals;
  Value* stackBase;
  Value* stackEnd;
  Value* scopeBase;
  std::size_t nScope;
  Value* sp;  // next free
  std::size_t scopeDepth = 0;
  std::uint64_t withMask = 0;
  std::size_t pc = 0;  // the next instruction's index
  Value result;        // what the method returns, once a handler ends it

  // The machine's own stack faults: VerifyError 1030 naming the method.
  [[noreturn]] void Fail(const char* what) const;
  void Need(std::size_t n) const {
    if (sp - stackBase < static_cast<std::ptrdiff_t>(n)) Fail("Stack underflow");
  }
  void Push(const Value& v) {
    if (sp >= stackEnd) Fail("Stack overflow");
    *sp++ = v;
  }
  // Pushes what `make` returns; room is checked first, as `make` may run
  // script code that must not run when the push cannot happen.
  template <typename F>
  void PushFrom(F&& make) {
    if (sp >= stackEnd) Fail("Stack overflow");
    const Value v = make();
    *sp++ = v;
  }
  Value Pop() {
    Need(1);
    return *--sp;
  }
  Value& Top() { return sp[-1]; }
  // The top n values, in push order, now above the stack pointer.
  std::span<Value> PopArgs(std::uint32_t n) {
    Need(n);
    sp -= n;
    return std::span<Value>(sp, n);
  }
  // To the target of the branch just fetched.
  void Jump();
  void PushScope(const Value& v, bool with);
  // The global object: the outermost scope of the closure, or this frame's first.
  Value GlobalScope() const;
};

// The runtime parts of a multiname, popped name above namespace.
struct RuntimeName {
  Value name, ns;
};

// false: the method returns the frame's result.
using OpHandler = bool (*)(Frame&, const Instruction&);

struct Interp {
#define QUARVEL_AVM2_HANDLER(code, Name, ...) static bool Op##Name(Frame& f, const Instruction& in);
  QUARVEL_AVM2_OPCODES(QUARVEL_AVM2_HANDLER)
#undef QUARVEL_AVM2_HANDLER
  // A code the list lacks (the decoder refuses them before they run).
  static bool OpUnknown(Frame& f, const Instruction& in);

  // By code: the listed instruction's handler, or OpUnknown.
  static const std::array<OpHandler, 256>& Table();

  // A script exception thrown while the frame runs: true when a handler of
  // the body's exception table takes it (the frame then resumes there).
  static bool Catch(Frame& f, const Value& thrown);
  // Sets the registers from the arguments on entry.
  static void EnterArguments(Frame& f, std::span<Value> args);

  // Shared by several handlers.
  static RuntimeName PopRuntime(Frame& f, std::uint32_t multiname) {
    RuntimeName r;
    const Multiname& mm = f.pool.multinames[multiname];
    if (mm.HasRuntimeName()) r.name = f.Pop();
    if (mm.HasRuntimeNamespace()) r.ns = f.Pop();
    return r;
  }
  static Name NameOf(Frame& f, std::uint32_t multiname, RuntimeName& rt) {
    return f.vm.ResolveName(f.u, multiname, &rt.name, &rt.ns);
  }
  static Class* SuperClass(Frame& f);
  // The receiver of a super access, coerced to the method's class first
  // (1034); null or undefined there is #1009.
  static Value SuperReceiver(Frame& f, const Value& recv);
  // callsuper and callsupervoid: the super class's method, called.
  static Value CallSuperMethod(Frame& f, const Instruction& in);
  static Class* ResolveType(Frame& f, std::uint32_t multiname) { return f.vm.ResolveType(f.u, multiname); }
  // Writes slot s of o (*slot), coerced to the slot's declared type.
  static void StoreSlot(Frame& f, Object* o, std::uint32_t s, Value* slot, const Value& v);
  // The innermost scope that has the name (strict: a ReferenceError when none).
  static Value FindHolder(Frame& f, const Name& n, bool strict) {
    return f.vm.FindProperty(n, f.outer, f.scopeBase, f.scopeDepth, strict, f.withMask);
  }
  static ScopeChain* Closure(Frame& f) {
    return f.vm.ChainWith(f.outer, f.scopeBase, f.scopeDepth, f.withMask);
  }
};

}  // namespace quarvel::avm2
