#include "player/avm2/code_decoder.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <string>
#include <unordered_set>
#include <utility>

namespace quarvel::avm2 {
namespace {

constexpr const char* kBranchTargetText = "At least one branch target was not on a valid instruction in the method.";

class CodeReader {
 public:
  explicit CodeReader(const MethodBody& body) : code_(body.code), base_(body.codeOffset) {}

  std::uint32_t Pos() const { return static_cast<std::uint32_t>(pos_); }
  void Seek(std::size_t pos) { pos_ = pos; }
  bool AtEnd() const { return pos_ >= code_.size(); }
  std::size_t Size() const { return code_.size(); }

  [[noreturn]] void FailAt(const std::string& fault, std::size_t at) const {
    throw AbcError(fault, base_ + at);
  }
  [[noreturn]] void FailAt(const std::string& fault, std::size_t at, int flashId, std::string flashMessage) const {
    throw AbcError(fault, base_ + at, flashId, std::move(flashMessage));
  }

  std::uint8_t U8(std::size_t start, const char* name) {
    if (pos_ >= code_.size()) Cut(start, name);
    return code_[pos_++];
  }
  std::uint32_t U30(std::size_t start, const char* name) {
    std::uint32_t v = 0;
    for (int i = 0; i < 5; ++i) {
      const std::uint8_t b = U8(start, name);
      v |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
      if (!(b & 0x80)) break;
    }
    return v;
  }
  std::int32_t S24(std::size_t start, const char* name) {
    std::uint32_t v = U8(start, name);
    v |= static_cast<std::uint32_t>(U8(start, name)) << 8;
    v |= static_cast<std::uint32_t>(U8(start, name)) << 16;
    if (v & 0x800000) v |= 0xFF000000u;
    return static_cast<std::int32_t>(v);
  }

 private:
  [[noreturn]] void Cut(std::size_t start, const char* name) const {
    FailAt(std::string(name) + " is cut off by the end of the code", start);
  }

