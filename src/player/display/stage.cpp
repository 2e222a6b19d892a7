#include "player/display/stage.h"

#include <algorithm>
#include <climits>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <tuple>

#include "player/sound_events.h"
#include "player/text/text_field.h"
#include "player/swf/tags.h"

namespace quarvel::player {
namespace {

// "instanceN" for a new unnamed object scripts can reach: in ActionScript 3
// every display object; in ActionScript 1/2 clips, buttons and edit text,
// while shapes, static text, bitmaps and videos take no number.
std::string DefaultName(const Character* def, int& next, bool as3) {
  using K = Character::Kind;
  if (!def) return {};
  if (!as3 && def->kind != K::kSprite && def->kind != K::kButton && def->kind != K::kEditText) return {};
  return "instance" + std::to_string(next++);
}

namespace tag = swf::tag;

constexpr std::size_t kMaxPendingPerTick = std::size_t{1} << 20;
// Script depth 0 in a display list: below it lie the timeline's depths.
constexpr int kScriptDepth0 = 16384;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsSprite(const Instance& i) { return i.def && i.def->kind == Character::Kind::kSprite; }
bool IsButton(const Instance& i) { return i.def && i.def->kind == Character::Kind::kButton; }

// Buttons hold the characters of their current state in a timeline of one
// empty frame, so that sprites among them animate like any other.
const TimelineDef& ButtonTimeline() {
  static const TimelineDef def{std::vector<Frame>(1), {}, {}, {}, 0};
  return def;
}

cairo_matrix_t Combine(const Matrix& child, const cairo_matrix_t& parent) {
  const cairo_matrix_t c = ToCairo(child);
  cairo_matrix_t out;
  cairo_matrix_multiply(&out, &c, &parent);
  return out;
}

// The point in a character's own space, false when the transform is singular.
bool ToLocal(const cairo_matrix_t& m, double x, double y, double& lx, double& ly) {
  cairo_matrix_t inv = m;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return false;
  lx = x, ly = y;
  cairo_matrix_transform_point(&inv, &lx, &ly);
  return true;
}

bool InRect(const Rect& r, double x, double y) { return x >= r.xmin && x <= r.xmax && y >= r.ymin && y <= r.ymax; }

// Whether `piece` holds for any straight piece of the edge: the edge itself,
// or a curve in eight.
template <typename Piece>
bool AnyPiece(const Edge& e, Piece&& piece) {
  if (!e.curve) return piece(e.x0, e.y0, e.x1, e.y1);
  double ax = e.x0, ay = e.y0;
  constexpr int kSteps = 8;
  for (int i = 1; i <= kSteps; ++i) {
    const double t = static_cast<double>(i) / kSteps, u = 1 - t;
    const double bx = u * u * e.x0 + 2 * u * t * e.cx + t * t * e.x1;
    const double by = u * u * e.y0 + 2 * u * t * e.cy + t * t * e.y1;
    if (piece(ax, ay, bx, by)) return true;
    ax = bx, ay = by;
  }
  return false;
}

// The point against each fill style's contours, by the style's rule:
// even-odd, or non-zero winding (DefineShape4's UsesFillWindingRule).
bool PointInGeometry(const ShapeGeometry& g, double px, double py) {
  if (!InRect(g.bounds, px, py)) return false;
  // +1 or -1 by the edge's direction when it crosses the ray to the left.
  auto crosses = [px, py](double x0, double y0, double x1, double y1) {
    if ((y0 > py) == (y1 > py)) return 0;
    // Crossings left of the point, rows taken top-inclusive: a point on a
    // left or bottom edge is outside, on a right or top edge inside, as in Flash.
    if (!(x0 + (py - y0) * (x1 - x0) / (y1 - y0) < px)) return 0;
    return y1 > y0 ? 1 : -1;
  };
  for (const ShapeLayer& layer : g.layers) {
    for (std::size_t s = 0; s < layer.fillPaths.size(); ++s) {
      const bool nonZero = s < layer.fills.size() && layer.fills[s].nonZero;
      int winding = 0, crossings = 0;
      auto add = [&](int c) {
        winding += c;
        crossings += c != 0;
      };
      for (const Edge& e : layer.fillPaths[s]) {
        AnyPiece(e, [&](double x0, double y0, double x1, double y1) {
          add(crosses(x0, y0, x1, y1));
          return false;
        });
      }
      if (nonZero ? winding != 0 : (crossings & 1) != 0) return true;
    }
    // Lines count as far as half their width reaches.
    for (std::size_t s = 0; s < layer.linePaths.size() && s < layer.lines.size(); ++s) {
      const double half = std::max(layer.lines[s].width, 1.0) / 2;
      auto near = [&](double x0, double y0, double x1, double y1) {
        const double dx = x1 - x0, dy = y1 - y0, len = dx * dx + dy * dy;
        const double t = len > 0 ? std::clamp(((px - x0) * dx + (py - y0) * dy) / len, 0.0, 1.0) : 0.0;
        const double ex = x0 + t * dx - px, ey = y0 + t * dy - py;
        return ex * ex + ey * ey <= half * half;
      };
      for (const Edge& e : layer.linePaths[s])
        if (AnyPiece(e, near)) return true;
    }
  }
  return false;
}

bool HitsCharacter(const Character* d, const cairo_matrix_t& m, double x, double y) {
  double lx = 0, ly = 0;
  if (!d || !ToLocal(m, x, y, lx, ly)) return false;
  switch (d->kind) {
    case Character::Kind::kShape:
      return PointInGeometry(static_cast<const ShapeDef*>(d)->geometry, lx, ly);
    case Character::Kind::kMorph:
      return InRect(static_cast<const MorphDef*>(d)->startBounds, lx, ly);
    case Character::Kind::kText: {
      const auto* t = static_cast<const TextDef*>(d);
      return InRect(t->bounds, lx, ly);
    }
    case Character::Kind::kEditText:
      return InRect(static_cast<const EditTextDef*>(d)->bounds, lx, ly);
    case Character::Kind::kBitmap: {
      const auto* b = static_cast<const BitmapDef*>(d);
      return InRect(Rect{0, b->width * 20, 0, b->height * 20}, lx, ly);
    }
    default:
      return false;
  }
}

// DefineButtonSound's order of the four transitions that have sounds.
int SoundSlot(std::uint16_t transition) {
  switch (transition) {
    case kOverUpToIdle: return 0;
    case kIdleToOverUp: return 1;
    case kOverUpToOverDown: return 2;
    case kOverDownToOverUp: return 3;
    default: return -1;
  }
}

// PlaceObject2/3 CLIPACTIONS: the handlers and the events they answer.
void ReadClipActions(swf::Reader& r, int swfVersion, Instance& inst) {
  const bool wide = swfVersion >= 6;
  r.U16("Reserved");
  // A handler hears only the events the placement's list of all events names.
  const std::uint32_t all = wide ? r.U32("AllEventFlags") : r.U16("AllEventFlags");
  // A list cut short of its end marker ends where the tag does.
  while (r.Size() - r.Position() >= (wide ? 4u : 2u)) {
    const std::uint32_t events = wide ? r.U32("EventFlags") : r.U16("EventFlags");
    if (events == 0) break;
    const std::uint32_t size = r.U32("ActionRecordSize");
    swf::Reader body = r.Sub(std::min<std::size_t>(size, r.Size() - r.Position()), "ActionRecord");
    const std::uint8_t key = (events & kEventKeyPress) ? body.U8("KeyCode") : 0;
    if ((events & all) && inst.events.size() < 64) inst.events.push_back({events & all, body.Rest(), key});
  }
}

}  // namespace

Instance::~Instance() {
  if (!index) return;
  auto it = index->find(serial);
  if (it != index->end() && it->second == this) index->erase(it);
}


Stage::Stage(const MovieLibrary& lib, ScriptMachines machines, std::filesystem::path movieFolder, bool start)
    : lib_(lib), machines_(std::move(machines)), movieFolder_(std::move(movieFolder)) {
  emptySprite_.timeline.frames.resize(1);
  totalFrames_ = lib.TotalFrames();
  rootDef_ = lib.timeline;
  // The timeline plays the frames the file has, whatever its header declares.
  if (rootDef_.frames.empty()) rootDef_.frames.resize(1);
  root_.def = &rootDef_;
  root_.owner = kRootClip;
  if (start) Reset();
}

Stage::~Stage() = default;

void Stage::Reset() {
  hooks_.reset();
  quit_ = false;
  root_.list.clear();
  root_.vars = nullptr;
  root_.def = &rootDef_;  // a picture or movie loaded into _level0 took its place
  root_.lib = nullptr;
  loadedBackground_.reset();
  // Movies with ActionScript 3 run it instead of their ActionScript 1/2.
  if (!lib_.abcBlocks.empty() && machines_.avm2) hooks_ = machines_.avm2(*this);
  avm_ = machines_.avm1 ? machines_.avm1(*this) : nullptr;
  if (!avm_) avm_ = std::make_unique<ClipScripts>();
  avm_->BeginFrame(0);
  initDone_.clear();
  startMs_ = timeMs_;
  root_.current = 0;
  root_.playing = true;
  pending_.clear();
  execList_.assign(1, kRootClip);
  activeSerial_ = kNoClip;
  activeState_ = ButtonPhase::kIdle;
  createdThisTick_ = 0;
  framesEnteredThisTick_ = 0;
  EnterFrame(root_, 0, true, true, nullptr);
  RunActions();
  EndScriptFrame();
  if (hooks_) hooks_->AfterFrame();
}

void Stage::EndScriptFrame() {
  avm_->EndFrame();
  RunActions();
}

void Stage::NestedTooDeep() { skipped_.insert("sprites nested deeper than " + std::to_string(kMaxSpriteNesting)); }

void Stage::GiveHandle(Instance& inst, const TimelineState& parent) {
  if (inst.index) nodes_.erase(inst.serial);
  inst.serial = nextSerial_++;
  inst.parent = parent.owner;
  inst.index = &nodes_;
  nodes_[inst.serial] = &inst;
}

DisplayList::iterator Stage::TimelineEntry(TimelineState& tl, int depth) {
  if (!hooks_) return tl.list.find(depth);
  // ActionScript 3: what a script put or moved into the list has no depth
  // the timeline knows, whatever its key: the timeline neither moves nor
  // removes it.
  auto [it, last] = tl.list.equal_range(depth);
  while (it != last && it->second.placedFrame < 0) ++it;
  return it == last ? tl.list.end() : it;
}

Instance& Stage::Adopt(TimelineState& parent, int depth) {
  // Below what already has the depth; in ActionScript 3 above what scripts
  // put at that key, as Flash places a timeline's object just below the
  // first of the timeline's own with a greater depth.
  auto at = parent.list.lower_bound(depth);
  if (hooks_) {
    // The scripts' objects from the depth up to that first one of the
    // timeline's stay below the new one: they take the free keys just
    // under the depth, in their order, when there are enough.
    auto stop = at;
    std::size_t n = 0;
    while (stop != parent.list.end() && stop->second.placedFrame < 0) ++stop, ++n;
    const long long below = at == parent.list.begin() ? static_cast<long long>(INT_MIN) : std::prev(at)->first;
    if (n > 0 && static_cast<long long>(depth) - static_cast<long long>(n) > below) {
      int key = depth - static_cast<int>(n);
      for (auto it = at; it != stop; ++key) {
        auto node = parent.list.extract(it++);
        node.key() = key;
        node.mapped().depth = key;
        parent.list.insert(stop, std::move(node));
      }
    }
    at = parent.list.lower_bound(depth);
    while (at != parent.list.end() && at->first == depth && at->second.placedFrame < 0) ++at;
  }
  Instance& inst = parent.list.emplace_hint(at, std::piecewise_construct,
                                            std::forward_as_tuple(depth), std::forward_as_tuple())
                       ->second;
  inst.depth = depth;
  GiveHandle(inst, parent);
  return inst;
}

void Stage::InitSprite(Instance& inst, int nesting, bool load, const MovieLibrary* from) {
  const auto* def = static_cast<const SpriteDef*>(inst.def);
  inst.sprite = std::make_unique<TimelineState>();
  inst.sprite->def = &def->timeline;
  inst.sprite->spriteId = def->id;
  inst.sprite->owner = inst.serial;
  if (const TimelineState* parent = TimelineOf(inst.parent)) inst.sprite->lib = parent->lib;
  if (from && from != &lib_) inst.sprite->lib = from;
  // Two clips of one sprite play two streams.
  inst.sprite->soundId = static_cast<int>(inst.serial % 0x7FFFFFFF) + 1;
  if (nesting > kMaxSpriteNesting) return;
  execList_.push_back(inst.serial);
  // Its initialize events, then its class (registered by init actions that
  // may still be queued), make the clip before any frame's actions run; its
  // load events come before its own first frame's actions.
  for (const ClipEventHandler& h : inst.events) {
    if (h.events & kEventInitialize) pending_.push_back({inst.serial, h.code, PendingKind::kInitialize, {}});
  }
  pending_.push_back({inst.serial, {}, PendingKind::kConstruct, {}});
  if (load) QueueLoad(inst);
  ++nesting_;
  if (nesting_ <= kMaxSpriteNesting) EnterFrame(*inst.sprite, 0, true, true, nullptr);
  else NestedTooDeep();
  --nesting_;
}

void Stage::QueueLoad(const Instance& inst) {
  for (const ClipEventHandler& h : inst.events) {
    if (h.events & kEventLoad) pending_.push_back({inst.serial, h.code, PendingKind::kCode, {}});
  }
  if (IsSprite(inst)) pending_.push_back({inst.serial, {}, PendingKind::kMethod, "onLoad"});
}

void Stage::InitButton(Instance& inst) {
  inst.sprite = std::make_unique<TimelineState>();
  inst.sprite->owner = inst.serial;
  inst.sprite->def = &ButtonTimeline();
  if (const TimelineState* parent = TimelineOf(inst.parent)) inst.sprite->lib = parent->lib;
  inst.sprite->playing = false;
  inst.sprite->spriteId = -1;  // no timeline of its own: no stream either
  inst.sprite->soundId = -1;
  inst.buttonState = -1;
  ShowButtonState(inst, kButtonUp);
}

void Stage::ShowButtonState(Instance& inst, std::uint8_t state) {
  if (!inst.sprite || inst.buttonState == state) return;
  inst.buttonState = state;
  if (hooks_ && hooks_->ShowButtonState(inst, state)) return;
  auto& list = inst.sprite->list;
  for (auto& [depth, child] : list) Discard(child);
  list.clear();
  if (nesting_ > kMaxSpriteNesting) {
    NestedTooDeep();
    return;
  }
  ++nesting_;
  for (const ButtonRecord& rec : static_cast<const ButtonDef*>(inst.def)->records) {
    if (!(rec.states & state) || list.count(rec.depth)) continue;
    const Character* def = LibAround(inst).Find(rec.characterId);
    if (!def || def->kind == Character::Kind::kButton) continue;
    Instance& child = Adopt(*inst.sprite, rec.depth);
    child.characterId = rec.characterId;
    child.def = def;
    child.matrix = rec.matrix;
    child.cxform = rec.cxform;
    child.blendMode = rec.blendMode;
    child.filters = rec.filters;
    child.createdTick = tick_;
    child.name = DefaultName(def, nextInstance_, !lib_.abcBlocks.empty());
    if (IsSprite(child)) InitSprite(child, 0);
  }
  --nesting_;
}

void Stage::Discard(Instance& inst, int nesting) {
  if (!inst.sprite || nesting > kMaxSpriteNesting) return;
  // A removed clip waiting to go has heard its unload already.
  if (nesting == 0 && Leaving(inst.serial)) return;
  // Children unload before their parent.
  for (auto& [depth, child] : inst.sprite->list) Discard(child, nesting + 1);
  QueueUnload(inst);
  if (listener_ && IsSprite(inst)) listener_->OnTimelineStop(inst.sprite->soundId, timeMs_);
}

void Stage::QueueUnload(Instance& inst) {
  // onUnload and onClipEvent(unload) run after the clip has gone.
  bool unload = false;
  for (const ClipEventHandler& h : inst.events) unload = unload || (h.events & kEventUnload);
  if (IsSprite(inst) && (unload || (inst.sprite->vars && avm_->HasHandler(inst.serial, "onUnload")))) {
    avm_->ClipUnloading(inst.serial);
    pending_.push_back({kNoClip, {}, PendingKind::kUnload, {}});
  }
}

void Stage::StopAllSounds() {
  if (listener_) listener_->OnStopAllSounds(timeMs_);
}

void Stage::Quit() {
  if (quit_) return;
  quit_ = true;
  StopAllSounds();
  if (std::getenv("QUARVEL_DEBUG")) std::clog << "player: the movie quit (fscommand); later frames do not run\n";
}

void Stage::SetPlaying(TimelineState& tl, bool playing) {
  if (tl.playing && !playing && listener_ && tl.soundId >= 0) listener_->OnTimelineStop(tl.soundId, timeMs_);
  tl.playing = playing;
}

namespace {
struct PlaceHead {
  std::uint8_t flags = 0, flags2 = 0;
  int depth = 0;
  std::uint16_t charId = 0;
  bool hasChar = false, move = false;
};
PlaceHead ReadPlaceHead(swf::Reader& r, int version) {
  PlaceHead h;
  if (version == 1) {
    h.charId = r.U16("CharacterId");
    h.depth = r.U16("Depth");
    h.hasChar = true;
    return h;
  }
  h.flags = r.U8("PlaceFlags");
  if (version == 3) h.flags2 = r.U8("PlaceFlags2");
  h.depth = r.U16("Depth");
  // A class name comes with its flag, or names the image of an image
  // placement that has no character id (the format's note says the
  // opposite, but files made by the authoring tool follow this).
  if (version == 3 && ((h.flags2 & 0x08) || ((h.flags2 & 0x10) && !(h.flags & 0x02)))) r.String("ClassName");
  h.move = h.flags & 0x01;
  h.hasChar = h.flags & 0x02;
  if (h.hasChar) h.charId = r.U16("CharacterId");
  return h;
}
int PlaceVersion(std::uint16_t code) {
  return code == tag::kPlaceObject ? 1 : code == tag::kPlaceObject2 ? 2 : code == tag::kPlaceObject3 ? 3 : 0;
}
}  // namespace

void Stage::Place(TimelineState& tl, swf::Reader& r, int version, int frame, DisplayList* reuse) {
  PlaceHead head = ReadPlaceHead(r, version);
  std::uint8_t flags = head.flags, flags2 = head.flags2;
  const int depth = head.depth;
  const std::uint16_t charId = head.charId;
  const bool hasChar = head.hasChar, move = head.move;
  Instance* inst = nullptr;
  auto it = TimelineEntry(tl, depth);
  if (hooks_ && hasChar && !move) {
    // ActionScript 3 places nothing at a depth its timeline already fills
    // (what scripts put there is apart from the timeline's depths).
    auto [at, last] = tl.list.equal_range(depth);
    for (; at != last; ++at)
      if (at->second.placedFrame >= 0) return;
  }
  if (!hooks_ && hasChar && !move && it != tl.list.end() && LibOf(tl).movie.version >= 6) {
    // From SWF 6 a timeline places nothing at a depth something fills, and
    // the debug player logs it; older movies get both, the later below.
    if (std::getenv("QUARVEL_DEBUG")) {
      std::clog << "player: trace: Warning: Failed to place object at depth " << depth << ".\n";
    }
    return;
  }
  if (hasChar && (!move || it == tl.list.end())) {
    const Character* def = LibOf(tl).Find(charId);
    if (!def) return;
    // A backward jump keeps the instances that the target frame still has.
    if (reuse) {
      auto [old, last] = reuse->equal_range(depth);
      while (old != last && (old->second.characterId != charId || old->second.placedFrame != frame)) ++old;
      if (old != last) {
        inst = &tl.list.insert(tl.list.lower_bound(depth), reuse->extract(old))->second;
        inst->matrix = Matrix{};
        inst->cxform = ColorTransform{};
        inst->ratio = 0;
        inst->clipDepth = 0;
      }
    }
    if (!inst) {
      // Self-placing sprites could multiply without end.
      if (++createdThisTick_ > kMaxInstancesPerTick || liveCount_ + createdThisTick_ > kMaxLiveInstances) {
        skipped_.insert("too many placed objects");
        return;
      }
      inst = &Adopt(tl, depth);
      inst->characterId = charId;
      inst->def = def;
      inst->placedFrame = frame;
      inst->createdTick = tick_;
      // A name the tag gives takes no number.
      inst->name = flags & 0x20 ? std::string() : DefaultName(def, nextInstance_, !lib_.abcBlocks.empty());
    }
  } else if (hasChar && move) {
    const Character* def = LibOf(tl).Find(charId);
    inst = &it->second;
    // Only a plain character is replaced: clips and buttons stay what they are.
    const bool swappable = def && !IsSprite(*inst) && !IsButton(*inst) && def->kind != Character::Kind::kSprite &&
                           def->kind != Character::Kind::kButton;
    // ActionScript 3 keeps the object and swaps only what it draws, and only for the same kind.
    const bool as3 = !lib_.abcBlocks.empty();
    if (swappable && as3 && charId != inst->characterId && inst->def && def->kind == inst->def->kind &&
        (def->kind == Character::Kind::kShape || def->kind == Character::Kind::kMorph || def->kind == Character::Kind::kText)) {
      inst->characterId = charId;
      inst->def = def;
      inst->morphCacheRatio = -1;
    } else if (swappable && !as3 && charId != inst->characterId) {
      Discard(*inst);
      inst->characterId = charId;
      inst->def = def;
      inst->sprite.reset();
      inst->morphCacheRatio = -1;
      inst->createdTick = tick_;
      GiveHandle(*inst, tl);
      if (IsSprite(*inst)) InitSprite(*inst, 0);
      if (IsButton(*inst)) InitButton(*inst);
    }
  } else {
    if (it == tl.list.end()) return;
    inst = &it->second;
  }
  bool fresh = inst->createdTick == tick_ && !inst->sprite;
  Matrix keepMatrix = inst->matrix;
  ColorTransform keepCx = inst->cxform;
  struct Restore {
    Instance* i;
    Matrix& m;
    ColorTransform& c;
    ~Restore() {
      if (i->scripted) i->matrix = m, i->cxform = c;
    }
  } restore{inst, keepMatrix, keepCx};
  if (version == 1) {
    inst->matrix = swf::ReadMatrix(r);
    if (!r.AtEnd()) inst->cxform = swf::ReadCxform(r);
  } else {
    if (flags & 0x04) inst->matrix = swf::ReadMatrix(r);
    if (flags & 0x08) inst->cxform = swf::ReadCxformWithAlpha(r);
    if (flags & 0x10) inst->ratio = r.U16("Ratio");
    if (flags & 0x20) inst->name = r.String("Name");
    if (flags & 0x40) inst->clipDepth = r.U16("ClipDepth");
    if (version == 3 && (flags & 0x80) && (flags2 & 0x07)) {
      skipped_.insert("clip actions after filters");
      flags &= 0x7F;
    }
    if (version == 3) {
      if (flags2 & 0x01) {
        try {
          inst->filters = ReadFilterList(r);
        } catch (const swf::SwfError&) {
          // What follows a damaged list cannot be found; draw without.
          skipped_.insert("damaged filters");
          inst->filters.clear();
          flags2 &= static_cast<std::uint8_t>(~0x06);
          r.Rest();
        }
      }
      if (flags2 & 0x02) inst->blendMode = r.U8("BlendMode");
      // Some tools end the tag before the cacheAsBitmap byte: the flag alone turns it on.
      if (flags2 & 0x04) inst->cacheAsBitmap = r.AtEnd() || r.U8("BitmapCache") != 0;
      // Visibility and the opaque background are read, but act from SWF 11 on.
      const bool swf11 = lib_.movie.version >= 11;
      if (flags2 & 0x20) {
        if (!r.AtEnd()) {
          const bool visible = r.U8("Visible") != 0;
          if (swf11) inst->visible = visible;
        }
      }
      if (flags2 & 0x40) {
        const swf::Rgba bg = swf::ReadRgba(r, "BackgroundColor");
        if (swf11) {
          // Always opaque; a transparent colour means none.
          if (bg.a > 0) inst->opaqueBackground = std::uint32_t{bg.r} << 16 | std::uint32_t{bg.g} << 8 | bg.b;
          else inst->opaqueBackground.reset();
        }
      }
    }
    if ((flags & 0x80) && !r.AtEnd()) ReadClipActions(r, LibOf(tl).movie.version, *inst);
  }
  if (fresh && IsSprite(*inst)) InitSprite(*inst, 0, true);
  if (fresh && IsButton(*inst)) InitButton(*inst);
  if (fresh && hooks_) hooks_->Placed(*inst);
  // A field bound to a variable sets it as it is placed: the frame's
  // scripts already read it.
  if (fresh && !hooks_ && inst->def->kind == Character::Kind::kEditText) BindText(tl, *inst);
  if (fresh && !IsSprite(*inst)) QueueLoad(*inst);
}

void Stage::EnterFrame(TimelineState& tl, int frame, bool runActions, bool soundBlocks,
                       DisplayList* reuse) {
  if (frame < 0 || frame >= tl.FrameCount()) return;
  tl.unentered = false;
  // Scripts that jump back and forth could replay frames without end.
  if (++framesEnteredThisTick_ > kMaxFramesEnteredPerTick) {
    skipped_.insert("too many frame jumps");
    return;
  }
  tl.current = frame;
  if (hooks_ && tl.owner == kRootClip) hooks_->MainFrameReached(frame);
  for (const ControlTag& t : tl.def->frames[static_cast<std::size_t>(frame)].tags) {
    // A damaged tag fails the same way every time: read it once only.
    if (!damagedTags_.empty() && damagedTags_.count(t.offset)) continue;
    auto body = LibOf(tl).Body(t);
    swf::Reader r(body, t.offset);
    try {
      switch (t.code) {
        case tag::kPlaceObject:
          Place(tl, r, 1, frame, reuse);
          break;
        case tag::kPlaceObject2:
          Place(tl, r, 2, frame, reuse);
          break;
        case tag::kPlaceObject3:
          Place(tl, r, 3, frame, reuse);
          break;
        case tag::kRemoveObject:
        case tag::kRemoveObject2: {
          if (t.code == tag::kRemoveObject) r.U16("CharacterId");
          auto it = TimelineEntry(tl, r.U16("Depth"));
          if (it != tl.list.end()) RemoveChild(tl, it);
          break;
        }
        case tag::kDoAction:
          if (runActions && !hooks_) pending_.push_back({tl.owner, body, PendingKind::kCode, {}});
          break;
        case tag::kDoInitAction: {
          // Once per sprite, before the frame's own actions.
          const int sprite = r.U16("SpriteId");
          if (!hooks_ && initDone_.insert({tl.lib, sprite}).second) pending_.push_back({tl.owner, r.Rest(), PendingKind::kInit, {}});
          break;
        }
        case tag::kStartSound:
          if (listener_ && runActions && body.size() >= 2) {
            listener_->OnStartSound(body[0] | (body[1] << 8), {}, body.subspan(2), timeMs_);
          }
          break;
        case tag::kStartSound2:
          if (listener_ && runActions) {
            std::string name = r.String("SoundClassName");
            listener_->OnStartSound(lib_.FindName(name), name, r.Rest(), timeMs_);
          }
          break;
        case tag::kSoundStreamHead:
        case tag::kSoundStreamHead2:
          if (listener_ && soundBlocks) listener_->OnStreamHead(tl.soundId, t.code, body, timeMs_);
          break;
        case tag::kSoundStreamBlock:
          if (listener_ && soundBlocks) listener_->OnStreamBlock(tl.soundId, frame, body, timeMs_);
          break;
        default:
          break;
      }
    } catch (const swf::SwfError&) {
      damagedTags_.insert(t.offset);
      skipped_.insert(std::string("damaged ") + std::string(swf::TagName(t.code)));
    }
  }
  if (hooks_ && runActions) hooks_->FrameEntered(tl);
}

void Stage::Goto(TimelineState& tl, int frame, bool runActions) {
  // A jump from a frame whose first half alone ran finishes that frame first.
  if (!steps_.empty()) FinishSteps(&tl);
  frame = std::clamp(frame, 0, tl.FrameCount() - 1);
  if (frame == tl.current) {
    // An empty clip not yet run enters its one frame.
    tl.unentered = false;
    return;
  }
  // The next frame is no jump: a stream plays on into it.
  if (listener_ && frame != tl.current + 1 && tl.soundId >= 0) listener_->OnSeek(tl.soundId, frame, timeMs_);
  if (frame > tl.current) {
    if (hooks_) {
      // ActionScript 3 takes off what the frames passed remove while the
      // old frame number shows; the number changes as the new ones come.
      const int from = tl.current;
      for (int f = from + 1; f <= frame; ++f) {
        TakeOffBeforeEntering(tl, f);
        if (tl.current != f) return;  // a listener jumped elsewhere
        tl.current = from;
      }
    }
    for (int f = tl.current + 1; f <= frame; ++f) EnterFrame(tl, f, runActions && f == frame, f == frame, nullptr);
    return;
  }
  Rebuild(tl, frame, runActions);
}

void Stage::Rebuild(TimelineState& tl, int frame, bool runActions) {
  DisplayList old;
  old.swap(tl.list);
  for (int f = 0; f <= frame; ++f) EnterFrame(tl, f, runActions && f == frame, f == frame, &old);
  for (auto it = old.begin(); it != old.end();) {
    // What lies at script depths is not the timeline's and stays, whoever
    // made it; in ActionScript 1/2 the timeline's depths are cleared, also
    // of clips scripts made or moved there.
    const bool scripts = hooks_ ? it->second.placedFrame < 0 : it->first >= kScriptDepth0;
    if (scripts && hooks_) {
      // ActionScript 3: a script's object has no depth the timeline could
      // take from it; it stays below the timeline's own at its key.
      auto [at, last] = tl.list.equal_range(it->first);
      while (at != last && at->second.placedFrame < 0) ++at;
      tl.list.insert(at, old.extract(it++));
    } else if (scripts && !tl.list.count(it->first)) {
      tl.list.insert(old.extract(it++));
    } else {
      if (hooks_) hooks_->Removing(it->second);
      Discard(it->second);
      ++it;
    }
  }
}

void Stage::RemoveChild(TimelineState& tl, DisplayList::iterator it) {
  const ClipHandle serial = it->second.serial;
  const int depth = it->first;
  if (hooks_) {
    hooks_->Removing(it->second);
    // A listener may have moved it already (another may share its key).
    auto [at, last] = tl.list.equal_range(depth);
    while (at != last && at->second.serial != serial) ++at;
    if (at == last) return;
    it = at;
  }
  Discard(it->second);
  // In ActionScript 1/2 a clip that hears its unload leaves at the start
  // of the next frame, as when a script removes it.
  if (!hooks_ && HearsUnload(it->second, 0)) {
    PutOffRemoval(tl, it);
    return;
  }
  tl.list.erase(it);
}

void Stage::StepTimeline(TimelineState& tl) {
  const int next = tl.current + 1;
  const bool loop = next >= tl.FrameCount();
  if (loop && !tl.def->loops) return;
  if (!splitting_) {
    if (loop) Goto(tl, 0);
    else EnterFrame(tl, next, true, true, nullptr);
    return;
  }
  if (loop) TakeOffBeforeLooping(tl);
  else TakeOffBeforeEntering(tl, next);
  steps_.push_back({tl.owner, loop ? 0 : next, loop});
}

// The next frame's remove tags run while the old frame number shows.
void Stage::TakeOffBeforeEntering(TimelineState& tl, int frame) {
  for (const ControlTag& t : tl.def->frames[static_cast<std::size_t>(frame)].tags) {
    if ((t.code != tag::kRemoveObject && t.code != tag::kRemoveObject2) || damagedTags_.count(t.offset)) continue;
    auto body = LibOf(tl).Body(t);
    swf::Reader r(body, t.offset);
    try {
      if (t.code == tag::kRemoveObject) r.U16("CharacterId");
      auto it = TimelineEntry(tl, r.U16("Depth"));
      if (it != tl.list.end()) RemoveChild(tl, it);
    } catch (const swf::SwfError&) {
      // Entering the frame reports it.
    }
  }
  tl.current = frame;
}

// Back to the first frame: the number changes, then the children the first
// frame does not have leave; the kept ones and the new ones come after.
void Stage::TakeOffBeforeLooping(TimelineState& tl) {
  std::map<int, std::pair<std::uint16_t, int>> kept;  // depth: character, placing frame
  for (const ControlTag& t : tl.def->frames.front().tags) {
    if (damagedTags_.count(t.offset)) continue;
    auto body = LibOf(tl).Body(t);
    swf::Reader r(body, t.offset);
    try {
      if (const int version = PlaceVersion(t.code)) {
        const PlaceHead h = ReadPlaceHead(r, version);
        if (h.hasChar && (!h.move || !kept.count(h.depth))) kept[h.depth] = {h.charId, 0};
      } else if (t.code == tag::kRemoveObject || t.code == tag::kRemoveObject2) {
        if (t.code == tag::kRemoveObject) r.U16("CharacterId");
        kept.erase(r.U16("Depth"));
      }
    } catch (const swf::SwfError&) {
      // Entering the frame reports it.
    }
  }
  tl.current = 0;
  std::vector<std::pair<int, ClipHandle>> leaving;
  for (auto& [depth, inst] : tl.list) {
    if (inst.placedFrame < 0) continue;
    const auto k = kept.find(depth);
    if (k == kept.end() || k->second != std::pair<std::uint16_t, int>{inst.characterId, inst.placedFrame})
      leaving.push_back({depth, inst.serial});
  }
  for (const auto& [depth, serial] : leaving) {
    auto [it, last] = tl.list.equal_range(depth);
    while (it != last && it->second.serial != serial) ++it;
    if (it != last) RemoveChild(tl, it);
  }
}

void Stage::FinishSteps(TimelineState* only) {
  std::vector<Step> todo;
  if (only) {
    for (auto it = steps_.begin(); it != steps_.end(); ++it) {
      if (it->owner != only->owner) continue;
      todo.push_back(*it);
      steps_.erase(it);
      break;
    }
  } else {
    todo.swap(steps_);
  }
  for (const Step& s : todo) {
    TimelineState* tl = s.owner == kRootClip ? &root_ : TimelineOf(s.owner);
    if (!tl || tl->current != s.frame) continue;
    if (s.loop) {
      if (listener_ && tl->soundId >= 0) listener_->OnSeek(tl->soundId, 0, timeMs_);
      Rebuild(*tl, 0);
    } else {
      EnterFrame(*tl, s.frame, true, true, nullptr);
    }
  }
}

void Stage::GotoMain(int frame) {
  ++tick_;
  createdThisTick_ = 0;
  framesEnteredThisTick_ = 0;
  avm_->BeginFrame(ScriptTime());
  frame = std::clamp(frame, 0, root_.FrameCount() - 1);
  Goto(root_, frame);
  RunActions();
  EndScriptFrame();
  if (hooks_) hooks_->AfterFrame();
}

void Stage::AdvanceSprites(TimelineState& tl, int nesting) {
  if (nesting > kMaxSpriteNesting) return;
  // Collect first: actions and gotos below may change the list.
  std::vector<int> depths;
  liveCount_ += tl.list.size();
  for (auto& [depth, inst] : tl.list) {
    if (inst.sprite) depths.push_back(depth);
  }
  for (int depth : depths) {
    auto it = tl.list.find(depth);
    if (it == tl.list.end() || !it->second.sprite) continue;
    Instance& inst = it->second;
    if (inst.steppedTick == tick_) continue;
    inst.steppedTick = tick_;
    if (inst.skipNextStep) {
      inst.skipNextStep = false;
    } else if (inst.createdTick != tick_) {
      for (const ClipEventHandler& h : inst.events) {
        if (h.events & kEventEnterFrame) pending_.push_back({inst.serial, h.code, PendingKind::kCode, {}});
      }
      if (inst.sprite->vars && avm_->HasHandler(inst.serial, "onEnterFrame")) {
        pending_.push_back({inst.serial, {}, PendingKind::kMethod, "onEnterFrame"});
      }
      TimelineState& s = *inst.sprite;
      if (s.playing && s.FrameCount() > 1) StepTimeline(s);
    }
    const bool button = IsButton(inst);
    const ClipHandle serial = inst.serial;
    AdvanceSprites(*inst.sprite, nesting + 1);
    if (!button || !hooks_) continue;
    Instance* again = Find(serial);
    if (!again) continue;
    for (Instance* hidden : hooks_->HiddenStates(*again)) {
      if (!hidden->sprite || hidden->steppedTick == tick_) continue;
      hidden->steppedTick = tick_;
      if (hidden->createdTick != tick_ && hidden->sprite->playing && hidden->sprite->FrameCount() > 1)
        StepTimeline(*hidden->sprite);
      AdvanceSprites(*hidden->sprite, nesting + 1);
    }
  }
}

void Stage::AdvanceTimeline(TimelineState& tl) {
  if (!tl.playing || tl.FrameCount() <= 1) return;
  const int next = tl.current + 1;
  if (next >= tl.FrameCount() && !tl.def->loops) return;
  if (next >= tl.FrameCount()) Goto(tl, 0);
  else EnterFrame(tl, next, true, true, nullptr);
}

void Stage::RunExecList() {
  // Flash runs the clips newest first, the main timeline last: each hears
  // enterFrame, then enters its next frame.
  const std::vector<ClipHandle> order(execList_.rbegin(), execList_.rend());
  liveCount_ = nodes_.size();
  for (ClipHandle h : order) {
    if (h == kRootClip) {
      if (avm_->HasHandler(kRootClip, "onEnterFrame")) pending_.push_back({kRootClip, {}, PendingKind::kMethod, "onEnterFrame"});
      AdvanceTimeline(root_);
      continue;
    }
    Instance* inst = Find(h);
    if (!inst || !inst->sprite || !IsSprite(*inst) || inst->createdTick == tick_) continue;
    inst->sprite->unentered = false;
    for (const ClipEventHandler& ev : inst->events) {
      if (ev.events & kEventEnterFrame) pending_.push_back({h, ev.code, PendingKind::kCode, {}});
    }
    if (inst->sprite->vars && avm_->HasHandler(h, "onEnterFrame")) pending_.push_back({h, {}, PendingKind::kMethod, "onEnterFrame"});
    if (TimelineState* tl = TimelineOf(h)) AdvanceTimeline(*tl);
  }
  // Removed clips leave the list.
  std::erase_if(execList_, [this](ClipHandle h) { return h != kRootClip && !Find(h); });
}

void Stage::Tick() {
  if (quit_) return;
  ++tick_;
  createdThisTick_ = 0;
  framesEnteredThisTick_ = 0;
  FinishRemovals();
  avm_->BeginFrame(ScriptTime());
  if (!hooks_) {
    UpdateDrag();
    RunExecList();
    RunActions();
    EndScriptFrame();
    avm_->Collect();
    return;
  }
  hooks_->BeforeFrame();
  splitting_ = true;
  if (root_.playing && root_.FrameCount() > 1) {
    root_.playAsked = true;
    StepTimeline(root_);
  }
  liveCount_ = 0;
  UpdateDrag();
  if (avm_->HasHandler(kRootClip, "onEnterFrame")) pending_.push_back({kRootClip, {}, PendingKind::kMethod, "onEnterFrame"});
  AdvanceSprites(root_, 0);
  if (TimelineState* orphans = hooks_->Orphans()) {
    AdvanceSprites(*orphans, 0);
  }
  splitting_ = false;
  // The new frames' objects are placed before ENTER_FRAME; their scripts'
  // objects are made after it.
  FinishSteps();
  hooks_->TimelinesAdvanced();
  RunActions();
  EndScriptFrame();
  hooks_->AfterFrame();
  avm_->Collect();
}

Instance* Stage::HitTest(TimelineState& tl, double x, double y, const cairo_matrix_t& p, int nesting) {
  if (nesting > kMaxSpriteNesting) return nullptr;
  // Topmost first.
  for (auto it = tl.list.rbegin(); it != tl.list.rend(); ++it) {
    Instance& inst = it->second;
    if (!inst.visible || inst.clipDepth > 0 || !inst.def) continue;
    const cairo_matrix_t world = Placed(inst, p);
    if (!InScrollWindow(inst, world, x, y)) continue;
    if (IsButton(inst) && inst.sprite) {
      for (const ButtonRecord& rec : static_cast<const ButtonDef*>(inst.def)->records) {
        if ((rec.states & kButtonHit) && HitsCharacter(LibAround(inst).Find(rec.characterId), Combine(rec.matrix, world), x, y)) {
          return &inst;
        }
      }
    } else if (IsSprite(inst) && inst.sprite) {
      // A clip acting as a button takes the pointer from everything inside it.
      if (ActsAsButton(inst)) {
        const ClipHandle areaClip = avm_->HitAreaOf(inst.serial);
        if (areaClip != kNoClip && areaClip != inst.serial) {
          if (HitsShapes(areaClip, x, y)) return &inst;
        } else if (HitsContent(inst, world, x, y, nesting)) {
          return &inst;
        }
        continue;
      }
      if (Instance* hit = HitTest(*inst.sprite, x, y, world, nesting + 1)) return hit;
    }
  }
  return nullptr;
}

bool Stage::ActsAsButton(const Instance& inst) {
  constexpr std::uint32_t kButtonEvents = kEventPress | kEventRelease | kEventReleaseOutside | kEventRollOver |
                                          kEventRollOut | kEventDragOver | kEventDragOut;
  if (!IsSprite(inst) || !inst.sprite) return false;
  bool handlers = false;
  for (const ClipEventHandler& h : inst.events) handlers = handlers || (h.events & kButtonEvents);
  if (!handlers && !inst.sprite->vars) return false;
  // A getter (as components define it) counts as enabled.
  if (!avm_->Enabled(inst.serial)) return false;
  if (handlers) return true;
  for (const char* name : {"onPress", "onRelease", "onReleaseOutside", "onRollOver", "onRollOut", "onDragOver", "onDragOut"}) {
    if (avm_->HasHandler(inst.serial, name)) return true;
  }
  return false;
}

bool Stage::HitsTimeline(const TimelineState& tl, const cairo_matrix_t& world, double x, double y, int nesting) {
  if (nesting > kMaxSpriteNesting) return false;
  if (tl.drawing) {
    double lx = 0, ly = 0;
    if (ToLocal(world, x, y, lx, ly) && PointInGeometry(tl.drawing->geometry, lx, ly)) return true;
  }
  for (const auto& [depth, child] : tl.list) {
    if (child.clipDepth > 0 || !child.def) continue;
    const cairo_matrix_t placed = Placed(child, world);
    if (!InScrollWindow(child, placed, x, y) || !HitsContent(child, placed, x, y, nesting + 1)) continue;
    // setMask: the mask's shapes must hold the point too (a mask gone masks nothing).
    const Instance* scriptMask = child.maskSerial != kNoClip ? Find(child.maskSerial) : nullptr;
    cairo_matrix_t maskWorld;
    if (scriptMask && WorldOf(child.maskSerial, maskWorld) &&
        !HitsContent(*scriptMask, maskWorld, x, y, nesting + 1)) {
      continue;
    }
    // A mask layer below that reaches this depth must hold the point too.
    bool masked = false;
    for (auto m = tl.list.begin(); m != tl.list.end() && m->first < depth && !masked; ++m) {
      const Instance& mask = m->second;
      masked = mask.clipDepth >= depth && mask.def &&
               !HitsContent(mask, Placed(mask, world), x, y, nesting + 1);
    }
    if (!masked) return true;
  }
  return false;
}

bool Stage::HitsContent(const Instance& inst, const cairo_matrix_t& world, double x, double y, int nesting) {
  if (IsButton(inst)) {
    for (const ButtonRecord& rec : static_cast<const ButtonDef*>(inst.def)->records) {
      if ((rec.states & kButtonHit) && HitsCharacter(LibAround(inst).Find(rec.characterId), Combine(rec.matrix, world), x, y)) {
        return true;
      }
    }
    return false;
  }
  if (inst.sprite) return HitsTimeline(*inst.sprite, world, x, y, nesting);
  // A text field is hit anywhere in its box as it is now, empty or not.
  if (inst.field) {
    double lx = 0, ly = 0;
    if (!ToLocal(world, x, y, lx, ly)) return false;
    const text::TextField& f = *inst.field;
    lx /= 20, ly /= 20;
    return lx >= f.X() && lx < f.X() + f.Width() && ly >= f.Y() && ly < f.Y() + f.Height();
  }
  return HitsCharacter(inst.def, world, x, y);
}

std::array<double, 2> Stage::ScrollMove(const Instance& inst) const {
  if (inst.scrollSetTick == tick_) return inst.scrollWas;
  if (!inst.scrollRect) return {0, 0};
  return {(*inst.scrollRect)[0], (*inst.scrollRect)[1]};
}

void Stage::SetScrollRect(Instance& inst, const std::optional<std::array<double, 4>>& r) {
  if (inst.scrollSetTick != tick_) inst.scrollWas = ScrollMove(inst);
  inst.scrollSetTick = tick_;
  inst.scrollRect = r;
}

// The window's corner shows at the object's origin, as it is drawn.
cairo_matrix_t Stage::Placed(const Instance& inst, const cairo_matrix_t& parent) const {
  cairo_matrix_t own = ToCairo(inst.matrix);
  const auto move = ScrollMove(inst);
  if (move[0] != 0 || move[1] != 0) cairo_matrix_translate(&own, -move[0] * 20, -move[1] * 20);
  cairo_matrix_t out;
  cairo_matrix_multiply(&out, &own, &parent);
  return out;
}

// The window crops what is under the pointer as it crops the picture.
bool Stage::InScrollWindow(const Instance& inst, const cairo_matrix_t& world, double x, double y) const {
  if (!inst.scrollRect) return true;
  const auto move = ScrollMove(inst);
  const auto& s = *inst.scrollRect;
  double lx = 0, ly = 0;
  return ToLocal(world, x, y, lx, ly) && lx >= move[0] * 20 && lx < (move[0] + s[2]) * 20 && ly >= move[1] * 20 &&
         ly < (move[1] + s[3]) * 20;
}

bool Stage::InScrollWindows(ClipHandle clip, double x, double y) {
  for (int guard = 0; clip != kRootClip && clip != kNoClip && guard < 65536; ++guard) {
    const Instance* inst = Find(clip);
    if (!inst) return false;
    cairo_matrix_t w;
    if (inst->scrollRect && (!WorldOf(clip, w) || !InScrollWindow(*inst, w, x, y))) return false;
    clip = inst->parent;
  }
  return true;
}

bool Stage::WorldOf(ClipHandle clip, cairo_matrix_t& out) {
  cairo_matrix_init_identity(&out);
  for (int guard = 0; clip != kRootClip; ++guard) {
    const Instance* inst = Find(clip);
    if (!inst || guard > 65536) return false;
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    const cairo_matrix_t m = Placed(*inst, identity);
    cairo_matrix_t r;
    cairo_matrix_multiply(&r, &out, &m);
    out = r;
    clip = inst->parent;
  }
  const cairo_matrix_t root = ToCairo(root_.matrix);
  cairo_matrix_t r;
  cairo_matrix_multiply(&r, &out, &root);
  out = r;
  return true;
}

bool Stage::Space3D(ClipHandle clip, rules::M4& out, bool seen) {
  out = rules::kIdentity4;
  bool any = false;
  for (ClipHandle h = clip; h != kRootClip && h != kNoClip;) {
    const Instance* inst = Find(h);
    if (!inst) return false;
    any = any || inst->depth3D;
    h = inst->parent;
  }
  if (!any) return false;
  for (int guard = 0; clip != kRootClip; ++guard) {
    const Instance* inst = Find(clip);
    if (!inst || guard > 65536) return false;
    const Matrix& m = inst->matrix;
    const Depth3D d = inst->depth3D ? *inst->depth3D : Depth3D{};
    out = rules::Mul4(rules::Place3D(m.scaleX, m.rotateSkew0, m.rotateSkew1, m.scaleY, m.translateX, m.translateY, d.z,
                                     d.rotationX, d.rotationY, d.scaleZ),
                      out);
    clip = inst->parent;
    const Instance* up = clip == kRootClip ? nullptr : Find(clip);
    const auto& projection = clip == kRootClip ? root_.perspective : up ? up->perspective : std::nullopt;
    if (seen && projection && projection->focal > 0) out = rules::Mul4(rules::Seen4(*projection), out);
  }
  const Matrix& r = root_.matrix;
  out = rules::Mul4(rules::Flat4(r.scaleX, r.rotateSkew0, r.rotateSkew1, r.scaleY, r.translateX, r.translateY), out);
  return true;
}

// The point of an object's plane seen at a stage point; false when it is
// not in three dimensions, or the point lies behind the eye.
bool Stage::OnPlane3D(ClipHandle clip, double& x, double& y, bool& in3D) {
  rules::M4 t;
  in3D = Space3D(clip, t, true);
  if (!in3D) return false;
  const rules::H3 plane{t[0], t[4], t[12], t[1], t[5], t[13], t[3], t[7], t[15]};
  rules::H3 inv;
  if (!rules::Invert3(plane, inv)) return false;
  const double q = inv[6] * x + inv[7] * y + inv[8];
  if (q == 0) return false;
  const double u = (inv[0] * x + inv[1] * y + inv[2]) / q, v = (inv[3] * x + inv[4] * y + inv[5]) / q;
  if (!(rules::DepthOf(plane, u, v) > 0)) return false;
  x = u, y = v;
  return true;
}

bool Stage::ToClipSpace(ClipHandle clip, double& x, double& y) {
  bool in3D = false;
  if (OnPlane3D(clip, x, y, in3D) || in3D) return !in3D || std::isfinite(x + y);
  cairo_matrix_t w;
  if (!WorldOf(clip, w)) return false;
  double lx = 0, ly = 0;
  if (!ToLocal(w, x, y, lx, ly)) return false;
  x = lx, y = ly;
  return true;
}

bool Stage::HitsShapes(ClipHandle clip, double x, double y) {
  bool in3D = false;
  if (clip != kRootClip && OnPlane3D(clip, x, y, in3D)) {
    // In three dimensions: the point of its plane, tested in its own space.
    const Instance* inst = Find(clip);
    cairo_matrix_t own;
    cairo_matrix_init_identity(&own);
    return inst && HitsContent(*inst, own, x, y, 0);
  }
  if (in3D) return false;
  cairo_matrix_t w;
  if (!WorldOf(clip, w)) return false;
  if (clip == kRootClip) return HitsTimeline(root_, w, x, y, 0);
  const Instance* inst = Find(clip);
  if (!inst || !InScrollWindows(clip, x, y) || !HitsContent(*inst, w, x, y, 0)) return false;
  const Instance* scriptMask = inst->maskSerial != kNoClip ? Find(inst->maskSerial) : nullptr;
  cairo_matrix_t maskWorld;
  return !scriptMask || !WorldOf(inst->maskSerial, maskWorld) || HitsContent(*scriptMask, maskWorld, x, y, 1);
}

ClipHandle Stage::DeepestClipAt(TimelineState& tl, const cairo_matrix_t& p, double x, double y, ClipHandle skip,
                                int nesting) {
  if (nesting > kMaxSpriteNesting) return kNoClip;
  for (auto it = tl.list.rbegin(); it != tl.list.rend(); ++it) {
    Instance& inst = it->second;
    if (!inst.visible || inst.clipDepth > 0 || !inst.def || inst.serial == skip) continue;
    const cairo_matrix_t world = Placed(inst, p);
    if (!InScrollWindow(inst, world, x, y)) continue;
    if (IsSprite(inst) && inst.sprite) {
      const ClipHandle inner = DeepestClipAt(*inst.sprite, world, x, y, skip, nesting + 1);
      if (inner != kNoClip) return inner;
      if (inst.sprite->drawing) {
        double lx = 0, ly = 0;
        if (ToLocal(world, x, y, lx, ly) && PointInGeometry(inst.sprite->drawing->geometry, lx, ly)) return inst.serial;
      }
    } else if (HitsContent(inst, world, x, y, nesting)) {
      return tl.owner;
    }
  }
  return kNoClip;
}

ClipHandle Stage::DropTarget() {
  if (dragClip_ == kNoClip) return kNoClip;
  return DeepestClipAt(root_, ToCairo(root_.matrix), pointerX_, pointerY_, dragClip_, 0);
}

void Stage::StartDrag(ClipHandle clip, bool lockCenter, const double* bounds) {
  Instance* inst = Find(clip);
  if (!inst || !inst->sprite) return;
  dragClip_ = clip;
  dragLock_ = lockCenter;
  dragBounded_ = bounds != nullptr;
  if (bounds) {
    double b[4];
    for (int i = 0; i < 4; ++i) b[i] = std::isfinite(bounds[i]) ? std::clamp(bounds[i], -2e9, 2e9) : 0.0;
    dragBounds_[0] = std::min(b[0], b[2]), dragBounds_[2] = std::max(b[0], b[2]);
    dragBounds_[1] = std::min(b[1], b[3]), dragBounds_[3] = std::max(b[1], b[3]);
  }
  double px = pointerX_, py = pointerY_;
  dragDx_ = dragDy_ = 0;
  if (!lockCenter && ToClipSpace(inst->parent, px, py)) {
    dragDx_ = inst->matrix.translateX - px;
    dragDy_ = inst->matrix.translateY - py;
  }
  UpdateDrag();
}

void Stage::UpdateDrag() {
  if (dragClip_ == kNoClip) return;
  Instance* inst = Find(dragClip_);
  if (!inst) {
    dragClip_ = kNoClip;
    return;
  }
  double x = pointerX_, y = pointerY_;
  if (!ToClipSpace(inst->parent, x, y)) return;
  x += dragDx_, y += dragDy_;
  if (dragBounded_) {
    x = std::clamp(x, dragBounds_[0], dragBounds_[2]);
    y = std::clamp(y, dragBounds_[1], dragBounds_[3]);
  }
  inst->matrix.translateX = static_cast<std::int32_t>(std::lround(std::clamp(x, -2e9, 2e9)));
  inst->matrix.translateY = static_cast<std::int32_t>(std::lround(std::clamp(y, -2e9, 2e9)));
  inst->scripted = true;
}

void Stage::Transition(Instance& inst, ButtonPhase to, std::uint16_t transition) {
  activeState_ = to;
  activeSerial_ = to == ButtonPhase::kIdle ? kNoClip : inst.serial;
  if (IsSprite(inst)) {
    // A clip acting as a button: its _up, _over and _down frames when it
    // has them, and its handlers.
    if (inst.sprite) {
      const char* frame = to == ButtonPhase::kOverUp || to == ButtonPhase::kOutDown ? "_over"
                          : to == ButtonPhase::kOverDown                            ? "_down"
                                                                                    : "_up";
      if (inst.sprite->def->labels.count(frame) && GotoLabel(*inst.sprite, frame)) SetPlaying(*inst.sprite, false);
    }
    std::uint32_t event = 0;
    const char* method = nullptr;
    switch (transition) {
      case kIdleToOverUp: event = kEventRollOver, method = "onRollOver"; break;
      case kOverUpToIdle: event = kEventRollOut, method = "onRollOut"; break;
      case kOverUpToOverDown: event = kEventPress, method = "onPress"; break;
      case kOverDownToOverUp: event = kEventRelease, method = "onRelease"; break;
      case kOverDownToOutDown:
      case kOverDownToIdle: event = kEventDragOut, method = "onDragOut"; break;
      case kOutDownToOverDown:
      case kIdleToOverDown: event = kEventDragOver, method = "onDragOver"; break;
      case kOutDownToIdle: event = kEventReleaseOutside, method = "onReleaseOutside"; break;
      default: break;
    }
    for (const ClipEventHandler& h : inst.events) {
      if (h.events & event) pending_.push_back({inst.serial, h.code, PendingKind::kCode, {}});
    }
    if (method) pending_.push_back({inst.serial, {}, PendingKind::kMethod, method});
    return;
  }
  const auto& def = *static_cast<const ButtonDef*>(inst.def);
  const std::uint8_t look = to == ButtonPhase::kOverUp || to == ButtonPhase::kOutDown ? kButtonOver
                            : to == ButtonPhase::kOverDown                            ? kButtonDown
                                                                                      : kButtonUp;
  ShowButtonState(inst, look);
  if (const int slot = SoundSlot(transition); slot >= 0 && listener_) {
    const MovieLibrary& lib = LibAround(inst);
    if (auto it = lib.buttonSounds.find(inst.characterId); it != lib.buttonSounds.end()) {
      const ButtonSound& bs = it->second[static_cast<std::size_t>(slot)];
      if (bs.soundId) listener_->OnStartSound(bs.soundId, {}, lib.Data(bs.infoOffset, bs.infoLength), timeMs_);
    }
  }
  if (hooks_) hooks_->ButtonTransition(inst, transition);
  // Button actions run on the timeline that holds the button.
  for (const ButtonAction& a : def.actions) {
    if (a.conditions & transition) {
      pending_.push_back({inst.parent, LibAround(inst).Data(a.offset, a.length), PendingKind::kCode, {}});
    }
  }
}

void Stage::Pointer(double x, double y, bool down) {
  if (quit_) return;
  ++tick_;
  createdThisTick_ = 0;
  framesEnteredThisTick_ = 0;
  avm_->BeginFrame(ScriptTime());
  {
    std::uint32_t ev = 0;
    if (x != pointerX_ || y != pointerY_) ev |= kEventMouseMove;
    if (down && !mouseDown_) ev |= kEventMouseDown;
    if (!down && mouseDown_) ev |= kEventMouseUp;
    pointerX_ = x;
    pointerY_ = y;
    UpdateDrag();
    // Mouse listeners hear first, then the clips' handlers.
    if (ev & kEventMouseDown) pending_.push_back({kNoClip, {}, PendingKind::kBroadcast, "onMouseDown"});
    if (ev & kEventMouseMove) pending_.push_back({kNoClip, {}, PendingKind::kBroadcast, "onMouseMove"});
    if (ev & kEventMouseUp) pending_.push_back({kNoClip, {}, PendingKind::kBroadcast, "onMouseUp"});
    if (ev) QueueEvents(root_, ev, 0);
    for (auto [bit, name] : {std::pair{kEventMouseDown, "onMouseDown"}, {kEventMouseMove, "onMouseMove"}, {kEventMouseUp, "onMouseUp"}}) {
      if ((ev & bit) && avm_->HasHandler(kRootClip, name)) pending_.push_back({kRootClip, {}, PendingKind::kMethod, name});
    }
  }
  Instance* hit = HitTest(root_, x, y, ToCairo(root_.matrix), 0);
  Instance* active = activeSerial_ != kNoClip ? Find(activeSerial_) : nullptr;
  if (active && !IsButton(*active) && !IsSprite(*active)) active = nullptr;
  bool alive = active != nullptr;
  if (!alive) {
    activeSerial_ = kNoClip;
    activeState_ = ButtonPhase::kIdle;
  }
  auto menu = [](const Instance* b) { return IsButton(*b) && static_cast<const ButtonDef*>(b->def)->trackAsMenu; };
  auto enter = [&](Instance* b, bool pressed) {
    active = b;
    alive = true;
    if (pressed) Transition(*active, ButtonPhase::kOverDown, kIdleToOverDown);
    else Transition(*active, ButtonPhase::kOverUp, kIdleToOverUp);
  };
  const bool over = alive && hit == active;
  if (!mouseDown_) {
    if (alive && !over) {
      Transition(*active, ButtonPhase::kIdle, kOverUpToIdle);
      alive = false;
    }
    if (!alive && hit) enter(hit, false);
    if (down && alive) Transition(*active, ButtonPhase::kOverDown, kOverUpToOverDown);
  } else {
    if (alive && activeState_ == ButtonPhase::kOverDown && !over) {
      if (menu(active)) {
        Transition(*active, ButtonPhase::kIdle, kOverDownToIdle);
        alive = false;
      } else {
        Transition(*active, ButtonPhase::kOutDown, kOverDownToOutDown);
      }
    } else if (alive && activeState_ == ButtonPhase::kOutDown && over) {
      Transition(*active, ButtonPhase::kOverDown, kOutDownToOverDown);
    }
    // Menu buttons take a press dragged onto them.
    if (!alive && hit && menu(hit)) enter(hit, true);
    if (!down) {
      if (alive && activeState_ == ButtonPhase::kOverDown) {
        Transition(*active, ButtonPhase::kOverUp, kOverDownToOverUp);
      } else if (alive && activeState_ == ButtonPhase::kOutDown) {
        Transition(*active, ButtonPhase::kIdle, kOutDownToIdle);
        alive = false;
      }
      if (!alive && hit) enter(hit, false);
    }
  }
  mouseDown_ = down;
  RunActions();
  if (hooks_) hooks_->Pointer(x, y, down);
}

int ButtonKeyPressCode(int keyCode, int charCode) {
  switch (keyCode) {
    case 37: return 1;   // left
    case 39: return 2;   // right
    case 36: return 3;   // home
    case 35: return 4;   // end
    case 45: return 5;   // insert
    case 46: return 6;   // delete
    case 8: return 8;    // backspace
    case 13: return 13;  // enter
    case 38: return 14;  // up
    case 40: return 15;  // down
    case 33: return 16;  // page up
    case 34: return 17;  // page down
    case 9: return 18;   // tab
    case 27: return 19;  // escape
    default: return charCode >= 32 && charCode <= 126 ? charCode : 0;
  }
}

void Stage::Key(bool down, int keyCode, int charCode) {
  if (quit_) return;
  ++tick_;
  createdThisTick_ = 0;
  framesEnteredThisTick_ = 0;
  avm_->BeginFrame(ScriptTime());
  avm_->KeyChanged(down, keyCode, charCode);
  // Key listeners hear first, then the clips' handlers and the buttons' keyPress actions.
  pending_.push_back({kNoClip, {}, PendingKind::kBroadcastKey, down ? "onKeyDown" : "onKeyUp"});
  const int press = down ? ButtonKeyPressCode(keyCode, charCode) : 0;
  QueueEvents(root_, down ? kEventKeyDown : kEventKeyUp, 0, press);
  if (press) QueueKeyPress(root_, press, 0);
  RunActions();
  if (hooks_) hooks_->Key(down, keyCode, charCode);
}


void Stage::PointerLeft() {
  // Far outside every hit area: rollouts, then a release outside.
  constexpr double kAway = -1e15;
  Pointer(kAway, kAway, mouseDown_);
  if (mouseDown_) Pointer(kAway, kAway, false);
}

void Stage::RunActions() {
  // Each action's step budget bounds the scripts; this bounds the entries
  // that scripts keep queueing without running a step.
  std::size_t guard = 0;
  PendingActions p;
  while (guard++ < kMaxPendingPerTick && pending_.Pop(p)) {
    // A clip removed since its actions were queued runs none of them, nor
    // its handlers (its unload handlers run apart).
    if ((p.kind == PendingKind::kCode || p.kind == PendingKind::kInitialize || p.kind == PendingKind::kMethod) &&
        p.target != kNoClip &&
        (!TimelineOf(p.target) || Leaving(p.target))) {
      continue;
    }
    switch (p.kind) {
      case PendingKind::kCode:
      case PendingKind::kInit:
      case PendingKind::kInitialize: avm_->Run(p.target, p.code); break;
      case PendingKind::kMethod: avm_->CallHandler(p.target, p.method); break;
      case PendingKind::kConstruct: avm_->ConstructClip(p.target); break;
      case PendingKind::kBroadcast: avm_->BroadcastGlobal("Mouse", p.method); break;
      case PendingKind::kBroadcastKey: avm_->BroadcastGlobal("Key", p.method); break;
      case PendingKind::kUnload: avm_->RunUnloads(); break;
    }
  }
  pending_.clear();
  UpdateBoundText(root_, 0);
}

void Stage::BindText(TimelineState& tl, Instance& inst) {
  const auto& e = static_cast<const EditTextDef&>(*inst.def);
  // A loaded movie's field finds its fonts in that movie's library.
  if (!inst.field) inst.field = text::TextField::FromDef(e, &LibOf(tl));
  const std::string variable = inst.field->Opts().variable;
  if (variable.empty()) return;
  // A bound field follows a variable of a clip, not one of a plain object
  // (that only gives the field its text when it is bound).
  if (inst.text && !avm_->VariableOnClip(variable, tl.owner)) return;
  std::optional<std::string> v = avm_->VariableText(variable, tl.owner);
  // A new field gives its variable its own text, when it has some.
  if (!v && !inst.text) {
    const std::string own = e.text.empty() ? inst.field->Text() : e.text;
    if (own.empty()) return;
    avm_->SetVariableText(variable, own, tl.owner);
    v = own;
  }
  // A variable gone (its clip removed, say) leaves the text as it is.
  if (!v) return;
  const std::string& s = *v;
  if (!inst.text || *inst.text != s) {
    inst.text = std::make_shared<const std::string>(s);
    inst.field->SetShown(s);
  }
}

void Stage::UpdateBoundText(TimelineState& tl, int nesting) {
  if (nesting > kMaxSpriteNesting) return;
  for (auto& [depth, inst] : tl.list) {
    if (inst.def && inst.def->kind == Character::Kind::kEditText) {
      BindText(tl, inst);
    } else if (inst.sprite && IsSprite(inst)) {
      UpdateBoundText(*inst.sprite, nesting + 1);
    }
  }
}

Instance* Stage::Find(ClipHandle h) {
  auto it = nodes_.find(h);
  return it == nodes_.end() ? nullptr : it->second;
}

const MovieLibrary& Stage::LibAround(const Instance& inst) {
  const TimelineState* parent = TimelineOf(inst.parent);
  return parent ? LibOf(*parent) : lib_;
}

TimelineState* Stage::TimelineOf(ClipHandle h) {
  if (h == kRootClip) return &root_;
  Instance* inst = Find(h);
  return inst ? inst->sprite.get() : nullptr;
}

ClipHandle Stage::ParentOf(ClipHandle h) {
  const Instance* inst = Find(h);
  return inst ? inst->parent : kNoClip;
}

std::string Stage::PathOf(ClipHandle h) {
  std::vector<const std::string*> names;
  // Scripts may nest clips deeper than the timelines do.
  for (int guard = 0; h != kRootClip && guard < 65536; ++guard) {
    const Instance* inst = Find(h);
    if (!inst) return {};
    names.push_back(&inst->name);
    h = inst->parent;
  }
  std::string out;
  for (auto it = names.rbegin(); it != names.rend(); ++it) out += "/" + **it;
  return out;
}

Instance* Stage::FindChild(TimelineState& tl, std::string_view name) {
  const std::string low = Lower(std::string(name));
  for (auto& [depth, inst] : tl.list) {
    if (inst.sprite && inst.name.size() == low.size() && Lower(inst.name) == low) return &inst;
  }
  return nullptr;
}

ClipHandle Stage::Resolve(ClipHandle base, std::string_view path, bool thisIsBase) {
  ClipHandle at = base;
  // After a slash a dot no longer divides names: "a.b/c" is c in b in a,
  // "a/b.c" names a child "b.c".
  bool slashed = false;
  bool first = true;
  if (!path.empty() && path[0] == '/') {
    at = RootOf(base);
    path.remove_prefix(1);
    slashed = true;
    first = false;
  }
  while (!path.empty()) {
    // Colons before a name are one divider however many: ":::a" is "a".
    while (!path.empty() && path[0] == ':') path.remove_prefix(1);
    const std::string_view head = path.substr(0, 3);
    if (head == ".." || head == "../" || head == "..:") {
      // ".." is a part of its own, then a divider; a level has no parent.
      if (head == "../") slashed = true;
      path.remove_prefix(head.size());
      if (at == kRootClip || RootOf(at) == at) return kNoClip;
      at = ParentOf(at);
      first = false;
      continue;
    }
    std::size_t end = 0;
    while (end < path.size() && path[end] != ':' && path[end] != '/' && (slashed || path[end] != '.')) ++end;
    const std::string_view part = path.substr(0, end);
    if (end < path.size() && path[end] == '/') slashed = true;
    path.remove_prefix(std::min(end + 1, path.size()));
    // An empty name (two dividers in a row, or colons at the end) names nothing.
    if (part.empty()) return kNoClip;
    const std::string low = Lower(std::string(part));
    const int level = LevelNumber(low);
    TimelineState* tl = TimelineOf(at);
    Instance* child = nullptr;
    if (thisIsBase && low == "this") {
      at = base;
    } else if (first && low == "_root") {
      at = RootOf(at);
    } else if (first && (low == "_level0" || level > 0)) {
      at = low == "_level0" ? kRootClip : Level(level, false);
    } else if ((child = tl ? FindChild(*tl, part) : nullptr)) {
      // A child comes before the clip's own names below.
      at = child->serial;
    } else if (low == "_root") {
      at = RootOf(at);
    } else if (low == "_level0" || level > 0) {
      at = low == "_level0" ? kRootClip : Level(level, false);
    } else if (low == "_parent") {
      if (at == kRootClip || RootOf(at) == at) return kNoClip;
      at = ParentOf(at);
    } else {
      return kNoClip;
    }
    if (at == kNoClip) return kNoClip;
    first = false;
  }
  return TimelineOf(at) ? at : kNoClip;
}

ClipHandle Stage::ResolveSwf4(ClipHandle base, std::string_view path) {
  ClipHandle at = base;
  bool first = true;
  if (!path.empty() && path[0] == '/') {
    at = RootOf(base);
    path.remove_prefix(1);
    first = false;
  }
  while (!path.empty()) {
    if (path == ".." || path.substr(0, 3) == "../") {
      path.remove_prefix(std::min<std::size_t>(3, path.size()));
      if (at == kRootClip || RootOf(at) == at) return kNoClip;
      at = ParentOf(at);
      first = false;
      continue;
    }
    const std::size_t end = std::min(path.find('/'), path.size());
    const std::string_view part = path.substr(0, end);
    path.remove_prefix(std::min(end + 1, path.size()));
    if (part.empty()) return kNoClip;
    const std::string low = Lower(std::string(part));
    TimelineState* tl = TimelineOf(at);
    Instance* child = nullptr;
    if (first && (low.rfind("_level", 0) == 0 || low.rfind("_flash", 0) == 0)) {
      // The digits that follow, up to anything else: "_level0:a" is level 0.
      long n = 0;
      for (std::size_t i = 6; i < low.size() && low[i] >= '0' && low[i] <= '9' && n <= 0x7FFFFFFF; ++i)
        n = n * 10 + (low[i] - '0');
      at = n == 0 ? kRootClip : n > 0x7FFFFFFF ? kNoClip : Level(static_cast<int>(n), false);
    } else if ((child = tl ? FindChild(*tl, part) : nullptr)) {
      at = child->serial;
    } else if (low == "_parent") {
      if (at == kRootClip || RootOf(at) == at) return kNoClip;
      at = ParentOf(at);
    } else {
      return kNoClip;
    }
    if (at == kNoClip) return kNoClip;
    first = false;
  }
  return TimelineOf(at) ? at : kNoClip;
}

}  // namespace quarvel::player

