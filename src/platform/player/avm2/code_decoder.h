#pragma once
// Decodes a method body's code into instructions with their operands, and
// a light verification pass over the result: the checks on control flow,
// registers and the body's sizes that the machine relies on, without the
// type and stack-depth analysis of a full verifier.

#include <cstdint>
#include <vector>

#include "platform/player/avm2/abc_file.h"
#include "platform/player/avm2/opcodes.h"

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
  std::vector<Instruction> instructions;  // in byte order
  std::vector<std::uint32_t> switchTargets;

  // The instruction that starts at a byte offset, or -1.
  std::int64_t IndexAt(std::uint32_t offset) const;
};

// Decodes the whole code, byte after byte. Pool and class indices are
// checked against abc, exception indices against the body, branch targets
// against the code's length. Throws AbcError with the offset in the terms
// of body.codeOffset.
DecodedCode DecodeCode(const AbcFile& abc, const MethodBody& body);

// Checks that every branch, switch case and exception handler lands on an
// instruction, that exception ranges start at one, that registers are
// within the body's locals, that the locals hold the parameters and that
// control cannot run off the end of the code. Throws AbcError.
void VerifyCode(const AbcFile& abc, const MethodBody& body, const DecodedCode& code);

}  // namespace quarvel::avm2
