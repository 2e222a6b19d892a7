// Movies with embedded video from other players' test suites: our pictures against
// ffmpeg's decoding of the same movie and against the Flash Player's
// screenshot of it. Each file is skipped when the corpus lacks it.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "player/video/embedded_video.h"
#include "player/video/flv_reader.h"
#include "player/video/flv_video_decoder.h"
#include "player/video/test_streams.h"
#include "player/swf/movie.h"

namespace quarvel::player::video {
namespace {

namespace fs = std::filesystem;

// The samples kept beside this test, unless the environment names another folder.
fs::path CorpusVideoDir() {
  if (const char* dir = std::getenv("QUARVEL_VIDEO_CORPUS")) return dir;
  return fs::path(QUARVEL_SOURCE_DIR) / "tests/video/samples";
}

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// The picture over the stage colour, as the player shows a video placed at
// the origin on an otherwise empty stage.
std::vector<std::uint8_t> OverBackground(const Picture& p, swf::Rgba bg) {
  std::vector<std::uint8_t> out(p.pixels.size());
  for (std::size_t i = 0; i < p.pixels.size(); i += 4) {
    const unsigned a = p.pixels[i + 3];
    const std::uint8_t back[3] = {bg.b, bg.g, bg.r};
    for (int c = 0; c < 3; ++c) out[i + c] = static_cast<std::uint8_t>(p.pixels[i + c] + (back[c] * (255 - a) + 127) / 255);
    out[i + 3] = 255;
  }
  return out;
}

// Mean absolute difference of B, G, R against a PNG of at least the picture's size.
double DiffToPng(const std::vector<std::uint8_t>& bgra, int w, int h, const fs::path& png) {
  SurfacePtr ref(cairo_image_surface_create_from_png(png.c_str()));
  if (cairo_surface_status(ref.get()) != CAIRO_STATUS_SUCCESS) return 255;
  if (cairo_image_surface_get_width(ref.get()) < w || cairo_image_surface_get_height(ref.get()) < h) return 255;
  const unsigned char* data = cairo_image_surface_get_data(ref.get());
  const int stride = cairo_image_surface_get_stride(ref.get());
  double sum = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) {
        sum += std::abs(int{data[y * stride + x * 4 + c]} - int{bgra[(static_cast<std::size_t>(y) * w + x) * 4 + c]});
      }
    }
  }
  return sum / (3.0 * w * h);
}

void Save(const std::vector<std::uint8_t>& bgra, int w, int h, const std::string& name) {
  const char* dir = std::getenv("QUARVEL_VIDEO_OUT");
  if (!dir) return;
  std::vector<std::uint8_t> copy = bgra;
  SurfacePtr s(cairo_image_surface_create_for_data(copy.data(), CAIRO_FORMAT_ARGB32, w, h, w * 4));
  cairo_surface_write_to_png(s.get(), (fs::path(dir) / (name + ".png")).c_str());
}

std::string Name(std::string dir) {
  for (char& c : dir) {
    if (c == '/') c = '_';
  }
  return dir;
}

struct Sample {
  const char* dir;
  VideoCodec codec;
};
void PrintTo(const Sample& s, std::ostream* os) { *os << s.dir; }

class VideoCorpus : public ::testing::TestWithParam<Sample> {};

TEST_P(VideoCorpus, FirstFrameMatchesFfmpegAndFlashPlayer) {
  const Sample& s = GetParam();
  const fs::path dir = CorpusVideoDir() / s.dir;
  if (!fs::exists(dir / "test.swf")) GTEST_SKIP() << dir << " is not in the corpus";
  const swf::Movie movie = swf::LoadMovieFile(dir / "test.swf");
  swf::Rgba background{255, 255, 255, 255};
  for (swf::TagStream tags = movie.TagsStream(); auto t = tags.Next();) {
    if (t->code == swf::tag::kSetBackgroundColor && t->body.size() >= 3) {
      background = {t->body[0], t->body[1], t->body[2], 255};
      break;
    }
  }
  const auto streams = CollectVideoStreams(movie.TagsStream());
  ASSERT_EQ(streams.size(), 1u);
  const VideoStreamDef& stream = streams.begin()->second;
  EXPECT_EQ(stream.codec, s.codec);
  EmbeddedVideo video(stream);
  const auto r = video.Seek(0);
  EXPECT_EQ(r.status, DecodeStatus::kOk) << r.message;
  ASSERT_TRUE(video.HasPicture());
  const Picture& p = video.Current();
  EXPECT_EQ(p.width, stream.width);
  EXPECT_EQ(p.height, stream.height);
  const auto shown = OverBackground(p, background);
  Save(shown, p.width, p.height, Name(s.dir));

  if (testing::HaveFfmpeg()) {
    const auto oracle = testing::OracleFrames(dir / "test.swf", p.width, p.height);
    ASSERT_FALSE(oracle.empty());
    std::vector<std::uint8_t> expected = oracle[0];
    if (s.codec == VideoCodec::kVp6Alpha) {
      // ffmpeg gives the colour planes as coded: colour already multiplied
      // by alpha, which we keep within the alpha as a premultiplied picture must be.
      for (std::size_t i = 0; i < expected.size(); i += 4) {
        for (int c = 0; c < 3; ++c) expected[i + c] = std::min(expected[i + c], expected[i + 3]);
        EXPECT_EQ(p.pixels[i + 3], expected[i + 3]) << "alpha at pixel " << i / 4;
      }
    }
    EXPECT_LE(testing::MeanDiff(p, expected, p.width, p.height), 1.0);
    RecordProperty("ffmpeg_diff", std::to_string(testing::MeanDiff(p, expected, p.width, p.height)));
  }
  // The Flash Player's own picture (its colour conversion differs a little).
  const double flash = DiffToPng(shown, p.width, p.height, dir / "output.expected.png");
  RecordProperty("flash_diff", std::to_string(flash));
  EXPECT_LE(flash, 3.0);
}

