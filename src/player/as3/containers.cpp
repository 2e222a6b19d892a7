// DisplayObjectContainer (the child list), Sprite, MovieClip (timeline
// control, labels, scenes, frame scripts) and SimpleButton.
#include <cmath>
#include <cstdint>
#include <limits>

#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {

// ---- DisplayObjectContainer

TimelineState* Container(Machine& m, const Value& self) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (f && f == b.stageObject) return &b.stage.Root();
  TimelineState* tl = SelfTimeline(m, self);
  if (!tl) m.ThrowError("ArgumentError", "The object is not a display object container.", 2025);
  return tl;
}
FlashObject* ChildArg(Machine& m, std::span<Value> a) {
  FlashObject* c = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
  if (!c) m.ThrowError("TypeError", "Parameter child must be non-null.", 2007);
  // An object whose constructor never called super() is a display object all the same.
  if (c->handle == kNoClip && c != B(m).stageObject) MakeNode(m, c);
  if (!B(m).Node(c->handle)) m.ThrowError("ArgumentError", "The child is not a display object that can be added.", 2025);
  return c;
}
std::vector<int> Keys(const TimelineState& tl) {
  std::vector<int> k;
  for (auto& [d, i] : tl.list) k.push_back(d);
  return k;
}
// Takes a node off its list (to the off-list one) and tells listeners.
void Detach(Machine& m, ClipHandle h, bool events) {
  As3Display& b = B(m);
  Instance* i = b.Node(h);
  if (!i || i->parent == kNoClip) return;
  if (events) b.Removed(h);
  i = b.Node(h);
  if (!i || i->parent == kNoClip) return;
  TimelineState* from = b.ListOf(*i);
  if (from) b.stage.MoveNode(*from, i->depth, b.limbo, ++b.limboDepth, i);
}

// ---- SimpleButton: it holds the state it shows as its one child, which
// sees no parent (a button is no container) but the button's root and stage.
namespace {
constexpr std::uint8_t kStateBits[4] = {kButtonUp, kButtonOver, kButtonDown, kButtonHit};
// The state a button shows: a symbol's as the pointer left it, a script's up.
int ShownState(As3Display& b, ClipHandle button) {
  const Instance* i = b.Node(button);
  if (!i || !i->def || i->def->kind != Character::Kind::kButton) return 0;
  for (int k = 0; k < 3; ++k)
    if (i->buttonState == kStateBits[k]) return k;
  return 0;
}
bool IsAncestorOrSelf(As3Display& b, ClipHandle candidate, ClipHandle h) {
  for (int guard = 0; guard < 10000 && h != kNoClip; ++guard) {
    if (h == candidate) return true;
    const Instance* i = b.Node(h);
    if (!i) return false;
    h = i->parent;
  }
  return false;
}
}  // namespace

// A script set a state: the object leaves the container it was in, and the
// state shown changes with ADDED and REMOVED as addChild would send them.
void ShowSetState(Machine& m, FlashObject* button, int index, const Value& before) {
  As3Display& b = B(m);
  FlashObject* now = As<DisplayObj>(button->states[index]);
  if (index != ShownState(b, button->handle)) {
    if (now && now->handle != kNoClip) {
      Instance* ni = b.Node(now->handle);
      if (ni && ni->parent != kNoClip && ni->parent != button->handle) Detach(m, now->handle, true);
    }
    return;
  }
  if (FlashObject* old = As<DisplayObj>(before); old && old->handle != kNoClip && old != now) {
    Instance* oi = b.Node(old->handle);
    if (oi && oi->parent == button->handle) Detach(m, old->handle, true);
  }
  TimelineState* tl = b.Timeline(button->handle);
  if (now && now->handle != kNoClip && tl && !IsAncestorOrSelf(b, now->handle, button->handle)) {
    Instance* ni = b.Node(now->handle);
    if (ni && ni->parent != button->handle) Attach(m, *tl, now->handle, 0);
    // The state shown then has a frame of its own: FRAME_CONSTRUCTED, its
    // frame script, EXIT_FRAME, heard by it alone.
    ni = b.Node(now->handle);
    if (!ni || ni->parent != button->handle) return;
    const Value self = Value::Obj(now);
    for (const char* type : {"frameConstructed", "", "exitFrame"}) {
      if (!*type) {
        b.RunFrameScript(now->handle);
        continue;
      }
      Value e = b.NewEvent(b.eventClass, type, false);
      if (EventObject* eo = As<EventObject>(e)) {
        eo->target = self;
        eo->currentTarget = self;
        eo->phase = 2;
        b.CallListeners(now, eo, false);
      }
    }
  }
}

