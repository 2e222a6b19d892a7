#include "sound/wave_recorder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths/working_folder.h"
#include "sound/recording_file.h"

namespace quarvel::sound {

namespace {

// Why the device could not open the prepared recording file.
std::string OpenFailure(const std::filesystem::path& element, std::uint32_t code,
                        const std::filesystem::path& template_file) {
  if (code != mci::kErrFileNotFound) return element.string() + ": not a format the sound device records";
  std::error_code ec;
  if (std::filesystem::exists(element, ec)) return element.string() + ": cannot be read";
  const std::filesystem::path folder = element.parent_path();
  if (!std::filesystem::is_directory(folder, ec)) return folder.string() + ": no such folder";
  if (::access(folder.c_str(), W_OK) != 0) return folder.string() + ": " + std::strerror(errno);
  // Named, so that a program whose data files are missing says which.
  if (template_file.empty()) return element.string() + ": the recording file could not be made";
  return element.string() + ": the recording template " + template_file.string() + " could not be copied" +
         (std::filesystem::exists(template_file, ec) ? "" : " (it is missing)");
}

}  // namespace

WaveRecorder::WaveRecorder(mci::Mci& mci) : mci_(mci) {}

WaveRecorder::~WaveRecorder() { Close(); }

void WaveRecorder::Report(std::string_view text) {
  if (sink_) sink_(RecorderMessage{std::string(text), std::string(kErrorCaption), last_error_});
}

bool WaveRecorder::StartRecording(const std::filesystem::path& path, int sound_quality_index) {
  last_error_.clear();
  std::filesystem::path template_file;
  if (sound_quality_index >= 0 && sound_quality_index < static_cast<int>(kSoundQualityEntries.size())) {
    const std::string_view template_name = TemplateForSoundQuality(sound_quality_index);
    if (!template_name.empty()) template_file = paths::DataFilePath(template_name);
    errno = 0;
    if (!PrepareRecordingFile(template_name, path)) {
      last_error_ = path.string() + ": " + (errno != 0 ? std::strerror(errno) : "cannot be written");
      Report(kInitErrorText);
      return false;
    }
  }
  element_ = path;
  // A device left open (its close failed) is closed before the new open.
  if (open_) {
    last_code_ = mci_.Close(device_);
    open_ = false;
    device_ = 0;
  }
  mci::DeviceId id = 0;
  last_code_ = mci_.Open(element_, id);
  if (last_code_ != mci::kOk) {
    last_error_ = OpenFailure(element_, last_code_, template_file);
    Report(kInitErrorText);
    return false;
  }
  open_ = true;
  device_ = id;
  last_code_ = mci_.Record(device_);
  if (last_code_ != mci::kOk) {
    last_error_ = mci_.ErrorText(device_);
    if (last_error_.empty()) last_error_ = element_.string() + ": the recording could not start";
    Report(kInitErrorText);
    Close();
    return false;
  }
  return true;
}

bool WaveRecorder::SaveRecording() {
  if (!open_) {
    Report(kSaveErrorText);
    return false;
  }
  last_code_ = mci_.Stop(device_);
  std::uint32_t saved = mci::kOk;
  if (!element_.empty()) {
    saved = mci_.Save(device_, element_);
    last_code_ = saved;
    if (saved != mci::kOk) {
      last_error_ = mci_.ErrorText(device_);
      if (last_error_.empty()) last_error_ = element_.string() + ": cannot be written";
    }
  }
  Close();
  // A recording that could not be written is a lost recording: say so.
  if (saved != mci::kOk) {
    Report(kSaveErrorText);
    return false;
  }
  return true;
}

void WaveRecorder::Close() {
  if (!open_) return;
  last_code_ = mci_.Close(device_);
  if (last_code_ == mci::kOk) {
    open_ = false;
    device_ = 0;
  }
}

}  // namespace quarvel::sound
