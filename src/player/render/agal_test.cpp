// AGAL programs and the software rasterizer: a tiny scene checked against
// values computed here.
#include "player/render/agal.h"

#include <gtest/gtest.h>

#include <cstdint>
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
