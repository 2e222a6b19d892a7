// The stage's side of scripting: clip properties, clips made and removed by
// scripts, and jumps by frame number or label.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_classes.h"
#include "player/render/bitmap_data.h"
#include "player/sound_events.h"
#include "player/display/stage.h"
#include "player/display/video_display.h"
#include "player/text/text_field.h"
#include "player/swf/tags.h"

namespace quarvel::player {
namespace {

// _x and _y from scripts: pixels to twips, a value past the 32-bit range
// (Infinity too) becoming its lowest one as Flash's integer conversion does.
std::int32_t ScriptTwips(double pixels) {
  const double t = std::round(pixels * 20);
  return t >= -2147483648.0 && t < 2147483648.0 ? static_cast<std::int32_t>(t) : INT32_MIN;
}

// Script depth 0 is display-list depth 16384: timeline depths are negative to scripts.
constexpr int kDepthOffset = 16384;
constexpr std::size_t kMaxLoadedMovies = 256;
// The highest depth scripts may use (attachMovie, duplicateMovieClip...).
constexpr int kMaxScriptDepth = 2130690044;
// _level1 and up lie in the main timeline's list above every script depth.
constexpr int kLevelBase = kDepthOffset + kMaxScriptDepth + 1;
constexpr int kMaxLevel = 0x7FFFFFFF - kLevelBase;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct Box {
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  bool Empty() const { return x0 > x1; }
  void Add(double x, double y) {
    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
  }
  void AddRect(const Rect& r, const Matrix& m) {
    const double xs[2] = {static_cast<double>(r.xmin), static_cast<double>(r.xmax)};
    const double ys[2] = {static_cast<double>(r.ymin), static_cast<double>(r.ymax)};
    for (double x : xs) {
      for (double y : ys) {
        Add(transform::RoundTwips(transform::LinearF(m.scaleX, x, m.rotateSkew1, y)) + double(m.translateX),
            transform::RoundTwips(transform::LinearF(m.rotateSkew0, x, m.scaleY, y)) + double(m.translateY));
      }
    }
  }
};

Matrix Multiply(const Matrix& child, const Matrix& parent) {
  Matrix r;
  r.scaleX = child.scaleX * parent.scaleX + child.rotateSkew0 * parent.rotateSkew1;
  r.rotateSkew0 = child.scaleX * parent.rotateSkew0 + child.rotateSkew0 * parent.scaleY;
  r.rotateSkew1 = child.rotateSkew1 * parent.scaleX + child.scaleY * parent.rotateSkew1;
  r.scaleY = child.rotateSkew1 * parent.rotateSkew0 + child.scaleY * parent.scaleY;
  r.translateX = static_cast<std::int32_t>(
      std::lround(child.translateX * parent.scaleX + child.translateY * parent.rotateSkew1 + parent.translateX));
  r.translateY = static_cast<std::int32_t>(
      std::lround(child.translateX * parent.rotateSkew0 + child.translateY * parent.scaleY + parent.translateY));
  return r;
}

// `edges`: the bounds without strokes (getRect).
void CharacterBox(const Character* d, const Matrix& m, Box& box, bool edges) {
  if (!d) return;
  switch (d->kind) {
    case Character::Kind::kShape: {
      const auto* s = static_cast<const ShapeDef*>(d);
      box.AddRect(edges ? s->edgeBounds : s->geometry.bounds, m);
      break;
    }
    case Character::Kind::kMorph: {
      const auto* s = static_cast<const MorphDef*>(d);
      box.AddRect(edges ? s->startEdgeBounds : s->startBounds, m);
      break;
    }
    case Character::Kind::kText: box.AddRect(static_cast<const TextDef*>(d)->bounds, m); break;
    case Character::Kind::kEditText: box.AddRect(static_cast<const EditTextDef*>(d)->bounds, m); break;
    case Character::Kind::kBitmap: {
      const auto* b = static_cast<const BitmapDef*>(d);
      box.AddRect(Rect{0, b->width * 20, 0, b->height * 20}, m);
      break;
    }
    case Character::Kind::kVideo: {
      // A video is as large as its stream declares, picture or none.
      const auto& v = static_cast<const VideoDef*>(d)->stream;
      box.AddRect(Rect{0, static_cast<std::int32_t>(v.width * 20), 0, static_cast<std::int32_t>(v.height * 20)}, m);
      break;
    }
    default: break;
  }
}

void InstanceBox(const Instance& inst, const Matrix& m, Box& box, int nesting, bool edges = false) {
  if (nesting > kMaxSpriteNesting) return;
  if (inst.scrollRect) {
    // A scrolled clip is as large as its window, at its origin.
    const auto& s = *inst.scrollRect;
    box.AddRect(Rect{0, static_cast<std::int32_t>(std::lround(std::min(s[2], 1e8) * 20)), 0,
                     static_cast<std::int32_t>(std::lround(std::min(s[3], 1e8) * 20))},
                m);
    return;
  }
  if (inst.sprite) {
    if (const Drawing* d = inst.sprite->drawing.get(); d && d->hasBounds) box.AddRect(edges ? d->edgeBounds : d->geometry.bounds, m);
    for (const auto& [depth, child] : inst.sprite->list) InstanceBox(child, Multiply(child.matrix, m), box, nesting + 1, edges);
  } else if (inst.field) {
    const auto look = inst.field->Look();
    box.AddRect(Rect{static_cast<std::int32_t>(std::lround(look->x * 20)),
                     static_cast<std::int32_t>(std::lround((look->x + look->width) * 20)),
                     static_cast<std::int32_t>(std::lround(look->y * 20)),
                     static_cast<std::int32_t>(std::lround((look->y + look->height) * 20))},
                m);
  } else {
    CharacterBox(inst.def, m, box, edges);
  }
}

// _alpha in percent to the colour transform's 8.8 multiplier.
std::int32_t ScriptAlpha(double percent) {
  if (std::isinf(percent)) return 0;
  return static_cast<std::int32_t>(std::clamp(percent * 256 / 100, -1e6, 1e6));
}

bool IsSpriteDef(const Character* d) { return d && d->kind == Character::Kind::kSprite; }

}  // namespace

std::size_t Stage::FileBytes() const {
  return lib_.movie.fileLength ? lib_.movie.fileLength : lib_.movie.data.size();
}

std::size_t Stage::StoredBytes() const {
  return lib_.movie.storedBytes ? lib_.movie.storedBytes : FileBytes();
}

bool Stage::LocalBounds(const Instance& inst, Rect& out) {
  Box box;
  InstanceBox(inst, Matrix{}, box, 0);
  if (box.Empty()) return false;
  out = Rect{static_cast<std::int32_t>(std::floor(box.x0)), static_cast<std::int32_t>(std::ceil(box.x1)),
             static_cast<std::int32_t>(std::floor(box.y0)), static_cast<std::int32_t>(std::ceil(box.y1))};
  return true;
}

bool Stage::Bounds(const Instance& inst, Rect& out, bool local, bool edges) {
  Box box;
  InstanceBox(inst, local ? Matrix{} : inst.matrix, box, 0, edges);
  if (box.Empty()) {
    out = Rect{};
    return false;
  }
  out = Rect{static_cast<std::int32_t>(std::floor(box.x0)), static_cast<std::int32_t>(std::ceil(box.x1)),
             static_cast<std::int32_t>(std::floor(box.y0)), static_cast<std::int32_t>(std::ceil(box.y1))};
  return true;
}

AsValue Stage::GetClipProperty(ClipHandle clip, int index, Avm1& vm) {
  TimelineState* tl = TimelineOf(clip);
  if (!tl) return {};
  Instance* inst = Find(clip);
  // The main timeline has no instance: its place and colour are its own.
  static const Matrix kIdentity{};
  static const transform::Kept kNoKept{};
  static const ColorTransform kNoCx{};
  const bool main = !inst && clip == kRootClip;
  const Matrix& m = inst ? inst->matrix : main ? root_.matrix : kIdentity;
  const transform::Kept& kept = inst ? inst->scriptTransform : main ? rootKept_ : kNoKept;
  const ColorTransform& cx = inst ? inst->cxform : main ? root_.cxform : kNoCx;
  switch (index) {
    case 0: return AsValue::Number(m.translateX / 20.0);
    case 1: return AsValue::Number(m.translateY / 20.0);
    case 2: return AsValue::Number(transform::ScaleX(m, kept) * 100);
    case 3: return AsValue::Number(transform::ScaleY(m, kept) * 100);
    case 4: return AsValue::Number(tl->unentered ? 0 : tl->current + 1);
    case 5:
    case 12:
      // A failed load leaves no frames: none to play, -1 loaded.
      if (tl->loadedBytes == -1) return AsValue::Number(index == 5 ? 0 : -1);
      return AsValue::Number(tl->FrameCount());
    case 6: return AsValue::Number(cx.alphaMult * 100.0 / 256);
    case 7: {
      const bool visible = inst ? inst->visible : !main || rootVisible_;
      return vm.Version() >= 5 ? AsValue::Bool(visible) : AsValue::Number(visible);
    }
    case 8:
    case 9: {
      Rect r;
      if (inst) {
        Bounds(*inst, r);
      } else {
        Box box;
        for (const auto& [depth, child] : root_.list) InstanceBox(child, Multiply(child.matrix, m), box, 0);
        if (!box.Empty()) r = Rect{0, static_cast<std::int32_t>(box.x1 - box.x0), 0, static_cast<std::int32_t>(box.y1 - box.y0)};
      }
      return AsValue::Number((index == 8 ? r.Width() : r.Height()) / 20.0);
    }
    case 10: return AsValue::Number(transform::RotationDegrees(m, kept));
    case 11: return AsValue::String(vm.ClipPathText(PathOf(clip), true));
    case 13: return AsValue::String(inst ? inst->name : main ? rootName_ : "");
    case 14: {
      // Slash syntax, as Flash gives it.
      const ClipHandle target = clip == dragClip_ ? DropTarget() : kNoClip;
      return AsValue::String(target == kNoClip ? "" : vm.ClipPathText(PathOf(target), true));
    }
    case 15: {
      // The file the clip's movie came from: a loaded one's, else the main movie's.
      ClipHandle c = clip;
      for (int guard = 0; guard <= kMaxSpriteNesting && c != kNoClip; ++guard) {
        const TimelineState* t = TimelineOf(c);
        if (t && !t->url.empty()) return AsValue::String(t->url);
        const Instance* i = c == kRootClip ? nullptr : Find(c);
        if (!i) break;
        c = i->parent;
      }
      return AsValue::String(movieFolder_.empty() ? "file:///" + movieName_
                                                  : "file://" + (movieFolder_ / movieName_).string());
    }
    case 16: {
      const std::string& q = scriptQuality_;
      return AsValue::Number(q == "LOW" || q == "MEDIUM" ? 0 : q.empty() || q == "HIGH" ? 1 : 2);
    }
    case 17: return FocusRectProperty(clip, vm);
    case 18: return AsValue::Number(soundBufTime_);
    case 19: return AsValue::String(scriptQuality_.empty() ? "HIGH" : scriptQuality_);
    case 20:
    case 21: {
      double x = pointerX_, y = pointerY_;
      if (!ToClipSpace(clip, x, y)) return AsValue::Number(0);
      return AsValue::Number(std::round(index == 20 ? x : y) / 20.0);
    }
    default: return AsValue::Number(0);
  }
}

void Stage::SetScriptFrameRate(double fps) {
  // Flash takes 0.01 to 1000 frames per second.
  scriptFrameRate_ = std::max(1, static_cast<int>(std::lround(std::clamp(fps, 0.01, 1000.0) * 256)));
}

bool Stage::SetScriptQuality(std::string_view name) {
  std::string upper(name);
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "AUTOLOW") upper = "LOW";
  if (upper == "AUTOHIGH") upper = "HIGH";
  static const char* const kKnown[] = {"LOW", "MEDIUM", "HIGH", "BEST", "8X8", "8X8LINEAR", "16X16", "16X16LINEAR"};
  if (std::find(std::begin(kKnown), std::end(kKnown), upper) == std::end(kKnown)) return false;
  scriptQuality_ = upper;
  return true;
}

