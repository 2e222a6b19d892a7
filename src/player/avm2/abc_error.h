#pragma once
// Typed error of the ABC reader and the code decoder: names the fault and
// the byte offset (in the block, or in the movie when the block's place is
// known) where it was found.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace quarvel::avm2 {

class AbcError : public std::runtime_error {
 public:
  AbcError(std::string fault, std::size_t offset);
  // A fault Flash's verifier reports by number: `flashMessage` may name the
  // method by "%M", which the machine fills in.
  AbcError(std::string fault, std::size_t offset, int flashId, std::string flashMessage);

  const std::string& Fault() const { return fault_; }
  std::size_t Offset() const { return offset_; }
  int FlashId() const { return flashId_; }
  const std::string& FlashMessage() const { return flashMessage_; }

 private:
  std::string fault_;
  std::size_t offset_ = 0;
  int flashId_ = 0;
  std::string flashMessage_;
};

}  // namespace quarvel::avm2
