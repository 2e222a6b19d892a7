// The optimised GIF against the image's own file, both decoded by giflib:
// the same pictures for the same times, never more bytes.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <span>
#include <stdexcept>
#include <tuple>
#include <unistd.h>

#include "gif/working_folder_fixture.h"
#include "capture/frame_store.h"
#include "gif/animation_builder.h"
#include "gif/gif_exception.h"
#include "gif/gif_optimizer.h"
#include "gif/gif_pictures.h"
#include "gif/giflib_reader.h"
#include "platform/paths/working_folder.h"

namespace quarvel::gif {
namespace {

namespace fs = std::filesystem;
using gdi::Bitmap;
using gdi::Color;
using testing::DecodeWithGiflib;
using testing::ShownPictures;

// Both files decode, show the same pictures for the same times, and the
// optimised one is not larger.
void ExpectSamePictures(const TGIFImage& image, const OptimizedFile& optimized, const std::string& what) {
  SCOPED_TRACE(what);
  TStream plain;
  image.SaveToStream(plain);
  EXPECT_LE(optimized.Size(), plain.size());
  if (!optimized.rewritten) {
    EXPECT_EQ(optimized.Bytes(), plain);
  }
  const auto before = DecodeWithGiflib(plain);
  const auto after = DecodeWithGiflib(optimized.Bytes());
  EXPECT_EQ(after.screen_width, before.screen_width);
  EXPECT_EQ(after.screen_height, before.screen_height);
  ASSERT_FALSE(after.frames.empty());
  EXPECT_EQ(after.frames[0].loop_count, before.frames[0].loop_count);
  const auto want = ShownPictures(before);
  const auto got = ShownPictures(after);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].delay, want[i].delay) << "picture " << i;
    ASSERT_TRUE(got[i].pixels == want[i].pixels) << "picture " << i;
  }
}

class OptimizeBuild : public testing::WorkingFolderTest {
 protected:
  OptimizeBuild() : WorkingFolderTest("quarvel-gifopt-") {}
};

// A gradient with a ball moving over it, a frame left out now and then and a
// still stretch: difference frames, merged frames and many colours.
void SaveMovingBall(int frames) {
  for (int n = 1; n <= frames; ++n) {
    if (n % 5 == 3) continue;  // the capture leaves out unchanged frames
    Bitmap b(64, 48, gdi::PixelFormat::pfDevice);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) b.SetPixel(x, y, Color{std::uint8_t(x * 4), std::uint8_t(y * 5), 120});
    const int step = std::min(n, 8);
    gdi::FillRect(b, {step * 5, 10, step * 5 + 12, 22}, Color{250, 240, 20});
    gdi::FillRect(b, {step * 5 + 3, 13, step * 5 + 9, 19}, Color{10, 10, 200});
    capture::SaveFrameFile(b, n);
  }
}

TEST_F(OptimizeBuild, EveryChoiceOfTheBuildShowsTheSamePictures) {
  SaveMovingBall(12);
  for (ColorChoice colors : {ColorChoice::k256Colors, ColorChoice::kGrayScale})
    for (DitherChoice dither : {DitherChoice::kNearest, DitherChoice::kFloydSteinberg})
      for (SizeChoice size : {SizeChoice::kSmallerSize, SizeChoice::kBestQuality}) {
        BuildOptions o;
        o.frame_count = 12;
        o.colors = colors;
        o.dither = dither;
        o.size = size;
        BuildResult r = BuildAnimation(o);
        OptimizedFile opt = OptimizeAnimation(*r.image);
        const std::string what = std::string(colors == ColorChoice::kGrayScale ? "gray" : "256") + "-" +
                                 (dither == DitherChoice::kNearest ? "nearest" : "floyd") + "-" +
                                 (size == SizeChoice::kSmallerSize ? "smaller" : "best");
        ExpectSamePictures(*r.image, opt, what);
        // Full 256-entry tables on every frame leave much to cut.
        EXPECT_TRUE(opt.rewritten) << what;
        if (dither == DitherChoice::kNearest) {
          TStream plain;
          r.image->SaveToStream(plain);
          EXPECT_LT(opt.Size() * 3, plain.size() * 2) << what;
        }
      }
}

