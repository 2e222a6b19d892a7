#include "player/video/flv_video_decoder.h"

#include "player/video/video_error.h"

namespace quarvel::player::video {

FlvVideoDecoder::FlvVideoDecoder(const FlvFile& file) : file_(file) {
  for (std::size_t i = 0; i < file.tags.size(); ++i) {
    const FlvTag& t = file.tags[i];
    if (t.type != FlvTagType::kVideo || t.video.frameType == 5) continue;
    if (codec_ == VideoCodec::kNone) codec_ = t.video.codec;
    // A stream keeps its first codec; tags of another are not ours to decode.
    if (t.video.codec != codec_) continue;
    if (codec_ == VideoCodec::kH264 && t.video.avcPacketType != 1) {
      if (t.video.avcPacketType == 0) frames_.push_back(i);  // configuration changes ride along in order
      continue;
    }
    frames_.push_back(i);
  }
  if (codec_ == VideoCodec::kNone) throw VideoError("FLV file has no video");
  if (!VideoDecoder::Available(codec_)) throw VideoError(CodecName(codec_) + ": libavcodec has no decoder for it");
  Open(ConfigFor(0));
}

std::vector<std::uint8_t> FlvVideoDecoder::ConfigFor(std::size_t index) const {
  // The configuration in force at a frame: the last one before it, else the first of the file.
  std::vector<std::uint8_t> config;
  auto from = [&](const FlvVideo& v) -> std::optional<std::vector<std::uint8_t>> {
    if (codec_ == VideoCodec::kH264 && v.avcPacketType == 0) return std::vector<std::uint8_t>(v.data.begin(), v.data.end());
    if (codec_ == VideoCodec::kVp6 || codec_ == VideoCodec::kVp6Alpha) return std::vector<std::uint8_t>{v.adjustment};
    return std::nullopt;
  };
  for (std::size_t i = index + 1; i-- > 0;) {
    if (i < frames_.size()) {
      if (auto c = from(file_.tags[frames_[i]].video)) return *c;
    }
  }
  for (std::size_t i : frames_) {
    if (auto c = from(file_.tags[i].video)) return *c;
  }
  return config;
}

void FlvVideoDecoder::Open(std::vector<std::uint8_t> extradata) {
  VideoDecoder::Options o;
  o.codec = codec_;
  o.extradata = extradata;
  config_ = std::move(extradata);
  decoder_.emplace(o);
}

bool FlvVideoDecoder::Feed(std::size_t index) {
  const FlvTag& t = file_.tags[frames_[index]];
  const FlvVideo& v = t.video;
  if (codec_ == VideoCodec::kH264 && v.avcPacketType == 0) {
    std::vector<std::uint8_t> config(v.data.begin(), v.data.end());
    if (config != config_) {
      decoder_->Flush();
      // Pictures still queued in the old decoder are lost with it; a new
      // configuration comes with a key frame, as writers put it.
      Open(std::move(config));
    }
    return true;
  }
  const std::int64_t pts = std::int64_t{t.timestamp} + v.compositionTime;
  if (decoder_->Decode(v.data, v.Key(), pts) == DecodeStatus::kDamaged && problems_.size() < kMaxFlvProblems) {
    problems_.push_back("video at " + std::to_string(t.timestamp) + " ms (byte offset " + std::to_string(t.offset) +
                        "): " + decoder_->LastError());
  }
  return true;
}

bool FlvVideoDecoder::Next() {
  while (!decoder_->NextPicture()) {
    if (next_ < frames_.size()) {
      Feed(next_++);
    } else if (!flushed_) {
      flushed_ = true;
      decoder_->Flush();
    } else {
      return false;
    }
  }
  return true;
}

std::uint32_t FlvVideoDecoder::SeekToKey(std::uint32_t ms) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < frames_.size(); ++i) {
    const FlvTag& t = file_.tags[frames_[i]];
    if (t.timestamp > ms) break;
    const bool picture = !(codec_ == VideoCodec::kH264 && t.video.avcPacketType == 0);
    if (picture && t.video.Key()) start = i;
  }
  // Begin at the configuration in force there, with no pictures queued.
  Open(ConfigFor(start));
  next_ = start;
  flushed_ = false;
  return frames_.empty() ? 0 : file_.tags[frames_[start]].timestamp;
}

}  // namespace quarvel::player::video
