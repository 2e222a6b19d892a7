// Arithmetic, comparison, conversion and type instructions.
#include <cmath>
#include <cstdint>

#include "player/avm2/interp.h"

namespace quarvel::avm2 {

namespace {

// The top value replaced by what `fn` makes of it.
template <typename F>
bool Unary(Frame& f, F&& fn) {
  f.Need(1);
  f.Top() = fn(f.Top());
  return true;
}

// The two top values, a below b, replaced by what `fn` makes of them.
template <typename F>
bool Binary(Frame& f, F&& fn) {
  f.Need(2);
  const Value b = *--f.sp;
  f.Top() = fn(f.Top(), b);
  return true;
}

// Number arithmetic on both operands converted.
template <typename F>
bool NumberOp(Frame& f, F&& fn) {
  return Binary(f, [&](const Value& a, const Value& b) {
    const double x = f.vm.ToNumber(a);
    return Value::Number(fn(x, f.vm.ToNumber(b)));
  });
}

// int arithmetic: both operands to int, wrapping as 32 bits.
template <typename F>
bool IntOp(Frame& f, F&& fn) {
  return Binary(f, [&](const Value& a, const Value& b) {
    const std::int32_t x = f.vm.ToInt(a);
    return Value::Int(fn(x, f.vm.ToInt(b)));
  });
}

std::int32_t Wrap(std::uint32_t v) { return static_cast<std::int32_t>(v); }
std::uint32_t Bits(std::int32_t v) { return static_cast<std::uint32_t>(v); }

Class* ClassIn(const Value& t) {
  return t.IsObject() && t.o->kind == ObjectKind::kClass ? static_cast<ClassObject*>(t.o)->of : nullptr;
}

}  // namespace

// ---- conversions and coercions

bool Interp::OpConvertS(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Str(f.vm.ToStringCell(v)); });
}
bool Interp::OpCoerceS(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return v.IsNullish() ? Value::Null() : Value::Str(f.vm.ToStringCell(v)); });
}
bool Interp::OpConvertI(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Int(f.vm.ToInt(v)); });
}
bool Interp::OpCoerceI(Frame& f, const Instruction& in) { return OpConvertI(f, in); }
bool Interp::OpConvertU(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Number(f.vm.ToUint(v)); });
}
bool Interp::OpCoerceU(Frame& f, const Instruction& in) { return OpConvertU(f, in); }
bool Interp::OpConvertD(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Number(f.vm.ToNumber(v)); });
}
bool Interp::OpCoerceD(Frame& f, const Instruction& in) { return OpConvertD(f, in); }
bool Interp::OpConvertB(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Bool(f.vm.ToBoolean(v)); });
}
bool Interp::OpCoerceB(Frame& f, const Instruction& in) { return OpConvertB(f, in); }
bool Interp::OpConvertO(Frame& f, const Instruction&) {
  f.Need(1);
  if (f.Top().IsNullish())
    f.vm.ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
  return true;
}
bool Interp::OpCoerceA(Frame& f, const Instruction&) {
  f.Need(1);
  return true;
}
bool Interp::OpCoerceO(Frame& f, const Instruction&) {
  f.Need(1);
  if (f.Top().IsUndefined()) f.Top() = Value::Null();
  return true;
}
bool Interp::OpCoerce(Frame& f, const Instruction& in) {
  f.Need(1);
  Class* c = ResolveType(f, in.args[0]);
  f.Top() = f.vm.Coerce(f.Top(), c);
  return true;
}
bool Interp::OpSxi1(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Int((f.vm.ToInt(v) & 1) ? -1 : 0); });
}
bool Interp::OpSxi8(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Int(static_cast<std::int8_t>(f.vm.ToInt(v) & 0xFF)); });
}
bool Interp::OpSxi16(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Int(static_cast<std::int16_t>(f.vm.ToInt(v) & 0xFFFF)); });
}

// ---- types

