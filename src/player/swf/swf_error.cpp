#include "player/swf/swf_error.h"

#include <utility>

namespace quarvel::swf {
namespace {

std::string Compose(const std::string& field, std::size_t offset, const std::string& reason) {
  return reason + " (field " + field + " at byte offset " + std::to_string(offset) + ")";
}

}  // namespace

SwfError::SwfError(std::string field, std::size_t offset, std::string reason)
    : std::runtime_error(Compose(field, offset, reason)),
      field_(std::move(field)),
      reason_(std::move(reason)),
      offset_(offset),
      has_offset_(true) {}

SwfError::SwfError(std::string reason) : std::runtime_error(reason), reason_(std::move(reason)) {}

SwfError SwfError::InFile(const std::string& file) const {
  if (has_offset_) return SwfError(field_, offset_, file + ": " + reason_);
  return SwfError(file + ": " + reason_);
}

}  // namespace quarvel::swf
