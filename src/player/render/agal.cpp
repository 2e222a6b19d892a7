#include "player/render/agal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarvel::player::agal {
namespace {

enum : std::uint32_t {
  kMov = 0x00, kAdd, kSub, kMul, kDiv, kRcp, kMin, kMax, kFrc, kSqt, kRsq, kPow, kLog, kExp, kNrm, kSin,
  kCos = 0x10, kCrs, kDp3, kDp4, kAbs, kNeg, kSat, kM33, kM44, kM34, kDdx, kDdy, kIfe, kIne, kIfg, kIfl,
  kEls = 0x20, kEif = 0x21, kKil = 0x27, kTex = 0x28, kSge = 0x29, kSlt = 0x2A, kSgn = 0x2B, kSeq = 0x2C, kSne = 0x2D,
};

std::uint64_t U64(std::span<const std::uint8_t> b, std::size_t at) {
  std::uint64_t v = 0;
  for (int k = 7; k >= 0; --k) v = (v << 8) | b[at + static_cast<std::size_t>(k)];
  return v;
}

Operand Source(std::uint64_t v) {
  Operand o;
  o.index = static_cast<std::uint16_t>(v & 0xFFFF);
  o.offset = static_cast<std::int8_t>((v >> 16) & 0xFF);
  o.swizzle = static_cast<std::uint8_t>((v >> 24) & 0xFF);
  o.type = static_cast<std::uint8_t>((v >> 32) & 0xF);
  o.indexType = static_cast<std::uint8_t>((v >> 40) & 0xF);
  o.indexSelect = static_cast<std::uint8_t>((v >> 48) & 0x3);
  o.indirect = (v >> 63) != 0;
  return o;
}

Operand Sampler(std::uint64_t v) {
  Operand o;
  o.index = static_cast<std::uint16_t>(v & 0xFFFF);
  o.type = static_cast<std::uint8_t>((v >> 32) & 0xF);
  o.dimension = static_cast<std::uint8_t>((v >> 44) & 0xF);
  o.wrap = static_cast<std::uint8_t>((v >> 52) & 0xF);
  o.filter = static_cast<std::uint8_t>((v >> 60) & 0xF);
  return o;
}

using Vec = std::array<float, 4>;

// Channel bytes as the programs read them: i / 255.
const std::array<float, 256> kUnit = [] {
  std::array<float, 256> t{};
  for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<float>(i) / 255.0f;
  return t;
}();

Vec Texel(const TextureView& t, int x, int y, int wrap, int face) {
  const int faceH = t.cube ? t.width : t.height;
  if (wrap == 1) {
    x = ((x % t.width) + t.width) % t.width;
    y = ((y % faceH) + faceH) % faceH;
  }
  x = std::clamp(x, 0, t.width - 1);
  y = std::clamp(y, 0, faceH - 1) + face * faceH;
  const std::uint32_t px = t.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) + static_cast<std::size_t>(x)];
  // Programs read the channels as uploaded: a BitmapData's are premultiplied.
  return {kUnit[(px >> 16) & 255], kUnit[(px >> 8) & 255], kUnit[px & 255], kUnit[px >> 24]};
}