void Stage::SetClipProperty(ClipHandle clip, int index, const AsValue& v, Avm1& vm) {
  // The quality is the player's, whatever clip names it.
  if (index == 19) {
    SetScriptQuality(vm.ToString(v));
    return;
  }
  // Numbers leave the property as it was for undefined and null, in
  // every version (whatever they convert to), and for NaN.
  if ((index == 16 || index == 18) && v.IsNullish()) return;
  if (index == 16) {
    // Whole numbers: 0 is low, 2 and up best, anything else (negatives too) high.
    const double q = std::trunc(vm.ToNumber(v));
    if (!std::isnan(q)) SetScriptQuality(q == 0 ? "LOW" : q >= 2 ? "BEST" : "HIGH");
    return;
  }
  if (index == 18) {
    // A 32-bit integer, the infinities its lowest value; NaN leaves it.
    const double t = vm.ToNumber(v);
    if (!std::isnan(t)) soundBufTime_ = std::isinf(t) ? INT32_MIN : static_cast<int>(ToInt32(t));
    return;
  }
  if (index == 17) {
    SetFocusRectProperty(clip, v, vm);
    return;
  }
  // Numbers leave the property as it was for undefined and null, in
  // every version (whatever they convert to), and for NaN. _target,
  // _droptarget and _url are read-only and take the value unconverted.
  if ((index != 13 && v.IsNullish()) || index == 11 || index == 14 || index == 15) return;
  // Convert first: a conversion may run a script that removes the clip.
  // From version 7 a NaN name is "0".
  const bool nanName = index == 13 && vm.Version() >= 7 && v.type == AsValue::Type::kNumber && std::isnan(v.num);
  const std::string text = index == 13 ? (nanName ? "0" : vm.ToString(v)) : std::string();
  const double d = index == 13 ? 0.0 : vm.ToNumber(v);
  if (index == 7 && std::isnan(d)) return;
  const bool flag = index == 7 && d != 0;
  Instance* inst = Find(clip);
  if (!inst && clip == kRootClip) {
    if (index == 13) rootName_ = text;
    else if (index == 7) rootVisible_ = flag;
    else SetMainTransform(index, d);
    return;
  }
  if (!inst || !inst->sprite) return;
  if (index == 13) {
    inst->name = text;
    return;
  }
  if (index == 7) {
    inst->visible = flag;
    // Hidden, it (and what is inside it) loses the focus.
    if (!flag) avm1_builtins::FocusLeavingWith(vm, clip);
    return;
  }
  if (std::isnan(d)) return;
  Matrix& m = inst->matrix;
  // A position past the 32-bit twips range wraps to its lowest value; an
  // infinite scale reads back as set, an infinite rotation as NaN, an
  // infinite alpha is 0; an infinite size does nothing.
  if (std::isinf(d) && (index == 8 || index == 9)) return;
  switch (index) {
    case 0: m.translateX = ScriptTwips(d); break;
    case 1: m.translateY = ScriptTwips(d); break;
    case 2: transform::SetScaleX(m, inst->scriptTransform, d / 100); break;
    case 3: transform::SetScaleY(m, inst->scriptTransform, d / 100); break;
    case 10: transform::SetRotationDegrees(m, inst->scriptTransform, d); break;
    case 6: inst->cxform.alphaMult = ScriptAlpha(d); break;
    case 8:
    case 9: {
      Rect r;
      const bool drawn = Bounds(*inst, r);
      const double cur = (index == 8 ? r.Width() : r.Height()) / 20.0;
      if (cur <= 0 && drawn) {
        Rect own;
        Bounds(*inst, own, true);
        const double ownExtent = (index == 8 ? own.Width() : own.Height()) / 20.0;
        if (ownExtent > 0) {
          // Flattened before: the scale comes from the clip's own size.
          if (index == 8) transform::SetScaleX(m, inst->scriptTransform, d / ownExtent);
          else transform::SetScaleY(m, inst->scriptTransform, d / ownExtent);
          break;
        }
        // Something too small to have a size: nothing to scale.
        break;
      }
      if (!drawn) {
        // Nothing in it at all: Flash flattens the clip on both axes, so
        // what is drawn in it later stays unseen.
        transform::SetScaleX(m, inst->scriptTransform, 0);
        transform::SetScaleY(m, inst->scriptTransform, 0);
        break;
      }
      transform::SetExtent(m, inst->scriptTransform, index == 8, cur, d);
      break;
    }
    default: return;
  }
  inst->scripted = true;
}