// Flash makes each state of a button symbol from the records shown in it,
// every record anew for each state: a lone record's object is the state
// itself; two or more (or none) go into a Sprite made for the state once
// all four are built. While their constructors run they lie in the button.
void As3Display::BuildButtonStates(FlashObject* o) {
  if (!o || o->statesBuilt) return;
  Instance* bi = Node(o->handle);
  if (!bi || !bi->def || bi->def->kind != Character::Kind::kButton || !bi->sprite) return;
  o->statesBuilt = true;
  const ClipHandle self = o->handle;
  const ButtonDef& def = static_cast<const ButtonDef&>(*bi->def);
  const MovieLibrary* own = bi->sprite->lib;
  const MovieLibrary& from = own ? *own : lib;
  struct Made {
    ClipHandle h;
    int depth;
  };
  std::vector<Made> made[4];
  ClipHandle wrapped[4] = {kNoClip, kNoClip, kNoClip, kNoClip};
  int temp = bi->sprite->list.empty() ? 0 : bi->sprite->list.rbegin()->first;
  for (int k = 0; k < 4; ++k) {
    for (const ButtonRecord& rec : def.records) {
      if (!(rec.states & kStateBits[k])) continue;
      const Character* cd = from.Find(rec.characterId);
      TimelineState* tl = Timeline(self);
      if (!tl) return;  // a constructor took the button away
      if (!cd || cd->kind == Character::Kind::kButton) continue;
      Instance* c = stage.AdoptScriptNode(*tl, ++temp, cd, own);
      if (!c) continue;
      c->matrix = rec.matrix;
      // The hit area keeps only the place of its records.
      if (k != 3) {
        c->cxform = rec.cxform;
        c->blendMode = rec.blendMode;
        c->filters = rec.filters;
      }
      MakeTextFieldOf(*c, from, false);
      const ClipHandle h = c->serial;
      made[k].push_back({h, rec.depth});
      ObjectFor(h);
    }
  }
  for (int k = 0; k < 4; ++k) {
    if (made[k].size() == 1) {
      if (FlashObject* s = Existing(made[k][0].h)) o->states[k] = Value::Obj(s);
      continue;
    }
    Instance* w = NewNode(&stage.EmptySprite());
    if (!w) continue;
    const ClipHandle wh = w->serial;
    FlashObject* wo = Construct(spriteClass, wh);
    TimelineState* wtl = Timeline(wh);
    TimelineState* btl = Timeline(self);
    if (!wo || !wtl) continue;
    for (const Made& c : made[k]) {
      Instance* ci = Node(c.h);
      if (!btl || !ci || ci->parent != self) continue;
      int d = c.depth;
      while (wtl->list.count(d)) ++d;
      stage.MoveNode(*btl, ci->depth, *wtl, d);
    }
    o->states[k] = Value::Obj(wo);
    wrapped[k] = wh;
  }
  // ADDED goes to the children of each Sprite made for a state, before any
  // state is shown; then to the state shown, with ADDED_TO_STAGE on it and
  // all below it.
  for (ClipHandle wh : wrapped) {
    TimelineState* wtl = wh == kNoClip ? nullptr : Timeline(wh);
    if (!wtl) continue;
    std::vector<ClipHandle> kids;
    for (auto& [d, c] : wtl->list) kids.push_back(c.serial);
    for (ClipHandle kid : kids) SendSimpleAdded(kid);
  }
  const int shown = ShownState(*this, self);
  ShowStateObject(o, shown);
  FlashObject* state = As<DisplayObj>(o->states[shown]);
  if (!state || !Node(state->handle) || Node(state->handle)->parent != self) return;
  SendSimpleAdded(state->handle);
  if (OnStage(self)) AddedToStage(state->handle, 0);
}

void As3Display::SendSimpleAdded(ClipHandle h) {
  if (FlashObject* o = Existing(h)) {
    Value e = NewEvent(eventClass, "added", true);
    Dispatch(o, As<EventObject>(e));
  }
}

// Shows a state: it becomes the button's child and the others leave it,
// with no events (the button only changes what it holds).
void As3Display::ShowStateObject(FlashObject* o, int index) {
  TimelineState* btl = Timeline(o->handle);
  if (!btl) return;
  FlashObject* want = As<DisplayObj>(o->states[index]);
  std::vector<int> out;
  for (auto& [d, c] : btl->list)
    if (!want || c.serial != want->handle) out.push_back(d);
  for (int d : out) stage.MoveNode(*btl, d, limbo, ++limboDepth);
  if (!want || want->handle == kNoClip || IsAncestorOrSelf(*this, want->handle, o->handle)) return;
  Instance* wi = Node(want->handle);
  // A state a script put in another container stays there.
  if (!wi || wi->parent != kNoClip) return;
  const int depth = btl->list.empty() ? 0 : btl->list.rbegin()->first + 1;
  stage.MoveNode(limbo, wi->depth, *btl, depth);
}

bool As3Display::ShowButtonState(Instance& button, std::uint8_t state) {
  FlashObject* o = Existing(button.serial);
  if (o && o->statesBuilt) {
    for (int k = 0; k < 3; ++k)
      if (state == kStateBits[k]) ShowStateObject(o, k);
  }
  return true;
}

// Flash plays the states it does not show too, the last state first.
std::vector<Instance*> As3Display::HiddenStates(Instance& button) {
  std::vector<Instance*> out;
  FlashObject* o = Existing(button.serial);
  if (!o || !o->statesBuilt) return out;
  for (int k = 3; k >= 0; --k) {
    FlashObject* s = As<DisplayObj>(o->states[k]);
    if (!s || s->handle == kNoClip) continue;
    Instance* i = Node(s->handle);
    // Only those the button keeps out of sight; one shown, or in another
    // container, plays where it is.
    if (!i || i->parent != kNoClip || std::find(out.begin(), out.end(), i) != out.end()) continue;
    out.push_back(i);
  }
  return out;
}

NATIVE(SbCtor) {
  FlashObject* f = As<FlashObject>(self);
  if (!f) return self;
  const bool made = f->handle == kNoClip;
  DisplayObjectCtor(m, self, a);
  if (!made) return self;
  for (std::size_t k = 0; k < 4 && k < a.size(); ++k)
    if (As<DisplayObj>(a[k])) {
      const Value before = f->states[k];
      f->states[k] = a[k];
      ShowSetState(m, f, static_cast<int>(k), before);
    }
  return self;
}
template <int kState>
Value SbGetState(Machine&, Value self, std::span<Value>) {
  FlashObject* f = As<FlashObject>(self);
  return f && f->states[kState].IsObject() ? f->states[kState] : Value::Null();
}
template <int kState>
Value SbSetState(Machine& m, Value self, std::span<Value> a) {
  FlashObject* f = As<FlashObject>(self);
  if (!f) return Value();
  const Value v = m.ArgOr(a, 0);
  const Value before = f->states[kState];
  f->states[kState] = ArgAs<DisplayObj>(m, v, "flash.display::DisplayObject") ? v : Value();
  if (f->handle != kNoClip) ShowSetState(m, f, kState, before);
  return Value();
}
// A button's soundTransform is SoundMixer's (media.cpp): Flash reads and
// writes the global transform through any button.
NATIVE(MixerTransform);
NATIVE(MixerSetTransform);
NATIVE(SbGetEnabled) { FlashObject* f = As<FlashObject>(self); return Value::Bool(!f || f->buttonEnabled); }
NATIVE(SbSetEnabled) { if (FlashObject* f = As<FlashObject>(self)) f->buttonEnabled = m.ToBoolean(m.ArgOr(a, 0)); return Value(); }
NATIVE(SbGetMenu) { FlashObject* f = As<FlashObject>(self); return Value::Bool(f && f->trackAsMenu); }
NATIVE(SbSetMenu) { if (FlashObject* f = As<FlashObject>(self)) f->trackAsMenu = m.ToBoolean(m.ArgOr(a, 0)); return Value(); }

