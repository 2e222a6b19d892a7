// Text layout against known font metrics (Liberation Sans has the advance
// widths of Arial, which are Helvetica's widths scaled to 2048 units), HTML
// and style sheets, and embedded fonts drawn from their outlines.
#include "player/text/text_layout.h"

#include <cairo.h>

#include <cmath>
#include <initializer_list>
#include <gtest/gtest.h>

#include "player/library/characters.h"
#include "player/library/movie_library.h"
#include "player/render/render_context.h"
#include "player/text/text_field.h"
#include "player/text/text_render.h"

namespace quarvel::player::text {
namespace {

// Helvetica widths per 1000 units: what Arial, and so Liberation Sans, advance.
constexpr double kH = 722, kE = 556, kL = 222, kO = 556, kA = 556, kB = 556, kC = 500, kSpace = 278;

// Line metrics are whole twips, the fraction dropped.
double Twips(double px) { return std::trunc(px * 20 + 1e-9) / 20; }

// Device text advances by whole pixels: the widths of characters at `size`.
double Px(std::initializer_list<double> widths, double size) {
  double sum = 0;
  for (double w : widths) sum += std::round(w * size / 1000);
  return sum;
}

StyledText Plain(const std::string& s, const Format& f) {
  StyledText t;
  t.Append(FromUtf8(s), std::make_shared<Format>(f));
  return t;
}

Format Arial(double size) {
  Format f;
  f.font = "Arial";
  f.size = size;
  return f;
}

TEST(TextLayout, DeviceTextTakesTheMetricsOfArial) {
  const Layout l = LayOut(Plain("Hello", Arial(12)), Box{});
  ASSERT_EQ(l.lines.size(), 1u);
  EXPECT_NEAR(l.textWidth, Px({kH, kE, kL, kL, kO}, 12), 1e-9);
  // Line height: ascent + descent of the font (0.905 + 0.212 em).
  EXPECT_NEAR(l.lines[0].ascent, 0.905 * 12, 0.05);
  EXPECT_NEAR(l.textHeight, Twips(0.905 * 12) + Twips(0.212 * 12), 0.01);
  // The first line starts inside the 2-pixel gutter.
  EXPECT_NEAR(l.lines[0].x, 2, 1e-9);
  EXPECT_NEAR(l.lines[0].top, 2, 1e-9);
  // The Flash names and the usual Windows ones find metric-compatible faces.
  EXPECT_EQ(DeviceFamily(FindDeviceFace("_sans", false, false)), "Liberation Sans");
  EXPECT_EQ(DeviceFamily(FindDeviceFace("Times New Roman", false, false)), "Liberation Serif");
  EXPECT_EQ(DeviceFamily(FindDeviceFace("_typewriter", true, false)), "Liberation Mono");
  EXPECT_EQ(DeviceFamily(FindDeviceFace("Arial, Helvetica", false, false)), "Liberation Sans");
}

// Names that extend a family take its free font, with the weight and slant
// the rest of the name gives; other names are left to the font library.
TEST(TextLayout, DeviceNamesThatExtendAFamilyTakeItsFreeFont) {
  struct Case {
    const char* name;
    const char* family;
    bool bold, italic;
  };
  for (const Case& c : {Case{"Arial Rounded MT Bold", "Liberation Sans", true, false},
                        Case{"Arial Black", "Liberation Sans", true, false},
                        Case{"Arial Unicode MS", "Liberation Sans", false, false},
                        Case{"Arial-BoldItalicMT", "Liberation Sans", true, true},
                        Case{"ArialMT", "Liberation Sans", false, false},
                        Case{"TimesNewRomanPSMT", "Liberation Serif", false, false},
                        Case{"Times New Roman Italic", "Liberation Serif", false, true},
                        Case{"Courier New Bold", "Liberation Mono", true, false},
                        Case{"Arial Narrow", "Liberation Sans Narrow", false, false},
                        Case{"Arial", "Liberation Sans", false, false}}) {
    const DeviceFontName n = ReadDeviceFontName(c.name);
    EXPECT_EQ(n.family, c.family) << c.name;
    EXPECT_EQ(n.bold, c.bold) << c.name;
    EXPECT_EQ(n.italic, c.italic) << c.name;
  }
  // Not a family's extension: a word that only starts like one, an unknown name.
  for (const char* name : {"Arialic", "Timeless", "Comic Sans MS"}) {
    EXPECT_EQ(ReadDeviceFontName(name).family, name) << name;
  }
  // Laid out, such a name advances as its family does in the weight it names.
  Format bold = Arial(20);
  bold.bold = true;
  Format rounded = Arial(20);
  rounded.font = "Arial Rounded MT Bold";
  EXPECT_NEAR(LayOut(Plain("Inscrire ta date", rounded), Box{}).textWidth,
              LayOut(Plain("Inscrire ta date", bold), Box{}).textWidth, 1e-9);
}

// A font the movie names but this machine lacks draws with a stand-in face
// yet keeps the named font's line metrics, as its lines have on Windows: a
// box sized to the text is as tall as the author saw it. Fonts with a free
// twin keep the twin's own; widths stay the stand-in's.
TEST(TextLayout, MissingFontsOfKnownMetricsKeepTheirLineHeight) {
  struct Case {
    const char* font;
    double ascent, descent;  // Windows metrics per em
  };
  for (Case c : {Case{"Comic Sans MS", 1.1021, 0.2915}, Case{"Verdana", 1.0054, 0.2100},
                 Case{" tahoma ", 1.0005, 0.2065}, Case{"Arial", 0.905, 0.212}}) {
    Format f = Arial(20);
    f.font = c.font;
    const Layout l = LayOut(Plain("Start Game", f), Box{});
    ASSERT_EQ(l.lines.size(), 1u) << c.font;
    EXPECT_NEAR(l.lines[0].ascent, c.ascent * 20, 0.06) << c.font;
    EXPECT_NEAR(l.textHeight, Twips(c.ascent * 20) + Twips(c.descent * 20), 0.06) << c.font;
  }
  // The stand-in shared by two such names carries each name's metrics, and
  // the face of its own name keeps its own.
  const DeviceFace& comic = FindDeviceFace("Comic Sans MS", false, false);
  const DeviceFace& verdana = FindDeviceFace("Verdana", false, false);
  EXPECT_NE(DeviceAscent(comic), DeviceAscent(verdana));
  const DeviceFace& own = FindDeviceFace(DeviceFamily(comic), false, false);
  EXPECT_NE(DeviceAscent(own), DeviceAscent(comic));
}

TEST(TextLayout, WrapsAtSpacesAndBreaksWordsTooLongForALine) {
  Box box;
  const double word = Px({kA, kB, kC}, 10);  // "abc" at 10 px
  box.width = 4 + 2 * word + Px({kSpace}, 10) + 1;  // two words and a space
  box.wordWrap = true;
  const Layout l = LayOut(Plain("abc abc abc", Arial(10)), box);
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_EQ(l.lines[0].first, 0u);
  EXPECT_EQ(l.lines[0].end, 8u);  // the space stays on the first line
  EXPECT_EQ(l.lines[1].first, 8u);
  // and counts in its width: the line is left aligned.
  EXPECT_NEAR(l.lines[0].width, 2 * word + 2 * Px({kSpace}, 10), 1e-9);
  // Lines placed by their ink leave trailing spaces out.
  Format right = Arial(10);
  right.align = Align::kRight;
  EXPECT_NEAR(LayOut(Plain("abc abc abc", right), box).lines[0].width, 2 * word + Px({kSpace}, 10), 1e-9);
  EXPECT_EQ(LayOut(Plain(" ", right), box).textWidth, 0);
  EXPECT_EQ(LayOut(Plain(" ", Arial(10)), box).textWidth, Px({kSpace}, 10));

  // Without wrapping everything stays on one line.
  box.wordWrap = false;
  EXPECT_EQ(LayOut(Plain("abc abc abc", Arial(10)), box).lines.size(), 1u);

  // A word wider than the box breaks where it must: 3 of 6 px fit in 20.
  box.width = 24;
  box.wordWrap = true;
  const Layout broken = LayOut(Plain("aaaaaaaaaa", Arial(10)), box);
  ASSERT_EQ(broken.lines.size(), 4u);
  EXPECT_EQ(broken.lines[0].end, 3u);
  EXPECT_EQ(broken.lines[3].first, 9u);

  // A tab is no place to break: "abc<tab>abc" breaks inside the second word
  // where the line is full (the tab goes to 27 px, and 2 of its letters fit).
  box.width = 4 + 27 + Px({kA, kB}, 10) + 1;
  const Layout tabbed = LayOut(Plain("abc\tabc", Arial(10)), box);
  ASSERT_EQ(tabbed.lines.size(), 2u);
  EXPECT_EQ(tabbed.lines[0].end, 6u);
  // After a hyphen is: "abc-abc" breaks after the hyphen.
  box.width = 4 + word + Px({kA, kB}, 10) + 1;
  const Layout hyphen = LayOut(Plain("abc-abc", Arial(10)), box);
  ASSERT_EQ(hyphen.lines.size(), 2u);
  EXPECT_EQ(hyphen.lines[0].end, 4u);
  EXPECT_EQ(hyphen.lines[1].first, 4u);
}

TEST(TextLayout, LineEndsStartParagraphsAndLeadingSeparatesLines) {
  Format f = Arial(10);
  f.leading = 5;
  const Layout l = LayOut(Plain("a\rb\nc", f), Box{});
  ASSERT_EQ(l.lines.size(), 3u);
  const double line = Twips(0.905 * 10) + Twips(0.212 * 10);
  EXPECT_NEAR(l.lines[1].top - l.lines[0].top, line + 5, 0.01);
  // textHeight counts the leading between lines, not after the last.
  EXPECT_NEAR(l.textHeight, 3 * line + 2 * 5, 0.05);
  // A final line end leaves an empty last line.
  EXPECT_EQ(LayOut(Plain("a\r", f), Box{}).lines.size(), 2u);
  EXPECT_EQ(LayOut(Plain("", f), Box{}).textHeight, 0);
  // A single line still brings its leading, and autoSize fits the box to it.
  Box box;
  box.autoSize = AutoSize::kLeft;
  const Layout one = LayOut(Plain("a", f), box);
  EXPECT_NEAR(one.textHeight, line + 5, 0.01);
  EXPECT_NEAR(one.boxHeight, line + 5 + 4, 0.01);
  EXPECT_NEAR(LayOut(Plain("a\rb", f), box).boxHeight, 2 * line + 5 + 4, 0.01);
}

// A line ended by its paragraph's end is as tall as that end's format
// asks, as a list item of small text closed in the field's size is; a line
// the text wraps is as tall as its own characters.
TEST(TextLayout, ParagraphEndsCountInTheirLinesHeight) {
  StyledText t;
  const auto small = std::make_shared<Format>(Arial(10));
  const auto big = std::make_shared<Format>(Arial(20));
  t.Append(U"a", small);
  t.Append(U"\r", big);
  t.Append(U"b", small);
  const Layout l = LayOut(t, Box{});
  ASSERT_EQ(l.lines.size(), 2u);
  EXPECT_NEAR(l.lines[0].ascent, Twips(0.905 * 20), 0.01);
  EXPECT_NEAR(l.lines[0].descent, Twips(0.212 * 20), 0.01);
  EXPECT_NEAR(l.lines[1].ascent, Twips(0.905 * 10), 0.01);
  EXPECT_NEAR(l.textHeight, Twips(0.905 * 20) + Twips(0.212 * 20) + Twips(0.905 * 10) + Twips(0.212 * 10), 0.01);
}

TEST(TextLayout, TabsGoToTheNextStop) {
  // Without stops: multiples of 2.7 times the size, 27 pixels at 10.
  EXPECT_NEAR(LayOut(Plain("a\tb", Arial(10)), Box{}).textWidth, 27 + Px({kB}, 10), 1e-9);
  EXPECT_NEAR(LayOut(Plain("\t\tb", Arial(10)), Box{}).textWidth, 54 + Px({kB}, 10), 1e-9);
  // With stops: the next one past the pen; past the last, tabs move nothing.
  Format f = Arial(10);
  f.tabStops = {40, 50};
  EXPECT_NEAR(LayOut(Plain("a\tb", f), Box{}).textWidth, 40 + Px({kB}, 10), 1e-9);
  EXPECT_NEAR(LayOut(Plain("a\t\t\tb", f), Box{}).textWidth, 50 + Px({kB}, 10), 1e-9);
}

TEST(TextLayout, BulletedTextStartsThirtySixPixelsInAndAlignsLeft) {
  Format f = Arial(10);
  f.bullet = true;
  f.align = Align::kRight;
  f.leftMargin = 4;
  const Layout l = LayOut(Plain("ab", f), Box{});
  ASSERT_EQ(l.lines.size(), 1u);
  EXPECT_NEAR(l.lines[0].x, 2 + 4 + 36, 1e-9);
  // The bullet sits half way in, before the text.
  ASSERT_FALSE(l.runs.empty());
  ASSERT_EQ(l.runs[0].glyphs.size(), 3u);
  EXPECT_NEAR(l.runs[0].glyphs[0].x, 2 + 4 + 18, 1e-9);
  EXPECT_NEAR(l.runs[0].glyphs[1].x, 2 + 4 + 36, 1e-9);
}

TEST(TextLayout, AlignmentPlacesLinesInTheBox) {
  Box box;
  box.width = 104;  // 100 pixels inside the gutters
  const double w = Px({kH, kE, kL, kL, kO}, 12);
  Format f = Arial(12);
  // In the width less a twip, in whole twips with the fraction dropped: the
  // 100 - w pixels left over (whole pixels of device text) less a twip,
  // halved for a centred line.
  f.align = Align::kCenter;
  EXPECT_NEAR(LayOut(Plain("Hello", f), box).lines[0].x, 2 + std::trunc((100 - w) * 10 - 0.5) / 20, 1e-9);
  f.align = Align::kRight;
  EXPECT_NEAR(LayOut(Plain("Hello", f), box).lines[0].x, 2 + 100 - w - 0.05, 1e-9);
  f.leftMargin = 10;
  f.rightMargin = 20;
  EXPECT_NEAR(LayOut(Plain("Hello", f), box).lines[0].x, 2 + 10 + (100 - 30 - w), 0.05);
  f.align = Align::kLeft;
  f.indent = 7;
  EXPECT_NEAR(LayOut(Plain("Hello", f), box).lines[0].x, 2 + 10 + 7, 0.05);
  // A line wider than the box starts at its left, whatever the alignment,
  // and runs out on the right.
  Box narrow;
  narrow.width = 24;
  for (Align a : {Align::kCenter, Align::kRight}) {
    Format g = Arial(12);
    g.align = a;
    EXPECT_NEAR(LayOut(Plain("Hello", g), narrow).lines[0].x, 2, 1e-9);
  }
}

// A line's trailing spaces count in its width when it is left aligned; before
// SWF 8 they count whatever the alignment, and so move right aligned text.
TEST(TextLayout, TrailingSpacesCountByAlignmentAndSwfVersion) {
  Box box;
  box.width = 104;
  const double ink = Px({kA, kA}, 12), spaces = Px({kSpace, kSpace}, 12);
  Format f = Arial(12);
  EXPECT_NEAR(LayOut(Plain("aa  ", f), box).textWidth, ink + spaces, 0.05);
  for (Align a : {Align::kRight, Align::kCenter}) {
    f.align = a;
    EXPECT_NEAR(LayOut(Plain("aa  ", f), box).textWidth, ink, 0.05);
    EXPECT_EQ(LayOut(Plain("  ", f), box).textWidth, 0);
  }
  box.trailingSpacesCount = true;
  EXPECT_NEAR(LayOut(Plain("  ", f), box).textWidth, spaces, 0.05);
  f.align = Align::kRight;
  const Layout old = LayOut(Plain("aa  ", f), box);
  EXPECT_NEAR(old.textWidth, ink + spaces, 0.05);
  EXPECT_NEAR(old.lines[0].x, 2 + 100 - ink - spaces, 0.05);
}

TEST(TextLayout, AutoSizeFitsTheBoxAroundTheText) {
  Box box;
  box.width = 100;
  box.height = 50;
  const double w = Px({kH, kE, kL, kL, kO}, 12);
  box.autoSize = AutoSize::kLeft;
  Layout l = LayOut(Plain("Hello", Arial(12)), box);
  EXPECT_NEAR(l.boxWidth, w + 4, 0.05);
  EXPECT_NEAR(l.boxX, 0, 1e-9);
  EXPECT_NEAR(l.boxHeight, l.textHeight + 4, 0.01);
  box.autoSize = AutoSize::kCenter;
  l = LayOut(Plain("Hello", Arial(12)), box);
  EXPECT_NEAR(l.boxX, (100 - (w + 4)) / 2, 0.05);
  EXPECT_NEAR(l.lines[0].x, l.boxX + 2, 0.05);
  box.autoSize = AutoSize::kRight;
  EXPECT_NEAR(LayOut(Plain("Hello", Arial(12)), box).boxX, 100 - (w + 4), 0.05);
  // An input field keeps 2.5 px for the caret after the text, an empty one too.
  box.input = true;
  EXPECT_NEAR(LayOut(Plain("Hello", Arial(12)), box).boxWidth, w + 6.5, 0.05);
  EXPECT_NEAR(LayOut(Plain("", Arial(12)), box).boxWidth, 6.5, 0.05);
  box.input = false;
  // With wrapping only the height follows the text.
  box.wordWrap = true;
  l = LayOut(Plain("Hello Hello Hello Hello", Arial(12)), box);
  EXPECT_EQ(l.boxWidth, 100);
  EXPECT_GT(l.lines.size(), 1u);
  EXPECT_NEAR(l.boxHeight, l.textHeight + 4, 0.01);
}

TEST(TextLayout, HorizontalScrollLeavesAnInputFieldAQuarterEmpty) {
  Box box;
  box.width = 54;  // 50 px inside the gutters
  const double w = Px({kH, kE, kL, kL, kO, kH, kE, kL, kL, kO}, 20);
  ASSERT_GT(w, 60);
  EXPECT_EQ(LayOut(Plain("HelloHello", Arial(20)), box).maxHScroll, std::floor(w - 50));
  box.input = true;
  EXPECT_EQ(LayOut(Plain("HelloHello", Arial(20)), box).maxHScroll, std::floor(w - 37.5));
  // A box narrower than its gutters shows nothing: all the text is to scroll.
  box.width = 1;
  EXPECT_EQ(LayOut(Plain("HelloHello", Arial(20)), box).maxHScroll, std::floor(w));
}

TEST(TextLayout, ScrollLimitsCountTheLinesThatFit) {
  Box box;
  box.height = 4 + 2 * (0.905 + 0.212) * 10 + 1;  // two lines of 10 px
  const Layout l = LayOut(Plain("1\r2\r3\r4\r5", Arial(10)), box);
  EXPECT_EQ(l.maxScroll, 4);
  EXPECT_EQ(l.BottomScroll(1), 2);
  EXPECT_EQ(l.BottomScroll(4), 5);
  box.height = 400;
  EXPECT_EQ(LayOut(Plain("1\r2", Arial(10)), box).maxScroll, 1);
  // A line and a break: the empty line after it is a scroll position until
  // the box holds the first line with its leading.
  Format led = Arial(10);
  led.leading = 6;
  const Layout one = LayOut(Plain("a\r", led), box);
  const double withLeading = one.lines[0].ascent + one.lines[0].descent + 6;
  box.height = 4 + withLeading - 1;
  EXPECT_EQ(LayOut(Plain("a\r", led), box).maxScroll, 2);
  box.height = 4 + withLeading;
  EXPECT_EQ(LayOut(Plain("a\r", led), box).maxScroll, 1);
}

TEST(TextLayout, JustifiedLinesStretchOnlySpacesBetweenInk) {
  Box box;
  box.width = 104;
  box.wordWrap = true;
  Format f = Arial(12);
  f.align = Align::kJustify;
  // "aa b " then "cccc...": the space the line broke at keeps its width.
  const Layout l = LayOut(Plain("aa b cccccccccccccccccccccccccccc", f), box);
  ASSERT_GE(l.lines.size(), 2u);
  ASSERT_EQ(l.lines[1].first, 5u);
  EXPECT_NEAR(l.charAdvance[4], Px({kSpace}, 12), 0.01);
  EXPECT_GT(l.charAdvance[2], 50);  // the inner space takes the free room
  EXPECT_NEAR(l.charX[3] + l.charAdvance[3], 2 + 100, 0.05);
}

TEST(TextLayout, MeasureLineIsTheWidthOfTheTextInItsFormat) {
  const Extent e = MeasureLine(U"abc", Arial(20));
  EXPECT_NEAR(e.width, Px({kA, kB, kC}, 20), 1e-9);
  EXPECT_NEAR(e.ascent, 0.905 * 20, 0.05);
  EXPECT_NEAR(e.descent, 0.212 * 20, 0.05);
  // Letter spacing adds to every character.
  Format spaced = Arial(20);
  spaced.letterSpacing = 3;
  EXPECT_NEAR(MeasureLine(U"abc", spaced).width, e.width + 9, 0.05);
}

// Flash kerns embedded fonts only: device text keeps each character's own
// advance, kerning asked or not. Negative letter spacing draws it tighter.
TEST(TextLayout, DeviceTextIsNotKernedAndTakesNegativeLetterSpacing) {
  constexpr double kCapA = 667, kCapV = 667, kCapT = 611;
  Format kerned = Arial(40);
  kerned.kerning = true;
  const double plain = Px({kCapA, kCapV, kCapA, kCapT}, 40);
  EXPECT_NEAR(MeasureLine(U"AVAT", kerned).width, plain, 1e-9);
  kerned.letterSpacing = -2;
  EXPECT_NEAR(MeasureLine(U"AVAT", kerned).width, plain - 8, 1e-9);
}

// ---- embedded fonts

// A font of 1024 units per em whose glyph for 'A' is a square of 512 units
// advancing 600; 'B' has no outline and advances 300.
std::shared_ptr<FontDef> SquareFont() {
  auto f = std::make_shared<FontDef>();
  f->id = 9;
  f->name = "Squares";
  f->ascent = 800;
  f->descent = 200;
  Glyph a;
  ShapeLayer layer;
  FillStyle fill;
  layer.fills.push_back(fill);
  const double s = 512;
  layer.fillPaths.push_back({Edge{0, -s, 0, 0, s, -s}, Edge{s, -s, 0, 0, s, 0}, Edge{s, 0, 0, 0, 0, 0},
                             Edge{0, 0, 0, 0, 0, -s}});
  a.shape.layers.push_back(layer);
  a.shape.extent = player::Extent{0, -s, s, 0};
  a.advance = 600;
  Glyph b;
  b.advance = 300;
  f->glyphs = {a, b};
  f->codes = {'A', 'B'};
  return f;
}

TEST(TextLayout, EmbeddedFontsUseTheirAdvancesAndMetrics) {
  const auto font = SquareFont();
  const EmbeddedFonts fonts = [&](const std::string& name, bool, bool) -> const FontDef* {
    return name == "Squares" ? font.get() : nullptr;
  };
  Format f;
  f.font = "Squares";
  f.size = 20;
  // The pen moves by whole twips, the fraction dropped: 600/1024 of 20
  // pixels is 234.375 twips, taken as 234.
  const double a = 234 / 20.0, b = 117 / 20.0;
  const Layout l = LayOut(Plain("ABA", f), Box{}, &fonts);
  EXPECT_NEAR(l.textWidth, a + b + a, 1e-6);
  EXPECT_NEAR(l.lines[0].ascent, Twips(800 * 20 / 1024.0), 1e-6);
  EXPECT_NEAR(l.textHeight, Twips(800 * 20 / 1024.0) + Twips(200 * 20 / 1024.0), 1e-6);
  ASSERT_EQ(l.runs.size(), 1u);
  EXPECT_EQ(l.runs[0].face.embedded, font.get());
  // Its kerning pairs count when the format asks for kerning.
  font->kerning[('A' << 16) | 'B'] = -100;
  f.kerning = true;
  EXPECT_NEAR(LayOut(Plain("ABA", f), Box{}, &fonts).textWidth, a - 100 * 20 / 1024.0 + b + a, 1e-6);
  f.kerning = false;
  EXPECT_NEAR(LayOut(Plain("ABA", f), Box{}, &fonts).textWidth, a + b + a, 1e-6);
  // A font the movie lacks draws nothing.
  f.font = "Missing";
  EXPECT_TRUE(LayOut(Plain("ABA", f), Box{}, &fonts).runs.empty());
}

// Ideographs, kana and full-width forms stand alone: a line may end on
// either side of one, except before a closing mark or after an opening one;
// ASCII brackets keep those rules beside them and join words.
TEST(TextLayout, WrapsBetweenIdeographsButNotInsideTheirMarks) {
  auto font = SquareFont();
  // Every character the test uses draws the square glyph, 234 twips wide at 20 pixels.
  font->glyphs.resize(1);
  font->codes = {'a', ' '};
  for (char32_t c : std::u32string(U"\u5f62\u300c\u300d()")) font->codes.push_back(c);
  font->glyphs.resize(font->codes.size(), font->glyphs[0]);
  const EmbeddedFonts fonts = [&](const std::string&, bool, bool) -> const FontDef* { return font.get(); };
  Format f;
  f.font = "Squares";
  f.size = 20;
  Box box;
  box.wordWrap = true;
  box.width = 4 + 4 * 234 / 20.0 + 0.5;  // four characters fit
  auto firstLineEnd = [&](const std::u32string& s) {
    StyledText t;
    t.Append(s, std::make_shared<Format>(f));
    return LayOut(t, box, &fonts).lines.at(0).end;
  };
  const char32_t kIdeo = 0x5f62, kOpen = 0x300c, kClose = 0x300d;
  // Two ideographs part; a letter and an ideograph part.
  EXPECT_EQ(firstLineEnd(std::u32string(U"a a") + kIdeo + kIdeo), 4u);
  EXPECT_EQ(firstLineEnd(std::u32string(U"a a") + kIdeo + U"a"), 4u);
  EXPECT_EQ(firstLineEnd(std::u32string(U"a a") + U"a" + kIdeo), 4u);
  // No line starts with a closing mark, none ends with an opening one.
  EXPECT_EQ(firstLineEnd(std::u32string(U"a a") + kIdeo + kClose), 3u);
  EXPECT_EQ(firstLineEnd(std::u32string(U"a a") + kOpen + kIdeo), 3u);
  // ASCII brackets: after an ideograph, before "(", but not after "(".
  EXPECT_EQ(firstLineEnd(std::u32string(U"a a") + kIdeo + U"("), 4u);
  EXPECT_EQ(firstLineEnd(std::u32string(U"a a(") + kIdeo), 2u);
  EXPECT_EQ(firstLineEnd(std::u32string(U"a a") + kIdeo + U")"), 3u);
  // Letters and ASCII brackets make one word.
  EXPECT_EQ(firstLineEnd(U"a aaa"), 2u);
  EXPECT_EQ(firstLineEnd(U"a a)a"), 2u);
}

// Draws `field` into a white 100 x 100 picture at one pixel per pixel.
std::vector<std::uint32_t> Draw(const TextLook& look) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 100);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  MovieLibrary lib;
  RenderContext c{cr, lib, {}};
  cairo_matrix_t m;
  cairo_matrix_init_scale(&m, 1.0 / 20, 1.0 / 20);
  DrawTextLook(c, look, m, ColorTransform{});
  cairo_surface_flush(s);
  std::vector<std::uint32_t> px(100 * 100);
  const auto* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 100; ++x) px[y * 100 + x] = reinterpret_cast<const std::uint32_t*>(data + y * stride)[x] & 0xFFFFFF;
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return px;
}

