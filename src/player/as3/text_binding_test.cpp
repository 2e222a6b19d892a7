// flash.text from ActionScript 3: fields laid out by the shared layout and
// read back by scripts, formats over ranges, HTML, embedded fonts and the
// rendered picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <utility>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/abc_builder.h"
#include "support/font_caches.h"
#include "support/swf_builder.h"
#include "support/swf_writer.h"

namespace quarvel::player {
namespace {

using avm2::TraitKind;
using testing::AbcBuilder;
using testing::AbcCode;

// A movie whose document class Main (a MovieClip) runs code built here in
// its constructor. Registers: 1 the field, 2 and 3 formats or others.
struct TextMovie {
  AbcBuilder a;
  AbcCode c;
  std::uint32_t pub = a.Namespace(avm2::NamespaceKind::kPackage, "");
  std::function<void(testing::SwfBuilder&)> tags;  // defined before the code
  std::string fontClass;  // a subclass of Font to define, when set

  TextMovie() { c.Op("getlocal_0").Op("pushscope").Op("getlocal_0").Op("constructsuper", {0}); }

  std::uint32_t Q(std::string_view n) { return a.QName(pub, n); }
  std::uint32_t Text(std::string_view n) { return a.PackageName("flash.text", n); }

  TextMovie& New(std::string_view cls, int reg) {
    c.Op("findpropstrict", {Text(cls)}).Op("constructprop", {Text(cls), 0}).Op("coerce_a").Op("setlocal", {reg});
    return *this;
  }
  TextMovie& Str(std::string_view s) {
    c.Op("pushstring", {a.String(s)});
    return *this;
  }
  TextMovie& Int(int i) {
    c.Op("pushint", {a.Int(i)});
    return *this;
  }
  TextMovie& Num(double d) {
    c.Op("pushdouble", {a.Double(d)});
    return *this;
  }
  TextMovie& Bool(bool b) {
    c.Op(b ? "pushtrue" : "pushfalse");
    return *this;
  }
  TextMovie& Null() {
    c.Op("pushnull");
    return *this;
  }
  TextMovie& Reg(int reg) {
    c.Op("getlocal", {reg});
    return *this;
  }
  // reg.name = (what push leaves)
  TextMovie& Set(int reg, std::string_view name, const std::function<void()>& push) {
    Reg(reg);
    push();
    c.Op("setproperty", {Q(name)});
    return *this;
  }
  // reg.name(args...), the result dropped
  TextMovie& Call(int reg, std::string_view name, int args, const std::function<void()>& push = [] {}) {
    Reg(reg);
    push();
    c.Op("callpropvoid", {Q(name), args});
    return *this;
  }
  // trace(what push leaves)
  TextMovie& Trace(const std::function<void()>& push) {
    c.Op("findpropstrict", {Q("trace")});
    push();
    c.Op("callpropvoid", {Q("trace"), 1});
    return *this;
  }
  // Pushes reg.name
  std::function<void()> Get(int reg, std::string_view name) {
    return [this, reg, n = std::string(name)] { Reg(reg).c.Op("getproperty", {Q(n)}); };
  }
  // Pushes reg.method(args...).member
  std::function<void()> CallGet(int reg, std::string_view method, std::vector<int> args, std::string_view member) {
    return [this, reg, m = std::string(method), args, mem = std::string(member)] {
      Reg(reg);
      for (int i : args) Int(i);
      c.Op("callproperty", {Q(m), static_cast<std::int64_t>(args.size())});
      if (!mem.empty()) c.Op("getproperty", {Q(mem)});
    };
  }
  // A field in register 1, on the stage, with a format of font and size.
  TextMovie& Field(std::string_view font, int size) {
    New("TextField", 1);
    New("TextFormat", 2);
    Set(2, "font", [&] { Str(font); });
    Set(2, "size", [&] { Int(size); });
    Set(1, "defaultTextFormat", [&] { Reg(2); });
    c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {Q("addChild"), 1});
    return *this;
  }

