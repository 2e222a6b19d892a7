// Pixel kernels run by ShaderJob and the Stage3D layers' contexts, from
// builder-made movies.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
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

// stage.stage3Ds[0] into local 3, placed at x, with `created` listening for
// its context.
void RequestContext(As3Movie& m, AbcCode& c, int x, std::uint32_t created) {
  c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("stage3Ds")})
      .Op("getproperty", {m.Q("0")}).Op("setlocal_3");
  if (x != 0) c.Op("getlocal_3").Op("pushbyte", {x}).Op("setproperty", {m.Q("x")});
  m.Listen(c, 3, "context3DCreate", created);
  c.Op("getlocal_3").Op("callpropvoid", {m.Q("requestContext3D"), 0});
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
    // scale.value = null: the kernel reads 0, not its default.
    c.Op("getlocal_3").Op("getproperty", {m.Q("data")}).Op("getproperty", {m.Q("scale")})
        .Op("pushnull").Op("setproperty", {m.Q("value")});
    c.Op("findpropstrict", {ba}).Op("constructprop", {ba, 0}).Op("setlocal", {4});
    c.Op("findpropstrict", {job}).Op("getlocal_3").Op("getlocal", {4}).Op("pushint", {m.a.Int(1)})
        .Op("pushint", {m.a.Int(1)}).Op("constructprop", {job, 4}).Op("pushtrue").Op("callpropvoid", {m.Q("start"), 1});
    c.Op("getlocal", {4}).Op("pushint", {m.a.Int(0)}).Op("setproperty", {m.Q("position")});
    for (int k = 0; k < 2; ++k) TraceTop(m, c, [&] { c.Op("getlocal", {4}).Op("callproperty", {m.Q("readFloat"), 0}); });
  }), [](FlashPlayer&) {});
  // Two pixels of two big-endian floats each: (3, 6) and (3, 6); then (0, 0).
  EXPECT_EQ(out, "[object ShaderParameter]|float|16|3|6|3|6|0|0|");
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
    RequestContext(m, c, 0, created);
    // Not there yet: the context comes after this frame's scripts.
    TraceTop(m, c, [&] { c.Op("getlocal_3").Op("getproperty", {m.Q("context3D")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(200); }), "4|null|created context3DCreate 0|");
}

// A disposed context is not given again: with a CONTEXT3D_CREATE listener
// still on its Stage3D, dispose() acts as a lost device and a new context
// comes; disposed without recreating, the next requestContext3D makes one.
// Either way the new context takes a back buffer.
TEST(As3Stage3D, ADisposedContextIsReplacedByTheNextOne) {
  for (const bool request : {false, true}) {
    As3Movie d;
    AbcCode second;
    second.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("context3D")}).Op("setlocal_2");
    second.Op("getlocal_2").Op("pushbyte", {32}).Op("pushbyte", {32}).Op("pushbyte", {0})
        .Op("callpropvoid", {d.Q("configureBackBuffer"), 3});
    TraceTop(d, second, [&] {
      second.Op("pushstring", {d.S("second ")}).Op("getlocal_2").Op("getproperty", {d.Q("backBufferWidth")}).Op("add");
    });
    second.Op("returnvoid");
    const auto secondFn = d.Method(second, 1);
    // The first handler runs once: a global flag keeps it from running again.
    AbcCode first;
    first.Op("findpropstrict", {d.Q("done")}).Op("getproperty", {d.Q("done")}).Branch("iftrue", "out");
    first.Op("findproperty", {d.Q("done")}).Op("pushtrue").Op("setproperty", {d.Q("done")});
    d.Trace(first, "first");
    auto listenSecond = [&] {
      first.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("pushstring", {d.S("context3DCreate")})
          .Op("newfunction", {secondFn}).Op("callpropvoid", {d.Q("addEventListener"), 2});
    };
    auto dispose = [&](bool recreate) {
      first.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("context3D")});
      first.Op(recreate ? "pushtrue" : "pushfalse").Op("callpropvoid", {d.Q("dispose"), 1});
    };
    if (request) {
      dispose(false);
      listenSecond();
      first.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("callpropvoid", {d.Q("requestContext3D"), 0});
    } else {
      listenSecond();
      dispose(true);
    }
    first.Label("out").Op("returnvoid");
    const auto firstFn = d.Method(first, 1);
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      c.Op("findproperty", {m.Q("done")}).Op("pushfalse").Op("setproperty", {m.Q("done")});
      RequestContext(m, c, 0, firstFn);
    });
    EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(300); }), "first|second 32|") << request;
  }
}

