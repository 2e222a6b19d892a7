#include "player/video/flv_reader.h"

#include "player/video/video_error.h"

namespace quarvel::player::video {
namespace {

std::uint32_t Be(std::span<const std::uint8_t> d, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | d[at + static_cast<std::size_t>(i)];
  return v;
}

[[noreturn]] void Cut(const char* field, std::size_t offset) {
  throw VideoError(field, offset, "FLV tag body too short for its fields");
}

FlvVideo ReadVideo(std::span<const std::uint8_t> body, std::size_t at) {
  if (body.empty()) Cut("video header", at);
  FlvVideo v;
  v.frameType = body[0] >> 4;
  v.codec = static_cast<VideoCodec>(body[0] & 0x0F);
  std::size_t pos = 1;
  if (v.frameType == 5) {  // info or command: no picture
    v.data = body.subspan(pos);
    return v;
  }
  if (v.codec == VideoCodec::kH264) {
    if (body.size() < 5) Cut("AVC packet header", at);
    v.avcPacketType = body[1];
    // Signed 24-bit composition time.
    v.compositionTime = static_cast<std::int32_t>(Be(body, 2, 3) << 8) >> 8;
    pos = 5;
  } else if (v.codec == VideoCodec::kVp6 || v.codec == VideoCodec::kVp6Alpha) {
    if (body.size() < 2) Cut("VP6 adjustment", at);
    v.adjustment = body[1];
    pos = 2;
  }
  v.data = body.subspan(pos);
  return v;
}

FlvAudio ReadAudio(std::span<const std::uint8_t> body, std::size_t at) {
  if (body.empty()) Cut("audio header", at);
  FlvAudio a;
  a.format = body[0] >> 4;
  a.rateCode = (body[0] >> 2) & 3;
  a.sixteenBit = (body[0] >> 1) & 1;
  a.stereo = body[0] & 1;
  std::size_t pos = 1;
  if (a.format == 10) {
    if (body.size() < 2) Cut("AAC packet type", at);
    a.aacPacketType = body[1];
    pos = 2;
  }
  a.data = body.subspan(pos);
  return a;
}

FlvScript ReadScript(std::span<const std::uint8_t> body, std::size_t at) {
  FlvScript s;
  std::size_t pos = 0;
  AmfValue name = ReadAmf0(body, pos, at);
  if (name.type != AmfValue::Type::kString) throw VideoError("script name", at, "script data does not start with a name");
  s.name = std::move(name.string);
  if (pos < body.size()) s.value = ReadAmf0(body, pos, at);
  return s;
}

}  // namespace

const AmfValue* FlvFile::Metadata() const {
  for (const FlvTag& t : tags) {
    if (t.type == FlvTagType::kScript && t.script.name == "onMetaData") return &t.script.value;
  }
  return nullptr;
}

FlvFile ReadFlv(std::span<const std::uint8_t> data) {
  FlvFile f;
  if (data.size() < 9 || data[0] != 'F' || data[1] != 'L' || data[2] != 'V') {
    throw VideoError("signature", 0, "not an FLV file (no \"FLV\" header)");
  }
  f.version = data[3];
  f.hasAudio = data[4] & 0x04;
  f.hasVideo = data[4] & 0x01;
  const std::uint32_t headerSize = Be(data, 5, 4);
  if (headerSize < 9) throw VideoError("DataOffset", 5, "FLV header size " + std::to_string(headerSize) + " is below 9");
  auto note = [&](std::string what) {
    if (f.problems.size() < kMaxFlvProblems) f.problems.push_back(std::move(what));
  };
  // Each tag is preceded by the size of the one before (ignored: writers
  // often get it wrong, and the tag header says the same).
  std::size_t pos = std::size_t{headerSize} + 4;
  while (pos < data.size()) {
    if (data.size() - pos < 11) {
      f.truncated = true;
      note("tag header at byte offset " + std::to_string(pos) + " is cut off");
      break;
    }
    const std::uint8_t kind = data[pos];
    const std::uint32_t size = Be(data, pos + 1, 3);
    const std::uint32_t time = Be(data, pos + 4, 3) | (std::uint32_t{data[pos + 7]} << 24);
    const std::size_t bodyAt = pos + 11;
    if (size > data.size() - bodyAt) {
      f.truncated = true;
      note("tag at byte offset " + std::to_string(pos) + " declares " + std::to_string(size) + " bytes, " +
           std::to_string(data.size() - bodyAt) + " remain");
      break;
    }
    const auto body = data.subspan(bodyAt, size);
    const std::size_t at = pos;
    pos = bodyAt + size + 4;
    if (kind & 0x20) {
      note("encrypted tag at byte offset " + std::to_string(at) + " skipped");
      continue;
    }
    FlvTag t;
    t.timestamp = time;
    t.offset = at;
    try {
      switch (kind & 0x1F) {
        case 8: t.type = FlvTagType::kAudio; t.audio = ReadAudio(body, at); break;
        case 9: t.type = FlvTagType::kVideo; t.video = ReadVideo(body, at); break;
        case 18: t.type = FlvTagType::kScript; t.script = ReadScript(body, bodyAt); break;
        default:
          note("tag of unknown type " + std::to_string(kind & 0x1F) + " at byte offset " + std::to_string(at) + " skipped");
          continue;
      }
    } catch (const VideoError& e) {
      note(std::string("tag at byte offset ") + std::to_string(at) + " skipped: " + e.what());
      continue;
    }
    f.tags.push_back(std::move(t));
  }
  return f;
}

}  // namespace quarvel::player::video
