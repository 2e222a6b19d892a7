#pragma once
// Text layout for text fields: formatted text in a box, as Flash lays it out
// (2-pixel gutter, lines of ascent + descent + leading, alignment, wrapping at
// spaces), shaped with HarfBuzz on device fonts found by fontconfig, or with
// the advances of a font embedded in the movie. Free of any script machinery:
// timeline fields, ActionScript 2 and 3 fields all lay out through here.
// Sizes are pixels; the field's top left corner is (0, 0).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quarvel::player {

struct FontDef;

namespace text {

enum class Align { kLeft, kRight, kCenter, kJustify };
enum class AutoSize { kNone, kLeft, kCenter, kRight };

// Everything a character can carry; the paragraph members count from the
// first character of each paragraph.
struct Format {
  std::string font = "Times New Roman";
  double size = 12;
  std::uint32_t color = 0;  // 0xRRGGBB
  bool bold = false, italic = false, underline = false;
  std::string url, target;
  double letterSpacing = 0;
  bool kerning = false;
  // Paragraph.
  Align align = Align::kLeft;
  double leftMargin = 0, rightMargin = 0, indent = 0, blockIndent = 0, leading = 0;
  bool bullet = false;
  std::vector<double> tabStops;
  bool operator==(const Format&) const = default;
};
using FormatPtr = std::shared_ptr<const Format>;

// Text with a format for each character; '\r' ends a paragraph.
struct StyledText {
  std::u32string chars;
  std::vector<FormatPtr> formats;  // one per character
  void Append(const std::u32string& s, const FormatPtr& f);
  void Clear() {
    chars.clear();
    formats.clear();
  }
};

std::u32string FromUtf8(const std::string& s);
std::string ToUtf8(const std::u32string& s);

// A face to draw glyphs with: a device font or an embedded one.
class DeviceFace;
struct Face {
  const DeviceFace* device = nullptr;
  const FontDef* embedded = nullptr;
  bool operator==(const Face&) const = default;
};

struct PlacedGlyph {
  std::uint32_t index = 0;  // in the face
  double x = 0;             // pen position on the baseline
};

// Glyphs of one face, size and colour on one line.
struct GlyphRun {
  Face face;
  double size = 12;
  std::uint32_t color = 0;
  double y = 0;  // baseline
  std::vector<PlacedGlyph> glyphs;
  bool underline = false;
  double x0 = 0, x1 = 0;  // extent, for the underline (spaces after the ink included)
  double lineDescent = 0;  // of the run's line, which places the underline
};

struct Line {
  std::size_t first = 0, end = 0;  // characters
  double x = 0, width = 0;          // where the line's text starts, and its width
  double top = 0, ascent = 0, descent = 0, leading = 0;
};

struct Box {
  double width = 100, height = 100;
  bool wordWrap = false, multiline = false;
  AutoSize autoSize = AutoSize::kNone;
  bool password = false;
  // An input field counts the empty line after a final line end in its
  // text height (a caret can stand there); other fields do not.
  bool input = false;
  // The format an empty text's line takes its height from (what is typed next).
  const Format* emptyFormat = nullptr;
  // Before SWF 8 a line's trailing spaces count in its width whatever its
  // alignment; later only in a left aligned line's.
  bool trailingSpacesCount = false;
};

// Finds a font of the movie by name and style (for embedded-font fields);
// null when it has none.
using EmbeddedFonts = std::function<const FontDef*(const std::string& name, bool bold, bool italic)>;

struct Layout {
  std::vector<Line> lines;
  std::vector<GlyphRun> runs;
  double textWidth = 0, textHeight = 0;
  // The box after autoSize, in the field's space (x may move left).
  double boxX = 0, boxWidth = 0, boxHeight = 0;
  // Each character's left edge on its line and its advance (pixels).
  std::vector<double> charX, charAdvance;
  // Lines that fit the box from the first, and the scroll limits.
  int maxScroll = 1;
  double maxHScroll = 0;
  // The first line that shows when the field is scrolled to `scroll` (1-based),
  // and the last one wholly shown.
  int BottomScroll(int scroll) const;
};

// Lays `text` out in `box`. With `embedded` set, characters take the
// movie's font of their format's name (and draw nothing when it has none).
Layout LayOut(const StyledText& text, const Box& box, const EmbeddedFonts* embedded = nullptr);

// One line of plain text in one format: its width and height as
// TextFormat.getTextExtent reports them.
struct Extent {
  double width = 0, height = 0, ascent = 0, descent = 0;
};
Extent MeasureLine(const std::u32string& s, const Format& f);

// The free family a device font name is drawn in, and the weight and slant
// its name asks for ("Arial Black" is Arial's free font, bold).
struct DeviceFontName {
  std::string family;
  bool bold = false, italic = false;
};
DeviceFontName ReadDeviceFontName(const std::string& name);

// The device face a font name stands for: the Flash names _sans, _serif and
// _typewriter and the usual Windows fonts go to metric-compatible free ones.
const DeviceFace& FindDeviceFace(const std::string& name, bool bold, bool italic);
// Its metrics (per pixel of size) and outlines.
double DeviceAscent(const DeviceFace& f);
double DeviceDescent(const DeviceFace& f);
std::string DeviceFamily(const DeviceFace& f);

// One outline command: 0 move, 1 line, 2 quadratic, 3 cubic; points in em
// units with y down.
struct OutlineOp {
  std::uint8_t op = 0;
  float x[3] = {}, y[3] = {};
};
// The glyph's outline (cached); empty when it has none.
const std::vector<OutlineOp>& DeviceGlyphOutline(const DeviceFace& f, std::uint32_t glyph);

}  // namespace text
}  // namespace quarvel::player
