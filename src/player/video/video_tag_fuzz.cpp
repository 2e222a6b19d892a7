// libFuzzer target: DefineVideoStream and VideoFrame tags, frame layouts,
// key-frame tests and jumps through the libavcodec decoders.
#include <cstddef>
#include <cstdint>
#include <span>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/ffmpeg/ffmpeg_api.h"
#include "player/video/embedded_video.h"
#include "player/video/video_error.h"

namespace {

using namespace quarvel;
using namespace quarvel::player::video;

void Play(const VideoStreamDef& s, std::span<const std::uint8_t> order) {
  if (!VideoDecoder::Available(s.codec) || s.frames.empty()) return;
  if (static_cast<std::int64_t>(s.width) * s.height > (1 << 20)) return;
  try {
    EmbeddedVideo video(s);
    video.Seek(s.frames.rbegin()->first);
    for (std::size_t i = 0; i < order.size() && i < 6; ++i) {
      video.Seek(order[i]);
      if (video.HasPicture()) (void)video.Current();
    }
  } catch (const VideoError&) {
  }
}

}  // namespace

// libavcodec describes every damaged packet on stderr: too slow to keep.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quarvel::ffmpeg::SetLogLevel(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  // As a tag stream.
  for (const auto& [id, stream] : CollectVideoStreams(swf::TagStream(bytes))) Play(stream, bytes.first(std::min<std::size_t>(size, 6)));

  // As one stream: codec, size, then frames split at 0xA5 0x5A.
  if (size < 4) return 0;
  VideoStreamDef s;
  s.codec = static_cast<VideoCodec>(2 + data[0] % 5);
  s.width = static_cast<std::uint16_t>(1 + data[1] % 200);
  s.height = static_cast<std::uint16_t>(1 + data[2] % 200);
  std::size_t start = 3;
  std::uint16_t n = 0;
  for (std::size_t i = 3; i + 1 < size && n < 64; ++i) {
    if (data[i] == 0xA5 && data[i + 1] == 0x5A) {
      s.frames[n++] = bytes.subspan(start, i - start);
      start = i + 2;
    }
  }
  s.frames[n] = bytes.subspan(std::min(start, size));
  for (const auto& [number, frame] : s.frames) {
    (void)SorensonPictureType(frame);
    (void)ReadScreenHeader(frame, data[0] & 1);
    (void)ReadVp6KeyHeader(frame);
  }
  Play(s, bytes.subspan(1, 3));
  return 0;
}
