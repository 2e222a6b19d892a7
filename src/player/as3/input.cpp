// The pointer and the keyboard: what is under the pointer, the mouse
// events in Flash's order, and keys to the focus.
#include "player/as3/display_binding_p.h"
#include "player/text/text_encoding.h"
#include "player/text/text_field.h"
#include "player/text/text_layout.h"
#include "player/as3/text_host.h"

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

// Until set, buttons, input text fields and sprites in button mode take part in tab order.
bool As3Display::TabEnabled(FlashObject* f) {
  if (!f || f == stageObject) return false;
  if (f->tabEnabled) return *f->tabEnabled;
  const Instance* i = SelfNode(m, Value::Obj(f));
  if (i && i->def && i->def->kind == Character::Kind::kButton) return true;
  if (f->cls && f->cls->IsSubclassOf(buttonClass)) return true;
  if (i && i->field) return i->field->Opts().input;
  return f->buttonMode;
}

// Both already see the new focus; each event names the other object.
void As3Display::SetFocus(FlashObject* f) {
  FlashObject* old = As<FlashObject>(pointer.focus);
  pointer.focus = f ? Value::Obj(f) : Value::Null();
  if (f == old) return;
  Class* focusEvent = m.FindClass("flash.events::FocusEvent");
  const auto send = [&](FlashObject* to, const char* type, FlashObject* related) {
    if (!to || !focusEvent) return;
    Value e = NewEvent(focusEvent, type, true);
    if (EventObject* ev = As<EventObject>(e)) {
      ev->related = related ? Value::Obj(related) : Value::Null();
      Dispatch(to, ev);
    }
  };
  send(old, "focusOut", f);
  send(f, "focusIn", old);
}

// Before mouseDown, Flash offers the focus to what the press hit: the
// focused object (else the stage) hears mouseFocusChange naming it, and
// unless a listener prevents that, a text field or an object in tab order
// takes the focus, anything else clears it. Component frameworks prevent it
// to move the focus themselves.
void As3Display::MouseFocusChange(ClipHandle hit) {
  FlashObject* clicked = hit != kNoClip ? Existing(hit) : nullptr;
  if (clicked == stageObject) clicked = nullptr;
  FlashObject* focus = As<FlashObject>(pointer.focus);
  if (focus && !OnStage(focus->handle)) focus = nullptr;
  if (!clicked && !focus) return;
  if (clicked && clicked == focus) return;
  Class* focusEvent = m.FindClass("flash.events::FocusEvent");
  if (!focusEvent) return;
  Value ev = NewEvent(focusEvent, "mouseFocusChange", true);
  EventObject* e = As<EventObject>(ev);
  if (!e) return;
  e->cancelable = true;
  e->related = clicked ? Value::Obj(clicked) : Value::Null();
  Dispatch(focus ? focus : stageObject, e);
  if (e->prevented) return;
  Instance* i = clicked ? Node(clicked->handle) : nullptr;
  const bool takes = clicked && ((i && i->field) || TabEnabled(clicked));
  if (takes && i && i->field) i->field->Settle();
  SetFocus(takes ? clicked : nullptr);
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
    MouseFocusChange(pointer.over);
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
  if (down) TypeInto(target, keyCode, charCode);
  Flush();
}

// TextField.restrict as Flash reads it for typing: characters and ranges
// (a-z) allowed, each '^' switching to characters refused and back, '\\'
// taking the next character as itself; the last rule a character meets
// decides, and a list that starts by refusing allows the rest.
namespace {
bool RestrictAllows(const std::u32string& rule, char32_t c) {
  bool allowed = !rule.empty() && rule[0] == U'^', refusing = false;
  for (std::size_t i = 0; i < rule.size(); ++i) {
    char32_t from = rule[i];
    if (from == U'^') {
      refusing = !refusing;
      continue;
    }
    if (from == U'\\' && i + 1 < rule.size()) from = rule[++i];
    char32_t to = from;
    if (i + 2 < rule.size() && rule[i + 1] == U'-') {
      to = rule[i + 2];
      if (to == U'\\' && i + 3 < rule.size()) to = rule[++i + 2];
      i += 2;
    }
    if (c >= from && c <= to) allowed = !refusing;
  }
  return allowed;
}
}  // namespace

// A key pressed in a focused input field edits it as Flash does: a character
// is offered as textInput (a listener may refuse it), then takes the
// selection's place up to maxChars; Backspace and Delete remove; any edit
// is followed by change. The arrows move the caret.
void As3Display::TypeInto(FlashObject* target, int keyCode, int charCode) {
  Instance* i = target && target != stageObject ? Node(target->handle) : nullptr;
  if (!i || !i->field || !i->field->Opts().input) return;
  const std::shared_ptr<text::TextField> tf = i->field;
  const std::size_t b = tf->SelectionBegin(), e = tf->SelectionEnd(), length = tf->Length();
  constexpr int kBackspace = 8, kEnter = 13, kLeft = 37, kRight = 39, kDelete = 46;
  if (keyCode == kLeft || keyCode == kRight) {
    const std::size_t c = tf->Caret();
    const std::size_t to = keyCode == kLeft ? (e > b ? b : (c > 0 ? c - 1 : 0)) : (e > b ? e : std::min(c + 1, length));
    tf->SetSelection(to, to);
    return;
  }
  if (keyCode == kBackspace || keyCode == kDelete) {
    std::size_t from = b, to = e;
    if (from == to) {
      if (keyCode == kBackspace && from > 0) --from;
      if (keyCode == kDelete && to < length) ++to;
    }
    if (from == to) return;
    tf->ReplaceText(from, to, "");
    tf->SetSelection(from, from);
  } else {
    const bool newline = charCode == kEnter || keyCode == kEnter;
    if (newline ? !tf->Opts().multiline : charCode < 32 || charCode == 127) return;
    if (const Value* r = As3FieldSlot(m, Value::Obj(target), 0); !newline && r && r->IsString() &&
                                                                   !RestrictAllows(text::FromUtf8(m.ToString(*r)), static_cast<char32_t>(charCode)))
      return;
    std::string typed;
    if (newline) {
      typed = "\r";
    } else {
      encoding::AppendUtf8(typed, static_cast<std::uint32_t>(charCode));
    }
    Class* textEvent = m.FindClass("flash.events::TextEvent");
    Value ev = textEvent ? NewEvent(textEvent, "textInput", true) : Value();
    if (EventObject* te = As<EventObject>(ev)) {
      te->cancelable = true;
      te->message = typed;
      Dispatch(target, te);
      if (te->prevented) return;
    }
    // A listener may have moved the selection or changed the text.
    const std::size_t nb = tf->SelectionBegin(), ne = tf->SelectionEnd();
    const int max = tf->Opts().maxChars;
    if (max > 0 && tf->Length() - (ne - nb) >= static_cast<std::size_t>(max)) return;
    tf->ReplaceText(nb, ne, typed);
    tf->SetSelection(nb + 1, nb + 1);
  }
  Value change = NewEvent(eventClass, "change", true);
  if (EventObject* ce = As<EventObject>(change)) Dispatch(target, ce);
}

}  // namespace quarvel::player::as3
