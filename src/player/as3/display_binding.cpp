#include "player/as3/display_binding.h"
#include "player/as3/guarded_hooks.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "player/avm2/builtins_util.h"
#include "player/render/bitmap_data.h"
#include "player/as3/flash_api.h"
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

namespace quarvel::player {
namespace {

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

// Every Flash object: display objects hold their node's handle; events,
// timers and text fields keep their fields here too.
struct FlashObject : avm2::Object {
  FlashObject() : Object(ObjectKind::kNative) {}
  ClipHandle handle = kNoClip;
  std::vector<Listener> listeners;
  std::map<int, Value> frameScripts;
  // Event
  std::string type;
  bool bubbles = false, cancelable = false, stop = false, stopNow = false, prevented = false;
  Value target, currentTarget;
  int phase = 0;
  double stageX = 0, stageY = 0, localX = 0, localY = 0;
  Value related;  // MouseEvent.relatedObject
  bool buttonDown = false;
  std::uint32_t keyCode = 0, charCode = 0;
  // InteractiveObject, DisplayObjectContainer and Sprite
  bool mouseEnabled = true, mouseChildren = true, buttonMode = false, useHandCursor = true;
  // Loads: URLLoader's data and dataFormat, Loader's contentLoaderInfo,
  // LoaderInfo's content and loader; text and sizes of error and progress
  // events; NetStatusEvent's info.
  Value data, content, info, owner;
  std::string format = "text", url, message;
  double bytesLoaded = 0, bytesTotal = 0;
  // Sound and SoundChannel: the library sound, its length; a channel's start and end.
  int soundId = 0;
  double soundMs = 0, startedMs = 0, endsMs = 0, fromMs = 0;
  // NetStream: the file it plays (shared with the videos showing it); client.
  std::shared_ptr<NetStreamPlayback> stream;
  std::shared_ptr<const PixelShader> shader;  // Shader: its kernel (data: ShaderData, content: byteCode)
  Value client;
  // Timer
  double delay = 0, due = 0;
  int repeat = 0, count = 0;
  bool running = false;
  // TextField: restrict and styleSheet (the field itself is its node's)
  Value fieldSlots[2];
  Value filters;  // the array last set as filters
  // BitmapData: its picture (shared by the Bitmaps that show it), and the
  // Bitmaps showing it, which get a new definition after a change so that
  // the next paint draws it again.
  std::shared_ptr<BitmapDef> bitmap;
  bool transparent = true, changed = false;
  std::vector<ClipHandle> shownBy;
  Value bitmapData;  // Bitmap: the BitmapData shown
  // DisplayObject's third dimension, as scripts set it.
  double z = 0, rotationX = 0, rotationY = 0, scaleZ = 1;
  // SimpleButton made by a script: its up, over, down and hit-test states.
  Value states[4];
  bool buttonEnabled = true, trackAsMenu = false;
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    h.Mark(filters);
    h.Mark(bitmapData);
    h.Mark(fieldSlots[0]);
    h.Mark(fieldSlots[1]);
    for (const Value& s : states) h.Mark(s);
    for (auto& l : listeners) h.Mark(l.fn);
    for (auto& [f, fn] : frameScripts) h.Mark(fn);
    h.Mark(target);
    h.Mark(currentTarget);
    h.Mark(related);
    h.Mark(data);
    h.Mark(content);
    h.Mark(info);
    h.Mark(owner);
    h.Mark(client);
  }
};

FlashObject* Fo(const Value& v) {
  Object* o = v.AsObject();
  return o && o->kind == ObjectKind::kNative ? static_cast<FlashObject*>(o) : nullptr;
}

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
  std::vector<FlashObject*> timers;
  EditTextDef scriptFieldDef;  // what script-made text fields are instances of
  std::vector<const FontDef*> registeredFonts;
  // Every picture a Bitmap showed: nodes keep plain pointers to them.
  std::deque<std::shared_ptr<BitmapDef>> bitmapDefs;
  std::vector<FlashObject*> changedBitmaps;
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
  std::vector<FlashObject*> streams;   // NetStreams, following the clock
  std::deque<std::unique_ptr<VideoDef>> videoDefs;  // what script-made Videos show
  int nextStream = 1;
  FlashObject* rootInfo = nullptr;
  bool rootInfoSent = false;
  Class *displayObjectClass = nullptr, *containerClass = nullptr, *spriteClass = nullptr, *movieClipClass = nullptr,
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
      if (const std::string* linked = LinkedClassName(inst.def)) {
        if (Class* c = m.FindClass(*linked)) {
          if (c->IsSubclassOf(displayObjectClass)) return c;
          // A class that is no display object cannot own a node: the node keeps its plain kind.
          m.Skip("a symbol linked to " + *linked + ", which is no display object");
        }
      }
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
    auto* o = static_cast<FlashObject*>(m.Instantiate(cls));
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
    if (doc && !doc->IsSubclassOf(spriteClass)) {
      // Flash reports it once the scripts have run, and the root stays a plain movie clip.
      m.Contain([&] {
        m.ReportUncaught(m.MakeError("TypeError", "Class " + doc->QualifiedName() + "$ must inherit from Sprite to link to the root.", 2023),
                         "the document class");
      }, "the document class");
      doc = nullptr;
    }
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
    auto* e = static_cast<FlashObject*>(m.Instantiate(cls));
    e->type = type;
    e->bubbles = bubbles;
    return Value::Obj(e);
  }
  void Listen(FlashObject* o, const std::string& type) {
    if ((type == "enterFrame" || type == "exitFrame" || type == "frameConstructed" || type == "render") &&
        std::find(frameListeners.begin(), frameListeners.end(), o) == frameListeners.end()) {
      frameListeners.push_back(o);
    }
  }
  void CallListeners(FlashObject* o, FlashObject* e, bool capture) {
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
  void Dispatch(FlashObject* target, FlashObject* e) {
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
      auto* ev = Fo(e);
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
    Dispatch(o, Fo(e));
    if (OnStage(h)) AddedToStage(h, 0);
  }
  // A timeline placed it (or it is the main timeline): ADDED, bubbling,
  // then ADDED_TO_STAGE on it alone, as its children had theirs.
  void AddedByTimeline(ClipHandle h) {
    auto it = objects.find(h);
    if (it == objects.end()) return;
    Value e = NewEvent(eventClass, "added", true);
    Dispatch(it->second, Fo(e));
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
      Dispatch(it->second, Fo(e));
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
    Dispatch(it->second, Fo(e));
    if (OnStage(h)) {
      Value e2 = NewEvent(eventClass, "removedFromStage", false);
      Dispatch(it->second, Fo(e2));
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
    for (FlashObject* t : list) {
      if (!t->running || t->due > now) continue;
      ++t->count;
      t->due = now + std::max(t->delay, 1.0);
      if (t->repeat > 0 && t->count >= t->repeat) t->running = false;
      Value e = NewEvent(timerEventClass, "timer", false);
      Dispatch(t, Fo(e));
      if (!t->running && t->repeat > 0 && t->count >= t->repeat) {
        Value done = NewEvent(timerEventClass, "timerComplete", false);
        Dispatch(t, Fo(done));
      }
    }
    std::erase_if(timers, [](FlashObject* t) { return !t->running; });
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

void As3Display::ShowChangedBitmaps() {
  const auto list = changedBitmaps;
  changedBitmaps.clear();
  for (FlashObject* bd : list) {
    bd->changed = false;
    if (!bd->bitmap) continue;
    // A new definition with the same picture: the drawn list differs, so
    // the next paint draws the new pixels.
    auto fresh = std::make_shared<BitmapDef>();
    fresh->width = bd->bitmap->width;
    fresh->height = bd->bitmap->height;
    fresh->surface.reset(cairo_surface_reference(bd->bitmap->surface.get()));
    bd->bitmap = fresh;
    bitmapDefs.push_back(fresh);
    for (ClipHandle h : bd->shownBy)
      if (Instance* i = Node(h); i && i->def && i->def->kind == Character::Kind::kBitmap) i->def = fresh.get();
  }
}

As3Display& B(Machine& m) { return *static_cast<As3Display*>(m.host); }

// ---- natives: DisplayObject

Instance* SelfNode(Machine& m, const Value& self) {
  FlashObject* f = Fo(self);
  return f ? B(m).Node(f->handle) : nullptr;
}
TimelineState* SelfTimeline(Machine& m, const Value& self) {
  FlashObject* f = Fo(self);
  return f ? B(m).Timeline(f->handle) : nullptr;
}

NATIVE(DisplayObjectCtor) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (!f || f->handle != kNoClip) return self;
  // A class linked to a symbol makes that symbol's clip.
  const Character* def = &b.stage.EmptySprite();
  if (const auto [symbols, id] = b.SymbolOf(f->cls); symbols)
    if (const Character* d = symbols->Find(id)) def = d;
  const bool field = f->cls->IsSubclassOf(b.textFieldClass);
  if (field) def = &b.scriptFieldDef;
  Instance* inst = b.NewNode(def);
  if (!inst) m.ThrowError("Error", "Too many display objects.", 1000);
  if (field) MakeTextFieldOf(*inst, b.lib, true);
  f->handle = inst->serial;
  b.objects[f->handle] = f;
  b.BindChildren(f);
  return self;
}

Matrix& Mx(Machine& m, const Value& self, Instance*& inst) {
  inst = SelfNode(m, self);
  static Matrix dummy;
  if (!inst) {
    dummy = Matrix{};
    return dummy;
  }
  return inst->matrix;
}
double ScaleX(const Matrix& mx) { return std::sqrt(mx.scaleX * mx.scaleX + mx.rotateSkew0 * mx.rotateSkew0); }
double ScaleY(const Matrix& mx) { return std::sqrt(mx.rotateSkew1 * mx.rotateSkew1 + mx.scaleY * mx.scaleY); }
double Rotation(const Matrix& mx) { return std::atan2(mx.rotateSkew0, mx.scaleX) * 180 / M_PI; }
void SetTransform(Matrix& mx, double sx, double sy, double rotDeg) {
  const double r = rotDeg * M_PI / 180;
  const double skew = std::atan2(-mx.rotateSkew1, mx.scaleY) - std::atan2(mx.rotateSkew0, mx.scaleX);
  mx.scaleX = sx * std::cos(r);
  mx.rotateSkew0 = sx * std::sin(r);
  mx.rotateSkew1 = -sy * std::sin(r + skew);
  mx.scaleY = sy * std::cos(r + skew);
}
double Finite(Machine& m, std::span<Value> a) {
  const double d = avm2::ArgNum(m, a, 0, 0);
  return std::isfinite(d) ? d : 0;
}
std::int32_t Twips(double px) { return static_cast<std::int32_t>(std::lround(std::clamp(px * 20, -2e9, 2e9))); }

NATIVE(DoGetX) { Instance* i; return Value::Number(Mx(m, self, i).translateX / 20.0); }
NATIVE(DoGetY) { Instance* i; return Value::Number(Mx(m, self, i).translateY / 20.0); }
NATIVE(DoSetX) {
  Instance* i;
  Matrix& mx = Mx(m, self, i);
  mx.translateX = Twips(Finite(m, a));
  if (i) i->scripted = true;
  return Value();
}
NATIVE(DoSetY) {
  Instance* i;
  Matrix& mx = Mx(m, self, i);
  mx.translateY = Twips(Finite(m, a));
  if (i) i->scripted = true;
  return Value();
}
NATIVE(DoGetScaleX) { Instance* i; return Value::Number(ScaleX(Mx(m, self, i))); }
NATIVE(DoGetScaleY) { Instance* i; return Value::Number(ScaleY(Mx(m, self, i))); }
NATIVE(DoGetRotation) { Instance* i; return Value::Number(Rotation(Mx(m, self, i))); }
NATIVE(DoSetScaleX) {
  Instance* i;
  Matrix& mx = Mx(m, self, i);
  SetTransform(mx, Finite(m, a), ScaleY(mx), Rotation(mx));
  if (i) i->scripted = true;
  return Value();
}
NATIVE(DoSetScaleY) {
  Instance* i;
  Matrix& mx = Mx(m, self, i);
  SetTransform(mx, ScaleX(mx), Finite(m, a), Rotation(mx));
  if (i) i->scripted = true;
  return Value();
}
NATIVE(DoSetRotation) {
  Instance* i;
  Matrix& mx = Mx(m, self, i);
  double r = std::fmod(Finite(m, a), 360);
  if (r > 180) r -= 360;
  if (r < -180) r += 360;
  SetTransform(mx, ScaleX(mx), ScaleY(mx), r);
  if (i) i->scripted = true;
  return Value();
}
NATIVE(DoGetAlpha) {
  Instance* i = SelfNode(m, self);
  return Value::Number(i ? i->cxform.alphaMult / 256.0 : 1.0);
}
NATIVE(DoSetAlpha) {
  if (Instance* i = SelfNode(m, self)) {
    i->cxform.alphaMult = static_cast<std::int32_t>(std::lround(std::clamp(Finite(m, a), -128.0, 128.0) * 256));
    i->scripted = true;
  }
  return Value();
}
NATIVE(DoGetVisible) {
  Instance* i = SelfNode(m, self);
  return Value::Bool(!i || i->visible);
}
NATIVE(DoSetVisible) {
  if (Instance* i = SelfNode(m, self)) i->visible = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
NATIVE(DoGetCacheAsBitmap) {
  Instance* i = SelfNode(m, self);
  return Value::Bool(i && (i->cacheAsBitmap || !i->filters.empty()));
}
NATIVE(DoSetCacheAsBitmap) {
  if (Instance* i = SelfNode(m, self)) i->cacheAsBitmap = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
// scrollRect: the object shows that rectangle of its own space at its origin.
NATIVE(DoGetScrollRect) {
  Instance* i = SelfNode(m, self);
  if (!i || !i->scrollRect) return Value::Null();
  const auto& r = *i->scrollRect;
  Value args[] = {Value::Number(r[0]), Value::Number(r[1]), Value::Number(r[2]), Value::Number(r[3])};
  return Value::Obj(m.Construct(B(m).rectangleClass, args));
}
NATIVE(DoSetScrollRect) {
  Instance* i = SelfNode(m, self);
  if (!i) return Value();
  const Value r = m.ArgOr(a, 0);
  if (!r.IsObject()) {
    i->scrollRect.reset();
    return Value();
  }
  const double x = m.ToNumber(m.GetProperty(r, "x")), y = m.ToNumber(m.GetProperty(r, "y"));
  const double w = m.ToNumber(m.GetProperty(r, "width")), h = m.ToNumber(m.GetProperty(r, "height"));
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) {
    i->scrollRect.reset();
    return Value();
  }
  i->scrollRect = std::array<double, 4>{x, y, std::max(0.0, w), std::max(0.0, h)};
  return Value();
}
// opaqueBackground: null, or the RGB filled under the object's bounds.
NATIVE(DoGetOpaque) {
  Instance* i = SelfNode(m, self);
  if (!i || !i->opaqueBackground) return Value::Null();
  return Value::Number(static_cast<double>(*i->opaqueBackground & 0xFFFFFF));
}
NATIVE(DoSetOpaque) {
  Instance* i = SelfNode(m, self);
  if (!i) return Value();
  const Value v = m.ArgOr(a, 0);
  if (v.IsNullish()) i->opaqueBackground.reset();
  else i->opaqueBackground = m.ToUint(v) & 0xFFFFFF;
  return Value();
}
cairo_matrix_t World(As3Display& b, ClipHandle h);
// Flash's default perspective: a 55 degree field of view about the stage's
// centre, here brought into the parent's space where the object is drawn.
void Update3D(As3Display& b, FlashObject* f) {
  Instance* i = b.Node(f->handle);
  if (!i) return;
  if (f->z == 0 && f->rotationX == 0 && f->rotationY == 0 && f->scaleZ == 1) {
    i->depth3D.reset();
    return;
  }
  const auto& size = b.lib.movie.header.frameSize;
  double cx = size.Width() / 2.0, cy = size.Height() / 2.0;
  const double focal = size.Width() / 2.0 / std::tan(27.5 * M_PI / 180);
  cairo_matrix_t w = World(b, i->parent), inv = w;
  if (cairo_matrix_invert(&inv) == CAIRO_STATUS_SUCCESS) cairo_matrix_transform_point(&inv, &cx, &cy);
  const double scale = std::sqrt(std::abs(w.xx * w.yy - w.xy * w.yx));
  i->depth3D = Depth3D{f->z * 20, f->rotationX, f->rotationY, f->scaleZ, cx, cy, focal / (scale > 1e-9 ? scale : 1)};
}
// z, rotationX, rotationY and scaleZ: drawn through the perspective above.
template <double FlashObject::*kField>
Value DoGet3D(Machine&, Value self, std::span<Value>) {
  FlashObject* f = Fo(self);
  return Value::Number(f ? f->*kField : 0);
}
template <double FlashObject::*kField>
Value DoSet3D(Machine& m, Value self, std::span<Value> a) {
  FlashObject* f = Fo(self);
  if (!f) return Value();
  const double v = m.ToNumber(m.ArgOr(a, 0));
  if (!std::isfinite(v)) return Value();
  f->*kField = v;
  Update3D(B(m), f);
  return Value();
}
NATIVE(DoGetName) {
  FlashObject* f = Fo(self);
  if (f && f->handle == kRootClip) return m.Str("root1");
  Instance* i = SelfNode(m, self);
  return i ? m.Str(i->name) : Value::Null();
}
NATIVE(DoSetName) {
  if (Instance* i = SelfNode(m, self)) i->name = avm2::ArgStr(m, a, 0, "");
  return Value();
}
NATIVE(DoGetParent) {
  FlashObject* f = Fo(self);
  if (!f || f->handle == kRootClip) return f && f->handle == kRootClip && B(m).stageObject ? Value::Obj(B(m).stageObject) : Value::Null();
  Instance* i = SelfNode(m, self);
  if (!i || i->parent == kNoClip) return Value::Null();
  return B(m).ValueFor(i->parent);
}
NATIVE(DoGetStage) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (!f || !b.OnStage(f->handle)) return Value::Null();
  return Value::Obj(b.stageObject);
}
NATIVE(DoGetRoot) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  // In a movie a Loader loaded, its own main timeline.
  if (f)
    if (const ClipHandle r = b.LoadedRootOf(f->handle); r != kNoClip) return b.ValueFor(r);
  if (!f || !b.OnStage(f->handle)) return Value::Null();
  return b.ValueFor(kRootClip);
}
bool NodeBounds(Machine& m, const Value& self, Rect& r, bool local) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (!f) return false;
  if (f->handle == kRootClip) {
    // The main timeline: the union of its children and drawing.
    TimelineState& root = b.stage.Root();
    bool any = false;
    for (auto& [d, c] : root.list) {
      Rect cr;
      if (!b.stage.Bounds(c, cr)) continue;
      if (!any) r = cr;
      r.xmin = std::min(r.xmin, cr.xmin), r.xmax = std::max(r.xmax, cr.xmax);
      r.ymin = std::min(r.ymin, cr.ymin), r.ymax = std::max(r.ymax, cr.ymax);
      any = true;
    }
    return any;
  }
  Instance* i = b.Node(f->handle);
  return i && b.stage.Bounds(*i, r, local);
}
NATIVE(DoGetWidth) {
  Rect r;
  return Value::Number(NodeBounds(m, self, r, false) ? r.Width() / 20.0 : 0);
}
NATIVE(DoGetHeight) {
  Rect r;
  return Value::Number(NodeBounds(m, self, r, false) ? r.Height() / 20.0 : 0);
}
void SetSize(Machine& m, const Value& self, double v, bool width) {
  Instance* i = SelfNode(m, self);
  Rect local;
  if (!i || !std::isfinite(v) || !B(m).stage.Bounds(*i, local, true)) return;
  const double extent = (width ? local.Width() : local.Height()) / 20.0;
  if (extent <= 0) return;
  Matrix& mx = i->matrix;
  const double rot = Rotation(mx);
  if (width) SetTransform(mx, v / extent, ScaleY(mx), rot);
  else SetTransform(mx, ScaleX(mx), v / extent, rot);
  i->scripted = true;
}
NATIVE(DoSetWidth) {
  SetSize(m, self, avm2::ArgNum(m, a, 0, 0), true);
  return Value();
}
NATIVE(DoSetHeight) {
  SetSize(m, self, avm2::ArgNum(m, a, 0, 0), false);
  return Value();
}
NATIVE(DoGetBounds) {
  Rect r;
  const bool any = NodeBounds(m, self, r, true);
  As3Display& b = B(m);
  Value args[4] = {Value::Number(any ? r.xmin / 20.0 : 0), Value::Number(any ? r.ymin / 20.0 : 0),
                   Value::Number(any ? r.Width() / 20.0 : 0), Value::Number(any ? r.Height() / 20.0 : 0)};
  // Bounds in the object's own space, offset by its position when asked for its parent's.
  if (Instance* i = SelfNode(m, self); i && !a.empty() && a[0].AsObject() != self.AsObject()) {
    Rect pr;
    if (b.stage.Bounds(*i, pr, false)) {
      args[0] = Value::Number(pr.xmin / 20.0), args[1] = Value::Number(pr.ymin / 20.0);
      args[2] = Value::Number(pr.Width() / 20.0), args[3] = Value::Number(pr.Height() / 20.0);
    }
  }
  return Value::Obj(m.Construct(b.rectangleClass, args));
}
// The world transform of a node (its own and its ancestors'), twips.
cairo_matrix_t World(As3Display& b, ClipHandle h) {
  cairo_matrix_t w;
  cairo_matrix_init_identity(&w);
  for (int guard = 0; guard < 1000 && h != kRootClip && h != kNoClip; ++guard) {
    Instance* i = b.Node(h);
    if (!i) break;
    const cairo_matrix_t own = ToCairo(i->matrix);
    cairo_matrix_t out;
    cairo_matrix_multiply(&out, &w, &own);
    w = out;
    h = i->parent;
  }
  return w;
}
NATIVE(DoLocalToGlobal) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  double x = m.ToNumber(m.GetProperty(m.ArgOr(a, 0), "x")) * 20, y = m.ToNumber(m.GetProperty(m.ArgOr(a, 0), "y")) * 20;
  if (f) {
    const cairo_matrix_t w = World(b, f->handle);
    cairo_matrix_transform_point(&w, &x, &y);
  }
  Value args[2] = {Value::Number(x / 20), Value::Number(y / 20)};
  return Value::Obj(m.Construct(b.pointClass, args));
}
NATIVE(DoGlobalToLocal) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  double x = m.ToNumber(m.GetProperty(m.ArgOr(a, 0), "x")) * 20, y = m.ToNumber(m.GetProperty(m.ArgOr(a, 0), "y")) * 20;
  if (f) {
    cairo_matrix_t w = World(b, f->handle);
    if (cairo_matrix_invert(&w) == CAIRO_STATUS_SUCCESS) cairo_matrix_transform_point(&w, &x, &y);
  }
  Value args[2] = {Value::Number(x / 20), Value::Number(y / 20)};
  return Value::Obj(m.Construct(b.pointClass, args));
}
NATIVE(DoGetMouseX) { return Value::Int(0); }
// mouseX, mouseY: the pointer in the object's own space (the stage's for the stage), pixels.
template <bool kX>
Value DoMouse(Machine& m, Value self, std::span<Value>) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  double x = b.stage.PointerX(), y = b.stage.PointerY();
  if (f && f != b.stageObject && !b.stage.ToClipSpace(f->handle, x, y)) return Value::Int(0);
  return Value::Number((kX ? x : y) / 20.0);
}
NATIVE(DoGetMask) {
  Instance* i = SelfNode(m, self);
  return i && i->maskSerial ? B(m).ValueFor(i->maskSerial) : Value::Null();
}
NATIVE(DoSetMask) {
  As3Display& b = B(m);
  Instance* inst = SelfNode(m, self);
  if (!inst) return Value();
  // A masked pair no longer masks by clip depth.
  inst->clipDepth = 0;
  if (inst->maskSerial)
    if (Instance* old = b.Node(inst->maskSerial)) old->scriptMask = false;
  FlashObject* mo = Fo(m.ArgOr(a, 0));
  Instance* mask = mo ? b.Node(mo->handle) : nullptr;
  if (!mask || mask == inst) {
    inst->maskSerial = kNoClip;
    return Value();
  }
  mask->clipDepth = 0;
  inst->maskSerial = mask->serial;
  mask->scriptMask = true;
  return Value();
}
NATIVE(DoGetTransform) {
  auto* t = static_cast<FlashObject*>(m.Instantiate(B(m).transformClass));
  if (FlashObject* f = Fo(self)) t->handle = f->handle;
  return Value::Obj(t);
}
NATIVE(DoSetTransform) {
  Instance* i = SelfNode(m, self);
  FlashObject* t = Fo(m.ArgOr(a, 0));
  if (i && t) {
    if (Instance* src = B(m).Node(t->handle)) {
      i->matrix = src->matrix;
      i->cxform = src->cxform;
      i->scripted = true;
    }
  }
  return Value();
}
NATIVE(DoGetFilters) {
  FlashObject* f = Fo(self);
  avm2::ArrayObject* arr = f ? avm2::AsArray(f->filters) : nullptr;
  return Value::Obj(m.NewArray(arr ? arr->elems : std::vector<Value>{}));
}
swf::Rgba FilterColor(Machine& m, const Value& v, const char* color, const char* alpha) {
  const std::uint32_t c = m.ToUint(m.GetProperty(v, color));
  double al = m.ToNumber(m.GetProperty(v, alpha));
  if (std::isnan(al)) al = 1;
  return swf::Rgba{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c),
                   static_cast<std::uint8_t>(std::clamp(al, 0.0, 1.0) * 255 + 0.5)};
}
// A flash.filters object as the renderer's filter; false for kinds it lacks.
bool ToFilter(Machine& m, const Value& v, Filter& out) {
  Object* o = v.AsObject();
  if (!o || !o->cls) return false;
  const std::string kind = o->cls->name;
  auto num = [&](const char* n, double dflt) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return std::isfinite(d) ? d : dflt;
  };
  out.blurX = std::clamp(num("blurX", 4), 0.0, 255.0);
  out.blurY = std::clamp(num("blurY", 4), 0.0, 255.0);
  out.passes = std::clamp(static_cast<int>(num("quality", 1)), 0, 15);  // 0: no blur at all
  out.strength = std::clamp(num("strength", 1), 0.0, 255.0);
  out.inner = m.ToBoolean(m.GetProperty(v, "inner"));
  out.knockout = m.ToBoolean(m.GetProperty(v, "knockout"));
  out.angle = num("angle", 45) * M_PI / 180;
  out.distance = num("distance", 4);
  if (kind == "BlurFilter") {
    out.kind = Filter::Kind::kBlur;
  } else if (kind == "GlowFilter") {
    out.kind = Filter::Kind::kGlow;
    out.color = FilterColor(m, v, "color", "alpha");
  } else if (kind == "DropShadowFilter") {
    out.kind = Filter::Kind::kDropShadow;
    out.color = FilterColor(m, v, "color", "alpha");
    out.hideObject = m.ToBoolean(m.GetProperty(v, "hideObject"));
  } else if (kind == "BevelFilter") {
    out.kind = Filter::Kind::kBevel;
    out.color = FilterColor(m, v, "shadowColor", "shadowAlpha");
    out.highlight = FilterColor(m, v, "highlightColor", "highlightAlpha");
    const std::string type = m.ToString(m.GetProperty(v, "type"));
    out.inner = type != "outer";
    out.onTop = type == "full";
  } else if (kind == "ColorMatrixFilter") {
    out.kind = Filter::Kind::kColorMatrix;
    avm2::ArrayObject* arr = avm2::AsArray(m.GetProperty(v, "matrix"));
    if (!arr || arr->elems.size() < 20) return false;
    for (std::size_t i = 0; i < 20; ++i) out.matrix[i] = static_cast<float>(m.ToNumber(arr->elems[i]));
  } else if (kind == "GradientGlowFilter" || kind == "GradientBevelFilter") {
    out.kind = kind == "GradientGlowFilter" ? Filter::Kind::kGradientGlow : Filter::Kind::kGradientBevel;
    const std::string type = m.ToString(m.GetProperty(v, "type"));
    out.inner = type == "inner";
    out.onTop = type == "full";
    avm2::ArrayObject* colors = avm2::AsArray(m.GetProperty(v, "colors"));
    avm2::ArrayObject* alphas = avm2::AsArray(m.GetProperty(v, "alphas"));
    avm2::ArrayObject* ratios = avm2::AsArray(m.GetProperty(v, "ratios"));
    if (colors && alphas && ratios) {
      const std::size_t n = std::min({colors->elems.size(), alphas->elems.size(), ratios->elems.size(), std::size_t{16}});
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t c = m.ToUint(colors->elems[i]);
        double al = m.ToNumber(alphas->elems[i]);
        double ratio = m.ToNumber(ratios->elems[i]);
        if (!std::isfinite(al)) al = 0;
        if (!std::isfinite(ratio)) ratio = 0;
        out.gradient.emplace_back(static_cast<std::uint8_t>(std::clamp(ratio, 0.0, 255.0)),
                                  swf::Rgba{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                            static_cast<std::uint8_t>(c),
                                            static_cast<std::uint8_t>(std::clamp(al, 0.0, 1.0) * 255 + 0.5)});
      }
    }
  } else if (kind == "ConvolutionFilter") {
    out.kind = Filter::Kind::kConvolution;
    out.blurX = out.blurY = out.distance = 0;
    out.matrixX = std::clamp(static_cast<int>(num("matrixX", 0)), 0, 15);
    out.matrixY = std::clamp(static_cast<int>(num("matrixY", 0)), 0, 15);
    avm2::ArrayObject* arr = avm2::AsArray(m.GetProperty(v, "matrix"));
    for (std::size_t i = 0; i < static_cast<std::size_t>(out.matrixX * out.matrixY); ++i) {
      const double d = arr && i < arr->elems.size() ? m.ToNumber(arr->elems[i]) : 0;
      out.kernel.push_back(static_cast<float>(std::isfinite(d) ? d : 0));
    }
    out.divisor = static_cast<float>(num("divisor", 1));
    out.bias = static_cast<float>(num("bias", 0));
    out.preserveAlpha = m.ToBoolean(m.GetProperty(v, "preserveAlpha"));
    out.clamp = m.ToBoolean(m.GetProperty(v, "clamp"));
    out.defaultColor = FilterColor(m, v, "color", "alpha");
  } else {
    m.Skip("filter " + kind);
    return false;
  }
  return true;
}
NATIVE(DoSetFilters) {
  FlashObject* f = Fo(self);
  Instance* i = SelfNode(m, self);
  if (!f) return Value();
  avm2::ArrayObject* arr = avm2::AsArray(m.ArgOr(a, 0));
  f->filters = arr ? Value::Obj(m.NewArray(arr->elems)) : Value::Null();
  if (!i) return Value();
  i->filters.clear();
  if (arr)
    for (const Value& v : arr->elems) {
      Filter flt;
      if (ToFilter(m, v, flt)) i->filters.push_back(flt);
    }
  return Value();
}
// Filter objects: their arguments become named fields.
template <int kKind>
Value FilterCtor(Machine& m, Value self, std::span<Value> a) {
  static const std::vector<std::pair<const char*, double>> kFields[] = {
      {{"blurX", 4}, {"blurY", 4}, {"quality", 1}},
      {{"color", 0xFF0000}, {"alpha", 1}, {"blurX", 6}, {"blurY", 6}, {"strength", 2}, {"quality", 1}, {"inner", 0}, {"knockout", 0}},
      {{"distance", 4}, {"angle", 45}, {"color", 0}, {"alpha", 1}, {"blurX", 4}, {"blurY", 4}, {"strength", 1},
       {"quality", 1}, {"inner", 0}, {"knockout", 0}, {"hideObject", 0}},
      {{"distance", 4}, {"angle", 45}, {"highlightColor", 0xFFFFFF}, {"highlightAlpha", 1}, {"shadowColor", 0},
       {"shadowAlpha", 1}, {"blurX", 4}, {"blurY", 4}, {"strength", 1}, {"quality", 1}}};
  Object* o = self.AsObject();
  if (!o) return self;
  const auto& fields = kFields[kKind];
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string n = fields[i].first;
    Value v = i < a.size() && !a[i].IsUndefined() ? a[i] : Value::Number(fields[i].second);
    if (n == "inner" || n == "knockout" || n == "hideObject") v = Value::Bool(m.ToBoolean(v));
    o->SetDyn(m.Intern(n), v);
  }
  if (kKind == 3) o->SetDyn(m.Intern("type"), a.size() > 10 ? a[10] : m.Str("inner"));
  return self;
}
// Filters whose arguments are not all numbers: each field with its default.
void FilterFields(Machine& m, Value self, std::span<Value> a, const std::vector<std::pair<const char*, Value>>& fields) {
  Object* o = self.AsObject();
  if (!o) return;
  for (std::size_t i = 0; i < fields.size(); ++i)
    o->SetDyn(m.Intern(fields[i].first), i < a.size() && !a[i].IsUndefined() ? a[i] : fields[i].second);
}
NATIVE(GradientFilterCtor) {
  FilterFields(m, self, a,
               {{"distance", Value::Number(4)}, {"angle", Value::Number(45)}, {"colors", Value::Null()},
                {"alphas", Value::Null()}, {"ratios", Value::Null()}, {"blurX", Value::Number(4)},
                {"blurY", Value::Number(4)}, {"strength", Value::Number(1)}, {"quality", Value::Number(1)},
                {"type", m.Str("inner")}, {"knockout", Value::Bool(false)}});
  return self;
}
NATIVE(ConvolutionCtor) {
  FilterFields(m, self, a,
               {{"matrixX", Value::Number(0)}, {"matrixY", Value::Number(0)}, {"matrix", Value::Null()},
                {"divisor", Value::Number(1)}, {"bias", Value::Number(0)}, {"preserveAlpha", Value::Bool(true)},
                {"clamp", Value::Bool(true)}, {"color", Value::Number(0)}, {"alpha", Value::Number(0)}});
  return self;
}
NATIVE(ColorMatrixCtor) {
  if (Object* o = self.AsObject()) {
    std::vector<Value> id(20, Value::Int(0));
    id[0] = id[6] = id[12] = id[18] = Value::Int(1);
    avm2::ArrayObject* arr = avm2::AsArray(m.ArgOr(a, 0));
    o->SetDyn(m.Intern("matrix"), Value::Obj(m.NewArray(arr ? arr->elems : id)));
  }
  return self;
}
NATIVE(FilterClone) {
  Object* o = self.AsObject();
  if (!o) return Value::Null();
  Object* c = m.Instantiate(o->cls);
  if (o->dyn)
    for (auto& [k, v] : o->dyn->items)
      if (k) c->SetDyn(k, v);
  return Value::Obj(c);
}

