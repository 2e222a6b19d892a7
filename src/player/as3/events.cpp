// EventDispatcher, Event and its kinds (mouse, keyboard, text, error,
// progress, net status) and Timer; the dispatch itself is As3Display's.
#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {

// ---- EventDispatcher and events

NATIVE(EdAddEventListener) {
  FlashObject* f = As<FlashObject>(self);
  const Value fn = m.ArgOr(a, 1);
  if (!f) return Value();
  if (!fn.IsObject()) m.ThrowError("TypeError", "Parameter listener must be non-null.", 2007);
  Listener l;
  l.type = avm2::ArgStr(m, a, 0, "");
  l.fn = fn;
  l.capture = m.ToBoolean(m.ArgOr(a, 2));
  l.priority = m.ToInt(m.ArgOr(a, 3));
  for (auto& e : f->listeners)
    if (e.type == l.type && e.capture == l.capture && m.StrictEquals(e.fn, fn)) return Value();
  if (f->listeners.size() > 10000) return Value();
  f->listeners.push_back(l);
  B(m).Listen(f, l.type);
  return Value();
}
NATIVE(EdRemoveEventListener) {
  FlashObject* f = As<FlashObject>(self);
  if (!f) return Value();
  const std::string type = avm2::ArgStr(m, a, 0, "");
  const Value fn = m.ArgOr(a, 1);
  const bool capture = m.ToBoolean(m.ArgOr(a, 2));
  std::erase_if(f->listeners, [&](const Listener& l) { return l.type == type && l.capture == capture && m.StrictEquals(l.fn, fn); });
  if (std::none_of(f->listeners.begin(), f->listeners.end(), [&](const Listener& l) { return l.type == type; }))
    B(m).Unlisten(f, type);
  return Value();
}
NATIVE(EdHasEventListener) {
  FlashObject* f = As<FlashObject>(self);
  const std::string type = avm2::ArgStr(m, a, 0, "");
  if (f)
    for (auto& l : f->listeners)
      if (l.type == type) return Value::Bool(true);
  return Value::Bool(false);
}
// hasEventListener on the object or on any container above it, which an
// event sent to it would pass.
NATIVE(EdWillTrigger) {
  FlashObject* f = As<FlashObject>(self);
  const std::string type = avm2::ArgStr(m, a, 0, "");
  As3Display& b = B(m);
  const auto hears = [&](FlashObject* o) {
    return o && std::any_of(o->listeners.begin(), o->listeners.end(), [&](const Listener& l) { return l.type == type; });
  };
  if (hears(f)) return Value::Bool(true);
  if (!f || f->handle == kNoClip || f == b.stageObject) return Value::Bool(false);
  ClipHandle h = f->handle;
  for (int guard = 0; guard < 1000 && h != kRootClip; ++guard) {
    Instance* i = b.Node(h);
    if (!i || i->parent == kNoClip) return Value::Bool(false);
    h = i->parent;
    if (auto it = b.objects.find(h); it != b.objects.end() && hears(it->second)) return Value::Bool(true);
  }
  return Value::Bool(hears(b.stageObject));
}
NATIVE(EdDispatchEvent) {
  FlashObject* f = As<FlashObject>(self);
  EventObject* e = ArgAs<EventObject>(m, m.ArgOr(a, 0), "flash.events::Event");
  if (!f || !e) m.ThrowError("TypeError", "Parameter event must be non-null.", 2007);
  // An event that has a target (read as scripts may override it) is sent
  // again as a copy, made by its clone().
  if (!m.GetProperty(Value::Obj(e), "target").IsNullish()) {
    Value copy = m.CallProperty(Value::Obj(e), "clone", {});
    e = As<EventObject>(copy);
    if (!e) m.ThrowError("TypeError", "Parameter event must be non-null.", 2007);
  }
  B(m).Dispatch(f, e);
  return Value::Bool(!e->prevented);
}
NATIVE(EdCtor) {
  FlashObject* f = As<FlashObject>(self);
  const Value target = m.ArgOr(a, 0);
  // Only EventDispatcher's own (or a script class's on it): the Flash
  // classes built on it take other arguments.
  const Class* native = f ? f->cls : nullptr;
  while (native && native->unit) native = native->super;
  if (native == B(m).dispatcherClass && target.IsObject() && target.AsObject() != f) f->dispatchTarget = target;
  return self;
}
NATIVE(EvCtor) {
  if (EventObject* e = As<EventObject>(self)) {
    e->phase = 2;  // AT_TARGET until a dispatch says otherwise
    e->type = avm2::ArgStr(m, a, 0, "");
    e->bubbles = m.ToBoolean(m.ArgOr(a, 1));
    e->cancelable = m.ToBoolean(m.ArgOr(a, 2));
  }
  return self;
}
NATIVE(EvType) { EventObject* e = As<EventObject>(self); return e ? m.Str(e->type) : Value(); }
NATIVE(EvBubbles) { EventObject* e = As<EventObject>(self); return Value::Bool(e && e->bubbles); }
NATIVE(EvCancelable) { EventObject* e = As<EventObject>(self); return Value::Bool(e && e->cancelable); }
NATIVE(EvTarget) { EventObject* e = As<EventObject>(self); return e && !e->target.IsUndefined() ? e->target : Value::Null(); }
NATIVE(EvCurrentTarget) { EventObject* e = As<EventObject>(self); return e && !e->currentTarget.IsUndefined() ? e->currentTarget : Value::Null(); }
NATIVE(EvPhase) { EventObject* e = As<EventObject>(self); return Value::Int(e ? e->phase : 0); }
NATIVE(EvStop) { if (EventObject* e = As<EventObject>(self)) e->stop = true; return Value(); }
NATIVE(EvStopNow) { if (EventObject* e = As<EventObject>(self)) e->stop = e->stopNow = true; return Value(); }
NATIVE(EvPrevent) { if (EventObject* e = As<EventObject>(self); e && e->cancelable) e->prevented = true; return Value(); }
NATIVE(EvPrevented) { EventObject* e = As<EventObject>(self); return Value::Bool(e && e->prevented); }
NATIVE(EvClone) {
  EventObject* e = As<EventObject>(self);
  if (!e) return Value::Null();
  // A script's subclass that does not override clone() gets a copy of the
  // nearest built-in class, without its own properties.
  Class* cls = e->cls;
  while (cls && cls->unit && cls->super) cls = cls->super;
  const Value copy = Value::Obj(m.Instantiate(cls));
  EventObject* c = As<EventObject>(copy);
  if (!c) return Value::Null();
  c->type = e->type, c->bubbles = e->bubbles, c->cancelable = e->cancelable;
  c->stageX = e->stageX, c->stageY = e->stageY, c->localX = e->localX, c->localY = e->localY;
  c->related = e->related, c->buttonDown = e->buttonDown, c->keyCode = e->keyCode, c->charCode = e->charCode;
  c->ctrlKey = e->ctrlKey, c->altKey = e->altKey, c->shiftKey = e->shiftKey, c->delta = e->delta;
  c->relatedInaccessible = e->relatedInaccessible, c->movementX = e->movementX, c->movementY = e->movementY;
  c->message = e->message, c->bytesLoaded = e->bytesLoaded, c->bytesTotal = e->bytesTotal, c->info = e->info;
  c->header = e->header, c->data = e->data, c->position = e->position;
  c->phase = 2;  // as a new event: AT_TARGET until dispatched
  return copy;
}
// [Name a="text" b=1]: each named property read through the object, strings quoted.
std::string FormatEvent(Machine& m, const Value& self, std::string_view cls, std::span<const Value> names) {
  std::string out = "[" + std::string(cls);
  for (const Value& n : names) {
    const std::string name = n.IsNullish() ? "null" : m.ToString(n);  // names are Strings: undefined is null
    const Value v = m.GetProperty(self, name);
    out += " " + name + "=" + (v.IsString() ? "\"" + m.ToString(v) + "\"" : m.ToString(v));
  }
  return out + "]";
}
NATIVE(EvFormatToString) {
  return m.Str(FormatEvent(m, self, avm2::ArgStr(m, a, 0, ""), a.empty() ? a : a.subspan(1)));
}
// Each built-in event class writes itself with its own name and fields:
// [Event type="added" bubbles=true cancelable=false eventPhase=2].
Value WriteEvent(Machine& m, const Value& self, std::string_view cls, std::initializer_list<const char*> extra) {
  std::vector<Value> names;
  for (const char* n : {"type", "bubbles", "cancelable", "eventPhase"}) names.push_back(m.Str(n));
  for (const char* n : extra) names.push_back(m.Str(n));
  return m.Str(FormatEvent(m, self, cls, names));
}
NATIVE(EvToString) { return WriteEvent(m, self, "Event", {}); }
NATIVE(TimerEvToString) { return WriteEvent(m, self, "TimerEvent", {}); }
NATIVE(MeToString) {
  return WriteEvent(m, self, "MouseEvent", {"localX", "localY", "stageX", "stageY", "relatedObject", "ctrlKey", "altKey",
                                            "shiftKey", "buttonDown", "delta"});
}
NATIVE(KeToString) {
  return WriteEvent(m, self, "KeyboardEvent",
                    {"charCode", "keyCode", "keyLocation", "ctrlKey", "altKey", "shiftKey"});
}
NATIVE(FocusEvToString) { return WriteEvent(m, self, "FocusEvent", {"relatedObject", "shiftKey", "keyCode"}); }
NATIVE(TextEvToString) { return WriteEvent(m, self, "TextEvent", {"text"}); }
NATIVE(ErrorEvToString) { return WriteEvent(m, self, "ErrorEvent", {"text"}); }
NATIVE(IoErrorEvToString) { return WriteEvent(m, self, "IOErrorEvent", {"text"}); }
NATIVE(SecurityErrorEvToString) { return WriteEvent(m, self, "SecurityErrorEvent", {"text"}); }
NATIVE(ProgressEvToString) { return WriteEvent(m, self, "ProgressEvent", {"bytesLoaded", "bytesTotal"}); }
NATIVE(SampleDataEvToString) { return WriteEvent(m, self, "SampleDataEvent", {"position"}); }
NATIVE(NetStatusEvToString) { return WriteEvent(m, self, "NetStatusEvent", {"info"}); }
// Flash writes NetFilterEvent under the name it had before its release.
NATIVE(NetFilterEvToString) { return WriteEvent(m, self, "NetTransformEvent", {"header", "data"}); }
NATIVE(HttpStatusEvToString) { return WriteEvent(m, self, "HTTPStatusEvent", {"status", "redirected", "responseURL"}); }
// Once an event has a display object as its target, its stage position is
// the local one carried through that object as it is now.
template <bool kY>
Value MeStage(Machine& m, Value self, std::span<Value>) {
  EventObject* e = As<EventObject>(self);
  if (!e) return Value::Number(0);
  FlashObject* t = As<FlashObject>(e->target);
  As3Display& b = B(m);
  if (t && t->cls && b.displayObjectClass && t->cls->IsSubclassOf(b.displayObjectClass)) {
    Value xy[] = {Value::Number(e->localX), Value::Number(e->localY)};
    Value p[] = {Value::Obj(m.Construct(m.FindClass("flash.geom::Point"), xy))};
    const Value g = m.CallProperty(e->target, "localToGlobal", p);
    return m.GetProperty(g, kY ? "y" : "x");
  }
  return Value::Number(kY ? e->stageY : e->stageX);
}

