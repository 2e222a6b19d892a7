#pragma once
// Shapes drawn, culled when off the picture, and kept as pictures from frame
// to frame when they are costly to draw.

#include <cairo.h>

#include <map>
#include <vector>

#include "player/library/characters.h"
#include "player/render/render_context.h"

namespace quarvel::player {

// Pictures of costly shapes as last drawn, kept from frame to frame: a shape
// drawn again under the same transform (or moved by whole pixels) and colour
// transform is copied instead of drawn. Valid for one movie only.
class ShapeCache {
 public:
  void Clear();
  // After each picture: forgets the shapes the last two did not draw.
  void EndFrame();
  std::size_t Pixels() const { return pixels_; }

  struct Key {
    const void* owner = nullptr;  // the geometry's definition
    int ratio = 0;                // morphs
    double xx = 1, yx = 0, xy = 0, yy = 1;
    double fx = 0, fy = 0;  // translation's fraction of a pixel
    ColorTransform cx;
    bool mask = false;
    cairo_antialias_t antialias = CAIRO_ANTIALIAS_DEFAULT;
    double tolerance = 0;
    double stageScale = 0;
    Quality quality = Quality::qHigh;  // bitmap filters
    bool Matches(const Key& k) const;
  };
  struct Entry {
    Key key;
    int ox = 0, oy = 0;                  // whole-pixel translation when drawn
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // device pixels held, at (ox, oy)
    SurfacePtr picture;                  // none while seen only once
    std::uint64_t lastFrame = 0;
  };

  // The entry for `key`, made (without a picture) when new; `seenBefore`
  // tells whether it was drawn in this or the last frame.
  Entry& Find(const Key& key, bool& seenBefore);
  void Store(Entry& e, SurfacePtr picture, int x0, int y0, int x1, int y1);

  // The fills of one layer laid together (its group before it is put down),
  // kept by layer, transform and colour transform while the shape keeps
  // coming back to them: a shape that bobs or loops shows the same few
  // fractions of a pixel again and again. `key.owner` names the definition,
  // `layer` the layer in it, (ox, oy) the whole pixels of the translation.
  cairo_surface_t* FindFills(const Key& key, int layer, int ox, int oy, int x0, int y0, int x1, int y1);
  void KeepFills(const Key& key, int layer, int ox, int oy, SurfacePtr picture, int x0, int y0, int x1, int y1);
  std::size_t FillPixels() const { return fillPixels_; }

 private:
  struct KeptLayer {
    Key key;
    int layer = 0;
    int ox = 0, oy = 0;                  // whole-pixel translation when drawn
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // its box, at (ox, oy)
    SurfacePtr picture;
    std::uint64_t lastFrame = 0;
  };
  std::map<const void*, std::vector<Entry>> entries_;
  std::map<const void*, std::vector<KeptLayer>> layers_;
  std::uint64_t frame_ = 1;
  std::size_t pixels_ = 0;
  std::size_t fillPixels_ = 0;
};

// Draws the geometry under `m` unless it lies off the clip; `owner` and
// `ratio` name it for the options' shape cache (none: not kept).
void DrawGeometry(RenderContext& c, const ShapeGeometry& g, const cairo_matrix_t& m, const ColorTransform& cx,
                  const void* owner = nullptr, int ratio = 0);

}  // namespace quarvel::player
