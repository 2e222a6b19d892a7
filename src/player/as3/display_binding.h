#pragma once
// The ActionScript 3 machine on the stage: the Flash classes (display,
// events, geometry, text, timers) over the display tree, the document
// class, symbol classes, frame scripts and the frame's event order.

#include <memory>

namespace quarvel::player {

class Stage;
class ScriptHooks;
struct ScriptLimits;

// Loads the movie's ABC blocks into a new machine bound to `stage`, its
// caps lowered to `limits`.
std::unique_ptr<ScriptHooks> MakeAs3Hooks(Stage& stage, const ScriptLimits& limits);

}  // namespace quarvel::player