NATIVE(MeLocalX) { EventObject* e = As<EventObject>(self); return Value::Number(e ? e->localX : 0); }
NATIVE(MeLocalY) { EventObject* e = As<EventObject>(self); return Value::Number(e ? e->localY : 0); }
NATIVE(MeRelated) { EventObject* e = As<EventObject>(self); return e && !e->related.IsUndefined() ? e->related : Value::Null(); }
NATIVE(MeButtonDown) { EventObject* e = As<EventObject>(self); return Value::Bool(e && e->buttonDown); }
// MouseEvent's flags and numbers a script may read and set.
template <bool EventObject::*kField>
Value MeFlag(Machine&, Value self, std::span<Value>) {
  EventObject* e = As<EventObject>(self);
  return Value::Bool(e && e->*kField);
}
template <bool EventObject::*kField>
Value MeSetFlag(Machine& m, Value self, std::span<Value> a) {
  if (EventObject* e = As<EventObject>(self)) e->*kField = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
template <double EventObject::*kField>
Value MeNumber(Machine&, Value self, std::span<Value>) {
  EventObject* e = As<EventObject>(self);
  return Value::Number(e ? e->*kField : 0);
}
template <double EventObject::*kField>
Value MeSetNumber(Machine& m, Value self, std::span<Value> a) {
  if (EventObject* e = As<EventObject>(self)) e->*kField = m.ToNumber(m.ArgOr(a, 0));
  return Value();
}
NATIVE(MeDelta) { EventObject* e = As<EventObject>(self); return Value::Int(e ? e->delta : 0); }
NATIVE(MeSetDelta) {
  if (EventObject* e = As<EventObject>(self)) e->delta = m.ToInt(m.ArgOr(a, 0));
  return Value();
}
// new MouseEvent(type, bubbles = true, cancelable = false, localX, localY, relatedObject, ctrl, alt, shift,
// buttonDown, delta)
NATIVE(MeCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) {
    if (a.size() <= 1) e->bubbles = true;
    // No position given: NaN, and so are the stage's coordinates.
    e->localX = avm2::ArgNum(m, a, 3, std::nan(""));
    e->localY = avm2::ArgNum(m, a, 4, std::nan(""));
    e->stageX = std::isnan(e->localX) ? e->localX : 0;
    e->stageY = std::isnan(e->localY) ? e->localY : 0;
    if (a.size() > 5) e->related = a[5];
    e->ctrlKey = m.ToBoolean(m.ArgOr(a, 6));
    e->altKey = m.ToBoolean(m.ArgOr(a, 7));
    e->shiftKey = m.ToBoolean(m.ArgOr(a, 8));
    e->buttonDown = m.ToBoolean(m.ArgOr(a, 9));
    e->delta = m.ToInt(m.ArgOr(a, 10));
  }
  return self;
}
// new KeyboardEvent(type, bubbles = true, cancelable = false, charCode = 0, keyCode = 0, ...)
NATIVE(KeCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) {
    if (a.size() <= 1) e->bubbles = true;
    e->charCode = m.ToUint(m.ArgOr(a, 3));
    e->keyCode = m.ToUint(m.ArgOr(a, 4));
  }
  return self;
}
NATIVE(KeKeyCode) { EventObject* e = As<EventObject>(self); return Value::Number(e ? e->keyCode : 0); }
NATIVE(KeCharCode) { EventObject* e = As<EventObject>(self); return Value::Number(e ? e->charCode : 0); }
NATIVE(KeSetKeyCode) { if (EventObject* e = As<EventObject>(self)) e->keyCode = m.ToUint(m.ArgOr(a, 0)); return Value(); }
NATIVE(KeSetCharCode) { if (EventObject* e = As<EventObject>(self)) e->charCode = m.ToUint(m.ArgOr(a, 0)); return Value(); }
// ---- Timer

