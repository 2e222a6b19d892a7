// The build across threads against a plain serial loop over the frame store,
// and the libimagequant palette.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "gif/working_folder_fixture.h"
#include "capture/frame_cache.h"
#include "capture/frame_store.h"
#include "gif/animation_builder.h"
#include "gif/encode_ahead.h"
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

class BuildParallel : public testing::WorkingFolderTest {
 protected:
  BuildParallel() : WorkingFolderTest("quarvel-gifpar-") {}
};

Bitmap Scene(int n, int w = 48, int h = 36) {
  Bitmap b(w, h, gdi::PixelFormat::pfDevice);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y, Color{std::uint8_t(x * 5), std::uint8_t(y * 7), std::uint8_t(90 + (x + y) % 40)});
  const int p = (n * 3) % (w - 10);
  gdi::FillRect(b, {p, 8, p + 10, 20}, Color{240, 200, 30});
  gdi::FillRect(b, {w - p - 6, 22, w - p, 30}, Color{30, 30, 230});
  return b;
}

// The build as one loop over the frames, reducing each picture in turn.
TStream SerialBuild(const BuildOptions& o, std::vector<std::string>& labels) {
  AnimationAssembler assembler(o.latency_ms / 10, o.size == SizeChoice::kSmallerSize);
  capture::FrameSequence frames(o.frame_count);
  for (long long i = 0; i < o.frame_count; ++i) {
    labels.push_back(FrameLabelText(i, o.frame_count, assembler.OptimizedFrames()));
    Bitmap picture = frames.Read(i);
    if (!frames.LastWasPresent() && assembler.HasPrevious()) {
      assembler.AddRepeat();
      continue;
    }
    capture::CropAndZoomFrame(picture, o.crop_zoom);
    auto reduced = std::make_unique<TGIFImage>();
    reduced->ReductionMethod = o.colors == ColorChoice::kGrayScale ? rdGrayScale : rdOctree;
    reduced->DitherMethod = o.dither == DitherChoice::kFloydSteinberg ? dtFloydSteinberg : dtNearest;
    reduced->AddFrame(picture);
    assembler.Add(std::move(reduced));
  }
  TStream bytes;
  assembler.Finish()->SaveToStream(bytes);
  return bytes;
}

TEST_F(BuildParallel, AnyThreadCountGivesTheSerialBytesAndLabels) {
  const int count = 23;
  for (int n = 1; n <= count; ++n)
    if (n % 4 != 2 && n != 1) capture::SaveFrameFile(Scene(n < 15 ? n : 15), n);  // frame 1 missing too
  for (ColorChoice colors : {ColorChoice::k256Colors, ColorChoice::kGrayScale})
    for (DitherChoice dither : {DitherChoice::kNearest, DitherChoice::kFloydSteinberg})
      for (SizeChoice size : {SizeChoice::kSmallerSize, SizeChoice::kBestQuality}) {
        BuildOptions o;
        o.frame_count = count;
        o.colors = colors;
        o.dither = dither;
        o.size = size;
        o.crop_zoom.zoom = 70;
        std::vector<std::string> serial_labels;
        const TStream serial = SerialBuild(o, serial_labels);
        for (int threads : {1, 2, 5}) {
          o.threads = threads;
          std::vector<std::string> labels;
          BuildResult r = BuildAnimation(o, [&](const std::string& label, int) { labels.push_back(label); });
          TStream bytes;
          r.image->SaveToStream(bytes);
          EXPECT_EQ(bytes, serial) << int(colors) << int(dither) << int(size) << " threads " << threads;
          ASSERT_EQ(labels.size(), serial_labels.size() + 1);
          labels.pop_back();  // the finished text
          EXPECT_EQ(labels, serial_labels);
        }
      }
}

TEST_F(BuildParallel, DamagedFileFailsAfterTheFramesBeforeIt) {
  for (int n = 1; n <= 12; ++n) capture::SaveFrameFile(Scene(n), n);
  {
    std::ofstream damaged(paths::FrameFilePath(9), std::ios::binary | std::ios::trunc);
    damaged << "not a frame";
  }
  BuildOptions o;
  o.frame_count = 12;
  o.threads = 4;
  std::vector<std::string> labels;
  try {
    BuildAnimation(o, [&](const std::string& label, int) { labels.push_back(label); });
    FAIL() << "no error";
  } catch (const capture::FrameStoreError& e) {
    EXPECT_EQ(e.File(), paths::FrameFilePath(9));
  }
  ASSERT_EQ(labels.size(), 9u);  // frames 1 to 9 were reported, 9 last
  EXPECT_EQ(labels.back().substr(0, 5), "8/12/");
}

