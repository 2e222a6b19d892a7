#pragma once
// Parsed character definitions (immutable once loaded, stored by id) and the
// small value types they share with the renderer.

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "player/render/filters.h"
#include "player/swf/records.h"

namespace quarvel::player {

using swf::ColorTransform;
using swf::Matrix;
using swf::Rect;
using swf::Rgba;

// A placement matrix (twips) as Cairo takes it.
inline cairo_matrix_t ToCairo(const Matrix& m) {
  cairo_matrix_t r;
  cairo_matrix_init(&r, m.scaleX, m.rotateSkew0, m.rotateSkew1, m.scaleY, m.translateX, m.translateY);
  return r;
}

// Caps on everything that comes from a file.
inline constexpr int kMaxSpriteNesting = 32;
inline constexpr std::int64_t kMaxBitmapPixels = std::int64_t{1} << 24;   // 16 M pixels each
inline constexpr std::int64_t kMaxBitmapBytesTotal = std::int64_t{512} << 20;
inline constexpr std::size_t kMaxEdgesPerShape = 1u << 20;
// Flash stops a script after seconds, not actions: a frame may well fill a
// bitmap pixel by pixel, and component movies build their whole interface
// in the first frame. A frame after one that ran out gets far fewer, so
// that a script looping for ever costs one long frame, not every frame.
inline constexpr std::size_t kMaxActionsPerFrame = 20000000;
inline constexpr std::size_t kMaxActionsAfterRunningOut = 30000;
inline constexpr std::size_t kMaxInstancesPerTick = 20000;
inline constexpr std::size_t kMaxLiveInstances = 100000;
inline constexpr std::size_t kMaxFramesEnteredPerTick = 50000;

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// z, rotationX, rotationY and scaleZ of a display object: with its 2D
// matrix, its place in three dimensions (see Matrix3DOf in drawn_items.h).
struct Depth3D {
  double z = 0, rotationX = 0, rotationY = 0, scaleZ = 1;  // twips, degrees
  bool operator==(const Depth3D&) const = default;
};

struct GradientStop {
  std::uint8_t ratio = 0;
  Rgba color;
};

struct Gradient {
  int spread = 0;         // 0 pad, 1 reflect, 2 repeat
  int interpolation = 0;  // 0 normal RGB, 1 linear RGB
  double focal = 0.0;     // -1..1, focal radial only
  std::vector<GradientStop> stops;
};

struct BitmapDef;

struct FillStyle {
  enum class Kind { kSolid, kLinear, kRadial, kFocal, kBitmap };
  Kind kind = Kind::kSolid;
  Rgba color;
  Gradient gradient;
  Matrix matrix;  // gradient or bitmap space to shape space (twips)
  std::uint16_t bitmapId = 0;
  const struct BitmapDef* bitmap = nullptr;  // a picture of no library id (script-made), else by bitmapId
  bool repeat = false;
  bool smooth = true;
  std::shared_ptr<const BitmapDef> scriptBitmap;  // a script's bitmap (beginBitmapFill) instead of bitmapId
  bool nonZero = false;  // drawPath's non-zero winding rule; shapes fill even-odd
};

struct LineStyle {
  double width = 20;  // twips
  Rgba color;
  int startCap = 0;  // 0 round, 1 none, 2 square
  int endCap = 0;
  int join = 0;      // 0 round, 1 bevel, 2 miter
  double miterLimit = 3.0;
  bool noHScale = false;
  bool noVScale = false;
  bool hasFill = false;
  FillStyle fill;
};

// One edge in shape coordinates (twips); a straight edge has curve == false.
struct Edge {
  double x0 = 0, y0 = 0, cx = 0, cy = 0, x1 = 0, y1 = 0;
  bool curve = false;
};

// A set of styles and the edges drawn with them; a shape's NewStyles record
// starts a new layer drawn above the earlier ones.
struct ShapeLayer {
  std::vector<FillStyle> fills;
  std::vector<LineStyle> lines;
  // Per fill style (index - 1): closed contours, edges oriented and chained.
  std::vector<std::vector<Edge>> fillPaths;
  // Per line style (index - 1): edges in drawing order.
  std::vector<std::vector<Edge>> linePaths;
};

// Where the edges of a geometry lie, control points included (twips), and
// its widest line: what it can touch, whatever bounds the file declares.
struct Extent {
  double xmin = 0, ymin = 0, xmax = -1, ymax = -1;  // empty
  double maxLineWidth = 0;  // twips, times the miter limit where joins are mitred
  // What drawing costs: paths (one Cairo fill or stroke each), edges, and
  // fills with gradients or bitmaps.
  std::size_t paths = 0, edges = 0;
  bool patterned = false;
  bool Empty() const { return xmin > xmax || ymin > ymax; }
};

struct ShapeGeometry {
  Rect bounds;
  std::vector<ShapeLayer> layers;
  Extent extent;  // kept up to date by the parser (MeasureExtent)
};

struct Character {
  enum class Kind { kShape, kMorph, kBitmap, kSprite, kButton, kFont, kText, kEditText, kVideo };
  explicit Character(Kind k) : kind(k) {}
  virtual ~Character() = default;
  Kind kind;
  std::uint16_t id = 0;
};

struct ShapeDef : Character {
  ShapeDef() : Character(Kind::kShape) {}
  ShapeGeometry geometry;
  // The bounds without strokes (getRect): DefineShape4's EdgeBounds as the
  // file gives them, else the shape's bounds.
  Rect edgeBounds;
};

// Raw records of a morph shape, kept for interpolation at any ratio.
struct MorphRecord {
  bool isEdge = false;
  Edge start, end;               // for edges
  bool hasFill0 = false, hasFill1 = false, hasLine = false;
  std::uint32_t fill0 = 0, fill1 = 0, line = 0;
};

struct MorphFill {
  FillStyle start, end;
};
struct MorphLine {
  LineStyle start, end;
};

struct MorphDef : Character {
  MorphDef() : Character(Kind::kMorph) {}
  Rect startBounds, endBounds;
  Rect startEdgeBounds;  // without strokes: DefineMorphShape2's, else startBounds
  std::vector<MorphFill> fills;
  std::vector<MorphLine> lines;
  std::vector<MorphRecord> records;
};

// A picture's pixels. A library picture's are decoded on first use, not at
// load: most pictures of a movie are not drawn in its first frames, and
// decoding them all made a long start. Script-made pictures set theirs.
class PictureSurface {
 public:
  // Gives the pixels; must not throw (a failure gives a transparent picture).
  using Decode = std::function<SurfacePtr()>;
  PictureSurface() = default;
  PictureSurface& operator=(SurfacePtr s) {
    decode_ = nullptr;
    surface_ = std::move(s);
    return *this;
  }
  void reset(cairo_surface_t* s = nullptr) { *this = SurfacePtr(s); }
  void SetDecode(Decode decode) {
    surface_.reset();
    decode_ = std::move(decode);
  }
  // The pixels, decoded now if they were not yet.
  cairo_surface_t* get() const {
    if (decode_) surface_ = std::exchange(decode_, nullptr)();
    return surface_.get();
  }
  explicit operator bool() const { return surface_ || decode_; }
  bool Decoded() const { return !decode_; }

