#pragma once
// The smaller Flash classes movies use around their real work (constant
// tables, the context menu, shared objects, LoaderContext, Vector3D...).

#include "player/avm2/machine.h"

namespace quarvel::player {

// Defines them on a machine whose display and event classes are installed;
// classes the player already has keep their members and gain the missing ones.
void InstallFlashApi(avm2::Machine& m);

}  // namespace quarvel::player
