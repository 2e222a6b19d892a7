// Filter records and their effect on pictures, checked on pixels whose
// values follow from the box blur and the compositing rules.
#include "player/render/filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "player/flash_player.h"
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

TEST(Filters, BlurSpreadsEvenlyAndLosesOnlyWhatItCutsDown) {
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
  // Each pass cuts every pixel down to a whole level: some of the total goes.
  EXPECT_LE(total, 255);
  EXPECT_GE(total, 200);
  EXPECT_EQ(img.Alpha(17, 20), img.Alpha(23, 20));
  EXPECT_EQ(img.Alpha(20, 17), img.Alpha(20, 23));
  EXPECT_GT(img.Alpha(20, 20), img.Alpha(22, 20));
  EXPECT_EQ(img.Alpha(25, 20), 0);  // two passes of 5 reach 4 pixels
}

// Results are kept from one picture to the next: a picture equal to one
// filtered before takes that result, and one that differs in a pixel, in a
// filter's parameter or in scale is filtered afresh. The oracle is the same
// filtering done first on a thread of its own, which has kept nothing.
TEST(Filters, KeptResultsAnswerOnlyTheSamePictureUnderTheSameFilters) {
  const auto picture = [](Surface& img, std::uint32_t dot) {
    img.Fill(0, 0, 31, 23, 0);
    img.Fill(8, 6, 20, 15, 0xFF2080C0);
    img.Fill(14, 9, 15, 10, dot);
  };
  Filter glow;
  glow.kind = Filter::Kind::kGlow;
  glow.color = {255, 0, 0, 255};
  glow.blurX = glow.blurY = 6;
  glow.passes = 2;
  Filter wider = glow;
  wider.blurX = 9;
  const auto pixels = [](Surface& img) {
    cairo_surface_flush(img.s);
    const auto* d = cairo_image_surface_get_data(img.s);
    return std::vector<std::uint8_t>(d, d + cairo_image_surface_get_stride(img.s) * 23);
  };
  struct Case {
    std::uint32_t dot;
    Filter filter;
    double scale;
  };
  const std::vector<Case> cases{{0xFF2080C0, glow, 1.0}, {0xFFFFFFFF, glow, 1.0}, {0xFF2080C0, wider, 1.0},
                                {0xFF2080C0, glow, 1.5}, {0xFF2080C0, glow, 1.0}, {0xFFFFFFFF, glow, 1.0}};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    Surface here(31, 23);
    picture(here, c.dot);
    ApplyFilters(here.s, {c.filter}, c.scale);
    std::vector<std::uint8_t> fresh;
    std::thread([&] {
      Surface alone(31, 23);
      picture(alone, c.dot);
      ApplyFilters(alone.s, {c.filter}, c.scale);
      fresh = pixels(alone);
    }).join();
    EXPECT_EQ(pixels(here), fresh) << "case " << i;
  }
}

// Flash's box: the weights of a blur `size` wide are 1 for the whole pixels
// around the centre and the leftover fraction (in 1/255 steps) at both ends;
// every pass cuts the result down to a whole level.
TEST(Filters, BlurIsFlashsFractionalBoxCutToWholeLevels) {
  auto row = [](double size, int passes, double scale = 1.0) {
    Surface img(21, 1);
    img.Fill(10, 0, 11, 1, 0xFFFFFFFF);
    Filter f;
    f.kind = Filter::Kind::kBlur;
    f.blurX = size;
    f.blurY = 0;
    f.passes = passes;
    ApplyFilters(img.s, {f}, scale);
    std::vector<int> a;
    for (int x = 6; x <= 14; ++x) a.push_back(img.Alpha(x, 0));
    return a;
  };
  // Three wide: 255 / 3 each.
  EXPECT_EQ(row(3, 1), (std::vector<int>{0, 0, 0, 85, 85, 85, 0, 0, 0}));
  // Two wide: the centre and half-weight (127/255) neighbours, over 1 + 2 * 127/255.
  EXPECT_EQ(row(2, 1), (std::vector<int>{0, 0, 0, 63, 127, 63, 0, 0, 0}));
  // 2.5 wide: 191/255 at the ends.
  EXPECT_EQ(row(2.5, 1), (std::vector<int>{0, 0, 0, 76, 102, 76, 0, 0, 0}));
  // Two passes of five: 51 each, then the triangle 51 * k / 5 cut down.
  EXPECT_EQ(row(5, 2), (std::vector<int>{10, 20, 30, 40, 51, 40, 30, 20, 10}));
  // No pass, or a box of one pixel or less: nothing changes.
  EXPECT_EQ(row(9, 0), (std::vector<int>{0, 0, 0, 0, 255, 0, 0, 0, 0}));
  EXPECT_EQ(row(1, 3), (std::vector<int>{0, 0, 0, 0, 255, 0, 0, 0, 0}));
  // Twice the stage scale: what exceeds one pixel doubles, 3 becomes 5.
  EXPECT_EQ(row(3, 1, 2.0), (std::vector<int>{0, 0, 51, 51, 51, 51, 51, 0, 0}));
}

