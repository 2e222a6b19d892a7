// ActionScript 3 operations per second: a counting loop with arithmetic,
// property reads and writes on an object, and calls of a script function.
// Each benchmark runs a script function `run(n)` assembled here; "ops" is
// loop rounds per second.
#include <benchmark/benchmark.h>

#include <functional>

#include "player/avm2/machine.h"
#include "support/abc_builder.h"

namespace {

using quarvel::testing::AbcBuilder;
using quarvel::testing::AbcCode;
namespace avm2 = quarvel::avm2;

constexpr int kOps = 100000;

// function run(n) { for (var i = 0; i < n; i++) <body> } with locals
// 1 = n, 2 = i, 3 = an accumulator, 4 = an object {x: 0}.
std::vector<std::uint8_t> LoopBlock(const std::function<void(AbcBuilder&, std::uint32_t, AbcCode&)>& body) {
  AbcBuilder a;
  const auto pub = a.Namespace(avm2::NamespaceKind::kPackage, "");
  // function inc(v) { return v + 1 }
  AbcCode inc;
  inc.Op("getlocal_1").Op("increment_i").Op("returnvalue");
  avm2::MethodInfo one;
  one.paramTypes.resize(1);
  const auto incFn = a.Method(one);
  a.Body({.method = incFn, .maxStack = 2, .localCount = 2, .maxScopeDepth = 1}, inc);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope").Op("pushbyte", {0}).Op("setlocal_2").Op("pushbyte", {0}).Op("setlocal_3");
  c.Op("pushstring", {a.String("x")}).Op("pushbyte", {0}).Op("newobject", {1}).Op("setlocal", {4});
  c.Loop("loop").Op("getlocal_2").Op("getlocal_1").Branch("ifge", "end");
  body(a, pub, c);
  c.Op("inclocal_i", {2}).Branch("jump", "loop");
  c.Label("end").Op("getlocal_3").Op("returnvalue");
  const auto run = a.Method(one);
  a.Body({.method = run, .maxStack = 8, .localCount = 5, .maxScopeDepth = 2}, c);
  AbcCode init;
  init.Op("returnvoid");
  avm2::Trait runTrait, incTrait;
  runTrait.name = a.QName(pub, "run");
  runTrait.kind = avm2::TraitKind::kMethod;
  runTrait.index = run;
  incTrait.name = a.QName(pub, "inc");
  incTrait.kind = avm2::TraitKind::kMethod;
  incTrait.index = incFn;
  a.Script({.init = a.Method({}), .traits = {runTrait, incTrait}});
  a.Body({.method = a.File().scripts.back().init, .maxStack = 1, .localCount = 1}, init);
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
  RunLoop(state, LoopBlock([](AbcBuilder&, std::uint32_t, AbcCode& c) {
    c.Op("getlocal_3").Op("getlocal_2").Op("pushbyte", {3}).Op("multiply_i").Op("add_i").Op("pushbyte", {7})
        .Op("bitxor").Op("setlocal_3");
  }));
}
void PropertyAccess(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder& a, std::uint32_t pub, AbcCode& c) {
    const auto x = a.Multiname("x", a.NsSet({pub}));
    c.Op("getlocal", {4}).Op("getlocal", {4}).Op("getproperty", {x}).Op("increment").Op("setproperty", {x});
  }));
}
void Calls(benchmark::State& state) {
  RunLoop(state, LoopBlock([](AbcBuilder& a, std::uint32_t pub, AbcCode& c) {
    const auto inc = a.QName(pub, "inc");
    c.Op("findpropstrict", {inc}).Op("getlocal_3").Op("callproperty", {inc, 1}).Op("setlocal_3");
  }));
}
BENCHMARK(Arithmetic)->Unit(benchmark::kMillisecond);
BENCHMARK(PropertyAccess)->Unit(benchmark::kMillisecond);
BENCHMARK(Calls)->Unit(benchmark::kMillisecond);

}  // namespace
