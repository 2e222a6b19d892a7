#include "player/sound/decoders.h"

#include <mpg123.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "platform/ffmpeg/ffmpeg_api.h"

namespace quarvel::player::sound {
namespace {

// Event sounds longer than this are cut: a bogus sample count must not
// make us hold gigabytes.
constexpr std::size_t kMaxEventFrames = std::size_t{600} * Resampler::kRate;

constexpr std::array<int, 89> kStepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int kIndex2[] = {-1, 2};
constexpr int kIndex3[] = {-1, -1, 2, 4};
constexpr int kIndex4[] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kIndex5[] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};
constexpr const int* kIndexTables[] = {kIndex2, kIndex3, kIndex4, kIndex5};

// Most significant bit first, as SWF packs its bit fields.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> data) : data_(data) {}
  std::size_t BitsLeft() const { return data_.size() * 8 - pos_; }
  std::uint32_t Read(unsigned n) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) {
      const std::uint8_t byte = data_[pos_ >> 3];
      v = (v << 1) | ((byte >> (7 - (pos_ & 7))) & 1u);
      ++pos_;
    }
    return v;
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

std::int16_t Clamp16(std::int64_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

}  // namespace

std::vector<std::int16_t> DecodeUncompressed(std::span<const std::uint8_t> data, bool sixteenBit, int channels,
                                             bool bigEndian, std::size_t max_frames) {
  const std::size_t bytesPerFrame = static_cast<std::size_t>(channels) * (sixteenBit ? 2 : 1);
  const std::size_t frames = std::min(data.size() / bytesPerFrame, max_frames);
  std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (sixteenBit) {
      const std::uint8_t a = data[2 * i], b = data[2 * i + 1];
      out[i] = static_cast<std::int16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    } else {
      out[i] = static_cast<std::int16_t>((data[i] - 128) * 256);
    }
  }
  return out;
}

std::vector<std::int16_t> DecodeAdpcm(std::span<const std::uint8_t> data, int channels, std::size_t max_frames) {
  std::vector<std::int16_t> out;
  if (channels < 1 || channels > 2) throw SoundError("ADPCM: " + std::to_string(channels) + " channels");
  BitReader bits(data);
  if (bits.BitsLeft() < 2) return out;
  const unsigned codeBits = bits.Read(2) + 2;
  const int* indexTable = kIndexTables[codeBits - 2];
  const std::uint32_t signMask = 1u << (codeBits - 1);
  const unsigned ch = static_cast<unsigned>(channels);
  std::array<std::int32_t, 2> predictor{};
  std::array<int, 2> index{};
  std::size_t frames = 0;
  while (frames < max_frames && bits.BitsLeft() >= 22 * ch) {
    for (unsigned c = 0; c < ch; ++c) {
      predictor[c] = static_cast<std::int16_t>(bits.Read(16));
      index[c] = static_cast<int>(bits.Read(6));
      out.push_back(static_cast<std::int16_t>(predictor[c]));
    }
    ++frames;
    for (int n = 1; n < 4096 && frames < max_frames && bits.BitsLeft() >= codeBits * ch; ++n, ++frames) {
      for (unsigned c = 0; c < ch; ++c) {
        const std::uint32_t code = bits.Read(codeBits);
        // diff = (code + 0.5) * step / 2^(bits-2), built bit by bit.
        int step = kStepTable[static_cast<std::size_t>(index[c])];
        std::int32_t diff = 0;
        for (std::uint32_t k = signMask >> 1; k != 0; k >>= 1) {
          if (code & k) diff += step;
          step >>= 1;
        }
        diff += step;
        predictor[c] = Clamp16((code & signMask) ? predictor[c] - diff : predictor[c] + diff);
        index[c] = std::clamp(index[c] + indexTable[code & ~signMask], 0, 88);
        out.push_back(static_cast<std::int16_t>(predictor[c]));
      }
    }
  }
  return out;
}

// ---- MP3 ----

void Mp3Decoder::Deleter::operator()(mpg123_handle_struct* h) const { mpg123_delete(h); }

Mp3Decoder::Mp3Decoder() { Open(); }
Mp3Decoder::~Mp3Decoder() = default;

