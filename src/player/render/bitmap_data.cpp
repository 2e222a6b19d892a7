#include "player/render/bitmap_data.h"

#include <algorithm>
#include <cmath>

#include "player/display/stage.h"

namespace quarvel::player {
namespace {

constexpr std::uint32_t Pack(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

std::uint32_t Channel(std::uint32_t v, int shift) { return (v >> shift) & 255; }

// Channel bit (1 red, 2 green, 4 blue, 8 alpha) to its shift in ARGB.
int ShiftOf(int channelBit) {
  switch (channelBit) {
    case 1: return 16;
    case 2: return 8;
    case 4: return 0;
    case 8: return 24;
    default: return -1;
  }
}

// Flash's noise() sequence: the minimal standard generator (16807 times the
// state, modulo 2^31 - 1), started at the seed, or at 1 - seed for seeds of
// zero and below.
struct MinStd {
  std::uint64_t s;
  explicit MinStd(int seed) : s(seed > 0 ? static_cast<std::uint64_t>(seed) : 1 - static_cast<std::int64_t>(seed)) {
    s %= 2147483647u;
    if (s == 0) s = 1;
  }
  std::uint32_t Next() {
    s = s * 16807u % 2147483647u;
    return static_cast<std::uint32_t>(s);
  }
};

struct SurfaceGuard {
  cairo_surface_t* s;
  ~SurfaceGuard() { cairo_surface_destroy(s); }
};

}  // namespace

std::uint32_t Premultiply(std::uint32_t argb) {
  const std::uint32_t a = argb >> 24;
  if (a == 255) return argb;
  if (a == 0) return 0;
  auto m = [a](std::uint32_t c) { return (c * a + 127) / 255; };
  return Pack(a, m(Channel(argb, 16)), m(Channel(argb, 8)), m(Channel(argb, 0)));
}

std::uint32_t Unpremultiply(std::uint32_t p) {
  const std::uint32_t a = p >> 24;
  if (a == 255) return p;
  if (a == 0) return 0;
  // Flash multiplies by a reciprocal of 8 fraction bits, which rounds some
  // values down: 0xAABBCCDD reads back as 0xAABBCCDC, 0x12345678 as
  // 0x12395571, and alpha 26 with 172 as 176, not the nearest 177.
  const std::uint32_t reciprocal = 65280 / a;
  auto u = [reciprocal](std::uint32_t c) { return std::min<std::uint32_t>(255, (c * reciprocal + 127) >> 8); };
  return Pack(a, u(Channel(p, 16)), u(Channel(p, 8)), u(Channel(p, 0)));
}

PixelRect PixelRect::Intersect(const PixelRect& o) const {
  const int x0 = std::max(x, o.x), y0 = std::max(y, o.y);
  const int x1 = std::min(x + width, o.x + o.width), y1 = std::min(y + height, o.y + o.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

std::shared_ptr<BitmapData> BitmapData::Make(int width, int height, bool transparent, std::uint32_t fill) {
  if (width <= 0 || height <= 0 || width > 8191 || height > 8191 ||
      std::int64_t{width} * height > 16777215) {
    return nullptr;
  }
  std::shared_ptr<BitmapData> b(new BitmapData());
  b->width_ = width, b->height_ = height, b->transparent_ = transparent;
  b->def_ = std::make_shared<BitmapDef>();
  b->def_->width = width, b->def_->height = height;
  b->def_->surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(b->def_->surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  b->FillRect(b->Bounds(), fill);
  return b;
}

std::shared_ptr<BitmapData> BitmapData::Wrap(std::shared_ptr<BitmapDef> def, bool transparent) {
  if (!def || !def->surface || def->width <= 0 || def->height <= 0 ||
      cairo_image_surface_get_format(def->surface.get()) != CAIRO_FORMAT_ARGB32 ||
      cairo_image_surface_get_width(def->surface.get()) < def->width ||
      cairo_image_surface_get_height(def->surface.get()) < def->height)
    return nullptr;
  std::shared_ptr<BitmapData> b(new BitmapData());
  b->width_ = def->width, b->height_ = def->height, b->transparent_ = transparent;
  b->def_ = std::move(def);
  return b;
}

void BitmapData::Dispose() {
  if (disposed_) return;
  disposed_ = true;
  // The picture object stays (the display tree points at it), emptied.
  def_->surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
  def_->width = def_->height = 0;
  def_->tinted.clear();
  def_->reduced.clear();
  width_ = height_ = 0;
  version_ = NextDrawingVersion();
}

void BitmapData::Changed() {
  if (disposed_) return;
  cairo_surface_mark_dirty(def_->surface.get());
  def_->tinted.clear();
  def_->reduced.clear();
  version_ = NextDrawingVersion();
}

std::uint32_t* BitmapData::Row(int y) const {
  cairo_surface_t* s = def_->surface.get();
  return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(s) +
                                          static_cast<std::size_t>(y) * cairo_image_surface_get_stride(s));
}

std::uint32_t BitmapData::Store(std::uint32_t argb) const {
  return transparent_ ? Premultiply(argb) : (argb | 0xFF000000u);
}

std::uint32_t BitmapData::RawPixel(int x, int y) const {
  if (disposed_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return Row(y)[x];
}

std::uint32_t BitmapData::GetPixel32(int x, int y) const { return Unpremultiply(RawPixel(x, y)); }

void BitmapData::SetPixel32(int x, int y, std::uint32_t argb) {
  if (disposed_ || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  cairo_surface_flush(Surface());
  Row(y)[x] = Store(argb);
  Changed();
}

bool BitmapData::Solid(int x, int y, std::uint32_t threshold) const {
  if (disposed_ || x < 0 || y < 0 || x >= width_ || y >= height_) return false;
  return !transparent_ || (RawPixel(x, y) >> 24) >= threshold;
}

bool BitmapData::AnySolid(const PixelRect& r, std::uint32_t threshold) const {
  const PixelRect in = r.Intersect(Bounds());
  for (int y = in.y; y < in.y + in.height; ++y)
    for (int x = in.x; x < in.x + in.width; ++x)
      if (Solid(x, y, threshold)) return true;
  return false;
}

bool BitmapData::Overlaps(int x, int y, std::uint32_t threshold, const BitmapData& other, int ox, int oy,
                          std::uint32_t otherThreshold) const {
  const PixelRect both = PixelRect{x, y, width_, height_}.Intersect({ox, oy, other.width_, other.height_});
  for (int py = both.y; py < both.y + both.height; ++py)
    for (int px = both.x; px < both.x + both.width; ++px)
      if (Solid(px - x, py - y, threshold) && other.Solid(px - ox, py - oy, otherThreshold)) return true;
  return false;
}

void BitmapData::FillRect(const PixelRect& r, std::uint32_t argb) {
  if (disposed_) return;
  const PixelRect c = r.Intersect(Bounds());
  if (c.Empty()) return;
  cairo_surface_flush(Surface());
  const std::uint32_t v = Store(argb);
  for (int y = c.y; y < c.y + c.height; ++y) std::fill_n(Row(y) + c.x, c.width, v);
  Changed();
}

bool BitmapData::Clip(const BitmapData& src, PixelRect& rect, int& dx, int& dy) const {
  if (disposed_ || src.disposed_) return false;
  // The source rectangle's part outside the source moves the destination too.
  const PixelRect in = rect.Intersect(src.Bounds());
  if (in.Empty()) return false;
  dx += in.x - rect.x, dy += in.y - rect.y;
  rect = in;
  const PixelRect dest = PixelRect{dx, dy, rect.width, rect.height}.Intersect(Bounds());
  if (dest.Empty()) return false;
  rect.x += dest.x - dx, rect.y += dest.y - dy;
  rect.width = dest.width, rect.height = dest.height;
  dx = dest.x, dy = dest.y;
  return true;
}

void BitmapData::CopyPixels(const BitmapData& src, const PixelRect& rectIn, int dx, int dy, const BitmapData* alpha,
                            int alphaX, int alphaY, bool merge) {
  PixelRect rect = rectIn;
  const int oldDx = dx, oldDy = dy;
  if (!Clip(src, rect, dx, dy)) return;
  alphaX += dx - oldDx, alphaY += dy - oldDy;
  cairo_surface_flush(Surface());
  // Rows may overlap when copying within one bitmap.
  std::vector<std::uint32_t> line(static_cast<std::size_t>(rect.width));
  const bool down = &src == this && dy > rect.y;
  for (int i = 0; i < rect.height; ++i) {
    const int row = down ? rect.height - 1 - i : i;
    const std::uint32_t* in = src.Row(rect.y + row) + rect.x;
    std::copy(in, in + rect.width, line.begin());
    std::uint32_t* out = Row(dy + row) + dx;
    for (int x = 0; x < rect.width; ++x) {
      std::uint32_t p = src.transparent_ ? line[static_cast<std::size_t>(x)] : (line[static_cast<std::size_t>(x)] | 0xFF000000u);
      if (alpha) {
        const std::uint32_t a = Channel(alpha->RawPixel(alphaX + x, alphaY + row), 24);
        auto m = [a](std::uint32_t c) { return (c * a + 127) / 255; };
        p = Pack(m(Channel(p, 24)), m(Channel(p, 16)), m(Channel(p, 8)), m(Channel(p, 0)));
      }
      if (merge || !transparent_) {
        if (merge) {
          // Source over what is there, premultiplied; Flash drops the
          // fraction of what shows through (0x22445566 over 0x45112233
          // reads back as 0x5D243147).
          const std::uint32_t sa = p >> 24, d = out[x];
          auto over = [sa](std::uint32_t s, std::uint32_t dc) { return s + dc * (255 - sa) / 255; };
          p = Pack(over(Channel(p, 24), Channel(d, 24)), over(Channel(p, 16), Channel(d, 16)),
                   over(Channel(p, 8), Channel(d, 8)), over(Channel(p, 0), Channel(d, 0)));
        }
        // An opaque target keeps the premultiplied colour: the source as
        // it shows over black (0xF00E0E0E copies as 0xFF0D0D0D).
        if (!transparent_) p |= 0xFF000000u;
      }
      out[x] = p;
    }
  }
  Changed();
}

void BitmapData::CopyChannel(const BitmapData& src, const PixelRect& rectIn, int dx, int dy, int srcChannel,
                             int dstChannel) {
  // A source that is not one channel reads as 0; a target that is not one
  // channel leaves the pixels as they are.
  const int from = ShiftOf(srcChannel), to = ShiftOf(dstChannel);
  PixelRect rect = rectIn;
  if (to < 0 || !Clip(src, rect, dx, dy)) return;
  if (to == 24 && !transparent_) return;
  cairo_surface_flush(Surface());
  std::vector<std::uint32_t> line(static_cast<std::size_t>(rect.width));
  for (int row = 0; row < rect.height; ++row) {
    for (int x = 0; x < rect.width; ++x) line[static_cast<std::size_t>(x)] = src.GetPixel32(rect.x + x, rect.y + row);
    std::uint32_t* out = Row(dy + row) + dx;
    for (int x = 0; x < rect.width; ++x) {
      const std::uint32_t v = from < 0 ? 0 : Channel(line[static_cast<std::size_t>(x)], from);
      std::uint32_t d = Unpremultiply(out[x]);
      d = (d & ~(255u << to)) | (v << to);
      out[x] = Store(d);
    }
  }
  Changed();
}

void BitmapData::ApplyColorTransform(const PixelRect& r, const ColorTransform& cx) {
  const PixelRect c = r.Intersect(Bounds());
  if (disposed_ || c.Empty()) return;
  cairo_surface_flush(Surface());
  for (int y = c.y; y < c.y + c.height; ++y) {
    std::uint32_t* row = Row(y);
    for (int x = c.x; x < c.x + c.width; ++x) {
      const std::uint32_t v = Unpremultiply(row[x]);
      const Rgba t = cx.Apply(Rgba{static_cast<std::uint8_t>(Channel(v, 16)), static_cast<std::uint8_t>(Channel(v, 8)),
                                   static_cast<std::uint8_t>(Channel(v, 0)), static_cast<std::uint8_t>(Channel(v, 24))});
      row[x] = Store(Pack(t.a, t.r, t.g, t.b));
    }
  }
  Changed();
}

void BitmapData::Noise(int seed, int low, int high, int channels, bool gray) {
  if (disposed_) return;
  // A high below low gives low everywhere (Flash raises high to low).
  low = std::clamp(low, 0, 255), high = std::max(std::clamp(high, 0, 255), low);
  const std::uint32_t span = static_cast<std::uint32_t>(high - low + 1);
  MinStd rng(seed);
  // An opaque bitmap draws no alpha value, so its sequence skips it.
  const bool alpha = transparent_ && (channels & 8);
  cairo_surface_flush(Surface());
  for (int y = 0; y < height_; ++y) {
    std::uint32_t* row = Row(y);
    for (int x = 0; x < width_; ++x) {
      std::uint32_t c[4] = {0, 0, 0, 255};  // r g b a
      if (gray) {
        c[0] = c[1] = c[2] = low + rng.Next() % span;
      } else {
        for (int k = 0; k < 3; ++k) {
          if (channels & (1 << k)) c[k] = low + rng.Next() % span;
        }
      }
      if (alpha) c[3] = low + rng.Next() % span;
      row[x] = Store(Pack(c[3], c[0], c[1], c[2]));
    }
  }
  Changed();
}

namespace {

// A double to int as Flash's noise code truncates it, saturating (NaN: 0)
// so that far octaves stay defined.
int TruncInt(double d) {
  if (!(d == d)) return 0;
  if (d >= 2147483647.0) return 2147483647;
  if (d <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(d);
}

// Flash's perlinNoise is the turbulence of the SVG filter feTurbulence: a
// lattice of 256 gradients a channel drawn from the minimal standard
// generator in Schrage's form, then shuffled, so a seed gives Flash's
// exact picture.
class Turbulence {
 public:
  explicit Turbulence(std::int64_t seed) {
    constexpr std::int64_t m = 2147483647;
    if (seed <= 0) seed = -(seed % (m - 1)) + 1;
    if (seed > m - 1) seed = m - 1;
    auto next = [&seed] {
      std::int64_t r = 16807 * (seed % 127773) - 2836 * (seed / 127773);
      if (r <= 0) r += m;
      return seed = r;
    };
    for (auto& grads : gradient_) {
      for (int i = 0; i < kSize; ++i) {
        for (double& g : grads[static_cast<std::size_t>(i)]) g = static_cast<double>(next() % (2 * kSize) - kSize) / kSize;
        auto& v = grads[static_cast<std::size_t>(i)];
        const double len = std::sqrt(v[0] * v[0] + v[1] * v[1]);
        v[0] /= len, v[1] /= len;
      }
    }
    for (int i = 0; i < kSize; ++i) lattice_[static_cast<std::size_t>(i)] = i;
    for (int i = kSize - 1; i > 0; --i) {
      std::swap(lattice_[static_cast<std::size_t>(i)], lattice_[static_cast<std::size_t>(next() % kSize)]);
    }
    for (int i = 0; i < kSize + 2; ++i) {
      lattice_[static_cast<std::size_t>(kSize + i)] = lattice_[static_cast<std::size_t>(i)];
      for (auto& grads : gradient_) grads[static_cast<std::size_t>(kSize + i)] = grads[static_cast<std::size_t>(i)];
    }
  }

  // The sum over the octaves at pixel (x, y) for `channel` (0..3): in
  // [-1, 1] for fractal noise, [0, 1] for turbulence (absolute values).
  double At(int channel, double x, double y, double freqX, double freqY, int octaves, bool fractal, bool stitch,
            double tileW, double tileH, const std::vector<std::pair<double, double>>& offsets) const {
    Stitch st;
    if (stitch) {
      // Frequencies move to the nearest that repeat across the tile.
      auto fit = [](double freq, double tile) {
        if (freq == 0) return freq;
        const double lo = std::floor(tile * freq) / tile, hi = std::ceil(tile * freq) / tile;
        return freq / lo < hi / freq ? lo : hi;
      };
      freqX = fit(freqX, tileW), freqY = fit(freqY, tileH);
      st.on = true;
      st.width = TruncInt(tileW * freqX + 0.5), st.height = TruncInt(tileH * freqY + 0.5);
      st.wrapX = kLattice + st.width, st.wrapY = kLattice + st.height;
    }
    double sum = 0, ratio = 1;
    for (int o = 0; o < octaves; ++o) {
      const auto off = o < static_cast<int>(offsets.size()) ? offsets[static_cast<std::size_t>(o)]
                                                             : std::pair<double, double>{0, 0};
      const double n = Noise2(channel, (x + off.first) * freqX * ratio, (y + off.second) * freqY * ratio, st);
      sum += (fractal ? n : std::fabs(n)) / ratio;
      ratio *= 2;
      if (st.on) {
        // Capped: past the lattice's reach the wrap no longer matters.
        constexpr std::int64_t cap = std::int64_t{1} << 40;
        st.width = std::min(2 * st.width, cap), st.height = std::min(2 * st.height, cap);
        st.wrapX = std::min(2 * st.wrapX - kLattice, cap), st.wrapY = std::min(2 * st.wrapY - kLattice, cap);
      }
    }
    return sum;
  }

 private:
  static constexpr int kSize = 256, kLattice = 4096;
  struct Stitch {
    bool on = false;
    std::int64_t width = 0, height = 0, wrapX = 0, wrapY = 0;
  };

  double Noise2(int channel, double vx, double vy, const Stitch& st) const {
    const double tx = vx + kLattice, ty = vy + kLattice;
    std::int64_t bx0 = TruncInt(tx), by0 = TruncInt(ty);
    std::int64_t bx1 = bx0 + 1, by1 = by0 + 1;
    const double rx0 = tx - TruncInt(tx), ry0 = ty - TruncInt(ty);
    const double rx1 = rx0 - 1, ry1 = ry0 - 1;
    if (st.on) {
      if (bx0 >= st.wrapX) bx0 -= st.width;
      if (bx1 >= st.wrapX) bx1 -= st.width;
      if (by0 >= st.wrapY) by0 -= st.height;
      if (by1 >= st.wrapY) by1 -= st.height;
    }
    const auto at = [this](std::int64_t v) { return lattice_[static_cast<std::size_t>(v & 255)]; };
    const int i = at(bx0), j = at(bx1);
    const auto& g = gradient_[static_cast<std::size_t>(channel)];
    const auto grad = [&](int base, std::int64_t by, double rx, double ry) {
      const auto& q = g[static_cast<std::size_t>(lattice_[static_cast<std::size_t>(base + (by & 255))])];
      return rx * q[0] + ry * q[1];
    };
    const auto curve = [](double t) { return t * t * (3 - 2 * t); };
    const auto lerp = [](double t, double a, double b) { return a + t * (b - a); };
    const double sx = curve(rx0), sy = curve(ry0);
    const double a = lerp(sx, grad(i, by0, rx0, ry0), grad(j, by0, rx1, ry0));
    const double b = lerp(sx, grad(i, by1, rx0, ry1), grad(j, by1, rx1, ry1));
    return lerp(sy, a, b);
  }

  std::array<int, 2 * kSize + 2> lattice_{};
  std::array<std::array<std::array<double, 2>, 2 * kSize + 2>, 4> gradient_{};
};

// A channel's sum to its byte, as Flash rounds it (the half added before
// halving fractal noise), saturating.
std::uint32_t NoiseByte(double v, bool fractal) {
  const double d = fractal ? ((v * 255 + 255) + 0.5) / 2 : v * 255 + 0.5;
  if (!(d > 0)) return 0;
  return d >= 255 ? 255u : static_cast<std::uint32_t>(d);
}

}  // namespace

void BitmapData::PerlinNoise(double baseX, double baseY, int octaves, int seed, bool stitch, bool fractal,
                             int channels, bool gray, const std::vector<std::pair<double, double>>& offsets) {
  if (disposed_) return;
  // Octaves past 32 add less than a byte's step.
  octaves = std::clamp(octaves, 0, 32);
  const Turbulence turb(seed);
  // A negative base draws as its size.
  const double freqX = baseX == 0 ? 0 : 1 / std::fabs(baseX), freqY = baseY == 0 ? 0 : 1 / std::fabs(baseY);
  const double tileW = width_, tileH = height_;
  cairo_surface_flush(Surface());
  for (int y = 0; y < height_; ++y) {
    std::uint32_t* row = Row(y);
    for (int x = 0; x < width_; ++x) {
      auto field = [&](int channel) {
        return turb.At(channel, x, y, freqX, freqY, octaves, fractal, stitch, tileW, tileH, offsets);
      };
      // Channels left out read -1 (colours) and 1 (alpha) before rounding.
      double v[4] = {-1, -1, -1, 1};  // r g b a
      if (gray) {
        v[0] = v[1] = v[2] = field(0);
        if (channels & 8) v[3] = field(1);
      } else {
        // Each channel asked for takes the next field, so green alone
        // draws from the red one.
        int next = 0;
        for (int k = 0; k < 4; ++k) {
          if (channels & (1 << k)) v[k] = field(next++);
        }
      }
      const std::uint32_t a = transparent_ ? NoiseByte(v[3], fractal) : 255;
      // Flash stores the bytes as they come, not premultiplied: a colour
      // above its alpha reads back saturated.
      row[x] = Pack(a, NoiseByte(v[0], fractal), NoiseByte(v[1], fractal), NoiseByte(v[2], fractal));
    }
  }
  Changed();
}

namespace {

// A bijection on [0, 2^bits) for an even `bits`: two rounds of a balanced
// Feistel network, so consecutive seeds land on scattered pixels.
std::uint32_t Scatter(std::uint32_t v, int bits) {
  const int half = bits / 2;
  const std::uint32_t mask = (std::uint32_t{1} << half) - 1;
  std::uint32_t left = v >> half, right = v & mask;
  for (std::uint32_t round = 1; round <= 2; ++round) {
    const std::uint32_t mixed = (right * 0x9E3779B1u + round * 0x7F4A7C15u) >> 7;
    const std::uint32_t next = left ^ (mixed & mask);
    left = right, right = next;
  }
  return (left << half) | right;
}

}  // namespace

int BitmapData::PixelDissolve(const BitmapData& src, const PixelRect& rectIn, int dx, int dy, int seed,
                              std::uint32_t numPixels, std::uint32_t fill) {
  PixelRect rect = rectIn;
  if (rect.Empty() || !Clip(src, rect, dx, dy)) return seed;
  const std::uint32_t count = static_cast<std::uint32_t>(rect.width) * static_cast<std::uint32_t>(rect.height);
  // Read the source first when it is another bitmap.
  const bool self = &src == this;
  std::vector<std::uint32_t> in;
  if (!self) {
    in.resize(count);
    for (int y = 0; y < rect.height; ++y)
      for (int x = 0; x < rect.width; ++x)
        in[static_cast<std::size_t>(y) * rect.width + x] = src.RawPixel(rect.x + x, rect.y + y);
  }
  const std::uint32_t stored = Store(fill);
  cairo_surface_flush(Surface());
  auto put = [&](std::uint32_t index) {
    const int x = static_cast<int>(index % static_cast<std::uint32_t>(rect.width));
    const int y = static_cast<int>(index / static_cast<std::uint32_t>(rect.width));
    std::uint32_t v = self ? stored : in[index];
    if (!self && !transparent_) v |= 0xFF000000u;
    Row(dy + y)[dx + x] = v;
  };
  put(0);
  if (numPixels == 0 || count == 1) {
    Changed();
    return seed;
  }
  // The order runs over the smallest even power of two holding every pixel;
  // the seed is a position in it, and values past the pixels (and the
  // corner, written above) are skipped. A count past the other pixels
  // writes them all and moves on round the order as far as it says.
  int bits = 0;
  for (std::uint32_t n = count - 1; n > 0; n >>= 1) ++bits;
  bits += bits % 2;
  const std::uint32_t period = std::uint32_t{1} << bits, others = count - 1;
  std::uint32_t pos = static_cast<std::uint32_t>(seed % static_cast<std::int64_t>(period)) % period;
  const std::uint32_t steps = numPixels <= others ? numPixels : others + numPixels % others;
  for (std::uint32_t k = 0; k < steps; ++k) {
    std::uint32_t index = 0;
    for (std::uint32_t guard = 0; guard <= period && (index == 0 || index >= count); ++guard) {
      pos = (pos + 1) % period;
      index = Scatter(pos, bits);
    }
    if (k < others && index != 0 && index < count) put(index);
  }
  Changed();
  return static_cast<int>(pos);
}

int BitmapData::Threshold(const BitmapData& src, const PixelRect& rectIn, int dx, int dy, const std::string& op,
                          std::uint32_t threshold, std::uint32_t color, std::uint32_t mask, bool copySource) {
  bool (*cmp)(std::uint32_t, std::uint32_t) = nullptr;
  if (op == "<") cmp = [](std::uint32_t a, std::uint32_t b) { return a < b; };
  else if (op == "<=") cmp = [](std::uint32_t a, std::uint32_t b) { return a <= b; };
  else if (op == ">") cmp = [](std::uint32_t a, std::uint32_t b) { return a > b; };
  else if (op == ">=") cmp = [](std::uint32_t a, std::uint32_t b) { return a >= b; };
  else if (op == "==") cmp = [](std::uint32_t a, std::uint32_t b) { return a == b; };
  else if (op == "!=") cmp = [](std::uint32_t a, std::uint32_t b) { return a != b; };
  // Any other operation compares as "<".
  else cmp = [](std::uint32_t a, std::uint32_t b) { return a < b; };
  PixelRect rect = rectIn;
  if (!Clip(src, rect, dx, dy)) return 0;
  // Read the source first: it may be this bitmap. Flash compares the
  // stored, premultiplied value of a transparent source.
  std::vector<std::uint32_t> in(static_cast<std::size_t>(rect.width) * rect.height);
  for (int y = 0; y < rect.height; ++y) {
    for (int x = 0; x < rect.width; ++x) {
      const std::uint32_t raw = src.RawPixel(rect.x + x, rect.y + y);
      in[static_cast<std::size_t>(y) * rect.width + x] = src.transparent_ ? raw : (raw | 0xFF000000u);
    }
  }
  cairo_surface_flush(Surface());
  int count = 0;
  const std::uint32_t stored = Store(color), target = threshold & mask;
  for (int y = 0; y < rect.height; ++y) {
    std::uint32_t* out = Row(dy + y) + dx;
    for (int x = 0; x < rect.width; ++x) {
      const std::uint32_t v = in[static_cast<std::size_t>(y) * rect.width + x];
      if (cmp(v & mask, target)) {
        out[x] = stored;
        ++count;
      } else if (copySource) {
        out[x] = Store(Unpremultiply(v));
      }
    }
  }
  Changed();
  return count;
}

void BitmapData::FloodFill(int x, int y, std::uint32_t argb) {
  if (disposed_ || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  cairo_surface_flush(Surface());
  const std::uint32_t from = Row(y)[x], to = Store(argb);
  if (from == to) return;
  // Scanline fill, 4-connected, over pixels exactly of the start's value.
  std::vector<std::pair<int, int>> stack{{x, y}};
  while (!stack.empty()) {
    auto [sx, sy] = stack.back();
    stack.pop_back();
    std::uint32_t* row = Row(sy);
    if (row[sx] != from) continue;
    int l = sx, r = sx;
    while (l > 0 && row[l - 1] == from) --l;
    while (r + 1 < width_ && row[r + 1] == from) ++r;
    std::fill(row + l, row + r + 1, to);
    for (int ny : {sy - 1, sy + 1}) {
      if (ny < 0 || ny >= height_) continue;
      const std::uint32_t* nrow = Row(ny);
      for (int i = l; i <= r; ++i) {
        if (nrow[i] == from && (i == l || nrow[i - 1] != from)) stack.emplace_back(i, ny);
      }
    }
  }
  Changed();
}

void BitmapData::Scroll(int dx, int dy) {
  if (disposed_ || (dx == 0 && dy == 0)) return;
  if (dx <= -width_ || dx >= width_ || dy <= -height_ || dy >= height_) return;  // all moved out
  // Pixels move; what nothing moves onto keeps its old value, as in Flash.
  CopyPixels(*this, Bounds(), dx, dy, nullptr, 0, 0, false);
}

std::shared_ptr<BitmapData> BitmapData::Clone() const {
  if (disposed_) return nullptr;
  auto b = Make(width_, height_, transparent_, 0);
  if (!b) return nullptr;
  cairo_surface_flush(def_->surface.get());
  for (int y = 0; y < height_; ++y) std::copy_n(Row(y), width_, b->Row(y));
  b->Changed();
  return b;
}

PixelRect BitmapData::ColorBounds(std::uint32_t mask, std::uint32_t color, bool findColor) const {
  if (disposed_) return {};
  int x0 = width_, y0 = height_, x1 = -1, y1 = -1;
  // Flash compares the stored, premultiplied value with the colour under the
  // mask; an opaque bitmap's pixels have no alpha there and the colour is
  // taken whole, less its alpha.
  const std::uint32_t want = transparent_ ? color & mask : color & 0xFFFFFFu;
  const std::uint32_t keep = transparent_ ? mask : mask & 0xFFFFFFu;
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      if (((RawPixel(x, y) & keep) == want) == findColor) {
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
    }
  }
  // Flash keeps its far corner from (0, 0): a match at (0, 0) alone is none.
  if (x1 <= 0 && y1 <= 0) return {};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

void BitmapData::PaletteMap(const BitmapData& src, const PixelRect& rectIn, int dx, int dy,
                            const std::array<std::optional<std::vector<std::uint32_t>>, 4>& tables) {
  PixelRect rect = rectIn;
  if (!Clip(src, rect, dx, dy)) return;
  std::vector<std::uint32_t> in(static_cast<std::size_t>(rect.width) * rect.height);
  for (int y = 0; y < rect.height; ++y) {
    for (int x = 0; x < rect.width; ++x) {
      in[static_cast<std::size_t>(y) * rect.width + x] = src.GetPixel32(rect.x + x, rect.y + y);
    }
  }
  const int shifts[4] = {16, 8, 0, 24};
  cairo_surface_flush(Surface());
  for (int y = 0; y < rect.height; ++y) {
    std::uint32_t* out = Row(dy + y) + dx;
    for (int x = 0; x < rect.width; ++x) {
      const std::uint32_t v = in[static_cast<std::size_t>(y) * rect.width + x];
      std::uint32_t sum = 0;
      for (int k = 0; k < 4; ++k) {
        const std::uint32_t c = Channel(v, shifts[k]);
        const auto& t = tables[static_cast<std::size_t>(k)];
        sum += t && c < t->size() ? (*t)[c] : (c << shifts[k]);
      }
      out[x] = Store(sum);
    }
  }
  Changed();
}

void BitmapData::Merge(const BitmapData& src, const PixelRect& rectIn, int dx, int dy, const int mult[4]) {
  PixelRect rect = rectIn;
  if (!Clip(src, rect, dx, dy)) return;
  const int shifts[4] = {16, 8, 0, 24};
  std::vector<std::uint32_t> in(static_cast<std::size_t>(rect.width));
  cairo_surface_flush(Surface());
  for (int y = 0; y < rect.height; ++y) {
    for (int x = 0; x < rect.width; ++x) in[static_cast<std::size_t>(x)] = src.GetPixel32(rect.x + x, rect.y + y);
    std::uint32_t* out = Row(dy + y) + dx;
    for (int x = 0; x < rect.width; ++x) {
      const std::uint32_t s = in[static_cast<std::size_t>(x)], d = Unpremultiply(out[x]);
      std::uint32_t v = 0;
      for (int k = 0; k < 4; ++k) {
        const auto m = static_cast<std::uint32_t>(std::clamp(mult[k], 0, 256));
        v |= ((Channel(s, shifts[k]) * m + Channel(d, shifts[k]) * (256 - m)) / 256) << shifts[k];
      }
      out[x] = Store(v);
    }
  }
  Changed();
}

void BitmapData::ApplyFilter(const BitmapData& src, const PixelRect& rectIn, int dx, int dy, const Filter& filter) {
  PixelRect rect = rectIn.Intersect(src.Bounds());
  if (disposed_ || src.disposed_ || rect.Empty()) return;
  // The filter reads around the rectangle, and may spread beyond it.
  const int margin = static_cast<int>(std::ceil(FilterMargin({filter}, 1.0)));
  const PixelRect around = PixelRect{rect.x - margin, rect.y - margin, rect.width + 2 * margin,
                                     rect.height + 2 * margin}.Intersect(src.Bounds());
  SurfaceGuard work{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, around.width, around.height)};
  if (cairo_surface_status(work.s) != CAIRO_STATUS_SUCCESS) return;
  cairo_surface_flush(work.s);
  auto* data = cairo_image_surface_get_data(work.s);
  const int stride = cairo_image_surface_get_stride(work.s);
  for (int y = 0; y < around.height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
    std::copy_n(src.Row(around.y + y) + around.x, around.width, row);
  }
  cairo_surface_mark_dirty(work.s);
  ApplyFilters(work.s, {filter}, 1.0, true);
  cairo_surface_flush(work.s);
  // The filtered rectangle lands at (dx, dy).
  cairo_surface_flush(Surface());
  for (int y = 0; y < rect.height; ++y) {
    const int ty = dy + y;
    if (ty < 0 || ty >= height_) continue;
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(rect.y - around.y + y) * stride);
    std::uint32_t* out = Row(ty);
    for (int x = 0; x < rect.width; ++x) {
      const int tx = dx + x;
      if (tx < 0 || tx >= width_) continue;
      const std::uint32_t p = row[rect.x - around.x + x];
      out[tx] = transparent_ ? p : (Unpremultiply(p) | 0xFF000000u);
    }
  }
  Changed();
}

namespace {
// Where a layer lies in its target: its device offset places it.
PixelRect LayerBox(cairo_surface_t* layer) {
  double dx = 0, dy = 0;
  cairo_surface_get_device_offset(layer, &dx, &dy);
  return {static_cast<int>(std::lround(-dx)), static_cast<int>(std::lround(-dy)), cairo_image_surface_get_width(layer),
          cairo_image_surface_get_height(layer)};
}

// Subtract (9) and invert (10) of a premultiplied layer onto a premultiplied
// target, as the stage mixes them: subtract lowers each colour by the
// layer's and keeps the target's alpha; invert turns the target's colours
// over as far as the layer covers.
void MixPixels(cairo_surface_t* target, bool transparent, cairo_surface_t* layer, const PixelRect* clip,
               int blendMode) {
  cairo_surface_flush(layer);
  cairo_surface_flush(target);
  PixelRect r = LayerBox(layer).Intersect(
      {0, 0, cairo_image_surface_get_width(target), cairo_image_surface_get_height(target)});
  if (clip) r = r.Intersect(*clip);
  const PixelRect at = LayerBox(layer);
  const auto* ld = cairo_image_surface_get_data(layer);
  auto* td = cairo_image_surface_get_data(target);
  const int ls = cairo_image_surface_get_stride(layer), ts = cairo_image_surface_get_stride(target);
  for (int y = r.y; y < r.y + r.height; ++y) {
    const auto* lp = reinterpret_cast<const std::uint32_t*>(ld + static_cast<std::size_t>(y - at.y) * ls);
    auto* tp = reinterpret_cast<std::uint32_t*>(td + static_cast<std::size_t>(y) * ts);
    for (int x = r.x; x < r.x + r.width; ++x) {
      const std::uint32_t sv = lp[x - at.x];
      const int sa = static_cast<int>(sv >> 24);
      if (sa == 0) continue;
      const std::uint32_t tv = tp[x];
      const int da = transparent ? static_cast<int>(tv >> 24) : 255;
      int oa = da;
      if (blendMode == 10 && transparent) oa = sa + da * (255 - sa) / 255;
      std::uint32_t out = static_cast<std::uint32_t>(oa) << 24;
      for (int shift = 0; shift <= 16; shift += 8) {
        const int sc = static_cast<int>((sv >> shift) & 255), dc = static_cast<int>((tv >> shift) & 255);
        const int r = blendMode == 9 ? dc - sc : (dc * (255 - sa) + (255 - dc) * sa) / 255;
        out |= static_cast<std::uint32_t>(std::clamp(r, 0, oa)) << shift;
      }
      tp[x] = out;
    }
  }
  cairo_surface_mark_dirty(target);
}
}  // namespace

void CompositeOntoBitmap(cairo_surface_t* target, bool transparent, cairo_surface_t* layer, const ColorTransform& cx,
                         cairo_operator_t op, const PixelRect* clip, int blendMode) {
  if (!cx.IsIdentity()) {
    cairo_surface_flush(layer);
    auto* data = cairo_image_surface_get_data(layer);
    const int stride = cairo_image_surface_get_stride(layer);
    const int w = cairo_image_surface_get_width(layer), h = cairo_image_surface_get_height(layer);
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
      for (int x = 0; x < w; ++x) {
        const std::uint32_t v = Unpremultiply(row[x]);
        const Rgba t = cx.Apply(Rgba{static_cast<std::uint8_t>(Channel(v, 16)), static_cast<std::uint8_t>(Channel(v, 8)),
                                     static_cast<std::uint8_t>(Channel(v, 0)), static_cast<std::uint8_t>(Channel(v, 24))});
        row[x] = Premultiply(Pack(t.a, t.r, t.g, t.b));
      }
    }
    cairo_surface_mark_dirty(layer);
  }
  if (blendMode == 9 || blendMode == 10) {
    MixPixels(target, transparent, layer, clip, blendMode);
    return;
  }
  cairo_t* cr = cairo_create(target);
  if (clip) {
    cairo_rectangle(cr, clip->x, clip->y, clip->width, clip->height);
    cairo_clip(cr);
  }
  cairo_set_operator(cr, op);
  cairo_set_source_surface(cr, layer, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(target);
  if (!transparent) {
    // An opaque bitmap stays opaque: what was drawn lies on its colours.
    auto* data = cairo_image_surface_get_data(target);
    const int stride = cairo_image_surface_get_stride(target);
    const PixelRect r = LayerBox(layer).Intersect(
        {0, 0, cairo_image_surface_get_width(target), cairo_image_surface_get_height(target)});
    for (int y = r.y; y < r.y + r.height; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
      for (int x = r.x; x < r.x + r.width; ++x) {
        if ((row[x] >> 24) != 255) row[x] = Unpremultiply(row[x]) | 0xFF000000u;
      }
    }
    cairo_surface_mark_dirty(target);
  }
}

void DrawBitmapOnto(cairo_surface_t* target, bool transparent, cairo_surface_t* src, const cairo_matrix_t& m,
                    const ColorTransform& cx, cairo_operator_t op, const PixelRect* clip, bool smooth, int blendMode) {
  // The layer covers the source's reach in the target (blitting a small
  // picture into a big one costs the small one's size).
  PixelRect box{0, 0, cairo_image_surface_get_width(target), cairo_image_surface_get_height(target)};
  {
    double xs[4] = {0, double(cairo_image_surface_get_width(src)), 0, double(cairo_image_surface_get_width(src))};
    double ys[4] = {0, 0, double(cairo_image_surface_get_height(src)), double(cairo_image_surface_get_height(src))};
    for (int k = 0; k < 4; ++k) cairo_matrix_transform_point(&m, &xs[k], &ys[k]);
    const double lx = std::min({xs[0], xs[1], xs[2], xs[3]}), hx = std::max({xs[0], xs[1], xs[2], xs[3]});
    const double ly = std::min({ys[0], ys[1], ys[2], ys[3]}), hy = std::max({ys[0], ys[1], ys[2], ys[3]});
    constexpr double kCap = 1e9;
    // Alpha and erase act where the source is not, too.
    const bool bounded = op != CAIRO_OPERATOR_DEST_IN && op != CAIRO_OPERATOR_DEST_OUT;
    if (bounded && std::isfinite(lx) && std::isfinite(hx) && std::isfinite(ly) && std::isfinite(hy)) {
      const int ix = static_cast<int>(std::clamp(std::floor(lx) - 1, -kCap, kCap));
      const int iy = static_cast<int>(std::clamp(std::floor(ly) - 1, -kCap, kCap));
      const int jx = static_cast<int>(std::clamp(std::ceil(hx) + 1, -kCap, kCap));
      const int jy = static_cast<int>(std::clamp(std::ceil(hy) + 1, -kCap, kCap));
      box = box.Intersect({ix, iy, jx - ix, jy - iy});
    }
    if (bounded && clip) box = box.Intersect(*clip);
    if (box.Empty()) return;
  }
  SurfaceGuard layer{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, box.width, box.height)};
  if (cairo_surface_status(layer.s) != CAIRO_STATUS_SUCCESS) return;
  cairo_surface_set_device_offset(layer.s, -box.x, -box.y);
  cairo_t* cr = cairo_create(layer.s);
  cairo_set_matrix(cr, &m);
  cairo_surface_flush(src);
  cairo_set_source_surface(cr, src, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), smooth ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_NEAREST);
  cairo_rectangle(cr, 0, 0, cairo_image_surface_get_width(src), cairo_image_surface_get_height(src));
  cairo_fill(cr);
  cairo_destroy(cr);
  CompositeOntoBitmap(target, transparent, layer.s, cx, op, clip, blendMode);
}

void BitmapData::DrawSurface(cairo_surface_t* layer, const ColorTransform& cx, cairo_operator_t op,
                             const PixelRect* clip, int blendMode) {
  if (disposed_) return;
  CompositeOntoBitmap(Surface(), transparent_, layer, cx, op, clip, blendMode);
  Changed();
}

void BitmapData::DrawBitmap(const BitmapData& src, const cairo_matrix_t& m, const ColorTransform& cx,
                            cairo_operator_t op, const PixelRect* clip, bool smooth, int blendMode) {
  if (disposed_ || src.disposed_) return;
  DrawBitmapOnto(Surface(), transparent_, src.def_->surface.get(), m, cx, op, clip, smooth, blendMode);
  Changed();
}

}  // namespace quarvel::player