// A delay below zero, or no number at all, is refused.
double TimerDelayArg(Machine& m, std::span<Value> a) {
  const double d = avm2::ArgNum(m, a, 0, 1000);
  if (!(d >= 0) || !std::isfinite(d)) {
    // Flash's Timer is ActionScript: it throws through Error.throwError.
    Machine::NativeFrame frame(m, "Error$/throwError");
    m.ThrowError("RangeError", "The Timer delay specified is out of range.", 2066);
  }
  return d;
}
NATIVE(TimerCtor) {
  if (TimerObject* t = As<TimerObject>(self)) {
    t->delay = TimerDelayArg(m, a);
    t->repeat = m.ToInt(m.ArgOr(a, 1));
  }
  return self;
}
NATIVE(TimerStart) {
  TimerObject* t = As<TimerObject>(self);
  if (!t || t->running) return Value();
  As3Display& b = B(m);
  t->running = true;
  t->due = m.clockMs() + std::max(t->delay, 1.0);
  if (std::find(b.events.timers.begin(), b.events.timers.end(), t) == b.events.timers.end()) b.events.timers.push_back(t);
  return Value();
}
NATIVE(TimerStop) {
  if (TimerObject* t = As<TimerObject>(self)) t->running = false;
  return Value();
}
NATIVE(TimerReset) {
  if (TimerObject* t = As<TimerObject>(self)) t->running = false, t->count = 0;
  return Value();
}
NATIVE(TimerRunning) { TimerObject* t = As<TimerObject>(self); return Value::Bool(t && t->running); }
NATIVE(TimerCount) { TimerObject* t = As<TimerObject>(self); return Value::Int(t ? t->count : 0); }
NATIVE(TimerDelay) { TimerObject* t = As<TimerObject>(self); return Value::Number(t ? t->delay : 0); }
// A running timer counts its new delay from now.
NATIVE(TimerSetDelay) {
  if (TimerObject* t = As<TimerObject>(self)) {
    t->delay = TimerDelayArg(m, a);
    if (t->running) t->due = m.clockMs() + std::max(t->delay, 1.0);
  }
  return Value();
}
NATIVE(TimerRepeat) { TimerObject* t = As<TimerObject>(self); return Value::Int(t ? t->repeat : 0); }
// A count already reached stops the timer, without TIMER_COMPLETE.
NATIVE(TimerSetRepeat) {
  if (TimerObject* t = As<TimerObject>(self)) {
    t->repeat = m.ToInt(m.ArgOr(a, 0));
    // Within its own TIMER the tick's end completes it.
    if (!t->ticking && t->repeat > 0 && t->count >= t->repeat) t->running = false;
  }
  return Value();
}

