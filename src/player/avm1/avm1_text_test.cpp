// Text fields from ActionScript 2 on builder-made movies: createTextField,
// TextField members, TextFormat, htmlText, style sheets and bound variables,
// read back through script variables and the pixels drawn.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

enum : std::uint8_t {
  kGetVar = Code(Action::kGetVariable), kGetMember = Code(Action::kGetMember), kSetMember = Code(Action::kSetMember),
  kCallMethod = Code(Action::kCallMethod), kNewObject = Code(Action::kNewObject), kPop = Code(Action::kPop),
  kInstanceOf = Code(Action::kInstanceOf), kTypeOf = Code(Action::kTypeOf), kNewMethod = Code(Action::kNewMethod),
};

TEST(Avm1TextField, CreateTextFieldMakesAFieldWithFlashsDefaults) {
  Actions a = MakeField(10, 20, 80, 30);
  Set(a, "x", Member(Var("t"), "_x"));
  Set(a, "w", Member(Var("t"), "_width"));
  Set(a, "name", Member(Var("t"), "_name"));
  Set(a, "isField", Actions().Append(Var("t")).Append(Var("TextField")).Raw(kInstanceOf));
  Set(a, "type", Member(Var("t"), "type"));
  Set(a, "auto", Member(Var("t"), "autoSize"));
  Set(a, "sel", Member(Var("t"), "selectable"));
  Set(a, "bg", Member(Var("t"), "backgroundColor"));
  Set(a, "depth", Method(Var("t"), "getDepth", {}));
  Set(a, "fmt", Method(Var("t"), "getNewTextFormat", {}));
  Set(a, "returned", Method(Var("_root"), "createTextField", {Str("u"), Int(2), Int(0), Int(0), Int(5), Int(5)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("x"), "10");
  EXPECT_EQ(r.Get("w"), "80");
  EXPECT_EQ(r.Get("name"), "field");
  EXPECT_EQ(r.Get("isField"), "true");
  EXPECT_EQ(r.Get("type"), "dynamic");
  EXPECT_EQ(r.Get("auto"), "none");
  EXPECT_EQ(r.Get("sel"), "true");
  EXPECT_EQ(r.Get("bg"), "16777215");
  EXPECT_EQ(r.Get("depth"), "1");
  EXPECT_EQ(r.Get("fmt.font"), "Times New Roman");
  EXPECT_EQ(r.Get("fmt.size"), "12");
  EXPECT_EQ(r.Get("fmt.align"), "left");
  EXPECT_EQ(r.Get("fmt.bold"), "false");
  EXPECT_EQ(r.Get("returned._name"), "u");  // SWF 8 returns the field
  EXPECT_EQ(r.Get("fmt.color"), "0");

  Actions early = MakeField(0, 0, 10, 10);
  Set(early, "returned",
      Method(Var("_root"), "createTextField", {Str("u"), Int(2), Int(0), Int(0), Int(5), Int(5)}));
  Played six(Script(early, 6));
  EXPECT_EQ(six.Get("returned"), "");  // earlier versions return nothing
  EXPECT_EQ(six.Get("t._name"), "field");
}

TEST(Avm1TextField, TextMeasuresAndAutoSizes) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "text", Str("abc")));
  Set(a, "len", Member(Var("t"), "length"));
  Set(a, "w0", Member(Var("t"), "textWidth"));
  a.Append(SetMember(Var("t"), "autoSize", Str("right")));
  Set(a, "boxW", Member(Var("t"), "_width"));
  a.Append(SetMember(Var("t"), "text", Str("line one\nline two")));
  Set(a, "text", Member(Var("t"), "text"));
  Set(a, "h2", Member(Var("t"), "textHeight"));
  a.Append(SetMember(Var("t"), "wordWrap", Bool(true)));
  Set(a, "wrap", Member(Var("t"), "wordWrap"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("len"), "3");
  // "abc" in 12-pixel Times New Roman: 444, 500 and 444 / 1000 em, each
  // rounded to whole pixels.
  EXPECT_EQ(r.Get("w0"), "16");
  // autoSize fits the box to the text and its gutters.
  EXPECT_NEAR(std::stod(r.Get("boxW")), 16 + 4, 0.06);
  EXPECT_EQ(r.Get("text"), "line one\rline two");
  EXPECT_EQ(r.Get("h2"), "26");  // two lines of 0.891 + 0.216 em, the fraction dropped
  EXPECT_EQ(r.Get("wrap"), "true");
}