TEST(TextRender, EmbeddedGlyphsBorderAndBackgroundTakeTheirColours) {
  const auto font = SquareFont();
  MovieLibrary lib;
  lib.characters[9] = font;
  TextField field;
  field.SetLibrary(&lib);
  field.SetWidth(80);
  field.SetHeight(40);
  auto& o = field.EditOpts();
  o.embedFonts = o.border = o.background = true;
  o.borderColor = 0x0000FF;
  o.backgroundColor = 0x00FF00;
  FormatPatch p;
  p.font = "Squares";
  p.size = 20;
  p.color = 0xFF0000;
  field.SetNewFormat(p);
  field.SetText("AA");
  const auto px = Draw(*field.Look());
  // The first square: 10 x 10 pixels from x = 2, its top at the baseline
  // (2 + 15.6) less 10.
  EXPECT_EQ(px[12 * 100 + 6], 0xFF0000u);
  // The second one follows after 600/1024 of 20 pixels.
  EXPECT_EQ(px[12 * 100 + 2 + 12 + 5], 0xFF0000u);
  // Between them and below them the background shows.
  EXPECT_EQ(px[12 * 100 + 12], 0x00FF00u);
  EXPECT_EQ(px[30 * 100 + 6], 0x00FF00u);
  // The border on the box's edge, nothing outside it.
  EXPECT_EQ(px[20 * 100 + 0] & 0xFF0000u, 0u);
  EXPECT_GT(px[20 * 100 + 0] & 0xFFu, 0x40u);
  EXPECT_EQ(px[50 * 100 + 50], 0xFFFFFFu);
}

