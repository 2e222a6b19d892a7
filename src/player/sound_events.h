#pragma once
// What the timelines tell of sound as they run; the player's sound output
// and the recorder listen. Its own header so that the stage, the script
// machines and the video streams name it without the player.

#include <cstdint>
#include <span>
#include <string_view>

namespace quarvel::player {

// Receives the sound events of the timeline as it executes, for the player's
// sound output and for recording. Every call carries raw tag bodies (the
// bytes after the tag header) so that the receiver parses them itself.
// `timeline` is 0 for the main timeline, otherwise a number of the placed
// clip (each placed copy of a sprite has its own, so each plays its stream).
// `timeMs` is the host clock time at which the frame is shown.
class SoundEventListener {
 public:
  virtual ~SoundEventListener() = default;
  // A DefineSound tag, once per movie load, before the first frame runs.
  virtual void OnDefineSound(int soundId, std::span<const std::uint8_t> body) { (void)soundId; (void)body; }
  // StartSound / StartSound2, or a button's sound on a state change: `info`
  // is the SOUNDINFO record. StartSound2 names its sound by class name; the
  // player gives the id that name resolves to (0 when none).
  virtual void OnStartSound(int soundId, std::string_view className, std::span<const std::uint8_t> info,
                            std::int64_t timeMs) {
    (void)soundId; (void)className; (void)info; (void)timeMs;
  }
  // SoundStreamHead / SoundStreamHead2 of a timeline (tag code given).
  virtual void OnStreamHead(int timeline, int tagCode, std::span<const std::uint8_t> body, std::int64_t timeMs) {
    (void)timeline; (void)tagCode; (void)body; (void)timeMs;
  }
  // SoundStreamBlock found in frame `frame` (0-based) of a timeline.
  virtual void OnStreamBlock(int timeline, int frame, std::span<const std::uint8_t> body, std::int64_t timeMs) {
    (void)timeline; (void)frame; (void)body; (void)timeMs;
  }
  // The host stopped playback (Stop()): every sound ends.
  virtual void OnStop(std::int64_t timeMs) { (void)timeMs; }
  // A stop-all-sounds action: every sound playing now ends; the movie goes on.
  virtual void OnStopAllSounds(std::int64_t timeMs) { (void)timeMs; }
  // A timeline stopped (stop action) or its sprite left the stage: its
  // stream ends, event sounds play on.
  virtual void OnTimelineStop(int timeline, std::int64_t timeMs) { (void)timeline; (void)timeMs; }
  // A timeline jumped (GotoFrame, a goto action, or the loop to frame 0);
  // reported before the frame jumped to runs.
  virtual void OnSeek(int timeline, int frame, std::int64_t timeMs) { (void)timeline; (void)frame; (void)timeMs; }
  // The movie was replaced or dropped at the player's latest clock time.
  virtual void OnUnload(std::int64_t timeMs) { (void)timeMs; }
  // An audio tag of an FLV file a script plays (its body, format byte
  // first), at the host time it plays; `stream` numbers the NetStream.
  // Tags come a little ahead of their time, in order.
  virtual void OnVideoSound(int stream, std::span<const std::uint8_t> tag, std::int64_t timeMs) {
    (void)stream; (void)tag; (void)timeMs;
  }
  // That stream paused, jumped or closed at `timeMs`: what was written for
  // later goes.
  virtual void OnVideoSoundStop(int stream, std::int64_t timeMs) { (void)stream; (void)timeMs; }
};

}  // namespace quarvel::player
