#pragma once
// A small library over the mixer services: one mixer device, one destination
// and its source lines, each line with its volume, mute and MUX controls.
// Nothing is shown to the user: every result is kept in LastError().

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/mixer/mixer_driver.h"

namespace quarvel::sound {

enum class TMixerControlType { mcVolume, mcMute, mcMux };
inline constexpr int kMixerControlTypeCount = 3;

// Windows' MulDiv: a × b ÷ c rounded to the nearest integer (halves away
// from zero); -1 when c is 0 or the result does not fit.
int MulDiv(int a, int b, int c);

class TAudioMixer;

class TAudioMixerLine {
 public:
  // Index -1 is the destination line itself.
  TAudioMixerLine(TAudioMixer& mixer, int index);

  void Update(int index);

  int LineIndex() const { return line_index_; }
  const std::string& Name() const { return line_.name; }
  const mixer::LineInfo& LineInfo() const { return line_; }
  std::uint32_t LastError() const { return last_error_; }
  bool HasControl(TMixerControlType type) const { return has_[Slot(type)]; }
  const mixer::ControlInfo& Control(TMixerControlType type) const { return controls_[Slot(type)]; }

  // Which of the line's controls has this ID (the last kind that matches).
  bool FindControl(std::uint32_t control_id, TMixerControlType& type) const;

  // Percent 0 to 100 of the volume control's maximum, or -1.
  int GetVolume();
  // Clamped to 0..100.
  void SetVolume(int percent);
  // Selects source i on this line's MUX (which lists sources in reverse).
  void SelectSource(int i);

 private:
  static std::size_t Slot(TMixerControlType t) { return static_cast<std::size_t>(t); }

  TAudioMixer& mixer_;
  int line_index_ = -1;
  mixer::LineInfo line_;
  std::uint32_t last_error_ = 0;
  std::array<bool, kMixerControlTypeCount> has_{};
  std::array<mixer::ControlInfo, kMixerControlTypeCount> controls_{};
};

class TAudioMixer {
 public:
  using TMixerLineNotifyEvent = std::function<void(TAudioMixer& sender, TAudioMixerLine& line)>;
  using TMixerControlNotifyEvent =
      std::function<void(TAudioMixer& sender, TAudioMixerLine& line, TMixerControlType type)>;

  // Opens mixer device 0, destination 0, on `driver`.
  explicit TAudioMixer(mixer::MixerDriver& driver);
  TAudioMixer(const TAudioMixer&) = delete;
  TAudioMixer& operator=(const TAudioMixer&) = delete;
  ~TAudioMixer();

  void Reopen(bool lines_only);

  std::uint32_t MixerID() const { return mixer_id_; }
  void SetMixerID(std::uint32_t id);
  std::string MixerName() const { return caps_.product_name; }
  void SetMixerName(const std::string& name);
  std::uint32_t DestinationID() const { return destination_id_; }
  void SetDestinationID(std::uint32_t id);
  std::string DestinationName() const { return destination_line_->Name(); }
  void SetDestinationName(const std::string& name);

  std::uint32_t MixerCount();
  std::uint32_t DestinationCount() const { return caps_.destinations & 0xFFFF; }
  std::uint32_t SourceCount() const { return destination_line_->LineInfo().connections & 0xFFFF; }
  // Throws std::out_of_range for an index outside the list.
  TAudioMixerLine& SourceLine(int i);
  TAudioMixerLine& DestinationLine() { return *destination_line_; }

  int GetMixerNames(std::vector<std::string>& names);
  int GetDestinationNames(std::vector<std::string>& names);

  std::uint32_t LastError() const { return last_error_; }
  mixer::MixerDriver& Driver() { return driver_; }
  mixer::MixerHandle Handle() const { return handle_; }

  TMixerLineNotifyEvent OnLineChange;
  TMixerControlNotifyEvent OnControlChange;

 private:
  void HandleChange(mixer::ChangeKind kind, mixer::MixerHandle handle, std::uint32_t id);
  void FreeSourceLines();

  mixer::MixerDriver& driver_;
  mixer::MixerHandle handle_ = 0;
  std::uint32_t mixer_id_ = 0;
  mixer::MixerCaps caps_;
  std::uint32_t destination_id_ = 0;
  std::vector<std::unique_ptr<TAudioMixerLine>> source_lines_;
  std::unique_ptr<TAudioMixerLine> destination_line_;
  std::uint32_t last_error_ = 0;
  // Lets a change message that arrives after destruction find nothing.
  std::shared_ptr<TAudioMixer*> self_;
};

}  // namespace quarvel::sound
