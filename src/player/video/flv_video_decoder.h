#pragma once
// The video of an FLV file, decoded picture by picture in presentation
// order, with seeking to key frames (as NetStream.seek lands on them).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "player/video/flv_reader.h"
#include "player/video/video_decoder.h"

namespace quarvel::player::video {

class FlvVideoDecoder {
 public:
  // Borrows the file, which must outlive this object. Throws VideoError
  // when it has no video tag or its codec cannot be decoded here.
  explicit FlvVideoDecoder(const FlvFile& file);

  // Shows the next picture; false at the end of the video.
  bool Next();
  const Picture& Current() const { return decoder_->Current(); }
  // Presentation time of the shown picture, milliseconds.
  std::int64_t CurrentTime() const { return decoder_->CurrentPts(); }
  bool HasPicture() const { return decoder_->HasPicture(); }

  // Moves to the last key frame at or before `ms` (the first one when none
  // is) and returns its time; Next() then gives pictures from there.
  std::uint32_t SeekToKey(std::uint32_t ms);

  VideoCodec Codec() const { return codec_; }
  // Frames that did not decode, each named by time and cause (capped).
  const std::vector<std::string>& Problems() const { return problems_; }
  std::uint64_t PacketsDecoded() const { return decoder_->PacketsDecoded(); }

 private:
  bool Feed(std::size_t index);
  std::vector<std::uint8_t> ConfigFor(std::size_t index) const;
  void Open(std::vector<std::uint8_t> extradata);

  const FlvFile& file_;
  VideoCodec codec_ = VideoCodec::kNone;
  std::vector<std::size_t> frames_;  // tag indices of the picture-carrying video tags
  std::size_t next_ = 0;             // into frames_
  bool flushed_ = false;
  std::vector<std::uint8_t> config_;  // extradata the decoder was opened with
  std::optional<VideoDecoder> decoder_;
  std::vector<std::string> problems_;
};

}  // namespace quarvel::player::video
