#pragma once
// The running movie: the display list of every timeline, frame execution,
// and the stage side of ActionScript 1/2 (the interpreter is avm1.h).

#include <array>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "player/display/display_transform.h"
#include "player/display/drawing.h"
#include "player/library/characters.h"
#include "player/render/filters.h"
#include "player/library/movie_library.h"
#include "player/rules/matrix3d.h"

namespace quarvel::player {

class SoundEventListener;
namespace text {
class TextField;
}
struct TimelineState;
struct Instance;
class Avm1;
class Stage;
class VideoDisplay;
class BitmapData;
struct ShaderBlend;
struct AsObject;
struct AsValue;

// onClipEvent handlers of a placed clip (PlaceObject2/3 clip actions).
struct ClipEventHandler {
  std::uint32_t events = 0;  // kEvent... bits
  std::span<const std::uint8_t> code;
  std::uint8_t keyPress = 0;  // with kEventKeyPress: the key, as ButtonKeyPressCode numbers it
};
inline constexpr std::uint32_t kEventLoad = 0x1, kEventEnterFrame = 0x2, kEventUnload = 0x4, kEventMouseMove = 0x8,
                               kEventMouseDown = 0x10, kEventMouseUp = 0x20, kEventKeyDown = 0x40, kEventKeyUp = 0x80,
                               kEventData = 0x100, kEventInitialize = 0x200, kEventPress = 0x400,
                               kEventRelease = 0x800, kEventReleaseOutside = 0x1000, kEventRollOver = 0x2000,
                               kEventRollOut = 0x4000, kEventDragOver = 0x8000, kEventDragOut = 0x10000,
                               kEventKeyPress = 0x20000, kEventConstruct = 0x40000;

// The key code of a button's or clip's keyPress condition for a key: 1 to
// 19 for the cursor and editing keys, the character for printable ones; 0
// when no condition can name the key.
int ButtonKeyPressCode(int keyCode, int charCode);

// A display object's handle: its serial number, never handed out twice, so a
// handle to a removed object finds nothing rather than a newcomer.
using ClipHandle = std::uint64_t;
inline constexpr ClipHandle kNoClip = 0;
inline constexpr ClipHandle kRootClip = 1;  // the main timeline
using NodeIndex = std::unordered_map<ClipHandle, Instance*>;

// N of a level's name "_levelN" (in lower case); -1 for any other name.
inline int LevelNumber(std::string_view low) {
  if (low.size() < 7 || low.size() > 16 || low.substr(0, 6) != "_level") return -1;
  long n = 0;
  for (char c : low.substr(6)) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n > 0x7FFFFFFF ? -1 : static_cast<int>(n);
}

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
  std::shared_ptr<const ShaderBlend> blendShader;  // blend mode 15 draws with it
  int placedFrame = 0;         // parent's frame of the PlaceObject that made it
  std::uint64_t createdTick = 0;
  ClipHandle serial = kNoClip;  // its handle
  ClipHandle parent = kNoClip;  // the node whose timeline lists it
  // Added to the stage itself by a script: kept in the main timeline's list
  // (drawn above its children) but counted as the stage's, not the main timeline's.
  bool stageChild = false;
  int depth = 0;                // its key in that list
  int buttonState = -1;        // buttons: the state bit shown (kButtonUp...), -1 before built
  bool scripted = false;       // a script moved it: the timeline no longer does
  // ActionScript 3 made it: its timeline sits out the next advance, so it
  // runs a frame behind what timelines placed with it.
  bool skipNextStep = false;
  std::uint64_t steppedTick = 0;  // the tick that advanced it: none twice
  bool constructed = false;    // its initialize events and class constructor ran
  ClipHandle maskSerial = kNoClip;  // setMask: shown only where that instance covers
  bool scriptMask = false;       // a setMask mask: not drawn itself
  std::vector<ClipEventHandler> events;
  // What scripts last made of the matrix (scales, rotation, skew).
  transform::Kept scriptTransform;
  std::shared_ptr<const std::string> text;  // text fields: the bound variable's text
  std::shared_ptr<text::TextField> field;   // text fields: the field scripts and the renderer see
  // For sprites their timeline; for buttons the characters of the state shown.
  std::unique_ptr<TimelineState> sprite;
  std::vector<Filter> filters;
  // Videos: the decoder and the picture shown, made when first drawn.
  std::shared_ptr<VideoDisplay> video;
  std::shared_ptr<BitmapData> bitmap;  // attachBitmap: shown live, def is its picture
  std::shared_ptr<const Character> ownDef;  // a picture loadMovie brought: def is it
  bool bitmapSmoothing = false;
  bool cacheAsBitmap = false;
  // _focusrect set on this object (ActionScript 2): -1 unset (null), 0 or 1.
  std::int8_t focusRect = -1;
  std::optional<std::uint32_t> opaqueBackground;    // RGB filled under its bounds
  std::optional<std::array<double, 4>> scrollRect;  // x, y, width, height in its own pixels
  // A window a script moves shows moved at once, but points are carried by
  // its move only from the next tick on (once Flash has drawn it): the move
  // before, and the tick it was set in.
  std::array<double, 2> scrollWas{};
  std::uint64_t scrollSetTick = 0;
  std::optional<Rect> scale9Grid;  // a script's grid (twips); unset: its symbol's, if any
  // ActionScript 3's third dimension: the object drawn in perspective.
  std::optional<Depth3D> depth3D;
  // transform.perspectiveProjection as a script set it (twips, own space):
  // the objects in three dimensions below it are seen through it.
  std::optional<rules::Perspective> perspective;
  // Morph geometry cache for the current ratio.
  mutable std::shared_ptr<const ShapeGeometry> morphCache;
  mutable int morphCacheRatio = -1;
  NodeIndex* index = nullptr;  // the stage's index that lists it; it leaves on destruction
};

