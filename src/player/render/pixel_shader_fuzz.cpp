// libFuzzer entry for pixel kernels: any bytes read as kernel code and, when
// accepted, run over a small image with two inputs.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "player/render/pixel_shader.h"

using namespace quarvel::player;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<const PixelShader> shader;
  try {
    shader = PixelShader::Parse(std::span<const std::uint8_t>(data, size));
  } catch (const ShaderError&) {
    return 0;
  }
  constexpr int kSide = 4;
  std::vector<std::uint32_t> a(kSide * kSide, 0x80402010u), b(kSide * kSide, 0xFF00FF00u), out(kSide * kSide);
  const std::vector<ShaderImage> inputs = {{a.data(), kSide, kSide, kSide, false}, {b.data(), kSide, kSide, kSide, true}};
  shader->Run(inputs, {{1, 2}, {0.5f}}, kSide, kSide, out.data(), kSide, false);
  return 0;
}
