#pragma once
// Several mixer drivers seen as one: their devices are numbered one after the
// other, in the order the drivers are given.

#include <map>
#include <mutex>
#include <vector>

#include "platform/mixer/mixer_driver.h"

namespace quarvel::mixer {

class ChainedMixer final : public MixerDriver {
 public:
  explicit ChainedMixer(std::vector<MixerDriver*> drivers) : drivers_(std::move(drivers)) {}

  std::uint32_t DeviceCount() override;
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
  struct Route {
    MixerDriver* driver;
    MixerHandle inner;
  };
  bool Lookup(MixerHandle handle, Route& route);

  std::vector<MixerDriver*> drivers_;
  std::mutex mutex_;
  std::map<MixerHandle, Route> routes_;
  MixerHandle next_handle_ = 1;
};

}  // namespace quarvel::mixer