// Children by depth. A timeline may place two at one depth and both show:
// the later lies below, and lookups by depth find it first, as in Flash's
// list, which inserts before what already has the depth.
using DisplayList = std::multimap<int, Instance>;

// The entry that holds `inst` (end() when the list has none).
inline DisplayList::iterator EntryOf(DisplayList& list, const Instance& inst) {
  auto [it, last] = list.equal_range(inst.depth);
  while (it != last && &it->second != &inst) ++it;
  return it == last ? list.end() : it;
}

struct TimelineState {
  const TimelineDef* def = nullptr;
  int current = 0;
  // A clip createEmptyMovieClip made is on frame 0 until it first runs.
  bool unentered = false;
  bool playing = true;
  // ActionScript 3's isPlaying: a clip that plays on its own reads as
  // stopped until a script asks it to play (the player asks the main
  // timeline when it first moves it on).
  bool playAsked = false;
  int spriteId = 0;  // 0: main timeline
  ClipHandle owner = kNoClip;  // the node this timeline belongs to
  // The timeline as the sound events name it: 0 for the main timeline, a
  // number of its own for each placed clip, -1 for none (button states).
  int soundId = 0;
  DisplayList list;
  AsObject* vars = nullptr;      // script variables, owned by the interpreter's heap
  std::optional<std::int32_t> tabIndex;  // buttons (ActionScript 2): unset is undefined
  std::shared_ptr<Drawing> drawing;
  // A file loadMovie brought: its length; -1 once a load failed (the clip
  // then has no frames either). Unset: the sprite's own tags count.
  std::optional<std::int64_t> loadedBytes;
  // A movie loaded into a clip: its timelines place and run from its own
  // library (nullptr: the stage's).
  const MovieLibrary* lib = nullptr;
  // The URL of the file loaded into it, for _url; empty: its parent's.
  std::string url;
  // The main timeline's own place and colour (ActionScript 3 scripts move
  // the document object like any other); unused for other timelines.
  Matrix matrix;
  ColorTransform cxform;
  // The main timeline's perspectiveProjection (twips, its own space), which
  // objects in three dimensions are seen through unless a container between
  // sets its own; unset: Flash's default for a 550 x 400 stage.
  std::optional<rules::Perspective> perspective;
  int FrameCount() const { return static_cast<int>(def->frames.size()); }
};

// What the ActionScript 3 machine hears of the display tree
// (avm2/display_binding.*). The stage owns it when the movie has ABC code.
// A Stage3D layer's last presented back buffer, at its place on the stage
// (pixels): premultiplied ARGB shown opaque, as Flash shows the layers.
// The words are made when first asked for: most presented frames are
// never painted.
class PresentedPixels {
 public:
  virtual ~PresentedPixels() = default;
  // width * height premultiplied ARGB words, row by row.
  virtual const std::vector<std::uint32_t>& Words() const = 0;
};
struct PresentedLayer {
  double x = 0, y = 0;
  int width = 0, height = 0;
  std::shared_ptr<const PresentedPixels> pixels;  // a new picture each present
  bool operator==(const PresentedLayer&) const = default;
};