// The next batch is reduced while one is added: a stop asked for from the
// progress (Ctrl-C) ends the build there, with no thread left behind.
TEST_F(BuildParallel, StopFromTheProgressEndsTheBuildWhereItIs) {
  for (int n = 1; n <= 40; ++n) capture::SaveFrameFile(Scene(n), n);
  struct Stopped {};
  for (int stop_at : {0, 5, 9, 30}) {
    BuildOptions o;
    o.frame_count = 40;
    o.threads = 2;
    int calls = 0;
    EXPECT_THROW(BuildAnimation(o,
                                [&](const std::string&, int) {
                                  if (calls++ == stop_at) throw Stopped{};
                                }),
                 Stopped)
        << stop_at;
    EXPECT_EQ(calls, stop_at + 1);
  }
}

TEST_F(BuildParallel, KeptPicturesGiveTheBytesOfTheStore) {
  // Frames with a fourth byte set (read back as 0 unless the background is
  // transparent), missing ones, and a budget that keeps only some of them.
  const int count = 17;
  std::vector<Bitmap> scenes;
  for (int n = 1; n <= count; ++n) {
    scenes.push_back(Scene(n < 12 ? n : 12));
    auto bits = scenes.back().Bits();
    for (std::size_t k = 3; k < bits.size(); k += 4) bits[k] = std::uint8_t(k * 7);
  }
  auto stored = [](int n) { return n == 1 || n % 5 != 3; };
  for (int n = 1; n <= count; ++n)
    if (stored(n)) capture::SaveFrameFile(scenes[std::size_t(n - 1)], n);
  const std::size_t frame_bytes = scenes[0].Bits().size();
  // With a transparent background the fourth bytes are alpha, kept by both.
  for (bool transparent : {false, true})
    for (PaletteChoice palette : {PaletteChoice::kOctree, PaletteChoice::kQuant})
      for (int zoom : {100, 60}) {
        BuildOptions o;
        o.frame_count = count;
        o.palette = palette;
        o.crop_zoom.zoom = zoom;
        o.threads = 3;
        o.transparent = transparent;
        TStream from_store;
        BuildAnimation(o).image->SaveToStream(from_store);
        capture::FrameCache kept(frame_bytes * 9);
        for (int n = 1; n <= count; ++n)
          if (stored(n)) kept.Keep(n, scenes[std::size_t(n - 1)], transparent);
        ASSERT_EQ(kept.Count(), 9u);
        o.kept = &kept;
        TStream from_memory;
        BuildAnimation(o).image->SaveToStream(from_memory);
        EXPECT_EQ(from_memory, from_store) << int(palette) << " zoom " << zoom << " transparent " << transparent;
        EXPECT_EQ(kept.Count(), 0u) << "pictures are dropped once used";
        EXPECT_EQ(kept.Bytes(), 0u);

        // A capture into a folder that goes writes no file for a kept picture.
        capture::FrameCache only(frame_bytes * 9);
        std::vector<int> held;
        for (int n = 1; n <= count; ++n)
          if (stored(n) && only.Keep(n, scenes[std::size_t(n - 1)], transparent)) held.push_back(n);
        for (int n : held) fs::remove(paths::FrameFilePath(n));
        o.kept = &only;
        TStream without_files;
        BuildAnimation(o).image->SaveToStream(without_files);
        EXPECT_EQ(without_files, from_store) << int(palette) << " zoom " << zoom << " transparent " << transparent;
        for (int n : held) capture::SaveFrameFile(scenes[std::size_t(n - 1)], n);
      }
}

