// The machine on assembled byte code: values, exceptions, closures,
// classes, and the core library, observed through trace().
#include "player/avm2/machine.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/avm2/machine_test_support.h"
#include "support/abc_builder.h"

namespace quarvel::avm2 {
namespace {

TEST_F(As3, ConversionsAndOperatorsFollowEcmaScript) {
  AbcCode c;
  auto str = [&](std::string_view s) { return [this, s](AbcCode& x) { x.Op("pushstring", {S(s)}); }; };
  Trace(c, [&](AbcCode& x) { str("5")(x); x.Op("pushbyte", {3}).Op("add"); });            // "53"
  Trace(c, [&](AbcCode& x) { str("5")(x); x.Op("pushbyte", {3}).Op("subtract"); });       // 2
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(0.1)}).Op("pushdouble", {a.Double(0.2)}).Op("add"); });
  Trace(c, [&](AbcCode& x) { x.Op("pushbyte", {1}).Op("pushbyte", {0}).Op("divide"); });  // Infinity
  Trace(c, [&](AbcCode& x) { str("0x1F")(x); x.Op("convert_i"); });                       // 31
  Trace(c, [&](AbcCode& x) { str(" 12 ")(x); x.Op("convert_d"); });                        // 12
  Trace(c, [&](AbcCode& x) { str("12px")(x); x.Op("convert_d"); });                        // NaN
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(4294967297.0)}).Op("convert_i"); });  // 1
  Trace(c, [&](AbcCode& x) { x.Op("pushbyte", {-1}).Op("convert_u"); });                   // 4294967295
  Trace(c, [&](AbcCode& x) { x.Op("pushnull").Op("pushundefined").Op("equals"); });       // true
  Trace(c, [&](AbcCode& x) { str("1")(x); x.Op("pushbyte", {1}).Op("equals"); });          // true
  Trace(c, [&](AbcCode& x) { str("1")(x); x.Op("pushbyte", {1}).Op("strictequals"); });    // false
  Trace(c, [&](AbcCode& x) { x.Op("pushnan").Op("pushnan").Op("equals"); });             // false
  Trace(c, [&](AbcCode& x) { x.Op("pushtrue").Op("pushbyte", {1}).Op("equals"); });       // true
  Trace(c, [&](AbcCode& x) { str("10")(x); str("9")(x); x.Op("lessthan"); });              // true (strings)
  Trace(c, [&](AbcCode& x) { x.Op("pushbyte", {10}); str("9")(x); x.Op("lessthan"); });   // false (numbers)
  Trace(c, [&](AbcCode& x) { x.Op("pushnan").Op("pushbyte", {1}).Op("greaterequals"); }); // false
  Trace(c, [&](AbcCode& x) { x.Op("pushnull").Op("typeof"); });                          // object
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(1e21)}); });                    // 1e+21
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(0.000001)}); });                // 0.000001
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(1.5e-7)}); });                  // 1.5e-7
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(123.456)}).Op("pushbyte", {1}); Call(x, "toFixed", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("pushshort", {255}).Op("pushbyte", {16}); Call(x, "toString", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(123.456)}).Op("pushbyte", {4}); Call(x, "toPrecision", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("pushint", {a.Int(0x7FFFFFFF)}).Op("increment_i"); });  // wraps
  Trace(c, [&](AbcCode& x) { x.Op("pushbyte", {-7}).Op("pushbyte", {1}).Op("urshift"); });
  ASSERT_TRUE(Run(c));
  EXPECT_EQ(Traced(),
            "53|2|0.30000000000000004|Infinity|31|12|NaN|1|4294967295|true|true|false|false|true|true|false|false|"
            "object|1e+21|0.000001|1.5e-7|123.5|ff|123.5|-2147483648|2147483644|");
}

TEST_F(As3, ExceptionsAreCaughtByTypeAndFinallyRuns) {
  AbcCode c;
  // try { null.x } catch (e:TypeError) { trace(e.errorID) } then "finally";
  // an ArgumentError thrown inside is not caught by a TypeError handler.
  c.Label("try1").Op("pushnull").Op("getproperty", {Q("x")}).Op("pop").Label("end1").Branch("jump", "fin1");
  c.Label("catch1").Op("setlocal_1").Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("errorID")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("message")}); });
  c.Label("fin1");
  TraceString(c, "finally");
  // Nested: the inner handler takes only TypeError; the outer takes anything.
  c.Label("try2").Op("findpropstrict", {Q("ArgumentError")}).Op("pushstring", {S("bad")})
      .Op("constructprop", {Q("ArgumentError"), 1}).Op("throw").Label("end2").Branch("jump", "after");
  c.Label("catch2").Op("setlocal_1").Op("getlocal_0").Op("pushscope");
  TraceString(c, "wrong handler");
  c.Branch("jump", "after");
  c.Label("catch3").Op("setlocal_1").Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("convert_s"); });
  c.Label("after");
  c.Op("pushstring", {S("uncaught")}).Op("throw");
  // The exception table: inner ranges first, as compilers write them.
  c.Op("returnvoid");
  const auto init = Fn(c);
  auto& body = a.File().bodies.back();
  body.exceptions = {
      {c.LabelOffset("try1"), c.LabelOffset("end1"), c.LabelOffset("catch1"), Q("TypeError"), 0},
      {c.LabelOffset("try2"), c.LabelOffset("end2"), c.LabelOffset("catch2"), Q("TypeError"), 0},
      {c.LabelOffset("try2"), c.LabelOffset("end2"), c.LabelOffset("catch3"), 0, 0},
  };
  a.Script({.init = init});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  EXPECT_FALSE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t"));
  // The value thrown last is caught by no script: it prints as Flash prints it.
  EXPECT_EQ(Traced(),
            "1009|Error #1009: Cannot access a property or method of a null object reference.|finally|"
            "ArgumentError: bad|uncaught|");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("uncaught"), std::string::npos);
}