// Flash starts each glyph of an embedded font on its 4 x 4 grid of samples
// (a quarter pixel at high quality): the square's baseline at 2 + 15.6
// pixels is drawn at 17.5, so its top and bottom rows are half covered, and
// the second square, 11.7 pixels on, starts at 13.75.
TEST(TextRender, EmbeddedGlyphsStartOnTheQuarterPixelGrid) {
  const auto font = SquareFont();
  MovieLibrary lib;
  lib.characters[9] = font;
  TextField field;
  field.SetLibrary(&lib);
  field.SetWidth(80);
  field.SetHeight(40);
  field.EditOpts().embedFonts = true;
  FormatPatch p;
  p.font = "Squares";
  p.size = 20;
  p.color = 0x000000;
  field.SetNewFormat(p);
  field.SetText("AA");
  const auto px = Draw(*field.Look());
  auto ink = [&](int x, int y) { return 255 - static_cast<int>(px[y * 100 + x] & 0xFF); };
  EXPECT_NEAR(ink(6, 7), 128, 6);   // unsnapped: 40 %
  EXPECT_NEAR(ink(6, 17), 128, 6);  // unsnapped: 60 %
  EXPECT_EQ(ink(6, 12), 255);
  EXPECT_NEAR(ink(13, 12), 64, 6);  // unsnapped: 30 %
  EXPECT_EQ(ink(14, 12), 255);
}

