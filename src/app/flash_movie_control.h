#pragma once
// The window's player control over our SWF player.

#include "app/movie_control.h"
#include "platform/player/flash_player.h"
#include "platform/player/sound/sound_output.h"

namespace quarvel::app {

class FlashMovieControl final : public MovieControl {
 public:
  player::FlashPlayer& Player() { return player_; }
  // The movie's sound goes to `output` (not owned; nullptr: silent), kept
  // written ahead as the clock runs.
  void SetSoundOutput(player::sound::SoundOutput* output) {
    sound_ = output;
    player_.SetSoundListener(output);
  }

  int ReadyState() const override { return player_.ReadyState(); }
  int TotalFrames() const override { return player_.TotalFrames(); }
  int CurrentFrame() const override { return player_.CurrentFrame(); }
  bool Playing() const override { return player_.Playing(); }
  void Play() override { player_.Play(); }
  void Stop() override { player_.Stop(); }
  void GotoFrame(int frame) override { player_.GotoFrame(frame); }
  void SetBackgroundColor(std::int32_t rrggbb) override { player_.SetBackgroundColor(rrggbb); }
  void SetMovie(const std::string& path) override { player_.SetMovie(path); }
  std::string LoadError() const override { return player_.LoadError(); }
  bool Menu() const override { return player_.Menu(); }
  void SetSize(int width, int height) override {
    if (width != player_.Width() || height != player_.Height()) player_.SetSize(width, height);
  }
  void AdvanceTo(std::int64_t ms) override {
    player_.AdvanceTo(ms);
    if (sound_ != nullptr) sound_->Pump(ms);
  }
  void Paint(gdi::Bitmap& target) const override { player_.Paint(target); }
  void MouseMove(int x, int y) override { player_.MouseMove(x, y); }
  void MouseDown(int x, int y) override { player_.MouseDown(x, y); }
  void MouseUp(int x, int y) override { player_.MouseUp(x, y); }
  void MouseLeave() override { player_.MouseLeave(); }
  bool OverButton() const override { return player_.OverButton(); }
  std::string QualityName() const override { return player_.QualityName(); }
  void SetQuality(const std::string& name) override { player_.SetQuality(name); }

 private:
  player::FlashPlayer player_;
  player::sound::SoundOutput* sound_ = nullptr;
};

}  // namespace quarvel::app
