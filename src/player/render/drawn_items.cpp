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

Matrix Projected(const Instance& inst, const Matrix& flat) {
  if (!inst.depth3D) return flat;
  const Depth3D& d = *inst.depth3D;
  Rect r;
  if (!Stage::LocalBounds(inst, r) || r.xmax <= r.xmin || r.ymax <= r.ymin) return flat;
  // The 2D matrix as scale and rotation (no skew), rotationX and rotationY
  // between them, then the perspective divide about the centre.
  const double sx = std::hypot(flat.scaleX, flat.rotateSkew0);
  const double det = flat.scaleX * flat.scaleY - flat.rotateSkew0 * flat.rotateSkew1;
  const double sy = std::hypot(flat.rotateSkew1, flat.scaleY) * (det < 0 ? -1 : 1);
  const double turn = std::atan2(flat.rotateSkew0, flat.scaleX);
  const double ax = d.rotationX * M_PI / 180, ay = d.rotationY * M_PI / 180;
  bool behind = false;
  const auto project = [&](double u, double v) {
    const double x1 = sx * u, y1 = sy * v;
    const double x2 = x1 * std::cos(ay) + y1 * std::sin(ax) * std::sin(ay);
    const double y2 = y1 * std::cos(ax);
    const double z2 = (-x1 * std::sin(ay) + y1 * std::sin(ax) * std::cos(ay)) * d.scaleZ;
    const double x3 = x2 * std::cos(turn) - y2 * std::sin(turn), y3 = x2 * std::sin(turn) + y2 * std::cos(turn);
    const double X = flat.translateX + x3, Y = flat.translateY + y3, Z = d.z + z2;
    const double depth = d.focalLength + Z;
    if (depth <= d.focalLength * 0.01) behind = true;
    const double k = d.focalLength / std::max(depth, d.focalLength * 0.01);
    return std::array<double, 2>{d.centerX + (X - d.centerX) * k, d.centerY + (Y - d.centerY) * k};
  };
  const double cu = (r.xmin + r.xmax) / 2.0, cv = (r.ymin + r.ymax) / 2.0;
  const double w = r.xmax - r.xmin, h = r.ymax - r.ymin;
  const auto c = project(cu, cv), left = project(r.xmin, cv), right = project(r.xmax, cv);
  const auto top = project(cu, r.ymin), bottom = project(cu, r.ymax);
  Matrix m;
  if (behind) {
    // Behind the eye: nothing of it shows.
    m.scaleX = m.scaleY = 0;
    return m;
  }
  // The affine map that best follows the projection through the middle.
  m.scaleX = (right[0] - left[0]) / w;
  m.rotateSkew0 = (right[1] - left[1]) / w;
  m.rotateSkew1 = (bottom[0] - top[0]) / h;
  m.scaleY = (bottom[1] - top[1]) / h;
  m.translateX = static_cast<std::int32_t>(std::lround(std::clamp(c[0] - m.scaleX * cu - m.rotateSkew1 * cv, -2e9, 2e9)));
  m.translateY = static_cast<std::int32_t>(std::lround(std::clamp(c[1] - m.rotateSkew0 * cu - m.scaleY * cv, -2e9, 2e9)));
  return m;
}

namespace {

class Lister {
 public:
  Lister(const List& root, std::vector<DrawnItem>& out, bool avm1 = false) : root_(root), out_(out), avm1_(avm1) {}

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
      item.matrix = Projected(inst, inst.matrix);
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
      item.scale9Grid = inst.scale9Grid;
      if (inst.opaqueBackground && Stage::LocalBounds(inst, item.opaqueRect)) item.opaqueBackground = inst.opaqueBackground;
      item.bitmapSmoothing = inst.bitmapSmoothing;
      if (inst.bitmap) item.bitmapVersion = inst.bitmap->Version();
      // A hidden clip draws nothing, but a script mask inside it still masks.
      if (inst.sprite && level <= kMaxSpriteNesting && (inst.visible || HoldsMask(inst, level))) {
        Add(inst.sprite->list, level + 1, index);
      }
      out_[static_cast<std::size_t>(index)].descendants = static_cast<std::uint32_t>(out_.size()) - index - 1;
    }
  }

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
};

}  // namespace

void ListDrawnItemsOf(const Instance& inst, std::vector<DrawnItem>& out, const Instance* mask,
                      const Matrix& maskMatrix) {
  if (inst.sprite && !mask) {
    ListDrawnItems(*inst.sprite, out);
    return;
  }
  const std::size_t first = out.size();
  DrawnItem& top = out.emplace_back();
  top.level = -1;
  top.ownList = true;
  static const List kNone;
  Lister lister(kNone, out);
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
  Lister lister(root.list, out, avm1);
  lister.Add(root.list, 0, static_cast<int>(first));
  out[first].descendants = static_cast<std::uint32_t>(out.size() - first - 1);
  lister.MarkMaskTargets(first);
}

}  // namespace quarvel::player
