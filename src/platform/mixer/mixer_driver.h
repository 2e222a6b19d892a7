#pragma once
// The audio mixer services: devices with destination lines, their source lines
// and the controls on each line, reached through an open handle. Every call
// returns a result code as the platform's mixer API does (0 = success), and a
// change of a control is announced to every open handle of its device.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace quarvel::mixer {

inline constexpr std::uint32_t kNoError = 0;             // MMSYSERR_NOERROR
inline constexpr std::uint32_t kErrBadDeviceId = 2;      // MMSYSERR_BADDEVICEID
inline constexpr std::uint32_t kErrInvalHandle = 5;      // MMSYSERR_INVALHANDLE
inline constexpr std::uint32_t kErrNoDriver = 6;         // MMSYSERR_NODRIVER
inline constexpr std::uint32_t kErrInvalParam = 11;      // MMSYSERR_INVALPARAM
inline constexpr std::uint32_t kErrInvalLine = 1024;     // MIXERR_INVALLINE
inline constexpr std::uint32_t kErrInvalControl = 1025;  // MIXERR_INVALCONTROL

enum class ControlType : std::uint32_t {
  kVolume = 0x50030001,
  kMute = 0x20010002,
  kMux = 0x70010001,
  kMixer = 0x71010001,  // multi-select list
};

struct MixerCaps {
  std::string product_name;  // at most 31 characters
  std::uint32_t destinations = 0;
};

struct LineInfo {
  std::uint32_t destination = 0;
  std::uint32_t source = 0;
  std::uint32_t line_id = 0;
  std::uint32_t connections = 0;  // for a destination: its number of sources
  std::uint32_t controls = 0;
  std::string name;  // at most 63 characters
};

struct ControlInfo {
  std::uint32_t control_id = 0;
  ControlType type = ControlType::kVolume;
  std::uint32_t minimum = 0;
  std::uint32_t maximum = 0;
  std::uint32_t items = 0;  // list controls: number of entries
  std::string name;
};

using MixerHandle = std::uint32_t;  // 0 is never a valid handle

enum class ChangeKind { kLine, kControl };
// (kind, the handle the message is for, line ID or control ID)
using ChangeCallback = std::function<void(ChangeKind, MixerHandle, std::uint32_t)>;

class MixerDriver {
 public:
  virtual ~MixerDriver();

  virtual std::uint32_t DeviceCount() = 0;
  virtual std::uint32_t GetDevCaps(std::uint32_t device, MixerCaps& caps) = 0;
  // The callback may be empty; it runs on the thread that made the change,
  // never while the driver holds a lock.
  virtual std::uint32_t Open(std::uint32_t device, ChangeCallback callback, MixerHandle& handle) = 0;
  virtual std::uint32_t Close(MixerHandle handle) = 0;
  virtual std::uint32_t GetDestinationLine(MixerHandle handle, std::uint32_t destination, LineInfo& line) = 0;
  virtual std::uint32_t GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source,
                                      LineInfo& line) = 0;
  // The line's first control of the given type.
  virtual std::uint32_t GetLineControl(MixerHandle handle, std::uint32_t line_id, ControlType type,
                                       ControlInfo& control) = 0;
  // One channel: a volume or switch takes one value, applied to every
  // channel; a list takes one value per item (non-zero = selected).
  virtual std::uint32_t GetControlValues(MixerHandle handle, std::uint32_t control_id,
                                         std::span<std::uint32_t> values) = 0;
  virtual std::uint32_t SetControlValues(MixerHandle handle, std::uint32_t control_id,
                                         std::span<const std::uint32_t> values) = 0;
};

// The process's mixer services: the loopback device as device 0 (on the
// process's loopback bus), then every ALSA card.
MixerDriver& SystemMixer();

}  // namespace quarvel::mixer
