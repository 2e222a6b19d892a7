#pragma once
// Filtered objects' pictures kept from frame to frame: an object with
// filters is drawn alone and filtered, and when neither its content nor its
// place (up to whole-pixel moves) nor anything its drawing reads changed, the
// kept result is the very picture that work would give.

#include <cairo.h>

#include <cstdint>
#include <span>
#include <vector>

#include "player/render/drawn_items.h"
#include "player/render/render_context.h"

namespace quarvel::player {

class FilterCache {
 public:
  // What the filtered picture of an object depends on besides its items.
  struct Key {
    const MovieLibrary* lib = nullptr;
    double xx = 1, yx = 0, xy = 0, yy = 1;
    double fx = 0, fy = 0;  // the translation's fraction of a pixel
    int bx = 0, by = 0;     // the picture's corner relative to the whole pixels
    int w = 0, h = 0;
    ColorTransform cx;
    int nesting = 0;
    cairo_antialias_t antialias = CAIRO_ANTIALIAS_DEFAULT;
    double tolerance = 0;
    double stageScale = 0;
    Quality quality = Quality::qHigh;
    bool operator==(const Key&) const = default;
  };

  // The kept picture for the object `items` (it and its descendants, its
  // own placement left out) under `key`; null when none.
  cairo_surface_t* Find(const Key& key, std::span<const DrawnItem> items);
  // Keeps the filtered picture; too large ones are not kept.
  void Keep(const Key& key, std::span<const DrawnItem> items, SurfacePtr picture);
  // After each picture: forgets what the last two did not use.
  void EndFrame();
  void Clear();
  std::size_t Pixels() const { return pixels_; }
  std::size_t Entries() const { return entries_.size(); }

 private:
  struct Entry {
    Key key;
    std::vector<DrawnItem> items;  // the object's own matrix reset
    SurfacePtr picture;
    std::uint64_t lastFrame = 0;
  };
  static bool Same(const Entry& e, const Key& key, const DrawnItem& first, std::span<const DrawnItem> items);
  std::vector<Entry> entries_;
  std::uint64_t frame_ = 1;
  std::size_t pixels_ = 0;
};

// Whether an object's filtered picture can be kept: its drawing reads
// nothing outside its own items (no script mask found elsewhere in the list,
// no plane in three dimensions, no nine-slice sprite around it, no mask
// being drawn that lies among its children).
bool FilteredPictureKeepable(const RenderContext& c, const DrawnItem& item);

}  // namespace quarvel::player
