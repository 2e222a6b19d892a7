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

}  // namespace quarvel::app
