#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "platform/vfw/ffmpeg_p.h"

namespace quarvel::vfw {

int QScaleForQuality(int quality) {
  // Each 3000 steps of quality halve the quantiser: 10000 -> 2, 4000 -> 8, 0 -> 20.
  double q = std::pow(2.0, 1.0 + (10000.0 - double(quality)) / 3000.0);
  return std::clamp(int(std::lround(q)), 1, 31);
}

int CrfForQuality(int quality) {
  long long crf = 16 + (10000LL - quality) * 20 / 10000;
  return int(std::clamp(crf, 0LL, 51LL));
}

namespace detail {

namespace {
constexpr int kMaxDibDimension = 32768;
}

std::string AvErrorText(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  ffmpeg::Av().av_strerror(err, text, sizeof text);
  return text;
}

AVPixelFormat DibFormat::SourceFormat() const {
  switch (bits) {
    case 1:
    case 4:
    case 8: return AV_PIX_FMT_PAL8;
    case 16: return AV_PIX_FMT_RGB555LE;
    case 24: return AV_PIX_FMT_BGR24;
    case 32: return AV_PIX_FMT_BGR0;
    default: return AV_PIX_FMT_NONE;
  }
}

std::optional<DibFormat> DibFormatFromHeader(const BITMAPINFOHEADER& h) {
  if (h.biSize < 40 || h.biPlanes != 1 || h.biCompression != BI_RGB) return std::nullopt;
  int bits = h.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return std::nullopt;
  // Top-down DIBs (negative height) are not written by the writer; refuse them.
  if (h.biWidth <= 0 || h.biHeight <= 0 || h.biWidth > kMaxDibDimension || h.biHeight > kMaxDibDimension)
    return std::nullopt;
  DibFormat dib;
  dib.width = h.biWidth;
  dib.height = h.biHeight;
  dib.bits = bits;
  dib.stride = ((std::size_t(h.biWidth) * std::size_t(bits) + 31) / 32) * 4;
  if (bits <= 8) dib.palette.assign(256, 0xFF000000u);
  return dib;
}

std::optional<DibFormat> ParseDibFormat(std::span<const std::uint8_t> format) {
  if (format.size() < sizeof(BITMAPINFOHEADER)) return std::nullopt;
  BITMAPINFOHEADER h;
  std::memcpy(&h, format.data(), sizeof h);
  auto dib = DibFormatFromHeader(h);
  if (!dib) return std::nullopt;
  if (dib->bits <= 8) {
    std::size_t colours = h.biClrUsed ? std::size_t(h.biClrUsed) : (std::size_t{1} << dib->bits);
    colours = std::min(colours, std::size_t{1} << dib->bits);
    std::size_t offset = std::max<std::size_t>(h.biSize, sizeof h);
    if (offset > format.size()) return std::nullopt;
    colours = std::min(colours, (format.size() - offset) / 4);
    for (std::size_t i = 0; i < colours; ++i) {
      const std::uint8_t* q = format.data() + offset + 4 * i;
      dib->palette[i] = 0xFF000000u | (std::uint32_t(q[2]) << 16) | (std::uint32_t(q[1]) << 8) | q[0];
    }
  }
  return dib;
}

AVPixelFormat EncoderPixelFormat(const AVCodec* codec, AVPixelFormat source) {
  const AVPixelFormat* list = codec->pix_fmts;
  if (!list) return AV_PIX_FMT_YUV420P;
  auto has = [list](AVPixelFormat f) {
    for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
      if (*p == f) return true;
    return false;
  };
  // What players expect in AVI for these, and what their tools choose.
  std::string_view name = codec->name;
  if (name == "mjpeg" && has(AV_PIX_FMT_YUVJ420P)) return AV_PIX_FMT_YUVJ420P;
  if (name.starts_with("libx264") && has(AV_PIX_FMT_YUV420P)) return AV_PIX_FMT_YUV420P;
  if (has(source)) return source;
  // PAL8 input is best widened to 32-bit RGB where the encoder has it.
  if (source == AV_PIX_FMT_PAL8 && has(AV_PIX_FMT_BGR0)) return AV_PIX_FMT_BGR0;
  return ffmpeg::Av().avcodec_find_best_pix_fmt_of_list(list, source, 0, nullptr);
}

CodecContextPtr OpenEncoder(const Compressor& compressor, const DibFormat& dib, const EncoderOptions& options,
                            std::string* error) {
  auto fail = [error](std::string text) {
    if (error) *error = std::move(text);
    return CodecContextPtr{};
  };
  const AVCodec* codec = ffmpeg::Av().avcodec_find_encoder_by_name(compressor.encoder.c_str());
  if (!codec) return fail("encoder " + compressor.encoder + " is not available");
  AVPixelFormat pix = EncoderPixelFormat(codec, dib.SourceFormat());
  if (pix == AV_PIX_FMT_NONE) return fail("no pixel format of " + compressor.encoder + " fits the frames");
  const AVPixFmtDescriptor* desc = ffmpeg::Av().av_pix_fmt_desc_get(pix);
  if (desc && ((dib.width & ((1 << desc->log2_chroma_w) - 1)) || (dib.height & ((1 << desc->log2_chroma_h) - 1))))
    return fail(compressor.encoder + " needs a frame size divisible by " +
                std::to_string(1 << std::max(desc->log2_chroma_w, desc->log2_chroma_h)));

  CodecContextPtr ctx(ffmpeg::Av().avcodec_alloc_context3(codec));
  if (!ctx) return fail("out of memory");
  ctx->width = dib.width;
  ctx->height = dib.height;
  ctx->pix_fmt = pix;
  ctx->time_base = options.time_base;
  ctx->framerate = av_inv_q(options.time_base);
  ctx->max_b_frames = 0;  // AVI stores no reordering
  int key = options.settings.key_frame_interval > 0 ? options.settings.key_frame_interval : options.key_frame_every;
  if (key > 0) ctx->gop_size = key;
  if (key == 0) ctx->gop_size = 9999;
  ctx->thread_count = 0;
  if (!compressor.lossless) {
    int bit_rate = options.settings.bit_rate > 0 ? options.settings.bit_rate : options.bit_rate;
    if (bit_rate > 0) {
      ctx->bit_rate = bit_rate;
    } else if (compressor.encoder.starts_with("libx264")) {
      ffmpeg::Av().av_opt_set_int(ctx->priv_data, "crf", CrfForQuality(options.quality), 0);
    } else {
      ctx->flags |= AV_CODEC_FLAG_QSCALE;
      ctx->global_quality = QScaleForQuality(options.quality) * FF_QP2LAMBDA;
    }
  }
  int err = ffmpeg::Av().avcodec_open2(ctx.get(), codec, nullptr);
  if (err < 0) return fail(compressor.encoder + " refuses " + std::to_string(dib.width) + "x" +
                           std::to_string(dib.height) + ": " + AvErrorText(err));
  return ctx;
}

DibConverter::DibConverter(const DibFormat& dib, AVPixelFormat target) : dib_(dib), target_(target) {
  if (dib.bits < 8) expanded_.resize(std::size_t(dib.width) * std::size_t(dib.height));
  if (target != AV_PIX_FMT_PAL8)
    sws_.reset(ffmpeg::Av().sws_getContext(dib.width, dib.height, dib.SourceFormat(), dib.width, dib.height, target, SWS_BICUBIC,
                              nullptr, nullptr, nullptr));
}

bool DibConverter::Convert(const std::uint8_t* dib, AVFrame* out) {
  if (!out->data[0]) {
    out->format = target_;
    out->width = dib_.width;
    out->height = dib_.height;
    if (ffmpeg::Av().av_frame_get_buffer(out, 0) < 0) return false;
  }
  if (ffmpeg::Av().av_frame_make_writable(out) < 0) return false;
  // Rows from the top: the last stored row first, walking backwards.
  const std::uint8_t* top = dib + dib_.stride * std::size_t(dib_.height - 1);
  int src_stride = -int(dib_.stride);
  if (dib_.bits < 8) {
    int per_byte = 8 / dib_.bits, mask = (1 << dib_.bits) - 1;
    for (int y = 0; y < dib_.height; ++y) {
      const std::uint8_t* s = top - std::ptrdiff_t(dib_.stride) * y;
      std::uint8_t* d = expanded_.data() + std::size_t(y) * std::size_t(dib_.width);
      for (int x = 0; x < dib_.width; ++x) {
        int shift = 8 - dib_.bits * (x % per_byte + 1);
        d[x] = std::uint8_t((s[x / per_byte] >> shift) & mask);
      }
    }
    top = expanded_.data();
    src_stride = dib_.width;
  }
  if (target_ == AV_PIX_FMT_PAL8) {
    for (int y = 0; y < dib_.height; ++y)
      std::memcpy(out->data[0] + std::ptrdiff_t(out->linesize[0]) * y, top + std::ptrdiff_t(src_stride) * y,
                  std::size_t(dib_.width));
    std::memcpy(out->data[1], dib_.palette.data(), 256 * 4);
    return true;
  }
  if (!sws_) return false;
  const std::uint8_t* src[4] = {top, nullptr, nullptr, nullptr};
  int strides[4] = {src_stride, 0, 0, 0};
  if (dib_.SourceFormat() == AV_PIX_FMT_PAL8) src[1] = reinterpret_cast<const std::uint8_t*>(dib_.palette.data());
  return ffmpeg::Av().sws_scale(sws_.get(), src, strides, 0, dib_.height, out->data, out->linesize) == dib_.height;
}

}  // namespace detail

LRESULT QueryEncoder(const Compressor& compressor, const BITMAPINFOHEADER& in) {
  auto dib = detail::DibFormatFromHeader(in);
  if (!dib) return ICERR_BADFORMAT;
  detail::EncoderOptions options;
  // A refusal is the answer here, not an error worth printing.
  int level = ffmpeg::Av().av_log_get_level();
  ffmpeg::Av().av_log_set_level(AV_LOG_QUIET);
  bool opened = detail::OpenEncoder(compressor, *dib, options, nullptr) != nullptr;
  ffmpeg::Av().av_log_set_level(level);
  return opened ? ICERR_OK : ICERR_BADFORMAT;
}

}  // namespace quarvel::vfw