namespace quarvel::player {

Instance* Stage::AdoptScriptNode(TimelineState& parent, int depth, const Character* def, const MovieLibrary* from) {
  if (!def || parent.list.count(depth)) return nullptr;
  if (++createdThisTick_ > kMaxInstancesPerTick || liveCount_ + createdThisTick_ > kMaxLiveInstances) {
    skipped_.insert("too many placed objects");
    return nullptr;
  }
  Instance& inst = Adopt(parent, depth);
  inst.def = def;
  inst.characterId = def->id;
  inst.name = DefaultName(def, nextInstance_, !lib_.abcBlocks.empty());
  inst.createdTick = tick_;
  inst.placedFrame = -1;  // not the timeline's: a backward jump keeps it
  inst.scripted = true;
  if (IsSprite(inst)) InitSprite(inst, 0, false, from);
  if (IsButton(inst)) InitButton(inst);
  return &inst;
}

Instance* Stage::MoveNode(TimelineState& from, int fromDepth, TimelineState& to, int depth, const Instance* which) {
  if (to.list.count(depth)) return nullptr;
  // Two nodes may share a key (a timeline's and a script's): take the one named.
  auto entry = which ? EntryOf(from.list, *which) : from.list.find(fromDepth);
  if (entry == from.list.end()) return nullptr;
  auto node = from.list.extract(entry);
  if (node.empty()) return nullptr;
  node.key() = depth;
  Instance& inst = node.mapped();
  inst.depth = depth;
  inst.parent = to.owner;
  inst.placedFrame = -1;
  return &to.list.insert(std::move(node))->second;
}

}  // namespace quarvel::player