// A ball moving over a clear screen with a soft edge, a still frame, a
// wholly clear frame and a frame the capture left out.
void SaveClearMovingBall(int frames) {
  for (int n = 1; n <= frames; ++n) {
    if (n == 4) continue;
    Bitmap b(40, 30, gdi::PixelFormat::pfDevice);  // all clear
    if (n != 7) {
      const int step = std::min(n, 9) * 3;
      for (int y = 8; y < 20; ++y)
        for (int x = step; x < step + 12; ++x) {
          std::uint8_t* p = b.ScanLine(y) + 4 * x;
          p[0] = std::uint8_t(40 + x * 4);
          p[1] = 30;
          p[2] = 220;
          // The edge columns partly covered, on both sides of one half.
          p[3] = x == step ? 100 : x == step + 11 ? 160 : 255;
        }
    }
    capture::SaveFrameFile(b, n);
  }
}

TEST_F(OptimizeBuild, TransparentBuildsShowTheAlphaOfTheFramesEveryWay) {
  constexpr int kCount = 12;
  SaveClearMovingBall(kCount);
  // What each frame should show: the background where alpha is below one half.
  std::vector<std::vector<std::uint32_t>> want;
  for (int n = 1; n <= kCount; ++n) {
    const fs::path file = paths::FrameFilePath(n);
    if (!fs::exists(file)) {
      want.push_back(want.back());
      continue;
    }
    const Bitmap b = capture::LoadFramePicture(file, true);
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x)
        pixels.push_back(b.ScanLine(y)[4 * x + 3] < 128 ? testing::kBackground : 1u);
    want.push_back(std::move(pixels));
  }
  for (PaletteChoice palette : {PaletteChoice::kOctree, PaletteChoice::kQuant})
    for (ColorChoice colors : {ColorChoice::k256Colors, ColorChoice::kGrayScale})
      for (DitherChoice dither : {DitherChoice::kNearest, DitherChoice::kFloydSteinberg})
        for (SizeChoice size : {SizeChoice::kSmallerSize, SizeChoice::kBestQuality}) {
          BuildOptions o;
          o.frame_count = kCount;
          o.latency_ms = 100;
          o.transparent = true;
          o.palette = palette;
          o.colors = colors;
          o.dither = dither;
          o.size = size;
          BuildResult r = BuildAnimation(o);
          const std::string what = "palette " + std::to_string(int(palette)) + " colours " +
                                   std::to_string(int(colors)) + " dither " + std::to_string(int(dither)) +
                                   " size " + std::to_string(int(size));
          ExpectSamePictures(*r.image, OptimizeAnimation(*r.image), what);
          TStream plain;
          r.image->SaveToStream(plain);
          std::vector<std::vector<std::uint32_t>> got;
          for (const auto& shown : ShownPictures(DecodeWithGiflib(plain), false))
            for (int k = 0; k < shown.delay / 10; ++k) got.push_back(shown.pixels);
          ASSERT_EQ(got.size(), want.size()) << what;
          for (std::size_t n = 0; n < want.size(); ++n)
            for (std::size_t k = 0; k < want[n].size(); ++k)
              ASSERT_EQ(got[n][k] == testing::kBackground, want[n][k] == testing::kBackground)
                  << what << ": frame " << n + 1 << " pixel " << k;
          // Equal frames merge only with "Smaller Size".
          EXPECT_EQ(r.image->Images().Count() < kCount, size == SizeChoice::kSmallerSize) << what;
        }
}

// A movie of few colours gets a short shared palette: the difference
// frames' transparent index must still lie in the frame's table.
TEST_F(OptimizeBuild, QuantDifferenceFramesOfAFewColourMovie) {
  for (int n = 1; n <= 8; ++n) {
    Bitmap b(48, 32, gdi::PixelFormat::pfDevice);
    b.Fill(Color{240, 240, 240});
    gdi::FillRect(b, {n * 4, 8, n * 4 + 10, 18}, Color{200, 30, 30});
    gdi::FillRect(b, {2, 24, 46, 30}, Color{30, 30, 200});
    capture::SaveFrameFile(b, n);
  }
  BuildOptions o;
  o.frame_count = 8;
  o.palette = PaletteChoice::kQuant;
  o.size = SizeChoice::kBestQuality;
  const BuildResult whole = BuildAnimation(o);
  o.size = SizeChoice::kSmallerSize;
  const BuildResult diff = BuildAnimation(o);
  EXPECT_GT(diff.optimized_frames, 0);
  TStream a, b;
  whole.image->SaveToStream(a);
  ASSERT_NO_THROW(diff.image->SaveToStream(b));
  const auto want = ShownPictures(DecodeWithGiflib(a));
  const auto got = ShownPictures(DecodeWithGiflib(b));
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(got[i].pixels == want[i].pixels) << i;
  ExpectSamePictures(*diff.image, OptimizeAnimation(*diff.image), "few colours");
}

// The moving ball built with Floyd-Steinberg: many colours, busy frames.
BuildResult DitheredBall() {
  SaveMovingBall(12);
  BuildOptions o;
  o.frame_count = 12;
  o.dither = DitherChoice::kFloydSteinberg;
  return BuildAnimation(o);
}

