// Language rules of the core classes as Flash applies them: methods that
// live on prototypes, enumerability flags, array holes.
#include <gtest/gtest.h>

#include <limits>

#include "player/avm2/machine_test_support.h"

namespace quarvel::avm2 {
namespace {

class As3Rules : public As3 {
 protected:
  // A function returning the string given.
  std::uint32_t Returning(std::string_view s) {
    AbcCode f;
    f.Op("pushstring", {S(s)}).Op("returnvalue");
    return Fn(f);
  }
};

TEST_F(As3Rules, PrototypeMethodsCanBeReplacedAsOtherCompilersDo) {
  // class Boot {}; Boot.prototype.toString = function () { return "boot" }
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto boot = DefClass("Boot", Q("Object"), ctor, {});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Boot", boot, {"Object"});
  c.Op("getlex", {Q("Boot")}).Op("getproperty", {Q("prototype")}).Op("newfunction", {Returning("boot")})
      .Op("setproperty", {Q("toString")});
  // String.prototype.charCodeAt = function () { return "patched" }
  c.Op("getlex", {Q("String")}).Op("getproperty", {Q("prototype")}).Op("newfunction", {Returning("patched")})
      .Op("setproperty", {Q("charCodeAt")});
  // An object's own toString wins over Object's.
  c.Op("newobject", {0}).Op("setlocal_1");
  c.Op("getlocal_1").Op("newfunction", {Returning("own")}).Op("setproperty", {Q("toString")});
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("Boot")}).Op("constructprop", {Q("Boot"), 0}); });
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("Boot")}).Op("constructprop", {Q("Boot"), 0}); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("abc")}).Op("pushbyte", {0}); Call(x, "charCodeAt", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); });
  Trace(c, [&](AbcCode& x) { x.Op("newobject", {0}); });  // others keep Object's
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("abc")}); Call(x, "toUpperCase", 0); });
  // Read, a prototype method is unbound: Object.prototype.toString.call(new TypeError())
  Trace(c, [&](AbcCode& x) {
    x.Op("getlex", {Q("Object")}).Op("getproperty", {Q("prototype")}).Op("getproperty", {Q("toString")});
    x.Op("findpropstrict", {Q("TypeError")}).Op("constructprop", {Q("TypeError"), 0});
    Call(x, "call", 1);
  });
  ASSERT_TRUE(Run(c, {ClassTrait("Boot", boot)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "boot|boot|patched|own|[object Object]|ABC|[object TypeError]|");
}

TEST_F(As3Rules, TheAs3NamespaceReachesTheClassMethodPastAPatchedPrototype) {
  // Haxe's start-up: String.prototype.charCodeAt = function (i) {
  //   return this.AS3::charCodeAt(i) + 1000 }  -- no recursion.
  const auto as3 = a.QName(a.Namespace(NamespaceKind::kNamespace, "http://adobe.com/AS3/2006/builtin"), "charCodeAt");
  AbcCode patch;
  patch.Op("getlocal_0").Op("getlocal_1").Op("callproperty", {as3, 1}).Op("pushshort", {1000}).Op("add").Op("returnvalue");
  AbcCode c;
  c.Op("getlex", {Q("String")}).Op("getproperty", {Q("prototype")}).Op("newfunction", {Fn(patch, 1)})
      .Op("setproperty", {Q("charCodeAt")});
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("abc")}).Op("pushbyte", {0}); Call(x, "charCodeAt", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("abc")}).Op("pushbyte", {1}).Op("callproperty", {as3, 1}); });
  // Read by the AS3 name, it is the class's method, bound to its object:
  // call() cannot move it to another string.
  Trace(c, [&](AbcCode& x) {
    x.Op("pushstring", {S("abc")}).Op("getproperty", {as3}).Op("pushstring", {S("xyz")}).Op("pushbyte", {2});
    Call(x, "call", 2);
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1097|98|99|");
}

TEST_F(As3Rules, EveryPrototypeNamesItsConstructor) {
  // class Kin {}; new Kin().constructor == Kin; ({}).constructor == Object; [].constructor == Array
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto kin = DefClass("Kin", Q("Object"), ctor, {});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Kin", kin, {"Object"});
  const auto is = [&](const std::function<void(AbcCode&)>& value, std::string_view cls) {
    Trace(c, [&](AbcCode& x) { value(x); x.Op("getproperty", {Q("constructor")}).Op("getlex", {Q(cls)}).Op("strictequals"); });
  };
  is([&](AbcCode& x) { x.Op("findpropstrict", {Q("Kin")}).Op("constructprop", {Q("Kin"), 0}); }, "Kin");
  is([&](AbcCode& x) { x.Op("getlex", {Q("Kin")}).Op("getproperty", {Q("prototype")}); }, "Kin");
  is([&](AbcCode& x) { x.Op("newobject", {0}); }, "Object");
  is([&](AbcCode& x) { x.Op("newarray", {0}); }, "Array");
  is([&](AbcCode& x) { x.Op("pushstring", {S("s")}); }, "String");
  is([&](AbcCode& x) { x.Op("findpropstrict", {Q("TypeError")}).Op("constructprop", {Q("TypeError"), 0}); }, "TypeError");
  // Not enumerable: for-in over a prototype finds nothing.
  Trace(c, [&](AbcCode& x) {
    x.Op("getlex", {Q("Kin")}).Op("getproperty", {Q("prototype")}).Op("pushstring", {S("constructor")});
    Call(x, "propertyIsEnumerable", 1);
  });
  ASSERT_TRUE(Run(c, {ClassTrait("Kin", kin)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|true|true|true|true|true|false|");
}

TEST_F(As3Rules, MethodsOfCompiledClassesStayReadOnly) {
  // class Fixed { function run() {} }; new Fixed().run = 1 throws ReferenceError 1037.
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode run;
  run.Op("returnvoid");
  const auto fixed = DefClass("Fixed", Q("Object"), ctor, {MethodTrait("run", Fn(run))});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Fixed", fixed, {"Object"});
  c.Label("t").Op("findpropstrict", {Q("Fixed")}).Op("constructprop", {Q("Fixed"), 0}).Op("pushbyte", {1})
      .Op("setproperty", {Q("run")}).Label("e").Branch("jump", "done");
  c.Label("h").Op("setlocal_1").Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("errorID")}); });
  c.Label("done").Op("returnvoid");
  const auto init = Fn(c);
  a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), Q("ReferenceError"), 0}};
  a.Script({.init = init, .traits = {ClassTrait("Fixed", fixed)}});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1037|");
}

