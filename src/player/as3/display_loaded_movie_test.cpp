// Movies a Loader loads, and data embedded in a movie: DefineBinaryData
// behind a ByteArray subclass, and a movie played from such bytes with its
// own code and library (as embedded movie assets are).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/as3_movie.h"
#include "support/shape_builder.h"
#include "support/swf_builder.h"
#include "support/swf_writer.h"

namespace quarvel::player {
namespace {

using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;
using testing::FillStyle;
using testing::Placement;
using testing::ShapeBuilder;
using testing::SwfBuilder;

// Shape `id`: a 10-pixel square in `c`, placed at depth 1 at (x, y) pixels.
void PlaceSquare(SwfBuilder& b, std::uint16_t id, swf::Rgba c, int x, int y) {
  ShapeBuilder s;
  s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid(c)));
  swf::Matrix at;
  at.translateX = x * 20;
  at.translateY = y * 20;
  b.DefineShape(id, s).PlaceObject2({.depth = 1, .characterId = id, .matrix = at});
}

constexpr std::uint16_t kDefineBinaryData = 87;

// DefineBinaryData: the id, four reserved bytes, the data.
std::vector<std::uint8_t> BinaryTag(std::uint16_t id, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> body(data.size() + 6, 0);
  body[0] = std::uint8_t(id);
  body[1] = std::uint8_t(id >> 8);
  for (std::size_t i = 0; i < data.size(); ++i) body[i + 6] = data[i];
  return body;
}

// trace(text + <top of stack as pushed by `value`>)
void TraceWith(As3Movie& m, AbcCode& c, std::string_view text, const std::function<void()>& value) {
  c.Op("findpropstrict", {m.Q("trace")}).Op("pushstring", {m.S(text)});
  value();
  c.Op("add").Op("callpropvoid", {m.Q("trace"), 1});
}

// The picture of a 100 x 100 movie a quarter second in, once its load is done.
gdi::Bitmap PaintedAfterLoad(const std::vector<std::uint8_t>& bytes) {
  FlashPlayer p;
  p.SetSize(100, 100);
  gdi::Bitmap bmp;
  if (!p.LoadMovieBytes(bytes)) {
    ADD_FAILURE() << p.LoadError();
    return bmp;
  }
  p.AdvanceTo(p.Now() + 250);
  p.Paint(bmp);
  return bmp;
}

TEST(As3EmbeddedData, ALinkedByteArrayHoldsTheEmbeddedBytes) {
  As3Movie d;
  const std::string text = "level 1: 3 walls";
  d.LinkedClass("LevelData", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  d.LinkedClass("Unlinked", {d.a.PackageName("flash.utils", "ByteArray")});
  d.defineTags = [&](SwfBuilder& b) { b.Tag(kDefineBinaryData, BinaryTag(7, {text.begin(), text.end()})); };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("LevelData")}).Op("constructprop", {m.Q("LevelData"), 0}).Op("setlocal", {1});
    TraceWith(m, c, "", [&] {
      c.Op("getlocal_1").Op("getlocal_1").Op("getproperty", {m.Q("length")}).Op("callproperty", {m.Q("readUTFBytes"), 1});
    });
    // Each instance starts from the whole data; one without a link is empty.
    c.Op("findpropstrict", {m.Q("LevelData")}).Op("constructprop", {m.Q("LevelData"), 0}).Op("setlocal", {2});
    TraceWith(m, c, "again ", [&] { c.Op("getlocal_2").Op("getproperty", {m.Q("bytesAvailable")}); });
    c.Op("findpropstrict", {m.Q("Unlinked")}).Op("constructprop", {m.Q("Unlinked"), 0}).Op("setlocal", {3});
    TraceWith(m, c, "unlinked ", [&] { c.Op("getlocal_3").Op("getproperty", {m.Q("length")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), text + "|again 16|unlinked 0|");
}

// The movie inside: its own shape 1 (green) on its timeline, a red box its
// code draws, and a trace of what its constructor sees.
std::vector<std::uint8_t> InnerMovie() {
  As3Movie inner;
  inner.docName = "Inner";
  inner.defineTags = [](SwfBuilder& b) { PlaceSquare(b, 1, {0, 255, 0, 255}, 0, 50); };
  return inner.Build([&](As3Movie& m, AbcCode& c) {
    m.NewSprite(c, 1, "box", 0xFF0000, 0, 0, 40, 40);
    // Off the display list while it is made: no stage; its root is itself.
    TraceWith(m, c, "inner ", [&] {
      c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("pushnull").Op("equals");
      c.Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_0").Op("getproperty", {m.Q("root")}).Op("getlocal_0").Op("strictequals").Op("add");
      c.Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("contentType")}).Op("add");
    });
  });
}