 private:
  mutable SurfacePtr surface_;
  mutable Decode decode_;
};

struct BitmapDef : Character {
  BitmapDef() : Character(Kind::kBitmap) {}
  PictureSurface surface;  // premultiplied ARGB32
  int width = 0, height = 0;
  // Colour-transformed copies drawn lately (a tween reuses one per frame).
  mutable std::vector<std::pair<ColorTransform, SurfacePtr>> tinted;
  // Copies reduced by halvings (level -> picture), for smoothing bitmaps
  // drawn at a fraction of their size.
  mutable std::vector<std::pair<int, SurfacePtr>> reduced;
};

struct Glyph {
  ShapeGeometry shape;  // one layer, fill style 1 = the text colour
  double advance = 0;   // in font units, 0 when the font has no layout
};

struct FontDef : Character {
  FontDef() : Character(Kind::kFont) {}
  std::vector<Glyph> glyphs;
  std::vector<std::uint16_t> codes;  // glyph index -> character code
  double unitsPerEm = 1024;          // 20480 for DefineFont3
  double ascent = 0, descent = 0, leading = 0;  // in font units
  // Kerning pairs of the layout: (first code << 16 | second code) -> font units.
  std::map<std::uint32_t, double> kerning;
  std::string name;
  bool bold = false, italic = false;
  bool hasLayout = false;  // DefineFont2/3 with metrics: a font scripts list as embedded
  bool cff = false;        // DefineFont4, named only
};

struct GlyphRun {
  std::uint16_t fontId = 0;
  Rgba color;
  double x = 0, y = 0;  // baseline start, twips
  double height = 0;    // twips
  std::vector<std::pair<std::uint32_t, double>> glyphs;  // index, advance (twips)
};

struct TextDef : Character {
  TextDef() : Character(Kind::kText) {}
  Rect bounds;
  Matrix matrix;
  std::vector<GlyphRun> runs;
  // From CSMTextSettings: drawn smooth at every quality.
  bool advancedAntiAlias = false;
};

struct EditTextDef : Character {
  EditTextDef() : Character(Kind::kEditText) {}
  Rect bounds;
  bool hasFont = false, useOutlines = false, html = false, border = false, wordWrap = false, multiline = false;
  bool password = false, readOnly = false, noSelect = false, autoSize = false;
  int maxLength = 0;
  std::uint16_t fontId = 0;
  double height = 240;
  Rgba color{0, 0, 0, 255};
  int align = 0;  // 0 left, 1 right, 2 centre, 3 justify
  double leftMargin = 0, rightMargin = 0, indent = 0, leading = 0;
  std::string text;
  std::string variable;  // the script variable the field shows, if any
  // From CSMTextSettings: advanced anti-aliasing, grid fitting (0 none, 1 pixel, 2 subpixel).
  bool advancedAntiAlias = false;
  int gridFit = 1;
  float thickness = 0, sharpness = 0;
};

// One tag of a timeline frame, pointing into the movie's data.
struct ControlTag {
  std::uint16_t code = 0;
  std::size_t offset = 0;  // of the body in the movie data
  std::size_t length = 0;
};

struct Frame {
  std::vector<ControlTag> tags;
};

struct TimelineDef {
  std::vector<Frame> frames;  // at least one
  std::map<std::string, int> labels;  // lower-case label -> frame
  std::vector<std::pair<int, std::string>> labelNames;  // (frame, label as written), in file order, repeats kept
  // DefineSceneAndFrameLabelData of the main timeline: (first frame, name),
  // by first frame; empty for a timeline without scenes.
  std::vector<std::pair<int, std::string>> scenes;
  std::size_t tagBytes = 0;  // a sprite's: the length of its tags, what getBytesTotal reports
  // A sprite whose tags do not close with a ShowFrame and then an End tag
  // counts as never fully loaded: it plays to its last frame and stays.
  bool loops = true;
  // A sprite declaring no frames and showing none: ActionScript 3 counts 0 frames.
  bool frameless = false;
  bool showsFrame = false;  // a ShowFrame tag was met
};

struct SpriteDef : Character {
  SpriteDef() : Character(Kind::kSprite) {}
  TimelineDef timeline;
};

// Button states a record shows in (ButtonRecord::states bits).
inline constexpr std::uint8_t kButtonUp = 1, kButtonOver = 2, kButtonDown = 4, kButtonHit = 8;

struct ButtonRecord {
  std::uint16_t characterId = 0;
  std::uint16_t depth = 0;
  Matrix matrix;
  ColorTransform cxform;
  std::uint8_t states = 0;
  int blendMode = 0;
  std::vector<Filter> filters;
};

// Button transitions, as bits of ButtonAction::conditions (the DefineButton2
// layout: first byte in the high half).
enum ButtonTransition : std::uint16_t {
  kIdleToOverUp = 0x0100,
  kOverUpToIdle = 0x0200,
  kOverUpToOverDown = 0x0400,
  kOverDownToOverUp = 0x0800,
  kOverDownToOutDown = 0x1000,
  kOutDownToOverDown = 0x2000,
  kOutDownToIdle = 0x4000,
  kIdleToOverDown = 0x8000,
  kOverDownToIdle = 0x0001,
};

struct ButtonAction {
  std::uint16_t conditions = 0;
  std::size_t offset = 0;  // of the action code in the movie data
  std::size_t length = 0;
};

// A DefineButtonSound entry: the sound and its SOUNDINFO in the movie data.
struct ButtonSound {
  std::uint16_t soundId = 0;  // 0: none
  std::size_t infoOffset = 0;
  std::size_t infoLength = 0;
};

struct ButtonDef : Character {
  ButtonDef() : Character(Kind::kButton) {}
  std::vector<ButtonRecord> records;  // by depth
  bool trackAsMenu = false;
  std::vector<ButtonAction> actions;
};

using CharacterMap = std::map<std::uint16_t, std::shared_ptr<const Character>>;

}  // namespace quarvel::player
