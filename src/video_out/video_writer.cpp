#include "video_out/video_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"
#include "video_out/ffmpeg_calls.h"

namespace quarvel::video_out {
namespace {

namespace fs = std::filesystem;

struct CodecFree {
  void operator()(AVCodecContext* c) const { Av().avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { Av().av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { Av().av_packet_free(&p); }
};
struct SwsFree {
  void operator()(SwsContext* s) const { Av().sws_freeContext(s); }
};
struct SwrFree {
  void operator()(SwrContext* s) const { Av().swr_free(&s); }
};
struct InputClose {
  void operator()(AVFormatContext* f) const { Avf().avformat_close_input(&f); }
};
struct OutputFree {
  void operator()(AVFormatContext* f) const {
    if (f->pb && !(f->oformat->flags & AVFMT_NOFILE)) Avf().avio_closep(&f->pb);
    Avf().avformat_free_context(f);
  }
};
struct DictFree {
  void operator()(AVDictionary* d) const { Av().av_dict_free(&d); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  Av().av_strerror(code, text, sizeof text);
  return text;
}

[[noreturn]] void Fail(const fs::path& file, const std::string& what, int code = 0) {
  throw VideoError(file.string() + ": " + what + (code < 0 ? ": " + AvError(code) : std::string()));
}

// Options for an encoder or muxer, freed whatever happens.
class Options {
 public:
  ~Options() { Av().av_dict_free(&dict_); }
  void Set(const char* key, const std::string& value) { Av().av_dict_set(&dict_, key, value.c_str(), 0); }
  AVDictionary** Get() { return &dict_; }

 private:
  AVDictionary* dict_ = nullptr;
};

// Copies a 32-bit picture into a larger one, repeating the last column and
// row into the margin so that the codec's colour planes do not bleed black.
gdi::Bitmap PadPicture(const gdi::Bitmap& src, int width, int height) {
  gdi::Bitmap out(width, height, gdi::PixelFormat::pf32bit);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = src.ScanLine(std::min(y, src.Height() - 1));
    std::uint8_t* d = out.ScanLine(y);
    std::memcpy(d, s, std::size_t(src.Width()) * 4);
    for (int x = src.Width(); x < width; ++x) std::memcpy(d + std::size_t(x) * 4, s + std::size_t(src.Width() - 1) * 4, 4);
  }
  return out;
}

bool NeedsCropOrZoom(const capture::CropZoom& s) {
  return s.left > 0 || s.right > 0 || s.top > 0 || s.bottom > 0 || s.zoom != 100;
}

int Vp9Speed(const std::string& preset) {
  static const int speeds[] = {8, 8, 7, 6, 5, 4, 2, 1, 0};
  const auto& names = PresetNames();
  const auto it = std::find(names.begin(), names.end(), preset);
  return it == names.end() ? 4 : speeds[it - names.begin()];
}

// The recording, decoded and resampled to the sound encoder's rate as
// planar float, handed out in the encoder's frame sizes.
class SoundSource {
 public:
  SoundSource(const fs::path& wav, int rate, const fs::path& output) : output_(output) {
    AVFormatContext* raw = nullptr;
    int err = Avf().avformat_open_input(&raw, wav.c_str(), nullptr, nullptr);
    if (err < 0) Fail(output_, "cannot read the recording " + wav.string(), err);
    input_.reset(raw);
    if ((err = Avf().avformat_find_stream_info(raw, nullptr)) < 0) Fail(output_, "cannot read " + wav.string(), err);
    stream_ = Avf().av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream_ < 0) Fail(output_, wav.string() + " holds no sound", stream_);
    const AVCodecParameters* par = raw->streams[stream_]->codecpar;
    const AVCodec* codec = Av().avcodec_find_decoder(par->codec_id);
    if (!codec) Fail(output_, wav.string() + ": no decoder for its sound format");
    decoder_.reset(Av().avcodec_alloc_context3(codec));
    if ((err = Av().avcodec_parameters_to_context(decoder_.get(), par)) < 0 ||
        (err = Av().avcodec_open2(decoder_.get(), codec, nullptr)) < 0)
      Fail(output_, "cannot decode " + wav.string(), err);
    channels_ = std::clamp(decoder_->ch_layout.nb_channels, 1, 2);
    AVChannelLayout out_layout, in_layout;
    Av().av_channel_layout_default(&out_layout, channels_);
    if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      Av().av_channel_layout_default(&in_layout, decoder_->ch_layout.nb_channels);
    else
      Av().av_channel_layout_copy(&in_layout, &decoder_->ch_layout);
    SwrContext* swr = nullptr;
    err = Av().swr_alloc_set_opts2(&swr, &out_layout, AV_SAMPLE_FMT_FLTP, rate, &in_layout, decoder_->sample_fmt,
                              decoder_->sample_rate, 0, nullptr);
    resampler_.reset(swr);
    if (err < 0 || (err = Av().swr_init(swr)) < 0) Fail(output_, "cannot resample " + wav.string(), err);
    buffer_.resize(std::size_t(channels_));
    packet_.reset(Av().av_packet_alloc());
    decoded_.reset(Av().av_frame_alloc());
  }

  int Channels() const { return channels_; }

  // Up to n samples per channel into out (planar); fewer only at the end.
  int Take(int n, std::vector<std::vector<float>>& out) {
    while (int(buffer_[0].size()) - read_ < n && !ended_) Decode();
    const int got = std::min(n, int(buffer_[0].size()) - read_);
    out.assign(std::size_t(channels_), {});
    for (int c = 0; c < channels_; ++c)
      out[std::size_t(c)].assign(buffer_[std::size_t(c)].begin() + read_, buffer_[std::size_t(c)].begin() + read_ + got);
    read_ += got;
    if (read_ > (1 << 16)) {
      for (auto& b : buffer_) b.erase(b.begin(), b.begin() + read_);
      read_ = 0;
    }
    return got;
  }

 private:
  void Append(const std::uint8_t* const* in, int count) {
    const int room = Av().swr_get_out_samples(resampler_.get(), count);
    if (room <= 0) return;
    std::vector<std::vector<float>> tmp(std::size_t(channels_), std::vector<float>(std::size_t(room), 0.0f));
    std::uint8_t* planes[2] = {reinterpret_cast<std::uint8_t*>(tmp[0].data()),
                               channels_ > 1 ? reinterpret_cast<std::uint8_t*>(tmp[1].data()) : nullptr};
    const int made = Av().swr_convert(resampler_.get(), planes, room, const_cast<const std::uint8_t**>(in), count);
    if (made < 0) Fail(output_, "cannot resample the recording", made);
    for (int c = 0; c < channels_; ++c)
      buffer_[std::size_t(c)].insert(buffer_[std::size_t(c)].end(), tmp[std::size_t(c)].begin(),
                                     tmp[std::size_t(c)].begin() + made);
  }

  void Drain() {
    while (Av().avcodec_receive_frame(decoder_.get(), decoded_.get()) >= 0) {
      Append(decoded_->extended_data, decoded_->nb_samples);
      Av().av_frame_unref(decoded_.get());
    }
  }

  void Decode() {
    int err = Avf().av_read_frame(input_.get(), packet_.get());
    if (err < 0) {
      // The end of the file (or a cut-off tail): what was read is the sound.
      Av().avcodec_send_packet(decoder_.get(), nullptr);
      Drain();
      Append(nullptr, 0);
      ended_ = true;
      return;
    }
    if (packet_->stream_index == stream_) {
      // A damaged block is skipped like a player would; the rest still plays.
      if (Av().avcodec_send_packet(decoder_.get(), packet_.get()) >= 0) Drain();
    }
    Av().av_packet_unref(packet_.get());
  }

  fs::path output_;
  std::unique_ptr<AVFormatContext, InputClose> input_;
  CodecPtr decoder_;
  std::unique_ptr<SwrContext, SwrFree> resampler_;
  PacketPtr packet_;
  FramePtr decoded_;
  int stream_ = -1;
  int channels_ = 1;
  std::vector<std::vector<float>> buffer_;
  int read_ = 0;
  bool ended_ = false;
};

class Writer {
 public:
  Writer(const VideoWriteOptions& o, const VideoWriteCallbacks& cb)
      : o_(o), cb_(cb), name_(o.shown.empty() ? o.output : o.shown) {}

