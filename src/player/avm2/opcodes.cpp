#include "player/avm2/opcodes.h"

#include <algorithm>

namespace quarvel::avm2 {
namespace {

using enum Operand;

constexpr OpcodeInfo kOpcodes[] = {
#define QUARVEL_AVM2_ENTRY(code, Name, name, flow, ...) {code, name, {__VA_ARGS__}, op_flag::k##flow},
    QUARVEL_AVM2_OPCODES(QUARVEL_AVM2_ENTRY)
#undef QUARVEL_AVM2_ENTRY
};

struct ByCode {
  std::array<const OpcodeInfo*, 256> table{};
  ByCode() {
    for (const auto& op : kOpcodes) table[op.code] = &op;
  }
};

}  // namespace

const OpcodeInfo* FindOpcode(std::uint8_t code) {
  static const ByCode byCode;
  return byCode.table[code];
}

const OpcodeInfo* FindOpcode(std::string_view name) {
  const auto it = std::find_if(std::begin(kOpcodes), std::end(kOpcodes),
                               [&](const OpcodeInfo& op) { return op.name == name; });
  return it == std::end(kOpcodes) ? nullptr : &*it;
}

std::span<const OpcodeInfo> AllOpcodes() { return kOpcodes; }

}  // namespace quarvel::avm2