TEST(Filters, BitmapsBlurTheirOwnEdgePixelsObjectsBlurIntoTransparency) {
  for (const bool clamp : {false, true}) {
    Surface img(5, 1);
    img.Fill(0, 0, 5, 1, 0xFF000000);
    Filter f;
    f.kind = Filter::Kind::kBlur;
    f.blurX = 3;
    f.passes = 1;
    ApplyFilters(img.s, {f}, 1.0, clamp);
    EXPECT_EQ(img.Alpha(0, 0), clamp ? 255 : 170);
    EXPECT_EQ(img.Alpha(2, 0), 255);
  }
  Filter big;
  big.kind = Filter::Kind::kBlur;
  big.blurX = 5, big.blurY = 2, big.passes = 3;
  // Two whole pixels a side per pass of five.
  EXPECT_DOUBLE_EQ(FilterMargin({big}, 1.0), 6);
  EXPECT_DOUBLE_EQ(FilterMargin({big}, 2.0), 12);  // nine wide at twice the scale: 4 a side
}

// The blur runs many lines side by side (four at a time where the processor
// can), and a colour plane equal to one before it (white, grey, black) takes
// that one's result: every pixel must still be what one line alone gives.
// The oracle is the plain box, a running sum along each line in turn.
TEST(Filters, BlurOfLinesSideBySideEqualsEachLineAlone) {
  using Line = std::vector<float>;
  const auto pass = [](Line& v, double size, bool clamp) {
    if (!(size > 1.0)) return;
    const double radius = (size - 1) / 2;
    const int m = static_cast<int>(std::ceil(radius)) - 1;
    const double edge = std::floor((radius - m) * 255) / 255, total = 2 * m + 1 + 2 * edge;
    const int n = static_cast<int>(v.size());
    auto in = [&](int i) -> double { return i < 0 ? (clamp ? v[0] : 0) : i >= n ? (clamp ? v[n - 1] : 0) : v[i]; };
    const Line was = v;
    Line out(v.size());
    double sum = 0;
    for (int i = -m; i <= m; ++i) sum += in(i);
    for (int i = 0; i < n; ++i) {
      out[i] = static_cast<float>(std::floor((sum + edge * (in(i - m - 1) + in(i + m + 1))) / total + 1e-4));
      sum += in(i + m + 1) - in(i - m);
    }
    v = out;
  };
  const auto level = [](float v) -> std::uint32_t {
    return v > 0 ? v >= 255 ? 255 : std::uint32_t(double(v) + 0.5) : 0;
  };
  std::uint32_t seed = 12345;
  const auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  struct Size {
    int w, h;
  };
  enum class Colours { kAny, kGrey, kWhite, kBlack };
  for (const Size size : {Size{1, 1}, Size{7, 1}, Size{1, 9}, Size{13, 11}, Size{37, 29}}) {
    for (const double blur : {1.5, 2.0, 4.3, 9.0, 31.0}) {
      for (const auto& [clamp, colours] : {std::pair{false, Colours::kAny}, std::pair{true, Colours::kAny},
                                          std::pair{false, Colours::kGrey}, std::pair{true, Colours::kWhite},
                                          std::pair{false, Colours::kBlack}}) {
        const int passes = 1 + static_cast<int>(next() % 3);
        Surface img(size.w, size.h);
        std::vector<Line> planes(4, Line(static_cast<std::size_t>(size.w * size.h)));
        cairo_surface_flush(img.s);
        for (int y = 0; y < size.h; ++y)
          for (int x = 0; x < size.w; ++x) {
            // Premultiplied: colours no higher than the alpha; many pixels clear.
            const std::uint32_t a = next() % 3 == 0 ? 0 : next() % 256;
            std::uint32_t px = a << 24;
            const std::uint32_t grey = a ? next() % (a + 1) : 0;
            for (int c = 0; c < 3; ++c) {
              const std::uint32_t v = colours == Colours::kAny     ? (a ? next() % (a + 1) : 0)
                                      : colours == Colours::kGrey  ? grey
                                      : colours == Colours::kWhite ? a
                                                                   : 0;
              px |= v << (16 - 8 * c);
            }
            img.At(x, y) = px;
            for (int c = 0; c < 4; ++c) planes[c][y * size.w + x] = static_cast<float>((px >> (24 - 8 * c)) & 255);
          }
        cairo_surface_mark_dirty(img.s);
        Filter f;
        f.kind = Filter::Kind::kBlur;
        f.blurX = blur;
        f.blurY = blur * 0.7;
        f.passes = passes;
        ApplyFilters(img.s, {f}, 1.0, clamp);
        cairo_surface_flush(img.s);
        for (Line& p : planes) {
          for (int k = 0; k < passes; ++k) {
            for (int y = 0; y < size.h; ++y) {
              Line row(p.begin() + y * size.w, p.begin() + (y + 1) * size.w);
              pass(row, f.blurX, clamp);
              std::copy(row.begin(), row.end(), p.begin() + y * size.w);
            }
            for (int x = 0; x < size.w; ++x) {
              Line col(static_cast<std::size_t>(size.h));
              for (int y = 0; y < size.h; ++y) col[y] = p[y * size.w + x];
              pass(col, f.blurY, clamp);
              for (int y = 0; y < size.h; ++y) p[y * size.w + x] = col[y];
            }
          }
        }
        for (int y = 0; y < size.h; ++y)
          for (int x = 0; x < size.w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y * size.w + x);
            const std::uint32_t a = level(planes[0][i]);
            std::uint32_t want = a << 24;
            for (int c = 1; c < 4; ++c) want |= std::min(level(planes[c][i]), a) << (24 - 8 * c);
            ASSERT_EQ(img.At(x, y), want) << size.w << "x" << size.h << " blur " << blur << " clamp " << clamp
                                          << " colours " << static_cast<int>(colours) << " passes " << passes
                                          << " at " << x << "," << y;
          }
      }
    }
  }
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