Vec Sample(const TextureView* t, int filter, int wrap, const Vec& uv) {
  if (!t || !t->pixels || t->width <= 0 || t->height <= 0) return {0, 0, 0, 0};
  float u = uv[0], v = uv[1];
  int face = 0;
  if (t->cube) {
    // The major axis picks the face (+x, -x, +y, -y, +z, -z).
    const float ax = std::fabs(uv[0]), ay = std::fabs(uv[1]), az = std::fabs(uv[2]);
    float sc, tc, ma;
    if (ax >= ay && ax >= az) { face = uv[0] >= 0 ? 0 : 1; ma = ax; sc = uv[0] >= 0 ? -uv[2] : uv[2]; tc = -uv[1]; }
    else if (ay >= az) { face = uv[1] >= 0 ? 2 : 3; ma = ay; sc = uv[0]; tc = uv[1] >= 0 ? uv[2] : -uv[2]; }
    else { face = uv[2] >= 0 ? 4 : 5; ma = az; sc = uv[2] >= 0 ? uv[0] : -uv[0]; tc = -uv[1]; }
    u = ma > 0 ? (sc / ma + 1) / 2 : 0.5f;
    v = ma > 0 ? (tc / ma + 1) / 2 : 0.5f;
  }
  const int faceH = t->cube ? t->width : t->height;
  const float fx = u * static_cast<float>(t->width), fy = v * static_cast<float>(faceH);
  if (filter == 0 || !std::isfinite(fx) || !std::isfinite(fy)) {
    const float cx = std::isfinite(fx) ? std::clamp(fx, -1e6f, 1e6f) : 0.0f, cy = std::isfinite(fy) ? std::clamp(fy, -1e6f, 1e6f) : 0.0f;
    return Texel(*t, static_cast<int>(std::floor(cx)), static_cast<int>(std::floor(cy)), wrap, face);
  }
  const float gx = std::clamp(fx, -1e6f, 1e6f) - 0.5f, gy = std::clamp(fy, -1e6f, 1e6f) - 0.5f;
  const int x0 = static_cast<int>(std::floor(gx)), y0 = static_cast<int>(std::floor(gy));
  const float tx = gx - static_cast<float>(x0), ty = gy - static_cast<float>(y0);
  Vec a, b, c, d;
  if (x0 >= 0 && y0 >= 0 && x0 + 1 < t->width && y0 + 1 < faceH) {
    // All four inside: no wrapping or clamping to do.
    const std::uint32_t* row = t->pixels + (static_cast<std::size_t>(y0 + face * faceH) * static_cast<std::size_t>(t->width) +
                                            static_cast<std::size_t>(x0));
    const std::uint32_t* next = row + t->width;
    auto unit = [](std::uint32_t px) { return Vec{kUnit[(px >> 16) & 255], kUnit[(px >> 8) & 255], kUnit[px & 255], kUnit[px >> 24]}; };
    a = unit(row[0]), b = unit(row[1]), c = unit(next[0]), d = unit(next[1]);
  } else {
    a = Texel(*t, x0, y0, wrap, face), b = Texel(*t, x0 + 1, y0, wrap, face);
    c = Texel(*t, x0, y0 + 1, wrap, face), d = Texel(*t, x0 + 1, y0 + 1, wrap, face);
  }
  Vec out;
  for (std::size_t k = 0; k < 4; ++k) out[k] = (a[k] * (1 - tx) + b[k] * tx) * (1 - ty) + (c[k] * (1 - tx) + d[k] * tx) * ty;
  return out;
}

// The arithmetic of every writing opcode but tex and the matrices, shared by
// both ways of running so they agree bit for bit. False: no result.
inline bool Compute(std::uint32_t op, const Vec& a, const Vec& b, Vec& r) {
  auto each = [&](auto f) {
    for (std::size_t k = 0; k < 4; ++k) r[k] = f(a[k], b[k]);
  };
  switch (op) {
    case kMov: r = a; break;
    case kAdd: each([](float x, float y) { return x + y; }); break;
    case kSub: each([](float x, float y) { return x - y; }); break;
    case kMul: each([](float x, float y) { return x * y; }); break;
    case kDiv: each([](float x, float y) { return x / y; }); break;
    case kRcp: each([](float x, float) { return 1.0f / x; }); break;
    case kMin: each([](float x, float y) { return std::min(x, y); }); break;
    case kMax: each([](float x, float y) { return std::max(x, y); }); break;
    case kFrc: each([](float x, float) { return x - std::floor(x); }); break;
    case kSqt: each([](float x, float) { return std::sqrt(x); }); break;
    case kRsq: each([](float x, float) { return 1.0f / std::sqrt(x); }); break;
    case kPow: each([](float x, float y) { return std::pow(x, y); }); break;
    case kLog: each([](float x, float) { return std::log2(x); }); break;
    case kExp: each([](float x, float) { return std::exp2(x); }); break;
    case kNrm: {
      const float len = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
      r = {0, 0, 0, 0};
      for (std::size_t k = 0; k < 3; ++k) r[k] = len > 0 ? a[k] / len : 0;
      break;
    }
    case kSin: each([](float x, float) { return std::sin(x); }); break;
    case kCos: each([](float x, float) { return std::cos(x); }); break;
    case kCrs: r = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0], 0}; break;
    case kDp3: r.fill(a[0] * b[0] + a[1] * b[1] + a[2] * b[2]); break;
    case kDp4: r.fill(a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3]); break;
    case kAbs: each([](float x, float) { return std::fabs(x); }); break;
    case kNeg: each([](float x, float) { return -x; }); break;
    case kSat: each([](float x, float) { return std::clamp(x, 0.0f, 1.0f); }); break;
    case kSge: each([](float x, float y) { return x >= y ? 1.0f : 0.0f; }); break;
    case kSlt: each([](float x, float y) { return x < y ? 1.0f : 0.0f; }); break;
    case kSeq: each([](float x, float y) { return x == y ? 1.0f : 0.0f; }); break;
    case kSne: each([](float x, float y) { return x != y ? 1.0f : 0.0f; }); break;
    case kSgn: each([](float x, float) { return x > 0 ? 1.0f : x < 0 ? -1.0f : 0.0f; }); break;
    default: return false;  // derivatives and branches (extended profiles) leave the destination
  }
  return true;
}

