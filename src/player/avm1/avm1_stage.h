#pragma once
// The ActionScript 1/2 machine as the stage sees it (ClipScripts): the
// player makes it for each stage it runs.

#include <memory>

#include "player/display/stage.h"
#include "player/script_limits.h"

namespace quarvel::player {

std::unique_ptr<ClipScripts> MakeAvm1Scripts(Stage& stage, const ScriptLimits& limits);

}  // namespace quarvel::player