TEST_F(As3Rules, SetPropertyIsEnumerableHidesFromForIn) {
  // o = {a: 1, b: 2, c: 3}; o.setPropertyIsEnumerable("b", false); for (k in o) s += k
  AbcCode c;
  c.Op("pushstring", {S("a")}).Op("pushbyte", {1}).Op("pushstring", {S("b")}).Op("pushbyte", {2})
      .Op("pushstring", {S("c")}).Op("pushbyte", {3}).Op("newobject", {3}).Op("setlocal_1");
  auto setEnum = [&](bool on) {
    c.Op("getlocal_1").Op("pushstring", {S("b")}).Op(on ? "pushtrue" : "pushfalse");
    c.Op("callpropvoid", {Q("setPropertyIsEnumerable"), 2});
  };
  auto keys = [&](std::string_view tag) {
    c.Op("pushstring", {S("")}).Op("setlocal", {4}).Op("getlocal_1").Op("setlocal_2").Op("pushbyte", {0}).Op("setlocal_3");
    const std::string loop = std::string("loop") + std::string(tag), end = std::string("end") + std::string(tag);
    c.Loop(loop).Op("hasnext2", {2, 3}).Branch("iffalse", end);
    c.Op("getlocal", {4}).Op("getlocal_2").Op("getlocal_3").Op("nextname").Op("add").Op("setlocal", {4}).Branch("jump", loop);
    c.Label(end);
    Trace(c, [&](AbcCode& x) { x.Op("getlocal", {4}); });
  };
  auto isEnum = [&] {
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S("b")}); Call(x, "propertyIsEnumerable", 1); });
  };
  setEnum(false);
  keys("1");
  isEnum();
  setEnum(true);
  keys("2");
  isEnum();
  // Deleting and setting again makes a fresh, listed property.
  setEnum(false);
  c.Op("getlocal_1").Op("deleteproperty", {Q("b")}).Op("pop");
  c.Op("getlocal_1").Op("pushbyte", {9}).Op("setproperty", {Q("b")});
  isEnum();
  // A name the object lacks stays unknown.
  c.Op("getlocal_1").Op("pushstring", {S("zz")}).Op("pushfalse").Op("callpropvoid", {Q("setPropertyIsEnumerable"), 2});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S("zz")}); Call(x, "hasOwnProperty", 1); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // A literal's keys enumerate last first, as Flash stores them.
  EXPECT_EQ(Traced(), "ca|false|cba|true|true|false|");
}

