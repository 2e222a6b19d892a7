#include "player/render/drawn_items.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "player/render/bitmap_data.h"
#include "player/library/shape_parser.h"
#include "player/display/stage.h"
#include "player/display/video_display.h"
#include "player/text/text_field.h"

namespace quarvel::player {
namespace {

using List = DisplayList;

// A drawing changes with the bitmaps it fills with.
std::uint64_t DrawingVersion(const Drawing& d) {
  std::uint64_t v = d.version;
  for (const auto& b : d.bitmaps) v = std::max(v, b->Version());
  return v;
}

}  // namespace

rules::M4 Matrix3DOf(const Matrix& flat, const Depth3D& d) {
  return rules::Place3D(flat.scaleX, flat.rotateSkew0, flat.rotateSkew1, flat.scaleY, flat.translateX, flat.translateY,
                        d.z, d.rotationX, d.rotationY, d.scaleZ);
}

rules::Perspective DefaultPerspective(double width, double height) {
  return {width / 2 / std::tan(55.0 / 2 * M_PI / 180), width / 2, height / 2};
}

Matrix NearestAffine(const rules::H3& h, double x, double y) {
  Matrix m;
  const double w = rules::DepthOf(h, x, y);
  if (!(w > 0)) {
    m.scaleX = m.scaleY = 0;
    return m;
  }
  const double X = (h[0] * x + h[1] * y + h[2]) / w, Y = (h[3] * x + h[4] * y + h[5]) / w;
  // The derivative of (X / W, Y / W) at the point.
  m.scaleX = (h[0] - X * h[6]) / w;
  m.rotateSkew1 = (h[1] - X * h[7]) / w;
  m.rotateSkew0 = (h[3] - Y * h[6]) / w;
  m.scaleY = (h[4] - Y * h[7]) / w;
  const auto twips = [](double v) {
    return std::isfinite(v) ? static_cast<std::int32_t>(std::lround(std::clamp(v, -2e9, 2e9))) : 0;
  };
  m.translateX = twips(X - m.scaleX * x - m.rotateSkew1 * y);
  m.translateY = twips(Y - m.rotateSkew0 * x - m.scaleY * y);
  return m;
}

namespace {

// Where the items being listed stand in three dimensions.
struct Space {
  rules::Perspective seen;  // the projection the objects below are seen through, in its owner's space
  // Outside any object in three dimensions: the parent's space to the
  // owner's (2D, as a, b, c, d, tx, ty).
  std::array<double, 6> toOwner{1, 0, 0, 1, 0, 0};
  // Inside one (`root3D`, its index): the parent's space to the owner's in
  // three dimensions, and the owner's space to where that one is drawn.
  bool in3D = false;
  int root3D = -1;
  rules::M4 toOwner3D = rules::kIdentity4;
  rules::H3 anchor = rules::kIdentity3;
};

class Lister {
 public:
  Lister(const List& root, std::vector<DrawnItem>& out, bool avm1 = false,
         const rules::Perspective& seen = DefaultPerspective(11000, 8000))
      : root_(root), out_(out), avm1_(avm1) {
    space_.seen = seen;
  }

  void Add(const List& list, int level, int parent) {
    for (const auto& [depth, inst] : list) AddOne(depth, inst, level, parent);
  }

