// BitmapData (premultiplied ARGB32 pixels on a Cairo surface) and Bitmap.
#include <cmath>

#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {

// ---- BitmapData (premultiplied ARGB32 pixels on a Cairo surface) and Bitmap

BitmapDataObject* SelfBitmap(Machine& m, const Value& self) {
  BitmapDataObject* f = As<BitmapDataObject>(self);
  if (!f || !f->bitmap) m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
  return f;
}
void Changed(Machine& m, BitmapDataObject* bd) {
  cairo_surface_mark_dirty(bd->bitmap->surface.get());
  bd->bitmap->tinted.clear();
  bd->bitmap->reduced.clear();
  if (!bd->changed) {
    bd->changed = true;
    B(m).bitmaps.changed.push_back(bd);
  }
}
// `empty` allows no pixels, which only a linked empty picture and its clones have.
std::shared_ptr<BitmapDef> NewPicture(Machine& m, int w, int h, bool empty = false) {
  As3Display& b = B(m);
  if (w < 0 || h < 0 || (!empty && (w == 0 || h == 0)) || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels ||
      b.bitmaps.bytes + static_cast<std::size_t>(w) * h * 4 > static_cast<std::size_t>(kMaxBitmapBytesTotal))
    m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
  auto def = std::make_shared<BitmapDef>();
  def->width = w;
  def->height = h;
  def->surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  b.bitmaps.bytes += static_cast<std::size_t>(w) * h * 4;
  b.bitmaps.defs.push_back(def);
  return def;
}
// The pixel engine's rounding, which is Flash's: 0x88FEBABE reads back as
// 0x88FDBABD, 0x80BBBBBB unchanged.
std::uint32_t Premultiply(std::uint32_t argb, bool transparent) {
  return transparent ? player::Premultiply(argb) : (argb | 0xFF000000u);
}
std::uint32_t Unpremultiply(std::uint32_t p) { return player::Unpremultiply(p); }
std::uint32_t* Row(BitmapDef& d, int y) {
  cairo_surface_t* s = d.surface.get();
  return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(s) + static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(s));
}
void Fill(BitmapDef& d, int x0, int y0, int w, int h, std::uint32_t premul) {
  cairo_surface_flush(d.surface.get());
  const int x1 = std::min(d.width, x0 + w), y1 = std::min(d.height, y0 + h);
  for (int y = std::max(0, y0); y < y1; ++y) {
    std::uint32_t* row = Row(d, y);
    for (int x = std::max(0, x0); x < x1; ++x) row[x] = premul;
  }
}
// A picture of the library (a class linked to a DefineBits symbol) copied in.
void CopyPicture(BitmapDef& to, const BitmapDef& from) {
  cairo_t* cr = cairo_create(to.surface.get());
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, from.surface.get(), 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
}
const BitmapDef* LinkedPicture(Machine& m, Class* cls) {
  As3Display& b = B(m);
  const auto [symbols, id] = b.SymbolOf(cls);
  const Character* d = symbols ? symbols->Find(id) : nullptr;
  if (d && d->kind == Character::Kind::kBitmap) return static_cast<const BitmapDef*>(d);
  return nullptr;
}
NATIVE(BdCtor) {
  BitmapDataObject* f = As<BitmapDataObject>(self);
  if (!f) return self;
  const BitmapDef* linked = LinkedPicture(m, f->cls);
  const auto [symbols, id] = B(m).SymbolOf(f->cls);
  const bool empty = !linked && symbols && symbols->emptyBitmaps.count(id);
  // int arguments: NaN converts to 0, an invalid size.
  const auto side = [&](std::size_t i) {
    const double d = avm2::ArgNum(m, a, i, 0);
    return static_cast<int>(std::isnan(d) ? 0.0 : std::clamp(d, -1.0, 1e6));
  };
  int w = side(0);
  int h = side(1);
  if (linked) w = linked->width, h = linked->height;
  if (empty) w = h = 0;
  f->transparent = a.size() < 3 || m.ToBoolean(a[2]);
  f->bitmap = NewPicture(m, w, h, empty);
  if (linked) CopyPicture(*f->bitmap, *linked);
  else Fill(*f->bitmap, 0, 0, w, h, Premultiply(a.size() > 3 ? m.ToUint(a[3]) : 0xFFFFFFFFu, f->transparent));
  cairo_surface_mark_dirty(f->bitmap->surface.get());
  return self;
}
NATIVE(BdWidth) { return Value::Int(SelfBitmap(m, self)->bitmap->width); }
NATIVE(BdHeight) { return Value::Int(SelfBitmap(m, self)->bitmap->height); }
NATIVE(BdTransparent) { return Value::Bool(SelfBitmap(m, self)->transparent); }
NATIVE(BdRect) {
  BitmapDataObject* f = SelfBitmap(m, self);
  return NewRect(m, 0, 0, f->bitmap->width, f->bitmap->height);
}
NATIVE(BdFillRect) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const PixelRect r = RectArg(m, m.ArgOr(a, 0));
  Fill(*f->bitmap, r.x, r.y, r.width, r.height, Premultiply(m.ToUint(m.ArgOr(a, 1)), f->transparent));
  Changed(m, f);
  return Value();
}
template <bool kAlpha>
Value BdSetPixel(Machine& m, Value self, std::span<Value> a) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const int x = m.ToInt(m.ArgOr(a, 0)), y = m.ToInt(m.ArgOr(a, 1));
  if (x < 0 || y < 0 || x >= f->bitmap->width || y >= f->bitmap->height) return Value();
  cairo_surface_flush(f->bitmap->surface.get());
  std::uint32_t c = m.ToUint(m.ArgOr(a, 2));
  if (!kAlpha) c = (Unpremultiply(Row(*f->bitmap, y)[x]) & 0xFF000000u) | (c & 0xFFFFFF);
  Row(*f->bitmap, y)[x] = Premultiply(c, f->transparent);
  Changed(m, f);
  return Value();
}
template <bool kAlpha>
Value BdGetPixel(Machine& m, Value self, std::span<Value> a) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const int x = m.ToInt(m.ArgOr(a, 0)), y = m.ToInt(m.ArgOr(a, 1));
  if (x < 0 || y < 0 || x >= f->bitmap->width || y >= f->bitmap->height) return Value::Int(0);
  cairo_surface_flush(f->bitmap->surface.get());
  const std::uint32_t c = Unpremultiply(Row(*f->bitmap, y)[x]);
  return Value::Number(kAlpha ? c : c & 0xFFFFFF);
}
NATIVE(BdClone) {
  BitmapDataObject* f = SelfBitmap(m, self);
  // A plain BitmapData, whatever subclass the original is.
  const Value copy = Value::Obj(m.Instantiate(m.FindClass("flash.display::BitmapData")));
  BitmapDataObject* c = As<BitmapDataObject>(copy);
  if (!c) return Value::Null();
  c->transparent = f->transparent;
  c->bitmap = NewPicture(m, f->bitmap->width, f->bitmap->height, true);
  cairo_surface_flush(f->bitmap->surface.get());
  CopyPicture(*c->bitmap, *f->bitmap);
  return copy;
}
// copyPixels(source, rect, point, alphaBitmapData, alphaPoint, mergeAlpha)
// on the shared pixel engine.
NATIVE(BdCopyPixels) {
  BitmapDataObject* f = SelfBitmap(m, self);
  BitmapDataObject* src = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  const Value r = m.ArgOr(a, 1), p = m.ArgOr(a, 2);
  if (!src || !src->bitmap || !r.IsObject() || !p.IsObject()) m.ThrowError("TypeError", "Parameter must be non-null.", 2007);
  BitmapDataObject* alpha = a.size() > 3 ? As<BitmapDataObject>(a[3]) : nullptr;
  const Value alphaPoint = m.ArgOr(a, 4);
  const bool merge = a.size() > 5 && m.ToBoolean(a[5]);
  auto whole = [&](const Value& o, const char* n) {
    const double d = o.IsObject() ? GetN(m, o, n) : 0;
    return std::isfinite(d) ? static_cast<int>(std::clamp(std::floor(d), -1e7, 1e7)) : 0;
  };
  // One engine for a copy within a picture, which orders overlapping rows.
  const auto to = PixelEngine(m, f), from = src == f ? to : PixelEngine(m, src);
  const auto mask = alpha && alpha->bitmap ? PixelEngine(m, alpha) : nullptr;
  to->CopyPixels(*from, RectArg(m, r), whole(p, "x"), whole(p, "y"), mask.get(), whole(alphaPoint, "x"),
                 whole(alphaPoint, "y"), merge);
  Changed(m, f);
  return Value();
}
NATIVE(BdDispose) {
  if (BitmapDataObject* f = As<BitmapDataObject>(self)) f->bitmap.reset();
  return Value();
}
// The shared pixel engine (as ActionScript 2 has it) on this picture.
std::shared_ptr<BitmapData> PixelEngine(Machine& m, BitmapDataObject* f) {
  cairo_surface_flush(f->bitmap->surface.get());
  auto e = BitmapData::Wrap(f->bitmap, f->transparent);
  if (!e) m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
  return e;
}
PixelRect RectArg(Machine& m, const Value& r) {
  if (!r.IsObject()) m.ThrowError("TypeError", "Parameter rect must be non-null.", 2007);
  // Flash rounds the edges to the nearest pixel, halves to the even one:
  // (1.6, 1.6, 1.8, 2) covers column 2, rows 2 and 3.
  auto edge = [](double d) { return std::isfinite(d) ? static_cast<int>(std::nearbyint(std::clamp(d, -1e7, 1e7))) : 0; };
  const double x = GetN(m, r, "x"), y = GetN(m, r, "y");
  const int x0 = edge(x), y0 = edge(y);
  return PixelRect{x0, y0, edge(x + GetN(m, r, "width")) - x0, edge(y + GetN(m, r, "height")) - y0};
}
NATIVE(BdColorTransform) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const PixelRect r = RectArg(m, m.ArgOr(a, 0));
  const Value ct = m.ArgOr(a, 1);
  if (!ct.IsObject()) m.ThrowError("TypeError", "Parameter colorTransform must be non-null.", 2007);
  PixelEngine(m, f)->ApplyColorTransform(r, ScriptColorTransform(m, ct));
  Changed(m, f);
  return Value();
}
NATIVE(BdNoise) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const int low = a.size() > 1 ? std::clamp(m.ToInt(a[1]), 0, 255) : 0;
  const int high = a.size() > 2 ? std::clamp(m.ToInt(a[2]), 0, 255) : 255;
  const int channels = a.size() > 3 ? m.ToInt(a[3]) & 15 : 7;
  PixelEngine(m, f)->Noise(m.ToInt(m.ArgOr(a, 0)), low, high, channels, a.size() > 4 && m.ToBoolean(a[4]));
  Changed(m, f);
  return Value();
}
NATIVE(BdPerlinNoise) {
  BitmapDataObject* f = SelfBitmap(m, self);
  auto num = [&](std::size_t i) {
    const double d = i < a.size() ? m.ToNumber(a[i]) : 0;
    return std::isfinite(d) ? d : 0.0;
  };
  std::vector<std::pair<double, double>> offsets;
  if (avm2::ArrayObject* arr = a.size() > 8 ? avm2::AsArray(a[8]) : nullptr)
    for (const Value& p : arr->elems) offsets.emplace_back(GetN(m, p, "x"), GetN(m, p, "y"));
  const int octaves = std::clamp(static_cast<int>(num(2)), 0, 32);
  PixelEngine(m, f)->PerlinNoise(num(0), num(1), octaves, m.ToInt(m.ArgOr(a, 3)), a.size() > 4 && m.ToBoolean(a[4]),
                                 a.size() > 5 && m.ToBoolean(a[5]), a.size() > 6 ? m.ToInt(a[6]) & 15 : 7,
                                 a.size() > 7 && m.ToBoolean(a[7]), offsets);
  Changed(m, f);
  return Value();
}
NATIVE(BdFloodFill) {
  BitmapDataObject* f = SelfBitmap(m, self);
  PixelEngine(m, f)->FloodFill(m.ToInt(m.ArgOr(a, 0)), m.ToInt(m.ArgOr(a, 1)), m.ToUint(m.ArgOr(a, 2)));
  Changed(m, f);
  return Value();
}
NATIVE(BdScroll) {
  BitmapDataObject* f = SelfBitmap(m, self);
  PixelEngine(m, f)->Scroll(m.ToInt(m.ArgOr(a, 0)), m.ToInt(m.ArgOr(a, 1)));
  Changed(m, f);
  return Value();
}
// The rectangle the filter's output covers for a source rectangle: grown by
// the blur on each axis, and for an outer shadow by its offset too.
// `casts`: whether the filter draws outside the source at all.
struct FilterReach {
  double x0, y0, x1, y1;
  bool casts;
};
FilterReach FilterOutputRect(const Filter& flt, double x0, double y0, double x1, double y1) {
  const auto blurOf = [&](double size) {
    Filter one = flt;
    one.blurX = one.blurY = size;
    one.distance = 0;
    return FilterMargin({one}, 1.0);
  };
  const double bx = blurOf(flt.blurX), by = blurOf(flt.blurY);
  const bool shadow = flt.kind == Filter::Kind::kDropShadow || flt.kind == Filter::Kind::kGlow ||
                      flt.kind == Filter::Kind::kGradientGlow || flt.kind == Filter::Kind::kBevel ||
                      flt.kind == Filter::Kind::kGradientBevel;
  if ((shadow && flt.inner) || (flt.kind != Filter::Kind::kBlur && !shadow)) return {x0, y0, x1, y1, false};
  double dx = 0, dy = 0;
  if (shadow) {
    dx = std::cos(flt.angle) * flt.distance;
    dy = std::sin(flt.angle) * flt.distance;
  }
  // A bevel casts both ways; a shadow only along its angle.
  const bool both = flt.kind == Filter::Kind::kBevel || flt.kind == Filter::Kind::kGradientBevel;
  return {std::floor(std::min(x0 - bx, x0 + (both ? -std::fabs(dx) : dx) - bx)),
          std::floor(std::min(y0 - by, y0 + (both ? -std::fabs(dy) : dy) - by)),
          std::ceil(std::max(x1 + bx, x1 + (both ? std::fabs(dx) : dx) + bx)),
          std::ceil(std::max(y1 + by, y1 + (both ? std::fabs(dy) : dy) + by)), shadow};
}
// A DisplacementMapFilter over the source rectangle: each pixel comes from
// the source moved by ((component - 128) * scale) / 256 pixels, the
// components read from the map placed at mapPoint (no move outside it). A
// move out of the rectangle wraps, clamps, keeps the pixel unmoved
// ("ignore") or gives the filter's colour ("color").
void ApplyDisplacement(Machine& m, BitmapDataObject* f, BitmapDataObject* src, const Value& filter, const PixelRect& from,
                       int toX, int toY) {
  BitmapDataObject* mapObj = ArgAs<BitmapDataObject>(m, m.GetProperty(filter, "mapBitmap"), "flash.display::BitmapData");
  const auto source = PixelEngine(m, src);
  const auto dest = PixelEngine(m, f);
  const auto map = mapObj && mapObj->bitmap ? PixelEngine(m, mapObj) : nullptr;
  const PixelRect r = from.Intersect(source->Bounds());
  if (r.Empty()) return;
  const Value point = m.GetProperty(filter, "mapPoint");
  const int mapX = point.IsObject() ? m.ToInt(m.GetProperty(point, "x")) : 0;
  const int mapY = point.IsObject() ? m.ToInt(m.GetProperty(point, "y")) : 0;
  const auto channelShift = [](std::uint32_t channel) {
    return channel == 1 ? 16 : channel == 2 ? 8 : channel == 4 ? 0 : channel == 8 ? 24 : -1;
  };
  const int shiftX = channelShift(m.ToUint(m.GetProperty(filter, "componentX")));
  const int shiftY = channelShift(m.ToUint(m.GetProperty(filter, "componentY")));
  const double scaleX = m.ToNumber(m.GetProperty(filter, "scaleX")), scaleY = m.ToNumber(m.GetProperty(filter, "scaleY"));
  const std::string mode = m.ToString(m.GetProperty(filter, "mode"));
  const double alpha = std::clamp(m.ToNumber(m.GetProperty(filter, "alpha")), 0.0, 1.0);
  const std::uint32_t fill = (static_cast<std::uint32_t>(std::lround((std::isnan(alpha) ? 0 : alpha) * 255)) << 24) |
                             (m.ToUint(m.GetProperty(filter, "color")) & 0xFFFFFF);
  // The source first: it may be the destination too.
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(r.width) * r.height);
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x) pixels[static_cast<std::size_t>(y) * r.width + x] = source->GetPixel32(r.x + x, r.y + y);
  const auto offset = [](std::uint32_t mapPixel, int shift, double scale) {
    // A channel that is none of the four reads as 0.
    const double c = shift < 0 ? 0.0 : static_cast<double>((mapPixel >> shift) & 0xFF);
    const double d = std::floor((c - 128) * scale / 256);
    return std::isfinite(d) ? std::clamp(d, -1e6, 1e6) : 0.0;
  };
  for (int y = 0; y < r.height; ++y) {
    for (int x = 0; x < r.width; ++x) {
      const int mx = x - mapX, my = y - mapY;
      double dx = 0, dy = 0;
      if (map && mx >= 0 && my >= 0 && mx < map->Width() && my < map->Height()) {
        const std::uint32_t mp = map->GetPixel32(mx, my);
        dx = offset(mp, shiftX, scaleX);
        dy = offset(mp, shiftY, scaleY);
      }
      auto sx = static_cast<long long>(x + dx), sy = static_cast<long long>(y + dy);
      std::uint32_t out;
      if (sx >= 0 && sy >= 0 && sx < r.width && sy < r.height) {
        out = pixels[static_cast<std::size_t>(sy) * r.width + static_cast<std::size_t>(sx)];
      } else if (mode == "clamp") {
        sx = std::clamp<long long>(sx, 0, r.width - 1), sy = std::clamp<long long>(sy, 0, r.height - 1);
        out = pixels[static_cast<std::size_t>(sy) * r.width + static_cast<std::size_t>(sx)];
      } else if (mode == "ignore") {
        out = pixels[static_cast<std::size_t>(y) * r.width + x];
      } else if (mode == "color") {
        out = fill;
      } else {  // wrap
        sx = ((sx % r.width) + r.width) % r.width, sy = ((sy % r.height) + r.height) % r.height;
        out = pixels[static_cast<std::size_t>(sy) * r.width + static_cast<std::size_t>(sx)];
      }
      const int tx = toX + (r.x - from.x) + x, ty = toY + (r.y - from.y) + y;
      if (tx >= 0 && ty >= 0 && tx < dest->Width() && ty < dest->Height()) dest->SetPixel32(tx, ty, out);
    }
  }
  Changed(m, f);
}
NATIVE(BdApplyFilter) {
  BitmapDataObject* f = SelfBitmap(m, self);
  BitmapDataObject* src = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  const Value r = m.ArgOr(a, 1), p = m.ArgOr(a, 2);
  if (!src || !src->bitmap || !r.IsObject() || !p.IsObject()) m.ThrowError("TypeError", "Parameter must be non-null.", 2007);
  if (Object* o = m.ArgOr(a, 3).AsObject(); o && o->cls && o->cls->name == "DisplacementMapFilter") {
    const PixelRect from = RectArg(m, r);
    ApplyDisplacement(m, f, src, m.ArgOr(a, 3), from, static_cast<int>(std::floor(GetN(m, p, "x"))),
                      static_cast<int>(std::floor(GetN(m, p, "y"))));
    return Value();
  }
  Filter flt;
  if (!ToFilter(m, m.ArgOr(a, 3), flt)) return Value();
  const int sx = static_cast<int>(std::floor(GetN(m, r, "x"))), sy = static_cast<int>(std::floor(GetN(m, r, "y")));
  const int w = static_cast<int>(std::ceil(GetN(m, r, "width"))), h = static_cast<int>(std::ceil(GetN(m, r, "height")));
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels) return Value();
  // A shadow or glow also covers what it casts around the source rectangle,
  // and replaces the destination there too (a knocked-out shadow clears it).
  const FilterReach reach = FilterOutputRect(flt, sx, sy, sx + w, sy + h);
  int left = 0, top = 0, ow = w, oh = h;
  // (A shadow thrown absurdly far is left within the source rectangle.)
  if (reach.casts && (reach.x1 - reach.x0) * (reach.y1 - reach.y0) <= static_cast<double>(kMaxBitmapPixels)) {
    left = static_cast<int>(sx - reach.x0), top = static_cast<int>(sy - reach.y0);
    ow = static_cast<int>(reach.x1 - reach.x0), oh = static_cast<int>(reach.y1 - reach.y0);
  }
  // The source rectangle alone on a picture of its own, filtered, then put in place.
  cairo_surface_flush(src->bitmap->surface.get());
  SurfacePtr tmp(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, ow, oh));
  cairo_t* cr = cairo_create(tmp.get());
  cairo_rectangle(cr, left, top, w, h);
  cairo_clip(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, src->bitmap->surface.get(), left - sx, top - sy);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(tmp.get());
  ApplyFilters(tmp.get(), {flt}, 1.0, true);
  cairo_surface_mark_dirty(tmp.get());
  cr = cairo_create(f->bitmap->surface.get());
  const double dx = std::floor(GetN(m, p, "x")) - left, dy = std::floor(GetN(m, p, "y")) - top;
  cairo_rectangle(cr, dx, dy, ow, oh);
  cairo_clip(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, tmp.get(), dx, dy);
  cairo_paint(cr);
  cairo_destroy(cr);
  Changed(m, f);
  return Value();
}
NATIVE(BdGenerateFilterRect) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const Value r = m.ArgOr(a, 0);
  if (!r.IsObject()) m.ThrowError("TypeError", "Parameter sourceRect must be non-null.", 2007);
  // A shader may draw anywhere: Flash answers the whole picture.
  if (const Object* o = m.ArgOr(a, 1).AsObject(); o && o->cls && o->cls->name == "ShaderFilter" && f->bitmap)
    return NewRect(m, 0, 0, f->bitmap->width, f->bitmap->height);
  const double x0 = GetN(m, r, "x"), y0 = GetN(m, r, "y");
  const double x1 = x0 + GetN(m, r, "width"), y1 = y0 + GetN(m, r, "height");
  Filter flt;
  if (!ToFilter(m, m.ArgOr(a, 1), flt)) return NewRect(m, x0, y0, x1 - x0, y1 - y0);
  const FilterReach out = FilterOutputRect(flt, x0, y0, x1, y1);
  return NewRect(m, out.x0, out.y0, out.x1 - out.x0, out.y1 - out.y0);
}
// draw(source, matrix, colorTransform, blendMode, clipRect, smoothing) and
// drawWithQuality(..., quality): a BitmapData, or a display object's content
// without its own placement, rendered as the stage renders it.
// The whole pixels a box (x0, y0)-(x1, y1) can touch once mapped by `mx`,
// with a pixel's slack for smoothing and strokes' rounding.
PixelRect ReachOf(const cairo_matrix_t& mx, double x0, double y0, double x1, double y1) {
  double xs[4] = {x0, x1, x0, x1}, ys[4] = {y0, y0, y1, y1};
  for (int k = 0; k < 4; ++k) cairo_matrix_transform_point(&mx, &xs[k], &ys[k]);
  const double lx = std::min({xs[0], xs[1], xs[2], xs[3]}), hx = std::max({xs[0], xs[1], xs[2], xs[3]});
  const double ly = std::min({ys[0], ys[1], ys[2], ys[3]}), hy = std::max({ys[0], ys[1], ys[2], ys[3]});
  if (!std::isfinite(lx) || !std::isfinite(hx) || !std::isfinite(ly) || !std::isfinite(hy)) return {0, 0, 1 << 30, 1 << 30};
  const double cap = 1e9;
  const int ix = static_cast<int>(std::clamp(std::floor(lx) - 2, -cap, cap));
  const int iy = static_cast<int>(std::clamp(std::floor(ly) - 2, -cap, cap));
  const int jx = static_cast<int>(std::clamp(std::ceil(hx) + 2, -cap, cap));
  const int jy = static_cast<int>(std::clamp(std::ceil(hy) + 2, -cap, cap));
  return {ix, iy, std::max(0, jx - ix), std::max(0, jy - iy)};
}
Value DrawInto(Machine& m, const Value& self, std::span<Value> a, Quality quality) {
  BitmapDataObject* f = SelfBitmap(m, self);
  const Value source = m.ArgOr(a, 0);
  // IBitmapDrawable: a BitmapData or a display object.
  BitmapDataObject* srcBitmap = As<BitmapDataObject>(source);
  DisplayObj* src = srcBitmap ? nullptr : ArgAs<DisplayObj>(m, source, "flash.display::IBitmapDrawable");
  if (!src && !srcBitmap) m.ThrowError("TypeError", "Parameter source must be non-null.", 2007);
  cairo_matrix_t mx;
  cairo_matrix_init_identity(&mx);
  if (a.size() > 1 && a[1].IsObject()) {
    auto num = [&](const char* n, double dflt) {
      const double d = GetN(m, a[1], n);
      return std::isfinite(d) ? d : dflt;
    };
    cairo_matrix_init(&mx, num("a", 1), num("b", 0), num("c", 0), num("d", 1), num("tx", 0), num("ty", 0));
  }
  const ColorTransform cx = a.size() > 2 && a[2].IsObject() ? ScriptColorTransform(m, a[2]) : ColorTransform{};
  const int blendMode = a.size() > 3 && !a[3].IsNullish() ? BlendModeNumber(m.ToString(a[3])) : -1;
  const cairo_operator_t op = BlendOperator(blendMode);
  PixelRect clip;
  const bool clipped = a.size() > 4 && a[4].IsObject();
  if (clipped) {
    clip.x = static_cast<int>(std::floor(GetN(m, a[4], "x")));
    clip.y = static_cast<int>(std::floor(GetN(m, a[4], "y")));
    clip.width = static_cast<int>(std::ceil(GetN(m, a[4], "width")));
    clip.height = static_cast<int>(std::ceil(GetN(m, a[4], "height")));
  }
  const bool smooth = a.size() > 5 && m.ToBoolean(a[5]);
  cairo_surface_t* target = f->bitmap->surface.get();
  cairo_surface_flush(target);
  if (srcBitmap) {
    if (!srcBitmap->bitmap) m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
    // "alpha" and "erase" act on a display object's layer; a bare picture
    // drawn with them changes nothing.
    if (a.size() > 3 && !a[3].IsNullish()) {
      const std::string mode = m.ToString(a[3]);
      if (mode == "alpha" || mode == "erase") return Value();
    }
    DrawBitmapOnto(target, f->transparent, srcBitmap->bitmap->surface.get(), mx, cx, op, clipped ? &clip : nullptr, smooth,
                   blendMode);
    Changed(m, f);
    return Value();
  }
  Instance* node = B(m).Node(src->handle);
  if (!node) return Value();
  std::vector<DrawnItem> items;
  const Instance* mask = node->maskSerial ? B(m).stage.Find(node->maskSerial) : nullptr;
  Matrix maskMatrix;
  if (mask) {
    const cairo_matrix_t w = World(B(m), node->maskSerial);
    maskMatrix.scaleX = w.xx, maskMatrix.rotateSkew0 = w.yx, maskMatrix.rotateSkew1 = w.xy, maskMatrix.scaleY = w.yy;
    maskMatrix.translateX = static_cast<std::int32_t>(std::lround(std::clamp(w.x0, -2e9, 2e9)));
    maskMatrix.translateY = static_cast<std::int32_t>(std::lround(std::clamp(w.y0, -2e9, 2e9)));
  }
  B(m).BeforeDraw();
  const auto seen = B(m).stage.Root().perspective;
  ListDrawnItemsOf(*node, items, mask, maskMatrix, seen ? &*seen : nullptr);
  cairo_matrix_t twips, base;
  cairo_matrix_init_scale(&twips, 1 / 20.0, 1 / 20.0);
  cairo_matrix_multiply(&base, &twips, &mx);
  // The layer covers what the object can reach in the bitmap, so that
  // drawing a small object (a particle, a sprite) into a big bitmap costs
  // its own size. Filters reach out, and alpha and erase act on the
  // whole bitmap: those take the whole.
  PixelRect box{0, 0, f->bitmap->width, f->bitmap->height};
  // Planes in perspective reach past their flat bounds.
  const bool reachesOut = std::any_of(items.begin(), items.end(),
                                      [](const DrawnItem& i) { return !i.filters.empty() || i.projection; });
  Rect local;
  if (!reachesOut && op != CAIRO_OPERATOR_DEST_IN && op != CAIRO_OPERATOR_DEST_OUT &&
      node->serial != kRootClip && B(m).stage.Bounds(*node, local, true)) {
    box = box.Intersect(ReachOf(base, local.xmin, local.ymin, local.xmax, local.ymax));
    if (clipped) box = box.Intersect(clip);
    if (box.Empty()) return Value();
  }
  SurfacePtr layer(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, box.width, box.height));
  if (cairo_surface_status(layer.get()) != CAIRO_STATUS_SUCCESS) return Value();
  cairo_surface_set_device_offset(layer.get(), -box.x, -box.y);
  cairo_t* cr = cairo_create(layer.get());
  RenderOptions options;
  options.quality = quality;
  // Filters inside spread by the scale the matrix gives.
  options.stageScale = std::sqrt(std::fabs(base.xx * base.yy - base.xy * base.yx));
  RenderItems(cr, B(m).lib, items, base, options);
  cairo_destroy(cr);
  cairo_surface_flush(layer.get());
  CompositeOntoBitmap(target, f->transparent, layer.get(), cx, op, clipped ? &clip : nullptr, blendMode);
  Changed(m, f);
  return Value();
}
// The stage's quality, as scripts read it (HIGH).
constexpr Quality kStageQuality = Quality::qHigh;
NATIVE(BdDraw) { return DrawInto(m, self, a, kStageQuality); }
NATIVE(BdDrawWithQuality) {
  const std::string q = a.size() > 6 && !a[6].IsNullish() ? m.ToString(a[6]) : "";
  Quality quality = kStageQuality;
  if (q == "low") quality = Quality::qLow;
  else if (q == "medium") quality = Quality::qMedium;
  else if (q == "high") quality = Quality::qHigh;
  else if (q == "best" || q.rfind("16x16", 0) == 0 || q.rfind("8x8", 0) == 0) quality = Quality::qBest;
  return DrawInto(m, self, a, quality);
}
// PixelSnapping's three names; Flash refuses any other.
std::string SnappingArg(Machine& m, const Value& v) {
  std::string s = m.ToString(v);
  if (s != "never" && s != "always" && s != "auto")
    m.ThrowError("ArgumentError", "Parameter pixelSnapping must be one of the accepted values.", 2008);
  return s;
}
NATIVE(BitmapCtor) {
  FlashObject* f = As<FlashObject>(self);
  BitmapDataObject* bd = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  if (!f || f->handle != kNoClip) return self;
  As3Display& b = B(m);
  // A Bitmap is a picture, never a timeline: its node is made for its picture.
  const Character* def = &b.bitmaps.emptyShape;
  if (bd && bd->bitmap) def = bd->bitmap.get();
  else if (const BitmapDef* linked = LinkedPicture(m, f->cls)) def = linked;
  Instance* inst = b.NewNode(def);
  if (!inst) m.ThrowError("Error", "Too many display objects.", 1000);
  f->handle = inst->serial;
  b.objects[f->handle] = f;
  if (bd && bd->bitmap) {
    bd->shownBy.push_back(f->handle);
    f->bitmapData = Value::Obj(bd);
  }
  // new Bitmap(data, pixelSnapping, smoothing)
  if (a.size() > 1 && !a[1].IsNullish()) f->message = SnappingArg(m, a[1]);
  inst->bitmapSmoothing = m.ToBoolean(m.ArgOr(a, 2));
  return self;
}
NATIVE(BitmapGetSmoothing) {
  Instance* i = SelfNode(m, self);
  return Value::Bool(i && i->bitmapSmoothing);
}
NATIVE(BitmapSetSmoothing) {
  if (Instance* i = SelfNode(m, self)) i->bitmapSmoothing = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
// pixelSnapping: kept (in the object's text slot) and read back; drawing does not snap.
NATIVE(BitmapGetSnapping) {
  FlashObject* f = As<FlashObject>(self);
  return m.Str(f && !f->message.empty() ? f->message : "auto");
}
NATIVE(BitmapSetSnapping) {
  if (FlashObject* f = As<FlashObject>(self)) f->message = SnappingArg(m, m.ArgOr(a, 0));
  return Value();
}
NATIVE(BitmapGetData) {
  FlashObject* f = As<FlashObject>(self);
  if (!f) return Value::Null();
  if (!f->bitmapData.IsObject()) {
    // A bitmap symbol placed or made from its class: its pixels as BitmapData.
    Instance* i = B(m).Node(f->handle);
    if (!i || !i->def || i->def->kind != Character::Kind::kBitmap) return Value::Null();
    const auto* pic = static_cast<const BitmapDef*>(i->def);
    BitmapDataObject* bd = As<BitmapDataObject>(Value::Obj(m.Instantiate(m.FindClass("flash.display::BitmapData"))));
    if (!bd) return Value::Null();
    bd->bitmap = NewPicture(m, pic->width, pic->height);
    CopyPicture(*bd->bitmap, *pic);
    i->def = bd->bitmap.get();
    bd->shownBy.push_back(f->handle);
    f->bitmapData = Value::Obj(bd);
  }
  return f->bitmapData;
}
NATIVE(BitmapSetData) {
  FlashObject* f = As<FlashObject>(self);
  BitmapDataObject* bd = ArgAs<BitmapDataObject>(m, m.ArgOr(a, 0), "flash.display::BitmapData");
  Instance* i = f ? B(m).Node(f->handle) : nullptr;
  if (!f || !i) return Value();
  if (bd && bd->bitmap) {
    i->def = bd->bitmap.get();
    bd->shownBy.push_back(f->handle);
    f->bitmapData = Value::Obj(bd);
  } else {
    i->def = &B(m).bitmaps.emptyShape;
    f->bitmapData = Value::Null();
  }
  i->sprite.reset();
  return Value();
}

void As3Display::ShowChangedBitmaps() {
  const auto list = bitmaps.changed;
  bitmaps.changed.clear();
  for (BitmapDataObject* bd : list) {
    bd->changed = false;
    if (!bd->bitmap) continue;
    // A new definition with the same picture: the drawn list differs, so
    // the next paint draws the new pixels.
    auto fresh = std::make_shared<BitmapDef>();
    fresh->width = bd->bitmap->width;
    fresh->height = bd->bitmap->height;
    fresh->surface.reset(cairo_surface_reference(bd->bitmap->surface.get()));
    bd->bitmap = fresh;
    bitmaps.defs.push_back(fresh);
    for (ClipHandle h : bd->shownBy)
      if (Instance* i = Node(h); i && i->def && i->def->kind == Character::Kind::kBitmap) i->def = fresh.get();
  }
}


constexpr MemberRow kBitmapsRows[] = {
    {"flash.display::Bitmap", "bitmapData", Member::kGetter, BitmapGetData},
    {"flash.display::Bitmap", "bitmapData", Member::kSetter, BitmapSetData},
    {"flash.display::Bitmap", "smoothing", Member::kGetter, BitmapGetSmoothing},
    {"flash.display::Bitmap", "smoothing", Member::kSetter, BitmapSetSmoothing},
    {"flash.display::Bitmap", "pixelSnapping", Member::kGetter, BitmapGetSnapping},
    {"flash.display::Bitmap", "pixelSnapping", Member::kSetter, BitmapSetSnapping},
    {"flash.display::BitmapData", "width", Member::kGetter, BdWidth},
    {"flash.display::BitmapData", "height", Member::kGetter, BdHeight},
    {"flash.display::BitmapData", "transparent", Member::kGetter, BdTransparent},
    {"flash.display::BitmapData", "rect", Member::kGetter, BdRect},
    {"flash.display::BitmapData", "fillRect", Member::kMethod, BdFillRect},
    {"flash.display::BitmapData", "setPixel", Member::kMethod, BdSetPixel<false>},
    {"flash.display::BitmapData", "setPixel32", Member::kMethod, BdSetPixel<true>},
    {"flash.display::BitmapData", "getPixel", Member::kMethod, BdGetPixel<false>},
    {"flash.display::BitmapData", "getPixel32", Member::kMethod, BdGetPixel<true>},
    {"flash.display::BitmapData", "clone", Member::kMethod, BdClone},
    {"flash.display::BitmapData", "copyPixels", Member::kMethod, BdCopyPixels},
    {"flash.display::BitmapData", "dispose", Member::kMethod, BdDispose},
    {"flash.display::BitmapData", "draw", Member::kMethod, BdDraw},
    {"flash.display::BitmapData", "drawWithQuality", Member::kMethod, BdDrawWithQuality},
    {"flash.display::BitmapData", "applyFilter", Member::kMethod, BdApplyFilter},
    {"flash.display::BitmapData", "generateFilterRect", Member::kMethod, BdGenerateFilterRect},
    {"flash.display::BitmapData", "colorTransform", Member::kMethod, BdColorTransform},
    {"flash.display::BitmapData", "noise", Member::kMethod, BdNoise},
    {"flash.display::BitmapData", "perlinNoise", Member::kMethod, BdPerlinNoise},
    {"flash.display::BitmapData", "floodFill", Member::kMethod, BdFloodFill},
    {"flash.display::BitmapData", "scroll", Member::kMethod, BdScroll},
    {"flash.display::BitmapData", "lock", Member::kMethod, Noop},
    {"flash.display::BitmapData", "unlock", Member::kMethod, Noop},
};

// The settings BitmapData.encode reads: PNG's fast compression, JPEG's
// quality 1..100, JPEG XR's quantization, colour space and flex bits.
NATIVE(PngOptionsCtor) {
  m.SetProperty(self, "fastCompression", Value::Bool(a.size() > 0 && m.ToBoolean(a[0])));
  return self;
}
NATIVE(JpegOptionsCtor) {
  m.SetProperty(self, "quality", Value::Number(a.size() > 0 ? m.ToUint(a[0]) : 80));
  return self;
}
NATIVE(JpegXrOptionsCtor) {
  m.SetProperty(self, "quantization", Value::Number(a.size() > 0 ? m.ToUint(a[0]) : 20));
  m.SetProperty(self, "colorSpace", a.size() > 1 && !a[1].IsNullish() ? m.Str(m.ToString(a[1])) : m.Str("auto"));
  m.SetProperty(self, "trimFlexBits", Value::Number(a.size() > 2 ? m.ToUint(a[2]) : 0));
  return self;
}

constexpr ClassRow kBitmapsClasses[] = {
    {"flash.display", "PNGEncoderOptions", "", nullptr, PngOptionsCtor, true},
    {"flash.display", "JPEGEncoderOptions", "", nullptr, JpegOptionsCtor, true},
    {"flash.display", "JPEGXREncoderOptions", "", nullptr, JpegXrOptionsCtor, true},
    {"flash.display", "Bitmap", "flash.display::DisplayObject", nullptr, BitmapCtor, false, &As3Display::bitmapClass},
    {"flash.display", "BitmapData", "", Alloc<BitmapDataObject>, BdCtor},
};

void InstallBitmaps(As3Display& b) {
  Register(b, kBitmapsClasses, kBitmapsRows);
  AddBitmapPixelMethods(b);
}
}  // namespace quarvel::player::as3
