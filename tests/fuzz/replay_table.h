#pragma once
// The fuzz targets the replay program holds, each under its target's name.
#include <cstddef>
#include <cstdint>

namespace quarvel::fuzz {

struct ReplayTarget {
  const char* name;  // nullptr ends the table
  int (*run)(const std::uint8_t* data, std::size_t size);
  int (*initialize)(int* argc, char*** argv);  // nullptr when the target has none
};

extern const ReplayTarget kReplayTargets[];

}  // namespace quarvel::fuzz