void Mp3Decoder::Open() {
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
  int err = MPG123_OK;
  handle_.reset(mpg123_new(nullptr, &err));
  if (!handle_) throw SoundError(std::string("MP3: cannot make a decoder: ") + mpg123_plain_strerror(err));
  mpg123_handle* h = handle_.get();
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  // Sample counts in SWF tags assume no gapless trimming.
  mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
  // Blocks hold whole frames: decode each at once instead of waiting for the
  // next frame's header, so a block's sound is there in its own frame.
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_NO_READAHEAD, 0.0);
  mpg123_format_none(h);
  const long* rates = nullptr;
  std::size_t count = 0;
  mpg123_rates(&rates, &count);
  for (std::size_t i = 0; i < count; ++i) mpg123_format(h, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open_feed(h) != MPG123_OK) throw SoundError(std::string("MP3: ") + mpg123_strerror(h));
  rate_ = 0;
}

void Mp3Decoder::Reset() { Open(); }

void Mp3Decoder::Feed(std::span<const std::uint8_t> data, std::vector<std::int16_t>& out) {
  mpg123_handle* h = handle_.get();
  if (!data.empty() && mpg123_feed(h, data.data(), data.size()) != MPG123_OK) {
    throw SoundError(std::string("MP3: ") + mpg123_strerror(h));
  }
  // Appended as decoded: no zero fill of the output, which a caller may
  // have reserved for the whole sound.
  std::array<std::int16_t, 8192> buf;
  for (;;) {
    std::size_t done = 0;
    const int rc = mpg123_read(h, reinterpret_cast<unsigned char*>(buf.data()), sizeof buf, &done);
    if (done > 0) out.insert(out.end(), buf.data(), buf.data() + done / 2);
    if (rc == MPG123_NEW_FORMAT) {
      long rate = 0;
      int channels = 0, enc = 0;
      mpg123_getformat(h, &rate, &channels, &enc);
      rate_ = static_cast<int>(rate);
      continue;
    }
    if (rc == MPG123_OK) continue;
    if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) break;
    // A damaged frame: mpg123 resyncs on the next feed; keep what we have.
    break;
  }
}

// ---- libavcodec ----

void AvDecoder::CtxDeleter::operator()(AVCodecContext* c) const { ffmpeg::Av().avcodec_free_context(&c); }
void AvDecoder::PacketDeleter::operator()(AVPacket* p) const { ffmpeg::Av().av_packet_free(&p); }
void AvDecoder::FrameDeleter::operator()(AVFrame* f) const { ffmpeg::Av().av_frame_free(&f); }

namespace {
AVCodecID CodecId(AvDecoder::Kind kind) {
  switch (kind) {
    case AvDecoder::Kind::kNellymoser: return AV_CODEC_ID_NELLYMOSER;
    case AvDecoder::Kind::kSpeex: return AV_CODEC_ID_SPEEX;
    case AvDecoder::Kind::kAdpcmSwf: return AV_CODEC_ID_ADPCM_SWF;
    case AvDecoder::Kind::kAac: return AV_CODEC_ID_AAC;
  }
  return AV_CODEC_ID_NONE;
}
const char* KindName(AvDecoder::Kind kind) {
  switch (kind) {
    case AvDecoder::Kind::kNellymoser: return "Nellymoser";
    case AvDecoder::Kind::kSpeex: return "Speex";
    case AvDecoder::Kind::kAdpcmSwf: return "ADPCM";
    case AvDecoder::Kind::kAac: return "AAC";
  }
  return "?";
}
}  // namespace

bool AvDecoder::Available(Kind kind) { return ffmpeg::Av().avcodec_find_decoder(CodecId(kind)) != nullptr; }

AvDecoder::AvDecoder(Kind kind, int rate, int channels, std::span<const std::uint8_t> config) {
  const AVCodec* codec = ffmpeg::Av().avcodec_find_decoder(CodecId(kind));
  const std::string name = KindName(kind);
  if (!codec) throw SoundError(name + ": libavcodec has no decoder for it");
  ctx_.reset(ffmpeg::Av().avcodec_alloc_context3(codec));
  packet_.reset(ffmpeg::Av().av_packet_alloc());
  frame_.reset(ffmpeg::Av().av_frame_alloc());
  if (!ctx_ || !packet_ || !frame_) throw SoundError(name + ": out of memory");
  ctx_->sample_rate = rate;
  ffmpeg::Av().av_channel_layout_default(&ctx_->ch_layout, channels);
  if (!config.empty()) {
    if (config.size() > 4096) throw SoundError(name + ": decoder setup of " + std::to_string(config.size()) + " bytes");
    ctx_->extradata = static_cast<std::uint8_t*>(ffmpeg::Av().av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx_->extradata) throw SoundError(name + ": out of memory");
    std::memcpy(ctx_->extradata, config.data(), config.size());
    ctx_->extradata_size = static_cast<int>(config.size());
  }
  if (ffmpeg::Av().avcodec_open2(ctx_.get(), codec, nullptr) < 0) throw SoundError(name + ": cannot open the decoder");
}

