#include "platform/mci/mci.h"

#include <fstream>
#include <vector>

#include "platform/mci/wave_audio_device.h"

namespace quarvel::mci {
namespace {

// The header is all that open needs; a recording file's samples are replaced.
constexpr std::size_t kHeaderReadLimit = 64 * 1024;

}  // namespace

Mci::Mci(audio::LoopbackBus& bus) : bus_(bus) {}

Mci::~Mci() = default;

Mci& Mci::Instance() {
  static Mci mci(audio::LoopbackBus::Instance());
  return mci;
}

std::uint32_t Mci::Open(const std::filesystem::path& element, DeviceId& id) {
  std::ifstream in(element, std::ios::binary);
  if (!in) return kErrFileNotFound;
  std::vector<std::uint8_t> head(kHeaderReadLimit);
  in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return kErrFileNotFound;
  audio::WaveInfo info;
  try {
    info = audio::ParseWave(head);
  } catch (const audio::WaveError&) {
    return kErrInvalidFile;
  }
  if (!WaveAudioDevice::Supported(info.format)) return kErrInvalidFile;
  auto device = std::make_shared<WaveAudioDevice>(bus_, info.format, element);
  std::lock_guard lock(mutex_);
  id = next_id_++;
  devices_[id] = std::move(device);
  return kOk;
}

std::shared_ptr<WaveAudioDevice> Mci::Find(DeviceId id) const {
  std::lock_guard lock(mutex_);
  const auto it = devices_.find(id);
  return it == devices_.end() ? nullptr : it->second;
}

std::uint32_t Mci::Record(DeviceId id) {
  const auto device = Find(id);
  return device ? device->Record() : kErrInvalidDeviceId;
}

std::uint32_t Mci::Stop(DeviceId id) {
  const auto device = Find(id);
  return device ? device->Stop() : kErrInvalidDeviceId;
}

std::uint32_t Mci::Save(DeviceId id, const std::filesystem::path& file) {
  const auto device = Find(id);
  return device ? device->Save(file) : kErrInvalidDeviceId;
}

std::string Mci::ErrorText(DeviceId id) const {
  const auto device = Find(id);
  return device ? device->ErrorText() : std::string();
}

std::uint32_t Mci::Close(DeviceId id) {
  std::shared_ptr<WaveAudioDevice> device;
  {
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(id);
    if (it == devices_.end()) return kErrInvalidDeviceId;
    device = std::move(it->second);
    devices_.erase(it);
  }
  return device->Stop();
}

std::size_t Mci::OpenCount() const {
  std::lock_guard lock(mutex_);
  return devices_.size();
}

}  // namespace quarvel::mci
