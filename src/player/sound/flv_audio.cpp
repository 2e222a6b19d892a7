#include "player/sound/flv_audio.h"

#include <string>

#include "player/sound/sound_format.h"

namespace quarvel::player::sound {
namespace {

constexpr int kRates[4] = {5512, 11025, 22050, 44100};

std::string FormatName(int format) {
  switch (format) {
    case 0: return "PCM";
    case 1: return "ADPCM";
    case 2: return "MP3";
    case 3: return "PCM little-endian";
    case 4: case 5: case 6: return "Nellymoser";
    case 7: return "G.711 A-law";
    case 8: return "G.711 mu-law";
    case 10: return "AAC";
    case 11: return "Speex";
    case 14: return "MP3 8 kHz";
    default: return "sound format " + std::to_string(format);
  }
}

}  // namespace

FlvAudioDecoder::FlvAudioDecoder() = default;
FlvAudioDecoder::~FlvAudioDecoder() = default;

void FlvAudioDecoder::Reset() {
  if (mp3_) mp3_->Reset();
  // libavcodec decoders keep little between packets of these codecs; a new
  // one starts clean.
  av_.reset();
  format_ = -1;
}

void FlvAudioDecoder::Decode(std::span<const std::uint8_t> tag, Pcm& out) {
  if (tag.empty()) return;
  const int format = tag[0] >> 4;
  const int rate = kRates[(tag[0] >> 2) & 3];
  const bool sixteen = (tag[0] & 2) != 0;
  const int channels = (tag[0] & 1) ? 2 : 1;
  auto data = tag.subspan(1);
  if (format != format_ && format != 10) {
    mp3_.reset();
    av_.reset();
  }
  switch (format) {
    case 0:
    case 3:
      out.rate = rate, out.channels = channels;
      out.samples = DecodeUncompressed(data, sixteen, channels, false);
      break;
    case 1:
      out.rate = rate, out.channels = channels;
      out.samples = DecodeAdpcm(data, channels);
      break;
    case 2:
    case 14: {
      if (!mp3_) mp3_ = std::make_unique<Mp3Decoder>();
      mp3_->Feed(data, out.samples);
      out.rate = mp3_->Rate() > 0 ? mp3_->Rate() : (format == 14 ? 8000 : rate);
      out.channels = Mp3Decoder::kChannels;
      break;
    }
    case 4:
    case 5:
    case 6:
    case 11: {
      const int coded = format == 4 || format == 11 ? 16000 : format == 5 ? 8000 : rate;
      const auto kind = format == 11 ? AvDecoder::Kind::kSpeex : AvDecoder::Kind::kNellymoser;
      if (!av_) av_ = std::make_unique<AvDecoder>(kind, coded, 1);
      av_->Decode(data, out.samples);
      out.rate = av_->Rate(), out.channels = av_->Channels();
      break;
    }
    case 10: {
      if (data.empty()) return;
      const int packetType = data[0];
      data = data.subspan(1);
      if (packetType == 0) {
        aacConfig_.assign(data.begin(), data.end());
        av_.reset();
        format_ = format;
        return;
      }
      if (aacConfig_.empty()) throw SoundError("AAC: audio before its AudioSpecificConfig");
      if (!av_ || format_ != 10) av_ = std::make_unique<AvDecoder>(AvDecoder::Kind::kAac, rate, channels, aacConfig_);
      av_->Decode(data, out.samples);
      out.rate = av_->Rate(), out.channels = av_->Channels();
      break;
    }
    default:
      throw SoundError(FormatName(format) + ": not played");
  }
  format_ = format;
  rate_ = out.rate;
  channels_ = out.channels;
}

}  // namespace quarvel::player::sound
