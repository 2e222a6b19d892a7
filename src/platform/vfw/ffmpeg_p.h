#pragma once
// FFmpeg handles and the picture plumbing shared by the compressor query and AVISaveV.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "platform/ffmpeg/ffmpeg_api.h"
#include "platform/vfw/avi_muxer.h"
#include "platform/vfw/compressors.h"
#include "platform/vfw/vfw.h"

namespace quarvel::vfw::detail {

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { ffmpeg::Av().avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { ffmpeg::Av().av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { ffmpeg::Av().av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext* s) const { ffmpeg::Av().sws_freeContext(s); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

// An uncompressed device-independent bitmap format (BI_RGB).
struct DibFormat {
  int width = 0;
  int height = 0;  // rows; the data runs bottom-up
  int bits = 0;    // 1, 4, 8, 16, 24, 32
  std::size_t stride = 0;
  std::vector<std::uint32_t> palette;  // 256 entries 0xAARRGGBB for 1/4/8 bits

  std::size_t ImageSize() const { return stride * std::size_t(height); }
  // The pixel format FFmpeg knows these rows by (1 and 4 bits are expanded to PAL8).
  AVPixelFormat SourceFormat() const;
};

// A BITMAPINFOHEADER plus colour table; nullopt when it isn't a BI_RGB
// format of a supported depth or its sizes are out of range.
std::optional<DibFormat> ParseDibFormat(std::span<const std::uint8_t> format);
std::optional<DibFormat> DibFormatFromHeader(const BITMAPINFOHEADER& header);

// The pixel format an encoder is fed with for frames of the given source.
AVPixelFormat EncoderPixelFormat(const AVCodec* codec, AVPixelFormat source);

struct EncoderOptions {
  AVRational time_base{1, 25};
  int quality = 5000;
  int key_frame_every = -1;  // 0: only the first frame; -1: the encoder's default
  int bit_rate = 0;          // bits per second asked by the save; 0: follow the quality
  CompressorSettings settings;
};

// Opens the compressor's encoder for frames of that format; null with the
// reason in *error when the encoder refuses.
CodecContextPtr OpenEncoder(const Compressor& compressor, const DibFormat& dib, const EncoderOptions& options,
                            std::string* error);

// Turns DIB rows into frames of an encoder's pixel format.
class DibConverter {
 public:
  DibConverter(const DibFormat& dib, AVPixelFormat target);
  // Fills out (allocated here on first use) from one image of ImageSize bytes.
  bool Convert(const std::uint8_t* dib, AVFrame* out);

 private:
  DibFormat dib_;
  AVPixelFormat target_;
  SwsPtr sws_;
  std::vector<std::uint8_t> expanded_;  // 1- and 4-bit rows as 8-bit indices
};

std::string AvErrorText(int err);

}  // namespace quarvel::vfw::detail

namespace quarvel::vfw::detail {

// The codec of a WAVE format chunk that can be copied into an AVI file
// unchanged, and the samples per block that time it; AV_CODEC_ID_NONE when
// the format is not one of those.
struct WaveCodec {
  AVCodecID id = AV_CODEC_ID_NONE;
  int samples_per_block = 0;
};
WaveCodec WaveCodecOf(std::span<const std::uint8_t> format);

// How a stream of that WAVE format goes into an AVI file (the tag and sizes
// of its codec, as FFmpeg's AVI muxer writes them); nullopt for a format
// WaveCodecOf does not copy.
std::optional<AviAudioDesc> AviAudioDescOf(std::span<const std::uint8_t> format);

}  // namespace quarvel::vfw::detail