// The underline is one pixel row, half the line's descent below the
// baseline: 17.6 + 3.9 / 2 falls in row 19. It runs under the spaces after
// a word too.
TEST(TextRender, UnderlineIsAPixelRowHalfTheDescentBelowTheBaseline) {
  const auto font = SquareFont();
  MovieLibrary lib;
  lib.characters[9] = font;
  TextField field;
  field.SetLibrary(&lib);
  field.SetWidth(80);
  field.SetHeight(40);
  field.EditOpts().embedFonts = true;
  FormatPatch p;
  p.font = "Squares";
  p.size = 20;
  p.color = 0x000000;
  p.underline = true;
  field.SetNewFormat(p);
  field.SetText("A");
  const auto px = Draw(*field.Look());
  auto ink = [&](int x, int y) { return 255 - static_cast<int>(px[y * 100 + x] & 0xFF); };
  EXPECT_EQ(ink(8, 19), 255);
  EXPECT_EQ(ink(8, 18), 0);
  EXPECT_EQ(ink(8, 20), 0);

  Format f = Arial(10);
  f.underline = true;
  const Layout l = LayOut(Plain("ab  ", f), Box{});
  ASSERT_EQ(l.runs.size(), 1u);
  EXPECT_NEAR(l.runs[0].x1 - l.runs[0].x0, Px({kA, kB, kSpace, kSpace}, 10), 1e-9);
}

