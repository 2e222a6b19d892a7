#include "player/render/filter_cache.h"

#include <algorithm>
#include <optional>

namespace quarvel::player {
namespace {

// At most this many pixels each and in all, and this many objects.
constexpr std::size_t kMaxPicturePixels = std::size_t{1} << 22;
constexpr std::size_t kMaxPixels = std::size_t{1} << 23;
constexpr std::size_t kMaxEntries = 64;

std::size_t Area(const SurfacePtr& s) {
  return static_cast<std::size_t>(cairo_image_surface_get_width(s.get())) *
         static_cast<std::size_t>(cairo_image_surface_get_height(s.get()));
}

}  // namespace

bool FilterCache::Same(const Entry& e, const Key& key, const DrawnItem& first, std::span<const DrawnItem> items) {
  return e.key == key && e.items.size() == items.size() && e.items[0] == first &&
         std::equal(e.items.begin() + 1, e.items.end(), items.begin() + 1);
}

cairo_surface_t* FilterCache::Find(const Key& key, std::span<const DrawnItem> items) {
  if (items.empty()) return nullptr;
  // The object's own matrix is in the key's transform.
  std::optional<DrawnItem> first;
  for (Entry& e : entries_) {
    if (!(e.key == key) || e.items.size() != items.size()) continue;
    if (!first) {
      first = items[0];
      first->matrix = Matrix{};
    }
    if (!Same(e, key, *first, items)) continue;
    e.lastFrame = frame_;
    return e.picture.get();
  }
  return nullptr;
}

void FilterCache::Keep(const Key& key, std::span<const DrawnItem> items, SurfacePtr picture) {
  if (items.empty() || !picture) return;
  const std::size_t area = Area(picture);
  if (area > kMaxPicturePixels) return;
  // The one kept for an earlier look of the same object goes.
  const std::uint64_t serial = items[0].serial;
  std::erase_if(entries_, [&](const Entry& e) {
    if (serial == 0 || e.items[0].serial != serial || e.items[0].def != items[0].def || e.lastFrame == frame_) return false;
    pixels_ -= Area(e.picture);
    return true;
  });
  while (!entries_.empty() && (pixels_ + area > kMaxPixels || entries_.size() >= kMaxEntries)) {
    auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                   [](const Entry& a, const Entry& b) { return a.lastFrame < b.lastFrame; });
    pixels_ -= Area(oldest->picture);
    entries_.erase(oldest);
  }
  if (pixels_ + area > kMaxPixels) return;
  Entry& e = entries_.emplace_back();
  e.key = key;
  e.items.assign(items.begin(), items.end());
  e.items[0].matrix = Matrix{};
  e.picture = std::move(picture);
  e.lastFrame = frame_;
  pixels_ += area;
}

void FilterCache::EndFrame() {
  std::erase_if(entries_, [this](const Entry& e) {
    if (e.lastFrame + 1 >= frame_) return false;
    pixels_ -= Area(e.picture);
    return true;
  });
  ++frame_;
}

void FilterCache::Clear() {
  entries_.clear();
  pixels_ = 0;
}

bool FilteredPictureKeepable(const RenderContext& c, const DrawnItem& item) {
  if (c.nineSlice || item.projection || item.nested3D) return false;
  const DrawnItem* first = &item + 1;
  const DrawnItem* end = first + item.descendants;
  auto inside = [&](const DrawnItem* p) { return p >= first && p < end; };
  if (inside(c.masking) || inside(c.alphaMask)) return false;
  for (const DrawnItem* p = first; p < end; ++p) {
    if (p->maskSerial || p->projection || p->nested3D) return false;
  }
  return true;
}

}  // namespace quarvel::player
