#pragma once
// What the files of the ActionScript 3 Flash classes share: the binding
// (As3Display) that the stage calls, the objects it makes for scripts, and
// the tables by which each family of classes registers its members.

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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
#include "player/render/agal.h"
#include "player/render/renderer.h"
#include "player/display/stage.h"
#include "player/script_limits.h"
#include "player/render/blend_modes.h"
#include "player/render/filter_schema.h"
#include "player/rules/device_matrix.h"
#include "player/rules/geom_matrix.h"
#include "player/display/display_transform.h"

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
// A SoundTransform's numbers: the volume and the four gains of the left
// and right inputs into the left and right outputs.
struct SoundMix {
  double volume = 1, leftToLeft = 1, leftToRight = 0, rightToLeft = 0, rightToRight = 1;
};

struct FlashObject : NativeBase {
  explicit FlashObject(NativeKind k = NativeKind::kDispatcher) : NativeBase(k) {}
  static bool Holds(NativeKind k) { return k <= NativeKind::kLastDispatcher; }
  ClipHandle handle = kNoClip;
  std::vector<Listener> listeners;
  SoundMix sound;  // a Sprite's or button's soundTransform
  std::map<int, Value> frameScripts;
  // Sound: its class name (linked sounds)
  std::string type;
  // InteractiveObject, DisplayObjectContainer and Sprite
  bool mouseEnabled = true, mouseChildren = true, buttonMode = false, useHandCursor = true;
  bool doubleClickEnabled = false;
  // Loads: URLLoader's data and dataFormat, Loader's contentLoaderInfo,
  // LoaderInfo's content and loader; a loader's error text or content type.
  Value data, content, info, owner;
  Value metaData;  // DisplayObject.metaData: null until set
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
  // transform.matrix3D was given (or matrix set to null): the object is in
  // three dimensions even where its z and turns are zero.
  bool threeD = false;
  // SimpleButton made by a script: its up, over, down and hit-test states.
  Value states[4];
  bool statesBuilt = false;  // a button symbol's states were made from its records
  bool buttonEnabled = true, trackAsMenu = false;
  // InteractiveObject: tabIndex, focusRect and contextMenu as scripts set them.
  int tabIndex = -1;
  // tabEnabled once set (until then it follows the kind); tabChildren.
  std::optional<bool> tabEnabled;
  bool tabChildren = true;
  // A timeline object's children were made and bound (in its super() call).
  bool childrenBuilt = false;
  Value focusRect, contextMenu;
  Value graphics;  // Sprite and Shape: the one Graphics object every read gives
  Value perspective;  // transform.perspectiveProjection as last set (the root's made on first use)
  SoundMix mix;      // SoundChannel: its soundTransform
  // new EventDispatcher(target): the events it sends are the target's, and
  // bubble through the target's containers.
  Value dispatchTarget;
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
    h.Mark(metaData);
    h.Mark(focusRect);
    h.Mark(graphics);
    h.Mark(contextMenu);
    h.Mark(perspective);
    h.Mark(dispatchTarget);
  }
};

// A dispatcher of one kind, with nothing of its own beyond FlashObject's.
template <NativeKind kKind>
struct DispatcherOf : FlashObject {
  DispatcherOf() : FlashObject(kKind) {}
  static bool Holds(NativeKind k) { return k == kKind; }
};
using DisplayObj = DispatcherOf<NativeKind::kDisplayObject>;
// A Sound: where extract() without a start goes on from, in samples.
struct SoundObject : FlashObject {
  SoundObject() : FlashObject(NativeKind::kSound) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kSound; }
  double extractAt = 0;
};
using ChannelObject = DispatcherOf<NativeKind::kSoundChannel>;
using LoaderInfoObject = DispatcherOf<NativeKind::kLoaderInfo>;
using UrlLoaderObject = DispatcherOf<NativeKind::kUrlLoader>;
using FileListObject = DispatcherOf<NativeKind::kFileList>;