// Puts a node at index `index` of a container's list (index == size: on top).
void Attach(Machine& m, TimelineState& tl, ClipHandle h, std::size_t index, bool moving) {
  As3Display& b = B(m);
  // Moving a child within its own container sends no events.
  const Instance* before = b.Node(h);
  moving = moving || (before && before->parent == tl.owner);
  // A node cannot hold one of its own ancestors.
  for (ClipHandle p = tl.owner; p != kNoClip && p != kRootClip;) {
    if (p == h) m.ThrowError("ArgumentError", "An object cannot be added as a child of itself or its children.", 2150);
    Instance* pi = b.Node(p);
    p = pi ? pi->parent : kNoClip;
  }
  Detach(m, h, !moving);
  Instance* i = b.Node(h);
  if (!i) return;
  i->stageChild = false;  // the stage's own say so after
  std::vector<int> keys = Keys(tl);
  index = std::min(index, keys.size());
  int depth = 0;
  if (index == keys.size()) {
    depth = keys.empty() ? kScriptDepthBase : std::max(keys.back() + 1, kScriptDepthBase);
  } else if (index == 0) {
    depth = keys[0] - 1;
  } else if (keys[index] - keys[index - 1] > 1) {
    depth = keys[index - 1] + 1;
  } else {
    // No room between the neighbours: move the upper ones up one depth.
    for (std::size_t k = keys.size(); k-- > index;) b.stage.MoveNode(tl, keys[k], tl, keys[k] + 1);
    depth = keys[index];
  }
  TimelineState* from = b.ListOf(*i);
  if (!from || !b.stage.MoveNode(*from, i->depth, tl, depth)) return;
  if (!moving) b.Added(h);
}
std::size_t IndexOf(const TimelineState& tl, ClipHandle h) {
  std::size_t k = 0;
  for (auto& [d, i] : tl.list) {
    if (i.serial == h) return k;
    ++k;
  }
  return static_cast<std::size_t>(-1);
}
// A child index is an int parameter: NaN is 0 and fractions are cut, as
// the coercion does before the range check.
double IndexArg(Machine& m, std::span<Value> a, std::size_t i, double dflt) {
  return i < a.size() ? static_cast<double>(m.ToInt(a[i])) : dflt;
}
Instance* At(TimelineState& tl, double index) {
  if (!(index >= 0) || index >= static_cast<double>(tl.list.size())) return nullptr;
  auto it = tl.list.begin();
  std::advance(it, static_cast<std::ptrdiff_t>(index));
  return &it->second;
}

namespace {
// The main timeline is the stage's first child: a script may take it off
// and put it back. Off the stage, it and everything in it see no stage.
bool IsRootObject(As3Display& b, const Value& v) {
  FlashObject* f = As<FlashObject>(v);
  return f && f != b.stageObject && f->handle == kRootClip;
}
void TakeRootOff(Machine& m) {
  As3Display& b = B(m);
  if (b.rootOffStage) return;
  b.Removed(kRootClip);
  b.rootOffStage = true;
}
void PutRootBack(Machine& m) {
  As3Display& b = B(m);
  if (!b.rootOffStage) return;
  b.rootOffStage = false;
  b.Added(kRootClip);
}
bool OfStage(Machine& m, const Value& self) { return As<FlashObject>(self) && As<FlashObject>(self) == B(m).stageObject; }

// The stage's own children, in order: the main timeline (while on the
// stage), then what scripts added to the stage. The main timeline's
// children are those of its list the stage does not count.
std::vector<ClipHandle> StageChildren(As3Display& b) {
  std::vector<ClipHandle> out;
  if (!b.rootOffStage) out.push_back(kRootClip);
  for (auto& [d, i] : b.stage.Root().list)
    if (i.stageChild) out.push_back(i.serial);
  return out;
}
bool HoldsStageChildren(As3Display& b, const Value& self) {
  FlashObject* f = As<FlashObject>(self);
  return f && (f == b.stageObject || f->handle == kRootClip);
}
// The children a container counts, by handle: for the stage and the main
// timeline, the split above; for others, the list.
std::vector<ClipHandle> CountedChildren(Machine& m, const Value& self) {
  As3Display& b = B(m);
  if (OfStage(m, self)) return StageChildren(b);
  TimelineState* tl = Container(m, self);
  std::vector<ClipHandle> out;
  const bool root = HoldsStageChildren(b, self);
  for (auto& [d, i] : tl->list)
    if (!root || !i.stageChild) out.push_back(i.serial);
  return out;
}
bool AnyStageChild(As3Display& b) {
  for (auto& [d, i] : b.stage.Root().list)
    if (i.stageChild) return true;
  return false;
}
bool SplitList(Machine& m, const Value& self) {
  As3Display& b = B(m);
  return OfStage(m, self) || (HoldsStageChildren(b, self) && AnyStageChild(b));
}
// The list position of a container's child index `k` in the shared list
// (k past the last: the end of the container's part, so that the main
// timeline's children stay below the stage's own).
std::size_t ListIndexFor(Machine& m, const Value& self, TimelineState& tl, std::size_t k) {
  if (!SplitList(m, self)) return k;
  const auto kids = CountedChildren(m, self);
  if (k < kids.size()) return kids[k] == kRootClip ? 0 : IndexOf(tl, kids[k]);
  if (OfStage(m, self)) return tl.list.size();
  std::size_t n = 0;
  for (auto& [d, i] : tl.list) {
    if (i.stageChild) return n;
    ++n;
  }
  return n;
}
}  // namespace

