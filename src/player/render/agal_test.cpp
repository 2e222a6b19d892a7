// AGAL programs and the software rasterizer: a tiny scene checked against
// values computed here.
#include "player/render/agal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quarvel::player::agal {
namespace {

// AGAL byte code: header, then 24-byte instructions.
struct Assembler {
  std::vector<std::uint8_t> b;
  explicit Assembler(bool fragment) { b = {0xA0, 1, 0, 0, 0, 0xA1, static_cast<std::uint8_t>(fragment ? 1 : 0)}; }
  void U16(int v) { b.push_back(static_cast<std::uint8_t>(v)); b.push_back(static_cast<std::uint8_t>(v >> 8)); }
  void U32(std::uint32_t v) { for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k))); }
  // Source: register type and number, swizzle (0xE4 xyzw).
  void Src(int type, int index, int swizzle = 0xE4) {
    U16(index);
    b.push_back(0);
    b.push_back(static_cast<std::uint8_t>(swizzle));
    b.push_back(static_cast<std::uint8_t>(type));
    b.push_back(0);
    b.push_back(0);
    b.push_back(0);
  }
  Assembler& Op(std::uint32_t op, int dstType, int dst, int aType, int a, int bType = 0, int bIndex = 0, int mask = 0xF) {
    U32(op);
    U16(dst);
    b.push_back(static_cast<std::uint8_t>(mask));
    b.push_back(static_cast<std::uint8_t>(dstType));
    Src(aType, a);
    Src(bType, bIndex);
    return *this;
  }
};
constexpr int kAttr = 0, kConst = 1, kTemp = 2, kOut = 3, kVary = 4;

// Vertex: op = va0 * vc0 (a scale); v0 = va1. Fragment: oc = v0.
struct Scene {
  Program vp, fp;
  std::vector<float> vertices, vc = std::vector<float>(128 * 4), fc = std::vector<float>(28 * 4);
  std::vector<std::uint16_t> indices{0, 1, 2};
  Draw draw;
  Target target;
  Scene() {
    vp = Program::Parse(Assembler(false).Op(0x03, kOut, 0, kAttr, 0, kConst, 0).Op(0x00, kVary, 0, kAttr, 1).b);
    fp = Program::Parse(Assembler(true).Op(0x00, kOut, 0, kVary, 0).b);
    for (int k = 0; k < 4; ++k) vc[static_cast<std::size_t>(k)] = 1;
    // A triangle over the left half: x, y, z, w then r, g, b, a.
    vertices = {-1, 1, 0.5f, 1, 1, 0, 0, 1,  //
                0, 1, 0.5f, 1, 0, 1, 0, 1,   //
                -1, -1, 0.5f, 1, 0, 0, 1, 1};
    target.Resize(40, 40);
    target.Clear({0, 0, 0, 1}, 1, true, true);
    draw.vertex = &vp;
    draw.fragment = &fp;
    draw.vertexConstants = vc;
    draw.fragmentConstants = fc;
    draw.streams[0] = {vertices.data(), 3, 8, 0, 4, false};
    draw.streams[1] = {vertices.data(), 3, 8, 4, 4, false};
    draw.indices = indices;
  }
};

TEST(Agal, TriangleCoversItsPixelsWithInterpolatedColour) {
  Scene s;
  DrawTriangles(s.target, s.draw, 0, 1);
  // Near the red corner (top left) mostly red; outside the triangle the clear colour.
  const std::uint32_t corner = s.target.Pixel(1, 1);
  EXPECT_GT((corner >> 16) & 255, 220u);
  EXPECT_LT(corner & 255, 20u);
  EXPECT_EQ(s.target.Pixel(35, 35), 0xFF000000u);
  // At the centroid's pixel the three colours mix about equally.
  const std::uint32_t mid = s.target.Pixel(6, 13);
  for (int shift : {16, 8, 0}) EXPECT_NEAR(static_cast<int>((mid >> shift) & 255), 85, 20);
}

