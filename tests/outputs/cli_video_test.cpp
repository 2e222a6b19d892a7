// quarvel-cli writing MP4, WebM, MKV, MOV, animated WebP and APNG from the
// sample movie and corpus movies, checked against the frame store it read.
#include <gtest/gtest.h>

#include <regex>

#include "capture/frame_store.h"
#include "cli/cli_run.h"
#include "outputs/video_oracle.h"

namespace quarvel::video_test {
namespace {

using testing::CliResult;
using testing::CliRunner;
using testing::SampleMovie;

long long CapturedFrames(const CliRunner& cli) {
  const std::string record = testing::ReadText(cli.WorkDir() / "temp" / "last-capture.txt");
  std::smatch m;
  if (!std::regex_search(record, m, std::regex("frames=(\\d+)"))) return -1;
  return std::stoll(m[1]);
}

// The store's frames as the writers read them: a missing file repeats the one before.
std::vector<Rgba> StoreFrames(const CliRunner& cli, long long count) {
  std::vector<Rgba> out;
  for (long long n = 1; n <= count; ++n) {
    const fs::path file = cli.WorkDir() / "temp" / (std::to_string(n) + ".bmp");
    if (fs::exists(file))
      out.push_back(TopDownRgba(capture::LoadFramePicture(file)));
    else
      out.push_back(out.back());
  }
  return out;
}

double SoundStart(const fs::path& file) {
  return avi_test::ToSeconds(Run("ffprobe -v error -select_streams a:0 -show_entries stream=start_time -of csv=p=0 " +
                                 Quote(file)));
}

double VideoStart(const fs::path& file) {
  return avi_test::ToSeconds(Run("ffprobe -v error -select_streams v:0 -show_entries stream=start_time -of csv=p=0 " +
                                 Quote(file)));
}

std::vector<std::string> TopLevelAtoms(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> names;
  std::uint8_t head[8];
  while (in.read(reinterpret_cast<char*>(head), 8)) {
    const std::uint32_t size = std::uint32_t(head[0]) << 24 | std::uint32_t(head[1]) << 16 | std::uint32_t(head[2]) << 8 | head[3];
    names.emplace_back(reinterpret_cast<char*>(head + 4), 4);
    if (size < 8) break;
    in.seekg(size - 8, std::ios::cur);
  }
  return names;
}

class CliVideo : public ::testing::Test {
 protected:
  static constexpr int kLatency = 100;
  CliRunner cli_{"video"};

