// ActionScript 3 operations per second: a counting loop with arithmetic,
// property reads and writes on an object and on a class instance, calls of a
// script function and of a method, string building, and names found among
// many scripts. Each benchmark runs a script function `run(n)` assembled
// here; "ops" is loop rounds per second.
#include <benchmark/benchmark.h>

#include <functional>
#include <string>

#include "player/avm2/machine.h"
#include "support/abc_builder.h"

namespace {

using quarvel::testing::AbcBuilder;
using quarvel::testing::AbcCode;
namespace avm2 = quarvel::avm2;

constexpr int kOps = 100000;

// What a loop body names: the public namespace, and a namespace set as
// compilers write for untyped access (private, protected, internal and
// public of the current class), whose every member the machine tries.
struct Names {
  std::uint32_t pub;
  std::uint32_t set;
};

// function run(n) { for (var i = 0; i < n; i++) <body> } with locals
// 1 = n, 2 = i, 3 = an accumulator, 4 = an object {x: 0}, 5 = an instance of
// class Counter (a slot x = 0 and a method inc(v) = v + 1), 6 = a string "".
// `otherScripts` scripts, each defining a variable g<k>, load before the
// script of run.
std::vector<std::uint8_t> LoopBlock(const std::function<void(AbcBuilder&, const Names&, AbcCode&)>& body,
                                    int otherScripts = 0) {
  AbcBuilder a;
  Names names{};
  names.pub = a.Namespace(avm2::NamespaceKind::kPackage, "");
  const auto priv = a.Namespace(avm2::NamespaceKind::kPrivate, "Counter");
  const auto prot = a.Namespace(avm2::NamespaceKind::kProtected, "Counter");
  const auto internal = a.Namespace(avm2::NamespaceKind::kPackageInternal, "");
  const auto staticProt = a.Namespace(avm2::NamespaceKind::kStaticProtected, "Counter");
  names.set = a.NsSet({priv, prot, staticProt, internal, names.pub});
  const auto pub = names.pub;
  avm2::MethodInfo none;
  avm2::MethodInfo one;
  one.paramTypes.resize(1);
  const auto slotTrait = [&](std::string_view name) {
    avm2::Trait t;
    t.name = a.QName(pub, name);
    t.kind = avm2::TraitKind::kSlot;
    return t;
  };
  const auto methodTrait = [&](std::string_view name, std::uint32_t method) {
    avm2::Trait t;
    t.name = a.QName(pub, name);
    t.kind = avm2::TraitKind::kMethod;
    t.index = method;
    return t;
  };
  AbcCode ret;
  ret.Op("returnvoid");
  for (int k = 0; k < otherScripts; ++k) {
    const auto init = a.Method(none);
    a.Body({.method = init, .maxStack = 1, .localCount = 1}, ret);
    a.Script({.init = init, .traits = {slotTrait("g" + std::to_string(k))}});
  }
  // function inc(v) { return v + 1 }, also Counter's method
  AbcCode inc;
  inc.Op("getlocal_1").Op("increment_i").Op("returnvalue");
  const auto incFn = a.Method(one);
  a.Body({.method = incFn, .maxStack = 2, .localCount = 2, .maxScopeDepth = 1}, inc);
  const auto incMethod = a.Method(one);
  a.Body({.method = incMethod, .maxStack = 2, .localCount = 2, .maxScopeDepth = 1}, inc);
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("pushscope").Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
  const auto iinit = a.Method(none);
  a.Body({.method = iinit, .maxStack = 2, .localCount = 1, .maxScopeDepth = 2}, ctor);
  const auto cinit = a.Method(none);
  a.Body({.method = cinit, .maxStack = 1, .localCount = 1, .maxScopeDepth = 2}, ret);
  avm2::InstanceInfo ii;
  ii.name = a.QName(pub, "Counter");
  ii.superName = a.QName(pub, "Object");
  ii.flags = avm2::instance_flag::kSealed | avm2::instance_flag::kProtectedNs;
  ii.protectedNs = prot;
  ii.iinit = iinit;
  ii.traits = {slotTrait("x"), methodTrait("inc", incMethod)};
  avm2::ClassInfo ci;
  ci.cinit = cinit;
  const auto counter = a.Class(ii, ci);

  AbcCode c;
  c.Op("getlocal_0").Op("pushscope").Op("pushbyte", {0}).Op("setlocal_2").Op("pushbyte", {0}).Op("setlocal_3");
  c.Op("pushstring", {a.String("x")}).Op("pushbyte", {0}).Op("newobject", {1}).Op("setlocal", {4});
  c.Op("findpropstrict", {a.QName(pub, "Counter")}).Op("constructprop", {a.QName(pub, "Counter"), 0}).Op("setlocal", {5});
  c.Op("pushstring", {a.String("")}).Op("setlocal", {6});
  c.Loop("loop").Op("getlocal_2").Op("getlocal_1").Branch("ifge", "end");
  body(a, names, c);
  c.Op("inclocal_i", {2}).Branch("jump", "loop");
  c.Label("end").Op("getlocal_3").Op("returnvalue");
  const auto run = a.Method(one);
  a.Body({.method = run, .maxStack = 8, .localCount = 7, .maxScopeDepth = 2}, c);
  AbcCode init;
  init.Op("getlocal_0").Op("pushscope").Op("getscopeobject", {0}).Op("getlex", {a.QName(pub, "Object")}).Op("pushscope");
  init.Op("getlex", {a.QName(pub, "Object")}).Op("newclass", {counter}).Op("popscope");
  init.Op("initproperty", {a.QName(pub, "Counter")}).Op("returnvoid");
  avm2::Trait counterTrait;
  counterTrait.name = a.QName(pub, "Counter");
  counterTrait.kind = avm2::TraitKind::kClass;
  counterTrait.index = counter;
  const auto initFn = a.Method(none);
  a.Body({.method = initFn, .maxStack = 4, .localCount = 1, .maxScopeDepth = 3}, init);
  a.Script({.init = initFn, .traits = {methodTrait("run", run), methodTrait("inc", incFn), counterTrait}});
  return a.Bytes();
}

void RunLoop(benchmark::State& state, const std::vector<std::uint8_t>& abc) {
  avm2::Machine m;
  m.limits.instructionsPerFrame = ~std::uint64_t{0};
  m.Load(std::make_shared<avm2::AbcFile>(avm2::ParseAbc(abc)), "bench");
  const avm2::Name run = m.NameFromString("run");
  avm2::Object* global = m.FindGlobal(run);
  const avm2::Value fn = m.GetProperty(avm2::Value::Obj(global), run);
  m.Pin(fn);  // the collector between rounds must keep it
  for (auto _ : state) {
    avm2::Value n = avm2::Value::Int(kOps);
    m.BeginFrame();
    try {
      benchmark::DoNotOptimize(m.Call(fn, avm2::Value::Null(), std::span<avm2::Value>(&n, 1)));
    } catch (const avm2::ScriptThrow& t) {
      state.SkipWithError(m.DescribeThrow(t.value).c_str());
      return;
    }
    m.Collect();
  }
  state.counters["ops"] = benchmark::Counter(static_cast<double>(state.iterations()) * kOps, benchmark::Counter::kIsRate);
}

void Arithmetic(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder&, const Names&, AbcCode& c) {
    c.Op("getlocal_3").Op("getlocal_2").Op("pushbyte", {3}).Op("multiply_i").Op("add_i").Op("pushbyte", {7})
        .Op("bitxor").Op("setlocal_3");
  }));
}
// o.x++ on a plain object, the name in the public namespace alone.
void PropertyAccess(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder& a, const Names& ns, AbcCode& c) {
    const auto x = a.Multiname("x", a.NsSet({ns.pub}));
    c.Op("getlocal", {4}).Op("getlocal", {4}).Op("getproperty", {x}).Op("increment").Op("setproperty", {x});
  }));
}
// o.x++ on a plain object, the name in a namespace set: a dynamic property
// found after every namespace's trait look-up failed.
void DynamicLookup(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder& a, const Names& ns, AbcCode& c) {
    const auto x = a.Multiname("x", ns.set);
    c.Op("getlocal", {4}).Op("getlocal", {4}).Op("getproperty", {x}).Op("increment").Op("setproperty", {x});
  }));
}
// counter.x++ on a class instance's slot, the name in a namespace set.
void ClassPropertyAccess(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder& a, const Names& ns, AbcCode& c) {
    const auto x = a.Multiname("x", ns.set);
    c.Op("getlocal", {5}).Op("getlocal", {5}).Op("getproperty", {x}).Op("increment").Op("setproperty", {x});
  }));
}
// acc = inc(acc), a script function found on the scope chain.
void Calls(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder& a, const Names& ns, AbcCode& c) {
    const auto inc = a.QName(ns.pub, "inc");
    c.Op("findpropstrict", {inc}).Op("getlocal_3").Op("callproperty", {inc, 1}).Op("setlocal_3");
  }));
}
// acc = counter.inc(acc), a class's method by a namespace-set name.
void MethodCalls(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder& a, const Names& ns, AbcCode& c) {
    const auto inc = a.Multiname("inc", ns.set);
    c.Op("getlocal", {5}).Op("getlocal_3").Op("callproperty", {inc, 1}).Op("setlocal_3");
  }));
}
// s = s + "ab" + i, started again every 256 rounds.
void StringBuilding(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder& a, const Names&, AbcCode& c) {
    c.Op("getlocal_2").Op("pushshort", {255}).Op("bitand").Branch("iftrue", "grow");
    c.Op("pushstring", {a.String("")}).Op("setlocal", {6});
    c.Label("grow").Op("getlocal", {6}).Op("pushstring", {a.String("ab")}).Op("add").Op("getlocal_2").Op("add");
    c.Op("setlocal", {6});
  }));
}
// acc = g299, a variable of the last of 300 other scripts: the look-up
// passes the scope chain and the core library first.
void GlobalLookup(benchmark::State& state) {
  RunLoop(state, LoopBlock(
                     [](AbcBuilder& a, const Names& ns, AbcCode& c) {
                       c.Op("getlex", {a.Multiname("g299", ns.set)}).Op("setlocal_3");
                     },
                     300));
}
BENCHMARK(Arithmetic)->Unit(benchmark::kMillisecond);
BENCHMARK(PropertyAccess)->Unit(benchmark::kMillisecond);
BENCHMARK(DynamicLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(ClassPropertyAccess)->Unit(benchmark::kMillisecond);
BENCHMARK(Calls)->Unit(benchmark::kMillisecond);
BENCHMARK(MethodCalls)->Unit(benchmark::kMillisecond);
BENCHMARK(StringBuilding)->Unit(benchmark::kMillisecond);
BENCHMARK(GlobalLookup)->Unit(benchmark::kMillisecond);

}  // namespace
