#pragma once

#include <string_view>

namespace quarvel::avm2 {

struct Class;

// Whether Flash declares `name` as a public instance member of a Flash class
// `cls` is or extends (Object aside): kUnknown when one of them is not described.
enum class FlashDeclares { kYes, kNo, kUnknown };
FlashDeclares FlashDeclaresMember(const Class* cls, const Class* objectClass, std::string_view name);
// How many parameters Flash declares for a method of its class `owner` (a
// native function's length), or -1 when that is not described.
int FlashMethodArity(const Class* owner, std::string_view name, bool isStatic);

}  // namespace quarvel::avm2
