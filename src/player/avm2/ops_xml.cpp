// XML and namespace instructions, and the domain memory instructions the
// machine refuses.
#include <string>

#include "player/avm2/builtins_util.h"
#include "player/avm2/interp.h"

namespace quarvel::avm2 {

// ---- XML

// default xml namespace = uri: the namespace new unprefixed elements take.
bool Interp::OpDxns(Frame& f, const Instruction& in) {
  f.vm.xmlDefaultNs = f.u.strings[in.args[0]]->text;
  return true;
}
bool Interp::OpDxnsLate(Frame& f, const Instruction&) {
  const Value v = f.Pop();
  Object* o = v.AsObject();
  Value* uri = o && o->kind == ObjectKind::kNamespace ? o->FindDyn("uri") : nullptr;
  f.vm.xmlDefaultNs = f.vm.ToString(uri ? *uri : v);
  return true;
}
// A value placed in an XML literal: XML as its markup, anything else escaped.
bool Interp::OpEscXelem(Frame& f, const Instruction&) {
  f.Need(1);
  Machine& vm = f.vm;
  const Value v = f.Top();
  f.Top() = vm.Str(IsXmlValue(v) ? XmlValueText(vm, v) : XmlEscapeText(vm.ToString(v)));
  return true;
}
bool Interp::OpEscXattr(Frame& f, const Instruction&) {
  f.Need(1);
  Machine& vm = f.vm;
  f.Top() = vm.Str(XmlEscapeAttribute(vm.ToString(f.Top())));
  return true;
}
bool Interp::OpCheckFilter(Frame& f, const Instruction&) {
  f.Need(1);
  if (f.Top().IsNullish()) ThrowNullish(f.vm, f.Top());
  if (!IsXmlValue(f.Top())) {
    // Flash names any number's type Number here, an int's too.
    Class* c = f.Top().IsNullish() ? nullptr : f.Top().IsNumber() ? f.vm.numberClass : f.vm.ClassOf(f.Top());
    f.vm.ThrowError("TypeError", "Filter operator not supported on type " + (c ? c->name : std::string(f.Top().IsNull() ? "null" : "void")) + ".", 1123);
  }
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
  Machine& vm = f.vm;
  f.Push(Value::Obj(vm.NewNamespace(f.u.strings[f.pool.namespaces[in.args[0]].name])));
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