  std::uint32_t Method(AbcCode code) {
    const auto m = a.Method({});
    a.Body({.method = m, .maxStack = 16, .localCount = 6, .maxScopeDepth = 4}, code);
    return m;
  }
  std::vector<std::uint8_t> Build() {
    AbcCode ctor = c;
    ctor.Op("returnvoid");
    avm2::InstanceInfo ii;
    ii.name = Q("Main");
    ii.superName = a.PackageName("flash.display", "MovieClip");
    ii.flags = avm2::instance_flag::kSealed;
    ii.iinit = Method(ctor);
    AbcCode cinit;
    cinit.Op("returnvoid");
    const auto cls = a.Class(ii, {.cinit = Method(cinit)});
    AbcCode init;
    init.Op("getlocal_0").Op("pushscope").Op("getscopeobject", {0})
        .Op("getlex", {a.PackageName("flash.display", "MovieClip")})
        .Op("newclass", {cls}).Op("initproperty", {Q("Main")}).Op("returnvoid");
    avm2::Trait ct;
    ct.name = Q("Main");
    ct.kind = TraitKind::kClass;
    ct.index = cls;
    std::vector<avm2::Trait> traits = {ct};
    if (!fontClass.empty()) {
      avm2::InstanceInfo fi;
      fi.name = Q(fontClass);
      fi.superName = Text("Font");
      fi.flags = avm2::instance_flag::kSealed;
      AbcCode fctor;
      fctor.Op("getlocal_0").Op("pushscope").Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
      fi.iinit = Method(fctor);
      const auto fcls = a.Class(fi, {.cinit = Method(cinit)});
      init = AbcCode();
      init.Op("getlocal_0").Op("pushscope").Op("getscopeobject", {0}).Op("getlex", {Text("Font")})
          .Op("newclass", {fcls}).Op("initproperty", {Q(fontClass)});
      init.Op("getscopeobject", {0}).Op("getlex", {a.PackageName("flash.display", "MovieClip")})
          .Op("newclass", {cls}).Op("initproperty", {Q("Main")}).Op("returnvoid");
      avm2::Trait ft;
      ft.name = Q(fontClass);
      ft.kind = TraitKind::kClass;
      ft.index = fcls;
      traits.push_back(ft);
    }
    a.Script({.init = Method(init), .traits = traits});
    testing::SwfBuilder b(10, {0, 2000 * 2, 0, 2000}, 10.0);
    b.FileAttributes(0x08).SetBackgroundColor({255, 255, 255, 255});
    if (tags) tags(b);
    testing::AddDoAbc(b, a.Bytes(), "main");
    b.ExportAssets({{0, "Main"}}, true);
    b.ShowFrame();
    return b.Build();
  }
};

// Runs the movie's first frame; what it traced, one entry per call.
std::vector<std::string> Traced(const std::vector<std::uint8_t>& bytes, gdi::Bitmap* picture = nullptr) {
  setenv("QUARVEL_DEBUG", "1", 1);
  ::testing::internal::CaptureStderr();
  {
    FlashPlayer p;
    p.SetSize(200, 100);
    EXPECT_TRUE(p.LoadMovieBytes(bytes)) << p.LoadError();
    p.AdvanceTo(p.Now());
    if (picture) p.Paint(*picture);
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  unsetenv("QUARVEL_DEBUG");
  EXPECT_EQ(err.find("uncaught error"), std::string::npos) << err;
  std::vector<std::string> out;
  std::istringstream lines(err);
  // A field's line end (\r) comes out as a new line of the log: it joins
  // the entry it ends.
  bool tracing = false;
  for (std::string l; std::getline(lines, l);) {
    if (l.rfind("trace: ", 0) == 0) out.push_back(l.substr(7));
    else if (tracing && !out.empty()) out.back() += "\n" + l;
    tracing = l.rfind("trace: ", 0) == 0 || (tracing && l.find(": ") == std::string::npos);
  }
  return out;
}

double Num(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

TEST(As3Text, MetricsOfDeviceTextAreReadBack) {
  TextMovie t;
  t.Field("Arial", 20);
  t.Set(1, "text", [&] { t.Str("Hello"); });
  t.Trace(t.Get(1, "textWidth")).Trace(t.Get(1, "textHeight")).Trace(t.Get(1, "numLines"));
  // Wrapping at a width of 60 pixels breaks the words onto lines.
  t.Set(1, "wordWrap", [&] { t.Bool(true); });
  t.Set(1, "width", [&] { t.Int(60); });
  t.Set(1, "text", [&] { t.Str("Hello Hello Hello"); });
  t.Trace(t.Get(1, "numLines")).Trace(t.CallGet(1, "getLineText", {1}, ""));
  // autoSize grows the box to the three lines, keeping the width.
  t.Set(1, "autoSize", [&] { t.Str("left"); });
  t.Trace(t.Get(1, "height")).Trace(t.Get(1, "width"));
  t.Trace(t.CallGet(1, "getLineMetrics", {0}, "ascent"));
  const auto out = Traced(t.Build());
  ASSERT_EQ(out.size(), 8u);
  // Arial's advances (2048 units an em): H 1479, e 1139, l 455, o 1139;
  // device text advances by whole pixels.
  auto px = [](int units) { return std::round(units / 2048.0 * 20); };
  EXPECT_NEAR(Num(out[0]), px(1479) + px(1139) + 2 * px(455) + px(1139), 0.5);
  // A line of Arial is its ascent and descent: 0.905 + 0.212 of the size.
  EXPECT_NEAR(Num(out[1]), 1.117 * 20, 1.5);
  EXPECT_EQ(out[2], "1");
  EXPECT_EQ(out[3], "3");
  EXPECT_EQ(out[4], "Hello ");
  EXPECT_NEAR(Num(out[5]), 3 * 1.117 * 20 + 4, 4.5);
  EXPECT_EQ(out[6], "60");
  EXPECT_NEAR(Num(out[7]), 0.905 * 20, 1.0);
}

TEST(As3Text, FormatsApplyToRangesAndReadBackMixedAsNull) {
  TextMovie t;
  t.Field("Arial", 12);
  t.Set(1, "text", [&] { t.Str("abcdef"); });
  t.New("TextFormat", 3);
  t.Set(3, "color", [&] { t.Int(0xFF0000); });
  t.Set(3, "bold", [&] { t.Bool(true); });
  t.Call(1, "setTextFormat", 3, [&] { t.Reg(3).Int(1).Int(3); });  // b, c
  t.Call(1, "setTextFormat", 2, [&] { t.Reg(3).Int(5); });         // f alone
  t.Trace(t.CallGet(1, "getTextFormat", {1, 3}, "color"));
  t.Trace(t.CallGet(1, "getTextFormat", {0, 3}, "color"));  // mixed
  t.Trace(t.CallGet(1, "getTextFormat", {0, 1}, "bold"));
  t.Trace(t.CallGet(1, "getTextFormat", {4, 5}, "bold"));
  t.Trace(t.CallGet(1, "getTextFormat", {5, 6}, "bold"));
  t.Trace(t.CallGet(1, "getTextFormat", {0, 6}, "size"));  // the same everywhere
  // Text put in takes the format after it; appended text the default one.
  t.Call(1, "replaceText", 3, [&] { t.Int(0).Int(1).Str("X"); });
  t.Call(1, "appendText", 1, [&] { t.Str("!"); });
  t.Trace(t.CallGet(1, "getTextFormat", {0, 1}, "color"));
  t.Trace(t.CallGet(1, "getTextFormat", {6, 7}, "bold"));
  t.Trace(t.Get(1, "text")).Trace(t.Get(1, "length"));
  const auto out = Traced(t.Build());
  ASSERT_EQ(out.size(), 10u);
  EXPECT_EQ(out[0], "16711680");
  EXPECT_EQ(out[1], "null");
  EXPECT_EQ(out[2], "false");
  EXPECT_EQ(out[3], "false");
  EXPECT_EQ(out[4], "true");
  EXPECT_EQ(out[5], "12");
  EXPECT_EQ(out[6], "16711680");
  EXPECT_EQ(out[7], "false");
  EXPECT_EQ(out[8], "Xbcdef!");
  EXPECT_EQ(out[9], "7");
}

TEST(As3Text, TextFormatTakesItsConstructorArgumentsInFlashOrder) {
  TextMovie t;
  t.c.Op("findpropstrict", {t.Text("TextFormat")});
  t.Str("Verdana").Int(14).Int(0x00FF00).Bool(true).Bool(false).Bool(true).Str("http://a").Str("_blank")
      .Str("center").Int(1).Int(2).Int(3).Int(4);
  t.c.Op("constructprop", {t.Text("TextFormat"), 13}).Op("coerce_a").Op("setlocal", {2});
  for (const char* p : {"font", "size", "color", "bold", "italic", "underline", "url", "target", "align",
                        "leftMargin", "rightMargin", "indent", "leading", "kerning"})
    t.Trace(t.Get(2, p));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"Verdana", "14", "65280", "true", "false", "true", "http://a",
                                         "_blank", "center", "1", "2", "3", "4", "null"};
  EXPECT_EQ(out, want);
}

// A format keeps its int members as Flash converts them (half to even, the
// lowest int for what does not fit); a field bounds them when it takes them.
TEST(As3Text, FormatIntMembersConvertAsFlashAndFieldsBoundThem) {
  TextMovie t;
  t.Field("Arial", 12);
  t.Set(1, "text", [&] { t.Str("x"); });
  for (double d : {2.5, 3.5, -2.5}) {
    t.Set(2, "leading", [&] { t.Num(d); });
    t.Trace(t.Get(2, "leading"));
  }
  t.Set(2, "size", [&] { t.Num(1e12); });
  t.Trace(t.Get(2, "size"));
  t.Set(2, "color", [&] { t.Num(4294967295.0); });  // read back as the int it was
  t.Trace(t.Get(2, "color"));
  t.Set(2, "letterSpacing", [&] { t.Num(2.5); });
  t.Trace(t.Get(2, "letterSpacing"));
  t.Set(2, "leading", [&] { t.Num(0); });
  t.Call(1, "setTextFormat", 1, [&] { t.Reg(2); });
  t.Trace(t.CallGet(1, "getTextFormat", {}, "size")).Trace(t.CallGet(1, "getTextFormat", {}, "color"));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"2", "4", "-2", "-2147483648", "-1", "2.5", "0", "16777215"};
  EXPECT_EQ(out, want);
}

TEST(As3Text, FormatFontNamesDisplayAndEmptyNames) {
  TextMovie t;
  t.Field("Arial", 12);
  t.New("TextFormat", 3);
  t.Trace(t.Get(3, "display"));
  t.Set(3, "display", [&] { t.Str("inline"); });
  t.Trace(t.Get(3, "display"));
  t.Set(3, "display", [&] { t.Str("sideways"); });
  t.Trace(t.Get(3, "display"));
  // Names longer than 64 units are cut.
  t.Set(3, "font", [&] { t.Str(std::string(70, 'f')); });
  t.Trace([&] { t.Reg(3).c.Op("getproperty", {t.Q("font")}).Op("getproperty", {t.Q("length")}); });
  // An empty name leaves the field's font.
  t.Set(3, "font", [&] { t.Str(""); });
  t.Set(1, "defaultTextFormat", [&] { t.Reg(3); });
  t.Trace([&] { t.Reg(1).c.Op("getproperty", {t.Q("defaultTextFormat")}).Op("getproperty", {t.Q("font")}); });
  // An empty field has no format: every member reads unset.
  t.Trace(t.CallGet(1, "getTextFormat", {}, "size")).Trace(t.CallGet(1, "getTextFormat", {}, "display"));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"block", "inline", "null", "64", "Arial", "null", "block"};
  EXPECT_EQ(out, want);
}

TEST(As3Text, RenderingHintsKeepFlashRanges) {
  TextMovie t;
  t.Field("Arial", 12);
  t.Trace(t.Get(1, "gridFitType"));
  t.Set(1, "gridFitType", [&] { t.Str("subpixel"); });
  t.Trace(t.Get(1, "gridFitType"));
  t.Set(1, "gridFitType", [&] { t.Str("bogus"); });  // fitting off
  t.Trace(t.Get(1, "gridFitType"));
  t.Set(1, "antiAliasType", [&] { t.Str("advanced"); });
  t.Set(1, "antiAliasType", [&] { t.Str("bogus"); });  // ignored
  t.Trace(t.Get(1, "antiAliasType"));
  for (double d : {-539.0, 300.0, std::nan("")}) {
    t.Set(1, "sharpness", [&] { t.Num(d); });
    t.Trace(t.Get(1, "sharpness"));
    t.Set(1, "thickness", [&] { t.Num(d); });
    t.Trace(t.Get(1, "thickness"));
  }
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"pixel", "subpixel", "none", "advanced", "-400", "-200",
                                         "300",   "200",      "NaN",  "NaN"};
  EXPECT_EQ(out, want);
}

