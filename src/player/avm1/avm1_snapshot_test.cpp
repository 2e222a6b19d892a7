// TextSnapshot over static text: which texts a clip's snapshot reads, and
// what its methods answer for odd arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

// DefineFont2 with an empty glyph for each character of `codes`.
std::vector<std::uint8_t> GlyphFont(std::uint16_t id, const std::string& codes) {
  SwfWriter w;
  w.U16(id);
  w.U8(0x04);  // wide codes
  w.U8(0);
  w.U8(1);
  w.U8('F');
  const auto n = static_cast<std::uint16_t>(codes.size());
  w.U16(n);
  const std::uint16_t table = static_cast<std::uint16_t>(2 * n + 2);
  for (std::uint16_t i = 0; i < n; ++i) w.U16(static_cast<std::uint16_t>(table + 2 * i));
  w.U16(static_cast<std::uint16_t>(table + 2 * n));
  for (std::uint16_t i = 0; i < n; ++i) w.U8(0), w.U8(0);  // no fill or line bits, end of shape
  for (char c : codes) w.U16(static_cast<std::uint8_t>(c));
  return w.Data();
}

// DefineText of `lines` (glyph indices into the font), one record per line,
// each 200 twips below the one before.
std::vector<std::uint8_t> StaticText(std::uint16_t id, std::uint16_t font, const std::vector<std::vector<int>>& lines) {
  SwfWriter w;
  w.U16(id);
  w.Rect({0, 2000, 0, 2000});
  w.Matrix({});
  w.U8(8);  // glyph bits
  w.U8(8);  // advance bits
  std::int16_t y = 200;
  for (const auto& line : lines) {
    w.U8(0x80 | 0x08 | 0x04 | 0x02 | 0x01);  // record with font, colour, y and x
    w.U16(font);
    w.U8(0), w.U8(0), w.U8(0);
    w.S16(0);
    w.S16(y);
    w.U16(240);
    w.U8(static_cast<std::uint8_t>(line.size()));
    for (int g : line) {
      w.UB(static_cast<std::uint32_t>(g), 8);
      w.SB(100, 8);
    }
    w.Align();
    y = static_cast<std::int16_t>(y + 200);
  }
  w.U8(0);
  return w.Data();
}

// A value as script text, so that undefined reads "undefined".
Actions AsText(const Actions& v) { return Bin(Str(""), v, Action::kAdd2); }

// _root holds "CD" at depth 2, "AB" over two lines at depth 1, a clip
// "holder" with "EF", and an edit field; then runs `code`.
SwfBuilder TextMovie(const Actions& code, std::uint8_t version = 8) {
  auto b = Movie(version);
  b.Tag(48, GlyphFont(1, "ABCDEF"));
  b.Tag(11, StaticText(2, 1, {{2, 3}}));
  b.Tag(11, StaticText(3, 1, {{0}, {1}}));
  b.Tag(11, StaticText(4, 1, {{4, 5}}));
  Timeline holder;
  holder.PlaceObject2({.depth = 1, .characterId = 4}).ShowFrame();
  b.DefineSprite(5, holder);
  b.PlaceObject2({.depth = 2, .characterId = 2});
  b.PlaceObject2({.depth = 1, .characterId = 3});
  b.PlaceObject2({.depth = 3, .characterId = 5, .name = std::string("holder")});
  b.DoAction(Actions()
                 .Append(Do(Var("_root"), "createTextField", {Str("field"), Int(10), Int(0), Int(0), Int(50), Int(20)}))
                 .Append(SetMember(Member(Var("_root"), "field"), "text", Str("XY")))
                 .Append(code)
                 .Stop())
      .ShowFrame();
  return b;
}

TEST(Avm1TextSnapshot, ReadsTheClipsOwnStaticTextInDepthOrder) {
  Actions a;
  Set(a, "ts", New("TextSnapshot", {Var("_root")}));
  Set(a, "count", Method(Var("ts"), "getCount"));
  Set(a, "all", Method(Var("ts"), "getText", {Int(0), Int(100)}));
  Set(a, "lines", Method(Var("ts"), "getText", {Int(0), Int(100), Bool(true)}));
  Set(a, "fromClip", Method(Method(Member(Var("_root"), "holder"), "getTextSnapshot"), "getText", {Int(0), Int(9)}));
  Set(a, "none", AsText(Method(New("TextSnapshot"), "getText", {Int(0), Int(9)})));
  Played r(TextMovie(a));
  EXPECT_EQ(r.Get("count"), "4");  // the edit field and the nested clip's text are not read
  EXPECT_EQ(r.Get("all"), "ABCD");
  EXPECT_EQ(r.Get("lines"), "A\nB\nCD");
  EXPECT_EQ(r.Get("fromClip"), "EF");
  EXPECT_EQ(r.Get("none"), "undefined");
}