  VideoWriteResult Run() {
    if (o_.frame_count <= 0) Fail(name_, "no frames to write");
    if (o_.latency_ms <= 0) Fail(name_, "the frame time must be above 0 ms");
    CheckRequest(o_.format, o_.request, name_.string());
    capture::FrameSequence store(o_.frames ? 0 : o_.frame_count, o_.request.alpha);
    FrameSource source = o_.frames;
    if (!source) source = [&store](long long i) -> const gdi::Bitmap& { return store.Read(i); };

    // The first frame fixes the size; a later frame of another size is stretched to it.
    gdi::Bitmap first = Prepare(source(0));
    if (first.Empty()) Fail(name_, "the first frame is empty");
    width_ = first.Width();
    height_ = first.Height();
    coded_w_ = width_;
    coded_h_ = height_;
    if (o_.format.even_size) {
      coded_w_ += width_ % 2;
      coded_h_ += height_ % 2;
      if (coded_w_ != width_ || coded_h_ != height_)
        Note(name_.string() + ": " + std::to_string(width_) + "x" + std::to_string(height_) + " padded to " +
             std::to_string(coded_w_) + "x" + std::to_string(coded_h_) + " (" + std::string(o_.format.label) +
             " needs even sizes)");
    }
    OpenOutput();
    OpenVideo();
    if (!o_.recording.empty()) OpenSound();
    Header();

    for (long long i = 0; i < o_.frame_count; ++i) {
      if (i == 0) {
        EncodePicture(first, 0);
        first = gdi::Bitmap();
      } else {
        EncodePicture(Prepare(source(i)), i);
      }
      if (sound_) PumpSound(EndSample(i + 1), false);
      if (cb_.progress) cb_.progress(i + 1);
    }
    Flush(video_.get(), video_stream_);
    if (sound_) {
      PumpSound(EndSample(o_.frame_count), true);
      Flush(sound_.get(), sound_stream_);
    }
    int err = Avf().av_write_trailer(out_.get());
    if (err < 0) Fail(name_, "cannot finish the file", err);
    if (!(out_->oformat->flags & AVFMT_NOFILE) && (err = Avf().avio_closep(&out_->pb)) < 0)
      Fail(name_, "cannot write", err);
    VideoWriteResult r;
    r.frames = o_.frame_count;
    r.width = coded_w_;
    r.height = coded_h_;
    r.sound = sound_ != nullptr;
    return r;
  }