void Stage::SetMainTransform(int index, double d) {
  if (std::isnan(d)) return;
  Matrix& m = root_.matrix;
  switch (index) {
    case 0: m.translateX = ScriptTwips(d); break;
    case 1: m.translateY = ScriptTwips(d); break;
    case 2: transform::SetScaleX(m, rootKept_, d / 100); break;
    case 3: transform::SetScaleY(m, rootKept_, d / 100); break;
    case 10: transform::SetRotationDegrees(m, rootKept_, d); break;
    case 6: root_.cxform.alphaMult = ScriptAlpha(d); break;
    default: break;
  }
}

AsValue Stage::FocusRectProperty(ClipHandle clip, Avm1& vm) {
  // Before SWF 6 one number for the whole player, whatever object names it;
  // later a level answers the player's and others their own.
  if (vm.Version() < 6) return AsValue::Number(focusRect_ ? 1 : 0);
  if (clip == kRootClip || RootOf(clip) == clip) return AsValue::Bool(focusRect_);
  const Instance* inst = Find(clip);
  if (!inst || inst->focusRect < 0) return AsValue::Null();
  return AsValue::Bool(inst->focusRect != 0);
}

void Stage::SetFocusRectProperty(ClipHandle clip, const AsValue& v, Avm1& vm) {
  const bool unset = v.type == AsValue::Type::kUndefined || v.type == AsValue::Type::kNull;
  if (vm.Version() >= 6 && clip != kRootClip && RootOf(clip) != clip) {
    // An object's own: null clears it, anything else is a boolean.
    const bool on = !unset && vm.ToBool(v);
    if (Instance* inst = Find(clip)) inst->focusRect = unset ? -1 : on ? 1 : 0;
    return;
  }
  // The player's: null and undefined leave it, an object turns it off, a
  // number or a string (as a number) is on unless 0, NaN too.
  if (unset) return;
  switch (v.type) {
    case AsValue::Type::kBoolean:
    case AsValue::Type::kNumber: focusRect_ = v.num != 0; break;
    case AsValue::Type::kString: focusRect_ = vm.ToNumber(v) != 0; break;
    default: focusRect_ = false; break;
  }
}