TEST(As3LoadedMovie, AnEmbeddedMoviePlaysInItsLoaderWithItsOwnCode) {
  const std::vector<std::uint8_t> inner = InnerMovie();
  As3Movie d;
  d.LinkedClass("Payload", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  // The loading movie's shape 1 is blue.
  d.defineTags = [&](SwfBuilder& b) {
    b.Tag(kDefineBinaryData, BinaryTag(7, inner));
    PlaceSquare(b, 1, {0, 0, 255, 255}, 0, 80);
  };
  const auto loaderCls = d.Display("Loader");
  const auto heard = d.Tracer("", {"type", "target.contentType", "target.content.x"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Payload")}).Op("constructprop", {m.Q("Payload"), 0}).Op("setlocal", {1});
    TraceWith(m, c, "payload ", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("length")}); });
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {2});
    c.Op("getlocal_2").Op("pushbyte", {20}).Op("setproperty", {m.Q("x")});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_2").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal", {3});
    m.Listen(c, 3, "init", heard);
    c.Op("getlocal_2").Op("getlocal_1").Op("callpropvoid", {m.Q("loadBytes"), 1});
  }, 3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }),
            "payload " + std::to_string(inner.size()) +
                "|inner true true application/x-shockwave-flash|init application/x-shockwave-flash 0|");

  const gdi::Bitmap bmp = PaintedAfterLoad(bytes);
  EXPECT_EQ(bmp.GetPixel(30, 10), (gdi::Color{255, 0, 0})) << "the loaded movie's box, moved with its Loader";
  EXPECT_EQ(bmp.GetPixel(10, 10), (gdi::Color{255, 255, 255}));
  EXPECT_EQ(bmp.GetPixel(70, 10), (gdi::Color{255, 255, 255}));
  EXPECT_EQ(bmp.GetPixel(25, 55), (gdi::Color{0, 255, 0})) << "its own shape 1";
  EXPECT_EQ(bmp.GetPixel(5, 85), (gdi::Color{0, 0, 255})) << "the loading movie's shape 1";
  EXPECT_EQ(bmp.GetPixel(25, 85), (gdi::Color{255, 255, 255}));
}

