#pragma once
// Embedded video in a movie: the DefineVideoStream definition, its
// VideoFrame tags held by frame number, and what the bytes in front of each
// frame's codec data say (key frame or not, VP6 crop).

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "player/swf/reader.h"
#include "player/swf/tags.h"

namespace quarvel::player::video {

// Codec ids as DefineVideoStream and FLV video tags number them.
enum class VideoCodec : std::uint8_t {
  kNone = 0,
  kJpeg = 1,       // never used by the player
  kH263 = 2,       // Sorenson H.263
  kScreen = 3,     // Screen Video
  kVp6 = 4,
  kVp6Alpha = 5,
  kScreen2 = 6,    // Screen Video 2
  kH264 = 7,       // FLV only
};

// "Sorenson H.263", "VP6", ... ; "codec N" for ids outside the table.
std::string CodecName(VideoCodec codec);

// Caps on what a file may ask for.
inline constexpr std::int64_t kMaxVideoPixels = std::int64_t{1} << 24;  // per picture
inline constexpr std::size_t kMaxQueuedPictures = 64;  // decoder reordering queue

struct VideoStreamDef {
  std::uint16_t id = 0;
  std::uint16_t frameCount = 0;  // as declared; the frames present may differ
  // pixels: 16 bits in a file, more for a Video a script makes
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // 0: as each packet says, 1: off, 2..6: filter levels (H.263 uses 2, VP6 2..6).
  std::uint8_t deblocking = 0;
  bool smoothing = false;
  VideoCodec codec = VideoCodec::kNone;
  // Frame data by frame number. The spans borrow the movie's bytes: the
  // stream must not outlive the data it was read from.
  std::map<std::uint16_t, std::span<const std::uint8_t>> frames;
};

struct VideoFrameTag {
  std::uint16_t streamId = 0;
  std::uint16_t frameNumber = 0;
  std::span<const std::uint8_t> data;
};

// Tag bodies; throw swf::SwfError naming the field that is cut off.
VideoStreamDef ReadDefineVideoStream(swf::Reader& r);
VideoFrameTag ReadVideoFrame(swf::Reader& r);

// Every stream of a tag stream (sprites included) with its frames. Damaged
// tags, frames of undefined streams and a tag stream cut off are skipped and
// described in `problems` when given.
std::map<std::uint16_t, VideoStreamDef> CollectVideoStreams(swf::TagStream tags,
                                                           std::vector<std::string>* problems = nullptr);

// How a stream's frames are laid out in front of the codec data: authoring
// tools put the FLV frame-type byte before Screen Video packets and some
// put the FLV crop byte before VP6 data. Found once per stream.
struct FrameLayout {
  std::size_t prefix = 0;  // bytes before the codec data (0 or 1)
};
FrameLayout DetectLayout(const VideoStreamDef& stream);

// One frame split for the decoder.
struct FramePacket {
  std::span<const std::uint8_t> payload;  // what the libavcodec decoder takes
  bool key = false;
  std::uint8_t adjustment = 0;  // VP6 crop byte when one was in front, else 0
};
FramePacket SplitFrame(const VideoStreamDef& stream, const FrameLayout& layout,
                       std::span<const std::uint8_t> data);

// Key-frame tests on bare codec data.
// Sorenson H.263 picture type: 0 intra, 1 inter, 2 disposable inter;
// nullopt when the picture header is not there.
std::optional<int> SorensonPictureType(std::span<const std::uint8_t> data);
// VP6 frame-type bit (first byte; after the alpha offset for VP6 alpha).
bool Vp6IsKey(std::span<const std::uint8_t> data, bool alpha);

// The frame header of a Screen Video packet, and whether every block is
// coded on its own (a key frame). nullopt unless the blocks fill the packet
// exactly.
struct ScreenHeader {
  int width = 0, height = 0;
  int blockWidth = 0, blockHeight = 0;
  bool allBlocksIntra = false;
};
std::optional<ScreenHeader> ReadScreenHeader(std::span<const std::uint8_t> data, bool version2);

// The macroblock grid a VP6 key frame declares; nullopt when the data is
// not a plausible VP6 key frame header.
struct Vp6KeyHeader {
  int rows = 0, cols = 0;
};
std::optional<Vp6KeyHeader> ReadVp6KeyHeader(std::span<const std::uint8_t> data);

}  // namespace quarvel::player::video
