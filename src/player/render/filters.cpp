#include "player/render/filters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <list>

#include <immintrin.h>

namespace quarvel::player {
namespace {

using swf::Rgba;

// Caps on what a file may ask for: a kernel beyond this is not a picture
// effect but a way to spend time.
constexpr int kMaxPasses = 15;
constexpr int kMaxKernelSide = 15;
constexpr double kMaxBlur = 255;
constexpr std::size_t kMaxFilters = 16;
// Device pixels: a shadow cast far (its distance scales with the stage) still
// shows; the layer itself stays within the filter layer's largest side.
constexpr double kMaxMargin = 2048;

void ReadFlags(swf::Reader& r, Filter& f, bool withOnTop) {
  f.inner = r.UB(1, "InnerShadow") != 0;
  f.knockout = r.UB(1, "Knockout") != 0;
  f.hideObject = r.UB(1, "CompositeSource") == 0;
  if (withOnTop) {
    f.onTop = r.UB(1, "OnTop") != 0;
    f.passes = static_cast<int>(r.UB(4, "Passes"));
  } else {
    f.passes = static_cast<int>(r.UB(5, "Passes"));
  }
  r.AlignBits();
}

void ReadBlur(swf::Reader& r, Filter& f) {
  f.blurX = std::clamp(r.Fixed16("BlurX"), 0.0, kMaxBlur);
  f.blurY = std::clamp(r.Fixed16("BlurY"), 0.0, kMaxBlur);
}

void ReadGradientFilter(swf::Reader& r, Filter& f) {
  const int n = r.U8("NumColors");
  std::vector<Rgba> colors;
  for (int i = 0; i < n; ++i) colors.push_back(swf::ReadRgba(r, "GradientColors"));
  for (int i = 0; i < n; ++i) f.gradient.emplace_back(r.U8("GradientRatio"), colors[static_cast<std::size_t>(i)]);
  ReadBlur(r, f);
  f.angle = r.Fixed16("Angle");
  f.distance = std::clamp(r.Fixed16("Distance"), -kMaxBlur, kMaxBlur);
  f.strength = r.Fixed8("Strength");
  ReadFlags(r, f, true);
}

// One channel plane of floats, 0 outside.
struct Plane {
  int w = 0, h = 0;
  std::vector<float> v;
  Plane() = default;
  Plane(int width, int height) : w(width), h(height), v(static_cast<std::size_t>(width) * height, 0.0f) {}
  // The size changed, the values left as they were: for a plane written
  // whole. Its store only grows (growing within it would clear it again).
  void Resize(int width, int height) {
    w = width, h = height;
    if (v.size() < Size()) v.resize(Size());
  }
  std::size_t Size() const { return static_cast<std::size_t>(w) * static_cast<std::size_t>(h); }
  float At(int x, int y) const { return x < 0 || y < 0 || x >= w || y >= h ? 0.0f : v[static_cast<std::size_t>(y) * w + x]; }
  float& operator()(int x, int y) { return v[static_cast<std::size_t>(y) * w + x]; }
};

// A box pass's constants: the whole-weight half width `m`, the end pixels'
// weight and the division, and k / levels for the whole levels k a pixel can
// be cut to (the same division, done once per pass instead of per pixel).
struct BoxShape {
  static constexpr int kLevels = 256;
  int m = 0, pad = 0;
  double edge = 0, total = 1, levels = 1;
  double cut[kLevels];
  // v cut down to a whole level.
  float Level(double v) const {
    const double k = std::floor(v * levels + 1e-4);
    return static_cast<float>(k >= 0 && k < kLevels ? cut[static_cast<int>(k)] : k / levels);
  }
};

// One pass down `w` columns side by side: `cols` holds each column padded by
// `pad` rows above and below (row r at cols + r * w); row i of the result
// goes to out + i * w. Each column takes the same sums in the same order as
// a line alone: a running sum of the whole-weight pixels [i - m, i + m].
void BoxColumnsPlain(const BoxShape& b, const double* cols, std::size_t w, int n, std::size_t x0, double* sums,
                     float* out) {
  auto row = [&](int i) { return cols + static_cast<std::size_t>(i + b.pad) * w; };
  for (std::size_t x = x0; x < w; ++x) sums[x] = 0;
  for (int i = -b.m; i <= b.m; ++i) {
    const double* r = row(i);
    for (std::size_t x = x0; x < w; ++x) sums[x] += r[x];
  }
  for (int i = 0; i < n; ++i) {
    const double *before = row(i - b.m - 1), *after = row(i + b.m + 1), *leaving = row(i - b.m);
    float* o = out + static_cast<std::size_t>(i) * w;
    for (std::size_t x = x0; x < w; ++x) {
      o[x] = b.Level((sums[x] + b.edge * (before[x] + after[x])) / b.total);
      sums[x] += after[x] - leaving[x];
    }
  }
}

// The same four columns at a time: the same operations on each, in the same
// order (no fused multiply-add), so the very same values.
__attribute__((target("avx2"))) std::size_t BoxColumnsAvx2(const BoxShape& b, const double* cols, std::size_t w,
                                                          int n, double* sums, float* out) {
  const std::size_t wide = w & ~std::size_t{3};
  if (wide == 0) return 0;
  auto row = [&](int i) { return cols + static_cast<std::size_t>(i + b.pad) * w; };
  for (std::size_t x = 0; x < wide; x += 4) _mm256_storeu_pd(sums + x, _mm256_setzero_pd());
  for (int i = -b.m; i <= b.m; ++i) {
    const double* r = row(i);
    for (std::size_t x = 0; x < wide; x += 4)
      _mm256_storeu_pd(sums + x, _mm256_add_pd(_mm256_loadu_pd(sums + x), _mm256_loadu_pd(r + x)));
  }
  const __m256d edge = _mm256_set1_pd(b.edge), total = _mm256_set1_pd(b.total), levels = _mm256_set1_pd(b.levels);
  const __m256d nudge = _mm256_set1_pd(1e-4), zero = _mm256_setzero_pd();
  const __m256d top = _mm256_set1_pd(BoxShape::kLevels);
  for (int i = 0; i < n; ++i) {
    const double *before = row(i - b.m - 1), *after = row(i + b.m + 1), *leaving = row(i - b.m);
    float* o = out + static_cast<std::size_t>(i) * w;
    for (std::size_t x = 0; x < wide; x += 4) {
      const __m256d sum = _mm256_loadu_pd(sums + x), a = _mm256_loadu_pd(after + x);
      const __m256d q =
          _mm256_div_pd(_mm256_add_pd(sum, _mm256_mul_pd(edge, _mm256_add_pd(_mm256_loadu_pd(before + x), a))), total);
      const __m256d k = _mm256_floor_pd(_mm256_add_pd(_mm256_mul_pd(q, levels), nudge));
      const __m256d inside = _mm256_and_pd(_mm256_cmp_pd(k, zero, _CMP_GE_OQ), _mm256_cmp_pd(k, top, _CMP_LT_OQ));
      if (_mm256_movemask_pd(inside) == 0xF) {
        const __m256d cut = _mm256_mask_i32gather_pd(zero, b.cut, _mm256_cvttpd_epi32(k), inside, 8);
        _mm_storeu_ps(o + x, _mm256_cvtpd_ps(cut));
      } else {
        alignas(32) double ks[4];
        _mm256_store_pd(ks, k);
        for (int j = 0; j < 4; ++j)
          o[x + static_cast<std::size_t>(j)] =
              static_cast<float>(ks[j] >= 0 && ks[j] < BoxShape::kLevels ? b.cut[static_cast<int>(ks[j])]
                                                                        : ks[j] / b.levels);
      }
      _mm256_storeu_pd(sums + x, _mm256_add_pd(sum, _mm256_sub_pd(a, _mm256_loadu_pd(leaving + x))));
    }
  }
  return wide;
}

void BoxColumns(const BoxShape& b, const double* cols, std::size_t w, int n, std::vector<double>& sums, float* out) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  sums.resize(w);
  const std::size_t done = avx2 ? BoxColumnsAvx2(b, cols, w, n, sums.data(), out) : 0;
  if (done < w) BoxColumnsPlain(b, cols, w, n, done, sums.data(), out);
}

// Pads a column block's rows: transparent, or for a bitmap's own filter the
// edge rows repeated.
void PadColumns(std::vector<double>& cols, std::size_t w, int n, int pad, bool clampEdges) {
  double* c = cols.data();
  const std::size_t rows = cols.size() / w, p = static_cast<std::size_t>(pad);
  const std::size_t last = p + static_cast<std::size_t>(n) - 1;
  if (clampEdges && n > 0) {
    for (std::size_t r = 0; r < p; ++r) std::copy_n(c + p * w, w, c + r * w);
    for (std::size_t r = last + 1; r < rows; ++r) std::copy_n(c + last * w, w, c + r * w);
  } else {
    std::fill(c, c + p * w, 0.0);
    std::fill(c + (last + 1) * w, c + rows * w, 0.0);
  }
}

// One pass of Flash's box blur along one axis: a box `size` pixels wide
// centred on the pixel, its two end pixels weighted by the fraction of the
// size that does not fill a whole pair, transparent beyond the edges. The
// end weight is kept in 1/255 steps and each result is cut down to a whole
// level (`levels` to 1.0 of the plane), as the player's fixed-point
// arithmetic does. Lines are run side by side, as columns.
void BoxPass(Plane& p, double size, bool horizontal, double levels, bool clampEdges) {
  if (!(size > 1.0)) return;
  size = std::min(size, kMaxBlur);
  BoxShape b;
  const double radius = (size - 1) / 2;
  b.m = static_cast<int>(std::ceil(radius)) - 1;
  b.edge = std::floor((radius - b.m) * 255) / 255;
  b.total = 2 * b.m + 1 + 2 * b.edge;
  b.levels = levels;
  for (int k = 0; k < BoxShape::kLevels; ++k) b.cut[k] = static_cast<double>(k) / levels;
  b.pad = b.m + 2;
  const int n = horizontal ? p.w : p.h, lines = horizontal ? p.h : p.w;
  const std::size_t rows = static_cast<std::size_t>(n) + 2 * static_cast<std::size_t>(b.pad);
  // Working rows kept from pass to pass: every element is written before it
  // is read, and fresh memory costs a page fault per page.
  thread_local std::vector<double> sums, cols;
  thread_local std::vector<float> out;
  if (!horizontal) {
    // All columns at once, row by row (a column alone walks memory a row apart).
    const std::size_t w = static_cast<std::size_t>(p.w);
    cols.resize(rows * w);
    for (int y = 0; y < n; ++y)
      for (std::size_t x = 0; x < w; ++x)
        cols[static_cast<std::size_t>(y + b.pad) * w + x] = p.v[static_cast<std::size_t>(y) * w + x];
    PadColumns(cols, w, n, b.pad, clampEdges);
    BoxColumns(b, cols.data(), w, n, sums, p.v.data());
    return;
  }
  // Rows a block at a time, turned into columns side by side: blocks wide
  // enough that the column kernel's work per row outweighs its overhead.
  constexpr int kGroup = 32;
  for (int l0 = 0; l0 < lines; l0 += kGroup) {
    const std::size_t g = static_cast<std::size_t>(std::min(kGroup, lines - l0));
    cols.resize(rows * g);
    out.resize(static_cast<std::size_t>(n) * g);
    const float* first = p.v.data() + static_cast<std::size_t>(l0) * static_cast<std::size_t>(p.w);
    for (int i = 0; i < n; ++i) {
      double* to = cols.data() + static_cast<std::size_t>(i + b.pad) * g;
      for (std::size_t j = 0; j < g; ++j) to[j] = first[j * static_cast<std::size_t>(p.w) + static_cast<std::size_t>(i)];
    }
    PadColumns(cols, g, n, b.pad, clampEdges);
    BoxColumns(b, cols.data(), g, n, sums, out.data());
    float* firstOut = p.v.data() + static_cast<std::size_t>(l0) * static_cast<std::size_t>(p.w);
    for (int i = 0; i < n; ++i) {
      const float* from = out.data() + static_cast<std::size_t>(i) * g;
      for (std::size_t j = 0; j < g; ++j) firstOut[j * static_cast<std::size_t>(p.w) + static_cast<std::size_t>(i)] = from[j];
    }
  }
}

// `levels`: what 1.0 of the plane is in whole steps.
void Blur(Plane& p, double bx, double by, int passes, double levels, bool clampEdges) {
  for (int i = 0; i < passes; ++i) {
    BoxPass(p, bx, true, levels, clampEdges);
    BoxPass(p, by, false, levels, clampEdges);
  }
}

// A blur size in stage pixels as device pixels: Flash scales what exceeds
// the one pixel that blurs nothing.
double ScaledBlur(double blur, double scale) { return (blur - 1) * scale + 1; }

struct Pixels {
  int w, h, stride;
  std::uint8_t* data;
  std::uint32_t& operator()(int x, int y) {
    return reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride)[x];
  }
};

