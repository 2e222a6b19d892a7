#include "player/display/display_transform.h"

#include <algorithm>
#include <cmath>

namespace quarvel::player::transform {
namespace {

constexpr double kPi = 3.14159265358979323846;

double Length(double a, double b) { return std::sqrt(a * a + b * b); }

std::array<double, 4> Linear(const Matrix& m) { return {m.scaleX, m.rotateSkew0, m.rotateSkew1, m.scaleY}; }

}  // namespace

ScriptTransform Read(const Matrix& m, const Kept& kept) {
  if (kept.held && kept.linear == Linear(m)) return kept.script;
  ScriptTransform t;
  t.xscale = Length(m.scaleX, m.rotateSkew0);
  t.yscale = Length(m.rotateSkew1, m.scaleY);
  t.rotation = std::atan2(m.rotateSkew0, m.scaleX);
  t.degrees = t.rotation * 180 / kPi;
  t.skew = std::atan2(-m.rotateSkew1, m.scaleY) - t.rotation;
  return t;
}

void Write(Matrix& m, Kept& kept, const ScriptTransform& t) {
  m.scaleX = t.xscale * std::cos(t.rotation);
  m.rotateSkew0 = t.xscale * std::sin(t.rotation);
  m.rotateSkew1 = -t.yscale * std::sin(t.rotation + t.skew);
  m.scaleY = t.yscale * std::cos(t.rotation + t.skew);
  // An infinite scale or rotation reads back as set (kept below); the
  // matrix, which the renderer takes, gets nothing it cannot draw.
  for (double* v : {&m.scaleX, &m.rotateSkew0, &m.rotateSkew1, &m.scaleY}) {
    if (!std::isfinite(*v)) *v = 0;
  }
  kept.held = true;
  kept.script = t;
  kept.linear = Linear(m);
}

double ScaleX(const Matrix& m, const Kept& kept) { return Read(m, kept).xscale; }
double ScaleY(const Matrix& m, const Kept& kept) { return Read(m, kept).yscale; }
double RotationDegrees(const Matrix& m, const Kept& kept) { return Read(m, kept).degrees; }

void SetScaleX(Matrix& m, Kept& kept, double factor) {
  ScriptTransform t = Read(m, kept);
  t.xscale = factor;
  Write(m, kept, t);
}

void SetScaleY(Matrix& m, Kept& kept, double factor) {
  ScriptTransform t = Read(m, kept);
  t.yscale = factor;
  Write(m, kept, t);
}

void SetRotationDegrees(Matrix& m, Kept& kept, double degrees) {
  double deg = std::fmod(degrees, 360.0);
  if (deg > 180) deg -= 360;
  else if (deg < -180) deg += 360;
  ScriptTransform t = Read(m, kept);
  t.rotation = deg * kPi / 180;
  t.degrees = deg;
  Write(m, kept, t);
}

void SetExtent(Matrix& m, Kept& kept, bool width, double current, double value) {
  if (!(current > 0) || !std::isfinite(value)) return;
  const bool held = kept.held && kept.linear == Linear(m);
  // Scaling the axis itself leaves the angles as they were.
  const double f = value / current;
  if (width) m.scaleX *= f, m.rotateSkew0 *= f;
  else m.rotateSkew1 *= f, m.scaleY *= f;
  if (!held) return;
  (width ? kept.script.xscale : kept.script.yscale) *= f;
  kept.linear = Linear(m);
}

namespace {
float FixedFactor(double a) {
  if (std::isnan(a)) return 0;
  const double t = std::clamp(std::trunc(a * 65536), -2147483648.0, 2147483647.0);
  return static_cast<float>(t / 65536);
}
}  // namespace

double LinearF(double a, double x, double c, double y) {
  const float sum = FixedFactor(a) * static_cast<float>(x) + FixedFactor(c) * static_cast<float>(y);
  return static_cast<double>(sum);
}

double RoundTwips(double v) { return std::nearbyint(v); }

std::int32_t Twips(double pixels) { return static_cast<std::int32_t>(std::lround(std::clamp(pixels * 20, -2e9, 2e9))); }

}  // namespace quarvel::player::transform
