#pragma once
// One video stream decoded with libavcodec into premultiplied 32-bit BGRA
// pictures (Cairo's ARGB32 on little-endian machines). Single-threaded and
// bit-exact, so the same packets always give the same pictures.

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "player/video/video_stream.h"

struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwsContext;

namespace quarvel::player::video {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // rows of width * 4 bytes, top row first

  bool Empty() const { return width <= 0 || height <= 0; }
  int Stride() const { return width * 4; }
  bool operator==(const Picture&) const = default;
};

enum class DecodeStatus {
  kOk,        // the packet decoded
  kDamaged,   // it did not: the pictures stay as they were, LastError() says why
};

class VideoDecoder {
 public:
  struct Options {
    VideoCodec codec = VideoCodec::kH263;
    // Declared size: VP6 pictures (coded in whole macroblocks) are cut to
    // it. 0 keeps the coded size.
    int width = 0;
    int height = 0;
    // H.264: the AVCDecoderConfigurationRecord. VP6 from FLV: the crop byte
    // (right << 4 | bottom), which libavcodec takes as extradata.
    std::vector<std::uint8_t> extradata;
  };

  // Throws VideoError when the linked libavcodec has no decoder for the
  // codec or cannot open it.
  explicit VideoDecoder(const Options& options);
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  static bool Available(VideoCodec codec);

  // Sends one packet in decoding order; the pictures it completes wait in
  // presentation order for NextPicture(). An empty packet decodes nothing.
  DecodeStatus Decode(std::span<const std::uint8_t> packet, bool key, std::int64_t pts = 0);
  // End of stream: gives up the pictures the decoder still holds back.
  void Flush();
  // Forgets every reference picture and queued picture (before decoding
  // from a key frame after a jump). The shown picture stays.
  void Reset();

  // Makes the oldest waiting picture the shown one; false when none waits.
  bool NextPicture();
  // Drops all but the newest waiting picture and shows that one.
  bool LatestPicture();
  std::size_t Waiting() const { return queue_.size(); }

  // The shown picture, converted on first use; empty before any decodes.
  const Picture& Current() const;
  std::int64_t CurrentPts() const { return shown_pts_; }
  bool HasPicture() const;

  const std::string& LastError() const { return last_error_; }
  // Packets sent since construction (for tests and the debug log).
  std::uint64_t PacketsDecoded() const { return packets_; }
  VideoCodec Codec() const { return options_.codec; }

 private:
  struct CtxDeleter { void operator()(AVCodecContext* c) const; };
  struct PacketDeleter { void operator()(AVPacket* p) const; };
  struct FrameDeleter { void operator()(AVFrame* f) const; };
  struct SwsDeleter { void operator()(SwsContext* s) const; };
  using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

  void Open();
  void Receive();
  void Convert() const;

  Options options_;
  std::unique_ptr<AVCodecContext, CtxDeleter> ctx_;
  std::unique_ptr<AVPacket, PacketDeleter> packet_;
  std::deque<FramePtr> queue_;
  FramePtr shown_;
  std::int64_t shown_pts_ = 0;
  mutable std::unique_ptr<SwsContext, SwsDeleter> sws_;
  mutable Picture picture_;
  mutable std::vector<std::uint8_t> scratch_;  // padded conversion target
  mutable bool converted_ = true;
  std::string last_error_;
  std::uint64_t packets_ = 0;
};

}  // namespace quarvel::player::video