// A cube texture's size limit is on its edge: 1024 is taken, though its six
// faces together are taller than any flat texture may be.
TEST(As3Stage3D, CubeTexturesAreLimitedByTheirEdge) {
  As3Movie d;
  AbcCode made;
  made.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("context3D")}).Op("setlocal_2");
  for (const int size : {1024, 8192}) {
    made.Op("getlocal_2").Op("pushint", {d.a.Int(size)}).Op("pushstring", {d.S("bgra")}).Op("pushfalse")
        .Op("callpropvoid", {d.Q("createCubeTexture"), 3});
    d.Trace(made, "made " + std::to_string(size));
  }
  made.Op("returnvoid");
  const auto madeFn = d.Method(made, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) { RequestContext(m, c, 0, madeFn); });
  const std::string out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(200); });
  EXPECT_EQ(out.rfind("made 1024|", 0), 0u) << out;
  EXPECT_NE(out.find("Error #2004"), std::string::npos) << out;
  EXPECT_EQ(out.find("made 8192"), std::string::npos) << out;
}

// AGAL byte code for the textured quad below: 24-byte instructions after the
// header; a register is (type, index) with the identity swizzle.
std::vector<std::uint8_t> Agal(bool fragment, const std::vector<std::array<int, 5>>& code) {
  std::vector<std::uint8_t> b = {0xA0, 1, 0, 0, 0, 0xA1, static_cast<std::uint8_t>(fragment ? 1 : 0)};
  // {op, dst type, src a type, src b type (5: sampler 0, 2D, clamp, nearest), unused}
  for (const auto& [op, dst, srcA, srcB, unused] : code) {
    (void)unused;
    const std::uint8_t ins[24] = {static_cast<std::uint8_t>(op), 0, 0, 0, 0, 0, 0xF, static_cast<std::uint8_t>(dst),
                                  0, 0, 0, 0xE4, static_cast<std::uint8_t>(srcA), 0, 0, 0,
                                  0, 0, 0, static_cast<std::uint8_t>(srcB == 5 ? 0 : 0xE4),
                                  static_cast<std::uint8_t>(srcB), 0, 0, 0};
    b.insert(b.end(), ins, ins + 24);
  }
  return b;
}

template <typename T>
std::vector<std::uint8_t> LittleEndian(std::initializer_list<T> values) {
  std::vector<std::uint8_t> out(values.size() * sizeof(T));
  std::memcpy(out.data(), std::data(values), out.size());
  return out;
}

// The movie's picture at 100 x 100 after 200 ms.
gdi::Bitmap Shown(const std::vector<std::uint8_t>& bytes) {
  FlashPlayer p;
  p.SetSize(100, 100);
  EXPECT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  p.AdvanceTo(200);
  gdi::Bitmap bmp;
  p.Paint(bmp);
  return bmp;
}

