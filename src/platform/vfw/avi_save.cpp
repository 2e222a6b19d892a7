// AVISaveV: one pass over the source streams into a new AVI file (our
// muxer, laid out as FFmpeg's), compressing video with the chosen
// compressor's encoder and copying everything else unchanged.

#include <algorithm>
#include <cstring>
#include <system_error>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

#include "platform/vfw/avi_muxer.h"
#include "platform/vfw/ffmpeg_p.h"

namespace quarvel::vfw {

namespace detail {

std::optional<AviAudioDesc> AviAudioDescOf(std::span<const std::uint8_t> format) {
  const WaveCodec codec = WaveCodecOf(format);
  if (codec.id == AV_CODEC_ID_NONE) return std::nullopt;
  WAVEFORMATEX wf;
  std::memcpy(&wf, format.data(), std::min(format.size(), sizeof wf));
  if (format.size() < sizeof wf) wf.cbSize = 0;
  AviAudioDesc a;
  a.channels = wf.nChannels;
  a.sample_rate = wf.nSamplesPerSec;
  a.block_align = wf.nBlockAlign;
  a.average_bytes_per_second = wf.nAvgBytesPerSec;
  a.samples_per_block = codec.samples_per_block;
  // The tag and sample size of the codec; PCM's byte rate is exact, the others' as stated.
  bool pcm = true;
  switch (codec.id) {
    case AV_CODEC_ID_PCM_U8: a.tag = 0x0001, a.bits = 8; break;
    case AV_CODEC_ID_PCM_S16LE: a.tag = 0x0001, a.bits = 16; break;
    case AV_CODEC_ID_PCM_S24LE: a.tag = 0x0001, a.bits = 24; break;
    case AV_CODEC_ID_PCM_S32LE: a.tag = 0x0001, a.bits = 32; break;
    case AV_CODEC_ID_PCM_F32LE: a.tag = 0x0003, a.bits = 32; break;
    case AV_CODEC_ID_PCM_F64LE: a.tag = 0x0003, a.bits = 64; break;
    case AV_CODEC_ID_PCM_ALAW: a.tag = 0x0006, a.bits = 8, pcm = false; break;
    case AV_CODEC_ID_PCM_MULAW: a.tag = 0x0007, a.bits = 8, pcm = false; break;
    case AV_CODEC_ID_ADPCM_IMA_WAV: a.tag = 0x0011, a.bits = 4, pcm = false; break;
    case AV_CODEC_ID_ADPCM_MS: a.tag = 0x0002, a.bits = 4, pcm = false; break;
    default: return std::nullopt;
  }
  a.bytes_per_second = pcm ? a.sample_rate * a.block_align : wf.nAvgBytesPerSec;
  a.force_cb_size = a.tag != 0x0001;
  if (codec.id == AV_CODEC_ID_ADPCM_IMA_WAV) {
    a.extra = {std::uint8_t(codec.samples_per_block), std::uint8_t(codec.samples_per_block >> 8)};
  } else if (codec.id == AV_CODEC_ID_ADPCM_MS && format.size() > sizeof wf) {
    const std::size_t n = std::min<std::size_t>(wf.cbSize, format.size() - sizeof wf);
    a.extra.assign(format.begin() + sizeof wf, format.begin() + std::ptrdiff_t(sizeof wf + n));
  }
  // More than two channels, more than 48 kHz or more than 16 bits: WAVE_FORMAT_EXTENSIBLE.
  a.extensible = a.channels > 2 || a.sample_rate > 48000 || a.bits > 16;
  if (a.extensible) {
    AVChannelLayout layout{};
    ffmpeg::Av().av_channel_layout_default(&layout, a.channels);
    a.channel_mask =
        layout.order == AV_CHANNEL_ORDER_NATIVE && layout.u.mask < 0x40000 ? std::uint32_t(layout.u.mask) : 0;
  }
  return a;
}

}  // namespace detail

namespace {

using namespace detail;


struct Track {
  PAVISTREAM source = nullptr;
  AVISTREAMINFO info;
  int index = 0;
  AviStreamDesc desc;
  AVRational unit{1, 1};  // duration of one source sample
  bool video = false;
  bool palette_due = false;
  DibFormat dib;
  CodecContextPtr encoder;
  std::unique_ptr<DibConverter> converter;
  FramePtr frame;
  LONG next = 0;
  LONG end = 0;
  LONG chunk = 1;  // samples per packet when copying sound
  std::vector<std::uint8_t> buffer;
};

class Saver {
 public:
  Saver(AVISAVECALLBACK callback) : callback_(callback) {}

