// Text rules of the top-level library where Flash's answers differ from
// plain ECMAScript: the global number parsers, letter case, localeCompare,
// regular expressions, JSON of class instances, the multi-byte escapes and
// UTF-8 read from bytes.
#include <gtest/gtest.h>

#include "player/avm2/machine_test_support.h"

namespace quarvel::avm2 {
namespace {

class Text : public As3 {
 protected:
  std::uint32_t Utils(std::string_view name) { return a.QName(a.Namespace(NamespaceKind::kPackage, "flash.utils"), name); }
  std::function<void(AbcCode&)> Str(std::string_view s) {
    return [this, s](AbcCode& x) { x.Op("pushstring", {S(s)}); };
  }
  // trace(fn(arg...)) for a top-level function
  void Global(AbcCode& c, std::string_view fn, std::vector<std::function<void(AbcCode&)>> args, std::uint32_t name = 0) {
    if (!name) name = Q(fn);
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {name});
      for (auto& push : args) push(x);
      x.Op("callproperty", {name, static_cast<int>(args.size())});
    });
  }
  // trace(text.method(arg...))
  void Method(AbcCode& c, std::string_view text, std::string_view method, std::vector<std::function<void(AbcCode&)>> args) {
    Trace(c, [&](AbcCode& x) {
      Str(text)(x);
      for (auto& push : args) push(x);
      Call(x, method, static_cast<int>(args.size()));
    });
  }
  void NewRegExp(AbcCode& x, std::string_view source, std::string_view flags) {
    x.Op("findpropstrict", {Q("RegExp")}).Op("pushstring", {S(source)}).Op("pushstring", {S(flags)});
    x.Op("constructprop", {Q("RegExp"), 2});
  }
};

TEST_F(Text, ParseFloatReadsTheLongestDecimalPrefixAsFlashScalesIt) {
  AbcCode c;
  for (const char* s : {"-22222222.222222222", "+100e-100", "012345.67890", "10e", "10e-", "-034.1+e20",
                        "1e4294967297", "1e2147483648", "1.2345.678", "0xff", "Infinitya", "Infinity   a",
                        "e10   Infinity", "-Infinity", "\xE2\x80\x80" "7", "."})
    Global(c, "parseFloat", {Str(s)});
  Global(c, "parseFloat", {});
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // Mantissa digits scaled by a power of ten made by squaring (not correctly
  // rounded); the exponent wraps as a 32-bit integer; a signed exponent
  // without digits spoils the number; Infinity is found standing alone.
  EXPECT_EQ(Traced(),
            "-22222222.222222224|9.999999999999998e-99|12345.6789|10|NaN|-34.1|10|0|1.2345|0|NaN|Infinity|"
            "Infinity|-Infinity|7|NaN|NaN|");
}

TEST_F(Text, ParseIntReadsUndefinedAsNullAndSkipsUnicodeSpaces) {
  AbcCode c;
  Global(c, "parseInt", {[](AbcCode& x) { x.Op("pushundefined"); }, [](AbcCode& x) { x.Op("pushbyte", {32}); }});
  Global(c, "parseInt", {Str("\xE3\x80\x80-0x1F")});
  Global(c, "parseInt", {Str("\xC2\xA0" "12z"), [](AbcCode& x) { x.Op("pushbyte", {36}); }});
  Global(c, "parseInt", {Str("\xC4\xB1" "1")});
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // "null" in base 32 is 785077; U+0131 is no space.
  EXPECT_EQ(Traced(), "785077|-31|1403|NaN|");
}

TEST_F(Text, CaseFollowsFlashsOwnTable) {
  AbcCode c;
  // Capital B with hook, dotted I, Georgian An, final-sigma slot, DZ with caron: lowered by the table.
  Method(c, "\xC6\x81\xC4\xB0\xE1\x82\xA0\xC7\x85Q", "toLowerCase", {});
  // Dotless i and long s rise to plain I and S; Greek ypogegrammeni forms take the capital's.
  Method(c, "\xC4\xB1\xC5\xBF\xE1\xBE\x80q", "toUpperCase", {});
  // A letter Unicode added later (Latin capital A with stroke) keeps its case.
  Method(c, "\xC8\xBA", "toLowerCase", {});
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "\xC9\x93i\xE1\x83\x90\xC7\x86q|IS\xE1\xBE\x88Q|\xC8\xBA|");
}

TEST_F(Text, LocaleCompareIsTheDistanceOfTheFirstDifferentUnit) {
  AbcCode c;
  Method(c, "aaaaaa", "localeCompare", {Str("aaaazz")});
  Method(c, "aaaazz", "localeCompare", {Str("aaaaaa")});
  Method(c, "aaaaa", "localeCompare", {Str("aaaaaaa")});  // lengths
  Method(c, "\xF0\x9F\x98\x8B", "localeCompare", {Str("a")});  // the high surrogate
  Method(c, "abc", "localeCompare", {});  // against "undefined"
  Method(c, "same", "localeCompare", {Str("same")});
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "-25|25|-2|55260|-20|0|");
}