// A quad over clip x [-1, 0], moved right by half the clip width through a
// Matrix3D the way 2D engines hand it over (setProgramConstantsFromMatrix,
// transposed, read by m44), textured from `texture`, over a blue back
// buffer of 32 x 32. `renderToTexture`: the texture is a 32 x 32 one the
// script clears to green through setRenderToTexture first; else a 2 x 2
// BitmapData of half-transparent red blended one / oneMinusSourceAlpha.
// `then` draws a second frame the same way after a change, or none.
enum class Then { kNothing, kSameFrame, kGreenTexture, kNotMoved };
gdi::Bitmap TexturedQuad(bool renderToTexture, Then then = Then::kNothing, bool reenter = false) {
  As3Movie d;
  const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> blobs = {
      {"Verts", LittleEndian<float>({-1, 1, 0, 0, 0, 1, 1, 0, 0, -1, 1, 1, -1, -1, 0, 1})},
      {"Indices", LittleEndian<std::uint16_t>({0, 1, 2, 0, 2, 3})},
      // m44 op, va0, vc0; mov v0, va1
      {"Vp", Agal(false, {{0x18, 3, 0, 1, 0}, {0x00, 4, 0, 0, 0}})},
      // tex oc, v0, fs0
      {"Fp", Agal(true, {{0x28, 3, 4, 5, 0}})},
  };
  const auto byteArray = d.a.PackageName("flash.utils", "ByteArray");
  std::uint16_t id = 7;
  for (const auto& [name, bytes] : blobs) d.LinkedClass(name, {byteArray}, id++);
  d.defineTags = [blobs](testing::SwfBuilder& b) {
    std::uint16_t tag = 7;
    for (const auto& blob : blobs) {
      std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(tag++), 0, 0, 0, 0, 0};
      body.insert(body.end(), blob.second.begin(), blob.second.end());
      b.Tag(87, body);
    }
  };
  const auto blob = [&](AbcCode& c, const char* name) { c.Op("findpropstrict", {d.Q(name)}).Op("constructprop", {d.Q(name), 0}); };
  AbcCode on;
  on.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("context3D")}).Op("setlocal_2");
  on.Op("getlocal_2").Op("pushbyte", {32}).Op("pushbyte", {32}).Op("pushbyte", {0}).Op("pushfalse")
      .Op("callpropvoid", {d.Q("configureBackBuffer"), 4});
  on.Op("getlocal_2").Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {1}).Op("pushbyte", {1})
      .Op("callpropvoid", {d.Q("clear"), 4});
  on.Op("getlocal_2").Op("pushbyte", {4}).Op("pushbyte", {4}).Op("callproperty", {d.Q("createVertexBuffer"), 2}).Op("setlocal_3");
  on.Op("getlocal_3");
  blob(on, "Verts");
  on.Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {4}).Op("callpropvoid", {d.Q("uploadFromByteArray"), 4});
  for (int k = 0; k < 2; ++k)
    on.Op("getlocal_2").Op("pushbyte", {k}).Op("getlocal_3").Op("pushbyte", {2 * k}).Op("pushstring", {d.S("float2")})
        .Op("callpropvoid", {d.Q("setVertexBufferAt"), 4});
  on.Op("getlocal_2").Op("pushbyte", {6}).Op("callproperty", {d.Q("createIndexBuffer"), 1}).Op("setlocal", {4});
  on.Op("getlocal", {4});
  blob(on, "Indices");
  on.Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {6}).Op("callpropvoid", {d.Q("uploadFromByteArray"), 4});
  on.Op("getlocal_2").Op("callproperty", {d.Q("createProgram"), 0}).Op("dup").Op("setlocal", {5});
  blob(on, "Vp");
  blob(on, "Fp");
  on.Op("callpropvoid", {d.Q("upload"), 2});
  on.Op("getlocal_2").Op("getlocal", {5}).Op("callpropvoid", {d.Q("setProgram"), 1});
  const auto matrix3D = d.a.PackageName("flash.geom", "Matrix3D");
  on.Op("findpropstrict", {matrix3D}).Op("constructprop", {matrix3D, 0}).Op("setlocal", {6});
  on.Op("getlocal", {6}).Op("pushdouble", {d.a.Double(0.5)}).Op("pushbyte", {0}).Op("pushbyte", {0})
      .Op("callpropvoid", {d.Q("appendTranslation"), 3});
  on.Op("getlocal_2").Op("pushstring", {d.S("vertex")}).Op("pushbyte", {0}).Op("getlocal", {6}).Op("pushtrue")
      .Op("callpropvoid", {d.Q("setProgramConstantsFromMatrix"), 4});
  if (renderToTexture) {
    on.Op("getlocal_2").Op("pushbyte", {32}).Op("pushbyte", {32}).Op("pushstring", {d.S("bgra")}).Op("pushtrue")
        .Op("callproperty", {d.Q("createTexture"), 4}).Op("setlocal", {7});
    on.Op("getlocal_2").Op("getlocal", {7}).Op("callpropvoid", {d.Q("setRenderToTexture"), 1});
    on.Op("getlocal_2").Op("pushbyte", {0}).Op("pushbyte", {1}).Op("pushbyte", {0}).Op("pushbyte", {1})
        .Op("callpropvoid", {d.Q("clear"), 4});
    on.Op("getlocal_2").Op("callpropvoid", {d.Q("setRenderToBackBuffer"), 0});
    if (reenter) {
      // Chosen again and its depth alone cleared: the colours stay the texture's.
      on.Op("getlocal_2").Op("getlocal", {7}).Op("callpropvoid", {d.Q("setRenderToTexture"), 1});
      on.Op("getlocal_2").Op("pushbyte", {1}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {1})
          .Op("pushbyte", {1}).Op("pushbyte", {0}).Op("pushbyte", {2}).Op("callpropvoid", {d.Q("clear"), 7});
      on.Op("getlocal_2").Op("callpropvoid", {d.Q("setRenderToBackBuffer"), 0});
    }
  } else {
    const auto bitmapData = d.Display("BitmapData");
    on.Op("getlocal_2").Op("pushbyte", {2}).Op("pushbyte", {2}).Op("pushstring", {d.S("bgra")}).Op("pushfalse")
        .Op("callproperty", {d.Q("createTexture"), 4}).Op("setlocal", {7});
    on.Op("getlocal", {7}).Op("findpropstrict", {bitmapData}).Op("pushbyte", {2}).Op("pushbyte", {2}).Op("pushtrue")
        .Op("pushuint", {d.a.UInt(0x80FF0000u)}).Op("constructprop", {bitmapData, 4})
        .Op("callpropvoid", {d.Q("uploadFromBitmapData"), 1});
    on.Op("getlocal_2").Op("pushstring", {d.S("one")}).Op("pushstring", {d.S("oneMinusSourceAlpha")})
        .Op("callpropvoid", {d.Q("setBlendFactors"), 2});
  }
  on.Op("getlocal_2").Op("pushbyte", {0}).Op("getlocal", {7}).Op("callpropvoid", {d.Q("setTextureAt"), 2});
  on.Op("getlocal_2").Op("getlocal", {4}).Op("callpropvoid", {d.Q("drawTriangles"), 1});
  on.Op("getlocal_2").Op("callpropvoid", {d.Q("present"), 0});
  if (then == Then::kGreenTexture) {
    const auto bitmapData = d.Display("BitmapData");
    on.Op("getlocal", {7}).Op("findpropstrict", {bitmapData}).Op("pushbyte", {2}).Op("pushbyte", {2}).Op("pushtrue")
        .Op("pushuint", {d.a.UInt(0xFF00FF00u)}).Op("constructprop", {bitmapData, 4})
        .Op("callpropvoid", {d.Q("uploadFromBitmapData"), 1});
  }
  if (then == Then::kNotMoved) {
    on.Op("getlocal", {6}).Op("callpropvoid", {d.Q("identity"), 0});
    on.Op("getlocal_2").Op("pushstring", {d.S("vertex")}).Op("pushbyte", {0}).Op("getlocal", {6}).Op("pushtrue")
        .Op("callpropvoid", {d.Q("setProgramConstantsFromMatrix"), 4});
  }
  if (then != Then::kNothing) {
    on.Op("getlocal_2").Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushbyte", {1}).Op("pushbyte", {1})
        .Op("callpropvoid", {d.Q("clear"), 4});
    on.Op("getlocal_2").Op("getlocal", {4}).Op("callpropvoid", {d.Q("drawTriangles"), 1});
    on.Op("getlocal_2").Op("callpropvoid", {d.Q("present"), 0});
  }
  on.Op("returnvoid");
  const auto created = d.Method(on, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) { RequestContext(m, c, 0, created); });
  return Shown(bytes);
}

