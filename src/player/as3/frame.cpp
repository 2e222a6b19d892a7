// The binding's life with the stage: construction, placed objects, and the
// order of a frame (enterFrame, constructors, frame scripts, exitFrame).
#include "player/as3/display_binding_p.h"
#include "player/text/text_field.h"

namespace quarvel::player::as3 {

// ---- the frame

As3Display::As3Display(Stage& s, const ScriptLimits& limits) : stage(s), lib(s.Library()) {
  m.host = this;
  // Before the blocks load: their entry scripts run under these caps too.
  m.limits.instructionsPerFrame = ScriptLimits::Lowered(m.limits.instructionsPerFrame, limits.instructionsPerFrame);
  m.limits.callDepth = ScriptLimits::Lowered(m.limits.callDepth, limits.callDepth);
  m.limits.bytesPerFrame = ScriptLimits::Lowered(m.limits.bytesPerFrame, limits.memoryBytes);
  m.limits.heapBytes = ScriptLimits::Lowered(m.limits.heapBytes, limits.memoryBytes);
  m.swfVersion = lib.movie.version;
  m.logSink = [this](const std::string& line) {
    constexpr std::string_view kStopped = "script stopped: ";
    if (line.rfind(kStopped, 0) == 0) {
      // The reason without where it struck: one warning per cause.
      const std::string why = line.substr(kStopped.size());
      stage.ScriptStopped("ActionScript 3: the " + why.substr(0, why.find(" (in ")));
    }
    if (line.rfind("skipped ", 0) == 0) stage.Skipped().insert("ActionScript 3: " + line.substr(8));
    else stage.Skipped().insert("ActionScript 3: " + line.substr(0, 200));
  };
  m.traceSink = [](const std::string& line) {
    if (!std::getenv("QUARVEL_DEBUG")) return;
    // Flash's log writes every \r as a line end: "a\r\nb" is three lines.
    std::string shown = line;
    for (char& c : shown)
      if (c == '\r') c = '\n';
    std::fprintf(stderr, "trace: %s\n", shown.c_str());
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
  // Symbols linked to a class another symbol took first are that class's too.
  for (const auto& l : lib.classLinks) symbolClasses.emplace(l.id, l.name);
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
    std::erase_if(bitmaps.changed, [](BitmapDataObject* b) { return !b->marked; });
  });
  m.AddRoots([this](avm2::Heap& h) {
    // Objects off every list live only while scripts reach them.
    for (auto& [handle, o] : objects) {
      Instance* i = Node(handle);
      if (handle == kRootClip || (i && i->parent != kNoClip)) h.Mark(o);
    }
    for (auto& [type, list] : events.frameListeners)
      for (FlashObject* o : list) h.Mark(o);
    for (FlashObject* o : events.timers) h.Mark(o);
    h.Mark(stageObject);
    h.Mark(pointer.focus);
    h.Mark(loading.rootInfo);
    h.Mark(loading.stageInfo);
    for (auto* list : {&loading.queued, &loading.due})
      for (auto& l : *list) h.Mark(l.by);
    for (FlashObject* c : media.channels) h.Mark(c);
    for (FlashObject* c : media.streams) h.Mark(c);
  });
  RunFrameCode(0);
}

// As Flash runs a frame's DoABC and SymbolClass tags: the frame's blocks are
// defined, its SymbolClass names are looked up (which runs their classes'
// scripts), then the eager blocks' entry scripts run.
void As3Display::RunFrameCode(int frame) {
  codeFramesRun = std::max(codeFramesRun, frame + 1);
  std::vector<Machine::BlockToLoad> blocks;
  for (const auto& b : lib.abcBlocks)
    if (b.frame == frame) blocks.push_back({b.file, b.name, !(b.flags & avm2::kDoAbcLazyInitialize), lib.movie.version});
  bool linked = false;
  const auto link = [&] {
    if (linked) return;
    linked = true;
    for (const auto& l : lib.classLinks)
      if (l.frame == frame) m.FindClass(l.name);
  };
  // The first frame's code runs as the movie loads, under a frame's caps of its own.
  const bool loading = frame == 0;
  if (loading) m.BeginFrame();
  if (!blocks.empty()) m.LoadTogether(blocks, [&] {
    if (loading) m.BeginFrame();
    link();
  });
  link();
}

