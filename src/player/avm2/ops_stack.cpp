// Instructions on the operand stack and the registers: constants, stack
// shuffles, locals, and those that only carry debugging information.
#include <cstdint>
#include <limits>
#include <utility>

#include "player/avm2/interp.h"

namespace quarvel::avm2 {

namespace {
// Wrapping int arithmetic, as the _i instructions do it.
Value IntPlus(Machine& vm, const Value& v, std::uint32_t d) {
  return Value::Int(static_cast<std::int32_t>(static_cast<std::uint32_t>(vm.ToInt(v)) + d));
}
}  // namespace

// ---- no effect

bool Interp::OpBkpt(Frame&, const Instruction&) { return true; }
bool Interp::OpNop(Frame&, const Instruction&) { return true; }
bool Interp::OpLabel(Frame&, const Instruction&) { return true; }
bool Interp::OpDebug(Frame&, const Instruction&) { return true; }
bool Interp::OpDebugLine(Frame&, const Instruction&) { return true; }
bool Interp::OpDebugFile(Frame&, const Instruction&) { return true; }
bool Interp::OpBkptLine(Frame&, const Instruction&) { return true; }
bool Interp::OpTimestamp(Frame&, const Instruction&) { return true; }

// ---- constants

bool Interp::OpPushNull(Frame& f, const Instruction&) {
  f.Push(Value::Null());
  return true;
}
bool Interp::OpPushUndefined(Frame& f, const Instruction&) {
  f.Push(Value());
  return true;
}
bool Interp::OpPushByte(Frame& f, const Instruction& in) {
  f.Push(Value::Int(in.Signed(0)));
  return true;
}
bool Interp::OpPushShort(Frame& f, const Instruction& in) {
  f.Push(Value::Int(static_cast<std::int16_t>(in.args[0] & 0xFFFF)));
  return true;
}
bool Interp::OpPushTrue(Frame& f, const Instruction&) {
  f.Push(Value::Bool(true));
  return true;
}
bool Interp::OpPushFalse(Frame& f, const Instruction&) {
  f.Push(Value::Bool(false));
  return true;
}
bool Interp::OpPushNaN(Frame& f, const Instruction&) {
  f.Push(Value::Number(std::numeric_limits<double>::quiet_NaN()));
  return true;
}
bool Interp::OpPushString(Frame& f, const Instruction& in) {
  f.Push(Value::Str(f.vm.PoolString(f.u, in.args[0])));
  return true;
}
bool Interp::OpPushInt(Frame& f, const Instruction& in) {
  f.Push(Value::Int(f.pool.ints[in.args[0]]));
  return true;
}
bool Interp::OpPushUint(Frame& f, const Instruction& in) {
  f.Push(Value::Number(f.pool.uints[in.args[0]]));
  return true;
}
bool Interp::OpPushDouble(Frame& f, const Instruction& in) {
  f.Push(Value::Number(f.pool.doubles[in.args[0]]));
  return true;
}

// ---- the stack

bool Interp::OpPop(Frame& f, const Instruction&) {
  f.Need(1);
  --f.sp;
  return true;
}
bool Interp::OpDup(Frame& f, const Instruction&) {
  f.Need(1);
  const Value t = f.Top();
  f.Push(t);
  return true;
}
bool Interp::OpSwap(Frame& f, const Instruction&) {
  f.Need(2);
  std::swap(f.sp[-1], f.sp[-2]);
  return true;
}

// ---- registers

bool Interp::OpGetLocal(Frame& f, const Instruction& in) {
  f.Push(f.locals[in.args[0]]);
  return true;
}
bool Interp::OpSetLocal(Frame& f, const Instruction& in) {
  f.locals[in.args[0]] = f.Pop();
  return true;
}
bool Interp::OpKill(Frame& f, const Instruction& in) {
  f.locals[in.args[0]] = Value();
  return true;
}

namespace {
// getlocal_N and setlocal_N: the register is in the code.
template <std::size_t N>
bool GetLocalN(Frame& f) {
  f.Push(f.locals[N]);
  return true;
}
template <std::size_t N>
bool SetLocalN(Frame& f) {
  f.locals[N] = f.Pop();
  return true;
}
}  // namespace

bool Interp::OpGetLocal0(Frame& f, const Instruction&) { return GetLocalN<0>(f); }
bool Interp::OpGetLocal1(Frame& f, const Instruction&) { return GetLocalN<1>(f); }
bool Interp::OpGetLocal2(Frame& f, const Instruction&) { return GetLocalN<2>(f); }
bool Interp::OpGetLocal3(Frame& f, const Instruction&) { return GetLocalN<3>(f); }
bool Interp::OpSetLocal0(Frame& f, const Instruction&) { return SetLocalN<0>(f); }
bool Interp::OpSetLocal1(Frame& f, const Instruction&) { return SetLocalN<1>(f); }
bool Interp::OpSetLocal2(Frame& f, const Instruction&) { return SetLocalN<2>(f); }
bool Interp::OpSetLocal3(Frame& f, const Instruction&) { return SetLocalN<3>(f); }

bool Interp::OpIncLocal(Frame& f, const Instruction& in) {
  Value& r = f.locals[in.args[0]];
  r = Value::Number(f.vm.ToNumber(r) + 1);
  return true;
}
bool Interp::OpDecLocal(Frame& f, const Instruction& in) {
  Value& r = f.locals[in.args[0]];
  r = Value::Number(f.vm.ToNumber(r) - 1);
  return true;
}
bool Interp::OpIncLocalI(Frame& f, const Instruction& in) {
  Value& r = f.locals[in.args[0]];
  r = IntPlus(f.vm, r, 1u);
  return true;
}
bool Interp::OpDecLocalI(Frame& f, const Instruction& in) {
  Value& r = f.locals[in.args[0]];
  r = IntPlus(f.vm, r, ~0u);
  return true;
}

}  // namespace quarvel::avm2
