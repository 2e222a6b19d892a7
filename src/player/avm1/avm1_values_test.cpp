// Values and their conversions as each SWF version has them, what trace
// prints, the order for..in lists names in, and what the global functions
// give on odd arguments; on builder-made movies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <span>
#include <sstream>
#include <string>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

constexpr std::uint8_t kAdd2 = Code(Action::kAdd2), kTypeOf = Code(Action::kTypeOf),
                       kEquals2 = Code(Action::kEquals2), kStrictEquals = Code(Action::kStrictEquals),
                       kLess2 = Code(Action::kLess2), kReturn = Code(Action::kReturn), kToNumber = Code(Action::kToNumber),
                       kEquals = Code(Action::kEquals), kInitArray = Code(Action::kInitArray),
                       kInitObject = Code(Action::kInitObject);

// What the movie's trace actions print, one line each.
class TraceLog {
 public:
  TraceLog() : old_(std::clog.rdbuf(out_.rdbuf())) {
    if (const char* d = std::getenv("QUARVEL_DEBUG")) had_ = d;
    setenv("QUARVEL_DEBUG", "1", 1);
  }
  ~TraceLog() {
    std::clog.rdbuf(old_);
    if (had_.empty()) unsetenv("QUARVEL_DEBUG");
    else setenv("QUARVEL_DEBUG", had_.c_str(), 1);
  }
  std::string Lines() const {
    std::string out, line;
    std::istringstream in(out_.str());
    while (std::getline(in, line)) {
      if (line.rfind("player: trace: ", 0) == 0) out += line.substr(15) + "\n";
      else if (line.find(':') == std::string::npos) out += line + "\n";  // a line the trace text broke
    }
    return out;
  }

 private:
  std::ostringstream out_;
  std::streambuf* old_;
  std::string had_;
};

Actions Trace(const Actions& v) { return Actions().Append(v).Trace(); }
// function () { return v; }
Actions Returns(const Actions& v) { return Function({}, Actions().Append(v).Raw(kReturn)); }

TEST(Avm1Values, TracePrintsUndefinedByNameAndBreaksLinesAtCarriageReturns) {
  Actions a = Trace(Undef());
  a.Append(Trace(Str("a\rb")));
  a.Append(Trace(Bin(Str("<"), Undef(), kAdd2)));
  for (std::uint8_t version : {5, 6, 7}) {
    TraceLog log;
    Played r(Script(a, version));
    // Concatenated, undefined is empty text before version 7.
    EXPECT_EQ(log.Lines(), std::string("undefined\na\nb\n<") + (version >= 7 ? "undefined\n" : "\n")) << int(version);
  }
}

TEST(Avm1Values, NumbersPrintWithFifteenDigitsAndFlashsExponents) {
  const std::pair<double, const char*> cases[] = {
      {1e-5, "0.00001"},          {0.999e-5, "9.99e-6"},           {1e15, "1e+15"},
      {-1e15, "-1e+15"},          {9.9999e14, "999990000000000"},  {0.1 + 0.2, "0.3"},
      {100000.12345678912, "100000.123456789"}, {0.8000000000000005, "0.800000000000001"},
      {1.7976931348623157e308, "1.79769313486231e+308"}, {-990.123, "-990.123"},
      {4294967296.0, "4294967296"},  {-2147483648.0, "-2147483648"}};
  Actions a;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    Set(a, "n" + std::to_string(i), Bin(Str(""), Dbl(cases[i].first), kAdd2));
  }
  Played r(Script(a));
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(r.Get("n" + std::to_string(i)), cases[i].second) << i;
}

TEST(Avm1Values, ConversionsFollowTheMoviesVersion) {
  Actions a;
  Set(a, "undefNumber", Bin(Str(""), Op(Undef(), kToNumber), kAdd2));
  Set(a, "hex", Bin(Str(""), Op(Str("0x1F"), kToNumber), kAdd2));
  Set(a, "octal", Bin(Str(""), Op(Str("-010"), kToNumber), kAdd2));
  Set(a, "signedHex", Bin(Str(""), Op(Str("-0x10"), kToNumber), kAdd2));
  Set(a, "trailing", Bin(Str(""), Op(Str("12 "), kToNumber), kAdd2));
  Set(a, "word", Bin(Str(""), Op(Str("px"), kToNumber), kAdd2));
  Set(a, "equalsTrue", Bin(Str(""), Bin(Int(1), Int(1), kEquals), kAdd2));
  Set(a, "typeOfEquals", Op(Bin(Int(1), Int(1), kEquals), kTypeOf));
  Set(a, "arrayText", Bin(Str(""), Array({Undef(), Actions().PushNull(), Int(1)}), kAdd2));
  Played v7(Script(a, 7));
  EXPECT_EQ(v7.Get("undefNumber"), "NaN");
  EXPECT_EQ(v7.Get("hex"), "31");
  EXPECT_EQ(v7.Get("octal"), "-8");
  EXPECT_EQ(v7.Get("signedHex"), "NaN");
  EXPECT_EQ(v7.Get("trailing"), "NaN");
  EXPECT_EQ(v7.Get("word"), "NaN");
  EXPECT_EQ(v7.Get("equalsTrue"), "true");
  EXPECT_EQ(v7.Get("arrayText"), "undefined,null,1");
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("undefNumber"), "0");
  EXPECT_EQ(v6.Get("octal"), "-8");
  EXPECT_EQ(v6.Get("arrayText"), ",null,1");
  Played v5(Script(a, 5));
  EXPECT_EQ(v5.Get("hex"), "NaN");  // hexadecimal and octal came with version 6
  EXPECT_EQ(v5.Get("octal"), "-10");
  Played v4(Script(a, 4));
  // Flash 4 booleans print as digits, and text that is no number is 0.
  EXPECT_EQ(v4.Get("equalsTrue"), "1");
  EXPECT_EQ(v4.Get("typeOfEquals"), "boolean");
  EXPECT_EQ(v4.Get("word"), "0");
}