void As3Display::MainFrameReached(int frame) {
  while (codeFramesRun <= frame) RunFrameCode(codeFramesRun);
}

void LoadAbcBlocks(Machine& m, const std::vector<MovieLibrary::AbcBlock>& blocks, int swfVersion) {
  for (std::size_t i = 0; i < blocks.size();) {
    std::vector<Machine::BlockToLoad> frame;
    const int f = blocks[i].frame;
    for (; i < blocks.size() && blocks[i].frame == f; ++i)
      frame.push_back({blocks[i].file, blocks[i].name, !(blocks[i].flags & avm2::kDoAbcLazyInitialize), swfVersion});
    m.BeginFrame();
    m.LoadTogether(frame, [&m] { m.BeginFrame(); });
  }
}

void As3Display::Placed(Instance& inst) {
  if (!inst.def) return;
  if (placingFrames) placedUnmade.insert(inst.serial);
  // Timeline text fields show through the shared layout, as script-made ones
  // do, with the fonts of the movie that placed them.
  MakeTextFieldOf(inst, LibraryOf(inst), false);
  const bool linked = LinkedClassName(inst.def) != nullptr;
  // A named child placed after its parent was made becomes its property too.
  const bool named = !inst.name.empty() && inst.name.rfind("instance", 0) != 0 && objects.count(inst.parent);
  // A button's states are objects whose constructors run when it is made.
  const bool button = inst.def->kind == Character::Kind::kButton;
  if (linked || named || button || events.hearsTree) constructQueue.push_back(inst.serial);
}

void As3Display::FrameEntered(TimelineState& tl) {
  if (std::find(scriptQueue.begin(), scriptQueue.end(), tl.owner) == scriptQueue.end()) scriptQueue.push_back(tl.owner);
}

void As3Display::BeforeFrame() {
  m.BeginFrame();
  AdvanceStreams();
  placedUnmade.clear();
  placingFrames = true;
}

void As3Display::TimelinesAdvanced() {
  // As in Flash, ENTER_FRAME listeners see the new frame numbers and the
  // children the new frames placed (counted, but null) and removed, before
  // the frame is constructed.
  placingFrames = false;
  const bool outer = broadcastingEnterFrame;
  broadcastingEnterFrame = true;
  Broadcast("enterFrame");
  broadcastingEnterFrame = outer;
}

namespace {
// Drawing the stage settles the boxes of the auto-sized fields it shows.
void SettleShownFields(TimelineState& tl, int nesting) {
  if (nesting > 64) return;
  for (auto& [depth, inst] : tl.list) {
    if (!inst.visible) continue;
    if (inst.field) inst.field->Settle();
    if (inst.sprite) SettleShownFields(*inst.sprite, nesting + 1);
  }
}
}  // namespace

void As3Display::AfterFrame() {
  // Children are made, then FRAME_CONSTRUCTED, then the frame scripts run.
  placedUnmade.clear();
  Flush(false);
  ShowChangedBitmaps();
  Broadcast("frameConstructed");
  Flush();
  Broadcast("exitFrame");
  if (!loading.rootInfoSent) {
    // The movie is all there once its first frame is: init, then complete.
    loading.rootInfoSent = true;
    DoGetLoaderInfo(m, Value(), {});
    SendSimple(loading.rootInfo, "init");
    SendSimple(loading.rootInfo, "complete");
  }
  // A file beside the movie is read by the end of the frame that asked for
  // it (what a load's own events ask for waits for the next frame).
  loading.due.insert(loading.due.end(), loading.queued.begin(), loading.queued.end());
  loading.queued.clear();
  FinishLoads();
  FinishSounds();
  FinishStage3DRequests();
  RunTimers();
  Flush();
  if (stageState.invalidated) {
    stageState.invalidated = false;
    Broadcast("render");
    Flush();
  }
  ShowChangedBitmaps();
  SettleShownFields(stage.Root(), 0);
  Collect();
}