  // One capture of the sample movie (276 x 200, with its sound as PCM).
  long long Capture() {
    CliResult r = cli_.Run({"capture", SampleMovie(), "--latency", std::to_string(kLatency), "--size", "276x200",
                            "--sound", "pcm"});
    EXPECT_EQ(r.status, 0) << r.err;
    return CapturedFrames(cli_);
  }
};

TEST_F(CliVideo, EveryFormatHoldsTheStoreWithItsTimingAndSound) {
  const long long frames = Capture();
  ASSERT_GT(frames, 5);
  const std::vector<Rgba> store = StoreFrames(cli_, frames);
  struct Case {
    const char* name;
    const char* codec;
    const char* sound;  // "" for none
    bool lossless;
  };
  for (const Case& c : {Case{"a.mp4", "h264", "aac", false}, Case{"a.webm", "vp9", "opus", false},
                        Case{"a.mkv", "h264", "aac", false}, Case{"a.mov", "h264", "aac", false},
                        Case{"a.png", "apng", "", true}, Case{"a.apng", "apng", "", true}}) {
    SCOPED_TRACE(c.name);
    const fs::path out = cli_.Folder() / c.name;
    CliResult r = cli_.Run({"video", out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    auto streams = avi_test::Probe(out);
    ASSERT_EQ(streams.size(), c.sound[0] ? 2u : 1u);
    EXPECT_EQ(streams[0]["codec_name"], c.codec);
    EXPECT_EQ(streams[0]["width"], "276");
    EXPECT_EQ(streams[0]["height"], "200");
    EXPECT_EQ(streams[0]["nb_read_packets"], std::to_string(frames));
    EXPECT_NEAR(PictureSeconds(out), frames * kLatency / 1000.0, 0.002);
    if (c.sound[0]) {
      EXPECT_EQ(streams[1]["codec_name"], c.sound);
      EXPECT_LE(std::abs(SoundStart(out) - VideoStart(out)), kLatency / 1000.0);
    }
    const auto decoded = DecodeWithFfmpeg(out, 276, 200);
    ASSERT_EQ(decoded.size(), std::size_t(frames));
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      if (c.lossless)
        EXPECT_TRUE(decoded[i] == store[i]) << "frame " << i;
      else
        EXPECT_LE(MeanColourDifference(decoded[i], store[i]), 3.0) << "frame " << i;
    }
  }
  const fs::path webp = cli_.Folder() / "a.webp";
  CliResult r = cli_.Run({"video", webp.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const WebpAnimation anim = DecodeWebp(webp);
  ASSERT_EQ(anim.frames.size(), std::size_t(frames));
  EXPECT_EQ(anim.width, 276);
  for (std::size_t i = 0; i < anim.frames.size(); ++i) {
    EXPECT_TRUE(anim.frames[i] == store[i]) << "frame " << i;
    EXPECT_EQ(anim.end_ms[i], int(i + 1) * kLatency);
  }
}

TEST_F(CliVideo, ConvertChoosesByExtensionAndKeepsTheSoundInStep) {
  const fs::path corpus = fs::path(QUARVEL_SHARED_DIR) / "corpus" / "generated-ffmpeg" / "mp3-stream-44k-stereo.swf";
  if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus movie " << corpus;
  const fs::path out = cli_.Folder() / "stream.mp4";
  CliResult r = cli_.Run({"convert", corpus.string(), out.string(), "--latency", "100", "--crf", "20", "--preset",
                          "veryfast"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, fs::absolute(out).string() + "\n");
  auto streams = avi_test::Probe(out);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]["codec_name"], "h264");
  EXPECT_EQ(streams[1]["codec_name"], "aac");
  const long long frames = CapturedFrames(cli_);
  EXPECT_EQ(streams[0]["nb_read_packets"], std::to_string(frames));
  EXPECT_LE(std::abs(SoundStart(out) - VideoStart(out)), 0.1);
  // The sound is the movie's, not silence, and lasts as long as the pictures.
  const std::string volume = avi_test::Run("ffmpeg -v info -nostats -i " + Quote(out) + " -map 0:a -af volumedetect -f null - 2>&1");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(volume, m, std::regex("max_volume: (-?[0-9.]+) dB"))) << volume;
  EXPECT_GT(std::stod(m[1]), -30.0);
  EXPECT_NEAR(avi_test::StreamSeconds(streams[1]), frames * 0.1, 0.1);
  // Faststart: the index comes before the pictures.
  const std::vector<std::string> atoms = TopLevelAtoms(out);
  const auto moov = std::find(atoms.begin(), atoms.end(), "moov"), mdat = std::find(atoms.begin(), atoms.end(), "mdat");
  EXPECT_TRUE(moov != atoms.end() && moov < mdat);
}

TEST_F(CliVideo, RequestsNoFormatCanHoldFailBeforeAnyWork) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const std::string out = (cli_.Folder() / "x").string();
  for (const Case& c : {Case{{"convert", SampleMovie(), out + ".mpg"}, ".webm"},
                        Case{{"convert", SampleMovie(), out + ".png", "--crf", "20"}, "lossless"},
                        Case{{"convert", SampleMovie(), out + ".mp4", "--quality", "80"}, "--crf"},
                        Case{{"convert", SampleMovie(), out + ".avi", "--quality", "80"}, "highest"},
                        Case{{"convert", SampleMovie(), out + ".webm", "--crf", "64"}, "--crf"},
                        Case{{"video", out + ".ogv"}, ".mp4"}}) {
    SCOPED_TRACE(c.args[c.args.size() > 3 ? 2 : 1]);
    CliResult r = cli_.Run(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(cli_.WorkDir() / "temp" / "last-capture.txt")) << "no capture was made";
  }
}

TEST_F(CliVideo, AFailedWriteLeavesNoPartialFile) {
  const long long frames = Capture();
  ASSERT_GT(frames, 3);
  // A damaged frame file part way through the store.
  std::ofstream(cli_.WorkDir() / "temp" / "3.bmp", std::ios::binary) << "not a frame";
  const fs::path out = cli_.Folder() / "broken.mp4";
  CliResult r = cli_.Run({"video", out.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("3.bmp"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
  for (const auto& e : fs::directory_iterator(cli_.Folder()))
    EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
}

TEST_F(CliVideo, OddSizesArePaddedAndSaidOnce) {
  CliResult c = cli_.Run({"capture", SampleMovie(), "--size", "275x201", "--sound", "none"});
  ASSERT_EQ(c.status, 0) << c.err;
  const fs::path out = cli_.Folder() / "odd.mp4";
  CliResult r = cli_.Run({"video", out.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  auto streams = avi_test::Probe(out);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["width"], "276");
  EXPECT_EQ(streams[0]["height"], "202");
  const std::regex padded("275x201 padded to 276x202");
  EXPECT_EQ(std::distance(std::sregex_iterator(r.err.begin(), r.err.end(), padded), std::sregex_iterator()), 1) << r.err;
}

}  // namespace
}  // namespace quarvel::video_test

namespace quarvel::video_test {
namespace {

using testing::CliResult;
using testing::CliRunner;
using testing::SampleMovie;

gdi::Bitmap StoreFrame(const CliRunner& cli, int n) {
  return capture::LoadFramePicture(cli.WorkDir() / "temp" / (std::to_string(n) + ".bmp"));
}

TEST(CliRange, StartAndDurationCutWhereTheySay) {
  CliRunner whole("whole"), cut("cut");
  ASSERT_EQ(whole.Run({"capture", SampleMovie(), "--latency", "100", "--size", "200x150", "--sound", "pcm"}).status, 0);
  CliResult r = cut.Run({"capture", SampleMovie(), "--latency", "100", "--size", "200x150", "--sound", "pcm",
                         "--start", "500", "--duration", "1000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CapturedFrames(cut), 10);
  // The cut's first frame is the whole capture's sixth (500 ms in).
  EXPECT_TRUE(TopDownRgba(StoreFrame(cut, 1)) == TopDownRgba(StoreFrame(whole, 6)));
  const std::string wav = (cut.WorkDir() / "temp" / "_temp.wav").string();
  const double seconds = avi_test::ToSeconds(avi_test::Run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(wav)));
  EXPECT_NEAR(seconds, 1.0, 0.03);

  // Frames of the movie: the sample runs at 15 per second, 15f is a second.
  CliRunner frames("frames");
  r = frames.Run({"capture", SampleMovie(), "--latency", "100", "--size", "200x150", "--sound", "none", "--start",
                  "3f", "--duration", "15f"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CapturedFrames(frames), 10);
  EXPECT_TRUE(TopDownRgba(StoreFrame(frames, 1)) == TopDownRgba(StoreFrame(whole, 3)));

  // A movie's end does not stop a capture of a set length.
  CliRunner longer("longer");
  r = longer.Run({"capture", SampleMovie(), "--latency", "250", "--size", "200x150", "--sound", "none", "--duration",
                  "20000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CapturedFrames(longer), 80);
  r = longer.Run({"capture", SampleMovie(), "--latency", "250", "--size", "200x150", "--sound", "none",
                  "--max-frames", "4"});
  EXPECT_EQ(CapturedFrames(longer), 4);
}

// Sum of squared steps between neighbours, per pixel: a sharp edge is one big
// step, a blurred one several small ones.
double EdgeEnergy(const gdi::Bitmap& b) {
  double sum = 0;
  for (int y = 0; y + 1 < b.Height(); ++y)
    for (int x = 0; x + 1 < b.Width(); ++x) {
      const gdi::Color c = b.GetPixel(x, y), r = b.GetPixel(x + 1, y), d = b.GetPixel(x, y + 1);
      for (auto [p, q] : {std::pair{c.r, r.r}, {c.g, r.g}, {c.b, r.b}, {c.r, d.r}, {c.g, d.g}, {c.b, d.b}})
        sum += double(int(p) - int(q)) * double(int(p) - int(q));
    }
  return sum / (double(b.Width()) * b.Height());
}

// Bilinear 2x enlargement, as an image program would make it.
gdi::Bitmap Enlarge2x(const gdi::Bitmap& src) {
  gdi::Bitmap out(src.Width() * 2, src.Height() * 2, gdi::PixelFormat::pf24bit);
  for (int y = 0; y < out.Height(); ++y)
    for (int x = 0; x < out.Width(); ++x) {
      const double sx = std::clamp((x + 0.5) / 2 - 0.5, 0.0, src.Width() - 1.0);
      const double sy = std::clamp((y + 0.5) / 2 - 0.5, 0.0, src.Height() - 1.0);
      const int x0 = int(sx), y0 = int(sy), x1 = std::min(x0 + 1, src.Width() - 1), y1 = std::min(y0 + 1, src.Height() - 1);
      const double fx = sx - x0, fy = sy - y0;
      auto mix = [&](auto channel) {
        const double top = channel(src.GetPixel(x0, y0)) * (1 - fx) + channel(src.GetPixel(x1, y0)) * fx;
        const double bottom = channel(src.GetPixel(x0, y1)) * (1 - fx) + channel(src.GetPixel(x1, y1)) * fx;
        return std::uint8_t(std::lround(top * (1 - fy) + bottom * fy));
      };
      out.SetPixel(x, y, gdi::Color{mix([](gdi::Color c) { return c.r; }), mix([](gdi::Color c) { return c.g; }),
                                    mix([](gdi::Color c) { return c.b; })});
    }
  return out;
}

TEST(CliScale, TwiceTheStageIsSharperThanAnEnlargement) {
  CliRunner one("scale1"), two("scale2");
  ASSERT_EQ(one.Run({"capture", SampleMovie(), "--scale", "1", "--max-frames", "1", "--sound", "none"}).status, 0);
  CliResult r = two.Run({"capture", SampleMovie(), "--scale", "2", "--max-frames", "1", "--sound", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  const gdi::Bitmap small = StoreFrame(one, 1), large = StoreFrame(two, 1);
  ASSERT_EQ(large.Width(), small.Width() * 2);
  ASSERT_EQ(large.Height(), small.Height() * 2);
  const double drawn = EdgeEnergy(large), enlarged = EdgeEnergy(Enlarge2x(small));
  EXPECT_GT(drawn, enlarged * 1.3) << drawn << " vs " << enlarged;

  CliResult bad = one.Run({"capture", SampleMovie(), "--scale", "9"});
  EXPECT_EQ(bad.status, 2);
  bad = one.Run({"capture", SampleMovie(), "--scale", "2", "--size", "100x100"});
  EXPECT_EQ(bad.status, 2) << "--scale and --size exclude each other";
}

}  // namespace
}  // namespace quarvel::video_test

namespace quarvel::video_test {
namespace {

// Alpha counts of a decoded frame: clear, partly covered, opaque.
struct AlphaCounts {
  long long clear = 0, partial = 0, opaque = 0;
};
AlphaCounts CountAlpha(const Rgba& frame) {
  AlphaCounts c;
  for (std::size_t i = 3; i < frame.size(); i += 4) (frame[i] == 0 ? c.clear : frame[i] == 255 ? c.opaque : c.partial)++;
  return c;
}

TEST(CliTransparent, AlphaSurvivesInApngWebpAndWebmAndMp4IsRefused) {
  testing::CliRunner cli("transparent");
  testing::CliResult r = cli.Run({"capture", testing::SampleMovie(), "--background", "transparent", "--size",
                                  "200x150", "--max-frames", "4", "--sound", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The store keeps the alpha where the existing loader finds the colours.
  const fs::path first = cli.WorkDir() / "temp" / "1.bmp";
  const AlphaCounts stored = CountAlpha(TopDownRgba(capture::LoadFramePicture(first, true), true));
  EXPECT_GT(stored.clear, 1000) << "the stage's background is clear";
  EXPECT_GT(stored.opaque, 1000) << "the shapes cover";
  EXPECT_GT(stored.partial, 10) << "anti-aliased edges";
  EXPECT_EQ(capture::LoadFramePicture(first).Width(), 200);

  const Rgba expected = TopDownRgba(capture::LoadFramePicture(first, true), true);
  const fs::path png = cli.Folder() / "t.png";
  ASSERT_EQ(cli.Run({"video", png.string()}).status, 0);
  auto decoded = DecodeWithFfmpeg(png, 200, 150);
  ASSERT_EQ(decoded.size(), 4u);
  EXPECT_TRUE(decoded[0] == expected);

  const fs::path webp = cli.Folder() / "t.webp";
  ASSERT_EQ(cli.Run({"video", webp.string()}).status, 0);
  const WebpAnimation anim = DecodeWebp(webp);
  ASSERT_EQ(anim.frames.size(), 4u);
  // libwebp keeps no colour under fully clear pixels; compare where anything shows.
  long long differ = 0;
  for (std::size_t i = 0; i < expected.size(); i += 4)
    if (expected[i + 3] != 0 && !std::equal(expected.begin() + long(i), expected.begin() + long(i + 4),
                                            anim.frames[0].begin() + long(i)))
      ++differ;
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(CountAlpha(anim.frames[0]).clear, stored.clear);

  const fs::path webm = cli.Folder() / "t.webm";
  ASSERT_EQ(cli.Run({"video", webm.string()}).status, 0);
  auto vp9 = DecodeWithFfmpeg(webm, 200, 150, "libvpx-vp9");
  ASSERT_EQ(vp9.size(), 4u);
  const AlphaCounts lossy = CountAlpha(vp9[0]);
  EXPECT_NEAR(double(lossy.clear + lossy.partial), double(stored.clear + stored.partial), 0.1 * double(stored.clear));

  const fs::path mp4 = cli.Folder() / "t.mp4";
  r = cli.Run({"video", mp4.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("transparent"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(mp4));
  r = cli.Run({"convert", testing::SampleMovie(), mp4.string(), "--background", "transparent"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(".webm"), std::string::npos) << r.err;
  // AVI holds no alpha: refused by convert, said by avi.
  r = cli.Run({"convert", testing::SampleMovie(), (cli.Folder() / "t.avi").string(), "--background", "transparent"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(".webp"), std::string::npos) << r.err;
  r = cli.Run({"avi", (cli.Folder() / "t.avi").string(), "--no-audio"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: the capture has a transparent background"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quarvel::video_test