TEST(Agal, DepthTestKeepsTheNearerTriangle) {
  Scene s;
  DrawTriangles(s.target, s.draw, 0, 1);
  // The same triangle farther away in white fails the "less" test...
  for (std::size_t v = 0; v < 3; ++v) {
    s.vertices[v * 8 + 2] = 0.9f;
    for (std::size_t k = 4; k < 8; ++k) s.vertices[v * 8 + k] = 1;
  }
  DrawTriangles(s.target, s.draw, 0, 1);
  EXPECT_NE(s.target.Pixel(6, 13), 0xFFFFFFFFu);
  // ...and passes with "always".
  s.draw.state.depth = Compare::kAlways;
  DrawTriangles(s.target, s.draw, 0, 1);
  EXPECT_EQ(s.target.Pixel(6, 13), 0xFFFFFFFFu);
}

TEST(Agal, ScissorKeepsDrawingInsideItsRectangle) {
  Scene s;
  s.draw.state.scissor = true;
  s.draw.state.scissorX = 0, s.draw.state.scissorY = 10, s.draw.state.scissorWidth = 4, s.draw.state.scissorHeight = 10;
  DrawTriangles(s.target, s.draw, 0, 1);
  // Inside the triangle, but only the scissored part is drawn.
  EXPECT_EQ(s.target.Pixel(1, 1), 0xFF000000u);
  EXPECT_EQ(s.target.Pixel(6, 13), 0xFF000000u);
  EXPECT_NE(s.target.Pixel(2, 13), 0xFF000000u);
}

TEST(Agal, UploadChecksNameTheFaultAndItsToken) {
  auto fault = [](const std::vector<std::uint8_t>& b, bool fragment) {
    const auto f = Validate(b, fragment);
    return f ? std::to_string(f->id) + (f->argument ? " argument: " : ": ") + f->message : std::string("ok");
  };
  constexpr int kSampler = 5, kDepth = 6;
  EXPECT_EQ(fault({}, true), "3615 argument: AGAL validation failed: Program size below minimum length for  program.");
  EXPECT_EQ(fault({0xFF, 0, 0, 0, 0, 0, 0, 0}, true), "3612 argument: Programs must be in little endian format.");
  EXPECT_EQ(fault(Assembler(true).b, true),
            "3615: AGAL validation failed: Program size below minimum length for fragment program.");
  EXPECT_EQ(fault(Assembler(true).Op(0x00, kOut, 0, kVary, 0).b, true), "ok");
  EXPECT_EQ(fault(Assembler(true).Op(0x00, kOut, 0, kVary, 0).Op(0xFF, kOut, 0, kVary, 0).b, true),
            "3620: AGAL validation failed: Invalid opcode, value out of range: 255 at token 2 of fragment program.");
  EXPECT_EQ(fault(Assembler(true).Op(0x00, kTemp, 0, kOut, 0).b, true),
            "3646: AGAL validation failed: Can not read from output register for source operand 1 at token 1 of "
            "fragment program.");
  EXPECT_EQ(fault(Assembler(true).Op(0x01, kTemp, 0, kTemp, 0, kSampler, 0).b, true),
            "3638: AGAL validation failed: Sampler register only allowed as second operand in texture instructions "
            "for source operand 2 at token 1 of fragment program.");
  EXPECT_EQ(fault(Assembler(false).Op(0x00, kAttr, 0, kConst, 0).b, false),
            "3651: AGAL validation failed: Attribute registers can not be written to for destination operand at "
            "token 1 of vertex program.");
  EXPECT_EQ(fault(Assembler(true).Op(0x00, kDepth, 0, kConst, 0).b, true),
            "3749: AGAL validation failed: Depth output register index out of bounds for destination operand at "
            "token 1 of fragment program.");
  // Conditionals have no destination; kil none either.
  EXPECT_EQ(fault(Assembler(true).Op(0x1C, 0, 0, kTemp, 0, kTemp, 1).Op(0x21, 0, 0, 0, 0).Op(0x27, 0, 0, kTemp, 0).b, true),
            "ok");
  // Indirect reads: only of constants, only in vertex programs.
  auto indirect = [](bool fragment, int type) {
    Assembler a(fragment);
    a.Op(0x00, kOut, 0, type, 0);
    a.b[a.b.size() - 9] |= 0x80;  // source 1's top bit
    return a.b;
  };
  EXPECT_EQ(fault(indirect(false, kConst), false), "ok");
  EXPECT_EQ(fault(indirect(false, kTemp), false),
            "3640: AGAL validation failed: Indirect addressing only allowed into constant registers for source "
            "operand 1 at token 1 of vertex program.");
  EXPECT_EQ(fault(indirect(true, kConst), true),
            "3639: AGAL validation failed: Indirect addressing only allowed in vertex programs for source operand 1 "
            "at token 1 of fragment program.");
  // A sampler used twice with other settings.
  Assembler twice(true);
  twice.Op(0x28, kTemp, 0, kVary, 0, kSampler, 0).Op(0x28, kTemp, 1, kVary, 0, kSampler, 0);
  EXPECT_EQ(fault(twice.b, true), "ok");
  twice.b[twice.b.size() - 1] = 0x10;  // the second's filter
  EXPECT_EQ(fault(twice.b, true),
            "3696: AGAL validation failed: Second use of sampler register needs to specify the exact same "
            "properties. At token 2 of fragment program.");
}

