// AVISaveV: one pass over the source streams into a new AVI file through
// libavformat, compressing video with the chosen compressor's encoder and
// copying everything else unchanged.

#include <algorithm>
#include <cstring>
#include <system_error>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

#include "platform/vfw/ffmpeg_p.h"

namespace quarvel::vfw {

namespace {

using namespace detail;

struct OutputContextDeleter {
  void operator()(AVFormatContext* oc) const {
    if (oc->pb) ffmpeg::Av().avio_closep(&oc->pb);
    ffmpeg::Av().avformat_free_context(oc);
  }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;


struct Track {
  PAVISTREAM source = nullptr;
  AVISTREAMINFO info;
  AVStream* stream = nullptr;
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
    AVFormatContext* raw = nullptr;
    if (ffmpeg::Av().avformat_alloc_output_context2(&raw, nullptr, "avi", file.c_str()) < 0 || !raw) return AVIERR_MEMORY;
    oc_.reset(raw);
    tracks_.resize(std::size_t(n));
    for (int i = 0; i < n; ++i) {
      HRESULT r = AddTrack(tracks_[std::size_t(i)], streams[i], options ? options[i] : nullptr);
      if (r != AVIERR_OK) return r;
    }
    PlanChunks();
    if (ffmpeg::Av().avio_open(&oc_->pb, file.c_str(), AVIO_FLAG_WRITE) < 0) return AVIERR_FILEOPEN;
    opened_ = true;
    AVDictionary* muxer_options = nullptr;
    ffmpeg::Av().av_dict_set(&muxer_options, "flipped_raw_rgb", "1", 0);  // our rows are bottom-up, as in the DIB
    int err = ffmpeg::Av().avformat_write_header(oc_.get(), &muxer_options);
    ffmpeg::Av().av_dict_free(&muxer_options);
    if (err < 0) return AVIERR_BADFORMAT;

    for (;;) {
      Track* t = NextTrack();
      if (!t) break;
      HRESULT r = t->video ? WriteVideo(*t) : CopySamples(*t);
      if (r != AVIERR_OK) return r;
      if (!Progress(*t)) return AVIERR_USERABORT;
    }
    for (auto& t : tracks_)
      if (t.encoder) {
        HRESULT r = Encode(t, nullptr);
        if (r != AVIERR_OK) return r;
      }
    if (ffmpeg::Av().av_write_trailer(oc_.get()) < 0) return AVIERR_FILEWRITE;
    if (ffmpeg::Av().avio_closep(&oc_->pb) < 0) return AVIERR_FILEWRITE;
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
    t.stream = ffmpeg::Av().avformat_new_stream(oc_.get(), nullptr);
    if (!t.stream) return AVIERR_MEMORY;
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
    if (!compress) {
      AVCodecParameters* par = t.stream->codecpar;
      par->codec_type = AVMEDIA_TYPE_VIDEO;
      par->codec_id = AV_CODEC_ID_RAWVIDEO;
      par->codec_tag = 0;
      par->width = dib->width;
      par->height = dib->height;
      par->bits_per_coded_sample = dib->bits;
      par->format = dib->bits <= 8 ? AV_PIX_FMT_PAL8 : dib->bits == 16 ? AV_PIX_FMT_RGB555LE
                    : dib->bits == 24                ? AV_PIX_FMT_BGR24
                                                     : AV_PIX_FMT_BGRA;
      t.stream->time_base = t.unit;
      t.stream->avg_frame_rate = av_inv_q(tb);
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
    if (ffmpeg::Av().avcodec_parameters_from_context(t.stream->codecpar, t.encoder.get()) < 0) return AVIERR_MEMORY;
    t.stream->codecpar->codec_tag = compressor->code;
    t.stream->time_base = t.encoder->time_base;
    t.stream->avg_frame_rate = av_inv_q(t.encoder->time_base);
    t.converter = std::make_unique<DibConverter>(*dib, t.encoder->pix_fmt);
    t.frame.reset(ffmpeg::Av().av_frame_alloc());
    if (!t.frame) return AVIERR_MEMORY;
    return AVIERR_OK;
  }