TEST(As3Text, HtmlTextGoesInAndComesBack) {
  TextMovie t;
  t.Field("Arial", 12);
  t.Set(1, "htmlText", [&] { t.Str("<b>bold</b> <font color=\"#0000ff\">blue</font>"); });
  t.Trace(t.Get(1, "text"));
  t.Trace(t.CallGet(1, "getTextFormat", {0, 1}, "bold"));
  t.Trace(t.CallGet(1, "getTextFormat", {5, 6}, "color"));
  // What htmlText gives back parses to the same text and formats.
  t.New("TextField", 3);
  t.Set(3, "htmlText", [&] { t.Get(1, "htmlText")(); });
  t.Trace(t.Get(3, "text"));
  t.Trace(t.CallGet(3, "getTextFormat", {0, 4}, "bold"));
  t.Trace(t.CallGet(3, "getTextFormat", {5, 9}, "color"));
  t.Trace(t.CallGet(3, "getTextFormat", {5, 9}, "bold"));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"bold blue", "true", "255", "bold blue", "true", "255", "false"};
  EXPECT_EQ(out, want);
}

TEST(As3Text, ScrollingFollowsTheLinesThatFit) {
  TextMovie t;
  t.Field("Arial", 20);
  t.Set(1, "multiline", [&] { t.Bool(true); });
  t.Set(1, "height", [&] { t.Int(50); });  // two lines of 20-pixel Arial
  t.Set(1, "text", [&] { t.Str("1\n2\n3\n4\n5"); });
  t.Trace(t.Get(1, "numLines")).Trace(t.Get(1, "maxScrollV")).Trace(t.Get(1, "bottomScrollV"));
  t.Set(1, "scrollV", [&] { t.Int(99); });
  t.Trace(t.Get(1, "scrollV"));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"5", "4", "2", "4"};
  EXPECT_EQ(out, want);
}

// DefineFont3 of square glyphs for the codes given: each a square of half
// an em standing on the baseline, advancing by `advance` (0.6 em).
std::vector<std::uint8_t> SquareFont3(std::uint16_t id, std::string_view name, bool bold, bool italic,
                                      const std::u16string& codes, bool reversedShapes = false,
                                      std::int16_t advance = 12288) {
  const std::size_t n = codes.size();
  std::vector<std::vector<std::uint8_t>> shapes;
  for (std::size_t i = 0; i < n; ++i) {
    testing::SwfWriter s;
    s.UB(1, 4);
    s.UB(0, 4);
    const int side = 10240;
    s.UB(0, 1);
    s.UB(0b00011, 5);  // fill0 and a move
    s.UB(16, 5);
    s.SB(0, 16);
    s.SB(-side, 16);
    s.UB(1, 1);  // fill0 = 1
    for (auto [dx, dy] : {std::pair{side, 0}, {0, side}, {-side, 0}, {0, -side}}) {
      s.UB(1, 1);
      s.UB(1, 1);
      s.UB(16 - 2, 4);
      s.UB(1, 1);
      s.SB(dx, 16);
      s.SB(dy, 16);
    }
    s.UB(0, 6);
    s.Align();
    shapes.push_back(s.Take());
  }
  testing::SwfWriter w;
  w.U16(id);
  w.U8(static_cast<std::uint8_t>(0x80 | 0x04 | (italic ? 0x02 : 0) | (bold ? 0x01 : 0)));
  w.U8(0);
  w.U8(static_cast<std::uint8_t>(name.size()));
  w.Bytes({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
  w.U16(static_cast<std::uint16_t>(n));
  // The shapes may be stored in the reverse order of the table.
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = reversedShapes ? n - 1 - i : i;
  std::vector<std::size_t> offset(n);
  std::size_t at = 2 * n + 2;
  for (std::size_t k = 0; k < n; ++k) {
    offset[order[k]] = at;
    at += shapes[order[k]].size();
  }
  for (std::size_t i = 0; i < n; ++i) w.U16(static_cast<std::uint16_t>(offset[i]));
  w.U16(static_cast<std::uint16_t>(at));
  for (std::size_t k = 0; k < n; ++k) w.Bytes(shapes[order[k]]);
  for (char16_t ch : codes) w.U16(ch);
  w.U16(16384);  // ascent 0.8 em
  w.U16(4096);   // descent 0.2 em
  w.S16(0);
  for (std::size_t i = 0; i < n; ++i) w.S16(advance);
  for (std::size_t i = 0; i < n; ++i) w.Rect({0, 10240, -10240, 0});
  w.U16(0);
  return w.Take();
}

// Whether the picture has ink (not white) in a box of pixels.
bool Ink(const gdi::Bitmap& b, int x0, int y0, int x1, int y1) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (b.GetPixel(x, y) != gdi::Color{255, 255, 255}) return true;
  return false;
}

TEST(As3Text, EmbeddedFontsMatchByNameThenStyleAndDrawTheirGlyphs) {
  // "Squares" in bold and italic (the italic one first by id); the
  // regular style is missing. A regular request takes the bold face, as
  // Flash prefers the same slant.
  TextMovie t;
  t.tags = [](testing::SwfBuilder& b) {
    b.Tag(75, SquareFont3(5, "Squares", true, false, u"AB"));
    b.Tag(75, SquareFont3(4, "Squares", false, true, u"AB", false, 16384));
    b.ExportAssets({{5, "SquaresBold"}}, true);
  };
  t.Field("squares", 20);  // names match without regard to case
  t.Set(1, "embedFonts", [&] { t.Bool(true); });
  t.Set(1, "text", [&] { t.Str("AB"); });
  t.Trace(t.Get(1, "textWidth"));
  // A font with no glyphs for the text draws nothing but still lays out.
  t.New("TextField", 3);
  t.New("TextFormat", 2);
  t.Set(2, "font", [&] { t.Str("Missing"); });
  t.Set(3, "defaultTextFormat", [&] { t.Reg(2); });
  t.Set(3, "embedFonts", [&] { t.Bool(true); });
  t.Set(3, "text", [&] { t.Str("AB"); });
  t.Set(3, "y", [&] { t.Int(50); });
  t.c.Op("getlocal_0").Op("getlocal_3").Op("callpropvoid", {t.Q("addChild"), 1});
  // The linked font is listed with its name and style.
  t.c.Op("getlex", {t.Text("Font")}).Op("callproperty", {t.Q("enumerateFonts"), 0}).Op("setlocal", {4});
  t.Trace(t.Get(4, "length"));
  t.Trace([&] { t.Reg(4).Int(0); t.c.Op("getproperty", {t.a.MultinameL(t.a.NsSet({t.pub}))}).Op("getproperty", {t.Q("fontName")}); });
  t.Trace([&] { t.Reg(4).Int(0); t.c.Op("getproperty", {t.a.MultinameL(t.a.NsSet({t.pub}))}).Op("getproperty", {t.Q("fontStyle")}); });
  auto font0 = [&](const char* method, const char* arg) {
    return [&t, method, arg] {
      t.Reg(4).Int(0);
      t.c.Op("getproperty", {t.a.MultinameL(t.a.NsSet({t.pub}))}).Op("pushstring", {t.a.String(arg)})
          .Op("callproperty", {t.Q(method), 1});
    };
  };
  t.Trace(font0("hasGlyphs", "BA")).Trace(font0("hasGlyphs", "AZ"));
  // Where the glyphs are, from the script's side.
  t.Trace(t.CallGet(1, "getCharBoundaries", {1}, "x"));
  t.Trace([&] { t.Reg(1).Int(16).Int(10); t.c.Op("callproperty", {t.Q("getCharIndexAtPoint"), 2}); });
  gdi::Bitmap pic;
  const auto out = Traced(t.Build(), &pic);
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[4], "true");
  EXPECT_EQ(out[5], "false");
  EXPECT_NEAR(Num(out[6]), 2 + 12, 0.01);
  EXPECT_EQ(out[7], "1");
  EXPECT_NEAR(Num(out[0]), 2 * 0.6 * 20, 0.01);
  EXPECT_EQ(out[1], "1");
  EXPECT_EQ(out[2], "Squares");
  EXPECT_EQ(out[3], "bold");
  // Two 10-pixel squares from x = 2 on the baseline at 2 + 16.
  EXPECT_EQ(pic.GetPixel(7, 13), (gdi::Color{0, 0, 0}));
  EXPECT_EQ(pic.GetPixel(2 + 12 + 5, 13), (gdi::Color{0, 0, 0}));
  EXPECT_FALSE(Ink(pic, 13, 9, 14, 17));  // the gap between them
  EXPECT_FALSE(Ink(pic, 0, 50, 100, 80));  // the field whose font is missing
}