class ScriptHooks {
 public:
  virtual ~ScriptHooks() = default;
  // A timeline placed a new object; its own first frame has been entered.
  virtual void Placed(Instance& inst) { (void)inst; }
  // A timeline ran the tags of one of its frames.
  virtual void FrameEntered(TimelineState& tl) { (void)tl; }
  // The main timeline is about to run the tags of `frame` (by playing or a
  // jump, also of each frame a jump passes).
  virtual void MainFrameReached(int frame) { (void)frame; }
  // A tick begins (before the timelines advance) and ends.
  virtual void BeforeFrame() {}
  virtual void AfterFrame() {}
  // The timelines have entered their next frames; what they placed is not
  // yet constructed for scripts.
  virtual void TimelinesAdvanced() {}
  // Clips off every display list whose timelines play on (ActionScript 3
  // runs the frames of clips scripts made or took off a list).
  virtual TimelineState* Orphans() { return nullptr; }
  // A timeline takes one of its children off (a remove tag, or a jump to a
  // frame that does not have it); the child is still on its list.
  virtual void Removing(Instance& inst) { (void)inst; }
  // A button changed state (kIdleToOverUp...).
  virtual void ButtonTransition(Instance& button, std::uint16_t transition) { (void)button; (void)transition; }
  // A button is to show another state (kButtonUp...): true when the
  // machine shows it (ActionScript 3 buttons hold their states as objects).
  virtual bool ShowButtonState(Instance& button, std::uint8_t state) { (void)button; (void)state; return false; }
  // The states a button holds but does not show: their timelines play on.
  virtual std::vector<Instance*> HiddenStates(Instance& button) { (void)button; return {}; }
  // The pointer (stage twips) after the buttons took it; a key went down or up.
  virtual void Pointer(double x, double y, bool down) { (void)x; (void)y; (void)down; }
  virtual void Key(bool down, int keyCode, int charCode) { (void)down; (void)keyCode; (void)charCode; }
  // The object under the pointer asks for a hand cursor.
  virtual bool HandCursor() const { return false; }
  virtual std::vector<std::string> Skipped() const { return {}; }
  // The Stage3D layers that have presented a picture, bottom first: the
  // player draws them over the stage colour and under the display list.
  virtual std::vector<PresentedLayer> Stage3DLayers() const { return {}; }
  // The tree is about to be listed for drawing: what scripts keep elsewhere
  // (perspective projections) is brought onto the nodes.
  virtual void BeforeDraw() {}
};

// What the stage asks of the ActionScript 1/2 machine (avm1/). The stage
// always has one; these defaults stand for a movie without any script.
class ClipScripts {
 public:
  virtual ~ClipScripts() = default;
  // A new frame: the step budget starts again; timers fire.
  virtual void BeginFrame(std::int64_t ms) { (void)ms; }
  // The frame's actions are done: loaded data is delivered.
  virtual void EndFrame() {}
  // Frees objects no timeline or global can reach.
  virtual void Collect() {}
  // Action byte code with the clip as target and `this`.
  virtual void Run(ClipHandle clip, std::span<const std::uint8_t> code) { (void)clip; (void)code; }
  virtual void CallHandler(ClipHandle clip, const std::string& name) { (void)clip; (void)name; }
  virtual bool HasHandler(ClipHandle clip, const std::string& name) { (void)clip; (void)name; return false; }
  // A new clip's class, initialize and construct events; once.
  virtual void ConstructClip(ClipHandle clip) { (void)clip; }
  // A clip leaves: its unload handlers are kept to run (RunUnloads).
  virtual void ClipUnloading(ClipHandle clip) { (void)clip; }
  virtual void RunUnloads() {}
  // A key went down or up, before the events it raises run (Key.isDown).
  virtual void KeyChanged(bool down, int keyCode, int charCode) { (void)down; (void)keyCode; (void)charCode; }
  // `message` to the listeners of a global broadcaster (Mouse, Key, Stage).
  virtual void BroadcastGlobal(const std::string& object, const std::string& message) { (void)object; (void)message; }
  // The clip a clip's hitArea names, read without running a getter;
  // kNoClip for none.
  virtual ClipHandle HitAreaOf(ClipHandle clip) { (void)clip; return kNoClip; }
  // False when the clip's `enabled` is a plain value that converts to
  // false (a getter, as components define it, counts as enabled).
  virtual bool Enabled(ClipHandle clip) { (void)clip; return true; }
  // A variable's text by its path from `clip`; none when undefined.
  virtual std::optional<std::string> VariableText(const std::string& path, ClipHandle clip) {
    (void)path; (void)clip;
    return std::nullopt;
  }
  virtual void SetVariableText(const std::string& path, const std::string& text, ClipHandle clip) {
    (void)path; (void)text; (void)clip;
  }
  // True when the variable is a member of a clip (or of `clip` itself):
  // only those a bound field follows after it is bound.
  virtual bool VariableOnClip(const std::string& path, ClipHandle clip) {
    (void)path; (void)clip;
    return true;
  }
};

