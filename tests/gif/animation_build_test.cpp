// The animation build over a frame store of synthetic frames, checked with giflib.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>
#include <unistd.h>

#include "gif/working_folder_fixture.h"
#include "capture/frame_store.h"
#include "gif/animation_builder.h"
#include "gif/gif_exception.h"
#include "gif/gif_pictures.h"
#include "gif/giflib_reader.h"
#include "platform/paths/working_folder.h"

namespace quarvel::gif {
namespace {

namespace fs = std::filesystem;
using gdi::Bitmap;
using gdi::Color;
using testing::DecodedGif;
using testing::DecodeWithGiflib;

class AnimationBuild : public testing::WorkingFolderTest {
 protected:
  AnimationBuild() : WorkingFolderTest("quarvel-anim-") {}

  // Grey background with a coloured block.
  static Bitmap Picture(int w, int h, gdi::Rect block = {}, Color colour = Color{200, 30, 30}) {
    Bitmap b(w, h, gdi::PixelFormat::pfDevice);
    b.Fill(Color{90, 90, 90});
    gdi::FillRect(b, block, colour);
    return b;
  }

  static DecodedGif Decode(const TGIFImage& image) {
    TStream bytes;
    image.SaveToStream(bytes);
    return DecodeWithGiflib(bytes);
  }

  // What a player shows after the last frame (disposal 0 everywhere).
  static std::vector<Color> Composite(const DecodedGif& gif) {
    std::vector<Color> canvas(std::size_t(gif.screen_width) * gif.screen_height);
    for (const auto& f : gif.frames) {
      EXPECT_EQ(f.disposal, 0);
      for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
          int index = f.pixels[std::size_t(y) * f.width + x];
          if (f.transparent && index == f.transparent_index) continue;
          canvas[std::size_t(f.top + y) * gif.screen_width + f.left + x] = f.local_palette[std::size_t(index)];
        }
    }
    return canvas;
  }

  static void ExpectShows(const DecodedGif& gif, const Bitmap& picture) {
    ASSERT_EQ(gif.screen_width, picture.Width());
    ASSERT_EQ(gif.screen_height, picture.Height());
    std::vector<Color> canvas = Composite(gif);
    for (int y = 0; y < picture.Height(); ++y)
      for (int x = 0; x < picture.Width(); ++x)
        ASSERT_EQ(canvas[std::size_t(y) * picture.Width() + x], picture.GetPixel(x, y)) << x << "," << y;
  }