// getCharBoundaries answers for the lines Flash draws: from the first shown
// to the one after the last wholly shown. Lines of 20 pixels (0.8 + 0.2 em)
// in a box of 44: two show whole, the third in part.
TEST(As3Text, CharBoundariesOnlyForTheLinesDrawn) {
  TextMovie t;
  t.tags = [](testing::SwfBuilder& b) { b.Tag(75, SquareFont3(5, "Squares", false, false, u"A")); };
  t.Field("Squares", 20);
  t.Set(1, "embedFonts", [&] { t.Bool(true); });
  t.Set(1, "multiline", [&] { t.Bool(true); });
  t.Set(1, "height", [&] { t.Int(44); });
  t.Set(1, "text", [&] { t.Str("A\nA\nA\nA\nA"); });  // line k's A is character 2k
  t.Trace(t.Get(1, "bottomScrollV"));
  t.Trace(t.CallGet(1, "getCharBoundaries", {4}, "y"));
  t.Trace(t.CallGet(1, "getCharBoundaries", {6}, ""));
  t.Set(1, "scrollV", [&] { t.Int(2); });
  t.Trace(t.CallGet(1, "getCharBoundaries", {0}, ""));
  t.Trace(t.CallGet(1, "getCharBoundaries", {6}, "y"));
  t.Trace(t.CallGet(1, "getCharBoundaries", {8}, ""));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"2", "42", "null", "null", "42", "null"};
  EXPECT_EQ(out, want);
}

// DefineText of one glyph (index 0) of `font` at 20 pixels, placed by the
// caller; its own matrix moves it by (x, y) twips.
std::vector<std::uint8_t> OneGlyphText(std::uint16_t id, std::uint16_t font, std::int32_t x, std::int32_t y) {
  testing::SwfWriter w;
  w.U16(id);
  w.Rect({0, 400, -400, 0});
  swf::Matrix m;
  m.translateX = x;
  m.translateY = y;
  w.Matrix(m);
  w.U8(1);   // glyph bits
  w.U8(12);  // advance bits
  w.U8(0x8F);  // a style record: font, colour, x and y
  w.U16(font);
  w.Rgb({0, 0, 0, 255});
  w.S16(0);
  w.S16(0);
  w.U16(400);
  w.U8(1);
  w.UB(0, 1);
  w.SB(240, 12);
  w.Align();
  w.U8(0);
  return w.Take();
}

// Pixels of a box neither white nor black: the grey of smoothed edges.
int Greys(const gdi::Bitmap& b, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const gdi::Color c = b.GetPixel(x, y);
      n += c != gdi::Color{255, 255, 255} && c != gdi::Color{0, 0, 0};
    }
  return n;
}

// At low quality Flash draws shapes and the text of its normal
// anti-aliasing without smoothing, but text of advanced anti-aliasing (a
// field's antiAliasType, static text's CSMTextSettings) and device text
// stay smooth. Every edge here lies half way across a pixel, and the
// advanced field is not fitted to the grid.
TEST(As3Text, AdvancedAndDeviceTextStaySmoothAtLowQuality) {
  TextMovie t;
  t.tags = [](testing::SwfBuilder& b) {
    b.Tag(75, SquareFont3(5, "Squares", false, false, u"A"));
    b.Tag(11, OneGlyphText(6, 5, 0, 0));
    b.Tag(11, OneGlyphText(7, 5, 0, 0));
    std::vector<std::uint8_t> csm = {6, 0, 0x40 | 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // advanced, subpixel grid
    b.Tag(74, csm);
    for (std::uint16_t id : {6, 7}) {
      testing::Placement p;
      p.depth = id;
      p.characterId = id;
      swf::Matrix m;
      m.translateX = id == 6 ? 210 : 810;
      m.translateY = 410;
      p.matrix = m;
      b.PlaceObject2(p);
    }
  };
  // Two fields of the embedded squares, normal and advanced, and one of device text.
  auto field = [&](int reg, const char* font, double x, const char* aa, bool embed) {
    t.New("TextField", reg);
    t.New("TextFormat", 2);
    t.Set(2, "font", [&] { t.Str(font); });
    t.Set(2, "size", [&] { t.Int(20); });
    t.Set(reg, "defaultTextFormat", [&] { t.Reg(2); });
    t.Set(reg, "embedFonts", [&] { t.Bool(embed); });
    t.Set(reg, "antiAliasType", [&] { t.Str(aa); });
    t.Set(reg, "gridFitType", [&] { t.Str("none"); });
    t.Set(reg, "text", [&] { t.Str(embed ? "A" : "MW"); });
    t.Set(reg, "x", [&] { t.Num(x); });
    t.Set(reg, "y", [&] { t.Num(40.5); });
    t.c.Op("getlocal_0").Op("getlocal", {reg}).Op("callpropvoid", {t.Q("addChild"), 1});
  };
  field(1, "Squares", 80.5, "normal", true);
  field(3, "Squares", 120.5, "advanced", true);
  field(4, "_sans", 150.5, "normal", false);
  setenv("QUARVEL_DEBUG", "1", 1);
  gdi::Bitmap pic;
  {
    FlashPlayer p;
    p.SetSize(200, 100);
    ASSERT_TRUE(p.LoadMovieBytes(t.Build())) << p.LoadError();
    p.SetQuality(Quality::qLow);
    p.AdvanceTo(p.Now());
    p.Paint(pic);
  }
  unsetenv("QUARVEL_DEBUG");
  // Static text: smooth with CSMTextSettings, hard without.
  EXPECT_TRUE(Ink(pic, 10, 10, 22, 22));
  EXPECT_GT(Greys(pic, 8, 8, 24, 24), 10);
  EXPECT_TRUE(Ink(pic, 40, 10, 52, 22));
  EXPECT_EQ(Greys(pic, 38, 8, 54, 24), 0);
  // Fields: the normal one hard, the advanced one and device text smooth.
  EXPECT_TRUE(Ink(pic, 80, 40, 100, 70));
  EXPECT_EQ(Greys(pic, 80, 40, 100, 70), 0);
  EXPECT_TRUE(Ink(pic, 120, 40, 140, 70));
  EXPECT_GT(Greys(pic, 120, 40, 140, 70), 10);
  EXPECT_GT(Greys(pic, 150, 40, 200, 70), 10);
}

TEST(As3Text, FontSubclassesLinkedToFontsDescribeThemAndRegister) {
  TextMovie t;
  t.fontClass = "SquaresItalic";
  t.tags = [](testing::SwfBuilder& b) {
    b.Tag(75, SquareFont3(5, "Squares", false, true, u"AB"));
    b.Tag(75, SquareFont3(6, "Other", false, false, u"A"));  // not linked: not listed
    b.ExportAssets({{5, "SquaresItalic"}}, true);
  };
  t.c.Op("findpropstrict", {t.Q("SquaresItalic")}).Op("constructprop", {t.Q("SquaresItalic"), 0})
      .Op("coerce_a").Op("setlocal", {3});
  t.Trace(t.Get(3, "fontName")).Trace(t.Get(3, "fontStyle")).Trace(t.Get(3, "fontType"));
  t.c.Op("getlex", {t.Text("Font")}).Op("getlex", {t.Q("SquaresItalic")})
      .Op("callpropvoid", {t.Q("registerFont"), 1});
  t.c.Op("getlex", {t.Text("Font")}).Op("callproperty", {t.Q("enumerateFonts"), 0}).Op("setlocal", {4});
  t.Trace(t.Get(4, "length"));
  const auto out = Traced(t.Build());
  // The registered font is listed, and again as the movie's own.
  const std::vector<std::string> want = {"Squares", "italic", "embedded", "2"};
  EXPECT_EQ(out, want);
}

// An empty field's one line is as high as the format text would be typed in,
// its leading included.
TEST(As3Text, EmptyFieldLineTakesTheNextFormat) {
  TextMovie t;
  t.tags = [](testing::SwfBuilder& b) {
    b.Tag(75, SquareFont3(5, "Squares", false, false, u"A"));
    b.ExportAssets({{5, "SquaresFont"}}, true);
  };
  t.New("TextField", 1);
  t.New("TextFormat", 2);
  t.Set(2, "font", [&] { t.Str("Squares"); });
  t.Set(2, "size", [&] { t.Int(20); });
  t.Set(2, "leading", [&] { t.Int(5); });
  t.Set(1, "defaultTextFormat", [&] { t.Reg(2); });
  t.Set(1, "embedFonts", [&] { t.Bool(true); });
  for (const char* member : {"ascent", "descent", "leading", "height"})
    t.Trace(t.CallGet(1, "getLineMetrics", {0}, member));
  const auto out = Traced(t.Build());
  // The font's ascent and descent are 0.8 and 0.2 of an em.
  const std::vector<std::string> want = {"16", "4", "5", "25"};
  EXPECT_EQ(out, want);
}

// The empty line after a final line end counts in an input field's text
// height (a caret can stand there), not in a dynamic field's; an empty
// input field is one line high, an empty dynamic one has no height.
TEST(As3Text, TextHeightCountsTheLastEmptyLineOfInputFieldsOnly) {
  TextMovie t;
  t.tags = [](testing::SwfBuilder& b) {
    b.Tag(75, SquareFont3(5, "Squares", false, false, u"A"));
    b.ExportAssets({{5, "SquaresFont"}}, true);
  };
  t.New("TextFormat", 2);
  t.Set(2, "font", [&] { t.Str("Squares"); });
  t.Set(2, "size", [&] { t.Int(20); });
  t.Set(2, "leading", [&] { t.Int(5); });
  for (int reg : {1, 3}) {
    t.New("TextField", reg);
    t.Set(reg, "defaultTextFormat", [&] { t.Reg(2); });
    t.Set(reg, "embedFonts", [&] { t.Bool(true); });
    t.Set(reg, "multiline", [&] { t.Bool(true); });
  }
  t.Set(3, "type", [&] { t.Str("input"); });
  for (int reg : {1, 3}) t.Trace(t.Get(reg, "textHeight"));
  for (int reg : {1, 3}) {
    t.Set(reg, "htmlText", [&] { t.Str("<p>A</p>"); });
    t.Trace(t.Get(reg, "textHeight"));
  }
  // The field's own htmlText given back changes nothing: the line end taken
  // out stays out, though the HTML would write the same.
  t.Call(1, "replaceText", 3, [&] { t.Int(1).Int(2).Str(""); });
  t.Set(1, "htmlText", [&] { t.Get(1, "htmlText")(); });
  t.Trace(t.Get(1, "length"));
  const auto out = Traced(t.Build());
  // A line is 16 + 4 high and the first one brings its leading of 5.
  const std::vector<std::string> want = {"0", "25", "25", "45", "1"};
  EXPECT_EQ(out, want);
}

TEST(As3Text, GlyphShapesStoredOutOfTableOrderKeepTheirOwnOutlines) {
  TextMovie t;
  t.tags = [](testing::SwfBuilder& b) { b.Tag(75, SquareFont3(5, "Squares", false, false, u"ABC", true)); };
  t.Field("Squares", 20);
  t.Set(1, "embedFonts", [&] { t.Bool(true); });
  t.Set(1, "text", [&] { t.Str("ABC"); });
  gdi::Bitmap pic;
  Traced(t.Build(), &pic);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(pic.GetPixel(7 + 12 * k, 13), (gdi::Color{0, 0, 0})) << "glyph " << k;
}

TEST(As3Text, BackgroundBorderAndTextColourAreDrawn) {
  TextMovie t;
  t.Field("Arial", 30);
  t.Set(1, "background", [&] { t.Bool(true); });
  t.Set(1, "backgroundColor", [&] { t.Int(0x00FF00); });
  t.Set(1, "border", [&] { t.Bool(true); });
  t.Set(1, "borderColor", [&] { t.Int(0x0000FF); });
  t.Set(1, "width", [&] { t.Int(80); });
  t.Set(1, "height", [&] { t.Int(40); });
  t.Set(1, "text", [&] { t.Str("MMM"); });
  t.Set(1, "textColor", [&] { t.Int(0xFF0000); });
  t.Trace(t.Get(1, "textColor"));
  gdi::Bitmap pic;
  const auto out = Traced(t.Build(), &pic);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], "16711680");
  EXPECT_EQ(pic.GetPixel(70, 30), (gdi::Color{0, 255, 0}));  // background right of the text
  EXPECT_EQ(pic.GetPixel(40, 0).b, 255);                    // the border's top edge
  EXPECT_EQ(pic.GetPixel(90, 20), (gdi::Color{255, 255, 255}));
  // The letters are red.
  bool red = false;
  for (int x = 2; x < 60 && !red; ++x) {
    const gdi::Color px = pic.GetPixel(x, 20);
    red = px.r > 200 && px.g < 80 && px.b < 80;
  }
  EXPECT_TRUE(red);
}

