// Loading from files beside the movie: LoadVars, XML.load, loadVariables,
// loadMovie and MovieClipLoader, and getURL.
//
// The player is offline. A file is found relative to the movie's folder (an
// absolute path only inside it); every URL (http:, ftp:...) and every path
// leading out of the folder fails as a missing file does in an offline
// player. A load never completes while the script that asked runs: the
// file arrives once the frame's actions are done (a clip's onLoadInit once
// the next frame's are), so captures see the same order every run.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/avm1/avm1.h"
#include "player/avm1/avm1_builtins.h"
#include "player/avm1/avm1_geom.h"
#include "player/avm1/avm1_shared.h"
#include "player/library/image_decoder.h"
#include "player/library/load_path.h"
#include "player/display/stage.h"

namespace quarvel::player::avm1_builtins {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxPending = 256;

enum class LoadKind { kVariables, kXml, kClipVariables, kClip };

struct LoadRequest {
  LoadKind kind = LoadKind::kVariables;
  std::string url;
  AsValue target;  // the LoadVars or XML object, or the clip
  AsValue loader;  // a MovieClipLoader, when one asked
  int phase = 0;   // clips: 0 loading, 1 loaded (onLoadInit follows a frame later)
};

struct LoadQueue : AsNativeData {
  std::vector<LoadRequest> pending;
  AsObject* poller = nullptr;  // completes the loads as each frame ends
  void Mark(std::vector<AsObject*>& reachable) const override {
    if (poller) reachable.push_back(poller);
    for (auto& r : pending) {
      for (const AsValue* v : {&r.target, &r.loader}) {
        if (v->type == AsValue::Type::kObject) reachable.push_back(v->obj);
      }
    }
  }
};

LoadQueue* Queue(Avm1& vm) {
  const AsValue cls = vm.Get(AsValue::Object(vm.Global()), "LoadVars");
  return cls.type == AsValue::Type::kObject ? cls.obj->Native<LoadQueue>() : nullptr;
}

// The file a movie's url names, or empty when it names none we may read.
fs::path LocalFile(Avm1& vm, const std::string& url) { return FileBesideMovie(vm.GetStage().MovieFolder(), url); }

bool ReadFile(const fs::path& p, std::string& out) { return ReadScriptFile(p, out); }

// With System.useCodepage set, text that is not UTF-8 is read in the system's code page.
std::string AsScriptText(Avm1& vm, std::string raw) {
  std::string text = ScriptText(std::move(raw));
  const AsValue system = vm.Get(AsValue::Object(vm.Global()), "System");
  if (system.type == AsValue::Type::kObject && vm.ToBool(vm.Get(system, "useCodepage"))) {
    text = CodepageText(std::move(text));
  }
  return text;
}

// State the player keeps on the object, out of for..in and toString.
void SetHidden(Avm1& vm, const AsValue& on, const std::string& name, const AsValue& v) {
  if (AsObject* o = Self(on)) vm.SetProp(o, name, v, true);
}

// The byte counts of a load: hidden, and kept from delete.
void SetCount(Avm1& vm, const AsValue& on, const std::string& name, const AsValue& v) {
  AsObject* o = Self(on);
  if (!o) return;
  vm.SetProp(o, name, v, true);
  if (auto it = o->props.find(vm.Key(name)); it != o->props.end()) it->second.dontDelete = true;
}

// A load starting: nothing loaded yet, of a size not yet known.
void StartCounts(Avm1& vm, const AsValue& on) {
  SetCount(vm, on, "_bytesLoaded", AsValue::Number(0));
  SetCount(vm, on, "_bytesTotal", AsValue{});
  SetHidden(vm, on, "loaded", AsValue::Bool(false));
}

AsValue CallMember(Avm1& vm, const AsValue& obj, const std::string& name, std::vector<AsValue> args) {
  const AsValue fn = vm.Get(obj, name);
  if (fn.type != AsValue::Type::kObject || !fn.obj->fn) return {};
  return vm.Call(fn, obj, args);
}

// Every listener of a MovieClipLoader (itself among them) hears the event,
// through the loader's broadcastMessage, which a movie may replace.
void Broadcast(Avm1& vm, const AsValue& loader, const std::string& event, std::vector<AsValue> args) {
  const AsValue send = vm.Get(loader, "broadcastMessage");
  if (send.type == AsValue::Type::kObject && send.obj->fn) {
    args.insert(args.begin(), AsValue::String(event));
    vm.Call(send, loader, args);
    return;
  }
  const AsValue list = vm.Get(loader, "_listeners");
  if (list.type != AsValue::Type::kObject || !list.obj->isArray) return;
  const std::vector<AsValue> listeners = vm.Elements(list.obj);
  for (const AsValue& l : listeners) CallMember(vm, l, event, args);
}

// As escape() writes it.
// "a=1&b=two" as variables of `into`.
void DecodeInto(Avm1& vm, const AsValue& into, const std::string& text) {
  std::size_t i = 0;
  while (i <= text.size()) {
    auto amp = text.find('&', i);
    if (amp == std::string::npos) amp = text.size();
    const std::string pair = text.substr(i, amp - i);
    if (const auto eq = pair.find('='); eq != std::string::npos && eq > 0) {
      vm.Set(into, UrlDecode(pair.substr(0, eq)), AsValue::String(UrlDecode(pair.substr(eq + 1))));
    }
    i = amp + 1;
  }
}

// ---- completing loads

// A movie loaded as "child.swf?a=1&b=2" finds a and b on its main timeline.
void SetQueryVariables(Avm1& vm, ClipHandle clip, const std::string& url) {
  const std::size_t q = url.find('?');
  if (q == std::string::npos) return;
  const std::size_t end = url.find('#', q);
  DecodeInto(vm, vm.ClipValue(clip), url.substr(q + 1, end == std::string::npos ? std::string::npos : end - q - 1));
}

enum class Content { kUnknown, kPicture, kMovie };

Content ContentOf(const std::string& data) {
  auto starts = [&](std::string_view magic) { return data.compare(0, magic.size(), magic) == 0; };
  if (starts("\xFF\xD8") || starts("\x89PNG") || starts("GIF8")) return Content::kPicture;
  if (data.size() >= 8 && (starts("FWS") || starts("CWS") || starts("ZWS"))) return Content::kMovie;
  return Content::kUnknown;
}

// A JPEG, PNG or GIF file as a picture; nullptr when it cannot be read.
std::shared_ptr<const Character> DecodePicture(Avm1& vm, const std::string& data) {
  try {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    SurfacePtr surface = DecodeJpegTagImage(bytes, {}, {});
    if (!surface) return nullptr;
    auto def = std::make_shared<BitmapDef>();
    def->width = cairo_image_surface_get_width(surface.get());
    def->height = cairo_image_surface_get_height(surface.get());
    if (!vm.Charge(static_cast<std::size_t>(def->width) * static_cast<std::size_t>(def->height) * 4)) return nullptr;
    def->surface = std::move(surface);
    return def;
  } catch (const ImageError&) {
    return nullptr;
  }
}

void Complete(Avm1& vm, LoadRequest& r, std::vector<LoadRequest>& later) {
  std::string text;
  const fs::path file = LocalFile(vm, r.url);
  const bool ok = !file.empty() && ReadFile(file, text);
  switch (r.kind) {
    case LoadKind::kVariables:
    case LoadKind::kXml: {
      if (ok) {
        const double n = static_cast<double>(text.size());
        SetCount(vm, r.target, "_bytesLoaded", AsValue::Number(n));
        SetCount(vm, r.target, "_bytesTotal", AsValue::Number(n));
      }
      CallMember(vm, r.target, "onData", {ok ? AsValue::String(AsScriptText(vm, std::move(text))) : AsValue{}});
      break;
    }
    case LoadKind::kClipVariables: {
      const ClipHandle clip = vm.ClipOf(r.target);
      if (!ok) break;
      // A text field (or another object a path names) takes the variables
      // as its own properties.
      if (clip == kNoClip) {
        if (Self(r.target)) DecodeInto(vm, r.target, AsScriptText(vm, std::move(text)));
        break;
      }
      DecodeInto(vm, vm.ClipValue(clip), AsScriptText(vm, std::move(text)));
      if (vm.HasHandler(clip, "onData")) vm.CallHandler(clip, "onData");
      break;
    }
    case LoadKind::kClip: {
      if (r.phase == 1) {
        Broadcast(vm, r.loader, "onLoadInit", {r.target});
        break;
      }
      // The clip takes the picture or movie in the frame the file arrives.
      Stage& stage = vm.GetStage();
      const ClipHandle clip = vm.ClipOf(r.target);
      bool shown = false, unreadable = false;
      if (ok) {
        switch (ContentOf(text)) {
          case Content::kPicture:
            if (auto picture = DecodePicture(vm, text)) shown = stage.LoadPicture(clip, std::move(picture), text.size());
            break;
          case Content::kMovie:
            shown = vm.Charge(text.size()) &&
                    stage.LoadMovieInto(clip, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
            if (shown) SetQueryVariables(vm, clip, r.url);
            break;
          case Content::kUnknown:
            // Flash counts a file it cannot show as loaded, with no bytes:
            // the clip is emptied and the loader hears every event.
            stage.FailLoad(clip);
            shown = unreadable = true;
            break;
        }
      }
      if (!shown) stage.FailLoad(clip);
      // The clip names the file it was asked to show, shown or not.
      if (TimelineState* tl = shown || clip != kRootClip ? stage.TimelineOf(clip) : nullptr) {
        fs::path file = LocalFile(vm, r.url);
        if (file.empty()) file = stage.MovieFolder() / r.url;
        std::error_code ec;
        const fs::path full = fs::absolute(file, ec);
        tl->url = "file://" + (ec ? file : full).string();
      }
      if (!shown) {
        if (!r.loader.IsUndefined()) {
          Broadcast(vm, r.loader, "onLoadError", {r.target, AsValue::String(ok ? "LoadNeverCompleted" : "URLNotFound"),
                                                  AsValue::Number(0)});
        }
        break;
      }
      if (r.loader.IsUndefined()) break;
      const double n = unreadable ? 0 : static_cast<double>(text.size());
      Broadcast(vm, r.loader, "onLoadStart", {r.target});
      Broadcast(vm, r.loader, "onLoadProgress", {r.target, AsValue::Number(n), AsValue::Number(n)});
      Broadcast(vm, r.loader, "onLoadComplete", {r.target, AsValue::Number(0)});
      r.phase = 1;
      later.push_back(r);
      break;
    }
  }
}

AsValue PollLoads(Avm1& vm, const AsValue&, AsArgs) {
  LoadQueue* q = Queue(vm);
  if (!q) return {};
  std::vector<LoadRequest> now;
  now.swap(q->pending);
  std::vector<LoadRequest> later;
  for (auto& r : now) Complete(vm, r, later);
  // Loads asked for by the handlers above wait for the next frame too. The
  // init events follow the clips' order of play, newest loaded first.
  q->pending.insert(q->pending.begin(), later.rbegin(), later.rend());
  return {};
}

void Enqueue(Avm1& vm, LoadRequest r) {
  LoadQueue* q = Queue(vm);
  if (!q || q->pending.size() >= kMaxPending) return;
  if (IsUrl(r.url)) vm.Skip("loading from the network (offline)");
  q->pending.push_back(std::move(r));
}

// ---- LoadVars and XML

AsValue LvLoad(Avm1& vm, const AsValue& self, AsArgs a, LoadKind kind) {
  if (!Self(self) || a.empty() || a[0].IsUndefined()) return AsValue::Bool(false);
  StartCounts(vm, self);
  Enqueue(vm, {kind, Str(vm, a, 0), self, {}, 0});
  return AsValue::Bool(true);
}

AsValue LvLoadMethod(Avm1& vm, const AsValue& self, AsArgs a) { return LvLoad(vm, self, a, LoadKind::kVariables); }
AsValue XmlLoadMethod(Avm1& vm, const AsValue& self, AsArgs a) { return LvLoad(vm, self, a, LoadKind::kXml); }

// sendAndLoad posts to a server; a file beside the movie answers with its
// contents, as a local player reads it, and a URL fails offline.
AsValue SendAndLoad(Avm1& vm, const AsValue& self, AsArgs a, LoadKind kind) {
  const AsValue target = Self(Arg(a, 1)) ? a[1] : AsValue{};
  if (!Self(self) || target.IsUndefined()) return AsValue::Bool(false);
  StartCounts(vm, target);
  Enqueue(vm, {kind, Str(vm, a, 0), target, {}, 0});
  return AsValue::Bool(true);
}
AsValue LvSendAndLoad(Avm1& vm, const AsValue& self, AsArgs a) { return SendAndLoad(vm, self, a, LoadKind::kVariables); }
AsValue XmlSendAndLoad(Avm1& vm, const AsValue& self, AsArgs a) { return SendAndLoad(vm, self, a, LoadKind::kXml); }

AsValue Send(Avm1& vm, const AsValue&, AsArgs) {
  vm.Skip("sending to a server (offline)");
  return AsValue::Bool(true);
}

// The default onData: decode (or parse) and report.
AsValue LvOnData(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Arg(a, 0).IsUndefined()) {
    CallMember(vm, self, "onLoad", {AsValue::Bool(false)});
    return {};
  }
  CallMember(vm, self, "decode", {a[0]});
  SetHidden(vm, self, "loaded", AsValue::Bool(true));
  CallMember(vm, self, "onLoad", {AsValue::Bool(true)});
  return {};
}

AsValue XmlOnData(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Arg(a, 0).IsUndefined()) {
    SetHidden(vm, self, "loaded", AsValue::Bool(false));
    CallMember(vm, self, "onLoad", {AsValue::Bool(false)});
    return {};
  }
  CallMember(vm, self, "parseXML", {a[0]});
  SetHidden(vm, self, "loaded", AsValue::Bool(true));
  CallMember(vm, self, "onLoad", {AsValue::Bool(true)});
  return {};
}

