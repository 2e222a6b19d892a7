// XML and namespace instructions, and the domain memory instructions the
// machine refuses.
#include <string>

#include "player/avm2/interp.h"

namespace quarvel::avm2 {

// ---- XML

bool Interp::OpDxns(Frame& f, const Instruction&) {
  f.vm.Skip("default xml namespace");
  return true;
}
bool Interp::OpDxnsLate(Frame& f, const Instruction&) {
  f.Pop();
  f.vm.Skip("default xml namespace");
  return true;
}
// The escapes are not applied: the value becomes its string.
bool Interp::OpEscXelem(Frame& f, const Instruction&) {
  f.Need(1);
  f.Top() = Value::Str(f.vm.ToStringCell(f.Top()));
  return true;
}
bool Interp::OpEscXattr(Frame& f, const Instruction& in) { return OpEscXelem(f, in); }
bool Interp::OpCheckFilter(Frame& f, const Instruction&) {
  f.Need(1);
  return true;
}
bool Interp::OpGetDescendants(Frame& f, const Instruction& in) {
  Machine& vm = f.vm;
  RuntimeName rt = PopRuntime(f, in.args[0]);
  const Value obj = f.Pop();
  Object* xo = obj.AsObject();
  if (!xo || xo->kind != ObjectKind::kXml || !vm.xmlDescendants) {
    vm.ThrowError("TypeError", "Descendants operator (..) not supported on type " +
                                   (vm.ClassOf(obj) ? vm.ClassOf(obj)->name : std::string("null")) + ".", 1016);
  }
  f.PushFrom([&] { return vm.xmlDescendants(vm, xo, NameOf(f, in.args[0], rt)); });
  return true;
}

// ---- namespaces

bool Interp::OpPushNamespace(Frame& f, const Instruction& in) {
  f.Push(f.vm.NamespaceValue(f.u.strings[f.pool.namespaces[in.args[0]].name]));
  return true;
}

// ---- domain memory

namespace {
[[noreturn]] void Unsupported(Frame& f) {
  f.vm.ThrowError("VerifyError", "Fast memory instructions are not supported.", 1011);
}
}  // namespace

bool Interp::OpLi8(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpLi16(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpLi32(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpLf32(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpLf64(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpSi8(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpSi16(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpSi32(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpSf32(Frame& f, const Instruction&) { Unsupported(f); }
bool Interp::OpSf64(Frame& f, const Instruction&) { Unsupported(f); }

}  // namespace quarvel::avm2