// DefineEditText with a colour and a text, no font.
std::vector<std::uint8_t> EditText(std::uint16_t id, std::string_view text) {
  testing::SwfWriter w;
  w.U16(id);
  w.Rect({0, 100 * 20, 0, 30 * 20});
  w.U8(0x80 | 0x04);  // HasText, HasTextColor
  w.U8(0);
  w.Rgba({0, 0, 0, 255});
  w.String("");
  w.String(text);
  return w.Take();
}

TEST(As3Text, TimelineFieldsAreTextFieldsScriptsReachByName) {
  TextMovie t;
  t.tags = [](testing::SwfBuilder& b) {
    b.Tag(37, EditText(3, "from the timeline"));
    testing::Placement p;
    p.characterId = 3;
    p.depth = 1;
    p.name = "label";
    b.PlaceObject2(p);
  };
  t.c.Op("getlocal_0").Op("pushstring", {t.a.String("label")}).Op("callproperty", {t.Q("getChildByName"), 1})
      .Op("coerce_a").Op("setlocal", {1});
  t.Trace(t.Get(1, "text"));
  t.Set(1, "text", [&] { t.Str("changed"); });
  t.Trace(t.Get(1, "text")).Trace(t.Get(1, "length"));
  t.Trace([&] {
    t.Reg(1);
    t.c.Op("getlex", {t.Text("TextField")}).Op("istypelate");
  });
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"from the timeline", "changed", "7", "true"};
  EXPECT_EQ(out, want);
}

TEST(As3Text, LinesAndParagraphsCountTheBreaksThatEndThem) {
  TextMovie t;
  t.Field("Arial", 12);
  t.Set(1, "multiline", [&] { t.Bool(true); });
  t.Set(1, "text", [&] { t.Str("ab\ncd\n"); });  // "ab\rcd\r": lines ab\r, cd\r and an empty one
  for (int line : {0, 1, 2}) t.Trace(t.CallGet(1, "getLineLength", {line}, ""));
  t.Trace(t.CallGet(1, "getLineText", {0}, ""));
  for (int c : {2, 3, 5, 6}) t.Trace(t.CallGet(1, "getLineIndexOfChar", {c}, ""));  // the break is its line's; past the text none
  // The index past the text is the last paragraph's, one longer; past that none.
  for (int c : {1, 3, 6, 7}) {
    t.Trace(t.CallGet(1, "getFirstCharInParagraph", {c}, ""));
    t.Trace(t.CallGet(1, "getParagraphLength", {c}, ""));
  }
  // scrollH takes whole pixels, a negative number by its size, within what the text allows.
  t.Set(1, "width", [&] { t.Int(20); });
  t.Set(1, "text", [&] { t.Str("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"); });
  t.Set(1, "scrollH", [&] { t.Num(-7.8); });
  t.Trace(t.Get(1, "scrollH"));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want{"3", "3", "0", "ab\n", "0", "1", "1", "-1", "0", "3", "3", "3", "6", "1", "-1", "-1", "7"};
  EXPECT_EQ(out, want);
}

// A filter draws the field into a layer as large as its box after autoSize,
// not the empty box a script-made field starts with.
TEST(As3Text, FilteredFieldsShowTheirWholeText) {
  auto countAfter = [](int filterCount) {
    TextMovie t;
    t.Field("Arial", 28);
    t.Set(1, "textColor", [&] { t.Int(0xFF0000); });
    t.Set(1, "autoSize", [&] { t.Str("left"); });
    t.Set(1, "htmlText", [&] { t.Str("<b>MMMM</b>"); });
    auto filters = [&](std::string_view n) { return t.a.PackageName("flash.filters", n); };
    if (filterCount > 0) {
      // field.filters = [new BlurFilter(1, 1, 2), new GlowFilter(0, 1, 4, 4, 3)]
      t.Reg(1);
      t.c.Op("findpropstrict", {filters("BlurFilter")});
      t.Int(1).Int(1).Int(2);
      t.c.Op("constructprop", {filters("BlurFilter"), 3});
      t.c.Op("findpropstrict", {filters("GlowFilter")});
      t.Int(0).Int(1).Int(4).Int(4).Int(3);
      t.c.Op("constructprop", {filters("GlowFilter"), 5});
      t.c.Op("newarray", {2}).Op("setproperty", {t.Q("filters")});
    }
    gdi::Bitmap pic;
    Traced(t.Build(), &pic);
    int red = 0, dark = 0;
    for (int y = 0; y < pic.Height(); ++y)
      for (int x = 0; x < pic.Width(); ++x) {
        const gdi::Color px = pic.GetPixel(x, y);
        red += px.r > 150 && px.g < 90 && px.b < 90;
        dark += px.r < 60 && px.g < 60 && px.b < 60;
      }
    return std::pair{red, dark};
  };
  const auto [plainRed, plainDark] = countAfter(0);
  const auto [red, dark] = countAfter(2);
  ASSERT_GT(plainRed, 200);
  EXPECT_EQ(plainDark, 0);
  // Slightly blurred, the letters keep most of their red; the glow rings them.
  EXPECT_GT(red, plainRed / 2);
  EXPECT_GT(dark, 100);
}