INSTANTIATE_TEST_SUITE_P(Ruffle, VideoCorpus,
                         ::testing::Values(Sample{"colorconversion/h263", VideoCodec::kH263},
                                           Sample{"colorconversion/vp6", VideoCodec::kVp6},
                                           Sample{"colorconversion/vp6a", VideoCodec::kVp6Alpha},
                                           Sample{"vp6_dispsize", VideoCodec::kVp6}),
                         [](const auto& info) { return Name(info.param.dir); });

// The same VP6 frames as an FLV file would carry them: the crop byte in
// front of each frame cuts columns on the right and rows at the bottom.
TEST(VideoCorpusFlv, Vp6CropByteCutsThePicture) {
  for (const Sample& s : {Sample{"colorconversion/vp6", VideoCodec::kVp6}, Sample{"colorconversion/vp6a", VideoCodec::kVp6Alpha}}) {
    const fs::path swfPath = CorpusVideoDir() / s.dir / "test.swf";
    if (!fs::exists(swfPath)) GTEST_SKIP() << swfPath << " is not in the corpus";
    const swf::Movie movie = swf::LoadMovieFile(swfPath);
    const auto streams = CollectVideoStreams(movie.TagsStream());
    ASSERT_EQ(streams.size(), 1u);
    const VideoStreamDef& stream = streams.begin()->second;
    EmbeddedVideo embedded(stream);
    embedded.Seek(0);
    const Picture& full = embedded.Current();

    const std::uint8_t crop = 0x53;  // 5 columns, 3 rows
    std::vector<std::uint8_t> flv = {'F', 'L', 'V', 1, 1, 0, 0, 0, 9, 0, 0, 0, 0};
    for (const auto& [number, data] : stream.frames) {
      std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(0x10 | static_cast<int>(s.codec)), crop};
      body.insert(body.end(), data.begin(), data.end());
      const std::size_t n = body.size();
      const std::uint32_t ms = number * 100u;
      flv.insert(flv.end(), {9, static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                             static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(ms >> 16),
                             static_cast<std::uint8_t>(ms >> 8), static_cast<std::uint8_t>(ms), 0, 0, 0, 0});
      flv.insert(flv.end(), body.begin(), body.end());
      flv.insert(flv.end(), {0, 0, 0, 0});
    }
    const FlvFile file = ReadFlv(flv);
    FlvVideoDecoder dec(file);
    ASSERT_TRUE(dec.Next());
    const Picture& cut = dec.Current();
    ASSERT_EQ(cut.width, full.width - 5) << s.dir;
    ASSERT_EQ(cut.height, full.height - 3) << s.dir;
    // The same pixels, not shifted, up to the conversion's rounding at another width.
    double sum = 0;
    for (int y = 0; y < cut.height; ++y) {
      for (int x = 0; x < cut.width; ++x) {
        for (int c = 0; c < 4; ++c) {
          const int d = std::abs(cut.pixels[(static_cast<std::size_t>(y) * cut.width + x) * 4 + c] -
                                 full.pixels[(static_cast<std::size_t>(y) * full.width + x) * 4 + c]);
          sum += d;
        }
      }
    }
    EXPECT_LE(sum / (4.0 * cut.width * cut.height), 1.0) << s.dir;
  }
}

// Streams declared far smaller than their coded pictures: the picture is
// cut to a sliver, and the conversion stays inside it.
TEST(VideoCorpusNarrow, Vp6CutToDeclaredSliver) {
  const fs::path swfPath = CorpusVideoDir() / "colorconversion/vp6/test.swf";
  if (!fs::exists(swfPath)) GTEST_SKIP() << swfPath << " is not in the corpus";
  const swf::Movie movie = swf::LoadMovieFile(swfPath);
  const auto streams = CollectVideoStreams(movie.TagsStream());
  ASSERT_EQ(streams.size(), 1u);
  EmbeddedVideo whole(streams.begin()->second);
  whole.Seek(0);
  const Picture full = whole.Current();
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{3, 2}, std::pair{17, 5}}) {
    VideoStreamDef narrow = streams.begin()->second;
    narrow.width = static_cast<std::uint16_t>(w);
    narrow.height = static_cast<std::uint16_t>(h);
    EmbeddedVideo video(narrow);
    video.Seek(0);
    const Picture& p = video.Current();
    ASSERT_EQ(p.width, w);
    ASSERT_EQ(p.height, h);
    ASSERT_EQ(p.pixels.size(), static_cast<std::size_t>(w * h * 4));
    for (int y = 0; y < h; ++y) {
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(p.pixels[static_cast<std::size_t>(y * w) * 4 + c], full.pixels[static_cast<std::size_t>(y * full.width) * 4 + c], 8)
            << w << "x" << h << " row " << y;
      }
    }
  }
}

}  // namespace
}  // namespace quarvel::player::video
