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

// One instruction with its registers resolved to slots of a flat register
// file, read once at upload so draws do not decode operands per pixel.
struct Step {
  std::uint8_t op = 0, mask = 0xF, swizzleA = 0xE4, swizzleB = 0xE4;
  std::uint8_t sampler = 0, wrap = 0, filter = 0;
  std::uint32_t dst = 0, a = 0, b = 0;
  std::array<std::uint32_t, 4> rows{};  // m33, m34, m44: the matrix's registers
};

struct Program {
  bool fragment = false;
  std::vector<Instruction> code;
  std::vector<Step> steps;
  // An indirect read (vc[va0.x + n]) resolves only when run: such a program
  // runs through the plain reading of `code`.
  bool indirect = false;
  // Bit per register: the varyings and temporaries the code names.
  std::uint8_t varyings = 0, temporaries = 0;
  std::uint32_t constantRegisters = 0;  // one past the highest constant read
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
  // Every pixel as Pixel gives it, row by row, or'ed with `orMask`; `out`
  // holds width * height words.
  void Pixels(std::span<std::uint32_t> out, std::uint32_t orMask = 0) const;
  // The channels as stored, as an ARGB word (a texture drawn into), and back.
  std::uint32_t Word(int x, int y) const;
  void SetWord(int x, int y, std::uint32_t argb);
  // All pixels as words and back, row by row (width * height words).
  void Words(std::span<std::uint32_t> out) const;
  void SetWords(std::span<const std::uint32_t> in);
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
// A pixel whose centre lies on an edge belongs to the triangle whose top or
// left edge it is, so meshes draw each pixel once.
void DrawTriangles(Target& t, const Draw& d, std::size_t first, std::size_t count);

// The registers of one run of a program, as tests set and read them.
struct Registers {
  std::array<std::array<float, 4>, 8> in{}, temp{}, varying{};
  std::array<float, 4> out{0, 0, 0, 1};
  bool killed = false;
};
// Runs `p` once on `r`: its steps, or (`plain`) each instruction as read.
// The two agree bit for bit; tests hold them to it.
void RunProgram(const Program& p, Registers& r, std::span<const float> constants,
               const std::array<TextureView, 8>& textures, bool plain);

}  // namespace quarvel::player::agal
