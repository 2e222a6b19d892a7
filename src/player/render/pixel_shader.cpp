#include "player/render/pixel_shader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace quarvel::player {
namespace {

enum : std::uint8_t {
  kNop = 0x00, kAdd, kSub, kMul, kRcp, kDiv, kAtan2, kPow, kMod, kMin, kMax, kStep, kSin, kCos, kTan, kAsin,
  kAcos = 0x10, kAtan, kExp, kExp2, kLog, kLog2, kSqrt, kRsqrt, kAbs, kSign, kFloor, kCeil, kFract, kMov,
  kFloatToInt, kIntToFloat,
  kMatMatMul = 0x20, kVecMatMul, kMatVecMul, kNormalize, kLength, kDistance, kDot, kCross, kEqual, kNotEqual,
  kLessThan, kLessThanEqual, kLogicalNot, kLogicalAnd, kLogicalOr, kLogicalXor,
  kSampleNearest = 0x30, kSampleLinear, kLoad, kSelect, kIf, kElse, kEndIf, kFloatToBool, kBoolToFloat,
  kIntToBool, kBoolToInt, kVectorEqual, kVectorNotEqual, kAny, kAll,
  kMeta1 = 0xA0, kParam, kMeta2, kTexture, kName, kVersion,
};

// Registers past this are refused: real kernels use a few dozen.
constexpr std::uint16_t kMaxRegister = 4096;

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
  bool AtEnd() const { return pos_ >= b_.size(); }
  std::size_t Pos() const { return pos_; }
  std::uint8_t U8() {
    Need(1);
    return b_[pos_++];
  }
  std::uint16_t U16() {
    Need(2);
    const auto v = static_cast<std::uint16_t>(b_[pos_] | (b_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  std::uint32_t U24() {
    Need(3);
    const std::uint32_t v = b_[pos_] | (b_[pos_ + 1] << 8) | (static_cast<std::uint32_t>(b_[pos_ + 2]) << 16);
    pos_ += 3;
    return v;
  }
  std::int32_t I32() {
    Need(4);
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = (v << 8) | b_[pos_ + static_cast<std::size_t>(k)];
    pos_ += 4;
    return static_cast<std::int32_t>(v);
  }
  float FloatBig() {
    Need(4);
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 8) | b_[pos_ + static_cast<std::size_t>(k)];
    pos_ += 4;
    return std::bit_cast<float>(v);
  }
  std::string CString() {
    std::string s;
    for (;;) {
      const auto c = U8();
      if (c == 0) return s;
      s += static_cast<char>(c);
    }
  }
  void Skip(std::size_t n) {
    Need(n);
    pos_ += n;
  }
  [[noreturn]] void Fail(const std::string& what) const { throw ShaderError(what, pos_); }

 private:
  void Need(std::size_t n) const {
    if (b_.size() - pos_ < n) throw ShaderError("ends inside an instruction", pos_, true);
  }
  std::span<const std::uint8_t> b_;
  std::size_t pos_ = 0;
};

std::size_t ValueCountOf(int type) {
  switch (type) {
    case 1: case 8: case 13: return 1;
    case 2: case 9: case 14: return 2;
    case 3: case 10: case 15: return 3;
    case 4: case 11: case 16: return 4;
    case 5: return 4;
    case 6: return 9;
    case 7: return 16;
    default: return 0;
  }
}

ShaderMeta ReadMeta(Reader& r) {
  ShaderMeta meta;
  meta.type = r.U8();
  meta.key = r.CString();
  if (meta.type == 12) {
    meta.text = r.CString();
    return meta;
  }
  const std::size_t n = ValueCountOf(meta.type);
  if (n == 0) r.Fail("unknown value type " + std::to_string(meta.type));
  for (std::size_t k = 0; k < n; ++k) {
    if (meta.type <= 7) meta.values.push_back(r.FloatBig());
    else meta.values.push_back(static_cast<float>(static_cast<std::int16_t>(r.U16())));
  }
  return meta;
}

PixelShader::Reg DstReg(std::uint16_t raw, std::uint8_t mask) {
  PixelShader::Reg reg;
  reg.index = raw & 0x7FFF;
  reg.isInt = (raw & 0x8000) != 0;
  for (std::uint8_t ch = 0; ch < 4; ++ch)
    if (mask & (8 >> ch)) reg.channel[reg.count++] = ch;
  return reg;
}

PixelShader::Reg SrcReg(std::uint32_t raw, int size) {
  PixelShader::Reg reg;
  reg.index = raw & 0x7FFF;
  reg.isInt = (raw & 0x8000) != 0;
  const std::uint32_t swizzle = raw >> 16;
  reg.count = static_cast<std::uint8_t>(size);
  for (int k = 0; k < size; ++k) reg.channel[k] = static_cast<std::uint8_t>((swizzle >> (6 - k * 2)) & 3);
  return reg;
}

struct Registers {
  std::vector<std::array<float, 4>> f, i;
  std::array<float, 4>& At(const PixelShader::Reg& r) { return r.isInt ? i[r.index] : f[r.index]; }
  void Read(const PixelShader::Reg& r, float* out, int n) {
    const auto& v = At(r);
    // Short registers repeat their last channel; one of no channels reads 0.
    for (int k = 0; k < n; ++k) out[k] = r.count == 0 ? 0.0f : v[r.channel[std::min(k, r.count - 1)]];
  }
  void Write(const PixelShader::Reg& r, const float* in) {
    auto& v = At(r);
    for (int k = 0; k < r.count; ++k) v[r.channel[k]] = r.isInt ? std::trunc(in[k]) : in[k];
  }
};

// A coordinate as a pixel index; NaN and far values are outside every image.
int PixelIndex(float v) {
  const float f = std::floor(v);
  return f > -1e6f && f < 1e6f ? static_cast<int>(f) : -2000000;
}

float Channel(std::uint32_t px, int shift) { return static_cast<float>((px >> shift) & 255) / 255.0f; }

// Premultiplied r, g, b, a of the pixel at (x, y); outside the image, clear.
// A float image gives its channels and zeros after them.
std::array<float, 4> Texel(const ShaderImage& img, int x, int y) {
  if ((!img.pixels && !img.floats) || x < 0 || y < 0 || x >= img.width || y >= img.height) return {0, 0, 0, 0};
  if (img.floats) {
    std::array<float, 4> v{0, 0, 0, 0};
    const float* p = img.floats + (static_cast<std::ptrdiff_t>(y) * img.width + x) * img.channels;
    for (int k = 0; k < std::min(img.channels, 4); ++k) v[static_cast<std::size_t>(k)] = p[k];
    return v;
  }
  const std::uint32_t px = img.pixels[static_cast<std::ptrdiff_t>(y) * img.stride + x];
  return {Channel(px, 16), Channel(px, 8), Channel(px, 0), img.opaque ? 1.0f : Channel(px, 24)};
}

std::array<float, 4> Sample(const ShaderImage& img, float x, float y, bool linear) {
  if (!linear) return Texel(img, PixelIndex(x), PixelIndex(y));
  const float fx = x - 0.5f, fy = y - 0.5f;
  const int x0 = PixelIndex(fx), y0 = PixelIndex(fy);
  const float tx = fx - static_cast<float>(x0), ty = fy - static_cast<float>(y0);
  const auto a = Texel(img, x0, y0), b = Texel(img, x0 + 1, y0), c = Texel(img, x0, y0 + 1),
             d = Texel(img, x0 + 1, y0 + 1);
  std::array<float, 4> out{};
  for (int k = 0; k < 4; ++k)
    out[k] = (a[k] * (1 - tx) + b[k] * tx) * (1 - ty) + (c[k] * (1 - tx) + d[k] * tx) * ty;
  return out;
}

// Instructions whose answer is one number, written to every channel of the
// destination.
bool IsReduction(std::uint8_t code) {
  return code == kLength || code == kDistance || code == kDot || code == kVectorEqual || code == kVectorNotEqual ||
         code == kAny || code == kAll;
}

// One channel of a two-operand instruction: `a` the destination's value,
// `b` the source's.
float Elementwise(std::uint8_t code, float a, float b) {
  switch (code) {
    case kAdd: return a + b;
    case kSub: return a - b;
    case kMul: return a * b;
    case kRcp: return 1.0f / b;
    case kDiv: return a / b;
    case kAtan2: return std::atan2(a, b);
    case kPow: return std::pow(a, b);
    case kMod: return a - b * std::floor(a / b);
    case kMin: return std::min(a, b);
    case kMax: return std::max(a, b);
    case kStep: return b < a ? 0.0f : 1.0f;
    case kSin: return std::sin(b);
    case kCos: return std::cos(b);
    case kTan: return std::tan(b);
    case kAsin: return std::asin(b);
    case kAcos: return std::acos(b);
    case kAtan: return std::atan(b);
    case kExp: return std::exp(b);
    case kExp2: return std::exp2(b);
    case kLog: return std::log(b);
    case kLog2: return std::log2(b);
    case kSqrt: return std::sqrt(b);
    case kRsqrt: return 1.0f / std::sqrt(b);
    case kAbs: return std::fabs(b);
    case kSign: return b > 0 ? 1.0f : b < 0 ? -1.0f : 0.0f;
    case kFloor: return std::floor(b);
    case kCeil: return std::ceil(b);
    case kFract: return b - std::floor(b);
    case kMov: case kIntToBool: case kBoolToInt: return b;
    // The current rounding mode: halves go to the even neighbour.
    case kFloatToInt: return std::isfinite(b) ? std::nearbyint(b) : 0.0f;
    case kIntToFloat: return b;
    case kFloatToBool: return b != 0 ? 1.0f : 0.0f;
    case kBoolToFloat: return 0;  // Flash gives 0 whatever the value
    case kEqual: return a == b ? 1.0f : 0.0f;
    case kNotEqual: return a != b ? 1.0f : 0.0f;
    case kLessThan: return a < b ? 1.0f : 0.0f;
    case kLessThanEqual: return a <= b ? 1.0f : 0.0f;
    case kLogicalNot:  // bitwise, as Flash does
      return std::fabs(b) < 2e9f ? static_cast<float>(~static_cast<std::int32_t>(b)) : 0.0f;
    case kLogicalAnd: return (a != 0 && b != 0) ? 1.0f : 0.0f;
    case kLogicalOr: return (a != 0 || b != 0) ? 1.0f : 0.0f;
    case kLogicalXor: return ((a != 0) != (b != 0)) ? 1.0f : 0.0f;
    default: return a;
  }
}

// The one number of a reducing instruction over `n` channels.
float Reduce(std::uint8_t code, const float* d, const float* s, int n) {
  float acc = 0;
  bool all = true, any = false;
  for (int k = 0; k < n; ++k) {
    switch (code) {
      case kLength: acc += s[k] * s[k]; break;
      case kDistance: acc += (d[k] - s[k]) * (d[k] - s[k]); break;
      case kDot: acc += d[k] * s[k]; break;
      case kVectorEqual: case kVectorNotEqual: all = all && d[k] == s[k]; break;
      default: any = any || s[k] != 0; all = all && s[k] != 0; break;
    }
  }
  switch (code) {
    case kLength: case kDistance: return std::sqrt(acc);
    case kDot: return acc;
    case kVectorEqual: case kAll: return all ? 1.0f : 0.0f;
    case kVectorNotEqual: return all ? 0.0f : 1.0f;
    default: return any ? 1.0f : 0.0f;
  }
}

// Register kinds an instruction takes: Flash refuses a kernel that mixes
// float and int registers where the instruction does not convert.
enum class Operands { kSame, kFloat, kInt, kFloatToInt, kIntToFloat };

Operands OperandsOf(std::uint8_t code) {
  switch (code) {
    case kRcp: case kAtan2: case kPow: case kMod: case kStep: case kSin: case kCos: case kTan: case kAsin:
    case kAcos: case kAtan: case kExp: case kExp2: case kLog: case kLog2: case kSqrt: case kRsqrt: case kSign:
    case kFloor: case kCeil: case kFract: case kNormalize: case kLength: case kDistance: case kDot: case kCross:
      return Operands::kFloat;
    case kFloatToInt: case kFloatToBool: return Operands::kFloatToInt;
    case kIntToFloat: case kBoolToFloat: return Operands::kIntToFloat;
    case kIntToBool: case kBoolToInt: case kLogicalNot: case kLogicalAnd: case kLogicalOr: case kLogicalXor:
    case kAny: case kAll:
      return Operands::kInt;
    default: return Operands::kSame;
  }
}

bool OperandsFit(std::uint8_t code, bool dstInt, bool srcInt) {
  switch (OperandsOf(code)) {
    case Operands::kSame: return dstInt == srcInt;
    case Operands::kFloat: return !dstInt && !srcInt;
    case Operands::kInt: return dstInt && srcInt;
    case Operands::kFloatToInt: return dstInt && !srcInt;
    case Operands::kIntToFloat: return !dstInt && srcInt;
  }
  return false;
}

}  // namespace

std::size_t ShaderParameter::ValueCount() const { return ValueCountOf(type); }

const char* ShaderTypeName(int type) {
  static const char* const kTypes[] = {"",     "float",     "float2",    "float3",    "float4", "matrix2x2",
                                       "matrix3x3", "matrix4x4", "int",  "int2",      "int3",   "int4",
                                       "string", "bool",      "bool2",     "bool3",     "bool4"};
  return type > 0 && type <= 16 ? kTypes[type] : "";
}

const ShaderParameter* PixelShader::Output() const {
  for (const ShaderParameter& p : params_)
    if (p.output) return &p;
  return nullptr;
}

int PixelShader::OutputChannels() const {
  const ShaderParameter* out = Output();
  return out ? std::max<int>(1, DstReg(out->reg, out->mask & 0xF).count) : 0;
}

std::shared_ptr<const PixelShader> PixelShader::Parse(std::span<const std::uint8_t> bytes) {
  auto shader = std::make_shared<PixelShader>();
  Reader r(bytes);
  std::vector<std::size_t> openIfs;
  auto track = [&](const Reg& reg, int extra = 0) {
    if (reg.index + extra >= kMaxRegister) r.Fail("register " + std::to_string(reg.index) + " out of range");
    auto& n = reg.isInt ? shader->intRegs_ : shader->floatRegs_;
    n = std::max<std::size_t>(n, reg.index + static_cast<std::size_t>(extra) + 1);
  };
  bool afterParam = false;
  while (!r.AtEnd()) {
    const std::size_t at = r.Pos();
    const std::uint8_t code = r.U8();
    if (code != kMeta1 && code != kMeta2 && code != kParam) afterParam = false;
    Op op;
    op.code = code;
    switch (code) {
      case kVersion:
        r.I32();
        continue;
      case kName:
        shader->name_.clear();
        for (std::uint16_t n = r.U16(); n > 0; --n) shader->name_ += static_cast<char>(r.U8());
        continue;
      case kMeta1:
      case kMeta2: {
        ShaderMeta meta = ReadMeta(r);
        // Metadata right after a parameter describes it; before any, the kernel.
        if (!afterParam) {
          shader->meta_.push_back(std::move(meta));
          continue;
        }
        ShaderParameter& p = shader->params_.back();
        if (meta.key == "defaultValue" && meta.values.size() == p.ValueCount()) p.defaultValue = meta.values;
        p.meta.push_back(std::move(meta));
        continue;
      }
      case kParam: {
        ShaderParameter p;
        p.output = r.U8() == 2;
        p.type = r.U8();
        p.reg = r.U16();
        p.mask = r.U8();
        p.name = r.CString();
        if (ValueCountOf(p.type) == 0 && p.type != 12) r.Fail("parameter " + p.name + " of unknown type");
        if (p.type >= 5 && p.type <= 7) {
          if (p.reg & 0x8000) r.Fail("matrix parameter " + p.name + " in int registers");
          track(DstReg(p.reg, 0xF), p.type - 4);
        }
        else track(DstReg(p.reg, p.mask & 0xF));
        p.defaultValue.assign(ValueCountOf(p.type), 0.0f);
        shader->params_.push_back(std::move(p));
        afterParam = true;
        continue;
      }
      case kTexture: {
        ShaderInput in;
        in.index = r.U8();
        in.channels = r.U8();
        in.name = r.CString();
        shader->inputs_.push_back(std::move(in));
        continue;
      }
      case kNop:
        r.Skip(7);
        continue;
      case kIf:
        r.Skip(3);
        op.cond = SrcReg(r.U24(), 1);
        r.Skip(1);
        if (!op.cond.isInt) throw ShaderError("if on a float register", at);
        track(op.cond);
        openIfs.push_back(shader->ops_.size());
        break;
      case kElse:
      case kEndIf:
        r.Skip(7);
        if (openIfs.empty()) throw ShaderError("else or end of if without an if", at);
        if (code == kElse) {
          shader->ops_[openIfs.back()].jump = shader->ops_.size() + 1;
          openIfs.back() = shader->ops_.size();
        } else {
          shader->ops_[openIfs.back()].jump = shader->ops_.size() + 1;
          openIfs.pop_back();
        }
        break;
      case kLoad: {
        const std::uint16_t dst = r.U16();
        const std::uint8_t mask = r.U8();
        op.dst = DstReg(dst, mask >> 4);
        if (op.dst.isInt) op.i = r.I32();
        else op.f = r.FloatBig();
        track(op.dst);
        break;
      }
      case kSampleNearest:
      case kSampleLinear: {
        const std::uint16_t dst = r.U16();
        const std::uint8_t mask = r.U8();
        op.dst = DstReg(dst, mask >> 4);
        op.src = SrcReg(r.U24(), 2);
        op.texture = r.U8();
        if (op.dst.isInt || op.src.isInt) throw ShaderError("sampling with int registers", at);
        track(op.dst);
        track(op.src);
        break;
      }
      case kSelect: {
        const std::uint16_t dst = r.U16();
        const std::uint8_t mask = r.U8();
        op.dst = DstReg(dst, mask >> 4);
        op.cond = SrcReg(r.U24(), 1);
        r.Skip(1);
        op.src = SrcReg(r.U24(), op.dst.count);
        r.Skip(1);
        op.src2 = SrcReg(r.U24(), op.dst.count);
        r.Skip(1);
        if (!op.cond.isInt || op.src.isInt != op.dst.isInt || op.src2.isInt != op.dst.isInt)
          throw ShaderError("select of mixed register kinds", at);
        for (const Reg* reg : {&op.dst, &op.cond, &op.src, &op.src2}) track(*reg);
        break;
      }
      default: {
        if (code > kAll) throw ShaderError("unknown instruction " + std::to_string(code), at);
        const std::uint16_t dst = r.U16();
        const std::uint8_t mask = r.U8();
        const std::uint32_t src = r.U24();
        r.Skip(1);
        const bool byMatrix = code == kMatMatMul || code == kVecMatMul || code == kMatVecMul;
        if (const int matrix = (mask >> 2) & 3) {
          // A matrix operand: `matrix` + 1 columns from the source register
          // on; the destination is a matrix too when it has no channels.
          if ((mask & 3) != 0 || (src >> 16) != 0) throw ShaderError("a matrix operand with a swizzle", at);
          op.src = DstReg(static_cast<std::uint16_t>(src), 0xF);
          op.src.matrix = static_cast<std::uint8_t>(matrix + 1);
          op.dst = DstReg(dst, mask >> 4);
          if (op.dst.count == 0) {
            op.dst = DstReg(dst, 0xF);
            op.dst.matrix = op.src.matrix;
          }
          const bool vectorResult = code == kVecMatMul || code == kMatVecMul;
          if (vectorResult == (op.dst.matrix != 0) || op.src.isInt || op.dst.isInt ||
              (!byMatrix && OperandsOf(code) != Operands::kSame && OperandsOf(code) != Operands::kFloat) ||
              IsReduction(code) || code == kNormalize || code == kCross || code >= kEqual)
            throw ShaderError("instruction " + std::to_string(code) + " on a matrix", at);
          if (vectorResult && op.dst.count != op.src.matrix)
            throw ShaderError("a vector and a matrix of different sizes", at);
          track(op.src, op.src.matrix - 1);
          track(op.dst, op.dst.matrix ? op.dst.matrix - 1 : 0);
          break;
        }
        if (byMatrix) throw ShaderError("matrix instruction without a matrix", at);
        op.dst = DstReg(dst, mask >> 4);
        op.src = SrcReg(src, (mask & 3) + 1);
        if (!OperandsFit(code, op.dst.isInt, op.src.isInt))
          throw ShaderError("instruction " + std::to_string(code) + " on the wrong register kinds", at);
        if (code == kCross && (op.dst.count != 3 || op.src.count != 3))
          throw ShaderError("cross of other than three channels", at);
        track(op.dst);
        track(op.src);
        if (code >= kEqual && code <= kLessThanEqual) track(DstReg(0x8000, 8));
        break;
      }
    }
    shader->ops_.push_back(op);
  }
  if (!openIfs.empty()) throw ShaderError("an if without its end", bytes.size());
  const bool hasOutput =
      std::any_of(shader->params_.begin(), shader->params_.end(), [](const ShaderParameter& p) { return p.output; });
  if (!hasOutput) throw ShaderError("no output parameter", bytes.size());
  return shader;
}

namespace {
// Premultiplied ARGB32 pixels from the output channels, clamped.
class PixelSink : public ShaderSink {
 public:
  PixelSink(std::uint32_t* out, std::ptrdiff_t stride, bool opaque) : out_(out), stride_(stride), opaque_(opaque) {}
  void Put(int x, int y, const float* channels, int count) override {
    float o[4] = {0, 0, 0, 1};
    for (int k = 0; k < count; ++k) o[k] = channels[k];
    if (count == 3) o[3] = 1;
    // Infinities clamp like any large value; NaN is 0.
    const float alpha = opaque_ ? 1.0f : std::clamp(std::isnan(o[3]) ? 0.0f : o[3], 0.0f, 1.0f);
    std::uint32_t px = static_cast<std::uint32_t>(std::lround(alpha * 255)) << 24;
    for (int k = 0; k < 3; ++k) {
      const float v = std::clamp(std::isnan(o[k]) ? 0.0f : o[k], 0.0f, alpha);
      px |= static_cast<std::uint32_t>(std::lround(v * 255)) << (16 - 8 * k);
    }
    out_[static_cast<std::ptrdiff_t>(y) * stride_ + x] = px;
  }