 private:
  void Note(const std::string& text) {
    if (cb_.note) cb_.note(text);
  }

  // Cropped, zoomed and in 32 bits at the video's size.
  gdi::Bitmap Prepare(const gdi::Bitmap& read) {
    gdi::Bitmap picture = read.Format() == gdi::PixelFormat::pf32bit || read.Format() == gdi::PixelFormat::pfDevice
                              ? read
                              : read.ConvertTo(gdi::PixelFormat::pf32bit);
    if (NeedsCropOrZoom(o_.crop_zoom)) capture::CropAndZoomFrame(picture, o_.crop_zoom);
    if (width_ > 0 && !picture.Empty() && (picture.Width() != width_ || picture.Height() != height_))
      capture::ResizePicture(picture, width_, height_);
    return picture;
  }

  long long EndSample(long long frames) const {
    return Av().av_rescale(frames * o_.latency_ms, sound_->sample_rate, 1000);
  }

  void OpenOutput() {
    AVFormatContext* raw = nullptr;
    const std::string muxer(o_.format.muxer);
    int err = Avf().avformat_alloc_output_context2(&raw, nullptr, muxer.c_str(), o_.output.c_str());
    if (err < 0 || !raw) Fail(name_, "FFmpeg here cannot write " + std::string(o_.format.label), err);
    out_.reset(raw);
  }

