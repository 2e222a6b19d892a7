#pragma once
// Test helpers that judge sound files with an independent reader (FFmpeg's
// demuxers and decoders, in process) and make test tones for the loopback bus.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quarvel::testing {

// What FFmpeg's demuxer and decoder make of the first audio stream; empty
// codec_name when the file cannot be read.
struct AudioProbe {
  std::string codec_name;
  int sample_rate = 0;
  int channels = 0;
  std::int64_t bit_rate = 0;
  double duration = 0;  // seconds
};
AudioProbe Probe(const std::filesystem::path& file);

// The file decoded to mono 16-bit samples at `rate` (empty when unreadable).
std::vector<std::int16_t> DecodeMono(const std::filesystem::path& file, int rate);

// Frequency of a tone, from its rising crossings of a band around zero (so
// that coding noise near zero does not count as crossings).
inline double ToneFrequency(const std::vector<std::int16_t>& s, int rate) {
  int peak = 0;
  for (auto v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
  const int band = peak / 4;
  int first = -1;
  int last = -1;
  int crossings = 0;
  bool low = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] < -band) low = true;
    if (low && s[i] > band) {
      low = false;
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * static_cast<double>(rate) / (last - first);
}

inline double Rms(const std::vector<std::int16_t>& s) {
  if (s.empty()) return 0;
  double sum = 0;
  for (auto v : s) sum += static_cast<double>(v) * v;
  return std::sqrt(sum / static_cast<double>(s.size()));
}

// Interleaved stereo 44100 Hz sine.
inline std::vector<std::int16_t> StereoTone(double hz, int ms, double amplitude = 12000) {
  const int frames = ms * 441 / 10;
  std::vector<std::int16_t> v(static_cast<std::size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const auto x = static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * hz * i / 44100.0));
    v[2 * static_cast<std::size_t>(i)] = x;
    v[2 * static_cast<std::size_t>(i) + 1] = x;
  }
  return v;
}

// A fresh private folder under the system's temp folder.
inline std::filesystem::path MakeTempFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

}  // namespace quarvel::testing
