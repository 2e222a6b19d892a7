#include "gif/gif_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "gif/gif_exception.h"

namespace quarvel::gif {
namespace {

using gdi::Bitmap;
using gdi::PixelFormat;

std::vector<Color> Ramp(int n) {
  std::vector<Color> p;
  for (int i = 0; i < n; ++i) p.push_back(Color{std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)});
  return p;
}

// A frame of the given size and table whose pixels are (x + y) % colours.
std::unique_ptr<TGIFSubImage> MakeFrame(TGIFImage& image, int w, int h, int colours) {
  auto f = std::make_unique<TGIFSubImage>(&image);
  f->ColorMap().ImportPalette(Ramp(colours));
  std::vector<std::uint8_t> data(std::size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) data[std::size_t(y) * w + x] = std::uint8_t((x + y) % colours);
  f->SetData(w, h, std::move(data));
  return f;
}

std::string GifError(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const GIFException& e) {
    return e.what();
  }
  return "";
}

TEST(GifColorMap, BitsPerPixelAndOverflow) {
  TGIFColorMap map;
  EXPECT_EQ(map.BitsPerPixel(), 0);
  std::vector<std::pair<int, int>> cases = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {129, 8}, {256, 8}};
  for (auto [count, bits] : cases) {
    map.ImportPalette(Ramp(count));
    EXPECT_EQ(map.BitsPerPixel(), bits) << count;
  }
  map.SetSorted(true);
  EXPECT_EQ(GifError([&] { map.Add(Color{}); }), "Color table overflow");
  map.ImportPalette(Ramp(300));
  EXPECT_EQ(map.Count(), 256);
  map.ImportPalette(Ramp(3));
  map.SetSorted(true);
  map.Add(Color{});
  EXPECT_FALSE(map.Sorted());
}

TEST(GifWriter, VersionFollowsTheFrames) {
  TGIFImage plain;
  plain.AddFrame(MakeFrame(plain, 4, 3, 4));
  TStream s;
  plain.SaveToStream(s);
  EXPECT_EQ(std::string(s.begin(), s.begin() + 6), "GIF87a");
  EXPECT_EQ(s.back(), 0x3B);

  TGIFImage animated;
  int i = animated.AddFrame(MakeFrame(animated, 4, 3, 4));
  auto gce = std::make_unique<TGIFGraphicControlExtension>(&animated.Images()[i]);
  animated.Images()[i].Extensions().Add(std::move(gce));
  TStream t;
  animated.SaveToStream(t);
  EXPECT_EQ(std::string(t.begin(), t.begin() + 6), "GIF89a");

  TGIFImage sorted;
  sorted.AddFrame(MakeFrame(sorted, 2, 2, 2));
  sorted.Images()[0].ColorMap().SetSorted(true);
  EXPECT_EQ(sorted.Version(), gv89a);
}

TEST(GifWriter, ImageWithoutFramesWritesNothing) {
  TGIFImage empty;
  TStream s;
  EXPECT_EQ(GifError([&] { empty.SaveToStream(s); }), "Unsupported GIF version");
  EXPECT_TRUE(s.empty());
}

TEST(GifWriter, TwoHundredColourTableIsPaddedWithBlack) {
  TGIFImage image;
  image.AddFrame(MakeFrame(image, 5, 2, 200));
  TStream s;
  image.SaveToStream(s);
  EXPECT_EQ(s[10], 0x77);  // no global table, 8-bit local tables
  ASSERT_EQ(s[13], 0x2C);
  EXPECT_EQ(s[13 + 9], 0x87);  // local table of 2^8 entries
  const std::size_t table = 13 + 10;
  EXPECT_EQ(s[table + 199 * 3], 199);
  for (std::size_t k = table + 200 * 3; k < table + 256 * 3; ++k) ASSERT_EQ(s[k], 0) << k;
  EXPECT_EQ(s[table + 256 * 3], 8);  // code width
}

