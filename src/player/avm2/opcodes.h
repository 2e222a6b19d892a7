#pragma once
// The table of ActionScript 3 instructions: code, name, operands and how
// each one moves control. The decoder, the interpreter and the test
// assembler all read it.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace quarvel::avm2 {

enum class Operand : std::uint8_t {
  kNone,
  kU8,           // unsigned byte (getscopeobject, debug's kind and register)
  kS8,           // signed byte (pushbyte)
  kU30,          // a number (pushshort keeps its raw u30; the machine takes its low 16 bits)
  kArgCount,
  kRegister,     // local register
  kSlot,         // slot id, from 1
  kDispId,       // dispatch id
  kLine,         // source line
  kMultiname,    // pool index, not 0
  kString,       // pool index, not 0
  kStringOrNone, // pool index, 0 allowed (debug's register name)
  kInt,
  kUInt,
  kDouble,
  kNamespace,
  kMethod,       // method index
  kClass,        // class index
  kException,    // index into the body's exception table
  kBranch,       // s24 from the end of the instruction
  kSwitch,       // lookupswitch: s24 default, u30 case count - 1, s24 cases, from the instruction's start
};

namespace op_flag {
inline constexpr std::uint8_t kNone = 0;
inline constexpr std::uint8_t kJump = 0x01;         // always goes to its target
inline constexpr std::uint8_t kConditional = 0x02;  // goes to its target or falls through
inline constexpr std::uint8_t kSwitch = 0x04;       // lookupswitch
inline constexpr std::uint8_t kEnds = 0x08;         // return or throw: no next instruction
}  // namespace op_flag

