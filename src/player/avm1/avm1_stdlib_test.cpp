// The standard library on builder-made movies, against Flash Player's
// documented behaviour: Array sorting, String methods by version, Number,
// Math, the conversion functions and Date in fixed time zones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "player/avm1/avm1_test_script.h"

namespace quarvel::player::script_test {
namespace {

constexpr std::uint8_t kAdd2 = Code(Action::kAdd2), kPop = Code(Action::kPop), kTypeOf = Code(Action::kTypeOf),
                       kInstanceOf = Code(Action::kInstanceOf);

TEST(Avm1Sort, OptionsByFlag) {
  Actions a;
  Set(a, "words", Array({Str("b"), Str("a"), Str("C")}));
  Set(a, "plain", Method(Method(Var("words"), "slice"), "sort"));
  Set(a, "nocase", Method(Method(Var("words"), "slice"), "sort", {Member(Var("Array"), "CASEINSENSITIVE")}));
  Set(a, "nums", Array({Int(10), Int(9), Int(1), Int(100)}));
  Set(a, "asText", Method(Method(Var("nums"), "slice"), "sort"));
  Set(a, "numeric", Method(Method(Var("nums"), "slice"), "sort", {Int(16)}));
  Set(a, "numDesc", Method(Method(Var("nums"), "slice"), "sort", {Int(16 | 2)}));
  // RETURNINDEXEDARRAY leaves the array alone and gives the order.
  Set(a, "indices", Method(Var("nums"), "sort", {Int(16 | 8)}));
  Set(a, "numsAfter", Method(Var("nums"), "join"));
  // UNIQUESORT gives 0 on equal elements and does not sort.
  Set(a, "dups", Array({Int(3), Int(1), Int(3)}));
  Set(a, "unique", Method(Var("dups"), "sort", {Int(4)}));
  Set(a, "dupsAfter", Method(Var("dups"), "join"));
  Set(a, "distinct", Method(Array({Int(3), Int(1), Int(2)}), "sort", {Int(4 | 16)}));
  // A compare function, and one with DESCENDING.
  Actions byValue;
  byValue.Append(Bin(Var("x"), Var("y"), Action::kSubtract)).Raw(Code(Action::kReturn));
  Set(a, "cmp", Function({"x", "y"}, byValue));
  Set(a, "fnSorted", Method(Array({Int(5), Int(20), Int(1)}), "sort", {Var("cmp")}));
  Set(a, "fnDesc", Method(Array({Int(5), Int(20), Int(1)}), "sort", {Var("cmp"), Int(2)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("plain"), "C,a,b");
  EXPECT_EQ(r.Get("nocase"), "a,b,C");
  EXPECT_EQ(r.Get("asText"), "1,10,100,9");
  EXPECT_EQ(r.Get("numeric"), "1,9,10,100");
  EXPECT_EQ(r.Get("numDesc"), "100,10,9,1");
  EXPECT_EQ(r.Get("indices"), "2,1,0,3");
  EXPECT_EQ(r.Get("numsAfter"), "10,9,1,100");
  EXPECT_EQ(r.Get("unique"), "0");
  EXPECT_EQ(r.Get("dupsAfter"), "3,1,3");
  EXPECT_EQ(r.Get("distinct"), "1,2,3");
  EXPECT_EQ(r.Get("fnSorted"), "1,5,20");
  EXPECT_EQ(r.Get("fnDesc"), "20,5,1");
}

// The shuffle idiom sorts by a random comparison: every element stays.
TEST(Avm1Sort, InconsistentCompareFunctionsKeepEveryElement) {
  std::vector<Actions> items;
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    items.push_back(Int(i));
    expected += (i ? "," : "") + std::to_string(i);
  }
  Actions a;
  Set(a, "list", Array(items));
  Actions coin;
  coin.Append(Bin(Method(Var("Math"), "random"), Dbl(0.5), Action::kSubtract)).Raw(Code(Action::kReturn));
  a.Append(Do(Method(Var("list"), "sort", {Function({"x", "y"}, coin)})));
  Set(a, "shuffled", Method(Var("list"), "join"));
  a.Append(Do(Method(Var("list"), "sort", {Int(16)})));
  Set(a, "restored", Method(Var("list"), "join"));
  Played r(Script(a));
  EXPECT_NE(r.Get("shuffled"), expected);
  EXPECT_EQ(r.Get("restored"), expected);
}

// The order in which Flash's sort asks its compare function: each range's
// first element is the pivot and always the first argument. DESCENDING
// turns the sorted array round (equal elements too); UNIQUESORT compares
// neighbours by the plain comparison.
TEST(Avm1Sort, CompareCallsFollowFlashsQuicksort) {
  Actions a;
  Set(a, "calls", Str(""));
  Actions log;
  Set(log, "calls", Bin(Var("calls"), Bin(Bin(Bin(Str(""), Var("x"), Action::kAdd2), Var("y"), Action::kAdd2), Str(" "), Action::kAdd2), Action::kAdd2));
  log.Append(Bin(Var("x"), Var("y"), Action::kSubtract)).Raw(Code(Action::kReturn));
  Set(a, "list", Array({Int(3), Int(1), Int(2)}));
  a.Append(Do(Method(Var("list"), "sort", {Function({"x", "y"}, log)})));
  Set(a, "sorted", Method(Var("list"), "join"));
  Set(a, "pairs", Array({Object({{"k", Int(1)}, {"n", Str("a")}}), Object({{"k", Int(1)}, {"n", Str("b")}})}));
  a.Append(Do(Method(Var("pairs"), "sort", {Function({"x", "y"}, Actions().PushInt(0).Raw(Code(Action::kReturn))), Int(2)})));
  Set(a, "descending", Bin(Member(Member(Var("pairs"), "0"), "n"), Member(Member(Var("pairs"), "1"), "n"), Action::kAdd2));
  Set(a, "unique", Method(Array({Str("a"), Str("A")}), "sort", {Function({"x", "y"}, Actions().PushInt(0).Raw(Code(Action::kReturn))), Int(4)}));
  Set(a, "notUnique", Method(Array({Str("a"), Str("a")}), "sort", {Function({"x", "y"}, Actions().PushInt(1).Raw(Code(Action::kReturn))), Int(4)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("calls"), "31 32 21 ");
  EXPECT_EQ(r.Get("sorted"), "1,2,3");
  EXPECT_EQ(r.Get("descending"), "ba");
  EXPECT_EQ(r.Get("unique"), "a,A") << "the compare function said equal, the plain order did not";
  EXPECT_EQ(r.Get("notUnique"), "0");
}

// sortOn reads each object's own stored field: no getter runs, no
// prototype answers; without arguments it sorts nothing.
TEST(Avm1Sort, SortOnReadsOwnStoredFields) {
  Actions a;
  Set(a, "got", Str(""));
  Actions getter;
  Set(getter, "got", Str("ran"));
  getter.PushInt(1).Raw(Code(Action::kReturn));
  Set(a, "o1", Object({{"name", Str("o1")}}));
  a.Append(Do(Method(Var("o1"), "addProperty", {Str("order"), Function({}, getter), Actions().PushNull()})));
  Set(a, "o2", Object({{"name", Str("o2")}, {"order", Int(2)}}));
  Set(a, "o3", Object({{"name", Str("o3")}, {"__proto__", Object({{"order", Int(0)}})}}));
  Set(a, "list", Array({Var("o2"), Var("o1"), Var("o3")}));
  a.Append(Do(Method(Var("list"), "sortOn", {Str("order"), Int(16)})));
  Set(a, "names", Bin(Bin(Member(Member(Var("list"), "0"), "name"), Member(Member(Var("list"), "1"), "name"), Action::kAdd2),
                      Member(Member(Var("list"), "2"), "name"), Action::kAdd2));
  Set(a, "none", Op(Method(Var("list"), "sortOn"), Code(Action::kTypeOf)));
  Played r(Script(a));
  EXPECT_EQ(r.Get("got"), "");
  // Two undefined fields compare equal as text, after the number 2.
  EXPECT_EQ(r.Get("names"), "o2o1o3");
  EXPECT_EQ(r.Get("none"), "undefined");
}

TEST(Avm1Sort, SortOnFieldsWithOptions) {
  Actions a;
  auto rec = [](const char* name, int age) { return Object({{"name", Str(name)}, {"age", Int(age)}}); };
  Set(a, "people", Array({rec("bob", 30), rec("Al", 9), rec("cy", 30), rec("al", 100)}));
  auto names = [&](const char* var) {
    Actions out = Member(Member(Var("people"), "0"), "name");
    for (int i = 1; i < 4; ++i) {
      out = Bin(Bin(out, Str(","), Action::kAdd2), Member(Member(Var("people"), std::to_string(i)), "name"), Action::kAdd2);
    }
    Actions s;
    Set(s, var, out);
    return s;
  };
  a.Append(Do(Method(Var("people"), "sortOn", {Str("name")})));
  a.Append(names("byName"));
  a.Append(Do(Method(Var("people"), "sortOn", {Str("age"), Int(16)})));
  a.Append(names("byAge"));
  // Several fields, each with its own options: age descending, then name ignoring case.
  a.Append(Do(Method(Var("people"), "sortOn", {Array({Str("age"), Str("name")}), Array({Int(16 | 2), Int(1)})})));
  a.Append(names("byBoth"));
  Set(a, "order", Method(Var("people"), "sortOn", {Str("name"), Int(8 | 1)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("byName"), "Al,al,bob,cy");
  // Flash's quicksort does not keep equal elements (bob, cy) in order.
  EXPECT_EQ(r.Get("byAge"), "Al,cy,bob,al");
  EXPECT_EQ(r.Get("byBoth"), "al,bob,cy,Al");
  EXPECT_EQ(r.Get("order"), "0,3,1,2");
}

TEST(Avm1Arrays, SpliceSliceConcatAndEnds) {
  Actions a;
  Set(a, "arr", Array({Int(1), Int(2), Int(3), Int(4), Int(5)}));
  Set(a, "cut", Method(Var("arr"), "splice", {Int(1), Int(2), Str("x"), Str("y"), Str("z")}));
  Set(a, "afterCut", Method(Var("arr"), "join"));
  Set(a, "tail", Method(Var("arr"), "splice", {Int(-2)}));
  Set(a, "afterTail", Method(Var("arr"), "join"));
  Set(a, "none", Op(Method(Var("arr"), "splice", {Int(1), Int(-1)}), kTypeOf));
  Set(a, "sliced", Method(Array({Int(1), Int(2), Int(3), Int(4)}), "slice", {Int(-3), Int(-1)}));
  // concat flattens one level: a nested array stays one element.
  Set(a, "cat", Method(Array({Int(1)}), "concat", {Int(2), Array({Int(3), Array({Int(4), Int(5)})})}));
  Set(a, "catLength", Member(Var("cat"), "length"));
  Set(a, "ends", Array({Int(1), Int(2)}));
  Set(a, "unshifted", Method(Var("ends"), "unshift", {Int(7), Int(8)}));
  Set(a, "shifted", Method(Var("ends"), "shift"));
  Set(a, "popped", Method(Var("ends"), "pop"));
  Set(a, "endsAfter", Method(Var("ends"), "toString"));
  Set(a, "reversed", Method(Array({Int(1), Int(2), Int(3)}), "reverse"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("cut"), "2,3");
  EXPECT_EQ(r.Get("afterCut"), "1,x,y,z,4,5");
  EXPECT_EQ(r.Get("tail"), "4,5");
  EXPECT_EQ(r.Get("afterTail"), "1,x,y,z");
  EXPECT_EQ(r.Get("none"), "undefined");
  EXPECT_EQ(r.Get("sliced"), "2,3");
  EXPECT_EQ(r.Get("cat"), "1,2,3,4,5");
  EXPECT_EQ(r.Get("catLength"), "4");
  EXPECT_EQ(r.Get("unshifted"), "4");
  EXPECT_EQ(r.Get("shifted"), "7");
  EXPECT_EQ(r.Get("popped"), "2");
  EXPECT_EQ(r.Get("endsAfter"), "8,1");
  EXPECT_EQ(r.Get("reversed"), "3,2,1");
}

// Arrays are property sets with a length of their own: holes are missing
// properties, for..in lists elements newest first like other properties,
// and the methods move elements one by one (deleting and making anew).
TEST(Avm1Arrays, HolesAreMissingPropertiesInEnumerationOrder) {
  auto keys = [](const Actions& arr) {
    Actions a;
    Set(a, "k", Str(""));
    a.Append(ForIn(arr, [] {
      Actions body;
      return Set(body, "k", Bin(Bin(Var("k"), Actions().PushRegister(0), kAdd2), Str(","), kAdd2));
    }()));
    return a;
  };
  Actions a;
  Set(a, "sparse", New("Array", {Int(16)}));
  a.Append(SetMember(Var("sparse"), "1", Undef()));
  a.Append(SetMember(Var("sparse"), "0", Str("zero")));
  a.Append(SetMember(Var("sparse"), "foo", Str("foo")));
  a.Append(SetMember(Var("sparse"), "5", Str("five")));
  a.Append(keys(Var("sparse")));
  Set(a, "sparseKeys", Var("k"));
  Set(a, "sparseLength", Member(Var("sparse"), "length"));
  Set(a, "has3", Method(Var("sparse"), "hasOwnProperty", {Int(3)}));
  Set(a, "has1", Method(Var("sparse"), "hasOwnProperty", {Int(1)}));
  // reverse swaps pairs from the ends: holes it passes become elements,
  // the middle one stays a hole.
  Set(a, "r", Array({}));
  a.Append(SetMember(Var("r"), "6", Int(4)));
  a.Append(Do(Var("r"), "reverse", {}));
  a.Append(keys(Var("r")));
  Set(a, "reversedKeys", Var("k"));
  Set(a, "reversed", Method(Var("r"), "join"));
  // shift moves every element down: the holes fill in.
  Set(a, "s", Array({}));
  a.Append(SetMember(Var("s"), "4", Int(4)));
  a.Append(Do(Var("s"), "shift", {}));
  a.Append(keys(Var("s")));
  Set(a, "shiftedKeys", Var("k"));
  // A protected element keeps its place and value; the length still drops.
  Set(a, "p", Array({Int(1), Int(2), Int(3)}));
  a.Append(Call("ASSetPropFlags", {Var("p"), Str("2"), Int(2)})).Raw(kPop);
  a.Append(Do(Var("p"), "shift", {}));
  a.Append(keys(Var("p")));
  Set(a, "protectedKeys", Var("k"));
  Set(a, "protectedLength", Member(Var("p"), "length"));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("sparseKeys"), "5,foo,0,1,");
  EXPECT_EQ(r.Get("sparseLength"), "16");
  EXPECT_EQ(r.Get("has3"), "false");
  EXPECT_EQ(r.Get("has1"), "true");
  EXPECT_EQ(r.Get("reversedKeys"), "4,2,5,1,6,0,");
  EXPECT_EQ(r.Get("reversed"), "4,undefined,undefined,undefined,undefined,undefined,undefined");
  EXPECT_EQ(r.Get("shiftedKeys"), "3,2,1,0,");
  EXPECT_EQ(r.Get("protectedKeys"), "1,0,2,");
  EXPECT_EQ(r.Get("protectedLength"), "2");
}

// The length is a signed 32-bit integer: a write at or past it stretches
// it (wrapping), a shorter length deletes the elements cut off, and names
// that are no array positions leave it alone.
// super() into Array makes the object itself an array: its length follows
// writes even once its prototype is no longer Array's; new Array keeps its
// two forms.
TEST(Avm1Arrays, SuperIntoArrayMakesTheObjectAnArray) {
  Actions a;
  const Actions superCall = PushArgs({Str("x")}).PushString("super").Raw(Code(Action::kGetVariable)).PushUndefined()
                                .Raw(Code(Action::kCallMethod)).Raw(kPop);
  Set(a, "proto", Object({{"__proto__", Member(Var("Array"), "prototype")},
                          {"__constructor__", Var("Array")},
                          {"init", Function({}, superCall)}}));
  Set(a, "o", Object({}));
  a.Append(SetMember(Var("o"), "__proto__", Var("proto")));
  a.Append(Do(Var("o"), "init", {}));
  a.Append(SetMember(Var("o"), "__proto__", Member(Var("Object"), "prototype")));
  a.Append(SetMember(Var("o"), "5", Str("y")));
  Set(a, "upgraded", Member(Var("o"), "length"));
  Set(a, "first", Member(Var("o"), "0"));
  Set(a, "plain", Object({}));
  a.Append(SetMember(Var("plain"), "5", Str("y")));
  Set(a, "plainLength", Op(Member(Var("plain"), "length"), kTypeOf));
  Set(a, "sized", Member(New("Array", {Int(3)}), "length"));
  Set(a, "listed", Method(New("Array", {Str("a"), Str("b")}), "join", {Str("-")}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("upgraded"), "6");
  EXPECT_EQ(r.Get("first"), "x");
  EXPECT_EQ(r.Get("plainLength"), "undefined");
  EXPECT_EQ(r.Get("sized"), "3");
  EXPECT_EQ(r.Get("listed"), "a-b");
}

TEST(Avm1Arrays, LengthFollowsWritesAndCutsElements) {
  Actions a;
  Set(a, "a", Array({}));
  a.Append(SetMember(Var("a"), "0", Str("x")));
  a.Append(SetMember(Var("a"), "length", Int(0)));
  Set(a, "cut", Actions().Append(Member(Var("a"), "0")).Raw(kTypeOf));
  a.Append(SetMember(Var("a"), "3", Str("x")));
  a.Append(SetMember(Var("a"), "-5", Str("x")));
  a.Append(SetMember(Var("a"), "2147483648", Str("x")));
  Set(a, "len4", Member(Var("a"), "length"));
  a.Append(SetMember(Var("a"), "2147483647", Str("x")));
  Set(a, "wrapped", Member(Var("a"), "length"));
  Set(a, "has3", Method(Var("a"), "hasOwnProperty", {Int(3)}));
  Set(a, "neg", Member(New("Array", {Int(-1)}), "length"));
  // Only a number is a length: new Array("3") holds "3".
  Set(a, "text", Method(New("Array", {Str("3")}), "join"));
  Set(a, "spliceUndef", Actions().Append(Method(Array({Int(1), Int(2)}), "splice", {Undef()})).Raw(kTypeOf));
  Set(a, "spliceCountUndef",
      Actions().Append(Method(Array({Int(1), Int(2)}), "splice", {Int(0), Undef()})).Raw(kTypeOf));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("cut"), "undefined");
  EXPECT_EQ(r.Get("len4"), "4");
  EXPECT_EQ(r.Get("wrapped"), "-2147483648");
  EXPECT_EQ(r.Get("has3"), "false");
  EXPECT_EQ(r.Get("neg"), "-1");
  EXPECT_EQ(r.Get("text"), "3");
  EXPECT_EQ(r.Get("spliceUndef"), "undefined");
  EXPECT_EQ(r.Get("spliceCountUndef"), "undefined");
}

// Error: name and message come from the prototype until given.
TEST(Avm1Errors, MessageAndNameFromThePrototype) {
  Actions a;
  Set(a, "plain", Method(New("Error", {}), "toString"));
  Set(a, "e", New("Error", {Str("boom")}));
  Set(a, "text", Method(Var("e"), "toString"));
  Set(a, "name", Member(Var("e"), "name"));
  Set(a, "ownName", Method(Var("e"), "hasOwnProperty", {Str("name")}));
  Set(a, "ownMessage", Method(Var("e"), "hasOwnProperty", {Str("message")}));
  Set(a, "undef", Member(New("Error", {Undef()}), "message"));
  Set(a, "isError", Actions().Append(Var("e")).Append(Var("Error")).Raw(kInstanceOf));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("plain"), "Error");
  EXPECT_EQ(r.Get("text"), "boom");
  EXPECT_EQ(r.Get("name"), "Error");
  EXPECT_EQ(r.Get("ownName"), "false");
  EXPECT_EQ(r.Get("ownMessage"), "true");
  EXPECT_EQ(r.Get("undef"), "Error");
  EXPECT_EQ(r.Get("isError"), "true");
}

TEST(Avm1Strings, MethodsWithAllArgumentForms) {
  Actions a;
  Set(a, "lim", Method(Method(Str("a,b,c,d"), "split", {Str(","), Int(2)}), "join", {Str("|")}));
  Set(a, "chars", Method(Method(Str("abc"), "split", {Str("")}), "join", {Str("|")}));
  Set(a, "whole", Member(Method(Str("a,b"), "split"), "length"));
  Set(a, "zero", Member(Method(Str("a,b"), "split", {Str(","), Int(0)}), "length"));
  Set(a, "negSub", Method(Str("hello"), "substr", {Int(-3), Int(2)}));
  Set(a, "negLen", Method(Str("hello"), "substr", {Int(1), Int(-2)}));
  Set(a, "swapped", Method(Str("hello"), "substring", {Int(4), Int(1)}));
  Set(a, "sliced", Method(Str("abcdef"), "slice", {Int(-3), Int(-1)}));
  Set(a, "from", Method(Str("hello"), "indexOf", {Str("l"), Int(3)}));
  Set(a, "missing", Method(Str("hello"), "indexOf", {Str("z")}));
  Set(a, "last", Method(Str("hello"), "lastIndexOf", {Str("l")}));
  Set(a, "lastFrom", Method(Str("hello"), "lastIndexOf", {Str("l"), Int(2)}));
  Set(a, "codeOut", Method(Str("abc"), "charCodeAt", {Int(5)}));
  Set(a, "code", Method(Str("abc"), "charCodeAt", {Int(1)}));
  Set(a, "charOut", Method(Str("abc"), "charAt", {Int(-1)}));
  Set(a, "fromCodes", Method(Var("String"), "fromCharCode", {Int(72), Int(105), Int(33)}));
  Set(a, "joined", Method(Str("ab"), "concat", {Str("c"), Int(1), Actions().PushBool(true)}));
  Set(a, "upper", Method(Str("mixed Case 1"), "toUpperCase"));
  Set(a, "lower", Method(Str("MIXED Case 1"), "toLowerCase"));
  Set(a, "wrapped", Member(New("String", {Str("four")}), "length"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("lim"), "a|b");
  EXPECT_EQ(r.Get("chars"), "a|b|c");
  EXPECT_EQ(r.Get("whole"), "1");
  EXPECT_EQ(r.Get("zero"), "0");
  EXPECT_EQ(r.Get("negSub"), "ll");
  EXPECT_EQ(r.Get("negLen"), "ell");  // a negative length counts back from the end
  EXPECT_EQ(r.Get("swapped"), "ell");
  EXPECT_EQ(r.Get("sliced"), "de");
  EXPECT_EQ(r.Get("from"), "3");
  EXPECT_EQ(r.Get("missing"), "-1");
  EXPECT_EQ(r.Get("last"), "3");
  EXPECT_EQ(r.Get("lastFrom"), "2");
  EXPECT_EQ(r.Get("codeOut"), "NaN");
  EXPECT_EQ(r.Get("code"), "98");
  EXPECT_EQ(r.Get("charOut"), "");
  EXPECT_EQ(r.Get("fromCodes"), "Hi!");
  EXPECT_EQ(r.Get("joined"), "abc1true");
  EXPECT_EQ(r.Get("upper"), "MIXED CASE 1");
  EXPECT_EQ(r.Get("lower"), "mixed case 1");
  EXPECT_EQ(r.Get("wrapped"), "4");
}

TEST(Avm1Strings, CharactersAreUnicodeFromVersion6AndBytesBefore) {
  const std::string word = "h\xC3\xA9llo";  // "héllo" in UTF-8
  Actions a;
  Set(a, "len", Member(Str(word), "length"));
  Set(a, "second", Method(Str(word), "charAt", {Int(1)}));
  Set(a, "code", Method(Str(word), "charCodeAt", {Int(1)}));
  Set(a, "upper", Method(Str(word), "toUpperCase"));
  Set(a, "tail", Method(Str(word), "substr", {Int(2)}));
  Set(a, "eAcute", Method(Var("String"), "fromCharCode", {Int(0xE9)}));
  Played v6(Script(a, 6));
  EXPECT_EQ(v6.Get("len"), "5");
  EXPECT_EQ(v6.Get("second"), "\xC3\xA9");
  EXPECT_EQ(v6.Get("code"), "233");
  EXPECT_EQ(v6.Get("upper"), "H\xC3\x89LLO");
  EXPECT_EQ(v6.Get("tail"), "llo");
  EXPECT_EQ(v6.Get("eAcute"), "\xC3\xA9");
  Played v5(Script(a, 5));
  EXPECT_EQ(v5.Get("code"), "195");
  EXPECT_EQ(v5.Get("tail"), "\xA9llo");
  EXPECT_EQ(v5.Get("eAcute"), "\xE9");
}

TEST(Avm1Numbers, ConversionsRadixesAndMath) {
  Actions a;
  Set(a, "hex", Method(Dbl(255), "toString", {Int(16)}));
  Set(a, "bin", Method(Dbl(-255), "toString", {Int(2)}));
  Set(a, "dec", Method(Dbl(2.5), "toString"));
  Set(a, "wrappedNum", Bin(New("Number", {Int(4)}), Int(1), Action::kAdd2));
  Set(a, "boolText", Method(New("Boolean", {Int(1)}), "toString"));
  Set(a, "fromHex", Call("Number", {Str("0x10")}));
  Set(a, "fromWord", Call("Number", {Str("12px")}));
  Set(a, "roundHalf", Method(Var("Math"), "round", {Dbl(2.5)}));
  Set(a, "roundNegHalf", Method(Var("Math"), "round", {Dbl(-2.5)}));
  Set(a, "roundNeg", Method(Var("Math"), "round", {Dbl(-2.6)}));
  Set(a, "maxNone", Method(Var("Math"), "max"));
  Set(a, "minNone", Method(Var("Math"), "min"));
  Set(a, "maxNaN", Method(Var("Math"), "max", {Int(1), Str("x")}));
  Set(a, "pow", Method(Var("Math"), "pow", {Int(2), Int(10)}));
  Set(a, "atan2", Method(Var("Math"), "atan2", {Int(1), Int(1)}));
  Set(a, "noArg", Method(Var("Math"), "abs"));
  Set(a, "pi", Member(Var("Math"), "PI"));
  Set(a, "maxValue", Member(Var("Number"), "MAX_VALUE"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("hex"), "ff");
  EXPECT_EQ(r.Get("bin"), "-11111111");
  EXPECT_EQ(r.Get("dec"), "2.5");
  EXPECT_EQ(r.Get("wrappedNum"), "5");
  EXPECT_EQ(r.Get("boolText"), "true");
  EXPECT_EQ(r.Get("fromHex"), "16");
  EXPECT_EQ(r.Get("fromWord"), "NaN");
  EXPECT_EQ(r.Get("roundHalf"), "3");
  EXPECT_EQ(r.Get("roundNegHalf"), "-2");
  EXPECT_EQ(r.Get("roundNeg"), "-3");
  EXPECT_EQ(r.Get("maxNone"), "-Infinity");
  EXPECT_EQ(r.Get("minNone"), "Infinity");
  EXPECT_EQ(r.Get("maxNaN"), "NaN");
  EXPECT_EQ(r.Get("pow"), "1024");
  EXPECT_EQ(r.Get("atan2"), "0.785398163397448");
  EXPECT_EQ(r.Get("noArg"), "NaN");
  EXPECT_EQ(r.Get("pi"), "3.14159265358979");
  EXPECT_EQ(r.Get("maxValue"), "1.79769313486231e+308");  // digits cut, not rounded
}

TEST(Avm1Globals, ParsingEscapingAndVersion) {
  Actions a;
  Set(a, "signed", Call("parseInt", {Str("  -12px")}));
  Set(a, "hex", Call("parseInt", {Str("0x1F")}));
  Set(a, "negHex", Call("parseInt", {Str("-0xff")}));
  Set(a, "octal", Call("parseInt", {Str("010")}));
  Set(a, "notOctal", Call("parseInt", {Str("089")}));
  Set(a, "radix", Call("parseInt", {Str("ff"), Int(16)}));
  Set(a, "radix2", Call("parseInt", {Str("1012"), Int(2)}));
  Set(a, "badRadix", Call("parseInt", {Str("1"), Int(37)}));
  Set(a, "empty", Call("parseInt", {Str("px")}));
  Set(a, "float", Call("parseFloat", {Str(" 3.5e2abc")}));
  Set(a, "floatDot", Call("parseFloat", {Str(".5.5")}));
  // Later dots are passed over but end the exponent's chance; the exponent
  // wraps at 32 bits; digits are scaled one by one and summed.
  Set(a, "floatDots", Call("parseFloat", {Str("1.2345.6e50")}));
  Set(a, "floatWrap", Call("parseFloat", {Str("1e4294967297")}));
  Set(a, "floatSum", Bin(Call("parseFloat", {Str(".1499999")}), Dbl(0.14999990000000005), Code(Action::kStrictEquals)));
  Set(a, "floatInf", Call("parseFloat", {Str("Infinity")}));
  Set(a, "nan", Call("isNaN", {Str("abc")}));
  Set(a, "finite", Call("isFinite", {Str("12")}));
  Set(a, "escaped", Call("escape", {Str("a b&c=d/\xC3\xA9")}));
  Set(a, "unescaped", Call("unescape", {Str("%41%20b+c%2")}));
  Set(a, "version", Call("getVersion"));
  Set(a, "versionVar", Var("$version"));
  Set(a, "fnText", Method(Function({}, Actions()), "toString"));
  Set(a, "objText", Method(Object({}), "toString"));
  Played v8(Script(a));
  EXPECT_EQ(v8.Get("signed"), "-12");
  EXPECT_EQ(v8.Get("hex"), "31");
  EXPECT_EQ(v8.Get("negHex"), "NaN");  // a sign before 0x spoils it
  EXPECT_EQ(v8.Get("octal"), "8");
  EXPECT_EQ(v8.Get("notOctal"), "89");
  EXPECT_EQ(v8.Get("radix"), "255");
  EXPECT_EQ(v8.Get("radix2"), "5");
  EXPECT_EQ(v8.Get("badRadix"), "NaN");
  EXPECT_EQ(v8.Get("empty"), "NaN");
  EXPECT_EQ(v8.Get("float"), "350");
  EXPECT_EQ(v8.Get("floatDot"), "0.55");
  EXPECT_EQ(v8.Get("floatDots"), "1.23456");
  EXPECT_EQ(v8.Get("floatWrap"), "10");
  EXPECT_EQ(v8.Get("floatSum"), "true");
  EXPECT_EQ(v8.Get("floatInf"), "NaN");
  EXPECT_EQ(v8.Get("nan"), "true");
  EXPECT_EQ(v8.Get("finite"), "true");
  EXPECT_EQ(v8.Get("escaped"), "a%20b%26c%3Dd%2F%C3%A9");
  EXPECT_EQ(v8.Get("unescaped"), "A b c");  // + is a space; a cut escape goes
  EXPECT_EQ(v8.Get("version"), "LNX 8,0,24,0");
  EXPECT_EQ(v8.Get("versionVar"), "LNX 8,0,24,0");
  EXPECT_EQ(v8.Get("fnText"), "[type Function]");
  EXPECT_EQ(v8.Get("objText"), "[object Object]");
  Played v5(Script(a, 5));
  EXPECT_EQ(v5.Get("octal"), "8");  // parseInt reads octal in every version
}

// Runs the tests of one time zone and puts the old one back.
class ZoneTest : public ::testing::Test {
 protected:
  void UseZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) saved_ = old, hadZone_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  void TearDown() override {
    if (hadZone_) setenv("TZ", saved_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool hadZone_ = false;
};

TEST_F(ZoneTest, DateFieldsArithmeticAndText) {
  UseZone("UTC0");
  Actions a;
  Set(a, "d", New("Date", {Int(2026), Int(11), Int(8), Int(11), Int(16), Int(40)}));
  Set(a, "text", Method(Var("d"), "toString"));
  Set(a, "day", Method(Var("d"), "getDay"));
  Set(a, "time", Method(Var("d"), "getTime"));
  Set(a, "utc", Method(Var("Date"), "UTC", {Int(2000), Int(0), Int(1)}));
  Set(a, "century", Method(New("Date", {Int(99), Int(0)}), "getFullYear"));
  Set(a, "yearField", Method(New("Date", {Int(2005), Int(0)}), "getYear"));
  // Months run over into the next: 31 January 2000 moved to February is 2 March (a leap year).
  Set(a, "over", New("Date", {Int(2000), Int(0), Int(31)}));
  a.Append(Do(Method(Var("over"), "setMonth", {Int(1)})));
  Set(a, "overMonth", Method(Var("over"), "getMonth"));
  Set(a, "overDate", Method(Var("over"), "getDate"));
  Set(a, "eve", New("Date", {Int(2001), Int(2), Int(1)}));
  a.Append(Do(Method(Var("eve"), "setDate", {Int(0)})));
  Set(a, "lastOfFeb", Method(Var("eve"), "getDate"));
  Set(a, "later", New("Date", {Int(2026), Int(11), Int(9), Int(11), Int(16), Int(40)}));
  Set(a, "diff", Bin(Var("later"), Var("d"), Action::kSubtract));
  Set(a, "setReturn", Method(Var("later"), "setHours", {Int(25), Int(1)}));
  Set(a, "afterSet", Method(Var("later"), "toString"));
  Set(a, "bad", Method(New("Date", {Dbl(std::nan(""))}), "toString"));
  Set(a, "badYear", Method(New("Date", {Dbl(std::nan(""))}), "getFullYear"));
  Set(a, "before1970", Method(New("Date", {Dbl(-1)}), "getUTCFullYear"));
  Set(a, "now", Method(New("Date"), "getFullYear"));
  Set(a, "called", Call("Date"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("text"), "Tue Dec 8 11:16:40 GMT+0000 2026");
  EXPECT_EQ(r.Get("day"), "2");
  EXPECT_EQ(r.Get("time"), "1796728600000");
  EXPECT_EQ(r.Get("utc"), "946684800000");
  EXPECT_EQ(r.Get("century"), "1999");
  EXPECT_EQ(r.Get("yearField"), "105");
  EXPECT_EQ(r.Get("overMonth"), "2");
  EXPECT_EQ(r.Get("overDate"), "2");
  EXPECT_EQ(r.Get("lastOfFeb"), "28");
  EXPECT_EQ(r.Get("diff"), "86400000");
  EXPECT_EQ(r.Get("afterSet"), "Thu Dec 10 01:01:40 GMT+0000 2026");
  EXPECT_EQ(r.Get("setReturn"), "1796864500000");
  EXPECT_EQ(r.Get("bad"), "Invalid Date");
  EXPECT_EQ(r.Get("badYear"), "NaN");
  EXPECT_EQ(r.Get("before1970"), "1969");
  EXPECT_GE(std::atoi(r.Get("now").c_str()), 2024);
  EXPECT_NE(r.Get("called").find("GMT"), std::string::npos);
}

TEST_F(ZoneTest, LocalTimeFollowsTheZoneAndItsSummerTime) {
  UseZone("EST5EDT,M3.2.0,M11.1.0");
  Actions a;
  Set(a, "winter", New("Date", {Int(2026), Int(0), Int(15), Int(12)}));
  Set(a, "summer", New("Date", {Int(2026), Int(6), Int(15), Int(12)}));
  Set(a, "winterOffset", Method(Var("winter"), "getTimezoneOffset"));
  Set(a, "summerOffset", Method(Var("summer"), "getTimezoneOffset"));
  Set(a, "winterUtcHours", Method(Var("winter"), "getUTCHours"));
  Set(a, "summerUtcHours", Method(Var("summer"), "getUTCHours"));
  Set(a, "summerText", Method(Var("summer"), "toString"));
  // A UTC setter moves the local time by the zone's offset.
  a.Append(Do(Method(Var("winter"), "setUTCHours", {Int(3)})));
  Set(a, "localAfterUtc", Method(Var("winter"), "getHours"));
  Set(a, "dateAfterUtc", Method(Var("winter"), "getDate"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("winterOffset"), "300");
  EXPECT_EQ(r.Get("summerOffset"), "240");
  EXPECT_EQ(r.Get("winterUtcHours"), "17");
  EXPECT_EQ(r.Get("summerUtcHours"), "16");
  EXPECT_EQ(r.Get("summerText"), "Wed Jul 15 12:00:00 GMT-0400 2026");
  EXPECT_EQ(r.Get("localAfterUtc"), "22");
  EXPECT_EQ(r.Get("dateAfterUtc"), "14");
}

// ASnative(table, index) gives Flash's built-ins by number: exactly two
// arguments taken as 32-bit integers; numbers naming nothing give
// undefined. ASSetNative puts a run of them on an object by name, an empty
// name passing a number by.
TEST(Avm1Globals, NativeFunctionsByNumber) {
  Actions a;
  Set(a, "escaped", Actions().Append(PushArgs({Str("&")})).Append(Call("ASnative", {Int(100), Dbl(4294967296.0)})).PushString("").Raw(Code(Action::kCallMethod)));
  Set(a, "unescapeType", Op(Call("ASnative", {Str("100"), Str("1")}), kTypeOf));
  Set(a, "threeArgs", Op(Call("ASnative", {Int(100), Int(0), Int(0)}), kTypeOf));
  Set(a, "oneArg", Op(Call("ASnative", {Int(100)}), kTypeOf));
  Set(a, "noTable", Op(Call("ASnative", {Str("x"), Int(0)}), kTypeOf));
  Set(a, "pastEnd", Op(Call("ASnative", {Int(100), Int(0x10004)}), kTypeOf));
  Set(a, "d", New("Date", {Int(1234)}));
  a.Append(Do(Call("ASSetNative", {Var("d"), Int(103), Str(",getT,getTz"), Int(15)})));
  Set(a, "time", Method(Var("d"), "getT"));
  Set(a, "tzType", Op(Member(Var("d"), "getTz"), kTypeOf));
  Played r(Script(a));
  EXPECT_EQ(r.Get("escaped"), "%26");
  EXPECT_EQ(r.Get("unescapeType"), "function");
  EXPECT_EQ(r.Get("threeArgs"), "undefined");
  EXPECT_EQ(r.Get("oneArg"), "undefined");
  EXPECT_EQ(r.Get("noTable"), "undefined");
  EXPECT_EQ(r.Get("pastEnd"), "undefined");
  EXPECT_EQ(r.Get("time"), "1234");
  EXPECT_EQ(r.Get("tzType"), "function");
}

// A name's leading digit asks for a SWF version (6 to 9, "10"): the native
// is there but hidden from older movies, unless the name was already a
// property. Other digits stay in the name ("2c"), and a "1" not followed
// by "0" is dropped. ASSetNativeAccessor makes getter and setter pairs.
TEST(Avm1Globals, NativeNamesCarryVersions) {
  Actions a;
  Set(a, "o", Object({{"h", Str("kept")}}));
  a.Append(Do(Call("ASSetNative", {Var("o"), Int(200), Str("6a,8b,2c,11d,10e,8h")})));
  Set(a, "aType", Op(Member(Var("o"), "a"), kTypeOf));
  Set(a, "bType", Op(Member(Var("o"), "b"), kTypeOf));
  Set(a, "cType", Op(Member(Var("o"), "2c"), kTypeOf));
  Set(a, "dType", Op(Member(Var("o"), "1d"), kTypeOf));
  Set(a, "eType", Op(Member(Var("o"), "e"), kTypeOf));
  Set(a, "hType", Op(Member(Var("o"), "h"), kTypeOf));
  Set(a, "acc", Object({}));
  a.Append(Do(Call("ASSetNativeAccessor", {Var("acc"), Int(200), Str("x,7y")})));
  Set(a, "x", Member(Var("acc"), "x"));
  Set(a, "y", Member(Var("acc"), "y"));
  Played r(Script(a, 7));
  EXPECT_EQ(r.Get("aType"), "function");
  EXPECT_EQ(r.Get("bType"), "undefined");
  EXPECT_EQ(r.Get("cType"), "function");
  EXPECT_EQ(r.Get("dType"), "function");
  EXPECT_EQ(r.Get("eType"), "undefined");
  EXPECT_EQ(r.Get("hType"), "function");
  EXPECT_EQ(r.Get("x"), "NaN");        // Math.abs() through the getter (min its setter)
  EXPECT_EQ(r.Get("y"), "-Infinity");  // the next pair: Math.max()
}

// ASnative(2, 0) tells whether the script function running was called by
// `new`; native calls in between (call, apply) are seen through, a
// function it calls is not.
TEST(Avm1Globals, NativeAsNewSeesTheConstructorCall) {
  Actions a;
  Set(a, "_global.asnew", Call("ASnative", {Int(2), Int(0)}));
  Actions body;
  Set(body, "_global.log", Bin(Var("_global.log"), Bin(Str(","), Call("asnew"), Action::kAdd2), Action::kAdd2));
  Set(body, "_global.log",
      Bin(Var("_global.log"), Bin(Str(","), Method(Var("asnew"), "call", {Actions().PushNull()}), Action::kAdd2),
          Action::kAdd2));
  Set(body, "inner", Function({}, Actions().Append(Call("asnew")).Raw(Code(Action::kReturn))));
  Set(body, "_global.log",
      Bin(Var("_global.log"), Bin(Str(","), Call("inner"), Action::kAdd2), Action::kAdd2));
  Set(a, "F", Function({}, body));
  Set(a, "_global.log", Str("call"));
  a.Append(Do(Call("F")));
  Set(a, "plain", Var("_global.log"));
  Set(a, "_global.log", Str("new"));
  a.Append(Do(New("F")));
  Set(a, "built", Var("_global.log"));
  Set(a, "top", Call("asnew"));
  Played r(Script(a));
  EXPECT_EQ(r.Get("plain"), "call,false,false,false");
  EXPECT_EQ(r.Get("built"), "new,true,true,false");
  EXPECT_EQ(r.Get("top"), "false");
}

// Number.toString(radix) writes the value as a 32-bit integer converted as
// the processor does: NaN and numbers out of range are -2^31, whose
// remainders come out negative, as the characters below '0'.
TEST(Avm1Numbers, RadixDigitsOfA32BitInteger) {
  Actions a;
  Set(a, "bin", Method(Num(-5.9), "toString", {Int(2)}));
  Set(a, "nan2", Method(Dbl(NAN), "toString", {Int(2)}));
  Set(a, "nan4", Method(Dbl(NAN), "toString", {Int(4)}));
  Set(a, "big8", Method(Dbl(1e10), "toString", {Int(8)}));
  Played r(Script(a));
  EXPECT_EQ(r.Get("bin"), "-101");
  EXPECT_EQ(r.Get("nan2"), "-/" + std::string(31, '0'));
  EXPECT_EQ(r.Get("nan4"), "-." + std::string(15, '0'));
  EXPECT_EQ(r.Get("big8"), "-." + std::string(10, '0'));
}

}  // namespace
}  // namespace quarvel::player::script_test