TEST(Avm1TextField, TurningAutoSizeOffKeepsTheBoxItGave) {
  // A field made with no height, sized by autoSize on a sample text, then
  // fixed: its later text shows in that box.
  Actions a = MakeField(0, 0, 60, 0);
  a.Append(SetMember(Var("t"), "autoSize", Str("left")));
  a.Append(SetMember(Var("t"), "text", Str("8")));
  Set(a, "hAuto", Member(Var("t"), "_height"));
  a.Append(SetMember(Var("t"), "autoSize", Str("none")));
  a.Append(SetMember(Var("t"), "text", Str("1.00")));
  Set(a, "hFixed", Member(Var("t"), "_height"));
  Set(a, "wFixed", Member(Var("t"), "_width"));
  Played r(Script(a));
  EXPECT_GT(std::stod(r.Get("hAuto")), 10);
  EXPECT_EQ(r.Get("hFixed"), r.Get("hAuto"));
  EXPECT_LT(std::stod(r.Get("wFixed")), 60);  // the sample's width, not the width it was made with
}

TEST(Avm1TextField, TextFormatsSetAndReadRanges) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "text", Str("Hello")));
  Set(a, "f", New("TextFormat", {Str("Arial"), Int(20), Int(0xFF0000), Bool(true)}));
  Set(a, "unset", Member(Var("f"), "italic"));
  a.Append(Method(Var("t"), "setTextFormat", {Int(1), Int(3), Var("f")})).Raw(kPop);
  Set(a, "mid", Method(Var("t"), "getTextFormat", {Int(1), Int(3)}));
  Set(a, "all", Method(Var("t"), "getTextFormat", {}));
  Set(a, "one", Method(Var("t"), "getTextFormat", {Int(0)}));
  Set(a, "ext", Method(Var("f"), "getTextExtent", {Str("abc")}));
  a.Append(SetMember(Var("t"), "textColor", Int(0x00FF00)));
  Set(a, "color", Member(Var("t"), "textColor"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("unset"), "null");  // TextFormat members left out are null
  EXPECT_EQ(r.Get("mid.font"), "Arial");
  EXPECT_EQ(r.Get("mid.size"), "20");
  EXPECT_EQ(r.Get("mid.color"), "16711680");
  EXPECT_EQ(r.Get("mid.bold"), "true");
  EXPECT_EQ(r.Get("all.font"), "null");  // mixed over the whole text
  EXPECT_EQ(r.Get("all.italic"), "false");  // the same everywhere
  EXPECT_EQ(r.Get("one.font"), "Times New Roman");
  // "abc" in 20-pixel Arial Bold: (556 + 611 + 556) / 1000 em.
  EXPECT_EQ(r.Get("ext.width"), "34");
  EXPECT_EQ(r.Get("ext.textFieldWidth"), "38");
  EXPECT_EQ(r.Get("color"), "65280");
}