// Shadows and glows of one blurred, partly translucent shape, set against
// each other: the shadow alone is the glow alone moved by the distance; an
// outer knockout is that effect wherever the object was clear and nothing
// where it was opaque; an inner glow leaves every clear pixel clear. The
// object's own coverage must survive the blur for the last two.
TEST(Filters, ShadowIsTheGlowMovedAndKnockoutsCutByTheUnblurredObject) {
  const int w = 48, h = 40;
  const auto shape = [](Surface& img) {
    img.Fill(0, 0, 48, 40, 0);
    img.Fill(14, 12, 30, 26, 0xFF3060A0);
    img.Fill(20, 8, 24, 30, 0x80401020);  // translucent, premultiplied
  };
  const auto run = [&](Filter f) {
    auto img = std::make_unique<Surface>(w, h);
    shape(*img);
    ApplyFilters(img->s, {f}, 1.0);
    cairo_surface_flush(img->s);
    return img;
  };
  Filter glow;
  glow.kind = Filter::Kind::kGlow;
  glow.color = {200, 40, 10, 255};
  glow.blurX = glow.blurY = 5;
  glow.strength = 1.5;
  glow.passes = 2;
  glow.hideObject = true;
  Filter shadow = glow;
  shadow.kind = Filter::Kind::kDropShadow;
  shadow.angle = std::atan2(-2.0, 3.0);
  shadow.distance = std::sqrt(13.0);  // (3, -2) pixels
  const auto glowAlone = run(glow), shadowAlone = run(shadow);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int sx = x - 3, sy = y + 2;
      const std::uint32_t moved = sx >= 0 && sy >= 0 && sx < w && sy < h ? glowAlone->At(sx, sy) : 0u;
      ASSERT_EQ(shadowAlone->At(x, y), moved) << x << "," << y;
    }

  Filter knockout = glow;
  knockout.hideObject = false;
  knockout.knockout = true;
  const auto knocked = run(knockout);
  Surface object(w, h);
  shape(object);
  int clear = 0, nearby = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int a = object.Alpha(x, y);
      if (a == 0) {
        ++clear;
        if (glowAlone->At(x, y) != 0) ++nearby;
        EXPECT_EQ(knocked->At(x, y), glowAlone->At(x, y)) << x << "," << y;
      }
      if (a == 255) {
        EXPECT_EQ(knocked->At(x, y), 0u) << x << "," << y;
      }
    }
  EXPECT_GT(nearby, 100);  // the glow did reach clear pixels
  EXPECT_GT(clear, nearby);

  Filter inner = glow;
  inner.hideObject = false;
  inner.inner = true;
  const auto inside = run(inner);
  int lit = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (object.Alpha(x, y) == 0) {
        EXPECT_EQ(inside->At(x, y), 0u) << x << "," << y;
      }
      if (inside->At(x, y) != object.At(x, y)) ++lit;
    }
  EXPECT_GT(lit, 20);  // the inner edges took the glow
}