// The blocks of one frame load together: every block's definitions first,
// then each eager block's entry script in order. An entry script that names
// a definition of a later block finds it (and runs that block's script on
// demand, once); a lazy block's script waits until something names it.
TEST_F(As3, BlocksOfAFrameDefineBeforeTheirEntryScriptsRun) {
  auto block = [](std::function<void(AbcBuilder&, AbcCode&)> code, std::string_view slot) {
    AbcBuilder b;
    const auto pub = b.Namespace(NamespaceKind::kPackage, "");
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope");
    code(b, c);
    c.Op("returnvoid");
    const auto init = b.Method({});
    b.Body({.method = init, .maxStack = 8, .localCount = 2, .maxScopeDepth = 4}, c);
    Trait t;
    t.name = b.QName(pub, slot);
    t.kind = TraitKind::kSlot;
    b.Script({.init = init, .traits = {t}});
    return std::make_shared<AbcFile>(ParseAbc(b.Bytes()));
  };
  auto trace = [](AbcBuilder& b, AbcCode& c, std::function<void()> value) {
    const auto tr = b.QName(b.Namespace(NamespaceKind::kPackage, ""), "trace");
    c.Op("findpropstrict", {tr});
    value();
    c.Op("callpropvoid", {tr, 1});
  };
  // First: traces the later block's slot. Second: sets its slot, saying so.
  auto first = block([&](AbcBuilder& b, AbcCode& c) {
    const auto later = b.QName(b.Namespace(NamespaceKind::kPackage, ""), "later");
    trace(b, c, [&] { c.Op("findpropstrict", {later}).Op("getproperty", {later}); });
  }, "early");
  auto second = block([&](AbcBuilder& b, AbcCode& c) {
    const auto later = b.QName(b.Namespace(NamespaceKind::kPackage, ""), "later");
    trace(b, c, [&] { c.Op("pushstring", {b.String("second runs")}); });
    c.Op("findproperty", {later}).Op("pushstring", {b.String("ready")}).Op("setproperty", {later});
  }, "later");
  auto lazy = block([&](AbcBuilder& b, AbcCode& c) { trace(b, c, [&] { c.Op("pushstring", {b.String("lazy runs")}); }); },
                    "idle");
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  int entries = 0;
  const Machine::BlockToLoad blocks[] = {{first, "first", true}, {second, "second", true}, {lazy, "lazy", false}};
  m.LoadTogether(blocks, [&] { ++entries; });
  EXPECT_EQ(Traced(), "second runs|ready|");
  EXPECT_TRUE(logged.empty()) << logged[0];
  EXPECT_EQ(entries, 2);
  // Loaded one at a time, the first entry script finds nothing yet.
  traced.clear();
  Machine alone;
  alone.traceSink = [this](const std::string& s) { traced.push_back(s); };
  alone.logSink = [](const std::string&) {};
  EXPECT_FALSE(alone.Load(first, "first"));
  EXPECT_NE(Traced().find("Error #1065: Variable later is not defined."), std::string::npos) << Traced();
}

TEST_F(As3, ClosuresKeepTheirActivation) {
  // function counter() { var n = 0; return function () { return ++n; } }
  AbcCode inner;
  inner.Op("getlocal_0").Op("pushscope").Op("getlex", {Q("n")}).Op("increment").Op("setlocal_1")
      .Op("findproperty", {Q("n")}).Op("getlocal_1").Op("setproperty", {Q("n")}).Op("getlocal_1").Op("returnvalue");
  const auto innerFn = Fn(inner);
  AbcCode outer;
  outer.Op("getlocal_0").Op("pushscope").Op("newactivation").Op("dup").Op("setlocal_1").Op("pushscope")
      .Op("getscopeobject", {1}).Op("pushbyte", {0}).Op("setslot", {1}).Op("newfunction", {innerFn}).Op("returnvalue");
  const auto outerFn = Fn(outer, 0, method_flag::kNeedActivation, {SlotTrait("n", 1)});
  AbcCode c;
  c.Op("newfunction", {outerFn}).Op("pushnull").Op("call", {0}).Op("setlocal_1");  // a
  c.Op("newfunction", {outerFn}).Op("pushnull").Op("call", {0}).Op("setlocal_2");  // b
  for (int reg : {1, 1, 2, 1}) Trace(c, [&](AbcCode& x) { x.Op("getlocal", {reg}).Op("pushnull").Op("call", {0}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1|2|1|3|");
}

TEST_F(As3, ClassesRunConstructorsInOrderWithSuperCallsAccessorsAndInterfaces) {
  // interface IGreet { function hello() }
  const auto iface = DefClass("IGreet", 0, [] { AbcCode x; x.Op("returnvoid"); return x; }(), {}, {},
                              instance_flag::kInterface);
  // class A { var base:int = 5; function A() { trace("A") } function hello() { return "A.hello" }
  //           function get v() { return base * 2 } function set v(x) { base = x } }
  AbcCode actor;
  actor.Op("getlocal_0").Op("pushscope");
  TraceString(actor, "A");
  actor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode hello;
  hello.Op("pushstring", {S("A.hello")}).Op("returnvalue");
  AbcCode getV;
  getV.Op("getlocal_0").Op("getproperty", {Q("base")}).Op("pushbyte", {2}).Op("multiply").Op("returnvalue");
  AbcCode setV;
  setV.Op("getlocal_0").Op("getlocal_1").Op("setproperty", {Q("base")}).Op("returnvoid");
  Trait base = SlotTrait("base");
  base.typeName = Q("int");
  base.value = ConstantValue{ConstantKind::kInt, a.Int(5)};
  const auto classA = DefClass("A", Q("Object"), actor,
                               {base, MethodTrait("hello", Fn(hello)), MethodTrait("v", Fn(getV), TraitKind::kGetter),
                                MethodTrait("v", Fn(setV, 1), TraitKind::kSetter)});
  // class B extends A implements IGreet { function B() { trace("B"); super() }
  //   override function hello() { return "B+" + super.hello() } }
  AbcCode bctor;
  bctor.Op("getlocal_0").Op("pushscope");
  TraceString(bctor, "B");
  bctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode bhello;
  bhello.Op("getlocal_0").Op("pushscope").Op("pushstring", {S("B+")}).Op("getlocal_0")
      .Op("callsuper", {Q("hello"), 0}).Op("add").Op("returnvalue");
  Trait over = MethodTrait("hello", Fn(bhello));
  over.attributes = trait_attr::kOverride;
  const auto classB = DefClass("B", Q("A"), bctor, {over}, {Q("IGreet")});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "IGreet", iface, {});
  NewClass(c, "A", classA, {"Object"});
  NewClass(c, "B", classB, {"Object", "A"});
  c.Op("findpropstrict", {Q("B")}).Op("constructprop", {Q("B"), 0}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "hello", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("istype", {Q("IGreet")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("istype", {Q("A")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("v")}); });
  c.Op("getlocal_1").Op("pushstring", {S("21.9")}).Op("setproperty", {Q("v")});  // coerced to int
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("v")}); });
  // A sealed class refuses new properties.
  c.Label("t").Op("getlocal_1").Op("pushbyte", {1}).Op("setproperty", {Q("nope")}).Label("e").Branch("jump", "done");
  c.Label("h").Op("pop").Op("getlocal_0").Op("pushscope");
  TraceString(c, "refused");
  c.Label("done");
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {a.PackageName("flash.utils", "getQualifiedClassName")}).Op("getlocal_1")
        .Op("callproperty", {a.PackageName("flash.utils", "getQualifiedClassName"), 1});
  });
  c.Op("returnvoid");
  const auto init = Fn(c);
  a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), Q("ReferenceError"), 0}};
  a.Script({.init = init, .traits = {ClassTrait("IGreet", iface), ClassTrait("A", classA), ClassTrait("B", classB)}});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "B|A|B+A.hello|true|true|10|42|refused|B|");
}

