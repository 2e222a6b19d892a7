#pragma once
// Bounds-checked little-endian reader over SWF bytes, with the SWF bit
// reader (fields packed from the most significant bit of each byte on).
// Byte reads first drop any partly read byte, as the format requires.
// Every read checks the data and throws SwfError naming the field.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "player/swf/swf_error.h"

namespace quarvel::swf {

class Reader {
 public:
  Reader() = default;
  // base_offset: where data starts in the whole movie, used in error messages.
  explicit Reader(std::span<const std::uint8_t> data, std::size_t base_offset = 0)
      : data_(data), base_(base_offset) {}
  // A reader only borrows its bytes: refuse temporaries.
  explicit Reader(std::vector<std::uint8_t>&&, std::size_t = 0) = delete;

  // Integers, little-endian.
  std::uint8_t U8(std::string_view field = "UI8");
  std::uint16_t U16(std::string_view field = "UI16");
  std::uint32_t U32(std::string_view field = "UI32");
  std::uint64_t U64(std::string_view field = "UI64");
  std::int8_t S8(std::string_view field = "SI8");
  std::int16_t S16(std::string_view field = "SI16");
  std::int32_t S32(std::string_view field = "SI32");
  // Fixed point: 8.8 signed and 16.16 signed.
  double Fixed8(std::string_view field = "FIXED8");
  double Fixed16(std::string_view field = "FIXED");
  // IEEE floats, little-endian.
  float F32(std::string_view field = "FLOAT");
  double F64(std::string_view field = "DOUBLE");
  // Variable-length unsigned: 7 bits per byte, at most 5 bytes.
  std::uint32_t EncodedU32(std::string_view field = "EncodedU32");
  // NUL-terminated string (bytes as stored, without the NUL).
  std::string String(std::string_view field = "STRING");

  // Bit fields of 0 to 32 bits; width 0 reads nothing and gives 0.
  std::uint32_t UB(unsigned bits, std::string_view field = "UB");
  std::int32_t SB(unsigned bits, std::string_view field = "SB");
  // Signed 16.16 fixed point bit field.
  double FB(unsigned bits, std::string_view field = "FB");
  // Drop the rest of a partly read byte.
  void AlignBits();

  // n bytes as a sub-span of the data (no copy).
  std::span<const std::uint8_t> Bytes(std::size_t n, std::string_view field = "bytes");
  // A reader over exactly the next n bytes; this reader moves past them.
  Reader Sub(std::size_t n, std::string_view field = "bytes");
  // Everything from the position to the end; this reader moves to the end.
  std::span<const std::uint8_t> Rest();
  void Skip(std::size_t n, std::string_view field = "bytes");
  // Move to a byte position in [0, Size()].
  void Seek(std::size_t position);

  // Byte position relative to this reader's data (a partly read byte counts
  // as unread).
  std::size_t Position() const { return pos_; }
  // Position in the whole movie, for messages.
  std::size_t Offset() const { return base_ + pos_; }
  std::size_t BaseOffset() const { return base_; }
  std::size_t Size() const { return data_.size(); }
  // Whole bytes left after the current (possibly partly read) byte.
  std::size_t Remaining() const { return data_.size() - pos_ - (bit_ ? 1 : 0); }
  bool AtEnd() const { return Remaining() == 0; }
  std::span<const std::uint8_t> Data() const { return data_; }

  [[noreturn]] void Fail(std::string_view field, std::string_view what) const;

 private:
  const std::uint8_t* Take(std::size_t n, std::string_view field);

  std::span<const std::uint8_t> data_;
  std::size_t base_ = 0;
  std::size_t pos_ = 0;
  unsigned bit_ = 0;  // bits already taken from data_[pos_], 0..7
};

}  // namespace quarvel::swf