// An array's elements are enumerable properties, a vector's are not.
TEST_F(As3Rules, VectorElementsAreNotEnumerableProperties) {
  const auto vec = a.QName(a.Namespace(NamespaceKind::kPackage, "__AS3__.vec"), "Vector");
  AbcCode c;
  c.Op("getlex", {vec}).Op("getlex", {Q("int")}).Op("applytype", {1}).Op("construct", {0}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushbyte", {7}).Op("callpropvoid", {Q("push"), 1});
  c.Op("pushbyte", {7}).Op("newarray", {1}).Op("setlocal_2");
  for (int local : {1, 2})
    Trace(c, [&](AbcCode& x) { x.Op("getlocal", {local}).Op("pushstring", {S("0")}); Call(x, "propertyIsEnumerable", 1); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "false|true|");
}

// class Single { static var INSTANCE:Single = undefined } : the initialiser
// writes the static before the class has its name, and the slot's type
// still makes undefined null.
TEST_F(As3Rules, AStaticOfTheClassOwnTypeCoercesUndefinedToNull) {
  Trait instance = SlotTrait("INSTANCE");
  instance.typeName = Q("Single");
  AbcCode cinit;
  cinit.Op("getlocal_0").Op("pushscope").Op("findproperty", {Q("INSTANCE")}).Op("pushundefined")
      .Op("setproperty", {Q("INSTANCE")}).Op("returnvoid");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  InstanceInfo ii;
  ii.name = Q("Single");
  ii.superName = Q("Object");
  ii.flags = instance_flag::kSealed;
  ii.iinit = Fn(ctor);
  ClassInfo ci;
  ci.cinit = Fn(cinit);
  ci.traits = {instance};
  const auto cls = a.Class(ii, ci);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Single", cls, {"Object"});
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("Single")}).Op("getproperty", {Q("INSTANCE")}).Op("pushnull").Op("strictequals"); });
  ASSERT_TRUE(Run(c, {ClassTrait("Single", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|");
}

// Function.prototype is a function that does nothing; a function's call read
// off it stays bound to it, so fn.call.call() still runs fn; called on
// nothing, call does nothing.
TEST_F(As3Rules, FunctionPrototypeAndBoundCall) {
  AbcCode hi;
  hi.Op("pushstring", {S("hi")}).Op("returnvalue");
  const auto fn = Fn(hi);
  AbcCode c;
  auto proto = [&](AbcCode& x) { x.Op("getlex", {Q("Function")}).Op("getproperty", {Q("prototype")}); };
  Trace(c, [&](AbcCode& x) { proto(x); x.Op("getlex", {Q("Function")}).Op("istypelate"); });
  Trace(c, [&](AbcCode& x) { proto(x); x.Op("pushnull").Op("call", {0}); });
  Trace(c, [&](AbcCode& x) { x.Op("newfunction", {fn}).Op("getproperty", {Q("call")}).Op("callproperty", {Q("call"), 0}); });
  Trace(c, [&](AbcCode& x) { proto(x); x.Op("getproperty", {Q("call")}).Op("callproperty", {Q("call"), 0}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|undefined|hi|undefined|");
}

TEST_F(As3Rules, StringsOrderByUtf16Units) {
  // U+FF61 is above U+D800 as a unit, though below U+10002 as a character.
  const std::string high = "\xEF\xBD\xA1", pair = "\xF0\x90\x80\x82";
  AbcCode c;
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S(high)}).Op("pushstring", {S(pair)}).Op("lessthan"); });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S(pair)}).Op("pushstring", {S(high)}).Op("lessthan"); });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("A")}).Op("pushstring", {S("B")}).Op("lessthan"); });
  // [high, pair, "b"].sort(): the pair first, as its unit is lowest but for "b".
  Trace(c, [&](AbcCode& x) {
    x.Op("pushstring", {S(high)}).Op("pushstring", {S(pair)}).Op("pushstring", {S("b")}).Op("newarray", {3});
    Call(x, "sort", 0);
    x.Op("pushstring", {S("|")});
    Call(x, "join", 1);
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "false|true|true|b|" + pair + "|" + high + "|");
}

TEST_F(As3Rules, SortKeepsUndefinedLastAndNaNAboveNumbers) {
  AbcCode c;
  // [3, undefined, NaN, 1] sorted NUMERIC: undefined stays out of the sort, NaN is above 3.
  auto arr = [&](AbcCode& x) {
    x.Op("pushbyte", {3}).Op("pushundefined").Op("pushnan").Op("pushbyte", {1}).Op("newarray", {4});
  };
  auto sorted = [&](AbcCode& x, int flags) {
    arr(x);
    x.Op("pushbyte", {flags});
    Call(x, "sort", 1);
  };
  auto join = [&](AbcCode& x) { x.Op("pushstring", {S(" ")}); Call(x, "join", 1); };
  Trace(c, [&](AbcCode& x) { sorted(x, 16); join(x); });
  Trace(c, [&](AbcCode& x) { sorted(x, 16 | 2); join(x); });   // descending: NaN first
  Trace(c, [&](AbcCode& x) { sorted(x, 16 | 8); join(x); });   // order as indices
  // Two undefined do not break UNIQUESORT; two equal numbers do, and it returns 0.
  Trace(c, [&](AbcCode& x) {
    x.Op("pushundefined").Op("pushbyte", {2}).Op("pushundefined").Op("newarray", {3}).Op("pushbyte", {4});
    Call(x, "sort", 1);
    join(x);
  });
  Trace(c, [&](AbcCode& x) {
    x.Op("pushbyte", {2}).Op("pushbyte", {2}).Op("newarray", {2}).Op("pushbyte", {4});
    Call(x, "sort", 1);
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1 3 NaN |NaN 3 1 |3 0 2 1|2  |0|");
}

TEST_F(As3Rules, GlobalDefinitionsAndUriDecodingAsFlash) {
  AbcCode c;
  auto call1 = [&](AbcCode& x, std::string_view fn, std::string_view arg) {
    x.Op("findpropstrict", {Q(fn)}).Op("pushstring", {S(arg)}).Op("callproperty", {Q(fn), 1});
  };
  // A script's global object is "[object global]" and has Object's methods.
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_0"); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_0").Op("pushstring", {S("nothing")}); Call(x, "hasOwnProperty", 1); });
  // getDefinitionByName finds functions, not only classes.
  const auto utils = a.QName(a.Namespace(NamespaceKind::kPackage, "flash.utils"), "getDefinitionByName");
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {utils}).Op("pushstring", {S("flash.utils.getQualifiedClassName")});
    x.Op("callproperty", {utils, 1});
    x.Op("pushnull").Op("pushbyte", {1}).Op("callproperty", {Q("call"), 2});
  });
  // Reserved characters stay escaped for decodeURI only; bad UTF-8 is a URIError.
  Trace(c, [&](AbcCode& x) { call1(x, "decodeURI", "%3A%C3%A9%41"); });
  Trace(c, [&](AbcCode& x) { call1(x, "decodeURIComponent", "%3A%C3%A9%41"); });
  // Constructors' lengths.
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("Object")}).Op("getproperty", {Q("length")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("Date")}).Op("getproperty", {Q("length")}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "[object global]|false|int|%3A\xC3\xA9" "A|:\xC3\xA9" "A|1|7|");
}

