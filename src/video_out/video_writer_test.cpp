// The writer checked by independent readers: ffprobe/ffmpeg for the video
// formats and APNG, libwebp's own animation decoder for WebP.
#include "video_out/video_writer.h"

#include <gtest/gtest.h>

#include <webp/decode.h>
#include <webp/encode.h>

#include <cmath>

#include "outputs/video_oracle.h"
#include "capture/frame_store.h"
#include "video_out/ffmpeg_calls.h"
#include "platform/paths/working_folder.h"

namespace quarvel::video_out {
namespace {

namespace fs = std::filesystem;
using avi_test::Probe;
using avi_test::Quote;
using avi_test::Run;
using avi_test::TempDir;
using gdi::Bitmap;
using namespace video_test;

constexpr int kLatency = 100;

// What a movie looks like: a soft gradient behind flat shapes that move
// and change colour. With alpha, a clear band on the left and a
// half-covered one in the middle.
Bitmap Picture(int i, int w, int h, bool alpha) {
  Bitmap b(w, h, gdi::PixelFormat::pf32bit);
  const int side = std::max(2, std::min(w, h) / 3);
  const int x0 = (i * 3) % std::max(1, w - side), y0 = (i * 2) % std::max(1, h - side);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = row + x * 4;
      const bool square = x >= x0 && x < x0 + side && y >= y0 && y < y0 + side;
      const bool bar = y > h * 2 / 3 && x < (i * 5) % w;
      p[0] = square ? 230 : bar ? 30 : std::uint8_t(200 - y);
      p[1] = square ? std::uint8_t(20 + 10 * i) : bar ? 200 : std::uint8_t(60 + x / 2);
      p[2] = square ? 40 : bar ? 250 : std::uint8_t(x * 255 / std::max(1, w - 1));
      p[3] = !alpha ? 255 : x < w / 4 ? 0 : x < w / 2 ? 128 : 255;
    }
  }
  return b;
}

double FormatSeconds(const fs::path& file) {
  const std::string text = Run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(file));
  return text.empty() || text[0] == 'N' ? -1 : std::stod(text);
}

class VideoWriterTest : public ::testing::Test {
 protected:
  TempDir dir_{"qvideo"};
  std::vector<Bitmap> frames_;
  std::vector<std::string> notes_;

  void SetUp() override { Av().av_log_set_level(AV_LOG_ERROR); }

  VideoWriteOptions Options(const std::string& name, int n, int w, int h, bool alpha = false) {
    frames_.clear();
    for (int i = 0; i < n; ++i) frames_.push_back(Picture(i, w, h, alpha));
    VideoWriteOptions o;
    o.output = dir_.Path() / name;
    o.format = *FormatForExtension(o.output.extension().string());
    o.request.alpha = alpha;
    o.frame_count = n;
    o.latency_ms = kLatency;
    o.frames = [this](long long i) -> const Bitmap& { return frames_[std::size_t(i)]; };
    return o;
  }

  VideoWriteResult Write(const VideoWriteOptions& o) {
    VideoWriteCallbacks cb;
    cb.note = [this](const std::string& t) { notes_.push_back(t); };
    return WriteVideo(o, cb);
  }
};

TEST_F(VideoWriterTest, LossyVideosHoldEveryFrameCloseToTheStoreWithSoundInStep) {
  const fs::path wav = dir_.Path() / "rec.wav";
  avi_test::WritePcmWave(wav, 44100, 2, 2.0);
  struct Case {
    const char* name;
    const char* video;
    const char* audio;
  };
  for (const Case& c : {Case{"a.mp4", "h264", "aac"}, Case{"a.webm", "vp9", "opus"}, Case{"a.mkv", "h264", "aac"},
                        Case{"a.mov", "h264", "aac"}}) {
    SCOPED_TRACE(c.name);
    VideoWriteOptions o = Options(c.name, 20, 192, 128);
    o.recording = wav;
    const VideoWriteResult r = Write(o);
    EXPECT_TRUE(r.sound);
    auto streams = Probe(o.output);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]["codec_name"], c.video);
    EXPECT_EQ(streams[0]["width"], "192");
    EXPECT_EQ(streams[0]["height"], "128");
    EXPECT_EQ(streams[0]["pix_fmt"], "yuv420p");
    EXPECT_EQ(streams[0]["nb_read_packets"], "20");
    EXPECT_EQ(streams[1]["codec_name"], c.audio);
    // Sound starts with the pictures (within one frame period) and ends with them.
    const double v0 = avi_test::ToSeconds(streams[0]["start_time"]), a0 = avi_test::ToSeconds(streams[1]["start_time"]);
    EXPECT_LE(std::abs(v0 - a0), kLatency / 1000.0) << v0 << " " << a0;
    EXPECT_NEAR(FormatSeconds(o.output), 2.0, 0.1);
    EXPECT_NEAR(PictureSeconds(o.output), 2.0, 0.01);
    auto decoded = DecodeWithFfmpeg(o.output, 192, 128);
    ASSERT_EQ(decoded.size(), 20u);
    for (std::size_t i = 0; i < decoded.size(); ++i)
      EXPECT_LE(MeanColourDifference(decoded[i], TopDownRgba(frames_[i], false)), 3.0) << "frame " << i;
  }
}