TEST(Avm1TextField, HtmlTextParsesWhenTheFieldIsHtml) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "htmlText", Str("<b>x</b>")));
  Set(a, "plain", Member(Var("t"), "text"));
  a.Append(SetMember(Var("t"), "html", Bool(true)));
  a.Append(SetMember(Var("t"), "htmlText", Str("<p align='center'><b>bold</b> &amp; plain</p>")));
  Set(a, "text", Member(Var("t"), "text"));
  Set(a, "html", Member(Var("t"), "htmlText"));
  Set(a, "b", Method(Var("t"), "getTextFormat", {Int(0)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("plain"), "<b>x</b>");
  EXPECT_EQ(r.Get("text"), "bold & plain");
  EXPECT_EQ(r.Get("b.bold"), "true");
  EXPECT_EQ(r.Get("b.align"), "center");
  EXPECT_EQ(r.Get("html").rfind("<P ALIGN=\"CENTER\"><FONT FACE=\"Times New Roman\"", 0), 0u) << r.Get("html");
}

TEST(Avm1TextField, StyleSheetsStyleHtmlFields) {
  Actions a = MakeField(0, 0, 100, 20);
  // new TextField.StyleSheet()
  Set(a, "css", Actions().PushInt(0).Append(Var("TextField")).PushString("StyleSheet").Raw(kNewMethod));
  Set(a, "ok", Method(Var("css"), "parseCSS", {Str(".big { font-size: 30px; color: #0000FF; }")}));
  Set(a, "style", Method(Var("css"), "getStyle", {Str(".big")}));
  a.Append(SetMember(Var("t"), "html", Bool(true)));
  a.Append(SetMember(Var("t"), "styleSheet", Var("css")));
  a.Append(SetMember(Var("t"), "htmlText", Str("<span class='big'>A</span>b")));
  Set(a, "big", Method(Var("t"), "getTextFormat", {Int(0)}));
  Set(a, "small", Method(Var("t"), "getTextFormat", {Int(1)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("ok"), "true");
  EXPECT_EQ(r.Get("style.fontSize"), "30px");
  EXPECT_EQ(r.Get("big.size"), "30");
  EXPECT_EQ(r.Get("big.color"), "255");
  EXPECT_EQ(r.Get("small.size"), "12");
}

TEST(Avm1TextField, FieldsKeepScriptPropertiesAndCanBeRemoved) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "custom", Int(42)));
  Set(a, "custom", Member(Var("t"), "custom"));
  Set(a, "path", Member(Var("t"), "_target"));
  Set(a, "parent", Member(Member(Var("t"), "_parent"), "_target"));
  Set(a, "type", Actions().Append(Var("t")).Raw(kTypeOf));
  a.Append(Method(Var("t"), "removeTextField", {})).Raw(kPop);
  Set(a, "gone", Actions().Append(Member(Var("_root"), "field")).Raw(kTypeOf));
  Played r(Script(a));
  EXPECT_EQ(r.Get("custom"), "42");
  EXPECT_EQ(r.Get("path"), "/field");
  EXPECT_EQ(r.Get("parent"), "/");
  EXPECT_EQ(r.Get("type"), "object");
  EXPECT_EQ(r.Get("gone"), "undefined");
}

TEST(Avm1TextField, ScrollFollowsTheLinesBelowTheBox) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "text", Str("1\r2\r3\r4")));
  Set(a, "max", Member(Var("t"), "maxscroll"));
  a.Append(SetMember(Var("t"), "scroll", Int(99)));
  Set(a, "scroll", Member(Var("t"), "scroll"));
  Set(a, "bottom", Member(Var("t"), "bottomScroll"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("max"), "4");  // one 12-pixel line fits in 16 pixels
  EXPECT_EQ(r.Get("scroll"), "4");
  EXPECT_EQ(r.Get("bottom"), "4");
}

// htmlText before SWF 8 aligns by its paragraphs alone (left unless they
// say) and leaves the new text format so; later it keeps the field's.
TEST(Avm1TextField, HtmlTextAlignmentStartsLeftBeforeSwf8) {
  for (const int version : {7, 8}) {
    Actions a = MakeField(0, 0, 100, 20);
    Set(a, "f", New("TextFormat"));
    a.Append(SetMember(Var("f"), "align", Str("center")));
    a.Append(Method(Var("t"), "setNewTextFormat", {Var("f")})).Raw(kPop);
    a.Append(SetMember(Var("t"), "html", Bool(true)));
    a.Append(SetMember(Var("t"), "htmlText", Str("a<br>b")));
    Set(a, "newAlign", Member(Method(Var("t"), "getNewTextFormat", {}), "align"));
    Set(a, "textAlign", Member(Method(Var("t"), "getTextFormat", {Int(0), Int(1)}), "align"));
    Set(a, "explicit", Str(""));
    a.Append(SetMember(Var("t"), "htmlText", Str("<p align='right'>a</p>")));
    Set(a, "explicit", Member(Method(Var("t"), "getTextFormat", {Int(0), Int(1)}), "align"));
    Played r(Script(a, static_cast<std::uint8_t>(version)));
    const std::string want = version < 8 ? "left" : "center";
    EXPECT_EQ(r.Get("newAlign"), want) << version;
    EXPECT_EQ(r.Get("textAlign"), want) << version;
    EXPECT_EQ(r.Get("explicit"), "right") << version;
  }
}