bool Stage::GotoLabel(TimelineState& tl, const std::string& label) {
  auto it = tl.def->labels.find(Lower(label));
  if (it == tl.def->labels.end()) return false;
  Goto(tl, it->second);
  return true;
}

// A frame number as Flash takes it: wrapped to 32 bits (counting from 0
// and back, so the lowest number wraps to the highest), nothing at all for
// 0 and below, and cut to 16 bits (a huge one is the last frame).
static bool GotoNumber(Stage& stage, TimelineState& tl, double n) {
  const auto index = static_cast<std::int32_t>(static_cast<std::uint32_t>(ToInt32(n)) - 1u);
  const std::int32_t frame = index == INT32_MAX ? index : index + 1;
  if (frame <= 0) return false;
  // Past the last frame: the last frame shows, but its actions do not run.
  const int to = static_cast<std::uint16_t>(frame) - 1;
  stage.Goto(tl, to, to < tl.FrameCount());
  return true;
}

bool Stage::GotoValue(ClipHandle clip, const AsValue& v, Avm1& vm) {
  // Whole numbers go straight to the frame; anything else is text: a
  // number, or a frame label, maybe after a "path:" or "path." (so a
  // fraction such as 4.5 names frame 5 of a clip "4", and finds none).
  if (v.type == AsValue::Type::kNumber && std::isfinite(v.num) && std::trunc(v.num) == v.num) {
    TimelineState* tl = TimelineOf(clip);
    return tl && GotoNumber(*this, *tl, v.num);
  }
  // The conversion may run a script: find the timeline after it.
  std::string s = vm.ToString(v);
  const auto colon = s.find_last_of(":.");
  if (colon != std::string::npos) {
    clip = Resolve(clip, std::string_view(s).substr(0, colon));
    s = s.substr(colon + 1);
  }
  TimelineState* tl = TimelineOf(clip);
  if (!tl) return false;
  const double n = vm.ToNumber(AsValue::String(s));
  if (!s.empty() && !std::isnan(n)) return GotoNumber(*this, *tl, n);
  return GotoLabel(*tl, s);
}

