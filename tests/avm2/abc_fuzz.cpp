// libFuzzer entry for the ActionScript 3 reader: any bytes as an ABC block,
// then every method body decoded and verified. Only AbcError may leave.
// Build with clang (-DQUARVEL_FUZZ=ON) and run with abc_fuzz CORPUS_DIR;
// QUARVEL_ABC_SEEDS=DIR abc_corpus_test writes the corpus movies' blocks
// as seeds.
#include <cstddef>
#include <cstdint>
#include <span>

#include "player/avm2/code_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarvel::avm2;
  try {
    const AbcFile f = ParseAbc(std::span<const std::uint8_t>(data, size));
    for (const MethodBody& b : f.bodies) {
      try {
        const DecodedCode code = DecodeCode(f, b);
        VerifyCode(f, b, code);
        // Touch what the machine will: names of every multiname.
        for (const auto& in : code.instructions)
          if (in.Info().operands[0] == Operand::kMultiname) (void)f.NameOf(in.args[0]);
      } catch (const AbcError&) {
      }
    }
  } catch (const AbcError&) {
  }
  return 0;
}