void ExpectNear(gdi::Color got, gdi::Color want) {
  EXPECT_NEAR(got.r, want.r, 2) << int(got.r) << "," << int(got.g) << "," << int(got.b);
  EXPECT_NEAR(got.g, want.g, 2);
  EXPECT_NEAR(got.b, want.b, 2);
}

// Programs read a BitmapData's texels premultiplied, as Flash uploads them,
// so premultiplied blending (one, oneMinusSourceAlpha) mixes half red over
// blue evenly; the translation lands in the fourth component of each row.
TEST(As3Stage3D, TexturedQuadMovedByATransposedMatrixBlendsPremultiplied) {
  const gdi::Bitmap shown = TexturedQuad(false);
  ExpectNear(shown.GetPixel(20, 16), {128, 0, 127});
  ExpectNear(shown.GetPixel(4, 16), {0, 0, 255});   // left of the moved quad
  ExpectNear(shown.GetPixel(28, 16), {0, 0, 255});  // right of it
}

// A frame drawn again shows again; a frame whose texture or constants
// changed in between shows the change, though its calls are the same.
TEST(As3Stage3D, ARedrawnFrameShowsWhatChangedSinceTheLast) {
  const gdi::Bitmap same = TexturedQuad(false, Then::kSameFrame);
  ExpectNear(same.GetPixel(20, 16), {128, 0, 127});
  ExpectNear(same.GetPixel(4, 16), {0, 0, 255});
  const gdi::Bitmap green = TexturedQuad(false, Then::kGreenTexture);
  ExpectNear(green.GetPixel(20, 16), {0, 255, 0});
  ExpectNear(green.GetPixel(4, 16), {0, 0, 255});
  const gdi::Bitmap left = TexturedQuad(false, Then::kNotMoved);
  ExpectNear(left.GetPixel(4, 16), {128, 0, 127});
  ExpectNear(left.GetPixel(20, 16), {0, 0, 255});
}

