#pragma once
// A display object's place as both script machines read and write it:
// x/y, scale, rotation and skew through its matrix. Flash keeps the scales
// and rotation a script set beside the matrix, so a flip (a negative scale)
// survives setting the others and reads back as set. ActionScript 1/2 and
// ActionScript 3 differ only in units (_xscale 100 is scaleX 1), which each
// machine converts.

#include <array>
#include <cstdint>

#include "player/swf/records.h"

namespace quarvel::player::transform {

using swf::Matrix;

struct ScriptTransform {
  double xscale = 1, yscale = 1;  // factors; negative when a script made them so
  double rotation = 0, skew = 0;  // radians; skew turns the y axis further
  // The rotation in degrees as a script set it, so that it reads back
  // exactly (30 degrees and back through radians is 30.000000000000004).
  double degrees = 0;
};

// What scripts last made of a matrix's linear part, and that part then:
// stale once the matrix no longer has it (a timeline or transform.matrix
// moved it).
struct Kept {
  bool held = false;  // a script set them
  ScriptTransform script;
  std::array<double, 4> linear{0, 0, 0, 0};
};

// The script view of the matrix: the kept values while they still hold,
// else what the matrix alone gives (positive scales; a flip shows as a
// skew).
ScriptTransform Read(const Matrix& m, const Kept& kept);
// Sets the linear part of the matrix from `t` and keeps `t`.
void Write(Matrix& m, Kept& kept, const ScriptTransform& t);

double ScaleX(const Matrix& m, const Kept& kept);
double ScaleY(const Matrix& m, const Kept& kept);
double RotationDegrees(const Matrix& m, const Kept& kept);  // -180..180
void SetScaleX(Matrix& m, Kept& kept, double factor);
void SetScaleY(Matrix& m, Kept& kept, double factor);
// Any angle, brought within -180..180 first.
void SetRotationDegrees(Matrix& m, Kept& kept, double degrees);
// Width or height set: the axis is scaled so that the extent `current`
// (pixels, as the parent sees it) becomes `value`; rotation, skew and a
// flip stay. Nothing happens without a current extent.
void SetExtent(Matrix& m, Kept& kept, bool width, double current, double value);

// a * x + c * y as Flash computes a corner for bounds: each factor cut to
// 16.16 fixed point toward zero (held within its 32-bit range), then the
// sum in single precision. So a width of 8388607 on a 320-pixel video
// reads 8388607.2, and no scale past 32768 widens anything.
double LinearF(double a, double x, double c, double y);
// To the nearest twip, halves to even, as Flash rounds a carried corner.
double RoundTwips(double v);

// x/y in pixels to matrix twips, clamped into the matrix's range.
std::int32_t Twips(double pixels);

}  // namespace quarvel::player::transform
