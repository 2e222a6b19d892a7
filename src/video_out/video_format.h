#pragma once
// The video and animated-picture formats written through FFmpeg, chosen by
// the output's extension, and the checks a request passes before any work.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::video_out {

// A request the format cannot hold, an unknown extension, or a failure of
// the encoder or the muxer; the message names the file or the option.
class VideoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Container { kMp4, kMov, kMkv, kWebm, kWebp, kApng };

struct VideoFormat {
  Container container;
  std::string_view label;         // "MP4 (H.264, AAC)"
  std::string_view muxer;         // FFmpeg's output format name
  std::string_view video_codec;   // FFmpeg's encoder name
  std::string_view audio_codec;   // empty: the format holds no sound
  bool alpha = false;             // can keep a transparent background
  bool lossless = false;          // lossless by default (WebP: unless a quality is given)
  bool even_size = false;         // 4:2:0 chroma: width and height must be even
};

// The format for an extension (".mp4", ".WEBM", ...); nullopt for others.
std::optional<VideoFormat> FormatForExtension(std::string_view extension);
// The format for a short name as the batch option and the window give it
// ("mp4", "webm", "webp", "apng", "png", "mkv", "mov").
std::optional<VideoFormat> FormatForName(std::string_view name);
// The extension written for a format (".png" for APNG).
std::string_view ExtensionOf(Container container);
// The extensions, for help and messages (inline: the command line's
// program lists them without the writers).
inline std::string KnownExtensions() { return ".mp4, .webm, .webp, .png or .apng (animated PNG), .mkv, .mov"; }

// What the caller asks of the format.
struct VideoRequest {
  bool alpha = false;             // the frames carry a transparent background
  std::optional<int> crf;         // 0..51 (H.264), 0..63 (VP9)
  std::optional<std::string> preset;
  std::optional<int> quality;     // lossy WebP quality 0..100
};

// Throws VideoError, naming `what` (the output) and saying what to use
// instead, when the format cannot do what is asked.
void CheckRequest(const VideoFormat& format, const VideoRequest& request, const std::string& what);

// The x264 presets, fastest first.
inline const std::vector<std::string>& PresetNames() {
  static const std::vector<std::string> names = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                                 "medium",    "slow",      "slower",   "veryslow"};
  return names;
}

}  // namespace quarvel::video_out