 private:
  std::uint32_t* out_;
  std::ptrdiff_t stride_;
  bool opaque_;
};
}  // namespace

namespace {
// Where element (col, row) of an n x n matrix at `base` lies: a 2x2 packs
// its two columns into one register (x, y then z, w); larger ones take a
// register a column.
float& MatrixAt(Registers& regs, std::size_t base, int n, int col, int row) {
  if (n == 2) return regs.f[base][static_cast<std::size_t>(col * 2 + row)];
  return regs.f[base + static_cast<std::size_t>(col)][static_cast<std::size_t>(row)];
}
// An instruction with a matrix source: n columns of n rows, column after
// column (as matrix parameters are stored).
void RunMatrixOp(const PixelShader::Op& op, Registers& regs) {
  const int n = op.src.matrix;
  auto at = [&regs, n](const PixelShader::Reg& base, int col, int row) -> float& {
    return MatrixAt(regs, base.index, n, col, row);
  };
  float res[4][4] = {};
  if (op.code == kVecMatMul || op.code == kMatVecMul) {
    float v[4] = {0, 0, 0, 0};
    regs.Read(op.dst, v, n);
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < n; ++k)
        res[0][i] += op.code == kVecMatMul ? v[k] * at(op.src, i, k) : at(op.src, k, i) * v[k];
    regs.Write(op.dst, res[0]);
    return;
  }
  for (int col = 0; col < n; ++col)
    for (int row = 0; row < n; ++row) {
      if (op.code == kMatMatMul) {
        for (int k = 0; k < n; ++k) res[col][row] += at(op.dst, k, row) * at(op.src, col, k);
      } else {
        res[col][row] = Elementwise(op.code, at(op.dst, col, row), at(op.src, col, row));
      }
    }
  for (int col = 0; col < n; ++col)
    for (int row = 0; row < n; ++row) at(op.dst, col, row) = res[col][row];
}
}  // namespace

