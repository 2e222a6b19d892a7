// libFuzzer target: the FLV reader, its AMF0 metadata, and the video of
// whatever it reads through libavcodec.
#include <cstddef>
#include <cstdint>
#include <span>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/ffmpeg/ffmpeg_api.h"
#include "player/video/flv_reader.h"
#include "player/video/flv_video_decoder.h"
#include "player/video/video_error.h"

namespace {

using namespace quarvel::player::video;

std::size_t Walk(const AmfValue& v) {
  std::size_t n = 1 + v.string.size();
  for (const auto& [name, value] : v.properties) n += name.size() + Walk(value);
  for (const auto& e : v.elements) n += Walk(e);
  return n;
}

}  // namespace

// libavcodec describes every damaged packet on stderr: too slow to keep.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quarvel::ffmpeg::SetLogLevel(AV_LOG_QUIET);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  try {
    const FlvFile file = ReadFlv(bytes);
    for (const FlvTag& t : file.tags) {
      if (t.type == FlvTagType::kScript) Walk(t.script.value);
    }
    if (const AmfValue* meta = file.Metadata()) (void)meta->NumberAt("duration");
    try {
      FlvVideoDecoder dec(file);
      for (int i = 0; i < 16 && dec.Next(); ++i) (void)dec.Current();
      dec.SeekToKey(size > 0 ? data[0] * 10u : 0u);
      for (int i = 0; i < 4 && dec.Next(); ++i) (void)dec.Current();
    } catch (const VideoError&) {
    }
  } catch (const VideoError&) {
  }
  // The bytes as one AMF0 value.
  std::size_t pos = 0;
  try {
    Walk(ReadAmf0(bytes, pos));
  } catch (const VideoError&) {
  }
  return 0;
}