  static BuildOptions Options(long long count) {
    BuildOptions o;
    o.frame_count = count;
    return o;
  }

};

TEST_F(AnimationBuild, IdenticalFramesMergeIntoOneLongerFrame) {
  Bitmap a = Picture(40, 30, {5, 5, 20, 20});
  for (int n = 1; n <= 3; ++n) capture::SaveFrameFile(a, n);
  BuildResult r = BuildAnimation(Options(3));
  EXPECT_EQ(r.optimized_frames, 2);
  DecodedGif gif = Decode(*r.image);
  ASSERT_EQ(gif.frames.size(), 1u);
  EXPECT_EQ(gif.frames[0].delay, 75);
  EXPECT_FALSE(gif.frames[0].transparent);
  ASSERT_TRUE(gif.frames[0].loop_count.has_value());
  EXPECT_EQ(*gif.frames[0].loop_count, 0);
  ExpectShows(gif, a);

  // The loop extension comes before the graphic control extension.
  TStream bytes;
  r.image->SaveToStream(bytes);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
  EXPECT_EQ(bytes[13], 0x21);
  EXPECT_EQ(bytes[14], 0xFF);
  EXPECT_EQ(bytes[13 + 19], 0x21);
  EXPECT_EQ(bytes[13 + 20], 0xF9);
  EXPECT_EQ(bytes[13 + 27], 0x2C);
}

TEST_F(AnimationBuild, MissingFrameFileRepeatsThePreviousPicture) {
  Bitmap a = Picture(40, 30, {0, 0, 10, 10});
  Bitmap b = Picture(40, 30, {0, 0, 40, 25}, Color{10, 200, 10});
  capture::SaveFrameFile(a, 1);
  capture::SaveFrameFile(b, 2);
  capture::SaveFrameFile(a, 4);
  capture::SaveFrameFile(b, 5);
  BuildResult smaller = BuildAnimation(Options(5));
  DecodedGif gif = Decode(*smaller.image);
  ASSERT_EQ(gif.frames.size(), 4u);
  EXPECT_EQ(gif.frames[1].delay, 50);  // frame 2 shown twice
  EXPECT_EQ(gif.frames[2].delay, 25);
  ExpectShows(gif, b);

  BuildOptions best = Options(5);
  best.size = SizeChoice::kBestQuality;
  DecodedGif whole = Decode(*BuildAnimation(best).image);
  ASSERT_EQ(whole.frames.size(), 5u);
  for (const auto& f : whole.frames) {
    EXPECT_EQ(f.delay, 25);
    EXPECT_FALSE(f.transparent);
    EXPECT_EQ(f.width, 40);
    EXPECT_EQ(f.height, 30);
  }
  EXPECT_EQ(whole.frames[1].pixels, whole.frames[2].pixels);
}

// Frames without files take the last picture's reduction instead of
// reducing it again; the file must come out as if they had been there.
TEST_F(AnimationBuild, MissingFramesGiveTheSameBytesAsTheirCopies) {
  Bitmap a = Picture(40, 30, {0, 0, 10, 10});
  Bitmap b = Picture(40, 30, {3, 3, 40, 25}, Color{10, 200, 10});
  auto build = [&](SizeChoice size, DitherChoice dither) {
    BuildOptions o = Options(7);
    o.size = size;
    o.dither = dither;
    o.crop_zoom.zoom = 50;
    TStream bytes;
    BuildAnimation(o).image->SaveToStream(bytes);
    return bytes;
  };
  for (SizeChoice size : {SizeChoice::kSmallerSize, SizeChoice::kBestQuality}) {
    for (DitherChoice dither : {DitherChoice::kNearest, DitherChoice::kFloydSteinberg}) {
      capture::ClearFrameStore();
      capture::SaveFrameFile(a, 1);
      capture::SaveFrameFile(b, 3);
      capture::SaveFrameFile(a, 6);
      const TStream sparse = build(size, dither);
      for (int n : {2}) capture::SaveFrameFile(a, n);
      for (int n : {4, 5}) capture::SaveFrameFile(b, n);
      capture::SaveFrameFile(a, 7);
      const TStream full = build(size, dither);
      EXPECT_EQ(sparse, full) << int(size) << " " << int(dither);
    }
  }
}

TEST_F(AnimationBuild, SmallChangeGivesACroppedDifferenceFrame) {
  // 25 % of the pixels change: a 20 x 15 block of an 40 x 30 picture.
  Bitmap a = Picture(40, 30);
  Bitmap b = Picture(40, 30, {12, 7, 32, 22}, Color{20, 40, 220});
  capture::SaveFrameFile(a, 1);
  capture::SaveFrameFile(b, 2);
  BuildResult r = BuildAnimation(Options(2));
  EXPECT_EQ(r.optimized_frames, 1);
  DecodedGif gif = Decode(*r.image);
  ASSERT_EQ(gif.frames.size(), 2u);
  const auto& d = gif.frames[1];
  EXPECT_TRUE(d.transparent);
  EXPECT_EQ(d.transparent_index, 255);  // the highest index no changed pixel uses
  EXPECT_EQ(d.left, 12);
  EXPECT_EQ(d.top, 7);
  EXPECT_EQ(d.width, 20);
  EXPECT_EQ(d.height, 15);
  EXPECT_EQ(d.local_palette.size(), 256u);
  EXPECT_FALSE(gif.frames[1].loop_count.has_value());
  ExpectShows(gif, b);
}

// A change of one pixel anywhere on the border (each corner, the middle of
// each edge) reaches the file: the difference frame's rectangle takes in
// the first and last rows and columns.
TEST_F(AnimationBuild, OnePixelChangeOnTheBorderIsKept) {
  const int w = 41, h = 23;
  const Bitmap a = Picture(w, h);
  const std::pair<int, int> points[] = {{0, 0},         {w - 1, 0},     {0, h - 1}, {w - 1, h - 1},
                                        {w / 2, 0},     {w / 2, h - 1}, {0, h / 2}, {w - 1, h / 2}};
  for (const auto& [x, y] : points) {
    SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
    Bitmap b = a;
    b.SetPixel(x, y, Color{250, 250, 0});
    capture::SaveFrameFile(a, 1);
    capture::SaveFrameFile(b, 2);
    BuildResult r = BuildAnimation(Options(2));
    DecodedGif gif = Decode(*r.image);
    ASSERT_EQ(gif.frames.size(), 2u) << "the change was taken for no change";
    EXPECT_EQ(gif.frames[1].width * gif.frames[1].height, 1);
    ExpectShows(gif, b);
  }
}

TEST_F(AnimationBuild, LargeChangeGivesAWholeFrame) {
  Bitmap a = Picture(40, 20);
  Bitmap b = Picture(40, 20, {0, 0, 40, 15}, Color{20, 40, 220});  // 75 %
  capture::SaveFrameFile(a, 1);
  capture::SaveFrameFile(b, 2);
  BuildResult r = BuildAnimation(Options(2));
  EXPECT_EQ(r.optimized_frames, 0);
  DecodedGif gif = Decode(*r.image);
  ASSERT_EQ(gif.frames.size(), 2u);
  EXPECT_FALSE(gif.frames[1].transparent);
  EXPECT_EQ(gif.frames[1].width, 40);
  EXPECT_EQ(gif.frames[1].height, 20);
  ExpectShows(gif, b);
}

TEST_F(AnimationBuild, GreyScaleAndOctreeTablesHave256Entries) {
  // 256 distinct colours: the octree keeps every one.
  Bitmap a(16, 16, gdi::PixelFormat::pfDevice);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) a.SetPixel(x, y, Color{std::uint8_t(x * 16), std::uint8_t(y * 16), 100});
  capture::SaveFrameFile(a, 1);
  for (DitherChoice dither : {DitherChoice::kNearest, DitherChoice::kFloydSteinberg}) {
    BuildOptions o = Options(1);
    o.dither = dither;
    o.colors = ColorChoice::kGrayScale;
    DecodedGif grey = Decode(*BuildAnimation(o).image);
    ASSERT_EQ(grey.frames.size(), 1u);
    ASSERT_EQ(grey.frames[0].local_palette.size(), 256u);
    for (int i = 0; i < 256; ++i)
      EXPECT_EQ(grey.frames[0].local_palette[std::size_t(i)],
                (Color{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)}));
    if (dither == DitherChoice::kNearest) {
      const Color c = a.GetPixel(15, 15);
      EXPECT_EQ(grey.frames[0].pixels.back(), (77 * c.r + 150 * c.g + 29 * c.b) >> 8);
    }
    o.colors = ColorChoice::k256Colors;
    DecodedGif colour = Decode(*BuildAnimation(o).image);
    EXPECT_EQ(colour.frames[0].local_palette.size(), 256u);
  }
  // Few colours survive the octree exactly.
  BuildOptions o = Options(1);
  DecodedGif exact = Decode(*BuildAnimation(o).image);
  ExpectShows(exact, a);
}