// DefineFont3 `name` of one empty glyph ("A"), no layout.
std::vector<std::uint8_t> OneGlyphFont(std::uint16_t id, std::string_view name) {
  testing::SwfWriter w;
  w.U16(id);
  w.U8(0x04);  // wide codes
  w.U8(0);
  w.U8(static_cast<std::uint8_t>(name.size()));
  w.Bytes({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
  w.U16(1);
  w.U16(4);      // the glyph's shape after the two offsets
  w.U16(6);      // the code table after the 2-byte shape
  w.U8(0x10);    // one fill bit, no line bits,
  w.U8(0x00);    // and the end record
  w.U16('A');
  return w.Take();
}

// DefineEditText in font `font`, 12 pixels, black.
std::vector<std::uint8_t> FieldInFont(std::uint16_t id, std::uint16_t font) {
  testing::SwfWriter w;
  w.U16(id);
  w.Rect({0, 100 * 20, 0, 30 * 20});
  w.U8(0x80 | 0x04 | 0x01);  // HasText, HasTextColor, HasFont
  w.U8(0);
  w.U16(font);
  w.U16(12 * 20);
  w.Rgba({0, 0, 0, 255});
  w.String("");
  w.String("A");
  return w.Take();
}

// A class a loaded movie links to its sprite, made with `new` by the loading
// movie, builds that sprite's children from the loaded movie's library, not
// from the loading movie's characters of the same ids; its text field finds
// its font there too.
TEST(As3LoadedMovie, ALoadedMoviesSymbolMadeByNewHasItsOwnChildren) {
  As3Movie in;
  in.docName = "Inner";
  in.LinkedClass("Widget", {in.Display("Sprite"), in.Display("MovieClip")}, 2);
  in.defineTags = [](SwfBuilder& b) {
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({0, 255, 0, 255})));
    b.DefineShape(1, s);
    b.Tag(75, OneGlyphFont(3, "Inner Font"));
    b.Tag(37, FieldInFont(4, 3));
    swf::Matrix aside;  // the field beside the square
    aside.translateX = 20 * 20;
    testing::Timeline sprite;
    sprite.PlaceObject2({.depth = 1, .characterId = 1}).PlaceObject2({.depth = 2, .characterId = 4, .matrix = aside})
        .ShowFrame();
    b.DefineSprite(2, sprite);
  };
  const std::vector<std::uint8_t> inner = in.Build([](As3Movie&, AbcCode&) {});
  As3Movie d;
  d.LinkedClass("Payload", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  // The loading movie's own shape 1 is blue and its character 2 is that shape.
  d.defineTags = [&](SwfBuilder& b) {
    b.Tag(kDefineBinaryData, BinaryTag(7, inner));
    ShapeBuilder s;
    s.Rectangle(0, 0, 200, 200, s.AddFill(FillStyle::Solid({0, 0, 255, 255})));
    b.DefineShape(1, s);
  };
  const auto byName = d.a.PackageName("flash.utils", "getDefinitionByName");
  // function (e) { var w = new (getDefinitionByName("Widget"))(); w.y = 50;
  //   e.target.content.addChild(w); trace("widget " + w.numChildren) }
  AbcCode onInit;
  onInit.Op("findpropstrict", {byName}).Op("pushstring", {d.S("Widget")}).Op("callproperty", {byName, 1})
      .Op("construct", {0}).Op("setlocal_2");
  onInit.Op("getlocal_2").Op("pushbyte", {50}).Op("setproperty", {d.Q("y")});
  onInit.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("content")}).Op("getlocal_2")
      .Op("callpropvoid", {d.Q("addChild"), 1});
  onInit.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S("widget ")}).Op("getlocal_2")
      .Op("getproperty", {d.Q("numChildren")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1});
  onInit.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_2").Op("pushbyte", {1}).Op("callproperty", {d.Q("getChildAt"), 1})
      .Op("getproperty", {d.Q("defaultTextFormat")}).Op("getproperty", {d.Q("font")}).Op("callpropvoid", {d.Q("trace"), 1})
      .Op("returnvoid");
  const auto listener = d.Method(onInit, 1);
  const auto loaderCls = d.Display("Loader");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Payload")}).Op("constructprop", {m.Q("Payload"), 0}).Op("setlocal", {1});
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {2});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_2").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal", {3});
    m.Listen(c, 3, "init", listener);
    c.Op("getlocal_2").Op("getlocal_1").Op("callpropvoid", {m.Q("loadBytes"), 1});
  }, 3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }), "widget 2|Inner Font|");
  const gdi::Bitmap bmp = PaintedAfterLoad(bytes);
  EXPECT_EQ(bmp.GetPixel(5, 55), (gdi::Color{0, 255, 0})) << "the loaded movie's shape 1 inside its sprite";
}

// Font.enumerateFonts lists the linked fonts of the movie whose code asks:
// a loaded movie sees its own font, the loading movie does not.
TEST(As3LoadedMovie, EnumeratedFontsAreThoseOfTheAskingMovie) {
  auto fontCount = [](As3Movie& m, AbcCode& c) {
    const auto font = m.a.PackageName("flash.text", "Font");
    c.Op("getlex", {font}).Op("callproperty", {m.Q("enumerateFonts"), 0}).Op("getproperty", {m.Q("length")});
  };
  As3Movie in;
  in.docName = "Inner";
  in.LinkedClass("InnerFont", {in.a.PackageName("flash.text", "Font")}, 3);
  in.defineTags = [](SwfBuilder& b) {
    // OneGlyphFont with layout: flags, then ascent, descent, leading, one
    // advance, one bounds rectangle and no kerning pairs.
    std::vector<std::uint8_t> font = OneGlyphFont(3, "Inner Font");
    font[2] |= 0x80;
    testing::SwfWriter w;
    w.U16(800), w.U16(200), w.U16(0), w.U16(600);
    w.Rect({0, 0, 0, 0});
    w.U16(0);
    const std::vector<std::uint8_t> layout = w.Take();
    font.insert(font.end(), layout.begin(), layout.end());
    b.Tag(75, font);
  };
  const std::vector<std::uint8_t> inner = in.Build([&](As3Movie& m, AbcCode& c) {
    TraceWith(m, c, "inner ", [&] { fontCount(m, c); });
  });
  As3Movie d;
  d.LinkedClass("Payload", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  d.defineTags = [&](SwfBuilder& b) { b.Tag(kDefineBinaryData, BinaryTag(7, inner)); };
  AbcCode onInit;
  TraceWith(d, onInit, "outer ", [&] { fontCount(d, onInit); });
  onInit.Op("returnvoid");
  const auto listener = d.Method(onInit, 1);
  const auto loaderCls = d.Display("Loader");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Payload")}).Op("constructprop", {m.Q("Payload"), 0}).Op("setlocal", {1});
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {2});
    c.Op("getlocal_2").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal", {3});
    m.Listen(c, 3, "init", listener);
    c.Op("getlocal_2").Op("getlocal_1").Op("callpropvoid", {m.Q("loadBytes"), 1});
  }, 3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }), "inner 1|outer 0|");
}

