#pragma once
// The table of ActionScript 3 instructions: code, name, operands and how
// each one moves control. The decoder and the test assembler both read it.

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
inline constexpr std::uint8_t kJump = 0x01;         // always goes to its target
inline constexpr std::uint8_t kConditional = 0x02;  // goes to its target or falls through
inline constexpr std::uint8_t kSwitch = 0x04;       // lookupswitch
inline constexpr std::uint8_t kEnds = 0x08;         // return or throw: no next instruction
}  // namespace op_flag

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
