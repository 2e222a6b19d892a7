// flash.geom: Matrix, Point, Rectangle, ColorTransform and Transform.
#include <algorithm>
#include <cmath>

#include "platform/player/avm1.h"
#include "platform/player/avm1_builtins.h"
#include "platform/player/stage.h"

namespace quarvel::player::avm1_builtins {
namespace {

// ---- flash.geom.Matrix, as gradients need it

AsValue MatrixCtor(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  const char* names[] = {"a", "b", "c", "d", "tx", "ty"};
  const double defaults[] = {1, 0, 0, 1, 0, 0};
  for (std::size_t i = 0; i < 6; ++i) {
    vm.SetProp(o, names[i], AsValue::Number(i < a.size() ? Num(vm, a, i) : defaults[i]));
  }
  return self;
}

AsValue MatrixGradientBox(Avm1& vm, const AsValue& self, AsArgs a) {
  AsObject* o = Self(self);
  if (!o) return {};
  const double w = Num(vm, a, 0), h = Num(vm, a, 1);
  const double r = a.size() > 2 ? Num(vm, a, 2) : 0, tx = a.size() > 3 ? Num(vm, a, 3) : 0,
               ty = a.size() > 4 ? Num(vm, a, 4) : 0;
  vm.SetProp(o, "a", AsValue::Number(w / 1638.4 * std::cos(r)));
  vm.SetProp(o, "b", AsValue::Number(w / 1638.4 * std::sin(r)));
  vm.SetProp(o, "c", AsValue::Number(-h / 1638.4 * std::sin(r)));
  vm.SetProp(o, "d", AsValue::Number(h / 1638.4 * std::cos(r)));
  vm.SetProp(o, "tx", AsValue::Number(tx + w / 2));
  vm.SetProp(o, "ty", AsValue::Number(ty + h / 2));
  return {};
}

}  // namespace

void InstallGeom(Avm1& vm) {
  AsObject* matrixProto = vm.NewRootObject(vm.ObjectProto());
  vm.NewFunction("createGradientBox", MatrixGradientBox, matrixProto);
  AsObject* flash = vm.NewRootObject(vm.ObjectProto());
  vm.SetProp(vm.Global(), "flash", AsValue::Object(flash), true);
  AsObject* geom = vm.NewRootObject(vm.ObjectProto());
  vm.SetProp(flash, "geom", AsValue::Object(geom), true);
  vm.NewClass(geom, "Matrix", MatrixCtor, matrixProto);
}

}  // namespace quarvel::player::avm1_builtins