// Clears and draws after setRenderToTexture go into the texture, not the
// back buffer, and a later draw samples what they left.
TEST(As3Stage3D, RenderToTextureFillsTheTextureNotTheBackBuffer) {
  const gdi::Bitmap shown = TexturedQuad(true);
  ExpectNear(shown.GetPixel(20, 16), {0, 255, 0});
  ExpectNear(shown.GetPixel(4, 16), {0, 0, 255});
  const gdi::Bitmap again = TexturedQuad(true, Then::kNothing, true);
  ExpectNear(again.GetPixel(20, 16), {0, 255, 0});
  ExpectNear(again.GetPixel(4, 16), {0, 0, 255});
}

// A presented back buffer shows at its layer's place over the stage colour
// and under the display list, opaque; a layer that never presented shows
// nothing.
TEST(As3Stage3D, APresentedBackBufferShowsUnderTheDisplayList) {
  const auto picture = [](bool present) {
    As3Movie d;
    // function (e) { var c = e.target.context3D; c.configureBackBuffer(32, 32, 0, false);
    //   c.clear(1, 0, 0, 0.5); c.present() }
    AbcCode on;
    on.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("context3D")}).Op("setlocal_2");
    on.Op("getlocal_2").Op("pushbyte", {32}).Op("pushbyte", {32}).Op("pushbyte", {0}).Op("pushfalse")
        .Op("callpropvoid", {d.Q("configureBackBuffer"), 4});
    on.Op("getlocal_2").Op("pushbyte", {1}).Op("pushbyte", {0}).Op("pushbyte", {0}).Op("pushdouble", {d.a.Double(0.5)})
        .Op("callpropvoid", {d.Q("clear"), 4});
    if (present) on.Op("getlocal_2").Op("callpropvoid", {d.Q("present"), 0});
    on.Op("returnvoid");
    const auto created = d.Method(on, 1);
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      m.NewSprite(c, 1, "left", 0x0000FF, 0, 0, 50, 100);
      RequestContext(m, c, 40, created);
    });
    return Shown(bytes);
  };
  const gdi::Bitmap shown = picture(true);
  // Half-transparent red, premultiplied, shows as opaque dark red.
  EXPECT_EQ(shown.GetPixel(60, 10), (gdi::Color{128, 0, 0}));
  EXPECT_EQ(shown.GetPixel(45, 10), (gdi::Color{0, 0, 255}));  // the sprite over the layer
  EXPECT_EQ(shown.GetPixel(60, 50), (gdi::Color{255, 255, 255}));  // below the 32-pixel buffer
  EXPECT_EQ(shown.GetPixel(80, 10), (gdi::Color{255, 255, 255}));
  EXPECT_EQ(picture(false).GetPixel(60, 10), (gdi::Color{255, 255, 255}));
}

}  // namespace
}  // namespace quarvel::player
