#include "sound/audio_mixer.h"

#include <gtest/gtest.h>

#include "sound/mixer_setup.h"

namespace quarvel::sound {
namespace {

using mixer::ControlType;

// A mixer driver built from a description, recording what is set.
class FakeMixer final : public mixer::MixerDriver {
 public:
  struct Line {
    std::string name;
    bool volume = true;
    std::uint32_t value = 0;
  };
  struct Destination {
    Line line;
    std::vector<Line> sources;
    ControlType list = ControlType::kMux;
    bool has_list = true;
  };
  struct Device {
    std::string name;
    std::vector<Destination> destinations;
  };

  static constexpr std::uint32_t kMax = 65535;
  std::vector<Device> devices;
  std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> sets;  // (control, values)
  std::map<mixer::MixerHandle, std::pair<std::uint32_t, mixer::ChangeCallback>> open;

  // IDs: line = dest << 8 | (source + 1), 0 for the destination; control = line << 4 | kind.
  static std::uint32_t LineId(std::uint32_t d, int s) { return (d << 8) | static_cast<std::uint32_t>(s + 1); }

  std::uint32_t DeviceCount() override { return static_cast<std::uint32_t>(devices.size()); }
  std::uint32_t GetDevCaps(std::uint32_t device, mixer::MixerCaps& caps) override {
    if (device >= devices.size()) return mixer::kErrBadDeviceId;
    caps.product_name = devices[device].name;
    caps.destinations = static_cast<std::uint32_t>(devices[device].destinations.size());
    return 0;
  }
  std::uint32_t Open(std::uint32_t device, mixer::ChangeCallback cb, mixer::MixerHandle& h) override {
    if (device >= devices.size()) return mixer::kErrBadDeviceId;
    h = next_++;
    open[h] = {device, std::move(cb)};
    return 0;
  }
  std::uint32_t Close(mixer::MixerHandle h) override { return open.erase(h) ? 0 : mixer::kErrInvalHandle; }
  Device* Dev(mixer::MixerHandle h) { return open.count(h) ? &devices[open[h].first] : nullptr; }
  std::uint32_t GetDestinationLine(mixer::MixerHandle h, std::uint32_t d, mixer::LineInfo& l) override {
    Device* dev = Dev(h);
    if (!dev) return mixer::kErrInvalHandle;
    if (d >= dev->destinations.size()) return mixer::kErrInvalLine;
    l.name = dev->destinations[d].line.name;
    l.line_id = LineId(d, -1);
    l.connections = static_cast<std::uint32_t>(dev->destinations[d].sources.size());
    return 0;
  }
  std::uint32_t GetSourceLine(mixer::MixerHandle h, std::uint32_t d, std::uint32_t s, mixer::LineInfo& l) override {
    Device* dev = Dev(h);
    if (!dev) return mixer::kErrInvalHandle;
    if (d >= dev->destinations.size() || s >= dev->destinations[d].sources.size()) return mixer::kErrInvalLine;
    l.name = dev->destinations[d].sources[s].name;
    l.line_id = LineId(d, static_cast<int>(s));
    return 0;
  }
  Line* LineOf(Device& dev, std::uint32_t id, Destination** dest = nullptr) {
    const std::uint32_t d = id >> 8;
    const int s = static_cast<int>(id & 0xFF) - 1;
    if (d >= dev.destinations.size() || s >= static_cast<int>(dev.destinations[d].sources.size())) return nullptr;
    if (dest) *dest = &dev.destinations[d];
    return s < 0 ? &dev.destinations[d].line : &dev.destinations[d].sources[static_cast<std::size_t>(s)];
  }
  std::uint32_t GetLineControl(mixer::MixerHandle h, std::uint32_t id, ControlType type,
                               mixer::ControlInfo& c) override {
    Device* dev = Dev(h);
    if (!dev) return mixer::kErrInvalHandle;
    Destination* dest = nullptr;
    Line* line = LineOf(*dev, id, &dest);
    if (!line) return mixer::kErrInvalLine;
    c.type = type;
    if (type == ControlType::kVolume && line->volume) {
      c.control_id = id << 4 | 1;
      c.maximum = kMax;
      return 0;
    }
    if (line == &dest->line && dest->has_list && type == dest->list) {
      c.control_id = id << 4 | 2;
      c.items = static_cast<std::uint32_t>(dest->sources.size());
      return 0;
    }
    return mixer::kErrInvalControl;
  }
  std::uint32_t GetControlValues(mixer::MixerHandle h, std::uint32_t id, std::span<std::uint32_t> v) override {
    Device* dev = Dev(h);
    Line* line = dev ? LineOf(*dev, id >> 4) : nullptr;
    if (!line || (id & 0xF) != 1 || v.size() != 1) return mixer::kErrInvalControl;
    v[0] = line->value;
    return 0;
  }
  std::uint32_t SetControlValues(mixer::MixerHandle h, std::uint32_t id, std::span<const std::uint32_t> v) override {
    Device* dev = Dev(h);
    Line* line = dev ? LineOf(*dev, id >> 4) : nullptr;
    if (!line) return mixer::kErrInvalControl;
    sets.emplace_back(id, std::vector<std::uint32_t>(v.begin(), v.end()));
    if ((id & 0xF) == 1) line->value = v[0];
    const std::uint32_t device = open[h].first;
    for (auto& [handle, entry] : open) {
      if (entry.first == device && entry.second) entry.second(mixer::ChangeKind::kControl, handle, id);
    }
    return 0;
  }

