#pragma once
// The running movie: the display list of every timeline, frame execution,
// and the stage side of ActionScript 1/2 (the interpreter is avm1.h).

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/player/characters.h"
#include "platform/player/filters.h"
#include "platform/player/movie_library.h"

namespace quarvel::player {

class SoundEventListener;
struct TimelineState;
struct Instance;
class Avm1;
struct AsObject;
struct AsValue;

// onClipEvent handlers of a placed clip (PlaceObject2/3 clip actions).
struct ClipEventHandler {
  std::uint32_t events = 0;  // kEvent... bits
  std::span<const std::uint8_t> code;
};
// A number never handed out before, for Drawing::version.
std::uint64_t NextDrawingVersion();

// What a timeline's drawing API calls (moveTo, lineTo, beginFill...) drew;
// shown below its children. Twips.
struct Drawing {
  ShapeGeometry geometry;
  bool hasBounds = false;
  double penX = 0, penY = 0;
  double startX = 0, startY = 0;  // where the open fill contour began
  bool filling = false;
  int line = -1;  // line style of the last layer in use; -1 none
  bool hasLineStyle = false;
  LineStyle lineStyle;
  std::size_t edges = 0;
  // Changes with every change, so that a repaint can tell (see NextDrawingVersion).
  std::uint64_t version = NextDrawingVersion();
};

inline constexpr std::uint32_t kEventLoad = 0x1, kEventEnterFrame = 0x2, kEventUnload = 0x4, kEventMouseMove = 0x8,
                               kEventMouseDown = 0x10, kEventMouseUp = 0x20, kEventInitialize = 0x200;

// A display object's handle: its serial number, never handed out twice, so a
// handle to a removed object finds nothing rather than a newcomer.
using ClipHandle = std::uint64_t;
inline constexpr ClipHandle kNoClip = 0;
inline constexpr ClipHandle kRootClip = 1;  // the main timeline
using NodeIndex = std::unordered_map<ClipHandle, Instance*>;

// One placed character (an entry of a display list), a node of the stage's
// display tree. It lives in its parent's depth map, whose nodes keep their
// address: moves between depths or lists use extract and insert, never copies.
struct Instance {
  Instance() = default;
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  ~Instance();

  std::uint16_t characterId = 0;
  const Character* def = nullptr;
  Matrix matrix;
  ColorTransform cxform;
  std::uint16_t ratio = 0;
  int clipDepth = 0;
  std::string name;
  bool visible = true;
  int blendMode = 0;
  int placedFrame = 0;         // parent's frame of the PlaceObject that made it
  std::uint64_t createdTick = 0;
  ClipHandle serial = kNoClip;  // its handle
  ClipHandle parent = kNoClip;  // the node whose timeline lists it
  int depth = 0;                // its key in that list
  int buttonState = -1;        // buttons: the state bit shown (kButtonUp...), -1 before built
  bool scripted = false;       // a script moved it: the timeline no longer does
  ClipHandle maskSerial = kNoClip;  // setMask: shown only where that instance covers
  bool scriptMask = false;       // a setMask mask: not drawn itself
  std::vector<ClipEventHandler> events;
  std::shared_ptr<const std::string> text;  // text fields: the bound variable's text
  // For sprites their timeline; for buttons the characters of the state shown.
  std::unique_ptr<TimelineState> sprite;
  std::vector<Filter> filters;
  // Morph geometry cache for the current ratio.
  mutable std::shared_ptr<const ShapeGeometry> morphCache;
  mutable int morphCacheRatio = -1;
  NodeIndex* index = nullptr;  // the stage's index that lists it; it leaves on destruction
};

struct TimelineState {
  const TimelineDef* def = nullptr;
  int current = 0;
  bool playing = true;
  int spriteId = 0;  // 0: main timeline
  ClipHandle owner = kNoClip;  // the node this timeline belongs to
  // The timeline as the sound events name it: 0 for the main timeline, a
  // number of its own for each placed clip, -1 for none (button states).
  int soundId = 0;
  std::map<int, Instance> list;  // by depth
  AsObject* vars = nullptr;      // script variables, owned by the interpreter's heap
  std::shared_ptr<Drawing> drawing;
  int FrameCount() const { return static_cast<int>(def->frames.size()); }
};

// What the ActionScript 3 machine hears of the display tree
// (avm2/display_binding.*). The stage owns it when the movie has ABC code.
class ScriptHooks {
 public:
  virtual ~ScriptHooks() = default;
  // A timeline placed a new object; its own first frame has been entered.
  virtual void Placed(Instance& inst) { (void)inst; }
  // A timeline ran the tags of one of its frames.
  virtual void FrameEntered(TimelineState& tl) { (void)tl; }
  // A tick begins (before the timelines advance) and ends.
  virtual void BeforeFrame() {}
  virtual void AfterFrame() {}
  // A button changed state (kIdleToOverUp...).
  virtual void ButtonTransition(Instance& button, std::uint16_t transition) { (void)button; (void)transition; }
  virtual std::vector<std::string> Skipped() const { return {}; }
};

class Stage {
 public:
  explicit Stage(const MovieLibrary& lib);
  ~Stage();

