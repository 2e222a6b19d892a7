// ActionScript 3 loading from files beside the movie: URLLoader in its
// three formats, Loader with pictures, the movie's own LoaderInfo, and the
// offline player's failures.
#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "platform/gdi/bitmap.h"
#include "player/flash_player.h"
#include "support/as3_movie.h"

namespace quarvel::player {
namespace {

namespace fs = std::filesystem;
using testing::AbcCode;
using testing::As3Movie;
using testing::As3Traced;

class As3Loading : public ::testing::Test {
 protected:
  fs::path dir = fs::temp_directory_path() / ("quarvel-as3-load-" + std::to_string(::getpid()));
  void SetUp() override { fs::create_directories(dir / "sub"); }
  void TearDown() override { fs::remove_all(dir); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir / name, std::ios::binary) << text; }
  std::string Movie(const std::vector<std::uint8_t>& bytes) {
    const auto p = dir / "sub" / "movie.swf";
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  // A PNG of w x h in one colour, written with Cairo.
  // Cairo writes an alpha channel only for a picture that is not opaque.
  void WritePng(const std::string& name, int w, int h, double r, double g, double b, double alpha = 1) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, r, g, b, alpha);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(s, (dir / "sub" / name).c_str());
    cairo_surface_destroy(s);
  }
  // local = new <cls>(new URLRequest(url)) or, with a format, one whose
  // dataFormat is set before load().
  static void NewUrlLoader(As3Movie& m, AbcCode& c, int local, std::string_view url, std::string_view format = {}) {
    const auto loader = m.a.PackageName("flash.net", "URLLoader"), request = m.a.PackageName("flash.net", "URLRequest");
    c.Op("findpropstrict", {loader}).Op("constructprop", {loader, 0}).Op("setlocal", {local});
    if (!format.empty()) c.Op("getlocal", {local}).Op("pushstring", {m.S(format)}).Op("setproperty", {m.Q("dataFormat")});
    c.Op("getlocal", {local}).Op("findpropstrict", {request}).Op("pushstring", {m.S(url)}).Op("constructprop", {request, 1});
    c.Op("callpropvoid", {m.Q("load"), 1});
  }
};

TEST_F(As3Loading, UrlLoaderReadsTextBesideTheMovieAfterTheScriptThatAsked) {
  Write("sub/data.txt", "\xEF\xBB\xBFhello, world");
  As3Movie d;
  const auto done = d.Tracer("complete ", {"target.data", "target.bytesTotal"});
  const auto failed = d.Tracer("failed ", {"text", "errorID"});
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        NewUrlLoader(m, c, 1, "data.txt?nocache=1");
        m.Listen(c, 1, "complete", done);
        m.Trace(c, "asked");
        NewUrlLoader(m, c, 2, "missing.txt");
        m.Listen(c, 2, "ioError", failed);
        NewUrlLoader(m, c, 3, "../data.txt");  // out of the movie's folder
        m.Listen(c, 3, "ioError", failed);
        NewUrlLoader(m, c, 4, "http://example.com/data.txt");
        m.Listen(c, 4, "ioError", failed);
      },
      3);
  const auto out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }, Movie(bytes));
  EXPECT_EQ(out,
            // A URLLoader's error names no URL, as Flash prints it.
            "asked|complete hello, world 15|failed Error #2032: Stream Error 2032|"
            "failed Error #2032: Stream Error 2032|failed Error #2032: Stream Error 2032|");
}

TEST_F(As3Loading, UrlLoaderGivesBytesAndVariables) {
  Write("sub/vars.txt", "name=J%C3%BCrgen+K&score=42&tag=a&tag=b");
  As3Movie d;
  const auto vars = d.Tracer("vars ", {"target.data.name", "target.data.score", "target.data.tag.length"});
  const auto binary = d.Tracer("binary ", {"target.data.length", "target.data.0"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    NewUrlLoader(m, c, 1, "vars.txt", "variables");
    m.Listen(c, 1, "complete", vars);
    NewUrlLoader(m, c, 2, "vars.txt", "binary");
    m.Listen(c, 2, "complete", binary);
  }, 2);
  const auto out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); }, Movie(bytes));
  EXPECT_EQ(out, "vars J\xC3\xBCrgen K 42 2|binary 39 110|");
}

// Games written for one country set System.useCodePage at start-up: the
// setting reads back, and loaded text that is not UTF-8 is then read in the
// system's code page (Western here), while UTF-8 text stays as it is.
TEST_F(As3Loading, UseCodePageReadsLoadedTextThatIsNotUtf8InTheSystemsCodePage) {
  Write("sub/western.txt", "caf\xE9 cr\xE8me");
  Write("sub/unicode.txt", "caf\xC3\xA9");
  As3Movie d;
  const auto done = d.Tracer("complete ", {"target.data"});
  const auto system = d.a.PackageName("flash.system", "System");
  const auto xml = d.Q("XML");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.TraceValue(c, "", [&] { c.Op("getlex", {system}).Op("getproperty", {m.Q("useCodePage")}); });
    c.Op("getlex", {system}).Op("pushtrue").Op("setproperty", {m.Q("useCodePage")});
    m.TraceValue(c, "", [&] { c.Op("getlex", {system}).Op("getproperty", {m.Q("useCodePage")}); });
    // Disposing of an XML tree is only a hint to the collector.
    c.Op("getlex", {system}).Op("findpropstrict", {xml}).Op("pushstring", {m.S("<a/>")}).Op("constructprop", {xml, 1})
        .Op("callpropvoid", {m.Q("disposeXML"), 1});
    NewUrlLoader(m, c, 1, "western.txt");
    m.Listen(c, 1, "complete", done);
    NewUrlLoader(m, c, 2, "unicode.txt");
    m.Listen(c, 2, "complete", done);
  }, 2);
  const auto out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); }, Movie(bytes));
  EXPECT_EQ(out, "false|true|complete caf\xC3\xA9 cr\xC3\xA8me|complete caf\xC3\xA9|");
}