void Stage::CallFrame(ClipHandle target, const std::string& frame, Avm1& vm) {
  std::string s = frame;
  const auto colon = s.rfind(':');
  if (colon != std::string::npos) {
    target = Resolve(target, std::string_view(s).substr(0, colon));
    s = s.substr(colon + 1);
  }
  TimelineState* tl = TimelineOf(target);
  if (!tl) return;
  int index = -1;
  const double n = vm.ToNumber(AsValue::String(s));
  if (!std::isnan(n) && !s.empty()) {
    // A frame number wraps as a 32-bit integer.
    const std::int64_t wrapped = ToInt32(n);
    index = wrapped >= 1 ? static_cast<int>(wrapped - 1) : -1;
  } else if (auto it = tl->def->labels.find(Lower(s)); it != tl->def->labels.end()) {
    index = it->second;
  }
  if (index < 0 || index >= tl->FrameCount()) return;
  const TimelineDef* def = tl->def;
  for (const ControlTag& t : def->frames[static_cast<std::size_t>(index)].tags) {
    if (t.code == swf::tag::kDoAction) vm.Run(target, lib_.Body(t));
  }
}

void Stage::StartSound(const std::string& exportName) {
  static const std::uint8_t kPlainInfo[1] = {0};
  if (listener_) listener_->OnStartSound(lib_.FindName(exportName), exportName, kPlainInfo, timeMs_);
}

void Stage::StartSoundById(int soundId, std::string_view name, std::span<const std::uint8_t> info) {
  if (listener_) listener_->OnStartSound(soundId, name, info, timeMs_);
}

void Stage::DefineScriptSound(int soundId, std::span<const std::uint8_t> body) {
  if (listener_) listener_->OnDefineSound(soundId, body);
}

Instance* Stage::NewScriptInstance(TimelineState& parent, int depth, const std::string& name, const Character* def) {
  if (depth < -kDepthOffset || depth > kMaxScriptDepth) return nullptr;
  if (++createdThisTick_ > kMaxInstancesPerTick || liveCount_ + createdThisTick_ > kMaxLiveInstances) {
    skipped_.insert("too many placed objects");
    return nullptr;
  }
  const int key = depth + kDepthOffset;
  // What the depth holds goes (all of it, when the timeline put two there).
  for (auto it = parent.list.find(key); it != parent.list.end(); it = parent.list.find(key)) {
    Discard(it->second);
    parent.list.erase(it);
  }
  Instance& inst = Adopt(parent, key);
  inst.def = def;
  inst.characterId = def->id;
  inst.name = name;
  inst.createdTick = tick_;
  inst.placedFrame = -1;  // not the timeline's: a backward jump keeps it
  inst.scripted = true;
  return &inst;
}

ClipHandle Stage::Duplicate(ClipHandle clip, const std::string& name, int depth) {
  Instance* src = Find(clip);
  TimelineState* parent = src ? TimelineOf(src->parent) : nullptr;
  if (!src || !parent || name.empty()) return kNoClip;
  // A timeline's text field is copied as its definition made it, where it stands.
  if (src->def && src->def->kind == Character::Kind::kEditText && src->def != &scriptField_) {
    const Matrix matrix = src->matrix;
    const ColorTransform cxform = src->cxform;
    const bool visible = src->visible;
    Instance* inst = NewScriptInstance(*parent, depth, name, src->def);
    if (!inst) return kNoClip;
    inst->matrix = matrix;
    inst->cxform = cxform;
    inst->visible = visible;
    return inst->serial;
  }
  // A field a script made is copied as a new, empty one: only its place,
  // colour transform and type carry over.
  if (src->def == &scriptField_ && src->field) {
    const Matrix matrix = src->matrix;
    const ColorTransform cxform = src->cxform;
    auto field = std::make_shared<text::TextField>();
    field->SetLibrary(&lib_);
    field->SetBox(0, 0, 0, 0);
    field->EditOpts().input = src->field->Opts().input;
    Instance* inst = NewScriptInstance(*parent, depth, name, &scriptField_);
    if (!inst) return kNoClip;
    inst->field = std::move(field);
    inst->matrix = matrix;
    inst->cxform = cxform;
    return inst->serial;
  }
  if (!src->sprite || !IsSpriteDef(src->def)) return kNoClip;
  const Matrix matrix = src->matrix;
  const ColorTransform cxform = src->cxform;
  const auto events = src->events;
  const bool visible = src->visible;
  const std::shared_ptr<Drawing> drawing =
      src->sprite && src->sprite->drawing ? std::make_shared<Drawing>(*src->sprite->drawing) : nullptr;
  // May replace the source itself: nothing of it is used below.
  Instance* inst = NewScriptInstance(*parent, depth, name, src->def);
  if (!inst) return kNoClip;
  inst->matrix = matrix;
  inst->cxform = cxform;
  inst->visible = visible;
  inst->events = events;
  InitSprite(*inst, 0, true);
  if (inst->sprite) inst->sprite->drawing = drawing;
  return inst->serial;
}

