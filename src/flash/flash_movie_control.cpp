#include "flash/flash_movie_control.h"

#include <utility>

#include "player/sound/sound_output.h"

namespace quarvel::flash {

FlashMovieControl::FlashMovieControl() = default;

FlashMovieControl::FlashMovieControl(audio::LoopbackBus& bus, std::shared_ptr<const audio::Clock> clock) {
  // The sound is written at the player's times, so the bus that plays and
  // records it must count the same time.
  bus.SetClock(std::move(clock));
  sound_ = std::make_unique<player::sound::SoundOutput>(bus);
  player_.SetSoundListener(sound_.get());
}

FlashMovieControl::~FlashMovieControl() { player_.SetSoundListener(nullptr); }

void FlashMovieControl::SetSize(int width, int height) {
  if (width != player_.Width() || height != player_.Height()) player_.SetSize(width, height);
}

void FlashMovieControl::AdvanceTo(std::int64_t ms) {
  player_.AdvanceTo(ms);
  // Long event sounds are kept written ahead as the clock runs.
  if (sound_) sound_->Pump(ms);
}

}  // namespace quarvel::flash