// A signed library (.swz: a movie in a PKCS#7 envelope) reaches a URLLoader
// as the movie it holds when the request names a digest, as Flex's loader of
// its framework asks; without one the envelope arrives as it is stored.
TEST_F(As3Loading, ADigestRequestUnwrapsASignedLibrary) {
  auto der = [](std::uint8_t tag, const std::string& value) {
    std::string out(1, static_cast<char>(tag));
    const std::size_t n = value.size();
    if (n < 0x80) out += static_cast<char>(n);
    else out += {'\x82', static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)};
    return out + value;
  };
  const std::string oid = "\x2A\x86\x48\x86\xF7\x0D\x01\x07";
  const std::string movie = std::string("FWS\x0A\x20\x00\x00\x00", 8) + std::string(200, 'x');
  const std::string content = der(0x30, der(0x06, oid + '\x01') + der(0xA0, der(0x04, movie)));
  const std::string signedData = der(0x30, der(0x02, "\x01") + der(0x31, "") + content + der(0x31, "signer"));
  Write("sub/lib.swz", der(0x30, der(0x06, oid + '\x02') + der(0xA0, signedData)));
  As3Movie d;
  const auto got = d.Tracer("", {"target.data.length", "target.data.0"});
  const auto loader = d.a.PackageName("flash.net", "URLLoader"), request = d.a.PackageName("flash.net", "URLRequest");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    for (int local : {1, 2}) {
      c.Op("findpropstrict", {loader}).Op("constructprop", {loader, 0}).Op("setlocal", {local});
      c.Op("getlocal", {local}).Op("pushstring", {m.S("binary")}).Op("setproperty", {m.Q("dataFormat")});
      c.Op("findpropstrict", {request}).Op("pushstring", {m.S("lib.swz")}).Op("constructprop", {request, 1}).Op("setlocal_3");
      if (local == 1) c.Op("getlocal_3").Op("pushstring", {m.S("0123abcd")}).Op("setproperty", {m.Q("digest")});
      c.Op("getlocal", {local}).Op("getlocal_3").Op("callpropvoid", {m.Q("load"), 1});
      m.Listen(c, local, "complete", got);
    }
  }, 2);
  const auto out = As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 150); }, Movie(bytes));
  // 70 is the movie's "F"; 48 the envelope's SEQUENCE.
  EXPECT_EQ(out, "208 70|267 48|");
}

TEST_F(As3Loading, UrlVariablesEncodeAndDecode) {
  As3Movie d;
  const auto vars = d.a.PackageName("flash.net", "URLVariables");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {vars}).Op("pushstring", {m.S("a=1+2&b=%26")}).Op("constructprop", {vars, 1}).Op("setlocal_1");
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("getproperty", {m.Q("a")}).Op("callpropvoid", {m.Q("trace"), 1});
    c.Op("getlocal_1").Op("pushstring", {m.S("x y")}).Op("setproperty", {m.Q("c")});
    c.Op("findpropstrict", {m.Q("trace")}).Op("getlocal_1").Op("callproperty", {m.Q("toString"), 0}).Op("callpropvoid", {m.Q("trace"), 1});
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "1 2|a=1%202&b=%26&c=x%20y|");
}

// A loaded picture's BitmapData is transparent only when the file holds
// transparency: a PNG with an alpha channel is, one without is not.
TEST_F(As3Loading, ALoadedPicturesBitmapDataIsTransparentOnlyWithAlpha) {
  WritePng("opaque.png", 4, 4, 1, 0, 0);
  WritePng("alpha.png", 4, 4, 1, 0, 0, 0.5);
  As3Movie d;
  const auto loaderCls = d.Display("Loader"), request = d.a.PackageName("flash.net", "URLRequest");
  const auto heard = d.Tracer("", {"target.content.bitmapData.transparent"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    for (int local : {1, 2}) {
      c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {local});
      c.Op("getlocal", {local}).Op("findpropstrict", {request}).Op("pushstring", {m.S(local == 1 ? "opaque.png" : "alpha.png")});
      c.Op("constructprop", {request, 1}).Op("callpropvoid", {m.Q("load"), 1});
      c.Op("getlocal", {local}).Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal", {local + 2});
      m.Listen(c, local + 2, "complete", heard);
    }
  }, 3);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }, Movie(bytes)), "false|true|");
}