  void AddOne(int depth, const Instance& inst, int level, int parent) {
    {
      const auto index = static_cast<int>(out_.size());
      DrawnItem& item = out_.emplace_back();
      item.level = level;
      item.depth = depth;
      item.def = inst.def;
      item.matrix = index == drawnFlat_ ? Matrix{} : inst.matrix;
      item.cxform = inst.cxform;
      item.ratio = inst.ratio;
      item.clipDepth = inst.clipDepth;
      item.blendMode = inst.blendMode;
      item.blendShader = inst.blendShader;
      item.visible = inst.visible;
      // Filters and a script mask cancel each other on ActionScript 1/2 clips.
      const bool plain = avm1_ && inst.maskSerial && !inst.filters.empty();
      if (!inst.filters.empty() && !plain) item.filters = inst.filters;
      item.serial = inst.serial;
      item.maskSerial = plain ? kNoClip : inst.maskSerial;
      item.scriptMask = inst.scriptMask;
      item.cacheAsBitmap = inst.cacheAsBitmap || !item.filters.empty();
      item.ownList = inst.sprite != nullptr;
      if (inst.sprite) item.lib = inst.sprite->lib;
      item.text = inst.text;
      if (inst.field) item.field = inst.field->Look();
      item.parent = parent;
      if (item.maskSerial) masks_.push_back(item.maskSerial);
      if (inst.def && inst.def->kind == Character::Kind::kMorph) {
        // Kept on the instance: a morph at rest is computed once.
        if (inst.morphCacheRatio != inst.ratio || !inst.morphCache) {
          inst.morphCache = std::make_shared<ShapeGeometry>(MorphAt(static_cast<const MorphDef&>(*inst.def),
                                                                    inst.ratio / 65535.0));
          inst.morphCacheRatio = inst.ratio;
        }
        item.morph = inst.morphCache;
      }
      if (inst.video) {
        item.video = inst.video->Shown();
        item.videoSmoothing = inst.video->Smoothing();
      }
      if (inst.sprite && inst.sprite->drawing) {
        item.drawing = &inst.sprite->drawing->geometry;
        item.drawingBounds = inst.sprite->drawing->hasBounds;
        item.drawingVersion = DrawingVersion(*inst.sprite->drawing);
      }
      if (inst.scrollRect) {
        const auto& s = *inst.scrollRect;
        const double x = s[0] * 20, y = s[1] * 20;
        item.scrollRect = std::array<double, 4>{x, y, s[2] * 20, s[3] * 20};
        Matrix& m = item.matrix;
        m.translateX = static_cast<std::int32_t>(std::lround(std::clamp(m.translateX - m.scaleX * x - m.rotateSkew1 * y, -2e9, 2e9)));
        m.translateY = static_cast<std::int32_t>(std::lround(std::clamp(m.translateY - m.rotateSkew0 * x - m.scaleY * y, -2e9, 2e9)));
      }
      const Space outer = space_;
      Place3D(inst, item, index);
      item.scale9Grid = inst.scale9Grid;
      if (inst.opaqueBackground && Stage::LocalBounds(inst, item.opaqueRect)) item.opaqueBackground = inst.opaqueBackground;
      item.bitmapSmoothing = inst.bitmapSmoothing;
      if (inst.bitmap) item.bitmapVersion = inst.bitmap->Version();
      // A hidden clip draws nothing, but a script mask inside it still masks.
      if (inst.sprite && level <= kMaxSpriteNesting && (inst.visible || HoldsMask(inst, level))) {
        Add(inst.sprite->list, level + 1, index);
      }
      space_ = outer;
      out_[static_cast<std::size_t>(index)].descendants = static_cast<std::uint32_t>(out_.size()) - index - 1;
      KeepFlatWhenAffine(index);
    }
  }

  // Pushed back or forward only (no turn out of the plane), with nothing
  // inside it in three dimensions of its own, an object is seen through an
  // affine map: it is drawn as a flat one, through its matrix.
  void KeepFlatWhenAffine(int index) {
    DrawnItem& item = out_[static_cast<std::size_t>(index)];
    if (!item.projection || item.nested3D != 0) return;
    const rules::H3& h = *item.projection;
    if (h[6] != 0 || h[7] != 0 || !(h[8] > 0)) return;
    for (std::size_t k = static_cast<std::size_t>(index) + 1; k < out_.size(); ++k)
      if (out_[k].projection && out_[k].nested3D == k - static_cast<std::size_t>(index)) return;
    item.matrix = NearestAffine(h, 0, 0);
    item.projection.reset();
  }