// ---- Sound: embedded sounds by class, into the player's sound output.
std::string RequestUrl(Machine& m, const Value& request);
void QueueLoad(Machine& m, FlashObject* by, std::string url, std::string bytes, bool fromBytes);
NATIVE(SoundCtor) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (!f) return self;
  for (Class* c = f->cls; c; c = c->super) {
    for (const std::string& n : {c->QualifiedName(), c->name, c->package + "." + c->name}) {
      if (auto it = b.classSymbols.find(n); it != b.classSymbols.end()) {
        f->type = n;
        f->soundId = it->second;
        f->soundMs = std::max(0.0, b.lib.SoundLengthMs(it->second));
        return self;
      }
    }
  }
  // new Sound(request): loads it at once.
  if (!a.empty() && !a[0].IsNullish()) {
    f->format = "sound";
    QueueLoad(m, f, RequestUrl(m, a[0]), {}, false);
  }
  return self;
}
// SOUNDINFO for a start at `fromMs`, `loops` times, at a volume (0..1) and pan (-1..1).
std::vector<std::uint8_t> SoundStartInfo(double fromMs, int loops, double volume, double pan) {
  std::vector<std::uint8_t> info{0};
  auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) info.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const auto inPoint = static_cast<std::uint32_t>(std::max(0.0, fromMs) * 44.1);
  volume = std::clamp(std::isfinite(volume) ? volume : 1.0, 0.0, 1.0);
  pan = std::clamp(std::isfinite(pan) ? pan : 0.0, -1.0, 1.0);
  const auto left = static_cast<std::uint32_t>(volume * std::min(1.0, 1 - pan) * 32768);
  const auto right = static_cast<std::uint32_t>(volume * std::min(1.0, 1 + pan) * 32768);
  const bool envelope = left != 32768 || right != 32768;
  if (inPoint) info[0] |= 1;
  if (loops > 1) info[0] |= 4;
  if (envelope) info[0] |= 8;
  if (inPoint) put(inPoint, 4);
  if (loops > 1) put(static_cast<std::uint32_t>(std::min(loops, 65535)), 2);
  if (envelope) {
    info.push_back(1);
    put(0, 4);
    put(left, 2);
    put(right, 2);
  }
  return info;
}
// play(startTime = 0, loops = 0, soundTransform = null): a SoundChannel.
NATIVE(SoundPlay) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  auto* channel = static_cast<FlashObject*>(m.Instantiate(m.FindClass("flash.media::SoundChannel")));
  if (!f || !f->soundId) return Value::Obj(channel);
  const double from = std::clamp(avm2::ArgNum(m, a, 0, 0), 0.0, f->soundMs);
  const double loopsD = avm2::ArgNum(m, a, 1, 0);
  const int loops = std::isfinite(loopsD) && loopsD > 1 ? static_cast<int>(std::min(loopsD, 65535.0)) : 1;
  double volume = 1, pan = 0;
  if (Object* t = m.ArgOr(a, 2).AsObject()) {
    volume = m.ToNumber(m.GetProperty(Value::Obj(t), "volume"));
    pan = m.ToNumber(m.GetProperty(Value::Obj(t), "pan"));
  }
  const auto info = SoundStartInfo(from, loops, volume, pan);
  b.stage.StartSoundById(f->soundId, f->type, info);
  channel->soundId = f->soundId;
  channel->type = f->type;
  channel->fromMs = from;
  channel->startedMs = m.clockMs();
  channel->endsMs = channel->startedMs + (f->soundMs - from) * loops;
  channel->soundMs = f->soundMs;
  b.channels.push_back(channel);
  return Value::Obj(channel);
}
// load(request): an MP3 file beside the movie, read on the next frame.
NATIVE(SoundLoad) {
  FlashObject* f = Fo(self);
  if (!f) return Value();
  f->format = "sound";
  QueueLoad(m, f, RequestUrl(m, m.ArgOr(a, 0)), {}, false);
  return Value();
}
NATIVE(SoundUrl) {
  FlashObject* f = Fo(self);
  return f && !f->url.empty() ? m.Str(f->url) : Value::Null();
}
NATIVE(SoundLength) {
  FlashObject* f = Fo(self);
  return Value::Number(f ? f->soundMs : 0);
}
NATIVE(ChannelStop) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (!f || !f->soundId) return Value();
  if (std::find(b.channels.begin(), b.channels.end(), f) != b.channels.end()) {
    static const std::uint8_t kStop[1] = {0x20};  // SyncStop
    b.stage.StartSoundById(f->soundId, f->type, kStop);
    std::erase(b.channels, f);
  }
  f->endsMs = std::min(f->endsMs, m.clockMs());
  return Value();
}
NATIVE(ChannelPosition) {
  FlashObject* f = Fo(self);
  if (!f || !f->soundId || f->soundMs <= 0) return Value::Number(0);
  const double now = std::min(m.clockMs(), f->endsMs);
  return Value::Number(std::fmod(f->fromMs + (now - f->startedMs), f->soundMs));
}
NATIVE(SoundTransformCtor) {
  m.SetProperty(self, "volume", Value::Number(avm2::ArgNum(m, a, 0, 1)));
  m.SetProperty(self, "pan", Value::Number(avm2::ArgNum(m, a, 1, 0)));
  return self;
}
// computeSpectrum(bytes, FFTMode, stretch): 512 floats; the player has no
// picture of its own output, so the bytes are silence.
NATIVE(SoundMixerComputeSpectrum) {
  Object* o = m.ArgOr(a, 0).AsObject();
  if (!o || o->kind != ObjectKind::kByteArray) m.ThrowError("TypeError", "Parameter outputArray must be non-null.", 2007);
  auto* ba = static_cast<avm2::ByteArrayObject*>(o);
  ba->bytes.assign(512 * 4, 0);
  ba->position = 0;
  m.Skip("SoundMixer.computeSpectrum (gives silence)");
  return Value();
}
// 15, "shader", blends with the blendShader (normal without one).
const char* const kBlendNames[] = {"normal", "normal", "layer", "multiply", "screen", "lighten", "darken", "difference",
                                   "add", "subtract", "invert", "alpha", "erase", "overlay", "hardlight", "shader"};
constexpr int kBlendCount = 16;
NATIVE(DoGetBlendMode) {
  Instance* i = SelfNode(m, self);
  const int b = i ? i->blendMode : 0;
  return m.Str(b >= 0 && b < kBlendCount ? kBlendNames[b] : "normal");
}
NATIVE(DoSetBlendMode) {
  Instance* i = SelfNode(m, self);
  const std::string name = avm2::ArgStr(m, a, 0, "normal");
  if (!i) return Value();
  for (int k = 1; k < kBlendCount; ++k)
    if (name == kBlendNames[k]) i->blendMode = k;
  return Value();
}

// ---- Shader: pixel kernels, drawn as blend shaders

NATIVE(ShaderSetByteCode) {
  FlashObject* f = Fo(self);
  if (!f) return Value();
  f->shader.reset();
  f->content = m.ArgOr(a, 0);
  f->data = Value::Obj(m.NewObject());
  Object* o = f->content.AsObject();
  if (!o || o->kind != ObjectKind::kByteArray) return Value();
  try {
    f->shader = PixelShader::Parse(static_cast<avm2::ByteArrayObject*>(o)->bytes);
  } catch (const ShaderError& e) {
    m.Skip(std::string("Shader: ") + e.what());
    return Value();
  }
  // ShaderData: a ShaderParameter (value as an Array) for each input
  // parameter and a ShaderInput for each image.
  static const char* const kTypes[] = {"",     "float",  "float2", "float3", "float4", "matrix2x2", "matrix3x3",
                                       "matrix4x4", "int", "int2", "int3", "int4", "string", "bool", "bool2",
                                       "bool3", "bool4"};
  const auto& params = f->shader->Parameters();
  for (std::size_t k = 0; k < params.size(); ++k) {
    const ShaderParameter& p = params[k];
    if (p.output || p.name == "_OutCoord") continue;
    Value param = Value::Obj(m.NewObject());
    std::vector<Value> values;
    for (float v : p.defaultValue) values.push_back(Value::Number(v));
    m.SetProperty(param, "value", Value::Obj(m.NewArray(std::move(values))));
    m.SetProperty(param, "name", m.Str(p.name));
    m.SetProperty(param, "type", m.Str(p.type > 0 && p.type <= 16 ? kTypes[p.type] : ""));
    m.SetProperty(param, "index", Value::Int(static_cast<std::int32_t>(k)));
    m.SetProperty(f->data, p.name, param);
  }
  for (const ShaderInput& in : f->shader->Inputs()) {
    Value input = Value::Obj(m.NewObject());
    m.SetProperty(input, "name", m.Str(in.name));
    m.SetProperty(input, "index", Value::Int(in.index));
    m.SetProperty(input, "channels", Value::Int(in.channels));
    m.SetProperty(input, "input", Value::Null());
    m.SetProperty(input, "width", Value::Int(0));
    m.SetProperty(input, "height", Value::Int(0));
    m.SetProperty(f->data, in.name, input);
  }
  return Value();
}
NATIVE(ShaderCtor) {
  if (FlashObject* f = Fo(self)) {
    f->data = Value::Obj(m.NewObject());
    if (!m.ArgOr(a, 0).IsNullish()) ShaderSetByteCode(m, self, a);
  }
  return self;
}
NATIVE(ShaderGetByteCode) { FlashObject* f = Fo(self); return f && !f->content.IsUndefined() ? f->content : Value::Null(); }
NATIVE(ShaderGetData) { FlashObject* f = Fo(self); return f ? f->data : Value::Null(); }
NATIVE(ShaderPrecision) { return m.Str("full"); }
// The kernel and its parameter values are taken as they are now: Flash
// copies the shader on assignment.
NATIVE(DoSetBlendShader) {
  Instance* i = SelfNode(m, self);
  FlashObject* s = Fo(m.ArgOr(a, 0));
  if (!i) return Value();
  if (!s || !s->shader) {
    i->blendShader.reset();
    return Value();
  }
  auto blend = std::make_shared<ShaderBlend>();
  blend->shader = s->shader;
  for (const ShaderParameter& p : s->shader->Parameters()) {
    std::vector<float> values;
    if (!p.output && p.name != "_OutCoord") {
      const Value param = m.GetProperty(s->data, p.name);
      if (avm2::ArrayObject* arr = param.AsObject() ? avm2::AsArray(m.GetProperty(param, "value")) : nullptr)
        for (const Value& v : arr->elems) values.push_back(static_cast<float>(m.ToNumber(v)));
    }
    blend->values.push_back(std::move(values));
  }
  i->blendShader = std::move(blend);
  i->blendMode = 15;
  return Value();
}
NATIVE(DoHitTestPoint) {
  // With shapeFlag against what the object draws, else against its bounds, in stage space.
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  Instance* i = SelfNode(m, self);
  if (f && m.ToBoolean(m.ArgOr(a, 2)) && (i || f->handle == kRootClip))
    return Value::Bool(b.stage.HitsShapes(f->handle, avm2::ArgNum(m, a, 0, 0) * 20, avm2::ArgNum(m, a, 1, 0) * 20));
  Rect r;
  if (!f || !i || !b.stage.Bounds(*i, r, true)) return Value::Bool(false);
  cairo_matrix_t w = World(b, f->handle);
  if (cairo_matrix_invert(&w) != CAIRO_STATUS_SUCCESS) return Value::Bool(false);
  double x = avm2::ArgNum(m, a, 0, 0) * 20, y = avm2::ArgNum(m, a, 1, 0) * 20;
  cairo_matrix_transform_point(&w, &x, &y);
  return Value::Bool(x >= r.xmin && x <= r.xmax && y >= r.ymin && y <= r.ymax);
}
NATIVE(DoIgnore) { return Value(); }
NATIVE(DoHitTestObject) {
  Rect r1, r2;
  FlashObject* other = Fo(m.ArgOr(a, 0));
  if (!other) return Value::Bool(false);
  As3Display& b = B(m);
  Instance* i1 = SelfNode(m, self);
  Instance* i2 = b.Node(other->handle);
  if (!i1 || !i2 || !b.stage.Bounds(*i1, r1) || !b.stage.Bounds(*i2, r2)) return Value::Bool(false);
  // Compare in stage space through each parent's transform.
  auto toStage = [&](Instance* i, Rect r) {
    const cairo_matrix_t w = World(b, i->parent);
    double xs[4] = {double(r.xmin), double(r.xmax), double(r.xmin), double(r.xmax)};
    double ys[4] = {double(r.ymin), double(r.ymin), double(r.ymax), double(r.ymax)};
    double x0 = 1e18, x1 = -1e18, y0 = 1e18, y1 = -1e18;
    for (int k = 0; k < 4; ++k) {
      cairo_matrix_transform_point(&w, &xs[k], &ys[k]);
      x0 = std::min(x0, xs[k]), x1 = std::max(x1, xs[k]), y0 = std::min(y0, ys[k]), y1 = std::max(y1, ys[k]);
    }
    return std::array<double, 4>{x0, x1, y0, y1};
  };
  const auto s1 = toStage(i1, r1), s2 = toStage(i2, r2);
  return Value::Bool(s1[0] <= s2[1] && s2[0] <= s1[1] && s1[2] <= s2[3] && s2[2] <= s1[3]);
}

// ---- Transform

NATIVE(TrGetMatrix) {
  Instance* i = SelfNode(m, self);
  Matrix mx = i ? i->matrix : Matrix{};
  Value args[6] = {Value::Number(mx.scaleX), Value::Number(mx.rotateSkew0), Value::Number(mx.rotateSkew1),
                   Value::Number(mx.scaleY), Value::Number(mx.translateX / 20.0), Value::Number(mx.translateY / 20.0)};
  return Value::Obj(m.Construct(B(m).matrixClass, args));
}
NATIVE(TrSetMatrix) {
  Instance* i = SelfNode(m, self);
  const Value v = m.ArgOr(a, 0);
  if (!i || !v.IsObject()) return Value();
  auto num = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return std::isfinite(d) ? d : 0.0;
  };
  i->matrix.scaleX = num("a"), i->matrix.rotateSkew0 = num("b"), i->matrix.rotateSkew1 = num("c");
  i->matrix.scaleY = num("d"), i->matrix.translateX = Twips(num("tx")), i->matrix.translateY = Twips(num("ty"));
  i->scripted = true;
  return Value();
}
// matrix3D: null while the object is flat; set, it becomes the object's
// position, rotations and scales in three dimensions.
NATIVE(TrGetMatrix3D) {
  FlashObject* t = Fo(self);
  As3Display& b = B(m);
  FlashObject* f = t ? b.Existing(t->handle) : nullptr;
  if (!f || (f->z == 0 && f->rotationX == 0 && f->rotationY == 0 && f->scaleZ == 1)) return Value::Null();
  const Value obj = Value::Obj(f);
  Class* v3 = m.FindClass("flash.geom::Vector3D");
  auto vec = [&](double x, double y, double z) {
    Value args[] = {Value::Number(x), Value::Number(y), Value::Number(z)};
    return Value::Obj(m.Construct(v3, args));
  };
  auto num = [&](const char* n) { return m.ToNumber(m.GetProperty(obj, n)); };
  const double rad = M_PI / 180;
  Object* parts = m.Construct(m.VectorOf(v3), {});
  if (auto* list = avm2::AsArray(Value::Obj(parts))) {
    list->elems.push_back(vec(num("x"), num("y"), f->z));
    list->elems.push_back(vec(f->rotationX * rad, f->rotationY * rad, num("rotation") * rad));
    list->elems.push_back(vec(num("scaleX"), num("scaleY"), f->scaleZ));
  }
  Value out = Value::Obj(m.Construct(m.FindClass("flash.geom::Matrix3D"), {}));
  Value arg = Value::Obj(parts);
  m.CallProperty(out, "recompose", std::span<Value>(&arg, 1));
  return out;
}
NATIVE(TrSetMatrix3D) {
  FlashObject* t = Fo(self);
  As3Display& b = B(m);
  FlashObject* f = t ? b.Existing(t->handle) : nullptr;
  if (!f) return Value();
  const Value obj = Value::Obj(f), v = m.ArgOr(a, 0);
  if (!v.IsObject()) {
    for (const char* n : {"z", "rotationX", "rotationY"}) m.SetProperty(obj, n, Value::Int(0));
    m.SetProperty(obj, "scaleZ", Value::Int(1));
    return Value();
  }
  auto* parts = avm2::AsArray(m.CallProperty(v, "decompose", {}));
  if (!parts || parts->elems.size() < 3) return Value();
  const Value tr = parts->elems[0], rot = parts->elems[1], sc = parts->elems[2];
  const double deg = 180 / M_PI;
  auto get = [&](const Value& o, const char* n) { return m.ToNumber(m.GetProperty(o, n)); };
  m.SetProperty(obj, "scaleX", Value::Number(get(sc, "x")));
  m.SetProperty(obj, "scaleY", Value::Number(get(sc, "y")));
  m.SetProperty(obj, "rotation", Value::Number(get(rot, "z") * deg));
  m.SetProperty(obj, "x", Value::Number(get(tr, "x")));
  m.SetProperty(obj, "y", Value::Number(get(tr, "y")));
  m.SetProperty(obj, "z", Value::Number(get(tr, "z")));
  m.SetProperty(obj, "rotationX", Value::Number(get(rot, "x") * deg));
  m.SetProperty(obj, "rotationY", Value::Number(get(rot, "y") * deg));
  m.SetProperty(obj, "scaleZ", Value::Number(get(sc, "z")));
  return Value();
}
NATIVE(TrGetColorTransform) {
  Instance* i = SelfNode(m, self);
  ColorTransform c = i ? i->cxform : ColorTransform{};
  Value args[8] = {Value::Number(c.redMult / 256.0), Value::Number(c.greenMult / 256.0), Value::Number(c.blueMult / 256.0),
                   Value::Number(c.alphaMult / 256.0), Value::Int(c.redAdd), Value::Int(c.greenAdd),
                   Value::Int(c.blueAdd), Value::Int(c.alphaAdd)};
  return Value::Obj(m.Construct(B(m).colorTransformClass, args));
}
// A flash.geom.ColorTransform as the renderer's.
ColorTransform ScriptColorTransform(Machine& m, const Value& v) {
  ColorTransform c;
  auto mult = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return static_cast<std::int32_t>(std::lround(std::isfinite(d) ? std::clamp(d, -128.0, 128.0) * 256 : 256));
  };
  auto add = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return static_cast<std::int32_t>(std::lround(std::isfinite(d) ? std::clamp(d, -512.0, 512.0) : 0));
  };
  c.redMult = mult("redMultiplier"), c.greenMult = mult("greenMultiplier");
  c.blueMult = mult("blueMultiplier"), c.alphaMult = mult("alphaMultiplier");
  c.redAdd = add("redOffset"), c.greenAdd = add("greenOffset");
  c.blueAdd = add("blueOffset"), c.alphaAdd = add("alphaOffset");
  return c;
}
NATIVE(TrSetColorTransform) {
  Instance* i = SelfNode(m, self);
  const Value v = m.ArgOr(a, 0);
  if (!i || !v.IsObject()) return Value();
  i->cxform = ScriptColorTransform(m, v);
  i->scripted = true;
  return Value();
}