  const std::vector<std::uint8_t>& code_;
  std::size_t base_;
  std::size_t pos_ = 0;
};

}  // namespace

std::int64_t DecodedCode::IndexAt(std::uint32_t offset) const {
  const auto it = std::lower_bound(instructions.begin(), instructions.end(), offset,
                                   [](const Instruction& i, std::uint32_t o) { return i.offset < o; });
  if (it == instructions.end() || it->offset != offset) return -1;
  return it - instructions.begin();
}

namespace {

// One instruction at the reader's position, its operands checked against
// the pools; branch and switch targets must lie in the code.
Instruction DecodeOne(CodeReader& r, const AbcFile& abc, const MethodBody& body, DecodedCode& out) {
  const auto& pool = abc.pool;
  Instruction in;
  in.offset = r.Pos();
  in.code = r.U8(in.offset, "opcode");
  const OpcodeInfo* op = FindOpcode(in.code);
  if (!op)
    r.FailAt("unknown opcode " + std::to_string(in.code), in.offset, 1011,
             "Method %M contained illegal opcode " + std::to_string(in.code) + " at offset " +
                 std::to_string(in.offset) + ".");
  const char* name = op->name.data();

  auto target = [&](std::int64_t from, std::int32_t delta) {
    const std::int64_t t = from + delta;
    if (t < 0 || t >= static_cast<std::int64_t>(r.Size()))
      r.FailAt(std::string(name) + " target " + std::to_string(t) + " outside the code of " +
                   std::to_string(r.Size()) + " bytes",
               in.offset, 1021, kBranchTargetText);
    return static_cast<std::uint32_t>(t);
  };
  auto index = [&](std::uint32_t v, std::size_t size, bool zeroAllowed, const char* what) {
    if (v >= size || (v == 0 && !zeroAllowed)) {
      const std::string w = what;
      const std::string n = std::to_string(v), count = std::to_string(size);
      const auto [id, text] = w == "method"      ? std::pair{1027, "Method_info " + n + " exceeds method_count=" + count + "."}
                              : w == "class"     ? std::pair{1060, "ClassInfo " + n + " exceeds class_count=" + count + "."}
                              : w == "exception" ? std::pair{1011, "Method %M cannot run: exception " + n + " out of range."}
                                                 : std::pair{1032, "Cpool index " + n + " is out of range " + count + "."};
      r.FailAt(std::string(name) + " " + what + " index " + n + " out of range (" + count + " entries)", in.offset, id,
               text);
    }
    return v;
  };

  if (op->operands[0] == Operand::kSwitch) {
    // Offsets count from the lookupswitch itself, not from its end.
    const std::int32_t def = r.S24(in.offset, name);
    const std::uint32_t cases = r.U30(in.offset, name);
    // Three bytes a case: refuse a count the code cannot hold.
    if ((static_cast<std::uint64_t>(cases) + 1) * 3 > r.Size() - r.Pos())
      r.FailAt("lookupswitch case count " + std::to_string(cases) + " exceeds the code", in.offset);
    in.args[0] = target(in.offset, def);
    in.args[1] = cases + 1;
    in.args[2] = static_cast<std::uint32_t>(out.switchTargets.size());
    for (std::uint32_t i = 0; i <= cases; ++i)
      out.switchTargets.push_back(target(in.offset, r.S24(in.offset, name)));
    return in;
  }

  for (int i = 0; i < op->OperandCount(); ++i) {
    std::uint32_t& a = in.args[static_cast<std::size_t>(i)];
    switch (op->operands[static_cast<std::size_t>(i)]) {
      case Operand::kU8:
        a = r.U8(in.offset, name);
        break;
      case Operand::kS8:
        a = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(r.U8(in.offset, name))));
        break;
      case Operand::kBranch: {
        const std::int32_t delta = r.S24(in.offset, name);
        a = target(r.Pos(), delta);
        break;
      }
      case Operand::kMultiname:
        a = index(r.U30(in.offset, name), pool.multinames.size(), false, "multiname");
        break;
      case Operand::kString:
        a = index(r.U30(in.offset, name), pool.strings.size(), false, "string");
        break;
      case Operand::kStringOrNone:
        a = index(r.U30(in.offset, name), pool.strings.size(), true, "string");
        break;
      case Operand::kInt:
        a = index(r.U30(in.offset, name), pool.ints.size(), false, "int");
        break;
      case Operand::kUInt:
        a = index(r.U30(in.offset, name), pool.uints.size(), false, "uint");
        break;
      case Operand::kDouble:
        a = index(r.U30(in.offset, name), pool.doubles.size(), false, "double");
        break;
      case Operand::kNamespace:
        a = index(r.U30(in.offset, name), pool.namespaces.size(), false, "namespace");
        break;
      case Operand::kMethod:
        a = index(r.U30(in.offset, name), abc.methods.size(), true, "method");
        break;
      case Operand::kClass:
        a = index(r.U30(in.offset, name), abc.classes.size(), true, "class");
        break;
      case Operand::kException:
        a = index(r.U30(in.offset, name), body.exceptions.size(), true, "exception");
        break;
      case Operand::kSlot:
      case Operand::kU30:
      case Operand::kArgCount:
      case Operand::kRegister:
      case Operand::kDispId:
      case Operand::kLine:
        a = r.U30(in.offset, name);
        break;
      case Operand::kNone:
      case Operand::kSwitch:
        break;
    }
  }
  return in;
}

bool CannotThrow(std::uint8_t code);

}  // namespace

