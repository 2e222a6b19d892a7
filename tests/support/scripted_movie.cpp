#include "support/scripted_movie.h"

#include <algorithm>

#include <zlib.h>

#include <fstream>
#include <stdexcept>

#include "player/swf/movie.h"

namespace quarvel::testing {

void ScriptedMovie::Play() {
  calls.push_back("Play");
  if (!loaded_ || playing_) return;
  playing_ = true;
  anchor_ms_ = now_;
  anchor_frame_ = current_;
}

void ScriptedMovie::Stop() {
  calls.push_back("Stop");
  playing_ = false;
}

void ScriptedMovie::GotoFrame(int frame) {
  gotos_.push_back(frame);
  if (!loaded_) return;
  current_ = frame < 0 ? 0 : frame >= total_ ? total_ - 1 : frame;
  anchor_ms_ = now_;
  anchor_frame_ = current_;
}

void ScriptedMovie::SetMovie(const std::string& path) {
  calls.push_back("SetMovie " + path);
  movie_ = path;
  loaded_ = false;
  playing_ = false;
  current_ = 0;
  if (scripted) {
    total_ = total;
    loaded_ = loads && total_ > 0;
  } else {
    try {
      const swf::Movie movie = swf::LoadMovieFile(path);
      total_ = movie.header.frameCount;
      fps_ = movie.header.FrameRate() > 0 ? movie.header.FrameRate() : 12;
      loaded_ = total_ > 0;
    } catch (const std::exception&) {
      return;
    }
  }
  playing_ = loaded_;
  anchor_ms_ = now_;
  anchor_frame_ = 0;
}

void ScriptedMovie::Unload() {
  calls.push_back("Unload");
  loaded_ = false;
  playing_ = false;
  current_ = 0;
}

void ScriptedMovie::SetSize(int width, int height) {
  width_ = width;
  height_ = height;
}

long long ScriptedMovie::FramesIn(std::int64_t ms) const {
  return scripted ? ms / std::max(period_ms, 1) : static_cast<long long>(ms * fps_ / 1000);
}

void ScriptedMovie::AdvanceTo(std::int64_t ms) {
  if (ms <= now_) return;
  now_ = ms;
  if (!loaded_ || !playing_) return;
  long long frame = anchor_frame_ + FramesIn(now_ - anchor_ms_);
  const int stop = stop_at >= 0 ? stop_at : stop_at_end ? total_ - 1 : -1;
  if (stop >= 0 && frame >= stop) {
    current_ = stop;
    playing_ = false;
    return;
  }
  if (frame >= total_) frame = loop ? frame % total_ : total_ - 1;
  current_ = static_cast<int>(frame);
}

void ScriptedMovie::Paint(gdi::Bitmap& target) const {
  if (target.Width() != width_ || target.Height() != height_ || target.Format() != gdi::PixelFormat::pfDevice) {
    target = gdi::Bitmap(width_, height_, gdi::PixelFormat::pfDevice);
  }
  if (!loaded_) {
    target.Fill(gdi::Color{255, 255, 255});
    return;
  }
  if (border_only) {
    target.Fill(gdi::Color{40, 40, 40});
    const int w = width_ - 1, h = height_ - 1;
    const std::pair<int, int> spots[] = {{0, 0}, {w, 0}, {0, h}, {w, h}, {w / 2, 0}, {w / 2, h}, {0, h / 2}, {w, h / 2}};
    const auto [x, y] = spots[current_ % 8];
    target.SetPixel(x, y, gdi::Color{255, 255, 255});
    return;
  }
  // A colour per frame, and across the middle a bar in the background colour
  // whose length follows the frame.
  const int f = still ? 7 : current_;
  target.Fill(gdi::Color{static_cast<std::uint8_t>(f * 20), static_cast<std::uint8_t>(255 - f), 9});
  const int bar = total_ > 0 ? (f % total_ + 1) * width_ / total_ : 0;
  gdi::FillRect(target, gdi::Rect{0, height_ / 3, bar, 2 * height_ / 3},
                gdi::Color::FromRgb(static_cast<std::uint32_t>(background_ < 0 ? 0xFFFFFF : background_)));
  if (!transparent_) return;
  for (int y = 0; y < height_; ++y) {
    std::uint8_t* row = target.ScanLine(y);
    const bool in_bar_rows = y >= height_ / 3 && y < 2 * height_ / 3;
    for (int x = 0; x < width_; ++x) {
      const bool clear = in_bar_rows && x < bar;
      row[4 * x + 3] = clear ? 0 : 255;
      if (clear) row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = 0;  // straight alpha: no colour under clear
    }
  }
}

namespace {

class BitWriter {
 public:
  void Put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      acc_ = static_cast<std::uint8_t>((acc_ << 1) | ((value >> i) & 1));
      if (++count_ == 8) Flush();
    }
  }
  std::vector<std::uint8_t> Take() {
    if (count_ > 0) {
      acc_ = static_cast<std::uint8_t>(acc_ << (8 - count_));
      Flush();
    }
    return std::move(out_);
  }

 private:
  void Flush() {
    out_.push_back(acc_);
    acc_ = 0;
    count_ = 0;
  }
  std::vector<std::uint8_t> out_;
  std::uint8_t acc_ = 0;
  int count_ = 0;
};

}  // namespace

void WriteTinySwf(const std::string& path, int width, int height, int fps, int frames, bool compressed) {
  BitWriter rect;
  rect.Put(16, 5);
  rect.Put(0, 16);
  rect.Put(static_cast<std::uint32_t>(width * 20), 16);
  rect.Put(0, 16);
  rect.Put(static_cast<std::uint32_t>(height * 20), 16);
  std::vector<std::uint8_t> body = rect.Take();
  body.push_back(0);
  body.push_back(static_cast<std::uint8_t>(fps));
  body.push_back(static_cast<std::uint8_t>(frames & 0xFF));
  body.push_back(static_cast<std::uint8_t>(frames >> 8));
  // SetBackgroundColor white, then ShowFrame tags, then End.
  body.insert(body.end(), {0x43, 0x02, 0xFF, 0xFF, 0xFF});
  for (int i = 0; i < frames; ++i) body.insert(body.end(), {0x40, 0x00});
  body.insert(body.end(), {0x00, 0x00});
  const std::uint32_t length = static_cast<std::uint32_t>(8 + body.size());
  std::vector<std::uint8_t> file = {static_cast<std::uint8_t>(compressed ? 'C' : 'F'), 'W', 'S', 8,
                                    static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                    static_cast<std::uint8_t>(length >> 16),
                                    static_cast<std::uint8_t>(length >> 24)};
  if (compressed) {
    uLongf size = compressBound(static_cast<uLong>(body.size()));
    std::vector<std::uint8_t> packed(size);
    if (compress2(packed.data(), &size, body.data(), static_cast<uLong>(body.size()), 9) != Z_OK) {
      throw std::runtime_error("compress failed");
    }
    packed.resize(size);
    body = std::move(packed);
  }
  file.insert(file.end(), body.begin(), body.end());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace quarvel::testing
