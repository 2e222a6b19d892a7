#pragma once
// Independent oracles for AVI tests: ffprobe and ffmpeg read what we wrote.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"

namespace quarvel::avi_test {

namespace fs = std::filesystem;

// Runs a shell command and returns its standard output.
inline std::string Run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

inline std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// One stream as ffprobe reports it ("codec_tag_string", "width", "nb_read_packets", ...).
using StreamInfo = std::map<std::string, std::string>;

inline std::vector<StreamInfo> Probe(const fs::path& file) {
  std::string text = Run("ffprobe -v error -count_packets -show_streams -of flat=s=. " + Quote(file) + " 2>/dev/null");
  std::vector<StreamInfo> streams;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    // streams.stream.0.codec_name="mpeg4"
    const std::string head = "streams.stream.";
    if (line.rfind(head, 0) != 0) continue;
    std::size_t dot = line.find('.', head.size());
    std::size_t eq = line.find('=', dot);
    if (dot == std::string::npos || eq == std::string::npos) continue;
    std::size_t index = std::stoul(line.substr(head.size(), dot - head.size()));
    std::string key = line.substr(dot + 1, eq - dot - 1);
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    if (streams.size() <= index) streams.resize(index + 1);
    streams[index][key] = value;
  }
  return streams;
}

inline double ToSeconds(const std::string& text) { return text.empty() || text == "N/A" ? -1.0 : std::stod(text); }

// A stream's length by its header: the duration, or else its length in time-base units.
inline double StreamSeconds(StreamInfo& s) {
  double d = ToSeconds(s["duration"]);
  if (d >= 0) return d;
  const std::string& tb = s["time_base"];
  std::size_t slash = tb.find('/');
  if (slash == std::string::npos || s["nb_frames"].empty() || s["nb_frames"] == "N/A") return -1;
  return std::stod(s["nb_frames"]) * std::stod(tb.substr(0, slash)) / std::stod(tb.substr(slash + 1));
}

// Every frame of the first video stream decoded to top-down BGR24 rows.
inline std::vector<std::vector<std::uint8_t>> DecodeFrames(const fs::path& file, int width, int height) {
  std::string raw = Run("ffmpeg -v error -i " + Quote(file) + " -map 0:v:0 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
  std::size_t frame_bytes = std::size_t(width) * std::size_t(height) * 3;
  std::vector<std::vector<std::uint8_t>> frames;
  for (std::size_t at = 0; frame_bytes > 0 && at + frame_bytes <= raw.size(); at += frame_bytes)
    frames.emplace_back(raw.begin() + std::ptrdiff_t(at), raw.begin() + std::ptrdiff_t(at + frame_bytes));
  return frames;
}

// A picture as top-down BGR24 rows, for comparing with decoded frames.
inline std::vector<std::uint8_t> TopDownBgr(const gdi::Bitmap& picture) {
  std::vector<std::uint8_t> out;
  out.reserve(std::size_t(picture.Width()) * std::size_t(picture.Height()) * 3);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      gdi::Color c = picture.GetPixel(x, y);
      out.push_back(c.b);
      out.push_back(c.g);
      out.push_back(c.r);
    }
  return out;
}

// Moving content: a gradient with a square that travels and changes colour.
inline gdi::Bitmap MovingFrame(int i, int width, int height, gdi::PixelFormat format = gdi::PixelFormat::pf24bit) {
  gdi::Bitmap b(width, height, gdi::PixelFormat::pf24bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      b.SetPixel(x, y, gdi::Color{std::uint8_t(x * 255 / std::max(1, width - 1)), std::uint8_t(y * 4 + i),
                                  std::uint8_t(128 + (x ^ y))});
  int side = std::max(2, std::min(width, height) / 3);
  int x0 = (i * 3) % std::max(1, width - side), y0 = (i * 2) % std::max(1, height - side);
  gdi::FillRect(b, gdi::Rect{x0, y0, x0 + side, y0 + side}, gdi::Color{std::uint8_t(40 * i), 20, 230});
  return format == gdi::PixelFormat::pf24bit ? b : b.ConvertTo(format);
}

// A 16-bit PCM WAVE file of a sine-like ramp.
inline void WritePcmWave(const fs::path& file, int rate, int channels, double seconds) {
  std::uint32_t frames = std::uint32_t(rate * seconds);
  std::uint32_t data = frames * std::uint32_t(channels) * 2;
  std::vector<std::uint8_t> out;
  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
  };
  auto put16 = [&](std::uint16_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
  };
  auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(t[i]));
  };
  tag("RIFF");
  put32(36 + data);
  tag("WAVE");
  tag("fmt ");
  put32(16);
  put16(1);
  put16(std::uint16_t(channels));
  put32(std::uint32_t(rate));
  put32(std::uint32_t(rate * channels * 2));
  put16(std::uint16_t(channels * 2));
  put16(16);
  tag("data");
  put32(data);
  for (std::uint32_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) put16(std::uint16_t(std::int16_t(((f * 37 + std::uint32_t(c) * 1000) % 20000) - 10000)));
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
}

// An IMA ADPCM WAVE file made by ffmpeg.
inline bool WriteImaAdpcmWave(const fs::path& file, int rate, double seconds) {
  Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
      ":duration=" + std::to_string(seconds) + " -ac 1 -c:a adpcm_ima_wav " + Quote(file) + " 2>&1");
  return fs::exists(file);
}

// A private folder removed at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& name)
      : path_(fs::temp_directory_path() / (name + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace quarvel::avi_test
