#pragma once
// Sound decoders: uncompressed PCM, SWF ADPCM, MP3 (libmpg123), Nellymoser
// and Speex (libavcodec), and the resampler to the bus format
// (44100 Hz stereo 16-bit, libswresample).

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "player/sound/sound_format.h"

struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;
struct mpg123_handle_struct;

namespace quarvel::player::sound {

// Interleaved 16-bit samples at `rate` with `channels` channels.
struct Pcm {
  int rate = 44100;
  int channels = 2;
  std::vector<std::int16_t> samples;
  std::size_t Frames() const { return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0; }
};

// 8-bit data is unsigned, 16-bit data little- or big-endian; a trailing
// partial sample frame is dropped. At most max_frames frames.
std::vector<std::int16_t> DecodeUncompressed(std::span<const std::uint8_t> data, bool sixteenBit, int channels,
                                             bool bigEndian, std::size_t max_frames = SIZE_MAX);

// SWF ADPCM: a 2-bit code size (2..5 bits), then packets of 4096 sample
// frames, each opening with a 16-bit sample and a 6-bit step index per
// channel. Decodes while whole sample frames remain, at most max_frames.
std::vector<std::int16_t> DecodeAdpcm(std::span<const std::uint8_t> data, int channels,
                                      std::size_t max_frames = SIZE_MAX);

// MP3 frames in, interleaved stereo 16-bit out (mono is doubled). Keeps its
// state between calls, as consecutive stream blocks need.
class Mp3Decoder {
 public:
  Mp3Decoder();
  ~Mp3Decoder();
  Mp3Decoder(const Mp3Decoder&) = delete;
  Mp3Decoder& operator=(const Mp3Decoder&) = delete;

  // Appends what the new bytes complete; rate() is known after the first frame.
  void Feed(std::span<const std::uint8_t> data, std::vector<std::int16_t>& out);
  int Rate() const { return rate_; }
  static constexpr int kChannels = 2;
  // Forgets buffered bytes and state (after a seek).
  void Reset();

 private:
  struct Deleter {
    void operator()(mpg123_handle_struct* h) const;
  };
  void Open();
  std::unique_ptr<mpg123_handle_struct, Deleter> handle_;
  int rate_ = 0;
};

// A libavcodec audio decoder giving interleaved 16-bit samples at its own
// rate and channel count (Nellymoser, Speex; also the SWF ADPCM decoder
// used to check ours).
class AvDecoder {
 public:
  enum class Kind { kNellymoser, kSpeex, kAdpcmSwf, kAac };
  // Throws SoundError when the linked libavcodec lacks the decoder.
  // `config`: the codec's setup (AAC: the AudioSpecificConfig).
  AvDecoder(Kind kind, int rate, int channels, std::span<const std::uint8_t> config = {});
  ~AvDecoder();
  AvDecoder(const AvDecoder&) = delete;
  AvDecoder& operator=(const AvDecoder&) = delete;

  static bool Available(Kind kind);
  // Decodes one packet; appends interleaved samples.
  void Decode(std::span<const std::uint8_t> packet, std::vector<std::int16_t>& out);
  int Rate() const;
  int Channels() const;

 private:
  struct CtxDeleter { void operator()(AVCodecContext* c) const; };
  struct PacketDeleter { void operator()(AVPacket* p) const; };
  struct FrameDeleter { void operator()(AVFrame* f) const; };
  void Drain(std::vector<std::int16_t>& out);
  std::unique_ptr<AVCodecContext, CtxDeleter> ctx_;
  std::unique_ptr<AVPacket, PacketDeleter> packet_;
  std::unique_ptr<AVFrame, FrameDeleter> frame_;
};

// Converts interleaved 16-bit samples of any rate and 1 or 2 channels to
// 44100 Hz stereo, keeping filter state between calls.
class Resampler {
 public:
  static constexpr int kRate = 44100;
  Resampler(int rate, int channels);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  void Convert(std::span<const std::int16_t> in, std::vector<std::int16_t>& out);
  // Appends what the filter still holds.
  void Flush(std::vector<std::int16_t>& out);
  int Rate() const { return rate_; }
  int Channels() const { return channels_; }

 private:
  struct Deleter { void operator()(SwrContext* s) const; };
  int rate_;
  int channels_;
  std::unique_ptr<SwrContext, Deleter> swr_;  // null for a plain copy or channel doubling
};

// Decodes a DefineSound to 44100 Hz stereo. Throws SoundError when the data
// cannot be decoded (or its codec is not available).
std::vector<std::int16_t> DecodeDefineSound(const DefineSound& sound);

}  // namespace quarvel::player::sound