AsValue LvDecode(Avm1& vm, const AsValue& self, AsArgs a) {
  if (Self(self)) DecodeInto(vm, self, Str(vm, a, 0));
  return {};
}

// "name=value&..." of the object's own enumerable variables, oldest first.
// name=value pairs in for..in order (newest first), getters read; a
// script error in a conversion stops it.
AsValue LvToString(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = Self(self);
  if (!o) return AsValue::String("");
  std::vector<std::pair<std::uint64_t, std::string>> names;
  for (auto& [key, p] : o->props) {
    if (!p.hidden && !(p.value.type == AsValue::Type::kObject && p.value.obj->fn)) names.emplace_back(p.order, p.name);
  }
  std::sort(names.begin(), names.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
  std::string out;
  for (const auto& [order, name] : names) {
    const AsValue v = vm.Get(self, name);
    if (vm.Throwing()) return {};
    const std::string text = vm.ToString(v);
    if (vm.Throwing()) return {};
    if (!out.empty()) out += '&';
    out += UrlEncode(name) + '=' + UrlEncode(text);
  }
  return AsValue::String(out);
}

AsValue BytesLoaded(Avm1& vm, const AsValue& self, AsArgs) { return vm.Get(self, "_bytesLoaded"); }
AsValue BytesTotal(Avm1& vm, const AsValue& self, AsArgs) { return vm.Get(self, "_bytesTotal"); }
AsValue Nothing(Avm1&, const AsValue&, AsArgs) { return {}; }

AsValue LvCtor(Avm1&, const AsValue& self, AsArgs) { return self; }

// ---- clips

// A clip by value: a clip, a target path, or a level by number or name;
// a level that is not there yet is made when `makeLevel`.
AsValue ClipTarget(Avm1& vm, ClipHandle base, const AsValue& v, bool makeLevel) {
  if (v.type == AsValue::Type::kClip) return vm.ClipOf(v) != kNoClip ? v : AsValue{};
  Stage& stage = vm.GetStage();
  int level = -1;
  if (v.type == AsValue::Type::kNumber) {
    level = v.num >= 0 && v.num < 2e9 ? static_cast<int>(v.num) : -1;
  } else {
    level = LevelNumber(avm1_detail::Lower(vm.ToString(v)));
  }
  if (level >= 0) {
    const ClipHandle h = stage.Level(level, makeLevel);
    return h == kNoClip ? AsValue{} : vm.ClipValue(h);
  }
  if (v.type == AsValue::Type::kNumber) return {};
  const ClipHandle h = stage.Resolve(base, vm.ToString(v));
  return h == kNoClip ? AsValue{} : vm.ClipValue(h);
}

AsValue MclCtor(Avm1& vm, const AsValue& self, AsArgs) {
  if (AsObject* o = Self(self)) {
    o->className = "MovieClipLoader";
    vm.SetProp(o, "_listeners", AsValue::Object(vm.NewArray({self})), true);
  }
  return self;
}

AsValue MclLoadClip(Avm1& vm, const AsValue& self, AsArgs a) {
  // Too few arguments: undefined; a bad target: false.
  if (!Self(self) || a.size() < 2) return {};
  // The address must be a string; nothing converts it.
  if (a[0].type != AsValue::Type::kString) return AsValue::Bool(false);
  const AsValue target = ClipTarget(vm, kRootClip, a[1], true);
  if (target.IsUndefined()) return AsValue::Bool(false);
  Enqueue(vm, {LoadKind::kClip, Str(vm, a, 0), target, self, 0});
  return AsValue::Bool(true);
}

AsValue MclUnloadClip(Avm1& vm, const AsValue&, AsArgs a) {
  const AsValue target = ClipTarget(vm, kRootClip, Arg(a, 0), false);
  if (target.IsUndefined()) return AsValue::Bool(false);
  vm.GetStage().UnloadClip(vm.ClipOf(target));
  return AsValue::Bool(true);
}

// What the target clip's getBytesLoaded and getBytesTotal say.
// getProgress(target): a clip, a path or a level number; undefined for
// anything else, and undefined counts when the target is not there.
AsValue MclGetProgress(Avm1& vm, const AsValue&, AsArgs a) {
  const AsValue t = Arg(a, 0);
  Stage& stage = vm.GetStage();
  ClipHandle clip = kNoClip;
  switch (t.type) {
    case AsValue::Type::kClip: clip = vm.ClipOf(t); break;
    case AsValue::Type::kString: clip = vm.ClipOf(vm.Evaluate(t.Text())); break;
    case AsValue::Type::kNumber: {
      const double level = std::trunc(t.num);
      if (level >= 0 && level <= 1e6) clip = stage.Level(static_cast<int>(level), false);
      break;
    }
    default: return {};
  }
  AsObject* o = vm.NewObject();
  // Both count the file the clip's movie came from, as stored (compressed).
  AsValue bytes;
  if (const TimelineState* tl = clip == kNoClip ? nullptr : stage.TimelineOf(clip)) {
    std::int64_t n = 0;
    if (tl->lib && tl->lib->movie.storedBytes) n = static_cast<std::int64_t>(tl->lib->movie.storedBytes);
    else if (tl->loadedBytes) n = *tl->loadedBytes;  // -1 after a failed load
    else n = static_cast<std::int64_t>(stage.StoredBytes());
    bytes = AsValue::Number(static_cast<double>(n));
  }
  vm.SetProp(o, "bytesLoaded", bytes);
  vm.SetProp(o, "bytesTotal", bytes);
  return AsValue::Object(o);
}

// loadMovie/loadVariables as clip methods: clip.loadMovie(url).
AsValue McLoadVariables(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type == AsValue::Type::kClip && !a.empty()) {
    Enqueue(vm, {LoadKind::kClipVariables, Str(vm, a, 0), self, {}, 0});
  }
  return {};
}

