#include "player/video/video_error.h"

#include <utility>

namespace quarvel::player::video {

VideoError::VideoError(std::string field, std::size_t offset, std::string reason)
    : std::runtime_error(reason + " (field " + field + " at byte offset " + std::to_string(offset) + ")"),
      field_(std::move(field)),
      reason_(std::move(reason)),
      offset_(offset),
      has_offset_(true) {}

VideoError::VideoError(std::string reason) : std::runtime_error(reason), reason_(std::move(reason)) {}

}  // namespace quarvel::player::video
