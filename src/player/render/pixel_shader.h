#pragma once
// Pixel shader byte code (the kernels scripts load with `new Shader(bytes)`):
// a bounds-checked reader and an interpreter that runs the kernel once per
// pixel on premultiplied colours, as blend shaders use it.

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarvel::player {

class ShaderError : public std::runtime_error {
 public:
  ShaderError(const std::string& what, std::size_t offset)
      : std::runtime_error("shader byte code at " + std::to_string(offset) + ": " + what), offset_(offset) {}
  std::size_t Offset() const { return offset_; }

 private:
  std::size_t offset_;
};

struct ShaderParameter {
  std::string name;
  int type = 0;         // 1..4 float, 5..7 matrix 2x2..4x4, 8..11 int, 12 string, 13..16 bool
  bool output = false;
  std::uint16_t reg = 0;  // with 0x8000 for an int register
  std::uint8_t mask = 0;  // channels written (8 r, 4 g, 2 b, 1 a); for matrices the size
  std::vector<float> defaultValue;  // from the kernel's metadata, else zeros
  std::size_t ValueCount() const;
};

struct ShaderInput {
  std::string name;
  int index = 0;
  int channels = 4;
};

// A w x h view of premultiplied ARGB pixels (Cairo's ARGB32 or RGB24).
struct ShaderImage {
  const std::uint32_t* pixels = nullptr;
  std::ptrdiff_t stride = 0;  // in pixels
  int width = 0, height = 0;
  bool opaque = false;  // RGB24: alpha reads as 1
};

class PixelShader {
 public:
  // Throws ShaderError for damaged or unsupported byte code.
  static std::shared_ptr<const PixelShader> Parse(std::span<const std::uint8_t> bytes);

  const std::string& Name() const { return name_; }
  const std::vector<ShaderParameter>& Parameters() const { return params_; }
  const std::vector<ShaderInput>& Inputs() const { return inputs_; }
  // Instructions run per pixel, for callers that bound the work.
  std::size_t Length() const { return ops_.size(); }

  // Runs the kernel for each pixel of `out` (w x h premultiplied ARGB32,
  // `outOpaque`: RGB24). `inputs` by input index; `values` one list per
  // parameter (missing ones take their defaults). The output coordinate of
  // pixel (x, y) is its centre, (x + 0.5, y + 0.5).
  void Run(const std::vector<ShaderImage>& inputs, const std::vector<std::vector<float>>& values, int w, int h,
           std::uint32_t* out, std::ptrdiff_t outStride, bool outOpaque) const;

  struct Reg {
    std::uint16_t index = 0;
    bool isInt = false;
    std::uint8_t count = 0;      // channels used
    std::uint8_t channel[4] = {0, 1, 2, 3};
    std::uint8_t matrix = 0;     // 2..4 for a matrix register
  };
  struct Op {
    std::uint8_t code = 0;
    Reg dst, src, src2, cond;
    float f = 0;
    std::int32_t i = 0;
    std::uint8_t texture = 0;
    std::size_t jump = 0;  // If: to after Else (or EndIf); Else: to after EndIf
  };

 private:
  std::string name_;
  std::vector<ShaderParameter> params_;
  std::vector<ShaderInput> inputs_;
  std::vector<Op> ops_;
  std::size_t floatRegs_ = 1, intRegs_ = 1;
};

// What a blendShader draws with: the kernel and its parameter values as
// they were when the script assigned it (later changes need a new assignment).
struct ShaderBlend {
  std::shared_ptr<const PixelShader> shader;
  std::vector<std::vector<float>> values;
};

}  // namespace quarvel::player