// A movie of ActionScript 1/2 (version 8, no FileAttributes) loaded by an
// ActionScript 3 one is an AVM1Movie: version 2 to its LoaderInfo, its own
// timeline playing on (red in its first frame, green after); a script can
// neither make one nor call into it.
TEST(As3LoadedMovie, AnActionScript2MovieIsAnAvm1MovieThatPlaysAndTakesNoCalls) {
  SwfBuilder old(8, {0, 2000, 0, 2000});
  PlaceSquare(old, 1, {255, 0, 0, 255}, 0, 0);
  old.ShowFrame().RemoveObject2(1);
  PlaceSquare(old, 2, {0, 255, 0, 255}, 0, 0);
  for (int i = 0; i < 40; ++i) old.ShowFrame();
  const std::vector<std::uint8_t> inner = old.Build();

  As3Movie d;
  d.LinkedClass("Payload", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  d.defineTags = [&](SwfBuilder& b) { b.Tag(kDefineBinaryData, BinaryTag(7, inner)); };
  const auto heard = d.Tracer("", {"type", "target.actionScriptVersion", "target.content"});
  // function (e) { e.target.content.call(<args>) }, its error uncaught.
  auto caller = [&](std::string_view method, int args) {
    AbcCode c;
    c.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("content")});
    for (int i = 0; i < args; ++i) c.Op("pushstring", {d.S("f")});
    c.Op("callpropvoid", {d.Q(method), static_cast<std::uint32_t>(args)}).Op("returnvoid");
    return d.Method(c, 1);
  };
  const auto noName = caller("call", 0), named = caller("call", 1), callback = caller("addCallback", 1);
  const auto loaderCls = d.Display("Loader"), avm1 = d.Display("AVM1Movie");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.Q("Payload")}).Op("constructprop", {m.Q("Payload"), 0}).Op("setlocal", {1});
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {2});
    c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal_2").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal", {3});
    m.Listen(c, 3, "init", heard);
    m.Listen(c, 3, "init", noName);
    m.Listen(c, 3, "init", named);
    m.Listen(c, 3, "init", callback);
    c.Op("getlocal_2").Op("getlocal_1").Op("callpropvoid", {m.Q("loadBytes"), 1});
    c.Op("findpropstrict", {avm1}).Op("constructprop", {avm1, 0}).Op("pop");
  }, 3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }),
            "ArgumentError: Error #2012: AVM1Movie$ class cannot be instantiated.|"
            "init 2 [object AVM1Movie]|"
            "ArgumentError: Error #1063: Argument count mismatch on flash.display::AVM1Movie/call(). Expected 1, got 0.|"
            "Error: Error #2014: Feature is not available at this time.|"
            "ArgumentError: Error #1063: Argument count mismatch on flash.display::AVM1Movie/addCallback(). "
            "Expected 2, got 1.|");
  const gdi::Bitmap bmp = PaintedAfterLoad(bytes);
  EXPECT_EQ(bmp.GetPixel(5, 5), (gdi::Color{0, 255, 0})) << "the old movie played past its first frame";
}

}  // namespace
}  // namespace quarvel::player