AsValue McLoadMovie(Avm1& vm, const AsValue& self, AsArgs a) {
  if (self.type == AsValue::Type::kClip && !a.empty()) Enqueue(vm, {LoadKind::kClip, Str(vm, a, 0), self, {}, 0});
  return {};
}

AsValue McUnloadMovie(Avm1& vm, const AsValue& self, AsArgs) {
  vm.GetStage().UnloadClip(vm.ClipOf(self));
  return {};
}

}  // namespace

AsValue LoadTextFor(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!Self(self) || a.empty() || a[0].IsUndefined()) return AsValue::Bool(false);
  Enqueue(vm, {LoadKind::kXml, Str(vm, a, 0), self, {}, 0});
  return AsValue::Bool(true);
}

bool ReadMovieFile(Avm1& vm, const std::string& url, std::string& out) {
  if (IsUrl(url)) vm.Skip("loading from the network (offline)");
  const fs::path file = LocalFile(vm, url);
  return !file.empty() && ReadFile(file, out);
}

bool GetUrl(Avm1& vm, ClipHandle base, const std::string& url, const std::string& target, int flags) {
  const std::string lower = avm1_detail::Lower(url);
  // fscommand talks to a host program; the player has none. Only "quit"
  // means something without one: the player closes, as a standalone one does.
  if (lower.rfind("fscommand:", 0) == 0) {
    if (lower == "fscommand:quit") vm.GetStage().Quit();
    return true;
  }
  const bool loadVariables = flags & 1, targetIsClip = flags & 2;
  const std::string lowerTarget = avm1_detail::Lower(target);
  const bool level = lowerTarget.rfind("_level", 0) == 0;
  if (!targetIsClip && !level) {
    vm.Skip("getURL (no browser)");
    return true;
  }
  // Unloading a level that is not there makes none.
  AsValue clip = ClipTarget(vm, base, AsValue::String(target), !url.empty() || loadVariables);
  if (clip.IsUndefined() && loadVariables) {
    // A text field is no timeline, but takes variables all the same.
    if (const AsValue field = vm.Evaluate(target, base); vm.ClipOf(field) != kNoClip || Self(field)) {
      Enqueue(vm, {LoadKind::kClipVariables, url, field, {}, 0});
      return true;
    }
  }
  if (clip.IsUndefined()) {
    if (!level) vm.Skip("loading into a missing clip");
    return true;
  }
  if (loadVariables) {
    Enqueue(vm, {LoadKind::kClipVariables, url, clip, {}, 0});
  } else if (url.empty()) {
    vm.GetStage().UnloadClip(vm.ClipOf(clip));
  } else {
    Enqueue(vm, {LoadKind::kClip, url, clip, {}, 0});
  }
  return true;
}

