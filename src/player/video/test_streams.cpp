#include "player/video/test_streams.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

namespace quarvel::player::video::testing {
namespace {

struct Folder {
  std::filesystem::path path;
  Folder() {
    path = std::filesystem::temp_directory_path() / ("quarvel-video-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

}  // namespace

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

bool HaveFfmpeg() {
  static const bool have = Run("ffmpeg -hide_banner -loglevel quiet -version > /dev/null 2>&1");
  return have;
}

const std::filesystem::path& TempDir() {
  static Folder folder;
  return folder.path;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::filesystem::path MakeStream(const std::string& name, const std::string& codec_args, int width, int height,
                                 int seconds, const std::string& extra_input) {
  static std::map<std::string, std::filesystem::path> made;
  if (auto it = made.find(name); it != made.end()) return it->second;
  const auto out = TempDir() / name;
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc=size=" +
                          std::to_string(width) + "x" + std::to_string(height) + ":rate=10 " + extra_input + " -t " +
                          std::to_string(seconds) + " -g 5 " + codec_args + " " + Quote(out);
  const auto result = Run(cmd) ? out : std::filesystem::path();
  made[name] = result;
  return result;
}

std::vector<std::vector<std::uint8_t>> OracleFrames(const std::filesystem::path& file, int width, int height) {
  const auto raw = TempDir() / (file.filename().string() + ".bgra");
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -nostdin -y -i " + Quote(file) +
                          " -fps_mode passthrough -f rawvideo -pix_fmt bgra " + Quote(raw);
  std::vector<std::vector<std::uint8_t>> frames;
  if (!Run(cmd)) return frames;
  const auto bytes = ReadFile(raw);
  const std::size_t n = static_cast<std::size_t>(width) * height * 4;
  for (std::size_t at = 0; n > 0 && at + n <= bytes.size(); at += n) {
    frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  return frames;
}

double MeanDiff(const Picture& picture, const std::vector<std::uint8_t>& bgra, int width, int height) {
  if (picture.width != width || picture.height != height || picture.pixels.size() != bgra.size()) return 255;
  double sum = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < bgra.size(); i += 4) {
    for (int c = 0; c < 3; ++c) sum += std::abs(int{picture.pixels[i + c]} - int{bgra[i + c]});
    count += 3;
  }
  return count ? sum / static_cast<double>(count) : 0;
}

}  // namespace quarvel::player::video::testing