TEST(Avm1Values, ObjectsConvertThroughTheirOwnMethods) {
  Actions a;
  Set(a, "numberOnly", Object({{"valueOf", Returns(Int(5))}, {"toString", Returns(Str("text"))}}));
  Set(a, "sum", Bin(Var("numberOnly"), Int(1), kAdd2));
  Set(a, "joined", Bin(Str(""), Var("numberOnly"), kAdd2));
  Set(a, "shown", Method(Array({Var("numberOnly")}), "join"));
  // toString giving no string, and no valueOf giving a primitive.
  Set(a, "odd", Object({{"toString", Returns(Int(3))}}));
  Set(a, "oddText", Method(Array({Var("odd")}), "join"));
  Set(a, "oddSum", Bin(Var("odd"), Int(1), kAdd2));
  Set(a, "oddLess", Op(Bin(Var("odd"), Int(1), kLess2), kTypeOf));
  Set(a, "oddEqualsText", Bin(Var("odd"), Str("[object Object]"), kEquals2));
  Set(a, "nanEquals", Bin(Dbl(std::nan("")), Dbl(std::nan("")), kEquals2));
  Set(a, "nanStrict", Bin(Dbl(std::nan("")), Dbl(std::nan("")), kStrictEquals));
  Played r(Script(a));
  EXPECT_EQ(r.Get("sum"), "6");
  EXPECT_EQ(r.Get("joined"), "5");
  EXPECT_EQ(r.Get("shown"), "text");
  EXPECT_EQ(r.Get("oddText"), "[type Object]");
  EXPECT_EQ(r.Get("oddSum"), "NaN");
  EXPECT_EQ(r.Get("oddLess"), "boolean");
  EXPECT_EQ(r.Get("oddEqualsText"), "false");
  EXPECT_EQ(r.Get("nanEquals"), "true");
  EXPECT_EQ(r.Get("nanStrict"), "true");
}

