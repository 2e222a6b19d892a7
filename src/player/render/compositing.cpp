#include "player/render/compositing.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "player/render/filter_cache.h"
#include "player/render/filters.h"
#include "player/render/paint.h"
#include "player/render/pixel_shader.h"
#include "player/render/projection_draw.h"
#include "player/display/video_display.h"
#include "player/render/blend_modes.h"
#include "player/text/text_field.h"

namespace quarvel::player {
namespace {

struct PatternDeleter {
  void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternDeleter>;

Box Transform(const Rect& r, const cairo_matrix_t& m) {
  Box b;
  if (r.xmin > r.xmax || r.ymin > r.ymax) return b;
  const double xs[2] = {static_cast<double>(r.xmin), static_cast<double>(r.xmax)};
  const double ys[2] = {static_cast<double>(r.ymin), static_cast<double>(r.ymax)};
  for (double x : xs) {
    for (double y : ys) {
      double dx = x, dy = y;
      cairo_matrix_transform_point(&m, &dx, &dy);
      b.Add(Box{dx, dy, dx, dy});
    }
  }
  return b;
}

Box DeviceBoxOfChildren(const RenderContext& c, const DrawnItem& item, const cairo_matrix_t& m, int nesting) {
  Box b;
  const auto children = Children(item);
  for (const DrawnItem* child = children.data(); child < children.data() + children.size(); child = Next(child)) {
    b.Add(DeviceBox(c, *child, m, nesting + 1));
  }
  return b;
}

// Subtract (9) and invert (10) have no Cairo operator: the object is drawn
// into an image of the target's size and combined pixel by pixel.
void DrawWithPixelBlend(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& m, const ColorTransform& cx) {
  cairo_surface_t* target = cairo_get_group_target(c.cr);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) {
    DrawItemBody(c, inst, m, cx);
    return;
  }
  const int w = cairo_image_surface_get_width(target), h = cairo_image_surface_get_height(target);
  double ox = 0, oy = 0;
  cairo_surface_get_device_offset(target, &ox, &oy);
  SurfacePtr src(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_surface_set_device_offset(src.get(), ox, oy);
  std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr2(cairo_create(src.get()), cairo_destroy);
  cairo_set_antialias(cr2.get(), cairo_get_antialias(c.cr));
  cairo_set_tolerance(cr2.get(), cairo_get_tolerance(c.cr));
  cairo_t* saved = c.cr;
  c.cr = cr2.get();
  DrawItemBody(c, inst, m, cx);
  c.cr = saved;
  cr2.reset();
  cairo_surface_flush(src.get());
  cairo_surface_flush(target);
  const auto* sd = cairo_image_surface_get_data(src.get());
  auto* td = cairo_image_surface_get_data(target);
  const int ss = cairo_image_surface_get_stride(src.get()), ts = cairo_image_surface_get_stride(target);
  const bool targetAlpha = cairo_image_surface_get_format(target) == CAIRO_FORMAT_ARGB32;
  for (int y = 0; y < h; ++y) {
    const auto* sp = reinterpret_cast<const std::uint32_t*>(sd + static_cast<std::size_t>(y) * ss);
    auto* tp = reinterpret_cast<std::uint32_t*>(td + static_cast<std::size_t>(y) * ts);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t sv = sp[x];
      const int sa = static_cast<int>(sv >> 24);
      if (sa == 0) continue;
      const std::uint32_t tv = tp[x];
      const int da = targetAlpha ? static_cast<int>(tv >> 24) : 255;
      std::uint32_t out = targetAlpha ? tv & 0xFF000000u : 0xFF000000u;
      // Invert covers like any drawing: on the clear pixels of a layer it
      // leaves white as opaque as the object.
      if (inst.blendMode == 10 && targetAlpha) out = static_cast<std::uint32_t>(sa + da * (255 - sa) / 255) << 24;
      for (int shift = 0; shift <= 16; shift += 8) {
        const int sc = static_cast<int>((sv >> shift) & 255), dc = static_cast<int>((tv >> shift) & 255);
        int r = 0;
        if (inst.blendMode == 9) {
          r = std::max(0, dc - sc);
        } else {
          r = (dc * (255 - sa) + (255 - dc) * sa) / 255;
        }
        out |= static_cast<std::uint32_t>(std::clamp(r, 0, 255)) << shift;
      }
      tp[x] = out;
    }
  }
  cairo_surface_mark_dirty(target);
}

// The item's own drawing, alone, on a new surface over the device pixels
// (x0, y0, w, h) as a layer; null when no surface can be made.
SurfacePtr DrawnAlone(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& m, const ColorTransform& cx,
                      double x0, double y0, int w, int h) {
  SurfacePtr out(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(out.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_set_device_offset(out.get(), -x0, -y0);
  std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr(cairo_create(out.get()), cairo_destroy);
  cairo_set_antialias(cr.get(), cairo_get_antialias(c.cr));
  cairo_set_tolerance(cr.get(), cairo_get_tolerance(c.cr));
  cairo_t* saved = c.cr;
  c.cr = cr.get();
  ++c.layers;
  DrawItemBody(c, inst, m, cx);
  --c.layers;
  c.cr = saved;
  return out;
}

// A blend shader: the object is drawn alone, then the kernel runs over its
// box with what is below as the first input and the object as the second,
// and its result takes the place of those pixels. False when the target
// is no image this can read.
bool DrawWithShaderBlend(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& parent,
                         const cairo_matrix_t& m, const ColorTransform& cx) {
  cairo_surface_t* target = cairo_get_group_target(c.cr);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) return false;
  const cairo_format_t format = cairo_image_surface_get_format(target);
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return false;
  const ShaderBlend& blend = *inst.blendShader;
  Box b = DeviceBox(c, inst, parent, c.nesting);
  if (b.Empty()) return true;
  // The box without the room DeviceBox leaves for anti-aliasing: the
  // kernel runs over the object's own bounds.
  const Box clip = DeviceClip(c.cr);
  double ox = 0, oy = 0;
  cairo_surface_get_device_offset(target, &ox, &oy);
  const int tw = cairo_image_surface_get_width(target), th = cairo_image_surface_get_height(target);
  const double x0 = std::max({std::floor(b.x0 + 2), std::floor(clip.x0), -ox});
  const double y0 = std::max({std::floor(b.y0 + 2), std::floor(clip.y0), -oy});
  const double x1 = std::min({std::ceil(b.x1 - 2), std::ceil(clip.x1), tw - ox});
  const double y1 = std::min({std::ceil(b.y1 - 2), std::ceil(clip.y1), th - oy});
  if (x1 <= x0 || y1 <= y0) return true;
  const int w = static_cast<int>(x1 - x0), h = static_cast<int>(y1 - y0);
  // A kernel too long for its area (far past real ones) draws the object plainly.
  constexpr double kMaxSteps = 4e8;
  if (static_cast<double>(w) * h * static_cast<double>(blend.shader->Length() + 1) > kMaxSteps) return false;
  SurfacePtr src = DrawnAlone(c, inst, m, cx, x0, y0, w, h);
  if (!src) return true;
  cairo_surface_flush(src.get());
  cairo_surface_flush(target);
  const auto tstride = cairo_image_surface_get_stride(target) / 4;
  auto* tpix = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(target)) +
               static_cast<std::ptrdiff_t>(y0 + oy) * tstride + static_cast<std::ptrdiff_t>(x0 + ox);
  const ShaderImage below{tpix, tstride, w, h, format == CAIRO_FORMAT_RGB24};
  const ShaderImage object{reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(src.get())),
                           cairo_image_surface_get_stride(src.get()) / 4, w, h, false};
  // The first input the kernel declares is the background, the second the object.
  std::vector<ShaderImage> inputs;
  const auto& declared = blend.shader->Inputs();
  for (std::size_t k = 0; k < declared.size() && k < 2; ++k) {
    const auto index = static_cast<std::size_t>(declared[k].index);
    if (inputs.size() <= index) inputs.resize(index + 1);
    inputs[index] = k == 0 ? below : object;
  }
  std::vector<std::uint32_t> result(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  blend.shader->Run(inputs, blend.values, w, h, result.data(), w, format == CAIRO_FORMAT_RGB24);
  for (int y = 0; y < h; ++y)
    std::copy_n(result.data() + static_cast<std::ptrdiff_t>(y) * w, w, tpix + static_cast<std::ptrdiff_t>(y) * tstride);
  cairo_surface_mark_dirty(target);
  return true;
}

// The object drawn alone into an image around its box, filtered, then put
// on the target with its blend.
void DrawWithFilters(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& parent, const cairo_matrix_t& m,
                     const ColorTransform& cx, cairo_operator_t op) {
  Box b = DeviceBox(c, inst, parent, c.nesting);
  if (b.Empty()) return;
  // Only what can show, plus the filters' reach into it.
  const Box clip = DeviceClip(c.cr);
  const double reach = FilterMargin(inst.filters, c.options.stageScale * 20) + 2;
  const double x0 = std::floor(std::max(b.x0, clip.x0 - reach)), y0 = std::floor(std::max(b.y0, clip.y0 - reach));
  const double x1 = std::ceil(std::min(b.x1, clip.x1 + reach)), y1 = std::ceil(std::min(b.y1, clip.y1 + reach));
  constexpr double kMaxSide = 4096;
  if (x1 <= x0 || y1 <= y0 || x1 - x0 > kMaxSide || y1 - y0 > kMaxSide) {
    DrawItemBody(c, inst, m, cx);  // too large to filter: drawn plain
    return;
  }
  const int w = static_cast<int>(x1 - x0), h = static_cast<int>(y1 - y0);
  // Kept by the transform's fraction of a pixel: a whole-pixel move of the
  // same object moves the same picture.
  FilterCache::Key key;
  const std::span<const DrawnItem> items{&inst, std::size_t{inst.descendants} + 1};
  const bool keepable = c.options.filtered && FilteredPictureKeepable(c, inst) && std::abs(m.x0) < 1e7 &&
                        std::abs(m.y0) < 1e7;
  cairo_surface_t* kept = nullptr;
  if (keepable) {
    const double ox = std::floor(m.x0), oy = std::floor(m.y0);
    key.lib = &c.lib;
    key.xx = m.xx, key.yx = m.yx, key.xy = m.xy, key.yy = m.yy;
    key.fx = m.x0 - ox, key.fy = m.y0 - oy;
    key.bx = static_cast<int>(x0 - ox), key.by = static_cast<int>(y0 - oy);
    key.w = w, key.h = h;
    key.cx = cx;
    key.nesting = c.nesting;
    key.antialias = cairo_get_antialias(c.cr);
    key.tolerance = cairo_get_tolerance(c.cr);
    key.stageScale = c.options.stageScale;
    key.quality = c.options.quality;
    kept = c.options.filtered->Find(key, items);
  }
  SurfacePtr image;
  if (!kept) {
    image = DrawnAlone(c, inst, m, cx, x0, y0, w, h);
    if (!image) return;
    cairo_surface_set_device_offset(image.get(), 0, 0);
    ApplyFilters(image.get(), inst.filters, c.options.stageScale * 20);
    if (keepable) c.options.filtered->Keep(key, items, SurfacePtr(cairo_surface_reference(image.get())));
  }
  cairo_save(c.cr);
  cairo_identity_matrix(c.cr);
  cairo_set_source_surface(c.cr, kept ? kept : image.get(), x0, y0);
  cairo_set_operator(c.cr, op);
  cairo_paint(c.cr);
  cairo_restore(c.cr);
}

// The item a script mask names, with its parent's transform to the device.
// Found as the stage finds it: through sprites only, within their nesting.
const DrawnItem* FindMask(const RenderContext& c, std::uint64_t serial, cairo_matrix_t& parentOut) {
  for (const DrawnItem& item : c.items) {
    if (item.serial != serial || item.level < 0 || item.level > kMaxSpriteNesting) continue;
    std::vector<const DrawnItem*> chain;
    bool throughSprites = true;
    for (int p = item.parent; p >= 0 && c.items[static_cast<std::size_t>(p)].level >= 0;
         p = c.items[static_cast<std::size_t>(p)].parent) {
      const DrawnItem& up = c.items[static_cast<std::size_t>(p)];
      if (!up.def || up.def->kind != Character::Kind::kSprite) throughSprites = false;
      chain.push_back(&up);
    }
    if (!throughSprites) continue;
    cairo_matrix_t m = c.base;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const cairo_matrix_t own = ToCairo((*it)->matrix), outer = m;
      cairo_matrix_multiply(&m, &own, &outer);
    }
    parentOut = m;
    return &item;
  }
  return nullptr;
}

// Blend modes that mix colour with what lies below (not alpha and erase,
// which act only on a layer, nor a shader, which draws through its own path).
bool MixesWithBackdrop(int mode) { return (mode >= 3 && mode <= 10) || mode == 13 || mode == kBlendHardLight; }

// Content drawn into a group, shown through the coverage of a second group:
// what the mask draws covers fully, or with `byAlpha` as much as its alpha.
// With `onBackdrop` the content is drawn over a copy of what lies below, so
// that its blend mode mixes with that, not with a transparent group.
template <typename Content, typename Coverage>
void DrawThrough(RenderContext& c, const Box& box, Content content, Coverage coverage, bool byAlpha = false,
                 bool onBackdrop = false) {
  cairo_save(c.cr);
  if (!ClipToBox(c.cr, box)) {
    cairo_restore(c.cr);
    return;
  }
  cairo_surface_t* below = cairo_get_group_target(c.cr);
  cairo_push_group(c.cr);
  if (onBackdrop) {
    cairo_save(c.cr);
    cairo_identity_matrix(c.cr);
    cairo_set_source_surface(c.cr, below, 0, 0);
    cairo_set_operator(c.cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(c.cr);
    cairo_restore(c.cr);
  }
  content();
  PatternPtr shown(cairo_pop_group(c.cr));
  // A mask by alpha is drawn in colour: blends in it (a blend shader's
  // kernel) may read colour to make the alpha.
  cairo_push_group_with_content(c.cr, byAlpha ? CAIRO_CONTENT_COLOR_ALPHA : CAIRO_CONTENT_ALPHA);
  const bool wasMask = c.mask;
  c.mask = !byAlpha;
  coverage();
  c.mask = wasMask;
  PatternPtr covered(cairo_pop_group(c.cr));
  cairo_identity_matrix(c.cr);
  cairo_set_source(c.cr, shown.get());
  // Over a backdrop copy the result replaces what lies below where covered.
  if (onBackdrop) cairo_set_operator(c.cr, CAIRO_OPERATOR_SOURCE);
  cairo_mask(c.cr, covered.get());
  cairo_restore(c.cr);
}

}  // namespace

Box DeviceBox(const RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& parent, int nesting) {
  if (!inst.def || nesting > kMaxSpriteNesting) return Box{};
  // In three dimensions: what its projection shows; one inside another is
  // boxed with the outermost, which draws it.
  if (inst.nested3D) return Box{};
  if (inst.projection) return ProjectedDeviceBox(c, inst, parent, nesting);
  cairo_matrix_t m;
  const cairo_matrix_t own = ToCairo(inst.matrix);
  cairo_matrix_multiply(&m, &own, &parent);
  return BodyBox(c, inst, m, nesting);
}

Box BodyBox(const RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& m, int nesting) {
  Box b;
  if (!inst.def || nesting > kMaxSpriteNesting) return b;
  const Character* d = inst.def;
  switch (d->kind) {
    case Character::Kind::kShape:
      b = Transform(static_cast<const ShapeDef*>(d)->geometry.bounds, m);
      break;
    case Character::Kind::kMorph:
      b = Transform(static_cast<const MorphDef*>(d)->startBounds, m);
      b.Add(Transform(static_cast<const MorphDef*>(d)->endBounds, m));
      break;
    case Character::Kind::kText:
      b = Transform(static_cast<const TextDef*>(d)->bounds, m);
      break;
    case Character::Kind::kEditText:
      // A live field's box, as autoSize or a script left it.
      if (inst.field) {
        const text::TextLook& look = *inst.field;
        b = Transform(Rect{static_cast<std::int32_t>(std::floor(look.x * 20)),
                           static_cast<std::int32_t>(std::ceil((look.x + look.width) * 20)),
                           static_cast<std::int32_t>(std::floor(look.y * 20)),
                           static_cast<std::int32_t>(std::ceil((look.y + look.height) * 20))},
                      m);
        // Drawn as a mask its glyphs reach past the box: add the text's extent.
        const text::Layout& l = look.layout;
        double reach = 0;
        for (const auto& run : l.runs) reach = std::max(reach, run.size);
        if (!l.runs.empty() && l.textWidth > 0 && std::isfinite(l.textWidth + l.textHeight + reach)) {
          const double x0 = look.x - l.boxX - look.hscroll - reach, y0 = look.y - reach;
          const double x1 = x0 + l.textWidth + 3 * reach, y1 = y0 + l.textHeight + 3 * reach;
          auto twips = [](double v) { return static_cast<std::int32_t>(std::clamp(v * 20, -2e9, 2e9)); };
          b.Add(Transform(Rect{twips(x0), twips(x1), twips(y0), twips(y1)}, m));
        }
      } else {
        b = Transform(static_cast<const EditTextDef*>(d)->bounds, m);
      }
      break;
    case Character::Kind::kBitmap: {
      const auto* bm = static_cast<const BitmapDef*>(d);
      b = Transform(Rect{0, bm->width * 20, 0, bm->height * 20}, m);
      break;
    }
    case Character::Kind::kVideo: {
      const auto* v = static_cast<const VideoDef*>(d);
      b = Transform(Rect{0, static_cast<std::int32_t>(v->stream.width * 20), 0,
                         static_cast<std::int32_t>(v->stream.height * 20)},
                    m);
      break;
    }
    case Character::Kind::kSprite:
      if (inst.ownList) {
        b = DeviceBoxOfChildren(c, inst, m, nesting);
        if (inst.drawing && inst.drawingBounds) b.Add(Transform(inst.drawing->bounds, m));
      }
      break;
    case Character::Kind::kButton:
      if (inst.ownList) {
        b = DeviceBoxOfChildren(c, inst, m, nesting);
        break;
      }
      for (const auto& rec : static_cast<const ButtonDef*>(d)->records) {
        if (!(rec.states & kButtonUp)) continue;
        DrawnItem child;
        child.def = c.lib.Find(rec.characterId);
        child.matrix = rec.matrix;
        if (child.def && child.def->kind != Character::Kind::kButton) b.Add(DeviceBox(c, child, m, nesting + 1));
      }
      break;
    case Character::Kind::kFont:
      break;
  }
  if (!b.Empty()) {
    // Room for strokes and anti-aliasing, and for what filters spread.
    const double m = 2 + (inst.filters.empty() ? 0.0 : FilterMargin(inst.filters, c.options.stageScale * 20));
    b.x0 -= m, b.y0 -= m, b.x1 += m, b.y1 += m;
  }
  return b;
}

bool ClipToBox(cairo_t* cr, const Box& b) {
  if (b.Empty()) return false;
  cairo_identity_matrix(cr);
  cairo_rectangle(cr, std::floor(b.x0), std::floor(b.y0), std::ceil(b.x1) - std::floor(b.x0),
                  std::ceil(b.y1) - std::floor(b.y0));
  cairo_clip(cr);
  double x0, y0, x1, y1;
  cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
  return x1 > x0 && y1 > y0;
}

void DrawBlended(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& parent, const cairo_matrix_t& m,
                 const ColorTransform& cx) {
  if (!c.mask && !inst.filters.empty()) {
    const cairo_operator_t op = BlendOperator(inst.blendMode);
    if ((op == CAIRO_OPERATOR_DEST_IN || op == CAIRO_OPERATOR_DEST_OUT) && c.layers == 0) return;
    DrawWithFilters(c, inst, parent, m, cx, op);
    return;
  }
  if (!c.mask && inst.blendMode == 15 && inst.blendShader && DrawWithShaderBlend(c, inst, parent, m, cx)) return;
  if (!c.mask && (inst.blendMode == 9 || inst.blendMode == 10)) {
    DrawWithPixelBlend(c, inst, m, cx);
    return;
  }
  cairo_operator_t op = c.mask ? CAIRO_OPERATOR_OVER : BlendOperator(inst.blendMode);
  // Alpha and erase change only the alpha of a layer below; on the opaque
  // stage they show nothing.
  if ((op == CAIRO_OPERATOR_DEST_IN || op == CAIRO_OPERATOR_DEST_OUT) && c.layers == 0) return;
  if (op != CAIRO_OPERATOR_OVER || (inst.blendMode == 2 && !c.mask)) {
    cairo_save(c.cr);
    if (!ClipToBox(c.cr, DeviceBox(c, inst, parent, c.nesting))) {
      cairo_restore(c.cr);
      return;
    }
    cairo_push_group(c.cr);
    ++c.layers;
    DrawItemBody(c, inst, m, cx);
    --c.layers;
    cairo_pop_group_to_source(c.cr);
    cairo_identity_matrix(c.cr);
    cairo_set_operator(c.cr, op);
    cairo_paint(c.cr);
    cairo_restore(c.cr);
    return;
  }
  DrawItemBody(c, inst, m, cx);
}

bool DrawScriptMasked(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& parent,
                      const ColorTransform& parentCx) {
  cairo_matrix_t maskParent;
  const DrawnItem* mask = FindMask(c, inst.maskSerial, maskParent);
  if (!mask || mask == &inst) return false;
  DrawThrough(
      c, DeviceBox(c, *mask, maskParent, c.nesting),
      [&] {
        const DrawnItem* saved = c.masking;
        c.masking = &inst;
        DrawItem(c, inst, parent, parentCx);
        c.masking = saved;
      },
      [&] {
        const DrawnItem* saved = c.alphaMask;
        c.alphaMask = mask;
        DrawItem(c, *mask, maskParent, ColorTransform{});
        c.alphaMask = saved;
      },
      // Flash masks by alpha only when both are drawn through bitmaps.
      mask->cacheAsBitmap && inst.cacheAsBitmap, MixesWithBackdrop(inst.blendMode));
  return true;
}

void DrawUnderMasks(RenderContext& c, const std::vector<const DrawnItem*>& items,
                    const std::vector<const ClipMask*>& masks, std::size_t k, const cairo_matrix_t& m,
                    const ColorTransform& cx) {
  if (k == masks.size()) {
    for (const DrawnItem* item : items) DrawItem(c, *item, m, cx);
    return;
  }
  const ClipMask& mask = *masks[k];
  DrawThrough(
      c, DeviceBox(c, *mask.item, m, c.nesting), [&] { DrawUnderMasks(c, items, masks, k + 1, m, cx); },
      [&] { DrawUnderMasks(c, {mask.item}, mask.under, 0, m, cx); });
}

}  // namespace quarvel::player
