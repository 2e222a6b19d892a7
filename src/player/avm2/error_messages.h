#pragma once
// Flash's table of run-time error messages, as Error.getErrorMessage and
// Error.throwError read it.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quarvel::avm2 {

// The text Flash has for error `id`, its %1, %2... left as they are; none
// for a number Flash has no text for.
std::optional<std::string_view> FlashErrorTemplate(int id);

// "Error #id: text", or "Error #id" for a number without text; with `fill`,
// %N replaced by args[N - 1], empty past the last given.
std::string FlashErrorMessage(int id, std::span<const std::string> args, bool fill = true);

}  // namespace quarvel::avm2