ClipHandle Stage::AttachMovie(ClipHandle parentClip, const std::string& exportName, const std::string& name,
                              int depth) {
  TimelineState* parent = TimelineOf(parentClip);
  // Inside a loaded movie, its own symbols.
  const MovieLibrary& lib = parent ? LibOf(*parent) : lib_;
  const Character* def = lib.Find(lib.FindName(exportName));
  // An exported button is attached as a button.
  const bool button = def && def->kind == Character::Kind::kButton;
  if (!parent || !(IsSpriteDef(def) || button) || name.empty()) {
    if (parent && !def) skipped_.insert("attachMovie of a missing symbol");
    return kNoClip;
  }
  Instance* inst = NewScriptInstance(*parent, depth, name, def);
  if (!inst) return kNoClip;
  if (button) {
    InitButton(*inst);
  } else {
    InitSprite(*inst, 0, true);
  }
  return inst->serial;
}

ClipHandle Stage::CreateEmptyClip(ClipHandle parentClip, const std::string& name, int depth) {
  TimelineState* parent = TimelineOf(parentClip);
  if (!parent || name.empty()) return kNoClip;
  Instance* inst = NewScriptInstance(*parent, depth, name, &emptySprite_);
  if (!inst) return kNoClip;
  InitSprite(*inst, 0);
  if (inst->sprite) inst->sprite->unentered = true;
  return inst->serial;
}

ClipHandle Stage::CreateTextField(ClipHandle parentClip, const std::string& name, int depth,
                                  std::shared_ptr<text::TextField> field) {
  TimelineState* parent = TimelineOf(parentClip);
  if (!parent || !field) return kNoClip;
  Instance* inst = NewScriptInstance(*parent, depth, name, &scriptField_);
  if (!inst) return kNoClip;
  inst->field = std::move(field);
  return inst->serial;
}

ClipHandle Stage::AttachBitmap(ClipHandle parentClip, std::shared_ptr<BitmapData> bitmap, int depth, bool smoothing) {
  TimelineState* parent = TimelineOf(parentClip);
  if (!parent || !bitmap || bitmap->Disposed()) return kNoClip;
  // The picture lives as long as the bitmap object, which the node holds.
  Instance* inst = NewScriptInstance(*parent, depth, "", bitmap->Def().get());
  if (!inst) return kNoClip;
  inst->bitmap = std::move(bitmap);
  inst->bitmapSmoothing = smoothing;
  return inst->serial;
}

bool Stage::RemovableByScript(ClipHandle clip) {
  Instance* inst = Find(clip);
  TimelineState* parent = inst && (inst->sprite || inst->field) ? TimelineOf(inst->parent) : nullptr;
  // Only clips at script depths can be removed by scripts, and not those
  // at the very top of the range.
  constexpr int kTopRemovable = 2130706416;
  return parent && inst->depth >= kDepthOffset && inst->depth < kTopRemovable;
}

void Stage::RemoveClip(ClipHandle clip) {
  if (!RemovableByScript(clip)) return;
  Instance* inst = Find(clip);
  TimelineState* parent = TimelineOf(inst->parent);
  auto it = EntryOf(parent->list, *inst);
  if (it == parent->list.end()) return;
  Discard(it->second);
  if (hooks_ || !HearsUnload(it->second, 0)) {
    parent->list.erase(it);
    return;
  }
  PutOffRemoval(*parent, it);
}

void Stage::PutOffRemoval(TimelineState& parent, DisplayList::iterator it) {
  // A clip that hears its unload stays reachable until the next frame
  // starts, moved from depth d to -32769 - d.
  auto node = parent.list.extract(it);
  const int depth = -32769 - (node.key() - kDepthOffset) + kDepthOffset;
  node.key() = depth;
  node.mapped().depth = depth;
  removing_.push_back(node.mapped().serial);
  parent.list.insert(std::move(node));
}

bool Stage::HearsUnload(const Instance& inst, int nesting) {
  if (!inst.sprite || nesting > kMaxSpriteNesting) return false;
  for (const ClipEventHandler& h : inst.events) {
    if (h.events & kEventUnload) return true;
  }
  if (IsSpriteDef(inst.def) && inst.sprite->vars && avm_->HasHandler(inst.serial, "onUnload")) return true;
  for (const auto& [depth, child] : inst.sprite->list) {
    if (HearsUnload(child, nesting + 1)) return true;
  }
  return false;
}

