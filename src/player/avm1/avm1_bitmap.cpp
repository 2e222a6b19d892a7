// flash.display.BitmapData for scripts, MovieClip.attachBitmap and the blend
// modes by name. The pixels are bitmap_data.h's; this file reads the
// arguments as Flash does (Rectangles, Points, ColorTransforms, filters).
#include <algorithm>
#include <cmath>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_geom.h"
#include "player/render/bitmap_data.h"
#include "player/render/drawn_items.h"
#include "player/render/renderer.h"
#include "player/display/stage.h"
#include "player/render/blend_modes.h"

namespace quarvel::player::avm1_builtins {
namespace {

struct BitmapNative : AsNativeData {
  std::shared_ptr<BitmapData> bmp;
};

BitmapData* Bmp(const AsValue& self) {
  auto* n = SelfData<BitmapNative>(self);
  return n && n->bmp && !n->bmp->Disposed() ? n->bmp.get() : nullptr;
}

std::uint32_t U32(Avm1& vm, const AsValue& v) { return static_cast<std::uint32_t>(ToInt32(vm.ToNumber(v))); }
int Int(Avm1& vm, AsArgs a, std::size_t i) { return ToInt32(Num(vm, a, i)); }
bool BoolArg(Avm1& vm, AsArgs a, std::size_t i, bool def) {
  return i < a.size() && !a[i].IsUndefined() ? vm.ToBool(a[i]) : def;
}

// A Rectangle argument in whole pixels; false when it is none.
bool RectArg(Avm1& vm, const AsValue& v, PixelRect& out) {
  GeomRect r;
  if (!ReadGeomRect(vm, v, r)) return false;
  out = {static_cast<int>(std::clamp(std::floor(r.x), -1e8, 1e8)), static_cast<int>(std::clamp(std::floor(r.y), -1e8, 1e8)),
         static_cast<int>(std::clamp(std::floor(r.width), -1e8, 1e8)),
         static_cast<int>(std::clamp(std::floor(r.height), -1e8, 1e8))};
  return true;
}

// Flash's BitmapData methods answer a bad call with a code and change
// nothing: -1 for a disposed bitmap or too few arguments, and for methods
// that read another bitmap -2 when it is none, -3 when it is disposed and
// -4 when the rectangle is none (a rectangle needs all four numbers).
constexpr double kBadCall = -1, kNoSource = -2, kSourceGone = -3, kNoRect = -4;

// The bitmap a method runs on, or none when it is disposed or the call has
// fewer than `need` arguments.
BitmapData* Target(const AsValue& self, AsArgs a, std::size_t need) {
  BitmapData* b = Bmp(self);
  return b && a.size() >= need ? b : nullptr;
}

// A point whose x and y are both numbers.
bool FullPoint(Avm1& vm, const AsValue& v, int& x, int& y) {
  if (v.type != AsValue::Type::kObject) return false;
  const double px = NumberField(vm, v, "x"), py = NumberField(vm, v, "y");
  if (std::isnan(px) || std::isnan(py)) return false;
  x = static_cast<int>(std::clamp(std::floor(px), -1e8, 1e8));
  y = static_cast<int>(std::clamp(std::floor(py), -1e8, 1e8));
  return true;
}

bool IsInstance(Avm1& vm, const AsValue& v, const char* package, const char* cls) {
  if (v.type != AsValue::Type::kObject) return false;
  const AsValue proto = vm.Get(vm.Get(AsValue::Object(Package(vm, package)), cls), "prototype");
  if (proto.type != AsValue::Type::kObject) return false;
  int guard = 0;
  for (const AsObject* o = v.obj->proto; o && guard < kMaxProtoChain; o = o->proto, ++guard) {
    if (o == proto.obj) return true;
  }
  return false;
}

bool PointArg(Avm1& vm, const AsValue& v, int& x, int& y) {
  if (v.type != AsValue::Type::kObject) return false;
  const double px = NumberField(vm, v, "x"), py = NumberField(vm, v, "y");
  x = std::isfinite(px) ? static_cast<int>(std::clamp(std::floor(px), -1e8, 1e8)) : 0;
  y = std::isfinite(py) ? static_cast<int>(std::clamp(std::floor(py), -1e8, 1e8)) : 0;
  return true;
}

AsValue Ctor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  o->className = "BitmapData";
  const double w = Num(vm, a, 0), h = Num(vm, a, 1);
  const bool transparent = a.size() > 2 ? vm.ToBool(a[2]) : true;
  const std::uint32_t fill = a.size() > 3 ? U32(vm, a[3]) : 0xFFFFFFFFu;
  // Flash 8 allows 2880 pixels a side; later players 8191 and fewer than 16 M pixels.
  const double side = vm.Version() >= 10 ? 8191 : BitmapData::kMaxSide;
  auto native = std::make_unique<BitmapNative>();
  if (std::isfinite(w) && std::isfinite(h) && w >= 1 && h >= 1 && w <= side && h <= side &&
      (vm.Version() < 10 || std::floor(w) * std::floor(h) < 16777216.0) &&
      vm.Charge(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4)) {
    native->bmp = BitmapData::Make(static_cast<int>(w), static_cast<int>(h), transparent, fill);
  }
  if (!native->bmp) {
    vm.RefuseConstruction();
    return {};
  }
  o->native = std::move(native);
  return self;
}

AsValue GetWidth(Avm1&, const AsValue& self, AsArgs) {
  BitmapData* b = Bmp(self);
  return AsValue::Number(b ? b->Width() : -1);
}
AsValue GetHeight(Avm1&, const AsValue& self, AsArgs) {
  BitmapData* b = Bmp(self);
  return AsValue::Number(b ? b->Height() : -1);
}
AsValue GetTransparent(Avm1&, const AsValue& self, AsArgs) {
  BitmapData* b = Bmp(self);
  return b ? AsValue::Bool(b->Transparent()) : AsValue::Number(-1);
}
AsValue GetRectangle(Avm1& vm, const AsValue& self, AsArgs) {
  BitmapData* b = Bmp(self);
  if (!b) return AsValue::Number(-1);
  return NewRectangle(vm, {0, 0, static_cast<double>(b->Width()), static_cast<double>(b->Height())});
}

// Pixel methods give -1, and change nothing, when a coordinate or the colour
// is missing or the bitmap is gone.
AsValue GetPixel(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 2);
  if (!b) return AsValue::Number(kBadCall);
  return AsValue::Number(b->GetPixel32(Int(vm, a, 0), Int(vm, a, 1)) & 0xFFFFFF);
}
AsValue GetPixel32(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 2);
  if (!b) return AsValue::Number(kBadCall);
  // A signed 32-bit number, as ActionScript 2 gives it.
  return AsValue::Number(static_cast<std::int32_t>(b->GetPixel32(Int(vm, a, 0), Int(vm, a, 1))));
}
AsValue SetPixel(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 3);
  if (!b) return AsValue::Number(kBadCall);
  const int x = Int(vm, a, 0), y = Int(vm, a, 1);
  const std::uint32_t c = U32(vm, Arg(a, 2));
  b->SetPixel32(x, y, (b->GetPixel32(x, y) & 0xFF000000u) | (c & 0xFFFFFF));
  return AsValue::Number(0);
}
AsValue SetPixel32(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 3);
  if (!b) return AsValue::Number(kBadCall);
  const int x = Int(vm, a, 0), y = Int(vm, a, 1);
  const std::uint32_t c = U32(vm, Arg(a, 2));
  b->SetPixel32(x, y, c);
  return AsValue::Number(0);
}