// Registers of one run, read instruction by instruction from the decoded
// operands: the plain reading, for programs with indirect reads and as the
// measure the steps are tested against.
struct Machine {
  std::span<const float> constants;
  std::array<Vec, 8> in{}, temp{}, varying{};
  Vec out{0, 0, 0, 1};
  std::array<const TextureView*, 8> textures{};
  bool killed = false;

  Vec& Reg(const Operand& o) {
    switch (o.type) {
      case 0: return in[o.index & 7];
      case 2: return temp[o.index & 7];
      case 4: return varying[o.index & 7];
      default: return out;
    }
  }
  Vec Read(const Operand& o) {
    Vec raw{0, 0, 0, 0};
    if (o.type == 1) {
      std::size_t reg = o.index;
      if (o.indirect) {
        // vc[va0.x + offset]: the index register's chosen component.
        Operand ix;
        ix.type = o.indexType;
        ix.index = o.index;
        const float at = Reg(ix)[o.indexSelect] + static_cast<float>(o.offset);
        reg = std::isfinite(at) && at >= 0 && at < 4096 ? static_cast<std::size_t>(at) : 4096;
      }
      if (reg * 4 + 4 <= constants.size()) std::copy_n(constants.begin() + static_cast<std::ptrdiff_t>(reg * 4), 4, raw.begin());
    } else {
      raw = Reg(o);
    }
    Vec v;
    for (int k = 0; k < 4; ++k) v[static_cast<std::size_t>(k)] = raw[(o.swizzle >> (2 * k)) & 3];
    return v;
  }
  Vec Row(const Operand& o, int k) {
    Operand r = o;
    r.index = static_cast<std::uint16_t>(o.index + k);
    r.swizzle = 0xE4;
    return Read(r);
  }
  void Write(const Operand& o, const Vec& v) {
    Vec& d = Reg(o);
    for (int k = 0; k < 4; ++k)
      if (o.mask & (1 << k)) d[static_cast<std::size_t>(k)] = v[static_cast<std::size_t>(k)];
  }
  void Run(const Program& p);
};

void Machine::Run(const Program& p) {
  for (const Instruction& i : p.code) {
    if (i.op == kKil) {
      if (Read(i.a)[0] < 0) killed = true;
      continue;
    }
    if (i.op == kTex) {
      Write(i.dst, Sample(textures[i.b.index & 7], i.b.filter, i.b.wrap, Read(i.a)));
      continue;
    }
    const Vec a = Read(i.a);
    if (i.op == kM33 || i.op == kM44 || i.op == kM34) {
      Vec r{0, 0, 0, 0};
      const int rows = i.op == kM44 ? 4 : 3, width = i.op == kM33 ? 3 : 4;
      for (int k = 0; k < rows; ++k) {
        const Vec row = Row(i.b, k);
        float s = 0;
        for (int c = 0; c < width; ++c) s += a[static_cast<std::size_t>(c)] * row[static_cast<std::size_t>(c)];
        r[static_cast<std::size_t>(k)] = s;
      }
      Write(i.dst, r);
      continue;
    }
    const Vec b = i.b.type == 5 ? Vec{} : Read(i.b);
    Vec r{0, 0, 0, 0};
    if (Compute(i.op, a, b, r)) Write(i.dst, r);
  }
}

// The flat register file the steps run on: attributes (or a fragment
// program's unused inputs), temporaries, varyings, the output, a register
// of zeros, then the constants.
enum : std::uint32_t { kSlotIn = 0, kSlotTemp = 8, kSlotVarying = 16, kSlotOut = 24, kSlotZero = 25, kSlotConst = 26 };

std::uint32_t SlotOf(const Operand& o, int plus = 0) {
  switch (o.type) {
    case 0: return kSlotIn + ((o.index + plus) & 7);
    case 1: return kSlotConst + o.index + static_cast<std::uint32_t>(plus);
    case 2: return kSlotTemp + ((o.index + plus) & 7);
    case 4: return kSlotVarying + ((o.index + plus) & 7);
    default: return kSlotOut;
  }
}
// Where a destination writes: as Machine::Reg, anything else is the output.
std::uint32_t DestinationOf(const Operand& o) { return o.type == 1 ? kSlotOut : SlotOf(o); }

inline Vec Swizzled(const Vec& v, std::uint8_t s) { return {v[s & 3], v[(s >> 2) & 3], v[(s >> 4) & 3], v[(s >> 6) & 3]}; }

