// Sound, SoundChannel, SoundMixer and SoundTransform; NetConnection,
// NetStream and Video over the player's FLV playback.
#include <cmath>
#include <cstring>

#include "player/as3/display_binding_p.h"
#include "player/sound/decoders.h"

namespace quarvel::player::as3 {

// ---- Sound: embedded sounds by class, into the player's sound output.
std::string RequestUrl(Machine& m, const Value& request);
void QueueLoad(Machine& m, FlashObject* by, std::string url, std::string bytes, bool fromBytes);
NATIVE(SoundCtor) {
  SoundObject* f = As<SoundObject>(self);
  As3Display& b = B(m);
  if (!f) return self;
  for (Class* c = f->cls; c; c = c->super) {
    for (const std::string& n : {c->QualifiedName(), c->name, c->package + "." + c->name}) {
      if (auto it = b.classSymbols.find(n); it != b.classSymbols.end()) {
        f->type = n;
        f->soundId = it->second;
        f->soundMs = std::max(0.0, b.lib.SoundLengthMs(it->second));
        // An embedded sound is all loaded: its bytes are the sound data
        // (for MP3, after the seek samples).
        for (const auto& t : b.lib.soundDefinitions) {
          const auto body = b.lib.Body(t);
          if (body.size() < 7 || (body[0] | (body[1] << 8)) != it->second) continue;
          const std::size_t header = ((body[2] >> 4) & 15) == 2 ? 9 : 7;
          f->bytesLoaded = f->bytesTotal = static_cast<double>(body.size() > header ? body.size() - header : 0);
          break;
        }
        return self;
      }
    }
  }
  // new Sound(request): loads it at once.
  if (!a.empty() && !a[0].IsNullish()) {
    f->format = "sound";
    QueueLoad(m, f, RequestUrl(m, a[0]), {}, false);
  }
  return self;
}
// SOUNDINFO for a start at `fromMs`, `loops` times, at a volume (0..1) and pan (-1..1).
std::vector<std::uint8_t> SoundStartInfo(double fromMs, int loops, double volume, double pan) {
  std::vector<std::uint8_t> info{0};
  auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) info.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const auto inPoint = static_cast<std::uint32_t>(std::max(0.0, fromMs) * 44.1);
  volume = std::clamp(std::isfinite(volume) ? volume : 1.0, 0.0, 1.0);
  pan = std::clamp(std::isfinite(pan) ? pan : 0.0, -1.0, 1.0);
  const auto left = static_cast<std::uint32_t>(volume * std::min(1.0, 1 - pan) * 32768);
  const auto right = static_cast<std::uint32_t>(volume * std::min(1.0, 1 + pan) * 32768);
  const bool envelope = left != 32768 || right != 32768;
  if (inPoint) info[0] |= 1;
  if (loops > 1) info[0] |= 4;
  if (envelope) info[0] |= 8;
  if (inPoint) put(inPoint, 4);
  if (loops > 1) put(static_cast<std::uint32_t>(std::min(loops, 65535)), 2);
  if (envelope) {
    info.push_back(1);
    put(0, 4);
    put(left, 2);
    put(right, 2);
  }
  return info;
}
SoundMix ReadMix(Machine& m, const Value& t);
SoundMix KeptMix(Machine& m, const Value& t);
// play(startTime = 0, loops = 0, soundTransform = null): a SoundChannel.
// Starts `channel` playing `f` from `from` ms, `loops` times, at the
// transform `transform` (null: the sound's own).
void StartChannel(Machine& m, SoundObject* f, ChannelObject* channel, double from, int loops, const Value& transform) {
  As3Display& b = B(m);
  double volume = 1, pan = 0;
  if (Object* t = transform.AsObject()) {
    volume = m.ToNumber(m.GetProperty(Value::Obj(t), "volume"));
    pan = m.ToNumber(m.GetProperty(Value::Obj(t), "pan"));
  }
  from = std::clamp(from, 0.0, f->soundMs);
  const auto info = SoundStartInfo(from, loops, volume, pan);
  b.stage.StartSoundById(f->soundId, f->type, info);
  channel->soundId = f->soundId;
  channel->type = f->type;
  channel->fromMs = from;
  channel->startedMs = m.clockMs();
  channel->endsMs = channel->startedMs + (f->soundMs - from) * loops;
  channel->soundMs = f->soundMs;
  if (!transform.IsNullish()) channel->mix = KeptMix(m, transform);
  b.media.channels.push_back(channel);
}
NATIVE(SoundPlay) {
  SoundObject* f = As<SoundObject>(self);
  const Value made = Value::Obj(m.Instantiate(m.FindClass("flash.media::SoundChannel")));
  ChannelObject* channel = As<ChannelObject>(made);
  const double loopsD = avm2::ArgNum(m, a, 1, 0);
  const int loops = std::isfinite(loopsD) && loopsD > 1 ? static_cast<int>(std::min(loopsD, 65535.0)) : 1;
  if (f && channel && !f->soundId && f->format == "sound") {
    // Played while its file loads: the channel starts once the sound is in.
    channel->data = Value::Obj(m.NewArray({Value::Number(avm2::ArgNum(m, a, 0, 0)), Value::Int(loops), m.ArgOr(a, 2)}));
    if (!avm2::AsArray(f->content)) f->content = Value::Obj(m.NewArray());
    if (avm2::ArrayObject* waiting = avm2::AsArray(f->content); waiting && waiting->elems.size() < 256)
      waiting->elems.push_back(made);
    return made;
  }
  Value asked = m.Str("sampleData");
  if (f && channel && !f->soundId && f->format == "text" &&
      m.ToBoolean(m.CallProperty(self, "hasEventListener", std::span<Value>(&asked, 1)))) {
    // A sound made by its sampleData listener: asked for its samples once
    // the frame's scripts are done, from its start and once only (no loops).
    channel->data = Value::Obj(m.NewArray({Value::Number(0), Value::Int(1), m.ArgOr(a, 2)}));
    if (!avm2::AsArray(f->content)) {
      f->content = Value::Obj(m.NewArray());
      B(m).loading.queued.push_back({Value::Obj(f), {}, {}, false, "sampleData"});
    }
    if (avm2::ArrayObject* waiting = avm2::AsArray(f->content); waiting && waiting->elems.size() < 256)
      waiting->elems.push_back(made);
    return made;
  }
  if (!f || !f->soundId || !channel) return made;
  // A start past the sound's end plays nothing.
  if (avm2::ArgNum(m, a, 0, 0) > f->soundMs) return Value::Null();
  StartChannel(m, f, channel, avm2::ArgNum(m, a, 0, 0), loops, m.ArgOr(a, 2));
  return Value::Obj(channel);
}
// The channels played before the sound's file came start now.
void StartWaitingChannels(Machine& m, FlashObject* sound) {
  SoundObject* f = As<SoundObject>(Value::Obj(sound));
  avm2::ArrayObject* waiting = f ? avm2::AsArray(f->content) : nullptr;
  if (!waiting) return;
  const std::vector<Value> channels = waiting->elems;
  f->content = Value();
  for (const Value& c : channels) {
    ChannelObject* channel = As<ChannelObject>(c);
    avm2::ArrayObject* args = channel ? avm2::AsArray(channel->data) : nullptr;
    if (!args || args->elems.size() < 3) continue;
    const Value from = args->elems[0], loops = args->elems[1], transform = args->elems[2];
    channel->data = Value();
    if (f->soundId && m.ToNumber(from) <= f->soundMs) StartChannel(m, f, channel, m.ToNumber(from), m.ToInt(loops), transform);
  }
}
// load(request): an MP3 file beside the movie, read on the next frame.
// A Sound takes one load from a URL, and none after its data came from bytes.
NATIVE(SoundLoad) {
  SoundObject* f = As<SoundObject>(self);
  if (!f) return Value();
  if (f->format != "text")
    m.ThrowError("Error", "Functions called in incorrect sequence, or earlier call was unsuccessful.", 2037);
  f->format = "sound";
  QueueLoad(m, f, RequestUrl(m, m.ArgOr(a, 0)), {}, false);
  return Value();
}
// The sound's body becomes a script sound of the player, as a loaded MP3 does.
void KeepScriptSound(As3Display& b, SoundObject* f, std::vector<std::uint8_t> body) {
  if (body.empty()) return;
  b.media.scriptSounds.push_back(std::move(body));
  const std::vector<std::uint8_t>& kept = b.media.scriptSounds.back();
  f->soundId = kept[0] | (kept[1] << 8);
  f->type.clear();
  f->soundMs = std::max(0.0, DefineSoundLengthMs(kept));
  f->bytesLoaded = f->bytesTotal = static_cast<double>(kept.size());
  if (auto it = b.media.decoded.find(f->soundId | 0x10000); it != b.media.decoded.end()) {
    b.media.decodedSamples -= it->second.size();
    b.media.decoded.erase(it);
  }
  b.stage.DefineScriptSound(f->soundId, kept);
}
// `count` bytes of the ByteArray argument from its position on, which moves
// past them; asking for more than it holds is Flash's ArgumentError #2084.
std::string TakeBytes(Machine& m, const Value& from, double count) {
  Object* o = from.AsObject();
  if (!o || o->kind != ObjectKind::kByteArray) m.ThrowError("TypeError", "Parameter bytes must be non-null.", 2007);
  auto* ba = static_cast<avm2::ByteArrayObject*>(o);
  const std::size_t at = std::min<std::size_t>(ba->position, ba->bytes.size());
  if (!(count >= 0) || count > static_cast<double>(ba->bytes.size() - at))
    m.ThrowError("ArgumentError", "The AMF encoding of the arguments cannot exceed 40K.", 2084);
  const auto n = static_cast<std::size_t>(count);
  std::string out(ba->bytes.begin() + static_cast<std::ptrdiff_t>(at), ba->bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
  ba->position = static_cast<std::uint32_t>(at + n);
  return out;
}
// loadCompressedDataFromByteArray(bytes, bytesLength): MP3 data, at once.
NATIVE(SoundLoadCompressed) {
  SoundObject* f = As<SoundObject>(self);
  const std::string mp3 = TakeBytes(m, m.ArgOr(a, 0), avm2::ArgNum(m, a, 1, 0));
  if (!f) return Value();
  f->format = "bytes";
  As3Display& b = B(m);
  KeepScriptSound(b, f, b.NextScriptSoundBody(mp3));
  return Value();
}
// An uncompressed 16-bit DefineSound body of interleaved samples under `id`.
std::vector<std::uint8_t> PcmSoundBody(int id, int rateCode, bool stereo, const std::vector<std::int16_t>& samples) {
  const auto n = static_cast<std::uint32_t>(samples.size() / (stereo ? 2 : 1));
  std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(id & 0xFF), static_cast<std::uint8_t>(id >> 8),
                                    static_cast<std::uint8_t>((3 << 4) | (rateCode << 2) | 2 | (stereo ? 1 : 0)),
                                    static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                    static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
  body.reserve(body.size() + samples.size() * 2);
  for (const std::int16_t v : samples) {
    body.push_back(static_cast<std::uint8_t>(v & 0xFF));
    body.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  return body;
}
std::int16_t FloatSample(float x) {
  return static_cast<std::int16_t>(std::lround(std::clamp(std::isnan(x) ? 0.0f : x, -1.0f, 1.0f) * 32767.0f));
}
// loadPCMFromByteArray(bytes, samples, format = "float", stereo = true,
// sampleRate = 44100): samples as 32-bit floats or 16-bit integers, kept as
// an uncompressed 16-bit sound.
NATIVE(SoundLoadPcm) {
  SoundObject* f = As<SoundObject>(self);
  const double samples = avm2::ArgNum(m, a, 1, 0);
  const std::string format = avm2::ArgStr(m, a, 2, "float");
  const bool stereo = a.size() > 3 ? m.ToBoolean(a[3]) : true;
  const double rate = avm2::ArgNum(m, a, 4, 44100);
  const int sampleBytes = (format == "float" ? 4 : 2) * (stereo ? 2 : 1);
  Object* o = m.ArgOr(a, 0).AsObject();
  const double held = o && o->kind == ObjectKind::kByteArray
                          ? static_cast<double>(static_cast<avm2::ByteArrayObject*>(o)->bytes.size() -
                                                std::min<std::size_t>(static_cast<avm2::ByteArrayObject*>(o)->position,
                                                                      static_cast<avm2::ByteArrayObject*>(o)->bytes.size()))
                          : 0;
  // Only whole samples that are there are taken.
  const double count = std::clamp(std::floor(samples), 0.0, std::floor(held / sampleBytes));
  const std::string pcm = TakeBytes(m, m.ArgOr(a, 0), count * sampleBytes);
  if (!f) return Value();
  f->format = "bytes";
  As3Display& b = B(m);
  const int id = b.FreeScriptSoundId();
  const int rateCode = rate <= 5512 ? 0 : rate <= 11025 ? 1 : rate <= 22050 ? 2 : 3;
  if (id <= 0 || count <= 0) return Value();
  std::vector<std::int16_t> pcm16;
  pcm16.reserve(pcm.size() / 2);
  const bool asFloat = format == "float";
  const bool bigEndian = o && !static_cast<avm2::ByteArrayObject*>(o)->littleEndian;
  for (std::size_t at = 0; at + (asFloat ? 4 : 2) <= pcm.size(); at += asFloat ? 4 : 2) {
    std::uint8_t raw[4];
    const std::size_t w = asFloat ? 4 : 2;
    for (std::size_t i = 0; i < w; ++i) raw[i] = static_cast<std::uint8_t>(pcm[at + (bigEndian ? w - 1 - i : i)]);
    if (asFloat) {
      float x;
      std::memcpy(&x, raw, 4);
      pcm16.push_back(FloatSample(x));
    } else {
      pcm16.push_back(static_cast<std::int16_t>(raw[0] | (raw[1] << 8)));
    }
  }
  --b.media.nextSoundId;
  KeepScriptSound(b, f, PcmSoundBody(id, rateCode, stereo, pcm16));
  return Value();
}
// A sound whose sampleData listener makes it: events ask for its samples
// (stereo 32-bit floats at 44.1 kHz in event.data) from `position` on until
// a listener gives fewer than 2048; the channels played start with them.
// The sound keeps none of them: each play asks anew.
void GenerateSampleData(Machine& m, FlashObject* sound) {
  SoundObject* f = As<SoundObject>(Value::Obj(sound));
  As3Display& b = B(m);
  if (!f || !avm2::AsArray(f->content)) return;
  // A listener that never stops is heard for its first half minute.
  constexpr std::size_t kMostFrames = 44100 * 30;
  std::vector<std::int16_t> samples;
  Class* eventClass = m.FindClass("flash.events::SampleDataEvent");
  Class* bytesClass = m.FindClass("flash.utils::ByteArray");
  while (samples.size() / 2 < kMostFrames) {
    Value args[] = {m.Str("sampleData"), Value::Bool(false), Value::Bool(false),
                    Value::Number(static_cast<double>(samples.size() / 2)), Value::Obj(m.Construct(bytesClass, {}))};
    EventObject* e = As<EventObject>(Value::Obj(m.Construct(eventClass, args)));
    if (!e) return;
    b.Dispatch(sound, e);
    Object* o = e->data.AsObject();
    if (!o || o->kind != ObjectKind::kByteArray) break;
    const auto* ba = static_cast<avm2::ByteArrayObject*>(o);
    const std::size_t frames = ba->bytes.size() / 8;
    for (std::size_t i = 0; i < frames * 2; ++i) {
      std::uint8_t raw[4];
      for (std::size_t k = 0; k < 4; ++k) raw[k] = ba->bytes[i * 4 + (ba->littleEndian ? k : 3 - k)];
      float x;
      std::memcpy(&x, raw, 4);
      samples.push_back(FloatSample(x));
    }
    if (frames < 2048) break;
  }
  if (samples.empty()) {
    f->content = Value();
    return;
  }
  if (const auto made = b.media.madeSounds.find(samples); made != b.media.madeSounds.end()) {
    f->soundId = made->second;
    f->type.clear();
    f->soundMs = static_cast<double>(samples.size() / 2) * 1000.0 / 44100.0;
  } else {
    const int id = b.FreeScriptSoundId();
    if (id <= 0) {
      f->content = Value();
      return;
    }
    --b.media.nextSoundId;
    KeepScriptSound(b, f, PcmSoundBody(id, 3, true, samples));
    b.media.madeSounds.emplace(std::move(samples), id);
  }
  StartWaitingChannels(m, sound);
  // The sound itself stays empty, ready to be asked again.
  f->soundId = 0;
  f->soundMs = f->bytesLoaded = f->bytesTotal = 0;
}
// ---- the samples of sounds, for Sound.extract and SoundMixer.computeSpectrum

// The sound `id` (a script sound's when `script`, else the library's)
// decoded to interleaved 44.1 kHz stereo; empty when it cannot be.
const std::vector<std::int16_t>& DecodedSound(Machine& m, int id, bool script) {
  MediaState& media = B(m).media;
  const int key = id | (script ? 0x10000 : 0);
  if (auto it = media.decoded.find(key); it != media.decoded.end()) return it->second;
  std::span<const std::uint8_t> body;
  auto idOf = [](std::span<const std::uint8_t> t) { return t.size() >= 2 ? t[0] | (t[1] << 8) : -1; };
  if (script) {
    for (auto it = media.scriptSounds.rbegin(); it != media.scriptSounds.rend() && body.empty(); ++it)
      if (idOf(*it) == id) body = *it;
  } else {
    const MovieLibrary& lib = B(m).lib;
    for (const auto& t : lib.soundDefinitions)
      if (idOf(lib.Body(t)) == id) body = lib.Body(t);
  }
  std::vector<std::int16_t> pcm;
  if (!body.empty()) {
    try {
      pcm = sound::DecodeDefineSound(sound::ParseDefineSound(body));
    } catch (const sound::SoundError& e) {
      m.Skip(std::string("decoding sound ") + std::to_string(id) + " (" + e.what() + ")");
    }
  }
  // Decoded sounds are kept up to about ten minutes of them in all.
  constexpr std::size_t kMostKept = 44100 * 2 * 600;
  if (media.decodedSamples + pcm.size() > kMostKept) {
    media.decoded.clear();
    media.decodedSamples = 0;
  }
  media.decodedSamples += pcm.size();
  return media.decoded.emplace(key, std::move(pcm)).first->second;
}
float SampleAt(const std::vector<std::int16_t>& pcm, std::size_t i) { return static_cast<float>(pcm[i]) / 32768.0f; }

// extract(target, length, startPosition = -1): up to `length` stereo sample
// frames of the decoded sound as 32-bit floats at the array's position; -1
// goes on from where the last extract ended. Gives how many frames it wrote.
NATIVE(SoundExtract) {
  SoundObject* f = As<SoundObject>(self);
  Object* o = m.ArgOr(a, 0).AsObject();
  if (!o || o->kind != ObjectKind::kByteArray) m.ThrowError("TypeError", "Parameter target must be non-null.", 2007);
  auto* ba = static_cast<avm2::ByteArrayObject*>(o);
  const double length = avm2::ArgNum(m, a, 1, 0), start = avm2::ArgNum(m, a, 2, -1);
  if (!f || !f->soundId || !(length > 0)) return Value::Int(0);
  const std::vector<std::int16_t>& pcm = DecodedSound(m, f->soundId, f->type.empty());
  const double frames = static_cast<double>(pcm.size() / 2);
  const double from = start >= 0 ? std::floor(start) : f->extractAt;
  const double n = std::clamp(std::floor(std::min(length, frames - from)), 0.0, 1e9);
  f->extractAt = from + n;
  if (n <= 0) return Value::Int(0);
  const auto count = static_cast<std::size_t>(n), first = static_cast<std::size_t>(from);
  m.Charge(count * 8);
  const std::size_t at = std::min<std::size_t>(ba->position, ba->bytes.size());
  if (ba->bytes.size() < at + count * 8) ba->bytes.resize(at + count * 8);
  std::uint8_t* out = ba->bytes.data() + at;
  for (std::size_t i = 0; i < count * 2; ++i, out += 4) {
    const float x = SampleAt(pcm, first * 2 + i);
    std::uint32_t bits;
    std::memcpy(&bits, &x, 4);
    for (int k = 0; k < 4; ++k) out[ba->littleEndian ? k : 3 - k] = static_cast<std::uint8_t>(bits >> (8 * k));
  }
  ba->position = static_cast<std::uint32_t>(at + count * 8);
  return Value::Number(n);
}

NATIVE(SoundUrl) {
  SoundObject* f = As<SoundObject>(self);
  return f && !f->url.empty() ? m.Str(f->url) : Value::Null();
}
NATIVE(SoundLength) {
  SoundObject* f = As<SoundObject>(self);
  return Value::Number(f ? f->soundMs : 0);
}
NATIVE(ChannelStop) {
  ChannelObject* f = As<ChannelObject>(self);
  As3Display& b = B(m);
  if (f && !f->soundId) f->data = Value();  // one still waiting for its sound never starts
  if (!f || !f->soundId) return Value();
  if (std::find(b.media.channels.begin(), b.media.channels.end(), f) != b.media.channels.end()) {
    static const std::uint8_t kStop[1] = {0x20};  // SyncStop
    b.stage.StartSoundById(f->soundId, f->type, kStop);
    std::erase(b.media.channels, f);
  }
  f->endsMs = std::min(f->endsMs, m.clockMs());
  return Value();
}
NATIVE(ChannelPosition) {
  ChannelObject* f = As<ChannelObject>(self);
  if (!f || !f->soundId || f->soundMs <= 0) return Value::Number(0);
  const double now = std::min(m.clockMs(), f->endsMs);
  return Value::Number(std::fmod(f->fromMs + (now - f->startedMs), f->soundMs));
}
// SoundTransform keeps the four gains; pan is made of them: setting it puts
// sqrt(1 - pan) on the left and sqrt(1 + pan) on the right, and it reads
// 1 - leftToLeft squared while no input crosses to the other side (else 0).
void SetPan(Machine& m, const Value& self, double pan) {
  m.SetProperty(self, "leftToLeft", Value::Number(std::sqrt(1 - pan)));
  m.SetProperty(self, "leftToRight", Value::Number(0));
  m.SetProperty(self, "rightToLeft", Value::Number(0));
  m.SetProperty(self, "rightToRight", Value::Number(std::sqrt(1 + pan)));
}
NATIVE(SoundTransformCtor) {
  m.SetProperty(self, "volume", Value::Number(avm2::ArgNum(m, a, 0, 1)));
  SetPan(m, self, avm2::ArgNum(m, a, 1, 0));
  return self;
}
NATIVE(SoundTransformPan) {
  auto gain = [&](const char* n) { return m.ToNumber(m.GetProperty(self, n)); };
  if (gain("leftToRight") != 0 || gain("rightToLeft") != 0) return Value::Number(0);
  const double ll = gain("leftToLeft");
  return Value::Number(1 - ll * ll);
}
NATIVE(SoundTransformSetPan) {
  SetPan(m, self, avm2::ArgNum(m, a, 0, 0));
  return Value();
}
// What a channel or the mixer keeps: whole hundredths, cut toward zero (the
// tiny nudge keeps 0.29 from reading 0.28 through binary rounding).
SoundMix KeptMix(Machine& m, const Value& t) {
  SoundMix x = ReadMix(m, t);
  for (double* v : {&x.volume, &x.leftToLeft, &x.leftToRight, &x.rightToLeft, &x.rightToRight})
    if (std::isfinite(*v)) *v = std::trunc(*v * 100 + (*v < 0 ? -1e-9 : 1e-9)) / 100;
  return x;
}
SoundMix ReadMix(Machine& m, const Value& t) {
  SoundMix x;
  auto num = [&](const char* n, double& to) { to = m.ToNumber(m.GetProperty(t, n)); };
  num("volume", x.volume), num("leftToLeft", x.leftToLeft), num("leftToRight", x.leftToRight);
  num("rightToLeft", x.rightToLeft), num("rightToRight", x.rightToRight);
  return x;
}
// A new SoundTransform holding the numbers (Flash hands out copies).
Value MixObject(Machine& m, const SoundMix& x) {
  const Value t = Value::Obj(m.Construct(m.FindClass("flash.media::SoundTransform"), {}));
  m.SetProperty(t, "volume", Value::Number(x.volume));
  m.SetProperty(t, "leftToLeft", Value::Number(x.leftToLeft));
  m.SetProperty(t, "leftToRight", Value::Number(x.leftToRight));
  m.SetProperty(t, "rightToLeft", Value::Number(x.rightToLeft));
  m.SetProperty(t, "rightToRight", Value::Number(x.rightToRight));
  return t;
}
// A null transform is Flash's error 2007.
SoundMix MixArg(Machine& m, std::span<Value> a) {
  const Value t = m.ArgOr(a, 0);
  if (t.IsNullish()) m.ThrowError("TypeError", "Parameter soundTransform must be non-null.", 2007);
  return KeptMix(m, t);
}
NATIVE(ChannelTransform) {
  ChannelObject* f = As<ChannelObject>(self);
  return MixObject(m, f ? f->mix : SoundMix{});
}
NATIVE(ChannelSetTransform) {
  const SoundMix x = MixArg(m, a);
  if (ChannelObject* f = As<ChannelObject>(self)) f->mix = x;
  return Value();
}
NATIVE(ObjectSoundTransform) {
  FlashObject* f = As<FlashObject>(self);
  return MixObject(m, f ? f->sound : SoundMix{});
}
NATIVE(ObjectSetSoundTransform) {
  const SoundMix x = MixArg(m, a);
  if (FlashObject* f = As<FlashObject>(self)) f->sound = x;
  return Value();
}
NATIVE(MixerTransform) { return MixObject(m, B(m).media.mixer); }
NATIVE(MixerSetTransform) {
  B(m).media.mixer = MixArg(m, a);
  return Value();
}
NATIVE(MixerBufferTime) { return Value::Int(static_cast<int>(B(m).media.bufferTime)); }
NATIVE(MixerSetBufferTime) {
  B(m).media.bufferTime = m.ToInt(m.ArgOr(a, 0));
  return Value();
}
// In-place radix-2 FFT of a power-of-two count of complex numbers.
void Fft(std::vector<double>& re, std::vector<double>& im) {
  const std::size_t n = re.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double step = -2 * M_PI / static_cast<double>(len);
    for (std::size_t i = 0; i < n; i += len) {
      for (std::size_t k = 0; k < len / 2; ++k) {
        const double c = std::cos(step * static_cast<double>(k)), s = std::sin(step * static_cast<double>(k));
        const double xr = re[i + k + len / 2] * c - im[i + k + len / 2] * s;
        const double xi = re[i + k + len / 2] * s + im[i + k + len / 2] * c;
        re[i + k + len / 2] = re[i + k] - xr, im[i + k + len / 2] = im[i + k] - xi;
        re[i + k] += xr, im[i + k] += xi;
      }
    }
  }
}
// computeSpectrum(bytes, FFTMode = false, stretchFactor = 0): what the
// playing channels sound now, mixed: 256 floats of the left side, then 256
// of the right, in -1..1. Samples are taken every 2^stretchFactor; in FFT
// mode 512 of them per side become the magnitudes of 256 frequencies, low
// to high, a full-scale sine reading 1.
NATIVE(SoundMixerComputeSpectrum) {
  Object* o = m.ArgOr(a, 0).AsObject();
  if (!o || o->kind != ObjectKind::kByteArray) m.ThrowError("TypeError", "Parameter outputArray must be non-null.", 2007);
  auto* ba = static_cast<avm2::ByteArrayObject*>(o);
  const bool fft = a.size() > 1 && m.ToBoolean(a[1]);
  const int stretch = std::clamp(a.size() > 2 ? m.ToInt(a[2]) : 0, 0, 8);
  const std::size_t count = fft ? 512 : 256, step = std::size_t{1} << stretch;
  std::vector<double> side[2] = {std::vector<double>(count), std::vector<double>(count)};
  const double now = m.clockMs();
  MediaState& media = B(m).media;
  for (FlashObject* c : std::vector<FlashObject*>(media.channels)) {
    if (!c->soundId || c->endsMs <= now || c->soundMs <= 0) continue;
    const std::vector<std::int16_t>& pcm = DecodedSound(m, c->soundId, c->type.empty());
    const std::size_t frames = pcm.size() / 2;
    if (!frames) continue;
    // Frames from the sound's start: where it is now, and where its last loop ends.
    const double played = std::floor((c->fromMs + now - c->startedMs) * 44.1);
    const double end = std::floor((c->fromMs + c->endsMs - c->startedMs) * 44.1);
    const SoundMix& x = c->mix;
    for (std::size_t i = 0; i < count; ++i) {
      const double at = played + static_cast<double>(i * step);
      if (at >= end || at < 0) break;
      const std::size_t k = static_cast<std::size_t>(std::fmod(at, static_cast<double>(frames)));
      const double l = SampleAt(pcm, 2 * k), r = SampleAt(pcm, 2 * k + 1);
      side[0][i] += (l * x.leftToLeft + r * x.rightToLeft) * x.volume;
      side[1][i] += (l * x.leftToRight + r * x.rightToRight) * x.volume;
    }
  }
  const SoundMix& g = media.mixer;
  for (std::size_t i = 0; i < count; ++i) {
    const double l = side[0][i], r = side[1][i];
    side[0][i] = std::clamp((l * g.leftToLeft + r * g.rightToLeft) * g.volume, -1.0, 1.0);
    side[1][i] = std::clamp((l * g.leftToRight + r * g.rightToRight) * g.volume, -1.0, 1.0);
  }
  ba->bytes.assign(512 * 4, 0);
  ba->position = 0;
  for (int s = 0; s < 2; ++s) {
    std::vector<double> values = side[s];
    if (fft) {
      std::vector<double> im(count);
      Fft(values, im);
      for (std::size_t k = 0; k < 256; ++k)
        values[k] = std::min(1.0, std::hypot(values[k], im[k]) * 2 / static_cast<double>(count));
    }
    for (std::size_t i = 0; i < 256; ++i) {
      const float v = static_cast<float>(values[i]);
      std::uint32_t bits;
      std::memcpy(&bits, &v, 4);
      for (int k = 0; k < 4; ++k)
        ba->bytes[(s * 256 + i) * 4 + (ba->littleEndian ? k : 3 - k)] = static_cast<std::uint8_t>(bits >> (8 * k));
    }
  }
  return Value();
}
NATIVE(SoundMixerStopAll) {
  B(m).stage.StopAllSounds();
  B(m).media.channels.clear();
  return Value();
}
// ---- video: NetConnection, NetStream and Video on the player's FLV playback

Value AmfToValue(Machine& m, const video::AmfValue& a, int depth) {
  using T = video::AmfValue::Type;
  if (depth > video::kMaxAmfDepth) return Value();
  switch (a.type) {
    case T::kNumber: return Value::Number(a.number);
    // A date in the metadata is a Date, its time cut to whole milliseconds.
    case T::kDate: {
      Value t = Value::Number(a.number);
      Class* date = m.FindClass("Date");
      return date ? Value::Obj(m.Construct(date, std::span<Value>(&t, 1))) : t;
    }
    case T::kBoolean: return Value::Bool(a.boolean);
    case T::kString:
    case T::kXml: return m.Str(a.string);
    case T::kNull: return Value::Null();
    case T::kObject:
    case T::kEcmaArray:
    case T::kTypedObject: {
      Object* o = m.NewObject();
      for (const auto& p : a.properties) m.SetProperty(Value::Obj(o), p.name, AmfToValue(m, p.value, depth + 1));
      return Value::Obj(o);
    }
    case T::kStrictArray: {
      std::vector<Value> elems;
      for (const auto& e : a.elements) elems.push_back(AmfToValue(m, e, depth + 1));
      return Value::Obj(m.NewArray(std::move(elems)));
    }
    default: return Value();
  }
}
void SendNetStatus(Machine& m, FlashObject* to, const std::string& code, const std::string& level) {
  Object* info = m.NewObject();
  m.SetProperty(Value::Obj(info), "code", m.Str(code));
  m.SetProperty(Value::Obj(info), "level", m.Str(level));
  Value e = B(m).NewEvent(m.FindClass("flash.events::NetStatusEvent"), "netStatus", false);
  if (EventObject* ev = As<EventObject>(e)) ev->info = Value::Obj(info);
  B(m).Dispatch(to, As<EventObject>(e));
}
// Ends a connection: an open one reports Closed; one still reaching for a
// server also reports a status of empty texts, as Flash does.
void CloseConnection(Machine& m, NetConnectionObject* f) {
  const bool open = f->connected, pending = f->pending;
  f->connected = f->pending = false;
  f->uri = Value::Null();
  if (open || pending) SendNetStatus(m, f, "NetConnection.Connect.Closed", "status");
  if (pending) {
    Object* info = m.NewObject();
    for (const char* k : {"code", "description", "details"}) m.SetProperty(Value::Obj(info), k, m.Str(""));
    m.SetProperty(Value::Obj(info), "level", m.Str("status"));
    Value e = B(m).NewEvent(m.FindClass("flash.events::NetStatusEvent"), "netStatus", false);
    if (EventObject* ev = As<EventObject>(e)) ev->info = Value::Obj(info);
    B(m).Dispatch(f, As<EventObject>(e));
  }
}
// connect(null): progressive files beside the movie, at once. A server is
// never reached: that fails at the end of the frame.
NATIVE(NcConnect) {
  NetConnectionObject* f = As<NetConnectionObject>(self);
  if (!f) return Value();
  CloseConnection(m, f);
  const bool local = m.ArgOr(a, 0).IsNullish();
  f->connected = local;
  f->uri = m.Str(m.ToString(m.ArgOr(a, 0)));
  if (!local) {
    m.Skip("NetConnection to a server");
    f->pending = true;
    B(m).loading.queued.push_back({Value::Obj(f), {}, {}, false, "ncFailed"});
  } else {
    SendNetStatus(m, f, "NetConnection.Connect.Success", "status");
  }
  return Value();
}
NATIVE(NcConnected) { NetConnectionObject* f = As<NetConnectionObject>(self); return Value::Bool(f && f->connected); }
NATIVE(NcClose) {
  if (NetConnectionObject* f = As<NetConnectionObject>(self)) CloseConnection(m, f);
  return Value();
}
NATIVE(NcClient) {
  NetConnectionObject* f = As<NetConnectionObject>(self);
  return !f ? Value::Null() : f->client.IsUndefined() ? self : f->client;
}
NATIVE(NcSetClient) {
  const Value c = m.ArgOr(a, 0);
  if (!c.IsObject()) m.ThrowError("TypeError", "Parameter client must be non-null.", 2004);
  if (NetConnectionObject* f = As<NetConnectionObject>(self)) f->client = c.AsObject() == self.AsObject() ? Value() : c;
  return Value();
}
NATIVE(NcUri) { NetConnectionObject* f = As<NetConnectionObject>(self); return f ? f->uri : Value::Null(); }
// What only a connection has: Flash's error 2126 before it.
NetConnectionObject* Connected(Machine& m, const Value& self) {
  NetConnectionObject* f = As<NetConnectionObject>(self);
  if (!f || !f->connected) m.ThrowError("ArgumentError", "NetConnection object must be connected.", 2126);
  return f;
}
NATIVE(NcNone) { Connected(m, self); return m.Str("none"); }
NATIVE(NcEmptyId) { Connected(m, self); return m.Str(""); }
NATIVE(NcNonce) { Connected(m, self); return m.Str(std::string(64, '0')); }
NATIVE(NcProtocol) { Connected(m, self); return m.Str("rtmp"); }
NATIVE(NcPeerStreams) { Connected(m, self); return Value::Obj(m.NewArray()); }
NATIVE(NcUsingTls) { Connected(m, self); return Value::Bool(false); }
NATIVE(NcMaxPeers) { return Value::Int(8); }
NATIVE(NcEncoding) { return Value::Int(3); }
NATIVE(NcProxyType) { return m.Str("none"); }
NATIVE(NsCtor) {
  NetStreamObject* f = As<NetStreamObject>(self);
  As3Display& b = B(m);
  if (!f) return self;
  f->stream = std::make_shared<NetStreamPlayback>(b.media.nextStream++, b.stage.Listener());
  f->client = self;
  b.media.streams.push_back(f);
  return self;
}
NetStreamPlayback& StreamOf(Machine& m, const Value& self) {
  NetStreamObject* f = As<NetStreamObject>(self);
  if (!f || !f->stream) m.ThrowError("ArgumentError", "The NetStream has no connection.", 2126);
  return *f->stream;
}
std::int64_t HostNow(Machine& m) { return B(m).stage.HostTime(); }
NATIVE(NsPlay) {
  NetStreamPlayback& s = StreamOf(m, self);
  As3Display& b = B(m);
  const std::string name = avm2::ArgStr(m, a, 0, "");
  s.SetListener(b.stage.Listener());
  s.Play(ResolveStreamPath(b.stage.MovieFolder(), name), name, HostNow(m));
  // The first picture and sound at once; the news reach the script next frame.
  s.Advance(HostNow(m));
  for (const auto& p : s.TakeProblems()) b.stage.VideoProblem(p);
  return Value();
}
template <int kHow>  // 0 pause, 1 resume, 2 toggle
Value NsPause(Machine& m, Value self, std::span<Value>) {
  std::optional<bool> pause;
  if (kHow != 2) pause = kHow == 0;
  StreamOf(m, self).Pause(pause, HostNow(m));
  return Value();
}
NATIVE(NsSeek) {
  StreamOf(m, self).Seek(avm2::ArgNum(m, a, 0, 0), HostNow(m));
  return Value();
}
NATIVE(NsClose) {
  StreamOf(m, self).Close(HostNow(m));
  return Value();
}
NATIVE(NsTime) { return Value::Number(StreamOf(m, self).Time(HostNow(m))); }
NATIVE(NsBufferLength) { return Value::Number(StreamOf(m, self).BufferLength(HostNow(m))); }
NATIVE(NsBufferTime) { return Value::Number(StreamOf(m, self).BufferTime()); }
NATIVE(NsSetBufferTime) {
  StreamOf(m, self).SetBufferTime(avm2::ArgNum(m, a, 0, 0.1));
  return Value();
}
NATIVE(NsBytesLoaded) { return Value::Number(static_cast<double>(StreamOf(m, self).BytesLoaded())); }
NATIVE(NsBytesTotal) { return Value::Number(static_cast<double>(StreamOf(m, self).BytesTotal())); }
NATIVE(NsClient) { NetStreamObject* f = As<NetStreamObject>(self); return f ? f->client : Value::Null(); }
NATIVE(NsSetClient) {
  NetStreamObject* f = As<NetStreamObject>(self);
  const Value c = m.ArgOr(a, 0);
  // Any object is a client; null and primitives are refused alike.
  if (!c.IsObject()) m.ThrowError("TypeError", "One of the parameters is invalid.", 2004);
  if (f) f->client = c;
  return Value();
}
// new Video(width = 320, height = 240): a node showing a video character of
// that size. A side of 0 gives both defaults; a negative side, or a size whose
// pixels or twips Flash cannot hold, is RangeError #2006.
NATIVE(VideoCtor) {
  FlashObject* f = As<FlashObject>(self);
  As3Display& b = B(m);
  if (!f || f->handle != kNoClip) return self;
  const std::int64_t w = a.size() > 0 ? m.ToInt(a[0]) : 320, h = a.size() > 1 ? m.ToInt(a[1]) : 240;
  if (w < 0 || h < 0 || w * h >= (std::int64_t{1} << 29) || w * 20 > INT32_MAX || h * 20 > INT32_MAX)
    m.ThrowError("RangeError", "The supplied index is out of bounds.", 2006);
  auto def = std::make_unique<VideoDef>();
  const bool defaults = w == 0 || h == 0;
  def->stream.width = static_cast<std::uint32_t>(defaults ? 320 : w);
  def->stream.height = static_cast<std::uint32_t>(defaults ? 240 : h);
  Instance* inst = b.NewNode(def.get());
  if (!inst) m.ThrowError("Error", "Too many display objects.", 1000);
  b.media.videoDefs.push_back(std::move(def));
  f->handle = inst->serial;
  b.objects[f->handle] = f;
  return self;
}
VideoDisplay* VideoOfSelf(Machine& m, const Value& self) {
  Instance* i = SelfNode(m, self);
  return i ? B(m).stage.VideoOf(*i) : nullptr;
}
NATIVE(VideoAttachNetStream) {
  VideoDisplay* v = VideoOfSelf(m, self);
  if (!v) return Value();
  NetStreamObject* ns = ArgAs<NetStreamObject>(m, m.ArgOr(a, 0), "flash.net::NetStream");
  v->Attach(ns && ns->stream ? ns->stream : nullptr);
  return Value();
}
NATIVE(VideoAttachCamera) {
  if (!m.ArgOr(a, 0).IsNullish()) m.Skip("Video.attachCamera");
  if (VideoDisplay* v = VideoOfSelf(m, self)) v->Attach(nullptr);
  return Value();
}
NATIVE(VideoClear) {
  if (VideoDisplay* v = VideoOfSelf(m, self)) v->Clear();
  return Value();
}
template <bool kWidth>
Value VideoPictureSize(Machine& m, Value self, std::span<Value>) {
  VideoDisplay* v = VideoOfSelf(m, self);
  const auto& shown = v ? v->Shown() : nullptr;
  return Value::Int(shown ? (kWidth ? shown->width : shown->height) : 0);
}
NATIVE(VideoSmoothing) {
  VideoDisplay* v = VideoOfSelf(m, self);
  return Value::Bool(v && v->Smoothing());
}
NATIVE(VideoSetSmoothing) {
  if (VideoDisplay* v = VideoOfSelf(m, self)) v->SetSmoothing(m.ToBoolean(m.ArgOr(a, 0)));
  return Value();
}

// Every frame: streams follow the clock, and their news reach the scripts
// (netStatus events; onMetaData on the client).
void As3Display::AdvanceStreams() {
  const auto list = media.streams;
  for (NetStreamObject* f : list) {
    if (!f->stream) continue;
    const std::shared_ptr<NetStreamPlayback> s = f->stream;  // handlers may play another file
    s->SetListener(stage.Listener());
    s->Advance(stage.HostTime());
    for (const auto& p : s->TakeProblems()) stage.VideoProblem(p);
    for (const auto& e : s->TakeEvents()) {
      m.BeginFrame();
      if (e.kind == NetStreamPlayback::Event::Kind::kMetaData) {
        if (!s->Holds(e)) continue;
        m.SafeCall(
            [&] {
              Value info = AmfToValue(m, *e.metadata, 0);
              Value fn = m.GetProperty(f->client, "onMetaData");
              if (fn.IsObject()) m.Call(fn, f->client, std::span<Value>(&info, 1));
            },
            "a NetStream's onMetaData");
      } else {
        // A stream a handler played again after it stopped never empties its old buffer.
        if (e.code == "NetStream.Buffer.Empty" && s->Playing()) continue;
        m.SafeCall([&] { SendNetStatus(m, f, e.code, e.level); }, "a NetStream's netStatus");
      }
      Flush();
    }
  }
}

// SOUND_COMPLETE on channels whose last loop has ended.
void As3Display::FinishSounds() {
  const double now = m.clockMs();
  std::vector<FlashObject*> done;
  for (FlashObject* c : media.channels)
    if (c->endsMs <= now) done.push_back(c);
  std::erase_if(media.channels, [now](FlashObject* c) { return c->endsMs <= now; });
  for (FlashObject* c : done) {
    m.BeginFrame();
    SendSimple(c, "soundComplete");
    Flush();
  }
}

constexpr MemberRow kMediaRows[] = {
    {"flash.media::Sound", "play", Member::kMethod, SoundPlay},
    {"flash.media::Sound", "load", Member::kMethod, SoundLoad},
    {"flash.media::Sound", "loadCompressedDataFromByteArray", Member::kMethod, SoundLoadCompressed},
    {"flash.media::Sound", "loadPCMFromByteArray", Member::kMethod, SoundLoadPcm},
    {"flash.media::Sound", "bytesLoaded", Member::kGetter, BytesLoaded},
    {"flash.media::Sound", "bytesTotal", Member::kGetter, BytesTotal},
    {"flash.media::Sound", "url", Member::kGetter, SoundUrl},
    {"flash.media::Sound", "isBuffering", Member::kGetter, ReturnFalse},
    {"flash.media::Sound", "isURLInaccessible", Member::kGetter, ReturnFalse},
    {"flash.media::Sound", "close", Member::kMethod, Noop},
    {"flash.media::Sound", "length", Member::kGetter, SoundLength},
    {"flash.media::Sound", "extract", Member::kMethod, SoundExtract},
    {"flash.media::SoundChannel", "stop", Member::kMethod, ChannelStop},
    {"flash.media::SoundChannel", "position", Member::kGetter, ChannelPosition},
    {"flash.media::SoundChannel", "soundTransform", Member::kGetter, ChannelTransform},
    {"flash.media::SoundChannel", "soundTransform", Member::kSetter, ChannelSetTransform},
    {"flash.media::SoundTransform", "pan", Member::kGetter, SoundTransformPan},
    {"flash.media::SoundTransform", "pan", Member::kSetter, SoundTransformSetPan},
    {"flash.media::SoundMixer", "soundTransform", Member::kStaticGetter, MixerTransform},
    {"flash.media::SoundMixer", "soundTransform", Member::kStaticSetter, MixerSetTransform},
    {"flash.media::SoundMixer", "bufferTime", Member::kStaticGetter, MixerBufferTime},
    {"flash.media::SoundMixer", "bufferTime", Member::kStaticSetter, MixerSetBufferTime},
    {"flash.media::SoundChannel", "leftPeak", Member::kGetter, ReturnZero},
    {"flash.media::SoundChannel", "rightPeak", Member::kGetter, ReturnZero},
    {"flash.net::NetConnection", "connect", Member::kMethod, NcConnect},
    {"flash.net::NetConnection", "close", Member::kMethod, NcClose},
    {"flash.net::NetConnection", "connected", Member::kGetter, NcConnected},
    {"flash.net::NetConnection", "client", Member::kGetter, NcClient},
    {"flash.net::NetConnection", "client", Member::kSetter, NcSetClient},
    {"flash.net::NetConnection", "uri", Member::kGetter, NcUri},
    {"flash.net::NetConnection", "connectedProxyType", Member::kGetter, NcNone},
    {"flash.net::NetConnection", "farID", Member::kGetter, NcEmptyId},
    {"flash.net::NetConnection", "nearID", Member::kGetter, NcEmptyId},
    {"flash.net::NetConnection", "farNonce", Member::kGetter, NcNonce},
    {"flash.net::NetConnection", "nearNonce", Member::kGetter, NcNonce},
    {"flash.net::NetConnection", "protocol", Member::kGetter, NcProtocol},
    {"flash.net::NetConnection", "unconnectedPeerStreams", Member::kGetter, NcPeerStreams},
    {"flash.net::NetConnection", "usingTLS", Member::kGetter, NcUsingTls},
    {"flash.net::NetConnection", "maxPeerConnections", Member::kGetter, NcMaxPeers},
    {"flash.net::NetConnection", "maxPeerConnections", Member::kSetter, Noop},
    {"flash.net::NetConnection", "objectEncoding", Member::kGetter, NcEncoding},
    {"flash.net::NetConnection", "objectEncoding", Member::kSetter, Noop},
    {"flash.net::NetConnection", "proxyType", Member::kGetter, NcProxyType},
    {"flash.net::NetConnection", "proxyType", Member::kSetter, Noop},
    {"flash.net::NetStream", "play", Member::kMethod, NsPlay},
    {"flash.net::NetStream", "pause", Member::kMethod, NsPause<0>},
    {"flash.net::NetStream", "resume", Member::kMethod, NsPause<1>},
    {"flash.net::NetStream", "togglePause", Member::kMethod, NsPause<2>},
    {"flash.net::NetStream", "seek", Member::kMethod, NsSeek},
    {"flash.net::NetStream", "close", Member::kMethod, NsClose},
    {"flash.net::NetStream", "time", Member::kGetter, NsTime},
    {"flash.net::NetStream", "bufferLength", Member::kGetter, NsBufferLength},
    {"flash.net::NetStream", "bufferTime", Member::kGetter, NsBufferTime},
    {"flash.net::NetStream", "bytesLoaded", Member::kGetter, NsBytesLoaded},
    {"flash.net::NetStream", "bytesTotal", Member::kGetter, NsBytesTotal},
    {"flash.net::NetStream", "client", Member::kGetter, NsClient},
    {"flash.net::NetStream", "bufferTime", Member::kSetter, NsSetBufferTime},
    {"flash.net::NetStream", "client", Member::kSetter, NsSetClient},
    {"flash.media::Video", "attachNetStream", Member::kMethod, VideoAttachNetStream},
    {"flash.media::Video", "attachCamera", Member::kMethod, VideoAttachCamera},
    {"flash.media::Video", "clear", Member::kMethod, VideoClear},
    {"flash.media::Video", "videoWidth", Member::kGetter, VideoPictureSize<true>},
    {"flash.media::Video", "videoHeight", Member::kGetter, VideoPictureSize<false>},
    {"flash.media::Video", "smoothing", Member::kGetter, VideoSmoothing},
    {"flash.media::Video", "smoothing", Member::kSetter, VideoSetSmoothing},
    {"flash.media::Video", "deblocking", Member::kGetter, ReturnZero},
    {"flash.media::Video", "deblocking", Member::kSetter, DoIgnore},
    {"flash.media::SoundMixer", "stopAll", Member::kStaticMethod, SoundMixerStopAll},
    {"flash.media::SoundMixer", "computeSpectrum", Member::kStaticMethod, SoundMixerComputeSpectrum},
};

constexpr ClassRow kMediaClasses[] = {
    {"flash.media", "Sound", "flash.events::EventDispatcher", Alloc<SoundObject>, SoundCtor},
    {"flash.media", "SoundChannel", "flash.events::EventDispatcher", Alloc<ChannelObject>},
    {"flash.net", "NetConnection", "flash.events::EventDispatcher", Alloc<NetConnectionObject>},
    {"flash.net", "NetStream", "flash.events::EventDispatcher", Alloc<NetStreamObject>, NsCtor},
    {"flash.media", "Video", "flash.display::DisplayObject", nullptr, VideoCtor, false, &As3Display::videoClass},
    {"flash.media", "SoundTransform", "", nullptr, SoundTransformCtor, true},
    {"flash.media", "SoundMixer"},
};

void InstallMedia(As3Display& b) { Register(b, kMediaClasses, kMediaRows); }
}  // namespace quarvel::player::as3
