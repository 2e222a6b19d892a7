#pragma once
// What the files of the ActionScript 3 Flash classes share: the binding
// (As3Display) that the stage calls, the objects it makes for scripts, and
// the tables by which each family of classes registers its members.

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "player/avm2/builtins_util.h"
#include "player/render/bitmap_data.h"
#include "player/as3/flash_api.h"
#include "player/as3/native_object.h"
#include "player/library/mp3_sound.h"
#include "player/as3/text_binding.h"
#include "player/display/drawing.h"
#include "player/render/drawn_items.h"
#include "player/library/image_decoder.h"
#include "player/library/load_path.h"
#include "player/library/movie_library.h"
#include "player/display/net_stream.h"
#include "player/render/paint.h"
#include "player/render/pixel_shader.h"
#include "player/render/renderer.h"
#include "player/display/stage.h"

namespace quarvel::player::as3 {


using avm2::Class;
using avm2::Machine;
using avm2::Object;
using avm2::ObjectKind;
using avm2::Value;

struct Listener {
  std::string type;
  Value fn;
  bool capture = false;
  int priority = 0;
};

// An EventDispatcher of the Flash classes: display objects hold their node's
// handle; loaders, sounds and channels keep their fields here too. Each
// kind below is its own type, reached through As<T> (native_object.h).
struct FlashObject : NativeBase {
  explicit FlashObject(NativeKind k = NativeKind::kDispatcher) : NativeBase(k) {}
  static bool Holds(NativeKind k) { return k <= NativeKind::kLastDispatcher; }
  ClipHandle handle = kNoClip;
  std::vector<Listener> listeners;
  std::map<int, Value> frameScripts;
  // Sound: its class name (linked sounds)
  std::string type;
  // InteractiveObject, DisplayObjectContainer and Sprite
  bool mouseEnabled = true, mouseChildren = true, buttonMode = false, useHandCursor = true;
  // Loads: URLLoader's data and dataFormat, Loader's contentLoaderInfo,
  // LoaderInfo's content and loader; a loader's error text or content type.
  Value data, content, info, owner;
  std::string format = "text", url, message;
  double bytesLoaded = 0, bytesTotal = 0;
  // Sound and SoundChannel: the library sound, its length; a channel's start and end.
  int soundId = 0;
  double soundMs = 0, startedMs = 0, endsMs = 0, fromMs = 0;
  // TextField: restrict and styleSheet (the field itself is its node's)
  Value fieldSlots[2];
  Value filters;  // the array last set as filters
  Value bitmapData;  // Bitmap: the BitmapData shown
  // DisplayObject's third dimension, as scripts set it.
  double z = 0, rotationX = 0, rotationY = 0, scaleZ = 1;
  // SimpleButton made by a script: its up, over, down and hit-test states.
  Value states[4];
  bool buttonEnabled = true, trackAsMenu = false;
  // InteractiveObject: tabIndex, focusRect and contextMenu as scripts set them.
  int tabIndex = -1;
  Value focusRect, contextMenu;
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    h.Mark(filters);
    h.Mark(bitmapData);
    h.Mark(fieldSlots[0]);
    h.Mark(fieldSlots[1]);
    for (const Value& s : states) h.Mark(s);
    for (auto& l : listeners) h.Mark(l.fn);
    for (auto& [f, fn] : frameScripts) h.Mark(fn);
    h.Mark(data);
    h.Mark(content);
    h.Mark(info);
    h.Mark(owner);
    h.Mark(focusRect);
    h.Mark(contextMenu);
  }
};

// A dispatcher of one kind, with nothing of its own beyond FlashObject's.
template <NativeKind kKind>
struct DispatcherOf : FlashObject {
  DispatcherOf() : FlashObject(kKind) {}
  static bool Holds(NativeKind k) { return k == kKind; }
};
using DisplayObj = DispatcherOf<NativeKind::kDisplayObject>;
using SoundObject = DispatcherOf<NativeKind::kSound>;
using ChannelObject = DispatcherOf<NativeKind::kSoundChannel>;
using LoaderInfoObject = DispatcherOf<NativeKind::kLoaderInfo>;
using UrlLoaderObject = DispatcherOf<NativeKind::kUrlLoader>;

struct TimerObject : FlashObject {
  TimerObject() : FlashObject(NativeKind::kTimer) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kTimer; }
  double delay = 0, due = 0;
  int repeat = 0, count = 0;
  bool running = false;
};