TEST_F(AnimationBuild, CropAndZoomSetTheScreenSize) {
  Bitmap a = Picture(60, 40, {10, 10, 30, 30});
  capture::SaveFrameFile(a, 1);
  BuildOptions o = Options(1);
  o.crop_zoom = capture::CropZoom{2, 5, 7, 8, 50};  // top, left, right, bottom, zoom
  DecodedGif gif = Decode(*BuildAnimation(o).image);
  EXPECT_EQ(gif.screen_width, (60 - 5 - 7) / 2);
  EXPECT_EQ(gif.screen_height, (40 - 2 - 8) / 2);
  Bitmap expected = a;
  capture::CropAndZoomFrame(expected, o.crop_zoom);
  ExpectShows(gif, expected);
}

TEST_F(AnimationBuild, LargerFrameGrowsTheScreenAndCountsOutsidePixelsAsChanged) {
  Bitmap a = Picture(30, 20);
  Bitmap b = Picture(40, 24);  // same colour everywhere, but larger
  capture::SaveFrameFile(a, 1);
  capture::SaveFrameFile(b, 2);
  BuildResult r = BuildAnimation(Options(2));
  DecodedGif gif = Decode(*r.image);
  EXPECT_EQ(gif.screen_width, 40);
  EXPECT_EQ(gif.screen_height, 24);
  ASSERT_EQ(gif.frames.size(), 2u);
  // Only the new area differs: a difference frame covering it.
  EXPECT_TRUE(gif.frames[1].transparent);
  EXPECT_EQ(gif.frames[1].left + gif.frames[1].width, 40);
  EXPECT_EQ(gif.frames[1].top + gif.frames[1].height, 24);
  ExpectShows(gif, b);
}