// Runs the steps on a register file; true when kil discarded the pixel.
bool RunSteps(const Program& p, Vec* R, const std::array<const TextureView*, 8>& textures) {
  bool killed = false;
  for (const Step& s : p.steps) {
    const Vec a = Swizzled(R[s.a], s.swizzleA);
    Vec r{0, 0, 0, 0};
    switch (s.op) {
      case kKil:
        if (a[0] < 0) killed = true;
        continue;
      case kTex: r = Sample(textures[s.sampler], s.filter, s.wrap, a); break;
      case kM33: case kM34: case kM44: {
        const int rows = s.op == kM44 ? 4 : 3, width = s.op == kM33 ? 3 : 4;
        for (int k = 0; k < rows; ++k) {
          const Vec& row = R[s.rows[static_cast<std::size_t>(k)]];
          float sum = 0;
          for (int c = 0; c < width; ++c) sum += a[static_cast<std::size_t>(c)] * row[static_cast<std::size_t>(c)];
          r[static_cast<std::size_t>(k)] = sum;
        }
        break;
      }
      default:
        if (!Compute(s.op, a, Swizzled(R[s.b], s.swizzleB), r)) continue;
    }
    Vec& d = R[s.dst];
    if (s.mask == 0xF) {
      d = r;
    } else {
      for (std::size_t k = 0; k < 4; ++k)
        if (s.mask & (1u << k)) d[k] = r[k];
    }
  }
  return killed;
}

// One program ready to run many times in a draw: its register file with the
// constants loaded, or the plain machine for programs with indirect reads.
struct Runner {
  const Program& program;
  std::vector<Vec> file;
  Machine plain;
  std::array<const TextureView*, 8> textures{};
  Vec* in;
  Vec* temp;
  Vec* varying;
  Vec* out;

  Runner(const Program& p, std::span<const float> constants) : program(p) {
    if (p.indirect) {
      plain.constants = constants;
      in = plain.in.data(), temp = plain.temp.data(), varying = plain.varying.data(), out = &plain.out;
      return;
    }
    file.assign(kSlotConst + p.constantRegisters, Vec{0, 0, 0, 0});
    // A constant past the ones given reads as zeros, as in the plain reading.
    const std::size_t given = std::min<std::size_t>(constants.size() / 4, p.constantRegisters);
    for (std::size_t r = 0; r < given; ++r) std::copy_n(constants.begin() + static_cast<std::ptrdiff_t>(r * 4), 4, file[kSlotConst + r].begin());
    in = &file[kSlotIn], temp = &file[kSlotTemp], varying = &file[kSlotVarying], out = &file[kSlotOut];
  }
  void SetTextures(const std::array<const TextureView*, 8>& t) {
    textures = t;
    plain.textures = t;
  }
  // Clears what one run must start without: the temporaries it names and
  // the output; a vertex program's varyings too.
  void Reset(bool varyingsToo) {
    if (program.indirect) {
      plain.temp = {};
      if (varyingsToo) plain.varying = {};
    } else {
      for (std::size_t r = 0; r < 8; ++r)
        if (program.temporaries & (1u << r)) temp[r] = {0, 0, 0, 0};
      if (varyingsToo) std::fill(varying, varying + 8, Vec{0, 0, 0, 0});
    }
    *out = {0, 0, 0, 1};
  }
  // True when the run was discarded by kil.
  bool Run() {
    if (!program.indirect) return RunSteps(program, file.data(), textures);
    plain.killed = false;
    plain.Run(program);
    return plain.killed;
  }
};

float Factor(Blend f, const Vec& s, const Vec& d, std::size_t k) {
  switch (f) {
    case Blend::kZero: return 0;
    case Blend::kOne: return 1;
    case Blend::kSrcAlpha: return s[3];
    case Blend::kSrcColor: return s[k];
    case Blend::kDstAlpha: return d[3];
    case Blend::kDstColor: return d[k];
    case Blend::kOneMinusSrcAlpha: return 1 - s[3];
    case Blend::kOneMinusSrcColor: return 1 - s[k];
    case Blend::kOneMinusDstAlpha: return 1 - d[3];
    case Blend::kOneMinusDstColor: return 1 - d[k];
  }
  return 0;
}

bool Passes(Compare c, float z, float stored) {
  switch (c) {
    case Compare::kAlways: return true;
    case Compare::kNever: return false;
    case Compare::kLess: return z < stored;
    case Compare::kLessEqual: return z <= stored;
    case Compare::kEqual: return z == stored;
    case Compare::kGreater: return z > stored;
    case Compare::kGreaterEqual: return z >= stored;
    case Compare::kNotEqual: return z != stored;
  }
  return true;
}

struct Vertex {
  Vec pos;                       // clip space
  std::array<Vec, 8> varying{};  // what the vertex program wrote
  float sx = 0, sy = 0, sz = 0, invW = 0;
};

Vec Attribute(const Stream& s, std::size_t v) {
  Vec out{0, 0, 0, 1};
  const std::size_t at = v * static_cast<std::size_t>(s.perVertex) + static_cast<std::size_t>(s.offset);
  if (s.bytes4) {
    const auto bits = std::bit_cast<std::uint32_t>(s.data[at]);
    for (std::size_t k = 0; k < 4; ++k) out[k] = static_cast<float>((bits >> (8 * k)) & 255) / 255.0f;
    return out;
  }
  for (int k = 0; k < s.components; ++k) out[static_cast<std::size_t>(k)] = s.data[at + static_cast<std::size_t>(k)];
  return out;
}

}  // namespace

