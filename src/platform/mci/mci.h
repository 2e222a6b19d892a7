#pragma once
// The multimedia control interface's wave-audio device, as the recorder uses
// it: open on an element file (recording in that file's format), record in the
// background until stop, save as a complete WAVE file, close. Every command
// returns 0 on success or an MCI error code.
//
// What is recorded is the input the loopback mixer selected on its recording
// destination: the bus's stereo mix or line in, or the ALSA default capture
// device for "Microphone" (silence when there is none). Recording time is the
// bus clock's: a recording from clock time a to b holds exactly b − a ms. The
// recording thread takes the bus only up to its settled frame (see
// LoopbackBus::Hold), the stop up to the present.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/loopback_bus.h"

namespace quarvel::mci {

inline constexpr std::uint32_t kOk = 0;
inline constexpr std::uint32_t kErrInvalidDeviceId = 257;         // MCIERR_INVALID_DEVICE_ID
inline constexpr std::uint32_t kErrUnsupportedFunction = 274;     // MCIERR_UNSUPPORTED_FUNCTION
inline constexpr std::uint32_t kErrFileNotFound = 275;            // MCIERR_FILE_NOT_FOUND
inline constexpr std::uint32_t kErrFileNotSaved = 286;            // MCIERR_FILE_NOT_SAVED
inline constexpr std::uint32_t kErrInvalidFile = 296;             // MCIERR_INVALID_FILE
inline constexpr std::uint32_t kErrNonapplicableFunction = 302;   // MCIERR_NONAPPLICABLE_FUNCTION

using DeviceId = std::uint32_t;  // 0 is never a device

class WaveAudioDevice;

// Virtual so that tests can stand in for a failing device.
class Mci {
 public:
  explicit Mci(audio::LoopbackBus& bus);
  Mci(const Mci&) = delete;
  Mci& operator=(const Mci&) = delete;
  virtual ~Mci();

  // The process's MCI, on the process's loopback bus.
  static Mci& Instance();

  // MCI_OPEN with MCI_OPEN_ELEMENT: reads the element's WAVE format (PCM of 8
  // or 16 bits, or IMA ADPCM; one or two channels; 8000 to 96000 Hz).
  // kErrFileNotFound for a missing or unreadable file, kErrInvalidFile for
  // anything else it cannot record into.
  virtual std::uint32_t Open(const std::filesystem::path& element, DeviceId& id);
  // MCI_RECORD without from/to: records from now on, on a thread of its own,
  // appending to what earlier records of this device took.
  virtual std::uint32_t Record(DeviceId id);
  // MCI_STOP: takes the input up to the clock's present and ends the recording.
  virtual std::uint32_t Stop(DeviceId id);
  // MCI_RECORD streams into the element file as it goes, its header kept
  // valid, so a killed process leaves a playable recording.
  // MCI_SAVE: completes the element file; saving under another name copies
  // it, and that file is replaced only when the whole copy has been written.
  virtual std::uint32_t Save(DeviceId id, const std::filesystem::path& file);
  // Why the device's recording failed (names the file and the cause); empty
  // when it has not. Failures on the recording thread end up here.
  virtual std::string ErrorText(DeviceId id) const;
  // MCI_CLOSE: stops a running recording and releases the device.
  virtual std::uint32_t Close(DeviceId id);

  // Number of devices open (for tests and diagnostics).
  std::size_t OpenCount() const;

 private:
  std::shared_ptr<WaveAudioDevice> Find(DeviceId id) const;

  audio::LoopbackBus& bus_;
  mutable std::mutex mutex_;
  std::map<DeviceId, std::shared_ptr<WaveAudioDevice>> devices_;
  DeviceId next_id_ = 1;
};

}  // namespace quarvel::mci