DecodedCode DecodeCode(const AbcFile& abc, const MethodBody& body) {
  DecodedCode out;
  CodeReader r(body);
  const std::size_t n = body.code.size();
  if (n == 0) r.FailAt("method " + std::to_string(body.method) + " has no code", 0);

  // Like Flash, only code that can run is decoded: from the start, along
  // branches and switches, and from the handlers of exception ranges that
  // hold decoded code that can throw. Bytes nothing reaches may hold anything.
  enum : std::uint8_t { kUnseen, kStart, kInside, kStartThrows };
  std::vector<std::uint8_t> mark(n, kUnseen);
  std::vector<std::uint32_t> work{0};
  std::vector<bool> handlerQueued(body.exceptions.size(), false);
  std::vector<std::uint32_t> startsBefore;  // decoded starts below each offset, per round

  auto landing = [&](std::uint32_t at, std::uint32_t from, const std::string& what) {
    if (mark[at] == kInside)
      r.FailAt(what + " " + std::to_string(at) + " is inside an instruction", from, 1021, kBranchTargetText);
  };

  while (true) {
    while (!work.empty()) {
      std::uint32_t pos = work.back();
      work.pop_back();
      while (mark[pos] != kStart && mark[pos] != kStartThrows) {
        landing(pos, pos, "target");
        r.Seek(pos);
        Instruction in = DecodeOne(r, abc, body, out);
        const std::uint32_t end = r.Pos();
        for (std::uint32_t b = pos + 1; b < end; ++b) {
          if (mark[b] != kUnseen)
            r.FailAt("instruction overlaps the one at " + std::to_string(b), pos, 1021, kBranchTargetText);
          mark[b] = kInside;
        }
        mark[pos] = CannotThrow(in.code) ? kStart : kStartThrows;
        const OpcodeInfo& op = in.Info();
        if (op.flags & op_flag::kSwitch) {
          for (std::uint32_t i = 0; i < in.args[1]; ++i) {
            const std::uint32_t t = out.switchTargets[in.args[2] + i];
            landing(t, pos, "lookupswitch target");
            work.push_back(t);
          }
          landing(in.args[0], pos, "lookupswitch target");
          work.push_back(in.args[0]);
        } else if (op.flags & (op_flag::kJump | op_flag::kConditional)) {
          landing(in.args[0], pos, std::string(op.name) + " target");
          work.push_back(in.args[0]);
        }
        out.instructions.push_back(in);
        if (op.EndsBlock()) break;
        if (end >= n) r.FailAt("code runs off its end", pos, 1020, "Code cannot fall off the end of a method.");
        pos = end;
      }
    }
    // Handlers of ranges that hold decoded code that can throw run too.
    startsBefore.assign(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i) startsBefore[i + 1] = startsBefore[i] + (mark[i] == kStartThrows);
    for (std::size_t e = 0; e < body.exceptions.size(); ++e) {
      const ExceptionInfo& x = body.exceptions[e];
      // The reader refuses such ranges; a model made by hand may hold them.
      if (x.from > x.to || x.to > n || x.target >= n)
        r.FailAt("exception " + std::to_string(e) + " lies outside the code", 0);
      if (handlerQueued[e] || startsBefore[x.to] == startsBefore[x.from]) continue;
      handlerQueued[e] = true;
      landing(x.target, x.target, "exception handler");
      work.push_back(x.target);
    }
    if (work.empty()) break;
  }
  std::sort(out.instructions.begin(), out.instructions.end(),
            [](const Instruction& a, const Instruction& b) { return a.offset < b.offset; });
  return out;
}