// The working planes are kept from picture to picture: filtering a large
// picture, then a small one, then one of a third size gives what a thread
// that never filtered before gives.
TEST(Filters, PlanesKeptFromALargerPictureChangeNoResult) {
  const auto filterAt = [](int w, int h, Filter::Kind kind) {
    Surface img(w, h);
    img.Fill(0, 0, w, h, 0);
    img.Fill(w / 4, h / 4, 3 * w / 4, 3 * h / 4, 0xFFC08020);
    Filter f;
    f.kind = kind;
    f.blurX = f.blurY = 4;
    f.distance = 3;
    f.inner = kind == Filter::Kind::kBevel;
    f.passes = 1;
    ApplyFilters(img.s, {f}, 1.0);
    cairo_surface_flush(img.s);
    const auto* d = cairo_image_surface_get_data(img.s);
    return std::vector<std::uint8_t>(d, d + cairo_image_surface_get_stride(img.s) * h);
  };
  for (const Filter::Kind kind : {Filter::Kind::kDropShadow, Filter::Kind::kBevel, Filter::Kind::kBlur}) {
    std::vector<std::vector<std::uint8_t>> reused, fresh;
    for (const auto& [w, h] : {std::pair{90, 70}, std::pair{20, 16}, std::pair{41, 33}})
      reused.push_back(filterAt(w, h, kind));
    for (const auto& [w, h] : {std::pair{90, 70}, std::pair{20, 16}, std::pair{41, 33}})
      std::thread([&, w = w, h = h] { fresh.push_back(filterAt(w, h, kind)); }).join();
    EXPECT_EQ(reused, fresh) << static_cast<int>(kind);
  }
}

// A hard bevel (no blur) on an opaque red 10 x 10 square at 10..19: the light
// from the top left puts white on the top-left edges, black on the others.
TEST(Filters, BevelLightsEdgesByAngleAndPlacesItselfByType) {
  constexpr std::uint32_t kRedPx = 0xFFFF0000u, kWhitePx = 0xFFFFFFFFu, kBlackPx = 0xFF000000u;
  auto run = [](bool inner, bool onTop, bool knockout, double angle = std::atan(1.0)) {
    auto img = std::make_unique<Surface>(30, 30);
    img->Fill(10, 10, 20, 20, kRedPx);
    Filter f;
    f.kind = Filter::Kind::kBevel;
    f.color = {0, 0, 0, 255};
    f.highlight = {255, 255, 255, 255};
    f.blurX = f.blurY = 1;
    f.angle = angle;
    f.distance = 1.5;  // one pixel along each axis at 45 degrees
    f.inner = inner;
    f.onTop = onTop;
    f.knockout = knockout;
    ApplyFilters(img->s, {f}, 1.0);
    return img;
  };
  auto in = run(true, false, false);
  EXPECT_EQ(in->At(10, 10), kWhitePx);
  EXPECT_EQ(in->At(19, 19), kBlackPx);
  EXPECT_EQ(in->At(15, 15), kRedPx);
  EXPECT_EQ(in->At(9, 9), 0u) << "an inner bevel stays inside";
  auto out = run(false, false, false);
  EXPECT_EQ(out->At(10, 10), kRedPx) << "an outer bevel lies under the object";
  EXPECT_EQ(out->At(9, 9), kWhitePx);
  EXPECT_EQ(out->At(20, 20), kBlackPx);
  // OnTop makes a full bevel whatever the inner bit says.
  for (bool innerBit : {false, true}) {
    auto full = run(innerBit, true, false);
    EXPECT_EQ(full->At(10, 10), kWhitePx) << innerBit;
    EXPECT_EQ(full->At(9, 9), kWhitePx) << innerBit;
    EXPECT_EQ(full->At(20, 20), kBlackPx) << innerBit;
    EXPECT_EQ(full->At(15, 15), kRedPx) << innerBit;
  }
  // Knockout: the bevel alone, where its type puts it.
  auto inKo = run(true, false, true);
  EXPECT_EQ(inKo->At(15, 15), 0u);
  EXPECT_EQ(inKo->At(10, 10), kWhitePx);
  EXPECT_EQ(inKo->At(9, 9), 0u);
  auto outKo = run(false, false, true);
  EXPECT_EQ(outKo->At(10, 10), 0u);
  EXPECT_EQ(outKo->At(9, 9), kWhitePx);
  auto fullKo = run(false, true, true);
  EXPECT_EQ(fullKo->At(15, 15), 0u);
  EXPECT_EQ(fullKo->At(10, 10), kWhitePx);
  EXPECT_EQ(fullKo->At(9, 9), kWhitePx);
  // Light from the bottom right (225 degrees) swaps the colours.
  auto turned = run(true, false, false, 5 * std::atan(1.0));
  EXPECT_EQ(turned->At(10, 10), kBlackPx);
  EXPECT_EQ(turned->At(19, 19), kWhitePx);
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


// A shadow's distance scales with the stage: cast 80 pixels away in a movie
// shown four times its size, it lands 320 device pixels off, past any small
// room kept around the object for blurs.
TEST(Filters, AFarShadowScaledWithTheStageStillShows) {
  testing::SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor({255, 255, 255, 255});
  testing::ShapeBuilder square;
  square.Rectangle(0, 0, 200, 200, square.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})));
  b.DefineShape(1, square);
  b.PlaceObject3({.depth = 1, .characterId = 1, .filterList = DropShadowRecord({0, 0, 255, 255}, 0, 0, 80, false, false, true, 1)})
      .ShowFrame();
  FlashPlayer p;
  p.SetSize(400, 400);
  ASSERT_TRUE(p.LoadMovieBytes(b.Build()));
  gdi::Bitmap bmp;
  p.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(20, 20), (gdi::Color{255, 0, 0}));
  EXPECT_EQ(bmp.GetPixel(340, 20), (gdi::Color{0, 0, 255})) << "the shadow, 320 device pixels right";
  EXPECT_EQ(bmp.GetPixel(200, 20), (gdi::Color{255, 255, 255}));
}