  HRESULT AddAudio(Track& t, std::span<const std::uint8_t> format) {
    WaveCodec codec = WaveCodecOf(format);
    if (codec.id == AV_CODEC_ID_NONE) return AVIERR_UNSUPPORTED;
    WAVEFORMATEX wf;
    std::memcpy(&wf, format.data(), std::min(format.size(), sizeof wf));
    if (format.size() < sizeof wf) wf.cbSize = 0;
    AVCodecParameters* par = t.stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = codec.id;
    par->sample_rate = int(wf.nSamplesPerSec);
    ffmpeg::Av().av_channel_layout_default(&par->ch_layout, wf.nChannels);
    par->block_align = wf.nBlockAlign;
    par->bits_per_coded_sample = wf.wBitsPerSample;
    par->bit_rate = std::int64_t(wf.nAvgBytesPerSec) * 8;
    // The muxer times the stream by whole blocks of this many samples.
    par->frame_size = codec.samples_per_block;
    if (codec.id == AV_CODEC_ID_ADPCM_MS && format.size() > sizeof wf) {
      std::size_t n = std::min<std::size_t>(wf.cbSize, format.size() - sizeof wf);
      par->extradata = static_cast<std::uint8_t*>(ffmpeg::Av().av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
      if (!par->extradata) return AVIERR_MEMORY;
      std::memcpy(par->extradata, format.data() + sizeof wf, n);
      par->extradata_size = int(n);
    }
    t.stream->time_base = t.unit;
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

  HRESULT WritePacket(Track& t, AVPacket* pkt, AVRational from) {
    pkt->stream_index = t.stream->index;
    ffmpeg::Av().av_packet_rescale_ts(pkt, from, t.stream->time_base);
    return ffmpeg::Av().av_interleaved_write_frame(oc_.get(), pkt) < 0 ? AVIERR_FILEWRITE : AVIERR_OK;
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
    PacketPtr pkt(ffmpeg::Av().av_packet_alloc());
    if (!pkt || ffmpeg::Av().av_new_packet(pkt.get(), int(t.buffer.size())) < 0) return AVIERR_MEMORY;
    std::memcpy(pkt->data, t.buffer.data(), t.buffer.size());
    pkt->pts = pkt->dts = index;
    pkt->duration = 1;
    pkt->flags |= AV_PKT_FLAG_KEY;
    if (t.palette_due) {
      std::uint8_t* pal = ffmpeg::Av().av_packet_new_side_data(pkt.get(), AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
      if (!pal) return AVIERR_MEMORY;
      std::memcpy(pal, t.dib.palette.data(), AVPALETTE_SIZE);
      t.palette_due = false;
    }
    return WritePacket(t, pkt.get(), t.unit);
  }

  HRESULT Encode(Track& t, AVFrame* frame) {
    if (ffmpeg::Av().avcodec_send_frame(t.encoder.get(), frame) < 0) return AVIERR_COMPRESSOR;
    PacketPtr pkt(ffmpeg::Av().av_packet_alloc());
    if (!pkt) return AVIERR_MEMORY;
    for (;;) {
      int err = ffmpeg::Av().avcodec_receive_packet(t.encoder.get(), pkt.get());
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return AVIERR_OK;
      if (err < 0) return AVIERR_COMPRESSOR;
      HRESULT r = WritePacket(t, pkt.get(), t.encoder->time_base);
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
    PacketPtr pkt(ffmpeg::Av().av_packet_alloc());
    if (!pkt || ffmpeg::Av().av_new_packet(pkt.get(), int(t.buffer.size())) < 0) return AVIERR_MEMORY;
    if (!t.buffer.empty()) std::memcpy(pkt->data, t.buffer.data(), t.buffer.size());
    pkt->pts = pkt->dts = t.next;
    pkt->duration = got;
    pkt->flags |= AV_PKT_FLAG_KEY;
    t.next += got;
    return WritePacket(t, pkt.get(), t.unit);
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
  OutputContextPtr oc_;
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