bool Interp::OpAsType(Frame& f, const Instruction& in) {
  f.Need(1);
  Class* c = ResolveType(f, in.args[0]);
  if (!f.vm.IsType(f.Top(), c)) f.Top() = Value::Null();
  return true;
}
bool Interp::OpAsTypeLate(Frame& f, const Instruction&) {
  f.Need(2);
  const Value type = *--f.sp;
  Class* c = ClassIn(type);
  if (!c) {
    // Flash reads a right side that is no object (null, a number) as a null
    // reference, undefined as an undefined term.
    if (type.IsUndefined()) f.vm.ThrowError("TypeError", "A term is undefined and has no properties.", 1010);
    if (!type.IsObject()) f.vm.ThrowError("TypeError", "Cannot access a property or method of a null object reference.", 1009);
    f.vm.ThrowError("TypeError", "The right-hand side of operator must be a class.", 1041);
  }
  if (!f.vm.IsType(f.Top(), c)) f.Top() = Value::Null();
  return true;
}
bool Interp::OpIsType(Frame& f, const Instruction& in) {
  f.Need(1);
  Class* c = ResolveType(f, in.args[0]);
  f.Top() = Value::Bool(f.vm.IsType(f.Top(), c));
  return true;
}
bool Interp::OpIsTypeLate(Frame& f, const Instruction&) {
  f.Need(2);
  Class* c = ClassIn(*--f.sp);
  if (!c) f.vm.ThrowError("TypeError", "The right side of 'is' must be a class.", 1041);
  f.Top() = Value::Bool(f.vm.IsType(f.Top(), c));
  return true;
}
bool Interp::OpInstanceOf(Frame& f, const Instruction&) {
  Machine& vm = f.vm;
  f.Need(2);
  const Value t = *--f.sp, v = f.Top();
  bool r = false;
  if (Class* c = ClassIn(t)) {
    if (v.IsObject()) {
      for (Object* p = v.o->proto; p && !r; p = p->proto) r = p == c->prototype;
    } else {
      // A primitive's prototypes are its wrapper's then Object's: every
      // number has Number's (so 5 is no int instance). null is an instance
      // of nothing; undefined is refused.
      if (v.IsUndefined()) ThrowNullish(vm, v);
      Class* own = v.IsNumber() ? vm.numberClass : vm.ClassOf(v);
      r = !v.IsNull() && (c == vm.objectClass || c == own);
    }
  } else if (t.IsObject() && t.o->kind == ObjectKind::kFunction && v.IsObject()) {
    Value proto = vm.GetProperty(t, "prototype");
    for (Object* p = v.o->proto; p && !r; p = p->proto) r = proto.IsObject() && p == proto.o;
  } else if (!t.IsObject() || t.o->kind != ObjectKind::kFunction) {
    vm.ThrowError("TypeError", "The right-hand side of instanceof must be a class or function.", 1040);
  }
  f.Top() = Value::Bool(r);
  return true;
}
bool Interp::OpIn(Frame& f, const Instruction&) {
  Machine& vm = f.vm;
  f.Need(2);
  const Value obj = *--f.sp, key = f.Top();
  if (obj.IsObject() && obj.o->kind == ObjectKind::kDictionary) {
    auto* d = static_cast<DictionaryObject*>(obj.o);
    f.Top() = Value::Bool(!vm.DictGet(d, key).IsUndefined() ||
                          (key.IsObject() ? d->byObject.count(key.o) : d->byString.count(vm.ToString(key))));
    return true;
  }
  if (obj.IsNullish()) ThrowNullish(vm, obj);
  // A proxy is asked by the key's text, whatever the key (a QName gives "uri::name").
  if (obj.IsObject() && vm.proxyClass && obj.o->cls && obj.o->cls->IsSubclassOf(vm.proxyClass)) {
    Value arg = Value::Str(vm.ToStringCell(key)), out;
    if (vm.ProxyCall(obj.o, "hasProperty", std::span<Value>(&arg, 1), out)) {
      f.Top() = Value::Bool(vm.ToBoolean(out));
      return true;
    }
  }
  Name n = vm.NameFromString(vm.ToString(key));
  f.Top() = Value::Bool(vm.HasProperty(obj, n));
  return true;
}
bool Interp::OpTypeOf(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return f.vm.Str(f.vm.TypeOf(v)); });
}

// ---- Number arithmetic

bool Interp::OpNegate(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Number(-f.vm.ToNumber(v)); });
}
bool Interp::OpIncrement(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Number(f.vm.ToNumber(v) + 1); });
}
bool Interp::OpDecrement(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Number(f.vm.ToNumber(v) - 1); });
}
bool Interp::OpAdd(Frame& f, const Instruction&) {
  return Binary(f, [&](const Value& a, const Value& b) { return f.vm.Add(a, b); });
}
bool Interp::OpSubtract(Frame& f, const Instruction&) {
  f.Need(2);
  const Value& a = f.sp[-2];
  const Value& b = f.sp[-1];
  if (a.type == Type::kInt && b.type == Type::kInt) {
    // Exact for all ints, and the common case.
    const double r = static_cast<double>(a.i) - b.i;
    --f.sp;
    f.Top() = Value::Number(r);
    return true;
  }
  return NumberOp(f, [](double x, double y) { return x - y; });
}
bool Interp::OpMultiply(Frame& f, const Instruction&) {
  return NumberOp(f, [](double x, double y) { return x * y; });
}
bool Interp::OpDivide(Frame& f, const Instruction&) {
  return NumberOp(f, [](double x, double y) { return x / y; });
}
bool Interp::OpModulo(Frame& f, const Instruction&) {
  return NumberOp(f, [](double x, double y) { return std::fmod(x, y); });
}

