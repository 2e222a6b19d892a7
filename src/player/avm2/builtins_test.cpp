// The core library where Flash's answers are easy to get wrong: strings in
// UTF-16 units, number formatting, local time, RegExp state, JSON, Vector.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "player/avm2/machine_test_support.h"
#include "player/avm2/utf16.h"

namespace quarvel::avm2 {
namespace {

TEST(Utf16, UnitsRoundTripThroughUtf8) {
  // é, a pair (U+1F600), a lone high surrogate, then text.
  const std::u16string u = {0xE9, 0xD83D, 0xDE00, 0xD800, u'x'};
  const std::string s = FromUtf16(u);
  EXPECT_EQ(ToUtf16(s), u);
  EXPECT_EQ(Utf16Length(s), 5u);
  EXPECT_EQ(Utf16IndexOfByte(s, 2), 1u);    // after é
  EXPECT_EQ(Utf16IndexOfByte(s, 6), 3u);    // after the pair
  EXPECT_EQ(ByteOfUtf16Index(s, 3), 6u);
  // Bytes that are no UTF-8 stand for themselves.
  EXPECT_EQ(ToUtf16("\xE9t"), (std::u16string{0xE9, u't'}));
}

TEST_F(As3, StringsCountUtf16UnitsAsFlashDoes) {
  AbcCode c;
  const std::string text = "\xC3\xA9\xF0\x9F\x98\x80x";  // "é😀x"
  auto str = [&](std::string_view v) { return [this, v](AbcCode& x) { x.Op("pushstring", {S(v)}); }; };
  Trace(c, [&](AbcCode& x) { str(text)(x); x.Op("getproperty", {Q("length")}); });                       // 4
  Trace(c, [&](AbcCode& x) { str(text)(x); x.Op("pushbyte", {1}); Call(x, "charCodeAt", 1); });         // 55357
  Trace(c, [&](AbcCode& x) { str(text)(x); x.Op("pushbyte", {2}); Call(x, "charCodeAt", 1); });         // 56832
  Trace(c, [&](AbcCode& x) { str(text)(x); str("x")(x); Call(x, "indexOf", 1); });                      // 3
  Trace(c, [&](AbcCode& x) {                                                                             // true
    str(text)(x); x.Op("pushbyte", {1}).Op("pushbyte", {3}); Call(x, "substring", 2);
    x.Op("getlex", {Q("String")}).Op("pushint", {a.Int(0xD83D)}).Op("pushint", {a.Int(0xDE00)});
    Call(x, "fromCharCode", 2);
    x.Op("equals");
  });
  Trace(c, [&](AbcCode& x) { str(text)(x); x.Op("pushbyte", {-1}); Call(x, "slice", 1); });              // x
  Trace(c, [&](AbcCode& x) { str(text)(x); str("")(x); Call(x, "split", 1); x.Op("getproperty", {Q("length")}); });  // 4
  Trace(c, [&](AbcCode& x) { str("\xC3\xBC" "ber \xC3\x89t\xC3\xA9")(x); Call(x, "toUpperCase", 0); });  // ÜBER ÉTÉ
  Trace(c, [&](AbcCode& x) { str("\xD0\x9C\xD0\x98\xD0\xA0")(x); Call(x, "toLowerCase", 0); });          // мир
  // A RegExp's index counts units too.
  Trace(c, [&](AbcCode& x) {
    str(text)(x); x.Op("findpropstrict", {Q("RegExp")}).Op("pushstring", {S("x")}).Op("constructprop", {Q("RegExp"), 1});
    Call(x, "search", 1);
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "4|55357|56832|3|true|x|4|\xC3\x9C" "BER \xC3\x89T\xC3\x89|\xD0\xBC\xD0\xB8\xD1\x80|3|");
}

TEST_F(As3, NumberFormattingRoundsTiesAwayFromZero) {
  AbcCode c;
  auto num = [&](double d, std::string_view method, int arg) {
    Trace(c, [&, d, method, arg](AbcCode& x) { x.Op("pushdouble", {a.Double(d)}).Op("pushbyte", {arg}); Call(x, method, 1); });
  };
  num(2.5, "toFixed", 0);        // 3 (printf gives 2)
  num(1.25, "toFixed", 1);       // 1.3
  num(1.005, "toFixed", 2);      // 1.00: the double is just below the tie
  num(-1.5, "toFixed", 0);       // -2
  num(-0.0001, "toFixed", 2);    // -0.00 shows as 0.00
  num(0.5, "toFixed", 0);        // 1
  num(999.96, "toPrecision", 3); // 1.00e+3
  num(0.00001234, "toPrecision", 2);  // 0.000012
  num(123456, "toPrecision", 2); // 1.2e+5
  num(2.5, "toPrecision", 1);    // 3
  num(-0.125, "toPrecision", 2); // -0.13
  num(255, "toString", 16);      // ff
  num(-255, "toString", 2);      // -11111111
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(0.1)}).Op("pushdouble", {a.Double(0.2)}).Op("add"); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "3|1.3|1.00|-2|0.00|1|1.00e+3|0.000012|1.2e+5|3|-0.13|ff|-11111111|0.30000000000000004|");
}