TEST(Avm1Values, ForInListsTheNewestNameFirst) {
  Actions a;
  Set(a, "seen", Str(""));
  const auto collect = [] {
    Actions body;
    return Set(body, "seen", Bin(Var("seen"), Actions().PushRegister(0), kAdd2));
  };
  Set(a, "o", Object({{"a", Int(1)}, {"b", Int(2)}}));
  a.Append(SetMember(Var("o"), "c", Int(3)));
  a.Append(ForIn(Var("o"), collect()));
  Set(a, "objectOrder", Var("seen"));
  Set(a, "seen", Str(""));
  a.Append(ForIn(Array({Str("x"), Str("y"), Str("z")}), collect()));
  Set(a, "arrayOrder", Var("seen"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("objectOrder"), "cab");
  EXPECT_EQ(r.Get("arrayOrder"), "210");
}

TEST(Avm1Values, GlobalFunctionsOnMissingAndOddArguments) {
  Actions a;
  Set(a, "noArg", Op(Call("parseInt"), kTypeOf));
  Set(a, "noFloatArg", Op(Call("parseFloat"), kTypeOf));
  Set(a, "signedHex", Call("parseInt", {Str("-0x10")}));
  Set(a, "hexAnyRadix", Call("parseInt", {Str("0x100"), Int(10)}));
  Set(a, "undefinedRadix", Call("parseInt", {Str("100"), Undef()}));
  Set(a, "octal", Call("parseInt", {Str("-0100")}));
  Set(a, "spacedOctal", Call("parseInt", {Str("  077")}));
  Set(a, "unescaped", Call("unescape", {Str("Hello+World%2")}));
  Set(a, "badEscape", Call("unescape", {Str("aaa%zz")}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("noArg"), "undefined");
  EXPECT_EQ(r.Get("noFloatArg"), "undefined");
  EXPECT_EQ(r.Get("signedHex"), "NaN");
  EXPECT_EQ(r.Get("hexAnyRadix"), "100");
  EXPECT_EQ(r.Get("undefinedRadix"), "NaN");
  EXPECT_EQ(r.Get("octal"), "-64");
  EXPECT_EQ(r.Get("spacedOctal"), "77");
  EXPECT_EQ(r.Get("unescaped"), "Hello World");
  EXPECT_EQ(r.Get("badEscape"), "aaaz");
}

TEST(Avm1Values, MathConvertsTwoArgumentsAndCountsThemBeforeVersion7) {
  Actions a;
  Set(a, "log", Str(""));
  // valueOf of each of the first two arguments runs, in order; the third is never asked.
  const auto noisy = [&](const std::string& tag, int v) {
    Actions body;
    Set(body, "log", Bin(Var("log"), Str(tag), kAdd2));
    body.Append(Int(v)).Raw(kReturn);
    return Object({{"valueOf", Function({}, body)}});
  };
  Set(a, "abs", Method(Var("Math"), "abs", {noisy("a", -2), noisy("b", 1), noisy("c", 0)}));
  Set(a, "order", Var("log"));
  Set(a, "maxOfThree", Method(Var("Math"), "max", {Int(1), Int(2), Int(30)}));
  Set(a, "minOne", Method(Var("Math"), "min", {Int(4)}));
  Set(a, "absNone", Method(Var("Math"), "abs"));
  Set(a, "absNull", Method(Var("Math"), "abs", {Actions().PushNull()}));
  Set(a, "powOne", Method(Var("Math"), "pow", {Int(1)}));
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("abs"), "2");
  EXPECT_EQ(v6.Get("order"), "ab");
  EXPECT_EQ(v6.Get("maxOfThree"), "2");
  EXPECT_EQ(v6.Get("minOne"), "NaN");
  EXPECT_EQ(v6.Get("absNone"), "NaN");
  EXPECT_EQ(v6.Get("absNull"), "0");
  EXPECT_EQ(v6.Get("powOne"), "1");
  Played v7(Script(a, 7));
  EXPECT_EQ(v7.Get("absNull"), "NaN");
}

TEST(Avm1Values, ObjectMethodsOnBadArguments) {
  Actions a;
  Set(a, "o", Object({{"x", Int(1)}}));
  Set(a, "noSetter", Method(Var("o"), "addProperty", {Str("p"), Returns(Int(1))}));
  Set(a, "nullSetter", Method(Var("o"), "addProperty", {Str("q"), Returns(Int(2)), Actions().PushNull()}));
  Set(a, "q", Member(Var("o"), "q"));
  Set(a, "ownNone", Method(Var("o"), "hasOwnProperty"));
  Set(a, "protoOf", Method(Member(Var("Object"), "prototype"), "isPrototypeOf", {Var("o")}));
  Set(a, "bareText", Op(Member(Call("Object"), "toString"), kTypeOf));
  Set(a, "globalProto", Op(Member(Var("_global"), "__proto__"), kTypeOf));
  Set(a, "globalIsUndefined", Bin(Var("_global"), Undef(), kEquals2));
  // __resolve answers for properties that are nowhere.
  Set(a, "r", Object({{"__resolve", Function({"n"}, Actions().Append(Bin(Str("?"), Var("n"), kAdd2)).Raw(kReturn))}}));
  Set(a, "resolved", Member(Var("r"), "missing"));
  Set(a, "noTimer", Op(Call("setInterval", {Function({}, Actions()), Undef()}), kTypeOf));
  Set(a, "noCallback", Op(Call("setTimeout", {Undef(), Int(10)}), kTypeOf));
  Played r(Script(a));
  EXPECT_EQ(r.Get("noSetter"), "false");
  EXPECT_EQ(r.Get("nullSetter"), "true");
  EXPECT_EQ(r.Get("q"), "2");
  EXPECT_EQ(r.Get("ownNone"), "false");
  EXPECT_EQ(r.Get("protoOf"), "true");
  EXPECT_EQ(r.Get("bareText"), "undefined");
  EXPECT_EQ(r.Get("globalProto"), "undefined");
  EXPECT_EQ(r.Get("globalIsUndefined"), "true");
  EXPECT_EQ(r.Get("resolved"), "?missing");
  EXPECT_EQ(r.Get("noTimer"), "undefined");
  EXPECT_EQ(r.Get("noCallback"), "undefined");
}

// new Object(v) gives v's wrapper for strings, numbers and booleans, v itself
// for objects, and a plain object for undefined and null.
TEST(Avm1Values, ObjectConstructorWrapsPrimitives) {
  Actions a;
  Set(a, "text", Bin(New("Object", {Str("hi")}), Str(""), kAdd2));
  Set(a, "textType", Op(New("Object", {Str("hi")}), kTypeOf));
  Set(a, "textLength", Member(New("Object", {Str("hi")}), "length"));
  Set(a, "sum", Bin(New("Object", {Int(5)}), Int(1), kAdd2));
  Set(a, "flag", Bin(New("Object", {Actions().PushBool(true)}), Str(""), kAdd2));
  Set(a, "fromNull", Bin(New("Object", {Actions().PushNull()}), Str(""), kAdd2));
  Set(a, "called", Bin(Call("Object", {Int(7)}), Int(1), kAdd2));
  Played r(Script(a));
  EXPECT_EQ(r.Get("text"), "hi");
  EXPECT_EQ(r.Get("textType"), "object");
  EXPECT_EQ(r.Get("textLength"), "2");
  EXPECT_EQ(r.Get("sum"), "6");
  EXPECT_EQ(r.Get("flag"), "true");
  EXPECT_EQ(r.Get("fromNull"), "[object Object]");
  EXPECT_EQ(r.Get("called"), "8");
}

// An array or object literal whose count is negative or past 32 bits is
// undefined and takes nothing off the stack.
TEST(Avm1Values, LiteralsWithCountsOutOfRangeAreUndefined) {
  for (std::uint8_t op : {kInitArray, kInitObject}) {
    Actions a;
    a.PushString("a").PushString("b").PushDouble(4294967297.0).Raw(op).Trace().Trace().Trace();
    a.PushString("c").PushInt(-1).Raw(op).Trace().Trace();
    TraceLog log;
    Played r(Script(a));
    EXPECT_EQ(log.Lines(), "undefined\nb\na\nundefined\nc\n") << int(op);
  }
  Actions a;
  Set(a, "n", Actions().PushString("x").PushInt(1).Raw(kInitArray));
  Played r(Script(a));
  EXPECT_EQ(r.Get("n"), "x");
}

// The page-bridge text helpers: null for no or empty text, else the text
// with XML entities or double quotes escaped.
TEST(Avm1Values, ExternalInterfaceTextHelpers) {
  Actions a;
  const Actions ei = Member(Member(Var("flash"), "external"), "ExternalInterface");
  Set(a, "noArg", Op(Method(ei, "_escapeXML"), kTypeOf));
  Set(a, "empty", Op(Method(ei, "_unescapeXML", {Str("")}), kTypeOf));
  Set(a, "undefText", Method(ei, "_escapeXML", {Undef()}));
  Set(a, "escaped", Method(ei, "_escapeXML", {Str("<a & 'b'>\"")}));
  Set(a, "unescaped", Method(ei, "_unescapeXML", {Str("&amp;gt;&lt;&Lt;&quot;&apos;&#x20;")}));
  Set(a, "quoted", Method(ei, "_jsQuoteString", {Str("\\\"'")}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("noArg"), "null");
  EXPECT_EQ(r.Get("empty"), "null");
  EXPECT_EQ(r.Get("undefText"), "undefined");
  EXPECT_EQ(r.Get("escaped"), "&lt;a &amp; &apos;b&apos;&gt;&quot;");
  EXPECT_EQ(r.Get("unescaped"), "&gt;<&Lt;\"'&#x20;");
  EXPECT_EQ(r.Get("quoted"), "\\\\\"'");
}

// ASnative(200, n) is Math's n-th function in the player's order; a slot
// past the end converts its arguments and gives NaN.
TEST(Avm1Values, AsNativeNumbersMathFunctions) {
  Actions a;
  Set(a, "minFn", Call("ASnative", {Int(200), Int(1)}));
  Set(a, "min", Actions().Append(Int(2)).Append(Int(5)).PushInt(2).Append(Var("minFn")).PushUndefined()
                    .Raw(Code(Action::kCallMethod)));
  Set(a, "powFn", Call("ASnative", {Int(200), Int(17)}));
  Set(a, "pow", Actions().Append(Int(3)).Append(Int(2)).PushInt(2).Append(Var("powFn")).PushUndefined()
                    .Raw(Code(Action::kCallMethod)));
  Set(a, "noSlot", Call("ASnative", {Int(200), Int(50)}));
  Set(a, "noSlotType", Op(Var("noSlot"), kTypeOf));
  Set(a, "noSlotCall", Actions().PushInt(0).Append(Var("noSlot")).PushUndefined().Raw(Code(Action::kCallMethod)));
  Set(a, "unknown", Op(Call("ASnative", {Int(9999), Int(0)}), kTypeOf));
  Played r(Script(a));
  EXPECT_EQ(r.Get("min"), "2");
  EXPECT_EQ(r.Get("pow"), "8");
  EXPECT_EQ(r.Get("noSlotType"), "function");
  EXPECT_EQ(r.Get("noSlotCall"), "NaN");
  EXPECT_EQ(r.Get("unknown"), "undefined");
}

// From version 6 strings count UTF-16 units: a character past the Basic
// Multilingual Plane is two, and its halves can be taken apart and joined.
TEST(Avm1Values, StringsCountUtf16Units) {
  const std::string face = "\xF0\x9F\x98\x8B";  // U+1F60B
  Actions a;
  Set(a, "len", Member(Str(face + "ab"), "length"));
  Set(a, "actionLen", Actions().Append(Str(face)).Raw(Code(Action::kStringLength)));
  Set(a, "mbLen", Actions().Append(Str(face)).Raw(Code(Action::kMBStringLength)));
  Set(a, "high", Method(Str(face), "charCodeAt", {Int(0)}));
  Set(a, "low", Method(Str(face), "charCodeAt", {Int(1)}));
  Set(a, "after", Method(Str(face + "ab"), "charAt", {Int(2)}));
  Set(a, "joined", Bin(Bin(Method(Str(face), "charAt", {Int(0)}), Method(Str(face), "charAt", {Int(1)}), kAdd2),
                       Str(face), kEquals2));
  Set(a, "fromCodes", Bin(Method(Var("String"), "fromCharCode", {Int(0xD83D), Int(0xDE0B)}), Str(face), kEquals2));
  // Order is by code point: U+FF61 sorts before a pair given as two halves.
  Set(a, "pairAfter", Bin(Str("\xEF\xBD\xA1"), Str("\xED\xA0\x80\xED\xB0\x82"), Code(Action::kLess2)));
  Played v8(Script(a));
  EXPECT_EQ(v8.Get("pairAfter"), "true");
  EXPECT_EQ(v8.Get("len"), "4");
  EXPECT_EQ(v8.Get("actionLen"), "2");
  EXPECT_EQ(v8.Get("mbLen"), "2");
  EXPECT_EQ(v8.Get("high"), std::to_string(0xD83D));
  EXPECT_EQ(v8.Get("low"), std::to_string(0xDE0B));
  EXPECT_EQ(v8.Get("after"), "a");
  EXPECT_EQ(v8.Get("joined"), "true");
  EXPECT_EQ(v8.Get("fromCodes"), "true");
  {
    // trace writes a lone half as U+FFFD.
    TraceLog log;
    Played traced(Script(Trace(Method(Str(face), "charAt", {Int(1)}))));
    EXPECT_EQ(log.Lines(), "\xEF\xBF\xBD\n");
  }
  Played v5(Script(a, 5));
  EXPECT_EQ(v5.Get("len"), "6");  // bytes
  EXPECT_EQ(v5.Get("actionLen"), "4");
}

// Before version 6 a string's bytes are the author's Western code page:
// trace shows them as such, one character each.
TEST(Avm1Values, TraceShowsVersion5BytesInTheWesternCodePage) {
  TraceLog log;
  Played five(Script(Trace(Str("t\xC5t\x80")), 5));
  EXPECT_EQ(log.Lines(), "t\xC3\x85t\xE2\x82\xAC\n");
}

// String methods take 32-bit indices; a negative substr length counts
// back from the end, and charCodeAt past the end is 0 in version 5.
TEST(Avm1Values, StringMethodsTakeThirtyTwoBitIndices) {
  Actions a;
  Set(a, "wrappedAt", Method(Str("hello"), "charAt", {Dbl(4294967297.0)}));
  Set(a, "backLength", Method(Str("hello world"), "substr", {Int(3), Int(-4)}));
  Set(a, "emptyLength", Method(Str("hello world"), "substr", {Int(3), Int(-3)}));
  Set(a, "noArgs", Op(Method(Str("hello"), "substring"), kTypeOf));
  Set(a, "pastEnd", Method(Str("abc"), "charCodeAt", {Int(5)}));
  Set(a, "wrappedFrom", Method(Str("a test test"), "indexOf", {Str("test"), Dbl(4294967300.0)}));
  Set(a, "wrappedBack", Method(Str("a test test"), "lastIndexOf", {Str("test"), Dbl(4294967300.0)}));
  Set(a, "emptyPastEnd", Method(Str("abc"), "indexOf", {Str(""), Int(4)}));
  Set(a, "findNothing", Op(Method(Str("abc"), "indexOf"), kTypeOf));
  Set(a, "findNothingBack", Op(Method(Str("abc"), "lastIndexOf"), kTypeOf));
  Set(a, "wrappedSlice", Method(Str("Hello"), "slice", {Dbl(4294967296.0), Dbl(4294967298.0)}));
  Set(a, "sliceNothing", Op(Method(Str("Hello"), "slice"), kTypeOf));
  Set(a, "splitNull", Member(Method(Str("a,b"), "split", {Str(","), Actions().PushNull()}), "length"));
  Set(a, "backFromNull", Method(Str("a test test"), "lastIndexOf", {Str("test"), Actions().PushNull()}));
  Played v8(Script(a));
  EXPECT_EQ(v8.Get("wrappedAt"), "e");
  EXPECT_EQ(v8.Get("backLength"), "lo worl");
  EXPECT_EQ(v8.Get("emptyLength"), "");
  EXPECT_EQ(v8.Get("noArgs"), "undefined");
  EXPECT_EQ(v8.Get("pastEnd"), "NaN");
  EXPECT_EQ(v8.Get("wrappedFrom"), "7");
  EXPECT_EQ(v8.Get("wrappedBack"), "2");
  EXPECT_EQ(v8.Get("backFromNull"), "-1");
  EXPECT_EQ(v8.Get("emptyPastEnd"), "-1");
  EXPECT_EQ(v8.Get("splitNull"), "0");
  EXPECT_EQ(v8.Get("wrappedSlice"), "He");
  EXPECT_EQ(v8.Get("sliceNothing"), "undefined");
  EXPECT_EQ(v8.Get("findNothing"), "undefined");
  EXPECT_EQ(v8.Get("findNothingBack"), "undefined");
  Played v5(Script(a, 5));
  EXPECT_EQ(v5.Get("pastEnd"), "0");
}

// From version 6 the string actions count UTF-16 units and codes are 16
// bits: a character past the Basic Multilingual Plane reads as U+FFFD, a
// lone surrogate code makes U+FFFD, code 0 the empty string; indices and
// counts wrap as 32-bit integers. Version 5 counts bytes.
TEST(Avm1Values, StringActionsByVersion) {
  const std::string face = "\xF0\x9F\x98\x8B";  // U+1F60B
  const std::string love = "\xE6\x84\x9B";       // U+611B
  auto ord = [](const std::string& s) { return Actions().Append(Str(s)).Raw(Code(Action::kCharToAscii)); };
  auto chr = [](const Actions& n) { return Actions().Append(n).Raw(Code(Action::kAsciiToChar)); };
  auto extract = [](const std::string& s, const Actions& from, const Actions& count) {
    return Actions().Append(Str(s)).Append(from).Append(count).Raw(Code(Action::kStringExtract));
  };
  Actions a;
  Set(a, "love", ord(love));
  Set(a, "face", ord(face));
  Set(a, "wrapped", chr(Int(65616)));
  Set(a, "half", Bin(chr(Int(0xD801)), Str("\xEF\xBF\xBD"), kEquals2));
  Set(a, "zero", Member(chr(Int(0)), "length"));
  Set(a, "third", Bin(extract(face + love + "ab", Int(3), Int(1)), Str(love), kEquals2));
  Set(a, "pair", Bin(extract(face + love, Int(1), Int(2)), Str(face), kEquals2));
  Set(a, "far", extract(face + love + love + love + love + "testing", Dbl(4294967303.0), Dbl(-4294967294.0)));
  Set(a, "rest", extract("abcdef", Int(3), Int(-1)));
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("love"), "24859");
  EXPECT_EQ(v6.Get("face"), "65533");
  EXPECT_EQ(v6.Get("wrapped"), "P");
  EXPECT_EQ(v6.Get("half"), "true");
  EXPECT_EQ(v6.Get("zero"), "0");
  EXPECT_EQ(v6.Get("third"), "true");
  EXPECT_EQ(v6.Get("pair"), "true");
  EXPECT_EQ(v6.Get("far"), "te");
  EXPECT_EQ(v6.Get("rest"), "cdef");
  Played v5(Script(a, 5));
  EXPECT_EQ(v5.Get("love"), "230");  // the first byte
}

// Flash 5's split cuts at commas when given no separator and keeps the
// string whole for an empty one; later versions the other way round.
TEST(Avm1Values, SplitWithoutASeparatorByVersion) {
  Actions a;
  Set(a, "none", Member(Method(Str("a,b,c"), "split"), "length"));
  Set(a, "empty", Member(Method(Str("a,b,c"), "split", {Str("")}), "length"));
  Set(a, "emptyZero", Member(Method(Str("a,b,c"), "split", {Str(""), Int(0)}), "length"));
  Played v5(Script(a, 5));
  EXPECT_EQ(v5.Get("none"), "3");
  EXPECT_EQ(v5.Get("empty"), "1");
  EXPECT_EQ(v5.Get("emptyZero"), "0");
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("none"), "1");
  EXPECT_EQ(v6.Get("empty"), "5");
}

