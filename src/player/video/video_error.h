#pragma once
// Typed error of the video readers and decoders: names the fault and, for
// container data, the field and byte offset where it lies.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace quarvel::player::video {

class VideoError : public std::runtime_error {
 public:
  // Reading `field` at `offset` failed; `reason` says why.
  VideoError(std::string field, std::size_t offset, std::string reason);
  // A fault not tied to a place in the data (codec missing, decoder setup).
  explicit VideoError(std::string reason);

  const std::string& Field() const { return field_; }
  std::size_t Offset() const { return offset_; }
  bool HasOffset() const { return has_offset_; }
  const std::string& Reason() const { return reason_; }

 private:
  std::string field_;
  std::string reason_;
  std::size_t offset_ = 0;
  bool has_offset_ = false;
};

}  // namespace quarvel::player::video