  HRESULT Run(const std::filesystem::path& file, int n, PAVISTREAM* streams, AVICOMPRESSOPTIONS** options) {
    tracks_.resize(std::size_t(n));
    for (int i = 0; i < n; ++i) {
      tracks_[std::size_t(i)].index = i;
      HRESULT r = AddTrack(tracks_[std::size_t(i)], streams[i], options ? options[i] : nullptr);
      if (r != AVIERR_OK) return r;
    }
    PlanChunks();
    std::vector<AviStreamDesc> descs;
    for (const auto& t : tracks_) descs.push_back(t.desc);
    HRESULT r = muxer_.Open(file, std::move(descs));
    opened_ = r != AVIERR_FILEOPEN;
    if (r != AVIERR_OK) return r;

    for (;;) {
      Track* t = NextTrack();
      if (!t) break;
      r = t->video ? WriteVideo(*t) : CopySamples(*t);
      if (r != AVIERR_OK) return r;
      if (!Progress(*t)) return AVIERR_USERABORT;
    }
    for (auto& t : tracks_)
      if (t.encoder) {
        r = Encode(t, nullptr);
        if (r != AVIERR_OK) return r;
      }
    r = muxer_.Finish();
    if (r != AVIERR_OK) return r;
    if (callback_ && last_percent_ < 100) callback_(100);
    return AVIERR_OK;
  }

  bool Opened() const { return opened_; }

 private:
  HRESULT AddTrack(Track& t, PAVISTREAM source, const AVICOMPRESSOPTIONS* opts) {
    if (!source) return AVIERR_BADHANDLE;
    t.source = source;
    if (AVIStreamInfo(source, &t.info, sizeof t.info) != AVIERR_OK) return AVIERR_BADHANDLE;
    if (t.info.dwScale == 0 || t.info.dwRate == 0) return AVIERR_BADFORMAT;
    t.unit = AVRational{int(std::min<DWORD>(t.info.dwScale, 0x7FFFFFFF)), int(std::min<DWORD>(t.info.dwRate, 0x7FFFFFFF))};
    t.next = AVIStreamStart(source);
    t.end = t.next + AVIStreamLength(source);
    LONG size = 0;
    if (AVIStreamReadFormat(source, 0, nullptr, &size) != AVIERR_OK || size <= 0) return AVIERR_BADFORMAT;
    std::vector<std::uint8_t> format(std::size_t(size), 0);
    if (AVIStreamReadFormat(source, 0, format.data(), &size) != AVIERR_OK) return AVIERR_BADFORMAT;
    if (t.info.fccType == streamtypeVIDEO) return AddVideo(t, format, opts);
    if (t.info.fccType == streamtypeAUDIO) return AddAudio(t, format);
    return AVIERR_UNSUPPORTED;
  }

