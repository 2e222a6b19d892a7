// Errors as Flash's debugger player reports them: the stack of script
// frames an Error records where it is made, argument counts checked on
// entry, and the verifier's numbered faults.
#include <gtest/gtest.h>

#include "player/avm2/machine_test_support.h"
#include "player/avm2/error_messages.h"

namespace quarvel::avm2 {
namespace {

class Errors : public As3 {
 protected:
  // trace(new Error(<message>).getStackTrace())
  void TraceNewErrorStack(AbcCode& c, std::string_view message) {
    Trace(c, [&](AbcCode& x) {
      x.Op("findpropstrict", {Q("Error")});
      if (message.empty()) {
        x.Op("constructprop", {Q("Error"), 0});
      } else {
        x.Op("pushstring", {S(message)}).Op("constructprop", {Q("Error"), 1});
      }
      Call(x, "getStackTrace", 0);
    });
  }
  // A function that runs `call` and traces `what` of the error it throws, or
  // "ok"; the script calls it with newfunction/call.
  std::uint32_t Attempt(const std::function<void(AbcCode&)>& call, std::string_view what = "errorID") {
    AbcCode c;
    c.Label("t");
    call(c);
    c.Label("e");
    TraceString(c, "ok");
    c.Op("returnvoid");
    c.Label("h").Op("setlocal_1");
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q(what)}); });
    c.Op("returnvoid");
    const auto f = Fn(c);
    a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), 0, 0}};
    return f;
  }
  // Calls each attempt in turn.
  void CallEach(AbcCode& c, const std::vector<std::uint32_t>& attempts) {
    for (std::uint32_t f : attempts) c.Op("newfunction", {f}).Op("pushnull").Op("call", {0}).Op("pop");
  }
  // The script: class K from `cls`, then each attempt.
  void RunAttemptsWithK(std::uint32_t cls, const std::vector<std::uint32_t>& attempts) {
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope");
    NewClass(c, "K", cls, {"Object"});
    CallEach(c, attempts);
    ASSERT_TRUE(Run(c, {ClassTrait("K", cls)})) << (logged.empty() ? "" : logged[0]);
  }
  // Runs `c` as the script, with one handler of any error over the
  // labels "t".."e" that traces the error's message and stack.
  void RunCatching(AbcCode& c, const std::string& after) {
    c.Label("h").Op("setlocal_1").Op("getlocal_0").Op("pushscope");
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("message")}); });
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "getStackTrace", 0); });
    c.Label(after).Op("returnvoid");
    RunWithHandler(c);
  }
  // Runs `c` as the script, its labels "t".."e" guarded by the handler at "h".
  void RunWithHandler(AbcCode& c) {
    const auto init = Fn(c);
    a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), 0, 0}};
    a.Script({.init = init});
    Machine m;
    m.traceSink = [this](const std::string& s) { traced.push_back(s); };
    m.logSink = [this](const std::string& s) { logged.push_back(s); };
    ASSERT_TRUE(m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t")) << (logged.empty() ? "" : logged[0]);
  }
};