std::optional<Fault> Validate(std::span<const std::uint8_t> b, bool fragment) {
  const std::string kind = fragment ? "fragment" : "vertex";
  const std::string failed = "AGAL validation failed: ";
  if (b.empty()) return Fault{3615, true, failed + "Program size below minimum length for  program."};
  if (b.size() < 7 || b[0] != 0xA0) return Fault{3612, true, "Programs must be in little endian format."};
  if (b.size() < 7 + 24) return Fault{3615, false, failed + "Program size below minimum length for " + kind + " program."};
  // Samplers named by tex: a second use must repeat the first's settings.
  std::array<std::optional<std::uint64_t>, 16> samplers{};
  for (std::size_t at = 7, token = 1; at + 24 <= b.size(); at += 24, ++token) {
    const std::string where = " at token " + std::to_string(token) + " of " + kind + " program.";
    const std::uint32_t op = static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
                             static_cast<std::uint32_t>(b[at + 3]) << 24;
    if (op > kSne)
      return Fault{3620, false, failed + "Invalid opcode, value out of range: " + std::to_string(op) + where};
    // The destination (kil and the conditionals have none).
    if (op != kKil && !(op >= kIfe && op <= kEif)) {
      switch (b[at + 7] & 0xF) {
        case 0: return Fault{3651, false, failed + "Attribute registers can not be written to for destination operand" + where};
        case 1: return Fault{3652, false, failed + "Constant registers can not be written to for destination operand" + where};
        case 5: return Fault{3649, false, failed + "Sampler registers can not be written to for destination operand" + where};
        case 6: return Fault{3749, false, failed + "Depth output register index out of bounds for destination operand" + where};
        default: break;
      }
    }
    const bool twoSources = (op >= kAdd && op <= kDiv) || op == kMin || op == kMax || op == kPow ||
                            (op >= kCrs && op <= kDp4) || (op >= kM33 && op <= kM34) || (op >= kIfe && op <= kIfl) ||
                            op == kTex || op == kSge || op == kSlt || op == kSeq || op == kSne;
    const int sources = op == kEls || op == kEif ? 0 : twoSources ? 2 : 1;
    for (int n = 1; n <= sources; ++n) {
      const std::uint64_t v = U64(b, at + 8 + static_cast<std::size_t>(n - 1) * 8);
      const int type = static_cast<int>((v >> 32) & 0xF);
      const std::string operand = " for source operand " + std::to_string(n) + where;
      if (op == kTex && n == 2) {
        const std::size_t index = v & 0xFFFF;
        const std::uint64_t settings = v >> 16;
        if (index >= samplers.size()) continue;
        if (samplers[index] && *samplers[index] != settings)
          return Fault{3696, false, failed + "Second use of sampler register needs to specify the exact same properties. At token " +
                                       std::to_string(token) + " of " + kind + " program."};
        samplers[index] = settings;
        continue;
      }
      if (type == 3) return Fault{3646, false, failed + "Can not read from output register" + operand};
      if (type == 5)
        return Fault{3638, false, failed + "Sampler register only allowed as second operand in texture instructions" + operand};
      if (type == 6) return Fault{3749, false, failed + "Depth output register index out of bounds" + operand};
      if ((v >> 63) != 0) {
        if (fragment) return Fault{3639, false, failed + "Indirect addressing only allowed in vertex programs" + operand};
        if (type != 1) return Fault{3640, false, failed + "Indirect addressing only allowed into constant registers" + operand};
      }
    }
  }
  return std::nullopt;
}

namespace {
// Resolves each instruction's registers to slots, and notes what a run
// must clear and load.
void Compile(Program& p) {
  auto note = [&](const Operand& o, int plus = 0) {
    if (o.type == 2) p.temporaries |= static_cast<std::uint8_t>(1u << ((o.index + plus) & 7));
    if (o.type == 4) p.varyings |= static_cast<std::uint8_t>(1u << ((o.index + plus) & 7));
    if (o.type == 1) p.constantRegisters = std::max<std::uint32_t>(p.constantRegisters, o.index + static_cast<std::uint32_t>(plus) + 1);
    if (o.indirect) p.indirect = true;
  };
  for (const Instruction& i : p.code) {
    Step s;
    s.op = static_cast<std::uint8_t>(i.op);
    s.mask = i.dst.mask;
    s.dst = DestinationOf(i.dst);
    s.a = SlotOf(i.a);
    s.swizzleA = i.a.swizzle;
    if (i.op != kKil) note(i.dst);
    note(i.a);
    if (i.op == kTex) {
      s.sampler = static_cast<std::uint8_t>(i.b.index & 7);
      s.wrap = i.b.wrap;
      s.filter = i.b.filter;
    } else if (i.op == kM33 || i.op == kM34 || i.op == kM44) {
      for (int k = 0; k < 4; ++k) {
        s.rows[static_cast<std::size_t>(k)] = SlotOf(i.b, k);
        note(i.b, k);
      }
    } else {
      s.b = i.b.type == 5 ? kSlotZero : SlotOf(i.b);
      s.swizzleB = i.b.swizzle;
      if (i.b.type != 5) note(i.b);
    }
    p.steps.push_back(s);
  }
  // The plain reading clears and keeps all registers.
  if (p.indirect) p.varyings = p.temporaries = 0xFF;
}
}  // namespace

