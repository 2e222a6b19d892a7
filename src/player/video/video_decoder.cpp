#include "player/video/video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/ffmpeg/ffmpeg_api.h"
#include "player/video/video_error.h"

namespace quarvel::player::video {
namespace {

AVCodecID CodecId(VideoCodec codec) {
  switch (codec) {
    case VideoCodec::kH263: return AV_CODEC_ID_FLV1;
    case VideoCodec::kScreen: return AV_CODEC_ID_FLASHSV;
    case VideoCodec::kVp6: return AV_CODEC_ID_VP6F;
    case VideoCodec::kVp6Alpha: return AV_CODEC_ID_VP6A;
    case VideoCodec::kScreen2: return AV_CODEC_ID_FLASHSV2;
    case VideoCodec::kH264: return AV_CODEC_ID_H264;
    default: return AV_CODEC_ID_NONE;
  }
}

std::string AvError(int rc) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  ffmpeg::Av().av_strerror(rc, text, sizeof text);
  return text;
}

bool IsVp6(VideoCodec c) { return c == VideoCodec::kVp6 || c == VideoCodec::kVp6Alpha; }

}  // namespace

void VideoDecoder::CtxDeleter::operator()(AVCodecContext* c) const { ffmpeg::Av().avcodec_free_context(&c); }
void VideoDecoder::PacketDeleter::operator()(AVPacket* p) const { ffmpeg::Av().av_packet_free(&p); }
void VideoDecoder::FrameDeleter::operator()(AVFrame* f) const { ffmpeg::Av().av_frame_free(&f); }
void VideoDecoder::SwsDeleter::operator()(SwsContext* s) const { ffmpeg::Av().sws_freeContext(s); }

bool VideoDecoder::Available(VideoCodec codec) {
  const AVCodecID id = CodecId(codec);
  return id != AV_CODEC_ID_NONE && ffmpeg::Av().avcodec_find_decoder(id) != nullptr;
}

VideoDecoder::VideoDecoder(const Options& options) : options_(options) {
  packet_.reset(ffmpeg::Av().av_packet_alloc());
  if (!packet_) throw VideoError(CodecName(options_.codec) + ": out of memory for a packet");
  Open();
}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::Open() {
  const std::string name = CodecName(options_.codec);
  const AVCodecID id = CodecId(options_.codec);
  const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : ffmpeg::Av().avcodec_find_decoder(id);
  if (!codec) throw VideoError(name + ": libavcodec has no decoder for it");
  ctx_.reset(ffmpeg::Av().avcodec_alloc_context3(codec));
  if (!ctx_) throw VideoError(name + ": out of memory for the decoder");
  // One thread and bit-exact code paths: a capture must be the same on every run.
  ctx_->thread_count = 1;
  ctx_->flags |= AV_CODEC_FLAG_BITEXACT;
  ctx_->max_pixels = kMaxVideoPixels;
  if (IsVp6(options_.codec) && options_.width > 0 && options_.height > 0) {
    // With no crop byte, libavcodec keeps a container size that rounds up to
    // the coded macroblock grid.
    ctx_->width = options_.width;
    ctx_->height = options_.height;
  }
  if (!options_.extradata.empty()) {
    const std::size_t n = options_.extradata.size();
    if (n > (1u << 20)) throw VideoError(name + ": decoder configuration of " + std::to_string(n) + " bytes is too large");
    ctx_->extradata = static_cast<std::uint8_t*>(ffmpeg::Av().av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!ctx_->extradata) throw VideoError(name + ": out of memory for the decoder configuration");
    std::memcpy(ctx_->extradata, options_.extradata.data(), n);
    ctx_->extradata_size = static_cast<int>(n);
  }
  const int rc = ffmpeg::Av().avcodec_open2(ctx_.get(), codec, nullptr);
  if (rc < 0) throw VideoError(name + ": cannot open the decoder: " + AvError(rc));
}

