#pragma once
// One open wave-audio device of the MCI stand-in (private to quarvel_mci).
//
// The recording goes to the element file as it comes: samples are converted
// and encoded on the recording thread and written through a small buffer,
// and the WAVE header is brought up to date at least once a second, so the
// file is a valid recording of all but the last moments even after a kill.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/alsa_device.h"
#include "platform/audio/loopback_bus.h"
#include "platform/audio/wave_file.h"

struct SwrContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace quarvel::mci {

class WaveAudioDevice {
 public:
  WaveAudioDevice(audio::LoopbackBus& bus, audio::WaveFormat format, std::filesystem::path element);
  WaveAudioDevice(const WaveAudioDevice&) = delete;
  WaveAudioDevice& operator=(const WaveAudioDevice&) = delete;
  ~WaveAudioDevice();

  // Whether recordings in this format are possible at all.
  static bool Supported(const audio::WaveFormat& format);

  std::uint32_t Record();
  std::uint32_t Stop();
  std::uint32_t Save(const std::filesystem::path& file);

  // Why the recording failed ("" while it has not): the file and the cause.
  std::string ErrorText() const;
  // Sample frames recorded so far, at the element's rate.
  std::uint64_t RecordedFrames() const;

  const audio::WaveFormat& format() const { return format_; }

  // Most bytes the writer holds before they go to the file.
  static constexpr std::size_t kBufferBytes = 64 * 1024;
  // Longest time the header on disk may lag behind the samples.
  static constexpr std::chrono::milliseconds kHeaderInterval{500};

 private:
  struct SwrFree {
    void operator()(SwrContext* s) const;
  };
  struct CodecFree {
    void operator()(AVCodecContext* c) const;
  };
  struct FrameFree {
    void operator()(AVFrame* f) const;
  };
  struct PacketFree {
    void operator()(AVPacket* p) const;
  };

  void Run();
  // Takes the input up to the clock's present; true when it caught up.
  bool PullLocked(bool final);
  void FeedLocked(std::span<const std::int16_t> interleaved);
  void DrainLocked();
  void StopLocked(std::unique_lock<std::mutex>& lock);
  void Fail(std::string why);

  // The element file as a stream of WAVE data.
  bool OpenFileLocked();
  void AppendLocked(const std::uint8_t* data, std::size_t size);
  void AppendSamplesLocked(const std::uint8_t* data, std::size_t frames);
  bool OpenEncoderLocked();
  void EncodeBlockLocked(const std::int16_t* interleaved);
  void FinishBlockLocked();
  void FlushLocked();
  void WriteHeaderLocked(bool final);
  void CloseFileLocked();

  audio::LoopbackBus& bus_;
  audio::WaveFormat format_;
  std::filesystem::path element_;
  // Samples are converted to this layout before they are written or encoded.
  int out_channels_;
  int out_bytes_per_sample_;  // 1 for 8-bit PCM, else 2
  bool adpcm_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool recording_ = false;
  bool stop_thread_ = false;
  std::thread thread_;
  std::unique_ptr<audio::LoopbackBus::Tap> tap_;
  std::unique_ptr<SwrContext, SwrFree> swr_;
  std::vector<std::int16_t> input_;
  std::vector<std::uint8_t> converted_;

  audio::AlsaCapture microphone_;
  bool microphone_tried_ = false;
  std::vector<std::int16_t> microphone_pending_;
  std::int64_t microphone_owed_ = 0;

  // The element file.
  int fd_ = -1;
  std::size_t header_size_ = 0;
  std::uint64_t data_bytes_ = 0;  // on disk and in buffer_
  std::vector<std::uint8_t> buffer_;
  std::uint64_t frames_ = 0;      // samples per channel taken in
  bool full_ = false;             // the 4 GiB limit of a WAVE file was reached
  std::chrono::steady_clock::time_point header_written_;
  std::string error_;

  // IMA ADPCM: one block's samples wait here until the block is full.
  std::unique_ptr<AVCodecContext, CodecFree> encoder_;
  std::unique_ptr<AVFrame, FrameFree> frame_;
  std::unique_ptr<AVPacket, PacketFree> packet_;
  std::vector<std::int16_t> block_;
  std::size_t block_fill_ = 0;  // frames in block_
};

}  // namespace quarvel::mci
