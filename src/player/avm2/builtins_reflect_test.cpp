// Reflection on assembled classes: Proxy's hooks, describeType's XML,
// getDefinitionByName, and prototype extension of the built-in classes.
#include <gtest/gtest.h>

#include "player/avm2/builtins_util.h"
#include "player/avm2/machine_test_support.h"

namespace quarvel::avm2 {
namespace {

class As3Reflect : public As3 {
 protected:
  std::uint32_t proxyNs = a.Namespace(NamespaceKind::kNamespace, "http://www.adobe.com/2006/actionscript/flash/proxy");
  Trait ProxyMethod(std::string_view name, const AbcCode& code, std::size_t params) {
    Trait t;
    t.name = a.QName(proxyNs, name);
    t.kind = TraitKind::kMethod;
    t.attributes = trait_attr::kOverride;
    t.index = Fn(code, params);
    return t;
  }
  bool RunWithClasses(AbcCode& c, std::vector<Trait> classes) {
    c.Op("returnvoid");
    const auto init = Fn(c);
    a.Script({.init = init, .traits = std::move(classes)});
    Machine m;
    m.traceSink = [this](const std::string& s) { traced.push_back(s); };
    m.logSink = [this](const std::string& s) { logged.push_back(s); };
    return m.Load(std::make_shared<AbcFile>(ParseAbc(a.Bytes())), "t");
  }
  static AbcCode Ctor() {
    AbcCode x;
    x.Op("getlocal_0").Op("pushscope").Op("getlocal_0").Op("constructsuper", {0}).Op("returnvoid");
    return x;
  }
};

TEST_F(As3Reflect, ProxyAnswersWhatItsTraitsDoNot) {
  const auto proxy = a.PackageName("flash.utils", "Proxy");
  // getProperty(name) { return "got " + name }
  AbcCode get;
  get.Op("pushstring", {S("got ")}).Op("getlocal_1").Op("getproperty", {Q("localName")}).Op("add").Op("returnvalue");
  // setProperty(name, v) { trace("set " + name + "=" + v) }
  AbcCode set;
  set.Op("findpropstrict", {Q("trace")}).Op("pushstring", {S("set ")}).Op("getlocal_1").Op("add")
      .Op("pushstring", {S("=")}).Op("add").Op("getlocal_2").Op("add").Op("callpropvoid", {Q("trace"), 1}).Op("returnvoid");
  // callProperty(name, ...rest) { return name + "(" + rest.length + ")" }
  AbcCode call;
  call.Op("getlocal_1").Op("pushstring", {S("(")}).Op("add").Op("getlocal_2").Op("getproperty", {Q("length")}).Op("add")
      .Op("pushstring", {S(")")}).Op("add").Op("returnvalue");
  // hasProperty(name) { return name == "yes" }
  AbcCode has;
  has.Op("getlocal_1").Op("pushstring", {S("yes")}).Op("equals").Op("returnvalue");
  // deleteProperty(name) { trace("delete " + name); return true }
  AbcCode del;
  del.Op("findpropstrict", {Q("trace")}).Op("pushstring", {S("delete ")}).Op("getlocal_1").Op("add")
      .Op("callpropvoid", {Q("trace"), 1}).Op("pushtrue").Op("returnvalue");
  // nextNameIndex(i) { return i < 2 ? i + 1 : 0 }; nextName(i) { return "k" + i }; nextValue(i) { return i * 10 }
  AbcCode nextIndex;
  nextIndex.Op("getlocal_1").Op("pushbyte", {2}).Branch("ifnlt", "end").Op("getlocal_1").Op("increment_i").Op("returnvalue")
      .Label("end").Op("pushbyte", {0}).Op("returnvalue");
  AbcCode nextName;
  nextName.Op("pushstring", {S("k")}).Op("getlocal_1").Op("add").Op("returnvalue");
  AbcCode nextValue;
  nextValue.Op("getlocal_1").Op("pushbyte", {10}).Op("multiply").Op("returnvalue");
  // A real method still wins over callProperty.
  AbcCode own;
  own.Op("pushstring", {S("own")}).Op("returnvalue");
  MethodInfo restInfo;
  restInfo.paramTypes.resize(1);
  restInfo.flags = method_flag::kNeedRest;
  const auto callFn = a.Method(restInfo);
  a.Body({.method = callFn, .maxStack = 8, .localCount = 4, .maxScopeDepth = 2}, call);
  Trait callTrait;
  callTrait.name = a.QName(proxyNs, "callProperty");
  callTrait.kind = TraitKind::kMethod;
  callTrait.attributes = trait_attr::kOverride;
  callTrait.index = callFn;
  const auto cls = DefClass("P", proxy, Ctor(),
                            {ProxyMethod("getProperty", get, 1), ProxyMethod("setProperty", set, 2), callTrait,
                             ProxyMethod("hasProperty", has, 1), ProxyMethod("deleteProperty", del, 1),
                             ProxyMethod("nextNameIndex", nextIndex, 1), ProxyMethod("nextName", nextName, 1),
                             ProxyMethod("nextValue", nextValue, 1), MethodTrait("real", Fn(own))},
                            {}, 0);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  c.Op("getscopeobject", {0}).Op("getlex", {Q("Object")}).Op("pushscope").Op("getlex", {proxy}).Op("pushscope")
      .Op("getlex", {proxy}).Op("newclass", {cls}).Op("popscope").Op("popscope").Op("initproperty", {Q("P")});
  c.Op("findpropstrict", {Q("P")}).Op("constructprop", {Q("P"), 0}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("foo")}); });
  c.Op("getlocal_1").Op("pushbyte", {5}).Op("setproperty", {Q("bar")});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {1}).Op("pushbyte", {2}).Op("callproperty", {Q("baz"), 2}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("callproperty", {Q("real"), 0}); });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("yes")}).Op("getlocal_1").Op("in"); });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("no")}).Op("getlocal_1").Op("in"); });
  c.Op("getlocal_1").Op("deleteproperty", {Q("zap")}).Op("pop");
  // "" + p: the conversion's toString is asked of callProperty.
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("")}).Op("getlocal_1").Op("add"); });
  // for (k in p) trace(k); for each (v in p) trace(v)
  for (const char* op : {"nextname", "nextvalue"}) {
    const std::string loop = std::string("loop") + op, done = std::string("done") + op;
    c.Op("pushbyte", {0}).Op("setlocal_3").Op("getlocal_1").Op("coerce_a").Op("setlocal_2");
    c.Loop(loop).Op("hasnext2", {2, 3}).Branch("iffalse", done);
    Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getlocal_3").Op(op); });
    c.Branch("jump", loop).Label(done);
  }
  ASSERT_TRUE(RunWithClasses(c, {ClassTrait("P", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "got foo|set bar=5|baz(2)|own|true|false|delete zap|toString(0)|k1|k2|10|20|");
}

// flash_proxy::isAttribute is Proxy's own method, found before the hooks: a
// getProperty that asks it (as component libraries' style proxies do) gets
// an answer instead of calling itself until the stack runs out; written as
// a public name it is a property like any other, handed to getProperty.
TEST_F(As3Reflect, ProxyIsAttributeIsAMethodInTheProxyNamespace) {
  const auto proxy = a.PackageName("flash.utils", "Proxy");
  const auto isAttribute = a.QName(proxyNs, "isAttribute");
  // getProperty(name) { return (this.flash_proxy::isAttribute(name) ? "@" : "") + name.localName }
  AbcCode get;
  get.Op("getlocal_0").Op("getlocal_1").Op("callproperty", {isAttribute, 1}).Branch("iffalse", "plain")
      .Op("pushstring", {S("@")}).Branch("jump", "name").Label("plain").Op("pushstring", {S("")}).Label("name")
      .Op("getlocal_1").Op("getproperty", {Q("localName")}).Op("add").Op("returnvalue");
  const auto cls = DefClass("P", proxy, Ctor(), {ProxyMethod("getProperty", get, 1)}, {}, 0);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  c.Op("getscopeobject", {0}).Op("getlex", {Q("Object")}).Op("pushscope").Op("getlex", {proxy}).Op("pushscope")
      .Op("getlex", {proxy}).Op("newclass", {cls}).Op("popscope").Op("popscope").Op("initproperty", {Q("P")});
  c.Op("findpropstrict", {Q("P")}).Op("constructprop", {Q("P"), 0}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("textFormat")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("isAttribute")}); });
  ASSERT_TRUE(RunWithClasses(c, {ClassTrait("P", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "textFormat|isAttribute|");
}

// A hook the subclass leaves out throws when called by name, from
// Error.throwError inside Proxy's method; hasOwnProperty asks hasProperty by
// string, and the machine's own uses of a missing hook go on without it.
TEST_F(As3Reflect, ProxyHooksWithoutOverrideThrowAndHasOwnPropertyAsksHasProperty) {
  const auto proxy = a.PackageName("flash.utils", "Proxy");
  // hasProperty(name) { trace(typeof name + " " + name); return name == "yes" }
  AbcCode has;
  has.Op("findpropstrict", {Q("trace")}).Op("getlocal_1").Op("typeof").Op("pushstring", {S(" ")}).Op("add")
      .Op("getlocal_1").Op("add").Op("callpropvoid", {Q("trace"), 1});
  has.Op("getlocal_1").Op("pushstring", {S("yes")}).Op("equals").Op("returnvalue");
  const auto withHas = DefClass("H", proxy, Ctor(), {ProxyMethod("hasProperty", has, 1)}, {}, 0);
  const auto bare = DefClass("B", proxy, Ctor(), {}, {}, 0);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  for (auto [name, cls] : {std::pair<const char*, std::uint32_t>{"H", withHas}, {"B", bare}})
    c.Op("getscopeobject", {0}).Op("getlex", {Q("Object")}).Op("pushscope").Op("getlex", {proxy}).Op("pushscope")
        .Op("getlex", {proxy}).Op("newclass", {cls}).Op("popscope").Op("popscope").Op("initproperty", {Q(name)});
  c.Op("findpropstrict", {Q("H")}).Op("constructprop", {Q("H"), 0}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushbyte", {7}); Call(x, "hasOwnProperty", 1); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("pushstring", {S("yes")}); Call(x, "hasOwnProperty", 1); });
  // Without a getProperty override a read is undefined, as before.
  c.Op("findpropstrict", {Q("B")}).Op("constructprop", {Q("B"), 0}).Op("setlocal_2");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getproperty", {Q("missing")}); });
  // b.flash_proxy::getProperty("x")
  c.Op("getlocal_2").Op("pushstring", {S("x")}).Op("callproperty", {a.QName(proxyNs, "getProperty"), 1});
  EXPECT_FALSE(RunWithClasses(c, {ClassTrait("H", withHas), ClassTrait("B", bare)}));
  EXPECT_EQ(Traced(),
            "string 7|false|string yes|true|undefined|Error: Error #2088: The Proxy class does not implement getProperty. "
            "It must be overridden by a subclass.\n\tat Error$/throwError()\n\tat "
            "flash.utils::Proxy/http://www.adobe.com/2006/actionscript/flash/proxy::getProperty()\n\tat global$init()|");
}

// AMF3 writes a dynamic Proxy's members as its enumeration hooks list them,
// asked in Flash's order: the index, then its name, then its value.
TEST_F(As3Reflect, Amf3WritesAProxysMembersThroughItsEnumerationHooks) {
  const auto proxy = a.PackageName("flash.utils", "Proxy");
  const auto byteArray = a.PackageName("flash.utils", "ByteArray");
  const auto say = [&](AbcCode& x, const char* what) {  // trace(what + i)
    x.Op("findpropstrict", {Q("trace")}).Op("pushstring", {S(what)}).Op("getlocal_1").Op("add").Op("callpropvoid", {Q("trace"), 1});
  };
  AbcCode nextIndex;  // i < 2 ? i + 1 : 0
  say(nextIndex, "i");
  nextIndex.Op("getlocal_1").Op("pushbyte", {2}).Branch("ifnlt", "end").Op("getlocal_1").Op("increment_i").Op("returnvalue")
      .Label("end").Op("pushbyte", {0}).Op("returnvalue");
  AbcCode nextName;  // "k" + i
  say(nextName, "n");
  nextName.Op("pushstring", {S("k")}).Op("getlocal_1").Op("add").Op("returnvalue");
  AbcCode nextValue;  // i * 10
  say(nextValue, "v");
  nextValue.Op("getlocal_1").Op("pushbyte", {10}).Op("multiply").Op("returnvalue");
  const auto cls = DefClass("P", proxy, Ctor(),
                            {ProxyMethod("nextNameIndex", nextIndex, 1), ProxyMethod("nextName", nextName, 1),
                             ProxyMethod("nextValue", nextValue, 1)},
                            {}, 0);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  c.Op("getscopeobject", {0}).Op("getlex", {Q("Object")}).Op("pushscope").Op("getlex", {proxy}).Op("pushscope")
      .Op("getlex", {proxy}).Op("newclass", {cls}).Op("popscope").Op("popscope").Op("initproperty", {Q("P")});
  c.Op("findpropstrict", {byteArray}).Op("constructprop", {byteArray, 0}).Op("setlocal_1");
  c.Op("getlocal_1").Op("findpropstrict", {Q("P")}).Op("constructprop", {Q("P"), 0}).Op("callpropvoid", {Q("writeObject"), 1});
  c.Op("getlocal_1").Op("pushbyte", {0}).Op("setproperty", {Q("position")});
  c.Op("getlocal_1").Op("callproperty", {Q("readObject"), 0}).Op("setlocal_2");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("length")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_2").Op("getproperty", {Q("k1")}).Op("getlocal_2").Op("getproperty", {Q("k2")}).Op("add"); });
  ASSERT_TRUE(RunWithClasses(c, {ClassTrait("P", cls)})) << (logged.empty() ? "" : logged[0]);
  // 10 11 1: a dynamic object of no class name; 5 "k1" 4 10; 5 "k2" 4 20; 1: the end
  EXPECT_EQ(Traced(), "i0|n1|v1|i1|n2|v2|i2|14|30|");
}

TEST_F(As3Reflect, DescribeTypeListsPublicMembersWithTypesAndMetadata) {
  // [Tag(kind="x")] class Item { public var count:int; private var hidden; [Inject] public var name:String;
  //   public function get size():Number; public function set size(v); public function run(a:String, b:int = 1):Boolean }
  const auto priv = a.Namespace(NamespaceKind::kPrivate, "");
  Trait count = SlotTrait("count");
  count.typeName = Q("int");
  Trait hidden;
  hidden.name = a.QName(priv, "hidden");
  hidden.kind = TraitKind::kSlot;
  Trait name = SlotTrait("name");
  name.typeName = Q("String");
  name.attributes = trait_attr::kMetadata;
  name.metadata = {a.Metadata({.name = S("Inject"), .items = {}})};
  AbcCode ret;
  ret.Op("pushbyte", {1}).Op("returnvalue");
  MethodInfo getInfo;
  getInfo.returnType = Q("Number");
  const auto getter = a.Method(getInfo);
  a.Body({.method = getter, .maxStack = 2, .localCount = 1, .maxScopeDepth = 1}, ret);
  Trait size;
  size.name = Q("size");
  size.kind = TraitKind::kGetter;
  size.index = getter;
  Trait sizeSet = MethodTrait("size", Fn(ret, 1), TraitKind::kSetter);
  MethodInfo runInfo;
  runInfo.paramTypes = {Q("String"), Q("int")};
  runInfo.returnType = Q("Boolean");
  runInfo.flags = method_flag::kHasOptional;
  runInfo.optional = {ConstantValue{ConstantKind::kInt, a.Int(1)}};
  const auto run = a.Method(runInfo);
  a.Body({.method = run, .maxStack = 2, .localCount = 3, .maxScopeDepth = 1}, ret);
  Trait runTrait;
  runTrait.name = Q("run");
  runTrait.kind = TraitKind::kMethod;
  runTrait.index = run;
  const auto cls = DefClass("Item", Q("Object"), Ctor(), {count, hidden, name, size, sizeSet, runTrait});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Item", cls, {"Object"});
  const auto describe = a.PackageName("flash.utils", "describeType");
  auto xml = [&](AbcCode& x, bool ofClass) {
    x.Op("findpropstrict", {describe}).Op("findpropstrict", {Q("Item")});
    if (!ofClass) x.Op("constructprop", {Q("Item"), 0});
    else x.Op("getproperty", {Q("Item")});
    x.Op("callproperty", {describe, 1});
  };
  // The instance's type: name, counts of each kind, and details read back through E4X.
  Trace(c, [&](AbcCode& x) { xml(x, false); x.Op("getproperty", {a.QName(pub, "name", true)}); });
  Trace(c, [&](AbcCode& x) { xml(x, false); x.Op("getproperty", {Q("variable")}).Op("callproperty", {Q("length"), 0}); });
  Trace(c, [&](AbcCode& x) {
    xml(x, false);
    x.Op("getproperty", {Q("accessor")}).Op("getproperty", {a.QName(pub, "access", true)});
  });
  Trace(c, [&](AbcCode& x) {
    xml(x, false);
    x.Op("getproperty", {Q("method")}).Op("getproperty", {Q("parameter")}).Op("callproperty", {Q("length"), 0});
  });
  Trace(c, [&](AbcCode& x) {
    xml(x, false);
    x.Op("getproperty", {Q("method")}).Op("getproperty", {a.QName(pub, "returnType", true)});
  });
  Trace(c, [&](AbcCode& x) {
    xml(x, false);
    x.Op("getproperty", {Q("variable")}).Op("getproperty", {Q("metadata")}).Op("getproperty", {a.QName(pub, "name", true)});
  });
  // The class object's: static, with the instance's members under <factory>.
  Trace(c, [&](AbcCode& x) { xml(x, true); x.Op("getproperty", {a.QName(pub, "isStatic", true)}); });
  Trace(c, [&](AbcCode& x) {
    xml(x, true);
    x.Op("getproperty", {Q("factory")}).Op("getproperty", {Q("variable")}).Op("callproperty", {Q("length"), 0});
  });
  // getDefinitionByName finds the class by its dotted name.
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {a.PackageName("flash.utils", "getDefinitionByName")}).Op("pushstring", {S("Item")})
        .Op("callproperty", {a.PackageName("flash.utils", "getDefinitionByName"), 1}).Op("getlex", {Q("Item")})
        .Op("strictequals");
  });
  ASSERT_TRUE(RunWithClasses(c, {ClassTrait("Item", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "Item|2|readwrite|2|Boolean|Inject|true|2|true|");
}

// class Kind { static const A:Kind = new Kind() }, whose constructor asks
// getDefinitionByName for its own class (enumeration libraries refuse
// construction once the class is defined): while the static initialiser
// runs the definition is still null, and after it the class.
TEST_F(As3Reflect, ADefinitionIsNullUntilItsStaticInitialiserReturns) {
  const auto byName = a.PackageName("flash.utils", "getDefinitionByName");
  auto lookUp = [&](AbcCode& x) {
    x.Op("findpropstrict", {byName}).Op("pushstring", {S("Kind")}).Op("callproperty", {byName, 1});
  };
  AbcCode ctor;
  ctor.Op("getlocal_0").Op("pushscope").Op("getlocal_0").Op("constructsuper", {0});
  Trace(ctor, [&](AbcCode& x) { lookUp(x); x.Op("pushnull").Op("strictequals"); });
  ctor.Op("returnvoid");
  AbcCode cinit;
  // (the initialiser makes it through its own class object, as compilers do)
  cinit.Op("getlocal_0").Op("pushscope").Op("findproperty", {Q("A")}).Op("getlocal_0").Op("construct", {0})
      .Op("initproperty", {Q("A")}).Op("returnvoid");
  Trait constA = SlotTrait("A");
  constA.kind = TraitKind::kConst;
  InstanceInfo ii;
  ii.name = Q("Kind");
  ii.superName = Q("Object");
  ii.flags = instance_flag::kSealed;
  ii.iinit = Fn(ctor);
  ClassInfo ci;
  ci.cinit = Fn(cinit);
  ci.traits = {constA};
  const auto cls = a.Class(ii, ci);
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Kind", cls, {"Object"});
  // Made again once defined, the same constructor sees its class.
  c.Op("findpropstrict", {Q("Kind")}).Op("constructprop", {Q("Kind"), 0}).Op("pop");
  Trace(c, [&](AbcCode& x) { lookUp(x); x.Op("getlex", {Q("Kind")}).Op("strictequals"); });
  ASSERT_TRUE(RunWithClasses(c, {ClassTrait("Kind", cls)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|false|true|");
}

// class Base { get v; set v; ns function tool() } class Sub extends Base
// { override get v; ns function own() }: Sub's v is read-write and declared
// by Sub, and Sub lists no member of the namespace Base declares in, while
// Base lists its own.
TEST_F(As3Reflect, DescribeTypeJoinsAccessorHalvesAndHidesABaseNamespace) {
  const auto ns = a.Namespace(NamespaceKind::kNamespace, "http://example.org/ns");
  AbcCode ret;
  ret.Op("pushbyte", {1}).Op("returnvalue");
  auto member = [&](std::uint32_t name, TraitKind kind, std::uint8_t attrs = 0) {
    Trait t;
    t.name = name;
    t.kind = kind;
    t.attributes = attrs;
    t.index = Fn(ret, kind == TraitKind::kSetter ? 1 : 0);
    return t;
  };
  const auto base = DefClass("Base", Q("Object"), Ctor(),
                             {member(Q("v"), TraitKind::kGetter), member(Q("v"), TraitKind::kSetter),
                              member(a.QName(ns, "tool"), TraitKind::kMethod)});
  const auto sub = DefClass("Sub", Q("Base"), Ctor(),
                            {member(Q("v"), TraitKind::kGetter, trait_attr::kOverride),
                             member(a.QName(ns, "own"), TraitKind::kMethod)});
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  NewClass(c, "Base", base, {"Object"});
  NewClass(c, "Sub", sub, {"Object", "Base"});
  const auto describe = a.PackageName("flash.utils", "describeType");
  auto read = [&](AbcCode& x, std::string_view cls, std::string_view kind, std::string_view attr) {
    x.Op("findpropstrict", {describe}).Op("findpropstrict", {Q(cls)}).Op("constructprop", {Q(cls), 0})
        .Op("callproperty", {describe, 1}).Op("getproperty", {Q(kind)}).Op("getproperty", {a.QName(pub, attr, true)})
        .Op("callproperty", {Q("toXMLString"), 0});
  };
  Trace(c, [&](AbcCode& x) { read(x, "Sub", "accessor", "access"); });
  Trace(c, [&](AbcCode& x) { read(x, "Sub", "accessor", "declaredBy"); });
  Trace(c, [&](AbcCode& x) { read(x, "Sub", "method", "name"); });
  Trace(c, [&](AbcCode& x) { read(x, "Base", "method", "uri"); });
  ASSERT_TRUE(RunWithClasses(c, {ClassTrait("Base", base), ClassTrait("Sub", sub)})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "readwrite|Sub||http://example.org/ns|");
}

// for..in over a QName gives uri then localName; for each gives the
// local name first, then the URI.
TEST_F(As3Reflect, AQNameEnumeratesItsTwoProperties) {
  AbcCode c;
  c.Op("findpropstrict", {Q("QName")}).Op("pushstring", {S("http://u")}).Op("pushstring", {S("foo")})
      .Op("constructprop", {Q("QName"), 2}).Op("setlocal_1");
  for (const char* op : {"nextname", "nextvalue"}) {
    const std::string loop = std::string("loop") + op, done = std::string("done") + op;
    c.Op("pushstring", {S("")}).Op("setlocal", {4}).Op("getlocal_1").Op("setlocal_2").Op("pushbyte", {0}).Op("setlocal_3");
    c.Loop(loop).Op("hasnext2", {2, 3}).Branch("iffalse", done);
    c.Op("getlocal", {4}).Op("getlocal_2").Op("getlocal_3").Op(op).Op("add").Op("pushstring", {S(",")}).Op("add")
        .Op("setlocal", {4}).Branch("jump", loop);
    c.Label(done);
    Trace(c, [&](AbcCode& x) { x.Op("getlocal", {4}); });
  }
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "uri,localName,|foo,http://u,|");
}

TEST_F(As3Reflect, NumbersAreIntWithin29BitsAndNumberOutside) {
  // Flash keeps integral numbers of 29 bits as int whatever made them.
  const auto name = a.PackageName("flash.utils", "getQualifiedClassName");
  AbcCode c;
  auto qualified = [&](const std::function<void(AbcCode&)>& push) {
    Trace(c, [&](AbcCode& x) { x.Op("findpropstrict", {name}); push(x); x.Op("callproperty", {name, 1}); });
  };
  for (double d : {268435455.0, 268435456.0, -268435456.0, -268435457.0, 1.5, 4.0})
    qualified([&](AbcCode& x) { x.Op("pushdouble", {a.Double(d)}); });
  qualified([&](AbcCode& x) { x.Op("pushint", {a.Int(2147483647)}); });
  // 3 / 1.5 is 2: int; -0 stays a Number.
  qualified([&](AbcCode& x) { x.Op("pushbyte", {3}).Op("pushdouble", {a.Double(1.5)}).Op("divide"); });
  qualified([&](AbcCode& x) { x.Op("pushbyte", {0}).Op("negate"); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "int|Number|int|Number|Number|int|Number|int|Number|");
}

TEST_F(As3Reflect, DescribeTypeOfTheLanguageClassesHidesTheirAs3Methods) {
  // describeType(5): int is final, takes one optional argument, and lists no
  // methods (they sit in the AS3 namespace and on the prototype); the class
  // object lists its typed constants once and its prototype once.
  const auto describe = a.PackageName("flash.utils", "describeType");
  AbcCode c;
  auto xml = [&](AbcCode& x, const std::function<void(AbcCode&)>& push) {
    x.Op("findpropstrict", {describe});
    push(x);
    x.Op("callproperty", {describe, 1});
  };
  auto five = [](AbcCode& x) { x.Op("pushbyte", {5}); };
  auto intClass = [&](AbcCode& x) { x.Op("getlex", {Q("int")}); };
  Trace(c, [&](AbcCode& x) { xml(x, five); x.Op("getproperty", {a.QName(pub, "isFinal", true)}); });
  Trace(c, [&](AbcCode& x) { xml(x, five); x.Op("getproperty", {Q("method")}).Op("callproperty", {Q("length"), 0}); });
  Trace(c, [&](AbcCode& x) {
    xml(x, five);
    x.Op("getproperty", {Q("constructor")}).Op("getproperty", {Q("parameter")}).Op("getproperty", {a.QName(pub, "optional", true)});
  });
  Trace(c, [&](AbcCode& x) { xml(x, intClass); x.Op("getproperty", {Q("accessor")}).Op("callproperty", {Q("length"), 0}); });
  Trace(c, [&](AbcCode& x) {
    xml(x, intClass);
    x.Op("getproperty", {Q("constant")}).Op("getproperty", {a.QName(pub, "type", true)}).Op("callproperty", {Q("toXMLString"), 0});
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "true|0|true|1|int\nint\nint|");
}

TEST_F(As3Reflect, PrototypeExtensionsReachBuiltInValues) {
  // String.prototype.shout = function () { return this.toUpperCase() + "!" }; trace("hi".shout())
  AbcCode shout;
  shout.Op("getlocal_0").Op("callproperty", {Q("toUpperCase"), 0}).Op("pushstring", {S("!")}).Op("add").Op("returnvalue");
  AbcCode twice;
  twice.Op("getlocal_0").Op("pushbyte", {2}).Op("multiply").Op("returnvalue");
  AbcCode c;
  c.Op("getlex", {Q("String")}).Op("getproperty", {Q("prototype")}).Op("newfunction", {Fn(shout)})
      .Op("setproperty", {Q("shout")});
  c.Op("getlex", {Q("Number")}).Op("getproperty", {Q("prototype")}).Op("newfunction", {Fn(twice)})
      .Op("setproperty", {Q("twice")});
  c.Op("getlex", {Q("Object")}).Op("getproperty", {Q("prototype")}).Op("pushstring", {S("shared")})
      .Op("setproperty", {Q("tag")});
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("hi")}).Op("callproperty", {Q("shout"), 0}); });
  // (int values have int's prototype, not Number's, as in Flash)
  Trace(c, [&](AbcCode& x) { x.Op("pushdouble", {a.Double(21.5)}).Op("callproperty", {Q("twice"), 0}); });
  Trace(c, [&](AbcCode& x) { x.Op("newobject", {0}).Op("getproperty", {Q("tag")}); });
  Trace(c, [&](AbcCode& x) { x.Op("newarray", {0}).Op("getproperty", {Q("tag")}); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "HI!|43|shared|shared|");
}

// String.prototype.charCodeAt = function (i) { return this.AS3::charCodeAt(i) * 2 }:
// a public call finds the replacement, and the replacement's AS3-qualified
// call reaches String's own method, not itself again. Read through the AS3
// namespace (alone or in a set), a method is bound to its object: apply
// and call cannot give it another (a library's arr.sortOn.apply(null, args)).
TEST_F(As3Reflect, AnAs3QualifiedCallSkipsThePrototypesReplacement) {
  const auto as3 = a.QName(a.Namespace(NamespaceKind::kNamespace, "http://adobe.com/AS3/2006/builtin"), "charCodeAt");
  AbcCode twice;
  twice.Op("getlocal_0").Op("getlocal_1").Op("callproperty", {as3, 1}).Op("pushbyte", {2}).Op("multiply").Op("returnvalue");
  AbcCode c;
  c.Op("getlex", {Q("String")}).Op("getproperty", {Q("prototype")}).Op("newfunction", {Fn(twice, 1)})
      .Op("setproperty", {Q("charCodeAt")});
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("a")}).Op("pushbyte", {0}).Op("callproperty", {Q("charCodeAt"), 1}); });
  Trace(c, [&](AbcCode& x) { x.Op("pushstring", {S("a")}).Op("pushbyte", {0}).Op("callproperty", {as3, 1}); });
  Trace(c, [&](AbcCode& x) {
    x.Op("pushstring", {S("a")}).Op("getproperty", {as3}).Op("pushstring", {S("b")}).Op("pushbyte", {0})
        .Op("callproperty", {Q("call"), 2});
  });
  const auto as3Ns = a.Namespace(NamespaceKind::kNamespace, "http://adobe.com/AS3/2006/builtin");
  const auto inSet = a.Multiname("sort", a.NsSet({pub, as3Ns}));
  c.Op("pushbyte", {3}).Op("pushbyte", {1}).Op("pushbyte", {2}).Op("newarray", {3}).Op("setlocal_1");
  c.Op("getlocal_1").Op("getproperty", {inSet}).Op("pushnull").Op("newarray", {0}).Op("callpropvoid", {Q("apply"), 2});
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1"); });
  // toString is the prototype's even through such a set: unbound, it joins what it is given.
  Trace(c, [&](AbcCode& x) {
    x.Op("getlocal_1").Op("getproperty", {a.Multiname("toString", a.NsSet({pub, as3Ns}))}).Op("pushbyte", {5})
        .Op("pushbyte", {6}).Op("newarray", {2}).Op("callproperty", {Q("call"), 1});
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "194|97|97|1,2,3|5,6|");
}

// `namespace ns = "urn:x"` makes a constant holding a Namespace, and names
// qualified at run time (obj.ns::name, obj.ns::[qname]) find what is declared
// in it.
TEST_F(As3Reflect, NamespaceConstantsAndRuntimeQualifiedNames) {
  const auto userNs = a.Namespace(NamespaceKind::kNamespace, "urn:x");
  Trait nsConst;
  nsConst.name = Q("ns");
  nsConst.kind = TraitKind::kConst;
  nsConst.value = ConstantValue{ConstantKind::kNamespace, userNs};
  Trait hidden;
  hidden.name = a.QName(userNs, "hidden");
  hidden.kind = TraitKind::kSlot;
  hidden.value = ConstantValue{ConstantKind::kUtf8, S("secret")};
  AbcCode c;
  c.Op("getlocal_0").Op("pushscope");
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("ns")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("ns")}).Op("istype", {Q("Namespace")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlex", {Q("ns")}).Op("getproperty", {Q("uri")}); });
  // ns::hidden
  Trace(c, [&](AbcCode& x) { x.Op("getglobalscope").Op("getlex", {Q("ns")}).Op("getproperty", {a.RTQName("hidden")}); });
  // this.public::[new QName(ns, "hidden")]: the QName's namespace wins.
  Trace(c, [&](AbcCode& x) {
    x.Op("getglobalscope").Op("findpropstrict", {Q("QName")}).Op("getlex", {Q("ns")}).Op("pushstring", {S("hidden")})
        .Op("constructprop", {Q("QName"), 2}).Op("getproperty", {a.MultinameL(a.NsSet({pub}))});
  });
  // new Namespace(prefix, uri)
  c.Op("findpropstrict", {Q("Namespace")}).Op("pushstring", {S("p")}).Op("pushstring", {S("urn:y")})
      .Op("constructprop", {Q("Namespace"), 2}).Op("setlocal_1");
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("prefix")}); });
  Trace(c, [&](AbcCode& x) { x.Op("getlocal_1").Op("getproperty", {Q("uri")}); });
  ASSERT_TRUE(Run(c, {nsConst, hidden})) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "urn:x|true|urn:x|secret|secret|p|urn:y|");
}

}  // namespace
}  // namespace quarvel::avm2