// The script machines a stage runs, made by the player (script_machines.h)
// so that the display tree does not depend on them. Either may be empty.
struct ScriptMachines {
  std::function<std::unique_ptr<ClipScripts>(Stage&)> avm1;
  std::function<std::unique_ptr<ScriptHooks>(Stage&)> avm2;  // for movies with ActionScript 3
};

class Stage {
 public:
  // `movieFolder`: see MovieFolder(). Without `start` the first frame waits
  // for Reset, so that a listener set before it hears its sounds.
  explicit Stage(const MovieLibrary& lib, ScriptMachines machines = {}, std::filesystem::path movieFolder = {},
                 bool start = true);
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
  bool OverButton() const {
    return (activeSerial_ != 0 && activeState_ != ButtonPhase::kIdle) || (hooks_ && hooks_->HandCursor());
  }
  // A key went down or up: keyCode as Flash numbers keys, charCode the
  // character it types (0 for none).
  void Key(bool down, int keyCode, int charCode);
  void SetTime(std::int64_t ms) { timeMs_ = ms; }
  // Actions and features that were skipped, for the debug log.
  std::set<std::string>& Skipped() { return skipped_; }
  // Scripts a cap or limit stopped ("ActionScript 3: the recursion limit"),
  // told to the user: the movie then plays without the rest of them.
  void ScriptStopped(const std::string& why) { stopped_.insert(why); }
  const std::set<std::string>& StoppedScripts() const { return stopped_; }
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
  // clip it names now, kNoClip when none. `this` names base only in the
  // paths of variables (thisIsBase); elsewhere it is a child's name.
  ClipHandle Resolve(ClipHandle base, std::string_view target, bool thisIsBase = false);
  // A Flash 4 path: only slashes divide names, ".." is a parent only as
  // ".." or "../", and only a first name "_levelN" or "_flashN" (its
  // leading digits) is a level; there is no _root.
  ClipHandle ResolveSwf4(ClipHandle base, std::string_view target);
  // A child with a timeline, by instance name (case ignored).
  Instance* FindChild(TimelineState& tl, std::string_view name);

