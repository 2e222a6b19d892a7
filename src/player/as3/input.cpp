// The pointer and the keyboard: what is under the pointer, the mouse
// events in Flash's order, and keys to the focus.
#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {

// ---- the pointer and the keyboard

Pick As3Display::PickIn(ClipHandle container, double x, double y, int nesting) {
  Pick none;
  TimelineState* tl = Timeline(container);
  if (!tl || nesting > kMaxSpriteNesting) return none;
  FlashObject* self = container == kRootClip ? ObjectFor(kRootClip) : Existing(container);
  const bool enabled = !self || self->mouseEnabled;
  const bool children = !self || self->mouseChildren;
  auto ownHit = [&](Pick p) {
    // A hit inside: the container takes it when its children do not.
    if (p.kind == Pick::kHit && children) return p;
    return enabled ? Pick{Pick::kHit, container} : Pick{Pick::kToParent, kNoClip};
  };
  // Masks and the objects they hide: a point outside the mask hits nothing below it.
  std::vector<std::pair<int, int>> maskedRanges;
  bool toParent = false;
  for (auto it = tl->list.rbegin(); it != tl->list.rend(); ++it) {
    Instance& child = it->second;
    if (!child.def || child.clipDepth > 0 || !child.visible) continue;
    bool masked = false;
    for (auto& [from, to] : tl->list) {
      (void)from;
      if (to.clipDepth > 0 && child.depth > to.depth && child.depth <= to.clipDepth && !stage.HitsShapes(to.serial, x, y)) {
        masked = true;
        break;
      }
    }
    if (masked) continue;
    Pick p;
    const auto kind = child.def->kind;
    // Shapes scripts make are nodes with a timeline too: the class decides.
    FlashObject* co = Existing(child.serial);
    const bool interactive = co && co->cls ? co->cls->IsSubclassOf(interactiveClass)
                                           : kind == Character::Kind::kSprite || kind == Character::Kind::kButton ||
                                                 kind == Character::Kind::kEditText;
    if (!interactive) {
      if (stage.HitsShapes(child.serial, x, y)) p = Pick{Pick::kToParent, kNoClip};
    } else if (kind == Character::Kind::kSprite && child.sprite) {
      p = PickIn(child.serial, x, y, nesting + 1);
    } else if (kind == Character::Kind::kButton || kind == Character::Kind::kEditText) {
      if (stage.HitsShapes(child.serial, x, y))
        p = !co || co->mouseEnabled ? Pick{Pick::kHit, child.serial} : Pick{Pick::kToParent, kNoClip};
    }
    if (p.kind == Pick::kHit) return ownHit(p);
    if (p.kind == Pick::kToParent) toParent = true;
  }
  if (toParent) return ownHit({Pick::kToParent, kNoClip});
  // The container's own drawing.
  if (tl->drawing && container != kRootClip && stage.HitsShapes(container, x, y)) return ownHit({Pick::kToParent, kNoClip});
  return none;
}

// The object a pointer event goes to: the one picked, else the stage.
FlashObject* As3Display::PointerTarget(ClipHandle h) {
  if (h != kNoClip)
    if (FlashObject* o = ObjectFor(h)) return o;
  return stageObject;
}

void As3Display::SendMouse(FlashObject* target, const char* type, bool bubbles, FlashObject* related) {
  if (!target) return;
  Value ev = NewEvent(mouseEventClass, type, bubbles);
  EventObject* e = As<EventObject>(ev);
  if (!e) return;
  e->stageX = pointer.x / 20.0;
  e->stageY = pointer.y / 20.0;
  double lx = pointer.x, ly = pointer.y;
  if (target != stageObject && stage.ToClipSpace(target->handle, lx, ly)) {
    e->localX = lx / 20.0;
    e->localY = ly / 20.0;
  } else {
    e->localX = e->stageX;
    e->localY = e->stageY;
  }
  e->buttonDown = pointer.down;
  e->related = Value::Obj(related);
  e->cancelable = std::string_view(type) != "mouseMove";
  Dispatch(target, e);
}

