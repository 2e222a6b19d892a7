#include "video_out/video_format.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quarvel::video_out {
namespace {

constexpr std::array<VideoFormat, 6> kFormats = {{
    {Container::kMp4, "MP4 (H.264, AAC)", "mp4", "libx264", "aac", false, false, true},
    {Container::kMov, "QuickTime (H.264, AAC)", "mov", "libx264", "aac", false, false, true},
    {Container::kMkv, "Matroska (H.264, AAC)", "matroska", "libx264", "aac", false, false, true},
    {Container::kWebm, "WebM (VP9, Opus)", "webm", "libvpx-vp9", "libopus", true, false, true},
    {Container::kWebp, "animated WebP", "webp", "libwebp_anim", "", true, true, false},
    {Container::kApng, "animated PNG", "apng", "apng", "", true, true, false},
}};

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

const VideoFormat& Get(Container c) {
  return *std::find_if(kFormats.begin(), kFormats.end(), [c](const VideoFormat& f) { return f.container == c; });
}

}  // namespace

std::optional<VideoFormat> FormatForName(std::string_view name) {
  const std::string n = Lower(name);
  if (n == "mp4" || n == "m4v") return Get(Container::kMp4);
  if (n == "mov") return Get(Container::kMov);
  if (n == "mkv") return Get(Container::kMkv);
  if (n == "webm") return Get(Container::kWebm);
  if (n == "webp") return Get(Container::kWebp);
  if (n == "png" || n == "apng") return Get(Container::kApng);
  return std::nullopt;
}

std::optional<VideoFormat> FormatForExtension(std::string_view extension) {
  if (extension.empty() || extension.front() != '.') return std::nullopt;
  return FormatForName(extension.substr(1));
}

std::string_view ExtensionOf(Container container) {
  switch (container) {
    case Container::kMp4: return ".mp4";
    case Container::kMov: return ".mov";
    case Container::kMkv: return ".mkv";
    case Container::kWebm: return ".webm";
    case Container::kWebp: return ".webp";
    case Container::kApng: return ".png";
  }
  return "";
}

void CheckRequest(const VideoFormat& format, const VideoRequest& request, const std::string& what) {
  const std::string name(format.label);
  if (request.alpha && !format.alpha)
    throw VideoError(what + ": " + name + " cannot keep a transparent background; write .webm, .webp or .png "
                     "(animated PNG) instead, or capture with an opaque --background");
  const bool h264 = format.video_codec == "libx264";
  const bool vp9 = format.video_codec == "libvpx-vp9";
  if (request.crf) {
    if (!h264 && !vp9)
      throw VideoError(what + ": --crf is for MP4, MOV, MKV and WebM; " + name +
                       (format.container == Container::kWebp ? " takes --quality 0..100" : " is lossless"));
    const int top = h264 ? 51 : 63;
    if (*request.crf < 0 || *request.crf > top)
      throw VideoError(what + ": --crf " + std::to_string(*request.crf) + " is outside 0.." + std::to_string(top) +
                       " for " + name);
  }
  if (request.preset) {
    if (!h264 && !vp9) throw VideoError(what + ": --preset is for MP4, MOV, MKV and WebM, not " + name);
    const auto& names = PresetNames();
    if (std::find(names.begin(), names.end(), *request.preset) == names.end()) {
      std::string list;
      for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
      throw VideoError(what + ": unknown --preset \"" + *request.preset + "\"; use one of " + list);
    }
  }
  if (request.quality) {
    if (format.container != Container::kWebp)
      throw VideoError(what + ": a 0..100 quality is for WebP; " + name +
                       (h264 || vp9 ? " takes --crf (lower is better)" : " is lossless"));
    if (*request.quality < 0 || *request.quality > 100)
      throw VideoError(what + ": --quality " + std::to_string(*request.quality) + " is outside 0..100");
  }
}

}  // namespace quarvel::video_out