namespace quarvel::player {
namespace {

// What reaches the sound output: definitions and starts, by id.
struct SoundLog : SoundEventListener {
  std::vector<std::pair<int, std::size_t>> defines;  // id, body bytes
  std::vector<int> starts;
  void OnDefineSound(int soundId, std::span<const std::uint8_t> body) override { defines.emplace_back(soundId, body.size()); }
  void OnStartSound(int soundId, std::string_view, std::span<const std::uint8_t>, std::int64_t) override {
    starts.push_back(soundId);
  }
};

TEST(As3LoadedSound, AnMp3BesideTheMovieBecomesASoundThatPlays) {
  const auto dir = std::filesystem::temp_directory_path() / ("quarvel-as3-mp3-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  // Ten silent frames of MPEG-1 Layer III at 44.1 kHz: 11520 samples, 261.22 ms.
  {
    std::ofstream out(dir / "tune.mp3", std::ios::binary);
    for (int i = 0; i < 10; ++i) {
      const auto frame = testing::SilentMp3Frame(128, 44100, true);
      out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
  }
  As3Movie d;
  const auto sound = d.a.PackageName("flash.media", "Sound"), request = d.a.PackageName("flash.net", "URLRequest");
  const auto done = d.Tracer("", {"type", "target.length", "target.bytesTotal"});
  const auto failed = d.Tracer("", {"type", "errorID"});
  // function (e) { e.target.play(); }
  AbcCode playIt;
  playIt.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("callpropvoid", {d.Q("play"), 0}).Op("returnvoid");
  const auto play = d.Method(playIt, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sound}).Op("findpropstrict", {request}).Op("pushstring", {m.S("tune.mp3")})
        .Op("constructprop", {request, 1}).Op("constructprop", {sound, 1}).Op("setlocal", {1});
    m.Listen(c, 1, "complete", done);
    m.Listen(c, 1, "complete", play);
    c.Op("findpropstrict", {sound}).Op("constructprop", {sound, 0}).Op("setlocal", {2});
    m.Listen(c, 2, "ioError", failed);
    c.Op("getlocal_2").Op("findpropstrict", {request}).Op("pushstring", {m.S("none.mp3")})
        .Op("constructprop", {request, 1}).Op("callpropvoid", {m.Q("load"), 1});
  }, 3, {}, 100, 100);
  const auto path = dir / "movie.swf";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const std::string size = std::to_string(std::filesystem::file_size(dir / "tune.mp3"));
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }, path.string()),
            "complete 261.2244897959184 " + size + "|ioError 2032|");

  // Played once loaded: its definition reaches the sound output, then its start.
  SoundLog log;
  {
    FlashPlayer p;
    p.SetSize(100, 100);
    p.SetSoundListener(&log);
    p.SetMovie(path.string());
    p.AdvanceTo(p.Now() + 250);
  }
  ASSERT_EQ(log.defines.size(), 1u);
  EXPECT_EQ(log.defines[0].second, 2u + 1 + 4 + 2 + std::filesystem::file_size(dir / "tune.mp3"));
  EXPECT_EQ(log.starts, std::vector<int>{log.defines[0].first});
  std::filesystem::remove_all(dir);
}

TEST(As3LoadedSound, ASoundPlayedWhileItsFileLoadsStartsOnceInAndCompletes) {
  const auto dir = std::filesystem::temp_directory_path() / ("quarvel-as3-mp3-early-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream out(dir / "tune.mp3", std::ios::binary);
    for (int i = 0; i < 10; ++i) {  // 261 ms
      const auto frame = testing::SilentMp3Frame(128, 44100, true);
      out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
  }
  As3Movie d;
  const auto sound = d.a.PackageName("flash.media", "Sound"), request = d.a.PackageName("flash.net", "URLRequest");
  const auto heard = d.Tracer("", {"type"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {sound}).Op("findpropstrict", {request}).Op("pushstring", {m.S("tune.mp3")})
        .Op("constructprop", {request, 1}).Op("constructprop", {sound, 1}).Op("setlocal", {1});
    m.Listen(c, 1, "complete", heard);
    c.Op("getlocal_1").Op("callproperty", {m.Q("play"), 0}).Op("setlocal_2");
    m.Listen(c, 2, "soundComplete", heard);
    // A second channel stopped before the sound came never starts.
    c.Op("getlocal_1").Op("callproperty", {m.Q("play"), 0}).Op("callpropvoid", {m.Q("stop"), 0});
    m.Trace(c, "asked");
  }, 30, {}, 100, 100);
  const auto path = dir / "movie.swf";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 600); }, path.string()),
            "asked|complete|soundComplete|");
  SoundLog log;
  {
    FlashPlayer p;
    p.SetSize(100, 100);
    p.SetSoundListener(&log);
    p.SetMovie(path.string());
    p.AdvanceTo(p.Now() + 600);
  }
  ASSERT_EQ(log.defines.size(), 1u);
  EXPECT_EQ(log.starts, std::vector<int>{log.defines[0].first});
  std::filesystem::remove_all(dir);
}