float Channel(std::uint32_t px, int shift) { return static_cast<float>((px >> shift) & 255); }

// std::lround(v) cut to 0..255, without the library call (every channel of
// every filtered pixel goes through it): v + 0.5 is exact in double for a
// float of this range, so its whole part rounds halves up as lround does.
std::uint32_t ChannelLevel(float v) {
  if (!(v > 0.0f)) return 0;  // NaN too
  if (v >= 255.0f) return 255;
  return static_cast<std::uint32_t>(static_cast<double>(v) + 0.5);
}

std::uint32_t Pack(float a, float r, float g, float b) {
  auto c = ChannelLevel;
  const std::uint32_t A = c(a);
  // Premultiplied: no colour channel above the alpha.
  return A << 24 | std::min(c(r), A) << 16 | std::min(c(g), A) << 8 | std::min(c(b), A);
}

// ChannelLevel of eight floats at once: the same conversion to double, the
// same half added and the same truncation, so the very same levels.
__attribute__((target("avx2"))) __m256i ChannelLevels(__m256 v) {
  const __m256d half = _mm256_set1_pd(0.5);
  const __m128i lo = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(v)), half));
  const __m128i hi = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)), half));
  const __m256i level = _mm256_set_m128i(hi, lo);
  const __m256i positive = _mm256_castps_si256(_mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_GT_OQ));
  const __m256i full = _mm256_castps_si256(_mm256_cmp_ps(v, _mm256_set1_ps(255.0f), _CMP_GE_OQ));
  return _mm256_blendv_epi8(_mm256_and_si256(level, positive), _mm256_set1_epi32(255), full);
}

