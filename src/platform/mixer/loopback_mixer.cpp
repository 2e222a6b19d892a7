#include "platform/mixer/loopback_mixer.h"

#include <algorithm>

namespace quarvel::mixer {
namespace {

using audio::BusLevel;
using audio::BusMute;
using audio::RecordSource;

constexpr std::uint32_t kDestinationLine = 0xFFFF0000;
constexpr std::uint32_t SourceLineId(std::uint32_t destination, std::uint32_t source) {
  return ((source + 1) << 16) | destination;
}

// Control IDs, fixed for the device.
enum : std::uint32_t {
  kMasterVolume = 1,
  kMasterMute,
  kLineInVolume,
  kLineInMute,
  kWaveOutVolume,
  kWaveOutMute,
  kRecordMux,
  kRecordMicrophoneVolume,
  kRecordLineInVolume,
  kRecordStereoMixVolume,
};

constexpr std::uint32_t kRecordSources = 3;

BusLevel LevelOf(std::uint32_t id) {
  switch (id) {
    case kMasterVolume: return BusLevel::kMaster;
    case kLineInVolume: return BusLevel::kLineIn;
    case kWaveOutVolume: return BusLevel::kWaveOut;
    case kRecordMicrophoneVolume: return BusLevel::kRecordMicrophone;
    case kRecordLineInVolume: return BusLevel::kRecordLineIn;
    default: return BusLevel::kRecordStereoMix;
  }
}

BusMute MuteOf(std::uint32_t id) {
  switch (id) {
    case kMasterMute: return BusMute::kMaster;
    case kLineInMute: return BusMute::kLineIn;
    default: return BusMute::kWaveOut;
  }
}

}  // namespace

MixerDriver::~MixerDriver() = default;

LoopbackMixer::LoopbackMixer(audio::LoopbackBus& bus) : bus_(bus) {
  const auto line = [this](std::uint32_t dest, std::uint32_t src, bool is_dest, std::uint32_t connections,
                           std::uint32_t controls, const char* name) {
    LineInfo info;
    info.destination = dest;
    info.source = src;
    info.line_id = is_dest ? (kDestinationLine | dest) : SourceLineId(dest, src);
    info.connections = connections;
    info.controls = controls;
    info.name = name;
    lines_.push_back({info, is_dest});
    return info.line_id;
  };
  const auto control = [this](std::uint32_t line_id, std::uint32_t id, ControlType type, std::uint32_t max,
                              std::uint32_t items, const char* name) {
    ControlInfo info;
    info.control_id = id;
    info.type = type;
    info.maximum = max;
    info.items = items;
    info.name = name;
    controls_.push_back({info, line_id});
  };
  std::uint32_t id = line(0, 0, true, 2, 2, "Master Volume");
  control(id, kMasterVolume, ControlType::kVolume, kVolumeMax, 0, "Master Volume");
  control(id, kMasterMute, ControlType::kMute, 1, 0, "Master Mute");
  id = line(0, 0, false, 0, 2, "Line In");
  control(id, kLineInVolume, ControlType::kVolume, kVolumeMax, 0, "Line In Volume");
  control(id, kLineInMute, ControlType::kMute, 1, 0, "Line In Mute");
  id = line(0, 1, false, 0, 2, "Wave Out");
  control(id, kWaveOutVolume, ControlType::kVolume, kVolumeMax, 0, "Wave Out Volume");
  control(id, kWaveOutMute, ControlType::kMute, 1, 0, "Wave Out Mute");
  id = line(1, 0, true, kRecordSources, 1, "Recording Control");
  control(id, kRecordMux, ControlType::kMux, 1, kRecordSources, "Recording Source");
  id = line(1, 0, false, 0, 1, "Microphone");
  control(id, kRecordMicrophoneVolume, ControlType::kVolume, kVolumeMax, 0, "Microphone Volume");
  id = line(1, 1, false, 0, 1, "Line In");
  control(id, kRecordLineInVolume, ControlType::kVolume, kVolumeMax, 0, "Line In Volume");
  id = line(1, 2, false, 0, 1, "Stereo Mix");
  control(id, kRecordStereoMixVolume, ControlType::kVolume, kVolumeMax, 0, "Stereo Mix Volume");
}

std::uint32_t LoopbackMixer::GetDevCaps(std::uint32_t device, MixerCaps& caps) {
  if (device != 0) return kErrBadDeviceId;
  caps.product_name = "Quarvel Loopback";
  caps.destinations = 2;
  return kNoError;
}

std::uint32_t LoopbackMixer::Open(std::uint32_t device, ChangeCallback callback, MixerHandle& handle) {
  if (device != 0) return kErrBadDeviceId;
  std::lock_guard lock(mutex_);
  handle = next_handle_++;
  handles_[handle] = std::move(callback);
  return kNoError;
}

std::uint32_t LoopbackMixer::Close(MixerHandle handle) {
  std::lock_guard lock(mutex_);
  return handles_.erase(handle) ? kNoError : kErrInvalHandle;
}

bool LoopbackMixer::ValidHandle(MixerHandle handle) const {
  std::lock_guard lock(mutex_);
  return handles_.count(handle) != 0;
}

std::uint32_t LoopbackMixer::GetDestinationLine(MixerHandle handle, std::uint32_t destination, LineInfo& line) {
  if (!ValidHandle(handle)) return kErrInvalHandle;
  for (const Line& l : lines_) {
    if (l.is_destination && l.info.destination == destination) {
      line = l.info;
      return kNoError;
    }
  }
  return kErrInvalLine;
}

std::uint32_t LoopbackMixer::GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source,
                                           LineInfo& line) {
  if (!ValidHandle(handle)) return kErrInvalHandle;
  for (const Line& l : lines_) {
    if (!l.is_destination && l.info.destination == destination && l.info.source == source) {
      line = l.info;
      return kNoError;
    }
  }
  return kErrInvalLine;
}

