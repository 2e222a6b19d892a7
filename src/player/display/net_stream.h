#pragma once
// An FLV file played by a script's NetStream: the file beside the movie,
// its pictures for the videos it is attached to and its sound for the
// player's sound output, all following the player's clock.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/sound_events.h"
#include "player/video/flv_reader.h"
#include "player/video/flv_video_decoder.h"
#include "player/display/video_display.h"

namespace quarvel::player {

// Largest FLV file a stream reads.
inline constexpr std::uintmax_t kMaxFlvFileBytes = std::uintmax_t{1} << 30;

// Where a stream name leads, beside the movie: relative paths only (never
// the network, never an absolute path); nullopt when the name is refused.
std::optional<std::filesystem::path> ResolveStreamPath(const std::filesystem::path& movieFolder,
                                                       const std::string& name);

class NetStreamPlayback final : public VideoSource {
 public:
  // What the stream tells the script, in order (onStatus, onMetaData).
  struct Event {
    enum class Kind { kStatus, kMetaData };
    Kind kind = Kind::kStatus;
    std::string code;   // "NetStream.Play.Start"...
    std::string level;  // "status" or "error"
    const video::AmfValue* metadata = nullptr;  // kMetaData; lives as long as the stream's file
    std::uint64_t file = 0;                     // the file it came from (see Holds)
  };
  // Whether the event's metadata is still there: a script's play() or
  // close() in an earlier handler drops the file.
  bool Holds(const Event& e) const { return e.kind != Event::Kind::kMetaData || (file_ && e.file == fileNumber_); }

  // `id` names the stream in the sound events; the listener may be null.
  NetStreamPlayback(int id, SoundEventListener* listener);
  ~NetStreamPlayback() override;

  // Opens and starts the file (nullopt: a refused name); a missing or
  // unreadable file gives NetStream.Play.StreamNotFound.
  void Play(const std::optional<std::filesystem::path>& file, const std::string& name, std::int64_t nowMs);
  // pause(): nullopt toggles, true pauses, false resumes; `quietToggle`
  // toggles without news (ActionScript 1/2's pause with no argument).
  void Pause(std::optional<bool> pause, std::int64_t nowMs, bool quietToggle = false);
  // To the key frame at or before `seconds`.
  void Seek(double seconds, std::int64_t nowMs);
  void Close(std::int64_t nowMs);
  // Shows the pictures due by now and hands out the sound due soon.
  void Advance(std::int64_t nowMs);

  std::vector<Event> TakeEvents();
  // Problems met (damaged frames, unplayable codecs), each once, taken.
  std::vector<std::string> TakeProblems();

  double Time(std::int64_t nowMs) const;  // seconds
  double BufferLength(std::int64_t nowMs) const;
  double BufferTime() const { return bufferTime_; }
  void SetBufferTime(double seconds);
  std::uint64_t BytesLoaded() const { return bytes_.size(); }
  std::uint64_t BytesTotal() const { return bytes_.size(); }
  bool Playing() const { return open_ && !paused_ && !ended_; }
  int Id() const { return id_; }
  // The player's sound listener may change between calls.
  void SetListener(SoundEventListener* listener) { listener_ = listener; }

  std::shared_ptr<const BitmapDef> Picture() const override { return picture_; }

  // How far ahead of its time sound is handed out.
  static constexpr std::int64_t kSoundAheadMs = 250;

 private:
  std::int64_t Position(std::int64_t nowMs) const;
  void ShowPicturesUpTo(std::int64_t positionMs);
  void Status(const std::string& code, const std::string& level = "status");
  void Problem(const std::string& text);
  void StopSound(std::int64_t nowMs);
  void Reset();
  void RewindSound(std::int64_t positionMs);

  int id_;
  SoundEventListener* listener_;
  std::string name_;
  std::vector<std::uint8_t> bytes_;
  std::unique_ptr<video::FlvFile> file_;  // borrows bytes_
  std::uint64_t fileNumber_ = 0;          // counts the files opened
  std::unique_ptr<video::FlvVideoDecoder> decoder_;
  bool open_ = false, paused_ = false, ended_ = false, bufferFull_ = false;
  bool pending_ = false;  // the decoder shows a picture not yet due
  bool videoDone_ = true;
  std::int64_t baseMs_ = 0;    // stream position at anchorMs_
  std::int64_t anchorMs_ = 0;  // host time
  std::int64_t endMs_ = 0;     // time of the last tag
  std::size_t nextAudio_ = 0;  // tag index
  std::size_t nextScript_ = 0;
  double bufferTime_ = 0.1;
  std::shared_ptr<const BitmapDef> picture_;
  std::vector<Event> events_;
  std::vector<std::string> problems_, problemsSeen_;
};

}  // namespace quarvel::player
