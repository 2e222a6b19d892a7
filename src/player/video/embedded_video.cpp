#include "player/video/embedded_video.h"

namespace quarvel::player::video {

VideoDecoder::Options EmbeddedVideo::OptionsFor(const VideoStreamDef& stream) {
  VideoDecoder::Options o;
  o.codec = stream.codec;
  o.width = stream.width;
  o.height = stream.height;
  return o;
}

EmbeddedVideo::EmbeddedVideo(const VideoStreamDef& stream)
    : stream_(stream), layout_(DetectLayout(stream)), decoder_(OptionsFor(stream)) {}

bool EmbeddedVideo::KeyBetween(std::uint16_t after, std::uint16_t upTo) const {
  for (auto it = stream_.frames.upper_bound(after); it != stream_.frames.end() && it->first <= upTo; ++it) {
    if (SplitFrame(stream_, layout_, it->second).key) return true;
  }
  return false;
}

void EmbeddedVideo::DecodeOne(std::uint16_t number, std::span<const std::uint8_t> data, SeekResult& result) {
  const FramePacket p = SplitFrame(stream_, layout_, data);
  ++result.decoded;
  position_ = number;
  if (decoder_.Decode(p.payload, p.key) == DecodeStatus::kDamaged && result.status == DecodeStatus::kOk) {
    result.status = DecodeStatus::kDamaged;
    result.message = "video stream " + std::to_string(stream_.id) + " frame " + std::to_string(number) + ": " +
                     decoder_.LastError();
  }
  // Pictures of the frames passed over are never converted.
  decoder_.LatestPicture();
}

EmbeddedVideo::SeekResult EmbeddedVideo::Seek(std::uint16_t number) {
  SeekResult result;
  const auto& frames = stream_.frames;
  auto target = frames.upper_bound(number);
  if (target == frames.begin()) return result;  // nothing at or before it
  --target;
  const std::uint16_t last = target->first;
  if (position_ && *position_ == last) return result;

  auto start = frames.end();
  if (position_ && *position_ < last && !KeyBetween(*position_, last)) {
    start = frames.upper_bound(*position_);  // carry on from the picture we have
  } else {
    // The last key frame at or before the target, else the stream's start.
    auto it = target;
    for (;;) {
      if (SplitFrame(stream_, layout_, it->second).key || it == frames.begin()) break;
      --it;
    }
    start = it;
    decoder_.Reset();
  }
  for (auto it = start; it != frames.end() && it->first <= last; ++it) DecodeOne(it->first, it->second, result);
  return result;
}

}  // namespace quarvel::player::video
