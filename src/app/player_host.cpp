#include "app/player_host.h"

namespace quarvel::app {

std::string StatusLineText(int current, int total, int width, int height, int fps) {
  const long long percent = total != 0 ? static_cast<long long>(current) * 100 / total : 0;
  return std::to_string(percent) + "% (" + std::to_string(current) + "/" + std::to_string(total) + " " +
         std::to_string(width) + "x" + std::to_string(height) + ") " + std::to_string(fps) + "fps";
}

void DragGripTo(PlayerArea& area, int candidate_left, int candidate_top, int max_width, int max_height) {
  const int k = PlayerArea::kGripOverlap;
  if (area.player_left + 20 < candidate_left + k && candidate_left + k < area.player_left + max_width) {
    area.grip_left = candidate_left;
  }
  if (area.player_top + 20 < candidate_top + k && candidate_top + k < area.player_top + max_height) {
    area.grip_top = candidate_top;
  }
  area.player_width = area.grip_left - area.player_left + k;
  area.player_height = area.grip_top - area.player_top + k;
}

void FitAreaToMovie(PlayerArea& area, int movie_width, int movie_height, int max_width, int max_height) {
  const int k = PlayerArea::kGripOverlap;
  // A movie without width or height (broken header) keeps the player's size
  // in that direction: a player of no pixels could not be captured.
  if (movie_width <= 0 || movie_height <= 0) return;
  if (movie_width < max_width) {
    area.player_width = movie_width;
    area.grip_left = area.player_left + movie_width - k;
  } else {
    area.player_height = static_cast<int>(static_cast<long long>(movie_height) * max_width / movie_width);
    area.grip_top = area.player_top + area.player_height - k;
  }
  if (movie_height < max_height) {
    area.player_height = movie_height;
    area.grip_top = area.player_top + movie_height - k;
  }
}

}  // namespace quarvel::app