struct TimerObject : FlashObject {
  TimerObject() : FlashObject(NativeKind::kTimer) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kTimer; }
  double delay = 0, due = 0;
  int repeat = 0, count = 0;
  bool running = false;
  bool ticking = false;  // its TIMER handlers are running
};

struct NetConnectionObject : FlashObject {
  NetConnectionObject() : FlashObject(NativeKind::kNetConnection) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kNetConnection; }
  bool connected = false;
  bool pending = false;       // connecting to a server, not yet failed
  Value uri = Value::Null();  // as connect() was given it, until close()
  Value client;               // undefined: the connection itself
  void Trace(avm2::Heap& h) override {
    FlashObject::Trace(h);
    h.Mark(uri);
    h.Mark(client);
  }
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
  bool ctrlKey = false, altKey = false, shiftKey = false, relatedInaccessible = false;  // MouseEvent's
  int delta = 0;
  double movementX = 0, movementY = 0;
  std::uint32_t keyCode = 0, charCode = 0;
  std::string message;                  // TextEvent's text, ErrorEvent's
  double bytesLoaded = 0, bytesTotal = 0;  // ProgressEvent
  Value info;                           // NetStatusEvent
  int status = 0;                       // HTTPStatusEvent: 0 for a local file
  bool redirected = false;
  Value header, data;                   // NetFilterEvent's byte arrays, SampleDataEvent's data
  double position = 0;                  // SampleDataEvent: the first sample asked for
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    h.Mark(target);
    h.Mark(currentTarget);
    h.Mark(related);
    h.Mark(info);
    h.Mark(header);
    h.Mark(data);
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

// Stage3D: a layer under the display list, and its Context3D once made.
struct Stage3DObject : FlashObject {
  Stage3DObject() : FlashObject(NativeKind::kStage3D) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kStage3D; }
  double x = 0, y = 0;
  bool visible = true;
  Value context;
  void Trace(avm2::Heap& h) override {
    FlashObject::Trace(h);
    h.Mark(context);
  }
};
// A presented back buffer: its colours as drawn, made into words only when
// painted.
class PresentedFrame : public PresentedPixels {
 public:
  agal::Target picture;  // colours only
  const std::vector<std::uint32_t>& Words() const override {
    std::call_once(made_, [this] {
      words_.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
      picture.Pixels(words_, 0xFF000000u);
    });
    return words_;
  }