TEST_F(As3, DatesAreInLocalTime) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  AbcCode c;
  // var d = new Date(2020, 0, 15, 12, 30)
  c.Op("findpropstrict", {Q("Date")});
  for (int v : {2020, 0, 15, 12, 30}) c.Op("pushshort", {v});
  c.Op("constructprop", {Q("Date"), 5}).Op("setlocal_1");
  for (const char* f : {"getHours", "getUTCHours", "getTimezoneOffset", "getDate"})
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, f, 0); });
  // Summer: daylight saving time.
  c.Op("findpropstrict", {Q("Date")});
  for (int v : {2020, 6, 1}) c.Op("pushshort", {v});
  c.Op("constructprop", {Q("Date"), 3}).Op("setlocal_2");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "getTimezoneOffset", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "toString", 0); });
  // Date.UTC is free of the zone.
  Trace(c, [&](AbcCode& x) {
    x.Op("getlex", {Q("Date")}).Op("pushshort", {1970}).Op("pushbyte", {0}).Op("pushbyte", {2});
    Call(x, "UTC", 3);
  });
  const bool ok = Run(c);
  if (old) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
  ASSERT_TRUE(ok) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "12|17|300|15|240|Wed Jan 15 12:30:00 GMT-0500 2020|86400000|");
}

TEST_F(As3, GlobalRegExpKeepsLastIndexAndGroups) {
  AbcCode c;
  // var r = /(\w)(\d)?/g; exec twice on "a1b"; then lastIndex; a failed exec resets it.
  c.Op("findpropstrict", {Q("RegExp")}).Op("pushstring", {S("(\\w)(\\d)?")}).Op("pushstring", {S("g")})
      .Op("constructprop", {Q("RegExp"), 2}).Op("setlocal_1");
  for (int i = 0; i < 2; ++i) {
    c.Op("getlocal_1").Op("pushstring", {S("a1b")}).Op("callproperty", {Q("exec"), 1}).Op("setlocal_2");
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getproperty", {Q("index")}); });
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("pushbyte", {2}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))}); });
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("lastIndex")}); });
  }
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S("a1b")}); Call(x, "exec", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("lastIndex")}); });
  // Flags: i and the source as given.
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {Q("RegExp")}).Op("pushstring", {S("AB")}).Op("pushstring", {S("i")})
        .Op("constructprop", {Q("RegExp"), 2}).Op("pushstring", {S("xaby")});
    Call(x, "test", 1);
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "0|1|2|2|undefined|3|null|0|true|");
}