// Each of these stops the script with the error Flash throws.
TEST_F(As3Rules, FindDefOfAnUndefinedNameIsAReferenceError) {
  AbcCode c;
  c.Op("finddef", {Q("noSuchDefinition")}).Op("pop");
  Run(c);
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged[0].find("1065"), std::string::npos) << logged[0];
}
TEST_F(As3Rules, OverlongUtf8IsAUriError) {
  AbcCode c;
  c.Op("findpropstrict", {Q("decodeURIComponent")}).Op("pushstring", {S("%C0%80")});
  c.Op("callproperty", {Q("decodeURIComponent"), 1}).Op("pop");
  Run(c);
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged[0].find("1052"), std::string::npos) << logged[0];
}

TEST_F(As3Rules, RegExpFlagsSplitAndReplaceAsFlash) {
  AbcCode c;
  auto re = [&](AbcCode& x, std::string_view src, std::string_view flags) {
    x.Op("findpropstrict", {Q("RegExp")}).Op("pushstring", {S(src)}).Op("pushstring", {S(flags)});
    x.Op("constructprop", {Q("RegExp"), 2});
  };
  // Flags print in the order gimsx whatever order they came in; each has its getter.
  Trace(c, [&](AbcCode& x) { re(x, "abc", "xsmig"); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { re(x, "abc", "s"); x.Op("getproperty", {Q("dotall")}); });
  Trace(c, [&](AbcCode& x) { re(x, "abc", "s"); x.Op("getproperty", {Q("extended")}); });
  // RegExp.prototype.toString is RegExp's own, unbound.
  Trace(c, [&](AbcCode& x) {
    x.Op("getlex", {Q("RegExp")}).Op("getproperty", {Q("prototype")}).Op("getproperty", {Q("toString")});
    re(x, "q", "i");
    Call(x, "call", 1);
  });
  // An empty match never splits; "ab".split(/(?:)/) is one piece.
  Trace(c, [&](AbcCode& x) {
    x.Op("pushstring", {S("a\xC4\x85" "b")});
    re(x, "(?:)", "");
    Call(x, "split", 1);
    x.Op("getproperty", {Q("length")});
  });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("a,b")}); re(x, "x*,", ""); Call(x, "split", 1); });
  // $` and $' stand for the text before and after the match.
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("abc")}); re(x, "b", ""); x.Op("pushstring", {S("[$`|$']")}); Call(x, "replace", 2); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "/abc/gimsx|true|false|/q/i|1|a,b|a[a|c]c|");
}

TEST_F(As3Rules, NumberDigitsAsFlashPrintsThem) {
  AbcCode c;
  auto num = [&](double d, std::string_view method, int arg) {
    Trace(c, [&, d, method, arg](AbcCode& x) { x.Op("pushdouble", {a.Double(d)}).Op("pushbyte", {arg}); Call(x, method, 1); });
  };
  // toExponential cuts the exact expansion: 1.2315e-8 is 1.23149999...e-8.
  num(1.2315e-8, "toExponential", 4);
  num(123.15, "toExponential", 3);   // 1.2315000000000000568e+2, cut, not rounded up
  num(-2.5, "toExponential", 0);  // an exponent of 0 is not written
  num(0, "toExponential", 0);
  num(0, "toExponential", 2);
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(1234.5)}); Call(x, "toExponential", 0); });  // no digits: 0
  // toPrecision rounds, and keeps small numbers in fixed notation.
  num(1.2315e-8, "toPrecision", 5);
  num(123.15, "toPrecision", 4);
  num(1.2315e21, "toPrecision", 2);
  num(0, "toPrecision", 2);  // zero gets one digit more than asked
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(12.5)}).Op("pushnull"); Call(x, "toPrecision", 1); });  // as toString
  // Another radix prints the whole part only.
  num(255.75, "toString", 16);
  num(1.2315e-8, "toString", 2);
  // Past 2^53 a remainder in doubles can leave 0..radix-1; Flash writes it
  // anyway, as '0' + d or 'a' + d - 10 cut to a byte.
  num(1.2315e19, "toString", 27);
  num(1.2315e20, "toString", 3);
  // A digit count that is no number counts as 0 (it once read memory before the digits).
  auto nanDigits = [&](std::string_view method) {
    Trace(c, [&, method](AbcCode& x) { x.Op("pushdouble", {a.Double(2.5)}).Op("pushnan"); Call(x, method, 1); });
  };
  nanDigits("toFixed");
  nanDigits("toExponential");
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1.2314e-8|1.231e+2|-2|1e-15|0.00e-16|1e+3|0.000000012315|123.2|1.2e+21|0.00|12.5|ff|0|31184ba5pg3.00|"
                      "101010111100012201221001211022200200000W000|3|2|");
}