// ---- DisplayObjectContainer

TimelineState* Container(Machine& m, const Value& self) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (f && f == b.stageObject) return &b.stage.Root();
  TimelineState* tl = SelfTimeline(m, self);
  if (!tl) m.ThrowError("ArgumentError", "The object is not a display object container.", 2025);
  return tl;
}
FlashObject* ChildArg(Machine& m, std::span<Value> a) {
  FlashObject* c = Fo(m.ArgOr(a, 0));
  if (!c) m.ThrowError("TypeError", "Parameter child must be non-null.", 2007);
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
  if (from) b.stage.MoveNode(*from, i->depth, b.limbo, ++b.limboDepth);
}
void Attach(Machine& m, TimelineState& tl, ClipHandle h, std::size_t index);

// ---- SimpleButton made by a script: it shows its up state, held as its child.
void ShowUpState(Machine& m, FlashObject* button, const Value& before) {
  As3Display& b = B(m);
  if (FlashObject* old = Fo(before); old && old->handle != kNoClip) {
    Instance* oi = b.Node(old->handle);
    if (oi && oi->parent == button->handle) Detach(m, old->handle, true);
  }
  FlashObject* up = Fo(button->states[0]);
  TimelineState* tl = b.Timeline(button->handle);
  if (up && up->handle != kNoClip && tl && up->handle != button->handle) Attach(m, *tl, up->handle, 0);
}
NATIVE(SbCtor) {
  FlashObject* f = Fo(self);
  if (!f) return self;
  const bool made = f->handle == kNoClip;
  DisplayObjectCtor(m, self, a);
  if (!made) return self;
  for (std::size_t k = 0; k < 4 && k < a.size(); ++k)
    if (Fo(a[k]) && Fo(a[k])->cls && Fo(a[k])->cls->IsSubclassOf(B(m).displayObjectClass)) f->states[k] = a[k];
  ShowUpState(m, f, Value());
  return self;
}
template <int kState>
Value SbGetState(Machine&, Value self, std::span<Value>) {
  FlashObject* f = Fo(self);
  return f && f->states[kState].IsObject() ? f->states[kState] : Value::Null();
}
template <int kState>
Value SbSetState(Machine& m, Value self, std::span<Value> a) {
  FlashObject* f = Fo(self);
  if (!f) return Value();
  const Value v = m.ArgOr(a, 0);
  const Value before = f->states[kState];
  f->states[kState] = Fo(v) ? v : Value();
  // A button from the timeline draws its own records; a script's shows its up state.
  if (kState == 0) {
    Instance* i = SelfNode(m, self);
    if (i && (!i->def || i->def->kind != Character::Kind::kButton)) ShowUpState(m, f, before);
  }
  return Value();
}
NATIVE(SbGetEnabled) { FlashObject* f = Fo(self); return Value::Bool(!f || f->buttonEnabled); }
NATIVE(SbSetEnabled) { if (FlashObject* f = Fo(self)) f->buttonEnabled = m.ToBoolean(m.ArgOr(a, 0)); return Value(); }
NATIVE(SbGetMenu) { FlashObject* f = Fo(self); return Value::Bool(f && f->trackAsMenu); }
NATIVE(SbSetMenu) { if (FlashObject* f = Fo(self)) f->trackAsMenu = m.ToBoolean(m.ArgOr(a, 0)); return Value(); }

// Puts a node at index `index` of a container's list (index == size: on top).
void Attach(Machine& m, TimelineState& tl, ClipHandle h, std::size_t index) {
  As3Display& b = B(m);
  // A node cannot hold one of its own ancestors.
  for (ClipHandle p = tl.owner; p != kNoClip && p != kRootClip;) {
    if (p == h) m.ThrowError("ArgumentError", "An object cannot be added as a child of itself or its children.", 2150);
    Instance* pi = b.Node(p);
    p = pi ? pi->parent : kNoClip;
  }
  Detach(m, h, true);
  Instance* i = b.Node(h);
  if (!i) return;
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
  b.Added(h);
}
std::size_t IndexOf(const TimelineState& tl, ClipHandle h) {
  std::size_t k = 0;
  for (auto& [d, i] : tl.list) {
    if (i.serial == h) return k;
    ++k;
  }
  return static_cast<std::size_t>(-1);
}
Instance* At(TimelineState& tl, double index) {
  if (!(index >= 0) || index >= static_cast<double>(tl.list.size())) return nullptr;
  auto it = tl.list.begin();
  std::advance(it, static_cast<std::ptrdiff_t>(index));
  return &it->second;
}

NATIVE(DocNumChildren) { return Value::Int(static_cast<std::int32_t>(Container(m, self)->list.size())); }
NATIVE(DocAddChild) {
  TimelineState* tl = Container(m, self);
  FlashObject* c = ChildArg(m, a);
  Attach(m, *tl, c->handle, tl->list.size() + 1);
  return Value::Obj(c);
}
NATIVE(DocAddChildAt) {
  TimelineState* tl = Container(m, self);
  FlashObject* c = ChildArg(m, a);
  const double idx = avm2::ArgNum(m, a, 1, 0);
  if (!(idx >= 0) || idx > static_cast<double>(tl->list.size()))
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  // Re-adding to the same container counts the index without the child.
  if (Instance* i = B(m).Node(c->handle); i && i->parent == tl->owner) {
    Detach(m, c->handle, false);
  }
  Attach(m, *tl, c->handle, static_cast<std::size_t>(idx));
  return Value::Obj(c);
}
NATIVE(DocRemoveChild) {
  TimelineState* tl = Container(m, self);
  FlashObject* c = Fo(m.ArgOr(a, 0));
  Instance* i = c ? B(m).Node(c->handle) : nullptr;
  if (!i || i->parent != tl->owner) m.ThrowError("ArgumentError", "The supplied DisplayObject must be a child of the caller.", 2025);
  Detach(m, c->handle, true);
  return Value::Obj(c);
}
NATIVE(DocRemoveChildAt) {
  TimelineState* tl = Container(m, self);
  Instance* i = At(*tl, avm2::ArgNum(m, a, 0, -1));
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
  const std::size_t from = static_cast<std::size_t>(std::max(0.0, avm2::ArgNum(m, a, 0, 0)));
  const double toD = avm2::ArgNum(m, a, 1, 2147483647.0);
  for (std::size_t k = from; k < hs.size() && static_cast<double>(k) <= toD; ++k) Detach(m, hs[k], true);
  return Value();
}
NATIVE(DocGetChildAt) {
  TimelineState* tl = Container(m, self);
  Instance* i = At(*tl, avm2::ArgNum(m, a, 0, -1));
  if (!i) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  return B(m).ValueFor(i->serial);
}
NATIVE(DocGetChildByName) {
  TimelineState* tl = Container(m, self);
  const std::string name = avm2::ArgStr(m, a, 0, "");
  for (auto& [d, i] : tl->list)
    if (i.name == name) return B(m).ValueFor(i.serial);
  return Value::Null();
}
NATIVE(DocGetChildIndex) {
  TimelineState* tl = Container(m, self);
  FlashObject* c = Fo(m.ArgOr(a, 0));
  const std::size_t k = c ? IndexOf(*tl, c->handle) : static_cast<std::size_t>(-1);
  if (k == static_cast<std::size_t>(-1)) m.ThrowError("ArgumentError", "The supplied DisplayObject must be a child of the caller.", 2025);
  return Value::Int(static_cast<std::int32_t>(k));
}
NATIVE(DocSetChildIndex) {
  TimelineState* tl = Container(m, self);
  FlashObject* c = Fo(m.ArgOr(a, 0));
  const double idx = avm2::ArgNum(m, a, 1, 0);
  if (!c || IndexOf(*tl, c->handle) == static_cast<std::size_t>(-1))
    m.ThrowError("ArgumentError", "The supplied DisplayObject must be a child of the caller.", 2025);
  if (!(idx >= 0) || idx >= static_cast<double>(tl->list.size())) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  if (IndexOf(*tl, c->handle) == static_cast<std::size_t>(idx)) return Value();
  As3Display& b = B(m);
  Instance* i = b.Node(c->handle);
  b.stage.MoveNode(*tl, i->depth, b.limbo, ++b.limboDepth);
  std::vector<int> keys = Keys(*tl);
  const auto index = std::min(static_cast<std::size_t>(idx), keys.size());
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
  FlashObject* x = Fo(m.ArgOr(a, 0));
  FlashObject* y = Fo(m.ArgOr(a, 1));
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
  Instance* ix = At(*tl, avm2::ArgNum(m, a, 0, -1));
  Instance* iy = At(*tl, avm2::ArgNum(m, a, 1, -1));
  if (!ix || !iy) m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  SwapNodes(m, *tl, ix, iy);
  return Value();
}
NATIVE(DocContains) {
  FlashObject* f = Fo(self);
  FlashObject* c = Fo(m.ArgOr(a, 0));
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
int FrameArg(Machine& m, TimelineState& tl, const Value& v) {
  if (v.IsString()) {
    auto it = tl.def->labels.find([&] {
      std::string s = v.s->text;
      for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return s;
    }());
    if (it == tl.def->labels.end()) {
      const double n = avm2::StringToNumber(v.s->text);
      if (std::isnan(n)) m.ThrowError("ArgumentError", "Frame label " + v.s->text + " not found in scene.", 2109);
      return static_cast<int>(n) - 1;
    }
    return it->second;
  }
  const double n = m.ToNumber(v);
  return std::isfinite(n) ? static_cast<int>(std::clamp(n, -1e9, 1e9)) - 1 : 0;
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
bool IsLabel(const TimelineState& tl, const Value& v) {
  if (!v.IsString()) return false;
  std::string s = v.s->text;
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tl.def->labels.count(s) > 0;
}
void GotoAbsolute(Machine& m, TimelineState& tl, int frame, bool play) {
  As3Display& b = B(m);
  b.stage.SetPlaying(tl, play);
  b.stage.Goto(tl, std::clamp(frame, 0, tl.FrameCount() - 1));
  b.Flush();
}
// gotoAndPlay/gotoAndStop(frame, scene): a frame number counts from the
// start of the scene named, or of the current one; a label is the movie's.
void GotoFrame(Machine& m, const Value& self, std::span<Value> a, bool play) {
  TimelineState* tl = Clip(m, self);
  if (!tl) return;
  const Value target = m.ArgOr(a, 0);
  int frame = FrameArg(m, *tl, target);
  if (!IsLabel(*tl, target)) {
    const Value sceneArg = m.ArgOr(a, 1);
    SceneSpan scene = CurrentScene(*tl);
    if (!sceneArg.IsNullish()) {
      const std::string name = m.ToString(sceneArg);
      bool found = false;
      for (const SceneSpan& s : ScenesOf(*tl))
        if (s.name == name) scene = s, found = true;
      if (!found) m.ThrowError("ArgumentError", "Error #2108: Scene " + name + " was not found.", 2108);
    }
    frame += scene.start;
  }
  GotoAbsolute(m, *tl, frame, play);
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
// nextScene/prevScene: to the first frame of the scene after or before, playing.
template <int kStep>
NATIVE(McOtherScene) {
  TimelineState* tl = Clip(m, self);
  if (!tl) return Value();
  const auto scenes = ScenesOf(*tl);
  const int now = CurrentScene(*tl).start;
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    if (scenes[i].start != now) continue;
    const std::ptrdiff_t to = static_cast<std::ptrdiff_t>(i) + kStep;
    if (to >= 0 && to < static_cast<std::ptrdiff_t>(scenes.size())) GotoAbsolute(m, *tl, scenes[std::size_t(to)].start, true);
    break;
  }
  return Value();
}
NATIVE(McPlay) {
  if (TimelineState* tl = Clip(m, self)) B(m).stage.SetPlaying(*tl, true);
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
NATIVE(McCurrentFrame) {
  TimelineState* tl = Clip(m, self);
  return Value::Int(tl ? tl->current + 1 - CurrentScene(*tl).start : 1);
}
NATIVE(McTotalFrames) {
  TimelineState* tl = Clip(m, self);
  return Value::Int(tl ? tl->FrameCount() : 1);
}
NATIVE(McIsPlaying) {
  TimelineState* tl = Clip(m, self);
  return Value::Bool(tl && tl->playing);
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
  FlashObject* f = Fo(self);
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

// ---- Sprite, Shape, Graphics

NATIVE(SpGetGraphics) {
  auto* g = static_cast<FlashObject*>(m.Instantiate(B(m).graphicsClass));
  if (FlashObject* f = Fo(self)) g->handle = f->handle;
  return Value::Obj(g);
}
Drawing* Pen(Machine& m, const Value& self) {
  FlashObject* f = Fo(self);
  TimelineState* tl = f ? B(m).Timeline(f->handle) : nullptr;
  if (!tl) return nullptr;
  if (!tl->drawing) tl->drawing = std::make_shared<Drawing>();
  tl->drawing->version = NextDrawingVersion();
  return tl->drawing.get();
}
double Px(Machine& m, std::span<Value> a, std::size_t i, double dflt = 0) {
  const double d = avm2::ArgNum(m, a, i, dflt);
  return std::isfinite(d) ? std::clamp(d, -1e7, 1e7) * 20 : 0;
}
Rgba Color(Machine& m, std::span<Value> a, std::size_t ci, std::size_t ai) {
  const std::uint32_t c = m.ToUint(m.ArgOr(a, ci));
  double al = avm2::ArgNum(m, a, ai, 1.0);
  if (std::isnan(al)) al = 1.0;
  return Rgba{static_cast<std::uint8_t>((c >> 16) & 255), static_cast<std::uint8_t>((c >> 8) & 255),
              static_cast<std::uint8_t>(c & 255), static_cast<std::uint8_t>(std::clamp(al, 0.0, 1.0) * 255 + 0.5)};
}
NATIVE(GrBeginFill) {
  if (Drawing* d = Pen(m, self)) {
    FillStyle f;
    f.color = Color(m, a, 0, 1);
    drawing::StartFill(*d, f);
  }
  return Value();
}
Matrix GradientMatrix(Machine& m, const Value& v) {
  Matrix out;
  if (!v.IsObject()) return out;
  auto num = [&](const char* n) {
    const double d = m.ToNumber(m.GetProperty(v, n));
    return std::isfinite(d) ? d : 0.0;
  };
  out.scaleX = num("a"), out.rotateSkew0 = num("b"), out.rotateSkew1 = num("c"), out.scaleY = num("d");
  out.translateX = Twips(num("tx")), out.translateY = Twips(num("ty"));
  return out;
}
bool Gradient(Machine& m, std::span<Value> a, FillStyle& f) {
  const std::string type = avm2::ArgStr(m, a, 0, "");
  auto* colors = avm2::AsArray(m.ArgOr(a, 1));
  auto* alphas = avm2::AsArray(m.ArgOr(a, 2));
  auto* ratios = avm2::AsArray(m.ArgOr(a, 3));
  if (!colors || !alphas || !ratios || (type != "linear" && type != "radial")) return false;
  const std::size_t n = std::min({colors->elems.size(), alphas->elems.size(), ratios->elems.size(), std::size_t{15}});
  if (n == 0) return false;
  f.kind = type == "linear" ? FillStyle::Kind::kLinear : FillStyle::Kind::kRadial;
  for (std::size_t i = 0; i < n; ++i) {
    const double r = m.ToNumber(ratios->elems[i]);
    Value ca[2] = {colors->elems[i], alphas->elems[i]};
    f.gradient.stops.push_back({static_cast<std::uint8_t>(std::isnan(r) ? 0 : std::clamp(r, 0.0, 255.0)),
                                Color(m, std::span<Value>(ca, 2), 0, 1)});
  }
  if (a.size() > 4 && a[4].IsObject()) {
    f.matrix = GradientMatrix(m, a[4]);
  } else {
    // The default box is 100 x 100 pixels at the origin.
    f.matrix.scaleX = f.matrix.scaleY = 100 / 1638.4;
    f.matrix.translateX = f.matrix.translateY = 50 * 20;
  }
  const std::string spread = avm2::ArgStr(m, a, 5, "pad");
  f.gradient.spread = spread == "reflect" ? 1 : spread == "repeat" ? 2 : 0;
  f.gradient.interpolation = avm2::ArgStr(m, a, 6, "rgb") == "linearRGB" ? 1 : 0;
  const double focal = avm2::ArgNum(m, a, 7, 0);
  if (f.kind == FillStyle::Kind::kRadial && std::isfinite(focal) && focal != 0) {
    f.kind = FillStyle::Kind::kFocal;
    f.gradient.focal = std::clamp(focal, -1.0, 1.0);
  }
  return true;
}
NATIVE(GrBeginGradientFill) {
  FillStyle f;
  if (!Gradient(m, a, f)) return Value();
  if (Drawing* d = Pen(m, self)) drawing::StartFill(*d, f);
  return Value();
}
// beginBitmapFill and lineBitmapStyle: (bitmap, matrix, repeat, smooth).
FillStyle BitmapFill(Machine& m, FlashObject* bd, std::span<Value> a) {
  FillStyle f;
  f.kind = FillStyle::Kind::kBitmap;
  f.bitmap = bd->bitmap.get();  // kept by the binding while the movie runs
  // Bitmap pixels to twips, through the fill's matrix in pixels.
  const Matrix mx = a.size() > 1 && a[1].IsObject() ? GradientMatrix(m, a[1]) : Matrix{};
  f.matrix.scaleX = mx.scaleX * 20, f.matrix.rotateSkew0 = mx.rotateSkew0 * 20;
  f.matrix.rotateSkew1 = mx.rotateSkew1 * 20, f.matrix.scaleY = mx.scaleY * 20;
  f.matrix.translateX = mx.translateX, f.matrix.translateY = mx.translateY;
  f.repeat = a.size() < 3 || m.ToBoolean(a[2]);
  f.smooth = a.size() > 3 && m.ToBoolean(a[3]);
  return f;
}
NATIVE(GrBeginBitmapFill) {
  FlashObject* bd = Fo(m.ArgOr(a, 0));
  Drawing* d = Pen(m, self);
  if (!d || !bd || !bd->bitmap) return Value();
  drawing::StartFill(*d, BitmapFill(m, bd, a));
  return Value();
}
NATIVE(GrEndFill) {
  if (Drawing* d = Pen(m, self)) drawing::EndFill(*d);
  return Value();
}
NATIVE(GrLineStyle) {
  Drawing* d = Pen(m, self);
  if (!d) return Value();
  const double t = avm2::ArgNum(m, a, 0, std::nan(""));
  if (a.empty() || std::isnan(t)) {
    d->hasLineStyle = false;
    d->line = -1;
    return Value();
  }
  LineStyle l;
  l.width = std::max(20.0, std::clamp(t, 0.0, 255.0) * 20);
  l.color = Color(m, a, 1, 2);
  const std::string scale = avm2::ArgStr(m, a, 4, "normal");
  l.noHScale = scale == "none" || scale == "horizontal";
  l.noVScale = scale == "none" || scale == "vertical";
  const std::string caps = avm2::ArgStr(m, a, 5, "round"), joints = avm2::ArgStr(m, a, 6, "round");
  l.startCap = l.endCap = caps == "none" ? 1 : caps == "square" ? 2 : 0;
  l.join = joints == "bevel" ? 1 : joints == "miter" ? 2 : 0;
  const double ml = avm2::ArgNum(m, a, 7, 3);
  if (std::isfinite(ml)) l.miterLimit = std::clamp(ml, 1.0, 255.0);
  drawing::SetLineStyle(*d, l);
  return Value();
}
NATIVE(GrLineBitmapStyle) {
  FlashObject* bd = Fo(m.ArgOr(a, 0));
  Drawing* d = Pen(m, self);
  if (!d || !bd || !bd->bitmap) return Value();
  drawing::SetLineFill(*d, BitmapFill(m, bd, a));
  return Value();
}
// copyFrom(source): this drawing becomes a copy of the source's.
NATIVE(GrCopyFrom) {
  FlashObject* f = Fo(self);
  FlashObject* from = Fo(m.ArgOr(a, 0));
  if (!from) m.ThrowError("TypeError", "Parameter sourceGraphics must be non-null.", 2007);
  TimelineState* to = f ? B(m).Timeline(f->handle) : nullptr;
  TimelineState* src = B(m).Timeline(from->handle);
  if (!to || to == src) return Value();
  if (src && src->drawing) {
    to->drawing = std::make_shared<Drawing>(*src->drawing);
    to->drawing->version = NextDrawingVersion();
  } else {
    to->drawing.reset();
  }
  return Value();
}
NATIVE(GrLineGradientStyle) {
  FillStyle f;
  if (!Gradient(m, a, f)) return Value();
  if (Drawing* d = Pen(m, self)) drawing::SetLineFill(*d, f);
  return Value();
}
NATIVE(GrMoveTo) {
  if (Drawing* d = Pen(m, self)) drawing::MoveTo(*d, Px(m, a, 0), Px(m, a, 1));
  return Value();
}
NATIVE(GrLineTo) {
  if (Drawing* d = Pen(m, self)) drawing::LineTo(*d, Px(m, a, 0), Px(m, a, 1));
  return Value();
}
NATIVE(GrCurveTo) {
  if (Drawing* d = Pen(m, self)) drawing::CurveTo(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3));
  return Value();
}
NATIVE(GrCubicCurveTo) {
  if (Drawing* d = Pen(m, self))
    drawing::CubicTo(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3), Px(m, a, 4), Px(m, a, 5));
  return Value();
}
NATIVE(GrDrawRect) {
  if (Drawing* d = Pen(m, self)) drawing::Rectangle(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3));
  return Value();
}
NATIVE(GrDrawRoundRect) {
  if (Drawing* d = Pen(m, self)) {
    const double ew = Px(m, a, 4);
    const double eh = a.size() > 5 && !a[5].IsUndefined() ? Px(m, a, 5) : ew;
    drawing::RoundRectangle(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3), ew, eh);
  }
  return Value();
}
NATIVE(GrDrawCircle) {
  if (Drawing* d = Pen(m, self)) {
    const double r = Px(m, a, 2);
    drawing::Ellipse(*d, Px(m, a, 0) - r, Px(m, a, 1) - r, 2 * r, 2 * r);
  }
  return Value();
}
NATIVE(GrDrawEllipse) {
  if (Drawing* d = Pen(m, self)) drawing::Ellipse(*d, Px(m, a, 0), Px(m, a, 1), Px(m, a, 2), Px(m, a, 3));
  return Value();
}
NATIVE(GrClear) {
  FlashObject* f = Fo(self);
  if (TimelineState* tl = f ? B(m).Timeline(f->handle) : nullptr) tl->drawing.reset();
  return Value();
}
// The fill in use drawn from here on by the non-zero winding rule.
void FillNonZero(Drawing& d) {
  if (!d.filling || d.geometry.layers.empty() || d.geometry.layers.back().fills.empty()) return;
  FillStyle f = d.geometry.layers.back().fills.front();
  if (f.nonZero) return;
  f.nonZero = true;
  const double x = d.penX, y = d.penY;
  drawing::StartFill(d, f);
  drawing::MoveTo(d, x, y);
}
NATIVE(GrDrawPath) {
  Drawing* d = Pen(m, self);
  auto* cmds = avm2::AsArray(m.ArgOr(a, 0));
  auto* data = avm2::AsArray(m.ArgOr(a, 1));
  if (!d || !cmds || !data) return Value();
  if (a.size() > 2 && !a[2].IsNullish() && m.ToString(a[2]) == "nonZero") FillNonZero(*d);
  std::size_t k = 0;
  auto next = [&] { return k < data->elems.size() ? std::clamp(m.ToNumber(data->elems[k++]), -1e7, 1e7) * 20 : 0.0; };
  for (const Value& c : cmds->elems) {
    switch (m.ToInt(c)) {
      case 1: { const double x = next(), y = next(); drawing::MoveTo(*d, x, y); break; }
      case 2: { const double x = next(), y = next(); drawing::LineTo(*d, x, y); break; }
      case 3: { const double cx = next(), cy = next(), x = next(), y = next(); drawing::CurveTo(*d, cx, cy, x, y); break; }
      case 4: { const double x1 = next(), y1 = next(), x = next(), y = next(); drawing::MoveTo(*d, x, y); (void)x1; (void)y1; break; }
      case 5: { const double x1 = next(), y1 = next(), x = next(), y = next(); drawing::LineTo(*d, x, y); (void)x1; (void)y1; break; }
      case 6: {
        const double c1x = next(), c1y = next(), c2x = next(), c2y = next(), x = next(), y = next();
        drawing::CubicTo(*d, c1x, c1y, c2x, c2y, x, y);
        break;
      }
      default: break;
    }
  }
  return Value();
}
NATIVE(GrDrawTriangles) {
  Drawing* d = Pen(m, self);
  auto* verts = avm2::AsArray(m.ArgOr(a, 0));
  auto* idx = avm2::AsArray(m.ArgOr(a, 1));
  if (!d || !verts) return Value();
  auto vx = [&](std::size_t i) { return 2 * i + 1 < verts->elems.size() ? std::clamp(m.ToNumber(verts->elems[2 * i]), -1e7, 1e7) * 20 : 0.0; };
  auto vy = [&](std::size_t i) { return 2 * i + 1 < verts->elems.size() ? std::clamp(m.ToNumber(verts->elems[2 * i + 1]), -1e7, 1e7) * 20 : 0.0; };
  // culling: "positive" leaves out triangles turning one way, "negative" the other.
  const std::string culling = a.size() > 3 && !a[3].IsNullish() ? m.ToString(a[3]) : "none";
  // Each triangle fills on its own: a mesh of either turn has no holes.
  FillNonZero(*d);
  // uvtData with a bitmap fill: each triangle shows the part of the bitmap
  // its (u, v) corners name, stretched affinely; t (perspective) is left out.
  auto* uvt = avm2::AsArray(m.ArgOr(a, 2));
  std::optional<FillStyle> texture;
  const std::size_t vertexCount = verts->elems.size() / 2;
  if (uvt && d->filling && !d->geometry.layers.empty() && !d->geometry.layers.back().fills.empty() &&
      d->geometry.layers.back().fills.front().kind == FillStyle::Kind::kBitmap &&
      d->geometry.layers.back().fills.front().bitmap) {
    texture = d->geometry.layers.back().fills.front();
  }
  const std::size_t uvtStride = uvt && uvt->elems.size() >= 3 * vertexCount && vertexCount > 0 ? 3 : 2;
  auto uv = [&](std::size_t i, std::size_t k) {
    const std::size_t at = uvtStride * i + k;
    const double v = uvt && at < uvt->elems.size() ? m.ToNumber(uvt->elems[at]) : 0.0;
    return std::isfinite(v) ? std::clamp(v, -1e4, 1e4) : 0.0;
  };
  const std::size_t n = idx ? idx->elems.size() : verts->elems.size() / 2;
  for (std::size_t t = 0; t + 2 < n + 0 && t + 2 < 3 * 100000; t += 3) {
    std::size_t i0 = t, i1 = t + 1, i2 = t + 2;
    if (idx) i0 = m.ToUint(idx->elems[t]), i1 = m.ToUint(idx->elems[t + 1]), i2 = m.ToUint(idx->elems[t + 2]);
    const double turn = (vx(i1) - vx(i0)) * (vy(i2) - vy(i0)) - (vy(i1) - vy(i0)) * (vx(i2) - vx(i0));
    if ((culling == "positive" && turn >= 0) || (culling == "negative" && turn <= 0)) continue;
    if (texture) {
      // The affine map from bitmap pixels (u * width, v * height) to the corners.
      const double w = texture->bitmap->width, h = texture->bitmap->height;
      const double s0x = uv(i0, 0) * w, s0y = uv(i0, 1) * h;
      const double a1 = uv(i1, 0) * w - s0x, b1 = uv(i1, 1) * h - s0y;
      const double a2 = uv(i2, 0) * w - s0x, b2 = uv(i2, 1) * h - s0y;
      const double det = a1 * b2 - a2 * b1;
      if (det == 0) continue;
      const double c1 = vx(i1) - vx(i0), e1 = vy(i1) - vy(i0), c2 = vx(i2) - vx(i0), e2 = vy(i2) - vy(i0);
      FillStyle f = *texture;  // twips from bitmap pixels
      f.matrix.scaleX = (c1 * b2 - c2 * b1) / det;
      f.matrix.rotateSkew1 = (c2 * a1 - c1 * a2) / det;
      f.matrix.rotateSkew0 = (e1 * b2 - e2 * b1) / det;
      f.matrix.scaleY = (e2 * a1 - e1 * a2) / det;
      const double tx = vx(i0) - f.matrix.scaleX * s0x - f.matrix.rotateSkew1 * s0y;
      const double ty = vy(i0) - f.matrix.rotateSkew0 * s0x - f.matrix.scaleY * s0y;
      f.matrix.translateX = static_cast<std::int32_t>(std::lround(std::clamp(tx, -2e9, 2e9)));
      f.matrix.translateY = static_cast<std::int32_t>(std::lround(std::clamp(ty, -2e9, 2e9)));
      f.nonZero = true;
      drawing::StartFill(*d, f);
    }
    drawing::MoveTo(*d, vx(i0), vy(i0));
    drawing::LineTo(*d, vx(i1), vy(i1));
    drawing::LineTo(*d, vx(i2), vy(i2));
    drawing::LineTo(*d, vx(i0), vy(i0));
  }
  if (texture) drawing::StartFill(*d, *texture);
  return Value();
}