namespace {

struct StackEffect {
  std::uint32_t pops = 0, pushes = 0;
};

// What one instruction takes from and leaves on the operand stack.
StackEffect EffectOf(const AbcFile& abc, const Instruction& in) {
  const auto runtime = [&](std::uint32_t multiname) -> std::uint32_t {
    const Multiname& mm = abc.pool.multinames[multiname];
    return (mm.HasRuntimeName() ? 1u : 0u) + (mm.HasRuntimeNamespace() ? 1u : 0u);
  };
  const std::uint32_t a0 = in.args[0], a1 = in.args[1];
  switch (static_cast<Op>(in.code)) {
    case Op::kThrow: case Op::kDxnsLate: case Op::kIfTrue: case Op::kIfFalse: case Op::kLookupSwitch:
    case Op::kPushWith: case Op::kPushScope: case Op::kPop: case Op::kReturnValue: case Op::kSetLocal:
    case Op::kSetLocal0: case Op::kSetLocal1: case Op::kSetLocal2: case Op::kSetLocal3: case Op::kSetGlobalSlot:
      return {1, 0};
    case Op::kIfNlt: case Op::kIfNle: case Op::kIfNgt: case Op::kIfNge: case Op::kIfEq: case Op::kIfNe:
    case Op::kIfLt: case Op::kIfLe: case Op::kIfGt: case Op::kIfGe: case Op::kIfStrictEq: case Op::kIfStrictNe:
    case Op::kSi8: case Op::kSi16: case Op::kSi32: case Op::kSf32: case Op::kSf64: case Op::kSetSlot:
      return {2, 0};
    case Op::kPushNull: case Op::kPushUndefined: case Op::kPushByte: case Op::kPushShort: case Op::kPushTrue:
    case Op::kPushFalse: case Op::kPushNaN: case Op::kPushString: case Op::kPushInt: case Op::kPushUint:
    case Op::kPushDouble: case Op::kPushNamespace: case Op::kHasNext2: case Op::kNewFunction:
    case Op::kNewActivation: case Op::kNewCatch: case Op::kFindDef: case Op::kGetLocal: case Op::kGetLocal0:
    case Op::kGetLocal1: case Op::kGetLocal2: case Op::kGetLocal3: case Op::kGetGlobalScope:
    case Op::kGetScopeObject: case Op::kGetOuterScope: case Op::kGetGlobalSlot:
      return {0, 1};
    case Op::kGetLex: case Op::kFindPropStrict: case Op::kFindProperty:
      return {runtime(a0), 1};
    case Op::kNextName: case Op::kNextValue: case Op::kHasNext: case Op::kAsTypeLate: case Op::kIsTypeLate:
    case Op::kAdd: case Op::kSubtract: case Op::kMultiply: case Op::kDivide: case Op::kModulo: case Op::kLShift:
    case Op::kRShift: case Op::kURShift: case Op::kBitAnd: case Op::kBitOr: case Op::kBitXor: case Op::kEquals:
    case Op::kStrictEquals: case Op::kLessThan: case Op::kLessEquals: case Op::kGreaterThan:
    case Op::kGreaterEquals: case Op::kInstanceOf: case Op::kIn: case Op::kAddI: case Op::kSubtractI:
    case Op::kMultiplyI:
      return {2, 1};
    case Op::kDup:
      return {1, 2};
    case Op::kSwap:
      return {2, 2};
    case Op::kLi8: case Op::kLi16: case Op::kLi32: case Op::kLf32: case Op::kLf64: case Op::kSxi1: case Op::kSxi8:
    case Op::kSxi16: case Op::kNewClass: case Op::kGetSlot: case Op::kConvertS: case Op::kEscXelem:
    case Op::kEscXattr: case Op::kConvertI: case Op::kConvertU: case Op::kConvertD: case Op::kConvertB:
    case Op::kConvertO: case Op::kCheckFilter: case Op::kCoerce: case Op::kCoerceB: case Op::kCoerceA:
    case Op::kCoerceI: case Op::kCoerceD: case Op::kCoerceS: case Op::kAsType: case Op::kCoerceU: case Op::kCoerceO:
    case Op::kNegate: case Op::kIncrement: case Op::kDecrement: case Op::kTypeOf: case Op::kNot: case Op::kBitNot:
    case Op::kIsType: case Op::kIncrementI: case Op::kDecrementI: case Op::kNegateI:
      return {1, 1};
    case Op::kGetSuper: case Op::kGetProperty: case Op::kDeleteProperty: case Op::kGetDescendants:
      return {1 + runtime(a0), 1};
    case Op::kSetSuper: case Op::kSetProperty: case Op::kInitProperty:
      return {2 + runtime(a0), 0};
    case Op::kCall:
      return {2 + a0, 1};
    case Op::kConstruct: case Op::kApplyType:
      return {1 + a0, 1};
    case Op::kConstructSuper:
      return {1 + a0, 0};
    case Op::kCallMethod: case Op::kCallStatic:
      return {1 + a1, 1};
    case Op::kCallSuper: case Op::kCallProperty: case Op::kCallPropLex: case Op::kConstructProp:
      return {1 + a1 + runtime(a0), 1};
    case Op::kCallSuperVoid: case Op::kCallPropVoid:
      return {1 + a1 + runtime(a0), 0};
    case Op::kNewObject:
      return {2 * a0, 1};
    case Op::kNewArray:
      return {a0, 1};
    default:
      return {0, 0};
  }
}

// Instructions that cannot throw: a handler is verified only from a range
// that holds one that can, as Flash does.
bool CannotThrow(std::uint8_t code) {
  switch (static_cast<Op>(code)) {
    case Op::kNop: case Op::kLabel: case Op::kBkpt: case Op::kBkptLine: case Op::kDebug: case Op::kDebugLine:
    case Op::kDebugFile: case Op::kTimestamp: case Op::kJump: case Op::kPushNull: case Op::kPushUndefined:
    case Op::kPushByte: case Op::kPushShort: case Op::kPushTrue: case Op::kPushFalse: case Op::kPushNaN:
    case Op::kPushString: case Op::kPushInt: case Op::kPushUint: case Op::kPushDouble: case Op::kPop: case Op::kDup:
    case Op::kSwap: case Op::kGetLocal: case Op::kGetLocal0: case Op::kGetLocal1: case Op::kGetLocal2:
    case Op::kGetLocal3: case Op::kSetLocal: case Op::kSetLocal0: case Op::kSetLocal1: case Op::kSetLocal2:
    case Op::kSetLocal3: case Op::kKill: case Op::kPopScope: case Op::kGetScopeObject: case Op::kGetGlobalScope:
    case Op::kReturnVoid:
      return true;
    default:
      return false;
  }
}

}  // namespace