TEST_F(OptimizeBuild, ThreadCountDoesNotChangeTheBytes) {
  const BuildResult r = DitheredBall();
  auto one = RewriteAnimation(*r.image, OptimizeOptions{1});
  auto four = RewriteAnimation(*r.image, OptimizeOptions{4});
  ASSERT_TRUE(one && four);
  EXPECT_EQ(*one, *four);
}

TEST_F(OptimizeBuild, WideAndPlainPixelLoopsWriteTheSameBytes) {
  const BuildResult r = DitheredBall();
  auto wide = RewriteAnimation(*r.image, OptimizeOptions{0, true});
  auto plain = RewriteAnimation(*r.image, OptimizeOptions{0, false});
  ASSERT_TRUE(wide && plain);
  EXPECT_EQ(*wide, *plain);
}

// ---- images made by hand: odd shapes the build never makes ----

struct FrameSpec {
  int left = 0, top = 0, width = 1, height = 1;
  std::vector<Color> palette;  // empty: the global table
  std::vector<std::uint8_t> pixels;
  int disposal = 0;
  int transparent = -1;
  int delay = 10;
};

std::unique_ptr<TGIFImage> MakeImage(int width, int height, const std::vector<FrameSpec>& frames,
                                     const std::vector<Color>& global = {}) {
  auto image = std::make_unique<TGIFImage>();
  image->Header().SetWidth(width);
  image->Header().SetHeight(height);
  image->Header().ColorMap().ImportPalette(global);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const FrameSpec& s = frames[i];
    auto f = std::make_unique<TGIFSubImage>(image.get());
    f->SetBounds(s.left, s.top, s.width, s.height);
    f->SetData(s.width, s.height, s.pixels);
    f->SetBounds(s.left, s.top, s.width, s.height);
    f->ColorMap().ImportPalette(s.palette);
    if (i == 0) f->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(f.get(), 0));
    auto gce = std::make_unique<TGIFGraphicControlExtension>(f.get());
    gce->SetDelay(s.delay);
    gce->SetDisposal(s.disposal);
    if (s.transparent >= 0) {
      gce->SetTransparent(true);
      gce->SetTransparentColorIndex(s.transparent);
    }
    f->Extensions().Add(std::move(gce));
    image->AddFrame(std::move(f));
  }
  return image;
}

std::vector<Color> Greys(int n, int offset = 0) {
  std::vector<Color> p;
  for (int i = 0; i < n; ++i) p.push_back(Color{std::uint8_t(i + offset), std::uint8_t(i + offset), std::uint8_t(i)});
  return p;
}

FrameSpec Whole(int w, int h, std::vector<Color> palette, std::uint8_t value, int delay = 10) {
  FrameSpec f;
  f.width = w;
  f.height = h;
  f.palette = std::move(palette);
  f.pixels.assign(std::size_t(w) * h, value);
  f.delay = delay;
  return f;
}

TEST(OptimizeOddImages, OnePixelAndOneFrame) {
  auto one = MakeImage(1, 1, {Whole(1, 1, Greys(2), 1)});
  ExpectSamePictures(*one, OptimizeAnimation(*one), "1x1");
}

TEST(OptimizeOddImages, IdenticalFramesBecomeOneFrameWithTheirDelays) {
  auto image = MakeImage(8, 4, {Whole(8, 4, Greys(256), 7, 5), Whole(8, 4, Greys(256), 7, 6),
                                Whole(8, 4, Greys(256), 7, 7)});
  auto opt = OptimizeAnimation(*image);
  ExpectSamePictures(*image, opt, "identical");
  auto decoded = DecodeWithGiflib(opt.Bytes());
  ASSERT_EQ(decoded.frames.size(), 1u);
  EXPECT_EQ(decoded.frames[0].delay, 18);
}

TEST(OptimizeOddImages, AllColoursUsedAndTablesThatDiffer) {
  FrameSpec a = Whole(16, 16, Greys(256), 0);
  for (int i = 0; i < 256; ++i) a.pixels[std::size_t(i)] = std::uint8_t(i);
  FrameSpec b = a;
  b.palette = Greys(256, 0);
  for (auto& c : b.palette) c.b = std::uint8_t(255 - c.b);  // 256 other colours
  FrameSpec c = a;
  for (int i = 0; i < 40; ++i) c.pixels[std::size_t(i * 3)] = std::uint8_t(255 - i);
  auto image = MakeImage(16, 16, {a, b, c});
  ExpectSamePictures(*image, OptimizeAnimation(*image), "256 colours");
}