// class A { var v:int = 1; function readA() { return this.v } function writeA(x) { this.v = x }
//           function readOther(o) { this = o; return this.v } }   (register 0 replaced)
// class B extends A { var v:int = 2 (the same name again); function writeSuper(x) { super.v = x } }
// Code of A reaching `this` binds v to A's variable, as Flash's verifier
// does; a name on a value of unknown type finds B's; super reaches A's.
TEST_F(As3, ABaseClassCodeKeepsItsVariableWhereASubclassDeclaresTheNameAgain) {
  auto ctor = [] {
    AbcCode x;
    x.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
    return x;
  };
  auto intSlot = [&](int value) {
    Trait t = SlotTrait("v");
    t.typeName = Q("int");
    t.value = ConstantValue{ConstantKind::kInt, a.Int(value)};
    return t;
  };
  AbcCode readA;
  readA.Op("getlocal_0").Op("getproperty", {Q("v")}).Op("returnvalue");
  AbcCode writeA;
  // The receiver passed along the stack by dup and swap stays the receiver.
  writeA.Op("getlocal_1").Op("getlocal_0").Op("swap").Op("setproperty", {Q("v")}).Op("returnvoid");
  AbcCode readOther;
  readOther.Op("getlocal_1").Op("setlocal_0").Op("getlocal_0").Op("getproperty", {Q("v")}).Op("returnvalue");
  const auto classA = DefClass("A", Q("Object"), ctor(),
                               {intSlot(1), MethodTrait("readA", Fn(readA)), MethodTrait("writeA", Fn(writeA, 1)),
                                MethodTrait("readOther", Fn(readOther, 1))});
  AbcCode writeSuper;
  writeSuper.Op("getlocal_0").Op("getlocal_1").Op("setsuper", {Q("v")}).Op("returnvoid");
  const auto classB = DefClass("B", Q("A"), ctor(), {intSlot(2), MethodTrait("writeSuper", Fn(writeSuper, 1))});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "A", classA, {"Object"});
  NewClass(c, "B", classB, {"Object", "A"});
  c.Op("findpropstrict", {Q("B")}).Op("constructprop", {Q("B"), 0}).Op("setlocal_1");
  auto both = [&] {
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "readA", 0); });
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("v")}); });
  };
  both();
  c.Op("getlocal_1").Op("pushstring", {S("5.7")}).Op("callpropvoid", {Q("writeA"), 1});  // coerced to int
  both();
  c.Op("getlocal_1").Op("pushbyte", {7}).Op("callpropvoid", {Q("writeSuper"), 1});
  both();
  c.Op("getlocal_1").Op("pushbyte", {3}).Op("setproperty", {Q("v")});
  both();
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlocal_1"); Call(x, "readOther", 1); });
  c.Op("returnvoid");
  ASSERT_TRUE(Run(c, {ClassTrait("A", classA), ClassTrait("B", classB)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1|2|5|2|7|2|7|3|3|");
}

// One class info made into two classes by two newclass: class S { static var
// tag; function hello() { return tag } } as S1 and S2, and class E extends S
// { function call() { return super.hello() } } over each. Each class's
// methods keep their own class (super) and scope.
TEST_F(As3, EachClassMadeFromOneClassInfoKeepsItsOwnSuperAndScope) {
  auto ctor = [] {
    AbcCode x;
    x.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
    return x;
  };
  AbcCode hello;
  hello.Op("getlocal_0").Op("pushscope").Op("getlex", {Q("tag")}).Op("returnvalue");
  const auto classS = DefClass("S", Q("Object"), ctor(), {MethodTrait("hello", Fn(hello))});
  a.File().classes[classS].traits.push_back(SlotTrait("tag"));
  AbcCode call;
  call.Op("getlocal_0").Op("callsuper", {Q("hello"), 0}).Op("returnvalue");
  const auto classE = DefClass("E", Q("S"), ctor(), {MethodTrait("call", Fn(call))});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "S1", classS, {"Object"});
  NewClass(c, "S2", classS, {"Object"});
  c.Op("getlex", {Q("S1")}).Op("pushstring", {S("one")}).Op("setproperty", {Q("tag")});
  c.Op("getlex", {Q("S2")}).Op("pushstring", {S("two")}).Op("setproperty", {Q("tag")});
  NewClass(c, "E1", classE, {"Object", "S1"});
  NewClass(c, "E2", classE, {"Object", "S2"});
  for (const char* e : {"E1", "E2", "E1"}) {
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q(e)}).Op("constructprop", {Q(e), 0});
      Call(x, "call", 0);
    });
  }
  c.Op("returnvoid");
  ASSERT_TRUE(Run(c, {SlotTrait("S1"), SlotTrait("S2"), SlotTrait("E1"), SlotTrait("E2")}))
      << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "one|two|one|");
}

