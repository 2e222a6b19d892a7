#pragma once
// ALSA sound cards as mixer devices (one device per card, in card order).
//
// Destination 0 is the card's playback side: its line carries the "Master"
// element's volume and mute; its sources are the other elements with a
// playback volume. Destination 1 "Capture": its sources are the elements that
// can capture; when some of them have capture switches, a MUX selects one
// source by turning its switch on and the others' off.

#include <alsa/asoundlib.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/mixer/mixer_driver.h"

namespace quarvel::mixer {

class AlsaMixer final : public MixerDriver {
 public:
  AlsaMixer() = default;
  ~AlsaMixer() override;

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
  struct MixerCloser {
    void operator()(snd_mixer_t* m) const { snd_mixer_close(m); }
  };
  struct Control {
    ControlInfo info;
    std::uint32_t line_id = 0;
    snd_mixer_elem_t* elem = nullptr;  // volume and mute
    bool capture = false;
    long raw_min = 0;
  };
  struct Line {
    LineInfo info;
    bool is_destination = false;
    snd_mixer_elem_t* elem = nullptr;
  };
  struct Open_ {
    int card = 0;
    std::unique_ptr<snd_mixer_t, MixerCloser> mixer;
    std::vector<Line> lines;
    std::vector<Control> controls;
    std::vector<snd_mixer_elem_t*> mux_items;  // capture sources in source order
    ChangeCallback callback;
  };

  static std::vector<int> Cards();
  static void Build(Open_& open);
  Open_* Find(MixerHandle handle);

  std::recursive_mutex mutex_;
  std::map<MixerHandle, std::unique_ptr<Open_>> open_;
  MixerHandle next_handle_ = 1;
};

}  // namespace quarvel::mixer
