// Shape, MorphShape and Graphics: the drawing API over the pen shared with
// ActionScript 1/2 (drawing.h), and Sprite's and Shape's graphics.
#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {

// ---- Sprite, Shape, Graphics

// The same Graphics object on every read, also one taken before super().
NATIVE(SpGetGraphics) {
  FlashObject* f = As<FlashObject>(self);
  if (f && f->graphics.IsObject()) {
    if (GraphicsObject* g = As<GraphicsObject>(f->graphics)) g->handle = f->handle;
    return f->graphics;
  }
  const Value v = Value::Obj(m.Instantiate(B(m).graphicsClass));
  if (GraphicsObject* g = As<GraphicsObject>(v); g && f) g->handle = f->handle;
  if (f) f->graphics = v;
  return v;
}
Drawing* Pen(Machine& m, const Value& self) {
  GraphicsObject* f = As<GraphicsObject>(self);
  TimelineState* tl = f ? B(m).Timeline(f->handle) : nullptr;
  if (!tl) return nullptr;
  if (!tl->drawing) tl->drawing = std::make_shared<Drawing>();
  tl->drawing->version = NextDrawingVersion();
  return tl->drawing.get();
}
// Pixels to twips for the pen: NaN and infinities are 0, huge values saturate.
double PenTwips(double px) { return std::isfinite(px) ? std::clamp(px, -1e7, 1e7) * 20 : 0; }
double Px(Machine& m, std::span<Value> a, std::size_t i, double dflt = 0) {
  return PenTwips(avm2::ArgNum(m, a, i, dflt));
}
Rgba Color(Machine& m, std::span<Value> a, std::size_t ci, std::size_t ai) {
  const std::uint32_t c = m.ToUint(m.ArgOr(a, ci));
  double al = avm2::ArgNum(m, a, ai, 1.0);
  if (std::isnan(al)) al = 1.0;
  return Rgba{static_cast<std::uint8_t>((c >> 16) & 255), static_cast<std::uint8_t>((c >> 8) & 255),
              static_cast<std::uint8_t>(c & 255), static_cast<std::uint8_t>(std::clamp(al, 0.0, 1.0) * 255 + 0.5)};
}
NATIVE(GrBeginFill) {
  if (Drawing* d = Pen(m, self)) {
    FillStyle f;
    f.color = Color(m, a, 0, 1);
    drawing::StartFill(*d, f);
  }
  return Value();
}
Matrix GradientMatrix(Machine& m, const Value& v) {
  Matrix out;
  if (!v.IsObject()) return out;
  auto num = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return std::isfinite(d) ? d : 0.0;
  };
  out.scaleX = num("a"), out.rotateSkew0 = num("b"), out.rotateSkew1 = num("c"), out.scaleY = num("d");
  out.translateX = Twips(num("tx")), out.translateY = Twips(num("ty"));
  return out;
}
// A null alpha list makes every stop opaque; a null ratio list spreads
// the stops evenly, i * 255 / (n - 1).
bool Gradient(Machine& m, std::span<Value> a, FillStyle& f) {
  const std::string type = avm2::ArgStr(m, a, 0, "");
  auto* colors = avm2::AsArray(m.ArgOr(a, 1));
  auto* alphas = avm2::AsArray(m.ArgOr(a, 2));
  auto* ratios = avm2::AsArray(m.ArgOr(a, 3));
  if (!colors || (type != "linear" && type != "radial")) return false;
  if ((!alphas && !m.ArgOr(a, 2).IsNullish()) || (!ratios && !m.ArgOr(a, 3).IsNullish())) return false;
  std::size_t n = std::min(colors->elems.size(), std::size_t{15});
  if (alphas) n = std::min(n, alphas->elems.size());
  if (ratios) n = std::min(n, ratios->elems.size());
  if (n == 0) return false;
  f.kind = type == "linear" ? FillStyle::Kind::kLinear : FillStyle::Kind::kRadial;
  for (std::size_t i = 0; i < n; ++i) {
    const double r = ratios ? m.ToNumber(ratios->elems[i]) : n > 1 ? static_cast<double>(i * 255 / (n - 1)) : 0.0;
    Value ca[2] = {colors->elems[i], alphas ? alphas->elems[i] : Value::Number(1)};
    f.gradient.stops.push_back({static_cast<std::uint8_t>(std::isnan(r) ? 0 : std::clamp(r, 0.0, 255.0)),
                                Color(m, std::span<Value>(ca, 2), 0, 1)});
  }
  if (a.size() > 4 && a[4].IsObject()) {
    f.matrix = GradientMatrix(m, a[4]);
  } else {
    // The default box is 100 x 100 pixels at the origin.
    f.matrix.scaleX = f.matrix.scaleY = 100 / 1638.4;
    f.matrix.translateX = f.matrix.translateY = 50 * 20;
  }
  const std::string spread = avm2::ArgStr(m, a, 5, "pad");
  f.gradient.spread = spread == "reflect" ? 1 : spread == "repeat" ? 2 : 0;
  f.gradient.interpolation = avm2::ArgStr(m, a, 6, "rgb") == "linearRGB" ? 1 : 0;
  const double focal = avm2::ArgNum(m, a, 7, 0);
  if (f.kind == FillStyle::Kind::kRadial && std::isfinite(focal) && focal != 0) {
    f.kind = FillStyle::Kind::kFocal;
    f.gradient.focal = std::clamp(focal, -1.0, 1.0);
  }
  return true;
}
NATIVE(GrBeginGradientFill) {
  FillStyle f;
  if (!Gradient(m, a, f)) return Value();
  if (Drawing* d = Pen(m, self)) drawing::StartFill(*d, f);
  return Value();
}
// beginBitmapFill and lineBitmapStyle: (bitmap, matrix, repeat, smooth).
FillStyle BitmapFill(Machine& m, BitmapDataObject* bd, std::span<Value> a) {
  FillStyle f;
  f.kind = FillStyle::Kind::kBitmap;
  f.bitmap = bd->bitmap.get();  // kept by the binding while the movie runs
  // Bitmap pixels to twips, through the fill's matrix in pixels.
  const Matrix mx = a.size() > 1 && a[1].IsObject() ? GradientMatrix(m, a[1]) : Matrix{};
  f.matrix.scaleX = mx.scaleX * 20, f.matrix.rotateSkew0 = mx.rotateSkew0 * 20;
  f.matrix.rotateSkew1 = mx.rotateSkew1 * 20, f.matrix.scaleY = mx.scaleY * 20;
  f.matrix.translateX = mx.translateX, f.matrix.translateY = mx.translateY;
  f.repeat = a.size() < 3 || m.ToBoolean(a[2]);
  f.smooth = a.size() > 3 && m.ToBoolean(a[3]);
  return f;
}
NATIVE(GrBeginBitmapFill) {
  BitmapDataObject* bd = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  Drawing* d = Pen(m, self);
  if (!d || !bd || !bd->bitmap) return Value();
  drawing::StartFill(*d, BitmapFill(m, bd, a));
  return Value();
}
NATIVE(GrEndFill) {
  if (Drawing* d = Pen(m, self)) drawing::EndFill(*d);
  return Value();
}
NATIVE(GrLineStyle) {
  Drawing* d = Pen(m, self);
  if (!d) return Value();
  const double t = avm2::ArgNum(m, a, 0, std::nan(""));
  if (a.empty() || std::isnan(t)) {
    d->hasLineStyle = false;
    d->line = -1;
    return Value();
  }
  LineStyle l;
  l.width = std::max(20.0, std::clamp(t, 0.0, 255.0) * 20);
  l.color = Color(m, a, 1, 2);
  const std::string scale = avm2::ArgStr(m, a, 4, "normal");
  l.noHScale = scale == "none" || scale == "horizontal";
  l.noVScale = scale == "none" || scale == "vertical";
  const std::string caps = avm2::ArgStr(m, a, 5, "round"), joints = avm2::ArgStr(m, a, 6, "round");
  l.startCap = l.endCap = caps == "none" ? 1 : caps == "square" ? 2 : 0;
  l.join = joints == "bevel" ? 1 : joints == "miter" ? 2 : 0;
  const double ml = avm2::ArgNum(m, a, 7, 3);
  if (std::isfinite(ml)) l.miterLimit = std::clamp(ml, 1.0, 255.0);
  drawing::SetLineStyle(*d, l);
  return Value();
}
NATIVE(GrLineBitmapStyle) {
  BitmapDataObject* bd = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  Drawing* d = Pen(m, self);
  if (!d || !bd || !bd->bitmap) return Value();
  drawing::SetLineFill(*d, BitmapFill(m, bd, a));
  return Value();
}
// copyFrom(source): this drawing becomes a copy of the source's.
NATIVE(GrCopyFrom) {
  GraphicsObject* f = As<GraphicsObject>(self);
  GraphicsObject* from = ArgAs<GraphicsObject>(m, m.ArgOr(a, 0), "flash.display::Graphics");
  if (!from) m.ThrowError("TypeError", "Parameter sourceGraphics must be non-null.", 2007);
  TimelineState* to = f ? B(m).Timeline(f->handle) : nullptr;
  TimelineState* src = B(m).Timeline(from->handle);
  if (!to || to == src) return Value();
  if (src && src->drawing) {
    to->drawing = std::make_shared<Drawing>(*src->drawing);
    to->drawing->version = NextDrawingVersion();
  } else {
    to->drawing.reset();
  }
  return Value();
}
NATIVE(GrLineGradientStyle) {
  FillStyle f;
  if (!Gradient(m, a, f)) return Value();
  if (Drawing* d = Pen(m, self)) drawing::SetLineFill(*d, f);
  return Value();
}
NATIVE(GrMoveTo) {
  if (Drawing* d = Pen(m, self)) drawing::MoveTo(*d, Px(m, a, 0), Px(m, a, 1));
  return Value();
}
NATIVE(GrLineTo) {
  if (Drawing* d = Pen(m, self)) drawing::LineTo(*d, Px(m, a, 0), Px(m, a, 1));
  return Value();
}
NATIVE(GrCurveTo) {
  if (Drawing* d = Pen(m, self)) drawing::CurveTo(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3));
  return Value();
}
NATIVE(GrCubicCurveTo) {
  if (Drawing* d = Pen(m, self))
    drawing::CubicTo(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3), Px(m, a, 4), Px(m, a, 5));
  return Value();
}
NATIVE(GrDrawRect) {
  if (Drawing* d = Pen(m, self)) drawing::Rectangle(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3));
  return Value();
}
NATIVE(GrDrawRoundRect) {
  if (Drawing* d = Pen(m, self)) {
    const double ew = Px(m, a, 4);
    const double eh = a.size() > 5 && !a[5].IsUndefined() ? Px(m, a, 5) : ew;
    drawing::RoundRectangle(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3), ew, eh);
  }
  return Value();
}
// drawRoundRectComplex(x, y, width, height, topLeft, topRight, bottomLeft,
// bottomRight): each corner of its own radius.
NATIVE(GrDrawRoundRectComplex) {
  if (Drawing* d = Pen(m, self))
    drawing::RoundRectangleCorners(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3), Px(m, a, 4), Px(m, a, 5),
                                   Px(m, a, 6), Px(m, a, 7));
  return Value();
}
NATIVE(GrDrawCircle) {
  if (Drawing* d = Pen(m, self)) {
    const double r = Px(m, a, 2);
    drawing::Ellipse(*d, Px(m, a, 0) - r, Px(m, a, 1) - r, 2 * r, 2 * r);
  }
  return Value();
}
NATIVE(GrDrawEllipse) {
  if (Drawing* d = Pen(m, self)) drawing::Ellipse(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3));
  return Value();
}
NATIVE(GrClear) {
  GraphicsObject* f = As<GraphicsObject>(self);
  if (TimelineState* tl = f ? B(m).Timeline(f->handle) : nullptr) tl->drawing.reset();
  return Value();
}
// The fill in use drawn from here on by the non-zero winding rule.
void FillNonZero(Drawing& d) {
  if (!d.filling || d.geometry.layers.empty() || d.geometry.layers.back().fills.empty()) return;
  FillStyle f = d.geometry.layers.back().fills.front();
  if (f.nonZero) return;
  f.nonZero = true;
  const double x = d.penX, y = d.penY;
  drawing::StartFill(d, f);
  drawing::MoveTo(d, x, y);
}
NATIVE(GrDrawPath) {
  Drawing* d = Pen(m, self);
  auto* cmds = avm2::AsArray(m.ArgOr(a, 0));
  auto* data = avm2::AsArray(m.ArgOr(a, 1));
  if (!d || !cmds || !data) return Value();
  if (a.size() > 2 && !a[2].IsNullish() && m.ToString(a[2]) == "nonZero") FillNonZero(*d);
  // With no numbers the commands are ignored; with some, a command that
  // runs past their end is refused (what came before it is drawn).
  if (data->elems.empty()) return Value();
  std::size_t k = 0;
  auto next = [&] { return k < data->elems.size() ? PenTwips(m.ToNumber(data->elems[k++])) : 0.0; };
  static constexpr std::size_t kNumbers[] = {0, 2, 2, 4, 4, 4, 6};
  for (const Value& c : cmds->elems) {
    const int command = m.ToInt(c);
    if (command > 0 && command <= 6 && k + kNumbers[command] > data->elems.size())
      m.ThrowError("ArgumentError", "One of the parameters is invalid.", 2004);
    switch (command) {
      case 1: { const double x = next(), y = next(); drawing::MoveTo(*d, x, y); break; }
      case 2: { const double x = next(), y = next(); drawing::LineTo(*d, x, y); break; }
      case 3: { const double cx = next(), cy = next(), x = next(), y = next(); drawing::CurveTo(*d, cx, cy, x, y); break; }
      case 4: { const double x1 = next(), y1 = next(), x = next(), y = next(); drawing::MoveTo(*d, x, y); (void)x1; (void)y1; break; }
      case 5: { const double x1 = next(), y1 = next(), x = next(), y = next(); drawing::LineTo(*d, x, y); (void)x1; (void)y1; break; }
      case 6: {
        const double c1x = next(), c1y = next(), c2x = next(), c2y = next(), x = next(), y = next();
        drawing::CubicTo(*d, c1x, c1y, c2x, c2y, x, y);
        break;
      }
      default: break;
    }
  }
  return Value();
}
NATIVE(GrDrawTriangles) {
  Drawing* d = Pen(m, self);
  auto* verts = avm2::AsArray(m.ArgOr(a, 0));
  auto* idx = avm2::AsArray(m.ArgOr(a, 1));
  if (!d || !verts) return Value();
  // Flash refuses a culling it does not name, numbers that are not whole
  // points (whole triangles without indices) and indices that are not whole
  // triangles.
  const std::string culling = a.size() > 3 && !a[3].IsUndefined() ? (a[3].IsNull() ? "" : m.ToString(a[3])) : "none";
  const std::size_t numbers = verts->elems.size();
  if ((culling != "none" && culling != "positive" && culling != "negative") || numbers % (idx ? 2 : 6) != 0 ||
      (idx && idx->elems.size() % 3 != 0))
    m.ThrowError("ArgumentError", "One of the parameters is invalid.", 2004);
  auto vx = [&](std::size_t i) { return 2 * i + 1 < verts->elems.size() ? PenTwips(m.ToNumber(verts->elems[2 * i])) : 0.0; };
  auto vy = [&](std::size_t i) { return 2 * i + 1 < verts->elems.size() ? PenTwips(m.ToNumber(verts->elems[2 * i + 1])) : 0.0; };
  // culling: "positive" leaves out triangles turning one way, "negative" the other.
  // Each triangle fills on its own: a mesh of either turn has no holes.
  FillNonZero(*d);
  // uvtData with a bitmap fill: each triangle shows the part of the bitmap
  // its (u, v) corners name, stretched affinely; t (perspective) is left out.
  auto* uvt = avm2::AsArray(m.ArgOr(a, 2));
  std::optional<FillStyle> texture;
  const std::size_t vertexCount = verts->elems.size() / 2;
  if (uvt && d->filling && !d->geometry.layers.empty() && !d->geometry.layers.back().fills.empty() &&
      d->geometry.layers.back().fills.front().kind == FillStyle::Kind::kBitmap &&
      d->geometry.layers.back().fills.front().bitmap) {
    texture = d->geometry.layers.back().fills.front();
  }
  const std::size_t uvtStride = uvt && uvt->elems.size() >= 3 * vertexCount && vertexCount > 0 ? 3 : 2;
  auto uv = [&](std::size_t i, std::size_t k) {
    const std::size_t at = uvtStride * i + k;
    const double v = uvt && at < uvt->elems.size() ? m.ToNumber(uvt->elems[at]) : 0.0;
    return std::isfinite(v) ? std::clamp(v, -1e4, 1e4) : 0.0;
  };
  const std::size_t n = idx ? idx->elems.size() : verts->elems.size() / 2;
  for (std::size_t t = 0; t + 2 < n + 0 && t + 2 < 3 * 100000; t += 3) {
    std::size_t i0 = t, i1 = t + 1, i2 = t + 2;
    if (idx) i0 = m.ToUint(idx->elems[t]), i1 = m.ToUint(idx->elems[t + 1]), i2 = m.ToUint(idx->elems[t + 2]);
    const double turn = (vx(i1) - vx(i0)) * (vy(i2) - vy(i0)) - (vy(i1) - vy(i0)) * (vx(i2) - vx(i0));
    if ((culling == "positive" && turn >= 0) || (culling == "negative" && turn <= 0)) continue;
    if (texture) {
      // The affine map from bitmap pixels (u * width, v * height) to the corners.
      const double w = texture->bitmap->width, h = texture->bitmap->height;
      const double s0x = uv(i0, 0) * w, s0y = uv(i0, 1) * h;
      const double a1 = uv(i1, 0) * w - s0x, b1 = uv(i1, 1) * h - s0y;
      const double a2 = uv(i2, 0) * w - s0x, b2 = uv(i2, 1) * h - s0y;
      const double det = a1 * b2 - a2 * b1;
      if (det == 0) continue;
      const double c1 = vx(i1) - vx(i0), e1 = vy(i1) - vy(i0), c2 = vx(i2) - vx(i0), e2 = vy(i2) - vy(i0);
      FillStyle f = *texture;  // twips from bitmap pixels
      f.matrix.scaleX = (c1 * b2 - c2 * b1) / det;
      f.matrix.rotateSkew1 = (c2 * a1 - c1 * a2) / det;
      f.matrix.rotateSkew0 = (e1 * b2 - e2 * b1) / det;
      f.matrix.scaleY = (e2 * a1 - e1 * a2) / det;
      const double tx = vx(i0) - f.matrix.scaleX * s0x - f.matrix.rotateSkew1 * s0y;
      const double ty = vy(i0) - f.matrix.rotateSkew0 * s0x - f.matrix.scaleY * s0y;
      f.matrix.translateX = static_cast<std::int32_t>(std::lround(std::clamp(tx, -2e9, 2e9)));
      f.matrix.translateY = static_cast<std::int32_t>(std::lround(std::clamp(ty, -2e9, 2e9)));
      f.nonZero = true;
      drawing::StartFill(*d, f);
    }
    drawing::MoveTo(*d, vx(i0), vy(i0));
    drawing::LineTo(*d, vx(i1), vy(i1));
    drawing::LineTo(*d, vx(i2), vy(i2));
    drawing::LineTo(*d, vx(i0), vy(i0));
  }
  if (texture) drawing::StartFill(*d, *texture);
  return Value();
}


