#pragma once
// Plays the sound tags of a movie into a SoundEventListener the way the
// player's timeline calls it: main timeline frames at t0 + k * 1000 / fps,
// placed sprites one frame per main frame, a loop to frame 0 as a seek.
// Only the sound side of a timeline; no display list beyond sprite depths.

#include <cstdint>
#include <span>

#include "platform/player/flash_player.h"
#include "platform/swf/movie.h"

namespace quarvel::test {

struct DriveResult {
  int framesRun = 0;
  std::int64_t endMs = 0;  // time of the frame after the last one run
};

// Runs `frames` main-timeline frames (looping) from time 0. A cut-off tag
// stream ends the movie where it breaks, as a player does.
DriveResult DriveSoundTimeline(const swf::Movie& movie, player::SoundEventListener& listener, int frames);

}  // namespace quarvel::test
