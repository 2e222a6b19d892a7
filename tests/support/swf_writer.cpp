#include "support/swf_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>
#include <string>

namespace quarvel::testing {

unsigned SignedBits(std::int64_t v) {
  if (v == 0) return 0;
  const std::uint64_t mag = v < 0 ? static_cast<std::uint64_t>(~v) : static_cast<std::uint64_t>(v);
  return UnsignedBits(mag) + 1;
}

unsigned UnsignedBits(std::uint64_t v) { return static_cast<unsigned>(std::bit_width(v)); }

std::int32_t ToFixed16(double d) { return static_cast<std::int32_t>(std::lround(d * 65536.0)); }

void SwfWriter::U8(std::uint8_t v) {
  Align();
  out_.push_back(v);
}

void SwfWriter::U16(std::uint16_t v) {
  U8(v & 0xff);
  U8(static_cast<std::uint8_t>(v >> 8));
}

void SwfWriter::U32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
}

void SwfWriter::Fixed8(double v) { S16(static_cast<std::int16_t>(std::lround(v * 256.0))); }
void SwfWriter::Fixed16(double v) { S32(ToFixed16(v)); }
void SwfWriter::F32(float v) { U32(std::bit_cast<std::uint32_t>(v)); }

void SwfWriter::F64(double v) {
  const auto u = std::bit_cast<std::uint64_t>(v);
  U32(static_cast<std::uint32_t>(u));
  U32(static_cast<std::uint32_t>(u >> 32));
}

void SwfWriter::EncodedU32(std::uint32_t v) {
  do {
    std::uint8_t b = v & 0x7f;
    v >>= 7;
    if (v) b |= 0x80;
    U8(b);
  } while (v);
}

void SwfWriter::String(std::string_view s) {
  Align();
  out_.insert(out_.end(), s.begin(), s.end());
  out_.push_back(0);
}

void SwfWriter::Bytes(std::span<const std::uint8_t> b) {
  Align();
  out_.insert(out_.end(), b.begin(), b.end());
}

void SwfWriter::UB(std::uint32_t v, unsigned bits) {
  if (bits > 32 || (bits < 32 && (std::uint64_t{v} >> bits) != 0)) {
    throw std::invalid_argument("value " + std::to_string(v) + " does not fit " +
                                std::to_string(bits) + " unsigned bits");
  }
  for (unsigned i = bits; i-- > 0;) {
    if (bit_ == 0) out_.push_back(0);
    if ((v >> i) & 1u) out_.back() |= static_cast<std::uint8_t>(0x80u >> bit_);
    bit_ = (bit_ + 1) & 7;
  }
}

void SwfWriter::SB(std::int32_t v, unsigned bits) {
  if (bits > 32 || SignedBits(v) > bits) {
    throw std::invalid_argument("value " + std::to_string(v) + " does not fit " +
                                std::to_string(bits) + " signed bits");
  }
  const std::uint32_t u = static_cast<std::uint32_t>(v);
  UB(bits == 32 ? u : u & ((1u << bits) - 1u), bits);
}

void SwfWriter::FB(double v, unsigned bits) { SB(ToFixed16(v), bits); }

void SwfWriter::Align() { bit_ = 0; }

void SwfWriter::Rect(const swf::Rect& r) {
  Align();
  const unsigned n = std::max({SignedBits(r.xmin), SignedBits(r.xmax), SignedBits(r.ymin),
                               SignedBits(r.ymax)});
  UB(n, 5);
  SB(r.xmin, n);
  SB(r.xmax, n);
  SB(r.ymin, n);
  SB(r.ymax, n);
  Align();
}

void SwfWriter::Matrix(const swf::Matrix& m) {
  Align();
  const bool has_scale = m.scaleX != 1.0 || m.scaleY != 1.0;
  UB(has_scale, 1);
  if (has_scale) {
    const unsigned n = std::max(SignedBits(ToFixed16(m.scaleX)), SignedBits(ToFixed16(m.scaleY)));
    UB(n, 5);
    FB(m.scaleX, n);
    FB(m.scaleY, n);
  }
  const bool has_rotate = m.rotateSkew0 != 0.0 || m.rotateSkew1 != 0.0;
  UB(has_rotate, 1);
  if (has_rotate) {
    const unsigned n =
        std::max(SignedBits(ToFixed16(m.rotateSkew0)), SignedBits(ToFixed16(m.rotateSkew1)));
    UB(n, 5);
    FB(m.rotateSkew0, n);
    FB(m.rotateSkew1, n);
  }
  const unsigned n = std::max(SignedBits(m.translateX), SignedBits(m.translateY));
  UB(n, 5);
  SB(m.translateX, n);
  SB(m.translateY, n);
  Align();
}

namespace {

void WriteCx(SwfWriter& w, const swf::ColorTransform& c, bool alpha) {
  w.Align();
  const bool has_mult = c.redMult != 256 || c.greenMult != 256 || c.blueMult != 256 ||
                        (alpha && c.alphaMult != 256);
  const bool has_add =
      c.redAdd != 0 || c.greenAdd != 0 || c.blueAdd != 0 || (alpha && c.alphaAdd != 0);
  unsigned n = 0;
  if (has_mult) {
    n = std::max({n, SignedBits(c.redMult), SignedBits(c.greenMult), SignedBits(c.blueMult)});
    if (alpha) n = std::max(n, SignedBits(c.alphaMult));
  }
  if (has_add) {
    n = std::max({n, SignedBits(c.redAdd), SignedBits(c.greenAdd), SignedBits(c.blueAdd)});
    if (alpha) n = std::max(n, SignedBits(c.alphaAdd));
  }
  if (n > 15) throw std::invalid_argument("colour transform term does not fit 15 bits");
  w.UB(has_add, 1);
  w.UB(has_mult, 1);
  w.UB(n, 4);
  if (has_mult) {
    w.SB(c.redMult, n);
    w.SB(c.greenMult, n);
    w.SB(c.blueMult, n);
    if (alpha) w.SB(c.alphaMult, n);
  }
  if (has_add) {
    w.SB(c.redAdd, n);
    w.SB(c.greenAdd, n);
    w.SB(c.blueAdd, n);
    if (alpha) w.SB(c.alphaAdd, n);
  }
  w.Align();
}

}  // namespace

void SwfWriter::Cxform(const swf::ColorTransform& c) { WriteCx(*this, c, false); }
void SwfWriter::CxformWithAlpha(const swf::ColorTransform& c) { WriteCx(*this, c, true); }

void SwfWriter::Rgb(swf::Rgba c) {
  U8(c.r);
  U8(c.g);
  U8(c.b);
}

void SwfWriter::Rgba(swf::Rgba c) {
  Rgb(c);
  U8(c.a);
}

void SwfWriter::Argb(swf::Rgba c) {
  U8(c.a);
  Rgb(c);
}

const std::vector<std::uint8_t>& SwfWriter::Data() {
  Align();
  return out_;
}

std::vector<std::uint8_t> SwfWriter::Take() {
  Align();
  std::vector<std::uint8_t> v = std::move(out_);
  out_.clear();
  return v;
}

}  // namespace quarvel::testing