  HRESULT AddVideo(Track& t, std::span<const std::uint8_t> format, const AVICOMPRESSOPTIONS* opts) {
    auto dib = ParseDibFormat(format);
    if (!dib) return AVIERR_BADFORMAT;
    t.video = true;
    t.dib = *dib;
    AVRational tb;
    ffmpeg::Av().av_reduce(&tb.num, &tb.den, t.unit.num, t.unit.den, 65535);
    bool compress = opts && opts->fccHandler != 0 && (opts->fccType == 0 || opts->fccType == streamtypeVIDEO);
    t.desc.video = true;
    t.desc.picture.width = dib->width;
    t.desc.picture.height = dib->height;
    if (!compress) {
      t.desc.picture.bits = dib->bits;
      t.desc.picture.palette = dib->bits <= 8;
      t.desc.time_base = {t.unit.num, t.unit.den};
      t.palette_due = dib->bits <= 8;
      return AVIERR_OK;
    }
    auto compressor = InstalledCompressors().Find(opts->fccHandler);
    if (!compressor || compressor->encoder.empty()) return AVIERR_NOCOMPRESSOR;
    EncoderOptions eo;
    eo.time_base = tb;
    LONG quality = LONG(opts->dwQuality);
    eo.quality = quality == -1 ? 5000 : std::clamp<LONG>(quality, 0, 10000);
    if (opts->dwFlags & AVICOMPRESSF_KEYFRAMES)
      eo.key_frame_every = int(std::min<DWORD>(opts->dwKeyFrameEvery, 0x7FFFFFFF));
    if (opts->dwFlags & AVICOMPRESSF_DATARATE)
      eo.bit_rate = int(std::min<std::uint64_t>(std::uint64_t(opts->dwBytesPerSecond) * 8, 0x7FFFFFFF));
    eo.settings = compressor->settings;
    t.encoder = OpenEncoder(*compressor, *dib, eo, nullptr);
    if (!t.encoder) return AVIERR_CANTCOMPRESS;
    const AVCodecContext& ctx = *t.encoder;
    t.desc.picture.bits = ctx.bits_per_coded_sample;
    t.desc.picture.palette = ctx.pix_fmt == AV_PIX_FMT_PAL8;
    t.desc.picture.codec = compressor->code;
    if (ctx.extradata && ctx.extradata_size > 0)
      t.desc.picture.extradata.assign(ctx.extradata, ctx.extradata + ctx.extradata_size);
    t.desc.time_base = {ctx.time_base.num, ctx.time_base.den};
    t.desc.bit_rate = ctx.bit_rate;
    t.desc.intra_only = ctx.codec_descriptor && (ctx.codec_descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
    t.converter = std::make_unique<DibConverter>(*dib, t.encoder->pix_fmt);
    t.frame.reset(ffmpeg::Av().av_frame_alloc());
    if (!t.frame) return AVIERR_MEMORY;
    return AVIERR_OK;
  }

  HRESULT AddAudio(Track& t, std::span<const std::uint8_t> format) {
    std::optional<AviAudioDesc> sound = AviAudioDescOf(format);
    if (!sound) return AVIERR_UNSUPPORTED;
    t.desc.video = false;
    t.desc.sound = std::move(*sound);
    t.desc.time_base = {t.unit.num, t.unit.den};
    t.desc.bit_rate = std::int64_t(t.desc.sound.average_bytes_per_second) * 8;
    return AVIERR_OK;
  }

  // Sound goes out in pieces of about one video frame, so players find both together.
  void PlanChunks() {
    AVRational piece{1, 4};
    for (const auto& t : tracks_)
      if (t.video) {
        piece = t.unit;
        break;
      }
    for (auto& t : tracks_) {
      if (t.video) continue;
      std::int64_t n = ffmpeg::Av().av_rescale_q(1, piece, t.unit);
      t.chunk = LONG(std::clamp<std::int64_t>(n, 1, 1 << 20));
    }
    for (const auto& t : tracks_) {
      double seconds = double(t.end) * av_q2d(t.unit);
      total_seconds_ = std::max(total_seconds_, seconds);
    }
  }

  Track* NextTrack() {
    Track* best = nullptr;
    for (auto& t : tracks_) {
      if (t.next >= t.end) continue;
      if (!best || ffmpeg::Av().av_compare_ts(t.next, t.unit, best->next, best->unit) < 0) best = &t;
    }
    return best;
  }

  HRESULT ReadSamples(Track& t, LONG count, LONG* got) {
    LONG bytes = 0;
    HRESULT r = AVIStreamRead(t.source, t.next, count, nullptr, 0, &bytes, got);
    if (r != AVIERR_OK) return r;
    t.buffer.resize(std::size_t(bytes));
    if (bytes > 0) r = AVIStreamRead(t.source, t.next, count, t.buffer.data(), bytes, &bytes, got);
    return r == AVIERR_OK ? AVIERR_OK : AVIERR_FILEREAD;
  }

  HRESULT WriteVideo(Track& t) {
    LONG got = 0;
    HRESULT r = ReadSamples(t, 1, &got);
    if (r != AVIERR_OK) return r;
    if (t.buffer.size() != t.dib.ImageSize()) return AVIERR_BADFORMAT;
    LONG index = t.next++;
    if (t.encoder) {
      if (!t.converter->Convert(t.buffer.data(), t.frame.get())) return AVIERR_COMPRESSOR;
      t.frame->pts = index;
      t.frame->quality = t.encoder->global_quality;
      t.frame->pict_type = AV_PICTURE_TYPE_NONE;
      return Encode(t, t.frame.get());
    }
    const std::uint32_t* palette = t.palette_due ? t.dib.palette.data() : nullptr;
    t.palette_due = false;
    return muxer_.Write(t.index, t.buffer, index, 1, true, palette);
  }

  HRESULT Encode(Track& t, AVFrame* frame) {
    if (ffmpeg::Av().avcodec_send_frame(t.encoder.get(), frame) < 0) return AVIERR_COMPRESSOR;
    PacketPtr pkt(ffmpeg::Av().av_packet_alloc());
    if (!pkt) return AVIERR_MEMORY;
    for (;;) {
      int err = ffmpeg::Av().avcodec_receive_packet(t.encoder.get(), pkt.get());
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return AVIERR_OK;
      if (err < 0) return AVIERR_COMPRESSOR;
      HRESULT r = muxer_.Write(t.index, std::span<const std::uint8_t>(pkt->data, std::size_t(pkt->size)), pkt->dts,
                               pkt->duration, (pkt->flags & AV_PKT_FLAG_KEY) != 0);
      ffmpeg::Av().av_packet_unref(pkt.get());
      if (r != AVIERR_OK) return r;
    }
  }

  HRESULT CopySamples(Track& t) {
    LONG count = std::min(t.chunk, t.end - t.next);
    LONG got = 0;
    HRESULT r = ReadSamples(t, count, &got);
    if (r != AVIERR_OK) return r;
    if (got <= 0) return AVIERR_FILEREAD;
    const LONG at = t.next;
    t.next += got;
    return muxer_.Write(t.index, t.buffer, at, got, true);
  }

  bool Progress(const Track& t) {
    if (!callback_ || total_seconds_ <= 0) return true;
    int percent = int(double(t.next) * av_q2d(t.unit) * 100.0 / total_seconds_);
    percent = std::clamp(percent, 0, 100);
    if (percent == last_percent_) return true;
    last_percent_ = percent;
    return callback_(percent) == 0;
  }

  AVISAVECALLBACK callback_;
  AviMuxer muxer_;
  std::vector<Track> tracks_;
  double total_seconds_ = 0;
  int last_percent_ = -1;
  bool opened_ = false;
};

}  // namespace

HRESULT AVISaveV(const std::filesystem::path& szFile, const CLSID* pclsidHandler, AVISAVECALLBACK lpfnCallback,
                 int nStreams, PAVISTREAM* ppavi, AVICOMPRESSOPTIONS** plpOptions) {
  (void)pclsidHandler;
  if (nStreams < 1 || !ppavi) return AVIERR_BADPARAM;
  HRESULT r;
  auto saver = std::make_unique<Saver>(lpfnCallback);
  try {
    r = saver->Run(szFile, nStreams, ppavi, plpOptions);
  } catch (const std::bad_alloc&) {
    r = AVIERR_MEMORY;
  }
  bool opened = saver->Opened();
  saver.reset();
  // A file cut short is worse than none.
  if (r != AVIERR_OK && opened) {
    std::error_code ec;
    std::filesystem::remove(szFile, ec);
  }
  return r;
}

}  // namespace quarvel::vfw