// Math.pow as Flash printed it: a whole exponent's last digits are those of
// repeated squaring (not the correctly rounded 2.731999026429026e-200), and
// ECMAScript's NaN cases where C's pow gives 1.
TEST_F(As3Rules, MathPowOfWholeExponentsHasFlashsDigits) {
  AbcCode c;
  auto pow = [&](double x, double y) {
    Trace(c, [&, x, y](AbcCode& t) {
      t.Op("getlex", {Q("Math")}).Op("pushdouble", {a.Double(x)}).Op("pushdouble", {a.Double(y)})
          .Op("callproperty", {Q("pow"), 2});
    });
  };
  pow(-99, -100);
  pow(2, -4);
  pow(-2, 3);
  pow(0, -1);
  pow(1, std::numeric_limits<double>::infinity());
  pow(1, std::numeric_limits<double>::quiet_NaN());
  pow(4, 0.5);
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "2.73199902642903e-200|0.0625|-8|Infinity|NaN|NaN|2|");
}

TEST_F(As3Rules, LargeNumbersShowTheirFirstFifteenDigitsCutNotRounded) {
  AbcCode c;
  for (double d : {1.2315987654321988e21, 1e21, -1.5e300, 1.2315987654321988e-8, 123159876543219880000.0})
    Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(d)}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("Number")}).Op("getproperty", {Q("MAX_VALUE")}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // Below 1e21 and small numbers keep the shortest digits that read back.
  EXPECT_EQ(Traced(), "1.23159876543219e+21|1e+21|-1.5e+300|1.2315987654321988e-8|123159876543219880000|"
                      "1.79769313486231e+308|");
}

// A number exactly halfway between its shortest digits and the next ones
// up prints the upper, as Flash printed these single-precision results;
// one that is not halfway keeps its shortest digits.
TEST_F(As3Rules, NumbersHalfwayBetweenShortestDigitsRoundUp) {
  AbcCode c;
  for (double d : {966.67828369140625, 901.47088623046875, -28.4839019775390625, 1.2345678901234567, 0.1 + 0.2})
    Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(d)}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "966.6782836914063|901.4708862304688|-28.483901977539063|1.2345678901234567|0.30000000000000004|");
}

TEST_F(As3Rules, ArraysReadPastTheirEndThroughTheirPrototypes) {
  const auto index = a.MultinameL(a.NsSet({pub}));
  AbcCode c;
  // Object.prototype[10] = "at 10"; Array.prototype[1] = "at 1"
  c.Op("getlex", {Q("Object")}).Op("getproperty", {Q("prototype")}).Op("pushbyte", {10}).Op("pushstring", {S("at 10")})
      .Op("setproperty", {index});
  c.Op("getlex", {Q("Array")}).Op("getproperty", {Q("prototype")}).Op("pushbyte", {1}).Op("pushstring", {S("at 1")})
      .Op("setproperty", {index});
  c.Op("pushbyte", {7}).Op("newarray", {1}).Op("setlocal_1");
  for (int i : {0, 1, 2, 10}) Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {i}).Op("getproperty", {index}); });
  // An own dynamic name past the end still comes first.
  c.Op("getlocal_1").Op("pushbyte", {10}).Op("pushstring", {S("own")}).Op("setproperty", {index});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {10}).Op("getproperty", {index}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "7|at 1|undefined|at 10|own|");
}

TEST_F(As3Rules, AScriptGlobalsDynamicNamesComeAfterEveryDefinition) {
  // this["int"] = "global"; this["other"] = "global"; trace(int); trace(other)
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  for (const char* name : {"int", "other"})
    c.Op("getglobalscope").Op("pushstring", {S("global")}).Op("setproperty", {Q(name)});
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("int")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("other")}); });
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("other")}).Op("getproperty", {Q("other")}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "[class int]|global|global|");
}

