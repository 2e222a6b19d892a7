#include "platform/audio/alsa_device.h"

#include <algorithm>
#include <chrono>

namespace quarvel::audio {
namespace {

void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void InstallQuietHandler() {
  // ALSA prints every failed open to stderr; a missing device is normal here.
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&QuietAlsaErrors); });
}

}  // namespace

PcmHandle OpenPcm(const std::string& device, snd_pcm_stream_t stream, bool nonblocking) {
  InstallQuietHandler();
  snd_pcm_t* raw = nullptr;
  if (snd_pcm_open(&raw, device.c_str(), stream, nonblocking ? SND_PCM_NONBLOCK : 0) < 0) return nullptr;
  PcmHandle pcm(raw);
  // 100 ms of latency: enough to ride out scheduling hiccups.
  if (snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, kBusChannels, kBusRate, 1,
                         100000) < 0) {
    return nullptr;
  }
  return pcm;
}

bool PcmDeviceAvailable(const std::string& device, snd_pcm_stream_t stream) {
  return OpenPcm(device, stream, true) != nullptr;
}

AlsaOutput::AlsaOutput(LoopbackBus& bus, std::string device) : bus_(bus), device_(std::move(device)) {}

AlsaOutput::~AlsaOutput() { Stop(); }

bool AlsaOutput::Start() {
  if (running_) return true;
  pcm_ = OpenPcm(device_, SND_PCM_STREAM_PLAYBACK, false);
  if (!pcm_) return false;
  tap_ = bus_.OpenTap(bus_.NowFrame());
  stop_ = false;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void AlsaOutput::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  running_ = false;
  tap_.reset();
  pcm_.reset();
}

void AlsaOutput::Run() {
  std::vector<std::int16_t> block;
  while (!stop_) {
    const std::int64_t now = bus_.NowFrame();
    // After a jump of the clock, play from now rather than replay the past.
    if (now - tap_->Position() > kBusRate / 2) tap_->SkipTo(now - kBusRate / 20);
    block.clear();
    tap_->ReadUntil(now, BusMix::kPlayback, block);
    std::size_t done = 0;
    const std::size_t frames = block.size() / kBusChannels;
    while (done < frames && !stop_) {
      const snd_pcm_sframes_t n =
          snd_pcm_writei(pcm_.get(), block.data() + done * kBusChannels, frames - done);
      if (n < 0) {
        if (snd_pcm_recover(pcm_.get(), static_cast<int>(n), 1) < 0) {
          stop_ = true;
          break;
        }
        continue;
      }
      done += static_cast<std::size_t>(n);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // A dead output must not hold the bus's samples.
  tap_.reset();
  running_ = false;
}

bool AlsaCapture::Open() {
  pcm_ = OpenPcm(device_, SND_PCM_STREAM_CAPTURE, true);
  if (pcm_ && snd_pcm_start(pcm_.get()) < 0) pcm_.reset();
  return pcm_ != nullptr;
}

std::size_t AlsaCapture::ReadAvailable(std::vector<std::int16_t>& out) {
  if (!pcm_) return 0;
  std::size_t total = 0;
  std::int16_t buffer[1024 * kBusChannels];
  // What is there now, and never more than a second: a device that is not
  // paced by a clock (a file or null plugin) would otherwise never run dry.
  const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_.get());
  const std::size_t limit = static_cast<std::size_t>(std::clamp<snd_pcm_sframes_t>(avail, 1024, kBusRate));
  while (total < limit) {
    const snd_pcm_sframes_t n =
        snd_pcm_readi(pcm_.get(), buffer, static_cast<snd_pcm_uframes_t>(std::min<std::size_t>(1024, limit - total)));
    if (n == -EAGAIN || n == 0) break;
    if (n < 0) {
      if (snd_pcm_recover(pcm_.get(), static_cast<int>(n), 1) < 0) break;
      snd_pcm_start(pcm_.get());
      continue;
    }
    out.insert(out.end(), buffer, buffer + n * kBusChannels);
    total += static_cast<std::size_t>(n);
  }
  return total;
}

}  // namespace quarvel::audio