TEST_F(As3, ProtectedOverridesReplaceTheMemberForTheBaseClassCode) {
  // Each class has its own protected namespace; the base's code names the
  // member by its own, yet reaches the override of the class of `this`.
  const auto protA = a.Namespace(NamespaceKind::kProtected, "A");
  const auto protB = a.Namespace(NamespaceKind::kProtected, "B");
  const auto protC = a.Namespace(NamespaceKind::kProtected, "C");
  const auto protD = a.Namespace(NamespaceKind::kProtected, "D");
  auto returns = [&](std::string_view text) {
    AbcCode x;
    x.Op("pushstring", {S(text)}).Op("returnvalue");
    return Fn(x);
  };
  auto protectedTrait = [&](std::uint32_t ns, std::string_view name, std::uint32_t method, TraitKind kind, bool override) {
    Trait t;
    t.name = a.QName(ns, name);
    t.kind = kind;
    t.index = method;
    if (override) t.attributes = trait_attr::kOverride;
    return t;
  };
  auto ctor = [] {
    AbcCode x;
    x.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
    return x;
  };
  // class A { protected function build() { return "A.build" } protected function get skin() { return "A.skin" }
  //           public function run() { return this.build() + " " + this.skin } }
  AbcCode run;
  run.Op("getlocal_0").Op("callproperty", {a.QName(protA, "build"), 0}).Op("pushstring", {S(" ")}).Op("add");
  run.Op("getlocal_0").Op("getproperty", {a.QName(protA, "skin")}).Op("add").Op("returnvalue");
  auto withProtected = [&](std::string_view name, std::uint32_t super, std::uint32_t ns, std::vector<Trait> traits) {
    const auto index = DefClass(name, super, ctor(), std::move(traits));
    a.File().instances[index].flags |= instance_flag::kProtectedNs;
    a.File().instances[index].protectedNs = ns;
    return index;
  };
  const auto classA = withProtected("A", Q("Object"), protA,
                                    {protectedTrait(protA, "build", returns("A.build"), TraitKind::kMethod, false),
                                     protectedTrait(protA, "skin", returns("A.skin"), TraitKind::kGetter, false),
                                     MethodTrait("run", Fn(run))});
  // class B extends A { override protected function build() { return "B.build" } }
  const auto classB = withProtected("B", Q("A"), protB, {protectedTrait(protB, "build", returns("B.build"), TraitKind::kMethod, true)});
  // class C extends B { override protected function get skin() { return "C.skin" } }
  const auto classC = withProtected("C", Q("B"), protC, {protectedTrait(protC, "skin", returns("C.skin"), TraitKind::kGetter, true)});
  // class D extends C { override protected function build() { return "D.build" } }
  const auto classD = withProtected("D", Q("C"), protD, {protectedTrait(protD, "build", returns("D.build"), TraitKind::kMethod, true)});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "A", classA, {"Object"});
  NewClass(c, "B", classB, {"Object", "A"});
  NewClass(c, "C", classC, {"Object", "A", "B"});
  NewClass(c, "D", classD, {"Object", "A", "B", "C"});
  for (const char* cls : {"A", "B", "C", "D"}) {
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q(cls)}).Op("constructprop", {Q(cls), 0});
      Call(x, "run", 0);
    });
  }
  ASSERT_TRUE(Run(c, {ClassTrait("A", classA), ClassTrait("B", classB), ClassTrait("C", classC), ClassTrait("D", classD)}))
      << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "A.build A.skin|B.build A.skin|B.build C.skin|D.build C.skin|");
}

TEST_F(As3, ANamespaceConstantQualifiesNamesAtRunTime) {
  // namespace motion = "urn:motion"; class Box { motion var v = 1 }
  // b.motion::v = 5 (a runtime-qualified name whose namespace is the constant)
  const auto motion = a.Namespace(NamespaceKind::kNamespace, "urn:motion");
  Trait v;
  v.name = a.QName(motion, "v");
  v.kind = TraitKind::kSlot;
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto box = DefClass("Box", Q("Object"), ctor, {v});
  Trait nsConst;
  nsConst.name = Q("motion");
  nsConst.kind = TraitKind::kConst;
  nsConst.value = ConstantValue{ConstantKind::kNamespace, motion};
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Box", box, {"Object"});
  c.Op("findpropstrict", {Q("Box")}).Op("constructprop", {Q("Box"), 0}).Op("setlocal_1");
  c.Op("getlocal_1").Op("getlex", {Q("motion")}).Op("pushbyte", {5}).Op("setproperty", {a.RTQName("v")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlex", {Q("motion")}).Op("getproperty", {a.RTQName("v")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("motion")}).Op("getproperty", {Q("uri")}); });
  ASSERT_TRUE(Run(c, {ClassTrait("Box", box), nsConst})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "5|urn:motion|");
}

TEST_F(As3, ACallThroughAnInterfaceReachesTheSubclassOverride) {
  // interface ICommand { function execute() }  (its names in its own namespace)
  // class Simple implements ICommand { function execute() { return "simple" } }
  // class Startup extends Simple { override function execute() { return "startup" } }
  const auto ins = a.Namespace(NamespaceKind::kNamespace, "cmd:ICommand");
  auto returns = [&](std::string_view text) {
    AbcCode x;
    x.Op("pushstring", {S(text)}).Op("returnvalue");
    return Fn(x);
  };
  Trait declared;
  declared.name = a.QName(ins, "execute");
  declared.kind = TraitKind::kMethod;
  declared.index = returns("");
  const auto iface = DefClass("ICommand", 0, [] { AbcCode x; x.Op("returnvoid"); return x; }(), {declared}, {},
                              instance_flag::kInterface);
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto simple = DefClass("Simple", Q("Object"), ctor, {MethodTrait("execute", returns("simple"))}, {Q("ICommand")});
  Trait over = MethodTrait("execute", returns("startup"));
  over.attributes = trait_attr::kOverride;
  const auto startup = DefClass("Startup", Q("Simple"), ctor, {over});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "ICommand", iface, {});
  NewClass(c, "Simple", simple, {"Object"});
  NewClass(c, "Startup", startup, {"Object", "Simple"});
  for (const char* cls : {"Simple", "Startup"}) {
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q(cls)}).Op("constructprop", {Q(cls), 0}).Op("callproperty", {a.QName(ins, "execute"), 0});
    });
  }
  ASSERT_TRUE(Run(c, {ClassTrait("ICommand", iface), ClassTrait("Simple", simple), ClassTrait("Startup", startup)}))
      << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "simple|startup|");
}

TEST_F(As3, ArraySortFlags) {
  AbcCode c;
  auto sorted = [&](std::vector<int> items, int flags) {
    Trace(c, [&](AbcCode& x) {
      for (int i : items) x.Op("pushbyte", {i});
      x.Op("newarray", {static_cast<std::int64_t>(items.size())}).Op("pushbyte", {flags});
      Call(x, "sort", 1);
    });
  };
  sorted({10, 9, 1, 100}, 0);        // as strings
  sorted({10, 9, 1, 100}, 16);       // NUMERIC
  sorted({10, 9, 1, 100}, 16 | 2);   // NUMERIC | DESCENDING
  sorted({10, 9, 1, 100}, 16 | 8);   // NUMERIC | RETURNINDEXEDARRAY
  sorted({3, 1, 3}, 16 | 4);         // UNIQUESORT with equal items: 0
  // CASEINSENSITIVE
  Trace(c, [&](AbcCode& x) {
    x.Op("pushstring", {S("b")}).Op("pushstring", {S("C")}).Op("pushstring", {S("a")}).Op("newarray", {3}).Op("pushbyte", {1});
    Call(x, "sort", 1);
  });
  // sortOn a field, numeric
  Trace(c, [&](AbcCode& x) {
    for (int v : {30, 4, 200}) x.Op("pushstring", {S("n")}).Op("pushshort", {v}).Op("newobject", {1});
    x.Op("newarray", {3}).Op("pushstring", {S("n")}).Op("pushbyte", {16});
    Call(x, "sortOn", 2);
    x.Op("pushbyte", {0}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))}).Op("getproperty", {Q("n")});
  });
  ASSERT_TRUE(Run(c));
  EXPECT_EQ(Traced(), "1,10,100,9|1,9,10,100|100,10,9,1|2,1,0,3|0|a,b,C|4|");
}

