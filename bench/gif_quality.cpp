// Helper of scripts/bench-gif: the frame store as raw RGB for FFmpeg, and the
// mean PSNR of a GIF against the frame store.
//   gif_quality raw WORK_DIR FRAMES            rgb24 frames on stdout
//   gif_quality psnr WORK_DIR FRAMES GIF
// A GIF's picture for store frame k is the one shown at the middle of that
// frame's share of the GIF's whole time, so merged frames and delays rounded
// to hundredths by any writer are compared fairly.

#include <gif_lib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/frame_store.h"
#include "gif/gif_pictures.h"
#include "gif/giflib_reader.h"
#include "platform/paths/working_folder.h"

namespace {

using namespace quarvel;

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot open");
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int Raw(long long frames) {
  capture::FrameSequence store(frames);
  std::vector<std::uint8_t> row;
  for (long long i = 0; i < frames; ++i) {
    const gdi::Bitmap& b = store.Read(i);
    row.resize(std::size_t(b.Width()) * 3);
    for (int y = 0; y < b.Height(); ++y) {
      for (int x = 0; x < b.Width(); ++x) {
        const gdi::Color c = b.GetPixel(x, y);
        row[std::size_t(x) * 3] = c.r;
        row[std::size_t(x) * 3 + 1] = c.g;
        row[std::size_t(x) * 3 + 2] = c.b;
      }
      std::fwrite(row.data(), 1, row.size(), stdout);
    }
  }
  return 0;
}

int Psnr(long long frames, const std::string& gif_path) {
  const auto gif = gif::testing::DecodeWithGiflib(ReadFile(gif_path));
  // Every frame with its own delay: the timeline, not the merged pictures.
  const auto timeline = gif::testing::ShownPictures(gif, false);
  long long total = 0;  // milliseconds
  for (const auto& p : timeline) total += p.delay * 10;
  capture::FrameSequence store(frames);
  double sum = 0;
  std::size_t picture = 0;
  long long picture_end = timeline.empty() ? 0 : timeline[0].delay * 10;  // milliseconds
  for (long long k = 0; k < frames; ++k) {
    const gdi::Bitmap& b = store.Read(k);
    const long long t = (2 * k + 1) * total / (2 * frames);
    while (t >= picture_end && picture + 1 < timeline.size()) picture_end += timeline[++picture].delay * 10;
    const auto& shown = timeline[picture].pixels;
    if (b.Width() != gif.screen_width || b.Height() != gif.screen_height)
      throw std::runtime_error("frame " + std::to_string(k + 1) + " and the GIF differ in size");
    double se = 0;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) {
        const gdi::Color c = b.GetPixel(x, y);
        const std::uint32_t s = shown[std::size_t(y) * b.Width() + x];
        const int dr = int(c.r) - int((s >> 16) & 255), dg = int(c.g) - int((s >> 8) & 255), db = int(c.b) - int(s & 255);
        se += dr * dr + dg * dg + db * db;
      }
    const double mse = se / (3.0 * b.Width() * b.Height());
    sum += mse <= 0 ? 100.0 : std::min(100.0, 10 * std::log10(255.0 * 255.0 / mse));
  }
  std::printf("%.3f\n", frames > 0 ? sum / double(frames) : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode == "raw" && argc == 4) || (mode == "psnr" && argc == 5)) {
      paths::SetWorkingFolder(std::filesystem::absolute(argv[2]));
      const long long frames = std::atoll(argv[3]);
      return mode == "raw" ? Raw(frames) : Psnr(frames, argv[4]);
    }
    std::fprintf(stderr, "usage: gif_quality raw WORK_DIR FRAMES | psnr WORK_DIR FRAMES GIF\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gif_quality: %s\n", e.what());
    return 1;
  }
}