// ---- EventDispatcher and events

NATIVE(EdAddEventListener) {
  FlashObject* f = Fo(self);
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
  FlashObject* f = Fo(self);
  if (!f) return Value();
  const std::string type = avm2::ArgStr(m, a, 0, "");
  const Value fn = m.ArgOr(a, 1);
  const bool capture = m.ToBoolean(m.ArgOr(a, 2));
  std::erase_if(f->listeners, [&](const Listener& l) { return l.type == type && l.capture == capture && m.StrictEquals(l.fn, fn); });
  return Value();
}
NATIVE(EdHasEventListener) {
  FlashObject* f = Fo(self);
  const std::string type = avm2::ArgStr(m, a, 0, "");
  if (f)
    for (auto& l : f->listeners)
      if (l.type == type) return Value::Bool(true);
  return Value::Bool(false);
}
NATIVE(EdDispatchEvent) {
  FlashObject* f = Fo(self);
  FlashObject* e = Fo(m.ArgOr(a, 0));
  if (!f || !e) m.ThrowError("TypeError", "Parameter event must be non-null.", 2007);
  // An event already sent is sent again as a copy.
  if (!e->target.IsNullish()) {
    Value copy = m.CallProperty(Value::Obj(e), "clone", {});
    if (FlashObject* c = Fo(copy)) e = c;
  }
  B(m).Dispatch(f, e);
  return Value::Bool(!e->prevented);
}
NATIVE(EvCtor) {
  if (FlashObject* e = Fo(self)) {
    e->type = avm2::ArgStr(m, a, 0, "");
    e->bubbles = m.ToBoolean(m.ArgOr(a, 1));
    e->cancelable = m.ToBoolean(m.ArgOr(a, 2));
  }
  return self;
}
NATIVE(EvType) { FlashObject* e = Fo(self); return e ? m.Str(e->type) : Value(); }
NATIVE(EvBubbles) { FlashObject* e = Fo(self); return Value::Bool(e && e->bubbles); }
NATIVE(EvCancelable) { FlashObject* e = Fo(self); return Value::Bool(e && e->cancelable); }
NATIVE(EvTarget) { FlashObject* e = Fo(self); return e && !e->target.IsUndefined() ? e->target : Value::Null(); }
NATIVE(EvCurrentTarget) { FlashObject* e = Fo(self); return e && !e->currentTarget.IsUndefined() ? e->currentTarget : Value::Null(); }
NATIVE(EvPhase) { FlashObject* e = Fo(self); return Value::Int(e ? e->phase : 0); }
NATIVE(EvStop) { if (FlashObject* e = Fo(self)) e->stop = true; return Value(); }
NATIVE(EvStopNow) { if (FlashObject* e = Fo(self)) e->stop = e->stopNow = true; return Value(); }
NATIVE(EvPrevent) { if (FlashObject* e = Fo(self); e && e->cancelable) e->prevented = true; return Value(); }
NATIVE(EvPrevented) { FlashObject* e = Fo(self); return Value::Bool(e && e->prevented); }
NATIVE(EvClone) {
  FlashObject* e = Fo(self);
  if (!e) return Value::Null();
  auto* c = static_cast<FlashObject*>(m.Instantiate(e->cls));
  c->type = e->type, c->bubbles = e->bubbles, c->cancelable = e->cancelable;
  c->stageX = e->stageX, c->stageY = e->stageY;
  return Value::Obj(c);
}
// As Flash writes an event: [Event type="added" bubbles=true cancelable=false eventPhase=2].
NATIVE(EvToString) {
  FlashObject* e = Fo(self);
  if (!e) return m.Str("[Event]");
  return m.Str("[Event type=\"" + e->type + "\" bubbles=" + (e->bubbles ? "true" : "false") +
               " cancelable=" + (e->cancelable ? "true" : "false") + " eventPhase=" + std::to_string(e->phase) + "]");
}
NATIVE(MeStageX) { FlashObject* e = Fo(self); return Value::Number(e ? e->stageX : 0); }
NATIVE(MeStageY) { FlashObject* e = Fo(self); return Value::Number(e ? e->stageY : 0); }
NATIVE(MeLocalX) { FlashObject* e = Fo(self); return Value::Number(e ? e->localX : 0); }
NATIVE(MeLocalY) { FlashObject* e = Fo(self); return Value::Number(e ? e->localY : 0); }
NATIVE(MeRelated) { FlashObject* e = Fo(self); return e && !e->related.IsUndefined() ? e->related : Value::Null(); }
NATIVE(MeButtonDown) { FlashObject* e = Fo(self); return Value::Bool(e && e->buttonDown); }
NATIVE(ReturnFalse) { return Value::Bool(false); }
NATIVE(ReturnZero) { return Value::Int(0); }
// new MouseEvent(type, bubbles = true, cancelable = false, localX, localY, relatedObject, ctrl, alt, shift, buttonDown)
NATIVE(MeCtor) {
  EvCtor(m, self, a);
  if (FlashObject* e = Fo(self)) {
    if (a.size() <= 1) e->bubbles = true;
    e->localX = avm2::ArgNum(m, a, 3, 0);
    e->localY = avm2::ArgNum(m, a, 4, 0);
    if (a.size() > 5) e->related = a[5];
    e->buttonDown = m.ToBoolean(m.ArgOr(a, 9));
  }
  return self;
}
// new KeyboardEvent(type, bubbles = true, cancelable = false, charCode = 0, keyCode = 0, ...)
NATIVE(KeCtor) {
  EvCtor(m, self, a);
  if (FlashObject* e = Fo(self)) {
    if (a.size() <= 1) e->bubbles = true;
    e->charCode = m.ToUint(m.ArgOr(a, 3));
    e->keyCode = m.ToUint(m.ArgOr(a, 4));
  }
  return self;
}
NATIVE(KeKeyCode) { FlashObject* e = Fo(self); return Value::Number(e ? e->keyCode : 0); }
NATIVE(KeCharCode) { FlashObject* e = Fo(self); return Value::Number(e ? e->charCode : 0); }
NATIVE(KeSetKeyCode) { if (FlashObject* e = Fo(self)) e->keyCode = m.ToUint(m.ArgOr(a, 0)); return Value(); }
NATIVE(KeSetCharCode) { if (FlashObject* e = Fo(self)) e->charCode = m.ToUint(m.ArgOr(a, 0)); return Value(); }
// mouseEnabled, mouseChildren, buttonMode, useHandCursor
template <bool FlashObject::*Field>
Value IoGet(Machine&, Value self, std::span<Value>) {
  FlashObject* f = Fo(self);
  return Value::Bool(f ? f->*Field : false);
}
template <bool FlashObject::*Field>
Value IoSet(Machine& m, Value self, std::span<Value> a) {
  if (FlashObject* f = Fo(self)) f->*Field = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}

// ---- Stage

NATIVE(StWidth) { return Value::Int(B(m).lib.movie.header.frameSize.Width() / 20); }
NATIVE(StHeight) { return Value::Int(B(m).lib.movie.header.frameSize.Height() / 20); }
NATIVE(StFrameRate) {
  const int scripted = B(m).stage.ScriptFrameRate();
  return Value::Number((scripted > 0 ? scripted : B(m).lib.movie.header.frameRate) / 256.0);
}
// The movie plays at the rate its script sets, from the next frame on.
NATIVE(StSetFrameRate) {
  const double fps = m.ToNumber(m.ArgOr(a, 0));
  if (!std::isnan(fps)) B(m).stage.SetScriptFrameRate(fps);
  return Value();
}
// scaleMode and align read back what the movie set (Flash's names); the
// picture keeps the player's fit.
NATIVE(StScaleMode) {
  const std::string& s = B(m).stageScaleMode;
  return m.Str(s.empty() ? "showAll" : s);
}
NATIVE(StSetScaleMode) {
  const std::string v = m.ToString(m.ArgOr(a, 0));
  for (const char* known : {"showAll", "exactFit", "noBorder", "noScale"}) {
    std::string lower = v, k = known;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == k) B(m).stageScaleMode = known;
  }
  return Value();
}
NATIVE(StAlign) { return m.Str(B(m).stageAlign); }
NATIVE(StSetAlign) {
  // Flash keeps the letters it knows, in the order T, B, L, R.
  std::string v = m.ToString(m.ArgOr(a, 0)), out;
  for (auto& c : v) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (char k : {'T', 'B', 'L', 'R'})
    if (v.find(k) != std::string::npos) out += k;
  B(m).stageAlign = out;
  return Value();
}
// The picture follows the quality a movie sets, as in Flash.
NATIVE(StQuality) {
  const std::string& q = B(m).stage.ScriptQuality();
  return m.Str(q.empty() ? "HIGH" : q);
}
NATIVE(StSetQuality) {
  B(m).stage.SetScriptQuality(m.ToString(m.ArgOr(a, 0)));
  return Value();
}
NATIVE(StDisplayState) { return m.Str("normal"); }
NATIVE(StSetIgnored) { return Value(); }
NATIVE(StFocus) {
  As3Display& b = B(m);
  FlashObject* f = Fo(b.focus);
  return f && b.OnStage(f->handle) ? b.focus : Value::Null();
}
NATIVE(StSetFocus) {
  FlashObject* f = Fo(m.ArgOr(a, 0));
  B(m).focus = f ? Value::Obj(f) : Value::Null();
  return Value();
}
NATIVE(StInvalidate) {
  B(m).invalidated = true;
  return Value();
}

// ---- Timer

NATIVE(TimerCtor) {
  if (FlashObject* t = Fo(self)) {
    t->delay = avm2::ArgNum(m, a, 0, 1000);
    t->repeat = m.ToInt(m.ArgOr(a, 1));
  }
  return self;
}
NATIVE(TimerStart) {
  FlashObject* t = Fo(self);
  if (!t || t->running) return Value();
  As3Display& b = B(m);
  t->running = true;
  t->due = m.clockMs() + std::max(t->delay, 1.0);
  if (std::find(b.timers.begin(), b.timers.end(), t) == b.timers.end()) b.timers.push_back(t);
  return Value();
}
NATIVE(TimerStop) {
  if (FlashObject* t = Fo(self)) t->running = false;
  return Value();
}
NATIVE(TimerReset) {
  if (FlashObject* t = Fo(self)) t->running = false, t->count = 0;
  return Value();
}
NATIVE(TimerRunning) { FlashObject* t = Fo(self); return Value::Bool(t && t->running); }
NATIVE(TimerCount) { FlashObject* t = Fo(self); return Value::Int(t ? t->count : 0); }
NATIVE(TimerDelay) { FlashObject* t = Fo(self); return Value::Number(t ? t->delay : 0); }
NATIVE(TimerSetDelay) { if (FlashObject* t = Fo(self)) t->delay = avm2::ArgNum(m, a, 0, 1000); return Value(); }
NATIVE(TimerRepeat) { FlashObject* t = Fo(self); return Value::Int(t ? t->repeat : 0); }
NATIVE(TimerSetRepeat) { if (FlashObject* t = Fo(self)) t->repeat = m.ToInt(m.ArgOr(a, 0)); return Value(); }

// ---- flash.geom (dynamic objects with named fields)

Value Get(Machine& m, const Value& self, const char* n) { return m.GetProperty(self, n); }
double GetN(Machine& m, const Value& self, const char* n) { return m.ToNumber(Get(m, self, n)); }
void Set(Machine& m, const Value& self, const char* n, double v) {
  if (Object* o = self.AsObject()) o->SetDyn(m.Intern(n), Value::Number(v));
}
NATIVE(PointCtor) {
  Set(m, self, "x", avm2::ArgNum(m, a, 0, 0));
  Set(m, self, "y", avm2::ArgNum(m, a, 1, 0));
  return self;
}
Value NewPoint(Machine& m, double x, double y) {
  Value args[2] = {Value::Number(x), Value::Number(y)};
  return Value::Obj(m.Construct(B(m).pointClass, args));
}
NATIVE(PointLength) { return Value::Number(std::hypot(GetN(m, self, "x"), GetN(m, self, "y"))); }
NATIVE(PointAdd) { return NewPoint(m, GetN(m, self, "x") + GetN(m, m.ArgOr(a, 0), "x"), GetN(m, self, "y") + GetN(m, m.ArgOr(a, 0), "y")); }
NATIVE(PointSubtract) { return NewPoint(m, GetN(m, self, "x") - GetN(m, m.ArgOr(a, 0), "x"), GetN(m, self, "y") - GetN(m, m.ArgOr(a, 0), "y")); }
NATIVE(PointClone) { return NewPoint(m, GetN(m, self, "x"), GetN(m, self, "y")); }
NATIVE(PointOffset) {
  Set(m, self, "x", GetN(m, self, "x") + avm2::ArgNum(m, a, 0, 0));
  Set(m, self, "y", GetN(m, self, "y") + avm2::ArgNum(m, a, 1, 0));
  return Value();
}
NATIVE(PointNormalize) {
  const double x = GetN(m, self, "x"), y = GetN(m, self, "y"), l = std::hypot(x, y), t = avm2::ArgNum(m, a, 0, 1);
  if (l > 0) Set(m, self, "x", x / l * t), Set(m, self, "y", y / l * t);
  return Value();
}
NATIVE(PointEquals) { return Value::Bool(GetN(m, self, "x") == GetN(m, m.ArgOr(a, 0), "x") && GetN(m, self, "y") == GetN(m, m.ArgOr(a, 0), "y")); }
NATIVE(PointToString) { return m.Str("(x=" + m.ToString(Get(m, self, "x")) + ", y=" + m.ToString(Get(m, self, "y")) + ")"); }
NATIVE(PointDistance) {
  const Value p = m.ArgOr(a, 0), q = m.ArgOr(a, 1);
  return Value::Number(std::hypot(GetN(m, p, "x") - GetN(m, q, "x"), GetN(m, p, "y") - GetN(m, q, "y")));
}
NATIVE(PointInterpolate) {
  const Value p = m.ArgOr(a, 0), q = m.ArgOr(a, 1);
  const double f = avm2::ArgNum(m, a, 2, 0);
  return NewPoint(m, GetN(m, q, "x") + f * (GetN(m, p, "x") - GetN(m, q, "x")), GetN(m, q, "y") + f * (GetN(m, p, "y") - GetN(m, q, "y")));
}
NATIVE(PointPolar) {
  const double l = avm2::ArgNum(m, a, 0, 0), an = avm2::ArgNum(m, a, 1, 0);
  return NewPoint(m, l * std::cos(an), l * std::sin(an));
}
NATIVE(RectCtor) {
  Set(m, self, "x", avm2::ArgNum(m, a, 0, 0));
  Set(m, self, "y", avm2::ArgNum(m, a, 1, 0));
  Set(m, self, "width", avm2::ArgNum(m, a, 2, 0));
  Set(m, self, "height", avm2::ArgNum(m, a, 3, 0));
  return self;
}
Value NewRect(Machine& m, double x, double y, double w, double h) {
  Value args[4] = {Value::Number(x), Value::Number(y), Value::Number(w), Value::Number(h)};
  return Value::Obj(m.Construct(B(m).rectangleClass, args));
}
NATIVE(RectLeft) { return Value::Number(GetN(m, self, "x")); }
NATIVE(RectTop) { return Value::Number(GetN(m, self, "y")); }
NATIVE(RectRight) { return Value::Number(GetN(m, self, "x") + GetN(m, self, "width")); }
NATIVE(RectBottom) { return Value::Number(GetN(m, self, "y") + GetN(m, self, "height")); }
NATIVE(RectIsEmpty) { return Value::Bool(!(GetN(m, self, "width") > 0 && GetN(m, self, "height") > 0)); }
NATIVE(RectContains) {
  const double x = avm2::ArgNum(m, a, 0, 0), y = avm2::ArgNum(m, a, 1, 0);
  const double rx = GetN(m, self, "x"), ry = GetN(m, self, "y");
  return Value::Bool(x >= rx && y >= ry && x < rx + GetN(m, self, "width") && y < ry + GetN(m, self, "height"));
}
NATIVE(RectContainsPoint) {
  Value args[2] = {Get(m, m.ArgOr(a, 0), "x"), Get(m, m.ArgOr(a, 0), "y")};
  return RectContains(m, self, args);
}
NATIVE(RectClone) { return NewRect(m, GetN(m, self, "x"), GetN(m, self, "y"), GetN(m, self, "width"), GetN(m, self, "height")); }
NATIVE(RectIntersects) {
  const Value o = m.ArgOr(a, 0);
  const double x0 = std::max(GetN(m, self, "x"), GetN(m, o, "x"));
  const double y0 = std::max(GetN(m, self, "y"), GetN(m, o, "y"));
  const double x1 = std::min(GetN(m, self, "x") + GetN(m, self, "width"), GetN(m, o, "x") + GetN(m, o, "width"));
  const double y1 = std::min(GetN(m, self, "y") + GetN(m, self, "height"), GetN(m, o, "y") + GetN(m, o, "height"));
  return Value::Bool(x1 > x0 && y1 > y0);
}
NATIVE(RectIntersection) {
  const Value o = m.ArgOr(a, 0);
  const double x0 = std::max(GetN(m, self, "x"), GetN(m, o, "x"));
  const double y0 = std::max(GetN(m, self, "y"), GetN(m, o, "y"));
  const double x1 = std::min(GetN(m, self, "x") + GetN(m, self, "width"), GetN(m, o, "x") + GetN(m, o, "width"));
  const double y1 = std::min(GetN(m, self, "y") + GetN(m, self, "height"), GetN(m, o, "y") + GetN(m, o, "height"));
  if (x1 <= x0 || y1 <= y0) return NewRect(m, 0, 0, 0, 0);
  return NewRect(m, x0, y0, x1 - x0, y1 - y0);
}
NATIVE(RectUnion) {
  const Value o = m.ArgOr(a, 0);
  const double x0 = std::min(GetN(m, self, "x"), GetN(m, o, "x"));
  const double y0 = std::min(GetN(m, self, "y"), GetN(m, o, "y"));
  const double x1 = std::max(GetN(m, self, "x") + GetN(m, self, "width"), GetN(m, o, "x") + GetN(m, o, "width"));
  const double y1 = std::max(GetN(m, self, "y") + GetN(m, self, "height"), GetN(m, o, "y") + GetN(m, o, "height"));
  return NewRect(m, x0, y0, x1 - x0, y1 - y0);
}
NATIVE(RectOffset) {
  Set(m, self, "x", GetN(m, self, "x") + avm2::ArgNum(m, a, 0, 0));
  Set(m, self, "y", GetN(m, self, "y") + avm2::ArgNum(m, a, 1, 0));
  return Value();
}
NATIVE(RectInflate) {
  const double dx = avm2::ArgNum(m, a, 0, 0), dy = avm2::ArgNum(m, a, 1, 0);
  Set(m, self, "x", GetN(m, self, "x") - dx);
  Set(m, self, "y", GetN(m, self, "y") - dy);
  Set(m, self, "width", GetN(m, self, "width") + 2 * dx);
  Set(m, self, "height", GetN(m, self, "height") + 2 * dy);
  return Value();
}
NATIVE(RectSetTo) { return RectCtor(m, self, a); }
NATIVE(RectToString) {
  return m.Str("(x=" + m.ToString(Get(m, self, "x")) + ", y=" + m.ToString(Get(m, self, "y")) + ", w=" +
               m.ToString(Get(m, self, "width")) + ", h=" + m.ToString(Get(m, self, "height")) + ")");
}
NATIVE(MatrixCtor) {
  Set(m, self, "a", avm2::ArgNum(m, a, 0, 1));
  Set(m, self, "b", avm2::ArgNum(m, a, 1, 0));
  Set(m, self, "c", avm2::ArgNum(m, a, 2, 0));
  Set(m, self, "d", avm2::ArgNum(m, a, 3, 1));
  Set(m, self, "tx", avm2::ArgNum(m, a, 4, 0));
  Set(m, self, "ty", avm2::ArgNum(m, a, 5, 0));
  return self;
}
struct M6 {
  double a, b, c, d, tx, ty;
};
M6 ReadM(Machine& m, const Value& v) {
  return {GetN(m, v, "a"), GetN(m, v, "b"), GetN(m, v, "c"), GetN(m, v, "d"), GetN(m, v, "tx"), GetN(m, v, "ty")};
}
void WriteM(Machine& m, const Value& v, const M6& x) {
  Set(m, v, "a", x.a), Set(m, v, "b", x.b), Set(m, v, "c", x.c), Set(m, v, "d", x.d), Set(m, v, "tx", x.tx), Set(m, v, "ty", x.ty);
}
// this then other.
M6 Concat(const M6& p, const M6& q) {
  return {p.a * q.a + p.b * q.c, p.a * q.b + p.b * q.d, p.c * q.a + p.d * q.c, p.c * q.b + p.d * q.d,
          p.tx * q.a + p.ty * q.c + q.tx, p.tx * q.b + p.ty * q.d + q.ty};
}
NATIVE(MatrixIdentity) { WriteM(m, self, {1, 0, 0, 1, 0, 0}); return Value(); }
NATIVE(MatrixTranslate) {
  M6 x = ReadM(m, self);
  x.tx += avm2::ArgNum(m, a, 0, 0), x.ty += avm2::ArgNum(m, a, 1, 0);
  WriteM(m, self, x);
  return Value();
}
NATIVE(MatrixScale) {
  const double sx = avm2::ArgNum(m, a, 0, 1), sy = avm2::ArgNum(m, a, 1, 1);
  WriteM(m, self, Concat(ReadM(m, self), {sx, 0, 0, sy, 0, 0}));
  return Value();
}
NATIVE(MatrixRotate) {
  const double r = avm2::ArgNum(m, a, 0, 0);
  WriteM(m, self, Concat(ReadM(m, self), {std::cos(r), std::sin(r), -std::sin(r), std::cos(r), 0, 0}));
  return Value();
}
NATIVE(MatrixConcat) {
  WriteM(m, self, Concat(ReadM(m, self), ReadM(m, m.ArgOr(a, 0))));
  return Value();
}
NATIVE(MatrixInvert) {
  const M6 x = ReadM(m, self);
  const double det = x.a * x.d - x.b * x.c;
  if (det == 0) {
    WriteM(m, self, {0, 0, 0, 0, -x.tx, -x.ty});
    return Value();
  }
  WriteM(m, self, {x.d / det, -x.b / det, -x.c / det, x.a / det, (x.c * x.ty - x.d * x.tx) / det, (x.b * x.tx - x.a * x.ty) / det});
  return Value();
}
NATIVE(MatrixTransformPoint) {
  const M6 x = ReadM(m, self);
  const double px = GetN(m, m.ArgOr(a, 0), "x"), py = GetN(m, m.ArgOr(a, 0), "y");
  return NewPoint(m, x.a * px + x.c * py + x.tx, x.b * px + x.d * py + x.ty);
}
NATIVE(MatrixDeltaTransformPoint) {
  const M6 x = ReadM(m, self);
  const double px = GetN(m, m.ArgOr(a, 0), "x"), py = GetN(m, m.ArgOr(a, 0), "y");
  return NewPoint(m, x.a * px + x.c * py, x.b * px + x.d * py);
}
NATIVE(MatrixCreateBox) {
  const double sx = avm2::ArgNum(m, a, 0, 1), sy = avm2::ArgNum(m, a, 1, 1), r = avm2::ArgNum(m, a, 2, 0);
  WriteM(m, self, {sx * std::cos(r), sx * std::sin(r), -sy * std::sin(r), sy * std::cos(r), avm2::ArgNum(m, a, 3, 0), avm2::ArgNum(m, a, 4, 0)});
  return Value();
}
NATIVE(MatrixCreateGradientBox) {
  const double w = avm2::ArgNum(m, a, 0, 0), h = avm2::ArgNum(m, a, 1, 0), r = avm2::ArgNum(m, a, 2, 0);
  const double tx = avm2::ArgNum(m, a, 3, 0), ty = avm2::ArgNum(m, a, 4, 0);
  WriteM(m, self, {w / 1638.4 * std::cos(r), w / 1638.4 * std::sin(r), -h / 1638.4 * std::sin(r), h / 1638.4 * std::cos(r),
                   tx + w / 2, ty + h / 2});
  return Value();
}
NATIVE(MatrixClone) {
  const M6 x = ReadM(m, self);
  Value args[6] = {Value::Number(x.a), Value::Number(x.b), Value::Number(x.c), Value::Number(x.d), Value::Number(x.tx), Value::Number(x.ty)};
  return Value::Obj(m.Construct(B(m).matrixClass, args));
}
NATIVE(MatrixToString) {
  const M6 x = ReadM(m, self);
  return m.Str("(a=" + avm2::NumberToString(x.a) + ", b=" + avm2::NumberToString(x.b) + ", c=" + avm2::NumberToString(x.c) +
               ", d=" + avm2::NumberToString(x.d) + ", tx=" + avm2::NumberToString(x.tx) + ", ty=" + avm2::NumberToString(x.ty) + ")");
}
NATIVE(CtCtor) {
  const char* names[] = {"redMultiplier", "greenMultiplier", "blueMultiplier", "alphaMultiplier",
                         "redOffset", "greenOffset", "blueOffset", "alphaOffset"};
  for (int i = 0; i < 8; ++i) Set(m, self, names[i], avm2::ArgNum(m, a, static_cast<std::size_t>(i), i < 4 ? 1 : 0));
  return self;
}
NATIVE(CtGetColor) {
  const auto c = (static_cast<std::uint32_t>(GetN(m, self, "redOffset")) & 255) << 16 |
                 (static_cast<std::uint32_t>(GetN(m, self, "greenOffset")) & 255) << 8 |
                 (static_cast<std::uint32_t>(GetN(m, self, "blueOffset")) & 255);
  return Value::Number(c);
}
NATIVE(CtSetColor) {
  const std::uint32_t c = m.ToUint(m.ArgOr(a, 0));
  Set(m, self, "redMultiplier", 0), Set(m, self, "greenMultiplier", 0), Set(m, self, "blueMultiplier", 0);
  Set(m, self, "redOffset", (c >> 16) & 255), Set(m, self, "greenOffset", (c >> 8) & 255), Set(m, self, "blueOffset", c & 255);
  return Value();
}
NATIVE(CtConcat) {
  const Value o = m.ArgOr(a, 0);
  for (const char* ch : {"red", "green", "blue", "alpha"}) {
    const std::string mul = std::string(ch) + "Multiplier", off = std::string(ch) + "Offset";
    const double m1 = GetN(m, self, mul.c_str()), o1 = GetN(m, self, off.c_str());
    const double m2 = GetN(m, o, mul.c_str()), o2 = GetN(m, o, off.c_str());
    Set(m, self, off.c_str(), o1 + m1 * o2);
    Set(m, self, mul.c_str(), m1 * m2);
  }
  return Value();
}

