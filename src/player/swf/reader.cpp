#include "player/swf/reader.h"

#include <bit>
#include <cstring>

namespace quarvel::swf {

void Reader::Fail(std::string_view field, std::string_view what) const {
  throw SwfError(std::string(field), Offset(), std::string(what));
}

const std::uint8_t* Reader::Take(std::size_t n, std::string_view field) {
  AlignBits();
  if (n > data_.size() - pos_) {
    Fail(field, "SWF data cut off: needs " + std::to_string(n) + " bytes, " +
                    std::to_string(data_.size() - pos_) + " left");
  }
  const std::uint8_t* p = data_.data() + pos_;
  pos_ += n;
  return p;
}

std::uint8_t Reader::U8(std::string_view field) { return *Take(1, field); }

std::uint16_t Reader::U16(std::string_view field) {
  const std::uint8_t* p = Take(2, field);
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Reader::U32(std::string_view field) {
  const std::uint8_t* p = Take(4, field);
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t Reader::U64(std::string_view field) {
  const std::uint8_t* p = Take(8, field);
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

std::int8_t Reader::S8(std::string_view field) { return static_cast<std::int8_t>(U8(field)); }
std::int16_t Reader::S16(std::string_view field) { return static_cast<std::int16_t>(U16(field)); }
std::int32_t Reader::S32(std::string_view field) { return static_cast<std::int32_t>(U32(field)); }

double Reader::Fixed8(std::string_view field) { return S16(field) / 256.0; }
double Reader::Fixed16(std::string_view field) { return S32(field) / 65536.0; }

float Reader::F32(std::string_view field) { return std::bit_cast<float>(U32(field)); }
double Reader::F64(std::string_view field) { return std::bit_cast<double>(U64(field)); }

std::uint32_t Reader::EncodedU32(std::string_view field) {
  AlignBits();
  const std::size_t start = pos_;
  std::uint32_t v = 0;
  for (int i = 0; i < 5; ++i) {
    if (pos_ >= data_.size()) {
      pos_ = start;
      Fail(field, "SWF data cut off inside a variable-length integer");
    }
    const std::uint8_t b = data_[pos_++];
    v |= static_cast<std::uint32_t>(b & 0x7f) << (7 * i);
    if (!(b & 0x80)) break;
  }
  return v;
}

std::string Reader::String(std::string_view field) {
  AlignBits();
  const std::uint8_t* begin = data_.data() + pos_;
  const void* nul = pos_ < data_.size() ? std::memchr(begin, 0, data_.size() - pos_) : nullptr;
  if (!nul) Fail(field, "SWF string has no terminating NUL before the end of its data");
  const auto len = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - begin);
  std::string s(reinterpret_cast<const char*>(begin), len);
  pos_ += len + 1;
  return s;
}

std::uint32_t Reader::UB(unsigned bits, std::string_view field) {
  if (bits > 32) Fail(field, "bit field wider than 32 bits (" + std::to_string(bits) + ")");
  const std::size_t avail = (data_.size() - pos_) * 8 - bit_;
  if (bits > avail) {
    Fail(field, "SWF data cut off: bit field needs " + std::to_string(bits) + " bits, " +
                    std::to_string(avail) + " left");
  }
  std::uint64_t v = 0;
  unsigned left = bits;
  while (left > 0) {
    const unsigned free_bits = 8 - bit_;
    const unsigned take = left < free_bits ? left : free_bits;
    const unsigned chunk = (data_[pos_] >> (free_bits - take)) & ((1u << take) - 1u);
    v = (v << take) | chunk;
    bit_ += take;
    left -= take;
    if (bit_ == 8) {
      bit_ = 0;
      ++pos_;
    }
  }
  return static_cast<std::uint32_t>(v);
}

std::int32_t Reader::SB(unsigned bits, std::string_view field) {
  const std::uint32_t u = UB(bits, field);
  if (bits == 0) return 0;
  if (bits < 32 && (u >> (bits - 1)) & 1u) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(u) - (std::int64_t{1} << bits));
  }
  return static_cast<std::int32_t>(u);
}

double Reader::FB(unsigned bits, std::string_view field) { return SB(bits, field) / 65536.0; }

void Reader::AlignBits() {
  if (bit_ != 0) {
    bit_ = 0;
    ++pos_;
  }
}

std::span<const std::uint8_t> Reader::Bytes(std::size_t n, std::string_view field) {
  return {Take(n, field), n};
}

Reader Reader::Sub(std::size_t n, std::string_view field) {
  AlignBits();
  const std::size_t at = Offset();
  return Reader(Bytes(n, field), at);
}

std::span<const std::uint8_t> Reader::Rest() {
  AlignBits();
  auto rest = data_.subspan(pos_);
  pos_ = data_.size();
  return rest;
}

void Reader::Skip(std::size_t n, std::string_view field) { Take(n, field); }

void Reader::Seek(std::size_t position) {
  if (position > data_.size()) {
    Fail("position", "seek to " + std::to_string(position) + " past the end of " +
                         std::to_string(data_.size()) + " bytes");
  }
  pos_ = position;
  bit_ = 0;
}

}  // namespace quarvel::swf