TEST_F(As3, VectorDictionaryRegExpAndJson) {
  const auto vec = a.QName(a.Namespace(NamespaceKind::kPackage, "__AS3__.vec"), "Vector");
  const auto dict = a.PackageName("flash.utils", "Dictionary");
  AbcCode c;
  // var v = new Vector.<int>(2); v.push(1.7); trace(v.join(","), v.length)
  c.Op("getlex", {vec}).Op("getlex", {Q("int")}).Op("applytype", {1}).Op("pushbyte", {2}).Op("construct", {1}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushdouble", {a.Double(1.7)}).Op("callpropvoid", {Q("push"), 1});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S(",")}); Call(x, "join", 1); });
  // Reading past the end of a vector is a RangeError.
  c.Label("t").Op("getlocal_1").Op("pushbyte", {9}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))}).Op("pop")
      .Label("e").Branch("jump", "ok");
  c.Label("h").Op("setlocal", {5}).Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {5}).Op("getproperty", {Q("errorID")}); });
  c.Label("ok");
  // Dictionary keys by identity: two equal-looking objects are two keys.
  c.Op("findpropstrict", {dict}).Op("constructprop", {dict, 0}).Op("setlocal_2");
  c.Op("newobject", {0}).Op("setlocal_3");
  c.Op("getlocal_2").Op("getlocal_3").Op("pushstring", {S("first")}).Op("setproperty", {a.MultinameL(a.NsSet({pub}))});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getlocal_3").Op("getproperty", {a.MultinameL(a.NsSet({pub}))}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("newobject", {0}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))}); });
  // "a 12-34 b 5-6".replace(/(\d+)-(\d+)/g, "$2:$1")
  Trace(c, [&](AbcCode& x) {
    x.Op("pushstring", {S("a 12-34 b 5-6")}).Op("findpropstrict", {Q("RegExp")}).Op("pushstring", {S("(\\d+)-(\\d+)")})
        .Op("pushstring", {S("g")}).Op("constructprop", {Q("RegExp"), 2}).Op("pushstring", {S("$2:$1")});
    Call(x, "replace", 2);
  });
  Trace(c, [&](AbcCode& x) {
    x.Op("pushstring", {S("x1y22z")}).Op("findpropstrict", {Q("RegExp")}).Op("pushstring", {S("\\d+")})
        .Op("constructprop", {Q("RegExp"), 1});
    Call(x, "split", 1);
  });
  // JSON round trip keeps order and types.
  Trace(c, [&](AbcCode& x) {
    x.Op("getlex", {Q("JSON")}).Op("getlex", {Q("JSON")}).Op("pushstring", {S(R"({"a":[1,"x\n",true,null],"b":{"c":-2.5}})")});
    Call(x, "parse", 1);
    Call(x, "stringify", 1);
  });
  // Bad JSON is a SyntaxError.
  c.Label("t2").Op("getlex", {Q("JSON")}).Op("pushstring", {S("{bad")}).Op("callpropvoid", {Q("parse"), 1})
      .Label("e2").Branch("jump", "ok2");
  c.Label("h2").Op("setlocal", {5}).Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {5}).Op("getproperty", {Q("name")}); });
  c.Label("ok2");
  c.Op("returnvoid");
  const auto init = Fn(c);
  a.File().bodies.back().exceptions = {
      {c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), Q("RangeError"), 0},
      {c.LabelOffset("t2"), c.LabelOffset("e2"), c.LabelOffset("h2"), 0, 0},
  };
  a.Script({.init = init});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  m.logSink = [this](const std::string& s) { logged.push_back(s); };
  ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(),
            "0,0,1|1125|first|undefined|a 34:12 b 6:5|x,y,z|{\"a\":[1,\"x\\n\",true,null],\"b\":{\"c\":-2.5}}|"
            "SyntaxError|");
}

TEST_F(As3, StringXmlByteArrayAndDateMethods) {
  const auto ba = a.PackageName("flash.utils", "ByteArray");
  AbcCode c;
  auto str = [&](std::string_view v) { return [this, v](AbcCode& x) { x.Op("pushstring", {S(v)}); }; };
  Trace(c, [&](AbcCode& x) { str("Hello, World")(x); x.Op("pushbyte", {-5}); Call(x, "substr", 1); });
  Trace(c, [&](AbcCode& x) { str("a,b,,c")(x); str(",")(x); Call(x, "split", 1); x.Op("getproperty", {Q("length")}); });
  Trace(c, [&](AbcCode& x) { str("abc")(x); x.Op("pushbyte", {1}); Call(x, "charCodeAt", 1); });
  Trace(c, [&](AbcCode& x) { str("  x")(x); str("x")(x); Call(x, "indexOf", 1); });
  // XML: child elements and attributes read by name.
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {Q("XML")}).Op("pushstring", {S("<a n=\"7\"><b>one</b><b>two</b></a>")})
        .Op("constructprop", {Q("XML"), 1}).Op("setlocal_1");
    x.Op("getlocal_1").Op("getproperty", {Q("b")}).Op("pushbyte", {1}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))});
    Call(x, "toString", 0);
  });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {a.QName(pub, "n", true)}); Call(x, "toString", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("b")}); Call(x, "length", 0); });
  // ByteArray: big-endian by default, read back in order.
  c.Op("findpropstrict", {ba}).Op("constructprop", {ba, 0}).Op("setlocal_2");
  c.Op("getlocal_2").Op("pushshort", {0x1234}).Op("callpropvoid", {Q("writeShort"), 1});
  c.Op("getlocal_2").Op("pushstring", {S("hi")}).Op("callpropvoid", {Q("writeUTF"), 1});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("pushbyte", {0}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))}); });
  c.Op("getlocal_2").Op("pushbyte", {0}).Op("setproperty", {Q("position")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "readShort", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2"); Call(x, "readUTF", 0); });
  // Date: months count from 0 and carry into the year.
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {Q("Date")}).Op("pushshort", {2020}).Op("pushbyte", {13}).Op("pushbyte", {1})
        .Op("constructprop", {Q("Date"), 3}).Op("dup").Op("setlocal_3");
    Call(x, "getFullYear", 0);
  });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); Call(x, "getMonth", 0); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_3"); Call(x, "getDay", 0); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "World|4|98|2|two|7|2|18|4660|hi|2021|1|1|");
}

TEST_F(As3, CapsStopRunawayScriptsWithoutHanging) {
  AbcCode c;
  c.Loop("loop").Op("newobject", {0}).Op("pop").Branch("jump", "loop");
  Limits small;
  small.instructionsPerFrame = 100000;
  EXPECT_FALSE(Run(c, {}, small));
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged[0].find("instruction cap"), std::string::npos);
}

Limits OneMegabyteAFrame() {
  Limits small;
  small.bytesPerFrame = std::size_t{1} << 20;
  return small;
}