// DefineFunction2 with no name or parameters, the given flags and registers.
Actions Function2(std::uint16_t flags, std::uint8_t registers, const Actions& body) {
  const auto size = static_cast<std::uint16_t>(body.Size());
  const std::uint8_t head[] = {0,
                               0,
                               0,
                               registers,
                               static_cast<std::uint8_t>(flags & 0xFF),
                               static_cast<std::uint8_t>(flags >> 8),
                               static_cast<std::uint8_t>(size & 0xFF),
                               static_cast<std::uint8_t>(size >> 8)};
  return Actions().Raw(Code(Action::kDefineFunction2), head).Append(body);
}

// `this` by name: any case on a timeline before version 7; in a function
// only so spelt, and not at all when the function preloads or suppresses
// it (the name then finds the timeline in scope); a suppressed preload
// leaves its register undefined.
TEST(Avm1Values, ThisByNameFollowsCaseAndFunctionFlags) {
  const Actions byName = Actions().Append(Var("this")).Raw(kReturn);
  const Actions reg1 = Actions().PushRegister(1).Raw(kReturn);
  Actions a;
  Set(a, "o", Object({{"toString", Returns(Str("OBJ"))}}));
  auto call = [&](const char* var, std::uint16_t flags, const Actions& body) {
    a.Append(SetMember(Var("o"), "f", Function2(flags, 2, body)));
    Set(a, var, Bin(Str(""), Method(Var("o"), "f"), kAdd2));
  };
  call("plain", 0, byName);
  call("suppressed", 0x02, byName);
  call("preloaded", 0x01, byName);
  call("inRegister", 0x01, reg1);
  call("suppressedRegister", 0x03, Actions().Append(Op(Actions().PushRegister(1), kTypeOf)).Raw(kReturn));
  Set(a, "upper", Op(Var("THIS"), kTypeOf));
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("plain"), "OBJ");
  EXPECT_EQ(v6.Get("suppressed"), "_level0");
  EXPECT_EQ(v6.Get("preloaded"), "_level0");
  EXPECT_EQ(v6.Get("inRegister"), "OBJ");
  EXPECT_EQ(v6.Get("suppressedRegister"), "undefined");
  EXPECT_EQ(v6.Get("upper"), "movieclip");
  Played v7(Script(a, 7));
  EXPECT_EQ(v7.Get("upper"), "undefined");
}