TEST(OptimizeOddImages, TransparencyAndDisposalsOfTheInput) {
  FrameSpec base = Whole(10, 10, Greys(4), 1);
  FrameSpec over = Whole(4, 4, Greys(4, 100), 2);
  over.left = over.top = 3;
  over.transparent = 0;
  over.pixels[5] = 0;
  over.disposal = 3;  // restore the base afterwards
  FrameSpec next = Whole(2, 2, Greys(4, 50), 3);
  next.disposal = 1;
  FrameSpec small = Whole(3, 3, {}, 1);  // global table
  small.left = 7;
  small.top = 7;
  auto image = MakeImage(10, 10, {base, over, next, small}, Greys(8, 30));
  auto opt = OptimizeAnimation(*image);
  ExpectSamePictures(*image, opt, "disposal 3");
  EXPECT_TRUE(opt.rewritten);
}

// Large pictures are written from the indices of the frame that painted
// them; where that frame has holes, the pixels show colours of other
// tables: those of the frame before and, after a restore, of an older one.
TEST(OptimizeOddImages, HolesShowColoursFromOtherFramesTables) {
  const int w = 64, h = 48;
  FrameSpec base = Whole(w, h, Greys(200), 0);
  for (std::size_t k = 0; k < base.pixels.size(); ++k) base.pixels[k] = std::uint8_t(k * 7 % 200);
  FrameSpec cover = Whole(w, h, Greys(60, 150), 0);
  cover.transparent = 59;
  cover.disposal = 3;  // the base comes back after it
  for (std::size_t k = 0; k < cover.pixels.size(); ++k) cover.pixels[k] = std::uint8_t(k % 3 == 0 ? 59 : k % 50);
  FrameSpec again = cover;
  again.palette = Greys(60, 90);
  again.disposal = 1;
  for (std::size_t k = 0; k < again.pixels.size(); ++k) again.pixels[k] = std::uint8_t(k % 5 < 2 ? 59 : k % 40);
  FrameSpec last = again;
  for (std::size_t k = 0; k < last.pixels.size(); ++k) last.pixels[k] = std::uint8_t(k % 4 == 1 ? 59 : k % 30);
  auto image = MakeImage(w, h, {base, cover, again, last});
  ExpectSamePictures(*image, OptimizeAnimation(*image), "holes");
  // The rewrite itself, whether or not it is the smaller file.
  const auto rewritten = RewriteAnimation(*image);
  ASSERT_TRUE(rewritten.has_value());
  const auto want = ShownPictures(DecodeWithGiflib([&] {
    TStream own;
    image->SaveToStream(own);
    return own;
  }()));
  const auto got = ShownPictures(DecodeWithGiflib(*rewritten));
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(got[i].pixels == want[i].pixels) << "picture " << i;
  EXPECT_EQ(RewriteAnimation(*image, OptimizeOptions{0, false}), rewritten);
}

TEST(OptimizeOddImages, AFrameAfterARestoreIsNotKeptAsItWas) {
  // The tiny last frame is the shortest way to write its picture only
  // where the large one before it is taken away, which the rewrite (leaving
  // every frame in place) must do itself.
  // Full tables of which a few entries are used: the rewrite is shorter.
  std::mt19937 rng(5);
  FrameSpec base = Whole(40, 40, Greys(256), 1);
  FrameSpec over = Whole(30, 30, Greys(256, 0), 0);
  over.left = over.top = 5;
  for (auto& p : over.pixels) p = std::uint8_t(rng() % 4 * 60);
  FrameSpec tiny = Whole(1, 1, Greys(2, 9), 1);
  for (int disposal : {3, 1}) {
    over.disposal = disposal;
    auto image = MakeImage(40, 40, {base, over, tiny});
    auto opt = OptimizeAnimation(*image);
    ExpectSamePictures(*image, opt, "disposal " + std::to_string(disposal));
    EXPECT_TRUE(opt.rewritten);
  }
}

TEST(OptimizeOddImages, BackgroundRestoredAfterPaintingIsRewrittenWithARestore) {
  FrameSpec a = Whole(6, 6, Greys(4), 1);
  a.disposal = 2;
  FrameSpec b = Whole(2, 2, Greys(4), 2);
  auto image = MakeImage(6, 6, {a, b});
  auto opt = OptimizeAnimation(*image);
  ExpectSamePictures(*image, opt, "disposal 2");
  ASSERT_TRUE(RewriteAnimation(*image).has_value());
  EXPECT_EQ(DecodeWithGiflib(*RewriteAnimation(*image)).frames[0].disposal, 2);
}

