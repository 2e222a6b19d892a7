// A capture in real time on a busy machine: ticks come late, but the frames
// are numbered by the time they show, so the AVI's picture lasts as long as
// its sound.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "support/shell.h"
#include "cli/cli_run.h"

namespace quarvel::testing {
namespace {
namespace fs = std::filesystem;

// Keeps every core busy while it lives.
class CpuHog {
 public:
  CpuHog() {
    const unsigned n = std::max(2u, std::thread::hardware_concurrency()) + 1;
    for (unsigned i = 0; i < n; ++i) {
      threads_.emplace_back([this] {
        volatile unsigned long x = 0;
        while (!stop_.load(std::memory_order_relaxed)) x = x * 6364136223846793005ul + 1;
      });
    }
  }
  ~CpuHog() {
    stop_ = true;
    for (std::thread& t : threads_) t.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

// Duration in seconds of the first stream of a kind, as ffprobe reads it;
// for PCM sound in AVI, which states no duration, its samples by its rate.
double StreamSeconds(const fs::path& file, const char* kind) {
  const std::string out = Shell(std::string("ffprobe -v error -select_streams ") + kind +
                                ":0 -show_entries stream=duration,nb_frames,sample_rate -of default=nw=1 '" +
                                file.string() + "'");
  double duration = 0, frames = 0, rate = 0;
  for (std::size_t at = 0; at < out.size();) {
    std::size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const double value = std::atof(line.c_str() + eq + 1);
    if (line.starts_with("duration=") && line != "duration=N/A") duration = value;
    if (line.starts_with("nb_frames=")) frames = value;
    if (line.starts_with("sample_rate=")) rate = value;
  }
  if (duration > 0) return duration;
  return rate > 0 ? frames / rate : 0;
}

TEST(CliLiveCapture, PictureAndSoundLastAlikeUnderLoad) {
  CliRunner cli("live");
  const fs::path avi = cli.Folder() / "live.avi";
  CliResult r;
  {
    CpuHog hog;
    r = cli.Run({"convert", SampleMovie(), avi.string(), "--latency", "25", "--realtime", "--sound", "pcm"});
  }
  ASSERT_EQ(r.status, 0) << r.err;
  const double picture = StreamSeconds(avi, "v");
  const double sound = StreamSeconds(avi, "a");
  ASSERT_GT(picture, 3.0) << r.err;  // the sample runs four seconds
  EXPECT_NEAR(picture, sound, 0.025) << "picture " << picture << " s, sound " << sound << " s";
}

}  // namespace
}  // namespace quarvel::testing
