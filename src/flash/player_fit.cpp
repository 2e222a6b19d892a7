#include "flash/player_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "player/swf/movie.h"

namespace quarvel::flash {

PlayerLayout FitPlayerLayout(const SwfBounds& movie, const PlayerLayout& current, int maxWidth,
                             int maxHeight) {
  PlayerLayout p = current;
  const std::int64_t w = std::int64_t{movie.xmax} - movie.xmin;
  const std::int64_t h = std::int64_t{movie.ymax} - movie.ymin;
  auto set_width = [&](std::int64_t v) {
    p.width = static_cast<int>(std::max<std::int64_t>(v, 0));
    p.gripLeft = p.left + p.width - 8;
  };
  auto set_height = [&](std::int64_t v) {
    p.height = static_cast<int>(std::max<std::int64_t>(v, 0));
    p.gripTop = p.top + p.height - 8;
  };
  if (w < maxWidth) {
    set_width(w);
  } else if (w > 0) {
    set_height(h * maxWidth / w);
  }
  if (h < maxHeight) set_height(h);
  return p;
}

CaptureSize FitCaptureSize(const SwfBounds& movie, int maxWidth, int maxHeight) {
  const double w = std::max<std::int64_t>(std::int64_t{movie.xmax} - movie.xmin, 1);
  const double h = std::max<std::int64_t>(std::int64_t{movie.ymax} - movie.ymin, 1);
  double scale = 1.0;
  if (w >= maxWidth) scale = std::min(scale, std::max(maxWidth, 1) / w);
  if (h >= maxHeight) scale = std::min(scale, std::max(maxHeight, 1) / h);
  const auto side = [&](double v) { return static_cast<int>(std::max(1.0, std::round(v * scale))); };
  return {side(w), side(h)};
}

MovieFit FitPlayerToMovie(const std::filesystem::path& path, const PlayerLayout& current,
                          int maxWidth, int maxHeight) {
  const std::vector<std::uint8_t> bytes = swf::ReadFileBytes(path);
  MovieFit fit;
  try {
    fit.bounds = ReadSwfHeader(bytes);
    fit.framesPerSecond = ReadSwfFrameRate(bytes);
  } catch (const swf::SwfError& e) {
    throw e.InFile(path.string());
  }
  fit.layout = FitPlayerLayout(fit.bounds, current, maxWidth, maxHeight);
  return fit;
}

MovieFit FitPlayerToMovie(const swf::Movie& opened, const PlayerLayout& current, int maxWidth, int maxHeight) {
  MovieFit fit;
  fit.bounds = ReadSwfHeader(opened);
  fit.framesPerSecond = opened.header.frameRate >> 8;
  fit.layout = FitPlayerLayout(fit.bounds, current, maxWidth, maxHeight);
  return fit;
}

}  // namespace quarvel::flash