void VerifyStack(const AbcFile& abc, const MethodBody& body, const DecodedCode& code) {
  const std::size_t n = code.instructions.size();
  constexpr std::int64_t kUnknown = -1;
  std::vector<std::int64_t> depth(n, kUnknown);
  std::vector<bool> done(n, false);
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
  const std::size_t base = body.codeOffset;
  const std::int64_t maxStack = body.maxStack;

  const auto reach = [&](std::int64_t index, std::int64_t d, const Instruction& from) {
    if (index < 0) return;
    const auto i = static_cast<std::size_t>(index);
    if (depth[i] == kUnknown) {
      depth[i] = d;
      ready.push(i);
    } else if (depth[i] != d) {
      throw AbcError("stack depth " + std::to_string(d) + " meets " + std::to_string(depth[i]) + " at offset " +
                         std::to_string(code.instructions[i].offset),
                     base + from.offset, 1030,
                     "Stack depth is unbalanced. " + std::to_string(d) + " != " + std::to_string(depth[i]) + ".");
    }
  };
  if (n == 0) return;
  depth[0] = 0;
  ready.push(0);
  while (!ready.empty()) {
    const std::size_t i = ready.top();
    ready.pop();
    if (done[i]) continue;
    done[i] = true;
    const Instruction& in = code.instructions[i];
    std::int64_t d = depth[i];
    // A handler starts with the thrown value alone on the stack.
    if (!CannotThrow(in.code)) {
      for (const ExceptionInfo& e : body.exceptions)
        if (in.offset >= e.from && in.offset < e.to) reach(code.IndexAt(e.target), 1, in);
    }
    const StackEffect fx = EffectOf(abc, in);
    if (d < fx.pops)
      throw AbcError(std::string(in.Info().name) + " takes " + std::to_string(fx.pops) + " values from a stack of " +
                         std::to_string(d),
                     base + in.offset, 1024, "Stack underflow occurred.");
    d = d - fx.pops + fx.pushes;
    if (d > maxStack)
      throw AbcError(std::string(in.Info().name) + " leaves " + std::to_string(d) + " values, past max_stack " +
                         std::to_string(maxStack),
                     base + in.offset, 1023, "Stack overflow occurred.");
    const OpcodeInfo& op = in.Info();
    if (op.flags & op_flag::kSwitch) {
      reach(code.IndexAt(in.args[0]), d, in);
      for (std::uint32_t c = 0; c < in.args[1]; ++c) reach(code.IndexAt(code.switchTargets[in.args[2] + c]), d, in);
      continue;
    }
    if (op.flags & (op_flag::kJump | op_flag::kConditional)) reach(code.IndexAt(in.args[0]), d, in);
    if (!op.EndsBlock() && i + 1 < n) reach(static_cast<std::int64_t>(i + 1), d, in);
  }
}

