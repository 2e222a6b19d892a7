#include "player/render/shape_cache.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "player/render/paint.h"

namespace quarvel::player {
namespace {

// Pictures of shapes kept for later frames: at most this many pixels each
// and in all, and a few transforms per shape.
constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 22;
constexpr std::size_t kMaxCachePixels = std::size_t{1} << 23;
constexpr std::size_t kMaxPicturesPerShape = 4;
// Layers' fills laid together: more transforms per shape (a loop of motion),
// kept while used within a few seconds of frames.
constexpr std::int64_t kMaxFillsPixels = std::int64_t{1} << 21;
constexpr std::size_t kMaxKeptFillsPixels = std::size_t{1} << 23;
constexpr std::size_t kMaxFillsPerLayer = 48;
constexpr std::uint64_t kFillsKeptFrames = 120;

// The key of a shape drawn under `m` in the context's state (translation
// kept as its fraction of a pixel); `ox`, `oy` get the whole pixels.
ShapeCache::Key KeyOf(const RenderContext& c, const cairo_matrix_t& m, const ColorTransform& cx, const void* owner,
                      int ratio, int& ox, int& oy) {
  ShapeCache::Key key;
  key.owner = owner;
  key.ratio = ratio;
  key.xx = m.xx, key.yx = m.yx, key.xy = m.xy, key.yy = m.yy;
  ox = static_cast<int>(std::floor(m.x0)), oy = static_cast<int>(std::floor(m.y0));
  key.fx = m.x0 - ox;
  key.fy = m.y0 - oy;
  // Masks draw coverage only, whatever the colours.
  key.cx = c.mask ? ColorTransform{} : cx;
  key.mask = c.mask;
  key.antialias = cairo_get_antialias(c.cr);
  key.tolerance = cairo_get_tolerance(c.cr);
  key.stageScale = c.options.stageScale;
  key.quality = c.options.quality;
  return key;
}

// One layer's kept fills as DrawLayer sees them.
class LayerFills final : public KeptFills {
 public:
  LayerFills(ShapeCache& cache, const ShapeCache::Key& key, int layer, int ox, int oy)
      : cache_(cache), key_(key), layer_(layer), ox_(ox), oy_(oy) {}
  cairo_surface_t* Find(int x0, int y0, int x1, int y1) override {
    return cache_.FindFills(key_, layer_, ox_, oy_, x0, y0, x1, y1);
  }
  void Keep(SurfacePtr picture, int x0, int y0, int x1, int y1) override {
    cache_.KeepFills(key_, layer_, ox_, oy_, std::move(picture), x0, y0, x1, y1);
  }

