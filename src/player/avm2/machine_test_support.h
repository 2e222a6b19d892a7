#pragma once
// The test fixture for the machine on assembled byte code: a script whose
// code the test writes, run on a fresh machine, observed through trace().

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/avm2/machine.h"
#include "support/abc_builder.h"

namespace quarvel::avm2 {

using testing::AbcBuilder;
using testing::AbcCode;

class As3 : public ::testing::Test {
 protected:
  AbcBuilder a;
  const std::uint32_t pub = a.Namespace(NamespaceKind::kPackage, "");
  std::vector<std::string> traced, logged;
  int swfVersion = 0;  // the movie's SWF version the machine is told (0: newest)

  std::uint32_t Q(std::string_view n) { return a.QName(pub, n); }
  std::uint32_t S(std::string_view s) { return a.String(s); }
  std::uint32_t Fn(const AbcCode& c, std::size_t params = 0, std::uint8_t flags = 0, std::vector<Trait> traits = {}) {
    MethodInfo mi;
    mi.paramTypes.resize(params);
    mi.flags = flags;
    const auto m = a.Method(mi);
    MethodBody b{.method = m, .maxStack = 16, .localCount = static_cast<std::uint32_t>(params + 6), .maxScopeDepth = 8};
    b.traits = std::move(traits);
    a.Body(b, c);
    return m;
  }
  // trace(<what pushes one value>)
  void Trace(AbcCode& c, const std::function<void(AbcCode&)>& value) {
    c.Op("findpropstrict", {Q("trace")});
    value(c);
    c.Op("callpropvoid", {Q("trace"), 1});
  }
  void TraceString(AbcCode& c, std::string_view s) {
    Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S(s)}); });
  }
  // Calls a method on the value pushed by `obj`.
  void Call(AbcCode& c, std::string_view method, int argc) { c.Op("callproperty", {Q(method), argc}); }
  bool Run(AbcCode& main, std::vector<Trait> scriptTraits = {}, Limits limits = {}) {
    main.Op("returnvoid");
    const auto init = Fn(main);
    a.Script({.init = init, .traits = std::move(scriptTraits)});
    Machine m;
    m.limits = limits;
    m.swfVersion = swfVersion;
    m.traceSink = [this](const std::string& s) { traced.push_back(s); };
    m.logSink = [this](const std::string& s) { logged.push_back(s); };
    const bool ok = m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "test");
    m.Collect();
    return ok;
  }
  Trait SlotTrait(std::string_view name, std::uint32_t id = 0) {
    Trait t;
    t.name = Q(name);
    t.kind = TraitKind::kSlot;
    t.id = id;
    return t;
  }
  Trait ClassTrait(std::string_view name, std::uint32_t index) {
    Trait t;
    t.name = Q(name);
    t.kind = TraitKind::kClass;
    t.index = index;
    return t;
  }
  Trait MethodTrait(std::string_view name, std::uint32_t method, TraitKind kind = TraitKind::kMethod) {
    Trait t;
    t.name = Q(name);
    t.kind = kind;
    t.index = method;
    return t;
  }
  // A class: its constructor code runs after getlocal_0/pushscope.
  std::uint32_t DefClass(std::string_view name, std::uint32_t superName, AbcCode ctor, std::vector<Trait> traits,
                         std::vector<std::uint32_t> interfaces = {}, std::uint8_t flags = instance_flag::kSealed,
                         std::size_t ctorParams = 0) {
    AbcCode cinit;
    cinit.Op("returnvoid");
    InstanceInfo ii;
    ii.name = Q(name);
    ii.superName = superName;
    ii.flags = flags;
    ii.interfaces = std::move(interfaces);
    ii.iinit = Fn(ctor, ctorParams);
    ii.traits = std::move(traits);
    ClassInfo ci;
    ci.cinit = Fn(cinit);
    return a.Class(ii, ci);
  }
  // Script code that makes class `index` with the bases given (outermost first).
  void NewClass(AbcCode& c, std::string_view name, std::uint32_t index, const std::vector<std::string>& bases) {
    c.Op("getscopeobject", {0});
    for (const auto& b : bases) c.Op("getlex", {Q(b)}).Op("pushscope");
    if (bases.empty()) c.Op("pushnull");
    else c.Op("getlex", {Q(bases.back())});
    c.Op("newclass", {index});
    for (std::size_t i = 0; i < bases.size(); ++i) c.Op("popscope");
    c.Op("initproperty", {Q(name)});
  }
  std::string Traced() const {
    std::string s;
    for (const auto& t : traced) s += t + "|";
    return s;
  }
};

}  // namespace quarvel::avm2