bool Stage::Leaving(ClipHandle clip) {
  if (removing_.empty()) return false;
  for (int guard = 0; guard <= kMaxSpriteNesting && clip != kNoClip && clip != kRootClip; ++guard) {
    if (std::find(removing_.begin(), removing_.end(), clip) != removing_.end()) return true;
    const Instance* inst = Find(clip);
    if (!inst) return false;
    clip = inst->parent;
  }
  return false;
}

void Stage::FinishRemovals() {
  std::vector<ClipHandle> gone;
  gone.swap(removing_);
  for (ClipHandle h : gone) {
    Instance* inst = Find(h);
    TimelineState* parent = inst ? TimelineOf(inst->parent) : nullptr;
    if (!parent) continue;
    if (auto it = EntryOf(parent->list, *inst); it != parent->list.end()) parent->list.erase(it);
  }
}

void Stage::UnloadClip(ClipHandle clip) {
  Instance* inst = Find(clip);
  // A removed clip waiting to go has heard its unload already.
  if (!inst || !inst->sprite || !IsSpriteDef(inst->def) || Leaving(clip)) return;
  ClearForLoad(*inst->sprite);
  // The clip stays, but hears its unload after its children, as if removed.
  QueueUnload(*inst);
}

void Stage::ClearForLoad(TimelineState& tl) {
  SetPlaying(tl, false);
  for (auto& [depth, child] : tl.list) Discard(child);
  tl.list.clear();
  tl.drawing.reset();
  tl.def = &emptySprite_.timeline;
  tl.lib = nullptr;
  tl.url.clear();
  tl.current = 0;
  tl.loadedBytes.reset();
}

bool Stage::LoadPicture(ClipHandle clip, std::shared_ptr<const Character> picture, std::size_t fileBytes) {
  TimelineState* tl = TimelineOf(clip);
  const Instance* inst = Find(clip);
  if (!tl || !picture || (inst && !IsSpriteDef(inst->def))) return false;
  // The main timeline too: the picture takes the movie's place.
  ClearForLoad(*tl);
  // At a timeline depth: clips that scripts make in it later lie above.
  Instance& shown = Adopt(*tl, 1);
  shown.def = picture.get();
  shown.ownDef = std::move(picture);
  shown.createdTick = tick_;
  shown.placedFrame = -1;
  shown.scripted = true;
  tl->loadedBytes = static_cast<std::int64_t>(fileBytes);
  return true;
}

bool Stage::LoadMovieInto(ClipHandle clip, std::span<const std::uint8_t> file, bool as3,
                          const std::function<void(const MovieLibrary&)>& ready) {
  TimelineState* tl = TimelineOf(clip);
  const Instance* inst = Find(clip);
  // Into _level0 it takes the main movie's place; the stage keeps its size and rate.
  if (!tl || (clip != kRootClip && (!inst || !IsSpriteDef(inst->def)))) return false;
  if (loaded_.size() >= kMaxLoadedMovies) {
    skipped_.insert("too many movies loaded into clips");
    return false;
  }
  std::unique_ptr<MovieLibrary> lib;
  try {
    lib = LoadLibrary(file);
  } catch (const swf::SwfError&) {
    return false;
  }
  if (!lib->abcBlocks.empty() && !as3) {
    skipped_.insert("an ActionScript 3 movie loaded into a clip");
    return false;
  }
  skipped_.insert(lib->skipped.begin(), lib->skipped.end());
  if (lib->background && !lib_.background && !loadedBackground_) loadedBackground_ = lib->background;
  // The loaded movie plays the frames its file has, whatever its header declares.
  if (lib->timeline.frames.empty()) lib->timeline.frames.resize(1);
  ClearForLoad(*tl);
  // The clip's variables go with its old timeline: the movie starts afresh.
  tl->vars = nullptr;
  tl->lib = lib.get();
  tl->def = &lib->timeline;
  tl->playing = true;
  tl->loadedBytes = static_cast<std::int64_t>(lib->movie.fileLength ? lib->movie.fileLength : file.size());
  loaded_.push_back(std::move(lib));
  if (ready) ready(*loaded_.back());
  // The clip's own onClipEvent(load) hears the movie arrive, before its first frame.
  if (inst) {
    for (const ClipEventHandler& h : inst->events) {
      if (h.events & kEventLoad) pending_.push_back({inst->serial, h.code, PendingKind::kCode, {}});
    }
  }
  EnterFrame(*tl, 0, true, true, nullptr);
  return true;
}

void Stage::FailLoad(ClipHandle clip) {
  TimelineState* tl = TimelineOf(clip);
  const Instance* inst = Find(clip);
  if (!tl || clip == kRootClip || !inst || !IsSpriteDef(inst->def)) return;
  ClearForLoad(*tl);
  tl->loadedBytes = -1;
}

std::int64_t Stage::ClipBytes(ClipHandle clip, bool total) {
  const TimelineState* tl = TimelineOf(clip);
  if (!tl) return 0;
  std::int64_t n = 0;
  if (tl->loadedBytes) n = *tl->loadedBytes;
  else if (clip == kRootClip) n = static_cast<std::int64_t>(FileBytes());
  else if (tl->def) n = static_cast<std::int64_t>(tl->def->tagBytes);
  return total ? n : std::max<std::int64_t>(n, 0);
}