TEST(GifWriter, TwoColourTable) {
  TGIFImage image;
  image.AddFrame(MakeFrame(image, 3, 3, 2));
  TStream s;
  image.SaveToStream(s);
  EXPECT_EQ(s[10], 0x00);  // resolution 0, size 0, no global table
  EXPECT_EQ(s[13 + 9], 0x80);
  const std::size_t table = 13 + 10;
  EXPECT_EQ(s[table + 6], 2);  // code width 2 right after the 2-entry table
  // Logical screen from the first frame.
  EXPECT_EQ(s[6], 3);
  EXPECT_EQ(s[8], 3);
}

TEST(GifWriter, LoopAndGraphicControlBytes) {
  TGIFImage image;
  int i = image.AddFrame(MakeFrame(image, 2, 2, 4));
  TGIFSubImage& f = image.Images()[i];
  f.Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(&f, 0));
  auto gce = std::make_unique<TGIFGraphicControlExtension>(&f);
  gce->SetDelay(300);
  gce->SetDisposal(2);
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(3);
  f.Extensions().Add(std::move(gce));
  TStream s;
  image.SaveToStream(s);
  const std::size_t ext = 13;
  TStream loop = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
  EXPECT_EQ(TStream(s.begin() + ext, s.begin() + ext + 19), loop);
  TStream control = {0x21, 0xF9, 4, 0x09, 0x2C, 0x01, 3, 0};
  EXPECT_EQ(TStream(s.begin() + ext + 19, s.begin() + ext + 27), control);
  EXPECT_EQ(s[ext + 27], 0x2C);

  TGIFAppExtNSLoop buffered(nullptr, 2, 0x01020304);
  TStream b;
  buffered.SaveToStream(b);
  EXPECT_EQ(TStream(b.begin() + 14, b.end()), (TStream{3, 1, 2, 0, 5, 2, 4, 3, 2, 1, 0}));
}

TEST(GifWriter, CommentAndUnknownApplicationBlocksAreWrittenBack) {
  TGIFCommentExtension comment(nullptr);
  comment.text = std::string(300, 'x');
  TStream s;
  comment.SaveToStream(s);
  ASSERT_EQ(s.size(), 2 + 1 + 255 + 1 + 45 + 1u);
  EXPECT_EQ(s[2], 255);
  EXPECT_EQ(s[2 + 256], 45);
  EXPECT_EQ(s.back(), 0);

  TGIFUnknownAppExtension app(nullptr, "XMP Data", "XMP");
  app.Blocks().push_back({1, 2, 3});
  TStream a;
  app.SaveToStream(a);
  EXPECT_EQ(TStream(a.begin() + 14, a.end()), (TStream{3, 1, 2, 3, 0}));
}

TEST(GifGraphicControl, InvalidTransparentIndexWarnsAndStoresZero) {
  TGIFImage image;
  std::vector<std::string> warnings;
  image.OnWarning = [&](TGIFSeverity, const std::string& text) { warnings.push_back(text); };
  int i = image.AddFrame(MakeFrame(image, 2, 2, 200));
  TGIFGraphicControlExtension gce(&image.Images()[i]);
  EXPECT_EQ(image.Images()[i].GraphicControlExtension(), &gce);
  gce.SetTransparentColorIndex(255);
  EXPECT_EQ(gce.TransparentColorIndex(), 0);
  EXPECT_EQ(warnings, (std::vector<std::string>{"Invalid color index"}));
  gce.SetTransparentColorIndex(199);
  EXPECT_EQ(gce.TransparentColorIndex(), 199);
  gce.SetTransparent(true);
  EXPECT_TRUE(image.Images()[i].Transparent());
  // A second extension does not take the link.
  TGIFGraphicControlExtension second(&image.Images()[i]);
  EXPECT_EQ(image.Images()[i].GraphicControlExtension(), &gce);
}