std::vector<bool> ReceiverIsRegister0(const AbcFile& abc, const MethodBody& body, const DecodedCode& code) {
  const std::size_t n = code.instructions.size();
  // Per instruction on entry: whether register 0 still holds the receiver,
  // and which stack entries are that receiver.
  struct State {
    bool known = false;
    bool reg0 = false;
    std::vector<bool> stack;
  };
  std::vector<State> at(n);
  std::vector<bool> out(n, false);
  bool any = false;
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
  const auto reach = [&](std::int64_t index, const State& s) {
    if (index < 0) return;
    State& t = at[static_cast<std::size_t>(index)];
    if (!t.known) {
      t = s;
      ready.push(static_cast<std::size_t>(index));
      return;
    }
    // Paths meet: what is the receiver on all of them. VerifyStack has made
    // the depths equal.
    bool changed = t.reg0 && !s.reg0;
    t.reg0 = t.reg0 && s.reg0;
    for (std::size_t k = 0; k < t.stack.size() && k < s.stack.size(); ++k) {
      if (t.stack[k] && !s.stack[k]) t.stack[k] = false, changed = true;
    }
    if (changed) ready.push(static_cast<std::size_t>(index));
  };
  if (n == 0) return {};
  at[0].known = true;
  at[0].reg0 = true;
  ready.push(0);
  while (!ready.empty()) {
    const std::size_t i = ready.top();
    ready.pop();
    const Instruction& in = code.instructions[i];
    State s = at[i];
    if (!CannotThrow(in.code)) {
      for (const ExceptionInfo& e : body.exceptions) {
        if (in.offset >= e.from && in.offset < e.to) reach(code.IndexAt(e.target), State{true, s.reg0, {false}});
      }
    }
    const StackEffect fx = EffectOf(abc, in);
    if (s.stack.size() < fx.pops) return {};  // VerifyStack refuses such code
    const auto op = static_cast<Op>(in.code);
    if (op == Op::kGetProperty || op == Op::kSetProperty || op == Op::kInitProperty) {
      if (s.stack[s.stack.size() - fx.pops]) out[i] = any = true;
    }
    switch (op) {
      case Op::kGetLocal0:
        s.stack.push_back(s.reg0);
        break;
      case Op::kGetLocal:
        s.stack.push_back(in.args[0] == 0 && s.reg0);
        break;
      case Op::kSetLocal0:
        s.reg0 = s.stack.back();
        s.stack.pop_back();
        break;
      case Op::kDup:
        s.stack.push_back(s.stack.back());
        break;
      case Op::kSwap:
        std::vector<bool>::swap(s.stack[s.stack.size() - 1], s.stack[s.stack.size() - 2]);
        break;
      default: {
        if (op == Op::kSetLocal && in.args[0] == 0) s.reg0 = s.stack.back();
        // Anything else that writes a register: kill, inclocal and the like, hasnext2.
        const OpcodeInfo& info = in.Info();
        for (std::size_t k = 0; k < info.operands.size(); ++k) {
          if (info.operands[k] == Operand::kRegister && in.args[k] == 0 && op != Op::kSetLocal && op != Op::kGetLocal)
            s.reg0 = false;
        }
        s.stack.resize(s.stack.size() - fx.pops);
        s.stack.resize(s.stack.size() + fx.pushes, false);
      }
    }
    const OpcodeInfo& info = in.Info();
    if (info.flags & op_flag::kSwitch) {
      reach(code.IndexAt(in.args[0]), s);
      for (std::uint32_t c = 0; c < in.args[1]; ++c) reach(code.IndexAt(code.switchTargets[in.args[2] + c]), s);
      continue;
    }
    if (info.flags & (op_flag::kJump | op_flag::kConditional)) reach(code.IndexAt(in.args[0]), s);
    if (!info.EndsBlock() && i + 1 < n) reach(static_cast<std::int64_t>(i + 1), s);
  }
  if (!any) return {};
  return out;
}

