// URLRequest, URLVariables, URLLoader, Loader and LoaderInfo, and the
// loads they queue, finished a frame later.
#include "player/as3/display_binding_p.h"
#include "player/swf/movie.h"
#include "player/swf/signed_library.h"

namespace quarvel::player::as3 {

// ---- loading: URLRequest, URLVariables, URLLoader, Loader and LoaderInfo

// name=value&name=value into the object's properties; a name given twice gets an array.
void DecodeVariables(Machine& m, const Value& into, const std::string& text) {
  std::size_t at = 0;
  while (at <= text.size()) {
    auto end = text.find('&', at);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(at, end - at);
    at = end + 1;
    if (pair.empty()) continue;
    const auto eq = pair.find('=');
    if (eq == std::string::npos) m.ThrowError("Error", "The String passed to URLVariables.decode() must be a URL-encoded query string containing name/value pairs.", 2101);
    const std::string name = UrlDecode(pair.substr(0, eq)), value = UrlDecode(pair.substr(eq + 1));
    const Value old = m.GetProperty(into, name);
    if (old.IsNullish()) {
      m.SetProperty(into, name, m.Str(value));
    } else if (avm2::ArrayObject* arr = avm2::AsArray(old)) {
      arr->elems.push_back(m.Str(value));
    } else {
      m.SetProperty(into, name, Value::Obj(m.NewArray({old, m.Str(value)})));
    }
  }
}
NATIVE(UrlVarsCtor) {
  if (a.size() > 0 && !a[0].IsNullish()) DecodeVariables(m, self, m.ToString(a[0]));
  return self;
}
NATIVE(UrlVarsDecode) {
  DecodeVariables(m, self, avm2::ArgStr(m, a, 0, ""));
  return Value();
}
NATIVE(UrlVarsToString) {
  std::string out;
  Object* o = self.AsObject();
  if (!o) return m.Str("");
  for (std::uint32_t i = m.NextIndex(o, 0); i != 0; i = m.NextIndex(o, i)) {
    const std::string name = UrlEncode(m.ToString(m.NameAt(o, i)), "-_.~");
    const Value v = m.ValueAt(o, i);
    auto add = [&](const Value& x) { out += (out.empty() ? "" : "&") + name + "=" + UrlEncode(m.ToString(x), "-_.~"); };
    if (avm2::ArrayObject* arr = avm2::AsArray(v)) for (const Value& x : arr->elems) add(x);
    else add(v);
  }
  return m.Str(out);
}
// new FileFilter(description, extension, macType = null)
NATIVE(FileFilterCtor) {
  m.SetProperty(self, "description", m.Str(avm2::ArgStr(m, a, 0, "")));
  m.SetProperty(self, "extension", m.Str(avm2::ArgStr(m, a, 1, "")));
  m.SetProperty(self, "macType", a.size() > 2 && !a[2].IsNullish() ? m.Str(m.ToString(a[2])) : Value::Null());
  return self;
}
NATIVE(UrlRequestCtor) {
  if (a.size() > 0 && !a[0].IsNullish()) m.SetProperty(self, "url", m.Str(m.ToString(a[0])));
  if (FlashObject* f = As<FlashObject>(self)) f->format = "GET";
  return self;
}
// digest: declared (Flex reads it to know the player loads signed
// libraries), null until set; kept hidden from enumeration.
NATIVE(UrlRequestDigest) {
  const avm2::Object* o = self.AsObject();
  const Value* v = o ? o->FindDyn("digest") : nullptr;
  return v ? *v : Value::Null();
}
NATIVE(UrlRequestSetDigest) {
  if (avm2::Object* o = self.AsObject()) {
    const Value v = m.ArgOr(a, 0);
    o->SetDyn(m.Intern("digest"), v.IsNullish() ? Value::Null() : m.Str(m.ToString(v)));
    o->dyn->hidden.insert("digest");
  }
  return Value();
}
NATIVE(UrlRequestMethod) { FlashObject* f = As<FlashObject>(self); return m.Str(f ? f->format : "GET"); }
// Only GET and POST, in either all-capital or all-small letters.
NATIVE(UrlRequestSetMethod) {
  const std::string v = avm2::ArgStr(m, a, 0, "");
  if (v != "GET" && v != "get" && v != "POST" && v != "post")
    m.ThrowError("ArgumentError", "Parameter method must be one of the accepted values.", 2008);
  if (FlashObject* f = As<FlashObject>(self)) f->format = v;
  return Value();
}
std::string RequestUrl(Machine& m, const Value& request) {
  if (request.IsNullish()) m.ThrowError("TypeError", "Parameter request must be non-null.", 2007);
  const Value url = m.GetProperty(request, "url");
  return url.IsNullish() ? std::string() : m.ToString(url);
}
void SendNetStatus(Machine& m, FlashObject* to, const std::string& code, const std::string& level);
void StartWaitingChannels(Machine& m, FlashObject* sound);
void GenerateSampleData(Machine& m, FlashObject* sound);
void QueueLoad(Machine& m, FlashObject* by, std::string url, std::string bytes, bool fromBytes) {
  As3Display& b = B(m);
  if (b.loading.queued.size() + b.loading.due.size() > 256) m.ThrowError("Error", "Too many loads at once.", 2000);
  by->url = url;
  b.loading.queued.push_back({Value::Obj(by), std::move(url), std::move(bytes), fromBytes, {}});
}
NATIVE(UrlLoaderLoad) {
  if (FlashObject* f = As<FlashObject>(self)) {
    const Value request = m.ArgOr(a, 0);
    std::string url = RequestUrl(m, request);
    const bool digest = !m.GetProperty(request, "digest").IsNullish();
    QueueLoad(m, f, std::move(url), {}, false);
    B(m).loading.queued.back().digest = digest;
  }
  return Value();
}
NATIVE(UrlLoaderCtor) {
  if (a.size() > 0 && !a[0].IsNullish()) UrlLoaderLoad(m, self, a);
  return self;
}
NATIVE(UrlLoaderData) { FlashObject* f = As<FlashObject>(self); return f ? f->data : Value(); }
NATIVE(UrlLoaderSetData) { if (FlashObject* f = As<FlashObject>(self)) f->data = m.ArgOr(a, 0); return Value(); }
NATIVE(UrlLoaderFormat) { FlashObject* f = As<FlashObject>(self); return m.Str(f ? f->format : "text"); }
NATIVE(UrlLoaderSetFormat) { if (FlashObject* f = As<FlashObject>(self)) f->format = avm2::ArgStr(m, a, 0, "text"); return Value(); }
NATIVE(BytesLoaded) { FlashObject* f = As<FlashObject>(self); return Value::Number(f ? f->bytesLoaded : 0); }
NATIVE(BytesTotal) { FlashObject* f = As<FlashObject>(self); return Value::Number(f ? f->bytesTotal : 0); }
NATIVE(CancelLoad) {
  As3Display& b = B(m);
  for (auto* list : {&b.loading.queued, &b.loading.due}) std::erase_if(*list, [&](const LoadState::Load& l) {
      return l.by.o == self.AsObject() || (As<FlashObject>(l.by) && As<FlashObject>(l.by)->owner.AsObject() == self.AsObject());
    });
  return Value();
}
// A Loader has its LoaderInfo from the moment it is made, before its
// constructor (or a subclass's code ahead of super()) runs.
void GiveLoaderInfo(Machine& m, FlashObject* loader) {
  if (!loader || !loader->info.IsUndefined()) return;
  LoaderInfoObject* info = As<LoaderInfoObject>(Value::Obj(m.Instantiate(m.FindClass("flash.display::LoaderInfo"))));
  if (!info) return;
  info->owner = Value::Obj(loader);
  loader->info = Value::Obj(info);
}
NATIVE(LoaderCtor) {
  DisplayObjectCtor(m, self, a);
  GiveLoaderInfo(m, As<FlashObject>(self));
  return self;
}
// A ByteArray holding `bytes`: what LoaderInfo.bytes gives.
Value ByteArrayOf(Machine& m, std::span<const std::uint8_t> bytes) {
  Object* ba = m.Construct(m.FindClass("flash.utils::ByteArray"), {});
  if (ba && ba->kind == ObjectKind::kByteArray) static_cast<avm2::ByteArrayObject*>(ba)->bytes.assign(bytes.begin(), bytes.end());
  return Value::Obj(ba);
}
FlashObject* LoaderInfoOf(Machine& m, const Value& self) {
  FlashObject* f = As<FlashObject>(self);
  FlashObject* info = f ? As<FlashObject>(f->info) : nullptr;
  if (!info) m.ThrowError("Error", "The Loader has no LoaderInfo.", 2000);
  return info;
}
NATIVE(LoaderUnload);
NATIVE(LoaderLoad) {
  FlashObject* info = LoaderInfoOf(m, self);
  LoaderUnload(m, self, {});
  info->data = ByteArrayOf(m, {});  // empty while the load runs
  QueueLoad(m, info, RequestUrl(m, m.ArgOr(a, 0)), {}, false);
  return Value();
}
// Bytes a Loader can show: a movie, or a JPEG, PNG or GIF picture.
bool KnownContent(const std::string& bytes) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  return (bytes.size() > 3 && p[0] == 0xFF && p[1] == 0xD8) ||
         (bytes.size() > 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) ||
         (bytes.size() > 6 && (bytes.compare(0, 6, "GIF89a") == 0 || bytes.compare(0, 6, "GIF87a") == 0)) ||
         (bytes.size() > 8 && (bytes.compare(0, 3, "FWS") == 0 || bytes.compare(0, 3, "CWS") == 0 ||
                               bytes.compare(0, 3, "ZWS") == 0));
}
NATIVE(LoaderLoadBytes) {
  FlashObject* info = LoaderInfoOf(m, self);
  Object* o = m.ArgOr(a, 0).AsObject();
  if (!o || o->kind != ObjectKind::kByteArray) m.ThrowError("TypeError", "Parameter bytes must be non-null.", 2007);
  const auto& bytes = static_cast<avm2::ByteArrayObject*>(o)->bytes;
  std::string copy(bytes.begin(), bytes.end());
  LoaderUnload(m, self, {});
  info->data = ByteArrayOf(m, {});
  // Flash takes the bytes in the call: the progress events come before it returns.
  B(m).LoaderBytesArrive(info, copy);
  if (!KnownContent(copy)) {
    // Bytes of no known kind fail at once, inside the call.
    B(m).FinishLoad({Value::Obj(info), "", std::move(copy), true, {}});
    return Value();
  }
  QueueLoad(m, info, "", std::move(copy), true);
  return Value();
}
NATIVE(LoaderContent) {
  FlashObject* f = As<FlashObject>(self);
  FlashObject* info = f ? As<FlashObject>(f->info) : nullptr;
  return info && !info->content.IsUndefined() ? info->content : Value::Null();
}
NATIVE(LoaderInfoGet) {
  FlashObject* f = As<FlashObject>(self);
  if (Class* loader = m.FindClass("flash.display::Loader"); f && f->info.IsUndefined() && f->cls && loader &&
                                                            f->cls->IsSubclassOf(loader))
    GiveLoaderInfo(m, f);
  return f && !f->info.IsUndefined() ? f->info : Value::Null();
}
NATIVE(LoaderUnload) {
  FlashObject* f = As<FlashObject>(self);
  FlashObject* info = f ? As<FlashObject>(f->info) : nullptr;
  if (!info) return Value();
  CancelLoad(m, self, {});
  FlashObject* content = As<FlashObject>(info->content);
  As3Display& b = B(m);
  if (content && content->handle != kNoClip)
    if (Instance* i = b.Node(content->handle); i && i->parent == f->handle) Detach(m, content->handle, true);
  const bool had = content != nullptr;
  info->content = Value::Null();
  info->message.clear();  // the file's kind too
  info->bytesLoaded = info->bytesTotal = 0;
  if (had) b.SendSimple(info, "unload");
  return Value();
}
Value RootUrl(Machine& m) {
  As3Display& b = B(m);
  const auto& folder = b.stage.MovieFolder();
  const std::string& name = b.stage.MovieName();
  return m.Str(folder.empty() ? "file:///" + name : "file://" + (folder / name).string());
}
NATIVE(LoaderInfoUrl) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  // A Loader's LoaderInfo names its file once the content is known.
  if (f && f->owner.IsObject() && !f->content.IsObject()) return Value::Null();
  if (f && !b.loading.IsMainInfo(f)) return f->url.empty() ? Value::Null() : m.Str(f->url);
  return RootUrl(m);
}
// The URL of the movie that made the load: the one holding the Loader.
NATIVE(LoaderInfoLoaderUrl) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (f && !b.loading.IsMainInfo(f) && f->owner.IsObject()) {
    const Value parentInfo = DoGetLoaderInfo(m, f->owner, {});
    if (As<FlashObject>(parentInfo) && As<FlashObject>(parentInfo) != f) return LoaderInfoUrl(m, parentInfo, {});
  }
  // A Loader off the display list was made by the main movie, whatever it loads.
  return RootUrl(m);
}
// A loaded movie's parameters are its URL's query variables.
NATIVE(LoaderInfoParams) {
  Value params = Value::Obj(m.NewObject());
  FlashObject* f = As<FlashObject>(self);
  // They are known once every byte is in.
  if (!f || B(m).loading.IsMainInfo(f) || f->bytesTotal <= 0 || f->bytesLoaded < f->bytesTotal) return params;
  const auto q = f->url.find('?');
  if (q == std::string::npos) return params;
  const std::string query = f->url.substr(q + 1, f->url.find('#', q) - q - 1);
  for (std::size_t at = 0; at <= query.size();) {
    const std::size_t end = std::min(query.find('&', at), query.size());
    const std::string pair = query.substr(at, end - at);
    at = end + 1;
    if (const auto eq = pair.find('='); eq != std::string::npos && eq > 0)
      m.SetProperty(params, UrlDecode(pair.substr(0, eq)), m.Str(UrlDecode(pair.substr(eq + 1))));
  }
  return params;
}
NATIVE(LoaderInfoContent) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (b.loading.IsMainInfo(f)) return b.ValueFor(kRootClip);
  return f && !f->content.IsUndefined() ? f->content : Value::Null();
}
NATIVE(LoaderInfoLoader) { FlashObject* f = As<FlashObject>(self); return f && !f->owner.IsUndefined() ? f->owner : Value::Null(); }
NATIVE(LoaderInfoBytes) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (b.loading.IsMainInfo(f)) return Value::Number(static_cast<double>(b.stage.StoredBytes()));
  return Value::Number(f ? f->bytesLoaded : 0);
}
NATIVE(LoaderInfoBytesTotal) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (b.loading.IsMainInfo(f)) return Value::Number(static_cast<double>(b.stage.StoredBytes()));
  return Value::Number(f ? f->bytesTotal : 0);
}
// A Loader's LoaderInfo tells what the file is only once its kind is
// known: before (and after a file of no known kind) these throw #2099.
void NeedLoaded(Machine& m, const Value& self) {
  FlashObject* f = As<FlashObject>(self);
  if (f && !B(m).loading.IsMainInfo(f) && f->message.empty())
    m.ThrowError("Error", "The loading object is not sufficiently loaded to provide this information.", 2099);
}
// An ActionScript 1/2 movie loaded by an ActionScript 3 one: its script
// machine runs none of its code here, so it has nothing to call nor to
// expose a callback to; Flash answers that so when the other side is not up.
void AvmArgs(Machine& m, std::span<Value> a, std::size_t need, const char* method) {
  if (a.size() < need)
    m.ThrowFromCaller("ArgumentError",
                      std::string("Argument count mismatch on flash.display::AVM1Movie/") + method + "(). Expected " +
                          std::to_string(need) + ", got " + std::to_string(a.size()) + ".",
                      1063);
}
[[noreturn]] void NotAvailable(Machine& m) {
  Machine::NativeFrame frame(m, "Error$/throwError");
  m.ThrowError("Error", "Feature is not available at this time.", 2014);
}
NATIVE(Avm1Call) {
  (void)self;
  AvmArgs(m, a, 1, "call");
  NotAvailable(m);
}
NATIVE(Avm1AddCallback) {
  (void)self;
  AvmArgs(m, a, 2, "addCallback");
  NotAvailable(m);
}
NATIVE(LoaderInfoAllows) {
  NeedLoaded(m, self);
  return Value::Bool(true);
}
NATIVE(LoaderInfoWidth) {
  NeedLoaded(m, self);
  As3Display& b = B(m);
  FlashObject* f = As<FlashObject>(self);
  if (b.loading.IsMainInfo(f)) return Value::Int(b.lib.movie.header.frameSize.Width() / 20);
  FlashObject* c = f ? As<FlashObject>(f->content) : nullptr;
  BitmapDataObject* bd = c ? As<BitmapDataObject>(c->bitmapData) : nullptr;
  return Value::Int(bd && bd->bitmap ? bd->bitmap->width : 0);
}
NATIVE(LoaderInfoHeight) {
  NeedLoaded(m, self);
  As3Display& b = B(m);
  FlashObject* f = As<FlashObject>(self);
  if (b.loading.IsMainInfo(f)) return Value::Int(b.lib.movie.header.frameSize.Height() / 20);
  FlashObject* c = f ? As<FlashObject>(f->content) : nullptr;
  BitmapDataObject* bd = c ? As<BitmapDataObject>(c->bitmapData) : nullptr;
  return Value::Int(bd && bd->bitmap ? bd->bitmap->height : 0);
}
NATIVE(LoaderInfoFrameRate) {
  NeedLoaded(m, self);
  return Value::Number(B(m).lib.movie.header.frameRate / 256.0);
}
NATIVE(LoaderInfoSwfVersion) {
  NeedLoaded(m, self);
  return Value::Int(B(m).lib.movie.version);
}
NATIVE(LoaderInfoAsVersion) {
  NeedLoaded(m, self);
  FlashObject* f = As<FlashObject>(self);
  FlashObject* c = f ? As<FlashObject>(f->content) : nullptr;
  const bool avm1 = c && c->cls && c->cls->IsSubclassOf(B(m).avm1MovieClass);
  return Value::Int(avm1 ? 2 : 3);
}
NATIVE(LoaderInfoContentType) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  // The stage's LoaderInfo shares the movie's answers but names no type.
  if (f && f == b.loading.rootInfo) return m.Str("application/x-shockwave-flash");
  return f && f != b.loading.stageInfo && !f->message.empty() ? m.Str(f->message) : Value::Null();
}
// The file as loaded, a movie uncompressed ("FWS"): null before a load starts.
NATIVE(LoaderInfoFileBytes) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (!f) return Value::Null();
  if (b.loading.IsMainInfo(f) && !f->data.IsObject()) f->data = ByteArrayOf(m, b.lib.movie.data);
  return f->data.IsObject() ? f->data : Value::Null();
}
// A Loader's LoaderInfo has a domain only while it holds what it loaded.
NATIVE(LoaderInfoDomain) {
  FlashObject* f = As<FlashObject>(self);
  if (f && f->owner.IsObject() && !f->content.IsObject()) return Value::Null();
  return Value::Obj(m.Construct(m.FindClass("flash.system::ApplicationDomain"), {}));
}
NATIVE(DoGetLoaderInfo) {
  // Every object of the movie shares the movie's LoaderInfo; a loaded movie's, its Loader's.
  As3Display& b = B(m);
  if (FlashObject* f = As<FlashObject>(self)) {
    if (const ClipHandle r = b.LoadedRootOf(f->handle); r != kNoClip) {
      if (FlashObject* ro = b.Existing(r); ro && As<FlashObject>(ro->info)) return ro->info;
    } else if (f->handle != kRootClip && f != b.stageObject && !b.UnderRoot(f->handle)) {
      return Value::Null();  // under no movie's root yet
    }
    if (f == b.stageObject) {
      if (!b.loading.stageInfo)
        b.loading.stageInfo = As<LoaderInfoObject>(Value::Obj(m.Instantiate(m.FindClass("flash.display::LoaderInfo"))));
      return Value::Obj(b.loading.stageInfo);
    }
  }
  if (!b.loading.rootInfo) b.loading.rootInfo = As<LoaderInfoObject>(Value::Obj(m.Instantiate(m.FindClass("flash.display::LoaderInfo"))));
  return Value::Obj(b.loading.rootInfo);
}
// ---- URLStream: the bytes of a load, read as they arrive through the
// ByteArray that holds them.
NATIVE(UrlStreamLoad) {
  FlashObject* f = As<FlashObject>(self);
  if (!f) return Value();
  f->format = "stream";
  f->data = Value();
  QueueLoad(m, f, RequestUrl(m, m.ArgOr(a, 0)), {}, false);
  return Value();
}
Value StreamRead(Machine& m, const Value& self, std::span<Value> a, std::string_view name) {
  FlashObject* f = As<FlashObject>(self);
  if (!f || !f->data.IsObject()) m.ThrowError("flash.errors::EOFError", "End of file was encountered.", 2030);
  return m.CallProperty(f->data, name, a);
}
#define QUARVEL_STREAM_READ(fn, name) \
  NATIVE(fn) { return StreamRead(m, self, a, name); }