// ---- FileReference, FileReferenceList: a converter has nobody to answer
// the system's file dialogs, so every dialog is dismissed at once (onCancel
// on the next frame) and no file is ever chosen, to upload or to name.
// One dialog at a time: a second call while one is pending gives false.
struct FileDialog : AsNativeData {
  bool open = false;
};

AsValue FileRefCtor(Avm1& vm, const AsValue& self, AsArgs) {
  AsObject* o = Self(self);
  if (!o) return self;
  vm.SetProp(o, "_listeners", AsValue::Object(vm.NewArray()), true);
  o->native = std::make_unique<FileDialog>();
  // Flash writes this class in script: its constructor returns nothing.
  return {};
}

// A file type list: an array of objects, each with its own non-empty
// description and extension. A getter that throws counts as a missing
// field; converting a value (macType too, when there) lets its error through.
bool ValidFileTypes(Avm1& vm, const AsValue& list) {
  AsObject* arr = Self(list);
  if (!arr || !arr->isArray || arr->length <= 0) return false;
  for (const AsValue& e : vm.Elements(arr)) {
    AsObject* f = Self(e);
    if (!f || e.type != AsValue::Type::kObject) return false;
    for (const char* field : {"description", "extension"}) {
      if (!f->props.count(vm.Key(field))) return false;
      const AsValue v = vm.Get(e, field);
      if (vm.TakeThrown()) return false;
      const std::string text = vm.ToString(v);
      if (vm.Throwing() || text.empty()) return false;
    }
    if (f->props.count(vm.Key("macType"))) {
      const AsValue v = vm.Get(e, "macType");
      if (vm.TakeThrown()) return false;
      vm.ToString(v);
      if (vm.Throwing()) return false;
    }
  }
  return true;
}