  // For the interpreter.
  AsValue GetClipProperty(ClipHandle clip, int index, Avm1& vm);
  void SetClipProperty(ClipHandle clip, int index, const AsValue& v, Avm1& vm);
  // _x, _y, _xscale, _yscale, _rotation or _alpha of the main timeline.
  void SetMainTransform(int index, double d);
  // Queues the unload events of a clip (its onUnload and onClipEvent(unload)).
  void QueueUnload(Instance& inst);
  // Whether the clip or a clip inside it hears its unload: its removal by a
  // script then waits for the next frame.
  bool HearsUnload(const Instance& inst, int nesting);
  // Clips removed but kept for the rest of the frame, below every depth.
  std::vector<ClipHandle> removing_;
  // Moves a removed clip below every depth, to leave when the next frame starts.
  void PutOffRemoval(TimelineState& parent, DisplayList::iterator it);
  void FinishRemovals();
  // The clip or one around it was removed and waits to go.
  bool Leaving(ClipHandle clip);
  AsValue FocusRectProperty(ClipHandle clip, Avm1& vm);
  void SetFocusRectProperty(ClipHandle clip, const AsValue& v, Avm1& vm);
  // `runActions` false: the frame is shown without its actions (a script's
  // jump past the last frame lands on it so).
  void Goto(TimelineState& tl, int frame, bool runActions = true);
  bool GotoLabel(TimelineState& tl, const std::string& label);
  // False when the value names no frame: the timeline then neither stops nor plays.
  bool GotoValue(ClipHandle clip, const AsValue& v, Avm1& vm);
  void CallFrame(ClipHandle target, const std::string& frame, Avm1& vm);
  void SetPlaying(TimelineState& tl, bool playing);
  void StopAllSounds();
  // The movie asked the player to close (fscommand "quit"), as a standalone
  // player does: its sounds stop, and from the next frame on no frame,
  // script, timer or input runs; the last picture stays.
  void Quit();
  bool Quitted() const { return quit_; }
  std::int64_t ScriptTime() const { return timeMs_ - startMs_; }
  // Clip management; each returns the new clip or kNoClip when refused.
  ClipHandle Duplicate(ClipHandle clip, const std::string& name, int depth);
  ClipHandle AttachMovie(ClipHandle parent, const std::string& exportName, const std::string& name, int depth);
  ClipHandle CreateEmptyClip(ClipHandle parent, const std::string& name, int depth);
  ClipHandle CreateTextField(ClipHandle parent, const std::string& name, int depth,
                             std::shared_ptr<text::TextField> field);
  ClipHandle AttachBitmap(ClipHandle parent, std::shared_ptr<BitmapData> bitmap, int depth, bool smoothing);
  // Whether RemoveClip would remove it (a clip at a script depth).
  bool RemovableByScript(ClipHandle clip);
  void RemoveClip(ClipHandle clip);
  // unloadMovie: the clip stays where it is, empty and stopped.
  void UnloadClip(ClipHandle clip);
  // loadMovie of a picture: the clip's frames and children go, and the
  // picture shows at its origin, below what scripts add later.
  bool LoadPicture(ClipHandle clip, std::shared_ptr<const Character> picture, std::size_t fileBytes = 0);
  // loadMovie of a movie: it plays in the clip from its first frame, with
  // its own library and frames (not its frame rate). False when the file is
  // no movie the clip can show. With `as3` (a Loader's), a movie with
  // ActionScript 3 code is shown too; `ready` gets its library before its
  // first frame is entered, so that its code can be there first.
  bool LoadMovieInto(ClipHandle clip, std::span<const std::uint8_t> file, bool as3 = false,
                     const std::function<void(const MovieLibrary&)>& ready = {});
  // A loadMovie whose file is missing or no picture or movie: the clip is
  // left empty, with no frames and -1 bytes (the main timeline keeps its movie).
  void FailLoad(ClipHandle clip);
  // getBytesTotal (false: getBytesLoaded): a loaded file's length, the main
  // movie's, the length of a sprite's tags; -1 total (0 loaded) after a failed load.
  std::int64_t ClipBytes(ClipHandle clip, bool total);
  // The SWF version of the movie a clip's timeline comes from; -1 after a
  // failed load, 0 for no clip.
  int ClipSwfVersion(ClipHandle clip);
  // _levelN for N >= 1: a clip above everything of the main timeline, made
  // on first use when `make`; kRootClip for 0, kNoClip when there is none.
  ClipHandle Level(int n, bool make);
  // What _root names for scripts of a clip: the level it lies in.
  ClipHandle RootOf(ClipHandle clip);
  // The background a loaded movie set, when the main movie set none.
  std::optional<Rgba> LoadedBackground() const { return loadedBackground_; }
  // The background a script set (ActionScript 3's stage.color), over the movie's own.
  std::optional<Rgba> ScriptBackground() const { return scriptBackground_; }
  void SetScriptBackground(Rgba c) { scriptBackground_ = c; }
  // The quality scripts set (_quality, _highquality, stage.quality), which
  // the picture follows as Flash's does: "LOW", "MEDIUM", "HIGH", "BEST"
  // (or Flash's 8X8.. names of best); empty until a script sets one.
  const std::string& ScriptQuality() const { return scriptQuality_; }
  // False, and nothing changes, for a name Flash does not know.
  bool SetScriptQuality(std::string_view name);
  // The host chose a quality after the movie did: the host's holds until the movie sets one again.
  void ClearScriptQuality() { scriptQuality_.clear(); }
  // The player's _focusrect: whether focus shows a yellow rectangle. It
  // outlives the movies loaded into level 0.
  bool FocusRect() const { return focusRect_; }
  void SetFocusRect(bool on) { focusRect_ = on; }
  // _level0._visible: false hides the whole main movie.
  bool RootVisible() const { return rootVisible_; }
  // stage.frameRate set by a script (8.8 fixed point, as the header's); 0 until one does.
  int ScriptFrameRate() const { return scriptFrameRate_; }
  void SetScriptFrameRate(double fps);
  void SwapDepths(ClipHandle clip, int depth);
  int NextHighestDepth(ClipHandle clip);
  // The instance's bounds in its parent's space, twips; false when empty.
  // `edges`: without strokes, as getRect measures.
  bool Bounds(const Instance& inst, Rect& out, bool local = false, bool edges = false);
  static bool LocalBounds(const Instance& inst, Rect& out);
  const MovieLibrary& Library() const { return lib_; }
  std::size_t FileBytes() const;
  // The movie's file as stored: what ActionScript 3's loaderInfo counts.
  std::size_t StoredBytes() const;
  void StartSound(const std::string& exportName);
  // The folder of the movie's file, where scripts find the video files
  // they play; empty for a movie from memory.
  const std::filesystem::path& MovieFolder() const { return movieFolder_; }
  // The movie file's name as scripts see it in its URL ("movie.swf" for one from memory).
  const std::string& MovieName() const { return movieName_; }
  void SetMovieName(std::string name) { movieName_ = std::move(name); }
  std::int64_t HostTime() const { return timeMs_; }
  SoundEventListener* Listener() const { return listener_; }
  // A video problem (a damaged frame, a missing file...), named once in the
  // debug log and in Skipped().
  void VideoProblem(const std::string& text);
  // Brings every placed video to the picture its ratio or its attached
  // stream names (before drawing); damaged frames go to Skipped().
  void UpdateVideos();
  // The video state of a placed video, made on first use; nullptr for
  // other objects.
  VideoDisplay* VideoOf(Instance& inst);
  // Sound objects: a sound by id with its SOUNDINFO record (offset, loops,
  // levels, stop), and sounds scripts load at run time under ids of their own.
  void StartSoundById(int soundId, std::string_view name, std::span<const std::uint8_t> info);
  void DefineScriptSound(int soundId, std::span<const std::uint8_t> body);
  // startDrag: the clip follows the pointer, its centre on it when `lockCenter`
  // (else at the offset it had), kept inside `bounds` (parent's space,
  // twips: left, top, right, bottom) when given.
  void StartDrag(ClipHandle clip, bool lockCenter, const double* bounds);
  void StopDrag() { dragClip_ = kNoClip; }
  ClipHandle Dragged() const { return dragClip_; }
  // _droptarget: the deepest clip under the pointer other than the one dragged.
  ClipHandle DropTarget();
  // The pointer, stage twips.
  double PointerX() const { return pointerX_; }
  double PointerY() const { return pointerY_; }
  // Stage twips to the clip's own space (and back); false when singular
  // or the clip is gone.
  bool ToClipSpace(ClipHandle clip, double& x, double& y);
  // An ActionScript 3 object's space to the stage's in three dimensions
  // (twips), with each perspective projection applied where its owner's
  // space is reached when `seen`: a point (x, y, z) shows at (X / W, Y / W).
  // False when neither the object nor an object around it is in three
  // dimensions (then WorldOf says it all).
  bool Space3D(ClipHandle clip, rules::M4& out, bool seen);
  // Whether a clip's shapes (not its bounding box) cover a stage point.
  bool HitsShapes(ClipHandle clip, double x, double y);
  // The move of an object's scrollRect that points follow (pixels).
  std::array<double, 2> ScrollMove(const Instance& inst) const;
  // A script sets an object's scrollRect (nullopt: none).
  void SetScrollRect(Instance& inst, const std::optional<std::array<double, 4>>& r);