Program Program::Parse(std::span<const std::uint8_t> b) {
  if (b.size() < 7 || b[0] != 0xA0) throw AgalError("AGAL program: bad header");
  if (b[5] != 0xA1 || b[6] > 1) throw AgalError("AGAL program: bad shader type");
  if ((b.size() - 7) % 24 != 0) throw AgalError("AGAL program: length not a whole number of instructions");
  Program p;
  p.fragment = b[6] == 1;
  for (std::size_t at = 7; at < b.size(); at += 24) {
    Instruction i;
    i.op = static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24);
    if (i.op > kSne) throw AgalError("AGAL program: unknown opcode " + std::to_string(i.op));
    i.dst.index = static_cast<std::uint16_t>(b[at + 4] | b[at + 5] << 8);
    i.dst.mask = b[at + 6] & 0xF;
    i.dst.type = b[at + 7];
    i.a = Source(U64(b, at + 8));
    i.b = i.op == kTex ? Sampler(U64(b, at + 16)) : Source(U64(b, at + 16));
    p.code.push_back(i);
  }
  Compile(p);
  return p;
}

void Target::Resize(int w, int h) {
  width = w;
  height = h;
  color.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 0.0f);
  depth.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 1.0f);
}

void Target::Clear(const std::array<float, 4>& rgba, float z, bool colorToo, bool depthToo) {
  if (colorToo) {
    float* c = color.data();
    for (std::size_t i = 0, n = color.size() / 4; i < n; ++i, c += 4) c[0] = rgba[0], c[1] = rgba[1], c[2] = rgba[2], c[3] = rgba[3];
  }
  if (depthToo) std::fill(depth.begin(), depth.end(), z);
}

namespace {
// lround(clamp(v, 0, 1) * 255) without a call or a double: the fraction
// f - trunc(f) of a float below 256 is exact, and rounding up from a half
// is lround's half away from zero.
inline std::uint32_t Byte(float v) {
  const float c = !(v > 0.0f) ? 0.0f : v > 1.0f ? 1.0f : v;
  const float f = c * 255;
  const auto whole = static_cast<std::int32_t>(f);
  return static_cast<std::uint32_t>(whole + (f - static_cast<float>(whole) >= 0.5f ? 1 : 0));
}
inline std::uint32_t PremultipliedOf(const float* c) {
  const float a = std::clamp(c[3], 0.0f, 1.0f);
  return Byte(a) << 24 | Byte(c[0] * a) << 16 | Byte(c[1] * a) << 8 | Byte(c[2] * a);
}
inline std::uint32_t WordOf(const float* c) {
#if defined(__SSE2__)
  // Byte on the four channels at once: max and min give 0 for NaN as Byte
  // does, and the channels go in as B, G, R, A to pack as an ARGB word.
  const __m128 v = _mm_shuffle_ps(_mm_loadu_ps(c), _mm_loadu_ps(c), _MM_SHUFFLE(3, 0, 1, 2));
  const __m128 f = _mm_mul_ps(_mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f)), _mm_set1_ps(255.0f));
  const __m128i whole = _mm_cvttps_epi32(f);
  const __m128i up = _mm_castps_si128(_mm_cmpge_ps(_mm_sub_ps(f, _mm_cvtepi32_ps(whole)), _mm_set1_ps(0.5f)));
  const __m128i bytes = _mm_sub_epi32(whole, up);
  const __m128i shorts = _mm_packs_epi32(bytes, bytes);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(shorts, shorts)));
#else
  return Byte(c[3]) << 24 | Byte(c[0]) << 16 | Byte(c[1]) << 8 | Byte(c[2]);
#endif
}
}  // namespace

std::uint32_t Target::Pixel(int x, int y) const {
  return PremultipliedOf(&color[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4]);
}

void Target::Pixels(std::span<std::uint32_t> out, std::uint32_t orMask) const {
  const std::size_t n = std::min(out.size(), color.size() / 4);
  const float* c = color.data();
  for (std::size_t i = 0; i < n; ++i, c += 4) out[i] = PremultipliedOf(c) | orMask;
}

