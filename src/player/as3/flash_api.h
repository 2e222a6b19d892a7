#pragma once
// The smaller Flash classes movies use around their real work (constant
// tables, the context menu, shared objects, LoaderContext, Vector3D...).

#include <array>
#include <span>

#include "player/avm2/machine.h"

namespace quarvel::player {

// Defines them on a machine whose display and event classes are installed;
// classes the player already has keep their members and gain the missing ones.
// Classes Flash added after SWF 9 are made only for movies of their version or later.
void InstallFlashApi(avm2::Machine& m, int swfVersion);

// A perspective projection's numbers: its field of view for a stage `width`
// wide, and its centre. Attached to a display object, it answers its field of
// view from its single-precision focal length, as Flash does.
avm2::Value NewPerspectiveState(avm2::Machine& m, double width, double cx, double cy, double fov, bool attached);
// A PerspectiveProjection reading and writing `state`.
avm2::Value PerspectiveView(avm2::Machine& m, const avm2::Value& state);
// A display object's copy of `pp` (a PerspectiveProjection) for a stage `width` wide.
avm2::Value AttachPerspective(avm2::Machine& m, const avm2::Value& pp, double width);
// What a display object's `state` projects with: focal length and centre, in pixels.
struct PerspectiveNumbers {
  double focal, cx, cy;
};
PerspectiveNumbers ReadPerspective(avm2::Machine& m, const avm2::Value& state);
// A new flash.geom.Matrix3D holding `raw` (16 numbers, column by column).
avm2::Value MakeMatrix3D(avm2::Machine& m, const std::array<double, 16>& raw);

// A geometry value's number fields (Point.x, Vector3D.w...) as accessors over
// its stored values, so that a sealed script subclass (a Rectangle or
// Vector3D its compiler extends) reads and writes them as Flash's own fields.
template <const char* kName>
avm2::Value NumberFieldGet(avm2::Machine&, avm2::Value self, std::span<avm2::Value>) {
  const avm2::Object* o = self.AsObject();
  const avm2::Value* v = o ? o->FindDyn(kName) : nullptr;
  return v ? *v : avm2::Value::Number(0);
}
template <const char* kName>
avm2::Value NumberFieldSet(avm2::Machine& m, avm2::Value self, std::span<avm2::Value> a) {
  if (avm2::Object* o = self.AsObject()) o->SetDyn(m.Intern(kName), avm2::Value::Number(m.ToNumber(m.ArgOr(a, 0))));
  return avm2::Value();
}

}  // namespace quarvel::player