AsValue FillRect(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 2);
  PixelRect r;
  if (!b || !RectArg(vm, a[0], r)) return AsValue::Number(kBadCall);
  b->FillRect(r, U32(vm, a[1]));
  return AsValue::Number(0);
}

// The source, rectangle and destination point every copying method starts with.
struct CopyArgs {
  BitmapData* src = nullptr;
  PixelRect rect;
  int x = 0, y = 0;
};
// 0, or the code of the first bad argument.
double ReadCopyArgs(Avm1& vm, AsArgs a, CopyArgs& out) {
  auto* n = SelfData<BitmapNative>(Arg(a, 0));
  if (!n || !n->bmp) return kNoSource;
  if (n->bmp->Disposed()) return kSourceGone;
  out.src = n->bmp.get();
  if (!RectArg(vm, Arg(a, 1), out.rect)) return kNoRect;
  PointArg(vm, Arg(a, 2), out.x, out.y);
  return 0;
}

AsValue CopyPixels(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 3);
  if (!b) return AsValue::Number(kBadCall);
  CopyArgs c;
  if (const double bad = ReadCopyArgs(vm, a, c)) return AsValue::Number(bad);
  BitmapData* alpha = Bmp(Arg(a, 3));
  int ax = 0, ay = 0;
  if (alpha) PointArg(vm, Arg(a, 4), ax, ay);
  const bool merge = BoolArg(vm, a, 5, false);
  b->CopyPixels(*c.src, c.rect, c.x, c.y, alpha, ax, ay, merge);
  return AsValue::Number(0);
}