  // Back to the first frame of a freshly loaded movie.
  void Reset();
  // One frame period: the main timeline (when playing) and every sprite.
  void Tick();
  // Jump of the main timeline (0-based, clamped).
  void GotoMain(int frame);

  const TimelineState& Root() const { return root_; }
  TimelineState& Root() { return root_; }
  int TotalFrames() const { return totalFrames_; }

  void SetListener(SoundEventListener* l) { listener_ = l; }

  // The pointer in stage twips; `down` is the mouse button. Runs the button
  // transitions this causes (looks, sounds, actions). Call again after each
  // Tick while the pointer is over the stage: buttons move under it.
  void Pointer(double x, double y, bool down);
  // The pointer left the stage (the mouse button counts as released).
  void PointerLeft();
  bool OverButton() const { return activeSerial_ != 0 && activeState_ != ButtonPhase::kIdle; }
  void SetTime(std::int64_t ms) { timeMs_ = ms; }
  // Actions and features that were skipped, for the debug log.
  std::set<std::string>& Skipped() { return skipped_; }
  // A script variable as text ("/clip:name", "_root.a.b"); empty when unset.
  std::string GetVariable(const std::string& path);

  // The display tree, by handle. Find gives the live node (none for the
  // main timeline, which is no placed object); TimelineOf the timeline of a
  // clip, button or the main timeline.
  Instance* Find(ClipHandle h);
  TimelineState* TimelineOf(ClipHandle h);
  ClipHandle ParentOf(ClipHandle h);
  // The path as scripts name it, "/a/b" ("" for the main timeline).
  std::string PathOf(ClipHandle h);
  // A target path from `base` ("/a/b", "../c", "_root.a", "_parent"); the
  // clip it names now, kNoClip when none.
  ClipHandle Resolve(ClipHandle base, std::string_view target);
  // A child with a timeline, by instance name (case ignored).
  Instance* FindChild(TimelineState& tl, std::string_view name);

  // For the interpreter.
  AsValue GetClipProperty(ClipHandle clip, int index, Avm1& vm);
  void SetClipProperty(ClipHandle clip, int index, const AsValue& v, Avm1& vm);
  void Goto(TimelineState& tl, int frame);
  bool GotoLabel(TimelineState& tl, const std::string& label);
  void GotoValue(ClipHandle clip, const AsValue& v, Avm1& vm);
  void CallFrame(ClipHandle target, const std::string& frame, Avm1& vm);
  void SetPlaying(TimelineState& tl, bool playing);
  void StopAllSounds();
  std::int64_t ScriptTime() const { return timeMs_ - startMs_; }
  // Clip management; each returns the new clip or kNoClip when refused.
  ClipHandle Duplicate(ClipHandle clip, const std::string& name, int depth);
  ClipHandle AttachMovie(ClipHandle parent, const std::string& exportName, const std::string& name, int depth);
  ClipHandle CreateEmptyClip(ClipHandle parent, const std::string& name, int depth);
  void RemoveClip(ClipHandle clip);
  void SwapDepths(ClipHandle clip, int depth);
  int NextHighestDepth(ClipHandle clip);
  // The instance's bounds in its parent's space, twips; false when empty.
  bool Bounds(const Instance& inst, Rect& out, bool local = false);
  const MovieLibrary& Library() const { return lib_; }
  std::size_t FileBytes() const;
  void StartSound(const std::string& exportName);

