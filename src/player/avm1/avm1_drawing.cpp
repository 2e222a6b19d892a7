// The drawing API of movie clips: lines, fills and gradients that scripts draw
// below a clip's children.
#include <algorithm>
#include <cmath>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_geom.h"
#include "player/render/bitmap_data.h"
#include "player/display/drawing.h"
#include "player/display/stage.h"

namespace quarvel::player::avm1_builtins {
namespace {

std::string Str(Avm1& vm, const AsValue& v) { return vm.ToString(v); }

TimelineState* ClipTimeline(Avm1& vm, const AsValue& self, ClipHandle* clip = nullptr) {
  const ClipHandle h = vm.ClipOf(self);
  if (clip) *clip = h;
  return vm.GetStage().TimelineOf(h);
}

// ---- drawing API

Drawing* Pen(Avm1& vm, const AsValue& self) {
  TimelineState* tl = ClipTimeline(vm, self);
  if (!tl) return nullptr;
  if (!tl->drawing) tl->drawing = std::make_shared<Drawing>();
  tl->drawing->version = NextDrawingVersion();  // about to change: the next paint must draw
  return tl->drawing.get();
}

// A coordinate in whole twips (Flash keeps no less): NaN (a missing or
// non-numeric argument) is 0 and infinities saturate.
bool Coord(Avm1& vm, AsArgs a, std::size_t i, double& out) {
  const double v = Num(vm, a, i);
  out = std::isnan(v) ? 0.0 : std::trunc(std::clamp(v, -1e7, 1e7) * 20);
  return true;
}

Rgba ColorArg(Avm1& vm, const AsValue& rgb, const AsValue& alpha) {
  const double c = vm.ToNumber(rgb);
  const auto v = static_cast<std::uint32_t>(ToInt32(c));
  const double a = alpha.IsUndefined() ? 100 : vm.ToNumber(alpha);
  return Rgba{static_cast<std::uint8_t>((v >> 16) & 255), static_cast<std::uint8_t>((v >> 8) & 255),
              static_cast<std::uint8_t>(v & 255),
              static_cast<std::uint8_t>(std::isnan(a) ? 255 : std::clamp(a, 0.0, 100.0) * 255 / 100 + 0.5)};
}

AsValue DrBeginFill(Avm1& vm, const AsValue& self, AsArgs a) {
  const bool none = a.empty() || a[0].IsUndefined();
  FillStyle f;
  if (!none) f.color = ColorArg(vm, a[0], Arg(a, 1));
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  if (none) {
    drawing::EndFill(*d);
    return {};
  }
  drawing::StartFill(*d, f);
  return {};
}

// A gradient's matrix from a {matrixType:"box"} object, a Matrix or {a..i}.
Matrix GradientMatrix(Avm1& vm, const AsValue& m) {
  Matrix out;
  if (m.type != AsValue::Type::kObject) return out;
  auto num = [&](const char* n) {
    const double d = vm.ToNumber(vm.Get(m, n));
    return std::isfinite(d) ? d : 0.0;
  };
  const AsValue type = vm.Get(m, "matrixType");
  if (type.type == AsValue::Type::kString && type.Text() == "box") {
    const double w = num("w"), h = num("h"), r = num("r"), x = num("x"), y = num("y");
    out.scaleX = w / 1638.4 * std::cos(r);
    out.rotateSkew0 = w / 1638.4 * std::sin(r);
    out.rotateSkew1 = -h / 1638.4 * std::sin(r);
    out.scaleY = h / 1638.4 * std::cos(r);
    out.translateX = static_cast<std::int32_t>(std::lround(std::clamp((x + w / 2) * 20, -2e9, 2e9)));
    out.translateY = static_cast<std::int32_t>(std::lround(std::clamp((y + h / 2) * 20, -2e9, 2e9)));
    return out;
  }
  if (!vm.Get(m, "tx").IsUndefined() || (!vm.Get(m, "a").IsUndefined() && vm.Get(m, "g").IsUndefined())) {
    out.scaleX = num("a"), out.rotateSkew0 = num("b"), out.rotateSkew1 = num("c"), out.scaleY = num("d");
    out.translateX = static_cast<std::int32_t>(std::lround(std::clamp(num("tx") * 20, -2e9, 2e9)));
    out.translateY = static_cast<std::int32_t>(std::lround(std::clamp(num("ty") * 20, -2e9, 2e9)));
    return out;
  }
  // The 3x3 form: a b _ / d e _ / g h _, in pixels.
  out.scaleX = num("a") / 1638.4, out.rotateSkew0 = num("b") / 1638.4;
  out.rotateSkew1 = num("d") / 1638.4, out.scaleY = num("e") / 1638.4;
  out.translateX = static_cast<std::int32_t>(std::lround(std::clamp(num("g") * 20, -2e9, 2e9)));
  out.translateY = static_cast<std::int32_t>(std::lround(std::clamp(num("h") * 20, -2e9, 2e9)));
  return out;
}

// Flash reads the gradient's lists as any objects with a length and
// numbered members, so objects that only look like arrays work too. It asks
// for the lengths again before each stop: a length that changes meanwhile
// (a valueOf with effects) leaves the later stops empty.
int ListLength(Avm1& vm, const AsValue& v) {
  if (v.type != AsValue::Type::kObject) return 0;
  const double n = vm.ToNumber(vm.Get(v, "length"));
  return std::isfinite(n) && n > 0 ? static_cast<int>(std::min(n, 1048576.0)) : 0;
}

// The common length of the three lists, -1 when they differ.
int ListsLength(Avm1& vm, AsArgs a) {
  const int n = ListLength(vm, Arg(a, 1));
  return ListLength(vm, Arg(a, 2)) == n && ListLength(vm, Arg(a, 3)) == n ? n : -1;
}

// Member i of a list, false when the list has none there.
bool Element(Avm1& vm, const AsValue& list, int i, AsValue& out) {
  AsObject* o = Self(list);
  const std::string name = std::to_string(i);
  if (!o || !o->props.count(vm.Key(name))) return false;
  out = vm.Get(list, name);
  return true;
}

// A number as the gradient reads it: NaN, undefined and the like are 0.
double GradientNumber(Avm1& vm, const AsValue& v) {
  const double d = vm.ToNumber(v);
  return std::isnan(d) ? 0.0 : d;
}

// Flash ignores the call unless the lists are as long, each ratio lies
// above -1 and below 256, and the matrix is given; nor does it take more
// than eight arguments. A missing alpha is the colour's value, a missing
// ratio the alpha's.
bool GradientFill(Avm1& vm, AsArgs a, FillStyle& f) {
  if (a.size() < 5 || a.size() > 8) return false;
  // The type's case matters.
  const std::string type = Str(vm, Arg(a, 0));
  if (type != "linear" && type != "radial") return false;
  // A gradient holds at most 15 stops.
  const int n = std::min(ListsLength(vm, a), 15);
  if (n < 0) return false;
  if (n == 0) {
    // No stops: Flash fills black.
    f.kind = FillStyle::Kind::kSolid;
    f.color = Rgba{0, 0, 0, 255};
    return true;
  }
  f.kind = type == "linear" ? FillStyle::Kind::kLinear : FillStyle::Kind::kRadial;
  for (int i = 0; i < n; ++i) {
    double color = 0, alpha = 0, ratio = 0;
    if (ListsLength(vm, a) > i) {
      AsValue v;
      color = Element(vm, Arg(a, 1), i, v) ? GradientNumber(vm, v) : 0;
      alpha = Element(vm, Arg(a, 2), i, v) ? GradientNumber(vm, v) : static_cast<double>(ToInt32(color));
      ratio = Element(vm, Arg(a, 3), i, v) ? GradientNumber(vm, v) : std::clamp(alpha, 0.0, 255.0);
    }
    if (ratio <= -1 || ratio >= 256) return false;
    // Fractions are cut off.
    f.gradient.stops.push_back({static_cast<std::uint8_t>(std::clamp(ratio, 0.0, 255.0)),
                                ColorArg(vm, AsValue::Number(color), AsValue::Number(alpha))});
  }
  f.matrix = GradientMatrix(vm, Arg(a, 4));
  const std::string spread = Str(vm, Arg(a, 5));
  f.gradient.spread = spread == "reflect" ? 1 : spread == "repeat" ? 2 : 0;
  f.gradient.interpolation = Str(vm, Arg(a, 6)) == "linearRGB" ? 1 : 0;
  if (a.size() > 7 && f.kind == FillStyle::Kind::kRadial) {
    const double focal = Num(vm, a, 7);
    if (std::isfinite(focal) && focal != 0) {
      f.kind = FillStyle::Kind::kFocal;
      f.gradient.focal = std::clamp(focal, -1.0, 1.0);
    }
  }
  return true;
}

AsValue DrBeginGradientFill(Avm1& vm, const AsValue& self, AsArgs a) {
  // No type: the fill ends, as endFill does.
  if (a.empty() || a[0].IsUndefined()) {
    if (Drawing* d = Pen(vm, self)) drawing::EndFill(*d);
    return {};
  }
  // Before version 8 the call takes the five arguments of version 7 only.
  if (a.size() > 5 && vm.Version() < 8) return {};
  FillStyle f;
  if (!GradientFill(vm, a, f)) return {};
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  drawing::StartFill(*d, f);
  return {};
}

// beginBitmapFill(bitmap, matrix, repeat, smoothing)
AsValue DrBeginBitmapFill(Avm1& vm, const AsValue& self, AsArgs a) {
  std::shared_ptr<BitmapData> bmp = ScriptBitmap(Arg(a, 0));
  if (!bmp) return {};
  GeomMatrix m;
  ReadGeomMatrix(vm, Arg(a, 1), m);
  FillStyle f;
  f.kind = FillStyle::Kind::kBitmap;
  f.scriptBitmap = bmp->Def();
  // Bitmap pixels to the drawing's twips.
  f.matrix = m.ToTwips();
  f.matrix.scaleX *= 20, f.matrix.rotateSkew0 *= 20, f.matrix.rotateSkew1 *= 20, f.matrix.scaleY *= 20;
  f.repeat = a.size() <= 2 || vm.ToBool(a[2]);
  f.smooth = a.size() > 3 && vm.ToBool(a[3]);
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  if (std::find(d->bitmaps.begin(), d->bitmaps.end(), bmp) == d->bitmaps.end()) d->bitmaps.push_back(bmp);
  drawing::StartFill(*d, f);
  return {};
}

AsValue DrLineStyle(Avm1& vm, const AsValue& self, AsArgs a) {
  const double t = Num(vm, a, 0);
  if (a.empty() || a[0].IsUndefined() || std::isnan(t)) {
    if (Drawing* d = Pen(vm, self)) {
      d->hasLineStyle = false;
      d->line = -1;
    }
    return {};
  }
  LineStyle l;
  // 0 is a hairline: one device pixel at any scale.
  l.width = std::clamp(t, 0.0, 255.0) * 20;
  l.color = ColorArg(vm, Arg(a, 1), Arg(a, 2));
  const std::string scale = Str(vm, Arg(a, 4));
  l.noHScale = scale == "none" || scale == "horizontal";
  l.noVScale = scale == "none" || scale == "vertical";
  const std::string caps = Str(vm, Arg(a, 5)), joints = Str(vm, Arg(a, 6));
  l.startCap = l.endCap = caps == "none" ? 1 : caps == "square" ? 2 : 0;
  l.join = joints == "bevel" ? 1 : joints == "miter" ? 2 : 0;
  if (a.size() > 7) {
    const double ml = Num(vm, a, 7);
    if (std::isfinite(ml)) l.miterLimit = std::clamp(ml, 1.0, 255.0);
  }
  if (Drawing* d = Pen(vm, self)) drawing::SetLineStyle(*d, l);
  return {};
}

AsValue DrLineGradientStyle(Avm1& vm, const AsValue& self, AsArgs a) {
  FillStyle f;
  if (!GradientFill(vm, a, f)) return {};
  if (Drawing* d = Pen(vm, self)) drawing::SetLineFill(*d, f);
  return {};
}

AsValue DrMoveTo(Avm1& vm, const AsValue& self, AsArgs a) {
  double x, y;
  if (!Coord(vm, a, 0, x) || !Coord(vm, a, 1, y)) return {};
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  drawing::MoveTo(*d, x, y);
  return {};
}

AsValue DrLineTo(Avm1& vm, const AsValue& self, AsArgs a) {
  double x, y;
  if (!Coord(vm, a, 0, x) || !Coord(vm, a, 1, y)) return {};
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  drawing::LineTo(*d, x, y);
  return {};
}

AsValue DrCurveTo(Avm1& vm, const AsValue& self, AsArgs a) {
  double cx, cy, x, y;
  if (!Coord(vm, a, 0, cx) || !Coord(vm, a, 1, cy) || !Coord(vm, a, 2, x) || !Coord(vm, a, 3, y)) return {};
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  drawing::CurveTo(*d, cx, cy, x, y);
  return {};
}

AsValue DrEndFill(Avm1& vm, const AsValue& self, AsArgs) {
  Drawing* d = Pen(vm, self);
  if (!d) return {};
  drawing::EndFill(*d);
  return {};
}

AsValue DrClear(Avm1& vm, const AsValue& self, AsArgs) {
  if (TimelineState* tl = ClipTimeline(vm, self)) tl->drawing.reset();
  return {};
}

}  // namespace

void InstallDrawing(Avm1& vm) {
  const std::pair<const char*, AsNative> methods[] = {
      {"beginFill", DrBeginFill},
      {"beginGradientFill", DrBeginGradientFill},
      {"beginBitmapFill", DrBeginBitmapFill},
      {"lineStyle", DrLineStyle},
      {"lineGradientStyle", DrLineGradientStyle},
      {"moveTo", DrMoveTo},
      {"lineTo", DrLineTo},
      {"curveTo", DrCurveTo},
      {"endFill", DrEndFill},
      {"clear", DrClear},
  };
  for (auto& [n, f] : methods) vm.NewFunction(n, f, vm.ClipProto());
}

}  // namespace quarvel::player::avm1_builtins
