#pragma once

#include <string_view>

namespace quarvel::avm2 {

struct Class;

// Whether Flash declares `name` as a public instance member of a Flash class
// `cls` is or extends (Object aside): kUnknown when one of them is not described.
enum class FlashDeclares { kYes, kNo, kUnknown };
FlashDeclares FlashDeclaresMember(const Class* cls, const Class* objectClass, std::string_view name);

}  // namespace quarvel::avm2
