// The FFmpeg functions quarvel-cli calls, each loading its library on the
// first call. Debian's FFmpeg libraries pull in well over a hundred shared
// libraries whose loading took most of the program's start-up, while most
// runs (info, capture without sound, gif) never touch FFmpeg. The program is
// linked with --as-needed, so with these definitions in place it does not
// load FFmpeg at start. Functions missing here still work: they bring the
// libraries back in at start-up.

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

enum class Lib { kAvutil, kAvcodec, kAvformat, kSwscale, kSwresample };

#define QUARVEL_SONAME(name, major) "lib" name ".so." AV_STRINGIFY(major)

void* Handle(Lib lib) {
  static const char* const kNames[] = {
      QUARVEL_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),   QUARVEL_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
      QUARVEL_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR), QUARVEL_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR),
      QUARVEL_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR)};
  static std::mutex mutex;
  static void* handles[5] = {};
  std::lock_guard<std::mutex> lock(mutex);
  void*& h = handles[int(lib)];
  if (h == nullptr) {
    h = dlopen(kNames[int(lib)], RTLD_NOW | RTLD_GLOBAL);
    if (h == nullptr) throw std::runtime_error(std::string("cannot load FFmpeg: ") + dlerror());
  }
  return h;
}

void* Symbol(Lib lib, const char* name) {
  void* p = dlsym(Handle(lib), name);
  if (p == nullptr) throw std::runtime_error(std::string("FFmpeg has no ") + name);
  return p;
}

}  // namespace

