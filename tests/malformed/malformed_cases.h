#pragma once
// Malformed and extreme SWF files, made on the spot: compressed bombs, huge
// sizes and counts, files cut at several points, bad LZMA properties, deep
// nesting, endless scripts.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace quarvel::testing {

struct MalformedCase {
  std::string name;  // also the file's base name
  // Made when a test needs them: the bombs take seconds to deflate, and
  // every test program that lists the cases would pay that at start-up.
  std::function<std::vector<std::uint8_t>()> bytes;
  // What every command may do with it: fail (1) or also succeed (0).
  bool may_succeed = true;
};

std::vector<MalformedCase> MalformedCases();

// Test names show the case by name, not its bytes.
inline void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

}  // namespace quarvel::testing