TEST_F(Errors, StackTraceNamesTheScriptFramesInnermostFirst) {
  // class T { function T() { m(); p; } function m() {...} function get p() {...} static function s() {...} }
  AbcCode m, getter, ctor;
  TraceNewErrorStack(m, "x");
  m.Op("returnvoid");
  getter.Op("getlex", {Q("T")}).Op("callpropvoid", {Q("s"), 0}).Op("pushnull").Op("returnvalue");
  AbcCode stat;
  TraceNewErrorStack(stat, "");
  stat.Op("returnvoid");
  ctor.Op("getlocal_0").Op("constructsuper", {0});
  ctor.Op("getlocal_0").Op("callpropvoid", {Q("m"), 0});
  ctor.Op("getlocal_0").Op("getproperty", {Q("p")}).Op("pop").Op("returnvoid");
  AbcCode cinit;
  cinit.Op("returnvoid");
  InstanceInfo ii;
  ii.name = Q("T");
  ii.superName = Q("Object");
  ii.flags = instance_flag::kSealed;
  ii.iinit = Fn(ctor);
  ii.traits = {MethodTrait("m", Fn(m)), MethodTrait("p", Fn(getter), TraitKind::kGetter)};
  ClassInfo ci;
  ci.cinit = Fn(cinit);
  ci.traits = {MethodTrait("s", Fn(stat))};
  const auto cls = a.Class(ii, ci);
  // A function the compiler gave no name is known by its number.
  AbcCode anon;
  TraceNewErrorStack(anon, "");
  anon.Op("returnvoid");
  const auto anonIndex = Fn(anon);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "T", cls, {"Object"});
  c.Op("findpropstrict", {Q("T")}).Op("constructprop", {Q("T"), 0}).Op("pop");
  c.Op("newfunction", {anonIndex}).Op("pushnull").Op("call", {0}).Op("pop");
  ASSERT_TRUE(Run(c, {ClassTrait("T", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "Error: x\n\tat T/m()\n\tat T()\n\tat global$init()|"
                      "Error\n\tat T$/s()\n\tat T/get p()\n\tat T()\n\tat global$init()|"
                      "Error\n\tat MethodInfo-" + std::to_string(anonIndex) + "()\n\tat global$init()|");
}

TEST(ErrorFrames, NativeFramesListThePlayersOwnStepsInnermostFirst) {
  // Flash names its internal helpers in a stack trace ("at flash.display::
  // ShaderData/_setByteCode()"); each step is listed while it runs.
  Machine m;
  EXPECT_EQ(m.StackTrace(), "");
  {
    Machine::NativeFrame outer(m, "flash.display::Shader/set byteCode");
    {
      Machine::NativeFrame inner(m, "flash.display::ShaderData/_setByteCode");
      EXPECT_EQ(m.StackTrace(), "\n\tat flash.display::ShaderData/_setByteCode()\n\tat flash.display::Shader/set byteCode()");
    }
    EXPECT_EQ(m.StackTrace(), "\n\tat flash.display::Shader/set byteCode()");
    // A second step of the same name is the same frame again.
    Machine::NativeFrame again(m, "flash.display::Shader/set byteCode");
    EXPECT_EQ(m.StackTrace(), "\n\tat flash.display::Shader/set byteCode()\n\tat flash.display::Shader/set byteCode()");
  }
  EXPECT_EQ(m.StackTrace(), "");
}

// Flash's table of error texts: getErrorMessage gives the text unfilled,
// throwError throws the class it is given with the text filled by at most
// six details, and a number without text is only "Error #n".
TEST_F(Errors, ErrorTextsComeFromFlashsTable) {
  AbcCode c;
  for (int id : {1009, 1001, 5, -1}) {
    Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("Error")}).Op("pushint", {a.Int(id)}); Call(x, "getErrorMessage", 1); });
  }
  c.Label("t");
  // Eight details for a text of eight places: the last two stay empty.
  c.Op("getlex", {Q("Error")}).Op("getlex", {Q("RangeError")}).Op("pushshort", {3723});
  for (char ch = 'a'; ch <= 'h'; ++ch) c.Op("pushstring", {S(std::string(1, ch))});
  Call(c, "throwError", 10);
  c.Op("pop");
  c.Label("e").Branch("jump", "after");
  c.Label("h").Op("setlocal_1").Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getlex", {Q("RangeError")}).Op("istypelate"); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("errorID")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "getStackTrace", 0); });
  c.Label("after");
  c.Op("returnvoid");
  RunWithHandler(c);
  EXPECT_EQ(Traced(), "Error #1009: Cannot access a property or method of a null object reference.|"
                      "Error #1001: The method %1 is not implemented.|Error #5|Error #-1|true|3723|"
                      "RangeError: Error #3723: Invalid Context3D bounds. Context3D instance bounds must be contained "
                      "within Stage bounds in constrained mode. Requested Context3D bounds were (a,b,c,d), stage bounds "
                      "are (e,f,,).\n\tat Error$/throwError()\n\tat global$init()|");
  const std::string one[] = {"40"};
  EXPECT_EQ(FlashErrorMessage(1003, one), "Error #1003: The radix argument must be between 2 and 36; got 40.");
}

TEST_F(Errors, StackTraceStartsWithWhatToStringSaysNow) {
  // e = new Error("a"); e.name = "Mine"; Error.prototype.toString replaced afterwards.
  AbcCode c;
  c.Op("findpropstrict", {Q("Error")}).Op("pushstring", {S("a")}).Op("constructprop", {Q("Error"), 1}).Op("setlocal_1");
  c.Op("getlocal_1").Op("pushstring", {S("Mine")}).Op("setproperty", {Q("name")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "getStackTrace", 0); });
  AbcCode ts;
  ts.Op("pushstring", {S("told")}).Op("returnvalue");
  c.Op("getlex", {Q("Error")}).Op("getproperty", {Q("prototype")}).Op("newfunction", {Fn(ts)}).Op("setproperty", {Q("toString")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); Call(x, "getStackTrace", 0); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "Mine: a\n\tat global$init()|told\n\tat global$init()|");
}