struct NetConnectionObject : FlashObject {
  NetConnectionObject() : FlashObject(NativeKind::kNetConnection) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kNetConnection; }
  bool connected = false;
};

// NetStream: the file it plays (shared with the videos showing it); client.
struct NetStreamObject : FlashObject {
  NetStreamObject() : FlashObject(NativeKind::kNetStream) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kNetStream; }
  std::shared_ptr<NetStreamPlayback> stream;
  Value client;
  void Trace(avm2::Heap& h) override {
    FlashObject::Trace(h);
    h.Mark(client);
  }
};

struct EventObject : NativeBase {
  EventObject() : NativeBase(NativeKind::kEvent) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kEvent; }
  std::string type;
  bool bubbles = false, cancelable = false, stop = false, stopNow = false, prevented = false;
  Value target, currentTarget;
  int phase = 0;
  double stageX = 0, stageY = 0, localX = 0, localY = 0;
  Value related;  // MouseEvent.relatedObject
  bool buttonDown = false;
  std::uint32_t keyCode = 0, charCode = 0;
  std::string message;                  // TextEvent's text, ErrorEvent's
  double bytesLoaded = 0, bytesTotal = 0;  // ProgressEvent
  Value info;                           // NetStatusEvent
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    h.Mark(target);
    h.Mark(currentTarget);
    h.Mark(related);
    h.Mark(info);
  }
};

// BitmapData: its picture (shared by the Bitmaps that show it), and the
// Bitmaps showing it, which get a new definition after a change so that
// the next paint draws it again.
struct BitmapDataObject : NativeBase {
  BitmapDataObject() : NativeBase(NativeKind::kBitmapData) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kBitmapData; }
  std::shared_ptr<BitmapDef> bitmap;
  bool transparent = true, changed = false;
  std::vector<ClipHandle> shownBy;
};

// Graphics and Transform: views of a display object's node.
template <NativeKind kKind>
struct NodeView : NativeBase {
  NodeView() : NativeBase(kKind) {}
  static bool Holds(NativeKind k) { return k == kKind; }
  ClipHandle handle = kNoClip;
};
using GraphicsObject = NodeView<NativeKind::kGraphics>;
using TransformObject = NodeView<NativeKind::kTransform>;

// Shader: its kernel; data (ShaderData) and content (byteCode).
struct ShaderObject : NativeBase {
  ShaderObject() : NativeBase(NativeKind::kShader) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kShader; }
  std::shared_ptr<const PixelShader> shader;
  Value data, content;
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    h.Mark(data);
    h.Mark(content);
  }
};

constexpr int kScriptDepthBase = 16384;

// What a pick found under the pointer: an object that takes it, or a hit on
// content whose object does not (a shape, or mouseEnabled false), which its
// container takes when it can.
struct Pick {
  enum Kind { kMiss, kHit, kToParent } kind = kMiss;
  ClipHandle target = kNoClip;
};


class As3Display : public ScriptHooks {
 public:
  explicit As3Display(Stage& stage);
  ~As3Display() override = default;

  void Placed(Instance& inst) override;
  void FrameEntered(TimelineState& tl) override;
  void BeforeFrame() override;
  void AfterFrame() override;
  void TimelinesAdvanced() override;
  void Pointer(double x, double y, bool down) override;
  void Key(bool down, int keyCode, int charCode) override;
  bool HandCursor() const override { return handCursor; }