  // The item's projection when it or an object around it is in three
  // dimensions, and the space its children are listed in.
  void Place3D(const Instance& inst, DrawnItem& item, int index) {
    const Matrix& own = item.matrix;  // with its scrollRect's move
    const Depth3D* depth = index == drawnFlat_ || !inst.depth3D ? nullptr : &*inst.depth3D;
    if (!depth && !space_.in3D) {
      if (inst.perspective) {
        space_.seen = *inst.perspective;
        space_.toOwner = {1, 0, 0, 1, 0, 0};
      } else {
        // Cheap for flat movies: a 2D product per object.
        const auto& t = space_.toOwner;
        space_.toOwner = {t[0] * own.scaleX + t[2] * own.rotateSkew0, t[1] * own.scaleX + t[3] * own.rotateSkew0,
                          t[0] * own.rotateSkew1 + t[2] * own.scaleY, t[1] * own.rotateSkew1 + t[3] * own.scaleY,
                          t[0] * own.translateX + t[2] * own.translateY + t[4],
                          t[1] * own.translateX + t[3] * own.translateY + t[5]};
      }
      return;
    }
    const rules::M4 mine = depth ? Matrix3DOf(own, *depth)
                                        : rules::Flat4(own.scaleX, own.rotateSkew0, own.rotateSkew1, own.scaleY,
                                                       own.translateX, own.translateY);
    if (!space_.in3D) {
      // The first object in three dimensions below the owner: drawn in its
      // parent's space, where the owner's is a 2D map away.
      const auto& t = space_.toOwner;
      const rules::H3 parentToOwner = rules::Affine3(t[0], t[1], t[2], t[3], t[4], t[5]);
      space_.in3D = true;
      space_.root3D = index;
      space_.toOwner3D = rules::Flat4(t[0], t[1], t[2], t[3], t[4], t[5]);
      if (!rules::Invert3(parentToOwner, space_.anchor)) space_.anchor = rules::H3{};
    }
    space_.toOwner3D = rules::Mul4(space_.toOwner3D, mine);
    if (depth) {
      rules::H3 h = rules::Mul3(space_.anchor, rules::PlaneSeen(space_.seen, space_.toOwner3D));
      if (!(space_.seen.focal > 0)) h = rules::H3{};
      item.projection = h;
      item.nested3D = static_cast<std::uint32_t>(index - space_.root3D);
      // Matrix readers see the nearest affine map, about the middle of its
      // content in the space it is drawn into.
      Rect r;
      const bool bounded = Stage::LocalBounds(inst, r) && r.xmax >= r.xmin && r.ymax >= r.ymin;
      const double cx = bounded ? (r.xmin + r.xmax) / 2.0 : 0, cy = bounded ? (r.ymin + r.ymax) / 2.0 : 0;
      if (item.nested3D == 0) {
        item.matrix = NearestAffine(h, cx, cy);
      } else {
        // Its matrix is read against its parent, drawn flat.
        item.matrix = own;
      }
    }
    if (inst.perspective) {
      // Its own projection: the objects below it are drawn in its plane.
      space_ = Space{};
      space_.seen = *inst.perspective;
    }
  }

  // The item at `index` is listed without its own placement.
  void DrawFlat(int index) { drawnFlat_ = index; }

  // Marks the items that the listed script masks name.
  void MarkMaskTargets(std::size_t from) {
    if (masks_.empty()) return;
    std::sort(masks_.begin(), masks_.end());
    for (std::size_t i = from; i < out_.size(); ++i) {
      DrawnItem& item = out_[i];
      if (item.serial && std::binary_search(masks_.begin(), masks_.end(), item.serial)) item.maskTarget = true;
    }
  }

 private:
  bool MaskRelated(const Instance& inst) {
    if (inst.scriptMask) return true;
    if (!gathered_) {
      Gather(root_, 0);
      std::sort(allMasks_.begin(), allMasks_.end());
      gathered_ = true;
    }
    return std::binary_search(allMasks_.begin(), allMasks_.end(), inst.serial);
  }