TEST_F(Errors, UncaughtErrorsPrintTheirStack) {
  AbcCode thrower;
  thrower.Op("findpropstrict", {Q("Error")}).Op("pushstring", {S("boom")}).Op("constructprop", {Q("Error"), 1}).Op("throw");
  const auto f = Fn(thrower);
  AbcCode c;
  c.Op("newfunction", {f}).Op("pushnull").Op("call", {0});
  EXPECT_FALSE(Run(c));
  EXPECT_EQ(Traced(), "Error: boom\n\tat MethodInfo-" + std::to_string(f) + "()\n\tat global$init()|");
}

// Reading a name a sealed object lacks names its class with dots.
TEST_F(Errors, AMissingPropertyNamesTheClassWithDots) {
  const auto name = a.QName(a.Namespace(NamespaceKind::kPackage, "pkg.sub"), "Sealed");
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode cinit;
  cinit.Op("returnvoid");
  InstanceInfo ii;
  ii.name = name;
  ii.superName = Q("Object");
  ii.flags = instance_flag::kSealed;
  ii.iinit = Fn(ctor);
  ClassInfo ci;
  ci.cinit = Fn(cinit);
  const auto cls = a.Class(ii, ci);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope").Op("getscopeobject", {0}).Op("getlex", {Q("Object")}).Op("pushscope")
      .Op("getlex", {Q("Object")}).Op("newclass", {cls}).Op("popscope").Op("initproperty", {name});
  c.Op("getlex", {name}).Op("construct", {0}).Op("getproperty", {Q("missing")}).Op("pop");
  EXPECT_FALSE(Run(c, {[&] {
    Trait t;
    t.name = name;
    t.kind = TraitKind::kClass;
    t.index = cls;
    return t;
  }()}));
  EXPECT_NE(Traced().find("Error #1069: Property missing not found on pkg.sub.Sealed and there is no default value."),
            std::string::npos)
      << Traced();
}

// Number, String and Boolean are sealed: a name none of them has, read off
// a primitive, is error 1069 (an int is a Number to it); their own names and
// the prototype's still read.
TEST_F(Errors, APrimitiveLacksWhatItsSealedClassLacks) {
  AbcCode c;
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("abc")}).Op("getproperty", {Q("length")}); });
  c.Op("getlex", {Q("String")}).Op("getproperty", {Q("prototype")}).Op("pushbyte", {7}).Op("setproperty", {Q("extra")});
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("abc")}).Op("getproperty", {Q("extra")}); });
  c.Op("pushbyte", {5}).Op("getproperty", {Q("field")});
  EXPECT_FALSE(Run(c));
  EXPECT_NE(Traced().find("3|7|ReferenceError: Error #1069: Property field not found on Number and there is no default value."),
            std::string::npos)
      << Traced();
}

TEST_F(Errors, MissingTypedArgumentsAreAnErrorFromTheCaller) {
  AbcCode body;
  body.Op("pushstring", {S("ran")}).Op("returnvalue");
  MethodInfo typed;
  typed.paramTypes = {Q("String")};
  const auto one = a.Method(typed);  // (a:String)
  a.Body({.method = one, .maxStack = 2, .localCount = 3, .maxScopeDepth = 1}, body);
  const auto untyped = Fn(body, 2);  // (a, b)
  AbcCode c;
  // A free function's untyped parameters read undefined; extra arguments to
  // it are dropped.
  Trace(c, [&](AbcCode& x) { x.Op("newfunction", {untyped}).Op("pushnull").Op("call", {0}); });
  Trace(c, [&](AbcCode& x) {
    x.Op("newfunction", {untyped}).Op("pushnull").Op("pushbyte", {1}).Op("pushbyte", {2}).Op("pushbyte", {3}).Op("call", {3});
  });
  // A missing String: the error's stack starts at the caller.
  c.Label("t").Op("newfunction", {one}).Op("pushnull").Op("call", {0}).Op("pop");
  c.Label("e").Branch("jump", "done");
  RunCatching(c, "done");
  const std::string text = "Error #1063: Argument count mismatch on MethodInfo-" + std::to_string(one) + "(). Expected 1, got 0.";
  EXPECT_EQ(Traced(), "ran|ran|" + text + "|ArgumentError: " + text + "\n\tat global$init()|");
}

