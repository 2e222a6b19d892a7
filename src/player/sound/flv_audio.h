#pragma once
// The sound of an FLV file: audio tag bodies (format byte first), as a
// NetStream plays them, decoded to interleaved 16-bit samples.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "player/sound/decoders.h"

namespace quarvel::player::sound {

class FlvAudioDecoder {
 public:
  FlvAudioDecoder();
  ~FlvAudioDecoder();
  FlvAudioDecoder(const FlvAudioDecoder&) = delete;
  FlvAudioDecoder& operator=(const FlvAudioDecoder&) = delete;

  // Decodes one tag body into `out` (rate and channels set, samples
  // appended; none for an AAC configuration tag or an MP3 frame still
  // incomplete). Throws SoundError naming the format when it cannot be
  // decoded here.
  void Decode(std::span<const std::uint8_t> tag, Pcm& out);
  // Forgets what the decoders hold (after a seek); the AAC setup stays.
  void Reset();

 private:
  int format_ = -1;  // of the decoders made
  int rate_ = 0, channels_ = 0;
  std::unique_ptr<Mp3Decoder> mp3_;
  std::unique_ptr<AvDecoder> av_;
  std::vector<std::uint8_t> aacConfig_;
};

}  // namespace quarvel::player::sound