std::uint32_t Target::Word(int x, int y) const {
  return WordOf(&color[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4]);
}

void Target::Words(std::span<std::uint32_t> out) const {
  const std::size_t n = std::min(out.size(), color.size() / 4);
  const float* c = color.data();
  for (std::size_t i = 0; i < n; ++i, c += 4) out[i] = WordOf(c);
}

void Target::SetWord(int x, int y, std::uint32_t argb) {
  float* c = &color[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4];
  c[0] = kUnit[(argb >> 16) & 255];
  c[1] = kUnit[(argb >> 8) & 255];
  c[2] = kUnit[argb & 255];
  c[3] = kUnit[argb >> 24];
}

void Target::SetWords(std::span<const std::uint32_t> in) {
  const std::size_t n = std::min(in.size(), color.size() / 4);
  float* c = color.data();
  for (std::size_t i = 0; i < n; ++i, c += 4) {
    const std::uint32_t argb = in[i];
    c[0] = kUnit[(argb >> 16) & 255], c[1] = kUnit[(argb >> 8) & 255], c[2] = kUnit[argb & 255], c[3] = kUnit[argb >> 24];
  }
}

void DrawTriangles(Target& t, const Draw& d, std::size_t first, std::size_t count) {
  if (!d.vertex || !d.fragment || t.width <= 0) return;
  Runner vr(*d.vertex, d.vertexConstants), fr(*d.fragment, d.fragmentConstants);
  std::array<const TextureView*, 8> textures{};
  for (std::size_t k = 0; k < 8; ++k) textures[k] = &d.textures[k];
  fr.SetTextures(textures);
  // Each vertex is shaded once a draw, however many triangles share it.
  std::vector<std::int32_t> shadedAt;
  std::vector<Vertex> shaded;
  auto shade = [&](std::uint16_t index) -> const Vertex& {
    if (index < shadedAt.size() && shadedAt[index] >= 0) return shaded[static_cast<std::size_t>(shadedAt[index])];
    Vertex v;
    for (std::size_t s = 0; s < 8; ++s) {
      const Stream& st = d.streams[s];
      if (!st.data) continue;
      if (index >= st.vertices) throw AgalError("AGAL draw: index " + std::to_string(index) + " past the vertex buffer");
      vr.in[s] = Attribute(st, index);
    }
    vr.Reset(true);
    vr.Run();
    v.pos = *vr.out;
    std::copy_n(vr.varying, 8, v.varying.begin());
    const float w = v.pos[3];
    v.invW = w != 0 ? 1.0f / w : 0;
    v.sx = (v.pos[0] * v.invW + 1) * 0.5f * static_cast<float>(t.width);
    v.sy = (1 - v.pos[1] * v.invW) * 0.5f * static_cast<float>(t.height);
    v.sz = v.pos[2] * v.invW;
    if (index >= shadedAt.size()) shadedAt.resize(static_cast<std::size_t>(index) + 1, -1);
    shadedAt[index] = static_cast<std::int32_t>(shaded.size());
    shaded.push_back(v);
    return shaded.back();
  };
  // The varyings the fragment program names: only those are interpolated.
  std::array<std::size_t, 8> used{};
  std::size_t usedCount = 0;
  for (std::size_t r = 0; r < 8; ++r)
    if (d.fragment->varyings & (1u << r)) used[usedCount++] = r;
  const DrawState& st = d.state;
  const bool allChannels = st.colorMask[0] && st.colorMask[1] && st.colorMask[2] && st.colorMask[3];
  for (std::size_t tri = 0; tri < count; ++tri) {
    const std::size_t at = first + tri * 3;
    if (at + 3 > d.indices.size()) break;
    // Copies: shading a later vertex may move the cache.
    const Vertex v0 = shade(d.indices[at]), v1 = shade(d.indices[at + 1]), v2 = shade(d.indices[at + 2]);
    // Triangles reaching behind the eye are left out whole.
    if (v0.pos[3] <= 0 || v1.pos[3] <= 0 || v2.pos[3] <= 0) continue;
    const float area = (v1.sx - v0.sx) * (v2.sy - v0.sy) - (v1.sy - v0.sy) * (v2.sx - v0.sx);
    if (area == 0 || !std::isfinite(area)) continue;
    // Clockwise on screen is the front face.
    const bool front = area > 0;
    if (st.cull == Cull::kBoth || (st.cull == Cull::kFront && front) || (st.cull == Cull::kBack && !front)) continue;
    int x0 = std::max(0, static_cast<int>(std::floor(std::min({v0.sx, v1.sx, v2.sx}))));
    int x1 = std::min(t.width - 1, static_cast<int>(std::ceil(std::max({v0.sx, v1.sx, v2.sx}))));
    int y0 = std::max(0, static_cast<int>(std::floor(std::min({v0.sy, v1.sy, v2.sy}))));
    int y1 = std::min(t.height - 1, static_cast<int>(std::ceil(std::max({v0.sy, v1.sy, v2.sy}))));
    if (st.scissor) {
      x0 = std::max(x0, st.scissorX);
      y0 = std::max(y0, st.scissorY);
      x1 = std::min(x1, st.scissorX + st.scissorWidth - 1);
      y1 = std::min(y1, st.scissorY + st.scissorHeight - 1);
    }
    // Edge i lies opposite vertex i. A centre exactly on an edge is drawn
    // when the edge is a left one (inside lies to its right) or a flat top
    // one (inside below), so a neighbour sharing the edge skips it.
    const float sign = area > 0 ? 1.0f : -1.0f;
    auto topLeft = [&](const Vertex& a, const Vertex& b) {
      const float dx = sign * (a.sy - b.sy), dy = sign * (b.sx - a.sx);
      return dx > 0 || (dx == 0 && dy > 0);
    };
    const bool tl0 = topLeft(v1, v2), tl1 = topLeft(v2, v0), tl2 = topLeft(v0, v1);
    auto inside = [&](float e, bool tl) {
      const float s = e * sign;
      return s > 0 || (s == 0 && tl);
    };
    for (int y = y0; y <= y1; ++y) {
      const float py = static_cast<float>(y) + 0.5f;
      float* colorRow = &t.color[static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) * 4];
      float* depthRow = &t.depth[static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width)];
      for (int x = x0; x <= x1; ++x) {
        const float px = static_cast<float>(x) + 0.5f;
        const float e0 = (v1.sx - px) * (v2.sy - py) - (v1.sy - py) * (v2.sx - px);
        const float e1 = (v2.sx - px) * (v0.sy - py) - (v2.sy - py) * (v0.sx - px);
        const float e2 = (v0.sx - px) * (v1.sy - py) - (v0.sy - py) * (v1.sx - px);
        if (!inside(e0, tl0) || !inside(e1, tl1) || !inside(e2, tl2)) continue;
        const float w0 = e0 / area, w1 = e1 / area, w2 = e2 / area;
        const float z = w0 * v0.sz + w1 * v1.sz + w2 * v2.sz;
        float& stored = depthRow[x];
        if (!Passes(st.depth, z, stored)) continue;
        // Varyings interpolated in perspective.
        const float iw = w0 * v0.invW + w1 * v1.invW + w2 * v2.invW;
        for (std::size_t u = 0; u < usedCount; ++u) {
          const std::size_t r = used[u];
          Vec& out = fr.varying[r];
          for (std::size_t k = 0; k < 4; ++k)
            out[k] = iw != 0 ? (w0 * v0.varying[r][k] * v0.invW + w1 * v1.varying[r][k] * v1.invW +
                                w2 * v2.varying[r][k] * v2.invW) / iw
                             : 0;
        }
        fr.Reset(false);
        if (fr.Run()) continue;
        if (st.depthWrite) stored = z;
        const Vec src = *fr.out;
        float* dst = colorRow + static_cast<std::size_t>(x) * 4;
        const Vec old{dst[0], dst[1], dst[2], dst[3]};
        for (std::size_t k = 0; k < 4; ++k) {
          if (!allChannels && !st.colorMask[k]) continue;
          const float v = src[k] * Factor(st.source, src, old, k) + old[k] * Factor(st.destination, src, old, k);
          dst[k] = std::clamp(std::isfinite(v) ? v : 0.0f, 0.0f, 1.0f);
        }
      }
    }
  }
}

void RunProgram(const Program& p, Registers& r, std::span<const float> constants, const std::array<TextureView, 8>& textures,
         bool plain) {
  std::array<const TextureView*, 8> views{};
  for (std::size_t k = 0; k < 8; ++k) views[k] = &textures[k];
  if (plain || p.indirect) {
    Machine m;
    m.constants = constants;
    m.textures = views;
    m.in = r.in, m.temp = r.temp, m.varying = r.varying, m.out = r.out;
    m.Run(p);
    r.in = m.in, r.temp = m.temp, r.varying = m.varying, r.out = m.out;
    r.killed = m.killed;
    return;
  }
  Runner run(p, constants);
  run.SetTextures(views);
  std::copy(r.in.begin(), r.in.end(), run.in);
  std::copy(r.temp.begin(), r.temp.end(), run.temp);
  std::copy(r.varying.begin(), r.varying.end(), run.varying);
  *run.out = r.out;
  r.killed = run.Run();
  std::copy_n(run.in, 8, r.in.begin());
  std::copy_n(run.temp, 8, r.temp.begin());
  std::copy_n(run.varying, 8, r.varying.begin());
  r.out = *run.out;
}

}  // namespace quarvel::player::agal
