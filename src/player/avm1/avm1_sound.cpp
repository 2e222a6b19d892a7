// Sound objects: sounds of the library by linkage name (attachSound) or MP3
// files beside the movie (loadSound), started with an offset and loops,
// stopped by name, with volume and pan, position, duration and
// onSoundComplete. They reach the player's sound output as StartSound
// events with a SOUNDINFO record, like the timeline's own sounds.
//
// Volume and pan belong to the Sound's target clip (every Sound object of a
// clip shares them) and shape the sounds started after they are set: the
// levels go into the start's envelope.
#include <algorithm>
#include <optional>
#include <cmath>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/library/id3_tags.h"
#include "player/library/mp3_sound.h"
#include "player/library/movie_library.h"
#include "player/display/stage.h"

namespace quarvel::player::avm1_builtins {
namespace {


struct Transform {
  double ll = 100, lr = 0, rr = 100, rl = 0;
  double volume = 100;
};

// What the class keeps: the transform of each target (kNoClip: the global
// one) and the sounds loadSound defined.
struct SoundClass : AsNativeData {
  std::map<ClipHandle, Transform> transforms;
  std::vector<std::vector<std::uint8_t>> loaded;  // DefineSound bodies, kept while the movie runs
  int nextId = 65535;
};

struct SoundData : AsNativeData {
  // The clip whose sounds it controls, a clip or a path found again at each
  // use (a path may name a clip made later); undefined: all.
  AsValue target;
  int soundId = 0;
  std::string name;
  double durationMs = -1;  // < 0: no sound attached
  double startedMs = 0, offsetMs = 0;
  int loops = 1;
  bool started = false;
  // One onSoundComplete timer per start still playing: each start is a
  // sound of its own and ends on its own.
  std::vector<int> completeTimers;
  int loadTimer = 0;
  // Starts asked for while a loadSound is on its way: they play once it has
  // come; a new loadSound drops them.
  std::vector<std::vector<AsValue>> pendingStarts;
  double loadedBytes = -1;
  void Mark(std::vector<AsObject*>& reachable) const override {
    if (target.type == AsValue::Type::kObject) reachable.push_back(target.obj);
  }
};

SoundClass* Class(Avm1& vm) {
  const AsValue cls = vm.Get(AsValue::Object(vm.Global()), "Sound");
  return cls.type == AsValue::Type::kObject ? cls.obj->Native<SoundClass>() : nullptr;
}

// kNoClip for all sounds, nullopt when the target clip is not there (now).
std::optional<ClipHandle> TargetOf(Avm1& vm, const SoundData& d) {
  if (d.target.IsNullish()) return kNoClip;
  // Flash keeps the target's path and looks it up as scripts do (a child
  // clip, else a variable of that name): a renamed clip is no target.
  std::string path = d.target.type == AsValue::Type::kClip ? d.target.Text() : vm.ToString(d.target);
  if (d.target.type == AsValue::Type::kClip) {
    if (path.empty()) return kRootClip;
    std::replace(path.begin(), path.end(), '/', '.');
    path.erase(0, 1);
  }
  // A path given as text is looked up from the timeline whose script asks.
  const ClipHandle h =
      vm.ClipOf(vm.Evaluate(path, d.target.type == AsValue::Type::kClip ? kRootClip : vm.RunningTarget()));
  if (h == kNoClip) return std::nullopt;
  return h;
}

// The target's transform; none while the target is not there, and then
// the getters give undefined and the setters change nothing.
Transform* TransformOf(Avm1& vm, SoundData& d) {
  static Transform none;
  const auto target = TargetOf(vm, d);
  if (!target) return nullptr;
  SoundClass* c = Class(vm);
  if (!c) return &(none = Transform{});
  return &c->transforms[*target];
}

double ScriptMs(Avm1& vm) { return static_cast<double>(vm.GetStage().ScriptTime()); }

// ActionScript 1/2 counts a library sound's duration in whole milliseconds.
double LibrarySoundLength(const MovieLibrary& lib, int id) {
  const double ms = lib.SoundLengthMs(id);
  return ms < 0 ? ms : std::floor(ms);
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// A SOUNDINFO record for a start from the Sound's settings.
std::vector<std::uint8_t> StartInfo(double offsetMs, int loops, const Transform& t) {
  std::vector<std::uint8_t> info{0};
  const auto inPoint = static_cast<std::uint32_t>(std::max(0.0, offsetMs) * 44.1);
  const double vol = std::clamp(t.volume, 0.0, 100.0) / 100;
  const auto left = static_cast<std::uint16_t>(std::clamp(vol * t.ll / 100, 0.0, 1.0) * 32768);
  const auto right = static_cast<std::uint16_t>(std::clamp(vol * t.rr / 100, 0.0, 1.0) * 32768);
  const bool envelope = left != 32768 || right != 32768;
  if (inPoint) info[0] |= 1;
  if (loops > 1) info[0] |= 4;
  if (envelope) info[0] |= 8;
  if (inPoint) Put32(info, inPoint);
  if (loops > 1) Put16(info, static_cast<std::uint16_t>(std::min(loops, 65535)));
  if (envelope) {
    info.push_back(1);
    Put32(info, 0);
    Put16(info, left);
    Put16(info, right);
  }
  return info;
}

AsValue SoundCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o || o->native) return {};
  auto d = std::make_unique<SoundData>();
  const AsValue t = Arg(a, 0);
  if (t.type == AsValue::Type::kClip || t.type == AsValue::Type::kString) d->target = t;
  // Any other object names its target by its text, asked for once, now.
  if (t.type == AsValue::Type::kObject) {
    std::string path = vm.ToString(t);
    if (vm.Throwing()) return {};
    d->target = AsValue::String(std::move(path));
  }
  o->native = std::move(d);
  o->className = "Sound";
  return self;
}

void AddLengthProperties(Avm1& vm, const AsValue& self);

AsValue Attach(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  if (!d || a.empty()) return {};
  const std::string name = Str(vm, a, 0);
  const MovieLibrary& lib = vm.GetStage().Library();
  const int id = lib.FindName(name);
  const double length = id ? LibrarySoundLength(lib, id) : -1;
  if (length < 0) return {};  // no sound by that name: the old one stays
  d->soundId = id;
  d->name = name;
  d->durationMs = length;
  d->started = false;
  AddLengthProperties(vm, self);
  return {};
}

void StopTimer(Avm1& vm, SoundData& d) {
  for (int id : d.completeTimers) vm.ClearInterval(id);
  d.completeTimers.clear();
}

void StopLoad(Avm1& vm, SoundData& d) {
  if (d.loadTimer) vm.ClearInterval(d.loadTimer);
  d.loadTimer = 0;
  d.pendingStarts.clear();
}

// One start's sound ended (the argument: its timer).
AsValue Completed(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  if (!d) return {};
  const int timer = static_cast<int>(Num(vm, a, 0));
  vm.ClearInterval(timer);
  std::erase(d->completeTimers, timer);
  const AsValue fn = vm.Get(self, "onSoundComplete");
  if (fn.type == AsValue::Type::kObject && fn.obj->fn) vm.Call(fn, self, {});
  return {};
}

AsValue Start(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  if (d && d->loadTimer && d->pendingStarts.size() < 64) d->pendingStarts.emplace_back(a.begin(), a.end());
  if (!d || !d->soundId || d->loadTimer) return {};
  double offset = a.empty() ? 0 : Num(vm, a, 0) * 1000;
  if (!std::isfinite(offset) || offset < 0) offset = 0;
  offset = std::min(offset, d->durationMs);
  double loops = a.size() > 1 ? Num(vm, a, 1) : 1;
  if (!std::isfinite(loops) || loops < 1) loops = 1;
  d->loops = static_cast<int>(std::min(loops, 65535.0));
  d->offsetMs = offset;
  d->startedMs = ScriptMs(vm);
  d->started = true;
  Transform* transform = TransformOf(vm, *d);
  const auto info = StartInfo(offset, d->loops, transform ? *transform : Transform{});
  vm.GetStage().StartSoundById(d->soundId, d->name, info);
  // onSoundComplete when the last loop ends, at the first frame after.
  const double total = (d->durationMs - offset) * d->loops;
  const AsValue cls = vm.Get(AsValue::Object(vm.Global()), "Sound");
  const AsValue done = vm.Get(cls, "__completed");
  if (done.type == AsValue::Type::kObject && d->completeTimers.size() < 64) {
    const int timer = vm.NextIntervalId();
    d->completeTimers.push_back(timer);
    vm.AddInterval(done, self, "", std::max(1.0, total), {AsValue::Number(timer)}, timer);
  }
  return {};
}

AsValue Stop(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  if (!d) return {};
  if (!a.empty() && !a[0].IsUndefined()) {
    const std::string name = Str(vm, a, 0);
    const int id = vm.GetStage().Library().FindName(name);
    if (!id) return {};
    static const std::uint8_t kStop[1] = {0x20};  // SyncStop
    vm.GetStage().StartSoundById(id, name, kStop);
    if (id == d->soundId) StopTimer(vm, *d);
    return {};
  }
  StopTimer(vm, *d);
  d->pendingStarts.clear();
  if (d->soundId && TargetOf(vm, *d).value_or(kNoClip) != kNoClip) {
    static const std::uint8_t kStop[1] = {0x20};
    vm.GetStage().StartSoundById(d->soundId, d->name, kStop);
  } else {
    vm.GetStage().StopAllSounds();
  }
  return {};
}

AsValue GetVolume(Avm1& vm, const AsValue& self, AsArgs) {
  SoundData* d = SelfData<SoundData>(self);
  Transform* t = d ? TransformOf(vm, *d) : nullptr;
  return t ? AsValue::Number(t->volume) : AsValue{};
}

AsValue SetVolume(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  const double v = Num(vm, a, 0);
  Transform* t = d ? TransformOf(vm, *d) : nullptr;
  if (t && std::isfinite(v)) t->volume = std::trunc(v);
  return {};
}

AsValue GetPan(Avm1& vm, const AsValue& self, AsArgs) {
  SoundData* d = SelfData<SoundData>(self);
  const Transform* t = d ? TransformOf(vm, *d) : nullptr;
  if (!t) return {};
  // Flash reads the pan from the left channel when it is turned down.
  return AsValue::Number(t->ll != 100 ? 100 - t->ll : t->rr - 100);
}

// -100 all left ... 100 all right: the far side is turned down.
AsValue SetPan(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  const double p = Num(vm, a, 0);
  Transform* tp = d ? TransformOf(vm, *d) : nullptr;
  if (!tp || !std::isfinite(p)) return {};
  Transform& t = *tp;
  const double pan = std::clamp(std::trunc(p), -100.0, 100.0);
  t.ll = pan > 0 ? 100 - pan : 100;
  t.rr = pan < 0 ? 100 + pan : 100;
  t.lr = t.rl = 0;
  return {};
}

AsValue GetTransform(Avm1& vm, const AsValue& self, AsArgs) {
  SoundData* d = SelfData<SoundData>(self);
  const Transform* tp = d ? TransformOf(vm, *d) : nullptr;
  if (!tp) return {};
  const Transform& t = *tp;
  AsObject* o = vm.NewObject();
  vm.SetProp(o, "ll", AsValue::Number(t.ll));
  vm.SetProp(o, "lr", AsValue::Number(t.lr));
  vm.SetProp(o, "rr", AsValue::Number(t.rr));
  vm.SetProp(o, "rl", AsValue::Number(t.rl));
  return AsValue::Object(o);
}

AsValue SetTransform(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  const Transform* now = d ? TransformOf(vm, *d) : nullptr;
  if (!now || Arg(a, 0).type != AsValue::Type::kObject) return {};
  Transform next = *now;
  const std::pair<const char*, double*> fields[] = {{"ll", &next.ll}, {"lr", &next.lr}, {"rr", &next.rr}, {"rl", &next.rl}};
  for (auto& [name, slot] : fields) {
    const AsValue v = vm.Get(a[0], name);
    if (v.IsUndefined()) continue;
    const double n = vm.ToNumber(v);
    if (std::isfinite(n)) *slot = std::trunc(n);
  }
  if ((d = SelfData<SoundData>(self))) {
    if (Transform* t = TransformOf(vm, *d)) *t = next;
  }
  return {};
}

AsValue GetDuration(Avm1&, const AsValue& self, AsArgs) {
  SoundData* d = SelfData<SoundData>(self);
  if (!d || d->durationMs < 0) return {};
  return AsValue::Number(d->durationMs);
}

// Where the sound plays now, in milliseconds into the sound; at the end
// once it finished.
AsValue GetPosition(Avm1& vm, const AsValue& self, AsArgs) {
  SoundData* d = SelfData<SoundData>(self);
  if (!d || d->durationMs < 0) return {};
  if (!d->started) return AsValue::Number(0);
  const double span = d->durationMs - d->offsetMs;
  const double elapsed = ScriptMs(vm) - d->startedMs;
  if (span <= 0 || elapsed >= span * d->loops) return AsValue::Number(d->durationMs);
  return AsValue::Number(std::floor(d->offsetMs + std::fmod(elapsed, span)));
}

// A Sound has duration and position only once it holds a sound: then
// they are read-only properties of its own (before, a script may set them).
void AddLengthProperties(Avm1& vm, const AsValue& self) {
  AsObject* o = Self(self);
  if (!o || (o->props.count(vm.Key("duration")) && o->props.count(vm.Key("position")))) return;
  for (const auto& [name, getter] : {std::pair<const char*, AsNative>{"position", GetPosition}, {"duration", GetDuration}}) {
    vm.AddAccessor(o, name, getter, nullptr);
    o->props[vm.Key(name)].dontDelete = true;
  }
}

// ---- loadSound: an MP3 file beside the movie

bool DefineLoaded(Avm1& vm, SoundData& d, const std::string& file) {
  SoundClass* cls = Class(vm);
  if (!cls) return false;
  const MovieLibrary& lib = vm.GetStage().Library();
  while (cls->nextId > 0 && (lib.Find(static_cast<std::uint16_t>(cls->nextId)) || LibrarySoundLength(lib, cls->nextId) >= 0)) {
    --cls->nextId;
  }
  if (cls->nextId <= 0) return false;
  int rate = 0;
  std::vector<std::uint8_t> body = Mp3AsDefineSound(static_cast<std::uint16_t>(cls->nextId), file, &rate);
  if (body.empty()) {
    if (rate > 0) vm.Skip("loadSound of an MP3 at " + std::to_string(rate) + " Hz");
    return false;
  }
  const int id = cls->nextId--;
  cls->loaded.push_back(std::move(body));
  vm.GetStage().DefineScriptSound(id, cls->loaded.back());
  d.soundId = id;
  d.name.clear();
  // A loaded MP3's duration is rounded to the millisecond.
  d.durationMs = std::round(DefineSoundLengthMs(cls->loaded.back()));
  d.loadedBytes = static_cast<double>(file.size());
  d.started = false;
  return true;
}

// ID3 frames Flash also names in words (the names an ID3v1 tag's fields get).
const char* Id3Alias(const std::string& id) {
  static constexpr std::pair<std::string_view, const char*> kAliases[] = {
      {"COMM", "comment"}, {"TALB", "album"}, {"TCON", "genre"}, {"TIT2", "songname"},
      {"TPE1", "artist"},  {"TRCK", "track"}, {"TYER", "year"}};
  for (const auto& [frame, alias] : kAliases) {
    if (id == frame) return alias;
  }
  return nullptr;
}

// Sound.id3: an object with no prototype holding each frame's text under
// its name, a repeated frame's texts as an array, and the common frames
// also under a word (the last text). An ID3v1 tag gives only the words.
// The property is the script's if it made one before; else it is made
// read-only. onID3 follows.
void PublishId3(Avm1& vm, const AsValue& self, const Id3Tags& tags) {
  AsObject* o = Self(self);
  if (!o || tags.frames.empty()) return;
  if (!o->props.count(vm.Key("id3"))) {
    AsObject* id3 = vm.NewObject();
    id3->proto = nullptr;
    std::map<std::string, AsObject*> repeated;
    for (const Id3Frame& f : tags.frames) {
      const AsValue text = AsValue::String(f.text);
      if (const char* alias = Id3Alias(f.id)) vm.SetProp(id3, alias, text);
      if (tags.version == 1) continue;
      const auto it = id3->props.find(vm.Key(f.id));
      if (it == id3->props.end()) {
        vm.SetProp(id3, f.id, text);
      } else if (AsObject*& arr = repeated[f.id]) {
        vm.SetElement(arr, arr->length, text);
      } else {
        arr = vm.NewArray({it->second.value, text});
        it->second.value = AsValue::Object(arr);
      }
    }
    vm.SetProp(o, "id3", AsValue::Object(id3));
    o->props[vm.Key("id3")].readOnly = true;
  }
  const AsValue fn = vm.Get(self, "onID3");
  if (fn.type == AsValue::Type::kObject && fn.obj->fn) {
    std::vector<AsValue> args{AsValue::Bool(true)};
    vm.Call(fn, self, args);
  }
}

// The file is read when the load completes, a frame after it was asked
// for; onID3 and onLoad(success) follow.
AsValue Loaded(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  if (!d) return {};
  const int timer = d->loadTimer;
  if (timer) vm.ClearInterval(timer);
  std::string bytes;
  const bool read = ReadMovieFile(vm, Str(vm, a, 0), bytes);
  // The tags come first in the file: onID3 runs while the sound is still
  // loading (starts wait for it), its duration and position 0 so far.
  if (const Id3Tags tags = read ? ReadId3(bytes) : Id3Tags{}; !tags.frames.empty()) {
    d->soundId = 0;
    d->durationMs = 0;
    AddLengthProperties(vm, self);
    PublishId3(vm, self, tags);
    if (d->loadTimer != timer) return {};  // onID3 loaded another sound
  }
  d->loadTimer = 0;
  std::vector<std::vector<AsValue>> starts = std::move(d->pendingStarts);
  d->pendingStarts.clear();
  const bool ok = read && DefineLoaded(vm, *d, bytes);
  if (ok) AddLengthProperties(vm, self);
  const AsValue fn = vm.Get(self, "onLoad");
  if (fn.type == AsValue::Type::kObject && fn.obj->fn) {
    std::vector<AsValue> args{AsValue::Bool(ok)};
    vm.Call(fn, self, args);
  }
  if (ok && vm.ToBool(Arg(a, 1))) Start(vm, self, {});
  if (ok) {
    for (auto& args : starts) Start(vm, self, args);
  }
  return {};
}

// loadSound(url, streaming): onLoad(success) on the next frame; a streaming
// sound starts by itself once loaded.
AsValue LoadSound(Avm1& vm, const AsValue& self, AsArgs a) {
  SoundData* d = SelfData<SoundData>(self);
  if (!d || a.empty()) return {};
  StopTimer(vm, *d);
  StopLoad(vm, *d);
  const AsValue cls = vm.Get(AsValue::Object(vm.Global()), "Sound");
  const AsValue done = vm.Get(cls, "__loaded");
  if (done.type == AsValue::Type::kObject) {
    d->loadTimer = vm.NextIntervalId();
    vm.AddInterval(done, self, "", 1, {AsValue::String(Str(vm, a, 0)), AsValue::Bool(vm.ToBool(Arg(a, 1)))},
                   d->loadTimer);
  }
  return {};
}

AsValue BytesLoaded(Avm1&, const AsValue& self, AsArgs) {
  SoundData* d = SelfData<SoundData>(self);
  return d && d->loadedBytes >= 0 ? AsValue::Number(d->loadedBytes) : AsValue{};
}

AsValue Ignore(Avm1&, const AsValue&, AsArgs) { return {}; }

}  // namespace

