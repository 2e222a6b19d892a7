// The binding's life with the stage: construction, placed objects, and the
// order of a frame (enterFrame, constructors, frame scripts, exitFrame).
#include "player/as3/display_binding_p.h"

namespace quarvel::player::as3 {

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
    std::erase_if(changedBitmaps, [](BitmapDataObject* b) { return !b->marked; });
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

// @@END
}  // namespace quarvel::player::as3
