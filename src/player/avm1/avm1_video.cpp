// ActionScript 1/2 video: NetConnection, NetStream playing an FLV file
// beside the movie, and Video objects placed on the timeline.
#include <map>
#include <memory>

#include "player/avm1/avm1_builtins.h"
#include "player/display/net_stream.h"
#include "player/display/video_display.h"

namespace quarvel::player::avm1_builtins {
namespace {

// Where the video classes keep what outlives a single call: the Video
// prototype and the script object of each placed video.
constexpr const char* kRegistryName = "\x01video";

struct VideoRegistry : AsNativeData {
  AsObject* videoProto = nullptr;
  std::map<ClipHandle, AsObject*> objects;
  int nextStream = 1;
  void Mark(std::vector<AsObject*>& reachable) const override {
    reachable.push_back(videoProto);
    for (const auto& [h, o] : objects) reachable.push_back(o);
  }
};

VideoRegistry* Registry(Avm1& vm) {
  const AsValue v = vm.Get(AsValue::Object(vm.Global()), kRegistryName);
  return v.type == AsValue::Type::kObject ? v.obj->Native<VideoRegistry>() : nullptr;
}

struct NetConnectionData : AsNativeData {
  bool connected = false;
  bool asked = false;  // a server was asked for: closing still reports it
};

struct NetStreamData : AsNativeData {
  std::shared_ptr<NetStreamPlayback> stream;
};

struct VideoData : AsNativeData {
  ClipHandle video = kNoClip;
};

// ---- NetConnection ----

AsValue NetConnectionCtor(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  if (AsObject* o = Self(self)) {
    o->native = std::make_unique<NetConnectionData>();
    vm.Set(self, "isConnected", AsValue::Bool(false));
  }
  return {};
}

// onStatus({level: "status", code}) at once.
void ConnectionStatus(Avm1& vm, const AsValue& self, const char* code) {
  const AsValue fn = vm.Get(self, "onStatus");
  if (fn.type != AsValue::Type::kObject || !fn.obj->fn) return;
  AsObject* info = vm.NewObject(vm.ObjectProto());
  vm.SetProp(info, "level", AsValue::String("status"));
  vm.SetProp(info, "code", AsValue::String(code));
  std::vector<AsValue> args{AsValue::Object(info)};
  vm.Call(fn, self, args);
}

// An open connection closes first.
AsValue NetConnectionClose(Avm1& vm, const AsValue& self, AsArgs) {
  auto* d = SelfData<NetConnectionData>(self);
  if (!d || (!d->connected && !d->asked)) return {};
  d->connected = d->asked = false;
  vm.Set(self, "isConnected", AsValue::Bool(false));
  ConnectionStatus(vm, self, "NetConnection.Connect.Closed");
  return {};
}

// Only connect(null) is offered: progressive files, never a server. The
// connection says so at once (an open one closes first).
AsValue NetConnectionConnect(Avm1& vm, const AsValue& self, AsArgs args) {
  auto* d = SelfData<NetConnectionData>(self);
  if (!d) return AsValue::Bool(false);
  NetConnectionClose(vm, self, {});
  d->connected = Arg(args, 0).IsNullish();
  d->asked = !d->connected;
  if (!d->connected) vm.Skip("NetConnection to a server");
  vm.Set(self, "isConnected", AsValue::Bool(d->connected));
  if (d->connected) ConnectionStatus(vm, self, "NetConnection.Connect.Success");
  return AsValue::Bool(d->connected);
}

// ---- NetStream ----

std::int64_t Now(Avm1& vm) { return vm.GetStage().HostTime(); }

AsValue AmfToValue(Avm1& vm, const video::AmfValue& a, int depth) {
  using T = video::AmfValue::Type;
  if (depth > video::kMaxAmfDepth) return {};
  switch (a.type) {
    case T::kNumber:
    case T::kDate:
      return AsValue::Number(a.number);
    case T::kBoolean:
      return AsValue::Bool(a.boolean);
    case T::kString:
    case T::kXml:
      return AsValue::String(a.string);
    case T::kNull:
      return AsValue::Null();
    case T::kObject:
    case T::kEcmaArray:
    case T::kTypedObject: {
      AsObject* o = vm.NewObject();
      for (const auto& p : a.properties) vm.Set(AsValue::Object(o), p.name, AmfToValue(vm, p.value, depth + 1));
      return AsValue::Object(o);
    }
    case T::kStrictArray: {
      std::vector<AsValue> elems;
      for (const auto& e : a.elements) elems.push_back(AmfToValue(vm, e, depth + 1));
      return AsValue::Object(vm.NewArray(std::move(elems)));
    }
    default:
      return {};
  }
}

// Every frame: the stream follows the clock, and its news reach the script.
AsValue NetStreamTick(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  auto* d = SelfData<NetStreamData>(self);
  if (!d || !d->stream) return {};
  const std::shared_ptr<NetStreamPlayback> stream = d->stream;  // handlers may play another file
  Stage& stage = vm.GetStage();
  stream->SetListener(stage.Listener());
  stream->Advance(Now(vm));
  for (const auto& p : stream->TakeProblems()) stage.VideoProblem(p);
  for (const auto& e : stream->TakeEvents()) {
    if (e.kind == NetStreamPlayback::Event::Kind::kMetaData) {
      if (!stream->Holds(e)) continue;
      AsValue fn = vm.Get(self, "onMetaData");
      if (fn.type == AsValue::Type::kObject && fn.obj->fn) {
        AsValue info = AmfToValue(vm, *e.metadata, 0);
        vm.Call(fn, self, std::span<AsValue>(&info, 1));
      }
      continue;
    }
    AsValue fn = vm.Get(self, "onStatus");
    if (fn.type != AsValue::Type::kObject || !fn.obj->fn) continue;
    AsObject* info = vm.NewObject();
    vm.Set(AsValue::Object(info), "code", AsValue::String(e.code));
    vm.Set(AsValue::Object(info), "level", AsValue::String(e.level));
    AsValue arg = AsValue::Object(info);
    vm.Call(fn, self, std::span<AsValue>(&arg, 1));
  }
  return {};
}

AsValue NetStreamCtor(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  AsObject* o = Self(self);
  VideoRegistry* reg = Registry(vm);
  if (!o || !reg) return {};
  auto d = std::make_unique<NetStreamData>();
  d->stream = std::make_shared<NetStreamPlayback>(reg->nextStream++, vm.GetStage().Listener());
  o->native = std::move(d);
  // A timer of one millisecond runs once a frame, before the frame's scripts.
  AsObject* tick = vm.NewFunction("tick", NetStreamTick);
  vm.AddInterval(AsValue::Object(tick), self, "", 1, {}, vm.NextIntervalId());
  return {};
}

AsValue NetStreamPlay(Avm1& vm, const AsValue& self, AsArgs args) {
  auto* d = SelfData<NetStreamData>(self);
  if (!d) return {};
  const std::string name = Str(vm, args, 0);
  Stage& stage = vm.GetStage();
  d->stream->SetListener(stage.Listener());
  d->stream->Play(ResolveStreamPath(stage.MovieFolder(), name), name, Now(vm));
  // The first picture and sound at once; the news reach the script next frame.
  d->stream->Advance(Now(vm));
  for (const auto& p : d->stream->TakeProblems()) stage.VideoProblem(p);
  return {};
}

AsValue NetStreamPause(Avm1& vm, const AsValue& self, AsArgs args) {
  auto* d = SelfData<NetStreamData>(self);
  if (!d) return {};
  std::optional<bool> pause;
  if (!args.empty() && !args[0].IsUndefined()) pause = vm.ToBool(args[0]);
  // With no argument it toggles, and no status tells of it.
  d->stream->Pause(pause, Now(vm), true);
  return {};
}

AsValue NetStreamSeek(Avm1& vm, const AsValue& self, AsArgs args) {
  if (auto* d = SelfData<NetStreamData>(self)) d->stream->Seek(Num(vm, args, 0), Now(vm));
  return {};
}

AsValue NetStreamClose(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  if (auto* d = SelfData<NetStreamData>(self)) d->stream->Close(Now(vm));
  return {};
}

AsValue NetStreamSetBufferTime(Avm1& vm, const AsValue& self, AsArgs args) {
  if (auto* d = SelfData<NetStreamData>(self)) d->stream->SetBufferTime(Num(vm, args, 0));
  return {};
}

template <double (*Read)(Avm1&, const NetStreamPlayback&)>
AsValue NetStreamNumber(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  auto* d = SelfData<NetStreamData>(self);
  return d ? AsValue::Number(Read(vm, *d->stream)) : AsValue{};
}
double ReadTime(Avm1& vm, const NetStreamPlayback& s) { return s.Time(Now(vm)); }
double ReadBufferLength(Avm1& vm, const NetStreamPlayback& s) { return s.BufferLength(Now(vm)); }
double ReadBufferTime(Avm1&, const NetStreamPlayback& s) { return s.BufferTime(); }
double ReadBytesLoaded(Avm1&, const NetStreamPlayback& s) { return static_cast<double>(s.BytesLoaded()); }
double ReadBytesTotal(Avm1&, const NetStreamPlayback& s) { return static_cast<double>(s.BytesTotal()); }

// ---- Video ----

VideoDisplay* DisplayOf(Avm1& vm, const AsValue& self) {
  auto* d = SelfData<VideoData>(self);
  if (!d) return nullptr;
  Stage& stage = vm.GetStage();
  Instance* inst = stage.Find(d->video);
  return inst ? stage.VideoOf(*inst) : nullptr;
}

AsValue VideoAttach(Avm1& vm, const AsValue& self, AsArgs args) {
  VideoDisplay* v = DisplayOf(vm, self);
  if (!v) return {};
  const AsValue source = Arg(args, 0);
  if (auto* ns = SelfData<NetStreamData>(source)) {
    v->Attach(ns->stream);
  } else {
    if (!source.IsNullish()) vm.Skip("Video.attachVideo of a camera");
    v->Attach(nullptr);
  }
  return {};
}

AsValue VideoClear(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  if (VideoDisplay* v = DisplayOf(vm, self)) v->Clear();
  return {};
}

// The size of the pictures shown (0 before any), as Video.width/height give it.
AsValue VideoWidth(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  VideoDisplay* v = DisplayOf(vm, self);
  return AsValue::Number(v && v->Shown() ? v->Shown()->width : 0);
}
AsValue VideoHeight(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  VideoDisplay* v = DisplayOf(vm, self);
  return AsValue::Number(v && v->Shown() ? v->Shown()->height : 0);
}

AsValue VideoSmoothing(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)args;
  VideoDisplay* v = DisplayOf(vm, self);
  return AsValue::Bool(v && v->Smoothing());
}
AsValue VideoSetSmoothing(Avm1& vm, const AsValue& self, AsArgs args) {
  if (VideoDisplay* v = DisplayOf(vm, self)) v->SetSmoothing(vm.ToBool(Arg(args, 0)));
  return {};
}

AsValue VideoCtor(Avm1& vm, const AsValue& self, AsArgs args) {
  (void)vm, (void)self, (void)args;
  return {};
}

}  // namespace

