#include "player/render/renderer.h"

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "player/render/compositing.h"
#include "player/render/projection_draw.h"
#include "player/library/shape_parser.h"
#include "player/text/text_render.h"
#include "player/display/video_display.h"

namespace quarvel::player {
namespace {

// Draws siblings in order. Masks (clip depths) show the items above them up
// to their clip depth only where they cover; ranges of several masks may
// overlap.
void DrawList(RenderContext& c, std::span<const DrawnItem> list, const cairo_matrix_t& m, const ColorTransform& cx) {
  std::vector<std::unique_ptr<ClipMask>> masks, finished;
  std::vector<const ClipMask*> groupMasks;
  std::vector<const DrawnItem*> group;
  auto activeAt = [&](int depth) {
    std::vector<const ClipMask*> out;
    for (const auto& mk : masks) {
      if (mk->item->clipDepth >= depth) out.push_back(mk.get());
    }
    return out;
  };
  auto flush = [&]() {
    if (group.empty()) return;
    if (groupMasks.empty()) {
      for (const DrawnItem* item : group) DrawItem(c, *item, m, cx);
    } else {
      DrawUnderMasks(c, group, groupMasks, 0, m, cx);
    }
    group.clear();
  };
  const DrawnItem* const end = list.data() + list.size();
  for (const DrawnItem* item = list.data(); item < end; item = Next(item)) {
    // Masks whose range has ended are done with (the current group keeps its own).
    for (std::size_t i = 0; i < masks.size();) {
      if (masks[i]->item->clipDepth < item->depth) {
        finished.push_back(std::move(masks[i]));
        masks.erase(masks.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    if (item->clipDepth > 0) {
      // Overlapping masks nest; a few levels are enough for real movies.
      if (masks.size() < 8) masks.push_back(std::make_unique<ClipMask>(ClipMask{item, activeAt(item->depth)}));
      continue;
    }
    std::vector<const ClipMask*> active = activeAt(item->depth);
    if (active != groupMasks) {
      flush();
      groupMasks = std::move(active);
    }
    group.push_back(item);
  }
  flush();
}

// A bitmap placed directly draws at one pixel per 20 twips.
void DrawBitmap(RenderContext& c, const BitmapDef& b, const cairo_matrix_t& m, const ColorTransform& cx,
                bool smooth = false) {
  FillStyle f;
  f.kind = FillStyle::Kind::kBitmap;
  f.bitmapId = b.id;
  // A script's bitmap is in no library: the fill names it directly (not owning it).
  if (b.id == 0) f.scriptBitmap = std::shared_ptr<const BitmapDef>(std::shared_ptr<const BitmapDef>(), &b);
  f.matrix.scaleX = f.matrix.scaleY = 20;
  f.smooth = smooth;
  ShapeLayer layer;
  layer.fills.push_back(f);
  layer.fillPaths.push_back({Edge{0, 0, 0, 0, b.width * 20.0, 0, false},
                             Edge{b.width * 20.0, 0, 0, 0, b.width * 20.0, b.height * 20.0, false},
                             Edge{b.width * 20.0, b.height * 20.0, 0, 0, 0, b.height * 20.0, false},
                             Edge{0, b.height * 20.0, 0, 0, 0, 0, false}});
  DrawLayer(c, layer, m, cx);
}

// A video shows its picture stretched to the stream's declared size (its
// own size when none is declared); smoothed when asked for and the quality
// allows, or at Best.
void DrawVideo(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& m, const ColorTransform& cx) {
  if (!inst.video) return;
  const auto& stream = static_cast<const VideoDef&>(*inst.def).stream;
  const bool smooth = (inst.videoSmoothing && c.options.quality >= Quality::qHigh) || c.options.quality == Quality::qBest;
  const int w = stream.width > 0 ? stream.width : inst.video->width;
  const int h = stream.height > 0 ? stream.height : inst.video->height;
  DrawPicture(c, *inst.video, m, cx, w * 20.0, h * 20.0, smooth);
}

}  // namespace

// A shape of a nine-slice sprite: its edges in the sprite's space, moved
// by the grid, drawn under the sprite's own matrix.
void DrawSliced(RenderContext& c, const NineSlice& n, const ShapeGeometry& g, const Matrix& own, const ColorTransform& cx) {
  const cairo_matrix_t cm = ToCairo(own);
  ShapeGeometry out = g;
  auto map = [&](double& x, double& y) {
    cairo_matrix_transform_point(&cm, &x, &y);
    x = n.MapX(x), y = n.MapY(y);
  };
  for (ShapeLayer& layer : out.layers) {
    for (auto* paths : {&layer.fillPaths, &layer.linePaths})
      for (auto& path : *paths)
        for (Edge& e : path) map(e.x0, e.y0), map(e.cx, e.cy), map(e.x1, e.y1);
  }
  out.bounds = {static_cast<std::int32_t>(n.l), static_cast<std::int32_t>(n.r), static_cast<std::int32_t>(n.t),
                static_cast<std::int32_t>(n.b)};
  DrawGeometry(c, out, n.device, cx);
}

// The grid of a sprite drawn nine-slice (a script's, else its symbol's),
// with the extent of its shapes and its own drawing; null when it has none
// or nothing to slice.
std::optional<NineSlice> NineSliceOf(const RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& m) {
  Rect grid;
  if (inst.scale9Grid) {
    grid = *inst.scale9Grid;
  } else {
    auto it = c.lib.scalingGrids.find(inst.def->id);
    if (it == c.lib.scalingGrids.end()) return std::nullopt;
    grid = it->second;
  }
  Box box;
  if (inst.drawing && inst.drawingBounds) {
    const Rect& r = inst.drawing->bounds;
    box.x0 = r.xmin, box.x1 = r.xmax, box.y0 = r.ymin, box.y1 = r.ymax;
  }
  const auto children = Children(inst);
  for (const DrawnItem* child = children.data(); child < children.data() + children.size(); child = Next(child)) {
    if (!child->def || child->def->kind != Character::Kind::kShape) continue;
    const Rect& r = static_cast<const ShapeDef*>(child->def)->geometry.bounds;
    const cairo_matrix_t cm = ToCairo(child->matrix);
    for (auto [x, y] : {std::pair{double(r.xmin), double(r.ymin)}, std::pair{double(r.xmax), double(r.ymin)},
                        std::pair{double(r.xmin), double(r.ymax)}, std::pair{double(r.xmax), double(r.ymax)}}) {
      cairo_matrix_transform_point(&cm, &x, &y);
      box.x0 = std::min(box.x0, x), box.x1 = std::max(box.x1, x);
      box.y0 = std::min(box.y0, y), box.y1 = std::max(box.y1, y);
    }
  }
  const cairo_matrix_t own = ToCairo(inst.matrix);
  // A rotated or skewed sprite scales as a whole: Flash drops the grid.
  if (std::fabs(own.yx) > 1e-9 || std::fabs(own.xy) > 1e-9) return std::nullopt;
  const double sx = std::fabs(own.xx), sy = std::fabs(own.yy);
  if (box.Empty() || !(sx > 1e-9) || !(sy > 1e-9)) return std::nullopt;
  NineSlice n;
  n.l = box.x0, n.r = box.x1, n.t = box.y0, n.b = box.y1;
  n.gl = grid.xmin, n.gr = grid.xmax, n.gt = grid.ymin, n.gb = grid.ymax;
  n.sx = sx, n.sy = sy;
  n.device = m;
  n.nesting = c.nesting + 1;
  return n;
}

void DrawItemBody(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& m, const ColorTransform& cx) {
  const Character* d = inst.def;
  switch (d->kind) {
    case Character::Kind::kShape:
      if (c.nineSlice && c.nineSlice->nesting == c.nesting) {
        DrawSliced(c, *c.nineSlice, static_cast<const ShapeDef*>(d)->geometry, inst.matrix, cx);
        break;
      }
      DrawGeometry(c, static_cast<const ShapeDef*>(d)->geometry, m, cx, d);
      break;
    case Character::Kind::kMorph:
      if (inst.morph) {
        DrawGeometry(c, *inst.morph, m, cx, d, inst.ratio);
      } else {
        // A list made without the stage carries no morph shape.
        const ShapeGeometry g = MorphAt(static_cast<const MorphDef&>(*d), inst.ratio / 65535.0);
        DrawGeometry(c, g, m, cx, d, inst.ratio);
      }
      break;
    case Character::Kind::kSprite:
      if (inst.ownList && c.nesting < kMaxSpriteNesting) {
        const std::optional<NineSlice> slice = NineSliceOf(c, inst, m);
        // The sprite's own drawing is sliced by its grid as its shapes are.
        if (inst.drawing && slice) DrawSliced(c, *slice, *inst.drawing, Matrix{}, cx);
        else if (inst.drawing) DrawGeometry(c, *inst.drawing, m, cx);
        const NineSlice* outer = c.nineSlice;
        if (slice) c.nineSlice = &*slice;
        ++c.nesting;
        if (inst.lib && inst.lib != &c.lib) {
          // A loaded movie: its fonts, bitmaps and buttons by its own ids.
          RenderContext loaded{c.cr, *inst.lib, c.options, c.mask, c.nesting, c.layers, c.items, c.base, c.masking};
          DrawList(loaded, Children(inst), m, cx);
        } else {
          DrawList(c, Children(inst), m, cx);
        }
        --c.nesting;
        c.nineSlice = outer;
      }
      break;
    case Character::Kind::kButton: {
      // The characters of the state shown, kept by the stage.
      if (inst.ownList) {
        if (c.nesting < kMaxSpriteNesting) {
          ++c.nesting;
          DrawList(c, Children(inst), m, cx);
          --c.nesting;
        }
        break;
      }
      for (const auto& rec : static_cast<const ButtonDef&>(*d).records) {
        if (!(rec.states & kButtonUp)) continue;
        const Character* ch = c.lib.Find(rec.characterId);
        if (!ch || ch->kind == Character::Kind::kButton || c.nesting >= kMaxSpriteNesting) continue;
        DrawnItem child;
        child.def = ch;
        child.matrix = rec.matrix;
        child.cxform = rec.cxform;
        ++c.nesting;
        // Sprites inside buttons show their first frame.
        if (ch->kind != Character::Kind::kSprite) DrawItem(c, child, m, cx);
        --c.nesting;
      }
      break;
    }
    case Character::Kind::kText:
      DrawStaticText(c, static_cast<const TextDef&>(*d), m, cx);
      break;
    case Character::Kind::kEditText: {
      const auto& e = static_cast<const EditTextDef&>(*d);
      if (inst.field) DrawTextLook(c, *inst.field, m, cx);
      else DrawEditText(c, e, inst.text ? *inst.text : e.text, m, cx);
      break;
    }
    case Character::Kind::kBitmap:
      DrawBitmap(c, static_cast<const BitmapDef&>(*d), m, cx, inst.bitmapSmoothing);
      break;
    case Character::Kind::kVideo:
      DrawVideo(c, inst, m, cx);
      break;
    case Character::Kind::kFont:
      break;
  }
}

void DrawItem(RenderContext& c, const DrawnItem& inst, const cairo_matrix_t& parent, const ColorTransform& parentCx) {
  // An object in three dimensions inside another is drawn by that one.
  if (!inst.def || inst.nested3D) return;
  const bool asMask = c.mask || c.alphaMask == &inst;
  if (!asMask && inst.scriptMask) return;
  if (!inst.visible && !(asMask && inst.scriptMask)) return;
  if (inst.maskSerial && !c.mask && c.masking != &inst && DrawScriptMasked(c, inst, parent, parentCx)) return;
  if (inst.projection) {
    DrawProjected(c, inst, parent, parentCx);
    return;
  }
  cairo_matrix_t m;
  const cairo_matrix_t own = ToCairo(inst.matrix);
  // Inside a mask an object's scrollRect moves it but does not crop it.
  const bool scrolled = inst.scrollRect && !asMask;
  cairo_matrix_multiply(&m, &own, &parent);
  if (!Invertible(m)) return;
  const ColorTransform cx = Compose(parentCx, inst.cxform);
  if (!c.mask && cx.alphaMult <= 0 && cx.alphaAdd <= 0) return;
  if (!scrolled && !inst.opaqueBackground) {
    DrawBlended(c, inst, parent, m, cx);
    return;
  }
  cairo_save(c.cr);
  cairo_set_matrix(c.cr, &m);
  if (scrolled) {
    const auto& s = *inst.scrollRect;
    cairo_rectangle(c.cr, s[0], s[1], s[2], s[3]);
    cairo_clip(c.cr);
  }
  if (inst.opaqueBackground && !c.mask) {
    const Rect& r = inst.opaqueRect;
    const std::uint32_t rgb = *inst.opaqueBackground;
    cairo_rectangle(c.cr, r.xmin, r.ymin, r.Width(), r.Height());
    cairo_set_source_rgb(c.cr, ((rgb >> 16) & 255) / 255.0, ((rgb >> 8) & 255) / 255.0, (rgb & 255) / 255.0);
    cairo_fill(c.cr);
  }
  cairo_identity_matrix(c.cr);
  DrawBlended(c, inst, parent, m, cx);
  cairo_restore(c.cr);
}

void RenderItems(cairo_t* cr, const MovieLibrary& lib, std::span<const DrawnItem> items, const cairo_matrix_t& base,
                 const RenderOptions& options) {
  RenderContext c{cr, lib, options};
  c.items = items;
  // The main timeline's own transform lies under everything it holds.
  cairo_matrix_t under = base;
  ColorTransform rootCx;
  if (!items.empty() && items.front().level < 0) {
    const cairo_matrix_t own = ToCairo(items.front().matrix);
    cairo_matrix_multiply(&under, &own, &base);
    rootCx = items.front().cxform;
  }
  c.base = under;
  cairo_save(cr);
  cairo_set_antialias(cr, options.quality == Quality::qLow    ? CAIRO_ANTIALIAS_NONE
                          : options.quality == Quality::qBest ? CAIRO_ANTIALIAS_BEST
                                                              : CAIRO_ANTIALIAS_DEFAULT);
  cairo_set_tolerance(cr, options.quality == Quality::qBest ? 0.05 : 0.2);
  if (!items.empty() && items.front().level < 0) {
    const DrawnItem& root = items.front();
    if (root.drawing) DrawGeometry(c, *root.drawing, under, rootCx);
    if (root.lib && root.lib != &lib) {
      // A movie loaded into _level0 took the main movie's place.
      RenderContext loaded{cr, *root.lib, options};
      loaded.items = items;
      loaded.base = under;
      DrawList(loaded, Children(root), under, rootCx);
    } else {
      DrawList(c, Children(root), under, rootCx);
    }
  } else {
    DrawList(c, items, base, ColorTransform{});
  }
  cairo_restore(cr);
}

void RenderGeometry(cairo_t* cr, const MovieLibrary& lib, const ShapeGeometry& g, const cairo_matrix_t& m,
                    const ColorTransform& cx, const RenderOptions& options) {
  RenderContext c{cr, lib, options};
  cairo_save(cr);
  DrawGeometry(c, g, m, cx);
  cairo_restore(cr);
}

}  // namespace quarvel::player
