#pragma once
// Describes a shape (fill and line styles, paths) and encodes it as the
// SHAPEWITHSTYLE record of DefineShape 1 to 4. Coordinates are twips,
// absolute (the builder writes the deltas).

#include <cstdint>
#include <optional>
#include <vector>

#include "player/swf/records.h"

namespace quarvel::testing {

struct GradientStop {
  std::uint8_t ratio = 0;  // 0..255 along the gradient square
  swf::Rgba color{};
};

struct FillStyle {
  enum class Kind : std::uint8_t {
    kSolid = 0x00,
    kLinearGradient = 0x10,
    kRadialGradient = 0x12,
    kFocalGradient = 0x13,  // DefineShape4 only
    kRepeatingBitmap = 0x40,
    kClippedBitmap = 0x41,
    kNonSmoothedRepeatingBitmap = 0x42,
    kNonSmoothedClippedBitmap = 0x43,
  };
  Kind kind = Kind::kSolid;
  swf::Rgba color{};                   // solid
  swf::Matrix matrix{};                // gradients and bitmaps
  std::vector<GradientStop> stops{};   // gradients (at most 15)
  std::uint8_t spreadMode = 0;       // 0 pad, 1 reflect, 2 repeat (DefineShape4)
  std::uint8_t interpolationMode = 0;  // 0 normal RGB, 1 linear RGB (DefineShape4)
  double focalPoint = 0.0;           // focal gradient, -1..1
  std::uint16_t bitmapId = 0xFFFF;   // bitmaps

  static FillStyle Solid(swf::Rgba c);
  // Gradients map the square -16384..16384 twips through the matrix.
  static FillStyle Linear(std::vector<GradientStop> stops, const swf::Matrix& m = {});
  static FillStyle Radial(std::vector<GradientStop> stops, const swf::Matrix& m = {});
  static FillStyle Focal(std::vector<GradientStop> stops, double focal, const swf::Matrix& m = {});
  // Bitmap fills map one bitmap pixel to one twip unless the matrix scales them.
  static FillStyle Bitmap(std::uint16_t id, const swf::Matrix& m = {}, bool clipped = false,
                          bool smoothed = true);
};

struct LineStyle {
  std::uint16_t width = 20;  // twips
  swf::Rgba color{};
  // LINESTYLE2 (DefineShape4 only).
  std::uint8_t startCap = 0;  // 0 round, 1 none, 2 square
  std::uint8_t endCap = 0;
  std::uint8_t join = 0;      // 0 round, 1 bevel, 2 miter
  double miterLimit = 3.0;    // 8.8, with join 2
  bool noClose = false;
  bool noHScale = false;
  bool noVScale = false;
  bool pixelHinting = false;
  std::optional<FillStyle> fill{};  // a fill instead of the colour
};

class ShapeBuilder {
 public:
  // Adds a style to the current style arrays; the returned index (from 1)
  // is what SetFill0/SetFill1/SetLine take (0 = none).
  std::uint16_t AddFill(const FillStyle& f);
  std::uint16_t AddLine(const LineStyle& l);

  // Style changes apply to the edges that follow.
  ShapeBuilder& SetFill0(std::uint16_t index);
  ShapeBuilder& SetFill1(std::uint16_t index);
  ShapeBuilder& SetLine(std::uint16_t index);
  ShapeBuilder& MoveTo(std::int32_t x, std::int32_t y);
  ShapeBuilder& LineTo(std::int32_t x, std::int32_t y);
  ShapeBuilder& CurveTo(std::int32_t cx, std::int32_t cy, std::int32_t x, std::int32_t y);
  // Starts new style arrays (DefineShape2 and later); indices restart at 1.
  ShapeBuilder& NewStyles();

  // A closed rectangle drawn clockwise on screen (y down) with fill1 = fill,
  // fill0 = 0 and the given line (0 = none). Sets those styles.
  ShapeBuilder& Rectangle(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                          std::uint16_t fill, std::uint16_t line = 0);

  // Bounds of all points (control points included); ShapeBounds adds half
  // the widest line.
  swf::Rect EdgeBounds() const;
  swf::Rect ShapeBounds() const;

  // SHAPEWITHSTYLE for DefineShape `version` (1..4). Throws
  // std::invalid_argument for what that version cannot hold.
  std::vector<std::uint8_t> Encode(int version) const;

 private:
  struct Op {
    enum Kind { kFill0, kFill1, kLine, kMove, kLineTo, kCurveTo, kNewStyles } kind;
    std::int32_t a = 0, b = 0, c = 0, d = 0;
  };
  struct Styles {
    std::vector<FillStyle> fills;
    std::vector<LineStyle> lines;
  };
  void Extend(std::int32_t x, std::int32_t y);

  std::vector<Styles> styles_{1};
  std::vector<Op> ops_{};
  bool has_points_ = false;
  swf::Rect bounds_;
};

}  // namespace quarvel::testing