QUARVEL_STREAM_READ(UsReadBoolean, "readBoolean")
QUARVEL_STREAM_READ(UsReadByte, "readByte")
QUARVEL_STREAM_READ(UsReadUnsignedByte, "readUnsignedByte")
QUARVEL_STREAM_READ(UsReadShort, "readShort")
QUARVEL_STREAM_READ(UsReadUnsignedShort, "readUnsignedShort")
QUARVEL_STREAM_READ(UsReadInt, "readInt")
QUARVEL_STREAM_READ(UsReadUnsignedInt, "readUnsignedInt")
QUARVEL_STREAM_READ(UsReadFloat, "readFloat")
QUARVEL_STREAM_READ(UsReadDouble, "readDouble")
QUARVEL_STREAM_READ(UsReadUtf, "readUTF")
QUARVEL_STREAM_READ(UsReadUtfBytes, "readUTFBytes")
QUARVEL_STREAM_READ(UsReadMultiByte, "readMultiByte")
QUARVEL_STREAM_READ(UsReadBytes, "readBytes")
QUARVEL_STREAM_READ(UsReadObject, "readObject")
#undef QUARVEL_STREAM_READ
NATIVE(UsAvailable) {
  FlashObject* f = As<FlashObject>(self);
  return f && f->data.IsObject() ? m.GetProperty(f->data, "bytesAvailable") : Value::Int(0);
}
NATIVE(UsConnected) { FlashObject* f = As<FlashObject>(self); return Value::Bool(f && f->format == "stream"); }
NATIVE(UsClose) {
  CancelLoad(m, self, a);
  if (FlashObject* f = As<FlashObject>(self)) f->format = "text";
  return Value();
}
// The byte order is the stream's own, kept while no bytes have come.
NATIVE(UsEndian) {
  FlashObject* f = As<FlashObject>(self);
  if (f && f->data.IsObject()) return m.GetProperty(f->data, "endian");
  return m.Str(f && !f->message.empty() ? f->message : "bigEndian");
}
NATIVE(UsSetEndian) {
  FlashObject* f = As<FlashObject>(self);
  const std::string e = avm2::ArgStr(m, a, 0, "");
  if (e != "bigEndian" && e != "littleEndian")
    m.ThrowError("ArgumentError", "Parameter type must be one of the accepted values.", 2008);
  if (f) f->message = e;
  if (f && f->data.IsObject()) m.SetProperty(f->data, "endian", m.Str(e));
  return Value();
}

