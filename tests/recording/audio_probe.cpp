#include "recording/audio_probe.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace quarvel::testing {
namespace {

struct InputClose {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrFree {
  void operator()(SwrContext* s) const { swr_free(&s); }
};

using Input = std::unique_ptr<AVFormatContext, InputClose>;

Input OpenInput(const std::filesystem::path& file, int& stream) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) return nullptr;
  Input input(raw);
  if (avformat_find_stream_info(raw, nullptr) < 0) return nullptr;
  stream = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  return stream < 0 ? nullptr : std::move(input);
}

}  // namespace

AudioProbe Probe(const std::filesystem::path& file) {
  AudioProbe p;
  int index = -1;
  Input input = OpenInput(file, index);
  if (!input) return p;
  const AVStream* st = input->streams[index];
  p.codec_name = avcodec_get_name(st->codecpar->codec_id);
  p.sample_rate = st->codecpar->sample_rate;
  p.channels = st->codecpar->ch_layout.nb_channels;
  p.bit_rate = st->codecpar->bit_rate;
  if (st->duration != AV_NOPTS_VALUE) {
    p.duration = static_cast<double>(st->duration) * av_q2d(st->time_base);
  } else if (input->duration != AV_NOPTS_VALUE) {
    p.duration = static_cast<double>(input->duration) / AV_TIME_BASE;
  }
  return p;
}

std::vector<std::int16_t> DecodeMono(const std::filesystem::path& file, int rate) {
  std::vector<std::int16_t> out;
  int index = -1;
  Input input = OpenInput(file, index);
  if (!input) return out;
  const AVCodecParameters* par = input->streams[index]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec) return out;
  std::unique_ptr<AVCodecContext, CodecFree> ctx(avcodec_alloc_context3(codec));
  if (!ctx || avcodec_parameters_to_context(ctx.get(), par) < 0 || avcodec_open2(ctx.get(), codec, nullptr) < 0) {
    return out;
  }
  AVChannelLayout mono;
  av_channel_layout_default(&mono, 1);
  SwrContext* raw = nullptr;
  if (swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, rate, &ctx->ch_layout, ctx->sample_fmt, ctx->sample_rate, 0,
                          nullptr) < 0) {
    return out;
  }
  std::unique_ptr<SwrContext, SwrFree> swr(raw);
  if (swr_init(raw) < 0) return out;
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  const auto convert = [&](const std::uint8_t** in, int count) {
    const int room = swr_get_out_samples(raw, count) + 16;
    const std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(room));
    auto* dst = reinterpret_cast<std::uint8_t*>(out.data() + old);
    const int got = swr_convert(raw, &dst, room, in, count);
    out.resize(old + static_cast<std::size_t>(std::max(got, 0)));
    return got;
  };
  const auto receive = [&]() {
    while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
      convert(const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == index && avcodec_send_packet(ctx.get(), packet.get()) >= 0) receive();
    av_packet_unref(packet.get());
  }
  avcodec_send_packet(ctx.get(), nullptr);
  receive();
  while (convert(nullptr, 0) > 0) {
  }
  return out;
}

}  // namespace quarvel::testing