// copyChannel, colorTransform, merge and paletteMap answer -1 even when they work.
AsValue CopyChannel(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 5);
  if (!b) return AsValue::Number(kBadCall);
  CopyArgs c;
  if (const double bad = ReadCopyArgs(vm, a, c)) return AsValue::Number(bad);
  b->CopyChannel(*c.src, c.rect, c.x, c.y, Int(vm, a, 3), Int(vm, a, 4));
  return AsValue::Number(kBadCall);
}

AsValue ColorTransformM(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 2);
  if (!b) return AsValue::Number(kBadCall);
  PixelRect r;
  ColorTransform ct;
  if (!RectArg(vm, a[0], r)) return AsValue::Number(-2);
  if (!IsInstance(vm, a[1], "flash.geom", "ColorTransform") || !ReadGeomColorTransform(vm, a[1], ct)) {
    return AsValue::Number(-3);
  }
  b->ApplyColorTransform(r, ct);
  return AsValue::Number(kBadCall);
}

AsValue Noise(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 1);
  if (!b) return AsValue::Number(kBadCall);
  const int seed = Int(vm, a, 0);
  const int low = a.size() > 1 ? Int(vm, a, 1) : 0, high = a.size() > 2 ? Int(vm, a, 2) : 255;
  const int channels = a.size() > 3 ? Int(vm, a, 3) : 7;
  const bool gray = BoolArg(vm, a, 4, false);
  b->Noise(seed, low, high, channels, gray);
  return AsValue::Number(0);
}

AsValue PerlinNoise(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 6);
  if (!b) return AsValue::Number(kBadCall);
  const double bx = Num(vm, a, 0), by = Num(vm, a, 1);
  const int octaves = Int(vm, a, 2), seed = Int(vm, a, 3);
  const bool stitch = BoolArg(vm, a, 4, false), fractal = BoolArg(vm, a, 5, false);
  const int channels = a.size() > 6 ? Int(vm, a, 6) : 7;
  const bool gray = BoolArg(vm, a, 7, false);
  std::vector<std::pair<double, double>> offsets;
  if (Arg(a, 8).type == AsValue::Type::kObject && Arg(a, 8).obj->isArray) {
    for (const AsValue& p : vm.Elements(a[8].obj)) {
      const double x = NumberField(vm, p, "x"), y = NumberField(vm, p, "y");
      offsets.emplace_back(std::isfinite(x) ? x : 0, std::isfinite(y) ? y : 0);
      if (offsets.size() >= 16) break;
    }
  }
  b->PerlinNoise(bx, by, octaves, seed, stitch, fractal, channels, gray, offsets);
  return AsValue::Number(0);
}

// pixelDissolve(source, rect, point, seed, numPixels, fill): the seed to
// pass next. It needs numPixels; a negative one counts as unsigned.
AsValue PixelDissolve(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 5);
  if (!b) return AsValue::Number(kBadCall);
  CopyArgs c;
  if (const double bad = ReadCopyArgs(vm, a, c)) return AsValue::Number(bad);
  const std::uint32_t fill = a.size() > 5 ? U32(vm, a[5]) : 0;
  return AsValue::Number(b->PixelDissolve(*c.src, c.rect, c.x, c.y, Int(vm, a, 3), U32(vm, a[4]), fill));
}

