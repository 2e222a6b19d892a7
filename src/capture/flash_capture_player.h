#pragma once
// The capture's view of our SWF player. Whoever includes this links the
// player library; the frame store itself does not depend on it.

#include "capture/capture_session.h"
#include "platform/player/flash_player.h"

namespace quarvel::capture {

class FlashCapturePlayer final : public CapturePlayer {
 public:
  explicit FlashCapturePlayer(player::FlashPlayer& player) : player_(player) {}
  void Stop() override { player_.Stop(); }
  void Play() override { player_.Play(); }
  void Unload() override { player_.Unload(); }
  void SetMovie(const std::string& path) override { player_.SetMovie(path); }
  bool Loaded() const override { return player_.ReadyState() == 4; }
  std::string LoadError() const override { return player_.LoadError(); }
  int TotalFrames() const override { return player_.TotalFrames(); }
  int CurrentFrame() const override { return player_.CurrentFrame(); }
  void AdvanceTo(std::int64_t ms) override { player_.AdvanceTo(ms); }
  void Paint(gdi::Bitmap& target) override { player_.Paint(target); }

 private:
  player::FlashPlayer& player_;
};

}  // namespace quarvel::capture
