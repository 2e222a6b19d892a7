// Rules of the core library that follow the SWF version a movie was made
// for: each case runs the same code as an older movie and as a new one.
#include <gtest/gtest.h>

#include "player/avm2/machine_test_support.h"

namespace quarvel::avm2 {
namespace {

class SwfVersion : public As3 {
 protected:
  // The traces of `body` run as a movie of `version`.
  std::string RunAs(int version, const std::function<void(AbcCode&)>& body) {
    traced.clear();
    logged.clear();
    // A fresh block each run: its first namespace gets `pub`'s index again.
    a = AbcBuilder();
    EXPECT_EQ(a.Namespace(NamespaceKind::kPackage, ""), pub);
    swfVersion = version;
    AbcCode c;
    body(c);
    const bool ok = Run(c);
    return (ok ? "" : "failed:") + Traced();
  }
  void ParseFloat(AbcCode& c, std::string_view text) {
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q("parseFloat")}).Op("pushstring", {S(text)}).Op("callproperty", {Q("parseFloat"), 1});
    });
  }
  // [values...].sort(how) traced.
  void Sorted(AbcCode& c, std::initializer_list<double> values, const std::function<void(AbcCode&)>& how, int argc) {
    Trace(c, [&](AbcCode& x) {
      for (double v : values) x.Op("pushdouble", {a.Double(v)});
      x.Op("newarray", {static_cast<std::int64_t>(values.size())});
      how(x);
      x.Op("callproperty", {Q("sort"), argc});
    });
  }
};

TEST_F(SwfVersion, ParseFloatBeforeSwf11StartsTheFractionAgainAtASecondPoint) {
  const auto body = [&](AbcCode& c) {
    ParseFloat(c, "1.2345.678");
    ParseFloat(c, "1.2345.6e50");  // no exponent after the second point
    ParseFloat(c, "1.5e2");
    ParseFloat(c, "12.");
  };
  EXPECT_EQ(RunAs(10, body), "12345.678|12345.6|150|12|");
  EXPECT_EQ(RunAs(11, body), "1.2345|1.2345|150|12|");
  EXPECT_EQ(RunAs(0, body), "1.2345|1.2345|150|12|");
}

TEST_F(SwfVersion, JsonIsThereFromSwf13) {
  const auto body = [&](AbcCode& c) { Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("JSON")}); }); };
  EXPECT_EQ(RunAs(13, body), "[class JSON]|");
  EXPECT_EQ(RunAs(0, body), "[class JSON]|");
  const std::string old = RunAs(12, body);
  EXPECT_EQ(old.rfind("failed:ReferenceError: Error #1065: Variable JSON is not defined.", 0), 0u) << old;
}

TEST_F(SwfVersion, SortCompareResultsAreCutToIntegersBeforeSwf13) {
  const auto body = [&](AbcCode& c) {
    AbcCode cmp;  // function (a, b) { return a - b }
    cmp.Op("getlocal_1").Op("getlocal_2").Op("subtract").Op("returnvalue");
    const auto fn = Fn(cmp, 2);
    Sorted(c, {2.1, 2, 1.9}, [&](AbcCode& x) { x.Op("newfunction", {fn}); }, 1);
  };
  // 2.1 - 2 and 2 - 1.9 are 0.1: equal once cut, so nothing moves.
  EXPECT_EQ(RunAs(12, body), "2.1,2,1.9|");
  EXPECT_EQ(RunAs(13, body), "1.9,2,2.1|");
}

TEST_F(SwfVersion, NumericSortBeforeSwf11WrapsTheDifferenceOfSmallWholeNumbers) {
  const auto numeric = [&](AbcCode& x) { x.Op("pushbyte", {16}); };
  const auto body = [&](AbcCode& c) {
    // Held as tagged 29-bit words, 87000000 - -245000000 wraps below zero.
    Sorted(c, {87000000, -245000000}, numeric, 1);
    // Past 29 bits numbers compare as numbers.
    Sorted(c, {287000000, -273000000}, numeric, 1);
    Sorted(c, {3, -2, 1.5}, numeric, 1);
  };
  EXPECT_EQ(RunAs(10, body), "87000000,-245000000|-273000000,287000000|-2,1.5,3|");
  EXPECT_EQ(RunAs(11, body), "-245000000,87000000|-273000000,287000000|-2,1.5,3|");
}

// x.appendChild(x.child(0)[0]): from SWF 21 the node leaves its place first.
void AppendOwnChild(AbcBuilder& a, std::uint32_t pub, AbcCode& c) {
  const auto q = [&](std::string_view n) { return a.QName(pub, n); };
  c.Op("findpropstrict", {q("XML")}).Op("pushstring", {a.String("<r><a/></r>")}).Op("constructprop", {q("XML"), 1}).Op("setlocal_1");
  c.Op("getlocal_1").Op("getlocal_1").Op("pushbyte", {0}).Op("callproperty", {q("child"), 1});
  c.Op("pushbyte", {0}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))}).Op("callpropvoid", {q("appendChild"), 1});
  c.Op("findpropstrict", {q("trace")}).Op("getlocal_1").Op("callproperty", {q("children"), 0});
  c.Op("callproperty", {q("length"), 0}).Op("callpropvoid", {q("trace"), 1});
}

TEST_F(SwfVersion, AppendChildMovesANodeFromSwf21) {
  const auto body = [&](AbcCode& c) { AppendOwnChild(a, pub, c); };
  EXPECT_EQ(RunAs(20, body), "2|");
  EXPECT_EQ(RunAs(21, body), "1|");
}

// A loaded movie's code follows its own version, not the main movie's:
// the rules ask the block of the running code.
TEST(SwfVersionOfBlocks, EachBlockFollowsTheVersionOfItsMovie) {
  std::vector<std::shared_ptr<const AbcFile>> files;
  for (int i = 0; i < 2; ++i) {
    AbcBuilder a;
    const auto pub = a.Namespace(NamespaceKind::kPackage, "");
    AbcCode c;
    AppendOwnChild(a, pub, c);
    c.Op("returnvoid");
    const auto init = a.Method(MethodInfo{});
    a.Body(MethodBody{.method = init, .maxStack = 8, .localCount = 4, .maxScopeDepth = 4}, c);
    a.Script({.init = init});
    files.push_back(std::make_shared<AbcFile>(ParseAbc(a.Bytes())));
  }
  Machine m;
  m.swfVersion = 20;
  std::vector<std::string> traced;
  m.traceSink = [&](const std::string& s) { traced.push_back(s); };
  const Machine::BlockToLoad main[] = {{files[0], "main", true, 20}};
  const Machine::BlockToLoad loaded[] = {{files[1], "loaded", true, 21}};
  m.LoadTogether(main);
  m.LoadTogether(loaded);
  EXPECT_EQ(traced, (std::vector<std::string>{"2", "1"}));
}

}  // namespace
}  // namespace quarvel::avm2