TEST_F(BuildParallel, AStreamingCaptureGivesTheBytesOfTheStore) {
  // The capture hands the pictures over on a thread of its own while the
  // build runs: some kept, some only in files (the budget is small), some
  // numbers left out, and frames past the last one stored.
  const int count = 23, last_stored = 19;
  std::vector<Bitmap> scenes;
  for (int n = 1; n <= count; ++n) scenes.push_back(Scene(n < 15 ? n : 15));
  auto stored = [](int n) { return n <= last_stored && (n == 1 || n % 6 != 4); };
  for (int n = 1; n <= count; ++n)
    if (stored(n)) capture::SaveFrameFile(scenes[std::size_t(n - 1)], n);
  const std::size_t frame_bytes = scenes[0].Bits().size();
  // A capture on its own clock is also held back to the build's pace.
  for (PaletteChoice palette : {PaletteChoice::kOctree, PaletteChoice::kQuant})
    for (int threads : {1, 3})
      for (bool may_wait : {false, true}) {
        BuildOptions o;
        o.frame_count = count;
        o.palette = palette;
        o.threads = threads;
        TStream from_store;
        BuildAnimation(o).image->SaveToStream(from_store);

        capture::FrameCache streaming(frame_bytes * 3, true, may_wait);
        o.kept = &streaming;
        o.frame_count = 5;  // an estimate that falls short
        int progress_calls = 0;
        std::thread capture([&] {
          for (int n = 1; n <= count; ++n) {
            if (!stored(n)) continue;
            const bool kept = streaming.Keep(n, scenes[std::size_t(n - 1)]);
            // Kept pictures need no file: the build must not read one.
            if (kept) fs::rename(paths::FrameFilePath(n), paths::FrameFilePath(n).string() + ".away");
            streaming.Stored(n, kept);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          streaming.Close(count);
        });
        TStream from_capture;
        BuildAnimation(o, [&](const std::string&, int percent) {
          ++progress_calls;
          EXPECT_LE(percent, 100);
        }).image->SaveToStream(from_capture);
        capture.join();
        EXPECT_EQ(from_capture, from_store) << int(palette) << " threads " << threads << " may wait " << may_wait;
        EXPECT_EQ(progress_calls, palette == PaletteChoice::kQuant ? 2 * count + 1 : count + 1);
        EXPECT_EQ(streaming.Count(), 0u) << "pictures are dropped once used";
        for (int n = 1; n <= count; ++n)
          if (fs::exists(paths::FrameFilePath(n).string() + ".away"))
            fs::rename(paths::FrameFilePath(n).string() + ".away", paths::FrameFilePath(n));
      }
}

TEST_F(BuildParallel, AFailedCaptureStopsAStreamingBuild) {
  capture::FrameCache streaming(std::size_t(1) << 26, true);
  BuildOptions o;
  o.kept = &streaming;
  const Bitmap first = Scene(1);
  streaming.Keep(1, first);
  streaming.Stored(1, true);
  std::thread capture([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    streaming.Abandon();
  });
  EXPECT_THROW(BuildAnimation(o), capture::CaptureAbandoned);
  capture.join();
}

// A photograph-like picture that changes as a whole every `cut` frames, a
// box moving over it between; with alpha, the corners show through.
Bitmap Slide(int n, bool alpha, int cut = 9) {
  const int w = 40, h = 30, scene = n / cut;
  Bitmap b(w, h, gdi::PixelFormat::pfDevice);
  auto bits = b.Bits();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned v = unsigned(x * 31 + y * 17 + scene * 57) * 2654435761u >> 8;
      std::uint8_t* p = bits.data() + (std::size_t(y) * w + x) * 4;
      p[0] = std::uint8_t(v);
      p[1] = std::uint8_t(v >> 8);
      p[2] = std::uint8_t(x * 4 + scene * 30);
      p[3] = alpha && (x < 6 || y < 5) ? 0 : 255;
    }
  const int at = (n % cut) * 4;
  gdi::FillRect(b, {at, 12, at + 9, 22}, Color{250, 240, 20});
  if (alpha)
    for (int y = 12; y < 22; ++y)
      for (int x = at; x < at + 9 && x < w; ++x) bits[(std::size_t(y) * w + x) * 4 + 3] = 255;
  return b;
}