  // For the ActionScript 3 binding: a node a script made, in `parent` (which
  // may be a list of the binding's own, off the display tree); sprites get
  // their timeline and first frame.
  Instance* AdoptScriptNode(TimelineState& parent, int depth, const Character* def);
  // Moves the node at `fromDepth` of `from` to `depth` of `to` (which must be
  // free); the node keeps its address and handle. nullptr when refused.
  Instance* MoveNode(TimelineState& from, int fromDepth, TimelineState& to, int depth);
  const SpriteDef& EmptySprite() const { return emptySprite_; }
  ScriptHooks* Hooks() { return hooks_.get(); }

 private:
  enum class PendingKind { kCode, kMethod, kConstruct };
  struct PendingActions {
    ClipHandle target = kNoClip;  // the timeline the actions run on
    std::span<const std::uint8_t> code;
    PendingKind kind = PendingKind::kCode;
    std::string method;  // kMethod: the clip's member function to call (onEnterFrame...)
  };

  enum class ButtonPhase { kIdle, kOverUp, kOverDown, kOutDown };

  // A new node in `parent`'s list at `depth`, with a handle of its own.
  Instance& Adopt(TimelineState& parent, int depth);
  void GiveHandle(Instance& inst, const TimelineState& parent);
  void InitButton(Instance& inst);
  void ShowButtonState(Instance& inst, std::uint8_t state);
  Instance* HitTest(TimelineState& tl, double x, double y, const cairo_matrix_t& parent, int nesting);
  void Transition(Instance& button, ButtonPhase to, std::uint16_t transition);
  // An instance leaves the display list: streams of its timelines end.
  void Discard(Instance& inst, int nesting = 0);
  void EnterFrame(TimelineState& tl, int frame, bool runActions, bool soundBlocks, std::map<int, Instance>* reuse);
  void Place(TimelineState& tl, swf::Reader& r, int version, int frame, std::map<int, Instance>* reuse);
  void AdvanceSprites(TimelineState& tl, int nesting);
  void InitSprite(Instance& inst, int nesting);
  void RunActions();
  // Text fields show the variables they are bound to.
  void UpdateBoundText(TimelineState& tl, int nesting);
  void QueueEvents(TimelineState& tl, std::uint32_t events, int nesting);
  Instance* NewScriptInstance(TimelineState& parent, int depth, const std::string& name, const Character* def);
  void NestedTooDeep();

  // Declared before the timelines so that it outlives the nodes it lists.
  NodeIndex nodes_;
  const MovieLibrary& lib_;
  TimelineDef rootDef_;
  TimelineState root_;
  int nextInstance_ = 1;
  int totalFrames_ = 1;
  std::uint64_t tick_ = 1;
  std::vector<PendingActions> pending_;
  SoundEventListener* listener_ = nullptr;
  std::int64_t timeMs_ = 0;
  std::int64_t startMs_ = 0;
  std::unique_ptr<Avm1> avm_;
  std::unique_ptr<ScriptHooks> hooks_;  // the ActionScript 3 machine, when the movie has one
  std::set<int> initDone_;  // sprites whose DoInitAction ran
  SpriteDef emptySprite_;
  std::set<std::string> skipped_;
  std::set<std::size_t> damagedTags_;  // by offset in the movie
  int nesting_ = 0;
  std::size_t createdThisTick_ = 0;
  std::size_t framesEnteredThisTick_ = 0;
  std::size_t liveCount_ = 0;  // instances seen by the last walk of all timelines
  ClipHandle nextSerial_ = kRootClip + 1;
  // The button the pointer works on, and the pointer's last state.
  ClipHandle activeSerial_ = kNoClip;
  ButtonPhase activeState_ = ButtonPhase::kIdle;
  bool mouseDown_ = false;
  double pointerX_ = 0, pointerY_ = 0;
};

}  // namespace quarvel::player