// new FocusEvent(type, bubbles = true, cancelable = false, relatedObject, shiftKey, keyCode)
NATIVE(FocusEvCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) {
    if (a.size() <= 1) e->bubbles = true;
    if (a.size() > 3) e->related = a[3];
    e->keyCode = m.ToUint(m.ArgOr(a, 5));
  }
  return self;
}
// Events with text (ErrorEvent, IOErrorEvent...), sizes (ProgressEvent) and info (NetStatusEvent).
NATIVE(TextEventCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) e->message = avm2::ArgStr(m, a, 3, "");
  return self;
}
NATIVE(TextEventText) { EventObject* e = As<EventObject>(self); return m.Str(e ? e->message : ""); }
NATIVE(TextEventSetText) { if (EventObject* e = As<EventObject>(self)) e->message = avm2::ArgStr(m, a, 0, ""); return Value(); }
NATIVE(ErrorEventId) {
  EventObject* e = As<EventObject>(self);
  // "Error #2035: ..." gives 2035.
  if (!e || e->message.rfind("Error #", 0) != 0) return Value::Int(0);
  return Value::Int(std::atoi(e->message.c_str() + 7));
}
NATIVE(ProgressEventCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) {
    e->bytesLoaded = avm2::ArgNum(m, a, 3, 0);
    e->bytesTotal = avm2::ArgNum(m, a, 4, 0);
  }
  return self;
}
NATIVE(NetStatusCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) e->info = m.ArgOr(a, 3);
  return self;
}
// A ByteArray parameter: null for null or undefined, Flash's #1034 for anything else.
Value ByteArrayArg(Machine& m, const Value& v) {
  if (v.IsNullish()) return Value::Null();
  if (v.IsObject() && v.o->kind == avm2::ObjectKind::kByteArray) return v;
  Object* o = v.AsObject();
  m.ThrowError("TypeError",
               "Type Coercion failed: cannot convert " + (o && o->cls ? o->cls->QualifiedName() : m.ToString(v)) +
                   " to flash.utils.ByteArray.",
               1034);
}
// new SampleDataEvent(type, bubbles, cancelable, position = 0, data = null).
NATIVE(SampleDataCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) {
    e->position = avm2::ArgNum(m, a, 3, 0);
    e->data = ByteArrayArg(m, m.ArgOr(a, 4));
  }
  return self;
}
NATIVE(SampleDataPosition) {
  EventObject* e = As<EventObject>(self);
  return Value::Number(e ? e->position : 0);
}
NATIVE(SampleDataSetPosition) {
  if (EventObject* e = As<EventObject>(self)) e->position = avm2::ArgNum(m, a, 0, 0);
  return Value();
}
// new NetFilterEvent(type, bubbles, cancelable, header = null, data = null): the
// byte arrays are shared, also by a clone.
NATIVE(NetFilterCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) {
    e->header = ByteArrayArg(m, m.ArgOr(a, 3));
    e->data = ByteArrayArg(m, m.ArgOr(a, 4));
  }
  return self;
}
template <Value EventObject::*kField>
Value NetFilterGet(Machine&, Value self, std::span<Value>) {
  EventObject* e = As<EventObject>(self);
  return e && (e->*kField).IsObject() ? e->*kField : Value::Null();
}
template <Value EventObject::*kField>
Value NetFilterSet(Machine& m, Value self, std::span<Value> a) {
  if (EventObject* e = As<EventObject>(self))
    e->*kField = ByteArrayArg(m, m.ArgOr(a, 0));
  return Value();
}
// new HTTPStatusEvent(type, bubbles, cancelable, status = 0, redirected = false)
NATIVE(HttpStatusCtor) {
  EvCtor(m, self, a);
  if (EventObject* e = As<EventObject>(self)) {
    e->status = a.size() > 3 ? m.ToInt(a[3]) : 0;
    e->redirected = m.ToBoolean(m.ArgOr(a, 4));
  }
  return self;
}
NATIVE(HttpStatus) { EventObject* e = As<EventObject>(self); return Value::Int(e ? e->status : 0); }
NATIVE(HttpRedirected) { EventObject* e = As<EventObject>(self); return Value::Bool(e && e->redirected); }
NATIVE(HttpSetRedirected) { if (EventObject* e = As<EventObject>(self)) e->redirected = m.ToBoolean(m.ArgOr(a, 0)); return Value(); }
NATIVE(HttpHeaders) { return Value::Obj(m.NewArray()); }
NATIVE(EvBytesLoaded) { EventObject* e = As<EventObject>(self); return Value::Number(e ? e->bytesLoaded : 0); }
NATIVE(EvBytesTotal) { EventObject* e = As<EventObject>(self); return Value::Number(e ? e->bytesTotal : 0); }
// Preloaders re-dispatch progress with their own counts, so both sizes are writable.
NATIVE(EvSetBytesLoaded) { if (EventObject* e = As<EventObject>(self)) e->bytesLoaded = avm2::ArgNum(m, a, 0, 0); return Value(); }
NATIVE(EvSetBytesTotal) { if (EventObject* e = As<EventObject>(self)) e->bytesTotal = avm2::ArgNum(m, a, 0, 0); return Value(); }
NATIVE(NetStatusInfo) { EventObject* e = As<EventObject>(self); return e && !e->info.IsUndefined() ? e->info : Value::Null(); }


// ---- events
Value As3Display::NewEvent(Class* cls, const std::string& type, bool bubbles) {
  const Value v = Value::Obj(m.Instantiate(cls));
  if (EventObject* e = As<EventObject>(v)) {
    e->type = type;
    e->bubbles = bubbles;
  }
  return v;
}

void As3Display::Listen(FlashObject* o, const std::string& type) {
  if (type == "added" || type == "removed" || type == "addedToStage" || type == "removedFromStage") events.hearsTree = true;
  if (type == "enterFrame" || type == "exitFrame" || type == "frameConstructed" || type == "render") {
    auto& list = events.frameListeners[type];
    if (std::find(list.begin(), list.end(), o) == list.end()) list.push_back(o);
  }
}

void As3Display::Unlisten(FlashObject* o, const std::string& type) {
  if (auto it = events.frameListeners.find(type); it != events.frameListeners.end()) std::erase(it->second, o);
}

void As3Display::CallListeners(FlashObject* o, EventObject* e, bool capture, FlashObject* current) {
  if (!e) return;
  std::vector<Listener> ls;
  for (auto& l : o->listeners)
    if (l.type == e->type && l.capture == capture) ls.push_back(l);
  if (ls.empty()) return;
  std::stable_sort(ls.begin(), ls.end(), [](const Listener& a, const Listener& b) { return a.priority > b.priority; });
  e->currentTarget = Value::Obj(current ? current : o);
  for (auto& l : ls) {
    Value arg = Value::Obj(e);
    m.SafeCall([&] { m.CallFromPlayer(l.fn, std::span<Value>(&arg, 1)); }, ("a " + e->type + " listener").c_str());
    if (e->stopNow) break;
  }
}