  // A device with the given playback and recording source names.
  static FakeMixer With(std::vector<std::string> playback, std::vector<std::string> recording) {
    FakeMixer m;
    Device dev{"Fake Card", {}};
    Destination out{{"Master", true, 40000}, {}, ControlType::kMux, false};
    for (auto& n : playback) out.sources.push_back({n, true, 1000});
    Destination in{{"Recording", false, 0}, {}};
    for (std::size_t i = 0; i < recording.size(); ++i) {
      in.sources.push_back({recording[i], true, static_cast<std::uint32_t>(6554 * (i + 1))});
    }
    dev.destinations = {out, in};
    m.devices.push_back(dev);
    return m;
  }

  std::vector<std::uint32_t> LastMux() const {
    for (auto it = sets.rbegin(); it != sets.rend(); ++it) {
      if ((it->first & 0xF) == 2) return it->second;
    }
    return {};
  }

 private:
  mixer::MixerHandle next_ = 1;
};

TEST(MulDiv, RoundsToNearestWithHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(32767, 100, 65535), 50);  // 49.9992
  EXPECT_EQ(MulDiv(655, 100, 65535), 1);     // 0.9995
  EXPECT_EQ(MulDiv(1, 1, 2), 1);
  EXPECT_EQ(MulDiv(-1, 1, 2), -1);
  EXPECT_EQ(MulDiv(3, 1, -2), -2);
  EXPECT_EQ(MulDiv(7, 9, 0), -1);
  EXPECT_EQ(MulDiv(1 << 30, 8, 1), -1);  // does not fit
}

TEST(StartupSelection, LastMatchWinsAndTheMuxIsReversed) {
  // Only the last of four sources matches: entry 3, MUX item 0 of 4.
  FakeMixer a = FakeMixer::With({"Line", "Wave"}, {"Mic", "Line", "CD", "Stereo Mix"});
  StartupSelection s = RunStartupSelection(a);
  EXPECT_EQ(s.selected_line, 3);
  EXPECT_EQ(a.LastMux(), (std::vector<std::uint32_t>{1, 0, 0, 0}));
  EXPECT_EQ(s.recording_lines, (std::vector<std::string>{"Mic", "Line", "CD", "Stereo Mix"}));
  EXPECT_EQ(s.recording_volume, 40);  // 26216 of 65535
  EXPECT_EQ(s.master_volume, 61);     // 40000 of 65535
  EXPECT_EQ(s.wave_out_volume, 95);
  EXPECT_EQ(a.devices[0].destinations[0].sources[1].value, 62258u);  // 95 % of the maximum

  // "Mix" at 2 and "Out" at 4: the later one is taken.
  FakeMixer b = FakeMixer::With({"Line", "Wave"}, {"Mic", "Line", "Mixer", "CD", "Wave Out"});
  EXPECT_EQ(RunStartupSelection(b).selected_line, 4);
  EXPECT_EQ(b.LastMux(), (std::vector<std::uint32_t>{1, 0, 0, 0, 0}));

  // Case matters; matches inside longer words count.
  FakeMixer c = FakeMixer::With({"Line", "Wave"}, {"Mic", "mixer", "output", "AuxMixer", "CD"});
  EXPECT_EQ(RunStartupSelection(c).selected_line, 3);
  FakeMixer d = FakeMixer::With({"Line", "Wave"}, {"Mic", "mixer", "OUTPUT", "CD"});
  StartupSelection none = RunStartupSelection(d);
  EXPECT_EQ(none.selected_line, 1);  // no match at all: entry 1
}

TEST(StartupSelection, MatchOnlyAtZeroFallsBackToEntryOne) {
  FakeMixer m = FakeMixer::With({"Line", "Wave"}, {"Stereo Mix", "Mic", "Line"});
  StartupSelection s = RunStartupSelection(m);
  EXPECT_EQ(s.selected_line, 1);
  EXPECT_EQ(s.recording_volume, 20);
  EXPECT_EQ(m.LastMux(), (std::vector<std::uint32_t>{0, 1, 0}));
}

TEST(StartupSelection, MissingLinesAreSkipped) {
  FakeMixer empty;
  StartupSelection s = RunStartupSelection(empty);  // no device at all
  EXPECT_TRUE(s.recording_lines.empty());
  EXPECT_EQ(s.master_volume, -1);
  EXPECT_EQ(s.selected_line, -1);

  // One playback source, one recording source matching at 0: no line 1 anywhere.
  FakeMixer small = FakeMixer::With({"Line"}, {"Mix"});
  s = RunStartupSelection(small);
  EXPECT_EQ(s.selected_line, 0);
  EXPECT_EQ(s.recording_volume, 10);

  // A device without a recording destination lists nothing.
  FakeMixer playback_only = FakeMixer::With({"Line", "Wave Out"}, {});
  playback_only.devices[0].destinations.pop_back();
  s = RunStartupSelection(playback_only);
  EXPECT_TRUE(s.recording_lines.empty());
  EXPECT_FALSE(s.recording_volume.has_value());

  WaveOutVolumeChanged(small, 50);                       // no source 1
  EXPECT_EQ(RecordingLineChanged(small, 5), std::nullopt);
  RecordingVolumeChanged(small, -1, 30);                 // no entry selected
}

TEST(AudioMixerLine, VolumeAndSelectionEdgeCases) {
  FakeMixer m = FakeMixer::With({"Line", "Wave"}, {"Mic", "Line"});
  m.devices[0].destinations[0].sources[0].volume = false;
  TAudioMixer mixer(m);
  EXPECT_EQ(mixer.MixerName(), "Fake Card");
  EXPECT_EQ(mixer.DestinationName(), "Master");

  TAudioMixerLine& no_volume = mixer.SourceLine(0);
  EXPECT_EQ(no_volume.GetVolume(), -1);
  EXPECT_EQ(no_volume.LastError(), mixer::kErrInvalControl);
  no_volume.SetVolume(50);
  EXPECT_TRUE(m.sets.empty());

  TAudioMixerLine& wave = mixer.SourceLine(1);
  wave.SetVolume(150);
  EXPECT_EQ(m.devices[0].destinations[0].sources[1].value, FakeMixer::kMax);
  EXPECT_EQ(wave.GetVolume(), 100);
  wave.SetVolume(-5);
  EXPECT_EQ(m.devices[0].destinations[0].sources[1].value, 0u);
  EXPECT_EQ(wave.LastError(), 0u);

  // The playback destination has no MUX.
  mixer.DestinationLine().SelectSource(0);
  EXPECT_EQ(mixer.DestinationLine().LastError(), mixer::kErrInvalControl);

  mixer.SetDestinationID(1);
  mixer.DestinationLine().SelectSource(2);
  EXPECT_EQ(mixer.DestinationLine().LastError(), mixer::kErrInvalParam);
  mixer.DestinationLine().SelectSource(-1);
  EXPECT_EQ(mixer.DestinationLine().LastError(), mixer::kErrInvalParam);
  EXPECT_THROW(mixer.SourceLine(2), std::out_of_range);

  // A multi-select list instead of a MUX cannot select.
  FakeMixer multi = FakeMixer::With({"Line", "Wave"}, {"Mic", "Stereo Mix"});
  multi.devices[0].destinations[1].list = ControlType::kMixer;
  TAudioMixer mm(multi);
  mm.SetDestinationID(1);
  const std::size_t before = multi.sets.size();
  mm.DestinationLine().SelectSource(1);
  EXPECT_EQ(mm.DestinationLine().LastError(), mixer::kErrInvalControl);
  EXPECT_EQ(multi.sets.size(), before);
}

TEST(AudioMixer, NamesIdsAndChangeEvents) {
  FakeMixer m = FakeMixer::With({"Line", "Wave"}, {"Mic"});
  m.devices.push_back(m.devices[0]);
  m.devices[1].name = "Second Card";
  TAudioMixer mixer(m);
  std::vector<std::string> names;
  EXPECT_EQ(mixer.GetMixerNames(names), 2);
  mixer.SetMixerName("SECOND card");  // looked up without regard to case
  EXPECT_EQ(mixer.MixerID(), 1u);
  mixer.SetMixerID(7);  // no such device: ignored
  EXPECT_EQ(mixer.MixerID(), 1u);
  mixer.SetDestinationName("recording");
  EXPECT_EQ(mixer.DestinationID(), 1u);
  EXPECT_EQ(mixer.SourceCount(), 1u);

  // An ID beyond the destinations falls back to 0 when the lines are read.
  mixer.SetDestinationID(5);
  EXPECT_EQ(mixer.DestinationID(), 0u);
  EXPECT_EQ(mixer.SourceCount(), 2u);

  std::vector<std::string> seen;
  mixer.OnControlChange = [&](TAudioMixer&, TAudioMixerLine& line, TMixerControlType type) {
    EXPECT_EQ(type, TMixerControlType::mcVolume);
    seen.push_back(line.Name());
  };
  mixer.SourceLine(1).SetVolume(10);
  mixer.DestinationLine().SetVolume(10);
  // Every mixer open on the device hears a change; one on another device does not.
  TAudioMixer other(m);
  other.SourceLine(1).SetVolume(20);
  EXPECT_EQ(seen.size(), 2u);
  other.SetMixerID(1);
  other.SourceLine(0).SetVolume(20);
  EXPECT_EQ(seen, (std::vector<std::string>{"Wave", "Master", "Line"}));
}

}  // namespace
}  // namespace quarvel::sound