// Makes the object of a node and runs its class's constructor; `info` is
// the LoaderInfo of a loaded movie's main timeline.
FlashObject* As3Display::Construct(Class* cls, ClipHandle h, Value info) {
  Class* bitmapData = m.FindClass("flash.display::BitmapData");
  if (bitmapData && cls->IsSubclassOf(bitmapData)) return ConstructLinkedBitmap(cls, h);
  FlashObject* o = Allocate(cls, h, info);
  if (Instance* i = Node(h); i && i->def && i->def->kind == Character::Kind::kButton) {
    // A timeline button makes its states before its constructor runs; when
    // the state it shows holds a movie clip, SWF 10 on then runs a frame of
    // its own (FRAME_CONSTRUCTED, the frame scripts due, EXIT_FRAME) first.
    // Its parent's property names it before it is constructed.
    if (Instance* node = Node(h)) BindToParent(*node, o);
    BuildButtonStates(o);
    if (lib.movie.version > 9 && UpStateHoldsClip(o)) FlushForGoto();
  }
  RunConstructor(o);
  return o;
}

bool As3Display::UpStateHoldsClip(FlashObject* button) {
  FlashObject* up = As<DisplayObj>(button->states[0]);
  const Instance* ui = up ? Node(up->handle) : nullptr;
  if (!ui) return false;
  auto clip = [](const Instance& i) { return i.def && i.def->kind == Character::Kind::kSprite && i.sprite; };
  if (scriptNodes.count(ui->serial) == 0) return clip(*ui);
  // A Sprite made for the state: its children count.
  if (ui->sprite)
    for (auto& [d, c] : ui->sprite->list)
      if (clip(c)) return true;
  return false;
}

// The object of a node, bound to it, its constructor not yet run.
FlashObject* As3Display::Allocate(Class* cls, ClipHandle h, Value info) {
  struct Mark {
    bool& flag;
    bool outer = flag;
    explicit Mark(bool& f) : flag(f) { flag = true; }
    ~Mark() { flag = outer; }
  } timeline(timelineAllocating);
  FlashObject* o = As<FlashObject>(Value::Obj(m.Instantiate(cls)));
  if (!o) {  // a class linked to a symbol that is no display object
    Instance* node = Node(h);
    cls = node ? KindClass(*node) : movieClipClass;
    o = As<FlashObject>(Value::Obj(m.Instantiate(cls)));
  }
  o->handle = h;
  o->info = info;
  objects[h] = o;
  HoldSpriteTimeline(o);
  return o;
}

// A Sprite has one frame: a symbol linked to a class that is no MovieClip
// shows its first frame and never plays on. The main timeline plays on
// whatever its document class, and a loaded ActionScript 1/2 movie plays
// its own timeline.
void As3Display::HoldSpriteTimeline(FlashObject* o) {
  if (o->handle == kRootClip) return;
  if (TimelineState* tl = Timeline(o->handle);
      tl && o->cls && !o->cls->IsSubclassOf(movieClipClass) && !o->cls->IsSubclassOf(avm1MovieClass))
    stage.SetPlaying(*tl, false);
}

void As3Display::RunConstructor(FlashObject* o) {
  Class* c = o->cls;
  while (c && !c->iinit) c = c->super;
  if (c && c->unit) {
    m.SafeCall([&] { m.Invoke(c->iinit, Value::Obj(o), {}, c->iinit->scope); },
               ("the constructor of " + o->cls->QualifiedName()).c_str());
  }
  // No script constructor, or one that never reached super().
  BuildChildren(o);
}