TEST_F(Text, RegExpNamedGroupsReplacementDigitsAndGlobalMatchEnd) {
  AbcCode c;
  // (?P<name>...) groups are properties of the result; one that did not take part is "".
  auto exec = [&](std::string_view subject, std::string_view prop) {
    Trace(c, [&, subject, prop](AbcCode& x) {
      NewRegExp(x, "(?P<proto>\\w+://)?(?P<host>[a-z.]+)(?P<port>:\\d+)?", "");
      Str(subject)(x);
      Call(x, "exec", 1);
      x.Op("getproperty", {Q(prop)});
    });
  };
  exec("http://example.org", "proto");
  exec("example.org", "proto");
  exec("example.org", "host");
  // "$01" is group 1 but only the 0 is used up; "$0" is no group.
  Method(c, "abc", "replace", {[&](AbcCode& x) { NewRegExp(x, "(b)", ""); }, Str("<$01>")});
  Method(c, "abc", "replace", {[&](AbcCode& x) { NewRegExp(x, "(b)", ""); }, Str("<$0>")});
  // A global match that reaches the end looks for no empty match there.
  Method(c, "AAA", "match", {[&](AbcCode& x) { NewRegExp(x, "(...)*", "g"); }});
  Trace(c, [&](AbcCode& x) {
    Str("abc")(x);
    NewRegExp(x, "x*", "g");
    Call(x, "match", 1);
    x.Op("getproperty", {Q("length")});
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "http://||example.org|a<b1>c|a<$0>c|AAA|4|");
}

TEST_F(Text, GlobalMatchStepsALastIndexThatEndsWhereItBegan) {
  // r = /^\b[a-z]{1,2}/ig; "v1".match(r) twice, then "zz".match(r) from 5.
  AbcCode c;
  NewRegExp(c, "^\\b[a-z]{1,2}", "ig");
  c.Op("setlocal_1");
  auto match = [&](std::string_view text) {
    Trace(c, [&, text](AbcCode& x) {
      Str(text)(x);
      x.Op("getlocal_1");
      Call(x, "match", 1);
    });
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("lastIndex")}); });
  };
  match("v1");  // ends at 0 as it began: 1
  match("v1");  // began at 1: 0
  c.Op("getlocal_1").Op("pushbyte", {5}).Op("setproperty", {Q("lastIndex")});
  match("zz");  // the search starts at 0 whatever lastIndex was
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "v|1|v|0|zz|0|");
}

TEST_F(Text, SplitLimitsCountPiecesBeforeGroups) {
  AbcCode c;
  auto split = [&](std::string_view text, std::string_view source, int limit) {
    Method(c, text, "split", {[&, source](AbcCode& x) { NewRegExp(x, source, ""); },
                              [limit](AbcCode& x) { x.Op("pushbyte", {limit}); }});
  };
  split("a\xC4\x85" "baababa", "b", 3);
  // The groups stop at the limit, but one more piece still comes.
  split("a\xC4\x85" "bbaabbabbabbabbabba", "(b(b))", 5);
  split("abc", "b", 0);
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "a\xC4\x85,aa,a|a\xC4\x85,bb,b,aa,bb,a||");
}