  Stage& stage;
  const MovieLibrary& lib;
  Machine m;
  TimelineState limbo;  // objects made by scripts and not on a display list
  int limboDepth = 0;
  std::unordered_map<ClipHandle, FlashObject*> objects;
  std::map<std::uint16_t, std::string> symbolClasses;
  std::map<std::string, std::uint16_t> classSymbols;
  // Movies a Loader loaded: their definitions, the classes linked to them,
  // their symbols by class name, and the nodes their main timelines play in.
  std::set<const Character*> loadedDefs;
  std::map<const Character*, std::string> loadedClasses;
  std::map<std::string, std::pair<const MovieLibrary*, std::uint16_t>> loadedSymbols;
  std::set<ClipHandle> loadedRoots;
  std::vector<ClipHandle> constructQueue, scriptQueue;
  std::vector<FlashObject*> frameListeners;  // enterFrame, exitFrame, frameConstructed
  std::vector<TimerObject*> timers;
  EditTextDef scriptFieldDef;  // what script-made text fields are instances of
  std::vector<const FontDef*> registeredFonts;
  // Every picture a Bitmap showed: nodes keep plain pointers to them.
  std::deque<std::shared_ptr<BitmapDef>> bitmapDefs;
  std::vector<BitmapDataObject*> changedBitmaps;
  std::size_t bitmapBytes = 0;
  FlashObject* stageObject = nullptr;
  ShapeDef emptyShape;  // what an empty Bitmap shows
  bool rootConstructed = false;
  bool flushing = false;
  // The pointer as scripts saw it last: the object under it, the one pressed,
  // the button; the object keys go to; stage.invalidate() asked for RENDER.
  ClipHandle overTarget = kNoClip, pressTarget = kNoClip;
  bool pointerDown = false, pointerSeen = false, handCursor = false, invalidated = false;
  double pointerX = 0, pointerY = 0;
  Value focus;
  // Loads: asked for this frame, due at the end of the next; the movie's own LoaderInfo.
  struct Load {
    Value by;  // the URLLoader, or the Loader's LoaderInfo
    std::string url;
    std::string bytes;  // loadBytes: the data itself
    bool fromBytes = false;
  };
  std::vector<Load> loads, dueLoads;
  std::vector<FlashObject*> channels;  // playing sounds, for SOUND_COMPLETE
  std::vector<NetStreamObject*> streams;   // NetStreams, following the clock
  std::deque<std::unique_ptr<VideoDef>> videoDefs;  // what script-made Videos show
  int nextStream = 1;
  FlashObject* rootInfo = nullptr;
  bool rootInfoSent = false;
  Class *dispatcherClass = nullptr, *displayObjectClass = nullptr, *containerClass = nullptr, *spriteClass = nullptr, *movieClipClass = nullptr,
        *shapeClass = nullptr, *graphicsClass = nullptr, *eventClass = nullptr, *mouseEventClass = nullptr,
        *timerEventClass = nullptr, *stageClass = nullptr, *textFieldClass = nullptr, *staticTextClass = nullptr,
        *buttonClass = nullptr, *bitmapClass = nullptr, *morphClass = nullptr, *transformClass = nullptr,
        *pointClass = nullptr, *rectangleClass = nullptr, *matrixClass = nullptr, *colorTransformClass = nullptr,
        *frameLabelClass = nullptr, *textFormatClass = nullptr, *keyboardEventClass = nullptr, *interactiveClass = nullptr, *videoClass = nullptr;

  // ---- nodes and objects
  Instance* Node(ClipHandle h) { return h == kNoClip ? nullptr : stage.Find(h); }
  TimelineState* Timeline(ClipHandle h) { return h == kNoClip ? nullptr : stage.TimelineOf(h); }
  // The list holding a node: its parent's timeline or the off-list one.
  TimelineState* ListOf(const Instance& inst) {
    if (inst.parent == kNoClip) return &limbo;
    return stage.TimelineOf(inst.parent);
  }
  bool OnStage(ClipHandle h) {
    for (int guard = 0; guard < 10000; ++guard) {
      if (h == kRootClip) return true;
      Instance* i = Node(h);
      if (!i) return false;
      h = i->parent;
    }
    return false;
  }
  // The class linked to a definition: a loaded movie's by the definition,
  // the main movie's by id.
  const std::string* LinkedClassName(const Character* def) {
    if (!def) return nullptr;
    if (loadedDefs.count(def)) {
      auto it = loadedClasses.find(def);
      return it == loadedClasses.end() ? nullptr : &it->second;
    }
    auto it = symbolClasses.find(def->id);
    return it == symbolClasses.end() || def->id == 0 ? nullptr : &it->second;
  }
  // The symbol a class (or the nearest of its bases) is linked to, in the
  // main movie or a loaded one; the library is null when there is none.
  std::pair<const MovieLibrary*, std::uint16_t> SymbolOf(const Class* cls) {
    for (const Class* c = cls; c; c = c->super) {
      for (const std::string& n : {c->QualifiedName(), c->name}) {
        if (auto it = classSymbols.find(n); it != classSymbols.end()) return {&lib, it->second};
        if (auto it = loadedSymbols.find(n); it != loadedSymbols.end()) return it->second;
      }
    }
    return {nullptr, 0};
  }
  // The movie a Loader loaded that a node lies in: its main timeline's node.
  ClipHandle LoadedRootOf(ClipHandle h) {
    if (loadedRoots.empty()) return kNoClip;
    for (int guard = 0; guard < 10000 && h != kNoClip && h != kRootClip; ++guard) {
      if (loadedRoots.count(h)) return h;
      Instance* i = Node(h);
      if (!i) break;
      h = i->parent;
    }
    return kNoClip;
  }
  Class* ClassForNode(const Instance& inst) {
    if (inst.def) {
      if (const std::string* linked = LinkedClassName(inst.def))
        if (Class* c = m.FindClass(*linked)) return c;
      switch (inst.def->kind) {
        case Character::Kind::kSprite: return movieClipClass;
        case Character::Kind::kButton: return buttonClass;
        case Character::Kind::kEditText: return textFieldClass;
        case Character::Kind::kText: return staticTextClass;
        case Character::Kind::kBitmap: return bitmapClass;
        case Character::Kind::kMorph: return morphClass;
        case Character::Kind::kVideo: return videoClass;
        default: return shapeClass;
      }
    }
    return shapeClass;
  }
  FlashObject* ObjectFor(ClipHandle h) {
    if (h == kNoClip) return nullptr;
    auto it = objects.find(h);
    if (it != objects.end()) return it->second;
    if (h == kRootClip) {
      ConstructRoot();
      return objects[kRootClip];
    }
    Instance* inst = Node(h);
    if (!inst) return nullptr;
    return Construct(ClassForNode(*inst), h);
  }
  Value ValueFor(ClipHandle h) { return Value::Obj(ObjectFor(h)); }