void As3Display::BuildChildren(FlashObject* o) {
  if (o->childrenBuilt) return;
  o->childrenBuilt = true;
  BuildButtonStates(o);
  std::vector<ClipHandle> madeHere;
  if (o->handle == kRootClip) {
    // The main timeline's first children, in depth order.
    std::vector<ClipHandle> kids;
    for (auto& [depth, child] : stage.Root().list)
      if (std::find(constructQueue.begin(), constructQueue.end(), child.serial) != constructQueue.end())
        kids.push_back(child.serial);
    // Each leaves the queue as it is made: a sibling not yet made reads as null.
    for (ClipHandle h : kids) {
      std::erase(constructQueue, h);
      MakeWaiting(h);
    }
    madeHere = std::move(kids);
  } else {
    if (TimelineState* tl = Timeline(o->handle)) {
      std::vector<ClipHandle> kids;
      for (auto& [depth, child] : tl->list)
        if (std::find(constructQueue.begin(), constructQueue.end(), child.serial) != constructQueue.end())
          kids.push_back(child.serial);
      std::erase_if(constructQueue, [&](ClipHandle h) { return std::find(kids.begin(), kids.end(), h) != kids.end(); });
      struct Building {
        std::set<ClipHandle>& set;
        ClipHandle h;
        bool added = set.insert(h).second;
        ~Building() {
          if (added) set.erase(h);
        }
      } mark{building, o->handle};
      for (ClipHandle k : kids) MakeWaiting(k);
      madeHere = std::move(kids);
    }
  }
  // Those made here were bound as they were made; bind the others once.
  if (madeHere.empty()) return BindChildren(o);
  if (!o->cls || (!o->cls->unit && !o->dynamic)) return;
  TimelineState* tl = Timeline(o->handle);
  if (!tl) return;
  std::vector<std::pair<ClipHandle, std::string>> named;
  for (auto& [depth, child] : tl->list)
    if (!child.name.empty() && child.name.rfind("instance", 0) != 0 &&
        std::find(madeHere.begin(), madeHere.end(), child.serial) == madeHere.end())
      named.emplace_back(child.serial, child.name);
  for (const auto& [h, name] : named) {
    avm2::Name n = m.NameFromString(name);
    if (!m.FindBinding(o->traits, n) && !o->dynamic) continue;
    FlashObject* co = ObjectFor(h);
    if (!co) continue;
    m.SafeCall([&] { m.SetProperty(Value::Obj(o), n, Value::Obj(co)); }, "binding a timeline child");
  }
}

void As3Display::MakeWaiting(ClipHandle h) {
  if (!Node(h)) return;
  const bool made = objects.count(h) != 0;
  FlashObject* o = ObjectFor(h);
  Instance* node = Node(h);
  if (o && node) BindToParent(*node, o);
  if (!made) AddedByTimeline(h);
}

// A picture linked to a BitmapData class: the node is a Bitmap showing a new
// object of that class, which Flash constructs with (1, 1) and fills with the
// picture.
FlashObject* As3Display::ConstructLinkedBitmap(Class* cls, ClipHandle h) {
  Value data = Value::Null();
  Value args[2] = {Value::Int(1), Value::Int(1)};
  m.SafeCall([&] { data = Value::Obj(m.Construct(cls, args)); }, ("the constructor of " + cls->QualifiedName()).c_str());
  FlashObject* o = As<FlashObject>(Value::Obj(m.Instantiate(bitmapClass)));
  o->handle = h;
  objects[h] = o;
  if (BitmapDataObject* bd = As<BitmapDataObject>(data); bd && bd->bitmap) {
    o->bitmapData = data;
    bd->shownBy.push_back(h);
    if (Instance* i = Node(h); i && i->def && i->def->kind == Character::Kind::kBitmap) i->def = bd->bitmap.get();
  }
  return o;
}

