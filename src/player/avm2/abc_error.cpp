#include "player/avm2/abc_error.h"

namespace quarvel::avm2 {

AbcError::AbcError(std::string fault, std::size_t offset)
    : std::runtime_error(fault + " at byte " + std::to_string(offset)),
      fault_(std::move(fault)),
      offset_(offset) {}

}  // namespace quarvel::avm2