// Pack over a row of planes, eight pixels at a time; returns how many it did.
__attribute__((target("avx2"))) int PackRowAvx2(const float* a, const float* r, const float* g, const float* b, int n,
                                               std::uint32_t* out) {
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i A = ChannelLevels(_mm256_loadu_ps(a + x));
    const __m256i R = _mm256_min_epu32(ChannelLevels(_mm256_loadu_ps(r + x)), A);
    const __m256i G = _mm256_min_epu32(ChannelLevels(_mm256_loadu_ps(g + x)), A);
    const __m256i B = _mm256_min_epu32(ChannelLevels(_mm256_loadu_ps(b + x)), A);
    const __m256i v = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(A, 24), _mm256_slli_epi32(R, 16)),
                                      _mm256_or_si256(_mm256_slli_epi32(G, 8), B));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), v);
  }
  return x;
}

std::uint32_t Scaled(std::uint32_t e, float k) {
  return Pack(Channel(e, 24) * k, Channel(e, 16) * k, Channel(e, 8) * k, Channel(e, 0) * k);
}

std::uint32_t Over(std::uint32_t top, std::uint32_t bottom) {
  const float keep = 1 - Channel(top, 24) / 255.0f;
  return Pack(Channel(top, 24) + Channel(bottom, 24) * keep, Channel(top, 16) + Channel(bottom, 16) * keep,
              Channel(top, 8) + Channel(bottom, 8) * keep, Channel(top, 0) + Channel(bottom, 0) * keep);
}

