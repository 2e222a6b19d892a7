#include "player/sound/sound_format.h"

#include <algorithm>

#include "player/swf/reader.h"

namespace quarvel::player::sound {
namespace {

constexpr int kRates[4] = {5512, 11025, 22050, 44100};

// Runs a parse over a tag body and turns reader faults into SoundError
// naming the tag.
template <typename F>
auto Parse(std::string_view tag, std::span<const std::uint8_t> body, F&& f) {
  try {
    swf::Reader r(body);
    return f(r);
  } catch (const swf::SwfError& e) {
    throw SoundError(std::string(tag) + ": " + e.what());
  }
}

SoundFormat ReadFormat(swf::Reader& r, std::string_view tag) {
  const std::uint8_t byte = r.U8("sound format");
  try {
    return ParseFormatByte(byte);
  } catch (const SoundError& e) {
    throw SoundError(std::string(tag) + ": " + e.what());
  }
}

}  // namespace

std::string_view CodecName(Codec codec) {
  switch (codec) {
    case Codec::kPcmNative: return "PCM native";
    case Codec::kAdpcm: return "ADPCM";
    case Codec::kMp3: return "MP3";
    case Codec::kPcmLittle: return "PCM little-endian";
    case Codec::kNelly16k: return "Nellymoser 16 kHz";
    case Codec::kNelly8k: return "Nellymoser 8 kHz";
    case Codec::kNelly: return "Nellymoser";
    case Codec::kSpeex: return "Speex";
  }
  return "unknown";
}

int SoundFormat::CodedRate() const {
  switch (codec) {
    case Codec::kNelly16k:
    case Codec::kSpeex: return 16000;
    case Codec::kNelly8k: return 8000;
    default: return rate;
  }
}

SoundFormat ParseFormatByte(std::uint8_t byte) {
  const int codec = byte >> 4;
  if (codec > 6 && codec != 11) throw SoundError("unknown sound format " + std::to_string(codec));
  SoundFormat f;
  f.codec = static_cast<Codec>(codec);
  f.rate = kRates[(byte >> 2) & 3];
  f.sixteenBit = (byte & 2) != 0;
  f.stereo = (byte & 1) != 0;
  // These are mono whatever the flag says; their decoders know no stereo.
  if (f.codec == Codec::kNelly16k || f.codec == Codec::kNelly8k || f.codec == Codec::kNelly ||
      f.codec == Codec::kSpeex) {
    f.stereo = false;
  }
  return f;
}

DefineSound ParseDefineSound(std::span<const std::uint8_t> body) {
  return Parse("DefineSound", body, [](swf::Reader& r) {
    DefineSound s;
    s.id = r.U16("SoundId");
    s.format = ReadFormat(r, "DefineSound");
    s.sampleCount = r.U32("SoundSampleCount");
    if (s.format.codec == Codec::kMp3) s.seekSamples = r.S16("SeekSamples");
    s.data = r.Rest();
    return s;
  });
}

StreamHead ParseStreamHead(std::span<const std::uint8_t> body) {
  return Parse("SoundStreamHead", body, [](swf::Reader& r) {
    StreamHead h;
    // The playback byte's high nibble is reserved.
    h.playback = ParseFormatByte(r.U8("playback format") & 0x0F);
    h.stream = ReadFormat(r, "SoundStreamHead");
    h.samplesPerFrame = r.U16("StreamSoundSampleCount");
    // Some writers leave LatencySeek out.
    if (h.stream.codec == Codec::kMp3 && r.Remaining() >= 2) h.latencySeek = r.S16("LatencySeek");
    return h;
  });
}

SoundInfo ParseSoundInfo(std::span<const std::uint8_t> info) {
  return Parse("SOUNDINFO", info, [](swf::Reader& r) {
    SoundInfo s;
    const std::uint8_t flags = r.U8("SOUNDINFO flags");
    s.syncStop = (flags & 0x20) != 0;
    s.noMultiple = (flags & 0x10) != 0;
    const bool hasEnvelope = (flags & 0x08) != 0;
    const bool hasLoops = (flags & 0x04) != 0;
    const bool hasOut = (flags & 0x02) != 0;
    const bool hasIn = (flags & 0x01) != 0;
    if (hasIn) s.inPoint = r.U32("InPoint");
    if (hasOut) s.outPoint = r.U32("OutPoint");
    if (hasLoops) s.loops = std::max<int>(1, r.U16("LoopCount"));
    if (hasEnvelope) {
      const int n = r.U8("EnvPoints");
      for (int i = 0; i < n; ++i) {
        EnvelopePoint p;
        p.pos44 = r.U32("Pos44");
        p.left = r.U16("LeftLevel");
        p.right = r.U16("RightLevel");
        s.envelope.push_back(p);
      }
    }
    return s;
  });
}

Mp3StreamBlock ParseMp3StreamBlock(std::span<const std::uint8_t> body) {
  return Parse("SoundStreamBlock", body, [](swf::Reader& r) {
    Mp3StreamBlock b;
    b.sampleCount = r.U16("SampleCount");
    b.seekSamples = r.S16("SeekSamples");
    b.frames = r.Rest();
    return b;
  });
}

}  // namespace quarvel::player::sound
