#pragma once
// Typed error of the SWF reader: names the field that could not be read and
// the byte offset (in the uncompressed movie) where it starts.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace quarvel::swf {

class SwfError : public std::runtime_error {
 public:
  // A read of `field` at `offset` failed; `reason` says why.
  SwfError(std::string field, std::size_t offset, std::string reason);
  // An error not tied to one field (container, inflate, file access).
  explicit SwfError(std::string reason);

  const std::string& Field() const { return field_; }
  std::size_t Offset() const { return offset_; }
  bool HasOffset() const { return has_offset_; }
  const std::string& Reason() const { return reason_; }

  // The same error with the file's name in front of the message.
  SwfError InFile(const std::string& file) const;

 private:
  std::string field_;
  std::string reason_;
  std::size_t offset_ = 0;
  bool has_offset_ = false;
};

}  // namespace quarvel::swf