// ---- int arithmetic and bits

bool Interp::OpIncrementI(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Int(Wrap(Bits(f.vm.ToInt(v)) + 1u)); });
}
bool Interp::OpDecrementI(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Int(Wrap(Bits(f.vm.ToInt(v)) - 1u)); });
}
bool Interp::OpNegateI(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Int(Wrap(0u - Bits(f.vm.ToInt(v)))); });
}
bool Interp::OpAddI(Frame& f, const Instruction&) {
  return IntOp(f, [](std::int32_t a, std::int32_t b) { return Wrap(Bits(a) + Bits(b)); });
}
bool Interp::OpSubtractI(Frame& f, const Instruction&) {
  return IntOp(f, [](std::int32_t a, std::int32_t b) { return Wrap(Bits(a) - Bits(b)); });
}
bool Interp::OpMultiplyI(Frame& f, const Instruction&) {
  return IntOp(f, [](std::int32_t a, std::int32_t b) { return Wrap(Bits(a) * Bits(b)); });
}
bool Interp::OpBitNot(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Int(~f.vm.ToInt(v)); });
}
bool Interp::OpBitAnd(Frame& f, const Instruction&) {
  return IntOp(f, [](std::int32_t a, std::int32_t b) { return a & b; });
}
bool Interp::OpBitOr(Frame& f, const Instruction&) {
  return IntOp(f, [](std::int32_t a, std::int32_t b) { return a | b; });
}
bool Interp::OpBitXor(Frame& f, const Instruction&) {
  return IntOp(f, [](std::int32_t a, std::int32_t b) { return a ^ b; });
}
bool Interp::OpLShift(Frame& f, const Instruction&) {
  return IntOp(f, [](std::int32_t a, std::int32_t b) { return Wrap(Bits(a) << (Bits(b) & 31)); });
}
bool Interp::OpRShift(Frame& f, const Instruction&) {
  return IntOp(f, [](std::int32_t a, std::int32_t b) { return a >> (Bits(b) & 31); });
}
bool Interp::OpURShift(Frame& f, const Instruction&) {
  // Both operands go through ToInt first, as for the other shifts; the
  // result is a uint.
  return Binary(f, [&](const Value& a, const Value& b) {
    f.vm.ToInt(a);
    const std::uint32_t shift = Bits(f.vm.ToInt(b)) & 31;
    return Value::Number(f.vm.ToUint(a) >> shift);
  });
}

// ---- comparison

bool Interp::OpNot(Frame& f, const Instruction&) {
  return Unary(f, [&](const Value& v) { return Value::Bool(!f.vm.ToBoolean(v)); });
}
bool Interp::OpEquals(Frame& f, const Instruction&) {
  return Binary(f, [&](const Value& a, const Value& b) { return Value::Bool(f.vm.Equals(a, b)); });
}
bool Interp::OpStrictEquals(Frame& f, const Instruction&) {
  return Binary(f, [&](const Value& a, const Value& b) { return Value::Bool(f.vm.StrictEquals(a, b)); });
}
// LessThan answers -1 for undefined (NaN): every comparison is then false.
bool Interp::OpLessThan(Frame& f, const Instruction&) {
  return Binary(f, [&](const Value& a, const Value& b) { return Value::Bool(f.vm.LessThan(a, b) == 1); });
}
bool Interp::OpLessEquals(Frame& f, const Instruction&) {
  return Binary(f, [&](const Value& a, const Value& b) { return Value::Bool(f.vm.LessThan(b, a) == 0); });
}
bool Interp::OpGreaterThan(Frame& f, const Instruction&) {
  return Binary(f, [&](const Value& a, const Value& b) { return Value::Bool(f.vm.LessThan(b, a) == 1); });
}
bool Interp::OpGreaterEquals(Frame& f, const Instruction&) {
  return Binary(f, [&](const Value& a, const Value& b) { return Value::Bool(f.vm.LessThan(a, b) == 0); });
}

}  // namespace quarvel::avm2
