#include "player/sound/sound_output.h"

#include <algorithm>
#include <iostream>

namespace quarvel::player::sound {
namespace {

using audio::LoopbackBus;

std::int64_t ToFrame(std::int64_t ms) { return LoopbackBus::MsToFrame(ms); }

// Envelope levels (0..32768) at a position counted from the voice's start.
std::pair<std::int32_t, std::int32_t> EnvelopeAt(const std::vector<EnvelopePoint>& env, std::int64_t pos) {
  if (env.empty()) return {32768, 32768};
  if (pos <= env.front().pos44) return {env.front().left, env.front().right};
  for (std::size_t i = 1; i < env.size(); ++i) {
    const EnvelopePoint& a = env[i - 1];
    const EnvelopePoint& b = env[i];
    if (pos < b.pos44) {
      const std::int64_t span = std::int64_t{b.pos44} - a.pos44;
      if (span <= 0) return {b.left, b.right};
      const std::int64_t t = pos - a.pos44;
      return {static_cast<std::int32_t>(a.left + (std::int64_t{b.left} - a.left) * t / span),
              static_cast<std::int32_t>(a.right + (std::int64_t{b.right} - a.right) * t / span)};
    }
  }
  return {env.back().left, env.back().right};
}

// How far a stream's sound may run ahead of or behind its timeline and still
// go on from where it is, in bus frames: two frames, and an MP3 frame more.
std::int64_t StreamTolerance(const StreamHead& head) {
  const double fps =
      head.samplesPerFrame > 0 ? static_cast<double>(head.stream.CodedRate()) / head.samplesPerFrame : 12.0;
  return static_cast<std::int64_t>(2 * Resampler::kRate / std::max(fps, 1.0)) + 2304;
}

// The same for a video's sound: its tags keep within a tenth of a second of
// their own times (codec frames do not end on milliseconds).
constexpr std::int64_t kVideoSoundTolerance = Resampler::kRate / 10;

bool SameFormat(const SoundFormat& a, const SoundFormat& b) {
  return a.codec == b.codec && a.rate == b.rate && a.sixteenBit == b.sixteenBit && a.stereo == b.stereo;
}

}  // namespace

SoundOutput::SoundOutput(audio::LoopbackBus& bus, audio::BusSource source)
    : bus_(bus), source_(source), hold_(bus.OpenHold(0)) {}

SoundOutput::~SoundOutput() { CutAll(ToFrame(latestMs_)); }

void SoundOutput::Problem(const std::string& text) {
  if (!problemSet_.insert(text).second) return;
  problems_.push_back(text);
  if (problemSink_)
    problemSink_(text);
  else
    std::clog << "quarvel: sound: " << text << '\n';
}

void SoundOutput::OnDefineSound(int soundId, std::span<const std::uint8_t> body) {
  Sound& s = sounds_[soundId];
  s = Sound{};
  s.body.assign(body.begin(), body.end());
  try {
    s.header = ParseDefineSound(s.body);
  } catch (const SoundError& e) {
    Problem("sound " + std::to_string(soundId) + ": " + e.what());
  }
}

SoundOutput::Sound* SoundOutput::Ensure(int soundId) {
  auto it = sounds_.find(soundId);
  if (it == sounds_.end()) {
    Problem("StartSound names sound " + std::to_string(soundId) + ", which the movie does not define");
    return nullptr;
  }
  Sound& s = it->second;
  if (!s.header) return nullptr;
  if (!s.decodeTried) {
    s.decodeTried = true;
    auto& count = stats_.eventSounds[s.header->format.codec];
    try {
      s.pcm = std::make_shared<const std::vector<std::int16_t>>(DecodeDefineSound(*s.header));
      ++count.decoded;
    } catch (const SoundError& e) {
      ++count.failed;
      Problem("sound " + std::to_string(soundId) + " (" + std::string(CodecName(s.header->format.codec)) +
              "): " + e.what());
    }
  }
  return s.pcm ? &s : nullptr;
}

bool SoundOutput::DecodeAll() {
  bool ok = true;
  for (auto& [id, s] : sounds_) ok = Ensure(id) != nullptr && ok;
  return ok;
}

void SoundOutput::RenderVoice(Voice& v, std::int64_t from, std::int64_t to, bool negate) {
  from = std::max(from, v.start);
  to = std::min(to, v.end);
  if (to <= from) return;
  const auto& pcm = *v.pcm;
  std::vector<std::int16_t> buf(static_cast<std::size_t>(to - from) * 2);
  for (std::int64_t f = from; f < to; ++f) {
    const std::int64_t k = f - v.start;
    const std::size_t idx = static_cast<std::size_t>(v.segBegin + k % v.segLength) * 2;
    std::int32_t l = pcm[idx], r = pcm[idx + 1];
    if (!v.envelope.empty()) {
      const auto [gl, gr] = EnvelopeAt(v.envelope, k);
      l = l * gl / 32768;
      r = r * gr / 32768;
    }
    const std::size_t o = static_cast<std::size_t>(f - from) * 2;
    buf[o] = static_cast<std::int16_t>(negate ? -l : l);
    buf[o + 1] = static_cast<std::int16_t>(negate ? -r : r);
  }
  bus_.Write(source_, from, buf);
}

void SoundOutput::CutVoice(Voice& v, std::int64_t frame) {
  const std::int64_t f = std::max(frame, v.start);
  if (f < v.written) RenderVoice(v, f, v.written, true);
  v.end = std::min(v.end, f);
  v.written = std::min(v.written, v.end);
}

void SoundOutput::CutStream(Stream& s, std::int64_t frame) {
  for (Chunk& c : s.written) {
    const std::int64_t end = c.start + static_cast<std::int64_t>(c.samples.size() / 2);
    if (end <= frame) continue;
    const std::int64_t from = std::max(frame, c.start);
    std::vector<std::int16_t> neg(c.samples.begin() + (from - c.start) * 2, c.samples.end());
    for (auto& x : neg) x = static_cast<std::int16_t>(-x);
    bus_.Write(source_, from, neg);
  }
  s.written.clear();
  s.running = false;
  s.lastFrame = -1;
}

void SoundOutput::CutAll(std::int64_t frame) {
  for (Voice& v : voices_) CutVoice(v, frame);
  voices_.clear();
  for (auto& [id, s] : streams_) CutStream(s, frame);
  for (auto& [id, s] : videoSounds_) {
    CutChunks(s.written, frame);
    s.running = false;
  }
}

void SoundOutput::CutChunks(std::deque<Chunk>& written, std::int64_t frame) {
  for (Chunk& c : written) {
    const std::int64_t end = c.start + static_cast<std::int64_t>(c.samples.size() / 2);
    if (end <= frame) continue;
    const std::int64_t from = std::max(frame, c.start);
    std::vector<std::int16_t> neg(c.samples.begin() + (from - c.start) * 2, c.samples.end());
    for (auto& x : neg) x = static_cast<std::int16_t>(-x);
    bus_.Write(source_, from, neg);
  }
  written.clear();
}

void SoundOutput::Advance(std::int64_t ms) {
  latestMs_ = std::max(latestMs_, ms);
  const std::int64_t now = ToFrame(latestMs_);
  const std::int64_t horizon = ToFrame(latestMs_ + lookAheadMs_);
  for (Voice& v : voices_) {
    const std::int64_t to = std::min(v.end, horizon);
    if (to > v.written) {
      RenderVoice(v, v.written, to, false);
      v.written = to;
    }
  }
  std::erase_if(voices_, [now](const Voice& v) { return v.written >= v.end && v.end <= now; });
  for (auto& [id, s] : streams_) {
    while (!s.written.empty() &&
           s.written.front().start + static_cast<std::int64_t>(s.written.front().samples.size() / 2) <= now) {
      s.written.pop_front();
    }
  }
}

std::int64_t SoundOutput::EarliestWrite() const {
  // Sounds start, and cuts fall, at the latest time or later; a running
  // stream goes on at its cursor unless that lags its next frame by more
  // than the stream's tolerance.
  const std::int64_t latest = ToFrame(latestMs_);
  std::int64_t earliest = latest;
  for (const auto& [id, s] : streams_) {
    if (s.running && s.head) earliest = std::min(earliest, std::max(s.cursor, latest - StreamTolerance(*s.head)));
  }
  for (const auto& [id, s] : videoSounds_) {
    if (s.running) earliest = std::min(earliest, std::max(s.cursor, latest - kVideoSoundTolerance));
  }
  return earliest;
}

void SoundOutput::Pump(std::int64_t nowMs) {
  Advance(nowMs);
  hold_->SettleTo(EarliestWrite());
  bus_.WaitForReaders(ToFrame(nowMs));
}

void SoundOutput::Silence() { CutAll(ToFrame(latestMs_)); }

void SoundOutput::OnStartSound(int soundId, std::string_view className, std::span<const std::uint8_t> info,
                               std::int64_t timeMs) {
  Advance(timeMs);
  if (soundId == 0 && !className.empty()) {
    Problem("StartSound2 names sound class " + std::string(className) + ", which the movie does not define");
    return;
  }
  SoundInfo si;
  try {
    si = ParseSoundInfo(info);
  } catch (const SoundError& e) {
    Problem("sound " + std::to_string(soundId) + ": " + e.what());
    return;
  }
  const std::int64_t at = ToFrame(timeMs);
  if (si.syncStop) {
    for (Voice& v : voices_) {
      if (v.soundId == soundId) CutVoice(v, at);
    }
    Advance(timeMs);
    return;
  }
  if (si.noMultiple &&
      std::any_of(voices_.begin(), voices_.end(), [&](const Voice& v) { return v.soundId == soundId && v.end > at; })) {
    return;
  }
  Sound* s = Ensure(soundId);
  if (!s) return;
  const std::int64_t length = static_cast<std::int64_t>(s->pcm->size() / 2);
  Voice v;
  v.soundId = soundId;
  v.pcm = s->pcm;
  v.segBegin = std::min<std::int64_t>(si.inPoint.value_or(0), length);
  const std::int64_t segEnd = std::clamp<std::int64_t>(si.outPoint.value_or(length), v.segBegin, length);
  v.segLength = segEnd - v.segBegin;
  if (v.segLength <= 0) return;
  v.start = at;
  v.written = at;
  v.end = at + v.segLength * si.loops;
  v.envelope = std::move(si.envelope);
  voices_.push_back(std::move(v));
  ++stats_.voicesStarted;
  Advance(timeMs);
}

void SoundOutput::OnStreamHead(int timeline, int tagCode, std::span<const std::uint8_t> body, std::int64_t timeMs) {
  (void)tagCode;
  Advance(timeMs);
  StreamHead head;
  try {
    head = ParseStreamHead(body);
  } catch (const SoundError& e) {
    Problem("timeline " + std::to_string(timeline) + ": " + e.what());
    return;
  }
  Stream& s = streams_[timeline];
  // The head is met again on every pass over its frame: keep a running stream.
  if (s.head && SameFormat(s.head->stream, head.stream)) {
    s.head = head;
    return;
  }
  CutStream(s, ToFrame(timeMs));
  s.head = head;
  s.mp3.reset();
  s.av.reset();
  s.resampler.reset();
  try {
    switch (head.stream.codec) {
      case Codec::kMp3: s.mp3 = std::make_unique<Mp3Decoder>(); break;
      case Codec::kNelly16k:
      case Codec::kNelly8k:
      case Codec::kNelly:
        s.av = std::make_unique<AvDecoder>(AvDecoder::Kind::kNellymoser, head.stream.CodedRate(), 1);
        break;
      case Codec::kSpeex:
        s.av = std::make_unique<AvDecoder>(AvDecoder::Kind::kSpeex, head.stream.CodedRate(), 1);
        break;
      default: break;
    }
  } catch (const SoundError& e) {
    Problem("stream of timeline " + std::to_string(timeline) + ": " + e.what());
  }
}

void SoundOutput::DecodeBlock(Stream& s, std::span<const std::uint8_t> body, int& skip,
                              std::vector<std::int16_t>& pcm, int& rate, int& channels) {
  const SoundFormat& f = s.head->stream;
  rate = f.CodedRate();
  channels = f.Channels();
  switch (f.codec) {
    case Codec::kPcmNative:
    case Codec::kPcmLittle: pcm = DecodeUncompressed(body, f.sixteenBit, channels, false); break;
    case Codec::kAdpcm: pcm = DecodeAdpcm(body, channels); break;
    case Codec::kMp3: {
      if (!s.mp3) throw SoundError("MP3 decoder unavailable");
      const Mp3StreamBlock b = ParseMp3StreamBlock(body);
      if (!s.running) {
        s.mp3->Reset();
        skip = b.seekSamples;
      }
      s.mp3->Feed(b.frames, pcm);
      rate = s.mp3->Rate() > 0 ? s.mp3->Rate() : rate;
      channels = Mp3Decoder::kChannels;
      break;
    }
    case Codec::kNelly16k:
    case Codec::kNelly8k:
    case Codec::kNelly:
    case Codec::kSpeex:
      if (!s.av) throw SoundError(std::string(CodecName(f.codec)) + " decoder unavailable");
      s.av->Decode(body, pcm);
      rate = s.av->Rate();
      channels = s.av->Channels();
      break;
  }
}

void SoundOutput::OnStreamBlock(int timeline, int frame, std::span<const std::uint8_t> body, std::int64_t timeMs) {
  Advance(timeMs);
  auto it = streams_.find(timeline);
  if (it == streams_.end() || !it->second.head) {
    Problem("timeline " + std::to_string(timeline) + ": SoundStreamBlock without SoundStreamHead");
    return;
  }
  Stream& s = it->second;
  const std::int64_t at = ToFrame(timeMs);
  // Blocks play one after the other while the frames follow each other and
  // the sound keeps up with the timeline; otherwise the stream restarts at
  // this frame's time.
  const std::int64_t tolerance = StreamTolerance(*s.head);
  if (s.running && (frame != s.lastFrame + 1 || s.cursor > at + tolerance)) {
    CutStream(s, at);  // looped, jumped, or far ahead of the timeline
  } else if (s.running && s.cursor < at - tolerance) {
    s.cursor = at;  // frames without blocks left a gap: keep the decoder, move on
  }
  const bool restart = !s.running;
  int skip = 0;
  std::vector<std::int16_t> pcm;
  int rate = 0, channels = 0;
  auto& count = stats_.streamBlocks[s.head->stream.codec];
  try {
    DecodeBlock(s, body, skip, pcm, rate, channels);
    ++count.decoded;
  } catch (const SoundError& e) {
    ++count.failed;
    Problem("stream of timeline " + std::to_string(timeline) + " (" +
            std::string(CodecName(s.head->stream.codec)) + "): " + e.what());
    return;
  }
  if (restart) {
    s.resampler.reset();
    s.cursor = at;
    s.running = true;
  }
  s.lastFrame = frame;
  if (pcm.empty()) return;
  if (!s.resampler || s.resampler->Rate() != rate || s.resampler->Channels() != channels) {
    s.resampler = std::make_unique<Resampler>(rate, channels);
  }
  if (skip < 0) {
    // The block's first sample belongs after the frame's start.
    s.cursor += std::int64_t{-skip} * Resampler::kRate / rate;
  } else if (skip > 0) {
    const std::size_t drop = std::min(pcm.size(), static_cast<std::size_t>(skip) * static_cast<std::size_t>(channels));
    pcm.erase(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(drop));
  }
  Chunk c;
  c.start = s.cursor;
  s.resampler->Convert(pcm, c.samples);
  if (c.samples.empty()) return;
  bus_.Write(source_, c.start, c.samples);
  s.cursor += static_cast<std::int64_t>(c.samples.size() / 2);
  s.written.push_back(std::move(c));
}

void SoundOutput::OnStop(std::int64_t timeMs) {
  Advance(timeMs);
  CutAll(ToFrame(timeMs));
}

// The movie goes on, but for its sound this is the same as a stop.
void SoundOutput::OnStopAllSounds(std::int64_t timeMs) { OnStop(timeMs); }

void SoundOutput::OnTimelineStop(int timeline, std::int64_t timeMs) {
  Advance(timeMs);
  if (auto it = streams_.find(timeline); it != streams_.end()) CutStream(it->second, ToFrame(timeMs));
}

void SoundOutput::OnSeek(int timeline, int frame, std::int64_t timeMs) {
  (void)frame;
  // Event sounds play on; the stream restarts with the blocks of the frame
  // jumped to, which the player runs right after this.
  OnTimelineStop(timeline, timeMs);
}

void SoundOutput::OnUnload(std::int64_t timeMs) {
  Advance(timeMs);
  CutAll(ToFrame(timeMs));
  sounds_.clear();
  streams_.clear();
  videoSounds_.clear();
}

void SoundOutput::OnVideoSound(int stream, std::span<const std::uint8_t> tag, std::int64_t timeMs) {
  VideoSound& s = videoSounds_[stream];
  const std::int64_t at = ToFrame(timeMs);
  Pcm pcm;
  try {
    s.decoder->Decode(tag, pcm);
    ++stats_.videoSoundTags.decoded;
  } catch (const SoundError& e) {
    ++stats_.videoSoundTags.failed;
    Problem("sound of video stream " + std::to_string(stream) + ": " + e.what());
    return;
  }
  if (pcm.samples.empty() || pcm.channels <= 0 || pcm.rate <= 0) return;
  // Tags play one after the other while they keep within the tolerance of
  // their own times; further off, the sound restarts at the tag's time.
  const std::int64_t tolerance = kVideoSoundTolerance;
  if (s.running && s.cursor > at + tolerance) CutChunks(s.written, at);
  if (!s.running || s.cursor > at + tolerance || s.cursor < at - tolerance) {
    s.cursor = at;
    s.running = true;
    s.resampler.reset();
  }
  if (!s.resampler || s.resampler->Rate() != pcm.rate || s.resampler->Channels() != pcm.channels) {
    s.resampler = std::make_unique<Resampler>(pcm.rate, pcm.channels);
  }
  Chunk c;
  c.start = s.cursor;
  s.resampler->Convert(pcm.samples, c.samples);
  if (c.samples.empty()) return;
  bus_.Write(source_, c.start, c.samples);
  s.cursor += static_cast<std::int64_t>(c.samples.size() / 2);
  s.written.push_back(std::move(c));
  // Only what lies ahead can be taken back.
  while (s.written.size() > 1 &&
         s.written.front().start + static_cast<std::int64_t>(s.written.front().samples.size() / 2) <
             ToFrame(latestMs_) - Resampler::kRate) {
    s.written.pop_front();
  }
}

void SoundOutput::OnVideoSoundStop(int stream, std::int64_t timeMs) {
  auto it = videoSounds_.find(stream);
  if (it == videoSounds_.end()) return;
  CutChunks(it->second.written, ToFrame(timeMs));
  it->second.running = false;
  it->second.decoder->Reset();
  it->second.resampler.reset();
}

}  // namespace quarvel::player::sound