// What a bad right side of `as` throws, and constructing an interface.
TEST_F(As3Rules, OperatorsOnBadRightSidesThrowFlashsErrors) {
  const auto thrown = [&](const std::function<void(AbcCode&)>& body) {
    traced.clear();
    logged.clear();
    a = testing::AbcBuilder();
    EXPECT_EQ(a.Namespace(NamespaceKind::kPackage, ""), pub);
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope");
    body(c);
    EXPECT_FALSE(Run(c));
    std::string all;
    for (const auto& l : logged) all += l;
    return all;
  };
  const auto as = [&](const std::function<void(AbcCode&)>& rhs) {
    return thrown([&](AbcCode& c) { c.Op("newobject", {0}); rhs(c); c.Op("astypelate").Op("pop"); });
  };
  EXPECT_NE(as([](AbcCode& x) { x.Op("pushnull"); }).find("#1009"), std::string::npos);
  EXPECT_NE(as([](AbcCode& x) { x.Op("pushbyte", {3}); }).find("#1009"), std::string::npos);
  EXPECT_NE(as([](AbcCode& x) { x.Op("pushundefined"); }).find("#1010"), std::string::npos);
  const std::string notClass = as([](AbcCode& x) { x.Op("newobject", {0}); });
  EXPECT_NE(notClass.find("#1041: The right-hand side of operator must be a class."), std::string::npos) << notClass;
  // undefined used as an object is 1010, null 1009, deleting included.
  const auto use = [&](const char* value, const char* op) {
    return thrown([&](AbcCode& c) { c.Op(value).Op(op, {Q("x")}).Op("pop"); });
  };
  EXPECT_NE(use("pushundefined", "getproperty").find("#1010: A term is undefined and has no properties."), std::string::npos);
  EXPECT_NE(use("pushundefined", "deleteproperty").find("#1010"), std::string::npos);
  EXPECT_NE(use("pushnull", "deleteproperty").find("#1009"), std::string::npos);
  EXPECT_NE(thrown([&](AbcCode& c) { c.Op("pushundefined").Op("getlex", {Q("Object")}).Op("instanceof").Op("pop"); })
                .find("#1010"),
            std::string::npos);
  // x instanceof {}: only a class or a function has instances.
  EXPECT_NE(thrown([&](AbcCode& c) { c.Op("newobject", {0}).Op("newobject", {0}).Op("instanceof").Op("pop"); })
                .find("#1040: The right-hand side of instanceof must be a class or function."),
            std::string::npos);
  // new ITest(): an interface has no constructor to run.
  const std::string iface = thrown([&](AbcCode& c) {
    const auto i = DefClass("ITest", 0, [] { AbcCode x; x.Op("returnvoid"); return x; }(), {}, {},
                            instance_flag::kInterface);
    c.Op("getscopeobject", {0}).Op("pushnull").Op("newclass", {i}).Op("initproperty", {Q("ITest")});
    c.Op("getlex", {Q("ITest")}).Op("construct", {0}).Op("pop");
  });
  EXPECT_NE(iface.find("VerifyError: Error #1001: The method ITest() is not implemented."), std::string::npos) << iface;
}

TEST_F(As3Rules, IterationWithoutACallbackCallsNothing) {
  const auto vec = a.QName(a.Namespace(NamespaceKind::kPackage, "__AS3__.vec"), "Vector");
  AbcCode c;
  c.Op("pushbyte", {1}).Op("pushbyte", {2}).Op("newarray", {2}).Op("setlocal_1");
  c.Op("getlex", {vec}).Op("getlex", {Q("int")}).Op("applytype", {1}).Op("construct", {0}).Op("setlocal_2");
  c.Op("getlocal_2").Op("pushbyte", {5}).Op("callpropvoid", {Q("push"), 1});
  for (const char* list : {"array", "vector"})
    for (const char* method : {"every", "filter", "forEach", "map", "some"})
      Trace(c, [&](AbcCode& x) {
        x.Op(std::string_view(list) == "array" ? "getlocal_1" : "getlocal_2").Op("pushnull");
        Call(x, method, 1);
      });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // map keeps the length: two empty elements, or a Vector.<int>'s 0.
  EXPECT_EQ(Traced(), "true||undefined|,|false|true||undefined|0|false|");
}

TEST_F(As3Rules, RandomNumbersHave32BitsSoTheirSumsAreExact) {
  // x = r1 * 32 - r2 * 14; d = r3 * 23 + x; x + (r3 * 23 - d) is 0 every time.
  AbcCode c;
  c.Op("pushbyte", {0}).Op("setlocal_3");
  for (int i = 0; i < 50; ++i) {
    const auto random = [&](int scale) {
      c.Op("getlex", {Q("Math")}).Op("callproperty", {Q("random"), 0}).Op("pushbyte", {scale}).Op("multiply");
    };
    random(32);
    random(14);
    c.Op("subtract").Op("setlocal_1");
    random(23);
    c.Op("setlocal_2");
    c.Op("getlocal_1").Op("getlocal_2").Op("getlocal_2").Op("getlocal_1").Op("add").Op("subtract").Op("add");
    c.Op("convert_d").Op("getlocal_3").Op("add").Op("setlocal_3");
  }
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "0|");
}

TEST_F(As3Rules, APrimitiveIsAnInstanceOfItsWrapperAndObjectOnly) {
  AbcCode c;
  const auto instance = [&](const std::function<void(AbcCode&)>& value, const char* cls) {
    Trace(c, [&](AbcCode& x) { value(x); x.Op("getlex", {Q(cls)}).Op("instanceof"); });
  };
  const auto five = [](AbcCode& x) { x.Op("pushbyte", {5}); };
  for (const char* cls : {"int", "Number", "Object", "String"}) instance(five, cls);
  instance([&](AbcCode& x) { x.Op("pushstring", {S("s")}); }, "String");
  instance([](AbcCode& x) { x.Op("pushtrue"); }, "Boolean");
  instance([](AbcCode& x) { x.Op("pushnull"); }, "Object");
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "false|true|true|false|true|true|false|");
}

