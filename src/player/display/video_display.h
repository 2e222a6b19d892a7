#pragma once
// Video on the display tree: the DefineVideoStream character, and the
// picture a placed video shows (its embedded stream at the ratio, or the
// stream a script attached to it).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "player/library/characters.h"
#include "player/video/video_decoder.h"
#include "player/video/video_stream.h"

namespace quarvel::player {

namespace video {
class EmbeddedVideo;
}

// A video character: the stream's definition with the frames its
// VideoFrame tags hold (borrowed from the movie's data). One with no frames
// is how authoring tools place a Video object for scripts.
struct VideoDef : Character {
  VideoDef() : Character(Kind::kVideo) {}
  video::VideoStreamDef stream;
};

// Where a script-attached video takes its pictures (a NetStream): the
// newest picture and a number that changes with each one.
class VideoSource {
 public:
  virtual ~VideoSource() = default;
  virtual std::shared_ptr<const BitmapDef> Picture() const = 0;
};

// A decoded picture as a bitmap the renderer draws (premultiplied ARGB32);
// nullptr for an empty picture or one Cairo cannot hold.
std::shared_ptr<const BitmapDef> PictureBitmap(const video::Picture& picture);

// The state of one placed video: its decoder, kept so that playing forward
// decodes each frame once, and the picture shown.
class VideoDisplay {
 public:
  explicit VideoDisplay(const VideoDef& def);
  ~VideoDisplay();
  VideoDisplay(const VideoDisplay&) = delete;
  VideoDisplay& operator=(const VideoDisplay&) = delete;

  // Brings the picture to the embedded frame `ratio` names, or to the
  // attached source's newest. Problems met (a damaged frame, a codec this
  // build cannot decode) are added to `problems`, each once.
  void Update(std::uint16_t ratio, std::vector<std::string>& problems);

  // What the video shows now; nullptr before any picture or after clear().
  const std::shared_ptr<const BitmapDef>& Shown() const { return shown_; }

  // Video.attachVideo: pictures from a script's stream replace the
  // embedded ones; nullptr detaches.
  void Attach(std::shared_ptr<const VideoSource> source);
  // Video.clear: the picture goes until the next one.
  void Clear();
  // Video.smoothing: set by a script, else as the stream's flag says.
  bool Smoothing() const { return smoothing_.value_or(def_.stream.smoothing); }
  void SetSmoothing(bool on) { smoothing_ = on; }
  const VideoDef& Def() const { return def_; }

 private:
  const VideoDef& def_;
  std::unique_ptr<video::EmbeddedVideo> embedded_;
  bool unavailable_ = false;  // the decoder could not be made: tried once
  std::optional<std::uint16_t> shownFrame_;
  std::shared_ptr<const BitmapDef> shown_;
  std::shared_ptr<const VideoSource> source_;
  std::shared_ptr<const BitmapDef> lastSourced_;
  std::optional<bool> smoothing_;  // the source's picture last seen
};

}  // namespace quarvel::player