AsValue Threshold(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 5);
  if (!b) return AsValue::Number(kBadCall);
  CopyArgs c;
  if (const double bad = ReadCopyArgs(vm, a, c)) return AsValue::Number(bad);
  const std::string op = vm.ToString(Arg(a, 3));
  const std::uint32_t threshold = U32(vm, Arg(a, 4));
  const std::uint32_t color = a.size() > 5 ? U32(vm, a[5]) : 0;
  const std::uint32_t mask = a.size() > 6 ? U32(vm, a[6]) : 0xFFFFFFFFu;
  const bool copy = BoolArg(vm, a, 7, false);
  const int n = b->Threshold(*c.src, c.rect, c.x, c.y, op, threshold, color, mask, copy);
  return AsValue::Number(std::max(n, 0));
}

// 1 when it changed the pixel at the point, else 0.
AsValue FloodFill(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 3);
  if (!b) return AsValue::Number(kBadCall);
  const int x = Int(vm, a, 0), y = Int(vm, a, 1);
  if (x < 0 || y < 0 || x >= b->Width() || y >= b->Height()) return AsValue::Number(0);
  const std::uint32_t before = b->RawPixel(x, y);
  b->FloodFill(x, y, U32(vm, a[2]));
  return AsValue::Number(b->RawPixel(x, y) != before ? 1 : 0);
}

AsValue Scroll(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 2);
  if (!b) return AsValue::Number(kBadCall);
  b->Scroll(Int(vm, a, 0), Int(vm, a, 1));
  return AsValue::Number(0);
}

AsValue Wrap(Avm1& vm, std::shared_ptr<BitmapData> bmp) {
  if (!bmp) return {};
  const AsValue ctor = vm.Get(AsValue::Object(Package(vm, "flash.display")), "BitmapData");
  const AsValue proto = vm.Get(ctor, "prototype");
  AsObject* o = vm.NewObject(proto.type == AsValue::Type::kObject ? proto.obj : vm.ObjectProto());
  o->className = "BitmapData";
  auto native = std::make_unique<BitmapNative>();
  native->bmp = std::move(bmp);
  o->native = std::move(native);
  return AsValue::Object(o);
}

AsValue Clone(Avm1& vm, const AsValue& self, AsArgs) {
  BitmapData* b = Bmp(self);
  if (!b) return AsValue::Number(kBadCall);
  if (!vm.Charge(static_cast<std::size_t>(b->Width()) * b->Height() * 4)) return {};
  return Wrap(vm, b->Clone());
}

AsValue Dispose(Avm1&, const AsValue& self, AsArgs) {
  BitmapData* b = Bmp(self);
  if (!b) return AsValue::Number(kBadCall);
  b->Dispose();
  return {};
}

AsValue GetColorBoundsRect(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 2);
  if (!b) return AsValue::Number(kBadCall);
  const std::uint32_t mask = U32(vm, a[0]), color = U32(vm, a[1]);
  const bool find = a.size() > 2 ? vm.ToBool(a[2]) : true;
  const PixelRect r = b->ColorBounds(mask, color, find);
  return NewRectangle(vm, {static_cast<double>(r.x), static_cast<double>(r.y), static_cast<double>(r.width),
                           static_cast<double>(r.height)});
}

