#include "sound/wave_recorder.h"

#include "sound/recording_file.h"

namespace quarvel::sound {

WaveRecorder::WaveRecorder(mci::Mci& mci) : mci_(mci) {}

WaveRecorder::~WaveRecorder() { Close(); }

void WaveRecorder::Report(std::string_view text) {
  if (sink_) sink_(RecorderMessage{std::string(text), std::string(kErrorCaption)});
}

bool WaveRecorder::StartRecording(const std::filesystem::path& path, int sound_quality_index) {
  if (sound_quality_index >= 0 && sound_quality_index < static_cast<int>(kSoundQualityEntries.size())) {
    if (!PrepareRecordingFile(TemplateForSoundQuality(sound_quality_index), path)) {
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
    Report(kInitErrorText);
    return false;
  }
  open_ = true;
  device_ = id;
  last_code_ = mci_.Record(device_);
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