TEST_F(Errors, ArgumentCountsAreCheckedUnlessTheFunctionIsUntypedOrTakesTheRest) {
  auto attempt = [&](const std::function<void(AbcCode&)>& call) { return Attempt(call); };
  AbcCode body;
  body.Op("returnvoid");
  MethodInfo typedInfo;
  typedInfo.paramTypes = {Q("String")};
  const auto typed = a.Method(typedInfo);  // function (a:String)
  a.Body({.method = typed, .maxStack = 2, .localCount = 3, .maxScopeDepth = 1}, body);
  MethodInfo defaultInfo;
  defaultInfo.paramTypes = {0};
  defaultInfo.flags = method_flag::kHasOptional;
  defaultInfo.optional = {ConstantValue{ConstantKind::kNull, 0}};
  const auto withDefault = a.Method(defaultInfo);  // function (a = null)
  a.Body({.method = withDefault, .maxStack = 2, .localCount = 3, .maxScopeDepth = 1}, body);
  const auto untyped = Fn(body, 1);                                // function (a)
  const auto rest = Fn(body, 1, method_flag::kNeedRest);           // function (a, ...r)
  const auto ignoring = Fn(body, 1, method_flag::kIgnoreRest);     // compiled to drop extras
  const auto withArguments = Fn(body, 0, method_flag::kNeedArguments);
  // class K { function m(a) {} }: a method is checked even untyped.
  const auto cls = DefClass("K", Q("Object"), [] { AbcCode x; x.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid"); return x; }(),
                            {MethodTrait("m", Fn(body, 1))});
  auto callFn = [&](std::uint32_t fn, int argc) {
    return attempt([=, this](AbcCode& x) {
      x.Op("newfunction", {fn}).Op("pushnull");
      for (int i = 0; i < argc; ++i) x.Op("pushbyte", {i});
      x.Op("call", {argc}).Op("pop");
    });
  };
  auto callMethod = [&](int argc) {
    return attempt([=, this](AbcCode& x) {
      x.Op("getlex", {Q("K")}).Op("construct", {0});
      for (int i = 0; i < argc; ++i) x.Op("pushbyte", {i});
      x.Op("callproperty", {Q("m"), argc}).Op("pop");
    });
  };
  const std::vector<std::uint32_t> cases = {
      callFn(typed, 2),        callFn(typed, 1),    callFn(withDefault, 2), callFn(withDefault, 0),
      callFn(untyped, 3),      callFn(untyped, 0),  callFn(rest, 4),        callFn(ignoring, 3),
      callFn(withArguments, 2), callMethod(2),      callMethod(0),          callMethod(1)};
  RunAttemptsWithK(cls, cases);
  EXPECT_EQ(Traced(), "1063|ok|1063|ok|ok|ok|ok|ok|ok|1063|1063|ok|");
}

TEST_F(Errors, ConstructingAMethodOrAMissingDefinitionNamesTheCulprit) {
  // new (obj.method)() is #1064; a definition looked up by a dotted or
  // qualified name that does not exist is reported by its local name.
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode body;
  body.Op("returnvoid");
  const auto cls = DefClass("K", Q("Object"), ctor, {MethodTrait("m", Fn(body))});
  const auto byName = a.PackageName("flash.utils", "getDefinitionByName");
  auto lookUp = [&](std::string_view name) {
    return Attempt([=, this](AbcCode& x) {
      x.Op("findpropstrict", {byName}).Op("pushstring", {S(name)}).Op("callproperty", {byName, 1}).Op("pop");
    }, "message");
  };
  const std::vector<std::uint32_t> cases = {
      Attempt([&](AbcCode& x) {
        x.Op("getlex", {Q("K")}).Op("construct", {0}).Op("getproperty", {Q("m")}).Op("construct", {0}).Op("pop");
      }),
      lookUp("some.pkg.Missing"), lookUp("some.pkg::Gone"), lookUp("Plain")};
  RunAttemptsWithK(cls, cases);
  EXPECT_EQ(Traced(),
            "1064|Error #1065: Variable Missing is not defined.|Error #1065: Variable Gone is not defined.|"
            "Error #1065: Variable Plain is not defined.|");
}

TEST_F(Errors, StackTraceNamesTheNativeLookUpThatThrew) {
  const auto byName = a.PackageName("flash.utils", "getDefinitionByName");
  AbcCode c;
  c.Label("t").Op("findpropstrict", {byName}).Op("pushstring", {S("Nowhere")}).Op("callproperty", {byName, 1}).Op("pop");
  c.Label("e").Branch("jump", "done");
  RunCatching(c, "done");
  EXPECT_EQ(Traced(), "Error #1065: Variable Nowhere is not defined.|ReferenceError: Error #1065: Variable Nowhere is "
                      "not defined.\n\tat global/flash.utils::getDefinitionByName()\n\tat global$init()|");
}

TEST_F(Errors, TooFewArgumentsCountOnlyTheRequiredOnes) {
  AbcCode body;
  body.Op("returnvoid");
  MethodInfo mi;
  mi.paramTypes = {Q("int"), Q("int")};
  mi.flags = method_flag::kHasOptional;
  mi.optional = {ConstantValue{ConstantKind::kNull, 0}};
  const auto f = a.Method(mi);
  a.Body({.method = f, .maxStack = 2, .localCount = 4, .maxScopeDepth = 1}, body);
  AbcCode c;
  c.Op("newfunction", {f}).Op("pushnull").Op("call", {0});
  EXPECT_FALSE(Run(c));
  EXPECT_EQ(Traced(), "ArgumentError: Error #1063: Argument count mismatch on MethodInfo-" + std::to_string(f) +
                          "(). Expected 1, got 0.\n\tat global$init()|");
}

TEST_F(Errors, VerifyErrorsNameTheMethodAsStackTracesDo) {
  AbcCode bad;
  bad.Raw({0x02, 0xFF});
  const auto broken = Fn(bad);
  AbcCode c;
  c.Label("t").Op("newfunction", {broken}).Op("pushnull").Op("call", {0}).Op("pop");
  c.Label("e").Branch("jump", "done");
  RunCatching(c, "done");
  const std::string text = "Error #1011: Method MethodInfo-" + std::to_string(broken) +
                           "() contained illegal opcode 255 at offset 1.";
  EXPECT_EQ(Traced(), text + "|VerifyError: " + text + "\n\tat global$init()|");
}

TEST_F(Errors, AMethodWithoutBodyIsNotImplemented) {
  const auto bodiless = a.Method(MethodInfo{});
  AbcCode c;
  c.Op("newfunction", {bodiless}).Op("pushnull").Op("call", {0});
  EXPECT_FALSE(Run(c));
  EXPECT_EQ(Traced(), "VerifyError: Error #1001: The method MethodInfo-" + std::to_string(bodiless) +
                          "() is not implemented.\n\tat global$init()|");
}

// The stack's depth is checked before a method first runs: nothing of a
// method that would overflow, underflow or meet itself unbalanced runs.
TEST_F(Errors, StackFaultsStopAMethodBeforeAnyOfItRuns) {
  const auto faulty = [&](const std::function<void(AbcCode&)>& tail) {
    AbcCode body;
    TraceString(body, "ran");
    tail(body);
    return Fn(body);
  };
  const std::vector<std::uint32_t> bodies = {
      faulty([](AbcCode& x) {
        for (int i = 0; i < 17; ++i) x.Op("pushnull");
        x.Op("returnvoid");
      }),
      faulty([](AbcCode& x) { x.Op("pop").Op("returnvoid"); }),
      faulty([](AbcCode& x) { x.Op("pushtrue").Branch("iftrue", "j").Op("pushnull").Label("j").Op("returnvoid"); }),
  };
  std::vector<std::uint32_t> cases;
  for (std::uint32_t f : bodies)
    cases.push_back(Attempt([=](AbcCode& x) { x.Op("newfunction", {f}).Op("pushnull").Op("call", {0}).Op("pop"); },
                            "message"));
  AbcCode c;
  CallEach(c, cases);
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(),
            "Error #1023: Stack overflow occurred.|Error #1024: Stack underflow occurred.|"
            "Error #1030: Stack depth is unbalanced. 1 != 0.|");
}