// One snapshot method called with each argument list; what each call gave,
// then what `more` left in variables.
struct Call {
  std::vector<Actions> args;
  std::string want;
};
void ExpectCalls(const std::string& method, const std::vector<Call>& calls, const Actions& more = {},
                 const std::vector<std::pair<std::string, std::string>>& moreWanted = {}) {
  Actions a;
  Set(a, "ts", New("TextSnapshot", {Var("_root")}));
  for (std::size_t i = 0; i < calls.size(); ++i) {
    Set(a, "c" + std::to_string(i), AsText(Method(Var("ts"), method, calls[i].args)));
  }
  a.Append(more);
  Played r(TextMovie(a));
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(r.Get("c" + std::to_string(i)), calls[i].want) << method << " #" << i;
  }
  for (const auto& [name, want] : moreWanted) EXPECT_EQ(r.Get(name), want) << name;
}

TEST(Avm1TextSnapshot, GetTextClampsItsRangeAndWantsTwoOrThreeArguments) {
  ExpectCalls("getText", {{{Int(1), Int(3)}, "BC"},
                          {{Int(1), Int(1)}, "B"},  // at least one character
                          {{Int(100), Int(200)}, "D"},
                          {{Int(-5), Int(2)}, "AB"},
                          {{Int(3), Int(-2)}, "D"},
                          {{Str("1"), Dbl(2.9)}, "B"},
                          {{Int(1)}, "undefined"},
                          {{Int(0), Int(4), Bool(true), Int(1)}, "undefined"},
                          {{Int(0), Int(4), Int(0)}, "ABCD"}});
}

TEST(Avm1TextSnapshot, FindTextSearchesFromAStartWithOrWithoutCaseAndSelects) {
  Actions more;
  Set(more, "sel0", Method(Var("ts"), "getSelected", {Int(0), Int(4)}));
  more.Append(Do(Var("ts"), "setSelected", {Int(1), Int(3), Bool(true)}));
  Set(more, "sel1", Method(Var("ts"), "getSelected", {Int(0), Int(1)}));
  Set(more, "sel2", Method(Var("ts"), "getSelected", {Int(2), Int(4)}));
  Set(more, "selText", Method(Var("ts"), "getSelectedText", {Bool(true)}));
  ExpectCalls("findText",
              {{{Int(0), Str("cd"), Bool(false)}, "2"},
               {{Int(0), Str("cd"), Bool(true)}, "-1"},
               {{Int(3), Str("CD"), Bool(true)}, "-1"},  // the match must start at or after the start
               {{Int(-1), Str("A"), Bool(true)}, "-1"},
               {{Int(0), Str(""), Bool(true)}, "-1"},
               {{Int(0), Str("B\nC"), Bool(true)}, "-1"},  // line ends are not in the text
               {{Int(0), Str("A")}, "undefined"}},
              more, {{"sel0", "false"}, {"sel1", "false"}, {"sel2", "true"}, {"selText", "B\nC"}});
}

TEST(Avm1TextSnapshot, ADuplicateTakesTheStaticTextFromItsSource) {
  Actions a;
  Set(a, "old", Method(Member(Var("_root"), "holder"), "getTextSnapshot"));
  a.Append(Do(Member(Var("_root"), "holder"), "duplicateMovieClip", {Str("copy"), Int(20)}));
  Set(a, "source", AsText(Method(Method(Member(Var("_root"), "holder"), "getTextSnapshot"), "getText", {Int(0), Int(9)})));
  Set(a, "copy", Method(Method(Member(Var("_root"), "copy"), "getTextSnapshot"), "getText", {Int(0), Int(9)}));
  Set(a, "kept", Method(Var("old"), "getText", {Int(0), Int(9)}));
  a.Append(Do(Member(Var("_root"), "holder"), "duplicateMovieClip", {Str("again"), Int(21)}));
  Set(a, "again", AsText(Method(Method(Member(Var("_root"), "again"), "getTextSnapshot"), "getText", {Int(0), Int(9)})));
  Played r(TextMovie(a));
  EXPECT_EQ(r.Get("source"), "undefined");
  EXPECT_EQ(r.Get("copy"), "EF");
  EXPECT_EQ(r.Get("kept"), "EF");  // a snapshot keeps what it read
  EXPECT_EQ(r.Get("again"), "undefined");
}

TEST(Avm1TextSnapshot, MethodsAreHiddenFromVersion5Movies) {
  Actions a;
  Set(a, "type", Op(Member(New("TextSnapshot", {Var("_root")}), "getText"), Code(Action::kTypeOf)));
  Set(a, "clipType", Op(Member(Var("_root"), "getTextSnapshot"), Code(Action::kTypeOf)));
  Played v5(TextMovie(a, 5));
  EXPECT_EQ(v5.Get("type"), "undefined");
  EXPECT_EQ(v5.Get("clipType"), "undefined");
  Played v6(TextMovie(a, 6));
  EXPECT_EQ(v6.Get("type"), "function");
  EXPECT_EQ(v6.Get("clipType"), "function");
}

}  // namespace
}  // namespace quarvel::player::script_test