TEST(Agal, BlendFactorsMixWithTheBackBuffer) {
  Scene s;
  s.target.Clear({0, 0, 1, 1}, 1, true, true);
  for (std::size_t v = 0; v < 3; ++v) {
    s.vertices[v * 8 + 4] = 1, s.vertices[v * 8 + 5] = 0, s.vertices[v * 8 + 6] = 0, s.vertices[v * 8 + 7] = 0.5f;
  }
  s.draw.state.source = Blend::kSrcAlpha;
  s.draw.state.destination = Blend::kOneMinusSrcAlpha;
  DrawTriangles(s.target, s.draw, 0, 1);
  // Half red over blue; alpha 0.5 * 0.5 + 1 * 0.5.
  EXPECT_EQ(s.target.Pixel(6, 13), 0xBF600060u);
}

TEST(Agal, DamagedProgramsAreRefused) {
  EXPECT_THROW(Program::Parse(std::vector<std::uint8_t>{0xA0, 1, 0, 0, 0}), AgalError);
  Assembler bad(false);
  bad.Op(0x7F, kOut, 0, kAttr, 0);
  EXPECT_THROW(Program::Parse(bad.b), AgalError);
  Assembler cut(true);
  cut.Op(0x00, kOut, 0, kVary, 0);
  cut.b.pop_back();
  EXPECT_THROW(Program::Parse(cut.b), AgalError);
}

TEST(Agal, AnIndexPastTheVertexBufferIsAnError) {
  Scene s;
  s.indices = {0, 1, 7};
  s.draw.indices = s.indices;
  EXPECT_THROW(DrawTriangles(s.target, s.draw, 0, 1), AgalError);
}

}  // namespace
}  // namespace quarvel::player::agal

