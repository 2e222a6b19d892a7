#pragma once

namespace quarvel::avm2 {

class Machine;
struct Value;

// The TypeError of using null (1009) or undefined (1010) as an object.
[[noreturn]] void ThrowNullish(Machine& m, const Value& v);

}  // namespace quarvel::avm2