TEST_F(As3, StringsGrownInALoopStopAtTheMemoryCap) {
  // s = "ab"; for (;;) s = s + s
  AbcCode c;
  c.Op("pushstring", {a.String("ab")}).Op("setlocal_1");
  c.Label("loop").Op("label").Op("getlocal_1").Op("getlocal_1").Op("add").Op("setlocal_1").Branch("jump", "loop");
  EXPECT_FALSE(Run(c, {}, OneMegabyteAFrame()));
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged.back().find("memory cap of one frame's scripts (1 MB)"), std::string::npos) << logged.back();
}

TEST_F(As3, ArraysGrownInALoopStopAtTheMemoryCap) {
  // a = []; for (;;) a.push(1)
  AbcCode c;
  c.Op("newarray", {0}).Op("setlocal_1");
  c.Label("loop").Op("label").Op("getlocal_1").Op("pushbyte", {1}).Op("callpropvoid", {Q("push"), 1});
  c.Branch("jump", "loop");
  EXPECT_FALSE(Run(c, {}, OneMegabyteAFrame()));
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged.back().find("memory cap of one frame's scripts (1 MB)"), std::string::npos) << logged.back();
}

TEST_F(As3, DeepRecursionIsAStackOverflowErrorScriptsCanCatch) {
  // function f() { f() } — try { f() } catch (e) { trace(e.errorID) }
  AbcCode f;
  f.Op("getlocal_0").Op("pushscope").Op("findpropstrict", {Q("f")}).Op("callpropvoid", {Q("f"), 0}).Op("returnvoid");
  const auto fn = Fn(f);
  AbcCode c;
  c.Label("t").Op("findpropstrict", {Q("f")}).Op("callpropvoid", {Q("f"), 0}).Label("e").Branch("jump", "ok");
  c.Label("h").Op("setlocal", {5}).Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal", {5}).Op("getproperty", {Q("errorID")}); });
  c.Label("ok").Op("returnvoid");
  const auto init = Fn(c);
  a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), 0, 0}};
  Trait ft = MethodTrait("f", fn);
  a.Script({.init = init, .traits = {ft}});
  Machine m;
  m.traceSink = [this](const std::string& s) { traced.push_back(s); };
  ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t"));
  EXPECT_EQ(Traced(), "1023|");
}

TEST_F(As3, CollectionKeepsReachableObjectsAndFreesTheRest) {
  Machine m;
  const std::size_t before = m.heap().Count();
  for (int i = 0; i < 1000; ++i) m.NewArray({Value::Int(i)});
  ArrayObject* kept = m.NewArray({m.Str("kept")});
  m.Pin(Value::Obj(kept));
  m.Collect();
  EXPECT_LE(m.heap().Count(), before + 3);
  EXPECT_EQ(m.ToString(Value::Obj(kept)), "kept");
}

TEST_F(As3, CollectionBetweenFramesWaitsForEnoughNewBytes) {
  Machine m;
  for (int i = 0; i < 100; ++i) m.NewArray({Value::Int(i)});
  const std::size_t made = m.heap().Count();
  m.CollectIfDue();
  EXPECT_EQ(m.heap().Count(), made);  // a few hundred bytes: not yet
  m.heap().AddAllocated(std::size_t{4} << 20);
  m.CollectIfDue();
  EXPECT_LT(m.heap().Count(), made - 90);
  EXPECT_EQ(m.heap().AllocatedSinceCollect(), 0u);
}

// A method's outer scopes count from the script's global, which the script
// pushed first: the global once, then the bases its class was made under.
TEST_F(As3, OuterScopesCountFromTheGlobal) {
  AbcCode method;
  for (int i : {0, 1}) Trace(method, [&](AbcCode& x) { x.Op("getouterscope", {i}); });
  method.Op("returnvoid");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("K", Q("Object"), ctor, {MethodTrait("m", Fn(method))});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "K", cls, {"Object"});
  c.Op("getlex", {Q("K")}).Op("construct", {0}).Op("callpropvoid", {Q("m"), 0});
  ASSERT_TRUE(Run(c, {ClassTrait("K", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "[object global]|[class Object]|");
}

// The class object is in scope for its instance methods, not for its own
// static methods and initializer: a static named like a global reaches the
// global by its bare name (Haxe's Std.parseInt calls parseInt so), while an
// instance method reaches the static.
TEST_F(As3, StaticMethodsDoNotSeeTheirClassInScope) {
  AbcCode stat;  // static parseInt(s) { return parseInt(s) + 1 }
  stat.Op("findpropstrict", {Q("parseInt")}).Op("getlocal_1").Op("callproperty", {Q("parseInt"), 1});
  stat.Op("pushbyte", {1}).Op("add").Op("returnvalue");
  AbcCode inst;  // function m() { trace(parseInt("40")) }
  Trace(inst, [&](AbcCode& x) {
    x.Op("findpropstrict", {Q("parseInt")}).Op("pushstring", {S("40")}).Op("callproperty", {Q("parseInt"), 1});
  });
  inst.Op("returnvoid");
  AbcCode cinit;  // the initializer sees the global's parseInt as well
  Trace(cinit, [&](AbcCode& x) {
    x.Op("findpropstrict", {Q("parseInt")}).Op("pushstring", {S("7")}).Op("callproperty", {Q("parseInt"), 1});
  });
  cinit.Op("returnvoid");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  InstanceInfo ii;
  ii.name = Q("H");
  ii.superName = Q("Object");
  ii.flags = instance_flag::kSealed;
  ii.iinit = Fn(ctor);
  ii.traits = {MethodTrait("m", Fn(inst))};
  ClassInfo ci;
  ci.cinit = Fn(cinit);
  ci.traits = {MethodTrait("parseInt", Fn(stat, 1))};
  const auto cls = a.Class(ii, ci);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "H", cls, {"Object"});
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("H")}).Op("pushstring", {S("5")}).Op("callproperty", {Q("parseInt"), 1}); });
  c.Op("getlex", {Q("H")}).Op("construct", {0}).Op("callpropvoid", {Q("m"), 0});
  ASSERT_TRUE(Run(c, {ClassTrait("H", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "7|6|41|");
}

}  // namespace
}  // namespace quarvel::avm2

