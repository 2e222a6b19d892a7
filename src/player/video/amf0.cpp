#include "player/video/amf0.h"

#include <bit>

#include "player/video/video_error.h"

namespace quarvel::player::video {
namespace {

class AmfReader {
 public:
  AmfReader(std::span<const std::uint8_t> data, std::size_t& pos, std::size_t base)
      : data_(data), pos_(pos), base_(base) {}

  AmfValue Value(int depth) {
    if (depth > kMaxAmfDepth) Fail("value", "AMF values nested deeper than " + std::to_string(kMaxAmfDepth));
    if (++count_ > kMaxAmfValues) Fail("value", "more than " + std::to_string(kMaxAmfValues) + " AMF values");
    const std::size_t at = pos_;
    const std::uint8_t marker = U8("type marker");
    AmfValue v;
    switch (marker) {
      case 0: v.type = AmfValue::Type::kNumber; v.number = Double("number"); break;
      case 1: v.type = AmfValue::Type::kBoolean; v.boolean = U8("boolean") != 0; break;
      case 2: v.type = AmfValue::Type::kString; v.string = String(U16("string length"), "string"); break;
      case 3: v.type = AmfValue::Type::kObject; Properties(v, depth); break;
      case 5: v.type = AmfValue::Type::kNull; break;
      case 6: v.type = AmfValue::Type::kUndefined; break;
      case 7: v.type = AmfValue::Type::kReference; v.number = U16("reference"); break;
      case 8:
        v.type = AmfValue::Type::kEcmaArray;
        U32("ECMA array count");  // a hint only: the end marker closes the array
        Properties(v, depth);
        break;
      case 10: {
        v.type = AmfValue::Type::kStrictArray;
        const std::uint32_t n = U32("strict array count");
        if (n > Left()) Fail("strict array count", "strict array of " + std::to_string(n) + " values in " +
                                                       std::to_string(Left()) + " bytes");
        v.elements.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) v.elements.push_back(Value(depth + 1));
        break;
      }
      case 11:
        v.type = AmfValue::Type::kDate;
        v.number = Double("date");
        U16("time zone");
        break;
      case 12: v.type = AmfValue::Type::kString; v.string = String(U32("long string length"), "long string"); break;
      case 13: v.type = AmfValue::Type::kUnsupported; break;
      case 15: v.type = AmfValue::Type::kXml; v.string = String(U32("XML length"), "XML document"); break;
      case 16:
        v.type = AmfValue::Type::kTypedObject;
        v.string = String(U16("class name length"), "class name");
        Properties(v, depth);
        break;
      default:
        pos_ = at;
        Fail("type marker", "unknown AMF0 type marker " + std::to_string(marker));
    }
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& field, const std::string& reason) const {
    throw VideoError(field, base_ + pos_, reason);
  }
  std::size_t Left() const { return data_.size() - pos_; }
  const std::uint8_t* Take(std::size_t n, const char* field) {
    if (n > Left()) {
      Fail(field, "AMF data cut off: needs " + std::to_string(n) + " bytes, " + std::to_string(Left()) + " left");
    }
    const std::uint8_t* p = data_.data() + pos_;
    pos_ += n;
    return p;
  }
  std::uint8_t U8(const char* field) { return *Take(1, field); }
  std::uint16_t U16(const char* field) {
    const std::uint8_t* p = Take(2, field);
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
  }
  std::uint32_t U32(const char* field) {
    const std::uint8_t* p = Take(4, field);
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
  }
  double Double(const char* field) {
    const std::uint8_t* p = Take(8, field);
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
    return std::bit_cast<double>(bits);
  }
  std::string String(std::size_t n, const char* field) {
    const std::uint8_t* p = Take(n, field);
    return std::string(reinterpret_cast<const char*>(p), n);
  }
  void Properties(AmfValue& v, int depth) {
    for (;;) {
      if (Left() < 2) {  // cut off where a property would start: close the object
        pos_ = data_.size();
        return;
      }
      std::string name = String(U16("property name length"), "property name");
      if (name.empty() && Left() >= 1 && data_[pos_] == 9) {
        ++pos_;
        return;
      }
      if (Left() == 0) return;
      AmfValue value = Value(depth + 1);
      v.properties.push_back(AmfProperty{std::move(name), std::move(value)});
    }
  }

  std::span<const std::uint8_t> data_;
  std::size_t& pos_;
  std::size_t base_;
  std::size_t count_ = 0;
};

}  // namespace

const AmfValue* AmfValue::Find(std::string_view name) const {
  for (const auto& [key, value] : properties) {
    if (key == name) return &value;
  }
  return nullptr;
}

std::optional<double> AmfValue::NumberAt(std::string_view name) const {
  const AmfValue* v = Find(name);
  if (!v || v->type != Type::kNumber) return std::nullopt;
  return v->number;
}

AmfValue ReadAmf0(std::span<const std::uint8_t> data, std::size_t& pos, std::size_t base_offset) {
  if (pos > data.size()) throw VideoError("value", base_offset + pos, "AMF read starts past the data");
  AmfReader r(data, pos, base_offset);
  return r.Value(0);
}

}  // namespace quarvel::player::video
