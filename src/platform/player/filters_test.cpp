// Filter records and their effect on pictures, checked on pixels whose
// values follow from the box blur and the compositing rules.
#include "platform/player/filters.h"

#include <gtest/gtest.h>

#include "platform/player/flash_player.h"
#include "support/swf_builder.h"
#include "support/swf_writer.h"

namespace quarvel::player {
namespace {

using testing::SwfWriter;

struct Surface {
  cairo_surface_t* s;
  Surface(int w, int h) : s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)) {}
  ~Surface() { cairo_surface_destroy(s); }
  std::uint32_t& At(int x, int y) {
    return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x];
  }
  void Fill(int x0, int y0, int x1, int y1, std::uint32_t argb) {
    cairo_surface_flush(s);
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) At(x, y) = argb;
    cairo_surface_mark_dirty(s);
  }
  int Alpha(int x, int y) { return static_cast<int>(At(x, y) >> 24); }
};

void PutFixed(SwfWriter& w, double v) { w.Fixed16(v); }

std::vector<std::uint8_t> DropShadowRecord(swf::Rgba color, double blur, double angle, double distance,
                                           bool inner, bool knockout, bool composite, int passes) {
  SwfWriter w;
  w.U8(1);  // one filter
  w.U8(0);  // drop shadow
  w.Rgba(color);
  PutFixed(w, blur);
  PutFixed(w, blur);
  PutFixed(w, angle);
  PutFixed(w, distance);
  w.Fixed8(1.0);
  w.UB(inner, 1);
  w.UB(knockout, 1);
  w.UB(composite, 1);
  w.UB(static_cast<std::uint32_t>(passes), 5);
  w.Align();
  return w.Data();
}

std::vector<Filter> Read(const std::vector<std::uint8_t>& bytes) {
  swf::Reader r(bytes);
  auto list = ReadFilterList(r);
  EXPECT_TRUE(r.AtEnd());
  return list;
}

TEST(Filters, RecordsReadBackAndDamageIsRefused) {
  const auto f = Read(DropShadowRecord({10, 20, 30, 128}, 4.5, 0.785, 6, true, false, true, 3));
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].kind, Filter::Kind::kDropShadow);
  EXPECT_EQ(f[0].color.b, 30);
  EXPECT_DOUBLE_EQ(f[0].blurX, 4.5);
  EXPECT_NEAR(f[0].angle, 0.785, 1e-4);
  EXPECT_DOUBLE_EQ(f[0].distance, 6);
  EXPECT_TRUE(f[0].inner);
  EXPECT_FALSE(f[0].hideObject);
  EXPECT_EQ(f[0].passes, 3);

  SwfWriter cm;
  cm.U8(2);
  cm.U8(6);  // colour matrix
  for (int i = 0; i < 20; ++i) cm.F32(static_cast<float>(i));
  cm.U8(1);  // blur
  PutFixed(cm, 2);
  PutFixed(cm, 3);
  cm.UB(2, 5);
  cm.UB(0, 3);
  const auto two = Read(cm.Data());
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].matrix[19], 19.0f);
  EXPECT_EQ(two[1].kind, Filter::Kind::kBlur);
  EXPECT_DOUBLE_EQ(two[1].blurY, 3);
  EXPECT_EQ(two[1].passes, 2);

  const std::vector<std::uint8_t> unknown = {1, 9, 0, 0};
  swf::Reader r1(unknown);
  EXPECT_THROW(ReadFilterList(r1), swf::SwfError);
  auto cut = DropShadowRecord({0, 0, 0, 255}, 4, 0, 0, false, false, true, 1);
  cut.resize(cut.size() - 3);
  swf::Reader r2(cut);
  EXPECT_THROW(ReadFilterList(r2), swf::SwfError);
}