// ---- BitmapData (premultiplied ARGB32 pixels on a Cairo surface) and Bitmap

FlashObject* SelfBitmap(Machine& m, const Value& self) {
  FlashObject* f = Fo(self);
  if (!f || !f->bitmap) m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
  return f;
}
void Changed(Machine& m, FlashObject* bd) {
  cairo_surface_mark_dirty(bd->bitmap->surface.get());
  bd->bitmap->tinted.clear();
  bd->bitmap->reduced.clear();
  if (!bd->changed) {
    bd->changed = true;
    B(m).changedBitmaps.push_back(bd);
  }
}
std::shared_ptr<BitmapDef> NewPicture(Machine& m, int w, int h) {
  As3Display& b = B(m);
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels ||
      b.bitmapBytes + static_cast<std::size_t>(w) * h * 4 > static_cast<std::size_t>(kMaxBitmapBytesTotal))
    m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
  auto def = std::make_shared<BitmapDef>();
  def->width = w;
  def->height = h;
  def->surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  b.bitmapBytes += static_cast<std::size_t>(w) * h * 4;
  b.bitmapDefs.push_back(def);
  return def;
}
std::uint32_t Premultiply(std::uint32_t argb, bool transparent) {
  std::uint32_t a = transparent ? argb >> 24 : 255;
  const std::uint32_t r = (argb >> 16) & 255, g = (argb >> 8) & 255, bl = argb & 255;
  return a << 24 | (r * a / 255) << 16 | (g * a / 255) << 8 | (bl * a / 255);
}
std::uint32_t Unpremultiply(std::uint32_t p) {
  const std::uint32_t a = p >> 24;
  if (a == 0) return 0;
  const std::uint32_t r = ((p >> 16) & 255) * 255 / a, g = ((p >> 8) & 255) * 255 / a, bl = (p & 255) * 255 / a;
  return a << 24 | std::min(r, 255u) << 16 | std::min(g, 255u) << 8 | std::min(bl, 255u);
}
std::uint32_t* Row(BitmapDef& d, int y) {
  cairo_surface_t* s = d.surface.get();
  return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(s) + static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(s));
}
void Fill(BitmapDef& d, int x0, int y0, int w, int h, std::uint32_t premul) {
  cairo_surface_flush(d.surface.get());
  const int x1 = std::min(d.width, x0 + w), y1 = std::min(d.height, y0 + h);
  for (int y = std::max(0, y0); y < y1; ++y) {
    std::uint32_t* row = Row(d, y);
    for (int x = std::max(0, x0); x < x1; ++x) row[x] = premul;
  }
}
// A picture of the library (a class linked to a DefineBits symbol) copied in.
void CopyPicture(BitmapDef& to, const BitmapDef& from) {
  cairo_t* cr = cairo_create(to.surface.get());
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, from.surface.get(), 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
}
const BitmapDef* LinkedPicture(Machine& m, Class* cls) {
  As3Display& b = B(m);
  const auto [symbols, id] = b.SymbolOf(cls);
  const Character* d = symbols ? symbols->Find(id) : nullptr;
  if (d && d->kind == Character::Kind::kBitmap) return static_cast<const BitmapDef*>(d);
  return nullptr;
}
NATIVE(BdCtor) {
  FlashObject* f = Fo(self);
  if (!f) return self;
  const BitmapDef* linked = LinkedPicture(m, f->cls);
  int w = static_cast<int>(std::clamp(avm2::ArgNum(m, a, 0, 0), -1.0, 1e6));
  int h = static_cast<int>(std::clamp(avm2::ArgNum(m, a, 1, 0), -1.0, 1e6));
  if (linked) w = linked->width, h = linked->height;
  f->transparent = a.size() < 3 || m.ToBoolean(a[2]);
  f->bitmap = NewPicture(m, w, h);
  if (linked) CopyPicture(*f->bitmap, *linked);
  else Fill(*f->bitmap, 0, 0, w, h, Premultiply(a.size() > 3 ? m.ToUint(a[3]) : 0xFFFFFFFFu, f->transparent));
  cairo_surface_mark_dirty(f->bitmap->surface.get());
  return self;
}
NATIVE(BdWidth) { return Value::Int(SelfBitmap(m, self)->bitmap->width); }
NATIVE(BdHeight) { return Value::Int(SelfBitmap(m, self)->bitmap->height); }
NATIVE(BdTransparent) { return Value::Bool(SelfBitmap(m, self)->transparent); }
NATIVE(BdRect) {
  FlashObject* f = SelfBitmap(m, self);
  return NewRect(m, 0, 0, f->bitmap->width, f->bitmap->height);
}
NATIVE(BdFillRect) {
  FlashObject* f = SelfBitmap(m, self);
  const Value r = m.ArgOr(a, 0);
  if (!r.IsObject()) m.ThrowError("TypeError", "Parameter rect must be non-null.", 2007);
  const int x = static_cast<int>(std::floor(GetN(m, r, "x"))), y = static_cast<int>(std::floor(GetN(m, r, "y")));
  const int w = static_cast<int>(std::ceil(GetN(m, r, "width"))), h = static_cast<int>(std::ceil(GetN(m, r, "height")));
  Fill(*f->bitmap, x, y, w, h, Premultiply(m.ToUint(m.ArgOr(a, 1)), f->transparent));
  Changed(m, f);
  return Value();
}
template <bool kAlpha>
Value BdSetPixel(Machine& m, Value self, std::span<Value> a) {
  FlashObject* f = SelfBitmap(m, self);
  const int x = m.ToInt(m.ArgOr(a, 0)), y = m.ToInt(m.ArgOr(a, 1));
  if (x < 0 || y < 0 || x >= f->bitmap->width || y >= f->bitmap->height) return Value();
  cairo_surface_flush(f->bitmap->surface.get());
  std::uint32_t c = m.ToUint(m.ArgOr(a, 2));
  if (!kAlpha) c = (Unpremultiply(Row(*f->bitmap, y)[x]) & 0xFF000000u) | (c & 0xFFFFFF);
  Row(*f->bitmap, y)[x] = Premultiply(c, f->transparent);
  Changed(m, f);
  return Value();
}
template <bool kAlpha>
Value BdGetPixel(Machine& m, Value self, std::span<Value> a) {
  FlashObject* f = SelfBitmap(m, self);
  const int x = m.ToInt(m.ArgOr(a, 0)), y = m.ToInt(m.ArgOr(a, 1));
  if (x < 0 || y < 0 || x >= f->bitmap->width || y >= f->bitmap->height) return Value::Int(0);
  cairo_surface_flush(f->bitmap->surface.get());
  const std::uint32_t c = Unpremultiply(Row(*f->bitmap, y)[x]);
  return Value::Number(kAlpha ? c : c & 0xFFFFFF);
}
NATIVE(BdClone) {
  FlashObject* f = SelfBitmap(m, self);
  auto* c = static_cast<FlashObject*>(m.Instantiate(f->cls));
  c->transparent = f->transparent;
  c->bitmap = NewPicture(m, f->bitmap->width, f->bitmap->height);
  cairo_surface_flush(f->bitmap->surface.get());
  CopyPicture(*c->bitmap, *f->bitmap);
  return Value::Obj(c);
}
NATIVE(BdCopyPixels) {
  FlashObject* f = SelfBitmap(m, self);
  FlashObject* src = Fo(m.ArgOr(a, 0));
  const Value r = m.ArgOr(a, 1), p = m.ArgOr(a, 2);
  if (!src || !src->bitmap || !r.IsObject() || !p.IsObject()) m.ThrowError("TypeError", "Parameter must be non-null.", 2007);
  const bool merge = a.size() > 5 && m.ToBoolean(a[5]);
  cairo_surface_flush(src->bitmap->surface.get());
  cairo_t* cr = cairo_create(f->bitmap->surface.get());
  const double dx = std::floor(GetN(m, p, "x")), dy = std::floor(GetN(m, p, "y"));
  const double sx = std::floor(GetN(m, r, "x")), sy = std::floor(GetN(m, r, "y"));
  cairo_rectangle(cr, dx, dy, std::ceil(GetN(m, r, "width")), std::ceil(GetN(m, r, "height")));
  cairo_clip(cr);
  cairo_set_operator(cr, merge && f->transparent ? CAIRO_OPERATOR_OVER : CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, src->bitmap->surface.get(), dx - sx, dy - sy);
  cairo_paint(cr);
  cairo_destroy(cr);
  Changed(m, f);
  return Value();
}
NATIVE(BdDispose) {
  if (FlashObject* f = Fo(self)) f->bitmap.reset();
  return Value();
}
// The shared pixel engine (as ActionScript 2 has it) on this picture.
std::shared_ptr<BitmapData> PixelEngine(Machine& m, FlashObject* f) {
  cairo_surface_flush(f->bitmap->surface.get());
  auto e = BitmapData::Wrap(f->bitmap, f->transparent);
  if (!e) m.ThrowError("ArgumentError", "Invalid BitmapData.", 2015);
  return e;
}
PixelRect RectArg(Machine& m, const Value& r) {
  if (!r.IsObject()) m.ThrowError("TypeError", "Parameter rect must be non-null.", 2007);
  auto whole = [&](const char* n, bool up) {
    const double d = GetN(m, r, n);
    return std::isfinite(d) ? static_cast<int>(std::clamp(up ? std::ceil(d) : std::floor(d), -1e7, 1e7)) : 0;
  };
  return PixelRect{whole("x", false), whole("y", false), whole("width", true), whole("height", true)};
}
NATIVE(BdColorTransform) {
  FlashObject* f = SelfBitmap(m, self);
  const PixelRect r = RectArg(m, m.ArgOr(a, 0));
  const Value ct = m.ArgOr(a, 1);
  if (!ct.IsObject()) m.ThrowError("TypeError", "Parameter colorTransform must be non-null.", 2007);
  PixelEngine(m, f)->ApplyColorTransform(r, ScriptColorTransform(m, ct));
  Changed(m, f);
  return Value();
}
NATIVE(BdNoise) {
  FlashObject* f = SelfBitmap(m, self);
  const int low = a.size() > 1 ? std::clamp(m.ToInt(a[1]), 0, 255) : 0;
  const int high = a.size() > 2 ? std::clamp(m.ToInt(a[2]), 0, 255) : 255;
  const int channels = a.size() > 3 ? m.ToInt(a[3]) & 15 : 7;
  PixelEngine(m, f)->Noise(m.ToInt(m.ArgOr(a, 0)), low, high, channels, a.size() > 4 && m.ToBoolean(a[4]));
  Changed(m, f);
  return Value();
}
NATIVE(BdPerlinNoise) {
  FlashObject* f = SelfBitmap(m, self);
  auto num = [&](std::size_t i) {
    const double d = i < a.size() ? m.ToNumber(a[i]) : 0;
    return std::isfinite(d) ? d : 0.0;
  };
  std::vector<std::pair<double, double>> offsets;
  if (avm2::ArrayObject* arr = a.size() > 8 ? avm2::AsArray(a[8]) : nullptr)
    for (const Value& p : arr->elems) offsets.emplace_back(GetN(m, p, "x"), GetN(m, p, "y"));
  const int octaves = std::clamp(static_cast<int>(num(2)), 0, 32);
  PixelEngine(m, f)->PerlinNoise(num(0), num(1), octaves, m.ToInt(m.ArgOr(a, 3)), a.size() > 4 && m.ToBoolean(a[4]),
                                 a.size() > 5 && m.ToBoolean(a[5]), a.size() > 6 ? m.ToInt(a[6]) & 15 : 7,
                                 a.size() > 7 && m.ToBoolean(a[7]), offsets);
  Changed(m, f);
  return Value();
}
NATIVE(BdFloodFill) {
  FlashObject* f = SelfBitmap(m, self);
  PixelEngine(m, f)->FloodFill(m.ToInt(m.ArgOr(a, 0)), m.ToInt(m.ArgOr(a, 1)), m.ToUint(m.ArgOr(a, 2)));
  Changed(m, f);
  return Value();
}
NATIVE(BdScroll) {
  FlashObject* f = SelfBitmap(m, self);
  PixelEngine(m, f)->Scroll(m.ToInt(m.ArgOr(a, 0)), m.ToInt(m.ArgOr(a, 1)));
  Changed(m, f);
  return Value();
}
NATIVE(BdApplyFilter) {
  FlashObject* f = SelfBitmap(m, self);
  FlashObject* src = Fo(m.ArgOr(a, 0));
  const Value r = m.ArgOr(a, 1), p = m.ArgOr(a, 2);
  if (!src || !src->bitmap || !r.IsObject() || !p.IsObject()) m.ThrowError("TypeError", "Parameter must be non-null.", 2007);
  Filter flt;
  if (!ToFilter(m, m.ArgOr(a, 3), flt)) return Value();
  const int sx = static_cast<int>(std::floor(GetN(m, r, "x"))), sy = static_cast<int>(std::floor(GetN(m, r, "y")));
  const int w = static_cast<int>(std::ceil(GetN(m, r, "width"))), h = static_cast<int>(std::ceil(GetN(m, r, "height")));
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxBitmapPixels) return Value();
  // The source rectangle alone on a picture of its own, filtered, then put in place.
  cairo_surface_flush(src->bitmap->surface.get());
  SurfacePtr tmp(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_t* cr = cairo_create(tmp.get());
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, src->bitmap->surface.get(), -sx, -sy);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(tmp.get());
  ApplyFilters(tmp.get(), {flt}, 1.0, true);
  cairo_surface_mark_dirty(tmp.get());
  cr = cairo_create(f->bitmap->surface.get());
  const double dx = std::floor(GetN(m, p, "x")), dy = std::floor(GetN(m, p, "y"));
  cairo_rectangle(cr, dx, dy, w, h);
  cairo_clip(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, tmp.get(), dx, dy);
  cairo_paint(cr);
  cairo_destroy(cr);
  Changed(m, f);
  return Value();
}
// draw(source, matrix, colorTransform, blendMode, clipRect, smoothing) and
// drawWithQuality(..., quality): a BitmapData, or a display object's content
// without its own placement, rendered as the stage renders it.
cairo_operator_t DrawOperator(const std::string& mode) {
  static const std::pair<const char*, cairo_operator_t> kOps[] = {
      {"multiply", CAIRO_OPERATOR_MULTIPLY}, {"screen", CAIRO_OPERATOR_SCREEN},
      {"lighten", CAIRO_OPERATOR_LIGHTEN},   {"darken", CAIRO_OPERATOR_DARKEN},
      {"difference", CAIRO_OPERATOR_DIFFERENCE}, {"add", CAIRO_OPERATOR_ADD},
      {"alpha", CAIRO_OPERATOR_DEST_IN},     {"erase", CAIRO_OPERATOR_DEST_OUT},
      {"overlay", CAIRO_OPERATOR_OVERLAY},   {"hardlight", CAIRO_OPERATOR_HARD_LIGHT}};
  for (const auto& [name, op] : kOps)
    if (mode == name) return op;
  return CAIRO_OPERATOR_OVER;
}
Value DrawInto(Machine& m, const Value& self, std::span<Value> a, Quality quality) {
  FlashObject* f = SelfBitmap(m, self);
  const Value source = m.ArgOr(a, 0);
  FlashObject* src = Fo(source);
  if (!src) m.ThrowError("TypeError", "Parameter source must be non-null.", 2007);
  cairo_matrix_t mx;
  cairo_matrix_init_identity(&mx);
  if (a.size() > 1 && a[1].IsObject()) {
    auto num = [&](const char* n, double dflt) {
      const double d = GetN(m, a[1], n);
      return std::isfinite(d) ? d : dflt;
    };
    cairo_matrix_init(&mx, num("a", 1), num("b", 0), num("c", 0), num("d", 1), num("tx", 0), num("ty", 0));
  }
  const ColorTransform cx = a.size() > 2 && a[2].IsObject() ? ScriptColorTransform(m, a[2]) : ColorTransform{};
  const cairo_operator_t op = a.size() > 3 && !a[3].IsNullish() ? DrawOperator(m.ToString(a[3])) : CAIRO_OPERATOR_OVER;
  PixelRect clip;
  const bool clipped = a.size() > 4 && a[4].IsObject();
  if (clipped) {
    clip.x = static_cast<int>(std::floor(GetN(m, a[4], "x")));
    clip.y = static_cast<int>(std::floor(GetN(m, a[4], "y")));
    clip.width = static_cast<int>(std::ceil(GetN(m, a[4], "width")));
    clip.height = static_cast<int>(std::ceil(GetN(m, a[4], "height")));
  }
  const bool smooth = a.size() > 5 && m.ToBoolean(a[5]);
  cairo_surface_t* target = f->bitmap->surface.get();
  cairo_surface_flush(target);
  if (src->bitmap) {
    DrawBitmapOnto(target, f->transparent, src->bitmap->surface.get(), mx, cx, op, clipped ? &clip : nullptr, smooth);
    Changed(m, f);
    return Value();
  }
  Instance* node = B(m).Node(src->handle);
  if (!node) return Value();
  std::vector<DrawnItem> items;
  ListDrawnItemsOf(*node, items);
  SurfacePtr layer(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, f->bitmap->width, f->bitmap->height));
  if (cairo_surface_status(layer.get()) != CAIRO_STATUS_SUCCESS) return Value();
  cairo_t* cr = cairo_create(layer.get());
  cairo_matrix_t twips, base;
  cairo_matrix_init_scale(&twips, 1 / 20.0, 1 / 20.0);
  cairo_matrix_multiply(&base, &twips, &mx);
  RenderOptions options;
  options.quality = quality;
  // Filters inside spread by the scale the matrix gives.
  options.stageScale = std::sqrt(std::fabs(base.xx * base.yy - base.xy * base.yx));
  RenderItems(cr, B(m).lib, items, base, options);
  cairo_destroy(cr);
  cairo_surface_flush(layer.get());
  CompositeOntoBitmap(target, f->transparent, layer.get(), cx, op, clipped ? &clip : nullptr);
  Changed(m, f);
  return Value();
}
// The stage's quality, as scripts read it (HIGH).
constexpr Quality kStageQuality = Quality::qHigh;
NATIVE(BdDraw) { return DrawInto(m, self, a, kStageQuality); }
NATIVE(BdDrawWithQuality) {
  const std::string q = a.size() > 6 && !a[6].IsNullish() ? m.ToString(a[6]) : "";
  Quality quality = kStageQuality;
  if (q == "low") quality = Quality::qLow;
  else if (q == "medium") quality = Quality::qMedium;
  else if (q == "high") quality = Quality::qHigh;
  else if (q == "best" || q.rfind("16x16", 0) == 0 || q.rfind("8x8", 0) == 0) quality = Quality::qBest;
  return DrawInto(m, self, a, quality);
}
NATIVE(BitmapCtor) {
  FlashObject* f = Fo(self);
  FlashObject* bd = Fo(m.ArgOr(a, 0));
  if (!f || f->handle != kNoClip) return self;
  As3Display& b = B(m);
  // A Bitmap is a picture, never a timeline: its node is made for its picture.
  const Character* def = &b.emptyShape;
  if (bd && bd->bitmap) def = bd->bitmap.get();
  else if (const BitmapDef* linked = LinkedPicture(m, f->cls)) def = linked;
  Instance* inst = b.NewNode(def);
  if (!inst) m.ThrowError("Error", "Too many display objects.", 1000);
  f->handle = inst->serial;
  b.objects[f->handle] = f;
  if (bd && bd->bitmap) {
    bd->shownBy.push_back(f->handle);
    f->bitmapData = Value::Obj(bd);
  }
  // new Bitmap(data, pixelSnapping, smoothing)
  if (a.size() > 1 && !a[1].IsNullish()) f->message = m.ToString(a[1]);
  inst->bitmapSmoothing = m.ToBoolean(m.ArgOr(a, 2));
  return self;
}
NATIVE(BitmapGetSmoothing) {
  Instance* i = SelfNode(m, self);
  return Value::Bool(i && i->bitmapSmoothing);
}
NATIVE(BitmapSetSmoothing) {
  if (Instance* i = SelfNode(m, self)) i->bitmapSmoothing = m.ToBoolean(m.ArgOr(a, 0));
  return Value();
}
// pixelSnapping: kept (in the object's text slot) and read back; drawing does not snap.
NATIVE(BitmapGetSnapping) {
  FlashObject* f = Fo(self);
  return m.Str(f && !f->message.empty() ? f->message : "auto");
}
NATIVE(BitmapSetSnapping) {
  if (FlashObject* f = Fo(self)) f->message = m.ToString(m.ArgOr(a, 0));
  return Value();
}
NATIVE(BitmapGetData) {
  FlashObject* f = Fo(self);
  if (!f) return Value::Null();
  if (!f->bitmapData.IsObject()) {
    // A bitmap symbol placed or made from its class: its pixels as BitmapData.
    Instance* i = B(m).Node(f->handle);
    if (!i || !i->def || i->def->kind != Character::Kind::kBitmap) return Value::Null();
    const auto* pic = static_cast<const BitmapDef*>(i->def);
    auto* bd = static_cast<FlashObject*>(m.Instantiate(m.FindClass("flash.display::BitmapData")));
    bd->bitmap = NewPicture(m, pic->width, pic->height);
    CopyPicture(*bd->bitmap, *pic);
    i->def = bd->bitmap.get();
    bd->shownBy.push_back(f->handle);
    f->bitmapData = Value::Obj(bd);
  }
  return f->bitmapData;
}
NATIVE(BitmapSetData) {
  FlashObject* f = Fo(self);
  FlashObject* bd = Fo(m.ArgOr(a, 0));
  Instance* i = f ? B(m).Node(f->handle) : nullptr;
  if (!f || !i) return Value();
  if (bd && bd->bitmap) {
    i->def = bd->bitmap.get();
    bd->shownBy.push_back(f->handle);
    f->bitmapData = Value::Obj(bd);
  } else {
    i->def = &B(m).emptyShape;
    f->bitmapData = Value::Null();
  }
  i->sprite.reset();
  return Value();
}

