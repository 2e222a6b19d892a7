// The stage's side of video: placed videos follow their ratio (embedded
// streams) or the stream a script attached.
#include <cstdlib>
#include <iostream>

#include "player/display/stage.h"
#include "player/display/video_display.h"

namespace quarvel::player {

VideoDisplay* Stage::VideoOf(Instance& inst) {
  if (!inst.def || inst.def->kind != Character::Kind::kVideo) return nullptr;
  if (!inst.video) inst.video = std::make_shared<VideoDisplay>(static_cast<const VideoDef&>(*inst.def));
  return inst.video.get();
}

void Stage::UpdateVideos(TimelineState& tl, int nesting, std::vector<std::string>& problems) {
  if (nesting > kMaxSpriteNesting) return;
  for (auto& [depth, inst] : tl.list) {
    if (VideoDisplay* v = VideoOf(inst)) v->Update(inst.ratio, problems);
    if (inst.sprite) UpdateVideos(*inst.sprite, nesting + 1, problems);
  }
}

void Stage::UpdateVideos() {
  std::vector<std::string> problems;
  UpdateVideos(root_, 0, problems);
  for (auto& p : problems) VideoProblem(p);
}

void Stage::VideoProblem(const std::string& text) {
  // Named as it happens, and again in the skipped list at the end.
  if (skipped_.insert(text).second && std::getenv("QUARVEL_DEBUG")) std::clog << "player: " << text << "\n";
}

}  // namespace quarvel::player
