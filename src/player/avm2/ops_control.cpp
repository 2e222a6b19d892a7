// Control flow: branches, lookupswitch, return and throw, and the
// enumeration instructions of for..in and for each.
#include <cstdint>

#include "player/avm2/interp.h"

namespace quarvel::avm2 {

namespace {

// The relations of the compare-and-branch instructions, as true, false or
// undefined (-1, when a side is NaN).
enum class Relation { kLess, kLessEqual, kGreater, kGreaterEqual };

int Compare(Machine& vm, Relation rel, const Value& a, const Value& b) {
  int r = 0;
  switch (rel) {
    case Relation::kLess: r = vm.LessThan(a, b); break;
    case Relation::kLessEqual: r = vm.LessThan(b, a); r = r < 0 ? -1 : !r; break;
    case Relation::kGreater: r = vm.LessThan(b, a); break;
    case Relation::kGreaterEqual: r = vm.LessThan(a, b); r = r < 0 ? -1 : !r; break;
  }
  return r;
}

// if<rel> branches when the relation holds; ifn<rel> when it does not hold
// or is undefined.
bool CompareBranch(Frame& f, Relation rel, bool when) {
  f.Need(2);
  const Value b = *--f.sp, a = *--f.sp;
  if ((Compare(f.vm, rel, a, b) == 1) == when) f.Jump();
  return true;
}

bool EqualityBranch(Frame& f, bool strict, bool when) {
  f.Need(2);
  const Value b = *--f.sp, a = *--f.sp;
  if ((strict ? f.vm.StrictEquals(a, b) : f.vm.Equals(a, b)) == when) f.Jump();
  return true;
}

bool TruthBranch(Frame& f, bool when) {
  f.Need(1);
  if (f.vm.ToBoolean(*--f.sp) == when) f.Jump();
  return true;
}

}  // namespace

// ---- branches

bool Interp::OpJump(Frame& f, const Instruction&) {
  f.Jump();
  return true;
}
bool Interp::OpIfTrue(Frame& f, const Instruction&) { return TruthBranch(f, true); }
bool Interp::OpIfFalse(Frame& f, const Instruction&) { return TruthBranch(f, false); }
bool Interp::OpIfEq(Frame& f, const Instruction&) { return EqualityBranch(f, false, true); }
bool Interp::OpIfNe(Frame& f, const Instruction&) { return EqualityBranch(f, false, false); }
bool Interp::OpIfStrictEq(Frame& f, const Instruction&) { return EqualityBranch(f, true, true); }
bool Interp::OpIfStrictNe(Frame& f, const Instruction&) { return EqualityBranch(f, true, false); }
bool Interp::OpIfLt(Frame& f, const Instruction&) { return CompareBranch(f, Relation::kLess, true); }
bool Interp::OpIfLe(Frame& f, const Instruction&) { return CompareBranch(f, Relation::kLessEqual, true); }
bool Interp::OpIfGt(Frame& f, const Instruction&) { return CompareBranch(f, Relation::kGreater, true); }
bool Interp::OpIfGe(Frame& f, const Instruction&) { return CompareBranch(f, Relation::kGreaterEqual, true); }
bool Interp::OpIfNlt(Frame& f, const Instruction&) { return CompareBranch(f, Relation::kLess, false); }
bool Interp::OpIfNle(Frame& f, const Instruction&) { return CompareBranch(f, Relation::kLessEqual, false); }
bool Interp::OpIfNgt(Frame& f, const Instruction&) { return CompareBranch(f, Relation::kGreater, false); }
bool Interp::OpIfNge(Frame& f, const Instruction&) { return CompareBranch(f, Relation::kGreaterEqual, false); }

bool Interp::OpLookupSwitch(Frame& f, const Instruction& in) {
  f.Need(1);
  const std::int32_t idx = f.vm.ToInt(*--f.sp);
  std::uint32_t target = in.args[0];
  if (idx >= 0 && static_cast<std::uint32_t>(idx) < in.args[1])
    target = f.code.switchTargets[in.args[2] + static_cast<std::uint32_t>(idx)];
  const std::int64_t t = f.code.IndexAt(target);
  if (t < 0) f.Fail("Bad switch");
  f.pc = static_cast<std::size_t>(t);
  return true;
}

// ---- leaving the method

bool Interp::OpReturnVoid(Frame& f, const Instruction&) {
  f.result = Value();
  return false;
}
bool Interp::OpReturnValue(Frame& f, const Instruction&) {
  f.result = f.Pop();
  return false;
}
bool Interp::OpThrow(Frame& f, const Instruction&) { throw ScriptThrow{f.Pop()}; }

// ---- enumeration

bool Interp::OpHasNext(Frame& f, const Instruction&) {
  f.Need(2);
  const Value idx = *--f.sp, obj = *--f.sp;
  f.PushFrom([&] { return Value::Int(static_cast<std::int32_t>(f.vm.NextIndex(obj.AsObject(), f.vm.ToUint(idx)))); });
  return true;
}
namespace {
// After an object's own names, for..in goes on along its prototype chain, up
// to the first prototype of one of Flash's own classes (their prototypes'
// properties are not enumerable).
Object* EnumeratedPrototype(Machine& vm, Object* o) {
  if (o->kind == ObjectKind::kDictionary) return nullptr;
  if (vm.proxyClass && o->cls && o->cls->IsSubclassOf(vm.proxyClass)) return nullptr;
  Object* p = o->proto;
  if (!p || !p->dyn || p->dyn->live == 0) return nullptr;
  return p;
}
}  // namespace

bool Interp::OpHasNext2(Frame& f, const Instruction& in) {
  Value& obj = f.locals[in.args[0]];
  Value& idx = f.locals[in.args[1]];
  Object* o = obj.AsObject();
  std::uint32_t next = o ? f.vm.NextIndex(o, f.vm.ToUint(idx)) : 0;
  while (next == 0 && o && (o = EnumeratedPrototype(f.vm, o))) {
    obj = Value::Obj(o);
    next = f.vm.NextIndex(o, 0);
  }
  if (next == 0) {
    obj = Value::Null();
    idx = Value::Int(0);
    f.Push(Value::Bool(false));
  } else {
    idx = Value::Int(static_cast<std::int32_t>(next));
    f.Push(Value::Bool(true));
  }
  return true;
}

namespace {
// nextname and nextvalue: the name or value at an enumeration position.
template <typename At>
bool PushAt(Frame& f, At&& at) {
  f.Need(2);
  const Value idx = *--f.sp, obj = *--f.sp;
  Object* o = obj.AsObject();
  const auto i = f.vm.ToUint(idx);
  f.PushFrom([&] { return at(o, i); });
  return true;
}
}  // namespace

bool Interp::OpNextName(Frame& f, const Instruction&) {
  return PushAt(f, [&](Object* o, std::uint32_t i) { return f.vm.NameAt(o, i); });
}
bool Interp::OpNextValue(Frame& f, const Instruction&) {
  return PushAt(f, [&](Object* o, std::uint32_t i) { return f.vm.ValueAt(o, i); });
}

}  // namespace quarvel::avm2
