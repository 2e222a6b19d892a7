#include "platform/mixer/system_mixer.h"

#include <memory>

#include "platform/audio/loopback_bus.h"
#include "platform/mixer/alsa_mixer.h"
#include "platform/mixer/loopback_mixer.h"

namespace quarvel::mixer {

std::uint32_t ChainedMixer::DeviceCount() {
  std::uint32_t n = 0;
  for (MixerDriver* d : drivers_) n += d->DeviceCount();
  return n;
}

std::uint32_t ChainedMixer::GetDevCaps(std::uint32_t device, MixerCaps& caps) {
  for (MixerDriver* d : drivers_) {
    const std::uint32_t n = d->DeviceCount();
    if (device < n) return d->GetDevCaps(device, caps);
    device -= n;
  }
  return kErrBadDeviceId;
}

std::uint32_t ChainedMixer::Open(std::uint32_t device, ChangeCallback callback, MixerHandle& handle) {
  for (MixerDriver* d : drivers_) {
    const std::uint32_t n = d->DeviceCount();
    if (device >= n) {
      device -= n;
      continue;
    }
    // The inner driver speaks of its own handle; the caller knows ours.
    auto outer = std::make_shared<MixerHandle>(0);
    ChangeCallback wrapped;
    if (callback) {
      wrapped = [callback, outer](ChangeKind kind, MixerHandle, std::uint32_t id) { callback(kind, *outer, id); };
    }
    MixerHandle inner = 0;
    const std::uint32_t rc = d->Open(device, std::move(wrapped), inner);
    if (rc != kNoError) return rc;
    std::lock_guard lock(mutex_);
    handle = next_handle_++;
    *outer = handle;
    routes_[handle] = {d, inner};
    return kNoError;
  }
  return kErrBadDeviceId;
}

bool ChainedMixer::Lookup(MixerHandle handle, Route& route) {
  std::lock_guard lock(mutex_);
  const auto it = routes_.find(handle);
  if (it == routes_.end()) return false;
  route = it->second;
  return true;
}

std::uint32_t ChainedMixer::Close(MixerHandle handle) {
  Route r{};
  if (!Lookup(handle, r)) return kErrInvalHandle;
  {
    std::lock_guard lock(mutex_);
    routes_.erase(handle);
  }
  return r.driver->Close(r.inner);
}

std::uint32_t ChainedMixer::GetDestinationLine(MixerHandle handle, std::uint32_t destination, LineInfo& line) {
  Route r{};
  return Lookup(handle, r) ? r.driver->GetDestinationLine(r.inner, destination, line) : kErrInvalHandle;
}

std::uint32_t ChainedMixer::GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source,
                                          LineInfo& line) {
  Route r{};
  return Lookup(handle, r) ? r.driver->GetSourceLine(r.inner, destination, source, line) : kErrInvalHandle;
}

std::uint32_t ChainedMixer::GetLineControl(MixerHandle handle, std::uint32_t line_id, ControlType type,
                                           ControlInfo& control) {
  Route r{};
  return Lookup(handle, r) ? r.driver->GetLineControl(r.inner, line_id, type, control) : kErrInvalHandle;
}

std::uint32_t ChainedMixer::GetControlValues(MixerHandle handle, std::uint32_t control_id,
                                             std::span<std::uint32_t> values) {
  Route r{};
  return Lookup(handle, r) ? r.driver->GetControlValues(r.inner, control_id, values) : kErrInvalHandle;
}

std::uint32_t ChainedMixer::SetControlValues(MixerHandle handle, std::uint32_t control_id,
                                             std::span<const std::uint32_t> values) {
  Route r{};
  return Lookup(handle, r) ? r.driver->SetControlValues(r.inner, control_id, values) : kErrInvalHandle;
}

MixerDriver& SystemMixer() {
  static LoopbackMixer loopback(audio::LoopbackBus::Instance());
  static AlsaMixer alsa;
  static ChainedMixer chained({&loopback, &alsa});
  return chained;
}

}  // namespace quarvel::mixer