// hitTest(firstPoint, firstAlphaThreshold, secondObject[, secondPoint, secondAlphaThreshold])
// -2 when the first point is none, -3 when the second object is none (or a
// disposed bitmap), -4 when a second bitmap comes without its point.
AsValue HitTest(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 3);
  if (!b) return AsValue::Number(kBadCall);
  int fx = 0, fy = 0;
  // The first point's x and y are its own: none is looked for on its prototypes.
  const auto own = [&](const char* name) { return a[0].type == AsValue::Type::kObject && a[0].obj->props.count(vm.Key(name)); };
  if (!own("x") || !own("y") || !FullPoint(vm, a[0], fx, fy)) return AsValue::Number(-2);
  const auto threshold = static_cast<std::uint32_t>(std::clamp(Int(vm, a, 1), 0, 255));
  auto solid = [&](const BitmapData& bmp, int x, int y, std::uint32_t t) {
    if (x < 0 || y < 0 || x >= bmp.Width() || y >= bmp.Height()) return false;
    return !bmp.Transparent() || (bmp.GetPixel32(x, y) >> 24) >= std::max(t, 1u);
  };
  const AsValue second = a[2];
  if (auto* n = SelfData<BitmapNative>(second); n && n->bmp) {
    if (n->bmp->Disposed()) return AsValue::Number(-3);
    BitmapData* other = n->bmp.get();
    int sx = 0, sy = 0;
    if (a.size() > 3 && !FullPoint(vm, a[3], sx, sy)) return AsValue::Number(-4);
    const auto t2 = static_cast<std::uint32_t>(std::clamp(a.size() > 4 ? Int(vm, a, 4) : 1, 0, 255));
    // Overlap of the two in the first one's coordinates.
    const PixelRect mine{fx, fy, b->Width(), b->Height()};
    const PixelRect theirs{sx, sy, other->Width(), other->Height()};
    const PixelRect both = mine.Intersect(theirs);
    for (int y = both.y; y < both.y + both.height; ++y) {
      for (int x = both.x; x < both.x + both.width; ++x) {
        if (solid(*b, x - fx, y - fy, threshold) && solid(*other, x - sx, y - sy, t2)) return AsValue::Bool(true);
      }
    }
    return AsValue::Bool(false);
  }
  PixelRect r;
  if (!vm.Get(second, "width").IsUndefined() && RectArg(vm, second, r)) {
    // Against a rectangle a threshold of 0 takes even clear pixels.
    const PixelRect in = PixelRect{r.x - fx, r.y - fy, r.width, r.height}.Intersect(b->Bounds());
    for (int y = in.y; y < in.y + in.height; ++y) {
      for (int x = in.x; x < in.x + in.width; ++x) {
        if (!b->Transparent() || (b->GetPixel32(x, y) >> 24) >= threshold) return AsValue::Bool(true);
      }
    }
    return AsValue::Bool(false);
  }
  int px = 0, py = 0;
  if (!FullPoint(vm, second, px, py)) return AsValue::Number(-3);
  return AsValue::Bool(solid(*b, px - fx, py - fy, threshold));
}

AsValue PaletteMap(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 3);
  if (!b) return AsValue::Number(kBadCall);
  CopyArgs c;
  if (const double bad = ReadCopyArgs(vm, a, c)) return AsValue::Number(bad);
  std::array<std::optional<std::vector<std::uint32_t>>, 4> tables;
  for (std::size_t k = 0; k < 4; ++k) {
    const AsValue t = Arg(a, 3 + k);
    if (t.type != AsValue::Type::kObject || !t.obj->isArray) continue;
    std::vector<std::uint32_t> v(256, 0);
    const std::vector<AsValue> elems = vm.Elements(t.obj);
    for (std::size_t i = 0; i < 256 && i < elems.size(); ++i) v[i] = U32(vm, elems[i]);
    tables[k] = std::move(v);
  }
  b->PaletteMap(*c.src, c.rect, c.x, c.y, tables);
  return AsValue::Number(kBadCall);
}

AsValue Merge(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 6);
  if (!b) return AsValue::Number(kBadCall);
  CopyArgs c;
  if (const double bad = ReadCopyArgs(vm, a, c)) return AsValue::Number(bad);
  // Without an alpha multiplier the source's alpha is taken whole.
  const int mult[4] = {Int(vm, a, 3), Int(vm, a, 4), Int(vm, a, 5), a.size() > 6 ? Int(vm, a, 6) : 256};
  b->Merge(*c.src, c.rect, c.x, c.y, mult);
  return AsValue::Number(kBadCall);
}

AsValue ApplyFilter(Avm1& vm, const AsValue& self, AsArgs a) {
  CopyArgs c;
  Filter f;
  if (ReadCopyArgs(vm, a, c) != 0 || !ReadScriptFilter(vm, Arg(a, 3), f)) return AsValue::Number(-1);
  if (BitmapData* b = Bmp(self)) b->ApplyFilter(*c.src, c.rect, c.x, c.y, f);
  return AsValue::Number(0);
}

