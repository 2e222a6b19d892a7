#include "sound/mixer_setup.h"

#include "sound/audio_mixer.h"

namespace quarvel::sound {
namespace {

constexpr std::uint32_t kPlaybackDestination = 0;
constexpr std::uint32_t kRecordingDestination = 1;
constexpr int kWaveOutSource = 1;

TAudioMixerLine* LineOrNull(TAudioMixer& mixer, int i) {
  return i >= 0 && static_cast<std::uint32_t>(i) < mixer.SourceCount() ? &mixer.SourceLine(i) : nullptr;
}

}  // namespace

StartupSelection RunStartupSelection(mixer::MixerDriver& driver) {
  StartupSelection result;
  TAudioMixer mixer(driver);
  result.master_volume = mixer.DestinationLine().GetVolume();
  if (TAudioMixerLine* wave = LineOrNull(mixer, kWaveOutSource)) wave->SetVolume(kStartupWaveOutVolume);
  result.wave_out_volume = kStartupWaveOutVolume;

  mixer.SetDestinationID(kRecordingDestination);
  // A device without a recording destination falls back to destination 0;
  // its playback lines are no recording inputs.
  if (mixer.DestinationID() != kRecordingDestination) return result;
  const auto select = [&](int i) {
    result.selected_line = i;
    mixer.DestinationLine().SelectSource(i);
    result.recording_volume = mixer.SourceLine(i).GetVolume();
  };
  const int count = static_cast<int>(mixer.SourceCount());
  for (int i = 0; i < count; ++i) {
    const std::string& name = mixer.SourceLine(i).Name();
    result.recording_lines.push_back(name);
    // The scan goes on after a match: the last matching line wins.
    if (name.find("Mix") != std::string::npos || name.find("Out") != std::string::npos) select(i);
  }
  if (result.selected_line < 1 && count > 1) select(1);
  return result;
}

std::optional<int> RecordingLineChanged(mixer::MixerDriver& driver, int selected) {
  TAudioMixer mixer(driver);
  mixer.SetDestinationID(kRecordingDestination);
  if (mixer.DestinationID() != kRecordingDestination) return std::nullopt;
  mixer.DestinationLine().SelectSource(selected);
  if (TAudioMixerLine* line = LineOrNull(mixer, selected)) return line->GetVolume();
  return std::nullopt;
}

void RecordingVolumeChanged(mixer::MixerDriver& driver, int selected, int position) {
  TAudioMixer mixer(driver);
  mixer.SetDestinationID(kRecordingDestination);
  if (mixer.DestinationID() != kRecordingDestination) return;
  mixer.DestinationLine().SelectSource(selected);
  if (TAudioMixerLine* line = LineOrNull(mixer, selected)) line->SetVolume(position);
}

void WaveOutVolumeChanged(mixer::MixerDriver& driver, int position) {
  TAudioMixer mixer(driver);
  mixer.SetDestinationID(kPlaybackDestination);
  if (TAudioMixerLine* line = LineOrNull(mixer, kWaveOutSource)) line->SetVolume(position);
}

void MasterVolumeChanged(mixer::MixerDriver& driver, int position) {
  TAudioMixer mixer(driver);
  mixer.DestinationLine().SetVolume(position);
}

}  // namespace quarvel::sound