void VerifyCode(const AbcFile& abc, const MethodBody& body, const DecodedCode& code) {
  const std::size_t base = body.codeOffset;
  auto fail = [&](const std::string& fault, std::size_t at) { throw AbcError(fault, base + at); };
  auto failBranch = [&](const std::string& fault, std::size_t at) {
    throw AbcError(fault, base + at, 1021, kBranchTargetText);
  };

  const MethodInfo& m = abc.methods.at(body.method);
  const std::uint64_t needed = std::uint64_t{1} + m.paramTypes.size() +
      ((m.Has(method_flag::kNeedRest) || m.Has(method_flag::kNeedArguments)) ? 1 : 0);
  if (body.localCount < needed)
    throw AbcError("method " + std::to_string(body.method) + " has " + std::to_string(body.localCount) +
                       " locals for " + std::to_string(needed) + " arguments",
                   base);
  if (code.instructions.empty()) fail("method " + std::to_string(body.method) + " has no code", 0);

  auto onBoundary = [&](std::uint32_t target, const Instruction& from) {
    if (code.IndexAt(target) < 0)
      failBranch(std::string(from.Info().name) + " target " + std::to_string(target) +
               " is inside an instruction",
           from.offset);
  };
  // A branch back (to its own start or before) must land where the
  // verifier, going down the code, already holds a state: on a label, on
  // the target of a branch from before it, or on an exception handler.
  // Instructions come in order, so every branch from before a target has
  // been seen by the time a branch back reaches it.
  std::unordered_set<std::uint32_t> entered;
  for (const ExceptionInfo& e : body.exceptions) entered.insert(e.target);
  auto branch = [&](std::uint32_t target, const Instruction& from) {
    onBoundary(target, from);
    if (target > from.offset) {
      entered.insert(target);
      return;
    }
    if (entered.count(target)) return;
    const std::int64_t at = code.IndexAt(target);
    if (at >= 0 && code.instructions[static_cast<std::size_t>(at)].code == Code(Op::kLabel)) return;
    failBranch(std::string(from.Info().name) + " goes back to " + std::to_string(target) + ", which is no label",
               from.offset);
  };
  for (const Instruction& in : code.instructions) {
    const OpcodeInfo& op = in.Info();
    // Only a method flagged for it may set the default XML namespace.
    if ((in.code == Code(Op::kDxns) || in.code == Code(Op::kDxnsLate)) && !m.Has(method_flag::kSetDxns))
      throw AbcError(std::string(op.name) + " in a method without the flag to set the default XML namespace",
                     base + in.offset, 1015, "Method %M cannot set default xml namespace");
    if (op.flags & op_flag::kSwitch) {
      branch(in.args[0], in);
      for (std::uint32_t i = 0; i < in.args[1]; ++i) branch(code.switchTargets[in.args[2] + i], in);
      continue;
    }
    for (int i = 0; i < op.OperandCount(); ++i) {
      const auto kind = op.operands[static_cast<std::size_t>(i)];
      const std::uint32_t a = in.args[static_cast<std::size_t>(i)];
      if (kind == Operand::kBranch) branch(a, in);
      if (kind == Operand::kRegister && a >= body.localCount)
        fail(std::string(op.name) + " register " + std::to_string(a) + " beyond the " +
                 std::to_string(body.localCount) + " locals",
             in.offset);
    }
    // getlocal_N / setlocal_N carry their register in the code.
    if (in.code >= Code(Op::kGetLocal0) && in.code <= Code(Op::kSetLocal3) && (in.code & 3u) >= body.localCount)
      fail(std::string(op.name) + " beyond the " + std::to_string(body.localCount) + " locals", in.offset);
  }
  // A range that holds code that can throw needs its handler decoded; the
  // range itself may start or end inside an instruction, as Flash allows.
  for (const ExceptionInfo& e : body.exceptions) {
    auto at = std::lower_bound(code.instructions.begin(), code.instructions.end(), e.from,
                               [](const Instruction& i, std::uint32_t o) { return i.offset < o; });
    bool holdsCode = false;
    for (; at != code.instructions.end() && at->offset < e.to && !holdsCode; ++at) holdsCode = !CannotThrow(at->code);
    if (holdsCode && code.IndexAt(e.target) < 0)
      fail("exception handler " + std::to_string(e.target) + " is not an instruction", e.target);
  }
}

}  // namespace quarvel::avm2