TEST_F(VideoWriterTest, LosslessAnimationsArePixelExactWithTheirTiming) {
  // Odd sizes need no padding here.
  VideoWriteOptions o = Options("a.png", 6, 33, 25);
  Write(o);
  auto streams = Probe(o.output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["codec_name"], "apng");
  auto decoded = DecodeWithFfmpeg(o.output, 33, 25);
  ASSERT_EQ(decoded.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(decoded[i], TopDownRgba(frames_[i], false)) << "frame " << i;

  VideoWriteOptions w = Options("a.webp", 6, 33, 25);
  Write(w);
  const WebpAnimation webp = DecodeWebp(w.output);
  ASSERT_EQ(webp.frames.size(), 6u);
  EXPECT_EQ(webp.width, 33);
  EXPECT_EQ(webp.height, 25);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(webp.frames[i], TopDownRgba(frames_[i], false)) << "frame " << i;
    EXPECT_EQ(webp.end_ms[i], int(i + 1) * kLatency);
  }
  EXPECT_TRUE(notes_.empty());
}

TEST_F(VideoWriterTest, LossyWebpFollowsTheQuality) {
  VideoWriteOptions o = Options("q.webp", 4, 64, 48);
  o.request.quality = 90;
  Write(o);
  const auto webp = DecodeWebp(o.output).frames;
  ASSERT_EQ(webp.size(), 4u);
  EXPECT_NE(webp[1], TopDownRgba(frames_[1], false)) << "lossy";
  EXPECT_LE(MeanColourDifference(webp[1], TopDownRgba(frames_[1], false)), 3.0);
}

// The largest mean colour difference of any 8 x 8 block of two pictures.
double WorstBlockDifference(const Rgba& a, const Rgba& b, int w, int h) {
  double worst = 0;
  for (int by = 0; by < h; by += 8)
    for (int bx = 0; bx < w; bx += 8) {
      double sum = 0;
      int n = 0;
      for (int y = by; y < std::min(h, by + 8); ++y)
        for (int x = bx; x < std::min(w, bx + 8); ++x)
          for (int c = 0; c < 3; ++c, ++n) {
            const std::size_t i = (std::size_t(y) * std::size_t(w) + std::size_t(x)) * 4 + std::size_t(c);
            sum += std::abs(int(a[i]) - int(b[i]));
          }
      worst = std::max(worst, sum / n);
    }
  return worst;
}

// The picture encoded alone by libwebp at the quality, and decoded again.
Rgba LossyStill(const Rgba& rgba, int w, int h, float quality) {
  std::uint8_t* bytes = nullptr;
  const std::size_t size = WebPEncodeRGBA(rgba.data(), w, h, w * 4, quality, &bytes);
  int dw = 0, dh = 0;
  std::uint8_t* decoded = size > 0 ? WebPDecodeRGBA(bytes, size, &dw, &dh) : nullptr;
  Rgba out = decoded != nullptr ? Rgba(decoded, decoded + std::size_t(dw) * std::size_t(dh) * 4) : Rgba();
  WebPFree(decoded);
  WebPFree(bytes);
  return out;
}

TEST_F(VideoWriterTest, LossyWebpFramesKeepNoTracesOfEarlierOnes) {
  // The square changes its colour a little at every frame and moves on: a
  // frame built over the one before from blocks only close to it keeps the
  // earlier colours there, and seams at the blocks' edges. Each frame is to
  // be as close to its picture as the picture encoded alone.
  VideoWriteOptions o = Options("ghost.webp", 12, 96, 64);
  // And the whole picture brightens a little at every frame.
  for (std::size_t i = 0; i < frames_.size(); ++i)
    for (int y = 0; y < 64; ++y) {
      std::uint8_t* row = frames_[i].ScanLine(y);
      for (int x = 0; x < 96 * 4; ++x)
        if (x % 4 != 3) row[x] = std::uint8_t(std::min(255, row[x] / 2 + 3 * int(i)));
    }
  o.request.quality = 75;
  Write(o);
  const auto webp = DecodeWebp(o.output).frames;
  ASSERT_EQ(webp.size(), 12u);
  for (std::size_t i = 0; i < webp.size(); ++i) {
    const Rgba picture = TopDownRgba(frames_[i], false);
    const double alone = WorstBlockDifference(LossyStill(picture, 96, 64, 75), picture, 96, 64);
    EXPECT_LE(WorstBlockDifference(webp[i], picture, 96, 64), alone * 1.25 + 1) << "frame " << i;
  }
}