Rgba GradientAt(const std::vector<std::pair<std::uint8_t, Rgba>>& g, double ratio) {
  if (g.empty()) return {0, 0, 0, 0};
  if (ratio <= g.front().first) return g.front().second;
  for (std::size_t i = 1; i < g.size(); ++i) {
    if (ratio <= g[i].first) {
      const double span = g[i].first - g[i - 1].first;
      const double t = span > 0 ? (ratio - g[i - 1].first) / span : 1.0;
      auto mix = [t](int a, int b) { return static_cast<std::uint8_t>(std::lround(a + (b - a) * t)); };
      const Rgba &a = g[i - 1].second, &b = g[i].second;
      return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b), mix(a.a, b.a)};
    }
  }
  return g.back().second;
}

std::uint32_t Premultiplied(Rgba c, float amount) {
  const float a = std::clamp(amount, 0.0f, 1.0f) * c.a;
  return Pack(a, c.r * a / 255.0f, c.g * a / 255.0f, c.b * a / 255.0f);
}

// The picture's alpha into `a`, which is written whole (so a plane kept
// from call to call needs no clearing).
void AlphaInto(Pixels& px, Plane& a) {
  a.Resize(px.w, px.h);
  for (int y = 0; y < px.h; ++y)
    for (int x = 0; x < px.w; ++x) a(x, y) = Channel(px(x, y), 24) / 255.0f;
}