// A method read twice off one object is one function (o.f === o.f), and
// so is arguments.callee of the method called on it; another object's
// differs.
TEST_F(As3Rules, AMethodReadOffAnObjectIsOneFunction) {
  AbcCode self;
  self.Op("getlocal_1").Op("getproperty", {Q("callee")}).Op("returnvalue");
  MethodInfo mi;
  mi.flags = method_flag::kNeedArguments;
  const auto who = a.Method(mi);
  a.Body({.method = who, .maxStack = 2, .localCount = 2, .maxScopeDepth = 1}, self);
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("Holder", Q("Object"), ctor, {MethodTrait("who", who)});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Holder", cls, {"Object"});
  for (int local : {1, 2}) c.Op("findpropstrict", {Q("Holder")}).Op("constructprop", {Q("Holder"), 0}).Op("setlocal", {local});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("who")}).Op("getlocal_1").Op("getproperty", {Q("who")}).Op("strictequals"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("callproperty", {Q("who"), 0}).Op("getlocal_1").Op("getproperty", {Q("who")}).Op("strictequals"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("who")}).Op("getlocal_2").Op("getproperty", {Q("who")}).Op("strictequals"); });
  ASSERT_TRUE(Run(c, {ClassTrait("Holder", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|true|false|");
}

TEST_F(As3Rules, ErrorNamesComeFromPrototypes) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("pushstring", {S("boom")}).Op("constructsuper", {1}).Op("returnvoid");
  const auto mine = DefClass("MyError", Q("Error"), ctor, {}, {}, 0);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "MyError", mine, {"Object", "Error"});
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("RangeError")}).Op("getproperty", {Q("prototype")}).Op("getproperty", {Q("name")}); });
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("RangeError")}).Op("pushstring", {S("m")}).Op("constructprop", {Q("RangeError"), 1}); });
  // A script's subclass inherits Error.prototype.name.
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("MyError")}).Op("constructprop", {Q("MyError"), 0}); });
  // The flash.errors classes name their instances Error.
  const auto ioe = a.PackageName("flash.errors", "IllegalOperationError");
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {ioe}).Op("getproperty", {Q("prototype")}).Op("getproperty", {Q("name")}); });
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {ioe}).Op("constructprop", {ioe, 0}).Op("getproperty", {Q("name")}); });
  ASSERT_TRUE(Run(c, {ClassTrait("MyError", mine)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "RangeError|RangeError: m|Error: boom|IllegalOperationError|Error|");
}

TEST_F(As3Rules, JsonParseRevivesMembersBeforeTheirHolders) {
  // JSON.parse('{"a":[1,2],"b":{"c":3}}', function (k, v) { trace(k); return v is int ? v * 10 : v })
  AbcCode reviver;
  reviver.Op("findpropstrict", {Q("trace")}).Op("getlocal_1").Op("callpropvoid", {Q("trace"), 1});
  reviver.Op("getlocal_2").Op("istype", {Q("int")}).Branch("iffalse", "keep");
  reviver.Op("getlocal_2").Op("pushbyte", {10}).Op("multiply").Op("returnvalue");
  reviver.Label("keep").Op("getlocal_2").Op("returnvalue");
  AbcCode c;
  c.Op("getlex", {Q("JSON")}).Op("pushstring", {S("{\"a\":[1,2],\"b\":{\"c\":3}}")}).Op("newfunction", {Fn(reviver, 2)});
  Call(c, "parse", 2);
  c.Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("a")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("b")}).Op("getproperty", {Q("c")}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "0|1|a|c|b||10,20|30|");
}

TEST_F(As3Rules, ToLocaleStringNamesPrimitivesByClass) {
  // [["a", true], [1, 2.5], null].toLocaleString()
  AbcCode c;
  Trace(c, [&](AbcCode& x) {
    x.Op("pushstring", {S("a")}).Op("pushtrue").Op("newarray", {2});
    x.Op("pushbyte", {1}).Op("pushdouble", {a.Double(2.5)}).Op("newarray", {2}).Op("pushnull").Op("newarray", {3});
    Call(x, "toLocaleString", 0);
  });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("a")}).Op("pushstring", {S("b")}).Op("newarray", {2}); Call(x, "toString", 0); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "[object String],[object Boolean],1,2.5,|a,b|");
}