// Capture from the root down, the target, then bubbling up.
void As3Display::Dispatch(FlashObject* target, EventObject* e) {
  if (!target || !e) return;
  e->stop = e->stopNow = false;
  std::vector<FlashObject*> path;
  // A dispatcher made for another object sends as that object, up through its containers.
  FlashObject* as = As<FlashObject>(target->dispatchTarget);
  if (!as) as = target;
  if (as->handle != kNoClip && !(as->cls && as->cls->IsSubclassOf(stageClass))) {
    ClipHandle h = as->handle;
    for (int guard = 0; guard < 1000 && h != kRootClip; ++guard) {
      Instance* i = Node(h);
      if (!i || i->parent == kNoClip) break;
      h = i->parent;
      if (auto it = objects.find(h); it != objects.end()) path.push_back(it->second);
    }
    // The stage is the parent of the root.
    if (stageObject && (h == kRootClip || as->handle == kRootClip)) path.push_back(stageObject);
  }
  // An event nobody listens to along its path is left untouched: no target,
  // and it is no copy when sent again.
  const auto hears = [&](FlashObject* o, bool capture) {
    return std::any_of(o->listeners.begin(), o->listeners.end(),
                       [&](const Listener& l) { return l.type == e->type && l.capture == capture; });
  };
  bool heard = hears(target, false);
  for (FlashObject* p : path) heard = heard || hears(p, true) || (e->bubbles && hears(p, false));
  if (!heard) return;
  e->target = Value::Obj(as);
  e->phase = 1;
  for (auto it = path.rbegin(); it != path.rend() && !e->stop; ++it) CallListeners(*it, e, true);
  if (!e->stop) {
    e->phase = 2;
    // A dispatcher made for another object calls its listeners as that object.
    CallListeners(target, e, false, as);
  }
  if (e->bubbles) {
    e->phase = 3;
    for (FlashObject* p : path) {
      if (e->stop) break;
      CallListeners(p, e, false);
    }
  }
}

void As3Display::Broadcast(const std::string& type) {
  const auto at = events.frameListeners.find(type);
  if (at == events.frameListeners.end()) return;
  const auto list = at->second;
  for (FlashObject* o : list) {
    bool has = false;
    for (auto& l : o->listeners) has |= l.type == type;
    if (!has) continue;
    Value e = NewEvent(eventClass, type, false);
    auto* ev = As<EventObject>(e);
    if (!ev) continue;
    ev->target = Value::Obj(o);
    ev->phase = 2;
    CallListeners(o, ev, false);
  }
}

// ADDED on the child (bubbling), ADDED_TO_STAGE on it and all below when it is on the stage now.
void As3Display::Added(ClipHandle h) {
  FlashObject* o = ObjectFor(h);
  if (!o) return;
  Value e = NewEvent(eventClass, "added", true);
  Dispatch(o, As<EventObject>(e));
  if (OnStage(h)) AddedToStage(h, 0);
}

// A timeline placed it (or it is the main timeline): ADDED, bubbling,
// then ADDED_TO_STAGE on it alone, as its children had theirs.
void As3Display::AddedByTimeline(ClipHandle h) {
  auto it = objects.find(h);
  if (it == objects.end()) return;
  Value e = NewEvent(eventClass, "added", true);
  Dispatch(it->second, As<EventObject>(e));
  if (OnStage(h)) AddedToStage(h, kMaxSpriteNesting);
}

// Handles of the tree from `h` in display list order: parents first.
void As3Display::ListInOrder(ClipHandle h, std::unordered_map<ClipHandle, std::size_t>& order, int nesting) {
  order.emplace(h, order.size());
  TimelineState* tl = Timeline(h);
  if (!tl || nesting > kMaxSpriteNesting) return;
  for (auto& [depth, child] : tl->list)
    if (child.sprite) ListInOrder(child.serial, order, nesting + 1);
}

void As3Display::AddedToStage(ClipHandle h, int depth) {
  if (depth > kMaxSpriteNesting) return;
  if (auto it = objects.find(h); it != objects.end()) {
    Value e = NewEvent(eventClass, "addedToStage", false);
    Dispatch(it->second, As<EventObject>(e));
  }
  if (TimelineState* tl = Timeline(h)) {
    std::vector<ClipHandle> kids;
    for (auto& [d, c] : tl->list) kids.push_back(c.serial);
    for (ClipHandle k : kids) AddedToStage(k, depth + 1);
  }
}

void As3Display::Removed(ClipHandle h) {
  auto it = objects.find(h);
  if (it == objects.end()) return;
  Value e = NewEvent(eventClass, "removed", true);
  Dispatch(it->second, As<EventObject>(e));
  if (OnStage(h)) {
    // Leaving the stage takes the focus with it, from the object or anything inside.
    if (FlashObject* f = As<FlashObject>(pointer.focus)) {
      ClipHandle up = f->handle;
      for (int guard = 0; guard < 1000 && up != kNoClip && up != kRootClip && up != h; ++guard) {
        const Instance* i = Node(up);
        up = i ? i->parent : kNoClip;
      }
      if (up == h) pointer.focus = Value::Null();
    }
    RemovedFromStage(h, 0);
  }
}

// REMOVED_FROM_STAGE on the object, then on everything inside it.
void As3Display::RemovedFromStage(ClipHandle h, int depth) {
  if (depth > kMaxSpriteNesting) return;
  if (FlashObject* o = Existing(h)) {
    Value e = NewEvent(eventClass, "removedFromStage", false);
    Dispatch(o, As<EventObject>(e));
  }
  if (TimelineState* tl = Timeline(h)) {
    std::vector<ClipHandle> kids;
    for (auto& [d, c] : tl->list) kids.push_back(c.serial);
    for (ClipHandle k : kids) RemovedFromStage(k, depth + 1);
  }
}