TEST_F(AnimationBuild, ProgressReportsTheFrameLabel) {
  Bitmap a = Picture(8, 8);
  for (int n = 1; n <= 3; ++n) capture::SaveFrameFile(a, n);
  std::vector<std::pair<std::string, int>> seen;
  BuildAnimation(Options(3), [&](const std::string& label, int pct) { seen.emplace_back(label, pct); });
  std::vector<std::pair<std::string, int>> expected = {
      {"0/3/0 0%", 0}, {"1/3/0 33%", 33}, {"2/3/1 66%", 66}, {"Build Animation GIF Finished", 100}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(FrameLabelText(5, 100, 2), "5/100/2 5%");
}

TEST_F(AnimationBuild, DamagedFrameFileNamesTheFileAndBuildsNothing) {
  capture::SaveFrameFile(Picture(8, 8), 1);
  {
    std::ofstream(paths::FrameFilePath(2), std::ios::binary) << "not a frame";
  }
  try {
    BuildAnimation(Options(3));
    FAIL() << "no exception";
  } catch (const capture::FrameStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("2.bmp"), std::string::npos) << e.what();
  }
}

TEST_F(AnimationBuild, NoFramesGivesAnEmptyImageThatCannotBeSaved) {
  BuildResult r = BuildAnimation(Options(0));
  ASSERT_TRUE(r.image);
  EXPECT_TRUE(r.image->Empty());
  TStream bytes;
  try {
    r.image->SaveToStream(bytes);
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_STREQ(e.what(), "Unsupported GIF version");
  }
}

TEST(AnimationAssembler, MergedDelayNeverWrapsTheSixteenBitField) {
  gdi::Bitmap picture(6, 6, gdi::PixelFormat::pfDevice);
  picture.Fill(Color{1, 2, 3});
  AnimationAssembler assembler(30000, true);
  for (int n = 0; n < 3; ++n) {
    auto reduced = std::make_unique<TGIFImage>();
    reduced->ReductionMethod = rdOctree;
    reduced->AddFrame(picture);
    assembler.Add(std::move(reduced));
  }
  auto image = assembler.Finish();
  // 30000 + 30000 fits; a third 30000 would wrap, so it becomes a frame.
  ASSERT_EQ(image->Images().Count(), 2);
  EXPECT_EQ(image->Images()[0].GraphicControlExtension()->Delay(), 60000);
  EXPECT_EQ(image->Images()[1].GraphicControlExtension()->Delay(), 30000);
  EXPECT_FALSE(image->Images()[1].Transparent());
}