// The interactive objects from `h` up to the root, innermost first.
std::vector<ClipHandle> As3Display::InteractiveChain(ClipHandle h) {
  std::vector<ClipHandle> chain;
  for (int guard = 0; h != kNoClip && guard < 10000; ++guard) {
    chain.push_back(h);
    if (h == kRootClip) break;
    Instance* i = Node(h);
    if (!i) break;
    h = i->parent;
  }
  return chain;
}

void As3Display::Pointer(double x, double y, bool down) {
  if (!stageObject || !rootConstructed) return;
  m.BeginFrame();
  const bool moved = !pointer.seen || x != pointer.x || y != pointer.y;
  pointer.seen = true;
  pointer.x = x;
  pointer.y = y;
  const Pick p = PickIn(kRootClip, x, y, 0);
  const ClipHandle hit = p.kind == Pick::kHit ? p.target : kNoClip;
  const bool press = down && !pointer.down, release = !down && pointer.down;
  pointer.down = down;
  // Out and roll-outs from the old object up, then roll-overs from the new one up and over.
  if (hit != pointer.over) {
    const ClipHandle old = pointer.over;
    pointer.over = hit;
    FlashObject* from = old != kNoClip && Node(old) ? Existing(old) : nullptr;
    if (old == kRootClip) from = Existing(kRootClip);
    FlashObject* to = PointerTarget(hit);
    if (from) SendMouse(from, "mouseOut", true, to);
    const auto oldChain = from ? InteractiveChain(old) : std::vector<ClipHandle>{};
    const auto newChain = InteractiveChain(hit);
    for (ClipHandle h : oldChain)
      if (std::find(newChain.begin(), newChain.end(), h) == newChain.end())
        if (FlashObject* o = Existing(h)) SendMouse(o, "rollOut", false, to);
    for (ClipHandle h : newChain)
      if (std::find(oldChain.begin(), oldChain.end(), h) == oldChain.end())
        if (FlashObject* o = Existing(h)) SendMouse(o, "rollOver", false, from);
    if (hit != kNoClip) SendMouse(to, "mouseOver", true, from);
  }
  FlashObject* target = PointerTarget(pointer.over);
  if (moved) SendMouse(target, "mouseMove", true, nullptr);
  if (press) {
    pointer.pressed = pointer.over == kNoClip ? kNoClip : pointer.over;
    SendMouse(target, "mouseDown", true, nullptr);
  }
  if (release) {
    SendMouse(target, "mouseUp", true, nullptr);
    if (pointer.pressed == pointer.over) SendMouse(target, "click", true, nullptr);
    pointer.pressed = kNoClip;
  }
  // A hand over buttons, and over sprites in button mode (which their children share).
  pointer.handCursor = false;
  for (ClipHandle h : InteractiveChain(pointer.over)) {
    FlashObject* o = Existing(h);
    if (!o) continue;
    Instance* i = Node(h);
    const bool button = i && i->def && i->def->kind == Character::Kind::kButton;
    if ((button || o->buttonMode) && o->useHandCursor) pointer.handCursor = true;
    if (pointer.handCursor) break;
  }
  Flush();
}

void As3Display::Key(bool down, int keyCode, int charCode) {
  if (!stageObject || !rootConstructed) return;
  m.BeginFrame();
  // Keys go to the focus while it is on the stage, else to the stage.
  FlashObject* target = As<FlashObject>(pointer.focus);
  if (target && !OnStage(target->handle)) target = nullptr;
  if (!target) target = stageObject;
  Value ev = NewEvent(keyboardEventClass, down ? "keyDown" : "keyUp", true);
  EventObject* e = As<EventObject>(ev);
  if (!e) return;
  e->keyCode = static_cast<std::uint32_t>(std::max(keyCode, 0));
  e->charCode = static_cast<std::uint32_t>(std::max(charCode, 0));
  e->cancelable = true;
  Dispatch(target, e);
  Flush();
}

}  // namespace quarvel::player::as3