// The effect's layer is made and put down pixel by pixel: each pixel of it
// meets only the same pixel of the picture. Planes are kept per thread.
void ShadowOrGlow(Pixels& px, const Filter& f, double scale, bool clampEdges) {
  thread_local Plane source, copy;
  AlphaInto(px, source);
  // The object's own coverage is read again only inside it or to cut a
  // knockout; otherwise its plane is blurred where it is.
  Plane* blurred = &source;
  if (f.inner || f.knockout) {
    copy.Resize(px.w, px.h);
    std::copy_n(source.v.begin(), source.Size(), copy.v.begin());
    blurred = &copy;
  }
  Blur(*blurred, ScaledBlur(f.blurX, scale), ScaledBlur(f.blurY, scale), f.passes, 255, clampEdges);
  const int dx = static_cast<int>(std::lround(std::cos(f.angle) * f.distance * scale));
  const int dy = static_cast<int>(std::lround(std::sin(f.angle) * f.distance * scale));
  for (int y = 0; y < px.h; ++y) {
    for (int x = 0; x < px.w; ++x) {
      // The blurred plane moved by (dx, dy); a glow reads it where it is.
      const float m = blurred->At(x - dx, y - dy);
      const float amount = static_cast<float>(f.inner ? source.At(x, y) * (1 - m) : m) * static_cast<float>(f.strength);
      std::uint32_t e;
      if (f.kind == Filter::Kind::kGradientGlow) {
        e = Premultiplied(GradientAt(f.gradient, std::clamp(amount, 0.0f, 1.0f) * 255.0), 1.0f);
      } else {
        e = Premultiplied(f.color, amount);
      }
      if (f.inner) {
        // Inside only: the object's coverage bounds the effect.
        e = Scaled(e, source.At(x, y));
      }
      // Over the object when inner, else under it; alone, cut out of the
      // object for an outer knockout.
      std::uint32_t& s = px(x, y);
      if (f.knockout || f.hideObject) {
        const float keep = f.knockout && !f.inner ? 1.0f - source.At(x, y) : 1.0f;
        s = Scaled(e, keep);
      } else {
        s = f.inner ? Over(e, s) : Over(s, e);
      }
    }
  }
}

// The blurred alpha sampled `distance` towards the light and away from it:
// where the first is larger the highlight shows, else the shadow. A full
// bevel (the OnTop bit, whatever the inner bit says) lies over the object
// and a knockout leaves it whole; an inner one shows over the object only;
// an outer one lies under the object, and a knockout cuts the object out.
void Bevel(Pixels& px, const Filter& f, double scale, bool clampEdges) {
  thread_local Plane source, blurred;
  AlphaInto(px, source);
  blurred.Resize(px.w, px.h);
  std::copy_n(source.v.begin(), source.Size(), blurred.v.begin());
  Blur(blurred, ScaledBlur(f.blurX, scale), ScaledBlur(f.blurY, scale), f.passes, 255, clampEdges);
  const int dx = static_cast<int>(std::lround(std::cos(f.angle) * f.distance * scale));
  const int dy = static_cast<int>(std::lround(std::sin(f.angle) * f.distance * scale));
  const bool full = f.onTop, inner = f.inner && !f.onTop;
  const bool alone = f.knockout || f.hideObject;
  for (int y = 0; y < px.h; ++y) {
    for (int x = 0; x < px.w; ++x) {
      // The blurred plane moved away from the light and towards it.
      const float d = (blurred.At(x + dx, y + dy) - blurred.At(x - dx, y - dy)) * static_cast<float>(f.strength);
      std::uint32_t e;
      if (f.kind == Filter::Kind::kGradientBevel) {
        e = Premultiplied(GradientAt(f.gradient, std::clamp(0.5f + d / 2, 0.0f, 1.0f) * 255.0), 1.0f);
      } else {
        e = d >= 0 ? Premultiplied(f.highlight, d) : Premultiplied(f.color, -d);
      }
      const float covered = source.At(x, y);
      std::uint32_t& s = px(x, y);
      if (full) {
        s = alone ? e : Over(e, s);
      } else if (inner) {
        e = Scaled(e, covered);
        s = alone ? e : Over(e, s);
      } else {
        s = f.knockout ? Scaled(e, 1 - covered) : f.hideObject ? e : Over(s, e);
      }
    }
  }
}