void PixelShader::Run(const std::vector<ShaderImage>& inputs, const std::vector<std::vector<float>>& values, int w,
                      int h, std::uint32_t* out, std::ptrdiff_t outStride, bool outOpaque) const {
  PixelSink sink(out, outStride, outOpaque);
  Run(inputs, values, w, h, sink);
}

void PixelShader::Run(const std::vector<ShaderImage>& inputs, const std::vector<std::vector<float>>& values, int w,
                      int h, ShaderSink& sink) const {
  Registers regs;
  regs.f.assign(floatRegs_, {0, 0, 0, 0});
  regs.i.assign(intRegs_, {0, 0, 0, 0});
  const ShaderParameter* output = nullptr;
  const ShaderParameter* coord = nullptr;
  for (std::size_t k = 0; k < params_.size(); ++k) {
    const ShaderParameter& p = params_[k];
    if (p.output) {
      output = &p;
      continue;
    }
    if (p.name == "_OutCoord") {
      coord = &p;
      continue;
    }
    const std::vector<float>& v = k < values.size() && values[k].size() == p.ValueCount() ? values[k] : p.defaultValue;
    if (p.type >= 5 && p.type <= 7) {
      const int n = p.type - 3;  // 2, 3 or 4 columns of n rows
      for (int col = 0; col < n; ++col)
        for (int row = 0; row < n; ++row)
          MatrixAt(regs, p.reg & 0x7FFF, n, col, row) = v[static_cast<std::size_t>(col * n + row)];
      continue;
    }
    Reg reg = DstReg(p.reg, p.mask & 0xF);
    float in[4] = {0, 0, 0, 0};
    for (std::size_t c = 0; c < std::min<std::size_t>(4, v.size()); ++c) in[c] = v[c];
    regs.Write(reg, in);
  }
  // Each pixel starts from the parameters' values; temporaries carry over,
  // as kernels write them before reading.
  std::vector<std::pair<Reg, std::array<float, 4>>> start;
  for (const ShaderParameter& p : params_) {
    if (p.output || &p == coord) continue;
    const int regsUsed = p.type >= 6 && p.type <= 7 ? p.type - 3 : 1;
    for (int k = 0; k < regsUsed; ++k) {
      Reg reg = DstReg(static_cast<std::uint16_t>(p.reg + k), 0xF);
      start.emplace_back(reg, regs.At(reg));
    }
  }
  const Reg outReg = output ? DstReg(output->reg, output->mask & 0xF) : Reg{};
  const Reg coordReg = coord ? DstReg(coord->reg, coord->mask & 0xF) : Reg{};
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      for (const auto& [reg, v] : start) regs.At(reg) = v;
      if (coord) {
        const float c[4] = {static_cast<float>(x) + 0.5f, static_cast<float>(y) + 0.5f, 0, 0};
        regs.Write(coordReg, c);
      }
      for (std::size_t pc = 0; pc < ops_.size();) {
        const Op& op = ops_[pc];
        ++pc;
        switch (op.code) {
          case kIf: {
            float c = 0;
            regs.Read(op.cond, &c, 1);
            if (c == 0) pc = op.jump;
            continue;
          }
          case kElse:
            pc = op.jump;
            continue;
          case kEndIf:
            continue;
          case kLoad: {
            const float v = op.dst.isInt ? static_cast<float>(op.i) : op.f;
            const float in[4] = {v, v, v, v};
            regs.Write(op.dst, in);
            continue;
          }
          case kSampleNearest:
          case kSampleLinear: {
            float c[2];
            regs.Read(op.src, c, 2);
            const ShaderImage none;
            const ShaderImage& img = op.texture < inputs.size() ? inputs[op.texture] : none;
            const auto s = Sample(img, c[0], c[1], op.code == kSampleLinear);
            regs.Write(op.dst, s.data());
            continue;
          }
          case kSelect: {
            float c = 0, a[4], b[4];
            regs.Read(op.cond, &c, 1);
            regs.Read(op.src, a, op.dst.count);
            regs.Read(op.src2, b, op.dst.count);
            regs.Write(op.dst, c == 1 ? a : b);  // a true bool is 1; other values choose the second
            continue;
          }
          default:
            break;
        }
        if (op.src.matrix) {
          RunMatrixOp(op, regs);
          continue;
        }
        const int n = op.dst.count;
        float d[4] = {0, 0, 0, 0}, s[4] = {0, 0, 0, 0}, res[4] = {0, 0, 0, 0};
        const int sn = std::max<int>(op.src.count, 1);
        regs.Read(op.src, s, IsReduction(op.code) ? sn : n);
        regs.Read(op.dst, d, IsReduction(op.code) ? sn : n);
        if (IsReduction(op.code)) {
          std::fill(res, res + 4, Reduce(op.code, d, s, sn));
          regs.Write(op.dst, res);
          continue;
        }
        if (op.code == kCross) {
          res[0] = d[1] * s[2] - d[2] * s[1];
          res[1] = d[2] * s[0] - d[0] * s[2];
          res[2] = d[0] * s[1] - d[1] * s[0];
          regs.Write(op.dst, res);
          continue;
        }
        if (op.code == kNormalize) {
          float len = 0;
          for (int k = 0; k < n; ++k) len += s[k] * s[k];
          len = std::sqrt(len);
          for (int k = 0; k < n; ++k) res[k] = len > 0 ? s[k] / len : 0;
          regs.Write(op.dst, res);
          continue;
        }
        Reg dst = op.dst;
        for (int k = 0; k < n; ++k) {
          const float a = d[k], b = s[k];
          const float v = Elementwise(op.code, a, b);
          res[k] = v;
        }
        // Comparisons leave their answer in the first int register.
        if (op.code >= kEqual && op.code <= kLessThanEqual) dst = DstReg(0x8000, 8);
        regs.Write(dst, res);
      }
      float o[4] = {0, 0, 0, 1};
      if (output) regs.Read(outReg, o, outReg.count);
      sink.Put(x, y, o, output ? std::max<int>(1, outReg.count) : 4);
    }
  }
}

}  // namespace quarvel::player
