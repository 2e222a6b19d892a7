// Pixel kernels run by ShaderJob and the Stage3D layers' contexts, from
// builder-made movies.
#include <gtest/gtest.h>

#include <vector>

#include "player/flash_player.h"
#include "support/as3_movie.h"
#include "support/pixel_kernel_builder.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;
using testing::KernelBuilder;

// dst.rg = (scale, scale * 2): a float2 output from one parameter.
std::vector<std::uint8_t> ScaleKernel() {
  KernelBuilder k;
  k.Param(1, 1, 2, 0x8, "scale").DefaultValue({1.5f}).Param(2, 2, 1, 0xC, "dst");
  k.Op(0x1D, 1, 0x8, 2, 0x00, 1);  // dst.r = scale
  k.Op(0x1D, 1, 0x4, 2, 0x00, 1);  // dst.g = scale
  k.Op(0x01, 1, 0x4, 2, 0x00, 1);  // dst.g += scale
  return k.Bytes();
}

// A movie embedding `kernel` as the ByteArray class Kernel; local 3 is
// new Shader(new Kernel()) when `code` runs.
std::vector<std::uint8_t> KernelMovie(const std::vector<std::uint8_t>& kernel,
                                      const std::function<void(As3Movie&, AbcCode&)>& code) {
  As3Movie d;
  d.LinkedClass("Kernel", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  d.defineTags = [kernel](testing::SwfBuilder& b) {
    std::vector<std::uint8_t> body = {7, 0, 0, 0, 0, 0};
    body.insert(body.end(), kernel.begin(), kernel.end());
    b.Tag(87, body);
  };
  const auto shader = d.Display("Shader");
  return d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {shader}).Op("findpropstrict", {m.Q("Kernel")}).Op("constructprop", {m.Q("Kernel"), 0})
        .Op("constructprop", {shader, 1}).Op("setlocal_3");
    code(m, c);
  });
}

void TraceTop(As3Movie& m, AbcCode& c, const std::function<void()>& push) {
  c.Op("findpropstrict", {m.Q("trace")});
  push();
  c.Op("callpropvoid", {m.Q("trace"), 1});
}

TEST(As3ShaderJob, WritesFloatsIntoAByteArrayWithTheParameterValue) {
  const auto byteArray = testing::As3Movie().a.PackageName("flash.utils", "ByteArray");
  const auto out = As3Traced(KernelMovie(ScaleKernel(), [&](As3Movie& m, AbcCode& c) {
    const auto ba = m.a.PackageName("flash.utils", "ByteArray"), job = m.Display("ShaderJob");
    (void)byteArray;
    // shader.data.scale: a ShaderParameter of type float holding [1.5].
    TraceTop(m, c, [&] { c.Op("getlocal_3").Op("getproperty", {m.Q("data")}).Op("getproperty", {m.Q("scale")}); });
    TraceTop(m, c, [&] {
      c.Op("getlocal_3").Op("getproperty", {m.Q("data")}).Op("getproperty", {m.Q("scale")})
          .Op("getproperty", {m.Q("type")});
    });
    // shader.data.scale.value = [3]; a 2 x 1 job into a ByteArray.
    c.Op("getlocal_3").Op("getproperty", {m.Q("data")}).Op("getproperty", {m.Q("scale")})
        .Op("pushint", {m.a.Int(3)}).Op("newarray", {1}).Op("setproperty", {m.Q("value")});
    c.Op("findpropstrict", {ba}).Op("constructprop", {ba, 0}).Op("setlocal", {4});
    c.Op("findpropstrict", {job}).Op("getlocal_3").Op("getlocal", {4}).Op("pushint", {m.a.Int(2)})
        .Op("pushint", {m.a.Int(1)}).Op("constructprop", {job, 4}).Op("pushtrue").Op("callpropvoid", {m.Q("start"), 1});
    TraceTop(m, c, [&] { c.Op("getlocal", {4}).Op("getproperty", {m.Q("length")}); });
    c.Op("getlocal", {4}).Op("pushint", {m.a.Int(0)}).Op("setproperty", {m.Q("position")});
    for (int k = 0; k < 4; ++k) TraceTop(m, c, [&] { c.Op("getlocal", {4}).Op("callproperty", {m.Q("readFloat"), 0}); });
  }), [](FlashPlayer&) {});
  // Two pixels of two big-endian floats each: (3, 6) and (3, 6).
  EXPECT_EQ(out, "[object ShaderParameter]|float|16|3|6|3|6|");
}

TEST(As3ShaderJob, RefusesABitmapTargetForLessThanThreeChannels) {
  const auto out = As3Traced(KernelMovie(ScaleKernel(), [&](As3Movie& m, AbcCode& c) {
    const auto bd = m.Display("BitmapData"), job = m.Display("ShaderJob");
    const auto ctch = m.Q("caught");
    (void)ctch;
    c.Op("findpropstrict", {bd}).Op("pushint", {m.a.Int(1)}).Op("pushint", {m.a.Int(1)})
        .Op("constructprop", {bd, 2}).Op("setlocal", {4});
    c.Op("findpropstrict", {job}).Op("getlocal_3").Op("getlocal", {4}).Op("constructprop", {job, 2}).Op("setlocal", {5});
    // shader.data.nothing = 1: a ShaderData takes any property.
    c.Op("getlocal_3").Op("getproperty", {m.Q("data")}).Op("pushint", {m.a.Int(1)}).Op("setproperty", {m.Q("nothing")});
    TraceTop(m, c, [&] { c.Op("getlocal_3").Op("getproperty", {m.Q("data")}).Op("getproperty", {m.Q("nothing")}); });
    c.Op("getlocal", {5}).Op("pushtrue").Op("callpropvoid", {m.Q("start"), 1});
  }), [](FlashPlayer&) {});
  EXPECT_NE(out.find("1|"), std::string::npos);
  EXPECT_NE(out.find("Error #2162"), std::string::npos) << out;
}

TEST(As3Stage3D, FourLayersAndAContextMadeAtTheEndOfTheFrame) {
  As3Movie d;
  const auto created = d.Tracer("created ", {"type", "target.context3D.backBufferWidth"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    TraceTop(m, c, [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("stage3Ds")})
                             .Op("getproperty", {m.Q("length")}); });
    c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("stage3Ds")})
        .Op("getproperty", {m.Q("0")}).Op("setlocal_3");
    m.Listen(c, 3, "context3DCreate", created);
    c.Op("getlocal_3").Op("callpropvoid", {m.Q("requestContext3D"), 0});
    // Not there yet: the context comes after this frame's scripts.
    TraceTop(m, c, [&] { c.Op("getlocal_3").Op("getproperty", {m.Q("context3D")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(200); }), "4|null|created context3DCreate 0|");
}

}  // namespace
}  // namespace quarvel::player
