#pragma once
// Window-free arithmetic of the player area: the status line, the resize
// grip and the playback steps.

#include <string>

namespace quarvel::app {

// "25% (60/240 550x400) 12fps". A movie without frames shows 0%.
std::string StatusLineText(int current, int total, int width, int height, int fps);

// Seek-bar tick spacing for a movie of `total` frames.
inline int SeekTickSpacing(int total) { return total / 20; }

// Target of "Prev 50" from frame c, or -1 when the movie stays where it is.
inline int Prev50Target(int c) { return c > 50 ? c - 50 : -1; }
inline int Next50Target(int c) { return c + 50; }

// Positions inside the scroll box that holds the player and its grip.
struct PlayerArea {
  static constexpr int kGripOverlap = 8;
  int player_left = 0, player_top = 0;
  int player_width = 192, player_height = 192;
  int grip_left = 453, grip_top = 382;
};

// One reported mouse move of a grip drag: the grip would go to
// (candidate_left, candidate_top); each axis is taken only inside the strict
// bounds, then the player follows the grip.
void DragGripTo(PlayerArea& area, int candidate_left, int candidate_top, int max_width, int max_height);

}  // namespace quarvel::app