// As a transparent capture is built: whole frames over a clear screen, each
// restored to the background after its time. A square stands still while a
// line grows, then the square goes: the frame before must clear it although
// nothing changed there.
TEST(OptimizeOddImages, ClearedPixelsOutsideTheChangeAreGrowTheFrameBeforeIt) {
  const std::vector<Color> palette{{0, 0, 0}, {200, 0, 0}, {0, 0, 200}};
  auto frame = [&](bool square, int length) {
    FrameSpec f = Whole(12, 6, palette, 0);
    f.transparent = 0;
    f.disposal = 2;
    if (square)
      for (int y = 1; y < 3; ++y)
        for (int x = 1; x < 3; ++x) f.pixels[std::size_t(y) * 12 + x] = 1;
    for (int x = 6; x < 6 + length; ++x) f.pixels[std::size_t(4) * 12 + std::size_t(x)] = 2;
    return f;
  };
  auto image = MakeImage(12, 6, {frame(true, 1), frame(true, 2), frame(true, 3), frame(false, 4), frame(false, 4)});
  const auto opt = OptimizeAnimation(*image);
  ExpectSamePictures(*image, opt, "cleared square");
  const auto rewritten = RewriteAnimation(*image);
  ASSERT_TRUE(rewritten.has_value());
  const auto decoded = DecodeWithGiflib(*rewritten);
  ASSERT_EQ(decoded.frames.size(), 4u);  // the last two merged
  // Only the frame before the square goes is restored, and it covers the square.
  EXPECT_EQ(decoded.frames[1].disposal, 1);
  EXPECT_EQ(decoded.frames[2].disposal, 2);
  EXPECT_LE(decoded.frames[2].left, 1);
  EXPECT_LE(decoded.frames[2].top, 1);
  EXPECT_EQ(decoded.frames[3].delay, 20);
}

TEST(OptimizeOddImages, FirstFrameSmallerThanTheScreenLeavesTheRestUnpainted) {
  FrameSpec a = Whole(3, 2, Greys(3), 2);
  a.left = 2;
  a.top = 1;
  FrameSpec b = Whole(9, 7, Greys(3), 1);
  auto image = MakeImage(9, 7, {a, b});
  ExpectSamePictures(*image, OptimizeAnimation(*image), "partial first frame");
}

TEST(OptimizeOddImages, NoFramesOrBadIndicesNeverCrash) {
  TGIFImage empty;
  EXPECT_FALSE(RewriteAnimation(empty).has_value());
  EXPECT_THROW(OptimizeAnimation(empty), GIFException);  // the own file has no version

  FrameSpec bad = Whole(4, 4, Greys(2), 5);  // index past the table
  auto image = MakeImage(4, 4, {bad});
  EXPECT_FALSE(RewriteAnimation(*image).has_value());
  EXPECT_THROW(OptimizeAnimation(*image), GIFException);
}

// A random image of every shape the model allows, its sides from `min_side`
// to `max_side`. With `covering`, frames repaint the whole screen with
// transparent holes, as difference frames do, so that the picture is made
// of the frame's indices and of what the holes leave.
std::unique_ptr<TGIFImage> RandomImage(std::mt19937& rng, int min_side, int max_side, bool covering = false) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const int w = pick(min_side, max_side), h = pick(min_side, max_side);
  // The writer sizes the global table by the largest table of the file, so a
  // global table is always a full one here.
  std::vector<Color> global;
  if (pick(0, 1)) global = Greys(256, pick(0, 3) * 10);
  std::vector<FrameSpec> frames;
  const int count = pick(1, 7);
  for (int i = 0; i < count; ++i) {
    FrameSpec f;
    f.left = pick(0, w - 1);
    f.top = pick(0, h - 1);
    if (i == 0 && pick(0, 1)) f.left = f.top = 0;
    f.width = pick(1, w - f.left);
    f.height = pick(1, h - f.top);
    if ((i == 0 && pick(0, 1)) || (covering && pick(0, 3) > 0)) {
      f.left = f.top = 0;
      f.width = w;
      f.height = h;
    }
    if (global.empty() || pick(0, 1)) {
      const int n = pick(1, 256);
      for (int c = 0; c < n; ++c)
        f.palette.push_back(Color{std::uint8_t(pick(0, 3) * 80), std::uint8_t(pick(0, 255)), std::uint8_t(pick(0, 1))});
    }
    const int colours = f.palette.empty() ? int(global.size()) : int(f.palette.size());
    const int spread = pick(1, colours);
    for (int k = 0; k < f.width * f.height; ++k) f.pixels.push_back(std::uint8_t(pick(0, spread - 1)));
    f.disposal = pick(0, 4) == 0 ? pick(2, 3) : pick(0, 1);
    if (pick(0, 1)) f.transparent = pick(0, colours - 1);
    if (covering && f.transparent >= 0) {
      // Holes in patches and alone, over a quarter to most of the frame.
      const int holes = pick(25, 90);
      for (int k = 0; k < f.width * f.height; ++k)
        if (pick(0, 99) < holes) f.pixels[std::size_t(k)] = std::uint8_t(f.transparent);
    }
    f.delay = pick(0, 3) == 0 ? 0 : pick(1, 50);
    frames.push_back(std::move(f));
  }
  return MakeImage(w, h, frames, global);
}