TEST_F(As3Loading, LoaderShowsAPictureAndSendsInitThenComplete) {
  WritePng("blue.png", 30, 20, 0, 0, 1);
  Write("sub/junk.png", "not a picture at all");
  As3Movie d;
  const auto loaderCls = d.Display("Loader"), request = d.a.PackageName("flash.net", "URLRequest");
  const auto heard = d.Tracer("", {"type", "target.width", "target.height", "target.contentType"});
  const auto failed = d.Tracer("", {"type", "errorID"});
  auto load = [&](As3Movie& m, AbcCode& c, int local, std::string_view url) {
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal", {local});
    c.Op("getlocal_0").Op("getlocal", {local}).Op("callpropvoid", {m.Q("addChild"), 1});
    c.Op("getlocal", {local}).Op("findpropstrict", {request}).Op("pushstring", {m.S(url)}).Op("constructprop", {request, 1});
    c.Op("callpropvoid", {m.Q("load"), 1});
    c.Op("getlocal", {local}).Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal", {local + 1});
  };
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    load(m, c, 1, "blue.png");
    c.Op("getlocal_1").Op("pushbyte", {10}).Op("setproperty", {m.Q("x")});
    m.Listen(c, 2, "init", heard);
    m.Listen(c, 2, "complete", heard);
    load(m, c, 3, "junk.png");
    m.Listen(c, 4, "ioError", failed);
    load(m, c, 5, "none.png");
    m.Listen(c, 6, "ioError", failed);
  }, 3);
  const std::string path = Movie(bytes);
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }, path),
            "init 30 20 image/png|complete 30 20 image/png|ioError 2124|ioError 2035|");
  FlashPlayer p;
  p.SetSize(100, 100);
  p.SetMovie(path);
  p.AdvanceTo(p.Now() + 250);
  gdi::Bitmap bmp;
  p.Paint(bmp);
  EXPECT_EQ(bmp.GetPixel(20, 10), (gdi::Color{0, 0, 255}));
  EXPECT_EQ(bmp.GetPixel(5, 10), (gdi::Color{255, 255, 255}));
  EXPECT_EQ(bmp.GetPixel(20, 25), (gdi::Color{255, 255, 255}));
}

// A loaded file's URL starts as the movie's own does, even when a link on
// the way leads elsewhere: scripts cut one by the other's length.
TEST_F(As3Loading, ALoadedFilesUrlSharesTheMoviesFolderAsTheMovieNamesIt) {
  WritePng("blue.png", 4, 4, 0, 0, 1);
  fs::create_directory_symlink(dir / "sub", dir / "link");
  As3Movie d;
  const auto loaderCls = d.Display("Loader"), request = d.a.PackageName("flash.net", "URLRequest");
  const auto heard = d.Tracer("", {"target.url"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("findpropstrict", {request}).Op("pushstring", {m.S("blue.png")}).Op("constructprop", {request, 1});
    c.Op("callpropvoid", {m.Q("load"), 1});
    c.Op("getlocal_1").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal_2");
    m.Listen(c, 2, "complete", heard);
  }, 3);
  Movie(bytes);
  const std::string path = (dir / "link" / "movie.swf").string();
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }, path),
            "file://" + (dir / "link" / "blue.png").string() + "|");
}

TEST_F(As3Loading, TheMovieLoaderInfoCompletesOnceAfterTheFirstFrame) {
  As3Movie d;
  const auto heard = d.Tracer("", {"type", "target.bytesLoaded", "target.bytesTotal", "target.width"});
  AbcCode frame1;
  d.Trace(frame1, "frame1");
  frame1.Op("returnvoid");
  const auto bytes = d.Build(
      [&](As3Movie& m, AbcCode& c) {
        c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("setlocal_1");
        m.Listen(c, 1, "init", heard);
        m.Listen(c, 1, "complete", heard);
        c.Op("getlocal_0").Op("pushbyte", {0}).Op("getlocal_0").Op("getproperty", {m.Q("frame1")})
            .Op("callpropvoid", {m.Q("addFrameScript"), 2});
      },
      2, {{"frame1", frame1}});
  const std::string size = std::to_string(bytes.size());
  // Frames 1, 2, 1 again, 2.
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 350); }),
            "frame1|init " + size + " " + size + " 100|complete " + size + " " + size + " 100|frame1|");
}

TEST_F(As3Loading, ALoadersInfoHasBytesDomainAndParametersOnlyAsTheLoadGoes) {
  // Nothing before load(); the size with nothing loaded, then every byte;
  // the domain once the content is made; the URL's query as parameters.
  WritePng("blue.png", 4, 4, 0, 0, 1);
  As3Movie d;
  const auto loaderCls = d.Display("Loader"), request = d.a.PackageName("flash.net", "URLRequest");
  const auto progress = d.Tracer("", {"type", "bytesLoaded", "bytesTotal", "target.bytes.length", "target.parameters.b"});
  const auto complete = d.Tracer("", {"type", "target.applicationDomain", "target.parameters.b"});
  const auto before = d.Tracer("before ", {"bytes", "applicationDomain", "url"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal_2");
    c.Op("newfunction", {before}).Op("pushnull").Op("getlocal_2").Op("call", {1}).Op("pop");
    c.Op("getlocal_1").Op("findpropstrict", {request}).Op("pushstring", {m.S("blue.png?a=1&b=x%20y")})
        .Op("constructprop", {request, 1}).Op("callpropvoid", {m.Q("load"), 1});
    m.Listen(c, 2, "progress", progress);
    m.Listen(c, 2, "complete", complete);
  }, 3);
  const std::string path = Movie(bytes);
  std::ifstream png(dir / "sub" / "blue.png", std::ios::binary | std::ios::ate);
  const std::string n = std::to_string(static_cast<long long>(png.tellg()));
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }, path),
            "before null null null|progress 0 " + n + " 0 undefined|progress " + n + " " + n + " " + n +
                " x y|complete [object ApplicationDomain] x y|");
}