// Receivers and arguments the machine refuses as Flash does.
TEST_F(Errors, NullReceiversAndUndefinedDescriptions) {
  // class K { function K() { super() on null } }
  AbcCode ctor;
  ctor.Op("pushnull").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("K", Q("Object"), ctor, {});
  const auto describe = a.PackageName("flash.utils", "describeType");
  const std::vector<std::uint32_t> cases = {
      Attempt([&](AbcCode& x) { x.Op("getlex", {Q("K")}).Op("construct", {0}).Op("pop"); }),
      Attempt([&](AbcCode& x) {
        x.Op("findpropstrict", {describe}).Op("pushundefined").Op("callproperty", {describe, 1}).Op("pop");
      }),
      Attempt([&](AbcCode& x) {
        x.Op("findpropstrict", {describe}).Op("pushnull").Op("callproperty", {describe, 1})
            .Op("getproperty", {a.QName(pub, "name", true)}).Op("pop");
      }),
  };
  RunAttemptsWithK(cls, cases);
  EXPECT_EQ(Traced(), "1009|1010|ok|");
}

// A catch scope holds one slot typed as what its handler catches, and has no
// prototype: errors name it by its variable.
TEST_F(Errors, CatchScopesAreTypedAndNamedByTheirVariable) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("K", Q("Object"), ctor, {});
  const auto handler = [&](std::uint32_t type, const std::function<void(AbcCode&)>& use) {
    AbcCode c;
    c.Label("t").Op("getlex", {Q("K")}).Op("construct", {0}).Op("throw");
    c.Label("e").Op("returnvoid");
    c.Label("h").Op("newcatch", {0}).Op("dup").Op("pushscope").Op("swap").Op("setslot", {1});
    use(c);
    c.Op("popscope").Op("returnvoid");
    const auto f = Fn(c);
    a.File().bodies.back().exceptions = {{c.LabelOffset("t"), c.LabelOffset("e"), c.LabelOffset("h"), type, Q("e")}};
    return f;
  };
  const std::vector<std::uint32_t> inner = {
      handler(Q("K"), [&](AbcCode& x) { x.Op("getscopeobject", {0}).Op("pushstring", {S("abc")}).Op("setslot", {1}); }),
      handler(0, [&](AbcCode& x) { x.Op("getscopeobject", {0}).Op("getproperty", {Q("toString")}).Op("pop"); }),
  };
  std::vector<std::uint32_t> cases;
  for (std::uint32_t f : inner)
    cases.push_back(Attempt([=](AbcCode& x) { x.Op("newfunction", {f}).Op("pushnull").Op("call", {0}).Op("pop"); },
                            "message"));
  // A primitive is no instance of a core class but Object, which a typed
  // catch variable of Error shows as plainly as a script class does.
  cases.push_back(Attempt([&](AbcCode& x) { x.Op("pushstring", {S("abc")}).Op("coerce", {Q("Error")}).Op("pop"); }));
  cases.push_back(Attempt([&](AbcCode& x) { x.Op("pushbyte", {5}).Op("coerce", {Q("Array")}).Op("pop"); }));
  cases.push_back(Attempt([&](AbcCode& x) { x.Op("pushtrue").Op("coerce", {Q("Object")}).Op("pop"); }));
  RunAttemptsWithK(cls, cases);
  EXPECT_EQ(Traced(),
            "Error #1034: Type Coercion failed: cannot convert \"abc\" to K.|"
            "Error #1069: Property toString not found on e and there is no default value.|1034|1034|ok|");
}