NATIVE(DocNumChildren) {
  As3Display& b = B(m);
  if (OfStage(m, self) || (HoldsStageChildren(b, self) && AnyStageChild(b)))
    return Value::Int(static_cast<std::int32_t>(CountedChildren(m, self).size()));
  return Value::Int(static_cast<std::int32_t>(Container(m, self)->list.size()));
}
NATIVE(DocAddChild) {
  if (OfStage(m, self) && IsRootObject(B(m), m.ArgOr(a, 0))) {
    PutRootBack(m);
    return m.ArgOr(a, 0);
  }
  TimelineState* tl = Container(m, self);
  FlashObject* c = ChildArg(m, a);
  std::size_t at = tl->list.size() + 1;
  if (!OfStage(m, self) && SplitList(m, self)) {
    // The main timeline's own go below the stage's children.
    if (const Instance* was = B(m).Node(c->handle); was && was->parent == tl->owner) Detach(m, c->handle, false);
    at = ListIndexFor(m, self, *tl, static_cast<std::size_t>(-1));
  }
  Attach(m, *tl, c->handle, at);
  if (Instance* i = B(m).Node(c->handle)) i->stageChild = OfStage(m, self);
  return Value::Obj(c);
}
NATIVE(DocAddChildAt) {
  if (OfStage(m, self) && IsRootObject(B(m), m.ArgOr(a, 0))) {
    PutRootBack(m);
    return m.ArgOr(a, 0);
  }
  TimelineState* tl = Container(m, self);
  FlashObject* c = ChildArg(m, a);
  double idx = IndexArg(m, a, 1, 0);
  const bool toStage = OfStage(m, self);
  const double count = SplitList(m, self) ? static_cast<double>(CountedChildren(m, self).size())
                                          : static_cast<double>(tl->list.size());
  if (!(idx >= 0) || idx > count) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  // Below the main timeline is below all its children; above it, among the stage's own.
  if (SplitList(m, self)) idx = static_cast<double>(ListIndexFor(m, self, *tl, static_cast<std::size_t>(idx)));
  // Re-adding to the same container counts the index without the child.
  const Instance* i = B(m).Node(c->handle);
  const bool moving = i && i->parent == tl->owner;
  if (moving) Detach(m, c->handle, false);
  Attach(m, *tl, c->handle, static_cast<std::size_t>(idx), moving);
  if (Instance* placed = B(m).Node(c->handle)) placed->stageChild = toStage;
  return Value::Obj(c);
}
NATIVE(DocRemoveChild) {
  if (OfStage(m, self) && IsRootObject(B(m), m.ArgOr(a, 0)) && !B(m).rootOffStage) {
    TakeRootOff(m);
    return m.ArgOr(a, 0);
  }
  TimelineState* tl = Container(m, self);
  FlashObject* c = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
  if (!c) m.ThrowError("TypeError", "Parameter child must be non-null.", 2007);
  Instance* i = B(m).Node(c->handle);
  if (!i || i->parent != tl->owner) m.ThrowError("ArgumentError", "The supplied DisplayObject must be a child of the caller.", 2025);
  Detach(m, c->handle, true);
  return Value::Obj(c);
}
NATIVE(DocRemoveChildAt) {
  if (OfStage(m, self) && !B(m).rootOffStage && IndexArg(m, a, 0, -1) == 0) {
    TakeRootOff(m);
    return B(m).ValueFor(kRootClip);
  }
  TimelineState* tl = Container(m, self);
  Instance* i = At(*tl, IndexArg(m, a, 0, -1));
  if (!i) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  const ClipHandle h = i->serial;
  Value v = B(m).ValueFor(h);
  Detach(m, h, true);
  return v;
}
NATIVE(DocRemoveChildren) {
  TimelineState* tl = Container(m, self);
  std::vector<ClipHandle> hs;
  for (auto& [d, i] : tl->list) hs.push_back(i.serial);
  // The end left at its default means the last child; one given must name a child.
  constexpr double kLast = 2147483647.0;
  const double from = m.ToInt(m.ArgOr(a, 0));
  const double endArg = a.size() > 1 ? m.ToInt(a[1]) : kLast;
  const double to = endArg == kLast ? static_cast<double>(hs.size()) - 1 : endArg;
  if (from < 0 || (endArg != kLast && (to < 0 || to >= static_cast<double>(hs.size()))))
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  for (double k = from; k <= to && k < static_cast<double>(hs.size()); ++k) Detach(m, hs[static_cast<std::size_t>(k)], true);
  return Value();
}
NATIVE(DocGetChildAt) {
  As3Display& sb = B(m);
  if (OfStage(m, self) || (HoldsStageChildren(sb, self) && AnyStageChild(sb))) {
    const auto kids = CountedChildren(m, self);
    const double k = IndexArg(m, a, 0, -1);
    if (!(k >= 0) || k >= static_cast<double>(kids.size()))
      m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
    const ClipHandle h = kids[static_cast<std::size_t>(k)];
    if (h != kRootClip && !sb.objects.count(h) &&
        (sb.placedUnmade.count(h) || std::find(sb.constructQueue.begin(), sb.constructQueue.end(), h) != sb.constructQueue.end()))
      return Value::Null();
    return sb.ValueFor(h);
  }
  TimelineState* tl = Container(m, self);
  Instance* i = At(*tl, IndexArg(m, a, 0, -1));
  if (!i) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  // A child the timeline placed that waits to be constructed is counted but
  // not yet there; so are those of a container whose constructor has not
  // reached super(), which makes them.
  As3Display& b = B(m);
  FlashObject* parent = As<FlashObject>(self);
  const bool unbuilt = parent && parent != b.stageObject && !parent->childrenBuilt;
  if (!b.objects.count(i->serial) &&
      (unbuilt || b.placedUnmade.count(i->serial) || std::find(b.constructQueue.begin(), b.constructQueue.end(), i->serial) != b.constructQueue.end()))
    return Value::Null();
  return b.ValueFor(i->serial);
}
NATIVE(DocGetChildByName) {
  TimelineState* tl = Container(m, self);
  const std::string name = avm2::ArgStr(m, a, 0, "");
  for (auto& [d, i] : tl->list)
    if (i.name == name) return B(m).ValueFor(i.serial);
  return Value::Null();
}
NATIVE(DocGetChildIndex) {
  As3Display& sb = B(m);
  if (OfStage(m, self) || (HoldsStageChildren(sb, self) && AnyStageChild(sb))) {
    FlashObject* c = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
    const auto kids = CountedChildren(m, self);
    const auto it = c ? std::find(kids.begin(), kids.end(), c->handle) : kids.end();
    if (it == kids.end()) m.ThrowError("ArgumentError", "The supplied DisplayObject must be a child of the caller.", 2025);
    return Value::Int(static_cast<std::int32_t>(it - kids.begin()));
  }
  TimelineState* tl = Container(m, self);
  FlashObject* c = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
  const std::size_t k = c ? IndexOf(*tl, c->handle) : static_cast<std::size_t>(-1);
  if (k == static_cast<std::size_t>(-1)) m.ThrowError("ArgumentError", "The supplied DisplayObject must be a child of the caller.", 2025);
  return Value::Int(static_cast<std::int32_t>(k));
}
NATIVE(DocSetChildIndex) {
  TimelineState* tl = Container(m, self);
  FlashObject* c = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
  const double idx = IndexArg(m, a, 1, 0);
  if (!c || IndexOf(*tl, c->handle) == static_cast<std::size_t>(-1))
    m.ThrowError("ArgumentError", "The supplied DisplayObject must be a child of the caller.", 2025);
  const bool split = SplitList(m, self);
  const double count = split ? static_cast<double>(CountedChildren(m, self).size()) : static_cast<double>(tl->list.size());
  if (!(idx >= 0) || idx >= count) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  if (!split && IndexOf(*tl, c->handle) == static_cast<std::size_t>(idx)) return Value();
  As3Display& b = B(m);
  Instance* i = b.Node(c->handle);
  b.stage.MoveNode(*tl, i->depth, b.limbo, ++b.limboDepth, i);
  // Counted without the child, as Flash counts the new index.
  const std::size_t listIndex = split ? ListIndexFor(m, self, *tl, static_cast<std::size_t>(idx)) : static_cast<std::size_t>(idx);
  std::vector<int> keys = Keys(*tl);
  const auto index = std::min(listIndex, keys.size());
  int depth;
  if (index == keys.size()) depth = keys.empty() ? kScriptDepthBase : keys.back() + 1;
  else if (index == 0) depth = keys[0] - 1;
  else if (keys[index] - keys[index - 1] > 1) depth = keys[index - 1] + 1;
  else {
    for (std::size_t k = keys.size(); k-- > index;) b.stage.MoveNode(*tl, keys[k], *tl, keys[k] + 1);
    depth = keys[index];
  }
  b.stage.MoveNode(b.limbo, b.limboDepth, *tl, depth);
  return Value();
}
void SwapNodes(Machine& m, TimelineState& tl, Instance* x, Instance* y) {
  if (!x || !y || x == y) return;
  As3Display& b = B(m);
  const int dx = x->depth, dy = y->depth;
  b.stage.MoveNode(tl, dx, b.limbo, ++b.limboDepth);
  const int tmp = b.limboDepth;
  b.stage.MoveNode(tl, dy, tl, dx);
  b.stage.MoveNode(b.limbo, tmp, tl, dy);
}
NATIVE(DocSwapChildren) {
  TimelineState* tl = Container(m, self);
  FlashObject* x = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
  FlashObject* y = ArgAs<DisplayObj>(m, m.ArgOr(a, 1), "flash.display::DisplayObject");
  if (!x || !y) m.ThrowError("TypeError", "Parameter child must be non-null.", 2007);
  Instance* ix = B(m).Node(x->handle);
  Instance* iy = B(m).Node(y->handle);
  if (!ix || !iy || ix->parent != tl->owner || iy->parent != tl->owner)
    m.ThrowError("ArgumentError", "The supplied DisplayObject must be a child of the caller.", 2025);
  SwapNodes(m, *tl, ix, iy);
  return Value();
}
NATIVE(DocSwapChildrenAt) {
  TimelineState* tl = Container(m, self);
  Instance* ix = At(*tl, IndexArg(m, a, 0, -1));
  Instance* iy = At(*tl, IndexArg(m, a, 1, -1));
  if (!ix || !iy) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  SwapNodes(m, *tl, ix, iy);
  return Value();
}
// Stops this timeline and every one inside it.
void StopAll(As3Display& b, TimelineState& tl, int nesting) {
  if (nesting > kMaxSpriteNesting) return;
  b.stage.SetPlaying(tl, false);
  for (auto& [depth, child] : tl.list)
    if (child.sprite) StopAll(b, *child.sprite, nesting + 1);
}
NATIVE(DocStopAllMovieClips) {
  StopAll(B(m), *Container(m, self), 0);
  return Value();
}
NATIVE(DocContains) {
  FlashObject* f = As<FlashObject>(self);
  FlashObject* c = ArgAs<DisplayObj>(m, m.ArgOr(a, 0), "flash.display::DisplayObject");
  if (!f || !c) return Value::Bool(false);
  As3Display& b = B(m);
  for (ClipHandle h = c->handle; h != kNoClip;) {
    if (h == f->handle) return Value::Bool(true);
    if (h == kRootClip) break;
    Instance* i = b.Node(h);
    h = i ? i->parent : kNoClip;
  }
  return Value::Bool(false);
}

