#pragma once
// The running movie: the display list of every timeline, frame execution,
// and the timeline-control subset of ActionScript 1/2.

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
  std::map<int, Instance> list;  // by depth
  int FrameCount() const { return static_cast<int>(def->frames.size()); }
};

class Stage {
 public:
  explicit Stage(const MovieLibrary& lib);

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

 private:
  struct PendingActions {
    std::string targetPath;  // the timeline the actions run on
    std::span<const std::uint8_t> code;
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
  void SetPlaying(TimelineState& tl, bool playing);
  // An instance leaves the display list: streams of its timelines end.
  void Discard(Instance& inst, int nesting = 0);
  void EnterFrame(TimelineState& tl, int frame, bool runActions, bool soundBlocks, const std::string& path,
                  std::map<int, Instance>* reuse);
  void Place(TimelineState& tl, swf::Reader& r, int version, int frame, const std::string& path,
             std::map<int, Instance>* reuse);
  void Goto(TimelineState& tl, int frame, const std::string& path);
  void AdvanceSprites(TimelineState& tl, const std::string& path, int nesting);
  void InitSprite(Instance& inst, const std::string& path, int nesting);
  void RunActions();
  void Execute(const std::string& path, std::span<const std::uint8_t> code);
  TimelineState* Resolve(const std::string& base, const std::string& target, std::string* resolved);

  const MovieLibrary& lib_;
  TimelineDef rootDef_;
  TimelineState root_;
  int nextInstance_ = 1;
  int totalFrames_ = 1;
  std::uint64_t tick_ = 1;
  std::vector<PendingActions> pending_;
  SoundEventListener* listener_ = nullptr;
  std::int64_t timeMs_ = 0;
  std::set<std::string> skipped_;
  std::set<std::size_t> damagedTags_;  // by offset in the movie
  int nesting_ = 0;
  std::size_t createdThisTick_ = 0;
  std::size_t framesEnteredThisTick_ = 0;
  std::size_t actionsThisTick_ = 0;
  std::size_t liveCount_ = 0;  // instances seen by the last walk of all timelines
  std::uint64_t nextSerial_ = 1;
  // The button the pointer works on, and the pointer's last state.
  std::uint64_t activeSerial_ = 0;
  ButtonPhase activeState_ = ButtonPhase::kIdle;
  bool mouseDown_ = false;
};

}  // namespace quarvel::player