// The main timeline's object exists before its constructor runs, which
// makes the children of its first frame in its super() call.
FlashObject* As3Display::AllocateRoot() {
  if (auto it = objects.find(kRootClip); it != objects.end()) return it->second;
  Class* doc = nullptr;
  if (auto it = symbolClasses.find(0); it != symbolClasses.end()) {
    doc = m.FindClass(it->second);
  } else {
    // Some movies link the document class to an id that names no character;
    // Flash takes such a display class for the main timeline as it takes 0.
    for (const auto& [id, name] : symbolClasses) {
      if (lib.Find(id) || lib.binaryData.count(id)) continue;
      Class* c = m.FindClass(name);
      if (c && c->IsSubclassOf(spriteClass)) {
        doc = c;
        break;
      }
    }
  }
  if (doc && !doc->IsSubclassOf(spriteClass)) {
    // Flash reports it once the scripts have run, and the root stays a plain movie clip.
    m.Contain([&] {
      m.ReportUncaught(m.MakeError("TypeError", "Class " + doc->QualifiedName() + "$ must inherit from Sprite to link to the root.", 2023),
                       "the document class");
    }, "the document class");
    doc = nullptr;
  }
  return Allocate(doc ? doc : movieClipClass, kRootClip, Value());
}

void As3Display::ConstructRoot() {
  if (rootConstructed) return;
  rootConstructed = true;
  RunConstructor(AllocateRoot());
}