// A Loader's LoaderInfo tells the file's size, rate, versions and access
// only once the file's kind is known: before a load, and after a file of
// no known kind, these throw #2099. The movie's own always answers.
TEST_F(As3Loading, ALoadersInfoTellsTheFileOnlyOnceItsKindIsKnown) {
  WritePng("blue.png", 30, 20, 0, 0, 1);
  Write("sub/junk.png", "not a picture at all");
  const auto run = [&](std::string_view url, std::string_view event, const std::vector<std::string>& fields) {
    As3Movie d;
    const auto loaderCls = d.Display("Loader"), request = d.a.PackageName("flash.net", "URLRequest");
    const auto heard = d.Tracer("heard ", fields);
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      m.TraceValue(c, "own ", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("frameRate")}); });
      c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal_1");
      c.Op("getlocal_1").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal_2");
      m.Listen(c, 2, event, heard);
      if (url.empty()) {
        m.TraceValue(c, "before ", [&] { c.Op("getlocal_2").Op("getproperty", {m.Q(fields[0])}); });
      } else {
        c.Op("getlocal_1").Op("findpropstrict", {request}).Op("pushstring", {m.S(url)})
            .Op("constructprop", {request, 1}).Op("callpropvoid", {m.Q("load"), 1});
      }
    }, 3);
    return As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }, Movie(bytes));
  };
  const std::string before = run("", "init", {"actionScriptVersion"});
  EXPECT_EQ(before.rfind("own 10|", 0), 0u) << before;
  EXPECT_NE(before.find("Error #2099: The loading object is not sufficiently loaded"), std::string::npos) << before;
  EXPECT_EQ(before.find("before "), std::string::npos) << before;
  EXPECT_EQ(run("blue.png", "complete", {"target.width", "target.sameDomain", "target.childAllowsParent"}),
            "own 10|heard 30 true true|");
  const std::string junk = run("junk.png", "ioError", {"target.frameRate"});
  EXPECT_NE(junk.find("Error #2099"), std::string::npos) << junk;
  EXPECT_EQ(junk.find("heard"), std::string::npos) << junk;
}

TEST_F(As3Loading, TheMoviesOwnBytesAreTheFileUncompressed) {
  // loaderInfo.bytes: "FWS" and the header's declared length, whatever the
  // file's compression.
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("bytes")}).Op("setlocal_1");
    c.Op("findpropstrict", {m.Q("trace")});
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("getproperty", {m.a.MultinameL(m.a.NsSet({m.pub}))});
    c.Op("pushstring", {m.S(" ")}).Op("add");
    c.Op("getlocal_1").Op("getproperty", {m.Q("length")}).Op("add");
    c.Op("callpropvoid", {m.Q("trace"), 1});
  });
  // The same movie as "CWS": the body deflated.
  uLongf packedSize = compressBound(static_cast<uLong>(bytes.size() - 8));
  std::vector<std::uint8_t> packed(8 + packedSize);
  ASSERT_EQ(compress(packed.data() + 8, &packedSize, bytes.data() + 8, static_cast<uLong>(bytes.size() - 8)), Z_OK);
  packed.resize(8 + packedSize);
  std::copy(bytes.begin(), bytes.begin() + 8, packed.begin());
  packed[0] = 'C';
  const std::string expected = "70 " + std::to_string(bytes.size()) + "|";
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), expected);
  EXPECT_EQ(As3Traced(packed, [](FlashPlayer&) {}), expected);
}

// The movie's LoaderInfo names its type; the stage's, otherwise the
// movie's, names none.
TEST_F(As3Loading, OnlyTheMoviesOwnInfoNamesItsContentType) {
  As3Movie d;
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    m.TraceValue(c, "", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("contentType")}); });
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("contentType")});
    });
    m.TraceValue(c, "", [&] {
      c.Op("getlocal_0").Op("getproperty", {m.Q("stage")}).Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q("content")});
      c.Op("getlocal_0").Op("strictequals");
    });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "application/x-shockwave-flash|null|true|");
}