// Errors of writes and reads name the class, and a name in a namespace of
// the script's own as uri::name; a string, number or boolean takes no new
// property, no write to its own, and loses none.
TEST_F(Errors, SealedWritesNameTheClassAndTheNamespace) {
  AbcCode getter, setter, method, ctor;
  getter.Op("pushbyte", {1}).Op("returnvalue");
  setter.Op("returnvoid");
  method.Op("returnvoid");
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("K", Q("Object"), ctor,
                            {MethodTrait("getonly", Fn(getter), TraitKind::kGetter),
                             MethodTrait("setonly", Fn(setter, 1), TraitKind::kSetter), MethodTrait("method", Fn(method))});
  const auto inNs = a.QName(a.Namespace(NamespaceKind::kNamespace, "ns"), "asdf");
  auto onK = [&](const std::function<void(AbcCode&)>& body) {
    return Attempt([=, this](AbcCode& x) {
      x.Op("getlex", {Q("K")}).Op("construct", {0});
      body(x);
    }, "message");
  };
  const std::vector<std::uint32_t> cases = {
      onK([&](AbcCode& x) { x.Op("pushbyte", {1}).Op("setproperty", {Q("method")}); }),
      onK([&](AbcCode& x) { x.Op("pushbyte", {1}).Op("setproperty", {Q("getonly")}); }),
      onK([&](AbcCode& x) { x.Op("getproperty", {Q("setonly")}).Op("pop"); }),
      onK([&](AbcCode& x) { x.Op("pushbyte", {1}).Op("setproperty", {inNs}); }),
      onK([&](AbcCode& x) { x.Op("getproperty", {inNs}).Op("pop"); }),
      Attempt([&](AbcCode& x) { x.Op("pushbyte", {1}).Op("pushbyte", {1}).Op("setproperty", {Q("field")}); }, "message"),
      Attempt([&](AbcCode& x) { x.Op("pushstring", {S("s")}).Op("pushbyte", {1}).Op("setproperty", {Q("length")}); }, "message"),
      Attempt([&](AbcCode& x) { x.Op("pushbyte", {1}).Op("deleteproperty", {Q("field")}).Op("pop"); }, "message"),
  };
  RunAttemptsWithK(cls, cases);
  EXPECT_EQ(Traced(),
            "Error #1037: Cannot assign to a method method on K.|"
            "Error #1074: Illegal write to read-only property getonly on K.|"
            "Error #1077: Illegal read of write-only property setonly on K.|"
            "Error #1056: Cannot create property ns::asdf on K.|"
            "Error #1069: Property ns::asdf not found on K and there is no default value.|"
            "Error #1056: Cannot create property field on Number.|"
            "Error #1074: Illegal write to read-only property length on String.|"
            "Error #1120: Cannot delete property field on Number.|");
}