  void OpenVideo() {
    // Lossy opaque WebP is written as whole frames: the animation encoder
    // builds lossy frames over the one before from blocks only close to it,
    // which keeps traces of earlier frames and seams at the blocks' edges.
    // Lossless and transparent animations keep it: it is exact there, and
    // whole frames would blend their clear pixels over the frame before.
    const bool whole_frames =
        o_.format.container == Container::kWebp && o_.request.quality.has_value() && !o_.request.alpha;
    const std::string name = whole_frames ? std::string("libwebp") : std::string(o_.format.video_codec);
    const AVCodec* codec = Av().avcodec_find_encoder_by_name(name.c_str());
    if (!codec) Fail(name_, "FFmpeg here has no " + name + " encoder for " + std::string(o_.format.label));
    video_.reset(Av().avcodec_alloc_context3(codec));
    AVCodecContext* c = video_.get();
    c->width = coded_w_;
    c->height = coded_h_;
    c->time_base = AVRational{o_.latency_ms, 1000};
    c->framerate = AVRational{1000, o_.latency_ms};
    c->sample_aspect_ratio = AVRational{1, 1};
    const bool alpha = o_.request.alpha;
    Options opts;
    switch (o_.format.container) {
      case Container::kMp4:
      case Container::kMov:
      case Container::kMkv:
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        opts.Set("crf", std::to_string(o_.request.crf.value_or(23)));
        opts.Set("preset", o_.request.preset.value_or("medium"));
        break;
      case Container::kWebm:
        c->pix_fmt = alpha ? AV_PIX_FMT_YUVA420P : AV_PIX_FMT_YUV420P;
        c->bit_rate = 0;  // constant quality
        opts.Set("crf", std::to_string(o_.request.crf.value_or(32)));
        opts.Set("row-mt", "1");
        opts.Set("deadline", "good");
        opts.Set("cpu-used", std::to_string(Vp9Speed(o_.request.preset.value_or("medium"))));
        break;
      case Container::kWebp:
        c->pix_fmt = AV_PIX_FMT_BGRA;
        if (o_.request.quality) {
          opts.Set("quality", std::to_string(*o_.request.quality));
        } else {
          opts.Set("lossless", "1");
        }
        break;
      case Container::kApng:
        c->pix_fmt = alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
        break;
    }
    if (c->pix_fmt == AV_PIX_FMT_YUV420P || c->pix_fmt == AV_PIX_FMT_YUVA420P) {
      c->color_range = AVCOL_RANGE_MPEG;
      c->colorspace = AVCOL_SPC_SMPTE170M;
      c->color_primaries = AVCOL_PRI_SMPTE170M;
      c->color_trc = AVCOL_TRC_SMPTE170M;
    }
    if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = Av().avcodec_open2(c, codec, opts.Get());
    if (err < 0) Fail(name_, "cannot start the " + name + " encoder", err);
    AVStream* st = Avf().avformat_new_stream(out_.get(), nullptr);
    if (!st) Fail(name_, "cannot add the picture stream");
    st->time_base = c->time_base;
    st->avg_frame_rate = c->framerate;
    st->sample_aspect_ratio = c->sample_aspect_ratio;
    if ((err = Av().avcodec_parameters_from_context(st->codecpar, c)) < 0) Fail(name_, "cannot add the picture stream", err);
    video_stream_ = st->index;

    frame_.reset(Av().av_frame_alloc());
    frame_->format = c->pix_fmt;
    frame_->width = c->width;
    frame_->height = c->height;
    if ((err = Av().av_frame_get_buffer(frame_.get(), 0)) < 0) Fail(name_, "out of memory for a frame", err);
    // 32-bit frames keep their alpha only when the capture made one.
    const AVPixelFormat src = alpha ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR0;
    scaler_.reset(Av().sws_getContext(coded_w_, coded_h_, src, coded_w_, coded_h_, c->pix_fmt, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                 nullptr, nullptr));
    if (!scaler_) Fail(name_, "cannot convert the frames for " + name);
    packet_.reset(Av().av_packet_alloc());
  }