// Registers past a function's own count are its caller's; a preloaded
// _parent that is missing takes no register.
TEST(Avm1Values, FunctionsReachTheirCallersRegisters) {
  const std::uint8_t r2[] = {2}, r3[] = {3};
  auto store = [](const Actions& v, std::span<const std::uint8_t> reg) {
    return Actions().Append(v).Raw(Code(Action::kStoreRegister), reg).Raw(Code(Action::kPop));
  };
  Actions body = store(Int(7), r3);
  body.PushRegister(2).Raw(kReturn);
  Actions a = store(Int(5), r2);
  Set(a, "f", Function2(0, 1, body));
  Set(a, "seen", Call("f"));
  Set(a, "written", Actions().PushRegister(3));
  // Preloads _parent (none on the main timeline) and _global: _global
  // lands in register 1.
  Set(a, "g", Function2(0x80 | 0x100, 3, Actions().Append(Op(Actions().PushRegister(1), kTypeOf)).Raw(kReturn)));
  Set(a, "globalFirst", Call("g"));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("seen"), "5");
  EXPECT_EQ(r.Get("written"), "7");
  EXPECT_EQ(r.Get("globalFirst"), "object");
}

// delete with a path deletes the last name from what the rest names; a
// clip's hasOwnProperty sees its timeline's variables.
TEST(Avm1Values, DeleteByPathAndClipsOwnVariables) {
  auto del = [](const std::string& path) { return Actions().PushString(path).Raw(Code(Action::kDelete2)); };
  Actions a;
  Set(a, "o", Object({{"a", Int(1)}, {"b", Int(2)}}));
  Set(a, "dotted", del("o.a"));
  Set(a, "colon", del("o:b"));
  Set(a, "left", Op(Member(Var("o"), "a"), kTypeOf));
  Set(a, "own", Method(Var("this"), "hasOwnProperty", {Str("o")}));
  Set(a, "notOwn", Method(Var("this"), "hasOwnProperty", {Str("nothing")}));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("dotted"), "true");
  EXPECT_EQ(r.Get("colon"), "true");
  EXPECT_EQ(r.Get("left"), "undefined");
  EXPECT_EQ(r.Get("own"), "true");
  EXPECT_EQ(r.Get("notOwn"), "false");
}