// newclass must be given the class object of the base the class names.
TEST_F(Errors, NewClassRefusesABaseOtherThanTheNamedOne) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto cls = DefClass("K", Q("Object"), ctor, {});
  std::vector<std::uint32_t> cases;
  for (const auto& base : std::vector<std::function<void(AbcCode&)>>{
           [](AbcCode& x) { x.Op("pushbyte", {100}); }, [](AbcCode& x) { x.Op("pushnull"); },
           [&](AbcCode& x) { x.Op("getlex", {Q("Class")}); }, [&](AbcCode& x) { x.Op("getlex", {Q("Object")}); }})
    cases.push_back(Attempt([&](AbcCode& x) {
      x.Op("getlex", {Q("Object")}).Op("pushscope");
      base(x);
      x.Op("newclass", {cls}).Op("pop").Op("popscope");
    }));
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  CallEach(c, cases);
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1034|1009|1108|ok|");
}

// super.k = v on a constant of the base, or on a read-only accessor of it,
// writes nothing and throws nothing; the same write on the object itself is
// still a ReferenceError.
TEST_F(Errors, SuperWritesToAConstantOrAReadOnlyAccessorDoNothing) {
  AbcCode ctorA;
  ctorA.Op("getlocal_0").Op("constructsuper", {0}).Op("getlocal_0").Op("pushbyte", {5}).Op("initproperty", {Q("k")})
      .Op("returnvoid");
  AbcCode get;
  get.Op("pushbyte", {1}).Op("returnvalue");
  Trait k = SlotTrait("k");
  k.kind = TraitKind::kConst;
  const auto base = DefClass("A", Q("Object"), ctorA, {k, MethodTrait("g", Fn(get), TraitKind::kGetter)});
  AbcCode ctorB;
  ctorB.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode put;
  put.Op("getlocal_0").Op("pushbyte", {55}).Op("setsuper", {Q("k")});
  put.Op("getlocal_0").Op("pushbyte", {4}).Op("setsuper", {Q("g")});
  Trace(put, [&](AbcCode& x) { x.Op("getlocal_0").Op("getproperty", {Q("k")}); });
  Trace(put, [&](AbcCode& x) { x.Op("getlocal_0").Op("getproperty", {Q("g")}); });
  put.Op("returnvoid");
  const auto derived = DefClass("B", Q("A"), ctorB, {MethodTrait("put", Fn(put))});
  const std::vector<std::uint32_t> cases = {
      Attempt([&](AbcCode& x) { x.Op("getlex", {Q("B")}).Op("construct", {0}).Op("callpropvoid", {Q("put"), 0}); }),
      Attempt([&](AbcCode& x) {
        x.Op("getlex", {Q("B")}).Op("construct", {0}).Op("pushbyte", {55}).Op("setproperty", {Q("k")});
      })};
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "A", base, {"Object"});
  NewClass(c, "B", derived, {"Object", "A"});
  CallEach(c, cases);
  ASSERT_TRUE(Run(c, {ClassTrait("A", base), ClassTrait("B", derived)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "5|1|ok|1074|");
}

// super.x, super.x = v and super.f() take their receiver as the method's
// own class before anything is looked up.
TEST_F(Errors, SuperAccessCoercesItsReceiverToTheMethodsClass) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode body;
  body.Op("returnvoid");
  const auto base = DefClass("A", Q("Object"), ctor, {MethodTrait("f", Fn(body))});
  AbcCode viaSuper;  // function on(x, how) { super.f() / super.f / super.f = 1 with x as receiver }
  viaSuper.Op("getlocal_2").Op("pushbyte", {0}).Branch("ifstricteq", "call").Op("getlocal_2").Op("pushbyte", {1})
      .Branch("ifstricteq", "get").Op("getlocal_1").Op("pushbyte", {1}).Op("setsuper", {Q("g")}).Op("returnvoid");
  viaSuper.Label("call").Op("getlocal_1").Op("callsupervoid", {Q("f"), 0}).Op("returnvoid");
  viaSuper.Label("get").Op("getlocal_1").Op("getsuper", {Q("f")}).Op("pop").Op("returnvoid");
  const auto derived = DefClass("B", Q("A"), ctor, {MethodTrait("on", Fn(viaSuper, 2))});
  std::vector<std::uint32_t> cases;
  for (int how : {0, 1, 2})
    for (const auto& recv : std::vector<std::function<void(AbcCode&)>>{
             [](AbcCode& x) { x.Op("pushbyte", {7}); }, [](AbcCode& x) { x.Op("pushundefined"); }})
      cases.push_back(Attempt([&](AbcCode& x) {
        x.Op("getlex", {Q("B")}).Op("construct", {0});
        recv(x);
        x.Op("pushbyte", {how}).Op("callpropvoid", {Q("on"), 2});
      }));
  cases.push_back(Attempt([&](AbcCode& x) {
    x.Op("getlex", {Q("B")}).Op("construct", {0}).Op("dup").Op("pushbyte", {0}).Op("callpropvoid", {Q("on"), 2});
  }));
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "A", base, {"Object"});
  NewClass(c, "B", derived, {"Object", "A"});
  CallEach(c, cases);
  // Outside a class, super is Object's: the global's own properties.
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_0").Op("pushstring", {S("B")}).Op("callsuper", {Q("hasOwnProperty"), 1}); });
  ASSERT_TRUE(Run(c, {ClassTrait("A", base), ClassTrait("B", derived)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1034|1009|1034|1009|1034|1009|ok|true|");
}

// A method body belongs to one place. Flash's verifier refuses newfunction
// of a class's method and callstatic of a method nothing declares (1107,
// before the method runs at all); callstatic of a class's method takes an
// instance of that class (1034).
TEST_F(Errors, AMethodBelongsToOnePlace) {
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  AbcCode body;
  body.Op("pushstring", {S("m ran")}).Op("returnvalue");
  const auto m = Fn(body);
  AbcCode none;
  none.Op("returnvoid");
  const auto stray = Fn(none);
  auto method = [&](std::string_view name, const std::function<void(AbcCode&)>& code) {
    AbcCode x;
    TraceString(x, std::string(name) + " started");
    code(x);
    x.Op("returnvalue");
    return MethodTrait(name, Fn(x));
  };
  const auto k = DefClass("K", Q("Object"), ctor,
                          {MethodTrait("m", m),
                           method("wrapM", [&](AbcCode& x) { x.Op("newfunction", {m}); }),
                           method("callStray", [&](AbcCode& x) { x.Op("getlocal_0").Op("callstatic", {stray, 0}); }),
                           method("callOnObject", [&](AbcCode& x) { x.Op("newobject", {0}).Op("callstatic", {m, 0}); }),
                           method("callOnThis", [&](AbcCode& x) { x.Op("getlocal_0").Op("callstatic", {m, 0}); })});
  std::vector<std::uint32_t> cases;
  for (const char* name : {"wrapM", "callStray", "callOnObject"})
    cases.push_back(Attempt([&](AbcCode& x) { x.Op("getlex", {Q("K")}).Op("construct", {0}).Op("callpropvoid", {Q(name), 0}); }));
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "K", k, {"Object"});
  CallEach(c, cases);
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("K")}).Op("construct", {0}).Op("callproperty", {Q("callOnThis"), 0}); });
  ASSERT_TRUE(Run(c, {ClassTrait("K", k)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "1107|1107|callOnObject started|1034|callOnThis started|m ran|");
}

}  // namespace
}  // namespace quarvel::avm2
