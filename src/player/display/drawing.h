#pragma once
// The drawing API of both script machines (ActionScript 1/2 MovieClip
// drawing, ActionScript 3 Graphics), into the stage's Drawing model (what
// the renderer draws below a timeline's children). Twips.

#include "player/display/stage.h"

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
void Ellipse(Drawing& d, double x, double y, double w, double h);

}  // namespace quarvel::player::drawing
