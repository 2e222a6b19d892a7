#pragma once
// Little-endian byte writer with the SWF bit writer, for building SWF
// fixtures. Bit fields are packed from the most significant bit on; byte
// writes first flush a partly written byte, as readers expect.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "player/swf/records.h"

namespace quarvel::testing {

// Bits a signed / unsigned bit field needs to hold v (0 for 0).
unsigned SignedBits(std::int64_t v);
unsigned UnsignedBits(std::uint64_t v);

// 16.16 fixed point value of d, rounded to nearest.
std::int32_t ToFixed16(double d);

class SwfWriter {
 public:
  void U8(std::uint8_t v);
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void S16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
  void S32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void Fixed8(double v);   // signed 8.8
  void Fixed16(double v);  // signed 16.16
  void F32(float v);
  void F64(double v);
  void EncodedU32(std::uint32_t v);
  void String(std::string_view s);  // with its NUL
  void Bytes(std::span<const std::uint8_t> b);

  // Bit fields of 0 to 32 bits; throw std::invalid_argument when v does not fit.
  void UB(std::uint32_t v, unsigned bits);
  void SB(std::int32_t v, unsigned bits);
  void FB(double v, unsigned bits);
  void Align();

  // Records: RECT, MATRIX, CXFORM, CXFORMWITHALPHA, RGB, RGBA, ARGB, with the
  // fewest bits that hold the values.
  void Rect(const swf::Rect& r);
  void Matrix(const swf::Matrix& m);
  void Cxform(const swf::ColorTransform& c);
  void CxformWithAlpha(const swf::ColorTransform& c);
  void Rgb(swf::Rgba c);
  void Rgba(swf::Rgba c);
  void Argb(swf::Rgba c);

  std::size_t Size() const { return out_.size(); }
  // The bytes written so far (a partly written byte is flushed first).
  const std::vector<std::uint8_t>& Data();
  std::vector<std::uint8_t> Take();

 private:
  std::vector<std::uint8_t> out_;
  unsigned bit_ = 0;  // bits used in out_.back(), 0 when byte-aligned
};

}  // namespace quarvel::testing