// ---- LocalConnection within the player: no movie here listens, so a
// message reaches no one and its sender hears an error status at the
// frame's end.
NATIVE(LcCtor) {
  m.SetProperty(self, "client", self);
  return self;
}
NATIVE(LcSend) {
  FlashObject* f = As<FlashObject>(self);
  if (m.ArgOr(a, 0).IsNullish()) m.ThrowError("TypeError", "Parameter connectionName must be non-null.", 2007);
  if (m.ArgOr(a, 1).IsNullish()) m.ThrowError("TypeError", "Parameter methodName must be non-null.", 2007);
  if (f) B(m).loading.queued.push_back({Value::Obj(f), {}, {}, false, "lcError"});
  return Value();
}
NATIVE(LcDomain) { return m.Str("localhost"); }
NATIVE(ReturnTrue) { return Value::Bool(true); }

// ---- FileReference and FileReferenceList: no user ever answers their
// dialogs, so no file is ever chosen and each dialog closes as cancelled.

// One browsing session at a time, as in Flash.
NATIVE(FileBrowse) {
  As3Display& b = B(m);
  FlashObject* f = As<FlashObject>(self);
  if (!f) return Value::Bool(false);
  for (auto* list : {&b.loading.queued, &b.loading.due})
    for (const auto& l : *list)
      if (l.event == "cancel") m.ThrowError("flash.errors::IllegalOperationError", "Only one file browsing session may be performed at a time.", 2041);
  if (f->tag == NativeKind::kFileList) f->data = Value::Obj(m.NewArray());
  b.loading.queued.push_back({Value::Obj(f), {}, {}, false, "cancel"});
  return Value::Bool(true);
}
// What a FileReference tells only of a chosen file.
NATIVE(FileNotChosen) {
  m.ThrowError("Error", "Functions called in incorrect sequence, or earlier call was unsuccessful.", 2037);
}
NATIVE(FileListFiles) { FlashObject* f = As<FlashObject>(self); return f && f->data.IsObject() ? f->data : Value::Null(); }