// Named timeline children become the values of the parent class's
// properties of the same name.
void As3Display::BindChildren(FlashObject* o) {
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

void As3Display::BindToParent(const Instance& child, FlashObject* co) {
  auto it = objects.find(child.parent);
  if (it == objects.end() || child.name.empty() || child.name.rfind("instance", 0) == 0) return;
  FlashObject* p = it->second;
  avm2::Name n = m.NameFromString(child.name);
  if (!m.FindBinding(p->traits, n) && !p->dynamic) return;
  m.SafeCall([&] { m.SetProperty(Value::Obj(p), n, Value::Obj(co)); }, "binding a timeline child");
}

// The next waiting object to make. A parent is made before its children,
// which its constructor makes: the highest ancestor without an object. The
// children of a parent whose constructor has not yet made them (it may be
// running, and have asked for a goto) wait for it.
ClipHandle As3Display::NextToMake() {
  for (ClipHandle h : constructQueue) {
    for (int up = 0; up < kMaxSpriteNesting; ++up) {
      const Instance* node = Node(h);
      if (!node || node->parent == kNoClip || node->parent == kRootClip || objects.count(node->parent)) break;
      h = node->parent;
    }
    const Instance* node = Node(h);
    // The main timeline's first children are made in its super() call.
    if (node && node->parent == kRootClip && !rootConstructed) continue;
    if (node && node->parent != kNoClip && node->parent != kRootClip) {
      auto parent = objects.find(node->parent);
      if (parent != objects.end() && (!parent->second->childrenBuilt || building.count(node->parent))) continue;
    }
    return h;
  }
  return kNoClip;
}

// ---- frames
// Constructs the objects waiting, then (with `scripts`) runs the frame
// scripts due, and again until nothing waits.
void As3Display::Flush(bool scripts) {
  if (flushing) return;
  flushing = true;
  // Constructing the frame (also a goto's) makes the placed objects real.
  if (!scriptsOnly) placedUnmade.clear();
  std::unordered_map<ClipHandle, std::size_t> order;  // display list order, made when scripts are due
  std::size_t sorted = 0;  // the queue is in that order while it has this length
  for (int guard = 0; guard < 100000; ++guard) {
    if (!constructQueue.empty() && !scriptsOnly) {
      if (const ClipHandle h = NextToMake(); h != kNoClip) {
        std::erase(constructQueue, h);
        MakeWaiting(h);
        continue;
      }
    }
    if (!rootConstructed && !scriptsOnly && gotoFlushes == 0) {
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
      // Inside a goto's or a button's frame, a clip whose constructor has
      // not yet added the script of its frame keeps its turn for the outer one.
      auto next = scriptQueue.begin();
      if (gotoFlushes > 0) next = std::find_if(scriptQueue.begin(), scriptQueue.end(), [&](ClipHandle x) { return HasFrameScriptNow(x); });
      if (next == scriptQueue.end()) break;
      const ClipHandle h = *next;
      scriptQueue.erase(next);
      sorted = scriptQueue.size();
      RunFrameScript(h);
      continue;
    }
    break;
  }
  flushing = false;
}

void As3Display::FlushForGoto() {
  if (!flushing) {
    // From SWF 10 on a goto outside the frame's own work is a frame of its
    // own, less ENTER_FRAME: FRAME_CONSTRUCTED after the new children, the
    // frame scripts, then EXIT_FRAME.
    // Before SWF 10 one an ENTER_FRAME listener asks for waits for the
    // frame's own construction and scripts.
    if (lib.movie.version < 10) return broadcastingEnterFrame ? void() : Flush();
    Flush(false);
    Broadcast("frameConstructed");
    Flush();
    Broadcast("exitFrame");
    return;
  }
  // Movies before SWF 10 leave them for the frame's own turn.
  if (gotoFlushes >= 8 || lib.movie.version < 10) return;
  ++gotoFlushes;
  const bool outerScriptsOnly = scriptsOnly;
  flushing = false;
  // The goto's new children are made at once, but not those a constructor
  // still running is to make (NextToMake).
  scriptsOnly = false;
  Flush(false);
  flushing = false;
  scriptsOnly = true;
  Broadcast("frameConstructed");
  Flush();
  Broadcast("exitFrame");
  scriptsOnly = outerScriptsOnly;
  flushing = true;
  --gotoFlushes;
}

bool As3Display::HasFrameScriptNow(ClipHandle h) {
  auto it = objects.find(h);
  TimelineState* tl = Timeline(h);
  return it != objects.end() && tl && it->second->frameScripts.count(tl->current);
}

void As3Display::RunFrameScript(ClipHandle h) {
  auto it = objects.find(h);
  TimelineState* tl = Timeline(h);
  if (it == objects.end() || !tl) return;
  auto fs = it->second->frameScripts.find(tl->current);
  if (fs == it->second->frameScripts.end()) return;
  const Value fn = fs->second;
  inFrameScript.push_back(h);
  m.SafeCall([&] { m.Call(fn, Value::Obj(it->second), {}); }, "a frame script");
  inFrameScript.pop_back();
  // A goto the script asked of its own clip runs now.
  if (auto q = queuedGotos.find(h); q != queuedGotos.end()) {
    const int frame = q->second;
    queuedGotos.erase(q);
    if (TimelineState* now = Timeline(h)) {
      stage.Goto(*now, std::clamp(frame, 0, now->FrameCount() - 1));
      FlushForGoto();
    }
  }
}

namespace {
// A late timer catches up at most this far behind the clock.
constexpr double kTimerSlackMs = 100;
}  // namespace

void As3Display::RunTimers() {
  const double now = m.clockMs();
  const auto list = events.timers;
  for (TimerObject* t : list) {
    if (!t->running || t->due > now) continue;
    ++t->count;
    // The handlers run at the time the tick fell due (Flash keeps the
    // timer's beat between frames); the next tick counts from it.
    const double at = std::min(t->due, now);
    t->due = std::max(t->due + std::max(t->delay, 1.0), now - kTimerSlackMs);
    m.RunAtTime(at, [&] {
      // The timer still runs while its last TIMER is heard; it stops before TIMER_COMPLETE.
      Value e = NewEvent(timerEventClass, "timer", false);
      t->ticking = true;
      Dispatch(t, As<EventObject>(e));
      t->ticking = false;
      if (t->running && t->repeat > 0 && t->count >= t->repeat) {
        t->running = false;
        Value done = NewEvent(timerEventClass, "timerComplete", false);
        Dispatch(t, As<EventObject>(done));
      }
    });
  }
  std::erase_if(events.timers, [](TimerObject* t) { return !t->running; });
  m.RunTimers();
}

void As3Display::Collect() {
  for (auto it = objects.begin(); it != objects.end();) {
    if (it->first != kRootClip && !Node(it->first)) it = objects.erase(it);
    else ++it;
  }
  // Off-list nodes nothing refers to any more are dropped with their objects.
  m.CollectIfDue();
}

}  // namespace quarvel::player::as3
