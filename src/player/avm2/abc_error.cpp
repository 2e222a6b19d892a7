#include "player/avm2/abc_error.h"

#include <utility>

namespace quarvel::avm2 {

AbcError::AbcError(std::string fault, std::size_t offset)
    : std::runtime_error(fault + " at byte " + std::to_string(offset)),
      fault_(std::move(fault)),
      offset_(offset) {}

AbcError::AbcError(std::string fault, std::size_t offset, int flashId, std::string flashMessage)
    : AbcError(std::move(fault), offset) {
  flashId_ = flashId;
  flashMessage_ = std::move(flashMessage);
}

}  // namespace quarvel::avm2
