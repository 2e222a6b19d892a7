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

// One setting of a filter as a flash.filters object shows it.
struct FilterField {
  const char* name;
  enum class Type { kNumber, kBool, kString, kNumbers } type;
  double number = 0;            // kNumber, kBool (0 or 1)
  const char* text = nullptr;   // kString
  std::vector<double> numbers;  // kNumbers: an array of numbers
};
// A renderer's filter (one placed by the timeline) as its class and the
// fields scripts read: colours as 0xRRGGBB beside alphas 0..1, angles in
// degrees, a bevel's flags as its type.
const FilterSchema& SchemaOf(const Filter& f);
std::vector<FilterField> FilterFields(const Filter& f);

}  // namespace quarvel::player