// scroll wraps to 32 bits and counts lines from 0 inside: 2^31 and 2^31 + 2^32
// land on the last line, 2^31 + 1 on the first; nothing that is no number
// scrolls to the first.
TEST(Avm1TextField, ScrollWrapsAsAnInt32LineIndex) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "text", Str("1\r2\r3\r4")));
  const std::pair<const char*, double> cases[] = {
      {"big", 2147483648.0}, {"wrapped", 767100486418432.0}, {"next", 767100486418433.0}, {"neg", -3}, {"two", 2.9}};
  for (const auto& [name, v] : cases) {
    a.Append(SetMember(Var("t"), "scroll", Int(3)));
    a.Append(SetMember(Var("t"), "scroll", Dbl(v)));
    Set(a, name, Member(Var("t"), "scroll"));
  }
  a.Append(SetMember(Var("t"), "scroll", Int(3)));
  a.Append(SetMember(Var("t"), "scroll", Str("x")));
  Set(a, "text", Member(Var("t"), "scroll"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("big"), "4");
  EXPECT_EQ(r.Get("wrapped"), "4");
  EXPECT_EQ(r.Get("next"), "1");
  EXPECT_EQ(r.Get("neg"), "1");
  EXPECT_EQ(r.Get("two"), "2");
  EXPECT_EQ(r.Get("text"), "1");
}