// The frames encoded while the build runs, on any number of threads, give
// the file of a build that encodes nothing ahead on one thread; giflib
// shows the pictures of the image's own file. Long enough for the rewrite
// to be tried on sample windows.
TEST_F(BuildParallel, FramesEncodedDuringTheBuildGiveTheSameFileOnAnyThreadCount) {
  const int count = 75;
  struct Case {
    const char* what;
    SizeChoice size;
    bool alpha;
    PaletteChoice palette;
    ColorChoice colors;
    bool tight;
  };
  const Case cases[] = {
      {"whole frames", SizeChoice::kBestQuality, false, PaletteChoice::kOctree, ColorChoice::k256Colors, false},
      {"difference frames", SizeChoice::kSmallerSize, false, PaletteChoice::kOctree, ColorChoice::k256Colors, false},
      {"tight difference frames", SizeChoice::kSmallerSize, false, PaletteChoice::kOctree, ColorChoice::k256Colors, true},
      {"transparency", SizeChoice::kSmallerSize, true, PaletteChoice::kOctree, ColorChoice::k256Colors, true},
      {"one palette", SizeChoice::kSmallerSize, false, PaletteChoice::kQuant, ColorChoice::k256Colors, true},
      {"grey", SizeChoice::kBestQuality, false, PaletteChoice::kOctree, ColorChoice::kGrayScale, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (int n = 1; n <= count; ++n)
      if (n == 1 || n % 7 != 5) capture::SaveFrameFile(Slide(n, c.alpha), n);
      else fs::remove(paths::FrameFilePath(n));
    BuildOptions o;
    o.frame_count = count;
    o.size = c.size;
    o.transparent = c.alpha;
    o.palette = c.palette;
    o.colors = c.colors;
    o.tight_frames = c.tight;
    o.threads = 1;
    const BuildResult plain = BuildAnimation(o);
    ASSERT_TRUE(plain.images.empty());
    OptimizeOptions one;
    one.threads = 1;
    const TStream want = OptimizeAnimation(*plain.image, one).Bytes();
    TStream own;
    plain.image->SaveToStream(own);
    const auto shown = testing::ShownPictures(testing::DecodeWithGiflib(want));
    const auto own_shown = testing::ShownPictures(testing::DecodeWithGiflib(own));
    ASSERT_EQ(shown.size(), own_shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
      EXPECT_EQ(shown[i].delay, own_shown[i].delay) << i;
      EXPECT_TRUE(shown[i].pixels == own_shown[i].pixels) << i;
    }

    o.encode_frames = true;
    // Released, the frames the rewrite reads are decoded again from their bytes.
    for (bool release : {false, true})
      for (int threads : {1, 4}) {
        SCOPED_TRACE(release ? "pixels released" : "pixels kept");
        o.threads = threads;
        o.release_encoded = release;
        BuildResult r = BuildAnimation(o);
        ASSERT_EQ(r.images.size(), std::size_t(r.image->Images().Count())) << threads;
        int released = 0;
        for (const auto& f : r.image->Images()) released += f->Released();
        // Frames without their own table are left to the file, and keep their pixels.
        if (release && c.palette == PaletteChoice::kOctree) {
          EXPECT_GT(released, count / 2) << threads;
        } else if (!release) {
          EXPECT_EQ(released, 0);
        }
        OptimizeOptions optimize;
        optimize.threads = threads;
        EXPECT_EQ(OptimizeAnimation(*r.image, optimize, {}, &r.images).Bytes(), want) << threads;
      }
  }
}

// A frame the writer refuses is left out by the encoder: the file is then
// written as before, and its error reaches the caller as the GIF error.
TEST_F(BuildParallel, AFrameTheWriterRefusesFailsTheFileWithItsError) {
  for (int n = 1; n <= 6; ++n) capture::SaveFrameFile(Slide(n, false), n);
  BuildOptions o;
  o.frame_count = 6;
  o.size = SizeChoice::kBestQuality;
  o.encode_frames = true;
  o.threads = 2;
  BuildResult r = BuildAnimation(o);
  TGIFSubImage& third = r.image->Images()[2];
  third.Data().resize(third.Data().size() - 1);
  EncodeAhead again(2);
  for (const auto& f : r.image->Images()) again.Add(*f);
  r.images = again.Finish();
  ASSERT_EQ(r.images.size(), 6u);
  EXPECT_FALSE(r.images[2]);
  EXPECT_THROW(OptimizeAnimation(*r.image, {}, {}, &r.images), GIFException);
}

double MeanSquaredError(const testing::ShownPicture& shown, const Bitmap& source) {
  double se = 0;
  for (int y = 0; y < source.Height(); ++y)
    for (int x = 0; x < source.Width(); ++x) {
      const Color c = source.GetPixel(x, y);
      const std::uint32_t s = shown.pixels[std::size_t(y) * source.Width() + x];
      const int d[3] = {c.r - int(s >> 16 & 255), c.g - int(s >> 8 & 255), c.b - int(s & 255)};
      for (int v : d) se += v * v;
    }
  return se / (3.0 * source.Width() * source.Height());
}

TEST_F(BuildParallel, QuantPaletteIsSharedAndCloserThanTheOctree) {
  const int count = 10;
  for (int n = 1; n <= count; ++n) capture::SaveFrameFile(Scene(n, 96, 64), n);
  BuildOptions o;
  o.frame_count = count;
  o.size = SizeChoice::kBestQuality;
  auto error_of = [&](PaletteChoice palette, DitherChoice dither, TStream* optimized) {
    o.palette = palette;
    o.dither = dither;
    BuildResult r = BuildAnimation(o);
    TStream bytes;
    r.image->SaveToStream(bytes);
    if (optimized != nullptr) *optimized = OptimizeAnimation(*r.image).Bytes();
    const auto shown = testing::ShownPictures(testing::DecodeWithGiflib(bytes), false);
    EXPECT_EQ(shown.size(), std::size_t(count));
    double sum = 0;
    for (int n = 1; n <= count && std::size_t(n) <= shown.size(); ++n) sum += MeanSquaredError(shown[std::size_t(n - 1)], Scene(n, 96, 64));
    return sum / count;
  };
  for (DitherChoice dither : {DitherChoice::kNearest, DitherChoice::kFloydSteinberg}) {
    TStream optimized;
    const double quant = error_of(PaletteChoice::kQuant, dither, &optimized);
    const double octree = error_of(PaletteChoice::kOctree, dither, nullptr);
    EXPECT_LT(quant, octree) << int(dither);
    // One palette for the movie: the optimised file needs only a global table.
    const auto decoded = testing::DecodeWithGiflib(optimized);
    EXPECT_TRUE(decoded.has_global_palette);
    for (const auto& f : decoded.frames) EXPECT_TRUE(f.local_palette.empty());
  }
}

TEST_F(BuildParallel, QuantIsTheSameOnAnyThreadCountAndIgnoredForGrey) {
  for (int n = 1; n <= 9; ++n)
    if (n != 4) capture::SaveFrameFile(Scene(n), n);
  BuildOptions o;
  o.frame_count = 9;
  o.palette = PaletteChoice::kQuant;
  o.dither = DitherChoice::kFloydSteinberg;
  auto bytes = [&](int threads) {
    o.threads = threads;
    TStream b;
    BuildAnimation(o).image->SaveToStream(b);
    return b;
  };
  const TStream one = bytes(1);
  EXPECT_EQ(bytes(3), one);
  o.colors = ColorChoice::kGrayScale;
  const TStream grey_quant = bytes(2);
  o.palette = PaletteChoice::kOctree;
  EXPECT_EQ(bytes(2), grey_quant);
}

// Ctrl-C: the build and the rewrite stop where they are asked, the threads
// reducing ahead included, and say so; nothing is left half made.
TEST_F(BuildParallel, StopEndsTheBuildAndTheRewrite) {
  const int count = 40;
  for (int n = 1; n <= count; ++n) capture::SaveFrameFile(Scene(n), n);
  BuildOptions o;
  o.frame_count = count;
  o.threads = 2;
  std::atomic<int> asked{0};
  o.stop = [&] { return ++asked > 30; };
  long long last_frame = -1;
  EXPECT_THROW(BuildAnimation(o, [&](const std::string& label, int) { last_frame = std::stoll(label); }), BuildStopped);
  EXPECT_LT(last_frame, count - 1);

  o.stop = {};
  const BuildResult whole = BuildAnimation(o);
  EXPECT_THROW(OptimizeAnimation(*whole.image, {}, [] { return true; }), OptimizeStopped);
  EXPECT_FALSE(OptimizeAnimation(*whole.image, {}, [] { return false; }).Bytes().empty());
}

}  // namespace
}  // namespace quarvel::gif
