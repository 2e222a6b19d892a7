#include "platform/mixer/alsa_mixer.h"

#include <algorithm>
#include <string>

namespace quarvel::mixer {
namespace {

constexpr std::uint32_t kDestinationLine = 0xFFFF0000;
constexpr std::uint32_t kMuxControlId = 0xFFFF;

std::string Cut(std::string s, std::size_t n) {
  if (s.size() > n) s.resize(n);
  return s;
}

void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

AlsaMixer::~AlsaMixer() = default;

std::vector<int> AlsaMixer::Cards() {
  snd_lib_error_set_handler(&QuietAlsaErrors);
  std::vector<int> cards;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) cards.push_back(card);
  return cards;
}

std::uint32_t AlsaMixer::DeviceCount() { return static_cast<std::uint32_t>(Cards().size()); }

std::uint32_t AlsaMixer::GetDevCaps(std::uint32_t device, MixerCaps& caps) {
  const std::vector<int> cards = Cards();
  if (device >= cards.size()) return kErrBadDeviceId;
  char* name = nullptr;
  if (snd_card_get_name(cards[device], &name) < 0) return kErrNoDriver;
  caps.product_name = Cut(name, 31);
  free(name);
  caps.destinations = 2;
  return kNoError;
}

void AlsaMixer::Build(Open_& open) {
  const auto add_line = [&](std::uint32_t dest, std::uint32_t src, bool is_dest, const std::string& name,
                            snd_mixer_elem_t* elem) -> Line& {
    Line l;
    l.info.destination = dest;
    l.info.source = src;
    l.info.line_id = is_dest ? (kDestinationLine | dest) : (((src + 1) << 16) | dest);
    l.info.name = Cut(name, 63);
    l.is_destination = is_dest;
    l.elem = elem;
    open.lines.push_back(l);
    return open.lines.back();
  };
  std::uint32_t next_control = 1;
  const auto add_volume = [&](std::uint32_t line_id, snd_mixer_elem_t* elem, bool capture) {
    long lo = 0;
    long hi = 0;
    if (capture ? snd_mixer_selem_get_capture_volume_range(elem, &lo, &hi) < 0
                : snd_mixer_selem_get_playback_volume_range(elem, &lo, &hi) < 0) {
      return;
    }
    if (hi <= lo) return;
    Control c;
    c.info.control_id = next_control++;
    c.info.type = ControlType::kVolume;
    c.info.maximum = static_cast<std::uint32_t>(hi - lo);
    c.info.name = "Volume";
    c.line_id = line_id;
    c.elem = elem;
    c.capture = capture;
    c.raw_min = lo;
    open.controls.push_back(c);
  };
  const auto add_mute = [&](std::uint32_t line_id, snd_mixer_elem_t* elem) {
    Control c;
    c.info.control_id = next_control++;
    c.info.type = ControlType::kMute;
    c.info.maximum = 1;
    c.info.name = "Mute";
    c.line_id = line_id;
    c.elem = elem;
    open.controls.push_back(c);
  };

  snd_mixer_elem_t* master = nullptr;
  std::vector<snd_mixer_elem_t*> playback;
  std::vector<snd_mixer_elem_t*> capture;
  for (snd_mixer_elem_t* e = snd_mixer_first_elem(open.mixer.get()); e; e = snd_mixer_elem_next(e)) {
    if (!snd_mixer_selem_is_active(e)) continue;
    const std::string name = snd_mixer_selem_get_name(e);
    if (name == "Master" && snd_mixer_selem_has_playback_volume(e)) {
      master = e;
    } else if (snd_mixer_selem_has_playback_volume(e)) {
      playback.push_back(e);
    }
    if (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e)) capture.push_back(e);
  }

  Line& out = add_line(0, 0, true, master ? "Master" : "Playback", master);
  out.info.connections = static_cast<std::uint32_t>(playback.size());
  const std::uint32_t out_id = out.info.line_id;
  if (master) {
    add_volume(out_id, master, false);
    if (snd_mixer_selem_has_playback_switch(master)) add_mute(out_id, master);
  }
  for (std::size_t i = 0; i < playback.size(); ++i) {
    const std::uint32_t id =
        add_line(0, static_cast<std::uint32_t>(i), false, snd_mixer_selem_get_name(playback[i]), playback[i])
            .info.line_id;
    add_volume(id, playback[i], false);
    if (snd_mixer_selem_has_playback_switch(playback[i])) add_mute(id, playback[i]);
  }

