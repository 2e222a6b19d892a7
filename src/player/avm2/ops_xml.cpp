// XML and namespace instructions, and the domain memory instructions.
#include <bit>
#include <cstring>
#include <string>

#include "player/avm2/builtins_util.h"
#include "player/avm2/interp.h"

namespace quarvel::avm2 {

// ---- XML

// default xml namespace = uri: the namespace new unprefixed elements take.
bool Interp::OpDxns(Frame& f, const Instruction& in) {
  f.vm.xmlDefaultNs = f.vm.PoolString(f.u, in.args[0])->text;
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
  f.Push(Value::Obj(vm.NewNamespace(vm.PoolString(f.u, f.pool.namespaces[in.args[0]].name))));
  return true;
}

// ---- domain memory

namespace {
// `size` bytes at the address on the stack, in the current domain memory; an
// access past its end is Flash's RangeError.
std::uint8_t* MemoryAt(Frame& f, const Value& address, std::size_t size) {
  Machine& vm = f.vm;
  // The address first: converting it may run a script that changes the memory.
  const std::int32_t at = vm.ToInt(address);
  std::vector<std::uint8_t>& mem = vm.domainMemory ? vm.domainMemory->bytes : vm.defaultDomainMemory;
  if (at < 0 || static_cast<std::size_t>(at) + size > mem.size())
    vm.ThrowError("RangeError", "The specified range is invalid.", 1506);
  return mem.data() + at;
}
template <typename T>
T LoadLe(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));  // memory is little-endian, as the host is
  return v;
}
template <typename T>
void StoreLe(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}
template <typename T>
bool LoadInt(Frame& f) {
  const Value address = f.Pop();
  f.Push(Value::Int(static_cast<std::int32_t>(LoadLe<T>(MemoryAt(f, address, sizeof(T))))));
  return true;
}
template <typename T>
bool LoadFloat(Frame& f) {
  const Value address = f.Pop();
  f.Push(Value::Number(static_cast<double>(LoadLe<T>(MemoryAt(f, address, sizeof(T))))));
  return true;
}
template <typename T>
bool StoreInt(Frame& f) {
  const Value address = f.Pop();
  const Value v = f.Pop();
  const std::int32_t n = f.vm.ToInt(v);
  StoreLe<T>(MemoryAt(f, address, sizeof(T)), static_cast<T>(n));
  return true;
}
template <typename T>
bool StoreFloat(Frame& f) {
  const Value address = f.Pop();
  const Value v = f.Pop();
  const double n = f.vm.ToNumber(v);
  StoreLe<T>(MemoryAt(f, address, sizeof(T)), static_cast<T>(n));
  return true;
}
static_assert(std::endian::native == std::endian::little);
}  // namespace

bool Interp::OpLi8(Frame& f, const Instruction&) { return LoadInt<std::uint8_t>(f); }
bool Interp::OpLi16(Frame& f, const Instruction&) { return LoadInt<std::uint16_t>(f); }
bool Interp::OpLi32(Frame& f, const Instruction&) { return LoadInt<std::int32_t>(f); }
bool Interp::OpLf32(Frame& f, const Instruction&) { return LoadFloat<float>(f); }
bool Interp::OpLf64(Frame& f, const Instruction&) { return LoadFloat<double>(f); }
bool Interp::OpSi8(Frame& f, const Instruction&) { return StoreInt<std::uint8_t>(f); }
bool Interp::OpSi16(Frame& f, const Instruction&) { return StoreInt<std::uint16_t>(f); }
bool Interp::OpSi32(Frame& f, const Instruction&) { return StoreInt<std::int32_t>(f); }
bool Interp::OpSf32(Frame& f, const Instruction&) { return StoreFloat<float>(f); }
bool Interp::OpSf64(Frame& f, const Instruction&) { return StoreFloat<double>(f); }

}  // namespace quarvel::avm2