// A frame's own image is kept without trying its indices renamed to a table
// of the colours it shows, as that takes the same bytes; not so when two of
// its indices show one colour: renamed, alternating pixels of the two
// become runs, which must be found, on small frames and sampled large ones.
TEST(OptimizeOddImages, IndicesOfOneColourAreMergedOnlyRenamedImagesAreKept) {
  std::mt19937 rng(5);
  for (const auto& [w, h] : {std::pair{64, 48}, std::pair{200, 200}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    // Entries 150 to 199 repeat 0 to 49: 150 colours, 8-bit tables either way.
    std::vector<Color> palette = Greys(256);
    for (int i = 150; i < 200; ++i) palette[std::size_t(i)] = palette[std::size_t(i - 150)];
    FrameSpec twins = Whole(w, h, palette, 0);
    FrameSpec distinct = Whole(w, h, Greys(256), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::size_t k = std::size_t(y) * w + x;
        // Runs of one colour, written by either of its indices at random where it has two.
        const int colour = (y * 7 + x / 8) % 150;
        twins.pixels[k] = std::uint8_t(colour < 50 && rng() % 2 == 0 ? colour + 150 : colour);
        distinct.pixels[k] = std::uint8_t((y * 31 + x * 17 + x * x) % 256);
      }
    auto merged = MakeImage(w, h, {twins});
    TStream plain;
    merged->SaveToStream(plain);
    const OptimizedFile opt = OptimizeAnimation(*merged);
    ExpectSamePictures(*merged, opt, "twins");
    EXPECT_TRUE(opt.rewritten);
    EXPECT_LT(opt.Size(), plain.size());
    auto own = MakeImage(w, h, {distinct});
    TStream own_plain;
    own->SaveToStream(own_plain);
    EXPECT_EQ(OptimizeAnimation(*own).Bytes(), own_plain);
  }
}

// Whatever the rewrite keeps must show what the own file shows.
TEST(OptimizeOddImages, RandomImagesShowTheSamePictures) {
  std::mt19937 rng(19);
  int rewritten = 0;
  for (int round = 0; round < 150; ++round) {
    auto image = RandomImage(rng, 1, 24);
    OptimizedFile opt = OptimizeAnimation(*image);
    rewritten += opt.rewritten;
    ExpectSamePictures(*image, opt, "round " + std::to_string(round));
    if (::testing::Test::HasFatalFailure()) return;
  }
  EXPECT_GT(rewritten, 50);
}

// Larger pictures take other paths: the indices of the frame that painted
// them, and ways chosen on samples of rows.
TEST(OptimizeOddImages, LargeRandomImagesShowTheSamePictures) {
  std::mt19937 rng(23);
  int rewritten = 0;
  for (int round = 0; round < 40; ++round) {
    const bool sampled = round % 8 == 0;
    auto image = sampled ? RandomImage(rng, 190, 230, true) : RandomImage(rng, 32, 90, round % 2 == 0);
    OptimizedFile opt = OptimizeAnimation(*image);
    rewritten += opt.rewritten;
    ExpectSamePictures(*image, opt, "round " + std::to_string(round));
    if (::testing::Test::HasFatalFailure()) return;
    // Odd widths leave tails to the plain loops inside the wide ones.
    EXPECT_EQ(RewriteAnimation(*image, OptimizeOptions{0, false}), RewriteAnimation(*image)) << "round " << round;
  }
  EXPECT_GT(rewritten, 10);
}


// A long animation of frames added by the build's rules from indexed pictures.
using Paint = std::function<void(int, std::vector<std::uint8_t>&, std::vector<Color>&)>;

std::unique_ptr<TGIFImage> Animation(int frames, int w, int h, const Paint& paint) {
  AnimationAssembler assembler(4, true);
  std::vector<std::uint8_t> indices(std::size_t(w) * h);
  std::vector<Color> table(256);
  for (int n = 0; n < frames; ++n) {
    paint(n, indices, table);
    Bitmap picture(w, h, gdi::PixelFormat::pf8bit);
    picture.SetPalette(table);
    for (int y = 0; y < h; ++y) std::copy_n(indices.begin() + std::ptrdiff_t(y) * w, w, picture.ScanLine(y));
    auto one = std::make_unique<TGIFImage>();
    one->AddFrame(picture);
    assembler.Add(std::move(one));
  }
  return assembler.Finish();
}

// Noise in a new table every frame, frame n the same each time it is painted.
void PaintNoise(int n, std::vector<std::uint8_t>& p, std::vector<Color>& t) {
  std::mt19937 rng{unsigned(n)};
  for (auto& v : p) v = std::uint8_t(rng() % 256);
  for (auto& c : t) c = Color{std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())};
}