  Line& in = add_line(1, 0, true, "Capture", nullptr);
  in.info.connections = static_cast<std::uint32_t>(capture.size());
  const std::uint32_t in_id = in.info.line_id;
  const bool switches = std::any_of(capture.begin(), capture.end(),
                                    [](snd_mixer_elem_t* e) { return snd_mixer_selem_has_capture_switch(e) != 0; });
  if (switches) {
    Control c;
    c.info.control_id = kMuxControlId;
    c.info.type = ControlType::kMux;
    c.info.maximum = 1;
    c.info.items = static_cast<std::uint32_t>(capture.size());
    c.info.name = "Capture Source";
    c.line_id = in_id;
    open.controls.push_back(c);
    open.mux_items = capture;
  }
  for (std::size_t i = 0; i < capture.size(); ++i) {
    const std::uint32_t id =
        add_line(1, static_cast<std::uint32_t>(i), false, snd_mixer_selem_get_name(capture[i]), capture[i])
            .info.line_id;
    if (snd_mixer_selem_has_capture_volume(capture[i])) add_volume(id, capture[i], true);
  }
  for (Line& l : open.lines) {
    l.info.controls = static_cast<std::uint32_t>(std::count_if(
        open.controls.begin(), open.controls.end(), [&](const Control& c) { return c.line_id == l.info.line_id; }));
  }
}

std::uint32_t AlsaMixer::Open(std::uint32_t device, ChangeCallback callback, MixerHandle& handle) {
  const std::vector<int> cards = Cards();
  if (device >= cards.size()) return kErrBadDeviceId;
  auto open = std::make_unique<Open_>();
  open->card = cards[device];
  snd_mixer_t* raw = nullptr;
  if (snd_mixer_open(&raw, 0) < 0) return kErrNoDriver;
  open->mixer.reset(raw);
  const std::string hw = "hw:" + std::to_string(open->card);
  if (snd_mixer_attach(raw, hw.c_str()) < 0 || snd_mixer_selem_register(raw, nullptr, nullptr) < 0 ||
      snd_mixer_load(raw) < 0) {
    return kErrNoDriver;
  }
  Build(*open);
  open->callback = std::move(callback);
  std::lock_guard lock(mutex_);
  handle = next_handle_++;
  open_[handle] = std::move(open);
  return kNoError;
}

std::uint32_t AlsaMixer::Close(MixerHandle handle) {
  std::lock_guard lock(mutex_);
  return open_.erase(handle) ? kNoError : kErrInvalHandle;
}

AlsaMixer::Open_* AlsaMixer::Find(MixerHandle handle) {
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second.get();
}

std::uint32_t AlsaMixer::GetDestinationLine(MixerHandle handle, std::uint32_t destination, LineInfo& line) {
  std::lock_guard lock(mutex_);
  Open_* open = Find(handle);
  if (!open) return kErrInvalHandle;
  for (const Line& l : open->lines) {
    if (l.is_destination && l.info.destination == destination) {
      line = l.info;
      return kNoError;
    }
  }
  return kErrInvalLine;
}

std::uint32_t AlsaMixer::GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source,
                                       LineInfo& line) {
  std::lock_guard lock(mutex_);
  Open_* open = Find(handle);
  if (!open) return kErrInvalHandle;
  for (const Line& l : open->lines) {
    if (!l.is_destination && l.info.destination == destination && l.info.source == source) {
      line = l.info;
      return kNoError;
    }
  }
  return kErrInvalLine;
}

std::uint32_t AlsaMixer::GetLineControl(MixerHandle handle, std::uint32_t line_id, ControlType type,
                                        ControlInfo& control) {
  std::lock_guard lock(mutex_);
  Open_* open = Find(handle);
  if (!open) return kErrInvalHandle;
  for (const Control& c : open->controls) {
    if (c.line_id == line_id && c.info.type == type) {
      control = c.info;
      return kNoError;
    }
  }
  return kErrInvalControl;
}