AvDecoder::~AvDecoder() = default;

int AvDecoder::Rate() const { return ctx_->sample_rate; }
int AvDecoder::Channels() const { return ctx_->ch_layout.nb_channels; }

void AvDecoder::Decode(std::span<const std::uint8_t> packet, std::vector<std::int16_t>& out) {
  if (packet.empty()) return;
  // Decoders may read a little past the end.
  std::vector<std::uint8_t> padded(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::memcpy(padded.data(), packet.data(), packet.size());
  AVPacket* p = packet_.get();
  p->data = padded.data();
  p->size = static_cast<int>(packet.size());
  const int rc = ffmpeg::Av().avcodec_send_packet(ctx_.get(), p);
  p->data = nullptr;
  p->size = 0;
  if (rc < 0 && rc != AVERROR(EAGAIN)) return;  // a bad packet is skipped as a player would
  Drain(out);
}

void AvDecoder::Drain(std::vector<std::int16_t>& out) {
  AVFrame* f = frame_.get();
  while (ffmpeg::Av().avcodec_receive_frame(ctx_.get(), f) == 0) {
    const int ch = f->ch_layout.nb_channels;
    const int n = f->nb_samples;
    const auto fmt = static_cast<AVSampleFormat>(f->format);
    const bool planar = ffmpeg::Av().av_sample_fmt_is_planar(fmt) != 0;
    for (int i = 0; i < n; ++i) {
      for (int c = 0; c < ch; ++c) {
        const int plane = planar ? c : 0;
        const int idx = planar ? i : i * ch + c;
        std::int16_t s = 0;
        switch (ffmpeg::Av().av_get_packed_sample_fmt(fmt)) {
          case AV_SAMPLE_FMT_S16: s = reinterpret_cast<const std::int16_t*>(f->extended_data[plane])[idx]; break;
          case AV_SAMPLE_FMT_S32:
            s = static_cast<std::int16_t>(reinterpret_cast<const std::int32_t*>(f->extended_data[plane])[idx] >> 16);
            break;
          case AV_SAMPLE_FMT_FLT:
            s = Clamp16(static_cast<std::int64_t>(
                std::lround(reinterpret_cast<const float*>(f->extended_data[plane])[idx] * 32767.0f)));
            break;
          default: break;
        }
        out.push_back(s);
      }
    }
    ffmpeg::Av().av_frame_unref(f);
  }
}

// ---- resampling ----

void Resampler::Deleter::operator()(SwrContext* s) const { ffmpeg::Av().swr_free(&s); }

Resampler::Resampler(int rate, int channels) : rate_(rate), channels_(channels) {
  if (rate <= 0 || channels < 1 || channels > 2) {
    throw SoundError("resampler: unsupported input " + std::to_string(rate) + " Hz, " + std::to_string(channels) +
                     " channels");
  }
  if (rate == kRate) return;
  SwrContext* swr = nullptr;
  AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_STEREO;
  AVChannelLayout inLayout;
  ffmpeg::Av().av_channel_layout_default(&inLayout, channels);
  if (ffmpeg::Av().swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, kRate, &inLayout, AV_SAMPLE_FMT_S16, rate, 0,
                          nullptr) < 0 ||
      !swr) {
    throw SoundError("resampler: cannot allocate");
  }
  swr_.reset(swr);
  if (ffmpeg::Av().swr_init(swr) < 0) throw SoundError("resampler: cannot initialise");
}

Resampler::~Resampler() = default;

void Resampler::Convert(std::span<const std::int16_t> in, std::vector<std::int16_t>& out) {
  const std::size_t frames = in.size() / static_cast<std::size_t>(channels_);
  if (!swr_) {
    if (channels_ == 2) {
      out.insert(out.end(), in.begin(), in.begin() + static_cast<std::ptrdiff_t>(frames * 2));
    } else {
      for (std::size_t i = 0; i < frames; ++i) {
        out.push_back(in[i]);
        out.push_back(in[i]);
      }
    }
    return;
  }
  if (frames == 0) return;
  const int room = ffmpeg::Av().swr_get_out_samples(swr_.get(), static_cast<int>(frames));
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(std::max(room, 0)) * 2);
  auto* dst = reinterpret_cast<std::uint8_t*>(out.data() + at);
  const auto* src = reinterpret_cast<const std::uint8_t*>(in.data());
  const int got = ffmpeg::Av().swr_convert(swr_.get(), &dst, room, &src, static_cast<int>(frames));
  out.resize(at + static_cast<std::size_t>(std::max(got, 0)) * 2);
}

