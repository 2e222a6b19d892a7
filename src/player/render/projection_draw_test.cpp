// The projective mapping of a plane's picture: the row-stepping sampler
// against a naive one written here, and the box of what is seen in front
// of the eye.
#include "player/render/projection_draw.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace quarvel::player {
namespace {

struct SurfaceFree {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceFree>;

std::uint32_t* Pixels(cairo_surface_t* s) { return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(s)); }
int Stride(cairo_surface_t* s) { return cairo_image_surface_get_stride(s) / 4; }

// A 24 x 16 picture of opaque colours that change at every pixel.
Surface Checker() {
  Surface s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 24, 16));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 24; ++x)
      Pixels(s.get())[y * Stride(s.get()) + x] =
          0xFF000000u | static_cast<std::uint32_t>((x * 10) << 16 | (y * 15) << 8 | ((x + y) % 2) * 255);
  cairo_surface_mark_dirty(s.get());
  return s;
}

// The naive version: each device pixel's centre taken back through the
// inverse map, weighted over the four nearest source pixels.
std::uint32_t NaiveAt(cairo_surface_t* src, const rules::H3& inv, const rules::H3& fwd, double X, double Y) {
  const double q = inv[6] * X + inv[7] * Y + inv[8];
  const double sx = (inv[0] * X + inv[1] * Y + inv[2]) / q, sy = (inv[3] * X + inv[4] * Y + inv[5]) / q;
  if (rules::DepthOf(fwd, sx, sy) < kNearDepth) return 0;
  const int w = cairo_image_surface_get_width(src), h = cairo_image_surface_get_height(src);
  const double fx = sx - 0.5, fy = sy - 0.5;
  const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
  const double ax = fx - ix, ay = fy - iy;
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    double sum = 0;
    for (int dy = 0; dy < 2; ++dy)
      for (int dx = 0; dx < 2; ++dx) {
        const int x = ix + dx, y = iy + dy;
        if (x < 0 || y < 0 || x >= w || y >= h) continue;
        const double weight = (dx ? ax : 1 - ax) * (dy ? ay : 1 - ay);
        sum += weight * ((Pixels(src)[y * Stride(src) + x] >> shift) & 255);
      }
    out |= static_cast<std::uint32_t>(std::lround(sum)) << shift;
  }
  return out;
}

TEST(ProjectedPlane, TheSamplerMatchesANaiveInverseMapping) {
  Surface src = Checker();
  // A turned, receding plane: scale 3, a tilt and a perspective divide.
  const rules::H3 fwd{3, 0.4, 10, 0.2, 2.5, 8, 0.004, 0.01, 1};
  rules::H3 inv;
  ASSERT_TRUE(rules::Invert3(fwd, inv));
  Surface target(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 80, 60));
  cairo_t* cr = cairo_create(target.get());
  DrawWarped(cr, src.get(), fwd, CAIRO_OPERATOR_SOURCE, true);
  cairo_destroy(cr);
  cairo_surface_flush(target.get());
  int differing = 0, compared = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) {
      const std::uint32_t want = NaiveAt(src.get(), inv, fwd, x + 0.5, y + 0.5);
      const std::uint32_t got = Pixels(target.get())[y * Stride(target.get()) + x];
      ++compared;
      for (int shift = 0; shift < 32; shift += 8) {
        const int d = std::abs(static_cast<int>((want >> shift) & 255) - static_cast<int>((got >> shift) & 255));
        if (d > 2) {
          ++differing;
          ADD_FAILURE() << x << "," << y << " want " << std::hex << want << " got " << got;
          break;
        }
      }
      if (differing > 5) return;
    }
  EXPECT_EQ(compared, 4800);
}

// Under a map whose inverse is exact in binary fractions the sample points
// are known exactly: each channel must be the sampler's fixed-point mix in
// 1/256 steps, rounded, whatever the other channels hold (bright and dark
// neighbours side by side, any alpha).
TEST(ProjectedPlane, TheSamplerMixesEachChannelAloneInWholeSteps) {
  Surface src(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 9, 7));
  std::uint32_t seed = 7;
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const std::uint32_t a = (x + y) % 4 == 0 ? 255 : seed >> 24;
      std::uint32_t px = a << 24;
      for (int shift = 0; shift < 24; shift += 8) px |= (((seed >> shift) & 255) * a / 255) << shift;
      Pixels(src.get())[y * Stride(src.get()) + x] = px;
    }
  cairo_surface_mark_dirty(src.get());
  Surface target(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 16));
  cairo_t* cr = cairo_create(target.get());
  DrawWarped(cr, src.get(), rules::H3{4, 0, 0, 0, 2, 0, 0, 0, 1}, CAIRO_OPERATOR_SOURCE, true);
  cairo_destroy(cr);
  cairo_surface_flush(target.get());
  const auto at = [&](int x, int y) -> std::uint32_t {
    return x < 0 || y < 0 || x >= 9 || y >= 7 ? 0u : Pixels(src.get())[y * Stride(src.get()) + x];
  };
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 40; ++x) {
      const double fx = (x + 0.5) / 4 - 0.5, fy = (y + 0.5) / 2 - 0.5;
      const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
      const int ax = static_cast<int>((fx - ix) * 256), ay = static_cast<int>((fy - iy) * 256);
      std::uint32_t want = 0;
      for (int shift = 0; shift < 32; shift += 8) {
        const auto c = [&](int dx, int dy) { return static_cast<int>((at(ix + dx, iy + dy) >> shift) & 255); };
        const int top = c(0, 0) * (256 - ax) + c(1, 0) * ax, bottom = c(0, 1) * (256 - ax) + c(1, 1) * ax;
        want |= static_cast<std::uint32_t>((top * (256 - ay) + bottom * ay + 32768) >> 16) << shift;
      }
      ASSERT_EQ(Pixels(target.get())[y * Stride(target.get()) + x], want) << x << "," << y;
    }
}

TEST(ProjectedPlane, OnlyWhatIsInFrontOfTheEyeIsBoxed) {
  // Depth W = 1 - y / 100: the eye's plane is the line y = 100.
  const rules::H3 h{1, 0, 0, 0, 1, 0, 0, -0.01, 1};
  const Box front = ProjectedBox(h, 0, 0, 10, 50);
  EXPECT_NEAR(front.x0, 0, 1e-9);
  EXPECT_NEAR(front.y1, 50 / 0.5, 1e-9);  // y = 50 at depth 1/2
  EXPECT_NEAR(front.x1, 10 / 0.5, 1e-9);
  // Cut where it passes the eye: what remains is far out, but bounded.
  const Box cut = ProjectedBox(h, 0, 0, 10, 300);
  EXPECT_FALSE(cut.Empty());
  EXPECT_GT(cut.y1, 1e4);
  EXPECT_LE(cut.y1, 1e7);
  EXPECT_TRUE(ProjectedBox(h, 0, 150, 10, 300).Empty()) << "wholly behind the eye";
  // Nothing is drawn from behind the eye either.
  Surface src = Checker();
  Surface target(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 40));
  const rules::H3 behind{1, 0, 0, 0, 1, 0, 0, 0, -1};
  cairo_t* cr = cairo_create(target.get());
  DrawWarped(cr, src.get(), behind, CAIRO_OPERATOR_OVER, true);
  cairo_destroy(cr);
  cairo_surface_flush(target.get());
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(Pixels(target.get())[y * Stride(target.get()) + x], 0u) << x << "," << y;
}

}  // namespace
}  // namespace quarvel::player