  // Makes the object of a node and runs its class's constructor; `info` is
  // the LoaderInfo of a loaded movie's main timeline.
  FlashObject* Construct(Class* cls, ClipHandle h, Value info = Value()) {
    FlashObject* o = As<FlashObject>(Value::Obj(m.Instantiate(cls)));
    if (!o) {  // a class linked to a symbol that is no display object
      cls = movieClipClass;
      o = As<FlashObject>(Value::Obj(m.Instantiate(cls)));
    }
    o->handle = h;
    o->info = info;
    objects[h] = o;
    BindChildren(o);
    Class* c = cls;
    while (c && !c->iinit) c = c->super;
    if (c && c->unit) {
      m.SafeCall([&] { m.Invoke(c->iinit, Value::Obj(o), {}, c->iinit->scope); },
                 ("the constructor of " + cls->QualifiedName()).c_str());
    }
    return o;
  }
  void ConstructRoot() {
    if (rootConstructed) return;
    rootConstructed = true;
    Class* doc = nullptr;
    if (auto it = symbolClasses.find(0); it != symbolClasses.end()) doc = m.FindClass(it->second);
    Construct(doc ? doc : movieClipClass, kRootClip);
  }
  // Named timeline children become the values of the parent class's
  // properties of the same name.
  void BindChildren(FlashObject* o) {
    if (!o->cls || (!o->cls->unit && !o->dynamic)) return;
    TimelineState* tl = Timeline(o->handle);
    if (!tl) return;
    for (auto& [depth, child] : tl->list) {
      if (child.name.empty() || child.name.rfind("instance", 0) == 0) continue;
      avm2::Name n = m.NameFromString(child.name);
      if (!m.FindBinding(o->traits, n) && !o->dynamic) continue;
      const ClipHandle ch = child.serial;
      FlashObject* co = ObjectFor(ch);
      if (!co) continue;
      m.SafeCall([&] { m.SetProperty(Value::Obj(o), n, Value::Obj(co)); }, "binding a timeline child");
    }
  }

  void BindToParent(const Instance& child, FlashObject* co) {
    auto it = objects.find(child.parent);
    if (it == objects.end() || child.name.empty() || child.name.rfind("instance", 0) == 0) return;
    FlashObject* p = it->second;
    avm2::Name n = m.NameFromString(child.name);
    if (!m.FindBinding(p->traits, n) && !p->dynamic) return;
    m.SafeCall([&] { m.SetProperty(Value::Obj(p), n, Value::Obj(co)); }, "binding a timeline child");
  }

  // A node for an object a script made (new Sprite...).
  Instance* NewNode(const Character* def) {
    Instance* inst = stage.AdoptScriptNode(limbo, ++limboDepth, def);
    return inst;
  }