TEST_F(As3Loading, TheMoviesOwnSizeIsTheFileAsStoredAndItsUrlNamesTheFile) {
  // bytesLoaded and bytesTotal count the file's bytes, compressed or not;
  // the URL ends in the file's own name, and a Loader made off the display
  // list was made by that movie.
  As3Movie d;
  const auto loaderCls = d.Display("Loader");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    for (const char* f : {"bytesLoaded", "bytesTotal", "url"})
      m.TraceValue(c, "", [&] { c.Op("getlocal_0").Op("getproperty", {m.Q("loaderInfo")}).Op("getproperty", {m.Q(f)}); });
    m.TraceValue(c, "loader ", [&] {
      c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0});
      c.Op("getproperty", {m.Q("contentLoaderInfo")}).Op("getproperty", {m.Q("loaderURL")});
    });
  });
  uLongf packedSize = compressBound(static_cast<uLong>(bytes.size() - 8));
  std::vector<std::uint8_t> packed(8 + packedSize);
  ASSERT_EQ(compress(packed.data() + 8, &packedSize, bytes.data() + 8, static_cast<uLong>(bytes.size() - 8)), Z_OK);
  packed.resize(8 + packedSize);
  std::copy(bytes.begin(), bytes.begin() + 8, packed.begin());
  packed[0] = 'C';
  ASSERT_NE(packed.size(), bytes.size());
  const auto path = dir / "sub" / "game.swf";
  const std::vector<std::uint8_t>* files[] = {&bytes, &packed};
  for (const std::vector<std::uint8_t>* file : files) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file->data()), static_cast<std::streamsize>(file->size()));
    const std::string n = std::to_string(file->size());
    const std::string url = "file://" + path.string();
    EXPECT_EQ(As3Traced(*file, [](FlashPlayer&) {}, path.string()), n + "|" + n + "|" + url + "|loader " + url + "|");
  }
}

TEST_F(As3Loading, AFileArrivesWithinTheFrameThatAskedWithItsStatusBeforeTheEnd) {
  // Only the first frame runs: the events come before the next one. A
  // local file's HTTP status is 0; a missing file's text names no URL.
  Write("sub/data.txt", "hello");
  As3Movie d;
  const auto type = d.Tracer("", {"type"});
  const auto progress = d.Tracer("", {"type", "bytesLoaded"});
  const auto status = d.Tracer("", {"type", "status", "redirected", "responseURL"});
  const auto failed = d.Tracer("", {"type", "text"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    NewUrlLoader(m, c, 1, "data.txt");
    for (const char* t : {"open", "complete"}) m.Listen(c, 1, t, type);
    m.Listen(c, 1, "progress", progress);
    m.Listen(c, 1, "httpStatus", status);
    NewUrlLoader(m, c, 2, "missing.txt");
    m.Listen(c, 2, "httpStatus", status);
    m.Listen(c, 2, "ioError", failed);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}, Movie(bytes)),
            "open|progress 5|httpStatus 0 false null|complete|httpStatus 0 false null|ioError Error #2032: Stream Error|");
}

// A load that another load's COMPLETE handler starts is read within the same
// frame, and so is one that its failure handler starts.
TEST_F(As3Loading, ALoadStartedByAnotherLoadsEventsArrivesInTheSameFrame) {
  Write("sub/a.txt", "A");
  Write("sub/b.txt", "B");
  As3Movie d;
  const auto second = d.Tracer("second ", {"type", "target.data"}), failed = d.Tracer("failed ", {"type"});
  AbcCode fc;  // on the first's complete: trace it, then load b.txt and a missing file
  fc.Op("findpropstrict", {d.Q("trace")}).Op("pushstring", {d.S("first ")}).Op("getlocal_1")
      .Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("data")}).Op("add").Op("callpropvoid", {d.Q("trace"), 1});
  NewUrlLoader(d, fc, 2, "b.txt");
  d.Listen(fc, 2, "complete", second);
  NewUrlLoader(d, fc, 3, "missing.txt");
  d.Listen(fc, 3, "ioError", failed);
  fc.Op("returnvoid");
  const auto first = d.Method(fc, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    NewUrlLoader(m, c, 1, "a.txt");
    m.Listen(c, 1, "complete", first);
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}, Movie(bytes)), "first A|second complete B|failed ioError|");
}

TEST_F(As3Loading, AFailedLoadLeavesTheUrlLoaderEmpty) {
  // What a URLLoader held before is gone when its next load fails: an
  // empty ByteArray for binary data, an empty string for text.
  As3Movie d;
  const auto failed = d.Tracer("failed [", {"target.data", "target.data.length"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    for (int local : {1, 2}) {
      NewUrlLoader(m, c, local, "missing.bin", local == 1 ? "binary" : "text");
      c.Op("getlocal", {local}).Op("pushstring", {m.S("old")}).Op("setproperty", {m.Q("data")});
      m.Listen(c, local, "ioError", failed);
    }
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}, Movie(bytes)), "failed [ 0|failed [ 0|");
}