// Case by Flash's own tables: beyond ASCII for toLowerCase/toUpperCase and
// for the case-blind names of movies before version 7; letters Unicode
// added later (U+2C65) keep their case.
TEST(Avm1Values, CaseTablesReachBeyondAscii) {
  Actions a;
  Set(a, "armenian", Bin(Method(Str("\xD4\xB1"), "toLowerCase"), Str("\xD5\xA1"), kEquals2));  // U+0531 -> U+0561
  Set(a, "dotted", Bin(Method(Str("\xC4\xB0"), "toLowerCase"), Str("i"), kEquals2));            // U+0130 -> i
  Set(a, "titled", Bin(Method(Str("\xC7\x85"), "toUpperCase"), Str("\xC7\x84"), kEquals2));    // U+01C5 -> U+01C4
  Set(a, "later", Bin(Method(Str("\xE2\xB1\xA5"), "toUpperCase"), Str("\xE2\xB1\xA5"), kEquals2));
  a.Append(SetMember(Var("this"), "\xC3\xA4", Str("found")));  // a-umlaut
  Set(a, "byUpper", Member(Var("this"), "\xC3\x84"));
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("armenian"), "true");
  EXPECT_EQ(v6.Get("dotted"), "true");
  EXPECT_EQ(v6.Get("titled"), "true");
  EXPECT_EQ(v6.Get("later"), "true");
  EXPECT_EQ(v6.Get("byUpper"), "found");
  Played v7(Script(a, 7));
  EXPECT_EQ(v7.Get("byUpper"), "");
}

// Flash 4 movies have timeline variables only: NaN and Infinity are
// undefined there (0 in their arithmetic).
TEST(Avm1Values, Flash4MoviesSeeNoGlobals) {
  Actions a;
  Set(a, "nan", Op(Var("NaN"), kTypeOf));
  Set(a, "infinity", Bin(Var("Infinity"), Int(0), kEquals));  // Flash 4's numeric ==
  Played v4(Script(a, 4));
  EXPECT_EQ(v4.Get("nan"), "undefined");
  EXPECT_EQ(v4.Get("infinity"), "1");
  Played v5(Script(a, 5));
  EXPECT_EQ(v5.Get("nan"), "number");
}

// An object whose prototype was set to undefined has no valueOf: it equals
// undefined.
TEST(Avm1Values, BareObjectsEqualUndefined) {
  Actions a;
  Set(a, "o", Object({}));
  a.Append(SetMember(Var("o"), "__proto__", Undef()));
  Set(a, "eq", Bin(Var("o"), Undef(), kEquals2));
  Set(a, "plainEq", Bin(Object({}), Undef(), kEquals2));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("eq"), "true");
  EXPECT_EQ(r.Get("plainEq"), "false");
}

// A watcher's old value is the stored one, found on a prototype too; a
// property made by addProperty keeps the value it held, and its getter is
// not asked.
TEST(Avm1Values, WatchersGetTheStoredOldValue) {
  Actions logOld = Log(Bin(Var("old"), Str(","), kAdd2));
  logOld.Append(Var("now")).Raw(kReturn);
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "proto", Object({{"x", Int(3)}}));
  a.Append(Do(Var("proto"), "addProperty", {Str("x"), Returns(Str("getter")), Function({"v"}, Actions())}));
  Set(a, "o", Object({}));
  a.Append(SetMember(Var("o"), "__proto__", Var("proto")));
  a.Append(SetMember(Var("o"), "y", Int(5)));
  a.Append(SetMember(Var("proto"), "y", Int(9)));
  for (const char* name : {"x", "y"}) {
    a.Append(Do(Var("o"), "watch", {Str(name), Function({"prop", "old", "now"}, logOld)}));
    a.Append(SetMember(Var("o"), name, Int(4)));
  }
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("log"), "3,5,");
}

