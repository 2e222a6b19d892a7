#pragma once
// Test helpers that judge sound files with an independent reader (ffprobe and
// ffmpeg) and make test tones for the loopback bus.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quarvel::testing {

inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline std::string RunCapture(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  if (!pipe) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  return out;
}

// ffprobe's view of the first audio stream: codec_name, sample_rate,
// channels, bit_rate, duration (then the container's) as key → text.
inline std::map<std::string, std::string> Probe(const std::filesystem::path& file) {
  const std::string text = RunCapture(
      "ffprobe -v error -select_streams a:0 -show_entries "
      "stream=codec_name,sample_rate,channels,bit_rate,duration:format=bit_rate,duration "
      "-of default=noprint_wrappers=1 " + ShellQuote(file.string()) + " 2>/dev/null");
  std::map<std::string, std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t eq = line.find('=');
    // Stream entries come first; format entries must not overwrite them.
    if (eq != std::string::npos && !result.count(line.substr(0, eq))) result[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return result;
}

// The file decoded by ffmpeg to mono 16-bit samples at `rate`.
inline std::vector<std::int16_t> DecodeMono(const std::filesystem::path& file, int rate) {
  const std::string raw = RunCapture("ffmpeg -v error -i " + ShellQuote(file.string()) + " -f s16le -ac 1 -ar " +
                                     std::to_string(rate) + " - 2>/dev/null");
  std::vector<std::int16_t> samples(raw.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(raw[2 * i]) |
                                           (static_cast<std::uint8_t>(raw[2 * i + 1]) << 8));
  }
  return samples;
}

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