AsValue GenerateFilterRect(Avm1& vm, const AsValue& self, AsArgs a) {
  GeomRect r;
  Filter f;
  if (!Bmp(self)) return AsValue::Number(kBadCall);
  if (!ReadGeomRect(vm, Arg(a, 0), r)) return {};
  if (!ReadScriptFilter(vm, Arg(a, 1), f)) return NewRectangle(vm, r);
  const double m = std::ceil(FilterMargin({f}, 1.0));
  return NewRectangle(vm, {r.x - m, r.y - m, r.width + 2 * m, r.height + 2 * m});
}

// draw(source, matrix, colorTransform, blendMode, clipRect, smoothing)
AsValue Draw(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Bmp(self);
  if (!b) return AsValue::Number(kBadCall);
  GeomMatrix gm;
  ReadGeomMatrix(vm, Arg(a, 1), gm);
  ColorTransform ct;
  ReadGeomColorTransform(vm, Arg(a, 2), ct);
  const int blendMode = BlendModeOf(vm, Arg(a, 3));
  const cairo_operator_t op = BlendOperator(blendMode);
  PixelRect clip;
  const bool clipped = RectArg(vm, Arg(a, 4), clip);
  const bool smooth = BoolArg(vm, a, 5, false);
  cairo_matrix_t m;
  cairo_matrix_init(&m, gm.a, gm.b, gm.c, gm.d, gm.tx, gm.ty);
  if (BitmapData* src = Bmp(Arg(a, 0))) {
    b->DrawBitmap(*src, m, ct, op, clipped ? &clip : nullptr, smooth, blendMode);
    return {};
  }
  // A clip: its content as it is drawn now, without its own placement.
  TimelineState* tl = Arg(a, 0).type == AsValue::Type::kClip ? vm.GetStage().TimelineOf(vm.ClipOf(a[0])) : nullptr;
  if (!tl) return {};
  std::vector<DrawnItem> items;
  ListDrawnItems(*tl, items, true);
  cairo_surface_t* layer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, b->Width(), b->Height());
  if (cairo_surface_status(layer) == CAIRO_STATUS_SUCCESS) {
    cairo_t* cr = cairo_create(layer);
    cairo_matrix_t twips, base;
    cairo_matrix_init_scale(&twips, 1 / 20.0, 1 / 20.0);
    cairo_matrix_multiply(&base, &twips, &m);
    RenderOptions options;
    options.quality = smooth ? Quality::qBest : Quality::qHigh;
    options.stageScale = std::sqrt(std::fabs(base.xx * base.yy - base.xy * base.yx));
    RenderItems(cr, vm.GetStage().Library(), items, base, options);
    cairo_destroy(cr);
    cairo_surface_flush(layer);
    b->DrawSurface(layer, ct, op, clipped ? &clip : nullptr, blendMode);
  }
  cairo_surface_destroy(layer);
  return {};
}

AsValue Compare(Avm1& vm, const AsValue& self, AsArgs a) {
  BitmapData* b = Target(self, a, 1);
  if (!b) return AsValue::Number(kBadCall);
  BitmapData* o = Bmp(a[0]);
  if (!o) return AsValue::Number(kNoSource);
  if (b->Width() != o->Width()) return AsValue::Number(-3);
  if (b->Height() != o->Height()) return AsValue::Number(-4);
  auto out = BitmapData::Make(b->Width(), b->Height(), true, 0);
  if (!out) return AsValue::Number(-1);
  bool any = false;
  for (int y = 0; y < b->Height(); ++y) {
    for (int x = 0; x < b->Width(); ++x) {
      const std::uint32_t p = b->GetPixel32(x, y), q = o->GetPixel32(x, y);
      if (p == q) continue;
      any = true;
      if ((p & 0xFFFFFF) != (q & 0xFFFFFF)) {
        auto sub = [&](int s) { return ((((p >> s) & 255) - ((q >> s) & 255)) & 255u) << s; };
        out->SetPixel32(x, y, 0xFF000000u | sub(16) | sub(8) | sub(0));
      } else {
        out->SetPixel32(x, y, ((((p >> 24) - (q >> 24)) & 255u) << 24) | 0xFFFFFF);
      }
    }
  }
  if (!any) return AsValue::Number(0);
  return Wrap(vm, out);
}

