#pragma once
// The running movie: the display list of every timeline, frame execution,
// and the stage side of ActionScript 1/2 (the interpreter is avm1.h).

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/player/characters.h"
#include "platform/player/filters.h"
#include "platform/player/movie_library.h"

namespace quarvel::player {

class SoundEventListener;
struct TimelineState;
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

// One placed character (an entry of a display list).
struct Instance {
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
  std::uint64_t serial = 0;    // unique per instance made, for the pointer's button
  int buttonState = -1;        // buttons: the state bit shown (kButtonUp...), -1 before built
  bool scripted = false;       // a script moved it: the timeline no longer does
  std::uint64_t maskSerial = 0;  // setMask: shown only where that instance covers
  bool scriptMask = false;       // a setMask mask: not drawn itself
  std::vector<ClipEventHandler> events;
  std::shared_ptr<const std::string> text;  // text fields: the bound variable's text
  // For sprites their timeline; for buttons the characters of the state shown.
  std::unique_ptr<TimelineState> sprite;
  std::vector<Filter> filters;
  // Morph geometry cache for the current ratio.
  mutable std::shared_ptr<const ShapeGeometry> morphCache;
  mutable int morphCacheRatio = -1;
};

struct TimelineState {
  const TimelineDef* def = nullptr;
  int current = 0;
  bool playing = true;
  int spriteId = 0;  // 0: main timeline
  // The timeline as the sound events name it: 0 for the main timeline, a
  // number of its own for each placed clip, -1 for none (button states).
  int soundId = 0;
  std::map<int, Instance> list;  // by depth
  AsObject* vars = nullptr;      // script variables, owned by the interpreter's heap
  std::shared_ptr<Drawing> drawing;
  int FrameCount() const { return static_cast<int>(def->frames.size()); }
};

// A child's path: its name, and its serial number after a \x02 so that a
// reference finds this very clip among others of the same name.
inline std::string ChildPath(const std::string& parent, const Instance& inst) {
  return parent + "/" + inst.name + '\x02' + std::to_string(inst.serial);
}
// The path as scripts see it, without serial numbers.
std::string PlainPath(const std::string& path);

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

  // For the interpreter.
  TimelineState* Resolve(const std::string& base, const std::string& target, std::string* resolved);
  Instance* FindInstance(const std::string& path, TimelineState** parent = nullptr);
  Instance* FindSerial(std::uint64_t serial);
  // A child with a sprite timeline by path segment (name, maybe a serial).
  Instance* FindChild(TimelineState& tl, const std::string& segment);
  AsValue GetClipProperty(const std::string& path, int index, Avm1& vm);
  void SetClipProperty(const std::string& path, int index, const AsValue& v, Avm1& vm);
  void Goto(TimelineState& tl, int frame, const std::string& path);
  bool GotoLabel(TimelineState& tl, const std::string& label, const std::string& path);
  void GotoValue(TimelineState& tl, const std::string& path, const AsValue& v, Avm1& vm);
  void CallFrame(const std::string& target, const std::string& frame, Avm1& vm);
  void SetPlaying(TimelineState& tl, bool playing);
  void StopAllSounds();
  std::int64_t ScriptTime() const { return timeMs_ - startMs_; }
  // Clip management; each returns the new clip's path or "" when refused.
  std::string Duplicate(const std::string& path, const std::string& name, int depth, Avm1& vm);
  std::string AttachMovie(const std::string& parent, const std::string& exportName, const std::string& name,
                          int depth);
  std::string CreateEmptyClip(const std::string& parent, const std::string& name, int depth);
  void RemoveClip(const std::string& path);
  void SwapDepths(const std::string& path, int depth);
  int NextHighestDepth(const std::string& path);
  // The instance's bounds in its parent's space, twips; false when empty.
  bool Bounds(const Instance& inst, Rect& out, bool local = false);
  const MovieLibrary& Library() const { return lib_; }
  std::size_t FileBytes() const;
  void StartSound(const std::string& exportName);

 private:
  struct PendingActions {
    std::string targetPath;  // the timeline the actions run on
    std::span<const std::uint8_t> code;
    std::string handler;  // else a clip's member function to call (onEnterFrame...)
  };

  enum class ButtonPhase { kIdle, kOverUp, kOverDown, kOutDown };
  struct ButtonHit {
    Instance* inst = nullptr;
    std::string parentPath;
  };

  void InitButton(Instance& inst, const std::string& path);
  void ShowButtonState(Instance& inst, std::uint8_t state, const std::string& path);
  bool HitTest(std::map<int, Instance>& list, const std::string& path, double x, double y,
               const cairo_matrix_t& parent, int nesting, ButtonHit& hit);
  bool FindSerial(std::map<int, Instance>& list, const std::string& path, std::uint64_t serial, int nesting,
                  ButtonHit& hit);
  void Transition(const ButtonHit& b, ButtonPhase to, std::uint16_t transition);
  // An instance leaves the display list: streams of its timelines end.
  void Discard(Instance& inst, int nesting = 0);
  void EnterFrame(TimelineState& tl, int frame, bool runActions, bool soundBlocks, const std::string& path,
                  std::map<int, Instance>* reuse);
  void Place(TimelineState& tl, swf::Reader& r, int version, int frame, const std::string& path,
             std::map<int, Instance>* reuse);
  void AdvanceSprites(TimelineState& tl, const std::string& path, int nesting);
  void InitSprite(Instance& inst, const std::string& path, int nesting);
  void RunActions();
  // Text fields show the variables they are bound to.
  void UpdateBoundText(TimelineState& tl, const std::string& path, int nesting);
  void QueueEvents(TimelineState& tl, const std::string& path, std::uint32_t events, int nesting);
  Instance* NewScriptInstance(TimelineState& parent, int depth, const std::string& name, const Character* def);

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
  std::set<int> initDone_;  // sprites whose DoInitAction ran
  SpriteDef emptySprite_;
  std::set<std::string> skipped_;
  std::set<std::size_t> damagedTags_;  // by offset in the movie
  int nesting_ = 0;
  std::size_t createdThisTick_ = 0;
  std::size_t framesEnteredThisTick_ = 0;
  std::size_t liveCount_ = 0;  // instances seen by the last walk of all timelines
  std::uint64_t nextSerial_ = 1;
  // The button the pointer works on, and the pointer's last state.
  std::uint64_t activeSerial_ = 0;
  ButtonPhase activeState_ = ButtonPhase::kIdle;
  bool mouseDown_ = false;
  double pointerX_ = 0, pointerY_ = 0;
};

}  // namespace quarvel::player
