#include "app/scripted_movie.h"

#include <zlib.h>

#include <fstream>
#include <stdexcept>

#include "platform/swf/movie.h"

namespace quarvel::testing {

void ScriptedMovie::Play() {
  if (!loaded_ || playing_) return;
  playing_ = true;
  anchor_ms_ = now_;
  anchor_frame_ = current_;
}

void ScriptedMovie::Stop() { playing_ = false; }

void ScriptedMovie::GotoFrame(int frame) {
  gotos_.push_back(frame);
  if (!loaded_) return;
  current_ = frame < 0 ? 0 : frame >= total_ ? total_ - 1 : frame;
  anchor_ms_ = now_;
  anchor_frame_ = current_;
}

void ScriptedMovie::SetMovie(const std::string& path) {
  movie_ = path;
  loaded_ = false;
  playing_ = false;
  current_ = 0;
  try {
    const swf::Movie movie = swf::LoadMovieFile(path);
    total_ = movie.header.frameCount;
    fps_ = movie.header.FrameRate() > 0 ? movie.header.FrameRate() : 12;
    loaded_ = total_ > 0;
  } catch (const std::exception&) {
    return;
  }
  playing_ = loaded_;
  anchor_ms_ = now_;
  anchor_frame_ = 0;
}

void ScriptedMovie::SetSize(int width, int height) {
  width_ = width;
  height_ = height;
}

void ScriptedMovie::AdvanceTo(std::int64_t ms) {
  if (ms <= now_) return;
  now_ = ms;
  if (!loaded_ || !playing_) return;
  const auto passed = static_cast<long long>((now_ - anchor_ms_) * fps_ / 1000);
  long long frame = anchor_frame_ + passed;
  if (frame >= total_) {
    if (stop_at_end) {
      current_ = total_ - 1;
      playing_ = false;
      return;
    }
    frame %= total_;
  }
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
  // A bar whose length follows the frame, over the background colour.
  target.Fill(gdi::Color::FromRgb(static_cast<std::uint32_t>(background_ < 0 ? 0xFFFFFF : background_)));
  const int bar = total_ > 0 ? (current_ + 1) * width_ / total_ : 0;
  gdi::FillRect(target, gdi::Rect{0, height_ / 3, bar, 2 * height_ / 3},
                gdi::Color{static_cast<std::uint8_t>(current_ * 37), 80, 200});
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