// ---- loads

namespace {
// Set by LoadedMovie when the loaded movie's main class threw in its
// constructor; read by the load that made it, at once.
bool rootConstructorFailed = false;
}  // namespace

void As3Display::SendSimple(FlashObject* to, const char* type) {
  Value e = NewEvent(eventClass, type, false);
  Dispatch(to, As<EventObject>(e));
}

// A file beside the movie has no HTTP status: 0.
void As3Display::SendHttpStatus(FlashObject* to) {
  Value e = NewEvent(m.FindClass("flash.events::HTTPStatusEvent"), "httpStatus", false);
  Dispatch(to, As<EventObject>(e));
}

void As3Display::SendIoError(FlashObject* to, const std::string& text) {
  bool heard = false;
  for (auto& l : to->listeners) heard |= l.type == "ioError";
  if (!heard) {
    // Flash reports an error nobody listens for and goes on.
    m.Log("uncaught error: Error #2044: Unhandled ioError:. text=" + text);
    return;
  }
  Value e = NewEvent(m.FindClass("flash.events::IOErrorEvent"), "ioError", false);
  if (EventObject* ev = As<EventObject>(e)) ev->message = text;
  Dispatch(to, As<EventObject>(e));
}

namespace {
// Whether a PNG file holds transparency: an alpha channel (grey or colour
// with alpha) or a tRNS chunk before the picture data.
bool PngHasAlpha(const std::string& bytes) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t at = 8;
  while (at + 8 <= bytes.size()) {
    const std::size_t len = (std::size_t{p[at]} << 24) | (std::size_t{p[at + 1]} << 16) | (std::size_t{p[at + 2]} << 8) | p[at + 3];
    const std::string type = bytes.substr(at + 4, 4);
    if (type == "IHDR" && len >= 10 && at + 8 + 10 <= bytes.size()) {
      const std::uint8_t colourType = p[at + 8 + 9];
      if (colourType == 4 || colourType == 6) return true;
    }
    if (type == "tRNS") return true;
    if (type == "IDAT" || type == "IEND" || len > bytes.size()) return false;
    at += 12 + len;
  }
  return false;
}
}  // namespace