  // For the ActionScript 3 binding: a node a script made, in `parent` (which
  // may be a list of the binding's own, off the display tree); sprites get
  // their timeline and first frame.
  // `from`: the library the definition comes from when it is not the one of
  // `parent` (a loaded movie's symbol made by `new`), so its clips find their
  // children there.
  Instance* AdoptScriptNode(TimelineState& parent, int depth, const Character* def, const MovieLibrary* from = nullptr);
  // Moves the node at `fromDepth` of `from` to `depth` of `to` (which must be
  // free); the node keeps its address and handle. nullptr when refused.
  // `which`: the node itself, when another may share its key.
  Instance* MoveNode(TimelineState& from, int fromDepth, TimelineState& to, int depth, const Instance* which = nullptr);
  const SpriteDef& EmptySprite() const { return emptySprite_; }
  ScriptHooks* Hooks() { return hooks_.get(); }

 private:
  // kInit: DoInitAction code; kInitialize: a new clip's initialize event;
  // kConstruct: a new clip's class and construct events.
  // kBroadcast: `method` to the Mouse object's listeners (kBroadcastKey:
  // the Key object's); kUnload: the unload handlers of removed clips.
  enum class PendingKind { kCode, kMethod, kConstruct, kInit, kInitialize, kBroadcast, kBroadcastKey, kUnload };
  struct PendingActions {
    ClipHandle target = kNoClip;  // the timeline the actions run on
    std::span<const std::uint8_t> code;
    PendingKind kind = PendingKind::kCode;
    std::string method;  // kMethod: the clip's member function to call (onEnterFrame...)
  };
  // Init actions run first, then every new clip's initialize events, then
  // their constructors, then every other action queued; each kind in the
  // order queued.
  struct PendingQueue {
    std::deque<PendingActions> byPriority[4];
    void push_back(PendingActions p) {
      const int i = p.kind == PendingKind::kInit         ? 0
                    : p.kind == PendingKind::kInitialize ? 1
                    : p.kind == PendingKind::kConstruct  ? 2
                                                         : 3;
      byPriority[i].push_back(std::move(p));
    }
    bool Pop(PendingActions& out) {
      for (auto& q : byPriority) {
        if (q.empty()) continue;
        out = std::move(q.front());
        q.pop_front();
        return true;
      }
      return false;
    }
    void clear() {
      for (auto& q : byPriority) q.clear();
    }
  };