// A small block moving over a still screen 64 pixels wide.
void PaintMovingBlock(int n, std::vector<std::uint8_t>& p, std::vector<Color>& t) {
  for (int i = 0; i < 256; ++i) t[std::size_t(i)] = Color{std::uint8_t(i), 40, std::uint8_t(255 - i)};
  std::fill(p.begin(), p.end(), std::uint8_t(7));
  for (int y = 10; y < 20; ++y)
    for (int x = 0; x < 8; ++x) p[std::size_t(y) * 64 + (n % 56) + x] = std::uint8_t(200 + n % 3);
}

// Long animations are rewritten only when sample windows say it pays: not
// for noise in a new table every frame (the own file, byte for byte), but
// for a small block moving over a still screen; off, the rewrite always
// runs. Every file shows the same pictures.
TEST(OptimizeTrial, LongAnimationsAreRewrittenWhereSampleWindowsGain) {
  std::mt19937 rng(3);
  const auto noise = Animation(80, 32, 32, [&](int, std::vector<std::uint8_t>& p, std::vector<Color>& t) {
    for (auto& v : p) v = std::uint8_t(rng() % 256);
    for (auto& c : t) c = Color{std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())};
  });
  const OptimizedFile skipped = OptimizeAnimation(*noise);
  EXPECT_FALSE(skipped.rewritten);
  ExpectSamePictures(*noise, skipped, "noise");
  OptimizeOptions always;
  always.trial = false;
  ExpectSamePictures(*noise, OptimizeAnimation(*noise, always), "noise, no trial");

  const auto block = Animation(80, 64, 48, PaintMovingBlock);
  const OptimizedFile rewritten = OptimizeAnimation(*block);
  EXPECT_TRUE(rewritten.rewritten);
  ExpectSamePictures(*block, rewritten, "moving block");
}

// Frames whose pixels the build released after encoding them are decoded
// again where the trial and the rewrite read them: the file is the one of
// the frames kept whole, whether the rewrite pays (a block moving over a
// still screen) or not (noise), and for frames that never cover the screen
// (the trial then plays every frame before its windows).
TEST(OptimizeTrial, ReleasedFramesGiveTheFileOfFramesKeptWhole) {
  const Paint noise = PaintNoise;
  const Paint block = PaintMovingBlock;
  struct Case {
    const char* what;
    Paint paint;
    int w, h;
    bool partial;
  };
  for (const Case& c : {Case{"noise", noise, 32, 32, false}, Case{"moving block", block, 64, 48, false},
                        Case{"boxes off the screen's edge", block, 64, 48, true}}) {
    SCOPED_TRACE(c.what);
    const auto build = [&] {
      auto image = Animation(80, c.w, c.h, c.paint);
      // Frames cut to a box after the first: none but the first covers the screen.
      if (c.partial)
        for (int i = 1; i < image->Images().Count(); ++i) {
          TGIFSubImage& f = image->Images()[i];
          std::vector<std::uint8_t> cut;
          for (int y = 1; y < f.Height(); ++y)
            cut.insert(cut.end(), f.Data().begin() + std::ptrdiff_t(y) * f.Width(),
                       f.Data().begin() + std::ptrdiff_t(y + 1) * f.Width());
          const int w = f.Width(), h = f.Height() - 1;
          f.SetData(w, h, std::move(cut));
          f.SetBounds(f.Left(), f.Top() + 1, w, h);
        }
      return image;
    };
    const auto kept = build();
    const OptimizedFile want = OptimizeAnimation(*kept);
    for (int threads : {1, 3}) {
      auto image = build();
      EncodeAhead ahead(threads, /*release=*/true);
      for (auto& f : image->Images()) ahead.Add(*f);
      FrameImages images = ahead.Finish();
      for (const auto& f : image->Images()) ASSERT_TRUE(f->Released());
      OptimizeOptions options;
      options.threads = threads;
      const OptimizedFile got = OptimizeAnimation(*image, options, {}, &images);
      EXPECT_EQ(got.rewritten, want.rewritten) << threads;
      EXPECT_EQ(got.Bytes(), want.Bytes()) << threads;
      // A trial that says no decoded its windows alone, not every frame.
      int still_released = 0;
      for (const auto& f : image->Images()) still_released += f->Released();
      if (!want.rewritten) {
        EXPECT_GT(still_released, image->Images().Count() / 2) << threads;
      }
    }
  }
}

