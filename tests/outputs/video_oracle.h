#pragma once
// Readers of what the video writer made: ffprobe and ffmpeg, and libwebp's
// own animation decoder (this FFmpeg reads no animated WebP).

#include <webp/demux.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "avi/avi_oracle.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::video_test {

namespace fs = std::filesystem;
using avi_test::Quote;
using avi_test::Run;
using Rgba = std::vector<std::uint8_t>;  // top-down RGBA rows

inline Rgba TopDownRgba(const gdi::Bitmap& picture, bool alpha = false) {
  const gdi::Bitmap b = picture.Format() == gdi::PixelFormat::pf32bit || picture.Format() == gdi::PixelFormat::pfDevice
                            ? picture
                            : picture.ConvertTo(gdi::PixelFormat::pf32bit);
  Rgba out;
  out.reserve(std::size_t(b.Width()) * std::size_t(b.Height()) * 4);
  for (int y = 0; y < b.Height(); ++y) {
    const std::uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < b.Width(); ++x)
      out.insert(out.end(), {row[x * 4 + 2], row[x * 4 + 1], row[x * 4], alpha ? row[x * 4 + 3] : std::uint8_t(255)});
  }
  return out;
}

inline std::vector<Rgba> DecodeWithFfmpeg(const fs::path& file, int w, int h, const std::string& decoder = "") {
  const std::string raw = Run("ffmpeg -v error " + (decoder.empty() ? "" : "-c:v " + decoder + " ") + "-i " +
                              Quote(file) + " -map 0:v:0 -f rawvideo -pix_fmt rgba - 2>/dev/null");
  const std::size_t n = std::size_t(w) * std::size_t(h) * 4;
  std::vector<Rgba> frames;
  for (std::size_t at = 0; n > 0 && at + n <= raw.size(); at += n)
    frames.emplace_back(raw.begin() + long(at), raw.begin() + long(at + n));
  return frames;
}

struct WebpAnimation {
  int width = 0, height = 0;
  std::vector<Rgba> frames;
  std::vector<int> end_ms;  // each frame's end time
};

inline WebpAnimation DecodeWebp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), {});
  WebpAnimation out;
  WebPData webp{reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
  WebPAnimDecoderOptions opts;
  WebPAnimDecoderOptionsInit(&opts);
  opts.color_mode = MODE_RGBA;
  WebPAnimDecoder* dec = WebPAnimDecoderNew(&webp, &opts);
  if (!dec) return out;
  WebPAnimInfo info;
  WebPAnimDecoderGetInfo(dec, &info);
  out.width = int(info.canvas_width);
  out.height = int(info.canvas_height);
  while (WebPAnimDecoderHasMoreFrames(dec)) {
    std::uint8_t* buf = nullptr;
    int ts = 0;
    if (!WebPAnimDecoderGetNext(dec, &buf, &ts)) break;
    out.frames.emplace_back(buf, buf + std::size_t(out.width) * std::size_t(out.height) * 4);
    out.end_ms.push_back(ts);
  }
  WebPAnimDecoderDelete(dec);
  return out;
}

// Mean absolute difference of the colour channels (alpha left out).
inline double MeanColourDifference(const Rgba& a, const Rgba& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (i % 4 != 3) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / double(a.size() / 4 * 3);
}

// From the first picture's start to the last one's end (APNG has no overall duration).
inline double PictureSeconds(const fs::path& file) {
  const std::string text =
      Run("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,duration_time -of csv=p=0 " + Quote(file));
  double start = 1e9, end = -1;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto comma = line.find(',');
    if (comma == std::string::npos || line[0] == 'N') continue;
    const double t = std::stod(line.substr(0, comma));
    start = std::min(start, t);
    end = std::max(end, t + std::stod(line.substr(comma + 1)));
  }
  return end - start;
}

}  // namespace quarvel::video_test