TEST_F(As3Loading, AUrlStreamReadsItsBytesAsTheyArrive) {
  Write("sub/data.bin", std::string("\x01\x02hi!", 5));
  As3Movie d;
  const auto stream = d.a.PackageName("flash.net", "URLStream"), request = d.a.PackageName("flash.net", "URLRequest");
  const auto heard = d.Tracer("", {"type", "target.bytesAvailable"});
  AbcCode read;  // complete: trace(s.readShort() + " " + s.readUTFBytes(2) + " " + s.bytesAvailable)
  read.Op("findpropstrict", {d.Q("trace")});
  read.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("callproperty", {d.Q("readShort"), 0});
  read.Op("pushstring", {d.S(" ")}).Op("add");
  read.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("pushbyte", {2}).Op("callproperty", {d.Q("readUTFBytes"), 1}).Op("add");
  read.Op("pushstring", {d.S(" ")}).Op("add");
  read.Op("getlocal_1").Op("getproperty", {d.Q("target")}).Op("getproperty", {d.Q("bytesAvailable")}).Op("add");
  read.Op("callpropvoid", {d.Q("trace"), 1}).Op("returnvoid");
  const auto reader = d.Method(read, 1);
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {stream}).Op("constructprop", {stream, 0}).Op("setlocal_1");
    for (const char* t : {"open", "progress"}) m.Listen(c, 1, t, heard);
    m.Listen(c, 1, "complete", reader);
    c.Op("getlocal_1").Op("findpropstrict", {request}).Op("pushstring", {m.S("data.bin")}).Op("constructprop", {request, 1});
    c.Op("callpropvoid", {m.Q("load"), 1});
    m.TraceValue(c, "before ", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("bytesAvailable")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}, Movie(bytes)), "before 0|open 0|progress 5|258 hi 1|");
}

TEST_F(As3Loading, FileDialogsNoUserAnswersCloseAsCancelled) {
  As3Movie d;
  const auto file = d.a.PackageName("flash.net", "FileReference"), list = d.a.PackageName("flash.net", "FileReferenceList");
  const auto cancelled = d.Tracer("", {"type"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {list}).Op("constructprop", {list, 0}).Op("setlocal_2");
    m.TraceValue(c, "list ", [&] { c.Op("getlocal_2").Op("getproperty", {m.Q("fileList")}); });
    m.Listen(c, 2, "cancel", cancelled);
    m.TraceValue(c, "browse ", [&] { c.Op("getlocal_2").Op("callproperty", {m.Q("browse"), 0}); });
    m.TraceValue(c, "files ", [&] { c.Op("getlocal_2").Op("getproperty", {m.Q("fileList")}).Op("getproperty", {m.Q("length")}); });
    c.Op("findpropstrict", {file}).Op("constructprop", {file, 0}).Op("setlocal_1");
    m.TraceValue(c, "data ", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("data")}); });
    // A second dialog while the first is open, then a file never chosen.
    c.Op("getlocal_1").Op("callpropvoid", {m.Q("browse"), 0});
  });
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.substr(0, out.find("Error")), "list null|browse true|files 0|data null|") << out;
  EXPECT_NE(out.find("Error #2041"), std::string::npos) << out;
  EXPECT_NE(out.find("|cancel|"), std::string::npos) << out;

  As3Movie unchosen;
  const auto named = unchosen.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {m.a.PackageName("flash.net", "FileReference")})
        .Op("constructprop", {m.a.PackageName("flash.net", "FileReference"), 0});
    c.Op("getproperty", {m.Q("name")}).Op("pop");
  });
  EXPECT_NE(As3Traced(named, [](FlashPlayer&) {}).find("Error #2037"), std::string::npos);
}

TEST_F(As3Loading, RequestsTakeGetOrPostInOneCaseAndVariablesReplaceNull) {
  auto run = [](std::string_view method) {
    As3Movie d;
    const auto request = d.a.PackageName("flash.net", "URLRequest");
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      c.Op("findpropstrict", {request}).Op("constructprop", {request, 0}).Op("setlocal_1");
      m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("method")}); });
      c.Op("getlocal_1").Op("pushstring", {m.S(method)}).Op("setproperty", {m.Q("method")});
      m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("method")}); });
    });
    return As3Traced(bytes, [](FlashPlayer&) {});
  };
  EXPECT_EQ(run("post"), "GET|post|");
  EXPECT_EQ(run("POST"), "GET|POST|");
  for (std::string_view bad : {"Post", "PUT", "delete", ""}) {
    const std::string out = run(bad);
    EXPECT_EQ(out.substr(0, 4), "GET|") << bad;
    EXPECT_NE(out.find("ArgumentError: Error #2008"), std::string::npos) << bad << ": " << out;
  }

  As3Movie d;
  const auto vars = d.a.PackageName("flash.net", "URLVariables");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {vars}).Op("constructprop", {vars, 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("pushnull").Op("setproperty", {m.Q("a")});
    c.Op("getlocal_1").Op("pushstring", {m.S("a=10&a=11")}).Op("callpropvoid", {m.Q("decode"), 1});
    m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("getproperty", {m.Q("a")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "10,11|");
}

TEST_F(As3Loading, ALocalConnectionMessageNoOneHearsEndsInAnErrorStatus) {
  auto run = [](bool nameIt, bool methodIt) {
    As3Movie d;
    const auto lc = d.a.PackageName("flash.net", "LocalConnection");
    AbcCode whole;  // trace(String(e))
    whole.Op("findpropstrict", {d.Q("trace")}).Op("getlocal_1").Op("callproperty", {d.Q("toString"), 0});
    whole.Op("callpropvoid", {d.Q("trace"), 1}).Op("returnvoid");
    const auto status = d.Method(whole, 1);
    const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
      c.Op("findpropstrict", {lc}).Op("constructprop", {lc, 0}).Op("setlocal_1");
      m.Listen(c, 1, "status", status);
      c.Op("getlocal_1");
      if (nameIt) c.Op("pushstring", {m.S("nowhere")});
      else c.Op("pushnull");
      if (methodIt) c.Op("pushstring", {m.S("test")});
      else c.Op("pushnull");
      c.Op("callpropvoid", {m.Q("send"), 2});
      m.Trace(c, "sent");
    });
    return As3Traced(bytes, [](FlashPlayer&) {});
  };
  EXPECT_EQ(run(true, true),
            "sent|[StatusEvent type=\"status\" bubbles=false cancelable=false eventPhase=2 code=null level=\"error\"]|");
  EXPECT_EQ(run(false, true).rfind("TypeError: Error #2007: Parameter connectionName must be non-null.", 0), 0u);
  EXPECT_EQ(run(true, false).rfind("TypeError: Error #2007: Parameter methodName must be non-null.", 0), 0u);
}

