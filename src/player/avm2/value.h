#pragma once
// ActionScript 3 values. Strings and objects live on the machine's heap,
// which collects only between frames: while scripts run, every value stays
// alive, so values may hold plain pointers.

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel::avm2 {

struct Object;
class Heap;

// Everything the collector owns.
struct Cell {
  virtual ~Cell() = default;
  bool marked = false;
  // Names the cells this one refers to (Heap::Mark each).
  virtual void Trace(Heap&) {}
  virtual std::size_t Bytes() const { return sizeof(Cell); }
};

struct StringCell : Cell {
  explicit StringCell(std::string v) : text(std::move(v)) {}
  std::string text;  // UTF-8
  std::uint32_t id = 0;  // its name number once interned, else 0
  // Kept from the first read by UTF-16 unit: charAt and charCodeAt in a loop
  // over a long string would otherwise scan and convert it on every call.
  mutable std::int8_t ascii = -1;  // -1 not yet known
  mutable std::u16string units;    // non-ASCII text only
  std::size_t Bytes() const override {
    return sizeof(StringCell) + text.capacity() + units.capacity() * sizeof(char16_t);
  }
};

enum class Type : std::uint8_t { kUndefined, kNull, kBoolean, kInt, kNumber, kString, kObject };

// int and uint are both numbers to scripts; a whole number within int's
// range is kept as kInt for speed, any other as kNumber.
struct Value {
  Type type = Type::kUndefined;
  // An array slot never written or deleted: undefined to scripts, but read
  // through the prototype and left out of enumeration and hasOwnProperty.
  bool hole = false;
  union {
    bool b;
    std::int32_t i;
    double d;
    StringCell* s;
    Object* o;
  };
  Value() : d(0) {}

  static Value Undefined() { return Value(); }
  static Value Hole() {
    Value v;
    v.hole = true;
    return v;
  }
  bool IsHole() const { return hole && type == Type::kUndefined; }
  Value Filled() const {
    Value v = *this;
    v.hole = false;
    return v;
  }
  static Value Null() {
    Value v;
    v.type = Type::kNull;
    return v;
  }
  static Value Bool(bool x) {
    Value v;
    v.type = Type::kBoolean;
    v.b = x;
    return v;
  }
  static Value Int(std::int32_t x) {
    Value v;
    v.type = Type::kInt;
    v.i = x;
    return v;
  }
  static Value Number(double x);
  static Value Str(StringCell* x) {
    Value v;
    v.type = Type::kString;
    v.s = x;
    return v;
  }
  static Value Obj(Object* x) {
    if (!x) return Null();
    Value v;
    v.type = Type::kObject;
    v.o = x;
    return v;
  }

  bool IsUndefined() const { return type == Type::kUndefined; }
  bool IsNull() const { return type == Type::kNull; }
  bool IsNullish() const { return type == Type::kUndefined || type == Type::kNull; }
  bool IsNumber() const { return type == Type::kInt || type == Type::kNumber; }
  bool IsString() const { return type == Type::kString; }
  bool IsObject() const { return type == Type::kObject; }
  double Num() const { return type == Type::kInt ? i : d; }  // only for numbers
  Object* AsObject() const { return type == Type::kObject ? o : nullptr; }
};

// ECMA-262 conversions that need no script calls.
std::int32_t ToInt32(double d);
std::uint32_t ToUint32(double d);
double StringToNumber(std::string_view s);
std::string NumberToString(double d);
std::string NumberToString(double d, int radix);
// An array index ("0", "12") from a property name, or false.
bool ParseIndex(std::string_view s, std::uint32_t& out);

}  // namespace quarvel::avm2
