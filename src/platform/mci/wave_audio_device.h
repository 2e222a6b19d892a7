#pragma once
// One open wave-audio device of the MCI stand-in (private to quarvel_mci).

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/alsa_device.h"
#include "platform/audio/loopback_bus.h"
#include "platform/audio/wave_file.h"

struct SwrContext;

namespace quarvel::mci {

class WaveAudioDevice {
 public:
  WaveAudioDevice(audio::LoopbackBus& bus, audio::WaveFormat format);
  WaveAudioDevice(const WaveAudioDevice&) = delete;
  WaveAudioDevice& operator=(const WaveAudioDevice&) = delete;
  ~WaveAudioDevice();

  // Whether recordings in this format are possible at all.
  static bool Supported(const audio::WaveFormat& format);

  std::uint32_t Record();
  std::uint32_t Stop();
  std::uint32_t Save(const std::filesystem::path& file);

  const audio::WaveFormat& format() const { return format_; }

 private:
  struct SwrFree {
    void operator()(SwrContext* s) const;
  };
  struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  void Run();
  void PullLocked(bool final);
  void FeedLocked(std::span<const std::int16_t> interleaved);
  void DrainLocked();
  void StopLocked(std::unique_lock<std::mutex>& lock);
  bool WritePcm(std::FILE* out);
  bool WriteImaAdpcm(std::FILE* out);

  audio::LoopbackBus& bus_;
  audio::WaveFormat format_;
  // Samples are converted to this layout before they are spooled.
  int out_channels_;
  int out_bytes_per_sample_;  // 1 for 8-bit PCM, else 2

  std::mutex mutex_;
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

  std::unique_ptr<std::FILE, FileClose> spool_;
  std::uint64_t spooled_frames_ = 0;  // at the output rate
  bool spool_failed_ = false;
};

}  // namespace quarvel::mci