TEST(Avm1TextField, ANegativeSizeReachesBackFromThePosition) {
  Actions a;
  a.Append(Method(Var("_root"), "createTextField", {Str("field"), Int(1), Int(50), Int(50), Int(-50), Int(-50)}))
      .Raw(kPop);
  a.Append(SetMember(Member(Var("_root"), "field"), "background", Bool(true)));
  a.Append(SetMember(Member(Var("_root"), "field"), "backgroundColor", Int(0)));
  Set(a, "x", Member(Member(Var("_root"), "field"), "_x"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("x"), "50");
  const gdi::Bitmap bmp = r.Picture();
  EXPECT_EQ(bmp.GetPixel(25, 25), (Color{0, 0, 0}));
  EXPECT_EQ(bmp.GetPixel(75, 75), (Color{255, 255, 255}));
}

TEST(Avm1TextField, FieldsDrawTheirTextBorderAndBackground) {
  Actions a = MakeField(10, 10, 80, 40);
  a.Append(SetMember(Var("t"), "border", Bool(true)));
  a.Append(SetMember(Var("t"), "borderColor", Int(0x0000FF)));
  a.Append(SetMember(Var("t"), "background", Bool(true)));
  a.Append(SetMember(Var("t"), "backgroundColor", Int(0xFFFF00)));
  a.Append(SetMember(Var("t"), "textColor", Int(0xFF0000)));
  Set(a, "f", New("TextFormat", {Str("_sans"), Int(30)}));
  a.Append(Method(Var("t"), "setNewTextFormat", {Var("f")})).Raw(kPop);
  a.Append(SetMember(Var("t"), "text", Str("HH")));
  Played r(Script(a));
  const gdi::Bitmap bmp = r.Picture();
  EXPECT_EQ(bmp.GetPixel(5, 5), (Color{255, 255, 255}));    // outside the box
  EXPECT_EQ(bmp.GetPixel(85, 45), (Color{255, 255, 0}));    // background
  EXPECT_EQ(bmp.GetPixel(50, 10), (Color{0, 0, 255}));      // the border's top edge
  EXPECT_EQ(bmp.GetPixel(90, 30), (Color{0, 0, 255}));      // and its right one
  // The left stem of the first H: 2 pixels in from the box, 30-pixel capitals.
  int red = 0;
  for (int y = 15; y < 40; ++y) {
    for (int x = 12; x < 20; ++x) red += bmp.GetPixel(x, y) == Color{255, 0, 0};
  }
  EXPECT_GT(red, 20);
  // Nothing drawn below the line.
  for (int x = 12; x < 88; ++x) EXPECT_EQ(bmp.GetPixel(x, 46), (Color{255, 255, 0})) << x;
}

// DefineEditText with a device font named `font`, wrapping, not bound.
std::vector<std::uint8_t> FieldTag(std::uint16_t id, std::uint16_t fontId, const std::string& text) {
  SwfWriter w;
  w.U16(id);
  w.Rect({0, 2000, 0, 2000});
  w.U8(0x80 | 0x40 | 0x20 | 0x04 | 0x01);  // has text, word wrap, multiline, has colour, has font
  w.U8(0x20);                               // has layout
  w.U16(fontId);
  w.U16(240);                               // 12 pixels
  w.U8(0), w.U8(0), w.U8(0), w.U8(255);
  w.U8(2);                                  // centred
  w.U16(0), w.U16(0), w.U16(0), w.U16(0);   // margins, indent, leading
  w.String("");
  w.String(text);
  return w.Data();
}

// DefineFont2 without glyphs: a device font by name.
std::vector<std::uint8_t> DeviceFont(std::uint16_t id, const std::string& name) {
  SwfWriter w;
  w.U16(id);
  w.U8(0);
  w.U8(0);
  w.U8(static_cast<std::uint8_t>(name.size()));
  for (char c : name) w.U8(static_cast<std::uint8_t>(c));
  w.U16(0);  // no glyphs
  w.U16(0);  // code table offset
  return w.Data();
}

TEST(Avm1TextField, TimelineFieldsAnswerScriptsWithTheirDefinition) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.SetBackgroundColor({255, 255, 255, 255});
  b.Tag(48, DeviceFont(2, "Arial"));
  b.Tag(37, FieldTag(3, 2, "centred words that wrap in the box"));
  b.PlaceObject2({.depth = 1, .characterId = 3, .name = "label"});
  Actions a;
  Set(a, "text", Member(Var("label"), "text"));
  Set(a, "font", Member(Method(Var("label"), "getTextFormat", {Int(0)}), "font"));
  Set(a, "align", Member(Method(Var("label"), "getTextFormat", {Int(0)}), "align"));
  Set(a, "wrap", Member(Var("label"), "wordWrap"));
  Set(a, "lines", Member(Var("label"), "maxscroll"));
  Set(a, "h", Member(Var("label"), "textHeight"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("text"), "centred words that wrap in the box");
  EXPECT_EQ(r.Get("font"), "Arial");
  EXPECT_EQ(r.Get("align"), "center");
  EXPECT_EQ(r.Get("wrap"), "true");
  EXPECT_EQ(r.Get("lines"), "1");
  EXPECT_GT(std::stoi(r.Get("h")), 27) << "wrapped onto more than two lines";
}

TEST(Avm1TextField, TimelineFieldsTakeTheirTextSettingsAndDuplicateFromTheirDefinition) {
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.Tag(48, DeviceFont(2, "Arial"));
  b.Tag(37, FieldTag(3, 2, "defined"));
  // CSMTextSettings: field 3, advanced anti-aliasing (1 << 6), subpixel grid (2 << 3), thickness, sharpness.
  std::vector<std::uint8_t> csm{3, 0, (1 << 6) | (2 << 3)};
  for (float v : {1.5f, -2.0f}) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &v, 4);
    csm.insert(csm.end(), bytes, bytes + 4);
  }
  csm.push_back(0);
  b.Tag(74, csm);
  b.PlaceObject2({.depth = 1, .characterId = 3, .name = "label"});
  Actions a;
  Set(a, "aa", Member(Var("label"), "antiAliasType"));
  Set(a, "grid", Member(Var("label"), "gridFitType"));
  Set(a, "thick", Member(Var("label"), "thickness"));
  Set(a, "sharp", Member(Var("label"), "sharpness"));
  a.Append(SetMember(Var("label"), "gridFitType", Str("fine")));  // unknown: kept
  Set(a, "grid2", Member(Var("label"), "gridFitType"));
  a.Append(SetMember(Var("label"), "text", Str("changed")));
  a.Append(SetMember(Var("label"), "_x", Int(30)));
  // duplicateMovieClip(label, "copy", 5)
  a.Append(Actions().Append(Var("label")).PushString("copy").PushInt(16384 + 5).Raw(Code(Action::kCloneSprite)));
  Set(a, "copyText", Member(Var("copy"), "text"));
  Set(a, "copyX", Member(Var("copy"), "_x"));
  Set(a, "copyName", Member(Var("copy"), "_name"));
  b.DoAction(a.Stop()).ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("aa"), "advanced");
  EXPECT_EQ(r.Get("grid"), "subpixel");
  EXPECT_EQ(r.Get("thick"), "1.5");
  EXPECT_EQ(r.Get("sharp"), "-2");
  EXPECT_EQ(r.Get("grid2"), "subpixel");
  EXPECT_EQ(r.Get("copyText"), "defined");  // the definition's text, not the script's
  EXPECT_EQ(r.Get("copyX"), r.Get("label._x"));
  EXPECT_EQ(r.Get("copyName"), "copy");
}