// ---- system and miscellany

NATIVE(Noop) { return Value(); }
NATIVE(ReturnNull) { return Value::Null(); }
NATIVE(CapVersion) { return m.Str("LNX 11,2,202,0"); }
NATIVE(CapPlayerType) { return m.Str("StandAlone"); }
NATIVE(CapOs) { return m.Str("Linux"); }
NATIVE(CapScreenX) { return Value::Int(1920); }
NATIVE(CapScreenY) { return Value::Int(1080); }
NATIVE(AppDomainCurrent) { return Value::Obj(m.Construct(m.FindClass("flash.system::ApplicationDomain"), {})); }
NATIVE(AppDomainGetDefinition) {
  const std::string name = avm2::ArgStr(m, a, 0, "");
  if (Class* c = m.FindClass(name)) return Value::Obj(c->object);
  m.ThrowError("ReferenceError", "Variable " + name + " is not defined.", 1065);
}
NATIVE(AppDomainHasDefinition) { return Value::Bool(m.FindClass(avm2::ArgStr(m, a, 0, "")) != nullptr); }
NATIVE(SoundMixerStopAll) {
  B(m).stage.StopAllSounds();
  B(m).channels.clear();
  return Value();
}
// Only "quit" means something without a host program: the player closes.
NATIVE(FsCommand) {
  std::string command = avm2::ArgStr(m, a, 0, "");
  for (auto& c : command) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (command == "quit") {
    B(m).channels.clear();
    B(m).stage.Quit();
  }
  return Value();
}
// ---- video: NetConnection, NetStream and Video on the player's FLV playback

Value AmfToValue(Machine& m, const video::AmfValue& a, int depth) {
  using T = video::AmfValue::Type;
  if (depth > video::kMaxAmfDepth) return Value();
  switch (a.type) {
    case T::kNumber:
    case T::kDate: return Value::Number(a.number);
    case T::kBoolean: return Value::Bool(a.boolean);
    case T::kString:
    case T::kXml: return m.Str(a.string);
    case T::kNull: return Value::Null();
    case T::kObject:
    case T::kEcmaArray:
    case T::kTypedObject: {
      Object* o = m.NewObject();
      for (const auto& p : a.properties) m.SetProperty(Value::Obj(o), p.name, AmfToValue(m, p.value, depth + 1));
      return Value::Obj(o);
    }
    case T::kStrictArray: {
      std::vector<Value> elems;
      for (const auto& e : a.elements) elems.push_back(AmfToValue(m, e, depth + 1));
      return Value::Obj(m.NewArray(std::move(elems)));
    }
    default: return Value();
  }
}
void SendNetStatus(Machine& m, FlashObject* to, const std::string& code, const std::string& level) {
  Object* info = m.NewObject();
  m.SetProperty(Value::Obj(info), "code", m.Str(code));
  m.SetProperty(Value::Obj(info), "level", m.Str(level));
  Value e = B(m).NewEvent(m.FindClass("flash.events::NetStatusEvent"), "netStatus", false);
  Fo(e)->info = Value::Obj(info);
  B(m).Dispatch(to, Fo(e));
}
// connect(null) only: progressive files beside the movie, never a server.
NATIVE(NcConnect) {
  FlashObject* f = Fo(self);
  if (!f) return Value();
  const bool local = m.ArgOr(a, 0).IsNullish();
  f->running = local;
  if (!local) {
    m.Skip("NetConnection to a server");
    SendNetStatus(m, f, "NetConnection.Connect.Failed", "error");
  } else {
    SendNetStatus(m, f, "NetConnection.Connect.Success", "status");
  }
  return Value();
}
NATIVE(NcConnected) { FlashObject* f = Fo(self); return Value::Bool(f && f->running); }
NATIVE(NcClose) { if (FlashObject* f = Fo(self)) f->running = false; return Value(); }
NATIVE(NsCtor) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (!f) return self;
  f->stream = std::make_shared<NetStreamPlayback>(b.nextStream++, b.stage.Listener());
  f->client = self;
  b.streams.push_back(f);
  return self;
}
NetStreamPlayback& StreamOf(Machine& m, const Value& self) {
  FlashObject* f = Fo(self);
  if (!f || !f->stream) m.ThrowError("ArgumentError", "The NetStream has no connection.", 2126);
  return *f->stream;
}
std::int64_t HostNow(Machine& m) { return B(m).stage.HostTime(); }
NATIVE(NsPlay) {
  NetStreamPlayback& s = StreamOf(m, self);
  As3Display& b = B(m);
  const std::string name = avm2::ArgStr(m, a, 0, "");
  s.SetListener(b.stage.Listener());
  s.Play(ResolveStreamPath(b.stage.MovieFolder(), name), name, HostNow(m));
  // The first picture and sound at once; the news reach the script next frame.
  s.Advance(HostNow(m));
  for (const auto& p : s.TakeProblems()) b.stage.VideoProblem(p);
  return Value();
}
template <int kHow>  // 0 pause, 1 resume, 2 toggle
Value NsPause(Machine& m, Value self, std::span<Value>) {
  std::optional<bool> pause;
  if (kHow != 2) pause = kHow == 0;
  StreamOf(m, self).Pause(pause, HostNow(m));
  return Value();
}
NATIVE(NsSeek) {
  StreamOf(m, self).Seek(avm2::ArgNum(m, a, 0, 0), HostNow(m));
  return Value();
}
NATIVE(NsClose) {
  StreamOf(m, self).Close(HostNow(m));
  return Value();
}
NATIVE(NsTime) { return Value::Number(StreamOf(m, self).Time(HostNow(m))); }
NATIVE(NsBufferLength) { return Value::Number(StreamOf(m, self).BufferLength(HostNow(m))); }
NATIVE(NsBufferTime) { return Value::Number(StreamOf(m, self).BufferTime()); }
NATIVE(NsSetBufferTime) {
  StreamOf(m, self).SetBufferTime(avm2::ArgNum(m, a, 0, 0.1));
  return Value();
}
NATIVE(NsBytesLoaded) { return Value::Number(static_cast<double>(StreamOf(m, self).BytesLoaded())); }
NATIVE(NsBytesTotal) { return Value::Number(static_cast<double>(StreamOf(m, self).BytesTotal())); }
NATIVE(NsClient) { FlashObject* f = Fo(self); return f ? f->client : Value::Null(); }
NATIVE(NsSetClient) {
  FlashObject* f = Fo(self);
  const Value c = m.ArgOr(a, 0);
  if (c.IsNullish()) m.ThrowError("TypeError", "Parameter client must be non-null.", 2004);
  if (f) f->client = c;
  return Value();
}
// new Video(width = 320, height = 240): a node showing a video character of that size.
NATIVE(VideoCtor) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (!f || f->handle != kNoClip) return self;
  auto def = std::make_unique<VideoDef>();
  def->stream.width = static_cast<std::uint16_t>(std::clamp(avm2::ArgNum(m, a, 0, 320), 0.0, 8192.0));
  def->stream.height = static_cast<std::uint16_t>(std::clamp(avm2::ArgNum(m, a, 1, 240), 0.0, 8192.0));
  Instance* inst = b.NewNode(def.get());
  if (!inst) m.ThrowError("Error", "Too many display objects.", 1000);
  b.videoDefs.push_back(std::move(def));
  f->handle = inst->serial;
  b.objects[f->handle] = f;
  return self;
}
VideoDisplay* VideoOfSelf(Machine& m, const Value& self) {
  Instance* i = SelfNode(m, self);
  return i ? B(m).stage.VideoOf(*i) : nullptr;
}
NATIVE(VideoAttachNetStream) {
  VideoDisplay* v = VideoOfSelf(m, self);
  if (!v) return Value();
  FlashObject* ns = Fo(m.ArgOr(a, 0));
  v->Attach(ns && ns->stream ? ns->stream : nullptr);
  return Value();
}
NATIVE(VideoAttachCamera) {
  if (!m.ArgOr(a, 0).IsNullish()) m.Skip("Video.attachCamera");
  if (VideoDisplay* v = VideoOfSelf(m, self)) v->Attach(nullptr);
  return Value();
}
NATIVE(VideoClear) {
  if (VideoDisplay* v = VideoOfSelf(m, self)) v->Clear();
  return Value();
}
template <bool kWidth>
Value VideoPictureSize(Machine& m, Value self, std::span<Value>) {
  VideoDisplay* v = VideoOfSelf(m, self);
  const auto& shown = v ? v->Shown() : nullptr;
  return Value::Int(shown ? (kWidth ? shown->width : shown->height) : 0);
}
NATIVE(VideoSmoothing) {
  VideoDisplay* v = VideoOfSelf(m, self);
  return Value::Bool(v && v->Smoothing());
}
NATIVE(VideoSetSmoothing) {
  if (VideoDisplay* v = VideoOfSelf(m, self)) v->SetSmoothing(m.ToBoolean(m.ArgOr(a, 0)));
  return Value();
}

// ---- loading: URLRequest, URLVariables, URLLoader, Loader and LoaderInfo

// name=value&name=value into the object's properties; a name given twice gets an array.
void DecodeVariables(Machine& m, const Value& into, const std::string& text) {
  std::size_t at = 0;
  while (at <= text.size()) {
    auto end = text.find('&', at);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(at, end - at);
    at = end + 1;
    if (pair.empty()) continue;
    const auto eq = pair.find('=');
    if (eq == std::string::npos) m.ThrowError("Error", "The String passed to URLVariables.decode() must be a URL-encoded query string containing name/value pairs.", 2101);
    const std::string name = UrlDecode(pair.substr(0, eq)), value = UrlDecode(pair.substr(eq + 1));
    const Value old = m.GetProperty(into, name);
    if (old.IsUndefined()) {
      m.SetProperty(into, name, m.Str(value));
    } else if (avm2::ArrayObject* arr = avm2::AsArray(old)) {
      arr->elems.push_back(m.Str(value));
    } else {
      m.SetProperty(into, name, Value::Obj(m.NewArray({old, m.Str(value)})));
    }
  }
}
NATIVE(UrlVarsCtor) {
  if (a.size() > 0 && !a[0].IsNullish()) DecodeVariables(m, self, m.ToString(a[0]));
  return self;
}
NATIVE(UrlVarsDecode) {
  DecodeVariables(m, self, avm2::ArgStr(m, a, 0, ""));
  return Value();
}
NATIVE(UrlVarsToString) {
  std::string out;
  Object* o = self.AsObject();
  if (!o) return m.Str("");
  for (std::uint32_t i = m.NextIndex(o, 0); i != 0; i = m.NextIndex(o, i)) {
    const std::string name = UrlEncode(m.ToString(m.NameAt(o, i)), "-_.~");
    const Value v = m.ValueAt(o, i);
    auto add = [&](const Value& x) { out += (out.empty() ? "" : "&") + name + "=" + UrlEncode(m.ToString(x), "-_.~"); };
    if (avm2::ArrayObject* arr = avm2::AsArray(v)) for (const Value& x : arr->elems) add(x);
    else add(v);
  }
  return m.Str(out);
}
// new FileFilter(description, extension, macType = null)
NATIVE(FileFilterCtor) {
  m.SetProperty(self, "description", m.Str(avm2::ArgStr(m, a, 0, "")));
  m.SetProperty(self, "extension", m.Str(avm2::ArgStr(m, a, 1, "")));
  m.SetProperty(self, "macType", a.size() > 2 && !a[2].IsNullish() ? m.Str(m.ToString(a[2])) : Value::Null());
  return self;
}
NATIVE(UrlRequestCtor) {
  if (a.size() > 0 && !a[0].IsNullish()) m.SetProperty(self, "url", m.Str(m.ToString(a[0])));
  m.SetProperty(self, "method", m.Str("GET"));
  return self;
}
std::string RequestUrl(Machine& m, const Value& request) {
  if (request.IsNullish()) m.ThrowError("TypeError", "Parameter request must be non-null.", 2007);
  const Value url = m.GetProperty(request, "url");
  return url.IsNullish() ? std::string() : m.ToString(url);
}
void QueueLoad(Machine& m, FlashObject* by, std::string url, std::string bytes, bool fromBytes) {
  As3Display& b = B(m);
  if (b.loads.size() + b.dueLoads.size() > 256) m.ThrowError("Error", "Too many loads at once.", 2000);
  by->url = url;
  b.loads.push_back({Value::Obj(by), std::move(url), std::move(bytes), fromBytes});
}
NATIVE(UrlLoaderLoad) {
  if (FlashObject* f = Fo(self)) QueueLoad(m, f, RequestUrl(m, m.ArgOr(a, 0)), {}, false);
  return Value();
}
NATIVE(UrlLoaderCtor) {
  if (a.size() > 0 && !a[0].IsNullish()) UrlLoaderLoad(m, self, a);
  return self;
}
NATIVE(UrlLoaderData) { FlashObject* f = Fo(self); return f ? f->data : Value(); }
NATIVE(UrlLoaderSetData) { if (FlashObject* f = Fo(self)) f->data = m.ArgOr(a, 0); return Value(); }
NATIVE(UrlLoaderFormat) { FlashObject* f = Fo(self); return m.Str(f ? f->format : "text"); }
NATIVE(UrlLoaderSetFormat) { if (FlashObject* f = Fo(self)) f->format = avm2::ArgStr(m, a, 0, "text"); return Value(); }
NATIVE(BytesLoaded) { FlashObject* f = Fo(self); return Value::Number(f ? f->bytesLoaded : 0); }
NATIVE(BytesTotal) { FlashObject* f = Fo(self); return Value::Number(f ? f->bytesTotal : 0); }
NATIVE(CancelLoad) {
  As3Display& b = B(m);
  for (auto* list : {&b.loads, &b.dueLoads}) std::erase_if(*list, [&](const As3Display::Load& l) {
      return l.by.o == self.AsObject() || (Fo(l.by) && Fo(l.by)->owner.AsObject() == self.AsObject());
    });
  return Value();
}
NATIVE(LoaderCtor) {
  DisplayObjectCtor(m, self, a);
  FlashObject* f = Fo(self);
  if (!f) return self;
  auto* info = static_cast<FlashObject*>(m.Instantiate(m.FindClass("flash.display::LoaderInfo")));
  info->owner = self;
  f->info = Value::Obj(info);
  return self;
}
FlashObject* LoaderInfoOf(Machine& m, const Value& self) {
  FlashObject* f = Fo(self);
  FlashObject* info = f ? Fo(f->info) : nullptr;
  if (!info) m.ThrowError("Error", "The Loader has no LoaderInfo.", 2000);
  return info;
}
NATIVE(LoaderUnload);
NATIVE(LoaderLoad) {
  FlashObject* info = LoaderInfoOf(m, self);
  LoaderUnload(m, self, {});
  QueueLoad(m, info, RequestUrl(m, m.ArgOr(a, 0)), {}, false);
  return Value();
}
NATIVE(LoaderLoadBytes) {
  FlashObject* info = LoaderInfoOf(m, self);
  Object* o = m.ArgOr(a, 0).AsObject();
  if (!o || o->kind != ObjectKind::kByteArray) m.ThrowError("TypeError", "Parameter bytes must be non-null.", 2007);
  const auto& bytes = static_cast<avm2::ByteArrayObject*>(o)->bytes;
  LoaderUnload(m, self, {});
  QueueLoad(m, info, "", std::string(bytes.begin(), bytes.end()), true);
  return Value();
}
NATIVE(LoaderContent) {
  FlashObject* f = Fo(self);
  FlashObject* info = f ? Fo(f->info) : nullptr;
  return info && !info->content.IsUndefined() ? info->content : Value::Null();
}
NATIVE(LoaderInfoGet) { FlashObject* f = Fo(self); return f && !f->info.IsUndefined() ? f->info : Value::Null(); }
NATIVE(LoaderUnload) {
  FlashObject* f = Fo(self);
  FlashObject* info = f ? Fo(f->info) : nullptr;
  if (!info) return Value();
  CancelLoad(m, self, {});
  FlashObject* content = Fo(info->content);
  As3Display& b = B(m);
  if (content && content->handle != kNoClip)
    if (Instance* i = b.Node(content->handle); i && i->parent == f->handle) Detach(m, content->handle, true);
  const bool had = content != nullptr;
  info->content = Value::Null();
  info->bytesLoaded = info->bytesTotal = 0;
  if (had) b.SendSimple(info, "unload");
  return Value();
}
NATIVE(LoaderInfoUrl) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (f && f != b.rootInfo) return f->url.empty() ? Value::Null() : m.Str(f->url);
  const auto& folder = b.stage.MovieFolder();
  return m.Str(folder.empty() ? "file:///movie.swf" : "file://" + (folder / "movie.swf").string());
}
NATIVE(LoaderInfoParams) { return Value::Obj(m.NewObject()); }
NATIVE(LoaderInfoContent) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (f == b.rootInfo) return b.ValueFor(kRootClip);
  return f && !f->content.IsUndefined() ? f->content : Value::Null();
}
NATIVE(LoaderInfoLoader) { FlashObject* f = Fo(self); return f && !f->owner.IsUndefined() ? f->owner : Value::Null(); }
NATIVE(LoaderInfoBytes) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (f == b.rootInfo) return Value::Number(static_cast<double>(b.stage.FileBytes()));
  return Value::Number(f ? f->bytesLoaded : 0);
}
NATIVE(LoaderInfoBytesTotal) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (f == b.rootInfo) return Value::Number(static_cast<double>(b.stage.FileBytes()));
  return Value::Number(f ? f->bytesTotal : 0);
}
NATIVE(LoaderInfoWidth) {
  As3Display& b = B(m);
  FlashObject* f = Fo(self);
  if (f == b.rootInfo) return Value::Int(b.lib.movie.header.frameSize.Width() / 20);
  FlashObject* c = f ? Fo(f->content) : nullptr;
  FlashObject* bd = c ? Fo(c->bitmapData) : nullptr;
  return Value::Int(bd && bd->bitmap ? bd->bitmap->width : 0);
}
NATIVE(LoaderInfoHeight) {
  As3Display& b = B(m);
  FlashObject* f = Fo(self);
  if (f == b.rootInfo) return Value::Int(b.lib.movie.header.frameSize.Height() / 20);
  FlashObject* c = f ? Fo(f->content) : nullptr;
  FlashObject* bd = c ? Fo(c->bitmapData) : nullptr;
  return Value::Int(bd && bd->bitmap ? bd->bitmap->height : 0);
}
NATIVE(LoaderInfoFrameRate) { return Value::Number(B(m).lib.movie.header.frameRate / 256.0); }
NATIVE(LoaderInfoSwfVersion) { return Value::Int(B(m).lib.movie.version); }
NATIVE(LoaderInfoAsVersion) { return Value::Int(3); }
NATIVE(LoaderInfoContentType) {
  FlashObject* f = Fo(self);
  As3Display& b = B(m);
  if (f == b.rootInfo) return m.Str("application/x-shockwave-flash");
  return f && !f->message.empty() ? m.Str(f->message) : Value::Null();
}
NATIVE(DoGetLoaderInfo) {
  // Every object of the movie shares the movie's LoaderInfo; a loaded movie's, its Loader's.
  As3Display& b = B(m);
  if (FlashObject* f = Fo(self))
    if (const ClipHandle r = b.LoadedRootOf(f->handle); r != kNoClip)
      if (FlashObject* ro = b.Existing(r); ro && Fo(ro->info)) return ro->info;
  if (!b.rootInfo) b.rootInfo = static_cast<FlashObject*>(m.Instantiate(m.FindClass("flash.display::LoaderInfo")));
  return Value::Obj(b.rootInfo);
}
// Events with text (ErrorEvent, IOErrorEvent...), sizes (ProgressEvent) and info (NetStatusEvent).
NATIVE(TextEventCtor) {
  EvCtor(m, self, a);
  if (FlashObject* e = Fo(self)) e->message = avm2::ArgStr(m, a, 3, "");
  return self;
}
NATIVE(TextEventText) { FlashObject* e = Fo(self); return m.Str(e ? e->message : ""); }
NATIVE(TextEventSetText) { if (FlashObject* e = Fo(self)) e->message = avm2::ArgStr(m, a, 0, ""); return Value(); }
NATIVE(ErrorEventId) {
  FlashObject* e = Fo(self);
  // "Error #2035: ..." gives 2035.
  if (!e || e->message.rfind("Error #", 0) != 0) return Value::Int(0);
  return Value::Int(std::atoi(e->message.c_str() + 7));
}
NATIVE(ProgressEventCtor) {
  EvCtor(m, self, a);
  if (FlashObject* e = Fo(self)) {
    e->bytesLoaded = avm2::ArgNum(m, a, 3, 0);
    e->bytesTotal = avm2::ArgNum(m, a, 4, 0);
  }
  return self;
}
NATIVE(NetStatusCtor) {
  EvCtor(m, self, a);
  if (FlashObject* e = Fo(self)) e->info = m.ArgOr(a, 3);
  return self;
}
NATIVE(NetStatusInfo) { FlashObject* e = Fo(self); return e && !e->info.IsUndefined() ? e->info : Value::Null(); }

Object* AllocFlash(Machine& m, Class*) { return m.heap().New<FlashObject>(); }

}  // namespace

// ---- the frame

As3Display::As3Display(Stage& s) : stage(s), lib(s.Library()) {
  m.host = this;
  m.logSink = [this](const std::string& line) {
    if (line.rfind("skipped ", 0) == 0) stage.Skipped().insert("ActionScript 3: " + line.substr(8));
    else stage.Skipped().insert("ActionScript 3: " + line.substr(0, 200));
  };
  m.traceSink = [](const std::string& line) {
    if (std::getenv("QUARVEL_DEBUG")) std::fprintf(stderr, "trace: %s\n", line.c_str());
  };
  m.clockMs = [this] { return static_cast<double>(stage.ScriptTime()); };
  m.embeddedBytes = [this](const Class* cls, std::vector<std::uint8_t>& out) {
    const auto [symbols, id] = SymbolOf(cls);
    std::span<const std::uint8_t> data;
    if (!symbols || !symbols->BinaryData(id, data)) return false;
    out.assign(data.begin(), data.end());
    return true;
  };
  limbo.def = &stage.EmptySprite().timeline;
  limbo.owner = kNoClip;
  limbo.playing = false;
  limbo.soundId = -1;
  for (auto& [name, id] : lib.names) {
    symbolClasses.emplace(id, name);
    classSymbols.emplace(name, id);
    // "pkg.Name" as SymbolClass writes it; classes know themselves as "pkg::Name".
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) classSymbols.emplace(name.substr(0, dot) + "::" + name.substr(dot + 1), id);
  }
  Install();
  m.AddSweepHook([this] {
    for (auto it = objects.begin(); it != objects.end();) {
      if (it->second->marked) {
        ++it;
        continue;
      }
      if (Instance* i = Node(it->first); i && i->parent == kNoClip) limbo.list.erase(i->depth);
      it = objects.erase(it);
    }
    std::erase_if(changedBitmaps, [](FlashObject* b) { return !b->marked; });
  });
  m.AddRoots([this](avm2::Heap& h) {
    // Objects off every list live only while scripts reach them.
    for (auto& [handle, o] : objects) {
      Instance* i = Node(handle);
      if (handle == kRootClip || (i && i->parent != kNoClip)) h.Mark(o);
    }
    for (FlashObject* o : frameListeners) h.Mark(o);
    for (FlashObject* o : timers) h.Mark(o);
    h.Mark(stageObject);
    h.Mark(focus);
    h.Mark(rootInfo);
    for (auto* list : {&loads, &dueLoads})
      for (auto& l : *list) h.Mark(l.by);
    for (FlashObject* c : channels) h.Mark(c);
    for (FlashObject* c : streams) h.Mark(c);
  });
  for (const auto& block : lib.abcBlocks) {
    m.BeginFrame();
    m.Load(block.file, block.name, !(block.flags & avm2::kDoAbcLazyInitialize));
  }
}

void As3Display::Placed(Instance& inst) {
  if (!inst.def) return;
  // Timeline text fields show through the shared layout, as script-made ones do.
  MakeTextFieldOf(inst, lib, false);
  const bool linked = LinkedClassName(inst.def) != nullptr;
  // A named child placed after its parent was made becomes its property too.
  const bool named = !inst.name.empty() && inst.name.rfind("instance", 0) != 0 && objects.count(inst.parent);
  if (linked || named) constructQueue.push_back(inst.serial);
}

void As3Display::FrameEntered(TimelineState& tl) {
  if (std::find(scriptQueue.begin(), scriptQueue.end(), tl.owner) == scriptQueue.end()) scriptQueue.push_back(tl.owner);
}

void As3Display::BeforeFrame() {
  m.BeginFrame();
  AdvanceStreams();
  // Loads asked for in the last frame end in this one.
  dueLoads.insert(dueLoads.end(), loads.begin(), loads.end());
  loads.clear();
}

void As3Display::TimelinesAdvanced() {
  // As in Flash, ENTER_FRAME listeners see the new frame numbers (and the
  // children the new frames removed gone), before the frame is constructed.
  Broadcast("enterFrame");
}