// The display object a Loader shows for the bytes: a Bitmap of a picture;
// a movie plays as an empty clip (loaded movies are not played).
Value As3Display::ContentFor(FlashObject* info, const std::string& bytes) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const bool jpeg = bytes.size() > 3 && p[0] == 0xFF && p[1] == 0xD8;
  const bool png = bytes.size() > 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
  const bool gif = bytes.size() > 6 && (bytes.compare(0, 6, "GIF89a") == 0 || bytes.compare(0, 6, "GIF87a") == 0);
  const bool swf = bytes.size() > 8 && (bytes.compare(0, 3, "FWS") == 0 || bytes.compare(0, 3, "CWS") == 0 ||
                                        bytes.compare(0, 3, "ZWS") == 0);
  if (swf) {
    info->message = "application/x-shockwave-flash";
    return LoadedMovie(info, bytes);
  }
  if (!jpeg && !png && !gif) return Value();
  info->message = jpeg ? "image/jpeg" : png ? "image/png" : "image/gif";
  SurfacePtr picture;
  try {
    picture = DecodeJpegTagImage(std::span<const std::uint8_t>(p, bytes.size()), {}, {});
  } catch (const ImageError& e) {
    m.Log(std::string("a picture a Loader loaded is damaged: ") + e.what());
    return Value();
  }
  if (!picture) return Value();
  const int w = cairo_image_surface_get_width(picture.get()), h = cairo_image_surface_get_height(picture.get());
  // A JPEG, or a PNG without transparency, gives an opaque BitmapData.
  const bool transparent = gif || (png && PngHasAlpha(bytes));
  std::vector<Value> args{Value::Int(w), Value::Int(h), Value::Bool(transparent), Value::Int(transparent ? 0 : -16777216)};
  Object* bd = m.Construct(m.FindClass("flash.display::BitmapData"), args);
  BitmapDataObject* fbd = As<BitmapDataObject>(Value::Obj(bd));
  if (!fbd || !fbd->bitmap) return Value();
  cairo_t* cr = cairo_create(fbd->bitmap->surface.get());
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, picture.get(), 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_mark_dirty(fbd->bitmap->surface.get());
  std::vector<Value> bitmapArgs{Value::Obj(bd)};
  return Value::Obj(m.Construct(bitmapClass, bitmapArgs));
}

// A movie a Loader loaded plays in a clip of its own, with its own library;
// its code joins the machine before its first frame, and its main class
// (or a MovieClip) is made for the clip, off the display list as in Flash,
// so that `stage` is null in its constructor.
Value As3Display::LoadedMovie(FlashObject* info, const std::string& bytes) {
  Instance* node = NewNode(&stage.EmptySprite());
  if (!node) return Value();
  const ClipHandle h = node->serial;
  std::string main;
  bool as3 = false;
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const bool playing = stage.LoadMovieInto(h, {p, bytes.size()}, true, [&](const MovieLibrary& loaded) {
    as3 = (loaded.fileAttributes & 0x08) || !loaded.abcBlocks.empty();
    for (const auto& [id, c] : loaded.characters) loadedDefs.insert(c.get());
    for (const auto& [name, id] : loaded.names) {
      if (id == 0) {
        main = name;
        continue;
      }
      // A name already defined keeps its first meaning, as in the loader's domain.
      if (classSymbols.count(name)) continue;
      loadedSymbols.emplace(name, std::make_pair(&loaded, id));
      const auto dot = name.rfind('.');
      if (dot != std::string::npos)
        loadedSymbols.emplace(name.substr(0, dot) + "::" + name.substr(dot + 1), std::make_pair(&loaded, id));
      if (const Character* d = loaded.Find(id)) loadedClasses.emplace(d, name);
    }
    LoadAbcBlocks(m, loaded.abcBlocks, loaded.movie.version);
  });
  if (!playing) {
    m.Log("a movie a Loader loaded could not be read");
    return Value();
  }
  loadedRoots.insert(h);
  Class* cls = main.empty() ? nullptr : m.FindClass(main);
  if (cls && !cls->IsSubclassOf(displayObjectClass)) cls = nullptr;
  // A movie of ActionScript 1 or 2 (no ActionScript 3 flag in its
  // FileAttributes, no code blocks) shows as an AVM1Movie.
  if (!cls && !as3) cls = avm1MovieClass;
  FlashObject* root = Allocate(cls ? cls : movieClipClass, h, Value::Obj(info));
  Class* c = root->cls;
  while (c && !c->iinit) c = c->super;
  if (c && c->unit)
    rootConstructorFailed = !m.SafeCall([&] { m.Invoke(c->iinit, Value::Obj(root), {}, c->iinit->scope); },
                                        ("the constructor of " + root->cls->QualifiedName()).c_str());
  BuildChildren(root);
  return Value::Obj(root);
}