namespace quarvel::avm2 {
namespace {

// Flash's own classes are described with their declared signatures: the
// types of Error's accessor and method, IOError's optional constructor
// parameters, and the members a subclass inherits named by their declarer.
TEST_F(As3Reflect, DescribeTypeGivesNativeClassesTheirDeclaredSignatures) {
  const auto describe = a.PackageName("flash.utils", "describeType");
  const auto ioError = a.PackageName("flash.errors", "IOError");
  AbcCode c;
  auto factory = [&](AbcCode& x, std::uint32_t cls) {
    x.Op("findpropstrict", {describe}).Op("getlex", {cls}).Op("callproperty", {describe, 1})
        .Op("getproperty", {Q("factory")});
  };
  auto attr = [&](std::string_view n) { return a.QName(pub, n, true); };
  Trace(c, [&](AbcCode& x) {
    factory(x, Q("Error"));
    x.Op("getproperty", {Q("accessor")}).Op("getproperty", {attr("type")});
  });
  Trace(c, [&](AbcCode& x) {
    factory(x, Q("Error"));
    x.Op("getproperty", {Q("method")}).Op("getproperty", {attr("returnType")});
  });
  Trace(c, [&](AbcCode& x) {
    factory(x, ioError);
    x.Op("getproperty", {Q("constructor")}).Op("getproperty", {Q("parameter")}).Op("getproperty", {attr("optional")})
        .Op("callproperty", {Q("toXMLString"), 0});
  });
  Trace(c, [&](AbcCode& x) {
    factory(x, ioError);
    x.Op("getproperty", {Q("accessor")}).Op("getproperty", {attr("declaredBy")});
  });
  Trace(c, [&](AbcCode& x) {
    factory(x, ioError);
    x.Op("getproperty", {Q("variable")}).Op("callproperty", {Q("length"), 0});
  });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "int|String|true\ntrue|Error|2|");
}

// avmplus.describeType lists what its flags ask for: without INCLUDE_TRAITS
// only the type element, with it only the families named.
TEST_F(As3Reflect, AvmplusDescribeTypeHonoursItsFlags) {
  const auto describe = a.PackageName("avmplus", "describeType");
  auto flag = [&](std::string_view n) { return a.PackageName("avmplus", n); };
  AbcCode c;
  auto children = [&](AbcCode& x, const std::function<void(AbcCode&)>& flags) {
    x.Op("findpropstrict", {describe}).Op("getlex", {Q("Error")});
    flags(x);
    x.Op("callproperty", {describe, 2}).Op("getproperty", {Q("factory")}).Op("callproperty", {Q("children"), 0})
        .Op("callproperty", {Q("length"), 0});
  };
  Trace(c, [&](AbcCode& x) {
    x.Op("findpropstrict", {describe}).Op("getlex", {Q("Error")}).Op("pushbyte", {0}).Op("callproperty", {describe, 2})
        .Op("callproperty", {Q("children"), 0}).Op("callproperty", {Q("length"), 0});
  });
  // Error's instances: extendsClass Object only, then errorID only.
  Trace(c, [&](AbcCode& x) {
    children(x, [&](AbcCode& y) { y.Op("getlex", {flag("INCLUDE_TRAITS")}).Op("getlex", {flag("INCLUDE_BASES")}).Op("bitor"); });
  });
  Trace(c, [&](AbcCode& x) {
    children(x, [&](AbcCode& y) { y.Op("getlex", {flag("INCLUDE_TRAITS")}).Op("getlex", {flag("INCLUDE_ACCESSORS")}).Op("bitor"); });
  });
  Trace(c, [&](AbcCode& x) { children(x, [&](AbcCode& y) { y.Op("getlex", {flag("FLASH10_FLAGS")}); }); });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  // FLASH10_FLAGS: extendsClass, errorID, getStackTrace, message, name.
  EXPECT_EQ(Traced(), "0|1|1|5|");
}

// avmplus' describeTypeJSON (internal to its package) gives the description
// as objects: a part the flags leave out is null, instance traits asked of
// an instance are null, and Object's own AS3 methods are listed unless
// HIDE_OBJECT hides them, in the XML description too.
TEST_F(As3Reflect, DescribeTypeJsonAndObjectsOwnMethods) {
  const auto json = a.QName(a.Namespace(NamespaceKind::kPackageInternal, "avmplus"), "describeTypeJSON");
  const auto describe = a.PackageName("avmplus", "describeType");
  AbcCode c;
  auto call = [&](AbcCode& x, bool ofClass, int flags) {
    x.Op("findpropstrict", {json}).Op("getlex", {Q("Error")});
    if (!ofClass) x.Op("construct", {0});
    x.Op("pushint", {a.Int(flags)}).Op("callproperty", {json, 2});
  };
  const auto part = [&](bool ofClass, int flags, std::initializer_list<std::string_view> path) {
    Trace(c, [&, ofClass, flags, path](AbcCode& x) {
      call(x, ofClass, flags);
      for (std::string_view p : path) x.Op("getproperty", {Q(p)});
    });
  };
  part(false, 0x130, {"name"});
  part(false, 0x130, {"isStatic"});
  part(false, 0x130, {"traits", "bases"});
  part(false, 0x130, {"traits", "accessors", "length"});
  part(false, 0x130, {"traits", "methods", "length"});
  Trace(c, [&](AbcCode& x) {
    call(x, false, 0x130);
    x.Op("getproperty", {Q("traits")}).Op("getproperty", {Q("methods")}).Op("callproperty", {Q("pop"), 0})
        .Op("getproperty", {Q("uri")});
  });
  part(false, 0x530, {"traits", "methods", "length"});
  part(false, 0x300, {});
  part(true, 0x308, {"traits", "variables", "length"});
  part(true, 0x308, {"isStatic"});
  part(false, 0, {"traits"});
  for (int flags : {0x5FF, 0x1FF})
    Trace(c, [&, flags](AbcCode& x) {
      x.Op("findpropstrict", {describe}).Op("newobject", {0}).Op("pushint", {a.Int(flags)}).Op("callproperty", {describe, 2})
          .Op("getproperty", {Q("method")}).Op("callproperty", {Q("length"), 0});
    });
  ASSERT_TRUE(Run(c)) << (logged.empty() ? "" : logged[0]);
  EXPECT_EQ(Traced(), "Error|false|null|1|4|http://adobe.com/AS3/2006/builtin|1|null|2|false|null|0|3|");
}

TEST(As3FlashDeclares, AMemberIsFlashsWhenAClassOfTheChainDeclaresIt) {
  // The machine tells a member Flash has and it lacks from a name no Flash
  // class declares by Flash's own descriptions; a class left undescribed
  // leaves the answer open.
  Machine m;
  Class* error = m.FindClass("Error");
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(FlashDeclaresMember(error, m.objectClass, "errorID"), FlashDeclares::kYes);
  EXPECT_EQ(FlashDeclaresMember(error, m.objectClass, "getStackTrace"), FlashDeclares::kYes);
  EXPECT_EQ(FlashDeclaresMember(error, m.objectClass, "wipeIn"), FlashDeclares::kNo);
  // Object's own names are the prototype's, not a described class's.
  EXPECT_EQ(FlashDeclaresMember(m.objectClass, m.objectClass, "wipeIn"), FlashDeclares::kNo);
  Class* range = m.FindClass("RangeError");
  ASSERT_NE(range, nullptr);
  EXPECT_EQ(FlashDeclaresMember(range, m.objectClass, "message"), FlashDeclares::kYes);
  EXPECT_EQ(FlashDeclaresMember(range, m.objectClass, "wipeIn"), FlashDeclares::kUnknown);
}

}  // namespace
}  // namespace quarvel::avm2
