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
  // `truncated`: the byte code ends inside an instruction (Flash's end of
  // file); otherwise it is invalid.
  ShaderError(const std::string& what, std::size_t offset, bool truncated = false)
      : std::runtime_error("shader byte code at " + std::to_string(offset) + ": " + what),
        offset_(offset),
        truncated_(truncated) {}
  std::size_t Offset() const { return offset_; }
  bool Truncated() const { return truncated_; }

 private:
  std::size_t offset_;
  bool truncated_;
};

// One metadata entry of the kernel or of a parameter: numbers (ints for
// the int types) or a string (type 12).
struct ShaderMeta {
  std::string key;
  int type = 0;
  std::vector<float> values;
  std::string text;
};

struct ShaderParameter {
  std::string name;
  int type = 0;         // 1..4 float, 5..7 matrix 2x2..4x4, 8..11 int, 12 string, 13..16 bool
  bool output = false;
  std::uint16_t reg = 0;  // with 0x8000 for an int register
  std::uint8_t mask = 0;  // channels written (8 r, 4 g, 2 b, 1 a); for matrices the size
  std::vector<float> defaultValue;  // from the kernel's metadata, else zeros
  std::vector<ShaderMeta> meta;     // in the kernel's order
  std::size_t ValueCount() const;
  bool IsMatrix() const { return type >= 5 && type <= 7; }
  bool IsInt() const { return type >= 8 && type <= 11; }
  bool IsBool() const { return type >= 13 && type <= 16; }
};

struct ShaderInput {
  std::string name;
  int index = 0;
  int channels = 4;
};

// Flash's name of a parameter type ("float2", "matrix3x3", "bool4"...).
const char* ShaderTypeName(int type);

// A w x h view of premultiplied ARGB pixels (Cairo's ARGB32 or RGB24), or
// of `channels` floats a pixel (the float lists and byte arrays ShaderJob
// reads), row after row.
struct ShaderImage {
  const std::uint32_t* pixels = nullptr;
  std::ptrdiff_t stride = 0;  // in pixels
  int width = 0, height = 0;
  bool opaque = false;  // RGB24: alpha reads as 1
  const float* floats = nullptr;
  int channels = 4;
};

// Where a run puts each pixel's result: the output's `count` channels.
class ShaderSink {
 public:
  virtual ~ShaderSink() = default;
  virtual void Put(int x, int y, const float* channels, int count) = 0;
};

class PixelShader {
 public:
  // Throws ShaderError for damaged or unsupported byte code.
  static std::shared_ptr<const PixelShader> Parse(std::span<const std::uint8_t> bytes);

  const std::string& Name() const { return name_; }
  const std::vector<ShaderParameter>& Parameters() const { return params_; }
  const std::vector<ShaderInput>& Inputs() const { return inputs_; }
  // The kernel's own metadata (namespace, vendor, version, description...).
  const std::vector<ShaderMeta>& Meta() const { return meta_; }
  // The output parameter, or null.
  const ShaderParameter* Output() const;
  // Channels the output writes (1..4).
  int OutputChannels() const;
  // Instructions run per pixel, for callers that bound the work.
  std::size_t Length() const { return ops_.size(); }

  // Runs the kernel for each pixel of `out` (w x h premultiplied ARGB32,
  // `outOpaque`: RGB24). `inputs` by input index; `values` one list per
  // parameter (missing ones take their defaults). The output coordinate of
  // pixel (x, y) is its centre, (x + 0.5, y + 0.5).
  void Run(const std::vector<ShaderImage>& inputs, const std::vector<std::vector<float>>& values, int w, int h,
           std::uint32_t* out, std::ptrdiff_t outStride, bool outOpaque) const;
  // The same, handing each pixel's output channels to `sink` unclamped.
  void Run(const std::vector<ShaderImage>& inputs, const std::vector<std::vector<float>>& values, int w, int h,
           ShaderSink& sink) const;

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
  std::vector<ShaderMeta> meta_;
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