// A ProgressEvent to a loader's info, which keeps the counts it tells.
void SendProgress(As3Display& b, FlashObject* by, double loaded, double total) {
  Value progress = b.NewEvent(b.m.FindClass("flash.events::ProgressEvent"), "progress", false);
  if (EventObject* p = As<EventObject>(progress)) p->bytesLoaded = loaded, p->bytesTotal = total;
  by->bytesLoaded = loaded;
  by->bytesTotal = total;
  b.Dispatch(by, As<EventObject>(progress));
}

void As3Display::LoaderBytesArrive(FlashObject* by, const std::string& bytes) {
  const double n = static_cast<double>(bytes.size());
  // First the size, with nothing loaded yet.
  SendProgress(*this, by, 0, n);
  std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  std::vector<std::uint8_t> expanded;
  if (bytes.size() > 8 && (bytes.compare(0, 3, "CWS") == 0 || bytes.compare(0, 3, "ZWS") == 0)) {
    try {
      expanded = swf::ExpandMovie(raw);
      raw = expanded;
    } catch (const swf::SwfError&) {
      // A movie that does not inflate fails as content later; its bytes stay as loaded.
    }
  }
  // The bytes of a file of no known kind are never shown.
  by->data = ByteArrayOf(m, KnownContent(bytes) ? raw : std::span<const std::uint8_t>());
  SendProgress(*this, by, n, n);
}

// Text as a URLLoader hands it to scripts; with System.useCodePage set,
// text that is not UTF-8 is read in the system's code page.
std::string As3Display::LoadedText(std::string raw) const {
  std::string text = ScriptText(std::move(raw));
  return loading.useCodePage ? CodepageText(std::move(text)) : text;
}