  // ---- events
  Value NewEvent(Class* cls, const std::string& type, bool bubbles) {
    const Value v = Value::Obj(m.Instantiate(cls));
    if (EventObject* e = As<EventObject>(v)) {
      e->type = type;
      e->bubbles = bubbles;
    }
    return v;
  }
  void Listen(FlashObject* o, const std::string& type) {
    if ((type == "enterFrame" || type == "exitFrame" || type == "frameConstructed" || type == "render") &&
        std::find(frameListeners.begin(), frameListeners.end(), o) == frameListeners.end()) {
      frameListeners.push_back(o);
    }
  }
  void CallListeners(FlashObject* o, EventObject* e, bool capture) {
    if (!e) return;
    std::vector<Listener> ls;
    for (auto& l : o->listeners)
      if (l.type == e->type && l.capture == capture) ls.push_back(l);
    std::stable_sort(ls.begin(), ls.end(), [](const Listener& a, const Listener& b) { return a.priority > b.priority; });
    e->currentTarget = Value::Obj(o);
    for (auto& l : ls) {
      Value arg = Value::Obj(e);
      m.SafeCall([&] { m.Call(l.fn, Value::Null(), std::span<Value>(&arg, 1)); }, ("a " + e->type + " listener").c_str());
      if (e->stopNow) break;
    }
  }
  // Capture from the root down, the target, then bubbling up.
  void Dispatch(FlashObject* target, EventObject* e) {
    if (!target || !e) return;
    e->target = Value::Obj(target);
    e->stop = e->stopNow = false;
    std::vector<FlashObject*> path;
    if (target->handle != kNoClip && !(target->cls && target->cls->IsSubclassOf(stageClass))) {
      ClipHandle h = target->handle;
      for (int guard = 0; guard < 1000 && h != kRootClip; ++guard) {
        Instance* i = Node(h);
        if (!i || i->parent == kNoClip) break;
        h = i->parent;
        if (auto it = objects.find(h); it != objects.end()) path.push_back(it->second);
      }
      // The stage is the parent of the root.
      if (stageObject && (h == kRootClip || target->handle == kRootClip)) path.push_back(stageObject);
    }
    e->phase = 1;
    for (auto it = path.rbegin(); it != path.rend() && !e->stop; ++it) CallListeners(*it, e, true);
    if (!e->stop) {
      e->phase = 2;
      CallListeners(target, e, false);
    }
    if (e->bubbles) {
      e->phase = 3;
      for (FlashObject* p : path) {
        if (e->stop) break;
        CallListeners(p, e, false);
      }
    }
    e->currentTarget = Value::Null();
  }
  void Broadcast(const std::string& type) {
    const auto list = frameListeners;
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
  void Added(ClipHandle h) {
    FlashObject* o = ObjectFor(h);
    if (!o) return;
    Value e = NewEvent(eventClass, "added", true);
    Dispatch(o, As<EventObject>(e));
    if (OnStage(h)) AddedToStage(h, 0);
  }
  // A timeline placed it (or it is the main timeline): ADDED, bubbling,
  // then ADDED_TO_STAGE on it alone, as its children had theirs.
  void AddedByTimeline(ClipHandle h) {
    auto it = objects.find(h);
    if (it == objects.end()) return;
    Value e = NewEvent(eventClass, "added", true);
    Dispatch(it->second, As<EventObject>(e));
    if (OnStage(h)) AddedToStage(h, kMaxSpriteNesting);
  }
  // Handles of the tree from `h` in display list order: parents first.
  void ListInOrder(ClipHandle h, std::unordered_map<ClipHandle, std::size_t>& order, int nesting) {
    order.emplace(h, order.size());
    TimelineState* tl = Timeline(h);
    if (!tl || nesting > kMaxSpriteNesting) return;
    for (auto& [depth, child] : tl->list)
      if (child.sprite) ListInOrder(child.serial, order, nesting + 1);
  }
  void AddedToStage(ClipHandle h, int depth) {
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
  void Removed(ClipHandle h) {
    auto it = objects.find(h);
    if (it == objects.end()) return;
    Value e = NewEvent(eventClass, "removed", true);
    Dispatch(it->second, As<EventObject>(e));
    if (OnStage(h)) {
      Value e2 = NewEvent(eventClass, "removedFromStage", false);
      Dispatch(it->second, As<EventObject>(e2));
    }
  }

  // ---- frames
  // Constructs the objects waiting, then (with `scripts`) runs the frame
  // scripts due, and again until nothing waits.
  void Flush(bool scripts = true) {
    if (flushing) return;
    flushing = true;
    std::unordered_map<ClipHandle, std::size_t> order;  // display list order, made when scripts are due
    std::size_t sorted = 0;  // the queue is in that order while it has this length
    for (int guard = 0; guard < 100000; ++guard) {
      if (!constructQueue.empty()) {
        const ClipHandle h = constructQueue.front();
        constructQueue.erase(constructQueue.begin());
        Instance* node = Node(h);
        if (!node) continue;
        const bool made = objects.count(h) != 0;
        FlashObject* o = ObjectFor(h);
        node = Node(h);
        if (o && node) BindToParent(*node, o);
        if (!made) AddedByTimeline(h);
        continue;
      }
      if (!rootConstructed) {
        ConstructRoot();
        AddedByTimeline(kRootClip);
        continue;
      }
      if (scripts && !scriptQueue.empty()) {
        // Frame scripts run parent first, children in depth order, as
        // the display list reads; scripts queued by these run after.
        if (order.empty()) ListInOrder(kRootClip, order, 0);
        if (sorted != scriptQueue.size()) {
          auto rank = [&](ClipHandle x) {
            const auto it = order.find(x);
            return it == order.end() ? order.size() : it->second;
          };
          std::stable_sort(scriptQueue.begin(), scriptQueue.end(),
                           [&](ClipHandle x, ClipHandle y) { return rank(x) < rank(y); });
        }
        const ClipHandle h = scriptQueue.front();
        scriptQueue.erase(scriptQueue.begin());
        sorted = scriptQueue.size();
        RunFrameScript(h);
        continue;
      }
      break;
    }
    flushing = false;
  }
  void RunFrameScript(ClipHandle h) {
    auto it = objects.find(h);
    TimelineState* tl = Timeline(h);
    if (it == objects.end() || !tl) return;
    auto fs = it->second->frameScripts.find(tl->current);
    if (fs == it->second->frameScripts.end()) return;
    const Value fn = fs->second;
    m.SafeCall([&] { m.Call(fn, Value::Obj(it->second), {}); }, "a frame script");
  }
  void RunTimers() {
    const double now = m.clockMs();
    const auto list = timers;
    for (TimerObject* t : list) {
      if (!t->running || t->due > now) continue;
      ++t->count;
      t->due = now + std::max(t->delay, 1.0);
      if (t->repeat > 0 && t->count >= t->repeat) t->running = false;
      Value e = NewEvent(timerEventClass, "timer", false);
      Dispatch(t, As<EventObject>(e));
      if (!t->running && t->repeat > 0 && t->count >= t->repeat) {
        Value done = NewEvent(timerEventClass, "timerComplete", false);
        Dispatch(t, As<EventObject>(done));
      }
    }
    std::erase_if(timers, [](TimerObject* t) { return !t->running; });
    m.RunTimers();
  }
  void Collect() {
    for (auto it = objects.begin(); it != objects.end();) {
      if (it->first != kRootClip && !Node(it->first)) it = objects.erase(it);
      else ++it;
    }
    // Off-list nodes nothing refers to any more are dropped with their objects.
    m.Collect();
  }

  void ShowChangedBitmaps();
  void Install();
  // The pointer and the keyboard.
  FlashObject* Existing(ClipHandle h) {
    auto it = objects.find(h);
    return it == objects.end() ? nullptr : it->second;
  }
  Pick PickIn(ClipHandle container, double x, double y, int nesting);
  FlashObject* PointerTarget(ClipHandle h);
  void SendMouse(FlashObject* target, const char* type, bool bubbles, FlashObject* related);
  std::vector<ClipHandle> InteractiveChain(ClipHandle h);
  // Loads.
  void FinishLoads();
  void FinishLoad(const Load& l);
  void SendSimple(FlashObject* to, const char* type);
  void SendIoError(FlashObject* to, const std::string& text);
  Value ContentFor(FlashObject* info, const std::string& bytes);
  // Sounds scripts loaded from MP3 files, as DefineSound bodies under ids
  // the movie's library leaves free (from the top down).
  std::deque<std::vector<std::uint8_t>> scriptSounds;
  std::string stageScaleMode, stageAlign;  // as the movie set them
  int nextSoundId = 65535;
  std::vector<std::uint8_t> NextScriptSoundBody(const std::string& mp3) {
    while (nextSoundId > 0 && (lib.Find(static_cast<std::uint16_t>(nextSoundId)) || lib.SoundLengthMs(nextSoundId) >= 0))
      --nextSoundId;
    if (nextSoundId <= 0) return {};
    int rate = 0;
    std::vector<std::uint8_t> body = Mp3AsDefineSound(static_cast<std::uint16_t>(nextSoundId), mp3, &rate);
    if (body.empty() && rate > 0) m.Skip("Sound.load of an MP3 at " + std::to_string(rate) + " Hz");
    if (!body.empty()) --nextSoundId;
    return body;
  }
  Value LoadedMovie(FlashObject* info, const std::string& bytes);
  void FinishSounds();
  void AdvanceStreams();
};

inline As3Display& B(Machine& m) { return *static_cast<As3Display*>(m.host); }

// Natives more than one family uses.
NATIVE(Noop);
NATIVE(ReturnNull);
NATIVE(ReturnFalse);
NATIVE(ReturnZero);
NATIVE(DoIgnore);
NATIVE(BytesLoaded);
NATIVE(BytesTotal);

// mouseEnabled, mouseChildren, buttonMode, useHandCursor
template <bool FlashObject::*Field>
Value IoGet(Machine&, Value self, std::span<Value>) {
  FlashObject* f = As<FlashObject>(self);
  return Value::Bool(f ? f->*Field : false);
}
template <bool FlashObject::*Field>
Value IoSet(Machine& m, Value self, std::span<Value> a) {
  if (FlashObject* f = As<FlashObject>(self)) f->*Field = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}

// One member of a Flash class as its family's table lists it: methods and
// accessors name their native; constants their string (or, without one, the
// whole number).
enum class Member : std::uint8_t { kMethod, kGetter, kSetter, kConst, kStaticMethod, kStaticGetter };
struct MemberRow {
  std::string_view cls = {};  // "flash.display::Sprite"
  std::string_view name = {};
  Member kind = Member::kMethod;
  avm2::NativeFn fn = nullptr;
  const char* text = nullptr;
  int number = 0;
};
// A class of a family: defined in table order, each right after its base
// (a subclass copies its base's members when it is defined), its members
// registered as soon as it is.
struct ClassRow {
  std::string_view package = {}, name = {};
  std::string_view super = {};  // qualified name; empty: Object
  avm2::NativeAlloc alloc = nullptr;
  avm2::NativeFn ctor = nullptr;
  bool dynamic = false;
  Class* As3Display::*slot = nullptr;  // where the binding keeps it, if it does
};
void Register(As3Display& b, std::span<const ClassRow> classes, std::span<const MemberRow> rows);

// What one family gives the others. Display objects (display_objects.cpp):
Instance* SelfNode(Machine& m, const Value& self);
TimelineState* SelfTimeline(Machine& m, const Value& self);
cairo_matrix_t World(As3Display& b, ClipHandle h);
std::int32_t Twips(double px);
NATIVE(DisplayObjectCtor);
NATIVE(DoGetVisible);
// Containers (containers.cpp):
void Attach(Machine& m, TimelineState& tl, ClipHandle h, std::size_t index);
void Detach(Machine& m, ClipHandle h, bool events);
std::vector<int> Keys(const TimelineState& tl);
// Graphics (graphics.cpp):
NATIVE(SpGetGraphics);
// Filters and shaders (filters.cpp):
NATIVE(DoGetFilters);
NATIVE(DoSetFilters);
NATIVE(DoSetBlendShader);
bool ToFilter(Machine& m, const Value& v, Filter& out);
// Geometry (geometry.cpp):
ColorTransform ScriptColorTransform(Machine& m, const Value& v);
double GetN(Machine& m, const Value& self, const char* n);
Value NewRect(Machine& m, double x, double y, double w, double h);
// Loading (loading.cpp):
NATIVE(DoGetLoaderInfo);
std::string RequestUrl(Machine& m, const Value& request);
void QueueLoad(Machine& m, FlashObject* by, std::string url, std::string bytes, bool fromBytes);

// Each family defines its classes and registers its table (in Install's order).
void InstallEvents(As3Display& b);
void InstallDisplayObjects(As3Display& b);
void InstallContainers(As3Display& b);
void InstallGraphics(As3Display& b);
void InstallStage(As3Display& b);
void InstallLoading(As3Display& b);
void InstallGeometry(As3Display& b);
void InstallMedia(As3Display& b);
void InstallFilters(As3Display& b);
void InstallBitmaps(As3Display& b);

}  // namespace quarvel::player::as3