// flash.text.engine: a block's content comes out as lines that wrap at
// the width asked for, each with its metrics on the baseline, until the
// block reports it complete; a line is a display object that shows its text.
TEST(As3TextEngine, TextBlockBreaksItsContentIntoMeasuredLines) {
  TextMovie t;
  auto engine = [&](std::string_view n) { return t.a.PackageName("flash.text.engine", n); };
  auto make = [&](std::string_view cls, int args) { t.c.Op("constructprop", {engine(cls), args}); };
  // reg 2 = new ElementFormat(new FontDescription("Arial"), 20, 0xFF0000)
  t.c.Op("findpropstrict", {engine("ElementFormat")}).Op("findpropstrict", {engine("FontDescription")});
  t.Str("Arial");
  make("FontDescription", 1);
  t.Int(20).Int(0xFF0000);
  make("ElementFormat", 3);
  t.c.Op("setlocal", {2});
  // reg 3 = new TextBlock(new TextElement("Hello world again", reg 2))
  t.c.Op("findpropstrict", {engine("TextBlock")}).Op("findpropstrict", {engine("TextElement")});
  t.Str("Hello world again").Reg(2);
  make("TextElement", 2);
  make("TextBlock", 1);
  t.c.Op("setlocal", {3});
  auto next = [&](int previous, int width) {
    t.Reg(3);
    if (previous) t.Reg(previous);
    else t.Null();
    t.Int(width).c.Op("callproperty", {t.Q("createTextLine"), 2});
  };
  // reg 1: the whole text on one line, shown at y 30.
  next(0, 1000);
  t.c.Op("setlocal_1");
  t.Trace(t.Get(1, "rawTextLength")).Trace(t.Get(1, "textWidth")).Trace(t.Get(1, "ascent"));
  t.Trace([&] { t.Reg(1).Str("ascent").c.Op("callproperty", {t.Q("getBaselinePosition"), 1}); });
  t.Trace([&] { next(1, 1000); });
  t.Trace(t.Get(3, "textLineCreationResult"));
  t.Set(1, "y", [&] { t.Int(30); });
  t.c.Op("getlocal_0").Op("getlocal_1").Op("callpropvoid", {t.Q("addChild"), 1});
  // At 70 pixels the words wrap: "Hello ", "world ", "again", then nothing.
  for (int i = 0; i < 3; ++i) {
    next(i == 0 ? 0 : 4, 70);
    t.c.Op("setlocal", {4});
    t.Trace(t.Get(4, "rawTextLength")).Trace(t.Get(4, "textBlockBeginIndex"));
  }
  t.Trace([&] { next(4, 70); });
  // Formats read back Flash's defaults.
  t.c.Op("findpropstrict", {engine("ElementFormat")});
  make("ElementFormat", 0);
  t.c.Op("setlocal", {5});
  t.Trace(t.Get(5, "fontSize")).Trace([&] { t.Reg(5).c.Op("getproperty", {t.Q("fontDescription")}).Op("getproperty", {t.Q("fontName")}); });
  gdi::Bitmap pic;
  const auto out = Traced(t.Build(), &pic);
  ASSERT_EQ(out.size(), 15u);
  EXPECT_EQ(out[0], "17");
  EXPECT_GT(Num(out[1]), 80);
  EXPECT_LT(Num(out[1]), 200);
  EXPECT_GT(Num(out[2]), 12);
  EXPECT_LT(Num(out[2]), 22);
  EXPECT_EQ(Num(out[3]), -Num(out[2]));
  EXPECT_EQ(out[4], "null");
  EXPECT_EQ(out[5], "complete");
  EXPECT_EQ(out[6] + " " + out[7] + " " + out[8] + " " + out[9] + " " + out[10] + " " + out[11], "6 0 6 6 5 12");
  EXPECT_EQ(out[12], "null");
  EXPECT_EQ(out[13], "12");
  EXPECT_EQ(out[14], "_serif");
  // The glyphs stand on the baseline at y 30, in the format's red.
  int above = 0, below = 0;
  for (int y = 0; y < pic.Height(); ++y)
    for (int x = 0; x < pic.Width(); ++x) {
      const gdi::Color px = pic.GetPixel(x, y);
      if (px.r > 150 && px.g < 90 && px.b < 90) (y < 31 ? above : below)++;
    }
  EXPECT_GT(above, 100);
  EXPECT_LT(below, above / 10);
}

// A group's text is its elements' in order, and a block lays it out whole;
// replacing elements hands back those replaced.
TEST(As3TextEngine, GroupElementsJoinTheirElementsText) {
  TextMovie t;
  auto engine = [&](std::string_view n) { return t.a.PackageName("flash.text.engine", n); };
  auto element = [&](std::string_view text) {
    t.c.Op("findpropstrict", {engine("TextElement")});
    t.Str(text);
    t.c.Op("findpropstrict", {engine("ElementFormat")}).Op("constructprop", {engine("ElementFormat"), 0});
    t.c.Op("constructprop", {engine("TextElement"), 2});
  };
  // reg 1 = new GroupElement([new TextElement("ab"), new TextElement("cde")])
  t.c.Op("findpropstrict", {engine("GroupElement")});
  element("ab");
  element("cde");
  t.c.Op("newarray", {2}).Op("constructprop", {engine("GroupElement"), 1}).Op("setlocal_1");
  t.Trace(t.Get(1, "text")).Trace(t.Get(1, "elementCount"));
  // A block of the group: one line of all five characters.
  t.c.Op("findpropstrict", {engine("TextBlock")}).Op("getlocal_1").Op("constructprop", {engine("TextBlock"), 1});
  t.c.Op("pushnull").Op("callproperty", {t.Q("createTextLine"), 1}).Op("getproperty", {t.Q("rawTextLength")});
  t.c.Op("setlocal_2");
  t.Trace([&] { t.Reg(2); });
  // replaceElements(0, 1, [new TextElement("xyz")]) gives back the "ab" element.
  t.Trace([&] {
    t.Reg(1).Int(0).Int(1);
    element("xyz");
    t.c.Op("newarray", {1}).Op("callproperty", {t.Q("replaceElements"), 3}).Op("getproperty", {t.a.QName(t.pub, "0")})
        .Op("getproperty", {t.Q("text")});
  });
  t.Trace(t.Get(1, "text"));
  EXPECT_EQ(Traced(t.Build()), (std::vector<std::string>{"abcde", "2", "5", "ab", "xyzcde"}));
}

// StyleSheet.transform reads a style object as Flash's own class does;
// parseCSS keeps empty names and ends a value at a line end.
TEST(As3Text, StyleSheetsTransformAndParseAsFlash) {
  TextMovie t;
  t.New("StyleSheet", 1);
  // reg 2 = {fontSize: "50.5 px", fontFamily: " mono,  , sans-serif", color: "#12", marginLeft: "x50"}
  t.Str("fontSize").Str("50.5 px").Str("fontFamily").Str(" mono,  , sans-serif").Str("color").Str("#12");
  t.Str("marginLeft").Str("x50");
  t.c.Op("newobject", {4}).Op("setlocal_2");
  t.c.Op("getlocal_1").Op("getlocal_2").Op("callproperty", {t.Q("transform"), 1}).Op("setlocal_3");
  for (const char* m : {"size", "font", "color", "leftMargin", "kerning", "bold"}) t.Trace(t.Get(3, m));
  // Seven digits are no colour.
  t.Str("color").Str("#1234567");
  t.c.Op("newobject", {1}).Op("setlocal_2");
  t.c.Op("getlocal_1").Op("getlocal_2").Op("callproperty", {t.Q("transform"), 1}).Op("setlocal_3");
  t.Trace(t.Get(3, "color"));
  t.Call(1, "parseCSS", 1, [&] { t.Str("a{:x}\nb { kerning: 5 \n }"); });
  t.Trace([&] { t.Reg(1).Str("a"); t.c.Op("callproperty", {t.Q("getStyle"), 1}).Op("getproperty", {t.Q("")}); });
  t.Trace([&] { t.Reg(1).Str("b"); t.c.Op("callproperty", {t.Q("getStyle"), 1}).Op("getproperty", {t.Q("kerning")}); });
  // A style set to null keeps its name.
  t.Call(1, "setStyle", 2, [&] { t.Str("gone").Null(); });
  t.Trace([&] { t.Reg(1).c.Op("getproperty", {t.Q("styleNames")}).Op("getproperty", {t.Q("length")}); });
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"50", "_typewriter,_sans", "18", "-2147483648", "false", "null", "0",
                                         "x",  "5 ",                "3"};
  EXPECT_EQ(out, want);
}