constexpr MemberRow kGraphicsRows[] = {
    {"flash.display::Shape", "graphics", Member::kGetter, SpGetGraphics},
    {"flash.display::Graphics", "beginFill", Member::kMethod, GrBeginFill},
    {"flash.display::Graphics", "beginGradientFill", Member::kMethod, GrBeginGradientFill},
    {"flash.display::Graphics", "beginBitmapFill", Member::kMethod, GrBeginBitmapFill},
    {"flash.display::Graphics", "endFill", Member::kMethod, GrEndFill},
    {"flash.display::Graphics", "lineStyle", Member::kMethod, GrLineStyle},
    {"flash.display::Graphics", "lineGradientStyle", Member::kMethod, GrLineGradientStyle},
    {"flash.display::Graphics", "moveTo", Member::kMethod, GrMoveTo},
    {"flash.display::Graphics", "lineTo", Member::kMethod, GrLineTo},
    {"flash.display::Graphics", "curveTo", Member::kMethod, GrCurveTo},
    {"flash.display::Graphics", "cubicCurveTo", Member::kMethod, GrCubicCurveTo},
    {"flash.display::Graphics", "drawRect", Member::kMethod, GrDrawRect},
    {"flash.display::Graphics", "drawRoundRect", Member::kMethod, GrDrawRoundRect},
    {"flash.display::Graphics", "drawRoundRectComplex", Member::kMethod, GrDrawRoundRectComplex},
    {"flash.display::Graphics", "drawCircle", Member::kMethod, GrDrawCircle},
    {"flash.display::Graphics", "drawEllipse", Member::kMethod, GrDrawEllipse},
    {"flash.display::Graphics", "clear", Member::kMethod, GrClear},
    {"flash.display::Graphics", "drawPath", Member::kMethod, GrDrawPath},
    {"flash.display::Graphics", "drawTriangles", Member::kMethod, GrDrawTriangles},
    {"flash.display::Graphics", "lineBitmapStyle", Member::kMethod, GrLineBitmapStyle},
    {"flash.display::Graphics", "copyFrom", Member::kMethod, GrCopyFrom},
};

constexpr ClassRow kGraphicsClasses[] = {
    {"flash.display", "Shape", "flash.display::DisplayObject", nullptr, nullptr, false, &As3Display::shapeClass},
    {"flash.display", "MorphShape", "flash.display::DisplayObject", nullptr, nullptr, false, &As3Display::morphClass},
    {"flash.display", "Graphics", "", Alloc<GraphicsObject>, nullptr, false, &As3Display::graphicsClass},
};

void InstallGraphics(As3Display& b) { Register(b, kGraphicsClasses, kGraphicsRows); }
}  // namespace quarvel::player::as3
