#pragma once
// ALSA playback of the bus and ALSA capture (the "Microphone" input). Both do
// nothing, without error, on a machine that has no sound device.

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/loopback_bus.h"

namespace quarvel::audio {

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

// Opens `device` at 44100 Hz, stereo, 16-bit; null when that is not possible.
PcmHandle OpenPcm(const std::string& device, snd_pcm_stream_t stream, bool nonblocking);

// Whether `device` can be opened for the given direction right now.
bool PcmDeviceAvailable(const std::string& device, snd_pcm_stream_t stream);

// Plays the bus's playback mix through ALSA, following the bus clock.
class AlsaOutput {
 public:
  explicit AlsaOutput(LoopbackBus& bus, std::string device = "default");
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;
  ~AlsaOutput();

  // False when the device cannot be opened; the bus is then simply not heard.
  bool Start();
  void Stop();
  bool Running() const { return running_.load(); }

 private:
  void Run();

  LoopbackBus& bus_;
  std::string device_;
  PcmHandle pcm_;
  std::unique_ptr<LoopbackBus::Tap> tap_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Reads 44100 Hz stereo 16-bit frames from an ALSA capture device.
class AlsaCapture {
 public:
  explicit AlsaCapture(std::string device = "default") : device_(std::move(device)) {}
  // False when the device cannot be opened.
  bool Open();
  bool IsOpen() const { return pcm_ != nullptr; }
  // Appends the frames captured so far (never waits); returns their count.
  std::size_t ReadAvailable(std::vector<std::int16_t>& out);
  void Close() { pcm_.reset(); }

 private:
  std::string device_;
  PcmHandle pcm_;
};

}  // namespace quarvel::audio