TEST(GifSubImage, CropToOpaqueFindsTheOpaqueRectangle) {
  TGIFImage image;
  auto f = std::make_unique<TGIFSubImage>(&image);
  f->ColorMap().ImportPalette(Ramp(256));
  std::vector<std::uint8_t> data(100 * 80, 7);
  for (int y = 5; y <= 9; ++y)
    for (int x = 10; x <= 19; ++x) data[std::size_t(y) * 100 + x] = std::uint8_t(x + y);
  data[6 * 100 + 10] = 7;  // a transparent pixel inside stays
  f->SetData(100, 80, data);
  f->SetBounds(3, 4, 100, 80);
  TGIFSubImage& frame = image.Images()[image.AddFrame(std::move(f))];
  auto gce = std::make_unique<TGIFGraphicControlExtension>(&frame);
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(7);
  frame.Extensions().Add(std::move(gce));
  frame.CropToOpaque();
  EXPECT_EQ(frame.Left(), 13);
  EXPECT_EQ(frame.Top(), 9);
  EXPECT_EQ(frame.Width(), 10);
  EXPECT_EQ(frame.Height(), 5);
  EXPECT_EQ(frame.Pixel(0, 0), 15);
  EXPECT_EQ(frame.Pixel(0, 1), 7);
  EXPECT_EQ(frame.Pixel(9, 4), 28);
  EXPECT_EQ(frame.ColorMap().Count(), 256);
  EXPECT_EQ(frame.Extensions().Count(), 1);
}

TEST(GifSubImage, FullyTransparentFrameBecomesEmptyAndWritesOnlyItsExtensions) {
  TGIFImage image;
  auto f = std::make_unique<TGIFSubImage>(&image);
  f->ColorMap().ImportPalette(Ramp(4));
  f->SetData(6, 6, std::vector<std::uint8_t>(36, 2));
  TGIFSubImage& frame = image.Images()[image.AddFrame(std::move(f))];
  auto gce = std::make_unique<TGIFGraphicControlExtension>(&frame);
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(2);
  frame.Extensions().Add(std::move(gce));
  frame.CropToOpaque();
  EXPECT_TRUE(frame.Empty());
  TStream s;
  image.SaveToStream(s);
  // header 6 + screen 7, graphic control 8, trailer
  ASSERT_EQ(s.size(), 6 + 7 + 8 + 1u);
  EXPECT_EQ(s[13], 0x21);
  EXPECT_EQ(s.back(), 0x3B);

  // Without the transparent flag nothing is cropped.
  TGIFImage other;
  TGIFSubImage& plain = other.Images()[other.AddFrame(MakeFrame(other, 5, 5, 4))];
  plain.CropToOpaque();
  EXPECT_EQ(plain.Width(), 5);
}

TEST(GifImport, PalettizedBitmapsKeepPaletteAndIndices) {
  for (PixelFormat format : {PixelFormat::pf1bit, PixelFormat::pf4bit, PixelFormat::pf8bit}) {
    const int bits = gdi::BitsPerPixel(format);
    Bitmap b(13, 7, format);
    std::vector<Color> palette = Ramp(1 << bits);
    b.SetPalette(palette);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 13; ++x) b.SetIndex(x, y, std::uint8_t((x * 3 + y) % (1 << bits)));
    TGIFImage image;
    image.AddFrame(b);
    const TGIFSubImage& f = image.Images()[0];
    ASSERT_EQ(f.ColorMap().Colors(), palette) << bits;
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(f.Pixel(x, y), b.GetIndex(x, y));
    // The frame's bitmap gives the same indices back.
    Bitmap back = image.Bitmap();
    EXPECT_EQ(back.Format(), PixelFormat::pf8bit);
    EXPECT_EQ(back.GetIndex(12, 6), b.GetIndex(12, 6));
  }
}

TEST(GifImport, TrueColourFollowsTheImageSettings) {
  Bitmap b(40, 30, PixelFormat::pfDevice);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) b.SetPixel(x, y, Color{std::uint8_t(x * 6), std::uint8_t(y * 8), 77});
  TGIFImage grey;
  grey.ReductionMethod = rdGrayScale;
  grey.AddFrame(b);
  EXPECT_EQ(grey.Images()[0].ColorMap().Count(), 256);
  EXPECT_EQ(grey.Images()[0].ColorMap()[200], (Color{200, 200, 200}));

  TGIFImage exact;
  exact.ReductionMethod = rdNone;
  Bitmap few(5, 5, PixelFormat::pf24bit);
  few.Fill(Color{1, 2, 3});
  few.SetPixel(4, 4, Color{9, 8, 7});
  exact.AddFrame(few);
  EXPECT_EQ(exact.Images()[0].ColorMap().Colors(), (std::vector<Color>{Color{1, 2, 3}, Color{9, 8, 7}}));
  EXPECT_EQ(exact.Images()[0].Pixel(4, 4), 1);

  // More than 256 colours without reduction: the image stays as it was.
  EXPECT_EQ(GifError([&] { exact.AddFrame(b); }), "Color table overflow");
  EXPECT_EQ(exact.Images().Count(), 1);
  EXPECT_EQ(exact.Width(), 5);
}