// Opens a dialog that nobody answers: onCancel(this) once the script is done.
AsValue OpenDialog(Avm1& vm, const AsValue& self) {
  AsObject* o = Self(self);
  FileDialog* d = o ? o->Native<FileDialog>() : nullptr;
  if (!d || d->open) return AsValue::Bool(false);
  d->open = true;
  auto closed = [](Avm1& vm, const AsValue& self, AsArgs) -> AsValue {
    if (AsObject* o = Self(self); FileDialog* d = o ? o->Native<FileDialog>() : nullptr) d->open = false;
    std::vector<AsValue> args{self};
    vm.Broadcast(self, "onCancel", args);
    return {};
  };
  vm.AddInterval(AsValue::Object(vm.NewFunction("", closed)), self, "", 0, {}, vm.NextIntervalId(), true);
  return AsValue::Bool(true);
}

// upload: nothing was chosen to send.
AsValue NoFile(Avm1&, const AsValue&, AsArgs) { return AsValue::Bool(false); }

AsValue FileRefBrowse(Avm1& vm, const AsValue& self, AsArgs a) {
  if (!a.empty() && !ValidFileTypes(vm, a[0])) return AsValue::Bool(false);
  return OpenDialog(vm, self);
}

// download(url[, name]): the save dialog for an address with a scheme.
AsValue FileRefDownload(Avm1& vm, const AsValue& self, AsArgs a) {
  if (a.empty()) return AsValue::Bool(false);
  const std::string url = vm.ToString(a[0]);
  if (url.find("://") == std::string::npos) return AsValue::Bool(false);
  return OpenDialog(vm, self);
}