TEST(TextRender, DeviceTextInksInsideItsLineAndScrollsUp) {
  TextField field;
  field.SetWidth(100);
  field.SetHeight(20);
  FormatPatch p;
  p.font = "_sans";
  p.size = 12;
  field.SetNewFormat(p);
  field.SetText("MMMM\rMMMM");
  auto ink = [](const std::vector<std::uint32_t>& px, int y0, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = 0; x < 100; ++x) n += px[y * 100 + x] != 0xFFFFFFu;
    }
    return n;
  };
  const auto first = Draw(*field.Look());
  // Capitals stand between the baseline (2 + 10.9) and the cap height above it.
  EXPECT_GT(ink(first, 3, 13), 40);
  EXPECT_EQ(ink(first, 20, 100), 0);  // the second line lies below the box
  EXPECT_EQ(field.Laid().maxScroll, 2);
  field.SetScroll(2);
  const auto scrolled = Draw(*field.Look());
  EXPECT_GT(ink(scrolled, 3, 13), 40);

  // Letters of size 0 draw nothing and leave the rest of the line drawn.
  field.SetScroll(1);
  FormatPatch zero;
  zero.size = 0;
  field.SetFormat(0, 2, zero);
  EXPECT_GT(ink(Draw(*field.Look()), 3, 13), 20);
}

// ---- HTML and style sheets

TEST(TextHtml, ParagraphsBreaksAndEntitiesMakeTheText) {
  StyledText t;
  ParseHtml("<p align=\"center\">One &amp; <b>two</b></p><p>x&lt;y&#65;&#x42;</p>a<br>b", Format{}, nullptr, false, t);
  EXPECT_EQ(ToUtf8(t.chars), "One & two\rx<yAB\ra\rb");
  ASSERT_EQ(t.formats.size(), t.chars.size());
  EXPECT_EQ(t.formats[0]->align, Align::kCenter);
  EXPECT_FALSE(t.formats[0]->bold);
  EXPECT_TRUE(t.formats[6]->bold);
  EXPECT_EQ(t.formats[10]->align, Align::kLeft);
}

TEST(TextHtml, FontAndTextFormatTagsSetTheirMembers) {
  StyledText t;
  Format base;
  base.size = 10;
  ParseHtml("<font face='Arial' size='+4' color='#FF8000'>A<font size=\"30\">B</font></font>"
            "<textformat leftmargin=\"5\" indent=\"3\" leading=\"2\" tabstops=\"10,20\"><i><u>C</u></i></textformat>"
            "<a href=\"http://x\" target=\"_blank\">D</a><li>E</li><unknown>F</unknown>",
            base, nullptr, false, t);
  EXPECT_EQ(ToUtf8(t.chars), "ABCD\rE\rF");  // text after a list item starts a paragraph
  EXPECT_EQ(t.formats[0]->font, "Arial");
  EXPECT_EQ(t.formats[0]->size, 14);
  EXPECT_EQ(t.formats[0]->color, 0xFF8000u);
  EXPECT_EQ(t.formats[1]->size, 30);
  EXPECT_EQ(t.formats[2]->leftMargin, 5);
  EXPECT_EQ(t.formats[2]->indent, 3);
  EXPECT_EQ(t.formats[2]->leading, 2);
  EXPECT_EQ(t.formats[2]->tabStops, (std::vector<double>{10, 20}));
  EXPECT_TRUE(t.formats[2]->italic && t.formats[2]->underline);
  EXPECT_EQ(t.formats[3]->url, "http://x");
  EXPECT_EQ(t.formats[3]->target, "_blank");
  EXPECT_TRUE(t.formats[5]->bullet);
  EXPECT_FALSE(t.formats[7]->bullet);  // after </li>
  EXPECT_EQ(t.formats[7]->size, 10);   // tags closed, the base again
}