TEST_F(Text, JsonWritesSlotsThenGettersThenDynamicMembers) {
  // dynamic class Rec { var b = 2; var a = 1; function get g() { return "G"; } }
  AbcCode getter;
  getter.Op("getlocal_0").Op("pushscope").Op("pushstring", {S("G")}).Op("returnvalue");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0});
  ctor.Op("getlocal_0").Op("pushbyte", {2}).Op("initproperty", {Q("b")});
  ctor.Op("getlocal_0").Op("pushbyte", {1}).Op("initproperty", {Q("a")});
  ctor.Op("returnvoid");
  const auto priv = a.Namespace(NamespaceKind::kPackageInternal, "");
  Trait hidden;
  hidden.name = a.QName(priv, "hidden");
  hidden.kind = TraitKind::kSlot;
  const auto rec = DefClass("Rec", Q("Object"), ctor,
                            {SlotTrait("b"), SlotTrait("a"), hidden, MethodTrait("g", Fn(getter), TraitKind::kGetter)},
                            {}, 0);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Rec", rec, {"Object"});
  c.Op("findpropstrict", {Q("Rec")}).Op("constructprop", {Q("Rec"), 0}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushbyte", {3}).Op("setproperty", {Q("d")});
  auto stringify = [&](std::vector<std::function<void(AbcCode&)>> args) {
    Trace(c, [&](AbcCode& x) {
      x.Op("getlex", {Q("JSON")});
      for (auto& push : args) push(x);
      Call(x, "stringify", static_cast<int>(args.size()));
    });
  };
  stringify({[](AbcCode& x) { x.Op("getlocal_1"); }});
  // An array replacer keeps only the members it names, at every depth.
  stringify({[](AbcCode& x) { x.Op("getlocal_1"); },
             [&](AbcCode& x) { x.Op("pushstring", {S("a")}).Op("pushstring", {S("d")}).Op("newarray", {2}); }});
  // A function alone gives null; as a member it is left out.
  AbcCode body;
  body.Op("returnvoid");
  const auto fn = Fn(body);
  stringify({[&](AbcCode& x) { x.Op("newfunction", {fn}); }});
  stringify({[&](AbcCode& x) { x.Op("pushstring", {S("f")}).Op("newfunction", {fn}).Op("newobject", {1}); }});
  ASSERT_TRUE(Run(c, {ClassTrait("Rec", rec)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "{\"b\":2,\"a\":1,\"g\":\"G\",\"d\":3}|{\"a\":1,\"d\":3}|null|{}|");
}

TEST_F(Text, MultiByteEscapesWorkOnUtf8Bytes) {
  AbcCode c;
  const auto esc = Utils("escapeMultiByte"), unesc = Utils("unescapeMultiByte");
  Global(c, "escapeMultiByte", {Str("a-b\xF0\x9F\x91\xBE")}, esc);
  // A lone surrogate has no UTF-8: U+FFFD.
  Global(c, "escapeMultiByte", {[&](AbcCode& x) {
           x.Op("getlex", {Q("String")}).Op("pushint", {a.Int(0xDC00)});
           Call(x, "fromCharCode", 1);
         }},
         esc);
  Global(c, "unescapeMultiByte", {Str("%F0%9F%91%BE%4f")}, unesc);
  // A bad escape takes one or two characters with it.
  Global(c, "unescapeMultiByte", {Str("%GA|%AG|%A")}, unesc);
  // Bytes that spell no UTF-8 are Latin-1.
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {Q("escape")}).Op("findpropstrict", {unesc});
    Str("%ED%B0|%C1")(x);
    x.Op("callproperty", {unesc, 1}).Op("callproperty", {Q("escape"), 1});
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "a%2Db%F0%9F%91%BE|%EF%BF%BD|\xF0\x9F\x91\xBEO|A|||%ED%B0%7C%C1|");
}

TEST_F(Text, BytesReadAsUtf8JoinSurrogatePairsAndTakeWideLeads) {
  AbcCode c;
  const auto ba = Utils("ByteArray");
  c.Op("findpropstrict", {ba}).Op("constructprop", {ba, 0}).Op("setlocal_1");
  auto bytes = [&](std::initializer_list<int> list) {
    c.Op("getlocal_1").Op("callpropvoid", {Q("clear"), 0});
    for (int b : list) c.Op("getlocal_1").Op("pushint", {a.Int(b)}).Op("callpropvoid", {Q("writeByte"), 1});
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q("escape")}).Op("getlocal_1");
      x.Op("callproperty", {Q("escape"), 1});
    });
  };
  bytes({0xED, 0xA0, 0xBD, 0xED, 0xB0, 0x8C});  // a pair written as two three-byte forms
  bytes({0xF9, 0x80, 0x80, 0x80, 0x80});        // F9 leads four bytes: U+40000, then a stray 80
  bytes({0xED, 0xA0, 0xBD});                    // a lone high surrogate stays one
  bytes({0xC1, 0x80});                          // overlong: Latin-1
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "%uD83D%uDC0C|%uD8C0%uDC00%80|%uD83D|%C1%80|");
}

TEST_F(Text, HalvesOfAPairJoinedAgainAreOneCharacter) {
  // "x\u{1F61C}" cut into its units by charAt and added back together.
  AbcCode c;
  const std::string s = "x\xF0\x9F\x98\x9C";
  auto unit = [&](AbcCode& x, int i) { Str(s)(x); x.Op("pushint", {a.Int(i)}); Call(x, "charAt", 1); };
  Trace(c, [&](AbcCode& x) {
    unit(x, 0);
    unit(x, 1);
    x.Op("add");
    unit(x, 2);
    x.Op("add").Op("dup").Op("pushstring", {S(s)}).Op("strictequals");
    x.Op("swap").Op("getproperty", {Q("length")}).Op("add");
  });
  // A high half alone before a number stays alone.
  Trace(c, [&](AbcCode& x) {
    unit(x, 1);
    x.Op("pushint", {a.Int(5)}).Op("add").Op("getproperty", {Q("length")});
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "4|2|");
}

}  // namespace
}  // namespace quarvel::avm2