  enum class ButtonPhase { kIdle, kOverUp, kOverDown, kOutDown };

  // The library a timeline's tags and ids belong to; that of the timeline
  // holding an instance.
  const MovieLibrary& LibOf(const TimelineState& tl) const { return tl.lib ? *tl.lib : lib_; }
  const MovieLibrary& LibAround(const Instance& inst);
  // Empties a timeline for content loaded into it.
  void ClearForLoad(TimelineState& tl);
  // A new node in `parent`'s list at `depth`, with a handle of its own.
  Instance& Adopt(TimelineState& parent, int depth);
  // The timeline's own object at `depth` (end() when none).
  DisplayList::iterator TimelineEntry(TimelineState& tl, int depth);
  void GiveHandle(Instance& inst, const TimelineState& parent);
  void InitButton(Instance& inst);
  void ShowButtonState(Instance& inst, std::uint8_t state);
  Instance* HitTest(TimelineState& tl, double x, double y, const cairo_matrix_t& parent, int nesting);
  bool WorldOf(ClipHandle clip, cairo_matrix_t& out);
  // An object's place in its parent: its matrix after its scrollRect's move.
  cairo_matrix_t Placed(const Instance& inst, const cairo_matrix_t& parent) const;
  // Whether a scrolled object's window holds a stage point; `world` is its placed matrix.
  bool InScrollWindow(const Instance& inst, const cairo_matrix_t& world, double x, double y) const;
  // Whether the windows of the clip's scrolled ancestors (and its own) hold a stage point.
  bool InScrollWindows(ClipHandle clip, double x, double y);
  bool OnPlane3D(ClipHandle clip, double& x, double& y, bool& in3D);
  bool HitsContent(const Instance& inst, const cairo_matrix_t& world, double x, double y, int nesting);
  bool HitsTimeline(const TimelineState& tl, const cairo_matrix_t& world, double x, double y, int nesting);
  // A clip with button handlers (onPress...) under the pointer acts as a button.
  bool ActsAsButton(const Instance& inst);
  ClipHandle DeepestClipAt(TimelineState& tl, const cairo_matrix_t& world, double x, double y, ClipHandle skip,
                           int nesting);
  void UpdateDrag();
  void Transition(Instance& button, ButtonPhase to, std::uint16_t transition);
  // An instance leaves the display list: streams of its timelines end.
  void Discard(Instance& inst, int nesting = 0);
  void EnterFrame(TimelineState& tl, int frame, bool runActions, bool soundBlocks, DisplayList* reuse);
  void Place(TimelineState& tl, swf::Reader& r, int version, int frame, DisplayList* reuse);
  void AdvanceSprites(TimelineState& tl, int nesting);
  // ActionScript 1/2 movies: one tick of every clip in Flash's order.
  void RunExecList();
  void AdvanceTimeline(TimelineState& tl);
  // ActionScript 3 ticks in two halves: a timeline's removals and its new
  // frame number come before ENTER_FRAME, the rest of its frame after.
  void StepTimeline(TimelineState& tl);
  void TakeOffBeforeEntering(TimelineState& tl, int frame);
  void TakeOffBeforeLooping(TimelineState& tl);
  void RemoveChild(TimelineState& tl, DisplayList::iterator it);
  // Enters the halves left for after ENTER_FRAME (all, or `tl`'s alone).
  void FinishSteps(TimelineState* only = nullptr);
  // A backward jump: the list is built again from the first frame.
  void Rebuild(TimelineState& tl, int frame, bool runActions = true);
  // A sprite's timeline and first frame; `load` queues its load events too.
  void InitSprite(Instance& inst, int nesting, bool load = false, const MovieLibrary* from = nullptr);
  void RunActions();
  // After a frame's actions: the scripts' loaded data, and what it queued.
  void EndScriptFrame();
  // Text fields show the variables they are bound to.
  void UpdateBoundText(TimelineState& tl, int nesting);
  void BindText(TimelineState& tl, Instance& inst);
  // `keyPress`: a key just pressed (ButtonKeyPressCode), for keyPress handlers.
  void QueueEvents(TimelineState& tl, std::uint32_t events, int nesting, int keyPress = 0);
  // The keyPress actions of the enabled buttons on the stage for the key.
  void QueueKeyPress(TimelineState& tl, int press, int nesting);
  // A new clip's onClipEvent(load) handlers and onLoad method.
  void QueueLoad(const Instance& inst);
  Instance* NewScriptInstance(TimelineState& parent, int depth, const std::string& name, const Character* def);
  void NestedTooDeep();
  void UpdateVideos(TimelineState& tl, int nesting, std::vector<std::string>& problems);