TEST(TextHtml, FontSizesAreTheWholeNumberTheValueBeginsWith) {
  Format base;
  base.size = 12;
  auto sizes = [&](const std::string& html, double maxSize = 0) {
    StyledText t;
    ParseHtml(html, base, nullptr, false, t, true, maxSize);
    std::string out;
    for (const auto& f : t.formats) out += std::to_string(static_cast<int>(f->size)) + " ";
    return out;
  };
  // Fractions and trailing text are dropped; relative sizes take their whole
  // number too; no digits, no change; never below 1.
  EXPECT_EQ(sizes("<font size='1.9'>a<font size='+0.2'>b</font></font>"), "1 1 ");
  EXPECT_EQ(sizes("<font size='1+1'>a</font><font size='not a number'>b</font><font size='+'>c</font>"), "1 12 12 ");
  EXPECT_EQ(sizes("<font size='-1'>a<font size='0'>b</font></font>"), "11 1 ");
  // A cap, as SWF 12 and before have.
  EXPECT_EQ(sizes("<font size='126'>a<font size='+1'>b<font size='+1'>c</font></font></font>", 127), "126 127 127 ");
  EXPECT_EQ(sizes("<font size='65536'>a</font>"), "65536 ");
}

TEST(TextHtml, BrokenMarkupLosesNothingBeforeIt) {
  StyledText t;
  ParseHtml("<b>bold</i> still</b> plain <font", Format{}, nullptr, false, t);
  EXPECT_EQ(ToUtf8(t.chars), "bold still plain ");
  EXPECT_TRUE(t.formats[6]->bold);
  EXPECT_FALSE(t.formats[12]->bold);
  t.Clear();
  ParseHtml("a \n\t  b", Format{}, nullptr, true, t);
  EXPECT_EQ(ToUtf8(t.chars), "a b");  // condenseWhite
  t.Clear();
  ParseHtml("a\nb\r\nc", Format{}, nullptr, false, t);
  EXPECT_EQ(ToUtf8(t.chars), "a\rb\r\rc");
  // A single-line field takes no line ends from its HTML's tags, only those
  // written in the text.
  t.Clear();
  ParseHtml("<p>a</p><p>b<br>c\nd</p>", Format{}, nullptr, false, t, false);
  EXPECT_EQ(ToUtf8(t.chars), "abc\rd");
}

// condenseWhite, as recorded from Flash Player: from SWF 8 white space runs
// on across tags and none opens the text; up to SWF 7 each stretch between
// tags is condensed alone and one of only white space is dropped.
TEST(TextHtml, CondenseWhiteBySwfVersion) {
  const auto condensed = [](const std::string& html, bool perStretch) {
    StyledText t;
    ParseHtml(html, Format{}, nullptr, true, t, false, 0, perStretch);
    return ToUtf8(t.chars);
  };
  const struct {
    const char* html;
    const char* swf8;
    const char* swf7;
  } cases[] = {
      {"\n \tasdf \t  \n", "asdf ", " asdf "},
      {" \n ", "", ""},
      {"<b>test</b> \n", "test ", "test"},
      {" <p>test</p>  <p>test</p> ", "test test ", "testtest"},
      {" <b> test1 </b> <b> test2 </b> ", "test1 test2 ", " test1  test2 "},
      {"test \ntest\n\ntest", "test test test", "test test test"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(condensed(c.html, false), c.swf8) << c.html;
    EXPECT_EQ(condensed(c.html, true), c.swf7) << c.html;
  }
}

// Older movies read HTML differently: up to SWF 7 a stretch of only white
// space between tags is dropped and font tags' kerning is not read; up to
// SWF 6 paragraphs and breaks end lines even in a single-line field.
TEST(TextHtml, OlderMoviesDropWhiteStretchesAndBreakSingleLines) {
  const auto read = [](int version, const std::string& html) {
    MovieLibrary lib;
    lib.movie.version = version;
    TextField f;
    f.SetLibrary(&lib);
    f.EditOpts().html = true;
    f.SetHtmlText(html);
    const std::string text = f.Text();
    const std::size_t b = text.find('b');
    return text + (b != std::string::npos && f.GetFormat(b, b + 1).kerning.value_or(false) ? "|k" : "");
  };
  const char* html = "<p>a</p> <p><font kerning='1'>b</font></p>\n";
  EXPECT_EQ(read(8, html), "a b\r|k");
  EXPECT_EQ(read(7, html), "ab");
  EXPECT_EQ(read(6, html), "a\rb\r");
  EXPECT_EQ(read(7, "<b> x </b>"), " x ");  // white space beside text stays
}

// Line ends as Flash Player makes them from paragraphs, items and <br>.
TEST(TextHtml, ParagraphsEndOnceItemsNestAndStartOnTheirOwnLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"<p>test</p>\n", "test\r\r"},
      {" <p>test</p>  <p>test</p> ", " test\r  test\r "},  // a paragraph starts where it is
      {"<p>a<p>b</p>c<p>d</p>e</p>", "ab\rcd\re"},         // a nested <p> is no new paragraph
      {"<p><p><p>test</p></p></p>", "test\r"},
      {"text<li>a<li>b<li>c</li>d</li>e</li>f", "text\ra\rb\rc\rd\re\rf"},  // items nest
      {"<li>first</li> <li>second</li>", "first\r \rsecond\r"},
      {"<p>a <li>test</li> b</p>", "a \rtest\r b\r"},
      {"<p></p><p></p>test<p></p>", "\r\rtest\r"},
      {"<p>line 1</p><br><p>line 2</p>", "line 1\r\rline 2\r"},
  };
  for (const auto& [html, text] : cases) {
    StyledText t;
    ParseHtml(html, Format{}, nullptr, false, t);
    EXPECT_EQ(ToUtf8(t.chars), text) << html;
  }
}

// A paragraph's line end is plain and takes the font of the last font tag
// closed before it, even an empty one.
TEST(TextHtml, AParagraphEndTakesTheLastClosedFont) {
  Format base;
  StyledText t;
  ParseHtml("<b><p align='right'>x</p></b>", base, nullptr, false, t);
  ASSERT_EQ(ToUtf8(t.chars), "x\r");
  EXPECT_TRUE(t.formats[0]->bold);
  EXPECT_FALSE(t.formats[1]->bold);
  EXPECT_EQ(t.formats[1]->align, Align::kRight);
  t.Clear();
  ParseHtml("<p>test<font color='#121212'></font><p>test</p></p>", base, nullptr, false, t);
  ASSERT_EQ(ToUtf8(t.chars), "testtest\r");
  EXPECT_EQ(t.formats[7]->color, 0u);
  EXPECT_EQ(t.formats[8]->color, 0x121212u);
  EXPECT_EQ(WriteHtml(t, base),
            "<P ALIGN=\"LEFT\"><FONT FACE=\"Times New Roman\" SIZE=\"12\" COLOR=\"#000000\" LETTERSPACING=\"0\" "
            "KERNING=\"0\">testtest<FONT COLOR=\"#121212\"></FONT></FONT></P>");
}