// A watcher sees every later write of its property and decides the value kept.
TEST(Avm1Values, WatchersDecideTheValueStored) {
  Actions clamp;
  // function (name, old, value) { return value > 10 ? 10 : value; } as Math.min(value, 10)
  clamp.Append(Method(Var("Math"), "min", {Var("value"), Int(10)})).Raw(kReturn);
  Actions a;
  Set(a, "o", Object({}));
  Set(a, "watched", Method(Var("o"), "watch", {Str("n"), Function({"name", "old", "value"}, clamp)}));
  Set(a, "refused", Method(Var("o"), "watch", {Str("m")}));
  a.Append(SetMember(Var("o"), "n", Int(50)));
  Set(a, "clamped", Member(Var("o"), "n"));
  Set(a, "unwatched", Method(Var("o"), "unwatch", {Str("n")}));
  Set(a, "again", Method(Var("o"), "unwatch", {Str("n")}));
  a.Append(SetMember(Var("o"), "n", Int(50)));
  Set(a, "free", Member(Var("o"), "n"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("watched"), "true");
  EXPECT_EQ(r.Get("refused"), "false");
  EXPECT_EQ(r.Get("clamped"), "10");
  EXPECT_EQ(r.Get("unwatched"), "true");
  EXPECT_EQ(r.Get("again"), "false");
  EXPECT_EQ(r.Get("free"), "50");
}

// Frame numbers wrap to 32 bits, do nothing from 0 down and are cut to 16
// bits, so that a huge one is the last frame.
TEST(Avm1Values, GotoTakesFrameNumbersAsFlashWrapsThem) {
  Actions a;
  const auto gotoAndRecord = [&a](const Actions& frame, const std::string& var) {
    a.Append(Do(Var("_root"), "gotoAndStop", {frame}));
    Set(a, var, Member(Var("_root"), "_currentframe"));
  };
  gotoAndRecord(Int(3), "third");
  gotoAndRecord(Int(0), "zero");
  gotoAndRecord(Dbl(4294967298.0), "wrapped");
  gotoAndRecord(Dbl(2147483648.0), "lowest");
  gotoAndRecord(Int(-1), "negative");
  auto b = Movie();
  b.DoAction(Actions().Append(a).Stop()).ShowFrame();
  b.ShowFrame();
  b.ShowFrame();
  Played r(b);
  EXPECT_EQ(r.Get("third"), "3");
  EXPECT_EQ(r.Get("zero"), "3");
  EXPECT_EQ(r.Get("wrapped"), "2");
  EXPECT_EQ(r.Get("lowest"), "3");
  EXPECT_EQ(r.Get("negative"), "3");
}

// Version 5 functions close over nothing: a name the defining function had
// is not seen by the function it made; version 6 closures see it.
TEST(Avm1Values, OnlyVersion6FunctionsAreClosures) {
  Actions inner = Actions().Append(Var("local")).Raw(kReturn);
  Actions outer;
  outer.PushString("local").PushString("captured").Raw(Code(Action::kDefineLocal));
  outer.Append(Function({}, inner)).Raw(kReturn);
  Actions b;
  Set(b, "local", Str("timeline"));
  Set(b, "make", Function({}, outer));
  Set(b, "f", Call("make"));
  Set(b, "got", Call("f"));
  Played v5(Script(b, 5));
  EXPECT_EQ(v5.Get("got"), "timeline");
  Played v6(Script(b, 6));
  EXPECT_EQ(v6.Get("got"), "captured");
}

TEST(Avm1Values, ObjectsFlash6MethodsAreHiddenFromFlash5Movies) {
  for (std::uint8_t version : {5, 6}) {
    SCOPED_TRACE(version);
    Actions a;
    Set(a, "o", Object({}));
    for (const char* m : {"hasOwnProperty", "watch", "addProperty", "isPrototypeOf"}) {
      Set(a, m, Member(Var("o"), m).Raw(Code(Action::kTypeOf)));
    }
    Set(a, "toString", Member(Var("o"), "toString").Raw(Code(Action::kTypeOf)));
    Played r(Script(a, version));
    for (const char* m : {"hasOwnProperty", "watch", "addProperty", "isPrototypeOf"}) {
      EXPECT_EQ(r.Get(m), version == 5 ? "undefined" : "function") << m;
    }
    EXPECT_EQ(r.Get("toString"), "function");
  }
}

// Deleting a member of a primitive by path deletes nothing, and Flash
// Player prints its warning about primitives as a trace line; undefined
// and null owners are quiet.
TEST(Avm1Values, DeleteThroughAPrimitiveWarns) {
  auto del = [](const std::string& path) { return Actions().PushString(path).Raw(Code(Action::kDelete2)); };
  Actions a;
  Set(a, "o", Object({{"s", Str("text")}, {"n", Actions().PushNull()}}));
  a.Append(Trace(del("o.s.length")));
  a.Append(Trace(del("o.n.x")));
  TraceLog log;
  Played r(Script(a, 8));
  EXPECT_EQ(log.Lines(),
            "Parameters of primitive types are no longer coerced into the required type - Object.\nfalse\nfalse\n");
}

// Add2 of two non-strings: an operand whose valueOf gave an object is
// converted to a number again, valueOf called a second time.
TEST(Avm1Values, AddConvertsAnObjectLeftByValueOfAgain) {
  Actions a;
  Set(a, "_global.log", Str(""));
  Set(a, "one", Object({{"valueOf", Function({}, Actions().Append(Log("1,")).PushInt(1).Raw(kReturn))}}));
  Set(a, "obj", Object({{"valueOf", Function({}, Actions().Append(Log("o,")).Append(Object({})).Raw(kReturn))}}));
  Set(a, "sum", Bin(Var("one"), Var("obj"), kAdd2));
  Played r(Script(a, 8));
  EXPECT_EQ(r.Get("_global.log"), "o,1,o,");
  EXPECT_EQ(r.Get("sum"), "NaN");
}

// setProperty converts the value once by what the property takes; an
// undefined, null or NaN number leaves the property, in every version;
// an infinite _x wraps to the lowest twips value; the read-only _url
// takes the value unconverted.
TEST(Avm1Values, SetPropertyValuesByKind) {
  auto setProp = [](int index, const Actions& v) {
    return Actions().PushString("_level0").PushInt(index).Append(v).Raw(Code(Action::kSetProperty));
  };
  auto getProp = [](int index) {
    return Actions().PushString("_level0").PushInt(index).Raw(Code(Action::kGetProperty));
  };
  for (std::uint8_t version : {5, 7}) {
    Actions a;
    Set(a, "_global.log", Str(""));
    a.Append(setProp(0, Int(1)));
    a.Append(setProp(0, Undef()));
    Set(a, "afterUndefined", getProp(0));
    a.Append(setProp(0, Actions().PushNull()));
    Set(a, "afterNull", getProp(0));
    a.Append(setProp(0, Str("abc")));
    Set(a, "afterText", getProp(0));
    a.Append(setProp(0, Dbl(INFINITY)));
    Set(a, "afterInfinity", getProp(0));
    Set(a, "noisy", Object({{"valueOf", Function({}, Actions().Append(Log("v,")).PushInt(3).Raw(kReturn))},
                            {"toString", Function({}, Actions().Append(Log("s,")).PushString("x").Raw(kReturn))}}));
    a.Append(setProp(7, Var("noisy")));
    a.Append(setProp(15, Var("noisy")));
    a.Append(setProp(1, Var("noisy")));
    Set(a, "y", getProp(1));
    Played r(Script(a, version));
    EXPECT_EQ(r.Get("afterUndefined"), "1") << int(version);
    EXPECT_EQ(r.Get("afterNull"), "1") << int(version);
    EXPECT_EQ(r.Get("afterText"), "1") << int(version);
    EXPECT_EQ(r.Get("afterInfinity"), "-107374182.4") << int(version);
    EXPECT_EQ(r.Get("_global.log"), "v,v,") << int(version);
    EXPECT_EQ(r.Get("y"), "3") << int(version);
  }
}

// startDrag converts each operand as it pops it: the target to text,
// then the lock and constraint flags as integers (only 1 is true), then the
// bounds bottom first; a flag of 7 constrains nothing and pops no bounds.
TEST(Avm1Values, StartDragConvertsItsOperandsInPopOrder) {
  auto noisy = [](const std::string& tag, const Actions& value) {
    const Actions body = Actions().Append(Log(tag + ",")).Append(value).Raw(kReturn);
    return Object({{"valueOf", Function({}, body)}, {"toString", Function({}, body)}});
  };
  Actions a;
  Set(a, "_global.log", Str(""));
  for (const char* tag : {"x1", "y1", "x2", "y2"}) a.Append(noisy(tag, Int(5)));
  a.Append(noisy("c", Int(1))).Append(noisy("l", Int(1))).Append(noisy("t", Str("nothere")));
  a.Raw(Code(Action::kStartDrag));
  Set(a, "constrained", Var("_global.log"));
  Set(a, "_global.log", Str(""));
  a.Append(noisy("c", Str("7"))).Append(noisy("l", Int(0))).Append(noisy("t", Str("nothere")));
  a.Raw(Code(Action::kStartDrag));
  Set(a, "free", Var("_global.log"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("constrained"), "t,l,c,y2,x2,y1,x1,");
  EXPECT_EQ(r.Get("free"), "t,l,c,");
}

// Every frame counts as loaded up to Flash's limit (16000 from 0 for
// WaitForFrame, 16001 for WaitForFrame2); WaitForFrame2 reads other than
// whole numbers as text (a fraction or a label is frame 0) and wraps
// numbers to 32 bits. A frame not loaded skips the given number of actions.
TEST(Avm1Values, WaitForFrameSkipsFramesPastTheLimit) {
  Actions a;
  Set(a, "log", Str(""));
  auto wait2 = [&](const Actions& frame, const std::string& tag) {
    a.Append(frame).Raw(Code(Action::kWaitForFrame2), std::vector<std::uint8_t>{6});
    Set(a, "log", Bin(Var("log"), Str(tag), kAdd2));  // six actions
  };
  auto wait = [&](int frame, const std::string& tag) {
    a.Raw(Code(Action::kWaitForFrame),
          std::vector<std::uint8_t>{static_cast<std::uint8_t>(frame), static_cast<std::uint8_t>(frame >> 8), 6});
    Set(a, "log", Bin(Var("log"), Str(tag), kAdd2));
  };
  wait2(Int(16001), "a");
  wait2(Int(16002), "b");
  wait2(Dbl(16002.5), "c");
  wait2(Dbl(2147483648.0), "d");
  wait2(Dbl(2147483649.0), "e");
  wait2(Str("label"), "f");
  wait2(Int(-43), "g");
  wait(16000, "h");
  wait(16001, "i");
  Played r(Script(a));
  EXPECT_EQ(r.Get("log"), "acefgh");
}

// The main timeline keeps its own _name and _visible; an infinite scale
// reads back as set, an infinite rotation as NaN and an infinite alpha as
// 0; _highquality takes whole numbers (negatives are high) and
// _soundbuftime a 32-bit integer; _focusrect ignores NaN; a NaN _name is
// "0" from version 7.
TEST(Avm1Values, SetPropertyEdgesOfTheMainTimeline) {
  auto setProp = [](int index, const Actions& v) {
    return Actions().PushString("_level0").PushInt(index).Append(v).Raw(Code(Action::kSetProperty));
  };
  auto getProp = [](int index) {
    return Actions().PushString("_level0").PushInt(index).Raw(Code(Action::kGetProperty));
  };
  for (std::uint8_t version : {5, 7}) {
    Actions a;
    a.Append(setProp(13, Str("main")));
    Set(a, "name", getProp(13));
    a.Append(setProp(7, Int(0)));
    Set(a, "hidden", getProp(7));
    a.Append(setProp(7, Str("x")));
    Set(a, "stillHidden", getProp(7));
    a.Append(setProp(7, Int(1)));
    a.Append(setProp(2, Dbl(INFINITY)));
    Set(a, "xscale", getProp(2));
    a.Append(setProp(10, Dbl(-INFINITY)));
    Set(a, "rotation", getProp(10));
    a.Append(setProp(6, Dbl(INFINITY)));
    Set(a, "alpha", getProp(6));
    a.Append(setProp(16, Int(-5)));
    Set(a, "hqNegative", getProp(16));
    a.Append(setProp(16, Undef()));
    Set(a, "hqUndefined", getProp(16));
    a.Append(setProp(16, Dbl(1.5)));
    Set(a, "hqHalf", getProp(16));
    a.Append(setProp(18, Dbl(2.5)));
    Set(a, "buf", getProp(18));
    a.Append(setProp(18, Str("abc")));
    Set(a, "bufText", getProp(18));
    a.Append(setProp(18, Dbl(INFINITY)));
    Set(a, "bufInfinity", getProp(18));
    a.Append(setProp(17, Int(0)));
    a.Append(setProp(17, Dbl(NAN)));
    Set(a, "focusNaN", getProp(17));
    a.Append(setProp(13, Dbl(NAN)));
    Set(a, "nanName", getProp(13));
    a.Append(SetMember(Var("_root"), "_name", Dbl(NAN)));
    Set(a, "nanMemberName", getProp(13));
    Played r(Script(a, version));
    EXPECT_EQ(r.Get("name"), "main") << int(version);
    EXPECT_EQ(r.Get("hidden"), "false") << int(version);
    EXPECT_EQ(r.Get("stillHidden"), "false") << int(version);
    EXPECT_EQ(r.Get("xscale"), "Infinity") << int(version);
    EXPECT_EQ(r.Get("rotation"), "NaN") << int(version);
    EXPECT_EQ(r.Get("alpha"), "0") << int(version);
    EXPECT_EQ(r.Get("hqNegative"), "1") << int(version);
    EXPECT_EQ(r.Get("hqUndefined"), "1") << int(version);
    EXPECT_EQ(r.Get("hqHalf"), "1") << int(version);
    EXPECT_EQ(r.Get("buf"), "2") << int(version);
    EXPECT_EQ(r.Get("bufText"), "2") << int(version);
    EXPECT_EQ(r.Get("bufInfinity"), "-2147483648") << int(version);
    EXPECT_EQ(r.Get("focusNaN"), version >= 6 ? "false" : "0") << int(version);
    EXPECT_EQ(r.Get("nanName"), version >= 7 ? "0" : "NaN") << int(version);
    EXPECT_EQ(r.Get("nanMemberName"), version >= 7 ? "0" : "NaN") << int(version);
  }
}

// A path with a slash or a colon ends in a variable after its last colon
// or dot, whichever is later; past a slash a dot divides no names.
TEST(Avm1Values, SlashPathsEndInTheVariableAfterTheLastDot) {
  Actions a;
  a.Append(Do(Var("_root"), "createEmptyMovieClip", {Str("a"), Int(1)}));
  a.Append(Do(Var("a"), "createEmptyMovieClip", {Str("b"), Int(1)}));
  a.Append(SetMember(Member(Var("a"), "b"), "v", Int(5)));
  Set(a, "slashThenDot", Bin(Str(""), Var("a/b.v"), kAdd2));
  Set(a, "dotThenSlash", Bin(Str(""), Var("a.b/v"), kAdd2));
  Set(a, "dotAfterColon", Bin(Str(""), Var("a:b/.v"), kAdd2));
  Set(a, "dottedChild", Bin(Str(""), Var("a/b.v/"), kAdd2));
  Set(a, "parentDots", Bin(Str(""), Var("a/b/.."), kAdd2));
  Set(a, "slashOnly", Bin(Str(""), Var("a/b"), kAdd2));
  Played r(Script(a));
  EXPECT_EQ(r.Get("slashThenDot"), "5");
  EXPECT_EQ(r.Get("dotThenSlash"), "undefined");
  EXPECT_EQ(r.Get("dotAfterColon"), "5");
  EXPECT_EQ(r.Get("dottedChild"), "undefined");
  EXPECT_EQ(r.Get("parentDots"), "undefined");
  EXPECT_EQ(r.Get("slashOnly"), "_level0.a.b");
}

}  // namespace
}  // namespace quarvel::player::script_test
