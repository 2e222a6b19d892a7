#pragma once
// The player's drawing quality (anti-aliasing, smoothing, filter passes);
// its own header so that the renderer names it without the player.

namespace quarvel::player {

enum class Quality { qLow, qMedium, qHigh, qBest };

}  // namespace quarvel::player