AsValue VideoObject(Avm1& vm, ClipHandle video) {
  VideoRegistry* reg = Registry(vm);
  if (!reg) return {};
  // Objects of videos that left the stage go with them.
  std::erase_if(reg->objects, [&](const auto& e) { return !vm.GetStage().Find(e.first); });
  auto [it, fresh] = reg->objects.emplace(video, nullptr);
  if (fresh) {
    it->second = vm.NewObject(reg->videoProto);
    it->second->className = "Video";
    auto d = std::make_unique<VideoData>();
    d->video = video;
    it->second->native = std::move(d);
  }
  return AsValue::Object(it->second);
}

void InstallVideo(Avm1& vm) {
  AsObject* global = vm.Global();
  auto reg = std::make_unique<VideoRegistry>();

  AsObject* nc = vm.NewClass(global, "NetConnection", NetConnectionCtor);
  AsObject* ncProto = vm.Get(AsValue::Object(nc), "prototype").obj;
  vm.NewFunction("connect", NetConnectionConnect, ncProto);
  vm.NewFunction("close", NetConnectionClose, ncProto);

  AsObject* ns = vm.NewClass(global, "NetStream", NetStreamCtor);
  AsObject* nsProto = vm.Get(AsValue::Object(ns), "prototype").obj;
  vm.NewFunction("play", NetStreamPlay, nsProto);
  vm.NewFunction("pause", NetStreamPause, nsProto);
  vm.NewFunction("seek", NetStreamSeek, nsProto);
  vm.NewFunction("close", NetStreamClose, nsProto);
  vm.NewFunction("setBufferTime", NetStreamSetBufferTime, nsProto);
  vm.AddAccessor(nsProto, "time", NetStreamNumber<ReadTime>, nullptr);
  vm.AddAccessor(nsProto, "bufferLength", NetStreamNumber<ReadBufferLength>, nullptr);
  vm.AddAccessor(nsProto, "bufferTime", NetStreamNumber<ReadBufferTime>, nullptr);
  vm.AddAccessor(nsProto, "bytesLoaded", NetStreamNumber<ReadBytesLoaded>, nullptr);
  vm.AddAccessor(nsProto, "bytesTotal", NetStreamNumber<ReadBytesTotal>, nullptr);

  AsObject* video = vm.NewClass(global, "Video", VideoCtor);
  AsObject* videoProto = vm.Get(AsValue::Object(video), "prototype").obj;
  vm.NewFunction("attachVideo", VideoAttach, videoProto);
  vm.NewFunction("clear", VideoClear, videoProto);
  vm.AddAccessor(videoProto, "width", VideoWidth, nullptr);
  vm.AddAccessor(videoProto, "height", VideoHeight, nullptr);
  vm.AddAccessor(videoProto, "smoothing", VideoSmoothing, VideoSetSmoothing);
  reg->videoProto = videoProto;

  AsObject* holder = vm.NewRootObject();
  holder->native = std::move(reg);
  vm.SetProp(global, kRegistryName, AsValue::Object(holder), true);
}

}  // namespace quarvel::player::avm1_builtins