void As3Display::AfterFrame() {
  // Children are made, then FRAME_CONSTRUCTED, then the frame scripts run.
  Flush(false);
  ShowChangedBitmaps();
  Broadcast("frameConstructed");
  Flush();
  Broadcast("exitFrame");
  if (!rootInfoSent) {
    // The movie is all there once its first frame is: init, then complete.
    rootInfoSent = true;
    DoGetLoaderInfo(m, Value(), {});
    SendSimple(rootInfo, "init");
    SendSimple(rootInfo, "complete");
  }
  FinishLoads();
  FinishSounds();
  RunTimers();
  Flush();
  if (invalidated) {
    invalidated = false;
    Broadcast("render");
    Flush();
  }
  ShowChangedBitmaps();
  Collect();
}

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
  FlashObject* e = Fo(ev);
  e->stageX = pointerX / 20.0;
  e->stageY = pointerY / 20.0;
  double lx = pointerX, ly = pointerY;
  if (target != stageObject && stage.ToClipSpace(target->handle, lx, ly)) {
    e->localX = lx / 20.0;
    e->localY = ly / 20.0;
  } else {
    e->localX = e->stageX;
    e->localY = e->stageY;
  }
  e->buttonDown = pointerDown;
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
  const bool moved = !pointerSeen || x != pointerX || y != pointerY;
  pointerSeen = true;
  pointerX = x;
  pointerY = y;
  const Pick p = PickIn(kRootClip, x, y, 0);
  const ClipHandle hit = p.kind == Pick::kHit ? p.target : kNoClip;
  const bool press = down && !pointerDown, release = !down && pointerDown;
  pointerDown = down;
  // Out and roll-outs from the old object up, then roll-overs from the new one up and over.
  if (hit != overTarget) {
    const ClipHandle old = overTarget;
    overTarget = hit;
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
  FlashObject* target = PointerTarget(overTarget);
  if (moved) SendMouse(target, "mouseMove", true, nullptr);
  if (press) {
    pressTarget = overTarget == kNoClip ? kNoClip : overTarget;
    SendMouse(target, "mouseDown", true, nullptr);
  }
  if (release) {
    SendMouse(target, "mouseUp", true, nullptr);
    if (pressTarget == overTarget) SendMouse(target, "click", true, nullptr);
    pressTarget = kNoClip;
  }
  // A hand over buttons, and over sprites in button mode (which their children share).
  handCursor = false;
  for (ClipHandle h : InteractiveChain(overTarget)) {
    FlashObject* o = Existing(h);
    if (!o) continue;
    Instance* i = Node(h);
    const bool button = i && i->def && i->def->kind == Character::Kind::kButton;
    if ((button || o->buttonMode) && o->useHandCursor) handCursor = true;
    if (handCursor) break;
  }
  Flush();
}

// ---- loads

void As3Display::SendSimple(FlashObject* to, const char* type) {
  Value e = NewEvent(eventClass, type, false);
  Dispatch(to, Fo(e));
}

void As3Display::SendIoError(FlashObject* to, const std::string& text) {
  bool heard = false;
  for (auto& l : to->listeners) heard |= l.type == "ioError";
  if (!heard) {
    // Flash reports an error nobody listens for and goes on.
    m.Log("uncaught error: Error #2044: Unhandled ioError:. text=" + text);
    return;
  }
  Value e = NewEvent(m.FindClass("flash.events::IOErrorEvent"), "ioError", false);
  Fo(e)->message = text;
  Dispatch(to, Fo(e));
}

// The display object a Loader shows for the bytes: a Bitmap of a picture;
// a movie plays as an empty clip (loaded movies are not played).
Value As3Display::ContentFor(FlashObject* info, const std::string& bytes) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const bool jpeg = bytes.size() > 3 && p[0] == 0xFF && p[1] == 0xD8;
  const bool png = bytes.size() > 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
  const bool gif = bytes.size() > 6 && (bytes.compare(0, 6, "GIF89a") == 0 || bytes.compare(0, 6, "GIF87a") == 0);
  const bool swf = bytes.size() > 8 && (bytes.compare(0, 3, "FWS") == 0 || bytes.compare(0, 3, "CWS") == 0 ||
                                        bytes.compare(0, 3, "ZWS") == 0);
  if (swf) {
    info->message = "application/x-shockwave-flash";
    return LoadedMovie(info, bytes);
  }
  if (!jpeg && !png && !gif) return Value();
  info->message = jpeg ? "image/jpeg" : png ? "image/png" : "image/gif";
  SurfacePtr picture;
  try {
    picture = DecodeJpegTagImage(std::span<const std::uint8_t>(p, bytes.size()), {}, {});
  } catch (const ImageError& e) {
    m.Log(std::string("a picture a Loader loaded is damaged: ") + e.what());
    return Value();
  }
  if (!picture) return Value();
  const int w = cairo_image_surface_get_width(picture.get()), h = cairo_image_surface_get_height(picture.get());
  std::vector<Value> args{Value::Int(w), Value::Int(h), Value::Bool(true), Value::Int(0)};
  Object* bd = m.Construct(m.FindClass("flash.display::BitmapData"), args);
  FlashObject* fbd = Fo(Value::Obj(bd));
  if (!fbd || !fbd->bitmap) return Value();
  cairo_t* cr = cairo_create(fbd->bitmap->surface.get());
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, picture.get(), 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_mark_dirty(fbd->bitmap->surface.get());
  std::vector<Value> bitmapArgs{Value::Obj(bd)};
  return Value::Obj(m.Construct(bitmapClass, bitmapArgs));
}

// A movie a Loader loaded plays in a clip of its own, with its own library;
// its code joins the machine before its first frame, and its main class
// (or a MovieClip) is made for the clip, off the display list as in Flash,
// so that `stage` is null in its constructor.
Value As3Display::LoadedMovie(FlashObject* info, const std::string& bytes) {
  Instance* node = NewNode(&stage.EmptySprite());
  if (!node) return Value();
  const ClipHandle h = node->serial;
  std::string main;
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const bool playing = stage.LoadMovieInto(h, {p, bytes.size()}, true, [&](const MovieLibrary& loaded) {
    for (const auto& [id, c] : loaded.characters) loadedDefs.insert(c.get());
    for (const auto& [name, id] : loaded.names) {
      if (id == 0) {
        main = name;
        continue;
      }
      // A name already defined keeps its first meaning, as in the loader's domain.
      if (classSymbols.count(name)) continue;
      loadedSymbols.emplace(name, std::make_pair(&loaded, id));
      const auto dot = name.rfind('.');
      if (dot != std::string::npos)
        loadedSymbols.emplace(name.substr(0, dot) + "::" + name.substr(dot + 1), std::make_pair(&loaded, id));
      if (const Character* d = loaded.Find(id)) loadedClasses.emplace(d, name);
    }
    for (const auto& block : loaded.abcBlocks) {
      m.BeginFrame();
      m.Load(block.file, block.name, !(block.flags & avm2::kDoAbcLazyInitialize));
    }
  });
  if (!playing) {
    m.Log("a movie a Loader loaded could not be read");
    return Value();
  }
  loadedRoots.insert(h);
  Class* cls = main.empty() ? nullptr : m.FindClass(main);
  if (cls && !cls->IsSubclassOf(displayObjectClass)) cls = nullptr;
  return Value::Obj(Construct(cls ? cls : movieClipClass, h, Value::Obj(info)));
}

void As3Display::FinishLoad(const Load& l) {
  FlashObject* by = Fo(l.by);
  if (!by) return;
  std::string bytes;
  bool ok = l.fromBytes;
  if (ok) {
    bytes = l.bytes;
  } else {
    const auto file = FileBesideMovie(stage.MovieFolder(), l.url);
    ok = !file.empty() && ReadScriptFile(file, bytes);
    if (IsUrl(l.url) && l.url.rfind("file:", 0) != 0) m.Skip("loading from the network (offline)");
  }
  FlashObject* loader = Fo(by->owner);  // set for a Loader's LoaderInfo
  if (!ok) {
    SendIoError(by, std::string(loader ? "Error #2035: URL Not Found. URL: " : "Error #2032: Stream Error. URL: ") + l.url);
    return;
  }
  const double n = static_cast<double>(bytes.size());
  if (!l.fromBytes) SendSimple(by, "open");
  Value progress = NewEvent(m.FindClass("flash.events::ProgressEvent"), "progress", false);
  Fo(progress)->bytesLoaded = Fo(progress)->bytesTotal = n;
  by->bytesLoaded = by->bytesTotal = n;
  Dispatch(by, Fo(progress));
  if (loader) {
    const Value content = ContentFor(by, bytes);
    if (content.IsUndefined()) {
      // Bytes that are no picture and no movie.
      SendIoError(by, "Error #2124: Loaded file is an unknown type. URL: " + l.url);
      return;
    }
    by->content = content;
    if (TimelineState* tl = Timeline(loader->handle); tl && Fo(content)) {
      m.SafeCall([&] { Attach(m, *tl, Fo(content)->handle, 0); }, "adding what a Loader loaded");
    }
    SendSimple(by, "init");
    SendSimple(by, "complete");
    return;
  }
  if (by->format == "sound") {
    // An MP3 file: an event sound of its own, which play() starts.
    std::vector<std::uint8_t> body = NextScriptSoundBody(bytes);
    if (body.empty()) {
      SendIoError(by, "Error #2032: Stream Error. URL: " + l.url);
      return;
    }
    scriptSounds.push_back(std::move(body));
    const std::vector<std::uint8_t>& kept = scriptSounds.back();
    by->soundId = kept[0] | (kept[1] << 8);
    by->type.clear();
    by->soundMs = std::max(0.0, DefineSoundLengthMs(kept));
    stage.DefineScriptSound(by->soundId, kept);
    SendSimple(by, "complete");
    return;
  }
  if (by->format == "binary") {
    Object* ba = m.Construct(m.FindClass("flash.utils::ByteArray"), {});
    if (ba && ba->kind == ObjectKind::kByteArray) static_cast<avm2::ByteArrayObject*>(ba)->bytes.assign(bytes.begin(), bytes.end());
    by->data = Value::Obj(ba);
  } else if (by->format == "variables") {
    Object* vars = m.Construct(m.FindClass("flash.net::URLVariables"), {});
    by->data = Value::Obj(vars);
    const std::string text = ScriptText(std::move(bytes));
    if (!m.SafeCall([&] { DecodeVariables(m, by->data, text); }, "decoding the variables a URLLoader loaded")) return;
  } else {
    by->data = m.Str(ScriptText(std::move(bytes)));
  }
  SendSimple(by, "complete");
}

// Every frame: streams follow the clock, and their news reach the scripts
// (netStatus events; onMetaData on the client).
void As3Display::AdvanceStreams() {
  const auto list = streams;
  for (FlashObject* f : list) {
    if (!f->stream) continue;
    const std::shared_ptr<NetStreamPlayback> s = f->stream;  // handlers may play another file
    s->SetListener(stage.Listener());
    s->Advance(stage.HostTime());
    for (const auto& p : s->TakeProblems()) stage.VideoProblem(p);
    for (const auto& e : s->TakeEvents()) {
      m.BeginFrame();
      if (e.kind == NetStreamPlayback::Event::Kind::kMetaData) {
        if (!s->Holds(e)) continue;
        m.SafeCall(
            [&] {
              Value info = AmfToValue(m, *e.metadata, 0);
              Value fn = m.GetProperty(f->client, "onMetaData");
              if (fn.IsObject()) m.Call(fn, f->client, std::span<Value>(&info, 1));
            },
            "a NetStream's onMetaData");
      } else {
        m.SafeCall([&] { SendNetStatus(m, f, e.code, e.level); }, "a NetStream's netStatus");
      }
      Flush();
    }
  }
}

// SOUND_COMPLETE on channels whose last loop has ended.
void As3Display::FinishSounds() {
  const double now = m.clockMs();
  std::vector<FlashObject*> done;
  for (FlashObject* c : channels)
    if (c->endsMs <= now) done.push_back(c);
  std::erase_if(channels, [now](FlashObject* c) { return c->endsMs <= now; });
  for (FlashObject* c : done) {
    m.BeginFrame();
    SendSimple(c, "soundComplete");
    Flush();
  }
}

void As3Display::FinishLoads() {
  auto due = std::move(dueLoads);
  dueLoads.clear();
  for (const Load& l : due) {
    m.BeginFrame();
    m.SafeCall([&] { FinishLoad(l); }, "a load's events");
    Flush();
  }
}

void As3Display::Key(bool down, int keyCode, int charCode) {
  if (!stageObject || !rootConstructed) return;
  m.BeginFrame();
  // Keys go to the focus while it is on the stage, else to the stage.
  FlashObject* target = Fo(focus);
  if (target && !OnStage(target->handle)) target = nullptr;
  if (!target) target = stageObject;
  Value ev = NewEvent(keyboardEventClass, down ? "keyDown" : "keyUp", true);
  FlashObject* e = Fo(ev);
  e->keyCode = static_cast<std::uint32_t>(std::max(keyCode, 0));
  e->charCode = static_cast<std::uint32_t>(std::max(charCode, 0));
  e->cancelable = true;
  Dispatch(target, e);
  Flush();
}