namespace quarvel::avm2 {
namespace {

// A call through an interface names the method in the interface's namespace;
// a subclass's override must answer it, not the base's method it replaced.
TEST_F(As3, CallsThroughAnInterfaceReachTheSubclassOverride) {
  const auto ifaceNs = a.Namespace(NamespaceKind::kNamespace, ":IGreet");
  AbcCode none;
  none.Op("returnvoid");
  Trait decl;
  decl.name = a.QName(ifaceNs, "hello");
  decl.kind = TraitKind::kMethod;
  decl.index = Fn(none);
  const auto iface = DefClass("IGreet", 0, none, {decl}, {}, instance_flag::kInterface);
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("pushscope").Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode helloA, helloB;
  helloA.Op("pushstring", {S("A")}).Op("returnvalue");
  helloB.Op("pushstring", {S("B")}).Op("returnvalue");
  const auto classA = DefClass("A", Q("Object"), ctor, {MethodTrait("hello", Fn(helloA))}, {Q("IGreet")});
  Trait over = MethodTrait("hello", Fn(helloB));
  over.attributes = trait_attr::kOverride;
  const auto classB = DefClass("B", Q("A"), ctor, {over});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "IGreet", iface, {});
  NewClass(c, "A", classA, {"Object"});
  NewClass(c, "B", classB, {"Object", "A"});
  for (const char* cls : {"A", "B"}) {
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q(cls)}).Op("constructprop", {Q(cls), 0}).Op("callproperty", {a.QName(ifaceNs, "hello"), 0});
    });
  }
  ASSERT_TRUE(Run(c, {ClassTrait("IGreet", iface), ClassTrait("A", classA), ClassTrait("B", classB)}))
      << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "A|B|");
}

// A script may make a class before the interfaces it implements, and an
// interface before its own base interface: `is` and calls through the
// interface's namespace see them all once they exist.
TEST_F(As3, InterfacesMadeAfterTheirImplementorsStillCount) {
  const auto ifaceNs = a.Namespace(NamespaceKind::kNamespace, ":IChild");
  AbcCode none;
  none.Op("returnvoid");
  Trait decl;
  decl.name = a.QName(ifaceNs, "hello");
  decl.kind = TraitKind::kMethod;
  decl.index = Fn(none);
  // interface IChild extends IParent { function hello() }; interface IParent {}
  const auto child = DefClass("IChild", 0, none, {decl}, {Q("IParent")}, instance_flag::kInterface);
  const auto parent = DefClass("IParent", 0, none, {}, {}, instance_flag::kInterface);
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode hello;
  hello.Op("pushstring", {S("hello")}).Op("returnvalue");
  // class A implements IChild; class B extends A
  const auto classA = DefClass("A", Q("Object"), ctor, {MethodTrait("hello", Fn(hello))}, {Q("IChild")});
  const auto classB = DefClass("B", Q("A"), ctor, {});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "A", classA, {"Object"});
  NewClass(c, "B", classB, {"Object", "A"});
  NewClass(c, "IChild", child, {});
  NewClass(c, "IParent", parent, {});
  for (const char* cls : {"A", "B"})
    for (const char* iface : {"IChild", "IParent"})
      Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q(cls)}).Op("construct", {0}).Op("getlex", {Q(iface)}).Op("istypelate"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("B")}).Op("construct", {0}).Op("callproperty", {a.QName(ifaceNs, "hello"), 0}); });
  ASSERT_TRUE(Run(c, {ClassTrait("A", classA), ClassTrait("B", classB), ClassTrait("IChild", child),
                      ClassTrait("IParent", parent)}))
      << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|true|true|true|hello|");
}

// A bare name is looked up in the declared traits of the scopes a method
// pushed; only `with` scopes (and the global object) answer with dynamic
// properties, so a dynamic `this` does not hide a global of the same name.
TEST_F(As3, BareNamesSkipDynamicPropertiesOfPlainScopes) {
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  c.Op("pushstring", {S("global")}).Op("setlocal_2");
  // var o = {answer: "dynamic"}; with (o) trace(answer); pushscope(o); trace(answer)
  c.Op("pushstring", {S("answer")}).Op("pushstring", {S("dynamic")}).Op("newobject", {1}).Op("setlocal_1");
  c.Op("getlocal_0").Op("pushstring", {S("global")}).Op("setproperty", {Q("answer")});
  c.Op("getlocal_1").Op("pushwith");
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("answer")}); });
  c.Op("popscope").Op("getlocal_1").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("answer")}); });
  c.Op("popscope");
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "dynamic|global|");
}

// The first scope a script's initialiser pushes is the outermost one and is
// searched in full, a number through its class: toExponential is found on 4,
// and a name nothing has still fails.
TEST_F(As3, AScriptsFirstScopeIsSearchedInFull) {
  AbcCode c;
  c.Op("pushbyte", {4}).Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("toExponential")}); });
  c.Op("popscope").Op("getlocal_0").Op("pushscope");
  c.Op("findpropstrict", {Q("nothingHasThis")}).Op("pop");
  EXPECT_FALSE(Run(c));
  EXPECT_EQ(traced.size(), 2u);
  EXPECT_EQ(traced.empty() ? "" : traced[0], "4");
}

// ---- name look-up: globals among many scripts, and the remembered answers

// Among many scripts, a bare name is the first script's that defines it
// (Flash keeps the first), that script runs only when the name is first
// needed, and a name only Object's methods have on every global is no
// script's definition.
TEST_F(As3, GlobalNamesComeFromTheFirstScriptThatDefinesThem) {
  const auto script = [&](std::vector<Trait> traits, const std::string& initTrace = {}) {
    AbcCode init;
    if (!initTrace.empty()) TraceString(init, initTrace);
    init.Op("returnvoid");
    a.Script({.init = Fn(init), .traits = std::move(traits)});
  };
  const auto returning = [&](std::string_view text) {
    AbcCode body;
    body.Op("pushstring", {S(text)}).Op("returnvalue");
    return Fn(body);
  };
  for (int k = 0; k < 40; ++k) {
    if (k == 10) script({MethodTrait("dup", returning("first"))}, "init10");
    else if (k == 30) script({MethodTrait("dup", returning("second")), SlotTrait("only30")}, "init30");
    else script({SlotTrait("v" + std::to_string(k))});
  }
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  TraceString(c, "start");
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("dup")}).Op("callproperty", {Q("dup"), 0}); });
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("dup")}).Op("callproperty", {Q("dup"), 0}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("only30")}); });
  // hasOwnProperty is every global's: the main script's own scope answers.
  Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {Q("hasOwnProperty")}).Op("getlocal_0").Op("strictequals"); });
  // A name no script defines: the loose search falls back on the global.
  Trace(c, [&](AbcCode& x) { x.Op("findproperty", {Q("noScriptHasThis")}).Op("getlocal_0").Op("strictequals"); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "start|init10|first|first|init30|undefined|true|true|");
}

