#pragma once
// The recorder that takes the sound of a capture into the recording file.
// It holds at most one open MCI wave-audio device. Failures are not shown
// here: they go to the message sink, which the front end turns into a
// message box or a line on stderr.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/mci/mci.h"

namespace quarvel::sound {

inline constexpr std::string_view kInitErrorText = "Can not init sound device !";
inline constexpr std::string_view kSaveErrorText = "Can not save sound file !";
inline constexpr std::string_view kErrorCaption = "Error:";

struct RecorderMessage {
  std::string text;     // kInitErrorText or kSaveErrorText
  std::string caption;  // kErrorCaption; shown with the error icon and an OK button
  std::string detail;   // the file and the cause, when known
};
using RecorderMessageSink = std::function<void(const RecorderMessage&)>;

class WaveRecorder {
 public:
  explicit WaveRecorder(mci::Mci& mci = mci::Mci::Instance());
  WaveRecorder(const WaveRecorder&) = delete;
  WaveRecorder& operator=(const WaveRecorder&) = delete;
  // Closes a device that is still open.
  ~WaveRecorder();

  void SetMessageSink(RecorderMessageSink sink) { sink_ = std::move(sink); }

  // Makes the recording file for the recording-format entry (-1: none
  // selected, nothing is made), opens it as the device's element and starts
  // recording. On failure reports kInitErrorText and returns false; the
  // capture goes on without sound.
  bool StartRecording(const std::filesystem::path& path, int sound_quality_index);

  // Stops, saves to the element file and closes. Without an open device, or
  // when the save fails, reports kSaveErrorText and returns false.
  bool SaveRecording();

  // Closes the open device, if any; reports nothing.
  void Close();

  bool IsOpen() const { return open_; }
  mci::DeviceId DeviceId() const { return device_; }
  std::uint32_t LastCode() const { return last_code_; }
  const std::filesystem::path& ElementFileName() const { return element_; }
  // Why the last start or save failed (file and cause); empty after success.
  const std::string& LastError() const { return last_error_; }

 private:
  void Report(std::string_view text);

  mci::Mci& mci_;
  RecorderMessageSink sink_;
  std::filesystem::path element_;
  bool open_ = false;
  mci::DeviceId device_ = 0;
  std::uint32_t last_code_ = 0;
  std::string last_error_;
};

}  // namespace quarvel::sound
