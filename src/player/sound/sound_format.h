#pragma once
// The sound records of SWF tags: DefineSound, SoundStreamHead(2), the
// SOUNDINFO of StartSound, and the MP3 prefix of stream blocks.

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::player::sound {

// A fault in a sound tag or its data, naming the tag and the problem.
class SoundError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Codec : std::uint8_t {
  kPcmNative = 0,  // "native" byte order: little-endian in every file seen
  kAdpcm = 1,
  kMp3 = 2,
  kPcmLittle = 3,
  kNelly16k = 4,
  kNelly8k = 5,
  kNelly = 6,
  kSpeex = 11,
};

// Codec name for logs and counts ("ADPCM", "MP3", ...).
std::string_view CodecName(Codec codec);

struct SoundFormat {
  Codec codec = Codec::kPcmLittle;
  int rate = 5512;  // Hz, as the rate field says (5512, 11025, 22050, 44100)
  bool sixteenBit = true;
  bool stereo = false;

  int Channels() const { return stereo ? 2 : 1; }
  // The rate the data is really coded at (Nellymoser 8k/16k, Speex 16k
  // ignore the rate field).
  int CodedRate() const;
};

// Reads the 4+2+1+1 bit format byte of DefineSound and stream heads.
// Throws SoundError for codec numbers the format does not define.
SoundFormat ParseFormatByte(std::uint8_t byte);

struct DefineSound {
  int id = 0;
  SoundFormat format;
  std::uint32_t sampleCount = 0;      // per channel, at the coded rate
  std::span<const std::uint8_t> data; // codec data (for MP3 after SeekSamples)
  int seekSamples = 0;                // MP3 only: samples to skip at the start
};
DefineSound ParseDefineSound(std::span<const std::uint8_t> body);

struct StreamHead {
  SoundFormat playback;  // the rate the player should use
  SoundFormat stream;    // the format of the blocks
  int samplesPerFrame = 0;
  int latencySeek = 0;   // MP3 only
};
StreamHead ParseStreamHead(std::span<const std::uint8_t> body);

struct EnvelopePoint {
  std::uint32_t pos44 = 0;     // position in 44.1 kHz samples
  std::uint16_t left = 32768;  // 0 .. 32768
  std::uint16_t right = 32768;
};

struct SoundInfo {
  bool syncStop = false;
  bool noMultiple = false;
  std::optional<std::uint32_t> inPoint;   // 44.1 kHz samples
  std::optional<std::uint32_t> outPoint;  // 44.1 kHz samples
  int loops = 1;                          // 0 counts as one
  std::vector<EnvelopePoint> envelope;
};
SoundInfo ParseSoundInfo(std::span<const std::uint8_t> info);

// An MP3 stream block: SampleCount and SeekSamples, then MP3 frames.
struct Mp3StreamBlock {
  int sampleCount = 0;
  int seekSamples = 0;
  std::span<const std::uint8_t> frames;
};
Mp3StreamBlock ParseMp3StreamBlock(std::span<const std::uint8_t> body);

}  // namespace quarvel::player::sound