// The machine remembers which binding a name with a namespace set finds on
// a traits table: members added later, a copied table and a name in another
// set are all answered from the tables as they are now.
TEST(BindingLookUp, RememberedAnswersFollowChangesToTheTraits) {
  Machine m;
  Class* c = m.DefineNativeClass("", "Late", m.objectClass);
  const NameId id = m.NameIdOf("late");
  const NsId other = m.PackageNs("other.pkg");
  const NsId wide[] = {other, kPublicNs};
  const NsId narrow[] = {other, m.PackageNs("third.pkg")};
  Name n;
  n.local = m.Intern("late");
  n.id = id;
  n.nsList = wide;
  n.nsCount = 2;
  EXPECT_EQ(m.FindBinding(&c->instance, n), nullptr);
  m.AddMethod(c, "late", [](Machine&, Value, std::span<Value>) { return Value(); });
  const Binding* added = m.FindBinding(&c->instance, n);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->kind, Binding::Kind::kMethod);
  EXPECT_EQ(m.FindBinding(&c->instance, n), added);
  // The same local name in a set without the public namespace finds nothing.
  Name elsewhere = n;
  elsewhere.nsList = narrow;
  EXPECT_EQ(m.FindBinding(&c->instance, elsewhere), nullptr);
  // A copy answers with its own bindings, which outlive the original.
  auto original = std::make_unique<Traits>(c->instance);
  EXPECT_EQ(m.FindBinding(original.get(), n), original->Find(Key(kPublicNs, id)));
  Traits copy = *original;
  original.reset();
  EXPECT_EQ(m.FindBinding(&copy, n), copy.Find(Key(kPublicNs, id)));
  // A binding replaced in place is the one found next.
  copy.Edit()[Key(other, id)] = Binding{.kind = Binding::Kind::kSlot, .slot = 0, .depth = 5};
  const Binding* deeper = m.FindBinding(&copy, n);
  ASSERT_NE(deeper, nullptr);
  EXPECT_EQ(deeper->kind, Binding::Kind::kSlot);
}

// Interned strings and names share one table: a string interned for its
// text (a pool string, a constant) has no name number until something names
// it, and from then on every look-up by text finds that number and cell.
TEST(StringInterning, ATextBecomesANameOnlyWhenNamed) {
  Machine m;
  StringCell* text = m.Intern("onlyText1");
  EXPECT_EQ(m.Intern(std::string("only") + "Text1"), text);
  EXPECT_EQ(m.FindNameId("onlyText1"), 0u);
  EXPECT_EQ(m.NameFromString("onlyText1").id, 0u);
  const NameId id = m.NameIdOf("onlyText1");
  EXPECT_NE(id, 0u);
  EXPECT_EQ(m.NameIdOf(text), id);
  EXPECT_EQ(m.FindNameId("onlyText1"), id);
  const Name byText = m.NameFromString(std::string("onlyText") + "1");
  EXPECT_EQ(byText.id, id);
  EXPECT_EQ(byText.local, text);
  EXPECT_EQ(m.NameText(id), "onlyText1");
  // A new name gets a number of its own; a name differing in one byte is another.
  const NameId other = m.NameIdOf("onlyText2");
  EXPECT_NE(other, id);
  EXPECT_NE(m.Intern("onlyText2"), text);
  // Collection keeps interned strings: the number still names the text.
  m.Collect();
  EXPECT_EQ(m.FindNameId("onlyText1"), id);
  EXPECT_EQ(m.Intern("onlyText1"), text);
}

// A block's strings become names as its code first uses them: a name
// spelled at run time, or a string constant of the same text, still finds a
// member of a class made after the text was first seen.
TEST_F(As3, NamesSpelledAtRunTimeFindMembersOfClassesMadeLater) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0});
  ctor.Op("getlocal_0").Op("pushstring", {S("found")}).Op("initproperty", {Q("lateSlot")}).Op("returnvoid");
  const auto holder = DefClass("Holder", Q("Object"), ctor, {SlotTrait("lateSlot")});
  const auto byName = a.MultinameL(a.NsSet({pub}));
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  // Before the class exists, the text names nothing.
  c.Op("newobject", {0}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S("late")}).Op("pushstring", {S("Slot")}).Op("add").Op("getproperty", {byName}); });
  NewClass(c, "Holder", holder, {"Object"});
  c.Op("findpropstrict", {Q("Holder")}).Op("constructprop", {Q("Holder"), 0}).Op("setlocal_2");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("pushstring", {S("late")}).Op("pushstring", {S("Slot")}).Op("add").Op("getproperty", {byName}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("pushstring", {S("lateSlot")}).Op("getproperty", {byName}); });
  ASSERT_TRUE(Run(c, {ClassTrait("Holder", holder)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "undefined|found|found|");
}

// `+` with a string on either side joins the other side's string form, an
// object's toString called once; a runtime name is read afresh each time.
TEST_F(As3, AddingToAStringJoinsTheOtherSidesText) {
  AbcCode c;
  auto str = [&](std::string_view s) { return [this, s](AbcCode& x) { x.Op("pushstring", {S(s)}); }; };
  Trace(c, [&](AbcCode& x) { str("ab")(x); x.Op("pushbyte", {-1}).Op("add"); });
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(1.5)}); str("ab")(x); x.Op("add"); });
  Trace(c, [&](AbcCode& x) { str("x")(x); x.Op("pushnull").Op("add"); });
  Trace(c, [&](AbcCode& x) { x.Op("pushundefined"); str("x")(x); x.Op("add"); });
  Trace(c, [&](AbcCode& x) { x.Op("pushtrue"); str("")(x); x.Op("add"); });
  // o = {toString: function () { trace("called"); return "O" }}
  AbcCode ts;
  TraceString(ts, "called");
  ts.Op("pushstring", {S("O")}).Op("returnvalue");
  const auto tsFn = Fn(ts);
  c.Op("pushstring", {S("toString")}).Op("newfunction", {tsFn}).Op("newobject", {1}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { str("s")(x); x.Op("getlocal_1").Op("add"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); str("s")(x); x.Op("add"); });
  // o["k" + i] for i = 0, 1: two different properties through one instruction.
  const auto byName = a.MultinameL(a.NsSet({pub}));
  c.Op("getlocal_1").Op("pushstring", {S("k0")}).Op("pushstring", {S("zero")}).Op("setproperty", {byName});
  c.Op("getlocal_1").Op("pushstring", {S("k1")}).Op("pushstring", {S("one")}).Op("setproperty", {byName});
  c.Op("pushbyte", {0}).Op("setlocal_2");
  c.Loop("loop").Op("getlocal_2").Op("pushbyte", {2}).Branch("ifge", "end");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S("k")}).Op("getlocal_2").Op("add").Op("getproperty", {byName}); });
  c.Op("inclocal_i", {2}).Branch("jump", "loop");
  c.Label("end");
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "ab-1|1.5ab|xnull|undefinedx|true|called|sO|called|Os|zero|one|");
}

}  // namespace
}  // namespace quarvel::avm2
