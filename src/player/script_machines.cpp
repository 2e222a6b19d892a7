#include "player/script_machines.h"

#include "player/as3/display_binding.h"
#include "player/avm1/avm1_stage.h"

namespace quarvel::player {

ScriptMachines PlayerScriptMachines() {
  ScriptMachines machines;
  machines.avm1 = MakeAvm1Scripts;
  machines.avm2 = MakeAs3Hooks;
  return machines;
}

}  // namespace quarvel::player
