#pragma once
// Caps on a movie's scripts that a host may lower: a fuzzer plays untrusted
// input by the thousand and cannot wait out a frame of twenty million
// instructions. Apart from the player so that the machines name it alone.

#include <cstddef>
#include <cstdint>

namespace quarvel::player {

// Zero keeps the player's own cap; a value only lowers a cap, never raises
// it past the player's (the native stack is sized for those).
struct ScriptLimits {
  std::uint64_t instructionsPerFrame = 0;  // actions (1/2) or instructions (3) of one frame's scripts
  int callDepth = 0;                       // script calls inside one another
  std::size_t memoryBytes = 0;             // made in one frame, and held by the scripts at once

  // `cap` lowered to `limit` when that is set and smaller.
  template <typename T, typename L>
  static T Lowered(T cap, L limit) {
    return limit > 0 && static_cast<T>(limit) < cap ? static_cast<T>(limit) : cap;
  }
};

}  // namespace quarvel::player