TEST_F(As3, JsonLeavesOutWhatItCannotWriteAndIndents) {
  AbcCode c;
  auto stringify = [&](const std::function<void(AbcCode&)>& value, int argc = 1) {
    Trace(c, [&](AbcCode& x) {
      x.Op("getlex", {Q("JSON")});
      value(x);
      Call(x, "stringify", argc);
    });
  };
  // {a: undefined, b: NaN, c: "q\"\u0001"}
  stringify([&](AbcCode& x) {
    x.Op("pushstring", {S("a")}).Op("pushundefined").Op("pushstring", {S("b")}).Op("pushnan")
        .Op("pushstring", {S("c")}).Op("pushstring", {S("q\"\x01")}).Op("newobject", {3});
  });
  // [undefined, function]: nulls in arrays
  stringify([&](AbcCode& x) { x.Op("pushundefined").Op("pushnull").Op("newarray", {2}); });
  // indented with two spaces
  stringify([&](AbcCode& x) {
    x.Op("pushstring", {S("k")}).Op("pushbyte", {1}).Op("pushbyte", {2}).Op("newarray", {2}).Op("newobject", {1});
    x.Op("pushnull").Op("pushbyte", {2});
  }, 3);
  // parse: numbers, escapes, nesting
  Trace(c, [&](AbcCode& x) {
    x.Op("getlex", {Q("JSON")}).Op("pushstring", {S(R"({"n":-1.5e2,"s":"\u00e9\n","a":[[]]})")});
    Call(x, "parse", 1);
    x.Op("getproperty", {Q("n")});
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // The literal's keys come out last first, as Flash Player writes them.
  EXPECT_EQ(Traced(), "{\"c\":\"q\\\"\\u0001\",\"b\":null}|[null,null]|{\n  \"k\": [\n    1,\n    2\n  ]\n}|-150|");
}

TEST_F(As3, FixedVectorsRefuseToGrowAndCheckBounds) {
  const auto vec = a.QName(a.Namespace(NamespaceKind::kPackage, "__AS3__.vec"), "Vector");
  AbcCode c;
  // var v = new Vector.<Number>(2, true)
  c.Op("getlex", {vec}).Op("getlex", {Q("Number")}).Op("applytype", {1}).Op("pushbyte", {2}).Op("pushtrue")
      .Op("construct", {2}).Op("setlocal_1");
  c.Label("t").Op("getlocal_1").Op("pushbyte", {1}).Op("callpropvoid", {Q("push"), 1}).Label("e").Branch("jump", "next");
  c.Label("h").Op("setlocal", {5}).Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {5}).Op("getproperty", {Q("errorID")}); });
  c.Label("next");
  // v[2] = 1 on a fixed vector of 2 is out of range too
  c.Label("t2").Op("getlocal_1").Op("pushbyte", {2}).Op("pushbyte", {1}).Op("setproperty", {a.MultinameL(a.NsSet({pub}))})
      .Label("e2").Branch("jump", "next2");
  c.Label("h2").Op("setlocal", {5}).Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {5}).Op("getproperty", {Q("errorID")}); });
  c.Label("next2");
  // Unfixed, it grows by one at the end; elements default to 0 (Number: NaN? no, 0).
  c.Op("getlocal_1").Op("pushfalse").Op("setproperty", {Q("fixed")});
  c.Op("getlocal_1").Op("pushbyte", {2}).Op("pushbyte", {7}).Op("setproperty", {a.MultinameL(a.NsSet({pub}))});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S(",")}); Call(x, "join", 1); });
  c.Op("returnvoid");
  const auto init = Fn(c);
  a.File().bodies.back().exceptions = {
      {c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), Q("RangeError"), 0},
      {c.LabelOffset("t2"), c.LabelOffset("e2"), c.LabelOffset("h2"), Q("RangeError"), 0},
  };
  a.Script({.init = init});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1126|1125|0,0,7|");
}

TEST_F(As3, XmlElementsAreTheElementChildrenByName) {
  // An IK armature's XML is read with elements(): text children are left out.
  AbcCode c;
  c.Op("findpropstrict", {Q("XML")})
      .Op("pushstring", {S("<arm>note<bone id=\"a\"/><joint/><bone id=\"b\"><bone id=\"c\"/></bone></arm>")})
      .Op("constructprop", {Q("XML"), 1}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "elements", 0); Call(x, "length", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S("bone")}); Call(x, "elements", 1); Call(x, "length", 0); });
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_1").Op("pushstring", {S("*")}); Call(x, "elements", 1);
    x.Op("pushstring", {S("bone")}); Call(x, "elements", 1);
    x.Op("getproperty", {a.QName(pub, "id", true)}); Call(x, "toString", 0);
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "3|2|c|");
}

