#pragma once
// The loopback bus seen as a mixer device: its volumes are the bus's levels, so
// they really scale what is heard and recorded, and its recording MUX chooses
// what the recorder takes.
//
// Destination 0 "Master Volume" (volume, mute): sources 0 "Line In" and
//   1 "Wave Out", each with volume and mute.
// Destination 1 "Recording Control" (MUX over its sources, listed in reverse):
//   sources 0 "Microphone", 1 "Line In", 2 "Stereo Mix", each with a volume.

#include <map>
#include <mutex>
#include <vector>

#include "platform/audio/loopback_bus.h"
#include "platform/mixer/mixer_driver.h"

namespace quarvel::mixer {

class LoopbackMixer final : public MixerDriver {
 public:
  static constexpr std::uint32_t kVolumeMax = 65535;

  explicit LoopbackMixer(audio::LoopbackBus& bus);

  std::uint32_t DeviceCount() override { return 1; }
  std::uint32_t GetDevCaps(std::uint32_t device, MixerCaps& caps) override;
  std::uint32_t Open(std::uint32_t device, ChangeCallback callback, MixerHandle& handle) override;
  std::uint32_t Close(MixerHandle handle) override;
  std::uint32_t GetDestinationLine(MixerHandle handle, std::uint32_t destination, LineInfo& line) override;
  std::uint32_t GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source,
                              LineInfo& line) override;
  std::uint32_t GetLineControl(MixerHandle handle, std::uint32_t line_id, ControlType type,
                               ControlInfo& control) override;
  std::uint32_t GetControlValues(MixerHandle handle, std::uint32_t control_id,
                                 std::span<std::uint32_t> values) override;
  std::uint32_t SetControlValues(MixerHandle handle, std::uint32_t control_id,
                                 std::span<const std::uint32_t> values) override;

 private:
  struct Control {
    ControlInfo info;
    std::uint32_t line_id;
  };
  struct Line {
    LineInfo info;
    bool is_destination;
  };

  bool ValidHandle(MixerHandle handle) const;
  const Control* FindControl(std::uint32_t control_id) const;
  std::uint32_t ReadValue(const Control& c, std::span<std::uint32_t> values) const;
  void Notify(std::uint32_t control_id);

  audio::LoopbackBus& bus_;
  std::vector<Line> lines_;
  std::vector<Control> controls_;
  mutable std::mutex mutex_;
  std::map<MixerHandle, ChangeCallback> handles_;
  MixerHandle next_handle_ = 1;
};

}  // namespace quarvel::mixer
