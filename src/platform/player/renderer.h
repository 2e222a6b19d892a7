#pragma once
// Draws a display list with Cairo.

#include <cairo.h>

#include <map>
#include <vector>

#include "platform/player/flash_player.h"
#include "platform/player/movie_library.h"
#include "platform/player/stage.h"

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

 private:
  std::map<const void*, std::vector<Entry>> entries_;
  std::uint64_t frame_ = 1;
  std::size_t pixels_ = 0;
};

struct RenderOptions {
  Quality quality = Quality::qHigh;
  double stageScale = 1.0 / 20;  // device pixels per twip of the stage
  ShapeCache* cache = nullptr;   // none: every shape is drawn
};

// Draws the list with `base` mapping the movie's twips to device pixels.
// `drawing`: what the main timeline's drawing API drew, below the list.
void RenderDisplayList(cairo_t* cr, const MovieLibrary& lib, const std::map<int, Instance>& list,
                       const cairo_matrix_t& base, const RenderOptions& options, const Drawing* drawing = nullptr);

// Draws one shape geometry (for tests and glyphs) under a transform.
void RenderGeometry(cairo_t* cr, const MovieLibrary& lib, const ShapeGeometry& g, const cairo_matrix_t& m,
                    const ColorTransform& cx, const RenderOptions& options);

// One drawn instance, flattened from the display tree in drawing order:
// equal lists paint equal pictures, so an unchanged frame need not be drawn
// again. Holds everything of an Instance the renderer reads.
struct DrawnItem {
  int level = 0;  // sprite nesting, keeps the tree's shape
  int depth = 0;
  const Character* def = nullptr;
  Matrix matrix;
  ColorTransform cxform;
  std::uint16_t ratio = 0;
  int clipDepth = 0;
  int blendMode = 0;
  bool visible = true;
  std::vector<Filter> filters;
  std::uint64_t maskSerial = 0;
  bool scriptMask = false;
  std::shared_ptr<const std::string> text;  // bound text fields
  const Drawing* drawing = nullptr;          // a script's drawing on the timeline
  std::uint64_t drawingVersion = 0;
  bool operator==(const DrawnItem& o) const {
    const bool sameText = text == o.text || (text && o.text && *text == *o.text);
    return level == o.level && depth == o.depth && def == o.def && matrix == o.matrix && cxform == o.cxform &&
           ratio == o.ratio && clipDepth == o.clipDepth && blendMode == o.blendMode && visible == o.visible &&
           filters == o.filters && maskSerial == o.maskSerial && scriptMask == o.scriptMask && sameText &&
           drawing == o.drawing && drawingVersion == o.drawingVersion;
  }
};

// Appends the items of `list` and of every timeline below it to `out`.
void ListDrawnItems(const std::map<int, Instance>& list, std::vector<DrawnItem>& out);

cairo_matrix_t ToCairo(const Matrix& m);
ColorTransform Compose(const ColorTransform& parent, const ColorTransform& child);

}  // namespace quarvel::player