  bool HoldsMask(const Instance& inst, int level) {
    if (MaskRelated(inst)) return true;
    if (!inst.sprite || level > kMaxSpriteNesting) return false;
    for (const auto& [depth, child] : inst.sprite->list) {
      if (HoldsMask(child, level + 1)) return true;
    }
    return false;
  }

  // Every mask named anywhere, hidden clips included.
  void Gather(const List& list, int level) {
    for (const auto& [depth, inst] : list) {
      if (inst.maskSerial) allMasks_.push_back(inst.maskSerial);
      if (inst.sprite && level <= kMaxSpriteNesting) Gather(inst.sprite->list, level + 1);
    }
  }

  const List& root_;
  std::vector<DrawnItem>& out_;
  std::vector<std::uint64_t> masks_;
  std::vector<std::uint64_t> allMasks_;
  bool gathered_ = false;
  bool avm1_ = false;
  Space space_;
  int drawnFlat_ = -1;
};

}  // namespace

namespace {
// A timeline listed as the main one, its objects in three dimensions seen through `seen`.
void ListTimeline(const TimelineState& root, std::vector<DrawnItem>& out, bool avm1, const rules::Perspective& seen);
}  // namespace

void ListDrawnItemsOf(const Instance& inst, std::vector<DrawnItem>& out, const Instance* mask,
                      const Matrix& maskMatrix, const rules::Perspective* seen) {
  const rules::Perspective view = seen ? *seen : DefaultPerspective(11000, 8000);
  if (inst.sprite && !mask) {
    ListTimeline(*inst.sprite, out, false, inst.perspective ? *inst.perspective : view);
    return;
  }
  const std::size_t first = out.size();
  DrawnItem& top = out.emplace_back();
  top.level = -1;
  top.ownList = true;
  static const List kNone;
  Lister lister(kNone, out, false, inst.perspective ? *inst.perspective : view);
  lister.DrawFlat(static_cast<int>(first + 1));
  lister.AddOne(inst.depth, inst, 0, static_cast<int>(first));
  // Its own placement is not drawn.
  DrawnItem& self = out[first + 1];
  self.matrix = Matrix{};
  self.cxform = ColorTransform{};
  self.blendMode = 0;
  self.blendShader.reset();
  self.filters.clear();
  self.visible = true;
  self.scrollRect.reset();
  self.maskSerial = kNoClip;
  // Its mask still masks it, placed where it stands on the stage.
  if (mask && mask != &inst && inst.maskSerial == mask->serial) {
    self.maskSerial = mask->serial;
    const std::size_t at = out.size();
    lister.AddOne(mask->depth, *mask, 0, static_cast<int>(first));
    out[at].matrix = maskMatrix;
    out[at].visible = true;
  }
  out[first].descendants = static_cast<std::uint32_t>(out.size() - first - 1);
  lister.MarkMaskTargets(first);
}

void ListDrawnItems(const TimelineState& root, std::vector<DrawnItem>& out, bool avm1) {
  ListTimeline(root, out, avm1, root.perspective ? *root.perspective : DefaultPerspective(11000, 8000));
}

namespace {

void ListTimeline(const TimelineState& root, std::vector<DrawnItem>& out, bool avm1, const rules::Perspective& seen) {
  const std::size_t first = out.size();
  {
    DrawnItem& top = out.emplace_back();
    top.level = -1;
    top.ownList = true;
    top.lib = root.lib;
    top.matrix = root.matrix;
    top.cxform = root.cxform;
    if (root.drawing) {
      top.drawing = &root.drawing->geometry;
      top.drawingBounds = root.drawing->hasBounds;
      top.drawingVersion = DrawingVersion(*root.drawing);
    }
  }
  Lister lister(root.list, out, avm1, seen);
  lister.Add(root.list, 0, static_cast<int>(first));
  out[first].descendants = static_cast<std::uint32_t>(out.size() - first - 1);
  lister.MarkMaskTargets(first);
}

}  // namespace

}  // namespace quarvel::player
