#pragma once
// The picture of an embedded video stream at a frame number (the ratio of
// the placed video): frames decode in order, and a jump decodes forward from
// the last key frame at or before the frame asked for.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "player/video/video_decoder.h"
#include "player/video/video_stream.h"

namespace quarvel::player::video {

class EmbeddedVideo {
 public:
  // Borrows the stream, which must outlive this object. Throws VideoError
  // when the codec cannot be decoded here.
  explicit EmbeddedVideo(const VideoStreamDef& stream);

  struct SeekResult {
    DecodeStatus status = DecodeStatus::kOk;
    std::string message;  // the first damaged frame and why, for the debug log
    int decoded = 0;      // frames sent to the decoder for this seek
  };
  // Brings the picture to frame `number`. A number with no frame shows the
  // frame before it; a damaged frame leaves the last good picture.
  SeekResult Seek(std::uint16_t number);

  const Picture& Current() const { return decoder_.Current(); }
  bool HasPicture() const { return decoder_.HasPicture(); }
  // The frame number last decoded into the picture; nullopt before any.
  std::optional<std::uint16_t> Position() const { return position_; }
  const VideoStreamDef& Stream() const { return stream_; }

 private:
  static VideoDecoder::Options OptionsFor(const VideoStreamDef& stream);
  bool KeyBetween(std::uint16_t after, std::uint16_t upTo) const;
  void DecodeOne(std::uint16_t number, std::span<const std::uint8_t> data, SeekResult& result);

  const VideoStreamDef& stream_;
  FrameLayout layout_;
  VideoDecoder decoder_;
  std::optional<std::uint16_t> position_;
};

}  // namespace quarvel::player::video