void As3Display::Removing(Instance& inst) {
  const ClipHandle h = inst.serial;
  if (!objects.count(h)) {
    // An object never made has no listeners; its parents hear REMOVED bubble
    // only when someone listens. A linked class not yet constructed stays unmade.
    if (!events.hearsTree || (inst.def && LinkedClassName(inst.def))) return;
    if (!ObjectFor(h)) return;
  }
  Removed(h);
  // The parent's property of the child's name is cleared, whatever it
  // holds, when it holds anything (a getter that throws is let be).
  Instance* child = Node(h);
  auto parent = child ? objects.find(child->parent) : objects.end();
  if (!child || parent == objects.end() || !objects.count(h) || child->name.empty() ||
      child->name.rfind("instance", 0) == 0)
    return;
  FlashObject* p = parent->second;
  const avm2::Name n = m.NameFromString(child->name);
  if (!m.FindBinding(p->traits, n) && !p->dynamic) return;
  m.SafeCall([&] {
    try {
      if (!m.GetProperty(Value::Obj(p), n).IsNullish()) m.SetProperty(Value::Obj(p), n, Value::Null());
    } catch (const avm2::ScriptThrow&) {
      // Flash goes on without a word (the calls below unwound themselves).
    }
  }, "a removed child's property");
}

constexpr MemberRow kEventRows[] = {
    {"flash.events::EventDispatcher", "addEventListener", Member::kMethod, EdAddEventListener},
    {"flash.events::EventDispatcher", "removeEventListener", Member::kMethod, EdRemoveEventListener},
    {"flash.events::EventDispatcher", "hasEventListener", Member::kMethod, EdHasEventListener},
    {"flash.events::EventDispatcher", "willTrigger", Member::kMethod, EdWillTrigger},
    {"flash.events::EventDispatcher", "dispatchEvent", Member::kMethod, EdDispatchEvent},
    {"flash.events::Event", "type", Member::kGetter, EvType},
    {"flash.events::Event", "bubbles", Member::kGetter, EvBubbles},
    {"flash.events::Event", "cancelable", Member::kGetter, EvCancelable},
    {"flash.events::Event", "target", Member::kGetter, EvTarget},
    {"flash.events::Event", "currentTarget", Member::kGetter, EvCurrentTarget},
    {"flash.events::Event", "eventPhase", Member::kGetter, EvPhase},
    {"flash.events::Event", "stopPropagation", Member::kMethod, EvStop},
    {"flash.events::Event", "stopImmediatePropagation", Member::kMethod, EvStopNow},
    {"flash.events::Event", "preventDefault", Member::kMethod, EvPrevent},
    {"flash.events::Event", "isDefaultPrevented", Member::kMethod, EvPrevented},
    {"flash.events::Event", "clone", Member::kMethod, EvClone},
    {"flash.events::Event", "toString", Member::kMethod, EvToString},
    {"flash.events::Event", "formatToString", Member::kMethod, EvFormatToString},
    {"flash.events::Event", "ENTER_FRAME", Member::kConst, nullptr, "enterFrame"},
    {"flash.events::Event", "EXIT_FRAME", Member::kConst, nullptr, "exitFrame"},
    {"flash.events::Event", "FRAME_CONSTRUCTED", Member::kConst, nullptr, "frameConstructed"},
    {"flash.events::Event", "ADDED", Member::kConst, nullptr, "added"},
    {"flash.events::Event", "ADDED_TO_STAGE", Member::kConst, nullptr, "addedToStage"},
    {"flash.events::Event", "REMOVED", Member::kConst, nullptr, "removed"},
    {"flash.events::Event", "REMOVED_FROM_STAGE", Member::kConst, nullptr, "removedFromStage"},
    {"flash.events::Event", "COMPLETE", Member::kConst, nullptr, "complete"},
    {"flash.events::Event", "INIT", Member::kConst, nullptr, "init"},
    {"flash.events::Event", "RESIZE", Member::kConst, nullptr, "resize"},
    {"flash.events::Event", "CHANGE", Member::kConst, nullptr, "change"},
    {"flash.events::Event", "ACTIVATE", Member::kConst, nullptr, "activate"},
    {"flash.events::Event", "DEACTIVATE", Member::kConst, nullptr, "deactivate"},
    {"flash.events::Event", "RENDER", Member::kConst, nullptr, "render"},
    {"flash.events::Event", "OPEN", Member::kConst, nullptr, "open"},
    {"flash.events::Event", "CLOSE", Member::kConst, nullptr, "close"},
    {"flash.events::Event", "SELECT", Member::kConst, nullptr, "select"},
    {"flash.events::Event", "SOUND_COMPLETE", Member::kConst, nullptr, "soundComplete"},
    {"flash.events::Event", "UNLOAD", Member::kConst, nullptr, "unload"},
    {"flash.events::Event", "SCROLL", Member::kConst, nullptr, "scroll"},
    {"flash.events::Event", "CANCEL", Member::kConst, nullptr, "cancel"},
    {"flash.events::Event", "TAB_CHILDREN_CHANGE", Member::kConst, nullptr, "tabChildrenChange"},
    {"flash.events::Event", "FULLSCREEN", Member::kConst, nullptr, "fullScreen"},
    {"flash.events::Event", "MOUSE_LEAVE", Member::kConst, nullptr, "mouseLeave"},
    {"flash.events::MouseEvent", "stageX", Member::kGetter, MeStage<false>},
    {"flash.events::MouseEvent", "stageY", Member::kGetter, MeStage<true>},
    {"flash.events::MouseEvent", "localX", Member::kSetter, MeSetNumber<&EventObject::localX>},
    {"flash.events::MouseEvent", "localY", Member::kSetter, MeSetNumber<&EventObject::localY>},
    {"flash.events::MouseEvent", "localX", Member::kGetter, MeLocalX},
    {"flash.events::MouseEvent", "localY", Member::kGetter, MeLocalY},
    {"flash.events::MouseEvent", "relatedObject", Member::kGetter, MeRelated},
    {"flash.events::MouseEvent", "buttonDown", Member::kGetter, MeButtonDown},
    {"flash.events::MouseEvent", "ctrlKey", Member::kGetter, MeFlag<&EventObject::ctrlKey>},
    {"flash.events::MouseEvent", "ctrlKey", Member::kSetter, MeSetFlag<&EventObject::ctrlKey>},
    {"flash.events::MouseEvent", "altKey", Member::kGetter, MeFlag<&EventObject::altKey>},
    {"flash.events::MouseEvent", "altKey", Member::kSetter, MeSetFlag<&EventObject::altKey>},
    {"flash.events::MouseEvent", "shiftKey", Member::kGetter, MeFlag<&EventObject::shiftKey>},
    {"flash.events::MouseEvent", "shiftKey", Member::kSetter, MeSetFlag<&EventObject::shiftKey>},
    {"flash.events::MouseEvent", "buttonDown", Member::kSetter, MeSetFlag<&EventObject::buttonDown>},
    {"flash.events::MouseEvent", "isRelatedObjectInaccessible", Member::kGetter, MeFlag<&EventObject::relatedInaccessible>},
    {"flash.events::MouseEvent", "isRelatedObjectInaccessible", Member::kSetter,
     MeSetFlag<&EventObject::relatedInaccessible>},
    {"flash.events::MouseEvent", "movementX", Member::kGetter, MeNumber<&EventObject::movementX>},
    {"flash.events::MouseEvent", "movementX", Member::kSetter, MeSetNumber<&EventObject::movementX>},
    {"flash.events::MouseEvent", "movementY", Member::kGetter, MeNumber<&EventObject::movementY>},
    {"flash.events::MouseEvent", "movementY", Member::kSetter, MeSetNumber<&EventObject::movementY>},
    {"flash.events::MouseEvent", "commandKey", Member::kGetter, ReturnFalse},
    {"flash.events::MouseEvent", "controlKey", Member::kGetter, ReturnFalse},
    {"flash.events::MouseEvent", "delta", Member::kGetter, MeDelta},
    {"flash.events::MouseEvent", "delta", Member::kSetter, MeSetDelta},
    {"flash.events::MouseEvent", "updateAfterEvent", Member::kMethod, Noop},
    {"flash.events::MouseEvent", "toString", Member::kMethod, MeToString},
    {"flash.events::TimerEvent", "toString", Member::kMethod, TimerEvToString},
    {"flash.events::TimerEvent", "updateAfterEvent", Member::kMethod, Noop},
    {"flash.events::KeyboardEvent", "toString", Member::kMethod, KeToString},
    {"flash.events::FocusEvent", "toString", Member::kMethod, FocusEvToString},
    {"flash.events::TextEvent", "toString", Member::kMethod, TextEvToString},
    {"flash.events::ErrorEvent", "toString", Member::kMethod, ErrorEvToString},
    {"flash.events::IOErrorEvent", "toString", Member::kMethod, IoErrorEvToString},
    {"flash.events::SecurityErrorEvent", "toString", Member::kMethod, SecurityErrorEvToString},
    {"flash.events::ProgressEvent", "toString", Member::kMethod, ProgressEvToString},
    {"flash.events::NetStatusEvent", "toString", Member::kMethod, NetStatusEvToString},
    {"flash.events::HTTPStatusEvent", "toString", Member::kMethod, HttpStatusEvToString},
    {"flash.events::NetFilterEvent", "toString", Member::kMethod, NetFilterEvToString},
    {"flash.events::NetFilterEvent", "header", Member::kGetter, NetFilterGet<&EventObject::header>},
    {"flash.events::NetFilterEvent", "header", Member::kSetter, NetFilterSet<&EventObject::header>},
    {"flash.events::NetFilterEvent", "data", Member::kGetter, NetFilterGet<&EventObject::data>},
    {"flash.events::NetFilterEvent", "data", Member::kSetter, NetFilterSet<&EventObject::data>},
    {"flash.events::SampleDataEvent", "SAMPLE_DATA", Member::kConst, nullptr, "sampleData"},
    {"flash.events::SampleDataEvent", "toString", Member::kMethod, SampleDataEvToString},
    {"flash.events::SampleDataEvent", "position", Member::kGetter, SampleDataPosition},
    {"flash.events::SampleDataEvent", "position", Member::kSetter, SampleDataSetPosition},
    {"flash.events::SampleDataEvent", "data", Member::kGetter, NetFilterGet<&EventObject::data>},
    {"flash.events::SampleDataEvent", "data", Member::kSetter, NetFilterSet<&EventObject::data>},
    {"flash.events::HTTPStatusEvent", "status", Member::kGetter, HttpStatus},
    {"flash.events::HTTPStatusEvent", "redirected", Member::kGetter, HttpRedirected},
    {"flash.events::HTTPStatusEvent", "redirected", Member::kSetter, HttpSetRedirected},
    {"flash.events::HTTPStatusEvent", "responseURL", Member::kGetter, ReturnNull},
    {"flash.events::HTTPStatusEvent", "responseHeaders", Member::kGetter, HttpHeaders},
    {"flash.events::MouseEvent", "CLICK", Member::kConst, nullptr, "click"},
    {"flash.events::MouseEvent", "DOUBLE_CLICK", Member::kConst, nullptr, "doubleClick"},
    {"flash.events::MouseEvent", "MOUSE_DOWN", Member::kConst, nullptr, "mouseDown"},
    {"flash.events::MouseEvent", "MOUSE_UP", Member::kConst, nullptr, "mouseUp"},
    {"flash.events::MouseEvent", "MOUSE_MOVE", Member::kConst, nullptr, "mouseMove"},
    {"flash.events::MouseEvent", "MOUSE_OVER", Member::kConst, nullptr, "mouseOver"},
    {"flash.events::MouseEvent", "MOUSE_OUT", Member::kConst, nullptr, "mouseOut"},
    {"flash.events::MouseEvent", "ROLL_OVER", Member::kConst, nullptr, "rollOver"},
    {"flash.events::MouseEvent", "ROLL_OUT", Member::kConst, nullptr, "rollOut"},
    {"flash.events::MouseEvent", "MOUSE_WHEEL", Member::kConst, nullptr, "mouseWheel"},
    {"flash.events::TimerEvent", "TIMER", Member::kConst, nullptr, "timer"},
    {"flash.events::TimerEvent", "TIMER_COMPLETE", Member::kConst, nullptr, "timerComplete"},
    {"flash.events::KeyboardEvent", "keyCode", Member::kGetter, KeKeyCode},
    {"flash.events::KeyboardEvent", "keyCode", Member::kSetter, KeSetKeyCode},
    {"flash.events::KeyboardEvent", "charCode", Member::kGetter, KeCharCode},
    {"flash.events::KeyboardEvent", "charCode", Member::kSetter, KeSetCharCode},
    {"flash.events::KeyboardEvent", "ctrlKey", Member::kGetter, ReturnFalse},
    {"flash.events::KeyboardEvent", "altKey", Member::kGetter, ReturnFalse},
    {"flash.events::KeyboardEvent", "shiftKey", Member::kGetter, ReturnFalse},
    {"flash.events::KeyboardEvent", "commandKey", Member::kGetter, ReturnFalse},
    {"flash.events::KeyboardEvent", "controlKey", Member::kGetter, ReturnFalse},
    {"flash.events::KeyboardEvent", "keyLocation", Member::kGetter, ReturnZero},
    {"flash.events::KeyboardEvent", "updateAfterEvent", Member::kMethod, Noop},
    {"flash.events::TimerEvent", "updateAfterEvent", Member::kMethod, Noop},
    {"flash.events::KeyboardEvent", "KEY_DOWN", Member::kConst, nullptr, "keyDown"},
    {"flash.events::KeyboardEvent", "KEY_UP", Member::kConst, nullptr, "keyUp"},
    {"flash.events::TextEvent", "text", Member::kGetter, TextEventText},
    {"flash.events::TextEvent", "text", Member::kSetter, TextEventSetText},
    {"flash.events::TextEvent", "LINK", Member::kConst, nullptr, "link"},
    {"flash.events::TextEvent", "TEXT_INPUT", Member::kConst, nullptr, "textInput"},
    {"flash.events::ErrorEvent", "errorID", Member::kGetter, ErrorEventId},
    {"flash.events::ErrorEvent", "ERROR", Member::kConst, nullptr, "error"},
    {"flash.events::IOErrorEvent", "IO_ERROR", Member::kConst, nullptr, "ioError"},
    {"flash.events::SecurityErrorEvent", "SECURITY_ERROR", Member::kConst, nullptr, "securityError"},
    {"flash.events::AsyncErrorEvent", "ASYNC_ERROR", Member::kConst, nullptr, "asyncError"},
    {"flash.events::ProgressEvent", "PROGRESS", Member::kConst, nullptr, "progress"},
    {"flash.events::ProgressEvent", "SOCKET_DATA", Member::kConst, nullptr, "socketData"},
    {"flash.events::ProgressEvent", "bytesLoaded", Member::kGetter, EvBytesLoaded},
    {"flash.events::ProgressEvent", "bytesTotal", Member::kGetter, EvBytesTotal},
    {"flash.events::ProgressEvent", "bytesLoaded", Member::kSetter, EvSetBytesLoaded},
    {"flash.events::ProgressEvent", "bytesTotal", Member::kSetter, EvSetBytesTotal},
    {"flash.events::NetStatusEvent", "info", Member::kGetter, NetStatusInfo},
    {"flash.events::FocusEvent", "relatedObject", Member::kGetter, MeRelated},
    {"flash.events::FocusEvent", "shiftKey", Member::kGetter, ReturnFalse},
    {"flash.events::FocusEvent", "keyCode", Member::kGetter, KeKeyCode},
    {"flash.events::NetStatusEvent", "NET_STATUS", Member::kConst, nullptr, "netStatus"},
    {"flash.utils::Timer", "start", Member::kMethod, TimerStart},
    {"flash.utils::Timer", "stop", Member::kMethod, TimerStop},
    {"flash.utils::Timer", "reset", Member::kMethod, TimerReset},
    {"flash.utils::Timer", "running", Member::kGetter, TimerRunning},
    {"flash.utils::Timer", "currentCount", Member::kGetter, TimerCount},
    {"flash.utils::Timer", "delay", Member::kGetter, TimerDelay},
    {"flash.utils::Timer", "delay", Member::kSetter, TimerSetDelay},
    {"flash.utils::Timer", "repeatCount", Member::kGetter, TimerRepeat},
    {"flash.utils::Timer", "repeatCount", Member::kSetter, TimerSetRepeat},
};