TEST_F(As3Loading, BytesOfNoKnownKindFailInsideLoadBytesAndAreNeverShown) {
  As3Movie d;
  const auto loaderCls = d.Display("Loader"), bytesCls = d.a.PackageName("flash.utils", "ByteArray");
  const auto heard = d.Tracer("", {"type", "target.bytes.length"});
  const auto failed = d.Tracer("", {"type", "text"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal_2");
    m.Listen(c, 2, "progress", heard);
    m.Listen(c, 2, "ioError", failed);
    c.Op("findpropstrict", {bytesCls}).Op("constructprop", {bytesCls, 0}).Op("setlocal_3");
    c.Op("getlocal_3").Op("pushstring", {m.S("plain words")}).Op("callpropvoid", {m.Q("writeUTFBytes"), 1});
    c.Op("getlocal_1").Op("getlocal_3").Op("callpropvoid", {m.Q("loadBytes"), 1});
    m.TraceValue(c, "after ", [&] {
      c.Op("getlocal_2").Op("getproperty", {m.Q("bytesLoaded")}).Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_2").Op("getproperty", {m.Q("bytes")}).Op("getproperty", {m.Q("length")}).Op("add");
    });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}),
            "progress 0|progress 0|ioError Error #2124: Loaded file is an unknown type.|after 11 0|");
}

// Flash takes the bytes given to loadBytes in the call: both progress events
// (none loaded, then all) and the LoaderInfo's size come before it returns;
// the content, INIT and COMPLETE come after the script.
TEST_F(As3Loading, LoadBytesTellsItsProgressInsideTheCall) {
  WritePng("p.png", 3, 2, 1, 0, 0);
  std::ifstream in(dir / "sub" / "p.png", std::ios::binary);
  const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  As3Movie d;
  const auto loaderCls = d.Display("Loader"), bytesCls = d.a.PackageName("flash.utils", "ByteArray");
  const auto heard = d.Tracer("", {"type", "bytesLoaded", "bytesTotal", "target.bytes.length", "target.content"});
  const auto done = d.Tracer("", {"type", "target.content"});
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("findpropstrict", {loaderCls}).Op("constructprop", {loaderCls, 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("getproperty", {m.Q("contentLoaderInfo")}).Op("setlocal_2");
    m.Listen(c, 2, "progress", heard);
    m.Listen(c, 2, "init", done);
    m.Listen(c, 2, "complete", done);
    c.Op("findpropstrict", {bytesCls}).Op("constructprop", {bytesCls, 0}).Op("setlocal_3");
    for (unsigned char ch : png) c.Op("getlocal_3").Op("pushint", {m.a.Int(ch)}).Op("callpropvoid", {m.Q("writeByte"), 1});
    c.Op("getlocal_1").Op("getlocal_3").Op("callpropvoid", {m.Q("loadBytes"), 1});
    m.TraceValue(c, "after ", [&] {
      c.Op("getlocal_2").Op("getproperty", {m.Q("bytesLoaded")}).Op("pushstring", {m.S(" ")}).Op("add");
      c.Op("getlocal_2").Op("getproperty", {m.Q("bytesTotal")}).Op("add");
    });
  });
  const std::string n = std::to_string(png.size());
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer& p) { p.AdvanceTo(p.Now() + 250); }),
            "progress 0 " + n + " 0 null|progress " + n + " " + n + " " + n + " null|after " + n + " " + n +
                "|init [object Bitmap]|complete [object Bitmap]|");
}

