#include "player/script_machines.h"

#include "player/as3/display_binding.h"
#include "player/avm1/avm1_stage.h"

namespace quarvel::player {

ScriptMachines PlayerScriptMachines(const ScriptLimits& limits) {
  ScriptMachines machines;
  machines.avm1 = [limits](Stage& stage) { return MakeAvm1Scripts(stage, limits); };
  machines.avm2 = [limits](Stage& stage) { return MakeAs3Hooks(stage, limits); };
  return machines;
}

}  // namespace quarvel::player
