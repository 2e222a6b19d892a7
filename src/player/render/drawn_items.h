#pragma once
// The display tree flattened into the one list the renderer draws from.

#include <cstdint>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/library/characters.h"
#include "player/render/filters.h"
#include "player/rules/matrix3d.h"

namespace quarvel::player {

struct MovieLibrary;
struct ShaderBlend;

struct TimelineState;
struct Instance;
namespace text {
struct TextLook;
}

// One drawn object. Items come in drawing order, each followed by its
// children one level deeper, so the list keeps the tree's shape; it holds
// everything the renderer reads, and equal lists paint equal pictures (an
// unchanged frame need not be drawn again).
struct DrawnItem {
  int level = 0;  // sprite nesting; -1: the main timeline itself
  int depth = 0;
  const Character* def = nullptr;
  // A clip holding a loaded movie: the library its content's ids name.
  const MovieLibrary* lib = nullptr;
  Matrix matrix;
  ColorTransform cxform;
  std::uint16_t ratio = 0;
  int clipDepth = 0;
  int blendMode = 0;
  std::shared_ptr<const ShaderBlend> blendShader;  // blend mode 15: the kernel that blends
  bool visible = true;
  std::vector<Filter> filters;
  std::uint64_t serial = 0;      // names the object for a script mask
  std::uint64_t maskSerial = 0;  // setMask: shown only where that item covers
  bool scriptMask = false;       // a setMask mask: not drawn itself
  bool cacheAsBitmap = false;    // drawn through a bitmap (the flag, or filters): masks by alpha
  bool maskTarget = false;       // some item's maskSerial names this one
  // Sprites, and buttons with their shown state built: the items below are
  // its own list. A button without draws its definition's up state.
  bool ownList = false;
  std::shared_ptr<const std::string> text;     // bound text fields
  std::shared_ptr<const text::TextLook> field;  // text fields: what they show, made again on change
  std::shared_ptr<const ShapeGeometry> morph;  // morphs: the shape at `ratio`
  std::shared_ptr<const BitmapDef> video;      // videos: the picture shown (new for each picture)
  bool videoSmoothing = false;                 // videos: smoothed when the quality allows
  const ShapeGeometry* drawing = nullptr;      // a script's drawing, below the children
  bool drawingBounds = false;                  // the drawing has drawn anything
  std::uint64_t drawingVersion = 0;
  std::uint64_t bitmapVersion = 0;  // attached script bitmaps: changes with their pixels
  bool bitmapSmoothing = false;
  std::optional<std::uint32_t> opaqueBackground;  // RGB filled under `opaqueRect`
  Rect opaqueRect;                                 // its own bounds, twips
  // scrollRect: shows only this rectangle of its own space (twips), moved
  // to its origin (the matrix has that move already).
  std::optional<std::array<double, 4>> scrollRect;
  std::optional<Rect> scale9Grid;  // a script's nine-slice grid, own twips
  // ActionScript 3's third dimension: the projective map from its own space
  // (twips) to its parent's; for an object inside another one in three
  // dimensions (`nested3D` items above it in the list), to the parent of that
  // one, which draws it after its own plane. `matrix` is then the affine map
  // nearest to it, for what reads only that.
  std::optional<rules::H3> projection;
  std::uint32_t nested3D = 0;
  // The tree: the parent's index in the list (-1 none) and how many items
  // after this one are its descendants. Both follow from the levels.
  int parent = -1;
  std::uint32_t descendants = 0;

  bool operator==(const DrawnItem& o) const {
    const bool sameText = text == o.text || (text && o.text && *text == *o.text);
    // A serial matters only to the mask that is found by it.
    const bool sameSerial = serial == o.serial || (!maskTarget && !o.maskTarget);
    return level == o.level && depth == o.depth && def == o.def && matrix == o.matrix && cxform == o.cxform &&
           ratio == o.ratio && clipDepth == o.clipDepth && blendMode == o.blendMode && blendShader == o.blendShader && visible == o.visible &&
           filters == o.filters && maskSerial == o.maskSerial && scriptMask == o.scriptMask && cacheAsBitmap == o.cacheAsBitmap &&
           maskTarget == o.maskTarget && sameSerial && ownList == o.ownList && sameText && field == o.field &&
           drawing == o.drawing && drawingBounds == o.drawingBounds && drawingVersion == o.drawingVersion &&
           video == o.video && videoSmoothing == o.videoSmoothing && bitmapVersion == o.bitmapVersion &&
           bitmapSmoothing == o.bitmapSmoothing && opaqueBackground == o.opaqueBackground &&
           opaqueRect == o.opaqueRect && scrollRect == o.scrollRect && scale9Grid == o.scale9Grid &&
           projection == o.projection && nested3D == o.nested3D;
  }
};

// Appends the main timeline (an item of level -1 holding its drawing) and
// every object below it to `out`. Children of hidden clips are left out
// unless a script mask lies among them. With `avm1`, a clip that has both
// filters and a setMask mask shows neither, as ActionScript 1/2 clips do in Flash.
void ListDrawnItems(const TimelineState& root, std::vector<DrawnItem>& out, bool avm1 = false);

// An object's place in three dimensions (twips): its 2D matrix (scales,
// skew, rotation, x and y) with z, rotationX, rotationY and scaleZ, composed
// as Matrix3D.recompose composes them.
rules::M4 Matrix3DOf(const Matrix& flat, const Depth3D& d);
// Flash's default perspective for a stage `width` x `height` twips: a 55
// degree field of view about its centre.
rules::Perspective DefaultPerspective(double width, double height);
// The affine map nearest to `h` about the point (x, y); all zero when that
// point is behind the eye.
Matrix NearestAffine(const rules::H3& h, double x, double y);

// The items of one object as BitmapData.draw sees it: its content and
// children without its own placement, colour, blend, filters or visibility.
// Its script mask `mask`, when given, still masks it, drawn with
// `maskMatrix` (where it stands on the stage) in the bitmap's space.
// Objects in three dimensions inside it are seen through `seen`.
void ListDrawnItemsOf(const Instance& inst, std::vector<DrawnItem>& out, const Instance* mask = nullptr,
                      const Matrix& maskMatrix = {}, const rules::Perspective* seen = nullptr);

}  // namespace quarvel::player
