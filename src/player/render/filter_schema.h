#pragma once
// The classes of flash.filters as both script machines build them: each
// class's constructor parameters in order, their kinds and defaults, and
// the renderer's filter it becomes. Each machine turns arguments into its
// own values; array parameters have no default here (each machine gives
// its own).

#include <string_view>
#include <vector>

#include "player/render/filters.h"

namespace quarvel::player {

struct FilterParam {
  const char* name;
  enum class Type { kNumber, kBool, kString, kArray, kAny } type;
  double number = 0;           // kNumber, kBool (0 or 1)
  const char* text = nullptr;  // kString
};

struct FilterSchema {
  const char* name;  // the class name in flash.filters
  Filter::Kind kind;
  std::vector<FilterParam> params;
};

// Every class, in the order the machines register them.
const std::vector<FilterSchema>& FilterSchemas();
// The class of that name; nullptr for others.
const FilterSchema* FindFilterSchema(std::string_view name);

}  // namespace quarvel::player