 private:
  mutable std::once_flag made_;
  mutable std::vector<std::uint32_t> words_;
};
// Context3D: its back buffer (premultiplied ARGB) and the state scripts set.
struct Context3DObject : FlashObject {
  Context3DObject() : FlashObject(NativeKind::kContext3D) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kContext3D; }
  struct Stream {
    Value buffer;
    int offset = 0;
    std::string format = "float4";
  };
  int width = 0, height = 0;
  bool depthStencil = true, disposed = false, errorChecking = false, cleared = false;
  agal::Target target;
  // The texture setRenderToTexture chose, as a float target; each clear and
  // draw into it is written back to the texture's words.
  agal::Target textureTarget;
  bool textureUnstored = false;  // draws into textureTarget not yet written back
  // textureTarget's colours are still to be read from the texture (or
  // cleared, for one that keeps no words) and its depths set to 1: a clear
  // that covers them makes that work needless.
  bool textureColourUnread = false, textureDepthUnset = false;
  agal::DrawState draw;
  Stream streams[8];
  Value textures[8];
  Value program, renderTarget;
  Value stage3D;  // the Stage3D that made it, which a disposal may make anew
  std::vector<float> vertexConstants = std::vector<float>(128 * 4), fragmentConstants = std::vector<float>(28 * 4);
  std::string stencilCompare = "always";
  std::uint32_t stencilReference = 0;
  // The back buffer as present() last showed it. Presenting hands the
  // colours over; the next clear or draw of the back buffer takes them back
  // (or, clearing every colour, a spare buffer).
  std::shared_ptr<PresentedFrame> presented;
  int presentedWidth = 0, presentedHeight = 0;
  bool colourShown = false;
  std::vector<float> spare;
  // A back-buffer frame from a full clear on, kept instead of drawn: at
  // present it is drawn only when it differs (by `key`) from the frame the
  // back buffer already holds, as games redraw unchanged scenes.
  struct Recorded {
    std::shared_ptr<const agal::Program> vertex, fragment;
    std::vector<float> vertexConstants, fragmentConstants;
    std::array<std::vector<float>, 8> vertices;
    agal::Draw draw;  // spans and pointers into the copies and the textures
    std::vector<std::uint16_t> indices;
  };
  bool recording = false;
  std::array<float, 4> recordedClear{};
  float recordedDepth = 1;
  std::vector<Recorded> recorded;
  std::vector<Value> recordedTextures;  // kept alive while recorded draws read them
  std::size_t recordedFloats = 0;  // copied so far, bounded
  std::uint64_t key = 0, shownKey = 0;  // the recording's, and the back buffer's (0: unknown)
  void Trace(avm2::Heap& h) override {
    FlashObject::Trace(h);
    for (const Stream& s : streams) h.Mark(s.buffer);
    for (const Value& t : textures) h.Mark(t);
    h.Mark(program);
    h.Mark(renderTarget);
    h.Mark(stage3D);
    for (const Value& t : recordedTextures) h.Mark(t);
  }
};
// What a Context3D makes: vertex and index buffers, programs and textures.
struct Resource3DObject : FlashObject {
  Resource3DObject() : FlashObject(NativeKind::kResource3D) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kResource3D; }
  enum Kind { kVertices, kIndices, kProgram, kTexture } kind = kVertices;
  bool disposed = false;
  int count = 0, perItem = 0, width = 0, height = 0;
  std::vector<float> floats;                  // vertices
  std::vector<std::uint16_t> indices;         // indices
  std::vector<std::uint8_t> compressed;       // a compressed texture's ATF data
  std::shared_ptr<const agal::Program> vertexProgram, fragmentProgram;
  std::vector<std::uint32_t> pixels;          // texture level 0, ARGB words as uploaded or drawn
  std::string format;
  Value context;
  // Changes with every upload or drawing into it: what recorded frames
  // compare a program's or texture's content by.
  std::uint64_t stamp = 0;
  void Trace(avm2::Heap& h) override {
    FlashObject::Trace(h);
    h.Mark(context);
  }
};

// Graphics and Transform: views of a display object's node.
template <NativeKind kKind>
struct NodeView : NativeBase {
  NodeView() : NativeBase(kKind) {}
  static bool Holds(NativeKind k) { return k == kKind; }
  ClipHandle handle = kNoClip;
  bool ofStage = false;  // the stage's (which shares the main timeline's handle)
};
using GraphicsObject = NodeView<NativeKind::kGraphics>;
using TransformObject = NodeView<NativeKind::kTransform>;

