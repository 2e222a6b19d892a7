#pragma once
// The drawing API of both script machines (ActionScript 1/2 MovieClip
// drawing, ActionScript 3 Graphics), into the stage's Drawing model (what
// the renderer draws below a timeline's children). Twips.

#include <cstdint>
#include <memory>
#include <vector>

#include "player/library/characters.h"

namespace quarvel::player {

class BitmapData;

// A number never handed out before, for Drawing::version.
std::uint64_t NextDrawingVersion();

// What a timeline's drawing API calls (moveTo, lineTo, beginFill...) drew;
// shown below its children. Twips.
struct Drawing {
  ShapeGeometry geometry;
  bool hasBounds = false;
  Rect edgeBounds;  // the drawn points without the strokes' widths (getRect); set with hasBounds
  double penX = 0, penY = 0;
  double startX = 0, startY = 0;  // where the open fill contour began
  bool filling = false;
  int line = -1;  // line style of the last layer in use; -1 none
  bool hasLineStyle = false;
  LineStyle lineStyle;
  std::size_t edges = 0;
  std::vector<std::shared_ptr<const BitmapData>> bitmaps;  // bitmap fills: their changes show
  // Changes with every change, so that a repaint can tell (see NextDrawingVersion).
  std::uint64_t version = NextDrawingVersion();
};

}  // namespace quarvel::player

namespace quarvel::player::drawing {

void StartFill(Drawing& d, const FillStyle& f);
void EndFill(Drawing& d);
void SetLineStyle(Drawing& d, const LineStyle& l);
void SetLineFill(Drawing& d, const FillStyle& f);  // lineGradientStyle
void MoveTo(Drawing& d, double x, double y);
void LineTo(Drawing& d, double x, double y);
void CurveTo(Drawing& d, double cx, double cy, double x, double y);
// A cubic Bézier as quadratic pieces.
void CubicTo(Drawing& d, double c1x, double c1y, double c2x, double c2y, double x, double y);
// Closed shapes; each starts and ends its own contour.
void Rectangle(Drawing& d, double x, double y, double w, double h);
void RoundRectangle(Drawing& d, double x, double y, double w, double h, double ellipseW, double ellipseH);
// Circular corners of their own radius each (ActionScript 3's drawRoundRectComplex).
void RoundRectangleCorners(Drawing& d, double x, double y, double w, double h, double topLeft, double topRight,
                           double bottomLeft, double bottomRight);
void Ellipse(Drawing& d, double x, double y, double w, double h);

}  // namespace quarvel::player::drawing