TEST(Avm1TextField, ScriptFieldsBindToVariables) {
  Actions a = MakeField(0, 0, 100, 20);
  a.Append(SetMember(Var("t"), "text", Str("mine")));
  a.Append(SetMember(Var("t"), "variable", Str("shown")));
  Actions later;
  Set(later, "seen", Var("shown"));
  Set(later, "shown", Str("theirs"));
  Actions last;
  Set(last, "text", Member(Var("t"), "text"));
  last.Append(SetMember(Var("t"), "text", Str("back")));
  Set(last, "after", Var("shown"));
  SwfBuilder b(8, {0, 2000, 0, 2000}, 10.0);
  b.DoAction(a).ShowFrame();
  b.DoAction(later).ShowFrame();
  b.DoAction(last.Stop()).ShowFrame();
  Played r(b);
  r.player.AdvanceTo(300);
  EXPECT_EQ(r.Get("seen"), "mine");  // the field gave its variable its text
  EXPECT_EQ(r.Get("text"), "theirs");  // and shows what the variable holds
  EXPECT_EQ(r.Get("after"), "back");   // its own text goes to the variable
  EXPECT_EQ(r.Get("_root.field.text"), "back");
}

TEST(Avm1TextField, SelectionKeepsTheFocus) {
  Actions a = MakeField(0, 0, 100, 20);
  Set(a, "before", Method(Var("Selection"), "getFocus", {}));
  Set(a, "ok", Method(Var("Selection"), "setFocus", {Var("t")}));
  Set(a, "after", Method(Var("Selection"), "getFocus", {}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("before"), "null");
  EXPECT_EQ(r.Get("ok"), "true");
  EXPECT_EQ(r.Get("after"), "_level0.field");
}

// flash.text.TextRenderer is there for the movies that set its options:
// a class with its anti-aliasing settings.
TEST(Avm1TextField, TextRendererIsAClass) {
  Actions a;
  Set(a, "type", Op(Member(Member(Member(Var("flash"), "text"), "TextRenderer"), "prototype"), kTypeOf));
  Set(a, "maxLevel", Member(Member(Member(Var("flash"), "text"), "TextRenderer"), "maxLevel"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("type"), "object");
  EXPECT_EQ(r.Get("maxLevel"), "4");
}

}  // namespace
}  // namespace quarvel::player::script_test