namespace quarvel::player::agal {
namespace {

// The steps a program compiles to against the plain reading of each
// instruction: random programs over every writing opcode, random registers,
// swizzles and masks, run on random inputs, must agree bit for bit.
TEST(AgalSteps, AgreeWithThePlainReadingOnRandomPrograms) {
  std::mt19937 rng(29);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::vector<std::uint32_t> ops = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,
                                          0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19,
                                          0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D};
  // A 3x2 texture with every channel different, sampled every way.
  const std::vector<std::uint32_t> texels = {0x80FF0000u, 0xFF00FF00u, 0x400000FFu, 0x00000000u, 0xFFFFFFFFu, 0x7F102030u};
  std::array<TextureView, 8> textures{};
  textures[0] = {texels.data(), 3, 2, false};
  textures[1] = {texels.data(), 1, 6, true};
  for (int trial = 0; trial < 400; ++trial) {
    Assembler code(trial % 2 == 1);
    const int length = 1 + pick(12);
    for (int n = 0; n < length; ++n) {
      const std::uint32_t op = ops[static_cast<std::size_t>(pick(static_cast<int>(ops.size())))];
      const int dstType = std::array{kTemp, kTemp, kVary, kOut}[static_cast<std::size_t>(pick(4))];
      code.Op(op, dstType, pick(8), std::array{kAttr, kConst, kTemp, kVary}[static_cast<std::size_t>(pick(4))], pick(9),
              op == 0x28 ? 5 : std::array{kAttr, kConst, kTemp, kVary}[static_cast<std::size_t>(pick(4))],
              op == 0x28 ? pick(2) : pick(30), 1 + pick(15));
      // Random swizzles for both sources; a sampler's filter and wrap.
      const std::size_t at = code.b.size() - 24;
      code.b[at + 11] = static_cast<std::uint8_t>(rng());
      if (op == 0x28) code.b[at + 23] = static_cast<std::uint8_t>(pick(2) << 4 | pick(2) << 0), code.b[at + 22] = static_cast<std::uint8_t>(pick(2) << 4);
      else code.b[at + 19] = static_cast<std::uint8_t>(rng());
    }
    const Program p = Program::Parse(code.b);
    std::uniform_real_distribution<float> value(-3, 3);
    Registers in;
    for (auto* bank : {&in.in, &in.temp, &in.varying})
      for (auto& reg : *bank)
        for (float& f : reg) f = pick(8) == 0 ? 0.0f : value(rng);
    std::vector<float> constants(28 * 4);
    for (float& f : constants) f = value(rng);
    Registers plain = in, steps = in;
    RunProgram(p, plain, constants, textures, true);
    RunProgram(p, steps, constants, textures, false);
    // Bits, so that NaNs made the same way compare equal.
    auto bits = [](const Registers& r) {
      std::vector<std::uint32_t> out;
      for (const auto* bank : {&r.in, &r.temp, &r.varying})
        for (const auto& reg : *bank)
          for (float f : reg) out.push_back(std::bit_cast<std::uint32_t>(f));
      for (float f : r.out) out.push_back(std::bit_cast<std::uint32_t>(f));
      out.push_back(r.killed);
      return out;
    };
    ASSERT_EQ(bits(plain), bits(steps)) << "trial " << trial;
  }
}

// Meshes whose edges cross pixel centres exactly, drawn adding a quarter
// each time: every pixel of the covered area is drawn exactly once.
struct Coverage {
  Program vp, fp;
  std::vector<float> vertices, vc = std::vector<float>(128 * 4), fc = std::vector<float>(28 * 4);
  std::vector<std::uint16_t> indices;
  Target target;
  // Vertex: op = va0; fragment: oc = fc0 (a quarter in red).
  Coverage() {
    vp = Program::Parse(Assembler(false).Op(0x00, kOut, 0, kAttr, 0).b);
    fp = Program::Parse(Assembler(true).Op(0x00, kOut, 0, kConst, 0).b);
    fc[0] = 0.25f, fc[3] = 1;
    target.Resize(32, 32);
    target.Clear({0, 0, 0, 0}, 1, true, true);
  }
  // A vertex at pixel position (x, y) of the 32x32 target.
  void At(float x, float y) { vertices.insert(vertices.end(), {x / 16 - 1, 1 - y / 16, 0, 1}); }
  void DrawAll() {
    Draw d;
    d.vertex = &vp;
    d.fragment = &fp;
    d.vertexConstants = vc;
    d.fragmentConstants = fc;
    d.streams[0] = {vertices.data(), static_cast<int>(vertices.size() / 4), 4, 0, 4, false};
    d.indices = indices;
    d.state.source = d.state.destination = Blend::kOne;
    d.state.depth = Compare::kAlways;
    DrawTriangles(target, d, 0, indices.size() / 3);
  }
  float Red(int x, int y) const { return target.color[(static_cast<std::size_t>(y) * 32 + static_cast<std::size_t>(x)) * 4]; }
};

TEST(AgalEdges, SharedEdgesAreDrawnOnceAndLeaveNoGaps) {
  {
    // A grid of quads on half pixels: every edge runs through pixel centres,
    // the diagonals too.
    Coverage c;
    for (int row = 0; row <= 4; ++row)
      for (int col = 0; col <= 4; ++col) c.At(4.5f + 5.0f * static_cast<float>(col), 4.5f + 5.0f * static_cast<float>(row));
    for (int row = 0; row < 4; ++row)
      for (int col = 0; col < 4; ++col) {
        const auto v = static_cast<std::uint16_t>(row * 5 + col);
        // Both windings and both diagonals.
        if ((row + col) % 2 == 0) c.indices.insert(c.indices.end(), {v, static_cast<std::uint16_t>(v + 1), static_cast<std::uint16_t>(v + 6), v, static_cast<std::uint16_t>(v + 6), static_cast<std::uint16_t>(v + 5)});
        else c.indices.insert(c.indices.end(), {static_cast<std::uint16_t>(v + 1), v, static_cast<std::uint16_t>(v + 5), static_cast<std::uint16_t>(v + 1), static_cast<std::uint16_t>(v + 5), static_cast<std::uint16_t>(v + 6)});
      }
    c.DrawAll();
    // Centres 4.5 .. 24.5: the edges' own pixels belong to the top and left.
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        const bool in = x >= 4 && x < 24 && y >= 4 && y < 24;
        ASSERT_EQ(c.Red(x, y), in ? 0.25f : 0.0f) << x << "," << y;
      }
  }
  {
    // A fan round an off-grid centre: spokes at every angle, none missed.
    Coverage c;
    c.At(15.3f, 16.7f);
    const float corners[][2] = {{2, 2}, {16, 2}, {30, 2}, {30, 16.5f}, {30, 30}, {16, 30}, {2, 30}, {2, 16.5f}};
    for (const auto& p : corners) c.At(p[0], p[1]);
    for (std::uint16_t k = 1; k <= 8; ++k) c.indices.insert(c.indices.end(), {0, k, static_cast<std::uint16_t>(k % 8 + 1)});
    c.DrawAll();
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) ASSERT_EQ(c.Red(x, y), x >= 2 && x < 30 && y >= 2 && y < 30 ? 0.25f : 0.0f) << x << "," << y;
  }
}

}  // namespace
}  // namespace quarvel::player::agal

