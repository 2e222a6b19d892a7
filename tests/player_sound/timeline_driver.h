#pragma once
// Plays the sound tags of a movie into a SoundEventListener the way the
// player's timeline calls it: main timeline frames at t0 + k * 1000 / fps,
// placed sprites one frame per main frame, a loop to frame 0 as a seek.
// Only the sound side of a timeline; no display list beyond sprite depths.

#include <cstdint>
#include <memory>
#include <span>

#include "platform/player/flash_player.h"
#include "platform/swf/movie.h"

namespace quarvel::test {

// A cut-off tag stream ends the movie where it breaks, as a player does.
class SoundTimeline {
 public:
  // Sends the movie's DefineSound tags at once; the movie must outlive this.
  SoundTimeline(const swf::Movie& movie, player::SoundEventListener& listener);
  ~SoundTimeline();
  // Runs every frame whose time is <= ms (frame k at k * 1000 / fps).
  void AdvanceTo(std::int64_t ms);
  int FramesRun() const;
  double FrameRate() const;
  int FrameCount() const;  // frames the main timeline really holds

 private:
  class Driver;
  std::unique_ptr<Driver> driver_;
};

}  // namespace quarvel::test