// A one-frame image of the given indices and table.
std::unique_ptr<TGIFImage> IndexedImage(int w, int h, const std::vector<Color>& palette,
                                        const std::vector<std::uint8_t>& indices) {
  gdi::Bitmap picture(w, h, gdi::PixelFormat::pf8bit);
  picture.SetPalette(palette);
  for (int y = 0; y < h; ++y)
    std::copy_n(indices.begin() + std::ptrdiff_t(y) * w, w, picture.ScanLine(y));
  auto image = std::make_unique<TGIFImage>();
  image->AddFrame(picture);
  return image;
}

// Pixels compare by colour, not index, across two tables; where the
// previous picture is narrower or shorter they count as changed; only the
// changed pixels' entries are used, listed when the frame may become a
// difference frame. Against a pixel-by-pixel count, on random pictures of
// a few colours (many equal) and of many, eight-wide and plain.
TEST(AnimationAssembler, CompareCountsPixelsOfTheSameColourAsUnchanged) {
  std::mt19937 rng(9);
  for (int round = 0; round < 40; ++round) {
    const bool wide = round % 8 >= 4;
    const int colours = round % 2 == 0 ? 4 : 256;
    const int w = 1 + int(rng() % 70), h = 1 + int(rng() % 20);
    const int pw = round % 4 < 2 ? w : 1 + int(rng() % 70), ph = round % 4 < 2 ? h : 1 + int(rng() % 20);
    std::vector<Color> table, before_table;
    for (int i = 0; i < colours; ++i) {
      table.push_back(Color{std::uint8_t(i * 40 % 256), std::uint8_t(i % 3), 7});
      // The same colours in reverse order.
      before_table.insert(before_table.begin(), table.back());
    }
    std::vector<std::uint8_t> now(std::size_t(w) * h), before(std::size_t(pw) * ph);
    for (auto& v : now) v = std::uint8_t(rng() % unsigned(colours));
    for (auto& v : before) v = std::uint8_t(rng() % unsigned(colours));
    // Most pixels kept (the same colour under the reversed table): a possible difference frame.
    if (round % 3 == 2)
      for (int y = 0; y < std::min(h, ph); ++y)
        for (int x = 0; x < std::min(w, pw); ++x)
          if (rng() % 10 < 8) before[std::size_t(y) * pw + x] = std::uint8_t(colours - 1 - now[std::size_t(y) * w + x]);
    const FrameDifference d =
        AnimationAssembler::Compare(*IndexedImage(pw, ph, before_table, before), *IndexedImage(w, h, table, now), wide);
    long long unchanged = 0;
    std::array<bool, 256> used{};
    ASSERT_EQ(d.same.size(), now.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint8_t index = now[std::size_t(y) * w + x];
        const bool same = x < pw && y < ph && table[index] == before_table[before[std::size_t(y) * pw + x]];
        EXPECT_EQ(d.same[std::size_t(y) * w + x], same ? 1 : 0) << round << ": " << x << "," << y;
        unchanged += same;
        if (!same) used[index] = true;
      }
    EXPECT_EQ(d.unchanged, unchanged) << round;
    const bool may = unchanged < (long long)w * h && (long long)w * h * 3 / 10 < unchanged;
    EXPECT_EQ(d.used_known, may) << round;
    EXPECT_EQ(d.used, may ? used : (std::array<bool, 256>{})) << round;
  }
}


// Pictures for the tight-frame tests: a table of 256 distinct colours.
std::vector<Color> DistinctTable() {
  std::vector<Color> t(256);
  for (int i = 0; i < 256; ++i) t[std::size_t(i)] = Color{std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7)};
  return t;
}

// The file of indexed pictures added in turn, tight or not.
TStream Assemble(const std::vector<std::vector<std::uint8_t>>& pictures, int w, int h, bool tight) {
  const std::vector<Color> table = DistinctTable();
  AnimationAssembler assembler(10, true, false, tight);
  for (const auto& p : pictures) assembler.Add(IndexedImage(w, h, table, p));
  TStream bytes;
  assembler.Finish()->SaveToStream(bytes);
  return bytes;
}