 private:
  ShapeCache& cache_;
  const ShapeCache::Key& key_;
  int layer_, ox_, oy_;
};

// The device box of the geometry under `m` and the clip's; false when the
// geometry lies wholly outside the clip (many movies keep most of their
// shapes off the picture).
bool MayShow(cairo_t* cr, const Extent& x, const cairo_matrix_t& m, double stageScale, Box& box, Box& clip) {
  cairo_identity_matrix(cr);
  cairo_clip_extents(cr, &clip.x0, &clip.y0, &clip.x1, &clip.y1);
  const double xs[2] = {x.xmin, x.xmax}, ys[2] = {x.ymin, x.ymax};
  for (double px : xs) {
    for (double py : ys) {
      double dx = px, dy = py;
      ToDevice(m, dx, dy);
      box.Add(Box{dx, dy, dx, dy});
    }
  }
  // Lines reach out by their width, at least a pixel, and some never scale
  // with the shape; anti-aliasing adds a pixel more.
  const double scale = std::sqrt(m.xx * m.xx + m.xy * m.xy + m.yx * m.yx + m.yy * m.yy);
  const double pad = x.maxLineWidth * std::max(scale, stageScale) + (x.maxLineWidth > 0 ? 1 : 0) + 2;
  box.x0 -= pad, box.y0 -= pad, box.x1 += pad, box.y1 += pad;
  return !(box.x1 < clip.x0 || box.x0 > clip.x1 || box.y1 < clip.y0 || box.y0 > clip.y1);
}

// Worth keeping as a picture: many paths or edges, or costly fills.
bool Costly(const Extent& x) { return x.paths >= 16 || x.edges >= 512 || x.patterned; }

// Draws the geometry by copying its picture from the cache, making the
// picture when the same transform shows up a second time. False: draw it.
bool DrawFromCache(RenderContext& c, const ShapeGeometry& g, const cairo_matrix_t& m, const ColorTransform& cx,
                   const void* owner, int ratio, const Box& box, const Box& clip) {
  if (!(std::abs(m.x0) < 1e7 && std::abs(m.y0) < 1e7)) return false;
  const double vx0 = std::max(box.x0, clip.x0), vy0 = std::max(box.y0, clip.y0);
  const double vx1 = std::min(box.x1, clip.x1), vy1 = std::min(box.y1, clip.y1);
  if (!(vx0 < vx1 && vy0 < vy1)) return false;
  const int x0 = static_cast<int>(std::floor(vx0)), y0 = static_cast<int>(std::floor(vy0));
  const int x1 = static_cast<int>(std::ceil(vx1)), y1 = static_cast<int>(std::ceil(vy1));
  const std::int64_t area = std::int64_t{x1 - x0} * (y1 - y0);
  if (area > kMaxPicturePixels) return false;
  ShapeCache& cache = *c.options.cache;
  int ox = 0, oy = 0;
  const ShapeCache::Key key = KeyOf(c, m, cx, owner, ratio, ox, oy);
  bool seen = false;
  ShapeCache::Entry& e = cache.Find(key, seen);
  int dx = ox - e.ox, dy = oy - e.oy;
  const bool covered = e.picture && x0 - dx >= e.x0 && y0 - dy >= e.y0 && x1 - dx <= e.x1 && y1 - dy <= e.y1;
  if (!covered) {
    if (!seen && !e.picture) return false;
    if (cache.Pixels() + static_cast<std::size_t>(area) > kMaxCachePixels) return false;
    SurfacePtr picture(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, x1 - x0, y1 - y0));
    if (cairo_surface_status(picture.get()) != CAIRO_STATUS_SUCCESS) return false;
    // Drawn in the target's device space: the very pixels a direct drawing
    // would give, over transparency.
    cairo_surface_set_device_offset(picture.get(), -x0, -y0);
    {
      std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr(cairo_create(picture.get()), cairo_destroy);
      cairo_set_antialias(cr.get(), key.antialias);
      cairo_set_tolerance(cr.get(), key.tolerance);
      RenderContext sub{cr.get(), c.lib, c.options, c.mask, c.nesting, c.layers};
      for (const auto& layer : g.layers) DrawLayer(sub, layer, m, cx);
    }
    cairo_surface_flush(picture.get());
    cairo_surface_set_device_offset(picture.get(), 0, 0);
    e.ox = ox;
    e.oy = oy;
    cache.Store(e, std::move(picture), x0, y0, x1, y1);
    dx = dy = 0;
  }
  cairo_identity_matrix(c.cr);
  cairo_set_source_surface(c.cr, e.picture.get(), e.x0 + dx, e.y0 + dy);
  cairo_pattern_set_filter(cairo_get_source(c.cr), CAIRO_FILTER_NEAREST);
  cairo_paint(c.cr);
  return true;
}

std::size_t Area(const ShapeCache::Entry& e) {
  return e.picture ? static_cast<std::size_t>(e.x1 - e.x0) * static_cast<std::size_t>(e.y1 - e.y0) : 0;
}

}  // namespace

bool ShapeCache::Key::Matches(const Key& k) const {
  return owner == k.owner && ratio == k.ratio && xx == k.xx && yx == k.yx && xy == k.xy && yy == k.yy &&
         std::abs(fx - k.fx) < 1e-6 && std::abs(fy - k.fy) < 1e-6 && cx == k.cx && mask == k.mask &&
         antialias == k.antialias && tolerance == k.tolerance && stageScale == k.stageScale &&
         quality == k.quality;
}

ShapeCache::Entry& ShapeCache::Find(const Key& key, bool& seenBefore) {
  auto& list = entries_[key.owner];
  for (auto& e : list) {
    if (e.key.Matches(key)) {
      seenBefore = e.lastFrame + 1 >= frame_;
      e.lastFrame = frame_;
      return e;
    }
  }
  seenBefore = false;
  if (list.size() >= kMaxPicturesPerShape) {
    auto oldest = std::min_element(list.begin(), list.end(),
                                   [](const Entry& a, const Entry& b) { return a.lastFrame < b.lastFrame; });
    pixels_ -= Area(*oldest);
    list.erase(oldest);
  }
  Entry& e = list.emplace_back();
  e.key = key;
  e.lastFrame = frame_;
  return e;
}

void ShapeCache::Store(Entry& e, SurfacePtr picture, int x0, int y0, int x1, int y1) {
  pixels_ -= Area(e);
  e.picture = std::move(picture);
  e.x0 = x0, e.y0 = y0, e.x1 = x1, e.y1 = y1;
  pixels_ += Area(e);
}