// Each line end closes a paragraph; nothing follows the last one.
TEST(TextHtml, WrittenParagraphsEndAtEachLineEnd) {
  Format base;
  StyledText t;
  EXPECT_EQ(WriteHtml(t, base), "");
  t.Append(U"a\r", std::make_shared<Format>(base));
  const std::string p = "<P ALIGN=\"LEFT\"><FONT FACE=\"Times New Roman\" SIZE=\"12\" COLOR=\"#000000\" "
                        "LETTERSPACING=\"0\" KERNING=\"0\">";
  EXPECT_EQ(WriteHtml(t, base), p + "a</FONT></P>");
  t.Append(U"\r", std::make_shared<Format>(base));
  EXPECT_EQ(WriteHtml(t, base), p + "a</FONT></P>" + p + "</FONT></P>");
}

TEST(TextHtml, WrittenHtmlReadsBackTheSameText) {
  StyledText t;
  Format base;
  ParseHtml("<p align='right'><font color='#00ff00'>green</font> <b>&lt;bold&gt;</b></p><li>item</li>", base, nullptr,
            false, t);
  const std::string html = WriteHtml(t, base);
  EXPECT_NE(html.find("<P ALIGN=\"RIGHT\"><FONT FACE=\"Times New Roman\" SIZE=\"12\" COLOR=\"#00FF00\""),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<B>&lt;bold&gt;</B>"), std::string::npos) << html;
  StyledText back;
  ParseHtml(html, base, nullptr, false, back);
  EXPECT_EQ(back.chars, t.chars);
  for (std::size_t i = 0; i < t.chars.size(); ++i) EXPECT_EQ(*back.formats[i], *t.formats[i]) << i;
}

TEST(TextHtml, FontTagsNestAndGoBackToAnOpenLevel) {
  // Runs: "ab" base, "cd" another face, "ef" that face at 14, "gh" the base again.
  StyledText t;
  Format base;
  base.font = "Serif";
  ParseHtml("ab<font face='Sans'>cd<font size='14'>ef</font></font>gh<b>ij</b>", base, nullptr, false, t);
  EXPECT_EQ(WriteHtml(t, base),
            "<P ALIGN=\"LEFT\"><FONT FACE=\"Serif\" SIZE=\"12\" COLOR=\"#000000\" LETTERSPACING=\"0\" KERNING=\"0\">"
            "ab<FONT FACE=\"Sans\">cd<FONT SIZE=\"14\">ef</FONT></FONT>gh<B>ij</B></FONT></P>");
}

// A closing tag closes the innermost open tag only when it names it; one
// naming an outer tag while an inner one is open is ignored.
TEST(TextHtml, ClosingTagsCloseOnlyTheInnermostTag) {
  StyledText t;
  Format base;
  ParseHtml("<b>a<i>b</b>c</i>d</b>e", base, nullptr, false, t);
  ASSERT_EQ(t.chars, U"abcde");
  const auto style = [&](std::size_t k) {
    return std::string(t.formats[k]->bold ? "b" : "") + (t.formats[k]->italic ? "i" : "");
  };
  EXPECT_EQ(style(0), "b");
  EXPECT_EQ(style(1), "bi");
  EXPECT_EQ(style(2), "bi");  // </b> while <i> is open changes nothing
  EXPECT_EQ(style(3), "b");
  EXPECT_EQ(style(4), "");
}

TEST(TextHtml, FontColoursReadHexDigitsAfterTheHash) {
  auto colour = [](const std::string& value) {
    StyledText t;
    Format base;
    base.color = 0x123456;
    ParseHtml("<font color=\"" + value + "\">x</font>", base, nullptr, false, t);
    return t.formats[0]->color;
  };
  EXPECT_EQ(colour("#abcdef"), 0xABCDEFu);
  EXPECT_EQ(colour("#abc"), 0xABCu);             // short is a small number, not a CSS shorthand
  EXPECT_EQ(colour("#2345678"), 0x345678u);      // only the last six digits count
  EXPECT_EQ(colour("#  234567"), 0x234567u);     // spaces may follow the hash
  EXPECT_EQ(colour("#23g45"), 0x23u);            // digits stop at the first other character
  EXPECT_EQ(colour("234567"), 0x123456u);        // no hash: ignored
  EXPECT_EQ(colour(" #234567"), 0x123456u);
  EXPECT_EQ(colour("#g"), 0x123456u);
}

TEST(TextCss, FlashsParserTakesAllOrNothing) {
  const auto rules = ParseCssStrict("a, b { font-size: 5 ;x--y:1}  key{ ;k:v;}c{name}d{e:f");
  EXPECT_FALSE(rules);  // "c{name}" has no colon
  const auto ok = ParseCssStrict("a, B { font-size: 5 ;x--y:1}  key{;k:v;} e{p: q; }u{");
  ASSERT_TRUE(ok);
  ASSERT_EQ(ok->size(), 5u);
  EXPECT_EQ((*ok)[0].first, "a");
  EXPECT_EQ((*ok)[1].first, "B");  // selectors keep their case
  const CssProperties want{{"fontSize", "5 "}, {"x-y", "1"}};
  EXPECT_EQ((*ok)[0].second, want);  // camel case, trailing spaces kept
  EXPECT_EQ((*ok)[2].second, (CssProperties{{";k", "v"}}));  // a semicolon may start a name
  EXPECT_EQ((*ok)[3].second, (CssProperties{{"p", "q"}}));
  EXPECT_TRUE((*ok)[4].second.empty());  // an unclosed block ends with the text
  EXPECT_FALSE(ParseCssStrict("long key { a: b }"));
  EXPECT_FALSE(ParseCssStrict("a { b c: d }"));
  EXPECT_FALSE(ParseCssStrict("a { b: c"));
  EXPECT_FALSE(ParseCssStrict("{ b: c }"));
  EXPECT_FALSE(ParseCssStrict("a { b: c; }; x"));
}

TEST(TextHtml, StyleSheetsStyleTagsAndClasses) {
  std::map<std::string, std::map<std::string, std::string>> css;
  ASSERT_TRUE(ParseCss("/* c */ p { font-size: 20px; color: #FF0000 }\n.note, H1 { fontWeight: bold; text-align:center; }",
                       css));
  EXPECT_EQ(css["p"]["fontSize"], "20px");
  EXPECT_EQ(css[".note"]["fontWeight"], "bold");
  EXPECT_EQ(css["h1"]["textAlign"], "center");
  EXPECT_FALSE(ParseCss("p { color: red", css));
  StyleRules rules;
  for (const auto& [sel, props] : css) {
    for (const auto& [k, v] : props) ApplyCssProperty(k, v, rules[sel]);
  }
  StyledText t;
  ParseHtml("<p>a<span class='note'>b</span></p>", Format{}, &rules, false, t);
  EXPECT_EQ(t.formats[0]->size, 20);
  EXPECT_EQ(t.formats[0]->color, 0xFF0000u);
  EXPECT_FALSE(t.formats[0]->bold);
  EXPECT_TRUE(t.formats[1]->bold);
  EXPECT_EQ(t.formats[1]->size, 20);
}

// A sheet's own tags are blocks by default, ending a line once where they
// close even in a single-line field; Flash's tags only hide, never break.
TEST(TextHtml, StyleSheetDisplayBreaksAndHides) {
  StyleRules rules;
  ApplyCssProperty("color", "#0000FF", rules["blue"]);
  ApplyCssProperty("display", "inline", rules["di"]);
  ApplyCssProperty("display", "none", rules["dn"]);
  ApplyCssProperty("display", "block", rules[".db"]);
  ApplyCssProperty("display", "none", rules[".dn"]);
  const std::pair<const char*, const char*> cases[] = {
      {"<blue>b<blue>r</blue></blue>", "br\r"},  // one block, one line end
      {"x<di>a</di>y", "xay"},
      {"x<dn>a</dn>y", "x\ry"},  // hidden, still a block
      {"x<dn>y", "x"},           // hidden to the end
      {"x<p class='db'>a</p>y<span class='dn'>b</span>z", "xayz"},
      {"x<nostyle>a</nostyle>y", "xay"},  // a tag no rule names is inline
  };
  for (const auto& [html, text] : cases) {
    StyledText t;
    ParseHtml(html, Format{}, &rules, false, t, false);
    EXPECT_EQ(ToUtf8(t.chars), text) << html;
  }
}

TEST(TextFieldModel, FormatsApplyToRangesAndParagraphs) {
  TextField f;
  f.SetText("one\ntwo");
  EXPECT_EQ(f.Text(), "one\rtwo");
  FormatPatch bold;
  bold.bold = true;
  f.SetFormat(1, 2, bold);
  EXPECT_TRUE(f.GetFormat(1, 2).bold.value());
  EXPECT_FALSE(f.GetFormat(0, 3).bold.has_value());  // mixed
  FormatPatch center;
  center.align = Align::kCenter;
  f.SetFormat(1, 2, center);  // reaches the whole first paragraph only
  EXPECT_EQ(f.GetFormat(0, 4).align, Align::kCenter);
  EXPECT_EQ(f.GetFormat(4, 7).align, Align::kLeft);
  f.ReplaceText(4, 7, "2");
  EXPECT_EQ(f.Text(), "one\r2");
  EXPECT_EQ(f.Length(), 5u);
}

TEST(TextFieldModel, ReplacedTextTakesTheFormatAfterItAndTheDefaultAtTheEnd) {
  TextField f;
  f.SetText("abc");
  FormatPatch red;
  red.color = 0xFF0000;
  f.SetFormat(1, 2, red);  // b
  f.ReplaceText(0, 1, "X");  // before b: red
  EXPECT_EQ(f.GetFormat(0, 1).color, 0xFF0000u);
  f.ReplaceText(3, 3, "!");  // at the end: the default black
  EXPECT_EQ(f.GetFormat(3, 4).color, 0u);
  EXPECT_EQ(f.Text(), "Xbc!");
}

TEST(TextFieldModel, SizingAnAutoSizedFieldHoldsTheBoxUntilTheTextChanges) {
  TextField f;
  f.EditOpts().wordWrap = true;
  FormatPatch big;
  big.font = "Arial";
  big.size = 20;
  f.SetNewFormat(big);
  f.SetWidth(150);
  f.SetText("one two three four five six");
  f.SetAutoSize(AutoSize::kLeft);
  const double fitted = f.Height();
  ASSERT_GT(fitted, 40.0);
  // Narrower: the box keeps its height, the text is not fitted again.
  f.SetWidth(60);
  EXPECT_EQ(f.Width(), 60.0);
  EXPECT_EQ(f.Height(), fitted);
  // Turning autoSize off keeps that box.
  f.SetAutoSize(AutoSize::kNone);
  EXPECT_EQ(f.Height(), fitted);
  // With autoSize on again the text fits the narrower box: more lines.
  f.SetAutoSize(AutoSize::kLeft);
  EXPECT_GT(f.Height(), fitted + 10);
  // A new text fits again after a held size.
  f.SetHeight(10);
  EXPECT_EQ(f.Height(), 10.0);
  f.SetText("one");
  EXPECT_GT(f.Height(), 20.0);
}


// A field of a DefineEditText tag: an HTML one takes no alignment from the
// tag before SWF 8, nor later unless it has initial text; the rest of the
// tag's layout it always takes.
TEST(TextFieldFromTag, HtmlFieldsTakeTheTagsAlignmentOnlyForInitialTextFromSwf8) {
  EditTextDef e;
  e.bounds = Rect{0, 2000, 0, 400};
  e.align = 2;
  e.indent = 200;
  e.leading = 100;
  MovieLibrary swf7, swf8;
  swf7.movie.version = 7;
  swf8.movie.version = 8;
  EXPECT_EQ(TextField::FromDef(e, &swf7)->NewFormat().align, Align::kCenter);  // not HTML
  e.html = true;
  EXPECT_EQ(TextField::FromDef(e, &swf8)->NewFormat().align, Align::kLeft);  // no initial text
  e.text = "a";
  const auto old = TextField::FromDef(e, &swf7);
  EXPECT_EQ(old->NewFormat().align, Align::kLeft);
  EXPECT_EQ(old->NewFormat().indent, 10);
  EXPECT_EQ(old->NewFormat().leading, 5);
  EXPECT_EQ(TextField::FromDef(e, &swf8)->NewFormat().align, Align::kCenter);
}

// A plain field is as bold and italic as its font says; an HTML field's text
// starts plain whatever its font, and only its tags make it bold or italic.
TEST(TextFieldFromTag, OnlyPlainFieldsTakeTheirFontsStyle) {
  auto font = SquareFont();
  font->bold = true;
  font->italic = true;
  MovieLibrary lib;
  lib.movie.version = 8;
  lib.characters[9] = font;
  EditTextDef e;
  e.bounds = Rect{0, 2000, 0, 400};
  e.hasFont = true;
  e.fontId = 9;
  e.height = 240;
  e.text = "AB";
  const auto plain = TextField::FromDef(e, &lib);
  EXPECT_TRUE(plain->GetFormat(0, 2).bold.value_or(false));
  EXPECT_TRUE(plain->NewFormat().italic);
  e.html = true;
  e.text = "A<i>B</i>";
  const auto html = TextField::FromDef(e, &lib);
  EXPECT_EQ(html->GetFormat(0, 1).bold, false);
  EXPECT_EQ(html->GetFormat(0, 1).italic, false);
  EXPECT_EQ(html->GetFormat(1, 2).italic, true);
  EXPECT_EQ(html->GetFormat(0, 1).font, "Squares");
}

}  // namespace
}  // namespace quarvel::player::text