void BlurAll(Pixels& px, const Filter& f, double scale, bool clampEdges) {
  // Kept from call to call, as the box pass keeps its rows: each is written
  // whole below, and fresh memory costs a clearing and a page fault per page.
  thread_local Plane a, r, g, b;
  for (Plane* p : {&a, &r, &g, &b}) p->Resize(px.w, px.h);
  for (int y = 0; y < px.h; ++y) {
    for (int x = 0; x < px.w; ++x) {
      const std::uint32_t v = px(x, y);
      a(x, y) = Channel(v, 24), r(x, y) = Channel(v, 16), g(x, y) = Channel(v, 8), b(x, y) = Channel(v, 0);
    }
  }
  // A plane equal to one before it blurs to the same plane: white, grey and
  // black pictures (most glows, shadows and text) blur one or two, not four.
  Plane* const planes[4] = {&a, &r, &g, &b};
  const Plane* blurred[4] = {&a, &r, &g, &b};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < i && blurred[i] == planes[i]; ++j)
      if (std::memcmp(planes[j]->v.data(), planes[i]->v.data(), planes[i]->Size() * sizeof(float)) == 0)
        blurred[i] = blurred[j];
  }
  for (int i = 0; i < 4; ++i)
    if (blurred[i] == planes[i])
      Blur(*planes[i], ScaledBlur(f.blurX, scale), ScaledBlur(f.blurY, scale), f.passes, 1, clampEdges);
  static const bool avx2 = __builtin_cpu_supports("avx2");
  const float *pa = blurred[0]->v.data(), *pr = blurred[1]->v.data(), *pg = blurred[2]->v.data(),
              *pb = blurred[3]->v.data();
  for (int y = 0; y < px.h; ++y) {
    const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(px.w);
    auto* row = reinterpret_cast<std::uint32_t*>(px.data + static_cast<std::size_t>(y) * static_cast<std::size_t>(px.stride));
    const int done = avx2 ? PackRowAvx2(pa + at, pr + at, pg + at, pb + at, px.w, row) : 0;
    for (int x = done; x < px.w; ++x) {
      const std::size_t i = at + static_cast<std::size_t>(x);
      row[x] = Pack(pa[i], pr[i], pg[i], pb[i]);
    }
  }
}

void ColorMatrix(Pixels& px, const Filter& f) {
  const auto& m = f.matrix;
  for (int y = 0; y < px.h; ++y) {
    for (int x = 0; x < px.w; ++x) {
      const std::uint32_t v = px(x, y);
      const float a = Channel(v, 24);
      const float k = a > 0 ? 255.0f / a : 0.0f;
      const float in[4] = {Channel(v, 16) * k, Channel(v, 8) * k, Channel(v, 0) * k, a};
      float out[4];
      for (int row = 0; row < 4; ++row) {
        const float* c = &m[static_cast<std::size_t>(row) * 5];
        out[row] = std::clamp(c[0] * in[0] + c[1] * in[1] + c[2] * in[2] + c[3] * in[3] + c[4], 0.0f, 255.0f);
      }
      const float na = out[3] / 255.0f;
      px(x, y) = Pack(out[3], out[0] * na, out[1] * na, out[2] * na);
    }
  }
}

void Convolve(Pixels& px, const Filter& f) {
  if (f.matrixX <= 0 || f.matrixY <= 0 || f.divisor == 0) return;
  std::vector<std::uint32_t> src(static_cast<std::size_t>(px.w) * px.h);
  for (int y = 0; y < px.h; ++y)
    for (int x = 0; x < px.w; ++x) src[static_cast<std::size_t>(y) * px.w + x] = px(x, y);
  const std::uint32_t fallback = Premultiplied(f.defaultColor, 1.0f);
  auto at = [&](int x, int y) {
    if (f.clamp) {
      x = std::clamp(x, 0, px.w - 1);
      y = std::clamp(y, 0, px.h - 1);
    } else if (x < 0 || y < 0 || x >= px.w || y >= px.h) {
      return fallback;
    }
    return src[static_cast<std::size_t>(y) * px.w + x];
  };
  const int cx = f.matrixX / 2, cy = f.matrixY / 2;
  for (int y = 0; y < px.h; ++y) {
    for (int x = 0; x < px.w; ++x) {
      float sum[4] = {0, 0, 0, 0};
      for (int j = 0; j < f.matrixY; ++j) {
        for (int i = 0; i < f.matrixX; ++i) {
          const float k = f.kernel[static_cast<std::size_t>(j) * f.matrixX + i];
          const std::uint32_t v = at(x + i - cx, y + j - cy);
          for (int c = 0; c < 4; ++c) sum[c] += k * Channel(v, 24 - 8 * c);
        }
      }
      for (float& s : sum) s = s / f.divisor + f.bias;
      const float a = f.preserveAlpha ? Channel(src[static_cast<std::size_t>(y) * px.w + x], 24) : sum[0];
      px(x, y) = Pack(a, sum[1], sum[2], sum[3]);
    }
  }
}

}  // namespace