// ---- MovieClip

TimelineState* Clip(Machine& m, const Value& self) {
  TimelineState* tl = SelfTimeline(m, self);
  return tl;
}
// A frame number as Flash's player makes an int of it: truncated, and out
// of the 32-bit range the lowest int (which, counted from zero, wraps to the
// last frame).
std::int32_t FrameInt(double n) {
  if (!(n >= -2147483648.0 && n < 2147483648.0)) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(n);
}
// A goto's frame: a number counted from one in its scene, or a label's
// frame (absolute, from zero).
struct FrameTarget {
  bool label = false;
  std::int32_t frame = 0;
};
// A whole number, or text that is one (spaces around allowed), is a frame
// number; anything else is a label by its text. An unknown label throws
// #2109 from SWF 11 on; before, it is the first frame.
FrameTarget FrameArg(Machine& m, TimelineState& tl, const Value& v) {
  if (v.IsNumber()) {
    const double n = m.ToNumber(v);
    if (n == std::trunc(n)) return {false, FrameInt(n)};
  }
  const std::string text = m.ToString(v);
  std::size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  std::size_t digits = b < e && (text[b] == '-' || text[b] == '+') ? b + 1 : b;
  const bool whole = digits < e && std::all_of(text.begin() + std::ptrdiff_t(digits), text.begin() + std::ptrdiff_t(e),
                                               [](char c) { return c >= '0' && c <= '9'; });
  if (whole) return {false, FrameInt(avm2::StringToNumber(text.substr(b, e - b)))};
  std::string key = text;
  for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (auto it = tl.def->labels.find(key); it != tl.def->labels.end()) return {true, it->second};
  if (B(m).lib.movie.version >= 11) m.ThrowError("ArgumentError", "Frame label " + text + " not found in scene.", 2109);
  return {true, 0};
}
// A timeline's scenes: the main timeline's as its movie names them, else
// one unnamed scene of every frame.
struct SceneSpan {
  int start = 0, count = 0;
  std::string name;
};
std::vector<SceneSpan> ScenesOf(const TimelineState& tl) {
  const int total = tl.FrameCount();
  const auto& named = tl.def->scenes;
  if (named.empty()) return {SceneSpan{0, total, ""}};
  std::vector<SceneSpan> out;
  for (std::size_t i = 0; i < named.size(); ++i) {
    const int start = std::clamp(named[i].first, 0, total);
    const int end = i + 1 < named.size() ? std::clamp(named[i + 1].first, start, total) : total;
    out.push_back({start, end - start, named[i].second});
  }
  return out;
}
// The scene showing the timeline's frame.
SceneSpan CurrentScene(const TimelineState& tl) {
  const auto scenes = ScenesOf(tl);
  SceneSpan now = scenes.front();
  for (const SceneSpan& s : scenes)
    if (s.start <= tl.current) now = s;
  return now;
}
void GotoAbsolute(Machine& m, TimelineState& tl, int frame, bool play) {
  As3Display& b = B(m);
  b.stage.SetPlaying(tl, play);
  if (play) tl.playAsked = true;
  frame = std::clamp(frame, 0, tl.FrameCount() - 1);
  if (std::find(b.inFrameScript.begin(), b.inFrameScript.end(), tl.owner) != b.inFrameScript.end()) {
    b.queuedGotos[tl.owner] = frame;
    return;
  }
  b.stage.Goto(tl, frame);
  b.FlushForGoto();
}
// gotoAndPlay/gotoAndStop(frame, scene): a frame number counts from the
// start of the scene named, or of the current one; a label is the movie's.
void GotoFrame(Machine& m, const Value& self, std::span<Value> a, bool play) {
  TimelineState* tl = Clip(m, self);
  if (!tl) return;
  const FrameTarget target = FrameArg(m, *tl, m.ArgOr(a, 0));
  int frame = target.frame;
  if (!target.label) {
    const Value sceneArg = m.ArgOr(a, 1);
    SceneSpan scene = CurrentScene(*tl);
    if (!sceneArg.IsNullish()) {
      const std::string name = m.ToString(sceneArg);
      bool found = false;
      for (const SceneSpan& s : ScenesOf(*tl))
        if (s.name == name) scene = s, found = true;
      if (!found) m.ThrowError("ArgumentError", "Scene " + name + " was not found.", 2108);
    }
    // Counted from zero in 32 bits, wrapping as Flash's player does.
    frame = static_cast<std::int32_t>(static_cast<std::uint32_t>(frame) - 1u + static_cast<std::uint32_t>(scene.start));
  }
  GotoAbsolute(m, *tl, frame, play);
}
// new FrameLabel(name, frame) and new Scene(name, labels, numFrames), as
// scripts may make them.
NATIVE(FrameLabelCtor) {
  if (Object* o = self.AsObject()) {
    o->SetDyn(m.Intern("name"), m.Str(m.ToString(m.ArgOr(a, 0))));
    o->SetDyn(m.Intern("frame"), Value::Int(m.ToInt(m.ArgOr(a, 1))));
  }
  return self;
}
NATIVE(SceneCtor) {
  if (Object* o = self.AsObject()) {
    o->SetDyn(m.Intern("name"), m.Str(m.ToString(m.ArgOr(a, 0))));
    o->SetDyn(m.Intern("labels"), m.ArgOr(a, 1));
    o->SetDyn(m.Intern("numFrames"), Value::Int(m.ToInt(m.ArgOr(a, 2))));
  }
  return self;
}
Value NewScene(Machine& m, const TimelineState& tl, const SceneSpan& s) {
  std::vector<Value> labels;
  auto names = tl.def->labelNames;
  std::stable_sort(names.begin(), names.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  for (const auto& [f, l] : names) {
    if (f < s.start || f >= s.start + s.count) continue;
    Object* o = m.Instantiate(B(m).frameLabelClass);
    o->SetDyn(m.Intern("name"), m.Str(l));
    o->SetDyn(m.Intern("frame"), Value::Int(f - s.start + 1));
    labels.push_back(Value::Obj(o));
  }
  Object* scene = m.Instantiate(m.FindClass("flash.display::Scene"));
  scene->SetDyn(m.Intern("name"), m.Str(s.name));
  scene->SetDyn(m.Intern("labels"), Value::Obj(m.NewArray(std::move(labels))));
  scene->SetDyn(m.Intern("numFrames"), Value::Int(s.count));
  return Value::Obj(scene);
}
NATIVE(McCurrentScene) {
  TimelineState* tl = Clip(m, self);
  return tl ? NewScene(m, *tl, CurrentScene(*tl)) : Value::Null();
}
NATIVE(McScenes) {
  TimelineState* tl = Clip(m, self);
  std::vector<Value> out;
  if (tl)
    for (const SceneSpan& s : ScenesOf(*tl)) out.push_back(NewScene(m, *tl, s));
  return Value::Obj(m.NewArray(std::move(out)));
}
// nextScene/prevScene: to the first frame of the scene after or before,
// playing; past the last or the first, to the first frame of this one.
template <int kStep>
NATIVE(McOtherScene) {
  TimelineState* tl = Clip(m, self);
  if (!tl) return Value();
  const auto scenes = ScenesOf(*tl);
  const int now = CurrentScene(*tl).start;
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    if (scenes[i].start != now) continue;
    const std::ptrdiff_t to = static_cast<std::ptrdiff_t>(i) + kStep;
    const bool inside = to >= 0 && to < static_cast<std::ptrdiff_t>(scenes.size());
    GotoAbsolute(m, *tl, inside ? scenes[std::size_t(to)].start : now, true);
    break;
  }
  return Value();
}
NATIVE(McPlay) {
  if (TimelineState* tl = Clip(m, self)) {
    B(m).stage.SetPlaying(*tl, true);
    tl->playAsked = true;
  }
  return Value();
}
NATIVE(McStop) {
  if (TimelineState* tl = Clip(m, self)) B(m).stage.SetPlaying(*tl, false);
  return Value();
}
NATIVE(McGotoAndPlay) {
  GotoFrame(m, self, a, true);
  return Value();
}
NATIVE(McGotoAndStop) {
  GotoFrame(m, self, a, false);
  return Value();
}
NATIVE(McNextFrame) {
  if (TimelineState* tl = Clip(m, self)) GotoAbsolute(m, *tl, tl->current + 1, false);
  return Value();
}
NATIVE(McPrevFrame) {
  if (TimelineState* tl = Clip(m, self)) GotoAbsolute(m, *tl, std::max(0, tl->current - 1), false);
  return Value();
}
// Counted from the start of the current scene, as in Flash.
// A MovieClip a script made of nothing has no frame to be on, and never plays.
// Nor has a symbol that declares no frame.
bool Frameless(Machine& m, const TimelineState& tl) {
  return tl.def == &B(m).stage.EmptySprite().timeline || (tl.def && tl.def->frameless);
}
NATIVE(McCurrentFrame) {
  TimelineState* tl = Clip(m, self);
  if (tl && Frameless(m, *tl)) return Value::Int(0);
  return Value::Int(tl ? tl->current + 1 - CurrentScene(*tl).start : 1);
}
NATIVE(McTotalFrames) {
  TimelineState* tl = Clip(m, self);
  if (FlashObject* f = As<FlashObject>(self); f && f->handle == kRootClip && f != B(m).stageObject)
    return Value::Int(B(m).stage.TotalFrames());
  if (tl && tl->def && tl->def->frameless) return Value::Int(0);
  return Value::Int(tl ? tl->FrameCount() : 1);
}
NATIVE(McIsPlaying) {
  TimelineState* tl = Clip(m, self);
  // The main timeline counts the frames its header declares: with one, it
  // reads as stopped, whatever frames follow.
  if (FlashObject* f = As<FlashObject>(self); f && f->handle == kRootClip && f != B(m).stageObject && B(m).stage.TotalFrames() <= 1)
    return Value::Bool(false);
  return Value::Bool(tl && tl->playing && tl->playAsked && !Frameless(m, *tl));
}
// Labels as the movie writes them.
NATIVE(McCurrentLabel) {
  TimelineState* tl = Clip(m, self);
  if (!tl) return Value::Null();
  int best = -1;
  std::string name;
  for (auto& [f, l] : tl->def->labelNames)
    if (f <= tl->current && f > best) best = f, name = l;
  return best < 0 ? Value::Null() : m.Str(name);
}
NATIVE(McCurrentFrameLabel) {
  TimelineState* tl = Clip(m, self);
  if (!tl) return Value::Null();
  for (auto& [f, l] : tl->def->labelNames)
    if (f == tl->current) return m.Str(l);
  return Value::Null();
}
// The labels of the current scene, numbered from its start.
NATIVE(McCurrentLabels) {
  TimelineState* tl = Clip(m, self);
  if (!tl) return Value::Obj(m.NewArray());
  return m.GetProperty(NewScene(m, *tl, CurrentScene(*tl)), "labels");
}
NATIVE(McAddFrameScript) {
  FlashObject* f = As<FlashObject>(self);
  if (!f) return Value();
  As3Display& b = B(m);
  for (std::size_t i = 0; i + 1 < a.size(); i += 2) {
    const int frame = m.ToInt(a[i]);
    if (frame < 0 || frame > 1 << 20) continue;
    // A value that is no function removes the frame's script, as null does.
    const Object* fn = a[i + 1].AsObject();
    if (!fn || fn->kind != ObjectKind::kFunction) f->frameScripts.erase(frame);
    else f->frameScripts[frame] = a[i + 1];
    // The frame being shown runs its script once the constructor is done.
    if (TimelineState* tl = b.Timeline(f->handle); tl && tl->current == frame &&
        std::find(b.scriptQueue.begin(), b.scriptQueue.end(), f->handle) == b.scriptQueue.end() && !b.flushing) {
      b.scriptQueue.push_back(f->handle);
    }
  }
  return Value();
}