DecodeStatus VideoDecoder::Decode(std::span<const std::uint8_t> packet, bool key, std::int64_t pts) {
  if (packet.empty()) return DecodeStatus::kOk;
  ++packets_;
  if (packet.size() > static_cast<std::size_t>(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) {
    last_error_ = CodecName(options_.codec) + ": packet of " + std::to_string(packet.size()) + " bytes is too large";
    return DecodeStatus::kDamaged;
  }
  AVPacket* p = packet_.get();
  ffmpeg::Av().av_packet_unref(p);
  // A fresh buffer: libavcodec reads a little past the end, into zeroed padding.
  if (ffmpeg::Av().av_new_packet(p, static_cast<int>(packet.size())) < 0) {
    last_error_ = CodecName(options_.codec) + ": out of memory for a packet";
    return DecodeStatus::kDamaged;
  }
  std::memcpy(p->data, packet.data(), packet.size());
  p->flags = key ? AV_PKT_FLAG_KEY : 0;
  p->pts = pts;
  p->dts = AV_NOPTS_VALUE;
  last_error_.clear();
  int rc = ffmpeg::Av().avcodec_send_packet(ctx_.get(), p);
  if (rc == AVERROR(EAGAIN)) {
    Receive();
    rc = ffmpeg::Av().avcodec_send_packet(ctx_.get(), p);
  }
  ffmpeg::Av().av_packet_unref(p);
  if (rc < 0) {
    last_error_ = CodecName(options_.codec) + " frame did not decode: " + AvError(rc);
    Receive();
    return DecodeStatus::kDamaged;
  }
  Receive();
  return last_error_.empty() ? DecodeStatus::kOk : DecodeStatus::kDamaged;
}

void VideoDecoder::Receive() {
  for (;;) {
    FramePtr f(ffmpeg::Av().av_frame_alloc());
    if (!f) {
      last_error_ = CodecName(options_.codec) + ": out of memory for a picture";
      return;
    }
    const int rc = ffmpeg::Av().avcodec_receive_frame(ctx_.get(), f.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
    if (rc < 0) {
      last_error_ = CodecName(options_.codec) + " frame did not decode: " + AvError(rc);
      return;
    }
    if (f->decode_error_flags != 0 || (f->flags & AV_FRAME_FLAG_CORRUPT)) {
      // Concealed guesswork: keep the last good picture on screen instead.
      last_error_ = CodecName(options_.codec) + " frame is damaged (decoded with concealed errors)";
      continue;
    }
    queue_.push_back(std::move(f));
    if (queue_.size() > kMaxQueuedPictures) queue_.pop_front();
  }
}

void VideoDecoder::Flush() {
  if (ffmpeg::Av().avcodec_send_packet(ctx_.get(), nullptr) < 0) return;
  Receive();
}

void VideoDecoder::Reset() {
  queue_.clear();
  // A new context rather than a flush: decoding from a key frame after a
  // jump must give the very pictures a straight run gives.
  Open();
}

bool VideoDecoder::NextPicture() {
  if (queue_.empty()) return false;
  shown_ = std::move(queue_.front());
  queue_.pop_front();
  shown_pts_ = shown_->pts != AV_NOPTS_VALUE ? shown_->pts : shown_->best_effort_timestamp;
  converted_ = false;
  return true;
}

bool VideoDecoder::LatestPicture() {
  if (queue_.empty()) return false;
  while (queue_.size() > 1) queue_.pop_front();
  return NextPicture();
}

bool VideoDecoder::HasPicture() const { return shown_ != nullptr; }

const Picture& VideoDecoder::Current() const {
  if (!converted_) Convert();
  return picture_;
}

void VideoDecoder::Convert() const {
  converted_ = true;
  const AVFrame* f = shown_.get();
  int w = f->width, h = f->height;
  if (IsVp6(options_.codec)) {
    if (options_.width > 0) w = std::min(w, options_.width);
    if (options_.height > 0) h = std::min(h, options_.height);
  }
  if (w <= 0 || h <= 0 || static_cast<std::int64_t>(w) * h > kMaxVideoPixels) {
    picture_ = Picture{};
    return;
  }
  const auto format = static_cast<AVPixelFormat>(f->format);
  // Bit-exact code: the same picture on every processor, and the very
  // colours the ffmpeg program gives.
  sws_.reset(ffmpeg::Av().sws_getCachedContext(sws_.release(), w, h, format, w, h, AV_PIX_FMT_BGRA, SWS_BICUBIC | SWS_BITEXACT,
                                  nullptr, nullptr, nullptr));
  if (!sws_) {
    picture_ = Picture{};
    return;
  }
  Picture& out = picture_;
  out.width = w;
  out.height = h;
  const std::size_t row = static_cast<std::size_t>(w) * 4;
  // swscale's vector code writes whole blocks past the end of short rows and
  // of the last row: convert into a padded buffer, then copy the rows out.
  const std::size_t stride = (row + 63) & ~std::size_t{63};
  scratch_.resize(stride * (static_cast<std::size_t>(h) + 2) + 256);
  std::uint8_t* dst[4] = {scratch_.data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {static_cast<int>(stride), 0, 0, 0};
  ffmpeg::Av().sws_scale(sws_.get(), f->data, f->linesize, 0, h, dst, dstStride);
  out.pixels.resize(row * static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y) {
    std::memcpy(out.pixels.data() + row * static_cast<std::size_t>(y), scratch_.data() + stride * static_cast<std::size_t>(y), row);
  }
  const AVPixFmtDescriptor* desc = ffmpeg::Av().av_pix_fmt_desc_get(format);
  if (!desc || !(desc->flags & AV_PIX_FMT_FLAG_ALPHA)) return;
  if (options_.codec == VideoCodec::kVp6Alpha) {
    // VP6 alpha video carries colour already multiplied by its alpha (the
    // Flash Player draws it so); only keep each channel within its alpha.
    for (std::size_t i = 0; i < out.pixels.size(); i += 4) {
      const std::uint8_t a = out.pixels[i + 3];
      for (int c = 0; c < 3; ++c) out.pixels[i + c] = std::min(out.pixels[i + c], a);
    }
    return;
  }
  for (std::size_t i = 0; i < out.pixels.size(); i += 4) {
    const unsigned a = out.pixels[i + 3];
    if (a == 255) continue;
    for (int c = 0; c < 3; ++c) out.pixels[i + c] = static_cast<std::uint8_t>((out.pixels[i + c] * a + 127) / 255);
  }
}

}  // namespace quarvel::player::video