// Shader: its ShaderData (which holds the kernel) and byteCode.
struct ShaderObject : NativeBase {
  ShaderObject() : NativeBase(NativeKind::kShader) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kShader; }
  Value data, content;
  bool fast = false;  // precisionHint
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    h.Mark(data);
    h.Mark(content);
  }
};
// ShaderData: the parsed kernel (its fields are dynamic properties).
struct ShaderDataObject : NativeBase {
  ShaderDataObject() : NativeBase(NativeKind::kShaderData) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kShaderData; }
  std::shared_ptr<const PixelShader> shader;
};
struct ShaderParamObject : NativeBase {
  ShaderParamObject() : NativeBase(NativeKind::kShaderParameter) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kShaderParameter; }
  int index = 0;
  std::string type;
  Value value;
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    h.Mark(value);
  }
};
struct ShaderInputObject : NativeBase {
  ShaderInputObject() : NativeBase(NativeKind::kShaderInput) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kShaderInput; }
  int index = 0, channels = 0, width = 0, height = 0;
  Value input;
  void Trace(avm2::Heap& h) override {
    Object::Trace(h);
    h.Mark(input);
  }
};
struct ShaderJobObject : FlashObject {
  ShaderJobObject() : FlashObject(NativeKind::kShaderJob) {}
  static bool Holds(NativeKind k) { return k == NativeKind::kShaderJob; }
  Value shader, target;
  int width = 0, height = 0;
  double progress = 0;
  void Trace(avm2::Heap& h) override {
    FlashObject::Trace(h);
    h.Mark(shader);
    h.Mark(target);
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


// The state of a family of classes, held by the binding.
// Events (events.cpp): for each frame event (enterFrame, exitFrame,
// frameConstructed, render) the objects listening, in the order each
// began to (Flash's broadcast order); running timers.
struct EventState {
  std::map<std::string, std::vector<FlashObject*>, std::less<>> frameListeners;
  std::vector<TimerObject*> timers;
  // Someone listens for a child coming or going: every timeline child gets
  // its object, to send it the events.
  bool hearsTree = false;
};
// The pointer and the keyboard (input.cpp), as scripts saw them last: the
// object under the pointer, the one pressed, the button; the object keys go to.
struct PointerState {
  ClipHandle over = kNoClip, pressed = kNoClip;
  bool down = false, seen = false, handCursor = false;
  double x = 0, y = 0;
  Value focus;
};
// Bitmaps (bitmaps.cpp): every picture a Bitmap showed (nodes keep plain
// pointers to them), the BitmapData changed this frame, the bytes of all
// pictures, and what an empty Bitmap shows.
struct BitmapState {
  std::deque<std::shared_ptr<BitmapDef>> defs;
  std::vector<BitmapDataObject*> changed;
  std::size_t bytes = 0;
  ShapeDef emptyShape;
};
// Loads (loading.cpp): asked for this frame, due at the end of the next; the
// movie's own LoaderInfo and whether its events were sent.
struct LoadState {
  struct Load {
    Value by;  // the URLLoader, or the Loader's LoaderInfo
    std::string url;
    std::string bytes;  // loadBytes: the data itself
    bool fromBytes = false;
    // Not a load but what the frame's end tells `by`: "cancel" (a file dialog
    // no user answers), "lcError" (a LocalConnection message no one hears),
    // "ncFailed" (a server the offline player never reaches).
    std::string event;
    // A URLRequest with a digest: a signed library arrives as the movie it holds.
    bool digest = false;
  };
  std::vector<Load> queued, due;
  FlashObject* rootInfo = nullptr;
  // The stage's own LoaderInfo: it reads as the main movie's, but no load
  // event reaches it.
  FlashObject* stageInfo = nullptr;
  bool rootInfoSent = false;
  // System.useCodePage: loaded text that is not UTF-8 is read in the
  // system's code page instead.
  bool useCodePage = false;
  bool IsMainInfo(const FlashObject* f) const { return f && (f == rootInfo || f == stageInfo); }
};
// Sounds and video (media.cpp): playing channels (for SOUND_COMPLETE),
// NetStreams following the clock, what script-made Videos show; sounds
// scripts loaded from MP3 files, as DefineSound bodies under ids the
// movie's library leaves free (from the top down).
struct MediaState {
  SoundMix mixer;  // SoundMixer.soundTransform
  double bufferTime = 5;
  std::vector<FlashObject*> channels;
  std::vector<NetStreamObject*> streams;
  std::deque<std::unique_ptr<VideoDef>> videoDefs;
  int nextStream = 1;
  std::deque<std::vector<std::uint8_t>> scriptSounds;
  // Sounds sampleData listeners made, by their samples: a sound made again
  // with the same samples (a game's sound effect) plays the kept one.
  std::map<std::vector<std::int16_t>, int> madeSounds;
  int nextSoundId = 65535;
  // Sounds decoded to 44.1 kHz stereo for extract() and computeSpectrum(),
  // by id (script sounds above 0xFFFF); empty when they cannot be decoded.
  std::map<int, std::vector<std::int16_t>> decoded;
  std::size_t decodedSamples = 0;
};
// The stage (stage_system.cpp): scaleMode and align as the movie set them;
// whether stage.invalidate() asked for RENDER.
struct StageState {
  std::string scaleMode, align;
  std::optional<double> frameRate;  // as a script last set it (NaN kept)
  bool focusRect = true;             // stageFocusRect
  bool invalidated = false;
  bool fullScreen = false;           // displayState, as a script set it
};

class As3Display : public ScriptHooks {
 public:
  As3Display(Stage& stage, const ScriptLimits& limits);
  ~As3Display() override = default;

  void Placed(Instance& inst) override;
  void FrameEntered(TimelineState& tl) override;
  void MainFrameReached(int frame) override;
  void BeforeFrame() override;
  void AfterFrame() override;
  void TimelinesAdvanced() override;
  TimelineState* Orphans() override { return &limbo; }
  void Removing(Instance& inst) override;
  bool ShowButtonState(Instance& button, std::uint8_t state) override;
  std::vector<Instance*> HiddenStates(Instance& button) override;
  void Pointer(double x, double y, bool down) override;
  void Key(bool down, int keyCode, int charCode) override;
  bool HandCursor() const override { return pointer.handCursor; }
  std::vector<PresentedLayer> Stage3DLayers() const override;
  void BeforeDraw() override;

  Stage& stage;
  const MovieLibrary& lib;
  Machine m;
  // Each family's state.
  EventState events;
  PointerState pointer;
  BitmapState bitmaps;
  LoadState loading;
  MediaState media;
  StageState stageState;
  TimelineState limbo;  // objects made by scripts and not on a display list
  int limboDepth = 0;
  std::unordered_map<ClipHandle, FlashObject*> objects;
  // Objects whose transform.perspectiveProjection a script set (BeforeDraw
  // brings their projections onto their nodes).
  std::vector<ClipHandle> perspectiveOwners;
  std::map<std::uint16_t, std::string> symbolClasses;
  std::map<std::string, std::uint16_t> classSymbols;
  // Movies a Loader loaded: their definitions, the classes linked to them,
  // their symbols by class name, and the nodes their main timelines play in.
  std::set<const Character*> loadedDefs;
  std::map<const Character*, std::string> loadedClasses;
  std::map<std::string, std::pair<const MovieLibrary*, std::uint16_t>> loadedSymbols;
  std::set<ClipHandle> loadedRoots;
  std::vector<ClipHandle> constructQueue, scriptQueue;
  // Objects the timelines placed in this frame before ENTER_FRAME: counted,
  // but null to scripts until the frame is constructed.
  std::unordered_set<ClipHandle> placedUnmade;
  bool placingFrames = false;
  // The main timeline's frames whose code blocks and class links have run:
  // a later frame's classes do not exist before the playhead first gets there.
  int codeFramesRun = 0;
  void RunFrameCode(int frame);
  EditTextDef scriptFieldDef;  // what script-made text fields are instances of
  std::vector<const FontDef*> registeredFonts;
  FlashObject* stageObject = nullptr;
  transform::Kept rootKept;  // the main timeline's scales and rotation as scripts set them
  bool rootConstructed = false;
  // A script took the main timeline off the stage: it and all in it see no stage.
  bool rootOffStage = false;
  bool flushing = false;
  int gotoFlushes = 0;  // flushes a goto started inside another
  std::set<ClipHandle> building;  // clips whose constructors are making their timeline children
  ClipHandle NextToMake();
  bool scriptsOnly = false;  // such a flush runs frame scripts alone
  bool broadcastingEnterFrame = false;  // ENTER_FRAME listeners are running
  bool timelineAllocating = false;  // the object made is the timeline's, not a script's `new`
  // Clips running their own frame script: a goto of theirs waits for it to
  // end, the last one asked winning.
  std::vector<ClipHandle> inFrameScript;
  std::map<ClipHandle, int> queuedGotos;
  Class *dispatcherClass = nullptr, *displayObjectClass = nullptr, *containerClass = nullptr, *spriteClass = nullptr, *movieClipClass = nullptr,
        *shapeClass = nullptr, *graphicsClass = nullptr, *eventClass = nullptr, *mouseEventClass = nullptr,
        *timerEventClass = nullptr, *stageClass = nullptr, *textFieldClass = nullptr, *staticTextClass = nullptr,
        *buttonClass = nullptr, *bitmapClass = nullptr, *morphClass = nullptr, *transformClass = nullptr,
        *pointClass = nullptr, *rectangleClass = nullptr, *matrixClass = nullptr, *colorTransformClass = nullptr,
        *frameLabelClass = nullptr, *textFormatClass = nullptr, *keyboardEventClass = nullptr, *interactiveClass = nullptr, *videoClass = nullptr,
        *avm1MovieClass = nullptr;

  // ---- nodes and objects
  Instance* Node(ClipHandle h) { return h == kNoClip ? nullptr : stage.Find(h); }
  TimelineState* Timeline(ClipHandle h) { return h == kNoClip ? nullptr : stage.TimelineOf(h); }
  // The library of the movie whose timeline placed `i`: a loaded movie's
  // clips find their fonts and symbols in their own.
  const MovieLibrary& LibraryOf(const Instance& i) {
    const TimelineState* placer = Timeline(i.parent);
    return placer && placer->lib ? *placer->lib : lib;
  }
  // The list holding a node: its parent's timeline or the off-list one.
  TimelineState* ListOf(const Instance& inst) {
    if (inst.parent == kNoClip) return &limbo;
    return stage.TimelineOf(inst.parent);
  }
  bool OnStage(ClipHandle h) { return !rootOffStage && UnderRoot(h); }
  // Under the main timeline, whether or not that is on the stage.
  bool UnderRoot(ClipHandle h) {
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
    if (inst.def)
      if (const std::string* linked = LinkedClassName(inst.def))
        if (Class* c = m.FindClass(*linked)) return c;
    return KindClass(inst);
  }
  // The Flash class a node of its kind has when no class is linked to it.
  Class* KindClass(const Instance& inst) {
    if (inst.def) {
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
  static bool IsButtonNode(const Instance& i) { return i.def && i.def->kind == Character::Kind::kButton; }
  FlashObject* ObjectFor(ClipHandle h) {
    if (h == kNoClip) return nullptr;
    auto it = objects.find(h);
    if (it != objects.end()) return it->second;
    if (h == kRootClip) return AllocateRoot();
    Instance* inst = Node(h);
    if (!inst) return nullptr;
    return Construct(ClassForNode(*inst), h);
  }
  Value ValueFor(ClipHandle h) { return Value::Obj(ObjectFor(h)); }

  // Makes the object of a node and runs its class's constructor; `info` is
  // the LoaderInfo of a loaded movie's main timeline.
  FlashObject* Construct(Class* cls, ClipHandle h, Value info = Value());
  FlashObject* ConstructLinkedBitmap(Class* cls, ClipHandle h);
  FlashObject* Allocate(Class* cls, ClipHandle h, Value info);
  void RunConstructor(FlashObject* o);
  void HoldSpriteTimeline(FlashObject* o);
  FlashObject* AllocateRoot();
  void ConstructRoot();
  // Named timeline children become the values of the parent class's
  // properties of the same name.
  void BindChildren(FlashObject* o);
  // Makes the children its timeline placed that wait to be made, in depth
  // order, and binds the named ones: the native part of a display object's
  // constructor, so they exist once super() returns.
  void BuildChildren(FlashObject* o);
  // Makes a waiting node's object; ADDED follows when it is new.
  void MakeWaiting(ClipHandle h);

  void BindToParent(const Instance& child, FlashObject* co);
  // A button symbol's four states as display objects, made from its records
  // (containers.cpp), and the state it shows held as its one child.
  void BuildButtonStates(FlashObject* button);
  void ShowStateObject(FlashObject* button, int index);
  bool UpStateHoldsClip(FlashObject* button);
  void SendSimpleAdded(ClipHandle h);  // ADDED, bubbling, on an object made already

  // A node for an object a script made (new Sprite...).
  Instance* NewNode(const Character* def, const MovieLibrary* from = nullptr) {
    Instance* inst = stage.AdoptScriptNode(limbo, ++limboDepth, def, from);
    if (inst) scriptNodes.insert(inst->serial);
    return inst;
  }
  // The nodes scripts made; the others a timeline placed (their names are fixed).
  std::unordered_set<ClipHandle> scriptNodes;

  // ---- events
  Value NewEvent(Class* cls, const std::string& type, bool bubbles);
  void Listen(FlashObject* o, const std::string& type);
  // `o` dropped its last listener of `type`.
  void Unlisten(FlashObject* o, const std::string& type);
  // current: what the event names as its currentTarget, o itself by default.
  void CallListeners(FlashObject* o, EventObject* e, bool capture, FlashObject* current = nullptr);
  // Capture from the root down, the target, then bubbling up.
  void Dispatch(FlashObject* target, EventObject* e);
  void Broadcast(const std::string& type);
  // ADDED on the child (bubbling), ADDED_TO_STAGE on it and all below when it is on the stage now.
  void Added(ClipHandle h);
  // A timeline placed it (or it is the main timeline): ADDED, bubbling,
  // then ADDED_TO_STAGE on it alone, as its children had theirs.
  void AddedByTimeline(ClipHandle h);
  // Handles of the tree from `h` in display list order: parents first.
  void ListInOrder(ClipHandle h, std::unordered_map<ClipHandle, std::size_t>& order, int nesting);
  void AddedToStage(ClipHandle h, int depth);
  void Removed(ClipHandle h);
  void RemovedFromStage(ClipHandle h, int depth);

  // ---- frames
  // Constructs the objects waiting, then (with `scripts`) runs the frame
  // scripts due, and again until nothing waits.
  void Flush(bool scripts = true);
  // A goto makes its frame and runs the frame scripts queued so far at
  // once, even from inside a constructor or another script (SWF 10 on).
  void FlushForGoto();
  void RunFrameScript(ClipHandle h);
  bool HasFrameScriptNow(ClipHandle h);
  void RunTimers();
  // Stage3D: the stage's layers (made on first use) and the context
  // requests of this frame, answered at its end.
  Value stage3Ds;
  std::vector<Value> stage3DRequests;
  void FinishStage3DRequests();
  void Collect();

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
  // tabEnabled as a script reads it: once set, what was set; before, by kind.
  bool TabEnabled(FlashObject* f);
  // Moves the focus to `f` (null clears it): focusOut on the old, then focusIn on the new.
  void SetFocus(FlashObject* f);
  // A press asks the focus to move to what it hit (mouseFocusChange, cancelable).
  void MouseFocusChange(ClipHandle hit);
  // A key pressed while `target` has the focus, typed into it when it is an input field.
  void TypeInto(FlashObject* target, int keyCode, int charCode);
  // Loads.
  void FinishLoads();
  void FinishLoad(const LoadState::Load& l);
  std::string LoadedText(std::string raw) const;
  // A Loader's LoaderInfo `by` receives the file: its bytes and size, told
  // by two progress events (none loaded, all loaded).
  void LoaderBytesArrive(FlashObject* by, const std::string& bytes);
  void SendSimple(FlashObject* to, const char* type);
  void SendIoError(FlashObject* to, const std::string& text);
  void SendHttpStatus(FlashObject* to);
  Value ContentFor(FlashObject* info, const std::string& bytes);
  // The next sound id the movie's library leaves free (from the top down); 0 when none is.
  int FreeScriptSoundId() {
    while (media.nextSoundId > 0 && (lib.Find(static_cast<std::uint16_t>(media.nextSoundId)) || lib.SoundLengthMs(media.nextSoundId) >= 0))
      --media.nextSoundId;
    return std::max(media.nextSoundId, 0);
  }
  std::vector<std::uint8_t> NextScriptSoundBody(const std::string& mp3) {
    if (FreeScriptSoundId() <= 0) return {};
    int rate = 0;
    std::vector<std::uint8_t> body = Mp3AsDefineSound(static_cast<std::uint16_t>(media.nextSoundId), mp3, &rate);
    if (body.empty() && rate > 0) m.Skip("Sound.load of an MP3 at " + std::to_string(rate) + " Hz");
    if (!body.empty()) --media.nextSoundId;
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
// A Sprite's or button's soundTransform (media.cpp): a copy of what it keeps.
NATIVE(ObjectSoundTransform);
NATIVE(ObjectSetSoundTransform);

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
enum class Member : std::uint8_t { kMethod, kGetter, kSetter, kConst, kStaticMethod, kStaticGetter, kStaticSetter };
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

// The document and symbol classes (frame.cpp): a movie's ABC blocks, frame
// by frame, each frame's definitions loaded before its eager entry scripts
// run; their code follows the rules of the movie's SWF version.
void LoadAbcBlocks(Machine& m, const std::vector<MovieLibrary::AbcBlock>& blocks, int swfVersion);

// What one family gives the others. Display objects (display_objects.cpp):
void MakeNode(Machine& m, FlashObject* f);
Instance* SelfNode(Machine& m, const Value& self);
TimelineState* SelfTimeline(Machine& m, const Value& self);
cairo_matrix_t World(As3Display& b, ClipHandle h, bool ownScroll = true);
// The same in Flash's own arithmetic (rules::DeviceMatrix), concatenated from
// the top down through the stage's sample grid when the node is on the stage.
rules::DeviceMatrix WorldDevice(As3Display& b, ClipHandle h, bool ownScroll, bool* onStage = nullptr);
// Transform.concatenatedMatrix: that without the node's own window; the
// stage's, and an object's off the stage, its own matrix in the grid's units.
rules::DeviceMatrix ConcatenatedDevice(As3Display& b, ClipHandle h, bool ofStage);
// The object's space to the stage's in three dimensions (twips); with
// `seen`, through the perspective projections on the way.
rules::M4 StageMatrix3D(As3Display& b, ClipHandle h, bool seen);
// The node's depth3D from the object's z, rotationX, rotationY and scaleZ.
void Update3D(As3Display& b, FlashObject* f);
bool BoundsIn(Machine& m, const Value& self, const Value& target, Rect& r, bool edges = false);
using transform::Twips;
NATIVE(DisplayObjectCtor);
NATIVE(DoGetVisible);
NATIVE(DocGetTabChildren);
NATIVE(DocSetTabChildren);
// Containers (containers.cpp):
// `moving`: the child is in this container already; no events.
void Attach(Machine& m, TimelineState& tl, ClipHandle h, std::size_t index, bool moving = false);
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
void InstallShaders(As3Display& b);
void InstallStage3D(As3Display& b);  // after InstallStage  // after InstallFilters: ShaderFilter extends BitmapFilter
// The ByteArray in `v`, or null.
inline avm2::ByteArrayObject* AsBytes(const Value& v) {
  avm2::Object* o = v.AsObject();
  return o && o->kind == avm2::ObjectKind::kByteArray ? static_cast<avm2::ByteArrayObject*>(o) : nullptr;
}
// A Shader's kernel (null without one) and its parameters' values now.
std::vector<std::vector<float>> ShaderValues(Machine& m, const Value& shader, std::shared_ptr<const PixelShader>& kernel);
void InstallBitmaps(As3Display& b);
// BitmapData (bitmaps.cpp) for its pixel methods (bitmap_pixels.cpp).
BitmapDataObject* SelfBitmap(Machine& m, const Value& self);
void Changed(Machine& m, BitmapDataObject* bd);
std::shared_ptr<BitmapData> PixelEngine(Machine& m, BitmapDataObject* f);
PixelRect RectArg(Machine& m, const Value& r);
void AddBitmapPixelMethods(As3Display& b);
void InstallTextEngine(As3Display& b);  // flash.text.engine, after TextField

}  // namespace quarvel::player::as3
