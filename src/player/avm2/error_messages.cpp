#include "player/avm2/error_messages.h"

#include <charconv>
#include <unordered_map>

namespace quarvel::avm2 {
namespace {

constexpr std::string_view kTable =
#include "player/avm2/error_messages.inc"
    ;

const std::unordered_map<int, std::string_view>& Table() {
  static const auto table = [] {
    std::unordered_map<int, std::string_view> t;
    std::string_view rest = kTable;
    while (!rest.empty()) {
      const std::size_t end = rest.find('\n');
      const std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
      int id = 0;
      const auto [p, ec] = std::from_chars(line.data(), line.data() + line.size(), id);
      if (ec != std::errc{} || p == line.data() + line.size() || *p != ' ') continue;
      t[id] = line.substr(static_cast<std::size_t>(p - line.data()) + 1);
    }
    return t;
  }();
  return table;
}

}  // namespace

std::optional<std::string_view> FlashErrorTemplate(int id) {
  const auto& t = Table();
  const auto it = t.find(id);
  if (it == t.end()) return std::nullopt;
  return it->second;
}

std::string FlashErrorMessage(int id, std::span<const std::string> args, bool fill) {
  std::string out = "Error #" + std::to_string(id);
  const auto text = FlashErrorTemplate(id);
  if (!text) return out;
  out += ": ";
  for (std::size_t i = 0; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (fill && c == '%' && i + 1 < text->size() && (*text)[i + 1] >= '1' && (*text)[i + 1] <= '9') {
      const std::size_t n = static_cast<std::size_t>((*text)[++i] - '1');
      if (n < args.size()) out += args[n];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace quarvel::avm2