// li8..sf64 work on Flash's own 1024 bytes until a movie hands the domain a
// ByteArray; null gives the own bytes back as they were left. Memory is
// little-endian, floats are stored at their width, and an access past the
// end is RangeError #1506.
TEST_F(As3Loading, DomainMemoryIsTheDomainsByteArrayOrFlashsOwn) {
  As3Movie d;
  const auto domainCls = d.a.PackageName("flash.system", "ApplicationDomain");
  const auto bytesCls = d.a.PackageName("flash.utils", "ByteArray");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    const auto domain = [&] { c.Op("getlex", {domainCls}).Op("getproperty", {m.Q("currentDomain")}); };
    const auto load = [&](const char* op, int at) {
      m.TraceValue(c, std::string(op) + " ", [&] { c.Op("pushint", {m.a.Int(at)}).Op(op); });
    };
    m.TraceValue(c, "memory ", [&] { domain(); c.Op("getproperty", {m.Q("domainMemory")}); });
    c.Op("pushint", {m.a.Int(0x01020384)}).Op("pushbyte", {0}).Op("si32");
    load("li8", 0);    // 0x84
    load("li16", 2);   // 0x0102
    load("li32", 0);
    c.Op("pushint", {m.a.Int(-1)}).Op("pushbyte", {4}).Op("si16");
    load("li16", 4);   // stored as 16 bits, read back unsigned
    c.Op("pushdouble", {m.a.Double(0.1)}).Op("pushbyte", {8}).Op("sf32");
    load("lf32", 8);   // rounded to a float
    c.Op("pushdouble", {m.a.Double(0.1)}).Op("pushint", {m.a.Int(1016)}).Op("sf64");
    load("lf64", 1016);
    // A ByteArray of the least length stands in; null brings the own bytes back.
    c.Op("findpropstrict", {bytesCls}).Op("constructprop", {bytesCls, 0}).Op("setlocal_1");
    c.Op("getlocal_1").Op("pushint", {m.a.Int(1024)}).Op("setproperty", {m.Q("length")});
    domain();
    c.Op("getlocal_1").Op("setproperty", {m.Q("domainMemory")});
    load("li8", 0);
    c.Op("pushbyte", {7}).Op("pushbyte", {0}).Op("si8");
    c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {m.Q("position")});
    m.TraceValue(c, "array ", [&] { c.Op("getlocal_1").Op("callproperty", {m.Q("readUnsignedByte"), 0}); });
    domain();
    c.Op("pushnull").Op("setproperty", {m.Q("domainMemory")});
    load("li8", 0);
    m.TraceValue(c, "least ", [&] { c.Op("getlex", {domainCls}).Op("getproperty", {m.Q("MIN_DOMAIN_MEMORY_LENGTH")}); });
    // Too short a ByteArray is refused.
    c.Op("getlocal_1").Op("pushint", {m.a.Int(1023)}).Op("setproperty", {m.Q("length")});
    domain();
    c.Op("getlocal_1").Op("setproperty", {m.Q("domainMemory")});
  });
  const std::string out = As3Traced(bytes, [](FlashPlayer&) {});
  EXPECT_EQ(out.rfind("memory null|li8 132|li16 258|li32 16909188|li16 65535|lf32 0.10000000149011612|lf64 0.1|"
                      "li8 0|array 7|li8 132|least 1024|Error: Error #1504: End of file.", 0), 0u) << out;

  // Past the end, at either width.
  for (const auto& [op, at] : std::vector<std::pair<const char*, int>>{{"li32", 1021}, {"li8", 1024}, {"li8", -1}}) {
    As3Movie e;
    const auto past = e.Build([&](As3Movie& m, AbcCode& c) {
      m.TraceValue(c, "", [&] { c.Op("pushint", {m.a.Int(at)}).Op(op); });
      m.Trace(c, "not reached");
    });
    const std::string text = As3Traced(past, [](FlashPlayer&) {});
    EXPECT_EQ(text.rfind("RangeError: Error #1506: The specified range is invalid.", 0), 0u) << op << " " << at << ": " << text;
    EXPECT_EQ(text.find("not reached"), std::string::npos) << text;
  }
}

// The movie's domain lists what its blocks define in packages, internal
// definitions too, as a Vector.<String>; its parent, the system domain, is
// hidden.
TEST_F(As3Loading, TheDomainNamesTheMoviesOwnDefinitions) {
  As3Movie d;
  const auto domainCls = d.a.PackageName("flash.system", "ApplicationDomain");
  d.LinkedClass("Mine", {d.a.PackageName("flash.events", "EventDispatcher")});
  const auto qualified = d.a.PackageName("flash.utils", "getQualifiedClassName");
  const auto bytes = d.Build([&](As3Movie& m, AbcCode& c) {
    c.Op("getlex", {domainCls}).Op("getproperty", {m.Q("currentDomain")}).Op("callproperty", {m.Q("getQualifiedDefinitionNames"), 0}).Op("setlocal_1");
    m.TraceValue(c, "", [&] { c.Op("findpropstrict", {qualified}).Op("getlocal_1").Op("callproperty", {qualified, 1}); });
    m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("pushstring", {m.S("Main")}).Op("callproperty", {m.Q("indexOf"), 1}).Op("pushbyte", {0}).Op("greaterequals"); });
    m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("pushstring", {m.S("Mine")}).Op("callproperty", {m.Q("indexOf"), 1}).Op("pushbyte", {0}).Op("greaterequals"); });
    m.TraceValue(c, "", [&] { c.Op("getlocal_1").Op("pushstring", {m.S("Sprite")}).Op("callproperty", {m.Q("indexOf"), 1}); });
    m.TraceValue(c, "", [&] { c.Op("getlex", {domainCls}).Op("getproperty", {m.Q("currentDomain")}).Op("getproperty", {m.Q("parentDomain")}); });
  });
  EXPECT_EQ(As3Traced(bytes, [](FlashPlayer&) {}), "__AS3__.vec::Vector.<String>|true|true|-1|null|");
}

}  // namespace
}  // namespace quarvel::player