std::vector<Filter> ReadFilterList(swf::Reader& r) {
  std::vector<Filter> list;
  const int n = r.U8("NumberOfFilters");
  for (int i = 0; i < n; ++i) {
    Filter f;
    const int id = r.U8("FilterID");
    switch (id) {
      case 0:
        f.kind = Filter::Kind::kDropShadow;
        f.color = swf::ReadRgba(r, "DropShadowColor");
        ReadBlur(r, f);
        f.angle = r.Fixed16("Angle");
        f.distance = std::clamp(r.Fixed16("Distance"), -kMaxBlur, kMaxBlur);
        f.strength = r.Fixed8("Strength");
        ReadFlags(r, f, false);
        break;
      case 1:
        f.kind = Filter::Kind::kBlur;
        ReadBlur(r, f);
        f.passes = static_cast<int>(r.UB(5, "Passes"));
        r.UB(3, "Reserved");
        r.AlignBits();
        break;
      case 2:
        f.kind = Filter::Kind::kGlow;
        f.color = swf::ReadRgba(r, "GlowColor");
        ReadBlur(r, f);
        f.strength = r.Fixed8("Strength");
        ReadFlags(r, f, false);
        break;
      case 3:
        f.kind = Filter::Kind::kBevel;
        // Flash writes the highlight first, whatever the format's notes say.
        f.highlight = swf::ReadRgba(r, "HighlightColor");
        f.color = swf::ReadRgba(r, "ShadowColor");
        ReadBlur(r, f);
        f.angle = r.Fixed16("Angle");
        f.distance = std::clamp(r.Fixed16("Distance"), -kMaxBlur, kMaxBlur);
        f.strength = r.Fixed8("Strength");
        ReadFlags(r, f, true);
        break;
      case 4:
      case 7:
        f.kind = id == 4 ? Filter::Kind::kGradientGlow : Filter::Kind::kGradientBevel;
        ReadGradientFilter(r, f);
        break;
      case 5: {
        f.kind = Filter::Kind::kConvolution;
        f.matrixX = r.U8("MatrixX");
        f.matrixY = r.U8("MatrixY");
        f.divisor = r.F32("Divisor");
        f.bias = r.F32("Bias");
        for (int k = 0; k < f.matrixX * f.matrixY; ++k) f.kernel.push_back(r.F32("Matrix"));
        f.defaultColor = swf::ReadRgba(r, "DefaultColor");
        r.UB(6, "Reserved");
        f.clamp = r.UB(1, "Clamp") != 0;
        f.preserveAlpha = r.UB(1, "PreserveAlpha") != 0;
        r.AlignBits();
        if (f.matrixX > kMaxKernelSide || f.matrixY > kMaxKernelSide) f.matrixX = f.matrixY = 0;
        break;
      }
      case 6:
        f.kind = Filter::Kind::kColorMatrix;
        for (float& v : f.matrix) v = r.F32("Matrix");
        break;
      default:
        throw swf::SwfError("FilterID", r.Offset() - 1, "filter " + std::to_string(id) + " is unknown");
    }
    f.passes = std::clamp(f.passes, 0, kMaxPasses);
    if (!std::isfinite(f.strength)) f.strength = 1;
    if (!std::isfinite(f.angle)) f.angle = 0;
    if (list.size() < kMaxFilters) list.push_back(std::move(f));
  }
  return list;
}