// Frames drawn whole are cut to the box of their changes, difference frames
// of few colours get a table of those colours, and whatever is chosen,
// giflib shows the pictures of the screen-sized frames of the plain rules.
TEST(AnimationAssembler, TightFramesShowTheSamePicturesWithLess) {
  const int w = 64, h = 48;
  std::mt19937 rng(5);
  std::vector<std::vector<std::uint8_t>> pictures;
  std::vector<std::uint8_t> p(std::size_t(w) * h);
  for (auto& v : p) v = std::uint8_t(rng() % 256);
  pictures.push_back(p);
  // Most of the screen changes but a border: drawn whole, cut to x 3..61, y 2..46.
  for (int y = 2; y < 47; ++y)
    for (int x = 3; x < 62; ++x) p[std::size_t(y) * w + x] = std::uint8_t(rng() % 256);
  pictures.push_back(p);
  // A block of ten colours over a still picture: a difference frame of 11 entries.
  for (int y = 10; y < 20; ++y)
    for (int x = 10; x < 30; ++x) p[std::size_t(y) * w + x] = std::uint8_t(rng() % 10);
  pictures.push_back(p);

  const auto plain = DecodeWithGiflib(Assemble(pictures, w, h, false));
  const auto tight = DecodeWithGiflib(Assemble(pictures, w, h, true));
  ASSERT_EQ(plain.frames.size(), 3u);
  ASSERT_EQ(tight.frames.size(), 3u);
  // The old rules: the whole frame at the screen's size, the difference frame with the full table.
  EXPECT_EQ(std::tuple(plain.frames[1].width, plain.frames[1].height), std::tuple(w, h));
  EXPECT_EQ(plain.frames[2].local_palette.size(), 256u);
  const auto& whole = tight.frames[1];
  EXPECT_EQ(std::tuple(whole.left, whole.top, whole.width, whole.height), std::tuple(3, 2, 59, 45));
  EXPECT_FALSE(whole.transparent);
  const auto& block = tight.frames[2];
  EXPECT_EQ(std::tuple(block.left, block.top, block.width, block.height), std::tuple(10, 10, 20, 10));
  EXPECT_TRUE(block.transparent);
  EXPECT_EQ(block.local_palette.size(), 16u);  // ten colours and the transparent entry, in 4 bits
  const auto want = testing::ShownPictures(plain), got = testing::ShownPictures(tight);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(got[i].pixels == want[i].pixels) << "picture " << i;
}

// A large smooth picture sliding by a pixel keeps the colour of only some
// scattered pixels: the difference frame is written opaque when its
// transparent pixels would cost more codes, and the pictures stay the same.
TEST(AnimationAssembler, ScatteredUnchangedPixelsGoOpaqueWhereThatIsShorter) {
  const int w = 256, h = 192;
  std::vector<std::vector<std::uint8_t>> pictures;
  for (int shift = 0; shift < 4; ++shift) {
    std::vector<std::uint8_t> p(std::size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) p[std::size_t(y) * w + x] = std::uint8_t(((x + shift) / 3 + y / 5) % 40);
    pictures.push_back(p);
  }
  const TStream plain_bytes = Assemble(pictures, w, h, false), tight_bytes = Assemble(pictures, w, h, true);
  const auto plain = DecodeWithGiflib(plain_bytes), tight = DecodeWithGiflib(tight_bytes);
  ASSERT_EQ(tight.frames.size(), plain.frames.size());
  int opaque = 0;
  for (std::size_t i = 1; i < tight.frames.size(); ++i) {
    EXPECT_TRUE(plain.frames[i].transparent);
    opaque += !tight.frames[i].transparent;
  }
  EXPECT_GT(opaque, 0);
  EXPECT_LT(tight_bytes.size(), plain_bytes.size());
  const auto want = testing::ShownPictures(plain), got = testing::ShownPictures(tight);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(got[i].pixels == want[i].pixels) << "picture " << i;
}

}  // namespace
}  // namespace quarvel::gif