TEST(Filters, BlurSpreadsEvenlyAndKeepsTheTotal) {
  Surface img(41, 41);
  img.Fill(20, 20, 21, 21, 0xFFFFFFFF);
  Filter f;
  f.kind = Filter::Kind::kBlur;
  f.blurX = f.blurY = 5;
  f.passes = 2;
  ApplyFilters(img.s, {f}, 1.0);
  long total = 0;
  for (int y = 0; y < 41; ++y)
    for (int x = 0; x < 41; ++x) total += img.Alpha(x, y);
  EXPECT_NEAR(total, 255, 20);  // rounding of many small values
  EXPECT_EQ(img.Alpha(17, 20), img.Alpha(23, 20));
  EXPECT_EQ(img.Alpha(20, 17), img.Alpha(20, 23));
  EXPECT_GT(img.Alpha(20, 20), img.Alpha(22, 20));
  EXPECT_EQ(img.Alpha(25, 20), 0);  // two passes of 5 reach 4 pixels
}

TEST(Filters, DropShadowFallsAtItsAngleAndDistanceAndKnockoutHidesTheObject) {
  // An opaque red 10 x 10 square; a hard black shadow 5 pixels to the right.
  auto run = [](bool knockout, bool composite) {
    auto img = std::make_unique<Surface>(30, 20);
    img->Fill(5, 5, 15, 15, 0xFFFF0000);
    Filter f;
    f.kind = Filter::Kind::kDropShadow;
    f.color = {0, 0, 0, 255};
    f.distance = 5;
    f.knockout = knockout;
    f.hideObject = !composite;
    f.passes = 1;
    ApplyFilters(img->s, {f}, 1.0);
    return img;
  };
  auto plain = run(false, true);
  EXPECT_EQ(plain->At(10, 10), 0xFFFF0000u);  // the object stays on top
  EXPECT_EQ(plain->At(17, 10), 0xFF000000u);  // shadow beside it
  EXPECT_EQ(plain->At(3, 10), 0u);
  auto knocked = run(true, true);
  EXPECT_EQ(knocked->At(12, 10), 0u);         // under the object: cut out
  EXPECT_EQ(knocked->At(17, 10), 0xFF000000u);
  auto hidden = run(false, false);
  EXPECT_EQ(hidden->At(12, 10), 0xFF000000u);  // the shadow alone
  EXPECT_EQ(hidden->At(7, 10), 0u);
}

TEST(Filters, ColorMatrixWorksOnStraightColours) {
  Surface img(2, 1);
  img.Fill(0, 0, 1, 1, 0xFFC81E0A);  // opaque (200, 30, 10)
  img.Fill(1, 0, 2, 1, 0x80640F05);  // half-transparent (200, 30, 10) premultiplied
  Filter f;
  f.kind = Filter::Kind::kColorMatrix;
  // Red and blue swapped; alpha kept.
  f.matrix = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  ApplyFilters(img.s, {f}, 1.0);
  EXPECT_EQ(img.At(0, 0), 0xFF0A1EC8u);
  const std::uint32_t half = img.At(1, 0);
  EXPECT_EQ(half >> 24, 0x80u);
  EXPECT_NEAR((half >> 16) & 255, 5, 1);
  EXPECT_NEAR(half & 255, 100, 1);
}

TEST(Filters, PlacedObjectShowsItsGlowInThePlayer) {
  testing::SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor({255, 255, 255, 255});
  testing::ShapeBuilder square;
  square.Rectangle(0, 0, 400, 400, square.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})));
  b.DefineShape(1, square);
  SwfWriter glow;
  glow.U8(1);
  glow.U8(2);  // glow
  glow.Rgba({0, 0, 255, 255});
  PutFixed(glow, 6);
  PutFixed(glow, 6);
  glow.Fixed8(2.0);
  glow.UB(0, 1);
  glow.UB(0, 1);
  glow.UB(1, 1);
  glow.UB(1, 5);
  swf::Matrix at;
  at.translateX = at.translateY = 800;
  b.PlaceObject3({.depth = 1, .characterId = 1, .matrix = at, .filterList = glow.Data()}).ShowFrame();
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  gdi::Bitmap bmp;
  p.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(50, 50), (gdi::Color{255, 0, 0}));
  const gdi::Color edge = bmp.GetPixel(61, 50);  // just outside: blue glow over white
  EXPECT_LT(edge.r, 200);
  EXPECT_GT(edge.b, 200);
  EXPECT_EQ(bmp.GetPixel(80, 50), (gdi::Color{255, 255, 255}));
  EXPECT_TRUE(p.SkippedFeatures().empty());
}

}  // namespace
}  // namespace quarvel::player
