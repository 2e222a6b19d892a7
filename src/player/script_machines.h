#pragma once
// The script machines the player gives each stage: ActionScript 1/2 always,
// ActionScript 3 for movies that carry its code. Kept out of the stage so
// that the display tree does not depend on the machines that drive it.

#include "player/display/stage.h"

namespace quarvel::player {

ScriptMachines PlayerScriptMachines();

}  // namespace quarvel::player