constexpr MemberRow kContainersRows[] = {
    {"flash.display::DisplayObjectContainer", "numChildren", Member::kGetter, DocNumChildren},
    {"flash.display::DisplayObjectContainer", "addChild", Member::kMethod, DocAddChild},
    {"flash.display::DisplayObjectContainer", "addChildAt", Member::kMethod, DocAddChildAt},
    {"flash.display::DisplayObjectContainer", "removeChild", Member::kMethod, DocRemoveChild},
    {"flash.display::DisplayObjectContainer", "removeChildAt", Member::kMethod, DocRemoveChildAt},
    {"flash.display::DisplayObjectContainer", "removeChildren", Member::kMethod, DocRemoveChildren},
    {"flash.display::DisplayObjectContainer", "getChildAt", Member::kMethod, DocGetChildAt},
    {"flash.display::DisplayObjectContainer", "getChildByName", Member::kMethod, DocGetChildByName},
    {"flash.display::DisplayObjectContainer", "getChildIndex", Member::kMethod, DocGetChildIndex},
    {"flash.display::DisplayObjectContainer", "setChildIndex", Member::kMethod, DocSetChildIndex},
    {"flash.display::DisplayObjectContainer", "swapChildren", Member::kMethod, DocSwapChildren},
    {"flash.display::DisplayObjectContainer", "swapChildrenAt", Member::kMethod, DocSwapChildrenAt},
    {"flash.display::DisplayObjectContainer", "contains", Member::kMethod, DocContains},
    {"flash.display::DisplayObjectContainer", "stopAllMovieClips", Member::kMethod, DocStopAllMovieClips},
    {"flash.display::DisplayObjectContainer", "mouseChildren", Member::kGetter, IoGet<&FlashObject::mouseChildren>},
    {"flash.display::DisplayObjectContainer", "mouseChildren", Member::kSetter, IoSet<&FlashObject::mouseChildren>},
    {"flash.display::DisplayObjectContainer", "tabChildren", Member::kGetter, DocGetTabChildren},
    {"flash.display::DisplayObjectContainer", "tabChildren", Member::kSetter, DocSetTabChildren},
    {"flash.display::Sprite", "graphics", Member::kGetter, SpGetGraphics},
    {"flash.display::Sprite", "buttonMode", Member::kGetter, IoGet<&FlashObject::buttonMode>},
    {"flash.display::Sprite", "buttonMode", Member::kSetter, IoSet<&FlashObject::buttonMode>},
    {"flash.display::Sprite", "useHandCursor", Member::kGetter, IoGet<&FlashObject::useHandCursor>},
    {"flash.display::Sprite", "useHandCursor", Member::kSetter, IoSet<&FlashObject::useHandCursor>},
    {"flash.display::Sprite", "soundTransform", Member::kGetter, ObjectSoundTransform},
    {"flash.display::Sprite", "soundTransform", Member::kSetter, ObjectSetSoundTransform},
    {"flash.display::Sprite", "hitArea", Member::kGetter, ReturnNull},
    {"flash.display::Sprite", "hitArea", Member::kSetter, DoIgnore},
    {"flash.display::Sprite", "startDrag", Member::kMethod, Noop},
    {"flash.display::Sprite", "stopDrag", Member::kMethod, Noop},
    {"flash.display::MovieClip", "play", Member::kMethod, McPlay},
    {"flash.display::MovieClip", "stop", Member::kMethod, McStop},
    {"flash.display::MovieClip", "gotoAndPlay", Member::kMethod, McGotoAndPlay},
    {"flash.display::MovieClip", "gotoAndStop", Member::kMethod, McGotoAndStop},
    {"flash.display::MovieClip", "nextFrame", Member::kMethod, McNextFrame},
    {"flash.display::MovieClip", "prevFrame", Member::kMethod, McPrevFrame},
    {"flash.display::MovieClip", "addFrameScript", Member::kMethod, McAddFrameScript},
    {"flash.display::MovieClip", "currentFrame", Member::kGetter, McCurrentFrame},
    {"flash.display::MovieClip", "totalFrames", Member::kGetter, McTotalFrames},
    {"flash.display::MovieClip", "framesLoaded", Member::kGetter, McTotalFrames},
    {"flash.display::MovieClip", "isPlaying", Member::kGetter, McIsPlaying},
    {"flash.display::MovieClip", "currentLabel", Member::kGetter, McCurrentLabel},
    {"flash.display::MovieClip", "currentFrameLabel", Member::kGetter, McCurrentFrameLabel},
    {"flash.display::MovieClip", "currentLabels", Member::kGetter, McCurrentLabels},
    {"flash.display::MovieClip", "currentScene", Member::kGetter, McCurrentScene},
    {"flash.display::MovieClip", "scenes", Member::kGetter, McScenes},
    {"flash.display::MovieClip", "nextScene", Member::kMethod, McOtherScene<1>},
    {"flash.display::MovieClip", "prevScene", Member::kMethod, McOtherScene<-1>},
    {"flash.display::MovieClip", "enabled", Member::kGetter, DoGetVisible},
    {"flash.display::MovieClip", "enabled", Member::kSetter, DoIgnore},
    {"flash.display::SimpleButton", "soundTransform", Member::kGetter, MixerTransform},
    {"flash.display::SimpleButton", "soundTransform", Member::kSetter, MixerSetTransform},
    {"flash.display::SimpleButton", "enabled", Member::kGetter, SbGetEnabled},
    {"flash.display::SimpleButton", "enabled", Member::kSetter, SbSetEnabled},
    {"flash.display::SimpleButton", "trackAsMenu", Member::kGetter, SbGetMenu},
    {"flash.display::SimpleButton", "trackAsMenu", Member::kSetter, SbSetMenu},
    {"flash.display::SimpleButton", "upState", Member::kGetter, SbGetState<0>},
    {"flash.display::SimpleButton", "upState", Member::kSetter, SbSetState<0>},
    {"flash.display::SimpleButton", "overState", Member::kGetter, SbGetState<1>},
    {"flash.display::SimpleButton", "overState", Member::kSetter, SbSetState<1>},
    {"flash.display::SimpleButton", "downState", Member::kGetter, SbGetState<2>},
    {"flash.display::SimpleButton", "downState", Member::kSetter, SbSetState<2>},
    {"flash.display::SimpleButton", "hitTestState", Member::kGetter, SbGetState<3>},
    {"flash.display::SimpleButton", "hitTestState", Member::kSetter, SbSetState<3>},
    {"flash.display::SimpleButton", "useHandCursor", Member::kGetter, IoGet<&FlashObject::useHandCursor>},
    {"flash.display::SimpleButton", "useHandCursor", Member::kSetter, IoSet<&FlashObject::useHandCursor>},
};

constexpr ClassRow kContainersClasses[] = {
    {"flash.display", "DisplayObjectContainer", "flash.display::InteractiveObject", nullptr, nullptr, false, &As3Display::containerClass},
    {"flash.display", "Sprite", "flash.display::DisplayObjectContainer", nullptr, nullptr, false, &As3Display::spriteClass},
    {"flash.display", "MovieClip", "flash.display::Sprite", nullptr, nullptr, true, &As3Display::movieClipClass},
    {"flash.display", "Scene", "", nullptr, SceneCtor, true},
    {"flash.display", "FrameLabel", "", nullptr, FrameLabelCtor, true, &As3Display::frameLabelClass},
    {"flash.display", "SimpleButton", "flash.display::InteractiveObject", nullptr, SbCtor, false, &As3Display::buttonClass},
};

void InstallContainers(As3Display& b) { Register(b, kContainersClasses, kContainersRows); }
}  // namespace quarvel::player::as3