TEST_F(As3, AnXmlScopeHasItsAttributesAndChildren) {
  // Inside a filter the item is a with scope: findproperty finds @type and
  // a child element there, and nothing it does not hold.
  AbcCode c;
  c.Op("findpropstrict", {Q("XML")})
      .Op("pushstring", {S("<label type=\"copyright\"><year>2011</year></label>")})
      .Op("constructprop", {Q("XML"), 1}).Op("pushwith");
  Trace(c, [&](AbcCode& x) { x.Op("findproperty", {a.QName(pub, "type", true)}).Op("getproperty", {a.QName(pub, "type", true)}); });
  Trace(c, [&](AbcCode& x) { x.Op("findproperty", {Q("year")}).Op("getproperty", {Q("year")}); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("findproperty", {Q("month")}).Op("getproperty", {Q("length")}).Op("typeof"); });
  c.Op("popscope");
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "copyright|2011|undefined|");
}

}  // namespace
}  // namespace quarvel::avm2

namespace quarvel::avm2 {
namespace {

TEST_F(As3, XmlDescendantsLengthAndFilters) {
  AbcCode c;
  const auto any = a.MultinameL(a.NsSet({pub}));
  c.Op("findpropstrict", {Q("XML")})
      .Op("pushstring", {S("<shop id=\"0\"><aisle><item id=\"1\">tea</item><item id=\"2\">jam</item></aisle>"
                           "<item id=\"2\"><name>bread</name></item></shop>")})
      .Op("constructprop", {Q("XML"), 1}).Op("setlocal_1");
  // x..item.length(), x..@id as text, x.item.toXMLString()
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getdescendants", {Q("item")}); Call(x, "length", 0); });
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_1").Op("getdescendants", {a.QName(pub, "id", true)}).Op("pushbyte", {3})
        .Op("getproperty", {any});
    Call(x, "toString", 0);
  });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("item")}); Call(x, "toXMLString", 0); });
  // x..item.(@id == 2), as the compiler writes a filter.
  c.Op("getlocal_1").Op("getdescendants", {Q("item")}).Op("checkfilter").Op("setlocal_2");
  c.Op("pushbyte", {0}).Op("setlocal_3");
  c.Op("findpropstrict", {Q("XMLList")}).Op("pushstring", {S("")}).Op("constructprop", {Q("XMLList"), 1}).Op("setlocal", {4});
  c.Loop("loop").Op("hasnext2", {2, 3}).Branch("iffalse", "end");
  c.Op("getlocal_2").Op("getlocal_3").Op("nextvalue").Op("dup").Op("setlocal", {5}).Op("pushwith");
  c.Op("getlocal", {5}).Op("getproperty", {a.QName(pub, "id", true)}).Op("pushbyte", {2}).Op("equals")
      .Branch("iffalse", "skip");
  c.Op("getlocal", {4}).Op("getlocal", {4}).Op("callproperty", {Q("length"), 0}).Op("getlocal", {5})
      .Op("setproperty", {any});
  c.Label("skip").Op("popscope").Branch("jump", "loop");
  c.Label("end");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {4}); Call(x, "length", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {4}).Op("pushbyte", {0}).Op("getproperty", {any}); Call(x, "toString", 0); });
  // .. on a value that is no XML is a TypeError.
  c.Label("t").Op("pushbyte", {1}).Op("getdescendants", {Q("x")}).Op("pop").Label("e").Branch("jump", "done");
  c.Label("h").Op("setlocal", {5}).Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {5}).Op("getproperty", {Q("errorID")}); });
  c.Label("done").Op("returnvoid");
  const auto init = Fn(c);
  a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), Q("TypeError"), 0}};
  a.Script({.init = init});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "3|2|<item id=\"2\">\n  <name>bread</name>\n</item>|2|jam|1016|");
}

}  // namespace
}  // namespace quarvel::avm2