TEST(GifImage, RefusesNullFramesAndGrowsTheScreenWithWarnings) {
  TGIFImage image;
  EXPECT_EQ(GifError([&] { image.AddFrame(std::unique_ptr<TGIFSubImage>()); }),
            "Object type not supported for operation");
  std::vector<std::string> warnings;
  image.OnWarning = [&](TGIFSeverity, const std::string& text) { warnings.push_back(text); };
  image.AddFrame(MakeFrame(image, 10, 10, 4));
  EXPECT_TRUE(warnings.empty());
  image.AddFrame(MakeFrame(image, 12, 8, 4));
  EXPECT_EQ(image.Width(), 12);
  EXPECT_EQ(image.Height(), 10);
  EXPECT_EQ(warnings, (std::vector<std::string>{"Image width too small for contained frames",
                                                "Image exceeds Logical Screen size"}));
}

TEST(GifSubImage, InconsistentPixelDataIsRefusedNotRead) {
  TGIFImage image;
  TGIFSubImage& f = image.Images()[image.AddFrame(MakeFrame(image, 8, 8, 4))];
  f.Data().resize(10);
  TStream s;
  EXPECT_EQ(GifError([&] { image.SaveToStream(s); }), "Invalid image dimensions");
  EXPECT_EQ(GifError([&] { f.SetBounds(65000, 0, 600, 8); }), "Invalid image dimensions");
  EXPECT_EQ(GifError([&] { f.SetData(3, 3, std::vector<std::uint8_t>(8)); }), "Invalid image dimensions");
}

TEST(GifImage, CopyKeepsFramesExtensionsAndLinks) {
  TGIFImage src;
  src.ReductionMethod = rdGrayScale;
  src.PaletteBits = 5;
  int i = src.AddFrame(MakeFrame(src, 6, 4, 16));
  TGIFSubImage& f = src.Images()[i];
  f.Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(&f, 3));
  auto gce = std::make_unique<TGIFGraphicControlExtension>(&f);
  gce->SetDelay(42);
  f.Extensions().Add(std::move(gce));
  TGIFImage copy;
  copy.Assign(src);
  EXPECT_EQ(copy.ReductionMethod, rdGrayScale);
  EXPECT_EQ(copy.PaletteBits, 8);  // not copied
  ASSERT_EQ(copy.Images().Count(), 1);
  const TGIFSubImage& g = copy.Images()[0];
  ASSERT_NE(g.GraphicControlExtension(), nullptr);
  EXPECT_NE(g.GraphicControlExtension(), f.GraphicControlExtension());
  EXPECT_EQ(g.GraphicControlExtension()->Delay(), 42);
  EXPECT_EQ(g.GraphicControlExtension()->Frame(), &g);
  TStream a, b;
  src.SaveToStream(a);
  copy.SaveToStream(b);
  EXPECT_EQ(a, b);
}

TEST(GifImage, SaveToFileLeavesNoPartialFile) {
  auto dir = std::filesystem::temp_directory_path() / ("quarvel-gif-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto path = dir / "out.gif";
  {
    std::ofstream(path) << "old";
  }
  TGIFImage empty;
  EXPECT_EQ(GifError([&] { empty.SaveToFile(path); }), "Unsupported GIF version");
  EXPECT_EQ(std::filesystem::file_size(path), 3u);

  TGIFImage image;
  image.AddFrame(MakeFrame(image, 3, 3, 4));
  image.SaveToFile(path);
  TStream expected;
  image.SaveToStream(expected);
  EXPECT_EQ(std::filesystem::file_size(path), expected.size());

  std::string message = GifError([&] { image.SaveToFile(dir / "missing" / "x.gif"); });
  EXPECT_NE(message.find("missing/x.gif"), std::string::npos) << message;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quarvel::gif
