#include "player/video/video_stream.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "player/swf/swf_error.h"

namespace quarvel::player::video {
namespace {

// Most significant bit first, as H.263 and Screen Video pack their headers.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> data) : data_(data) {}
  std::optional<std::uint32_t> Bits(unsigned n) {
    if (n > data_.size() * 8 - pos_) return std::nullopt;
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++pos_) v = (v << 1) | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
    return v;
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

std::uint16_t Be16(std::span<const std::uint8_t> d, std::size_t at) {
  return static_cast<std::uint16_t>((d[at] << 8) | d[at + 1]);
}

bool IsScreen(VideoCodec c) { return c == VideoCodec::kScreen || c == VideoCodec::kScreen2; }
bool IsVp6(VideoCodec c) { return c == VideoCodec::kVp6 || c == VideoCodec::kVp6Alpha; }

// The FLV VIDEODATA first byte: frame type 1..5 high, the stream's codec low.
bool LooksLikeFrameTypeByte(std::uint8_t b, VideoCodec codec) {
  const int type = b >> 4;
  return (b & 0x0F) == static_cast<int>(codec) && type >= 1 && type <= 5;
}

// How well a VP6 key frame at `offset` fits the stream: 0 not a key frame
// header, 1 a header, 2 a header whose macroblock grid covers the declared size.
int Vp6Fit(const VideoStreamDef& s, std::span<const std::uint8_t> data, std::size_t offset) {
  const std::size_t at = offset + (s.codec == VideoCodec::kVp6Alpha ? 3 : 0);
  if (data.size() <= at) return 0;
  const auto h = ReadVp6KeyHeader(data.subspan(at));
  if (!h) return 0;
  const std::int64_t w = s.width, hh = s.height, cols = h->cols, rows = h->rows;
  const bool covers = cols * 16 >= w && cols * 16 < w + 16 && rows * 16 >= hh && rows * 16 < hh + 16;
  return covers ? 2 : 1;
}

void Collect(swf::TagStream tags, int depth, std::map<std::uint16_t, VideoStreamDef>& streams,
             std::vector<std::string>* problems) {
  auto note = [&](std::string what) {
    if (problems) problems->push_back(std::move(what));
  };
  try {
    while (auto t = tags.Next()) {
      if (t->code == swf::tag::kEnd) break;
      try {
        if (t->code == swf::tag::kDefineVideoStream) {
          swf::Reader r = t->BodyReader();
          VideoStreamDef def = ReadDefineVideoStream(r);
          if (streams.contains(def.id)) {
            note("DefineVideoStream " + std::to_string(def.id) + " at byte offset " + std::to_string(t->offset) +
                 " defines an id already defined; the first definition stays");
            continue;
          }
          streams.emplace(def.id, std::move(def));
        } else if (t->code == swf::tag::kVideoFrame) {
          swf::Reader r = t->BodyReader();
          const VideoFrameTag f = ReadVideoFrame(r);
          auto it = streams.find(f.streamId);
          if (it == streams.end()) {
            note("VideoFrame at byte offset " + std::to_string(t->offset) + " names stream " +
                 std::to_string(f.streamId) + ", which is not defined before it");
            continue;
          }
          it->second.frames[f.frameNumber] = f.data;
        } else if (t->code == swf::tag::kDefineSprite && depth < 32) {
          swf::Reader r = t->BodyReader();
          r.U16("sprite id");
          r.U16("frame count");
          const std::size_t at = r.Offset();
          Collect(swf::TagStream(r.Rest(), at), depth + 1, streams, problems);
        }
      } catch (const swf::SwfError& e) {
        note(std::string(swf::TagName(t->code)) + " skipped: " + e.what());
      }
    }
  } catch (const swf::SwfError& e) {
    note(std::string("tag stream cut off: ") + e.what());
  }
}

}  // namespace

std::string CodecName(VideoCodec codec) {
  switch (codec) {
    case VideoCodec::kNone: return "no codec";
    case VideoCodec::kJpeg: return "JPEG video";
    case VideoCodec::kH263: return "Sorenson H.263";
    case VideoCodec::kScreen: return "Screen Video";
    case VideoCodec::kVp6: return "VP6";
    case VideoCodec::kVp6Alpha: return "VP6 with alpha";
    case VideoCodec::kScreen2: return "Screen Video 2";
    case VideoCodec::kH264: return "H.264";
  }
  return "codec " + std::to_string(static_cast<int>(codec));
}

VideoStreamDef ReadDefineVideoStream(swf::Reader& r) {
  VideoStreamDef d;
  d.id = r.U16("CharacterID");
  d.frameCount = r.U16("NumFrames");
  d.width = r.U16("Width");
  d.height = r.U16("Height");
  r.UB(4, "VideoFlagsReserved");
  d.deblocking = static_cast<std::uint8_t>(r.UB(3, "VideoFlagsDeblocking"));
  d.smoothing = r.UB(1, "VideoFlagsSmoothing") != 0;
  d.codec = static_cast<VideoCodec>(r.U8("CodecID"));
  return d;
}

VideoFrameTag ReadVideoFrame(swf::Reader& r) {
  VideoFrameTag f;
  f.streamId = r.U16("StreamID");
  f.frameNumber = r.U16("FrameNum");
  f.data = r.Rest();
  return f;
}

std::map<std::uint16_t, VideoStreamDef> CollectVideoStreams(swf::TagStream tags, std::vector<std::string>* problems) {
  std::map<std::uint16_t, VideoStreamDef> streams;
  Collect(tags, 0, streams, problems);
  return streams;
}

std::optional<int> SorensonPictureType(std::span<const std::uint8_t> data) {
  BitReader b(data);
  if (b.Bits(17) != 1u) return std::nullopt;  // picture start code
  const auto version = b.Bits(5);
  if (!version || *version > 1) return std::nullopt;
  b.Bits(8);  // temporal reference
  const auto size = b.Bits(3);
  if (!size || *size == 7) return std::nullopt;
  if (*size == 0 && !b.Bits(16)) return std::nullopt;
  if (*size == 1 && !b.Bits(32)) return std::nullopt;
  const auto type = b.Bits(2);
  if (!type || *type == 3) return std::nullopt;
  return static_cast<int>(*type);
}

bool Vp6IsKey(std::span<const std::uint8_t> data, bool alpha) {
  const std::size_t at = alpha ? 3 : 0;
  return data.size() > at && (data[at] & 0x80) == 0;
}

std::optional<ScreenHeader> ReadScreenHeader(std::span<const std::uint8_t> data, bool version2) {
  if (data.size() < 4) return std::nullopt;
  ScreenHeader h;
  const std::uint16_t a = Be16(data, 0), b = Be16(data, 2);
  h.blockWidth = ((a >> 12) + 1) * 16;
  h.width = a & 0x0FFF;
  h.blockHeight = ((b >> 12) + 1) * 16;
  h.height = b & 0x0FFF;
  if (h.width == 0 || h.height == 0) return std::nullopt;
  std::size_t pos = 4;
  if (version2) {
    if (data.size() < 5 || (data[4] & 0x01)) return std::nullopt;  // custom palettes are not read
    pos = 5;
  }
  const int cols = (h.width + h.blockWidth - 1) / h.blockWidth;
  const int rows = (h.height + h.blockHeight - 1) / h.blockHeight;
  h.allBlocksIntra = true;
  for (int i = 0; i < cols * rows; ++i) {
    if (data.size() - pos < 2) return std::nullopt;
    const std::size_t size = Be16(data, pos);
    pos += 2;
    if (size > data.size() - pos) return std::nullopt;
    if (size == 0) {
      h.allBlocksIntra = false;  // unchanged block: kept from the frame before
    } else if (version2) {
      const std::uint8_t flags = data[pos];
      if (flags & 0x05) h.allBlocksIntra = false;  // difference block or primed from the frame before
    }
    pos += size;
  }
  if (pos != data.size()) return std::nullopt;
  return h;
}

std::optional<Vp6KeyHeader> ReadVp6KeyHeader(std::span<const std::uint8_t> data) {
  if (data.size() < 2 || (data[0] & 0x80)) return std::nullopt;
  const int subVersion = data[1] >> 3;
  if (subVersion < 6 || subVersion > 8 || (data[1] & 1)) return std::nullopt;  // VP60..VP62, not interlaced
  const bool separatedCoeff = data[0] & 1;
  const bool filterHeader = data[1] & 0x06;
  const std::size_t at = (separatedCoeff || !filterHeader) ? 4 : 2;
  if (data.size() < at + 4) return std::nullopt;
  Vp6KeyHeader h{data[at], data[at + 1]};
  if (h.rows == 0 || h.cols == 0) return std::nullopt;
  return h;
}

FrameLayout DetectLayout(const VideoStreamDef& s) {
  FrameLayout layout;
  int score0 = 0, score1 = 0, seen = 0;
  std::span<const std::uint8_t> first;
  for (const auto& [number, data] : s.frames) {
    if (data.empty()) continue;
    if (first.empty()) first = data;
    if (++seen > 16) break;
    if (IsScreen(s.codec)) {
      const bool v2 = s.codec == VideoCodec::kScreen2;
      const auto h0 = ReadScreenHeader(data, v2);
      const auto h1 = LooksLikeFrameTypeByte(data[0], s.codec) ? ReadScreenHeader(data.subspan(1), v2)
                                                               : std::nullopt;
      auto fit = [&](const std::optional<ScreenHeader>& h) {
        return !h ? 0
               : (std::cmp_equal(h->width, s.width) && std::cmp_equal(h->height, s.height)) ? 2
                                                                                            : 1;
      };
      score0 += fit(h0);
      score1 += fit(h1);
    } else if (IsVp6(s.codec)) {
      score0 += Vp6Fit(s, data, 0);
      score1 += Vp6Fit(s, data, 1);
    }
  }
  if (score1 > score0) {
    layout.prefix = 1;
  } else if (score1 == score0 && score0 == 0 && IsScreen(s.codec) && !first.empty() &&
             LooksLikeFrameTypeByte(first[0], s.codec)) {
    layout.prefix = 1;  // nothing parses: the usual layout
  }
  return layout;
}

FramePacket SplitFrame(const VideoStreamDef& s, const FrameLayout& layout, std::span<const std::uint8_t> data) {
  FramePacket p;
  const std::size_t prefix = std::min(layout.prefix, data.size());
  p.payload = data.subspan(prefix);
  switch (s.codec) {
    case VideoCodec::kH263:
      p.key = SorensonPictureType(p.payload) == 0;
      break;
    case VideoCodec::kScreen:
    case VideoCodec::kScreen2:
      if (prefix == 1) {
        p.key = (data[0] >> 4) == 1 || (data[0] >> 4) == 4;
      } else {
        const auto h = ReadScreenHeader(p.payload, s.codec == VideoCodec::kScreen2);
        p.key = h && h->allBlocksIntra;
      }
      break;
    case VideoCodec::kVp6:
    case VideoCodec::kVp6Alpha:
      if (prefix == 1) p.adjustment = data[0];
      p.key = Vp6IsKey(p.payload, s.codec == VideoCodec::kVp6Alpha);
      break;
    default:
      break;
  }
  return p;
}

}  // namespace quarvel::player::video