std::uint32_t AlsaMixer::GetControlValues(MixerHandle handle, std::uint32_t control_id,
                                          std::span<std::uint32_t> values) {
  std::lock_guard lock(mutex_);
  Open_* open = Find(handle);
  if (!open) return kErrInvalHandle;
  const auto it = std::find_if(open->controls.begin(), open->controls.end(),
                               [&](const Control& c) { return c.info.control_id == control_id; });
  if (it == open->controls.end()) return kErrInvalControl;
  const Control& c = *it;
  if (c.info.type == ControlType::kMux) {
    if (values.size() != open->mux_items.size()) return kErrInvalParam;
    const std::size_t n = values.size();
    for (std::size_t i = 0; i < n; ++i) {
      int on = 0;
      snd_mixer_elem_t* e = open->mux_items[i];
      if (snd_mixer_selem_has_capture_switch(e)) snd_mixer_selem_get_capture_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on);
      values[n - 1 - i] = on ? 1 : 0;  // the list runs in reverse source order
    }
    return kNoError;
  }
  if (values.size() != 1) return kErrInvalParam;
  if (c.info.type == ControlType::kVolume) {
    long v = 0;
    const int rc = c.capture ? snd_mixer_selem_get_capture_volume(c.elem, SND_MIXER_SCHN_FRONT_LEFT, &v)
                             : snd_mixer_selem_get_playback_volume(c.elem, SND_MIXER_SCHN_FRONT_LEFT, &v);
    if (rc < 0) return kErrNoDriver;
    values[0] = static_cast<std::uint32_t>(std::max(0L, v - c.raw_min));
  } else {
    int on = 1;
    if (snd_mixer_selem_get_playback_switch(c.elem, SND_MIXER_SCHN_FRONT_LEFT, &on) < 0) return kErrNoDriver;
    values[0] = on ? 0 : 1;  // a playback switch is on when not muted
  }
  return kNoError;
}

std::uint32_t AlsaMixer::SetControlValues(MixerHandle handle, std::uint32_t control_id,
                                          std::span<const std::uint32_t> values) {
  std::vector<std::pair<MixerHandle, ChangeCallback>> notify;
  {
    std::lock_guard lock(mutex_);
    Open_* open = Find(handle);
    if (!open) return kErrInvalHandle;
    const auto it = std::find_if(open->controls.begin(), open->controls.end(),
                                 [&](const Control& c) { return c.info.control_id == control_id; });
    if (it == open->controls.end()) return kErrInvalControl;
    const Control& c = *it;
    if (c.info.type == ControlType::kMux) {
      const std::size_t n = open->mux_items.size();
      if (values.size() != n ||
          std::count_if(values.begin(), values.end(), [](std::uint32_t v) { return v != 0; }) != 1) {
        return kErrInvalParam;
      }
      for (std::size_t i = 0; i < n; ++i) {
        snd_mixer_elem_t* e = open->mux_items[i];
        if (snd_mixer_selem_has_capture_switch(e)) snd_mixer_selem_set_capture_switch_all(e, values[n - 1 - i] ? 1 : 0);
      }
    } else {
      if (values.size() != 1) return kErrInvalParam;
      if (c.info.type == ControlType::kVolume) {
        const long v = c.raw_min + static_cast<long>(std::min(values[0], c.info.maximum));
        const int rc = c.capture ? snd_mixer_selem_set_capture_volume_all(c.elem, v)
                                 : snd_mixer_selem_set_playback_volume_all(c.elem, v);
        if (rc < 0) return kErrNoDriver;
      } else if (snd_mixer_selem_set_playback_switch_all(c.elem, values[0] ? 0 : 1) < 0) {
        return kErrNoDriver;
      }
    }
    for (auto& [h, o] : open_) {
      if (o->card == open->card && o->callback) notify.emplace_back(h, o->callback);
    }
  }
  for (auto& [h, cb] : notify) cb(ChangeKind::kControl, h, control_id);
  return kNoError;
}

}  // namespace quarvel::mixer
