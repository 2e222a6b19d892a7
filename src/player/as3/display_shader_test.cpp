// flash.display.Shader from embedded byte code, drawn as a blend shader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/as3_movie.h"
#include "support/pixel_kernel_builder.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;

// Black below, an orange sprite over the left half blended by the
// "average" kernel, which the movie embeds as DefineBinaryData linked to
// the ByteArray class Kernel. `probe` adds code after the assignment.
std::vector<std::uint8_t> AverageMovie(const std::function<void(As3Movie&, AbcCode&)>& probe = {}) {
  As3Movie d;
  d.LinkedClass("Kernel", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  d.defineTags = [](testing::SwfBuilder& b) {
    const auto kernel = testing::AverageBlendKernel();
    std::vector<std::uint8_t> body = {7, 0, 0, 0, 0, 0};  // id, reserved
    body.insert(body.end(), kernel.begin(), kernel.end());
    b.Tag(87, body);
  };
  const auto shader = d.Display("Shader");
  return d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "below", 0x000000, 0, 0, 100, 100);
    m.NewSprite(c, 2, "over", 0xFF9900, 0, 0, 50, 100);
    c.Op("getlocal_2").Op("findpropstrict", {shader}).Op("findpropstrict", {m.Q("Kernel")})
        .Op("constructprop", {m.Q("Kernel"), 0}).Op("constructprop", {shader, 1})
        .Op("setproperty", {m.Q("blendShader")});
    if (probe) probe(m, c);
  });
}

TEST(As3Shader, BlendShaderMixesTheObjectWithWhatIsBelow) {
  gdi::Color left{}, right{};
  const auto out = As3Traced(AverageMovie([](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_2").Op("getproperty", {m.Q("blendMode")})
        .Op("callpropvoid", {m.Q("trace"), 1});
  }), [&](FlashPlayer& p) {
    gdi::Bitmap bmp;
    p.Paint(bmp);
    left = bmp.GetPixel(25, 50);
    right = bmp.GetPixel(75, 50);
  });
  EXPECT_EQ(out, "shader|");
  EXPECT_EQ(left, (gdi::Color{128, 77, 0}));  // (orange + black) / 2
  EXPECT_EQ(right, (gdi::Color{0, 0, 0}));
}

TEST(As3Shader, ShaderDataListsParametersAndInputs) {
  // new Shader(new Kernel()).data: the two image inputs by name; the
  // output and the pixel coordinate are no parameters of it.
  const auto out = As3Traced(AverageMovie([](As3Movie& m, AbcCode& c) {
    const auto shader = m.Display("Shader");
    c.Op("findpropstrict", {shader}).Op("findpropstrict", {m.Q("Kernel")}).Op("constructprop", {m.Q("Kernel"), 0})
        .Op("constructprop", {shader, 1}).Op("getproperty", {m.Q("data")}).Op("setlocal_3");
    for (const char* field : {"background", "foreground", "dst", "_OutCoord"}) {
      c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_3").Op("getproperty", {m.Q(field)})
          .Op("callpropvoid", {m.Q("trace"), 1});
    }
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_3").Op("getproperty", {m.Q("foreground")})
        .Op("getproperty", {m.Q("index")}).Op("callpropvoid", {m.Q("trace"), 1});
  }), [](FlashPlayer&) {});
  EXPECT_EQ(out, "[object ShaderInput]|[object ShaderInput]|undefined|undefined|1|");
}

TEST(As3Shader, AShaderWithoutByteCodeIsRefusedAsABlend) {
  As3Movie d;
  const auto shader = d.Display("Shader");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "over", 0xFF9900, 0, 0, 50, 100);
    c.Op("getlocal_1").Op("findpropstrict", {shader}).Op("constructprop", {shader, 0})
        .Op("setproperty", {m.Q("blendShader")});
  });
  EXPECT_NE(testing::As3Traced(bytes, [](FlashPlayer&) {}).find("Error #2007: Parameter data must be non-null."),
            std::string::npos);
}

TEST(As3Shader, DamagedByteCodeDrawsTheObjectNormally) {
  // A Shader of three bytes: named in the debug log, and the blend is normal.
  As3Movie d;
  const auto shader = d.Display("Shader"), byteArray = d.a.PackageName("flash.utils", "ByteArray");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "below", 0x000000, 0, 0, 100, 100);
    m.NewSprite(c, 2, "over", 0xFF9900, 0, 0, 50, 100);
    c.Op("findpropstrict", {byteArray}).Op("constructprop", {byteArray, 0}).Op("setlocal_3");
    c.Op("getlocal_3").Op("pushint", {m.a.Int(0xA5)}).Op("callpropvoid", {m.Q("writeByte"), 1});
    c.Op("getlocal_3").Op("pushint", {m.a.Int(0x01)}).Op("callpropvoid", {m.Q("writeShort"), 1});
    c.Op("getlocal_2").Op("findpropstrict", {shader}).Op("getlocal_3").Op("constructprop", {shader, 1})
        .Op("setproperty", {m.Q("blendShader")});
  });
  FlashPlayer p;
  p.SetSize(100, 100);
  ASSERT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
  gdi::Bitmap bmp;
  p.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(25, 50), (gdi::Color{255, 153, 0}));
  const auto skipped = p.SkippedFeatures();
  EXPECT_TRUE(std::any_of(skipped.begin(), skipped.end(), [](const std::string& s) { return s.find("Shader") != std::string::npos; }));
}

// new Shader(kernel) with the kernel embedded as the ByteArray class Kernel:
// the first line the movie traces (or reports).
std::string FirstLineLoading(const std::vector<std::uint8_t>& kernel) {
  As3Movie d;
  d.LinkedClass("Kernel", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  d.defineTags = [&kernel](testing::SwfBuilder& b) {
    std::vector<std::uint8_t> body = {7, 0, 0, 0, 0, 0};
    body.insert(body.end(), kernel.begin(), kernel.end());
    b.Tag(87, body);
  };
  const auto shader = d.Display("Shader");
  const auto out = As3Traced(d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {shader}).Op("findpropstrict", {m.Q("Kernel")}).Op("constructprop", {m.Q("Kernel"), 0})
        .Op("constructprop", {shader, 1}).Op("pop");
    c.Op("findpropstrict", {m.Q("trace")}).Op("pushstring", {m.a.String("loaded")})
        .Op("callpropvoid", {m.Q("trace"), 1});
  }), [](FlashPlayer&) {});
  return out.substr(0, out.find('|'));
}

TEST(As3Shader, KernelsFlashRefusesThrowWhenLoaded) {
  testing::KernelBuilder ok;
  ok.Param(2, 4, 0, 0xF, "dst").Op(0x1B, 1, 0x4, 1, 0x00, 1);  // ceil f1.g, f1.r
  EXPECT_EQ(FirstLineLoading(ok.Bytes()), "loaded");
  testing::KernelBuilder mixed;
  mixed.Param(2, 4, 0, 0xF, "dst").Op(0x1B, 1, 0x4, 1 | 0x8000, 0x00, 1);  // ceil f1.g, i1.r
  EXPECT_EQ(FirstLineLoading(mixed.Bytes()), "ArgumentError: Error #2004: One of the parameters is invalid.");
  // Cut inside an instruction: an EOFError, which like all flash.errors
  // classes is named "Error".
  auto cut = ok.Bytes();
  cut.pop_back();
  EXPECT_EQ(FirstLineLoading(cut), "Error: Error #2030: End of file was encountered.");
}

}  // namespace
}  // namespace quarvel::player
