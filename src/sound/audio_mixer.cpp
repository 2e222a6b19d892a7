#include "sound/audio_mixer.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <stdexcept>

namespace quarvel::sound {
namespace {

constexpr std::array<mixer::ControlType, kMixerControlTypeCount> kPlatformTypes = {
    mixer::ControlType::kVolume, mixer::ControlType::kMute, mixer::ControlType::kMux};

constexpr std::array<TMixerControlType, kMixerControlTypeCount> kAllTypes = {
    TMixerControlType::mcVolume, TMixerControlType::mcMute, TMixerControlType::mcMux};

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

int IndexOfIgnoringCase(const std::vector<std::string>& list, const std::string& name) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (SameTextIgnoringCase(list[i], name)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const std::int64_t p = static_cast<std::int64_t>(a) * b;
  std::int64_t q = p / c;
  const std::int64_t r = p % c;
  if (2 * (r < 0 ? -r : r) >= (c < 0 ? -static_cast<std::int64_t>(c) : c)) q += ((p < 0) != (c < 0)) ? -1 : 1;
  if (q < std::numeric_limits<int>::min() || q > std::numeric_limits<int>::max()) return -1;
  return static_cast<int>(q);
}

// ---- TAudioMixerLine

TAudioMixerLine::TAudioMixerLine(TAudioMixer& mixer, int index) : mixer_(mixer) { Update(index); }

void TAudioMixerLine::Update(int index) {
  line_index_ = index;
  line_ = mixer::LineInfo{};
  line_.destination = mixer_.DestinationID();
  auto& driver = mixer_.Driver();
  const mixer::MixerHandle h = mixer_.Handle();
  last_error_ = index >= 0 ? driver.GetSourceLine(h, line_.destination, static_cast<std::uint32_t>(index), line_)
                           : driver.GetDestinationLine(h, line_.destination, line_);
  has_.fill(false);
  if (last_error_ != mixer::kNoError) {
    line_ = mixer::LineInfo{};
    return;
  }
  for (std::size_t k = 0; k < kPlatformTypes.size(); ++k) {
    controls_[k] = mixer::ControlInfo{};
    has_[k] = driver.GetLineControl(h, line_.line_id, kPlatformTypes[k], controls_[k]) == mixer::kNoError;
  }
}

bool TAudioMixerLine::FindControl(std::uint32_t control_id, TMixerControlType& type) const {
  bool found = false;
  for (TMixerControlType t : kAllTypes) {
    if (HasControl(t) && Control(t).control_id == control_id) {
      type = t;
      found = true;
    }
  }
  return found;
}

int TAudioMixerLine::GetVolume() {
  last_error_ = mixer::kErrInvalControl;
  if (!HasControl(TMixerControlType::mcVolume)) return -1;
  const mixer::ControlInfo& c = Control(TMixerControlType::mcVolume);
  std::uint32_t value = 0;
  last_error_ = mixer_.Driver().GetControlValues(mixer_.Handle(), c.control_id, std::span(&value, 1));
  if (last_error_ != mixer::kNoError) return -1;
  return MulDiv(static_cast<int>(value), 100, static_cast<int>(c.maximum));
}

void TAudioMixerLine::SetVolume(int percent) {
  last_error_ = mixer::kErrInvalControl;
  if (!HasControl(TMixerControlType::mcVolume)) return;
  const mixer::ControlInfo& c = Control(TMixerControlType::mcVolume);
  percent = std::clamp(percent, 0, 100);
  const std::uint32_t value = static_cast<std::uint32_t>(std::max(0, MulDiv(static_cast<int>(c.maximum), percent, 100)));
  last_error_ = mixer_.Driver().SetControlValues(mixer_.Handle(), c.control_id, std::span(&value, 1));
}

void TAudioMixerLine::SelectSource(int i) {
  if (!HasControl(TMixerControlType::mcMux)) {
    last_error_ = mixer::kErrInvalControl;
    return;
  }
  const mixer::ControlInfo& c = Control(TMixerControlType::mcMux);
  if (i < 0 || static_cast<std::uint32_t>(i) >= c.items) {
    last_error_ = mixer::kErrInvalParam;
    return;
  }
  std::vector<std::uint32_t> selected(c.items, 0);
  selected[c.items - 1 - static_cast<std::uint32_t>(i)] = 1;  // the MUX lists sources in reverse
  last_error_ = mixer_.Driver().SetControlValues(mixer_.Handle(), c.control_id, selected);
}

// ---- TAudioMixer

TAudioMixer::TAudioMixer(mixer::MixerDriver& driver)
    : driver_(driver), self_(std::make_shared<TAudioMixer*>(this)) {
  destination_line_ = std::make_unique<TAudioMixerLine>(*this, -1);
  Reopen(false);
}

TAudioMixer::~TAudioMixer() {
  FreeSourceLines();
  destination_line_.reset();
  if (handle_ != 0) driver_.Close(handle_);
  self_.reset();
}

void TAudioMixer::FreeSourceLines() {
  while (!source_lines_.empty()) source_lines_.pop_back();
}

void TAudioMixer::Reopen(bool lines_only) {
  FreeSourceLines();
  if (!lines_only) {
    if (handle_ != 0) driver_.Close(handle_);
    handle_ = 0;
    caps_ = mixer::MixerCaps{};
    driver_.GetDevCaps(mixer_id_, caps_);
    std::weak_ptr<TAudioMixer*> self = self_;
    last_error_ = driver_.Open(
        mixer_id_,
        [self](mixer::ChangeKind kind, mixer::MixerHandle h, std::uint32_t id) {
          if (auto alive = self.lock()) (*alive)->HandleChange(kind, h, id);
        },
        handle_);
    if (last_error_ != mixer::kNoError) handle_ = 0;
  }
  if (destination_id_ >= DestinationCount()) destination_id_ = 0;
  destination_line_->Update(-1);
  const std::uint32_t n = SourceCount();
  for (std::uint32_t i = 0; i < n; ++i) {
    source_lines_.push_back(std::make_unique<TAudioMixerLine>(*this, static_cast<int>(i)));
  }
}

void TAudioMixer::SetMixerID(std::uint32_t id) {
  if (id == mixer_id_ || id >= MixerCount()) return;
  mixer_id_ = id;
  Reopen(false);
}

void TAudioMixer::SetMixerName(const std::string& name) {
  if (name == MixerName()) return;
  std::vector<std::string> names;
  GetMixerNames(names);
  const int i = IndexOfIgnoringCase(names, name);
  if (i >= 0) SetMixerID(static_cast<std::uint32_t>(i));
}

void TAudioMixer::SetDestinationID(std::uint32_t id) {
  if (id == destination_id_) return;
  destination_id_ = id;
  Reopen(true);
}

void TAudioMixer::SetDestinationName(const std::string& name) {
  if (name == DestinationName()) return;
  std::vector<std::string> names;
  GetDestinationNames(names);
  const int i = IndexOfIgnoringCase(names, name);
  if (i >= 0) SetDestinationID(static_cast<std::uint32_t>(i));
}

std::uint32_t TAudioMixer::MixerCount() { return driver_.DeviceCount(); }

TAudioMixerLine& TAudioMixer::SourceLine(int i) {
  if (i < 0 || static_cast<std::size_t>(i) >= source_lines_.size()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
  }
  return *source_lines_[static_cast<std::size_t>(i)];
}

int TAudioMixer::GetMixerNames(std::vector<std::string>& names) {
  const std::uint32_t n = MixerCount();
  for (std::uint32_t d = 0; d < n; ++d) {
    mixer::MixerCaps caps;
    driver_.GetDevCaps(d, caps);
    names.push_back(caps.product_name);
  }
  return static_cast<int>(n);
}

int TAudioMixer::GetDestinationNames(std::vector<std::string>& names) {
  const std::uint32_t n = DestinationCount();
  for (std::uint32_t d = 0; d < n; ++d) {
    mixer::LineInfo line;
    driver_.GetDestinationLine(handle_, d, line);
    names.push_back(line.name);
  }
  return static_cast<int>(n);
}

void TAudioMixer::HandleChange(mixer::ChangeKind kind, mixer::MixerHandle handle, std::uint32_t id) {
  if (handle != handle_ || handle_ == 0) return;
  if (kind == mixer::ChangeKind::kLine) {
    if (!OnLineChange) return;
    if (destination_line_->LineInfo().line_id == id) {
      OnLineChange(*this, *destination_line_);
      return;
    }
    for (auto& line : source_lines_) {
      if (line->LineInfo().line_id == id) {
        OnLineChange(*this, *line);
        return;
      }
    }
    return;
  }
  if (!OnControlChange) return;
  TMixerControlType type{};
  if (destination_line_->FindControl(id, type)) {
    OnControlChange(*this, *destination_line_, type);
    return;
  }
  for (auto& line : source_lines_) {
    if (line->FindControl(id, type)) {
      OnControlChange(*this, *line, type);
      return;
    }
  }
}

}  // namespace quarvel::sound