namespace quarvel::player::agal {
namespace {

// Channels become bytes as lround(clamp(v, 0, 1) * 255) does it, halves and
// the floats either side of them included, whichever way the target is read.
TEST(AgalTarget, ChannelsRoundToBytesAsLround) {
  std::vector<float> values = {-1.0f, 0.0f, 1.0f, 2.0f, std::nanf(""), 1e-30f, 0.99999994f};
  for (int k = 0; k < 256; ++k) {
    const float half = (static_cast<float>(k) + 0.5f) / 255.0f;
    for (float v : {half, std::nextafter(half, 0.0f), std::nextafter(half, 2.0f), static_cast<float>(k) / 255.0f})
      values.push_back(v);
  }
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int i = 0; i < 4000; ++i) values.push_back(unit(random));
  Target t;
  t.Resize(static_cast<int>(values.size()), 1);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const float v = values[i];
    for (int k = 0; k < 4; ++k) t.color[i * 4 + static_cast<std::size_t>(k)] = k == 3 ? 1.0f : v;
  }
  std::vector<std::uint32_t> words(values.size());
  t.Words(words);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const float v = values[i];
    const float c = std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f);
    const auto want = static_cast<std::uint32_t>(std::lround(static_cast<double>(c * 255.0f)));
    ASSERT_EQ(words[i] & 0xFF, want) << v;
    ASSERT_EQ(t.Word(static_cast<int>(i), 0), words[i]);
    ASSERT_EQ(t.Pixel(static_cast<int>(i), 0), words[i]);  // opaque: premultiplied is the same
  }
}

}  // namespace
}  // namespace quarvel::player::agal