// BitmapData.loadBitmap(exportName): a copy of a bitmap of the library.
AsValue LoadBitmap(Avm1& vm, const AsValue&, AsArgs a) {
  const MovieLibrary& lib = vm.GetStage().Library();
  const Character* ch = lib.Find(lib.FindName(vm.ToString(Arg(a, 0))));
  if (!ch || ch->kind != Character::Kind::kBitmap) return {};
  const auto& def = static_cast<const BitmapDef&>(*ch);
  if (!def.surface || !vm.Charge(static_cast<std::size_t>(def.width) * def.height * 4)) return {};
  auto bmp = BitmapData::Make(def.width, def.height, true, 0);
  if (!bmp) return {};
  cairo_t* cr = cairo_create(bmp->Surface());
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, def.surface.get(), 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  bmp->Changed();
  return Wrap(vm, bmp);
}

// MovieClip.attachBitmap(bmp, depth, pixelSnapping, smoothing)
AsValue McAttachBitmap(Avm1& vm, const AsValue& self, AsArgs a) {
  auto* n = SelfData<BitmapNative>(Arg(a, 0));
  if (self.type != AsValue::Type::kClip || !n || !n->bmp || n->bmp->Disposed()) return {};
  const int depth = Int(vm, a, 1);
  const bool smoothing = BoolArg(vm, a, 3, false);
  vm.GetStage().AttachBitmap(vm.ClipOf(self), n->bmp, depth, smoothing);
  return {};
}

}  // namespace

std::shared_ptr<BitmapData> ScriptBitmap(const AsValue& v) {
  auto* n = SelfData<BitmapNative>(v);
  return n && n->bmp && !n->bmp->Disposed() ? n->bmp : nullptr;
}

void InstallBitmap(Avm1& vm) {
  AsObject* proto = vm.NewRootObject(vm.ObjectProto());
  const std::pair<const char*, AsNative> methods[] = {
      {"getPixel", GetPixel},
      {"getPixel32", GetPixel32},
      {"setPixel", SetPixel},
      {"setPixel32", SetPixel32},
      {"fillRect", FillRect},
      {"copyPixels", CopyPixels},
      {"copyChannel", CopyChannel},
      {"colorTransform", ColorTransformM},
      {"noise", Noise},
      {"perlinNoise", PerlinNoise},
      {"pixelDissolve", PixelDissolve},
      {"threshold", Threshold},
      {"floodFill", FloodFill},
      {"scroll", Scroll},
      {"clone", Clone},
      {"dispose", Dispose},
      {"getColorBoundsRect", GetColorBoundsRect},
      {"hitTest", HitTest},
      {"paletteMap", PaletteMap},
      {"merge", Merge},
      {"applyFilter", ApplyFilter},
      {"generateFilterRect", GenerateFilterRect},
      {"draw", Draw},
      {"compare", Compare},
  };
  for (auto& [n, f] : methods) vm.NewFunction(n, f, proto);
  vm.AddAccessor(proto, "width", GetWidth, nullptr);
  vm.AddAccessor(proto, "height", GetHeight, nullptr);
  vm.AddAccessor(proto, "transparent", GetTransparent, nullptr);
  vm.AddAccessor(proto, "rectangle", GetRectangle, nullptr);
  // Unlike most built-in properties, for..in lists these.
  for (const char* name : {"width", "height", "transparent", "rectangle"}) proto->props[vm.Key(name)].hidden = false;
  AsObject* ctor = vm.NewClass(Package(vm, "flash.display"), "BitmapData", Ctor, proto);
  vm.NewFunction("loadBitmap", LoadBitmap, ctor);
  // The channel bits copyChannel, noise and threshold take; plain properties.
  for (const auto& [name, bit] : {std::pair<const char*, int>{"RED_CHANNEL", 1}, {"GREEN_CHANNEL", 2},
                                  {"BLUE_CHANNEL", 4}, {"ALPHA_CHANNEL", 8}}) {
    vm.SetProp(ctor, name, AsValue::Number(bit));
  }
  vm.NewFunction("attachBitmap", McAttachBitmap, vm.ClipProto());
}

}  // namespace quarvel::player::avm1_builtins
