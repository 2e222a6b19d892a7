#pragma once
// FFmpeg through two tables of its functions, each filled by a small module
// (libquarvel_ffmpeg.so and libquarvel_ffmpeg_format.so, linked to FFmpeg)
// that is loaded on first use.
// Debian's FFmpeg libraries pull in over a hundred shared libraries whose
// loading would take most of a program's start-up, while most runs never
// touch FFmpeg. Call FFmpeg as Av().avcodec_open2(...), libavformat as
// Avf().avformat_open_input(...); a function used anywhere must be listed
// below (the build checks that no program needs the FFmpeg libraries at
// start).

#include <cstddef>
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

// libavcodec, libavutil, libswscale and libswresample: libquarvel_ffmpeg.so.
#define QUARVEL_FFMPEG_FUNCTIONS(X)                                                                             \
  X(av_channel_layout_copy) X(av_channel_layout_default) X(av_compare_ts) X(av_dict_free) X(av_dict_set)        \
  X(av_dict_set_int) X(av_frame_alloc) X(av_frame_free) X(av_frame_get_buffer) X(av_frame_make_writable)        \
  X(av_frame_unref) X(av_get_packed_sample_fmt) X(av_log_get_level) X(av_log_set_level) X(av_mallocz)           \
  X(av_new_packet) X(av_opt_set_int) X(av_packet_alloc) X(av_packet_free) X(av_packet_new_side_data)            \
  X(av_packet_rescale_ts) X(av_packet_unref) X(av_pix_fmt_desc_get) X(av_reduce) X(av_rescale) X(av_rescale_q)  \
  X(av_sample_fmt_is_planar) X(av_strerror) X(avcodec_alloc_context3) X(avcodec_find_best_pix_fmt_of_list)      \
  X(avcodec_find_decoder) X(avcodec_find_encoder) X(avcodec_find_encoder_by_name) X(avcodec_free_context)       \
  X(avcodec_open2) X(avcodec_parameters_from_context) X(avcodec_parameters_to_context) X(avcodec_receive_frame) \
  X(avcodec_receive_packet) X(avcodec_send_frame) X(avcodec_send_packet) X(swr_alloc_set_opts2) X(swr_convert)  \
  X(swr_free) X(swr_get_out_samples) X(swr_init) X(sws_freeContext) X(sws_getCachedContext) X(sws_getContext)   \
  X(sws_scale)

// libavformat, which pulls in some forty libraries more (network, crypto,
// disc and tracker formats): its own module, libquarvel_ffmpeg_format.so,
// loaded only by the writers and readers of containers other than AVI.
#define QUARVEL_FFMPEG_FORMAT_FUNCTIONS(X)                                                                      \
  X(av_find_best_stream) X(av_interleaved_write_frame) X(av_read_frame) X(av_write_trailer)                     \
  X(avformat_alloc_output_context2) X(avformat_close_input) X(avformat_find_stream_info)                        \
  X(avformat_free_context) X(avformat_new_stream) X(avformat_open_input) X(avformat_write_header)               \
  X(avio_closep) X(avio_open)

namespace quarvel::ffmpeg {

#define QUARVEL_FFMPEG_MEMBER(name) decltype(&::name) name;
struct Api {
  QUARVEL_FFMPEG_FUNCTIONS(QUARVEL_FFMPEG_MEMBER)
};
struct FormatApi {
  QUARVEL_FFMPEG_FORMAT_FUNCTIONS(QUARVEL_FFMPEG_MEMBER)
};
#undef QUARVEL_FFMPEG_MEMBER

// The module is missing or does not match this build.
class LoadError : public std::runtime_error {
 public:
  explicit LoadError(const std::string& what) : std::runtime_error(what) {}
};

// The table; the first call loads the module. Throws LoadError.
const Api& Av();
// libavformat's table; the first call loads its module. Throws LoadError.
const FormatApi& Avf();

// Starts loading the codec module on a thread of its own, unless it is
// loaded or being loaded, and returns at once; Av() then waits for that
// load and throws its error, if any. While a module loads, the C library's
// loader holds the lock every new thread's start takes: make the threads the
// work needs first, then call this.
void LoadAhead();

// FFmpeg's log level, set now when the module is loaded, else when it is.
void SetLogLevel(int level);

// Whether the modules have been loaded (for tests of the start-up).
bool Loaded();
bool FormatLoaded();

}  // namespace quarvel::ffmpeg

// Each module's one entry point: the table, or null when `table_size` (the
// caller's sizeof of the table) is not its own.
extern "C" const quarvel::ffmpeg::Api* quarvel_ffmpeg_api(std::size_t table_size);
extern "C" const quarvel::ffmpeg::FormatApi* quarvel_ffmpeg_format_api(std::size_t table_size);