void InstallSound(Avm1& vm) {
  AsObject* proto = vm.NewRootObject(vm.ObjectProto());
  AsObject* cls = vm.NewClass(vm.Global(), "Sound", SoundCtor, proto);
  cls->native = std::make_unique<SoundClass>();
  vm.NewFunction("__completed", Completed, cls);
  vm.NewFunction("__loaded", Loaded, cls);
  const std::pair<const char*, AsNative> methods[] = {
      {"attachSound", Attach},   {"start", Start},          {"stop", Stop},
      {"getVolume", GetVolume},  {"setVolume", SetVolume},  {"getPan", GetPan},
      {"setPan", SetPan},        {"getTransform", GetTransform}, {"setTransform", SetTransform}};
  for (auto& [n, f] : methods) vm.NewFunction(n, f, proto);
  // SWF 5 movies see none of these. Duration and position are set by the
  // sound itself: their setters do nothing.
  const std::pair<const char*, AsNative> fromSwf6[] = {
      {"getDuration", GetDuration}, {"setDuration", Ignore},     {"getPosition", GetPosition},
      {"setPosition", Ignore},      {"loadSound", LoadSound},    {"getBytesLoaded", BytesLoaded},
      {"getBytesTotal", BytesLoaded}};
  for (auto& [n, f] : fromSwf6) {
    vm.NewFunction(n, f, proto);
    proto->props[vm.Key(n)].versions = kPropVersion5;
  }
  for (auto& [key, p] : proto->props) p.dontDelete = p.readOnly = true;
}

}  // namespace quarvel::player::avm1_builtins