extern "C" {

int av_channel_layout_copy(AVChannelLayout *dst, const AVChannelLayout *src) {
  static const auto real = reinterpret_cast<decltype(&av_channel_layout_copy)>(Symbol(Lib::kAvutil, "av_channel_layout_copy"));
  return real(dst, src);
}

void av_channel_layout_default(AVChannelLayout *ch_layout, int nb_channels) {
  static const auto real = reinterpret_cast<decltype(&av_channel_layout_default)>(Symbol(Lib::kAvutil, "av_channel_layout_default"));
  return real(ch_layout, nb_channels);
}

int av_compare_ts(int64_t ts_a, AVRational tb_a, int64_t ts_b, AVRational tb_b) {
  static const auto real = reinterpret_cast<decltype(&av_compare_ts)>(Symbol(Lib::kAvutil, "av_compare_ts"));
  return real(ts_a, tb_a, ts_b, tb_b);
}

void av_dict_free(AVDictionary **m) {
  static const auto real = reinterpret_cast<decltype(&av_dict_free)>(Symbol(Lib::kAvutil, "av_dict_free"));
  return real(m);
}

int av_dict_set(AVDictionary **pm, const char *key, const char *value, int flags) {
  static const auto real = reinterpret_cast<decltype(&av_dict_set)>(Symbol(Lib::kAvutil, "av_dict_set"));
  return real(pm, key, value, flags);
}

int av_dict_set_int(AVDictionary **pm, const char *key, int64_t value, int flags) {
  static const auto real = reinterpret_cast<decltype(&av_dict_set_int)>(Symbol(Lib::kAvutil, "av_dict_set_int"));
  return real(pm, key, value, flags);
}

AVFrame *av_frame_alloc(void) {
  static const auto real = reinterpret_cast<decltype(&av_frame_alloc)>(Symbol(Lib::kAvutil, "av_frame_alloc"));
  return real();
}

void av_frame_free(AVFrame **frame) {
  static const auto real = reinterpret_cast<decltype(&av_frame_free)>(Symbol(Lib::kAvutil, "av_frame_free"));
  return real(frame);
}

int av_frame_get_buffer(AVFrame *frame, int align) {
  static const auto real = reinterpret_cast<decltype(&av_frame_get_buffer)>(Symbol(Lib::kAvutil, "av_frame_get_buffer"));
  return real(frame, align);
}

int av_frame_make_writable(AVFrame *frame) {
  static const auto real = reinterpret_cast<decltype(&av_frame_make_writable)>(Symbol(Lib::kAvutil, "av_frame_make_writable"));
  return real(frame);
}

void av_frame_unref(AVFrame *frame) {
  static const auto real = reinterpret_cast<decltype(&av_frame_unref)>(Symbol(Lib::kAvutil, "av_frame_unref"));
  return real(frame);
}

enum AVSampleFormat av_get_packed_sample_fmt(enum AVSampleFormat sample_fmt) {
  static const auto real = reinterpret_cast<decltype(&av_get_packed_sample_fmt)>(Symbol(Lib::kAvutil, "av_get_packed_sample_fmt"));
  return real(sample_fmt);
}

int av_interleaved_write_frame(AVFormatContext *s, AVPacket *pkt) {
  static const auto real = reinterpret_cast<decltype(&av_interleaved_write_frame)>(Symbol(Lib::kAvformat, "av_interleaved_write_frame"));
  return real(s, pkt);
}

int av_log_get_level(void) {
  static const auto real = reinterpret_cast<decltype(&av_log_get_level)>(Symbol(Lib::kAvutil, "av_log_get_level"));
  return real();
}

void av_log_set_level(int level) {
  static const auto real = reinterpret_cast<decltype(&av_log_set_level)>(Symbol(Lib::kAvutil, "av_log_set_level"));
  return real(level);
}

void *av_mallocz(size_t size) {
  static const auto real = reinterpret_cast<decltype(&av_mallocz)>(Symbol(Lib::kAvutil, "av_mallocz"));
  return real(size);
}

int av_new_packet(AVPacket *pkt, int size) {
  static const auto real = reinterpret_cast<decltype(&av_new_packet)>(Symbol(Lib::kAvcodec, "av_new_packet"));
  return real(pkt, size);
}

int av_opt_set_int(void *obj, const char *name, int64_t val, int search_flags) {
  static const auto real = reinterpret_cast<decltype(&av_opt_set_int)>(Symbol(Lib::kAvutil, "av_opt_set_int"));
  return real(obj, name, val, search_flags);
}

AVPacket *av_packet_alloc(void) {
  static const auto real = reinterpret_cast<decltype(&av_packet_alloc)>(Symbol(Lib::kAvcodec, "av_packet_alloc"));
  return real();
}

void av_packet_free(AVPacket **pkt) {
  static const auto real = reinterpret_cast<decltype(&av_packet_free)>(Symbol(Lib::kAvcodec, "av_packet_free"));
  return real(pkt);
}

uint8_t*av_packet_new_side_data(AVPacket *pkt, enum AVPacketSideDataType type, size_t size) {
  static const auto real = reinterpret_cast<decltype(&av_packet_new_side_data)>(Symbol(Lib::kAvcodec, "av_packet_new_side_data"));
  return real(pkt, type, size);
}

void av_packet_rescale_ts(AVPacket *pkt, AVRational tb_src, AVRational tb_dst) {
  static const auto real = reinterpret_cast<decltype(&av_packet_rescale_ts)>(Symbol(Lib::kAvcodec, "av_packet_rescale_ts"));
  return real(pkt, tb_src, tb_dst);
}

void av_packet_unref(AVPacket *pkt) {
  static const auto real = reinterpret_cast<decltype(&av_packet_unref)>(Symbol(Lib::kAvcodec, "av_packet_unref"));
  return real(pkt);
}

const AVPixFmtDescriptor *av_pix_fmt_desc_get(enum AVPixelFormat pix_fmt) {
  static const auto real = reinterpret_cast<decltype(&av_pix_fmt_desc_get)>(Symbol(Lib::kAvutil, "av_pix_fmt_desc_get"));
  return real(pix_fmt);
}

int av_reduce(int *dst_num, int *dst_den, int64_t num, int64_t den, int64_t max) {
  static const auto real = reinterpret_cast<decltype(&av_reduce)>(Symbol(Lib::kAvutil, "av_reduce"));
  return real(dst_num, dst_den, num, den, max);
}

int64_t av_rescale_q(int64_t a, AVRational bq, AVRational cq) {
  static const auto real = reinterpret_cast<decltype(&av_rescale_q)>(Symbol(Lib::kAvutil, "av_rescale_q"));
  return real(a, bq, cq);
}

int av_sample_fmt_is_planar(enum AVSampleFormat sample_fmt) {
  static const auto real = reinterpret_cast<decltype(&av_sample_fmt_is_planar)>(Symbol(Lib::kAvutil, "av_sample_fmt_is_planar"));
  return real(sample_fmt);
}

int av_strerror(int errnum, char *errbuf, size_t errbuf_size) {
  static const auto real = reinterpret_cast<decltype(&av_strerror)>(Symbol(Lib::kAvutil, "av_strerror"));
  return real(errnum, errbuf, errbuf_size);
}

int av_write_trailer(AVFormatContext *s) {
  static const auto real = reinterpret_cast<decltype(&av_write_trailer)>(Symbol(Lib::kAvformat, "av_write_trailer"));
  return real(s);
}

AVCodecContext *avcodec_alloc_context3(const AVCodec *codec) {
  static const auto real = reinterpret_cast<decltype(&avcodec_alloc_context3)>(Symbol(Lib::kAvcodec, "avcodec_alloc_context3"));
  return real(codec);
}

enum AVPixelFormat avcodec_find_best_pix_fmt_of_list(const enum AVPixelFormat *pix_fmt_list, enum AVPixelFormat src_pix_fmt, int has_alpha, int *loss_ptr) {
  static const auto real = reinterpret_cast<decltype(&avcodec_find_best_pix_fmt_of_list)>(Symbol(Lib::kAvcodec, "avcodec_find_best_pix_fmt_of_list"));
  return real(pix_fmt_list, src_pix_fmt, has_alpha, loss_ptr);
}

const AVCodec *avcodec_find_decoder(enum AVCodecID id) {
  static const auto real = reinterpret_cast<decltype(&avcodec_find_decoder)>(Symbol(Lib::kAvcodec, "avcodec_find_decoder"));
  return real(id);
}

const AVCodec *avcodec_find_encoder(enum AVCodecID id) {
  static const auto real = reinterpret_cast<decltype(&avcodec_find_encoder)>(Symbol(Lib::kAvcodec, "avcodec_find_encoder"));
  return real(id);
}

const AVCodec *avcodec_find_encoder_by_name(const char *name) {
  static const auto real = reinterpret_cast<decltype(&avcodec_find_encoder_by_name)>(Symbol(Lib::kAvcodec, "avcodec_find_encoder_by_name"));
  return real(name);
}

void avcodec_free_context(AVCodecContext **avctx) {
  static const auto real = reinterpret_cast<decltype(&avcodec_free_context)>(Symbol(Lib::kAvcodec, "avcodec_free_context"));
  return real(avctx);
}

int avcodec_open2(AVCodecContext *avctx, const AVCodec *codec, AVDictionary **options) {
  static const auto real = reinterpret_cast<decltype(&avcodec_open2)>(Symbol(Lib::kAvcodec, "avcodec_open2"));
  return real(avctx, codec, options);
}

int avcodec_parameters_from_context(AVCodecParameters *par, const AVCodecContext *codec) {
  static const auto real = reinterpret_cast<decltype(&avcodec_parameters_from_context)>(Symbol(Lib::kAvcodec, "avcodec_parameters_from_context"));
  return real(par, codec);
}

int avcodec_receive_frame(AVCodecContext *avctx, AVFrame *frame) {
  static const auto real = reinterpret_cast<decltype(&avcodec_receive_frame)>(Symbol(Lib::kAvcodec, "avcodec_receive_frame"));
  return real(avctx, frame);
}

int avcodec_receive_packet(AVCodecContext *avctx, AVPacket *avpkt) {
  static const auto real = reinterpret_cast<decltype(&avcodec_receive_packet)>(Symbol(Lib::kAvcodec, "avcodec_receive_packet"));
  return real(avctx, avpkt);
}

int avcodec_send_frame(AVCodecContext *avctx, const AVFrame *frame) {
  static const auto real = reinterpret_cast<decltype(&avcodec_send_frame)>(Symbol(Lib::kAvcodec, "avcodec_send_frame"));
  return real(avctx, frame);
}

int avcodec_send_packet(AVCodecContext *avctx, const AVPacket *avpkt) {
  static const auto real = reinterpret_cast<decltype(&avcodec_send_packet)>(Symbol(Lib::kAvcodec, "avcodec_send_packet"));
  return real(avctx, avpkt);
}

int avformat_alloc_output_context2(AVFormatContext **ctx, const AVOutputFormat *oformat, const char *format_name, const char *filename) {
  static const auto real = reinterpret_cast<decltype(&avformat_alloc_output_context2)>(Symbol(Lib::kAvformat, "avformat_alloc_output_context2"));
  return real(ctx, oformat, format_name, filename);
}

void avformat_free_context(AVFormatContext *s) {
  static const auto real = reinterpret_cast<decltype(&avformat_free_context)>(Symbol(Lib::kAvformat, "avformat_free_context"));
  return real(s);
}

AVStream *avformat_new_stream(AVFormatContext *s, const AVCodec *c) {
  static const auto real = reinterpret_cast<decltype(&avformat_new_stream)>(Symbol(Lib::kAvformat, "avformat_new_stream"));
  return real(s, c);
}

int avformat_write_header(AVFormatContext *s, AVDictionary **options) {
  static const auto real = reinterpret_cast<decltype(&avformat_write_header)>(Symbol(Lib::kAvformat, "avformat_write_header"));
  return real(s, options);
}

int avio_closep(AVIOContext **s) {
  static const auto real = reinterpret_cast<decltype(&avio_closep)>(Symbol(Lib::kAvformat, "avio_closep"));
  return real(s);
}

int avio_open(AVIOContext **s, const char *url, int flags) {
  static const auto real = reinterpret_cast<decltype(&avio_open)>(Symbol(Lib::kAvformat, "avio_open"));
  return real(s, url, flags);
}

int swr_alloc_set_opts2(struct SwrContext **ps, AVChannelLayout *out_ch_layout, enum AVSampleFormat out_sample_fmt, int out_sample_rate, AVChannelLayout *in_ch_layout, enum AVSampleFormat in_sample_fmt, int in_sample_rate, int log_offset, void *log_ctx) {
  static const auto real = reinterpret_cast<decltype(&swr_alloc_set_opts2)>(Symbol(Lib::kSwresample, "swr_alloc_set_opts2"));
  return real(ps, out_ch_layout, out_sample_fmt, out_sample_rate, in_ch_layout, in_sample_fmt, in_sample_rate, log_offset, log_ctx);
}

int swr_convert(struct SwrContext *s, uint8_t **out, int out_count, const uint8_t **in , int in_count) {
  static const auto real = reinterpret_cast<decltype(&swr_convert)>(Symbol(Lib::kSwresample, "swr_convert"));
  return real(s, out, out_count, in, in_count);
}

void swr_free(struct SwrContext **s) {
  static const auto real = reinterpret_cast<decltype(&swr_free)>(Symbol(Lib::kSwresample, "swr_free"));
  return real(s);
}

int swr_get_out_samples(struct SwrContext *s, int in_samples) {
  static const auto real = reinterpret_cast<decltype(&swr_get_out_samples)>(Symbol(Lib::kSwresample, "swr_get_out_samples"));
  return real(s, in_samples);
}

int swr_init(struct SwrContext *s) {
  static const auto real = reinterpret_cast<decltype(&swr_init)>(Symbol(Lib::kSwresample, "swr_init"));
  return real(s);
}

void sws_freeContext(struct SwsContext *swsContext) {
  static const auto real = reinterpret_cast<decltype(&sws_freeContext)>(Symbol(Lib::kSwscale, "sws_freeContext"));
  return real(swsContext);
}

struct SwsContext *sws_getContext(int srcW, int srcH, enum AVPixelFormat srcFormat, int dstW, int dstH, enum AVPixelFormat dstFormat, int flags, SwsFilter *srcFilter, SwsFilter *dstFilter, const double *param) {
  static const auto real = reinterpret_cast<decltype(&sws_getContext)>(Symbol(Lib::kSwscale, "sws_getContext"));
  return real(srcW, srcH, srcFormat, dstW, dstH, dstFormat, flags, srcFilter, dstFilter, param);
}

int sws_scale(struct SwsContext *c, const uint8_t *const srcSlice[], const int srcStride[], int srcSliceY, int srcSliceH, uint8_t *const dst[], const int dstStride[]) {
  static const auto real = reinterpret_cast<decltype(&sws_scale)>(Symbol(Lib::kSwscale, "sws_scale"));
  return real(c, srcSlice, srcStride, srcSliceY, srcSliceH, dst, dstStride);
}

// The video writer's reading of the recording.
int av_find_best_stream(AVFormatContext *ic, enum AVMediaType type, int wanted_stream_nb, int related_stream, const AVCodec **decoder_ret, int flags) {
  static const auto real = reinterpret_cast<decltype(&av_find_best_stream)>(Symbol(Lib::kAvformat, "av_find_best_stream"));
  return real(ic, type, wanted_stream_nb, related_stream, decoder_ret, flags);
}

int av_read_frame(AVFormatContext *s, AVPacket *pkt) {
  static const auto real = reinterpret_cast<decltype(&av_read_frame)>(Symbol(Lib::kAvformat, "av_read_frame"));
  return real(s, pkt);
}

int64_t av_rescale(int64_t a, int64_t b, int64_t c) {
  static const auto real = reinterpret_cast<decltype(&av_rescale)>(Symbol(Lib::kAvutil, "av_rescale"));
  return real(a, b, c);
}

int avcodec_parameters_to_context(AVCodecContext *codec, const AVCodecParameters *par) {
  static const auto real = reinterpret_cast<decltype(&avcodec_parameters_to_context)>(Symbol(Lib::kAvcodec, "avcodec_parameters_to_context"));
  return real(codec, par);
}

void avformat_close_input(AVFormatContext **s) {
  static const auto real = reinterpret_cast<decltype(&avformat_close_input)>(Symbol(Lib::kAvformat, "avformat_close_input"));
  return real(s);
}

int avformat_find_stream_info(AVFormatContext *ic, AVDictionary **options) {
  static const auto real = reinterpret_cast<decltype(&avformat_find_stream_info)>(Symbol(Lib::kAvformat, "avformat_find_stream_info"));
  return real(ic, options);
}

int avformat_open_input(AVFormatContext **ps, const char *url, const AVInputFormat *fmt, AVDictionary **options) {
  static const auto real = reinterpret_cast<decltype(&avformat_open_input)>(Symbol(Lib::kAvformat, "avformat_open_input"));
  return real(ps, url, fmt, options);
}

}  // extern "C"