// The own file handed to a sink while the rewrite is tried is the image's
// own file byte for byte, whether it wins (noise) or the rewrite does (a
// block moving over a still screen), from frames released and decoded again
// meanwhile; a sink's error comes out of the call.
TEST(OptimizeTrial, TheOwnFileIsHandedOverWhileTheRewriteIsTried) {
  const Paint noise = PaintNoise;
  const Paint block = PaintMovingBlock;
  for (const auto& [what, paint, rewritten] :
       {std::tuple<const char*, Paint, bool>{"noise", noise, false}, {"moving block", block, true}}) {
    SCOPED_TRACE(what);
    TStream own;
    Animation(80, 64, 48, paint)->SaveToStream(own);
    for (int threads : {1, 3}) {
      auto image = Animation(80, 64, 48, paint);
      EncodeAhead ahead(threads, /*release=*/true);
      for (auto& f : image->Images()) ahead.Add(*f);
      FrameImages images = ahead.Finish();
      OptimizeOptions options;
      options.threads = threads;
      TStream handed;
      int calls = 0;
      const OptimizedFile got =
          OptimizeAnimation(*image, options, {}, &images, [&](const std::vector<std::span<const std::uint8_t>>& pieces) {
            ++calls;
            for (const auto& piece : pieces) handed.insert(handed.end(), piece.begin(), piece.end());
          });
      EXPECT_EQ(calls, 1) << threads;
      EXPECT_EQ(got.rewritten, rewritten) << threads;
      EXPECT_TRUE(handed == own) << threads;
      if (!got.rewritten) {
        EXPECT_TRUE(got.Bytes() == handed) << threads;
      }
    }
  }
  auto image = Animation(80, 64, 48, noise);
  EXPECT_THROW(OptimizeAnimation(*image, {}, {}, nullptr,
                                 [](const std::vector<std::span<const std::uint8_t>>&) {
                                   throw std::runtime_error("disk full");
                                 }),
               std::runtime_error);
}

// The trial plays the frames before a window from the last one that covers
// the screen: the picture it reaches is the one giflib shows there, after
// whole opaque frames, transparent ones, partial ones and every disposal.
TEST(OptimizeTrial, PlaysFromTheLastCoveringFrameToThePictureGiflibShows) {
  const int w = 12, h = 9;
  TGIFImage image;
  std::mt19937 random(7);
  for (int i = 0; i < 40; ++i) {
    const int kind = i == 0 ? 0 : int(random() % 6);
    auto f = std::make_unique<TGIFSubImage>(&image);
    std::vector<Color> palette;
    for (int c = 0; c < 6; ++c) palette.push_back(Color{std::uint8_t(i * 6 + c), std::uint8_t(c * 40), std::uint8_t(kind * 30)});
    f->ColorMap().ImportPalette(palette);
    // Whole frames (kinds 0 and 1), a box (2), whole with transparent holes (3).
    const bool whole = kind != 2;
    const int fw = whole ? w : 5, fh = whole ? h : 4;
    std::vector<std::uint8_t> data(std::size_t(fw) * fh);
    for (auto& p : data) p = std::uint8_t(random() % 6);
    f->SetData(fw, fh, std::move(data));
    if (!whole) f->SetBounds(int(random() % (w - fw)), int(random() % (h - fh)), fw, fh);
    auto gce = std::make_unique<TGIFGraphicControlExtension>(f.get());
    gce->SetDelay(1);
    if (kind == 3) {
      gce->SetTransparent(true);
      gce->SetTransparentColorIndex(5);
    }
    // Some frames go back to the background, or to the picture before them.
    gce->SetDisposal(kind == 4 ? 2 : kind == 5 ? 3 : 1);
    f->Extensions().Add(std::move(gce));
    image.AddFrame(std::move(f));
  }
  TStream bytes;
  image.SaveToStream(bytes);
  const auto shown = ShownPictures(DecodeWithGiflib(bytes), false);
  ASSERT_EQ(shown.size(), 40u);
  for (int last = 1; last <= 40; ++last) EXPECT_EQ(TrialCanvas(image, last), shown[std::size_t(last - 1)].pixels) << last;
}

}  // namespace
}  // namespace quarvel::gif
