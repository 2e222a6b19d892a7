#pragma once
// ActionScript 3 movies from code: a document class Main (a MovieClip)
// whose constructor is assembled by the caller, with helpers for the code
// tests write most (sprites with a filled rectangle, listeners that trace
// what they hear). Free of the test framework, so that the fuzz seed maker
// uses it too; tests include support/as3_movie.h, which adds the runs.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/abc_builder.h"
#include "support/swf_builder.h"

namespace quarvel::testing {

struct As3Movie {
  AbcBuilder a;
  std::uint32_t pub = a.Namespace(avm2::NamespaceKind::kPackage, "");
  std::uint32_t maxStack = 16;  // of every method made here
  std::uint32_t Q(std::string_view n) { return a.QName(pub, n); }
  std::uint32_t S(std::string_view s) { return a.String(s); }
  std::uint32_t Display(std::string_view n) { return a.PackageName("flash.display", n); }
  std::uint32_t Events(std::string_view n) { return a.PackageName("flash.events", n); }
  std::uint32_t Method(const AbcCode& c, std::size_t params = 0) {
    avm2::MethodInfo mi;
    mi.paramTypes.resize(params);
    const auto m = a.Method(mi);
    const auto locals = static_cast<std::uint32_t>(params + 8);
    a.Body({.method = m, .maxStack = maxStack, .localCount = locals, .maxScopeDepth = 4}, c);
    return m;
  }
  // function (e) { trace(label + e.<f1> + " " + e.<f2> ...) }: each field
  // may be a path ("target.name").
  std::uint32_t Tracer(std::string_view label, const std::vector<std::string>& fields) {
    AbcCode c;
    c.Op("findpropstrict", {Q("trace")}).Op("pushstring", {S(label)});
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) c.Op("pushstring", {S(" ")}).Op("add");
      c.Op("getlocal_1");
      std::string_view path = fields[i];
      while (!path.empty()) {
        const auto dot = path.find('.');
        c.Op("getproperty", {Q(path.substr(0, dot))});
        path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
      }
      c.Op("add");
    }
    c.Op("callpropvoid", {Q("trace"), 1}).Op("returnvoid");
    return Method(c, 1);
  }
  // Pushes the object in local `local` (0: this; -1: stage).
  void Push(AbcCode& c, int local) {
    if (local < 0) c.Op("getlocal_0").Op("getproperty", {Q("stage")});
    else c.Op("getlocal", {local});
  }
  // local = new Sprite() named `name`, filled with `rgb` over (x, y, w, h), added to `parent`.
  void NewSprite(AbcCode& c, int local, std::string_view name, std::uint32_t rgb, int x, int y, int w, int h,
                 int parent = 0) {
    c.Op("findpropstrict", {Display("Sprite")}).Op("constructprop", {Display("Sprite"), 0}).Op("setlocal", {local});
    c.Op("getlocal", {local}).Op("pushstring", {S(name)}).Op("setproperty", {Q("name")});
    c.Op("getlocal", {local}).Op("getproperty", {Q("graphics")}).Op("pushint", {a.Int(static_cast<std::int32_t>(rgb))})
        .Op("callpropvoid", {Q("beginFill"), 1});
    c.Op("getlocal", {local}).Op("getproperty", {Q("graphics")});
    for (int v : {x, y, w, h}) c.Op("pushint", {a.Int(v)});
    c.Op("callpropvoid", {Q("drawRect"), 4});
    Push(c, parent);
    c.Op("getlocal", {local}).Op("callpropvoid", {Q("addChild"), 1});
  }
  // obj.addEventListener(type, new function `method`, capture, priority)
  void Listen(AbcCode& c, int local, std::string_view type, std::uint32_t method, bool capture = false,
              int priority = 0) {
    Push(c, local);
    c.Op("pushstring", {S(type)}).Op("newfunction", {method});
    if (capture || priority != 0) {
      c.Op(capture ? "pushtrue" : "pushfalse").Op("pushint", {a.Int(priority)});
      c.Op("callpropvoid", {Q("addEventListener"), 4});
    } else {
      c.Op("callpropvoid", {Q("addEventListener"), 2});
    }
  }
  // obj.<property> = true/false
  void SetBool(AbcCode& c, int local, std::string_view property, bool v) {
    Push(c, local);
    c.Op(v ? "pushtrue" : "pushfalse").Op("setproperty", {Q(property)});
  }
  void Trace(AbcCode& c, std::string_view text) {
    c.Op("findpropstrict", {Q("trace")}).Op("pushstring", {S(text)}).Op("callpropvoid", {Q("trace"), 1});
  }
  // trace(label + <what `value` pushes>)
  void TraceValue(AbcCode& c, std::string_view label, const std::function<void()>& value) {
    c.Op("findpropstrict", {Q("trace")}).Op("pushstring", {S(label)});
    value();
    c.Op("add").Op("callpropvoid", {Q("trace"), 1});
  }

  // A class `name` of no members of its own beyond the base chain `bases`
  // (outermost first, e.g. EventDispatcher, Sound), linked by SymbolClass
  // to character `symbol` (0: none). Call before Build.
  // `body` runs in its constructor after super(), `beforeSuper` before it.
  void LinkedClass(std::string_view name, std::vector<std::uint32_t> bases, std::uint16_t symbol = 0,
                   const std::function<void(AbcCode&)>& body = {},
                   const std::function<void(AbcCode&)>& beforeSuper = {}, bool sealed = false,
                   std::size_t ctorParams = 0) {
    AbcCode ctor;
    ctor.Op("getlocal_0").Op("pushscope");
    if (beforeSuper) beforeSuper(ctor);
    ctor.Op("getlocal_0").Op("constructsuper", {0});
    if (body) body(ctor);
    ctor.Op("returnvoid");
    AbcCode cinit;
    cinit.Op("returnvoid");
    avm2::InstanceInfo ii;
    ii.name = Q(name);
    ii.superName = bases.back();
    if (sealed) ii.flags = avm2::instance_flag::kSealed;
    ii.iinit = Method(ctor, ctorParams);
    const auto cls = a.Class(ii, {.cinit = Method(cinit)});
    linked.push_back({std::string(name), std::move(bases), cls, symbol});
  }
  // Tags written before the code (definitions for linked classes).
  std::function<void(SwfBuilder&)> defineTags;
  // Tags of the main timeline's frame `n` (from 1, the second), before its ShowFrame.
  std::function<void(SwfBuilder&, int)> frameTags;
  // Code of the document class's constructor before its super() call.
  std::function<void(As3Movie&, AbcCode&)> beforeSuper;
  // The document class's name (a movie another one loads needs its own).
  std::string docName = "Main";
  // Its base class, a multiname (0: MovieClip).
  std::uint32_t docBase = 0;
  // The FileAttributes flags (0x08: ActionScript 3; 0x01: network access).
  std::uint32_t fileAttributes = 0x08;

  // The movie: `frames` frames of width x height pixels on white at 10
  // frames per second; `methods` become methods of Main by name.
  std::vector<std::uint8_t> Build(const std::function<void(As3Movie&, AbcCode&)>& ctor, int frames = 1,
                                  std::vector<std::pair<std::string, AbcCode>> methods = {}, int width = 100,
                                  int height = 100) {
    const std::vector<std::uint8_t> abc = Abc(ctor, std::move(methods));
    SwfBuilder b(10, {0, width * 20, 0, height * 20}, 10.0);
    b.FileAttributes(fileAttributes).SetBackgroundColor({255, 255, 255, 255});
    if (defineTags) defineTags(b);
    AddDoAbc(b, abc, "main");
    std::vector<std::pair<std::uint16_t, std::string>> symbols{{0, docName}};
    for (const Linked& l : linked)
      if (l.symbol) symbols.emplace_back(l.symbol, l.name);
    b.ExportAssets(symbols, true);
    for (int i = 0; i < frames; ++i) {
      if (i > 0 && frameTags) frameTags(b, i);
      b.ShowFrame();
    }
    return b.Build();
  }

  // The ABC block alone: the linked classes, then Main (the last class, so
  // that a host taking the last display class as the document finds it).
  std::vector<std::uint8_t> Abc(const std::function<void(As3Movie&, AbcCode&)>& ctor,
                                std::vector<std::pair<std::string, AbcCode>> methods = {}) {
    AbcCode c;
    c.Op("getlocal_0").Op("pushscope");
    if (beforeSuper) beforeSuper(*this, c);
    c.Op("getlocal_0").Op("constructsuper", {0});
    ctor(*this, c);
    c.Op("returnvoid");
    avm2::InstanceInfo ii;
    ii.name = Q(docName);
    const std::uint32_t base = docBase ? docBase : Display("MovieClip");
    ii.superName = base;
    ii.flags = avm2::instance_flag::kSealed;
    ii.iinit = Method(c);
    for (auto& [name, code] : methods) {
      avm2::Trait t;
      t.name = Q(name);
      t.kind = avm2::TraitKind::kMethod;
      // (e = undefined): called as a listener or as a frame script alike.
      avm2::MethodInfo mi;
      mi.paramTypes.resize(1);
      mi.flags = avm2::method_flag::kHasOptional;
      mi.optional = {avm2::ConstantValue{avm2::ConstantKind::kUndefined, 0}};
      t.index = a.Method(mi);
      a.Body({.method = t.index, .maxStack = maxStack, .localCount = 9, .maxScopeDepth = 4}, code);
      ii.traits.push_back(t);
    }
    AbcCode cinit;
    cinit.Op("returnvoid");
    const auto cls = a.Class(ii, {.cinit = Method(cinit)});
    AbcCode init;
    init.Op("getlocal_0").Op("pushscope");
    std::vector<avm2::Trait> traits;
    for (const Linked& l : linked) {
      init.Op("getscopeobject", {0});
      for (std::uint32_t base : l.bases) init.Op("getlex", {base}).Op("pushscope");
      init.Op("getlex", {l.bases.back()}).Op("newclass", {l.cls});
      for (std::size_t i = 0; i < l.bases.size(); ++i) init.Op("popscope");
      init.Op("initproperty", {Q(l.name)});
      avm2::Trait t;
      t.name = Q(l.name);
      t.kind = avm2::TraitKind::kClass;
      t.index = l.cls;
      traits.push_back(t);
    }
    init.Op("getscopeobject", {0}).Op("getlex", {base})
        .Op("newclass", {cls}).Op("initproperty", {Q(docName)}).Op("returnvoid");
    avm2::Trait ct;
    ct.name = Q(docName);
    ct.kind = avm2::TraitKind::kClass;
    ct.index = cls;
    traits.push_back(ct);
    a.Script({.init = Method(init), .traits = traits});
    return a.Bytes();
  }

 private:
  struct Linked {
    std::string name;
    std::vector<std::uint32_t> bases;
    std::uint32_t cls = 0;
    std::uint16_t symbol = 0;
  };
  std::vector<Linked> linked;
};

}  // namespace quarvel::testing