void Resampler::Flush(std::vector<std::int16_t>& out) {
  if (!swr_) return;
  const int room = ffmpeg::Av().swr_get_out_samples(swr_.get(), 0) + 64;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(room) * 2);
  auto* dst = reinterpret_cast<std::uint8_t*>(out.data() + at);
  const int got = ffmpeg::Av().swr_convert(swr_.get(), &dst, room, nullptr, 0);
  out.resize(at + static_cast<std::size_t>(std::max(got, 0)) * 2);
}

namespace {
std::vector<std::int16_t> ToBus(std::vector<std::int16_t>&& pcm, int rate, int channels) {
  // Already the bus's format: the samples themselves, not a copy of them.
  if (rate == Resampler::kRate && channels == 2) {
    pcm.resize(pcm.size() & ~std::size_t{1});  // whole frames, as the resampler takes them
    return std::move(pcm);
  }
  Resampler r(rate, channels);
  std::vector<std::int16_t> out;
  out.reserve(pcm.size() * 44100 / static_cast<std::size_t>(std::max(rate, 1)) * 2 / static_cast<std::size_t>(channels) + 64);
  r.Convert(pcm, out);
  r.Flush(out);
  return out;
}
}  // namespace

std::vector<std::int16_t> DecodeDefineSound(const DefineSound& s) {
  const SoundFormat& f = s.format;
  const int ch = f.Channels();
  // At most kMaxEventFrames after resampling.
  const std::size_t maxIn = std::min<std::size_t>(s.sampleCount,
      kMaxEventFrames * static_cast<std::size_t>(f.CodedRate()) / Resampler::kRate + 1);
  std::vector<std::int16_t> pcm;
  int rate = f.CodedRate();
  int channels = ch;
  switch (f.codec) {
    case Codec::kPcmNative:
    case Codec::kPcmLittle:
      pcm = DecodeUncompressed(s.data, f.sixteenBit, ch, false, maxIn);
      break;
    case Codec::kAdpcm:
      pcm = DecodeAdpcm(s.data, ch, maxIn);
      break;
    case Codec::kMp3: {
      Mp3Decoder mp3;
      // Room for the whole sound at once: growing by doubling copies it and
      // touches fresh pages each time. A layer III frame of 576 samples
      // takes at least 24 bytes, which bounds a bogus sample count.
      const std::size_t expected = std::min(maxIn, s.data.size() * 24) +
                                   static_cast<std::size_t>(std::max(0, s.seekSamples)) + 2304;
      pcm.reserve(expected * Mp3Decoder::kChannels);
      mp3.Feed(s.data, pcm);
      if (mp3.Rate() == 0) throw SoundError("DefineSound " + std::to_string(s.id) + ": no MP3 frame in the data");
      rate = mp3.Rate();
      channels = Mp3Decoder::kChannels;
      // The encoder's delay: skip SeekSamples, keep SampleCount.
      const std::size_t skip = std::min(pcm.size() / 2, static_cast<std::size_t>(std::max(0, s.seekSamples)));
      pcm.erase(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(skip * 2));
      if (pcm.size() / 2 > maxIn) pcm.resize(maxIn * 2);
      break;
    }
    case Codec::kNelly16k:
    case Codec::kNelly8k:
    case Codec::kNelly: {
      AvDecoder dec(AvDecoder::Kind::kNellymoser, rate, 1);
      // 64-byte blocks of 256 samples; feed a few at a time.
      for (std::size_t at = 0; at + 64 <= s.data.size(); at += 64 * 16) {
        dec.Decode(s.data.subspan(at, std::min<std::size_t>(64 * 16, (s.data.size() - at) / 64 * 64)), pcm);
      }
      rate = dec.Rate();
      channels = 1;
      if (pcm.size() > maxIn) pcm.resize(maxIn);
      break;
    }
    case Codec::kSpeex: {
      AvDecoder dec(AvDecoder::Kind::kSpeex, rate, 1);
      dec.Decode(s.data, pcm);
      rate = dec.Rate();
      channels = dec.Channels();
      break;
    }
  }
  if (pcm.empty()) return {};
  auto out = ToBus(std::move(pcm), rate, channels);
  if (out.size() / 2 > kMaxEventFrames) out.resize(kMaxEventFrames * 2);
  return out;
}

}  // namespace quarvel::player::sound
