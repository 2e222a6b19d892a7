#pragma once
// Decodes a method body's code into instructions with their operands, and
// the verification passes over the result: the checks on control flow,
// registers and the body's sizes that the machine relies on, and the
// operand stack's depth; no type analysis.

#include <array>
#include <cstdint>
#include <vector>

#include "player/avm2/abc_file.h"
#include "player/avm2/opcodes.h"

namespace quarvel::avm2 {

struct Instruction {
  std::uint32_t offset = 0;  // byte offset in the body's code
  std::uint8_t code = 0;
  // Operands in the table's order. A branch holds its target's byte offset;
  // pushbyte the signed byte, sign-extended. lookupswitch: [0] the default
  // target, [1] the number of case targets, [2] the first of them in
  // DecodedCode::switchTargets.
  std::array<std::uint32_t, 4> args{};

  const OpcodeInfo& Info() const { return *FindOpcode(code); }
  std::int32_t Signed(std::size_t i) const { return static_cast<std::int32_t>(args[i]); }
};

struct DecodedCode {
  std::vector<Instruction> instructions;  // the reachable ones, in byte order
  std::vector<std::uint32_t> switchTargets;

  // The instruction that starts at a byte offset, or -1.
  std::int64_t IndexAt(std::uint32_t offset) const;
};

// Decodes the code that can run, as Flash verifies it: from the start,
// along branches, switch cases and fall-through, and from the handler of
// every exception range that holds decoded code; bytes nothing reaches may
// hold anything. Pool and class indices are checked against abc, exception
// indices against the body; a branch must land on the start of an
// instruction and control must not run off the end of the code. Throws
// AbcError with the offset in the terms of body.codeOffset.
DecodedCode DecodeCode(const AbcFile& abc, const MethodBody& body);

// The checks on a decoded body that need the method: registers within the
// body's locals, locals that hold the arguments, and every branch, switch
// case and live exception handler on a decoded instruction. Throws AbcError.
void VerifyCode(const AbcFile& abc, const MethodBody& body, const DecodedCode& code);

// The operand stack's depth along every path, as Flash's verifier follows
// it: each instruction's needs against what is there (1024) and the body's
// max_stack (1023), and one depth wherever paths meet (1030). A handler is
// entered, with the thrown value alone, only from a range holding an
// instruction that can throw. Instructions are taken lowest offset first,
// so a fault names the depths in Flash's order. Throws AbcError.
void VerifyStack(const AbcFile& abc, const MethodBody& body, const DecodedCode& code);

// Which instructions of getproperty, setproperty and initproperty take as
// their object register 0 as the method was entered, on every path: Flash's
// verifier knows that value's type (the method's class) and fixes the
// name's binding there. Empty when none does. Run after VerifyStack.
std::vector<bool> ReceiverIsRegister0(const AbcFile& abc, const MethodBody& body, const DecodedCode& code);

}  // namespace quarvel::avm2
