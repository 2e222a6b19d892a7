// Writes the bundled sample movie: four seconds of moving shapes, gradients,
// a bitmap, text, a sprite and a streamed tone, made with the SWF builder.
//   quarvel-sample-movie OUT.swf
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "support/shape_builder.h"
#include "support/swf_builder.h"
#include "support/swf_writer.h"

namespace {

using namespace quarvel;
using testing::FillStyle;
using testing::GradientStop;
using testing::Placement;
using testing::ShapeBuilder;
using testing::SoundFormat;
using testing::SwfBuilder;
using testing::SwfWriter;
using testing::Timeline;

constexpr int kFps = 15;
constexpr int kFrames = 60;
constexpr int kWidth = 550, kHeight = 400;  // pixels
constexpr int kSampleRate = 11025;
constexpr int kSamplesPerFrame = kSampleRate / kFps;

enum : std::uint16_t { kBand = 1, kBall, kChecker, kTile, kFont, kText, kBlade, kSpinner };

swf::Matrix Translate(int x_px, int y_px, double scale = 1.0, double angle = 0.0) {
  swf::Matrix m;
  m.scaleX = m.scaleY = scale * std::cos(angle);
  m.rotateSkew0 = scale * std::sin(angle);
  m.rotateSkew1 = -scale * std::sin(angle);
  m.translateX = x_px * 20;
  m.translateY = y_px * 20;
  return m;
}

// A blocky 3 x 5 font: each glyph a set of filled cells, 1024 units per em.
const std::map<char, const char*> kGlyphs = {
    {'Q', "111101101111011"}, {'U', "101101101101111"}, {'A', "010101111101101"},
    {'R', "110101110101101"}, {'V', "101101101101010"}, {'E', "111100110100111"},
    {'L', "100100100100111"},
};
const std::string kWord = "QUARVEL";
constexpr int kCell = 160, kAdvance = 640;

std::vector<std::uint8_t> GlyphShape(const char* cells) {
  ShapeBuilder s;
  std::uint16_t fill = s.AddFill(FillStyle::Solid({0, 0, 0, 255}));
  for (int row = 0; row < 5; ++row)
    for (int col = 0; col < 3; ++col)
      if (cells[row * 3 + col] == '1') s.Rectangle(col * kCell, -800 + row * kCell, kCell, kCell, fill);
  // SHAPEWITHSTYLE of DefineShape 1 less its style arrays (one solid fill of
  // four bytes and the counts) is the glyph's SHAPE record.
  std::vector<std::uint8_t> encoded = s.Encode(1);
  return std::vector<std::uint8_t>(encoded.begin() + 6, encoded.end());
}

void DefineFontAndText(Timeline& t) {
  std::vector<std::vector<std::uint8_t>> shapes;
  for (char c : kWord) shapes.push_back(GlyphShape(kGlyphs.at(c)));
  SwfWriter font;
  font.U16(kFont);
  std::size_t offset = shapes.size() * 2;
  for (const auto& g : shapes) {
    font.U16(static_cast<std::uint16_t>(offset));
    offset += g.size();
  }
  for (const auto& g : shapes) font.Bytes(g);
  t.Tag(swf::tag::kDefineFont, font.Data());

  const int height = 960;  // twips (48 px)
  const int advance = kAdvance * height / 1024;
  SwfWriter text;
  text.U16(kText);
  text.Rect({0, advance * static_cast<int>(kWord.size()), -height, 0});
  text.Matrix({});
  text.U8(3);   // glyph bits
  text.U8(12);  // advance bits
  text.U8(0x8F);
  text.U16(kFont);
  text.Rgb({250, 250, 250, 255});
  text.S16(0);
  text.S16(0);
  text.U16(static_cast<std::uint16_t>(height));
  text.U8(static_cast<std::uint8_t>(kWord.size()));
  for (std::size_t i = 0; i < kWord.size(); ++i) {
    text.UB(static_cast<std::uint32_t>(i), 3);
    text.SB(advance, 12);
  }
  text.Align();
  text.U8(0);
  t.Tag(swf::tag::kDefineText, text.Data());
}

std::vector<std::uint8_t> ToneBlock(int frame) {
  // A tone that climbs a fifth halfway through, so the sound shows in an AVI.
  const double hz = frame < kFrames / 2 ? 440.0 : 660.0;
  std::vector<std::uint8_t> out;
  for (int i = 0; i < kSamplesPerFrame; ++i) {
    double t = double(frame * kSamplesPerFrame + i) / kSampleRate;
    auto v = static_cast<std::int16_t>(std::lround(8000 * std::sin(2 * std::numbers::pi * hz * t)));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  return out;
}

std::vector<std::uint8_t> BuildSample() {
  SwfBuilder b(8, {0, kWidth * 20, 0, kHeight * 20}, kFps);
  b.SetBackgroundColor({32, 40, 64, 255});

  ShapeBuilder band;
  band.Rectangle(0, 0, kWidth * 20, 3000,
                 band.AddFill(FillStyle::Linear({{0, {255, 120, 0, 255}}, {128, {255, 240, 80, 255}}, {255, {40, 160, 255, 255}}},
                                                swf::Matrix{kWidth * 20 / 32768.0, 1.0, 0, 0, kWidth * 10, 1500})));
  b.DefineShape(kBand, band);

  ShapeBuilder ball;
  ball.Rectangle(-1200, -1200, 2400, 2400,
                 ball.AddFill(FillStyle::Radial({{0, {255, 255, 255, 255}}, {200, {220, 30, 60, 255}}, {255, {32, 40, 64, 255}}},
                                                swf::Matrix{2400 / 32768.0, 2400 / 32768.0, 0, 0, 0, 0})));
  b.DefineShape(kBall, ball);

  std::vector<swf::Rgba> checker;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      checker.push_back(((x / 8 + y / 8) % 2) ? swf::Rgba{30, 200, 120, 255} : swf::Rgba{240, 240, 240, 255});
  b.DefineBitsLossless(kChecker, 32, 32, checker);
  ShapeBuilder tile;
  tile.Rectangle(0, 0, 64 * 20, 64 * 20, tile.AddFill(FillStyle::Bitmap(kChecker, swf::Matrix{40, 40, 0, 0, 0, 0})));
  b.DefineShape(kTile, tile);

  DefineFontAndText(b);

  ShapeBuilder blade;
  blade.Rectangle(-100, -700, 200, 1400, blade.AddFill(FillStyle::Solid({255, 220, 0, 255})));
  b.DefineShape(kBlade, blade);
  Timeline spinner;
  for (int f = 0; f < 6; ++f) {
    if (f == 0)
      spinner.PlaceObject2({.depth = 1, .characterId = kBlade, .matrix = Translate(0, 0)});
    else
      spinner.PlaceObject2({.depth = 1, .move = true, .matrix = Translate(0, 0, 1.0, f * std::numbers::pi / 6)});
    spinner.ShowFrame();
  }
  b.DefineSprite(kSpinner, spinner);

  b.SoundStreamHead(SoundFormat{3, 1, true, false}, SoundFormat{3, 1, true, false}, kSamplesPerFrame);

  for (int f = 0; f < kFrames; ++f) {
    double p = double(f) / (kFrames - 1);
    if (f == 0) {
      b.PlaceObject2({.depth = 1, .characterId = kBand, .matrix = Translate(0, 250)});
      b.PlaceObject2({.depth = 2, .characterId = kTile, .matrix = Translate(440, 30)});
      b.PlaceObject2({.depth = 3, .characterId = kText, .matrix = Translate(30, 90)});
      b.PlaceObject2({.depth = 4, .characterId = kSpinner, .matrix = Translate(470, 330)});
      b.PlaceObject2({.depth = 5, .characterId = kBall, .matrix = Translate(60, 200)});
    } else {
      b.PlaceObject2({.depth = 5, .move = true, .matrix = Translate(60 + static_cast<int>(p * 360), 200 + static_cast<int>(80 * std::sin(p * 6.0)), 0.6 + 0.6 * p)});
      b.PlaceObject2({.depth = 2, .move = true, .matrix = Translate(440, 30 + (f % 20) * 2, 1.0, p * std::numbers::pi)});
    }
    auto block = ToneBlock(f);
    b.SoundStreamBlock(block);
    if (f == kFrames - 1) b.DoAction(testing::Actions().Stop());
    b.ShowFrame();
  }
  b.End();
  return b.Build(swf::Compression::kZlib);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quarvel-sample-movie OUT.swf\n");
    return 2;
  }
  try {
    auto bytes = BuildSample();
    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) throw std::runtime_error(std::string("cannot create ") + argv[1]);
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) throw std::runtime_error(std::string("cannot write ") + argv[1]);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quarvel-sample-movie: %s\n", e.what());
    return 1;
  }
}