void As3Display::FinishLoad(const LoadState::Load& l) {
  FlashObject* by = As<FlashObject>(l.by);
  if (!by) return;
  if (l.event == "cancel") {
    SendSimple(by, "cancel");
    return;
  }
  if (l.event == "sampleData") {
    GenerateSampleData(m, by);
    return;
  }
  if (l.event == "lcError") {
    Value args[] = {m.Str("status"), Value::Bool(false), Value::Bool(false), Value::Null(), m.Str("error")};
    Object* e = m.Construct(m.FindClass("flash.events::StatusEvent"), args);
    Dispatch(by, As<EventObject>(Value::Obj(e)));
    return;
  }
  if (l.event == "ncFailed") {
    auto* nc = As<NetConnectionObject>(l.by);
    if (!nc || !nc->pending) return;
    nc->pending = false;
    SendNetStatus(m, nc, "NetConnection.Connect.Failed", "error");
    return;
  }
  std::string bytes;
  bool ok = l.fromBytes;
  if (ok) {
    bytes = l.bytes;
    // Content made from bytes is known by the URL of the movie that made it.
    if (by->owner.IsObject()) by->url = m.ToString(LoaderInfoLoaderUrl(m, l.by, {}));
  } else {
    const auto file = FileBesideMovie(stage.MovieFolder(), l.url);
    ok = !file.empty() && ReadScriptFile(file, bytes);
    // A Loader's file is known by its whole URL, its query kept.
    if (ok && by->owner.IsObject() && !IsUrl(l.url)) {
      // Under the movie's folder as the movie's own URL names it, links
      // on the way kept, so that the two URLs share their start.
      std::error_code ec;
      const auto base = std::filesystem::weakly_canonical(stage.MovieFolder(), ec);
      const auto rel = ec ? std::filesystem::path() : file.lexically_relative(base);
      const auto whole = std::filesystem::absolute(rel.empty() ? file : stage.MovieFolder() / rel, ec);
      const auto q = l.url.find('?');
      if (!ec) by->url = "file://" + whole.lexically_normal().string() + (q == std::string::npos ? "" : l.url.substr(q));
    }
    if (IsUrl(l.url) && l.url.rfind("file:", 0) != 0) m.Skip("loading from the network (offline)");
    // A Loader, or a URLLoader whose request names the digest to check
    // (as Flex loads its framework), takes a signed library (".swz") as the
    // movie it holds.
    if (ok && (by->owner.IsObject() || l.digest)) {
      const std::span<const std::uint8_t> raw(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      if (const auto movie = swf::SignedLibraryMovie(raw))
        bytes = std::string(reinterpret_cast<const char*>(movie->data()), movie->size());
    }
  }
  FlashObject* loader = As<FlashObject>(by->owner);  // set for a Loader's LoaderInfo
  const bool stream = by->format == "stream";
  if (!ok) {
    if (!loader && by->format != "sound") {
      // A failed load leaves a URLLoader empty, not holding what it loaded before.
      if (by->format == "binary") by->data = Value::Obj(m.Construct(m.FindClass("flash.utils::ByteArray"), {}));
      else if (by->format == "text") by->data = m.Str("");
      // A URLLoader hears the (local) status first; the text names no URL.
      SendHttpStatus(by);
      SendIoError(by, "Error #2032: Stream Error");
      return;
    }
    SendIoError(by, std::string(loader ? "Error #2035: URL Not Found. URL: " : "Error #2032: Stream Error. URL: ") + l.url);
    return;
  }
  const double n = static_cast<double>(bytes.size());
  if (!l.fromBytes) SendSimple(by, "open");
  if (stream) {
    // A URLStream's bytes are readable as they arrive.
    by->data = ByteArrayOf(m, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    if (!by->message.empty()) m.SetProperty(by->data, "endian", m.Str(by->message));
    SendProgress(*this, by, n, n);
    SendHttpStatus(by);
    SendSimple(by, "complete");
    return;
  }
  // Bytes given to loadBytes arrived inside the call.
  if (!loader) SendProgress(*this, by, n, n);
  else if (!l.fromBytes) LoaderBytesArrive(by, bytes);
  if (loader) {
    rootConstructorFailed = false;
    const Value content = ContentFor(by, bytes);
    if (content.IsUndefined()) {
      // Bytes that are no picture and no movie.
      SendIoError(by, "Error #2124: Loaded file is an unknown type." + (l.fromBytes ? std::string() : " URL: " + by->url));
      return;
    }
    by->content = content;
    if (TimelineState* tl = Timeline(loader->handle); tl && As<FlashObject>(content)) {
      m.SafeCall([&] { Attach(m, *tl, As<FlashObject>(content)->handle, 0); }, "adding what a Loader loaded");
    }
    // A loaded movie whose main class failed to construct never tells it is in.
    if (rootConstructorFailed) return;
    // INIT tells that the first frame is built and its scripts have run.
    Flush();
    SendSimple(by, "init");
    if (!l.fromBytes) SendHttpStatus(by);
    SendSimple(by, "complete");
    return;
  }
  if (by->format == "sound") {
    // An MP3 file: an event sound of its own, which play() starts.
    std::vector<std::uint8_t> body = NextScriptSoundBody(bytes);
    if (body.empty()) {
      SendIoError(by, "Error #2032: Stream Error. URL: " + l.url);
      return;
    }
    media.scriptSounds.push_back(std::move(body));
    const std::vector<std::uint8_t>& kept = media.scriptSounds.back();
    by->soundId = kept[0] | (kept[1] << 8);
    by->type.clear();
    by->soundMs = std::max(0.0, DefineSoundLengthMs(kept));
    stage.DefineScriptSound(by->soundId, kept);
    SendSimple(by, "complete");
    StartWaitingChannels(m, by);
    return;
  }
  if (by->format == "binary") {
    Object* ba = m.Construct(m.FindClass("flash.utils::ByteArray"), {});
    if (ba && ba->kind == ObjectKind::kByteArray) static_cast<avm2::ByteArrayObject*>(ba)->bytes.assign(bytes.begin(), bytes.end());
    by->data = Value::Obj(ba);
  } else if (by->format == "variables") {
    Object* vars = m.Construct(m.FindClass("flash.net::URLVariables"), {});
    by->data = Value::Obj(vars);
    const std::string text = LoadedText(std::move(bytes));
    if (!m.SafeCall([&] { DecodeVariables(m, by->data, text); }, "decoding the variables a URLLoader loaded")) return;
  } else {
    by->data = m.Str(LoadedText(std::move(bytes)));
  }
  SendHttpStatus(by);
  SendSimple(by, "complete");
}

void As3Display::FinishLoads() {
  // A file a URLLoader asks for in another load's events is read before the
  // frame ends too, as Flash reads local files many to a frame; a bounded
  // number of rounds, so that a load restarting itself waits.
  constexpr int kChainedRounds = 8;
  for (int round = 0; round < kChainedRounds && !loading.due.empty(); ++round) {
    auto due = std::move(loading.due);
    loading.due.clear();
    for (const LoadState::Load& l : due) {
      m.BeginFrame();
      m.SafeCall([&] { FinishLoad(l); }, "a load's events");
      Flush();
    }
    auto chained = std::stable_partition(loading.queued.begin(), loading.queued.end(), [](const LoadState::Load& l) {
      return !(l.event.empty() && As<UrlLoaderObject>(l.by));
    });
    loading.due.assign(std::make_move_iterator(chained), std::make_move_iterator(loading.queued.end()));
    loading.queued.erase(chained, loading.queued.end());
  }
}


constexpr MemberRow kLoadingRows[] = {
    {"flash.display::LoaderInfo", "url", Member::kGetter, LoaderInfoUrl},
    {"flash.display::LoaderInfo", "applicationDomain", Member::kGetter, LoaderInfoDomain},
    {"flash.display::LoaderInfo", "bytes", Member::kGetter, LoaderInfoFileBytes},
    {"flash.display::LoaderInfo", "loaderURL", Member::kGetter, LoaderInfoLoaderUrl},
    {"flash.display::LoaderInfo", "parameters", Member::kGetter, LoaderInfoParams},
    {"flash.display::LoaderInfo", "bytesLoaded", Member::kGetter, LoaderInfoBytes},
    {"flash.display::LoaderInfo", "bytesTotal", Member::kGetter, LoaderInfoBytesTotal},
    {"flash.display::LoaderInfo", "content", Member::kGetter, LoaderInfoContent},
    {"flash.display::LoaderInfo", "loader", Member::kGetter, LoaderInfoLoader},
    {"flash.display::LoaderInfo", "width", Member::kGetter, LoaderInfoWidth},
    {"flash.display::LoaderInfo", "height", Member::kGetter, LoaderInfoHeight},
    {"flash.display::LoaderInfo", "frameRate", Member::kGetter, LoaderInfoFrameRate},
    {"flash.display::LoaderInfo", "swfVersion", Member::kGetter, LoaderInfoSwfVersion},
    {"flash.display::LoaderInfo", "actionScriptVersion", Member::kGetter, LoaderInfoAsVersion},
    {"flash.display::LoaderInfo", "contentType", Member::kGetter, LoaderInfoContentType},
    // Files beside the movie are never out of reach of it.
    {"flash.display::LoaderInfo", "isURLInaccessible", Member::kGetter, ReturnFalse},
    {"flash.display::LoaderInfo", "childAllowsParent", Member::kGetter, LoaderInfoAllows},
    {"flash.display::LoaderInfo", "parentAllowsChild", Member::kGetter, LoaderInfoAllows},
    {"flash.display::LoaderInfo", "sameDomain", Member::kGetter, LoaderInfoAllows},
    {"flash.display::AVM1Movie", "call", Member::kMethod, Avm1Call},
    {"flash.display::AVM1Movie", "addCallback", Member::kMethod, Avm1AddCallback},
    {"flash.display::Loader", "contentLoaderInfo", Member::kGetter, LoaderInfoGet},
    {"flash.display::Loader", "content", Member::kGetter, LoaderContent},
    {"flash.display::Loader", "load", Member::kMethod, LoaderLoad},
    {"flash.display::Loader", "loadBytes", Member::kMethod, LoaderLoadBytes},
    {"flash.display::Loader", "unload", Member::kMethod, LoaderUnload},
    {"flash.display::Loader", "unloadAndStop", Member::kMethod, LoaderUnload},
    {"flash.display::Loader", "close", Member::kMethod, CancelLoad},
    {"flash.net::URLRequest", "digest", Member::kGetter, UrlRequestDigest},
    {"flash.net::URLRequest", "digest", Member::kSetter, UrlRequestSetDigest},
    {"flash.net::URLRequest", "method", Member::kGetter, UrlRequestMethod},
    {"flash.net::URLRequest", "method", Member::kSetter, UrlRequestSetMethod},
    {"flash.net::URLStream", "load", Member::kMethod, UrlStreamLoad},
    {"flash.net::URLStream", "close", Member::kMethod, UsClose},
    {"flash.net::URLStream", "connected", Member::kGetter, UsConnected},
    {"flash.net::URLStream", "bytesAvailable", Member::kGetter, UsAvailable},
    {"flash.net::URLStream", "endian", Member::kGetter, UsEndian},
    {"flash.net::URLStream", "endian", Member::kSetter, UsSetEndian},
    {"flash.net::URLStream", "readBoolean", Member::kMethod, UsReadBoolean},
    {"flash.net::URLStream", "readByte", Member::kMethod, UsReadByte},
    {"flash.net::URLStream", "readUnsignedByte", Member::kMethod, UsReadUnsignedByte},
    {"flash.net::URLStream", "readShort", Member::kMethod, UsReadShort},
    {"flash.net::URLStream", "readUnsignedShort", Member::kMethod, UsReadUnsignedShort},
    {"flash.net::URLStream", "readInt", Member::kMethod, UsReadInt},
    {"flash.net::URLStream", "readUnsignedInt", Member::kMethod, UsReadUnsignedInt},
    {"flash.net::URLStream", "readFloat", Member::kMethod, UsReadFloat},
    {"flash.net::URLStream", "readDouble", Member::kMethod, UsReadDouble},
    {"flash.net::URLStream", "readUTF", Member::kMethod, UsReadUtf},
    {"flash.net::URLStream", "readUTFBytes", Member::kMethod, UsReadUtfBytes},
    {"flash.net::URLStream", "readMultiByte", Member::kMethod, UsReadMultiByte},
    {"flash.net::URLStream", "readBytes", Member::kMethod, UsReadBytes},
    {"flash.net::URLStream", "readObject", Member::kMethod, UsReadObject},
    {"flash.net::LocalConnection", "send", Member::kMethod, LcSend},
    {"flash.net::LocalConnection", "connect", Member::kMethod, DoIgnore},
    {"flash.net::LocalConnection", "close", Member::kMethod, DoIgnore},
    {"flash.net::LocalConnection", "allowDomain", Member::kMethod, DoIgnore},
    {"flash.net::LocalConnection", "allowInsecureDomain", Member::kMethod, DoIgnore},
    {"flash.net::LocalConnection", "domain", Member::kGetter, LcDomain},
    {"flash.net::LocalConnection", "isSupported", Member::kStaticGetter, ReturnTrue},
    {"flash.net::FileReference", "browse", Member::kMethod, FileBrowse},
    {"flash.net::FileReference", "cancel", Member::kMethod, DoIgnore},
    {"flash.net::FileReference", "creationDate", Member::kGetter, FileNotChosen},
    {"flash.net::FileReference", "modificationDate", Member::kGetter, FileNotChosen},
    {"flash.net::FileReference", "name", Member::kGetter, FileNotChosen},
    {"flash.net::FileReference", "size", Member::kGetter, FileNotChosen},
    {"flash.net::FileReference", "type", Member::kGetter, FileNotChosen},
    {"flash.net::FileReference", "creator", Member::kGetter, ReturnNull},
    {"flash.net::FileReference", "data", Member::kGetter, ReturnNull},
    {"flash.net::FileReference", "load", Member::kMethod, FileNotChosen},
    {"flash.net::FileReference", "upload", Member::kMethod, FileNotChosen},
    {"flash.net::FileReferenceList", "browse", Member::kMethod, FileBrowse},
    {"flash.net::FileReferenceList", "fileList", Member::kGetter, FileListFiles},
    {"flash.net::URLVariables", "decode", Member::kMethod, UrlVarsDecode},
    {"flash.net::URLVariables", "toString", Member::kMethod, UrlVarsToString},
    {"flash.net::URLRequestMethod", "GET", Member::kConst, nullptr, "GET"},
    {"flash.net::URLRequestMethod", "POST", Member::kConst, nullptr, "POST"},
    {"flash.net::URLLoaderDataFormat", "TEXT", Member::kConst, nullptr, "text"},
    {"flash.net::URLLoaderDataFormat", "BINARY", Member::kConst, nullptr, "binary"},
    {"flash.net::URLLoaderDataFormat", "VARIABLES", Member::kConst, nullptr, "variables"},
    {"flash.net::URLLoader", "load", Member::kMethod, UrlLoaderLoad},
    {"flash.net::URLLoader", "close", Member::kMethod, CancelLoad},
    {"flash.net::URLLoader", "data", Member::kGetter, UrlLoaderData},
    {"flash.net::URLLoader", "data", Member::kSetter, UrlLoaderSetData},
    {"flash.net::URLLoader", "dataFormat", Member::kGetter, UrlLoaderFormat},
    {"flash.net::URLLoader", "dataFormat", Member::kSetter, UrlLoaderSetFormat},
    {"flash.net::URLLoader", "bytesLoaded", Member::kGetter, BytesLoaded},
    {"flash.net::URLLoader", "bytesTotal", Member::kGetter, BytesTotal},
};

constexpr ClassRow kLoadingClasses[] = {
    {"flash.display", "LoaderInfo", "flash.events::EventDispatcher", Alloc<LoaderInfoObject>},
    {"flash.display", "Loader", "flash.display::DisplayObjectContainer", nullptr, LoaderCtor},
    {"flash.display", "AVM1Movie", "flash.display::DisplayObject", nullptr, nullptr, false, &As3Display::avm1MovieClass},
    // File dialogs never open in a capture: a FileFilter is a plain record.
    {"flash.net", "FileFilter", "", nullptr, FileFilterCtor, true},
    {"flash.net", "URLRequest", "", Alloc<FlashObject>, UrlRequestCtor, true},
    {"flash.net", "URLVariables", "", nullptr, UrlVarsCtor, true},
    {"flash.net", "URLRequestMethod"},
    {"flash.net", "URLLoaderDataFormat"},
    {"flash.net", "URLLoader", "flash.events::EventDispatcher", Alloc<UrlLoaderObject>, UrlLoaderCtor},
    {"flash.net", "URLStream", "flash.events::EventDispatcher", Alloc<UrlLoaderObject>},
    {"flash.net", "FileReference", "flash.events::EventDispatcher", Alloc<FlashObject>},
    {"flash.net", "LocalConnection", "flash.events::EventDispatcher", Alloc<FlashObject>, LcCtor, true},
    {"flash.net", "FileReferenceList", "flash.events::EventDispatcher", Alloc<FileListObject>},
};

void InstallLoading(As3Display& b) { Register(b, kLoadingClasses, kLoadingRows); }
}  // namespace quarvel::player::as3
