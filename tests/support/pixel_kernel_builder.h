#pragma once
// Pixel shader byte code for tests, instruction by instruction.
//
//   KernelBuilder k;
//   k.Param(1, 2, 0, 0xC, "_OutCoord").Texture(0, 4, "src").Param(2, 4, 1, 0xF, "dst");
//   k.Sample(0x30, 2, 0xF, 0, 0).Op(0x1D, 1, 0xF, 2);   // dst = sampleNearest(src, outCoord)
//   auto bytes = k.Bytes();

#include <bit>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quarvel::testing {

class KernelBuilder {
 public:
  KernelBuilder() {
    b_.push_back(0xA5);  // version 1
    U32(1);
    b_.push_back(0xA4);  // name
    U16(1);
    b_.push_back('k');
  }
  // More code after `bytes`.
  explicit KernelBuilder(std::vector<std::uint8_t> bytes) : b_(std::move(bytes)) {}
  // qualifier 1 in, 2 out; type 1..4 float..float4; mask: 8 r, 4 g, 2 b, 1 a.
  KernelBuilder& Param(int qualifier, int type, std::uint16_t reg, std::uint8_t mask, const std::string& name) {
    b_.push_back(0xA1);
    b_.push_back(static_cast<std::uint8_t>(qualifier));
    b_.push_back(static_cast<std::uint8_t>(type));
    U16(reg);
    b_.push_back(mask);
    Str(name);
    return *this;
  }
  KernelBuilder& DefaultValue(const std::vector<float>& v) {
    b_.push_back(0xA0);
    b_.push_back(static_cast<std::uint8_t>(v.size()));  // float..float4
    Str("defaultValue");
    for (float f : v) FloatBig(f);
    return *this;
  }
  KernelBuilder& Texture(int index, int channels, const std::string& name) {
    b_.push_back(0xA3);
    b_.push_back(static_cast<std::uint8_t>(index));
    b_.push_back(static_cast<std::uint8_t>(channels));
    Str(name);
    return *this;
  }
  // dst.<mask> = dst <op> src.<swizzle>; the swizzle names `size` channels
  // (0x1B: rgba, 0x00: rrrr); registers with 0x8000 are int registers.
  KernelBuilder& Op(std::uint8_t code, std::uint16_t dst, std::uint8_t mask, std::uint16_t src,
                    std::uint8_t swizzle = 0x1B, int size = 4) {
    b_.push_back(code);
    U16(dst);
    b_.push_back(static_cast<std::uint8_t>((mask << 4) | (size - 1)));
    U16(src);
    b_.push_back(swizzle);
    b_.push_back(0);
    return *this;
  }
  // dst = dst <op> the n x n matrix in registers src.. (n 2..4); a dst
  // mask of 0 makes the destination a matrix too.
  KernelBuilder& MatrixOp(std::uint8_t code, std::uint16_t dst, std::uint8_t mask, std::uint16_t src, int n) {
    b_.push_back(code);
    U16(dst);
    b_.push_back(static_cast<std::uint8_t>((mask << 4) | ((n - 1) << 2)));
    U16(src);
    b_.push_back(0);
    b_.push_back(0);
    return *this;
  }
  // dst = cond ? a : b, each one channel (r).
  KernelBuilder& Select(std::uint16_t dst, std::uint8_t mask, std::uint16_t cond, std::uint16_t a, std::uint16_t b) {
    b_.push_back(0x33);
    U16(dst);
    b_.push_back(static_cast<std::uint8_t>(mask << 4));
    for (std::uint16_t reg : {cond, a, b}) {
      U16(reg);
      b_.push_back(0);  // r
      b_.push_back(0);
    }
    return *this;
  }
  KernelBuilder& LoadFloat(std::uint16_t dst, std::uint8_t mask, float v) {
    b_.push_back(0x32);
    U16(dst);
    b_.push_back(static_cast<std::uint8_t>(mask << 4));
    FloatBig(v);
    return *this;
  }
  // sampleNearest (0x30) or sampleLinear (0x31) of texture `tex` at src.rg.
  KernelBuilder& Sample(std::uint8_t code, std::uint16_t dst, std::uint8_t mask, std::uint16_t src, int tex) {
    b_.push_back(code);
    U16(dst);
    b_.push_back(static_cast<std::uint8_t>(mask << 4));
    U16(src);
    b_.push_back(0x10);  // rg
    b_.push_back(static_cast<std::uint8_t>(tex));
    return *this;
  }
  KernelBuilder& If(std::uint16_t intReg) {
    b_.push_back(0x34);
    for (int k = 0; k < 3; ++k) b_.push_back(0);
    U16(static_cast<std::uint16_t>(intReg | 0x8000));
    b_.push_back(0);  // r
    b_.push_back(0);
    return *this;
  }
  KernelBuilder& Else() { return Plain(0x35); }
  KernelBuilder& EndIf() { return Plain(0x36); }
  KernelBuilder& Raw(std::vector<std::uint8_t> bytes) {
    b_.insert(b_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  const std::vector<std::uint8_t>& Bytes() const { return b_; }

 private:
  KernelBuilder& Plain(std::uint8_t code) {
    b_.push_back(code);
    for (int k = 0; k < 7; ++k) b_.push_back(0);
    return *this;
  }
  void U16(std::uint16_t v) {
    b_.push_back(static_cast<std::uint8_t>(v));
    b_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b_.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  }
  void FloatBig(float f) {
    const auto v = std::bit_cast<std::uint32_t>(f);
    for (int k = 3; k >= 0; --k) b_.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  }
  void Str(const std::string& s) {
    b_.insert(b_.end(), s.begin(), s.end());
    b_.push_back(0);
  }
  std::vector<std::uint8_t> b_;
};

// The blend kernel "average": dst = (background + foreground) / 2.
inline std::vector<std::uint8_t> AverageBlendKernel() {
  KernelBuilder k;
  k.Param(1, 2, 0, 0xC, "_OutCoord").Texture(0, 4, "background").Texture(1, 4, "foreground");
  k.Param(2, 4, 1, 0xF, "dst");
  k.Sample(0x30, 2, 0xF, 0, 1).Sample(0x30, 3, 0xF, 0, 0);
  k.Op(0x01, 2, 0xF, 3);                  // f2 += f3
  k.LoadFloat(0, 0x2, 0.5f);              // f0.b = 0.5
  k.Op(0x03, 2, 0xF, 0, 0xAA);            // f2 *= f0.bbbb
  k.Op(0x1D, 1, 0xF, 2);                  // dst = f2
  return k.Bytes();
}

}  // namespace quarvel::testing