// A field with a style sheet reads text as HTML and gives it back as it was
// set; taking the sheet away keeps the styled text and writes it as Flash
// writes htmlText.
TEST(As3Text, StyledFieldsReadTextAsHtmlAndKeepItWithoutTheSheet) {
  TextMovie t;
  t.New("StyleSheet", 2);
  t.Call(2, "parseCSS", 1, [&] { t.Str("hide { display: none } item { color: #FF0000 }"); });
  t.New("TextField", 1);
  t.Set(1, "styleSheet", [&] { t.Reg(2); });
  t.Set(1, "text", [&] { t.Str("a<hide>b</hide>c<item>d</item>e"); });
  t.Trace(t.Get(1, "text")).Trace(t.Get(1, "htmlText"));
  t.Set(1, "styleSheet", [&] { t.Null(); });
  t.Trace(t.Get(1, "text"));
  t.Trace(t.CallGet(1, "getTextFormat", {3, 4}, "color"));
  const auto out = Traced(t.Build());
  // The sheet's own tags are blocks, a hidden one too: each ends a line
  // where it closes (the log shows it as a new line), none where it opens.
  const std::vector<std::string> want = {"a\ncd\ne", "a<hide>b</hide>c<item>d</item>e", "a\ncd\ne", "16711680"};
  EXPECT_EQ(out, want);
}

// A field styled by a sheet takes only colours of '#' and up to six digits.
TEST(As3Text, StyledColoursNeedAHashAndSixDigitsAtMost) {
  TextMovie t;
  t.Field("Arial", 12);
  t.New("StyleSheet", 3);
  t.Call(3, "parseCSS", 1, [&] { t.Str(".a { color: #ff0000 ; } .b { color: #ff0000 0; } .c { color: 666666; }"); });
  t.Set(1, "styleSheet", [&] { t.Reg(3); });
  for (const char* cls : {"a", "b", "c"}) {
    t.Set(1, "htmlText", [&] { t.Str(std::string("<p class=\"") + cls + "\">x</p>"); });
    t.Trace(t.CallGet(1, "getTextFormat", {0}, "color"));
  }
  // A colour set by setStyle as a number is no colour either: it makes the
  // text black, inside red text too.
  t.Call(3, "setStyle", 2, [&] {
    t.Str(".n").Str("color").Num(255);
    t.c.Op("newobject", {1});
  });
  t.Set(1, "styleSheet", [&] { t.Reg(3); });
  t.Set(1, "htmlText", [&] { t.Str("<p class=\"a\">x<span class=\"n\">y</span></p>"); });
  t.Trace(t.CallGet(1, "getTextFormat", {0}, "color")).Trace(t.CallGet(1, "getTextFormat", {1}, "color"));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"16711680", "0", "0", "16711680", "0"};
  EXPECT_EQ(out, want);
}

// A sheet styles by tag name only paragraphs, list items, links and tags of
// its own; a class names its style exactly, spaces included, in any case;
// new HTML is styled by the sheet as it is then.
TEST(As3Text, StyleSheetsStyleTheTagsFlashStylesAndAreReadWhenHtmlComes) {
  TextMovie t;
  t.Field("Arial", 12);
  t.New("StyleSheet", 3);
  t.Call(3, "parseCSS", 1, [&] { t.Str("b { color: #0000FF } p { color: #0000FF } .red { color: #FF0000 }"); });
  t.Set(1, "styleSheet", [&] { t.Reg(3); });
  for (const char* html : {"<b>x</b>", "<p>x</p>", "<span class=\" red\">x</span>", "<span class=\"RED\">x</span>"}) {
    t.Set(1, "htmlText", [&] { t.Str(html); });
    t.Trace(t.CallGet(1, "getTextFormat", {0}, "color"));
  }
  // A style added after the sheet was given: the shown text keeps its
  // looks, the next HTML takes the style.
  t.Call(3, "setStyle", 2, [&] {
    t.Str(".green").Str("color").Str("#00FF00");
    t.c.Op("newobject", {1});
  });
  t.Trace(t.CallGet(1, "getTextFormat", {0}, "color"));
  t.Set(1, "htmlText", [&] { t.Str("<span class=\"green\">x</span>"); });
  t.Trace(t.CallGet(1, "getTextFormat", {0}, "color"));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"0", "255", "0", "16711680", "16711680", "65280"};
  EXPECT_EQ(out, want);
}

// Justifiers clone with their spacing; lines take no focus nor menu.
TEST(As3TextEngine, JustifiersCloneAndLinesRefuseFocusMembers) {
  TextMovie t;
  auto engine = [&](std::string_view n) { return t.a.PackageName("flash.text.engine", n); };
  t.c.Op("findpropstrict", {engine("SpaceJustifier")}).Op("constructprop", {engine("SpaceJustifier"), 0}).Op("setlocal_1");
  t.Set(1, "maximumSpacing", [&] { t.Num(2); });
  t.c.Op("getlocal_1").Op("callproperty", {t.Q("clone"), 0}).Op("setlocal_2");
  t.Trace(t.Get(2, "maximumSpacing")).Trace(t.Get(2, "minimumSpacing")).Trace(t.Get(2, "lineJustification"));
  t.c.Op("findpropstrict", {engine("EastAsianJustifier")}).Op("constructprop", {engine("EastAsianJustifier"), 0});
  t.c.Op("callproperty", {t.Q("clone"), 0}).Op("setlocal_2");
  t.Trace(t.Get(2, "justificationStyle")).Trace(t.Get(2, "composeTrailingIdeographicSpaces"));
  // A line of a block: focus members read unset.
  t.c.Op("findpropstrict", {engine("TextBlock")});
  t.c.Op("findpropstrict", {engine("TextElement")});
  t.Str("ab");
  t.c.Op("findpropstrict", {engine("ElementFormat")}).Op("constructprop", {engine("ElementFormat"), 0});
  t.c.Op("constructprop", {engine("TextElement"), 2}).Op("constructprop", {engine("TextBlock"), 1});
  t.c.Op("pushnull").Op("callproperty", {t.Q("createTextLine"), 1}).Op("setlocal_3");
  t.Trace(t.Get(3, "tabIndex")).Trace(t.Get(3, "tabEnabled")).Trace(t.Get(3, "contextMenu"));
  // TextRun holds what it is given.
  t.c.Op("findpropstrict", {t.Text("TextRun")});
  t.Int(1).Int(3).Null().c.Op("constructprop", {t.Text("TextRun"), 3});
  t.c.Op("setlocal_2");
  t.Trace(t.Get(2, "endIndex"));
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"2", "0.5", "unjustified", "pushInKinsoku", "false", "-1", "false", "null", "3"};
  EXPECT_EQ(out, want);
}

// A field keeps the selection a script sets, within its text, focused or
// not; the same text set again keeps the formats the field has.
TEST(As3Text, SelectionHoldsWithinTheTextAndTheSameTextChangesNothing) {
  TextMovie t;
  t.Field("Arial", 12);
  t.Set(1, "text", [&] { t.Str("abcd"); });
  auto selection = [&] {
    t.Trace([&] {
      t.Reg(1).c.Op("getproperty", {t.Q("selectionBeginIndex")});
      t.Str(",").c.Op("add");
      t.Reg(1).c.Op("getproperty", {t.Q("selectionEndIndex")}).Op("add");
      t.Str(",").c.Op("add");
      t.Reg(1).c.Op("getproperty", {t.Q("caretIndex")}).Op("add");
    });
  };
  t.Call(1, "setSelection", 2, [&] { t.Int(1).Int(2); });
  selection();
  t.Call(1, "setSelection", 2, [&] { t.Int(3).Int(40); });
  selection();
  t.Call(1, "setSelection", 2, [&] { t.Int(3).Int(-2); });
  selection();
  // Bold on all, then the same text again: still bold.
  t.New("TextFormat", 2);
  t.Set(2, "bold", [&] { t.Bool(true); });
  t.Call(1, "setTextFormat", 1, [&] { t.Reg(2); });
  t.Set(1, "text", [&] { t.Str("abcd"); });
  t.Trace(t.CallGet(1, "getTextFormat", {0, 1}, "bold"));
  t.Set(1, "text", [&] { t.Str("abce"); });
  t.Trace(t.CallGet(1, "getTextFormat", {0, 1}, "bold"));
  // replaceSelectedText puts its text in the selection's place, the caret after it.
  t.Call(1, "setSelection", 2, [&] { t.Int(1).Int(3); });
  t.Call(1, "replaceSelectedText", 1, [&] { t.Str("XYZ"); });
  t.Trace(t.Get(1, "text"));
  selection();
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"1,2,2", "3,4,4", "0,3,0", "true", "false", "aXYZe", "4,4,4"};
  EXPECT_EQ(out, want);
}