void As3Display::Install() {
  Class* obj = m.objectClass;
  Class* dispatcher = m.DefineNativeClass("flash.events", "EventDispatcher", obj, AllocFlash);
  m.AddMethod(dispatcher, "addEventListener", EdAddEventListener);
  m.AddMethod(dispatcher, "removeEventListener", EdRemoveEventListener);
  m.AddMethod(dispatcher, "hasEventListener", EdHasEventListener);
  m.AddMethod(dispatcher, "willTrigger", EdHasEventListener);
  m.AddMethod(dispatcher, "dispatchEvent", EdDispatchEvent);
  m.DefineNativeClass("flash.events", "IEventDispatcher", obj)->isInterface = true;

  eventClass = m.DefineNativeClass("flash.events", "Event", obj, AllocFlash);
  avm2::SetNativeCtor(m, eventClass, EvCtor);
  m.AddGetter(eventClass, "type", EvType);
  m.AddGetter(eventClass, "bubbles", EvBubbles);
  m.AddGetter(eventClass, "cancelable", EvCancelable);
  m.AddGetter(eventClass, "target", EvTarget);
  m.AddGetter(eventClass, "currentTarget", EvCurrentTarget);
  m.AddGetter(eventClass, "eventPhase", EvPhase);
  m.AddMethod(eventClass, "stopPropagation", EvStop);
  m.AddMethod(eventClass, "stopImmediatePropagation", EvStopNow);
  m.AddMethod(eventClass, "preventDefault", EvPrevent);
  m.AddMethod(eventClass, "isDefaultPrevented", EvPrevented);
  m.AddMethod(eventClass, "clone", EvClone);
  m.AddMethod(eventClass, "toString", EvToString);
  for (const char* c : {"ENTER_FRAME:enterFrame", "EXIT_FRAME:exitFrame", "FRAME_CONSTRUCTED:frameConstructed",
                        "ADDED:added", "ADDED_TO_STAGE:addedToStage", "REMOVED:removed",
                        "REMOVED_FROM_STAGE:removedFromStage", "COMPLETE:complete", "INIT:init", "RESIZE:resize",
                        "CHANGE:change", "ACTIVATE:activate", "DEACTIVATE:deactivate", "RENDER:render", "OPEN:open",
                        "CLOSE:close", "SELECT:select", "SOUND_COMPLETE:soundComplete", "UNLOAD:unload",
                        "SCROLL:scroll", "CANCEL:cancel", "TAB_CHILDREN_CHANGE:tabChildrenChange",
                        "FULLSCREEN:fullScreen", "MOUSE_LEAVE:mouseLeave"}) {
    const std::string s = c;
    m.AddConst(eventClass, s.substr(0, s.find(':')), m.Str(s.substr(s.find(':') + 1)));
  }
  mouseEventClass = m.DefineNativeClass("flash.events", "MouseEvent", eventClass);
  avm2::SetNativeCtor(m, mouseEventClass, MeCtor);
  m.AddGetter(mouseEventClass, "stageX", MeStageX);
  m.AddGetter(mouseEventClass, "stageY", MeStageY);
  m.AddGetter(mouseEventClass, "localX", MeLocalX);
  m.AddGetter(mouseEventClass, "localY", MeLocalY);
  m.AddGetter(mouseEventClass, "relatedObject", MeRelated);
  m.AddGetter(mouseEventClass, "buttonDown", MeButtonDown);
  for (const char* p : {"ctrlKey", "altKey", "shiftKey", "commandKey", "controlKey"}) m.AddGetter(mouseEventClass, p, ReturnFalse);
  m.AddGetter(mouseEventClass, "delta", ReturnZero);
  m.AddMethod(mouseEventClass, "updateAfterEvent", Noop);
  for (const char* c : {"CLICK:click", "DOUBLE_CLICK:doubleClick", "MOUSE_DOWN:mouseDown", "MOUSE_UP:mouseUp",
                        "MOUSE_MOVE:mouseMove", "MOUSE_OVER:mouseOver", "MOUSE_OUT:mouseOut", "ROLL_OVER:rollOver",
                        "ROLL_OUT:rollOut", "MOUSE_WHEEL:mouseWheel"}) {
    const std::string s = c;
    m.AddConst(mouseEventClass, s.substr(0, s.find(':')), m.Str(s.substr(s.find(':') + 1)));
  }
  timerEventClass = m.DefineNativeClass("flash.events", "TimerEvent", eventClass);
  m.AddConst(timerEventClass, "TIMER", m.Str("timer"));
  m.AddConst(timerEventClass, "TIMER_COMPLETE", m.Str("timerComplete"));
  Class* keyEvent = keyboardEventClass = m.DefineNativeClass("flash.events", "KeyboardEvent", eventClass);
  avm2::SetNativeCtor(m, keyEvent, KeCtor);
  m.AddGetter(keyEvent, "keyCode", KeKeyCode);
  m.AddSetter(keyEvent, "keyCode", KeSetKeyCode);
  m.AddGetter(keyEvent, "charCode", KeCharCode);
  m.AddSetter(keyEvent, "charCode", KeSetCharCode);
  for (const char* p : {"ctrlKey", "altKey", "shiftKey", "commandKey", "controlKey"}) m.AddGetter(keyEvent, p, ReturnFalse);
  m.AddGetter(keyEvent, "keyLocation", ReturnZero);
  m.AddMethod(keyEvent, "updateAfterEvent", Noop);
  m.AddConst(keyEvent, "KEY_DOWN", m.Str("keyDown"));
  m.AddConst(keyEvent, "KEY_UP", m.Str("keyUp"));
  Class* textEvent = m.DefineNativeClass("flash.events", "TextEvent", eventClass);
  avm2::SetNativeCtor(m, textEvent, TextEventCtor);
  m.AddGetter(textEvent, "text", TextEventText);
  m.AddSetter(textEvent, "text", TextEventSetText);
  m.AddConst(textEvent, "LINK", m.Str("link"));
  m.AddConst(textEvent, "TEXT_INPUT", m.Str("textInput"));
  Class* errorEvent = m.DefineNativeClass("flash.events", "ErrorEvent", textEvent);
  m.AddGetter(errorEvent, "errorID", ErrorEventId);
  m.AddConst(errorEvent, "ERROR", m.Str("error"));
  m.AddConst(m.DefineNativeClass("flash.events", "IOErrorEvent", errorEvent), "IO_ERROR", m.Str("ioError"));
  m.AddConst(m.DefineNativeClass("flash.events", "SecurityErrorEvent", errorEvent), "SECURITY_ERROR", m.Str("securityError"));
  m.AddConst(m.DefineNativeClass("flash.events", "AsyncErrorEvent", errorEvent), "ASYNC_ERROR", m.Str("asyncError"));
  Class* progressEvent = m.DefineNativeClass("flash.events", "ProgressEvent", eventClass);
  avm2::SetNativeCtor(m, progressEvent, ProgressEventCtor);
  m.AddConst(progressEvent, "PROGRESS", m.Str("progress"));
  m.AddConst(progressEvent, "SOCKET_DATA", m.Str("socketData"));
  m.AddGetter(progressEvent, "bytesLoaded", BytesLoaded);
  m.AddGetter(progressEvent, "bytesTotal", BytesTotal);
  Class* netStatus = m.DefineNativeClass("flash.events", "NetStatusEvent", eventClass);
  avm2::SetNativeCtor(m, netStatus, NetStatusCtor);
  m.AddGetter(netStatus, "info", NetStatusInfo);
  m.AddConst(netStatus, "NET_STATUS", m.Str("netStatus"));
  for (const char* n : {"FocusEvent", "HTTPStatusEvent"}) m.DefineNativeClass("flash.events", n, eventClass);

  displayObjectClass = m.DefineNativeClass("flash.display", "DisplayObject", dispatcher);
  avm2::SetNativeCtor(m, displayObjectClass, DisplayObjectCtor);
  struct Acc {
    const char* name;
    avm2::NativeFn get, set;
  };
  for (const Acc& p : {Acc{"x", DoGetX, DoSetX}, Acc{"y", DoGetY, DoSetY}, Acc{"scaleX", DoGetScaleX, DoSetScaleX},
                       Acc{"scaleY", DoGetScaleY, DoSetScaleY}, Acc{"rotation", DoGetRotation, DoSetRotation},
                       Acc{"alpha", DoGetAlpha, DoSetAlpha}, Acc{"visible", DoGetVisible, DoSetVisible},
                       Acc{"name", DoGetName, DoSetName}, Acc{"width", DoGetWidth, DoSetWidth},
                       Acc{"height", DoGetHeight, DoSetHeight}, Acc{"transform", DoGetTransform, DoSetTransform},
                       Acc{"filters", DoGetFilters, DoSetFilters}, Acc{"blendMode", DoGetBlendMode, DoSetBlendMode},
                       Acc{"cacheAsBitmap", DoGetCacheAsBitmap, DoSetCacheAsBitmap}, Acc{"mask", DoGetMask, DoSetMask},
                       Acc{"scrollRect", DoGetScrollRect, DoSetScrollRect},
                       Acc{"opaqueBackground", DoGetOpaque, DoSetOpaque},
                       Acc{"z", DoGet3D<&FlashObject::z>, DoSet3D<&FlashObject::z>},
                       Acc{"scaleZ", DoGet3D<&FlashObject::scaleZ>, DoSet3D<&FlashObject::scaleZ>},
                       Acc{"rotationX", DoGet3D<&FlashObject::rotationX>, DoSet3D<&FlashObject::rotationX>},
                       Acc{"rotationY", DoGet3D<&FlashObject::rotationY>, DoSet3D<&FlashObject::rotationY>},
                       Acc{"rotationZ", DoGetRotation, DoSetRotation}}) {
    m.AddGetter(displayObjectClass, p.name, p.get);
    m.AddSetter(displayObjectClass, p.name, p.set);
  }
  m.AddSetter(displayObjectClass, "blendShader", DoSetBlendShader);
  m.AddGetter(displayObjectClass, "parent", DoGetParent);
  m.AddGetter(displayObjectClass, "stage", DoGetStage);
  m.AddGetter(displayObjectClass, "root", DoGetRoot);
  m.AddGetter(displayObjectClass, "mouseX", DoMouse<true>);
  m.AddGetter(displayObjectClass, "mouseY", DoMouse<false>);
  m.AddGetter(displayObjectClass, "loaderInfo", DoGetLoaderInfo);
  m.AddMethod(displayObjectClass, "getBounds", DoGetBounds);
  m.AddMethod(displayObjectClass, "getRect", DoGetBounds);
  m.AddMethod(displayObjectClass, "localToGlobal", DoLocalToGlobal);
  m.AddMethod(displayObjectClass, "globalToLocal", DoGlobalToLocal);
  m.AddMethod(displayObjectClass, "hitTestObject", DoHitTestObject);
  m.AddMethod(displayObjectClass, "hitTestPoint", DoHitTestPoint);
  Class* blend = m.DefineNativeClass("flash.display", "BlendMode", obj);
  for (int k = 1; k < 15; ++k) {
    std::string upper = kBlendNames[k];
    for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    m.AddConst(blend, upper, m.Str(kBlendNames[k]));
  }
  m.AddConst(blend, "SHADER", m.Str("shader"));
  Class* interactive = interactiveClass = m.DefineNativeClass("flash.display", "InteractiveObject", displayObjectClass);
  m.AddGetter(interactive, "mouseEnabled", IoGet<&FlashObject::mouseEnabled>);
  m.AddSetter(interactive, "mouseEnabled", IoSet<&FlashObject::mouseEnabled>);
  for (const char* p : {"doubleClickEnabled", "tabEnabled", "focusRect", "contextMenu", "tabIndex"}) {
    m.AddGetter(interactive, p, DoGetVisible);
    m.AddSetter(interactive, p, DoIgnore);
  }
  containerClass = m.DefineNativeClass("flash.display", "DisplayObjectContainer", interactive);
  m.AddGetter(containerClass, "numChildren", DocNumChildren);
  m.AddMethod(containerClass, "addChild", DocAddChild);
  m.AddMethod(containerClass, "addChildAt", DocAddChildAt);
  m.AddMethod(containerClass, "removeChild", DocRemoveChild);
  m.AddMethod(containerClass, "removeChildAt", DocRemoveChildAt);
  m.AddMethod(containerClass, "removeChildren", DocRemoveChildren);
  m.AddMethod(containerClass, "getChildAt", DocGetChildAt);
  m.AddMethod(containerClass, "getChildByName", DocGetChildByName);
  m.AddMethod(containerClass, "getChildIndex", DocGetChildIndex);
  m.AddMethod(containerClass, "setChildIndex", DocSetChildIndex);
  m.AddMethod(containerClass, "swapChildren", DocSwapChildren);
  m.AddMethod(containerClass, "swapChildrenAt", DocSwapChildrenAt);
  m.AddMethod(containerClass, "contains", DocContains);
  m.AddGetter(containerClass, "mouseChildren", IoGet<&FlashObject::mouseChildren>);
  m.AddSetter(containerClass, "mouseChildren", IoSet<&FlashObject::mouseChildren>);
  m.AddGetter(containerClass, "tabChildren", DoGetVisible);
  m.AddSetter(containerClass, "tabChildren", DoIgnore);
  spriteClass = m.DefineNativeClass("flash.display", "Sprite", containerClass);
  m.AddGetter(spriteClass, "graphics", SpGetGraphics);
  m.AddGetter(spriteClass, "buttonMode", IoGet<&FlashObject::buttonMode>);
  m.AddSetter(spriteClass, "buttonMode", IoSet<&FlashObject::buttonMode>);
  m.AddGetter(spriteClass, "useHandCursor", IoGet<&FlashObject::useHandCursor>);
  m.AddSetter(spriteClass, "useHandCursor", IoSet<&FlashObject::useHandCursor>);
  for (const char* p : {"hitArea", "soundTransform"}) {
    m.AddGetter(spriteClass, p, ReturnNull);
    m.AddSetter(spriteClass, p, DoIgnore);
  }
  m.AddMethod(spriteClass, "startDrag", Noop);
  m.AddMethod(spriteClass, "stopDrag", Noop);
  movieClipClass = m.DefineNativeClass("flash.display", "MovieClip", spriteClass, nullptr, true);
  m.AddMethod(movieClipClass, "play", McPlay);
  m.AddMethod(movieClipClass, "stop", McStop);
  m.AddMethod(movieClipClass, "gotoAndPlay", McGotoAndPlay);
  m.AddMethod(movieClipClass, "gotoAndStop", McGotoAndStop);
  m.AddMethod(movieClipClass, "nextFrame", McNextFrame);
  m.AddMethod(movieClipClass, "prevFrame", McPrevFrame);
  m.AddMethod(movieClipClass, "addFrameScript", McAddFrameScript);
  m.AddGetter(movieClipClass, "currentFrame", McCurrentFrame);
  m.AddGetter(movieClipClass, "totalFrames", McTotalFrames);
  m.AddGetter(movieClipClass, "framesLoaded", McTotalFrames);
  m.AddGetter(movieClipClass, "isPlaying", McIsPlaying);
  m.AddGetter(movieClipClass, "currentLabel", McCurrentLabel);
  m.AddGetter(movieClipClass, "currentFrameLabel", McCurrentFrameLabel);
  m.AddGetter(movieClipClass, "currentLabels", McCurrentLabels);
  m.AddGetter(movieClipClass, "currentScene", McCurrentScene);
  m.AddGetter(movieClipClass, "scenes", McScenes);
  m.AddMethod(movieClipClass, "nextScene", McOtherScene<1>);
  m.AddMethod(movieClipClass, "prevScene", McOtherScene<-1>);
  m.DefineNativeClass("flash.display", "Scene", obj, nullptr, true);
  m.AddGetter(movieClipClass, "enabled", DoGetVisible);
  m.AddSetter(movieClipClass, "enabled", DoIgnore);
  frameLabelClass = m.DefineNativeClass("flash.display", "FrameLabel", obj, nullptr, true);
  shapeClass = m.DefineNativeClass("flash.display", "Shape", displayObjectClass);
  m.AddGetter(shapeClass, "graphics", SpGetGraphics);
  morphClass = m.DefineNativeClass("flash.display", "MorphShape", displayObjectClass);
  staticTextClass = m.DefineNativeClass("flash.text", "StaticText", displayObjectClass);
  AddStaticTextMembers(m, staticTextClass);
  bitmapClass = m.DefineNativeClass("flash.display", "Bitmap", displayObjectClass);
  avm2::SetNativeCtor(m, bitmapClass, BitmapCtor);
  m.AddGetter(bitmapClass, "bitmapData", BitmapGetData);
  m.AddSetter(bitmapClass, "bitmapData", BitmapSetData);
  m.AddGetter(bitmapClass, "smoothing", BitmapGetSmoothing);
  m.AddSetter(bitmapClass, "smoothing", BitmapSetSmoothing);
  m.AddGetter(bitmapClass, "pixelSnapping", BitmapGetSnapping);
  m.AddSetter(bitmapClass, "pixelSnapping", BitmapSetSnapping);
  buttonClass = m.DefineNativeClass("flash.display", "SimpleButton", interactive);
  avm2::SetNativeCtor(m, buttonClass, SbCtor);
  m.AddGetter(buttonClass, "enabled", SbGetEnabled);
  m.AddSetter(buttonClass, "enabled", SbSetEnabled);
  m.AddGetter(buttonClass, "trackAsMenu", SbGetMenu);
  m.AddSetter(buttonClass, "trackAsMenu", SbSetMenu);
  m.AddGetter(buttonClass, "soundTransform", ReturnNull);
  m.AddSetter(buttonClass, "soundTransform", DoIgnore);
  m.AddGetter(buttonClass, "upState", SbGetState<0>);
  m.AddSetter(buttonClass, "upState", SbSetState<0>);
  m.AddGetter(buttonClass, "overState", SbGetState<1>);
  m.AddSetter(buttonClass, "overState", SbSetState<1>);
  m.AddGetter(buttonClass, "downState", SbGetState<2>);
  m.AddSetter(buttonClass, "downState", SbSetState<2>);
  m.AddGetter(buttonClass, "hitTestState", SbGetState<3>);
  m.AddSetter(buttonClass, "hitTestState", SbSetState<3>);
  m.AddGetter(buttonClass, "useHandCursor", IoGet<&FlashObject::useHandCursor>);
  m.AddSetter(buttonClass, "useHandCursor", IoSet<&FlashObject::useHandCursor>);
  graphicsClass = m.DefineNativeClass("flash.display", "Graphics", obj, AllocFlash);
  struct F {
    const char* name;
    avm2::NativeFn fn;
  };
  for (const F& f : {F{"beginFill", GrBeginFill}, F{"beginGradientFill", GrBeginGradientFill},
                     F{"beginBitmapFill", GrBeginBitmapFill}, F{"endFill", GrEndFill}, F{"lineStyle", GrLineStyle},
                     F{"lineGradientStyle", GrLineGradientStyle}, F{"moveTo", GrMoveTo}, F{"lineTo", GrLineTo},
                     F{"curveTo", GrCurveTo}, F{"cubicCurveTo", GrCubicCurveTo}, F{"drawRect", GrDrawRect},
                     F{"drawRoundRect", GrDrawRoundRect}, F{"drawCircle", GrDrawCircle},
                     F{"drawEllipse", GrDrawEllipse}, F{"clear", GrClear}, F{"drawPath", GrDrawPath},
                     F{"drawTriangles", GrDrawTriangles}, F{"lineBitmapStyle", GrLineBitmapStyle},
                     F{"copyFrom", GrCopyFrom}}) {
    m.AddMethod(graphicsClass, f.name, f.fn);
  }
  stageClass = m.DefineNativeClass("flash.display", "Stage", containerClass);
  for (const Acc& p : {Acc{"stageWidth", StWidth, StSetIgnored}, Acc{"stageHeight", StHeight, StSetIgnored},
                       Acc{"frameRate", StFrameRate, StSetFrameRate}, Acc{"scaleMode", StScaleMode, StSetScaleMode},
                       Acc{"align", StAlign, StSetAlign}, Acc{"quality", StQuality, StSetQuality},
                       Acc{"displayState", StDisplayState, StSetIgnored}, Acc{"focus", StFocus, StSetFocus},
                       Acc{"showDefaultContextMenu", DoGetVisible, StSetIgnored},
                       Acc{"stageFocusRect", DoGetVisible, StSetIgnored}}) {
    m.AddGetter(stageClass, p.name, p.get);
    m.AddSetter(stageClass, p.name, p.set);
  }
  m.AddMethod(stageClass, "invalidate", StInvalidate);
  stageObject = static_cast<FlashObject*>(m.Instantiate(stageClass));
  stageObject->handle = kNoClip;
  for (const char* n : {"StageScaleMode", "StageAlign", "StageQuality", "StageDisplayState"}) m.DefineNativeClass("flash.display", n, obj);
  m.AddConst(m.FindClass("flash.display::StageScaleMode"), "NO_SCALE", m.Str("noScale"));
  m.AddConst(m.FindClass("flash.display::StageScaleMode"), "SHOW_ALL", m.Str("showAll"));
  m.AddConst(m.FindClass("flash.display::StageScaleMode"), "EXACT_FIT", m.Str("exactFit"));
  m.AddConst(m.FindClass("flash.display::StageScaleMode"), "NO_BORDER", m.Str("noBorder"));
  m.AddConst(m.FindClass("flash.display::StageAlign"), "TOP_LEFT", m.Str("TL"));
  m.AddConst(m.FindClass("flash.display::StageAlign"), "TOP", m.Str("T"));
  m.AddConst(m.FindClass("flash.display::StageQuality"), "HIGH", m.Str("high"));
  m.AddConst(m.FindClass("flash.display::StageQuality"), "LOW", m.Str("low"));
  m.AddConst(m.FindClass("flash.display::StageQuality"), "BEST", m.Str("best"));
  m.AddConst(m.FindClass("flash.display::StageQuality"), "MEDIUM", m.Str("medium"));
  Class* loaderInfo = m.DefineNativeClass("flash.display", "LoaderInfo", dispatcher);
  for (const F& f : {F{"url", LoaderInfoUrl}, F{"loaderURL", LoaderInfoUrl}, F{"parameters", LoaderInfoParams},
                     F{"bytesLoaded", LoaderInfoBytes}, F{"bytesTotal", LoaderInfoBytesTotal},
                     F{"content", LoaderInfoContent}, F{"loader", LoaderInfoLoader}, F{"width", LoaderInfoWidth},
                     F{"height", LoaderInfoHeight}, F{"frameRate", LoaderInfoFrameRate},
                     F{"swfVersion", LoaderInfoSwfVersion}, F{"actionScriptVersion", LoaderInfoAsVersion},
                     F{"contentType", LoaderInfoContentType}}) {
    m.AddGetter(loaderInfo, f.name, f.fn);
  }
  Class* loader = m.DefineNativeClass("flash.display", "Loader", containerClass);
  avm2::SetNativeCtor(m, loader, LoaderCtor);
  m.AddGetter(loader, "contentLoaderInfo", LoaderInfoGet);
  m.AddGetter(loader, "content", LoaderContent);
  m.AddMethod(loader, "load", LoaderLoad);
  m.AddMethod(loader, "loadBytes", LoaderLoadBytes);
  m.AddMethod(loader, "unload", LoaderUnload);
  m.AddMethod(loader, "unloadAndStop", LoaderUnload);
  m.AddMethod(loader, "close", CancelLoad);
  // File dialogs never open in a capture: a FileFilter is a plain record.
  Class* fileFilter = m.DefineNativeClass("flash.net", "FileFilter", obj, nullptr, true);
  avm2::SetNativeCtor(m, fileFilter, FileFilterCtor);
  Class* request = m.DefineNativeClass("flash.net", "URLRequest", obj, nullptr, true);
  avm2::SetNativeCtor(m, request, UrlRequestCtor);
  Class* variables = m.DefineNativeClass("flash.net", "URLVariables", obj, nullptr, true);
  avm2::SetNativeCtor(m, variables, UrlVarsCtor);
  m.AddMethod(variables, "decode", UrlVarsDecode);
  m.AddMethod(variables, "toString", UrlVarsToString);
  Class* method = m.DefineNativeClass("flash.net", "URLRequestMethod", obj);
  m.AddConst(method, "GET", m.Str("GET"));
  m.AddConst(method, "POST", m.Str("POST"));
  Class* format = m.DefineNativeClass("flash.net", "URLLoaderDataFormat", obj);
  m.AddConst(format, "TEXT", m.Str("text"));
  m.AddConst(format, "BINARY", m.Str("binary"));
  m.AddConst(format, "VARIABLES", m.Str("variables"));
  Class* urlLoader = m.DefineNativeClass("flash.net", "URLLoader", dispatcher);
  avm2::SetNativeCtor(m, urlLoader, UrlLoaderCtor);
  m.AddMethod(urlLoader, "load", UrlLoaderLoad);
  m.AddMethod(urlLoader, "close", CancelLoad);
  m.AddGetter(urlLoader, "data", UrlLoaderData);
  m.AddSetter(urlLoader, "data", UrlLoaderSetData);
  m.AddGetter(urlLoader, "dataFormat", UrlLoaderFormat);
  m.AddSetter(urlLoader, "dataFormat", UrlLoaderSetFormat);
  m.AddGetter(urlLoader, "bytesLoaded", BytesLoaded);
  m.AddGetter(urlLoader, "bytesTotal", BytesTotal);

  transformClass = m.DefineNativeClass("flash.geom", "Transform", obj, AllocFlash);
  m.AddGetter(transformClass, "matrix", TrGetMatrix);
  m.AddSetter(transformClass, "matrix", TrSetMatrix);
  m.AddGetter(transformClass, "colorTransform", TrGetColorTransform);
  m.AddGetter(transformClass, "matrix3D", TrGetMatrix3D);
  m.AddSetter(transformClass, "matrix3D", TrSetMatrix3D);
  m.AddSetter(transformClass, "colorTransform", TrSetColorTransform);
  pointClass = m.DefineNativeClass("flash.geom", "Point", obj, nullptr, true);
  avm2::SetNativeCtor(m, pointClass, PointCtor);
  m.AddGetter(pointClass, "length", PointLength);
  for (const F& f : {F{"add", PointAdd}, F{"subtract", PointSubtract}, F{"clone", PointClone}, F{"offset", PointOffset},
                     F{"normalize", PointNormalize}, F{"equals", PointEquals}, F{"toString", PointToString}}) {
    m.AddMethod(pointClass, f.name, f.fn);
  }
  m.AddMethod(pointClass, "distance", PointDistance, true);
  m.AddMethod(pointClass, "interpolate", PointInterpolate, true);
  m.AddMethod(pointClass, "polar", PointPolar, true);
  rectangleClass = m.DefineNativeClass("flash.geom", "Rectangle", obj, nullptr, true);
  avm2::SetNativeCtor(m, rectangleClass, RectCtor);
  m.AddGetter(rectangleClass, "left", RectLeft);
  m.AddGetter(rectangleClass, "top", RectTop);
  m.AddGetter(rectangleClass, "right", RectRight);
  m.AddGetter(rectangleClass, "bottom", RectBottom);
  for (const F& f : {F{"isEmpty", RectIsEmpty}, F{"contains", RectContains}, F{"containsPoint", RectContainsPoint},
                     F{"clone", RectClone}, F{"intersects", RectIntersects}, F{"intersection", RectIntersection},
                     F{"union", RectUnion}, F{"offset", RectOffset}, F{"inflate", RectInflate}, F{"setTo", RectSetTo},
                     F{"toString", RectToString}}) {
    m.AddMethod(rectangleClass, f.name, f.fn);
  }
  matrixClass = m.DefineNativeClass("flash.geom", "Matrix", obj, nullptr, true);
  avm2::SetNativeCtor(m, matrixClass, MatrixCtor);
  for (const F& f : {F{"identity", MatrixIdentity}, F{"translate", MatrixTranslate}, F{"scale", MatrixScale},
                     F{"rotate", MatrixRotate}, F{"concat", MatrixConcat}, F{"invert", MatrixInvert},
                     F{"transformPoint", MatrixTransformPoint}, F{"deltaTransformPoint", MatrixDeltaTransformPoint},
                     F{"createBox", MatrixCreateBox}, F{"createGradientBox", MatrixCreateGradientBox},
                     F{"clone", MatrixClone}, F{"toString", MatrixToString}}) {
    m.AddMethod(matrixClass, f.name, f.fn);
  }
  colorTransformClass = m.DefineNativeClass("flash.geom", "ColorTransform", obj, nullptr, true);
  avm2::SetNativeCtor(m, colorTransformClass, CtCtor);
  m.AddGetter(colorTransformClass, "color", CtGetColor);
  m.AddSetter(colorTransformClass, "color", CtSetColor);
  m.AddMethod(colorTransformClass, "concat", CtConcat);

  const As3TextClasses text = InstallTextClasses(m, interactive);
  textFieldClass = text.textField;
  textFormatClass = text.textFormat;

  Class* timer = m.DefineNativeClass("flash.utils", "Timer", dispatcher);
  avm2::SetNativeCtor(m, timer, TimerCtor);
  m.AddMethod(timer, "start", TimerStart);
  m.AddMethod(timer, "stop", TimerStop);
  m.AddMethod(timer, "reset", TimerReset);
  m.AddGetter(timer, "running", TimerRunning);
  m.AddGetter(timer, "currentCount", TimerCount);
  m.AddGetter(timer, "delay", TimerDelay);
  m.AddSetter(timer, "delay", TimerSetDelay);
  m.AddGetter(timer, "repeatCount", TimerRepeat);
  m.AddSetter(timer, "repeatCount", TimerSetRepeat);

  Class* caps = m.DefineNativeClass("flash.system", "Capabilities", obj);
  m.AddGetter(caps, "version", CapVersion, true);
  m.AddGetter(caps, "playerType", CapPlayerType, true);
  m.AddGetter(caps, "os", CapOs, true);
  m.AddGetter(caps, "screenResolutionX", CapScreenX, true);
  m.AddGetter(caps, "screenResolutionY", CapScreenY, true);
  m.AddGetter(caps, "isDebugger", EvBubbles, true);
  Class* domain = m.DefineNativeClass("flash.system", "ApplicationDomain", obj);
  m.AddGetter(domain, "currentDomain", AppDomainCurrent, true);
  m.AddMethod(domain, "getDefinition", AppDomainGetDefinition);
  m.AddMethod(domain, "hasDefinition", AppDomainHasDefinition);
  Class* system = m.DefineNativeClass("flash.system", "System", obj);
  m.AddMethod(system, "gc", Noop, true);
  Class* security = m.DefineNativeClass("flash.system", "Security", obj);
  m.AddMethod(security, "allowDomain", Noop, true);
  m.AddGlobalFunction("flash.system", "fscommand", FsCommand);
  m.AddGlobalFunction("flash.net", "navigateToURL", Noop);
  Class* mouse = m.DefineNativeClass("flash.ui", "Mouse", obj);
  m.AddMethod(mouse, "hide", Noop, true);
  m.AddMethod(mouse, "show", Noop, true);
  Class* sound = m.DefineNativeClass("flash.media", "Sound", dispatcher);
  avm2::SetNativeCtor(m, sound, SoundCtor);
  m.AddMethod(sound, "play", SoundPlay);
  m.AddMethod(sound, "load", SoundLoad);
  m.AddGetter(sound, "bytesLoaded", BytesLoaded);
  m.AddGetter(sound, "bytesTotal", BytesTotal);
  m.AddGetter(sound, "url", SoundUrl);
  m.AddGetter(sound, "isBuffering", ReturnFalse);
  m.AddMethod(sound, "close", Noop);
  m.AddGetter(sound, "length", SoundLength);
  Class* channel = m.DefineNativeClass("flash.media", "SoundChannel", dispatcher);
  m.AddMethod(channel, "stop", ChannelStop);
  m.AddGetter(channel, "position", ChannelPosition);
  m.AddGetter(channel, "soundTransform", ReturnNull);
  m.AddSetter(channel, "soundTransform", DoIgnore);
  m.AddGetter(channel, "leftPeak", ReturnZero);
  m.AddGetter(channel, "rightPeak", ReturnZero);
  Class* netConnection = m.DefineNativeClass("flash.net", "NetConnection", dispatcher);
  m.AddMethod(netConnection, "connect", NcConnect);
  m.AddMethod(netConnection, "close", NcClose);
  m.AddGetter(netConnection, "connected", NcConnected);
  Class* netStream = m.DefineNativeClass("flash.net", "NetStream", dispatcher);
  avm2::SetNativeCtor(m, netStream, NsCtor);
  for (const F& f : {F{"play", NsPlay}, F{"pause", NsPause<0>}, F{"resume", NsPause<1>}, F{"togglePause", NsPause<2>},
                     F{"seek", NsSeek}, F{"close", NsClose}}) {
    m.AddMethod(netStream, f.name, f.fn);
  }
  for (const F& f : {F{"time", NsTime}, F{"bufferLength", NsBufferLength}, F{"bufferTime", NsBufferTime},
                     F{"bytesLoaded", NsBytesLoaded}, F{"bytesTotal", NsBytesTotal}, F{"client", NsClient}}) {
    m.AddGetter(netStream, f.name, f.fn);
  }
  m.AddSetter(netStream, "bufferTime", NsSetBufferTime);
  m.AddSetter(netStream, "client", NsSetClient);
  videoClass = m.DefineNativeClass("flash.media", "Video", displayObjectClass);
  avm2::SetNativeCtor(m, videoClass, VideoCtor);
  m.AddMethod(videoClass, "attachNetStream", VideoAttachNetStream);
  m.AddMethod(videoClass, "attachCamera", VideoAttachCamera);
  m.AddMethod(videoClass, "clear", VideoClear);
  m.AddGetter(videoClass, "videoWidth", VideoPictureSize<true>);
  m.AddGetter(videoClass, "videoHeight", VideoPictureSize<false>);
  m.AddGetter(videoClass, "smoothing", VideoSmoothing);
  m.AddSetter(videoClass, "smoothing", VideoSetSmoothing);
  m.AddGetter(videoClass, "deblocking", ReturnZero);
  m.AddSetter(videoClass, "deblocking", DoIgnore);
  Class* soundTransform = m.DefineNativeClass("flash.media", "SoundTransform", obj, nullptr, true);
  avm2::SetNativeCtor(m, soundTransform, SoundTransformCtor);
  Class* bitmapFilter = m.DefineNativeClass("flash.filters", "BitmapFilter", obj, nullptr, true);
  m.AddMethod(bitmapFilter, "clone", FilterClone);
  struct FC {
    const char* name;
    avm2::NativeFn ctor;
  };
  for (const FC& fc : {FC{"BlurFilter", FilterCtor<0>}, FC{"GlowFilter", FilterCtor<1>},
                       FC{"DropShadowFilter", FilterCtor<2>}, FC{"BevelFilter", FilterCtor<3>},
                       FC{"ColorMatrixFilter", ColorMatrixCtor}, FC{"GradientGlowFilter", GradientFilterCtor},
                       FC{"GradientBevelFilter", GradientFilterCtor}, FC{"ConvolutionFilter", ConvolutionCtor}}) {
    Class* c = m.DefineNativeClass("flash.filters", fc.name, bitmapFilter, nullptr, true);
    avm2::SetNativeCtor(m, c, fc.ctor);
  }
  Class* quality = m.DefineNativeClass("flash.filters", "BitmapFilterQuality", obj);
  m.AddConst(quality, "LOW", Value::Int(1));
  m.AddConst(quality, "MEDIUM", Value::Int(2));
  m.AddConst(quality, "HIGH", Value::Int(3));
  Class* mixer = m.DefineNativeClass("flash.media", "SoundMixer", obj);
  m.AddMethod(mixer, "stopAll", SoundMixerStopAll, true);
  m.AddMethod(mixer, "computeSpectrum", SoundMixerComputeSpectrum, true);
  Class* bitmapData = m.DefineNativeClass("flash.display", "BitmapData", obj, AllocFlash);
  avm2::SetNativeCtor(m, bitmapData, BdCtor);
  m.AddGetter(bitmapData, "width", BdWidth);
  m.AddGetter(bitmapData, "height", BdHeight);
  m.AddGetter(bitmapData, "transparent", BdTransparent);
  m.AddGetter(bitmapData, "rect", BdRect);
  m.AddMethod(bitmapData, "fillRect", BdFillRect);
  m.AddMethod(bitmapData, "setPixel", BdSetPixel<false>);
  m.AddMethod(bitmapData, "setPixel32", BdSetPixel<true>);
  m.AddMethod(bitmapData, "getPixel", BdGetPixel<false>);
  m.AddMethod(bitmapData, "getPixel32", BdGetPixel<true>);
  m.AddMethod(bitmapData, "clone", BdClone);
  m.AddMethod(bitmapData, "copyPixels", BdCopyPixels);
  m.AddMethod(bitmapData, "dispose", BdDispose);
  m.AddMethod(bitmapData, "draw", BdDraw);
  m.AddMethod(bitmapData, "drawWithQuality", BdDrawWithQuality);
  m.AddMethod(bitmapData, "applyFilter", BdApplyFilter);
  m.AddMethod(bitmapData, "colorTransform", BdColorTransform);
  m.AddMethod(bitmapData, "noise", BdNoise);
  m.AddMethod(bitmapData, "perlinNoise", BdPerlinNoise);
  m.AddMethod(bitmapData, "floodFill", BdFloodFill);
  m.AddMethod(bitmapData, "scroll", BdScroll);
  m.AddMethod(bitmapData, "lock", Noop);
  m.AddMethod(bitmapData, "unlock", Noop);
  Class* shader = m.DefineNativeClass("flash.display", "Shader", obj, AllocFlash, true);
  avm2::SetNativeCtor(m, shader, ShaderCtor);
  m.AddGetter(shader, "byteCode", ShaderGetByteCode);
  m.AddSetter(shader, "byteCode", ShaderSetByteCode);
  m.AddGetter(shader, "data", ShaderGetData);
  m.AddGetter(shader, "precisionHint", ShaderPrecision);
  m.AddSetter(shader, "precisionHint", DoIgnore);
  InstallFlashApi(m);
}

}  // namespace quarvel::player

namespace quarvel::player {

std::unique_ptr<ScriptHooks> MakeAs3Hooks(Stage& stage) {
  auto display = std::make_unique<As3Display>(stage);
  avm2::Machine& m = display->m;
  return std::make_unique<GuardedHooks>(std::move(display), m);
}

Instance* As3Node(Machine& m, const Value& self) { return SelfNode(m, self); }
const MovieLibrary& As3Library(Machine& m) { return B(m).lib; }
int As3SymbolOf(Machine& m, const Class* c) {
  As3Display& b = B(m);
  const auto [symbols, id] = b.SymbolOf(c);
  return symbols == &b.lib ? id : 0;
}
bool As3SymbolLinked(Machine& m, int id) { return id > 0 && B(m).symbolClasses.count(static_cast<std::uint16_t>(id)); }
Value* As3FieldSlot(Machine& m, const Value& self, int k) {
  FlashObject* f = Fo(self);
  if (!f || k < 0 || k > 1 || !f->cls || !f->cls->IsSubclassOf(B(m).textFieldClass)) return nullptr;
  return &f->fieldSlots[k];
}
std::vector<const FontDef*>& As3RegisteredFonts(Machine& m) { return B(m).registeredFonts; }

}  // namespace quarvel::player