  void OpenSound() {
    std::error_code ec;
    if (o_.format.audio_codec.empty()) {
      Note(name_.string() + ": " + std::string(o_.format.label) + " holds no sound; the recording is left out");
      return;
    }
    if (!fs::exists(o_.recording, ec)) {
      Note(name_.string() + ": no recording at " + o_.recording.string() + "; writing the picture alone");
      return;
    }
    const std::string name(o_.format.audio_codec);
    const AVCodec* codec = Av().avcodec_find_encoder_by_name(name.c_str());
    if (!codec) Fail(name_, "FFmpeg here has no " + name + " encoder");
    const bool opus = o_.format.container == Container::kWebm;
    const int rate = opus ? 48000 : 44100;
    source_.emplace(o_.recording, rate, name_);
    sound_.reset(Av().avcodec_alloc_context3(codec));
    AVCodecContext* c = sound_.get();
    c->sample_rate = rate;
    Av().av_channel_layout_default(&c->ch_layout, source_->Channels());
    c->sample_fmt = opus ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    c->bit_rate = source_->Channels() > 1 ? 128000 : 64000;
    c->time_base = AVRational{1, rate};
    if (out_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = Av().avcodec_open2(c, codec, nullptr);
    if (err < 0) Fail(name_, "cannot start the " + name + " encoder", err);
    AVStream* st = Avf().avformat_new_stream(out_.get(), nullptr);
    if (!st) Fail(name_, "cannot add the sound stream");
    st->time_base = c->time_base;
    if ((err = Av().avcodec_parameters_from_context(st->codecpar, c)) < 0) Fail(name_, "cannot add the sound stream", err);
    sound_stream_ = st->index;
    sound_frame_.reset(Av().av_frame_alloc());
  }

  void Header() {
    int err = 0;
    if (!(out_->oformat->flags & AVFMT_NOFILE) && (err = Avf().avio_open(&out_->pb, o_.output.c_str(), AVIO_FLAG_WRITE)) < 0)
      Fail(name_, "cannot write", err);
    Options opts;
    if (o_.format.container == Container::kMp4 || o_.format.container == Container::kMov)
      opts.Set("movflags", "+faststart");
    if (o_.format.container == Container::kWebp) opts.Set("loop", "0");
    if ((err = Avf().avformat_write_header(out_.get(), opts.Get())) < 0) Fail(name_, "cannot start the file", err);
  }

  void EncodePicture(const gdi::Bitmap& picture, long long index) {
    if (picture.Empty()) Fail(name_, "frame " + std::to_string(index + 1) + " is empty");
    const gdi::Bitmap* use = &picture;
    gdi::Bitmap padded;
    if (picture.Width() != coded_w_ || picture.Height() != coded_h_) {
      padded = PadPicture(picture, coded_w_, coded_h_);
      use = &padded;
    }
    int err = Av().av_frame_make_writable(frame_.get());
    if (err < 0) Fail(name_, "out of memory for a frame", err);
    // The picture's rows run bottom-up in memory: start at the top row and step back.
    const std::uint8_t* src[4] = {use->ScanLine(0), nullptr, nullptr, nullptr};
    const int src_stride[4] = {-int(use->Stride()), 0, 0, 0};
    Av().sws_scale(scaler_.get(), src, src_stride, 0, coded_h_, frame_->data, frame_->linesize);
    frame_->pts = index;
    Send(video_.get(), video_stream_, frame_.get());
  }

  // Encodes the recording up to sample `end` (of the encoder's rate); at the
  // end also the short last frame.
  void PumpSound(long long end, bool last) {
    AVCodecContext* c = sound_.get();
    const bool variable = c->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    const int size = c->frame_size > 0 && !variable ? c->frame_size : 1024;
    while (!sound_done_ && sound_pts_ < end) {
      int want = int(std::min<long long>(size, end - sound_pts_));
      if (want < size && !last) break;
      const int got = source_->Take(want, chunk_);
      if (got <= 0) {
        sound_done_ = true;
        break;
      }
      AVFrame* f = sound_frame_.get();
      Av().av_frame_unref(f);
      f->format = c->sample_fmt;
      f->sample_rate = c->sample_rate;
      Av().av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
      // Fixed-size encoders take a short frame only as the last one; pad it with silence.
      f->nb_samples = variable ? got : size;
      int err = Av().av_frame_get_buffer(f, 0);
      if (err < 0) Fail(name_, "out of memory for the sound", err);
      const int channels = source_->Channels();
      for (int ch = 0; ch < channels; ++ch) {
        const auto& s = chunk_[std::size_t(ch)];
        for (int i = 0; i < f->nb_samples; ++i) {
          const float v = i < got ? s[std::size_t(i)] : 0.0f;
          if (c->sample_fmt == AV_SAMPLE_FMT_FLTP)
            reinterpret_cast<float*>(f->data[ch])[i] = v;
          else
            reinterpret_cast<float*>(f->data[0])[i * channels + ch] = v;
        }
      }
      f->pts = sound_pts_;
      sound_pts_ += got;
      Send(c, sound_stream_, f);
      if (got < want || (!variable && got < size)) sound_done_ = true;
    }
  }

  void Send(AVCodecContext* c, int stream, const AVFrame* f) {
    int err = Av().avcodec_send_frame(c, f);
    if (err < 0) Fail(name_, std::string("the ") + c->codec->name + " encoder failed", err);
    Drain(c, stream);
  }

  void Flush(AVCodecContext* c, int stream) {
    int err = Av().avcodec_send_frame(c, nullptr);
    if (err < 0 && err != AVERROR_EOF) Fail(name_, std::string("the ") + c->codec->name + " encoder failed", err);
    Drain(c, stream);
  }

  void Drain(AVCodecContext* c, int stream) {
    for (;;) {
      int err = Av().avcodec_receive_packet(c, packet_.get());
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
      if (err < 0) Fail(name_, std::string("the ") + c->codec->name + " encoder failed", err);
      packet_->stream_index = stream;
      Av().av_packet_rescale_ts(packet_.get(), c->time_base, out_->streams[stream]->time_base);
      err = Avf().av_interleaved_write_frame(out_.get(), packet_.get());
      if (err < 0) Fail(name_, "cannot write", err);
    }
  }

  const VideoWriteOptions& o_;
  const VideoWriteCallbacks& cb_;
  const fs::path name_;
  int width_ = 0, height_ = 0, coded_w_ = 0, coded_h_ = 0;
  std::unique_ptr<AVFormatContext, OutputFree> out_;
  CodecPtr video_, sound_;
  int video_stream_ = -1, sound_stream_ = -1;
  FramePtr frame_, sound_frame_;
  PacketPtr packet_;
  std::unique_ptr<SwsContext, SwsFree> scaler_;
  std::optional<SoundSource> source_;
  std::vector<std::vector<float>> chunk_;
  long long sound_pts_ = 0;
  bool sound_done_ = false;
};

}  // namespace

VideoWriteResult WriteVideo(const VideoWriteOptions& options, const VideoWriteCallbacks& callbacks) {
  Writer writer(options, callbacks);
  return writer.Run();
}

}  // namespace quarvel::video_out
