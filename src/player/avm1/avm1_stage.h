#pragma once
// The ActionScript 1/2 machine as the stage sees it (ClipScripts): the
// player makes it for each stage it runs.

#include <memory>

#include "player/display/stage.h"

namespace quarvel::player {

std::unique_ptr<ClipScripts> MakeAvm1Scripts(Stage& stage);

}  // namespace quarvel::player