TEST_F(VideoWriterTest, TransparencySurvivesInApngWebpAndWebm) {
  auto check_alpha = [](const Rgba& frame, int w, int tolerance) {
    // Row 0: clear, half, opaque bands.
    EXPECT_NEAR(frame[std::size_t(1) * 4 + 3], 0, tolerance);
    EXPECT_NEAR(frame[std::size_t(w * 3 / 8) * 4 + 3], 128, tolerance);
    EXPECT_NEAR(frame[std::size_t(w - 2) * 4 + 3], 255, tolerance);
  };
  VideoWriteOptions png = Options("t.png", 3, 40, 30, true);
  Write(png);
  auto decoded = DecodeWithFfmpeg(png.output, 40, 30);
  ASSERT_EQ(decoded.size(), 3u);
  EXPECT_EQ(decoded[2], TopDownRgba(frames_[2], true));

  VideoWriteOptions webp = Options("t.webp", 3, 40, 30, true);
  Write(webp);
  const auto frames = DecodeWebp(webp.output).frames;
  ASSERT_EQ(frames.size(), 3u);
  check_alpha(frames[2], 40, 0);

  VideoWriteOptions webm = Options("t.webm", 3, 40, 30, true);
  Write(webm);
  auto vp9 = DecodeWithFfmpeg(webm.output, 40, 30, "libvpx-vp9");
  ASSERT_EQ(vp9.size(), 3u);
  check_alpha(vp9[2], 40, 12);
}

TEST_F(VideoWriterTest, OddSizesArePaddedForH264AndSaidOnce) {
  VideoWriteOptions o = Options("odd.mp4", 5, 33, 25);
  const VideoWriteResult r = Write(o);
  EXPECT_EQ(r.width, 34);
  EXPECT_EQ(r.height, 26);
  auto streams = Probe(o.output);
  ASSERT_EQ(streams.size(), 1u) << "no recording, no sound stream";
  EXPECT_EQ(streams[0]["width"], "34");
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_NE(notes_[0].find("33x25 padded to 34x26"), std::string::npos) << notes_[0];
  // The margin repeats the edge rather than darkening it.
  auto decoded = DecodeWithFfmpeg(o.output, 34, 26);
  ASSERT_EQ(decoded.size(), 5u);
  const Rgba& f = decoded[0];
  const std::size_t last = (std::size_t(25) * 34 + 33) * 4, inner = (std::size_t(24) * 34 + 32) * 4;
  EXPECT_NEAR(f[last], f[inner], 12);
}

TEST_F(VideoWriterTest, MissingStoreFilesRepeatTheFrameBefore) {
  paths::SetWorkingFolder(dir_.Path());
  fs::create_directories(paths::CaptureFolder());
  // With alpha, as a capture on a transparent background stores them.
  const Bitmap a = Picture(1, 24, 16, true), c = Picture(5, 24, 16, true);
  capture::SaveFrameFile(a, 1);
  capture::SaveFrameFile(c, 3);
  VideoWriteOptions o;
  o.output = dir_.Path() / "store.png";
  o.format = *FormatForName("apng");
  o.request.alpha = true;
  o.frame_count = 3;
  o.latency_ms = 250;
  Write(o);
  auto decoded = DecodeWithFfmpeg(o.output, 24, 16);
  ASSERT_EQ(decoded.size(), 3u);
  EXPECT_EQ(decoded[0], TopDownRgba(a, true));
  EXPECT_EQ(decoded[1], TopDownRgba(a, true));
  EXPECT_EQ(decoded[2], TopDownRgba(c, true));
  EXPECT_NEAR(PictureSeconds(o.output), 0.75, 0.001);
}

TEST_F(VideoWriterTest, FailuresNameTheFile) {
  VideoWriteOptions o = Options("none.mp4", 2, 16, 16);
  o.output = dir_.Path() / "no-such-folder" / "x.mp4";
  try {
    Write(o);
    FAIL() << "wrote into a missing folder";
  } catch (const VideoError& e) {
    EXPECT_NE(std::string(e.what()).find("x.mp4"), std::string::npos) << e.what();
  }
  VideoWriteOptions alpha = Options("alpha.mp4", 2, 16, 16, true);
  EXPECT_THROW(Write(alpha), VideoError);
  EXPECT_FALSE(fs::exists(alpha.output)) << "refused before any work";
  // A source that gives an empty picture part way.
  VideoWriteOptions holes = Options("holes.webm", 4, 16, 16);
  const Bitmap empty;
  holes.frames = [this, &empty](long long i) -> const Bitmap& { return i == 2 ? empty : frames_[std::size_t(i)]; };
  try {
    Write(holes);
    ADD_FAILURE() << "wrote an empty frame";
  } catch (const VideoError& e) {
    EXPECT_NE(std::string(e.what()).find("frame 3 is empty"), std::string::npos) << e.what();
  }
  // A progress callback that throws (Ctrl-C) stops the write with its error.
  VideoWriteOptions stop = Options("stop.webm", 8, 16, 16);
  VideoWriteCallbacks cb;
  cb.progress = [](long long n) {
    if (n == 3) throw std::runtime_error("interrupted");
  };
  EXPECT_THROW(WriteVideo(stop, cb), std::runtime_error);
}

}  // namespace
}  // namespace quarvel::video_out
