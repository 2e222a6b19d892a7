#pragma once
// The player's sound output: receives the timeline's sound events, decodes
// the sounds and writes them into the loopback bus at the times the player
// gives, on the host's clock.
//
// Writing ahead: a sound is written into the bus up to a look-ahead past the
// latest time the output knows (an event's time or Pump's). A stop, seek or
// unload at time t takes back what was already written past t by writing its
// negation (the bus adds writes in 32-bit accumulators, so this is exact).
// Hosts call Pump(now) after each AdvanceTo so that long event sounds keep
// going between timeline events. Pump also settles the bus up to the first
// frame the output may still write (the player's time, or a lagging stream's
// cursor), so that a recorder takes each frame only once it is final:
//
//   audio::LoopbackBus& bus = audio::LoopbackBus::Instance();
//   bus.SetClock(clock);
//   player::sound::SoundOutput output(bus);
//   flashPlayer.SetSoundListener(&output);
//   ... flashPlayer.AdvanceTo(t); output.Pump(t); ...
//
// Not thread-safe: the player's thread makes every call.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio/loopback_bus.h"
#include "player/sound_events.h"
#include "player/sound/decoders.h"
#include "player/sound/flv_audio.h"
#include "player/sound/sound_format.h"

namespace quarvel::player::sound {

class SoundOutput final : public SoundEventListener {
 public:
  static constexpr std::int64_t kDefaultLookAheadMs = 1000;

  // The bus must outlive the output.
  explicit SoundOutput(audio::LoopbackBus& bus = audio::LoopbackBus::Instance(),
                       audio::BusSource source = audio::BusSource::kWaveOut);
  ~SoundOutput() override;
  SoundOutput(const SoundOutput&) = delete;
  SoundOutput& operator=(const SoundOutput&) = delete;

  void SetLookAheadMs(std::int64_t ms) { lookAheadMs_ = ms < 0 ? 0 : ms; }
  // Keeps the playing sounds written up to nowMs + look-ahead.
  void Pump(std::int64_t nowMs);
  // Silences everything from the latest known time on and forgets the
  // playing sounds (the definitions stay).
  void Silence();

  void OnDefineSound(int soundId, std::span<const std::uint8_t> body) override;
  void OnStartSound(int soundId, std::string_view className, std::span<const std::uint8_t> info,
                    std::int64_t timeMs) override;
  void OnStreamHead(int timeline, int tagCode, std::span<const std::uint8_t> body, std::int64_t timeMs) override;
  void OnStreamBlock(int timeline, int frame, std::span<const std::uint8_t> body, std::int64_t timeMs) override;
  void OnStop(std::int64_t timeMs) override;
  void OnStopAllSounds(std::int64_t timeMs) override;
  void OnTimelineStop(int timeline, std::int64_t timeMs) override;
  void OnSeek(int timeline, int frame, std::int64_t timeMs) override;
  void OnUnload(std::int64_t timeMs) override;
  void OnVideoSound(int stream, std::span<const std::uint8_t> tag, std::int64_t timeMs) override;
  void OnVideoSoundStop(int stream, std::int64_t timeMs) override;

  // What happened to the movie's sounds, for logs and tests.
  struct CodecCount {
    int decoded = 0;
    int failed = 0;
  };
  struct Stats {
    std::map<Codec, CodecCount> eventSounds;   // per DefineSound, counted when first started
    std::map<Codec, CodecCount> streamBlocks;  // per SoundStreamBlock
    int voicesStarted = 0;
    CodecCount videoSoundTags;  // FLV audio tags of script-played streams
  };
  const Stats& GetStats() const { return stats_; }
  // Problems met (each text once): undecodable sounds, unknown ids,
  // unsupported codecs.
  const std::vector<std::string>& Problems() const { return problems_; }
  // Where each problem is said as it is met (once each), for a front end
  // that names the movie; without one they go to the log.
  void SetProblemSink(std::function<void(const std::string&)> sink) { problemSink_ = std::move(sink); }
  // Decodes every defined sound now (normally done on first start); false
  // for those that fail.
  bool DecodeAll();
  int PlayingVoices() const { return static_cast<int>(voices_.size()); }

 private:
  struct Sound {
    std::vector<std::uint8_t> body;
    std::optional<DefineSound> header;  // parsed view into body
    bool decodeTried = false;
    std::shared_ptr<const std::vector<std::int16_t>> pcm;  // 44100 Hz stereo
  };
  struct Voice {
    int soundId = 0;
    std::shared_ptr<const std::vector<std::int16_t>> pcm;
    std::int64_t start = 0;     // bus frame of the first sample
    std::int64_t segBegin = 0;  // in point, frames of pcm
    std::int64_t segLength = 0;
    std::int64_t end = 0;       // bus frame after the last sample
    std::int64_t written = 0;   // bus frames up to here are in the bus
    std::vector<EnvelopePoint> envelope;
  };
  struct Chunk {
    std::int64_t start = 0;
    std::vector<std::int16_t> samples;
  };
  struct Stream {
    std::optional<StreamHead> head;
    std::unique_ptr<Mp3Decoder> mp3;
    std::unique_ptr<AvDecoder> av;
    std::unique_ptr<Resampler> resampler;
    bool running = false;
    int lastFrame = -1;
    std::int64_t cursor = 0;    // bus frame where the next block's sound goes
    std::deque<Chunk> written;  // recent writes that a cut may take back
  };

  // The sound of a script-played FLV stream.
  struct VideoSound {
    std::unique_ptr<FlvAudioDecoder> decoder = std::make_unique<FlvAudioDecoder>();
    std::unique_ptr<Resampler> resampler;
    bool running = false;
    std::int64_t cursor = 0;
    std::deque<Chunk> written;
  };

  Sound* Ensure(int soundId);
  // The first bus frame a later call may still write or take back.
  std::int64_t EarliestWrite() const;
  void CutChunks(std::deque<Chunk>& written, std::int64_t frame);
  void RenderVoice(Voice& v, std::int64_t from, std::int64_t to, bool negate);
  void CutVoice(Voice& v, std::int64_t frame);
  void CutStream(Stream& s, std::int64_t frame);
  void CutAll(std::int64_t frame);
  void Advance(std::int64_t ms);
  void DecodeBlock(Stream& s, std::span<const std::uint8_t> body, int& skip, std::vector<std::int16_t>& pcm,
                   int& rate, int& channels);
  void Problem(const std::string& text);

  audio::LoopbackBus& bus_;
  audio::BusSource source_;
  std::unique_ptr<audio::LoopbackBus::Hold> hold_;
  std::int64_t lookAheadMs_ = kDefaultLookAheadMs;
  std::int64_t latestMs_ = 0;
  std::map<int, Sound> sounds_;
  std::vector<Voice> voices_;
  std::map<int, Stream> streams_;
  std::map<int, VideoSound> videoSounds_;
  Stats stats_;
  std::vector<std::string> problems_;
  std::set<std::string> problemSet_;
  std::function<void(const std::string&)> problemSink_;
};

}  // namespace quarvel::player::sound
