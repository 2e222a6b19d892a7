#pragma once
// The player control over our SWF player, with the player's sound output:
// the movie's sound goes into the loopback bus, where the speakers and the
// recorder take it, and the bus runs on the same clock as the player.

#include <memory>

#include "flash/movie_control.h"
#include "platform/audio/clock.h"
#include "platform/audio/loopback_bus.h"
#include "player/flash_player.h"

namespace quarvel::player::sound {
class SoundOutput;
}

namespace quarvel::flash {

class FlashMovieControl final : public MovieControl {
 public:
  // Silent: the movie's sounds go nowhere.
  FlashMovieControl();
  // The movie's sound goes into `bus`, which from now on runs on `clock`;
  // the bus must outlive the control.
  FlashMovieControl(audio::LoopbackBus& bus, std::shared_ptr<const audio::Clock> clock);
  ~FlashMovieControl() override;
  FlashMovieControl(const FlashMovieControl&) = delete;
  FlashMovieControl& operator=(const FlashMovieControl&) = delete;

  // For what only our player offers (movies from memory, the movie's own
  // size and rate, qualities beyond the menu's).
  player::FlashPlayer& Player() { return player_; }
  const player::FlashPlayer& Player() const { return player_; }
  // Null when silent.
  player::sound::SoundOutput* Sound() { return sound_.get(); }

  int ReadyState() const override { return player_.ReadyState(); }
  int TotalFrames() const override { return player_.TotalFrames(); }
  int CurrentFrame() const override { return player_.CurrentFrame(); }
  bool Playing() const override { return player_.Playing(); }
  void Play() override { player_.Play(); }
  void Stop() override { player_.Stop(); }
  void GotoFrame(int frame) override { player_.GotoFrame(frame); }
  void SetBackgroundColor(std::int32_t rrggbb) override { player_.SetBackgroundColor(rrggbb); }
  void SetTransparent(bool transparent) override { player_.SetTransparent(transparent); }
  void SetMovie(const std::string& path) override { player_.SetMovie(path); }
  void Unload() override { player_.Unload(); }
  std::string LoadError() const override { return player_.LoadError(); }
  bool Menu() const override { return player_.Menu(); }
  void SetSize(int width, int height) override;
  void AdvanceTo(std::int64_t ms) override;
  void Paint(gdi::Bitmap& target) const override { player_.Paint(target); }
  void MouseMove(int x, int y) override { player_.MouseMove(x, y); }
  void MouseDown(int x, int y) override { player_.MouseDown(x, y); }
  void MouseUp(int x, int y) override { player_.MouseUp(x, y); }
  void MouseLeave() override { player_.MouseLeave(); }
  void KeyDown(int keyCode, int charCode) override { player_.KeyDown(keyCode, charCode); }
  void KeyUp(int keyCode, int charCode) override { player_.KeyUp(keyCode, charCode); }
  bool OverButton() const override { return player_.OverButton(); }
  std::string QualityName() const override { return player_.QualityName(); }
  void SetQuality(const std::string& name) override { player_.SetQuality(name); }

 private:
  // The output outlives the player that calls it.
  std::unique_ptr<player::sound::SoundOutput> sound_;
  player::FlashPlayer player_;
};

}  // namespace quarvel::flash