constexpr ClassRow kEventClasses[] = {
    {"flash.events", "IEventDispatcher"},
    {"flash.events", "EventDispatcher", "", Alloc<FlashObject>, EdCtor, false, &As3Display::dispatcherClass},
    {"flash.events", "Event", "", Alloc<EventObject>, EvCtor, false, &As3Display::eventClass},
    {"flash.events", "MouseEvent", "flash.events::Event", nullptr, MeCtor, false, &As3Display::mouseEventClass},
    {"flash.events", "TimerEvent", "flash.events::Event", nullptr, nullptr, false, &As3Display::timerEventClass},
    {"flash.events", "KeyboardEvent", "flash.events::Event", nullptr, KeCtor, false, &As3Display::keyboardEventClass},
    {"flash.events", "TextEvent", "flash.events::Event", nullptr, TextEventCtor},
    {"flash.events", "ErrorEvent", "flash.events::TextEvent"},
    {"flash.events", "IOErrorEvent", "flash.events::ErrorEvent"},
    {"flash.events", "SecurityErrorEvent", "flash.events::ErrorEvent"},
    {"flash.events", "AsyncErrorEvent", "flash.events::ErrorEvent"},
    {"flash.events", "ProgressEvent", "flash.events::Event", nullptr, ProgressEventCtor},
    {"flash.events", "NetStatusEvent", "flash.events::Event", nullptr, NetStatusCtor},
    {"flash.events", "FocusEvent", "flash.events::Event", nullptr, FocusEvCtor},
    {"flash.events", "HTTPStatusEvent", "flash.events::Event", nullptr, HttpStatusCtor},
    {"flash.events", "NetFilterEvent", "flash.events::Event", nullptr, NetFilterCtor},
    {"flash.events", "SampleDataEvent", "flash.events::Event", nullptr, SampleDataCtor},
    {"flash.utils", "Timer", "flash.events::EventDispatcher", Alloc<TimerObject>, TimerCtor},
};

constexpr std::string_view kDispatcherMethods[] = {"addEventListener", "removeEventListener", "dispatchEvent",
                                                   "hasEventListener", "willTrigger"};

void InstallEvents(As3Display& b) {
  const std::span<const ClassRow> rows(kEventClasses);
  Register(b, rows.first(2), kEventRows);
  // Before the subclasses copy EventDispatcher's members.
  Class* iface = b.m.FindClass("flash.events::IEventDispatcher");
  b.m.DeclareInterfaceMethods(iface, kDispatcherMethods);
  b.m.ImplementInterface(b.dispatcherClass, iface);
  Register(b, rows.subspan(2), kEventRows);
}
}  // namespace quarvel::player::as3
