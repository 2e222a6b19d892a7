#pragma once
// FLV files, as NetStream plays them: the header, then audio, video and
// script-data tags with their fields read. Tags borrow the file's bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "player/video/amf0.h"
#include "player/video/video_stream.h"

namespace quarvel::player::video {

enum class FlvTagType : std::uint8_t { kAudio = 8, kVideo = 9, kScript = 18 };

struct FlvVideo {
  VideoCodec codec = VideoCodec::kNone;
  // 1 key frame, 2 inter frame, 3 disposable inter frame, 4 generated key
  // frame, 5 video info or command frame.
  int frameType = 0;
  int avcPacketType = -1;          // H.264: 0 configuration record, 1 NAL units, 2 end of sequence
  std::int32_t compositionTime = 0;  // H.264: milliseconds after the tag's time
  std::uint8_t adjustment = 0;     // VP6: crop byte, right << 4 | bottom
  std::span<const std::uint8_t> data;  // what follows the fields above

  bool Key() const { return frameType == 1 || frameType == 4; }
};

struct FlvAudio {
  int format = 0;       // 0 PCM, 1 ADPCM, 2 MP3, 3 PCM little-endian, 4-6 Nellymoser, 10 AAC, 11 Speex, ...
  int rateCode = 0;     // 0 5.5 kHz, 1 11 kHz, 2 22 kHz, 3 44 kHz
  bool sixteenBit = false;
  bool stereo = false;
  int aacPacketType = -1;  // AAC: 0 AudioSpecificConfig, 1 raw frames
  std::span<const std::uint8_t> data;
};

struct FlvScript {
  std::string name;  // "onMetaData", "onCuePoint", ...
  AmfValue value;
};

struct FlvTag {
  FlvTagType type = FlvTagType::kScript;
  std::uint32_t timestamp = 0;  // milliseconds
  std::size_t offset = 0;       // of the tag header in the file
  FlvVideo video;               // for video tags
  FlvAudio audio;               // for audio tags
  FlvScript script;             // for script-data tags
};

struct FlvFile {
  std::uint8_t version = 0;
  bool hasAudio = false;  // as the header's flags say
  bool hasVideo = false;
  std::vector<FlvTag> tags;  // in file order
  // Tags skipped or data cut off, each naming the byte offset.
  std::vector<std::string> problems;
  bool truncated = false;  // the last tag runs past the end of the data

  // The value of the first onMetaData script tag; nullptr when none.
  const AmfValue* Metadata() const;
};

inline constexpr std::size_t kMaxFlvProblems = 100;

// Throws VideoError only when the header is not an FLV header; damaged or
// unknown tags are skipped and named in problems, and a file cut off
// keeps the tags before the cut.
FlvFile ReadFlv(std::span<const std::uint8_t> data);

}  // namespace quarvel::player::video
