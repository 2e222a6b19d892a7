// Pixel kernels: reading the byte code (and refusing damaged code) and
// running it per pixel on premultiplied colours.
#include "player/render/pixel_shader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "support/pixel_kernel_builder.h"

namespace quarvel::player {
namespace {

using testing::KernelBuilder;

// Runs `bytes` over a w x 1 row with the given inputs; returns the pixels.
std::vector<std::uint32_t> RunRow(const std::vector<std::uint8_t>& bytes, const std::vector<std::vector<std::uint32_t>>& in,
                                  int w, const std::vector<std::vector<float>>& values = {}, bool opaque = false) {
  const auto shader = PixelShader::Parse(bytes);
  std::vector<ShaderImage> images;
  for (const auto& row : in) images.push_back({row.data(), w, w, 1, false});
  std::vector<std::uint32_t> out(static_cast<std::size_t>(w));
  shader->Run(images, values, w, 1, out.data(), w, opaque);
  return out;
}

TEST(PixelShader, AverageBlendKernelReadsItsDeclarations) {
  const auto shader = PixelShader::Parse(testing::AverageBlendKernel());
  ASSERT_EQ(shader->Inputs().size(), 2u);
  EXPECT_EQ(shader->Inputs()[0].name, "background");
  EXPECT_EQ(shader->Inputs()[1].index, 1);
  ASSERT_EQ(shader->Parameters().size(), 2u);
  EXPECT_EQ(shader->Parameters()[0].name, "_OutCoord");
  EXPECT_TRUE(shader->Parameters()[1].output);
  EXPECT_EQ(shader->Parameters()[1].ValueCount(), 4u);
}

TEST(PixelShader, AverageOfPremultipliedPixels) {
  // Orange over black; half-transparent white over clear; a pixel past the
  // end of the foreground reads as clear.
  const std::vector<std::uint32_t> bg = {0xFF000000u, 0x00000000u, 0xFF0000FFu};
  const std::vector<std::uint32_t> fg = {0xFFFF9900u, 0x80808080u};
  std::vector<ShaderImage> images = {{bg.data(), 3, 3, 1, false}, {fg.data(), 2, 2, 1, false}};
  const auto shader = PixelShader::Parse(testing::AverageBlendKernel());
  std::vector<std::uint32_t> out(3);
  shader->Run(images, {}, 3, 1, out.data(), 3, false);
  EXPECT_EQ(out[0], 0xFF804D00u);
  EXPECT_EQ(out[1], 0x40404040u);
  EXPECT_EQ(out[2], 0x80000080u);
  // On an opaque target alpha is 1 and the colour stays as computed.
  shader->Run(images, {}, 3, 1, out.data(), 3, true);
  EXPECT_EQ(out[1], 0xFF404040u);
}

TEST(PixelShader, ComparisonAndIfElseChooseTheBranch) {
  // dst = outCoord.x < 1.5 ? white : red, through lessThan into i0 and if/else.
  KernelBuilder k;
  k.Param(1, 2, 0, 0xC, "_OutCoord").Param(2, 4, 1, 0xF, "dst");
  k.LoadFloat(2, 0x8, 1.5f);
  k.Op(0x1D, 3, 0x8, 0, 0x00, 1);  // f3.r = f0.r (x)
  k.Op(0x2A, 3, 0x8, 2, 0x00, 1);  // i0.r = f3.r < f2.r
  k.If(0).LoadFloat(1, 0xF, 1.0f).Else().LoadFloat(1, 0xF, 0.0f).LoadFloat(1, 0x9, 1.0f).EndIf();
  const auto out = RunRow(k.Bytes(), {}, 3);
  EXPECT_EQ(out[0], 0xFFFFFFFFu);
  EXPECT_EQ(out[1], 0xFFFF0000u);
  EXPECT_EQ(out[2], 0xFFFF0000u);
}

TEST(PixelShader, ParametersTakeTheirDefaultsOrTheGivenValues) {
  KernelBuilder k;
  k.Param(1, 4, 2, 0xF, "color").DefaultValue({1, 0, 0, 1}).Param(2, 4, 1, 0xF, "dst");
  k.Op(0x1D, 1, 0xF, 2);
  const auto shader = PixelShader::Parse(k.Bytes());
  EXPECT_EQ(shader->Parameters()[0].defaultValue, (std::vector<float>{1, 0, 0, 1}));
  EXPECT_EQ(RunRow(k.Bytes(), {}, 1)[0], 0xFFFF0000u);
  EXPECT_EQ(RunRow(k.Bytes(), {}, 1, {{0, 0, 1, 1}})[0], 0xFF0000FFu);
  // A list of the wrong length is ignored; colour never exceeds alpha.
  EXPECT_EQ(RunRow(k.Bytes(), {}, 1, {{0, 1}})[0], 0xFFFF0000u);
  EXPECT_EQ(RunRow(k.Bytes(), {}, 1, {{1, 1, 1, 0.5f}})[0], 0x80808080u);
}

TEST(PixelShader, SampleLinearMixesNeighbours) {
  KernelBuilder k;
  k.Param(1, 2, 0, 0xC, "_OutCoord").Texture(0, 4, "src").Param(2, 4, 1, 0xF, "dst");
  k.LoadFloat(2, 0x4, 0.5f);          // f2.g = 0.5: the row's centre
  k.Op(0x1D, 2, 0x8, 0, 0x00, 1);     // f2.r = x
  k.LoadFloat(3, 0x8, 0.5f).Op(0x01, 2, 0x8, 3, 0x00, 1);  // x + 0.5: between two pixels
  k.Sample(0x31, 1, 0xF, 2, 0);
  const std::vector<std::uint32_t> src = {0xFF000000u, 0xFFFFFFFFu};
  const auto out = RunRow(k.Bytes(), {src}, 2);
  EXPECT_EQ(out[0], 0xFF808080u);
}

TEST(PixelShader, DamagedCodeIsRefusedWithWhereItFailed) {
  const auto good = testing::AverageBlendKernel();
  auto expectRefused = [](const std::vector<std::uint8_t>& bytes, const char* what) {
    try {
      PixelShader::Parse(bytes);
      ADD_FAILURE() << what << ": accepted";
    } catch (const ShaderError& e) {
      EXPECT_LE(e.Offset(), bytes.size()) << what;
    }
  };
  expectRefused(std::vector<std::uint8_t>(good.begin(), good.end() - 3), "cut inside an instruction");
  expectRefused(KernelBuilder(good).Raw({0x7F, 0, 0, 0, 0, 0, 0, 0}).Bytes(), "unknown instruction");
  expectRefused(KernelBuilder(good).Else().Bytes(), "else without if");
  expectRefused(KernelBuilder(good).If(0).Bytes(), "if without end");
  expectRefused(KernelBuilder().Param(1, 2, 0, 0xC, "_OutCoord").Bytes(), "no output");
  expectRefused(KernelBuilder(good).Op(0x1D, 0x7000, 0xF, 2).Bytes(), "register out of range");
  expectRefused(KernelBuilder(good).Raw({0xA1, 1, 99, 0, 0, 0xF, 'x', 0}).Bytes(), "parameter of unknown type");
}

TEST(PixelShader, TruncationIsToldApartFromInvalidCode) {
  // Scripts see the first as an end of file, the second as a bad argument.
  auto truncated = [](const std::vector<std::uint8_t>& bytes) {
    try {
      PixelShader::Parse(bytes);
    } catch (const ShaderError& e) {
      return e.Truncated();
    }
    ADD_FAILURE() << "accepted";
    return false;
  };
  EXPECT_TRUE(truncated({0x00}));        // a nop without its operands
  EXPECT_TRUE(truncated({0xA4, 0x05}));  // a name without its length's second byte
  EXPECT_FALSE(truncated({}));           // nothing: no output
  EXPECT_FALSE(truncated(KernelBuilder(testing::AverageBlendKernel()).Else().Bytes()));
}

TEST(PixelShader, MetadataBelongsToTheKernelOrToTheParameterBefore) {
  KernelBuilder k;
  k.Raw({0xA0, 12, 'v', 'e', 'n', 'd', 'o', 'r', 0, 'M', 'e', 0});          // kernel: vendor "Me"
  k.Raw({0xA0, 8, 'v', 'e', 'r', 's', 'i', 'o', 'n', 0, 2, 0});            // kernel: version 2 (int)
  k.Param(1, 2, 2, 0xC, "size").DefaultValue({50, 60});
  k.Raw({0xA0, 2, 'm', 'a', 'x', 'V', 'a', 'l', 'u', 'e', 0, 0x42, 0xC8, 0, 0, 0x42, 0xC9, 0, 0});  // 100, 100.5
  k.Texture(0, 4, "src").Param(2, 4, 1, 0xF, "dst");
  const auto shader = PixelShader::Parse(k.Bytes());
  ASSERT_EQ(shader->Meta().size(), 2u);
  EXPECT_EQ(shader->Meta()[0].text, "Me");
  EXPECT_EQ(shader->Meta()[1].values, (std::vector<float>{2}));
  const ShaderParameter& size = shader->Parameters()[0];
  EXPECT_EQ(size.defaultValue, (std::vector<float>{50, 60}));
  ASSERT_EQ(size.meta.size(), 2u);
  EXPECT_EQ(size.meta[1].key, "maxValue");
  EXPECT_EQ(size.meta[1].values, (std::vector<float>{100, 100.5f}));
  EXPECT_STREQ(ShaderTypeName(size.type), "float2");
  EXPECT_EQ(shader->OutputChannels(), 4);
}

TEST(PixelShader, FloatImagesAndOutputsKeepValuesPastOne) {
  // dst = src * 2 on a 2 x 1 image of one channel: floats go in and come
  // out unclamped, the missing channels reading 0.
  struct Collect : ShaderSink {
    std::vector<float> got;
    void Put(int, int, const float* c, int n) override { got.insert(got.end(), c, c + n); }
  } sink;
  KernelBuilder k;
  k.Param(1, 2, 0, 0xC, "_OutCoord").Texture(0, 1, "src").Param(2, 2, 1, 0xC, "dst");
  k.Sample(0x30, 2, 0xC, 0, 0);             // f2.rg = sample(src, outCoord)
  k.LoadFloat(3, 0xC, 2.0f);
  k.Op(0x03, 2, 0xC, 3, 0x10, 2);          // f2.rg *= f3.rg (2, 2)
  k.Op(0x1D, 1, 0xC, 2, 0x10, 2);          // dst = f2.rg
  const auto shader = PixelShader::Parse(k.Bytes());
  EXPECT_EQ(shader->OutputChannels(), 2);
  const std::vector<float> src = {1.5f, -3.0f};
  ShaderImage img;
  img.floats = src.data();
  img.width = 2;
  img.height = 1;
  img.channels = 1;
  shader->Run({img}, {}, 2, 1, sink);
  EXPECT_EQ(sink.got, (std::vector<float>{3.0f, 0.0f, -6.0f, 0.0f}));
}


// Flash refuses, when the kernel is loaded, an instruction on register kinds
// it does not take: float-only functions on int registers, mixed kinds where
// nothing converts, a condition in a float register.
TEST(PixelShader, RegisterKindsAreCheckedWhenLoading) {
  auto accepts = [](const std::function<void(KernelBuilder&)>& code) {
    KernelBuilder k;
    k.Param(2, 4, 0, 0xF, "dst");
    code(k);
    try {
      PixelShader::Parse(k.Bytes());
      return true;
    } catch (const ShaderError& e) {
      EXPECT_FALSE(e.Truncated());
      return false;
    }
  };
  constexpr std::uint16_t kInt = 0x8000;
  constexpr std::uint8_t kCeil = 0x1B, kAdd = 0x01, kFloatToInt = 0x1E, kIntToFloat = 0x1F, kLogicalAnd = 0x2D;
  EXPECT_TRUE(accepts([&](KernelBuilder& k) { k.Op(kCeil, 1, 0x4, 1, 0x00, 1); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Op(kCeil, 1, 0x4, 1 | kInt, 0x00, 1); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Op(kCeil, 1 | kInt, 0x4, 1, 0x00, 1); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Op(kCeil, 1 | kInt, 0x4, 1 | kInt, 0x00, 1); }));
  // Arithmetic takes either kind, but one kind.
  EXPECT_TRUE(accepts([&](KernelBuilder& k) { k.Op(kAdd, 1 | kInt, 0x4, 2 | kInt, 0x00, 1); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Op(kAdd, 1, 0x4, 2 | kInt, 0x00, 1); }));
  // Conversions go one way; logic is on ints.
  EXPECT_TRUE(accepts([&](KernelBuilder& k) { k.Op(kFloatToInt, 1 | kInt, 0x8, 1, 0x00, 1); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Op(kFloatToInt, 1, 0x8, 1 | kInt, 0x00, 1); }));
  EXPECT_TRUE(accepts([&](KernelBuilder& k) { k.Op(kIntToFloat, 1, 0x8, 1 | kInt, 0x00, 1); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Op(kLogicalAnd, 1, 0x8, 2, 0x00, 1); }));
  // select: an int condition, both choices of the destination's kind.
  EXPECT_TRUE(accepts([&](KernelBuilder& k) { k.Select(0, 0x4, 1 | kInt, 2, 2); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Select(0, 0x4, 1, 2, 2); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Select(0, 0x4, 1 | kInt, 2, 2 | kInt); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Select(0 | kInt, 0x4, 1 | kInt, 2, 2); }));
  EXPECT_TRUE(accepts([&](KernelBuilder& k) { k.Select(0 | kInt, 0x4, 1 | kInt, 2 | kInt, 2 | kInt); }));
  // if: only on an int register.
  EXPECT_TRUE(accepts([&](KernelBuilder& k) { k.If(1).EndIf(); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Raw({0x34, 0, 0, 0, 1, 0, 0, 0}).EndIf(); }));
  // Matrix instructions need matrix operands of the vector's size.
  EXPECT_TRUE(accepts([&](KernelBuilder& k) { k.MatrixOp(0x22, 1, 0xC, 4, 2); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.MatrixOp(0x22, 1, 0xE, 4, 2); }));
  EXPECT_FALSE(accepts([&](KernelBuilder& k) { k.Op(0x22, 1, 0xC, 4, 0x10, 2); }));
}

// Runs `k` (whose output is f1) for one pixel; returns the output channels.
std::vector<float> RunOne(const KernelBuilder& k, const std::vector<std::vector<float>>& values = {}) {
  struct Collect : ShaderSink {
    std::vector<float> got;
    void Put(int, int, const float* c, int n) override { got.assign(c, c + n); }
  } sink;
  PixelShader::Parse(k.Bytes())->Run({}, values, 1, 1, sink);
  return sink.got;
}

TEST(PixelShader, FloatToIntRoundsHalvesToEven) {
  for (const auto& [in, out] : std::vector<std::pair<float, float>>{
           {0.5f, 0}, {0.9f, 1}, {1.5f, 2}, {2.5f, 2}, {-1.5f, -2}, {-0.4f, 0}}) {
    KernelBuilder k;
    k.Param(2, 1, 1, 0x8, "dst");
    k.LoadFloat(2, 0x8, in);
    k.Op(0x1E, 1 | 0x8000, 0x8, 2, 0x00, 1);  // i1.r = int(f2.r)
    k.Op(0x1F, 1, 0x8, 1 | 0x8000, 0x00, 1);  // f1.r = float(i1.r)
    EXPECT_EQ(RunOne(k), std::vector<float>{out}) << in;
  }
}

TEST(PixelShader, PixelsClampInfinitiesAndZeroNaN) {
  // dst = (1/0, -1/0, 0/0, 1): red full, green and blue none.
  KernelBuilder k;
  k.Param(2, 4, 1, 0xF, "dst");
  k.LoadFloat(1, 0xF, 1.0f).LoadFloat(2, 0xF, 0.0f);
  k.LoadFloat(3, 0x8, 1.0f).LoadFloat(3, 0x4, -1.0f).LoadFloat(3, 0x2, 0.0f);
  k.Op(0x05, 3, 0xE, 2, 0x00, 3);  // f3.rgb /= f2.rrr
  k.Op(0x1D, 1, 0xE, 3, 0x1B, 3);  // f1.rgb = f3.rgb
  EXPECT_EQ(RunRow(k.Bytes(), {}, 1)[0], 0xFFFF0000u);
}

TEST(PixelShader, MatrixProductsAndCrossProduct) {
  // m = matrix2x2 [1, 2, 3, 4] (columns (1, 2) and (3, 4)); v = (1, 10).
  auto kernel = [](std::uint8_t code) {
    KernelBuilder k;
    k.Param(1, 5, 4, 2, "m").Param(2, 2, 1, 0xC, "dst");
    k.LoadFloat(1, 0x8, 1.0f).LoadFloat(1, 0x4, 10.0f);
    k.MatrixOp(code, 1, 0xC, 4, 2);
    return k;
  };
  const std::vector<std::vector<float>> m = {{1, 2, 3, 4}};
  EXPECT_EQ(RunOne(kernel(0x22), m), (std::vector<float>{31, 42}));  // m * v
  EXPECT_EQ(RunOne(kernel(0x21), m), (std::vector<float>{21, 43}));  // v * m
  // m * m, then its first column.
  KernelBuilder mm;
  mm.Param(1, 5, 4, 2, "m").Param(2, 2, 1, 0xC, "dst");
  // A 2x2 matrix packs into one register, its second column in z and w
  // (as the compiler reads m[1][0] of a float2x2 parameter: its .z).
  mm.MatrixOp(0x1D, 6, 0, 4, 2);   // f6 = m
  mm.MatrixOp(0x20, 6, 0, 4, 2);   // f6 *= m
  mm.Op(0x1D, 1, 0xC, 6, 0xBB, 2);  // dst = second column, f6.zw
  EXPECT_EQ(RunOne(mm, m), (std::vector<float>{15, 22}));
  // The parameter itself: m[1][0] and m[1][1] are its register's z and w.
  KernelBuilder read;
  read.Param(1, 5, 4, 2, "m").Param(2, 2, 1, 0xC, "dst");
  read.Op(0x1D, 1, 0xC, 4, 0xBB, 2);
  EXPECT_EQ(RunOne(read, m), (std::vector<float>{3, 4}));
  // x cross y = z.
  KernelBuilder c;
  c.Param(2, 3, 1, 0xE, "dst");
  c.LoadFloat(1, 0xE, 0.0f).LoadFloat(1, 0x8, 1.0f).LoadFloat(2, 0xE, 0.0f).LoadFloat(2, 0x4, 1.0f);
  c.Op(0x27, 1, 0xE, 2, 0x1B, 3);
  EXPECT_EQ(RunOne(c), (std::vector<float>{0, 0, 1}));
}

}  // namespace
}  // namespace quarvel::player