// Every instruction the machine knows, once:
// X(code, Name, "name", flow, operands...)
// with flow one of op_flag's names (None, Jump, Conditional, Switch, Ends)
// and the operands Operand's values in their order. The enum Op, the
// decoder's table (AllOpcodes) and the interpreter's handlers
// (Interp::Op<Name>, interp.h) are made from it, so a code runs exactly
// when it is listed.
#define QUARVEL_AVM2_OPCODES(X) \
  X(0x01, Bkpt, "bkpt", None)                                          \
  X(0x02, Nop, "nop", None)                                            \
  X(0x03, Throw, "throw", Ends)                                        \
  X(0x04, GetSuper, "getsuper", None, kMultiname)                      \
  X(0x05, SetSuper, "setsuper", None, kMultiname)                      \
  X(0x06, Dxns, "dxns", None, kString)                                 \
  X(0x07, DxnsLate, "dxnslate", None)                                  \
  X(0x08, Kill, "kill", None, kRegister)                               \
  X(0x09, Label, "label", None)                                        \
  X(0x0C, IfNlt, "ifnlt", Conditional, kBranch)                        \
  X(0x0D, IfNle, "ifnle", Conditional, kBranch)                        \
  X(0x0E, IfNgt, "ifngt", Conditional, kBranch)                        \
  X(0x0F, IfNge, "ifnge", Conditional, kBranch)                        \
  X(0x10, Jump, "jump", Jump, kBranch)                                 \
  X(0x11, IfTrue, "iftrue", Conditional, kBranch)                      \
  X(0x12, IfFalse, "iffalse", Conditional, kBranch)                    \
  X(0x13, IfEq, "ifeq", Conditional, kBranch)                          \
  X(0x14, IfNe, "ifne", Conditional, kBranch)                          \
  X(0x15, IfLt, "iflt", Conditional, kBranch)                          \
  X(0x16, IfLe, "ifle", Conditional, kBranch)                          \
  X(0x17, IfGt, "ifgt", Conditional, kBranch)                          \
  X(0x18, IfGe, "ifge", Conditional, kBranch)                          \
  X(0x19, IfStrictEq, "ifstricteq", Conditional, kBranch)              \
  X(0x1A, IfStrictNe, "ifstrictne", Conditional, kBranch)              \
  X(0x1B, LookupSwitch, "lookupswitch", Switch, kSwitch)               \
  X(0x1C, PushWith, "pushwith", None)                                  \
  X(0x1D, PopScope, "popscope", None)                                  \
  X(0x1E, NextName, "nextname", None)                                  \
  X(0x1F, HasNext, "hasnext", None)                                    \
  X(0x20, PushNull, "pushnull", None)                                  \
  X(0x21, PushUndefined, "pushundefined", None)                        \
  X(0x23, NextValue, "nextvalue", None)                                \
  X(0x24, PushByte, "pushbyte", None, kS8)                             \
  X(0x25, PushShort, "pushshort", None, kU30)                          \
  X(0x26, PushTrue, "pushtrue", None)                                  \
  X(0x27, PushFalse, "pushfalse", None)                                \
  X(0x28, PushNaN, "pushnan", None)                                    \
  X(0x29, Pop, "pop", None)                                            \
  X(0x2A, Dup, "dup", None)                                            \
  X(0x2B, Swap, "swap", None)                                          \
  X(0x2C, PushString, "pushstring", None, kString)                     \
  X(0x2D, PushInt, "pushint", None, kInt)                              \
  X(0x2E, PushUint, "pushuint", None, kUInt)                           \
  X(0x2F, PushDouble, "pushdouble", None, kDouble)                     \
  X(0x30, PushScope, "pushscope", None)                                \
  X(0x31, PushNamespace, "pushnamespace", None, kNamespace)            \
  X(0x32, HasNext2, "hasnext2", None, kRegister, kRegister)            \
  X(0x35, Li8, "li8", None)                                            \
  X(0x36, Li16, "li16", None)                                          \
  X(0x37, Li32, "li32", None)                                          \
  X(0x38, Lf32, "lf32", None)                                          \
  X(0x39, Lf64, "lf64", None)                                          \
  X(0x3A, Si8, "si8", None)                                            \
  X(0x3B, Si16, "si16", None)                                          \
  X(0x3C, Si32, "si32", None)                                          \
  X(0x3D, Sf32, "sf32", None)                                          \
  X(0x3E, Sf64, "sf64", None)                                          \
  X(0x40, NewFunction, "newfunction", None, kMethod)                   \
  X(0x41, Call, "call", None, kArgCount)                               \
  X(0x42, Construct, "construct", None, kArgCount)                     \
  X(0x43, CallMethod, "callmethod", None, kDispId, kArgCount)          \
  X(0x44, CallStatic, "callstatic", None, kMethod, kArgCount)          \
  X(0x45, CallSuper, "callsuper", None, kMultiname, kArgCount)         \
  X(0x46, CallProperty, "callproperty", None, kMultiname, kArgCount)   \
  X(0x47, ReturnVoid, "returnvoid", Ends)                              \
  X(0x48, ReturnValue, "returnvalue", Ends)                            \
  X(0x49, ConstructSuper, "constructsuper", None, kArgCount)           \
  X(0x4A, ConstructProp, "constructprop", None, kMultiname, kArgCount) \
  X(0x4C, CallPropLex, "callproplex", None, kMultiname, kArgCount)     \
  X(0x4E, CallSuperVoid, "callsupervoid", None, kMultiname, kArgCount) \
  X(0x4F, CallPropVoid, "callpropvoid", None, kMultiname, kArgCount)   \
  X(0x50, Sxi1, "sxi1", None)                                          \
  X(0x51, Sxi8, "sxi8", None)                                          \
  X(0x52, Sxi16, "sxi16", None)                                        \
  X(0x53, ApplyType, "applytype", None, kArgCount)                     \
  X(0x55, NewObject, "newobject", None, kArgCount)                     \
  X(0x56, NewArray, "newarray", None, kArgCount)                       \
  X(0x57, NewActivation, "newactivation", None)                        \
  X(0x58, NewClass, "newclass", None, kClass)                          \
  X(0x59, GetDescendants, "getdescendants", None, kMultiname)          \
  X(0x5A, NewCatch, "newcatch", None, kException)                      \
  X(0x5D, FindPropStrict, "findpropstrict", None, kMultiname)          \
  X(0x5E, FindProperty, "findproperty", None, kMultiname)              \
  X(0x5F, FindDef, "finddef", None, kMultiname)                        \
  X(0x60, GetLex, "getlex", None, kMultiname)                          \
  X(0x61, SetProperty, "setproperty", None, kMultiname)                \
  X(0x62, GetLocal, "getlocal", None, kRegister)                       \
  X(0x63, SetLocal, "setlocal", None, kRegister)                       \
  X(0x64, GetGlobalScope, "getglobalscope", None)                      \
  X(0x65, GetScopeObject, "getscopeobject", None, kU8)                 \
  X(0x66, GetProperty, "getproperty", None, kMultiname)                \
  X(0x67, GetOuterScope, "getouterscope", None, kU30)                  \
  X(0x68, InitProperty, "initproperty", None, kMultiname)              \
  X(0x6A, DeleteProperty, "deleteproperty", None, kMultiname)          \
  X(0x6C, GetSlot, "getslot", None, kSlot)                             \
  X(0x6D, SetSlot, "setslot", None, kSlot)                             \
  X(0x6E, GetGlobalSlot, "getglobalslot", None, kSlot)                 \
  X(0x6F, SetGlobalSlot, "setglobalslot", None, kSlot)                 \
  X(0x70, ConvertS, "convert_s", None)                                 \
  X(0x71, EscXelem, "esc_xelem", None)                                 \
  X(0x72, EscXattr, "esc_xattr", None)                                 \
  X(0x73, ConvertI, "convert_i", None)                                 \
  X(0x74, ConvertU, "convert_u", None)                                 \
  X(0x75, ConvertD, "convert_d", None)                                 \
  X(0x76, ConvertB, "convert_b", None)                                 \
  X(0x77, ConvertO, "convert_o", None)                                 \
  X(0x78, CheckFilter, "checkfilter", None)                            \
  X(0x80, Coerce, "coerce", None, kMultiname)                          \
  X(0x81, CoerceB, "coerce_b", None)                                   \
  X(0x82, CoerceA, "coerce_a", None)                                   \
  X(0x83, CoerceI, "coerce_i", None)                                   \
  X(0x84, CoerceD, "coerce_d", None)                                   \
  X(0x85, CoerceS, "coerce_s", None)                                   \
  X(0x86, AsType, "astype", None, kMultiname)                          \
  X(0x87, AsTypeLate, "astypelate", None)                              \
  X(0x88, CoerceU, "coerce_u", None)                                   \
  X(0x89, CoerceO, "coerce_o", None)                                   \
  X(0x90, Negate, "negate", None)                                      \
  X(0x91, Increment, "increment", None)                                \
  X(0x92, IncLocal, "inclocal", None, kRegister)                       \
  X(0x93, Decrement, "decrement", None)                                \
  X(0x94, DecLocal, "declocal", None, kRegister)                       \
  X(0x95, TypeOf, "typeof", None)                                      \
  X(0x96, Not, "not", None)                                            \
  X(0x97, BitNot, "bitnot", None)                                      \
  X(0xA0, Add, "add", None)                                            \
  X(0xA1, Subtract, "subtract", None)                                  \
  X(0xA2, Multiply, "multiply", None)                                  \
  X(0xA3, Divide, "divide", None)                                      \
  X(0xA4, Modulo, "modulo", None)                                      \
  X(0xA5, LShift, "lshift", None)                                      \
  X(0xA6, RShift, "rshift", None)                                      \
  X(0xA7, URShift, "urshift", None)                                    \
  X(0xA8, BitAnd, "bitand", None)                                      \
  X(0xA9, BitOr, "bitor", None)                                        \
  X(0xAA, BitXor, "bitxor", None)                                      \
  X(0xAB, Equals, "equals", None)                                      \
  X(0xAC, StrictEquals, "strictequals", None)                          \
  X(0xAD, LessThan, "lessthan", None)                                  \
  X(0xAE, LessEquals, "lessequals", None)                              \
  X(0xAF, GreaterThan, "greaterthan", None)                            \
  X(0xB0, GreaterEquals, "greaterequals", None)                        \
  X(0xB1, InstanceOf, "instanceof", None)                              \
  X(0xB2, IsType, "istype", None, kMultiname)                          \
  X(0xB3, IsTypeLate, "istypelate", None)                              \
  X(0xB4, In, "in", None)                                              \
  X(0xC0, IncrementI, "increment_i", None)                             \
  X(0xC1, DecrementI, "decrement_i", None)                             \
  X(0xC2, IncLocalI, "inclocal_i", None, kRegister)                    \
  X(0xC3, DecLocalI, "declocal_i", None, kRegister)                    \
  X(0xC4, NegateI, "negate_i", None)                                   \
  X(0xC5, AddI, "add_i", None)                                         \
  X(0xC6, SubtractI, "subtract_i", None)                               \
  X(0xC7, MultiplyI, "multiply_i", None)                               \
  X(0xD0, GetLocal0, "getlocal_0", None)                               \
  X(0xD1, GetLocal1, "getlocal_1", None)                               \
  X(0xD2, GetLocal2, "getlocal_2", None)                               \
  X(0xD3, GetLocal3, "getlocal_3", None)                               \
  X(0xD4, SetLocal0, "setlocal_0", None)                               \
  X(0xD5, SetLocal1, "setlocal_1", None)                               \
  X(0xD6, SetLocal2, "setlocal_2", None)                               \
  X(0xD7, SetLocal3, "setlocal_3", None)                               \
  X(0xEF, Debug, "debug", None, kU8, kStringOrNone, kU8, kU30)         \
  X(0xF0, DebugLine, "debugline", None, kLine)                         \
  X(0xF1, DebugFile, "debugfile", None, kStringOrNone)                 \
  X(0xF2, BkptLine, "bkptline", None, kLine)                           \
  X(0xF3, Timestamp, "timestamp", None)

enum class Op : std::uint8_t {
#define QUARVEL_AVM2_ENUM(code, Name, ...) k##Name = code,
  QUARVEL_AVM2_OPCODES(QUARVEL_AVM2_ENUM)
#undef QUARVEL_AVM2_ENUM
};

constexpr std::uint8_t Code(Op op) { return static_cast<std::uint8_t>(op); }

struct OpcodeInfo {
  std::uint8_t code = 0;
  std::string_view name;
  std::array<Operand, 4> operands{};  // kNone after the last
  std::uint8_t flags = 0;

  int OperandCount() const {
    int n = 0;
    while (n < 4 && operands[static_cast<std::size_t>(n)] != Operand::kNone) ++n;
    return n;
  }
  // Control never falls through to the next instruction.
  bool EndsBlock() const { return (flags & (op_flag::kJump | op_flag::kSwitch | op_flag::kEnds)) != 0; }
};

// nullptr for a code no instruction has.
const OpcodeInfo* FindOpcode(std::uint8_t code);
const OpcodeInfo* FindOpcode(std::string_view name);
std::span<const OpcodeInfo> AllOpcodes();

}  // namespace quarvel::avm2