std::uint32_t LoopbackMixer::GetLineControl(MixerHandle handle, std::uint32_t line_id, ControlType type,
                                            ControlInfo& control) {
  if (!ValidHandle(handle)) return kErrInvalHandle;
  const bool line_exists =
      std::any_of(lines_.begin(), lines_.end(), [&](const Line& l) { return l.info.line_id == line_id; });
  if (!line_exists) return kErrInvalLine;
  for (const Control& c : controls_) {
    if (c.line_id == line_id && c.info.type == type) {
      control = c.info;
      return kNoError;
    }
  }
  return kErrInvalControl;
}

const LoopbackMixer::Control* LoopbackMixer::FindControl(std::uint32_t control_id) const {
  for (const Control& c : controls_) {
    if (c.info.control_id == control_id) return &c;
  }
  return nullptr;
}

std::uint32_t LoopbackMixer::GetControlValues(MixerHandle handle, std::uint32_t control_id,
                                              std::span<std::uint32_t> values) {
  if (!ValidHandle(handle)) return kErrInvalHandle;
  const Control* c = FindControl(control_id);
  if (!c) return kErrInvalControl;
  return ReadValue(*c, values);
}

std::uint32_t LoopbackMixer::ReadValue(const Control& c, std::span<std::uint32_t> values) const {
  switch (c.info.type) {
    case ControlType::kVolume:
      if (values.size() != 1) return kErrInvalParam;
      values[0] = bus_.Level(LevelOf(c.info.control_id));
      return kNoError;
    case ControlType::kMute:
      if (values.size() != 1) return kErrInvalParam;
      values[0] = bus_.Muted(MuteOf(c.info.control_id)) ? 1 : 0;
      return kNoError;
    default: {
      if (values.size() != kRecordSources) return kErrInvalParam;
      const auto selected = static_cast<std::uint32_t>(bus_.GetRecordSource());
      for (std::uint32_t item = 0; item < kRecordSources; ++item) {
        values[item] = (kRecordSources - 1 - item) == selected ? 1 : 0;
      }
      return kNoError;
    }
  }
}

std::uint32_t LoopbackMixer::SetControlValues(MixerHandle handle, std::uint32_t control_id,
                                              std::span<const std::uint32_t> values) {
  if (!ValidHandle(handle)) return kErrInvalHandle;
  const Control* c = FindControl(control_id);
  if (!c) return kErrInvalControl;
  switch (c->info.type) {
    case ControlType::kVolume:
      if (values.size() != 1) return kErrInvalParam;
      bus_.SetLevel(LevelOf(control_id), static_cast<std::uint16_t>(std::min(values[0], kVolumeMax)));
      break;
    case ControlType::kMute:
      if (values.size() != 1) return kErrInvalParam;
      bus_.SetMute(MuteOf(control_id), values[0] != 0);
      break;
    default: {
      // A MUX takes exactly one selected item; items run in reverse source order.
      if (values.size() != kRecordSources || std::count_if(values.begin(), values.end(), [](std::uint32_t v) {
                                                 return v != 0;
                                               }) != 1) {
        return kErrInvalParam;
      }
      const auto item = static_cast<std::uint32_t>(
          std::find_if(values.begin(), values.end(), [](std::uint32_t v) { return v != 0; }) - values.begin());
      bus_.SetRecordSource(static_cast<RecordSource>(kRecordSources - 1 - item));
      break;
    }
  }
  Notify(control_id);
  return kNoError;
}

void LoopbackMixer::Notify(std::uint32_t control_id) {
  std::vector<std::pair<MixerHandle, ChangeCallback>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [h, cb] : handles_) {
      if (cb) targets.emplace_back(h, cb);
    }
  }
  for (auto& [h, cb] : targets) cb(ChangeKind::kControl, h, control_id);
}

}  // namespace quarvel::mixer