void InstallLoad(Avm1& vm) {
  AsObject* global = vm.Global();
  AsObject* lvProto = vm.NewRootObject(vm.ObjectProto());
  AsObject* lv = vm.NewClass(global, "LoadVars", LvCtor, lvProto);
  auto queue = std::make_unique<LoadQueue>();
  queue->poller = vm.NewFunction("", PollLoads);
  vm.AtFrameEnd(AsValue::Object(queue->poller));
  lv->native = std::move(queue);
  const std::pair<const char*, AsNative> lvMethods[] = {
      {"load", LvLoadMethod},         {"sendAndLoad", LvSendAndLoad},   {"send", Send},
      {"onData", LvOnData},           {"onLoad", Nothing},              {"decode", LvDecode},
      {"toString", LvToString},       {"getBytesLoaded", BytesLoaded},  {"getBytesTotal", BytesTotal},
      {"addRequestHeader", Nothing}};
  for (auto& [n, f] : lvMethods) vm.NewFunction(n, f, lvProto);
  vm.SetProp(lvProto, "contentType", AsValue::String("application/x-www-form-urlencoded"), true);

  const AsValue xml = vm.Get(AsValue::Object(global), "XML");
  const AsValue xmlProto = vm.Get(xml, "prototype");
  if (xmlProto.type == AsValue::Type::kObject) {
    const std::pair<const char*, AsNative> xmlMethods[] = {
        {"load", XmlLoadMethod},       {"sendAndLoad", XmlSendAndLoad}, {"send", Send},
        {"onData", XmlOnData},         {"onLoad", Nothing},             {"getBytesLoaded", BytesLoaded},
        {"getBytesTotal", BytesTotal}, {"addRequestHeader", Nothing}};
    for (auto& [n, f] : xmlMethods) vm.NewFunction(n, f, xmlProto.obj);
  }

  AsObject* mclProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewClass(global, "MovieClipLoader", MclCtor, mclProto);
  const std::pair<const char*, AsNative> mclMethods[] = {
      {"loadClip", MclLoadClip},
      {"unloadClip", MclUnloadClip},   {"getProgress", MclGetProgress}};
  for (auto& [n, f] : mclMethods) vm.NewFunction(n, f, mclProto);
  // Its listener methods are AsBroadcaster's own.
  const AsValue bc = vm.Get(AsValue::Object(global), "AsBroadcaster");
  for (const char* name : {"addListener", "removeListener", "broadcastMessage"}) {
    vm.SetProp(mclProto, name, vm.Get(bc, name), true);
  }

  {
    AsObject* net = Package(vm, "flash.net");
    AsObject* refProto = vm.NewRootObject(vm.ObjectProto());
    AsObject* listProto = vm.NewRootObject(vm.ObjectProto());
    vm.NewClass(net, "FileReference", FileRefCtor, refProto);
    vm.NewClass(net, "FileReferenceList", FileRefCtor, listProto);
    for (AsObject* proto : {refProto, listProto}) {
      for (const char* name : {"addListener", "removeListener", "broadcastMessage"}) {
        vm.SetProp(proto, name, vm.Get(bc, name), true);
      }
      vm.NewFunction("browse", FileRefBrowse, proto);
    }
    vm.NewFunction("download", FileRefDownload, refProto);
    vm.NewFunction("upload", NoFile, refProto);
    vm.NewFunction("cancel", Nothing, refProto);
  }

  vm.NewFunction("loadVariables", McLoadVariables, vm.ClipProto());
  vm.NewFunction("loadMovie", McLoadMovie, vm.ClipProto());
  vm.NewFunction("unloadMovie", McUnloadMovie, vm.ClipProto());
}

}  // namespace quarvel::player::avm1_builtins
