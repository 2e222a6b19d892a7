#pragma once
// AMF0 values, as FLV script data (onMetaData) carries them, read into a
// plain tree.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::player::video {

struct AmfProperty;

struct AmfValue {
  enum class Type {
    kNumber, kBoolean, kString, kObject, kNull, kUndefined, kReference,
    kEcmaArray, kStrictArray, kDate, kUnsupported, kXml, kTypedObject,
  };
  Type type = Type::kUndefined;
  double number = 0;    // number; date (milliseconds); reference (index)
  bool boolean = false;
  std::string string;   // string, long string, XML; class name of a typed object
  std::vector<AmfProperty> properties;  // objects and ECMA arrays, in file order
  std::vector<AmfValue> elements;                            // strict arrays

  // The first property of that name; nullptr when absent or not an object.
  const AmfValue* Find(std::string_view name) const;
  // A property's number; nullopt when absent or not a number.
  std::optional<double> NumberAt(std::string_view name) const;
};

struct AmfProperty {
  std::string name;
  AmfValue value;
};

inline constexpr int kMaxAmfDepth = 64;
inline constexpr std::size_t kMaxAmfValues = 1u << 20;

// Reads one value at `pos` (moved past it). base_offset places the data in
// its file for messages. Throws VideoError for data cut off inside a value,
// an unknown type marker, nesting deeper than kMaxAmfDepth or more than
// kMaxAmfValues values. An object or array whose data ends where a property
// would start is closed there, as players do with cut-off metadata.
AmfValue ReadAmf0(std::span<const std::uint8_t> data, std::size_t& pos, std::size_t base_offset = 0);

}  // namespace quarvel::player::video