int Stage::ClipSwfVersion(ClipHandle clip) {
  const TimelineState* tl = TimelineOf(clip);
  if (!tl) return 0;
  if (tl->loadedBytes && *tl->loadedBytes < 0) return -1;
  // A loaded picture is no movie: its timeline has no library of its own.
  if (tl->loadedBytes && !tl->lib && tl->def == &emptySprite_.timeline) return -1;
  return LibOf(*tl).movie.version;
}

void Stage::SwapDepths(ClipHandle clip, int depth) {
  Instance* inst = Find(clip);
  TimelineState* parent = inst && (inst->sprite || inst->field) ? TimelineOf(inst->parent) : nullptr;
  if (!parent || depth < -kDepthOffset || depth > kMaxScriptDepth) return;
  const int to = depth + kDepthOffset;
  const int from = inst->depth;
  if (from == to) return;
  auto at = EntryOf(parent->list, *inst);
  if (at == parent->list.end()) return;
  auto node = parent->list.extract(at);
  auto other = parent->list.extract(to);
  node.key() = to;
  node.mapped().depth = to;
  node.mapped().scripted = true;
  parent->list.insert(std::move(node));
  if (!other.empty()) {
    other.key() = from;
    other.mapped().depth = from;
    parent->list.insert(std::move(other));
  }
}

int Stage::NextHighestDepth(ClipHandle clip) {
  TimelineState* tl = TimelineOf(clip);
  if (!tl) return 0;
  // Levels are no depths of the main timeline.
  auto above = tl->list.lower_bound(kLevelBase);
  if (above == tl->list.begin()) return 0;
  return std::max(0, std::prev(above)->first - kDepthOffset + 1);
}

ClipHandle Stage::RootOf(ClipHandle clip) {
  // Without levels, no walk.
  if (root_.list.empty() || root_.list.rbegin()->first < kLevelBase) return kRootClip;
  // Bounded: the walk ends at the main timeline in as many steps as clips nest.
  for (std::size_t i = 0; i <= kMaxLiveInstances && clip != kRootClip; ++i) {
    const Instance* inst = Find(clip);
    if (!inst) break;
    if (inst->parent == kRootClip) return inst->depth >= kLevelBase ? clip : kRootClip;
    clip = inst->parent;
  }
  return kRootClip;
}

ClipHandle Stage::Level(int n, bool make) {
  if (n == 0) return kRootClip;
  if (n < 0 || n > kMaxLevel) return kNoClip;
  const int key = kLevelBase + n;
  if (auto it = root_.list.find(key); it != root_.list.end()) return it->second.serial;
  if (!make) return kNoClip;
  Instance& inst = Adopt(root_, key);
  inst.def = &emptySprite_;
  inst.name = "_level" + std::to_string(n);
  inst.createdTick = tick_;
  inst.placedFrame = -1;
  inst.scripted = true;
  InitSprite(inst, 0);
  return inst.serial;
}

void Stage::QueueEvents(TimelineState& tl, std::uint32_t events, int nesting, int keyPress) {
  if (nesting > kMaxSpriteNesting) return;
  static const std::pair<std::uint32_t, const char*> kMethods[] = {
      {kEventMouseDown, "onMouseDown"}, {kEventMouseMove, "onMouseMove"}, {kEventMouseUp, "onMouseUp"}};
  for (auto& [depth, inst] : tl.list) {
    for (const ClipEventHandler& h : inst.events) {
      const bool pressed = keyPress != 0 && (h.events & kEventKeyPress) && h.keyPress == keyPress;
      if ((h.events & events) || pressed) pending_.push_back({inst.serial, h.code, PendingKind::kCode, {}});
    }
    // Clips hear the mouse through their methods too.
    if (inst.sprite && inst.sprite->vars) {
      for (auto& [bit, name] : kMethods) {
        if ((events & bit) && avm_->HasHandler(inst.serial, name)) {
          pending_.push_back({inst.serial, {}, PendingKind::kMethod, name});
        }
      }
    }
    if (inst.sprite && IsSpriteDef(inst.def)) QueueEvents(*inst.sprite, events, nesting + 1, keyPress);
  }
}

void Stage::QueueKeyPress(TimelineState& tl, int press, int nesting) {
  if (nesting > kMaxSpriteNesting) return;
  for (auto& [depth, inst] : tl.list) {
    if (inst.def && inst.def->kind == Character::Kind::kButton && avm_->Enabled(inst.serial)) {
      for (const ButtonAction& a : static_cast<const ButtonDef*>(inst.def)->actions) {
        if (((a.conditions >> 9) & 0x7F) == press)
          pending_.push_back({inst.parent, LibAround(inst).Data(a.offset, a.length), PendingKind::kCode, {}});
      }
    }
    if (inst.sprite && IsSpriteDef(inst.def)) QueueKeyPress(*inst.sprite, press, nesting + 1);
  }
}

std::string Stage::GetVariable(const std::string& text) {
  return avm_->VariableText(text, kRootClip).value_or(std::string());
}

}  // namespace quarvel::player
