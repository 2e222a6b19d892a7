#pragma once
// The script machines the player gives each stage: ActionScript 1/2 always,
// ActionScript 3 for movies that carry its code. Kept out of the stage so
// that the display tree does not depend on the machines that drive it.

#include "player/display/stage.h"
#include "player/script_limits.h"

namespace quarvel::player {

// Each machine a stage makes keeps `limits`.
ScriptMachines PlayerScriptMachines(const ScriptLimits& limits = {});

}  // namespace quarvel::player
