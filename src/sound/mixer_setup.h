#pragma once
// The main window's sound controls as core functions over the mixer: the
// start-up selection of the recording input and the handlers of the
// recording-line list and the three volume bars. Each call opens a mixer
// (device 0), acts and frees it. Lines that do not exist are skipped.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mixer/mixer_driver.h"

namespace quarvel::sound {

inline constexpr std::string_view kNoDeviceFound = "No Device Found";
inline constexpr int kStartupWaveOutVolume = 95;

// What the start-up selection leaves in the controls. The front end sets the
// bars from these values (a bar clamps -1 to 0); moving a bar from code runs
// its handler, which writes the value back as the handlers below do.
struct StartupSelection {
  int master_volume = -1;
  int wave_out_volume = kStartupWaveOutVolume;
  // Entries of the recording-line list; empty keeps "No Device Found".
  std::vector<std::string> recording_lines;
  int selected_line = -1;
  // Set when a line was selected: the recording-volume bar's new value.
  std::optional<int> recording_volume;
};

// Master bar from destination 0's volume; source 1 of destination 0 set to
// 95; on destination 1 every source listed and the last whose name holds
// "Mix", else "Out" (case-sensitive), selected; when that leaves no entry or
// entry 0, entry 1 is taken instead.
StartupSelection RunStartupSelection(mixer::MixerDriver& driver);

// Recording-line list changed to entry `selected`: selects that source on
// destination 1 and returns its volume for the recording-volume bar
// (nothing when there is no such line).
std::optional<int> RecordingLineChanged(mixer::MixerDriver& driver, int selected);

// Recording-volume bar moved: selects the list's entry as source and sets
// its volume.
void RecordingVolumeChanged(mixer::MixerDriver& driver, int selected, int position);

// Wave-out bar moved: source 1 of destination 0.
void WaveOutVolumeChanged(mixer::MixerDriver& driver, int position);

// Master bar moved: destination 0's own line.
void MasterVolumeChanged(mixer::MixerDriver& driver, int position);

}  // namespace quarvel::sound