cairo_surface_t* ShapeCache::FindFills(const Key& key, int layer, int ox, int oy, int x0, int y0, int x1, int y1) {
  auto it = layers_.find(key.owner);
  if (it == layers_.end()) return nullptr;
  for (KeptLayer& k : it->second) {
    // The fraction of a pixel the same to rounding, not just near.
    if (k.layer != layer || !k.key.Matches(key) || std::abs(k.key.fx - key.fx) > 1e-9 ||
        std::abs(k.key.fy - key.fy) > 1e-9)
      continue;
    // The same box relative to the whole-pixel translation.
    const int dx = x0 - k.x0, dy = y0 - k.y0;
    if (x1 - x0 != k.x1 - k.x0 || y1 - y0 != k.y1 - k.y0 || dx != ox - k.ox || dy != oy - k.oy) continue;
    k.lastFrame = frame_;
    return k.picture.get();
  }
  return nullptr;
}

void ShapeCache::KeepFills(const Key& key, int layer, int ox, int oy, SurfacePtr picture, int x0, int y0, int x1,
                           int y1) {
  const std::int64_t area = std::int64_t{x1 - x0} * (y1 - y0);
  if (area <= 0 || area > kMaxFillsPixels) return;
  auto& list = layers_[key.owner];
  if (static_cast<std::size_t>(std::count_if(list.begin(), list.end(), [layer](const KeptLayer& k) {
        return k.layer == layer;
      })) >= kMaxFillsPerLayer) {
    auto oldest = list.end();
    for (auto it = list.begin(); it != list.end(); ++it)
      if (it->layer == layer && (oldest == list.end() || it->lastFrame < oldest->lastFrame)) oldest = it;
    fillPixels_ -= static_cast<std::size_t>(oldest->x1 - oldest->x0) * static_cast<std::size_t>(oldest->y1 - oldest->y0);
    list.erase(oldest);
  }
  if (fillPixels_ + static_cast<std::size_t>(area) > kMaxKeptFillsPixels) return;
  KeptLayer& k = list.emplace_back();
  k.key = key;
  k.layer = layer;
  k.ox = ox, k.oy = oy;
  k.x0 = x0, k.y0 = y0, k.x1 = x1, k.y1 = y1;
  k.picture = std::move(picture);
  k.lastFrame = frame_;
  fillPixels_ += static_cast<std::size_t>(area);
}

void ShapeCache::EndFrame() {
  for (auto it = layers_.begin(); it != layers_.end();) {
    std::erase_if(it->second, [this](const KeptLayer& k) {
      if (k.lastFrame + kFillsKeptFrames >= frame_) return false;
      fillPixels_ -= static_cast<std::size_t>(k.x1 - k.x0) * static_cast<std::size_t>(k.y1 - k.y0);
      return true;
    });
    it = it->second.empty() ? layers_.erase(it) : std::next(it);
  }
  for (auto it = entries_.begin(); it != entries_.end();) {
    auto& list = it->second;
    std::erase_if(list, [this](const Entry& e) {
      if (e.lastFrame + 1 >= frame_) return false;
      pixels_ -= Area(e);
      return true;
    });
    it = list.empty() ? entries_.erase(it) : std::next(it);
  }
  ++frame_;
}

void ShapeCache::Clear() {
  entries_.clear();
  layers_.clear();
  pixels_ = 0;
  fillPixels_ = 0;
}

void DrawGeometry(RenderContext& c, const ShapeGeometry& g, const cairo_matrix_t& m, const ColorTransform& cx,
                  const void* owner, int ratio) {
  // Without a measured extent (a geometry made by hand) it is just drawn.
  if (!g.extent.Empty()) {
    Box box, clip;
    if (!MayShow(c.cr, g.extent, m, c.options.stageScale, box, clip)) return;
    if (owner && c.options.cache && Costly(g.extent) && DrawFromCache(c, g, m, cx, owner, ratio, box, clip)) return;
  }
  if (!owner || !c.options.cache || c.mask || !(std::abs(m.x0) < 1e7 && std::abs(m.y0) < 1e7)) {
    for (const auto& layer : g.layers) DrawLayer(c, layer, m, cx);
    return;
  }
  int ox = 0, oy = 0;
  const ShapeCache::Key key = KeyOf(c, m, cx, owner, ratio, ox, oy);
  for (std::size_t i = 0; i < g.layers.size(); ++i) {
    LayerFills kept(*c.options.cache, key, static_cast<int>(i), ox, oy);
    DrawLayer(c, g.layers[i], m, cx, nullptr, &kept);
  }
}

}  // namespace quarvel::player