double FilterMargin(const std::vector<Filter>& filters, double scale) {
  double m = 0;
  for (const Filter& f : filters) {
    // Each pass of a box spreads by half its width, rounded up.
    const double size = std::min(ScaledBlur(std::max(f.blurX, f.blurY), scale), kMaxBlur);
    if (size > 1) m += std::ceil((size - 1) / 2) * std::max(f.passes, 1);
    m += std::fabs(f.distance) * scale;
    if (f.kind == Filter::Kind::kConvolution) m += std::max(f.matrixX, f.matrixY);
  }
  return std::min(m, kMaxMargin);
}

namespace {

// The filters are a function of the picture and their parameters alone, and
// a movie's filtered objects mostly look the same from frame to frame: the
// last pictures filtered, and what came out, are kept (per thread, within a
// byte budget) and a picture equal to one of them, byte for byte under the
// same filters, takes its result.
class FilterResults {
 public:
  // The kept result for this input, copied over it: false when none.
  bool Take(const Pixels& px, const std::vector<Filter>& filters, double scale, bool clampEdges) {
    const std::size_t bytes = static_cast<std::size_t>(px.h) * static_cast<std::size_t>(px.stride);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->w != px.w || it->h != px.h || it->stride != px.stride || it->scale != scale ||
          it->clampEdges != clampEdges || it->filters != filters ||
          std::memcmp(it->input.data(), px.data, bytes) != 0)
        continue;
      std::memcpy(px.data, it->output.data(), bytes);
      // The latest used goes to the front.
      if (it != entries_.begin()) entries_.splice(entries_.begin(), entries_, it);
      return true;
    }
    return false;
  }
  std::vector<std::uint8_t> Input(const Pixels& px) const {
    return std::vector<std::uint8_t>(px.data, px.data + static_cast<std::size_t>(px.h) * px.stride);
  }
  void Keep(std::vector<std::uint8_t> input, const Pixels& px, const std::vector<Filter>& filters, double scale,
            bool clampEdges) {
    const std::size_t bytes = input.size();
    if (2 * bytes > kBudget) return;
    Entry e{px.w, px.h, px.stride, scale, clampEdges, filters, std::move(input),
            std::vector<std::uint8_t>(px.data, px.data + bytes)};
    entries_.push_front(std::move(e));
    held_ += 2 * bytes;
    while (held_ > kBudget || entries_.size() > kMaxEntries) {
      held_ -= 2 * entries_.back().input.size();
      entries_.pop_back();
    }
  }

 private:
  static constexpr std::size_t kBudget = std::size_t{48} << 20;
  static constexpr std::size_t kMaxEntries = 64;
  struct Entry {
    int w, h, stride;
    double scale;
    bool clampEdges;
    std::vector<Filter> filters;
    std::vector<std::uint8_t> input, output;
  };
  std::list<Entry> entries_;
  std::size_t held_ = 0;
};

}  // namespace

void ApplyFilters(cairo_surface_t* image, const std::vector<Filter>& filters, double scale, bool clampEdges) {
  cairo_surface_flush(image);
  Pixels px{cairo_image_surface_get_width(image), cairo_image_surface_get_height(image),
            cairo_image_surface_get_stride(image), cairo_image_surface_get_data(image)};
  if (!px.data || px.w <= 0 || px.h <= 0) return;
  if (filters.empty()) {
    cairo_surface_mark_dirty(image);
    return;
  }
  thread_local FilterResults kept;
  if (kept.Take(px, filters, scale, clampEdges)) {
    cairo_surface_mark_dirty(image);
    return;
  }
  std::vector<std::uint8_t> input = kept.Input(px);
  for (const Filter& f : filters) {
    switch (f.kind) {
      case Filter::Kind::kDropShadow:
      case Filter::Kind::kGlow:
      case Filter::Kind::kGradientGlow:
        ShadowOrGlow(px, f, scale, clampEdges);
        break;
      case Filter::Kind::kBevel:
      case Filter::Kind::kGradientBevel:
        Bevel(px, f, scale, clampEdges);
        break;
      case Filter::Kind::kBlur:
        BlurAll(px, f, scale, clampEdges);
        break;
      case Filter::Kind::kColorMatrix:
        ColorMatrix(px, f);
        break;
      case Filter::Kind::kConvolution:
        Convolve(px, f);
        break;
    }
  }
  kept.Keep(std::move(input), px, filters, scale, clampEdges);
  cairo_surface_mark_dirty(image);
}

}  // namespace quarvel::player