// A name looked up in several namespaces finds the most derived class's
// member, whatever the order of the set: class Base { private var field;
// function any() { return this[runtime "field", (private, public)] } },
// class Child extends Base { public var field }.
TEST_F(As3Rules, ANameInSeveralNamespacesFindsTheMostDerivedMember) {
  const auto priv = a.Namespace(NamespaceKind::kPrivate, "");
  const auto privField = a.QName(priv, "field");
  const auto privFirst = a.NsSet({priv, pub});
  Trait baseField;
  baseField.name = privField;
  baseField.kind = TraitKind::kSlot;
  AbcCode ctorBase;
  ctorBase.Op("getlocal_0").Op("constructsuper", {0});
  ctorBase.Op("getlocal_0").Op("pushstring", {S("base_private")}).Op("initproperty", {privField}).Op("returnvoid");
  AbcCode any;  // this["field"] in (private, public)
  any.Op("getlocal_0").Op("pushstring", {S("field")}).Op("getproperty", {a.MultinameL(privFirst)}).Op("returnvalue");
  AbcCode own;  // this.field as Base's code names it
  own.Op("getlocal_0").Op("getproperty", {privField}).Op("returnvalue");
  const auto base = DefClass("Base", Q("Object"), ctorBase,
                             {baseField, MethodTrait("any", Fn(any)), MethodTrait("own", Fn(own))});
  AbcCode ctorChild;
  ctorChild.Op("getlocal_0").Op("constructsuper", {0});
  ctorChild.Op("getlocal_0").Op("pushstring", {S("child_public")}).Op("initproperty", {Q("field")}).Op("returnvoid");
  const auto child = DefClass("Child", Q("Base"), ctorChild, {SlotTrait("field")});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Base", base, {"Object"});
  NewClass(c, "Child", child, {"Object", "Base"});
  c.Op("findpropstrict", {Q("Child")}).Op("constructprop", {Q("Child"), 0}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "any", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "own", 0); });
  // A Base alone still finds its private one.
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("Base")}).Op("constructprop", {Q("Base"), 0}); Call(x, "any", 0); });
  ASSERT_TRUE(Run(c, {ClassTrait("Base", base), ClassTrait("Child", child)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "child_public|base_private|base_private|");
}

// f.prototype = null reads undefined; new f() then makes the function a
// fresh prototype, which its instances inherit Object's methods through.
TEST_F(As3Rules, AFunctionsPrototypeSetToNullIsRemadeByNew) {
  AbcCode body;
  body.Op("returnvoid");
  const auto f = Fn(body);
  AbcCode c;
  c.Op("newfunction", {f}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushnull").Op("setproperty", {Q("prototype")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("prototype")}); });
  c.Op("getlocal_1").Op("construct", {0}).Op("setlocal_2");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("prototype")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getproperty", {Q("prototype")}); });
  // The instance inherits from the prototype made for it.
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("prototype")}).Op("getlocal_2"); Call(x, "isPrototypeOf", 1); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "undefined|[object Object]|[object Object]|undefined|true|");
}

// Numbers of every kind read Number's prototype; constructing a name a
// primitive lacks is the TypeError of a non-constructor, not a ReferenceError.
TEST_F(As3Rules, PrimitivesReadNumbersPrototypeAndConstructWhatItHolds) {
  AbcCode c;
  c.Op("getlex", {Q("Number")}).Op("getproperty", {Q("prototype")}).Op("pushbyte", {99}).Op("setproperty", {Q("abc")});
  Trace(c, [&](AbcCode& x) { x.Op("pushbyte", {19}).Op("getproperty", {Q("abc")}); });
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(1.5)}).Op("getproperty", {Q("abc")}); });
  c.Op("pushbyte", {19}).Op("constructprop", {Q("missing"), 0});
  EXPECT_FALSE(Run(c));
  ASSERT_EQ(traced.size(), 3u);
  EXPECT_EQ(traced[0], "99");
  EXPECT_EQ(traced[1], "99");
  EXPECT_EQ(traced[2].substr(0, traced[2].find('\n')), "TypeError: Error #1007: Instantiation attempted on a non-constructor missing.");
}

// A failed coercion names a string in quotes and an instance of a script's
// class with an address: "cannot convert "abc" to Kind", Kind@... to Kind.
TEST_F(As3Rules, AFailedCoercionQuotesStringsAndAddressesInstances) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto kind = DefClass("Kind", Q("Object"), ctor, {});
  const auto other = DefClass("Other", Q("Object"), ctor, {});
  MethodInfo typed;
  typed.paramTypes = {0};
  typed.returnType = Q("Kind");
  const auto asKind = a.Method(typed);  // function (v):Kind { return v }
  AbcCode body;
  body.Op("getlocal_1").Op("returnvalue");
  a.Body({.method = asKind, .maxStack = 2, .localCount = 2, .maxScopeDepth = 1}, body);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Kind", kind, {"Object"});
  NewClass(c, "Other", other, {"Object"});
  c.Op("newfunction", {asKind}).Op("setlocal_1");
  c.Label("t").Op("getlocal_1").Op("pushnull").Op("pushstring", {S("abc")}).Op("call", {1}).Op("pop");
  c.Label("e").Branch("jump", "next");
  c.Label("h").Op("setlocal_2").Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getproperty", {Q("message")}); });
  c.Label("next");
  c.Label("t2").Op("getlocal_1").Op("pushnull").Op("findpropstrict", {Q("Other")}).Op("constructprop", {Q("Other"), 0})
      .Op("call", {1}).Op("pop");
  c.Label("e2").Branch("jump", "done");
  c.Label("h2").Op("setlocal_2").Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getproperty", {Q("message")}); });
  c.Label("done").Op("returnvoid");
  const auto init = Fn(c);
  a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), 0, 0},
                                       {c.LabelOffset("t2"), c.LabelOffset("e2"), c.LabelOffset("h2"), 0, 0}};
  a.Script({.init = init, .traits = {ClassTrait("Kind", kind), ClassTrait("Other", other)}});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(),
            "Error #1034: Type Coercion failed: cannot convert \"abc\" to Kind.|"
            "Error #1034: Type Coercion failed: cannot convert Other@00000000000 to Kind.|");
}

}  // namespace
}  // namespace quarvel::avm2
