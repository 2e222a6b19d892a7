#pragma once
// Stage3D in software: AGAL programs (the byte code Program3D uploads) read
// and run per vertex and per pixel, and a triangle rasterizer with depth
// test and blending over a float back buffer.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarvel::player::agal {

class AgalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Operand {
  std::uint8_t type = 0;  // 0 attribute, 1 constant, 2 temporary, 3 output, 4 varying, 5 sampler
  std::uint16_t index = 0;
  std::uint8_t swizzle = 0xE4;  // xyzw
  std::uint8_t mask = 0xF;      // destination: bit 0 x .. bit 3 w
  bool indirect = false;
  std::uint8_t indexType = 0, indexSelect = 0;
  std::int8_t offset = 0;
  // Samplers: 0 2D, 1 cube; wrap 0 clamp, 1 repeat; filter 0 nearest, 1 linear.
  std::uint8_t dimension = 0, wrap = 0, filter = 0;
};

struct Instruction {
  std::uint32_t op = 0;
  Operand dst, a, b;
};

// Why Flash refuses a program at upload: its error number, whether it is an
// ArgumentError (else an Error), and its message.
struct Fault {
  int id = 0;
  bool argument = false;
  std::string message;
};

// The checks Flash's upload makes of one program (`fragment`: the
// fragment slot): header, size, then each token's registers and samplers.
std::optional<Fault> Validate(std::span<const std::uint8_t> bytes, bool fragment);

struct Program {
  bool fragment = false;
  std::vector<Instruction> code;
  // Throws AgalError for a bad header, an unknown opcode or register.
  static Program Parse(std::span<const std::uint8_t> bytes);
};

// One vertex stream: `components` floats (or 4 bytes for bytes4) at
// `offset` in each vertex of `perVertex` floats.
struct Stream {
  const float* data = nullptr;
  int vertices = 0, perVertex = 0, offset = 0, components = 0;
  bool bytes4 = false;
};

// A texture's level 0: ARGB words as uploaded (a BitmapData's premultiplied); a cube's six faces stacked.
struct TextureView {
  const std::uint32_t* pixels = nullptr;
  int width = 0, height = 0;
  bool cube = false;
};

enum class Blend : std::uint8_t {
  kZero, kOne, kSrcAlpha, kSrcColor, kDstAlpha, kDstColor, kOneMinusSrcAlpha, kOneMinusSrcColor,
  kOneMinusDstAlpha, kOneMinusDstColor
};
enum class Compare : std::uint8_t { kAlways, kNever, kLess, kLessEqual, kEqual, kGreater, kGreaterEqual, kNotEqual };
enum class Cull : std::uint8_t { kNone, kFront, kBack, kBoth };

struct DrawState {
  Blend source = Blend::kOne, destination = Blend::kZero;
  Compare depth = Compare::kLess;
  bool depthWrite = true;
  Cull cull = Cull::kNone;
  std::array<bool, 4> colorMask{true, true, true, true};
  // Only pixels inside [x, x + width) x [y, y + height) are drawn, when set.
  bool scissor = false;
  int scissorX = 0, scissorY = 0, scissorWidth = 0, scissorHeight = 0;
};

// The back buffer: straight r, g, b, a floats and a depth per pixel.
struct Target {
  int width = 0, height = 0;
  std::vector<float> color, depth;
  void Resize(int w, int h);
  void Clear(const std::array<float, 4>& rgba, float depth, bool color, bool depthToo);
  // Premultiplied ARGB32 of pixel (x, y).
  std::uint32_t Pixel(int x, int y) const;
  // The channels as stored, as an ARGB word (a texture drawn into), and back.
  std::uint32_t Word(int x, int y) const;
  void SetWord(int x, int y, std::uint32_t argb);
};

struct Draw {
  const Program* vertex = nullptr;
  const Program* fragment = nullptr;
  std::span<const float> vertexConstants, fragmentConstants;  // 4 floats a register
  std::array<Stream, 8> streams{};
  std::array<TextureView, 8> textures{};
  std::span<const std::uint16_t> indices;
  DrawState state;
};

// Draws triangles [first, first + 3 * count) of the index list. Throws
// AgalError when an index names no vertex of a stream the program reads.
void DrawTriangles(Target& t, const Draw& d, std::size_t first, std::size_t count);

}  // namespace quarvel::player::agal