// autoSize applies its box lazily: a word wrap turned on before anything
// needs the bounds keeps the width set, one turned on after hitTestObject
// or focus asked about the field keeps the fitted width.
TEST(As3Text, AutoSizedBoxesSettleWhenTheirBoundsAreNeeded) {
  TextMovie t;
  auto one = [&](const std::function<void()>& between) {
    t.New("TextField", 1);
    t.Set(1, "width", [&] { t.Int(100); });
    t.Set(1, "height", [&] { t.Int(20); });
    t.Set(1, "autoSize", [&] { t.Str("center"); });
    between();
    t.Set(1, "wordWrap", [&] { t.Bool(true); });
    t.Trace([&] {
      t.Reg(1).c.Op("getproperty", {t.Q("x")});
      t.Str(",").c.Op("add");
      t.Reg(1).c.Op("getproperty", {t.Q("width")}).Op("add");
    });
  };
  one([] {});
  one([&] { t.c.Op("getlocal_0").Op("getlocal_1").Op("callproperty", {t.Q("hitTestObject"), 1}).Op("pop"); });
  one([&] { t.c.Op("getlocal_0").Op("getproperty", {t.Q("stage")}).Op("getlocal_1").Op("setproperty", {t.Q("focus")}); });
  // From one side to another autoSize does not settle the box either.
  one([&] { t.Set(1, "autoSize", [&] { t.Str("right"); }); });
  // Reading x, moving it or asking for bounds settles it.
  one([&] { t.Reg(1).c.Op("getproperty", {t.Q("x")}).Op("pop"); });
  one([&] { t.Set(1, "x", [&] { t.Int(1); }); });
  one([&] { t.Reg(1).c.Op("getlocal_1").Op("callproperty", {t.Q("getBounds"), 1}).Op("pop"); });
  one([&] { t.Reg(1).c.Op("pushbyte", {2}).Op("pushbyte", {2}).Op("callproperty", {t.Q("hitTestPoint"), 2}).Op("pop"); });
  // A width set is no lasting size: the box settles, takes it, and autoSize
  // fits it again about its new centre when next asked.
  one([&] {
    t.Set(1, "width", [&] { t.Int(200); });
    t.Reg(1).c.Op("getproperty", {t.Q("width")}).Op("pop");
  });
  // Turned off, autoSize leaves the box it was last settled or sized to.
  one([&] {
    t.Set(1, "width", [&] { t.Int(200); });
    t.Set(1, "autoSize", [&] { t.Str("none"); });
  });
  const auto out = Traced(t.Build());
  // An empty field fits 4 pixels: its gutters.
  const std::vector<std::string> want = {"0,100", "48,4", "48,4", "0,100", "48,4",
                                         "1,4",   "48,4", "48,4", "146,4", "48,200"};
  EXPECT_EQ(out, want);
}

// An indent is whole pixels (halves to even) and is read back however large.
// Until autoSize's box is settled by reading it, a field measures against
// the box it had: the text set after autoSize scrolls in the old width.
// getLineIndexAtPoint answers for the whole box, the last shown line down
// to its bottom.
TEST(As3Text, UnsettledAutoSizeMeasuresInTheOldBoxAndLinesFillTheBox) {
  TextMovie t;
  t.Field("Arial", 20);
  t.Set(1, "width", [&] { t.Int(100); });
  t.Set(1, "height", [&] { t.Int(60); });
  t.Trace([&] { t.Reg(1).Int(2).Int(50); t.c.Op("callproperty", {t.Q("getLineIndexAtPoint"), 2}); });
  t.Trace([&] { t.Reg(1).Int(2).Int(61); t.c.Op("callproperty", {t.Q("getLineIndexAtPoint"), 2}); });
  t.Set(1, "autoSize", [&] { t.Str("left"); });
  t.Set(1, "text", [&] { t.Str("WWWWWWWWWWWW"); });
  t.Trace(t.Get(1, "maxScrollH"));
  t.Trace(t.Get(1, "width"));
  t.Trace(t.Get(1, "maxScrollH"));
  const auto out = Traced(t.Build());
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0], "0");
  EXPECT_EQ(out[1], "-1");
  EXPECT_GT(Num(out[2]), 50);  // twelve W of 20 pixels in 96
  EXPECT_GT(Num(out[3]), 150);
  EXPECT_EQ(out[4], "0");
}

TEST(As3Text, IndentsAreWholePixelsKeptAsGiven) {
  TextMovie t;
  t.Field("Arial", 12);
  t.Set(1, "text", [&] { t.Str("abcd"); });
  for (double v : {0.5, 1.5, 64010.0}) {
    t.New("TextFormat", 2);
    t.Set(2, "indent", [&] { t.Num(v); });
    t.Call(1, "setTextFormat", 1, [&] { t.Reg(2); });
    t.Trace(t.CallGet(1, "getTextFormat", {0, 1}, "indent"));
  }
  const auto out = Traced(t.Build());
  const std::vector<std::string> want = {"0", "2", "64010"};
  EXPECT_EQ(out, want);
}

// A rotated field's width and height are its box's bounds in the parent.
TEST(As3Text, RotatedFieldsMeasureTheirBounds) {
  TextMovie t;
  t.Field("Arial", 12);
  t.Set(1, "width", [&] { t.Int(100); });
  t.Set(1, "height", [&] { t.Int(30); });
  t.Set(1, "rotation", [&] { t.Int(20); });
  t.Trace(t.Get(1, "width")).Trace(t.Get(1, "height"));
  t.Set(1, "rotation", [&] { t.Int(90); });
  t.Trace(t.Get(1, "width")).Trace(t.Get(1, "height"));
  const auto out = Traced(t.Build());
  // 100 cos 20 + 30 sin 20 and 100 sin 20 + 30 cos 20, to the twip.
  const std::vector<std::string> want = {"104.2", "62.4", "30", "100"};
  EXPECT_EQ(out, want);
}

TEST(As3Text, AutoSizeMovesXWithTheBox) {
  // x and width are set, then autoSize grows the box about its left edge,
  // its centre or its right edge: x follows the box, and setting x places
  // the box, not the origin.
  TextMovie t;
  t.Field("Arial", 20);
  auto one = [&](const char* align) {
    t.Set(1, "autoSize", [&] { t.Str("none"); });
    t.Set(1, "x", [&] { t.Int(50); });
    t.Set(1, "width", [&] { t.Int(100); });
    t.Set(1, "text", [&] { t.Str("A long line of text"); });
    t.Set(1, "autoSize", [&] { t.Str(align); });
    t.Trace(t.Get(1, "x")).Trace(t.Get(1, "width"));
  };
  one("left");
  one("center");
  one("right");
  t.Set(1, "x", [&] { t.Int(10); });
  t.Trace(t.Get(1, "x"));
  const auto out = Traced(t.Build());
  ASSERT_EQ(out.size(), 7u);
  const double w = Num(out[1]);
  EXPECT_GT(w, 150);
  EXPECT_EQ(Num(out[0]), 50);
  EXPECT_NEAR(Num(out[2]) + Num(out[3]) / 2, 100, 0.05);
  EXPECT_NEAR(Num(out[4]) + Num(out[5]), 150, 0.05);
  EXPECT_EQ(Num(out[6]), 10);
}

TEST(As3Text, PlayerApiMethodsAreFramesOfAStackTrace) {
  // A listener traces the stack of an Error it makes: the dispatching
  // method of the player's API stands between it and the constructor.
  TextMovie t;
  AbcCode listener;
  const auto err = t.Q("Error");
  listener.Op("findpropstrict", {t.Q("trace")}).Op("findpropstrict", {err}).Op("constructprop", {err, 0});
  listener.Op("callproperty", {t.Q("getStackTrace"), 0}).Op("callpropvoid", {t.Q("trace"), 1}).Op("returnvoid");
  avm2::MethodInfo mi;
  mi.paramTypes.resize(1);
  const auto fn = t.a.Method(mi);
  t.a.Body({.method = fn, .maxStack = 8, .localCount = 4, .maxScopeDepth = 4}, listener);
  const auto dispatcher = t.a.PackageName("flash.events", "EventDispatcher");
  const auto event = t.a.PackageName("flash.events", "Event");
  t.c.Op("findpropstrict", {dispatcher}).Op("constructprop", {dispatcher, 0}).Op("setlocal_2");
  t.Call(2, "addEventListener", 2, [&] { t.Str("go").c.Op("newfunction", {fn}); });
  t.Call(2, "dispatchEvent", 1, [&] { t.c.Op("findpropstrict", {event}); t.Str("go").c.Op("constructprop", {event, 1}); });
  const auto out = Traced(t.Build());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].find("()\n\tat flash.events::EventDispatcher/dispatchEvent()\n\tat Main()"), std::string::npos) << out[0];
}

}  // namespace
}  // namespace quarvel::player