  // Declared before the timelines so that it outlives the nodes it lists.
  NodeIndex nodes_;
  const MovieLibrary& lib_;
  TimelineDef rootDef_;
  TimelineState root_;
  int nextInstance_ = 1;
  int totalFrames_ = 1;
  std::uint64_t tick_ = 1;
  PendingQueue pending_;
  SoundEventListener* listener_ = nullptr;
  std::int64_t timeMs_ = 0;
  std::int64_t startMs_ = 0;
  ScriptMachines machines_;
  std::unique_ptr<ClipScripts> avm_;
  std::unique_ptr<ScriptHooks> hooks_;  // the ActionScript 3 machine, when the movie has one
  std::set<std::pair<const MovieLibrary*, int>> initDone_;  // sprites whose DoInitAction ran
  std::vector<std::unique_ptr<MovieLibrary>> loaded_;
  std::optional<Rgba> scriptBackground_;
  std::optional<Rgba> loadedBackground_;  // movies loaded into clips, kept while the stage lives
  std::string scriptQuality_;
  bool focusRect_ = true;
  int soundBufTime_ = 5;  // _soundbuftime, in seconds: the player's, whatever clip names it
  // The main timeline has no instance: its name and visibility are kept here.
  std::string rootName_;
  bool rootVisible_ = true;
  transform::Kept rootKept_;  // what scripts made of the main timeline's matrix
  int scriptFrameRate_ = 0;
  // Clips (and the main timeline) in the order they were made: each tick
  // runs them newest first.
  std::vector<ClipHandle> execList_;
  SpriteDef emptySprite_;
  EditTextDef scriptField_;  // what script-made text fields are instances of
  std::set<std::string> skipped_;
  std::set<std::string> stopped_;
  std::filesystem::path movieFolder_;
  std::string movieName_ = "movie.swf";
  std::set<std::size_t> damagedTags_;  // by offset in the movie
  int nesting_ = 0;
  std::size_t createdThisTick_ = 0;
  std::size_t framesEnteredThisTick_ = 0;
  // Timelines whose removals ran before ENTER_FRAME, the rest of their frame waiting.
  struct Step {
    ClipHandle owner;
    int frame;
    bool loop;
  };
  std::vector<Step> steps_;
  bool splitting_ = false;
  std::size_t liveCount_ = 0;  // instances seen by the last walk of all timelines
  ClipHandle nextSerial_ = kRootClip + 1;
  // The button the pointer works on, and the pointer's last state.
  ClipHandle activeSerial_ = kNoClip;
  ButtonPhase activeState_ = ButtonPhase::kIdle;
  bool mouseDown_ = false;
  bool quit_ = false;
  double pointerX_ = 0, pointerY_ = 0;
  ClipHandle dragClip_ = kNoClip;
  bool dragLock_ = false, dragBounded_ = false;
  double dragDx_ = 0, dragDy_ = 0;  // the clip's offset from the pointer, parent's space
  double dragBounds_[4] = {0, 0, 0, 0};
};

}  // namespace quarvel::player