TEST(As3LoadedMovie, AMovieWhoseMainClassThrowsNeverSaysItIsIn) {
  As3Movie innerMovie;
  innerMovie.docName = "Failing";
  const std::vector<std::uint8_t> inner = innerMovie.Build([&](As3Movie& m, AbcCode& c) {
    m.Trace(c, "inner made");
    c.Op("pushstring", {m.S("broken")}).Op("throw");
  });
  As3Movie d;
  d.LinkedClass("Payload", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  d.defineTags = [&](SwfBuilder& b) { b.Tag(kDefineBinaryData, BinaryTag(7, inner)); };
  const auto loaderCls = d.Display("Loader");
  const auto heard = d.Tracer("", {"type"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {2});
    c.Op("getlocal_2").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal", {3});
    for (const char* t : {"progress", "init", "complete"}) m.Listen(c, 3, t, heard);
    c.Op("getlocal_2").Op("findpropstrict", {m.Q("Payload")}).Op("constructprop", {m.Q("Payload"), 0});
    c.Op("callpropvoid", {m.Q("loadBytes"), 1});
  }, 3);
  const std::string out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); });
  EXPECT_EQ(out.rfind("progress|progress|inner made|broken", 0), 0u) << out;
  EXPECT_EQ(out.find("init"), std::string::npos) << out;
  EXPECT_EQ(out.find("complete"), std::string::npos) << out;
}

// INIT tells that the loaded movie's first frame is built and its frame
// script has run: a listener finds what that script made (forms made in
// the authoring tool build themselves in frame 1).
TEST(As3LoadedMovie, InitComesAfterTheLoadedMoviesFirstFrameScript) {
  As3Movie innerMovie;
  innerMovie.docName = "Framed";
  AbcCode frame1;
  innerMovie.Trace(frame1, "inner frame1");
  innerMovie.NewSprite(frame1, 1, "built", 0xFF0000, 0, 0, 10, 10);
  frame1.Op("returnvoid");
  const std::vector<std::uint8_t> inner = innerMovie.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("pushbyte", {0}).Op("getlocal_0").Op("getproperty", {m.Q("frame1")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      2, {{"frame1", frame1}});
  for (const bool onStage : {true, false}) {
    As3Movie d;
    d.LinkedClass("Payload", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
    d.defineTags = [&](SwfBuilder& b) { b.Tag(kDefineBinaryData, BinaryTag(7, inner)); };
    const auto loaderCls = d.Display("Loader");
    const auto heard = d.Tracer("", {"type", "target.content.numChildren"});
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {2});
      if (onStage) c.Op("getlocal_0").Op("getlocal_2").Op("callpropvoid", {m.Q("addChild"), 1});
      c.Op("getlocal_2").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal", {3});
      for (const char* t : {"init", "complete"}) m.Listen(c, 3, t, heard);
      c.Op("getlocal_2").Op("findpropstrict", {m.Q("Payload")}).Op("constructprop", {m.Q("Payload"), 0});
      c.Op("callpropvoid", {m.Q("loadBytes"), 1});
    }, 3);
    const std::string out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); });
    EXPECT_EQ(out.rfind("inner frame1|init 1|complete 1|", 0), 0u) << (onStage ? "on stage: " : "off stage: ") << out;
  }
}

// A loaded movie's main timeline is placed by the timeline, not a script:
// its document class cannot rename it (#2078), as the outer one cannot.
TEST(As3LoadedMovie, ALoadedMoviesMainTimelineKeepsItsName) {
  As3Movie innerMovie;
  innerMovie.docName = "Renamer";
  const std::vector<std::uint8_t> inner = innerMovie.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("pushstring", {m.S("mine")}).Op("setproperty", {m.Q("name")});
    m.Trace(c, "renamed");
  });
  As3Movie d;
  d.LinkedClass("Payload", {d.a.PackageName("flash.utils", "ByteArray")}, 7);
  d.defineTags = [&](SwfBuilder& b) { b.Tag(kDefineBinaryData, BinaryTag(7, inner)); };
  const auto loaderCls = d.Display("Loader");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {2});
    c.Op("getlocal_2").Op("findpropstrict", {m.Q("Payload")}).Op("constructprop", {m.Q("Payload"), 0});
    c.Op("callpropvoid", {m.Q("loadBytes"), 1});
  }, 3);
  const std::string out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); });
  EXPECT_NE(out.find("Error #2078"), std::string::npos) << out;
  EXPECT_EQ(out.find("renamed"), std::string::npos) << out;
}

}  // namespace
}  // namespace quarvel::player