// PlaceObject3 as the authoring tool writes it: an image flag beside a
// character id brings no class name; a cacheAsBitmap flag may come without
// its byte; visibility and the opaque background act from SWF 11.
TEST(Filters, PlaceObject3ReadsAsFlashDoes) {
  auto render = [](int version, std::vector<std::uint8_t> body) {
    testing::SwfBuilder b(version, {0, 2000, 0, 2000}, 10.0);
    b.SetBackgroundColor({255, 255, 255, 255});
    testing::ShapeBuilder square;
    square.Rectangle(0, 0, 400, 400, square.AddFill(testing::FillStyle::Solid({255, 0, 0, 255})));
    b.DefineShape(1, square);
    b.Tag(swf::tag::kPlaceObject3, body).ShowFrame();
    auto p = std::make_unique<FlashPlayer>();
    p->SetSize(100, 100);
    EXPECT_TRUE(p->LoadMovieBytes(b.Build()));
    return p;
  };
  auto pixel = [](FlashPlayer& p, int x, int y) {
    gdi::Bitmap bmp;
    p.Paint(bmp);
    return bmp.GetPixel(x, y);
  };
  const gdi::Color red{255, 0, 0}, white{255, 255, 255};
  // Flags: character and matrix; image; depth 1; character 1; empty matrix.
  auto image = render(10, {0x06, 0x10, 1, 0, 1, 0, 0x00});
  EXPECT_EQ(pixel(*image, 10, 10), red);
  EXPECT_TRUE(image->SkippedFeatures().empty());
  auto cached = render(10, {0x06, 0x04, 1, 0, 1, 0, 0x00});
  EXPECT_EQ(pixel(*cached, 10, 10), red);
  EXPECT_TRUE(cached->SkippedFeatures().empty());
  // Hidden (0x20, byte 0) with a green background (0x40, RGBA).
  const std::vector<std::uint8_t> hidden{0x06, 0x60, 1, 0, 1, 0, 0x00, 0, 0, 255, 0, 255};
  auto v10 = render(10, hidden);
  EXPECT_EQ(pixel(*v10, 10, 10), red);
  EXPECT_TRUE(v10->SkippedFeatures().empty());
  auto v11 = render(11, hidden);
  EXPECT_EQ(pixel(*v11, 10, 10), white);
  auto shown = render(11, {0x06, 0x60, 1, 0, 1, 0, 0x00, 1, 0, 255, 0, 255});
  EXPECT_EQ(pixel(*shown, 10, 10), red);
}

}  // namespace
}  // namespace quarvel::player
