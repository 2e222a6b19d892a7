#pragma once
// The FFmpeg functions the writer calls, as one table: every call reads
// Av().name(...), the way a loader of FFmpeg on first use would hand them out.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#define QUARVEL_VIDEO_OUT_FFMPEG(X) \
  X(av_channel_layout_copy) X(av_channel_layout_default) X(av_dict_free) X(av_dict_set) X(av_find_best_stream) \
  X(av_frame_alloc) X(av_frame_free) X(av_frame_get_buffer) X(av_frame_make_writable) X(av_frame_unref) \
  X(av_interleaved_write_frame) X(av_packet_alloc) X(av_packet_free) X(av_packet_rescale_ts) X(av_packet_unref) \
  X(av_read_frame) X(av_rescale) X(av_strerror) X(av_write_trailer) X(avcodec_alloc_context3) \
  X(avcodec_find_decoder) X(avcodec_find_encoder_by_name) X(avcodec_free_context) X(avcodec_open2) \
  X(avcodec_parameters_from_context) X(avcodec_parameters_to_context) X(avcodec_receive_frame) \
  X(avcodec_receive_packet) X(avcodec_send_frame) X(avcodec_send_packet) X(avformat_alloc_output_context2) \
  X(avformat_close_input) X(avformat_find_stream_info) X(avformat_free_context) X(avformat_new_stream) \
  X(avformat_open_input) X(avformat_write_header) X(avio_closep) X(avio_open) X(swr_alloc_set_opts2) \
  X(swr_convert) X(swr_free) X(swr_get_out_samples) X(swr_init) X(sws_freeContext) X(sws_getContext) \
  X(sws_scale)

namespace quarvel::video_out {

struct AvCalls {
#define QUARVEL_VIDEO_OUT_MEMBER(name) decltype(&::name) name = &::name;
  QUARVEL_VIDEO_OUT_FFMPEG(QUARVEL_VIDEO_OUT_MEMBER)
#undef QUARVEL_VIDEO_OUT_MEMBER
};

inline const AvCalls& Av() {
  static const AvCalls calls;
  return calls;
}

}  // namespace quarvel::video_out
